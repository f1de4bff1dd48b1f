// Extract FL3 and Encode FL3 through the real menu and dialogs.
//
// WORK\gui holds data.fl3 (made by the sample generator); WORK\ref holds the
// same archive extracted by the command line, which is tested on its own
// against hand-made bytes.
#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

bool same_folder(const std::string& a, const std::string& b) {
    auto names = list_folder(a);
    if (names.empty() || names != list_folder(b)) return false;
    for (const auto& n : names)
        if (!same_file(a + "\\" + n, b + "\\" + n)) return false;
    return true;
}

void extract_and_encode(const Env& env) {
    const std::string dir = env.work + "\\gui";
    App app(env.exe, dir);
    GUI_CHECK(app.started(), "Vidodide starts in the sample folder");
    if (!app.started()) return;
    HWND w = app.main();

    // Cancelling either dialog changes nothing.
    menu_command(w, 'D', 0);
    GUI_CHECK(cancel_dialog("Select FL3 file to decode"), "Extract FL3 opens 'Select FL3 file to decode'; Esc cancels");
    settle();
    GUI_CHECK(status_shows(w, "") && !file_exists(dir + "\\data_fl3"), "a cancelled Extract FL3 writes nothing");

    menu_command(w, 'D', 0);
    GUI_CHECK(choose_file("Select FL3 file to decode", "data.fl3"), "the archive is chosen in the dialog");
    GUI_CHECK(status_shows(w, "Extracting OK", 20000), "the status line shows 'Extracting OK'");
    GUI_CHECK(same_folder(dir + "\\data_fl3", env.work + "\\ref\\data_fl3"),
              "the member folder and _index.bin are byte for byte those of the command line");
    save_bmp(w, env.shots + "\\extract-fl3.bmp");

    // Encode FL3: the index, then a new archive.
    menu_command(w, 'E', 0);
    GUI_CHECK(choose_file("Select FL3 indexes file", "data_fl3\\_index.bin"), "Encode FL3 asks for the index");
    GUI_CHECK(cancel_dialog("Select FL3 file"), "then for the archive; Esc cancels");
    settle();
    GUI_CHECK(status_shows(w, "Extracting OK") && !file_exists(dir + "\\rebuilt.fl3"),
              "a cancelled Encode FL3 leaves the status line and writes nothing");

    menu_command(w, 'E', 0);
    choose_file("Select FL3 indexes file", "data_fl3\\_index.bin");
    GUI_CHECK(choose_file("Select FL3 file", "rebuilt.fl3"), "the new archive's name is typed in the dialog");
    GUI_CHECK(status_shows(w, "Compacting OK", 20000), "the status line shows 'Compacting OK'");
    GUI_CHECK(same_file(dir + "\\rebuilt.fl3", dir + "\\data.fl3"), "the rebuilt archive is byte-identical");

    // An archive that another program holds open, sharing nothing, cannot be opened.
    {
        FileLock lock(dir + "\\data.fl3");
        menu_command(w, 'D', 0);
        choose_file("Select FL3 file to decode", "data.fl3");
        std::string text = take_message_box("Alert");
        report().check(text == dir + "\\data.fl3 is in use by another program",
                       "a locked archive gives the Alert '%s is in use by another program'", text);
        GUI_CHECK(status_shows(w, "Extracting " + dir + "\\data.fl3"), "the status line keeps 'Extracting %s'");
    }

    // A member file that another program holds is not replaced: the Alert
    // and the status line name it, and the file keeps its bytes.
    const std::string member = dir + "\\data_fl3\\readme.txt";
    {
        FileLock lock(member);
        menu_command(w, 'D', 0);
        choose_file("Select FL3 file to decode", "data.fl3");
        std::string text = take_message_box("Alert");
        report().check(text == "Can't create " + member, "a held member file gives the Alert 'Can't create %s'", text);
        GUI_CHECK(status_shows(w, "Can't create " + member), "the status line names the held member");
    }
    GUI_CHECK(same_file(member, env.work + "\\ref\\data_fl3\\readme.txt"), "the held member keeps its bytes");

    // Encode FL3 into its own index: refused before anything is packed.
    const std::string index = dir + "\\data_fl3\\_index.bin";
    menu_command(w, 'E', 0);
    choose_file("Select FL3 indexes file", "data_fl3\\_index.bin");
    choose_file("Select FL3 file", "data_fl3\\_index.bin");
    {
        std::string text = take_message_box("Alert");
        report().check(text == "Can't create " + index, "Encode FL3 into the index itself: 'Can't create %s'", text);
    }
    GUI_CHECK(same_file(index, env.work + "\\ref\\data_fl3\\_index.bin"), "the index keeps its bytes");

    menu_command(w, 'F', 0);
    GUI_CHECK(app.wait_exit(5000) == 0, "Exit after the FL3 commands");
}

Register fl3_scenario("fl3", extract_and_encode);

}  // namespace
}  // namespace gui
