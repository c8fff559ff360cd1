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
    bool IsNull(std::size_t column) const { return Cell(column).Null; }
    const TCell& Cell(std::size_t column) const;
    Variant GetValue(std::size_t column) const;
    Int64 GetInt64(std::size_t column) const;
    double GetDouble(std::size_t column) const;
    std::string_view GetText(std::size_t column) const;   // UTF-8
    std::string_view GetBytes(std::size_t column) const;

private:
    void CheckColumnKind(std::size_t column, bool ok, const char* what) const;
    TResultStream& FResult;
    std::vector<TStorageKind> FKinds;
    TRowBuffer FRow;
    bool FOnRow = false;
    bool FEof = false;
    Int64 FRowNumber = 0;
};

}  // namespace DataEngine
