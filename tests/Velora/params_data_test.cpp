// The legacy "Data" stream: versions 0, 1 and 2, every kind of data block,
// and damaged streams (versions above 2, negative and oversized lengths,
// streams cut short, types outside their enumerations).

#include <gtest/gtest.h>

#include <cstring>

#include "Velora/Adods/Params.h"
#include "tests/db/TestUtil.h"

using namespace Velora;
using namespace Db;
using DbTest::MessageOf;
using Rtl::Byte;
using Rtl::String;
using Rtl::Variant;

namespace {

// Writes a "Data" stream in the layout of one version.
class DataWriter {
public:
    explicit DataWriter(int Version) : FWide(Version == 2) { U(Version, 2); }

    DataWriter& Count(long long n) { return Len(n); }
    // One parameter record; Data is written only when Type is not ftUnknown.
    DataWriter& Param(const String& Name, TParamType Dir, int Type, const String& Data = {}, bool IsNull = false,
                      bool Bound = true) {
        Len(static_cast<long long>(Name.size()), true);
        Raw(Name);
        U(Dir, 1);
        U(Type, 1);
        if (Type != ftUnknown) {
            Len(static_cast<long long>(Data.size()));
            Raw(Data);
        }
        U(IsNull ? 1 : 0, 1);
        U(Bound ? 1 : 0, 1);
        return *this;
    }
    // A count or length in this version's width (Name: the name's width).
    DataWriter& Len(long long v, bool Name = false) {
        return U(static_cast<unsigned long long>(v), FWide ? 4 : (Name ? 1 : 2));
    }
    DataWriter& U(unsigned long long v, int Width) {
        for (int i = 0; i < Width; ++i) FBytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
    DataWriter& Raw(const String& s) {
        FBytes += s;
        return *this;
    }
    const String& Bytes() const { return FBytes; }

private:
    bool FWide;
    String FBytes;
};

template <class T>
String Native(T v) {
    return String(reinterpret_cast<const char*>(&v), sizeof v);
}

void Load(TParams& params, const String& bytes) {
    Rtl::TStringStream stream(bytes);
    params.ReadBinaryData(&stream);
}

TEST(ParamData, VersionOneUsesNarrowCountsAndLengths) {
    const String bytes = DataWriter(1).Count(1).Param("ID", ptInput, ftInteger, Native<std::int32_t>(1234)).Bytes();
    // 2 version + 2 count + 1 name length + 2 name + 1 + 1 + 2 data length + 4 data + 1 + 1
    EXPECT_EQ(bytes.size(), 17u);
    TParams params;
    Load(params, bytes);
    ASSERT_EQ(params.GetCount(), 1);
    TParam* p = params.Items(0);
    EXPECT_EQ(p->GetName(), "ID");
    EXPECT_EQ(p->GetParamType(), ptInput);
    EXPECT_EQ(p->GetDataType(), ftInteger);
    EXPECT_EQ(p->GetAsInteger(), 1234);
    EXPECT_TRUE(p->GetBound());
    EXPECT_FALSE(p->IsNull());
}

TEST(ParamData, VersionZeroReadsLikeVersionOne) {
    TParams params;
    Load(params, DataWriter(0).Count(2).Param("a", ptInput, ftSmallint, Native<std::int16_t>(-3))
                      .Param("b", ptOutput, ftUnknown, {}, true, false).Bytes());
    ASSERT_EQ(params.GetCount(), 2);
    EXPECT_EQ(params.Items(0)->GetAsInteger(), -3);
    EXPECT_EQ(params.Items(1)->GetParamType(), ptOutput);
    EXPECT_EQ(params.Items(1)->GetDataType(), ftUnknown);
    EXPECT_TRUE(params.Items(1)->GetValue().IsNull());
    EXPECT_FALSE(params.Items(1)->GetBound());
}

TEST(ParamData, VersionTwoWithEveryKindOfBlock) {
    Rtl::TBcd bcd;
    ASSERT_TRUE(Rtl::CurrToBCD(Rtl::Currency(12.5), bcd));
    const String longText(5000, 'x');  // longer than the old 2048-byte buffer: read in full
    const String bytes = DataWriter(2)
                             .Count(9)
                             .Param("s", ptInput, ftString, String("abc\0junk", 8))
                             .Param("fixed", ptInput, ftFixedChar, "no terminator")
                             .Param("long", ptInput, ftMemo, longText)
                             .Param("g", ptInput, ftGraphic, String("\0\1\2", 3))
                             .Param("f", ptInput, ftFloat, Native(2.75))
                             .Param("n", ptInput, ftBCD, Native(bcd))
                             .Param("d", ptInput, ftDate, Native<std::int32_t>(Rtl::DateDelta + 2))
                             .Param("nul", ptInputOutput, ftInteger, Native<std::int32_t>(5), true)
                             .Param("short", ptInput, ftInteger, String("\x01\x01", 2))
                             .Bytes();
    TParams params;
    Load(params, bytes);
    ASSERT_EQ(params.GetCount(), 9);
    EXPECT_EQ(params.ParamByName("s")->GetAsString(), "abc");
    EXPECT_EQ(params.ParamByName("fixed")->GetAsString(), "no terminator");
    EXPECT_EQ(params.ParamByName("fixed")->GetDataType(), ftString);
    EXPECT_EQ(params.ParamByName("long")->GetAsMemo(), longText);
    EXPECT_EQ(params.ParamByName("long")->GetDataType(), ftMemo);
    EXPECT_EQ(params.ParamByName("g")->GetDataType(), ftBlob) << "blob kinds arrive through SetBlobData";
    EXPECT_EQ(params.ParamByName("g")->GetAsBlob(), String("\0\1\2", 3));
    EXPECT_EQ(params.ParamByName("f")->GetAsFloat(), 2.75);
    EXPECT_EQ(params.ParamByName("n")->GetAsBCD(), Rtl::Currency(12.5));
    EXPECT_EQ(params.ParamByName("d")->GetAsDateTime().Value, 2.0);
    TParam* nul = params.ParamByName("nul");
    EXPECT_TRUE(nul->IsNull());
    EXPECT_TRUE(nul->GetValue().IsNull());
    EXPECT_EQ(nul->GetParamType(), ptInputOutput);
    EXPECT_EQ(params.ParamByName("short")->GetAsInteger(), 0x0101) << "a short block reads as zeros beyond its end";
}

TEST(ParamData, ReadingReplacesTheItems) {
    TParams params;
    params.CreateParam(ftInteger, "old", ptInput);
    Load(params, DataWriter(2).Count(0).Bytes());
    EXPECT_EQ(params.GetCount(), 0);
}

struct BadCase {
    const char* Label;
    String Bytes;
    int ItemsLeft;  // parameters read before the failure
};

class DamagedData : public ::testing::TestWithParam<BadCase> {};

TEST_P(DamagedData, IsRefusedWithoutReadingOutOfBounds) {
    TParams params;
    params.CreateParam(ftInteger, "old", ptInput);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Load(params, GetParam().Bytes); }), "Unable to load bind parameters");
    EXPECT_EQ(params.GetCount(), GetParam().ItemsLeft);
}

const String kOne = DataWriter(2).Count(2).Param("ok", ptInput, ftInteger, Native<std::int32_t>(1)).Bytes();

const BadCase kBad[] = {
    {"Version3", DataWriter(3).Count(0).Bytes(), 0},
    {"VersionFFFF", DataWriter(0xFFFF).Bytes(), 0},
    {"Empty", "", 0},
    {"OneByte", "\x02", 0},
    {"NegativeCount", DataWriter(2).Count(-1).Bytes(), 0},
    {"NegativeNameLength", String(kOne).append(DataWriter(2).Len(-5).Bytes().substr(2)), 1},
    {"NameBeyondTheEnd", String(kOne).append(DataWriter(2).Len(0x7FFFFFFF).Bytes().substr(2)), 1},
    {"NegativeDataLength", kOne + DataWriter(2).Len(1).Raw("x").U(1, 1).U(ftInteger, 1).Len(-4).Bytes().substr(2), 1},
    {"DataBeyondTheEnd", kOne + DataWriter(2).Len(1).Raw("x").U(1, 1).U(ftMemo, 1).Len(100).Raw("abc").Bytes().substr(2), 1},
    {"NarrowDataBeyondTheEnd", DataWriter(1).Count(1).Len(1, true).Raw("x").U(1, 1).U(ftBlob, 1).Len(0xFFFF).Bytes(), 0},
    {"CutBeforeTheFlags", DataWriter(2).Count(1).Len(1).Raw("x").U(1, 1).U(ftInteger, 1).Len(4).Raw("1234").Bytes(), 0},
    {"CountLargerThanTheRecords", DataWriter(1).Count(3).Param("a", ptInput, ftUnknown).Bytes(), 1},
    {"ParamTypeOutOfRange", DataWriter(2).Count(1).Param("x", static_cast<TParamType>(9), ftInteger, "1234").Bytes(), 0},
    {"FieldTypeOutOfRange", DataWriter(2).Count(1).Param("x", ptInput, 200, "1234").Bytes(), 0},
};

INSTANTIATE_TEST_SUITE_P(ParamData, DamagedData, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return String(info.param.Label); });

TEST(ParamData, AnUnsupportedTypeStopsTheLoadWithItsError) {
    const String bytes = DataWriter(2)
                             .Count(3)
                             .Param("first", ptInput, ftInteger, Native<std::int32_t>(1))
                             .Param("big", ptInput, ftLargeint, Native<std::int64_t>(1))
                             .Param("never", ptInput, ftInteger, Native<std::int32_t>(3))
                             .Bytes();
    auto ds = DbTest::NewDataSet(DbTest::NumberTable(0), "Query1");
    TParams params(ds.get());
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Load(params, bytes); }), "Query1: Field 'big' is of an unsupported type");
    ASSERT_EQ(params.GetCount(), 2);
    EXPECT_EQ(params.Items(0)->GetAsInteger(), 1);
    EXPECT_EQ(params.Items(1)->GetName(), "big");
}

TEST(ParamData, AnUnknownTypeNeedsNoDataBlock) {
    TParams params;
    Load(params, DataWriter(2).Count(1).Param("u", ptResult, ftUnknown, {}, false, true).Bytes());
    ASSERT_EQ(params.GetCount(), 1);
    EXPECT_EQ(params.Items(0)->GetParamType(), ptResult);
    EXPECT_TRUE(params.Items(0)->GetBound());
    EXPECT_TRUE(params.Items(0)->GetValue().IsEmpty());
}

}  // namespace
