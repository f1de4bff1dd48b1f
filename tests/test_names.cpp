// Names matched against wildcards, as extract-fl3 MEMBER and the browser's
// filter match them.
#include <gtest/gtest.h>

#include "core/text.h"

namespace {

TEST(MatchesName, WildcardsAndCase) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"title.bm2", "title.bm2", true},  {"TITLE.BM2", "title.bm2", true}, {"title.bm2", "title.bm", false},
        {"title.bm", "title.bm2", false},  {"title.bm2", "*.bm2", true},     {"title.bm2", "*.BM2", true},
        {"title.bm2", "*.wv5", false},     {"a", "?", true},                 {"", "?", false},
        {"ab", "?", false},                {"", "*", true},                  {"", "", true},
        {"a", "", false},                  {"abcabd", "*abd", true},         {"abcabc", "*abd", false},
        {"aXbXc", "a*b*c", true},          {"aXbX", "a*b*c", false},         {"[x].ab", "[x]*", true},
        {"\x82\xA0.ab", "\x82\xA0*", true}, {"\x82\xA0.ab", "\x82\xA1*", false}, {"a.b", "a?b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(vid::matches_name(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

}  // namespace
