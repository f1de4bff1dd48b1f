// GUI benchmarks (run only by name, never by "all"; see scripts/bench_gui.sh):
// how long the real program takes from the Open button of the file dialog
// to what the user waits for, on large inputs that the script lays out:
//
//   WORK\script\big.ab, WORK\big.tree  a large script and its tree as the
//                                      command line prints it
//   WORK\listing\big.txt               that script's listing (no AB file beside it)
//   WORK\archive\big.fl3               a large archive
//   WORK\browse\most.fl3, picture.bm2   an archive of 65,535 members (the most an FL3
//                                      directory counts) and a picture of 2 megapixels
//
// Each prints "time NAME SECONDS" lines, and checks that what was shown is
// complete.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

#include <commctrl.h>
#include <psapi.h>

namespace gui {
namespace {

double now_seconds() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

void print_time(const char* name, double seconds) {
    std::printf("time %s %.3f\n", name, seconds);
    std::fflush(stdout);
}

// Types `name` into the open-file dialog titled `title` and presses Enter;
// the moment just before the key goes down, or a negative value when the
// dialog did not appear.
double open_file(const char* title, const std::string& name) {
    HWND dlg = wait_dialog(title);
    if (!dlg) return -1;
    focus(dlg);
    settle(300);
    type_text(name);
    settle(300);
    const double t0 = now_seconds();
    press(VK_RETURN);
    return t0;
}

// True when the window's client area shows more than one colour: something
// has been drawn on its background.
bool drawn(HWND window) {
    auto px = capture_client(window);
    for (COLORREF c : px)
        if (c != px.front()) return true;
    return false;
}

// The Scripting dialog once it is visible with all `items` in its tree and
// the tree drawn; null after `ms`.
HWND wait_scripting_shown(std::size_t items, DWORD ms) {
    return wait_for(
        [items]() -> HWND {
            HWND dlg = FindWindowA("#32770", "Scripting");
            if (!dlg || !IsWindowVisible(dlg)) return nullptr;
            HWND tree = GetDlgItem(dlg, 1000);
            DWORD_PTR count = 0;
            if (!SendMessageTimeoutA(tree, TVM_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 1000, &count)) return nullptr;
            return count == items && drawn(tree) ? dlg : nullptr;
        },
        ms);
}

// The same number of nodes, each at the same level.
bool same_shape(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i].rfind(L"  ", 0) == 0) != (b[i].rfind(L"  ", 0) == 0)) return false;
    return true;
}

// The lines in UTF-8.
void write_lines(const std::string& path, const std::vector<std::wstring>& lines) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        for (const auto& l : lines) {
            char out[4096] = {};
            WideCharToMultiByte(CP_UTF8, 0, l.c_str(), -1, out, sizeof out - 1, nullptr, nullptr);
            std::fprintf(f, "%s\n", out);
        }
        std::fclose(f);
    }
}

// One run of a command that opens the Scripting dialog: from Open to the
// complete dialog, then the dialog's tree against the command line's (for
// Decode AB the same texts; Encode AB labels its items in its own words, so
// there the same items at the same levels). The dialog's picture and its
// tree land in SHOTS as NAME.bmp and NAME.tree.
void time_scripting(const Env& env, const char* name, const std::string& folder, char menu, int downs,
                    const char* title, const std::string& file, const std::string& done, bool same_texts) {
    std::vector<std::wstring> want;  // its texts read in the game's code page
    for (const std::string& line : read_lines(env.work + "\\big.tree")) want.push_back(from_932(line));
    GUI_CHECK(want.size() > 1000, "the reference tree is there");
    App app(env.exe, folder);
    HWND w = app.main();
    GUI_CHECK(w != nullptr, "Vidodide starts");
    if (!w || want.empty()) return;
    menu_command(w, menu, downs);
    const double t0 = open_file(title, file);
    HWND dlg = wait_scripting_shown(want.size(), 600000);
    const double t1 = now_seconds();
    report().check(t0 >= 0 && dlg, std::string(name) + ": the Scripting dialog is shown with every item",
                   "no complete dialog within 600 s");
    if (!dlg) return;
    print_time(name, t1 - t0);
    settle(300);
    save_bmp(dlg, env.shots + "\\" + name + ".bmp");
    const auto nodes = read_tree(GetDlgItem(dlg, 1000));
    write_lines(env.shots + "\\" + name + ".tree", nodes);
    report().check(same_texts ? nodes == want : same_shape(nodes, want),
                   std::string(name) + (same_texts ? ": the tree holds the command line's items, in its order"
                                                   : ": the tree holds as many items at the same levels"),
                   std::to_string(nodes.size()) + " nodes, want " + std::to_string(want.size()));
    focus(dlg);
    press(VK_RETURN);
    GUI_CHECK(wait_gone(dlg), "OK closes the dialog");
    report().check(status_shows(w, done, 10000), std::string(name) + ": '" + done + "'");
}

void bench_scripting(const Env& env) {
    time_scripting(env, "decode-ab-dialog", env.work + "\\script", 'D', kDecodeAb, "Select AB files to decode",
                   "big.ab", "Decoding OK", true);
    time_scripting(env, "encode-ab-dialog", env.work + "\\listing", 'E', kEncodeAb, "Select script files to decode",
                   "big.txt", "Encoding OK", false);
}

// Extract FL3 from Open to "Extracting OK".
void bench_extract(const Env& env) {
    App app(env.exe, env.work + "\\archive");
    HWND w = app.main();
    GUI_CHECK(w != nullptr, "Vidodide starts");
    if (!w) return;
    menu_command(w, 'D', 0);
    const double t0 = open_file("Select FL3 file to decode", "big.fl3");
    const bool ok = t0 >= 0 && status_shows(w, "Extracting OK", 600000, 20);
    const double t1 = now_seconds();
    GUI_CHECK(ok, "extract-fl3-gui: the status line shows 'Extracting OK'");
    if (ok) print_time("extract-fl3-gui", t1 - t0);
}

// Runs `args` with the command-line program beside Vidodide.exe in `folder`;
// its run time, or a negative value when it failed.
double run_cli(const Env& env, const std::string& args, const std::string& folder) {
    const std::string exe = env.exe.substr(0, env.exe.find_last_of('\\') + 1) + "vidodide.exe";
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    const double t0 = now_seconds();
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &si, &pi)) {
        CloseHandle(nul);
        return -1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    const double t1 = now_seconds();
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(nul);
    return code == 0 ? t1 - t0 : -1;
}

// The same extraction by the Windows command line under the same Wine: the
// same converter and the same file system, without the status line.
void bench_extract_cli(const Env& env) {
    const std::string folder = env.work + "\\archive";
    double start = 1e9;
    for (int i = 0; i < 3; ++i) start = std::min(start, run_cli(env, "--version", folder));
    const double run = run_cli(env, "extract-fl3 big.fl3", folder);
    GUI_CHECK(start >= 0 && run >= 0, "extract-fl3-wine-cli: vidodide.exe ends with exit status 0");
    if (start < 0 || run < 0) return;
    print_time("wine-cli-start", start);
    print_time("extract-fl3-wine-cli", run);
}

// The browser: from the archive chosen in its tree to its 65,535 members in
// the list, and from the picture chosen in the list to its preview; then
// the program's peak working set.
void bench_browser(const Env& env) {
    const std::string folder = env.work + "\\browse";
    App app(env.exe, folder);
    HWND w = app.main();
    GUI_CHECK(w != nullptr, "Vidodide starts");
    if (!w) return;
    menu_command(w, 'D', kBrowse);
    GUI_CHECK(choose_folder("Select the folder to browse", folder, ""), "Browse... asks for the folder");
    HWND b = wait_for([] { return FindWindowA("VidodideBrowser", nullptr); }, 10000);
    GUI_CHECK(b != nullptr, "the browser opens");
    if (!b) return;
    settle(500);
    HWND tree = GetDlgItem(b, 2001), list = GetDlgItem(b, 2004), pane = GetDlgItem(b, 2009);
    const auto count = [list] { return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); };
    // The folder's tree: the folder, then most.fl3.
    const auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    const auto archive = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                   reinterpret_cast<LPARAM>(root)));
    double t0 = now_seconds();
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(archive));
    bool ok = wait_for([&] { return count() == 65535 ? list : nullptr; }, 60000) != nullptr;
    double t1 = now_seconds();
    GUI_CHECK(ok, "browser-list: the list holds 65,535 members");
    if (ok) print_time("browser-list-65535", t1 - t0);
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    wait_for([&] { return count() == 2 ? list : nullptr; }, 10000);
    focus_control(list);
    press(VK_HOME);  // most.fl3
    settle(500);
    // The key posted, so that the time holds none of the keyboard's pauses.
    t0 = now_seconds();
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);  // picture.bm2
    PostMessageW(list, WM_KEYUP, VK_DOWN, 0xC0000001);
    ok = wait_for([&] { return whole_text(pane).rfind(L"picture.bm2: BM2 image", 0) == 0 ? pane : nullptr; }, 60000);
    t1 = now_seconds();
    GUI_CHECK(ok, "browser-preview: the picture's preview is shown");
    if (ok) print_time("browser-preview-2mp", t1 - t0);
    DWORD pid = 0;
    GetWindowThreadProcessId(b, &pid);
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (p && GetProcessMemoryInfo(p, &m, sizeof m))
        std::printf("memory browser-peak-mib %.1f\n", static_cast<double>(m.PeakWorkingSetSize) / (1 << 20));
    if (p) CloseHandle(p);
    SendMessageW(b, WM_CLOSE, 0, 0);
}

Register scripting_bench("bench-scripting", bench_scripting, false);
Register browser_bench("bench-browser", bench_browser, false);
Register extract_bench("bench-extract", bench_extract, false);
Register extract_cli_bench("bench-extract-cli", bench_extract_cli, false);

}  // namespace
}  // namespace gui
