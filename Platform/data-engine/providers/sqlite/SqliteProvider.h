// The SQLite provider: "Provider=SQLite;Data Source=<file>".
//
// Connection string keys it reads (others are kept and ignored):
//   Data Source          a file path, ":memory:", or a "file:" URI
//   Mode                 a number (ConnectModeEnum) or names joined by '|':
//                        Read, Write, ReadWrite, Share Deny None, Share Exclusive
//                        (also adModeRead ... spellings). Unknown (the default)
//                        opens read-write and creates a missing file; Read opens
//                        read-only; Write and ReadWrite need the file to exist.
//                        Share Exclusive takes SQLite's exclusive locking mode;
//                        Share Deny Read / Share Deny Write are refused, SQLite
//                        cannot deny only one of them to other connections.
//   Busy Timeout         milliseconds to wait for a lock held by another connection
//                        (a Cancel ends the wait)
//   Connect Timeout      seconds, the busy timeout when Busy Timeout is absent (default 5 s)
//   Extended Properties  "pragma=value;..." run as PRAGMA statements after opening
// The mapping from declared column types to ADO types is documented in
// Platform/data-engine/README.md; MapSqliteDeclaredType implements it.
#pragma once

#include <memory>

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine {

std::shared_ptr<TProvider> CreateSqliteProvider();

// The column description for a declared type ("VARCHAR(20)", "DECIMAL(10,2)",
// "INTEGER", ...): Type, DefinedSize, Precision, NumericScale and the
// adFldFixed / adFldLong attributes. Type is adEmpty when the column has no
// fixed type and takes the storage class of the first value it returns
// (expressions, no declared type, names SQLite gives NUMERIC affinity that
// are not in the table).
TColumnInfo MapSqliteDeclaredType(std::string_view declared);

// Sizes, precision and attributes an ADO type gets when the declaration
// says nothing more.
void ApplyTypeDefaults(TColumnInfo& column);

}  // namespace DataEngine
