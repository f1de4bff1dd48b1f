// Unpack Game and Repack Game through the real menu and the folder dialogs:
// the work folder and the patch are compared byte for byte with the command
// line's in WORK\ref; a repack with a member of 3.5 GiB and a large game's
// unpack are stopped half-way with Esc, the other commands greyed while they
// run; a work folder typed as a new name, an output folder made with the
// dialog's "Make New Folder", and the box of per-archive results at the end
// of a repack.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../../src/resources/resource.h"  // the menu's command ids
#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

constexpr const char* kGameFolder = "Select the game folder to unpack";
constexpr const char* kWorkFolder = "Select the work folder (empty or new)";
constexpr const char* kRepackWork = "Select the work folder to repack";
constexpr const char* kOutFolder = "Select the output folder (empty or new)";
constexpr const char* kManifest = "vidodide-project.json";
// The mod project's texts name whole folders: they are drawn in lines as
// wide as the window, broken inside a path where it must be.

// Every file under `folder`, as paths relative to it, sorted by folder.
void files_under(const std::string& folder, const std::string& rel, std::vector<std::string>& out) {
    for (const std::string& n : list_folder(rel.empty() ? folder : folder + "\\" + rel)) {
        const std::string r = rel.empty() ? n : rel + "\\" + n;
        const DWORD a = GetFileAttributesA((folder + "\\" + r).c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
            files_under(folder, r, out);
        else
            out.push_back(r);
    }
}

std::string first_line(const std::string& path) {
    std::string text;
    read_all(path, text);
    return text.substr(0, text.find_first_of("\r\n"));
}

int alert_lines(const std::string& path) {
    int n = 0;
    for (const auto& line : read_lines(path)) n += line.rfind("Alert: ", 0) == 0;
    return n;
}

// The command line's final text of unpack (its work folder REF/gamework)
// as the GUI tells it for the work folder `work`.
std::string unpack_text(const std::string& cli, const std::string& work) {
    const std::string tail = "/gamework/edit";
    const std::size_t end = cli.find(tail);
    const std::size_t begin = end == std::string::npos ? end : cli.rfind(" in ", end);
    if (begin == std::string::npos) return cli;
    return cli.substr(0, begin + 4) + work + "\\edit" + cli.substr(end + tail.size());
}

// A visible dialog of the process of `main` other than `except`; with
// `boxes`, only a message box (a dialog with a message box's static text).
HWND dialog_of(HWND main, HWND except, bool boxes) {
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == pid && h != except && IsWindowVisible(h) && class_name(h) == "#32770" &&
            (!boxes || GetDlgItem(h, 0xFFFF) != nullptr))
            return h;
    }
    return nullptr;
}

HWND message_box_of(HWND main, HWND except = nullptr) { return dialog_of(main, except, true); }

// Types `folder` into the folder dialog titled `title` and presses Enter;
// true when the dialog closes with no box shown meanwhile. A box that
// comes is closed with Enter and its text kept in `box`.
bool type_folder(HWND main, const char* title, const std::string& folder, std::string& box) {
    HWND dialog = wait_dialog(title, 10000);
    if (!dialog || !choose_file(title, folder)) return false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(50)) {
        if (!IsWindow(dialog)) return true;
        if (HWND b = message_box_of(main, dialog)) {
            settle(200);
            box = message_text(b);
            focus(b);
            press(VK_RETURN);
            wait_gone(b);
            return false;
        }
    }
    return false;
}

// Presses the button of `dialog` labelled `label` from the keyboard (focus,
// then Space): a mouse click right after the dialog changed its contents
// was sometimes lost under Wine.
bool click_button(HWND dialog, const std::string& label) {
    HWND button = nullptr;
    for (HWND c : children(dialog))
        if (class_name(c) == "Button" && window_text(c) == label && IsWindowVisible(c)) button = c;
    if (!button || !focus_control(button)) return false;
    press(VK_SPACE);
    return true;
}

// The whole text of a message box (message_text reads at most 1,023
// characters).
std::string box_text(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    DWORD_PTR n = 0;
    if (!text || !SendMessageTimeoutA(text, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &n)) return {};
    std::string out(n + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(text, WM_GETTEXT, out.size(), reinterpret_cast<LPARAM>(out.data()), SMTO_ABORTIFHUNG, 2000,
                        &got);
    out.resize(got);
    return out;
}

// The text of the dialog's name box (the one edit box shown).
std::string name_box(HWND dialog) {
    for (HWND c : children(dialog))
        if (class_name(c) == "Edit" && IsWindowVisible(c)) return window_text(c);
    return {};
}

// Leaves the menu of `main`, if it is in one, with Esc (an Esc outside a
// menu would stop a run); false when it is still in one.
bool leave_menu(HWND main) {
    const DWORD thread = GetWindowThreadProcessId(main, nullptr);
    for (int i = 0; i < 4; ++i) {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(thread, &info)) return false;
        if (!(info.flags & (GUI_INMENUMODE | GUI_POPUPMENUMODE))) return true;
        press(VK_ESCAPE);
        settle(200);
    }
    return false;
}

// A menu popup as drawn: the pixels of the text of items that can be chosen
// (the menu's text colour, and the highlighted item's text on the
// highlight), and those of greyed items' text (Wine draws it in a grey of
// its own, 0x808080, not in the grey-text colour, which its menus' frames
// and separators have).
struct MenuLook {
    int text = -1;
    int grey = -1;
    bool opened() const { return text >= 0; }
    std::string counts() const {
        return std::to_string(text) + " pixels of item text, " + std::to_string(grey) + " greyed";
    }
};

// The screen's pixels hold colours as 0xRRGGBB.
COLORREF screen_colour(int index) {
    const COLORREF c = GetSysColor(index);
    return RGB(GetBValue(c), GetGValue(c), GetRValue(c));
}

// Opens the menu `mnemonic` with the keyboard, looks at its popup (saved as
// `shot`) and closes the menu again. Menus cannot be read from another
// process under Wine, so the test looks at them as a person would.
MenuLook look_at_menu(HWND main, char mnemonic, const std::string& shot) {
    focus(main);
    press_with({VK_MENU}, static_cast<WORD>(mnemonic));
    HWND popup = wait_for([] {
        HWND p = FindWindowA("#32768", nullptr);
        return p && IsWindowVisible(p) ? p : nullptr;
    }, 3000);
    MenuLook look;
    if (popup) {
        settle(300);
        const COLORREF text = screen_colour(COLOR_MENUTEXT), grey = 0x808080,
                       band = screen_colour(COLOR_HIGHLIGHT), on_band = screen_colour(COLOR_HIGHLIGHTTEXT);
        RECT rc;
        GetClientRect(popup, &rc);
        const std::vector<COLORREF> px = capture_client(popup);
        const std::size_t width = static_cast<std::size_t>(rc.right);
        look.text = look.grey = 0;
        for (std::size_t y = 0; width > 0 && y < px.size() / width; ++y) {
            const COLORREF* row = px.data() + y * width;
            std::size_t first = width, last = 0;
            for (std::size_t x = 0; x < width; ++x)
                if (row[x] == band) {
                    first = std::min(first, x);
                    last = x;
                }
            for (std::size_t x = 0; x < width; ++x) {
                look.text += row[x] == text || (row[x] == on_band && x > first && x < last);
                look.grey += row[x] == grey;
            }
        }
        save_bmp(popup, shot);
    }
    if (!leave_menu(main)) look.text = -1;
    return look;
}

bool wait_file(const std::string& path, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(200))
        if (file_exists(path)) return true;
    return false;
}

void project(const Env& env) {
    const std::string dir = env.work + "\\gui", ref = env.work + "\\ref";
    App app(env.exe, dir);
    GUI_CHECK(app.started(), "Vidodide starts");
    if (!app.started()) return;
    HWND w = app.main();

    // Unpack Game: the game folder, then the work folder. The game folder
    // must exist: a name that is not there is refused in the dialog, which
    // stays open for another.
    menu_command(w, 'D', kUnpackGame);
    HWND game_dialog = wait_dialog(kGameFolder, 10000);
    GUI_CHECK(choose_file(kGameFolder, dir + "\\nogame"), "Unpack Game... asks for the game folder");
    HWND refused = wait_for([&] { return message_box_of(w, game_dialog); }, 5000);
    const std::string no_game = refused ? message_text(refused) : "";
    if (refused) save_bmp(refused, env.shots + "\\unpack-game-no-folder.bmp");
    report().check(no_game == dir + "\\nogame does not exist: choose a folder that exists." &&
                       GetWindow(refused, GW_OWNER) == game_dialog,
                   "a game folder that does not exist is refused in a box over the dialog", no_game);
    if (refused) {
        focus(refused);
        press(VK_RETURN);
        wait_gone(refused);
    }
    GUI_CHECK(IsWindow(game_dialog) && name_box(game_dialog) == dir + "\\nogame" && !file_exists(dir + "\\nogame"),
              "and the dialog stays open with the name in its box");
    focus(game_dialog);
    press(VK_END);
    press_with({VK_SHIFT}, VK_HOME);
    press(VK_DELETE);
    GUI_CHECK(choose_folder(kGameFolder, dir + "\\game", env.shots + "\\unpack-game-folder.bmp"),
              "then the game folder is chosen");
    GUI_CHECK(choose_folder(kWorkFolder, dir + "\\gamework", ""), "then for the work folder");
    const std::string cli_unpacked = first_line(ref + "\\unpack.status");
    const std::string unpacked = unpack_text(cli_unpacked, dir + "\\gamework");
    const auto alerts = take_boxes_until("Alert", [&] { return status_shows(w, unpacked, 0, 0, kWrapped); }, 30000);
    report().check(static_cast<int>(alerts.size()) == alert_lines(ref + "\\unpack.alerts"),
                   "the Alerts are the command line's", std::to_string(alerts.size()) + " boxes");
    report().check(status_shows(w, unpacked, 1000, 100, kWrapped), "the status line ends with the command line's totals", unpacked);
    save_bmp(w, env.shots + "\\unpack-game.bmp");
    GUI_CHECK(FindWindowA("#32770", "Unpack Game") == nullptr, "an unpack that tells no results shows no box");
    std::vector<std::string> got, want;
    files_under(dir + "\\gamework", "", got);
    files_under(ref + "\\gamework", "", want);
    std::string differ = got == want && !got.empty() ? "" : std::to_string(got.size()) + " files against " +
                                                                 std::to_string(want.size());
    for (const auto& f : got)
        if (differ.empty() && f.rfind("vidodide-project.", 0) != 0 &&
            !same_file(dir + "\\gamework\\" + f, ref + "\\gamework\\" + f))
            differ = f + " differs";
    report().check(differ.empty(), "the work folder holds the command line's files, byte for byte", differ);

    // One member replaced, then Repack Game: the patch holds that archive only.
    CopyFileA((dir + "\\readme.txt").c_str(), (dir + "\\gamework\\data_fl3\\readme.txt").c_str(), FALSE);
    menu_command(w, 'E', kRepackGame);
    GUI_CHECK(choose_folder(kRepackWork, dir + "\\gamework", ""), "Repack Game... asks for the work folder");
    GUI_CHECK(choose_folder(kOutFolder, dir + "\\gameout", ""), "then for the output folder");
    const std::string repacked = "Repacking OK: 1 file written to " + dir + "\\gameout";
    report().check(status_shows(w, repacked, 20000, 100, kWrapped), "the status line says what was written", repacked);
    GUI_CHECK(list_folder(dir + "\\gameout") == (std::vector<std::string>{"data.fl3", "vidodide-patch.json"}) &&
                  same_file(dir + "\\gameout\\data.fl3", ref + "\\gameout\\data.fl3"),
              "the patch is the changed archive, byte-identical to the command line's");
    save_bmp(w, env.shots + "\\repack-game.bmp");
    GUI_CHECK(FindWindowA("#32770", "Repack Game") == nullptr, "a repack that tells no results shows no box");

    // That patch applied to the game with Apply Patch..., then taken out
    // again with Undo Patch...: the game's own file comes back.
    const std::string game_file = dir + "\\game\\data.fl3", own = ref + "\\game-data.fl3";
    menu_command(w, 'E', kApplyPatch);
    GUI_CHECK(choose_folder("Select the patch folder to apply", dir + "\\gameout", ""), "Apply Patch... asks for the patch");
    GUI_CHECK(choose_folder("Select the game folder to patch", dir + "\\game", ""), "then for the game folder");
    const std::string applied = "Patching OK: 1 file patched in " + dir + "\\game (each original kept beside it as .orig)";
    report().check(status_shows(w, applied, 20000, 100, kWrapped), "the status line says what was patched", applied);
    save_bmp(w, env.shots + "\\apply-patch.bmp");
    GUI_CHECK(same_file(game_file, dir + "\\gameout\\data.fl3") && same_file(game_file + ".orig", own),
              "the archive is the patch's, the game's own kept as data.fl3.orig");
    menu_command(w, 'E', kUndoPatch);
    GUI_CHECK(choose_folder("Select the patch folder to undo", dir + "\\gameout", ""), "Undo Patch... asks for the patch");
    GUI_CHECK(choose_folder("Select the game folder to restore", dir + "\\game", ""), "then for the game folder");
    const std::string undone = "Undo OK: 1 file restored in " + dir + "\\game";
    report().check(status_shows(w, undone, 20000, 100, kWrapped), "the status line says what was restored", undone);
    GUI_CHECK(same_file(game_file, own) && !file_exists(game_file + ".orig"), "and the game's own archive is back");
    const MenuLook decode_idle = look_at_menu(w, 'D', env.shots + "\\menu-decode.bmp");
    const MenuLook encode_idle = look_at_menu(w, 'E', env.shots + "\\menu-encode.bmp");
    report().check(decode_idle.text > 0 && decode_idle.grey == 0 && encode_idle.text > 0 && encode_idle.grey == 0,
                   "when it has ended, no command is greyed", decode_idle.counts() + "; " + encode_idle.counts());

    // A file of 3.5 GiB added to the member folder, then Esc while it is
    // copied: the run stops inside it and leaves nothing in the patch.
    const std::string big = dir + "\\gamework\\data_fl3\\zz_big.dat";
    MoveFileA((dir + "\\zz_big.dat").c_str(), big.c_str());
    const std::size_t members = list_folder(dir + "\\gamework\\data_fl3").size() - 1;  // all but _index.bin
    menu_command(w, 'E', kRepackGame);
    GUI_CHECK(choose_folder(kRepackWork, dir + "\\gamework", ""), "Repack Game... with a member of 3.5 GiB added");
    GUI_CHECK(choose_folder(kOutFolder, dir + "\\gameout2", ""), "and another empty output folder");
    const std::string writing = "Repacking 1 of 1: data.fl3, " + std::to_string(members) + " members";
    GUI_CHECK(status_shows(w, writing, 20000, 20, kWrapped), "the status line says which archive is written");
    const MenuLook decode_running = look_at_menu(w, 'D', env.shots + "\\menu-decode-repacking.bmp");
    const MenuLook encode_running = look_at_menu(w, 'E', env.shots + "\\menu-encode-repacking.bmp");
    report().check(decode_running.text == 0 && decode_running.grey > 0 && encode_running.text == 0 &&
                       encode_running.grey > 0,
                   "while it runs, every Decode and Encode item is greyed",
                   decode_running.counts() + "; " + encode_running.counts());
    const MenuLook file_running = look_at_menu(w, 'F', env.shots + "\\menu-file-repacking.bmp");
    const MenuLook help_running = look_at_menu(w, 'H', env.shots + "\\menu-help-repacking.bmp");
    report().check(file_running.text > 0 && file_running.grey == 0 && help_running.text > 0 && help_running.grey == 0,
                   "but not Exit and About", file_running.counts() + "; " + help_running.counts());
    // A greyed item chosen with the keyboard sends nothing: no dialog, and
    // the status line stays as it is.
    menu_command(w, 'E', kRepackGame);
    settle(500);
    GUI_CHECK(leave_menu(w) && dialog_of(w, nullptr, false) == nullptr && status_shows(w, writing, 1000, 50, kWrapped),
              "Repack Game... chosen meanwhile does nothing");
    // A command that comes all the same (posted, as no menu item sends it)
    // is refused, and the status line says why under the worker's text.
    PostMessageA(w, WM_COMMAND, ID_DECODE_DECODEBM2, 0);
    const std::string why = "Repack Game is at work: other commands can be chosen when it ends (Esc stops it).";
    report().check(status_shows(w, writing + "\n" + why, 5000, 50, kWrapped),
                   "a command that comes meanwhile is refused in the status line", why);
    GUI_CHECK(wait_for([w] { return dialog_of(w, nullptr, false); }, 1000) == nullptr, "and shows no dialog");
    save_bmp(w, env.shots + "\\repack-game-refused.bmp");
    focus(w);
    press(VK_ESCAPE);
    const std::string stopped = "Repacking stopped at data.fl3 zz_big.dat: 0 files written whole to " + dir + "\\gameout2";
    report().check(status_shows(w, stopped, 30000, 100, kWrapped), "Esc stops it inside the large member", stopped);
    GUI_CHECK(render_status(w, stopped) != render_status(w, stopped, kWrapped),
              "the text is wider than the window, and none of it is cut off");
    save_bmp(w, env.shots + "\\repack-game-stopped.bmp");
    GUI_CHECK(list_folder(dir + "\\gameout2").empty(), "and nothing of the archive is left in the output folder");
    const MenuLook decode_stopped = look_at_menu(w, 'D', env.shots + "\\menu-decode-stopped.bmp");
    report().check(decode_stopped.text == decode_idle.text && decode_stopped.grey == 0,
                   "the commands can be chosen again when it has stopped", decode_stopped.counts());
    DeleteFileA(big.c_str());

    // A game of 8,000 members stopped with Esc: the window still answers,
    // the manifest is written, and each archive is in the work folder whole
    // or not at all.
    menu_command(w, 'D', kUnpackGame);
    GUI_CHECK(choose_folder(kGameFolder, dir + "\\biggame", ""), "Unpack Game... again: the large game");
    GUI_CHECK(choose_folder(kWorkFolder, dir + "\\bigwork", ""), "and an empty work folder");
    settle(1500);
    DWORD_PTR answer = 0;
    GUI_CHECK(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer) != 0,
              "the window answers while the game is unpacked");
    const MenuLook decode_unpacking = look_at_menu(w, 'D', env.shots + "\\menu-decode-unpacking.bmp");
    report().check(decode_unpacking.text == 0 && decode_unpacking.grey > 0,
                   "and Unpack Game... is greyed with the other Decode items", decode_unpacking.counts());
    save_bmp(w, env.shots + "\\unpack-game-running.bmp");
    focus(w);
    press(VK_ESCAPE);
    GUI_CHECK(wait_file(dir + "\\bigwork\\" + kManifest, 60000), "Esc stops it, and the manifest is written");
    settle(1000);
    save_bmp(w, env.shots + "\\unpack-game-stopped.bmp");
    int whole = 0, absent = 0;
    for (const char* part : {"part0", "part1", "part2", "part3"}) {
        const std::string folder = dir + "\\bigwork\\" + part + "\\data_fl3";
        const std::size_t n = list_folder(folder).size();
        whole += n == 2001;  // 2,000 members and _index.bin
        absent += n == 0;
    }
    report().check(whole + absent == 4 && absent > 0, "archives are there whole or not at all, and some are not",
                   std::to_string(whole) + " whole, " + std::to_string(absent) + " absent");

    // The work folder typed as a name that is not there yet: no box, and
    // the game is unpacked into it.
    const std::string fresh = dir + "\\freshwork";
    menu_command(w, 'D', kUnpackGame);
    GUI_CHECK(choose_folder(kGameFolder, dir + "\\game", ""), "Unpack Game... into a new work folder");
    std::string box;
    report().check(!file_exists(fresh) && type_folder(w, kWorkFolder, fresh, box),
                   "a new folder's name typed for the work folder is taken without a box", box);
    const std::string fresh_unpacked = unpack_text(cli_unpacked, fresh);
    take_boxes_until("Alert", [&] { return status_shows(w, fresh_unpacked, 0, 0, kWrapped); }, 30000);
    report().check(status_shows(w, fresh_unpacked, 1000, 100, kWrapped),
                   "the game is unpacked into it, and the status line says where its editable files are",
                   fresh_unpacked);
    GUI_CHECK(file_exists(fresh + "\\" + kManifest) && file_exists(fresh + "\\edit"), "with its manifest");

    // Member files deleted in two archives and nothing else: the repack
    // tells a result for each, shown in one box with the final text. The
    // output folder is made with the dialog's "Make New Folder".
    DeleteFileA((fresh + "\\data_fl3\\readme.txt").c_str());
    DeleteFileA((fresh + "\\sub\\more_fl3\\credits.dat").c_str());
    menu_command(w, 'E', kRepackGame);
    GUI_CHECK(choose_folder(kRepackWork, fresh, ""), "Repack Game... of it, two member files deleted");
    HWND out_dialog = wait_dialog(kOutFolder, 10000);
    settle(500);
    const std::string made = dir + "\\New Folder";
    GUI_CHECK(out_dialog && !file_exists(made) && click_button(out_dialog, "Make New Folder"),
              "the output folder dialog has a Make New Folder button");
    settle(500);
    if (out_dialog) save_bmp(out_dialog, env.shots + "\\repack-game-new-folder.bmp");
    const DWORD made_attributes = GetFileAttributesA(made.c_str());
    report().check(made_attributes != INVALID_FILE_ATTRIBUTES && (made_attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       name_box(out_dialog) == "New Folder",
                   "which makes \"New Folder\" in the folder shown and puts its name in the name box",
                   name_box(out_dialog));
    HWND after_open = nullptr;
    if (click_button(out_dialog, "&Open") && wait_gone(out_dialog)) after_open = message_box_of(w);
    GUI_CHECK(!IsWindow(out_dialog) && (!after_open || window_text(after_open) == "Repack Game"),
              "Open then chooses it, no box but the results'");
    if (HWND b = wait_dialog("Repack Game", 20000)) {
        settle(300);
        save_bmp(b, env.shots + "\\repack-game-results-box.bmp");
    }
    const std::string results_box = take_message_box("Repack Game", 1000);
    const std::string only_deleted =
        ": only member files were deleted, whose original bytes are kept: the archive is the game's own, nothing "
        "written for it";
    const std::string repacked_none = "Repacking OK: 0 files written to " + made;
    report().check(results_box == "data.fl3" + only_deleted + "\nsub/more.fl3" + only_deleted + "\n\n" +
                                      repacked_none,
                   "a box titled Repack Game lists the results, then the final text", results_box);
    GUI_CHECK(status_shows(w, repacked_none, 5000, 100, kWrapped) && list_folder(made).empty(),
              "the status line ends with the final text, and nothing is written");
    save_bmp(w, env.shots + "\\repack-game-results.bmp");

    // A game of 35 loose sounds, each edited as a float WAV file: each gives
    // a result (its signal-to-noise ratio); the box lists the first 30.
    const std::string sounds = dir + "\\sounds", sounds_work = dir + "\\soundswork";
    CreateDirectoryA(sounds.c_str(), nullptr);
    std::vector<std::string> names;
    for (int i = 1; i <= 35; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%02d", i);
        names.push_back(name);
        CopyFileA((dir + "\\game\\chime.wv5").c_str(), (sounds + "\\" + name + ".wv5").c_str(), FALSE);
    }
    menu_command(w, 'D', kUnpackGame);
    GUI_CHECK(choose_folder(kGameFolder, sounds, ""), "Unpack Game... of a game of 35 sounds");
    GUI_CHECK(type_folder(w, kWorkFolder, sounds_work, box), "into a new work folder");
    const std::string sounds_unpacked =
        "Unpacking OK: 0 archives, 35 files, 35 editable files in " + sounds_work + "\\edit";
    report().check(status_shows(w, sounds_unpacked, 20000, 100, kWrapped), "the sounds are unpacked", sounds_unpacked);
    for (const auto& n : names)
        CopyFileA((dir + "\\convert\\voice.wav").c_str(), (sounds_work + "\\edit\\" + n + ".wav").c_str(), FALSE);
    menu_command(w, 'E', kRepackGame);
    GUI_CHECK(choose_folder(kRepackWork, sounds_work, ""), "Repack Game... with every sound edited");
    GUI_CHECK(type_folder(w, kOutFolder, dir + "\\soundsout", box), "into a new output folder");
    std::string many;
    if (HWND b = wait_dialog("Repack Game", 60000)) {
        settle(300);
        save_bmp(b, env.shots + "\\repack-game-many-results.bmp");
        many = box_text(b);
        focus(b);
        press(VK_RETURN);
        wait_gone(b);
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0; at <= many.size();) {
        const std::size_t end = std::min(many.find('\n', at), many.size());
        lines.push_back(many.substr(at, end - at));
        at = end + 1;
    }
    std::string wrong;
    const std::string ratio = ": signal-to-noise ratio ";
    for (std::size_t i = 0; i < 30 && wrong.empty(); ++i)
        if (i >= lines.size() || lines[i].rfind(names[i] + ".wv5" + ratio, 0) != 0 ||
            lines[i].size() < 3 || lines[i].compare(lines[i].size() - 3, 3, " dB") != 0)
            wrong = "line " + std::to_string(i + 1) + ": " + (i < lines.size() ? lines[i] : "none");
    const std::vector<std::string> tail{"and 5 more", "", "Repacking OK: 35 files written to " + dir + "\\soundsout"};
    if (wrong.empty() && (lines.size() != 33 || !std::equal(tail.begin(), tail.end(), lines.begin() + 30)))
        wrong = std::to_string(lines.size()) + " lines: " + many;
    report().check(wrong.empty(), "the box lists 30 of the 35 results, says how many more, then the final text", wrong);
    GUI_CHECK(list_folder(dir + "\\soundsout").size() == 35 + 1, "and every sound is written, and the patch's description");

    // Closing the window while a game is unpacked stops the run, then closes.
    menu_command(w, 'D', kUnpackGame);
    GUI_CHECK(choose_folder(kGameFolder, dir + "\\biggame", ""), "Unpack Game... once more");
    GUI_CHECK(choose_folder(kWorkFolder, dir + "\\bigwork2", ""), "into another empty work folder");
    settle(1000);
    PostMessageA(w, WM_CLOSE, 0, 0);
    GUI_CHECK(wait_gone(w, 60000) && file_exists(dir + "\\bigwork2\\" + kManifest),
              "closing the window stops the run, writes the manifest and closes");
}

}  // namespace

Register project_scenario("project", project);

}  // namespace gui
