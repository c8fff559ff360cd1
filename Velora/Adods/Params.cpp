// TParam and TParams: values, conversions, assignment and the collection's
// look-ups. The SQL scanner is in ParseSql.cpp, native buffers and the legacy
// "Data" reader in ParamData.cpp.

#include "Velora/Adods/Params.h"

#include <memory>

#include "Platform/vcl/Graphics.h"

namespace Velora {

using namespace Db;
using Rtl::TVarType;

// ---- TParam -----------------------------------------------------------------------------------

VCL_ITEM_IMPL(TParam, Vcl::TCollectionItem) {
    Prop("DataType", &TParam::GetDataType, &TParam::SetDataType).NoDefault();
    Prop("Name", &TParam::FName, &TParam::FName);
    Prop("ParamType", &TParam::GetParamType, &TParam::SetParamType).NoDefault();
    Prop("Value", &TParam::GetAsVariant, &TParam::SetAsVariant).Stored(&TParam::IsParamStored);
    Prop("ParamAttributes", &TParam::GetParamAttributes, &TParam::SetParamAttributes).NoDefault();
    Prop("NumericScale", &TParam::GetNumericScale, &TParam::SetNumericScale).NoDefault();
    Prop("Precision", &TParam::GetPrecision, &TParam::SetPrecision).NoDefault();
    Prop("Size", &TParam::GetSize, &TParam::SetSize).NoDefault();
}

TParam* TParam::Create(TParams* Params, TParamType ParamType) {
    TParam* p = Params ? Params->Add() : new TParam();
    p->SetParamType(ParamType);
    return p;
}

TParams* TParam::Params() const { return static_cast<TParams*>(GetCollection()); }

TParam* TParam::ParamRef() const {
    TParams* params = Params();
    if (!params) return const_cast<TParam*>(this);
    if (!FParamRef || FRefGeneration != params->FGeneration) {
        FParamRef = FName.empty() ? const_cast<TParam*>(this) : params->ParamByName(FName);
        FRefGeneration = params->FGeneration;
    }
    return FParamRef;
}

TDataSet* TParam::GetDataSet() const {
    TParams* params = Params();
    return params ? params->GetDataSet() : nullptr;
}

String TParam::GetDisplayName() const { return FName.empty() ? TCollectionItem::GetDisplayName() : FName; }

// Properties shared with the value owner.
TFieldType TParam::GetDataType() const { return ParamRef()->FDataType; }
TParamType TParam::GetParamType() const { return ParamRef()->FParamType; }
void TParam::SetParamType(TParamType Value) { ParamRef()->FParamType = Value; }
TParamAttributes TParam::GetParamAttributes() const { return ParamRef()->FAttributes; }
void TParam::SetParamAttributes(TParamAttributes Value) { ParamRef()->FAttributes = Value; }
Byte TParam::GetNumericScale() const { return ParamRef()->FNumericScale; }
void TParam::SetNumericScale(Byte Value) { ParamRef()->FNumericScale = Value; }
Byte TParam::GetPrecision() const { return ParamRef()->FPrecision; }
void TParam::SetPrecision(Byte Value) { ParamRef()->FPrecision = Value; }
int TParam::GetSize() const { return ParamRef()->FSize; }
void TParam::SetSize(int Value) { ParamRef()->FSize = Value; }

namespace {

// The variant kind a value of the field type is held in while designing;
// varError when there is none.
TVarType VariantKindOf(TFieldType DataType) noexcept {
    switch (DataType) {
        case ftString: case ftBytes: case ftVarBytes: case ftBlob: case ftMemo: case ftGraphic:
        case ftFmtMemo: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary: case ftFixedChar:
        case ftWideString: case ftOraBlob: case ftOraClob: case ftGuid:
            return Rtl::varOleStr;
        case ftSmallint: case ftWord: return Rtl::varSmallint;
        case ftInteger: case ftAutoInc: return Rtl::varInteger;
        case ftBoolean: return Rtl::varBoolean;
        case ftFloat: return Rtl::varDouble;
        case ftCurrency: case ftBCD: return Rtl::varCurrency;
        case ftDate: case ftTime: case ftDateTime: return Rtl::varDate;
        case ftVariant: return Rtl::varVariant;
        case ftInterface: return Rtl::varUnknown;
        case ftIDispatch: return Rtl::varDispatch;
        default: return Rtl::varError;
    }
}

}  // namespace

void TParam::SetDataType(TFieldType Value) {
    TParam* owner = ParamRef();
    owner->FDataType = Value;
    TDataSet* ds = GetDataSet();
    if (ds && ds->GetComponentState().Contains(Vcl::csDesigning) && !owner->GetIsNull()) {
        // In the designer the value is kept in the new type when it converts.
        const TVarType kind = VariantKindOf(Value);
        if (kind == Rtl::varError) {
            owner->Clear();
            return;
        }
        try {
            owner->FData = Rtl::VarAsType(owner->FData, kind);
        } catch (const Rtl::Exception&) {
            owner->Clear();
        }
        return;
    }
    owner->Clear();
}

bool TParam::GetIsNull() const { return FNull || FData.IsNull() || FData.IsEmpty(); }

void TParam::Clear() {
    FNull = true;
    FData.Clear();
}

Variant TParam::GetAsVariant() const { return ParamRef()->FData; }

void TParam::SetAsVariant(const Variant& Value) {
    TParam* owner = ParamRef();
    if (owner != this) {
        owner->SetAsVariant(Value);
        return;
    }
    // A by-reference variant would point at storage that is not ours.
    const Variant v = Value.Deref();
    FBound = !v.IsEmpty();
    FNull = v.IsEmpty() || v.IsNull();
    if (FDataType == ftUnknown) {
        switch (v.VType()) {
            case Rtl::varSmallint: case Rtl::varByte: FDataType = ftSmallint; break;
            case Rtl::varInteger: FDataType = ftInteger; break;
            case Rtl::varSingle: case Rtl::varDouble: FDataType = ftFloat; break;
            case Rtl::varCurrency: FDataType = ftBCD; break;
            case Rtl::varDate: FDataType = ftDateTime; break;
            case Rtl::varOleStr: case Rtl::varString: FDataType = ftString; break;
            case Rtl::varBoolean: FDataType = ftBoolean; break;
            default: FDataType = ftUnknown; break;
        }
    }
    FData = v;
}

// Typed getters read the item's own value; a null item gives the neutral value.
bool TParam::GetAsBoolean() const { return GetIsNull() ? false : FData.ToBoolean(); }
double TParam::GetAsFloat() const { return GetIsNull() ? 0.0 : FData.ToDouble(); }
Currency TParam::GetAsCurrency() const { return GetIsNull() ? Currency() : FData.ToCurrency(); }
Currency TParam::GetAsBCD() const { return GetIsNull() ? Currency() : FData.ToCurrency(); }
int TParam::GetAsInteger() const { return GetIsNull() ? 0 : FData.ToInteger(); }
String TParam::GetAsMemo() const { return GetIsNull() ? String() : FData.ToString(); }
TDateTime TParam::GetAsDateTime() const { return GetIsNull() ? TDateTime() : FData.ToDateTime(); }

String TParam::GetAsString() const {
    if (GetIsNull()) return {};
    if (GetDataType() == ftBoolean) return FData.ToBoolean() ? STextTrue : STextFalse;
    return FData.ToString();
}

// Typed setters write the item's own type first, then the value through the owner.
void TParam::SetAsBoolean(bool Value) { FDataType = ftBoolean; SetAsVariant(Variant(Value)); }
void TParam::SetAsFloat(double Value) { FDataType = ftFloat; SetAsVariant(Variant(Value)); }
void TParam::SetAsCurrency(Currency Value) { FDataType = ftCurrency; SetAsVariant(Variant(Value)); }
void TParam::SetAsBCD(Currency Value) { FDataType = ftBCD; SetAsVariant(Variant(Value)); }
void TParam::SetAsInteger(int Value) { FDataType = ftInteger; SetAsVariant(Variant(Value)); }
void TParam::SetAsSmallInt(int Value) { FDataType = ftSmallint; SetAsVariant(Variant(Value)); }
void TParam::SetAsWord(int Value) { FDataType = ftWord; SetAsVariant(Variant(Value)); }
void TParam::SetAsString(const String& Value) { FDataType = ftString; SetAsVariant(Variant(Value)); }
void TParam::SetAsMemo(const String& Value) { FDataType = ftMemo; SetAsVariant(Variant(Value)); }
void TParam::SetAsBlob(const String& Value) { FDataType = ftBlob; SetAsVariant(Variant(Value)); }
void TParam::SetAsDate(TDateTime Value) { FDataType = ftDate; SetAsVariant(Variant(Value)); }
void TParam::SetAsTime(TDateTime Value) { FDataType = ftTime; SetAsVariant(Variant(Value)); }
void TParam::SetAsDateTime(TDateTime Value) { FDataType = ftDateTime; SetAsVariant(Variant(Value)); }

void TParam::SetText(const String& S) { SetAsVariant(Variant(S)); }

void TParam::SetBlobData(const void* Buffer, std::size_t Size) {
    SetAsBlob(Size ? String(static_cast<const char*>(Buffer), Size) : String());
}

void TParam::LoadFromStream(TStream* Stream, TFieldType BlobType) {
    FDataType = BlobType;
    Stream->SetPosition(0);
    const Rtl::Int64 size = Stream->GetSize();
    String bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (!bytes.empty()) Stream->ReadBuffer(bytes.data(), static_cast<Rtl::Int64>(bytes.size()));
    SetAsVariant(Variant(bytes));
}

void TParam::LoadFromFile(const String& FileName, TFieldType BlobType) {
    Rtl::TFileStream stream(FileName, Rtl::fmOpenRead | Rtl::fmShareDenyNone);
    LoadFromStream(&stream, BlobType);
}

// ---- Assignment ----------------------------------------------------------------------------------

void TParam::Assign(TPersistent* Source) {
    if (auto* param = dynamic_cast<TParam*>(Source)) {
        AssignParam(param);
    } else if (auto* field = dynamic_cast<TField*>(Source)) {
        AssignField(field);
    } else if (auto* strings = dynamic_cast<Rtl::TStrings*>(Source)) {
        SetAsMemo(strings->GetText());
    } else {
        Vcl::TBitmap* bitmap = dynamic_cast<Vcl::TBitmap*>(Source);
        if (auto* picture = dynamic_cast<Vcl::TPicture*>(Source))
            bitmap = dynamic_cast<Vcl::TBitmap*>(picture->GetGraphic());
        if (!bitmap) {
            TCollectionItem::Assign(Source);
            return;
        }
        Rtl::TMemoryStream stream;
        bitmap->SaveToStream(&stream);
        LoadFromStream(&stream, ftGraphic);
    }
}

void TParam::AssignTo(TPersistent* Dest) const {
    if (auto* field = dynamic_cast<TField*>(Dest)) {
        field->SetValue(FData);
        return;
    }
    TCollectionItem::AssignTo(Dest);
}

void TParam::AssignParam(TParam* Source) {
    if (!Source) return;
    FDataType = Source->GetDataType();
    if (Source->GetIsNull()) Clear();
    else SetAsVariant(Source->FData);
    FBound = Source->FBound;
    FName = Source->FName;
    if (FParamType == ptUnknown) SetParamType(Source->GetParamType());
    SetSize(Source->GetSize());
    SetPrecision(Source->GetPrecision());
    SetNumericScale(Source->GetNumericScale());
    SetParamAttributes(Source->GetParamAttributes());
}

void TParam::AssignFieldValue(TField* Field, const Variant& Value) {
    if (!Field) return;
    TFieldType type = Field->GetDataType();
    if (auto* s = dynamic_cast<TStringField*>(Field); s && s->GetFixedChar()) type = ftFixedChar;
    else if (dynamic_cast<TMemoField*>(Field) && Field->GetSize() > 255) type = ftString;
    SetDataType(type);
    if (Value.IsNull()) Clear();
    else SetAsVariant(Value);
    FBound = true;
}

void TParam::AssignField(TField* Field) {
    if (!Field) return;
    AssignFieldValue(Field, Field->GetValue());
    FName = Field->GetFieldName();
}

bool TParam::IsEqual(TParam* Value) {
    if (!Value) return false;
    return FData.VType() == Value->FData.VType() && (FData.IsEmpty() || FData == Value->FData) &&
           FName == Value->FName && GetDataType() == Value->GetDataType() && GetIsNull() == Value->GetIsNull() &&
           FBound == Value->FBound && GetParamType() == Value->GetParamType() &&
           GetParamAttributes() == Value->GetParamAttributes() && GetNumericScale() == Value->GetNumericScale() &&
           GetPrecision() == Value->GetPrecision() && GetSize() == Value->GetSize();
}

// ---- TParams ----------------------------------------------------------------------------------

VCL_CLASS_IMPL(TParams, Vcl::TCollection) {}

TParams::TParams(TPersistent* Owner) : TCollection(&TParam::StaticClass()), FOwner(Owner) {}

TParam* TParams::Items(int Index) const { return Raw(Index)->ParamRef(); }

void TParams::SetItem(int Index, TParam* Value) { TCollection::SetItem(Index, Value); }

void TParams::Update(Vcl::TCollectionItem* Item) {
    // Names and order may have changed: every value owner is found again on
    // its next use.
    ForgetOwners();
    TCollection::Update(Item);
}

void TParams::Notify(Vcl::TCollectionItem* Item, Vcl::TCollectionNotification Action) {
    // Also inside an update block no cache may outlive the item it points at,
    // and an item arriving from another collection brings no cache along.
    ForgetOwners();
    static_cast<TParam*>(Item)->FParamRef = nullptr;
    TCollection::Notify(Item, Action);
}

TDataSet* TParams::GetDataSet() const { return dynamic_cast<TDataSet*>(FOwner); }

void TParams::AddParam(TParam* Value) { Value->SetCollection(this); }

void TParams::RemoveParam(TParam* Value) {
    if (Value->GetCollection() == this) Value->SetCollection(nullptr);
}

TParam* TParams::CreateParam(TFieldType FieldType, const String& ParamName, TParamType ParamType) {
    TParam* p = Add();
    p->SetParamType(ParamType);
    p->FName = ParamName;
    p->SetDataType(FieldType);
    return p;
}

TParam* TParams::FindParam(const String& ParamName) const {
    for (int i = 0, n = GetCount(); i < n; ++i)
        if (Rtl::AnsiCompareText(Raw(i)->FName, ParamName) == 0) return Raw(i);
    return nullptr;
}

TParam* TParams::ParamByName(const String& ParamName) const {
    TParam* p = FindParam(ParamName);
    if (!p) DatabaseErrorFmt(SParameterNotFound, {ParamName}, GetDataSet());
    return p;
}

void TParams::GetParamList(std::vector<TParam*>& List, const String& ParamNames) const {
    int pos = 1;
    const int n = static_cast<int>(ParamNames.size());
    while (pos <= n) List.push_back(ParamByName(ExtractFieldName(ParamNames, pos)));
}

void TParams::GetParamList(Rtl::TList* List, const String& ParamNames) const {
    std::vector<TParam*> params;
    GetParamList(params, ParamNames);
    for (TParam* p : params) List->Add(p);
}

Variant TParams::GetParamValue(const String& ParamName) const {
    if (ParamName.find(';') == String::npos) return ParamByName(ParamName)->GetAsVariant();
    std::vector<TParam*> params;
    GetParamList(params, ParamName);
    const int n = static_cast<int>(params.size());
    Variant result = Rtl::VarArrayCreate({0, n - 1}, Rtl::varVariant);
    for (int i = 0; i < n; ++i) result.PutElement(i, params[static_cast<std::size_t>(i)]->GetAsVariant());
    return result;
}

void TParams::SetParamValue(const String& ParamName, const Variant& Value) {
    if (ParamName.find(';') == String::npos) {
        ParamByName(ParamName)->SetAsVariant(Value);
        return;
    }
    std::vector<TParam*> params;
    GetParamList(params, ParamName);
    std::vector<Variant> values;
    values.reserve(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) values.push_back(Value.GetElement(static_cast<int>(i)));
    for (std::size_t i = 0; i < params.size(); ++i) params[i]->SetAsVariant(values[i]);
}

void TParams::AssignValues(TParams* Value) {
    for (int i = 0, n = Value->GetCount(); i < n; ++i) {
        TParam* source = Value->Items(i);
        if (TParam* p = FindParam(source->FName)) p->Assign(source);
    }
}

void TParams::AssignTo(TPersistent* Dest) const {
    if (auto* params = dynamic_cast<TParams*>(Dest)) {
        params->Assign(const_cast<TParams*>(this));
        return;
    }
    TCollection::AssignTo(Dest);
}

bool TParams::IsEqual(TParams* Value) const {
    if (!Value || Value->GetCount() != GetCount()) return false;
    for (int i = 0, n = GetCount(); i < n; ++i)
        if (!Items(i)->IsEqual(Value->Items(i))) return false;
    return true;
}

void TParams::DefineProperties(Vcl::TFiler* Filer) {
    TCollection::DefineProperties(Filer);
    // Older forms carry the parameters as a binary block; it is read and,
    // having no writer, dropped on the next save.
    Filer->DefineBinaryProperty("Data", [this](TStream* Stream) { ReadBinaryData(Stream); }, nullptr, false);
}

}  // namespace Velora
