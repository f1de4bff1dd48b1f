// Patch folders: their description (vidodide-patch.json), and applying one
// to a player's game folder, or taking it back out.
//
// Every file of the game that a patch changes is checked before anything
// is written: the game must hold, for each, the version the patch was made
// for (or its result, from an earlier run). Each result is then written
// beside its file, checked against the hash the patch names, and moved onto
// the file's name only once whole; the game's own file is kept once as
// FILE.orig. A run that stops leaves each file either the game's own or
// patched.
#include "project/patch.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>

#include "core/files.h"
#include "core/messages.h"
#include "core/text.h"
#include "platform/output.h"
#include "platform/paths.h"
#include "project/common.h"
#include "project/delta.h"
#include "project/json_writer.h"
#include "project/project.h"

namespace vid::project {

namespace fs = std::filesystem;

bool write_patch_description(Ui& ui, const std::string& patch, const std::vector<PatchedFile>& files) {
    return write_text_file(ui, platform::join(patch, kPatchFileName), [&](const TextSink& sink) {
        JsonWriter j(sink);
        j.begin_object();
        j.number("vidodide_patch", 1);
        j.text("hash", "XXH3-128");
        j.begin_array("files");
        for (const PatchedFile& f : files) {
            j.begin_object();
            j.text("path", f.path);
            if (!f.delta.empty()) j.text("delta", f.delta);
            for (const auto& [key, h] : {std::pair{"original", &f.original}, std::pair{"result", &f.result}}) {
                j.begin_object(key);
                j.number("size", h->size);
                j.text("hash", h->hex);
                j.end_object();
            }
            j.end_object();
        }
        j.end_array();
        j.end_object();
        return j.finish();
    });
}

namespace {

// What is wrong with a description, thrown while it is read.
struct Refused {
    std::string why;
};

FileHash version_in(const nlohmann::json& file, const char* key) {
    const auto v = file.find(key);
    if (v == file.end() || !v->is_object()) throw Refused{format("\"%s\" is missing", {key})};
    const auto size = v->find("size");
    const auto hash = v->find("hash");
    if (size == v->end() || !size->is_number_unsigned()) throw Refused{format("\"%s\" has no size", {key})};
    // In lower case, as hashes are compared.
    const std::string hex = hash != v->end() && hash->is_string() ? lower_ascii(hash->get<std::string>()) : "";
    if (hex.size() != 32 || !bytes_of_hex(hex))
        throw Refused{format("\"%s\" has no hash of 32 hexadecimal digits", {key})};
    return {size->get<std::uint64_t>(), hex};
}

std::vector<PatchedFile> files_of(const nlohmann::json& doc) {
    if (!doc.is_object()) throw Refused{"it is not a JSON object"};
    const auto format_number = doc.find("vidodide_patch");
    if (format_number == doc.end() || !format_number->is_number_unsigned()) throw Refused{"\"vidodide_patch\" is missing"};
    if (*format_number != 1)
        throw Refused{format("it is of patch format %s, of a newer version of Vidodide", {format_number->dump()})};
    const auto hash = doc.find("hash");
    if (hash == doc.end() || *hash != "XXH3-128") throw Refused{"its files are named by a hash other than XXH3-128"};
    const auto list = doc.find("files");
    if (list == doc.end() || !list->is_array() || list->empty()) throw Refused{"it names no file"};
    std::vector<PatchedFile> files;
    std::map<std::string, std::string> seen;  // in lower case, as Windows compares names
    for (const auto& f : *list) {
        if (!f.is_object()) throw Refused{"a file of it is not a JSON object"};
        PatchedFile p;
        if (const auto path = f.find("path"); path != f.end() && path->is_string()) {
            p.path = path->get<std::string>();
        } else if (const auto hex = f.find("path_hex"); hex != f.end() && hex->is_string()) {
            p.path = bytes_of_hex(hex->get<std::string>()).value_or("");
        }
        if (!inside(p.path)) throw Refused{format("the path \"%s\" leads out of the game folder", {p.path})};
        if (const auto [there, added] = seen.emplace(lower_ascii(p.path), p.path); !added)
            throw Refused{format("it names %s twice", {there->second})};
        if (const auto delta = f.find("delta"); delta != f.end()) {
            if (!delta->is_string() || !inside(delta->get<std::string>()))
                throw Refused{format("the delta of %s leads out of the patch folder", {p.path})};
            p.delta = delta->get<std::string>();
        }
        p.original = version_in(f, "original");
        p.result = version_in(f, "result");
        files.push_back(std::move(p));
    }
    return files;
}

}  // namespace

std::optional<std::vector<PatchedFile>> read_patch_description(Ui& ui, const std::string& patch) {
    const std::string path = platform::join(patch, kPatchFileName);
    std::error_code ec;
    if (!fs::is_directory(patch, ec)) {
        ui.alert(fs::exists(patch, ec) ? format("%s is not a folder", {patch}) : format("%s not found", {patch}));
        return std::nullopt;
    }
    const auto text = read_file(path, std::uint64_t{64} << 20);
    if (!text) {
        ui.alert(format("%s cannot be read: %s is not a patch folder that repack wrote", {path, patch}));
        return std::nullopt;
    }
    try {
        return files_of(nlohmann::json::parse(text->begin(), text->end()));
    } catch (const nlohmann::json::exception&) {
        ui.alert(format("%s is not a patch description: it is not JSON text", {path}));
    } catch (const Refused& r) {
        ui.alert(format("%s is not a patch description that this version can apply: %s", {path, r.why}));
    }
    return std::nullopt;
}

namespace {

std::string version_text(const FileHash& h) {
    return format("%s bytes with the hash %s", {grouped(h.size), h.hex});
}

std::string files_text(std::size_t n) { return grouped(n) + (n == 1 ? " file" : " files"); }

// One file of the game that the patch changes, as the check found it.
struct Target {
    const PatchedFile* file;
    std::string path, backup, result;  // in the game, its backup, the patch's file (or delta)
    std::optional<FileHash> found;     // the game's file; nothing when it is not there
    std::optional<FileHash> kept;      // its backup; nothing when there is none
    bool is_original() const { return found == file->original; }
    bool is_result() const { return found == file->result; }
    bool backup_is_original() const { return kept == file->original; }
};

class Patcher {
public:
    Patcher(Ui& ui, std::string patch, std::string game, const ApplyOptions& options)
        : ui_(ui), patch_(std::move(patch)), game_(std::move(game)), stop_(options.stop) {}

    int apply(const std::vector<PatchedFile>& files);
    int undo(const std::vector<PatchedFile>& files);

private:
    bool stopped() const { return stop_ && stop_->load(); }
    // Every target looked at; false after an Alert (a file that cannot be
    // read, or is reached through a link) or a stop.
    bool look(const std::vector<PatchedFile>& files, bool undo, std::vector<Target>& out);
    // The Alert for a file that is neither the patch's original nor its result.
    void not_the_version(const Target& t);
    // Writes the patch's file over the target; false after an Alert or a stop.
    bool patch_one(const Target& t);

    Ui& ui_;
    std::string patch_, game_;
    const std::atomic<bool>* stop_;
};

bool Patcher::look(const std::vector<PatchedFile>& files, bool undo, std::vector<Target>& out) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PatchedFile& f = files[i];
        if (stopped()) return false;
        ui_.status(format("Checking %s of %s: %s", {grouped(i + 1), grouped(files.size()), f.path}), Draw::now);
        Target t{&f, under(game_, f.path), under(game_, f.path) + ".orig",
                 under(patch_, f.delta.empty() ? f.path : f.delta), {}, {}};
        // Nothing of the game is reached through a link: a patch writes
        // inside the game folder only.
        for (std::size_t at = f.path.find('/'); ; at = f.path.find('/', at + 1)) {
            const std::string part = under(game_, f.path.substr(0, at));
            if (platform::is_link(part)) {
                ui_.alert(format("%s is a link: a patch is applied to the files of the game folder only, and "
                                 "nothing was changed",
                                 {part}));
                return false;
            }
            if (at == std::string::npos) break;
        }
        std::error_code ec;
        for (const auto& [name, hash] : {std::pair{&t.path, &t.found}, std::pair{&t.backup, &t.kept}}) {
            // The backup of a file patched already matters to undo only.
            if (!fs::exists(*name, ec) || (hash == &t.kept && !undo && t.is_result())) continue;
            if (fs::is_directory(*name, ec)) {
                ui_.alert(format("%s is a folder, not a file: nothing was changed", {*name}));
                return false;
            }
            *hash = hash128_file(*name, stop_);
            if (!*hash) {
                if (!stopped()) ui_.alert(cant_read(*name));
                return false;
            }
        }
        out.push_back(std::move(t));
    }
    return true;
}

void Patcher::not_the_version(const Target& t) {
    std::string text =
        t.found ? format("%s is not the version of the game that this patch was made for: the patch needs %s, and "
                         "this file has %s.",
                         {t.path, version_text(t.file->original), version_text(*t.found)})
                : format("%s is not there: this patch was made for a game that has it (%s).",
                         {t.path, version_text(t.file->original)});
    if (t.backup_is_original())
        text += format(" Its backup %s is that version: the game looks patched already, by another patch or another "
                       "version of this one. Undo that patch first.",
                       {t.backup});
    else if (t.found && t.found->size == t.file->original.size)
        text += " It has the right size but other bytes: another mod changed it, or the copy is damaged.";
    ui_.alert(text);
}

bool Patcher::patch_one(const Target& t) {
    const auto damaged = [&] {
        ui_.alert(t.file->delta.empty()
                      ? format("%s is damaged: the patch needs %s there. %s is left as it was: download the patch again.",
                               {t.result, version_text(t.file->result), t.path})
                      : format("%s is damaged: applied to %s, it does not give %s. %s is left as it was: download the "
                               "patch again.",
                               {t.result, t.path, version_text(t.file->result), t.path}));
        return false;
    };
    auto in = platform::File::open(t.result, platform::OpenMode::read_existing);
    const auto size = in ? in->size() : std::nullopt;
    if (!size) {
        ui_.alert(cant_read(t.result));
        return false;
    }
    if (t.file->delta.empty() && *size != t.file->result.size) return damaged();
    auto out = create_output(ui_, t.path, platform::Existing::replace);
    if (!out) return false;
    const auto cant_write_it = [&] {
        ui_.alert(format("%s: %s is left as it was", {cant_write(t.path), t.path}));
        return false;
    };
    if (!t.file->delta.empty()) {
        // The delta applied to the game's own file, which the output holds.
        std::optional<platform::File> opened;
        platform::File* own = out->old_file();
        if (!own) {
            opened = platform::File::open(t.path, platform::OpenMode::read_existing);
            if (!opened) {
                ui_.alert(cant_read(t.path));
                return false;
            }
            own = &*opened;
        }
        // A damaged (or hostile) delta could make any amount: no more than
        // the result's size is written.
        std::uint64_t made = 0;
        std::string why;
        const Delta d = apply_delta(*own, whole_file(*in), [&](ByteView v) {
            made += v.size();
            return made <= t.file->result.size && out->file().write(v);
        }, stop_, why);
        if (d == Delta::stopped) return false;
        if (d == Delta::refused || made > t.file->result.size) return damaged();
        if (d == Delta::read_failed) {
            ui_.alert(format("%s: %s is left as it was", {cant_read(t.path), t.path}));
            return false;
        }
        if (d != Delta::done) return cant_write_it();
    } else {
        // Copied inside the system where it can; a stop drops the output,
        // and the game's file stays as it is.
        fl3::FileReader reader(*in, *size);
        const Copy copied = copy_member(*in, reader, 0, *size, out->file(), [&](std::uint64_t) { return !stopped(); });
        if (copied == Copy::stopped) return false;
        if (copied == Copy::read_failed) {
            ui_.alert(cant_read(t.result));
            return false;
        }
        if (copied != Copy::done) return cant_write_it();
    }
    // What was written is read back before it takes the file's place: its
    // hash is the patch's, or the patch's file (or the writing) is damaged.
    std::optional<FileHash> written;
    if (auto back = out->reader()) written = hash128_of(*back, stop_);
    if (stopped()) return false;
    if (written != t.file->result) {
        if (!t.file->delta.empty() || hash128_file(t.result) != t.file->result) return damaged();
        ui_.alert(format("%s cannot be written whole (it reads back differently): %s is left as it was",
                         {t.path, t.path}));
        return false;
    }
    return commit_keeping_original(ui_, *out, !t.kept);
}

int Patcher::apply(const std::vector<PatchedFile>& files) {
    const std::string refused = format("Patching refused: nothing was changed in %s", {game_});
    std::vector<Target> targets;
    if (!look(files, false, targets)) {
        ui_.status(stopped() ? format("Patching stopped: nothing was changed in %s", {game_}) : refused, Draw::later);
        return 1;
    }
    bool ok = true;
    std::error_code ec;
    for (const Target& t : targets) {
        if (t.is_result()) continue;
        if (!t.is_original()) {
            not_the_version(t);
            ok = false;
        } else if (t.kept && !t.backup_is_original()) {
            ui_.alert(format("%s is there already and is not a copy of %s as this patch was made for it (it has %s): "
                             "move it elsewhere, then apply the patch again",
                             {t.backup, t.path, version_text(*t.kept)}));
            ok = false;
        } else if (const auto size = fs::file_size(t.result, ec);
                   ec || (t.file->delta.empty() && size != t.file->result.size)) {
            ui_.alert(format("%s is missing or not complete: the patch needs %s there. Download the patch again.",
                             {t.result, version_text(t.file->result)}));
            ok = false;
        }
    }
    if (!ok) {
        ui_.status(refused + ". Restore the game's own files (reinstall the game, or let its launcher check them), "
                             "then apply the patch again.",
                   Draw::later);
        return 1;
    }
    std::size_t patched = 0, already = 0, step = 0;
    const std::size_t steps = static_cast<std::size_t>(
        std::count_if(targets.begin(), targets.end(), [](const Target& t) { return !t.is_result(); }));
    for (const Target& t : targets) {
        if (t.is_result()) {
            ui_.status(format("%s is patched already", {t.path}), Draw::result);
            ++already;
            continue;
        }
        ui_.status(format("Patching %s of %s: %s", {grouped(++step), grouped(steps), t.path}), Draw::now);
        if (!patch_one(t)) {
            ui_.status(stopped() ? format("Patching stopped at %s: %s patched in %s, the others left as they were",
                                          {t.file->path, files_text(patched), game_})
                                 : format("Patching: %s patched in %s, %s not", {files_text(patched), game_,
                                                                                 files_text(steps - patched)}),
                       Draw::later);
            return 1;
        }
        ++patched;
    }
    std::string done = patched == 0 ? format("Patching OK: nothing to do, the game in %s is patched already", {game_})
                                    : format("Patching OK: %s patched in %s", {files_text(patched), game_});
    if (patched > 0 && already > 0) done += format(", %s patched already", {files_text(already)});
    if (patched > 0) done += " (each original kept beside it as .orig)";
    ui_.status(done, Draw::later);
    return 0;
}

int Patcher::undo(const std::vector<PatchedFile>& files) {
    const std::string refused = format("Undo refused: nothing was changed in %s", {game_});
    std::vector<Target> targets;
    if (!look(files, true, targets)) {
        ui_.status(stopped() ? format("Undo stopped: nothing was changed in %s", {game_}) : refused, Draw::later);
        return 1;
    }
    bool ok = true;
    for (const Target& t : targets) {
        if (t.is_original()) continue;
        if (platform::is_link(t.backup)) {
            // Moved back, it would make the game's file a link to elsewhere.
            ui_.alert(format("%s is a link, not a backup: %s is not restored from it", {t.backup, t.path}));
            ok = false;
        } else if (t.kept && !t.backup_is_original()) {
            ui_.alert(format("%s is not the original that this patch was made for (it has %s, the patch names %s): "
                             "%s cannot be restored from it",
                             {t.backup, version_text(*t.kept), version_text(t.file->original), t.path}));
            ok = false;
        } else if (!t.kept && t.is_result()) {
            ui_.alert(format("%s has no backup %s: its original cannot be restored (reinstall the game's own file)",
                             {t.path, t.backup}));
            ok = false;
        } else if (!t.kept) {
            not_the_version(t);
            ok = false;
        } else if (t.found && !t.is_result()) {
            ui_.alert(format("%s changed since the patch was applied (it has %s): undo would lose that change. Move "
                             "it elsewhere, then undo again.",
                             {t.path, version_text(*t.found)}));
            ok = false;
        }
    }
    if (!ok) {
        ui_.status(refused, Draw::later);
        return 1;
    }
    std::size_t restored = 0;
    for (const Target& t : targets) {
        if (t.is_original()) {
            // A backup beside the original is that original: it goes.
            if (t.backup_is_original()) platform::remove_file(t.backup);
            ui_.status(format("%s is the game's own already", {t.path}), Draw::result);
            continue;
        }
        if (stopped()) {
            ui_.status(format("Undo stopped at %s: %s restored in %s, the others left as they were",
                              {t.file->path, files_text(restored), game_}),
                       Draw::later);
            return 1;
        }
        if (!platform::move_replacing(t.backup, t.path)) {
            ui_.alert(format("%s cannot be moved back onto %s", {t.backup, t.path}));
            ui_.status(format("Undo: %s restored in %s, %s not", {files_text(restored), game_, t.file->path}),
                       Draw::later);
            return 1;
        }
        ++restored;
    }
    ui_.status(restored == 0 ? format("Undo OK: nothing to do, the files of the patch are the game's own in %s", {game_})
                             : format("Undo OK: %s restored in %s", {files_text(restored), game_}),
               Draw::later);
    return 0;
}

}  // namespace

int apply_patch(Ui& ui, const std::string& patch_arg, const std::string& game_arg, const ApplyOptions& options) {
    const std::string patch = folder_arg(patch_arg), game = folder_arg(game_arg);
    const auto files = read_patch_description(ui, patch);
    if (!files) return 1;
    std::error_code ec;
    if (!fs::is_directory(game, ec)) {
        ui.alert(fs::exists(game, ec) ? format("%s is not a folder", {game}) : format("%s not found", {game}));
        return 1;
    }
    Patcher p(ui, patch, game, options);
    return options.undo ? p.undo(*files) : p.apply(*files);
}

}  // namespace vid::project
