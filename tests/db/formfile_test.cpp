// Persistent fields in form files: written inside their dataset, read back
// with their properties, in place before the dataset opens.

#include "Platform/vcl/Classes.h"
#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

struct FormFixture : ::testing::Test {
    std::shared_ptr<TMemTable> Table = NumberTable(3);
    Vcl::TEventHandlers Handlers;
    void SetUp() override {
        Vcl::RegisterClasses({&Vcl::TDataModule::StaticClass(), &TMemDataSet::StaticClass()});
        TMemTable::Register("Numbers", Table);
        Handlers.Add<TDataSetNotifyEvent>("NumbersCalcFields", [](TDataSet* d) {
            d->FieldByName("Twice")->SetAsInteger(d->FieldByName("Qty")->GetAsInteger() * 2);
        });
    }
    void TearDown() override { TMemTable::Register("Numbers", nullptr); }

    // A module with a dataset, its persistent fields and a data source, built in code.
    Owned<Vcl::TDataModule> Build() {
        Owned<Vcl::TDataModule> dm(new Vcl::TDataModule(nullptr));
        dm->SetName("Module");
        auto* ds = new TMemDataSet(dm.get());
        ds->SetName("Numbers");
        ds->SetTableName("Numbers");
        auto add = [&](TField* f, const char* component, const char* field) {
            f->SetName(component);
            f->SetFieldName(field);
            f->SetDataSet(ds);
            return f;
        };
        add(new TAutoIncField(dm.get()), "NumbersID", "ID")->SetReadOnly(true);
        auto* name = static_cast<TStringField*>(add(new TStringField(dm.get()), "NumbersName", "Name"));
        name->SetDisplayLabel("Label");
        name->SetRequired(true);
        auto* qty = static_cast<TIntegerField*>(add(new TIntegerField(dm.get()), "NumbersQty", "Qty"));
        qty->SetMaxValue(1000);
        auto* twice = new TIntegerField(dm.get());
        twice->SetFieldKind(fkCalculated);
        add(twice, "NumbersTwice", "Twice");
        ds->OnCalcFields = Vcl::NamedEvent<void(TDataSet*)>(
            "NumbersCalcFields", [](TDataSet* d) {
                d->FieldByName("Twice")->SetAsInteger(d->FieldByName("Qty")->GetAsInteger() * 2);
            });
        auto* src = new TDataSource(dm.get());
        src->SetName("NumbersSource");
        src->SetDataSet(ds);
        ds->SetActive(true);
        return dm;
    }
};

TEST_F(FormFixture, FieldsAreWrittenInsideTheirDataSet) {
    auto dm = Build();
    String text = Vcl::ComponentToText(dm.get());
    const char* expected[] = {
        "object Numbers: TMemDataSet",
        "    Active = True",
        "    OnCalcFields = NumbersCalcFields",
        "    object NumbersID: TAutoIncField",
        "      FieldName = 'ID'",
        "      ReadOnly = True",
        "    object NumbersName: TStringField",
        "      DisplayLabel = 'Label'",
        "      Required = True",
        "    object NumbersTwice: TIntegerField",
        "      FieldKind = fkCalculated",
        "      MaxValue = 1000",
        "  object NumbersSource: TDataSource",
        "    DataSet = Numbers",
    };
    for (const char* line : expected) EXPECT_NE(text.find(line), String::npos) << line << "\n" << text;
    // Defaults and positions are not written.
    EXPECT_EQ(text.find("Index ="), String::npos) << text;
    EXPECT_EQ(text.find("Size = 20"), String::npos) << text;
    EXPECT_EQ(text.find("Visible"), String::npos) << text;
}

TEST_F(FormFixture, ReadingGivesTheSameFieldsBeforeTheDataSetOpens) {
    String text = Vcl::ComponentToText(Build().get());
    Owned<Vcl::TComponent> root(Vcl::ReadComponentFromText(text, nullptr, &Handlers));
    auto* ds = dynamic_cast<TMemDataSet*>(root->FindComponent("Numbers"));
    ASSERT_NE(ds, nullptr);
    EXPECT_TRUE(ds->GetActive());
    EXPECT_FALSE(ds->GetDefaultFields());
    ASSERT_EQ(ds->GetFieldCount(), 4);
    EXPECT_EQ(ds->GetFields()->GetField(0)->GetName(), "NumbersID");
    TField* name = ds->FieldByName("Name");
    EXPECT_EQ(name->GetOwner(), root.get());
    EXPECT_EQ(name->GetDisplayLabel(), "Label");
    EXPECT_TRUE(name->GetRequired());
    EXPECT_EQ(static_cast<TIntegerField*>(ds->FieldByName("Qty"))->GetMaxValue(), 1000);
    EXPECT_EQ(ds->FieldByName("Twice")->GetAsInteger(), 20);
    auto* src = dynamic_cast<TDataSource*>(root->FindComponent("NumbersSource"));
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->GetDataSet(), ds);
    EXPECT_EQ(Vcl::ComponentToText(root.get()), text);
}

TEST_F(FormFixture, AFieldWithoutANameIsRefusedAndNothingIsLeftBehind) {
    const char* text =
        "object Module: TDataModule\n"
        "  object Numbers: TMemDataSet\n"
        "    TableName = 'Numbers'\n"
        "    object NumbersQty: TIntegerField\n"
        "    end\n"
        "  end\n"
        "end\n";
    EXPECT_NE(MessageOf([&] { Vcl::ReadComponentFromText(text, nullptr, &Handlers); }).find("Field name missing"),
              std::string::npos);
}

TEST_F(FormFixture, AnOpenFailureIsShownAtDesignTimeAndRaisedAtRunTime) {
    const char* text =
        "object Module: TDataModule\n"
        "  object Numbers: TMemDataSet\n"
        "    Active = True\n"
        "    TableName = 'Numbers'\n"
        "    object NumbersQty: TStringField\n"
        "      FieldName = 'Qty'\n"
        "    end\n"
        "  end\n"
        "end\n";
    const std::string mismatch = "Numbers: Type mismatch for field 'Qty', expecting: String actual: Integer";
    EXPECT_NE(MessageOf([&] { Vcl::ReadComponentFromText(text, nullptr, &Handlers); }).find(mismatch),
              std::string::npos);

    Owned<Vcl::TDataModule> root(new Vcl::TDataModule(nullptr));
    root->SetDesigning(true);
    Vcl::ReadComponentFromText(text, root.get(), &Handlers);
    auto* ds = dynamic_cast<TMemDataSet*>(root->FindComponent("Numbers"));
    ASSERT_NE(ds, nullptr);
    EXPECT_FALSE(ds->GetActive());
    ASSERT_EQ(ds->HandledErrors.size(), 1u);
    EXPECT_EQ(ds->HandledErrors[0], mismatch);
}

}  // namespace
