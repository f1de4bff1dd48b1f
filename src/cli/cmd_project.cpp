// The mod project's commands: list-fl3, unpack, status, repack and apply-patch.
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

// Ctrl-C stops unpack, repack and apply-patch as Esc stops them in the
// Windows program: between two members (or files), with a work folder,
// patch or game that holds what was done whole. A second Ctrl-C ends the run at once.
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
    const auto folders = operands(taken->rest, "repack", {{"--utf8", &options.utf8}, {"--delta", &options.delta}}, {{"--game", &options.game}});
    if (!folders) return 2;
    if (folders->size() != 2) return usage_error("repack takes a WORK_FOLDER and an OUT_FOLDER");
    options.stop = stop_on_ctrl_c();
    return project::repack(ui, (*folders)[0], (*folders)[1], options);
}

int apply_patch(ConsoleUi& ui, Args args) {
    project::ApplyOptions options;
    const auto folders = operands(args, "apply-patch", {{"--undo", &options.undo}});
    if (!folders) return 2;
    if (folders->size() != 2) return usage_error("apply-patch takes a PATCH_FOLDER and a GAME_FOLDER");
    options.stop = stop_on_ctrl_c();
    return project::apply_patch(ui, (*folders)[0], (*folders)[1], options);
}

}  // namespace vid::cli
