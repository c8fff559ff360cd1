#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "Platform/rtl/SysUtils.h"

using namespace Rtl;

namespace {

// Restores the process-wide settings after a test that localises them.
class SysUtilsSettings : public ::testing::Test {
protected:
    void SetUp() override { FSaved = FormatSettings(); }
    void TearDown() override { FormatSettings() = FSaved; }
    TFormatSettings FSaved;
};

template <typename F>
String ConvertErrorOf(F&& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return "<no EConvertError>";
}

}  // namespace

// ---- Format --------------------------------------------------------------------------

TEST(Format, Specifiers) {
    const WideString wide = u"Grüße";
    const int marker = 0;
    struct Case {
        const char* fmt;
        std::vector<TVarRec> args;
        const char* expected;
    } cases[] = {
        {"Field '%s' cannot be modified", {"Name"}, "Field 'Name' cannot be modified"},
        {"%d|%5d|%-5d|%.5d", {42, -7, 3, -12}, "42|   -7|3    |-00012"},
        {"%d", {INT64_MIN}, "-9223372036854775808"},
        {"%d", {UINT64_MAX}, "18446744073709551615"},
        {"%u|%u|%u", {-1, -1LL, 7u}, "4294967295|18446744073709551615|7"},
        {"%x|%.4x|%x|%X", {255, 10, -1, 0xABCDLL}, "FF|000A|FFFFFFFF|ABCD"},
        {"%e|%.3e|%e", {1234.5, -0.000123456, 0.0}, "1.23450000000000E+003|-1.23E-004|0.00000000000000E+000"},
        {"%f|%.0f|%.0f|%.2f|%.3f", {1234.5, 2.5, -2.5, 1.005, -0.0001}, "1234.50|3|-3|1.01|0.000"},
        {"%g|%g|%g|%g|%.3g", {1234.5, 1e20, 0.000001, 0.0001, 123456.0}, "1234.5|1E20|1E-6|0.0001|1.23E5"},
        {"%n|%.0n|%n", {1234567.891, -1234567.5, 12.0}, "1,234,567.89|-1,234,568|12.00"},
        {"%m|%m|%.0m", {1234.5, -1234.5, 0.5}, "$1,234.50|-$1,234.50|$1"},
        {"%f|%g|%e", {HUGE_VAL, -HUGE_VAL, std::nan("")}, "INF|-INF|NAN"},
        {"%s|%.2s|%5s|%-5s|%s", {"abc", "xyzw", "ab", "ab", 'c'}, "abc|xy|   ab|ab   |c"},
        {"%s|%6s|%.3s", {wide, "Grüße", "Grüße"}, "Grüße| Grüße|Grü"},
        {"%1:s %0:s %s", {"a", "b", "c"}, "b a b"},
        {"%*d|%-*d|%.*f|%*.*f", {5, 42, 5, 42, 3, 3.14159, 6, 1, 2.25}, "   42|42   |3.142|   2.3"},
        {"%*d", {-4, 1}, "1   "},
        {"100%% done, %D%S", {1, "x"}, "100% done, 1x"},
        {"%p", {static_cast<const void*>(nullptr)}, "0000000000000000"},
        {"no specifiers", {}, "no specifiers"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format(c.fmt, c.args.data(), c.args.size()), c.expected) << c.fmt;
    }
    const String p = Format("%p", {static_cast<const void*>(&marker)});
    EXPECT_EQ(p.size(), 16u);
    EXPECT_EQ(std::stoull(p, nullptr, 16), reinterpret_cast<std::uintptr_t>(&marker));
}

TEST(Format, MismatchAndMissingArgumentsRaise) {
    struct Case {
        const char* fmt;
        std::vector<TVarRec> args;
    } cases[] = {
        {"%d", {"abc"}},        {"%d", {1.5}},       {"%f", {1}},         {"%s", {1}},
        {"%s", {1.0}},          {"%p", {1}},         {"%x", {"1"}},       {"%d", {}},
        {"%d %d", {1}},         {"%2:d", {1, 2}},    {"%*d", {"x", 1}},   {"tail %", {}},
        {"%5", {1}},            {"%q", {1}},         {"%-", {1}},         {"%99999999d", {1}},
        {"%.", {1.0}},
    };
    for (const auto& c : cases) {
        const String msg = ConvertErrorOf([&] { Format(c.fmt, c.args.data(), c.args.size()); });
        EXPECT_EQ(msg, String("Format '") + c.fmt + "' invalid or incompatible with argument") << c.fmt;
    }
}

TEST_F(SysUtilsSettings, FormatUsesTheSettings) {
    TFormatSettings& fs = FormatSettings();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
    fs.CurrencyString = "€";
    fs.CurrencyFormat = 3;   // "1 €"
    fs.NegCurrFormat = 8;    // "-1 €"
    fs.CurrencyDecimals = 1;
    EXPECT_EQ(Format("%n|%m|%m|%f|%g", {1234567.891, 1234.56, -2.0, 0.5, 1.5}),
              "1.234.567,89|1.234,6 €|-2,0 €|0,50|1,5");
    // Widths count characters, not bytes: "1,0 €" is five characters.
    EXPECT_EQ(Format("[%6m]", {1.0}), "[ 1,0 €]");
}

// ---- Floating text -------------------------------------------------------------------

TEST(FloatText, FloatToStrGivesFifteenSignificantDigits) {
    struct Case {
        double v;
        const char* expected;
    } cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-1.5, "-1.5"},
        {100.0, "100"},
        {0.1, "0.1"},
        {123.456, "123.456"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {0.1 + 0.2, "0.3"},
        {123456789012345.0, "123456789012345"},
        {1234567890123456.0, "1.23456789012346E15"},
        {1e15, "1E15"},
        {1e20, "1E20"},
        {1e100, "1E100"},
        {-1e-100, "-1E-100"},
        {1.5e-7, "1.5E-7"},
        {0.0001, "0.0001"},
        {0.00001, "1E-5"},
        {0.000123, "0.000123"},
        {999999999999999.9, "1E15"},
        {DBL_MAX, "1.79769313486232E308"},
        {DBL_TRUE_MIN, "4.94065645841247E-324"},
        {HUGE_VAL, "INF"},
        {-HUGE_VAL, "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.v), c.expected) << c.expected;
}

TEST(FloatText, FloatToStrFFormats) {
    struct Case {
        double v;
        TFloatFormat format;
        int precision, digits;
        const char* expected;
    } cases[] = {
        {1234.567, ffFixed, 15, 2, "1234.57"},
        {1234.567, ffNumber, 15, 2, "1,234.57"},
        {-1234.567, ffNumber, 15, 0, "-1,235"},
        {123.0, ffNumber, 15, 1, "123.0"},
        {1234.567, ffExponent, 4, 2, "1.235E+03"},
        {-0.00012, ffExponent, 3, 0, "-1.20E-4"},
        {123456.0, ffGeneral, 4, 0, "1.235E5"},
        {123456.0, ffGeneral, 6, 0, "123456"},
        {1.5e-7, ffGeneral, 15, 3, "1.5E-007"},
        {1234.5, ffCurrency, 15, 2, "$1,234.50"},
        {-0.001, ffFixed, 15, 2, "0.00"},          // rounds to zero: no sign
        {0.995, ffFixed, 15, 2, "1.00"},           // carry into the integer part
        {99.95, ffFixed, 15, 1, "100.0"},
        {1e20, ffFixed, 15, 2, "1E20"},            // more integer digits than the precision
        {1.0049999999999999, ffFixed, 17, 2, "1.00"},  // at 17 digits the double is below the tie
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatToStrF(c.v, c.format, c.precision, c.digits), c.expected) << c.expected;
}

TEST(FloatText, StrToFloatAcceptsTheFrameworkSyntax) {
    struct Case {
        const char* text;
        double expected;
    } cases[] = {
        {"0", 0.0},          {"12.5", 12.5},     {"  -12.5  ", -12.5}, {"+3", 3.0},
        {".5", 0.5},         {"5.", 5.0},        {"1e3", 1000.0},      {"1E+3", 1000.0},
        {"2.5e-3", 0.0025},  {"-0", -0.0},       {"1e-400", 0.0},      {"0.000001e-400", 0.0},
        {"000123", 123.0},   {"1.7976931348623157e308", DBL_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(StrToFloat(c.text), c.expected) << c.text;
    EXPECT_TRUE(std::isinf(StrToFloat("INF")));
    EXPECT_LT(StrToFloat("-inf"), 0);
    EXPECT_TRUE(std::isnan(StrToFloat("NaN")));
}

TEST(FloatText, StrToFloatRejectsWithTheExactMessage) {
    for (const char* text : {"", " ", "abc", "1.2.3", "1e", "1e+", "e5", ".", "-", "1,5", "12a", "1 2", "0x10",
                             "1e400", "-1e400", "1.5.", "--1", "infinity"}) {
        EXPECT_EQ(ConvertErrorOf([&] { StrToFloat(text); }),
                  String("'") + text + "' is not a valid floating point value");
        EXPECT_EQ(StrToFloatDef(text, -7.0), -7.0) << text;
    }
}

TEST(FloatText, TextRoundTripsThroughFifteenDigits) {
    for (double v : {0.1, -2.5, 1e-5, 3.14159265358979, 123456789.123456, 1e300, -4.2e-300, 1e15, 0.000123})
        EXPECT_EQ(StrToFloat(FloatToStr(v)), std::stod(FloatToStr(v))) << v;
    for (double v : {0.5, 1.25, 1e20, 1.5e-7, 98765.4321})
        EXPECT_EQ(StrToFloat(FloatToStr(v)), v) << v;
}

TEST_F(SysUtilsSettings, FloatTextFollowsTheDecimalSeparator) {
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
    EXPECT_EQ(StrToFloat("1,5"), 1.5);
    double v;
    EXPECT_FALSE(TryStrToFloat("1.5", v));
}

// ---- Integers ----------------------------------------------------------------------------

TEST(IntegerText, StrToIntAndStrToInt64) {
    struct Case {
        const char* text;
        bool intOk;
        int intValue;
        bool int64Ok;
        Int64 int64Value;
    } cases[] = {
        {"12", true, 12, true, 12},
        {"  -12  ", true, -12, true, -12},
        {"+7", true, 7, true, 7},
        {"$FF", true, 255, true, 255},
        {"0x10", true, 16, true, 16},
        {"-$10", true, -16, true, -16},
        {"$FFFFFFFF", true, -1, true, 0xFFFFFFFFLL},
        {"2147483647", true, INT32_MAX, true, INT32_MAX},
        {"-2147483648", true, INT32_MIN, true, INT32_MIN},
        {"2147483648", false, 0, true, 2147483648LL},
        {"$100000000", false, 0, true, 0x100000000LL},
        {"9223372036854775807", false, 0, true, INT64_MAX},
        {"-9223372036854775808", false, 0, true, INT64_MIN},
        {"9223372036854775808", false, 0, false, 0},
        {"$FFFFFFFFFFFFFFFF", false, 0, true, -1},
        {"$1FFFFFFFFFFFFFFFF", false, 0, false, 0},
        {"99999999999999999999999", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"abc", false, 0, false, 0},
        {"12a", false, 0, false, 0},
        {"1 2", false, 0, false, 0},
        {"1.0", false, 0, false, 0},
        {"$", false, 0, false, 0},
        {"0x", false, 0, false, 0},
        {"--1", false, 0, false, 0},
        {"$G", false, 0, false, 0},
    };
    for (const auto& c : cases) {
        int i = 0;
        Int64 l = 0;
        EXPECT_EQ(TryStrToInt(c.text, i), c.intOk) << c.text;
        if (c.intOk) { EXPECT_EQ(i, c.intValue) << c.text; }
        EXPECT_EQ(TryStrToInt64(c.text, l), c.int64Ok) << c.text;
        if (c.int64Ok) { EXPECT_EQ(l, c.int64Value) << c.text; }
        if (!c.intOk) {
            EXPECT_EQ(ConvertErrorOf([&] { StrToInt(c.text); }),
                      String("'") + c.text + "' is not a valid integer value");
            EXPECT_EQ(StrToIntDef(c.text, 99), 99);
        }
        if (!c.int64Ok) { EXPECT_EQ(StrToInt64Def(c.text, -99), -99); }
    }
}

TEST(IntegerText, IntegerToText) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-42), "-42");
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(UIntToStr(UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
    EXPECT_EQ(IntToHex(0xABCDEF, 2), "ABCDEF");
    EXPECT_EQ(IntToHex(0, 0), "0");
    EXPECT_EQ(IntToHex(static_cast<UInt64>(-1), 1), "FFFFFFFFFFFFFFFF");
}

TEST(BoolText, StrToBoolAndBoolToStr) {
    struct Case {
        const char* text;
        bool ok, value;
    } cases[] = {
        {"True", true, true}, {"false", true, false}, {" TRUE ", true, true}, {"-1", true, true},
        {"0", true, false},   {"2.5", true, true},    {"yes", false, false},  {"", false, false},
        {"NaN", false, false},
    };
    for (const auto& c : cases) {
        bool v = !c.value;
        EXPECT_EQ(TryStrToBool(c.text, v), c.ok) << c.text;
        if (c.ok) { EXPECT_EQ(v, c.value) << c.text; }
    }
    EXPECT_EQ(ConvertErrorOf([] { StrToBool("yes"); }), "'yes' is not a valid boolean value");
    EXPECT_EQ(BoolToStr(true), "-1");
    EXPECT_EQ(BoolToStr(false), "0");
    EXPECT_EQ(BoolToStr(true, true), "True");
    EXPECT_EQ(BoolToStr(false, true), "False");
}

// ---- Strings ------------------------------------------------------------------------------

TEST(Strings, TrimAndAsciiCase) {
    EXPECT_EQ(Trim(" \t\r\n ab c \x01"), "ab c");
    EXPECT_EQ(TrimLeft("  ab  "), "ab  ");
    EXPECT_EQ(TrimRight("  ab  "), "  ab");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(" Grüße "), "Grüße");  // bytes above 0x7F are not blanks
    EXPECT_EQ(UpperCase("abc grüße"), "ABC GRüßE");
    EXPECT_EQ(LowerCase("ABC ÀÉ"), "abc ÀÉ");
}

TEST(Strings, AnsiCaseMapsLatinGreekAndCyrillic) {
    struct Case {
        const char* lower;
        const char* upper;
    } cases[] = {
        {"grüße àéîõü ÿ", "GRÜßE ÀÉÎÕÜ Ÿ"},
        {"łódź čšž ő", "ŁÓDŹ ČŠŽ Ő"},
        {"ἀ", "ἀ"},  // outside the mapped blocks: unchanged
        {"αβγ άέ ω", "ΑΒΓ ΆΈ Ω"},
        {"москва ёж ґ", "МОСКВА ЁЖ Ґ"},
        {"ẁ ạ", "Ẁ Ạ"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiUpperCase(c.lower), c.upper) << c.lower;
        EXPECT_EQ(AnsiLowerCase(c.upper), c.lower) << c.upper;
    }
    EXPECT_EQ(AnsiUpperCase("ς"), "Σ");
    EXPECT_EQ(AnsiUpperCase("ı"), "I");
    EXPECT_EQ(AnsiLowerCase("İ"), "i");
    // Bytes that are not UTF-8 pass through untouched.
    EXPECT_EQ(AnsiUpperCase("a\xFF" "b\xC3"), "A\xFF" "B\xC3");
    EXPECT_EQ(AnsiLowerCase("\x80Z"), "\x80z");
}

TEST(Strings, Comparison) {
    EXPECT_LT(CompareStr("a", "b"), 0);
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_GT(CompareStr("\xC3\xA9", "z"), 0);  // byte order
    EXPECT_EQ(CompareText("Hello", "hELLO"), 0);
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_LT(CompareText("ab", "ABC"), 0);
    EXPECT_TRUE(SameText("Field", "FIELD"));
    EXPECT_FALSE(SameText("é", "É"));  // ASCII only
    EXPECT_TRUE(SameStr("x", "x"));
    EXPECT_FALSE(SameStr("x", "X"));

    EXPECT_TRUE(AnsiSameText("Ärger ΣΟΦΙΑ Мир", "ärger σοφια мИР"));
    EXPECT_TRUE(AnsiSameText("straße", "STRAẞE"));
    EXPECT_FALSE(AnsiSameText("e", "é"));
    EXPECT_EQ(AnsiCompareText("ÉCOLE", "école"), 0);

    // Accented letters sort with their base letter; case only breaks ties.
    std::vector<String> words = {"zoo", "Émile", "eagle", "Zebra", "apple", "ábc", "Fritz", "dora", "émile"};
    std::sort(words.begin(), words.end(), [](const String& a, const String& b) { return AnsiCompareStr(a, b) < 0; });
    EXPECT_EQ(words, (std::vector<String>{"ábc", "apple", "dora", "eagle", "émile", "Émile", "Fritz", "Zebra", "zoo"}));
    EXPECT_LT(AnsiCompareStr("a", "A"), 0);
    EXPECT_LT(AnsiCompareStr("A", "b"), 0);
    EXPECT_EQ(AnsiCompareStr("Émile", "Émile"), 0);
    EXPECT_NE(AnsiCompareText("a\xFF", "a\xFE"), 0);  // invalid bytes still compare deterministically
}

TEST(Strings, Quoting) {
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
    EXPECT_EQ(QuotedStr(""), "''");
    EXPECT_EQ(QuotedStr("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"'it''s'", "it's"}, {"''", ""},        {"'abc'def", "abc"}, {"abc", "abc"},
        {"'abc", "'abc"},    {"'", "'"},        {"", ""},            {"''abc", "''abc"},
        {"'a''", "'a''"},    {"'x'''", "x'"},
    };
    for (const auto& c : cases) EXPECT_EQ(AnsiDequotedStr(c.in, '\''), c.out) << c.in;
}

TEST(Strings, PosAndStringReplace) {
    EXPECT_EQ(Pos("lo", "hello"), 4);
    EXPECT_EQ(Pos("x", "hello"), 0);
    EXPECT_EQ(Pos("", "hello"), 0);
    EXPECT_EQ(Pos("hello!", "hello"), 0);
    struct Case {
        const char* s;
        const char* from;
        const char* to;
        int flags;
        const char* expected;
    } cases[] = {
        {"a-b-c", "-", "+", 0, "a+b-c"},
        {"a-b-c", "-", "+", rfReplaceAll, "a+b+c"},
        {"aXbxc", "x", "", rfReplaceAll | rfIgnoreCase, "abc"},
        {"aXbxc", "x", "_", rfReplaceAll, "aXb_c"},
        {"aaa", "aa", "b", rfReplaceAll, "ba"},
        {"abc", "", "x", rfReplaceAll, "abc"},
        {"Grüße GRÜSSE grüße", "GRÜẞE", "hi", rfReplaceAll | rfIgnoreCase, "hi GRÜSSE hi"},
        {"ΣΟΦΙΑ", "σοφια", "x", rfIgnoreCase, "x"},
        {"é", "\xA9", "x", rfReplaceAll | rfIgnoreCase, "é"},  // never matches inside a character
    };
    for (const auto& c : cases) EXPECT_EQ(StringReplace(c.s, c.from, c.to, c.flags), c.expected) << c.s;
    EXPECT_EQ(StringOfChar('*', 3), "***");
    EXPECT_EQ(StringOfChar('*', -1), "");
}

// ---- File names and files --------------------------------------------------------------------

TEST(FileNames, Parts) {
    struct Case {
        const char* path;
        const char* name;
        const char* dir;
        const char* ext;
        const char* changed;  // extension changed to ".bak"
    } cases[] = {
        {"/tmp/data/file.txt", "file.txt", "/tmp/data/", ".txt", "/tmp/data/file.bak"},
        {"file.tar.gz", "file.tar.gz", "", ".gz", "file.tar.bak"},
        {"/tmp/dir.d/file", "file", "/tmp/dir.d/", "", "/tmp/dir.d/file.bak"},
        {"/tmp/", "", "/tmp/", "", "/tmp/.bak"},
        {"noext", "noext", "", "", "noext.bak"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractFilePath(c.path), c.dir) << c.path;
        EXPECT_EQ(ExtractFileExt(c.path), c.ext) << c.path;
        EXPECT_EQ(ChangeFileExt(c.path, ".bak"), c.changed) << c.path;
    }
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
}

TEST(FileNames, ExistsAndDeleteOnRealFiles) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velora-sysutils-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const String file = (dir / "data.txt").string();
    std::ofstream(file) << "x";
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir.string()));  // a directory is not a file
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_FALSE(FileExists(String("a\0b", 3)));
    std::filesystem::remove_all(dir);
    EXPECT_NE(SysErrorMessage(ENOENT).find("No such file"), String::npos);
    EXPECT_FALSE(SysErrorMessage(123456).empty());
}
