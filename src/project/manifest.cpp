#include "project/manifest.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/paths.h"
#include "project/json_writer.h"

namespace vid::project {

std::string_view Text::view() const {
    if (!p_) return {};
    std::uint32_t n;
    std::memcpy(&n, p_.get(), sizeof n);
    return {p_.get() + sizeof n, n};
}

void Text::assign(std::string_view s) {
    if (s.empty()) {
        p_.reset();
        return;
    }
    const auto n = static_cast<std::uint32_t>(s.size());
    auto p = std::make_unique_for_overwrite<char[]>(sizeof n + n);
    std::memcpy(p.get(), &n, sizeof n);
    std::memcpy(p.get() + sizeof n, s.data(), n);
    p_ = std::move(p);
}

std::string stamp_text(const Stamp& s) {
    return s.known() ? std::to_string(s.size) + ":" + std::to_string(s.time) : std::string();
}

Stamp stamp_of_text(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return {};
    Stamp s;
    const char* end = text.data() + text.size();
    const auto size = std::from_chars(text.data(), text.data() + colon, s.size);
    const auto time = std::from_chars(text.data() + colon + 1, end, s.time);
    // Every character taken, the numbers in range (and a size that is not the mark of none).
    if (size.ec != std::errc() || size.ptr != text.data() + colon || time.ec != std::errc() || time.ptr != end ||
        colon + 1 == text.size() || !s.known())
        return {};
    return s;
}

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

namespace {

void check_inside(const std::string& path, bool may_be_empty = false) {
    if ((path.empty() && may_be_empty) || inside(path)) return;
    throw std::runtime_error("the path \"" + path + "\" leads out of its folder");
}

void write_item(JsonWriter& j, const Item& it, bool member) {
    j.begin_object();
    j.text("name", it.name);
    if (member) {
        j.number("index", it.index);
        j.number("offset", it.offset);
    }
    j.number("size", it.size);
    j.text("hash", hash_text(it.hash));
    j.text("kind", kind_name(it.kind));
    if (!it.file.empty()) j.text("file", it.file.view());
    if (!it.edit.empty()) {
        j.text("edit", it.edit.view());
        j.text("edit_hash", hash_text(it.edit_hash));
    }
    if (!it.problem.empty()) j.text("problem", it.problem.view());
    if (!it.note.empty()) j.text("note", it.note.view());
    j.end_object();
}

}  // namespace

bool write_json(const Manifest& m, const TextSink& out) {
    JsonWriter j(out);
    j.begin_object();
    j.number("vidodide_project", kManifestVersion);
    j.text("game_folder", m.game);
    if (!m.game_from_work.empty()) j.text("game_folder_from_work", m.game_from_work);
    j.text("editable_images", m.bitmaps ? "bmp" : "png");
    if (m.unfinished) j.number("unfinished", 1);
    j.begin_array("archives");
    for (const Archive& a : m.archives) {
        j.begin_object();
        j.text("path", a.path);
        j.text("folder", a.folder);
        j.number("size", a.size);
        if (!a.problem.empty()) j.text("problem", a.problem);
        j.begin_array("members");
        for (const Item& it : a.members) write_item(j, it, true);
        j.end_array();
        j.end_object();
    }
    j.end_array();
    j.begin_array("loose");
    for (const Item& it : m.loose) write_item(j, it, false);
    j.end_array();
    j.end_object();
    return j.finish();
}

std::string to_json(const Manifest& m) {
    std::string text;
    write_json(m, [&text](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
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

// KEY, or KEY_hex (see JsonWriter::text).
std::string text_of(const Fields& f, const std::string& key, bool required = true) {
    if (find(f, key)) return string_of(f, key, true);
    if (!find(f, key + "_hex")) return string_of(f, key, required);
    const std::string hex = string_of(f, key + "_hex", true);
    auto text = bytes_of_hex(hex);
    if (!text)
        refuse(hex.size() % 2 != 0 ? "a _hex text has an odd number of digits"
                                   : "a _hex text holds other characters than hexadecimal digits");
    return *text;
}

Hash hash_in(const Fields& f, std::string_view key) {
    const auto h = hash_of_text(string_of(f, key, true));
    if (!h) refuse("\"" + std::string(key) + "\" is not a hash of 16 hexadecimal digits");
    return *h;
}

Item item_of(const Fields& f) {
    Item it;
    it.name = text_of(f, "name");
    const std::uint64_t index = number_of(f, "index", false);
    if (index > 0xFFFFu) refuse("\"index\" is beyond the 65535 members of an archive");
    it.index = static_cast<std::uint32_t>(index);
    it.offset = number_of(f, "offset", false);
    it.size = number_of(f, "size", true);
    it.hash = hash_in(f, "hash");
    it.kind = kind_from_name(string_of(f, "kind", true));
    const std::string file = text_of(f, "file", false), edit = text_of(f, "edit", false);
    check_inside(file, true);
    check_inside(edit, true);
    it.file = file;
    it.edit = edit;
    if (!edit.empty()) it.edit_hash = hash_in(f, "edit_hash");
    it.problem = text_of(f, "problem", false);
    it.note = text_of(f, "note", false);
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

namespace {

// The characters of a TextSource, one by one, for nlohmann's parser.
class SourceChars {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    SourceChars() = default;  // the end
    explicit SourceChars(const TextSource& in) : state_(std::make_shared<State>(in)) { state_->fill(); }

    const char& operator*() const { return state_->buf[state_->at]; }
    SourceChars& operator++() {
        if (++state_->at == state_->len) state_->fill();
        return *this;
    }
    SourceChars operator++(int) {
        SourceChars before = *this;
        ++*this;
        return before;
    }
    bool operator==(const SourceChars& other) const { return ended() == other.ended(); }
    bool operator!=(const SourceChars& other) const { return !(*this == other); }

private:
    struct State {
        explicit State(const TextSource& source) : in(source) {}
        void fill() {
            at = 0;
            len = in(std::span<char>(buf));
        }
        const TextSource& in;
        char buf[std::size_t{64} << 10];
        std::size_t at = 0, len = 0;
    };
    bool ended() const { return !state_ || state_->at >= state_->len; }
    std::shared_ptr<State> state_;
};

}  // namespace

std::optional<Manifest> read_json(const TextSource& in, std::string& why) {
    Manifest m;
    try {
        Reader reader(m);
        if (!nlohmann::json::sax_parse(SourceChars(in), SourceChars(), &reader)) {
            why = "it is not JSON";
            return std::nullopt;
        }
        return m;
    } catch (const std::exception& e) {
        why = e.what();
        return std::nullopt;
    }
}

std::optional<Manifest> from_json(const std::string& text, std::string& why) {
    std::size_t at = 0;
    return read_json(
        [&](std::span<char> out) {
            const std::size_t n = std::min(out.size(), text.size() - at);
            std::copy_n(text.data() + at, n, out.data());
            at += n;
            return n;
        },
        why);
}

std::string under(const std::string& root, std::string_view relative) {
    std::string r(relative);
    for (char& c : r)
        if (c == '/') c = platform::kSeparator;
    return platform::join(root, r);
}

}  // namespace vid::project
