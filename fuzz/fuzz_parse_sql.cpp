// SQL text comes from users and form files: the parameter scanner must never
// read out of bounds, must give the same text whether or not it creates
// parameters, never make the text longer, and leave parameters whose shared
// values resolve.
#include <cstdint>
#include <cstdlib>

#include "Velora/Adods/Params.h"

using namespace Velora;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Rtl::String sql(reinterpret_cast<const char*>(data), size);
    TParams params;
    const Rtl::String created = params.ParseSQL(sql, true);
    const int count = params.GetCount();
    Check(params.ParseSQL(sql, false) == created);
    Check(params.GetCount() == count);
    Check(created.size() <= sql.size());
    // Every item resolves its value owner, and values written through one item
    // are read through every item of that name. (Each resolution looks the name
    // up from the start, so only the first items are checked, to keep the
    // target fast on texts full of markers.)
    for (int i = 0; i < count && i < 64; ++i) {
        TParam* owner = params.Items(i);
        if (!owner->GetName().empty()) Check(owner == params.FindParam(owner->GetName()));
        static_cast<TParam*>(params.TCollection::GetItem(i))->SetAsVariant(Rtl::Variant(i));
        Check(owner->GetValue().ToInteger() == i);
    }
    return 0;
}
