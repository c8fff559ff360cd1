// The Record object over a folder tree (a document source rooted in a temporary
// folder) and over a recordset's current row: resource fields, children,
// default streams, creation, copy, move and delete, and the URLs refused
// because they would leave the root.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

Variant Str(const std::string& s) { return Variant(W(s)); }

// root/ a.txt, sub/ b.txt, sub/deep/ c.txt, .hidden; out -> ../outside, in -> sub;
// outside/secret.txt beside the root.
class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        FBase = fs::canonical(FDir.Path());
        FRoot = FBase / "root";
        fs::create_directories(FRoot / "sub" / "deep");
        fs::create_directories(FBase / "outside");
        WriteFile(FRoot / "a.txt", "hello");
        WriteFile(FRoot / "sub" / "b.txt", "bee");
        WriteFile(FRoot / "sub" / "deep" / "c.txt", "sea");
        WriteFile(FRoot / ".hidden", "h");
        WriteFile(FBase / "outside" / "secret.txt", "secret");
        fs::create_directory_symlink(FBase / "outside", FRoot / "out");
        fs::create_directory_symlink(FRoot / "sub", FRoot / "in");
        FConn = CoConnection::Create();
        FConn->Open(W("URL=" + Url("")));
    }
    std::string Url(const std::string& rel) const {
        return "file://" + FRoot.string() + (rel.empty() ? "" : "/" + rel);
    }
    ComPtr<_Record> Open(const std::string& source, ConnectModeEnum mode = adModeUnknown,
                         RecordCreateOptionsEnum create = adFailIfNotExists) {
        auto r = CoRecord::Create();
        r->Open(Str(source), Com::VarFromInterface(FConn), mode, create);
        return r;
    }
    static Variant Field(const ComPtr<_Record>& r, const char* name) {
        return r->GetFields()->GetItem(Variant(name))->GetValue();
    }
    static std::vector<std::string> ChildNames(const ComPtr<_Record>& r) {
        std::vector<std::string> names;
        auto rs = r->GetChildren();
        for (; !rs->GetEOF(); rs->MoveNext()) names.push_back(N(FieldValue(rs, "RESOURCE_PARSENAME").ToWideString()));
        return names;
    }

    EngineTest::TTempDir FDir;
    fs::path FBase, FRoot;
    ComPtr<_Connection> FConn;
};

using TNames = std::vector<std::string>;

TEST_F(RecordTest, FoldersAreCollectionsAndFilesSimpleRecordsWithTheirResourceFields) {
    auto folder = Open("sub");
    EXPECT_EQ(folder->GetState(), adStateOpen);
    EXPECT_EQ(folder->GetRecordType(), adCollectionRecord);
    EXPECT_TRUE(Field(folder, "RESOURCE_ISCOLLECTION").ToBoolean());
    EXPECT_EQ(N(folder->GetParentURL()), Url(""));
    EXPECT_EQ(N(Field(folder, "RESOURCE_ABSOLUTEPARSENAME").ToWideString()), Url("sub"));
    EXPECT_EQ(N(folder->GetFields()->GetItem(Variant(static_cast<int>(adRecordURL)))->GetValue().ToWideString()),
              Url("sub"));
    EXPECT_EQ(OleCode([&] { folder->GetFields()->GetItem(Variant(static_cast<int>(adDefaultStream))); }),
              AdoCode(adErrItemNotFound));

    auto file = Open("a.txt");
    EXPECT_EQ(file->GetRecordType(), adSimpleRecord);
    EXPECT_FALSE(Field(file, "RESOURCE_ISCOLLECTION").ToBoolean());
    EXPECT_EQ(Field(file, "RESOURCE_STREAMSIZE").ToInt64(), 5);
    EXPECT_EQ(N(Field(file, "RESOURCE_PARSENAME").ToWideString()), "a.txt");
    EXPECT_EQ(N(Field(file, "RESOURCE_CONTENTCLASS").ToWideString()), "text/plain");
    EXPECT_EQ(OleCode([&] { file->GetFields()->GetItem(Variant("RESOURCE_PARSENAME"))->SetValue(Variant("x")); }),
              AdoCode(adErrPermissionDenied));
    // The default stream holds the file's bytes.
    auto streamVar = file->GetFields()->GetItem(Variant(static_cast<int>(adDefaultStream)))->GetValue();
    auto stream = Com::QueryInterface<_Stream>(Com::VarToDispatch(streamVar).Get());
    ASSERT_TRUE(stream);
    stream->SetCharset(u"us-ascii");
    EXPECT_EQ(stream->ReadText(adReadAll), u"hello");

    auto root = Open(Url(""));
    EXPECT_TRUE(Field(root, "RESOURCE_ISROOT").ToBoolean());
    EXPECT_EQ(N(root->GetParentURL()), "");
    EXPECT_TRUE(Com::OleGet(root.Get(), "ParentURL").IsNull());
}

TEST_F(RecordTest, GetChildrenListsTheVisibleChildrenThatStayInsideTheRoot) {
    // ".hidden" is hidden; "out" leads outside the root; "in" is a link inside it.
    EXPECT_EQ(ChildNames(Open(Url(""))), (TNames{"a.txt", "in", "sub"}));
    auto rs = Open("sub")->GetChildren();
    EXPECT_EQ(rs->GetRecordCount(), 2);
    EXPECT_EQ(N(FieldValue(rs, "RESOURCE_PARSENAME").ToWideString()), "b.txt");
    EXPECT_EQ(FieldValue(rs, "RESOURCE_STREAMSIZE").ToInt64(), 3);
    rs->MoveNext();
    EXPECT_TRUE(FieldValue(rs, "RESOURCE_ISCOLLECTION").ToBoolean());
    EXPECT_EQ(N(FieldValue(rs, "RESOURCE_PARENTNAME").ToWideString()), Url("sub"));
    EXPECT_EQ(OleCode([&] { Open("a.txt")->GetChildren(); }), AdoCode(adErrIllegalOperation));
}

TEST_F(RecordTest, UrlsThatLeaveTheRootAreRefusedNamingTheUrl) {
    const std::vector<std::string> refused = {
        "../outside/secret.txt",
        "sub/../../outside/secret.txt",
        "sub/./b.txt",
        "%2e%2e/outside/secret.txt",
        "sub/%2E%2E/%2e%2E/outside",
        "sub%2F..%2F..%2Foutside",
        "a.txt%00.png",
        "sub\\..\\a.txt",
        "file://" + (FBase / "outside" / "secret.txt").string(),
        "/etc/passwd",
        "out/secret.txt",   // a link to a folder outside
        "out",
        "http://example.com/a.txt",
        "file://elsewhere" + FRoot.string() + "/a.txt",
        "a.txt?x=1",
    };
    for (const auto& url : refused) {
        SCOPED_TRACE(url);
        auto r = CoRecord::Create();
        const std::string msg = OleError([&] { r->Open(Str(url), Com::VarFromInterface(FConn)); });
        EXPECT_EQ(OleCode([&] { r->Open(Str(url), Com::VarFromInterface(FConn)); }), AdoCode(adErrInvalidURL));
        EXPECT_NE(msg.find(url.substr(0, 20)), std::string::npos) << msg;
        EXPECT_EQ(r->GetState(), adStateClosed);
        // As a destination too, and nothing is written.
        auto a = Open("a.txt");
        EXPECT_EQ(OleCode([&] { a->CopyRecord(u"", W(url)); }), AdoCode(adErrInvalidURL));
        EXPECT_EQ(OleCode([&] { a->DeleteRecord(W(url)); }), AdoCode(adErrInvalidURL));
    }
    EXPECT_EQ(ReadFile(FBase / "outside" / "secret.txt"), "secret");
    // A link that stays inside is fine.
    EXPECT_EQ(N(Field(Open("in/b.txt"), "RESOURCE_PARSENAME").ToWideString()), "b.txt");
}

TEST_F(RecordTest, CreateOptionsMakeFoldersAndFilesOrOpenWhatExists) {
    auto folder = Open("newdir", adModeReadWrite, adCreateCollection);
    EXPECT_EQ(folder->GetRecordType(), adCollectionRecord);
    EXPECT_TRUE(fs::is_directory(FRoot / "newdir"));
    auto file = Open("newdir/note.txt", adModeReadWrite, adCreateNonCollection);
    EXPECT_EQ(file->GetRecordType(), adSimpleRecord);
    EXPECT_EQ(fs::file_size(FRoot / "newdir" / "note.txt"), 0u);

    EXPECT_EQ(OleCode([&] { Open("a.txt", adModeReadWrite, adCreateNonCollection); }), AdoCode(adErrResourceExists));
    EXPECT_EQ(ReadFile(FRoot / "a.txt"), "hello");
    EXPECT_EQ(Open("a.txt", adModeReadWrite, static_cast<RecordCreateOptionsEnum>(adCreateNonCollection | adOpenIfExists))
                  ->GetRecordType(),
              adSimpleRecord);
    EXPECT_EQ(ReadFile(FRoot / "a.txt"), "hello");
    Open("a.txt", adModeReadWrite, static_cast<RecordCreateOptionsEnum>(adCreateNonCollection | adCreateOverwrite));
    EXPECT_EQ(ReadFile(FRoot / "a.txt"), "");
    EXPECT_EQ(OleCode([&] { Open("missing.txt"); }), AdoCode(adErrURLDoesNotExist));
    EXPECT_EQ(OleCode([&] { Open("nofolder/x.txt", adModeReadWrite, adCreateNonCollection); }),
              AdoCode(adErrURLDoesNotExist));
}

TEST_F(RecordTest, TheDefaultStreamWritesBackToTheFile) {
    auto file = Open("a.txt", adModeReadWrite);
    auto s = CoStream::Create();
    s->SetType(adTypeBinary);
    s->Open(Com::VarFromInterface(file), adModeUnknown, adOpenStreamFromRecord);
    EXPECT_EQ(s->GetMode(), adModeReadWrite);  // the record's
    s->SetPosition(5);
    const std::string more = " world";
    s->Write(Rtl::BytesToVarArray(more.data(), more.size()));
    s->Close();
    EXPECT_EQ(ReadFile(FRoot / "a.txt"), "hello world");

    // A record opened for reading gives a read-only stream.
    auto reader = Open("a.txt");
    auto r = CoStream::Create();
    r->Open(Com::VarFromInterface(reader));
    EXPECT_EQ(r->GetMode(), adModeRead);
    EXPECT_EQ(OleCode([&] { r->WriteText(u"x"); }), AdoCode(adErrIllegalOperation));
    EXPECT_EQ(OleCode([&] { CoStream::Create()->Open(Com::VarFromInterface(Open("sub"))); }),
              AdoCode(adErrIllegalOperation));
}

TEST_F(RecordTest, CopyRecordCopiesFilesAndTreesAndReplacesOnlyWhenAsked) {
    auto root = Open(Url(""));
    EXPECT_EQ(N(root->CopyRecord(W("a.txt"), W("copy.txt"))), Url("copy.txt"));
    EXPECT_EQ(ReadFile(FRoot / "copy.txt"), "hello");

    root->CopyRecord(W("sub"), W("sub2"));
    EXPECT_EQ(ReadFile(FRoot / "sub2" / "deep" / "c.txt"), "sea");
    root->CopyRecord(W("sub"), W("flat"), u"", u"", adCopyNonRecursive);
    EXPECT_TRUE(fs::exists(FRoot / "flat" / "b.txt"));
    EXPECT_FALSE(fs::exists(FRoot / "flat" / "deep"));

    EXPECT_EQ(OleCode([&] { root->CopyRecord(W("sub"), W("sub2")); }), AdoCode(adErrResourceExists));
    WriteFile(FRoot / "sub" / "b.txt", "changed");
    root->CopyRecord(W("sub"), W("sub2"), u"", u"", adCopyOverWrite);
    EXPECT_EQ(ReadFile(FRoot / "sub2" / "b.txt"), "changed");
    EXPECT_EQ(OleCode([&] { root->CopyRecord(W("sub"), W("sub/deep/again")); }), AdoCode(adErrCannotComplete));
    EXPECT_FALSE(fs::exists(FRoot / "sub" / "deep" / "again"));
    EXPECT_EQ(OleCode([&] { root->CopyRecord(W("nothing"), W("x")); }), AdoCode(adErrURLDoesNotExist));
    // A folder cannot replace a file: the file stays and no partial copy is left.
    EXPECT_NE(OleCode([&] { root->CopyRecord(W("sub"), W("copy.txt"), u"", u"", adCopyOverWrite); }), 0);
    EXPECT_EQ(ReadFile(FRoot / "copy.txt"), "hello");
    // Nothing was left beside the copies.
    EXPECT_EQ(ChildNames(root), (TNames{"a.txt", "copy.txt", "flat", "in", "sub", "sub2"}));
}

TEST_F(RecordTest, MoveRecordMovesAndTheRecordFollows) {
    auto file = Open("a.txt", adModeReadWrite);
    EXPECT_EQ(OleCode([&] { file->MoveRecord(u"", W("sub/b.txt")); }), AdoCode(adErrResourceExists));
    EXPECT_EQ(N(file->MoveRecord(u"", W("sub/moved.txt"))), Url("sub/moved.txt"));
    EXPECT_FALSE(fs::exists(FRoot / "a.txt"));
    EXPECT_EQ(ReadFile(FRoot / "sub" / "moved.txt"), "hello");
    EXPECT_EQ(N(file->GetParentURL()), Url("sub"));
    file->MoveRecord(u"", W("sub/b.txt"), u"", u"", adMoveOverWrite);
    EXPECT_EQ(ReadFile(FRoot / "sub" / "b.txt"), "hello");
    EXPECT_EQ(OleCode([&] { Open(Url(""))->MoveRecord(u"", W("elsewhere")); }), AdoCode(adErrIllegalOperation));
}

TEST_F(RecordTest, DeleteRecordRemovesTreesButNeverTheRootOrWhatALinkPointsAt) {
    auto root = Open(Url(""));
    // A link leading outside is refused like any other way out; one inside
    // goes, and the folder it points at stays.
    EXPECT_EQ(OleCode([&] { root->DeleteRecord(W("out")); }), AdoCode(adErrInvalidURL));
    EXPECT_EQ(ReadFile(FBase / "outside" / "secret.txt"), "secret");
    root->DeleteRecord(W("in"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(FRoot / "in")));
    EXPECT_EQ(ReadFile(FRoot / "sub" / "b.txt"), "bee");
    auto sub = Open("sub");
    sub->DeleteRecord();
    EXPECT_FALSE(fs::exists(FRoot / "sub"));
    EXPECT_EQ(sub->GetState(), adStateClosed);
    EXPECT_EQ(OleCode([&] { root->DeleteRecord(); }), AdoCode(adErrIllegalOperation));
    EXPECT_TRUE(fs::exists(FRoot / "a.txt"));
}

TEST_F(RecordTest, AbsoluteUrlsAndConnectionStringsNameTheirRoot) {
    // Without a connection an absolute URL opens with its folder as the root.
    auto r = CoRecord::Create();
    r->Open(Str(Url("sub/b.txt")));
    EXPECT_EQ(N(r->GetParentURL()), Url("sub"));
    EXPECT_EQ(OleCode([&] { r->CopyRecord(u"", W(Url("a.txt"))); }), AdoCode(adErrInvalidURL));
    r->Close();
    // A connection string as the active connection.
    r->Open(Str("sub/b.txt"), Str("URL=" + Url("")));
    EXPECT_EQ(N(Field(r, "RESOURCE_PARSENAME").ToWideString()), "b.txt");
    r->Close();
    EXPECT_EQ(OleCode([&] { r->Open(Str("a.txt"), Str("Provider=SQLite;Data Source=x.db")); }),
              AdoCode(adErrInvalidConnection));
    EXPECT_EQ(OleCode([&] { r->GetFields()->GetItem(Variant(static_cast<int>(adRecordURL))); }),
              AdoCode(adErrItemNotFound));
    // The document source connection runs no commands.
    EXPECT_NE(OleCode([&] { Exec(FConn, "SELECT 1"); }), 0);
}

TEST_F(RecordTest, StateRules) {
    auto r = CoRecord::Create();
    EXPECT_EQ(OleCode([&] { r->GetRecordType(); }), AdoCode(adErrObjectClosed));
    EXPECT_EQ(OleCode([&] { r->Close(); }), AdoCode(adErrObjectClosed));
    EXPECT_EQ(OleCode([&] { r->Open(); }), AdoCode(adErrInvalidArgument));
    // Properties set while closed are what Open uses.
    r->SetActiveConnectionRef(FConn.Get());
    r->SetSource(W("a.txt"));
    r->SetMode(adModeReadWrite);
    r->Open();
    EXPECT_EQ(r->GetMode(), adModeReadWrite);
    EXPECT_EQ(N(r->GetSource().ToWideString()), Url("a.txt"));
    EXPECT_EQ(OleCode([&] { r->Open(); }), AdoCode(adErrObjectOpen));
    EXPECT_EQ(OleCode([&] { r->SetSource(W("sub")); }), AdoCode(adErrObjectOpen));
    EXPECT_EQ(OleCode([&] { r->SetMode(adModeRead); }), AdoCode(adErrObjectOpen));
}

// ---- A recordset's row --------------------------------------------------------------------------------

class RowRecordTest : public TAdoFixture {};

TEST_F(RowRecordTest, TheRecordSharesTheCurrentRowWithItsRecordset) {
    auto conn = OpenConnection(FFile);
    auto rs = OpenRecordset(conn, "SELECT id, name FROM items ORDER BY id", adUseClient, adOpenStatic,
                            adLockBatchOptimistic);
    rs->MoveNext();
    auto rec = CoRecord::Create();
    rec->Open(Com::VarFromInterface(rs));
    EXPECT_EQ(rec->GetRecordType(), adSimpleRecord);
    EXPECT_EQ(rec->GetFields()->GetCount(), 2);
    EXPECT_EQ(N(rec->GetFields()->GetItem(Variant("name"))->GetValue().ToWideString()), "pear");
    // The recordset moving does not move the record; a change shows in both.
    rs->MoveFirst();
    rec->GetFields()->GetItem(Variant("name"))->SetValue(Variant("PEAR"));
    rec->GetFields()->Update();
    rs->MoveNext();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "PEAR");
    EXPECT_EQ(OleCode([&] { rec->GetChildren(); }), AdoCode(adErrFeatureNotAvailable));
    EXPECT_EQ(OleCode([&] { rec->DeleteRecord(); }), AdoCode(adErrFeatureNotAvailable));
    rs->MoveLast();
    rs->MoveNext();
    auto none = CoRecord::Create();
    EXPECT_EQ(OleCode([&] { none->Open(Com::VarFromInterface(rs)); }), AdoCode(adErrNoCurrentRecord));
}

}  // namespace
}  // namespace AdoTest
