#include "project/manifest.h"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/paths.h"

namespace vid::project {

namespace {

using Json = nlohmann::ordered_json;  // written with its keys in a fixed order

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
    throw std::runtime_error("the path \"" + path + "\" leads out of its folder");
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

}  // namespace

std::string to_json(const Manifest& m) {
    Json j;
    j["vidodide_project"] = kManifestVersion;
    put_text(j, "game_folder", m.game);
    if (!m.game_from_work.empty()) put_text(j, "game_folder_from_work", m.game_from_work);
    j["editable_images"] = m.bitmaps ? "bmp" : "png";
    if (m.unfinished) j["unfinished"] = 1;
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

namespace {

// The manifest is read as it is parsed (nlohmann's SAX interface), without
// a document in memory: a game of thousands of members is read in a few
// milliseconds. The scalars of each object are gathered, then turned into
// an Archive or Item when the object ends.
struct Value {
    enum class Type { text, number, other } type = Type::other;
    std::string text;
    std::uint64_t number = 0;
};
using Fields = std::vector<std::pair<std::string, Value>>;

const Value* find(const Fields& f, std::string_view key) {
    for (const auto& [k, v] : f)
        if (k == key) return &v;
    return nullptr;
}

[[noreturn]] void refuse(const std::string& why) { throw std::runtime_error(why); }

std::string string_of(const Fields& f, std::string_view key, bool required) {
    const Value* v = find(f, key);
    if (!v) {
        if (required) refuse("\"" + std::string(key) + "\" is missing");
        return {};
    }
    if (v->type != Value::Type::text) refuse("\"" + std::string(key) + "\" is not a text");
    return v->text;
}

std::uint64_t number_of(const Fields& f, std::string_view key, bool required) {
    const Value* v = find(f, key);
    if (!v) {
        if (required) refuse("\"" + std::string(key) + "\" is missing");
        return 0;
    }
    if (v->type != Value::Type::number) refuse("\"" + std::string(key) + "\" is not a number of 0 or more");
    return v->number;
}

// KEY, or KEY_hex (see put_text).
std::string text_of(const Fields& f, const std::string& key, bool required = true) {
    if (find(f, key)) return string_of(f, key, true);
    if (!find(f, key + "_hex")) return string_of(f, key, required);
    const std::string hex = string_of(f, key + "_hex", true);
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        refuse("a _hex text holds other characters than hexadecimal digits");
    };
    if (hex.size() % 2 != 0) refuse("a _hex text has an odd number of digits");
    std::string text;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        text += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return text;
}

Item item_of(const Fields& f) {
    Item it;
    it.name = text_of(f, "name");
    const std::uint64_t index = number_of(f, "index", false);
    if (index > 0xFFFFu) refuse("\"index\" is beyond the 65535 members of an archive");
    it.index = static_cast<std::uint32_t>(index);
    it.offset = number_of(f, "offset", false);
    it.size = number_of(f, "size", true);
    it.hash = string_of(f, "hash", true);
    it.kind = kind_from_name(string_of(f, "kind", true));
    it.file = text_of(f, "file", false);
    it.edit = text_of(f, "edit", false);
    it.edit_hash = string_of(f, "edit_hash", false);
    it.problem = text_of(f, "problem", false);
    it.note = text_of(f, "note", false);
    check_inside(it.file, true);
    check_inside(it.edit, true);
    return it;
}

class Reader : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit Reader(Manifest& m) : m_(m) {}

    bool null() override { return scalar({}); }
    bool boolean(bool) override { return scalar({}); }
    bool number_integer(number_integer_t n) override {
        return n < 0 ? scalar({}) : scalar({Value::Type::number, {}, static_cast<std::uint64_t>(n)});
    }
    bool number_unsigned(number_unsigned_t n) override { return scalar({Value::Type::number, {}, n}); }
    bool number_float(number_float_t, const string_t&) override { return scalar({}); }
    bool string(string_t& s) override { return scalar({Value::Type::text, std::move(s), 0}); }
    bool binary(binary_t&) override { return scalar({}); }
    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }

    bool start_object(std::size_t) override {
        const Frame top = frames_.empty() ? Frame::none : frames_.back();
        switch (top) {
            case Frame::none: frames_.push_back(Frame::root); break;
            case Frame::archives:
                frames_.push_back(Frame::archive);
                m_.archives.emplace_back();
                fields_.clear();
                break;
            case Frame::members:
            case Frame::loose:
                frames_.push_back(Frame::item);
                item_fields_.clear();
                break;
            case Frame::root:
            case Frame::archive:
            case Frame::item:
            case Frame::skip: frames_.push_back(Frame::skip); break;
            default: refuse(in_list());
        }
        return true;
    }
    bool end_object() override {
        const Frame top = frames_.back();
        frames_.pop_back();
        if (top == Frame::root) {
            if (version_ != kManifestVersion) refuse("it is not a manifest of this version");
            m_.game = text_of(fields_root_, "game_folder");
            m_.game_from_work = text_of(fields_root_, "game_folder_from_work", false);
            m_.bitmaps = string_of(fields_root_, "editable_images", false) == "bmp";
            m_.unfinished = number_of(fields_root_, "unfinished", false) != 0;
            if (!seen_archives_ || !seen_loose_) refuse(seen_archives_ ? "\"loose\" is missing" : "\"archives\" is missing");
            // One file of the game, one entry: a second would write the same file of the patch twice.
            std::set<std::string> paths;
            for (const Archive& a : m_.archives)
                if (!paths.insert(a.path).second) refuse("it lists the archive " + a.path + " twice");
            for (const Item& it : m_.loose)
                if (!paths.insert(it.name).second) refuse("it lists the file " + it.name + " twice");
        } else if (top == Frame::archive) {
            Archive& a = m_.archives.back();
            a.path = text_of(fields_, "path");
            a.folder = text_of(fields_, "folder");
            a.size = number_of(fields_, "size", true);
            a.problem = text_of(fields_, "problem", false);
            if (!seen_members_) refuse("\"members\" is missing");
            seen_members_ = false;
            check_inside(a.path);
            check_inside(a.folder, !a.problem.empty());
        } else if (top == Frame::item) {
            if (frames_.back() == Frame::members) {
                m_.archives.back().members.push_back(item_of(item_fields_));
            } else {
                m_.loose.push_back(item_of(item_fields_));
                check_inside(m_.loose.back().name);
            }
        }
        return true;
    }
    bool start_array(std::size_t) override {
        const Frame top = frames_.empty() ? Frame::none : frames_.back();
        if (top == Frame::root && key_ == "archives") {
            frames_.push_back(Frame::archives);
            seen_archives_ = true;
        } else if (top == Frame::root && key_ == "loose") {
            frames_.push_back(Frame::loose);
            seen_loose_ = true;
        } else if (top == Frame::archive && key_ == "members") {
            frames_.push_back(Frame::members);
            seen_members_ = true;
        } else if (top == Frame::root || top == Frame::archive || top == Frame::item || top == Frame::skip) {
            frames_.push_back(Frame::skip);
        } else {
            refuse(top == Frame::none ? "it is not a JSON object" : in_list());
        }
        return true;
    }
    bool end_array() override {
        frames_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        refuse(e.what());
    }

private:
    enum class Frame { none, root, archives, archive, members, loose, item, skip };

    std::string in_list() const {
        const Frame top = frames_.back();
        return top == Frame::archives ? "an entry of \"archives\" is not an object"
                                      : "an entry of \"" + std::string(top == Frame::loose ? "loose" : "members") +
                                            "\" is not an object";
    }
    bool scalar(Value v) {
        const Frame top = frames_.empty() ? Frame::none : frames_.back();
        switch (top) {
            case Frame::root:
                if (key_ == "vidodide_project") version_ = v.type == Value::Type::number ? static_cast<long long>(v.number) : -1;
                fields_root_.emplace_back(key_, std::move(v));
                break;
            case Frame::archive: fields_.emplace_back(key_, std::move(v)); break;
            case Frame::item: item_fields_.emplace_back(key_, std::move(v)); break;
            case Frame::skip: break;
            case Frame::none: refuse("it is not a JSON object");
            default: refuse(in_list());
        }
        return true;
    }

    Manifest& m_;
    std::vector<Frame> frames_;
    std::string key_;
    Fields fields_root_, fields_, item_fields_;
    long long version_ = -1;
    bool seen_archives_ = false, seen_loose_ = false, seen_members_ = false;
};

}  // namespace

std::optional<Manifest> from_json(const std::string& text, std::string& why) {
    Manifest m;
    try {
        Reader reader(m);
        if (!nlohmann::json::sax_parse(text, &reader)) {
            why = "it is not JSON";
            return std::nullopt;
        }
        return m;
    } catch (const std::exception& e) {
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
