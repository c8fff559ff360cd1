// The Stream object: character sets and lines (bytes in, text out and back),
// positions and EOS, the errors of misuse, files (save, load, file URLs), and
// recordsets saved into a stream and opened back from it.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::TSafeArray;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

Variant Bytes(std::string_view s) { return Rtl::BytesToVarArray(s.data(), s.size()); }

std::string BytesOf(const Variant& v) {
    if (v.IsNull()) return {};
    const auto b = Rtl::VarArrayToBytes(v);
    return std::string(b.begin(), b.end());
}

ComPtr<_Stream> OpenMemory(StreamTypeEnum type = adTypeText) {
    auto s = CoStream::Create();
    s->SetType(type);
    s->Open();
    return s;
}

// A text stream holding these bytes, at position 0, in that character set.
ComPtr<_Stream> TextOver(std::string_view bytes, const std::string& charset) {
    auto s = OpenMemory(adTypeBinary);
    s->Write(Bytes(bytes));
    s->SetPosition(0);
    s->SetType(adTypeText);
    s->SetCharset(W(charset));
    return s;
}

// The bytes of a text stream.
std::string AllBytes(const ComPtr<_Stream>& s) {
    s->SetPosition(0);
    s->SetType(adTypeBinary);
    return BytesOf(s->Read(adReadAll));
}

class StreamTest : public ::testing::Test {
protected:
    EngineTest::TTempDir FDir;
    std::string Url(const std::string& name) const {
        return "file://" + std::filesystem::canonical(FDir.Path()).string() + "/" + name;
    }
};

// ---- Character sets ---------------------------------------------------------------------------------

TEST(StreamCharsets, BytesDecodeToText) {
    struct TCase {
        const char* Charset;
        std::string Bytes;
        std::u16string Text;
    };
    const std::vector<TCase> cases = {
        {"unicode", std::string("\xFF\xFEh\0i\0", 6), u"hi"},
        {"Unicode", std::string("h\0i\0", 4), u"hi"},                   // no byte order mark
        {"unicode", std::string("h\0i", 3), u"h\uFFFD"},                // half a unit at the end
        {"unicodeFFFE", std::string("\xFE\xFF\0h", 4), u"h"},
        {"utf-8", "\xEF\xBB\xBFh\xC3\xA9", u"h\u00E9"},
        {"UTF-8", "a\xFF" "b", u"a\uFFFD" "b"},                         // not a sequence
        {"utf-8", "a\xE2\x82", u"a\uFFFD\uFFFD"},                      // cut short
        {"utf-8", "\xF0\x9F\x98\x80", u"\U0001F600"},                  // beyond U+FFFF
        {"iso-8859-1", "caf\xE9", u"caf\u00E9"},
        {"us-ascii", "ok\xE9", u"ok\uFFFD"},
        {"windows-1252", "\x80\x81\x93", u"\u20AC\u0081\u201C"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Charset);
        auto s = TextOver(tc.Bytes, tc.Charset);
        EXPECT_EQ(s->ReadText(adReadAll), tc.Text);
        EXPECT_TRUE(s->GetEOS());
    }
}

TEST(StreamCharsets, TextEncodesToBytesWithTheByteOrderMarkAtZero) {
    struct TCase {
        const char* Charset;
        std::u16string Text;
        std::string Bytes;
    };
    const std::vector<TCase> cases = {
        {"unicode", u"hi", std::string("\xFF\xFEh\0i\0", 6)},
        {"utf-8", u"h\u00E9\U0001F600", "\xEF\xBB\xBFh\xC3\xA9\xF0\x9F\x98\x80"},
        {"iso-8859-1", u"caf\u00E9", "caf\xE9"},
        {"windows-1252", u"\u20AC\u0081", "\x80\x81"},
        {"us-ascii", u"plain", "plain"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Charset);
        auto s = OpenMemory();
        s->SetCharset(W(tc.Charset));
        s->WriteText(tc.Text);
        EXPECT_EQ(AllBytes(s), tc.Bytes);
        // And back.
        s->SetPosition(0);
        s->SetType(adTypeText);
        EXPECT_EQ(s->ReadText(), tc.Text);
    }
}

TEST(StreamCharsets, ACharacterTheSetCannotHoldWritesNothing) {
    struct TCase {
        const char* Charset;
        std::u16string Text;
        const char* Named;
    };
    const std::vector<TCase> cases = {
        {"us-ascii", u"caf\u00E9", "U+00E9 at index 3"},
        {"iso-8859-1", u"\u20AC", "U+20AC at index 0"},
        {"windows-1252", u"a\u0100", "U+0100 at index 1"},
        {"utf-8", std::u16string(u"x") + char16_t(0xD800), "U+D800 at index 1"},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.Charset);
        auto s = OpenMemory();
        s->SetCharset(W(tc.Charset));
        s->WriteText(u"ok");
        const Int64 size = s->GetSize();
        EXPECT_EQ(OleCode([&] { s->WriteText(tc.Text); }), AdoCode(adErrDataConversion));
        const std::string msg = OleError([&] { s->WriteText(tc.Text); });
        EXPECT_NE(msg.find(tc.Named), std::string::npos) << msg;
        EXPECT_EQ(s->GetSize(), size);
    }
}

TEST(StreamCharsets, UnknownNamesAreRefusedAndEmptyMeansTheDefault) {
    auto s = OpenMemory();
    const std::string msg = OleError([&] { s->SetCharset(u"klingon"); });
    EXPECT_NE(msg.find("\"klingon\""), std::string::npos) << msg;
    EXPECT_EQ(N(s->GetCharset()), "Unicode");
    s->SetCharset(u"");
    EXPECT_EQ(N(s->GetCharset()), "Unicode");
}

// ---- Lines -------------------------------------------------------------------------------------------

TEST(StreamLines, EachSeparatorEndsItsOwnLines) {
    const std::u16string text = u"a\r\nb\nc\rd";
    struct TCase {
        LineSeparatorEnum Separator;
        std::vector<std::u16string> Lines;
    };
    const std::vector<TCase> cases = {
        {adCRLF, {u"a", u"b\nc\rd"}},
        {adLF, {u"a\r", u"b", u"c\rd"}},
        {adCR, {u"a", u"\nb\nc", u"d"}},
    };
    for (const char* charset : {"unicode", "utf-8", "iso-8859-1"}) {
        for (const auto& tc : cases) {
            SCOPED_TRACE(std::string(charset) + " separator " + std::to_string(tc.Separator));
            auto s = OpenMemory();
            s->SetCharset(W(charset));
            s->SetLineSeparator(tc.Separator);
            s->WriteText(text);
            s->SetPosition(0);
            std::vector<std::u16string> lines;
            while (!s->GetEOS()) lines.push_back(s->ReadText(adReadLine));
            EXPECT_EQ(lines, tc.Lines);
            // SkipLine passes the same lines.
            s->SetPosition(0);
            s->SkipLine();
            EXPECT_EQ(s->ReadText(adReadLine), tc.Lines[1]);
        }
    }
}

TEST(StreamLines, WriteLineAppendsTheSeparator) {
    auto s = OpenMemory();
    s->SetCharset(u"us-ascii");
    s->SetLineSeparator(adLF);
    s->WriteText(u"one", adWriteLine);
    s->WriteText(u"two", adWriteChar);
    EXPECT_EQ(AllBytes(s), "one\ntwo");
}

TEST(StreamText, CountsReadThatManyCharactersAndNothingIsLeftAtTheEnd) {
    auto s = OpenMemory();
    s->WriteText(u"hello \U0001F600!");
    s->SetPosition(0);
    EXPECT_EQ(s->ReadText(2), u"he");
    EXPECT_EQ(s->ReadText(4), u"llo ");
    EXPECT_EQ(s->ReadText(1), u"\U0001F600");  // a pair is never split
    EXPECT_EQ(s->ReadText(adReadAll), u"!");
    EXPECT_TRUE(s->GetEOS());
    EXPECT_EQ(s->ReadText(adReadAll), u"");
    // Late bound, nothing left to read is Null.
    EXPECT_TRUE(Com::OleCall(s.Get(), "ReadText").IsNull());
    EXPECT_EQ(OleCode([&] { s->ReadText(-3); }), AdoCode(adErrInvalidArgument));
}

// ---- Positions ----------------------------------------------------------------------------------------

TEST(StreamPositions, PositionEosSetEosAndGrowth) {
    auto s = OpenMemory(adTypeBinary);
    s->Write(Bytes("abcdef"));
    EXPECT_EQ(s->GetSize(), 6);
    EXPECT_TRUE(s->GetEOS());
    s->SetPosition(2);
    EXPECT_FALSE(s->GetEOS());
    EXPECT_EQ(BytesOf(s->Read(2)), "cd");
    s->Write(Bytes("XYZ"));  // overwrites, then grows
    EXPECT_EQ(s->GetSize(), 7);
    s->SetPosition(3);
    s->SetEOS();
    EXPECT_EQ(s->GetSize(), 3);
    EXPECT_TRUE(s->GetEOS());
    s->SetPosition(5);  // past the end: zero bytes fill the gap
    EXPECT_EQ(s->GetSize(), 5);
    s->SetPosition(0);
    EXPECT_EQ(BytesOf(s->Read(adReadAll)), std::string("abc\0\0", 5));
    EXPECT_TRUE(s->Read(adReadAll).IsNull());
    EXPECT_EQ(OleCode([&] { s->SetPosition(-1); }), AdoCode(adErrInvalidArgument));
}

TEST(StreamPositions, ABinaryWriteIntoANewTextStreamMakesItBinary) {
    auto s = OpenMemory(adTypeText);
    s->Write(Bytes("ab"));
    EXPECT_EQ(s->GetType(), adTypeBinary);
    auto t = OpenMemory(adTypeText);
    t->WriteText(u"x");
    EXPECT_EQ(OleCode([&] { t->Write(Bytes("ab")); }), AdoCode(adErrIllegalOperation));
}

TEST(StreamErrors, MisuseIsRefusedWithADOsNumbers) {
    auto text = OpenMemory(adTypeText);
    text->WriteText(u"abc");
    auto binary = OpenMemory(adTypeBinary);
    binary->Write(Bytes("abc"));
    auto closed = CoStream::Create();
    struct TCase {
        const char* What;
        std::function<void()> Call;
        ErrorValueEnum Error;
    };
    const std::vector<TCase> cases = {
        {"Type at a non-zero position", [&] { text->SetType(adTypeBinary); }, adErrIllegalOperation},
        {"Charset at a non-zero position", [&] { text->SetCharset(u"utf-8"); }, adErrIllegalOperation},
        {"ReadText of a binary stream", [&] { binary->SetPosition(0), binary->ReadText(adReadAll); }, adErrIllegalOperation},
        {"Read of a text stream", [&] { text->Read(adReadAll); }, adErrIllegalOperation},
        {"WriteText to a binary stream", [&] { binary->WriteText(u"x"); }, adErrIllegalOperation},
        {"Type out of range", [&] { closed->SetType(static_cast<StreamTypeEnum>(3)); }, adErrInvalidArgument},
        {"LineSeparator out of range", [&] { closed->SetLineSeparator(static_cast<LineSeparatorEnum>(9)); }, adErrInvalidArgument},
        {"Read of a closed stream", [&] { closed->Read(adReadAll); }, adErrObjectClosed},
        {"Size of a closed stream", [&] { closed->GetSize(); }, adErrObjectClosed},
        {"Close of a closed stream", [&] { closed->Close(); }, adErrObjectClosed},
        {"Open of an open stream", [&] { text->Open(); }, adErrObjectOpen},
        {"Mode of an open stream", [&] { text->SetMode(adModeRead); }, adErrObjectOpen},
        {"Write of a non-array", [&] { binary->Write(Variant(5)); }, adErrInvalidArgument},
        {"CopyTo itself", [&] { text->CopyTo(text.Get(), -1); }, adErrInvalidArgument},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.What);
        EXPECT_EQ(OleCode(tc.Call), AdoCode(tc.Error));
    }
    // Nothing above changed the streams.
    EXPECT_EQ(AllBytes(text), std::string("\xFF\xFE" "a\0b\0c\0", 8));
}

TEST(StreamErrors, AReadOnlyStreamRefusesEveryWrite) {
    auto s = CoStream::Create();
    s->SetMode(adModeRead);
    s->Open();
    EXPECT_EQ(s->GetMode(), adModeRead);
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { s->WriteText(u"x"); }, [&] { s->SetEOS(); }, [&] { s->LoadFromFile(u"/dev/null"); }}) {
        const std::string msg = OleError(call);
        EXPECT_NE(msg.find("read-only"), std::string::npos) << msg;
    }
    EXPECT_EQ(s->GetSize(), 0);
}

// ---- CopyTo -----------------------------------------------------------------------------------------

TEST(StreamCopy, TextIsConvertedIntoTheDestinationsCharacterSet) {
    auto src = OpenMemory();
    src->WriteText(u"gr\u00FC\u00DFe welt");
    src->SetPosition(0);
    auto dst = OpenMemory();
    dst->SetCharset(u"utf-8");
    src->CopyTo(dst.Get(), 5);  // characters, the byte order mark not counted
    EXPECT_EQ(AllBytes(dst), "\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F" "e");
    EXPECT_EQ(src->ReadText(adReadAll), u" welt");
    // The rest, into a binary stream: the source's bytes as they are.
    src->SetPosition(0);
    src->ReadText(6);
    auto raw = OpenMemory(adTypeBinary);
    src->CopyTo(raw.Get(), -1);
    raw->SetPosition(0);
    EXPECT_EQ(BytesOf(raw->Read(adReadAll)), std::string("w\0e\0l\0t\0", 8));
}

TEST(StreamCopy, BinaryCopiesCountBytes) {
    auto src = OpenMemory(adTypeBinary);
    src->Write(Bytes("0123456789"));
    src->SetPosition(4);
    auto dst = OpenMemory(adTypeBinary);
    src->CopyTo(dst.Get(), 3);
    EXPECT_EQ(src->GetPosition(), 7);
    src->CopyTo(dst.Get(), 100);
    dst->SetPosition(0);
    EXPECT_EQ(BytesOf(dst->Read(adReadAll)), "456789");
}

// ---- Files --------------------------------------------------------------------------------------------

TEST_F(StreamTest, SaveToFileCreatesOrOverwritesAndAFailedSaveKeepsTheOldFile) {
    const std::string path = FDir.File("out.bin");
    auto s = OpenMemory(adTypeBinary);
    s->Write(Bytes("first"));
    s->SaveToFile(W(path), adSaveCreateNotExist);
    EXPECT_EQ(ReadFile(path), "first");
    EXPECT_EQ(s->GetPosition(), 0);

    s->Write(Bytes("SECOND!"));
    const std::string msg = OleError([&] { s->SaveToFile(W(path), adSaveCreateNotExist); });
    EXPECT_NE(msg.find(path), std::string::npos) << msg;
    EXPECT_EQ(ReadFile(path), "first");
    s->SaveToFile(W(path), adSaveCreateOverWrite);
    EXPECT_EQ(ReadFile(path), "SECOND!");

    // A save that cannot complete (the file beside would need too long a
    // name) leaves the file as it was.
    const std::string longName = FDir.File(std::string(250, 'n'));
    WriteFile(longName, "old content");
    EXPECT_EQ(OleCode([&] { s->SaveToFile(W(longName), adSaveCreateOverWrite); }), AdoCode(adErrWriteFile));
    EXPECT_EQ(ReadFile(longName), "old content");
    EXPECT_EQ(OleCode([&] { s->SaveToFile(W(path), static_cast<SaveOptionsEnum>(3)); }), AdoCode(adErrInvalidArgument));
    // Nothing was left beside the files.
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(FDir.Path())) ++entries;
    EXPECT_EQ(entries, 2);
}

TEST_F(StreamTest, LoadFromFileReplacesTheContentOrChangesNothing) {
    const std::string path = FDir.File("in.txt");
    WriteFile(path, "\xEF\xBB\xBFline one\r\nline two");
    auto s = OpenMemory();
    s->WriteText(u"old");
    const std::string missing = FDir.File("missing.txt");
    const std::string msg = OleError([&] { s->LoadFromFile(W(missing)); });
    EXPECT_NE(msg.find(missing), std::string::npos) << msg;
    EXPECT_EQ(OleCode([&] { s->LoadFromFile(W(missing)); }), AdoCode(adErrOpeningFile));
    EXPECT_EQ(s->GetSize(), 8);

    s->LoadFromFile(W(path));
    EXPECT_EQ(s->GetPosition(), 0);
    s->SetCharset(u"utf-8");
    EXPECT_EQ(s->ReadText(adReadLine), u"line one");
    EXPECT_EQ(s->ReadText(adReadLine), u"line two");
}

TEST_F(StreamTest, AFileUrlOpensReadOnlyUnlessAskedAndWritesGoBackAtFlushAndClose) {
    const std::string path = FDir.File("doc.txt");
    WriteFile(path, "abc");
    auto s = CoStream::Create();
    s->SetCharset(u"us-ascii");
    s->Open(Variant(W("URL=" + Url("doc.txt"))));
    EXPECT_EQ(s->GetMode(), adModeRead);
    EXPECT_EQ(s->ReadText(), u"abc");
    EXPECT_EQ(OleCode([&] { s->WriteText(u"x"); }), AdoCode(adErrIllegalOperation));
    s->Close();

    s->Open(Variant(W(Url("doc.txt"))), adModeReadWrite);
    s->SetPosition(3);
    s->WriteText(u"def");
    EXPECT_EQ(ReadFile(path), "abc");  // not yet
    s->Flush();
    EXPECT_EQ(ReadFile(path), "abcdef");
    s->SetPosition(0);
    s->WriteText(u"X");
    s->Close();
    EXPECT_EQ(ReadFile(path), "Xbcdef");

    struct TCase {
        std::string Url;
        ErrorValueEnum Error;
    };
    const std::vector<TCase> refused = {
        {Url("nothing.txt"), adErrURLDoesNotExist},
        {Url("sub/../doc.txt"), adErrInvalidURL},
        {Url("%2e%2e/doc.txt"), adErrInvalidURL},
        {"http://example.com/doc.txt", adErrInvalidURL},
        {"file://elsewhere" + path, adErrInvalidURL},
    };
    for (const auto& tc : refused) {
        SCOPED_TRACE(tc.Url);
        EXPECT_EQ(OleCode([&] { s->Open(Variant(W(tc.Url))); }), AdoCode(tc.Error));
        EXPECT_EQ(s->GetState(), adStateClosed);
    }
}

TEST(StreamClasses, CreatedByProgIdAndLateBound) {
    auto disp = Com::CreateOleObject("ADODB.Stream");
    Com::OleCall(disp.Get(), "Open");
    Com::OlePut(disp.Get(), "Charset", Variant("utf-8"));
    Com::OleCall(disp.Get(), "WriteText", {Variant("one"), Variant(static_cast<int>(adWriteLine))});
    EXPECT_EQ(Com::OleGet(disp.Get(), "Size").ToInteger(), 3 + 3 + 2);
    Com::OlePut(disp.Get(), "Position", Variant(0));
    EXPECT_EQ(N(Com::OleCall(disp.Get(), "ReadText", {Variant(static_cast<int>(adReadLine))}).ToWideString()), "one");
    EXPECT_TRUE(Com::OleGet(disp.Get(), "EOS").ToBoolean());
}

// ---- Recordsets in streams ----------------------------------------------------------------------------

class StreamRecordsetTest : public TAdoFixture {};

TEST_F(StreamRecordsetTest, SavedIntoAStreamAndOpenedBackWithPendingChanges) {
    auto conn = OpenConnection(FFile);
    auto rs = OpenRecordset(conn, "SELECT id, name, qty FROM items ORDER BY id", adUseClient, adOpenStatic,
                            adLockBatchOptimistic);
    rs->GetFields()->GetItem(Variant("name"))->SetValue(Variant("APPLE"));
    rs->Update();
    rs->MoveNext();
    rs->Delete(adAffectCurrent);
    rs->AddNew();
    rs->GetFields()->GetItem(Variant("name"))->SetValue(Variant("kiwi"));
    rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(7));
    rs->Update();

    struct TCase {
        StreamTypeEnum Type;
        PersistFormatEnum Format;
        bool Apply;  // the reopened rowset is written to the database
    };
    const std::vector<TCase> cases = {
        {adTypeText, adPersistXML, false},
        {adTypeText, adPersistADTG, false},  // a binary format makes the new stream binary
        {adTypeBinary, adPersistXML, true},
    };
    for (const auto& tc : cases) {
        const StreamTypeEnum type = tc.Type;
        SCOPED_TRACE(std::string(type == adTypeText ? "text stream, " : "binary stream, ") +
                     (tc.Format == adPersistXML ? "XML" : "ADTG"));
        auto stream = OpenMemory(type);
        rs->Save(Com::VarFromInterface(stream), tc.Format);
        if (tc.Format == adPersistADTG) EXPECT_EQ(stream->GetType(), adTypeBinary);
        EXPECT_GT(stream->GetSize(), 0);
        if (stream->GetType() == adTypeText) {
            const std::string xml = N(stream->ReadText(adReadAll));
            EXPECT_EQ(xml.rfind("<xml", 0), 0u) << xml.substr(0, 40);
            stream->SetPosition(0);
        }
        auto back = CoRecordset::Create();
        back->Open(Com::VarFromInterface(stream));
        EXPECT_EQ(back->GetLockType(), adLockBatchOptimistic);
        back->SetFilter(Variant(static_cast<int>(adFilterPendingRecords)));
        EXPECT_EQ(back->GetRecordCount(), 3);
        back->SetFilter(Variant(static_cast<int>(adFilterNone)));
        back->MoveFirst();
        EXPECT_EQ(N(FieldValue(back, "name").ToWideString()), "APPLE");
        EXPECT_EQ(N(back->GetFields()->GetItem(Variant("name"))->GetOriginalValue().ToWideString()), "apple");
        EXPECT_EQ(back->GetStatus() & adRecModified, adRecModified);
        back->MoveLast();
        EXPECT_EQ(N(FieldValue(back, "name").ToWideString()), "kiwi");
        EXPECT_EQ(back->GetStatus() & adRecNew, adRecNew);

        // Applied to the database through a connection.
        if (tc.Apply) {
            back->SetActiveConnection(Com::VarFromInterface(conn));
            back->UpdateBatch(adAffectAll);
            auto check = OpenRecordset(conn, "SELECT name FROM items ORDER BY id", adUseClient, adOpenStatic,
                                       adLockReadOnly);
            std::vector<std::string> names;
            for (; !check->GetEOF(); check->MoveNext()) names.push_back(N(FieldValue(check, "name").ToWideString()));
            EXPECT_EQ(names, (std::vector<std::string>{"APPLE", "plum", "fig", "kiwi"}));
        }
    }
}

TEST_F(StreamRecordsetTest, AUnicodeRowsetReadFromABinaryStreamOpens) {
    auto conn = OpenConnection(FFile);
    auto src = OpenRecordset(conn, "SELECT id, name FROM items ORDER BY id", adUseClient, adOpenStatic, adLockReadOnly);
    auto stream = OpenMemory(adTypeText);  // Unicode: FF FE and UTF-16 text
    src->Save(Com::VarFromInterface(stream), adPersistXML);
    stream->SetPosition(0);
    stream->SetType(adTypeBinary);
    EXPECT_EQ(BytesOf(stream->Read(2)), "\xFF\xFE");
    stream->SetPosition(0);
    auto back = CoRecordset::Create();
    back->Open(Com::VarFromInterface(stream));
    EXPECT_EQ(back->GetRecordCount(), 4);
    EXPECT_EQ(N(FieldValue(back, "name").ToWideString()), "apple");
}

TEST_F(StreamRecordsetTest, BadStreamsOpenNothingAndKeepTheirPosition) {
    auto stream = OpenMemory(adTypeBinary);
    stream->Write(Bytes("<xml><broken"));
    stream->SetPosition(0);
    auto rs = CoRecordset::Create();
    EXPECT_NE(OleCode([&] { rs->Open(Com::VarFromInterface(stream)); }), 0);
    EXPECT_EQ(rs->GetState(), adStateClosed);
    EXPECT_EQ(stream->GetPosition(), 0);
    auto empty = OpenMemory(adTypeBinary);
    EXPECT_EQ(OleCode([&] { rs->Open(Com::VarFromInterface(empty)); }), AdoCode(adErrInvalidArgument));

    // A closed stream cannot take a recordset; nothing is written.
    auto conn = OpenConnection(FFile);
    auto src = OpenRecordset(conn, "SELECT * FROM items", adUseClient, adOpenStatic, adLockReadOnly);
    auto closed = CoStream::Create();
    EXPECT_EQ(OleCode([&] { src->Save(Com::VarFromInterface(closed), adPersistXML); }), AdoCode(adErrObjectClosed));
    // A TableGram is binary: a stream already holding text does not take one.
    auto text = OpenMemory();
    text->WriteText(u"notes");
    EXPECT_EQ(OleCode([&] { src->Save(Com::VarFromInterface(text), adPersistADTG); }), AdoCode(adErrIllegalOperation));
    EXPECT_EQ(AllBytes(text), std::string("\xFF\xFEn\0o\0t\0e\0s\0", 12));
}

TEST_F(StreamRecordsetTest, ACommandStreamStandsInForTheCommandText) {
    auto conn = OpenConnection(FFile);
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(conn.Get());
    cmd->SetCommandText(u"SELECT 1");
    auto stream = OpenMemory();
    stream->WriteText(u"SELECT name FROM items WHERE qty = 20");
    cmd->SetCommandStreamRef(stream.Get());
    EXPECT_EQ(N(cmd->GetCommandText()), "");
    EXPECT_FALSE(cmd->GetCommandStream().IsEmpty());
    auto rs = cmd->Execute();
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "plum");
    // A text set afterwards replaces the stream.
    cmd->SetCommandText(u"SELECT name FROM items WHERE qty = 2");
    EXPECT_TRUE(cmd->GetCommandStream().IsEmpty());
    EXPECT_EQ(N(FieldValue(cmd->Execute(), "name").ToWideString()), "fig");
    auto notStream = CoRecordset::Create();
    EXPECT_EQ(OleCode([&] { cmd->SetCommandStreamRef(notStream.Get()); }), AdoCode(adErrInvalidArgument));
}

}  // namespace
}  // namespace AdoTest
