#include "Platform/vcl/FormText.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace Vcl {

namespace {

// ---- Characters ---------------------------------------------------------------------------

bool IsAlpha(char c) noexcept { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }
bool IsHex(char c) noexcept { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
int HexValue(char c) noexcept {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a') return c - 'a' + 10;
    return c - 'A' + 10;
}

// A character as error messages show it.
String Describe(char c) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32 || u >= 127) return "character #" + std::to_string(u);
    return String("'") + c + "'";
}

[[noreturn]] void Fail(int line, const String& msg) {
    throw Rtl::EReadError("Line " + std::to_string(line) + ": " + msg);
}

// ---- Tokens ----------------------------------------------------------------------------------

enum TokKind { tEOF, tIdent, tInteger, tFloat, tString, tChar };

struct Token {
    TokKind Kind = tEOF;
    int Line = 1;
    String Text;  // identifier, or the lexeme of a number
    Int64 Int = 0;
    double Float = 0;
    char Suffix = 0;
    char Ch = 0;
    std::vector<TFormStrPiece> Pieces;
};

String DescribeToken(const Token& t) {
    switch (t.Kind) {
        case tEOF: return "end of file";
        case tIdent: return "'" + t.Text + "'";
        case tInteger:
        case tFloat: return "number " + t.Text;
        case tString: return "a string";
        case tChar: return Describe(t.Ch);
    }
    return "?";
}

class Lexer {
public:
    explicit Lexer(std::string_view s) : S(s) {
        if (S.size() >= 3 && std::memcmp(S.data(), "\xEF\xBB\xBF", 3) == 0) P = 3;
    }

    Token Next() {
        SkipBlanks();
        Token t;
        t.Line = Line;
        if (P >= S.size()) return t;
        char c = S[P];
        if (IsAlpha(c)) {
            std::size_t start = P;
            while (P < S.size() && (IsAlpha(S[P]) || IsDigit(S[P]))) ++P;
            t.Kind = tIdent;
            t.Text = String(S.substr(start, P - start));
        } else if (IsDigit(c) || c == '$' || (c == '-' && P + 1 < S.size() && (IsDigit(S[P + 1]) || S[P + 1] == '$'))) {
            Number(t);
        } else if (c == '\'' || c == '#') {
            StringToken(t);
        } else if (std::strchr("=:.,[]()<>{}+-", c) && c != '\0') {
            t.Kind = tChar;
            t.Ch = c;
            ++P;
        } else {
            Fail(Line, "invalid " + Describe(c));
        }
        return t;
    }

    // The hex digits after '{' up to '}'; blanks and line breaks may separate them.
    std::vector<Byte> Binary() {
        std::vector<Byte> bytes;
        int pending = -1;
        for (;;) {
            SkipBlanks();
            if (P >= S.size()) Fail(Line, "'}' expected but end of file found in binary data");
            char c = S[P++];
            if (c == '}') break;
            if (!IsHex(c)) Fail(Line, "hexadecimal digit expected but " + Describe(c) + " found in binary data");
            if (pending < 0) {
                pending = HexValue(c);
            } else {
                bytes.push_back(static_cast<Byte>(pending * 16 + HexValue(c)));
                pending = -1;
            }
        }
        if (pending >= 0) Fail(Line, "binary data has an odd number of hexadecimal digits");
        return bytes;
    }

    int CurrentLine() const noexcept { return Line; }

private:
    void SkipBlanks() {
        while (P < S.size()) {
            char c = S[P];
            if (c == '\n') {
                ++Line;
            } else if (c == '\r') {
                if (P + 1 >= S.size() || S[P + 1] != '\n') ++Line;
            } else if (c != ' ' && c != '\t') {
                break;
            }
            ++P;
        }
    }

    void Number(Token& t) {
        std::size_t start = P;
        bool negative = false;
        if (S[P] == '-') {
            negative = true;
            ++P;
        }
        if (S[P] == '$') {
            ++P;
            std::size_t digits = P;
            while (P < S.size() && IsHex(S[P])) ++P;
            t.Text = String(S.substr(start, P - start));
            if (P == digits || P - digits > 16) Fail(Line, "invalid number " + t.Text);
            if (P < S.size() && (IsAlpha(S[P]) || IsDigit(S[P])))
                Fail(Line, "invalid number " + t.Text + S[P]);
            std::uint64_t v = 0;
            for (std::size_t i = digits; i < P; ++i) v = v * 16 + static_cast<unsigned>(HexValue(S[i]));
            if (negative) v = 0 - v;
            t.Kind = tInteger;
            t.Int = static_cast<Int64>(v);
            return;
        }
        bool isFloat = false;
        while (P < S.size() && IsDigit(S[P])) ++P;
        if (P + 1 < S.size() && S[P] == '.' && IsDigit(S[P + 1])) {
            isFloat = true;
            ++P;
            while (P < S.size() && IsDigit(S[P])) ++P;
        }
        if (P < S.size() && (S[P] == 'e' || S[P] == 'E')) {
            std::size_t q = P + 1;
            if (q < S.size() && (S[q] == '+' || S[q] == '-')) ++q;
            if (q < S.size() && IsDigit(S[q])) {
                isFloat = true;
                P = q;
                while (P < S.size() && IsDigit(S[P])) ++P;
            }
        }
        std::size_t end = P;
        t.Text = String(S.substr(start, end - start));
        if (P < S.size() && IsAlpha(S[P])) {
            char s = static_cast<char>(S[P] | 0x20);
            bool alone = P + 1 >= S.size() || !(IsAlpha(S[P + 1]) || IsDigit(S[P + 1]));
            if (!alone || (s != 's' && s != 'd' && s != 'c')) Fail(Line, "invalid number " + t.Text + S[P]);
            t.Suffix = s;
            ++P;
        }
        // from_chars takes no '+' in the exponent's place only; the lexeme is fine as is.
        if (isFloat || t.Suffix == 's' || t.Suffix == 'd') {
            double v = 0;
            auto r = std::from_chars(S.data() + start, S.data() + end, v);
            if (r.ec != std::errc() || r.ptr != S.data() + end || !std::isfinite(v))
                Fail(Line, "invalid number " + t.Text);
            if (t.Suffix == 'c') Fail(Line, "invalid currency value " + t.Text + "c: it is written as an integer");
            t.Kind = tFloat;
            t.Float = v;
        } else {
            Int64 v = 0;
            auto r = std::from_chars(S.data() + start, S.data() + end, v);
            if (r.ec != std::errc() || r.ptr != S.data() + end) Fail(Line, "integer out of range: " + t.Text);
            t.Kind = tInteger;
            t.Int = v;
        }
    }

    void StringToken(Token& t) {
        t.Kind = tString;
        while (P < S.size() && (S[P] == '\'' || S[P] == '#')) {
            if (S[P] == '\'') {
                ++P;
                TFormStrPiece piece;
                for (;;) {
                    if (P >= S.size() || S[P] == '\n' || S[P] == '\r') Fail(Line, "unterminated string");
                    char c = S[P++];
                    if (c == '\'') {
                        if (P < S.size() && S[P] == '\'') {
                            piece.Text += '\'';
                            ++P;
                            continue;
                        }
                        break;
                    }
                    piece.Text += c;
                }
                if (!t.Pieces.empty() && !t.Pieces.back().IsCode) t.Pieces.back().Text += piece.Text;
                else t.Pieces.push_back(std::move(piece));
            } else {
                const std::size_t hash = P++;
                std::uint64_t v = 0;
                std::size_t digits;
                if (P < S.size() && S[P] == '$') {
                    ++P;
                    digits = P;
                    while (P < S.size() && IsHex(S[P]) && P - digits < 8) v = v * 16 + static_cast<unsigned>(HexValue(S[P++]));
                } else {
                    digits = P;
                    while (P < S.size() && IsDigit(S[P]) && P - digits < 10) v = v * 10 + static_cast<unsigned>(S[P++] - '0');
                }
                if (P == digits) Fail(Line, "character code expected after '#'");
                const std::size_t end = P < S.size() && IsHex(S[P]) ? P + 1 : P;
                if (end > P || v > 0x10FFFF) Fail(Line, "invalid character code " + String(S.substr(hash, end - hash)));
                TFormStrPiece piece;
                piece.IsCode = true;
                piece.Code = static_cast<std::uint32_t>(v);
                t.Pieces.push_back(std::move(piece));
            }
        }
    }

    std::string_view S;
    std::size_t P = 0;
    int Line = 1;
};

// ---- Parser ---------------------------------------------------------------------------------

class Parser {
public:
    explicit Parser(std::string_view s) : L(s) { Advance(); }

    TFormObject File() {
        TFormObject o = Object();
        if (T.Kind != tEOF) Fail(T.Line, "end of file expected but " + DescribeToken(T) + " found");
        return o;
    }

private:
    void Advance() { T = L.Next(); }
    bool IsKeyword(const char* k) const { return T.Kind == tIdent && Rtl::SameText(T.Text, k); }
    bool IsChar(char c) const { return T.Kind == tChar && T.Ch == c; }
    [[noreturn]] void Expected(const String& what) const {
        Fail(T.Line, what + " expected but " + DescribeToken(T) + " found");
    }
    void ExpectChar(char c) {
        if (!IsChar(c)) Expected(String("'") + c + "'");
        Advance();
    }
    String ExpectIdent(const char* what) {
        if (T.Kind != tIdent) Expected(what);
        String s = T.Text;
        Advance();
        return s;
    }
    void Enter() {
        if (++Depth > MaxFormNesting) Fail(T.Line, "nesting deeper than " + std::to_string(MaxFormNesting) + " levels");
    }

    TFormObject Object() {
        Enter();
        if (IsKeyword("inherited") || IsKeyword("inline"))
            Fail(T.Line, "'" + T.Text + "' is not supported; 'object' expected");
        if (!IsKeyword("object")) Expected("'object'");
        TFormObject o;
        o.Line = T.Line;
        Advance();
        String first = ExpectIdent("component name or class name");
        if (IsChar(':')) {
            Advance();
            o.Name = first;
            o.ClassName = ExpectIdent("class name");
        } else {
            o.ClassName = first;
        }
        while (T.Kind == tIdent && !IsKeyword("end") && !IsKeyword("object") && !IsKeyword("inherited") &&
               !IsKeyword("inline"))
            o.Props.push_back(Property());
        while (!IsKeyword("end")) {
            if (T.Kind == tIdent && (IsKeyword("object") || IsKeyword("inherited") || IsKeyword("inline"))) {
                o.Children.push_back(Object());
            } else {
                Expected(o.Children.empty() ? "property name, 'object' or 'end'" : "'object' or 'end'");
            }
        }
        Advance();
        --Depth;
        return o;
    }

    TFormProperty Property() {
        TFormProperty p;
        p.Line = T.Line;
        p.Name = ExpectIdent("property name");
        while (IsChar('.')) {
            Advance();
            p.Name += '.';
            p.Name += ExpectIdent("property name after '.'");
        }
        ExpectChar('=');
        p.Value = Value();
        return p;
    }

    TFormValue Value() {
        TFormValue v;
        v.Line = T.Line;
        switch (T.Kind) {
            case tInteger:
                v.Kind = fvInteger;
                v.Integer = T.Int;
                v.Suffix = T.Suffix;
                Advance();
                return v;
            case tFloat:
                v.Kind = fvFloat;
                v.Float = T.Float;
                v.Suffix = T.Suffix;
                Advance();
                return v;
            case tString:
                v.Kind = fvString;
                v.Pieces = std::move(T.Pieces);
                Advance();
                while (IsChar('+')) {
                    Advance();
                    if (T.Kind != tString) Expected("string after '+'");
                    for (auto& piece : T.Pieces) {
                        if (!piece.IsCode && !v.Pieces.empty() && !v.Pieces.back().IsCode)
                            v.Pieces.back().Text += piece.Text;
                        else
                            v.Pieces.push_back(std::move(piece));
                    }
                    Advance();
                }
                return v;
            case tIdent:
                if (IsKeyword("object") || IsKeyword("end") || IsKeyword("item")) Expected("value");
                v.Kind = fvIdent;
                v.Ident = T.Text;
                Advance();
                while (IsChar('.')) {
                    Advance();
                    v.Ident += '.';
                    v.Ident += ExpectIdent("name after '.'");
                }
                return v;
            case tChar:
                break;
            case tEOF:
                Expected("value");
        }
        switch (T.Ch) {
            case '-':
                Advance();
                if (T.Kind != tIdent || !Rtl::SameText(T.Text, "Inf")) Expected("number after '-'");
                v.Kind = fvIdent;
                v.Ident = "-" + T.Text;
                Advance();
                return v;
            case '[':
                v.Kind = fvSet;
                Advance();
                if (!IsChar(']')) {
                    for (;;) {
                        v.SetItems.push_back(ExpectIdent("set element"));
                        if (IsChar(']')) break;
                        ExpectChar(',');
                    }
                }
                Advance();
                return v;
            case '(':
                Enter();
                v.Kind = fvList;
                Advance();
                while (!IsChar(')')) {
                    if (T.Kind == tEOF) Expected("')'");
                    v.Items.push_back(Value());
                }
                Advance();
                --Depth;
                return v;
            case '<':
                Enter();
                v.Kind = fvCollection;
                Advance();
                while (!IsChar('>')) {
                    if (!IsKeyword("item")) Expected("'item' or '>'");
                    Enter();
                    TFormItem item;
                    item.Line = T.Line;
                    Advance();
                    while (!IsKeyword("end")) {
                        if (T.Kind != tIdent || IsKeyword("item") || IsKeyword("object"))
                            Expected("property name or 'end'");
                        item.Props.push_back(Property());
                    }
                    Advance();
                    --Depth;
                    v.CollItems.push_back(std::move(item));
                }
                Advance();
                --Depth;
                return v;
            case '{':
                v.Kind = fvBinary;
                v.Bytes = L.Binary();
                Advance();
                return v;
            default:
                Expected("value");
        }
    }

    Lexer L;
    Token T;
    int Depth = 0;
};

// ---- Printer -----------------------------------------------------------------------------------

constexpr std::size_t StringChunk = 64;
constexpr std::size_t BytesPerLine = 32;

String Spaces(int n) { return String(static_cast<std::size_t>(n), ' '); }

// Splits a string value into pieces of at most StringChunk characters
// (a code counts one, a UTF-8 sequence counts one).
std::vector<std::vector<TFormStrPiece>> Chunks(const std::vector<TFormStrPiece>& pieces) {
    std::vector<std::vector<TFormStrPiece>> chunks(1);
    std::size_t count = 0;
    auto room = [&] {
        if (count == StringChunk) {
            chunks.emplace_back();
            count = 0;
        }
    };
    for (auto& piece : pieces) {
        if (piece.IsCode) {
            room();
            chunks.back().push_back(piece);
            ++count;
            continue;
        }
        const String& s = piece.Text;
        std::size_t i = 0;
        while (i < s.size()) {
            room();
            TFormStrPiece run;
            while (i < s.size() && count < StringChunk) {
                run.Text += s[i++];
                while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) run.Text += s[i++];
                ++count;
            }
            chunks.back().push_back(std::move(run));
        }
    }
    return chunks;
}

String StringLiteral(const std::vector<TFormStrPiece>& pieces) {
    String out;
    bool open = false;
    for (auto& piece : pieces) {
        if (piece.IsCode) {
            if (open) out += '\'';
            open = false;
            out += '#';
            out += std::to_string(piece.Code);
            continue;
        }
        for (char c : piece.Text) {
            auto u = static_cast<unsigned char>(c);
            if (u < 32 || u == 127) {
                if (open) out += '\'';
                open = false;
                out += '#';
                out += std::to_string(u);
                continue;
            }
            if (!open) out += '\'';
            open = true;
            if (c == '\'') out += "''";
            else out += c;
        }
    }
    if (open) out += '\'';
    if (out.empty()) out = "''";
    return out;
}

String ScalarText(const TFormValue& v) {
    switch (v.Kind) {
        case fvInteger: return std::to_string(v.Integer) + (v.Suffix ? String(1, v.Suffix) : String());
        case fvFloat: return FormatFormFloat(v.Float, v.Suffix);
        case fvIdent: return v.Ident;
        case fvSet: {
            String s = "[";
            for (std::size_t i = 0; i < v.SetItems.size(); ++i) {
                if (i) s += ", ";
                s += v.SetItems[i];
            }
            return s + "]";
        }
        default: return {};
    }
}

void PrintProps(std::vector<String>& out, const std::vector<TFormProperty>& props, int indent);

// head: what precedes the value on its first line (already indented).
// indent: indentation of the lines the value continues on.
void PrintValue(std::vector<String>& out, const TFormValue& v, const String& head, int indent, bool isItem) {
    switch (v.Kind) {
        case fvString: {
            auto chunks = Chunks(v.Pieces);
            if (chunks.size() == 1) {
                out.push_back(head + StringLiteral(chunks[0]));
                return;
            }
            String lead = isItem ? head : Spaces(indent);
            if (!isItem) {
                String h = head;
                while (!h.empty() && h.back() == ' ') h.pop_back();
                out.push_back(h);
            }
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                String line = (i == 0 ? lead : (isItem ? Spaces(indent - 2) : Spaces(indent))) + StringLiteral(chunks[i]);
                if (i + 1 < chunks.size()) line += " +";
                out.push_back(std::move(line));
            }
            return;
        }
        case fvList:
            if (v.Items.empty()) {
                out.push_back(head + "()");
                return;
            }
            out.push_back(head + "(");
            for (auto& item : v.Items) PrintValue(out, item, Spaces(indent), indent + 2, true);
            out.back() += ")";
            return;
        case fvCollection:
            if (v.CollItems.empty()) {
                out.push_back(head + "<>");
                return;
            }
            out.push_back(head + "<");
            for (auto& item : v.CollItems) {
                out.push_back(Spaces(indent) + "item");
                PrintProps(out, item.Props, indent + 2);
                out.push_back(Spaces(indent) + "end");
            }
            out.back() += ">";
            return;
        case fvBinary: {
            if (v.Bytes.empty()) {
                out.push_back(head + "{}");
                return;
            }
            static const char* hex = "0123456789ABCDEF";
            out.push_back(head + "{");
            for (std::size_t i = 0; i < v.Bytes.size(); i += BytesPerLine) {
                String line = Spaces(indent);
                for (std::size_t j = i; j < v.Bytes.size() && j < i + BytesPerLine; ++j) {
                    line += hex[v.Bytes[j] >> 4];
                    line += hex[v.Bytes[j] & 15];
                }
                out.push_back(std::move(line));
            }
            out.back() += "}";
            return;
        }
        default:
            out.push_back(head + ScalarText(v));
    }
}

void PrintProps(std::vector<String>& out, const std::vector<TFormProperty>& props, int indent) {
    for (auto& p : props) PrintValue(out, p.Value, Spaces(indent) + p.Name + " = ", indent + 2, false);
}

void PrintObject(std::vector<String>& out, const TFormObject& o, int indent) {
    out.push_back(Spaces(indent) + "object " + (o.Name.empty() ? String() : o.Name + ": ") + o.ClassName);
    PrintProps(out, o.Props, indent + 2);
    for (auto& child : o.Children) PrintObject(out, child, indent + 2);
    out.push_back(Spaces(indent) + "end");
}

}  // namespace

// ---- Values ------------------------------------------------------------------------------------------

TFormValue TFormValue::MakeInteger(Int64 v, char suffix) {
    TFormValue f;
    f.Kind = fvInteger;
    f.Integer = v;
    f.Suffix = suffix;
    return f;
}

TFormValue TFormValue::MakeFloat(double v, char suffix) {
    TFormValue f;
    f.Kind = fvFloat;
    f.Float = v;
    f.Suffix = suffix;
    return f;
}

TFormValue TFormValue::MakeIdent(String name) {
    TFormValue f;
    f.Kind = fvIdent;
    f.Ident = std::move(name);
    return f;
}

TFormValue TFormValue::MakeString(std::string_view s) {
    TFormValue f;
    f.Kind = fvString;
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            TFormStrPiece code;
            code.IsCode = true;
            code.Code = u;
            f.Pieces.push_back(code);
        } else {
            if (f.Pieces.empty() || f.Pieces.back().IsCode) f.Pieces.emplace_back();
            f.Pieces.back().Text += c;
        }
    }
    return f;
}

TFormValue TFormValue::MakeWideString(std::u16string_view s) {
    TFormValue f;
    f.Kind = fvString;
    auto code = [&](std::uint32_t cp) {
        TFormStrPiece p;
        p.IsCode = true;
        p.Code = cp;
        f.Pieces.push_back(p);
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            code(cp);
            continue;
        }
        if (cp < 32 || cp == 127) {
            code(cp);
            continue;
        }
        if (f.Pieces.empty() || f.Pieces.back().IsCode) f.Pieces.emplace_back();
        Rtl::Utf8Append(f.Pieces.back().Text, cp);
    }
    return f;
}

bool FormStringNeedsWide(const TFormValue& Value) noexcept {
    for (auto& p : Value.Pieces)
        if (p.IsCode && p.Code >= 0xD800 && p.Code <= 0xDFFF) return true;
    return false;
}

bool FormStringToString(const TFormValue& Value, String& Out, String& Error) {
    Out.clear();
    for (auto& p : Value.Pieces) {
        if (!p.IsCode) {
            Out += p.Text;
        } else if (p.Code >= 0xD800 && p.Code <= 0xDFFF) {
            Error = "character #" + std::to_string(p.Code) + " (a lone surrogate) cannot be held by a String";
            return false;
        } else {
            Rtl::Utf8Append(Out, p.Code);
        }
    }
    return true;
}

bool FormStringToWide(const TFormValue& Value, WideString& Out, String& Error) {
    Out.clear();
    for (auto& p : Value.Pieces) {
        if (!p.IsCode) {
            if (!Rtl::IsValidUtf8(p.Text)) {
                Error = "text that is not valid UTF-8 cannot be held by a WideString";
                return false;
            }
            Out += Rtl::Utf8ToWide(p.Text);
        } else if (p.Code < 0x10000) {
            Out += static_cast<char16_t>(p.Code);
        } else {
            std::uint32_t c = p.Code - 0x10000;
            Out += static_cast<char16_t>(0xD800 + (c >> 10));
            Out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        }
    }
    return true;
}

String FormatFormFloat(double v, char suffix) {
    String s;
    if (std::isnan(v)) {
        s = "NaN";
    } else if (std::isinf(v)) {
        s = v < 0 ? "-Inf" : "Inf";
    } else {
        char buf[64];
        std::to_chars_result r = suffix == 's' ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                                               : std::to_chars(buf, buf + sizeof buf, v);
        s.assign(buf, r.ptr);
        if (s.find_first_of(".e") == String::npos) s += ".0";
    }
    if (suffix && std::isfinite(v)) s += suffix;
    return s;
}

TFormObject ParseFormText(std::string_view Text) { return Parser(Text).File(); }

String PrintFormText(const TFormObject& Object) {
    std::vector<String> lines;
    PrintObject(lines, Object, 0);
    String out;
    for (auto& l : lines) {
        out += l;
        out += '\n';
    }
    return out;
}

}  // namespace Vcl
