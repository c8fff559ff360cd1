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

void TForwardReader::NoCell(std::size_t column) const {
    if (!FOnRow)
        throw EEngineError("There is no current row: " + String(FEof ? "the end was reached" : "call Next first"),
                           AdoErrorHResult(adErrNoCurrentRecord));
    throw EEngineError("Column " + std::to_string(column) + " does not exist: the result has " +
                           std::to_string(FKinds.size()) + " columns",
                       AdoErrorHResult(adErrItemNotFound));
}

void TForwardReader::WrongKind(std::size_t column, const char* what) const {
    throw EEngineError("Column \"" + GetColumns()[column].Name + "\" (" + DataTypeName(GetColumns()[column].Type) +
                           ") does not hold " + what,
                       hrCantConvertValue);
}

Variant TForwardReader::GetValue(std::size_t column) const {
    const TCell& c = Cell(column);
    return CellToVariant(GetColumns()[column], FKinds[column], c);
}

Int64 TForwardReader::Int64Slow(std::size_t column) const {
    const TCell& c = FRow[column];
    if (FKinds[column] != skUInt64) WrongKind(column, "integers");
    if (c.U > static_cast<UInt64>(INT64_MAX))
        throw EEngineError("Column \"" + GetColumns()[column].Name + "\" holds " + std::to_string(c.U) +
                               ", beyond 64-bit signed integers",
                           hrDataOverflow);
    return static_cast<Int64>(c.U);
}

double TForwardReader::DoubleSlow(std::size_t column) const {
    const TCell& c = FRow[column];
    switch (FKinds[column]) {
        case skCurrency: return static_cast<double>(c.I) / 10000.0;
        case skDecimal: return Rtl::DecimalToDouble(c.GetDecimal());
        case skUInt8:
        case skUInt16:
        case skUInt32:
        case skUInt64: return static_cast<double>(c.U);
        case skBoolean:
        case skInt8:
        case skInt16:
        case skInt32:
        case skInt64: return static_cast<double>(c.I);
        default: WrongKind(column, "numbers");
    }
}

}  // namespace DataEngine
