#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include "TestClasses.h"

using namespace VclTest;

namespace {

// Frees the component named by Victim when it is loaded.
class TKiller : public TComponent {
    VCL_CLASS(TKiller, TComponent)
public:
    explicit TKiller(TComponent* AOwner) : TComponent(AOwner) {}
    String Victim;

protected:
    void Loaded() override {
        TComponent::Loaded();
        Log().push_back("Loaded:" + GetName());
        delete GetOwner()->FindComponent(Victim);
    }
};

VCL_COMPONENT_IMPL(TKiller, TComponent) {
    Prop("Victim", &TKiller::Victim, &TKiller::Victim);
}

// Streams values of every kind through its own defined properties.
class TMixed : public TComponent {
    VCL_CLASS(TMixed, TComponent)
public:
    explicit TMixed(TComponent* AOwner) : TComponent(AOwner), Coll(new TSampleItems(this)) {}
    ~TMixed() override { delete Coll; }
    Variant V;
    TDateTime D;
    Rtl::Currency C;
    bool B = false;
    double F = 0;
    WideString W;
    String I;
    TSampleItems* Coll;
    std::vector<TValueType> Seen;

protected:
    void DefineProperties(TFiler* Filer) override {
        Filer->DefineProperty(
            "Mixed",
            [this](TReader* r) {
                Seen.clear();
                r->ReadListBegin();
                Seen.push_back(r->NextValue());
                V = r->ReadVariant();
                Seen.push_back(r->NextValue());
                D = r->ReadDate();
                Seen.push_back(r->NextValue());
                C = r->ReadCurrency();
                Seen.push_back(r->NextValue());
                B = r->ReadBoolean();
                Seen.push_back(r->NextValue());
                F = r->ReadFloat();
                Seen.push_back(r->NextValue());
                W = r->ReadWideString();
                Seen.push_back(r->NextValue());
                I = r->ReadIdent();
                Seen.push_back(r->NextValue());
                r->ReadListEnd();
            },
            [this](TWriter* w) {
                w->WriteListBegin();
                w->WriteVariant(V);
                w->WriteDate(D);
                w->WriteCurrency(C);
                w->WriteBoolean(B);
                w->WriteFloat(F);
                w->WriteWideString(W);
                w->WriteIdent(I);
                w->WriteListEnd();
            },
            true);
        Filer->DefineProperty("Coll", [this](TReader* r) { r->ReadCollection(Coll); },
                              [this](TWriter* w) { w->WriteCollection(Coll); }, Coll->GetCount() > 0);
    }
};

VCL_COMPONENT_IMPL(TMixed, TComponent) {}

class FormFile : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterTestClasses();
        RegisterClass<TKiller>();
        RegisterClass<TMixed>();
        Log().clear();
        Root->SetName("Module1");
    }
    void TearDown() override { Application->SetOnException(nullptr); }

    TSample* Add(const char* name, TComponent* owner = nullptr) {
        auto* s = new TSample(owner ? owner : Root.get());
        s->SetName(name);
        return s;
    }
    // Writes Root, reads the text into a fresh module and writes that again:
    // the two texts must agree. Returns the text.
    String RoundTrip(const TEventHandlers* handlers = nullptr) {
        String text = ComponentToText(Root.get());
        Copy = std::make_unique<TDataModule>(nullptr);
        ReadComponentFromText(text, Copy.get(), handlers);
        EXPECT_EQ(ComponentToText(Copy.get()), text);
        return text;
    }
    TSample* Copied(const char* name) { return dynamic_cast<TSample*>(Copy->FindComponent(name)); }

    std::unique_ptr<TDataModule> Root = std::make_unique<TDataModule>(nullptr);
    std::unique_ptr<TDataModule> Copy;
};

bool SameVariant(const Variant& a, const Variant& b) {
    if (a.VType() != b.VType()) return false;
    if (a.VType() == Rtl::varDouble && std::isnan(a.ToDouble())) return std::isnan(b.ToDouble());
    if (a.VType() == Rtl::varOleStr) return a.ToWideString() == b.ToWideString();
    return a.IsNull() || a == b;
}

}  // namespace

TEST_F(FormFile, WritesTheFamiliarTextFormat) {
    TSample* s1 = Add("S1");
    TSample* s2 = Add("S2");
    s1->SetCount(12);
    s1->SetSmall(200);
    s1->SetWide16(65535);
    s1->SetBig(-5000000000LL);
    s1->SetFlag(true);
    s1->SetComFlag(true);
    s1->SetRatio(0.1);
    s1->SetSingle(0.5f);
    s1->SetWhen(TDateTime(45000.25));
    s1->SetTitle("It's\r\nhere");
    s1->SetWideTitle(u"Grüße ✓");
    s1->SetValue(42);
    s1->SetMode(fmLazy);
    s1->SetOptions({opB, opC});
    s1->GetLines()->Add("select *");
    s1->GetLines()->Add("from t");
    s1->SetLink(s2);
    auto* item = static_cast<TSampleItem*>(s1->GetItems()->Add());
    item->SetName("a");
    item->SetWeight(2);
    item->SetTarget(s2);
    s1->GetItems()->Add();
    s1->Blob = {1, 2, 3};
    s1->Pairs = {{"x", 1}};
    s1->SetOnChange(NamedEvent<void(TObject*)>("S1Change", [](TObject*) {}));
    s1->SetHidden("never written");

    const char* expected =
        "object Module1: TDataModule\n"
        "  object S1: TSample\n"
        "    Count = 12\n"
        "    Small = 200\n"
        "    Wide16 = 65535\n"
        "    Big = -5000000000\n"
        "    Flag = True\n"
        "    ComFlag = True\n"
        "    Ratio = 0.1\n"
        "    Single = 0.5s\n"
        "    When = 45000.25d\n"
        "    Title = 'It''s'#13#10'here'\n"
        "    WideTitle = 'Grüße ✓'\n"
        "    Value = 42\n"
        "    Mode = fmLazy\n"
        "    Options = [opB, opC]\n"
        "    Lines.Strings = (\n"
        "      'select *'\n"
        "      'from t')\n"
        "    Link = S2\n"
        "    Items = <\n"
        "      item\n"
        "        Name = 'a'\n"
        "        Weight = 2\n"
        "        Target = S2\n"
        "      end\n"
        "      item\n"
        "      end>\n"
        "    Maybe = 0\n"
        "    OnChange = S1Change\n"
        "    Blob = {\n"
        "      010203}\n"
        "    Pairs = (\n"
        "      'x'\n"
        "      1)\n"
        "  end\n"
        "  object S2: TSample\n"
        "    ComFlag = False\n"
        "    Items = <>\n"
        "    Maybe = 0\n"
        "  end\n"
        "end\n";
    EXPECT_EQ(ComponentToText(Root.get()), expected);

    TEventHandlers handlers;
    int changes = 0;
    handlers.Add<TNotifyEvent>("S1Change", [&](TObject*) { ++changes; });
    RoundTrip(&handlers);
    TSample* c1 = Copied("S1");
    ASSERT_NE(c1, nullptr);
    EXPECT_EQ(c1->GetBig(), -5000000000LL);
    EXPECT_EQ(c1->GetTitle(), "It's\r\nhere");
    EXPECT_EQ(c1->GetWideTitle(), u"Grüße ✓");
    EXPECT_EQ(c1->GetOptions(), (TOptions{opB, opC}));
    EXPECT_EQ(c1->GetLines()->GetText(), "select *\r\nfrom t\r\n");
    EXPECT_EQ(c1->GetLink(), Copied("S2"));
    EXPECT_EQ(c1->GetItems()->Item(0)->GetTarget(), Copied("S2"));
    EXPECT_EQ(c1->Blob, (std::vector<Byte>{1, 2, 3}));
    EXPECT_EQ(c1->Pairs, s1->Pairs);
    EXPECT_EQ(c1->GetHidden(), "");
    c1->GetOnChange()(c1);
    EXPECT_EQ(changes, 1);
}

TEST_F(FormFile, EveryValueKindSurvivesARoundTrip) {
    struct Case {
        const char* What;
        std::function<void(TSample*)> Set;
        std::function<bool(TSample*)> Same;
    };
    const String longText = String(150, 'x') + "'quoted'\t" + String(70, 'y');
    const WideString wideOdd = u"a" + WideString(1, u'\xD800') + u"b\U0001F600";
    auto variant = [](Variant v) {
        return Case{"variant", [v](TSample* s) { s->SetValue(v); }, [v](TSample* s) { return SameVariant(s->GetValue(), v); }};
    };
    auto ratio = [](double d) {
        return Case{"double", [d](TSample* s) { s->SetRatio(d); },
                    [d](TSample* s) { return std::isnan(d) ? std::isnan(s->GetRatio()) : std::signbit(d) == std::signbit(s->GetRatio()) && s->GetRatio() == d; }};
    };
    Case cases[] = {
        {"long string", [&](TSample* s) { s->SetTitle(longText); }, [&](TSample* s) { return s->GetTitle() == longText; }},
        {"raw bytes", [](TSample* s) { s->SetTitle(String("\xff\xfe\0z", 4)); },
         [](TSample* s) { return s->GetTitle() == String("\xff\xfe\0z", 4); }},
        {"lone surrogate", [&](TSample* s) { s->SetWideTitle(wideOdd); }, [&](TSample* s) { return s->GetWideTitle() == wideOdd; }},
        {"Int64 minimum", [](TSample* s) { s->SetBig(INT64_MIN); }, [](TSample* s) { return s->GetBig() == INT64_MIN; }},
        {"empty set", [](TSample* s) { s->SetOptions({}); }, [](TSample* s) { return s->GetOptions().Empty(); }},
        {"ordinal 5", [](TSample* s) { s->SetMode(fmLazy); }, [](TSample* s) { return s->GetMode() == fmLazy; }},
        {"single", [](TSample* s) { s->SetSingle(0.1f); }, [](TSample* s) { return s->GetSingle() == 0.1f; }},
        ratio(0.1), ratio(-0.0), ratio(1.7976931348623157e308), ratio(5e-324), ratio(1e22), ratio(NAN),
        ratio(HUGE_VAL), ratio(-HUGE_VAL),
        variant(Variant::Null()), variant(true), variant(false), variant(-7), variant(1LL << 40), variant(2.5),
        variant(0.25f), variant(Rtl::Currency::FromScaled(123456)), variant(TDateTime(45000.5)),
        variant("text"), variant(wideOdd), variant(String()),
    };
    TSample* s = Add("S");
    for (auto& c : cases) {
        SCOPED_TRACE(c.What);
        c.Set(s);
        RoundTrip();
        TSample* copy = Copied("S");
        ASSERT_NE(copy, nullptr);
        EXPECT_TRUE(c.Same(copy));
    }
    // Long strings are split over several lines joined with '+'.
    s->SetTitle(longText);
    String text = ComponentToText(Root.get());
    EXPECT_NE(text.find("    Title =\n      '"), String::npos) << text;
    EXPECT_NE(text.find("' +\n      '"), String::npos) << text;
}

TEST_F(FormFile, ReferencesResolveAfterTheWholeFileWasRead) {
    const char* text =
        "object Module1: TDataModule\n"
        "  object S1: TSample\n"
        "    Link = S2\n"
        "    Items = <\n"
        "      item\n"
        "        Target = Box.Inner\n"
        "      end\n"
        "      item\n"
        "        Target = Module1.S1\n"
        "      end>\n"
        "  end\n"
        "  object Box: TContainer\n"
        "    object Inner: TSample\n"
        "      Link = S1\n"
        "    end\n"
        "  end\n"
        "  object S2: TSample\n"
        "  end\n"
        "end\n";
    ReadComponentFromText(text, Root.get());
    auto* s1 = dynamic_cast<TSample*>(Root->FindComponent("S1"));
    auto* s2 = dynamic_cast<TSample*>(Root->FindComponent("S2"));
    auto* box = Root->FindComponent("Box");
    auto* inner = dynamic_cast<TSample*>(box->FindComponent("Inner"));
    ASSERT_TRUE(s1 && s2 && box && inner);
    EXPECT_EQ(inner->GetOwner(), box);  // nested components belong to their container
    EXPECT_EQ(s1->GetLink(), s2);
    EXPECT_EQ(s1->GetItems()->Item(0)->GetTarget(), inner);
    EXPECT_EQ(s1->GetItems()->Item(1)->GetTarget(), s1);
    EXPECT_EQ(inner->GetLink(), s1);
    EXPECT_FALSE(s1->GetComponentState().Contains(csFixups));

    // Written back with the shortest names that find the same components.
    String written = ComponentToText(Root.get());
    EXPECT_NE(written.find("Target = Box.Inner"), String::npos);
    EXPECT_NE(written.find("Target = S1"), String::npos);

    // Freed components leave no references behind.
    delete s2;
    EXPECT_EQ(s1->GetLink(), nullptr);
    delete box;
    EXPECT_EQ(s1->GetItems()->Item(0)->GetTarget(), nullptr);
}

TEST_F(FormFile, ComponentsWrittenInsideTheirParentBelongToTheRoot) {
    const char* text =
        "object Module1: TDataModule\n"
        "  object H: THolder\n"
        "    object P1: TPart\n"
        "      Size = 3\n"
        "    end\n"
        "    object P2: TPart\n"
        "    end\n"
        "  end\n"
        "end\n";
    ReadComponentFromText(text, Root.get());
    auto* holder = dynamic_cast<THolder*>(Root->FindComponent("H"));
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(holder->Parts.size(), 2u);
    EXPECT_EQ(holder->Parts[0]->GetOwner(), Root.get());
    EXPECT_EQ(holder->Parts[0]->GetSize(), 3);
    EXPECT_EQ(holder->Parts[1]->GetParentComponent(), holder);
    EXPECT_EQ(ComponentToText(Root.get()), text);
}

TEST_F(FormFile, LoadedRunsOnceEverythingExistsInFileOrder) {
    const char* text =
        "object Module1: TDataModule\n"
        "  object S1: TSample\n"
        "    Title = 'x'\n"
        "    Link = S2\n"
        "  end\n"
        "  object Box: TContainer\n"
        "    object Inner: TSample\n"
        "    end\n"
        "  end\n"
        "  object S2: TSample\n"
        "  end\n"
        "end\n";
    ReadComponentFromText(text, Root.get());
    EXPECT_EQ(Log(), (std::vector<String>{"Loaded:S1->S2", "Loaded:Box", "Loaded:Inner", "Loaded:S2"}));
    auto* s1 = dynamic_cast<TSample*>(Root->FindComponent("S1"));
    EXPECT_TRUE(s1->StateAtTitle.Contains(csReading));
    EXPECT_TRUE(s1->StateAtTitle.Contains(csLoading));
    for (TComponent* c : {static_cast<TComponent*>(Root.get()), static_cast<TComponent*>(s1)}) {
        EXPECT_FALSE(c->GetComponentState().Contains(csReading));
        EXPECT_FALSE(c->GetComponentState().Contains(csLoading));
    }
}

TEST_F(FormFile, AComponentFreedDuringLoadingIsNotLoaded) {
    const char* text =
        "object Module1: TDataModule\n"
        "  object K: TKiller\n"
        "    Victim = 'S2'\n"
        "  end\n"
        "  object S2: TSample\n"
        "  end\n"
        "  object S3: TSample\n"
        "  end\n"
        "end\n";
    ReadComponentFromText(text, Root.get());
    EXPECT_EQ(Log(), (std::vector<String>{"Loaded:K", "Loaded:S3"}));
    EXPECT_EQ(Root->GetComponentCount(), 2);
}

TEST_F(FormFile, LoadedFailuresAreShownWhileDesigningAndRaisedOtherwise) {
    const char* text =
        "object Module1: TDataModule\n"
        "  object S1: TSample\n"
        "    FailLoad = True\n"
        "  end\n"
        "  object S2: TSample\n"
        "    FailLoad = True\n"
        "  end\n"
        "  object S3: TSample\n"
        "  end\n"
        "end\n";
    std::vector<String> shown;
    Application->SetOnException([&](TObject* sender, const std::exception& e) {
        shown.push_back(static_cast<TComponent*>(sender)->GetName() + ": " + e.what());
    });

    // In the designer every failure is shown and loading goes on.
    Root->SetDesigning(true);
    ReadComponentFromText(text, Root.get());
    EXPECT_EQ(shown, (std::vector<String>{"S1: cannot open S1", "S2: cannot open S2"}));
    EXPECT_EQ(Log(), (std::vector<String>{"Loaded:S1", "Loaded:S2", "Loaded:S3"}));
    EXPECT_EQ(Root->GetComponentCount(), 3);
    EXPECT_FALSE(Root->FindComponent("S1")->GetComponentState().Contains(csLoading));

    // At run time the first failure propagates and the read components go again.
    auto runtime = std::make_unique<TDataModule>(nullptr);
    const int alive = TSample::Alive;
    shown.clear();
    Log().clear();
    try {
        ReadComponentFromText(text, runtime.get());
        FAIL() << "no exception";
    } catch (const Rtl::EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "cannot open S1");
    }
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(Log(), (std::vector<String>{"Loaded:S1"}));
    EXPECT_EQ(runtime->GetComponentCount(), 0);
    EXPECT_EQ(TSample::Alive, alive);
    EXPECT_FALSE(runtime->GetComponentState().Contains(csLoading));
}

TEST_F(FormFile, EventsAreResolvedThroughTheApplicationsHandlers) {
    TEventHandlers handlers;
    std::vector<String> calls;
    handlers.Add<TNotifyEvent>("SampleChange", [&](TObject* s) { calls.push_back("change"); });
    handlers.Add<TValidateEvent>("SampleValidate", [&](TObject*, bool& ok) {
        calls.push_back("validate");
        ok = false;
    });
    handlers.Add<TNotifyEvent>("ModuleCreate", [&](TObject* s) { calls.push_back("create " + static_cast<TComponent*>(s)->GetName()); });
    const char* text =
        "object Module1: TDataModule\n"
        "  OnCreate = ModuleCreate\n"
        "  object S: TSample\n"
        "    ComFlag = False\n"
        "    Items = <>\n"
        "    Maybe = 0\n"
        "    OnChange = SampleChange\n"
        "    OnValidate = SampleValidate\n"
        "  end\n"
        "end\n";
    // No root given: the file's class is created, and its OnCreate fires once read.
    std::unique_ptr<TComponent> root(ReadComponentFromText(text, nullptr, &handlers));
    ASSERT_TRUE(root->Is<TDataModule>());
    EXPECT_EQ(calls, (std::vector<String>{"create Module1"}));
    auto* s = dynamic_cast<TSample*>(root->FindComponent("S"));
    s->GetOnChange()(s);
    bool ok = true;
    s->GetOnValidate()(s, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ComponentToText(root.get()), text);

    // A handler assigned in code has no name and is not written.
    s->SetOnChange([](TObject*) {});
    EXPECT_EQ(ComponentToText(root.get()).find("OnChange"), String::npos);
}

TEST_F(FormFile, DefinedPropertiesReadOldValuesAndWriteTheirOwn) {
    const char* text =
        "object Module1: TDataModule\n"
        "  Left = 10\n"
        "  Top = 20\n"
        "  object S: TSample\n"
        "    Legacy = 'from an old file'\n"
        "    Blob = {\n"
        "      000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\n"
        "      FF}\n"
        "    Pairs = ('a' 1 'b' -2)\n"
        "  end\n"
        "end\n";
    ReadComponentFromText(text, Root.get());
    auto* s = dynamic_cast<TSample*>(Root->FindComponent("S"));
    EXPECT_EQ(s->Legacy, "from an old file");
    ASSERT_EQ(s->Blob.size(), 33u);
    EXPECT_EQ(s->Blob[32], 0xFF);
    EXPECT_EQ(s->Pairs, (std::vector<std::pair<String, int>>{{"a", 1}, {"b", -2}}));
    EXPECT_EQ(Root->GetDesignTop(), 20);

    String written = ComponentToText(Root.get());
    EXPECT_EQ(written.find("Legacy"), String::npos);  // read-only: the writer has nothing to write
    EXPECT_NE(written.find("  Left = 10\n  Top = 20\n"), String::npos);
    EXPECT_NE(written.find("    Blob = {\n      000102"), String::npos);
    // While it was written the component was in csWriting, and is not any more.
    EXPECT_TRUE(s->StateWhenWritten.Contains(csWriting));
    EXPECT_FALSE(s->GetComponentState().Contains(csWriting));
}

TEST_F(FormFile, FilesAreReadAndWrittenWithoutLosingTheOldOneOnFailure) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(::testing::TempDir()) / ("vcl_form_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const String file = (dir / "module.vfm").string();

    TSample* s = Add("S");
    s->SetTitle("saved");
    WriteComponentResFile(file, Root.get());
    auto copy = std::make_unique<TDataModule>(nullptr);
    ReadComponentResFile(file, copy.get());
    EXPECT_EQ(dynamic_cast<TSample*>(copy->FindComponent("S"))->GetTitle(), "saved");

    // A value that cannot be written fails the save before the file is touched.
    s->SetValue(Rtl::VarArrayOf({1, 2}));
    EXPECT_THROW(WriteComponentResFile(file, Root.get()), Rtl::EWriteError);
    std::ifstream in(file);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(content.find("Title = 'saved'"), std::string::npos);

    EXPECT_THROW(ReadComponentResFile((dir / "missing.vfm").string(), copy.get()), Rtl::EFOpenError);
    fs::remove_all(dir);
}

TEST_F(FormFile, ReferencesToUnnamedComponentsCannotBeWritten) {
    TSample* s = Add("S");
    s->SetLink(new TSample(Root.get()));
    try {
        ComponentToText(Root.get());
        FAIL() << "no exception";
    } catch (const Rtl::EWriteError& e) {
        EXPECT_EQ(e.Message(), "Cannot write Link: it refers to a TSample that has no name");
    }
    EXPECT_FALSE(s->GetComponentState().Contains(csWriting));
}

TEST_F(FormFile, DefinedPropertiesReadAndWriteEveryKindOfValue) {
    auto* m = new TMixed(Root.get());
    m->SetName("M");
    m->V = Variant::Null();
    m->D = TDateTime(45000.75);
    m->C = Rtl::Currency::FromScaled(-123456789);
    m->B = true;
    m->F = 2.5e-8;
    m->W = u"\u00e9" + WideString(1, u'\xDC00');
    m->I = "Some.Name";
    static_cast<TSampleItem*>(m->Coll->Add())->SetName("first");
    String text = RoundTrip();
    EXPECT_NE(text.find("    Mixed = (\n      Null\n      45000.75d\n      -123456789c\n      True\n"), String::npos)
        << text;
    auto* copy = dynamic_cast<TMixed*>(Copy->FindComponent("M"));
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->V.IsNull());
    EXPECT_EQ(copy->D.Value, 45000.75);
    EXPECT_EQ(copy->C, m->C);
    EXPECT_TRUE(copy->B);
    EXPECT_EQ(copy->F, 2.5e-8);
    EXPECT_EQ(copy->W, m->W);
    EXPECT_EQ(copy->I, "Some.Name");
    EXPECT_EQ(copy->Seen, (std::vector<TValueType>{vaNull, vaDate, vaCurrency, vaTrue, vaExtended, vaString, vaIdent,
                                                    vaEndOfList}));
    ASSERT_EQ(copy->Coll->GetCount(), 1);
    EXPECT_EQ(copy->Coll->Item(0)->GetName(), "first");

    // A writer that produces something that is not a value is stopped.
    m->I = "not an identifier";
    EXPECT_THROW(ComponentToText(Root.get()), Rtl::EWriteError);
}
