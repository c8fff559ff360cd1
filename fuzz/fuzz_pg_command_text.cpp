// Command texts for PostgreSQL come from users and form files: splitting them
// into statements and rewriting their parameter markers must never read out
// of bounds, and what comes out must be consistent: every parameter a
// statement uses exists, and its rewritten text holds each of its markers.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/providers/postgres/PgSqlText.h"

using namespace DataEngine::Postgres;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TPgCommandText parsed = ParsePgCommandText(text);
    for (const auto& st : parsed.Statements) {
        if (st.Sql.empty() || st.Original.empty()) std::abort();
        for (std::size_t k = 0; k < st.Params.size(); ++k) {
            if (st.Params[k] < 1 || static_cast<std::size_t>(st.Params[k]) > parsed.ParamNames.size()) std::abort();
            if (st.Sql.find("$" + std::to_string(k + 1)) == std::string::npos) std::abort();
        }
    }
    std::vector<DataEngine::String> parts;
    if (SplitPgQualifiedName(text, parts))
        for (const auto& p : parts)
            if (p.empty()) std::abort();
    return 0;
}
