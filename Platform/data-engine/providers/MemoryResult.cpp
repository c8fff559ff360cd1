#include "Platform/data-engine/providers/MemoryResult.h"

#include <algorithm>

namespace DataEngine {

using namespace Velora;

TColumnInfo MakeColumn(const String& name, DataTypeEnum type, int definedSize) {
    TColumnInfo c;
    c.Name = name;
    c.Type = type;
    c.Attributes = adFldMayBeNull | adFldIsNullable;
    switch (StorageKindOf(type)) {
        case skText:
        case skBytes: c.DefinedSize = definedSize; break;
        default:
            c.DefinedSize = definedSize ? definedSize : FixedWidthOf(StorageKindOf(type));
            c.Attributes |= adFldFixed;
            break;
    }
    return c;
}

TMemoryResult::TMemoryResult(std::vector<TColumnInfo> columns) : FColumns(std::move(columns)) {
    for (auto& c : FColumns) FKinds.push_back(StorageKindOf(c.Type));
}

void TMemoryResult::AddRow(std::vector<Variant> values) {
    values.resize(FColumns.size());
    FRows.push_back(std::move(values));
}

void TMemoryResult::SortBy(const std::vector<int>& columns) {
    std::stable_sort(FRows.begin(), FRows.end(), [&](const auto& a, const auto& b) {
        for (int c : columns) {
            const auto& x = a[static_cast<std::size_t>(c)];
            const auto& y = b[static_cast<std::size_t>(c)];
            const bool xn = x.IsNull() || x.IsEmpty(), yn = y.IsNull() || y.IsEmpty();
            if (xn || yn) {
                if (xn != yn) return xn;
                continue;
            }
            if (Rtl::VarIsStr(x) && Rtl::VarIsStr(y)) {
                const int cmp = Rtl::CompareStr(x.ToString(), y.ToString());
                if (cmp != 0) return cmp < 0;
                continue;
            }
            const auto rel = Rtl::VarCompareValue(x, y);
            if (rel == Rtl::vrLessThan) return true;
            if (rel == Rtl::vrGreaterThan) return false;
        }
        return false;
    });
}

bool TMemoryResult::Fetch(TRowBuffer& row) {
    if (FNext >= FRows.size()) return false;
    if (row.Count() != FColumns.size()) row.Reset(FColumns.size());
    const auto& values = FRows[FNext++];
    for (std::size_t c = 0; c < FColumns.size(); ++c) VariantToCell(FColumns[c], FKinds[c], values[c], row[c], row.Scratch(c));
    return true;
}

}  // namespace DataEngine
