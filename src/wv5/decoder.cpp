// The WV5 run decoder and the WAV headers.
//
// The decoder keeps the current value of each channel (16 bits, both 0 at
// the start) and, for two channels, which channel the next code updates;
// that alternation carries over from one run to the next. Input and output
// go through buffers of 64 KiB, so the sound streams through in bounded
// memory whatever its length.
#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "wv5/wv5.h"

namespace vid::wv5 {

namespace {

constexpr std::size_t kBufferSize = 65536;

constexpr std::array<std::uint16_t, 256> make_steps() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c) t[c] = step_of(static_cast<std::uint8_t>(c));
    return t;
}
constexpr std::array<std::uint16_t, 256> kStepOfCode = make_steps();

inline void put_sample(std::uint8_t* p, std::uint16_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, 2);
    } else {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
    }
}

// Two samples in a row, `a` first.
inline void put_pair(std::uint8_t* p, std::uint16_t a, std::uint16_t b) {
    if constexpr (std::endian::native == std::endian::little) {
        const std::uint32_t v = a | (std::uint32_t{b} << 16);
        std::memcpy(p, &v, 4);
    } else {
        put_sample(p, a);
        put_sample(p + 2, b);
    }
}

// Pulls the runs from the source in large reads.
class Reader {
public:
    explicit Reader(Source& src) : src_(src), buf_(kBufferSize) {}

    // Makes up to `n` bytes (n <= the buffer size) available at data();
    // returns how many are, fewer only at the end of the data.
    std::size_t want(std::size_t n) {
        if (end_ - pos_ >= n) return n;
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
        while (end_ < n && !ended_) {
            const std::size_t got = src_.read(std::span<std::uint8_t>(buf_.data() + end_, buf_.size() - end_));
            if (got == 0) ended_ = true;
            end_ += std::min(got, buf_.size() - end_);
        }
        return std::min(n, end_);
    }
    // want(n), and the bytes that are available.
    ByteView bytes(std::size_t n) {
        const std::size_t k = want(n);
        return ByteView(buf_.data() + pos_, k);
    }
    void consume(std::size_t n) { pos_ += n; }

private:
    Source& src_;
    std::vector<std::uint8_t> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
};

// Turns codes into samples and pushes them to the sink in large writes.
class Synth {
public:
    Synth(Sink& sink, bool two_channels) : sink_(sink), two_(two_channels), buf_(kBufferSize) {}

    // One sample per code.
    bool codes(ByteView run) {
        const std::uint8_t* c = run.data();
        std::size_t n = run.size();
        while (n > 0) {
            if (!make_room()) return false;
            const std::size_t k = std::min(n, (buf_.size() - used_) / 2);
            std::uint8_t* p = buf_.data() + used_;
            if (two_) {
                // `first` is the channel of the next sample.
                std::uint16_t first = value_[next_], second = value_[next_ ^ 1u];
                std::size_t j = 0;
                for (; j + 1 < k; j += 2) {
                    first = static_cast<std::uint16_t>(first + kStepOfCode[c[j]]);
                    second = static_cast<std::uint16_t>(second + kStepOfCode[c[j + 1]]);
                    put_pair(p + 2 * j, first, second);
                }
                if (j < k) {
                    first = static_cast<std::uint16_t>(first + kStepOfCode[c[j]]);
                    put_sample(p + 2 * j, first);
                    std::swap(first, second);
                    next_ ^= 1u;
                }
                value_[next_] = first;
                value_[next_ ^ 1u] = second;
            } else {
                std::uint16_t v = value_[0];
                for (std::size_t j = 0; j < k; ++j) {
                    v = static_cast<std::uint16_t>(v + kStepOfCode[c[j]]);
                    put_sample(p + 2 * j, v);
                }
                value_[0] = v;
            }
            used_ += 2 * k;
            c += k;
            n -= k;
        }
        return true;
    }

    // The same code `n` times: a ramp (or a held value) on each channel.
    bool repeat(std::uint8_t code, std::size_t n) {
        const std::uint16_t step = kStepOfCode[code];
        while (n > 0) {
            if (!make_room()) return false;
            const std::size_t k = std::min(n, (buf_.size() - used_) / 2);
            std::uint8_t* p = buf_.data() + used_;
            if (two_) {
                const std::uint16_t first = value_[next_], second = value_[next_ ^ 1u];
                const std::size_t pairs = k / 2;
                for (std::size_t j = 0; j < pairs; ++j) {
                    const auto inc = static_cast<std::uint16_t>((j + 1) * step);
                    put_pair(p + 4 * j, static_cast<std::uint16_t>(first + inc), static_cast<std::uint16_t>(second + inc));
                }
                const auto done = static_cast<std::uint16_t>(pairs * step);
                value_[next_] = static_cast<std::uint16_t>(first + done);
                value_[next_ ^ 1u] = static_cast<std::uint16_t>(second + done);
                if (k % 2 == 1) {
                    std::uint16_t& v = value_[next_];
                    v = static_cast<std::uint16_t>(v + step);
                    put_sample(p + 2 * (k - 1), v);
                    next_ ^= 1u;
                }
            } else {
                const std::uint16_t v = value_[0];
                for (std::size_t j = 0; j < k; ++j)
                    put_sample(p + 2 * j, static_cast<std::uint16_t>(v + (j + 1) * step));
                value_[0] = static_cast<std::uint16_t>(v + k * step);
            }
            used_ += 2 * k;
            n -= k;
        }
        return true;
    }

    bool flush() {
        if (used_ > 0) {
            if (!sink_.write(ByteView(buf_.data(), used_))) return false;
            written_ += used_;
            used_ = 0;
        }
        return true;
    }
    std::uint64_t written() const { return written_; }

private:
    // Flushes the buffer when not even one more sample fits.
    bool make_room() { return buf_.size() - used_ >= 2 || flush(); }

    Sink& sink_;
    bool two_;
    std::vector<std::uint8_t> buf_;
    std::size_t used_ = 0;
    std::uint64_t written_ = 0;
    std::uint16_t value_[2] = {0, 0};
    unsigned next_ = 0;  // the channel of the next sample, for two channels
};

}  // namespace

std::optional<Header> parse_header(ByteView data) {
    Cursor c(data);
    Header h;
    std::uint32_t runs = 0;
    if (!(c.skip(4) && c.read(h.channels) && c.read(h.rate) && c.read(h.frames) && c.read(runs)))
        return std::nullopt;
    h.runs = static_cast<std::int32_t>(runs);
    return h;
}

std::array<std::uint8_t, kWavHeaderSize> wav_header(const Header& h, std::uint32_t data_size) {
    std::array<std::uint8_t, kWavHeaderSize> b{};
    std::uint8_t* p = b.data();
    std::memcpy(p, "RIFF", 4);
    store_u32(p + 4, data_size + 38);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    store_u32(p + 16, 18);
    store_u16(p + 20, 1);
    store_u16(p + 22, h.wav_channels());
    store_u32(p + 24, h.rate);
    store_u32(p + 28, h.block_align() * h.rate);
    store_u16(p + 32, h.block_align());
    store_u16(p + 34, 16);
    store_u16(p + 36, 0);
    std::memcpy(p + 38, "data", 4);
    store_u32(p + 42, data_size);
    return b;
}

Outcome decode_runs(const Header& h, Source& in, Sink& out, std::uint64_t max_bytes) {
    Reader r(in);
    Synth synth(out, h.two_channels());
    Outcome result;
    std::uint64_t planned = 0;  // sample bytes of the runs begun so far

    auto finish = [&](Stop stop) {
        if (!synth.flush() && stop != Stop::write_failed) stop = Stop::write_failed;
        result.stop = stop;
        result.bytes = synth.written();
        return result;
    };
    // Refuses a run of `n` samples that would take the data past max_bytes.
    auto fits = [&](std::size_t n) {
        const auto total = checked_add(planned, 2 * static_cast<std::uint64_t>(n));
        if (!total || *total > max_bytes) return false;
        planned = *total;
        return true;
    };

    for (std::int64_t run = 0; run < h.runs; ++run) {
        std::uint8_t kind = 0;
        if (!Cursor(r.bytes(1)).read(kind)) return finish(Stop::input_ended);
        bool ok = true;
        switch (kind) {
            case 0:
            case 1: {
                std::size_t head = 1;
                std::size_t n = 256;
                if (kind == 0) {
                    Cursor c(r.bytes(2), 1);
                    std::uint8_t count = 0;
                    if (!c.read(count)) return finish(Stop::input_ended);
                    head = 2;
                    n = count;
                }
                if (!fits(n)) return finish(Stop::too_long);
                // The codes that are there, fewer than n when the data end inside the run.
                const ByteView codes = Cursor(r.bytes(head + n), head).take_at_most(n);
                ok = synth.codes(codes);
                r.consume(head + codes.size());
                if (ok && codes.size() < n) return finish(Stop::input_ended);
                break;
            }
            case 3: {
                Cursor c(r.bytes(4), 1);
                std::uint16_t count = 0;
                std::uint8_t code = 0;
                if (!(c.read(count) && c.read(code))) return finish(Stop::input_ended);
                const std::size_t n = count;
                if (!fits(n)) return finish(Stop::too_long);
                r.consume(4);
                ok = synth.repeat(code, n);
                break;
            }
            default: {
                Cursor c(r.bytes(2), 1);
                std::uint8_t code = 0;
                if (!c.read(code)) return finish(Stop::input_ended);
                if (!fits(kind)) return finish(Stop::too_long);
                r.consume(2);
                ok = synth.repeat(code, kind);
                break;
            }
        }
        if (!ok) return finish(Stop::write_failed);
        ++result.runs_done;
    }
    return finish(Stop::done);
}

}  // namespace vid::wv5
