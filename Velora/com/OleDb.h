// The part of OLE DB the packages use directly: the root enumerator, which
// lists the data-source providers installed on the machine, and the rowset
// interfaces it answers with (ISourcesRowset, IRowset, IAccessor).
//
// Unlike the ADO interfaces these answer HRESULTs, as OLE DB does: a consumer
// tests each result and decides for itself what a failure means. Counts,
// offsets and lengths are 32-bit, so a row binding lays out as status (4
// bytes), length (4 bytes), value. Row handles are returned into an array the
// caller supplies (GetNextRows answers E_INVALIDARG when *prghRows is null).
//
// The data engine implements the root enumerator (class CLSID_OLEDB_ENUMERATOR).
#pragma once

#include <cstdint>
#include <vector>

#include "Platform/com/Unknown.h"

namespace Velora {

using Com::ComPtr;
using Rtl::HRESULT;

using DBTYPE = std::uint16_t;
using DBSTATUS = std::uint32_t;
using DBLENGTH = std::uint32_t;
using DBBYTEOFFSET = std::uint32_t;
using DBORDINAL = std::uint32_t;
using DBCOUNTITEM = std::uint32_t;
using DBROWCOUNT = std::int32_t;
using DBROWOFFSET = std::int32_t;
using DBREFCOUNT = std::uint32_t;
using DBPART = std::uint32_t;
using DBMEMOWNER = std::uint32_t;
using DBPARAMIO = std::uint32_t;
using DBACCESSORFLAGS = std::uint32_t;
using DBBINDSTATUS = std::uint32_t;
using DBROWSTATUS = std::uint32_t;
using DBROWOPTIONS = std::uint32_t;
using HROW = std::uintptr_t;
using HACCESSOR = std::uintptr_t;
using HCHAPTER = std::uintptr_t;

constexpr HCHAPTER DB_NULL_HCHAPTER = 0;
constexpr HROW DB_NULL_HROW = 0;
constexpr HACCESSOR DB_NULL_HACCESSOR = 0;

// Data types of bindings (the same numbers as ADO's DataTypeEnum).
enum : DBTYPE {
    DBTYPE_EMPTY = 0,
    DBTYPE_NULL = 1,
    DBTYPE_I2 = 2,
    DBTYPE_I4 = 3,
    DBTYPE_R8 = 5,
    DBTYPE_BSTR = 8,
    DBTYPE_BOOL = 11,
    DBTYPE_VARIANT = 12,
    DBTYPE_UI1 = 17,
    DBTYPE_UI2 = 18,
    DBTYPE_UI4 = 19,
    DBTYPE_I8 = 20,
    DBTYPE_GUID = 72,
    DBTYPE_BYTES = 128,
    DBTYPE_STR = 129,
    DBTYPE_WSTR = 130,
    DBTYPE_BYREF = 0x4000,
};

// Status of one bound column after GetData.
enum : DBSTATUS {
    DBSTATUS_S_OK = 0,
    DBSTATUS_E_BADACCESSOR = 1,
    DBSTATUS_E_CANTCONVERTVALUE = 2,
    DBSTATUS_S_ISNULL = 3,
    DBSTATUS_S_TRUNCATED = 4,
    DBSTATUS_E_SIGNMISMATCH = 5,
    DBSTATUS_E_DATAOVERFLOW = 6,
    DBSTATUS_E_UNAVAILABLE = 8,
};

// Which parts of a binding are transferred.
enum : DBPART {
    DBPART_INVALID = 0,
    DBPART_VALUE = 0x1,
    DBPART_LENGTH = 0x2,
    DBPART_STATUS = 0x4,
};

enum : DBMEMOWNER {
    DBMEMOWNER_CLIENTOWNED = 0,
    DBMEMOWNER_PROVIDEROWNED = 1,
};

enum : DBPARAMIO {
    DBPARAMIO_NOTPARAM = 0,
    DBPARAMIO_INPUT = 1,
    DBPARAMIO_OUTPUT = 2,
};

enum : DBACCESSORFLAGS {
    DBACCESSOR_INVALID = 0,
    DBACCESSOR_PASSBYREF = 0x1,
    DBACCESSOR_ROWDATA = 0x2,
    DBACCESSOR_PARAMETERDATA = 0x4,
    DBACCESSOR_OPTIMIZED = 0x8,
};

// Why CreateAccessor refused a binding.
enum : DBBINDSTATUS {
    DBBINDSTATUS_OK = 0,
    DBBINDSTATUS_BADORDINAL = 1,
    DBBINDSTATUS_UNSUPPORTEDCONVERSION = 2,
    DBBINDSTATUS_BADBINDINFO = 3,
};

enum : DBROWSTATUS {
    DBROWSTATUS_S_OK = 0,
    DBROWSTATUS_E_INVALID = 4,
};

// Result codes of OLE DB.
constexpr HRESULT DB_E_BADACCESSORHANDLE = static_cast<HRESULT>(0x80040E00u);
constexpr HRESULT DB_E_BADROWHANDLE = static_cast<HRESULT>(0x80040E04u);
constexpr HRESULT DB_E_BADCHAPTER = static_cast<HRESULT>(0x80040E06u);
constexpr HRESULT DB_E_BADBINDINFO = static_cast<HRESULT>(0x80040E08u);
constexpr HRESULT DB_E_ERRORSOCCURRED = static_cast<HRESULT>(0x80040E21u);
constexpr HRESULT DB_E_NOAGGREGATION = static_cast<HRESULT>(0x80040E22u);
constexpr HRESULT DB_E_CANTFETCHBACKWARDS = static_cast<HRESULT>(0x80040E24u);
constexpr HRESULT DB_E_BADACCESSORFLAGS = static_cast<HRESULT>(0x80040E46u);
constexpr HRESULT DB_S_ENDOFROWSET = static_cast<HRESULT>(0x00040EC6u);
constexpr HRESULT DB_S_ERRORSOCCURRED = static_cast<HRESULT>(0x00040EDAu);

// One column of a row accessor: where its value, length and status go in the
// consumer's row buffer, which of them are transferred, and as what type.
struct DBBINDING {
    DBORDINAL iOrdinal = 0;
    DBBYTEOFFSET obValue = 0;
    DBBYTEOFFSET obLength = 0;
    DBBYTEOFFSET obStatus = 0;
    void* pTypeInfo = nullptr;  // reserved: null
    void* pObject = nullptr;    // binding to storage objects: not supported, null
    void* pBindExt = nullptr;   // reserved: null
    DBPART dwPart = DBPART_INVALID;
    DBMEMOWNER dwMemOwner = DBMEMOWNER_CLIENTOWNED;
    DBPARAMIO eParamIO = DBPARAMIO_NOTPARAM;
    DBLENGTH cbMaxLen = 0;  // size of the value area (text: terminator included)
    std::uint32_t dwFlags = 0;
    DBTYPE wType = DBTYPE_EMPTY;
    Rtl::Byte bPrecision = 0;
    Rtl::Byte bScale = 0;
};

// A set of initialisation properties; the enumerator takes none.
struct DBPROPSET {
    void* rgProperties = nullptr;
    std::uint32_t cProperties = 0;
    Rtl::GUID guidPropertySet;
};

struct IAccessor : Rtl::IUnknown {
    COM_INTERFACE(IAccessor, Rtl::IUnknown, "{0C733A8C-2A1C-11CE-ADE5-00AA0044773D}")
    virtual HRESULT AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) = 0;
    // rgStatus (optional, cBindings entries) receives the verdict on each binding;
    // DB_E_ERRORSOCCURRED when one is refused, and then no accessor is made.
    virtual HRESULT CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                   const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                   DBBINDSTATUS rgStatus[]) = 0;
    virtual HRESULT GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                std::vector<DBBINDING>& Bindings) = 0;
    virtual HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) = 0;
};

struct IRowset : Rtl::IUnknown {
    COM_INTERFACE(IRowset, Rtl::IUnknown, "{0C733A7C-2A1C-11CE-ADE5-00AA0044773D}")
    virtual HRESULT AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                               DBROWSTATUS rgRowStatus[]) = 0;
    // Writes the bound columns of one fetched row into pData: S_OK (truncation
    // included), DB_S_ERRORSOCCURRED when some columns failed,
    // DB_E_ERRORSOCCURRED when all did.
    virtual HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
    // Fetches up to cRows rows after skipping lRowsOffset; their handles go to
    // the caller's array *prghRows. DB_S_ENDOFROWSET when fewer were left.
    virtual HRESULT GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                DBCOUNTITEM* pcRowsObtained, HROW** prghRows) = 0;
    virtual HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                                DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT RestartPosition(HCHAPTER hReserved) = 0;
};

struct ISourcesRowset : Rtl::IUnknown {
    COM_INTERFACE(ISourcesRowset, Rtl::IUnknown, "{0C733A1E-2A1C-11CE-ADE5-00AA0044773D}")
    // The rowset of data sources, queried for riid.
    virtual HRESULT GetSourcesRowset(Rtl::IUnknown* pUnkOuter, const Rtl::IID& riid, std::uint32_t cPropertySets,
                                     DBPROPSET rgProperties[], Rtl::IUnknown** ppSourcesRowset) = 0;
};

// The columns of the sources rowset, by ordinal.
enum : DBORDINAL {
    SOURCES_NAME = 1,         // WSTR: the name a connection string gives as Provider
    SOURCES_PARSENAME = 2,    // WSTR
    SOURCES_DESCRIPTION = 3,  // WSTR
    SOURCES_TYPE = 4,         // UI2: a DBSOURCETYPE
    SOURCES_ISPARENT = 5,     // BOOL
    SOURCES_CLSID = 6,        // WSTR
};

// What a row of the sources rowset describes.
enum : std::uint16_t {
    DBSOURCETYPE_DATASOURCE = 1,  // a tabular data-source provider
    DBSOURCETYPE_DATASOURCE_TDP = 1,
    DBSOURCETYPE_ENUMERATOR = 2,
    DBSOURCETYPE_DATASOURCE_MDP = 3,
    DBSOURCETYPE_BINDER = 4,
};

// The OLE DB root enumerator.
constexpr Rtl::CLSID CLSID_OLEDB_ENUMERATOR = Com::GUIDLiteral("{C8B522D0-5CF3-11CE-ADE5-00AA0044773D}");

}  // namespace Velora
