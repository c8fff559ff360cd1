// TField and TFields.

#include "Platform/db/Field.h"

#include <algorithm>
#include <cstring>

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"

namespace Db {

VCL_CLASS_IMPL(TField, Vcl::TComponent) {
    Prop("Alignment", &TField::GetAlignment, &TField::SetAlignment).Default(taLeftJustify);
    Prop("DefaultExpression", &TField::GetDefaultExpression, &TField::SetDefaultExpression);
    Prop("DisplayLabel", &TField::GetDisplayLabel, &TField::SetDisplayLabel).Stored(&TField::IsDisplayLabelStored);
    Prop("DisplayWidth", &TField::GetDisplayWidth, &TField::SetDisplayWidth).Stored(&TField::IsDisplayWidthStored);
    Prop("FieldKind", &TField::GetFieldKind, &TField::SetFieldKind).Default(fkData);
    Prop("FieldName", &TField::GetFieldName, &TField::SetFieldName);
    Prop("Index", &TField::GetIndex, &TField::SetIndex).Stored(false);
    Prop("KeyFields", &TField::GetKeyFields, &TField::SetKeyFields);
    Prop("LookupDataSet", &TField::GetLookupDataSet, &TField::SetLookupDataSet);
    Prop("LookupKeyFields", &TField::GetLookupKeyFields, &TField::SetLookupKeyFields);
    Prop("LookupResultField", &TField::GetLookupResultField, &TField::SetLookupResultField);
    Prop("Origin", &TField::GetOrigin, &TField::SetOrigin);
    Prop("ReadOnly", &TField::GetReadOnly, &TField::SetReadOnly).Default(false);
    Prop("Required", &TField::GetRequired, &TField::SetRequired).Default(false);
    Prop("Visible", &TField::GetVisible, &TField::SetVisible).Default(true);
    Event("OnChange", &TField::OnChange, &TField::OnChange, "TFieldNotifyEvent");
    Event("OnGetText", &TField::OnGetText, &TField::OnGetText, "TFieldGetTextEvent");
    Event("OnSetText", &TField::OnSetText, &TField::OnSetText, "TFieldSetTextEvent");
    Event("OnValidate", &TField::OnValidate, &TField::OnValidate, "TFieldNotifyEvent");
}

TField::TField(Vcl::TComponent* AOwner) : Vcl::TComponent(AOwner) {}

TField::~TField() {
    if (TDataSet* dataSet = FDataSet) {
        // The field leaves the list first, so that closing cannot free it a
        // second time with the default fields; an open dataset is closed, since
        // its buffers were laid out with this field in them.
        dataSet->FFields->Remove(this);
        try {
            dataSet->Close();
        } catch (...) {
        }
    }
    if (FLookupDataSet) FLookupDataSet->RemoveFreeNotification(this);
}

int TField::GetFormSize(bool NativeFormat) const {
    if (!NativeFormat) {
        switch (FDataType) {
            case ftDate:
            case ftTime:
            case ftDateTime: return static_cast<int>(sizeof(TDateTime));
            case ftBCD: return static_cast<int>(sizeof(Currency));
            default: break;
        }
    }
    return GetDataSize();
}

// ---- Raw access ------------------------------------------------------------------------

bool TField::GetData(void* Buffer, bool NativeFormat) {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    if (FValidating) {
        // OnValidate is looking at the value about to be stored.
        if (!FValueBuffer) return false;
        if (Buffer) {
            if (NativeFormat != FValueBufferNative)
                FDataSet->DataConvert(this, FValueBuffer, Buffer, NativeFormat);
            else if (FDataType == ftVariant)
                *static_cast<Variant*>(Buffer) = *static_cast<const Variant*>(FValueBuffer);
            else
                std::memcpy(Buffer, FValueBuffer, static_cast<std::size_t>(GetFormSize(NativeFormat)));
        }
        return true;
    }
    return FDataSet->GetFieldData(this, Buffer, NativeFormat);
}

void TField::SetData(const void* Buffer, bool NativeFormat) {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    FValueBuffer = Buffer;
    FValueBufferNative = NativeFormat;
    try {
        FDataSet->SetFieldData(this, Buffer, NativeFormat);
    } catch (...) {
        FValueBuffer = nullptr;
        throw;
    }
    FValueBuffer = nullptr;
}

void TField::Validate(const void* Buffer) {
    if (!OnValidate) return;
    bool own = FValueBuffer == nullptr;
    if (own) {
        FValueBuffer = Buffer;
        FValueBufferNative = true;
    }
    FValidating = true;
    try {
        OnValidate(this);
    } catch (...) {
        FValidating = false;
        if (own) FValueBuffer = nullptr;
        throw;
    }
    FValidating = false;
    if (own) FValueBuffer = nullptr;
}

bool TField::GetIsNull() { return !GetData(nullptr); }

void TField::Change() {
    if (OnChange) OnChange(this);
}

void TField::FocusControl() {
    if (FDataSet && FDataSet->GetActive()) {
        TField* field = this;
        FDataSet->DataEvent(deFocusControl, reinterpret_cast<std::intptr_t>(&field));
    }
}

// ---- Conversions the base class refuses -------------------------------------------------

void TField::AccessError(const char* TypeName) const {
    DatabaseErrorFmt(SFieldAccessError, {GetDisplayName(), TypeName});
}

void TField::RangeError(const String& Value, const String& Min, const String& Max) const {
    DatabaseErrorFmt(SFieldRangeError, {Value, GetDisplayName(), Min, Max});
}

bool TField::GetAsBoolean() { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
Currency TField::GetAsCurrency() { return Currency(GetAsFloat()); }
void TField::SetAsCurrency(Currency Value) { SetAsFloat(Value.ToDouble()); }
TDateTime TField::GetAsDateTime() { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
double TField::GetAsFloat() { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
int TField::GetAsInteger() { AccessError("Integer"); }
void TField::SetAsInteger(int) { AccessError("Integer"); }
Int64 TField::GetAsLargeInt() { AccessError("LargeInt"); }
void TField::SetAsLargeInt(Int64) { AccessError("LargeInt"); }
String TField::GetAsString() { AccessError("String"); }
void TField::SetAsString(const String&) { AccessError("String"); }
WideString TField::GetAsWideString() { return Rtl::Utf8ToWide(GetAsString()); }
void TField::SetAsWideString(const WideString& Value) { SetAsString(Rtl::WideToUtf8(Value)); }
Variant TField::GetAsVariant() { AccessError("Variant"); }
void TField::SetVarValue(const Variant&) { AccessError("Variant"); }

TBcd TField::GetAsBCD() {
    TBcd bcd;
    if (!Rtl::CurrToBCD(GetAsCurrency(), bcd, 32, 4)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    return bcd;
}

void TField::SetAsBCD(const TBcd& Value) {
    Currency c;
    if (!Rtl::IsValidBcd(Value) || !Rtl::BCDToCurr(Value, c)) DatabaseErrorFmt(SFieldOutOfRange, {GetDisplayName()});
    SetAsCurrency(c);
}

void TField::SetAsVariant(const Variant& Value) {
    Variant v = Value.IsByRef() ? Value.Deref() : Value;
    if (v.IsNull() || v.IsEmpty())
        Clear();
    else
        SetVarValue(v);
}

// ---- Old, current and new values -----------------------------------------------------------

Variant TField::GetOldValue() {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    return FDataSet->GetStateFieldValue(dsOldValue, this);
}

Variant TField::GetCurValue() {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    return FDataSet->GetStateFieldValue(dsCurValue, this);
}

Variant TField::GetNewValue() {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    return FDataSet->GetStateFieldValue(dsNewValue, this);
}

void TField::SetNewValue(const Variant& Value) {
    if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {GetDisplayName()});
    FDataSet->SetStateFieldValue(dsNewValue, this, Value);
}

// ---- Text ------------------------------------------------------------------------------------

void TField::ValueToText(String& Text, bool) { Text = GetAsString(); }

String TField::GetText() {
    String text;
    if (OnGetText)
        OnGetText(this, text, false);
    else
        ValueToText(text, false);
    return text;
}

String TField::GetDisplayText() {
    String text;
    if (OnGetText)
        OnGetText(this, text, true);
    else
        ValueToText(text, true);
    return text;
}

void TField::SetText(const String& Value) {
    if (OnSetText)
        OnSetText(this, Value);
    else
        TextToValue(Value);
}

// ---- Description -------------------------------------------------------------------------------

void TField::CheckInactive() {
    if (FDataSet) FDataSet->CheckInactive();
}

void TField::SetDataSet(TDataSet* Value) {
    if (Value == FDataSet) return;
    if (FDataSet) FDataSet->CheckInactive();
    if (Value) {
        Value->CheckInactive();
        Value->CheckFieldName(FFieldName);
    }
    if (FDataSet) FDataSet->FFields->Remove(this);
    if (Value) Value->FFields->Add(this);
}

void TField::SetFieldName(const String& Value) {
    if (FDataSet && !Rtl::AnsiSameText(Value, FFieldName)) {
        FDataSet->CheckInactive();
        FDataSet->CheckFieldName(Value);
    }
    FFieldName = Value;
    if (FDisplayLabel == Value) FDisplayLabel.clear();
    if (FDataSet) FDataSet->FFields->Changed();
    if (TDataSet* pending = FPendingDataSet; pending && !Value.empty()) {
        FPendingDataSet = nullptr;
        pending->RemoveFreeNotification(this);
        SetDataSet(pending);
    }
}

void TField::CheckTypeSize(int Value) const {
    if (Value != 0 && !IsBlob()) DatabaseError(SInvalidFieldSize);
}

void TField::SetSize(int Value) {
    CheckInactive();
    CheckTypeSize(Value);
    FSize = Value;
}

void TField::SetFieldKind(TFieldKind Value) {
    if (FFieldKind == Value) return;
    if (Value == fkAggregate) DatabaseError(SInvalidFieldKind);
    // Calculated values live in raw bytes of the record buffer: blobs have no
    // bytes there, and variants and interfaces are objects that raw memory
    // cannot hold safely.
    bool objectType = FDataType == ftVariant || FDataType == ftInterface || FDataType == ftIDispatch;
    if ((IsBlob() || objectType) && (Value == fkCalculated || Value == fkLookup))
        DatabaseErrorFmt(SInvalidCalcType, {GetDisplayName()});
    CheckInactive();
    FFieldKind = Value;
}

int TField::GetIndex() const { return FDataSet ? FDataSet->FFields->IndexOf(this) : -1; }

void TField::SetIndex(int Value) {
    if (FDataSet) FDataSet->FFields->SetFieldIndex(this, Value);
}

void TField::PropertyChanged(bool LayoutAffected) {
    if (FDataSet && FDataSet->GetActive())
        FDataSet->DataEvent(LayoutAffected ? deLayoutChange : deDataSetChange, 0);
}

void TField::SetDisplayLabel(const String& Value) {
    String label = Value == FFieldName ? String() : Value;
    if (label == FDisplayLabel) return;
    FDisplayLabel = label;
    PropertyChanged(true);
}

int TField::GetDisplayWidth() const { return FDisplayWidth > 0 ? FDisplayWidth : GetDefaultWidth(); }

void TField::SetDisplayWidth(int Value) {
    if (Value == FDisplayWidth) return;
    FDisplayWidth = Value;
    PropertyChanged(true);
}

void TField::SetAlignment(TAlignment Value) {
    if (Value == FAlignment) return;
    FAlignment = Value;
    PropertyChanged(false);
}

void TField::SetReadOnly(bool Value) {
    if (Value == FReadOnly) return;
    FReadOnly = Value;
    PropertyChanged(true);
}

void TField::SetVisible(bool Value) {
    if (Value == FVisible) return;
    FVisible = Value;
    PropertyChanged(true);
}

bool TField::GetCanModify() {
    if (FReadOnly || !FDataSet || !FDataSet->GetActive()) return false;
    if (FFieldKind != fkData && FFieldKind != fkInternalCalc) return false;
    return FDataSet->GetCanModify();
}

void TField::CheckReadOnly() const {
    if (FReadOnly) DatabaseErrorFmt(SFieldReadOnly, {GetDisplayName()});
}

// ---- Lookup fields ------------------------------------------------------------------------------

void TField::SetLookupDataSet(TDataSet* Value) {
    if (Value == FLookupDataSet) return;
    CheckInactive();
    if (FLookupDataSet) FLookupDataSet->RemoveFreeNotification(this);
    FLookupDataSet = Value;
    if (Value) Value->FreeNotification(this);
}

void TField::SetKeyFields(const String& Value) {
    CheckInactive();
    FKeyFields = Value;
}

void TField::SetLookupKeyFields(const String& Value) {
    CheckInactive();
    FLookupKeyFields = Value;
}

void TField::SetLookupResultField(const String& Value) {
    CheckInactive();
    FLookupResultField = Value;
}

void TField::Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) {
    Vcl::TComponent::Notification(AComponent, Operation);
    if (Operation == Vcl::opRemove && AComponent == FLookupDataSet) FLookupDataSet = nullptr;
    if (Operation == Vcl::opRemove && AComponent == FPendingDataSet) FPendingDataSet = nullptr;
}

void TField::ValidateLookupInfo(bool All) {
    if ((All && (!FLookupDataSet || FLookupKeyFields.empty() || FLookupResultField.empty())) || FKeyFields.empty())
        DatabaseErrorFmt(SLookupInfoError, {GetDisplayName()});
    FDataSet->FFields->CheckFieldNames(FKeyFields);
    if (All) {
        // A dataset looking values up in itself is being opened right now.
        if (FLookupDataSet != FDataSet) FLookupDataSet->Open();
        FLookupDataSet->FFields->CheckFieldNames(FLookupKeyFields);
        FLookupDataSet->FieldByName(FLookupResultField);
    }
}

void TField::Bind(bool Binding) {
    if (FFieldKind == fkLookup && Binding) ValidateLookupInfo(true);
}

void TField::CalcLookupValue() {
    if (FLookupDataSet && FLookupDataSet->GetActive())
        SetAsVariant(FLookupDataSet->Lookup(FLookupKeyFields, FDataSet->GetFieldValues(FKeyFields),
                                            FLookupResultField));
}

// ---- Form files -----------------------------------------------------------------------------------

Vcl::TComponent* TField::GetParentComponent() const { return FDataSet; }

// A form file may name the parent before the field's own properties are read.
// The field joins its dataset as soon as it has a name, so that it is there
// before the dataset (Active = True) opens in Loaded.
void TField::SetParentComponent(Vcl::TComponent* Value) {
    auto* dataSet = dynamic_cast<TDataSet*>(Value);
    if (!dataSet) return;
    if (GetComponentState().Contains(Vcl::csLoading) && FFieldName.empty()) {
        FPendingDataSet = dataSet;
        if (FPendingDataSet) FPendingDataSet->FreeNotification(this);
        return;
    }
    SetDataSet(dataSet);
}

void TField::Loaded() {
    Vcl::TComponent::Loaded();
    if (TDataSet* pending = FPendingDataSet) {
        FPendingDataSet = nullptr;
        pending->RemoveFreeNotification(this);
        SetDataSet(pending);
    }
}

// ---- TFields -----------------------------------------------------------------------------------------

TField* TFields::GetField(int Index) const {
    if (Index < 0 || Index >= Count()) DatabaseError(SFieldIndexError, FDataSet);
    return FList[Index];
}

TField* TFields::FindField(const String& FieldName) const {
    for (TField* field : FList)
        if (Rtl::AnsiSameText(field->GetFieldName(), FieldName)) return field;
    return nullptr;
}

TField* TFields::FieldByName(const String& FieldName) const {
    TField* field = FindField(FieldName);
    if (!field) DatabaseErrorFmt(SFieldNotFound, {FieldName}, FDataSet);
    return field;
}

TField* TFields::FieldByNumber(int FieldNo) const {
    for (TField* field : FList)
        if (field->GetFieldNo() == FieldNo) return field;
    return nullptr;
}

int TFields::IndexOf(const TField* Field) const noexcept {
    auto it = std::find(FList.begin(), FList.end(), Field);
    return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TFields::CheckFieldNames(const String& FieldNames) const {
    int pos = 1;
    while (pos <= static_cast<int>(FieldNames.size())) FieldByName(ExtractFieldName(FieldNames, pos));
}

void TFields::GetFieldNames(Rtl::TStrings* List) const {
    List->BeginUpdate();
    try {
        List->Clear();
        for (TField* field : FList) List->Add(field->GetFieldName());
    } catch (...) {
        List->EndUpdate();
        throw;
    }
    List->EndUpdate();
}

void TFields::Add(TField* Field) {
    FList.push_back(Field);
    Field->FDataSet = FDataSet;
    Changed();
}

void TFields::Remove(TField* Field) {
    std::erase(FList, Field);
    Field->FDataSet = nullptr;
    Changed();
}

void TFields::Clear() {
    while (!FList.empty()) {
        TField* field = FList.back();
        FList.pop_back();
        field->FDataSet = nullptr;
        delete field;
    }
    Changed();
}

void TFields::SetFieldIndex(TField* Field, int Value) {
    int cur = IndexOf(Field);
    if (cur < 0) return;
    Value = std::clamp(Value, 0, Count() - 1);
    if (cur == Value) return;
    FList.erase(FList.begin() + cur);
    FList.insert(FList.begin() + Value, Field);
    Changed();
}

void TFields::Changed() {
    if (FDataSet && !FDataSet->GetComponentState().Contains(Vcl::csDestroying))
        FDataSet->DataEvent(deFieldListChange, 0);
}

}  // namespace Db
