// The legacy "Data" property of stored forms: the reader must never read out
// of bounds, must refuse damaged streams with the framework's errors only,
// and whatever it loads must answer the native-buffer interface within the
// size it reports.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "Velora/Adods/Params.h"

using namespace Velora;

namespace {

void Exercise(TParam* p) {
    try {
        const int size = p->GetDataSize();
        if (size < 0) std::abort();
        // Exactly sized, so AddressSanitizer sees any write past the size.
        auto buffer = std::make_unique<Rtl::Byte[]>(static_cast<std::size_t>(size) + 1);
        p->GetData(buffer.get());
        (void)p->GetAsString();
    } catch (const Rtl::Exception&) {
        // Unsupported types, dates out of range and values that do not convert.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Rtl::TStringStream stream(Rtl::String(reinterpret_cast<const char*>(data), size));
    TParams params;
    try {
        params.ReadBinaryData(&stream);
    } catch (const Rtl::Exception&) {
        // Db::EDatabaseError for damaged streams and unsupported types; the
        // runtime's conversion errors for dates, times and money out of range.
    }
    for (int i = 0; i < params.GetCount(); ++i) Exercise(params.Items(i));
    return 0;
}
