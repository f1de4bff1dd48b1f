#include "winauto.h"

namespace gui {

App::App(const std::string& exe, const std::string& cwd) {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    std::string cmd = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.c_str(), &si, &pi_)) return;
    WaitForInputIdle(pi_.hProcess, 5000);
    main_ = wait_for([] { return FindWindowA("VIDODIDE", "Vidodide"); }, 10000);
    if (main_) {
        SetForegroundWindow(main_);
        settle();
    }
}

App::~App() {
    if (pi_.hProcess) {
        if (running()) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
}

bool App::running() const { return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

long App::wait_exit(DWORD ms) {
    if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
}

HWND wait_for(const std::function<HWND()>& find, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = find()) return w;
        if (GetTickCount() - start > ms) return nullptr;
        Sleep(50);
    }
}

HWND wait_dialog(const char* title, DWORD ms) {
    return wait_for([title] { return FindWindowA("#32770", title); }, ms);
}

bool wait_gone(HWND window, DWORD ms) {
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start > ms) return false;
        Sleep(50);
    }
    return true;
}

void settle(DWORD ms) { Sleep(ms); }

void key(WORD vk, bool down) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof in);
    Sleep(20);
}

void press(WORD vk) {
    key(vk, true);
    key(vk, false);
    Sleep(60);
}

void press_with(std::initializer_list<WORD> modifiers, WORD vk) {
    for (WORD m : modifiers) key(m, true);
    press(vk);
    for (auto it = modifiers.end(); it != modifiers.begin();) key(*--it, false);
    Sleep(60);
}

void type_text(const std::string& text) {
    for (unsigned char c : text) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wScan = in[1].ki.wScan = c;
        in[0].ki.dwFlags = KEYEVENTF_UNICODE;
        in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof(INPUT));
        Sleep(5);
    }
    Sleep(100);
}

void focus(HWND window) {
    SetForegroundWindow(window);
    settle(200);
}

bool focus_control(HWND control) {
    SetForegroundWindow(GetAncestor(control, GA_ROOT));
    settle(100);
    const DWORD mine = GetCurrentThreadId(), theirs = GetWindowThreadProcessId(control, nullptr);
    const bool attached = AttachThreadInput(mine, theirs, TRUE) != 0;
    SetFocus(control);
    const bool focused = GetFocus() == control;
    if (attached) AttachThreadInput(mine, theirs, FALSE);
    settle(100);
    return focused;
}

std::string window_text(HWND window) {
    char buf[1024] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    return buf;
}

std::wstring window_text_wide(HWND window) {
    wchar_t buf[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::string class_name(HWND window) {
    char buf[256] = {};
    GetClassNameA(window, buf, sizeof buf);
    return buf;
}

std::vector<HWND> children(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

namespace {

std::vector<COLORREF> read_bitmap(HDC dc, HBITMAP bmp, int w, int h) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    std::vector<COLORREF> px(static_cast<std::size_t>(w) * h);
    GetDIBits(dc, bmp, 0, h, px.data(), &bi, DIB_RGB_COLORS);
    for (auto& p : px) p &= 0xFFFFFF;
    return px;
}

std::vector<COLORREF> grab(int x, int y, int w, int h) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, x, y, SRCCOPY);
    SelectObject(mem, old);
    auto px = read_bitmap(mem, bmp, w, h);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return px;
}

}  // namespace

std::vector<COLORREF> capture_client(HWND window) {
    RECT rc;
    GetClientRect(window, &rc);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    return grab(origin.x, origin.y, rc.right, rc.bottom);
}

std::vector<COLORREF> render_status(HWND window, const std::string& text, UINT format) {
    RECT rc;
    GetClientRect(window, &rc);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    SelectObject(mem, GetStockObject(SYSTEM_FONT));
    FillRect(mem, &rc, GetSysColorBrush(COLOR_WINDOW));
    SetTextColor(mem, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(mem, GetSysColor(COLOR_WINDOW));
    DrawTextA(mem, text.c_str(), static_cast<int>(text.size()), &rc, format);
    SelectObject(mem, old);
    auto px = read_bitmap(mem, bmp, rc.right, rc.bottom);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return px;
}

bool status_shows(HWND window, const std::string& text, DWORD ms, DWORD poll, UINT format) {
    auto want = render_status(window, text, format);
    DWORD start = GetTickCount();
    for (;;) {
        if (capture_client(window) == want) return true;
        if (GetTickCount() - start > ms) return false;
        Sleep(poll);
    }
}

bool save_bmp(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    auto px = grab(r.left, r.top, w, h);
    BITMAPFILEHEADER fh = {};
    BITMAPINFOHEADER ih = {};
    ih.biSize = sizeof ih;
    ih.biWidth = w;
    ih.biHeight = -h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(px.size() * 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&ih, sizeof ih, 1, f);
    std::fwrite(px.data(), 4, px.size(), f);
    return std::fclose(f) == 0;
}

}  // namespace gui

#include <algorithm>

namespace gui {

void menu_command(HWND main, char mnemonic, int downs) {
    focus(main);
    press_with({VK_MENU}, static_cast<WORD>(mnemonic));
    settle(250);
    for (int i = 0; i < downs; ++i) press(VK_DOWN);
    press(VK_RETURN);
}

bool choose_file(const char* title, const std::string& name) {
    HWND dlg = wait_dialog(title);
    if (!dlg) return false;
    focus(dlg);
    settle(300);
    type_text(name);
    press(VK_RETURN);
    return true;
}

bool cancel_dialog(const char* title) {
    HWND dlg = wait_dialog(title);
    if (!dlg) return false;
    focus(dlg);
    settle(300);
    press(VK_ESCAPE);
    return wait_gone(dlg);
}

std::string message_text(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) {
        for (HWND c : children(box))
            if (class_name(c) == "Static" && !window_text(c).empty()) text = c;
    }
    return text ? window_text(text) : std::string();
}

std::wstring message_text_wide(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? window_text_wide(text) : std::wstring();
}

std::string take_message_box(const char* title, DWORD ms) {
    HWND box = wait_dialog(title, ms);
    if (!box) return {};
    settle(200);
    std::string text = message_text(box);
    focus(box);
    press(VK_RETURN);
    wait_gone(box);
    return text;
}

bool read_all(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

bool same_file(const std::string& a, const std::string& b) {
    std::string x, y;
    return read_all(a, x) && read_all(b, y) && x == y;
}

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> list_folder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string n = fd.cFileName;
        if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

FileLock::FileLock(const std::string& path)
    : h_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

FileLock::~FileLock() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
}

}  // namespace gui

#include <commctrl.h>

namespace gui {

void click(HWND window, int x, int y) {
    RECT r;
    GetWindowRect(window, &r);
    int px = x < 0 ? (r.left + r.right) / 2 : r.left + x;
    int py = y < 0 ? (r.top + r.bottom) / 2 : r.top + y;
    // The pointer is moved there as a mouse moves it (a window takes a
    // click only where the pointer is), then pressed and released.
    SetCursorPos(px, py);
    INPUT move = {};
    move.type = INPUT_MOUSE;
    move.mi.dx = px * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    move.mi.dy = py * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &move, sizeof move);
    Sleep(150);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, &in, sizeof in);
    Sleep(100);
    in.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
    Sleep(300);
}

std::vector<std::string> drain_message_boxes(const char* title, DWORD quiet) {
    std::vector<std::string> texts;
    for (;;) {
        HWND box = wait_dialog(title, quiet);
        if (!box || !IsWindowVisible(box)) return texts;
        texts.push_back(take_message_box(title, 100));
    }
}

std::vector<std::string> take_boxes_until(const char* title, const std::function<bool()>& done, DWORD ms) {
    std::vector<std::string> texts;
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(50)) {
        HWND box = FindWindowA("#32770", title);
        if (box && IsWindowVisible(box))
            texts.push_back(take_message_box(title, 100));
        else if (done())
            break;
    }
    for (const auto& t : drain_message_boxes(title, 500)) texts.push_back(t);
    return texts;
}

namespace {

// A structure and its text in the process of `window`, for the messages
// that fill an item of a list or tree view there: a pointer to our own
// memory would mean nothing to that process.
class RemoteItem {
public:
    static constexpr int kTextChars = 1024;
    RemoteItem(HWND window, std::size_t item_size) : window_(window), item_size_(item_size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (process_)
            remote_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, item_size + kTextChars * sizeof(wchar_t),
                                                        MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteItem() {
        if (remote_) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteItem(const RemoteItem&) = delete;
    RemoteItem& operator=(const RemoteItem&) = delete;
    bool ok() const { return remote_ != nullptr; }
    // Where the item's text pointer must point.
    wchar_t* text() const { return reinterpret_cast<wchar_t*>(remote_ + item_size_); }
    // Sends `message` with a copy of `item` there, and returns the text it got.
    std::wstring send(UINT message, WPARAM wparam, const void* item) {
        WriteProcessMemory(process_, remote_, item, item_size_, nullptr);
        SendMessageW(window_, message, wparam, reinterpret_cast<LPARAM>(remote_));
        wchar_t buf[kTextChars] = {};
        ReadProcessMemory(process_, text(), buf, sizeof buf - sizeof buf[0], nullptr);
        return buf;
    }

private:
    HWND window_;
    std::size_t item_size_;
    HANDLE process_ = nullptr;
    char* remote_ = nullptr;
};

}  // namespace

std::vector<std::vector<std::wstring>> read_list(HWND list, int columns) {
    std::vector<std::vector<std::wstring>> out;
    RemoteItem remote(list, sizeof(LVITEMW));
    if (!remote.ok()) return out;
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::vector<std::wstring> row;
        for (int c = 0; c < columns; ++c) {
            LVITEMW item = {};
            item.iSubItem = c;
            item.pszText = remote.text();
            item.cchTextMax = RemoteItem::kTextChars;
            row.push_back(remote.send(LVM_GETITEMTEXTW, static_cast<WPARAM>(i), &item));
        }
        out.push_back(std::move(row));
    }
    return out;
}

std::wstring whole_text(HWND window) {
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) return {};
    std::wstring out(n + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, out.size(), reinterpret_cast<LPARAM>(out.data()), SMTO_ABORTIFHUNG, 2000,
                        &got);
    out.resize(got);
    return out;
}

std::wstring from_932(const std::string& text) {
    const int n = MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(932, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::vector<std::wstring> read_tree(HWND tree) {
    std::vector<std::wstring> out;
    RemoteItem remote(tree, sizeof(TVITEMW));
    if (!remote.ok()) return out;
    auto text_of = [&](HTREEITEM item) {
        TVITEMW tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = remote.text();
        tv.cchTextMax = RemoteItem::kTextChars;
        return remote.send(TVM_GETITEMW, 0, &tv);
    };
    auto next = [&](HTREEITEM item, WPARAM how) {
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
    };
    for (HTREEITEM top = next(nullptr, TVGN_ROOT); top; top = next(top, TVGN_NEXT)) {
        out.push_back(text_of(top));
        for (HTREEITEM c = next(top, TVGN_CHILD); c; c = next(c, TVGN_NEXT)) out.push_back(L"  " + text_of(c));
    }
    return out;
}

std::vector<std::string> names_with(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& n : list_folder(folder))
        if (n.size() >= suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(n);
    return out;
}

std::string quoted(const std::vector<std::string>& names) {
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "\"" : " \"") + n + "\"";
    return s;
}

std::vector<std::string> read_lines(const std::string& path) {
    std::string all;
    std::vector<std::string> lines;
    if (!read_all(path, all)) return lines;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace gui
