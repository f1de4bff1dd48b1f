#include "script/listing.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>

#include "platform/file.h"

namespace vid::script {

// ---- value texts ----

std::string_view value_text(std::uint64_t value, int min_digits, ValueBuffer& buf) {
    static constexpr char kHex[] = "0123456789abcdef";
    int digits = 1;
    while (digits < 16 && (value >> (4 * digits)) != 0) ++digits;
    digits = std::clamp(std::max(digits, min_digits), 1, 16);
    buf[0] = '0';
    buf[1] = 'x';
    for (int i = 0; i < digits; ++i) buf[static_cast<std::size_t>(2 + digits - 1 - i)] = kHex[(value >> (4 * i)) & 0xF];
    return {buf.data(), static_cast<std::size_t>(2 + digits)};
}

std::string value_text(std::uint64_t value, int min_digits) {
    ValueBuffer buf;
    return std::string(value_text(value, min_digits, buf));
}

// ---- items ----

std::string node_text(std::string_view label, std::string_view value) {
    std::string text;
    text.reserve(std::min(label.size() + 1 + value.size(), kNodeTextLimit));
    text.append(label.substr(0, kNodeTextLimit));
    if (text.size() < kNodeTextLimit) text.push_back(' ');
    text.append(value.substr(0, kNodeTextLimit - text.size()));
    return text;
}

void ItemSink::begin_item(std::string_view label, int level) {
    label_ = label;
    level_ = level;
    value_.clear();
}

void ItemSink::value_piece(std::string_view piece) { value_.append(piece); }

void ItemSink::end_item() {
    item(label_, value_, level_);
    value_.clear();
    value_.shrink_to_fit();
}

ListingBuffer::ListingBuffer(platform::File* file, std::size_t capacity)
    : file_(file), capacity_(file != nullptr ? std::max<std::size_t>(capacity, 4096) : 4096) {
    buf_ = std::make_unique_for_overwrite<char[]>(capacity_);
}

char* ListingBuffer::room(std::size_t n) {
    if (capacity_ - size_ >= n) return buf_.get() + size_;
    if (file_ != nullptr) {
        flush();
        if (capacity_ >= n) return buf_.get();
    }
    // Grow: in memory for the whole listing, or for one item longer than the buffer.
    const std::size_t need = size_ + n;
    if (need < size_) throw std::bad_alloc();
    std::size_t cap = capacity_;
    while (cap < need) cap = cap > std::numeric_limits<std::size_t>::max() / 2 ? need : cap * 2;
    auto bigger = std::make_unique_for_overwrite<char[]>(cap);
    if (size_ > 0) std::memcpy(bigger.get(), buf_.get(), size_);
    buf_ = std::move(bigger);
    capacity_ = cap;
    return buf_.get() + size_;
}

void ListingBuffer::append(std::string_view text) {
    if (text.empty()) return;
    if (file_ != nullptr && text.size() > capacity_) {
        // Larger than the buffer: straight to the file after what is pending.
        flush();
        if (!file_->write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) failed_ = true;
        return;
    }
    std::memcpy(room(text.size()), text.data(), text.size());
    size_ += text.size();
}

void ListingBuffer::begin_item(std::string_view label, int level) {
    if (level == 1) append(kSeparatorLine);
    append("** ");
    append(label);
    append("\n");
}

void ListingBuffer::append_item(std::string_view label, std::string_view value, int level) {
    const std::size_t sep = level == 1 ? kSeparatorLine.size() : 0;
    const std::size_t n = sep + 3 + label.size() + 1 + value.size() + 1;
    char* p = room(n);
    std::memcpy(p, kSeparatorLine.data(), sep);
    p += sep;
    std::memcpy(p, "** ", 3);
    p += 3;
    if (!label.empty()) std::memcpy(p, label.data(), label.size());
    p += label.size();
    *p++ = '\n';
    if (!value.empty()) std::memcpy(p, value.data(), value.size());
    p += value.size();
    *p = '\n';
    size_ += n;
}

bool ListingBuffer::flush() {
    if (file_ == nullptr) return !failed_;
    if (size_ > 0) {
        if (!file_->write({reinterpret_cast<const std::uint8_t*>(buf_.get()), size_})) failed_ = true;
        size_ = 0;
    }
    return !failed_;
}

ItemWriter::ItemWriter(Ui& ui, ListingBuffer* listing)
    : ui_(ui), listing_(listing), view_(ui.has_listing_view()) {}

void ItemWriter::item(std::string_view label, std::string_view value, int level) {
    if (listing_ != nullptr) listing_->append_item(label, value, level);
    if (view_) ui_.add_node(node_text(label, value), level);
}

void ItemWriter::begin_item(std::string_view label, int level) {
    label_ = label;
    level_ = level;
    node_value_.clear();
    if (listing_ != nullptr) listing_->begin_item(label, level);
}

void ItemWriter::value_piece(std::string_view piece) {
    if (listing_ != nullptr) listing_->append(piece);
    if (view_ && node_value_.size() < kNodeTextLimit)
        node_value_.append(piece.substr(0, kNodeTextLimit - node_value_.size()));
}

void ItemWriter::end_item() {
    if (listing_ != nullptr) listing_->append("\n");
    if (view_) ui_.add_node(node_text(label_, node_value_), level_);
}

// ---- reading a listing back ----

std::size_t MemorySource::read(std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), text_.size() - pos_);
    if (n > 0) std::memcpy(out.data(), text_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::size_t FileSource::read(std::span<std::uint8_t> out) {
    const std::size_t n = file_.read(out);
    total_ += n;
    return n;
}

namespace {

// The index of the first carriage return or line feed among p[0, n), or n.
// `readable` bytes from p on may be loaded (at least n). Eight bytes at a
// time: the lowest byte of a word that equals 0x0A or 0x0D is the lowest
// zero byte of the word xor'ed with that byte in every lane.
std::size_t find_line_end(const char* p, std::size_t n, std::size_t readable) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
        for (; i < n && i + 8 <= readable; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            const std::uint64_t lf = w ^ (kOnes * '\n'), cr = w ^ (kOnes * '\r');
            const std::uint64_t hits = (((lf - kOnes) & ~lf) | ((cr - kOnes) & ~cr)) & kHighs;
            if (hits != 0) return std::min(n, i + static_cast<std::size_t>(std::countr_zero(hits) / 8));
        }
    }
    for (; i < n; ++i)
        if (p[i] == '\n' || p[i] == '\r') return i;
    return n;
}

}  // namespace

LineReader::LineReader(ByteSource& source) : source_(source), buf_(64 * 1024) {}

void LineReader::fill(std::size_t want) {
    if (end_ - begin_ >= want || source_done_) return;
    if (begin_ > 0) {
        std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ < want && !source_done_) {
        const std::size_t n = source_.read(std::span(buf_).subspan(end_));
        if (n == 0)
            source_done_ = true;
        else
            end_ += n;
    }
}

std::optional<std::string_view> LineReader::next() {
    for (;;) {
        // One piece and the byte after it, for a line feed that completes a
        // carriage return at the piece's last byte.
        if (end_ - begin_ <= kPiece) fill(kPiece + 1);
        const std::size_t avail = end_ - begin_;
        if (avail == 0) return std::nullopt;
        const std::size_t n = std::min(avail, kPiece);
        const char* p = reinterpret_cast<const char*>(buf_.data() + begin_);

        const std::size_t len = find_line_end(p, n, buf_.size() - begin_);
        const std::uint64_t line = line_ends_ + 1;
        std::size_t consumed = len;
        if (len < n) {  // a line end lies in the piece
            consumed = len + 1;
            if (p[len] == '\r' && len + 1 < avail && p[len + 1] == '\n') ++consumed;
            ++line_ends_;
        }
        begin_ += consumed;
        if (len > 0 && p[0] == '*') continue;
        line_number_ = line;
        return std::string_view(p, len);
    }
}

std::optional<std::uint32_t> read_number(std::string_view line, int max_digits) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) ++i;
    bool negative = false;
    int limit = max_digits;
    if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
        negative = line[i] == '-';
        ++i;
        --limit;
    }
    bool prefix = false;
    if (i + 1 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X')) {
        i += 2;
        prefix = true;
    }
    std::uint32_t value = 0;
    int digits = 0;
    for (; digits < limit && i < line.size(); ++digits, ++i) {
        const char c = line[i];
        std::uint32_t d;
        if (c >= '0' && c <= '9')
            d = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<std::uint32_t>(c - 'A' + 10);
        else
            break;
        value = (value << 4) | d;
    }
    // "0x" with no digit after it is the number 0 written by its first digit.
    if (digits == 0 && !prefix) return std::nullopt;
    return negative ? 0u - value : value;
}

}  // namespace vid::script
