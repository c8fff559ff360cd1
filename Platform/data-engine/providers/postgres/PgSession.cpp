// The PostgreSQL provider and its session: connecting (without blocking, so
// that Cancel and Connect Timeout can stop it), transactions with savepoints,
// cancellation, keys and properties.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "Platform/data-engine/providers/postgres/PgStatement.h"
#include "Platform/data-engine/schema/SchemaRowsets.h"

namespace DataEngine::Postgres {

using namespace Velora;

namespace {

[[noreturn]] void BadArgument(const String& text) {
    throw EEngineError(text, AdoErrorHResult(adErrInvalidArgument), 0, "HY024", "PostgreSQL");
}

bool IsPort(std::string_view s) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string_view::npos) return false;
    const int p = std::atoi(String(s).c_str());
    return p >= 1 && p <= 65535;
}

// "host", "host:port", "[v6]:port", "/socket/dir[:port]", several joined by ','.
void ParseDataSource(const String& text, String& hosts, String& ports) {
    std::size_t start = 0;
    bool anyPort = false;
    std::vector<String> hs, ps;
    while (start <= text.size()) {
        const auto comma = text.find(',', start);
        const String item = Rtl::Trim(std::string_view(text).substr(start, comma == String::npos ? String::npos : comma - start));
        String host = item, port;
        if (item.empty()) BadArgument("Data Source '" + ClipForMessage(text) + "' names an empty host");
        if (item[0] == '[') {
            const auto close = item.find(']');
            if (close == String::npos) BadArgument("Data Source '" + ClipForMessage(text) + "': '[' without ']'");
            host = item.substr(1, close - 1);
            const String rest = item.substr(close + 1);
            if (!rest.empty()) {
                if (rest[0] != ':' || !IsPort(std::string_view(rest).substr(1)))
                    BadArgument("Data Source '" + ClipForMessage(text) + "' has no valid port after ']'");
                port = rest.substr(1);
            }
        } else {
            const auto colon = item.rfind(':');
            const bool bareV6 = item[0] != '/' && item.find(':') != colon;
            if (colon != String::npos && !bareV6) {
                const String p = item.substr(colon + 1);
                if (!IsPort(p))
                    BadArgument("Data Source '" + ClipForMessage(text) + "': '" + ClipForMessage(p) +
                                "' is not a port number (1 to 65535)");
                host = item.substr(0, colon);
                port = p;
            }
        }
        if (host.empty()) BadArgument("Data Source '" + ClipForMessage(text) + "' names an empty host");
        anyPort = anyPort || !port.empty();
        hs.push_back(host);
        ps.push_back(port);
        if (comma == String::npos) break;
        start = comma + 1;
    }
    hosts.clear();
    ports.clear();
    for (std::size_t i = 0; i < hs.size(); ++i) {
        if (i) {
            hosts += ',';
            ports += ',';
        }
        hosts += hs[i];
        ports += ps[i];
    }
    if (!anyPort) ports.clear();
}

bool IsLibpqKeyword(const String& key) {
    static const std::vector<String> keywords = [] {
        std::vector<String> out;
        PQconninfoOption* opts = PQconndefaults();
        for (auto* o = opts; o && o->keyword; ++o) out.emplace_back(o->keyword);
        PQconninfoFree(opts);
        return out;
    }();
    for (const auto& k : keywords)
        if (k == key) return true;
    return false;
}

// Parameters of a libpq connection, in order, a key set twice keeping the last.
struct TConnParams {
    std::vector<std::pair<String, String>> Items;
    void Set(const String& key, const String& value) {
        for (auto& it : Items)
            if (it.first == key) {
                it.second = value;
                return;
            }
        Items.emplace_back(key, value);
    }
    String Get(const String& key) const {
        for (const auto& it : Items)
            if (it.first == key) return it.second;
        return {};
    }
};

void NoticeIgnored(void*, const char*) {}

String IsolationName(IsolationLevelEnum level) {
    switch (level) {
        case adXactRepeatableRead: return "REPEATABLE READ";
        case adXactSerializable: return "SERIALIZABLE";
        default: return "READ COMMITTED";
    }
}

class TPgSession : public TSession {
public:
    TPgSession() : FCore(std::make_shared<TCore>()) {}
    ~TPgSession() override {
        try {
            Close();
        } catch (...) {
        }
    }

    void Open(const TConnectionString& props, const String& userId, const String& password) override {
        std::lock_guard lock(FCore->Lock);
        if (FCore->Conn)
            throw EEngineError("The connection is already open", AdoErrorHResult(adErrObjectOpen), 0, {}, "PostgreSQL");
        TConnParams p;
        p.Set("client_encoding", "UTF8");
        p.Set("fallback_application_name", "Velora");
        String hosts, ports;
        const String dataSource = Rtl::Trim(props.Get("Data Source"));
        if (!dataSource.empty()) {
            ParseDataSource(dataSource, hosts, ports);
            p.Set("host", hosts);
            if (!ports.empty()) p.Set("port", ports);
        }
        const String catalog = Rtl::Trim(props.Get("Initial Catalog"));
        if (!catalog.empty()) p.Set("dbname", catalog);
        // The caller's user and password win; without them, those of the connection string
        // (ADO's Connection.Open passes its own arguments, usually empty).
        const String user = userId.empty() ? props.Get("User ID") : userId;
        const String secret = password.empty() ? props.Get("Password") : password;
        if (!user.empty()) p.Set("user", user);
        if (!secret.empty()) p.Set("password", secret);
        int connectTimeout = 15;
        if (props.Has("Connect Timeout")) connectTimeout = ParseWholeNumber(props.Get("Connect Timeout"), "Connect Timeout", "seconds", "PostgreSQL");
        const int mode = ParseConnectMode(props.Get("Mode"), "PostgreSQL");
        const bool readOnly = (mode & 3) == adModeRead;
        const int share = mode & (adModeShareDenyRead | adModeShareDenyWrite | adModeShareDenyNone);
        if (share != 0 && share != adModeShareDenyNone)
            throw EEngineError("PostgreSQL cannot deny other connections access (Mode " + std::to_string(mode) +
                                   "); use Share Deny None",
                               AdoErrorHResult(adErrDenyTypeNotSupported), 0, {}, "PostgreSQL");
        // libpq's own keywords are taken as given and win over the ADO keys.
        for (const auto& item : props.Items())
            if (IsLibpqKeyword(item.Key)) p.Set(item.Key, item.Value);
        const String extended = props.Get("Extended Properties");
        if (!Rtl::Trim(extended).empty()) {
            char* err = nullptr;
            PQconninfoOption* opts = PQconninfoParse(extended.c_str(), &err);
            if (!opts) {
                const String why = err ? TrimText(err) : "out of memory";
                PQfreemem(err);
                BadArgument("Extended Properties '" + ClipForMessage(extended) + "' is not a libpq connection text: " + why);
            }
            for (auto* o = opts; o->keyword; ++o)
                if (o->val) p.Set(o->keyword, o->val);
            PQconninfoFree(opts);
        }
        // The value conversions read dates in ISO form and timestamps with
        // time zone in UTC; these settings come last so that they hold.
        String options = p.Get("options");
        if (!options.empty()) options += ' ';
        options += "-c DateStyle=ISO,YMD -c IntervalStyle=iso_8601 -c TimeZone=UTC -c extra_float_digits=3 "
                   "-c bytea_output=hex -c standard_conforming_strings=on";
        if (readOnly) options += " -c default_transaction_read_only=on";
        p.Set("options", options);
        p.Set("client_encoding", "UTF8");

        std::vector<const char*> keys, values;
        for (const auto& it : p.Items) {
            keys.push_back(it.first.c_str());
            values.push_back(it.second.c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        const String where = Describe(p);

        {
            std::lock_guard cl(FCore->CancelLock);
            FCore->CancelRequested.store(false);
            FCore->Connecting.store(true);
            std::uint64_t drained;
            while (read(FCore->WakeFd, &drained, sizeof drained) > 0) {
            }
        }
        PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 0);
        try {
            Connect(conn, connectTimeout, where);
        } catch (...) {
            {
                std::lock_guard cl(FCore->CancelLock);
                FCore->Connecting.store(false);
            }
            PQfinish(conn);
            throw;
        }
        PQsetNoticeProcessor(conn, NoticeIgnored, nullptr);
        {
            std::lock_guard cl(FCore->CancelLock);
            FCore->Connecting.store(false);
            FCore->Conn = conn;
            FCore->CancelHandle = PQgetCancel(conn);
        }
        FCore->Broken.store(false);
        FCore->Open.store(true);
        FCore->ReadOnly = readOnly;
        FCore->Database = PQdb(conn);
        FProps = props;
        FLevel = 0;
        FConnectTimeout = connectTimeout;
        FWhere = where;
        FMode = readOnly ? adModeRead : adModeReadWrite;
    }

    void Close() override {
        std::lock_guard lock(FCore->Lock);
        if (!FCore->Conn) return;
        for (auto* s : std::vector<TPgStatement*>(FCore->Statements)) s->Detach();
        FCore->Statements.clear();
        FCore->Streaming = nullptr;
        PGconn* conn;
        {
            std::lock_guard cl(FCore->CancelLock);
            if (FCore->CancelHandle) PQfreeCancel(FCore->CancelHandle);
            FCore->CancelHandle = nullptr;
            conn = FCore->Conn;
            FCore->Conn = nullptr;
            FCore->Open.store(false);
            FCore->Busy.store(false);
        }
        PQfinish(conn);
        FLevel = 0;
    }

    bool GetConnected() const override { return FCore->Open.load() && !FCore->Broken.load(); }

    int BeginTrans() override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        SyncLevel();
        if (FLevel == 0)
            ExecInternal(*FCore, "BEGIN ISOLATION LEVEL " + IsolationName(FIsolation));
        else
            ExecInternal(*FCore, "SAVEPOINT " + SavepointName(FLevel + 1));
        return ++FLevel;
    }

    void CommitTrans(bool retaining) override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        SyncLevel();
        if (FLevel == 0) NoTransaction("CommitTrans");
        if (FLevel == 1) {
            auto r = ExecInternal(*FCore, "COMMIT");
            // A transaction in which a statement failed ends in a rollback,
            // which the server reports as the COMMIT's outcome, not an error.
            if (String(PQcmdStatus(r.get())) == "ROLLBACK") {
                FLevel = 0;
                throw EEngineError("CommitTrans: the transaction was rolled back, not committed, because a statement "
                                   "in it failed",
                                   AdoErrorHResult(adErrInvalidTransaction), 0, "40000", "PostgreSQL");
            }
        } else {
            ExecInternal(*FCore, "RELEASE SAVEPOINT " + SavepointName(FLevel));
        }
        --FLevel;
        if (retaining) BeginTrans();
    }

    void RollbackTrans(bool retaining) override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        SyncLevel();
        if (FLevel == 0) NoTransaction("RollbackTrans");
        if (FLevel == 1) {
            ExecInternal(*FCore, "ROLLBACK");
        } else {
            const String sp = SavepointName(FLevel);
            ExecInternal(*FCore, "ROLLBACK TO SAVEPOINT " + sp);
            ExecInternal(*FCore, "RELEASE SAVEPOINT " + sp);
        }
        --FLevel;
        if (retaining) BeginTrans();
    }

    int GetTransactionLevel() const override {
        std::lock_guard lock(FCore->Lock);
        const_cast<TPgSession*>(this)->SyncLevel();
        return FLevel;
    }

    IsolationLevelEnum SetIsolationLevel(IsolationLevelEnum level) override {
        std::lock_guard lock(FCore->Lock);
        switch (level) {
            case adXactRepeatableRead:
            case adXactSerializable: FIsolation = level; break;
            default: FIsolation = adXactReadCommitted; break;  // the server's weakest level
        }
        return FIsolation;
    }
    IsolationLevelEnum GetIsolationLevel() const override { return FIsolation; }

    void SetCommandTimeout(int seconds) override {
        std::lock_guard lock(FCore->Lock);
        FCore->CommandTimeout = seconds < 0 ? 0 : seconds;
    }
    int GetCommandTimeout() const override { return FCore->CommandTimeout; }

    void Cancel() override {
        std::lock_guard cl(FCore->CancelLock);
        if (FCore->Connecting.load()) {
            FCore->CancelRequested.store(true);
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = write(FCore->WakeFd, &one, sizeof one);
            return;
        }
        if (FCore->Busy.load() && FCore->CancelHandle) {
            FCore->CancelRequested.store(true);
            char buf[256];
            PQcancel(FCore->CancelHandle, buf, sizeof buf);
        }
    }

    std::unique_ptr<TStatement> CreateStatement() override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        return std::make_unique<TPgStatement>(FCore);
    }

    String TableCommandText(const String& tableName) const override {
        const String name = Rtl::Trim(tableName);
        if (name.empty())
            throw EEngineError("No table name was given", AdoErrorHResult(adErrInvalidArgument), 0, {}, "PostgreSQL");
        if (name.front() == '"') return "SELECT * FROM " + name;
        const auto dot = name.find('.');
        if (dot != String::npos && dot > 0 && dot + 1 < name.size() && name.find('.', dot + 1) == String::npos)
            return "SELECT * FROM " + QuotePgIdent(name.substr(0, dot)) + "." + QuotePgIdent(name.substr(dot + 1));
        return "SELECT * FROM " + QuotePgIdent(name);
    }

    std::unique_ptr<TResultStream> OpenSchema(SchemaEnum schema, const std::vector<Variant>& restrictions) override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        return Schema::OpenPostgresSchema(*this, schema, restrictions);
    }

    std::vector<String> GetKeyColumns(const String& catalog, const String& table) override {
        std::lock_guard lock(FCore->Lock);
        CheckOpen(*FCore);
        if (!catalog.empty() && catalog != FCore->Database)
            throw EEngineError("Table \"" + ClipForMessage(table) + "\" is in database \"" + ClipForMessage(catalog) +
                                   "\", not in the connected \"" + FCore->Database + "\"",
                               hrNoTable, 0, "42S02", "PostgreSQL");
        // The exact name first, then schema.name.
        const char* find =
            "SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
            "WHERE c.relname = $1 AND c.relkind IN ('r', 'p', 'v', 'm', 'f') AND "
            "(($2::text IS NULL AND pg_table_is_visible(c.oid)) OR n.nspname = $2)";
        auto r = ExecInternal(*FCore, find, {table, String()}, {false, true});
        if (PQntuples(r.get()) == 0) {
            const auto dot = table.rfind('.');
            if (dot != String::npos && dot > 0 && dot + 1 < table.size())
                r = ExecInternal(*FCore, find, {table.substr(dot + 1), table.substr(0, dot)});
        }
        if (PQntuples(r.get()) == 0)
            throw EEngineError("Table \"" + ClipForMessage(table) + "\" does not exist", hrNoTable, 0, "42S02",
                               "PostgreSQL");
        const String oid = PQgetvalue(r.get(), 0, 0);
        // The primary key; else the first unique index over NOT NULL columns only.
        auto keys = ExecInternal(
            *FCore,
            "WITH ix AS (SELECT i.indexrelid, i.indisprimary, i.indkey FROM pg_index i WHERE i.indrelid = $1 AND "
            "i.indisunique AND i.indpred IS NULL AND i.indexprs IS NULL AND (i.indisprimary OR NOT EXISTS ("
            "SELECT 1 FROM unnest(i.indkey::int2[]) k(n) JOIN pg_attribute a ON a.attrelid = i.indrelid AND "
            "a.attnum = k.n WHERE NOT a.attnotnull)) ORDER BY i.indisprimary DESC, i.indexrelid LIMIT 1) "
            "SELECT a.attname FROM ix, unnest(ix.indkey::int2[]) WITH ORDINALITY k(n, ord) "
            "JOIN pg_attribute a ON a.attrelid = $1 AND a.attnum = k.n ORDER BY k.ord",
            {oid});
        std::vector<String> out;
        for (int k = 0; k < PQntuples(keys.get()); ++k) out.emplace_back(PQgetvalue(keys.get(), k, 0));
        return out;
    }

    std::vector<TPropertyInfo> GetProperties() const override {
        std::lock_guard lock(FCore->Lock);
        PGconn* c = FCore->Conn;
        auto status = [&](const char* name) -> Variant {
            const char* v = c ? PQparameterStatus(c, name) : nullptr;
            return v ? Variant(String(v)) : Variant(String());
        };
        std::vector<TPropertyInfo> p = {
            {"Provider Name", Variant("PostgreSQL"), adPropRead},
            {"Provider Friendly Name", Variant("PostgreSQL Provider"), adPropRead},
            {"Provider Version", Variant("01.00.0000"), adPropRead},
            {"OLE DB Version", Variant("02.80"), adPropRead},
            {"DBMS Name", Variant("PostgreSQL"), adPropRead},
            {"DBMS Version", status("server_version"), adPropRead},
            {"Data Source", Variant(FProps.Get("Data Source")), adPropRead},
            {"Data Source Name", Variant(FWhere), adPropRead},
            {"Current Catalog", Variant(c ? String(PQdb(c)) : String()), adPropRead},
            {"User Name", Variant(c ? String(PQuser(c)) : String()), adPropRead},
            {"Server Encoding", status("server_encoding"), adPropRead},
            {"Mode", Variant(FMode), adPropRead},
            {"Connect Timeout", Variant(FConnectTimeout), adPropRead},
            {"Extended Properties", Variant(FProps.Get("Extended Properties")), adPropRead},
            {"Read-Only Data Source", Variant(FCore->ReadOnly), adPropRead},
            {"Connection Status", Variant(GetConnected() ? 1 : 0), adPropRead},
            {"Multiple Results", Variant(1), adPropRead},
            {"Transaction DDL", Variant(8), adPropRead},
            {"Isolation Levels",
             Variant(static_cast<int>(adXactReadCommitted | adXactRepeatableRead | adXactSerializable)), adPropRead},
            {"Output Parameter Availability", Variant(1), adPropRead},
            {"Multiple Parameter Sets", Variant(false), adPropRead},
            {"Procedure Term", Variant("function"), adPropRead},
            {"Schema Term", Variant("schema"), adPropRead},
            {"Catalog Term", Variant("database"), adPropRead},
            {"Identifier Case Sensitivity", Variant(2), adPropRead},  // folded to lower case
            {"NULL Collation Order", Variant(2), adPropRead},         // Nulls sort high
        };
        for (const auto& item : FProps.Items()) {
            static const char* known[] = {"Data Source", "Initial Catalog", "Mode", "Extended Properties",
                                          "Connect Timeout", "User ID", "Password", "Provider"};
            bool isKnown = IsLibpqKeyword(item.Key);
            for (const char* k : known) isKnown = isKnown || Rtl::SameText(item.Key, k);
            if (!isKnown) p.push_back({item.Key, Variant(item.Value), adPropRead});
        }
        return p;
    }

    void SetProperty(const String& name, const Variant& value) override {
        for (const auto& p : GetProperties())
            if (Rtl::SameText(p.Name, name))
                throw EEngineError("Property \"" + name + "\" cannot be changed", AdoErrorHResult(adErrPropNotSettable),
                                   0, {}, "PostgreSQL");
        (void)value;
        throw EEngineError("Property \"" + ClipForMessage(name) + "\" is not supported by the PostgreSQL provider",
                           AdoErrorHResult(adErrPropNotSupported), 0, {}, "PostgreSQL");
    }

private:
    static String TrimText(const char* s) {
        String out = s ? s : "";
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        return out;
    }

    static String Describe(const TConnParams& p) {
        String host = p.Get("host"), port = p.Get("port"), db = p.Get("dbname");
        String out = host.empty() ? String("the local server") : host;
        if (!port.empty()) out += ":" + port;
        if (!db.empty()) out += ", database \"" + db + "\"";
        return out;
    }

    // Drives PQconnectPoll, waiting on the socket and on Cancel's wake-up.
    void Connect(PGconn* conn, int timeoutSeconds, const String& where) {
        auto fail = [&](const String& why, HRESULT hr = hrFail, const char* state = "08001") {
            throw EEngineError("Cannot connect to PostgreSQL at " + where + ": " + why, hr, 0, state, "PostgreSQL");
        };
        if (!conn) fail("out of memory");
        if (PQstatus(conn) == CONNECTION_BAD) fail(TrimText(PQerrorMessage(conn)));
        const std::int64_t deadline =
            timeoutSeconds > 0 ? TCore::NowNs() + static_cast<std::int64_t>(timeoutSeconds) * 1'000'000'000LL : 0;
        PostgresPollingStatusType st = PGRES_POLLING_WRITING;
        for (;;) {
            if (st == PGRES_POLLING_OK) return;
            if (st == PGRES_POLLING_FAILED) fail(TrimText(PQerrorMessage(conn)));
            if (FCore->CancelRequested.load())
                fail("connecting was cancelled", AdoErrorHResult(adErrOperationCancelled), "HY008");
            int timeoutMs = -1;
            if (deadline) {
                const std::int64_t now = TCore::NowNs();
                if (now >= deadline)
                    fail("Connection timeout expired after " + std::to_string(timeoutSeconds) + " seconds", hrTimeout,
                         "HYT00");
                timeoutMs = static_cast<int>((deadline - now) / 1'000'000 + 1);
            }
            pollfd fds[2] = {{PQsocket(conn), static_cast<short>(st == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0},
                             {FCore->WakeFd, POLLIN, 0}};
            const int rc = poll(fds, 2, timeoutMs);
            if (rc < 0 && errno != EINTR) fail(String("waiting for the server failed: ") + std::strerror(errno));
            if (rc <= 0 || fds[0].revents == 0) continue;
            st = PQconnectPoll(conn);
        }
    }

    // A COMMIT or ROLLBACK run as SQL text ends the transaction behind our back.
    void SyncLevel() {
        if (FCore->Conn && FLevel > 0 && PQtransactionStatus(FCore->Conn) == PQTRANS_IDLE) FLevel = 0;
    }
    static String SavepointName(int level) { return "velora_level_" + std::to_string(level); }
    [[noreturn]] static void NoTransaction(const char* op) {
        throw EEngineError(String(op) + ": no transaction is active", AdoErrorHResult(adErrInvalidTransaction), 0,
                           "25000", "PostgreSQL");
    }

    std::shared_ptr<TCore> FCore;
    TConnectionString FProps;
    String FWhere;
    int FConnectTimeout = 15;
    int FMode = 0;
    int FLevel = 0;
    IsolationLevelEnum FIsolation = adXactReadCommitted;
};

class TPgProvider : public TProvider {
public:
    String GetName() const override { return "PostgreSQL"; }
    String GetDescription() const override { return "PostgreSQL Provider"; }
    std::unique_ptr<TSession> CreateSession() override { return std::make_unique<TPgSession>(); }
};

}  // namespace

}  // namespace DataEngine::Postgres

namespace DataEngine {

std::shared_ptr<TProvider> CreatePostgresProvider() { return std::make_shared<Postgres::TPgProvider>(); }

}  // namespace DataEngine
