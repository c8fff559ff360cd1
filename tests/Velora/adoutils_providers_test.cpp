// The provider list: EnumerateOleDbProviders over the engine's OLE DB root
// enumerator, the enumerator's rowset contract, and the listing's rules
// (layout, filter, 256 rows, quiet failures) against a scripted enumerator.
#include <set>

#include "Velora/com/OleDb.h"
#include "tests/Velora/database_fixture.h"

namespace SpineTest {
namespace {

constexpr const char* OleDbModule = "libvelora_oledb.so";
constexpr DBPART AllParts = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;

std::vector<String> Listed(const std::vector<String>& before = {"stale entry"}) {
    Rtl::TStringList list;
    for (const auto& s : before) list.Add(s);
    EnumerateOleDbProviders(&list);
    std::vector<String> r;
    for (int i = 0; i < list.Count(); ++i) r.push_back(list[i]);
    return r;
}

// ---- The engine's root enumerator ------------------------------------------------------------

TEST(ProviderList, ListsTheEnginesProviders) {
    const std::vector<String> names = Listed();
    EXPECT_NE(std::find(names.begin(), names.end(), "SQLite"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "stale entry"), names.end());
    EXPECT_EQ(std::set<String>(names.begin(), names.end()).size(), names.size());
    // Each name is one a connection string can give as its Provider.
    for (const String& name : names) {
        SCOPED_TRACE(name);
        auto connection = CoConnection::Create();
        connection->SetProvider(W(name));
        EXPECT_NO_THROW(connection->GetProperties()->GetCount());
    }
}

// The engine's sources rowset, as IRowset and IAccessor.
class SourcesRowset : public ::testing::Test {
protected:
    void SetUp() override {
        auto sources = Com::CreateComObject<ISourcesRowset>(CLSID_OLEDB_ENUMERATOR);
        Rtl::IUnknown* raw = nullptr;
        ASSERT_EQ(sources->GetSourcesRowset(nullptr, Com::IIDOf<IRowset>(), 0, nullptr, &raw), Com::S_OK);
        Rowset = ComPtr<IRowset>::Attach(static_cast<IRowset*>(raw));
        Accessor = Rowset.As<IAccessor>();
    }
    static DBBINDING Binding(DBORDINAL ordinal, DBTYPE type, DBLENGTH width, DBBYTEOFFSET start = 0) {
        DBBINDING b;
        b.iOrdinal = ordinal;
        b.obStatus = start;
        b.obLength = start + 4;
        b.obValue = start + 8;
        b.dwPart = AllParts;
        b.cbMaxLen = width;
        b.wType = type;
        return b;
    }
    HACCESSOR Make(const DBBINDING& b, DBLENGTH rowSize = 0) {
        HACCESSOR h = DB_NULL_HACCESSOR;
        EXPECT_EQ(Accessor->CreateAccessor(DBACCESSOR_ROWDATA, 1, &b, rowSize, &h, nullptr), Com::S_OK);
        return h;
    }
    // Fetches the row of the source named name (the rowset restarts first).
    HROW RowOf(const String& name) {
        Rowset->RestartPosition(DB_NULL_HCHAPTER);
        const HACCESSOR h = Make(Binding(SOURCES_NAME, DBTYPE_STR, 64));
        HROW found = DB_NULL_HROW;
        for (;;) {
            HROW row = DB_NULL_HROW;
            HROW* rows = &row;
            DBCOUNTITEM n = 0;
            Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &n, &rows);
            if (n == 0) break;
            unsigned char buf[72] = {};
            Rowset->GetData(row, h, buf);
            if (String(reinterpret_cast<char*>(buf + 8)) == name) {
                found = row;
                break;
            }
            Rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
        }
        Accessor->ReleaseAccessor(h, nullptr);
        return found;
    }

    ComPtr<IRowset> Rowset;
    ComPtr<IAccessor> Accessor;
};

std::uint32_t U32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

TEST_F(SourcesRowset, ColumnsConvertToTheBoundTypes) {
    const HROW row = RowOf("SQLite");
    ASSERT_NE(row, DB_NULL_HROW);
    struct TCase {
        DBORDINAL Ordinal;
        DBTYPE Type;
        DBLENGTH Width;
        DBSTATUS Status;
        DBLENGTH Length;
        std::vector<unsigned char> Value;
    };
    const TCase cases[] = {
        {SOURCES_NAME, DBTYPE_STR, 64, DBSTATUS_S_OK, 6, {'S', 'Q', 'L', 'i', 't', 'e', 0}},
        {SOURCES_NAME, DBTYPE_STR, 4, DBSTATUS_S_TRUNCATED, 6, {'S', 'Q', 'L', 0}},
        {SOURCES_NAME, DBTYPE_WSTR, 8, DBSTATUS_S_TRUNCATED, 12, {'S', 0, 'Q', 0, 'L', 0, 0, 0}},
        {SOURCES_PARSENAME, DBTYPE_WSTR, 128, DBSTATUS_S_OK, 12, {'S', 0, 'Q', 0, 'L', 0, 'i', 0, 't', 0, 'e', 0, 0, 0}},
        {SOURCES_TYPE, DBTYPE_UI4, 4, DBSTATUS_S_OK, 4, {1, 0, 0, 0}},
        {SOURCES_TYPE, DBTYPE_UI2, 2, DBSTATUS_S_OK, 2, {1, 0}},
        {SOURCES_TYPE, DBTYPE_STR, 8, DBSTATUS_S_OK, 1, {'1', 0}},
        {SOURCES_ISPARENT, DBTYPE_BOOL, 2, DBSTATUS_S_OK, 2, {0, 0}},
        {SOURCES_CLSID, DBTYPE_WSTR, 80, DBSTATUS_S_ISNULL, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "column " << c.Ordinal << " as type " << c.Type << " in " << c.Width);
        const HACCESSOR h = Make(Binding(c.Ordinal, c.Type, c.Width));
        std::vector<unsigned char> buf(8 + c.Width, 0xEE);
        ASSERT_EQ(Rowset->GetData(row, h, buf.data()), Com::S_OK);
        EXPECT_EQ(U32(buf.data()), c.Status);
        EXPECT_EQ(U32(buf.data() + 4), c.Length);
        EXPECT_EQ(std::vector<unsigned char>(buf.begin() + 8, buf.begin() + 8 + c.Value.size()), c.Value);
        Accessor->ReleaseAccessor(h, nullptr);
    }
    Rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
}

TEST_F(SourcesRowset, BindingsItCannotServeAreRefused) {
    struct TCase {
        const char* What;
        DBBINDING Binding;
        DBLENGTH RowSize;
        DBBINDSTATUS Status;
    };
    auto with = [](DBBINDING b, auto change) {
        change(b);
        return b;
    };
    const DBBINDING name = Binding(SOURCES_NAME, DBTYPE_STR, 64);
    const TCase cases[] = {
        {"ordinal 0", with(name, [](DBBINDING& b) { b.iOrdinal = 0; }), 0, DBBINDSTATUS_BADORDINAL},
        {"ordinal 7", with(name, [](DBBINDING& b) { b.iOrdinal = 7; }), 0, DBBINDSTATUS_BADORDINAL},
        {"no part", with(name, [](DBBINDING& b) { b.dwPart = 0; }), 0, DBBINDSTATUS_BADBINDINFO},
        {"provider-owned", with(name, [](DBBINDING& b) { b.dwMemOwner = DBMEMOWNER_PROVIDEROWNED; }), 0,
         DBBINDSTATUS_BADBINDINFO},
        {"a number from a name", with(name, [](DBBINDING& b) { b.wType = DBTYPE_UI4; }), 0,
         DBBINDSTATUS_UNSUPPORTEDCONVERSION},
        {"by reference", with(name, [](DBBINDING& b) { b.wType = DBTYPE_STR | DBTYPE_BYREF; }), 0,
         DBBINDSTATUS_UNSUPPORTEDCONVERSION},
        {"value past the row", name, 71, DBBINDSTATUS_BADBINDINFO},
        {"status past the row", with(name, [](DBBINDING& b) { b.obStatus = 70; }), 72, DBBINDSTATUS_BADBINDINFO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        // A good binding beside it does not save the accessor.
        const DBBINDING bindings[] = {Binding(SOURCES_TYPE, DBTYPE_UI4, 4), c.Binding};
        DBBINDSTATUS status[2] = {99, 99};
        HACCESSOR h = 123;
        EXPECT_EQ(Accessor->CreateAccessor(DBACCESSOR_ROWDATA, 2, bindings, c.RowSize, &h, status),
                  DB_E_ERRORSOCCURRED);
        EXPECT_EQ(h, DB_NULL_HACCESSOR);
        EXPECT_EQ(status[0], DBBINDSTATUS_OK);
        EXPECT_EQ(status[1], c.Status);
    }
    HACCESSOR h = DB_NULL_HACCESSOR;
    EXPECT_EQ(Accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, 1, &name, 0, &h, nullptr), DB_E_BADACCESSORFLAGS);
    EXPECT_EQ(Accessor->CreateAccessor(DBACCESSOR_ROWDATA | DBACCESSOR_PASSBYREF, 1, &name, 0, &h, nullptr),
              DB_E_BADACCESSORFLAGS);
}

TEST_F(SourcesRowset, RowsAndAccessorsAreCountedHandles) {
    HROW rows[2] = {};
    HROW* p = rows;
    DBCOUNTITEM n = 99;
    HROW* none = nullptr;
    EXPECT_EQ(Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &n, &none), Com::E_INVALIDARG);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, -1, &n, &p), DB_E_CANTFETCHBACKWARDS);
    EXPECT_EQ(Rowset->GetNextRows(DB_NULL_HCHAPTER, -1, 1, &n, &p), DB_E_CANTFETCHBACKWARDS);
    EXPECT_EQ(Rowset->GetNextRows(7, 0, 1, &n, &p), DB_E_BADCHAPTER);
    // Skipping past the end.
    EXPECT_EQ(Rowset->GetNextRows(DB_NULL_HCHAPTER, 100000, 1, &n, &p), DB_S_ENDOFROWSET);
    EXPECT_EQ(n, 0u);
    ASSERT_EQ(Rowset->RestartPosition(DB_NULL_HCHAPTER), Com::S_OK);
    ASSERT_EQ(Rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &n, &p), Com::S_OK);
    ASSERT_EQ(n, 1u);

    const HACCESSOR h = Make(Binding(SOURCES_TYPE, DBTYPE_UI4, 4));
    unsigned char buf[12];
    EXPECT_EQ(Rowset->GetData(rows[0], h, buf), Com::S_OK);
    EXPECT_EQ(Rowset->GetData(rows[0], h + 1000, buf), DB_E_BADACCESSORHANDLE);
    EXPECT_EQ(Rowset->GetData(rows[0] + 1000, h, buf), DB_E_BADROWHANDLE);
    // A second reference keeps the row after one release.
    DBREFCOUNT refs = 0;
    EXPECT_EQ(Rowset->AddRefRows(1, rows, &refs, nullptr), Com::S_OK);
    EXPECT_EQ(refs, 2u);
    EXPECT_EQ(Rowset->ReleaseRows(1, rows, nullptr, &refs, nullptr), Com::S_OK);
    EXPECT_EQ(Rowset->GetData(rows[0], h, buf), Com::S_OK);
    EXPECT_EQ(Rowset->ReleaseRows(1, rows, nullptr, &refs, nullptr), Com::S_OK);
    EXPECT_EQ(refs, 0u);
    EXPECT_EQ(Rowset->GetData(rows[0], h, buf), DB_E_BADROWHANDLE);
    DBROWSTATUS status = 0;
    EXPECT_EQ(Rowset->ReleaseRows(1, rows, nullptr, nullptr, &status), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(status, DBROWSTATUS_E_INVALID);

    std::vector<DBBINDING> bindings;
    DBACCESSORFLAGS flags = 0;
    EXPECT_EQ(Accessor->GetBindings(h, &flags, bindings), Com::S_OK);
    EXPECT_EQ(flags, DBACCESSOR_ROWDATA);
    ASSERT_EQ(bindings.size(), 1u);
    EXPECT_EQ(bindings[0].iOrdinal, SOURCES_TYPE);
    EXPECT_EQ(Accessor->AddRefAccessor(h, &refs), Com::S_OK);
    EXPECT_EQ(Accessor->ReleaseAccessor(h, &refs), Com::S_OK);
    EXPECT_EQ(refs, 1u);
    EXPECT_EQ(Accessor->ReleaseAccessor(h, &refs), Com::S_OK);
    EXPECT_EQ(refs, 0u);
    EXPECT_EQ(Accessor->ReleaseAccessor(h, &refs), DB_E_BADACCESSORHANDLE);
}

TEST(RootEnumerator, RefusesAggregationPropertiesAndUnknownInterfaces) {
    auto sources = Com::CreateComObject<ISourcesRowset>(CLSID_OLEDB_ENUMERATOR);
    Rtl::IUnknown* raw = nullptr;
    EXPECT_EQ(sources->GetSourcesRowset(sources.Get(), Com::IIDOf<IRowset>(), 0, nullptr, &raw), DB_E_NOAGGREGATION);
    EXPECT_EQ(sources->GetSourcesRowset(nullptr, Com::IIDOf<Com::IDispatch>(), 0, nullptr, &raw), Com::E_NOINTERFACE);
    EXPECT_EQ(raw, nullptr);
    DBPROPSET set;
    set.cProperties = 1;
    EXPECT_EQ(sources->GetSourcesRowset(nullptr, Com::IIDOf<IRowset>(), 1, &set, &raw), DB_E_ERRORSOCCURRED);
    EXPECT_EQ(sources->GetSourcesRowset(nullptr, Com::IIDOf<IRowset>(), 1, nullptr, &raw), Com::E_INVALIDARG);
    // An empty property set asks for nothing.
    set.cProperties = 0;
    ASSERT_EQ(sources->GetSourcesRowset(nullptr, Com::IIDOf<IAccessor>(), 1, &set, &raw), Com::S_OK);
    ComPtr<IAccessor>::Attach(static_cast<IAccessor*>(raw));
}

// ---- The listing's rules, against a scripted enumerator ------------------------------------------

struct TScript {
    struct TSource {
        String Name;
        std::uint32_t Type;
    };
    std::vector<TSource> Rows;
    bool FailRowset = false, NoAccessor = false, FailAccessor = false, FailFetch = false;
    std::set<std::size_t> FailData;
    DBCOUNTITEM Overclaim = 0;  // answers this many rows obtained, whatever it gave
    bool NoTerminator = false;  // fills the name's value area to the last byte
    // What the consumer did.
    std::vector<DBBINDING> Bindings;
    DBLENGTH RowSize = 0;
    std::vector<DBROWCOUNT> Fetches;
    int RowsReleased = 0, AccessorsReleased = 0;
};

// Serves Script->Rows with whatever bindings the consumer makes.
class TScriptedEnumerator : public Com::TImplements<Com::TInterfacedObject, ISourcesRowset, IRowset> {
public:
    explicit TScriptedEnumerator(TScript* script) : S(script) {}

    Rtl::HRESULT QueryInterface(const Rtl::IID& iid, void** obj) override {
        if (iid == Com::IIDOf<IAccessor>() && !S->NoAccessor) {
            *obj = static_cast<IAccessor*>(&FAccessor);
            AddRef();
            return Com::S_OK;
        }
        return TImplements::QueryInterface(iid, obj);
    }
    Rtl::HRESULT GetSourcesRowset(Rtl::IUnknown*, const Rtl::IID& riid, std::uint32_t, DBPROPSET[],
                                  Rtl::IUnknown** out) override {
        if (S->FailRowset) return Com::E_FAIL;
        return QueryInterface(riid, reinterpret_cast<void**>(out));
    }
    Rtl::HRESULT AddRefRows(DBCOUNTITEM, const HROW[], DBREFCOUNT[], DBROWSTATUS[]) override { return Com::S_OK; }
    Rtl::HRESULT GetData(HROW hRow, HACCESSOR, void* pData) override {
        if (hRow == 0 || hRow > S->Rows.size() || S->FailData.count(hRow - 1)) return DB_E_ERRORSOCCURRED;
        const auto& src = S->Rows[hRow - 1];
        auto* row = static_cast<unsigned char*>(pData);
        for (const DBBINDING& b : S->Bindings) {
            DBSTATUS status = DBSTATUS_S_OK;
            DBLENGTH length = 0;
            if (b.iOrdinal == SOURCES_NAME) {
                length = static_cast<DBLENGTH>(src.Name.size());
                std::size_t n = std::min<std::size_t>(src.Name.size(), b.cbMaxLen - 1);
                if (n < src.Name.size()) status = DBSTATUS_S_TRUNCATED;
                std::memcpy(row + b.obValue, src.Name.data(), n);
                row[b.obValue + n] = 0;
                if (S->NoTerminator) std::memset(row + b.obValue, 'x', b.cbMaxLen);
            } else if (b.iOrdinal == SOURCES_PARSENAME) {
                row[b.obValue] = row[b.obValue + 1] = 0;
            } else if (b.iOrdinal == SOURCES_TYPE) {
                length = 4;
                std::memcpy(row + b.obValue, &src.Type, 4);
            }
            std::memcpy(row + b.obStatus, &status, 4);
            std::memcpy(row + b.obLength, &length, 4);
        }
        return Com::S_OK;
    }
    Rtl::HRESULT GetNextRows(HCHAPTER, DBROWOFFSET, DBROWCOUNT cRows, DBCOUNTITEM* obtained, HROW** rows) override {
        S->Fetches.push_back(cRows);
        if (S->FailFetch) return Com::E_FAIL;
        const std::size_t n = std::min<std::size_t>(cRows, S->Rows.size() - FNext);
        for (std::size_t i = 0; i < n; ++i) (*rows)[i] = FNext + i + 1;
        FNext += n;
        *obtained = S->Overclaim ? S->Overclaim : static_cast<DBCOUNTITEM>(n);
        return n < static_cast<std::size_t>(cRows) ? DB_S_ENDOFROWSET : Com::S_OK;
    }
    Rtl::HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW[], DBROWOPTIONS[], DBREFCOUNT[], DBROWSTATUS[]) override {
        S->RowsReleased += static_cast<int>(cRows);
        return Com::S_OK;
    }
    Rtl::HRESULT RestartPosition(HCHAPTER) override {
        FNext = 0;
        return Com::S_OK;
    }

private:
    // The accessor lives inside the enumerator and counts on it.
    struct TAccessor : IAccessor {
        explicit TAccessor(TScriptedEnumerator* outer) : Outer(outer) {}
        TScriptedEnumerator* Outer;
        Rtl::HRESULT QueryInterface(const Rtl::IID& iid, void** obj) override { return Outer->QueryInterface(iid, obj); }
        std::uint32_t AddRef() override { return Outer->AddRef(); }
        std::uint32_t Release() override { return Outer->Release(); }
        Rtl::HRESULT AddRefAccessor(HACCESSOR, DBREFCOUNT*) override { return Com::S_OK; }
        Rtl::HRESULT CreateAccessor(DBACCESSORFLAGS, DBCOUNTITEM n, const DBBINDING b[], DBLENGTH rowSize,
                                    HACCESSOR* h, DBBINDSTATUS[]) override {
            if (Outer->S->FailAccessor) return DB_E_ERRORSOCCURRED;
            Outer->S->Bindings.assign(b, b + n);
            Outer->S->RowSize = rowSize;
            *h = 1;
            return Com::S_OK;
        }
        Rtl::HRESULT GetBindings(HACCESSOR, DBACCESSORFLAGS*, std::vector<DBBINDING>&) override {
            return Com::E_NOTIMPL;
        }
        Rtl::HRESULT ReleaseAccessor(HACCESSOR, DBREFCOUNT*) override {
            ++Outer->S->AccessorsReleased;
            return Com::S_OK;
        }
    };
    TScript* S;
    std::size_t FNext = 0;
    TAccessor FAccessor{this};
};

// Replaces the engine's root enumerator by a scripted one for the scope
// (without a script: no root enumerator at all).
struct TScriptedMachine {
    explicit TScriptedMachine(TScript* script) {
        Com::HideComServer(OleDbModule, true);
        if (script)
            Registration = Com::TClassRegistration(
                {CLSID_OLEDB_ENUMERATOR, {}, "scripted root enumerator"},
                Com::MakeComObject<Com::TClassFactory>([script] {
                    return ComPtr<Rtl::IUnknown>(
                        static_cast<ISourcesRowset*>(Com::MakeComObject<TScriptedEnumerator>(script).Get()));
                }));
    }
    ~TScriptedMachine() {
        Registration.Revoke();
        Com::HideComServer(OleDbModule, false);
    }
    Com::TClassRegistration Registration;
};

TEST(ProviderListing, BindsTheStatedLayoutAndKeepsTabularProvidersOnly) {
    TScript script;
    script.Rows = {{"SQLite", DBSOURCETYPE_DATASOURCE},
                   {"MSDASQL Enumerator", DBSOURCETYPE_ENUMERATOR},
                   {"MSDAIPP.BINDER", DBSOURCETYPE_BINDER},
                   {"MSOLAP", DBSOURCETYPE_DATASOURCE_MDP},
                   {"PostgreSQL", DBSOURCETYPE_DATASOURCE}};
    TScriptedMachine machine(&script);
    EXPECT_EQ(Listed(), (std::vector<String>{"SQLite", "PostgreSQL"}));

    ASSERT_EQ(script.Bindings.size(), 3u);
    struct TExpected {
        DBORDINAL Ordinal;
        DBTYPE Type;
        DBLENGTH Width;
        DBBYTEOFFSET Start;
    };
    const TExpected expected[] = {{SOURCES_NAME, DBTYPE_STR, 64, 0},
                                  {SOURCES_PARSENAME, DBTYPE_WSTR, 128, 72},
                                  {SOURCES_TYPE, DBTYPE_UI4, 4, 208}};
    for (int i = 0; i < 3; ++i) {
        const DBBINDING& b = script.Bindings[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.iOrdinal, expected[i].Ordinal);
        EXPECT_EQ(b.wType, expected[i].Type);
        EXPECT_EQ(b.cbMaxLen, expected[i].Width);
        EXPECT_EQ(b.obStatus, expected[i].Start);
        EXPECT_EQ(b.obLength, expected[i].Start + 4);
        EXPECT_EQ(b.obValue, expected[i].Start + 8);
        EXPECT_EQ(b.dwPart, AllParts);
        EXPECT_EQ(b.dwMemOwner, DBMEMOWNER_CLIENTOWNED);
    }
    EXPECT_EQ(script.RowSize, 224u);
    EXPECT_EQ(script.Fetches, std::vector<DBROWCOUNT>{256});
    EXPECT_EQ(script.RowsReleased, 5);
    EXPECT_EQ(script.AccessorsReleased, 1);
}

TEST(ProviderListing, ReadsOnlyTheFirst256Sources) {
    TScript script;
    for (int i = 0; i < 300; ++i) script.Rows.push_back({"P" + std::to_string(i), DBSOURCETYPE_DATASOURCE});
    TScriptedMachine machine(&script);
    const auto names = Listed();
    ASSERT_EQ(names.size(), 256u);
    EXPECT_EQ(names.back(), "P255");
    EXPECT_EQ(script.Fetches.size(), 1u);
}

TEST(ProviderListing, LongNamesArriveAsTheProviderCutThem) {
    TScript script;
    script.Rows = {{String(80, 'n'), DBSOURCETYPE_DATASOURCE}};
    TScriptedMachine machine(&script);
    EXPECT_EQ(Listed(), std::vector<String>{String(63, 'n')});
}

TEST(ProviderListing, EveryFailureEndsQuietlyWithWhatWasGathered) {
    struct TCase {
        const char* What;
        void (*Break)(TScript&);
        std::vector<String> Expected;
    };
    const TCase cases[] = {
        {"no rowset", [](TScript& s) { s.FailRowset = true; }, {}},
        {"no accessor interface", [](TScript& s) { s.NoAccessor = true; }, {}},
        {"accessor refused", [](TScript& s) { s.FailAccessor = true; }, {}},
        {"fetch failed", [](TScript& s) { s.FailFetch = true; }, {}},
        {"one row unreadable", [](TScript& s) { s.FailData = {1}; }, {"A", "C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        TScript script;
        script.Rows = {{"A", 1}, {"B", 1}, {"C", 1}};
        c.Break(script);
        TScriptedMachine machine(&script);
        EXPECT_EQ(Listed(), c.Expected);
    }
    TScriptedMachine none(nullptr);
    EXPECT_EQ(Listed(), std::vector<String>{});
}

TEST(ProviderListing, AMisbehavingProviderCannotMakeItReadPastItsBuffers) {
    TScript script;
    script.Rows = {{"A", 1}, {"B", 1}};
    script.Overclaim = 100000;  // more rows than asked for
    script.NoTerminator = true; // and names without their terminator
    TScriptedMachine machine(&script);
    EXPECT_EQ(Listed(), (std::vector<String>{String(64, 'x'), String(64, 'x')}));
    EXPECT_EQ(script.RowsReleased, 256);
}

TEST(ProviderListing, ANullListIsLeftAlone) { EXPECT_NO_THROW(EnumerateOleDbProviders(nullptr)); }

}  // namespace
}  // namespace SpineTest
