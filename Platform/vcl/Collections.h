// TCollection and TCollectionItem: an ordered list of items of one class, each
// with a stable ID, that tells its owner about changes through Update.
//
// Items are created through the collection (Add, Insert, or Add<T>() for a
// typed descendant), never by their constructor alone: the collection calls
// its virtual Update and Notify only with complete items. `delete item`
// detaches the item from its collection before its destructors run, so those
// notifications still see the whole item.
#pragma once

#include <new>
#include <vector>

#include "Platform/vcl/TypInfo.h"

namespace Vcl {

class TCollection;

enum TCollectionNotification : Byte { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem : public TPersistent {
    VCL_CLASS(TCollectionItem, TPersistent)
    friend class TCollection;

public:
    TCollectionItem() = default;
    ~TCollectionItem() override;
    void operator delete(TCollectionItem* p, std::destroying_delete_t);
    // Leaves the collection while the item is still whole.
    virtual void BeforeDestruction();

    TCollection* GetCollection() const noexcept { return FCollection; }
    // Moves the item to another collection (null: out of any); the new
    // collection checks the item's class.
    virtual void SetCollection(TCollection* Value);
    int GetIndex() const;
    virtual void SetIndex(int Value);
    int GetID() const noexcept { return FID; }
    virtual String GetDisplayName() const { return ClassName(); }
    virtual void SetDisplayName(const String& Value) { Changed(false); }
    // "Collection[Index]".
    String GetNamePath() const override;
    TPersistent* GetOwner() const override;

protected:
    // Tells the collection this item changed (AllItems: the whole list did).
    void Changed(bool AllItems);

private:
    TCollection* FCollection = nullptr;
    int FID = 0;
};

class TCollection : public TPersistent {
    VCL_CLASS(TCollection, TPersistent)
    friend class TCollectionItem;

public:
    // ItemClass must be able to create its instances by name (VCL_ITEM_IMPL).
    explicit TCollection(TClass ItemClass);
    ~TCollection() override;

    TClass GetItemClass() const noexcept { return FItemClass; }
    int GetCount() const noexcept { return static_cast<int>(FItems.size()); }
    int Count() const noexcept { return GetCount(); }
    // EListError "List index out of bounds (%d)".
    TCollectionItem* GetItem(int Index) const;
    // Items[Index].Assign(Value).
    void SetItem(int Index, TCollectionItem* Value);
    TCollectionItem* FindItemID(int ID) const;

    // A new item of ItemClass at the end.
    TCollectionItem* Add();
    // A new item of T (which must descend from ItemClass) at the end.
    template <class T>
    T* Add() {
        auto* item = new T();
        AddItem(item);
        return item;
    }
    // A new item at Index.
    TCollectionItem* Insert(int Index);
    void Delete(int Index);
    void Clear();
    void BeginUpdate() noexcept { ++FUpdateCount; }
    void EndUpdate();
    int GetUpdateCount() const noexcept { return FUpdateCount; }

    // Replaces the items by copies of Source's items (each copied with Assign).
    void Assign(TPersistent* Source) override;
    // "Owner.PropertyName" when the owner publishes this collection, else the class name.
    String GetNamePath() const override;
    TPersistent* GetOwner() const override { return nullptr; }

protected:
    // Item: the item that changed, or null when the list as a whole did
    // (added, removed, moved, cleared, or an update block ended).
    virtual void Update(TCollectionItem* Item) {}
    virtual void Notify(TCollectionItem* Item, TCollectionNotification Action) {}
    void Changed();
    // The published property of the owner that holds this collection.
    String GetPropName() const;

private:
    void AddItem(TCollectionItem* Item);  // takes ownership; frees it when its class is wrong
    void InsertItem(TCollectionItem* Item);
    void RemoveItem(TCollectionItem* Item);

    TClass FItemClass;
    std::vector<TCollectionItem*> FItems;
    int FUpdateCount = 0;
    int FNextID = 0;
};

// A collection that knows its owner (for GetOwner and the name path).
class TOwnedCollection : public TCollection {
    VCL_CLASS(TOwnedCollection, TCollection)
public:
    TOwnedCollection(TPersistent* AOwner, TClass ItemClass) : TCollection(ItemClass), FOwner(AOwner) {}
    TPersistent* GetOwner() const override { return FOwner; }

private:
    TPersistent* FOwner;
};

// In one source file, followed by the published-property body: a collection
// item class the collection and form files can create (default constructor).
#define VCL_ITEM_IMPL(Cls, Base) \
    VCL_CLASS_IMPL_WITH_FACTORY_(Cls, Base, (+[](::Rtl::TObject*) -> ::Rtl::TObject* { return new Cls(); }))

}  // namespace Vcl
