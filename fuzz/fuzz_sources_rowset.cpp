// The root enumerator's rowset writes into memory its consumer describes: a
// binding gives offsets and widths, the accessor the row size. Whatever the
// bindings say, GetData must stay inside a row of that size, and text it cuts
// must stay a clean prefix: whole UTF-8 characters, never half a surrogate
// pair, always terminated, with the full length and the truncated status.
//
// Input: a row count, then per row a name length, the name's bytes and a
// source type; then a binding count, per binding 11 bytes (ordinal, type
// selector, parts, width, status, length and value offsets); then the row
// size. Each binding is tried alone, on a row buffer of exactly that size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Platform/data-engine/oledb/RootEnumerator.h"

using namespace Velora;
using DataEngine::OleDb::TSourceRow;
using DataEngine::OleDb::TSourcesRowset;

namespace {

struct TInput {
    const uint8_t* P;
    size_t Left;
    uint8_t Byte() {
        if (!Left) return 0;
        --Left;
        return *P++;
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
};

void Check(bool ok) {
    if (!ok) std::abort();
}

bool IsPrefix(const void* p, size_t n, const void* whole, size_t wholeSize) {
    return n <= wholeSize && (n == 0 || std::memcmp(p, whole, n) == 0);
}

void CheckText(const DBBINDING& b, const TSourceRow& row, const std::vector<uint8_t>& buf) {
    const Rtl::String source = b.iOrdinal == SOURCES_NAME          ? row.Name
                               : b.iOrdinal == SOURCES_PARSENAME   ? row.ParseName
                               : b.iOrdinal == SOURCES_DESCRIPTION ? row.Description
                                                                   : Rtl::String();
    if (b.iOrdinal != SOURCES_NAME && b.iOrdinal != SOURCES_PARSENAME && b.iOrdinal != SOURCES_DESCRIPTION) return;
    if (!(b.dwPart & DBPART_STATUS) || !(b.dwPart & DBPART_VALUE)) return;
    // Parts the consumer laid over each other overwrite each other: nothing to judge.
    auto apart = [](size_t a, size_t an, size_t c, size_t cn) { return a + an <= c || c + cn <= a; };
    if (!apart(b.obValue, b.cbMaxLen, b.obStatus, 4)) return;
    if ((b.dwPart & DBPART_LENGTH) && !apart(b.obValue, b.cbMaxLen, b.obLength, 4)) return;
    if ((b.dwPart & DBPART_LENGTH) && !apart(b.obStatus, 4, b.obLength, 4)) return;
    DBSTATUS status;
    std::memcpy(&status, buf.data() + b.obStatus, 4);
    if (status != DBSTATUS_S_OK && status != DBSTATUS_S_TRUNCATED) return;
    const uint8_t* value = buf.data() + b.obValue;
    if (b.wType == DBTYPE_STR) {
        if (b.cbMaxLen == 0) return;
        const void* nul = std::memchr(value, 0, b.cbMaxLen);
        Check(nul != nullptr);
        const size_t n = static_cast<const uint8_t*>(nul) - value;
        Check(IsPrefix(value, n, source.data(), source.size()));
        Check((n < source.size()) == (status == DBSTATUS_S_TRUNCATED));
        if (Rtl::IsValidUtf8(source)) Check(Rtl::IsValidUtf8(std::string_view(reinterpret_cast<const char*>(value), n)));
    } else if (b.wType == DBTYPE_WSTR) {
        if (b.cbMaxLen < 2) return;
        const Rtl::WideString wide = Rtl::Utf8ToWide(source);
        size_t n = 0;
        while (n < b.cbMaxLen / 2 && (value[2 * n] | value[2 * n + 1])) ++n;
        Check(n < b.cbMaxLen / 2);  // terminated inside the value area
        Rtl::WideString units(n, u'\0');
        if (n) std::memcpy(units.data(), value, n * 2);
        Check(wide.compare(0, n, units) == 0);
        Check((n < wide.size()) == (status == DBSTATUS_S_TRUNCATED));
        if (n > 0 && n < wide.size()) Check(!(units[n - 1] >= 0xD800 && units[n - 1] <= 0xDBFF));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TInput in{data, size};
    std::vector<TSourceRow> rows(in.Byte() % 4 + 1);
    for (auto& r : rows) {
        const size_t n = in.Byte();
        // Names are text: a NUL inside one would end it early in a DBTYPE_STR binding.
        for (size_t i = 0; i < n && in.Left; ++i) {
            const char c = static_cast<char>(in.Byte());
            r.Name.push_back(c ? c : ' ');
        }
        r.ParseName = r.Name;
        r.Description = r.Name + r.Name;
        r.Type = in.Byte();
        r.IsParent = r.Type & 1;
    }
    static const DBTYPE types[] = {DBTYPE_STR,  DBTYPE_WSTR, DBTYPE_UI1, DBTYPE_I2,   DBTYPE_UI2,
                                   DBTYPE_I4,   DBTYPE_UI4,  DBTYPE_I8,  DBTYPE_BOOL, DBTYPE_BSTR,
                                   DBTYPE_BYTES, DBTYPE_STR | DBTYPE_BYREF};
    std::vector<DBBINDING> bindings(in.Byte() % 6);
    for (auto& b : bindings) {
        b.iOrdinal = in.Byte() % 8;
        b.wType = types[in.Byte() % std::size(types)];
        b.dwPart = in.Byte() % 8;
        b.cbMaxLen = in.Word() % 600;
        b.obStatus = in.Word() % 700;
        b.obLength = in.Word() % 700;
        b.obValue = in.Word() % 700;
    }
    const DBLENGTH rowSize = in.Word() % 800 + 1;

    auto rowset = Com::MakeComObject<TSourcesRowset>(rows);
    std::vector<HROW> handles(rows.size());
    HROW* p = handles.data();
    DBCOUNTITEM obtained = 0;
    rowset->GetNextRows(DB_NULL_HCHAPTER, 0, static_cast<DBROWCOUNT>(rows.size()), &obtained, &p);
    Check(obtained == rows.size());
    for (const DBBINDING& b : bindings) {
        HACCESSOR h = DB_NULL_HACCESSOR;
        DBBINDSTATUS status = DBBINDSTATUS_OK;
        if (rowset->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, rowSize, &h, &status) != Com::S_OK) {
            Check(h == DB_NULL_HACCESSOR && status != DBBINDSTATUS_OK);
            continue;
        }
        for (size_t i = 0; i < rows.size(); ++i) {
            // Exactly the row size, so AddressSanitizer sees any write past it.
            std::vector<uint8_t> buf(rowSize, 0xA5);
            if (Com::Succeeded(rowset->GetData(handles[i], h, buf.data()))) CheckText(b, rows[i], buf);
        }
        rowset->ReleaseAccessor(h, nullptr);
    }
    rowset->ReleaseRows(obtained, handles.data(), nullptr, nullptr, nullptr);
    return 0;
}
