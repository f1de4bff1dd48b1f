// decode-ab [--tree] FILE... and encode-ab LISTING...: the Decode AB and
// Encode AB menu commands on several files, without the Scripting dialog.
#include <vector>

#include "cli/commands.h"
#include "core/batch.h"
#include "script/jobs.h"

namespace vid::cli {

namespace {

// Runs `convert` on each file in order and writes the batch's final text.
int run_batch(ConsoleUi& ui, const std::vector<std::string>& files, bool (*convert)(Ui&, const std::string&),
              std::string_view ok_text, std::string_view verb) {
    BatchTally tally;
    for (const std::string& f : files) tally.add(convert(ui, f));
    ui.status(tally.final_text(ok_text, verb), Draw::later);
    return tally.all_ok() ? 0 : 1;
}

// The file names among `args`; "--" ends the options. nullopt after a
// usage error was printed.
std::optional<std::vector<std::string>> files_of(Args args, const char* command, bool* tree) {
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && tree != nullptr && a == "--tree") {
            *tree = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            usage_error(std::string(command) + ": unknown option '" + a + "'");
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

}  // namespace

int decode_ab(ConsoleUi& ui, Args args) {
    bool tree = false;
    const auto files = files_of(args, "decode-ab", &tree);
    if (!files) return 2;
    ui.show_tree(tree);
    return run_batch(ui, *files, script::decode_file, "Decoding OK", "Decoding");
}

int encode_ab(ConsoleUi& ui, Args args) {
    const auto files = files_of(args, "encode-ab", nullptr);
    if (!files) return 2;
    return run_batch(ui, *files, script::encode_file, "Encoding OK", "Encoding");
}

}  // namespace vid::cli
