// The mod project's commands: list-fl3, unpack, status and repack.
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/jobs.h"
#include "platform/temp_registry.h"
#include "project/project.h"

namespace vid::cli {

namespace {

// The operands among `args`, the flags of `flags` that were given and the
// values of the options of `values` ("--game FOLDER"); nothing after a
// usage error was printed. "--" ends the options.
std::optional<std::vector<std::string>> operands(
    Args args, const char* command, std::initializer_list<std::pair<const char*, bool*>> flags,
    std::initializer_list<std::pair<const char*, std::string*>> values = {}) {
    std::vector<std::string> out;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a[0] == '-') {
            bool known = false;
            for (const auto& [name, set] : flags)
                if (a == name) *set = known = true;
            for (const auto& [name, value] : values) {
                if (a != name) continue;
                if (++i == args.size()) {
                    usage_error(std::string(command) + ": " + name + " needs a value");
                    return std::nullopt;
                }
                *value = args[i];
                known = true;
            }
            if (!known) {
                usage_error(std::string(command) + ": unknown option '" + a + "'");
                return std::nullopt;
            }
            continue;
        }
        out.push_back(a);
    }
    return out;
}

// Ctrl-C stops unpack and repack as Esc stops them in the Windows program:
// between two members, with a work folder or patch that holds what was
// done whole. A second Ctrl-C ends the run at once.
const std::atomic<bool>* stop_on_ctrl_c() {
    static std::atomic<bool> stop{false};
    platform::stop_on_interrupt(&stop);
    return &stop;
}

}  // namespace

int list_fl3(ConsoleUi& ui, Args args) {
    bool json = false;
    const auto files = operands(args, "list-fl3", {{"--json", &json}});
    if (!files) return 2;
    if (files->empty()) return usage_error("list-fl3: no archive given");
    return project::list_fl3(ui, *files, json);
}

int unpack(ConsoleUi& ui, Args args) {
    project::UnpackOptions options;
    const auto taken = take_jobs(args, "unpack");
    if (!taken) return 2;
    options.jobs = taken->jobs;
    const auto folders = operands(taken->rest, "unpack", {{"--bmp", &options.bitmaps}});
    if (!folders) return 2;
    if (folders->size() != 2) return usage_error("unpack takes a GAME_FOLDER and a WORK_FOLDER");
    options.stop = stop_on_ctrl_c();
    return project::unpack(ui, (*folders)[0], (*folders)[1], options);
}

int status(ConsoleUi& ui, Args args) {
    const auto folders = operands(args, "status", {});
    if (!folders) return 2;
    if (folders->size() != 1) return usage_error("status takes a WORK_FOLDER");
    return project::status(ui, (*folders)[0]);
}

int repack(ConsoleUi& ui, Args args) {
    const auto taken = take_jobs(args, "repack");
    if (!taken) return 2;
    project::RepackOptions options;
    options.jobs = taken->jobs;
    const auto folders = operands(taken->rest, "repack", {{"--utf8", &options.utf8}}, {{"--game", &options.game}});
    if (!folders) return 2;
    if (folders->size() != 2) return usage_error("repack takes a WORK_FOLDER and an OUT_FOLDER");
    options.stop = stop_on_ctrl_c();
    return project::repack(ui, (*folders)[0], (*folders)[1], options);
}

}  // namespace vid::cli
