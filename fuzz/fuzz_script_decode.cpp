// The instruction decoder over any bytes: never reads past the data, and a
// script decoded without notices encodes back to the same bytes.
#include <cstdlib>

#include "script/decoder.h"
#include "script/encoder.h"

using namespace vid::script;

namespace {

// The listing's lines, with a check of each item's node text and level.
struct Lines : ItemSink {
    ListingBuffer buf{nullptr, 1 << 12};
    void item(std::string_view label, std::string_view value, int level) override {
        if (node_text(label, value).size() > kNodeTextLimit || level < 1 || level > 2) std::abort();
        buf.append_item(label, value, level);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Lines lines, items, small;
    const ScriptNotes notes = decode_script({data, size}, lines);
    // Through the smallest buffer: the same listing, unless a string longer
    // than it is cut by the end of the data (it is then shown as far as it goes).
    MemorySource whole({reinterpret_cast<const char*>(data), size});
    const ScriptNotes small_notes = decode_script(whole, small, 0);
    if (small_notes.cut_at != notes.cut_at || (!notes.cut_at && small.buf.pending() != lines.buf.pending()))
        std::abort();
    MemorySource source(lines.buf.pending());
    LineReader reader(source);
    vid::Bytes back;
    const bool same = encode_listing(reader, items, back).step == Encoded::end && back == vid::Bytes(data, data + size);
    if (!notes.any() && !same) std::abort();
    return 0;
}
