// Schema rowsets (OpenSchema) on both providers over one small database:
// the rows each rowset gives, restrictions, the OLE DB column sets and the
// errors for schemas the engine does not answer.
#include "ProviderTestSupport.h"
#include "Platform/data-engine/schema/SchemaRowsets.h"

using namespace Velora;
using namespace DataEngine;
using EngineTest::ErrorOf;
using EngineTest::Exec;
using Rtl::Variant;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

struct TRowsetCase {
    const char* Name;
    SchemaEnum Schema;
    std::vector<Variant> Restrictions;  // "$schema" stands for the test's schema (Null on SQLite)
    std::vector<std::string> Columns;    // shown in this order
    const char* Sqlite;                  // rows as "a,b;c,d"
    const char* Postgres;                // nullptr: the same as Sqlite
};

const Variant Any;
const Variant Here("$schema");

const TRowsetCase Cases[] = {
    {"TablesOfOneType", adSchemaTables, {Any, Here, Any, Variant("TABLE")}, {"TABLE_NAME", "TABLE_TYPE"},
     "customers,TABLE;orders,TABLE", nullptr},
    {"ViewsAreTablesToo", adSchemaTables, {Any, Here, Variant("big_orders")}, {"TABLE_TYPE"}, "VIEW", nullptr},
    {"Columns", adSchemaColumns, {Any, Here, Variant("customers")},
     {"COLUMN_NAME", "ORDINAL_POSITION", "IS_NULLABLE", "COLUMN_HASDEFAULT", "CHARACTER_MAXIMUM_LENGTH",
      "NUMERIC_PRECISION", "NUMERIC_SCALE"},
     "id,1,False,False,null,19,null;name,2,False,False,40,null,null;credit,3,True,True,null,9,2",
     "id,1,False,False,null,10,null;name,2,False,False,40,null,null;credit,3,True,True,null,9,2"},
    {"ColumnTypes", adSchemaColumns, {Any, Here, Variant("orders")}, {"COLUMN_NAME", "DATA_TYPE"},
     "id,20;customer_id,20;placed,133;qty,3", "id,3;customer_id,3;placed,133;qty,3"},
    {"OneColumn", adSchemaColumns, {Any, Here, Variant("orders"), Variant("placed")}, {"COLUMN_NAME"}, "placed",
     nullptr},
    {"PrimaryKeys", adSchemaPrimaryKeys, {Any, Here, Variant("customers")}, {"COLUMN_NAME", "ORDINAL", "PK_NAME"},
     "id,1,customers_pkey", nullptr},
    {"ForeignKeys", adSchemaForeignKeys, {Any, Here, Variant("customers")},
     {"PK_COLUMN_NAME", "FK_TABLE_NAME", "FK_COLUMN_NAME", "ORDINAL", "UPDATE_RULE", "DELETE_RULE", "PK_NAME"},
     "id,orders,customer_id,1,NO ACTION,CASCADE,customers_pkey", nullptr},
    {"Indexes", adSchemaIndexes, {Any, Here, Variant("ix_orders_placed")},
     {"TABLE_NAME", "COLUMN_NAME", "UNIQUE", "PRIMARY_KEY", "COLLATION", "ORDINAL_POSITION"},
     "orders,placed,False,False,2,1", nullptr},
    {"UniqueIndexOfAConstraint", adSchemaIndexes, {Any, Here, Any, Any, Variant("customers")},
     {"COLUMN_NAME", "UNIQUE", "PRIMARY_KEY"}, "name,True,False", "name,True,False;id,True,True"},
    {"TableConstraints", adSchemaTableConstraints, {Any, Any, Any, Any, Here, Variant("orders")},
     {"CONSTRAINT_TYPE", "CONSTRAINT_NAME"},
     "FOREIGN KEY,orders_fk1;PRIMARY KEY,orders_pkey;CHECK,qty_positive",
     "FOREIGN KEY,orders_customer_id_fkey;PRIMARY KEY,orders_pkey;CHECK,qty_positive"},
    {"CheckConstraints", adSchemaCheckConstraints, {Any, Here, Variant("qty_positive")}, {"CHECK_CLAUSE"}, "qty > 0",
     "(qty > 0)"},
    {"KeyColumnUsage", adSchemaKeyColumnUsage, {Any, Any, Any, Any, Here, Variant("customers")},
     {"CONSTRAINT_NAME", "COLUMN_NAME", "ORDINAL_POSITION"}, "customers_pkey,id,1;sqlite_autoindex_customers_1,name,1",
     "customers_name_key,name,1;customers_pkey,id,1"},
    {"ReferentialConstraints", adSchemaReferentialConstraints, {Any, Here}, {"UNIQUE_CONSTRAINT_NAME", "MATCH_OPTION", "DELETE_RULE"},
     "customers_pkey,NONE,CASCADE", nullptr},
    {"ConstraintColumnUsage", adSchemaConstraintColumnUsage, {Any, Here, Variant("customers"), Variant("credit")},
     {"CONSTRAINT_NAME"}, "customers_check1", "customers_credit_check"},
    {"ConstraintTableUsage", adSchemaConstraintTableUsage, {Any, Here, Variant("customers")}, {"CONSTRAINT_NAME"},
     "customers_check1;customers_pkey;orders_fk1;sqlite_autoindex_customers_1",
     "customers_credit_check;customers_name_key;customers_pkey;orders_customer_id_fkey"},
    {"Views", adSchemaViews, {Any, Here}, {"TABLE_NAME", "CHECK_OPTION", "IS_UPDATABLE"}, "big_orders,False,False",
     "big_orders,False,True"},
    {"ViewColumnUsage", adSchemaViewColumnUsage, {Any, Here, Variant("big_orders")}, {"TABLE_NAME", "COLUMN_NAME"},
     "orders,id;orders,qty", nullptr},
    {"ViewTableUsage", adSchemaViewTableUsage, {Any, Here}, {"VIEW_NAME", "TABLE_NAME"}, "big_orders,orders", nullptr},
    {"Statistics", adSchemaStatistics, {Any, Here, Variant("customers")}, {"CARDINALITY"}, "3", nullptr},
    {"ProviderTypesBestMatch", adSchemaProviderTypes, {Variant(static_cast<int>(adInteger)), Variant(true)},
     {"TYPE_NAME", "DATA_TYPE"}, "INT,3", "integer,3"},
    {"TablePrivileges", adSchemaTablePrivileges, {Any, Here, Variant("customers")}, {"PRIVILEGE_TYPE"},
     "DELETE;INSERT;REFERENCES;SELECT;UPDATE", nullptr},
    {"DBInfoLiterals", adSchemaDBInfoLiterals, {}, {"LiteralName", "LiteralValue"}, nullptr, nullptr},
};

class SchemaRowsets : public EngineTest::ProviderTest {
protected:
    void SetUp() override {
        ProviderTest::SetUp();
        if (IsSkipped()) return;
        S = Target().Open();
        Exec(*S,
             "CREATE TABLE customers(id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL UNIQUE, "
             "credit NUMERIC(9,2) DEFAULT 0 CHECK (credit >= 0));"
             "CREATE TABLE orders(id INTEGER PRIMARY KEY, "
             "customer_id INTEGER NOT NULL REFERENCES customers(id) ON DELETE CASCADE, placed DATE, qty INT, "
             "CONSTRAINT qty_positive CHECK (qty > 0));"
             "CREATE INDEX ix_orders_placed ON orders(placed DESC);"
             "CREATE VIEW big_orders AS SELECT id, qty FROM orders WHERE qty > 10;"
             "INSERT INTO customers(id, name) VALUES (1, 'a'), (2, 'b'), (3, 'c');"
             "ANALYZE");
        if (IsPostgres()) SchemaName = EngineTest::Scalar(*S, "SELECT current_schema()").ToString();
    }

    std::string Rows(SchemaEnum schema, std::vector<Variant> restrictions, const std::vector<std::string>& columns) {
        for (auto& r : restrictions)
            if (!r.IsEmpty() && !r.IsNull() && Rtl::VarIsStr(r) && r.ToString() == "$schema") r = IsPostgres() ? Variant(SchemaName) : Variant();
        auto r = S->OpenSchema(schema, restrictions);
        std::vector<std::size_t> idx;
        for (const auto& name : columns) {
            bool found = false;
            for (std::size_t i = 0; i < r->GetColumns().size(); ++i)
                if (r->GetColumns()[i].Name == name) {
                    idx.push_back(i);
                    found = true;
                }
            EXPECT_TRUE(found) << "no column " << name;
        }
        std::vector<std::string> rows;
        TRowBuffer row;
        while (r->Fetch(row)) {
            std::string line;
            for (std::size_t k = 0; k < idx.size(); ++k) {
                const auto i = idx[k];
                if (k) line += ',';
                line += row[i].Null ? "null" : Rtl::VarToStr(CellToVariant(r->GetColumns()[i], r->GetKinds()[i], row[i]));
            }
            rows.push_back(line);
        }
        std::string out;
        for (const auto& line : rows) out += (out.empty() ? "" : ";") + line;
        return out;
    }

    std::unique_ptr<TSession> S;
    std::string SchemaName;
};

TEST_P(SchemaRowsets, EachRowsetGivesTheDatabasesObjects) {
    for (const auto& c : Cases) {
        if (!c.Sqlite) continue;
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Rows(c.Schema, c.Restrictions, c.Columns), IsPostgres() && c.Postgres ? c.Postgres : c.Sqlite);
    }
}

TEST_P(SchemaRowsets, EveryRowsetHasItsOleDbColumnsAndSortOrder) {
    const SchemaEnum all[] = {adSchemaCatalogs, adSchemaSchemata, adSchemaTables, adSchemaColumns, adSchemaIndexes,
                              adSchemaPrimaryKeys, adSchemaForeignKeys, adSchemaProcedures,
                              adSchemaProcedureParameters, adSchemaProcedureColumns, adSchemaViews,
                              adSchemaViewColumnUsage, adSchemaViewTableUsage, adSchemaTableConstraints,
                              adSchemaCheckConstraints, adSchemaKeyColumnUsage, adSchemaReferentialConstraints,
                              adSchemaConstraintColumnUsage, adSchemaConstraintTableUsage, adSchemaProviderTypes,
                              adSchemaStatistics, adSchemaTablePrivileges, adSchemaColumnPrivileges,
                              adSchemaDBInfoLiterals, adSchemaDBInfoKeywords};
    for (SchemaEnum schema : all) {
        const Schema::TSchemaDef* def = Schema::FindSchemaDef(schema);
        ASSERT_NE(def, nullptr);
        SCOPED_TRACE(def->Name);
        std::unique_ptr<TResultStream> r;
        ASSERT_NO_THROW(r = S->OpenSchema(schema, {}));
        ASSERT_EQ(r->GetColumns().size(), def->Columns.size());
        for (std::size_t i = 0; i < def->Columns.size(); ++i) {
            EXPECT_EQ(r->GetColumns()[i].Name, def->Columns[i].Name);
            EXPECT_EQ(r->GetColumns()[i].Type, def->Columns[i].Type);
        }
        // Rows come in the default order.
        std::vector<std::vector<Variant>> rows;
        TRowBuffer row;
        while (r->Fetch(row)) {
            std::vector<Variant> key;
            for (int c : def->SortColumns)
                key.push_back(CellToVariant(r->GetColumns()[static_cast<std::size_t>(c)],
                                            r->GetKinds()[static_cast<std::size_t>(c)], row[static_cast<std::size_t>(c)]));
            rows.push_back(key);
        }
        for (std::size_t k = 1; k < rows.size(); ++k) {
            bool ordered = true;
            for (std::size_t c = 0; c < rows[k].size(); ++c) {
                const Variant &a = rows[k - 1][c], &b = rows[k][c];
                if (a.IsNull() != b.IsNull()) {
                    ordered = a.IsNull();
                    break;
                }
                if (a.IsNull()) continue;
                const std::string x = Rtl::VarToStr(a), y = Rtl::VarToStr(b);
                const auto rel = Rtl::VarIsStr(a) ? (x < y ? -1 : x > y ? 1 : 0)
                                                  : (Rtl::VarCompareValue(a, b) == Rtl::vrLessThan    ? -1
                                                     : Rtl::VarCompareValue(a, b) == Rtl::vrGreaterThan ? 1
                                                                                                         : 0);
                if (rel != 0) {
                    ordered = rel < 0;
                    break;
                }
            }
            EXPECT_TRUE(ordered) << "row " << k << " is out of order";
        }
    }
}

TEST_P(SchemaRowsets, LiteralsAndKeywordsDescribeTheSqlDialect) {
    EXPECT_TRUE(Contains(Rows(adSchemaDBInfoLiterals, {}, {"LiteralName", "LiteralValue"}),
                         "DBLITERAL_LIKE_PERCENT,%;DBLITERAL_LIKE_UNDERSCORE,_"));
    EXPECT_TRUE(Contains(Rows(adSchemaDBInfoLiterals, {}, {"LiteralName", "LiteralValue"}), "DBLITERAL_QUOTE_PREFIX,\""));
    EXPECT_TRUE(Contains(";" + Rows(adSchemaDBInfoKeywords, {}, {"Keyword"}) + ";", ";SELECT;"));
}

TEST_P(SchemaRowsets, UnsupportedSchemasAndBadRestrictionsAreRefusedClearly) {
    try {
        S->OpenSchema(adSchemaAsserts, {});
        FAIL();
    } catch (const EEngineError& e) {
        EXPECT_EQ(e.GetNumber(), AdoErrorHResult(adErrFeatureNotAvailable));
        EXPECT_TRUE(Contains(e.Message(), "Schema rowset ASSERTIONS (0) is not supported by the " + GetParam() +
                                              " provider"))
            << e.Message();
    }
    EXPECT_TRUE(Contains(ErrorOf([&] { S->OpenSchema(adSchemaCubes, {}); }), "CUBES (32)"));
    const std::string msg = ErrorOf([&] {
        S->OpenSchema(adSchemaCatalogs, {Variant(), Variant("extra")});
    });
    EXPECT_TRUE(Contains(msg, "CATALOGS takes 1 restrictions; restriction 2 ('extra') is one too many")) << msg;
    // Empty and Null restrict nothing; a restriction nothing meets gives no rows.
    EXPECT_EQ(Rows(adSchemaTables, {Variant::Null(), Variant(), Variant("no_such_table")}, {"TABLE_NAME"}), "");
}

VELORA_PROVIDER_SUITE(SchemaRowsets);

// ---- What only one provider has ----------------------------------------------------------------

TEST(SqliteSchemaRowsets, DatabasesAreCatalogsAndThereAreNoSchemasOrProcedures) {
    EngineTest::TTempDir dir;
    auto s = EngineTest::OpenSqlite(dir.File("main.db"));
    Exec(*s, "ATTACH DATABASE '" + dir.File("other.db") + "' AS other; CREATE TABLE other.t(x)");
    auto names = [&](SchemaEnum schema, std::vector<Variant> r, const char* column) {
        auto rs = s->OpenSchema(schema, r);
        std::string out;
        TRowBuffer row;
        std::size_t i = 0;
        while (i < rs->GetColumns().size() && rs->GetColumns()[i].Name != column) ++i;
        while (rs->Fetch(row)) out += (out.empty() ? "" : ",") + Rtl::VarToStr(CellToVariant(rs->GetColumns()[i], rs->GetKinds()[i], row[i]));
        return out;
    };
    EXPECT_EQ(names(adSchemaCatalogs, {}, "CATALOG_NAME"), "main,other");
    EXPECT_EQ(names(adSchemaTables, {Variant("OTHER"), Variant(), Variant(), Variant("TABLE")}, "TABLE_NAME"),
              "t");  // names compare without regard to case
    EXPECT_EQ(names(adSchemaSchemata, {}, "SCHEMA_NAME"), "");
    EXPECT_EQ(names(adSchemaProcedures, {}, "PROCEDURE_NAME"), "");
}

TEST(SqliteSchemaRowsets, CheckClausesAreFoundInTheTableText) {
    const auto found = Schema::FindSqliteCheckClauses(
        "CREATE TABLE t(a INT CONSTRAINT a_pos CHECK (a > 0) NOT NULL, \"b c\" TEXT CHECK(length(\"b c\") < 5), "
        "d TEXT DEFAULT 'CHECK (x)', -- CHECK (comment)\n CONSTRAINT pair CHECK ((a, 1) <> (0, 1)), CHECK (a < 100))");
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].Name, "a_pos");
    EXPECT_EQ(found[0].Clause, "a > 0");
    EXPECT_EQ(found[0].Column, "a");
    EXPECT_EQ(found[1].Name, "");
    EXPECT_EQ(found[1].Column, "b c");
    EXPECT_EQ(found[2].Name, "pair");
    EXPECT_EQ(found[2].Clause, "(a, 1) <> (0, 1)");
    EXPECT_EQ(found[3].Clause, "a < 100");
    EXPECT_TRUE(Schema::FindSqliteCheckClauses("CREATE TABLE t(a CHECK (a > ").empty());
}

TEST(PgSchemaRowsets, RoutinesTheirParametersAndColumns) {
    VELORA_REQUIRE_PG();
    EngineTest::TPgSchema schema;
    auto s = schema.Open();
    Exec(*s,
         "CREATE FUNCTION area(w numeric, h numeric DEFAULT 1) RETURNS numeric LANGUAGE sql AS 'SELECT w * h';"
         "CREATE FUNCTION squares(n int) RETURNS TABLE(i int, sq bigint) LANGUAGE sql "
         "AS 'SELECT g, g * g FROM generate_series(1, n) g';"
         "CREATE PROCEDURE bump(INOUT c int) LANGUAGE sql AS 'SELECT c + 1';"
         "CREATE FUNCTION pick(x int) RETURNS int LANGUAGE sql AS 'SELECT 1';"
         "CREATE FUNCTION pick(x text) RETURNS int LANGUAGE sql AS 'SELECT 2';");
    auto rows = [&](SchemaEnum schemaEnum, std::vector<Variant> r, std::vector<const char*> columns) {
        auto rs = s->OpenSchema(schemaEnum, r);
        std::string out;
        TRowBuffer row;
        while (rs->Fetch(row)) {
            if (!out.empty()) out += ';';
            for (std::size_t k = 0; k < columns.size(); ++k) {
                std::size_t i = 0;
                while (rs->GetColumns()[i].Name != columns[k]) ++i;
                out += (k ? "," : "") + (row[i].Null ? std::string("null")
                                                     : Rtl::VarToStr(CellToVariant(rs->GetColumns()[i], rs->GetKinds()[i], row[i])));
            }
        }
        return out;
    };
    const Variant here(schema.Name());
    EXPECT_EQ(rows(adSchemaProcedures, {Variant(), here}, {"PROCEDURE_NAME", "PROCEDURE_TYPE"}),
              "area,3;bump,2;pick(integer),3;pick(text),3;squares,3");
    EXPECT_EQ(rows(adSchemaProcedures, {Variant(), here, Variant("pick")}, {"PROCEDURE_NAME"}),
              "pick(integer);pick(text)");
    EXPECT_EQ(rows(adSchemaProcedureParameters, {Variant(), here, Variant("area")},
                   {"PARAMETER_NAME", "ORDINAL_POSITION", "PARAMETER_TYPE", "PARAMETER_HASDEFAULT", "PARAMETER_DEFAULT",
                    "DATA_TYPE", "TYPE_NAME"}),
              "RETURN_VALUE,0,4,False,null,131,numeric;w,1,1,False,null,131,numeric;h,2,1,True,1,131,numeric");
    EXPECT_EQ(rows(adSchemaProcedureParameters, {Variant(), here, Variant("bump")}, {"PARAMETER_NAME", "PARAMETER_TYPE"}),
              "c,2");
    EXPECT_EQ(rows(adSchemaProcedureColumns, {Variant(), here}, {"PROCEDURE_NAME", "COLUMN_NAME", "ORDINAL_POSITION", "DATA_TYPE"}),
              "squares,i,1,3;squares,sq,2,20");
    EXPECT_EQ(rows(adSchemaSchemata, {Variant(), here}, {"SCHEMA_NAME"}), schema.Name());
}

}  // namespace
