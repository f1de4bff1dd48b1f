// The batch commands through the real menu and the multi-file dialog:
// Decode BM2, Decode WV5 (with its selection hook), Decode AB, Encode AB
// (with the Scripting dialog), Encode BM2 and Encode WV5. Outputs are compared byte for byte with the
// command line's in WORK\ref.
#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

std::string replace_tail(const std::string& s, std::size_t n, const std::string& with) {
    return s.substr(0, s.size() - n) + with;
}

bool outputs_match(const Env& env, const std::string& kind, const std::vector<std::string>& inputs, std::size_t cut,
                   const std::string& tail) {
    if (inputs.empty()) return false;
    for (const auto& in : inputs) {
        std::string out = replace_tail(in, cut, tail);
        if (!same_file(env.work + "\\gui\\" + kind + "\\" + out, env.work + "\\ref\\" + kind + "\\" + out)) return false;
    }
    return true;
}

// In the open dialog titled `title`: goes to `folder`, selects every file
// of its list (Home, Shift+End) and opens them.
void choose_all_in(const char* title, const std::string& folder, DWORD list_ms = 800) {
    HWND dlg = wait_dialog(title);
    if (!dlg) return;
    focus(dlg);
    type_text(folder);  // go to the folder
    press(VK_RETURN);
    settle(list_ms);
    HWND list = nullptr;
    for (HWND c : children(dlg))
        if (class_name(c) == "SysListView32") list = c;
    if (list) click(list, 40, 10);
    press(VK_HOME);
    press_with({VK_SHIFT}, VK_END);
    settle(list_ms);
    press_with({VK_MENU}, 'O');  // "&Open"
}

void decode_bm2(const Env& env) {
    const std::string dir = env.work + "\\gui\\bm2";
    const auto files = names_with(dir, ".bm2");
    GUI_CHECK(files.size() >= 2, "the sample images are there");
    if (files.size() < 2) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    menu_command(w, 'D', kDecodeBm2);
    GUI_CHECK(cancel_dialog("Select BM2 files to decode"), "Decode BM2 opens its dialog; Esc cancels");
    settle();
    GUI_CHECK(status_shows(w, "") && names_with(dir, ".bmP").empty(), "a cancelled Decode BM2 changes nothing");

    menu_command(w, 'D', kDecodeBm2);
    choose_file("Select BM2 files to decode", files[0]);
    drain_message_boxes("Alert");
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "one file: the status line shows 'Decoding OK'");
    GUI_CHECK(outputs_match(env, "bm2", {files[0]}, 1, "P"), "one file: its bitmap equals the command line's");

    menu_command(w, 'D', kDecodeBm2);
    choose_file("Select BM2 files to decode", quoted(files));
    auto alerts = drain_message_boxes("Alert");
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "several files: 'Decoding OK' after the last");
    GUI_CHECK(outputs_match(env, "bm2", files, 1, "P"), "several files: every bitmap equals the command line's");
    int warnings = 0;
    for (const auto& a : alerts)
        warnings += a == "8bits alpha BMP are not correctly decoded\nIt's only to view not mod";
    GUI_CHECK(warnings == static_cast<int>(alerts.size()) && warnings >= 1,
              "the 8-bit alpha image shows its warning, and nothing else is reported");
    save_bmp(w, env.shots + "\\decode-bm2.bmp");
}

void decode_wv5(const Env& env) {
    const std::string dir = env.work + "\\gui\\wv5";
    const auto files = names_with(dir, ".wv5");
    GUI_CHECK(!files.empty(), "the sample sounds are there");
    if (files.empty()) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    menu_command(w, 'D', kDecodeWv5);
    choose_file("Select WV5 files to decode", quoted(files));
    drain_message_boxes("Alert");
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "Decode WV5: 'Decoding OK'");
    GUI_CHECK(outputs_match(env, "wv5", files, 2, "AV"), "Decode WV5: every WAV file equals the command line's");

    // A selection longer than the command's 260-byte buffer, made in the
    // file list: the selection hook's copy is converted.
    const std::string many = env.work + "\\gui\\wv5many";
    const auto long_names = names_with(many, ".wv5");
    GUI_CHECK(quoted(long_names).size() > 260, "the long selection needs more than 260 bytes");
    menu_command(w, 'D', kDecodeWv5);
    choose_all_in("Select WV5 files to decode", many);
    drain_message_boxes("Alert");
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "the long selection ends with 'Decoding OK'");
    bool all = !long_names.empty();
    for (const auto& n : long_names) {
        std::string out = replace_tail(n, 2, "AV");
        all = all && same_file(many + "\\" + out, env.work + "\\ref\\wv5many\\" + out);
    }
    GUI_CHECK(all, "every file of the long selection is converted");
}

void decode_ab(const Env& env) {
    const std::string dir = env.work + "\\gui\\ab";
    const std::string ref = env.work + "\\ref\\ab";
    const auto files = names_with(dir, ".ab");
    GUI_CHECK(files.size() >= 2, "the sample scripts are there");
    if (files.size() < 2) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    for (int close_with : {IDOK, IDCANCEL}) {
        const std::string& file = files[close_with == IDOK ? 0 : 1];
        menu_command(w, 'D', kDecodeAb);
        choose_file("Select AB files to decode", file);
        HWND dlg = wait_dialog("Scripting", 10000);
        GUI_CHECK(dlg != nullptr, "one script: the Scripting dialog opens");
        if (!dlg) continue;
        settle(300);
        drain_message_boxes("Alert", 500);
        HWND tree = GetDlgItem(dlg, 1000);
        auto nodes = read_tree(tree);
        // The command line's tree, its texts read in the game's code page.
        std::vector<std::wstring> want;
        for (const std::string& line : read_lines(ref + "\\" + replace_tail(file, 2, "tree"))) want.push_back(from_932(line));
        report().check(!nodes.empty() && nodes == want, "its tree holds every instruction with its operands as children",
                       std::to_string(nodes.size()) + " nodes, want " + std::to_string(want.size()));
        if (close_with == IDOK) save_bmp(dlg, env.shots + "\\scripting-dialog.bmp");
        focus(dlg);
        press(close_with == IDOK ? VK_RETURN : VK_ESCAPE);
        GUI_CHECK(wait_gone(dlg), close_with == IDOK ? "OK closes it" : "Cancel closes it");
        GUI_CHECK(status_shows(w, "Decoding OK", 5000), "then the status line shows 'Decoding OK'");
        const std::string listing = replace_tail(file, 2, "txt");
        GUI_CHECK(same_file(dir + "\\" + listing, ref + "\\" + listing), "the listing equals the command line's");
    }

    for (const auto& f : files) DeleteFileA((dir + "\\" + replace_tail(f, 2, "txt")).c_str());
    menu_command(w, 'D', kDecodeAb);
    choose_file("Select AB files to decode", quoted(files));
    settle(1500);
    GUI_CHECK(FindWindowA("#32770", "Scripting") == nullptr, "several scripts: no Scripting dialog");
    drain_message_boxes("Alert", 500);
    GUI_CHECK(status_shows(w, "Decoding OK", 10000), "several scripts: 'Decoding OK'");
    GUI_CHECK(outputs_match(env, "ab", files, 2, "txt"), "several scripts: every listing equals the command line's");
}

void encode_ab(const Env& env) {
    const std::string dir = env.work + "\\gui\\abenc";
    const std::string ref = env.work + "\\ref\\abenc";
    const auto files = names_with(dir, ".txt");
    GUI_CHECK(files.size() >= 2, "the sample listings are there");
    if (files.size() < 2) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    menu_command(w, 'E', kEncodeAb);
    choose_file("Select script files to decode", files[0]);
    HWND dlg = wait_dialog("Scripting", 10000);
    GUI_CHECK(dlg != nullptr, "one listing: the Scripting dialog opens");
    if (dlg) {
        settle(300);
        GUI_CHECK(!read_tree(GetDlgItem(dlg, 1000)).empty(), "its tree shows the instructions");
        focus(dlg);
        press(VK_RETURN);
        wait_gone(dlg);
    }
    GUI_CHECK(status_shows(w, "Encoding OK", 5000), "'Encoding OK'");
    const std::string ab = replace_tail(files[0], 3, "ab");
    GUI_CHECK(same_file(dir + "\\" + ab, ref + "\\" + ab), "the AB file equals the command line's");

    // Again: the AB file exists now and is never replaced.
    menu_command(w, 'E', kEncodeAb);
    choose_file("Select script files to decode", files[0]);
    std::string alert = take_message_box("Alert", 10000);
    report().check(alert == "Can't create " + dir + "\\" + ab, "an existing AB file: 'Can't create %s' with its path",
                   alert);
    dlg = wait_dialog("Scripting", 5000);
    if (dlg) {
        focus(dlg);
        press(VK_ESCAPE);
        wait_gone(dlg);
    }
    GUI_CHECK(status_shows(w, "Encoding: 1 of 1 file failed", 5000), "and the batch says that it failed");
    GUI_CHECK(same_file(dir + "\\" + ab, ref + "\\" + ab), "the existing AB file keeps its bytes");

    DeleteFileA((dir + "\\" + ab).c_str());
    menu_command(w, 'E', kEncodeAb);
    choose_file("Select script files to decode", quoted(files));
    settle(1500);
    GUI_CHECK(FindWindowA("#32770", "Scripting") == nullptr, "several listings: no Scripting dialog");
    drain_message_boxes("Alert", 500);
    GUI_CHECK(status_shows(w, "Encoding OK", 10000), "several listings: 'Encoding OK'");
    GUI_CHECK(outputs_match(env, "abenc", files, 3, "ab"), "several listings: every AB file equals the command line's");
}

// Encode BM2 of two PNG images, one with its original BM2 beside it (that
// is replaced and kept as .orig) and one without.
void encode_bm2(const Env& env) {
    const std::string dir = env.work + "\\gui\\bm2enc", ref = env.work + "\\ref\\bm2enc";
    const auto originals = names_with(dir, ".bm2");
    GUI_CHECK(!originals.empty() && file_exists(dir + "\\fresh.png"), "the images are there");
    if (originals.empty()) return;
    const std::string stem = originals[0].substr(0, originals[0].size() - 4);
    const std::vector<std::string> files = {stem + ".png", "fresh.png"};
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;

    menu_command(w, 'E', kEncodeBm2);
    GUI_CHECK(cancel_dialog("Select images to encode"), "Encode BM2 opens its dialog; Esc cancels");
    settle();
    GUI_CHECK(status_shows(w, "") && !file_exists(dir + "\\fresh.bm2") && !file_exists(dir + "\\" + originals[0] + ".orig"),
              "a cancelled Encode BM2 changes nothing");

    menu_command(w, 'E', kEncodeBm2);
    choose_file("Select images to encode", quoted(files));
    const auto alerts = drain_message_boxes("Alert");
    GUI_CHECK(alerts.empty(), "two images: no Alert");
    GUI_CHECK(status_shows(w, "Encoding OK", 10000), "two images: the status line shows 'Encoding OK'");
    GUI_CHECK(same_file(dir + "\\" + originals[0], ref + "\\" + originals[0]) &&
                  same_file(dir + "\\fresh.bm2", ref + "\\fresh.bm2"),
              "both BM2 files equal the command line's");
    GUI_CHECK(same_file(dir + "\\" + originals[0] + ".orig", ref + "\\" + originals[0] + ".orig"),
              "the original is kept as .orig");
    save_bmp(w, env.shots + "\\encode-bm2.bmp");
}

// Encode WV5 comes after Encode FL3, Encode AB and Encode BM2 (Import
// Texts... follows it, below a separator).
void menu_encode_wv5(HWND w) { menu_command(w, 'E', 3); }

void encode_wv5(const Env& env) {
    const std::string dir = env.work + "\\gui\\wv5enc";
    const std::string ref = env.work + "\\ref\\wv5enc";
    std::vector<std::string> good;
    for (const auto& f : names_with(dir, ".wav"))
        if (f != "broken.wav") good.push_back(f);
    GUI_CHECK(good.size() >= 2, "the decoded sounds are there as WAV files");
    if (good.size() < 2) return;
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;
    auto wv5_of = [](const std::string& wav) { return replace_tail(wav, 3, "wv5"); };

    menu_encode_wv5(w);
    GUI_CHECK(cancel_dialog("Select WAV files to encode"), "Encode WV5 opens its dialog; Esc cancels");
    settle();
    GUI_CHECK(names_with(dir, ".orig").empty(), "a cancelled Encode WV5 changes nothing");

    // The good files and the one cut short, in one selection.
    std::vector<std::string> all = good;
    all.push_back("broken.wav");
    menu_encode_wv5(w);
    choose_file("Select WAV files to encode", quoted(all));
    const auto alerts = drain_message_boxes("Alert");
    report().check(alerts.size() == 1 && alerts[0].rfind(dir + "\\broken.wav is cut short", 0) == 0,
                   "the WAV file cut short gets one Alert that names it", alerts.empty() ? "" : alerts[0]);
    GUI_CHECK(status_shows(w, "Encoding: 1 of " + std::to_string(all.size()) + " files failed", 10000),
              "the status line counts the failed file");
    GUI_CHECK(!file_exists(dir + "\\broken.wv5"), "no WV5 file for it");
    bool same = true, kept = true;
    for (const auto& f : good) {
        same = same && same_file(dir + "\\" + wv5_of(f), ref + "\\" + wv5_of(f));
        kept = kept && same_file(dir + "\\" + wv5_of(f) + ".orig", env.work + "\\ref\\wv5\\" + wv5_of(f));
    }
    GUI_CHECK(same, "every WV5 file equals the command line's");
    GUI_CHECK(kept, "every original is kept as .orig");

    menu_encode_wv5(w);
    choose_file("Select WAV files to encode", quoted(good));
    GUI_CHECK(drain_message_boxes("Alert").empty(), "again, the good files only: no Alert");
    GUI_CHECK(status_shows(w, "Encoding OK", 10000), "'Encoding OK'");
    kept = true;
    for (const auto& f : good)
        kept = kept && same_file(dir + "\\" + wv5_of(f) + ".orig", env.work + "\\ref\\wv5\\" + wv5_of(f));
    GUI_CHECK(kept, "the .orig files still hold the first originals");
    save_bmp(w, env.shots + "\\encode-wv5.bmp");
}

// 600 files of 33-character names in one selection: far more than the
// selection buffer holds. Every one is decoded.
void decode_bm2_many(const Env& env) {
    const std::string dir = env.work + "\\gui\\bm2many";
    const auto files = names_with(dir, ".bm2");
    GUI_CHECK(files.size() == 600, "the 600 images are there");
    App app(env.exe, dir);
    HWND w = app.main();
    if (!w) return;
    menu_command(w, 'D', kDecodeBm2);
    choose_all_in("Select BM2 files to decode", dir, 2000);
    const auto alerts = take_boxes_until("Alert", [w] { return status_shows(w, "Decoding OK", 0, 0); }, 120000);
    report().check(alerts.empty(), "600 files: no Alert", alerts.empty() ? "" : alerts[0]);
    GUI_CHECK(status_shows(w, "Decoding OK", 1000, 500), "600 files: 'Decoding OK'");
    std::size_t same = 0;
    const std::string ref = env.work + "\\ref\\bm2many\\an_image_with_a_long_name_001.bmP";
    for (const auto& f : files) same += same_file(dir + "\\" + replace_tail(f, 1, "P"), ref);
    report().check(same == files.size(), "600 files: every one is decoded",
                   std::to_string(same) + " of " + std::to_string(files.size()) + " decoded");
}

Register bm2_scenario("bm2", decode_bm2);
Register bm2many_scenario("bm2-many", decode_bm2_many);
Register wv5_scenario("wv5", decode_wv5);
Register ab_scenario("ab-decode", decode_ab);
Register abenc_scenario("ab-encode", encode_ab);
Register bm2enc_scenario("bm2-encode", encode_bm2);
Register wv5enc_scenario("wv5-encode", encode_wv5);

}  // namespace
}  // namespace gui
