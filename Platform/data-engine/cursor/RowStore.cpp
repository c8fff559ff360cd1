#include "Platform/data-engine/cursor/RowStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>

namespace DataEngine {

using namespace Velora;

namespace {

// Internal state bits kept beside ADO's status flags.
constexpr int stNew = 0x1;         // adRecNew
constexpr int stModified = 0x2;    // adRecModified
constexpr int stDeleted = 0x4;     // adRecDeleted
constexpr int stStateMask = 0x7;
constexpr int stPurged = 0x40000000;
constexpr int stFlagMask = ~(stStateMask | stPurged | adRecUnmodified);

constexpr UInt64 EmptyRef = ~UInt64{0};

[[noreturn]] void NoSuchRow(TRowId row, const char* why) {
    throw EEngineError("Row " + std::to_string(row) + " " + why, AdoErrorHResult(adErrNoCurrentRecord));
}

template <class T>
T LoadRaw(const Byte* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
void StoreRaw(Byte* p, T v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

}  // namespace

// ---- Memory blocks ---------------------------------------------------------------------------------

namespace {

struct TFreeBlock {
    void operator()(Byte* p) const noexcept { std::free(p); }
};
using TBlock = std::unique_ptr<Byte[], TFreeBlock>;

constexpr std::size_t HugePage = std::size_t{2} << 20;

// Blocks of 2 MB and more are aligned to huge pages and marked for them: a
// store of a million rows then takes a few hundred page faults, not tens of
// thousands. Smaller blocks come from malloc, so that small stores stay small.
TBlock AllocateBlock(std::size_t& size) {
    void* p;
    if (size >= HugePage) {
        size = (size + HugePage - 1) & ~(HugePage - 1);
        p = std::aligned_alloc(HugePage, size);
        if (p) madvise(p, size, MADV_HUGEPAGE);  // a hint; refused advice changes nothing
    } else {
        p = std::malloc(size);
    }
    if (!p) throw std::bad_alloc();
    return TBlock(static_cast<Byte*>(p));
}

unsigned Log2(std::size_t v) noexcept { return static_cast<unsigned>(63 - __builtin_clzll(v)); }

}  // namespace

// ---- Records: fixed-size slots in pages that never move ------------------------------------------
//
// Pages double from about 4 KB up to about 2 MB, then stay that size: small
// stores take little memory and large ones few allocations. A page holds a
// power of two records, so an index splits into page and slot with shifts.

class TRowStore::TRecordPool {
public:
    explicit TRecordPool(std::size_t recordSize) : FSize(recordSize) {
        while ((std::size_t{2} << FLogFirst) * recordSize <= 4096) ++FLogFirst;
        FLogLast = FLogFirst;
        while ((std::size_t{2} << FLogLast) * recordSize <= HugePage) ++FLogLast;
        FDoubling = ((std::size_t{1} << (FLogLast - FLogFirst)) - 1) << FLogFirst;
    }
    // A new record; its bytes are not initialised (every caller writes the whole record).
    std::uint32_t Add() {
        if (FCount == UINT32_MAX - 1) throw EEngineError("The row store is full", hrDataOverflow);
        const std::uint32_t index = FCount;
        std::size_t page, slot;
        Locate(index, page, slot);
        if (page >= FPages.size()) {
            std::size_t bytes = (page < FLogLast - FLogFirst ? std::size_t{1} << (FLogFirst + page)
                                                             : std::size_t{1} << FLogLast) * FSize;
            FPages.push_back(AllocateBlock(bytes));
            FBytes += bytes;
        }
        ++FCount;
        return index;
    }
    Byte* At(std::uint32_t index) noexcept {
        std::size_t page, slot;
        Locate(index, page, slot);
        return FPages[page].get() + slot * FSize;
    }
    const Byte* At(std::uint32_t index) const noexcept { return const_cast<TRecordPool*>(this)->At(index); }
    std::uint32_t Count() const noexcept { return FCount; }
    std::size_t MemoryUsage() const noexcept { return FBytes + FPages.capacity() * sizeof(void*); }

private:
    void Locate(std::size_t index, std::size_t& page, std::size_t& slot) const noexcept {
        if (index < FDoubling) {
            page = Log2((index >> FLogFirst) + 1);
            slot = index - (((std::size_t{1} << page) - 1) << FLogFirst);
        } else {
            const std::size_t rest = index - FDoubling;
            page = (FLogLast - FLogFirst) + (rest >> FLogLast);
            slot = rest & ((std::size_t{1} << FLogLast) - 1);
        }
    }
    std::size_t FSize;
    unsigned FLogFirst = 0;     // records in the first page: 1 << FLogFirst
    unsigned FLogLast = 0;      // records in each page once they stop doubling
    std::size_t FDoubling = 0;  // records held by the doubling pages
    std::uint32_t FCount = 0;
    std::size_t FBytes = 0;
    std::vector<TBlock> FPages;
};

// ---- Heap: text and bytes, each value a 4-byte length and its bytes ---------------------------
//
// Chunks double from 16 KB to 2 MB; a value too large for a chunk gets a
// block of its own. Values never move, so their references stay valid.

class TRowStore::THeap {
public:
    UInt64 Add(const char* data, std::size_t size) {
        if (size == 0) return EmptyRef;
        if (size > 0x7FFFFFFFu) throw EEngineError("A value of " + std::to_string(size) + " bytes is too large", hrDataOverflow);
        const std::size_t need = size + 4;
        if (FCurrent == NoChunk || FUsed + need > FChunks[FCurrent].Size) {
            std::size_t bytes = std::max(FNextSize, need);
            if (need > HugePage / 4) {
                // A large value: a block of its own, the current chunk stays open.
                FChunks.push_back({AllocateBlock(bytes), bytes});
                FBytes += bytes;
                return Put(static_cast<std::uint32_t>(FChunks.size() - 1), 0, data, size);
            }
            FChunks.push_back({AllocateBlock(bytes), bytes});
            FBytes += bytes;
            FCurrent = static_cast<std::uint32_t>(FChunks.size() - 1);
            FUsed = 0;
            FNextSize = std::min(FNextSize * 2, HugePage);
        }
        const std::size_t offset = FUsed;
        FUsed += need;
        return Put(FCurrent, offset, data, size);
    }
    std::string_view View(UInt64 ref) const noexcept {
        if (ref == EmptyRef) return {};
        const Byte* p = FChunks[ref >> 32].Data.get() + (ref & 0xFFFFFFFFu);
        return {reinterpret_cast<const char*>(p + 4), LoadRaw<std::uint32_t>(p)};
    }
    std::size_t MemoryUsage() const noexcept { return FBytes + FChunks.capacity() * sizeof(TChunk); }

private:
    UInt64 Put(std::uint32_t chunk, std::size_t offset, const char* data, std::size_t size) {
        Byte* p = FChunks[chunk].Data.get() + offset;
        StoreRaw<std::uint32_t>(p, static_cast<std::uint32_t>(size));
        std::memcpy(p + 4, data, size);
        return (static_cast<UInt64>(chunk) << 32) | offset;
    }
    static constexpr std::uint32_t NoChunk = UINT32_MAX;
    struct TChunk {
        TBlock Data;
        std::size_t Size;
    };
    std::vector<TChunk> FChunks;
    std::uint32_t FCurrent = NoChunk;
    std::size_t FUsed = 0;
    std::size_t FNextSize = 16384;
    std::size_t FBytes = 0;
};

// ---- The store ----------------------------------------------------------------------------------

TRowStore::TRowStore(std::vector<TColumnInfo> columns) : FColumns(std::move(columns)) {
    const std::size_t n = FColumns.size();
    FKinds.reserve(n);
    for (auto& c : FColumns) FKinds.push_back(StorageKindOf(c.Type));
    // Slots from the widest to the narrowest keep every slot aligned without padding.
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    auto width = [&](std::size_t i) { return IsVariableKind(FKinds[i]) ? 8 : FixedWidthOf(FKinds[i]); };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return width(a) > width(b); });
    FSlots.resize(n);
    std::uint32_t offset = 0;
    for (std::size_t i : order) {
        FSlots[i] = {offset, FKinds[i]};
        offset += static_cast<std::uint32_t>(width(i));
    }
    FNullOffset = offset;
    FRecordSize = (offset + static_cast<std::uint32_t>((n + 7) / 8) + 7) & ~7u;
    if (FRecordSize == 0) FRecordSize = 8;
    FRecords = std::make_unique<TRecordPool>(FRecordSize);
    FSide = std::make_unique<TRecordPool>(FRecordSize);
    FHeap = std::make_unique<THeap>();
}

TRowStore::~TRowStore() = default;

int TRowStore::FindColumn(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < FColumns.size(); ++i)
        if (Rtl::SameText(FColumns[i].Name, name)) return static_cast<int>(i);
    return -1;
}

void TRowStore::CheckRow(TRowId row) const {
    if (row >= FStatus.size() || (FStatus[row] & stPurged)) NoSuchRow(row, "does not exist");
}

void TRowStore::CheckColumn(std::size_t column) const {
    if (column >= FColumns.size())
        throw EEngineError("Column " + std::to_string(column) + " does not exist: the rows have " +
                               std::to_string(FColumns.size()) + " columns",
                           AdoErrorHResult(adErrItemNotFound));
}

bool TRowStore::IsLive(TRowId row) const noexcept { return row < FStatus.size() && !(FStatus[row] & stPurged); }

std::size_t TRowStore::PositionOf(TRowId row) const noexcept {
    const auto it = std::lower_bound(FRows.begin(), FRows.end(), row);
    if (it == FRows.end() || *it != row) return static_cast<std::size_t>(-1);
    return static_cast<std::size_t>(it - FRows.begin());
}

void TRowStore::Reserve(std::size_t rows) {
    FStatus.reserve(rows);
    FRows.reserve(rows);
}

TCell TRowStore::ReadCell(const Byte* record, std::size_t column) const {
    TCell cell;
    if (record[FNullOffset + column / 8] & (1u << (column % 8))) return cell;
    cell.Null = false;
    const Byte* p = record + FSlots[column].Offset;
    switch (FSlots[column].Kind) {
        case skBoolean:
        case skInt8: cell.I = LoadRaw<std::int8_t>(p); break;
        case skUInt8: cell.U = LoadRaw<std::uint8_t>(p); break;
        case skInt16: cell.I = LoadRaw<std::int16_t>(p); break;
        case skUInt16: cell.U = LoadRaw<std::uint16_t>(p); break;
        case skInt32: cell.I = LoadRaw<std::int32_t>(p); break;
        case skUInt32: cell.U = LoadRaw<std::uint32_t>(p); break;
        case skInt64:
        case skCurrency: cell.I = LoadRaw<Int64>(p); break;
        case skUInt64: cell.U = LoadRaw<UInt64>(p); break;
        case skSingle: cell.D = LoadRaw<float>(p); break;
        case skDouble:
        case skDate: cell.D = LoadRaw<double>(p); break;
        case skDecimal:
        case skGuid: std::memcpy(cell.Raw, p, 16); break;
        case skText:
        case skBytes: {
            const auto v = FHeap->View(LoadRaw<UInt64>(p));
            cell.Data = v.data() ? v.data() : "";
            cell.Size = v.size();
            break;
        }
    }
    return cell;
}

void TRowStore::WriteCell(Byte* record, std::size_t column, const TCell& cell) {
    Byte& nullByte = record[FNullOffset + column / 8];
    const Byte bit = static_cast<Byte>(1u << (column % 8));
    Byte* p = record + FSlots[column].Offset;
    if (cell.Null) {
        nullByte |= bit;
        std::memset(p, 0, IsVariableKind(FSlots[column].Kind) ? 8 : static_cast<std::size_t>(FixedWidthOf(FSlots[column].Kind)));
        return;
    }
    switch (FSlots[column].Kind) {
        case skBoolean: StoreRaw<std::int8_t>(p, cell.I != 0 ? 1 : 0); break;
        case skInt8: StoreRaw<std::int8_t>(p, static_cast<std::int8_t>(cell.I)); break;
        case skUInt8: StoreRaw<std::uint8_t>(p, static_cast<std::uint8_t>(cell.U)); break;
        case skInt16: StoreRaw<std::int16_t>(p, static_cast<std::int16_t>(cell.I)); break;
        case skUInt16: StoreRaw<std::uint16_t>(p, static_cast<std::uint16_t>(cell.U)); break;
        case skInt32: StoreRaw<std::int32_t>(p, static_cast<std::int32_t>(cell.I)); break;
        case skUInt32: StoreRaw<std::uint32_t>(p, static_cast<std::uint32_t>(cell.U)); break;
        case skInt64:
        case skCurrency: StoreRaw<Int64>(p, cell.I); break;
        case skUInt64: StoreRaw<UInt64>(p, cell.U); break;
        case skSingle: StoreRaw<float>(p, static_cast<float>(cell.D)); break;
        case skDouble:
        case skDate: StoreRaw<double>(p, cell.D); break;
        case skDecimal:
        case skGuid: std::memcpy(p, cell.Raw, 16); break;
        case skText:
        case skBytes: StoreRaw<UInt64>(p, FHeap->Add(cell.Data, cell.Size)); break;
    }
    nullByte &= static_cast<Byte>(~bit);
}

void TRowStore::WriteRow(Byte* record, const TRowBuffer& row) {
    if (row.Count() != FColumns.size())
        throw EEngineError("A row of " + std::to_string(row.Count()) + " values does not fit rows of " +
                               std::to_string(FColumns.size()) + " columns",
                           AdoErrorHResult(adErrInvalidArgument));
    for (std::size_t c = 0; c < FColumns.size(); ++c) WriteCell(record, c, row[c]);
}

TRowId TRowStore::Append(const TRowBuffer& row) {
    if (row.Count() != FColumns.size()) WriteRow(nullptr, row);  // raises the size error
    const std::uint32_t id = FRecords->Add();
    WriteRow(FRecords->At(id), row);
    ++FChangeCount;
    FStatus.push_back(adRecUnmodified);
    FRows.push_back(id);
    return id;
}

std::size_t TRowStore::Load(TResultStream& result, std::size_t maxRows) {
    TRowBuffer row(FColumns.size());
    std::size_t n = 0;
    while ((maxRows == 0 || n < maxRows) && result.Fetch(row)) {
        Append(row);
        ++n;
    }
    return n;
}

TRowId TRowStore::AddNew() {
    ++FChangeCount;
    const std::uint32_t id = FRecords->Add();
    Byte* r = FRecords->At(id);
    std::memset(r, 0, FRecordSize);
    for (std::size_t c = 0; c < FColumns.size(); ++c) r[FNullOffset + c / 8] |= static_cast<Byte>(1u << (c % 8));
    FStatus.push_back(stNew);
    FRows.push_back(id);
    ++FPendingCount;
    return id;
}

int TRowStore::GetStatus(TRowId row) const {
    CheckRow(row);
    const int s = FStatus[row];
    const int flags = s & stFlagMask;
    if (s & stDeleted) return adRecDeleted | flags;
    if (s & stNew) return adRecNew | flags;
    if (s & stModified) return adRecModified | flags;
    return adRecUnmodified | flags;
}

void TRowStore::SetStatusFlags(TRowId row, int flags) {
    CheckRow(row);
    FStatus[row] |= flags & stFlagMask;
}

void TRowStore::ClearStatusFlags(TRowId row, int flags) {
    CheckRow(row);
    FStatus[row] &= ~(flags & stFlagMask);
}

const Byte* TRowStore::RecordOf(TRowId row, TValueVersion version) const {
    CheckRow(row);
    if (version == vvUnderlying) {
        if (auto it = FUnderlying.find(row); it != FUnderlying.end()) return FSide->At(it->second);
        version = vvOriginal;
    }
    if (version == vvOriginal) {
        if (auto it = FOriginal.find(row); it != FOriginal.end()) return FSide->At(it->second);
        if (FStatus[row] & stNew) return nullptr;  // a new row has no original values
    }
    return FRecords->At(row);
}

Byte* TRowStore::CurrentRecord(TRowId row) { return FRecords->At(row); }

bool TRowStore::IsNull(TRowId row, std::size_t column, TValueVersion version) const {
    CheckColumn(column);
    const Byte* r = RecordOf(row, version);
    return !r || (r[FNullOffset + column / 8] & (1u << (column % 8))) != 0;
}

TCell TRowStore::GetCell(TRowId row, std::size_t column, TValueVersion version) const {
    CheckColumn(column);
    const Byte* r = RecordOf(row, version);
    return r ? ReadCell(r, column) : TCell{};
}

void TRowStore::GetRow(TRowId row, TRowBuffer& out, TValueVersion version) const {
    const Byte* r = RecordOf(row, version);
    const std::size_t n = FColumns.size();
    if (out.Count() != n) out.Reset(n);
    for (std::size_t c = 0; c < n; ++c) out[c] = r ? ReadCell(r, c) : TCell{};
}

Variant TRowStore::GetValue(TRowId row, std::size_t column, TValueVersion version) const {
    const TCell cell = GetCell(row, column, version);
    return CellToVariant(FColumns[column], FKinds[column], cell);
}

Int64 TRowStore::GetInt64(TRowId row, std::size_t column) const {
    const TCell c = GetCell(row, column);
    switch (FKinds[column]) {
        case skUInt8:
        case skUInt16:
        case skUInt32: return static_cast<Int64>(c.U);
        case skUInt64:
            if (c.U > static_cast<UInt64>(INT64_MAX))
                throw EEngineError("Column \"" + FColumns[column].Name + "\" holds " + std::to_string(c.U) +
                                       ", beyond 64-bit signed integers",
                                   hrDataOverflow);
            return static_cast<Int64>(c.U);
        case skBoolean:
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64: return c.I;
        default:
            throw EEngineError("Column \"" + FColumns[column].Name + "\" (" + DataTypeName(FColumns[column].Type) +
                                   ") does not hold integers",
                               hrCantConvertValue);
    }
}

double TRowStore::GetDouble(TRowId row, std::size_t column) const {
    const TCell c = GetCell(row, column);
    switch (FKinds[column]) {
        case skSingle:
        case skDouble:
        case skDate: return c.D;
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return static_cast<double>(c.U);
        case skCurrency: return static_cast<double>(c.I) / 10000.0;
        case skDecimal: return Rtl::DecimalToDouble(c.GetDecimal());
        case skBoolean:
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64: return static_cast<double>(c.I);
        default:
            throw EEngineError("Column \"" + FColumns[column].Name + "\" (" + DataTypeName(FColumns[column].Type) +
                                   ") does not hold numbers",
                               hrCantConvertValue);
    }
}

std::string_view TRowStore::GetBytes(TRowId row, std::size_t column) const { return GetCell(row, column).GetView(); }

std::uint32_t TRowStore::CopyToSide(const Byte* record) {
    std::uint32_t index;
    if (!FFreeSide.empty()) {
        index = FFreeSide.back();
        FFreeSide.pop_back();
    } else {
        index = FSide->Add();
    }
    std::memcpy(FSide->At(index), record, FRecordSize);
    return index;
}

void TRowStore::FreeSide(std::unordered_map<TRowId, std::uint32_t>& map, TRowId row) {
    if (auto it = map.find(row); it != map.end()) {
        FFreeSide.push_back(it->second);
        map.erase(it);
    }
}

void TRowStore::KeepOriginal(TRowId row) {
    int& s = FStatus[row];
    if (s & stDeleted) NoSuchRow(row, "is deleted and cannot change");
    if (s & (stNew | stModified)) return;
    // Text and bytes of the original stay in the heap: the copy's references remain valid.
    FOriginal[row] = CopyToSide(FRecords->At(row));
    s |= stModified;
    ++FPendingCount;
}

void TRowStore::SetValue(TRowId row, std::size_t column, const Variant& value) {
    CheckRow(row);
    CheckColumn(column);
    TCell cell;
    String scratch;
    VariantToCell(FColumns[column], FKinds[column], value, cell, scratch);
    SetCell(row, column, cell);
}

void TRowStore::SetCell(TRowId row, std::size_t column, const TCell& cell) {
    CheckRow(row);
    CheckColumn(column);
    KeepOriginal(row);
    WriteCell(CurrentRecord(row), column, cell);
    ++FChangeCount;
}

bool TRowStore::IsChanged(TRowId row, std::size_t column) const {
    CheckColumn(column);
    CheckRow(row);
    if (FStatus[row] & stNew) return !IsNull(row, column);
    const auto it = FOriginal.find(row);
    if (it == FOriginal.end()) return false;
    const TCell a = ReadCell(FRecords->At(row), column);
    const TCell b = ReadCell(FSide->At(it->second), column);
    if (a.Null != b.Null) return true;
    if (a.Null) return false;
    if (IsVariableKind(FKinds[column])) return a.GetView() != b.GetView();
    const Byte* pa = FRecords->At(row) + FSlots[column].Offset;
    const Byte* pb = FSide->At(it->second) + FSlots[column].Offset;
    return std::memcmp(pa, pb, static_cast<std::size_t>(FixedWidthOf(FKinds[column]))) != 0;
}

void TRowStore::Delete(TRowId row) {
    CheckRow(row);
    ++FChangeCount;
    int& s = FStatus[row];
    if (s & stDeleted) NoSuchRow(row, "is already deleted");
    if (s & stNew) {
        Purge(row);
        return;
    }
    if (!(s & stModified)) ++FPendingCount;
    s |= stDeleted;
}

void TRowStore::Purge(TRowId row) {
    ++FChangeCount;
    int& s = FStatus[row];
    if (s & stStateMask) --FPendingCount;
    s = stPurged;
    FreeSide(FOriginal, row);
    FreeSide(FUnderlying, row);
    const std::size_t pos = PositionOf(row);
    if (pos != static_cast<std::size_t>(-1)) FRows.erase(FRows.begin() + static_cast<std::ptrdiff_t>(pos));
}

void TRowStore::AcceptChanges(TRowId row) {
    CheckRow(row);
    int& s = FStatus[row];
    if (s & stDeleted) {
        Purge(row);
        return;
    }
    if (s & stStateMask) --FPendingCount;
    s = adRecUnmodified;
    FreeSide(FOriginal, row);
    FreeSide(FUnderlying, row);
}

void TRowStore::RejectChanges(TRowId row) {
    CheckRow(row);
    ++FChangeCount;
    int& s = FStatus[row];
    if (s & stNew) {
        Purge(row);
        return;
    }
    if (auto it = FOriginal.find(row); it != FOriginal.end()) std::memcpy(FRecords->At(row), FSide->At(it->second), FRecordSize);
    if (s & stStateMask) --FPendingCount;
    s = adRecUnmodified;
    FreeSide(FOriginal, row);
    FreeSide(FUnderlying, row);
}

void TRowStore::SetUnderlying(TRowId row, const TRowBuffer& values) {
    CheckRow(row);
    std::uint32_t index;
    if (auto it = FUnderlying.find(row); it != FUnderlying.end()) {
        index = it->second;
    } else {
        index = CopyToSide(FRecords->At(row));
        FUnderlying[row] = index;
    }
    WriteRow(FSide->At(index), values);
}

void TRowStore::Refresh(TRowId row, const TRowBuffer& values) {
    CheckRow(row);
    if (values.Count() != FColumns.size()) WriteRow(nullptr, values);  // raises the size error
    ++FChangeCount;
    int& s = FStatus[row];
    if (s & stStateMask) --FPendingCount;
    s = adRecUnmodified;
    FreeSide(FOriginal, row);
    FreeSide(FUnderlying, row);
    WriteRow(FRecords->At(row), values);
}

std::vector<TRowId> TRowStore::GetPendingRows() const {
    std::vector<TRowId> out;
    out.reserve(FPendingCount);
    for (TRowId r : FRows)
        if (FStatus[r] & stStateMask) out.push_back(r);
    return out;
}

std::size_t TRowStore::GetMemoryUsage() const noexcept {
    return FRecords->MemoryUsage() + FSide->MemoryUsage() + FHeap->MemoryUsage() +
           FStatus.capacity() * sizeof(int) + FRows.capacity() * sizeof(TRowId) +
           FFreeSide.capacity() * sizeof(std::uint32_t) +
           (FOriginal.size() + FUnderlying.size()) * (sizeof(TRowId) + sizeof(std::uint32_t) + 2 * sizeof(void*));
}

}  // namespace DataEngine
