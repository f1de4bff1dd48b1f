// Unpack Game and Repack Game: the mod project's commands, run on a thread
// of their own so that the window repaints, moves and hears Esc while a
// game of thousands of members goes through. The worker talks to the
// window only by messages: the status line by a posted message (the latest
// text wins), an Alert by a sent one, which the window's thread shows
// while the worker waits for its OK. While it runs, the menu's other
// commands are greyed; the results of single items (an edited sound's
// signal-to-noise ratio, an archive left as the game's own) are kept and
// shown in one box with the final text when the run ends.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/shell.h"
#include "core/boundary.h"
#include "core/pool.h"
#include "core/text.h"
#include "platform/file.h"
#include "project/project.h"

namespace vid::app {

namespace {

constexpr UINT kStatusMessage = WM_APP + 1;  // the worker's latest status text is waiting
constexpr UINT kAlertMessage = WM_APP + 2;   // lparam: the Alert's text (std::string*)
constexpr UINT kDoneMessage = WM_APP + 3;    // the worker has ended

// At most this many results are listed in the box at the end of a run.
constexpr std::size_t kResultsShown = 30;

// The Ui of the worker thread.
class WorkerUi : public Ui {
public:
    explicit WorkerUi(HWND window) : window_(window) {}
    void status(std::string_view text, Draw draw) override {
        {
            std::lock_guard lock(mutex_);
            latest_.assign(text);
            if (draw == Draw::result) results_.emplace_back(text);
        }
        if (!posted_.exchange(true)) PostMessageA(window_, kStatusMessage, 0, 0);
    }
    void alert(std::string_view text) override {
        std::string copy(text);
        SendMessageA(window_, kAlertMessage, 0, reinterpret_cast<LPARAM>(&copy));
    }
    void add_node(std::string_view, int) override {}
    bool has_listing_view() const override { return false; }
    // On the window's thread: the text to show.
    std::string take() {
        posted_ = false;
        std::lock_guard lock(mutex_);
        return latest_;
    }
    // On the window's thread, once the worker has ended: the results told.
    std::vector<std::string> results() {
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    HWND window_;
    std::mutex mutex_;
    std::string latest_;
    std::vector<std::string> results_;
    std::atomic<bool> posted_{false};
};

struct Run {
    std::thread thread;
    std::atomic<bool> stop{false};
    bool close_when_done = false;
    std::optional<WorkerUi> ui;
    const char* name = "";  // "Unpack Game" or "Repack Game": the box's title
    std::string shown;      // the worker's latest text, as drawn
    std::string refused;    // why a command chosen meanwhile was not run
};

Run& run() {
    static Run r;
    return r;
}

// The status line: the worker's text, and below it why a command was not run.
void show(HWND window, const Run& r) {
    set_status(window, r.refused.empty() ? r.shown : r.shown + "\n" + r.refused, false, true);
}

// The box at the end of a run that told results: each result on a line of
// its own (the first kResultsShown), then the final text.
std::string results_text(const std::vector<std::string>& results, const std::string& final_text) {
    std::string text;
    for (std::size_t i = 0; i < results.size() && i < kResultsShown; ++i) text += results[i] + "\n";
    if (results.size() > kResultsShown) text += "and " + grouped(results.size() - kResultsShown) + " more\n";
    return text + "\n" + final_text;
}

template <typename Work>
void start(HWND window, const char* name, Work work) {
    Run& r = run();
    r.stop = false;
    r.close_when_done = false;
    r.name = name;
    r.shown.clear();
    r.refused.clear();
    r.ui.emplace(window);
    allow_commands(window, false);
    r.thread = std::thread([window, work, &r] {
        guarded(*r.ui, [&] { return (work(*r.ui, r.stop), 0); }, 1);
        PostMessageA(window, kDoneMessage, 0, 0);
    });
}

}  // namespace

bool project_running() { return run().thread.joinable(); }

void stop_project(bool close) {
    Run& r = run();
    r.stop = true;
    if (close) r.close_when_done = true;
}

void refuse_command(HWND window) {
    Run& r = run();
    r.refused = std::string(r.name) + " is at work: other commands can be chosen when it ends (Esc stops it).";
    show(window, r);
}

bool project_message(HWND window, UINT message, LPARAM lparam) {
    Run& r = run();
    switch (message) {
        case kStatusMessage:
            if (r.ui) {
                r.shown = r.ui->take();
                show(window, r);
            }
            return true;
        case kAlertMessage:
            message_box(window, *reinterpret_cast<const std::string*>(lparam), "Alert", MB_OK | MB_ICONHAND);
            return true;
        case kDoneMessage: {
            if (r.thread.joinable()) r.thread.join();
            std::vector<std::string> results;
            if (r.ui) {
                r.shown = r.ui->take();
                results = r.ui->results();
            }
            r.ui.reset();
            r.refused.clear();
            show(window, r);
            allow_commands(window, true);
            if (r.close_when_done) {
                DestroyWindow(window);
                return true;
            }
            if (!results.empty()) {
                UpdateWindow(window);
                message_box(window, results_text(results, r.shown), r.name, MB_OK | MB_ICONINFORMATION);
            }
            return true;
        }
        default: return false;
    }
}

void unpack_game(HWND window) {
    if (project_running()) return;
    const std::string cwd = platform::current_directory();
    const auto game = ask_folder(window, "Select the game folder to unpack", cwd);
    if (!game) return;
    const auto work = ask_folder(window, "Select the work folder (empty or new)", cwd, NewFolder::allowed);
    if (!work) return;
    start(window, "Unpack Game", [game = *game, work = *work](Ui& ui, const std::atomic<bool>& stop) {
        project::UnpackOptions options;
        options.jobs = default_jobs();
        options.stop = &stop;
        project::unpack(ui, game, work, options);
    });
}

void repack_game(HWND window) {
    if (project_running()) return;
    const std::string cwd = platform::current_directory();
    const auto work = ask_folder(window, "Select the work folder to repack", cwd);
    if (work) repack_work(window, *work);
}

void repack_work(HWND window, const std::string& work) {
    if (project_running()) {
        refuse_command(window);
        return;
    }
    const auto out = ask_folder(window, "Select the output folder (empty or new)", platform::current_directory(),
                                NewFolder::allowed);
    if (!out) return;
    start(window, "Repack Game", [work, out = *out](Ui& ui, const std::atomic<bool>& stop) {
        project::repack(ui, work, out, default_jobs(), &stop);
    });
}

void apply_patch(HWND window, bool undo) {
    if (project_running()) return;
    const std::string cwd = platform::current_directory();
    const auto patch = ask_folder(window, undo ? "Select the patch folder to undo" : "Select the patch folder to apply", cwd);
    if (!patch) return;
    const auto game = ask_folder(window, undo ? "Select the game folder to restore" : "Select the game folder to patch", cwd);
    if (!game) return;
    start(window, undo ? "Undo Patch" : "Apply Patch", [patch = *patch, game = *game, undo](Ui& ui, const std::atomic<bool>& stop) {
        project::apply_patch(ui, patch, game, {undo, &stop});
    });
}

}  // namespace vid::app
