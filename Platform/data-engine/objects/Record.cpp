#include "Platform/data-engine/objects/Record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "Platform/data-engine/objects/Connection.h"
#include "Platform/data-engine/objects/Recordset.h"
#include "Platform/data-engine/objects/Stream.h"
#include "Platform/data-engine/providers/MemoryResult.h"

namespace DataEngine::Ado {

namespace fs = std::filesystem;

namespace {

bool IsObject(const Variant& v) noexcept {
    return v.BaseType() == Rtl::varDispatch || v.BaseType() == Rtl::varUnknown;
}

Variant FileTime(const struct timespec& ts) {
    return Variant(Rtl::TDateTime(25569.0 + (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / 86400.0));
}

// The resource fields of a document source, in ADO's order.
struct TResourceColumn {
    const char* Name;
    DataTypeEnum Type;
};

const TResourceColumn ResourceColumns[] = {
    {"RESOURCE_PARSENAME", adVarWChar},       {"RESOURCE_PARENTNAME", adVarWChar},
    {"RESOURCE_ABSOLUTEPARSENAME", adVarWChar}, {"RESOURCE_ISHIDDEN", adBoolean},
    {"RESOURCE_ISREADONLY", adBoolean},       {"RESOURCE_CONTENTTYPE", adVarWChar},
    {"RESOURCE_CONTENTCLASS", adVarWChar},    {"RESOURCE_CONTENTLANGUAGE", adVarWChar},
    {"RESOURCE_CREATIONTIME", adDate},        {"RESOURCE_LASTACCESSTIME", adDate},
    {"RESOURCE_LASTWRITETIME", adDate},       {"RESOURCE_STREAMSIZE", adUnsignedBigInt},
    {"RESOURCE_ISCOLLECTION", adBoolean},     {"RESOURCE_ISSTRUCTUREDDOCUMENT", adBoolean},
    {"DEFAULT_DOCUMENT", adVarWChar},         {"RESOURCE_DISPLAYNAME", adVarWChar},
    {"RESOURCE_ISROOT", adBoolean},
};

String ContentClass(const String& name, bool folder) {
    if (folder) return {};
    static const std::pair<const char*, const char*> types[] = {
        {".txt", "text/plain"},       {".htm", "text/html"},        {".html", "text/html"},
        {".xml", "text/xml"},         {".csv", "text/csv"},         {".json", "application/json"},
        {".pdf", "application/pdf"},  {".png", "image/png"},        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},      {".gif", "image/gif"},        {".zip", "application/zip"},
    };
    const std::size_t dot = name.rfind('.');
    if (dot == String::npos) return "application/octet-stream";
    const String ext = name.substr(dot);
    for (const auto& [e, t] : types)
        if (Rtl::SameText(ext, e)) return t;
    return "application/octet-stream";
}

String ParentOf(const String& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == String::npos ? String("/") : path.substr(0, slash);
}

String NameOf(const String& path) {
    const std::size_t slash = path.rfind('/');
    return slash == String::npos ? path : path.substr(slash + 1);
}

// The resource fields of one file or folder (followed through links, which
// the root has checked).
std::vector<Variant> ResourceValues(const TDocumentRoot& root, const String& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        AdoFail(adErrURLDoesNotExist, "\"" + root.UrlOf(path) + "\" does not exist");
    const bool folder = S_ISDIR(st.st_mode);
    const String name = NameOf(path);
    Variant created = FileTime(st.st_mtim);
#ifdef STATX_BTIME
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        const struct timespec ts{static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec)};
        created = FileTime(ts);
    }
#endif
    const bool isRoot = root.IsRoot(path);
    return {
        Variant(Wide(name)),
        Variant(Wide(isRoot ? String() : root.UrlOf(ParentOf(path)))),
        Variant(Wide(root.UrlOf(path))),
        Variant(!name.empty() && name[0] == '.'),
        Variant(::access(path.c_str(), W_OK) != 0),
        Variant(WideString()),
        Variant(Wide(ContentClass(name, folder))),
        Variant(WideString()),
        created,
        FileTime(st.st_atim),
        FileTime(st.st_mtim),
        Variant(static_cast<unsigned long long>(folder ? 0 : st.st_size)),
        Variant(folder),
        Variant(false),
        Variant(WideString()),
        Variant(Wide(name)),
        Variant(isRoot),
    };
}

[[noreturn]] void FsFailure(std::string_view what, const TDocumentRoot& root, const String& path, const std::error_code& ec) {
    AdoFail(adErrCannotComplete, String(what) + " \"" + root.UrlOf(path) + "\": " + ec.message());
}

// Copies src to dest (which must not exist): a folder with its content
// (files only when nonRecursive), links copied as links.
void CopyTree(const TDocumentRoot& root, const String& src, const String& dest, bool nonRecursive) {
    std::error_code ec;
    if (fs::is_directory(src, ec)) {
        fs::create_directory(dest, src, ec);
        if (ec) FsFailure("cannot create", root, dest, ec);
        for (const auto& entry : fs::directory_iterator(src, ec)) {
            const String from = entry.path().string();
            const String to = dest + "/" + entry.path().filename().string();
            std::error_code e2;
            if (entry.is_symlink(e2)) {
                fs::copy_symlink(from, to, e2);
                if (e2) FsFailure("cannot copy", root, from, e2);
            } else if (entry.is_directory(e2)) {
                if (!nonRecursive) CopyTree(root, from, to, false);
            } else {
                fs::copy_file(from, to, e2);
                if (e2) FsFailure("cannot copy", root, from, e2);
            }
        }
        if (ec) FsFailure("cannot read", root, src, ec);
        return;
    }
    fs::copy_file(src, dest, ec);
    if (ec) FsFailure("cannot copy", root, src, ec);
}

// Takes what lies at temp to dest, replacing what dest held only once the
// new content is complete.
void ReplaceWith(const TDocumentRoot& root, const String& temp, const String& dest) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(dest, ec)) && fs::is_directory(fs::symlink_status(dest, ec))) {
        const String old = dest + ".old-" + std::to_string(::getpid());
        fs::rename(dest, old, ec);
        if (ec) FsFailure("cannot replace", root, dest, ec);
        fs::rename(temp, dest, ec);
        if (ec) {
            std::error_code back;
            fs::rename(old, dest, back);
            FsFailure("cannot replace", root, dest, ec);
        }
        fs::remove_all(old, ec);
        return;
    }
    fs::rename(temp, dest, ec);
    if (ec) FsFailure("cannot replace", root, dest, ec);
}

bool Within(const String& path, const String& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

Rtl::IUnknown* UnknownOf(TRecordObject* r) { return static_cast<Rtl::IUnknown*>(static_cast<_Record*>(r)); }

TRecordObject* RecordOf(Rtl::IUnknown* unk) noexcept {
    auto r = Com::QueryInterface<_Record>(unk);
    return dynamic_cast<TRecordObject*>(r.Get());
}

// ---- Resource fields ---------------------------------------------------------------------------------

TResourceField::TResourceField(Rtl::IUnknown* controller, TRecordObject* owner, String name, DataTypeEnum type,
                               Variant value, int index)
    : TDispatchImpl(controller), FOwner(owner), FName(std::move(name)), FType(type), FValue(std::move(value)),
      FIndex(index) {
    FProperties = std::make_unique<TPropertiesCollection>(controller, owner, [] { return std::vector<TPropertyInfo>{}; });
}

ComPtr<Properties> TResourceField::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

int TResourceField::GetActualSize() {
    if (Rtl::VarIsStr(FValue)) return static_cast<int>(FValue.ToWideString().size() * 2);
    return FValue.IsNull() ? 0 : 8;
}

int TResourceField::GetAttributes() { return adFldIsNullable | adFldMayBeNull; }
int TResourceField::GetDefinedSize() { return FType == adVarWChar ? 1024 : 8; }

Variant TResourceField::GetValue() {
    return FOwner->Guard([&]() -> Variant {
        if (!FOwner->IsOpen()) AdoFail(adErrObjectClosed, "Field.Value: the record is closed");
        if (FIndex != adDefaultStream) return FValue;
        // A stream on the file, with the record's mode.
        ConnectModeEnum mode = adModeUnknown;
        const String path = FOwner->DefaultStreamPath("Fields(adDefaultStream)", mode);
        auto stream = Com::MakeComObject<TStreamObject>();
        stream->OpenOnFile(path, mode);
        return Com::VarFromInterface(static_cast<Com::IDispatch*>(static_cast<_Stream*>(stream.Get())));
    });
}

void TResourceField::ReadOnly(std::string_view what) {
    FOwner->Guard([&] { AdoFail(adErrPermissionDenied, String(what) + ": the resource field " + FName + " is read-only"); });
    throw;  // not reached
}

void TResourceField::SetValue(const Variant&) { ReadOnly("Field.Value"); }
void TResourceField::AppendChunk(const Variant&) { ReadOnly("Field.AppendChunk"); }
Variant TResourceField::GetChunk(int) {
    return FOwner->Guard([&]() -> Variant {
        AdoFail(adErrFeatureNotAvailable, "Field.GetChunk: resource fields are read whole through Value");
    });
}
void TResourceField::SetDataFormatRef(Rtl::IUnknown*) { ReadOnly("Field.DataFormat"); }
void TResourceField::SetPrecision(Byte) { ReadOnly("Field.Precision"); }
void TResourceField::SetNumericScale(Byte) { ReadOnly("Field.NumericScale"); }
void TResourceField::SetType(DataTypeEnum) { ReadOnly("Field.Type"); }
void TResourceField::SetDefinedSize(int) { ReadOnly("Field.DefinedSize"); }
void TResourceField::SetAttributes(int) { ReadOnly("Field.Attributes"); }

const Com::TDispatchTable<TResourceField>& TResourceField::GetDispatchTable() {
    using T = TResourceField;
    static const auto table = Com::TDispatchTable<T>("ADODB.Field")
                                  .Property("Properties", 500, &T::GetProperties)
                                  .Property("ActualSize", 1109, &T::GetActualSize)
                                  .Property("Attributes", 1036, &T::GetAttributes)
                                  .Property("DefinedSize", 1103, &T::GetDefinedSize)
                                  .Property("Name", 1100, &T::GetName)
                                  .Property("Type", 1102, &T::GetType)
                                  .Property("Value", 0, &T::GetValue, &T::SetValue)
                                  .Property("OriginalValue", 1104, &T::GetOriginalValue)
                                  .Property("UnderlyingValue", 1105, &T::GetUnderlyingValue)
                                  .Property("Status", 1111, &T::GetStatus);
    return table;
}

void TResourceFields::Fill(const std::vector<std::pair<String, Variant>>& values, const std::vector<DataTypeEnum>& types,
                           const String& url, bool hasStream) {
    Clear();
    for (std::size_t i = 0; i < values.size(); ++i)
        FItems.push_back(std::make_unique<TResourceField>(FController, FOwner, values[i].first, types[i],
                                                          values[i].second, static_cast<int>(i)));
    if (hasStream)
        FStreamField = std::make_unique<TResourceField>(FController, FOwner, String(), adIUnknown, Variant(), adDefaultStream);
    FUrlField = std::make_unique<TResourceField>(FController, FOwner, String(), adVarWChar, Variant(Wide(url)), adRecordURL);
}

void TResourceFields::Clear() {
    FItems.clear();
    FStreamField.reset();
    FUrlField.reset();
}

ComPtr<Field> TResourceFields::GetItem(const Variant& Index) {
    return FOwner->Guard([&] {
        const Variant index = Index.IsByRef() ? Index.Deref() : Index;
        if (!Rtl::VarIsStr(index) && !IsMissing(index)) {
            const int n = index.ToInteger();
            if (n == adDefaultStream) {
                if (!FStreamField)
                    AdoFail(adErrItemNotFound, "Fields(adDefaultStream): a folder has no default stream");
                return ComPtr<Field>(FStreamField.get());
            }
            if (n == adRecordURL) {
                if (!FUrlField) AdoFail(adErrItemNotFound, "Fields(adRecordURL): the record is closed");
                return ComPtr<Field>(FUrlField.get());
            }
        }
        const int i = ResolveIndex(
            index, GetCount(),
            [&](const String& name) {
                for (std::size_t k = 0; k < FItems.size(); ++k)
                    if (Rtl::SameText(Narrow(FItems[k]->GetName()), name)) return static_cast<int>(k);
                return -1;
            },
            "Fields");
        if (i < 0) AdoFail(adErrItemNotFound, "Fields: no field is named \"" + index.ToString() + "\"");
        return ComPtr<Field>(FItems[static_cast<std::size_t>(i)].get());
    });
}

void TResourceFields::_Append(const WideString&, DataTypeEnum, int, FieldAttributeEnum) {
    FOwner->Guard([&] { AdoFail(adErrFeatureNotAvailable, "Fields.Append: a resource record's fields are fixed"); });
}
void TResourceFields::Delete(const Variant&) {
    FOwner->Guard([&] { AdoFail(adErrFeatureNotAvailable, "Fields.Delete: a resource record's fields are fixed"); });
}
void TResourceFields::Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                             const Variant&) {
    _Append(Name, Type, DefinedSize, Attrib);
}

const Com::TDispatchTable<TResourceFields>& TResourceFields::GetDispatchTable() {
    using T = TResourceFields;
    static const auto table = Com::TDispatchTable<T>("ADODB.Fields")
                                  .Property("Count", 1, &T::GetCount)
                                  .Method("Refresh", 2, &T::Refresh)
                                  .Property("Item", 0, &T::GetItem);
    return table;
}

// ---- Row fields ----------------------------------------------------------------------------------------

ComPtr<_Recordset> TRowFields::Clone() {
    if (!FClone || !FOwner->IsOpen()) AdoFail(adErrObjectClosed, "Fields: the record is closed");
    return FClone;
}

int TRowFields::GetCount() {
    return FOwner->Guard([&] { return Clone()->GetFields()->GetCount(); });
}

ComPtr<Field> TRowFields::GetItem(const Variant& Index) {
    return FOwner->Guard([&] { return Clone()->GetFields()->GetItem(Index); });
}

void TRowFields::_Append(const WideString&, DataTypeEnum, int, FieldAttributeEnum) {
    FOwner->Guard([&] { AdoFail(adErrFeatureNotAvailable, "Fields.Append: a row record has the fields of its recordset"); });
}
void TRowFields::Delete(const Variant&) {
    FOwner->Guard([&] { AdoFail(adErrFeatureNotAvailable, "Fields.Delete: a row record has the fields of its recordset"); });
}
void TRowFields::Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                        const Variant&) {
    _Append(Name, Type, DefinedSize, Attrib);
}

void TRowFields::Update() {
    FOwner->Guard([&] {
        auto rs = Clone();
        if (rs->GetEditMode() != adEditNone) rs->Update();
    });
}

void TRowFields::CancelUpdate() {
    FOwner->Guard([&] {
        auto rs = Clone();
        if (rs->GetEditMode() != adEditNone) rs->CancelUpdate();
    });
}

void TRowFields::Resync(ResyncEnum ResyncValues) {
    FOwner->Guard([&] { Clone()->Resync(adAffectCurrent, ResyncValues); });
}

const Com::TDispatchTable<TRowFields>& TRowFields::GetDispatchTable() {
    using T = TRowFields;
    static const auto table = Com::TDispatchTable<T>("ADODB.Fields")
                                  .Property("Count", 1, &T::GetCount)
                                  .Method("Refresh", 2, &T::Refresh)
                                  .Method("Update", 5, &T::Update)
                                  .Method("CancelUpdate", 7, &T::CancelUpdate)
                                  .Property("Item", 0, &T::GetItem);
    return table;
}

// ---- Record ----------------------------------------------------------------------------------------

TRecordObject::TRecordObject() {
    FFields = std::make_unique<TResourceFields>(UnknownOf(this), this);
    FRowFields = std::make_unique<TRowFields>(UnknownOf(this), this);
    FProperties = std::make_unique<TPropertiesCollection>(UnknownOf(this), this,
                                                          [] { return std::vector<TPropertyInfo>{}; });
}

TRecordObject::~TRecordObject() = default;

TErrorsCollection* TRecordObject::GetErrorTarget() {
    TConnectionObject* c = FConnection ? ConnectionOf(FConnection.Get()) : nullptr;
    return c ? c->GetErrorTarget() : nullptr;
}

void TRecordObject::CheckOpen(std::string_view operation) const {
    if (FState != adStateOpen) AdoFail(adErrObjectClosed, String(operation) + ": the record is closed");
}

void TRecordObject::CheckClosed(std::string_view operation) const {
    if (FState == adStateOpen) AdoFail(adErrObjectOpen, String(operation) + " cannot change while the record is open");
}

void TRecordObject::CheckResource(std::string_view operation) const {
    CheckOpen(operation);
    if (FKind != rkResource)
        AdoFail(adErrFeatureNotAvailable, String(operation) + ": the record is a recordset's row, not a resource of a "
                                                              "document source");
}

ComPtr<Properties> TRecordObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

Variant TRecordObject::GetActiveConnection() {
    if (FConnection) return Com::VarFromInterface(static_cast<Com::IDispatch*>(FConnection.Get()));
    if (FState == adStateOpen && FKind == rkResource && !IsObject(FConnectionValue))
        return Variant(Wide("URL=" + FRoot->GetUrl()));
    return FConnectionValue;
}

void TRecordObject::SetActiveConnection(const WideString& Value) {
    Guard([&] {
        CheckClosed("Record.ActiveConnection");
        FConnectionValue = Value.empty() ? Variant() : Variant(Value);
    });
}

void TRecordObject::SetActiveConnectionRef(_Connection* Value) {
    Guard([&] {
        CheckClosed("Record.ActiveConnection");
        FConnectionValue = Value ? Com::VarFromInterface(static_cast<Com::IDispatch*>(Value)) : Variant();
    });
}

Variant TRecordObject::GetSource() {
    if (FState == adStateOpen && FKind == rkResource) return Variant(Wide(FRoot->UrlOf(FPath)));
    return FSourceValue;
}

void TRecordObject::SetSource(const WideString& Value) {
    Guard([&] {
        CheckClosed("Record.Source");
        FSourceValue = Value.empty() ? Variant() : Variant(Value);
    });
}

void TRecordObject::SetSourceRef(Com::IDispatch* Value) {
    Guard([&] {
        CheckClosed("Record.Source");
        FSourceValue = Value ? Com::VarFromInterface(Value) : Variant();
    });
}

void TRecordObject::SetMode(ConnectModeEnum Value) {
    Guard([&] {
        CheckClosed("Record.Mode");
        if (Value < 0 || (Value & ~(0x1F | adModeRecursive)))
            AdoFail(adErrInvalidArgument, "Record.Mode " + std::to_string(Value) + " is not a ConnectModeEnum value");
        FMode = Value;
    });
}

WideString TRecordObject::GetParentURL() {
    return Guard([&] {
        CheckOpen("Record.ParentURL");
        if (FKind != rkResource || FRoot->IsRoot(FPath)) return WideString();
        return Wide(FRoot->UrlOf(ParentOf(FPath)));
    });
}

RecordTypeEnum TRecordObject::GetRecordType() {
    return Guard([&] {
        CheckOpen("Record.RecordType");
        return FKind == rkResource && FIsCollection ? adCollectionRecord : adSimpleRecord;
    });
}

ComPtr<Fields> TRecordObject::GetFields() {
    return Guard([&] {
        if (FKind == rkRow && FState == adStateOpen) return ComPtr<Fields>(FRowFields.get());
        return ComPtr<Fields>(FFields.get());
    });
}

// ---- Open and close ----------------------------------------------------------------------------------

void TRecordObject::Open(const Variant& Source, const Variant& ActiveConnection, ConnectModeEnum Mode,
                         RecordCreateOptionsEnum CreateOptions, RecordOpenOptionsEnum Options,
                         const WideString& UserName, const WideString& Password) {
    Guard([&] {
        (void)Options;  // fetching is never delayed: a resource's fields are small
        (void)UserName;
        (void)Password;
        if (FState == adStateOpen) AdoFail(adErrObjectOpen, "Record.Open: the record is already open");
        if (Mode < 0 || (Mode & ~(0x1F | adModeRecursive)))
            AdoFail(adErrInvalidArgument, "Record.Open: mode " + std::to_string(Mode) + " is not a ConnectModeEnum value");
        const Variant source = IsMissing(Deref(Source)) ? FSourceValue : Deref(Source);
        const Variant connection = IsMissing(Deref(ActiveConnection)) ? FConnectionValue : Deref(ActiveConnection);
        const ConnectModeEnum mode = Mode != adModeUnknown ? Mode : (FMode != adModeUnknown ? FMode : adModeRead);
        if (IsObject(source)) {
            OpenRow(source, mode);
        } else {
            if (IsMissing(source) || !Rtl::VarIsStr(source) || source.ToString().empty())
                AdoFail(adErrInvalidArgument, "Record.Open needs a source: a URL or an open Recordset");
            OpenResource(source.ToString(), connection, mode, CreateOptions);
        }
        FSourceValue = source;
        if (!IsMissing(connection)) FConnectionValue = connection;
        FMode = mode;
        FState = adStateOpen;
    });
}

void TRecordObject::OpenRow(const Variant& source, ConnectModeEnum mode) {
    (void)mode;
    auto rs = Com::QueryInterface<_Recordset>(Com::VarToDispatch(source).Get());
    if (!rs) AdoFail(adErrInvalidArgument, "Record.Open: the source object is not a Recordset");
    if (rs->GetState() != adStateOpen) AdoFail(adErrObjectClosed, "Record.Open: the source recordset is closed");
    if (rs->GetBOF() || rs->GetEOF())
        AdoFail(adErrNoCurrentRecord, "Record.Open: the source recordset has no current row");
    // A clone shares the rows and their changes and keeps its own position.
    ComPtr<_Recordset> clone = rs->Clone(adLockUnspecified);
    clone->SetBookmark(rs->GetBookmark());
    FRowClone = clone;
    FRowFields->Attach(clone);
    FKind = rkRow;
    FIsCollection = false;
    FRoot.reset();
    FPath.clear();
    FFields->Clear();
    const Variant c = rs->GetActiveConnection();
    FConnection = IsObject(c) ? Com::QueryInterface<_Connection>(Com::VarToDispatch(c).Get()) : nullptr;
}

void TRecordObject::OpenResource(const String& url, const Variant& connection, ConnectModeEnum mode, int createOptions) {
    (void)mode;
    std::shared_ptr<TDocumentRoot> root;
    ComPtr<_Connection> conn;
    if (IsObject(connection)) {
        conn = Com::QueryInterface<_Connection>(Com::VarToDispatch(connection).Get());
        if (!conn) AdoFail(adErrInvalidArgument, "Record.Open: the active connection object is not a Connection");
        if (conn->GetState() != adStateOpen)
            AdoFail(adErrInvalidConnection, "Record.Open: the connection is closed");
        root = RootFromConnectionString(Narrow(conn->GetConnectionString()));
        if (!root)
            AdoFail(adErrInvalidConnection, "Record.Open: the connection is not a document source (open it with "
                                            "\"URL=file:///folder\")");
    } else if (Rtl::VarIsStr(connection) && !connection.ToString().empty()) {
        root = RootFromConnectionString(connection.ToString());
        if (!root)
            AdoFail(adErrInvalidConnection, "Record.Open: the connection string \"" + connection.ToString() +
                                                "\" names no document source (give \"URL=file:///folder\")");
    } else {
        // An absolute URL alone: its folder (or the folder holding it) is the root.
        const String path = FileUrlToPath(url);
        std::error_code ec;
        const String folder = fs::is_directory(path, ec) ? path : ParentOf(path);
        root = std::make_shared<TDocumentRoot>(PathToFileUrl(folder));
    }
    const String path = root->Resolve(url);

    const bool failIfMissing = createOptions == adFailIfNotExists;
    const int options = failIfMissing ? 0 : createOptions;
    if (!failIfMissing &&
        (options & ~(adCreateCollection | adOpenIfExists | adCreateOverwrite | adCreateStructDoc)) != 0)
        AdoFail(adErrInvalidArgument, "Record.Open: create options " + std::to_string(createOptions) +
                                          " are not RecordCreateOptionsEnum values");
    if (options & adCreateStructDoc) AdoFail(adErrFeatureNotAvailable, "Record.Open: structured documents are not kept by a folder tree");
    std::error_code ec;
    const bool exists = fs::exists(path, ec);
    if (failIfMissing) {
        if (!exists) AdoFail(adErrURLDoesNotExist, "Record.Open: \"" + url + "\" does not exist");
    } else if (exists && !(options & adOpenIfExists)) {
        if (!(options & adCreateOverwrite))
            AdoFail(adErrResourceExists, "Record.Open: \"" + url + "\" exists (use adOpenIfExists or adCreateOverwrite)");
        if (root->IsRoot(path)) AdoFail(adErrIllegalOperation, "Record.Open: the document root cannot be overwritten");
        fs::remove_all(path, ec);
        if (ec) FsFailure("cannot replace", *root, path, ec);
    }
    if (!fs::exists(path, ec)) {
        if (!fs::is_directory(ParentOf(path), ec))
            AdoFail(adErrURLDoesNotExist, "Record.Open: the folder that would hold \"" + url + "\" does not exist");
        if (options & adCreateCollection) {
            fs::create_directory(path, ec);
            if (ec) FsFailure("cannot create", *root, path, ec);
        } else {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) FsFailure("cannot create", *root, path, std::error_code(errno, std::generic_category()));
            ::close(fd);
        }
    }
    FRoot = root;
    FConnection = conn;
    FPath = path;
    FKind = rkResource;
    FRowClone = nullptr;
    LoadFields();
}

void TRecordObject::LoadFields() {
    const std::vector<Variant> values = ResourceValues(*FRoot, FPath);
    std::vector<std::pair<String, Variant>> named;
    std::vector<DataTypeEnum> types;
    for (std::size_t i = 0; i < values.size(); ++i) {
        named.emplace_back(ResourceColumns[i].Name, values[i]);
        types.push_back(ResourceColumns[i].Type);
    }
    FIsCollection = fs::is_directory(FPath);
    FFields->Fill(named, types, FRoot->UrlOf(FPath), !FIsCollection);
}

void TRecordObject::Close() {
    Guard([&] {
        CheckOpen("Record.Close");
        FState = adStateClosed;
        FRowClone = nullptr;
        FRowFields->Attach(nullptr);
        FFields->Clear();
        FKind = rkNone;
    });
}

String TRecordObject::DefaultStreamPath(std::string_view operation, ConnectModeEnum& mode) const {
    if (FState != adStateOpen) AdoFail(adErrObjectClosed, String(operation) + ": the record is closed");
    if (FKind != rkResource)
        AdoFail(adErrFeatureNotAvailable, String(operation) + ": a recordset's row has no default stream");
    if (FIsCollection)
        AdoFail(adErrIllegalOperation, String(operation) + ": \"" + FRoot->UrlOf(FPath) +
                                           "\" is a folder, which has no default stream");
    FRoot->Resolve(FRoot->UrlOf(FPath));  // still inside the root (a link may have changed)
    mode = FMode;
    return FPath;
}

// ---- Children ---------------------------------------------------------------------------------------

ComPtr<_Recordset> TRecordObject::GetChildren() {
    return Guard([&] {
        CheckResource("Record.GetChildren");
        if (!FIsCollection)
            AdoFail(adErrIllegalOperation, "Record.GetChildren: \"" + FRoot->UrlOf(FPath) + "\" is a file, which has no children");
        std::vector<TColumnInfo> columns;
        for (const auto& c : ResourceColumns) columns.push_back(MakeColumn(c.Name, c.Type, c.Type == adVarWChar ? 1024 : 0));
        TMemoryResult result(columns);
        std::vector<String> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(FPath, ec)) names.push_back(entry.path().filename().string());
        if (ec) FsFailure("cannot read", *FRoot, FPath, ec);
        std::sort(names.begin(), names.end());
        for (const String& name : names) {
            if (name.empty() || name[0] == '.') continue;  // hidden resources are not listed
            const String child = FPath + "/" + name;
            try {
                FRoot->Resolve(FRoot->UrlOf(child));  // links that leave the root are not shown
            } catch (const EEngineError&) {
                continue;
            }
            try {
                result.AddRow(ResourceValues(*FRoot, child));
            } catch (const EEngineError&) {
                // Gone since it was listed.
            }
        }
        auto rs = Com::MakeComObject<TRecordsetObject>();
        rs->OpenOnMemory(FConnection ? ComPtr<TConnectionObject>(ConnectionOf(FConnection.Get())) : nullptr, result,
                         FRoot->UrlOf(FPath));
        return ComPtr<_Recordset>(rs.Get());
    });
}

// ---- Copy, move, delete ----------------------------------------------------------------------------

String TRecordObject::PathOf(const WideString& source, std::string_view operation) const {
    CheckResource(operation);
    const String path = source.empty() ? FPath : FRoot->Resolve(Narrow(source));
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)))
        AdoFail(adErrURLDoesNotExist, String(operation) + ": \"" + FRoot->UrlOf(path) + "\" does not exist");
    return path;
}

WideString TRecordObject::CopyRecord(const WideString& Source, const WideString& Destination, const WideString& UserName,
                                     const WideString& Password, CopyRecordOptionsEnum Options, bool Async) {
    return Guard([&] {
        (void)UserName, (void)Password, (void)Async;  // local, and done before returning
        const String src = PathOf(Source, "Record.CopyRecord");
        const int options = Options == adCopyUnspecified ? 0 : Options;
        if (options & ~(adCopyOverWrite | adCopyNonRecursive | adCopyAllowEmulation))
            AdoFail(adErrInvalidArgument, "Record.CopyRecord: options " + std::to_string(Options) +
                                              " are not CopyRecordOptionsEnum values");
        if (Destination.empty()) AdoFail(adErrInvalidArgument, "Record.CopyRecord needs a destination URL");
        const String dest = FRoot->Resolve(Narrow(Destination));
        if (dest == src || Within(dest, src))
            AdoFail(adErrCannotComplete, "Record.CopyRecord: \"" + FRoot->UrlOf(dest) + "\" lies inside what is copied");
        if (FRoot->IsRoot(dest)) AdoFail(adErrIllegalOperation, "Record.CopyRecord: the document root cannot be replaced");
        std::error_code ec;
        if (!fs::is_directory(ParentOf(dest), ec))
            AdoFail(adErrURLDoesNotExist, "Record.CopyRecord: the folder that would hold \"" + FRoot->UrlOf(dest) +
                                              "\" does not exist");
        const bool exists = fs::exists(fs::symlink_status(dest, ec));
        if (exists && !(options & adCopyOverWrite))
            AdoFail(adErrResourceExists, "Record.CopyRecord: \"" + FRoot->UrlOf(dest) + "\" exists (use adCopyOverWrite)");
        // The copy is made beside the destination and takes its place only when complete.
        const String temp = dest + ".copy-" + std::to_string(::getpid());
        try {
            CopyTree(*FRoot, src, temp, options & adCopyNonRecursive);
        } catch (...) {
            fs::remove_all(temp, ec);
            throw;
        }
        try {
            ReplaceWith(*FRoot, temp, dest);
        } catch (...) {
            fs::remove_all(temp, ec);
            throw;
        }
        return Wide(FRoot->UrlOf(dest));
    });
}

WideString TRecordObject::MoveRecord(const WideString& Source, const WideString& Destination, const WideString& UserName,
                                     const WideString& Password, MoveRecordOptionsEnum Options, bool Async) {
    return Guard([&] {
        (void)UserName, (void)Password, (void)Async;
        const String src = PathOf(Source, "Record.MoveRecord");
        const int options = Options == adMoveUnspecified ? 0 : Options;
        if (options & ~(adMoveOverWrite | adMoveDontUpdateLinks | adMoveAllowEmulation))
            AdoFail(adErrInvalidArgument, "Record.MoveRecord: options " + std::to_string(Options) +
                                              " are not MoveRecordOptionsEnum values");
        if (FRoot->IsRoot(src)) AdoFail(adErrIllegalOperation, "Record.MoveRecord: the document root cannot move");
        if (Destination.empty()) AdoFail(adErrInvalidArgument, "Record.MoveRecord needs a destination URL");
        const String dest = FRoot->Resolve(Narrow(Destination));
        if (dest == src || Within(dest, src))
            AdoFail(adErrCannotComplete, "Record.MoveRecord: \"" + FRoot->UrlOf(dest) + "\" lies inside what is moved");
        if (FRoot->IsRoot(dest)) AdoFail(adErrIllegalOperation, "Record.MoveRecord: the document root cannot be replaced");
        std::error_code ec;
        if (!fs::is_directory(ParentOf(dest), ec))
            AdoFail(adErrURLDoesNotExist, "Record.MoveRecord: the folder that would hold \"" + FRoot->UrlOf(dest) +
                                              "\" does not exist");
        const bool exists = fs::exists(fs::symlink_status(dest, ec));
        if (exists && !(options & adMoveOverWrite))
            AdoFail(adErrResourceExists, "Record.MoveRecord: \"" + FRoot->UrlOf(dest) + "\" exists (use adMoveOverWrite)");
        if (exists && fs::is_directory(fs::symlink_status(dest, ec))) {
            ReplaceWith(*FRoot, src, dest);
        } else {
            fs::rename(src, dest, ec);
            if (ec) FsFailure("cannot move", *FRoot, src, ec);
        }
        // The record follows what it stands for.
        if (FPath == src || Within(FPath, src)) {
            FPath = dest + FPath.substr(src.size());
            LoadFields();
        }
        return Wide(FRoot->UrlOf(dest));
    });
}

void TRecordObject::DeleteRecord(const WideString& Source, bool Async) {
    Guard([&] {
        (void)Async;
        const String path = PathOf(Source, "Record.DeleteRecord");
        if (FRoot->IsRoot(path)) AdoFail(adErrIllegalOperation, "Record.DeleteRecord: the document root cannot be deleted");
        std::error_code ec;
        fs::remove_all(path, ec);  // a link is removed, never what it points at
        if (ec) FsFailure("cannot delete", *FRoot, path, ec);
        // A record whose resource is gone is closed.
        if (FPath == path || Within(FPath, path)) {
            FState = adStateClosed;
            FFields->Clear();
            FKind = rkNone;
        }
    });
}

// ---- Late binding ---------------------------------------------------------------------------------------

const Com::TDispatchTable<TRecordObject>& TRecordObject::GetDispatchTable() {
    using T = TRecordObject;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Record")
            .Property("Properties", 500, &T::GetProperties)
            .Property(
                "ActiveConnection", 1, [](T& self, TDispCall& call) { call.Result = self.GetActiveConnection(); },
                [](T& self, TDispCall& call) {
                    const Variant v = call.Value();
                    if (IsObject(v))
                        self.SetActiveConnectionRef(Com::QueryInterface<_Connection>(Com::VarToDispatch(v).Get()).Get());
                    else
                        self.SetActiveConnection(v.ToWideString());
                },
                [](T& self, TDispCall& call) {
                    self.SetActiveConnectionRef(Com::QueryInterface<_Connection>(Com::VarToDispatch(call.Value()).Get()).Get());
                })
            .Property("State", 2, &T::GetState)
            .Property(
                "Source", 3, [](T& self, TDispCall& call) { call.Result = self.GetSource(); },
                [](T& self, TDispCall& call) {
                    const Variant v = call.Value();
                    if (IsObject(v))
                        self.SetSourceRef(Com::VarToDispatch(v).Get());
                    else
                        self.SetSource(v.ToWideString());
                },
                [](T& self, TDispCall& call) { self.SetSourceRef(Com::VarToDispatch(call.Value()).Get()); })
            .Property("Mode", 4, &T::GetMode, &T::SetMode)
            .Property(
                "ParentURL", 5,
                [](T& self, TDispCall& call) {
                    const WideString url = self.GetParentURL();
                    call.Result = url.empty() ? Variant::Null() : Variant(url);
                },
                {})
            .Method(
                "MoveRecord", 6,
                [](T& self, TDispCall& call) {
                    call.Result = Variant(self.MoveRecord(call.ArgOr<WideString>(0, {}), call.ArgOr<WideString>(1, {}),
                                                          call.ArgOr<WideString>(2, {}), call.ArgOr<WideString>(3, {}),
                                                          call.ArgOr<MoveRecordOptionsEnum>(4, adMoveUnspecified),
                                                          call.ArgOr<bool>(5, false)));
                },
                0, 6)
            .Method(
                "CopyRecord", 7,
                [](T& self, TDispCall& call) {
                    call.Result = Variant(self.CopyRecord(call.ArgOr<WideString>(0, {}), call.ArgOr<WideString>(1, {}),
                                                          call.ArgOr<WideString>(2, {}), call.ArgOr<WideString>(3, {}),
                                                          call.ArgOr<CopyRecordOptionsEnum>(4, adCopyUnspecified),
                                                          call.ArgOr<bool>(5, false)));
                },
                0, 6)
            .Method(
                "DeleteRecord", 8,
                [](T& self, TDispCall& call) { self.DeleteRecord(call.ArgOr<WideString>(0, {}), call.ArgOr<bool>(1, false)); },
                0, 2)
            .Method(
                "Open", 9,
                [](T& self, TDispCall& call) {
                    self.Open(call.IsOmitted(0) ? Com::EmptyParam : call.Arg(0),
                              call.IsOmitted(1) ? Com::EmptyParam : call.Arg(1),
                              call.ArgOr<ConnectModeEnum>(2, adModeUnknown),
                              call.ArgOr<RecordCreateOptionsEnum>(3, adFailIfNotExists),
                              call.ArgOr<RecordOpenOptionsEnum>(4, adOpenRecordUnspecified),
                              call.ArgOr<WideString>(5, {}), call.ArgOr<WideString>(6, {}));
                },
                0, 7)
            .Method("Close", 10, &T::Close)
            .Property("Fields", 0, &T::GetFields)
            .Property("RecordType", 11, &T::GetRecordType)
            .Method(
                "GetChildren", 12, [](T& self, TDispCall& call) { call.Result = Com::VarFromInterface(self.GetChildren()); }, 0,
                0)
            .Method("Cancel", 13, &T::Cancel);
    return table;
}

}  // namespace DataEngine::Ado
