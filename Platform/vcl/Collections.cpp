#include "Platform/vcl/Collections.h"

#include <algorithm>
#include <iterator>

namespace Vcl {

namespace {
[[noreturn]] void IndexError(int Index) {
    throw Rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

// Ends an update block also when the block is left by an exception.
struct UpdateBlock {
    explicit UpdateBlock(TCollection* c) : C(c) { C->BeginUpdate(); }
    ~UpdateBlock() noexcept(false) {
        if (std::uncaught_exceptions() > Pending) {
            try { C->EndUpdate(); } catch (...) {}
        } else {
            C->EndUpdate();
        }
    }
    TCollection* C;
    int Pending = std::uncaught_exceptions();
};
}  // namespace

// ---- TCollectionItem --------------------------------------------------------------------------

VCL_CLASS_IMPL(TCollectionItem, TPersistent) {}

TCollectionItem::~TCollectionItem() {
    if (FCollection) FCollection->RemoveItem(this);
}

void TCollectionItem::operator delete(TCollectionItem* p, std::destroying_delete_t) {
    p->BeforeDestruction();
    void* memory = dynamic_cast<void*>(p);
    p->~TCollectionItem();
    ::operator delete(memory);
}

void TCollectionItem::BeforeDestruction() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* Value) {
    if (FCollection == Value) return;
    if (FCollection) FCollection->RemoveItem(this);
    if (Value) Value->InsertItem(this);
}

int TCollectionItem::GetIndex() const {
    if (!FCollection) return -1;
    auto& items = FCollection->FItems;
    auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
    int current = GetIndex();
    if (current < 0 || current == Value) return;
    auto& items = FCollection->FItems;
    if (Value < 0 || Value >= static_cast<int>(items.size())) IndexError(Value);
    items.erase(items.begin() + current);
    items.insert(items.begin() + Value, this);
    Changed(true);
}

String TCollectionItem::GetNamePath() const {
    if (!FCollection) return ClassName();
    return FCollection->GetNamePath() + "[" + std::to_string(GetIndex()) + "]";
}

TPersistent* TCollectionItem::GetOwner() const { return FCollection; }

void TCollectionItem::Changed(bool AllItems) {
    if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

// ---- TCollection ---------------------------------------------------------------------------------

VCL_CLASS_IMPL(TCollection, TPersistent) {}
VCL_CLASS_IMPL(TOwnedCollection, TCollection) {}

TCollection::TCollection(TClass ItemClass)
    : FItemClass(ItemClass ? ItemClass : &TCollectionItem::StaticClass()) {}

TCollection::~TCollection() {
    FUpdateCount = 1;
    while (!FItems.empty()) delete FItems.back();
}

TCollectionItem* TCollection::GetItem(int Index) const {
    if (Index < 0 || Index >= GetCount()) IndexError(Index);
    return FItems[static_cast<std::size_t>(Index)];
}

void TCollection::SetItem(int Index, TCollectionItem* Value) { GetItem(Index)->Assign(Value); }

TCollectionItem* TCollection::FindItemID(int ID) const {
    for (auto* item : FItems)
        if (item->FID == ID) return item;
    return nullptr;
}

TCollectionItem* TCollection::Add() {
    if (!FItemClass->Factory)
        throw Rtl::EInvalidOperation(String("Cannot create items of class ") + FItemClass->Name);
    TObject* created = FItemClass->Factory(this);
    auto* item = dynamic_cast<TCollectionItem*>(created);
    if (!item) {
        delete created;
        throw Rtl::EInvalidOperation(String(FItemClass->Name) + " is not a collection item class");
    }
    AddItem(item);
    return item;
}

void TCollection::AddItem(TCollectionItem* Item) {
    try {
        InsertItem(Item);
    } catch (...) {
        delete Item;
        throw;
    }
}

TCollectionItem* TCollection::Insert(int Index) {
    if (Index < 0 || Index > GetCount()) IndexError(Index);
    TCollectionItem* item = Add();
    item->SetIndex(Index);
    return item;
}

void TCollection::Delete(int Index) {
    TCollectionItem* item = GetItem(Index);
    Notify(item, cnDeleting);
    delete item;
}

void TCollection::Clear() {
    if (FItems.empty()) return;
    UpdateBlock block(this);
    while (!FItems.empty()) delete FItems.back();
}

void TCollection::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    Changed();
}

void TCollection::Changed() {
    if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
    if (!Item->InheritsFrom(FItemClass))
        throw Rtl::EListError("Invalid property value: a " + Item->ClassName() + " cannot be an item of a " +
                              ClassName() + " of " + FItemClass->Name);
    FItems.push_back(Item);
    Item->FCollection = this;
    Item->FID = FNextID++;
    Notify(Item, cnAdded);
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
    Notify(Item, cnExtracting);
    // Searched from the end: Clear and the destructor remove the last item
    // first, which keeps emptying a large collection linear.
    auto it = std::find(FItems.rbegin(), FItems.rend(), Item);
    if (it != FItems.rend()) FItems.erase(std::next(it).base());
    Item->FCollection = nullptr;
    Changed();
}

void TCollection::Assign(TPersistent* Source) {
    auto* source = dynamic_cast<TCollection*>(Source);
    if (!source) {
        TPersistent::Assign(Source);
        return;
    }
    if (source == this) return;
    UpdateBlock block(this);
    Clear();
    for (TCollectionItem* item : source->FItems) Add()->Assign(item);
}

String TCollection::GetPropName() const {
    TPersistent* owner = GetOwner();
    if (!owner) return {};
    for (const TPropInfo* p : GetPropList(owner))
        if (p->Kind() == tkClass && p->Access().GetObject(owner) == this) return p->Name();
    return {};
}

String TCollection::GetNamePath() const {
    TPersistent* owner = GetOwner();
    if (!owner) return ClassName();
    String path = owner->GetNamePath();
    if (path.empty()) return ClassName();
    String prop = GetPropName();
    if (prop.empty()) return ClassName();
    return path + "." + prop;
}

}  // namespace Vcl
