// The batch commands: decode-bm2 [--png], encode-bm2, decode-wv5, encode-wv5,
// decode-ab [--tree] [--utf8] and encode-ab [--utf8], each a per-file converter run on several files in order, then
// the batch's final text.
#include <optional>
#include <vector>

#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "cli/commands.h"
#include "cli/jobs.h"
#include "core/batch.h"
#include "core/text.h"
#include "formats/kinds.h"
#include "script/jobs.h"

namespace vid::cli {

namespace {

// Runs `convert` on each file (on `jobs` workers, the texts in the order of
// the files) and writes the batch's final text.
int run_batch(ConsoleUi& ui, const std::vector<std::string>& files, bool (*convert)(Ui&, const std::string&),
              std::string_view ok_text, std::string_view verb, unsigned jobs = 1) {
    BatchTally tally;
    for (bool ok : convert_all(ui, files, convert, jobs)) tally.add(ok);
    ui.status(tally.final_text(ok_text, verb), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

// The file names among `args`; "--" ends the options. nullopt after a
// usage error was printed.
// `flag` (such as "--tree") sets `*set` when given.
std::optional<std::vector<std::string>> files_of(Args all, const char* command, unsigned& jobs,
                                                 const char* flag = nullptr, bool* set = nullptr) {
    const auto taken = take_jobs(all, command);
    if (!taken) return std::nullopt;
    jobs = taken->jobs;
    const Args args(taken->rest);
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && set != nullptr && a == flag) {
            *set = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            usage_error(format("%s: unknown option '%s'", {command, a}));
            return std::nullopt;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        usage_error(std::string(command) + ": no file given");
        return std::nullopt;
    }
    return files;
}

// `args` without "--utf8" (an option of decode-ab and encode-ab), which
// sets `*utf8` when it comes before "--".
std::vector<std::string> take_utf8(Args args, bool* utf8) {
    std::vector<std::string> rest;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--utf8") {
            *utf8 = true;
            continue;
        }
        if (a == "--") options = false;
        rest.push_back(a);
    }
    return rest;
}

}  // namespace

int decode_kind(ConsoleUi& ui, Args args, const formats::KindRow& kind) {
    const std::string command(kind.decode_command);
    // decode-bm2 --png; decode-ab --tree and --utf8.
    const bool ab = kind.kind == formats::Kind::ab;
    const char* flag = kind.kind == formats::Kind::bm2 ? "--png" : ab ? "--tree" : nullptr;
    bool set = false, utf8 = false;
    unsigned jobs = 1;
    const auto rest = ab ? take_utf8(args, &utf8) : std::vector<std::string>(args.begin(), args.end());
    const auto files = files_of(rest, command.c_str(), jobs, flag, flag ? &set : nullptr);
    if (!files) return 2;
    auto convert = kind.decode_file;
    if (kind.kind == formats::Kind::bm2 && set) convert = bm2::decode_png_file;
    if (ab) {
        ui.show_tree(set);
        if (utf8) convert = script::decode_file_utf8;
    }
    return run_batch(ui, *files, convert, "Decoding OK", "Decoding", jobs);
}

int encode_kind(ConsoleUi& ui, Args args, const formats::KindRow& kind) {
    const std::string command(kind.encode_command);
    const bool ab = kind.kind == formats::Kind::ab;  // encode-ab --utf8
    bool utf8 = false;
    unsigned jobs = 1;
    const auto rest = ab ? take_utf8(args, &utf8) : std::vector<std::string>(args.begin(), args.end());
    const auto files = files_of(rest, command.c_str(), jobs);
    if (!files) return 2;
    return run_batch(ui, *files, utf8 ? script::encode_file_utf8 : kind.encode_file, "Encoding OK", "Encoding", jobs);
}

}  // namespace vid::cli
