#include <gtest/gtest.h>

#include "Platform/data-engine/ConnectionString.h"

using DataEngine::EConnectionStringError;
using DataEngine::TConnectionString;

namespace {

using TPairs = std::vector<std::pair<std::string, std::string>>;

TPairs ItemsOf(const TConnectionString& cs) {
    TPairs out;
    for (auto& i : cs.Items()) out.emplace_back(i.Key, i.Value);
    return out;
}

struct TParseCase {
    const char* Text;
    TPairs Expected;
};

void PrintTo(const TParseCase& c, std::ostream* os) { *os << '"' << c.Text << '"'; }

class ConnectionStringParse : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ConnectionStringParse, GivesTheItems) {
    const auto& c = GetParam();
    const TConnectionString cs = TConnectionString::Parse(c.Text);
    EXPECT_EQ(ItemsOf(cs), c.Expected) << c.Text;
    // Writing the items back and reading them again gives the same items.
    EXPECT_EQ(ItemsOf(TConnectionString::Parse(cs.ToString())), c.Expected) << cs.ToString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringParse,
    ::testing::Values(
        TParseCase{"", {}},
        TParseCase{" ; ;; ", {}},
        TParseCase{"Provider=SQLite;Data Source=a.db", {{"Provider", "SQLite"}, {"Data Source", "a.db"}}},
        TParseCase{"Provider=SQLite;Data Source=a.db;", {{"Provider", "SQLite"}, {"Data Source", "a.db"}}},
        TParseCase{"  Data Source  =  my file.db  ; Mode = Read ",
                   {{"Data Source", "my file.db"}, {"Mode", "Read"}}},
        TParseCase{"Password='a;b';User ID=x", {{"Password", "a;b"}, {"User ID", "x"}}},
        TParseCase{"Password=\"it's;here\"", {{"Password", "it's;here"}}},
        TParseCase{"Password='it''s'", {{"Password", "it's"}}},
        TParseCase{"Password=\"say \"\"hi\"\"\"", {{"Password", "say \"hi\""}}},
        TParseCase{"Password='  padded  '", {{"Password", "  padded  "}}},
        TParseCase{"Password='';Mode=1", {{"Password", ""}, {"Mode", "1"}}},
        TParseCase{"Key=", {{"Key", ""}}},
        TParseCase{"Key=a=b=c", {{"Key", "a=b=c"}}},
        TParseCase{"Key=don't", {{"Key", "don't"}}},
        TParseCase{"a==b=1", {{"a=b", "1"}}},
        // Repeated keys: the last value wins, in the place of the first; keys ignore case.
        TParseCase{"Mode=1;Data Source=x;MODE=3", {{"Mode", "3"}, {"Data Source", "x"}}},
        // Unknown keys are kept for the provider.
        TParseCase{"Provider=SQLite;Cache Flavour=mint", {{"Provider", "SQLite"}, {"Cache Flavour", "mint"}}},
        TParseCase{"Extended Properties=\"journal_mode=WAL;foreign_keys=ON\"",
                   {{"Extended Properties", "journal_mode=WAL;foreign_keys=ON"}}},
        TParseCase{"Data Source=caf\xC3\xA9.db", {{"Data Source", "caf\xC3\xA9.db"}}}));

struct TBadCase {
    std::string Text;
    const char* MessagePart;  // the offending text the message must name
};

void PrintTo(const TBadCase& c, std::ostream* os) { *os << '"' << c.Text << '"'; }

class ConnectionStringMalformed : public ::testing::TestWithParam<TBadCase> {};

TEST_P(ConnectionStringMalformed, NamesTheOffendingText) {
    const auto& c = GetParam();
    try {
        TConnectionString::Parse(c.Text);
        FAIL() << "accepted: " << c.Text;
    } catch (const EConnectionStringError& e) {
        EXPECT_NE(e.Message().find(c.MessagePart), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("position"), std::string::npos) << e.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectionStringMalformed,
    ::testing::Values(TBadCase{"Provider=SQLite;Data Source", "'Data Source'"},
                      TBadCase{"=value", "'=value'"},
                      TBadCase{"  =value;Mode=1", "'  =value'"},
                      TBadCase{"Password='abc;Mode=1", "without its closing quote"},
                      TBadCase{"Password=\"abc", "'Password=\"abc'"},
                      TBadCase{"Password='abc'def;Mode=1", "text after the closing quote"},
                      TBadCase{std::string("Data Source=a\0b", 15), "NUL"}));

TEST(ConnectionString, LookupAndEdit) {
    TConnectionString cs = TConnectionString::Parse("Provider=SQLite;Data Source=a.db");
    EXPECT_TRUE(cs.Has("data source"));
    EXPECT_EQ(cs.Get("DATA SOURCE"), "a.db");
    EXPECT_EQ(cs.Get("Mode", "none"), "none");
    EXPECT_FALSE(cs.Find("Mode").has_value());

    cs.Set("data source", "b;c.db");  // replaces in place, keeps the first spelling
    cs.Set("Password", " x'y\"z ");
    cs.Set("Weird", "=starts with equals");
    EXPECT_EQ(cs.Items()[1].Key, "Data Source");
    const TConnectionString back = TConnectionString::Parse(cs.ToString());
    EXPECT_EQ(back, cs) << cs.ToString();
    EXPECT_EQ(back.Get("Password"), " x'y\"z ");
    EXPECT_EQ(back.Get("Weird"), "=starts with equals");

    EXPECT_TRUE(cs.Remove("PROVIDER"));
    EXPECT_FALSE(cs.Remove("Provider"));
    EXPECT_EQ(cs.Items().size(), 3u);

    EXPECT_THROW(cs.Set("", "x"), EConnectionStringError);
    EXPECT_THROW(cs.Set("a;b", "x"), EConnectionStringError);
    EXPECT_THROW(cs.Set("k", std::string("a\0b", 3)), EConnectionStringError);
}

}  // namespace
