#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "Platform/rtl/Classes.h"

using namespace Rtl;
namespace fs = std::filesystem;

namespace {

template <class F>
String ErrorOf(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return String(e.ClassName()) + ": " + e.Message();
    }
    return "no error";
}

// A fresh directory per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        String templ = (fs::temp_directory_path() / "velora-classes-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        Dir = templ;
    }
    void TearDown() override { fs::remove_all(Dir); }

    String Path(const char* name) const { return (Dir / name).string(); }
    static String ReadAll(const String& path) {
        std::ifstream in(path, std::ios::binary);
        return String(std::istreambuf_iterator<char>(in), {});
    }
    static void WriteAll(const String& path, const String& data) {
        std::ofstream(path, std::ios::binary) << data;
    }
    std::vector<String> Entries() const {
        std::vector<String> r;
        for (auto& e : fs::directory_iterator(Dir)) r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }

    fs::path Dir;
};

// Counts the change events of a string list and what the list held when they fired.
struct TEventLog {
    int Changing = 0, Change = 0;
    std::vector<int> CountAtChanging, CountAtChange;
    void Attach(TStringList& list) {
        list.OnChanging = [this, &list](TObject* sender) {
            EXPECT_EQ(sender, &list);
            ++Changing;
            CountAtChanging.push_back(list.Count());
        };
        list.OnChange = [this, &list](TObject*) {
            ++Change;
            CountAtChange.push_back(list.Count());
        };
    }
};

// An object that reports its destruction.
class TTracked : public TObject {
public:
    explicit TTracked(int& destroyed) : FDestroyed(destroyed) {}
    ~TTracked() override { ++FDestroyed; }

private:
    int& FDestroyed;
};

std::vector<String> Items(const TStrings& s) {
    std::vector<String> r;
    for (int i = 0; i < s.Count(); ++i) r.push_back(s[i]);
    return r;
}

using Lines = std::vector<String>;

}  // namespace

// ---- Streams ---------------------------------------------------------------------------

TEST(MemoryStream, ReadWriteSeek) {
    TMemoryStream m;
    m.WriteBuffer("hello", 5);
    EXPECT_EQ(m.GetSize(), 5);
    EXPECT_EQ(m.GetPosition(), 5);
    EXPECT_EQ(m.Seek(-2, soEnd), 3);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 2);  // a short read returns what there is
    EXPECT_EQ(String(buf, 2), "lo");
    EXPECT_EQ(m.Read(buf, 8), 0);
    m.SetPosition(7);  // beyond the end: writing fills the gap with zeros
    m.WriteBuffer("!", 1);
    EXPECT_EQ(m.GetSize(), 8);
    EXPECT_EQ(String(static_cast<const char*>(m.Memory()), 8), String("hello\0\0!", 8));
    m.SetSize(2);
    EXPECT_EQ(m.GetPosition(), 2);
    EXPECT_EQ(ErrorOf([&] { m.Seek(-3, soCurrent); }),
              "EStreamError: Invalid stream position -1: before the start of the stream");
    EXPECT_EQ(m.GetPosition(), 2);
    m.Clear();
    EXPECT_EQ(m.GetSize(), 0);
}

TEST(MemoryStream, ExactTransfersRaiseOnShortReads) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(1);
    char buf[4];
    EXPECT_EQ(ErrorOf([&] { m.ReadBuffer(buf, 4); }), "EReadError: Stream read error");
    m.SetPosition(0);
    m.ReadBuffer(buf, 3);
    EXPECT_EQ(String(buf, 3), "abc");
    EXPECT_THROW(m.ReadBuffer(buf, -1), EReadError);
    m.ReadBuffer(buf, 0);  // nothing to do
}

TEST(MemoryStream, CopyFromAndLoad) {
    TStringStream src("0123456789");
    src.SetPosition(4);
    TMemoryStream dst;
    EXPECT_EQ(dst.CopyFrom(&src, 0), 10);  // 0: the whole source from its start
    EXPECT_EQ(String(static_cast<const char*>(dst.Memory()), 10), "0123456789");
    src.SetPosition(8);
    EXPECT_EQ(dst.CopyFrom(&src, 2), 2);
    EXPECT_EQ(dst.GetSize(), 12);
    src.SetPosition(8);
    EXPECT_THROW(dst.CopyFrom(&src, 5), EReadError);

    TMemoryStream loaded;
    loaded.WriteBuffer("keep", 4);
    src.SetPosition(3);
    loaded.LoadFromStream(&src);
    EXPECT_EQ(loaded.GetSize(), 10);
    EXPECT_EQ(loaded.GetPosition(), 0);
}

TEST(StringStream, Text) {
    TStringStream s("abc");
    EXPECT_EQ(s.ReadString(2), "ab");
    EXPECT_EQ(s.ReadString(5), "c");
    s.WriteString("de");
    EXPECT_EQ(s.DataString(), "abcde");
    s.SetPosition(1);
    s.WriteString("X");
    EXPECT_EQ(s.DataString(), "aXcde");
    s.SetSize(2);
    EXPECT_EQ(s.DataString(), "aX");
    EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
}

TEST_F(TempDirTest, FileStreamCreatesReadsAndWrites) {
    const String name = Path("data.bin");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer("0123456789", 10);
        EXPECT_EQ(f.GetSize(), 10);
        f.SetSize(6);
        EXPECT_EQ(f.GetPosition(), 6);
    }
    EXPECT_EQ(ReadAll(name), "012345");
    {
        TFileStream f(name, fmOpenReadWrite);
        f.Seek(2, soBeginning);
        f.WriteBuffer("ab", 2);
        f.SetPosition(0);
        char buf[10];
        EXPECT_EQ(f.Read(buf, 10), 6);
        EXPECT_EQ(String(buf, 6), "01ab45");
        EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
        EXPECT_THROW(f.Seek(-1, soBeginning), EStreamError);
        EXPECT_EQ(f.FileName(), name);
    }
    {
        TFileStream f(name, fmOpenRead);
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError);
    }
    EXPECT_EQ(ReadAll(name), "01ab45");
}

TEST_F(TempDirTest, FileStreamErrorsNameTheFile) {
    const String missing = Path("missing.bin");
    EXPECT_EQ(ErrorOf([&] { TFileStream(missing, fmOpenRead); }),
              "EFOpenError: Cannot open file \"" + missing + "\". No such file or directory");
    const String noDir = Path("no/such/dir.bin");
    EXPECT_EQ(ErrorOf([&] { TFileStream(noDir, fmCreate); }),
              "EFCreateError: Cannot create file \"" + noDir + "\". No such file or directory");
    EXPECT_EQ(ErrorOf([&] { TFileStream(Dir.string(), fmOpenRead); }),
              "EFOpenError: Cannot open file \"" + Dir.string() + "\". Is a directory");
}

TEST_F(TempDirTest, SaveToFileReplacesOnlyWhenComplete) {
    const String name = Path("out.txt");
    WriteAll(name, "previous");
    ::chmod(name.c_str(), 0640);
    TMemoryStream m;
    m.WriteBuffer("new contents", 12);
    m.SaveToFile(name);
    EXPECT_EQ(ReadAll(name), "new contents");
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(Entries(), std::vector<String>{"out.txt"});  // nothing left beside it

    // A target that cannot be replaced: the error names it, nothing is lost.
    fs::create_directory(Dir / "sub");
    WriteAll(Path("sub/keep.txt"), "kept");
    EXPECT_THROW(m.SaveToFile(Path("sub")), EFCreateError);
    EXPECT_EQ(ReadAll(Path("sub/keep.txt")), "kept");
    EXPECT_THROW(m.SaveToFile(Path("none/out.txt")), EFCreateError);
    EXPECT_EQ(Entries(), (std::vector<String>{"out.txt", "sub"}));
}

TEST_F(TempDirTest, SaveToFileWritesThroughSymbolicLinks) {
    WriteAll(Path("real.txt"), "old");
    fs::create_symlink(Path("real.txt"), Path("link.txt"));
    TStringList list;
    list.Add("line");
    list.SaveToFile(Path("link.txt"));
    EXPECT_TRUE(fs::is_symlink(Dir / "link.txt"));
    EXPECT_EQ(ReadAll(Path("real.txt")), "line\r\n");
}

// ---- TList -------------------------------------------------------------------------------

TEST(List, IndexChecksAndOrder) {
    int a = 1, b = 2, c = 3;
    TList l;
    EXPECT_EQ(l.Add(&a), 0);
    l.Add(&c);
    l.Insert(1, &b);
    EXPECT_EQ(l.Count(), 3);
    EXPECT_EQ(l.Get(1), &b);
    EXPECT_EQ(l.IndexOf(&c), 2);
    struct Bad { const char* what; std::function<void()> f; const char* error; } bad[] = {
        {"Get", [&] { l.Get(3); }, "EListError: List index out of bounds (3)"},
        {"Put", [&] { l.Put(-1, &a); }, "EListError: List index out of bounds (-1)"},
        {"Insert", [&] { l.Insert(4, &a); }, "EListError: List index out of bounds (4)"},
        {"Delete", [&] { l.Delete(3); }, "EListError: List index out of bounds (3)"},
        {"Exchange", [&] { l.Exchange(0, 5); }, "EListError: List index out of bounds (5)"},
        {"Move", [&] { l.Move(7, 0); }, "EListError: List index out of bounds (7)"},
    };
    for (auto& x : bad) EXPECT_EQ(ErrorOf(x.f), x.error) << x.what;
    EXPECT_EQ(l.Count(), 3);
    l.Move(0, 2);
    EXPECT_EQ(l.First(), &b);
    EXPECT_EQ(l.Last(), &a);
    l.Exchange(0, 2);
    EXPECT_EQ(l.First(), &a);
    EXPECT_EQ(l.Remove(&c), 1);
    EXPECT_EQ(l.Remove(&c), -1);
    EXPECT_EQ(l.Extract(&b), &b);
    EXPECT_EQ(l.Extract(&b), nullptr);
    l.Clear();
    EXPECT_THROW(l.First(), EListError);
}

TEST(List, SortIsStableAndSafeWithAnyComparison) {
    int values[] = {3, 1, 2, 1, 3};
    TList l;
    for (int& v : values) l.Add(&v);
    l.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
    EXPECT_EQ(l.Get(0), &values[1]);
    EXPECT_EQ(l.Get(1), &values[3]);
    EXPECT_EQ(l.Get(3), &values[0]);

    // A comparison that answers at random still leaves every item in the list.
    TList many;
    std::vector<int> data(500);
    for (int& v : data) many.Add(&v);
    static std::mt19937 rng(1);
    many.Sort([](void*, void*) { return static_cast<int>(rng() % 3) - 1; });
    EXPECT_EQ(many.Count(), 500);
    for (int& v : data) EXPECT_GE(many.IndexOf(&v), 0);
}

// ---- TStrings / TStringList ----------------------------------------------------------------

TEST(StringList, TextSplitsOnEveryLineBreak) {
    struct Case { const char* text; Lines lines; } cases[] = {
        {"", {}}, {"a", {"a"}}, {"a\r\n", {"a"}}, {"a\r\nb", {"a", "b"}}, {"a\nb\n", {"a", "b"}},
        {"a\rb", {"a", "b"}}, {"\r\n", {""}}, {"a\r\n\r\nb", {"a", "", "b"}}, {"a\n\rb", {"a", "", "b"}},
    };
    for (auto& c : cases) {
        TStringList l;
        l.SetText(c.text);
        EXPECT_EQ(Items(l), c.lines) << c.text;
    }
    TStringList l;
    l.SetText("x\ny");
    EXPECT_EQ(l.GetText(), "x\r\ny\r\n");
}

TEST(StringList, CommaTextQuotesWhatNeedsIt) {
    struct Case { Lines items; const char* text; } cases[] = {
        {{}, ""}, {{""}, "\"\""}, {{"a", "b"}, "a,b"}, {{"a b", "c"}, "\"a b\",c"},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\""}, {{"x,y"}, "\"x,y\""}, {{"a", ""}, "a,"},
        {{"", "b"}, ",b"}, {{"tab\there"}, "\"tab\there\""},
    };
    for (auto& c : cases) {
        TStringList l;
        for (auto& s : c.items) l.Add(s);
        EXPECT_EQ(l.GetCommaText(), c.text);
        TStringList back;
        back.SetCommaText(c.text);
        EXPECT_EQ(Items(back), c.items) << c.text;
    }
}

TEST(StringList, CommaTextParsing) {
    struct Case { const char* text; Lines items; } cases[] = {
        {"a b", {"a", "b"}},                 // unquoted blanks separate items
        {"  a ,  b  ", {"a", "b"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {"\"a b\",c", {"a b", "c"}},
        {"\"a\"\"b\"", {"a\"b"}},
        {"\"unterminated", {"unterminated"}},
        {"\"a\"b", {"a", "b"}},
        {"   ", {}},
        {"\"\"", {""}},
    };
    for (auto& c : cases) {
        TStringList l;
        l.SetCommaText(c.text);
        EXPECT_EQ(Items(l), c.items) << c.text;
    }
    TStringList nul;
    nul.SetCommaText(std::string_view("a\0b", 3));  // NUL counts as a blank
    EXPECT_EQ(Items(nul), (Lines{"a", "b"}));
}

TEST(StringList, DelimitedTextUsesItsOwnCharacters) {
    TStringList l;
    l.Delimiter = ';';
    l.QuoteChar = '\'';
    l.SetDelimitedText("a;'b;c';'it''s'");
    EXPECT_EQ(Items(l), (Lines{"a", "b;c", "it's"}));
    EXPECT_EQ(l.GetDelimitedText(), "a;'b;c';'it''s'");
    EXPECT_EQ(l.GetCommaText(), "a,b;c,it's");  // comma text always uses , and "
    EXPECT_EQ(l.Delimiter, ';');
}

TEST(StringList, NamesAndValues) {
    TStringList l;
    l.SetText("a=1\nb=2=3\nplain\nC=4");
    EXPECT_EQ(l.Names(1), "b");
    EXPECT_EQ(l.ValueFromIndex(1), "2=3");
    EXPECT_EQ(l.Names(2), "");
    EXPECT_EQ(l.ValueFromIndex(2), "");
    EXPECT_EQ(l.GetValue("c"), "4");  // names compare case-insensitively
    EXPECT_EQ(l.IndexOfName("plain"), -1);
    l.SetValue("b", "x");
    EXPECT_EQ(l[1], "b=x");
    l.SetValue("d", "5");
    EXPECT_EQ(l[4], "d=5");
    l.SetValue("a", "");
    EXPECT_EQ(l.IndexOfName("a"), -1);
    EXPECT_EQ(l.Count(), 4);
    l.NameValueSeparator = ':';
    l.Add("k:v");
    EXPECT_EQ(l.GetValue("k"), "v");
}

TEST(StringList, SortedListsInsertInOrder) {
    TStringList l;
    l.Add("b");
    l.Add("a");
    l.SetSorted(true);
    EXPECT_EQ(Items(l), (Lines{"a", "b"}));
    l.Add("c");
    l.Add("aa");
    EXPECT_EQ(Items(l), (Lines{"a", "aa", "b", "c"}));
    int index;
    EXPECT_TRUE(l.Find("B", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(l.Find("ab", index));
    EXPECT_EQ(index, 2);
    EXPECT_EQ(l.IndexOf("C"), 3);
    EXPECT_EQ(ErrorOf([&] { l.Insert(0, "z"); }), "EStringListError: Operation not allowed on sorted list");
    EXPECT_THROW(l.Put(0, "z"), EStringListError);
    // Move is refused before anything changes.
    EXPECT_THROW(l.Move(0, 3), EStringListError);
    EXPECT_EQ(Items(l), (Lines{"a", "aa", "b", "c"}));
}

TEST(StringList, Duplicates) {
    struct Case { TDuplicates mode; int index; int count; const char* error; } cases[] = {
        {dupIgnore, 0, 2, "no error"},
        {dupAccept, 0, 3, "no error"},
        {dupError, -1, 2, "EStringListError: String list does not allow duplicates"},
    };
    for (auto& c : cases) {
        TStringList l;
        l.SetSorted(true);
        l.SetDuplicates(c.mode);
        l.Add("x");
        l.Add("y");
        int index = -1;
        EXPECT_EQ(ErrorOf([&] { index = l.Add("X"); }), c.error);
        EXPECT_EQ(index, c.index);
        EXPECT_EQ(l.Count(), c.count);
    }
    TStringList unsorted;  // duplicates are only checked in sorted lists
    unsorted.SetDuplicates(dupError);
    unsorted.Add("x");
    EXPECT_NO_THROW(unsorted.Add("x"));
}

TEST(StringList, CaseSensitivity) {
    TStringList l;
    l.SetText("Beta\nalpha\nGamma\nbeta");
    EXPECT_EQ(l.IndexOf("BETA"), 0);
    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("BETA"), -1);
    EXPECT_EQ(l.IndexOf("beta"), 3);

    // Changing the comparison of a sorted list keeps it sorted for Find.
    TStringList sorted;
    sorted.SetDuplicates(dupAccept);
    sorted.SetSorted(true);
    for (const char* s : {"b", "B", "a", "C", "c", "A"}) sorted.Add(s);
    sorted.SetCaseSensitive(true);
    for (int i = 0; i < sorted.Count(); ++i) {
        int index;
        EXPECT_TRUE(sorted.Find(sorted[i], index)) << sorted[i];
        EXPECT_EQ(index, i) << sorted[i];
    }
}

TEST(StringList, ChangeEventsFireOncePerUpdateBlock) {
    struct Case { const char* what; std::function<void(TStringList&)> act; int events; } cases[] = {
        {"Add", [](TStringList& l) { l.Add("x"); }, 1},
        {"empty block", [](TStringList& l) { l.BeginUpdate(); l.EndUpdate(); }, 0},
        {"block of three", [](TStringList& l) { l.BeginUpdate(); l.Add("1"); l.Add("2"); l.Delete(0); l.EndUpdate(); }, 1},
        {"nested blocks", [](TStringList& l) {
             l.BeginUpdate(); l.BeginUpdate(); l.Add("1"); l.EndUpdate(); l.Add("2"); l.EndUpdate(); }, 1},
        {"SetText", [](TStringList& l) { l.SetText("a\nb\nc"); }, 1},
        {"SetCommaText", [](TStringList& l) { l.SetCommaText("a,b"); }, 1},
        {"Clear of an empty list", [](TStringList& l) { l.Clear(); }, 0},
        {"Sort of an empty list", [](TStringList& l) { l.Sort(); }, 0},
        {"Exchange", [](TStringList& l) { l.Add("b"); l.Add("a"); l.Exchange(0, 1); }, 3},
    };
    for (auto& c : cases) {
        TStringList l;
        TEventLog log;
        log.Attach(l);
        c.act(l);
        EXPECT_EQ(log.Changing, c.events) << c.what;
        EXPECT_EQ(log.Change, c.events) << c.what;
    }
    // OnChanging sees the list before the change, OnChange after it.
    TStringList l;
    l.Add("old");
    TEventLog log;
    log.Attach(l);
    l.SetText("a\nb");
    EXPECT_EQ(log.CountAtChanging, std::vector<int>{1});
    EXPECT_EQ(log.CountAtChange, std::vector<int>{2});
}

TEST(StringList, EndUpdateRunsWhenTheBlockRaises) {
    TStringList l;
    TEventLog log;
    log.Attach(l);
    l.SetSorted(true);
    l.SetDuplicates(dupError);
    TStringList source;
    source.SetText("a\nb\na");
    EXPECT_THROW(l.Assign(&source), EStringListError);
    EXPECT_EQ(l.UpdateCount(), 0);
    EXPECT_EQ(log.Change, 1);
    EXPECT_EQ(Items(l), (Lines{"a", "b"}));
}

TEST(StringList, AssignCopiesItemsAndSettings) {
    int destroyed = 0;
    TTracked obj(destroyed);
    TStringList src;
    src.Delimiter = ';';
    src.AddObject("one", &obj);
    src.Add("two");
    TStringList dst;
    dst.Add("gone");
    dst.Assign(&src);
    EXPECT_EQ(Items(dst), (Lines{"one", "two"}));
    EXPECT_EQ(dst.GetObject(0), &obj);
    EXPECT_EQ(dst.Delimiter, ';');
    EXPECT_TRUE(dst.Equals(&src));
    dst.Assign(&dst);  // self-assignment changes nothing
    EXPECT_EQ(dst.Count(), 2);
    TPersistent other;
    EXPECT_EQ(ErrorOf([&] { dst.Assign(&other); }), "EConvertError: Cannot assign a TPersistent to a TStringList");
    dst.AddStrings(&dst);
    EXPECT_EQ(Items(dst), (Lines{"one", "two", "one", "two"}));
}

TEST(StringList, OwnedObjectsAreFreedWithTheirItems) {
    int destroyed = 0;
    {
        TStringList l;
        l.OwnsObjects = true;
        for (const char* s : {"a", "b", "c", "d"}) l.AddObject(s, new TTracked(destroyed));
        l.Delete(0);
        EXPECT_EQ(destroyed, 1);
        // Moving and exchanging hand objects around without freeing them.
        TObject* b = l.GetObject(0);
        l.Move(0, 2);
        l.Exchange(0, 1);
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(l.GetObject(2), b);
        EXPECT_EQ(l.IndexOfObject(b), 2);
        l.Clear();
        EXPECT_EQ(destroyed, 4);
        l.AddObject("e", new TTracked(destroyed));
    }
    EXPECT_EQ(destroyed, 5);
}

TEST(StringList, IndexErrors) {
    TStringList l;
    l.Add("a");
    struct Bad { const char* what; std::function<void()> f; const char* error; } bad[] = {
        {"Get", [&] { l.Get(1); }, "EStringListError: List index out of bounds (1)"},
        {"Put", [&] { l.Put(-1, "x"); }, "EStringListError: List index out of bounds (-1)"},
        {"Delete", [&] { l.Delete(5); }, "EStringListError: List index out of bounds (5)"},
        {"Insert", [&] { l.Insert(2, "x"); }, "EStringListError: List index out of bounds (2)"},
        {"Objects", [&] { l.PutObject(1, nullptr); }, "EStringListError: List index out of bounds (1)"},
        {"Move", [&] { l.Move(0, 1); }, "EStringListError: List index out of bounds (1)"},
    };
    for (auto& b : bad) EXPECT_EQ(ErrorOf(b.f), b.error) << b.what;
    EXPECT_EQ(Items(l), Lines{"a"});
    l.Insert(1, "b");  // the end is a valid insertion point
    l.Move(1, 0);
    EXPECT_EQ(Items(l), (Lines{"b", "a"}));
}

TEST(StringList, CustomSortWithAnyComparisonKeepsEveryItem) {
    TStringList l;
    for (int i = 0; i < 200; ++i) l.Add(IntToStr(i));
    static std::mt19937 rng(7);
    l.CustomSort([](TStringList*, int, int) { return static_cast<int>(rng() % 3) - 1; });
    EXPECT_EQ(l.Count(), 200);
    for (int i = 0; i < 200; ++i) EXPECT_GE(l.IndexOf(IntToStr(i)), 0);
    l.CustomSort([](TStringList* list, int a, int b) {
        return StrToInt(list->Get(b)) - StrToInt(list->Get(a));  // descending
    });
    EXPECT_EQ(l[0], "199");
    EXPECT_EQ(l[199], "0");
}

TEST_F(TempDirTest, StringListFilesAndStreams) {
    TStringList l;
    l.SetText("first\nsecond");
    const String name = Path("list.txt");
    l.SaveToFile(name);
    EXPECT_EQ(ReadAll(name), "first\r\nsecond\r\n");
    WriteAll(name, "\xEF\xBB\xBFone\ntwo");  // a byte order mark is not part of the text
    TStringList loaded;
    loaded.LoadFromFile(name);
    EXPECT_EQ(Items(loaded), (Lines{"one", "two"}));
    // A file that cannot be read leaves the list as it was.
    EXPECT_THROW(loaded.LoadFromFile(Path("missing.txt")), EFOpenError);
    EXPECT_EQ(loaded.Count(), 2);

    TStringStream s("skip|a\r\nb");
    s.SetPosition(5);  // loading reads from the current position
    loaded.LoadFromStream(&s);
    EXPECT_EQ(Items(loaded), (Lines{"a", "b"}));
    TStringStream out;
    loaded.SaveToStream(&out);
    EXPECT_EQ(out.DataString(), "a\r\nb\r\n");
}
