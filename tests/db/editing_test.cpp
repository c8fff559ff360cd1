// Editing, inserting, posting, cancelling and deleting: what reaches the
// table, in which order the events and data links hear about it, and the
// error events with their actions.

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

std::vector<String> Names(const TMemTable& t) {
    std::vector<String> names;
    for (const TMemRow& r : t.Rows) names.push_back(Rtl::VarToStr(r.Values[1]));
    return names;
}

struct EditFixture : ::testing::Test {
    std::shared_ptr<TMemTable> Table = NumberTable(5);
    Owned<TMemDataSet> Ds = NewDataSet(Table);
    std::vector<String> Log;
    Linked Grid{Ds.get(), 3, &Log};
    void SetUp() override {
        Ds->Open();
        Ds->Next();
        RecordDataSetEvents(Ds.get(), &Log);
        Log.clear();
    }
    TField* F(const char* name) { return Ds->FieldByName(name); }
    String Active() { return F("Name")->GetAsString(); }
};

TEST_F(EditFixture, EventsAndLinksHearEachStepInOrder) {
    struct Case {
        const char* Name;
        std::function<void(TDataSet*)> Prepare, Act;
        const char* Expected;
    };
    auto none = [](TDataSet*) {};
    auto edit = [](TDataSet* d) { d->Edit(); };
    auto insert = [](TDataSet* d) { d->Insert(); };
    const Case cases[] = {
        {"edit", none, edit, "CheckBrowseMode BeforeEdit Editing RecordChanged AfterEdit"},
        {"assign", edit, [](TDataSet* d) { d->FieldByName("Qty")->SetAsInteger(7); }, "RecordChanged(Qty)"},
        {"post edit", edit, [](TDataSet* d) { d->Post(); },
         "UpdateData CheckBrowseMode BeforePost NotEditing DataSetChanged AfterPost"},
        {"cancel edit", edit, [](TDataSet* d) { d->Cancel(); },
         "CheckBrowseMode BeforeCancel NotEditing DataSetChanged AfterCancel"},
        {"insert", none, insert,
         "CheckBrowseMode BeforeInsert BeforeScroll Editing OnNewRecord DataSetChanged AfterInsert AfterScroll"},
        {"append", none, [](TDataSet* d) { d->Append(); },
         "CheckBrowseMode BeforeInsert BeforeScroll Editing OnNewRecord DataSetChanged AfterInsert AfterScroll"},
        {"cancel insert", insert, [](TDataSet* d) { d->Cancel(); },
         "CheckBrowseMode BeforeCancel BeforeScroll NotEditing DataSetChanged AfterCancel AfterScroll"},
        {"post insert", insert, [](TDataSet* d) { d->Post(); },
         "UpdateData CheckBrowseMode BeforePost NotEditing DataSetChanged AfterPost"},
        {"delete", none, [](TDataSet* d) { d->Delete(); },
         "CheckBrowseMode BeforeDelete BeforeScroll DataSetChanged AfterDelete AfterScroll"},
        {"delete while inserting cancels", insert, [](TDataSet* d) { d->Delete(); },
         "CheckBrowseMode BeforeCancel BeforeScroll NotEditing DataSetChanged AfterCancel AfterScroll"},
        {"scroll posts a modified edit", [](TDataSet* d) { d->Edit(); d->FieldByName("Qty")->SetAsInteger(1); },
         [](TDataSet* d) { d->Next(); },
         "CheckBrowseMode UpdateData UpdateData CheckBrowseMode BeforePost NotEditing DataSetChanged AfterPost "
         "BeforeScroll Scrolled(0) AfterScroll"},
        {"scroll cancels an unmodified edit", edit, [](TDataSet* d) { d->Next(); },
         "CheckBrowseMode UpdateData CheckBrowseMode BeforeCancel NotEditing DataSetChanged AfterCancel "
         "BeforeScroll Scrolled(0) AfterScroll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Ds->Cancel();
        Ds->First();
        Ds->Next();
        c.Prepare(Ds.get());
        Log.clear();
        c.Act(Ds.get());
        EXPECT_EQ(Join(Log), c.Expected);
    }
}

TEST_F(EditFixture, PostWritesTheRowAndStaysOnIt) {
    Ds->Edit();
    F("Qty")->SetAsInteger(222);
    EXPECT_TRUE(Ds->GetModified());
    Ds->Post();
    EXPECT_FALSE(Ds->GetModified());
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    EXPECT_EQ(Table->Updates, 1);
    EXPECT_EQ(Table->Rows[1].Values[2].ToInteger(), 222);
    EXPECT_EQ(Active(), "Name2");
    EXPECT_EQ(F("Qty")->GetAsInteger(), 222);
}

TEST_F(EditFixture, InsertPutsTheRecordBeforeTheActiveOne) {
    Ds->Insert();
    EXPECT_EQ(Join(Grid.Link->Window("Name"), ","), " Name1,>, Name2");
    F("Name")->SetAsString("New");
    Ds->Post();
    EXPECT_EQ(Join(Names(*Table), ","), "Name1,New,Name2,Name3,Name4,Name5");
    EXPECT_EQ(Active(), "New");
    EXPECT_EQ(Ds->GetRecNo(), 2);
    // The table numbered the new row.
    EXPECT_EQ(F("ID")->GetAsInteger(), Table->Rows[1].Values[0].ToInteger());
}

TEST_F(EditFixture, AppendAddsAfterTheLastRecord) {
    Ds->Append();
    EXPECT_EQ(Join(Grid.Link->Window("Name"), ","), " Name4, Name5,>");
    F("Name")->SetAsString("Tail");
    Ds->Post();
    EXPECT_EQ(Names(*Table).back(), "Tail");
    EXPECT_EQ(Active(), "Tail");
    EXPECT_EQ(Join(Grid.Link->Window("Name"), ","), " Name4, Name5,>Tail");
}

TEST_F(EditFixture, CancelledInsertLeavesTableAndWindowAsTheyWere) {
    Ds->Insert();
    F("Name")->SetAsString("Gone");
    Ds->Cancel();
    EXPECT_EQ(Table->Inserts, 0);
    EXPECT_EQ(Active(), "Name2");
    EXPECT_EQ(Join(Grid.Link->Window("Name"), ","), " Name1,>Name2, Name3");
}

TEST_F(EditFixture, DeleteMovesToTheFollowingRecordOrTheNewLast) {
    Ds->Delete();
    EXPECT_EQ(Active(), "Name3");
    EXPECT_EQ(Join(Names(*Table), ","), "Name1,Name3,Name4,Name5");
    Ds->Last();
    Ds->Delete();
    EXPECT_EQ(Active(), "Name4");
    EXPECT_EQ(Table->Deletes, 2);
}

TEST_F(EditFixture, EditOfAnEmptyDataSetInserts) {
    auto empty = NewDataSet(NumberTable(0), "Empty");
    empty->Open();
    empty->Edit();
    EXPECT_EQ(empty->GetState(), dsInsert);
}

TEST_F(EditFixture, RequiredFieldsMustHaveAValue) {
    Table->Columns[1].Required = true;
    Ds->Close();
    Ds->Open();
    Ds->Insert();
    Log.clear();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Post(); }), "Field 'Name' must have a value");
    // The control showing the field is asked to take the focus.
    EXPECT_EQ(Log.back(), "Focus(Name)");
    EXPECT_EQ(Ds->GetState(), dsInsert);
    F("Name")->SetDisplayLabel("Customer name");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Post(); }), "Field 'Customer name' must have a value");
    F("Name")->SetAsString("Someone");
    Ds->Post();
    EXPECT_EQ(Table->Inserts, 1);
}

TEST_F(EditFixture, WritesOutsideEditModeAndToReadOnlyFieldsAreRefused) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("Qty")->SetAsInteger(1); }), "Data: Dataset not in edit or insert mode");
    Ds->Edit();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("ID")->SetAsInteger(1); }), "Field 'ID' cannot be modified");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Delete(); Ds->Post(); }), "Data: Dataset not in edit or insert mode");
    Ds->SetReadOnly(true);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Edit(); }), "Data: Cannot modify a read-only dataset");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Insert(); }), "Data: Cannot modify a read-only dataset");
    EXPECT_FALSE(F("Qty")->GetCanModify());
}

TEST_F(EditFixture, PostErrorActionsDecideWhatHappens) {
    int refusals = 0;
    Table->Check = [&](const std::vector<Variant>&, int) {
        if (refusals > 0) {
            --refusals;
            DatabaseError("Key violation");
        }
    };
    struct Case {
        TDataAction Action;
        int Refusals;
        const char* Raised;  // class raised, empty when the post succeeds
        int HandlerCalls;
    };
    const Case cases[] = {{daFail, 1, "EDatabaseError", 1}, {daAbort, 1, "EAbort", 1}, {daRetry, 2, "", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Action));
        int calls = 0;
        Ds->OnPostError = [&](TDataSet* d, EDatabaseError& e, TDataAction& action) {
            EXPECT_EQ(d, Ds.get());
            EXPECT_EQ(e.Message(), "Key violation");
            ++calls;
            action = c.Action;
        };
        refusals = c.Refusals;
        Ds->Edit();
        F("Qty")->SetAsInteger(5);
        std::string raised;
        try {
            Ds->Post();
        } catch (const Rtl::Exception& e) {
            raised = e.ClassName();
        }
        EXPECT_EQ(raised, c.Raised);
        EXPECT_EQ(calls, c.HandlerCalls);
        // A refused post leaves the edit in place for the user to fix.
        EXPECT_EQ(Ds->GetState(), *c.Raised ? dsEdit : dsBrowse);
        Ds->Cancel();
    }
}

TEST_F(EditFixture, EditAndDeleteErrorsGoToTheirEvents) {
    int editCalls = 0, deleteCalls = 0;
    Ds->OnEditError = [&](TDataSet*, EDatabaseError& e, TDataAction& action) {
        ++editCalls;
        EXPECT_EQ(e.Message(), "Data: Record not found");
        action = daAbort;
    };
    Ds->OnDeleteError = [&](TDataSet*, EDatabaseError&, TDataAction&) { ++deleteCalls; };
    // The row under the active record disappears.
    Table->Rows.erase(Table->Rows.begin() + 1);
    EXPECT_THROW(Ds->Edit(), Rtl::EAbort);
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->Delete(); }), "Data: Record not found");
    EXPECT_EQ(editCalls, 1);
    EXPECT_EQ(deleteCalls, 1);
}

TEST_F(EditFixture, WholeRecordInsertsGoThroughInternalAddRecord) {
    Ds->InsertRecord({Variant(), Variant("Ins"), Variant(1)});
    EXPECT_EQ(Join(Names(*Table), ","), "Name1,Ins,Name2,Name3,Name4,Name5");
    EXPECT_EQ(Active(), "Ins");
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    Ds->AppendRecord({Variant(), Variant("App"), Variant::Null()});
    EXPECT_EQ(Names(*Table).back(), "App");
    EXPECT_TRUE(Table->Rows.back().Values[2].IsNull());
    EXPECT_EQ(Active(), "App");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->AppendRecord({Variant(), Variant(), Variant(), Variant()}); }),
              "Data: 4 values given for 3 fields");

    Table->Check = [](const std::vector<Variant>& v, int) {
        if (Rtl::VarToStr(v[1]) == "Bad") DatabaseError("Refused");
    };
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->AppendRecord({Variant(), Variant("Bad"), Variant(3)}); }),
              "Refused");
    // Still inserting, with the values in place.
    EXPECT_EQ(Ds->GetState(), dsInsert);
    EXPECT_EQ(Active(), "Bad");
    F("Name")->SetAsString("Good");
    Ds->Post();
    EXPECT_EQ(Names(*Table).back(), "Good");
}

TEST_F(EditFixture, DefaultExpressionsFillNewRecords) {
    F("Qty")->SetDefaultExpression("42");
    Ds->Insert();
    EXPECT_EQ(F("Qty")->GetAsInteger(), 42);
    Ds->Cancel();
    F("Qty")->SetDefaultExpression("forty-two");
    EXPECT_EQ(MessageOf([&] { Ds->Insert(); }),
              "'forty-two' is not a valid integer value, invalid value in DefaultExpression property.");
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    EXPECT_EQ(Active(), "Name2");
}

TEST_F(EditFixture, FailingNewRecordHandlerReturnsToBrowsing) {
    Ds->OnNewRecord = [](TDataSet*) { DatabaseError("no new records today"); };
    EXPECT_EQ(MessageOf([&] { Ds->Insert(); }), "no new records today");
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    EXPECT_EQ(Join(Grid.Link->Window("Name"), ","), " Name1,>Name2, Name3");
    EXPECT_EQ(MessageOf([&] { Ds->Append(); }), "no new records today");
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    EXPECT_EQ(Table->Inserts, 0);
}

TEST_F(EditFixture, ReadingOldValuesKeepsTheEditModified) {
    Ds->Edit();
    F("Qty")->SetAsInteger(99);
    EXPECT_EQ(F("Qty")->GetOldValue().ToInteger(), 20);
    EXPECT_TRUE(Ds->GetModified());
    Ds->Next();  // posts, since the edit is still marked modified
    EXPECT_EQ(Table->Rows[1].Values[2].ToInteger(), 99);
}

TEST_F(EditFixture, ClearFieldsEmptiesTheWritableFields) {
    Ds->Edit();
    Ds->ClearFields();
    EXPECT_TRUE(F("Name")->GetIsNull());
    EXPECT_TRUE(F("Qty")->GetIsNull());
    EXPECT_FALSE(F("ID")->GetIsNull());
    Ds->Post();
    EXPECT_TRUE(Table->Rows[1].Values[1].IsNull());
}

TEST_F(EditFixture, DataLinksEditAndCollectPendingValues) {
    Grid.Link->OnUpdateData = [&] { F("Name")->SetAsString("From control"); };
    EXPECT_TRUE(Grid.Link->Edit());
    EXPECT_EQ(Ds->GetState(), dsEdit);
    Ds->Post();
    EXPECT_EQ(Rtl::VarToStr(Table->Rows[1].Values[1]), "From control");

    Grid.Link->OnUpdateData = nullptr;
    Grid.Source->SetAutoEdit(false);
    EXPECT_FALSE(Grid.Link->Edit());
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    Grid.Source->SetAutoEdit(true);
    Grid.Link->SetReadOnly(true);
    EXPECT_FALSE(Grid.Link->Edit());
    EXPECT_EQ(Ds->GetState(), dsBrowse);
    Ds->Edit();
    EXPECT_FALSE(Grid.Link->GetEditing());
}

}  // namespace
