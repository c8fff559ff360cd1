// Text in a Stream object's bytes: the character sets a text stream stores
// its characters in, decoding one character at a time, encoding, and finding
// line ends.
//
// Decoding takes bytes from anywhere (files in any character set, a position
// set by hand in the middle of a character): it never reads outside the bytes
// it is given, and a byte sequence that is not a character of the set decodes
// as U+FFFD and moves on by at least one byte, so every loop over a buffer ends.
// Encoding refuses a character the set has no code for, naming it, rather than
// writing a substitute: a text written is a text that reads back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Platform/data-engine/EngineError.h"

namespace DataEngine::Ado {

enum TCharsetKind {
    ckUtf16LE,   // "unicode" (the default), with its byte order mark FF FE
    ckUtf16BE,   // "unicodeFFFE", with FE FF
    ckUtf8,      // "utf-8", with EF BB BF
    ckLatin1,    // "iso-8859-1"
    ckAscii,     // "us-ascii"
    ckWindows1252,
};

struct TCharset {
    TCharsetKind Kind = ckUtf16LE;
    const char* Name = "Unicode";  // the canonical name
    // The byte order mark written when text is written at position 0, and
    // skipped when text is read from position 0; empty for single-byte sets.
    std::string_view Bom;
    std::size_t UnitSize = 1;  // 2 for UTF-16
};

// The character set of that name (case-insensitive, with the usual aliases:
// "utf8", "latin1", "ascii", "cp1252", "utf-16" ...); null when unknown.
const TCharset* FindCharset(std::string_view name) noexcept;
// The names FindCharset knows, for messages ("Unicode, utf-8, ...").
std::string KnownCharsetNames();
const TCharset& DefaultCharset() noexcept;

// Decodes the character at data[pos] (pos < size) into out (one UTF-16 unit,
// or two for a character above U+FFFF), advances pos past its bytes (at least
// one, never past size) and answers the number of units written.
int DecodeChar(const TCharset& cs, const unsigned char* data, std::size_t size, std::size_t& pos,
               char16_t out[2]) noexcept;

// The bytes of text in the character set. A character the set cannot hold
// (and an unpaired surrogate, outside UTF-16) raises EEngineError
// (adErrDataConversion) naming the character, its index and the set.
std::string EncodeText(const TCharset& cs, std::u16string_view text);

// The UTF-16 text of a line separator (LineSeparatorEnum: adCR, adLF, adCRLF).
std::u16string_view SeparatorText(int separator) noexcept;

// What reading from a position found.
struct TTextRead {
    std::u16string Text;
    std::size_t End = 0;  // the byte position after what was read
};

// Reads up to count characters (UTF-16 units; a pair is never split, so one
// more unit may come) from pos; count < 0 reads to the end.
TTextRead ReadChars(const TCharset& cs, std::string_view bytes, std::size_t pos, long long count);
// Reads the line starting at pos: the text up to the separator (not included);
// End is after the separator, or the end of the bytes when there is none.
TTextRead ReadLine(const TCharset& cs, std::string_view bytes, std::size_t pos, int separator);
// The position after the byte order mark of cs when bytes start with it at
// pos 0; pos otherwise.
std::size_t SkipBom(const TCharset& cs, std::string_view bytes, std::size_t pos) noexcept;

}  // namespace DataEngine::Ado
