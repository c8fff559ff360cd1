#include "Platform/data-engine/cursor/ForwardReader.h"

namespace DataEngine {

using namespace Velora;

TForwardReader::TForwardReader(TResultStream& result)
    : FResult(result), FKinds(result.GetKinds()), FRow(result.GetColumns().size()) {
    FEof = !result.HasRows();
}

bool TForwardReader::Next() {
    if (FEof) return false;
    FOnRow = FResult.Fetch(FRow);
    if (!FOnRow) {
        FEof = true;
        return false;
    }
    ++FRowNumber;
    return true;
}

const TCell& TForwardReader::Cell(std::size_t column) const {
    if (!FOnRow)
        throw EEngineError("There is no current row: " + String(FEof ? "the end was reached" : "call Next first"),
                           AdoErrorHResult(adErrNoCurrentRecord));
    if (column >= FKinds.size())
        throw EEngineError("Column " + std::to_string(column) + " does not exist: the result has " +
                               std::to_string(FKinds.size()) + " columns",
                           AdoErrorHResult(adErrItemNotFound));
    return FRow[column];
}

void TForwardReader::CheckColumnKind(std::size_t column, bool ok, const char* what) const {
    if (!ok)
        throw EEngineError("Column \"" + GetColumns()[column].Name + "\" (" + DataTypeName(GetColumns()[column].Type) +
                               ") does not hold " + what,
                           hrCantConvertValue);
}

Variant TForwardReader::GetValue(std::size_t column) const {
    const TCell& c = Cell(column);
    return CellToVariant(GetColumns()[column], FKinds[column], c);
}

Int64 TForwardReader::GetInt64(std::size_t column) const {
    const TCell& c = Cell(column);
    const TStorageKind k = FKinds[column];
    CheckColumnKind(column, k <= skUInt64, "integers");
    if (k == skUInt64 && c.U > static_cast<UInt64>(INT64_MAX))
        throw EEngineError("Column \"" + GetColumns()[column].Name + "\" holds " + std::to_string(c.U) +
                               ", beyond 64-bit signed integers",
                           hrDataOverflow);
    return (k == skUInt8 || k == skUInt16 || k == skUInt32 || k == skUInt64) ? static_cast<Int64>(c.U) : c.I;
}

double TForwardReader::GetDouble(std::size_t column) const {
    const TCell& c = Cell(column);
    switch (FKinds[column]) {
        case skSingle:
        case skDouble:
        case skDate: return c.D;
        case skCurrency: return static_cast<double>(c.I) / 10000.0;
        case skDecimal: return Rtl::DecimalToDouble(c.GetDecimal());
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return static_cast<double>(c.U);
        case skText:
        case skBytes:
        case skGuid: CheckColumnKind(column, false, "numbers"); return 0;
        default: return static_cast<double>(c.I);
    }
}

std::string_view TForwardReader::GetText(std::size_t column) const {
    const TCell& c = Cell(column);
    CheckColumnKind(column, FKinds[column] == skText, "text");
    return c.GetView();
}

std::string_view TForwardReader::GetBytes(std::size_t column) const {
    const TCell& c = Cell(column);
    CheckColumnKind(column, IsVariableKind(FKinds[column]), "bytes");
    return c.GetView();
}

}  // namespace DataEngine
