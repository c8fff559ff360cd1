// A small row store shared by the cursor service tests: six people with
// text, money, dates, booleans and doubles, Nulls among them.
#pragma once

#include <gtest/gtest.h>

#include "Platform/data-engine/cursor/RowStore.h"
#include "Platform/data-engine/providers/MemoryResult.h"

namespace CursorTest {

using namespace DataEngine;
using Rtl::Variant;

inline Variant Date(int y, int m, int d, int h = 0, int mi = 0) {
    double v = 0;
    EncodeDateTimeUs(y, m, d, h, mi, 0, 0, v);
    return Variant(Rtl::TDateTime(v));
}

// ID, Last Name, City, Price (currency), Born (timestamp), Active, Score (double)
inline std::unique_ptr<TRowStore> People() {
    using namespace Velora;
    auto store = std::make_unique<TRowStore>(std::vector<TColumnInfo>{
        MakeColumn("ID", adInteger), MakeColumn("Last Name", adVarWChar, 40), MakeColumn("City", adVarWChar, 40),
        MakeColumn("Price", adCurrency), MakeColumn("Born", adDBTimeStamp), MakeColumn("Active", adBoolean),
        MakeColumn("Score", adDouble)});
    const Variant N = Variant::Null();
    const std::vector<std::vector<Variant>> rows = {
        {1, "Smith", "London", Rtl::Currency::FromScaled(105000), Date(1970, 4, 10), true, 2.5},
        {2, "Jones", "Paris", Rtl::Currency::FromScaled(3000000), Date(1985, 12, 1), false, 10.0},
        {3, "O'Malley", "Dublin", Rtl::Currency::FromScaled(500000), Date(1999, 1, 31, 13, 45), true, -1.0},
        {4, "smithers", "london", N, N, N, 0.1},
        {5, "\xC3\x89mile", "Lyon", Rtl::Currency::FromScaled(72500), Date(2001, 7, 4), false, 100.0},
        {6, "Johnson", N, Rtl::Currency::FromScaled(3000000), Date(1970, 4, 10), true, 1e3},
    };
    for (const auto& values : rows) {
        TRowBuffer buffer(values.size());
        std::vector<String> scratch(values.size());
        for (std::size_t c = 0; c < values.size(); ++c)
            VariantToCell(store->GetColumns()[c], store->GetKinds()[c], values[c], buffer[c], scratch[c]);
        store->Append(buffer);
    }
    return store;
}

// The ID column of each row, in the order given.
inline std::vector<int> Ids(const TRowStore& store, const std::vector<TRowId>& rows) {
    std::vector<int> out;
    for (TRowId r : rows) out.push_back(store.GetValue(r, 0).ToInteger());
    return out;
}

// The message of the EEngineError f raises ("" when none).
template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const EEngineError& e) {
        return e.Message();
    }
    return {};
}

}  // namespace CursorTest
