// Unpack: every archive of a game into member folders, every member that
// has an editable form into the edit/ tree, and the manifest.
#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <new>
#include <set>

#include "core/messages.h"
#include "core/files.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "platform/output.h"
#include "platform/paths.h"
#include "project/common.h"
#include "core/pool.h"
#include "project/project.h"
#include "wv5/codec.h"

namespace vid::project {

namespace fs = std::filesystem;

namespace {

constexpr int kAlertsShown = 3;  // members told about one by one; the rest in one summary Alert

bool has_extension(const std::string& name, std::string_view ext) {
    return name.size() > ext.size() && lower_ascii(name.substr(name.size() - ext.size())) == ext;
}

std::string folder_part(const std::string& rel) {
    const auto cut = rel.rfind('/');
    return cut == std::string::npos ? std::string() : rel.substr(0, cut);
}

std::string stem_of(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// "1 archive", "2,345 archives".
std::string plural(std::uint64_t n, const std::string& what) { return grouped(n) + " " + what + (n == 1 ? "" : "s"); }

// A WAV file written to a file and hashed on the way; a rewrite of bytes
// already written is noted (they are hashed again from the file).
class HashedOutput : public wv5::SoundOutput {
public:
    explicit HashedOutput(platform::File& f) : f_(f) {}
    bool write(ByteView bytes) override {
        hash.update(bytes);
        return f_.write(bytes);
    }
    bool write_at(std::uint64_t pos, ByteView bytes) override {
        rewritten = true;
        return f_.seek(pos) && f_.write(bytes);
    }
    Hasher hash;
    bool rewritten = false;

private:
    platform::File& f_;
};

class Run {
public:
    Run(Ui& ui, std::string game, std::string work, const UnpackOptions& options)
        : ui_(ui), game_(std::move(game)), work_(std::move(work)), options_(options), pool_(options.jobs) {}

    int go(const std::vector<std::string>& archives, const std::vector<std::string>& loose);
    // Goes on with the work folder of a stopped unpack: what `earlier`
    // lists is kept, the rest is unpacked as if the run had not stopped.
    void go_on_from(Manifest earlier);
    // Files of the game that are not unpacked at all, for the final count.
    void count_left_out(std::uint64_t n) { failed_ += n; }

private:
    struct Planned {
        std::string rel;
        std::optional<platform::File> file;
        std::uint64_t size = 0;
        fl3::Header header;
        fl3::Directory dir;
        std::string problem;
    };
    // Decoding a member into its editable file, on a worker.
    struct Job {
        Kind kind = Kind::other;
        bool bitmaps = false;
        Bytes bytes;         // the member, decoded in memory
        std::string source;  // or the file of a sound, decoded piece by piece
        std::string edit_path;
        BufferUi ui;
        bool decoded = false, written = false;
        std::string why, note;
        Hash edit_hash = 0;
        Stamp edit_stamp;
    };
    // A member (or loose file) on its way: what it says is kept until it
    // is retired, in order, so that the texts come in one order whatever
    // the number of workers.
    struct Pending {
        Item item;
        std::vector<Item>* into = nullptr;
        std::string progress;
        BufferUi ui;
        std::vector<std::string> problems;
        int failures = 0;
        std::shared_ptr<Job> job;
        std::optional<std::size_t> task;  // none: the job ran at once
    };
    // Where a member is decoded from: its bytes, or for a sound (which
    // streams through, whatever its length) the file that holds it, or
    // the archive being read, at the member's offset.
    struct From {
        Bytes bytes;
        std::string file;
        fl3::FileReader* archive = nullptr;
        static From of_bytes(Bytes b) {
            From f;
            f.bytes = std::move(b);
            return f;
        }
        static From of_file(std::string path) {
            From f;
            f.file = std::move(path);
            return f;
        }
        static From of_archive(fl3::FileReader& in) {
            From f;
            f.archive = &in;
            return f;
        }
    };
    Planned plan(const std::string& rel);
    void unpack_archive(Planned& p);
    void unpack_loose(const std::string& rel);
    // Starts decoding a member into its editable file.
    void decode(Pending& pend, const std::string& folder, From from);
    // Decodes the sound pulled from `in` into job.edit_path, hashed as it is written.
    static void decode_sound(Job& job, wv5::Source& in);
    std::string edit_name(const std::string& folder, const std::string& name, Kind kind);
    Pending& start(std::vector<Item>* into, const std::string& progress);
    // Tells the oldest pending member's texts and takes its result.
    void retire();
    void retire_all() {
        while (!pending_.empty()) retire();
    }
    void problem(const std::string& text);
    // Tells an Alert, the first few one by one (the rest in the summary).
    void tell(const std::string& text) {
        if (++alerts_ <= kAlertsShown) ui_.alert(text);
    }
    // Each write that failed: after a few (a full disk, most likely) the
    // run stops as if it was told to, leaving a work folder to go on with.
    bool stopped() const { return (options_.stop && options_.stop->load()) || write_failures_ >= kAlertsShown; }
    // The Ui through which a member's texts are told: its Alerts as tell() tells them.
    class Told : public Ui {
    public:
        explicit Told(Run& run) : run_(run) {}
        void status(std::string_view text, Draw draw) override { run_.ui_.status(text, draw); }
        void alert(std::string_view text) override { run_.tell(std::string(text)); }

    private:
        Run& run_;
    };
    std::uint64_t write_failures_ = 0;

    Ui& ui_;
    std::string game_, work_;
    UnpackOptions options_;
    Manifest manifest_;
    std::set<std::string> edit_names_;  // in lower case: names that differ only in case collide
    std::uint64_t total_ = 0, done_ = 0, edits_ = 0, failed_ = 0;
    int alerts_ = 0;
    std::string stopped_at_;  // the archive and member, or loose file, where a stop came
    std::deque<Pending> pending_;
    Pool pool_;
};

Run::Pending& Run::start(std::vector<Item>* into, const std::string& progress) {
    // Members waiting to be retired hold their bytes: a few per worker.
    while (pending_.size() >= 2 * std::max(1u, pool_.workers())) retire();
    pending_.emplace_back();
    pending_.back().into = into;
    pending_.back().progress = progress;
    return pending_.back();
}

void Run::retire() {
    Pending& p = pending_.front();
    ++done_;
    ui_.status(format("Unpacking %s of %s: %s", {grouped(done_), grouped(total_), p.progress}), Draw::now);
    Told told(*this);
    p.ui.replay(told);
    // One member is counted once, however many of its problems are told
    // (cut short and too large to decode, say).
    bool failed = !p.problems.empty() || p.failures > 0;
    for (const auto& text : p.problems) tell(text);
    write_failures_ += static_cast<std::uint64_t>(p.failures);
    if (p.job) {
        if (p.task) pool_.wait(*p.task);
        Job& j = *p.job;
        j.ui.replay(told);
        Item& it = p.item;
        if (!j.decoded) {
            it.problem = "does not decode: " + j.why;
            it.edit.clear();
            tell(format("%s does not decode: %s. It is kept as it is.",
                        {it.file.empty() ? it.name : under(work_, it.file), j.why}));
            failed = true;
        } else if (!j.written) {
            it.problem = "its editable file could not be written";
            it.edit.clear();
            failed = true;
            ++write_failures_;
        } else {
            if (!j.note.empty()) it.note = j.note;
            it.edit_hash = j.edit_hash;
            it.edit_stamp = j.edit_stamp;
            ++edits_;
        }
    }
    if (failed) ++failed_;
    p.into->push_back(std::move(p.item));
    pending_.pop_front();
}

void Run::problem(const std::string& text) {
    ++failed_;
    tell(text);
}

std::string Run::edit_name(const std::string& folder, const std::string& name, Kind kind) {
    const std::string base = "edit/" + (folder.empty() ? std::string() : folder + "/") + stem_of(name);
    const std::string ext(editable_extension(kind, options_.bitmaps));
    std::string candidate = base + ext;
    for (int k = 2; !edit_names_.insert(lower_ascii(candidate)).second; ++k) candidate = base + "~" + std::to_string(k) + ext;
    return candidate;
}

void Run::decode(Pending& pend, const std::string& folder, From from) {
    Item& it = pend.item;
    if (it.kind == Kind::other) return;
    const std::string leaf = it.name.substr(it.name.rfind('/') + 1);
    // The name is taken here, in order, whether or not the member decodes.
    it.edit = edit_name(folder, leaf, it.kind);
    if (const std::string edit_path = under(work_, it.edit); !platform::fits(edit_path)) {
        // Every file of the work folder must be one that Windows can open.
        it.edit.clear();
        it.problem = "no editable file: its path would be longer than 259 characters";
        pend.problems.push_back(too_long_message(edit_path) + ". The member is kept as it is, without an editable file.");
        return;
    }
    auto job = std::make_shared<Job>();
    job->kind = it.kind;
    job->bitmaps = options_.bitmaps;
    job->bytes = std::move(from.bytes);
    job->source = std::move(from.file);
    job->edit_path = under(work_, it.edit);
    pend.job = job;
    if (from.archive) {
        // The archive is read by this thread only.
        from.archive->seek(it.offset);
        RangeSource in(*from.archive, it.size);
        decode_sound(*job, in);
        return;
    }
    pend.task = pool_.submit([job] {
        if (!job->source.empty()) {
            auto f = platform::File::open(job->source, platform::OpenMode::read_existing);
            const auto size = f ? f->size() : std::nullopt;
            if (!size) {
                job->why = "its file cannot be read";
                return;
            }
            fl3::FileReader reader(*f, *size, std::size_t{64} << 10);
            RangeSource in(reader, *size);
            decode_sound(*job, in);
            return;
        }
        Converted c = decode_member(job->kind, job->bytes, job->bitmaps);
        Bytes().swap(job->bytes);
        job->why = c.why;
        job->note = c.note;
        if (!c.bytes) return;
        job->decoded = true;
        job->written = write_file(job->ui, job->edit_path, *c.bytes);
        if (!job->written) return;
        job->edit_hash = hash_of(*c.bytes);
        job->edit_stamp = stamp_of(job->edit_path);
    });
}

void Run::decode_sound(Job& job, wv5::Source& in) {
    std::error_code ec;
    fs::create_directories(fs::path(job.edit_path).parent_path(), ec);
    auto out = create_output(job.ui, job.edit_path);
    job.decoded = true;  // unless the sound says otherwise
    if (!out) return;
    HashedOutput wav(out->file());
    wv5::Stop stop;
    try {
        stop = wv5::decode_to_wav(in, wav, job.why);
    } catch (const std::bad_alloc&) {
        job.why = "not enough memory to decode it";
        stop = wv5::Stop::too_long;
    }
    if (stop != wv5::Stop::done && stop != wv5::Stop::write_failed) {
        job.decoded = false;
        return;  // the output is discarded
    }
    if (stop == wv5::Stop::write_failed || !out->commit()) {
        job.ui.alert(cant_write(job.edit_path));
        return;
    }
    // Sizes rewritten at the start (a frame count that does not match the
    // runs): the file is hashed again.
    const auto hash = wav.rewritten ? hash_file(job.edit_path) : std::optional<Hash>(wav.hash.value());
    job.written = true;
    job.edit_hash = hash.value_or(0);
    job.edit_stamp = stamp_of(job.edit_path);
}

Run::Planned Run::plan(const std::string& rel) {
    Planned p;
    p.rel = rel;
    const std::string path = under(game_, rel);
    fl3::ArchiveReader archive(path, std::size_t{64} << 10);
    switch (archive.opened()) {
        case fl3::Opened::ok: break;
        case fl3::Opened::cant_open:
        case fl3::Opened::cant_read: p.problem = cant_read(path); return p;
        case fl3::Opened::too_short: p.problem = fl3::too_short_text(path); return p;
        case fl3::Opened::directory_beyond_end:
            p.problem = fl3::beyond_end_text(path, archive.header().dir_offset);
            return p;
    }
    p.size = archive.size();
    p.header = archive.header();
    p.dir = archive.read_directory();
    if (p.dir.end != fl3::Directory::End::marker)
        p.problem = format("%s is damaged: its directory does not end where its header says.", {path});
    p.file = archive.take_file();
    return p;
}

void Run::unpack_archive(Planned& p) {
    Archive a;
    a.path = p.rel;
    a.size = p.size;
    a.problem = p.problem;
    const auto folder = platform::overwrite_from_end(p.rel, 4, '_');
    if (!p.file || p.header.dir_offset == 0 || !folder) {
        if (!folder) a.problem = no_output_name_message(p.rel);
        problem(a.problem);
        manifest_.archives.push_back(std::move(a));
        return;
    }
    if (!p.problem.empty()) problem(p.problem + " Its members are unpacked as far as the directory goes.");
    a.folder = *folder;
    a.members.reserve(p.dir.entries.size());
    const std::string folder_path = under(work_, a.folder);
    std::error_code ec;
    // What an unfinished run left of this archive goes first.
    fs::remove_all(folder_path, ec);
    fs::remove_all(under(work_, "edit/" + a.folder), ec);
    fs::create_directories(folder_path, ec);
    fl3::ArchiveReader archive(*p.file, p.size);
    fl3::FileReader& in = archive.reader();

    {  // _index.bin: the directory's bytes, as Extract FL3 writes it
        const std::string index_path = platform::join(folder_path, fl3::kIndexName);
        Told told(*this);
        auto out = create_output(told, index_path);
        if (!out || archive.copy_index(out->file()) == fl3::CopyResult::write_failed || !out->commit()) {
            if (out) told.alert(cant_write(index_path));
            ++failed_;
            ++write_failures_;
        }
    }

    std::uint32_t i = 0;
    std::set<std::string> member_names;  // in lower case
    for (const fl3::Entry& e : p.dir.entries) {
        if (stopped()) {
            stopped_at_ = p.rel + " " + fl3::printable_name(e.name);
            break;
        }
        Pending& pend = start(&a.members, p.rel + " " + fl3::printable_name(e.name));
        Item& it = pend.item;
        it.name = e.name;
        it.index = i++;
        it.offset = fl3::ArchiveReader::offset_of(e);
        it.size = e.size;
        it.kind = kind_of(e.name);
        const bool safe = fl3::is_safe_name(e.name) && !fl3::is_index_name(e.name) &&
                          platform::fits(platform::join(folder_path, e.name));
        Hasher hash;
        Bytes bytes;
        // A sound streams through from its file; the other kinds are
        // decoded from their bytes, kept here.
        const bool streams = project::streams(it.kind);
        const bool keep = safe && it.kind != Kind::other && !streams && e.size <= kMaxConverted;
        bool cut = false;
        if (!safe) {
            copy_bytes(in, it.offset, e.size, nullptr, &hash, nullptr, &cut);
            it.hash = hash.value();
            it.problem = "not extracted: its name cannot be a file's name here; repack keeps its bytes";
            pend.problems.push_back(format("%s: member \"%s\" is not extracted: its name cannot be a file's name here. "
                                           "Repack keeps its bytes.",
                                           {p.rel, fl3::printable_name(e.name)}));
            continue;
        }
        if (!member_names.insert(lower_ascii(e.name)).second) {
            // A folder of Windows cannot hold two names that differ only in
            // case, so on every system the second has no member file; its
            // editable file (with a suffix) stands for it.
            copy_bytes(in, it.offset, e.size, nullptr, &hash, keep ? &bytes : nullptr, &cut);
            it.hash = hash.value();
            it.note = "no member file: its name differs from another member's only in case";
            if (!cut && keep) decode(pend, a.folder, From::of_bytes(std::move(bytes)));
            if (!cut && streams) decode(pend, a.folder, From::of_archive(in));
            continue;
        }
        it.file = a.folder + "/" + e.name;
        const std::string member_path = under(work_, it.file);
        auto out = create_output(pend.ui, member_path);
        bool written = out && copy_bytes(in, it.offset, e.size, &out->file(), &hash, keep ? &bytes : nullptr, &cut);
        it.hash = hash.value();
        if (cut) {
            it.problem = "the archive ends inside it";
            pend.problems.push_back(format("%s is truncated: member %s runs past its end and is written only as far "
                                           "as the archive holds it.",
                                           {p.rel, e.name}));
            written = true;
        }
        if (!out || !written || !out->commit()) {
            if (out) pend.ui.alert(cant_write(member_path));
            it.file.clear();
            it.problem = "its member file could not be written";
            ++pend.failures;
            continue;
        }
        it.file_stamp = stamp_of(member_path);
        if (it.kind != Kind::other && !keep && !streams) {
            it.problem = "too large to decode here";
            pend.problems.push_back(format("%s is too large to decode here; it is kept as it is.", {member_path}));
        } else if (!cut) {
            decode(pend, a.folder, streams ? From::of_file(member_path) : From::of_bytes(std::move(bytes)));
        }
    }
    retire_all();
    if (!stopped_at_.empty()) {
        // A stopped archive is taken out whole: the manifest lists only
        // archives unpacked whole.
        fs::remove_all(folder_path, ec);
        fs::remove_all(under(work_, "edit/" + a.folder), ec);
        return;
    }
    manifest_.archives.push_back(std::move(a));
}

void Run::unpack_loose(const std::string& rel) {
    Pending& pend = start(&manifest_.loose, rel);
    Item& it = pend.item;
    it.name = rel;
    it.kind = kind_of(rel);
    it.file = rel;
    const std::string from = under(game_, rel), to = under(work_, rel);
    auto f = platform::File::open(from, platform::OpenMode::read_existing);
    const auto size = f ? f->size() : std::nullopt;
    const auto unreadable = [&] {
        it.problem = "could not be read";
        it.file.clear();
        pend.problems.push_back(cant_read(from));
    };
    if (!size) return unreadable();
    it.size = *size;
    // As for members: a sound streams through, the others are kept here.
    const bool streams = project::streams(it.kind);
    const bool keep = it.kind != Kind::other && !streams && *size <= kMaxConverted;
    fl3::FileReader in(*f, *size);
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    auto out = create_output(pend.ui, to);
    Hasher hash;
    Bytes bytes;
    bool cut = false;
    const bool written = out && copy_bytes(in, 0, *size, &out->file(), &hash, keep ? &bytes : nullptr, &cut);
    if (cut) return unreadable();  // the output is discarded
    it.hash = hash.value();
    if (!out || !written || !out->commit()) {
        if (out) pend.ui.alert(cant_write(to));
        it.file.clear();
        it.problem = "its copy could not be written";
        ++pend.failures;
        return;
    }
    it.file_stamp = stamp_of(to);
    if (it.kind != Kind::other && !keep && !streams) {
        it.problem = "too large to decode here";
        pend.problems.push_back(format("%s is too large to decode here; it is kept as it is.", {to}));
    } else {
        decode(pend, folder_part(rel), streams ? From::of_file(to) : From::of_bytes(std::move(bytes)));
    }
}

void Run::go_on_from(Manifest earlier) {
    manifest_ = std::move(earlier);
    manifest_.unfinished = false;
    for (const Archive& a : manifest_.archives)
        for (const Item& it : a.members)
            if (!it.edit.empty()) edit_names_.insert(lower_ascii(it.edit));
    for (const Item& it : manifest_.loose)
        if (!it.edit.empty()) edit_names_.insert(lower_ascii(it.edit));
    ui_.status(format("Going on with the unfinished work folder %s: %s and %s were unpacked before",
                      {work_, plural(manifest_.archives.size(), "archive"), plural(manifest_.loose.size(), "loose file")}),
               Draw::now);
}

int Run::go(const std::vector<std::string>& all_archives, const std::vector<std::string>& all_loose) {
    std::error_code ec;
    // Those that a stopped run unpacked whole are not unpacked again.
    std::set<std::string> done;
    for (const auto& a : manifest_.archives) done.insert(a.path);
    for (const auto& l : manifest_.loose) done.insert(l.name);
    std::vector<std::string> archives, loose;
    for (const auto& a : all_archives)
        if (!done.count(a)) archives.push_back(a);
    for (const auto& l : all_loose)
        if (!done.count(l)) loose.push_back(l);
    const fs::path game_path = fs::weakly_canonical(fs::absolute(game_), ec);
    manifest_.game = path_text(game_path);
    const fs::path from_work = game_path.lexically_relative(fs::weakly_canonical(fs::absolute(work_), ec));
    if (!from_work.empty() && from_work.is_relative()) manifest_.game_from_work = from_work.generic_string();
    manifest_.bitmaps = options_.bitmaps;
    // A manifest first, marked unfinished, for a run that ends without a
    // word (a full disk, the process killed): unpack goes on from it.
    const std::string manifest_path = platform::join(work_, kManifestName);
    const auto write_manifest = [&] { return project::write_manifest(ui_, work_, manifest_); };
    manifest_.unfinished = true;
    if (!write_manifest()) {
        ui_.status("Unpacking: the manifest could not be written", Draw::later);
        return 1;
    }
    std::vector<Planned> planned;
    for (const auto& rel : archives) {
        planned.push_back(plan(rel));
        total_ += planned.back().dir.entries.size();
    }
    total_ += loose.size();
    for (Planned& p : planned) {
        if (stopped_at_.empty() && stopped()) stopped_at_ = p.rel;
        if (!stopped_at_.empty()) break;
        unpack_archive(p);
        // Its directory is let go: the manifest's items now hold it.
        p.file.reset();
        p.dir = {};
    }
    for (const auto& rel : loose) {
        if (stopped_at_.empty() && stopped()) stopped_at_ = rel;
        if (!stopped_at_.empty()) break;
        unpack_loose(rel);
    }
    retire_all();
    // In the order of a run that did not stop.
    std::stable_sort(manifest_.archives.begin(), manifest_.archives.end(),
                     [](const Archive& x, const Archive& y) { return x.path < y.path; });
    std::stable_sort(manifest_.loose.begin(), manifest_.loose.end(),
                     [](const Item& x, const Item& y) { return x.name < y.name; });
    manifest_.unfinished = !stopped_at_.empty();

    const auto full_disk = [&] {
        if (write_failures_ >= kAlertsShown)
            ui_.alert(format("Unpacking stopped: files could not be written into %s (is the disk full?). Make room "
                             "and unpack again into the same work folder: it goes on where it stopped.",
                             {work_}));
    };
    if (!write_manifest()) {
        full_disk();
        ui_.status("Unpacking: the manifest could not be written", Draw::later);
        return 1;
    }
    write_stamps(ui_, work_, manifest_);
    if (write_failures_ >= kAlertsShown)
        full_disk();
    else if (alerts_ > kAlertsShown)
        ui_.alert(format("%s more problems; %s lists every member that was not extracted or not decoded, with the "
                         "reason.",
                         {grouped(static_cast<std::uint64_t>(alerts_ - kAlertsShown)), manifest_path}));
    if (!stopped_at_.empty()) {
        ui_.status(format("Unpacking stopped at %s: %s and %s unpacked whole",
                          {stopped_at_, plural(manifest_.archives.size(), "archive"),
                           plural(manifest_.loose.size(), "loose file")}),
                   Draw::later);
        return 1;
    }
    std::string counts =
        plural(archives.size(), "archive") + ", " + plural(total_, "file") + ", " + plural(edits_, "editable file");
    if (edits_ > 0) counts += " in " + platform::join(work_, "edit");
    if (failed_ == 0) {
        ui_.status("Unpacking OK: " + counts, Draw::later);
        return 0;
    }
    ui_.status(format("Unpacking: %s, %s not extracted or not decoded", {counts, grouped(failed_)}), Draw::later);
    return 1;
}

}  // namespace

int unpack_into(Ui& ui, const std::string& game, const std::string& work, const UnpackOptions& options,
                std::optional<Manifest> earlier);

int unpack(Ui& ui, const std::string& game_arg, const std::string& work_arg, const UnpackOptions& options) {
    const std::string game = folder_arg(game_arg), work = folder_arg(work_arg);
    std::error_code ec;
    if (!fs::is_directory(game, ec)) {
        ui.alert(fs::exists(game, ec) ? format("%s is not a folder", {game}) : format("%s not found", {game}));
        return 1;
    }
    if (fs::exists(work, ec) && (!fs::is_directory(work, ec) || !fs::is_empty(work, ec))) {
        // The work folder of a stopped unpack of the same game: go on.
        if (fs::is_regular_file(platform::join(work, kManifestName), ec)) {
            SilentUi quiet;
            auto earlier = load_manifest(quiet, work);
            std::error_code e2;
            if (earlier && earlier->unfinished &&
                fs::equivalent(fs::path(earlier->game), fs::path(game), e2) && !e2) {
                UnpackOptions same = options;
                same.bitmaps = earlier->bitmaps;
                return unpack_into(ui, game, work, same, std::move(*earlier));
            }
        }
        ui.alert(format("%s is not empty: unpack needs an empty or new work folder", {work}));
        return 1;
    }
    return unpack_into(ui, game, work, options, std::nullopt);
}

int unpack_into(Ui& ui, const std::string& game, const std::string& work, const UnpackOptions& options,
                std::optional<Manifest> earlier) {
    std::error_code ec;
    const fs::path g = fs::weakly_canonical(game, ec), w = fs::weakly_canonical(work, ec);
    const auto rel = w.lexically_relative(g);
    if (!rel.empty() && *rel.begin() != "..") {
        ui.alert(format("%s is inside the game folder %s: the game folder is only read, the work folder must be "
                        "elsewhere",
                        {work, game}));
        return 1;
    }

    std::vector<std::string> archives, loose;
    std::size_t in_edit = 0;  // files of a game folder "edit", whose place the editable files take
    // Links in the game folder are followed (the game folder is only
    // read), but not one that leads back into a folder it is in.
    std::vector<std::string> loops;
    fs::recursive_directory_iterator it(game, fs::directory_options::follow_directory_symlink, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (it->is_symlink(e2) && it->is_directory(e2)) {
            const fs::path target = fs::canonical(it->path(), e2);
            const fs::path here = fs::canonical(it->path().parent_path(), e2);
            const auto back = here.lexically_relative(target);
            if (e2 || (!back.empty() && *back.begin() != "..")) {
                it.disable_recursion_pending();
                loops.push_back(it->path().lexically_relative(game).generic_string());
            }
            continue;
        }
        if (!it->is_regular_file(e2)) continue;
        const std::string r = it->path().lexically_relative(game).generic_string();
        const bool kept = has_extension(r, ".fl3") || kind_of(r) != Kind::other;
        if (kept && lower_ascii(r).rfind("edit/", 0) == 0) {
            ++in_edit;
            continue;
        }
        if (has_extension(r, ".fl3"))
            archives.push_back(r);
        else if (kind_of(r) != Kind::other)
            loose.push_back(r);
    }
    if (ec) {
        ui.alert(format("Can't read the folder %s", {game}));
        return 1;
    }
    std::sort(archives.begin(), archives.end());
    std::sort(loose.begin(), loose.end());
    // Files inside an archive's member folder (GAME/data_fl3/, left there
    // by an earlier Extract FL3) would be taken for members: left out.
    std::set<std::string> member_folders;
    for (const auto& a : archives)
        if (const auto f = platform::overwrite_from_end(a, 4, '_')) member_folders.insert(lower_ascii(*f) + "/");
    std::vector<std::string> in_members;
    const auto in_member_folder = [&](const std::string& r) {
        const std::string l = lower_ascii(r);
        for (auto cut = l.find('/'); cut != std::string::npos; cut = l.find('/', cut + 1))
            if (member_folders.count(l.substr(0, cut + 1))) return true;
        return false;
    };
    for (auto* list : {&archives, &loose})
        list->erase(std::remove_if(list->begin(), list->end(),
                                   [&](const std::string& r) {
                                       if (!in_member_folder(r)) return false;
                                       in_members.push_back(r);
                                       return true;
                                   }),
                    list->end());
    fs::create_directories(work, ec);
    if (!fs::is_directory(work, ec)) {
        ui.alert(cant_create(work));
        return 1;
    }
    if (in_edit > 0)
        ui.alert(format("%s of the game's folder \"edit\" %s not unpacked: the work folder gives that name to its "
                        "tree of editable files",
                        {plural(in_edit, "file"), in_edit == 1 ? "is" : "are"}));
    if (!in_members.empty())
        ui.alert(format("%s not unpacked: %s inside the member folder of an archive of the game (an earlier "
                        "Extract FL3, for instance), where the work folder puts that archive's members. The first "
                        "is %s.",
                        {plural(in_members.size(), "file"), in_members.size() == 1 ? "it is" : "they are",
                         in_members.front()}));
    for (const auto& l : loops)
        ui.alert(format("%s is a link back into a folder that holds it: it is not followed", {under(game, l)}));
    Run run(ui, game, work, options);
    if (earlier) run.go_on_from(std::move(*earlier));
    run.count_left_out(in_edit + in_members.size() + loops.size());
    return run.go(archives, loose);
}

}  // namespace vid::project
