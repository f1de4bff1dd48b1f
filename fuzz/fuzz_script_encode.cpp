// The line reader and the instruction encoder over any text, and the
// decoder over what they produce.
#include "script/decoder.h"
#include "script/encoder.h"

namespace {

struct NoItems : vid::script::ItemSink {
    void item(std::string_view, std::string_view, int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vid::script;
    MemorySource source({reinterpret_cast<const char*>(data), size});
    LineReader reader(source);
    NoItems items;
    vid::Bytes out;
    encode_listing(reader, items, out);
    decode_script(out, items);
    return 0;
}
