#include "core/messages.h"
#include "core/files.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "core/text.h"
#include "platform/paths.h"

namespace vid {

std::string input_error_text(platform::OpenError error, std::string_view path) {
    switch (error) {
        case platform::OpenError::folder: return format("%s is a folder", {path});
        case platform::OpenError::not_regular: return format("%s is not a regular file", {path});
        case platform::OpenError::in_use: return format("%s is in use by another program", {path});
        default: break;
    }
    // A link that leads nowhere (its target missing, or a loop of links).
    const std::string name(path);
    if (platform::is_link(name) && !platform::id_of(name))
        return format("%s is a symbolic link that leads to no file", {path});
    return format("%s not found", {path});
}

std::optional<platform::File> open_input(Ui& ui, const std::string& path) {
    platform::OpenError why = platform::OpenError::none;
    auto file = platform::File::open(path, platform::OpenMode::read_existing, &why);
    if (!file) ui.alert(input_error_text(why, path));
    return file;
}

std::string output_error_text(platform::OutputError error, std::string_view path) {
    switch (error) {
        case platform::OutputError::folder: return format("%s is a folder", {path});
        case platform::OutputError::not_regular: return format("%s is not a regular file", {path});
        default: return cant_create(path);
    }
}

std::optional<platform::Output> create_output(Ui& ui, const std::string& path, platform::Existing existing) {
    platform::OutputError why = platform::OutputError::none;
    auto out = platform::Output::create(path, existing, &why);
    if (!out) ui.alert(output_error_text(why, path));
    return out;
}

std::optional<std::string> find_any_case(const std::string& folder, std::string_view name) {
    auto found = platform::find_name_any_case(folder, name);
    if (!found) return std::nullopt;
    return folder + *found;
}

namespace {

// A file as this program left it: its identity and when it was written
// (an identity alone can be taken again by a later file).
struct Made {
    platform::FileId id;
    std::int64_t modified = 0;
    bool operator==(const Made&) const = default;
};

std::optional<Made> made_of(const std::string& path) {
    const auto id = platform::id_of(path);
    const auto modified = platform::modified_of(path);
    if (!id || !modified) return std::nullopt;
    return Made{*id, *modified};
}

// The files that the encoders wrote in this run, as they left them: never
// kept as originals.
// The files this run wrote, shared by the workers of a batch.
struct MadeFiles {
    std::mutex lock;
    std::vector<Made> files;
};

MadeFiles& made_files() {
    static MadeFiles made;
    return made;
}

bool made_here(const std::optional<Made>& file) {
    if (!file) return false;
    MadeFiles& made = made_files();
    const std::lock_guard<std::mutex> hold(made.lock);
    return std::find(made.files.begin(), made.files.end(), *file) != made.files.end();
}

void remember_made(const std::optional<Made>& file) {
    if (!file) return;
    MadeFiles& made = made_files();
    const std::lock_guard<std::mutex> hold(made.lock);
    made.files.push_back(*file);
}

enum class Kept { none, copied, failed };

// Keeps the file that `replacing` is about to replace as "<name>.orig" (a
// second name of it, or a copy); `copy` is the identity of what was made.
Kept keep_original(Ui& ui, platform::Output& replacing, std::optional<platform::FileId>& copy) {
    const std::string& original = replacing.final_path();
    const std::string kept = original + ".orig";
    if (!platform::fits(kept)) {
        ui.alert(too_long_message(kept));
        return Kept::failed;
    }
    // The old file is given the name .orig where the system can (the
    // output then moves a new file onto the name): nothing is copied.
    if (!platform::id_of(kept) && !platform::is_link(kept) && platform::link_file(original, kept)) {
        copy = platform::id_of(kept);
        return Kept::copied;
    }
    // A link at the name gives way to the copy; anything else there stays.
    const auto existing = platform::is_link(kept) ? platform::Existing::replace : platform::Existing::keep;
    platform::OutputError why = platform::OutputError::none;
    auto out = platform::Output::create(kept, existing, &why);
    if (!out) {
        // The first original stays: an existing .orig is never replaced.
        if (existing == platform::Existing::keep && why == platform::OutputError::cant_create && platform::id_of(kept))
            return Kept::none;
        ui.alert(output_error_text(why, kept));
        return Kept::failed;
    }
    // The output holds the old file; read it through that hold.
    std::optional<platform::File> opened;
    platform::File* in = replacing.old_file();
    if (in == nullptr) {
        opened = open_input(ui, original);
        if (!opened) return Kept::failed;
        in = &*opened;
    }
    if (!in->seek(0)) {
        ui.alert(cant_read(original));
        return Kept::failed;
    }
    std::array<std::uint8_t, 64 * 1024> buf;
    for (;;) {
        const std::size_t n = in->read(buf);
        if (n == 0) break;
        if (!out->file().write(std::span(buf).first(n))) {
            ui.alert(cant_write(kept));
            return Kept::failed;
        }
    }
    const auto size = in->size();
    const auto copied = out->file().tell();
    if (!size || !copied || *size != *copied) {
        ui.alert(cant_read(original));
        return Kept::failed;
    }
    copy = out->file().id();
    if (!out->commit()) {
        ui.alert(cant_create(kept));
        return Kept::failed;
    }
    return Kept::copied;
}

}  // namespace

bool commit_keeping_original(Ui& ui, platform::Output& out, bool keep) {
    const std::string target = out.final_path();
    std::optional<platform::FileId> copy;
    Kept kept = Kept::none;
    if (keep && !made_here(made_of(target))) {
        kept = keep_original(ui, out, copy);
        if (kept == Kept::failed) {
            out.discard();
            return false;
        }
    }
    if (!out.commit()) {
        // No copy without the replace: the .orig made for it goes again.
        const std::string orig = target + ".orig";
        if (kept == Kept::copied && copy && platform::id_of(orig) == copy) platform::remove_file(orig);
        ui.alert(cant_write(target));
        return false;
    }
    remember_made(made_of(target));
    return true;
}

}  // namespace vid
