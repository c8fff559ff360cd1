// TParam values: typed accessors, the variant setter's type rules, null and
// bound flags, data type changes, blobs from streams and files, assignment
// from parameters, fields, string lists and bitmaps, and equality.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

#include "Platform/vcl/Graphics.h"
#include "Velora/Adods/Params.h"
#include "tests/db/TestUtil.h"

using namespace Velora;
using namespace Db;
using DbTest::MessageOf;
using Rtl::Currency;
using Rtl::String;
using Rtl::TDateTime;
using Rtl::TVarType;
using Rtl::Variant;

namespace {

struct SetterCase {
    const char* Label;
    std::function<void(TParam&)> Set;
    TFieldType DataType;
    TVarType Kind;
    std::function<void(TParam&)> Check;
};

class TypedSetters : public ::testing::TestWithParam<SetterCase> {};

TEST_P(TypedSetters, WriteTheirTypeAndVariantKind) {
    const SetterCase& c = GetParam();
    TParam p;
    c.Set(p);
    EXPECT_EQ(p.GetDataType(), c.DataType);
    EXPECT_EQ(p.GetValue().VType(), c.Kind);
    EXPECT_TRUE(p.GetBound());
    EXPECT_FALSE(p.IsNull());
    c.Check(p);
}

const SetterCase kSetters[] = {
    {"Boolean", [](TParam& p) { p.SetAsBoolean(true); }, ftBoolean, Rtl::varBoolean,
     [](TParam& p) { EXPECT_TRUE(p.GetAsBoolean()); EXPECT_EQ(p.GetAsString(), "True"); }},
    {"Float", [](TParam& p) { p.SetAsFloat(1.5); }, ftFloat, Rtl::varDouble,
     [](TParam& p) { EXPECT_EQ(p.GetAsFloat(), 1.5); EXPECT_EQ(p.GetAsString(), "1.5"); }},
    {"Currency", [](TParam& p) { p.SetAsCurrency(Currency(12.5)); }, ftCurrency, Rtl::varCurrency,
     [](TParam& p) { EXPECT_EQ(p.GetAsCurrency(), Currency(12.5)); }},
    {"BCD", [](TParam& p) { p.SetAsBCD(Currency(0.0001)); }, ftBCD, Rtl::varCurrency,
     [](TParam& p) { EXPECT_EQ(p.GetAsBCD(), Currency(0.0001)); }},
    {"Integer", [](TParam& p) { p.SetAsInteger(-7); }, ftInteger, Rtl::varInteger,
     [](TParam& p) { EXPECT_EQ(p.GetAsInteger(), -7); EXPECT_EQ(p.GetAsFloat(), -7.0); }},
    {"SmallInt", [](TParam& p) { p.SetAsSmallInt(300); }, ftSmallint, Rtl::varInteger,
     [](TParam& p) { EXPECT_EQ(p.GetAsSmallInt(), 300); }},
    {"Word", [](TParam& p) { p.SetAsWord(65535); }, ftWord, Rtl::varInteger,
     [](TParam& p) { EXPECT_EQ(p.GetAsWord(), 65535); }},
    {"String", [](TParam& p) { p.SetAsString("42"); }, ftString, Rtl::varString,
     [](TParam& p) { EXPECT_EQ(p.GetAsString(), "42"); EXPECT_EQ(p.GetAsInteger(), 42); }},
    {"Memo", [](TParam& p) { p.SetAsMemo("a\r\nb"); }, ftMemo, Rtl::varString,
     [](TParam& p) { EXPECT_EQ(p.GetAsMemo(), "a\r\nb"); }},
    {"Blob", [](TParam& p) { p.SetAsBlob(String("\0\xFF", 2)); }, ftBlob, Rtl::varString,
     [](TParam& p) { EXPECT_EQ(p.GetAsBlob(), String("\0\xFF", 2)); }},
    {"Date", [](TParam& p) { p.SetAsDate(Rtl::EncodeDate(2024, 2, 29)); }, ftDate, Rtl::varDate,
     [](TParam& p) { EXPECT_EQ(p.GetAsDate(), Rtl::EncodeDate(2024, 2, 29)); }},
    {"Time", [](TParam& p) { p.SetAsTime(Rtl::EncodeTime(13, 5, 0, 0)); }, ftTime, Rtl::varDate,
     [](TParam& p) { EXPECT_EQ(p.GetAsTime(), Rtl::EncodeTime(13, 5, 0, 0)); }},
    {"DateTime", [](TParam& p) { p.SetAsDateTime(TDateTime(45000.25)); }, ftDateTime, Rtl::varDate,
     [](TParam& p) { EXPECT_EQ(p.GetAsDateTime().Value, 45000.25); }},
};

INSTANTIATE_TEST_SUITE_P(Params, TypedSetters, ::testing::ValuesIn(kSetters),
                         [](const auto& info) { return String(info.param.Label); });

TEST(ParamValues, ANewOrClearedParameterReadsAsNeutralValues) {
    TParam p;
    auto neutral = [&] {
        EXPECT_TRUE(p.IsNull());
        EXPECT_FALSE(p.GetAsBoolean());
        EXPECT_EQ(p.GetAsFloat(), 0.0);
        EXPECT_EQ(p.GetAsCurrency(), Currency());
        EXPECT_EQ(p.GetAsBCD(), Currency());
        EXPECT_EQ(p.GetAsInteger(), 0);
        EXPECT_EQ(p.GetAsString(), "");
        EXPECT_EQ(p.GetAsMemo(), "");
        EXPECT_EQ(p.GetAsDateTime().Value, 0.0);
    };
    neutral();
    EXPECT_FALSE(p.GetBound());
    EXPECT_EQ(p.GetDataType(), ftUnknown);
    EXPECT_EQ(p.GetParamType(), ptUnknown);

    p.SetAsString("not a number");
    p.Clear();
    neutral();
    EXPECT_TRUE(p.GetValue().IsEmpty());
    EXPECT_TRUE(p.GetBound()) << "Clear leaves ValueBound alone";
    EXPECT_EQ(p.GetDataType(), ftString) << "Clear leaves DataType alone";
}

TEST(ParamValues, NullCountsAsBoundUnassignedDoesNot) {
    TParam p;
    p.SetValue(Variant::Null());
    EXPECT_TRUE(p.GetBound());
    EXPECT_TRUE(p.IsNull());
    EXPECT_TRUE(p.IsParamStored());
    p.SetValue(Variant());
    EXPECT_FALSE(p.GetBound());
    EXPECT_TRUE(p.IsNull());
    EXPECT_FALSE(p.IsParamStored());
}

TEST(ParamValues, GetterConversionFailuresPropagate) {
    TParam p;
    p.SetAsString("abc");
    EXPECT_THROW(p.GetAsInteger(), Rtl::EVariantError);
    EXPECT_THROW(p.GetAsDateTime(), Rtl::Exception);
    p.SetAsString("maybe");
    p.SetDataType(ftBoolean);  // run time: the value goes
    p.SetValue(Variant("maybe"));
    EXPECT_THROW(p.GetAsString(), Rtl::Exception) << "a Boolean's text needs the Boolean conversion";
}

TEST(ParamValues, BooleanTextIsTrueOrFalse) {
    TParam p;
    p.SetAsBoolean(false);
    EXPECT_EQ(p.GetAsString(), "False");
    p.SetDataType(ftBoolean);
    p.SetValue(Variant(1));
    EXPECT_EQ(p.GetAsString(), "True");
}

struct KindCase {
    const char* Label;
    Variant Value;
    TFieldType Expected;
};

class TypeFromVariant : public ::testing::TestWithParam<KindCase> {};

TEST_P(TypeFromVariant, AnUnknownTypeIsTakenFromTheValue) {
    TParam p;
    p.SetValue(GetParam().Value);
    EXPECT_EQ(p.GetDataType(), GetParam().Expected);
}

const KindCase kKinds[] = {
    {"Smallint", Variant(short(1)), ftSmallint},
    {"Byte", Variant(static_cast<unsigned char>(1)), ftSmallint},
    {"Integer", Variant(1), ftInteger},
    {"Single", Variant(1.5f), ftFloat},
    {"Double", Variant(1.5), ftFloat},
    {"Currency", Variant(Currency(12.5)), ftBCD},
    {"Date", Variant(TDateTime(1)), ftDateTime},
    {"String", Variant("x"), ftString},
    {"OleStr", Variant(u"x"), ftString},
    {"Boolean", Variant(true), ftBoolean},
    {"ShortInt", Variant(static_cast<signed char>(1)), ftUnknown},
    {"Word", Variant(static_cast<unsigned short>(1)), ftUnknown},
    {"LongWord", Variant(1u), ftUnknown},
    {"Int64", Variant(1LL), ftUnknown},
    {"Null", Variant::Null(), ftUnknown},
    {"Unassigned", Variant(), ftUnknown},
};

INSTANTIATE_TEST_SUITE_P(Params, TypeFromVariant, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return String(info.param.Label); });

TEST(ParamValues, AKnownTypeIsKeptWhateverTheValue) {
    TParam p;
    p.SetAsInteger(1);
    p.SetValue(Variant("text"));
    EXPECT_EQ(p.GetDataType(), ftInteger);
    p.SetText("12");
    EXPECT_EQ(p.GetDataType(), ftInteger) << "SetText writes no type";
    EXPECT_EQ(p.GetValue().VType(), Rtl::varString);
    EXPECT_EQ(p.GetAsInteger(), 12);

    TParam unknown;
    unknown.SetText("x");
    EXPECT_EQ(unknown.GetDataType(), ftString);
}

TEST(ParamValues, ByReferenceValuesAreStoredAsPlainCopies) {
    TParam p;
    {
        int storage = 5;
        p.SetValue(Variant::ByRef(Rtl::varInteger, &storage));
    }
    EXPECT_EQ(p.GetValue().VType(), Rtl::varInteger);
    EXPECT_EQ(p.GetAsInteger(), 5);
}

// ---- DataType changes ---------------------------------------------------------------------------

struct DesignFixture : ::testing::Test {
    DbTest::Owned<DbTest::TMemDataSet> Ds = DbTest::NewDataSet(DbTest::NumberTable(1));
    TParams Params{Ds.get()};
    TParam* P = Params.CreateParam(ftInteger, "p", ptInput);
};

TEST_F(DesignFixture, AtRunTimeChangingTheTypeDiscardsTheValue) {
    P->SetAsInteger(5);
    P->SetDataType(ftString);
    EXPECT_TRUE(P->IsNull());
    EXPECT_EQ(P->GetDataType(), ftString);
}

struct DesignCase {
    const char* Label;
    Variant Value;
    TFieldType NewType;
    bool Kept;
    TVarType Kind;
};

class DesignTimeTypeChange : public DesignFixture, public ::testing::WithParamInterface<DesignCase> {};

TEST_P(DesignTimeTypeChange, ConvertsWhenPossibleElseClears) {
    const DesignCase& c = GetParam();
    P->SetValue(c.Value);
    Ds->SetDesigning(true);
    P->SetDataType(c.NewType);
    EXPECT_EQ(P->GetDataType(), c.NewType);
    EXPECT_EQ(!P->IsNull(), c.Kept);
    if (c.Kept) {
        EXPECT_EQ(P->GetValue().VType(), c.Kind);
        EXPECT_TRUE(P->GetValue() == Rtl::VarAsType(c.Value, c.Kind));
    }
}

const DesignCase kDesign[] = {
    {"IntegerToString", Variant(5), ftString, true, Rtl::varOleStr},
    {"StringToInteger", Variant("42"), ftInteger, true, Rtl::varInteger},
    {"TextToInteger", Variant("abc"), ftInteger, false, 0},
    {"IntegerToWord", Variant(7), ftWord, true, Rtl::varSmallint},
    {"IntegerToBCD", Variant(7), ftBCD, true, Rtl::varCurrency},
    {"FloatToDate", Variant(2.5), ftDateTime, true, Rtl::varDate},
    {"StringToBoolean", Variant("True"), ftBoolean, true, Rtl::varBoolean},
    {"KeptAsVariant", Variant(9), ftVariant, true, Rtl::varInteger},
    {"ToLargeint", Variant(9), ftLargeint, false, 0},
    {"ToCursor", Variant(9), ftCursor, false, 0},
    {"IntegerToInterface", Variant(9), ftInterface, false, 0},
};

INSTANTIATE_TEST_SUITE_P(Params, DesignTimeTypeChange, ::testing::ValuesIn(kDesign),
                         [](const auto& info) { return String(info.param.Label); });

TEST_F(DesignFixture, AtDesignTimeANullValueIsNotConverted) {
    Ds->SetDesigning(true);
    P->SetValue(Variant::Null());
    P->SetDataType(ftString);
    EXPECT_TRUE(P->GetValue().IsEmpty());
}

// ---- Blobs ----------------------------------------------------------------------------------------

TEST(ParamBlobs, LoadFromStreamReadsTheWholeStreamFromItsStart) {
    TParam p;
    Rtl::TStringStream s(String("ab\0cd", 5));
    s.SetPosition(3);
    p.LoadFromStream(&s, ftGraphic);
    EXPECT_EQ(p.GetDataType(), ftGraphic);
    EXPECT_EQ(p.GetValue().VType(), Rtl::varString);
    EXPECT_EQ(p.GetAsBlob(), String("ab\0cd", 5));

    Rtl::TStringStream empty;
    p.LoadFromStream(&empty, ftBlob);
    EXPECT_EQ(p.GetAsBlob(), "");
    EXPECT_TRUE(p.GetBound());
}

TEST(ParamBlobs, LoadFromFileAndSetBlobData) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("params_blob_" + std::to_string(::getpid()) + ".bin");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite("\x01\x00\x02", 1, 3, f);
        std::fclose(f);
    }
    TParam p;
    p.LoadFromFile(path.string(), ftTypedBinary);
    std::filesystem::remove(path);
    EXPECT_EQ(p.GetDataType(), ftTypedBinary);
    EXPECT_EQ(p.GetAsBlob(), String("\x01\x00\x02", 3));
    EXPECT_THROW(p.LoadFromFile(path.string(), ftBlob), Rtl::EFOpenError);
    EXPECT_EQ(p.GetAsBlob(), String("\x01\x00\x02", 3)) << "a failed load keeps the value";

    const unsigned char bytes[] = {0, 255, 7};
    p.SetBlobData(bytes, sizeof bytes);
    EXPECT_EQ(p.GetDataType(), ftBlob);
    EXPECT_EQ(p.GetAsBlob(), String("\x00\xFF\x07", 3));
}

// ---- Assignment -------------------------------------------------------------------------------------

TEST(ParamAssign, FromAnotherParameter) {
    TParam source;
    source.SetName("src");
    source.SetAsInteger(3);
    source.SetParamType(ptOutput);
    source.SetSize(4);
    source.SetPrecision(10);
    source.SetNumericScale(2);
    source.SetParamAttributes({paSigned, paNullable});

    TParam p;
    p.Assign(&source);
    EXPECT_EQ(p.GetName(), "src");
    EXPECT_EQ(p.GetDataType(), ftInteger);
    EXPECT_EQ(p.GetAsInteger(), 3);
    EXPECT_TRUE(p.GetBound());
    EXPECT_EQ(p.GetParamType(), ptOutput);
    EXPECT_EQ(p.GetSize(), 4);
    EXPECT_EQ(p.GetPrecision(), 10);
    EXPECT_EQ(p.GetNumericScale(), 2);
    EXPECT_EQ(p.GetParamAttributes(), (TParamAttributes{paSigned, paNullable}));
    EXPECT_TRUE(p.IsEqual(&source));

    // A known direction stays; a null source clears the value.
    TParam q;
    q.SetParamType(ptInput);
    q.SetAsString("old");
    source.Clear();
    q.Assign(&source);
    EXPECT_EQ(q.GetParamType(), ptInput);
    EXPECT_TRUE(q.IsNull());
    EXPECT_TRUE(q.GetValue().IsEmpty());
    EXPECT_EQ(q.GetDataType(), ftInteger);
    q.AssignParam(nullptr);  // nothing happens
    EXPECT_EQ(q.GetName(), "src");
}

TEST(ParamAssign, FromStringsTakesTheFullText) {
    Rtl::TStringList lines;
    lines.Add("one");
    lines.Add("two");
    TParam p;
    p.Assign(&lines);
    EXPECT_EQ(p.GetDataType(), ftMemo);
    EXPECT_EQ(p.GetAsMemo(), "one\r\ntwo\r\n");
}

TEST(ParamAssign, FromBitmapsAndPictures) {
    Vcl::TBitmap bitmap(3, 2);
    bitmap.SetPixel(1, 1, Vcl::RGB(10, 20, 30));
    Rtl::TMemoryStream saved;
    bitmap.SaveToStream(&saved);
    const String bytes(static_cast<const char*>(saved.Memory()), static_cast<std::size_t>(saved.GetSize()));

    TParam p;
    p.Assign(&bitmap);
    EXPECT_EQ(p.GetDataType(), ftGraphic);
    EXPECT_EQ(p.GetAsBlob(), bytes);

    Vcl::TPicture picture;
    picture.SetGraphic(&bitmap);
    TParam q;
    q.Assign(&picture);
    EXPECT_EQ(q.GetDataType(), ftGraphic);
    EXPECT_EQ(q.GetAsBlob(), bytes);

    // Reading the bytes back gives the same picture.
    Rtl::TStringStream back(q.GetAsBlob());
    Vcl::TBitmap loaded;
    loaded.LoadFromStream(&back);
    EXPECT_TRUE(loaded == bitmap);

    Vcl::TPicture none;
    EXPECT_THROW(q.Assign(&none), Rtl::EConvertError);
    EXPECT_EQ(q.GetAsBlob(), bytes) << "a refused assignment changes nothing";
}

TEST(ParamAssign, FromAnUnsupportedClassIsAConversionError) {
    TParams other;
    TParam p;
    p.SetAsInteger(1);
    EXPECT_EQ(MessageOf<Rtl::EConvertError>([&] { p.Assign(&other); }), "Cannot assign a TParams to a TParam");
    EXPECT_EQ(p.GetAsInteger(), 1);
}

struct FieldFixture : ::testing::Test {
    std::shared_ptr<DbTest::TMemTable> Table = [] {
        auto t = std::make_shared<DbTest::TMemTable>();
        t->AddColumn("Code", ftString, 4);
        t->AddColumn("Qty", ftInteger);
        t->AddColumn("Notes", ftMemo, 300);
        t->AddColumn("Short", ftMemo, 10);
        t->AddRow({Variant("AB"), Variant(12), Variant("long text"), Variant::Null()});
        return t;
    }();
    DbTest::Owned<DbTest::TMemDataSet> Ds = DbTest::NewDataSet(Table);
    void SetUp() override { Ds->Open(); }
};

TEST_F(FieldFixture, FromFieldsTakesTypeValueAndName) {
    TParam p;
    p.Assign(Ds->FieldByName("Qty"));
    EXPECT_EQ(p.GetName(), "Qty");
    EXPECT_EQ(p.GetDataType(), ftInteger);
    EXPECT_EQ(p.GetAsInteger(), 12);
    EXPECT_TRUE(p.GetBound());

    auto* code = dynamic_cast<TStringField*>(Ds->FieldByName("Code"));
    code->SetFixedChar(true);
    p.Assign(code);
    EXPECT_EQ(p.GetDataType(), ftFixedChar);
    EXPECT_EQ(p.GetAsString(), "AB");

    p.Assign(Ds->FieldByName("Notes"));
    EXPECT_EQ(p.GetDataType(), ftString) << "a memo longer than 255 goes as a string";
    EXPECT_EQ(p.GetAsString(), "long text");

    p.AssignField(Ds->FieldByName("Short"));
    EXPECT_EQ(p.GetDataType(), ftMemo);
    EXPECT_TRUE(p.IsNull());
    EXPECT_TRUE(p.GetBound()) << "a null field value still binds";

    p.AssignFieldValue(Ds->FieldByName("Qty"), Variant(99));
    EXPECT_EQ(p.GetAsInteger(), 99);
    EXPECT_EQ(p.GetName(), "Short") << "AssignFieldValue leaves the name";
    p.AssignField(nullptr);
    EXPECT_EQ(p.GetAsInteger(), 99);
}

TEST_F(FieldFixture, ToAFieldWritesTheParametersOwnValue) {
    TParam p;
    p.SetAsInteger(41);
    Ds->Edit();
    Ds->FieldByName("Qty")->Assign(&p);
    EXPECT_EQ(Ds->FieldByName("Qty")->GetAsInteger(), 41);
    p.Clear();
    Ds->FieldByName("Qty")->Assign(&p);
    EXPECT_TRUE(Ds->FieldByName("Qty")->GetIsNull());
}

// ---- Equality ---------------------------------------------------------------------------------------

TEST(ParamEquality, EveryPropertyCounts) {
    auto make = [] {
        auto p = std::make_unique<TParam>();
        p->SetName("p");
        p->SetAsInteger(1);
        p->SetParamType(ptInput);
        p->SetSize(4);
        return p;
    };
    const std::pair<const char*, std::function<void(TParam&)>> changes[] = {
        {"value", [](TParam& p) { p.SetValue(Variant(2)); }},
        {"variant kind", [](TParam& p) { p.SetValue(Variant(1.0)); }},
        {"name case", [](TParam& p) { p.SetName("P"); }},
        {"data type", [](TParam& p) { p.SetDataType(ftSmallint); p.SetValue(Variant(1)); }},
        {"bound", [](TParam& p) { p.SetBound(false); }},
        {"param type", [](TParam& p) { p.SetParamType(ptOutput); }},
        {"attributes", [](TParam& p) { p.SetParamAttributes({paLong}); }},
        {"scale", [](TParam& p) { p.SetNumericScale(1); }},
        {"precision", [](TParam& p) { p.SetPrecision(1); }},
        {"size", [](TParam& p) { p.SetSize(8); }},
    };
    auto base = make();
    EXPECT_TRUE(make()->IsEqual(base.get()));
    for (auto& [label, change] : changes) {
        auto other = make();
        change(*other);
        EXPECT_FALSE(other->IsEqual(base.get())) << label;
        EXPECT_FALSE(base->IsEqual(other.get())) << label;
    }
}

}  // namespace
