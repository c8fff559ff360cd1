// Waiting for the server, errors, the session's own queries and row
// descriptions.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>

#include "Platform/data-engine/providers/postgres/PgStatement.h"

namespace DataEngine::Postgres {

using namespace Velora;

namespace {

// How long a cancelled command may take to end before the connection is
// given up as broken.
constexpr std::int64_t CancelGraceNs = 10'000'000'000LL;

void SendCancel(TCore& core) {
    std::lock_guard lock(core.CancelLock);
    if (core.CancelHandle) {
        char buf[256];
        PQcancel(core.CancelHandle, buf, sizeof buf);
    }
}

String TrimMessage(const char* text) {
    String s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

String Field(const PGresult* r, int code) {
    const char* v = r ? PQresultErrorField(r, code) : nullptr;
    return v ? String(v) : String();
}

HRESULT Classify(const String& state) {
    if (state.size() != 5) return hrFail;
    if (state == "42501" || state == "25006") return hrPermissionDenied;
    if (state == "42P01") return hrNoTable;
    if (state == "22003" || state == "22001") return hrDataOverflow;
    const String cls = state.substr(0, 2);
    if (cls == "23") return hrIntegrityViolation;
    if (cls == "42") return hrErrorsInCommand;
    if (cls == "22") return hrCantConvertValue;
    return hrFail;
}

}  // namespace

TCore::TCore() { WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

TCore::~TCore() {
    if (WakeFd >= 0) close(WakeFd);
}

std::int64_t DeadlineFromNow(const TCore& core) noexcept {
    return core.CommandTimeout > 0 ? TCore::NowNs() + static_cast<std::int64_t>(core.CommandTimeout) * 1'000'000'000LL
                                   : 0;
}

void WaitReadable(TCore& core, std::int64_t deadlineNs) {
    PGconn* conn = core.Conn;
    std::int64_t giveUp = 0;
    while (PQisBusy(conn)) {
        const int sock = PQsocket(conn);
        if (sock < 0) return;  // PQgetResult reports the failure
        int timeoutMs = -1;
        const std::int64_t now = TCore::NowNs();
        if (deadlineNs != 0 && giveUp == 0) {
            if (now >= deadlineNs) {
                core.TimedOut.store(true);
                SendCancel(core);
                giveUp = now + CancelGraceNs;
            } else {
                timeoutMs = static_cast<int>((deadlineNs - now) / 1'000'000 + 1);
            }
        }
        if (giveUp != 0) {
            if (now >= giveUp) {
                core.Broken.store(true);
                core.TimedOut.store(false);
                throw EEngineError("Query timeout expired, and the server did not end the command when asked; the "
                                   "connection is given up",
                                   hrTimeout, 0, "HYT00", "PostgreSQL");
            }
            timeoutMs = static_cast<int>((giveUp - now) / 1'000'000 + 1);
        }
        pollfd fd{sock, POLLIN, 0};
        const int rc = poll(&fd, 1, timeoutMs);
        if (rc < 0 && errno != EINTR) return;
        if (rc > 0 && !PQconsumeInput(conn)) return;
    }
}

TPgResultPtr NextResult(TCore& core, std::int64_t deadlineNs) {
    WaitReadable(core, deadlineNs);
    return TPgResultPtr(PQgetResult(core.Conn));
}

void DrainResults(TCore& core) noexcept {
    if (!core.Conn || core.Broken.load()) {
        core.Busy.store(false);
        return;
    }
    while (PGresult* r = PQgetResult(core.Conn)) {
        const ExecStatusType st = PQresultStatus(r);
        PQclear(r);
        if (st == PGRES_COPY_IN) {
            PQputCopyEnd(core.Conn, "COPY from the client is not supported in a command text");
        } else if (st == PGRES_COPY_OUT) {
            char* buf = nullptr;
            while (PQgetCopyData(core.Conn, &buf, 0) > 0) PQfreemem(buf);
        } else if (st == PGRES_COPY_BOTH) {
            break;
        }
        if (PQstatus(core.Conn) == CONNECTION_BAD) break;
    }
    core.Busy.store(false);
}

void RaisePgError(TCore& core, const PGresult* result, std::string_view statement, std::string_view context) {
    String state = Field(result, PG_DIAG_SQLSTATE);
    String message = Field(result, PG_DIAG_MESSAGE_PRIMARY);
    const String detail = Field(result, PG_DIAG_MESSAGE_DETAIL);
    if (message.empty()) message = TrimMessage(result ? PQresultErrorMessage(result) : nullptr);
    const bool lost = core.Conn && PQstatus(core.Conn) == CONNECTION_BAD;
    if (message.empty() && core.Conn) message = TrimMessage(PQerrorMessage(core.Conn));
    if (message.empty()) message = "unknown failure";
    HRESULT hr = Classify(state);
    String sqlState = state;
    if (state == "57014") {
        const bool timedOut = core.TimedOut.exchange(false);
        core.CancelRequested.store(false);
        message = timedOut ? "Query timeout expired" : "Operation cancelled";
        hr = timedOut ? hrTimeout : hrCanceled;
        sqlState = timedOut ? "HYT00" : "HY008";
    } else if (lost && state.empty()) {
        message = "The connection to the server was lost: " + message;
        sqlState = "08006";
    }
    if (lost) core.Broken.store(true);
    String text;
    if (!context.empty()) text = String(context) + ": ";
    text += message;
    if (!detail.empty()) text += " (" + detail + ")";
    if (!state.empty()) text += " (PostgreSQL error " + state + ")";
    if (!statement.empty()) text += " in statement: " + ClipForMessage(statement, 1000);
    throw EEngineError(text, hr, 0, sqlState, "PostgreSQL", String(statement));
}

void RaiseClosed(std::string_view statement) {
    throw EEngineError("The connection is closed", AdoErrorHResult(adErrObjectClosed), 0, {}, "PostgreSQL",
                       String(statement));
}

void CheckOpen(const TCore& core) {
    if (!core.Conn) RaiseClosed();
    if (core.Broken.load())
        throw EEngineError("The connection to the server was lost; close and open the connection again", hrFail, 0,
                           "08006", "PostgreSQL");
}

TPgResultPtr ExecInternal(TCore& core, const String& sql, const std::vector<String>& params,
                          const std::vector<bool>& nulls) {
    CheckOpen(core);
    Park(core);
    std::vector<const char*> values;
    for (std::size_t i = 0; i < params.size(); ++i)
        values.push_back(i < nulls.size() && nulls[i] ? nullptr : params[i].c_str());
    core.TimedOut.store(false);
    if (!PQsendQueryParams(core.Conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                           nullptr, 0))
        RaisePgError(core, nullptr, sql);
    core.Busy.store(true);
    const std::int64_t deadline = DeadlineFromNow(core);
    TPgResultPtr last, error;
    try {
        while (auto r = NextResult(core, deadline)) {
            const ExecStatusType st = PQresultStatus(r.get());
            if (st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE || st == PGRES_NONFATAL_ERROR) {
                if (!error) error = std::move(r);
            } else if (st == PGRES_COPY_IN || st == PGRES_COPY_OUT || st == PGRES_COPY_BOTH) {
                DrainResults(core);
                break;
            } else {
                last = std::move(r);
            }
        }
    } catch (...) {
        core.Busy.store(false);
        throw;
    }
    core.Busy.store(false);
    if (error) RaisePgError(core, error.get(), sql);
    if (!last) RaisePgError(core, nullptr, sql);
    return last;
}

void Park(TCore& core, const TPgResult* except) {
    if (core.Streaming && core.Streaming != except) core.Streaming->BufferRest();
}

// ---- Row descriptions ------------------------------------------------------------------------

bool TPgDescription::Matches(const PGresult* r) const noexcept {
    const int n = PQnfields(r);
    if (static_cast<std::size_t>(n) != Types.size()) return false;
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (PQftype(r, i) != Types[k] || PQftable(r, i) != Tables[k] || PQftablecol(r, i) != TableColumns[k] ||
            Columns[k].Name != PQfname(r, i))
            return false;
    }
    return true;
}

TPgDescription DescribeResult(TCore& core, const PGresult* r) {
    TPgDescription d;
    const int n = PQnfields(r);
    std::set<Oid> tables, userTypes;
    std::vector<int> typmods;
    for (int i = 0; i < n; ++i) {
        const Oid type = PQftype(r, i);
        d.Types.push_back(type);
        d.Tables.push_back(PQftable(r, i));
        d.TableColumns.push_back(PQftablecol(r, i));
        typmods.push_back(PQfmod(r, i));
        if (d.Tables.back() != InvalidOid && d.TableColumns.back() > 0) tables.insert(d.Tables.back());
        // OIDs below 10000 are the server's own types; the others may be domains.
        if (type >= 10000) userTypes.insert(type);
    }
    // Domains read as their base types; enums and the rest as text.
    std::map<Oid, std::pair<Oid, int>> base;
    auto oidList = [](const std::set<Oid>& oids) {
        String list = "{";
        for (Oid o : oids) {
            if (list.size() > 1) list += ',';
            list += std::to_string(o);
        }
        return list + "}";
    };
    if (!userTypes.empty()) {
        auto res = ExecInternal(core,
                                "SELECT t.oid, coalesce(b.oid, 0), t.typtypmod FROM pg_type t "
                                "LEFT JOIN pg_type b ON t.typtype = 'd' AND b.oid = t.typbasetype "
                                "WHERE t.oid = ANY($1::oid[])",
                                {oidList(userTypes)});
        for (int k = 0; k < PQntuples(res.get()); ++k) {
            const Oid t = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), k, 0), nullptr, 10));
            const Oid b = static_cast<Oid>(std::strtoul(PQgetvalue(res.get(), k, 1), nullptr, 10));
            if (b != 0) base[t] = {b, std::atoi(PQgetvalue(res.get(), k, 2))};
        }
    }
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        Oid type = d.Types[k];
        int typmod = typmods[k];
        if (auto it = base.find(type); it != base.end()) {
            type = it->second.first;
            if (typmod < 0) typmod = it->second.second;
        }
        TColumnInfo c = MapPgType(type, typmod);
        c.Name = PQfname(r, i);
        c.Attributes |= adFldMayBeNull | adFldIsNullable;
        d.Columns.push_back(std::move(c));
        d.Kinds.push_back(StorageKindOf(d.Columns.back().Type));
        d.Decoders.push_back(DecoderOf(type));
    }
    if (tables.empty()) return d;

    auto res = ExecInternal(
        core,
        "SELECT a.attrelid, a.attnum, current_database(), n.nspname, c.relname, a.attname, a.attnotnull, "
        "a.attidentity <> '' OR coalesce(pg_get_expr(ad.adbin, ad.adrelid) LIKE 'nextval(%', false), "
        "coalesce(a.attnum = ANY (i.indkey::int2[]), false), "
        "c.relkind IN ('r', 'p', 'v', 'f') AND a.attgenerated = '' AND pg_column_is_updatable(c.oid, a.attnum, false) "
        "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
        "LEFT JOIN pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum "
        "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
        "WHERE a.attrelid = ANY($1::oid[]) AND a.attnum > 0 AND NOT a.attisdropped",
        {oidList(tables)});
    std::map<std::pair<Oid, int>, TPgBaseColumn> facts;
    for (int k = 0; k < PQntuples(res.get()); ++k) {
        const PGresult* q = res.get();
        TPgBaseColumn b;
        b.Catalog = PQgetvalue(q, k, 2);
        b.Schema = PQgetvalue(q, k, 3);
        b.Table = PQgetvalue(q, k, 4);
        b.Column = PQgetvalue(q, k, 5);
        b.NotNull = PgText(q, k, 6) == "t";
        b.AutoIncrement = PgText(q, k, 7) == "t";
        b.Key = PgText(q, k, 8) == "t";
        b.Updatable = PgText(q, k, 9) == "t";
        facts[{static_cast<Oid>(std::strtoul(PQgetvalue(q, k, 0), nullptr, 10)), std::atoi(PQgetvalue(q, k, 1))}] =
            std::move(b);
    }
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        auto it = facts.find({d.Tables[k], d.TableColumns[k]});
        if (it == facts.end()) continue;
        const TPgBaseColumn& b = it->second;
        TColumnInfo& c = d.Columns[k];
        c.BaseCatalogName = b.Catalog;
        c.BaseSchemaName = b.Schema;
        c.BaseTableName = b.Table;
        c.BaseColumnName = b.Column;
        if (b.NotNull) c.Attributes &= ~adFldIsNullable;
        if (b.Key) c.Attributes |= adFldKeyColumn;
        if (b.Updatable && !core.ReadOnly) c.Attributes |= adFldUpdatable;
        c.AutoIncrement = b.AutoIncrement;
    }
    return d;
}

}  // namespace DataEngine::Postgres
