// TFieldDef and TFieldDefs.

#include "Platform/db/FieldDefs.h"

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"
#include "Platform/db/StdFields.h"

namespace Db {

VCL_ITEM_IMPL(TFieldDef, Vcl::TCollectionItem) {
    Prop("Name", &TFieldDef::GetName, &TFieldDef::SetName);
    Prop("Attributes", &TFieldDef::GetAttributes, &TFieldDef::SetAttributes).Default(TFieldAttributes{});
    Prop("DataType", &TFieldDef::GetDataType, &TFieldDef::SetDataType).Default(ftUnknown);
    Prop("Precision", &TFieldDef::GetPrecision, &TFieldDef::SetPrecision).Default(0);
    Prop("Size", &TFieldDef::GetSize, &TFieldDef::SetSize).Default(0);
}

VCL_CLASS_IMPL(TFieldDefs, Vcl::TOwnedCollection) {}

// ---- TFieldDef ----------------------------------------------------------------------------

TFieldDefs* TFieldDef::GetFieldDefs() const { return dynamic_cast<TFieldDefs*>(GetCollection()); }

void TFieldDef::SetName(const String& Value) {
    TFieldDefs* defs = GetFieldDefs();
    if (!Value.empty() && !Rtl::AnsiSameText(Value, FName) && defs && defs->IndexOf(Value) >= 0)
        DatabaseErrorFmt(SDuplicateName, {Value, defs->ClassName()}, defs->GetDataSet());
    FName = Value;
    Changed(false);
}

void TFieldDef::SetDataType(TFieldType Value) {
    FDataType = Value;
    Changed(false);
}

void TFieldDef::SetSize(int Value) {
    if (Value < 0) DatabaseError(SInvalidFieldSize);
    FSize = Value;
    Changed(false);
}

void TFieldDef::SetPrecision(int Value) {
    FPrecision = Value;
    Changed(false);
}

void TFieldDef::SetAttributes(TFieldAttributes Value) {
    FAttributes = Value;
    Changed(false);
}

void TFieldDef::SetRequired(bool Value) {
    if (Value)
        FAttributes.Include(faRequired);
    else
        FAttributes.Exclude(faRequired);
    Changed(false);
}

int TFieldDef::GetFieldNo() const { return FFieldNo > 0 ? FFieldNo : GetIndex() + 1; }

String TFieldDef::GetDisplayName() const { return FName.empty() ? Vcl::TCollectionItem::GetDisplayName() : FName; }

void TFieldDef::Assign(Rtl::TPersistent* Source) {
    if (auto* s = dynamic_cast<TFieldDef*>(Source)) {
        if (GetCollection()) GetCollection()->BeginUpdate();
        FName = s->FName;
        FDataType = s->FDataType;
        FSize = s->FSize;
        FPrecision = s->FPrecision;
        FFieldNo = s->FFieldNo;
        FAttributes = s->FAttributes;
        FInternalCalcField = s->FInternalCalcField;
        Changed(false);
        if (GetCollection()) GetCollection()->EndUpdate();
        return;
    }
    Vcl::TCollectionItem::Assign(Source);
}

Rtl::TClass TFieldDef::GetFieldClass() const {
    TFieldDefs* defs = GetFieldDefs();
    if (defs && defs->GetDataSet()) return defs->GetDataSet()->GetFieldClass(FDataType);
    return nullptr;
}

TField* TFieldDef::CreateField(Vcl::TComponent* Owner, const String& FieldName) {
    Rtl::TClass cls = GetFieldClass();
    if (!cls || !cls->Factory) DatabaseErrorFmt(SUnknownFieldType, {GetDisplayName()});
    Rtl::TObject* object = cls->Factory(Owner);
    auto* field = dynamic_cast<TField*>(object);
    if (!field) {
        delete object;
        DatabaseErrorFmt(SUnknownFieldType, {GetDisplayName()});
    }
    try {
        field->SetSize(FSize);
        field->SetFieldName(FieldName.empty() ? FName : FieldName);
        field->SetRequired(GetRequired());
        field->SetReadOnly(FAttributes.Contains(faReadonly));
        // Types that share a field class keep their own type.
        field->SetDataType(FDataType);
        if (FDataType == ftFixedChar)
            if (auto* s = dynamic_cast<TStringField*>(field)) s->SetFixedChar(true);
        if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(FPrecision);
        if (auto* f = dynamic_cast<TFloatField*>(field); f && FPrecision >= 2) f->SetPrecision(FPrecision);
        if (FInternalCalcField) field->SetFieldKind(fkInternalCalc);
        if (TFieldDefs* defs = GetFieldDefs()) field->SetDataSet(defs->GetDataSet());
    } catch (...) {
        delete field;
        throw;
    }
    return field;
}

// ---- TFieldDefs ---------------------------------------------------------------------------

TFieldDefs::TFieldDefs(TDataSet* DataSet)
    : Vcl::TOwnedCollection(DataSet, &TFieldDef::StaticClass()), FDataSet(DataSet) {}

TFieldDef* TFieldDefs::GetItem(int Index) const { return static_cast<TFieldDef*>(Vcl::TCollection::GetItem(Index)); }

TFieldDef* TFieldDefs::Add(const String& Name, TFieldType DataType, int Size, bool Required) {
    if (Name.empty()) DatabaseError(SFieldNameMissing, FDataSet);
    BeginUpdate();
    TFieldDef* def = nullptr;
    try {
        def = AddFieldDef();
        def->SetName(Name);
        def->SetDataType(DataType);
        def->SetSize(Size);
        def->SetRequired(Required);
    } catch (...) {
        delete def;
        EndUpdate();
        throw;
    }
    EndUpdate();
    return def;
}

int TFieldDefs::IndexOf(const String& Name) const {
    for (int i = 0; i < Count(); ++i)
        if (Rtl::AnsiSameText(GetItem(i)->GetName(), Name)) return i;
    return -1;
}

TFieldDef* TFieldDefs::Find(const String& Name) const {
    int i = IndexOf(Name);
    return i < 0 ? nullptr : GetItem(i);
}

void TFieldDefs::Update() {
    if (FUpdated || !FDataSet) return;
    ++FInternalUpdateCount;
    BeginUpdate();
    try {
        FDataSet->InitFieldDefs();
    } catch (...) {
        EndUpdate();
        --FInternalUpdateCount;
        throw;
    }
    EndUpdate();
    --FInternalUpdateCount;
    FUpdated = true;
}

void TFieldDefs::Update(Vcl::TCollectionItem*) {
    // A change made from outside means the list no longer mirrors the dataset.
    if (FInternalUpdateCount == 0) FUpdated = false;
}

}  // namespace Db
