#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Platform/rtl/Currency.h"

using namespace Rtl;

namespace {

class CurrencySettings : public ::testing::Test {
protected:
    void SetUp() override { FSaved = FormatSettings(); }
    void TearDown() override { FormatSettings() = FSaved; }
    TFormatSettings FSaved;
};

template <typename E, typename F>
String ErrorOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "<not raised>";
}

Currency Scaled(Int64 v) { return Currency::FromScaled(v); }

TBcd Bcd(const char* text) { return StrToBcd(text); }

}  // namespace

// ---- Currency ------------------------------------------------------------------------

TEST(CurrencyValue, FromDoubleRoundsToFourPlacesWithTiesToEven) {
    struct Case {
        double v;
        Int64 scaled;
    } cases[] = {
        {0.0, 0},          {1.5, 15000},           {-1.5, -15000},     {1.23456, 12346},
        {1.23454, 12345},  {0.00015, 2},           {0.00025, 2},       {0.00035, 4},
        {-0.00025, -2},    {-0.00035, -4},         {0.00005, 0},       {0.000051, 1},
        {1.03125, 10312},  {1.09375, 10938},       {0.1 + 0.2, 3000},  {1e-300, 0},
        {922337203685477.0, 9223372036854770000},  {-922337203685477.0, -9223372036854770000},
    };
    for (const auto& c : cases) EXPECT_EQ(Currency(c.v).Value, c.scaled) << c.v;
}

TEST(CurrencyValue, OverflowRaises) {
    for (double v : {922337203685478.0, -922337203685478.0, 1e20, HUGE_VAL, -HUGE_VAL, std::nan("")}) {
        EXPECT_NE(ErrorOf<EOverflow>([&] { Currency c(v); }).find("Currency overflow"), String::npos) << v;
        Currency c = Scaled(7);
        EXPECT_FALSE(TryFloatToCurr(v, c));
        EXPECT_EQ(c.Value, 7);
    }
    EXPECT_EQ(ErrorOf<EConvertError>([] { FloatToCurr(1e300); }), "'1E300' is not a valid currency value");
    EXPECT_EQ(Currency(Int64{922337203685477}).Value, 9223372036854770000);
    EXPECT_EQ(ErrorOf<EOverflow>([] { Currency c(Int64{922337203685478}); }),
              "Currency overflow: 922337203685478 is out of range");
    EXPECT_EQ(Currency(INT32_MIN).Value, Int64{INT32_MIN} * 10000);
}

TEST(CurrencyValue, ArithmeticIsExactWithTiesToEvenAndChecked) {
    struct Case {
        Int64 a, b;
        char op;
        Int64 expected;
    } cases[] = {
        {15000, 25000, '+', 40000},
        {15000, 25000, '-', -10000},
        {1, 5000, '*', 0},             // 0.0001 * 0.5 = 0.00005 -> 0
        {3, 5000, '*', 2},             // 0.0003 * 0.5 = 0.00015 -> 0.0002
        {-3, 5000, '*', -2},
        {1234567, 1234567, '*', 152415568},  // 123.4567^2 = 15241.55677489 -> 15241.5568
        {10000, 30000, '/', 3333},     // 1/3
        {20000, 30000, '/', 6667},     // 2/3
        {-20000, 30000, '/', -6667},
        {1, 20000, '/', 0},            // 0.00005 -> 0
        {3, 20000, '/', 2},            // 0.00015 -> 0.0002
        {INT64_MAX, 10000, '*', INT64_MAX},
        {INT64_MIN, 10000, '/', INT64_MIN},
    };
    for (const auto& c : cases) {
        Currency r;
        switch (c.op) {
            case '+': r = Scaled(c.a) + Scaled(c.b); break;
            case '-': r = Scaled(c.a) - Scaled(c.b); break;
            case '*': r = Scaled(c.a) * Scaled(c.b); break;
            default: r = Scaled(c.a) / Scaled(c.b); break;
        }
        EXPECT_EQ(r.Value, c.expected) << c.a << c.op << c.b;
    }
    EXPECT_THROW(Currency::Max() + Scaled(1), EOverflow);
    EXPECT_THROW(Currency::Min() - Scaled(1), EOverflow);
    EXPECT_THROW(Currency::Max() * Currency(2), EOverflow);
    EXPECT_THROW(Currency::Min() / Scaled(5000), EOverflow);
    EXPECT_THROW(-Currency::Min(), EOverflow);
    EXPECT_EQ(ErrorOf<EZeroDivide>([] { Currency(1) / Currency(0); }), "Currency division by zero: 1 / 0");
    EXPECT_EQ(ErrorOf<EOverflow>([] { Currency::Max() + Scaled(1); }),
              "Currency overflow: 922337203685477.5807 + 0.0001");
    Currency acc(10);
    acc += Currency(2.5);
    acc -= Scaled(1);
    EXPECT_EQ(acc.Value, 124999);
    EXPECT_LT(Currency(-1), Scaled(1));
}

TEST(CurrencyValue, RoundAndTrunc) {
    struct Case {
        Int64 scaled, rounded, truncated;
    } cases[] = {
        {25000, 2, 2},   {35000, 4, 3},   {-25000, -2, -2}, {-35000, -4, -3},
        {25001, 3, 2},   {-24999, -2, -2}, {4999, 0, 0},    {INT64_MIN, -922337203685478, -922337203685477},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Scaled(c.scaled).Round(), c.rounded) << c.scaled;
        EXPECT_EQ(Scaled(c.scaled).Trunc(), c.truncated) << c.scaled;
    }
}

TEST(CurrencyText, CurrToStrIsTheShortestForm) {
    struct Case {
        Int64 scaled;
        const char* text;
    } cases[] = {
        {15000, "1.5"},  {-1, "-0.0001"},  {120000, "12"},  {0, "0"},    {1000, "0.1"},
        {-10000, "-1"},  {1234, "0.1234"}, {100001, "10.0001"},
        {INT64_MAX, "922337203685477.5807"}, {INT64_MIN, "-922337203685477.5808"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CurrToStr(Scaled(c.scaled)), c.text);
        EXPECT_EQ(StrToCurr(c.text).Value, c.scaled) << c.text;
    }
}

TEST(CurrencyText, StrToCurrParsesExactly) {
    struct Case {
        const char* text;
        bool ok;
        Int64 scaled;
    } cases[] = {
        {" -12.5 ", true, -125000},
        {"0.00005", true, 0},              // tie to even
        {"0.00015", true, 2},
        {"0.000150000000000000000000000000001", true, 2},
        {"0.00014999999999999999999999999", true, 1},
        {"1e3", true, 10000000},
        {"1.5E-4", true, 2},
        {"000000000000000000000000001", true, 10000},
        {"922337203685477.5807", true, INT64_MAX},
        {"-922337203685477.5808", true, INT64_MIN},
        {"922337203685477.58074999", true, INT64_MAX},
        {"922337203685477.5808", false, 0},
        {"922337203685477.58075", false, 0},
        {"1e15", false, 0},
        {"1e-99999999999", true, 0},
        {"", false, 0},
        {"abc", false, 0},
        {"1.2.3", false, 0},
        {"1,5", false, 0},
        {"1e", false, 0},
        {"NAN", false, 0},
    };
    for (const auto& c : cases) {
        Currency v = Scaled(-7);
        EXPECT_EQ(TryStrToCurr(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v.Value, c.ok ? c.scaled : -7) << c.text;
        if (!c.ok) {
            EXPECT_EQ(ErrorOf<EConvertError>([&] { StrToCurr(c.text); }),
                      String("'") + c.text + "' is not a valid floating point value");
        }
    }
}

TEST_F(CurrencySettings, CurrToStrFFormatsAndCurrencyPatterns) {
    EXPECT_EQ(CurrToStrF(Scaled(10050), ffFixed, 2), "1.01");  // 1.005: half away from zero
    EXPECT_EQ(CurrToStrF(Scaled(-10050), ffFixed, 2), "-1.01");
    EXPECT_EQ(CurrToStrF(Scaled(12345678900), ffNumber, 2), "1,234,567.89");
    EXPECT_EQ(CurrToStrF(Scaled(15000), ffFixed, 6), "1.500000");
    EXPECT_EQ(CurrToStrF(Currency::Max(), ffGeneral, 0), "922337203685477.5807");
    EXPECT_EQ(CurrToStrF(Scaled(-49), ffFixed, 2), "0.00");
    const char* negatives[] = {"($1.50)", "-$1.50", "$-1.50", "$1.50-", "(1.50$)", "-1.50$", "1.50-$", "1.50$-",
                               "-1.50 $", "-$ 1.50", "1.50 $-", "$ 1.50-", "$ -1.50", "1.50- $", "($ 1.50)",
                               "(1.50 $)"};
    for (Byte k = 0; k < 16; ++k) {
        FormatSettings().NegCurrFormat = k;
        EXPECT_EQ(CurrToStrF(Scaled(-15000), ffCurrency, 2), negatives[k]) << int(k);
    }
    const char* positives[] = {"$1.50", "1.50$", "$ 1.50", "1.50 $"};
    for (Byte k = 0; k < 4; ++k) {
        FormatSettings().CurrencyFormat = k;
        EXPECT_EQ(CurrToStrF(Scaled(15000), ffCurrency, 2), positives[k]) << int(k);
    }
    FormatSettings().DecimalSeparator = ',';
    FormatSettings().ThousandSeparator = ' ';
    EXPECT_EQ(CurrToStr(Scaled(-15000)), "-1,5");
    EXPECT_EQ(StrToCurr("1234,5").Value, 12345000);
    EXPECT_EQ(CurrToStrF(Scaled(12345000), ffNumber, 1), "1 234,5");
}

// ---- TBcd --------------------------------------------------------------------------------

TEST(Bcd, CurrToBcdLayoutIsRightAlignedPackedDigits) {
    TBcd b;
    ASSERT_TRUE(CurrToBCD(Currency(12.5), b));
    // Precision 32 with 4 places: 12.5000 occupies the last six nibbles.
    TBcd expected;
    expected.Precision = 32;
    expected.SignSpecialPlaces = 4;
    expected.Fraction[13] = 0x12;
    expected.Fraction[14] = 0x50;
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);

    ASSERT_TRUE(CurrToBCD(Currency(-12.5), b));
    expected.SignSpecialPlaces = 0x84;
    EXPECT_EQ(std::memcmp(&b, &expected, sizeof b), 0);

    // Converting the same value twice gives the same 34 bytes, whatever was there before.
    TBcd dirty;
    std::memset(static_cast<void*>(&dirty), 0xEE, sizeof dirty);
    ASSERT_TRUE(CurrToBCD(Currency(-12.5), dirty));
    EXPECT_EQ(std::memcmp(&dirty, &b, sizeof b), 0);

    ASSERT_TRUE(CurrToBCD(Scaled(-0), b));
    EXPECT_EQ(b.SignSpecialPlaces, 4);  // zero carries no sign
    EXPECT_FALSE(IsBcdNegative(b));
}

TEST(Bcd, CurrToBcdPrecisionAndDecimals) {
    struct Case {
        Int64 scaled;
        int precision, decimals;
        bool ok;
        const char* text;
    } cases[] = {
        {123456789, 7, 2, true, "12345.68"},
        {123456789, 6, 2, false, ""},
        {123456789, 9, 4, true, "12345.6789"},
        {123456789, 8, 4, false, ""},
        {1250, 3, 2, true, "0.13"},      // 0.125 -> half away from zero
        {-1250, 3, 2, true, "-0.13"},
        {-49, 2, 2, true, "0"},          // rounds to zero: no sign
        {INT64_MIN, 19, 4, true, "-922337203685477.5808"},
        {INT64_MIN, 18, 4, false, ""},
        {INT64_MIN, 15, 0, true, "-922337203685478"},
        {5000, 1, 0, true, "1"},
        {10000, 1, 1, false, ""},
        {10000, 0, 0, false, ""},
        {10000, 65, 4, false, ""},
        {10000, 10, 5, false, ""},
        {10000, 2, 3, false, ""},
        {0, 1, 0, true, "0"},
    };
    for (const auto& c : cases) {
        TBcd b = Bcd("99");
        const TBcd before = b;
        EXPECT_EQ(CurrToBCD(Scaled(c.scaled), b, c.precision, c.decimals), c.ok)
            << c.scaled << " " << c.precision << " " << c.decimals;
        if (c.ok) {
            EXPECT_EQ(BcdToStr(b), c.text);
            EXPECT_EQ(b.Precision, c.precision);
            EXPECT_EQ(BcdScale(b), c.decimals);
            EXPECT_TRUE(IsValidBcd(b));
        } else {
            EXPECT_EQ(std::memcmp(&b, &before, sizeof b), 0);  // untouched on failure
        }
    }
}

TEST(Bcd, BcdToCurrency) {
    struct Case {
        const char* text;
        bool ok;
        Int64 scaled;
    } cases[] = {
        {"12.5", true, 125000},
        {"-0.0001", true, -1},
        {"1.23455", true, 12346},        // more than four places: half away from zero
        {"-1.23455", true, -12346},
        {"1.234549999", true, 12345},
        {"0.00005", true, 1},
        {"922337203685477.5807", true, INT64_MAX},
        {"-922337203685477.5808", true, INT64_MIN},
        {"922337203685477.58074", true, INT64_MAX},
        {"922337203685477.58075", false, 0},
        {"922337203685478", false, 0},
        {"0000000000000000000000000000000000000000000000000000000000001.5", true, 15000},
        {"99999999999999999999999999999999999999999999999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        Currency v = Scaled(-7);
        EXPECT_EQ(BCDToCurr(Bcd(c.text), v), c.ok) << c.text;
        EXPECT_EQ(v.Value, c.ok ? c.scaled : -7) << c.text;
    }
    // Round trip through the layout the field buffers use.
    for (Int64 scaled : {Int64{0}, Int64{1}, Int64{-1}, Int64{123456789}, INT64_MAX, INT64_MIN}) {
        TBcd b;
        Currency back;
        ASSERT_TRUE(CurrToBCD(Scaled(scaled), b, 32, 4));
        ASSERT_TRUE(BCDToCurr(b, back));
        EXPECT_EQ(back.Value, scaled);
    }
}

TEST(Bcd, TextConversions) {
    struct Case {
        const char* in;
        const char* out;
        int precision, scale;
    } cases[] = {
        {"0", "0", 1, 0},
        {"-0", "0", 1, 0},
        {"-0.000", "0", 3, 3},
        {"000123.4500", "123.45", 7, 4},
        {"  -123.45  ", "-123.45", 5, 2},
        {"+7", "7", 1, 0},
        {".5", "0.5", 1, 1},
        {"5.", "5", 1, 0},
        {"1234567890123456789012345678901234567890123456789012345678901234",
         "1234567890123456789012345678901234567890123456789012345678901234", 64, 0},
        {"0.000000000000000000000000000000000000000000000000000000000000001",
         "0.000000000000000000000000000000000000000000000000000000000000001", 63, 63},
    };
    for (const auto& c : cases) {
        const TBcd b = StrToBcd(c.in);
        EXPECT_TRUE(IsValidBcd(b)) << c.in;
        EXPECT_EQ(BcdToStr(b), c.out) << c.in;
        EXPECT_EQ(b.Precision, c.precision) << c.in;
        EXPECT_EQ(BcdScale(b), c.scale) << c.in;
        EXPECT_EQ(BcdCompare(StrToBcd(BcdToStr(b)), b), 0) << c.in;
    }
    EXPECT_EQ(BcdPrecision(Bcd("000123.4500")), 7);
    EXPECT_EQ(BcdPrecision(Bcd("0.05")), 2);
    for (const char* bad : {"", "-", ".", "+.", "1e5", "1.2.3", "abc", "1,5", "1 2", "--1",
                            "12345678901234567890123456789012345678901234567890123456789012345",
                            "0.0000000000000000000000000000000000000000000000000000000000000001"}) {
        EXPECT_EQ(ErrorOf<EConvertError>([&] { StrToBcd(bad); }), String("'") + bad + "' is not a valid BCD value");
        TBcd b;
        EXPECT_FALSE(TryStrToBcd(bad, b)) << bad;
    }
}

TEST(Bcd, CompareByNumericValue) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.5", "1.50", 0},   {"-1", "1", -1},        {"10", "9.99", 1},     {"-10", "-9.99", -1},
        {"0", "-0", 0},       {"0.001", "0", 1},      {"-0.001", "0", -1},   {"007", "7.000", 0},
        {"123.456", "123.4561", -1},                  {"99999999999999999999", "100000000000000000000", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BcdCompare(Bcd(c.a), Bcd(c.b)), c.expected) << c.a << " " << c.b;
        EXPECT_EQ(BcdCompare(Bcd(c.b), Bcd(c.a)), -c.expected) << c.b << " " << c.a;
    }
}

TEST(Bcd, MalformedRecordsAreDetectedNotRead) {
    TBcd tooLong;
    tooLong.Precision = 65;
    TBcd placesBeyondPrecision;
    placesBeyondPrecision.Precision = 3;
    placesBeyondPrecision.SignSpecialPlaces = 4;
    TBcd badNibble;
    badNibble.Precision = 3;
    badNibble.Fraction[1] = 0xA0;  // third nibble is 10
    for (const TBcd& b : {tooLong, placesBeyondPrecision, badNibble}) {
        EXPECT_FALSE(IsValidBcd(b));
        Currency c;
        EXPECT_FALSE(BCDToCurr(b, c));
        EXPECT_NE(ErrorOf<EConvertError>([&] { BcdToStr(b); }).find("Invalid BCD record (precision "), String::npos);
        EXPECT_THROW(BcdCompare(b, Bcd("1")), EConvertError);
        EXPECT_THROW(BcdToDouble(b), EConvertError);
        EXPECT_EQ(BcdPrecision(b), 0);
    }
    EXPECT_EQ(ErrorOf<EConvertError>([&] { BcdToStr(badNibble); }), "Invalid BCD record (precision 3, places 0)");

    // Nibbles past the precision are not part of the value.
    TBcd unusedTail = Bcd("12");
    unusedTail.Fraction[1] = 0xFF;
    EXPECT_TRUE(IsValidBcd(unusedTail));
    EXPECT_EQ(BcdToStr(unusedTail), "12");
    // Precision zero is an empty number: zero.
    TBcd empty;
    EXPECT_TRUE(IsValidBcd(empty));
    EXPECT_EQ(BcdToStr(empty), "0");
    EXPECT_EQ(BcdToDouble(empty), 0.0);
}

TEST(Bcd, DoubleConversions) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {
        {0.0, "0"},           {1.5e-7, "0.00000015"}, {-123.456, "-123.456"}, {1e20, "100000000000000000000"},
        {0.1 + 0.2, "0.3"},   {1e-70, "0"},           {1.5e-63, "0.000000000000000000000000000000000000000000000000000000000000002"},
    };
    for (const auto& c : cases) {
        const TBcd b = DoubleToBcd(c.v);
        EXPECT_EQ(BcdToStr(b), c.text) << c.v;
        EXPECT_TRUE(IsValidBcd(b));
    }
    for (double v : {0.5, -123.456, 1e20, 98765.4321, 1.5e-7})
        EXPECT_EQ(BcdToDouble(DoubleToBcd(v)), v) << v;
    EXPECT_EQ(BcdToDouble(Bcd("-0.000")), 0.0);
    EXPECT_EQ(BcdToDouble(Bcd("1234567890123456789012345678901234567890")), 1.2345678901234568e39);
    EXPECT_THROW(DoubleToBcd(std::nan("")), EConvertError);
    EXPECT_THROW(DoubleToBcd(HUGE_VAL), EConvertError);
    EXPECT_THROW(DoubleToBcd(1e70), EOverflow);
}
