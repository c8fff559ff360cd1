// Calculated and lookup fields, Locate and Lookup, field lists and values.

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

// Persistent fields for every column, then the extra fields the test adds.
void CreatePersistentFields(TDataSet* ds) {
    ds->GetFieldDefs()->Update();
    for (int i = 0; i < ds->GetFieldDefs()->Count(); ++i) ds->GetFieldDefs()->GetItem(i)->CreateField(ds);
}

template <class F>
F* AddField(TDataSet* ds, const char* name, TFieldKind kind) {
    auto* f = new F(ds);
    f->SetFieldName(name);
    f->SetFieldKind(kind);
    f->SetDataSet(ds);
    return f;
}

TEST(CalculatedFields, FollowEveryRecordAndEveryChange) {
    auto table = NumberTable(4);
    auto ds = NewDataSet(table);
    CreatePersistentFields(ds.get());
    auto* twice = AddField<TIntegerField>(ds.get(), "Twice", fkCalculated);
    std::vector<TDataSetState> states;
    ds->OnCalcFields = [&](TDataSet* d) {
        states.push_back(d->GetState());
        d->FieldByName("Twice")->SetAsInteger(d->FieldByName("Qty")->GetAsInteger() * 2);
    };
    Linked grid(ds.get(), 3);
    ds->Open();
    EXPECT_EQ(Join(grid.Link->Window("Twice"), ","), ">20, 40, 60");
    EXPECT_EQ(twice->GetFieldNo(), -1);
    for (TDataSetState s : states) EXPECT_EQ(s, dsCalcFields);

    ds->Edit();
    ds->FieldByName("Qty")->SetAsInteger(7);
    EXPECT_EQ(twice->GetAsInteger(), 14);
    ds->SetAutoCalcFields(false);
    ds->FieldByName("Qty")->SetAsInteger(8);
    EXPECT_EQ(twice->GetAsInteger(), 14);  // not until the record is read again
    ds->Post();
    EXPECT_EQ(twice->GetAsInteger(), 16);
    // Calculated values never reach the table.
    EXPECT_EQ(table->Rows[0].Values.size(), 3u);
    // ... nor can anyone but OnCalcFields write them.
    ds->OnCalcFields = nullptr;
    ds->Close();
    ds->Open();
    EXPECT_TRUE(twice->GetIsNull());
}

TEST(CalculatedFields, SomeTypesCannotBeCalculated) {
    auto ds = NewDataSet(NumberTable(1));
    struct Case {
        TField* Field;
        const char* Message;
    };
    auto* memo = new TMemoField(ds.get());
    memo->SetFieldName("Notes");
    auto* variant = new TVariantField(ds.get());
    variant->SetFieldName("Any");
    for (TField* f : {static_cast<TField*>(memo), static_cast<TField*>(variant)}) {
        EXPECT_EQ(MessageOf<EDatabaseError>([&] { f->SetFieldKind(fkCalculated); }),
                  "Field '" + f->GetFieldName() + "' cannot be a calculated or lookup field");
        EXPECT_EQ(f->GetFieldKind(), fkData);
    }
}

struct LookupFixture : ::testing::Test {
    std::shared_ptr<TMemTable> Customers = std::make_shared<TMemTable>();
    std::shared_ptr<TMemTable> Orders = std::make_shared<TMemTable>();
    Owned<TMemDataSet> Cust, Ord;
    TStringField* Customer = nullptr;
    void SetUp() override {
        Customers->AddColumn("CID", ftInteger);
        Customers->AddColumn("CName", ftString, 20);
        Customers->AddColumn("Region", ftString, 10);
        Customers->AddRow({Variant(1), Variant("Ada"), Variant("North")});
        Customers->AddRow({Variant(2), Variant("Bob"), Variant("South")});
        Customers->AddRow({Variant(3), Variant("Cy"), Variant("North")});
        Orders->AddColumn("OID", ftInteger);
        Orders->AddColumn("CustID", ftInteger);
        for (int i = 1; i <= 4; ++i) Orders->AddRow({Variant(i), Variant(i == 4 ? 9 : i)});
        Cust = NewDataSet(Customers, "Customers");
        Ord = NewDataSet(Orders, "Orders");
        CreatePersistentFields(Ord.get());
        Customer = AddField<TStringField>(Ord.get(), "Customer", fkLookup);
        Customer->SetKeyFields("CustID");
        Customer->SetLookupDataSet(Cust.get());
        Customer->SetLookupKeyFields("CID");
        Customer->SetLookupResultField("CName");
    }
};

TEST_F(LookupFixture, ShowTheValueFoundInTheOtherDataSet) {
    Linked grid(Ord.get(), 4);
    Ord->Open();
    EXPECT_TRUE(Cust->GetActive());  // opened for the lookup
    EXPECT_EQ(Join(grid.Link->Window("Customer"), ","), ">Ada, Bob, Cy, ");
    Ord->Edit();
    Ord->FieldByName("CustID")->SetAsInteger(3);
    EXPECT_EQ(Customer->GetAsString(), "Cy");
    Ord->Cancel();
    EXPECT_EQ(Customer->GetAsString(), "Ada");
    // Looking values up does not move the other dataset.
    EXPECT_EQ(Cust->FieldByName("CName")->GetAsString(), "Ada");
}

TEST_F(LookupFixture, IncompleteInformationKeepsTheDataSetClosed) {
    Customer->SetLookupResultField("");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ord->Open(); }),
              "Lookup information for field 'Customer' is incomplete");
    EXPECT_FALSE(Ord->GetActive());
    Customer->SetLookupResultField("Nope");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ord->Open(); }), "Customers: Field 'Nope' not found");
    EXPECT_FALSE(Ord->GetActive());
    Customer->SetLookupResultField("CName");
    Customer->SetKeyFields("CustID;Missing");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ord->Open(); }), "Orders: Field 'Missing' not found");
}

TEST_F(LookupFixture, ForgetsALookupDataSetThatIsFreed) {
    Cust.reset();
    EXPECT_EQ(Customer->GetLookupDataSet(), nullptr);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ord->Open(); }),
              "Lookup information for field 'Customer' is incomplete");
}

TEST_F(LookupFixture, LocateAndLookupSearchWithTheirOptions) {
    Cust->Open();
    struct Case {
        const char* Keys;
        Variant Values;
        TLocateOptions Options;
        bool Found;
        const char* Name;  // where the cursor is afterwards
    };
    const Case cases[] = {
        {"CName", Variant("Bob"), {}, true, "Bob"},
        {"CName", Variant("bob"), {}, false, "Bob"},
        {"CName", Variant("bob"), {loCaseInsensitive}, true, "Bob"},
        {"CName", Variant("C"), {loPartialKey}, true, "Cy"},
        {"Region;CName", Rtl::VarArrayOf({Variant("North"), Variant("Cy")}), {}, true, "Cy"},
        {"Region;CName", Rtl::VarArrayOf({Variant("South"), Variant("Cy")}), {}, false, "Cy"},
        {"CID", Variant(1), {}, true, "Ada"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Keys);
        EXPECT_EQ(Cust->Locate(c.Keys, c.Values, c.Options), c.Found);
        EXPECT_EQ(Cust->GetFound(), c.Found);
        EXPECT_EQ(Cust->FieldByName("CName")->GetAsString(), c.Name);
    }
    Variant both = Cust->Lookup("CID", Variant(2), "CName;Region");
    EXPECT_EQ(Rtl::VarToStr(both.GetElement(0)), "Bob");
    EXPECT_EQ(Rtl::VarToStr(both.GetElement(1)), "South");
    EXPECT_TRUE(Cust->Lookup("CID", Variant(7), "CName").IsNull());
    EXPECT_EQ(Cust->FieldByName("CName")->GetAsString(), "Ada");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Cust->Locate("Nope", Variant(1), {}); }),
              "Customers: Field 'Nope' not found");
}

TEST_F(LookupFixture, FieldListsAndFieldValues) {
    Cust->Open();
    std::vector<TField*> list;
    Cust->GetFieldList(list, " CName ; CID;");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->GetFieldName(), "CName");
    EXPECT_EQ(list[1]->GetFieldName(), "CID");
    Variant values = Cust->GetFieldValues("CID;CName");
    EXPECT_EQ(values.GetElement(0).ToInteger(), 1);
    EXPECT_EQ(Rtl::VarToStr(Cust->GetFieldValues("Region")), "North");
    Cust->Edit();
    Cust->SetFieldValues("CName;Region", Rtl::VarArrayOf({Variant("Ann"), Variant("East")}));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Cust->SetFieldValues("CName;Region", Variant("x")); }),
              "Customers: 1 values given for 2 fields");
    Cust->Post();
    EXPECT_EQ(Rtl::VarToStr(Customers->Rows[0].Values[2]), "East");
    auto names = std::make_unique<Rtl::TStringList>();
    Cust->GetFieldNames(names.get());
    EXPECT_EQ(names->GetCommaText(), "CID,CName,Region");
}

}  // namespace
