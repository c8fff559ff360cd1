#include <gtest/gtest.h>

#include <unordered_set>

#include "Platform/com/Guid.h"

using namespace Com;

TEST(Guid, ParsesAndFormatsTheBracedForm) {
    constexpr GUID literal = GUIDLiteral("{00020400-0000-0000-c000-000000000046}");
    const GUID parsed = StringToGUID("{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(literal, parsed);
    EXPECT_EQ(parsed.D1, 0x00020400u);
    EXPECT_EQ(parsed.D4[0], 0xC0);
    EXPECT_EQ(parsed.D4[7], 0x46);
    EXPECT_EQ(GUIDToString(parsed), "{00020400-0000-0000-C000-000000000046}");
    const GUID all = StringToGUID("{FEDCBA98-7654-3210-0123-456789abcdef}");
    EXPECT_EQ(GUIDToString(all), "{FEDCBA98-7654-3210-0123-456789ABCDEF}");
    EXPECT_EQ(StringToGUID(GUIDToString(all)), all);
}

TEST(Guid, RejectsEverythingButTheBracedForm) {
    const char* bad[] = {
        "",
        "{}",
        "00020400-0000-0000-C000-000000000046",     // no braces
        "{00020400-0000-0000-C000-000000000046",    // one brace
        "{00020400-0000-0000-C000-0000000000467}",  // too long
        "{00020400-0000-0000-C000-00000000004}",    // too short
        "{00020400+0000-0000-C000-000000000046}",   // wrong separator
        "{0002040-00000-0000-C000-000000000046}",   // separator misplaced
        "{0002040G-0000-0000-C000-000000000046}",   // not hex
        "{ 0020400-0000-0000-C000-000000000046}",   // blank
        "[00020400-0000-0000-C000-000000000046]",
    };
    for (const char* s : bad) {
        GUID g;
        EXPECT_FALSE(TryStringToGUID(s, g)) << s;
        try {
            StringToGUID(s);
            ADD_FAILURE() << s;
        } catch (const Rtl::EConvertError& e) {
            EXPECT_EQ(e.Message(), "'" + std::string(s) + "' is not a valid GUID value");
        }
    }
    // A long text is quoted only in part.
    const std::string huge(10000, 'x');
    try {
        StringToGUID(huge);
        ADD_FAILURE();
    } catch (const Rtl::EConvertError& e) {
        EXPECT_LT(e.Message().size(), 120u);
    }
}

TEST(Guid, CreatesDistinctVersion4Guids) {
    std::unordered_set<GUID> seen;
    for (int i = 0; i < 1000; ++i) {
        const GUID g = CreateGUID();
        EXPECT_EQ(g.D3 >> 12, 4);
        EXPECT_EQ(g.D4[0] & 0xC0, 0x80);
        EXPECT_TRUE(seen.insert(g).second);
        EXPECT_EQ(StringToGUID(GUIDToString(g)), g);
    }
    EXPECT_TRUE(GUID_NULL.IsNull());
}
