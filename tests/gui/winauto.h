// A small Win32 automation kit for driving Vidodide.exe under Wine as a
// person would: real keyboard input (SendInput), windows found by class and
// title, pixels read from the screen.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// Test bookkeeping: "ok - NAME" / "FAIL - NAME: WHY" lines, counted.
struct Report {
    int passed = 0;
    int failed = 0;
    void check(bool ok, const std::string& name, const std::string& why = {});
};
Report& report();
#define GUI_CHECK(cond, name) ::gui::report().check((cond), (name), #cond)

// The program under test, started with a working folder of our choosing.
class App {
public:
    App(const std::string& exe, const std::string& cwd);
    ~App();
    bool started() const { return main_ != nullptr; }
    HWND main() const { return main_; }
    // Waits for the process to end; its exit code, or -1 on timeout.
    long wait_exit(DWORD ms);
    bool running() const;

private:
    PROCESS_INFORMATION pi_{};
    HWND main_ = nullptr;
};

// Polls `find` until it returns a window or `ms` pass.
HWND wait_for(const std::function<HWND()>& find, DWORD ms = 5000);
// A top-level dialog (class #32770) with this title.
HWND wait_dialog(const char* title, DWORD ms = 5000);
bool wait_gone(HWND window, DWORD ms = 5000);
// Lets the program under test run for a while.
void settle(DWORD ms = 300);

// Keyboard input through SendInput.
void key(WORD vk, bool down);
void press(WORD vk);
void press_with(std::initializer_list<WORD> modifiers, WORD vk);
void type_text(const std::string& text);  // characters, as typed
void focus(HWND window);

std::string window_text(HWND window);
std::string class_name(HWND window);
std::vector<HWND> children(HWND parent);

// Client area pixels (from the screen) and the same area as the program
// would draw `text` with DrawTextA, flags 0, in a device context's default
// font on the window colour.
std::vector<COLORREF> capture_client(HWND window);
std::vector<COLORREF> render_status(HWND window, const std::string& text);
bool status_shows(HWND window, const std::string& text, DWORD ms = 3000);

// Saves the window's screen rectangle as a 24-bit BMP.
bool save_bmp(HWND window, const std::string& path);

}  // namespace gui
