// The line reader and the instruction encoder over any text, and the
// decoder over what they produce.
#include <cstdint>

#include "script/decoder.h"
#include "script/encoder.h"
#include "script/listing.h"

namespace {

struct Count : vid::script::ItemSink {
    std::size_t n = 0;
    void item(std::string_view, std::string_view, int) override { ++n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vid::script;
    MemorySource source({reinterpret_cast<const char*>(data), size});
    LineReader reader(source);
    Count items;
    vid::Bytes out;
    encode_listing(reader, items, out);
    Count decoded;
    decode_script(out, decoded);
    return 0;
}
