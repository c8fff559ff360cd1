// The project's main job: a tour of what the library does today.
#include <cstdio>

#include "Platform/rtl/SysUtils.h"

using namespace Rtl;

int main() {
    const String text = "Grüße, Ελλάδα";
    const WideString wide = Utf8ToWide(text);
    std::printf("UTF-8 \"%s\": %zu bytes, %zu UTF-16 units, round trip %s\n", text.c_str(), text.size(),
                wide.size(), WideToUtf8(wide) == text ? "exact" : "BROKEN");
    return 0;
}
