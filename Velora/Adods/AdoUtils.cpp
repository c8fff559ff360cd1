#include "Velora/Adods/AdoUtils.h"

#include <cstring>

#include "Platform/com/ClassRegistry.h"
#include "Velora/com/OleDb.h"

namespace Velora {

ComPtr<Connection15> CreateADOConnection(TADOVersion Version) {
    if (Version == avADO15) return Com::CreateComObject<Connection15>(CLSID_Connection);
    return Com::CreateComObject<_Connection>(CLSID_Connection);
}

ComPtr<Command15> CreateADOCommand(TADOVersion Version) {
    switch (Version) {
        case avADO15: return Com::CreateComObject<Command15>(CLSID_Command);
        case avADO20:
        case avADO21:
        case avADO25: return Com::CreateComObject<Command25>(CLSID_Command);
        default: return Com::CreateComObject<_Command>(CLSID_Command);
    }
}

ComPtr<Recordset15> CreateADORecordset(TADOVersion Version) {
    switch (Version) {
        case avADO15: return Com::CreateComObject<Recordset15>(CLSID_Recordset);
        case avADO20: return Com::CreateComObject<Recordset20>(CLSID_Recordset);
        case avADO21: return Com::CreateComObject<Recordset21>(CLSID_Recordset);
        default: return Com::CreateComObject<_Recordset>(CLSID_Recordset);
    }
}

String GetADOVersion() {
    try {
        const ComPtr<Com::IDispatch> connection = Com::CreateOleObject(ProgID_Connection);
        return Com::OleGet(connection, "Version").ToString();
    } catch (...) {
        return "0.0";
    }
}

Variant NotUsed() { return Com::EmptyParam; }

// ---- The provider list ---------------------------------------------------------------------------

namespace {

// The row layout the provider list binds: each column's status, then its
// length 4 bytes later and its value 8 bytes later; the next column starts
// after the value, on a multiple of 8.
struct TListColumn {
    DBORDINAL Ordinal;
    DBTYPE Type;
    DBLENGTH Width;
};
constexpr TListColumn ListColumns[] = {
    {SOURCES_NAME, DBTYPE_STR, 64},
    {SOURCES_PARSENAME, DBTYPE_WSTR, 128},
    {SOURCES_TYPE, DBTYPE_UI4, 4},
};
constexpr int NameColumn = 0;
constexpr int TypeColumn = 2;
constexpr DBCOUNTITEM MaxSources = 256;

std::uint32_t ReadU32(const std::vector<unsigned char>& row, DBBYTEOFFSET offset) {
    std::uint32_t v;
    std::memcpy(&v, row.data() + offset, sizeof v);
    return v;
}

void ListProviders(Rtl::TStrings* List) {
    ComPtr<ISourcesRowset> sources;
    if (Com::Failed(Com::CoCreateInstance(CLSID_OLEDB_ENUMERATOR, nullptr, Com::CLSCTX_INPROC_SERVER,
                                          Com::IIDOf<ISourcesRowset>(), sources.PutVoid())) ||
        !sources)
        return;

    Rtl::IUnknown* raw = nullptr;
    if (Com::Failed(sources->GetSourcesRowset(nullptr, Com::IIDOf<IRowset>(), 0, nullptr, &raw)) || !raw) return;
    const auto rowset = ComPtr<IRowset>::Attach(static_cast<IRowset*>(raw));
    const auto accessor = rowset.TryAs<IAccessor>();
    if (!accessor) return;

    DBBINDING bindings[std::size(ListColumns)];
    DBBYTEOFFSET start = 0;
    for (std::size_t i = 0; i < std::size(ListColumns); ++i) {
        DBBINDING& b = bindings[i];
        b = DBBINDING{};
        b.iOrdinal = ListColumns[i].Ordinal;
        b.obStatus = start;
        b.obLength = start + 4;
        b.obValue = start + 8;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.dwMemOwner = DBMEMOWNER_CLIENTOWNED;
        b.eParamIO = DBPARAMIO_NOTPARAM;
        b.cbMaxLen = ListColumns[i].Width;
        b.wType = ListColumns[i].Type;
        start = (start + ListColumns[i].Width + 8 + 7) / 8 * 8;
    }
    const DBLENGTH rowSize = start;

    HACCESSOR hAccessor = DB_NULL_HACCESSOR;
    if (Com::Failed(accessor->CreateAccessor(DBACCESSOR_ROWDATA, std::size(bindings), bindings, rowSize, &hAccessor,
                                             nullptr)))
        return;

    HROW rows[MaxSources] = {};
    HROW* rowArray = rows;
    DBCOUNTITEM obtained = 0;
    const Com::HRESULT fetched = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, MaxSources, &obtained, &rowArray);
    // The handles must be in our array, and no more than we asked for.
    if (Com::Succeeded(fetched) && rowArray == rows) {
        if (obtained > MaxSources) obtained = MaxSources;
        std::vector<unsigned char> row(rowSize);
        const DBBINDING& name = bindings[NameColumn];
        const DBBINDING& type = bindings[TypeColumn];
        for (DBCOUNTITEM i = 0; i < obtained; ++i) {
            // A column the provider could not fill reads as zeros, never as the row before.
            std::fill(row.begin(), row.end(), 0);
            if (Com::Failed(rowset->GetData(rows[i], hAccessor, row.data()))) continue;
            const DBSTATUS nameStatus = ReadU32(row, name.obStatus);
            if (ReadU32(row, type.obStatus) != DBSTATUS_S_OK || ReadU32(row, type.obValue) != DBSOURCETYPE_DATASOURCE)
                continue;
            if (nameStatus != DBSTATUS_S_OK && nameStatus != DBSTATUS_S_TRUNCATED) continue;
            // Up to the terminator, and never past the 64 bytes bound.
            const char* text = reinterpret_cast<const char*>(row.data() + name.obValue);
            List->Add(String(text, strnlen(text, name.cbMaxLen)));
        }
        rowset->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    }
    accessor->ReleaseAccessor(hAccessor, nullptr);
}

}  // namespace

void EnumerateOleDbProviders(Rtl::TStrings* List) {
    if (!List) return;
    try {
        List->Clear();
        ListProviders(List);
    } catch (...) {
        // The listing ends quietly with what was gathered.
    }
}

// ---- The error rule -----------------------------------------------------------------------------

String ADOErrorMessage(Com::IDispatch* Recordset, const String& Msg) {
    String text;
    if (Recordset) {
        try {
            const ComPtr<Rtl::IUnknown> active = Com::VarToUnknown(Com::OleGet(Recordset, "ActiveConnection"));
            if (const auto connection = active.TryAs<_Connection>()) {
                const ComPtr<Errors> errors = connection->GetErrors();
                for (int i = errors->GetCount() - 1; i >= 0; --i)
                    text += "\r" + Rtl::WideToUtf8(errors->GetItem(Variant(i))->GetDescription());
            }
        } catch (...) {
            // Errors that cannot be read count as none: the caller's message stands.
            text.clear();
        }
    }
    if (text.empty()) text = Msg;
    if (text.empty()) text = "Unknown error";
    return text;
}

void RaiseADOError(Db::TDataSet* DataSet, Com::IDispatch* Recordset, const String& Msg,
                   const Db::TDataSetErrorEvent& OnADOError) {
    EADOError error(ADOErrorMessage(Recordset, Msg));
    Db::TDataAction action = Db::daFail;
    if (OnADOError) OnADOError(DataSet, error, action);
    if (action == Db::daAbort) Rtl::Abort();
    throw error;
}

}  // namespace Velora
