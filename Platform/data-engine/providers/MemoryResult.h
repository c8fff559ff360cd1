// A row result held in memory: schema rowsets and other small results the
// engine builds itself rather than reading from a data source.
#pragma once

#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine {

class TMemoryResult : public TResultStream {
public:
    explicit TMemoryResult(std::vector<TColumnInfo> columns);
    // Appends a row; values convert to the columns' types as VariantToCell does.
    void AddRow(std::vector<Variant> values);
    // Orders the rows by the given columns (stable, Nulls first, text by byte order).
    void SortBy(const std::vector<int>& columns);
    std::size_t GetRowCount() const noexcept { return FRows.size(); }

    const std::vector<TColumnInfo>& GetColumns() const override { return FColumns; }
    const std::vector<TStorageKind>& GetKinds() const override { return FKinds; }
    bool Fetch(TRowBuffer& row) override;
    Int64 GetRecordsAffected() const override { return -1; }

private:
    std::vector<TColumnInfo> FColumns;
    std::vector<TStorageKind> FKinds;
    std::vector<std::vector<Variant>> FRows;
    std::size_t FNext = 0;
};

// A column description for built results: name, type and size.
TColumnInfo MakeColumn(const String& name, Velora::DataTypeEnum type, int definedSize = 0);

}  // namespace DataEngine
