// Vidodide.exe: start-up, the main window and the message loop.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>

#include "app/shell.h"
#include "resources/resource.h"

namespace vid::app {

namespace {

Shell g_shell;

std::string load_string(HINSTANCE instance, UINT id) {
    char buf[100] = {};
    int n = LoadStringA(instance, id, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

ATOM register_class(HINSTANCE instance) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(WNDCLASSEXA);  // 48
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = main_window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_VIDODIDE));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_VIDODIDE);
    wc.lpszClassName = g_shell.class_name.c_str();
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    return RegisterClassExA(&wc);
}

HWND create_main_window(HINSTANCE instance, int show) {
    g_shell.instance = instance;
    HWND window = CreateWindowExA(0, g_shell.class_name.c_str(), g_shell.title.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 500, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    DragAcceptFiles(window, TRUE);  // a folder or archive dropped opens in the browser
    ShowWindow(window, show);
    UpdateWindow(window);
    return window;
}

}  // namespace

Shell& shell() { return g_shell; }

}  // namespace vid::app

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    using namespace vid::app;
    Shell& s = shell();
    s.title = load_string(instance, IDS_APP_TITLE);
    s.class_name = load_string(instance, IDC_VIDODIDE);
    register_class(instance);
    if (!create_main_window(instance, show)) return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_VIDODIDE));
    InitCommonControls();
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
