// The mod project's manifest reader over any text. A refused text says
// why; an accepted manifest holds only paths that stay inside their
// folders and member indexes of an archive's directory, and what to_json
// makes of it reads back to the same manifest and the same JSON text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "project/manifest.h"

namespace {

using vid::project::Archive;
using vid::project::Item;
using vid::project::Manifest;

[[noreturn]] void fail() { __builtin_trap(); }

// Relative, "/" between names, no name empty, "." or "..", no "\" or ":".
bool stays_inside(const std::string& path) {
    if (path.empty() || path.find_first_of("\\:") != std::string::npos) return false;
    std::size_t at = 0;
    for (;;) {
        const std::size_t slash = path.find('/', at);
        const std::string name = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        if (name.empty() || name == "." || name == "..") return false;
        if (slash == std::string::npos) return true;
        at = slash + 1;
    }
}

void check_item(const Item& it) {
    if (it.index > 0xFFFFu) fail();
    if ((!it.file.empty() && !stays_inside(it.file)) || (!it.edit.empty() && !stays_inside(it.edit))) fail();
}

// What the JSON text carries of an item: the index and offset of members
// only, the edit's hash only beside an edit.
void same_item(const Item& a, const Item& b, bool member) {
    if (a.name != b.name || a.size != b.size || a.hash != b.hash || a.kind != b.kind || a.file != b.file ||
        a.edit != b.edit || a.problem != b.problem || a.note != b.note)
        fail();
    if (member && (a.index != b.index || a.offset != b.offset)) fail();
    if (!a.edit.empty() && a.edit_hash != b.edit_hash) fail();
}

void same(const Manifest& a, const Manifest& b) {
    if (a.game != b.game || a.bitmaps != b.bitmaps || a.archives.size() != b.archives.size() ||
        a.loose.size() != b.loose.size())
        fail();
    for (std::size_t i = 0; i < a.archives.size(); ++i) {
        const Archive& x = a.archives[i];
        const Archive& y = b.archives[i];
        if (x.path != y.path || x.folder != y.folder || x.size != y.size || x.problem != y.problem ||
            x.members.size() != y.members.size())
            fail();
        for (std::size_t k = 0; k < x.members.size(); ++k) same_item(x.members[k], y.members[k], true);
    }
    for (std::size_t i = 0; i < a.loose.size(); ++i) same_item(a.loose[i], b.loose[i], false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string why;
    const auto m = vid::project::from_json(text, why);
    if (!m) {
        if (why.empty()) fail();
        return 0;
    }
    for (const Archive& a : m->archives) {
        if (!stays_inside(a.path) || (!stays_inside(a.folder) && !(a.folder.empty() && !a.problem.empty()))) fail();
        for (const Item& it : a.members) check_item(it);
    }
    for (const Item& it : m->loose) {
        check_item(it);
        if (!stays_inside(it.name)) fail();
    }

    const std::string json = vid::project::to_json(*m);
    if (json.empty() || json.back() != '\n') fail();
    std::string why_again;
    const auto again = vid::project::from_json(json, why_again);
    if (!again) fail();
    same(*m, *again);
    if (vid::project::to_json(*again) != json) fail();
    return 0;
}
