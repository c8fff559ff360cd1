// What the XML and TableGram tests share: the pending changes every format
// must carry, and a comparison of two stores column by column and row by row.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Platform/data-engine/cursor/RowStore.h"

namespace PersistTest {

using namespace DataEngine;
using Rtl::Variant;

// Adds rows 2 to 6 (column 0 the id, 1 a text, 14 a currency) and leaves one
// of every kind of pending change: a change, a change to Null, a change back
// to the same value, a change then a delete, a delete, and two new rows.
inline void AddPendingChanges(TRowStore& store) {
    for (int id = 2; id <= 6; ++id) {
        const TRowId n = store.AddNew();
        store.SetValue(n, 0, Variant(id));
        store.SetValue(n, 1, Variant("row " + std::to_string(id)));
        store.SetValue(n, 14, Variant(Rtl::Currency::FromScaled(id * 10000)));
        store.AcceptChanges(n);
    }
    store.SetValue(1, 1, Variant("changed"));  // row 2: a change
    store.SetValue(1, 14, Variant::Null());     // and a change to Null
    store.SetValue(2, 1, Variant("row 3"));     // row 3: changed back to the same value
    store.SetValue(3, 1, Variant("gone"));      // row 4: changed, then deleted
    store.Delete(3);
    store.Delete(4);                            // row 5: deleted
    const TRowId added = store.AddNew();        // two new rows
    store.SetValue(added, 0, Variant(7));
    store.SetValue(store.AddNew(), 1, Variant("only a name"));
}

inline void ExpectSameStores(const TRowStore& a, const TRowStore& b) {
    ASSERT_EQ(a.GetColumnCount(), b.GetColumnCount());
    for (std::size_t c = 0; c < a.GetColumnCount(); ++c) {
        const TColumnInfo &x = a.GetColumns()[c], &y = b.GetColumns()[c];
        SCOPED_TRACE(x.Name);
        EXPECT_EQ(x.Name, y.Name);
        EXPECT_EQ(x.Type, y.Type);
        EXPECT_EQ(x.DefinedSize, y.DefinedSize);
        EXPECT_EQ(x.Precision, y.Precision);
        EXPECT_EQ(x.NumericScale, y.NumericScale);
        EXPECT_EQ(x.Attributes, y.Attributes);
        EXPECT_EQ(x.BaseCatalogName, y.BaseCatalogName);
        EXPECT_EQ(x.BaseSchemaName, y.BaseSchemaName);
        EXPECT_EQ(x.BaseTableName, y.BaseTableName);
        EXPECT_EQ(x.BaseColumnName, y.BaseColumnName);
        EXPECT_EQ(x.AutoIncrement, y.AutoIncrement);
    }
    ASSERT_EQ(a.GetRowCount(), b.GetRowCount());
    for (std::size_t i = 0; i < a.GetRowCount(); ++i) {
        const TRowId ra = a.GetRows()[i], rb = b.GetRows()[i];
        EXPECT_EQ(a.GetStatus(ra), b.GetStatus(rb)) << "row " << i;
        // A deleted row keeps its original values only: what it was changed to before is gone with it.
        const bool deleted = a.GetStatus(ra) & Velora::adRecDeleted;
        for (std::size_t c = 0; c < a.GetColumnCount(); ++c)
            for (TValueVersion v : {vvCurrent, vvOriginal}) {
                if (deleted && v == vvCurrent) continue;
                const Variant va = a.GetValue(ra, c, v), vb = b.GetValue(rb, c, v);
                EXPECT_TRUE(va == vb) << "row " << i << " column " << a.GetColumns()[c].Name << " version " << v << ": "
                                      << DescribeValue(va) << " vs " << DescribeValue(vb);
            }
    }
}

}  // namespace PersistTest
