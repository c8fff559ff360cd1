// Temporary states: old, current and new values, filters and the state
// seen by data sources.

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

TEST(StateValues, OldCurrentAndNewValuesComeFromTheirOwnRecords) {
    auto table = NumberTable(3);
    auto mine = NewDataSet(table, "Mine");
    auto theirs = NewDataSet(table, "Theirs");
    mine->Open();
    theirs->Open();
    TField* qty = mine->FieldByName("Qty");
    EXPECT_EQ(qty->GetOldValue().ToInteger(), 10);  // browsing: the stored value

    mine->Edit();
    qty->SetAsInteger(11);
    // Someone else changes the same row meanwhile.
    theirs->Edit();
    theirs->FieldByName("Qty")->SetAsInteger(12);
    theirs->Post();

    EXPECT_EQ(qty->GetOldValue().ToInteger(), 10);  // as the edit began
    EXPECT_EQ(qty->GetCurValue().ToInteger(), 12);  // as the table holds it now
    EXPECT_EQ(qty->GetNewValue().ToInteger(), 11);  // as edited
    EXPECT_EQ(qty->GetAsInteger(), 11);
    EXPECT_EQ(mine->GetState(), dsEdit);

    // A new value written directly changes the edit without a field change.
    std::vector<String> log;
    Linked link(mine.get(), 1, &log);
    qty->SetNewValue(Variant(13));
    EXPECT_EQ(qty->GetAsInteger(), 13);
    EXPECT_EQ(Join(log), "Active Editing");

    mine->Post();
    EXPECT_EQ(qty->GetOldValue().ToInteger(), 13);
    mine->Insert();
    EXPECT_TRUE(qty->GetOldValue().IsNull());  // a new record has no old values
    mine->Cancel();
}

TEST(StateValues, CalculatedFieldsHaveNoOldValue) {
    auto ds = NewDataSet(NumberTable(1));
    ds->GetFieldDefs()->Update();
    for (int i = 0; i < ds->GetFieldDefs()->Count(); ++i) ds->GetFieldDefs()->GetItem(i)->CreateField(ds.get());
    auto* calc = new TStringField(ds.get());
    calc->SetFieldName("Label");
    calc->SetFieldKind(fkCalculated);
    calc->SetDataSet(ds.get());
    ds->OnCalcFields = [](TDataSet* d) { d->FieldByName("Label")->SetAsString("L"); };
    ds->Open();
    EXPECT_EQ(calc->GetAsString(), "L");
    EXPECT_TRUE(calc->GetOldValue().IsNull());
}

TEST(StateValues, DataSourcesFollowTheStateButNotTemporaryOnes) {
    auto ds = NewDataSet(NumberTable(2));
    auto source = Owned<TDataSource>(new TDataSource(nullptr));
    std::vector<String> log;
    source->OnStateChange = [&](Rtl::TObject*) { log.push_back("State" + Rtl::IntToStr(source->GetState())); };
    source->OnDataChange = [&](Rtl::TObject*, TField* f) { log.push_back(f ? "Data(" + f->GetFieldName() + ")" : "Data"); };
    source->OnUpdateData = [&](Rtl::TObject*) { log.push_back("Update"); };
    source->SetDataSet(ds.get());
    ds->Open();
    ds->Edit();
    ds->FieldByName("Qty")->GetOldValue();
    ds->FieldByName("Qty")->SetAsInteger(5);
    ds->Post();
    source->SetEnabled(false);
    ds->Next();
    source->SetEnabled(true);
    ds->Close();
    EXPECT_EQ(Join(log), "State1 Data State2 Data Data(Qty) Update State1 Data State0 State1 Data State0");
}

TEST(Filters, OnFilterRecordDecidesWhichRecordsExist) {
    auto ds = NewDataSet(NumberTable(6));
    std::vector<TDataSetState> states;
    ds->OnFilterRecord = [&](TDataSet* d, bool& accept) {
        states.push_back(d->GetState());
        accept = d->FieldByName("Qty")->GetAsInteger() % 20 == 0;
    };
    Linked grid(ds.get(), 5);
    ds->Open();
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name1, Name2, Name3, Name4, Name5");
    ds->SetFiltered(true);
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name2, Name4, Name6");
    for (TDataSetState s : states) EXPECT_EQ(s, dsFilter);
    ds->Last();
    EXPECT_EQ(ds->FieldByName("Name")->GetAsString(), "Name6");
    ds->Prior();
    EXPECT_EQ(ds->FieldByName("Name")->GetAsString(), "Name4");
    ds->SetFiltered(false);
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name1, Name2, Name3, Name4, Name5");
}

TEST(Filters, FilterPropertiesAreKept) {
    auto ds = NewDataSet(NumberTable(3));
    ds->SetFilter("Qty > 10");
    ds->SetFilterOptions({foCaseInsensitive});
    EXPECT_EQ(ds->GetFilter(), "Qty > 10");
    EXPECT_TRUE(ds->GetFilterOptions().Contains(foCaseInsensitive));
    EXPECT_FALSE(ds->GetFiltered());
}

}  // namespace
