#include "project/delta.h"

// xdelta3.h declares C functions without saying so.
extern "C" {
#include <xdelta3.h>
}
#include <libdeflate.h>

#include <algorithm>
#include <vector>

#include "core/bytes.h"

namespace vid::project {

namespace {

constexpr usize_t kBlock = usize_t{1} << 20;         // source blocks of 1 MiB (a power of two)
constexpr std::size_t kBlocks = kDeltaWindow / kBlock + 1;  // the window, and the block being added
constexpr usize_t kInput = usize_t{4} << 20;         // the encoder's window of input
// The bit of a window's indicator that says it carries the Adler-32 of the
// bytes it makes (xdelta3's addition to RFC 3284's Win_Indicator).
constexpr unsigned kWindowChecksum = 1U << 2;

// The source's blocks as the library asks for them: the last kBlocks
// read, the one used longest ago given up first.
class SourceBlocks {
public:
    SourceBlocks(platform::File& f, std::uint64_t size) : f_(f), size_(size) {}

    // Points `src` at block `src.getblkno`; false when it cannot be read
    // whole (the last block ends with the source).
    bool fetch(xd3_source& src) {
        const xoff_t wanted = src.getblkno;
        Slot* slot = nullptr;
        for (Slot& s : slots_)
            if (s.number == wanted) slot = &s;
        if (!slot) {
            if (slots_.size() < kBlocks) {
                slots_.emplace_back();
                slot = &slots_.back();
                slot->bytes.resize(kBlock);
            } else {
                slot = &*std::min_element(slots_.begin(), slots_.end(),
                                          [](const Slot& a, const Slot& b) { return a.used < b.used; });
            }
            const std::uint64_t at = wanted * kBlock;
            slot->size = f_.read_at(at, slot->bytes);
            if (at >= size_ || slot->size != std::min<std::uint64_t>(kBlock, size_ - at)) {
                slot->number = ~xoff_t{0};
                return false;
            }
            slot->number = wanted;
        }
        slot->used = ++clock_;
        src.curblkno = wanted;
        src.curblk = slot->bytes.data();
        src.onblk = static_cast<usize_t>(slot->size);
        return true;
    }

private:
    struct Slot {
        xoff_t number = ~xoff_t{0};
        std::size_t size = 0;
        std::uint64_t used = 0;
        Bytes bytes;
    };
    platform::File& f_;
    std::uint64_t size_;
    std::vector<Slot> slots_;  // at most kBlocks; a vector keeps each block where it is
    std::uint64_t clock_ = 0;
};

// The library's loop over the input, for making a delta (`encode`) or
// applying one.
Delta run(bool encode, platform::File& source, const DeltaInput& input, const DeltaSink& write,
          const std::atomic<bool>* stop, std::string& why) {
    const auto source_size = source.size();
    if (!source_size) return Delta::read_failed;
    xd3_config config;
    // Checksums in the delta (the Adler-32 of each window), which every
    // applier checks; the fastest matching, as xdelta3 -1 does. The library
    // is given the checksums (XD3_ADLER32_RECODE) and checks none
    // (XD3_ADLER32_NOVER): libdeflate's Adler-32, here on both sides, is
    // many times faster than its own loop.
    xd3_init_config(&config, encode ? (XD3_ADLER32_RECODE | XD3_COMPLEVEL_1) : XD3_ADLER32_NOVER);
    config.winsize = kInput;
    config.smatch_cfg = XD3_SMATCH_FASTEST;
    xd3_stream stream;
    std::fill_n(reinterpret_cast<unsigned char*>(&stream), sizeof stream, 0);
    if (xd3_config_stream(&stream, &config) != 0) {
        why = stream.msg ? stream.msg : "the delta library could not start";
        xd3_free_stream(&stream);
        return Delta::refused;
    }
    xd3_source src;
    std::fill_n(reinterpret_cast<unsigned char*>(&src), sizeof src, 0);
    src.blksize = kBlock;
    src.max_winsize = kDeltaWindow;
    src.curblkno = ~xoff_t{0};
    SourceBlocks blocks(source, *source_size);
    Delta result = Delta::done;
    if (xd3_set_source_and_size(&stream, &src, *source_size) != 0) {
        why = stream.msg ? stream.msg : "the source is refused";
        result = Delta::refused;
    }
    Bytes buf(kInput);
    bool more = result == Delta::done;
    while (more) {
        if (stop && stop->load()) {
            result = Delta::stopped;
            break;
        }
        const std::size_t n = input(buf);
        if (n < buf.size()) xd3_set_flags(&stream, XD3_FLUSH | stream.flags);
        xd3_avail_input(&stream, buf.data(), static_cast<usize_t>(n));
        for (bool process = true; process;) {
            const int ret = encode ? xd3_encode_input(&stream) : xd3_decode_input(&stream);
            switch (ret) {
                case XD3_INPUT:
                    process = false;
                    more = n == buf.size();
                    break;
                case XD3_OUTPUT:
                    if (!encode && (stream.dec_win_ind & kWindowChecksum) &&
                        libdeflate_adler32(1, stream.next_out, stream.avail_out) != stream.dec_adler32) {
                        why = "target window checksum mismatch";
                        result = Delta::refused;
                        process = more = false;
                        break;
                    }
                    if (!write(ByteView(stream.next_out, stream.avail_out))) {
                        result = Delta::write_failed;
                        process = more = false;
                    }
                    xd3_consume_output(&stream);
                    break;
                case XD3_GETSRCBLK:
                    if (!blocks.fetch(src)) {
                        result = Delta::read_failed;
                        process = more = false;
                    }
                    break;
                case XD3_WINSTART:
                    // The window's input is in place: its checksum.
                    if (encode) stream.recode_adler32 = libdeflate_adler32(1, stream.next_in, stream.avail_in);
                    break;
                case XD3_GOTHEADER:
                case XD3_WINFINISH: break;
                default:
                    why = stream.msg ? stream.msg : xd3_strerror(ret);
                    result = Delta::refused;
                    process = more = false;
            }
        }
    }
    if (result == Delta::done && xd3_close_stream(&stream) != 0) {
        why = stream.msg ? stream.msg : "the delta ends too early";
        result = Delta::refused;
    }
    xd3_free_stream(&stream);
    return result;
}

}  // namespace

DeltaInput whole_file(platform::File& f) {
    return [&f, at = std::uint64_t{0}](std::span<std::uint8_t> out) mutable {
        const std::size_t n = f.read_at(at, out);
        at += n;
        return n;
    };
}

Delta make_delta(platform::File& source, const DeltaInput& target, const DeltaSink& write,
                 const std::atomic<bool>* stop, std::string& why) {
    return run(true, source, target, write, stop, why);
}

Delta apply_delta(platform::File& source, const DeltaInput& delta, const DeltaSink& write,
                  const std::atomic<bool>* stop, std::string& why) {
    return run(false, source, delta, write, stop, why);
}

}  // namespace vid::project
