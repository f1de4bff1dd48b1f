// The script-text mapper over any bytes: two bytes that choose the edits,
// then the script. The map must agree with the decoder on where every
// instruction starts and which ones are complete; every voice name and
// text lies within the data, where the instruction's operands put it.
// Then some texts are replaced (other lengths only when every jump lands
// on an instruction, as import does it): the rebuilt script has the same
// instructions, the new texts where the old ones were, every jump on the
// instruction it pointed at, and replacing the new texts by the old ones
// gives the original bytes back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "script/decoder.h"
#include "script/texts.h"

using namespace vid::script;
using vid::load_u16;
using vid::load_u32;

namespace {

[[noreturn]] void fail() { __builtin_trap(); }

struct Quiet : ItemSink {
    void item(std::string_view, std::string_view, int) override {}
};

std::string_view bytes_at(vid::ByteView d, std::uint32_t at, std::uint32_t size) {
    return {reinterpret_cast<const char*>(d.data()) + at, size};
}

// Where everything lies, and that the decoder walks the same instructions.
void check_map(vid::ByteView d, const ScriptMap& map) {
    const std::size_t size = d.size();
    if (map.size != size || map.starts.empty() != (size == 0)) fail();
    if (!map.starts.empty() && map.starts[0] != 0) fail();
    for (std::size_t i = 0; i < map.starts.size(); ++i)
        if (map.starts[i] >= size || (i > 0 && map.starts[i] <= map.starts[i - 1])) fail();
    const auto end_of = [&](std::uint32_t n) { return n < map.starts.size() ? map.starts[n] : size; };

    std::uint32_t last_n = 0;
    for (const ScriptText& t : map.texts) {
        if (t.n <= last_n || t.n > map.starts.size()) fail();
        last_n = t.n;
        const std::uint32_t start = map.starts[t.n - 1];
        if (end_of(t.n) - start < 5 || load_u16(&d[start]) != t.opcode || load_u16(&d[start + 2]) != t.idx) fail();
        // The text and its zero byte end the instruction.
        if (t.text_at < start + 4 || std::uint64_t{t.text_at} + t.text_size + 1 != end_of(t.n)) fail();
        if (d[t.text_at + t.text_size] != 0 || bytes_at(d, t.text_at, t.text_size).find('\0') != std::string_view::npos)
            fail();
        if (t.opcode == 0x0001) {
            if (t.voice || t.open_voice || t.text_at != start + 4) fail();
        } else if (t.opcode != 0x0000) {
            fail();
        } else if (!t.voice) {
            if (t.open_voice || t.text_at != start + 4 || bytes_at(d, t.text_at, t.text_size).starts_with("\\V")) fail();
        } else {
            // "\V", the name, then "." and the text; or the zero byte at once.
            const std::uint64_t stop = std::uint64_t{t.voice_at} + t.voice_size;
            if (t.voice_at != start + 6 || stop + (t.open_voice ? 0 : 1) != t.text_at) fail();
            if (t.open_voice ? t.text_size != 0 : d[stop] != 0x2E) fail();
            if (bytes_at(d, start + 4, 2) != "\\V" ||
                bytes_at(d, t.voice_at, t.voice_size).find_first_of(std::string_view("\0.", 2)) != std::string_view::npos)
                fail();
        }
    }
    for (std::size_t k = 0; k < map.jumps.size(); ++k) {
        const ScriptJump& j = map.jumps[k];
        const auto it = std::lower_bound(map.starts.begin(), map.starts.end(), j.at);
        if (it == map.starts.end() || *it != j.at || (k > 0 && j.at <= map.jumps[k - 1].at)) fail();
        const auto n = static_cast<std::uint32_t>(it - map.starts.begin()) + 1;
        if (end_of(n) != j.at + 6u || load_u16(&d[j.at]) != 0x0201 || load_u32(&d[j.at + 2]) != j.to) fail();
    }
    for (const ScriptJump& j : loose_jumps(map))
        if (j.to == size || std::binary_search(map.starts.begin(), map.starts.end(), j.to)) fail();

    // The decoder, instruction after instruction: the same starts; only
    // the last one may be cut off, and every complete text and jump is in
    // the map.
    Quiet quiet;
    MemorySource source(std::string_view(reinterpret_cast<const char*>(d.data()), size));
    ScriptReader in(source, ScriptReader::kMinBuffer);
    std::size_t i = 0, text = 0, jump = 0;
    while (in.want(1) > 0) {
        if (i >= map.starts.size() || in.offset() != map.starts[i]) fail();
        const std::uint16_t opcode = size - map.starts[i] >= 2 ? load_u16(&d[map.starts[i]]) : 0xFFFF;
        const Decoded dec = decode_instruction(in, quiet);
        ++i;
        if (in.offset() != end_of(static_cast<std::uint32_t>(i)) || (dec.cut && i != map.starts.size())) fail();
        if (dec.cut) continue;
        if (opcode == 0x0000 || opcode == 0x0001) {
            if (text >= map.texts.size() || map.texts[text].n != i) fail();
            if ((dec.loss == Loss::open_voice) != map.texts[text].open_voice) fail();
            ++text;
        } else if (opcode == 0x0201) {
            if (jump >= map.jumps.size() || map.jumps[jump].at != map.starts[i - 1]) fail();
            ++jump;
        }
    }
    if (i != map.starts.size() || text != map.texts.size() || jump != map.jumps.size()) fail();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t which = data[0], how = data[1];
    const vid::ByteView script(data + 2, size - 2);
    const ScriptMap map = map_script(script);
    check_map(script, map);
    if (map.texts.empty()) return 0;

    // Text i is replaced when bit i % 8 of `which` is set, as import would
    // take it: no zero byte, no voice marker at the start of an Init Text
    // without one, none where the marker has no full stop. Its new length
    // comes from two bits of `how`; its bytes from the script itself.
    const bool may_move = loose_jumps(map).empty();
    std::vector<TextEdit> edits, undo;
    std::int64_t grow = 0;
    for (std::size_t i = 0; i < map.texts.size(); ++i) {
        const ScriptText& t = map.texts[i];
        if (!(which & (1u << (i % 8))) || t.open_voice) continue;
        std::size_t length = t.text_size;
        if (may_move) {
            switch ((how >> (2 * (i % 4))) & 3) {
                case 0: break;
                case 1: length += 1 + i % 3; break;
                case 2: length = length > 0 ? length - 1 : 0; break;
                default: length = (how >> 4) & 7; break;
            }
        }
        std::string bytes(length, 'x');
        for (std::size_t k = 0; k < length; ++k) {
            const std::uint8_t b = script[(t.text_at + k * 7 + how) % script.size()];
            bytes[k] = static_cast<char>(b == 0 ? 0x41 : b ^ 0x20 ^ (b == 0x20 ? 0x01 : 0x00));
        }
        if (t.opcode == 0x0000 && !t.voice && std::string_view(bytes).starts_with("\\V")) bytes[1] = 'v';
        grow += static_cast<std::int64_t>(length) - t.text_size;
        undo.push_back({i, std::string(bytes_at(script, t.text_at, t.text_size))});
        edits.push_back({i, std::move(bytes)});
    }
    if (edits.empty()) return 0;
    // The edits in another order than the texts': the rebuild sorts them.
    std::reverse(edits.begin(), edits.end());

    const Rebuilt out = rebuild_script(script, map, edits);
    if (static_cast<std::int64_t>(out.data.size()) != static_cast<std::int64_t>(script.size()) + grow) fail();
    const ScriptMap after = map_script(out.data);
    check_map(out.data, after);
    if (after.starts.size() != map.starts.size() || after.texts.size() != map.texts.size() ||
        after.jumps.size() != map.jumps.size() || after.tail != map.tail)
        fail();
    for (std::size_t i = 0; i < map.texts.size(); ++i) {
        const ScriptText& a = map.texts[i];
        const ScriptText& b = after.texts[i];
        if (a.n != b.n || a.opcode != b.opcode || a.idx != b.idx || a.voice != b.voice || a.open_voice != b.open_voice ||
            bytes_at(script, a.voice_at, a.voice_size) != bytes_at(out.data, b.voice_at, b.voice_size))
            fail();
        const auto edit = std::find_if(edits.begin(), edits.end(), [i](const TextEdit& e) { return e.text == i; });
        const std::string_view want = edit != edits.end() ? std::string_view(edit->bytes)
                                                          : bytes_at(script, a.text_at, a.text_size);
        if (bytes_at(out.data, b.text_at, b.text_size) != want) fail();
    }
    // Every jump stays at its instruction and lands where its target went.
    std::size_t moved = 0;
    for (std::size_t k = 0; k < map.jumps.size(); ++k) {
        const ScriptJump& a = map.jumps[k];
        const ScriptJump& b = after.jumps[k];
        const auto n = std::lower_bound(map.starts.begin(), map.starts.end(), a.at) - map.starts.begin();
        if (b.at != after.starts[static_cast<std::size_t>(n)]) fail();
        const auto target = std::lower_bound(map.starts.begin(), map.starts.end(), a.to);
        // A target off the instructions' starts is only there when no
        // length changed: it stays as it is.
        std::uint64_t want = a.to;
        if (a.to == map.size)
            want = after.size;
        else if (target != map.starts.end() && *target == a.to)
            want = after.starts[static_cast<std::size_t>(target - map.starts.begin())];
        if (b.to != want) fail();
        moved += b.to != a.to;
    }
    if (out.jumps_moved != moved) fail();

    const Rebuilt back = rebuild_script(out.data, after, undo);
    if (back.data != vid::Bytes(script.begin(), script.end()) || back.jumps_moved != moved) fail();
    return 0;
}
