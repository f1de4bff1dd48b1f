// Export Texts and Import Texts through the real menu, the folder browser
// and the file dialogs; the table and the scripts are compared byte for byte
// with the command line's in WORK\ref.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

constexpr const char* kExportFolder = "Select the folder of the scripts to export";
constexpr const char* kImportFolder = "Select the folder of the scripts to import into";

std::string first_line(const std::string& path) {
    std::string text;
    read_all(path, text);
    return text.substr(0, text.find_first_of("\r\n"));
}

void texts(const Env& env) {
    const std::string dir = env.work + "\\gui\\texts", ref = env.work + "\\ref";
    App app(env.exe, dir);
    GUI_CHECK(app.started(), "Vidodide starts in the scripts' folder");
    if (!app.started()) return;
    HWND w = app.main();

    // Cancelling the folder browser writes nothing.
    menu_command(w, 'D', kExportTexts);
    HWND browse = wait_dialog(kExportFolder, 10000);
    GUI_CHECK(browse != nullptr, "Export Texts... asks for a folder");
    if (browse) {
        focus(browse);
        press(VK_ESCAPE);
        wait_gone(browse);
    }
    settle();
    GUI_CHECK(status_shows(w, "") && !file_exists(dir + "\\texts.csv"), "Esc cancels it and nothing is written");

    menu_command(w, 'D', kExportTexts);
    GUI_CHECK(choose_folder(kExportFolder, dir, env.shots + "\\export-texts-folder.bmp"), "the folder is chosen");
    GUI_CHECK(choose_file("Select the table to write", "texts.csv"), "then the table's name is typed");
    const std::string exported = first_line(ref + "\\texts-export.status");
    report().check(status_shows(w, exported, 10000), "the status line shows the command line's result", exported);
    GUI_CHECK(same_file(dir + "\\texts.csv", ref + "\\texts.csv"), "the table is byte-identical to the command line's");
    save_bmp(w, env.shots + "\\export-texts.bmp");

    // A translation that the game's code page cannot hold: the Alert quotes
    // the character as it was typed, whatever the system's code page.
    menu_command(w, 'E', kImportTexts);
    GUI_CHECK(choose_folder(kImportFolder, dir, ""), "Import Texts... of a table with a character 932 lacks");
    GUI_CHECK(choose_file("Select the table to import", "emoji.csv"), "the table is chosen");
    HWND refused = wait_dialog("Alert", 10000);
    settle(300);
    const std::wstring quoted = refused ? message_text_wide(refused) : L"";
    if (refused) save_bmp(refused, env.shots + "\\import-texts-refused-character.bmp");
    report().check(quoted.find(L": code page 932 cannot hold \"\u00E9\" (U+00E9)") != std::wstring::npos,
                   "the Alert shows the refused character itself", std::to_string(quoted.size()) + " characters");
    take_message_box("Alert", 1000);
    drain_message_boxes("Alert", 1000);
    GUI_CHECK(same_file(dir + "\\scene01.ab", ref + "\\texts\\scene01.ab"), "and the script is unchanged");

    menu_command(w, 'E', kImportTexts);
    GUI_CHECK(choose_folder(kImportFolder, dir, ""), "Import Texts... asks for a folder");
    GUI_CHECK(choose_file("Select the table to import", "translated.csv"), "then the table is chosen");
    const std::string imported = first_line(ref + "\\texts-import.status");
    report().check(status_shows(w, imported, 10000), "the status line shows the command line's result", imported);
    GUI_CHECK(same_file(dir + "\\scene01.ab", ref + "\\texts-imported\\scene01.ab"),
              "the translated script is byte-identical to the command line's");
    GUI_CHECK(same_file(dir + "\\scene01.ab.orig", ref + "\\texts\\scene01.ab"), "its original is kept as .orig");
    GUI_CHECK(same_file(dir + "\\voices.ab", ref + "\\texts\\voices.ab") && !file_exists(dir + "\\voices.ab.orig"),
              "the script without a translation is untouched");
    save_bmp(w, env.shots + "\\import-texts.bmp");

    // The same table again is stale now: an Alert with the row, the script unchanged.
    menu_command(w, 'E', kImportTexts);
    GUI_CHECK(choose_folder(kImportFolder, dir, ""), "again: the folder");
    GUI_CHECK(choose_file("Select the table to import", "translated.csv"), "again: the table");
    const std::string alert = take_message_box("Alert", 10000);
    report().check(alert.find("row 2: the original no longer matches the text of instruction 5") != std::string::npos,
                   "a stale row is refused with its row number", alert);
    GUI_CHECK(same_file(dir + "\\scene01.ab", ref + "\\texts-imported\\scene01.ab"), "and the script stays as it was");

    // The translated script in the Scripting dialog: its Japanese text is
    // shown as the game shows it (code page 932), whatever the system's.
    menu_command(w, 'D', kDecodeAb);
    GUI_CHECK(choose_file("Select AB files to decode", "scene01.ab"), "Decode AB... of the translated script");
    HWND dlg = wait_dialog("Scripting", 10000);
    settle(300);
    const auto nodes = dlg ? read_tree(GetDlgItem(dlg, 1000)) : std::vector<std::wstring>{};
    // おはようございます。
    const std::wstring morning = L"  Text : \u304A\u306F\u3088\u3046\u3054\u3056\u3044\u307E\u3059\u3002";
    report().check(std::find(nodes.begin(), nodes.end(), morning) != nodes.end(),
                   "the tree holds the text in the game's code page", std::to_string(nodes.size()) + " nodes");
    if (dlg) {
        // Each instruction opened, to be looked at in the screenshot.
        HWND tree = GetDlgItem(dlg, 1000);
        for (LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0); item;
             item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, item))
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, item);
        settle(300);
        save_bmp(dlg, env.shots + "\\scripting-japanese.bmp");
        focus(dlg);
        press(VK_RETURN);
        wait_gone(dlg);
    }
}

}  // namespace

bool choose_folder(const char* title, const std::string& folder, const std::string& shot) {
    HWND dialog = wait_dialog(title, 10000);
    if (dialog == nullptr) return false;
    settle(500);
    if (!shot.empty()) save_bmp(dialog, shot);
    return choose_file(title, folder) && wait_gone(dialog);
}

Register texts_scenario("texts", texts);

}  // namespace gui
