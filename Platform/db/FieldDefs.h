// TFieldDef and TFieldDefs: the description of a dataset's columns, from
// which its default fields are made and against which persistent fields are
// bound.
#pragma once

#include "Platform/db/DBTypes.h"
#include "Platform/vcl/Collections.h"
#include "Platform/vcl/Components.h"

namespace Db {

class TFieldDef : public Vcl::TCollectionItem {
    VCL_CLASS(TFieldDef, Vcl::TCollectionItem)
    friend class TFieldDefs;

public:
    TFieldDef() = default;

    // A new field of the class the dataset uses for DataType, owned by Owner,
    // named FieldName (empty: the definition's name) and attached to the
    // dataset. EDatabaseError "Field '%s' is of an unknown type" when the
    // dataset has no field class for the type.
    TField* CreateField(Vcl::TComponent* Owner, const String& FieldName = String());
    Rtl::TClass GetFieldClass() const;
    TFieldDefs* GetFieldDefs() const;

    const String& GetName() const noexcept { return FName; }
    // EDatabaseError "Duplicate name '%s' in %s" when another definition has it.
    void SetName(const String& Value);
    TFieldType GetDataType() const noexcept { return FDataType; }
    void SetDataType(TFieldType Value);
    int GetSize() const noexcept { return FSize; }
    void SetSize(int Value);
    int GetPrecision() const noexcept { return FPrecision; }
    void SetPrecision(int Value);
    TFieldAttributes GetAttributes() const noexcept { return FAttributes; }
    void SetAttributes(TFieldAttributes Value);
    bool GetRequired() const noexcept { return FAttributes.Contains(faRequired); }
    void SetRequired(bool Value);
    // The 1-based column number: as set, or the position in the list.
    int GetFieldNo() const;
    void SetFieldNo(int Value) noexcept { FFieldNo = Value; }
    bool GetInternalCalcField() const noexcept { return FInternalCalcField; }
    void SetInternalCalcField(bool Value) noexcept { FInternalCalcField = Value; }

    String GetDisplayName() const override;
    void Assign(Rtl::TPersistent* Source) override;

private:
    String FName;
    int FSize = 0;
    int FPrecision = 0;
    int FFieldNo = 0;
    TFieldAttributes FAttributes;
    TFieldType FDataType = ftUnknown;
    bool FInternalCalcField = false;
};

class TFieldDefs : public Vcl::TOwnedCollection {
    VCL_CLASS(TFieldDefs, Vcl::TOwnedCollection)
public:
    explicit TFieldDefs(TDataSet* DataSet);

    TDataSet* GetDataSet() const noexcept { return FDataSet; }
    TFieldDef* GetItem(int Index) const;
    TFieldDef* operator[](int Index) const { return GetItem(Index); }
    // A new definition of the class Def (TFieldDef by default) at the end.
    template <class Def = TFieldDef>
    Def* AddFieldDef() {
        return Vcl::TCollection::Add<Def>();
    }
    // EDatabaseError "Field name missing" for an empty name.
    TFieldDef* Add(const String& Name, TFieldType DataType, int Size = 0, bool Required = false);
    // The definition named Name (case-insensitive), or null.
    TFieldDef* Find(const String& Name) const;
    int IndexOf(const String& Name) const;
    // Fills the list from the dataset unless it is up to date.
    void Update();
    // False once the list may no longer mirror the dataset's columns.
    bool GetUpdated() const noexcept { return FUpdated; }
    void SetUpdated(bool Value) noexcept { FUpdated = Value; }

protected:
    void Update(Vcl::TCollectionItem* Item) override;

private:
    TDataSet* FDataSet;
    int FInternalUpdateCount = 0;
    bool FUpdated = false;
};

}  // namespace Db
