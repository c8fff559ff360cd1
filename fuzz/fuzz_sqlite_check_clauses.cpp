// CHECK constraints are read from the CREATE TABLE text SQLite keeps, which
// any program writing the file may have put there: the reader must never read
// out of bounds, and every clause it finds is a piece of the text.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/schema/SchemaRowsets.h"

using namespace DataEngine::Schema;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& c : FindSqliteCheckClauses(text)) {
        if (text.find(c.Clause) == std::string_view::npos) std::abort();
        SqlIdentifiers(c.Clause);
    }
    SqlIdentifiers(text);
    return 0;
}
