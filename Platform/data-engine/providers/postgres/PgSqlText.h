// Command texts for PostgreSQL: splitting a text into its SQL statements and
// turning the parameter markers ADO clients write into the server's own.
//
// The server's extended protocol runs one statement at a time with numbered
// parameters ($1, $2 ...). A command text may hold several statements and may
// mark its parameters in one of three ways:
//   $n     the server's own numbering, kept as written (n counts across the text);
//   ?      one new parameter per marker, numbered in order of appearance;
//   :name  a named parameter; every use of one name is one parameter.
// A text that uses $n is taken as written: '?' and ':' are then the server's
// operators (jsonb's ?, ?|, ?&). '?' and :name may be mixed. Markers are never
// recognised inside string constants ('...', E'...', $tag$...$tag$), quoted
// identifiers, comments, array subscripts ([lo:hi]), casts (::) or named
// argument arrows (:=).
//
// Statements are split at ';' outside parentheses, quotes, comments and the
// body of a BEGIN ATOMIC ... END routine. Each statement's markers become $1..$k
// in order of first use within that statement, with a map back to the
// parameters of the whole text, so a statement sends only the values it uses.
#pragma once

#include <string_view>
#include <vector>

#include "Platform/data-engine/EngineError.h"

namespace DataEngine::Postgres {

struct TPgStatementText {
    String Sql;                  // the statement, markers rewritten to $1..$k
    String Original;             // the statement as written, trimmed (for messages)
    std::vector<int> Params;     // local $j (index j-1) -> 1-based parameter of the whole text
    String Keyword;              // its first word in upper case ("SELECT", "WITH", "CALL" ...)
};

struct TPgCommandText {
    std::vector<TPgStatementText> Statements;
    // The parameters of the whole text in order: "$3" for native markers, ""
    // for '?', ":name" for named ones.
    std::vector<String> ParamNames;
};

// Splits and rewrites a command text. Never fails: text it cannot make sense
// of (an unterminated quote or comment) stays part of the last statement and
// the server reports it. Statements holding only blanks and comments are
// dropped.
TPgCommandText ParsePgCommandText(std::string_view text);

// Quotes an identifier for SQL text: "name" with '"' doubled.
String QuotePgIdent(std::string_view name);

// Splits a possibly qualified name ("schema.name", "\"My Schema\".\"T\"") into
// its parts, unquoting quoted parts and folding unquoted ones to lower case as
// the server does. False when the text is not a well-formed name.
bool SplitPgQualifiedName(std::string_view text, std::vector<String>& parts);

}  // namespace DataEngine::Postgres
