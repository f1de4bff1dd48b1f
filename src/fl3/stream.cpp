#include "fl3/stream.h"

#include <algorithm>
#include <cstring>

namespace vid::fl3 {

FileReader::FileReader(platform::File& file, std::uint64_t size, std::size_t buffer_size)
    : file_(file), size_(size), buf_(static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer_size))) {}

void FileReader::seek(std::uint64_t pos) { pos_ = std::min(pos, size_); }

bool FileReader::fill() {
    if (failed_ || pos_ >= size_) return false;
    if (file_pos_ != pos_) {
        if (!file_.seek(pos_)) {
            failed_ = true;
            return false;
        }
        file_pos_ = pos_;
    }
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf_.size(), size_ - pos_));
    std::size_t got = file_.read_full(std::span(buf_).first(want));
    file_pos_ += got;
    buf_pos_ = pos_;
    buf_len_ = got;
    if (got == 0) {
        failed_ = true;
        return false;
    }
    return true;
}

ByteView FileReader::next(std::size_t max) {
    if (max == 0 || pos_ >= size_) return {};
    if (pos_ < buf_pos_ || pos_ >= buf_pos_ + buf_len_) {
        if (!fill()) return {};
    }
    std::size_t at = static_cast<std::size_t>(pos_ - buf_pos_);
    std::size_t n = std::min(max, buf_len_ - at);
    pos_ += n;
    return ByteView(buf_).subspan(at, n);
}

std::size_t FileReader::read(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ByteView v = next(out.size() - done);
        if (v.empty()) break;
        std::memcpy(out.data() + done, v.data(), v.size());
        done += v.size();
    }
    return done;
}

FileWriter::FileWriter(platform::File& file, std::size_t buffer_size) : file_(file), buf_(buffer_size) {}

std::span<std::uint8_t> FileWriter::space() {
    if (len_ == buf_.size()) flush();
    return std::span(buf_).subspan(len_);
}

bool FileWriter::commit(std::size_t n) {
    len_ += std::min(n, buf_.size() - len_);
    if (len_ == buf_.size()) return flush();
    return ok_;
}

bool FileWriter::write(ByteView data) {
    // Large pieces go straight to the file once the buffer is out of the way.
    if (data.size() >= buf_.size()) {
        if (!flush()) return false;
        ok_ = file_.write(data);
        if (ok_) written_ += data.size();
        return ok_;
    }
    while (!data.empty() && ok_) {
        auto room = space();
        std::size_t n = std::min(room.size(), data.size());
        std::memcpy(room.data(), data.data(), n);
        data = data.subspan(n);
        commit(n);
    }
    return ok_;
}

bool FileWriter::write_zeros(std::uint64_t n) {
    while (n > 0 && ok_) {
        auto room = space();
        std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(room.size(), n));
        std::memset(room.data(), 0, k);
        n -= k;
        commit(k);
    }
    return ok_;
}

bool FileWriter::flush() {
    if (len_ > 0 && ok_) {
        ok_ = file_.write(ByteView(buf_).first(len_));
        if (ok_) written_ += len_;
    }
    len_ = 0;
    return ok_;
}

CopyResult copy_held(FileReader& in, platform::File& out, std::uint64_t n) {
    const std::uint64_t held = in.pos() < in.size() ? std::min(n, in.size() - in.pos()) : 0;
    std::uint64_t left = held;
    if (held >= kSystemCopyMin) {
        const std::uint64_t copied = out.copy_range_from(in.file(), in.pos(), held);
        in.seek(in.pos() + copied);
        left -= copied;
    }
    while (left > 0) {
        ByteView v = in.next(static_cast<std::size_t>(std::min<std::uint64_t>(left, kBufferSize)));
        if (v.empty()) return CopyResult::read_failed;  // the system read less than the file holds
        if (!out.write(v)) return CopyResult::write_failed;
        left -= v.size();
    }
    return held == n ? CopyResult::ok : CopyResult::cut_short;
}

}  // namespace vid::fl3
