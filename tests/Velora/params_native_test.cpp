// The native-buffer interface: sizes, formats and the way back, per type.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "Velora/Adods/Params.h"
#include "tests/db/TestUtil.h"

using namespace Velora;
using namespace Db;
using DbTest::MessageOf;
using Rtl::Byte;
using Rtl::Currency;
using Rtl::String;
using Rtl::TDateTime;
using Rtl::Variant;

namespace {

std::vector<Byte> DataOf(TParam& p) {
    std::vector<Byte> bytes(static_cast<std::size_t>(p.GetDataSize()) + 8, 0xEE);
    p.GetData(bytes.data());
    for (std::size_t i = bytes.size() - 8; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], 0xEE) << "GetData wrote past GetDataSize at " << i;
    bytes.resize(bytes.size() - 8);
    return bytes;
}

template <class T>
std::vector<Byte> BytesOf(T v) {
    std::vector<Byte> b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

std::vector<Byte> BytesOf(const char* s, std::size_t n) { return std::vector<Byte>(s, s + n); }

Rtl::TBcd Bcd(Currency c) {
    Rtl::TBcd b;
    Rtl::CurrToBCD(c, b, 32, 4);
    return b;
}

struct NativeCase {
    const char* Label;
    std::function<void(TParam&)> Set;  // the value and type to write out
    std::vector<Byte> Expected;        // GetData's bytes
    TFieldType TypeAfterSetData;       // SetData goes through the typed setter
    std::function<void(TParam&)> CheckBack;
};

class NativeFormats : public ::testing::TestWithParam<NativeCase> {};

TEST_P(NativeFormats, WriteAndReadBack) {
    const NativeCase& c = GetParam();
    TParam p;
    c.Set(p);
    const TFieldType type = p.GetDataType();
    const std::vector<Byte> bytes = DataOf(p);
    EXPECT_EQ(bytes, c.Expected);

    TParam back;
    back.SetDataType(type);
    std::vector<Byte> buffer = bytes;
    buffer.resize(buffer.size() + 1, 0);
    back.SetData(buffer.data());
    EXPECT_EQ(back.GetDataType(), c.TypeAfterSetData);
    EXPECT_TRUE(back.GetBound());
    c.CheckBack(back);
}

const NativeCase kNative[] = {
    {"String", [](TParam& p) { p.SetAsString("abc"); }, BytesOf("abc", 4), ftString,
     [](TParam& p) { EXPECT_EQ(p.GetAsString(), "abc"); }},
    {"FixedChar", [](TParam& p) { p.SetDataType(ftFixedChar); p.SetValue(Variant("ab")); }, BytesOf("ab", 3), ftString,
     [](TParam& p) { EXPECT_EQ(p.GetAsString(), "ab"); }},
    {"Memo", [](TParam& p) { p.SetAsMemo("m"); }, BytesOf("m", 2), ftMemo,
     [](TParam& p) { EXPECT_EQ(p.GetAsMemo(), "m"); }},
    {"NullString", [](TParam& p) { p.SetDataType(ftString); }, BytesOf("", 1), ftString,
     [](TParam& p) { EXPECT_EQ(p.GetAsString(), ""); }},
    {"Smallint", [](TParam& p) { p.SetAsSmallInt(-2); }, BytesOf<std::int16_t>(-2), ftSmallint,
     [](TParam& p) { EXPECT_EQ(p.GetAsInteger(), -2); }},
    {"Word", [](TParam& p) { p.SetAsWord(65000); }, BytesOf<std::uint16_t>(65000), ftWord,
     [](TParam& p) { EXPECT_EQ(p.GetAsInteger(), 65000); }},
    {"Integer", [](TParam& p) { p.SetAsInteger(-100000); }, BytesOf<std::int32_t>(-100000), ftInteger,
     [](TParam& p) { EXPECT_EQ(p.GetAsInteger(), -100000); }},
    {"AutoInc", [](TParam& p) { p.SetDataType(ftAutoInc); p.SetValue(Variant(9)); }, BytesOf<std::int32_t>(9),
     ftInteger, [](TParam& p) { EXPECT_EQ(p.GetAsInteger(), 9); }},
    {"BooleanTrue", [](TParam& p) { p.SetAsBoolean(true); }, BytesOf<std::uint16_t>(1), ftBoolean,
     [](TParam& p) { EXPECT_TRUE(p.GetAsBoolean()); }},
    {"BooleanNull", [](TParam& p) { p.SetDataType(ftBoolean); }, BytesOf<std::uint16_t>(0), ftBoolean,
     [](TParam& p) { EXPECT_FALSE(p.GetAsBoolean()); }},
    {"Float", [](TParam& p) { p.SetAsFloat(-0.125); }, BytesOf(-0.125), ftFloat,
     [](TParam& p) { EXPECT_EQ(p.GetAsFloat(), -0.125); }},
    {"Currency", [](TParam& p) { p.SetAsCurrency(Currency(12.3456)); }, BytesOf(12.3456), ftCurrency,
     [](TParam& p) { EXPECT_EQ(p.GetAsCurrency(), Currency(12.3456)); }},
    {"BCD", [](TParam& p) { p.SetAsBCD(Currency(-7.25)); }, BytesOf(Bcd(Currency(-7.25))), ftBCD,
     [](TParam& p) { EXPECT_EQ(p.GetAsBCD(), Currency(-7.25)); }},
    {"Date", [](TParam& p) { p.SetAsDate(TDateTime(1.0)); }, BytesOf<std::int32_t>(Rtl::DateDelta + 1), ftDate,
     [](TParam& p) { EXPECT_EQ(p.GetAsDateTime().Value, 1.0); }},
    {"Time", [](TParam& p) { p.SetAsTime(TDateTime(0.5)); }, BytesOf<std::int32_t>(43200000), ftTime,
     [](TParam& p) { EXPECT_EQ(p.GetAsDateTime().Value, 0.5); }},
    {"DateTime", [](TParam& p) { p.SetAsDateTime(TDateTime(1.25)); },
     BytesOf((Rtl::DateDelta + 1.0) * 86400000.0 + 21600000.0), ftDateTime,
     [](TParam& p) { EXPECT_EQ(p.GetAsDateTime().Value, 1.25); }},
};

INSTANTIATE_TEST_SUITE_P(Params, NativeFormats, ::testing::ValuesIn(kNative),
                         [](const auto& info) { return String(info.param.Label); });

TEST(ParamNative, SizesOfTextBlobsAndFixedTypes) {
    TParam p;
    p.SetAsString("abc");
    EXPECT_EQ(p.GetDataSize(), 4);
    p.SetAsBlob("abc");
    EXPECT_EQ(p.GetDataSize(), 3);
    EXPECT_EQ(DataOf(p), BytesOf("abc", 3));
    p.SetAsBCD(Currency(1));
    EXPECT_EQ(p.GetDataSize(), 34);
    p.SetDataType(ftLargeint);
    EXPECT_EQ(p.GetDataSize(), 8);
    for (TFieldType t : {ftADT, ftArray, ftReference, ftDataSet, ftCursor}) {
        p.SetDataType(t);
        EXPECT_EQ(p.GetDataSize(), 0) << FieldTypeName(t);
    }
}

TEST(ParamNative, ByteArrays) {
    TParam p;
    p.SetDataType(ftBytes);
    p.SetValue(Rtl::BytesToVarArray("\x01\x02\x03", 3));
    EXPECT_EQ(p.GetDataSize(), 3);
    EXPECT_EQ(DataOf(p), BytesOf("\x01\x02\x03", 3));

    // Not an array: nothing. An array of variants: each element as a byte.
    p.SetValue(Variant("abc"));
    EXPECT_EQ(p.GetDataSize(), 0);
    p.SetDataType(ftVarBytes);
    p.SetValue(Rtl::VarArrayOf({Variant(7), Variant(255)}));
    EXPECT_EQ(DataOf(p), BytesOf("\x07\xFF", 2));

    // A lower bound above 0: the size is the high bound + 1, and only the
    // elements that exist are copied, the rest is zero.
    Variant shifted = Rtl::VarArrayCreate({2, 3}, Rtl::varByte);
    shifted.PutElement(2, Variant(static_cast<unsigned char>(0xAA)));
    shifted.PutElement(3, Variant(static_cast<unsigned char>(0xBB)));
    p.SetValue(shifted);
    EXPECT_EQ(p.GetDataSize(), 4);
    EXPECT_EQ(DataOf(p), BytesOf("\xAA\xBB\x00\x00", 4));

    std::vector<Byte> buffer(4, 0);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p.SetData(buffer.data()); }), "Field '' is of an unsupported type");
}

TEST(ParamNative, UnknownAndUnsupportedTypesNameTheParameter) {
    auto ds = DbTest::NewDataSet(DbTest::NumberTable(0), "Q");
    TParams params(ds.get());
    TParam* p = params.CreateParam(ftUnknown, "x", ptInput);
    std::vector<Byte> buffer(64, 0);
    const String unknown = "Q: Field 'x' is of an unknown type";
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->GetDataSize(); }), unknown);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->GetData(buffer.data()); }), unknown);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->SetData(buffer.data()); }), unknown);

    const String unsupported = "Q: Field 'x' is of an unsupported type";
    p->SetDataType(ftLargeint);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->GetData(buffer.data()); }), unsupported);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->SetData(buffer.data()); }), unsupported);
    for (TFieldType t : {ftWideString, ftVariant, ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd}) {
        p->SetDataType(t);
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->GetDataSize(); }), unsupported) << FieldTypeName(t);
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->GetData(buffer.data()); }), unsupported) << FieldTypeName(t);
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->SetData(buffer.data()); }), unsupported) << FieldTypeName(t);
    }
    for (TFieldType t : {ftBlob, ftGraphic, ftBytes, ftADT, ftDataSet}) {
        p->SetDataType(t);
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { p->SetData(buffer.data()); }), unsupported) << FieldTypeName(t);
    }
}

TEST(ParamNative, CursorSetDataLeavesTheFlagsAlone) {
    TParam p;
    p.SetDataType(ftCursor);
    EXPECT_EQ(p.GetDataSize(), 0);
    const Byte buffer[1] = {0x55};
    p.GetData(nullptr);  // writes nothing
    p.SetData(buffer);
    EXPECT_EQ(p.GetValue().VType(), Rtl::varByte);
    EXPECT_EQ(p.GetValue().ToInteger(), 0);
    EXPECT_FALSE(p.GetBound());
    EXPECT_TRUE(p.IsNull()) << "the null flag stays set";
}

TEST(ParamNative, CurrencyAndBcdEdges) {
    TParam p;
    p.SetDataType(ftCurrency);
    const double d = 1.23456;
    p.SetData(&d);
    EXPECT_EQ(p.GetAsCurrency(), Currency::FromScaled(12346));

    Rtl::TBcd bad{};
    bad.Precision = 2;
    bad.Fraction[0] = 0xAB;  // not decimal digits
    p.SetDataType(ftBCD);
    p.SetData(&bad);
    EXPECT_EQ(p.GetAsBCD(), Currency());
    EXPECT_FALSE(p.IsNull()) << "a BCD that does not convert gives 0, not null";
}

}  // namespace
