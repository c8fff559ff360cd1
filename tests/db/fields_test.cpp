// Field classes: native buffer formats, conversions, text, validation and the
// framework's messages.

#include <atomic>
#include <cstring>

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

std::shared_ptr<TMemTable> AllTypes() {
    auto t = std::make_shared<TMemTable>();
    t->AddColumn("S", ftString, 5);
    t->AddColumn("W", ftWideString, 4);
    t->AddColumn("SI", ftSmallint);
    t->AddColumn("WO", ftWord);
    t->AddColumn("I", ftInteger);
    t->AddColumn("L", ftLargeint);
    t->AddColumn("B", ftBoolean);
    t->AddColumn("F", ftFloat);
    t->AddColumn("C", ftCurrency);
    t->AddColumn("N", ftBCD, 4);
    t->AddColumn("D", ftDate);
    t->AddColumn("T", ftTime);
    t->AddColumn("DT", ftDateTime);
    t->AddColumn("BY", ftBytes, 4);
    t->AddColumn("VB", ftVarBytes, 4);
    t->AddColumn("G", ftGuid, 38);
    t->AddColumn("V", ftVariant);
    t->AddColumn("BL", ftBlob);
    t->AddColumn("M", ftMemo);
    return t;
}

struct FieldFixture : ::testing::Test {
    std::shared_ptr<TMemTable> Table = AllTypes();
    Owned<TMemDataSet> Ds = NewDataSet(Table);
    void SetUp() override {
        Ds->Open();
        Ds->Append();
    }
    TField* F(const char* name) { return Ds->FieldByName(name); }
    std::vector<Rtl::Byte> Native(const char* name) {
        TField* f = F(name);
        std::vector<Rtl::Byte> bytes(static_cast<std::size_t>(f->GetDataSize()), 0xEE);
        EXPECT_TRUE(f->GetData(bytes.data()));
        return bytes;
    }
    template <class T>
    T NativeAs(const char* name) {
        std::vector<Rtl::Byte> b = Native(name);
        EXPECT_EQ(b.size(), sizeof(T));
        T v;
        std::memcpy(&v, b.data(), sizeof v);
        return v;
    }
};

TEST_F(FieldFixture, EachTypeHasItsClassAndDataSize) {
    struct Case {
        const char* Name;
        const char* Class;
        int DataSize;
    };
    const Case cases[] = {
        {"S", "TStringField", 6},     {"W", "TWideStringField", 10}, {"SI", "TSmallintField", 2},
        {"WO", "TWordField", 2},      {"I", "TIntegerField", 4},     {"L", "TLargeintField", 8},
        {"B", "TBooleanField", 2},    {"F", "TFloatField", 8},       {"C", "TCurrencyField", 8},
        {"N", "TBCDField", 34},       {"D", "TDateField", 4},        {"T", "TTimeField", 4},
        {"DT", "TDateTimeField", 8},  {"BY", "TBytesField", 4},      {"VB", "TVarBytesField", 6},
        {"G", "TGuidField", 39},      {"V", "TVariantField", 16},    {"BL", "TBlobField", 0},
        {"M", "TMemoField", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(F(c.Name)->ClassName(), c.Class);
        EXPECT_EQ(F(c.Name)->GetDataSize(), c.DataSize);
    }
}

TEST_F(FieldFixture, ValuesTravelInTheNativeFormats) {
    TDateTime date = Rtl::EncodeDate(2024, 2, 29);
    TDateTime time = Rtl::EncodeTime(13, 45, 30, 250);
    F("S")->SetAsString("ab");
    F("SI")->SetAsInteger(-2);
    F("WO")->SetAsInteger(65535);
    F("I")->SetAsInteger(-70000);
    F("L")->SetAsLargeInt(Int64{1} << 40);
    F("B")->SetAsBoolean(true);
    F("F")->SetAsFloat(1.5);
    F("C")->SetAsFloat(2.25);
    F("N")->SetAsString("12.3456");
    F("D")->SetAsDateTime(date);
    F("T")->SetAsDateTime(time);
    F("DT")->SetAsDateTime(TDateTime(date + time));
    F("BY")->SetAsVariant(Rtl::VarArrayOf({Variant(static_cast<unsigned char>(1)), Variant(static_cast<unsigned char>(2))}));
    F("VB")->SetAsString("xyz");

    EXPECT_EQ(Native("S"), (std::vector<Rtl::Byte>{'a', 'b', 0, 0, 0, 0}));
    EXPECT_EQ(NativeAs<std::int16_t>("SI"), -2);
    EXPECT_EQ(NativeAs<std::uint16_t>("WO"), 65535);
    EXPECT_EQ(NativeAs<std::int32_t>("I"), -70000);
    EXPECT_EQ(NativeAs<Int64>("L"), Int64{1} << 40);
    EXPECT_EQ(NativeAs<std::int16_t>("B"), 1);
    EXPECT_EQ(NativeAs<double>("F"), 1.5);
    EXPECT_EQ(NativeAs<double>("C"), 2.25);
    EXPECT_EQ(Rtl::BcdToStr(NativeAs<Rtl::TBcd>("N")), "12.3456");
    // Day number: days since 1 January 0001 plus one, i.e. the date value + 693594.
    EXPECT_EQ(NativeAs<std::int32_t>("D"), static_cast<int>(date.Value) + 693594);
    EXPECT_EQ(NativeAs<std::int32_t>("T"), ((13 * 60 + 45) * 60 + 30) * 1000 + 250);
    EXPECT_EQ(NativeAs<double>("DT"), (date.Value + 693594) * 86400000.0 + 49530250.0);
    EXPECT_EQ(Native("BY"), (std::vector<Rtl::Byte>{1, 2, 0, 0}));
    EXPECT_EQ(Native("VB"), (std::vector<Rtl::Byte>{3, 0, 'x', 'y', 'z', 0}));

    // Through the table and back.
    Ds->Post();
    Ds->Close();
    Ds->Open();
    EXPECT_EQ(F("S")->GetAsString(), "ab");
    EXPECT_EQ(F("SI")->GetAsInteger(), -2);
    EXPECT_EQ(F("WO")->GetAsInteger(), 65535);
    EXPECT_EQ(F("I")->GetAsInteger(), -70000);
    EXPECT_EQ(F("L")->GetAsLargeInt(), Int64{1} << 40);
    EXPECT_TRUE(F("B")->GetAsBoolean());
    EXPECT_EQ(F("C")->GetAsFloat(), 2.25);
    EXPECT_EQ(F("N")->GetAsCurrency(), Currency::FromScaled(123456));
    EXPECT_EQ(F("D")->GetAsDateTime().Value, date.Value);
    EXPECT_DOUBLE_EQ(F("T")->GetAsDateTime().Value, time.Value);
    EXPECT_DOUBLE_EQ(F("DT")->GetAsDateTime().Value, date.Value + time.Value);
    EXPECT_EQ(F("BY")->GetAsString(), String("\x01\x02\x00\x00", 4));
    EXPECT_EQ(F("VB")->GetAsString(), "xyz");
}

TEST_F(FieldFixture, VariantsHaveTheKindOfTheirField) {
    F("S")->SetAsString("x");
    F("W")->SetAsString("y");
    F("SI")->SetAsInteger(1);
    F("L")->SetAsInteger(1);
    F("B")->SetAsBoolean(false);
    F("F")->SetAsFloat(1);
    F("N")->SetAsInteger(1);
    F("D")->SetAsDateTime(Rtl::EncodeDate(2000, 1, 1));
    F("BY")->SetAsString("ab");
    struct Case {
        const char* Name;
        Rtl::TVarType Kind;
    };
    const Case cases[] = {{"S", Rtl::varString},  {"W", Rtl::varOleStr},   {"SI", Rtl::varInteger},
                          {"L", Rtl::varInt64},   {"B", Rtl::varBoolean},  {"F", Rtl::varDouble},
                          {"N", Rtl::varCurrency}, {"D", Rtl::varDate},    {"BY", Rtl::varArray | Rtl::varByte},
                          {"I", Rtl::varNull}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(F(c.Name)->GetAsVariant().VType(), c.Kind);
    }
}

TEST_F(FieldFixture, TextIsCutToTheFieldSizeOnWholeCharacters) {
    F("S")->SetAsString("h\xC3\xA9llo");  // six bytes, five characters
    EXPECT_EQ(F("S")->GetAsString(), "h\xC3\xA9ll");
    F("S")->SetAsString("\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(F("S")->GetAsString(), "\xC3\xA9\xC3\xA9");
    F("W")->SetAsWideString(u"abc\U0001F600");
    EXPECT_EQ(F("W")->GetAsWideString(), u"abc");
    F("W")->SetAsWideString(u"a\U0001F600b");
    EXPECT_EQ(F("W")->GetAsWideString(), u"a\U0001F600b");
    EXPECT_EQ(F("W")->GetAsString(), "a\xF0\x9F\x98\x80" "b");
}

TEST_F(FieldFixture, BadTextAndRangesAreRefusedWithTheValueNamed) {
    static_cast<TBooleanField*>(F("B"))->SetDisplayValues("Yes;No");
    struct Case {
        const char* Field;
        const char* Text;
        const char* Message;
    };
    const Case cases[] = {
        {"I", "abc", "'abc' is not a valid integer value"},
        {"L", "12x", "'12x' is not a valid integer value"},
        {"SI", "40000", "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
        {"WO", "-1", "-1 is not a valid value for field 'WO'. The allowed range is 0 to 65535"},
        {"I", "9999999999", "9999999999 is not a valid value for field 'I'. The allowed range is -2147483648 to 2147483647"},
        {"F", "1,5", "'1,5' is not a valid floating point value"},
        {"N", "one", "'one' is not a valid floating point value"},
        {"B", "maybe", "'maybe' is not a valid boolean value"},
        {"D", "2024-13-01", "'2024-13-01' is not a valid date"},
        {"G", "{nope}", "'{nope}' is not a valid GUID value"},
        {"BY", "12345", "Invalid variant type or size for field 'BY'"},
        {"VB", "12345", "Invalid variant type or size for field 'VB'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Field) + " <- " + c.Text);
        F(c.Field)->Clear();
        EXPECT_EQ(MessageOf([&] { F(c.Field)->SetText(c.Text); }), c.Message);
        // Nothing was stored.
        EXPECT_TRUE(F(c.Field)->GetIsNull());
    }
}

TEST_F(FieldFixture, ConversionsAFieldDoesNotHaveAreNamed) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("D")->GetAsBoolean(); }), "Cannot access field 'D' as type Boolean");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("B")->SetAsDateTime(TDateTime(1)); }),
              "Cannot access field 'B' as type DateTime");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("BY")->GetAsInteger(); }), "Cannot access field 'BY' as type Integer");
}

TEST_F(FieldFixture, MinAndMaxValuesNarrowTheRange) {
    auto* i = static_cast<TIntegerField*>(F("I"));
    i->SetMinValue(1);
    i->SetMaxValue(10);
    EXPECT_EQ(MessageOf([&] { i->SetAsInteger(11); }),
              "11 is not a valid value for field 'I'. The allowed range is 1 to 10");
    i->SetAsInteger(10);
    auto* f = static_cast<TFloatField*>(F("F"));
    f->SetMaxValue(2.5);
    EXPECT_EQ(MessageOf([&] { f->SetAsFloat(3); }), "3 is not a valid value for field 'F'. The allowed range is 0 to 2.5");
}

TEST(BcdFields, ScaleRoundsAndPrecisionBounds) {
    auto table = std::make_shared<TMemTable>();
    table->AddColumn("N", ftBCD, 2);
    table->Columns[0].Precision = 5;
    auto ds = NewDataSet(table);
    ds->Open();
    ds->Append();
    auto* n = static_cast<TBCDField*>(ds->FieldByName("N"));
    EXPECT_EQ(n->GetSize(), 2);
    EXPECT_EQ(n->GetPrecision(), 5);
    n->SetAsString("123.455");  // two places, half away from zero
    EXPECT_EQ(n->GetAsString(), "123.46");
    n->SetAsFloat(-0.005);
    EXPECT_EQ(n->GetAsString(), "-0.01");
    EXPECT_EQ(MessageOf([&] { n->SetAsString("1234.5"); }), "Value of field 'N' is out of range");
    EXPECT_EQ(n->GetAsString(), "-0.01");
    n->SetMaxValue(Currency(100));
    EXPECT_EQ(MessageOf([&] { n->SetAsInteger(101); }), "101 is not a valid value for field 'N'. The allowed range is 0 to 100");
    EXPECT_EQ(Rtl::BcdToStr(n->GetAsBCD()), "-0.01");
}

TEST_F(FieldFixture, BooleansReadTheirDisplayValues) {
    auto* b = static_cast<TBooleanField*>(F("B"));
    b->SetAsString("t");
    EXPECT_TRUE(b->GetAsBoolean());
    EXPECT_EQ(b->GetAsString(), "True");
    b->SetDisplayValues("Ja;Nein");
    b->SetAsString("nE");
    EXPECT_FALSE(b->GetAsBoolean());
    EXPECT_EQ(b->GetDisplayText(), "Nein");
    // An empty text for false makes the empty string mean false.
    b->SetDisplayValues("On;");
    b->SetAsString("");
    EXPECT_FALSE(b->GetIsNull());
    EXPECT_FALSE(b->GetAsBoolean());
}

TEST_F(FieldFixture, DisplayAndEditTexts) {
    F("F")->SetAsFloat(1.5);
    static_cast<TFloatField*>(F("F"))->SetCurrency(true);
    EXPECT_EQ(F("F")->GetDisplayText(), "$1.50");
    EXPECT_EQ(F("F")->GetText(), "1.5");
    F("D")->SetAsString("2024-02-29");
    static_cast<TDateTimeField*>(F("D"))->SetDisplayFormat("dd.mm.yyyy");
    EXPECT_EQ(F("D")->GetDisplayText(), "29.02.2024");
    EXPECT_EQ(F("D")->GetText(), "2024-02-29");
    EXPECT_EQ(F("BL")->GetDisplayText(), "(blob)");
    F("M")->SetAsString("note");
    EXPECT_EQ(F("M")->GetDisplayText(), "(MEMO)");
    EXPECT_EQ(F("M")->GetText(), "note");
    EXPECT_EQ(F("I")->GetDisplayText(), "");

    F("I")->OnGetText = [](TField* f, String& text, bool display) {
        text = display ? "#" + f->GetAsString() : f->GetAsString();
    };
    F("I")->OnSetText = [](TField* f, const String& text) { f->SetAsInteger(static_cast<int>(text.size())); };
    F("I")->SetText("four");
    EXPECT_EQ(F("I")->GetDisplayText(), "#4");
    EXPECT_EQ(F("I")->GetText(), "4");
}

TEST_F(FieldFixture, ValidateSeesTheNewValueAndMayRefuseIt) {
    std::vector<String> seen;
    F("I")->SetAsInteger(1);
    F("I")->OnValidate = [&](TField* f) {
        seen.push_back(f->GetAsString() + (f->GetValidating() ? "?" : ""));
        if (f->GetAsInteger() < 0) DatabaseError("negative");
    };
    F("I")->SetAsInteger(5);
    EXPECT_EQ(MessageOf([&] { F("I")->SetAsInteger(-5); }), "negative");
    EXPECT_EQ(F("I")->GetAsInteger(), 5);
    F("I")->Clear();
    EXPECT_EQ(Join(seen), "5? -5? ?");
    EXPECT_TRUE(F("I")->GetIsNull());

    // Dates are validated in the form the field works with, and in native form on request.
    TDateTime seenDate;
    std::int32_t seenDay = 0;
    F("D")->OnValidate = [&](TField* f) {
        seenDate = f->GetAsDateTime();
        f->GetData(&seenDay, true);
    };
    F("D")->SetAsDateTime(Rtl::EncodeDate(2001, 1, 1));
    EXPECT_EQ(seenDate.Value, Rtl::EncodeDate(2001, 1, 1).Value);
    EXPECT_EQ(seenDay, static_cast<int>(Rtl::EncodeDate(2001, 1, 1).Value) + 693594);
}

TEST_F(FieldFixture, ChangeFiresAfterTheValueIsInPlace) {
    std::vector<String> log;
    F("S")->OnChange = [&](TField* f) { log.push_back(f->GetAsString()); };
    F("S")->SetAsString("one");
    F("S")->Clear();
    EXPECT_EQ(Join(log, ","), "one,");
    EXPECT_TRUE(Ds->GetModified());
}

TEST_F(FieldFixture, GuidsVariantsAndNulls) {
    Rtl::GUID g{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    auto* gf = static_cast<TGuidField*>(F("G"));
    gf->SetAsGuid(g);
    EXPECT_EQ(gf->GetAsString(), "{12345678-9ABC-DEF0-0102-030405060708}");
    EXPECT_TRUE(gf->GetAsGuid() == g);
    F("V")->SetAsVariant(Variant("text"));
    EXPECT_EQ(F("V")->GetAsString(), "text");
    F("V")->SetAsFloat(2.5);
    EXPECT_EQ(F("V")->GetAsVariant().VType(), Rtl::varDouble);
    F("V")->SetAsVariant(Variant::Null());
    EXPECT_TRUE(F("V")->GetIsNull());
    Ds->Post();
    EXPECT_EQ(Rtl::VarToStr(Table->Rows[0].Values[15]), "{12345678-9ABC-DEF0-0102-030405060708}");
    EXPECT_TRUE(Table->Rows[0].Values[16].IsNull());
}

// A counted object, to see that record buffers keep and release references.
struct Counted final : Rtl::IUnknown {
    std::atomic<int> Refs{1};
    Rtl::HRESULT QueryInterface(const Rtl::GUID&, void** obj) override {
        *obj = this;
        AddRef();
        return 0;
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++Refs); }
    std::uint32_t Release() override { return static_cast<std::uint32_t>(--Refs); }
};

TEST(InterfaceFields, BuffersHoldTheirOwnReferences) {
    Counted object;
    auto table = std::make_shared<TMemTable>();
    table->AddColumn("U", ftInterface);
    table->AddColumn("X", ftIDispatch);
    {
        auto ds = NewDataSet(table);
        ds->Open();
        ds->Append();
        auto* u = static_cast<TInterfaceField*>(ds->FieldByName("U"));
        u->SetAsInterface(&object);
        EXPECT_EQ(u->GetAsInterface(), &object);
        EXPECT_EQ(u->GetAsVariant().VType(), Rtl::varUnknown);
        EXPECT_GT(object.Refs.load(), 1);
        ds->FieldByName("X")->SetAsVariant(Variant::FromDispatch(&object));
        EXPECT_EQ(ds->FieldByName("X")->GetAsVariant().VType(), Rtl::varDispatch);
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { u->SetAsVariant(Variant(1)); }), "Invalid value for field 'U'");
        ds->Post();
    }
    table->Rows.clear();
    EXPECT_EQ(object.Refs.load(), 1);
}

}  // namespace
