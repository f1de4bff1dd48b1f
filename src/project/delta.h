// VCDIFF deltas (RFC 3284), made and applied with xdelta3's library: a
// patch's file as the difference between the game's own file and the
// result, which the patchers players know apply as well
// (`xdelta3 -d -s ORIGINAL DELTA RESULT`).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/bytes.h"
#include "platform/file.h"

namespace vid::project {

enum class Delta {
    done,
    stopped,       // `stop` was set
    read_failed,   // the source could not be read whole (an input that cannot be read ends early)
    write_failed,  // `write` returned false
    refused,       // the library refused (a delta that is not one, or not of this source): see `why`
};

// The memory it takes beyond its buffers: the source is looked at through
// a window of this many bytes around where the input stands.
inline constexpr std::uint64_t kDeltaWindow = std::uint64_t{16} << 20;

// Where the bytes made go, piece by piece; false: they could not be written.
using DeltaSink = std::function<bool(ByteView)>;
// Where the input comes from: fills the front of its span and returns the
// count, less than the span's size only at the end.
using DeltaInput = std::function<std::size_t(std::span<std::uint8_t>)>;
// The whole of a file as such an input, from its first byte.
DeltaInput whole_file(platform::File& f);

// Gives `write` the delta that makes `target` of `source`. The source is
// read with File::read_at only: another thread may read it meanwhile.
Delta make_delta(platform::File& source, const DeltaInput& target, const DeltaSink& write,
                 const std::atomic<bool>* stop, std::string& why);

// Gives `write` what the delta `delta` makes of `source` (read the same way).
Delta apply_delta(platform::File& source, const DeltaInput& delta, const DeltaSink& write,
                  const std::atomic<bool>* stop, std::string& why);

}  // namespace vid::project
