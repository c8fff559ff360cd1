// Class strings from outside (braced GUIDs, ProgIDs) through the GUID parser and
// the registry's lookup. A parsed GUID formats back to the same text up to case.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Platform/com/ClassRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool noServers = (Com::SetComServerPath({}), true);
    (void)noServers;
    const std::string text(reinterpret_cast<const char*>(data), size);
    Com::GUID g;
    if (Com::TryStringToGUID(text, g)) {
        if (!Rtl::SameText(Com::GUIDToString(g), text)) std::abort();
        if (!(Com::StringToGUID(text) == g)) std::abort();
    } else {
        try {
            Com::StringToGUID(text);
            std::abort();
        } catch (const Rtl::EConvertError&) {
        }
    }
    Com::CLSID clsid;
    const Com::HRESULT hr = Com::CLSIDFromString(text, &clsid);
    if (Com::Succeeded(hr) != (text.size() == 38 && Com::TryStringToGUID(text, g))) std::abort();
    Com::ClearErrorInfo();
    return 0;
}
