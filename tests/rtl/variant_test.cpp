#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "Platform/rtl/Variant.h"

using namespace Rtl;

namespace {

// Settings changed by a test are put back afterwards.
class VariantTest : public ::testing::Test {
protected:
    void SetUp() override { FSaved = FormatSettings(); }
    void TearDown() override { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

Variant Dec(const char* text) { return Variant(StrToDecimal(text)); }

// A variant's kind and text, for comparing conversion results exactly.
String Describe(const Variant& v) {
    if (v.IsNull()) return "Null";
    return VarTypeAsText(v.VType()) + ":" + v.ToString();
}

// Runs f and returns "<exception class>: <message>", or "no error".
template <class F>
String ErrorOf(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return String(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

const GUID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The smallest COM object: counts its references and answers IUnknown and,
// when asked to, IDispatch (with itself, as a dual interface would).
class TCounted : public IUnknown {
public:
    explicit TCounted(bool dispatch = false) : FDispatch(dispatch) {}
    HRESULT QueryInterface(const GUID& iid, void** obj) override {
        if (iid == IID_IUnknown || (FDispatch && iid == IID_IDispatch)) {
            AddRef();
            *obj = this;
            return 0;
        }
        *obj = nullptr;
        return static_cast<HRESULT>(0x80004002);  // E_NOINTERFACE
    }
    std::uint32_t AddRef() override { return ++Refs; }
    std::uint32_t Release() override { return --Refs; }  // lives on the test's stack
    int Refs = 1;

private:
    bool FDispatch;
};

}  // namespace

TEST_F(VariantTest, KeepsComSizeAndKinds) {
    EXPECT_EQ(sizeof(Variant), 16u);
    struct Case { Variant v; TVarType kind; } cases[] = {
        {Variant(), varEmpty}, {Variant::Null(), varNull}, {Variant(true), varBoolean},
        {Variant(static_cast<signed char>(1)), varShortInt}, {Variant(static_cast<unsigned char>(1)), varByte},
        {Variant(static_cast<short>(1)), varSmallint}, {Variant(static_cast<unsigned short>(1)), varWord},
        {Variant(1), varInteger}, {Variant(1u), varLongWord}, {Variant(1LL), varInt64},
        {Variant(1ULL), varUInt64}, {Variant(1.5f), varSingle}, {Variant(1.5), varDouble},
        {Variant(Currency(1)), varCurrency}, {Variant(TDateTime(1)), varDate}, {Dec("1.5"), varDecimal},
        {Variant("a"), varString}, {Variant(u"a"), varOleStr}, {Variant::Error(5), varError},
        {VarArrayOf({1}), varArray | varVariant},
    };
    for (auto& c : cases) EXPECT_EQ(c.v.VType(), c.kind) << VarTypeAsText(c.kind);
}

TEST_F(VariantTest, TypeNamesFollowTheFramework) {
    struct Case { TVarType kind; const char* text; } cases[] = {
        {varEmpty, "Empty"}, {varNull, "Null"}, {varSmallint, "Smallint"}, {varInteger, "Integer"},
        {varOleStr, "OleStr"}, {varString, "String"}, {varDecimal, "Decimal"}, {varUInt64, "UInt64"},
        {varArray | varVariant, "Array Variant"}, {varArray | varByte, "Array Byte"},
        {varByRef | varInteger, "ByRef Integer"}, {0x0FFF, "$0FFF"},
    };
    for (auto& c : cases) EXPECT_EQ(VarTypeAsText(c.kind), c.text);
}

TEST_F(VariantTest, ConvertsBetweenKinds) {
    struct Case { Variant from; TVarType to; const char* expected; } cases[] = {
        // Empty is 0, '' and False.
        {Variant(), varInteger, "Integer:0"}, {Variant(), varString, "String:"},
        {Variant(), varBoolean, "Boolean:False"}, {Variant(), varCurrency, "Currency:0"},
        {Variant(), varDate, "Date:1899-12-30"}, {Variant(), varDecimal, "Decimal:0"},
        // Integers of every size.
        {Variant(42), varSmallint, "Smallint:42"}, {Variant(42), varByte, "Byte:42"},
        {Variant(-5), varInt64, "Int64:-5"}, {Variant(1ULL << 63), varString, "String:9223372036854775808"},
        {Variant(42), varDouble, "Double:42"}, {Variant(42), varCurrency, "Currency:42"},
        {Variant(42), varDecimal, "Decimal:42"}, {Variant(42), varOleStr, "OleStr:42"},
        {Variant(-1), varBoolean, "Boolean:True"}, {Variant(0), varBoolean, "Boolean:False"},
        {Variant(static_cast<unsigned short>(65535)), varLongWord, "LongWord:65535"},
        // Booleans are -1/0 as numbers and True/False as text.
        {Variant(true), varInteger, "Integer:-1"}, {Variant(true), varString, "String:True"},
        {Variant(false), varString, "String:False"}, {Variant(true), varDouble, "Double:-1"},
        // Floating values round to nearest, ties to even.
        {Variant(2.5), varInteger, "Integer:2"}, {Variant(3.5), varInteger, "Integer:4"},
        {Variant(-2.5), varInteger, "Integer:-2"}, {Variant(2.6), varByte, "Byte:3"},
        {Variant(1.25), varString, "String:1.25"}, {Variant(0.1f), varString, "String:0.1"},
        {Variant(1.23456), varCurrency, "Currency:1.2346"}, {Variant(0.1), varDecimal, "Decimal:0.1"},
        // Currency and decimal.
        {Variant(Currency(2.5)), varInteger, "Integer:2"}, {Variant(Currency(1.5)), varString, "String:1.5"},
        {Variant(Currency(1.5)), varDecimal, "Decimal:1.5000"}, {Dec("-12.345"), varDouble, "Double:-12.345"},
        {Dec("-12.5"), varInteger, "Integer:-12"}, {Dec("-12.345"), varCurrency, "Currency:-12.345"},
        {Dec("0.00005"), varCurrency, "Currency:0"}, {Dec("0.00015"), varCurrency, "Currency:0.0002"},
        // Dates.
        {Variant(TDateTime(45351.5)), varString, "String:2024-02-29 12:00:00"},
        {Variant(TDateTime(45351.5)), varDouble, "Double:45351.5"},
        {Variant(45351), varDate, "Date:2024-02-29"},
        // Text into numbers, dates and booleans.
        {Variant("123"), varInteger, "Integer:123"}, {Variant(" 12 "), varSmallint, "Smallint:12"},
        {Variant("1.5"), varInteger, "Integer:2"}, {Variant("2.5"), varInteger, "Integer:2"},
        {Variant("True"), varInteger, "Integer:-1"}, {Variant("1.5"), varDouble, "Double:1.5"},
        {Variant("12.34"), varCurrency, "Currency:12.34"}, {Variant("1.50"), varDecimal, "Decimal:1.50"},
        {Variant("18446744073709551615"), varUInt64, "UInt64:18446744073709551615"},
        {Variant("true"), varBoolean, "Boolean:True"}, {Variant("FALSE"), varBoolean, "Boolean:False"},
        {Variant("0"), varBoolean, "Boolean:False"}, {Variant("2"), varBoolean, "Boolean:True"},
        {Variant("2024-02-29 13:45:00"), varDate, "Date:2024-02-29 13:45:00"},
        {Variant(u"42"), varInteger, "Integer:42"}, {Variant(u"Grüße"), varString, "String:Grüße"},
        {Variant("Grüße"), varOleStr, "OleStr:Grüße"},
        // Null and Empty as targets.
        {Variant(5), varNull, "Null"}, {Variant::Null(), varNull, "Null"}, {Variant(5), varEmpty, "Empty:"},
    };
    for (auto& c : cases) {
        String got;
        try {
            got = Describe(VarAsType(c.from, c.to));
        } catch (const Exception& e) {
            got = e.Message();
        }
        EXPECT_EQ(got, c.expected) << Describe(c.from) << " -> " << VarTypeAsText(c.to);
    }
}

TEST_F(VariantTest, ConversionErrorsNameBothKinds) {
    TCounted unk;
    struct Case { Variant from; TVarType to; const char* error; } cases[] = {
        {Variant::Null(), varInteger, "EVariantTypeCastError: Could not convert variant of type (Null) into type (Integer)"},
        {Variant::Null(), varString, "EVariantTypeCastError: Could not convert variant of type (Null) into type (String)"},
        {Variant::Null(), varBoolean, "EVariantTypeCastError: Could not convert variant of type (Null) into type (Boolean)"},
        {Variant("abc"), varInteger, "EVariantTypeCastError: Could not convert variant of type (String) into type (Integer)"},
        {Variant(u"x"), varDouble, "EVariantTypeCastError: Could not convert variant of type (OleStr) into type (Double)"},
        {Variant("yes"), varBoolean, "EVariantTypeCastError: Could not convert variant of type (String) into type (Boolean)"},
        {Variant("31/31/2020"), varDate, "EVariantTypeCastError: Could not convert variant of type (String) into type (Date)"},
        {Variant::Error(1), varInteger, "EVariantTypeCastError: Could not convert variant of type (Error) into type (Integer)"},
        {Variant(1), varError, "EVariantTypeCastError: Could not convert variant of type (Integer) into type (Error)"},
        {VarArrayOf({1}), varString, "EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (String)"},
        {Variant::FromUnknown(&unk), varString, "EVariantTypeCastError: Could not convert variant of type (Unknown) into type (String)"},
        {Variant::FromUnknown(&unk), varDispatch, "EVariantTypeCastError: Could not convert variant of type (Unknown) into type (Dispatch)"},
        {Variant(3000000000LL), varInteger, "EVariantOverflowError: Variant overflow while converting variant of type (Int64) into type (Integer)"},
        {Variant(70000), varSmallint, "EVariantOverflowError: Variant overflow while converting variant of type (Integer) into type (Smallint)"},
        {Variant(300), varByte, "EVariantOverflowError: Variant overflow while converting variant of type (Integer) into type (Byte)"},
        {Variant(-1), varByte, "EVariantOverflowError: Variant overflow while converting variant of type (Integer) into type (Byte)"},
        {Variant(-1), varUInt64, "EVariantOverflowError: Variant overflow while converting variant of type (Integer) into type (UInt64)"},
        {Variant(~0ULL), varInt64, "EVariantOverflowError: Variant overflow while converting variant of type (UInt64) into type (Int64)"},
        {Variant(1e10), varInteger, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Integer)"},
        {Variant(std::nan("")), varInt64, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Int64)"},
        {Variant(1e300), varSingle, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Single)"},
        {Variant(1e300), varCurrency, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Currency)"},
        {Variant(1e300), varDate, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Date)"},
        {Variant(1e300), varDecimal, "EVariantOverflowError: Variant overflow while converting variant of type (Double) into type (Decimal)"},
        {Variant(INT64_MAX), varCurrency, "EVariantOverflowError: Variant overflow while converting variant of type (Int64) into type (Currency)"},
        {Variant("99999999999999999999"), varInt64, "EVariantOverflowError: Variant overflow while converting variant of type (String) into type (Int64)"},
        {Variant("18446744073709551616"), varUInt64, "EVariantOverflowError: Variant overflow while converting variant of type (String) into type (UInt64)"},
        {Variant("79228162514264337593543950336"), varDecimal, "EVariantOverflowError: Variant overflow while converting variant of type (String) into type (Decimal)"},
    };
    for (auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { VarAsType(c.from, c.to); }), c.error) << VarTypeAsText(c.to);
    // The member conversions apply the same rules.
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToInteger(); }),
              "EVariantTypeCastError: Could not convert variant of type (Null) into type (Integer)");
    EXPECT_EQ(ErrorOf([] { Variant::Null().ToDateTime(); }),
              "EVariantTypeCastError: Could not convert variant of type (Null) into type (Date)");
    EXPECT_EQ(ErrorOf([] { Variant("x").ToWideString(); }), "no error");
    EXPECT_THROW(Variant(1e10).ToInteger(), EVariantOverflowError);
}

TEST_F(VariantTest, NullAndEmptyAsText) {
    EXPECT_EQ(VarToStr(Variant::Null()), "");
    EXPECT_EQ(VarToWideStr(Variant::Null()), u"");
    EXPECT_EQ(VarToStr(Variant()), "");
    EXPECT_EQ(VarToStrDef(Variant::Null(), "n/a"), "n/a");
    EXPECT_EQ(VarToStrDef(Variant(), "n/a"), "");
    EXPECT_EQ(VarToStr(Variant(7)), "7");
    EXPECT_THROW(Variant::Null().ToString(), EVariantTypeCastError);
}

TEST_F(VariantTest, TextConversionsFollowTheDecimalSeparator) {
    FormatSettings().DecimalSeparator = ',';
    EXPECT_EQ(Variant("3,25").ToDouble(), 3.25);
    EXPECT_EQ(Variant("3,25").ToCurrency(), Currency(3.25));
    EXPECT_EQ(DecimalToStr(Variant("3,25").ToDecimal()), "3,25");
    EXPECT_THROW(Variant("3.25").ToDouble(), EVariantTypeCastError);
    EXPECT_EQ(Variant(3.25).ToString(), "3,25");
}

TEST_F(VariantTest, EqualityFollowsTheNullRules) {
    struct Case { Variant a, b; bool equal; } cases[] = {
        {Variant::Null(), Variant::Null(), true}, {Variant::Null(), Variant(), false},
        {Variant::Null(), Variant(0), false}, {Variant::Null(), Variant(""), false},
        {Variant(), Variant(), true}, {Variant(), Variant(0), true}, {Variant(), Variant(""), true},
        {Variant(), Variant(false), true}, {Variant(), Variant(0.0), true}, {Variant(), Variant("x"), false},
        {Variant(), Variant(1), false},
        {Variant(1), Variant(1.0), true}, {Variant(1), Variant(Currency(1)), true},
        {Variant(static_cast<unsigned char>(200)), Variant(200LL), true}, {Dec("1.10"), Dec("1.1"), true},
        {Dec("0.1"), Variant(0.1), true}, {Dec("2"), Variant(Currency(2)), true},
        {Variant(-1LL), Variant(~0ULL), false}, {Variant(true), Variant(-1), true},
        {Variant("10"), Variant(10), true}, {Variant("10.5"), Variant(10.5), true}, {Variant("1.5"), Variant(1), false},
        {Variant("a"), Variant("A"), false}, {Variant(u"abc"), Variant("abc"), true},
        {Variant(TDateTime(2)), Variant(2), true}, {Variant("1900-01-01"), Variant(TDateTime(2)), true},
        {Variant::Error(3), Variant::Error(3), true}, {Variant::Error(3), Variant(3), false},
        {VarArrayOf({1, "a"}), VarArrayOf({1, "a"}), true}, {VarArrayOf({1, "a"}), VarArrayOf({1, "b"}), false},
        {VarArrayOf({1}), Variant(1), false},
    };
    for (auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << Describe(c.a) << " == " << Describe(c.b);
        EXPECT_EQ(c.b == c.a, c.equal) << Describe(c.b) << " == " << Describe(c.a);
    }
    // Text that is no number cannot be compared with a number.
    EXPECT_EQ(ErrorOf([] { (void)(Variant("abc") == Variant(10)); }),
              "EVariantTypeCastError: Could not convert variant of type (String) into type (Double)");
}

TEST_F(VariantTest, CompareValueOrdersNullAndEmptyFirst) {
    struct Case { Variant a, b; TVariantRelationship r; } cases[] = {
        {Variant::Null(), Variant::Null(), vrEqual}, {Variant(), Variant(), vrEqual},
        {Variant::Null(), Variant(), vrNotEqual}, {Variant::Null(), Variant(-5), vrLessThan},
        {Variant(-5), Variant::Null(), vrGreaterThan}, {Variant(), Variant(0), vrLessThan},
        {Variant(""), Variant(), vrGreaterThan},
        {Variant(1), Variant(2), vrLessThan}, {Variant(2.5), Variant(Currency(2.5)), vrEqual},
        {Variant(-1LL), Variant(0ULL), vrLessThan}, {Variant(INT64_MAX), Variant(~0ULL), vrLessThan},
        {Variant(9007199254740993LL), Variant(9007199254740992LL), vrGreaterThan},
        {Dec("2"), Dec("1.99999"), vrGreaterThan}, {Dec("-2"), Dec("-1.5"), vrLessThan},
        {Variant(Currency(1.0001)), Variant(1), vrGreaterThan},
        {Variant("b"), Variant("a"), vrGreaterThan}, {Variant("B"), Variant("a"), vrLessThan},
        {Variant(u"\U0001F600"), Variant(u"\uFFFD"), vrGreaterThan},  // code point order
        {Variant(false), Variant(true), vrLessThan}, {Variant(std::nan("")), Variant(1), vrNotEqual},
        {Variant("9"), Variant(10), vrLessThan},
    };
    for (auto& c : cases) EXPECT_EQ(VarCompareValue(c.a, c.b), c.r) << Describe(c.a) << " ? " << Describe(c.b);
    EXPECT_THROW(VarCompareValue(VarArrayOf({1}), VarArrayOf({1})), EVariantInvalidOpError);
}

TEST_F(VariantTest, SameValueTreatsEmptyOnlyAsEmpty) {
    EXPECT_TRUE(VarSameValue(Variant(), Variant()));
    EXPECT_FALSE(VarSameValue(Variant(), Variant(0)));
    EXPECT_FALSE(VarSameValue(Variant(""), Variant()));
    EXPECT_TRUE(VarSameValue(Variant::Null(), Variant::Null()));
    EXPECT_TRUE(VarSameValue(Variant(1), Variant(1.0)));
}

TEST_F(VariantTest, KindTests) {
    TCounted unk;
    EXPECT_TRUE(VarIsNumeric(Variant(1)));
    EXPECT_TRUE(VarIsNumeric(Variant(Currency(1))));
    EXPECT_FALSE(VarIsNumeric(Variant(TDateTime(1))));
    EXPECT_FALSE(VarIsNumeric(Variant("1")));
    EXPECT_TRUE(VarIsStr(Variant(u"")));
    EXPECT_TRUE(VarIsClear(Variant()));
    EXPECT_TRUE(VarIsClear(Variant::FromUnknown(nullptr)));
    EXPECT_FALSE(VarIsClear(Variant::FromUnknown(&unk)));
    EXPECT_FALSE(VarIsClear(Variant::Null()));
    int x = 1;
    EXPECT_TRUE(VarIsNumeric(Variant::ByRef(varInteger, &x)));
}

TEST_F(VariantTest, CopiesAreIndependent) {
    Variant a("abc");
    Variant b = a;
    b = "xyz";
    EXPECT_EQ(a.ToString(), "abc");

    Variant arr = VarArrayOf({1, "two"});
    Variant copy = arr;
    copy.PutElement(0, 9);
    EXPECT_EQ(arr.GetElement(0).ToInteger(), 1);
    EXPECT_EQ(copy.GetElement(0).ToInteger(), 9);

    Variant typed = VarArrayCreate({0, 1}, varOleStr);
    typed.PutElement(0, u"x");
    Variant typedCopy = typed;
    typedCopy.PutElement(0, u"y");
    EXPECT_EQ(typed.GetElement(0).ToWideString(), u"x");

    // Moving leaves the source Empty.
    Variant moved = std::move(copy);
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(moved.GetElement(0).ToInteger(), 9);
}

TEST_F(VariantTest, LockedArrayIsNeverShared) {
    Variant a = VarArrayCreate({0, 2}, varInteger);
    auto* data = static_cast<int*>(VarArrayLock(a));
    Variant copy = a;  // taken while locked: a deep copy
    data[1] = 77;
    VarArrayUnlock(a);
    EXPECT_EQ(a.GetElement(1).ToInteger(), 77);
    EXPECT_EQ(copy.GetElement(1).ToInteger(), 0);

    // Locking a shared array detaches it first, so the copy keeps its values.
    Variant b = VarArrayOf({1, 2});
    Variant bCopy = b;
    auto* elements = static_cast<Variant*>(VarArrayLock(b));
    elements[0] = 5;
    VarArrayUnlock(b);
    EXPECT_EQ(b.GetElement(0).ToInteger(), 5);
    EXPECT_EQ(bCopy.GetElement(0).ToInteger(), 1);
}

TEST_F(VariantTest, ArrayHoldingItselfMakesNoCycle) {
    Variant a = VarArrayOf({1, 2});
    a.PutElement(0, a);  // the element is the array as it was before
    EXPECT_EQ(a.GetElement(0).GetElement(0).ToInteger(), 1);
    EXPECT_EQ(a.GetElement(1).ToInteger(), 2);
}

TEST_F(VariantTest, ArrayBoundsAndElements) {
    Variant v = VarArrayCreate({1, 3}, varInteger);
    EXPECT_EQ(VarArrayDimCount(v), 1);
    EXPECT_EQ(VarArrayLowBound(v, 1), 1);
    EXPECT_EQ(VarArrayHighBound(v, 1), 3);
    EXPECT_EQ(VarArrayElementType(v), varInteger);
    EXPECT_EQ(v.GetElement(2).VType(), varInteger);
    v.PutElement(3, "12");  // converted to the element kind
    EXPECT_EQ(v.GetElement(3).ToInteger(), 12);
    struct Bad { int index; const char* error; } bad[] = {
        {0, "EVariantBadIndexError: Variant or safe array index out of bounds (0)"},
        {4, "EVariantBadIndexError: Variant or safe array index out of bounds (4)"},
        {INT32_MIN, "EVariantBadIndexError: Variant or safe array index out of bounds (-2147483648)"},
    };
    for (auto& b : bad) {
        EXPECT_EQ(ErrorOf([&] { v.GetElement(b.index); }), b.error);
        EXPECT_EQ(ErrorOf([&] { v.PutElement(b.index, 1); }), b.error);
    }
    // A value that does not convert changes nothing.
    EXPECT_THROW(v.PutElement(3, "abc"), EVariantTypeCastError);
    EXPECT_THROW(v.PutElement(3, 1e12), EVariantOverflowError);
    EXPECT_EQ(v.GetElement(3).ToInteger(), 12);

    EXPECT_THROW(VarArrayLowBound(v, 2), EVariantBadIndexError);
    EXPECT_THROW(VarArrayHighBound(v, 0), EVariantBadIndexError);
    EXPECT_THROW(VarArrayLowBound(Variant(1), 1), EVariantInvalidArgError);
    EXPECT_THROW(Variant(1).GetElement(0), EVariantInvalidArgError);
    EXPECT_EQ(VarArrayDimCount(Variant(1)), 0);
    EXPECT_THROW(v.GetElement({1, 1}), EVariantBadIndexError);
}

TEST_F(VariantTest, MultiDimensionalArrays) {
    Variant v = VarArrayCreate({0, 1, 10, 12}, varDouble);
    EXPECT_EQ(VarArrayDimCount(v), 2);
    EXPECT_EQ(VarArrayLowBound(v, 2), 10);
    EXPECT_EQ(VarArrayHighBound(v, 2), 12);
    for (int i = 0; i <= 1; ++i)
        for (int j = 10; j <= 12; ++j) v.PutElement({i, j}, i * 100 + j);
    EXPECT_EQ(v.GetElement({1, 11}).ToDouble(), 111);
    // The first index varies fastest in memory, as in COM's safe arrays.
    const auto* data = static_cast<const double*>(VarArrayData(v));
    EXPECT_EQ(data[0], 10);
    EXPECT_EQ(data[1], 110);
    EXPECT_EQ(data[2], 11);
    EXPECT_THROW(v.GetElement({2, 10}), EVariantBadIndexError);
    EXPECT_THROW(v.GetElement({0, 13}), EVariantBadIndexError);
    EXPECT_THROW(v.GetElement(0), EVariantBadIndexError);
}

TEST_F(VariantTest, ArrayCreationErrors) {
    EXPECT_THROW(VarArrayCreate({0}, varInteger), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({5, 3}, varInteger), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({0, 1}, varEmpty), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({0, 1}, varNull), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({INT32_MIN, INT32_MAX}, varVariant), EVariantArrayCreateError);
    EXPECT_THROW(VarArrayCreate({0, INT32_MAX - 1, 0, INT32_MAX - 1}, varByte), EVariantArrayCreateError);
    // An empty dimension is allowed: high = low - 1.
    Variant empty = VarArrayCreate({0, -1}, varByte);
    EXPECT_EQ(VarArrayHighBound(empty, 1), -1);
    EXPECT_TRUE(VarArrayToBytes(empty).empty());
}

TEST_F(VariantTest, ByteArrays) {
    const Byte bytes[] = {0, 1, 0xFF, 'a'};
    Variant v = BytesToVarArray(bytes, sizeof bytes);
    EXPECT_EQ(v.VType(), varArray | varByte);
    EXPECT_EQ(VarArrayLowBound(v, 1), 0);
    EXPECT_EQ(VarArrayHighBound(v, 1), 3);
    EXPECT_EQ(v.GetElement(2).ToInteger(), 255);
    EXPECT_EQ(VarArrayToBytes(v), std::vector<Byte>(bytes, bytes + 4));
    EXPECT_EQ(VarArrayToBytes(BytesToVarArray(nullptr, 0)).size(), 0u);
    EXPECT_THROW(v.PutElement(0, 256), EVariantOverflowError);
    EXPECT_EQ(ErrorOf([] { VarArrayToBytes(VarArrayOf({1})); }),
              "EVariantTypeCastError: Could not convert variant of type (Array Variant) into type (Array Byte)");
    EXPECT_THROW(VarArrayToBytes(Variant("ab")), EVariantTypeCastError);
}

TEST_F(VariantTest, ArraysOfEveryElementKind) {
    TCounted unk;
    struct Case { TVarType kind; Variant value; const char* text; } cases[] = {
        {varSmallint, Variant(-3), "-3"}, {varInteger, Variant(7), "7"}, {varSingle, Variant(0.5), "0.5"},
        {varDouble, Variant(2.25), "2.25"}, {varCurrency, Variant("1.5"), "1.5"},
        {varDate, Variant(TDateTime(1)), "1899-12-31"}, {varOleStr, Variant("wide"), "wide"},
        {varString, Variant(u"narrow"), "narrow"}, {varBoolean, Variant(1), "True"},
        {varVariant, Variant("any"), "any"}, {varDecimal, Variant("1.25"), "1.25"},
        {varShortInt, Variant(-8), "-8"}, {varByte, Variant(8), "8"}, {varWord, Variant(60000), "60000"},
        {varLongWord, Variant(4000000000LL), "4000000000"}, {varInt64, Variant(-(1LL << 40)), "-1099511627776"},
        {varUInt64, Variant(~0ULL), "18446744073709551615"},
    };
    for (auto& c : cases) {
        Variant a = VarArrayCreate({0, 1}, c.kind);
        EXPECT_EQ(VarArrayElementSize(c.kind) > 0, true);
        a.PutElement(1, c.value);
        EXPECT_EQ(a.GetElement(1).ToString(), c.text) << VarTypeAsText(c.kind);
        Variant copy = a;
        copy.PutElement(1, c.kind == varBoolean ? Variant(false) : Variant(0));
        EXPECT_EQ(a.GetElement(1).ToString(), c.text) << VarTypeAsText(c.kind);
    }
    Variant errors = VarArrayCreate({0, 0}, varError);
    errors.PutElement(0, Variant::Error(42));
    EXPECT_EQ(errors.GetElement(0).ToError(), 42);
}

TEST_F(VariantTest, NestedArrays) {
    Variant v = VarArrayOf({1, "a", VarArrayOf({2, 3})});
    EXPECT_EQ(VarArrayHighBound(v, 1), 2);
    EXPECT_EQ(VarArrayElementType(v), varVariant);
    EXPECT_EQ(v.GetElement(2).GetElement(1).ToInteger(), 3);
    EXPECT_EQ(v.GetElement(1).VType(), varString);
}

TEST_F(VariantTest, InterfacesAreCounted) {
    TCounted obj;
    {
        Variant v = Variant::FromUnknown(&obj);
        EXPECT_EQ(obj.Refs, 2);
        EXPECT_EQ(v.GetInterface(), &obj);
        Variant copy = v;
        EXPECT_EQ(obj.Refs, 3);
        Variant moved = std::move(copy);
        EXPECT_EQ(obj.Refs, 3);
        moved = 5;  // releases
        EXPECT_EQ(obj.Refs, 2);
        Variant arr = VarArrayCreate({0, 1}, varUnknown);
        arr.PutElement(0, v);
        EXPECT_EQ(obj.Refs, 3);
        Variant arrCopy = arr;
        arrCopy.PutElement(1, v);  // detaches: the copy holds its own references
        EXPECT_EQ(obj.Refs, 5);
        EXPECT_EQ(arrCopy.GetElement(0).GetInterface(), &obj);
        EXPECT_EQ(obj.Refs, 5);
        arrCopy.Clear();
        EXPECT_EQ(obj.Refs, 3);
    }
    EXPECT_EQ(obj.Refs, 1);
}

TEST_F(VariantTest, UnknownBecomesDispatchThroughQueryInterface) {
    TCounted dual(true);
    {
        Variant unk = Variant::FromUnknown(&dual);
        Variant disp = VarAsType(unk, varDispatch);
        EXPECT_EQ(disp.VType(), varDispatch);
        EXPECT_EQ(disp.GetInterface(), &dual);
        EXPECT_EQ(dual.Refs, 3);
        EXPECT_EQ(VarAsType(disp, varUnknown).VType(), varUnknown);
        EXPECT_EQ(dual.Refs, 3);
    }
    EXPECT_EQ(dual.Refs, 1);
    EXPECT_EQ(VarAsType(Variant(), varDispatch).GetInterface(), nullptr);
}

TEST_F(VariantTest, ByReferenceReadsAndWritesTheTarget) {
    int x = 5;
    Variant r = Variant::ByRef(varInteger, &x);
    EXPECT_EQ(r.VType(), varByRef | varInteger);
    EXPECT_TRUE(r.IsByRef());
    EXPECT_EQ(r.ToInteger(), 5);
    EXPECT_EQ(r.ToString(), "5");
    Variant plain = r.Deref();
    EXPECT_EQ(plain.VType(), varInteger);
    r.AssignByRef(Variant("12"));
    EXPECT_EQ(x, 12);
    EXPECT_EQ(plain.ToInteger(), 5);
    Variant alias = r;  // a copy refers to the same storage
    alias.AssignByRef(Variant(7.6));
    EXPECT_EQ(x, 8);
    // A failed conversion leaves the target untouched.
    EXPECT_THROW(r.AssignByRef(Variant("abc")), EVariantTypeCastError);
    EXPECT_THROW(r.AssignByRef(Variant(3000000000LL)), EVariantOverflowError);
    EXPECT_EQ(x, 8);
    EXPECT_THROW(Variant(1).AssignByRef(Variant(2)), EVariantInvalidOpError);

    short flag = 0;
    Variant b = Variant::ByRef(varBoolean, &flag);
    b.AssignByRef(Variant("True"));
    EXPECT_EQ(flag, -1);
    EXPECT_TRUE(b.ToBoolean());

    WideString w;
    Variant wr = Variant::ByRef(varOleStr, &w);
    wr.AssignByRef(Variant(3.5));
    EXPECT_EQ(w, u"3.5");

    TDecimal d;
    Variant dr = Variant::ByRef(varDecimal, &d);
    dr.AssignByRef(Variant("-0.25"));
    EXPECT_EQ(DecimalToStr(d), "-0.25");

    Variant target("old");
    Variant vr = Variant::ByRef(&target);
    EXPECT_EQ(vr.ToString(), "old");
    vr.AssignByRef(Variant(5));
    EXPECT_EQ(target.VType(), varInteger);
    EXPECT_EQ(vr == Variant(5), true);

    Variant arr = VarArrayOf({1, 2});
    Variant ar = Variant::ByRef(varArray | varVariant, &arr);
    ar.PutElement(1, 20);
    EXPECT_EQ(arr.GetElement(1).ToInteger(), 20);
    EXPECT_EQ(VarArrayHighBound(ar, 1), 1);
}

TEST_F(VariantTest, ByReferenceInterfaceSlotIsCounted) {
    TCounted a, b;
    IUnknown* slot = &a;
    a.AddRef();  // the slot's reference
    {
        Variant r = Variant::ByRef(varUnknown, &slot);
        EXPECT_EQ(r.GetInterface(), &a);
        r.AssignByRef(Variant::FromUnknown(&b));
    }
    EXPECT_EQ(slot, &b);
    EXPECT_EQ(a.Refs, 1);
    EXPECT_EQ(b.Refs, 2);
    slot->Release();
}

TEST_F(VariantTest, CircularReferenceIsAnError) {
    Variant v;
    v = Variant::ByRef(&v);
    EXPECT_THROW(v.Deref(), EVariantInvalidOpError);
    EXPECT_THROW(v.ToInteger(), EVariantInvalidOpError);
    EXPECT_FALSE(VarIsNumeric(v));
    EXPECT_EQ(Variant::ByRef(varInteger, nullptr).VType(), varEmpty);
}

TEST_F(VariantTest, DecimalText) {
    struct Case { const char* in; const char* out; } cases[] = {
        {"0", "0"}, {"1.50", "1.50"}, {"-0.001", "-0.001"}, {"+7", "7"}, {" 3 ", "3"}, {"1e3", "1000"},
        {"1.5E-2", "0.015"}, {"-0", "0"}, {"0.00", "0.00"},
        {"79228162514264337593543950335", "79228162514264337593543950335"},
        {"0.0000000000000000000000000001", "0.0000000000000000000000000001"},
        // More digits than fit: rounded to nearest, ties to even.
        {"0.00000000000000000000000000005", "0.0000000000000000000000000000"},
        {"0.00000000000000000000000000015", "0.0000000000000000000000000002"},
        {"7922816251426433759354395033.54", "7922816251426433759354395033.5"},
        {"7922816251426433759354395033.56", "7922816251426433759354395034"},  // 2^96 does not fit
        {"1.00000000000000000000000000000000000000000000000001", "1.0000000000000000000000000000"},
    };
    for (auto& c : cases) EXPECT_EQ(DecimalToStr(StrToDecimal(c.in)), c.out) << c.in;
    for (const char* bad : {"", "abc", "1.2.3", "1e", "--1", "1 2"})
        EXPECT_EQ(ErrorOf([&] { StrToDecimal(bad); }),
                  "EConvertError: '" + String(bad) + "' is not a valid decimal value");
    EXPECT_EQ(ErrorOf([] { StrToDecimal("1e29"); }), "EConvertError: '1e29' is out of the decimal range");
}

TEST_F(VariantTest, DecimalNumbers) {
    EXPECT_EQ(DecimalToStr(DoubleToDecimal(0.1)), "0.1");
    EXPECT_EQ(DecimalToStr(DoubleToDecimal(-123456.789)), "-123456.789");
    EXPECT_EQ(DecimalToStr(DoubleToDecimal(1e20)), "100000000000000000000");
    EXPECT_THROW(DoubleToDecimal(1e29), EOverflow);
    EXPECT_THROW(DoubleToDecimal(std::nan("")), EOverflow);
    EXPECT_EQ(DecimalToDouble(StrToDecimal("-12.5")), -12.5);
    EXPECT_EQ(DecimalToDouble(StrToDecimal("0.1")), 0.1);
    Currency c;
    EXPECT_TRUE(DecimalToCurr(StrToDecimal("922337203685477.5807"), c));
    EXPECT_EQ(c, Currency::Max());
    EXPECT_TRUE(DecimalToCurr(StrToDecimal("-922337203685477.5808"), c));
    EXPECT_EQ(c, Currency::Min());
    EXPECT_FALSE(DecimalToCurr(StrToDecimal("922337203685477.5808"), c));
    EXPECT_EQ(DecimalToStr(CurrToDecimal(Currency::Min())), "-922337203685477.5808");
    EXPECT_EQ(DecimalToStr(Int64ToDecimal(INT64_MIN)), "-9223372036854775808");
    // The decimal's 64-bit payload is its low 64 bits.
    EXPECT_EQ(Dec("18446744073709551617").RawPayload(), 1u);
}

TEST_F(VariantTest, StringPayloadsSurviveConcurrentCopies) {
    const Variant shared(String(100, 'x'));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                Variant copy = shared;
                Variant second = copy;
                if (second.ToString().size() != 100) ++mismatches;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(shared.ToString(), String(100, 'x'));
}
