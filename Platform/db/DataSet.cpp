// TDataSet: construction, the open and close sequences, states, data events,
// fields and field definitions, calculated fields and value conversion.

#include "Platform/db/DataSet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSource.h"
#include "Platform/db/FieldDefs.h"
#include "Platform/db/StdFields.h"
#include "Platform/vcl/Forms.h"

namespace Db {

// Publishes nothing: each descendant lists what it offers (see PublishDataSetProperties).
VCL_CLASS_IMPL(TDataSet, Vcl::TComponent) {}

TDataSet::TDataSet(Vcl::TComponent* AOwner)
    : Vcl::TComponent(AOwner), FFields(std::make_unique<TFields>(this)), FFieldDefs(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
    // A descendant closes the cursor in its own destructor; what is left here is
    // the framework's own state. The virtual operations of the descendant are
    // gone by now, so nothing below may call them.
    FBuffers.clear();
    for (TDataSource* source : FDataSources) {
        source->FDataSet = nullptr;
        source->UpdateState();
    }
    FDataSources.clear();
    // Default fields are owned by this dataset and freed with its owned
    // components; persistent fields belong to their owner and only forget the
    // dataset.
    for (TField* field : FFields->FList) field->FDataSet = nullptr;
    FFields->FList.clear();
}

void TDataSet::BeforeDestruction() {
    Vcl::TComponent::BeforeDestruction();
    // Still whole: the descendant can free its cursor and record buffers.
    try {
        SetActive(false);
    } catch (...) {
    }
    while (!FDataSources.empty()) RemoveDataSource(FDataSources.back());
}

void TDataSet::GetChildren(const Vcl::TGetChildProc& Proc, Vcl::TComponent* Root) {
    for (TField* field : std::vector<TField*>(FFields->FList))
        if (field->GetOwner() == Root) Proc(field);
}

// ---- Opening and closing ------------------------------------------------------------

void TDataSet::SetActive(bool Value) {
    if (GetComponentState().Contains(Vcl::csReading)) {
        FStreamedActive = Value;
        return;
    }
    if (GetActive() == Value) return;
    if (Value) {
        DoBeforeOpen();
        try {
            OpenCursor(false);
        } catch (...) {
            SetState(dsInactive);
            CloseCursor();
            throw;
        }
        OpenCursorComplete();
    } else {
        bool destroying = GetComponentState().Contains(Vcl::csDestroying);
        if (!destroying) DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        if (!destroying) DoAfterClose();
    }
}

void TDataSet::OpenCursorComplete() {
    SetState(dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::OpenCursor(bool InfoQuery) {
    if (InfoQuery) {
        InternalInitFieldDefs();
        return;
    }
    FDefaultFields = FFields->Count() == 0;
    InternalOpen();
    FInternalOpenComplete = true;
    UpdateBufferCount();
    FBOF = true;
}

void TDataSet::CloseCursor() {
    FInternalOpenComplete = false;
    FreeFieldBuffers();
    ClearBuffers();
    SetBufListSize(0);
    FBufferCount = 0;
    InternalClose();
    FDefaultFields = false;
}

void TDataSet::InitFieldDefs() {
    if (IsCursorOpen()) {
        InternalInitFieldDefs();
        return;
    }
    try {
        OpenCursor(true);
    } catch (...) {
        CloseCursor();
        throw;
    }
    CloseCursor();
}

void TDataSet::Loaded() {
    Vcl::TComponent::Loaded();
    try {
        if (FStreamedActive) SetActive(true);
    } catch (...) {
        if (GetComponentState().Contains(Vcl::csDesigning))
            InternalHandleException();
        else
            throw;
    }
}

void TDataSet::InternalHandleException() { Vcl::Application->HandleException(this); }

// ---- States ---------------------------------------------------------------------------

void TDataSet::CheckActive() const {
    if (!GetActive()) DatabaseError(SDataSetClosed, this);
}

void TDataSet::CheckInactive() {
    if (!GetActive()) return;
    auto state = GetComponentState();
    if (state.Contains(Vcl::csUpdating) || state.Contains(Vcl::csDesigning))
        Close();
    else
        DatabaseError(SDataSetOpen, this);
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (FState) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (FModified)
                Post();
            else
                Cancel();
            break;
        case dsSetKey: Post(); break;
        default: break;
    }
}

void TDataSet::SetState(TDataSetState Value) {
    if (FState == Value) return;
    FState = Value;
    FModified = false;
    DataEvent(deUpdateState, 0);
}

// The modified flag belongs to the edit in progress and survives temporary
// states: reading an old value in the middle of an edit must not make a later
// CheckBrowseMode drop the edit.
TDataSetState TDataSet::SetTempState(TDataSetState Value) {
    TDataSetState result = FState;
    FState = Value;
    ++FDisableCount;
    return result;
}

void TDataSet::RestoreState(TDataSetState Value) {
    FState = Value;
    --FDisableCount;
}

Variant TDataSet::GetStateFieldValue(TDataSetState State, TField* Field) {
    if (Field->GetFieldKind() != fkData && Field->GetFieldKind() != fkInternalCalc) return Variant::Null();
    TDataSetState saved = SetTempState(State);
    Variant result;
    try {
        result = Field->GetAsVariant();
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return result;
}

void TDataSet::SetStateFieldValue(TDataSetState State, TField* Field, const Variant& Value) {
    TDataSetState saved = SetTempState(State);
    try {
        Field->SetAsVariant(Value);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
}

void TDataSet::DisableControls() {
    if (FDisableCount == 0) {
        FDisableState = FState;
        FEnableEvent = deDataSetChange;
    }
    ++FDisableCount;
}

void TDataSet::EnableControls() {
    if (FDisableCount == 0) return;
    if (--FDisableCount != 0) return;
    if (FDisableState != FState) DataEvent(deUpdateState, 0);
    if (FDisableState != dsInactive && FState != dsInactive) DataEvent(FEnableEvent, 0);
}

void TDataSet::SetFilterOptions(TFilterOptions Value) {
    CheckBiDirectional();
    FFilterOptions = Value;
}

// ---- Data events ----------------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent Event, std::intptr_t Info) {
    bool notify = !(ControlsDisabled() || FState == dsBlockRead);
    switch (Event) {
        case deFieldChange: {
            auto* field = reinterpret_cast<TField*>(Info);
            if (field->GetFieldKind() == fkData || field->GetFieldKind() == fkInternalCalc) SetModified(true);
            UpdateCalcFields();
            field->Change();
            break;
        }
        case dePropertyChange: FFieldDefs->SetUpdated(false); break;
        case deDataSetChange:
        case deDataSetScroll:
            // Details follow their master even while the master reads blocks.
            if (FState == dsBlockRead)
                for (TDataSource* source : FDataSources) source->NotifyLinkTypes(Event, Info, false);
            break;
        default: break;
    }
    if (notify) {
        // A handler may unlink a source while being told.
        std::vector<TDataSource*> sources = FDataSources;
        for (TDataSource* source : sources)
            if (std::find(FDataSources.begin(), FDataSources.end(), source) != FDataSources.end())
                source->DataEvent(Event, Info);
    } else if ((Event == deUpdateState && FState == dsInactive) || Event == deLayoutChange) {
        FEnableEvent = deLayoutChange;
    }
}

void TDataSet::AddDataSource(TDataSource* DataSource) {
    FDataSources.push_back(DataSource);
    DataSource->FDataSet = this;
    UpdateBufferCount();
    DataSource->UpdateState();
}

void TDataSet::RemoveDataSource(TDataSource* DataSource) {
    DataSource->FDataSet = nullptr;
    std::erase(FDataSources, DataSource);
    DataSource->UpdateState();
    UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(TDataSource* DataSource) const {
    // Bounded walk: a chain longer than every dataset in the process is a circle
    // that was built some other way.
    for (int guard = 0; DataSource && guard < 100000; ++guard) {
        TDataSet* dataSet = DataSource->GetDataSet();
        if (!dataSet) break;
        if (dataSet == this) return true;
        DataSource = dataSet->GetDataSource();
    }
    return false;
}

void TDataSet::GetDetailDataSets(std::vector<TDataSet*>& List) const {
    List.clear();
    for (TDataSource* source : FDataSources)
        for (TDataLink* link : source->FDataLinks)
            if (auto* detail = dynamic_cast<TDetailDataLink*>(link))
                if (TDataSet* ds = detail->GetDetailDataSet(); ds && ds->GetActive()) List.push_back(ds);
}

// ---- Fields -----------------------------------------------------------------------------------

void TDataSet::SetFieldDefs(TFieldDefs* Value) { FFieldDefs->Assign(Value); }

int TDataSet::GetFieldCount() const { return FFields->Count(); }

TField* TDataSet::FindField(const String& FieldName) const { return FFields->FindField(FieldName); }

TField* TDataSet::FieldByName(const String& FieldName) const {
    TField* field = FFields->FindField(FieldName);
    if (!field) DatabaseErrorFmt(SFieldNotFound, {FieldName}, this);
    return field;
}

TField* TDataSet::FieldByNumber(int FieldNo) const { return FFields->FieldByNumber(FieldNo); }

void TDataSet::CheckFieldName(const String& FieldName) const {
    if (FieldName.empty()) DatabaseError(SFieldNameMissing, this);
    if (FindField(FieldName)) DatabaseErrorFmt(SDuplicateFieldName, {FieldName}, this);
}

void TDataSet::GetFieldList(std::vector<TField*>& List, const String& FieldNames) const {
    int pos = 1;
    while (pos <= static_cast<int>(FieldNames.size())) {
        String name = ExtractFieldName(FieldNames, pos);
        List.push_back(FieldByName(name));
    }
}

void TDataSet::GetFieldList(Rtl::TList* List, const String& FieldNames) const {
    std::vector<TField*> fields;
    GetFieldList(fields, FieldNames);
    for (TField* f : fields) List->Add(f);
}

void TDataSet::GetFieldNames(Rtl::TStrings* List) const {
    if (FFields->Count() > 0 || GetActive()) {
        FFields->GetFieldNames(List);
        return;
    }
    // Closed without persistent fields: the names the definitions would give.
    List->BeginUpdate();
    try {
        List->Clear();
        FFieldDefs->Update();
        for (int i = 0; i < FFieldDefs->Count(); ++i) List->Add(FFieldDefs->GetItem(i)->GetName());
    } catch (...) {
        List->EndUpdate();
        throw;
    }
    List->EndUpdate();
}

Variant TDataSet::GetFieldValues(const String& FieldNames) const {
    std::vector<TField*> fields;
    GetFieldList(fields, FieldNames);
    if (fields.size() == 1) return fields[0]->GetAsVariant();
    std::vector<Variant> values;
    values.reserve(fields.size());
    for (TField* f : fields) values.push_back(f->GetAsVariant());
    return Rtl::VarArrayOf(values);
}

void TDataSet::SetFieldValues(const String& FieldNames, const Variant& Value) {
    std::vector<TField*> fields;
    GetFieldList(fields, FieldNames);
    if (fields.size() == 1 && !Value.IsArray()) {
        fields[0]->SetAsVariant(Value);
        return;
    }
    if (!Value.IsArray() || Rtl::VarArrayDimCount(Value) != 1)
        DatabaseErrorFmt(SFieldCountMismatch, {1, static_cast<int>(fields.size())}, this);
    int low = Rtl::VarArrayLowBound(Value, 1);
    int count = Rtl::VarArrayHighBound(Value, 1) - low + 1;
    if (count != static_cast<int>(fields.size()))
        DatabaseErrorFmt(SFieldCountMismatch, {count, static_cast<int>(fields.size())}, this);
    for (int i = 0; i < count; ++i) fields[i]->SetAsVariant(Value.GetElement(low + i));
}

Rtl::TClass TDataSet::GetFieldClass(TFieldType FieldType) const {
    switch (FieldType) {
        case ftString:
        case ftFixedChar: return &TStringField::StaticClass();
        case ftSmallint: return &TSmallintField::StaticClass();
        case ftInteger: return &TIntegerField::StaticClass();
        case ftWord: return &TWordField::StaticClass();
        case ftBoolean: return &TBooleanField::StaticClass();
        case ftFloat: return &TFloatField::StaticClass();
        case ftCurrency: return &TCurrencyField::StaticClass();
        case ftBCD: return &TBCDField::StaticClass();
        case ftDate: return &TDateField::StaticClass();
        case ftTime: return &TTimeField::StaticClass();
        case ftDateTime: return &TDateTimeField::StaticClass();
        case ftBytes: return &TBytesField::StaticClass();
        case ftVarBytes: return &TVarBytesField::StaticClass();
        case ftAutoInc: return &TAutoIncField::StaticClass();
        case ftBlob:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob: return &TBlobField::StaticClass();
        case ftMemo:
        case ftOraClob: return &TMemoField::StaticClass();
        case ftGraphic: return &TGraphicField::StaticClass();
        case ftWideString: return &TWideStringField::StaticClass();
        case ftLargeint: return &TLargeintField::StaticClass();
        case ftVariant: return &TVariantField::StaticClass();
        case ftInterface: return &TInterfaceField::StaticClass();
        case ftIDispatch: return &TIDispatchField::StaticClass();
        case ftGuid: return &TGuidField::StaticClass();
        default: return nullptr;
    }
}

void TDataSet::CreateFields() {
    for (int i = 0; i < FFieldDefs->Count(); ++i) {
        TFieldDef* def = FFieldDefs->GetItem(i);
        if (def->GetDataType() != ftUnknown && !def->GetAttributes().Contains(faHiddenCol)) def->CreateField(this);
    }
}

void TDataSet::DestroyFields() { FFields->Clear(); }

// Field types that bind to each other: a persistent field of one may stand for
// a column of the other.
static TFieldType BaseFieldType(TFieldType t) {
    switch (t) {
        case ftAutoInc: return ftInteger;
        case ftFixedChar:
        case ftGuid: return ftString;
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftGraphic:
        case ftOraBlob: return ftBlob;
        case ftOraClob: return ftMemo;
        default: return t;
    }
}

void TDataSet::CheckFieldCompatibility(TField* Field, TFieldDef* FieldDef) const {
    if (BaseFieldType(Field->GetDataType()) != BaseFieldType(FieldDef->GetDataType()))
        DatabaseErrorFmt(SFieldTypeMismatch,
                         {Field->GetDisplayName(), FieldTypeName(Field->GetDataType()),
                          FieldTypeName(FieldDef->GetDataType())},
                         this);
    TFieldType t = Field->GetDataType();
    if ((t == ftBytes || t == ftVarBytes || t == ftBCD) && Field->GetSize() != FieldDef->GetSize())
        DatabaseErrorFmt(SFieldSizeMismatch, {Field->GetDisplayName(), Field->GetSize(), FieldDef->GetSize()},
                         this);
}

void TDataSet::BindFields(bool Binding) {
    FCalcFieldsSize = 0;
    FBlobFieldCount = 0;
    FInternalCalcFields = false;
    for (TField* field : *FFields) {
        if (!Binding) {
            field->Bind(false);
            field->FFieldNo = 0;
            continue;
        }
        if (field->GetFieldKind() == fkCalculated || field->GetFieldKind() == fkLookup) {
            field->FFieldNo = -1;
            field->FOffset = FCalcFieldsSize;
            FCalcFieldsSize += field->GetDataSize() + 1;
        } else {
            TFieldDef* def = FFieldDefs->Find(field->GetFieldName());
            if (!def) DatabaseErrorFmt(SFieldNotFound, {field->GetDisplayName()}, this);
            CheckFieldCompatibility(field, def);
            if (field->IsBlob()) {
                field->FSize = def->GetSize();
                field->FOffset = FBlobFieldCount++;
            } else if (field->GetDataType() == ftString || field->GetDataType() == ftFixedChar ||
                       field->GetDataType() == ftWideString) {
                // A persistent text field takes the column's width, so that reads and
                // writes move exactly what the descendant's slot holds.
                field->FSize = def->GetSize();
            }
            if (def->GetInternalCalcField() || field->GetFieldKind() == fkInternalCalc) FInternalCalcFields = true;
            field->FFieldNo = def->GetFieldNo();
        }
        field->Bind(true);
    }
}

// ---- Calculated fields ----------------------------------------------------------------------------

void TDataSet::GetCalcFields(TRecordBuffer Buffer) {
    if (FCalcFieldsSize > 0 || FInternalCalcFields) {
        TDataSetState saved = SetTempState(dsCalcFields);
        try {
            CalculateFields(Buffer);
        } catch (...) {
            RestoreState(saved);
            throw;
        }
        RestoreState(saved);
    }
}

void TDataSet::CalculateFields(TRecordBuffer Buffer) {
    FCalcBuffer = Buffer;
    if (FState == dsInternalCalc) return;
    TDataSetState saved = SetTempState(dsCalcFields);
    try {
        ClearCalcFields(FCalcBuffer);
        for (TField* field : *FFields)
            if (field->GetFieldKind() == fkLookup) field->CalcLookupValue();
        DoOnCalcFields();
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
}

void TDataSet::UpdateCalcFields() {
    if (FState == dsSetKey || !FAutoCalcFields || FCalcFieldsSize == 0) return;
    if (FState == dsCalcFields || FState == dsFilter || FState == dsInternalCalc) return;
    if (TRecordBuffer buffer = ActiveBuffer()) CalculateFields(buffer);
}

// ---- Field data ------------------------------------------------------------------------------------

namespace {
// Scratch space for one native value, aligned for any of the native types.
struct NativeScratch {
    explicit NativeScratch(TField* Field) : FVariant(Field->GetDataType() == ftVariant) {
        std::size_t size = static_cast<std::size_t>(std::max(Field->GetDataSize(), 1));
        FData.assign((size + 15) / 16, {});
        if (FVariant) new (FData.data()) Variant();
    }
    ~NativeScratch() {
        if (FVariant) reinterpret_cast<Variant*>(FData.data())->~Variant();
    }
    void* Get() noexcept { return FData.data(); }

    struct alignas(16) Block {
        Byte B[16];
    };
    std::vector<Block> FData;
    bool FVariant;
};
}  // namespace

bool TDataSet::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
    if (NativeFormat) return GetFieldData(Field, Buffer);
    NativeScratch scratch(Field);
    bool result = GetFieldData(Field, Buffer ? scratch.Get() : nullptr);
    if (result && Buffer) DataConvert(Field, scratch.Get(), Buffer, false);
    return result;
}

void TDataSet::SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) {
    if (NativeFormat || !Buffer) {
        SetFieldData(Field, Buffer);
        return;
    }
    NativeScratch scratch(Field);
    DataConvert(Field, Buffer, scratch.Get(), true);
    SetFieldData(Field, scratch.Get());
}

void TDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
    switch (Field->GetDataType()) {
        case ftDate:
        case ftTime:
        case ftDateTime: {
            if (ToNative) {
                double value;
                std::memcpy(&value, Source, sizeof value);
                if (!std::isfinite(value) || value < Rtl::MinDateTime || value >= Rtl::MaxDateTime + 1)
                    DatabaseErrorFmt(SFieldOutOfRange, {Field->GetDisplayName()});
                Rtl::TTimeStamp ts = Rtl::DateTimeToTimeStamp(TDateTime(value));
                if (Field->GetDataType() == ftDate) {
                    std::memcpy(Dest, &ts.Date, 4);
                } else if (Field->GetDataType() == ftTime) {
                    std::memcpy(Dest, &ts.Time, 4);
                } else {
                    double ms = Rtl::TimeStampToMSecs(ts);
                    std::memcpy(Dest, &ms, 8);
                }
            } else {
                Rtl::TTimeStamp ts;
                if (Field->GetDataType() == ftDate) {
                    std::memcpy(&ts.Date, Source, 4);
                    ts.Time = 0;
                } else if (Field->GetDataType() == ftTime) {
                    std::memcpy(&ts.Time, Source, 4);
                    ts.Date = Rtl::DateDelta;
                } else {
                    double ms;
                    std::memcpy(&ms, Source, 8);
                    if (!std::isfinite(ms) || ms < 0 || ms > 1e15)
                        DatabaseErrorFmt(SFieldOutOfRange, {Field->GetDisplayName()});
                    ts = Rtl::MSecsToTimeStamp(ms);
                }
                if (ts.Date <= 0 || ts.Time < 0 || ts.Time >= Rtl::MSecsPerDay)
                    DatabaseErrorFmt(SFieldOutOfRange, {Field->GetDisplayName()});
                TDateTime dt = Rtl::TimeStampToDateTime(ts);
                std::memcpy(Dest, &dt.Value, sizeof(double));
            }
            break;
        }
        case ftBCD: {
            if (ToNative) {
                Currency c;
                std::memcpy(&c, Source, sizeof c);
                TBcd bcd;
                if (!Rtl::CurrToBCD(c, bcd, 32, 4)) DatabaseErrorFmt(SFieldOutOfRange, {Field->GetDisplayName()});
                std::memcpy(Dest, &bcd, sizeof bcd);
            } else {
                TBcd bcd;
                std::memcpy(&bcd, Source, sizeof bcd);
                Currency c;
                if (!Rtl::IsValidBcd(bcd) || !Rtl::BCDToCurr(bcd, c))
                    DatabaseErrorFmt(SFieldOutOfRange, {Field->GetDisplayName()});
                std::memcpy(Dest, &c, sizeof c);
            }
            break;
        }
        case ftVariant:
            *static_cast<Variant*>(Dest) = *static_cast<const Variant*>(Source);
            break;
        default:
            std::memcpy(Dest, Source, static_cast<std::size_t>(std::max(Field->GetFormSize(false), 0)));
            break;
    }
}

Rtl::TStream* TDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    DatabaseErrorFmt(SNotABlobField, {Field->GetDisplayName()}, this);
}

}  // namespace Db
