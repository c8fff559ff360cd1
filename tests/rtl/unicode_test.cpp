#include <gtest/gtest.h>

#include "Platform/rtl/SysUtils.h"

using namespace Rtl;

TEST(Unicode, RoundTripsValidText) {
    for (const char* s : {"", "plain", "Grüße", "日本語", "emoji \xF0\x9F\x98\x80 end"}) {
        EXPECT_EQ(WideToUtf8(Utf8ToWide(s)), s) << s;
        EXPECT_TRUE(IsValidUtf8(s)) << s;
    }
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80").size(), 2u);  // surrogate pair
}

TEST(Unicode, MalformedInputBecomesReplacementPerByte) {
    struct Case { std::string in; std::u16string out; } cases[] = {
        {"\x80", u"\uFFFD"},                         // stray continuation
        {"a\xC3", u"a\uFFFD"},                       // truncated at the end
        {"\xC0\xAF", u"\uFFFD\uFFFD"},               // overlong slash
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},     // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82x", u"\uFFFD\uFFFDx"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Utf8ToWide(c.in), c.out);
        EXPECT_FALSE(IsValidUtf8(c.in));
    }
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));  // a literal U+FFFD is valid
}

TEST(Unicode, UnpairedSurrogatesBecomeReplacement) {
    EXPECT_EQ(WideToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(u"x" + std::u16string(1, u'\xDC00') + u"y"), "x\xEF\xBF\xBDy");
}
