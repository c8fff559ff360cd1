// Field definitions, default and persistent fields, binding and the field list.

#include "Platform/vcl/Forms.h"
#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

TEST(FieldDefs, AreReadFromAClosedDataSetWithoutOpeningIt) {
    auto table = NumberTable(2);
    table->Columns[1].Required = true;
    auto ds = NewDataSet(table);
    std::vector<String> log;
    RecordDataSetEvents(ds.get(), &log);
    TFieldDefs* defs = ds->GetFieldDefs();
    defs->Update();
    EXPECT_FALSE(ds->GetActive());
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(defs->GetUpdated());
    ASSERT_EQ(defs->Count(), 3);
    EXPECT_EQ(defs->GetItem(1)->GetName(), "Name");
    EXPECT_EQ(defs->GetItem(1)->GetDataType(), ftString);
    EXPECT_EQ(defs->GetItem(1)->GetSize(), 20);
    EXPECT_TRUE(defs->GetItem(1)->GetRequired());
    EXPECT_EQ(defs->GetItem(2)->GetFieldNo(), 3);
    EXPECT_TRUE(defs->GetItem(0)->GetAttributes().Contains(faReadonly));
    EXPECT_EQ(defs->Find("qty"), defs->GetItem(2));
    EXPECT_EQ(defs->Find("nope"), nullptr);
    auto names = std::make_unique<Rtl::TStringList>();
    ds->GetFieldNames(names.get());
    EXPECT_EQ(names->GetCommaText(), "ID,Name,Qty");
}

TEST(FieldDefs, NamesMustBeGivenAndUnique) {
    auto ds = NewDataSet(NumberTable(0));
    TFieldDefs* defs = ds->GetFieldDefs();
    defs->Add("A", ftInteger);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { defs->Add("a", ftString, 5); }), "Data: Duplicate name 'a' in TFieldDefs");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { defs->Add("", ftString, 5); }), "Data: Field name missing");
    EXPECT_EQ(defs->Count(), 1);
    EXPECT_FALSE(defs->GetUpdated());  // changed from outside
}

TEST(FieldDefs, CreateFieldMakesTheFieldOfTheType) {
    auto ds = NewDataSet(NumberTable(0));
    TFieldDefs* defs = ds->GetFieldDefs();
    struct Case {
        TFieldType Type;
        int Size;
        const char* Class;
    };
    const Case cases[] = {{ftString, 7, "TStringField"},   {ftFixedChar, 3, "TStringField"}, {ftMemo, 0, "TMemoField"},
                          {ftOraClob, 0, "TMemoField"},    {ftAutoInc, 0, "TAutoIncField"}, {ftBCD, 2, "TBCDField"},
                          {ftVarBytes, 9, "TVarBytesField"}, {ftGuid, 38, "TGuidField"},   {ftTypedBinary, 0, "TBlobField"}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(FieldTypeIdent(c.Type));
        TFieldDef* def = defs->Add("F" + Rtl::IntToStr(n++), c.Type, c.Size);
        def->SetAttributes({faRequired, faReadonly});
        TField* f = def->CreateField(ds.get());
        EXPECT_EQ(f->ClassName(), c.Class);
        EXPECT_EQ(f->GetDataType(), c.Type);
        EXPECT_EQ(f->GetSize(), c.Size);
        EXPECT_TRUE(f->GetRequired());
        EXPECT_TRUE(f->GetReadOnly());
        EXPECT_EQ(f->GetOwner(), ds.get());
        EXPECT_EQ(f->GetDataSet(), ds.get());
    }
    EXPECT_TRUE(static_cast<TStringField*>(ds->FieldByName("F1"))->GetFixedChar());
    TFieldDef* cursor = defs->Add("Cur", ftCursor);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { cursor->CreateField(ds.get()); }), "Field 'Cur' is of an unknown type");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { defs->GetItem(0)->CreateField(ds.get()); }),
              "Data: Duplicate field name 'F0'");
}

TEST(PersistentFields, OnlyTheGivenFieldsExistAndTheyOutliveClosing) {
    auto ds = NewDataSet(NumberTable(3));
    auto* qty = new TIntegerField(ds.get());
    qty->SetFieldName("Qty");
    qty->SetDataSet(ds.get());
    ds->Open();
    EXPECT_FALSE(ds->GetDefaultFields());
    EXPECT_EQ(ds->GetFieldCount(), 1);
    EXPECT_EQ(ds->FindField("Name"), nullptr);
    EXPECT_EQ(qty->GetAsInteger(), 10);
    EXPECT_EQ(qty->GetFieldNo(), 3);
    ds->Close();
    EXPECT_EQ(ds->FindField("Qty"), qty);
    EXPECT_EQ(qty->GetFieldNo(), 0);

    // Default fields come and go with the open dataset.
    auto other = NewDataSet(NumberTable(1), "Other");
    other->Open();
    EXPECT_TRUE(other->GetDefaultFields());
    EXPECT_EQ(other->GetFieldCount(), 3);
    other->Close();
    EXPECT_EQ(other->GetFieldCount(), 0);
}

TEST(PersistentFields, BindingChecksNamesTypesAndSizes) {
    auto table = NumberTable(1);
    table->AddColumn("Raw", ftBytes, 4);
    struct Case {
        std::function<TField*(TDataSet*)> Make;
        const char* Name;
        const char* Message;
    };
    const Case cases[] = {
        {[](TDataSet* d) { return new TStringField(d); }, "Qty",
         "Data: Type mismatch for field 'Qty', expecting: String actual: Integer"},
        {[](TDataSet* d) { return new TIntegerField(d); }, "Ghost", "Data: Field 'Ghost' not found"},
        {[](TDataSet* d) {
             auto* f = new TBytesField(d);
             f->SetSize(8);
             return f;
         },
         "Raw", "Data: Size mismatch for field 'Raw', expecting: 8 actual: 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto ds = NewDataSet(table);
        TField* f = c.Make(ds.get());
        f->SetFieldName(c.Name);
        f->SetDataSet(ds.get());
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Open(); }), c.Message);
        EXPECT_FALSE(ds->GetActive());
    }
    // Related types bind: an integer field for an autoinc column; a text field
    // takes the column's width.
    auto ds = NewDataSet(table);
    auto* id = new TIntegerField(ds.get());
    id->SetFieldName("ID");
    id->SetDataSet(ds.get());
    auto* name = new TStringField(ds.get());
    name->SetFieldName("Name");
    name->SetSize(3);
    name->SetDataSet(ds.get());
    ds->Open();
    EXPECT_EQ(name->GetSize(), 20);
    EXPECT_EQ(name->GetAsString(), "Name1");
}

TEST(PersistentFields, ChangesNeedAClosedDataSet) {
    auto ds = NewDataSet(NumberTable(2));
    auto* qty = new TIntegerField(ds.get());
    qty->SetFieldName("Qty");
    qty->SetDataSet(ds.get());
    auto* loose = new TIntegerField(ds.get());
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { loose->SetDataSet(ds.get()); }), "Data: Field name missing");
    loose->SetFieldName("qty");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { loose->SetDataSet(ds.get()); }), "Data: Duplicate field name 'qty'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { loose->GetAsInteger(); }), "Field 'qty' has no dataset");
    ds->Open();
    const char* open = "Data: Cannot perform this operation on an open dataset";
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { qty->SetFieldName("Other"); }), open);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { qty->SetFieldKind(fkCalculated); }), open);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { qty->SetDataSet(nullptr); }), open);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { static_cast<TField*>(qty)->SetSize(4); }), open);
    // Freeing a field of an open dataset closes the dataset first.
    delete qty;
    EXPECT_FALSE(ds->GetActive());
    EXPECT_EQ(ds->GetFieldCount(), 0);
}

TEST(FieldList, LooksFieldsUpByNameNumberAndIndex) {
    auto ds = NewDataSet(NumberTable(1));
    ds->Open();
    TFields* fields = ds->GetFields();
    EXPECT_EQ(fields->FieldByName("name"), fields->GetField(1));
    EXPECT_EQ(fields->FieldByNumber(3)->GetFieldName(), "Qty");
    EXPECT_EQ(fields->FieldByNumber(9), nullptr);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->FieldByName("Nope"); }), "Data: Field 'Nope' not found");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { fields->GetField(3); }), "Data: Field index out of range");
    TField* qty = ds->FieldByName("Qty");
    qty->SetIndex(0);
    EXPECT_EQ(fields->GetField(0), qty);
    EXPECT_EQ(qty->GetIndex(), 0);
    EXPECT_EQ(ds->FieldByName("ID")->GetIndex(), 1);
}

TEST(FieldList, NamesAreSplitAtSemicolonsAndTrimmed) {
    struct Case {
        const char* Text;
        std::vector<String> Names;
    };
    const Case cases[] = {
        {"A;B", {"A", "B"}}, {" A ;\tB ; ", {"A", "B", ""}}, {"A;;B", {"A", "", "B"}}, {"", {}}, {";", {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        std::vector<String> names;
        String text = c.Text;
        int pos = 1;
        while (pos <= static_cast<int>(text.size())) names.push_back(ExtractFieldName(text, pos));
        EXPECT_EQ(names, c.Names);
    }
    int pos = 99;
    EXPECT_EQ(ExtractFieldName("A", pos), "");
}

TEST(Errors, DatabaseErrorsNameTheirComponent) {
    auto ds = NewDataSet(NumberTable(0), "Orders");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DatabaseError("broken", ds.get()); }), "Orders: broken");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DatabaseErrorFmt(SFieldNotFound, {"X"}, ds.get()); }),
              "Orders: Field 'X' not found");
    ds->SetName("");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DatabaseError("broken", ds.get()); }), "broken");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DatabaseError("broken"); }), "broken");
}

// The framework's own handling, which the test dataset replaces.
struct PlainHandling : TMemDataSet {
    using TMemDataSet::TMemDataSet;
    void Handle() { TDataSet::InternalHandleException(); }
};

TEST(Errors, UnhandledDataSetErrorsGoToTheApplication) {
    std::vector<std::string> shown;
    Vcl::TExceptionEvent saved = Vcl::Application->GetOnException();
    Vcl::Application->SetOnException([&](Rtl::TObject* sender, const std::exception& e) {
        shown.push_back(static_cast<Vcl::TComponent*>(sender)->GetName() + ": " + e.what());
    });
    Owned<PlainHandling> ds(new PlainHandling(nullptr));
    ds->SetName("Plain");
    try {
        DatabaseError("lost", ds.get());
    } catch (...) {
        ds->Handle();
    }
    Vcl::Application->SetOnException(saved);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Plain: Plain: lost");
}

}  // namespace
