// Unpack Game and Repack Game: the mod project's commands, run on a thread
// of their own so that the window repaints, moves and hears Esc while a
// game of thousands of members goes through. The worker talks to the
// window only by messages: the status line by a posted message (the latest
// text wins), an Alert by a sent one, which the window's thread shows
// while the worker waits for its OK.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/shell.h"
#include "core/boundary.h"
#include "core/pool.h"
#include "platform/file.h"
#include "project/project.h"

namespace vid::app {

namespace {

constexpr UINT kStatusMessage = WM_APP + 1;  // the worker's latest status text is waiting
constexpr UINT kAlertMessage = WM_APP + 2;   // lparam: the Alert's text (std::string*)
constexpr UINT kDoneMessage = WM_APP + 3;    // the worker has ended

// The Ui of the worker thread.
class WorkerUi : public Ui {
public:
    explicit WorkerUi(HWND window) : window_(window) {}
    void status(std::string_view text, Draw) override {
        {
            std::lock_guard lock(mutex_);
            latest_.assign(text);
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

private:
    HWND window_;
    std::mutex mutex_;
    std::string latest_;
    std::atomic<bool> posted_{false};
};

struct Run {
    std::thread thread;
    std::atomic<bool> stop{false};
    bool close_when_done = false;
    std::optional<WorkerUi> ui;
};

Run& run() {
    static Run r;
    return r;
}

template <typename Work>
void start(HWND window, Work work) {
    Run& r = run();
    r.stop = false;
    r.close_when_done = false;
    r.ui.emplace(window);
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

bool project_message(HWND window, UINT message, LPARAM lparam) {
    Run& r = run();
    switch (message) {
        case kStatusMessage:
            if (r.ui) set_status(window, r.ui->take(), false, true);
            return true;
        case kAlertMessage:
            message_box(window, *reinterpret_cast<const std::string*>(lparam), "Alert", MB_OK | MB_ICONHAND);
            return true;
        case kDoneMessage:
            if (r.thread.joinable()) r.thread.join();
            if (r.ui) set_status(window, r.ui->take(), false, true);
            r.ui.reset();
            if (r.close_when_done) DestroyWindow(window);
            return true;
        default: return false;
    }
}

void unpack_game(HWND window) {
    if (project_running()) return;
    const std::string cwd = platform::current_directory();
    const auto game = ask_folder(window, "Select the game folder to unpack", cwd);
    if (!game) return;
    const auto work = ask_folder(window, "Select the work folder (empty or new)", cwd);
    if (!work) return;
    start(window, [game = *game, work = *work](Ui& ui, const std::atomic<bool>& stop) {
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
    if (!work) return;
    const auto out = ask_folder(window, "Select the output folder (empty or new)", cwd);
    if (!out) return;
    start(window, [work = *work, out = *out](Ui& ui, const std::atomic<bool>& stop) {
        project::repack(ui, work, out, default_jobs(), &stop);
    });
}

}  // namespace vid::app
