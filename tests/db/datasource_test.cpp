// Data sources and data links: wiring, circles, lifetimes and detail links.

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

Owned<TDataSource> NewSource(TDataSet* ds, const String& name) {
    Owned<TDataSource> s(new TDataSource(nullptr));
    s->SetName(name);
    s->SetDataSet(ds);
    return s;
}

TEST(DataSources, CirclesOfLinksAreRefused) {
    auto a = NewDataSet(NumberTable(1), "A");
    auto b = NewDataSet(NumberTable(1), "B");
    auto c = NewDataSet(NumberTable(1), "C");
    auto srcA = NewSource(a.get(), "SrcA");
    auto srcB = NewSource(b.get(), "SrcB");
    b->SetMasterSource(srcA.get());  // B follows A
    c->SetMasterSource(srcB.get());  // C follows B
    auto srcC = NewSource(c.get(), "SrcC");
    EXPECT_TRUE(a->IsLinkedTo(srcC.get()));
    EXPECT_FALSE(c->IsLinkedTo(srcA.get()));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { a->SetMasterSource(srcC.get()); }),
              "A: Circular datalinks are not allowed");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { a->SetMasterSource(srcA.get()); }),
              "A: Circular datalinks are not allowed");
    // The same circle seen from the data source: SrcA may not show C, which follows A.
    EXPECT_TRUE(srcA->IsLinkedTo(c.get()));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { srcA->SetDataSet(c.get()); }), "SrcA: Circular datalinks are not allowed");
    EXPECT_EQ(srcA->GetDataSet(), a.get());
    EXPECT_EQ(a->GetMasterSource(), nullptr);
}

TEST(DataSources, DetailLinksNameTheirDataSets) {
    auto master = NewDataSet(NumberTable(3), "Master");
    auto detail = NewDataSet(NumberTable(1), "Detail");
    auto src = NewSource(master.get(), "Src");
    detail->SetMasterSource(src.get());
    master->Open();
    std::vector<TDataSet*> details;
    master->GetDetailDataSets(details);
    EXPECT_TRUE(details.empty());  // only open details count
    detail->Open();
    master->GetDetailDataSets(details);
    ASSERT_EQ(details.size(), 1u);
    EXPECT_EQ(details[0], detail.get());
    int before = detail->MasterLink()->MasterMoves;
    master->Next();
    master->Last();
    EXPECT_EQ(detail->MasterLink()->MasterMoves, before + 2);
}

TEST(DataSources, StateFollowsTheDataSetWhileEnabled) {
    auto ds = NewDataSet(NumberTable(2));
    auto src = NewSource(ds.get(), "Src");
    TRecordingLink link;
    link.SetDataSource(src.get());
    EXPECT_FALSE(link.GetActive());
    ds->Open();
    EXPECT_TRUE(link.GetActive());
    EXPECT_EQ(src->GetState(), dsBrowse);
    src->SetEnabled(false);
    EXPECT_EQ(src->GetState(), dsInactive);
    EXPECT_FALSE(link.GetActive());
    src->SetEnabled(true);
    ds->Edit();
    EXPECT_TRUE(link.GetEditing());
    EXPECT_EQ(link.Joined(), "Active Inactive Active CheckBrowseMode Editing RecordChanged");
}

TEST(DataSources, AFixedDataSourceCannotChange) {
    auto ds = NewDataSet(NumberTable(1));
    auto src = NewSource(ds.get(), "Src");
    auto other = NewSource(ds.get(), "Other");
    TRecordingLink link;
    link.SetDataSource(src.get());
    link.SetDataSourceFixed(true);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { link.SetDataSource(other.get()); }), "Src: DataSource cannot be changed");
    EXPECT_EQ(link.GetDataSource(), src.get());
}

TEST(DataSources, FreeingAnyPartLeavesTheOthersConsistent) {
    auto ds = NewDataSet(NumberTable(10));
    auto src = NewSource(ds.get(), "Src");
    auto grid = std::make_unique<TRecordingLink>();
    grid->SetBufferCount(5);
    grid->SetDataSource(src.get());
    TRecordingLink single;
    single.SetDataSource(src.get());
    ds->Open();
    ds->MoveBy(6);
    EXPECT_EQ(ds->GetBufferCount(), 5);
    grid.reset();  // a link going away shrinks the ring
    EXPECT_EQ(ds->GetBufferCount(), 1);
    EXPECT_EQ(ds->FieldByName("Name")->GetAsString(), "Name7");
    EXPECT_EQ(src->GetDataLinkCount(), 1);

    ds.reset();  // the dataset going away leaves the source empty and its links inactive
    EXPECT_EQ(src->GetDataSet(), nullptr);
    EXPECT_FALSE(single.GetActive());
    src.reset();  // the source going away detaches its links
    EXPECT_EQ(single.GetDataSource(), nullptr);
}

TEST(DataSources, LinksSeeTheirOwnPartOfTheRing) {
    auto ds = NewDataSet(NumberTable(10));
    auto src = NewSource(ds.get(), "Src");
    TRecordingLink small, big;
    small.SetBufferCount(2);
    big.SetBufferCount(4);
    small.SetDataSource(src.get());
    big.SetDataSource(src.get());
    ds->Open();
    ds->MoveBy(5);
    EXPECT_EQ(big.GetRecordCount(), 4);
    EXPECT_EQ(small.GetRecordCount(), 2);
    EXPECT_EQ(Join(big.Window("Name"), ","), " Name3, Name4, Name5,>Name6");
    EXPECT_EQ(Join(small.Window("Name"), ","), " Name5,>Name6");
    // A grid makes another record of its window active.
    big.SetActiveRecord(0);
    EXPECT_EQ(ds->FieldByName("Name")->GetAsString(), "Name3");
    EXPECT_EQ(small.GetActiveRecord(), -2);
    big.SetActiveRecord(9);  // outside the ring: ignored
    EXPECT_EQ(ds->FieldByName("Name")->GetAsString(), "Name3");
    big.SetActiveRecord(3);
    ds->Close();
    EXPECT_EQ(big.GetRecordCount(), 0);
    EXPECT_EQ(big.GetActiveRecord(), 0);
}

}  // namespace
