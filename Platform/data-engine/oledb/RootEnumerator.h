// The OLE DB root enumerator of the engine (class CLSID_OLEDB_ENUMERATOR):
// ISourcesRowset answers a forward-only rowset with one row per data source
// the engine offers, read through IRowset and IAccessor.
//
// Rows: every provider of the engine's provider registry, as a tabular data
// source (SOURCES_TYPE DBSOURCETYPE_DATASOURCE_TDP), named as a connection
// string's Provider names it; SOURCES_PARSENAME is that name too and
// SOURCES_CLSID is null (the engine's providers are not COM classes). Other
// kinds of source (enumerators, binders) have their own SOURCES_TYPE.
//
// Columns convert to DBTYPE_STR (UTF-8, cut at a character boundary), to
// DBTYPE_WSTR (cut between UTF-16 characters, never inside a pair), and the
// two numeric columns also to the integer types and DBTYPE_BOOL. A value too
// long for its binding arrives cut, NUL-terminated, with its full length and
// DBSTATUS_S_TRUNCATED. When the consumer gives the row size, every binding
// must lie inside it, so GetData never writes past the consumer's row.
#pragma once

#include <mutex>
#include <vector>

#include "Platform/com/Com.h"
#include "Velora/com/OleDb.h"

namespace DataEngine::OleDb {

using Rtl::String;
using namespace Velora;

struct TSourceRow {
    String Name;
    String ParseName;
    String Description;
    std::uint16_t Type = DBSOURCETYPE_DATASOURCE_TDP;
    bool IsParent = false;
    String ClassId;  // empty: null
};

// The rows the root enumerator lists now, in the provider registry's order.
std::vector<TSourceRow> ListSources();

// A forward-only, read-only rowset over fixed rows with the sources columns.
class TSourcesRowset : public Com::TImplements<Com::TInterfacedObject, IRowset, IAccessor> {
public:
    explicit TSourcesRowset(std::vector<TSourceRow> rows);

    // ---- IRowset ----
    HRESULT AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                       DBROWSTATUS rgRowStatus[]) override;
    HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) override;
    HRESULT GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows, DBCOUNTITEM* pcRowsObtained,
                        HROW** prghRows) override;
    HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                        DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) override;
    HRESULT RestartPosition(HCHAPTER hReserved) override;

    // ---- IAccessor ----
    HRESULT AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;
    HRESULT CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings, const DBBINDING rgBindings[],
                           DBLENGTH cbRowSize, HACCESSOR* phAccessor, DBBINDSTATUS rgStatus[]) override;
    HRESULT GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                        std::vector<DBBINDING>& Bindings) override;
    HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) override;

private:
    struct TAccessor {
        HACCESSOR Handle = DB_NULL_HACCESSOR;
        DBACCESSORFLAGS Flags = DBACCESSOR_INVALID;
        std::vector<DBBINDING> Bindings;
        DBREFCOUNT RefCount = 0;
    };
    TAccessor* FindAccessor(HACCESSOR h);
    // The row of a handle the consumer holds, or null.
    const TSourceRow* HeldRow(HROW h) const;

    mutable std::mutex FLock;
    const std::vector<TSourceRow> FRows;
    std::vector<DBREFCOUNT> FRowRefs;  // per row: handles the consumer holds
    std::size_t FPosition = 0;         // the next row GetNextRows fetches
    std::vector<TAccessor> FAccessors;
    HACCESSOR FLastAccessor = DB_NULL_HACCESSOR;
};

class TRootEnumerator : public Com::TImplements<Com::TInterfacedObject, ISourcesRowset> {
public:
    HRESULT GetSourcesRowset(Rtl::IUnknown* pUnkOuter, const Rtl::IID& riid, std::uint32_t cPropertySets,
                             DBPROPSET rgProperties[], Rtl::IUnknown** ppSourcesRowset) override;
};

}  // namespace DataEngine::OleDb
