// VCDIFF deltas through xdelta3's library, our source blocks and window
// checksums. The first byte chooses what the rest is; the next two give
// the size of the source, which comes first:
// - even: a source and a target. The delta made of them, applied to the
//   same source, gives the target back;
// - odd: a source and a delta (as a player's download could be). Applying
//   it is refused with a reason, or ends; of what it makes, no more is
//   asked for once 1 MiB was taken.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/file.h"
#include "project/delta.h"

namespace {

using vid::Bytes;
using vid::ByteView;
using vid::project::Delta;

[[noreturn]] void fail() { __builtin_trap(); }

constexpr std::size_t kTaken = std::size_t{1} << 20;

// The source's file, written again for each input, removed at the end.
const std::string& source_path() {
    static const std::string path = [] {
        char name[] = "/tmp/vidodide-fuzz-delta.XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        return std::string(name);
    }();
    static const bool removed_at_exit = std::atexit([] { unlink(source_path().c_str()); }) == 0;
    (void)removed_at_exit;
    return path;
}

void write_source(const std::uint8_t* data, std::size_t size) {
    const int fd = open(source_path().c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || close(fd) != 0) std::abort();
}

vid::project::DeltaInput input_of(const std::uint8_t* data, std::size_t size) {
    return [data, size, at = std::size_t{0}](std::span<std::uint8_t> out) mutable {
        const std::size_t n = std::min(out.size(), size - at);
        std::copy_n(data + at, n, out.begin());
        at += n;
        return n;
    };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool apply = data[0] & 1;
    const std::size_t source_size = std::min<std::size_t>(data[1] | std::size_t{data[2]} << 8, size - 3);
    const std::uint8_t* rest = data + 3 + source_size;
    const std::size_t rest_size = size - 3 - source_size;
    write_source(data + 3, source_size);
    auto source = vid::platform::File::open(source_path(), vid::platform::OpenMode::read_existing);
    if (!source) std::abort();
    std::string why;
    if (apply) {
        std::size_t taken = 0;
        const Delta d = vid::project::apply_delta(*source, input_of(rest, rest_size), [&](ByteView v) {
            if (taken > kTaken) fail();  // asked for more after a refusal
            taken += v.size();
            return taken <= kTaken;
        }, nullptr, why);
        if (d == Delta::refused && why.empty()) fail();
        return 0;
    }
    Bytes delta;
    if (vid::project::make_delta(*source, input_of(rest, rest_size), [&](ByteView v) {
            delta.insert(delta.end(), v.begin(), v.end());
            return true;
        }, nullptr, why) != Delta::done)
        fail();
    Bytes made;
    if (vid::project::apply_delta(*source, input_of(delta.data(), delta.size()), [&](ByteView v) {
            made.insert(made.end(), v.begin(), v.end());
            return true;
        }, nullptr, why) != Delta::done)
        fail();
    if (!std::equal(made.begin(), made.end(), rest, rest + rest_size) || made.size() != rest_size) fail();
    return 0;
}
