// Forward-only, read-only streaming over a result: what a server cursor
// opened adOpenForwardOnly gives. It holds the current row only, however
// many rows the result has; text and bytes of the current row may point into
// the provider's memory and are valid until Next.
#pragma once

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine {

class TForwardReader {
public:
    // The result must outlive the reader.
    explicit TForwardReader(TResultStream& result);

    const std::vector<TColumnInfo>& GetColumns() const noexcept { return FResult.GetColumns(); }
    std::size_t GetColumnCount() const noexcept { return FKinds.size(); }
    // Moves to the next row; false (and Eof) after the last one.
    bool Next();
    bool GetEof() const noexcept { return FEof; }
    // Rows read so far.
    Int64 GetRowNumber() const noexcept { return FRowNumber; }

    const TRowBuffer& GetRow() const noexcept { return FRow; }
    // The typed accessors are inline: a scan pays for the values, not for calls.
    const TCell& Cell(std::size_t column) const {
        if (!FOnRow || column >= FKinds.size()) NoCell(column);
        return FRow[column];
    }
    bool IsNull(std::size_t column) const { return Cell(column).Null; }
    Variant GetValue(std::size_t column) const;
    Int64 GetInt64(std::size_t column) const {
        const TCell& c = Cell(column);
        switch (FKinds[column]) {
            case skBoolean:
            case skInt8:
            case skInt16:
            case skInt32:
            case skInt64: return c.I;
            case skUInt8:
            case skUInt16:
            case skUInt32: return static_cast<Int64>(c.U);
            default: return Int64Slow(column);
        }
    }
    double GetDouble(std::size_t column) const {
        const TCell& c = Cell(column);
        const TStorageKind k = FKinds[column];
        return (k == skDouble || k == skSingle || k == skDate) ? c.D : DoubleSlow(column);
    }
    std::string_view GetText(std::size_t column) const {  // UTF-8
        const TCell& c = Cell(column);
        if (FKinds[column] != skText) WrongKind(column, "text");
        return c.GetView();
    }
    std::string_view GetBytes(std::size_t column) const {
        const TCell& c = Cell(column);
        if (!IsVariableKind(FKinds[column])) WrongKind(column, "bytes");
        return c.GetView();
    }

private:
    [[noreturn]] void NoCell(std::size_t column) const;
    [[noreturn]] void WrongKind(std::size_t column, const char* what) const;
    Int64 Int64Slow(std::size_t column) const;
    double DoubleSlow(std::size_t column) const;
    TResultStream& FResult;
    std::vector<TStorageKind> FKinds;
    TRowBuffer FRow;
    bool FOnRow = false;
    bool FEof = false;
    Int64 FRowNumber = 0;
};

}  // namespace DataEngine
