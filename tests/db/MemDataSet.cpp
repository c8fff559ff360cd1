#include "tests/db/MemDataSet.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

namespace DbTest {

using namespace Db;
using Rtl::Byte;

// ---- TMemTable ---------------------------------------------------------------------

void TMemTable::AddColumn(const String& Name, TFieldType DataType, int Size, bool Required) {
    TMemColumn c;
    c.Name = Name;
    c.DataType = DataType;
    c.Size = Size;
    c.Required = Required;
    c.ReadOnly = DataType == ftAutoInc;
    Columns.push_back(c);
    for (TMemRow& row : Rows) row.Values.push_back(Variant::Null());
}

int TMemTable::ColumnIndex(const String& Name) const {
    for (std::size_t i = 0; i < Columns.size(); ++i)
        if (Rtl::SameText(Columns[i].Name, Name)) return static_cast<int>(i);
    return -1;
}

Int64 TMemTable::AddRow(std::vector<Variant> Values) {
    Values.resize(Columns.size(), Variant::Null());
    TMemRow row;
    row.Id = NewId();
    for (std::size_t i = 0; i < Columns.size(); ++i)
        if (Columns[i].DataType == ftAutoInc && Values[i].IsNull()) Values[i] = static_cast<int>(row.Id);
    row.Values = std::move(Values);
    Rows.push_back(std::move(row));
    return Rows.back().Id;
}

int TMemTable::IndexOfId(Int64 Id) const {
    for (std::size_t i = 0; i < Rows.size(); ++i)
        if (Rows[i].Id == Id) return static_cast<int>(i);
    return -1;
}

// ---- Native values ------------------------------------------------------------------

namespace {

int Align8(int n) { return (n + 7) & ~7; }

int NativeSize(TFieldType t, int size) {
    switch (t) {
        case ftString:
        case ftFixedChar: return size + 1;
        case ftGuid: return 39;
        case ftWideString: return (size + 1) * 2;
        case ftSmallint:
        case ftWord:
        case ftBoolean: return 2;
        case ftInteger:
        case ftAutoInc:
        case ftDate:
        case ftTime: return 4;
        case ftLargeint:
        case ftFloat:
        case ftCurrency:
        case ftDateTime: return 8;
        case ftBCD: return static_cast<int>(sizeof(Rtl::TBcd));
        case ftBytes: return size;
        case ftVarBytes: return size + 2;
        case ftVariant: return static_cast<int>(sizeof(Variant));
        case ftInterface:
        case ftIDispatch: return static_cast<int>(sizeof(Rtl::IUnknown*));
        default: return 0;
    }
}

bool IsObjectSlot(TFieldType t) { return t == ftVariant || t == ftInterface || t == ftIDispatch; }

std::vector<Byte> BytesOf(const Variant& v) {
    if (v.IsArray()) return Rtl::VarArrayToBytes(v);
    String s = v.ToString();
    return std::vector<Byte>(s.begin(), s.end());
}

template <class T>
void Put(Byte* p, T v) {
    std::memcpy(p, &v, sizeof v);
}
template <class T>
T Get(const Byte* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void PutNative(Byte* p, TFieldType t, int dataSize, const Variant& v) {
    switch (t) {
        case ftString:
        case ftFixedChar:
        case ftGuid: {
            String s = v.ToString();
            std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(dataSize - 1));
            while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
            std::memset(p, 0, static_cast<std::size_t>(dataSize));
            std::memcpy(p, s.data(), n);
            break;
        }
        case ftWideString: {
            Rtl::WideString w = v.ToWideString();
            std::size_t n = std::min<std::size_t>(w.size(), static_cast<std::size_t>(dataSize / 2 - 1));
            std::memset(p, 0, static_cast<std::size_t>(dataSize));
            std::memcpy(p, w.data(), n * 2);
            break;
        }
        case ftSmallint: Put<std::int16_t>(p, static_cast<std::int16_t>(v.ToInteger())); break;
        case ftWord: Put<std::uint16_t>(p, static_cast<std::uint16_t>(v.ToInteger())); break;
        case ftInteger:
        case ftAutoInc: Put<std::int32_t>(p, v.ToInteger()); break;
        case ftLargeint: Put<Int64>(p, v.ToInt64()); break;
        case ftBoolean: Put<std::int16_t>(p, v.ToBoolean() ? 1 : 0); break;
        case ftFloat:
        case ftCurrency: Put<double>(p, v.ToDouble()); break;
        case ftBCD: {
            Rtl::TBcd bcd;
            Rtl::CurrToBCD(v.ToCurrency(), bcd, 32, 4);
            Put(p, bcd);
            break;
        }
        case ftDate: Put<std::int32_t>(p, Rtl::DateTimeToTimeStamp(v.ToDateTime()).Date); break;
        case ftTime: Put<std::int32_t>(p, Rtl::DateTimeToTimeStamp(v.ToDateTime()).Time); break;
        case ftDateTime: Put<double>(p, Rtl::TimeStampToMSecs(Rtl::DateTimeToTimeStamp(v.ToDateTime()))); break;
        case ftBytes: {
            std::vector<Byte> b = BytesOf(v);
            std::memset(p, 0, static_cast<std::size_t>(dataSize));
            std::memcpy(p, b.data(), std::min<std::size_t>(b.size(), static_cast<std::size_t>(dataSize)));
            break;
        }
        case ftVarBytes: {
            std::vector<Byte> b = BytesOf(v);
            std::size_t n = std::min<std::size_t>(b.size(), static_cast<std::size_t>(dataSize - 2));
            Put<Rtl::Word>(p, static_cast<Rtl::Word>(n));
            std::memcpy(p + 2, b.data(), n);
            break;
        }
        case ftVariant: *reinterpret_cast<Variant*>(p) = v; break;
        case ftInterface:
        case ftIDispatch: {
            Rtl::IUnknown* unk = v.GetInterface();
            if (unk) unk->AddRef();
            auto*& slot = *reinterpret_cast<Rtl::IUnknown**>(p);
            if (slot) slot->Release();
            slot = unk;
            break;
        }
        default: break;
    }
}

Variant GetNative(const Byte* p, TFieldType t, int dataSize) {
    switch (t) {
        case ftString:
        case ftFixedChar:
        case ftGuid:
            return Variant(String(reinterpret_cast<const char*>(p),
                                  strnlen(reinterpret_cast<const char*>(p), static_cast<std::size_t>(dataSize))));
        case ftWideString: {
            Rtl::WideString w;
            for (int i = 0; i + 1 < dataSize; i += 2) {
                char16_t c = Get<char16_t>(p + i);
                if (!c) break;
                w.push_back(c);
            }
            return Variant(w);
        }
        case ftSmallint: return Variant(static_cast<int>(Get<std::int16_t>(p)));
        case ftWord: return Variant(static_cast<int>(Get<std::uint16_t>(p)));
        case ftInteger:
        case ftAutoInc: return Variant(Get<std::int32_t>(p));
        case ftLargeint: return Variant(static_cast<long long>(Get<Int64>(p)));
        case ftBoolean: return Variant(Get<std::int16_t>(p) != 0);
        case ftFloat:
        case ftCurrency: return Variant(Get<double>(p));
        case ftBCD: {
            Rtl::Currency c;
            Rtl::BCDToCurr(Get<Rtl::TBcd>(p), c);
            return Variant(c);
        }
        case ftDate: return Variant(Rtl::TimeStampToDateTime({0, Get<std::int32_t>(p)}));
        case ftTime: return Variant(Rtl::TimeStampToDateTime({Get<std::int32_t>(p), Rtl::DateDelta}));
        case ftDateTime: return Variant(Rtl::TimeStampToDateTime(Rtl::MSecsToTimeStamp(Get<double>(p))));
        case ftBytes: return Rtl::BytesToVarArray(p, static_cast<std::size_t>(dataSize));
        case ftVarBytes: {
            std::size_t n = std::min<std::size_t>(Get<Rtl::Word>(p), static_cast<std::size_t>(dataSize - 2));
            return Rtl::BytesToVarArray(p + 2, n);
        }
        case ftVariant: return *reinterpret_cast<const Variant*>(p);
        case ftInterface: return Variant::FromUnknown(*reinterpret_cast<Rtl::IUnknown* const*>(p));
        case ftIDispatch: return Variant::FromDispatch(*reinterpret_cast<Rtl::IUnknown* const*>(p));
        default: return Variant::Null();
    }
}

std::map<String, std::shared_ptr<TMemTable>>& TableRegistry() {
    static std::map<String, std::shared_ptr<TMemTable>> tables;
    return tables;
}

}  // namespace

void TMemTable::Register(const String& Name, std::shared_ptr<TMemTable> Table) {
    if (Table)
        TableRegistry()[Name] = std::move(Table);
    else
        TableRegistry().erase(Name);
}

// ---- TMemDataSet ---------------------------------------------------------------------

VCL_COMPONENT_IMPL(TMemDataSet, Db::TDataSet) {
    Db::PublishDataSetProperties(*this);
    Prop("ReadOnly", &TMemDataSet::GetReadOnly, &TMemDataSet::SetReadOnly).Default(false);
    Prop("TableName", &TMemDataSet::GetTableName, &TMemDataSet::SetTableName);
    Prop("MasterSource", &TMemDataSet::GetMasterSource, &TMemDataSet::SetMasterSource);
    Db::PublishDataSetBrowseEvents(*this);
    Db::PublishDataSetEditEvents(*this);
    Event("OnFilterRecord", &TDataSet::OnFilterRecord, &TDataSet::OnFilterRecord, "TFilterRecordEvent");
}

TMemDataSet::TMemDataSet(Vcl::TComponent* AOwner, std::shared_ptr<TMemTable> Table)
    : TDataSet(AOwner),
      FTable(Table ? std::move(Table) : std::make_shared<TMemTable>()),
      FMasterLink(std::make_unique<TMemMasterLink>(this)) {}

Db::TDataSet* TMemMasterLink::GetDetailDataSet() { return FDetail; }

void TMemDataSet::SetMasterSource(Db::TDataSource* Value) {
    if (IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    FMasterLink->SetDataSource(Value);
}

TMemDataSet::~TMemDataSet() {
    // Also when not destroyed through delete (BeforeDestruction closed it then).
    Destroying();
    Close();
}

void TMemDataSet::SetTable(std::shared_ptr<TMemTable> Table) {
    CheckInactive();
    FTable = Table ? std::move(Table) : std::make_shared<TMemTable>();
}

void TMemDataSet::SetTableName(const String& Value) {
    CheckInactive();
    FTableName = Value;
    auto it = TableRegistry().find(Value);
    if (it != TableRegistry().end()) FTable = it->second;
}

// ---- Layout and buffers ----------------------------------------------------------------

String*& TMemDataSet::BlobRef(TRecordBuffer Buffer, int Index) const {
    return *reinterpret_cast<String**>(Buffer + FBlobOffset + Index * 8);
}
Int64& TMemDataSet::BookmarkOf(TRecordBuffer Buffer) const { return *reinterpret_cast<Int64*>(Buffer + FTrailerOffset); }
int& TMemDataSet::RecNoOf(TRecordBuffer Buffer) const { return *reinterpret_cast<int*>(Buffer + FTrailerOffset + 8); }
Byte& TMemDataSet::FlagOf(TRecordBuffer Buffer) const { return Buffer[FTrailerOffset + 12]; }

TRecordBuffer TMemDataSet::AllocRecordBuffer() {
    auto* buffer = static_cast<TRecordBuffer>(::operator new(static_cast<std::size_t>(FRecBufSize), std::align_val_t(16)));
    std::memset(buffer, 0, static_cast<std::size_t>(FRecBufSize));
    for (const Slot& s : FSlots)
        if (s.DataType == ftVariant) new (buffer + s.Offset + 8) Variant();
    return buffer;
}

void TMemDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
    if (!Buffer) return;
    ClearSlots(Buffer);
    for (const Slot& s : FSlots)
        if (s.DataType == ftVariant) reinterpret_cast<Variant*>(Buffer + s.Offset + 8)->~Variant();
    ::operator delete(Buffer, std::align_val_t(16));
    Buffer = nullptr;
}

void TMemDataSet::ClearSlots(TRecordBuffer Buffer) {
    for (const Slot& s : FSlots) {
        if (s.Blob >= 0) continue;
        Byte* p = Buffer + s.Offset;
        p[0] = 0;
        if (s.DataType == ftVariant) {
            *reinterpret_cast<Variant*>(p + 8) = Variant();
        } else if (s.DataType == ftInterface || s.DataType == ftIDispatch) {
            auto*& unk = *reinterpret_cast<Rtl::IUnknown**>(p + 8);
            if (unk) unk->Release();
            unk = nullptr;
        } else {
            std::memset(p + 8, 0, static_cast<std::size_t>(s.DataSize));
        }
    }
    for (int i = 0; i < FBlobCount; ++i) {
        delete BlobRef(Buffer, i);
        BlobRef(Buffer, i) = nullptr;
    }
}

void TMemDataSet::ClearCalcFields(TRecordBuffer Buffer) {
    std::memset(Buffer + FDataSize, 0, static_cast<std::size_t>(GetCalcFieldsSize()));
}

const TMemDataSet::Slot* TMemDataSet::SlotOf(const TField* Field) const {
    int no = Field->GetFieldNo();
    if (no < 1 || no > static_cast<int>(FSlots.size())) return nullptr;
    return &FSlots[no - 1];
}

// ---- Opening and closing ------------------------------------------------------------------

void TMemDataSet::InternalInitFieldDefs() {
    TFieldDefs* defs = GetFieldDefs();
    defs->BeginUpdate();
    try {
        defs->Clear();
        for (const TMemColumn& c : FTable->Columns) {
            TFieldDef* def = defs->Add(c.Name, c.DataType, c.Size, c.Required);
            if (c.ReadOnly) def->SetAttributes(def->GetAttributes() + TFieldAttributes{faReadonly});
            def->SetPrecision(c.Precision);
        }
    } catch (...) {
        defs->EndUpdate();
        throw;
    }
    defs->EndUpdate();
}

void TMemDataSet::InternalOpen() {
    InternalInitFieldDefs();
    if (GetDefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(static_cast<int>(sizeof(Int64)));
    FSlots.clear();
    int offset = 0;
    TFieldDefs* defs = GetFieldDefs();
    for (int i = 0; i < defs->Count(); ++i) {
        TFieldDef* def = defs->GetItem(i);
        Slot s;
        s.Offset = offset;
        s.Column = FTable->ColumnIndex(def->GetName());
        s.DataType = def->GetDataType();
        s.DataSize = NativeSize(s.DataType, def->GetSize());
        if (IsBlobType(s.DataType)) {
            s.DataSize = 0;
            s.Blob = 1;
        } else {
            offset += 8 + Align8(s.DataSize);
        }
        FSlots.push_back(s);
    }
    FDataSize = offset;
    FBlobCount = GetBlobFieldCount();
    FBlobOffset = Align8(FDataSize + GetCalcFieldsSize());
    FTrailerOffset = FBlobOffset + 8 * FBlobCount;
    FRecBufSize = FTrailerOffset + 16;
    FOldBuffer = AllocRecordBuffer();
    FCurBuffer = AllocRecordBuffer();
    FCursor = -1;
    FCursorOpen = true;
}

void TMemDataSet::InternalClose() {
    FreeRecordBuffer(FOldBuffer);
    FreeRecordBuffer(FCurBuffer);
    BindFields(false);
    if (GetDefaultFields()) DestroyFields();
    FSlots.clear();
    FCursorOpen = false;
}

void TMemDataSet::InternalHandleException() {
    try {
        throw;
    } catch (const std::exception& e) {
        HandledErrors.push_back(e.what());
    } catch (...) {
        HandledErrors.push_back("unknown exception");
    }
}

// ---- Reading records ----------------------------------------------------------------------

void TMemDataSet::ReadRow(const std::vector<Variant>& Values, TRecordBuffer Buffer) {
    for (TField* field : *GetFields()) {
        const Slot* s = SlotOf(field);
        if (!s || s->Column < 0) continue;
        const Variant& v = Values[static_cast<std::size_t>(s->Column)];
        if (field->IsBlob()) {
            String*& ref = BlobRef(Buffer, field->GetOffset());
            delete ref;
            ref = nullptr;
            if (!v.IsNull()) {
                std::vector<Byte> bytes = BytesOf(v);
                ref = new String(bytes.begin(), bytes.end());
            }
            continue;
        }
        Byte* p = Buffer + s->Offset;
        if (v.IsNull() || v.IsEmpty()) {
            p[0] = 0;
            if (IsObjectSlot(s->DataType)) PutNative(p + 8, s->DataType, s->DataSize, Variant());
        } else {
            PutNative(p + 8, s->DataType, s->DataSize, v);
            p[0] = 1;
        }
    }
}

std::vector<Variant> TMemDataSet::WriteRow(TRecordBuffer Buffer, const std::vector<Variant>& Base) {
    std::vector<Variant> values = Base;
    values.resize(FTable->Columns.size(), Variant::Null());
    for (TField* field : *GetFields()) {
        const Slot* s = SlotOf(field);
        if (!s || s->Column < 0 || FTable->Columns[static_cast<std::size_t>(s->Column)].ReadOnly) continue;
        Variant& v = values[static_cast<std::size_t>(s->Column)];
        if (field->IsBlob()) {
            String* blob = BlobRef(Buffer, field->GetOffset());
            v = blob && !blob->empty() ? Variant(*blob) : Variant::Null();
            continue;
        }
        const Byte* p = Buffer + s->Offset;
        v = p[0] ? GetNative(p + 8, s->DataType, s->DataSize) : Variant::Null();
    }
    return values;
}

TGetResult TMemDataSet::InternalGetRecord(TRecordBuffer Buffer, TGetMode GetMode) {
    int n = RowCount();
    if (GetMode == gmNext && FCursor < n) ++FCursor;
    if (GetMode == gmPrior && FCursor >= 0) --FCursor;
    if (FCursor > n) FCursor = n;
    if (FCursor < 0) return grBOF;
    if (FCursor >= n) return grEOF;
    const TMemRow& row = FTable->Rows[static_cast<std::size_t>(FCursor)];
    FlagOf(Buffer) = bfCurrent;
    BookmarkOf(Buffer) = row.Id;
    RecNoOf(Buffer) = FCursor + 1;
    ReadRow(row.Values, Buffer);
    GetCalcFields(Buffer);
    return grOK;
}

TGetResult TMemDataSet::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
    if (!GetFiltered() || !OnFilterRecord) return InternalGetRecord(Buffer, GetMode);
    FFilterBuffer = Buffer;
    TDataSetState saved = SetTempState(dsFilter);
    TGetResult result = grError;
    try {
        bool accept;
        do {
            accept = true;
            result = InternalGetRecord(Buffer, GetMode);
            if (result == grOK) {
                OnFilterRecord(this, accept);
                if (!accept && GetMode == gmCurrent) result = grError;
            }
        } while (!accept && result == grOK);
    } catch (...) {
        result = grError;
    }
    RestoreState(saved);
    return result;
}

bool TMemDataSet::GetActiveRecBuf(TRecordBuffer& Buffer) {
    switch (GetState()) {
        case dsBrowse:
        case dsBlockRead: Buffer = IsEmpty() ? nullptr : ActiveBuffer(); break;
        case dsEdit:
        case dsInsert:
        case dsNewValue: Buffer = ActiveBuffer(); break;
        case dsCalcFields: Buffer = CalcBuffer(); break;
        case dsFilter: Buffer = FFilterBuffer; break;
        case dsOldValue: {
            // The values the record had when the edit began; a new record has none.
            ClearSlots(FOldBuffer);
            Buffer = nullptr;
            if (IsEmpty()) break;
            if (!FEditOriginal.empty()) {
                ReadRow(FEditOriginal, FOldBuffer);
            } else if (GetBookmarkFlag(ActiveBuffer()) == bfCurrent) {
                int index = FTable->IndexOfId(BookmarkOf(ActiveBuffer()));
                if (index >= 0) ReadRow(FTable->Rows[static_cast<std::size_t>(index)].Values, FOldBuffer);
            }
            Buffer = FOldBuffer;
            break;
        }
        case dsCurValue: {
            // What the table holds now, whoever wrote it.
            ClearSlots(FCurBuffer);
            Buffer = nullptr;
            if (IsEmpty()) break;
            int index = FTable->IndexOfId(BookmarkOf(ActiveBuffer()));
            if (index >= 0) ReadRow(FTable->Rows[static_cast<std::size_t>(index)].Values, FCurBuffer);
            Buffer = FCurBuffer;
            break;
        }
        default: Buffer = nullptr; break;
    }
    return Buffer != nullptr;
}

bool TMemDataSet::GetCurrentRecord(TRecordBuffer Buffer) {
    if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
    UpdateCursorPos();
    ReadRow(FTable->Rows[static_cast<std::size_t>(FCursor)].Values, Buffer);
    return true;
}

// ---- Field data -----------------------------------------------------------------------------

bool TMemDataSet::GetFieldData(TField* Field, void* Buffer) {
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) return false;
    if (Field->IsBlob()) {
        String* blob = BlobRef(record, Field->GetOffset());
        return blob && !blob->empty();
    }
    const Byte* p;
    int size = Field->GetDataSize();
    if (Field->GetFieldNo() < 1) {
        TDataSetState st = GetState();
        if (st != dsBrowse && st != dsEdit && st != dsInsert && st != dsCalcFields) return false;
        p = record + FDataSize + Field->GetOffset();
        if (!p[0]) return false;
        if (Buffer) std::memcpy(Buffer, p + 1, static_cast<std::size_t>(size));
        return true;
    }
    const Slot* s = SlotOf(Field);
    if (!s) return false;
    p = record + s->Offset;
    if (!p[0]) return false;
    if (Buffer) {
        if (s->DataType == ftVariant)
            *static_cast<Variant*>(Buffer) = *reinterpret_cast<const Variant*>(p + 8);
        else
            std::memcpy(Buffer, p + 8, static_cast<std::size_t>(std::min(size, s->DataSize)));
    }
    return true;
}

void TMemDataSet::SetFieldData(TField* Field, const void* Buffer) {
    if (Field->IsBlob()) return;
    TDataSetState st = GetState();
    if (st != dsEdit && st != dsInsert && st != dsSetKey && st != dsCalcFields && st != dsFilter &&
        st != dsNewValue && st != dsInternalCalc)
        DatabaseError(SNotEditing, this);
    if (st == dsSetKey && Field->GetFieldNo() < 0) DatabaseErrorFmt(SNotIndexField, {Field->GetDisplayName()});
    TRecordBuffer record;
    if (!GetActiveRecBuf(record)) return;
    if (Field->GetFieldNo() <= 0) {
        Byte* p = record + FDataSize + Field->GetOffset();
        p[0] = Buffer ? 1 : 0;
        if (Buffer) std::memcpy(p + 1, Buffer, static_cast<std::size_t>(Field->GetDataSize()));
    } else {
        if (st == dsCalcFields) DatabaseError(SNotEditing, this);
        if (Field->GetReadOnly() && st != dsSetKey && st != dsFilter)
            DatabaseErrorFmt(SFieldReadOnly, {Field->GetDisplayName()});
        Field->Validate(Buffer);
        const Slot* s = SlotOf(Field);
        Byte* p = record + s->Offset;
        if (!Buffer) {
            p[0] = 0;
        } else {
            if (s->DataType == ftVariant)
                *reinterpret_cast<Variant*>(p + 8) = *static_cast<const Variant*>(Buffer);
            else if (s->DataType == ftInterface || s->DataType == ftIDispatch)
                PutNative(p + 8, s->DataType, s->DataSize,
                          Variant::FromUnknown(*static_cast<Rtl::IUnknown* const*>(Buffer)));
            else
                std::memcpy(p + 8, Buffer, static_cast<std::size_t>(std::min(Field->GetDataSize(), s->DataSize)));
            p[0] = 1;
        }
    }
    if (st != dsCalcFields && st != dsFilter && st != dsNewValue)
        DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(Field));
}

// ---- Blob streams ------------------------------------------------------------------------------

class TMemBlobStream : public Rtl::TMemoryStream {
public:
    TMemBlobStream(TBlobField* Field, TMemDataSet* DataSet, TBlobStreamMode Mode) : FField(Field), FDataSet(DataSet) {
        TRecordBuffer record;
        if (!DataSet->GetActiveRecBuf(record)) return;
        TDataSetState st = DataSet->GetState();
        if (st == dsFilter) DatabaseErrorFmt(SFieldAccessInFilter, {Field->GetDisplayName()});
        if (!Field->GetModified() && Mode != bmRead) {
            if (Field->GetReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {Field->GetDisplayName()});
            if (st != dsEdit && st != dsInsert) DatabaseError(SNotEditing, DataSet);
        }
        if (Mode == bmWrite) {
            Clear();
            FModified = true;
        } else {
            if (String* blob = DataSet->BlobRef(record, Field->GetOffset())) WriteBuffer(blob->data(), blob->size());
            SetPosition(0);
            FModified = false;
        }
    }
    ~TMemBlobStream() override {
        if (!FModified) return;
        try {
            FField->SetModified(true);
            TRecordBuffer record;
            if (FDataSet->GetActiveRecBuf(record)) {
                String*& ref = FDataSet->BlobRef(record, FField->GetOffset());
                delete ref;
                ref = new String(static_cast<const char*>(Memory()), static_cast<std::size_t>(GetSize()));
            }
            FDataSet->DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(FField));
        } catch (...) {
            FDataSet->InternalHandleException();
        }
    }
    Int64 Write(const void* Buffer, Int64 Count) override {
        Int64 n = TMemoryStream::Write(Buffer, Count);
        FModified = true;
        return n;
    }

private:
    TBlobField* FField;
    TMemDataSet* FDataSet;
    bool FModified = false;
};

Rtl::TStream* TMemDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
    auto* blob = dynamic_cast<TBlobField*>(Field);
    if (!blob) DatabaseErrorFmt(SNotABlobField, {Field->GetDisplayName()}, this);
    return new TMemBlobStream(blob, this, Mode);
}

// ---- Bookmarks and moves ------------------------------------------------------------------------

void TMemDataSet::GetBookmarkData(TRecordBuffer Buffer, void* Data) {
    std::memcpy(Data, &BookmarkOf(Buffer), sizeof(Int64));
}

void TMemDataSet::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
    std::memcpy(&BookmarkOf(Buffer), Data, sizeof(Int64));
}

TBookmarkFlag TMemDataSet::GetBookmarkFlag(TRecordBuffer Buffer) { return static_cast<TBookmarkFlag>(FlagOf(Buffer)); }
void TMemDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) { FlagOf(Buffer) = Value; }

void TMemDataSet::InternalFirst() { FCursor = -1; }
void TMemDataSet::InternalLast() { FCursor = RowCount(); }

void TMemDataSet::InternalGotoBookmark(TBookmark Bookmark) {
    Int64 id;
    std::memcpy(&id, Bookmark, sizeof id);
    int index = FTable->IndexOfId(id);
    if (index < 0) DatabaseError(SRecordNotFound, this);
    FCursor = index;
}

void TMemDataSet::InternalSetToRecord(TRecordBuffer Buffer) {
    InternalGotoBookmark(reinterpret_cast<TBookmark>(&BookmarkOf(Buffer)));
}

bool TMemDataSet::BookmarkValid(TBookmark Bookmark) {
    if (!Bookmark || !IsCursorOpen()) return false;
    Int64 id;
    std::memcpy(&id, Bookmark, sizeof id);
    return FTable->IndexOfId(id) >= 0;
}

int TMemDataSet::CompareBookmarks(TBookmark Bookmark1, TBookmark Bookmark2) {
    if (!Bookmark1 || !Bookmark2) return 0;
    Int64 a, b;
    std::memcpy(&a, Bookmark1, sizeof a);
    std::memcpy(&b, Bookmark2, sizeof b);
    int ia = FTable->IndexOfId(a), ib = FTable->IndexOfId(b);
    if (ia < 0 || ib < 0) return 0;
    return ia < ib ? -1 : ia > ib ? 1 : 0;
}

int TMemDataSet::GetRecordCount() {
    CheckActive();
    return RowCount();
}

int TMemDataSet::GetRecNo() {
    CheckActive();
    TRecordBuffer buffer = GetState() == dsCalcFields ? CalcBuffer() : (IsEmpty() ? nullptr : ActiveBuffer());
    return buffer ? RecNoOf(buffer) : -1;
}

void TMemDataSet::SetRecNo(int Value) {
    CheckBrowseMode();
    if (Value == GetRecNo()) return;
    if (Value < 1 || Value > RowCount()) DatabaseError(SRecordNotFound, this);
    DoBeforeScroll();
    FCursor = Value - 1;
    Resync({rmCenter});
    DoAfterScroll();
}

// ---- Editing ---------------------------------------------------------------------------------------

void TMemDataSet::InternalInitRecord(TRecordBuffer Buffer) { ClearSlots(Buffer); }

void TMemDataSet::InitRecord(TRecordBuffer Buffer) {
    TDataSet::InitRecord(Buffer);
    RecNoOf(Buffer) = -1;
    FEditOriginal.clear();
}

void TMemDataSet::DoOnNewRecord() {
    for (TField* field : *GetFields()) {
        if (field->GetDefaultExpression().empty()) continue;
        try {
            field->SetAsVariant(Variant(field->GetDefaultExpression()));
        } catch (Rtl::Exception& e) {
            e.SetMessage(e.Message() + ", invalid value in DefaultExpression property.");
            throw;
        }
    }
    TDataSet::DoOnNewRecord();
}

void TMemDataSet::InternalEdit() {
    // Edits start from what the table holds now.
    const TMemRow& row = FTable->Rows.at(static_cast<std::size_t>(FCursor));
    FEditOriginal = row.Values;
    ReadRow(row.Values, ActiveBuffer());
}

void TMemDataSet::InsertRow(TRecordBuffer Buffer) {
    std::vector<Variant> values = WriteRow(Buffer, {});
    Int64 id = FTable->NewId();
    for (std::size_t i = 0; i < FTable->Columns.size(); ++i)
        if (FTable->Columns[i].DataType == ftAutoInc && values[i].IsNull()) values[i] = static_cast<int>(id);
    if (FTable->Check) FTable->Check(values, -1);
    int pos = std::clamp(FCursor, 0, RowCount());
    FTable->Rows.insert(FTable->Rows.begin() + pos, TMemRow{id, std::move(values)});
    ++FTable->Inserts;
    FCursor = pos;
}

void TMemDataSet::InternalPost() {
    if (GetState() == dsEdit) {
        TMemRow& row = FTable->Rows.at(static_cast<std::size_t>(FCursor));
        std::vector<Variant> values = WriteRow(ActiveBuffer(), row.Values);
        if (FTable->Check) FTable->Check(values, FCursor);
        row.Values = std::move(values);
        ++FTable->Updates;
    } else {
        InsertRow(ActiveBuffer());
    }
    FEditOriginal.clear();
}

void TMemDataSet::InternalAddRecord(TRecordBuffer Buffer, bool Append) {
    if (Append) InternalLast();
    InsertRow(Buffer);
}

void TMemDataSet::InternalDelete() {
    if (FCursor < 0 || FCursor >= RowCount()) DatabaseError(SRecordNotFound, this);
    FTable->Rows.erase(FTable->Rows.begin() + FCursor);
    ++FTable->Deletes;
}

void TMemDataSet::InternalRefresh() {}

// ---- Filters and searching ----------------------------------------------------------------------------

void TMemDataSet::SetFiltered(bool Value) {
    if (!GetActive()) {
        TDataSet::SetFiltered(Value);
        return;
    }
    CheckBrowseMode();
    if (GetFiltered() == Value) return;
    TDataSet::SetFiltered(Value);
    First();
}

void TMemDataSet::SetFilterText(const String& Value) {
    if (GetActive()) CheckBrowseMode();
    TDataSet::SetFilterText(Value);
    if (GetActive() && GetFiltered()) First();
}

void TMemDataSet::SetFilterOptions(TFilterOptions Value) {
    if (GetActive()) CheckBrowseMode();
    TDataSet::SetFilterOptions(Value);
}

namespace {
bool KeyMatches(const Variant& FieldValue, const Variant& Key, TLocateOptions Options) {
    if (Key.IsNull() || Key.IsEmpty()) return FieldValue.IsNull();
    if (FieldValue.IsNull()) return false;
    if (Rtl::VarIsStr(Key) || Rtl::VarIsStr(FieldValue)) {
        String a = Rtl::VarToStr(FieldValue), b = Rtl::VarToStr(Key);
        if (Options.Contains(loPartialKey)) a = a.substr(0, b.size());
        return Options.Contains(loCaseInsensitive) ? Rtl::AnsiSameText(a, b) : a == b;
    }
    return FieldValue == Key;
}
}  // namespace

bool TMemDataSet::LocateRecord(const String& KeyFields, const Variant& KeyValues, TLocateOptions Options,
                               bool SyncCursor) {
    CheckBrowseMode();
    CursorPosChanged();
    std::vector<TField*> fields;
    GetFieldList(fields, KeyFields);
    std::vector<Variant> keys;
    if (fields.size() == 1) {
        keys.push_back(KeyValues);
    } else {
        for (std::size_t i = 0; i < fields.size(); ++i)
            keys.push_back(KeyValues.GetElement(Rtl::VarArrayLowBound(KeyValues, 1) + static_cast<int>(i)));
    }
    int saved = FCursor;
    FFilterBuffer = TempBuffer();
    TDataSetState state = SetTempState(dsFilter);
    bool found = false;
    try {
        for (int i = 0; i < RowCount() && !found; ++i) {
            ReadRow(FTable->Rows[static_cast<std::size_t>(i)].Values, FFilterBuffer);
            BookmarkOf(FFilterBuffer) = FTable->Rows[static_cast<std::size_t>(i)].Id;
            found = true;
            for (std::size_t k = 0; k < fields.size() && found; ++k)
                found = KeyMatches(fields[k]->GetAsVariant(), keys[k], Options);
            if (found) FCursor = i;
        }
    } catch (...) {
        RestoreState(state);
        FCursor = saved;
        throw;
    }
    RestoreState(state);
    if (!SyncCursor) FCursor = saved;
    return found;
}

bool TMemDataSet::Locate(const String& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
    DoBeforeScroll();
    bool found = LocateRecord(KeyFields, KeyValues, Options, true);
    if (found) {
        Resync({rmExact, rmCenter});
        DoAfterScroll();
    }
    SetFound(found);
    return found;
}

Variant TMemDataSet::Lookup(const String& KeyFields, const Variant& KeyValues, const String& ResultFields) {
    Variant result = Variant::Null();
    if (!LocateRecord(KeyFields, KeyValues, {}, false)) return result;
    TDataSetState state = SetTempState(dsCalcFields);
    try {
        CalculateFields(TempBuffer());
        result = GetFieldValues(ResultFields);
    } catch (...) {
        RestoreState(state);
        throw;
    }
    RestoreState(state);
    return result;
}

// ---- Recording link ------------------------------------------------------------------------------------

std::vector<String> TRecordingLink::Window(const String& FieldName) {
    std::vector<String> rows;
    Db::TDataSet* ds = GetDataSet();
    int saved = GetActiveRecord();
    for (int i = 0; i < GetRecordCount(); ++i) {
        SetActiveRecord(i);
        rows.push_back((i == saved ? ">" : " ") + ds->FieldByName(FieldName)->GetDisplayText());
    }
    SetActiveRecord(saved);
    return rows;
}

String TRecordingLink::Joined() const {
    String s;
    for (const String& e : *FLog) s += (s.empty() ? "" : " ") + e;
    return s;
}

void TRecordingLink::ActiveChanged() { Add(GetActive() ? "Active" : "Inactive"); }
void TRecordingLink::DataSetScrolled(int Distance) { Add("Scrolled(" + Rtl::IntToStr(Distance) + ")"); }
void TRecordingLink::EditingChanged() { Add(GetEditing() ? "Editing" : "NotEditing"); }
void TRecordingLink::FocusControl(Db::TField** Field) { Add("Focus(" + (*Field)->GetFieldName() + ")"); }

void TRecordingLink::RecordChanged(Db::TField* Field) {
    Add(Field ? "RecordChanged(" + Field->GetFieldName() + ")" : String("RecordChanged"));
}

void TRecordingLink::UpdateData() {
    Add("UpdateData");
    if (OnUpdateData) OnUpdateData();
}

void RecordDataSetEvents(Db::TDataSet* DataSet, std::vector<String>* Log) {
    auto hook = [Log](const char* name) { return [Log, name](Db::TDataSet*) { Log->push_back(name); }; };
    DataSet->BeforeOpen = hook("BeforeOpen");
    DataSet->AfterOpen = hook("AfterOpen");
    DataSet->BeforeClose = hook("BeforeClose");
    DataSet->AfterClose = hook("AfterClose");
    DataSet->BeforeInsert = hook("BeforeInsert");
    DataSet->AfterInsert = hook("AfterInsert");
    DataSet->BeforeEdit = hook("BeforeEdit");
    DataSet->AfterEdit = hook("AfterEdit");
    DataSet->BeforePost = hook("BeforePost");
    DataSet->AfterPost = hook("AfterPost");
    DataSet->BeforeCancel = hook("BeforeCancel");
    DataSet->AfterCancel = hook("AfterCancel");
    DataSet->BeforeDelete = hook("BeforeDelete");
    DataSet->AfterDelete = hook("AfterDelete");
    DataSet->BeforeScroll = hook("BeforeScroll");
    DataSet->AfterScroll = hook("AfterScroll");
    DataSet->BeforeRefresh = hook("BeforeRefresh");
    DataSet->AfterRefresh = hook("AfterRefresh");
    DataSet->OnNewRecord = hook("OnNewRecord");
}

}  // namespace DbTest
