#include "project/manifest.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/paths.h"

namespace vid::project {

namespace {

using Json = nlohmann::ordered_json;  // written with its keys in a fixed order
using Read = nlohmann::json;          // read into plain maps, which is faster

// Names are bytes, not always UTF-8 (a game of another code page): such a
// text is kept as KEY_hex, its bytes in hexadecimal, so that it comes back
// exactly.
void put_text(Json& j, const std::string& key, const std::string& text) {
    try {
        (void)Json(text).dump();
        j[key] = text;
    } catch (const Json::type_error&) {
        static const char digits[] = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : text) {
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        j[key + "_hex"] = hex;
    }
}

std::string get_text(const Read& j, const std::string& key, bool required = true) {
    if (j.contains(key)) return j.at(key).get<std::string>();
    if (!j.contains(key + "_hex")) {
        if (required) (void)j.at(key);  // throws: the key is missing
        return {};
    }
    const std::string hex = j.at(key + "_hex").get<std::string>();
    std::string text;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        throw Json::other_error::create(501, "a _hex text holds other characters than hexadecimal digits", nullptr);
    };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        text += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return text;
}

// A path of the manifest that stays inside its folder: relative, "/"
// between names, no name empty, "." or "..", no "\\" or ":".
bool inside(const std::string& path) {
    if (path.empty() || path.find_first_of("\\:") != std::string::npos) return false;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string name = path.substr(at, end - at);
        if (name.empty() || name == "." || name == "..") return false;
        at = end + 1;
    }
    return true;
}

void check_inside(const std::string& path, bool may_be_empty = false) {
    if ((path.empty() && may_be_empty) || inside(path)) return;
    throw Json::other_error::create(502, "the path \"" + path + "\" leads out of its folder", nullptr);
}

Json item_json(const Item& it, bool member) {
    Json j;
    put_text(j, "name", it.name);
    if (member) {
        j["index"] = it.index;
        j["offset"] = it.offset;
    }
    j["size"] = it.size;
    j["hash"] = it.hash;
    j["kind"] = std::string(kind_name(it.kind));
    if (!it.file.empty()) put_text(j, "file", it.file);
    if (!it.edit.empty()) {
        put_text(j, "edit", it.edit);
        j["edit_hash"] = it.edit_hash;
    }
    if (!it.problem.empty()) put_text(j, "problem", it.problem);
    if (!it.note.empty()) put_text(j, "note", it.note);

    return j;
}

Item item_of(const Read& j) {
    Item it;
    it.name = get_text(j, "name");
    it.index = j.value("index", std::uint32_t{0});
    it.offset = j.value("offset", std::uint64_t{0});
    it.size = j.at("size").get<std::uint64_t>();
    it.hash = j.at("hash").get<std::string>();
    it.kind = kind_from_name(j.at("kind").get<std::string>());
    it.file = get_text(j, "file", false);
    it.edit = get_text(j, "edit", false);
    it.edit_hash = j.value("edit_hash", std::string());
    it.problem = get_text(j, "problem", false);
    it.note = get_text(j, "note", false);
    check_inside(it.file, true);
    check_inside(it.edit, true);

    return it;
}

}  // namespace

std::string to_json(const Manifest& m) {
    Json j;
    j["vidodide_project"] = kManifestVersion;
    put_text(j, "game_folder", m.game);
    j["editable_images"] = m.bitmaps ? "bmp" : "png";
    Json archives = Json::array();
    for (const Archive& a : m.archives) {
        Json ja;
        put_text(ja, "path", a.path);
        put_text(ja, "folder", a.folder);
        ja["size"] = a.size;
        if (!a.problem.empty()) put_text(ja, "problem", a.problem);
        Json members = Json::array();
        for (const Item& it : a.members) members.push_back(item_json(it, true));
        ja["members"] = std::move(members);
        archives.push_back(std::move(ja));
    }
    j["archives"] = std::move(archives);
    Json loose = Json::array();
    for (const Item& it : m.loose) loose.push_back(item_json(it, false));
    j["loose"] = std::move(loose);
    return j.dump(1) + "\n";
}

std::optional<Manifest> from_json(const std::string& text, std::string& why) {
    try {
        const Read j = Read::parse(text);
        if (j.value("vidodide_project", 0) != kManifestVersion) {
            why = "it is not a manifest of this version";
            return std::nullopt;
        }
        Manifest m;
        m.game = get_text(j, "game_folder");
        m.bitmaps = j.value("editable_images", std::string("png")) == "bmp";
        for (const Read& ja : j.at("archives")) {
            Archive a;
            a.path = get_text(ja, "path");
            a.folder = get_text(ja, "folder");
            a.size = ja.at("size").get<std::uint64_t>();
            a.problem = get_text(ja, "problem", false);
            check_inside(a.path);
            check_inside(a.folder, !a.problem.empty());
            for (const Read& jm : ja.at("members")) a.members.push_back(item_of(jm));
            m.archives.push_back(std::move(a));
        }
        for (const Read& jl : j.at("loose")) {
            m.loose.push_back(item_of(jl));
            check_inside(m.loose.back().name);
        }
        return m;
    } catch (const Json::exception& e) {
        why = e.what();
        return std::nullopt;
    }
}

std::string listing_json(const std::vector<Listed>& archives) {
    Json j;
    Json list = Json::array();
    std::uint64_t members = 0, bytes = 0;
    for (const Listed& l : archives) {
        Json ja;
        put_text(ja, "path", l.path);
        ja["size"] = l.size;
        if (!l.problem.empty()) put_text(ja, "problem", l.problem);
        Json jm = Json::array();
        std::uint64_t sum = 0;
        for (const Item& it : l.members) {
            Json e;
            put_text(e, "name", it.name);
            e["size"] = it.size;
            e["offset"] = it.offset;
            jm.push_back(std::move(e));
            sum += it.size;
        }
        ja["members"] = std::move(jm);
        ja["member_count"] = l.members.size();
        ja["member_bytes"] = sum;
        members += l.members.size();
        bytes += sum;
        list.push_back(std::move(ja));
    }
    j["archives"] = std::move(list);
    j["member_count"] = members;
    j["member_bytes"] = bytes;
    return j.dump(1) + "\n";
}

std::string under(const std::string& root, const std::string& relative) {
    std::string r = relative;
    for (char& c : r)
        if (c == '/') c = platform::kSeparator;
    return platform::join(root, r);
}

}  // namespace vid::project
