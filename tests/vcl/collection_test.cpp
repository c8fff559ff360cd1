#include <gtest/gtest.h>

#include "TestClasses.h"

using namespace VclTest;

namespace {

class TOtherItem : public TCollectionItem {
    VCL_CLASS(TOtherItem, TCollectionItem)
};
VCL_ITEM_IMPL(TOtherItem, TCollectionItem) {}

TSampleItem* AddNamed(TSampleItems* items, const char* name) {
    auto* item = static_cast<TSampleItem*>(items->Add());
    item->SetName(name);
    return item;
}

std::vector<String> Names(TSampleItems* items) {
    std::vector<String> names;
    for (int i = 0; i < items->GetCount(); ++i) names.push_back(items->Item(i)->GetName());
    return names;
}

}  // namespace

TEST(Collection, AddInsertDeleteKeepOrderAndIDs) {
    TSample owner(nullptr);
    TSampleItems* items = owner.GetItems();
    auto* a = AddNamed(items, "a");
    auto* b = AddNamed(items, "b");
    auto* c = static_cast<TSampleItem*>(items->Insert(1));
    c->SetName("c");
    EXPECT_EQ(Names(items), (std::vector<String>{"a", "c", "b"}));
    EXPECT_EQ(a->GetID(), 0);
    EXPECT_EQ(b->GetID(), 1);
    EXPECT_EQ(c->GetID(), 2);
    EXPECT_EQ(c->GetIndex(), 1);
    EXPECT_EQ(items->FindItemID(1), b);

    items->Delete(0);
    EXPECT_EQ(Names(items), (std::vector<String>{"c", "b"}));
    EXPECT_EQ(AddNamed(items, "d")->GetID(), 3);  // IDs are never reused
    EXPECT_EQ(items->FindItemID(0), nullptr);

    b->SetIndex(0);
    EXPECT_EQ(Names(items), (std::vector<String>{"b", "c", "d"}));
    EXPECT_THROW(b->SetIndex(3), Rtl::EListError);
    EXPECT_THROW(items->Delete(3), Rtl::EListError);
    EXPECT_THROW(items->Insert(5), Rtl::EListError);
    EXPECT_THROW(items->GetItem(-1), Rtl::EListError);
    EXPECT_EQ(items->GetCount(), 3);

    items->Clear();
    EXPECT_EQ(items->GetCount(), 0);
}

TEST(Collection, UpdateTellsWhichItemChangedOrThatTheListDid) {
    TSample owner(nullptr);
    TSampleItems* items = owner.GetItems();
    auto* a = AddNamed(items, "a");
    items->Updates.clear();

    a->SetWeight(5);          // one item changed
    AddNamed(items, "b");     // the list changed, then b itself
    a->SetIndex(1);           // moved: the list changed
    items->Delete(0);         // removed: the list changed
    EXPECT_EQ(items->Updates, (std::vector<String>{"a", "nil", "b", "nil", "nil"}));

    // An update block reports once, when the outermost block ends.
    items->Updates.clear();
    items->BeginUpdate();
    items->BeginUpdate();
    AddNamed(items, "c");
    a->SetWeight(6);
    items->EndUpdate();
    EXPECT_TRUE(items->Updates.empty());
    items->EndUpdate();
    EXPECT_EQ(items->Updates, (std::vector<String>{"nil"}));
}

TEST(Collection, NotifySeesWholeItems) {
    TSample owner(nullptr);
    TSampleItems* items = owner.GetItems();
    auto* a = AddNamed(items, "a");
    AddNamed(items, "b");
    items->Notes.clear();
    items->Delete(1);
    delete a;  // freeing an item takes it out of its collection
    EXPECT_EQ(items->Notes, (std::vector<String>{"deleting:b", "extracting:b", "extracting:a"}));
    EXPECT_EQ(items->GetCount(), 0);
}

TEST(Collection, ItemsMovedBetweenCollections) {
    TSample one(nullptr), two(nullptr);
    auto* a = AddNamed(one.GetItems(), "a");
    a->SetCollection(two.GetItems());
    EXPECT_EQ(one.GetItems()->GetCount(), 0);
    EXPECT_EQ(two.GetItems()->Item(0), a);
    EXPECT_EQ(a->GetCollection(), two.GetItems());
}

TEST(Collection, RefusesItemsOfAnotherClass) {
    TSample owner(nullptr);
    TSampleItems* items = owner.GetItems();
    try {
        items->Add<TOtherItem>();  // freed again when refused
        FAIL() << "no exception";
    } catch (const Rtl::EListError& e) {
        EXPECT_EQ(e.Message(), "Invalid property value: a TOtherItem cannot be an item of a TSampleItems of TSampleItem");
    }
    EXPECT_EQ(items->GetCount(), 0);
    auto* other = new TOtherItem;
    EXPECT_THROW(other->SetCollection(items), Rtl::EListError);
    EXPECT_EQ(other->GetCollection(), nullptr);
    delete other;
}

TEST(Collection, AssignCopiesItemByItem) {
    TSample a(nullptr), b(nullptr);
    AddNamed(a.GetItems(), "x")->SetWeight(1);
    AddNamed(a.GetItems(), "y")->SetWeight(2);
    AddNamed(b.GetItems(), "old");
    b.GetItems()->Updates.clear();
    b.GetItems()->Assign(a.GetItems());
    EXPECT_EQ(Names(b.GetItems()), (std::vector<String>{"x", "y"}));
    EXPECT_EQ(b.GetItems()->Item(1)->GetWeight(), 2);
    EXPECT_NE(b.GetItems()->Item(0), a.GetItems()->Item(0));
    EXPECT_EQ(b.GetItems()->Updates, (std::vector<String>{"nil"}));
    b.GetItems()->Assign(b.GetItems());
    EXPECT_EQ(b.GetItems()->GetCount(), 2);

    Rtl::TStringList strings;
    EXPECT_THROW(b.GetItems()->Assign(&strings), Rtl::EConvertError);
    EXPECT_EQ(b.GetItems()->GetCount(), 2);
}

TEST(Collection, NamePathsAndDisplayNames) {
    TSample owner(nullptr);
    owner.SetName("Sample1");
    auto* a = AddNamed(owner.GetItems(), "");
    auto* b = AddNamed(owner.GetItems(), "b");
    EXPECT_EQ(owner.GetItems()->GetNamePath(), "Sample1.Items");
    EXPECT_EQ(b->GetNamePath(), "Sample1.Items[1]");
    EXPECT_EQ(b->GetOwner(), owner.GetItems());
    EXPECT_EQ(owner.GetItems()->GetOwner(), &owner);
    EXPECT_EQ(a->GetDisplayName(), "TSampleItem");
    EXPECT_EQ(b->GetDisplayName(), "b");

    TCollection loose(&TSampleItem::StaticClass());
    EXPECT_EQ(loose.GetNamePath(), "TCollection");
    EXPECT_EQ(loose.Add()->GetNamePath(), "TCollection[0]");
}
