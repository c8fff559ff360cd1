// Blob fields and the streams a dataset creates for them.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "tests/db/TestUtil.h"

using namespace Db;
using namespace DbTest;

namespace {

struct BlobFixture : ::testing::Test {
    std::shared_ptr<TMemTable> Table = std::make_shared<TMemTable>();
    Owned<TMemDataSet> Ds;
    std::vector<String> Log;
    std::unique_ptr<Linked> Link;
    void SetUp() override {
        Table->AddColumn("ID", ftInteger);
        Table->AddColumn("Notes", ftMemo);
        Table->AddColumn("Data", ftBlob);
        Table->AddRow({Variant(1), Variant("first note"), Variant(String("\x00\x01\x02", 3))});
        Table->AddRow({Variant(2), Variant::Null(), Variant::Null()});
        Ds = NewDataSet(Table);
        Link = std::make_unique<Linked>(Ds.get(), 1, &Log);
        Ds->Open();
        Log.clear();
    }
    void TearDown() override { Link.reset(); }
    TBlobField* B(const char* name) { return static_cast<TBlobField*>(Ds->FieldByName(name)); }
    std::unique_ptr<Rtl::TStream> Open(const char* name, TBlobStreamMode mode) {
        return std::unique_ptr<Rtl::TStream>(Ds->CreateBlobStream(B(name), mode));
    }
};

TEST_F(BlobFixture, ReadingWorksInAnyStateAndKeepsBinaryBytes) {
    EXPECT_EQ(B("Notes")->GetAsString(), "first note");
    EXPECT_EQ(B("Data")->GetAsString(), String("\x00\x01\x02", 3));
    EXPECT_EQ(B("Data")->GetBlobSize(), 3);
    auto s = Open("Notes", bmRead);
    char buf[5] = {};
    EXPECT_EQ(s->Read(buf, 5), 5);
    EXPECT_EQ(String(buf, 5), "first");
    Ds->Next();
    EXPECT_TRUE(B("Notes")->GetIsNull());
    EXPECT_TRUE(B("Notes")->GetAsVariant().IsNull());
}

TEST_F(BlobFixture, AWrittenStreamReachesTheRecordWhenItIsFreed) {
    Ds->Edit();
    Log.clear();
    {
        auto s = Open("Notes", bmWrite);
        s->WriteBuffer("new text", 8);
        EXPECT_EQ(B("Notes")->GetAsString(), "first note");  // not yet
        EXPECT_FALSE(B("Notes")->GetModified());
    }
    EXPECT_EQ(B("Notes")->GetAsString(), "new text");
    EXPECT_TRUE(B("Notes")->GetModified());
    EXPECT_EQ(Join(Log), "RecordChanged(Notes)");
    EXPECT_TRUE(Ds->GetModified());
    EXPECT_EQ(Rtl::VarToStr(Table->Rows[0].Values[1]), "first note");  // only the buffer changed
    Ds->Post();
    EXPECT_FALSE(B("Notes")->GetModified());
    EXPECT_EQ(Rtl::VarToStr(Table->Rows[0].Values[1]), "new text");
}

TEST_F(BlobFixture, ReadWriteStreamsStartFromTheContents) {
    Ds->Edit();
    {
        auto s = Open("Notes", bmReadWrite);
        s->Seek(0, Rtl::soEnd);
        s->WriteBuffer(", more", 6);
    }
    EXPECT_EQ(B("Notes")->GetAsString(), "first note, more");
    Ds->Cancel();
    EXPECT_EQ(B("Notes")->GetAsString(), "first note");
    EXPECT_FALSE(B("Notes")->GetModified());
}

TEST_F(BlobFixture, WritingNeedsEditModeAndAWritableField) {
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Open("Notes", bmWrite); }), "Data: Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { B("Notes")->SetAsString("x"); }),
              "Data: Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { B("Notes")->Clear(); }), "Data: Dataset not in edit or insert mode");
    B("Notes")->SetReadOnly(true);
    Ds->Edit();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Open("Notes", bmReadWrite); }), "Field 'Notes' cannot be modified");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Ds->CreateBlobStream(Ds->FieldByName("ID"), bmRead); }),
              "Data: Field 'ID' is not a blob field");
}

TEST_F(BlobFixture, AnEmptyBlobHasNoValue) {
    Ds->Edit();
    B("Notes")->SetAsString("");
    EXPECT_TRUE(B("Notes")->GetIsNull());
    B("Data")->SetAsString("x");
    B("Data")->Clear();
    EXPECT_TRUE(B("Data")->GetIsNull());
    Ds->Post();
    EXPECT_TRUE(Table->Rows[0].Values[1].IsNull());
}

TEST_F(BlobFixture, BlobsCannotBeReadWhileFiltering) {
    String message;
    Ds->OnFilterRecord = [&](TDataSet* d, bool& accept) {
        try {
            B("Notes")->GetAsString();
        } catch (const EDatabaseError& e) {
            message = e.Message();
        }
        accept = true;
    };
    Ds->SetFiltered(true);
    EXPECT_EQ(message, "Cannot access field 'Notes' in a filter");
}

TEST_F(BlobFixture, FailuresWhileSavingAStreamAreShownNotRaised) {
    B("Notes")->OnChange = [](TField*) { DatabaseError("change refused"); };
    Ds->Edit();
    {
        auto s = Open("Notes", bmWrite);
        s->WriteBuffer("text", 4);
    }
    ASSERT_EQ(Ds->HandledErrors.size(), 1u);
    EXPECT_EQ(Ds->HandledErrors[0], "change refused");
}

TEST_F(BlobFixture, FilesLoadAndSaveTheExactBytes) {
    auto dir = std::filesystem::temp_directory_path() / ("db_blob_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    String source = (dir / "in.bin").string(), target = (dir / "out.bin").string();
    String bytes("\x00zero\xFF\x00", 7);
    std::ofstream(source, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Ds->Next();
    Ds->Edit();
    B("Data")->LoadFromFile(source);
    Ds->Post();
    EXPECT_EQ(Table->Rows[1].Values[2].ToString(), bytes);
    B("Data")->SaveToFile(target);
    std::ifstream in(target, std::ios::binary);
    String saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, bytes);
    EXPECT_THROW(B("Data")->LoadFromFile((dir / "missing.bin").string()), Rtl::EFOpenError);
    std::filesystem::remove_all(dir);
}

}  // namespace
