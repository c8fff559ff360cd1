// Schema rowsets of the PostgreSQL provider, read from the server's catalog.
//
// The catalog is the connected database (others are listed by CATALOGS
// only); schemas are the server's schemas. Names compare exactly, as the
// server's do. Tables include the system ones (TABLE_TYPE "SYSTEM TABLE" and
// "SYSTEM VIEW"); routines of pg_catalog and information_schema are listed
// only when the schema restriction names them. An overloaded routine shows as
// "name(argument types)", the form that PrepareProcedure takes; its plain
// name still meets a name restriction. Cardinalities are the server's
// estimates (Null before the table was first analyzed).
#include <cstdlib>
#include <map>

#include "Platform/data-engine/providers/postgres/PgProvider.h"
#include "Platform/data-engine/schema/SchemaRowsets.h"

namespace DataEngine::Schema {

using namespace Velora;

namespace {

const char* const Provider = "PostgreSQL";

// Relations of this session: no toast tables, no other sessions' temporary ones.
const char* const Visible =
    " n.nspname NOT LIKE 'pg\\_toast%' AND (c.relpersistence <> 't' OR n.oid = pg_my_temp_schema()) ";
const char* const SystemSchemas = "('pg_catalog', 'information_schema')";

using TRows = std::vector<std::vector<Variant>>;

unsigned Oid(const Variant& v) { return static_cast<unsigned>(v.ToInt64()); }

String Rule(const String& action) {
    if (action == "c") return "CASCADE";
    if (action == "n") return "SET NULL";
    if (action == "d") return "SET DEFAULT";
    return "NO ACTION";  // a (no action) and r (restrict)
}

bool ReadOnly(TSession& s) {
    for (const auto& p : s.GetProperties())
        if (p.Name == "Read-Only Data Source") return p.Value.ToBoolean();
    return false;
}

// Rows of a query whose $1 and $2 are the schema and name restrictions.
TRows Named(TSession& s, TSchemaRowsetBuilder& b, const String& sql, std::size_t schemaRestriction,
            std::size_t nameRestriction) {
    return QueryRows(s, sql, {b.RestrictionParam(schemaRestriction), b.RestrictionParam(nameRestriction)});
}

void Catalogs(TSession& s, TSchemaRowsetBuilder& b) {
    for (auto& r : QueryRows(s, "SELECT d.datname, shobj_description(d.oid, 'pg_database') FROM pg_database d "
                                "WHERE d.datallowconn AND NOT d.datistemplate"))
        b.Add(std::move(r));
}

void Schemata(TSession& s, TSchemaRowsetBuilder& b) {
    for (auto& r : QueryRows(s, "SELECT current_database(), n.nspname, pg_get_userbyid(n.nspowner), NULL, NULL, "
                                "pg_encoding_to_char(d.encoding) FROM pg_namespace n, pg_database d "
                                "WHERE d.datname = current_database() AND n.nspname NOT LIKE 'pg\\_toast%' AND "
                                "(n.nspname NOT LIKE 'pg\\_temp\\_%' OR n.oid = pg_my_temp_schema())"))
        b.Add(std::move(r));
}

void Tables(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = String(
                           "SELECT current_database(), n.nspname, c.relname, "
                           "CASE WHEN n.nspname IN ") +
                       SystemSchemas +
                       " THEN CASE WHEN c.relkind IN ('v', 'm') THEN 'SYSTEM VIEW' ELSE 'SYSTEM TABLE' END "
                       "WHEN c.relpersistence = 't' THEN 'LOCAL TEMPORARY' "
                       "WHEN c.relkind IN ('v', 'm') THEN 'VIEW' WHEN c.relkind = 'f' THEN 'LINK' ELSE 'TABLE' END, "
                       "NULL, obj_description(c.oid, 'pg_class') "
                       "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND" +
                       Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) b.Add(std::move(r));
}

void Columns(TSession& s, TSchemaRowsetBuilder& b) {
    const bool readOnly = ReadOnly(s);
    const String sql =
        String("SELECT current_database(), n.nspname, c.relname, a.attname, "
               "row_number() OVER (PARTITION BY c.oid ORDER BY a.attnum), a.atthasdef, "
               "pg_get_expr(ad.adbin, ad.adrelid), a.attnotnull, "
               "CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE a.atttypid END, "
               "CASE WHEN t.typtype = 'd' AND a.atttypmod < 0 THEN t.typtypmod ELSE a.atttypmod END, "
               "c.relkind IN ('r', 'p', 'v', 'f') AND a.attgenerated = '' AND "
               "pg_column_is_updatable(c.oid, a.attnum, false), "
               "coalesce(a.attnum = ANY (i.indkey::int2[]), false), "
               "coalesce(col_description(c.oid, a.attnum), format_type(a.atttypid, a.atttypmod)) "
               "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid "
               "JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_type t ON t.oid = a.atttypid "
               "LEFT JOIN pg_attrdef ad ON ad.adrelid = a.attrelid AND ad.adnum = a.attnum "
               "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
               "WHERE a.attnum > 0 AND NOT a.attisdropped AND c.relkind IN ('r', 'p', 'v', 'm', 'f') AND") +
        Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) {
        TColumnFacts f;
        f.Catalog = Str(r[0]);
        f.Schema = Str(r[1]);
        f.Table = Str(r[2]);
        f.Column = Str(r[3]);
        f.Ordinal = static_cast<unsigned>(r[4].ToInt64());
        f.HasDefault = r[5].ToBoolean();
        f.Default = Str(r[6]);
        f.Nullable = !r[7].ToBoolean();
        f.Mapped = MapPgType(Oid(r[8]), r[9].ToInteger());
        f.Updatable = r[10].ToBoolean() && !readOnly;
        f.Key = r[11].ToBoolean();
        f.Description = Str(r[12]);
        b.Add(ColumnsRow(f));
    }
}

void Indexes(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql =
        String("SELECT current_database(), n.nspname, c.relname, ic.relname, i.indisprimary, i.indisunique, "
               "i.indisclustered, am.amname, k.ord, a.attname, (i.indoption[(k.ord - 1)::int] & 1) <> 0, "
               "(i.indoption[(k.ord - 1)::int] & 2) <> 0, "
               "CASE WHEN ic.reltuples < 0 THEN NULL ELSE ic.reltuples::bigint END, ic.relpages, "
               "pg_get_expr(i.indpred, i.indrelid), "
               "(SELECT o.option_value::int FROM pg_options_to_table(ic.reloptions) o "
               "WHERE o.option_name = 'fillfactor') "
               "FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid JOIN pg_class c ON c.oid = i.indrelid "
               "JOIN pg_namespace n ON n.oid = c.relnamespace JOIN pg_am am ON am.oid = ic.relam "
               "CROSS JOIN LATERAL unnest(i.indkey::int2[]) WITH ORDINALITY AS k(attnum, ord) "
               "LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum AND k.attnum > 0 "
               "WHERE k.ord <= i.indnkeyatts AND") +
        Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 4)) {
        const String method = Str(r[7]);
        const unsigned short type = method == "btree" ? 1 : method == "hash" ? 2 : 4;
        const bool desc = r[10].ToBoolean(), nullsFirst = r[11].ToBoolean();
        b.Add({r[0], r[1], r[2], r[0], r[1], r[3], r[4], r[5], r[6], Variant(type),
               r[15].IsNull() ? Variant::Null() : Variant(r[15].ToInteger()), Variant::Null(), Variant(0),
               Variant(false), Variant(true), Variant(nullsFirst != desc ? 4 : 2),
               Variant(static_cast<unsigned>(r[8].ToInt64())), r[9], Variant::Null(), Variant::Null(),
               Variant(static_cast<short>(desc ? 2 : 1)),
               r[12].IsNull() ? Variant::Null() : Variant(static_cast<UInt64>(r[12].ToInt64())),
               Variant(r[13].ToInteger()), r[14], Variant(false)});
    }
}

void PrimaryKeys(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT current_database(), n.nspname, c.relname, a.attname, k.ord, con.conname "
                       "FROM pg_constraint con JOIN pg_class c ON c.oid = con.conrelid "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "CROSS JOIN LATERAL unnest(con.conkey) WITH ORDINALITY AS k(attnum, ord) "
                       "JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.attnum "
                       "WHERE con.contype = 'p' AND ($1::text IS NULL OR n.nspname = $1) AND "
                       "($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2))
        b.Add({r[0], r[1], r[2], r[3], Variant::Null(), Variant::Null(), Variant(static_cast<unsigned>(r[4].ToInt64())),
               r[5]});
}

void ForeignKeys(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql =
        "SELECT current_database(), pn.nspname, pt.relname, pa.attname, fn.nspname, ft.relname, fa.attname, k.ord, "
        "c.confupdtype, c.confdeltype, (SELECT u.conname FROM pg_constraint u WHERE u.conindid = c.conindid AND "
        "u.conrelid = c.confrelid AND u.contype IN ('p', 'u') LIMIT 1), c.conname, c.condeferrable, c.condeferred "
        "FROM pg_constraint c JOIN pg_class ft ON ft.oid = c.conrelid "
        "JOIN pg_namespace fn ON fn.oid = ft.relnamespace JOIN pg_class pt ON pt.oid = c.confrelid "
        "JOIN pg_namespace pn ON pn.oid = pt.relnamespace "
        "CROSS JOIN LATERAL unnest(c.conkey, c.confkey) WITH ORDINALITY AS k(fk, pk, ord) "
        "JOIN pg_attribute fa ON fa.attrelid = c.conrelid AND fa.attnum = k.fk "
        "JOIN pg_attribute pa ON pa.attrelid = c.confrelid AND pa.attnum = k.pk "
        "WHERE c.contype = 'f' AND ($1::text IS NULL OR fn.nspname = $1) AND ($2::text IS NULL OR ft.relname = $2)";
    for (auto& r : Named(s, b, sql, 4, 5)) {
        const short deferrability = !r[12].ToBoolean() ? 3 : r[13].ToBoolean() ? 1 : 2;
        b.Add({r[0], r[1], r[2], r[3], Variant::Null(), Variant::Null(), r[0], r[4], r[5], r[6], Variant::Null(),
               Variant::Null(), Variant(static_cast<unsigned>(r[7].ToInt64())), Variant(Rule(Str(r[8]))),
               Variant(Rule(Str(r[9]))), r[10], r[11], Variant(deferrability)});
    }
}

// ---- Routines ----------------------------------------------------------------------------------

struct TArg {
    unsigned Type = 0;
    char Mode = 'i';
    String Name;
    String TypeName;
    String Default;
};

struct TRoutine {
    String Catalog, Schema, Name, DisplayName;
    unsigned Oid = 0;
    char Kind = 'f';
    bool ReturnsSet = false;
    unsigned ReturnType = 0;
    char ReturnTypeType = 'b';
    unsigned ReturnRelation = 0;  // the row type's relation, for composite results
    String ReturnTypeName;
    int InputCount = 0, DefaultCount = 0;
    String Definition, Description;
    std::vector<TArg> Args;

    bool HasOutputs() const {
        for (const auto& a : Args)
            if (a.Mode == 'o' || a.Mode == 'b') return true;
        return false;
    }
    bool HasTableColumns() const {
        for (const auto& a : Args)
            if (a.Mode == 't') return true;
        return false;
    }
    // A single value comes back as the return value (as PrepareProcedure sees it).
    bool ScalarReturn() const {
        return Kind == 'f' && !ReturnsSet && !HasOutputs() && ReturnType != 2278 && ReturnTypeType != 'c' &&
               ReturnType != 2249;
    }
};

// The routines the restrictions on schema (index 1) and name (index 2) allow.
std::vector<TRoutine> ListRoutines(TSession& s, TSchemaRowsetBuilder& b, bool definitions) {
    b.ApplyOwn(2);
    const String sql =
        String("SELECT current_database(), n.nspname, p.proname, p.oid, p.prokind, p.proretset, p.prorettype, "
               "rt.typtype, rt.typrelid, format_type(p.prorettype, NULL), p.pronargs, p.pronargdefaults, ") +
        (definitions ? "pg_get_functiondef(p.oid), " : "NULL, ") +
        "obj_description(p.oid, 'pg_proc'), count(*) OVER (PARTITION BY p.pronamespace, p.proname), "
        "oidvectortypes(p.proargtypes) "
        "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace JOIN pg_type rt ON rt.oid = p.prorettype "
        "WHERE p.prokind IN ('f', 'p') AND (($1::text IS NULL AND n.nspname NOT IN " +
        SystemSchemas + ") OR n.nspname = $1) AND n.nspname NOT LIKE 'pg\\_temp\\_%'";
    std::vector<TRoutine> out;
    std::map<unsigned, std::size_t> byOid;
    for (auto& r : QueryRows(s, sql, {b.RestrictionParam(1)})) {
        TRoutine rt;
        rt.Catalog = Str(r[0]);
        rt.Schema = Str(r[1]);
        rt.Name = Str(r[2]);
        rt.Oid = Oid(r[3]);
        rt.Kind = Str(r[4]).empty() ? 'f' : Str(r[4])[0];
        rt.ReturnsSet = r[5].ToBoolean();
        rt.ReturnType = Oid(r[6]);
        rt.ReturnTypeType = Str(r[7]).empty() ? 'b' : Str(r[7])[0];
        rt.ReturnRelation = Oid(r[8]);
        rt.ReturnTypeName = Str(r[9]);
        rt.InputCount = r[10].ToInteger();
        rt.DefaultCount = r[11].ToInteger();
        rt.Definition = Str(r[12]);
        rt.Description = Str(r[13]);
        rt.DisplayName = r[14].ToInt64() > 1 ? rt.Name + "(" + Str(r[15]) + ")" : rt.Name;
        if (b.Restricted(2) && b.Restriction(2) != rt.Name && b.Restriction(2) != rt.DisplayName) continue;
        byOid[rt.Oid] = out.size();
        out.push_back(std::move(rt));
    }
    if (out.empty()) return out;
    String oids = "{";
    for (const auto& rt : out) oids += (oids.size() > 1 ? "," : "") + std::to_string(rt.Oid);
    oids += "}";
    for (auto& r : QueryRows(s,
                             "SELECT p.oid, a.type, coalesce(p.proargmodes[a.ord], 'i'), coalesce(p.proargnames[a.ord], ''), "
                             "format_type(a.type, NULL), (SELECT ip.parameter_default FROM information_schema.parameters ip "
                             "WHERE ip.specific_schema = n.nspname AND ip.specific_name = p.proname || '_' || p.oid AND "
                             "ip.ordinal_position = a.ord) "
                             "FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace, "
                             "unnest(coalesce(p.proallargtypes, p.proargtypes::oid[])) WITH ORDINALITY AS a(type, ord) "
                             "WHERE p.oid = ANY ($1::oid[]) ORDER BY p.oid, a.ord",
                             {Variant(oids)})) {
        auto it = byOid.find(Oid(r[0]));
        if (it == byOid.end()) continue;
        TArg a;
        a.Type = Oid(r[1]);
        a.Mode = Str(r[2]).empty() ? 'i' : Str(r[2])[0];
        a.Name = Str(r[3]);
        a.TypeName = Str(r[4]);
        a.Default = Str(r[5]);
        out[it->second].Args.push_back(std::move(a));
    }
    return out;
}

void Procedures(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& rt : ListRoutines(s, b, true))
        b.Add({Variant(rt.Catalog), Variant(rt.Schema), Variant(rt.DisplayName),
               Variant(static_cast<short>(rt.Kind == 'p' ? 2 : 3)), TextOrNull(rt.Definition),
               TextOrNull(rt.Description)});
}

void ProcedureParameters(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& rt : ListRoutines(s, b, false)) {
        auto add = [&](const String& name, unsigned short ordinal, unsigned short kind, bool hasDefault,
                       const String& def, unsigned type, const String& typeName) {
            const TTypeFacts t = TypeFactsOf(MapPgType(type, -1));
            b.Add({Variant(rt.Catalog), Variant(rt.Schema), Variant(rt.DisplayName), TextOrNull(name), Variant(ordinal),
                   Variant(kind), Variant(hasDefault), hasDefault ? TextOrNull(def) : Variant::Null(), Variant(true),
                   t.DataType, t.MaxLength, t.OctetLength, t.Precision, t.Scale, Variant::Null(), Variant(typeName),
                   Variant(typeName)});
        };
        if (rt.ScalarReturn()) add("RETURN_VALUE", 0, 4, false, {}, rt.ReturnType, rt.ReturnTypeName);
        unsigned short ordinal = 0;
        int input = 0;
        for (const auto& a : rt.Args) {
            if (a.Mode == 't') continue;
            bool hasDefault = false;
            if (a.Mode != 'o') hasDefault = input++ >= rt.InputCount - rt.DefaultCount;
            const unsigned short kind = a.Mode == 'o' ? 3 : a.Mode == 'b' ? 2 : 1;
            add(a.Name, ++ordinal, kind, hasDefault, a.Default, a.Type, a.TypeName);
        }
    }
}

void ProcedureColumns(TSession& s, TSchemaRowsetBuilder& b) {
    for (const auto& rt : ListRoutines(s, b, false)) {
        struct TCol {
            String Name;
            unsigned Type;
            int Typmod;
        };
        std::vector<TCol> cols;
        if (rt.HasTableColumns()) {
            for (const auto& a : rt.Args)
                if (a.Mode == 't') cols.push_back({a.Name, a.Type, -1});
        } else if (rt.ReturnsSet && rt.HasOutputs()) {
            for (const auto& a : rt.Args)
                if (a.Mode == 'o' || a.Mode == 'b') cols.push_back({a.Name, a.Type, -1});
        } else if (rt.Kind == 'f' && !rt.HasOutputs() && rt.ReturnRelation != 0 &&
                   (rt.ReturnsSet || rt.ReturnTypeType == 'c')) {
            for (auto& r : QueryRows(s,
                                     "SELECT attname, atttypid, atttypmod FROM pg_attribute WHERE attrelid = $1 AND "
                                     "attnum > 0 AND NOT attisdropped ORDER BY attnum",
                                     {Variant(std::to_string(rt.ReturnRelation))}))
                cols.push_back({Str(r[0]), Oid(r[1]), r[2].ToInteger()});
        } else if (rt.Kind == 'f' && rt.ReturnsSet && rt.ReturnType != 2249) {
            cols.push_back({rt.Name, rt.ReturnType, -1});
        }
        unsigned ordinal = 0;
        for (const auto& c : cols) {
            const TTypeFacts t = TypeFactsOf(MapPgType(c.Type, c.Typmod));
            b.Add({Variant(rt.Catalog), Variant(rt.Schema), Variant(rt.DisplayName), TextOrNull(c.Name), Variant::Null(),
                   Variant::Null(), Variant(1u), Variant(++ordinal), Variant(true), t.DataType, Variant::Null(),
                   t.MaxLength, t.OctetLength, t.Precision, t.Scale});
        }
    }
}

// ---- Views and constraints ---------------------------------------------------------------------

void Views(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = String("SELECT current_database(), n.nspname, c.relname, pg_get_viewdef(c.oid), "
                              "coalesce(array_to_string(c.reloptions, ',') LIKE '%check_option%', false), "
                              "c.relkind = 'v' AND (pg_relation_is_updatable(c.oid, false) & 20) = 20, "
                              "obj_description(c.oid, 'pg_class') "
                              "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                              "WHERE c.relkind IN ('v', 'm') AND") +
                       Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) b.Add(std::move(r));
}

void ViewUsage(TSession& s, TSchemaRowsetBuilder& b, bool columns) {
    const String sql = String("SELECT DISTINCT current_database(), n.nspname, c.relname, current_database(), "
                              "tn.nspname, t.relname") +
                       (columns ? ", a.attname" : "") +
                       " FROM pg_rewrite r JOIN pg_class c ON c.oid = r.ev_class "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "JOIN pg_depend d ON d.classid = 'pg_rewrite'::regclass AND d.objid = r.oid AND "
                       "d.refclassid = 'pg_class'::regclass AND d.refobjsubid > 0 "
                       "JOIN pg_class t ON t.oid = d.refobjid JOIN pg_namespace tn ON tn.oid = t.relnamespace "
                       "JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = d.refobjsubid "
                       "WHERE c.relkind IN ('v', 'm') AND t.oid <> c.oid AND" +
                       Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) {
        if (columns) r.insert(r.end(), {Variant::Null(), Variant::Null()});
        b.Add(std::move(r));
    }
}

const char* const ConstraintType =
    "CASE con.contype WHEN 'p' THEN 'PRIMARY KEY' WHEN 'u' THEN 'UNIQUE' WHEN 'f' THEN 'FOREIGN KEY' ELSE 'CHECK' END";

void TableConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = String("SELECT current_database(), cn.nspname, con.conname, current_database(), n.nspname, "
                              "c.relname, ") +
                       ConstraintType +
                       ", con.condeferrable, con.condeferred, obj_description(con.oid, 'pg_constraint') "
                       "FROM pg_constraint con JOIN pg_namespace cn ON cn.oid = con.connamespace "
                       "JOIN pg_class c ON c.oid = con.conrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE con.contype IN ('p', 'u', 'f', 'c') AND ($1::text IS NULL OR n.nspname = $1) AND "
                       "($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 4, 5)) b.Add(std::move(r));
}

void CheckConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT current_database(), cn.nspname, con.conname, pg_get_expr(con.conbin, con.conrelid), "
                       "obj_description(con.oid, 'pg_constraint') "
                       "FROM pg_constraint con JOIN pg_namespace cn ON cn.oid = con.connamespace "
                       "WHERE con.contype = 'c' AND con.conrelid <> 0 AND ($1::text IS NULL OR cn.nspname = $1) AND "
                       "($2::text IS NULL OR con.conname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) b.Add(std::move(r));
}

void KeyColumnUsage(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT current_database(), cn.nspname, con.conname, current_database(), n.nspname, c.relname, "
                       "a.attname, k.ord FROM pg_constraint con "
                       "JOIN pg_namespace cn ON cn.oid = con.connamespace JOIN pg_class c ON c.oid = con.conrelid "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "CROSS JOIN LATERAL unnest(con.conkey) WITH ORDINALITY AS k(attnum, ord) "
                       "JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.attnum "
                       "WHERE con.contype IN ('p', 'u', 'f') AND ($1::text IS NULL OR n.nspname = $1) AND "
                       "($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 4, 5))
        b.Add({r[0], r[1], r[2], r[3], r[4], r[5], r[6], Variant::Null(), Variant::Null(),
               Variant(static_cast<unsigned>(r[7].ToInt64()))});
}

void ReferentialConstraints(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT current_database(), cn.nspname, con.conname, current_database(), un.nspname, "
                       "u.conname, con.confmatchtype, con.confupdtype, con.confdeltype, "
                       "obj_description(con.oid, 'pg_constraint') FROM pg_constraint con "
                       "JOIN pg_namespace cn ON cn.oid = con.connamespace "
                       "LEFT JOIN pg_constraint u ON u.conindid = con.conindid AND u.conrelid = con.confrelid AND "
                       "u.contype IN ('p', 'u') LEFT JOIN pg_namespace un ON un.oid = u.connamespace "
                       "WHERE con.contype = 'f' AND ($1::text IS NULL OR cn.nspname = $1) AND "
                       "($2::text IS NULL OR con.conname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) {
        const String match = Str(r[6]);
        b.Add({r[0], r[1], r[2], r[5].IsNull() ? Variant::Null() : r[3], r[4], r[5],
               Variant(match == "f" ? "FULL" : match == "p" ? "PARTIAL" : "NONE"), Variant(Rule(Str(r[7]))),
               Variant(Rule(Str(r[8]))), r[9]});
    }
}

void ConstraintColumnUsage(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT DISTINCT current_database(), n.nspname, c.relname, a.attname, current_database(), "
                       "cn.nspname, con.conname FROM pg_constraint con "
                       "JOIN pg_namespace cn ON cn.oid = con.connamespace JOIN pg_class c ON c.oid = con.conrelid "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "CROSS JOIN LATERAL unnest(con.conkey) AS k(attnum) "
                       "JOIN pg_attribute a ON a.attrelid = con.conrelid AND a.attnum = k.attnum "
                       "WHERE con.contype IN ('p', 'u', 'f', 'c') AND ($1::text IS NULL OR n.nspname = $1) AND "
                       "($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2))
        b.Add({r[0], r[1], r[2], r[3], Variant::Null(), Variant::Null(), r[4], r[5], r[6]});
}

void ConstraintTableUsage(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT DISTINCT current_database(), n.nspname, c.relname, current_database(), cn.nspname, "
                       "con.conname FROM pg_constraint con "
                       "JOIN pg_namespace cn ON cn.oid = con.connamespace "
                       "JOIN pg_class c ON c.oid = con.conrelid OR (con.contype = 'f' AND c.oid = con.confrelid) "
                       "JOIN pg_namespace n ON n.oid = c.relnamespace "
                       "WHERE con.contype IN ('p', 'u', 'f', 'c') AND ($1::text IS NULL OR n.nspname = $1) AND "
                       "($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) b.Add(std::move(r));
}

void ProviderTypes(TSchemaRowsetBuilder& b) {
    const unsigned maxText = 1073741823;
    AddProviderTypes(b, {
                            {"boolean", adBoolean, 1, nullptr, nullptr, nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"smallint", adSmallInt, 5, nullptr, nullptr, nullptr, false, 3, false, false, false, 0, 0, false, true, true},
                            {"integer", adInteger, 10, nullptr, nullptr, nullptr, false, 3, false, false, false, 0, 0, false, true, true},
                            {"bigint", adBigInt, 19, nullptr, nullptr, nullptr, false, 3, false, false, false, 0, 0, false, true, true},
                            {"oid", adUnsignedInt, 10, nullptr, nullptr, nullptr, false, 3, true, false, false, 0, 0, false, true, true},
                            {"real", adSingle, 7, nullptr, nullptr, nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"double precision", adDouble, 15, nullptr, nullptr, nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"numeric", adNumeric, 29, nullptr, nullptr, "precision,scale", false, 3, false, false, false, 0, 28, false, true, true},
                            {"date", adDBDate, 10, "'", "'::date", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"time", adDBTime, 15, "'", "'::time", "precision", false, 3, false, false, false, -1, -1, false, true, true},
                            {"timestamp", adDBTimeStamp, 26, "'", "'::timestamp", "precision", false, 3, false, false, false, -1, -1, false, true, true},
                            {"timestamp with time zone", adDBTimeStamp, 26, "'", "'::timestamptz", "precision", false, 3, false, false, false, -1, -1, false, false, true},
                            {"uuid", adGUID, 36, "'", "'::uuid", nullptr, false, 3, false, false, false, -1, -1, false, true, true},
                            {"character", adWChar, 10485760, "'", "'", "length", true, 4, false, false, false, -1, -1, false, true, true},
                            {"character varying", adVarWChar, 10485760, "'", "'", "max length", true, 4, false, false, false, -1, -1, false, true, false},
                            {"text", adLongVarWChar, maxText, "'", "'", nullptr, true, 4, false, false, false, -1, -1, true, true, false},
                            {"json", adLongVarWChar, maxText, "'", "'::json", nullptr, true, 1, false, false, false, -1, -1, true, false, false},
                            {"jsonb", adLongVarWChar, maxText, "'", "'::jsonb", nullptr, true, 3, false, false, false, -1, -1, true, false, false},
                            {"bytea", adLongVarBinary, maxText, "'\\x", "'::bytea", nullptr, false, 3, false, false, false, -1, -1, true, true, false},
                        });
}

void Statistics(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = String("SELECT current_database(), n.nspname, c.relname, "
                              "CASE WHEN c.reltuples < 0 THEN NULL ELSE c.reltuples::bigint END "
                              "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                              "WHERE c.relkind IN ('r', 'p', 'm') AND") +
                       Visible + "AND ($1::text IS NULL OR n.nspname = $1) AND ($2::text IS NULL OR c.relname = $2)";
    for (auto& r : Named(s, b, sql, 1, 2))
        b.Add({r[0], r[1], r[2], r[3].IsNull() ? Variant::Null() : Variant(static_cast<UInt64>(r[3].ToInt64()))});
}

void TablePrivileges(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT grantor, grantee, table_catalog, table_schema, table_name, privilege_type, "
                       "is_grantable = 'YES' FROM information_schema.table_privileges "
                       "WHERE privilege_type IN ('SELECT', 'INSERT', 'UPDATE', 'DELETE', 'REFERENCES') AND "
                       "($1::text IS NULL OR table_schema = $1) AND ($2::text IS NULL OR table_name = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) b.Add(std::move(r));
}

void ColumnPrivileges(TSession& s, TSchemaRowsetBuilder& b) {
    const String sql = "SELECT grantor, grantee, table_catalog, table_schema, table_name, column_name, NULL, NULL, "
                       "privilege_type, is_grantable = 'YES' FROM information_schema.column_privileges "
                       "WHERE ($1::text IS NULL OR table_schema = $1) AND ($2::text IS NULL OR table_name = $2)";
    for (auto& r : Named(s, b, sql, 1, 2)) {
        r[6] = Variant::Null();
        r[7] = Variant::Null();
        b.Add(std::move(r));
    }
}

void Literals(TSchemaRowsetBuilder& b) {
    AddLiterals(b, {
                       {1, nullptr, nullptr, nullptr, -1},  // BINARY_LITERAL: '\x0102'
                       {2, nullptr, nullptr, nullptr, 63},  // CATALOG_NAME
                       {3, ".", nullptr, nullptr, 1},       // CATALOG_SEPARATOR
                       {4, nullptr, nullptr, nullptr, -1},  // CHAR_LITERAL
                       {5, nullptr, nullptr, nullptr, 63},  // COLUMN_ALIAS
                       {6, nullptr, nullptr, nullptr, 63},  // COLUMN_NAME
                       {7, nullptr, nullptr, nullptr, 63},  // CORRELATION_NAME
                       {8, nullptr, nullptr, nullptr, 63},  // CURSOR_NAME
                       {9, "\\", nullptr, nullptr, 1},      // ESCAPE_PERCENT_PREFIX
                       {10, "\\", nullptr, nullptr, 1},     // ESCAPE_UNDERSCORE_PREFIX
                       {11, nullptr, nullptr, nullptr, 63}, // INDEX_NAME
                       {12, "%", nullptr, nullptr, 1},      // LIKE_PERCENT
                       {13, "_", nullptr, nullptr, 1},      // LIKE_UNDERSCORE
                       {14, nullptr, nullptr, nullptr, 63}, // PROCEDURE_NAME
                       {15, "\"", nullptr, nullptr, 1},     // QUOTE_PREFIX
                       {16, nullptr, nullptr, nullptr, 63}, // SCHEMA_NAME
                       {17, nullptr, nullptr, nullptr, 63}, // TABLE_NAME
                       {18, nullptr, nullptr, nullptr, -1}, // TEXT_COMMAND
                       {19, nullptr, nullptr, nullptr, 63}, // USER_NAME
                       {20, nullptr, nullptr, nullptr, 63}, // VIEW_NAME
                       {27, ".", nullptr, nullptr, 1},      // SCHEMA_SEPARATOR
                       {28, "\"", nullptr, nullptr, 1},     // QUOTE_SUFFIX
                   });
}

void Keywords(TSession& s, TSchemaRowsetBuilder& b) {
    for (auto& r : QueryRows(s, "SELECT upper(word) FROM pg_get_keywords()")) b.Add(std::move(r));
}

}  // namespace

std::unique_ptr<TResultStream> OpenPostgresSchema(TSession& s, SchemaEnum schema,
                                                  const std::vector<Variant>& restrictions) {
    TSchemaRowsetBuilder b(schema, restrictions, true, Provider);
    switch (schema) {
        case adSchemaCatalogs: Catalogs(s, b); break;
        case adSchemaSchemata: Schemata(s, b); break;
        case adSchemaTables: Tables(s, b); break;
        case adSchemaColumns: Columns(s, b); break;
        case adSchemaIndexes: Indexes(s, b); break;
        case adSchemaPrimaryKeys: PrimaryKeys(s, b); break;
        case adSchemaForeignKeys: ForeignKeys(s, b); break;
        case adSchemaProcedures: Procedures(s, b); break;
        case adSchemaProcedureParameters: ProcedureParameters(s, b); break;
        case adSchemaProcedureColumns: ProcedureColumns(s, b); break;
        case adSchemaViews: Views(s, b); break;
        case adSchemaViewColumnUsage: ViewUsage(s, b, true); break;
        case adSchemaViewTableUsage: ViewUsage(s, b, false); break;
        case adSchemaTableConstraints: TableConstraints(s, b); break;
        case adSchemaCheckConstraints: CheckConstraints(s, b); break;
        case adSchemaKeyColumnUsage: KeyColumnUsage(s, b); break;
        case adSchemaReferentialConstraints: ReferentialConstraints(s, b); break;
        case adSchemaConstraintColumnUsage: ConstraintColumnUsage(s, b); break;
        case adSchemaConstraintTableUsage: ConstraintTableUsage(s, b); break;
        case adSchemaProviderTypes: ProviderTypes(b); break;
        case adSchemaStatistics: Statistics(s, b); break;
        case adSchemaTablePrivileges: TablePrivileges(s, b); break;
        case adSchemaColumnPrivileges: ColumnPrivileges(s, b); break;
        case adSchemaDBInfoLiterals: Literals(b); break;
        case adSchemaDBInfoKeywords: Keywords(s, b); break;
        default: RaiseSchemaNotSupported(schema, Provider);
    }
    return b.Finish();
}

}  // namespace DataEngine::Schema
