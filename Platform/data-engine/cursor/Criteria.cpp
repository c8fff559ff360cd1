#include "Platform/data-engine/cursor/Criteria.h"

namespace DataEngine {

using namespace Velora;

namespace {

enum TTokenKind : Byte {
    tkEnd, tkWord, tkName /* [bracketed] */, tkString, tkHash, tkOp, tkLParen, tkRParen
};

struct TToken {
    TTokenKind Kind = tkEnd;
    String Text;          // the word, name, string or hash contents (unescaped), or the operator
    std::size_t Pos = 0;  // offset in the criteria
    std::size_t End = 0;
};

bool IsBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool EndsWord(char c) noexcept {
    return IsBlank(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '=' || c == '\'' || c == '#' ||
           c == '[';
}

class TParser {
public:
    TParser(const TRowStore& store, std::string_view text, const char* what)
        : FStore(store), FText(text), FWhat(what) {
        if (FText.find('\0') != std::string_view::npos) Fail("it holds a NUL character");
        Advance();
    }

    // orExpr := andExpr { OR andExpr }
    std::vector<std::vector<TComparison>> ParseOr(int depth) {
        if (depth > 64) Fail("parentheses are nested too deeply");
        auto groups = ParseAnd(depth);
        while (IsKeyword(FTok, "OR")) {
            Advance();
            auto more = ParseAnd(depth);
            for (auto& g : more) groups.push_back(std::move(g));
        }
        return groups;
    }

    TComparison ParseClause() {
        TComparison c;
        const std::size_t start = FTok.Pos;
        // Field
        if (FTok.Kind == tkEnd) Fail("a field name is missing at the end");
        if (FTok.Kind != tkWord && FTok.Kind != tkName)
            Fail("a field name must come first, not " + Shown(FTok));
        if (FTok.Kind == tkWord && (IsKeyword(FTok, "AND") || IsKeyword(FTok, "OR")))
            Fail("a field name must come first, not " + Shown(FTok));
        const int column = FStore.FindColumn(FTok.Text);
        if (column < 0) Fail("no field named \"" + FTok.Text + "\"");
        c.Column = static_cast<std::size_t>(column);
        const TColumnInfo& info = FStore.GetColumns()[c.Column];
        const TStorageKind kind = FStore.GetKinds()[c.Column];
        const String fieldShown = Shown(FTok);
        Advance();
        // Operator
        if (FTok.Kind == tkOp) {
            const String& o = FTok.Text;
            c.Op = o == "=" ? coEqual : o == "<>" ? coNotEqual : o == "<" ? coLess : o == ">" ? coGreater
                 : o == "<=" ? coLessEqual : coGreaterEqual;
        } else if (IsKeyword(FTok, "LIKE")) {
            c.Op = coLike;
        } else {
            Fail(fieldShown + " must be followed by a comparison operator (=, <>, <, >, <=, >= or LIKE)" +
                 (FTok.Kind == tkEnd ? String() : ", not " + Shown(FTok)));
        }
        const String opShown = Shown(FTok);
        Advance();
        // Value
        if (FTok.Kind == tkEnd || FTok.Kind == tkRParen || FTok.Kind == tkOp || FTok.Kind == tkLParen)
            Fail(opShown + " must be followed by a value" + (FTok.Kind == tkEnd ? String() : ", not " + Shown(FTok)));
        const TToken value = FTok;
        Advance();
        if (value.Kind == tkWord && IsKeyword(value, "NULL")) {
            if (c.Op != coEqual && c.Op != coNotEqual) Fail("Null can only be compared with = or <>");
            c.Value = TProbe::Null(kind);
        } else if (c.Op == coLike) {
            if (value.Kind != tkString && value.Kind != tkHash)
                Fail("LIKE needs a text between quotes, not " + Shown(value));
            if (DomainOf(kind) != vdText)
                Fail("LIKE needs a text field; \"" + info.Name + "\" holds " + DataTypeName(info.Type));
            c.Value = LikePattern(value);
        } else {
            TProbe::TLiteral literal;
            if (value.Kind == tkString) literal = TProbe::ltString;
            else if (value.Kind == tkHash) literal = TProbe::ltHash;
            else if (value.Kind == tkWord && IsKeyword(value, "TRUE")) literal = TProbe::ltTrue;
            else if (value.Kind == tkWord && IsKeyword(value, "FALSE")) literal = TProbe::ltFalse;
            else if (value.Kind == tkWord && LooksNumeric(value.Text)) literal = TProbe::ltNumber;
            else Fail(Shown(value) + " is not a value; texts go between single quotes and dates between # signs");
            try {
                c.Value = TProbe::FromLiteral(info, kind, literal, value.Text);
            } catch (const EEngineError& e) {
                Fail(e.Message());
            }
        }
        c.Text = String(FText.substr(start, value.End - start));
        return c;
    }

    const TToken& Current() const noexcept { return FTok; }
    [[noreturn]] void Fail(const String& why) const {
        throw ECriteriaError(String("Invalid ") + FWhat + " \"" + ClipForMessage(FText) + "\": " + why,
                             AdoErrorHResult(adErrInvalidArgument));
    }
    String Shown(const TToken& t) const {
        if (t.Kind == tkEnd) return "the end";
        return "\"" + ClipForMessage(FText.substr(t.Pos, t.End - t.Pos), 60) + "\"";
    }
    static bool IsKeyword(const TToken& t, std::string_view word) noexcept {
        return t.Kind == tkWord && Rtl::SameText(t.Text, word);
    }
    void Advance() { FTok = Next(); }

private:
    // andExpr := primary { AND primary }; every primary must be one group.
    std::vector<std::vector<TComparison>> ParseAnd(int depth) {
        std::vector<TComparison> group;
        bool first = true;
        for (;;) {
            const std::size_t start = FTok.Pos;
            std::vector<std::vector<TComparison>> part;
            const bool paren = FTok.Kind == tkLParen;
            if (paren) {
                Advance();
                part = ParseOr(depth + 1);
                if (FTok.Kind != tkRParen)
                    Fail("the parenthesis at position " + std::to_string(start + 1) + " is not closed" +
                         (FTok.Kind == tkEnd ? String() : " before " + Shown(FTok)));
                const std::size_t end = FTok.End;
                Advance();
                const bool joined = !first || IsKeyword(FTok, "AND");
                if (part.size() > 1 && joined)
                    Fail("clauses joined by OR inside parentheses cannot be joined to another clause with AND: \"" +
                         ClipForMessage(FText.substr(start, end - start), 80) +
                         "\" (write (a AND c) OR (b AND c) instead of (a OR b) AND c)");
                if (part.size() > 1) return part;  // "(a OR b)" alone, or followed by OR
            } else {
                part.push_back({ParseClause()});
            }
            for (auto& c : part.front()) group.push_back(std::move(c));
            first = false;
            if (!IsKeyword(FTok, "AND")) break;
            Advance();
        }
        std::vector<std::vector<TComparison>> out;
        out.push_back(std::move(group));
        return out;
    }

    TProbe LikePattern(const TToken& value) {
        std::string_view p = value.Text;
        auto isWild = [](char c) { return c == '*' || c == '%'; };
        const bool lead = !p.empty() && isWild(p.front());
        if (lead) p.remove_prefix(1);
        const bool trail = !p.empty() && isWild(p.back());
        if (trail) p.remove_suffix(1);
        for (char ch : p)
            if (isWild(ch))
                Fail("a LIKE pattern may hold * or % only at its end or at both ends, not inside: " + Shown(value));
        if (lead && !trail && !p.empty())
            Fail("a LIKE pattern may not begin with a wildcard unless it also ends with one: " + Shown(value));
        return TProbe::Like(lead ? lmContains : trail ? lmPrefix : lmWhole, p);
    }

    static bool LooksNumeric(std::string_view s) noexcept {
        for (char c : s)
            if (c >= '0' && c <= '9') return s.front() == '$' || s.front() == '-' || s.front() == '+' ||
                                             s.front() == '.' || (s.front() >= '0' && s.front() <= '9');
        return false;
    }

    TToken Next() {
        while (FPos < FText.size() && IsBlank(FText[FPos])) ++FPos;
        TToken t;
        t.Pos = FPos;
        if (FPos >= FText.size()) {
            t.End = FPos;
            return t;
        }
        const char c = FText[FPos];
        if (c == '(' || c == ')') {
            t.Kind = c == '(' ? tkLParen : tkRParen;
            t.Text = String(1, c);
            t.End = ++FPos;
            return t;
        }
        if (c == '<' || c == '>' || c == '=') {
            t.Kind = tkOp;
            t.Text = String(1, c);
            ++FPos;
            if (FPos < FText.size() && ((c == '<' && (FText[FPos] == '>' || FText[FPos] == '=')) ||
                                        (c == '>' && FText[FPos] == '=')))
                t.Text += FText[FPos++];
            t.End = FPos;
            return t;
        }
        if (c == '\'') {
            t.Kind = tkString;
            ++FPos;
            for (;;) {
                if (FPos >= FText.size()) Fail("the text beginning at position " + std::to_string(t.Pos + 1) + " has no closing quote");
                if (FText[FPos] == '\'') {
                    if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
                        t.Text += '\'';
                        FPos += 2;
                        continue;
                    }
                    ++FPos;
                    break;
                }
                t.Text += FText[FPos++];
            }
            t.End = FPos;
            return t;
        }
        if (c == '#') {
            t.Kind = tkHash;
            const std::size_t close = FText.find('#', FPos + 1);
            if (close == std::string_view::npos)
                Fail("the value beginning with # at position " + std::to_string(t.Pos + 1) + " has no closing #");
            t.Text = String(FText.substr(FPos + 1, close - FPos - 1));
            FPos = close + 1;
            t.End = FPos;
            return t;
        }
        if (c == '[') {
            t.Kind = tkName;
            const std::size_t close = FText.find(']', FPos + 1);
            if (close == std::string_view::npos)
                Fail("the name beginning with [ at position " + std::to_string(t.Pos + 1) + " has no closing ]");
            t.Text = String(FText.substr(FPos + 1, close - FPos - 1));
            FPos = close + 1;
            t.End = FPos;
            return t;
        }
        t.Kind = tkWord;
        while (FPos < FText.size() && !EndsWord(FText[FPos])) t.Text += FText[FPos++];
        t.End = FPos;
        return t;
    }

    const TRowStore& FStore;
    std::string_view FText;
    const char* FWhat;
    std::size_t FPos = 0;
    TToken FTok;
};

}  // namespace

bool TComparison::Matches(const TCell& cell) const noexcept {
    if (Value.IsNull()) return (Op == coEqual) == cell.Null;
    if (cell.Null) return false;
    if (Op == coLike) return Value.MatchesLike(cell);
    const int r = Value.Compare(cell);
    switch (Op) {
        case coEqual: return r == 0;
        case coNotEqual: return r != 0;
        case coLess: return r < 0;
        case coGreater: return r > 0;
        case coLessEqual: return r <= 0;
        case coGreaterEqual: return r >= 0;
        case coLike: break;
    }
    return false;
}

bool TComparison::Matches(const TRowStore& store, TRowId row) const { return Matches(store.GetCell(row, Column)); }

TCriteria TCriteria::Parse(const TRowStore& store, std::string_view text) {
    TParser p(store, text, "filter criteria");
    if (p.Current().Kind == tkEnd) p.Fail("it holds no clause");
    TCriteria c;
    c.FGroups = p.ParseOr(0);
    if (p.Current().Kind == tkRParen) p.Fail(p.Shown(p.Current()) + " closes no parenthesis");
    if (p.Current().Kind != tkEnd)
        p.Fail("AND or OR must join the clauses, not " + p.Shown(p.Current()));
    c.FText = String(text);
    return c;
}

TComparison TCriteria::ParseComparison(const TRowStore& store, std::string_view text) {
    TParser p(store, text, "Find criteria");
    if (p.Current().Kind == tkEnd) p.Fail("it holds no comparison");
    if (p.Current().Kind == tkLParen) p.Fail("Find takes one comparison without parentheses");
    TComparison c = p.ParseClause();
    if (TParser::IsKeyword(p.Current(), "AND") || TParser::IsKeyword(p.Current(), "OR"))
        p.Fail("Find takes one comparison; AND and OR cannot join several");
    if (p.Current().Kind != tkEnd) p.Fail("unexpected " + p.Shown(p.Current()) + " after the comparison");
    return c;
}

bool TCriteria::Matches(const TRowStore& store, TRowId row) const {
    for (const auto& group : FGroups) {
        bool all = true;
        for (const auto& c : group)
            if (!c.Matches(store, row)) {
                all = false;
                break;
            }
        if (all) return true;
    }
    return false;
}

}  // namespace DataEngine
