// The PostgreSQL provider, through libpq:
//   "Provider=PostgreSQL;Data Source=host[:port];Initial Catalog=<db>;User ID=...;Password=..."
//
// Connection string keys it reads (others are kept and ignored):
//   Data Source          host, host:port, [IPv6]:port, or a socket directory (/path[:port])
//   Initial Catalog      the database
//   User ID, Password    the credentials; those given to Open separately win
//   Connect Timeout      seconds to wait for the server (default 15; 0 waits forever)
//   Mode                 Read opens the session read-only (default_transaction_read_only)
//   Extended Properties  a libpq conninfo text ("sslmode=require application_name=x")
//   any libpq keyword    host, port, dbname, sslmode, options, ... passed as given;
//                        these and Extended Properties win over the keys above.
// Every session talks UTF-8 with DateStyle ISO and TimeZone UTC (timestamptz
// values are given and taken in UTC), as the value conversions need.
//
// Prepare checks and describes a text's first statement at once, unless the
// server cannot type its parameters from the text alone ("? IS NULL",
// ":a - :b"): then it is described when it runs, with the types of the values
// bound (a Null or text nothing types is taken as text).
//
// Stored routines: a function's return value is parameter 1, its arguments
// follow in their order (ADO's Parameters.Refresh order).
//
// Threads: a session and its statements may be used from any thread; calls
// are serialised per connection. Cancel may be called from any thread at any
// time and stops a running Open (connecting), Execute or streaming Fetch.
//
// The mapping from server types to ADO types is documented in
// Platform/data-engine/README.md; MapPgType implements it.
#pragma once

#include <memory>

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine {

std::shared_ptr<TProvider> CreatePostgresProvider();

// The column description for a server type (its OID and type modifier as the
// row description gives them): Type, DefinedSize, Precision, NumericScale,
// adFldFixed / adFldLong and DeclaredType. Types without an ADO counterpart
// arrive as their text (adLongVarWChar).
TColumnInfo MapPgType(unsigned typeOid, int typmod);

}  // namespace DataEngine
