#include "Platform/data-engine/providers/sqlite/SqliteStatement.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <map>

namespace DataEngine::Sqlite {

using namespace Velora;

namespace {

constexpr std::size_t NoPart = static_cast<std::size_t>(-1);
constexpr HRESULT hrNoCommand = static_cast<HRESULT>(0x80040E0Cu);  // DB_E_NOCOMMAND
constexpr HRESULT hrBadOrdinal = static_cast<HRESULT>(0x80040E55u);  // DB_E_BADORDINAL

std::string_view StripPrefix(std::string_view name) {
    if (!name.empty() && (name[0] == ':' || name[0] == '@' || name[0] == '$' || name[0] == '?')) name.remove_prefix(1);
    return name;
}

bool IsRowidName(std::string_view s) {
    return Rtl::SameText(s, "rowid") || Rtl::SameText(s, "oid") || Rtl::SameText(s, "_rowid_");
}

// The ADO type a parameter value binds as when the caller gave none; false
// for a value that cannot be bound.
bool TypeOfVariant(const Variant& v, DataTypeEnum& type) {
    if (v.IsArray()) {
        if (Rtl::VarArrayElementType(v) == Rtl::varByte && Rtl::VarArrayDimCount(v) == 1) {
            type = adLongVarBinary;
            return true;
        }
        return false;
    }
    switch (v.BaseType()) {
        case Rtl::varEmpty:
        case Rtl::varNull: type = adEmpty; return true;
        case Rtl::varBoolean: type = adBoolean; return true;
        case Rtl::varShortInt:
        case Rtl::varSmallint:
        case Rtl::varInteger:
        case Rtl::varInt64:
        case Rtl::varByte:
        case Rtl::varWord:
        case Rtl::varLongWord: type = adBigInt; return true;
        case Rtl::varUInt64: type = adUnsignedBigInt; return true;
        case Rtl::varSingle:
        case Rtl::varDouble: type = adDouble; return true;
        case Rtl::varCurrency: type = adCurrency; return true;
        case Rtl::varDate: type = adDBTimeStamp; return true;
        case Rtl::varDecimal: type = adDecimal; return true;
        case Rtl::varString:
        case Rtl::varOleStr: type = adLongVarWChar; return true;
        default: return false;
    }
}

[[noreturn]] void CannotBind(const String& label, const Variant& v) {
    throw EEngineError("Parameter \"" + label + "\" holds " + DescribeValue(v) + ", which cannot be bound",
                       hrCantConvertValue, 0, "22018", "SQLite");
}

// Currency's scaled value as decimal text with '.', whatever the format settings.
String CurrencyToText(Int64 scaled) {
    const bool negative = scaled < 0;
    const UInt64 magnitude = negative ? 0 - static_cast<UInt64>(scaled) : static_cast<UInt64>(scaled);
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "",
                          static_cast<unsigned long long>(magnitude / 10000),
                          static_cast<unsigned long long>(magnitude % 10000));
    while (buf[n - 1] == '0') --n;
    if (buf[n - 1] == '.') --n;
    return String(buf, static_cast<std::size_t>(n));
}

// A double that reads back as exactly this decimal text, if there is one.
bool ExactDouble(const String& text, double& out) {
    TExactDecimal want, got;
    if (!ParseExactDecimal(text, want)) return false;
    double d = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), d);
    if (res.ec != std::errc() || !std::isfinite(d) || !ParseExactDecimal(DoubleToShortest(d), got)) return false;
    // Compare at a common scale.
    auto norm = [](TExactDecimal x) {
        while (x.Scale > 0 && x.Mantissa % 10 == 0) {
            x.Mantissa /= 10;
            --x.Scale;
        }
        if (x.Mantissa == 0) {
            x.Scale = 0;
            x.Negative = false;
        }
        return x;
    };
    want = norm(want);
    got = norm(got);
    if (want.Negative != got.Negative || want.Mantissa != got.Mantissa || want.Scale != got.Scale) return false;
    out = d;
    return true;
}

// Binds a value already converted to the storage kind of the type it binds
// as. Text and bytes come in data (copied by SQLite). label() names the
// parameter; it is only called when a message needs it.
template <class LabelFn>
void BindCell(TCore& core, sqlite3_stmt* stmt, int index, TStorageKind kind, const TCell& cell, std::string_view data,
              DataTypeEnum type, const Variant* given, const LabelFn& label, const String& sql) {
    int rc = SQLITE_OK;
    if (cell.Null) {
        rc = sqlite3_bind_null(stmt, index);
    } else {
        switch (kind) {
            case skBoolean:
            case skInt8:
            case skInt16:
            case skInt32:
            case skInt64:
            case skUInt8:
            case skUInt16:
            case skUInt32: rc = sqlite3_bind_int64(stmt, index, cell.I); break;
            case skUInt64:
                if (cell.U > static_cast<UInt64>(INT64_MAX)) {
                    const Variant value = given ? *given : Variant(static_cast<unsigned long long>(cell.U));
                    throw EEngineError("Parameter \"" + label() + "\" holds " + DescribeValue(value) +
                                           ", which is beyond SQLite's 64-bit signed integers",
                                       hrDataOverflow, 0, "22003", "SQLite", sql);
                }
                rc = sqlite3_bind_int64(stmt, index, static_cast<Int64>(cell.U));
                break;
            case skSingle:
            case skDouble: rc = sqlite3_bind_double(stmt, index, cell.D); break;
            case skCurrency:
            case skDecimal: {
                String text;
                if (kind == skCurrency) {
                    if (cell.I % 10000 == 0) {
                        rc = sqlite3_bind_int64(stmt, index, cell.I / 10000);
                        break;
                    }
                    text = CurrencyToText(cell.I);
                } else {
                    text = DecimalToText(cell.GetDecimal());
                    Int64 whole = 0;
                    const auto res = std::from_chars(text.data(), text.data() + text.size(), whole);
                    if (res.ec == std::errc() && res.ptr == text.data() + text.size()) {
                        // Whole decimals bind as integers when they fit.
                        rc = sqlite3_bind_int64(stmt, index, whole);
                        break;
                    }
                }
                double d;
                if (ExactDouble(text, d))
                    rc = sqlite3_bind_double(stmt, index, d);
                else  // no double holds it: keep every digit as text
                    rc = sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
                break;
            }
            case skDate: {
                const String text = FormatIsoDateTime(cell.D, type);
                rc = sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
                break;
            }
            case skGuid: {
                const String text = FormatGuid(cell.Raw);
                rc = sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
                break;
            }
            case skText:
                rc = sqlite3_bind_text64(stmt, index, data.empty() ? "" : data.data(), data.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
                break;
            case skBytes:
                rc = sqlite3_bind_blob64(stmt, index, data.empty() ? "" : data.data(), data.size(), SQLITE_TRANSIENT);
                break;
        }
    }
    if (rc != SQLITE_OK) RaiseSqliteError(core, rc, sql, "Binding parameter \"" + label() + "\"");
}

}  // namespace

// ---- Results ---------------------------------------------------------------------------------

bool TSqliteResult::Fetch(TRowBuffer& row) {
    if (!FOnRow) {
        if (FDone) {
            if (FDetached)
                throw EEngineError("The connection is closed", AdoErrorHResult(adErrObjectClosed), 0, {}, "SQLite");
            return false;
        }
        const int rc = Step(*FCore, FStmt, false);
        if (rc == SQLITE_DONE) {
            FDone = true;
            return false;
        }
        if (rc != SQLITE_ROW) {
            FDone = true;
            RaiseSqliteError(*FCore, rc, FSql ? *FSql : String());
        }
    }
    FOnRow = false;
    ReadRow(FStmt, FColumns, FKinds, row);
    return true;
}

// ---- Statements ------------------------------------------------------------------------------

TSqliteStatement::TSqliteStatement(std::shared_ptr<TCore> core) : FCore(std::move(core)) {
    std::lock_guard<std::mutex> guard(FCore->StatementsLock);
    FCore->Statements.push_back(this);
    FResult.FCore = FCore.get();
}

TSqliteStatement::~TSqliteStatement() {
    // Under the lock, so a Close on another thread either detaches this
    // statement before it goes or no longer finds it.
    std::lock_guard<std::mutex> guard(FCore->StatementsLock);
    FinalizeAll();
    auto& list = FCore->Statements;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TSqliteStatement::Detach() noexcept {
    FinalizeAll();
    FAttached = false;
    FResult.FDetached = true;
}

void TSqliteStatement::CheckAttached() const {
    if (!FAttached || !FCore->Db)
        throw EEngineError("The connection is closed", AdoErrorHResult(adErrObjectClosed), 0, {}, "SQLite", FText);
}

void TSqliteStatement::FinalizeAll() noexcept {
    for (auto& p : FParts) sqlite3_finalize(p.Stmt);
    FParts.clear();
    FResult.Clear();
    FCurrent = NoPart;
}

void TSqliteStatement::Prepare(const String& text) {
    CheckAttached();
    FinalizeAll();
    FParams.clear();
    FText = text;
    FTail = 0;
    if (Rtl::Trim(text).empty())
        throw EEngineError("The command text is empty", hrNoCommand, 0, "42000", "SQLite");
    if (const auto nul = text.find('\0'); nul != String::npos)
        throw EEngineError("The command text holds a NUL character at position " + std::to_string(nul + 1),
                           hrErrorsInCommand, 0, "42000", "SQLite", text);
    if (!PrepareNextPart())
        throw EEngineError("The command text holds no SQL statement", hrNoCommand, 0, "42000", "SQLite", text);
    // Compile the rest now where possible; a statement that needs the effects
    // of an earlier one (a table it creates) compiles when its turn comes.
    while (FTail < FText.size()) {
        try {
            if (!PrepareNextPart()) break;
        } catch (const EEngineError&) {
            break;
        }
    }
}

bool TSqliteStatement::PrepareNextPart() {
    if (FTail >= FText.size()) return false;
    const char* start = FText.data() + FTail;
    const char* tail = nullptr;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(FCore->Db, start, static_cast<int>(FText.size() - FTail),
                                      SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
    if (rc != SQLITE_OK) RaiseSqliteError(*FCore, rc, std::string_view(start, FText.size() - FTail));
    if (!stmt) {  // only blanks and comments remain
        FTail = FText.size();
        return false;
    }
    TPart part;
    part.Stmt = stmt;
    part.Sql = Rtl::Trim(std::string_view(start, static_cast<std::size_t>(tail - start)));
    const int count = sqlite3_bind_parameter_count(stmt);
    for (int k = 1; k <= count; ++k) {
        const char* name = sqlite3_bind_parameter_name(stmt, k);
        int ordinal = 0;
        if (name) {
            for (std::size_t p = 0; p < FParams.size(); ++p)
                if (FParams[p].Name == name) ordinal = static_cast<int>(p) + 1;
        }
        if (ordinal == 0) {
            FParams.emplace_back();
            FParams.back().Name = name ? String(name) : String();
            ordinal = static_cast<int>(FParams.size());
        }
        part.ParamOrdinals.push_back(ordinal);
    }
    FTail = static_cast<std::size_t>(tail - FText.data());
    FParts.push_back(std::move(part));
    return true;
}

void TSqliteStatement::DescribeColumns(TPart& part) {
    sqlite3_stmt* stmt = part.Stmt;
    const int n = sqlite3_column_count(stmt);
    part.Columns.clear();
    std::map<std::pair<String, String>, TBaseTable> tables;
    for (int i = 0; i < n; ++i) {
        const char* decl = sqlite3_column_decltype(stmt, i);
        TColumnInfo c = MapSqliteDeclaredType(decl ? decl : "");
        const char* name = sqlite3_column_name(stmt, i);
        c.Name = name ? name : "";
        c.Attributes |= adFldMayBeNull;
        const char* db = sqlite3_column_database_name(stmt, i);
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* origin = sqlite3_column_origin_name(stmt, i);
        if (db && table && origin) {
            c.BaseCatalogName = db;
            c.BaseTableName = table;
            c.BaseColumnName = origin;
            auto key = std::make_pair(String(db), String(table));
            auto it = tables.find(key);
            if (it == tables.end()) it = tables.emplace(key, ReadBaseTable(*FCore, key.first, key.second)).first;
            const TBaseTable& base = it->second;
            int found = -1;
            for (std::size_t k = 0; k < base.Columns.size(); ++k)
                if (Rtl::SameText(base.Columns[k].Name, origin)) found = static_cast<int>(k);
            if (found >= 0) {
                const TBaseColumn& bc = base.Columns[static_cast<std::size_t>(found)];
                if (!bc.NotNull) c.Attributes |= adFldIsNullable;
                if (bc.PrimaryKeyOrder > 0) c.Attributes |= adFldKeyColumn;
                if (found == base.RowidAliasColumn) {
                    c.Attributes |= adFldRowID;
                    c.AutoIncrement = true;
                }
                if (!bc.Generated && !base.IsView && !FCore->ReadOnly) c.Attributes |= adFldUpdatable;
            } else if (IsRowidName(origin)) {
                // The row identity itself: the key of a table without a primary key.
                c.Type = adBigInt;
                ApplyTypeDefaults(c);
                c.Attributes |= adFldMayBeNull | adFldRowID;
                if (base.KeyColumnCount() == 0) c.Attributes |= adFldKeyColumn;
                c.AutoIncrement = true;
            }
        } else {
            c.Attributes |= adFldIsNullable;
        }
        part.Columns.push_back(std::move(c));
    }
    part.Described = true;
}

void TSqliteStatement::BindPart(TPart& part) {
    for (std::size_t k = 0; k < part.ParamOrdinals.size(); ++k) {
        const int ordinal = part.ParamOrdinals[k];
        const TParam& p = FParams[static_cast<std::size_t>(ordinal) - 1];
        if (!p.Bound)
            throw EEngineError("No value given for parameter " + ParamLabel(ordinal) + " in statement: " +
                                   ClipForMessage(part.Sql, 1000),
                               hrParamNotOptional, 0, "07002", "SQLite", part.Sql);
        const auto label = [this, ordinal] { return ParamName(ordinal); };
        const int index = static_cast<int>(k) + 1;
        if (p.Ready) {
            BindCell(*FCore, part.Stmt, index, p.Kind, p.Cell, p.Data, p.BindType, p.FromCell ? nullptr : &p.Value,
                     label, part.Sql);
            continue;
        }
        // A value that did not convert when it was given: convert it again,
        // so that the error names the statement.
        DataTypeEnum type = p.Type;
        if ((type == adEmpty || type == adVariant) && !TypeOfVariant(p.Value, type)) CannotBind(label(), p.Value);
        TColumnInfo col;
        col.Name = label();
        col.Type = type;
        const TStorageKind kind = type == adEmpty ? skInt64 : StorageKindOf(type);
        TCell cell;
        String scratch;
        if (type != adEmpty) {
            try {
                VariantToCell(col, kind, p.Value, cell, scratch, "parameter");
            } catch (const EEngineError& e) {
                throw EEngineError(e.Message(), e.GetNumber(), 0, "22018", "SQLite", part.Sql);
            }
        }
        BindCell(*FCore, part.Stmt, index, kind, cell, scratch, type, &p.Value, label, part.Sql);
    }
}

TResultStream& TSqliteStatement::RunPart(std::size_t index) {
    TPart& part = FParts[index];
    FResult.Clear();
    sqlite3_reset(part.Stmt);
    BindPart(part);
    const Int64 before = sqlite3_total_changes64(FCore->Db);
    const int rc = Step(*FCore, part.Stmt, true);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        try {
            RaiseSqliteError(*FCore, rc, part.Sql);
        } catch (...) {
            sqlite3_reset(part.Stmt);
            throw;
        }
    }
    FResult.FCore = FCore.get();
    FResult.FStmt = part.Stmt;
    FResult.FSql = &part.Sql;
    const int n = sqlite3_column_count(part.Stmt);
    if (n > 0) {
        // A changed schema re-compiles the statement: describe it again then.
        bool same = part.Described && part.Columns.size() == static_cast<std::size_t>(n);
        for (int i = 0; same && i < n; ++i) {
            const char* name = sqlite3_column_name(part.Stmt, i);
            same = part.Columns[static_cast<std::size_t>(i)].Name == (name ? name : "");
        }
        if (!same) DescribeColumns(part);
        FResult.FColumns = part.Columns;
        for (int i = 0; i < n; ++i) {
            TColumnInfo& c = FResult.FColumns[static_cast<std::size_t>(i)];
            if (c.Type == adEmpty) {
                const int attrs = c.Attributes;
                c.Type = DynamicTypeOf(rc == SQLITE_ROW ? sqlite3_column_type(part.Stmt, i) : SQLITE_NULL);
                ApplyTypeDefaults(c);
                c.Attributes |= attrs & ~(adFldFixed | adFldLong);
            }
            FResult.FKinds.push_back(StorageKindOf(c.Type));
        }
        FResult.FOnRow = rc == SQLITE_ROW;
        FResult.FDone = rc == SQLITE_DONE;
        FResult.FAffected = -1;
    } else {
        const Int64 after = sqlite3_total_changes64(FCore->Db);
        FResult.FAffected = after != before ? sqlite3_changes64(FCore->Db) : 0;
        FResult.FDone = true;
        sqlite3_reset(part.Stmt);  // release what it holds at once
    }
    return FResult;
}

TResultStream& TSqliteStatement::Execute() {
    CheckAttached();
    if (FParts.empty())
        throw EEngineError("No command text has been prepared", hrNoCommand, 0, "42000", "SQLite");
    if (FCurrent != NoPart && FCurrent < FParts.size()) sqlite3_reset(FParts[FCurrent].Stmt);
    FCurrent = 0;
    return RunPart(0);
}

TResultStream* TSqliteStatement::NextResult() {
    CheckAttached();
    if (FCurrent == NoPart)
        throw EEngineError("The command has not been executed", AdoErrorHResult(adErrIllegalOperation), 0, {}, "SQLite",
                           FText);
    if (FCurrent < FParts.size()) sqlite3_reset(FParts[FCurrent].Stmt);
    const std::size_t next = FCurrent + 1;
    if (FCurrent >= FParts.size() || (next >= FParts.size() && !PrepareNextPart())) {
        FCurrent = FParts.size();
        FResult.Clear();
        return nullptr;
    }
    FCurrent = next;
    return &RunPart(next);
}

void TSqliteStatement::Close() {
    if (FCurrent != NoPart && FCurrent < FParts.size()) sqlite3_reset(FParts[FCurrent].Stmt);
    FResult.FOnRow = false;
    FResult.FDone = true;
}

std::vector<TParamInfo> TSqliteStatement::DescribeParameters() {
    std::vector<TParamInfo> out;
    for (std::size_t p = 0; p < FParams.size(); ++p) {
        TParamInfo info;
        info.Name = FParams[p].Name;
        info.Ordinal = static_cast<int>(p) + 1;
        out.push_back(std::move(info));
    }
    return out;
}

int TSqliteStatement::FindParam(std::string_view name) const {
    for (std::size_t p = 0; p < FParams.size(); ++p)
        if (FParams[p].Name == name) return static_cast<int>(p) + 1;
    for (std::size_t p = 0; p < FParams.size(); ++p)
        if (!FParams[p].Name.empty() && Rtl::SameText(StripPrefix(FParams[p].Name), StripPrefix(name)))
            return static_cast<int>(p) + 1;
    return 0;
}

String TSqliteStatement::ParamName(int ordinal) const {
    const String& name = FParams[static_cast<std::size_t>(ordinal) - 1].Name;
    if (!name.empty()) return name;
    String label = "#";
    label += std::to_string(ordinal);
    return label;
}

String TSqliteStatement::ParamLabel(int ordinal) const {
    const String& name = FParams[static_cast<std::size_t>(ordinal) - 1].Name;
    if (name.empty()) return ParamName(ordinal);
    String label = "\"";
    label += name;
    label += '"';
    return label;
}

void TSqliteStatement::CheckOrdinal(int ordinal) const {
    if (ordinal < 1 || static_cast<std::size_t>(ordinal) > FParams.size())
        throw EEngineError("Parameter " + std::to_string(ordinal) + " does not exist: the command has " +
                               std::to_string(FParams.size()) + " parameters",
                           hrBadOrdinal, 0, "07009", "SQLite", FText);
}

void TSqliteStatement::SetParameter(int ordinal, const Variant& value, DataTypeEnum type) {
    CheckOrdinal(ordinal);
    const Variant v = value.IsByRef() ? value.Deref() : value;
    const bool given = type != adEmpty && type != adVariant;
    DataTypeEnum bindType = type;
    if (!given && !TypeOfVariant(v, bindType)) CannotBind(ParamName(ordinal), v);
    // Convert once now: a value of a type given is reported where it is
    // given; one bound by its own kind that does not convert is reported by
    // the execution, with the statement.
    TColumnInfo col;
    col.Type = bindType;
    const TStorageKind kind = bindType == adEmpty ? skInt64 : StorageKindOf(bindType);  // Null when adEmpty
    TCell cell;
    bool ready = true;
    if (bindType != adEmpty) {
        try {
            VariantToCell(col, kind, v, cell, FScratch, "parameter");
        } catch (const EEngineError&) {
            if (!given) {
                ready = false;
            } else {
                // Again with the parameter's name, for the message.
                col.Name = ParamName(ordinal);
                VariantToCell(col, kind, v, cell, FScratch, "parameter");
                throw;
            }
        }
    }
    TParam& p = FParams[static_cast<std::size_t>(ordinal) - 1];
    p.Value = v;
    p.Type = type;
    p.Bound = true;
    p.Ready = ready;
    p.FromCell = false;
    p.Kind = kind;
    p.BindType = bindType;
    p.Cell = cell;
    p.Cell.Data = nullptr;
    if (ready && !cell.Null && IsVariableKind(kind)) std::swap(p.Data, FScratch);
}

void TSqliteStatement::SetParameterCell(int ordinal, const TColumnInfo& column, TStorageKind kind, const TCell& cell,
                                        DataTypeEnum type) {
    CheckOrdinal(ordinal);
    // The kind the value binds as, when it is bound by its own kind; the
    // others (decimals, dates, GUIDs, a type given) take the variant's way.
    TStorageKind bindKind = kind;
    DataTypeEnum bindType = adEmpty;
    const bool own = type == adEmpty || type == adVariant;
    if (own && !cell.Null) {
        switch (kind) {
            case skBoolean: bindType = adBoolean; break;
            case skInt8:
            case skInt16:
            case skInt32:
            case skInt64:
            case skUInt8:
            case skUInt16:
            case skUInt32: bindKind = skInt64; bindType = adBigInt; break;
            case skUInt64: bindType = adUnsignedBigInt; break;
            case skSingle:
            case skDouble: bindKind = skDouble; bindType = adDouble; break;
            case skCurrency: bindType = adCurrency; break;
            case skText: bindType = adLongVarWChar; break;
            case skBytes: bindType = adLongVarBinary; break;
            default: break;
        }
    }
    if (!own || (!cell.Null && bindType == adEmpty)) {
        SetParameter(ordinal, CellToVariant(column, kind, cell), type);
        return;
    }
    TParam& p = FParams[static_cast<std::size_t>(ordinal) - 1];
    if (!p.Value.IsEmpty()) p.Value = Variant();
    p.Type = type;
    p.Bound = true;
    p.Ready = true;
    p.FromCell = true;
    p.Kind = bindKind;
    p.BindType = bindType;
    p.Cell = TCell{};
    p.Cell.Null = cell.Null;
    if (cell.Null) return;
    switch (kind) {
        case skBoolean: p.Cell.I = cell.I != 0 ? 1 : 0; break;
        case skUInt8:
        case skUInt16:
        case skUInt32: p.Cell.I = static_cast<Int64>(cell.U); break;
        case skUInt64: p.Cell.U = cell.U; break;
        case skSingle:
        case skDouble: p.Cell.D = cell.D; break;
        case skText:
        case skBytes: p.Data.assign(cell.GetView()); break;
        default: p.Cell.I = cell.I; break;
    }
}

void TSqliteStatement::SetParameter(std::string_view name, const Variant& value, DataTypeEnum type) {
    const int ordinal = FindParam(name);
    if (ordinal == 0)
        throw EEngineError("Parameter \"" + ClipForMessage(name) + "\" does not occur in the command text",
                           hrBadParameterName, 0, "07009", "SQLite", FText);
    SetParameter(ordinal, value, type);
}

void TSqliteStatement::ClearParameters() {
    for (auto& p : FParams) {
        p.Value = Variant();
        p.Type = adEmpty;
        p.Bound = false;
        p.Ready = false;
        p.Data.clear();
    }
}

}  // namespace DataEngine::Sqlite
