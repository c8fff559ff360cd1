// Connection strings come from users, form files and UDL-style settings: the
// parser must never read out of bounds, and whatever it accepts must write
// back to a text that reads as the same items.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/ConnectionString.h"

using DataEngine::EConnectionStringError;
using DataEngine::TConnectionString;

namespace {

void RoundTrip(std::string_view text) {
    const TConnectionString cs = TConnectionString::Parse(text);
    const TConnectionString back = TConnectionString::Parse(cs.ToString());
    if (!(back == cs)) std::abort();
    // Values such as Extended Properties hold connection strings of their own.
    for (const auto& item : cs.Items()) {
        try {
            TConnectionString::Parse(item.Value);
        } catch (const EConnectionStringError&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        RoundTrip(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const EConnectionStringError&) {
    }
    return 0;
}
