// The LZSS compressor of BM2 images: hand-checked streams, round trips
// through the decoder, and never larger than the longest-match parse.
#include <gtest/gtest.h>

#include <algorithm>

#include "bm2/bm2.h"
#include "bm2/lzss_encode.h"
#include "kit/kit.h"
#include "kit/lzss_bm2.h"
#include "test_support.h"

namespace vid {
namespace {


Bytes decode(const Bytes& packed, std::size_t size) {
    Bytes out(size, 0xAA);
    EXPECT_EQ(bm2::lzss_decode(packed, out), size);
    return out;
}

// The size of the longest-match parse, by brute force over every distance
// from 1 to 4096, with 4096 zeros before the data: at each position the
// longest match (3 to 18 bytes) if there is one, else a literal.
std::size_t greedy_size(const Bytes& data) {
    Bytes buf(4096, 0);
    buf.insert(buf.end(), data.begin(), data.end());
    std::size_t bits = 0;
    for (std::size_t cur = 4096; cur < buf.size();) {
        const std::size_t limit = std::min<std::size_t>(18, buf.size() - cur);
        std::size_t best = 0;
        for (std::size_t dist = 1; dist <= 4096; ++dist) {
            std::size_t n = 0;
            while (n < limit && buf[cur - dist + n] == buf[cur + n]) ++n;
            best = std::max(best, n);
        }
        if (best >= 3) {
            bits += 17;
            cur += best;
        } else {
            bits += 9;
            ++cur;
        }
    }
    return (bits + 7) / 8;
}

TEST(LzssEncode, HandCheckedStreams) {
    // "abc" once, "bcd...s" once, then "abcd...s": the longest match at "a"
    // is "abc" (3 bytes, and "d..s" then needs a second match); a literal
    // "a" and one match of 18 are cheaper.
    const Bytes detour = test::bytes_of("abc-bcdefghijklmnopqrs-abcdefghijklmnopqrs");
    const struct {
        const char* what;
        Bytes data;
        std::size_t size;  // bytes of the cheapest stream, counted by hand
        Bytes exact;       // the stream itself, where only one is cheapest
    } cases[] = {
        {"nothing", {}, 0, {}},
        {"one literal: the flag byte is cut after its first item", {'A'}, 2, {0x01, 'A'}},
        {"three different bytes", test::bytes_of("ABC"), 4, {0x07, 'A', 'B', 'C'}},
        {"eight literals fill one flag byte, the ninth starts the next", test::bytes_of("ABCDEFGHI"), 11,
         {0xFF, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0x01, 'I'}},
        // Two literals and one match of 10 from 2 back, that is from window
        // position 4078 = 0xFEE, where the first byte went.
        {"overlapping match repeats a pair", test::bytes_of("abababababab"), 5, {0x03, 'a', 'b', 0xEE, 0xF7}},
        // The window's zeros as a source: the nearest, 1 back (position 4077 = 0xFED).
        {"three zeros: one match into the window's initial zeros", Bytes(3, 0), 3, {0x00, 0xED, 0xF0}},
        {"eighteen zeros: the longest match", Bytes(18, 0), 3, {0x00, 0xED, 0xFF}},
        {"nineteen zeros: a match of 18 and a literal", Bytes(19, 0), 4, {0x02, 0xED, 0xFF, 0x00}},
        // 18 + 3 and 3 + 18 (and 17 + 4...) cost the same: the longest first.
        {"twenty-one zeros: equal costs, the longest match first", Bytes(21, 0), 5, {0x00, 0xED, 0xFF, 0xFF, 0xF0}},
        {"thirty-six zeros: two matches of 18", Bytes(36, 0), 5, {0x00, 0xED, 0xFF, 0xFF, 0xFF}},
        // Two sources of "abc" (4 and 8 back): the nearest, at 4078 + 8 - 4 = 0xFF2.
        {"equal matches: the nearest source", test::bytes_of("abc3abc1abc2defghijklmnopqrstu"), 32,
         Bytes{0xAF, 'a', 'b', 'c', '3', 0xEE, 0xF0, '1', 0xF2, 0xF0, '2', 0xFF} + test::bytes_of("defghijk") +
             Bytes{0xFF} + test::bytes_of("lmnopqrs") + Bytes{0x03, 't', 'u'}},
        // A literal and a match of 3 (26 bits) against four literals (36).
        {"four equal bytes: a literal, then a match 1 back", test::bytes_of("aaaa"), 4, {0x01, 'a', 0xEE, 0xF0}},
        {"literal, then a cheaper match than the longest", detour, 30, {}},
    };
    for (const auto& c : cases) {
        const Bytes packed = bm2::lzss_encode(c.data);
        EXPECT_EQ(packed.size(), c.size) << c.what;
        if (!c.exact.empty()) EXPECT_EQ(packed, c.exact) << c.what;
        EXPECT_EQ(decode(packed, c.data.size()), c.data) << c.what;
    }
    EXPECT_EQ(greedy_size(detour), 31u);  // one byte more than the cheapest parse
}

TEST(LzssEncode, MatchesReachExactly4096Back) {
    // N random bytes, then their first few again at the very end: only the
    // source N back has them, and 4096 back (window position 4078, the one
    // about to be overwritten) is the farthest a match reaches. The last 17
    // positions are searched apart from the rest: tails of 18 and of 3.
    const struct {
        std::size_t back, tail;
        Bytes end;  // the last bytes of the stream; empty: the tail itself, as literals
    } cases[] = {
        {4096, 18, {0xEE, 0xFF}},      // a match at 4078 of 18
        {4096, 3, {0xEE, 0xF0}},       // a match at 4078 of 3
        {4097, 3, {}},                 // too far: three literals
    };
    for (const auto& c : cases) {
        kit::Rng rng(7);
        Bytes data(c.back);
        for (auto& b : data) b = rng.byte();
        data.insert(data.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(c.tail));
        const Bytes end = c.end.empty() ? Bytes(data.end() - 3, data.end()) : c.end;
        const Bytes packed = bm2::lzss_encode(data);
        EXPECT_EQ(decode(packed, data.size()), data) << c.back;
        EXPECT_LE(packed.size(), greedy_size(data)) << c.back;
        ASSERT_GE(packed.size(), end.size());
        EXPECT_EQ(Bytes(packed.end() - static_cast<std::ptrdiff_t>(end.size()), packed.end()), end)
            << c.back << " back, " << c.tail;
    }
}

TEST(LzssEncode, RoundTripsAndNeverLargerThanLongestMatch) {
    kit::Rng rng(11);
    std::vector<Bytes> inputs;
    for (std::size_t size : {1u, 2u, 17u, 18u, 19u, 100u, 4095u, 4096u, 4097u, 5000u}) {
        Bytes random(size), few(size), runs;
        for (auto& b : random) b = rng.byte();
        for (auto& b : few) b = static_cast<std::uint8_t>(rng.below(3));  // many short matches
        while (runs.size() < size) runs.insert(runs.end(), rng.below(40) + 1, static_cast<std::uint8_t>(rng.below(4)));
        runs.resize(size);
        inputs.insert(inputs.end(), {random, few, runs});
    }
    const Bytes screen = kit::bmp24(40, 30, 3);
    inputs.push_back(screen);
    inputs.push_back(kit::bm2_alpha(8, 30, 20, kit::alpha_picture(8, 30, 20, 4)));
    for (const Bytes& data : inputs) {
        const Bytes packed = bm2::lzss_encode(data);
        ASSERT_EQ(decode(packed, data.size()), data) << data.size() << " bytes";
        EXPECT_LE(packed.size(), greedy_size(data)) << data.size() << " bytes";
    }
    // Larger than one pass of the parser (64 KiB), with matches across its end.
    const Bytes big = kit::bmp24(300, 200, 9);
    const Bytes packed = bm2::lzss_encode(big);
    EXPECT_EQ(decode(packed, big.size()), big);
    EXPECT_LT(packed.size(), kit::lzss_encode(big).size());
}

}  // namespace
}  // namespace vid
