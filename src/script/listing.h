// The listing: the text form of an AB script, and the listing view.
//
// Items (an instruction at level 1, an operand at level 2) reach the listing
// as lines and, while a listing view is open, the view as nodes:
//
//   ********************      separator, level 1 only
//   ** LABEL                  label line
//   VALUE                     value line
//
// every line ending in a single line feed. The line reader takes a listing
// apart again into its value lines: it skips every line that begins with
// "*" and hands over lines in pieces of at most 254 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ui.h"

namespace vid::platform {
class File;
}

namespace vid::script {

// ---- value texts ----

// Room for the longest value text of a number: "0x" and 16 digits.
using ValueBuffer = std::array<char, 20>;

// "0x" and `value` in lowercase hexadecimal, padded with zeros on the left
// to `min_digits` digits. The text lives in `buf`.
std::string_view value_text(std::uint64_t value, int min_digits, ValueBuffer& buf);
std::string value_text(std::uint64_t value, int min_digits);

// ---- items ----

inline constexpr std::string_view kSeparatorLine = "********************\n";
inline constexpr std::size_t kNodeTextLimit = 255;

// Receives the items of a decoded or encoded instruction, in order.
class ItemSink {
public:
    virtual ~ItemSink() = default;
    virtual void item(std::string_view label, std::string_view value, int level) = 0;

    // An item whose value comes in pieces (a string longer than the
    // decoder's buffer): begin_item(), value_piece() for each piece in
    // order, end_item(). By default the pieces are gathered and handed to
    // item() whole.
    virtual void begin_item(std::string_view label, int level);
    virtual void value_piece(std::string_view piece);
    virtual void end_item();

private:
    std::string_view label_;
    int level_ = 0;
    std::string value_;
};

// The text of a listing-view node: label, one space, value, cut to 255.
std::string node_text(std::string_view label, std::string_view value);

// Lines of a listing on their way to the file. They collect in a buffer
// and go to the file in large writes; without a file they all stay in
// memory.
class ListingBuffer {
public:
    explicit ListingBuffer(platform::File* file = nullptr, std::size_t capacity = 1 << 20);

    void append(std::string_view text);
    // The lines of one item: separator (level 1), "** " label, value.
    void append_item(std::string_view label, std::string_view value, int level);
    // The lines of an item up to its value, which follows by append() and
    // ends with a line feed.
    void begin_item(std::string_view label, int level);
    // Writes what is pending; false once any write has failed.
    bool flush();
    bool failed() const { return failed_; }
    // Lines not yet written (with no file: the whole listing).
    std::string_view pending() const { return {buf_.get(), size_}; }

private:
    // Room for `n` more bytes, after a flush or a larger buffer.
    char* room(std::size_t n);

    platform::File* file_;
    std::unique_ptr<char[]> buf_;
    std::size_t capacity_;
    std::size_t size_ = 0;
    bool failed_ = false;
};

// The item writer: each item as lines of the listing (when there is one)
// and as a node of the listing view (when the Ui has one open).
class ItemWriter final : public ItemSink {
public:
    ItemWriter(Ui& ui, ListingBuffer* listing);
    void item(std::string_view label, std::string_view value, int level) override;
    // Pieces go straight to the listing; the node keeps the first bytes
    // that its text can show.
    void begin_item(std::string_view label, int level) override;
    void value_piece(std::string_view piece) override;
    void end_item() override;

private:
    Ui& ui_;
    ListingBuffer* listing_;
    bool view_;
    std::string_view label_;
    int level_ = 0;
    std::string node_value_;
};

// ---- reading a listing back ----

// Where the line reader's bytes come from. read() returns 0 at the end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string_view text) : text_(text) {}
    std::size_t read(std::span<std::uint8_t> out) override;

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::File& file) : file_(file) {}
    std::size_t read(std::span<std::uint8_t> out) override;
    std::uint64_t bytes_read() const { return total_; }

private:
    platform::File& file_;
    std::uint64_t total_ = 0;
};

// Hands over the value lines of a listing one by one. A line ends at a
// carriage return, a line feed, or a carriage return and line feed (also
// when the line feed comes after the piece just read); a line of 254 bytes
// or more comes in pieces of 254 bytes, each a line of its own; lines whose
// first byte is "*" are skipped; a last line without a line end is still a
// line. Reads its source in large blocks.
class LineReader {
public:
    static constexpr std::size_t kPiece = 254;

    explicit LineReader(ByteSource& source);

    // The next value line, valid until the next call; nullopt at the end.
    std::optional<std::string_view> next();

    // The line of the file (counting from 1) on which the piece last
    // returned begins.
    std::uint64_t line_number() const { return line_number_; }

private:
    // Makes at least `want` bytes available unless the source ends first.
    void fill(std::size_t want);

    ByteSource& source_;
    std::vector<std::uint8_t> buf_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool source_done_ = false;
    std::uint64_t line_ends_ = 0;  // line ends consumed so far
    std::uint64_t line_number_ = 0;
};

// A number line: blanks, an optional sign (which uses up one digit), an
// optional "0x" or "0X" (which does not), then hexadecimal digits up to the
// first other character or `max_digits`. A "-" negates in two's complement.
// nullopt when the line holds no number.
std::optional<std::uint32_t> read_number(std::string_view line, int max_digits);

}  // namespace vid::script
