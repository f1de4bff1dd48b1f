#include "script/texts.h"

#include <algorithm>
#include <cstring>

#include "script/instructions.h"

namespace vid::script {

namespace {

constexpr std::uint16_t kInitText = 0x0000;
constexpr std::uint16_t kUpdateText = 0x0001;
constexpr std::uint16_t kJump = 0x0201;

// The first byte `a` or `b` at or after `pos`; data.size() when none.
std::size_t find_either(ByteView data, std::size_t pos, std::uint8_t a, std::uint8_t b) {
    if (a == b) {
        const void* hit = std::memchr(data.data() + pos, a, data.size() - pos);
        return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data.data()) : data.size();
    }
    while (pos < data.size() && data[pos] != a && data[pos] != b) ++pos;
    return pos;
}

}  // namespace

ScriptMap map_script(ByteView data) {
    ScriptMap map;
    map.size = data.size();
    const std::size_t size = data.size();
    std::size_t pos = 0;
    std::uint32_t n = 0;
    while (pos < size) {
        const std::size_t start = pos;
        map.starts.push_back(static_cast<std::uint32_t>(start));
        ++n;
        if (size - pos < 2) break;
        const std::uint16_t opcode = load_u16(&data[pos]);
        pos += 2;
        const Instruction* row = find_instruction(opcode);
        if (row == nullptr) continue;
        ScriptText text;
        text.n = n;
        text.opcode = opcode;
        std::uint32_t first_number = 0;
        bool cut = false;
        for (const OperandSpec& o : row->operands()) {
            if (is_number(o.kind)) {
                const std::size_t w = width(o.kind);
                if (size - pos < w) {
                    cut = true;
                    break;
                }
                const std::uint32_t v = w == 1 ? data[pos] : w == 2 ? load_u16(&data[pos]) : load_u32(&data[pos]);
                if (&o == &row->operands()[0]) first_number = v;
                pos += w;
                if (o.kind == Kind::count) {
                    const std::size_t tail = kTailUnit * v;
                    if (size - pos < tail) {
                        cut = true;
                        break;
                    }
                    if (v > 0) map.tail = true;
                    pos += tail;
                }
            } else if (o.kind == Kind::voice) {
                if (size - pos < 2 || data[pos] != 0x5C || data[pos + 1] != 0x56) continue;
                // "\V", the name, "." - or the string's zero byte when the
                // full stop is missing, which then ends the (empty) text too.
                const std::size_t stop = find_either(data, pos + 2, 0x2E, 0x00);
                if (stop == size) {
                    cut = true;
                    break;
                }
                text.voice = true;
                text.voice_at = static_cast<std::uint32_t>(pos + 2);
                text.voice_size = static_cast<std::uint32_t>(stop - pos - 2);
                text.open_voice = data[stop] == 0x00;
                pos = data[stop] == 0x2E ? stop + 1 : stop;
            } else {
                const std::size_t zero = find_either(data, pos, 0x00, 0x00);
                if (zero == size) {
                    cut = true;
                    break;
                }
                text.text_at = static_cast<std::uint32_t>(pos);
                text.text_size = static_cast<std::uint32_t>(zero - pos);
                pos = zero + 1;
            }
        }
        if (cut) {
            pos = size;
            break;
        }
        if (opcode == kInitText || opcode == kUpdateText) {
            text.idx = static_cast<std::uint16_t>(first_number);
            map.texts.push_back(text);
        } else if (opcode == kJump) {
            map.jumps.push_back({static_cast<std::uint32_t>(start), first_number});
        }
    }
    return map;
}

std::vector<ScriptJump> loose_jumps(const ScriptMap& map) {
    std::vector<ScriptJump> loose;
    for (const ScriptJump& j : map.jumps) {
        if (j.to == map.size) continue;
        if (!std::binary_search(map.starts.begin(), map.starts.end(), j.to)) loose.push_back(j);
    }
    return loose;
}

Rebuilt rebuild_script(ByteView data, const ScriptMap& map, std::vector<TextEdit> edits) {
    std::sort(edits.begin(), edits.end(), [](const TextEdit& a, const TextEdit& b) { return a.text < b.text; });
    Rebuilt out;
    std::size_t grow = 0;
    for (const TextEdit& e : edits) grow += e.bytes.size();
    out.data.reserve(data.size() + grow);
    // Old offset -> shift: the sum of the length changes of the texts
    // before it, kept as (text end, shift after it) steps.
    std::vector<std::pair<std::uint32_t, std::int64_t>> steps;
    std::int64_t shift = 0;
    std::size_t copied = 0;
    for (const TextEdit& e : edits) {
        const ScriptText& t = map.texts[e.text];
        out.data.insert(out.data.end(), data.begin() + copied, data.begin() + t.text_at);
        out.data.insert(out.data.end(), e.bytes.begin(), e.bytes.end());
        copied = t.text_at + t.text_size;
        shift += static_cast<std::int64_t>(e.bytes.size()) - t.text_size;
        steps.emplace_back(t.text_at + t.text_size, shift);
    }
    out.data.insert(out.data.end(), data.begin() + copied, data.end());
    if (std::all_of(steps.begin(), steps.end(), [](const auto& s) { return s.second == 0; })) return out;
    const auto moved = [&](std::uint32_t old) {
        // The last step whose text ends at or before `old` gives its shift.
        auto it = std::upper_bound(steps.begin(), steps.end(), old,
                                   [](std::uint32_t v, const auto& s) { return v < s.first; });
        return it == steps.begin() ? std::int64_t{0} : std::prev(it)->second;
    };
    for (const ScriptJump& j : map.jumps) {
        const std::int64_t to = j.to + moved(j.to);
        const std::int64_t field = j.at + moved(j.at) + 2;
        if (to == j.to) continue;
        store_u32(&out.data[static_cast<std::size_t>(field)], static_cast<std::uint32_t>(to));
        ++out.jumps_moved;
    }
    return out;
}

}  // namespace vid::script
