#include "Platform/data-engine/oledb/RootEnumerator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine::OleDb {

using Com::E_INVALIDARG;
using Com::E_NOINTERFACE;
using Com::S_OK;

namespace {

constexpr DBORDINAL ColumnCount = SOURCES_CLSID;

bool IsTextColumn(DBORDINAL ordinal) noexcept { return ordinal != SOURCES_TYPE && ordinal != SOURCES_ISPARENT; }

// The width of a fixed-size type's value; 0 for the variable ones.
DBLENGTH FixedWidth(DBTYPE type) noexcept {
    switch (type) {
        case DBTYPE_UI1: return 1;
        case DBTYPE_I2:
        case DBTYPE_UI2:
        case DBTYPE_BOOL: return 2;
        case DBTYPE_I4:
        case DBTYPE_UI4: return 4;
        case DBTYPE_I8: return 8;
        default: return 0;
    }
}

bool CanConvert(DBORDINAL ordinal, DBTYPE type) noexcept {
    if (type == DBTYPE_STR || type == DBTYPE_WSTR) return true;
    return !IsTextColumn(ordinal) && FixedWidth(type) != 0;
}

// The value area of a binding: cbMaxLen for text, the type's width otherwise.
DBLENGTH ValueWidth(const DBBINDING& b) noexcept {
    const DBLENGTH fixed = FixedWidth(b.wType);
    return fixed ? fixed : b.cbMaxLen;
}

bool FitsRow(DBBYTEOFFSET offset, DBLENGTH width, DBLENGTH rowSize) noexcept {
    return static_cast<std::uint64_t>(offset) + width <= rowSize;
}

DBBINDSTATUS CheckBinding(const DBBINDING& b, DBLENGTH rowSize) noexcept {
    if (b.iOrdinal < 1 || b.iOrdinal > ColumnCount) return DBBINDSTATUS_BADORDINAL;
    constexpr DBPART allParts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
    if (b.dwPart == DBPART_INVALID || (b.dwPart & ~allParts) != 0) return DBBINDSTATUS_BADBINDINFO;
    if (b.dwMemOwner != DBMEMOWNER_CLIENTOWNED || b.eParamIO != DBPARAMIO_NOTPARAM || b.pObject)
        return DBBINDSTATUS_BADBINDINFO;
    if (!CanConvert(b.iOrdinal, b.wType)) return DBBINDSTATUS_UNSUPPORTEDCONVERSION;
    if (rowSize != 0) {
        if ((b.dwPart & DBPART_STATUS) && !FitsRow(b.obStatus, sizeof(DBSTATUS), rowSize))
            return DBBINDSTATUS_BADBINDINFO;
        if ((b.dwPart & DBPART_LENGTH) && !FitsRow(b.obLength, sizeof(DBLENGTH), rowSize))
            return DBBINDSTATUS_BADBINDINFO;
        if ((b.dwPart & DBPART_VALUE) && !FitsRow(b.obValue, ValueWidth(b), rowSize)) return DBBINDSTATUS_BADBINDINFO;
    }
    return DBBINDSTATUS_OK;
}

template <class T>
void Put(void* row, DBBYTEOFFSET offset, T value) {
    std::memcpy(static_cast<char*>(row) + offset, &value, sizeof(T));
}

// The longest prefix of s within maxBytes that ends on a character boundary.
std::size_t Utf8Cut(const String& s, std::size_t maxBytes) {
    std::size_t end = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t next = i;
        Rtl::Utf8Next(s, next);
        if (next > maxBytes) break;
        end = i = next;
    }
    return end;
}

// One cell: text, a number, or null.
struct TCell {
    bool Null = false;
    bool IsText = true;
    String Text;
    std::int64_t Number = 0;
    bool Boolean = false;  // the number is a truth value
};

TCell CellOf(const TSourceRow& row, DBORDINAL ordinal) {
    TCell c;
    switch (ordinal) {
        case SOURCES_NAME: c.Text = row.Name; break;
        case SOURCES_PARSENAME: c.Text = row.ParseName; break;
        case SOURCES_DESCRIPTION: c.Text = row.Description; break;
        case SOURCES_CLSID:
            c.Text = row.ClassId;
            c.Null = row.ClassId.empty();
            break;
        case SOURCES_TYPE:
            c.IsText = false;
            c.Number = row.Type;
            break;
        case SOURCES_ISPARENT:
            c.IsText = false;
            c.Boolean = true;
            c.Number = row.IsParent ? 1 : 0;
            break;
    }
    return c;
}

template <class T>
bool InRange(std::int64_t v) {
    return v >= static_cast<std::int64_t>(std::numeric_limits<T>::min()) &&
           static_cast<std::uint64_t>(v) <= static_cast<std::uint64_t>(std::numeric_limits<T>::max());
}

// Writes one binding of one cell; answers the column's status.
DBSTATUS WriteBinding(const DBBINDING& b, const TCell& cell, void* row) {
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    const bool wantValue = (b.dwPart & DBPART_VALUE) != 0;
    if (cell.Null) {
        status = DBSTATUS_S_ISNULL;
    } else if (b.wType == DBTYPE_STR || b.wType == DBTYPE_WSTR) {
        const String text = cell.IsText ? cell.Text
                                        : cell.Boolean ? String(cell.Number ? "True" : "False")
                                                       : std::to_string(cell.Number);
        if (b.wType == DBTYPE_STR) {
            length = static_cast<DBLENGTH>(std::min<std::size_t>(text.size(), std::numeric_limits<DBLENGTH>::max()));
            if (wantValue) {
                const std::size_t room = b.cbMaxLen > 0 ? b.cbMaxLen - 1 : 0;
                const std::size_t n = text.size() <= room ? text.size() : Utf8Cut(text, room);
                if (n < text.size()) status = DBSTATUS_S_TRUNCATED;
                if (b.cbMaxLen > 0) {
                    char* dst = static_cast<char*>(row) + b.obValue;
                    std::memcpy(dst, text.data(), n);
                    dst[n] = '\0';
                }
            }
        } else {
            const Rtl::WideString wide = Rtl::Utf8ToWide(text);
            length = static_cast<DBLENGTH>(
                std::min<std::size_t>(wide.size() * 2, std::numeric_limits<DBLENGTH>::max() & ~DBLENGTH{1}));
            if (wantValue) {
                const std::size_t room = b.cbMaxLen >= 2 ? b.cbMaxLen / 2 - 1 : 0;
                std::size_t n = std::min(wide.size(), room);
                // Never separate the halves of a surrogate pair.
                if (n < wide.size() && n > 0 && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;
                if (n < wide.size()) status = DBSTATUS_S_TRUNCATED;
                if (b.cbMaxLen >= 2) {
                    char* dst = static_cast<char*>(row) + b.obValue;
                    std::memcpy(dst, wide.data(), n * 2);
                    std::memset(dst + n * 2, 0, 2);
                }
            }
        }
    } else {
        const std::int64_t v = cell.Number;
        bool fits = true;
        switch (b.wType) {
            case DBTYPE_UI1: fits = InRange<std::uint8_t>(v); break;
            case DBTYPE_I2: fits = InRange<std::int16_t>(v); break;
            case DBTYPE_UI2: fits = InRange<std::uint16_t>(v); break;
            case DBTYPE_I4: fits = InRange<std::int32_t>(v); break;
            case DBTYPE_UI4: fits = InRange<std::uint32_t>(v); break;
            default: break;
        }
        if (!fits) {
            status = DBSTATUS_E_DATAOVERFLOW;
        } else {
            length = FixedWidth(b.wType);
            if (wantValue) {
                switch (b.wType) {
                    case DBTYPE_UI1: Put(row, b.obValue, static_cast<std::uint8_t>(v)); break;
                    case DBTYPE_I2: Put(row, b.obValue, static_cast<std::int16_t>(v)); break;
                    case DBTYPE_UI2: Put(row, b.obValue, static_cast<std::uint16_t>(v)); break;
                    case DBTYPE_I4: Put(row, b.obValue, static_cast<std::int32_t>(v)); break;
                    case DBTYPE_UI4: Put(row, b.obValue, static_cast<std::uint32_t>(v)); break;
                    case DBTYPE_I8: Put(row, b.obValue, static_cast<std::int64_t>(v)); break;
                    case DBTYPE_BOOL: Put(row, b.obValue, static_cast<std::int16_t>(v ? -1 : 0)); break;
                    default: break;
                }
            }
        }
    }
    if (b.dwPart & DBPART_LENGTH) Put(row, b.obLength, length);
    if (b.dwPart & DBPART_STATUS) Put(row, b.obStatus, status);
    return status;
}

bool IsError(DBSTATUS s) noexcept { return s != DBSTATUS_S_OK && s != DBSTATUS_S_ISNULL && s != DBSTATUS_S_TRUNCATED; }

}  // namespace

// ---- The list of sources ----------------------------------------------------------------------

std::vector<TSourceRow> ListSources() {
    std::vector<TSourceRow> rows;
    for (const String& name : GetProviderNames()) {
        TSourceRow r;
        r.Name = name;
        r.ParseName = name;
        try {
            r.Description = FindProvider(name)->GetDescription();
        } catch (...) {
            r.Description = name;  // unregistered meanwhile: still a name worth listing
        }
        r.Type = DBSOURCETYPE_DATASOURCE_TDP;
        rows.push_back(std::move(r));
    }
    return rows;
}

// ---- TSourcesRowset -----------------------------------------------------------------------------

TSourcesRowset::TSourcesRowset(std::vector<TSourceRow> rows) : FRows(std::move(rows)), FRowRefs(FRows.size(), 0) {}

const TSourceRow* TSourcesRowset::HeldRow(HROW h) const {
    if (h == DB_NULL_HROW || h > FRows.size() || FRowRefs[h - 1] == 0) return nullptr;
    return &FRows[h - 1];
}

TSourcesRowset::TAccessor* TSourcesRowset::FindAccessor(HACCESSOR h) {
    for (auto& a : FAccessors)
        if (a.Handle == h) return &a;
    return nullptr;
}

HRESULT TSourcesRowset::AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                                   DBROWSTATUS rgRowStatus[]) {
    if (cRows == 0) return S_OK;
    if (!rghRows) return E_INVALIDARG;
    std::lock_guard lock(FLock);
    DBCOUNTITEM failed = 0;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
        const bool held = HeldRow(rghRows[i]) != nullptr;
        if (held) ++FRowRefs[rghRows[i] - 1];
        else ++failed;
        if (rgRefCounts) rgRefCounts[i] = held ? FRowRefs[rghRows[i] - 1] : 0;
        if (rgRowStatus) rgRowStatus[i] = held ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
    }
    return failed == 0 ? S_OK : failed == cRows ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT TSourcesRowset::GetData(HROW hRow, HACCESSOR hAccessor, void* pData) {
    std::lock_guard lock(FLock);
    const TAccessor* accessor = FindAccessor(hAccessor);
    if (!accessor || !(accessor->Flags & DBACCESSOR_ROWDATA)) return DB_E_BADACCESSORHANDLE;
    const TSourceRow* row = HeldRow(hRow);
    if (!row) return DB_E_BADROWHANDLE;
    if (accessor->Bindings.empty()) return S_OK;
    if (!pData) return E_INVALIDARG;
    std::size_t errors = 0;
    for (const DBBINDING& b : accessor->Bindings)
        if (IsError(WriteBinding(b, CellOf(*row, b.iOrdinal), pData))) ++errors;
    if (errors == 0) return S_OK;
    return errors == accessor->Bindings.size() ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT TSourcesRowset::GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                    DBCOUNTITEM* pcRowsObtained, HROW** prghRows) {
    if (!pcRowsObtained || !prghRows) return E_INVALIDARG;
    *pcRowsObtained = 0;
    if (hReserved != DB_NULL_HCHAPTER) return DB_E_BADCHAPTER;
    // Forward only: neither skipping nor fetching goes backwards.
    if (lRowsOffset < 0 || cRows < 0) return DB_E_CANTFETCHBACKWARDS;
    if (cRows == 0) return S_OK;
    if (!*prghRows) return E_INVALIDARG;  // the caller supplies the handle array
    std::lock_guard lock(FLock);
    const std::size_t remaining = FRows.size() - FPosition;
    if (static_cast<std::size_t>(lRowsOffset) >= remaining) {
        FPosition = FRows.size();
        return DB_S_ENDOFROWSET;
    }
    FPosition += static_cast<std::size_t>(lRowsOffset);
    const std::size_t n = std::min(static_cast<std::size_t>(cRows), FRows.size() - FPosition);
    HROW* out = *prghRows;
    for (std::size_t i = 0; i < n; ++i) {
        ++FRowRefs[FPosition];
        out[i] = static_cast<HROW>(FPosition + 1);
        ++FPosition;
    }
    *pcRowsObtained = static_cast<DBCOUNTITEM>(n);
    return n < static_cast<std::size_t>(cRows) ? DB_S_ENDOFROWSET : S_OK;
}

HRESULT TSourcesRowset::ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS[],
                                    DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) {
    if (cRows == 0) return S_OK;
    if (!rghRows) return E_INVALIDARG;
    std::lock_guard lock(FLock);
    DBCOUNTITEM failed = 0;
    for (DBCOUNTITEM i = 0; i < cRows; ++i) {
        const bool held = HeldRow(rghRows[i]) != nullptr;
        if (held) --FRowRefs[rghRows[i] - 1];
        else ++failed;
        if (rgRefCounts) rgRefCounts[i] = held ? FRowRefs[rghRows[i] - 1] : 0;
        if (rgRowStatus) rgRowStatus[i] = held ? DBROWSTATUS_S_OK : DBROWSTATUS_E_INVALID;
    }
    return failed == 0 ? S_OK : failed == cRows ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT TSourcesRowset::RestartPosition(HCHAPTER hReserved) {
    if (hReserved != DB_NULL_HCHAPTER) return DB_E_BADCHAPTER;
    std::lock_guard lock(FLock);
    FPosition = 0;
    return S_OK;
}

HRESULT TSourcesRowset::AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
    std::lock_guard lock(FLock);
    TAccessor* a = FindAccessor(hAccessor);
    if (!a) return DB_E_BADACCESSORHANDLE;
    ++a->RefCount;
    if (pcRefCount) *pcRefCount = a->RefCount;
    return S_OK;
}

HRESULT TSourcesRowset::CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                       const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                       DBBINDSTATUS rgStatus[]) {
    if (!phAccessor) return E_INVALIDARG;
    *phAccessor = DB_NULL_HACCESSOR;
    if (cBindings > 0 && !rgBindings) return E_INVALIDARG;
    // A rowset takes row accessors only; by-reference accessors are not offered.
    const DBACCESSORFLAGS known = DBACCESSOR_PASSBYREF | DBACCESSOR_ROWDATA | DBACCESSOR_PARAMETERDATA |
                                  DBACCESSOR_OPTIMIZED;
    if ((dwAccessorFlags & ~known) != 0 || !(dwAccessorFlags & DBACCESSOR_ROWDATA) ||
        (dwAccessorFlags & (DBACCESSOR_PARAMETERDATA | DBACCESSOR_PASSBYREF)))
        return DB_E_BADACCESSORFLAGS;
    bool ok = true;
    for (DBCOUNTITEM i = 0; i < cBindings; ++i) {
        const DBBINDSTATUS s = CheckBinding(rgBindings[i], cbRowSize);
        if (rgStatus) rgStatus[i] = s;
        if (s != DBBINDSTATUS_OK) ok = false;
    }
    if (!ok) return DB_E_ERRORSOCCURRED;
    std::lock_guard lock(FLock);
    TAccessor a;
    a.Handle = ++FLastAccessor;
    a.Flags = dwAccessorFlags;
    a.Bindings.assign(rgBindings, rgBindings + cBindings);
    a.RefCount = 1;
    FAccessors.push_back(std::move(a));
    *phAccessor = FLastAccessor;
    return S_OK;
}

HRESULT TSourcesRowset::GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                    std::vector<DBBINDING>& Bindings) {
    std::lock_guard lock(FLock);
    Bindings.clear();
    const TAccessor* a = FindAccessor(hAccessor);
    if (!a) return DB_E_BADACCESSORHANDLE;
    if (pdwAccessorFlags) *pdwAccessorFlags = a->Flags;
    Bindings = a->Bindings;
    return S_OK;
}

HRESULT TSourcesRowset::ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) {
    std::lock_guard lock(FLock);
    TAccessor* a = FindAccessor(hAccessor);
    if (!a) return DB_E_BADACCESSORHANDLE;
    const DBREFCOUNT left = --a->RefCount;
    if (left == 0)
        FAccessors.erase(std::find_if(FAccessors.begin(), FAccessors.end(),
                                      [&](const TAccessor& x) { return x.Handle == hAccessor; }));
    if (pcRefCount) *pcRefCount = left;
    return S_OK;
}

// ---- TRootEnumerator ----------------------------------------------------------------------------

HRESULT TRootEnumerator::GetSourcesRowset(Rtl::IUnknown* pUnkOuter, const Rtl::IID& riid, std::uint32_t cPropertySets,
                                          DBPROPSET rgProperties[], Rtl::IUnknown** ppSourcesRowset) {
    if (!ppSourcesRowset) return E_INVALIDARG;
    *ppSourcesRowset = nullptr;
    if (cPropertySets > 0 && !rgProperties) return E_INVALIDARG;
    if (pUnkOuter) return DB_E_NOAGGREGATION;
    // The sources rowset has no properties to set; asking for one cannot be met.
    for (std::uint32_t i = 0; i < cPropertySets; ++i)
        if (rgProperties[i].cProperties > 0) return DB_E_ERRORSOCCURRED;
    try {
        auto rowset = Com::MakeComObject<TSourcesRowset>(ListSources());
        void* obj = nullptr;
        const HRESULT hr = static_cast<IRowset*>(rowset.Get())->QueryInterface(riid, &obj);
        if (Com::Failed(hr)) return hr;
        *ppSourcesRowset = static_cast<Rtl::IUnknown*>(obj);
        return S_OK;
    } catch (...) {
        return Com::HandleSafeCallException("MSDAENUM");
    }
}

}  // namespace DataEngine::OleDb
