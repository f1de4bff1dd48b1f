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
#include "script/jobs.h"
#include "wv5/wv5.h"

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

int decode_bm2(ConsoleUi& ui, Args args) {
    bool png = false;
    unsigned jobs = 1;
    const auto files = files_of(args, "decode-bm2", jobs, "--png", &png);
    if (!files) return 2;
    return run_batch(ui, *files, png ? bm2::decode_png_file : bm2::decode_file, "Decoding OK", "Decoding", jobs);
}

int encode_bm2(ConsoleUi& ui, Args args) {
    unsigned jobs = 1;
    const auto files = files_of(args, "encode-bm2", jobs);
    return files ? run_batch(ui, *files, bm2::encode_file, "Encoding OK", "Encoding", jobs) : 2;
}

int decode_wv5(ConsoleUi& ui, Args args) {
    unsigned jobs = 1;
    const auto files = files_of(args, "decode-wv5", jobs);
    return files ? run_batch(ui, *files, wv5::decode_file, "Decoding OK", "Decoding", jobs) : 2;
}

int encode_wv5(ConsoleUi& ui, Args args) {
    unsigned jobs = 1;
    const auto files = files_of(args, "encode-wv5", jobs);
    return files ? run_batch(ui, *files, wv5::encode_file, "Encoding OK", "Encoding", jobs) : 2;
}

int decode_ab(ConsoleUi& ui, Args args) {
    bool tree = false, utf8 = false;
    unsigned jobs = 1;
    const auto rest = take_utf8(args, &utf8);
    const auto files = files_of(rest, "decode-ab", jobs, "--tree", &tree);
    if (!files) return 2;
    ui.show_tree(tree);
    return run_batch(ui, *files, utf8 ? script::decode_file_utf8 : script::decode_file, "Decoding OK", "Decoding",
                     jobs);
}

int encode_ab(ConsoleUi& ui, Args args) {
    bool utf8 = false;
    unsigned jobs = 1;
    const auto rest = take_utf8(args, &utf8);
    const auto files = files_of(rest, "encode-ab", jobs);
    if (!files) return 2;
    return run_batch(ui, *files, utf8 ? script::encode_file_utf8 : script::encode_file, "Encoding OK", "Encoding",
                     jobs);
}

}  // namespace vid::cli
