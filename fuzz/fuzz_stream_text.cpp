// A text stream decodes bytes from anywhere (files in any character set, a
// position set in the middle of a character): reading characters and lines
// must never read out of bounds, must always move forward, and text in the
// single-byte sets must encode back to the very bytes it came from. The first
// byte chooses the character set, the line separator and the read count.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/objects/StreamText.h"

using namespace DataEngine::Ado;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* names[] = {"unicode", "unicodeFFFE", "utf-8", "iso-8859-1", "us-ascii", "windows-1252"};
    static const int separators[] = {13, 10, -1};
    const TCharset* cs = FindCharset(names[data[0] % 6]);
    if (!cs) std::abort();
    const int separator = separators[(data[0] / 6) % 3];
    const long long count = data[0] / 18;  // 0 .. 14 characters at a time
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    // Lines, from the start (after a byte order mark) to the end.
    std::size_t pos = SkipBom(*cs, bytes, 0);
    while (pos < bytes.size()) {
        const TTextRead line = ReadLine(*cs, bytes, pos, separator);
        if (line.End <= pos || line.End > bytes.size()) std::abort();
        pos = line.End;
    }
    // Counted reads: never more than one unit past the count, always forward.
    pos = 0;
    while (pos < bytes.size()) {
        const TTextRead r = ReadChars(*cs, bytes, pos, count == 0 ? 1 : count);
        if (r.End <= pos || r.End > bytes.size()) std::abort();
        if (r.Text.size() > static_cast<std::size_t>(count == 0 ? 1 : count) + 1) std::abort();
        pos = r.End;
    }
    // Everything at once, and back into bytes.
    const TTextRead all = ReadChars(*cs, bytes, 0, -1);
    if (cs->Kind == ckLatin1 || cs->Kind == ckWindows1252 || cs->Kind == ckUtf16LE || cs->Kind == ckUtf16BE) {
        std::string again;
        try {
            again = EncodeText(*cs, all.Text);
        } catch (...) {
            // A U+FFFD for half a unit at the end of UTF-16 encodes; nothing here may fail.
            std::abort();
        }
        const bool oddTail = cs->UnitSize == 2 && bytes.size() % 2 == 1;
        if (!oddTail && again != bytes) std::abort();
    } else {
        try {
            (void)EncodeText(*cs, all.Text);
        } catch (...) {
            // us-ascii cannot hold the U+FFFD of a byte above 0x7F; utf-8 holds everything decoded.
            if (cs->Kind == ckUtf8) std::abort();
        }
    }
    return 0;
}
