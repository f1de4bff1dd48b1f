#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/jobs.h"
#include "core/batch.h"
#include "core/text.h"
#include "fl3/fl3.h"
#include "formats/members.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace vid::cli {

namespace {

// A file that is there: an operand that names one is an archive.
bool is_file(const std::string& path) {
    return platform::File::open(path, platform::OpenMode::read_existing).has_value();
}

// extract-fl3 ARCHIVE MEMBER...: the members named (wildcards allowed) into
// the member folder, without _index.bin; with --decode, as their editable
// files.
int extract_members(ConsoleUi& ui, const std::string& archive, const std::vector<std::string>& patterns,
                    bool decoded) {
    const auto members = formats::members_named(ui, archive, patterns);
    if (!members) return 1;
    const auto folder = platform::overwrite_from_end(archive, 4, '_');
    if (!folder || !platform::create_directory(*folder)) {
        ui.alert(format("%s: its member folder cannot be made", {archive}));
        return 1;
    }
    const std::uint64_t written = formats::write_members(ui, *members, *folder, {decoded, true});
    const bool all = written == members->size();
    const std::string count = std::to_string(written) + (written == 1 ? " member" : " members");
    ui.status(format(all ? "Extracting OK: %s written to %s" : "Extracting: %s written to %s, %s not written",
                     {count, *folder, std::to_string(members->size() - written)}),
              Draw::later);
    return all ? 0 : 1;
}

}  // namespace

int extract_fl3(ConsoleUi& ui, Args args) {
    // "--member NAME", as often as wanted, before the other options are read.
    std::vector<std::string> patterns, rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (args[i] != "--member") {
            rest.push_back(args[i]);
            continue;
        }
        if (++i == args.size()) return usage_error("extract-fl3: --member needs a NAME");
        patterns.push_back(args[i]);
    }
    bool decoded = false;
    const auto given = operands(rest, "extract-fl3", {{"--decode", &decoded}});
    if (!given) return 2;
    if (given->empty()) return usage_error("extract-fl3 takes one or more ARCHIVEs");
    // ARCHIVE MEMBER...: after the archive, names that are no files here
    // are its members (a file that is there is another archive).
    bool members = decoded || !patterns.empty();
    for (std::size_t i = 1; i < given->size() && !members; ++i) members = !is_file((*given)[i]);
    if (members) {
        patterns.insert(patterns.end(), given->begin() + 1, given->end());
        if (patterns.empty()) patterns.push_back("*");
        return extract_members(ui, given->front(), patterns, decoded);
    }
    BatchTally tally;
    for (const std::string& archive : *given) tally.add(fl3::extract(ui, archive));
    if (given->size() > 1) ui.status(tally.final_text("Extracting OK", "Extracting"), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

int encode_fl3(ConsoleUi& ui, Args args) {
    if (args.size() != 2) return usage_error("encode-fl3 takes an INDEX and an ARCHIVE");
    auto index = fl3::load_index(ui, args[0]);
    if (!index) return 1;
    return fl3::compact(ui, *index, args[1]) ? 0 : 1;
}

}  // namespace vid::cli
