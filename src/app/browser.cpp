#include "app/browser.h"

#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/shell.h"
#include "bm2/codec.h"
#include "core/bytes.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "formats/kinds.h"
#include "formats/members.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/paths.h"
#include "project/manifest.h"
#include "project/project.h"
#include "resources/resource.h"
#include "script/codec.h"
#include "script/listing_codepage.h"
#include "text/find_text.h"
#include "wv5/codec.h"

namespace vid::app {

namespace {

constexpr wchar_t kClass[] = L"VidodideBrowser";
constexpr wchar_t kPaneClass[] = L"VidodideBrowserPreview";
constexpr wchar_t kTitle[] = L"Vidodide Browser";
constexpr UINT kPreviewDone = WM_APP + 20;  // lparam: a Preview*, for the window to take
constexpr UINT kFindDone = WM_APP + 21;     // lparam: a Found*, for the window to take

enum ChildId : int { kTreeId = 2001, kFilterLabelId, kFilterId, kListId, kExtractId, kSaveId, kPlayId, kFitId, kPaneId,
                     kTextId, kFindId, kRepackId };

// Find Text lists at most this many hits.
constexpr std::size_t kMaxHits = 100000;

// Members above this size are not decoded for their preview (their first
// bytes are shown instead): a preview holds at most this much and what it
// decodes to.
constexpr std::uint64_t kPreviewLimit = 64ull << 20;
constexpr std::size_t kHexBytes = 4096;  // the first bytes shown of other files
constexpr int kWaveColumns = 1024;       // the drawn waveform's resolution

// ---- what the window shows ----

struct Row {
    std::string name;
    formats::Kind kind = formats::Kind::other;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;  // where its bytes start: in the archive, or 0 in its own file
};

// The tree's nodes: a folder or an archive.
struct Node {
    std::string path;
    bool archive = false;
    bool filled = false;  // a folder's children are in the tree
};

struct Preview {
    enum class What { nothing, picture, sound, text };
    std::uint64_t generation = 0;
    What what = What::nothing;
    std::wstring info;  // the lines above the picture, the waveform or the text
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // top-down, 0x00RRGGBB, alpha drawn over a checkerboard
    wv5::Sound sound;
    std::vector<std::pair<std::int16_t, std::int16_t>> peaks;  // lowest and highest sample per column
    std::wstring text;
    int line = -1, line_end = -1;  // the lines of the instruction to show in `text`
};

// One member to preview.
struct Job {
    std::uint64_t generation = 0;
    std::string file;  // the archive or the loose file
    Row row;
    std::uint32_t instruction = 0;  // a script's instruction to show first (from 1); 0: its start
};

// What Find Text found, handed from its thread to the window.
struct Found {
    std::string what;
    std::vector<text::TextHit> hits;
    text::FindCounts counts;
    std::vector<std::string> alerts;
};

// Names in the order of their letters A to Z in either case, without a
// copy of either (a sort of 65,535 members compares a million pairs).
bool less_any_case(std::string_view a, std::string_view b) {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : static_cast<unsigned char>(c); };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&](char x, char y) { return fold(x) < fold(y); });
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::wstring kind_label(formats::Kind kind) {
    switch (kind) {
        case formats::Kind::bm2: return L"BM2";
        case formats::Kind::wv5: return L"WV5";
        case formats::Kind::ab: return L"AB";
        default: return L"";
    }
}

bool is_archive_name(std::string_view name) {
    return name.size() > 4 && lower(name.substr(name.size() - 4)) == ".fl3";
}

// ---- reading and decoding, off the window's thread ----

std::optional<Bytes> read_part(const std::string& file, std::uint64_t offset, std::uint64_t n, std::string& why) {
    auto f = platform::File::open(file, platform::OpenMode::read_existing);
    if (!f || !f->seek(offset)) {
        why = file + " cannot be read";
        return std::nullopt;
    }
    Bytes bytes(static_cast<std::size_t>(n));
    if (f->read_full(bytes) != n) {
        why = file + " ends before the member does";
        return std::nullopt;
    }
    return bytes;
}

std::wstring hex_dump(ByteView bytes) {
    std::string out;
    char line[96];
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        int n = std::snprintf(line, sizeof line, "%08zX ", at);
        std::string chars;
        for (std::size_t i = 0; i < 16; ++i) {
            if (at + i < bytes.size()) {
                const unsigned b = bytes[at + i];
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02X", b);
                chars += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.';
            } else {
                n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "   ");
            }
        }
        out += line;
        out += "  " + chars + "\r\n";
    }
    return from_code_page(out, CP_ACP);
}

// Line feeds as the edit control wants them.
std::wstring with_crlf(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

void picture_preview(Preview& p, const bm2::Picture& picture) {
    p.what = Preview::What::picture;
    p.width = picture.width;
    p.height = picture.height;
    p.pixels.resize(static_cast<std::size_t>(picture.width) * picture.height);
    for (std::uint32_t y = 0; y < picture.height; ++y)
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * picture.width + x;
            const std::uint8_t* px = picture.rgba.data() + 4 * i;
            // The checkerboard of 8-pixel squares shows through what the
            // alpha leaves uncovered.
            const unsigned board = ((x / 8 + y / 8) % 2) ? 0xCC : 0xFF;
            const unsigned a = picture.has_alpha ? px[3] : 255;
            auto mix = [&](unsigned c) { return (c * a + board * (255 - a) + 127) / 255; };
            p.pixels[i] = (mix(px[0]) << 16) | (mix(px[1]) << 8) | mix(px[2]);
        }
}

void sound_preview(Preview& p, wv5::Sound sound) {
    p.what = Preview::What::sound;
    const unsigned channels = sound.header.wav_channels();
    const std::size_t frames = sound.samples.size() / (2 * channels);
    p.peaks.assign(kWaveColumns, {0, 0});
    for (std::size_t f = 0; f < frames; ++f) {
        const std::size_t column = f * kWaveColumns / frames;
        for (unsigned c = 0; c < channels; ++c) {
            const std::size_t at = 2 * (f * channels + c);
            const auto v = static_cast<std::int16_t>(sound.samples[at] | (sound.samples[at + 1] << 8));
            auto& [low, high] = p.peaks[column];
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    p.sound = std::move(sound);
}

std::unique_ptr<Preview> make_preview(const Job& job) {
    auto p = std::make_unique<Preview>();
    p->generation = job.generation;
    const Row& r = job.row;
    const std::string name = fl3::printable_name(r.name);
    const std::string size = grouped(r.size) + (r.size == 1 ? " byte" : " bytes");
    std::string why;
    const bool decodes = r.kind != formats::Kind::other && r.size <= kPreviewLimit;
    const std::uint64_t wanted = decodes ? r.size : std::min<std::uint64_t>(r.size, kHexBytes);
    const auto bytes = read_part(job.file, r.offset, wanted, why);
    if (!bytes) {
        p->info = shown_text(name + ": " + why);
        return p;
    }
    std::string info;
    try {
        switch (decodes ? r.kind : formats::Kind::other) {
            case formats::Kind::bm2:
                if (auto picture = bm2::picture_of_bm2(*bytes, why)) {
                    info = name + ": BM2 image" + (picture->has_alpha ? " with alpha" : "") + ", " +
                           std::to_string(picture->width) + " x " + std::to_string(picture->height) + " pixels, " +
                           size;
                    picture_preview(*p, *picture);
                }
                break;
            case formats::Kind::wv5:
                if (auto sound = wv5::decode_sound(*bytes, why)) {
                    const unsigned channels = sound->header.wav_channels();
                    const std::uint64_t frames = sound->samples.size() / (2 * channels);
                    const double seconds = sound->header.rate ? static_cast<double>(frames) / sound->header.rate : 0;
                    char length[32];
                    std::snprintf(length, sizeof length, "%.2f s", seconds);
                    info = name + ": WV5 sound, " + grouped(sound->header.rate) + " Hz, " +
                           (channels == 1 ? "1 channel, " : "2 channels, ") + length + ", " + size +
                           "\nSpace plays it and stops it.";
                    sound_preview(*p, std::move(*sound));
                }
                break;
            case formats::Kind::ab: {
                p->what = Preview::What::text;
                std::vector<std::size_t> starts;
                const std::string listing = script::listing_of(*bytes, nullptr, &starts);
                p->text = with_crlf(game_text(listing));
                info = name + ": AB script, " + size;
                if (job.instruction > 0 && job.instruction <= starts.size()) {
                    const auto line_at = [&](std::size_t offset) {
                        return static_cast<int>(std::count(listing.begin(), listing.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
                    };
                    p->line = line_at(starts[job.instruction - 1]);
                    p->line_end = line_at(job.instruction < starts.size() ? starts[job.instruction] : listing.size());
                    info += ", at instruction " + std::to_string(job.instruction);
                }
                break;
            }
            default:
                p->what = Preview::What::text;
                p->text = hex_dump(*bytes);
                info = name + ": " + size;
                if (r.kind != formats::Kind::other)
                    info += ", too large to preview (the most is " + grouped(kPreviewLimit >> 20) + " MiB)";
                if (r.size > kHexBytes) info += "; its first " + grouped(kHexBytes) + " bytes:";
                break;
        }
    } catch (const std::bad_alloc&) {
        why = "there is not enough memory to decode it";
    }
    if (info.empty()) {
        // A damaged member: the reason, and its first bytes.
        info = name + " does not decode: " + why;
        p->what = Preview::What::text;
        p->text = hex_dump(ByteView(*bytes).first(std::min<std::size_t>(bytes->size(), kHexBytes)));
    }
    p->info = shown_text(info);
    return p;
}

// The one thread that decodes previews: the latest member asked for is
// decoded next, those asked for meanwhile are skipped.
class Previewer {
public:
    void start(HWND to) {
        to_ = to;
        thread_ = std::thread([this] { run(); });
    }
    void ask(Job job) {
        {
            std::lock_guard lock(mutex_);
            next_ = std::move(job);
        }
        wake_.notify_one();
    }
    void stop() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            next_.reset();
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

private:
    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return quit_ || next_.has_value(); });
                if (quit_) return;
                job = std::move(*next_);
                next_.reset();
            }
            std::unique_ptr<Preview> p;
            try {
                p = make_preview(job);
            } catch (const std::exception&) {
                try {
                    p = std::make_unique<Preview>();
                    p->generation = job.generation;
                    p->info = L"There is not enough memory to show it.";
                } catch (const std::exception&) {
                    continue;
                }
            }
            if (PostMessageW(to_, kPreviewDone, 0, reinterpret_cast<LPARAM>(p.get()))) p.release();
        }
    }

    HWND to_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> next_;
    bool quit_ = false;
};

// ---- the window ----

// The Ui of the browser's own commands: Alerts over its window; the status
// line is the main window's, so progress is not told.
class BrowserUi : public Ui {
public:
    explicit BrowserUi(HWND window) : window_(window) {}
    void status(std::string_view, Draw) override {}
    void alert(std::string_view text) override { message_box(window_, std::string(text), "Alert", MB_OK | MB_ICONHAND); }

private:
    HWND window_;
};

class Browser {
public:
    HWND window = nullptr;

    void create_children();
    void layout();
    void open(const std::string& path);
    LRESULT notify(NMHDR* n);
    void command(int id, int code);
    void take(Preview* p);
    void paint_pane(HWND pane);
    std::wstring info_text() const;
    void refresh_pane();
    void toggle_play();
    void stop_playing();
    void played();
    void close();

private:
    HTREEITEM add_node(HTREEITEM parent, const std::string& path, bool archive);
    void fill(HTREEITEM item);
    void show_node(const Node& node);
    void refilter();
    void sort_by(int column);
    void ask_preview();
    void show_preview();
    const Row* focused_row() const;
    std::vector<const Row*> selected_rows() const;
    std::string file_of(const Row& r) const;
    void save(bool decoded);
    void find();
    void show_columns();

public:
    void take_found(Found* f);

private:

    HWND tree_ = nullptr, filter_ = nullptr, list_ = nullptr, pane_ = nullptr, text_ = nullptr;
    HWND label_ = nullptr, extract_ = nullptr, save_ = nullptr, play_ = nullptr, fit_ = nullptr, find_ = nullptr;
    HWND repack_ = nullptr;
    HFONT font_ = nullptr;
    std::vector<Node> nodes_;
    std::string source_;  // the archive or folder the list shows
    bool archive_ = false;
    std::string problem_;  // why its list is not whole
    std::vector<Row> rows_;
    std::vector<std::uint32_t> view_;  // rows shown: filtered, in the order of the sort
    int sort_column_ = -1;
    bool descending_ = false;
    std::wstring cell_;  // the text of the last cell asked for
    Previewer previewer_;
    bool previewer_started_ = false;
    std::uint64_t generation_ = 0;
    std::unique_ptr<Preview> preview_;
    HWAVEOUT wave_ = nullptr;
    WAVEHDR header_ = {};
    // Find Text: the folder or archive opened, the search running on its
    // own thread, and its hits, which the list shows until a node of the
    // tree is chosen. rows_ then holds each hit's script.
    std::string root_;
    std::thread finder_;
    std::atomic<bool> stop_finding_{false};
    bool finding_ = false;
    std::wstring what_;  // the last text looked for, as typed
    std::unique_ptr<Found> found_;
    // A work folder opened: what changed since unpack, by file.
    std::string work_;
    std::unordered_map<std::string, std::string> changes_;
    void read_changes();

public:
    HWND main = nullptr;  // the program's main window
};

Browser* g_browser = nullptr;

HWND child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD ex = 0) {
    return CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), shell().instance, nullptr);
}

void Browser::create_children() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        font_ = CreateFontIndirectW(&metrics.lfMessageFont);
    tree_ = child(window, WC_TREEVIEWW, L"",
                  WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                  kTreeId);
    label_ = child(window, L"STATIC", L"Filter:", SS_CENTERIMAGE, kFilterLabelId);
    filter_ = child(window, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, kFilterId);
    list_ = child(window, WC_LISTVIEWW, L"", WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS,
                  kListId);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 5; ++i) {
        LVCOLUMNW c = {};
        SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
    show_columns();
    extract_ = child(window, L"BUTTON", L"Extract...", WS_TABSTOP | BS_PUSHBUTTON, kExtractId);
    save_ = child(window, L"BUTTON", L"Save Decoded...", WS_TABSTOP | BS_PUSHBUTTON, kSaveId);
    play_ = child(window, L"BUTTON", L"Play", WS_TABSTOP | BS_PUSHBUTTON, kPlayId);
    fit_ = child(window, L"BUTTON", L"Fit", WS_TABSTOP | BS_AUTOCHECKBOX, kFitId);
    find_ = child(window, L"BUTTON", L"Find Text...", WS_TABSTOP | BS_PUSHBUTTON, kFindId);
    repack_ = child(window, L"BUTTON", L"Repack...", WS_TABSTOP | BS_PUSHBUTTON, kRepackId);
    EnableWindow(repack_, FALSE);
    SendMessageW(fit_, BM_SETCHECK, BST_CHECKED, 0);
    pane_ = child(window, kPaneClass, L"", WS_BORDER, kPaneId);
    text_ = child(pane_, L"EDIT", L"",
                  WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                  kTextId);
    SendMessageW(text_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
    ShowWindow(text_, SW_HIDE);
    for (HWND h : {tree_, label_, filter_, list_, extract_, save_, play_, fit_, find_, repack_, pane_, text_})
        if (font_) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    HFONT fixed = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
    SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(fixed), FALSE);
    previewer_.start(window);
    previewer_started_ = true;
}

// The tree a quarter of the width, the list two fifths, the preview the
// rest; the filter and Find Text above the list, the other buttons below it.
void Browser::layout() {
    RECT rc;
    GetClientRect(window, &rc);
    const int w = rc.right, h = rc.bottom, gap = 4, row = 24;
    const int tree_w = w / 4, list_w = w * 2 / 5, pane_x = tree_w + list_w + 2 * gap;
    MoveWindow(tree_, 0, 0, tree_w, h, TRUE);
    const int x = tree_w + gap;
    MoveWindow(label_, x, 0, 40, row, TRUE);
    const int find_w = 90, repack_w = 70;
    MoveWindow(filter_, x + 44, 1, std::max(0, list_w - 44 - find_w - repack_w - 2 * gap), row - 2, TRUE);
    MoveWindow(find_, x + list_w - find_w - repack_w - gap, 0, find_w, row, TRUE);
    MoveWindow(repack_, x + list_w - repack_w, 0, repack_w, row, TRUE);
    MoveWindow(list_, x, row + gap, list_w, std::max(0, h - 2 * row - 2 * gap), TRUE);
    const int by = h - row, bw = (list_w - 3 * gap) / 4;
    MoveWindow(extract_, x, by, bw, row, TRUE);
    MoveWindow(save_, x + bw + gap, by, bw + 20, row, TRUE);
    MoveWindow(play_, x + 2 * bw + 20 + 2 * gap, by, bw - 30, row, TRUE);
    MoveWindow(fit_, x + 3 * bw + 3 * gap - 10, by, bw, row, TRUE);
    MoveWindow(pane_, pane_x, 0, std::max(0, w - pane_x), h, TRUE);
    RECT pr;
    GetClientRect(pane_, &pr);
    MoveWindow(text_, 0, 40, pr.right, std::max(0L, pr.bottom - 40), TRUE);
}

HTREEITEM Browser::add_node(HTREEITEM parent, const std::string& path, bool archive) {
    nodes_.push_back({path, archive, archive});
    const std::string name = parent == TVI_ROOT ? path : std::string(platform::split_path(path).name);
    std::wstring text = from_code_page(name, CP_ACP);
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    ins.item.pszText = text.data();
    ins.item.lParam = static_cast<LPARAM>(nodes_.size() - 1);
    ins.item.cChildren = archive ? 0 : 1;
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

// A folder's sub-folders, then its archives, each by name.
void Browser::fill(HTREEITEM item) {
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    const std::size_t index = static_cast<std::size_t>(tv.lParam);
    if (index >= nodes_.size() || nodes_[index].filled) return;
    nodes_[index].filled = true;
    const std::string folder = nodes_[index].path;
    std::vector<std::string> folders, archives;
    if (auto entries = platform::list_folder(folder))
        for (const auto& e : *entries) {
            if (e.folder)
                folders.push_back(e.name);
            else if (is_archive_name(e.name))
                archives.push_back(e.name);
        }
    std::sort(folders.begin(), folders.end());
    std::sort(archives.begin(), archives.end());
    for (const auto& f : folders) add_node(item, platform::join(folder, f), false);
    for (const auto& a : archives) add_node(item, platform::join(folder, a), true);
    if (folders.empty() && archives.empty()) {
        tv.mask = TVIF_CHILDREN;
        tv.cChildren = 0;
        SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    }
}

// A folder or an archive; any other file opens its folder.
void Browser::open(const std::string& given) {
    stop_playing();
    std::string path = given;
    bool archive = !platform::list_folder(path).has_value();
    if (archive && !is_archive_name(path)) {
        const std::string_view folder = platform::split_path(path).folder;
        path = folder.empty() ? "." : std::string(folder);
        archive = false;
    }
    TreeView_DeleteAllItems(tree_);
    nodes_.clear();
    HTREEITEM root = add_node(TVI_ROOT, path, archive);
    if (!archive) {
        fill(root);
        TreeView_Expand(tree_, root, TVE_EXPAND);
    }
    root_ = path;
    if (found_) {
        found_.reset();
        show_columns();
    }
    std::error_code ec;
    work_ = !archive && std::filesystem::is_regular_file(platform::join(path, project::kManifestName), ec) ? path : "";
    EnableWindow(repack_, !work_.empty());
    TreeView_SelectItem(tree_, root);
    show_node(nodes_.front());
    const std::wstring title = std::wstring(kTitle) + L" - " + from_code_page(path, CP_ACP);
    SetWindowTextW(window, title.c_str());
}

// The list of an archive (its members, in the directory's order) or of a
// folder (its files).
void Browser::show_node(const Node& node) {
    if (found_) {
        found_.reset();
        show_columns();
    }
    source_ = node.path;
    archive_ = node.archive;
    problem_.clear();
    rows_.clear();
    if (node.archive) {
        fl3::ArchiveReader reader(node.path);
        if (reader.opened() != fl3::Opened::ok) {
            problem_ = node.path + " is not an archive that can be read";
        } else {
            const fl3::Directory& d = reader.read_directory();
            rows_.reserve(d.entries.size());
            for (const auto& e : d.entries)
                rows_.push_back({e.name, formats::kind_of(e.name), e.size, fl3::ArchiveReader::offset_of(e)});
            if (!reader.directory_complete()) problem_ = node.path + ": its directory is damaged";
        }
    } else if (auto entries = platform::list_folder(node.path)) {
        for (const auto& e : *entries) {
            if (e.folder) continue;
            rows_.push_back({e.name, formats::kind_of(e.name), e.size, 0});
        }
        std::sort(rows_.begin(), rows_.end(), [](const Row& a, const Row& b) { return a.name < b.name; });
    }
    sort_column_ = -1;
    descending_ = false;
    read_changes();
    refilter();
}

// In a work folder, what changed since unpack, by the member file or
// editable file it concerns, read again each time a folder is shown.
void Browser::read_changes() {
    changes_.clear();
    if (work_.empty()) return;
    BrowserUi ui(window);
    const auto changed = project::changes(ui, work_);
    if (!changed) {
        // Told once: the folder is browsed as any other.
        work_.clear();
        EnableWindow(repack_, FALSE);
        return;
    }
    for (const project::Changed& c : *changed) {
        changes_[c.file] = c.change;
        if (!c.edit_file.empty()) changes_[c.edit_file] = c.change;
    }
}

void Browser::refilter() {
    wchar_t typed[256] = {};
    GetWindowTextW(filter_, typed, 255);
    char narrow[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, typed, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    // Names that hold the text typed, or match it when it has * or ?.
    std::string pattern = narrow;
    if (pattern.find_first_of("*?") == std::string::npos) pattern = "*" + pattern + "*";
    view_.clear();
    for (std::uint32_t i = 0; i < rows_.size(); ++i)
        if (matches_name(found_ ? found_->hits[i].where : rows_[i].name, pattern)) view_.push_back(i);
    if (sort_column_ >= 0 && !found_) {
        const int column = sort_column_;
        const bool down = descending_;
        std::stable_sort(view_.begin(), view_.end(), [&](std::uint32_t a, std::uint32_t b) {
            const Row& x = rows_[down ? b : a];
            const Row& y = rows_[down ? a : b];
            switch (column) {
                case 0: return less_any_case(x.name, y.name);
                case 1: return x.kind < y.kind;
                case 2: return x.size < y.size;
                default: return x.offset < y.offset;
            }
        });
    }
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(list_, LVM_SETITEMCOUNT, view_.size(), 0);
    InvalidateRect(list_, nullptr, TRUE);
    generation_++;
    stop_playing();  // before the samples it plays go
    preview_.reset();
    show_preview();
}

void Browser::sort_by(int column) {
    descending_ = column == sort_column_ ? !descending_ : false;
    sort_column_ = column;
    refilter();
}

const Row* Browser::focused_row() const {
    const int i = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    return i >= 0 && static_cast<std::size_t>(i) < view_.size() ? &rows_[view_[i]] : nullptr;
}

std::vector<const Row*> Browser::selected_rows() const {
    std::vector<const Row*> out;
    for (int i = ListView_GetNextItem(list_, -1, LVNI_SELECTED); i >= 0; i = ListView_GetNextItem(list_, i, LVNI_SELECTED))
        if (static_cast<std::size_t>(i) < view_.size()) out.push_back(&rows_[view_[i]]);
    return out;
}

void Browser::ask_preview() {
    stop_playing();
    const Row* r = focused_row();
    ++generation_;
    preview_.reset();
    if (r) {
        preview_ = std::make_unique<Preview>();
        preview_->info = shown_text(fl3::printable_name(r->name) + ": decoding...");
        const std::uint32_t at = found_ ? found_->hits[static_cast<std::size_t>(r - rows_.data())].n : 0;
        previewer_.ask({generation_, file_of(*r), *r, at});
    }
    show_preview();
}

void Browser::take(Preview* p) {
    std::unique_ptr<Preview> owned(p);
    if (p->generation != generation_) return;
    preview_ = std::move(owned);
    show_preview();
}

void Browser::show_preview() {
    const bool text = preview_ && preview_->what == Preview::What::text;
    SetWindowTextW(text_, text ? preview_->text.c_str() : L"");
    if (text && preview_->line >= 0) {
        // The instruction found: selected, at the top.
        const LRESULT from = SendMessageW(text_, EM_LINEINDEX, static_cast<WPARAM>(preview_->line), 0);
        const LRESULT to = SendMessageW(text_, EM_LINEINDEX, static_cast<WPARAM>(preview_->line_end), 0);
        SendMessageW(text_, EM_SETSEL, static_cast<WPARAM>(from), to >= 0 ? to : from);
        SendMessageW(text_, EM_LINESCROLL, 0, preview_->line);
    }
    ShowWindow(text_, text ? SW_SHOW : SW_HIDE);
    EnableWindow(play_, preview_ && preview_->what == Preview::What::sound);
    refresh_pane();
}

// The lines above the preview: what is selected, or what the list holds.
std::wstring Browser::info_text() const {
    if (preview_) return preview_->info + (wave_ ? L" Playing." : L"");
    if (finding_) return L"Finding text...";
    if (found_)
        return shown_text(text::found_text(found_->counts, found_->what) +
                          (found_->hits.size() >= kMaxHits ? "; the search stopped there, the most the list shows" : ""));
    if (source_.empty()) return L"";
    if (!problem_.empty()) return shown_text(problem_);
    return shown_text(grouped(view_.size()) + " of " + grouped(rows_.size()) +
                      (archive_ ? (rows_.size() == 1 ? " member" : " members") : (rows_.size() == 1 ? " file" : " files")));
}

// The pane's text is its info lines (for screen readers), and it is drawn.
void Browser::refresh_pane() {
    SetWindowTextW(pane_, info_text().c_str());
    InvalidateRect(pane_, nullptr, TRUE);
}

void Browser::paint_pane(HWND pane) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(pane, &ps);
    RECT rc;
    GetClientRect(pane, &rc);
    FillRect(dc, &rc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    HGDIOBJ old_font = SelectObject(dc, font_ ? font_ : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    const std::wstring info = info_text();
    RECT top{4, 2, rc.right - 4, 40};
    DrawTextW(dc, info.c_str(), static_cast<int>(info.size()), &top, DT_WORDBREAK | DT_NOPREFIX);
    const int area_w = rc.right - 8, area_h = rc.bottom - 48;
    if (preview_ && preview_->what == Preview::What::picture && preview_->width > 0 && area_w > 0 && area_h > 0) {
        double scale = 1.0;
        if (SendMessageW(fit_, BM_GETCHECK, 0, 0) == BST_CHECKED)
            scale = std::min({1.0, static_cast<double>(area_w) / preview_->width, static_cast<double>(area_h) / preview_->height});
        const int w = std::max(1, static_cast<int>(preview_->width * scale));
        const int h = std::max(1, static_cast<int>(preview_->height * scale));
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = static_cast<LONG>(preview_->width);
        bi.bmiHeader.biHeight = -static_cast<LONG>(preview_->height);
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        SetStretchBltMode(dc, scale < 1.0 ? HALFTONE : COLORONCOLOR);
        StretchDIBits(dc, 4, 44, w, h, 0, 0, static_cast<int>(preview_->width), static_cast<int>(preview_->height),
                      preview_->pixels.data(), &bi, DIB_RGB_COLORS, SRCCOPY);
    }
    if (preview_ && preview_->what == Preview::What::sound && area_w > 0 && area_h > 0) {
        const int mid = 44 + area_h / 2;
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 90, 160));
        HGDIOBJ old_pen = SelectObject(dc, pen);
        for (int x = 0; x < area_w; ++x) {
            const auto& [low, high] = preview_->peaks[static_cast<std::size_t>(x) * kWaveColumns / area_w];
            MoveToEx(dc, 4 + x, mid - high * (area_h / 2) / 32768, nullptr);
            LineTo(dc, 4 + x, mid - low * (area_h / 2) / 32768 + 1);
        }
        SelectObject(dc, old_pen);
        DeleteObject(pen);
    }
    SelectObject(dc, old_font);
    EndPaint(pane, &ps);
}

void Browser::toggle_play() {
    if (wave_) {
        stop_playing();
        return;
    }
    if (!preview_ || preview_->what != Preview::What::sound || preview_->sound.samples.empty()) return;
    const wv5::Header& h = preview_->sound.header;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = h.wav_channels();
    format.nSamplesPerSec = h.rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = h.block_align();
    format.nAvgBytesPerSec = h.rate * format.nBlockAlign;
    const MMRESULT opened = waveOutOpen(&wave_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window), 0,
                                        CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR) {
        wave_ = nullptr;
        wchar_t why[256] = {};
        waveOutGetErrorTextW(opened, why, 255);
        preview_->info += L"\nIt cannot be played: " + std::wstring(why);
        refresh_pane();
        return;
    }
    header_ = {};
    header_.lpData = reinterpret_cast<LPSTR>(preview_->sound.samples.data());
    header_.dwBufferLength = static_cast<DWORD>(preview_->sound.samples.size());
    if (waveOutPrepareHeader(wave_, &header_, sizeof header_) != MMSYSERR_NOERROR ||
        waveOutWrite(wave_, &header_, sizeof header_) != MMSYSERR_NOERROR) {
        stop_playing();
        return;
    }
    SetWindowTextW(play_, L"Stop");
    refresh_pane();
}

void Browser::stop_playing() {
    if (!wave_) return;
    HWAVEOUT w = wave_;
    wave_ = nullptr;
    waveOutReset(w);
    waveOutUnprepareHeader(w, &header_, sizeof header_);
    waveOutClose(w);
    SetWindowTextW(play_, L"Play");
    refresh_pane();
}

void Browser::played() { stop_playing(); }


// The selected members written into a folder chosen in the folder dialog:
// as they are, or decoded into their editable files, as extract-fl3 writes
// them. Files there are never replaced.
void Browser::save(bool decoded) {
    const auto rows = selected_rows();
    if (rows.empty()) {
        message_box(window, "Select the members to write first.", "Vidodide Browser", MB_OK | MB_ICONINFORMATION);
        return;
    }
    const auto folder = ask_folder(window, decoded ? "Select the folder to save the decoded members in"
                                                   : "Select the folder to extract the members into",
                                   platform::current_directory(), NewFolder::allowed);
    if (!folder) return;
    if (!platform::create_directory(*folder)) {
        message_box(window, *folder + " cannot be made", "Alert", MB_OK | MB_ICONHAND);
        return;
    }
    std::vector<formats::MemberBytes> members;
    for (const Row* r : rows) {
        const formats::MemberBytes m{file_of(*r), r->name, r->offset, r->size};
        // Two hits in one script write it once.
        const bool again = std::any_of(members.begin(), members.end(), [&](const formats::MemberBytes& o) {
            return o.file == m.file && o.offset == m.offset && o.name == m.name;
        });
        if (!again) members.push_back(m);
    }
    BrowserUi ui(window);
    const std::uint64_t written = formats::write_members(ui, members, *folder, {decoded, false});
    const std::string verb = decoded ? "Saving" : "Extracting";
    message_box(window,
                verb + (written == members.size() ? " OK: " : ": ") + grouped(written) +
                    (written == 1 ? " file" : " files") + " written to " + *folder,
                "Vidodide Browser", MB_OK | MB_ICONINFORMATION);
}

std::string Browser::file_of(const Row& r) const {
    if (found_) return found_->hits[static_cast<std::size_t>(&r - rows_.data())].file;
    return archive_ ? source_ : platform::join(source_, r.name);
}

// The list's column titles: a folder's or archive's, or Find Text's hits.
void Browser::show_columns() {
    const wchar_t* titles[2][5] = {{L"Name", L"Kind", L"Size", L"Offset", L"Status"}, {L"Script", L"N", L"Text", L"", L""}};
    const int widths[2][5] = {{140, 40, 70, 64, 66}, {150, 36, 260, 0, 0}};
    const int formats[2][5] = {{LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_RIGHT, LVCFMT_LEFT},
                               {LVCFMT_LEFT, LVCFMT_RIGHT, LVCFMT_LEFT, LVCFMT_LEFT, LVCFMT_LEFT}};
    for (int i = 0; i < 5; ++i) {
        LVCOLUMNW c = {};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        c.cx = widths[found_ ? 1 : 0][i];
        c.fmt = formats[found_ ? 1 : 0][i];
        c.pszText = const_cast<wchar_t*>(titles[found_ ? 1 : 0][i]);
        SendMessageW(list_, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&c));
    }
}

// The dialog that asks for the text: its text in and out through lparam.
INT_PTR CALLBACK find_text_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(dialog, DWLP_USER, lparam);
            SetDlgItemTextW(dialog, IDC_FIND_TEXT, reinterpret_cast<std::wstring*>(lparam)->c_str());
            SendDlgItemMessageW(dialog, IDC_FIND_TEXT, EM_SETSEL, 0, -1);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK) {
                auto* text = reinterpret_cast<std::wstring*>(GetWindowLongPtrW(dialog, DWLP_USER));
                const int n = GetWindowTextLengthW(GetDlgItem(dialog, IDC_FIND_TEXT));
                text->assign(static_cast<std::size_t>(n) + 1, L'\0');
                GetDlgItemTextW(dialog, IDC_FIND_TEXT, text->data(), n + 1);
                text->resize(static_cast<std::size_t>(n));
                EndDialog(dialog, text->empty() ? IDCANCEL : IDOK);
                return TRUE;
            }
            if (LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

// The Ui of Find Text's thread: its Alerts kept for the window to show.
class KeptAlerts : public Ui {
public:
    explicit KeptAlerts(std::vector<std::string>& alerts) : alerts_(alerts) {}
    void status(std::string_view, Draw) override {}
    void alert(std::string_view text) override { alerts_.emplace_back(text); }

private:
    std::vector<std::string>& alerts_;
};

// Find Text: every script text under the folder or archive opened that
// holds the text asked for, found on a thread of its own.
void Browser::find() {
    if (finding_ || root_.empty()) return;
    if (DialogBoxParamW(shell().instance, MAKEINTRESOURCEW(IDD_FIND_TEXT), window, find_text_proc,
                        reinterpret_cast<LPARAM>(&what_)) != IDOK)
        return;
    std::string what(static_cast<std::size_t>(
                         WideCharToMultiByte(CP_UTF8, 0, what_.c_str(), static_cast<int>(what_.size()), nullptr, 0, nullptr, nullptr)),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, what_.c_str(), static_cast<int>(what_.size()), what.data(), static_cast<int>(what.size()),
                        nullptr, nullptr);
    if (finder_.joinable()) finder_.join();
    finding_ = true;
    stop_finding_ = false;
    EnableWindow(find_, FALSE);
    stop_playing();
    ++generation_;
    preview_.reset();
    show_preview();
    finder_ = std::thread([this, root = root_, what, to = window] {
        auto f = std::make_unique<Found>();
        f->what = what;
        try {
            KeptAlerts ui(f->alerts);
            f->counts = text::find_text(
                ui, root, what, script::kGameCodepage,
                [&](const text::TextHit& h) {
                    f->hits.push_back(h);
                    return f->hits.size() < kMaxHits;
                },
                &stop_finding_);
        } catch (const std::bad_alloc&) {
            f->hits.clear();
            f->alerts.emplace_back("There is not enough memory to find the text.");
        }
        if (PostMessageW(to, kFindDone, 0, reinterpret_cast<LPARAM>(f.get()))) f.release();
    });
}

void Browser::take_found(Found* f) {
    std::unique_ptr<Found> owned(f);
    if (finder_.joinable()) finder_.join();
    finding_ = false;
    EnableWindow(find_, TRUE);
    stop_playing();
    found_ = std::move(owned);
    rows_.clear();
    rows_.reserve(found_->hits.size());
    for (const text::TextHit& h : found_->hits)
        rows_.push_back({h.member.empty() ? std::string(platform::split_path(h.file).name) : h.member, formats::Kind::ab,
                         h.size, h.offset});
    problem_.clear();
    sort_column_ = -1;
    show_columns();
    SetWindowTextW(filter_, L"");  // refilters
    refilter();
    if (!found_->alerts.empty()) {
        std::string text;
        for (std::size_t i = 0; i < found_->alerts.size() && i < 10; ++i) text += found_->alerts[i] + "\n";
        if (found_->alerts.size() > 10) text += "and " + grouped(found_->alerts.size() - 10) + " more\n";
        message_box(window, text + text::found_text(found_->counts, found_->what), "Alert", MB_OK | MB_ICONHAND);
    }
}

LRESULT Browser::notify(NMHDR* n) {
    if (n->idFrom == kTreeId) {
        if (n->code == TVN_ITEMEXPANDINGW) {
            auto* tv = reinterpret_cast<NMTREEVIEWW*>(n);
            if (tv->action & TVE_EXPAND) fill(tv->itemNew.hItem);
        } else if (n->code == TVN_SELCHANGEDW) {
            auto* tv = reinterpret_cast<NMTREEVIEWW*>(n);
            const auto index = static_cast<std::size_t>(tv->itemNew.lParam);
            if (index < nodes_.size() && (nodes_[index].path != source_ || found_)) {
                stop_playing();
                const Node node = nodes_[index];
                show_node(node);
            }
        }
        return 0;
    }
    if (n->idFrom != kListId) return 0;
    switch (n->code) {
        case LVN_GETDISPINFOW: {
            auto* d = reinterpret_cast<NMLVDISPINFOW*>(n);
            if (!(d->item.mask & LVIF_TEXT) || d->item.iItem < 0 || static_cast<std::size_t>(d->item.iItem) >= view_.size())
                return 0;
            const std::size_t at = view_[static_cast<std::size_t>(d->item.iItem)];
            const Row& r = rows_[at];
            if (found_) {
                // A hit: its script, its instruction and its text.
                const text::TextHit& h = found_->hits[at];
                switch (d->item.iSubItem) {
                    case 0:
                        cell_ = h.member.empty()
                                    ? shown_text(h.where)
                                    : shown_text(h.where.substr(0, h.where.size() - fl3::printable_name(h.member).size())) +
                                          game_text(fl3::printable_name(h.member));
                        break;
                    case 1: cell_ = from_code_page(std::to_string(h.n), CP_ACP); break;
                    case 2: cell_ = game_text(h.text); break;
                    default: cell_.clear(); break;
                }
            } else {
                switch (d->item.iSubItem) {
                    case 0: cell_ = archive_ ? game_text(fl3::printable_name(r.name)) : from_code_page(r.name, CP_ACP); break;
                    case 1: cell_ = kind_label(r.kind); break;
                    case 2: cell_ = from_code_page(grouped(r.size), CP_ACP); break;
                    case 3: cell_ = archive_ ? from_code_page(grouped(r.offset), CP_ACP) : L""; break;
                    default: {
                        const auto c = archive_ ? changes_.end() : changes_.find(platform::join(source_, r.name));
                        cell_ = c == changes_.end() ? L"" : from_code_page(c->second, CP_ACP);
                        break;
                    }
                }
            }
            if (d->item.cchTextMax > 0) {
                const std::size_t n_chars = std::min<std::size_t>(cell_.size(), static_cast<std::size_t>(d->item.cchTextMax - 1));
                std::copy_n(cell_.c_str(), n_chars, d->item.pszText);
                d->item.pszText[n_chars] = L'\0';
            }
            return 0;
        }
        case LVN_COLUMNCLICK: sort_by(reinterpret_cast<NMLISTVIEW*>(n)->iSubItem); return 0;
        case LVN_ITEMCHANGED: {
            auto* l = reinterpret_cast<NMLISTVIEW*>(n);
            if (l->iItem >= 0 && (l->uNewState & LVIS_FOCUSED) && !(l->uOldState & LVIS_FOCUSED)) ask_preview();
            return 0;
        }
        case LVN_KEYDOWN:
            if (reinterpret_cast<NMLVKEYDOWN*>(n)->wVKey == VK_SPACE) toggle_play();
            return 0;
        default: return 0;
    }
}

void Browser::command(int id, int code) {
    switch (id) {
        case kFilterId:
            if (code == EN_CHANGE) refilter();
            break;
        case kExtractId: save(false); break;
        case kSaveId: save(true); break;
        case kPlayId: toggle_play(); break;
        case kFitId: refresh_pane(); break;
        case kFindId: find(); break;
        case kRepackId:
            if (!work_.empty()) repack_work(main, work_);
            break;
        default: break;
    }
}

void Browser::close() {
    stop_playing();
    stop_finding_ = true;
    if (finder_.joinable()) finder_.join();
    if (previewer_started_) previewer_.stop();
    // Previews posted before the thread stopped.
    MSG m;
    while (PeekMessageW(&m, window, kPreviewDone, kPreviewDone, PM_REMOVE)) delete reinterpret_cast<Preview*>(m.lParam);
    while (PeekMessageW(&m, window, kFindDone, kFindDone, PM_REMOVE)) delete reinterpret_cast<Found*>(m.lParam);
    if (font_) DeleteObject(font_);
}

LRESULT CALLBACK pane_proc(HWND pane, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_PAINT && g_browser) {
        g_browser->paint_pane(pane);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(pane, message, wparam, lparam);
}

LRESULT CALLBACK browser_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Browser* b = g_browser;
    switch (message) {
        case WM_CREATE:
            b->window = window;
            b->create_children();
            DragAcceptFiles(window, TRUE);
            return 0;
        case WM_SIZE: b->layout(); return 0;
        case WM_NOTIFY: return b ? b->notify(reinterpret_cast<NMHDR*>(lparam)) : 0;
        case WM_COMMAND:
            if (b) b->command(LOWORD(wparam), HIWORD(wparam));
            return 0;
        case kPreviewDone:
            if (b) b->take(reinterpret_cast<Preview*>(lparam));
            else delete reinterpret_cast<Preview*>(lparam);
            return 0;
        case kFindDone:
            if (b) b->take_found(reinterpret_cast<Found*>(lparam));
            else delete reinterpret_cast<Found*>(lparam);
            return 0;
        case MM_WOM_DONE:
            if (b) b->played();
            return 0;
        case WM_DROPFILES: {
            auto drop = reinterpret_cast<HDROP>(wparam);
            char path[MAX_PATH] = {};
            const bool got = DragQueryFileA(drop, 0, path, MAX_PATH) > 0;
            DragFinish(drop);
            if (got && b) b->open(path);  // the window stays the same
            return 0;
        }
        case WM_DESTROY:
            if (b) {
                b->close();
                g_browser = nullptr;
                delete b;
            }
            return 0;
        default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

bool register_classes() {
    static bool done = false;
    if (done) return true;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = browser_proc;
    wc.hInstance = shell().instance;
    wc.hIcon = LoadIconW(shell().instance, MAKEINTRESOURCEW(IDI_VIDODIDE));
    wc.hIconSm = LoadIconW(shell().instance, MAKEINTRESOURCEW(IDI_SMALL));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClass;
    if (!RegisterClassExW(&wc)) return false;
    WNDCLASSEXW pane = {};
    pane.cbSize = sizeof pane;
    pane.lpfnWndProc = pane_proc;
    pane.hInstance = shell().instance;
    pane.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    pane.lpszClassName = kPaneClass;
    done = RegisterClassExW(&pane) != 0;
    return done;
}

}  // namespace

void open_in_browser(HWND main, const std::string& path) {
    if (!g_browser) {
        if (!register_classes()) return;
        g_browser = new Browser;
        HWND w = CreateWindowExW(WS_EX_ACCEPTFILES, kClass, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 980, 620, nullptr, nullptr, shell().instance, nullptr);
        if (!w) {
            delete g_browser;
            g_browser = nullptr;
            return;
        }
        ShowWindow(w, SW_SHOW);
    }
    g_browser->main = main;
    g_browser->open(path);
    SetForegroundWindow(g_browser->window);
}

void browse(HWND main) {
    const auto folder = ask_folder(main, "Select the folder to browse", platform::current_directory());
    if (folder) open_in_browser(main, *folder);
}

}  // namespace vid::app
