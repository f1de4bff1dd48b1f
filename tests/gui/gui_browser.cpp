// The browser window through Decode > Browse...: its tree of folders and
// archives, the member list against list-fl3's, a picture's pixels against
// the command line's bitmap, a script's listing, a sound played with Space,
// sorting by a column, and the selected members extracted and saved
// decoded, byte for byte against the command line's files.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "scenarios.h"
#include "winauto.h"

namespace gui {
namespace {

constexpr const char* kBrowseFolder = "Select the folder to browse";
// The browser's child windows.
constexpr int kTree = 2001, kFilter = 2003, kList = 2004, kExtract = 2005, kSave = 2006, kPlay = 2007, kPane = 2009,
              kText = 2010, kFind = 2011, kRepack = 2012;

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// A row of list-fl3's listing: "   size   offset  name", numbers grouped
// by commas.
struct Listed {
    std::string name, size, offset;
};

std::uint64_t number(const std::string& grouped) {
    std::uint64_t n = 0;
    for (char c : grouped)
        if (c >= '0' && c <= '9') n = n * 10 + static_cast<std::uint64_t>(c - '0');
    return n;
}

std::vector<Listed> listed(const std::string& path) {
    std::vector<Listed> out;
    const auto lines = read_lines(path);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        Listed l;
        in >> l.size >> l.offset >> l.name;
        const bool numbers = !l.size.empty() && !l.offset.empty() &&
                             (l.size + l.offset).find_first_not_of("0123456789,") == std::string::npos;
        if (numbers && !l.name.empty()) out.push_back(l);  // not the totals line
    }
    return out;
}

std::vector<std::vector<std::wstring>> rows_of(const std::vector<Listed>& want) {
    std::vector<std::vector<std::wstring>> out;
    for (const auto& l : want) {
        const std::string ext = l.name.size() > 4 ? l.name.substr(l.name.size() - 4) : "";
        const std::wstring kind = ext == ".bm2" ? L"BM2" : ext == ".wv5" ? L"WV5" : l.name.size() > 3 &&
                                  l.name.substr(l.name.size() - 3) == ".ab" ? L"AB" : L"";
        out.push_back({wide(l.name), kind, wide(l.size), wide(l.offset)});
    }
    return out;
}

// The pixels of a 24-bit bitmap file as 0xRRGGBB, top row first.
std::vector<COLORREF> bitmap_pixels(const std::string& path, int& width, int& height) {
    std::string b;
    width = height = 0;
    if (!read_all(path, b) || b.size() < 54) return {};
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
                                          static_cast<unsigned char>(b[at + 2]) << 16 |
                                          static_cast<unsigned char>(b[at + 3]) << 24);
    };
    const std::uint32_t data = u32(10);
    width = static_cast<int>(u32(18));
    height = static_cast<int>(u32(22));
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (b[28] != 24 || width <= 0 || height <= 0 || data + stride * height > b.size()) return {};
    std::vector<COLORREF> out;
    for (int y = height - 1; y >= 0; --y)
        for (int x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(b.data() + data + y * stride + 3 * x);
            out.push_back(static_cast<COLORREF>(p[2] << 16 | p[1] << 8 | p[0]));
        }
    return out;
}

// The list shows the rows that the filter lets through; the first is then
// chosen with the keyboard.
void filter_and_pick(HWND browser, const wchar_t* filter) {
    SendMessageW(GetDlgItem(browser, kFilter), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(filter));
    settle(300);
    HWND list = GetDlgItem(browser, kList);
    focus_control(list);
    press(VK_HOME);
    auto selected = [list] { return SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1 ? list : nullptr; };
    wait_for(selected, 3000);
}

std::wstring pane_text(HWND browser) { return whole_text(GetDlgItem(browser, kPane)); }

bool pane_shows(HWND browser, const std::wstring& start, DWORD ms) {
    return wait_for([&] { return pane_text(browser).rfind(start, 0) == 0 ? browser : nullptr; }, ms) != nullptr;
}

// Every .bm2 member selected, then a button pressed and the new folder typed
// into the folder dialog; the text of the box that ends it, after the
// Alerts (counted in `alerts`).
std::string write_selected(HWND browser, int button, const char* title, const std::string& folder,
                           std::size_t& alerts) {
    filter_and_pick(browser, L"*.bm2");
    HWND list = GetDlgItem(browser, kList);
    auto all = [list] {
        return SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) ? list
                                                                                                          : nullptr;
    };
    press_with({VK_SHIFT}, VK_END);
    if (!wait_for(all, 3000)) return "not every row was selected";
    const auto chosen = read_list(GetDlgItem(browser, kList), 1).size();
    // The button pressed with the keyboard.
    focus_control(GetDlgItem(browser, button));
    press(VK_SPACE);
    if (!choose_folder(title, folder, "")) {
        const std::string box = take_message_box("Vidodide Browser", 500);
        return "no folder dialog (" + std::to_string(chosen) + " rows; " + (box.empty() ? "no box" : box) + ")";
    }
    alerts = take_boxes_until("Alert", [] { return FindWindowA("#32770", "Vidodide Browser") != nullptr; }, 10000).size();
    return take_message_box("Vidodide Browser", 10000);
}

std::wstring from_utf8(const std::string& s) {
    std::wstring w(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0)),
                   L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), static_cast<int>(w.size()));
    return w;
}

// find-text's lines "WHERE.ab:N: TEXT" as the rows of the browser's list
// (script, N, text); its last line, the count, in `summary`.
std::vector<std::vector<std::wstring>> hits_of(const std::string& path, std::string& summary) {
    std::vector<std::vector<std::wstring>> out;
    for (const std::string& line : read_lines(path)) {
        const std::size_t ab = line.find(".ab:"), colon = ab == std::string::npos ? ab : line.find(": ", ab + 4);
        if (colon == std::string::npos) {
            summary = line;
            continue;
        }
        out.push_back({from_utf8(line.substr(0, ab + 3)), from_utf8(line.substr(ab + 4, colon - ab - 4)),
                       from_utf8(line.substr(colon + 2)), L""});
    }
    return out;
}

// The line where the listing's `n`-th instruction begins (each begins with
// a line of 20 asterisks), from 0.
int instruction_line(const std::string& listing, int n) {
    int line = 0, seen = 0;
    for (std::size_t at = 0; at < listing.size(); ++line) {
        const std::size_t end = std::min(listing.find('\n', at), listing.size());
        if (listing.compare(at, end - at, "********************") == 0 && ++seen == n) return line;
        at = end + 1;
    }
    return -1;
}

void browser(const Env& env) {
    const std::string dir = env.work + "\\gui\\browse", ref = env.work + "\\ref";
    App app(env.exe, dir);
    GUI_CHECK(app.started(), "Vidodide starts");
    if (!app.started()) return;
    HWND w = app.main();

    menu_command(w, 'D', kBrowse);
    GUI_CHECK(choose_folder(kBrowseFolder, dir, env.shots + "\\browse-folder.bmp"), "Browse... asks for a folder");
    HWND b = wait_for([] { return FindWindowA("VidodideBrowser", nullptr); }, 10000);
    GUI_CHECK(b != nullptr && window_text(b) == "Vidodide Browser - " + dir,
              "a window \"Vidodide Browser\" opens on the folder");
    if (!b) return;
    settle(500);
    HWND tree = GetDlgItem(b, kTree);
    const std::vector<std::wstring> want_tree{wide(dir), L"  sub", L"  data.fl3"};
    GUI_CHECK(read_tree(tree) == want_tree, "its tree: the folder, its sub-folder, then its archive");
    const auto loose = read_list(GetDlgItem(b, kList), 4);
    GUI_CHECK(loose.size() == 2 && loose[0][0] == L"data.fl3" && loose[1][0] == L"title.bm2" && loose[1][1] == L"BM2",
              "the folder's own files are listed while it is selected");

    // The archive: its members as list-fl3 lists them.
    const auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    HTREEITEM archive = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                  reinterpret_cast<LPARAM>(root)));
    archive = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(archive)));
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(archive));
    settle(500);
    const auto want = listed(ref + "\\browse.list");
    const auto rows = read_list(GetDlgItem(b, kList), 4);
    report().check(!want.empty() && rows == rows_of(want), "the archive's members: name, kind, size, offset as list-fl3",
                   std::to_string(rows.size()) + " rows, want " + std::to_string(want.size()));
    save_bmp(b, env.shots + "\\browser.bmp");

    // Sorted by size (a click on its column's header), the ties in the
    // directory's order.
    HWND header = reinterpret_cast<HWND>(SendMessageW(GetDlgItem(b, kList), LVM_GETHEADER, 0, 0));
    auto by_size = [&](bool up) {
        auto v = want;
        std::stable_sort(v.begin(), v.end(), [up](const Listed& x, const Listed& y) {
            return up ? number(x.size) < number(y.size) : number(x.size) > number(y.size);
        });
        return rows_of(v);
    };
    // A click on the Size header, until the list shows `rows` (a click lost
    // on a loaded machine is given again, as a person would).
    auto sort_click = [&](const std::vector<std::vector<std::wstring>>& rows) {
        auto shown = [&] { return read_list(GetDlgItem(b, kList), 4) == rows ? b : nullptr; };
        for (int tries = 0; tries < 2; ++tries) {
            // The middle of the Size column's header (the widths come back as
            // numbers, which cross between processes).
            HWND list = GetDlgItem(b, kList);
            const auto width = [list](int c) { return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, c, 0)); };
            click(header, width(0) + width(1) + width(2) / 2, 8);
            if (wait_for(shown, 3000)) return true;
        }
        return false;
    };
    GUI_CHECK(sort_click(by_size(true)), "a click on Size sorts the members by size, ties in the directory's order");
    settle(700);  // not taken for a double click
    GUI_CHECK(sort_click(by_size(false)), "a second click sorts them the other way");

    // A picture: drawn at its size, pixel for pixel the command line's bitmap.
    filter_and_pick(b, L"title");
    GUI_CHECK(read_list(GetDlgItem(b, kList), 1).size() == 1, "the filter leaves the one name that holds it");
    const std::wstring title_info = L"title.bm2: BM2 image, 160 x 120 pixels,";
    GUI_CHECK(pane_shows(b, title_info, 5000), "the preview names the picture's kind and size");
    settle(300);
    int bw = 0, bh = 0;
    const auto want_px = bitmap_pixels(ref + "\\bm2\\title.bmP", bw, bh);
    HWND pane = GetDlgItem(b, kPane);
    RECT pr;
    GetClientRect(pane, &pr);
    const auto got = capture_client(pane);
    int wrong = bw > 0 ? 0 : -1;
    for (int y = 0; y < bh && wrong >= 0; ++y)
        for (int x = 0; x < bw; ++x) {
            const std::size_t at = static_cast<std::size_t>(44 + y) * pr.right + 4 + x;
            wrong += at >= got.size() || got[at] != want_px[static_cast<std::size_t>(y) * bw + x];
        }
    report().check(wrong == 0, "and its pixels are the decoded bitmap's", std::to_string(wrong) + " pixels differ");
    save_bmp(b, env.shots + "\\browser-picture.bmp");

    // A script: its listing, texts in the game's code page.
    filter_and_pick(b, L"scene01");
    GUI_CHECK(pane_shows(b, L"scene01.ab: AB script,", 5000), "a script's preview is its listing");
    std::string listing;
    read_all(ref + "\\ab\\scene01.txt", listing);
    std::wstring want_text;
    for (wchar_t c : from_932(listing)) {
        if (c == L'\n') want_text += L'\r';
        want_text += c;
    }
    GUI_CHECK(!listing.empty() && whole_text(GetDlgItem(pane, kText)) == want_text,
              "the listing is the command line's, line for line");
    save_bmp(b, env.shots + "\\browser-script.bmp");

    // Anything else: its first bytes.
    filter_and_pick(b, L"readme");
    GUI_CHECK(pane_shows(b, L"readme.txt: 45 bytes", 5000) &&
                  whole_text(GetDlgItem(pane, kText)).rfind(L"00000000  53 61 6D 70 6C 65 20 67", 0) == 0,
              "another member shows as a hex dump of its bytes");

    // A sound: Space plays it and stops it (or says why it cannot play).
    filter_and_pick(b, L"chime");
    GUI_CHECK(pane_shows(b, L"chime.wv5: WV5 sound, ", 5000), "a sound's preview gives its rate, channels and length");
    save_bmp(b, env.shots + "\\browser-sound.bmp");
    press(VK_SPACE);
    settle(500);
    const std::wstring after_space = pane_text(b);
    const bool playing = window_text(GetDlgItem(b, kPlay)) == "Stop";
    const bool no_device = after_space.find(L"It cannot be played: ") != std::wstring::npos;
    report().check(playing || no_device, playing ? "Space plays the sound" : "Space: no sound device here, and it says so",
                   window_text(GetDlgItem(b, kPlay)));
    if (playing) {
        press(VK_SPACE);
        settle(300);
        GUI_CHECK(window_text(GetDlgItem(b, kPlay)) == "Play", "Space again stops it");
    }

    // The selected members taken out: as they are, and decoded.
    const std::string raw = dir + "\\raw", decoded = dir + "\\decoded";
    std::size_t alerts = 0;
    const std::string extracted = write_selected(b, kExtract, "Select the folder to extract the members into", raw, alerts);
    report().check(extracted == "Extracting OK: 3 files written to " + raw, "Extract... writes the selected members",
                   extracted);
    bool same = list_folder(raw).size() == 3;
    for (const char* n : {"coin8.bm2", "coin32.bm2", "title.bm2"})
        same = same && same_file(raw + "\\" + n, ref + "\\data_fl3\\" + n);
    GUI_CHECK(same, "each byte for byte the member that Extract FL3 writes");
    const std::string saved = write_selected(b, kSave, "Select the folder to save the decoded members in", decoded, alerts);
    report().check(saved == "Saving OK: 3 files written to " + decoded, "Save Decoded... writes their pictures", saved);
    same = list_folder(decoded).size() == 3;
    for (const char* n : {"coin8.png", "coin32.png", "title.png"})
        same = same && same_file(decoded + "\\" + n, ref + "\\bm2enc\\" + n);
    GUI_CHECK(same, "each the PNG file that decode-bm2 --png writes");
    const std::string again = write_selected(b, kExtract, "Select the folder to extract the members into", raw, alerts);
    report().check(again == "Extracting: 0 files written to " + raw && alerts == 3 &&
                       same_file(raw + "\\title.bm2", ref + "\\data_fl3\\title.bm2"),
                   "files already there are not replaced, each told in an Alert",
                   std::to_string(alerts) + " Alerts, then: " + again);

    // Find Text: the hits of every script, in the archives of the folder
    // and of its sub-folder, as find-text lists them.
    std::string summary;
    const auto want_hits = hits_of(ref + "\\browse.find", summary);
    focus_control(GetDlgItem(b, kFind));
    press(VK_SPACE);
    GUI_CHECK(choose_file("Find Text", "window"), "Find Text... asks for the text");
    GUI_CHECK(pane_shows(b, from_utf8(summary), 10000), "the pane gives find-text's count: " + summary);
    const auto hits = read_list(GetDlgItem(b, kList), 4);
    report().check(want_hits.size() == 4 && hits == want_hits, "the list holds find-text's hits: script, N, text",
                   std::to_string(hits.size()) + " rows, want " + std::to_string(want_hits.size()));
    save_bmp(b, env.shots + "\\browser-find.bmp");
    HWND list = GetDlgItem(b, kList);
    focus_control(list);
    press(VK_HOME);
    const int n = want_hits.empty() ? 0 : std::stoi(std::string(want_hits[0][1].begin(), want_hits[0][1].end()));
    GUI_CHECK(pane_shows(b, L"scene01.ab: AB script, ", 5000) &&
                  pane_text(b).find(L"at instruction " + std::to_wstring(n)) != std::wstring::npos,
              "a hit chosen shows its script's listing at its instruction");
    // Its lines selected, from its first, which is in view.
    HWND text = GetDlgItem(pane, kText);
    const int line = instruction_line(listing, n);
    DWORD from = 0, to = 0;
    SendMessageW(text, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    const auto first = static_cast<DWORD>(SendMessageW(text, EM_LINEINDEX, static_cast<WPARAM>(line), 0));
    const auto next = static_cast<DWORD>(SendMessageW(text, EM_LINEINDEX, static_cast<WPARAM>(instruction_line(listing, n + 1)), 0));
    const LRESULT at = SendMessageW(text, EM_POSFROMCHAR, from, 0);
    RECT tr;
    GetClientRect(text, &tr);
    const int y = static_cast<short>(HIWORD(at));
    report().check(n > 0 && line > 0 && from == first && to == next && y >= 0 && y < tr.bottom,
                   "the instruction's lines are selected and in view",
                   "selected " + std::to_string(from) + "-" + std::to_string(to) + ", want " + std::to_string(first) +
                       "-" + std::to_string(next) + ", at y " + std::to_string(y));
    save_bmp(b, env.shots + "\\browser-find-script.bmp");

    // A work folder: each member file's status as status tells it, and
    // Repack... writes the patch as Repack Game does.
    const std::string work = env.work + "\\gui\\browsework", patch = env.work + "\\gui\\browsepatch";
    std::size_t replaced = 0;
    for (const std::string& line : read_lines(ref + "\\browsework.status"))
        replaced += line.rfind("Replaced: ", 0) == 0 && line.find("/data_fl3/readme.txt ") != std::string::npos;
    menu_command(w, 'D', kBrowse);
    GUI_CHECK(choose_folder(kBrowseFolder, work, ""), "Browse... of a work folder");
    GUI_CHECK(wait_for([&] { return window_text(b) == "Vidodide Browser - " + work ? b : nullptr; }, 5000),
              "opens it in the same window");
    focus_control(tree);
    press(VK_HOME);
    press(VK_DOWN);  // its first sub-folder: data_fl3
    settle(500);
    const auto members = read_list(GetDlgItem(b, kList), 5);
    std::size_t marked = 0, readme = 0;
    for (const auto& r : members) {
        marked += !r[4].empty();
        readme += r[0] == L"readme.txt" && r[4] == L"replaced";
    }
    report().check(replaced == 1 && readme == 1 && marked == 1,
                   "the member file that status calls replaced shows so, no other file has a status",
                   std::to_string(members.size()) + " rows, " + std::to_string(marked) + " with a status");
    save_bmp(b, env.shots + "\\browser-work.bmp");
    focus_control(GetDlgItem(b, kRepack));
    press(VK_SPACE);
    GUI_CHECK(choose_folder("Select the output folder (empty or new)", patch, ""), "Repack... asks for the output folder");
    const std::string repacked = "Repacking OK: 1 file written to " + patch;
    report().check(status_shows(w, repacked, 20000, 100, kWrapped) && file_exists(patch + "\\data.fl3"),
                   "and writes the patch, told on the main window's status line as Repack Game tells it", repacked);

    SendMessageW(b, WM_CLOSE, 0, 0);
    GUI_CHECK(wait_for([] { return FindWindowA("VidodideBrowser", nullptr) ? nullptr : GetDesktopWindow(); }, 5000),
              "the browser closes, the main window stays");
    GUI_CHECK(IsWindow(w), "and the main window is still there");
}

}  // namespace

Register browser_scenario("browser", browser);

}  // namespace gui
