// The main window, its resources, the About box and exit.
#include <cstring>
#include <vector>

#include "../../src/resources/resource.h"
#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

constexpr WORD kFrench = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);  // 1036

struct MenuLine {
    int depth;
    std::string text;  // "" for a separator
    UINT id;           // 0 for popups and separators
};

void walk_menu(HMENU menu, int depth, std::vector<MenuLine>& out) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[100] = {};
        MENUITEMINFOA mi = {};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        mi.dwTypeData = text;
        mi.cch = sizeof text;
        GetMenuItemInfoA(menu, i, TRUE, &mi);
        if (mi.fType & MFT_SEPARATOR) {
            out.push_back({depth, "", 0});
        } else if (mi.hSubMenu) {
            out.push_back({depth, text, 0});
            walk_menu(mi.hSubMenu, depth + 1, out);
        } else {
            out.push_back({depth, text, mi.wID});
        }
    }
}

bool has_french(HMODULE m, LPCSTR type, WORD id) {
    return FindResourceExA(m, type, MAKEINTRESOURCEA(id), kFrench) != nullptr;
}

// Width, height and colour count of each image of an icon group.
std::vector<std::vector<int>> icon_group(HMODULE m, WORD id) {
    std::vector<std::vector<int>> out;
    HRSRC r = FindResourceExA(m, MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, MAKEINTRESOURCEA(id), kFrench);
    if (!r) return out;
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(m, r)));
    int count = p[4] | (p[5] << 8);
    for (int i = 0; i < count; ++i) {
        const BYTE* e = p + 6 + 14 * i;
        out.push_back({e[0], e[1], e[2]});
    }
    return out;
}

void check_resources(const Env& env) {
    HMODULE m = LoadLibraryExA(env.exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    GUI_CHECK(m != nullptr, "the program's resources can be read");
    if (!m) return;
    char s[100] = {};
    LoadStringA(m, IDS_APP_TITLE, s, sizeof s);
    report().check(std::strcmp(s, "Vidodide") == 0, "string 103 is the title", s);
    LoadStringA(m, IDC_VIDODIDE, s, sizeof s);
    report().check(std::strcmp(s, "VIDODIDE") == 0, "string 109 is the class name", s);

    bool french = has_french(m, MAKEINTRESOURCEA(4) /* RT_MENU */, IDC_VIDODIDE) &&
                  has_french(m, MAKEINTRESOURCEA(9) /* RT_ACCELERATOR */, IDC_VIDODIDE) &&
                  has_french(m, MAKEINTRESOURCEA(5) /* RT_DIALOG */, IDD_ABOUTBOX) &&
                  has_french(m, MAKEINTRESOURCEA(5), IDD_SCRIPTING) &&
                  has_french(m, MAKEINTRESOURCEA(6) /* RT_STRING */, IDS_APP_TITLE / 16 + 1) &&
                  has_french(m, MAKEINTRESOURCEA(14), IDI_VIDODIDE) && has_french(m, MAKEINTRESOURCEA(14), IDI_SMALL);
    GUI_CHECK(french, "every resource is in French (France), 1036");

    const std::vector<std::vector<int>> want107 = {{32, 32, 16}, {16, 16, 16}};
    const std::vector<std::vector<int>> want108 = {{16, 16, 16}};
    GUI_CHECK(icon_group(m, IDI_VIDODIDE) == want107, "icon 107: 32x32 and 16x16, 16 colours");
    GUI_CHECK(icon_group(m, IDI_SMALL) == want108, "icon 108: 16x16, 16 colours");

    std::vector<MenuLine> menu;
    HMENU hm = LoadMenuA(m, MAKEINTRESOURCEA(IDC_VIDODIDE));
    walk_menu(hm, 0, menu);
    const std::vector<MenuLine> want = {
        {0, "&File", 0},       {1, "E&xit", 105},       {0, "&Decode", 0},       {1, "Extract FL3", 32771},
        {1, "", 0},            {1, "Decode BM2", 32777}, {1, "Decode WV5", 32778}, {1, "Decode AB", 32779},
        {1, "", 0},            {1, "Decode BM2 to PNG", 32787}, {1, "Export Texts...", 32785},
        {1, "Unpack Game...", 32783}, {1, "", 0},            {1, "Browse...", 32788},
        {0, "&Encode", 0},     {1, "Encode FL3", 32774}, {1, "", 0},            {1, "Encode AB", 32780},
        {1, "", 0},            {1, "Encode BM2", 32781}, {1, "Encode WV5", 32782},
        {1, "", 0},            {1, "Import Texts...", 32786}, {1, "Repack Game...", 32784},
        {1, "", 0},            {1, "Apply Patch...", 32789}, {1, "Undo Patch...", 32790},
        {0, "&Help", 0},       {1, "&About ...", 104},
    };
    bool same = menu.size() == want.size();
    for (std::size_t i = 0; same && i < want.size(); ++i)
        same = menu[i].depth == want[i].depth && menu[i].text == want[i].text && menu[i].id == want[i].id;
    GUI_CHECK(same, "menu 109: four popups, every item's text and id");
    DestroyMenu(hm);

    HACCEL acc = LoadAcceleratorsA(m, MAKEINTRESOURCEA(IDC_VIDODIDE));
    ACCEL entries[8] = {};
    int n = CopyAcceleratorTableA(acc, entries, 8);
    bool acc_ok = n == 2;
    const WORD keys[2] = {'?', '/'};
    for (int i = 0; acc_ok && i < 2; ++i)
        acc_ok = (entries[i].fVirt & ~0x80) == FALT && entries[i].key == keys[i] && entries[i].cmd == IDM_ABOUT;
    GUI_CHECK(acc_ok, "accelerators 109: Alt with '?' and '/', FALT without FVIRTKEY, to 104");

    // About box template: style, place and size, then its two controls.
    HRSRC r = FindResourceExA(m, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_ABOUTBOX), kFrench);
    const auto* t = r ? static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(m, r))) : nullptr;
    GUI_CHECK(t && t->style == (DS_MODALFRAME | DS_SETFONT | WS_CAPTION | WS_SYSMENU) && t->cdit == 2 && t->x == 22 &&
                  t->y == 17 && t->cx == 230 && t->cy == 59,
              "About template 103: styles, (22, 17), 230 by 59, two controls");

    // Scripting template: a DIALOGEX with the tree view.
    r = FindResourceExA(m, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SCRIPTING), kFrench);
    const auto* ex = r ? static_cast<const WORD*>(LockResource(LoadResource(m, r))) : nullptr;
    DWORD style = ex ? (ex[6] | (static_cast<DWORD>(ex[7]) << 16)) : 0;
    GUI_CHECK(ex && ex[0] == 1 && ex[1] == 0xFFFF && style == 0x80C800C0 && ex[8] == 3 && ex[11] == 314 &&
                  ex[12] == 268,
              "Scripting template 129: DIALOGEX, style 0x80C800C0, three controls, 314 by 268");
    FreeLibrary(m);
}

void check_window(const Env& env) {
    App app(env.exe, env.work);
    GUI_CHECK(app.started(), "the main window of class VIDODIDE titled Vidodide appears");
    if (!app.started()) return;
    HWND w = app.main();
    RECT r;
    GetWindowRect(w, &r);
    GUI_CHECK(r.right - r.left == 500 && r.bottom - r.top == 200, "the main window is 500 by 200");
    GUI_CHECK(GetMenu(w) != nullptr, "the main window has the class menu");
    GUI_CHECK(status_shows(w, ""), "at start the status line is empty");
    save_bmp(w, env.shots + "\\main-window.bmp");

    // Alt+? opens About; it closes with its OK button (Enter).
    press_with({VK_MENU, VK_SHIFT}, VK_OEM_2);
    HWND about = wait_dialog("About");
    GUI_CHECK(about != nullptr, "Alt+? opens About");
    if (about) {
        settle();
        HWND ok = GetDlgItem(about, IDOK);
        HWND icon = GetDlgItem(about, IDC_MYICON);
        GUI_CHECK(ok && window_text(ok) == "OK" && (GetWindowLongA(ok, GWL_STYLE) & BS_DEFPUSHBUTTON),
                  "About has the default button OK");
        GUI_CHECK(icon && class_name(icon) == "Static" && (GetWindowLongA(icon, GWL_STYLE) & 0x1F) == SS_ICON,
                  "About shows the icon");
        GUI_CHECK(GetWindow(about, GW_OWNER) == w && !IsWindowEnabled(w), "About is modal, owned by the main window");
        save_bmp(about, env.shots + "\\about-box.bmp");
        focus(about);
        press(VK_RETURN);
        GUI_CHECK(wait_gone(about), "About closes with OK");
    }
    focus(w);
    press_with({VK_MENU}, VK_OEM_2);
    about = wait_dialog("About");
    GUI_CHECK(about != nullptr, "Alt+/ opens About");
    if (about) {
        focus(about);
        press(VK_ESCAPE);
        GUI_CHECK(wait_gone(about), "About closes with Esc");
    }
    // The Help menu by keyboard: Alt+H opens it, Enter chooses "&About ...".
    focus(w);
    press_with({VK_MENU}, 'H');
    settle();
    press(VK_RETURN);
    about = wait_dialog("About");
    GUI_CHECK(about != nullptr, "Help > About ... opens About");
    if (about) {
        focus(about);
        press_with({VK_MENU}, VK_F4);
        GUI_CHECK(wait_gone(about), "About closes with its close box");
    }

    // A command id that is not in the menu does nothing.
    focus(w);
    PostMessageA(w, WM_COMMAND, 32772, 0);
    settle(500);
    HWND stray = FindWindowA("#32770", nullptr);
    GUI_CHECK(app.running() && IsWindowEnabled(w) && (!stray || !IsWindowVisible(stray)) && status_shows(w, ""),
              "command 32772 does nothing");

    // File > Exit.
    focus(w);
    press_with({VK_MENU}, 'F');
    settle();
    press(VK_RETURN);
    GUI_CHECK(app.wait_exit(5000) == 0, "File > Exit ends the program with exit code 0");
}

void check_close(const Env& env) {
    App app(env.exe, env.work);
    GUI_CHECK(app.started(), "the program starts again");
    if (!app.started()) return;
    focus(app.main());
    press_with({VK_MENU}, VK_F4);
    GUI_CHECK(app.wait_exit(5000) == 0, "closing the main window ends the program with exit code 0");
}

Register shell_resources("resources", check_resources);
Register shell_window("window", check_window);
Register shell_close("close", check_close);

}  // namespace
}  // namespace gui
