// Filter, Find and Sort texts come from users and from form files: compiling
// must never read out of bounds, and a criteria that compiles must evaluate
// on every row without failing. The first byte chooses the text's use.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/cursor/CursorView.h"
#include "Platform/data-engine/providers/MemoryResult.h"

using namespace DataEngine;
using namespace Velora;

namespace {

TRowStore& Store() {
    static TRowStore* store = [] {
        auto* s = new TRowStore({MakeColumn("ID", adInteger), MakeColumn("Last Name", adVarWChar, 40),
                                 MakeColumn("Price", adCurrency), MakeColumn("Born", adDBTimeStamp),
                                 MakeColumn("Active", adBoolean), MakeColumn("Score", adDouble),
                                 MakeColumn("Amount", adNumeric), MakeColumn("G", adGUID)});
        for (int i = 0; i < 8; ++i) {
            const TRowId r = s->AddNew();
            s->SetValue(r, 0, Rtl::Variant(i));
            if (i % 3) s->SetValue(r, 1, Rtl::Variant(i % 2 ? "Smith" : "\xC3\x89mile"));
            s->SetValue(r, 2, Rtl::Variant(i * 1.25));
            s->SetValue(r, 3, Rtl::Variant(Rtl::TDateTime(30000.0 + i * 400)));
            s->SetValue(r, 4, Rtl::Variant(i % 2 == 0));
            s->SetValue(r, 5, Rtl::Variant(i * -0.5));
        }
        return s;
    }();
    return *store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    TRowStore& store = Store();
    try {
        switch (data[0] % 3) {
            case 0: {
                TCursorView view(store);
                view.SetFilter(TFilter::FromCriteria(store, text));
                if (view.GetCount() > store.GetRowCount()) std::abort();
                break;
            }
            case 1: {
                const TComparison c = TCriteria::ParseComparison(store, text);
                TCursorView view(store);
                view.Find(c, 0, 0, adSearchForward);
                view.Find(c, static_cast<Int64>(view.GetCount()) - 1, 1, adSearchBackward);
                break;
            }
            default: {
                TCursorView view(store);
                view.SetSort(TSortOrder::Parse(store, text));
                if (view.GetCount() != store.GetRowCount()) std::abort();
            }
        }
    } catch (const EEngineError&) {
    }
    return 0;
}
