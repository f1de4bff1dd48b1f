#include "script/codec.h"

#include "core/text.h"
#include "platform/codepage.h"
#include "script/listing_codepage.h"

namespace vid::script {

std::string listing_of(ByteView data, ScriptNotes* notes, std::vector<std::size_t>* starts) {
    SilentUi ui;
    ListingBuffer lines(nullptr);
    ItemWriter writer(ui, &lines);
    // Notes where each instruction (an item of level 1) begins.
    class Starts final : public ItemSink {
    public:
        Starts(ItemWriter& to, const ListingBuffer& lines, std::vector<std::size_t>* at) : to_(to), lines_(lines), at_(at) {}
        void item(std::string_view label, std::string_view value, int level) override {
            if (level == 1 && at_) at_->push_back(lines_.pending().size());
            to_.item(label, value, level);
        }
        void begin_item(std::string_view label, int level) override { to_.begin_item(label, level); }
        void value_piece(std::string_view piece) override { to_.value_piece(piece); }
        void end_item() override { to_.end_item(); }

    private:
        ItemWriter& to_;
        const ListingBuffer& lines_;
        std::vector<std::size_t>* at_;
    } sink(writer, lines, starts);
    if (starts) starts->clear();
    const ScriptNotes n = decode_script(data, sink);
    if (notes) *notes = n;
    return std::string(lines.pending());
}

ListingOutcome encode_listing_from(Ui& ui, ByteSource& source, bool utf8, std::string_view listing_name,
                                   const std::function<bool(ByteView)>& write) {
    // The bytes go out through a buffer, a whole number of instructions at a time.
    constexpr std::size_t kFlushAt = 1 << 20;
    ListingOutcome outcome;
    platform::Codepage codepage(kGameCodepage);
    CodepageLines converted(source, codepage);
    Bytes bytes;
    bytes.reserve(kFlushAt + 4096);
    LineReader reader(utf8 ? static_cast<ByteSource&>(converted) : source);
    ItemWriter items(ui, nullptr);
    LineCodeCheck writer(items, reader, codepage);
    do {
        outcome.result = encode_instruction(reader, writer, bytes);
        if (bytes.size() >= kFlushAt || outcome.result.step != Encoded::instruction) {
            outcome.written = write(bytes) && outcome.written;
            bytes.clear();
        }
    } while (outcome.result.step == Encoded::instruction);
    if (!utf8) {
        outcome.code_notes = writer.message(listing_name);
        outcome.code_lines = writer.lines();
    }
    outcome.refused_line = converted.refused_line();
    if (outcome.refused_line != 0) outcome.refused_why = converted.refused_why();
    return outcome;
}

std::optional<std::string> refusal_text(const ListingOutcome& outcome, std::string_view listing_name) {
    if (outcome.refused_line != 0)
        return format("%s: line %s: code page %s cannot hold %s\nNo AB file was written.",
                      {listing_name, std::to_string(outcome.refused_line), std::to_string(kGameCodepage),
                       outcome.refused_why});
    if (outcome.result.step == Encoded::no_number) return no_number_message(listing_name, outcome.result);
    if (outcome.result.step == Encoded::zero_byte) return zero_byte_message(listing_name, outcome.result);
    return std::nullopt;
}

std::optional<Bytes> encode_listing_text(Ui& ui, std::string_view text, bool utf8, std::string& why) {
    MemorySource source(text);
    Bytes out;
    const ListingOutcome outcome = encode_listing_from(ui, source, utf8, "", [&out](ByteView piece) {
        out.insert(out.end(), piece.begin(), piece.end());
        return true;
    });
    const std::string codepage = std::to_string(kGameCodepage);
    if (outcome.refused_line != 0)
        why = format("line %s: code page %s cannot hold %s",
                     {std::to_string(outcome.refused_line), codepage, outcome.refused_why});
    else if (outcome.result.step == Encoded::no_number)
        why = no_number_reason(outcome.result);
    else if (outcome.result.step == Encoded::zero_byte)
        why = zero_byte_reason(outcome.result);
    else if (!outcome.code_lines.empty())
        why = format("these lines are not in the game's code page (%s), and the game would show them garbled:",
                     {codepage}) +
              outcome.code_lines +
              format("\nSave the listing in code page %s, or (on the command line) repack with --utf8 to convert "
                     "a listing saved in UTF-8.",
                     {codepage});
    else
        return out;
    return std::nullopt;
}

}  // namespace vid::script
