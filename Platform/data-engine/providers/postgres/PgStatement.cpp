#include "Platform/data-engine/providers/postgres/PgStatement.h"

#include <algorithm>
#include <cstdlib>

namespace DataEngine::Postgres {

using namespace Velora;

namespace {

constexpr std::size_t NoPart = static_cast<std::size_t>(-1);
constexpr HRESULT hrNoCommand = static_cast<HRESULT>(0x80040E0Cu);   // DB_E_NOCOMMAND
constexpr HRESULT hrBadOrdinal = static_cast<HRESULT>(0x80040E55u);  // DB_E_BADORDINAL

std::string_view StripPrefix(std::string_view name) {
    if (!name.empty() && (name[0] == ':' || name[0] == '@' || name[0] == '$' || name[0] == '?')) name.remove_prefix(1);
    return name;
}

Int64 AffectedOf(const PGresult* r) {
    const char* n = PQcmdTuples(const_cast<PGresult*>(r));
    return n && *n ? std::atoll(n) : 0;
}

// Errors that only say the server could not tell a parameter's type from the
// text: could not determine the data type, an operator or function that is
// ambiguous or unknown for arguments of unknown type.
bool NeedsParameterTypes(const String& state) { return state == "42P18" || state == "42725" || state == "42883"; }

TParamInfo ParamInfoOf(Oid type, const String& name, int ordinal, ParameterDirectionEnum direction) {
    TParamInfo info;
    info.Name = name;
    info.Ordinal = ordinal;
    info.Direction = direction;
    if (type == 0 || type == oidUnknown) return info;  // adVariant: the server did not say
    const TColumnInfo c = MapPgType(type, -1);
    info.Type = c.Type;
    info.Size = c.DefinedSize;
    info.Precision = c.Precision;
    info.NumericScale = c.NumericScale == 255 ? 0 : c.NumericScale;
    info.Attributes = adParamNullable;
    switch (StorageKindOf(c.Type)) {
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64:
        case skSingle:
        case skDouble:
        case skCurrency:
        case skDecimal: info.Attributes |= adParamSigned; break;
        default: break;
    }
    if (c.HasAttribute(adFldLong)) info.Attributes |= adParamLong;
    return info;
}

// Dates are read in ISO form, which the session starts with; a statement that
// changed DateStyle would make them unreadable.
void CheckDateStyle(TCore& core, const TPgDescription& desc, const String& statement) {
    bool dates = false;
    for (auto d : desc.Decoders) dates = dates || d == pdDate || d == pdTimestamp || d == pdTimestampTz;
    if (!dates) return;
    const char* style = PQparameterStatus(core.Conn, "DateStyle");
    if (style && std::string_view(style).substr(0, 3) != "ISO")
        throw EEngineError("The session's DateStyle is \"" + String(style) +
                               "\"; dates are read in ISO style, so DateStyle must stay ISO (statement: " +
                               ClipForMessage(statement, 1000) + ")",
                           hrFail, 0, "HY000", "PostgreSQL", statement);
}

}  // namespace

// ---- Results ---------------------------------------------------------------------------------

TPgResult::~TPgResult() { Discard(); }

void TPgResult::Reset() noexcept {
    FDesc = TPgDescription{};
    FPending.clear();
    FCurrent.reset();
    FRowIndex = 0;
    FError.reset();
    FLive = false;
    FAbandoned = false;
    FAffected = -1;
}

void TPgResult::EndStream() noexcept {
    if (FCore) {
        DrainResults(*FCore);
        if (FCore->Streaming == this) FCore->Streaming = nullptr;
    }
    FLive = false;
}

void TPgResult::BufferRest() {
    while (FLive) {
        auto r = NextResult(*FCore, 0);
        const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_TUPLES_OK;
        if (st == PGRES_SINGLE_TUPLE) {
            FPending.push_back(std::move(r));
            continue;
        }
        if (st == PGRES_TUPLES_OK) {
            if (r && PQntuples(r.get()) > 0) FPending.push_back(std::move(r));
        } else {
            FError = std::move(r);
        }
        EndStream();
    }
}

void TPgResult::Discard() noexcept {
    if (FLive && FCore && FCore->Conn && !FCore->Broken.load()) {
        std::lock_guard lock(FCore->Lock);
        try {
            while (FLive) {
                auto r = NextResult(*FCore, 0);
                const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_TUPLES_OK;
                if (st != PGRES_SINGLE_TUPLE) EndStream();
            }
        } catch (...) {
            FLive = false;
        }
    }
    if (FCore && FCore->Streaming == this) FCore->Streaming = nullptr;
    FLive = false;
    FPending.clear();
    FCurrent.reset();
    FError.reset();
}

void TPgResult::Abandon() noexcept {
    if (FCore && FCore->Streaming == this) FCore->Streaming = nullptr;
    const bool hadRows = FLive || !FPending.empty();
    FLive = false;
    FPending.clear();
    FCurrent.reset();
    FError.reset();
    FAbandoned = hadRows;
}

void TPgResult::Decode(TRowBuffer& row) {
    const PGresult* r = FCurrent.get();
    const int i = FRowIndex++;
    const std::size_t n = FDesc.Columns.size();
    if (row.Count() != n) row.Reset(n);
    for (std::size_t c = 0; c < n; ++c) {
        const int col = static_cast<int>(c);
        const int length = PQgetlength(r, i, col);
        // Only an empty value can be Null.
        if (length == 0 && PQgetisnull(r, i, col)) {
            row.SetNull(c);
            continue;
        }
        const char* text = PQgetvalue(r, i, col);
        if (FDesc.Decoders[c] == pdText) {  // the common case, without a call
            TCell& cell = row[c];
            cell.Null = false;
            cell.Data = text;
            cell.Size = static_cast<std::size_t>(length);
            continue;
        }
        DecodePgValue(FDesc.Decoders[c], text, static_cast<std::size_t>(length), FDesc.Columns[c], FDesc.Kinds[c],
                      row[c], row.Scratch(c));
    }
}

bool TPgResult::Fetch(TRowBuffer& row) {
    // Another statement of the session may park this result at any time.
    std::lock_guard lock(FCore->Lock);
    if (FCurrent && FRowIndex < PQntuples(FCurrent.get())) {
        Decode(row);
        return true;
    }
    FCurrent.reset();
    FRowIndex = 0;
    if (!FPending.empty()) {
        FCurrent = std::move(FPending.front());
        FPending.pop_front();
        Decode(row);
        return true;
    }
    if (FError) {
        const TPgResultPtr error = std::move(FError);
        RaisePgError(*FCore, error.get(), FStatement);
    }
    if (FAbandoned) RaiseClosed(FStatement);
    if (!FLive) return false;
    auto r = NextResult(*FCore, 0);
    const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_TUPLES_OK;
    if (st == PGRES_SINGLE_TUPLE || (st == PGRES_TUPLES_OK && r && PQntuples(r.get()) > 0)) {
        if (st != PGRES_SINGLE_TUPLE) EndStream();
        FCurrent = std::move(r);
        Decode(row);
        return true;
    }
    EndStream();
    if (st != PGRES_TUPLES_OK) RaisePgError(*FCore, r.get(), FStatement);
    return false;
}

// ---- Statements ------------------------------------------------------------------------------

TPgStatement::TPgStatement(std::shared_ptr<TCore> core) : FCore(std::move(core)), FCurrent(NoPart) {
    FCore->Statements.push_back(this);
    FResult.FCore = FCore.get();
}

TPgStatement::~TPgStatement() {
    std::lock_guard lock(FCore->Lock);
    if (FAttached) FResult.Discard();
    auto& list = FCore->Statements;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void TPgStatement::Detach() noexcept {
    FResult.Abandon();
    FAttached = false;
}

void TPgStatement::CheckAttached() const {
    if (!FAttached || !FCore->Conn) RaiseClosed(FText);
    CheckOpen(*FCore);
}

void TPgStatement::Reset() noexcept {
    FResult.Discard();
    FResult.Reset();
    FParts.clear();
    FParams.clear();
    FCurrent = NoPart;
    FRoutine = TRoutine{};
    FCall = TPart{};
}

void TPgStatement::Prepare(const String& text) {
    std::lock_guard lock(FCore->Lock);
    CheckAttached();
    Reset();
    FText = text;
    if (Rtl::Trim(text).empty()) throw EEngineError("The command text is empty", hrNoCommand, 0, "42000", "PostgreSQL");
    TPgCommandText parsed = ParsePgCommandText(text);
    if (parsed.Statements.empty())
        throw EEngineError("The command text holds no SQL statement", hrNoCommand, 0, "42000", "PostgreSQL", text);
    for (auto& name : parsed.ParamNames) {
        TParam p;
        p.Name = name;
        p.Info.Name = name;
        p.Info.Ordinal = static_cast<int>(FParams.size()) + 1;
        FParams.push_back(std::move(p));
    }
    for (auto& st : parsed.Statements) {
        TPart part;
        part.Text = std::move(st);
        FParts.push_back(std::move(part));
    }
    // The first statement is checked and described now: errors in it show at
    // once, and its parameters get the types the server infers. Later ones may
    // need what earlier ones create, and are described when they run. So is a
    // first statement whose parameters the server cannot type from the text
    // alone ("? IS NULL", ":a - :b"): the values bound say it when it runs.
    try {
        DescribePart(FParts[0], {});
    } catch (const EEngineError& e) {
        if (FParts[0].Text.Params.empty() || !NeedsParameterTypes(e.GetSQLState())) throw;
    }
}

void TPgStatement::DescribePart(TPart& part, const std::vector<TPgParamValue>& values) {
    TCore& core = *FCore;
    Park(core);
    std::vector<Oid> types(part.Text.Params.size(), 0);
    for (std::size_t k = 0; k < values.size() && k < types.size(); ++k) types[k] = values[k].Type;
    core.TimedOut.store(false);
    const String& sql = part.Text.Sql;
    auto run = [&](int sent) {
        if (!sent) RaisePgError(core, nullptr, part.Text.Original);
        core.Busy.store(true);
        TPgResultPtr last, error;
        try {
            while (auto r = Postgres::NextResult(core, DeadlineFromNow(core))) {
                const ExecStatusType st = PQresultStatus(r.get());
                if (st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE) {
                    if (!error) error = std::move(r);
                } else {
                    last = std::move(r);
                }
            }
        } catch (...) {
            core.Busy.store(false);
            throw;
        }
        core.Busy.store(false);
        if (error) RaisePgError(core, error.get(), part.Text.Original);
        return last;
    };
    run(PQsendPrepare(core.Conn, "", sql.c_str(), static_cast<int>(types.size()), types.data()));
    TPgResultPtr desc = run(PQsendDescribePrepared(core.Conn, ""));
    if (!desc) RaisePgError(core, nullptr, part.Text.Original);
    part.ParamTypes.clear();
    for (int k = 0; k < PQnparams(desc.get()); ++k) part.ParamTypes.push_back(PQparamtype(desc.get(), k));
    part.Desc = DescribeResult(core, desc.get());
    part.Described = true;
    for (std::size_t k = 0; k < part.Text.Params.size() && k < part.ParamTypes.size(); ++k) {
        TParam& p = FParams[static_cast<std::size_t>(part.Text.Params[k]) - 1];
        if (p.Info.Type == adVariant) {
            const TParamInfo info = ParamInfoOf(part.ParamTypes[k], p.Name, p.Info.Ordinal, adParamInput);
            p.Info = info;
        }
        if (!p.InferredType && part.ParamTypes[k] != oidUnknown) p.InferredType = part.ParamTypes[k];
    }
}

std::vector<TPgParamValue> TPgStatement::BindPart(const TPart& part) {
    std::vector<TPgParamValue> values(part.Text.Params.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        const int ordinal = part.Text.Params[k];
        const TParam& p = FParams[static_cast<std::size_t>(ordinal) - 1];
        if (!p.Bound)
            throw EEngineError("No value given for parameter " + ParamLabel(ordinal) + " in statement: " +
                                   ClipForMessage(part.Text.Original, 1000),
                               hrParamNotOptional, 0, "07002", "PostgreSQL", part.Text.Original);
        // The type the server inferred wins unless the caller named one.
        Oid server = p.ServerType;
        if (!server && p.Type == adEmpty && part.Described && k < part.ParamTypes.size()) server = part.ParamTypes[k];
        if (server == oidUnknown) server = 0;
        try {
            EncodePgParam(p.Value, p.Type, p.Name.empty() ? "#" + std::to_string(ordinal) : p.Name, values[k], server);
        } catch (const EEngineError& e) {
            throw EEngineError(e.Message(), e.GetNumber(), 0, e.GetSQLState(), "PostgreSQL", part.Text.Original);
        }
    }
    return values;
}

TResultStream& TPgStatement::RunPart(TPart& part, const std::vector<TPgParamValue>& values) {
    TCore& core = *FCore;
    FResult.Discard();
    FResult.Reset();
    FResult.FStatement = part.Text.Original;
    Park(core);
    const std::vector<TPgParamValue>* sent = &values;
    std::vector<TPgParamValue> asText;
    if (!part.Described) {
        try {
            DescribePart(part, values);
        } catch (const EEngineError& e) {
            if (e.GetSQLState() != "42P18") throw;
            // A parameter nothing gives a type to (a Null or a text in "? IS NULL")
            // is text, as the server takes a quoted literal of unknown type.
            asText = values;
            for (auto& v : asText)
                if (!v.Type) v.Type = oidText;
            DescribePart(part, asText);
            sent = &asText;
        }
    }

    std::vector<Oid> types;
    std::vector<const char*> data;
    std::vector<int> lengths, formats;
    for (const auto& v : *sent) {
        types.push_back(v.Type);
        data.push_back(v.Null ? nullptr : v.Data.c_str());
        lengths.push_back(static_cast<int>(v.Data.size()));
        formats.push_back(v.Binary ? 1 : 0);
    }
    core.TimedOut.store(false);
    core.CancelRequested.store(false);
    const int n = static_cast<int>(sent->size());
    if (!PQsendQueryParams(core.Conn, part.Text.Sql.c_str(), n, types.data(), data.data(), lengths.data(),
                           formats.data(), 0))
        RaisePgError(core, nullptr, part.Text.Original);
    core.Busy.store(true);
    PQsetSingleRowMode(core.Conn);
    TPgResultPtr first;
    try {
        first = Postgres::NextResult(core, DeadlineFromNow(core));
    } catch (...) {
        DrainResults(core);
        throw;
    }
    const ExecStatusType st = first ? PQresultStatus(first.get()) : PGRES_FATAL_ERROR;
    switch (st) {
        case PGRES_SINGLE_TUPLE:
        case PGRES_TUPLES_OK: {
            const bool streaming = st == PGRES_SINGLE_TUPLE;
            const bool matches = part.Desc.Matches(first.get());
            TPgResultPtr description;  // kept when it holds no row
            if (PQntuples(first.get()) > 0)
                FResult.FPending.push_back(std::move(first));
            else
                description = std::move(first);
            if (streaming) {
                FResult.FLive = true;
                core.Streaming = &FResult;
            } else {
                FResult.EndStream();
            }
            if (!matches) {
                // Something changed since the statement was described (a
                // parameter's type, the table): read the description again.
                if (streaming) FResult.BufferRest();
                part.Desc = DescribeResult(core, description ? description.get() : FResult.FPending.front().get());
            }
            FResult.FDesc = part.Desc;
            FResult.FAffected = -1;
            try {
                CheckDateStyle(core, FResult.FDesc, part.Text.Original);
            } catch (...) {
                FResult.Discard();
                FResult.Reset();
                throw;
            }
            return FResult;
        }
        case PGRES_COMMAND_OK:
        case PGRES_EMPTY_QUERY:
            FResult.FAffected = AffectedOf(first.get());
            DrainResults(core);
            return FResult;
        case PGRES_COPY_IN:
        case PGRES_COPY_OUT:
        case PGRES_COPY_BOTH:
            DrainResults(core);
            throw EEngineError("COPY to or from the client cannot run in a command text; use COPY with a file or "
                               "INSERT statements (statement: " + ClipForMessage(part.Text.Original, 1000) + ")",
                               AdoErrorHResult(adErrFeatureNotAvailable), 0, "0A000", "PostgreSQL",
                               part.Text.Original);
        default:
            DrainResults(core);
            RaisePgError(core, first.get(), part.Text.Original);
    }
}

TResultStream& TPgStatement::Execute() {
    std::lock_guard lock(FCore->Lock);
    CheckAttached();
    if (FRoutine.Shape != rsNone) return RunRoutine();
    if (FParts.empty()) throw EEngineError("No command text has been prepared", hrNoCommand, 0, "42000", "PostgreSQL");
    FCurrent = 0;
    return RunPart(FParts[0], BindPart(FParts[0]));
}

TResultStream* TPgStatement::NextResult() {
    std::lock_guard lock(FCore->Lock);
    CheckAttached();
    if (FCurrent == NoPart)
        throw EEngineError("The command has not been executed", AdoErrorHResult(adErrIllegalOperation), 0, {},
                           "PostgreSQL", FText);
    FResult.Discard();
    if (FRoutine.Shape != rsNone || FCurrent + 1 >= FParts.size()) {
        FCurrent = FParts.size();
        FResult.Reset();
        return nullptr;
    }
    ++FCurrent;
    return &RunPart(FParts[FCurrent], BindPart(FParts[FCurrent]));
}

void TPgStatement::Close() {
    std::lock_guard lock(FCore->Lock);
    FResult.Discard();
}

std::vector<TParamInfo> TPgStatement::DescribeParameters() {
    std::lock_guard lock(FCore->Lock);
    std::vector<TParamInfo> out;
    for (const auto& p : FParams) out.push_back(p.Info);
    return out;
}

int TPgStatement::FindParam(std::string_view name) const {
    for (std::size_t p = 0; p < FParams.size(); ++p)
        if (!FParams[p].Name.empty() && FParams[p].Name == name) return static_cast<int>(p) + 1;
    for (std::size_t p = 0; p < FParams.size(); ++p)
        if (!FParams[p].Name.empty() && Rtl::SameText(StripPrefix(FParams[p].Name), StripPrefix(name)))
            return static_cast<int>(p) + 1;
    return 0;
}

String TPgStatement::ParamLabel(int ordinal) const {
    const String& name = FParams[static_cast<std::size_t>(ordinal) - 1].Name;
    return name.empty() ? "#" + std::to_string(ordinal) : "\"" + name + "\"";
}

void TPgStatement::SetParameter(int ordinal, const Variant& value, DataTypeEnum type) {
    std::lock_guard lock(FCore->Lock);
    if (ordinal < 1 || static_cast<std::size_t>(ordinal) > FParams.size())
        throw EEngineError("Parameter " + std::to_string(ordinal) + " does not exist: the command has " +
                               std::to_string(FParams.size()) + " parameters",
                           hrBadOrdinal, 0, "07009", "PostgreSQL", FText);
    TParam& p = FParams[static_cast<std::size_t>(ordinal) - 1];
    const Variant v = value.IsByRef() ? value.Deref() : value;
    if (p.Mode != 'o' && p.Mode != 'r') {
        // Convert once now so that a bad value is reported where it is given.
        TPgParamValue probe;
        const DataTypeEnum given = type == adVariant ? adEmpty : type;
        EncodePgParam(v, given, p.Name.empty() ? "#" + std::to_string(ordinal) : p.Name, probe,
                      p.ServerType ? p.ServerType : given == adEmpty ? p.InferredType : 0);
    }
    p.Value = v;
    p.Type = type == adVariant ? adEmpty : type;
    p.Bound = true;
}

void TPgStatement::SetParameter(std::string_view name, const Variant& value, DataTypeEnum type) {
    int ordinal;
    {
        std::lock_guard lock(FCore->Lock);
        ordinal = FindParam(name);
    }
    if (ordinal == 0)
        throw EEngineError("Parameter \"" + ClipForMessage(name) + "\" does not occur in the " +
                               (FRoutine.Shape != rsNone ? "procedure " + FRoutine.DisplayName : String("command text")),
                           hrBadParameterName, 0, "07009", "PostgreSQL", FText);
    SetParameter(ordinal, value, type);
}

void TPgStatement::ClearParameters() {
    std::lock_guard lock(FCore->Lock);
    for (auto& p : FParams) {
        p.Value = Variant();
        p.Type = adEmpty;
        p.Bound = false;
        p.Output = Variant();
    }
}

Variant TPgStatement::GetParameterValue(int ordinal) const {
    if (ordinal < 1 || static_cast<std::size_t>(ordinal) > FParams.size()) return Variant();
    return FParams[static_cast<std::size_t>(ordinal) - 1].Output;
}

// ---- Stored routines ---------------------------------------------------------------------

void TPgStatement::PrepareProcedure(const String& name) {
    std::lock_guard lock(FCore->Lock);
    CheckAttached();
    Reset();
    FText = name;
    TCore& core = *FCore;
    const String trimmed = Rtl::Trim(name);
    auto notFound = [&](const String& why) -> EEngineError {
        return EEngineError("Procedure \"" + ClipForMessage(trimmed) + "\" " + why, hrErrorsInCommand, 0, "42883",
                            "PostgreSQL", name);
    };
    if (trimmed.empty()) throw EEngineError("No procedure name was given", hrNoCommand, 0, "42000", "PostgreSQL");

    String oid;
    if (trimmed.find('(') != String::npos) {
        // A full signature, "name(integer, text)", picks one of several overloads.
        try {
            auto r = ExecInternal(core, "SELECT $1::regprocedure::oid", {trimmed});
            oid = PQgetvalue(r.get(), 0, 0);
        } catch (const EEngineError& e) {
            throw notFound("cannot be found: " + e.Message());
        }
    } else {
        std::vector<String> parts;
        if (!SplitPgQualifiedName(trimmed, parts) || parts.size() > 3) throw notFound("is not a valid name");
        if (parts.size() == 3 && parts[0] != core.Database)
            throw notFound("is in database \"" + parts[0] + "\", not in \"" + core.Database + "\"");
        const String proc = parts.back();
        const bool qualified = parts.size() >= 2;
        const String schema = qualified ? parts[parts.size() - 2] : String();
        auto r = ExecInternal(core,
                              "SELECT p.oid, n.nspname || '.' || p.proname || '(' || "
                              "oidvectortypes(p.proargtypes) || ')' "
                              "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                              "WHERE p.prokind IN ('f', 'p') AND p.proname = $1 AND "
                              "(($2::text IS NULL AND pg_function_is_visible(p.oid)) OR n.nspname = $2) "
                              "ORDER BY 2",
                              {proc, schema}, {false, !qualified});
        const int rows = PQntuples(r.get());
        if (rows == 0) throw notFound("does not exist");
        if (rows > 1) {
            String list;
            for (int k = 0; k < rows; ++k) list += (k ? ", " : "") + String(PQgetvalue(r.get(), k, 1));
            throw notFound("has several forms (" + list + "); name one with its argument types");
        }
        oid = PQgetvalue(r.get(), 0, 0);
    }

    auto info = ExecInternal(core,
                             "SELECT n.nspname, p.proname, p.prokind, p.proretset, p.prorettype, t.typtype, "
                             "p.pronargdefaults, p.pronargs "
                             "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
                             "JOIN pg_type t ON t.oid = p.prorettype WHERE p.oid = $1",
                             {oid});
    if (PQntuples(info.get()) != 1) throw notFound("does not exist");
    const PGresult* q = info.get();
    const String schema = PQgetvalue(q, 0, 0), proc = PQgetvalue(q, 0, 1);
    const char kind = PQgetvalue(q, 0, 2)[0];
    const bool retset = PgText(q, 0, 3) == "t";
    const Oid rettype = static_cast<Oid>(std::strtoul(PQgetvalue(q, 0, 4), nullptr, 10));
    const char typtype = PQgetvalue(q, 0, 5)[0];
    const int ndefaults = std::atoi(PQgetvalue(q, 0, 6));
    const int ninputs = std::atoi(PQgetvalue(q, 0, 7));

    auto args = ExecInternal(core,
                             "SELECT a.type, coalesce(p.proargmodes[a.ord], 'i'), coalesce(p.proargnames[a.ord], '') "
                             "FROM pg_proc p, unnest(coalesce(p.proallargtypes, p.proargtypes::oid[])) "
                             "WITH ORDINALITY AS a(type, ord) WHERE p.oid = $1 ORDER BY a.ord",
                             {oid});
    bool hasOutputs = false;
    for (int k = 0; k < PQntuples(args.get()); ++k) {
        const char mode = PQgetvalue(args.get(), k, 1)[0];
        if (mode == 'o' || mode == 'b') hasOutputs = true;
    }
    FRoutine.IsProcedure = kind == 'p';
    FRoutine.QualifiedName = QuotePgIdent(schema) + "." + QuotePgIdent(proc);
    FRoutine.DisplayName = "\"" + schema + "." + proc + "\"";
    if (kind == 'p') FRoutine.Shape = hasOutputs ? rsOutputs : rsVoid;
    else if (retset) FRoutine.Shape = rsRows;
    else if (hasOutputs) FRoutine.Shape = rsOutputs;
    else if (rettype == oidVoid) FRoutine.Shape = rsVoid;
    else if (typtype == 'c' || rettype == oidRecord) FRoutine.Shape = rsRows;
    else FRoutine.Shape = rsScalar;

    if (FRoutine.Shape == rsScalar) {
        TParam r;
        r.Name = "RETURN_VALUE";
        r.Mode = 'r';
        r.ServerType = rettype;
        r.Info = ParamInfoOf(rettype, r.Name, 1, adParamReturnValue);
        FParams.push_back(std::move(r));
    }
    int inputIndex = 0;
    for (int k = 0; k < PQntuples(args.get()); ++k) {
        const char mode = PQgetvalue(args.get(), k, 1)[0];
        if (mode == 't') continue;  // a column of the rows a table function returns
        TParam p;
        p.ServerType = static_cast<Oid>(std::strtoul(PQgetvalue(args.get(), k, 0), nullptr, 10));
        p.Name = PQgetvalue(args.get(), k, 2);
        p.Mode = mode;
        if (mode == 'i' || mode == 'b' || mode == 'v') {
            p.HasDefault = inputIndex >= ninputs - ndefaults;
            ++inputIndex;
        }
        const ParameterDirectionEnum dir = mode == 'o' ? adParamOutput : mode == 'b' ? adParamInputOutput : adParamInput;
        p.Info = ParamInfoOf(p.ServerType, p.Name, static_cast<int>(FParams.size()) + 1, dir);
        FParams.push_back(std::move(p));
    }
}

TResultStream& TPgStatement::RunRoutine() {
    // The call: every input given, in order; inputs with defaults may be left
    // off at the end. A procedure's output arguments take a typed Null.
    std::vector<std::size_t> args;
    for (std::size_t i = 0; i < FParams.size(); ++i)
        if (FParams[i].Mode != 'r' && !(FParams[i].Mode == 'o' && !FRoutine.IsProcedure)) args.push_back(i);
    std::size_t used = args.size();
    while (used > 0) {
        const TParam& p = FParams[args[used - 1]];
        if (p.Mode == 'o' || p.Bound || !p.HasDefault) break;
        --used;
    }
    // Output arguments of a procedure after the last input given stay in the call.
    String call = FRoutine.QualifiedName + "(";
    TPart part;
    std::vector<TPgParamValue> values;
    for (std::size_t k = 0; k < used; ++k) {
        const std::size_t i = args[k];
        const TParam& p = FParams[i];
        if (p.Mode != 'o' && !p.Bound)
            throw EEngineError("No value given for parameter " + ParamLabel(static_cast<int>(i) + 1) +
                                   " of the procedure " + FRoutine.DisplayName,
                               hrParamNotOptional, 0, "07002", "PostgreSQL", FText);
        TPgParamValue v;
        if (p.Mode == 'o') {
            v.Type = p.ServerType;
        } else {
            EncodePgParam(p.Value, p.Type, p.Name.empty() ? "#" + std::to_string(i + 1) : p.Name, v, p.ServerType);
            v.Type = p.ServerType;
        }
        values.push_back(std::move(v));
        if (k) call += ", ";
        if (p.Mode == 'v') call += "VARIADIC ";
        call += "$" + std::to_string(values.size());
        part.Text.Params.push_back(static_cast<int>(i) + 1);
    }
    call += ")";
    switch (FRoutine.Shape) {
        case rsScalar:
        case rsVoid: call = (FRoutine.IsProcedure ? "CALL " : "SELECT ") + call; break;
        default: call = FRoutine.IsProcedure ? "CALL " + call : "SELECT * FROM " + call; break;
    }
    if (FCall.Text.Sql != call) {
        FCall = TPart{};
        FCall.Text.Sql = call;
        FCall.Text.Original = call;
        FCall.Text.Keyword = FRoutine.IsProcedure ? "CALL" : "SELECT";
        FCall.Text.Params = part.Text.Params;
    }
    for (auto& p : FParams) p.Output = Variant();
    FCurrent = 0;
    TResultStream& result = RunPart(FCall, values);
    if (FRoutine.Shape == rsRows) return result;

    // Return and output values come as one row; the caller sees no rows.
    TRowBuffer row;
    if (result.HasRows() && result.Fetch(row)) {
        const auto& cols = result.GetColumns();
        const auto& kinds = result.GetKinds();
        std::size_t c = 0;
        for (auto& p : FParams) {
            const bool receives = FRoutine.Shape == rsScalar ? p.Mode == 'r' : (p.Mode == 'o' || p.Mode == 'b');
            if (!receives || c >= cols.size()) continue;
            p.Output = CellToVariant(cols[c], kinds[c], row[c]);
            ++c;
        }
    }
    FResult.Discard();
    FResult.Reset();
    FResult.FAffected = 0;
    return FResult;
}

}  // namespace DataEngine::Postgres
