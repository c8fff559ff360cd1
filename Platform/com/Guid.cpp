#include "Platform/com/Guid.h"

#include <cstdio>
#include <random>

namespace Com {

GUID StringToGUID(std::string_view s) {
    GUID g;
    if (TryStringToGUID(s, g)) return g;
    // Quote at most a reasonable stretch of the text: it may come from a file.
    constexpr std::size_t MaxQuoted = 64;
    String quoted(s.substr(0, MaxQuoted));
    if (s.size() > MaxQuoted) quoted += "...";
    throw Rtl::EConvertError("'" + quoted + "' is not a valid GUID value");
}

String GUIDToString(const GUID& g) {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.D1, g.D2, g.D3,
                  g.D4[0], g.D4[1], g.D4[2], g.D4[3], g.D4[4], g.D4[5], g.D4[6], g.D4[7]);
    return String(buf, 38);
}

GUID CreateGUID() {
    thread_local std::mt19937_64 engine = [] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }();
    const std::uint64_t a = engine();
    const std::uint64_t b = engine();
    GUID g;
    g.D1 = static_cast<std::uint32_t>(a >> 32);
    g.D2 = static_cast<std::uint16_t>(a >> 16);
    g.D3 = static_cast<std::uint16_t>((a & 0x0FFF) | 0x4000);  // version 4
    for (int i = 0; i < 8; ++i) g.D4[i] = static_cast<std::uint8_t>(b >> (56 - 8 * i));
    g.D4[0] = static_cast<std::uint8_t>((g.D4[0] & 0x3F) | 0x80);  // RFC 4122 variant
    return g;
}

}  // namespace Com
