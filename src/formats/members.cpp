#include "formats/members.h"

#include <algorithm>

#include "core/files.h"
#include "core/messages.h"
#include "core/text.h"
#include "fl3/archive.h"
#include "formats/kinds.h"
#include "platform/file.h"
#include "platform/output.h"
#include "platform/paths.h"

namespace vid::formats {

namespace {

constexpr std::size_t kPiece = 1u << 20;

enum class Copied { ok, read_short, write_failed };

// The member's bytes copied from its file into `out`, a piece at a time.
Copied copy_bytes(const MemberBytes& m, platform::File& in, platform::File& out) {
    if (!in.seek(m.offset)) return Copied::read_short;
    Bytes piece(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(m.size, 1), kPiece)));
    for (std::uint64_t left = m.size; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
        const std::span<std::uint8_t> part(piece.data(), n);
        if (in.read_full(part) != n) return Copied::read_short;
        if (!out.write(part)) return Copied::write_failed;
        left -= n;
    }
    return Copied::ok;
}

}  // namespace

std::optional<std::vector<MemberBytes>> members_named(Ui& ui, const std::string& archive,
                                                      const std::vector<std::string>& patterns) {
    fl3::ArchiveReader reader(archive);
    if (reader.opened() != fl3::Opened::ok) {
        ui.alert(fl3::opened_text(reader, archive));
        return std::nullopt;
    }
    const fl3::Directory& directory = reader.read_directory();
    if (reader.read_failed()) {
        ui.alert(cant_read(archive));
        return std::nullopt;
    }
    std::vector<MemberBytes> out;
    std::vector<bool> used(patterns.size(), false);
    for (const fl3::Entry& e : directory.entries) {
        bool taken = false;
        for (std::size_t i = 0; i < patterns.size(); ++i)
            if (matches_name(e.name, patterns[i])) used[i] = taken = true;
        if (taken) out.push_back({archive, e.name, fl3::ArchiveReader::offset_of(e), e.size});
    }
    std::string unmatched;
    for (std::size_t i = 0; i < patterns.size(); ++i)
        if (!used[i]) unmatched += (unmatched.empty() ? "" : ", ") + patterns[i];
    if (!unmatched.empty()) {
        ui.alert(format("%s holds no member named %s: nothing is extracted", {archive, unmatched}));
        return std::nullopt;
    }
    return out;
}

std::uint64_t write_members(Ui& ui, const std::vector<MemberBytes>& members, const std::string& folder,
                            WriteOptions options) {
    std::uint64_t written = 0;
    for (const MemberBytes& m : members) {
        const Kind kind = options.decoded ? kind_of(m.name) : Kind::other;
        const bool decode = kind != Kind::other && m.size <= kMaxDecodedMember;
        if (kind != Kind::other && !decode)
            ui.alert(format("%s is larger than %d MiB, the most that is decoded here: it is written as it is",
                            {fl3::printable_name(m.name), std::to_string(kMaxDecodedMember >> 20)}));
        const std::string name =
            decode ? std::string(platform::stem_of(m.name)) + std::string(editable_extension(kind, false)) : m.name;
        if (!fl3::is_safe_name(name)) {
            ui.alert(fl3::refused_name_message(m.name));
            continue;
        }
        const std::string path = platform::join(folder, name);
        if (!platform::fits(path)) {
            ui.alert(too_long_message(path));
            continue;
        }
        ui.status(format("Extracting %s:%s", {m.file, m.name}), Draw::now);
        auto in = open_input(ui, m.file);
        if (!in) continue;
        auto out = create_output(ui, path, options.replace ? platform::Existing::replace : platform::Existing::keep);
        if (!out) continue;
        bool ok = true;
        if (decode) {
            Bytes bytes(static_cast<std::size_t>(m.size));
            if (!in->seek(m.offset) || in->read_full(bytes) != m.size) {
                ui.alert(cant_read(m.file));
                continue;
            }
            const Converted c = decode_member(kind, bytes, false);
            if (!c.bytes) {
                ui.alert(format("%s does not decode: %s. It is not written", {fl3::printable_name(m.name), c.why}));
                continue;
            }
            if (!c.note.empty()) ui.alert(format("%s: %s", {fl3::printable_name(m.name), c.note}));
            ok = out->file().write(*c.bytes);
        } else {
            const Copied copied = copy_bytes(m, *in, out->file());
            if (copied == Copied::read_short) {
                // A member that runs past the end of its archive.
                ui.alert(format("%s ends before its member %s does: it is not written", {m.file, fl3::printable_name(m.name)}));
                continue;
            }
            ok = copied == Copied::ok;
        }
        if (!ok || !out->commit()) {
            ui.alert(cant_write(path));
            continue;
        }
        ++written;
    }
    return written;
}

}  // namespace vid::formats
