// TParams::ParseSQL: markers, literals, "::", delimiters and multi-byte text.

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "Velora/Adods/Params.h"

using namespace Velora;
using Rtl::String;

namespace {

std::vector<String> Names(const TParams& params) {
    std::vector<String> names;
    for (int i = 0; i < params.GetCount(); ++i)
        names.push_back(static_cast<TParam*>(params.TCollection::GetItem(i))->GetName());
    return names;
}

struct ParseCase {
    const char* Label;
    String Sql;
    String Result;
    std::vector<String> Names;
};

class ParseSqlCases : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseSqlCases, RewritesTextAndCreatesOneItemPerMarker) {
    const ParseCase& c = GetParam();
    TParams params;
    EXPECT_EQ(params.ParseSQL(c.Sql, true), c.Result);
    EXPECT_EQ(Names(params), c.Names);
}

const ParseCase kCases[] = {
    {"two markers", "select * from T where A = :A and B = :b", "select * from T where A = ? and B = ?", {"A", "b"}},
    {"no markers", "select 1", "select 1", {}},
    {"empty text", "", "", {}},
    {"colon inside a literal", "where X = ':A'", "where X = ':A'", {}},
    {"double colon inside a literal", "where X = '::'", "where X = '::'", {}},
    {"double colon outside", "a::b", "a:b", {}},
    {"cast syntax", "select x::int from t", "select x:int from t", {}},
    {"quoted name", ":'Order Date'", "?", {"Order Date"}},
    {"quoted name then text", "where d = :\"Order Date\" and 1", "where d = ? and 1", {"Order Date"}},
    {"quote inside a name is kept", ":a'x y'", "?", {"a'x y'"}},
    {"colon then blank", "a = : b", "a = ? b", {""}},
    {"colon at the end", "a = :", "a = ?", {""}},
    {"tab does not end a name", "x = :A\tB y", "x = ? y", {"A\tB"}},
    {"same name twice", "a = :id or b = :id", "a = ? or b = ?", {"id", "id"}},
    {"comma, semicolon, parenthesis", "f(:a,:b);:c", "f(?,?);?", {"a", "b", "c"}},
    {"line ends", ":a\r\n:b\n", "?\r\n?\n", {"a", "b"}},
    {"quotes of different kinds toggle one flag", "'a\" :x", "'a\" ?", {"x"}},
    {"back quote opens a literal", "`:x` :y", "`:x` ?", {"y"}},
    {"lone quote leaves the rest literal", "it's :x", "it's :x", {}},
    {"single quote name", ":'", "?", {""}},
    {"two quotes name", ":''", "?", {""}},
    {"marker right after a double colon", "a:::b", "a:?", {"b"}},
    {"utf-8 name", "x = :Größe and y", "x = ? and y", {"Größe"}},
    {"utf-8 text around markers", "'ä:' = :ü", "'ä:' = ?", {"ü"}},
    {"embedded NUL ends a name but keeps the rest", String("a=:p\0:q", 7), String("a=?\0?", 5), {"p", "q"}},
};

INSTANTIATE_TEST_SUITE_P(ParseSql, ParseSqlCases, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) {
                             String name;
                             for (char ch : String(info.param.Label)) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST(ParseSql, WithoutCreateLeavesTheCollectionAlone) {
    TParams params;
    params.CreateParam(Db::ftInteger, "keep", Db::ptInput);
    EXPECT_EQ(params.ParseSQL("select :a, :b", false), "select ?, ?");
    EXPECT_EQ(Names(params), std::vector<String>{"keep"});
}

TEST(ParseSql, WithCreateReplacesEarlierItems) {
    TParams params;
    params.CreateParam(Db::ftInteger, "old", Db::ptInput);
    params.ParseSQL(":new", true);
    EXPECT_EQ(Names(params), std::vector<String>{"new"});
    TParam* p = params.ParamByName("new");
    EXPECT_EQ(p->GetDataType(), Db::ftUnknown);
    EXPECT_EQ(p->GetParamType(), Db::ptUnknown);
    EXPECT_TRUE(p->IsNull());
}

TEST(ParseSql, LeavesTheCallersTextUnchanged) {
    TParams params;
    const String sql = "a = :x";
    String copy = sql;
    params.ParseSQL(copy, true);
    EXPECT_EQ(copy, sql);
}

TEST(ParseSql, ParsedDuplicatesShareOneValue) {
    TParams params;
    params.ParseSQL("a = :id or b = :ID", true);
    TParam* second = static_cast<TParam*>(params.TCollection::GetItem(1));
    second->SetAsInteger(7);
    EXPECT_EQ(params.Items(0)->GetValue().ToInteger(), 7);
    EXPECT_EQ(params.Items(1), params.Items(0));
}

TEST(ParseSql, DamagedUtf8NeverHidesAQuoteOrTheEnd) {
    // A lead byte followed by a quote or by the end: the quote is still seen
    // and nothing runs past the text.
    TParams params;
    EXPECT_EQ(params.ParseSQL("\xC3':x' :y", true), "\xC3':x' ?");
    EXPECT_EQ(Names(params), std::vector<String>{"y"});
    EXPECT_EQ(params.ParseSQL(":n\xE2", true), "?");
    EXPECT_EQ(Names(params), std::vector<String>{"n\xE2"});
}

}  // namespace
