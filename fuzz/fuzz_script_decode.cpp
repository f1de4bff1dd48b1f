// The instruction decoder over any bytes: never reads past the data, and a
// script decoded without notices encodes back to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "script/decoder.h"
#include "script/encoder.h"
#include "script/listing.h"

namespace {

struct ViewUi : vid::Ui {
    void status(std::string_view, vid::Draw) override {}
    void alert(std::string_view) override {}
    void add_node(std::string_view text, int level) override {
        if (text.size() > vid::script::kNodeTextLimit || level < 1 || level > 2) std::abort();
    }
    bool has_listing_view() const override { return true; }
};

struct NoItems : vid::script::ItemSink {
    void item(std::string_view, std::string_view, int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vid::script;
    ViewUi ui;
    ListingBuffer lines;
    ItemWriter writer(ui, &lines);
    const vid::ByteView script(data, size);
    const ScriptNotes notes = decode_script(script, writer);

    MemorySource source(lines.pending());
    LineReader reader(source);
    NoItems sink;
    vid::Bytes back;
    const Encoded e = encode_listing(reader, sink, back);
    const bool same = e.step == Encoded::end && back.size() == size &&
                      std::equal(back.begin(), back.end(), script.begin());
    if (!notes.any() && !same) std::abort();
    return 0;
}
