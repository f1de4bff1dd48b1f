// Packing delta codes into runs, as few bytes as the run kinds allow.
//
// A run costs: kind 0, 2 bytes and one per code (1 to 255 codes); kind 1,
// 257 bytes for 256 codes; a repeat of one code, 2 bytes as kind k (2 or
// 4 to 255 times) or 4 bytes as kind 3 (up to 65535 times). The packer
// finds the cheapest cover of the codes by dynamic programming. It works
// on a window of codes: when the window is full, the runs of the cheapest
// cover that end well before its end (more than the longest run) are
// written and the rest is packed again with the codes that follow, so
// memory stays bounded whatever the length of the sound.
#pragma once

#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "wv5/wv5.h"

namespace vid::wv5 {

class RunPacker {
public:
    static constexpr std::size_t kWindow = std::size_t{1} << 18;

    // Writes the runs to `out`.
    explicit RunPacker(Sink& out, std::size_t window = kWindow);

    // Takes codes; false when the sink refused bytes.
    bool push(ByteView codes);
    // Packs and writes what is left; false when the sink refused bytes.
    bool finish();

    std::uint64_t runs() const { return runs_; }
    std::uint64_t bytes() const { return bytes_; }

private:
    // Packs the codes held and writes the runs of the cheapest cover that
    // end more than the longest run before the last code (all when `all`).
    bool pack(bool all);

    Sink& out_;
    std::size_t window_;
    Bytes codes_;
    std::uint64_t runs_ = 0;
    std::uint64_t bytes_ = 0;
};

// The runs of `codes` as one block of bytes (for tests and tools).
Bytes pack_runs(ByteView codes, std::uint64_t* runs = nullptr);

}  // namespace vid::wv5
