#include "Platform/rtl/System.h"

namespace Rtl {

const TMetaClass& TObject::StaticClass() {
    static TMetaClass mc{"TObject", nullptr, nullptr};
    return mc;
}

RTL_CLASS_IMPL(TPersistent, TObject)

namespace {
[[noreturn]] void AssignError(const TPersistent* source, const TPersistent* dest) {
    const String src = source ? source->ClassName() : String("nil");
    const String dst = dest ? dest->ClassName() : String("nil");
    throw EConvertError("Cannot assign a " + src + " to a " + dst);
}
}  // namespace

void TPersistent::Assign(TPersistent* Source) {
    if (!Source) AssignError(nullptr, this);
    Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) const { AssignError(this, Dest); }

String TPersistent::GetNamePath() const { return ClassName(); }

}  // namespace Rtl
