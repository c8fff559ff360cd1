// The record-buffer ring, navigation, bookmarks and what data links see.

#include <random>

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

String Active(TDataSet* ds) { return ds->FieldByName("Name")->GetAsString(); }

TEST(Navigation, OpenFillsTheRingFromTheFirstRecord) {
    auto ds = NewDataSet(NumberTable(10));
    std::vector<String> log;
    RecordDataSetEvents(ds.get(), &log);
    Linked grid(ds.get(), 4, &log);
    ds->Open();
    EXPECT_EQ(Join(log), "BeforeOpen Active AfterOpen AfterScroll");
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name1, Name2, Name3, Name4");
    EXPECT_TRUE(ds->GetBof());
    EXPECT_FALSE(ds->GetEof());
    EXPECT_EQ(ds->GetRecNo(), 1);
    EXPECT_EQ(ds->GetRecordCount(), 10);
    EXPECT_EQ(ds->GetBufferCount(), 4);
}

TEST(Navigation, MovesKeepTheActiveRecordInsideEveryWindow) {
    struct Step {
        const char* Op;
        int Arg;
        int Moved;
        const char* Active;
        bool Bof, Eof;
        const char* Window;
    };
    const Step steps[] = {
        {"Next", 0, 1, "Name2", false, false, " Name1,>Name2, Name3"},
        {"MoveBy", 5, 5, "Name7", false, false, " Name5, Name6,>Name7"},
        {"Prior", 0, -1, "Name6", false, false, " Name5,>Name6, Name7"},
        {"Last", 0, 0, "Name10", false, true, " Name8, Name9,>Name10"},
        {"Next", 0, 0, "Name10", false, true, " Name8, Name9,>Name10"},
        {"MoveBy", -100, -9, "Name1", true, false, ">Name1, Name2, Name3"},
        {"Prior", 0, 0, "Name1", true, false, ">Name1, Name2, Name3"},
        {"MoveBy", 100, 9, "Name10", false, true, " Name8, Name9,>Name10"},
        {"First", 0, 0, "Name1", true, false, ">Name1, Name2, Name3"},
        {"MoveBy", 2, 2, "Name3", false, false, " Name1, Name2,>Name3"},
        {"MoveBy", 1, 1, "Name4", false, false, " Name2, Name3,>Name4"},
    };
    auto ds = NewDataSet(NumberTable(10));
    Linked grid(ds.get(), 3);
    ds->Open();
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.Op) + " " + std::to_string(s.Arg));
        int moved = 0;
        std::string op = s.Op;
        if (op == "Next") moved = ds->MoveBy(1);
        else if (op == "Prior") moved = ds->MoveBy(-1);
        else if (op == "MoveBy") moved = ds->MoveBy(s.Arg);
        else if (op == "First") ds->First();
        else if (op == "Last") ds->Last();
        EXPECT_EQ(moved, s.Moved);
        EXPECT_EQ(Active(ds.get()), s.Active);
        EXPECT_EQ(ds->GetBof(), s.Bof);
        EXPECT_EQ(ds->GetEof(), s.Eof);
        EXPECT_EQ(Join(grid.Link->Window("Name"), ","), s.Window);
    }
}

TEST(Navigation, LinksHearHowFarTheirWindowScrolled) {
    auto ds = NewDataSet(NumberTable(10));
    Linked grid(ds.get(), 3);
    ds->Open();
    grid.Link->Clear();
    ds->MoveBy(2);  // inside the window
    ds->Next();     // one past it
    ds->MoveBy(-3);
    EXPECT_EQ(grid.Link->Joined(),
              "CheckBrowseMode Scrolled(0) CheckBrowseMode Scrolled(1) CheckBrowseMode Scrolled(-1)");
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name1, Name2, Name3");
}

TEST(Navigation, EmptyDataSetIsAtBothEnds) {
    auto table = NumberTable(0);
    auto ds = NewDataSet(table);
    ds->Open();
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_TRUE(ds->GetBof());
    EXPECT_TRUE(ds->GetEof());
    EXPECT_EQ(ds->GetRecNo(), -1);
    EXPECT_EQ(ds->MoveBy(1), 0);
    EXPECT_TRUE(ds->FieldByName("Name")->GetIsNull());
    EXPECT_EQ(ds->GetBookmarkStr(), "");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Delete(); }),
              "Data: Cannot perform this operation on an empty dataset");
}

TEST(Navigation, ClosedDataSetRefusesNavigation) {
    auto ds = NewDataSet(NumberTable(3));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Next(); }), "Data: Cannot perform this operation on a closed dataset");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->GetRecordCount(); }),
              "Data: Cannot perform this operation on a closed dataset");
    ds->SetName("");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->First(); }), "Cannot perform this operation on a closed dataset");
}

TEST(Navigation, BookmarksReturnToTheirRecordCentred) {
    auto table = NumberTable(10);
    auto ds = NewDataSet(table);
    Linked grid(ds.get(), 5);
    ds->Open();
    ds->MoveBy(6);
    TBookmark mark = ds->GetBookmark();
    ASSERT_NE(mark, nullptr);
    TBookmarkStr markStr = ds->GetBookmarkStr();
    EXPECT_EQ(markStr.size(), 8u);
    ds->First();
    EXPECT_TRUE(ds->BookmarkValid(mark));
    ds->GotoBookmark(mark);
    EXPECT_EQ(Active(ds.get()), "Name7");
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), " Name5, Name6,>Name7, Name8, Name9");
    ds->First();
    ds->SetBookmarkStr(markStr);
    EXPECT_EQ(Active(ds.get()), "Name7");

    ds->First();
    TBookmark first = ds->GetBookmark();
    EXPECT_EQ(ds->CompareBookmarks(first, mark), -1);
    EXPECT_EQ(ds->CompareBookmarks(mark, first), 1);
    EXPECT_EQ(ds->CompareBookmarks(mark, mark), 0);
    EXPECT_EQ(ds->CompareBookmarks(nullptr, mark), 0);

    // The record goes away behind the dataset's back.
    table->Rows.erase(table->Rows.begin() + 6);
    EXPECT_FALSE(ds->BookmarkValid(mark));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->GotoBookmark(mark); }), "Data: Record not found");
    ds->FreeBookmark(mark);
    ds->FreeBookmark(first);
    ds->FreeBookmark(nullptr);
}

TEST(Navigation, ForeignBookmarkStringsAreRefused) {
    auto ds = NewDataSet(NumberTable(3));
    ds->Open();
    ds->Next();
    ds->SetBookmarkStr("");  // nothing to go to
    EXPECT_EQ(Active(ds.get()), "Name2");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->SetBookmarkStr("abc"); }),
              "Data: Bookmark has 3 bytes where 8 are expected");
    EXPECT_EQ(Active(ds.get()), "Name2");
}

TEST(Navigation, RecNoMovesAndResyncsAroundTheRecord) {
    auto ds = NewDataSet(NumberTable(10));
    Linked grid(ds.get(), 3);
    std::vector<String> log;
    ds->Open();
    RecordDataSetEvents(ds.get(), &log);
    ds->SetRecNo(7);
    EXPECT_EQ(Active(ds.get()), "Name7");
    EXPECT_EQ(ds->GetRecNo(), 7);
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), " Name6,>Name7, Name8");
    ds->SetRecNo(7);  // unchanged: no scroll
    EXPECT_EQ(Join(log), "BeforeScroll AfterScroll");
}

TEST(Navigation, RingGrowsAndShrinksWithTheLinks) {
    auto ds = NewDataSet(NumberTable(20));
    Linked single(ds.get(), 1);
    ds->Open();
    ds->MoveBy(9);
    EXPECT_EQ(ds->GetBufferCount(), 1);
    {
        Linked grid(ds.get(), 6);
        EXPECT_EQ(ds->GetBufferCount(), 6);
        EXPECT_EQ(Active(ds.get()), "Name10");
        std::vector<String> window = grid.Link->Window("Name");
        ASSERT_EQ(window.size(), 6u);
        EXPECT_NE(std::find(window.begin(), window.end(), ">Name10"), window.end());
        grid.Link->SetBufferCount(8);
        EXPECT_EQ(ds->GetBufferCount(), 8);
        EXPECT_EQ(Active(ds.get()), "Name10");
        ds->MoveBy(3);
        EXPECT_EQ(Active(ds.get()), "Name13");
    }
    EXPECT_EQ(ds->GetBufferCount(), 1);
    EXPECT_EQ(Active(ds.get()), "Name13");
    EXPECT_EQ(Join(single.Link->Window("Name"), ","), ">Name13");
    ds->Next();
    EXPECT_EQ(Active(ds.get()), "Name14");
}

TEST(Navigation, DisabledControlsHearOneChangeWhenEnabledAgain) {
    auto ds = NewDataSet(NumberTable(5));
    Linked grid(ds.get(), 2);
    ds->Open();
    grid.Link->Clear();
    ds->DisableControls();
    ds->DisableControls();
    ds->Next();
    ds->Last();
    ds->EnableControls();
    EXPECT_TRUE(ds->ControlsDisabled());
    EXPECT_EQ(grid.Link->Joined(), "");
    ds->EnableControls();
    EXPECT_FALSE(ds->ControlsDisabled());
    EXPECT_EQ(grid.Link->Joined(), "DataSetChanged");
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), " Name4,>Name5");
}

TEST(Navigation, ClosingWhileControlsAreDisabledIsToldOnEnable) {
    auto ds = NewDataSet(NumberTable(5));
    Linked grid(ds.get(), 2);
    ds->Open();
    ds->DisableControls();
    ds->Close();
    EXPECT_TRUE(grid.Link->GetActive());  // not told yet
    ds->EnableControls();
    EXPECT_FALSE(grid.Link->GetActive());
}

TEST(Navigation, RefreshSeesRowsOthersWrote) {
    auto table = NumberTable(3);
    auto ds = NewDataSet(table);
    Linked grid(ds.get(), 5);
    ds->Open();
    ds->Next();
    table->AddRow({Variant::Null(), Variant("Late"), Variant(99)});
    table->Rows.erase(table->Rows.begin());
    ds->Refresh();
    EXPECT_EQ(Active(ds.get()), "Name2");
    EXPECT_EQ(Join(grid.Link->Window("Name"), ","), ">Name2, Name3, Late");
    // The active record itself went away: the cursor cannot be brought back to it.
    table->Rows.erase(table->Rows.begin());
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { ds->Refresh(); }), "Data: Record not found");
}

// Random walks checked against a plain model: the active record, and that
// every link sees consecutive records around it.
TEST(Navigation, RandomWalksAgreeWithAModel) {
    for (int buffers : {1, 2, 3, 7}) {
        SCOPED_TRACE("buffers " + std::to_string(buffers));
        auto table = NumberTable(12);
        auto ds = NewDataSet(table);
        Linked grid(ds.get(), buffers);
        Linked single(ds.get(), 1);
        ds->Open();
        std::vector<String> model;
        for (const TMemRow& r : table->Rows) model.push_back(Rtl::VarToStr(r.Values[1]));
        int pos = 0;
        std::mt19937 rng(static_cast<unsigned>(buffers));
        TBookmarkStr mark = ds->GetBookmarkStr();
        String markName = model[0];
        int added = 0;
        for (int step = 0; step < 400; ++step) {
            int n = static_cast<int>(model.size());
            switch (rng() % 9) {
                case 0: ds->First(); pos = 0; break;
                case 1: ds->Last(); pos = n - 1; break;
                case 2: case 3: {
                    int d = static_cast<int>(rng() % 9) - 4;
                    int moved = ds->MoveBy(d);
                    int target = std::clamp(pos + d, 0, n - 1);
                    EXPECT_EQ(moved, target - pos);
                    pos = target;
                    break;
                }
                case 4: mark = ds->GetBookmarkStr(); markName = model[static_cast<std::size_t>(pos)]; break;
                case 5:
                    ds->SetBookmarkStr(mark);
                    pos = static_cast<int>(std::find(model.begin(), model.end(), markName) - model.begin());
                    break;
                case 6: grid.Link->SetBufferCount(1 + static_cast<int>(rng() % 8)); break;
                case 7:
                    if (n > 3 && model[static_cast<std::size_t>(pos)] != markName) {
                        ds->Delete();
                        model.erase(model.begin() + pos);
                        if (pos == n - 1) --pos;
                    }
                    break;
                case 8: {
                    String name = "Added" + Rtl::IntToStr(++added);
                    ds->Insert();
                    ds->FieldByName("Name")->SetAsString(name);
                    ds->Post();
                    model.insert(model.begin() + pos, name);
                    break;
                }
            }
            ASSERT_EQ(ds->FieldByName("Name")->GetAsString(), model[static_cast<std::size_t>(pos)]) << "step " << step;
            std::vector<String> window = grid.Link->Window("Name");
            ASSERT_EQ(static_cast<int>(window.size()),
                      std::min(grid.Link->GetBufferCount(), static_cast<int>(model.size())));
            // Consecutive records of the model, the active one among them.
            auto first = std::find(model.begin(), model.end(), window[0].substr(1));
            ASSERT_NE(first, model.end());
            for (std::size_t i = 0; i < window.size(); ++i) {
                ASSERT_LT(first - model.begin() + static_cast<long>(i), static_cast<long>(model.size()));
                EXPECT_EQ(window[i].substr(1), *(first + static_cast<long>(i))) << "step " << step;
                EXPECT_EQ(window[i][0] == '>', first - model.begin() + static_cast<long>(i) == pos) << "step " << step;
            }
            EXPECT_EQ(Join(single.Link->Window("Name")), ">" + model[static_cast<std::size_t>(pos)]);
        }
    }
}

}  // namespace
