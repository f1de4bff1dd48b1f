#include "project/common.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <unordered_set>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "platform/output.h"
#include "platform/paths.h"

namespace vid::project {

namespace fs = std::filesystem;

std::string folder_arg(std::string folder) {
    const auto separator = [](char c) { return c == '/' || c == platform::kSeparator; };
    while (folder.size() > 1 && separator(folder.back()) && !(folder.size() == 3 && folder[1] == ':')) folder.pop_back();
    return folder;
}

std::optional<Bytes> read_file(const std::string& path, std::uint64_t limit) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    if (!size || *size > limit) return std::nullopt;
    Bytes data(static_cast<std::size_t>(*size));
    if (f->read_full(data) != data.size()) return std::nullopt;
    return data;
}

bool write_file(Ui& ui, const std::string& path, ByteView bytes) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    auto out = create_output(ui, path);
    if (!out) return false;
    if (!out->file().write(bytes) || !out->commit()) {
        ui.alert(cant_write(path));
        return false;
    }
    return true;
}

bool copy_bytes(fl3::FileReader& in, std::uint64_t pos, std::uint64_t n, platform::File* out, Hasher* hash,
                Bytes* keep, bool* short_read) {
    if (short_read) *short_read = false;
    in.seek(pos);
    while (n > 0) {
        const ByteView v = in.next(static_cast<std::size_t>(std::min<std::uint64_t>(n, std::size_t{1} << 20)));
        if (v.empty()) {
            if (short_read) *short_read = true;
            return false;
        }
        if (hash) hash->update(v);
        if (keep) keep->insert(keep->end(), v.begin(), v.end());
        if (out && !out->write(v)) return false;
        n -= v.size();
    }
    return true;
}

Copy copy_member(platform::File& file, fl3::FileReader& in, std::uint64_t pos, std::uint64_t n, platform::File& out,
                 const std::function<bool(std::uint64_t)>& piece) {
    constexpr std::uint64_t kPiece = std::uint64_t{8} << 20;
    for (std::uint64_t done = 0; done < n;) {
        const std::uint64_t k = std::min(n - done, kPiece);
        std::uint64_t copied = 0;
        if (k >= fl3::kSystemCopyMin) copied = out.copy_range_from(file, pos + done, k);
        bool short_read = false;
        if (copied < k && !copy_bytes(in, pos + done + copied, k - copied, &out, nullptr, nullptr, &short_read))
            return short_read ? Copy::read_failed : Copy::write_failed;
        done += k;
        if (piece && !piece(done)) return Copy::stopped;
    }
    return Copy::done;
}

Stamp stamp_of(const std::string& path) {
    Stamp s;
#ifdef _WIN32
    // The system's own times, in 100 ns: the C library's keep only seconds.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return s;
    s.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    s.time = static_cast<std::int64_t>((std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                       data.ftLastWriteTime.dwLowDateTime);
#else
    // One call for both (a work folder has thousands of files to look at).
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
    // The time on the file system's clock, as std::filesystem tells it (the
    // stamps of earlier versions hold it so).
    const std::chrono::sys_time<std::chrono::nanoseconds> time{std::chrono::seconds(st.st_mtim.tv_sec) +
                                                               std::chrono::nanoseconds(st.st_mtim.tv_nsec)};
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.time = std::chrono::file_clock::from_sys(time).time_since_epoch().count();
#endif
    return s;
}

bool write_text_file(Ui& ui, const std::string& path, const std::function<bool(const TextSink&)>& write) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    auto out = create_output(ui, path);
    if (!out) return false;
    fl3::FileWriter w(out->file(), std::size_t{1} << 20);
    const bool written = write([&w](std::string_view piece) {
        return w.write(ByteView(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
    });
    if (!written || !w.flush() || !out->commit()) {
        ui.alert(cant_write(path));
        return false;
    }
    return true;
}

Change change_of(const std::string& work, const Item& item) {
    // A member without a member file changes only through its editable file.
    bool deleted = false, replaced = false;
    if (!item.file.empty()) {
        const std::string member = under(work, item.file);
        // A stamp is kept only when the file still showed it as it was read.
        const bool same_stamp = item.file_stamp.known();
        const auto member_hash = same_stamp ? std::optional<Hash>(item.hash) : hash_file(member);
        std::error_code ec;
        deleted = !member_hash && !fs::exists(member, ec);
        replaced = !deleted && (!member_hash || *member_hash != item.hash);
    }
    bool edited = false;
    if (!item.edit.empty()) {
        const std::string edit = under(work, item.edit);
        const bool same_stamp = item.edit_stamp.known();
        const auto edit_hash = same_stamp ? std::optional<Hash>(item.edit_hash) : hash_file(edit);
        // One that is there but cannot be read (another program holds it)
        // may hold an edit: it counts as edited, and repack says why it
        // cannot take it, rather than dropping the edit unseen.
        std::error_code ec;
        edited = edit_hash ? *edit_hash != item.edit_hash : fs::exists(edit, ec);
    }
    if (edited && replaced) return Change::conflict;
    if (edited) return Change::edited;
    if (replaced) return Change::replaced;
    if (deleted) return Change::deleted;
    return Change::none;
}

bool ArchiveChanges::any() const {
    return !added.empty() || std::any_of(members.begin(), members.end(), [](Change c) { return c != Change::none; });
}

int Changes::count() const {
    int n = 0;
    for (const auto& a : archives) {
        n += static_cast<int>(a.added.size());
        n += static_cast<int>(std::count_if(a.members.begin(), a.members.end(), [](Change c) { return c != Change::none; }));
    }
    return n + static_cast<int>(std::count_if(loose.begin(), loose.end(), [](Change c) { return c != Change::none; }));
}

namespace {

// Calls look(from, to) over 0..n in runs that follow each other, on up to
// `threads` threads (each run at least 256 long): work on thousands of files.
void in_runs(std::size_t n, std::size_t threads, const std::function<void(std::size_t, std::size_t)>& look) {
    threads = std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(1, n / 256));
    std::vector<std::thread> others;
    for (std::size_t t = 1; t < threads; ++t) others.emplace_back(look, n * t / threads, n * (t + 1) / threads);
    look(0, n / threads);
    for (auto& t : others) t.join();
}

}  // namespace

std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

namespace {

// "NAME.orig" (any case) for a member NAME (the encoders find their
// originals in any case, and keep them under the name on disk);
// `lower_members` gives the members' names in lower case.
bool is_backup_of_member(const std::string& name, const std::function<const std::set<std::string>&()>& lower_members) {
    const std::string low = lower_ascii(name);
    constexpr std::string_view kOrig = ".orig";
    return low.size() > kOrig.size() && low.ends_with(kOrig) &&
           lower_members().count(low.substr(0, low.size() - kOrig.size())) > 0;
}

}  // namespace

Changes changes_of(const std::string& work, const Manifest& m, unsigned jobs) {
    // Every item on its own, on `jobs` threads.
    std::vector<const Item*> items;
    for (const Archive& a : m.archives)
        for (const Item& it : a.members) items.push_back(&it);
    for (const Item& it : m.loose) items.push_back(&it);
    std::vector<Change> found(items.size());
    in_runs(items.size(), jobs, [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) found[i] = change_of(work, *items[i]);
    });

    Changes c;
    std::size_t next = 0;
    for (const Archive& a : m.archives) {
        ArchiveChanges ac;
        ac.members.assign(found.begin() + static_cast<std::ptrdiff_t>(next),
                          found.begin() + static_cast<std::ptrdiff_t>(next + a.members.size()));
        next += a.members.size();
        std::unordered_set<std::string_view> names;
        names.reserve(a.members.size());
        for (const Item& it : a.members) names.insert(it.name);
        std::set<std::string> lower_names;  // made for the first file that may be a backup
        const auto lower = [&]() -> const std::set<std::string>& {
            if (lower_names.empty())
                for (const Item& it : a.members) lower_names.insert(lower_ascii(it.name));
            return lower_names;
        };
        std::error_code ec;
        if (!a.problem.empty() && a.members.empty()) {
            c.archives.push_back(std::move(ac));
            continue;
        }
        for (fs::directory_iterator d(under(work, a.folder), ec), end; !ec && d != end; d.increment(ec)) {
            std::error_code e2;
            if (!d->is_regular_file(e2) || d->is_symlink(e2)) continue;
            const std::string name = path_text(d->path().filename());
            if (names.count(name) || fl3::is_index_name(name)) continue;
            if (name.size() > 7 && name.rfind("~vd", 0) == 0 && name.substr(name.size() - 4) == ".tmp") continue;
            // The original that an encoder or import-text kept of a member it
            // replaced: a backup, never a member of its own.
            if (is_backup_of_member(name, lower)) continue;
            ac.added.push_back(name);
        }
        std::sort(ac.added.begin(), ac.added.end());
        c.archives.push_back(std::move(ac));
    }
    c.loose.assign(found.begin() + static_cast<std::ptrdiff_t>(next), found.end());
    return c;
}

namespace {

// Calls `f` on every item of `m` (a Manifest, const or not).
template <typename M, typename F>
void each_item(M& m, F f) {
    for (auto& a : m.archives)
        for (auto& it : a.members) f(it);
    for (auto& it : m.loose) f(it);
}

}  // namespace

bool write_stamps(Ui& ui, const std::string& work, const Manifest& m) {
    return write_text_file(ui, platform::join(work, kStampsName), [&m](const TextSink& out) {
        std::string line;
        bool ok = true;
        const auto put = [&](const Stamp& stamp, const Text& path) {
            if (!stamp.known() || path.empty() || path.view().find_first_of("\t\n") != std::string_view::npos) return;
            line = stamp_text(stamp);
            line += '\t';
            line += path.view();
            line += '\n';
            ok = ok && out(line);
        };
        each_item(m, [&](const Item& it) {
            put(it.file_stamp, it.file);
            put(it.edit_stamp, it.edit);
        });
        return ok;
    });
}

bool write_manifest(Ui& ui, const std::string& work, const Manifest& m) {
    return write_text_file(ui, platform::join(work, kManifestName),
                           [&m](const TextSink& out) { return write_json(m, out); });
}

namespace {

// Calls `line` on each line of the file `path` (without its line break);
// false when it cannot be read.
bool each_line(const std::string& path, const std::function<void(std::string_view)>& line) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    if (!size) return false;
    Bytes buf(std::size_t{64} << 10);
    std::string rest;
    std::uint64_t total = 0;
    for (std::size_t n; (n = f->read(buf)) > 0;) {
        total += n;
        std::string_view piece(reinterpret_cast<const char*>(buf.data()), n);
        for (std::size_t end; (end = piece.find('\n')) != std::string_view::npos; piece.remove_prefix(end + 1)) {
            if (rest.empty()) {
                line(piece.substr(0, end));
            } else {
                rest += piece.substr(0, end);
                line(rest);
                rest.clear();
            }
        }
        rest += piece;
    }
    if (!rest.empty()) line(rest);
    return total == *size;
}

// Fills in the stamps of the stamps file that the files named there still
// show. The file lists the items' files in the manifest's order, so each
// line is looked for only among the next few files of the manifest: a
// stamps file edited by hand costs no more than one in order. Stamps not
// older than the stamps file itself are left out (such a file may have been
// changed again within the clock's step after it was stamped).
void take_stamps(const std::string& work, Manifest& m) {
    const std::string path = platform::join(work, kStampsName);
    const Stamp written = stamp_of(path);
    if (!written.known()) return;
    std::vector<Item*> items;
    each_item(m, [&items](Item& it) { items.push_back(&it); });
    // Slot 2i is the member file of item i, 2i + 1 its editable file.
    const auto slot_path = [&items](std::size_t slot) -> const Text& {
        return slot % 2 == 0 ? items[slot / 2]->file : items[slot / 2]->edit;
    };
    constexpr std::size_t kLookAhead = 64;
    std::size_t next = 0;
    const bool read = each_line(path, [&](std::string_view line) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return;
        const Stamp stamp = stamp_of_text(line.substr(0, tab));
        const std::string_view file = line.substr(tab + 1);
        if (!stamp.known() || stamp.time >= written.time || file.empty()) return;
        for (std::size_t slot = next; slot < 2 * items.size() && slot < next + kLookAhead; ++slot) {
            if (slot_path(slot).view() != file) continue;
            (slot % 2 == 0 ? items[slot / 2]->file_stamp : items[slot / 2]->edit_stamp) = stamp;
            next = slot + 1;
            return;
        }
    });
    if (!read) {
        each_item(m, [](Item& it) { it.file_stamp = it.edit_stamp = Stamp(); });
        return;
    }
    in_runs(items.size(), std::thread::hardware_concurrency(), [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            Item& it = *items[i];
            if (it.file_stamp.known() && stamp_of(under(work, it.file.view())) != it.file_stamp) it.file_stamp = Stamp();
            if (it.edit_stamp.known() && stamp_of(under(work, it.edit.view())) != it.edit_stamp) it.edit_stamp = Stamp();
        }
    });
}

}  // namespace

std::optional<Manifest> load_manifest(Ui& ui, const std::string& work) {
    const std::string path = platform::join(work, kManifestName);
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    if (!size) {
        std::error_code ec;
        ui.alert(fs::exists(path, ec) ? cant_read(path)
                                      : format("%s is not a work folder of unpack: it has no %s", {work, kManifestName}));
        return std::nullopt;
    }
    std::uint64_t total = 0;
    bool short_read = false;  // the system read less than the file holds
    std::string why;
    auto m = read_json(
        [&](std::span<char> out) {
            const std::size_t n = f->read(std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
            total += n;
            short_read = short_read || (n == 0 && total < *size);
            return n;
        },
        why);
    if (short_read) {
        ui.alert(cant_read(path));
        return std::nullopt;
    }
    if (!m) {
        ui.alert(format("%s is not a manifest that this version reads: %s", {path, why}));
        return m;
    }
    take_stamps(work, *m);
    return m;
}

}  // namespace vid::project
