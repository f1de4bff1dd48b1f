// JSON text written piece by piece, as nlohmann's dump() with an indent of
// one space writes a document (so that a manifest written by an earlier
// version comes out byte for byte the same), without the document in
// memory: the manifest and list-fl3 --json of archives of 65,535 members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vid::project {

// The bytes of a `KEY_hex` text (see JsonWriter::text): nothing when it
// holds other characters than lower-case hexadecimal digits, or an odd
// count of them.
std::optional<std::string> bytes_of_hex(std::string_view hex);

class JsonWriter {
public:
    // Pieces go to `out` (false from it: they could not be written) about
    // a MiB at a time.
    explicit JsonWriter(std::function<bool(std::string_view)> out) : out_(std::move(out)) {}

    // An object or array: the document itself, an entry of an array
    // (no key), or the value of `key` in an object.
    void begin_object(std::string_view key = {});
    void end_object();
    void begin_array(std::string_view key = {});
    void end_array();
    // `"key": "text"`; a text that is not UTF-8 (names are the game's
    // bytes) is written as `"key_hex": "..."`, its bytes in hexadecimal.
    void text(std::string_view key, std::string_view value);
    void number(std::string_view key, std::uint64_t value);

    // Ends the text with a line break and writes what is left; false when
    // any piece could not be written.
    bool finish();

private:
    // Starts a value: the comma and line break before it, the indent, the key.
    void value_start(std::string_view key);
    void raw(std::string_view s);
    void close(char bracket);
    bool flush();

    std::function<bool(std::string_view)> out_;
    std::string buf_;
    std::vector<std::size_t> open_;  // per open object or array: the values written in it
    bool ok_ = true;
};

}  // namespace vid::project
