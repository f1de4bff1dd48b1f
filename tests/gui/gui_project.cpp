// Unpack Game and Repack Game through the real menu and the folder dialogs:
// the work folder and the patch are compared byte for byte with the command
// line's in WORK\ref; a repack with a member of 2 GiB and a large game's
// unpack are stopped half-way with Esc.
#include <windows.h>

#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

constexpr int kUnpackGame = 6, kRepackGame = 5;  // the last items of Decode and Encode
constexpr const char* kGameFolder = "Select the game folder to unpack";
constexpr const char* kWorkFolder = "Select the work folder (empty or new)";
constexpr const char* kRepackWork = "Select the work folder to repack";
constexpr const char* kOutFolder = "Select the output folder (empty or new)";
constexpr const char* kManifest = "vidodide-project.json";
// The mod project's texts name whole folders: they are drawn in lines as
// wide as the window, broken inside a path where it must be.
constexpr UINT kWrapped = DT_WORDBREAK | DT_EDITCONTROL;

// The command line's final text of unpack names its work folder's edit
// folder as the command line saw it; the Windows program names it by the
// folder chosen in the dialog.
std::string unpack_text(const std::string& cli, const std::string& work) {
    const std::string tail = "/gamework/edit";
    const std::size_t end = cli.find(tail);
    const std::size_t begin = end == std::string::npos ? end : cli.rfind(" in ", end);
    if (begin == std::string::npos) return cli;
    return cli.substr(0, begin + 4) + work + "\\edit" + cli.substr(end + tail.size());
}

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

    // Unpack Game: the game folder, then the work folder.
    menu_command(w, 'D', kUnpackGame);
    GUI_CHECK(choose_folder(kGameFolder, dir + "\\game", env.shots + "\\unpack-game-folder.bmp"),
              "Unpack Game... asks for the game folder");
    GUI_CHECK(choose_folder(kWorkFolder, dir + "\\gamework", ""), "then for the work folder");
    const auto alerts = drain_message_boxes("Alert", 3000);
    report().check(static_cast<int>(alerts.size()) == alert_lines(ref + "\\unpack.alerts"),
                   "the Alerts are the command line's", std::to_string(alerts.size()) + " boxes");
    const std::string unpacked = unpack_text(first_line(ref + "\\unpack.status"), dir + "\\gamework");
    report().check(status_shows(w, unpacked, 20000, 100, kWrapped), "the status line ends with the command line's totals", unpacked);
    save_bmp(w, env.shots + "\\unpack-game.bmp");
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
    GUI_CHECK(list_folder(dir + "\\gameout") == std::vector<std::string>{"data.fl3"} &&
                  same_file(dir + "\\gameout\\data.fl3", ref + "\\gameout\\data.fl3"),
              "the patch is the changed archive, byte-identical to the command line's");
    save_bmp(w, env.shots + "\\repack-game.bmp");

    // A file of 2 GiB added to the member folder, then Esc while it is
    // copied: the run stops inside it and leaves nothing in the patch.
    const std::string big = dir + "\\gamework\\data_fl3\\zz_big.dat";
    MoveFileA((dir + "\\zz_big.dat").c_str(), big.c_str());
    const std::size_t members = list_folder(dir + "\\gamework\\data_fl3").size() - 1;  // all but _index.bin
    menu_command(w, 'E', kRepackGame);
    GUI_CHECK(choose_folder(kRepackWork, dir + "\\gamework", ""), "Repack Game... with a member of 2 GiB added");
    GUI_CHECK(choose_folder(kOutFolder, dir + "\\gameout2", ""), "and another empty output folder");
    const std::string writing = "Repacking 1 of 1: data.fl3, " + std::to_string(members) + " members";
    GUI_CHECK(status_shows(w, writing, 20000, 20, kWrapped), "the status line says which archive is written");
    focus(w);
    press(VK_ESCAPE);
    const std::string stopped = "Repacking stopped at data.fl3 zz_big.dat: 0 files written whole to " + dir + "\\gameout2";
    report().check(status_shows(w, stopped, 30000, 100, kWrapped), "Esc stops it inside the large member", stopped);
    GUI_CHECK(render_status(w, stopped) != render_status(w, stopped, kWrapped),
              "the text is wider than the window, and none of it is cut off");
    save_bmp(w, env.shots + "\\repack-game-stopped.bmp");
    GUI_CHECK(list_folder(dir + "\\gameout2").empty(), "and nothing of the archive is left in the output folder");
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
