// Internals shared by the PostgreSQL session, statements and results.
#pragma once

#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/data-engine/providers/postgres/PgProvider.h"

namespace DataEngine::Postgres {

class TPgResult;
class TPgStatement;

// Well-known type OIDs.
enum : Oid {
    oidBool = 16,
    oidBytea = 17,
    oidChar = 18,
    oidName = 19,
    oidInt8 = 20,
    oidInt2 = 21,
    oidInt4 = 23,
    oidText = 25,
    oidOid = 26,
    oidJson = 114,
    oidXml = 142,
    oidFloat4 = 700,
    oidFloat8 = 701,
    oidUnknown = 705,
    oidBpchar = 1042,
    oidVarchar = 1043,
    oidDate = 1082,
    oidTime = 1083,
    oidTimestamp = 1114,
    oidTimestampTz = 1184,
    oidInterval = 1186,
    oidTimeTz = 1266,
    oidNumeric = 1700,
    oidRecord = 2249,
    oidVoid = 2278,
    oidUuid = 2950,
    oidJsonb = 3802,
};

struct TPgResultDeleter {
    void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using TPgResultPtr = std::unique_ptr<PGresult, TPgResultDeleter>;

// How a column's text is turned into a cell.
enum TPgDecoder : Byte {
    pdText,
    pdBool,
    pdInt,
    pdUnsigned,
    pdFloat4,
    pdFloat8,
    pdNumeric,
    pdDate,
    pdTime,
    pdTimestamp,
    pdTimestampTz,
    pdUuid,
    pdBytea,
};
TPgDecoder DecoderOf(Oid type) noexcept;
// Reads one value in the server's text format into a cell of the column's
// kind; EEngineError names the column and the value when it does not fit.
void DecodePgValue(TPgDecoder decoder, const char* text, std::size_t length, const TColumnInfo& column,
                   TStorageKind kind, TCell& cell, String& scratch);

// A parameter value ready for PQsendQueryParams.
struct TPgParamValue {
    Oid Type = 0;  // 0 lets the server infer the type from the statement
    String Data;
    bool Null = true;
    bool Binary = false;  // bytea goes as raw bytes
};
// The ADO type a value binds as when none is given (adEmpty for Empty and Null).
Velora::DataTypeEnum PgTypeOfVariant(const Variant& value, const String& label);
// Converts a value to the server's text form for the ADO type (adEmpty: the
// value's own); errors name the parameter and the value. serverType, when
// not 0, is the type the server expects (a procedure's argument).
void EncodePgParam(const Variant& value, Velora::DataTypeEnum type, const String& label, TPgParamValue& out,
                   Oid serverType = 0);

// The connection shared by a session and its statements.
//
// Lock serialises every use of Conn; Cancel never takes it, only CancelLock,
// which guards CancelHandle and the Connecting/Busy state against Open and
// Close.
struct TCore {
    PGconn* Conn = nullptr;
    std::recursive_mutex Lock;
    std::mutex CancelLock;
    PGcancel* CancelHandle = nullptr;
    int WakeFd = -1;                          // eventfd: wakes a waiting connect when cancelled
    std::atomic<bool> Open{false};
    std::atomic<bool> Connecting{false};
    std::atomic<bool> Busy{false};            // a command runs on the server (until its last result)
    std::atomic<bool> CancelRequested{false};
    std::atomic<bool> TimedOut{false};
    std::atomic<bool> Broken{false};          // the server stopped answering; only Close helps
    int CommandTimeout = 30;
    bool ReadOnly = false;
    String Database;
    TPgResult* Streaming = nullptr;          // the result still reading rows from the connection
    std::vector<TPgStatement*> Statements;   // live statements, detached on close

    TCore();
    ~TCore();
    TCore(const TCore&) = delete;
    TCore& operator=(const TCore&) = delete;

    static std::int64_t NowNs() noexcept {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

// Gives the connection free: a result still streaming rows reads the rest of
// them into its own memory first (nothing is lost; it goes on from there).
void Park(TCore& core, const TPgResult* except = nullptr);

// Waits until a result can be read without blocking. deadlineNs (steady
// clock, 0 = none) arms the command timeout: when it passes the command is
// cancelled on the server. A connection that fails makes the following
// PQgetResult report it.
void WaitReadable(TCore& core, std::int64_t deadlineNs);
// The next result of the running command, waited for as WaitReadable does.
TPgResultPtr NextResult(TCore& core, std::int64_t deadlineNs);
// Reads and drops the results the command has left; ends the command.
void DrainResults(TCore& core) noexcept;
std::int64_t DeadlineFromNow(const TCore& core) noexcept;

// Raises the failure a result (or, without one, the connection) reports, with
// the server's message, SQLSTATE and the statement.
[[noreturn]] void RaisePgError(TCore& core, const PGresult* result, std::string_view statement,
                               std::string_view context = {});
[[noreturn]] void RaiseClosed(std::string_view statement = {});
void CheckOpen(const TCore& core);

// Runs one statement of the session's own (transaction control, catalog
// queries) with text parameters and returns its result; errors raise. The
// connection is parked first.
TPgResultPtr ExecInternal(TCore& core, const String& sql, const std::vector<String>& params = {},
                          const std::vector<bool>& nulls = {});

// A result's cell as text (empty for Null).
inline std::string_view PgText(const PGresult* r, int row, int col) {
    return {PQgetvalue(r, row, col), static_cast<std::size_t>(PQgetlength(r, row, col))};
}

// Base table facts of result columns, read from the catalog.
struct TPgBaseColumn {
    String Catalog, Schema, Table, Column;
    bool NotNull = false;
    bool Key = false;
    bool Updatable = false;
    bool AutoIncrement = false;
};
// Describes columns from a row description (types, names and base tables).
std::vector<TColumnInfo> DescribeColumns(TCore& core, const PGresult* description);

}  // namespace DataEngine::Postgres
