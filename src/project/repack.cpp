// Status and repack: what changed in a work folder since unpack, and the
// patch folder of the archives and loose files that hold those changes.
#include <algorithm>
#include <array>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "platform/output.h"
#include "platform/paths.h"
#include "project/common.h"
#include "project/delta.h"
#include "project/patch.h"
#include "core/pool.h"
#include "project/project.h"
#include "wv5/codec.h"

namespace vid::project {

namespace fs = std::filesystem;

namespace {

std::string member_text(const Archive& a, const Item& it) { return a.path + ":" + fl3::printable_name(it.name); }

// The status text of one change, or nothing for none.
std::string change_text(Change c, const std::string& member_file, const std::string& edit_file,
                        const std::string& target) {
    switch (c) {
        case Change::edited: return format("Edited: %s (encoded back into %s)", {edit_file, target});
        case Change::replaced: return format("Replaced: %s (packed as it is into %s)", {member_file, target});
        case Change::conflict:
            return format("Conflict: %s and %s both changed (repack refuses %s)", {member_file, edit_file, target});
        case Change::deleted: return format("Deleted: %s (the original's bytes are kept)", {member_file});
        case Change::none: break;
    }
    return {};
}

// The Alert for an edited file that cannot be read.
std::string in_use_text(const std::string& file) {
    return cant_read(file) + ": it may be open in another program. Close it there and repack again";
}

// The Alert for a file of the work folder that is a link.
std::string link_text(const std::string& file, const std::string& target) {
    return format("%s is a link: repack reads no file of the work folder through a link, so that nothing from "
                  "elsewhere goes into the patch. Put the file itself there. %s is not written",
                  {file, target});
}

// How the original of an edited file was found.
enum class Original { ok, unreadable, changed };

// The original of an edited file (a member of the game's archive, at `pos`
// in `in`), checked as it is read against the hash that unpack saw: its
// bytes, or only the first of a sound's (its header, which is all the
// encoder takes), as a sound streams through.
Original read_original(fl3::FileReader& in, std::uint64_t pos, const Item& it, Bytes& out) {
    Hasher hash;
    const std::uint64_t kept = streams(it.kind) ? std::min<std::uint64_t>(it.size, wv5::kHeaderSize) : it.size;
    out.clear();
    if (!copy_bytes(in, pos, kept, nullptr, &hash, &out) ||
        !copy_bytes(in, pos + kept, it.size - kept, nullptr, &hash, nullptr))
        return Original::unreadable;
    return hash.value() == it.hash ? Original::ok : Original::changed;
}

// The same for a loose file of the game.
Original read_loose_original(const std::string& path, const Item& it, Bytes& out) {
    auto f = platform::File::open(path, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    if (!size) return Original::unreadable;
    if (*size != it.size) return Original::changed;
    fl3::FileReader in(*f, *size, std::size_t{64} << 10);
    return read_original(in, 0, it, out);
}

// Whether an encoded sound, pulled from `packed`, decodes to the edited
// WAV file `edit`, as verify_member tells it for the kinds in memory;
// nothing when `edit` cannot be read.
std::optional<Verdict> sound_verdict(wv5::Source& packed, const std::string& edit) {
    auto f = platform::File::open(edit, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    if (!size) return std::nullopt;
    Verdict v;
    wv5::FileInput wav(*f, *size);
    try {
        v.ok = wv5::decodes_to(packed, wav, v.why, v.note);
    } catch (const std::bad_alloc&) {
        v = {false, "not enough memory to check it", {}};
    }
    return v;
}

// An edited member, encoded.
struct Encoded {
    Bytes bytes;                            // the new member
    std::optional<platform::Output> sound;  // or, for a sound, the temporary file that holds it
    std::uint64_t recoloured = 0;
};

// A member of the archive being written: where its bytes come from. One
// per member of an archive of up to 65,535: small.
struct Part {
    const Item* item = nullptr;  // nothing for an added file
    std::string added;           // an added file's name
    Change change = Change::none;
    std::uint64_t size = 0;
    std::unique_ptr<Encoded> encoded;  // edited
    const std::string& name() const { return item ? item->name : added; }
    // Packed from the work folder's file (see Repack::file_of).
    bool from_work() const { return change == Change::replaced; }
};

// How far the archive being written has come, for the check that reads
// it back meanwhile on another thread.
class Progress {
public:
    // The archive's bytes up to `end` are written, and its first `parts` members whole.
    void wrote(std::uint64_t end, std::size_t parts) {
        {
            std::lock_guard lock(mutex_);
            end_ = end;
            parts_ = parts;
        }
        changed_.notify_all();
    }
    void finish(bool ok) {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
            ok_ = ok;
        }
        changed_.notify_all();
    }
    // Each waits for its part of the writing: false when the writing ended first.
    bool bytes(std::uint64_t end) { return wait([&] { return end_ >= end; }); }
    bool parts(std::size_t n) { return wait([&] { return parts_ >= n; }); }
    bool all() { return wait([&] { return done_ && ok_; }); }

private:
    template <typename F>
    bool wait(F reached) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return reached() || done_; });
        return reached();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t end_ = 0;
    std::size_t parts_ = 0;
    bool done_ = false, ok_ = false;
};

// The archive being written, read back from `at` as far as it is written,
// for the sound decoder.
class WrittenSource : public wv5::Source {
public:
    WrittenSource(platform::File& f, std::uint64_t at, std::uint64_t n, Progress& tally)
        : f_(f), pos_(at), left_(n), tally_(tally) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), left_));
        if (k == 0 || state_ != 1) return 0;
        if (!tally_.bytes(pos_ + k)) {
            state_ = 0;
            return 0;
        }
        if (!f_.seek(pos_) || f_.read_full(out.first(k)) != k) {
            state_ = -1;
            return 0;
        }
        pos_ += k;
        left_ -= k;
        return k;
    }
    // 1 while all is read, 0 when the writing ended first, -1 when the
    // system read less.
    int state() const { return state_; }

private:
    platform::File& f_;
    std::uint64_t pos_, left_;
    Progress& tally_;
    int state_ = 1;
};

class Repack {
public:
    int go(const Changes& changes);

private:
    bool archive(const Archive& a, const ArchiveChanges& c);
    bool write_archive(const Archive& a, std::vector<Part>& parts, platform::File& original_file,
                       fl3::FileReader& original, platform::File& f, const std::string& path, Progress& tally);
    // Reads the archive back as it is written: what is wrong with it, or
    // nothing (also when the writing ended first: the writer tells why).
    std::string verify(const Archive& a, const std::vector<Part>& parts, platform::File& f, Progress& tally,
                       std::vector<std::string>& notes) const;
    bool loose(const Item& it, Change c);
    // The work folder's file that a replaced or added member is packed from.
    std::string file_of(const Archive& a, const Part& p) const {
        return p.item ? under(work_, p.item->file) : platform::join(under(work_, a.folder), p.added);
    }
    // Encodes the edited file over `original` (see read_original), or takes
    // what a worker encoded; false after an Alert.
    bool encode(Part& p, const std::string& edit_path, Bytes original);
    // Starts encoding every edited file on the workers, each with its
    // original's bytes; encode() then takes the result.
    void start_encoding(const Changes& changes);

    // One edited file being encoded.
    struct Job {
        Kind kind = Kind::other;
        std::string edit_path;
        Bytes original;
        bool read = false;  // the edited file could be read
        Converted c;
        // A sound, which streams through: its temporary file in the patch
        // folder, never committed (it goes when it is let go, or on an
        // interrupt).
        std::optional<platform::Output> sound;
        BufferUi ui;  // what the encoder told, replayed when its result is taken
        std::size_t task = 0;
    };
    // Encodes job.edit_path over job.original, into memory or (a sound) into
    // a temporary file of `out`.
    static void run(Job& job, bool utf8, const std::string& out);
    std::shared_ptr<Job> job_for(const Item& it, Bytes original) const;

    Ui& ui_;
    std::string work_, out_;
    const Manifest& m_;
    std::vector<std::string> notes_;
    std::vector<PatchedFile> patched_;  // the files written whole, for the patch's description
    // The result's hash, from `f` as written; false after an Alert (or with
    // stopped_at_ set to `what` when a stop came meanwhile).
    bool hash_result(platform::File* f, const std::string& path, const std::string& what, FileHash& out);
    Pool pool_;
    std::map<const Item*, std::shared_ptr<Job>> jobs_;
    const std::atomic<bool>* stop_;
    bool utf8_;
    bool delta_;
    // Writes the delta of the archive `path` (written and checked, in
    // `result`) against the game's own, and checks it; `made` is set to the
    // archive's size and hash, taken from the bytes the delta is made of.
    // False after an Alert or a stop.
    bool write_delta(const Archive& a, platform::File& original, platform::File& result, const std::string& path,
                     FileHash& made);
    std::string stopped_at_;  // the archive and member, or loose file, where a stop came
    bool stopped() const { return stop_ && stop_->load(); }
    std::uint64_t step_ = 0, steps_ = 0;  // the archive or loose file being written, of how many
    std::string progress(const std::string& what) const {
        return format("Repacking %s of %s: %s", {grouped(step_), grouped(steps_), what});
    }

public:
    Repack(Ui& ui, std::string work, std::string out, const Manifest& m, const RepackOptions& options)
        : ui_(ui),
          work_(std::move(work)),
          out_(std::move(out)),
          m_(m),
          pool_(options.jobs),
          stop_(options.stop),
          utf8_(options.utf8),
          delta_(options.delta) {}
};

std::shared_ptr<Repack::Job> Repack::job_for(const Item& it, Bytes original) const {
    auto job = std::make_shared<Job>();
    job->kind = it.kind;
    job->edit_path = under(work_, it.edit);
    job->original = std::move(original);
    return job;
}

void Repack::run(Job& job, bool utf8, const std::string& out) {
    if (!streams(job.kind)) {
        const auto edited = read_file(job.edit_path);
        job.read = edited.has_value();
        if (job.read) job.c = encode_member(job.kind, *edited, job.original, job.edit_path, &job.ui, utf8);
        Bytes().swap(job.original);
        return;
    }
    auto f = platform::File::open(job.edit_path, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    job.read = size.has_value();
    if (!job.read) return;
    // Only the temporary file is used, under a name that no file of the
    // patch takes (they end in .fl3, .bm2, .wv5 or .ab).
    auto sound = platform::Output::create(platform::join(out, "sound.tmp"), platform::Existing::keep);
    if (!sound) {
        job.c.why = cant_write(out);
        return;
    }
    wv5::FileInput wav(*f, *size);
    wv5::FileOutput written(sound->file());
    try {
        if (wv5::encode_over_member(job.ui, wav, job.edit_path, job.original, written, job.c.why))
            job.sound = std::move(sound);
    } catch (const std::bad_alloc&) {
        job.c.why = "not enough memory to encode it";
    }
}

void Repack::start_encoding(const Changes& changes) {
    const auto submit = [&](const Item& it, Bytes original) {
        auto job = job_for(it, std::move(original));
        job->task = pool_.submit([job, utf8 = utf8_, out = out_] { run(*job, utf8, out); });
        jobs_[&it] = job;
    };
    for (std::size_t i = 0; i < m_.archives.size() && !stopped(); ++i) {
        const Archive& a = m_.archives[i];
        const auto& c = changes.archives[i].members;
        if (std::find(c.begin(), c.end(), Change::edited) == c.end()) continue;
        // The archive is read here for the originals of its edited members
        // only; archive() tells about one that cannot be read.
        fl3::ArchiveReader archive(under(m_.game, a.path));
        const bool opened = archive.opened() != fl3::Opened::cant_open && archive.opened() != fl3::Opened::cant_read;
        if (!opened || archive.size() != a.size) continue;
        fl3::FileReader& in = archive.reader();
        for (std::size_t k = 0; k < a.members.size(); ++k) {
            if (c[k] != Change::edited || stopped()) continue;
            Bytes original;
            if (read_original(in, a.members[k].offset, a.members[k], original) == Original::ok)
                submit(a.members[k], std::move(original));
        }
    }
    for (std::size_t i = 0; i < m_.loose.size(); ++i) {
        if (changes.loose[i] != Change::edited) continue;
        Bytes original;
        if (read_loose_original(under(m_.game, m_.loose[i].name), m_.loose[i], original) == Original::ok)
            submit(m_.loose[i], std::move(original));
    }
}

bool Repack::encode(Part& p, const std::string& edit_path, Bytes original) {
    std::shared_ptr<Job> job;
    if (const auto found = jobs_.find(p.item); found != jobs_.end()) {
        job = found->second;
        jobs_.erase(found);
        pool_.wait(job->task);
    } else {
        job = job_for(*p.item, std::move(original));
        run(*job, utf8_, out_);
    }
    job->ui.replay(ui_);
    if (!job->read) {
        ui_.alert(in_use_text(edit_path));
        return false;
    }
    Converted& c = job->c;
    if (!c.bytes && !job->sound) {
        // The reason may hold line breaks of its own.
        ui_.alert(format("%s cannot be encoded: ", {edit_path}) + c.why);
        return false;
    }
    if (!c.note.empty()) notes_.push_back(edit_path + ": " + c.note);
    p.encoded = std::make_unique<Encoded>();
    p.encoded->recoloured = c.recoloured;
    if (job->sound) {
        const auto size = job->sound->file().size();
        if (!size) {
            ui_.alert(cant_read(out_));
            return false;
        }
        p.encoded->sound = std::move(job->sound);
        p.size = *size;
    } else {
        p.encoded->bytes = std::move(*c.bytes);
        p.size = p.encoded->bytes.size();
    }
    return true;
}

bool Repack::write_archive(const Archive& a, std::vector<Part>& parts, platform::File& original_file,
                           fl3::FileReader& original, platform::File& f, const std::string& path,
                           Progress& tally) {
    const auto cant_write = [&] {
        ui_.alert(vid::cant_write(path));
        return false;
    };
    fl3::FileWriter out(f, std::size_t{64} << 10);
    fl3::ArchiveWriter archive(out);
    if (!archive.reserve_header() || !out.flush()) return cant_write();  // the header is written last
    ui_.status(progress(a.path + ", " + grouped(parts.size()) + " members"), Draw::now);
    // Members taken from the original that follow each other there are
    // copied as one range.
    const auto from_original = [](const Part& p) { return p.change != Change::edited && !p.from_work(); };
    for (std::size_t k = 0; k < parts.size(); ++k) {
        Part& p = parts[k];
        if (stopped()) {
            // The unfinished archive is discarded with its output.
            stopped_at_ = a.path + " " + fl3::printable_name(p.name());
            return false;
        }
        const std::uint64_t start = archive.data_end();
        // A stop also comes between the pieces of a large member.
        const auto piece = [&](std::uint64_t done) {
            tally.wrote(start + done, k);
            if (!stopped()) return true;
            std::size_t at = k;  // the member being copied, of a run taken from the original
            for (std::uint64_t sum = 0; at + 1 < parts.size() && from_original(parts[at]) &&
                                        sum + parts[at].item->size <= done;
                 ++at)
                sum += parts[at].item->size;
            stopped_at_ = a.path + " " + fl3::printable_name(parts[at].name());
            return false;
        };
        Copy copied = Copy::done;
        std::string source;  // the file read, named when it cannot be
        if (from_original(p)) {
            std::uint64_t n = p.item->size;
            std::size_t last = k;
            while (last + 1 < parts.size() && from_original(parts[last + 1]) &&
                   parts[last + 1].item->offset == p.item->offset + n) {
                n += parts[++last].item->size;
            }
            source = under(m_.game, a.path);
            copied = copy_member(original_file, original, p.item->offset, n, f, piece);
            for (std::size_t i = k; i <= last; ++i) archive.add(parts[i].name(), static_cast<std::uint32_t>(parts[i].size));
            k = last;
        } else if (p.change == Change::edited && p.encoded->sound) {
            auto sound = p.encoded->sound->reader();
            if (!sound) return cant_write();
            fl3::FileReader r(*sound, p.size, std::size_t{64} << 10);
            copied = copy_member(*sound, r, 0, p.size, f, piece);
            archive.add(p.name(), static_cast<std::uint32_t>(p.size));
        } else if (p.change == Change::edited) {
            if (!out.write(p.encoded->bytes) || !out.flush()) copied = Copy::write_failed;
            archive.add(p.name(), static_cast<std::uint32_t>(p.size));
        } else {
            const std::string file = file_of(a, p);
            auto in = platform::File::open(file, platform::OpenMode::read_existing);
            const auto size = in ? in->size() : std::nullopt;
            if (!size || *size > fl3::kMaxMemberSize) {
                ui_.alert(size ? format("%s is too large for an FL3 archive", {file}) : cant_read(file));
                return false;
            }
            p.size = *size;
            fl3::FileReader r(*in, *size);
            source = file;
            copied = copy_member(*in, r, 0, *size, f, piece);
            archive.add(p.name(), static_cast<std::uint32_t>(p.size));
        }
        if (copied == Copy::stopped) return false;
        if (copied == Copy::read_failed && !source.empty()) {
            ui_.alert(format("%s: %s is not written", {cant_read(source), path}));
            return false;
        }
        if (copied != Copy::done) return cant_write();
        if (archive.data_end() > 0xFFFFFFFFu) {
            ui_.alert(format("The members of %s take 4 GiB or more, more than an FL3 archive can hold", {path}));
            return false;
        }
        tally.wrote(archive.data_end(), k + 1);
    }
    return archive.finish() || cant_write();
}

std::string Repack::verify(const Archive& a, const std::vector<Part>& parts, platform::File& f, Progress& tally,
                           std::vector<std::string>& notes) const {
    const std::string unreadable = "it cannot be read back";
    Bytes buf(std::size_t{1} << 20);
    // Reads `n` bytes of the archive from `at` as they are written, piece by
    // piece into `use`: 1 when all were read, 0 when the writing ended
    // first, -1 when the system read less.
    const auto each_piece = [&](std::uint64_t at, std::uint64_t n, const auto& use) {
        for (std::uint64_t done = 0; done < n;) {
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, buf.size()));
            if (!tally.bytes(at + done + k)) return 0;
            if (!f.seek(at + done) || f.read_full(std::span(buf).first(k)) != k) return -1;
            if (!use(ByteView(buf).first(k))) return 1;
            done += k;
        }
        return 1;
    };
    std::uint64_t at = fl3::kHeaderSize;
    std::vector<std::uint64_t> starts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Part& p = parts[i];
        // A work folder's file is measured as it is copied.
        if (p.from_work() && !tally.parts(i + 1)) return {};
        starts.push_back(at);
        int read = 1;
        if (p.change == Change::edited && p.encoded->sound) {
            WrittenSource packed(f, at, p.size, tally);
            const auto v = sound_verdict(packed, under(work_, p.item->edit));
            read = packed.state();
            if (read == 1) {
                if (!v) return format("%s cannot be read back", {p.item->edit});
                if (!v->ok) return format("member %s does not decode to %s: %s", {p.name(), p.item->edit, v->why});
                if (!v->note.empty()) notes.push_back(format("%s in %s: %s", {p.name(), a.path, v->note}));
            }
        } else if (p.change == Change::edited) {
            Bytes got;
            read = each_piece(at, p.size, [&](ByteView v) {
                got.insert(got.end(), v.begin(), v.end());
                return true;
            });
            if (read == 1) {
                const auto edited = read_file(under(work_, p.item->edit));
                if (!edited) return format("%s cannot be read back", {p.item->edit});
                const Verdict v = verify_member(p.item->kind, got, *edited, p.encoded->recoloured, utf8_);
                if (!v.ok) return format("member %s does not decode to %s: %s", {p.name(), p.item->edit, v.why});
                if (!v.note.empty()) notes.push_back(format("%s in %s: %s", {p.name(), a.path, v.note}));
            }
        } else if (p.from_work()) {
            const std::string file = file_of(a, p);
            auto w = platform::File::open(file, platform::OpenMode::read_existing);
            const auto wsize = w ? w->size() : std::nullopt;
            if (!wsize || *wsize != p.size) return format("member %s differs from %s", {p.name(), file});
            Bytes theirs;
            bool same = true;
            read = each_piece(at, p.size, [&](ByteView v) {
                theirs.resize(v.size());
                same = w->read_full(theirs) == v.size() && std::equal(v.begin(), v.end(), theirs.begin());
                return same;
            });
            if (read == 1 && !same) return format("member %s differs from %s", {p.name(), file});
        } else {
            // The bytes that unpack found there, by their hash: one read of
            // the new archive, none of the original.
            Hasher hash;
            read = each_piece(at, p.size, [&](ByteView v) {
                hash.update(v);
                return true;
            });
            if (read == 1 && hash.value() != p.item->hash)
                return format("member %s is not byte-identical to the original's as unpacked", {p.name()});
        }
        if (read == 0) return {};
        if (read < 0) return unreadable;
        at += p.size;
    }
    if (!tally.all()) return {};
    const auto size = f.size();
    if (!size) return unreadable;
    fl3::ArchiveReader back(f, *size, std::size_t{64} << 10);  // for the directory only
    if (back.opened() == fl3::Opened::cant_read) return unreadable;
    const fl3::Header& h = back.header();
    if (back.opened() == fl3::Opened::too_short || h.entry_count != parts.size())
        return "its header does not count the members written";
    if (h.dir_offset != at) return "its header does not place the directory after the members";
    const fl3::Directory& dir = back.read_directory();
    if (dir.end != fl3::Directory::End::marker || dir.entries.size() != parts.size())
        return "its directory is not complete";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const fl3::Entry& e = dir.entries[i];
        if (e.name != parts[i].name())
            return format("its directory holds %s where %s belongs", {fl3::printable_name(e.name), parts[i].name()});
        if (e.size != parts[i].size || fl3::ArchiveReader::offset_of(e) != starts[i])
            return format("its directory does not place member %s where it was written", {parts[i].name()});
    }
    return {};
}

bool Repack::archive(const Archive& a, const ArchiveChanges& c) {
    const std::string path = under(out_, a.path);
    bool refused = false;
    for (std::size_t i = 0; i < a.members.size(); ++i)
        if (c.members[i] == Change::conflict) {
            const Item& it = a.members[i];
            ui_.alert(format("%s and %s both changed: repack refuses %s, and %s is not written. Restore one of them.",
                             {under(work_, it.file), under(work_, it.edit), member_text(a, it), path}));
            refused = true;
        }
    // Windows compares names without case: an added RAW.DAT beside the
    // member raw.dat would be a second file of one name there.
    std::map<std::string, std::string> names;  // in lower case: the name as it stands
    if (!c.added.empty())
        for (const Item& it : a.members) names.emplace(lower_ascii(it.name), it.name);
    for (const auto& name : c.added)
        if (!fl3::is_safe_name(name)) {
            ui_.alert(format("%s: ", {under(work_, a.folder)}) + fl3::refused_name_message(name) + ".");
            refused = true;
        } else if (const auto [there, added] = names.emplace(lower_ascii(name), name); !added) {
            ui_.alert(format("%s: the added file %s differs from %s only in case, and Windows takes both names for "
                             "one: %s is not written",
                             {under(work_, a.folder), name, there->second, path}));
            refused = true;
        }
    if (a.members.size() + c.added.size() > fl3::kMaxEntries) {
        ui_.alert(format("%s would hold more than 65535 members", {path}));
        refused = true;
    }
    // Nothing outside the work folder goes into a patch: no file of it is
    // read through a link.
    std::vector<std::string> read_here;
    read_here.push_back(under(work_, a.folder));
    for (std::size_t i = 0; i < a.members.size(); ++i) {
        if (c.members[i] == Change::replaced) read_here.push_back(under(work_, a.members[i].file));
        if (c.members[i] == Change::edited) read_here.push_back(under(work_, a.members[i].edit));
    }
    for (const auto& name : c.added) read_here.push_back(platform::join(under(work_, a.folder), name));
    for (const auto& file : read_here)
        if (platform::is_link(file)) {
            ui_.alert(link_text(file, path));
            refused = true;
        }
    if (refused) return false;

    const std::string original_path = under(m_.game, a.path);
    // The original as a whole, for the patch's description (read before the
    // archive is opened: an open file is held for this program alone).
    const auto original_hash = hash128_file(original_path, stop_);
    if (!original_hash && stopped()) {
        stopped_at_ = a.path;
        return false;
    }
    // The members that stay are copied from the original as unpack found it.
    fl3::ArchiveReader archive(original_path);
    const bool opened = archive.opened() != fl3::Opened::cant_open && archive.opened() != fl3::Opened::cant_read;
    if (!opened || archive.size() != a.size) {
        ui_.alert(opened ? format("%s changed since unpack: %s is not written", {original_path, path})
                         : format("%s not found: %s is not written", {original_path, path}));
        return false;
    }
    if (!original_hash || original_hash->size != a.size) {
        ui_.alert(format("%s: %s is not written", {cant_read(original_path), path}));
        return false;
    }
    // Every member as unpack found it: its name, place and size in the
    // directory (a manifest edited by hand names nothing else).
    const fl3::Directory& directory = archive.read_directory();
    for (const Item& it : a.members) {
        const fl3::Entry* e = it.index < directory.entries.size() ? &directory.entries[it.index] : nullptr;
        if (!e || e->name != it.name || fl3::ArchiveReader::offset_of(*e) != it.offset || e->size != it.size) {
            ui_.alert(format("%s does not hold member %s where the manifest says (entry %s): it changed since "
                             "unpack, or the manifest was edited. %s is not written",
                             {original_path, fl3::printable_name(it.name), std::to_string(it.index), path}));
            return false;
        }
    }
    platform::File& original_file = archive.file();
    fl3::FileReader& original = archive.reader();

    std::vector<Part> parts;
    for (std::size_t i = 0; i < a.members.size(); ++i) {
        const Item& it = a.members[i];
        if (stopped()) {
            stopped_at_ = a.path + " " + fl3::printable_name(it.name);
            return false;
        }
        Part p;
        p.item = &it;
        p.change = c.members[i];
        p.size = it.size;
        if (p.change == Change::edited) {
            // The template is the member that unpack decoded, or nothing is. A
            // worker that encodes it already read and checked it (start_encoding).
            Bytes before;
            const Original found = jobs_.count(&it) > 0 ? Original::ok : read_original(original, it.offset, it, before);
            if (found == Original::unreadable) {
                ui_.alert(cant_read(original_path));
                return false;
            }
            if (found == Original::changed) {
                ui_.alert(format("%s changed since unpack: its member %s is not the one unpack decoded. %s is not "
                                 "written",
                                 {original_path, fl3::printable_name(it.name), path}));
                return false;
            }
            ui_.status(format("Encoding %s", {under(work_, it.edit)}), Draw::now);
            if (!encode(p, under(work_, it.edit), std::move(before))) {
                ui_.alert(format("%s is not written", {path}));
                return false;
            }
        }
        parts.push_back(std::move(p));
    }
    for (const auto& name : c.added) {
        Part p;
        p.added = name;
        p.change = Change::replaced;
        parts.push_back(std::move(p));
    }

    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    // The archive is checked before it takes its name: an interrupted run,
    // or a failed check, leaves nothing of it.
    auto out = create_output(ui_, path, platform::Existing::keep);
    if (!out) return false;
    auto back = out->reader();
    Progress tally;
    std::string wrong;
    std::vector<std::string> notes;
    // With more than one worker the archive is read back while it is written.
    std::thread checker;
    if (back && pool_.workers() > 1) checker = std::thread([&] { wrong = verify(a, parts, *back, tally, notes); });
    const bool written = write_archive(a, parts, original_file, original, out->file(), path, tally);
    tally.finish(written);
    if (written) ui_.status(format("Verifying %s", {path}), Draw::now);
    if (checker.joinable())
        checker.join();
    else if (written)
        wrong = back ? verify(a, parts, *back, tally, notes) : "it cannot be read back";
    if (!written) return false;
    if (!wrong.empty()) {
        ui_.alert(format("%s failed its check and is not written: %s", {path, wrong}));
        return false;
    }
    PatchedFile described{a.path, {}, {}, {}};
    described.original = *original_hash;
    if (delta_) {
        // The whole archive goes with `out`; the delta takes its place.
        const bool made = write_delta(a, original_file, *back, path, described.result);
        back.reset();
        if (!made) return false;
        described.delta = delta_name(a.path);
    } else {
        if (!hash_result(back ? &*back : nullptr, path, a.path, described.result)) return false;
        back.reset();
    }
    notes_.insert(notes_.end(), notes.begin(), notes.end());
    if (!delta_ && !out->commit()) {
        ui_.alert(cant_write(path));
        return false;
    }
    patched_.push_back(std::move(described));
    return true;
}

bool Repack::write_delta(const Archive& a, platform::File& original, platform::File& result, const std::string& path,
                         FileHash& made) {
    const std::string delta_path = delta_name(path);
    ui_.status(format("Making the delta of %s: %s", {a.path, delta_path}), Draw::now);
    auto out = create_output(ui_, delta_path, platform::Existing::keep);
    if (!out) return false;
    auto back = out->reader();
    if (!back) {
        ui_.alert(format("%s failed its check and is not written: it cannot be read back", {delta_path}));
        return false;
    }
    // The delta is checked as a player's patcher takes it: applied to the
    // game's own, it must give the archive whole. That runs on a second
    // thread as the delta is made, each piece handed over once written.
    std::mutex lock;
    std::condition_variable more;
    std::uint64_t written = 0;
    bool ended = false;
    const DeltaInput made_so_far = [&, at = std::uint64_t{0}](std::span<std::uint8_t> buf) mutable {
        std::unique_lock<std::mutex> hold(lock);
        more.wait(hold, [&] { return ended || written - at >= buf.size(); });
        const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), written - at));
        hold.unlock();
        const std::size_t n = back->read_at(at, buf.first(k));
        at += n;
        return n;
    };
    Hasher128 check;
    Delta checked = Delta::done;
    std::string why, check_why;
    std::thread checker([&] {
        checked = apply_delta(original, made_so_far, [&](ByteView v) {
            check.update(v);
            return true;
        }, stop_, check_why);
    });
    // The archive is read once, for the delta and for its hash.
    Hasher128 read;
    const DeltaInput input = [&, whole = whole_file(result)](std::span<std::uint8_t> buf) {
        const std::size_t n = whole(buf);
        read.update(ByteView(buf.data(), n));
        return n;
    };
    Delta d = make_delta(original, input, [&](ByteView v) {
        if (!out->file().write(v)) return false;
        {
            const std::lock_guard<std::mutex> hold(lock);
            written += v.size();
        }
        more.notify_one();
        return true;
    }, stop_, why);
    {
        const std::lock_guard<std::mutex> hold(lock);
        ended = true;
    }
    more.notify_one();
    checker.join();
    back.reset();
    if (d == Delta::done) {
        d = checked;
        why = check_why;
    }
    switch (d) {
        case Delta::done: break;
        case Delta::stopped: stopped_at_ = a.path; return false;
        case Delta::write_failed: ui_.alert(cant_write(delta_path)); return false;
        case Delta::read_failed: ui_.alert(cant_read(under(m_.game, a.path))); return false;
        case Delta::refused:
            ui_.alert(format("%s is not written: the delta library says: %s", {delta_path, why}));
            return false;
    }
    made = read.value();
    if (made.size != result.size()) {
        ui_.alert(format("%s failed its check and is not written: it cannot be read back", {path}));
        return false;
    }
    if (check.value() != made) {
        ui_.alert(format("%s failed its check and is not written: applied to the game's own, it does not give the "
                         "archive",
                         {delta_path}));
        return false;
    }
    if (!out->commit()) {
        ui_.alert(cant_write(delta_path));
        return false;
    }
    return true;
}

bool Repack::hash_result(platform::File* f, const std::string& path, const std::string& what, FileHash& out) {
    const auto h = f ? hash128_of(*f, stop_) : std::nullopt;
    if (h) {
        out = *h;
        return true;
    }
    if (stopped())
        stopped_at_ = what;
    else
        ui_.alert(format("%s failed its check and is not written: it cannot be read back", {path}));
    return false;
}

bool Repack::loose(const Item& it, Change c) {
    const std::string path = under(out_, it.name);
    if (c == Change::conflict) {
        ui_.alert(format("%s and %s both changed: repack refuses them, and %s is not written. Restore one of them.",
                         {under(work_, it.file), under(work_, it.edit), path}));
        return false;
    }
    if (c == Change::deleted) return true;  // the game keeps its own file
    const std::string read_here = under(work_, c == Change::replaced ? it.file : it.edit);
    if (platform::is_link(read_here)) {
        ui_.alert(link_text(read_here, path));
        return false;
    }
    ui_.status(progress(it.name), Draw::now);
    // What goes to the patch: the work folder's file, an encoded file in
    // memory, or an encoded sound's temporary file. `from` goes before `p`:
    // Windows removes the temporary file that `p` holds only once no
    // handle of it is open.
    Part p;
    std::optional<platform::File> from;
    p.item = &it;
    if (c == Change::replaced) {
        from = platform::File::open(under(work_, it.file), platform::OpenMode::read_existing);
        const auto size = from ? from->size() : std::nullopt;
        if (!size) {
            ui_.alert(cant_read(under(work_, it.file)));
            return false;
        }
        p.size = *size;
    } else {
        Bytes original;
        if (read_loose_original(under(m_.game, it.name), it, original) != Original::ok) {
            ui_.alert(format("%s changed since unpack or cannot be read: %s is not written", {under(m_.game, it.name), path}));
            return false;
        }
        ui_.status(format("Encoding %s", {under(work_, it.edit)}), Draw::now);
        if (!encode(p, under(work_, it.edit), std::move(original))) return false;
        Verdict v;
        if (p.encoded->sound) {
            from = p.encoded->sound->reader();
            if (!from) {
                ui_.alert(cant_read(out_));
                return false;
            }
            fl3::FileReader r(*from, p.size, std::size_t{64} << 10);
            RangeSource packed(r, p.size);
            v = sound_verdict(packed, under(work_, it.edit)).value_or(Verdict{false, "the WAV file cannot be read", {}});
        } else {
            const auto edited = read_file(under(work_, it.edit));
            v = verify_member(it.kind, p.encoded->bytes, edited ? ByteView(*edited) : ByteView(), p.encoded->recoloured,
                              utf8_);
        }
        if (!v.ok) {
            ui_.alert(format("%s failed its check and is not written: it does not decode to %s: %s",
                             {path, it.edit, v.why}));
            return false;
        }
        if (!v.note.empty()) notes_.push_back(it.name + ": " + v.note);
    }
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    auto out = create_output(ui_, path, platform::Existing::keep);
    if (!out) return false;
    bool written;
    if (from) {
        from->seek(0);  // a check may have read it
        fl3::FileReader r(*from, p.size);
        const Copy copied = copy_member(*from, r, 0, p.size, out->file());
        if (copied == Copy::read_failed && c == Change::replaced) {
            ui_.alert(format("%s: %s is not written", {cant_read(under(work_, it.file)), path}));
            return false;
        }
        written = copied == Copy::done;
    } else {
        written = out->file().write(p.encoded->bytes);
    }
    if (!written) {
        ui_.alert(cant_write(path));
        return false;
    }
    PatchedFile described{it.name, {}, {}, {}};
    const std::string original_path = under(m_.game, it.name);
    const auto original_hash = hash128_file(original_path, stop_);
    if (!original_hash) {
        if (stopped())
            stopped_at_ = it.name;
        else
            ui_.alert(format("%s: %s is not written", {cant_read(original_path), path}));
        return false;
    }
    described.original = *original_hash;
    {
        auto back = out->reader();
        if (!hash_result(back ? &*back : nullptr, path, it.name, described.result)) return false;
    }
    if (!out->commit()) {
        ui_.alert(cant_write(path));
        return false;
    }
    patched_.push_back(std::move(described));
    return true;
}

int Repack::go(const Changes& changes) {
    start_encoding(changes);
    int written = 0, failed = 0;
    // An archive whose only changes are deleted member files comes out as
    // the game's own: nothing is written for it.
    const auto only_deleted = [](const ArchiveChanges& a) {
        const auto kept = [](Change c) { return c == Change::none || c == Change::deleted; };
        return a.added.empty() && std::all_of(a.members.begin(), a.members.end(), kept);
    };
    for (const auto& a : changes.archives) steps_ += a.any() && !only_deleted(a);
    for (const Change c : changes.loose) steps_ += c != Change::none && c != Change::deleted;
    for (std::size_t i = 0; i < m_.archives.size() && stopped_at_.empty(); ++i) {
        if (!changes.archives[i].any()) continue;
        if (only_deleted(changes.archives[i])) {
            ui_.status(format("%s: only member files were deleted, whose original bytes are kept: the archive is the "
                              "game's own, nothing written for it",
                              {m_.archives[i].path}),
                       Draw::result);
            continue;
        }
        if (stopped()) {
            stopped_at_ = m_.archives[i].path;
            break;
        }
        ++step_;
        const bool ok = archive(m_.archives[i], changes.archives[i]);
        if (!stopped_at_.empty()) break;
        if (ok)
            ++written;
        else
            ++failed;
    }
    for (std::size_t i = 0; i < m_.loose.size() && stopped_at_.empty(); ++i) {
        const Change c = changes.loose[i];
        if (c == Change::none) continue;
        if (stopped()) {
            stopped_at_ = m_.loose[i].name;
            break;
        }
        if (c != Change::deleted) ++step_;
        if (!loose(m_.loose[i], c))
            ++failed;
        else if (c != Change::deleted)
            ++written;
    }
    for (const auto& n : notes_) ui_.status(n, Draw::result);
    // A stopped run is a patch to make again: its files are not described.
    if (!patched_.empty() && stopped_at_.empty() && !write_patch_description(ui_, out_, patched_)) ++failed;
    const std::string files = grouped(static_cast<std::uint64_t>(written)) + (written == 1 ? " file" : " files");
    if (!stopped_at_.empty()) {
        ui_.status(format("Repacking stopped at %s: %s written whole to %s", {stopped_at_, files, out_}), Draw::later);
        return 1;
    }
    if (failed == 0) {
        ui_.status(format("Repacking OK: %s written to %s", {files, out_}), Draw::later);
        return 0;
    }
    ui_.status(format("Repacking: %s written to %s, %s not written", {files, out_, grouped(failed)}), Draw::later);
    return 1;
}

}  // namespace

std::optional<std::vector<Changed>> changes(Ui& ui, const std::string& work_arg) {
    const std::string work = folder_arg(work_arg);
    const auto m = load_manifest(ui, work);
    if (!m) return std::nullopt;
    const Changes c = changes_of(work, *m);
    std::vector<Changed> out;
    const auto edit_of = [&](const Item& it) { return it.edit.empty() ? std::string() : under(work, it.edit); };
    const auto word = [](Change change) -> std::string_view {
        switch (change) {
            case Change::edited: return "edited";
            case Change::replaced: return "replaced";
            case Change::conflict: return "conflict";
            case Change::deleted: return "deleted";
            case Change::none: break;
        }
        return {};
    };
    for (std::size_t i = 0; i < m->archives.size(); ++i) {
        const Archive& a = m->archives[i];
        for (std::size_t k = 0; k < a.members.size(); ++k) {
            const Item& it = a.members[k];
            const Change change = c.archives[i].members[k];
            if (change == Change::none) continue;
            out.push_back({a.path, it.name, std::string(word(change)), under(work, it.file), edit_of(it),
                           change_text(change, under(work, it.file), under(work, it.edit), member_text(a, it))});
        }
        for (const auto& name : c.archives[i].added) {
            const std::string file = platform::join(under(work, a.folder), name);
            out.push_back({a.path, name, "added", file, {}, format("Added: %s (appended to %s)", {file, a.path})});
        }
    }
    for (std::size_t i = 0; i < m->loose.size(); ++i) {
        const Item& it = m->loose[i];
        if (c.loose[i] == Change::none) continue;
        out.push_back({{}, it.name, std::string(word(c.loose[i])), under(work, it.file), edit_of(it),
                       change_text(c.loose[i], under(work, it.file), under(work, it.edit), it.name)});
    }
    return out;
}

int status(Ui& ui, const std::string& work) {
    const auto changed = changes(ui, work);
    if (!changed) return 1;
    for (const Changed& c : *changed) ui.status(c.text, Draw::now);
    const std::size_t n = changed->size();
    ui.status(n == 0 ? std::string("Status: nothing changed since unpack")
                     : format("Status: %s since unpack", {grouped(n) + (n == 1 ? " change" : " changes")}),
              Draw::later);
    return n == 0 ? 0 : 1;
}

int repack(Ui& ui, const std::string& work_arg, const std::string& out_arg, unsigned jobs,
           const std::atomic<bool>* stop) {
    RepackOptions options;
    options.jobs = jobs;
    options.stop = stop;
    return repack(ui, work_arg, out_arg, options);
}

int repack(Ui& ui, const std::string& work_arg, const std::string& out_arg, const RepackOptions& options) {
    const unsigned jobs = options.jobs;
    const std::string work = folder_arg(work_arg), out = folder_arg(out_arg);
    auto m = load_manifest(ui, work);
    if (!m) return 1;
    std::error_code ec;
    // The game folder: as given, where unpack found it, or the same way
    // from the work folder (a work folder that the other program unpacked,
    // or that moved with its game).
    if (!options.game.empty()) {
        if (!fs::is_directory(options.game, ec)) {
            ui.alert(format("%s not found: --game needs the game folder that was unpacked", {options.game}));
            return 1;
        }
        m->game = folder_arg(options.game);
    } else if (!fs::is_directory(m->game, ec)) {
        const std::string beside = m->game_from_work.empty() ? std::string() : under(work, m->game_from_work);
        if (beside.empty() || !fs::is_directory(beside, ec)) {
            ui.alert(format("The game folder %s that %s was unpacked from is not found%s",
                            {m->game, work, ui.is_console() ? ": give it with --game FOLDER" : ""}));
            return 1;
        }
        m->game = beside;
    }
    if (fs::exists(out, ec) && (!fs::is_directory(out, ec) || !fs::is_empty(out, ec))) {
        ui.alert(format("%s is not empty: repack needs an empty or new output folder", {out}));
        return 1;
    }
    // The game folder and the work folder are only read: the patch goes elsewhere.
    const fs::path o = fs::weakly_canonical(fs::absolute(out, ec), ec);
    for (const auto& [folder, what] : {std::pair{m->game, "game"}, std::pair{work, "work"}}) {
        const auto rel = o.lexically_relative(fs::weakly_canonical(fs::absolute(folder, ec), ec));
        if (!rel.empty() && *rel.begin() != "..") {
            ui.alert(format("%s is inside the %s folder %s, which repack only reads: the output folder must be "
                            "elsewhere",
                            {out, what, folder}));
            return 1;
        }
    }
    const Changes c = changes_of(work, *m, jobs);
    if (c.count() == 0) {
        ui.status("Repacking: nothing changed since unpack, nothing written", Draw::later);
        return 0;
    }
    fs::create_directories(out, ec);
    if (!fs::is_directory(out, ec)) {
        ui.alert(cant_create(out));
        return 1;
    }
    Repack r(ui, work, out, *m, options);
    return r.go(c);
}

}  // namespace vid::project
