#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "TestClasses.h"

using namespace VclTest;

namespace {

// A descendant that publishes Count again with another default and adds one property.
class TDerivedSample : public TSample {
    VCL_CLASS(TDerivedSample, TSample)
public:
    explicit TDerivedSample(TComponent* AOwner) : TSample(AOwner) { SetCount(3); }
    int Extra = 0;
};

VCL_COMPONENT_IMPL(TDerivedSample, TSample) {
    Prop("Extra", &TDerivedSample::Extra, &TDerivedSample::Extra).Default(0);
    Prop("Count", &TDerivedSample::GetCount, &TDerivedSample::SetCount).Default(3);
}

template <class E>
String MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "(no exception)";
}

}  // namespace

TEST(TypeInfo, OneDistinctObjectPerType) {
    struct Case {
        const TTypeInfo* Info;
        TTypeKind Kind;
        const char* Name;
    } cases[] = {
        {TypeInfo<int>(), tkInteger, "Integer"},
        {TypeInfo<Byte>(), tkInteger, "Byte"},
        {TypeInfo<Word>(), tkInteger, "Word"},
        {TypeInfo<Int64>(), tkInt64, "Int64"},
        {TypeInfo<bool>(), tkEnumeration, "Boolean"},
        {TypeInfo<WordBool>(), tkEnumeration, "WordBool"},
        {TypeInfo<double>(), tkFloat, "Double"},
        {TypeInfo<TDateTime>(), tkFloat, "TDateTime"},
        {TypeInfo<String>(), tkLString, "String"},
        {TypeInfo<WideString>(), tkWString, "WideString"},
        {TypeInfo<Variant>(), tkVariant, "OleVariant"},
        {TypeInfo<TFetchMode>(), tkEnumeration, "TFetchMode"},
        {TypeInfo<TOptions>(), tkSet, "TOptions"},
        {TypeInfo<TSample*>(), tkClass, "TSample"},
        {TypeInfo<TComponent*>(), tkClass, "TComponent"},
        {GetPropInfo(&TSample::StaticClass(), "OnChange")->PropType(), tkMethod, "TNotifyEvent"},
        {GetPropInfo(&TSample::StaticClass(), "OnValidate")->PropType(), tkMethod, "TValidateEvent"},
    };
    std::set<const TTypeInfo*> seen;
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Info->Kind, c.Kind);
        EXPECT_EQ(c.Info->Name, c.Name);
        EXPECT_TRUE(seen.insert(c.Info).second) << "shared type information";
    }
    EXPECT_EQ(TypeInfo<TSample*>()->ClassType, &TSample::StaticClass());
    EXPECT_EQ(TypeInfo<TOptions>()->CompType, TypeInfo<TOption>());
    EXPECT_EQ(TypeInfo<int>(), TypeInfo<int>());
    EXPECT_EQ(TypeInfo<TSample*>(), TypeInfo<TSample*>());
}

TEST(TypeInfo, EnumerationsKeepNamesAndOrdinals) {
    const TTypeInfo* t = TypeInfo<TFetchMode>();
    EXPECT_EQ(t->Names, (std::vector<String>{"fmFast", "fmSafe", "fmLazy"}));
    EXPECT_EQ(t->Values, (std::vector<Int64>{0, 1, 5}));
    EXPECT_EQ(t->MinValue, 0);
    EXPECT_EQ(t->MaxValue, 5);
    EXPECT_EQ(GetEnumName(t, 5), "fmLazy");
    EXPECT_EQ(GetEnumName(t, 2), "");
    EXPECT_EQ(GetEnumValue(t, "FMLAZY"), 5);
    EXPECT_EQ(GetEnumValue(t, "fmSlow"), -1);
    EXPECT_EQ(GetEnumName(TypeInfo<bool>(), 1), "True");
}

TEST(TypeInfo, SetsConvertToAndFromText) {
    const TTypeInfo* t = TypeInfo<TOptions>();
    EXPECT_EQ(SetToString(t, TOptions{opA, opC}.Bits()), "opA,opC");
    EXPECT_EQ(SetToString(t, 0, true), "[]");
    EXPECT_EQ(StringToSet(t, "[ opc , OPA ]"), (TOptions{opA, opC}.Bits()));
    EXPECT_EQ(StringToSet(t, ""), 0u);
    EXPECT_EQ(MessageOf<EPropertyConvertError>([&] { StringToSet(t, "opA,opX"); }),
              "Invalid property element: opX");
    EXPECT_THROW(StringToSet(t, "opA,,opB"), EPropertyConvertError);
    EXPECT_THROW(SetToString(t, 1u << 7), EPropertyConvertError);
}

TEST(PropertyTable, LookUpThroughTheClassChain) {
    const TPropInfo* tag = GetPropInfo(&TDerivedSample::StaticClass(), "tag");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->DeclaringClass(), &TComponent::StaticClass());
    EXPECT_EQ(GetPropInfo(&TComponent::StaticClass(), "Count"), nullptr);

    // The descendant's Count wins, with its own default, in its ancestor's place.
    const TPropInfo* count = GetPropInfo(&TDerivedSample::StaticClass(), "Count");
    EXPECT_EQ(count->DeclaringClass(), &TDerivedSample::StaticClass());
    EXPECT_EQ(count->Default(), 3);

    std::vector<String> names;
    for (auto* p : GetPropList(&TDerivedSample::StaticClass())) names.push_back(p->Name());
    std::vector<String> expected{"Name", "Tag", "Count", "Small", "Wide16", "Big", "Flag", "ComFlag", "Ratio",
                                 "Single", "When", "Title", "WideTitle", "Value", "Mode", "Options", "Lines",
                                 "Link", "Items", "Hidden", "Maybe", "ReadOnly", "FailLoad", "OnChange",
                                 "OnValidate", "Extra"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(GetPropList(&TDerivedSample::StaticClass())[2], count);
}

TEST(PropertyTable, GetAndSetByNameForEveryKind) {
    TSample s(nullptr);
    struct Case {
        const char* Name;
        Variant In;
        Variant Out;
    } cases[] = {
        {"Count", 12, 12},
        {"Small", 200, 200},
        {"Wide16", 65535, 65535},
        {"Big", 1LL << 40, 1LL << 40},
        {"Flag", true, true},
        {"ComFlag", true, true},
        {"Ratio", 0.125, 0.125},
        {"When", Variant(TDateTime(45000.5)), Variant(TDateTime(45000.5))},
        {"Title", "héllo", "héllo"},
        {"WideTitle", u"wide ✓", u"wide ✓"},
        {"Value", Variant::Null(), Variant::Null()},
        {"Mode", "fmLazy", "fmLazy"},
        {"Mode", 1, "fmSafe"},
        {"Options", "opB,opC", "opB,opC"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.Name);
        SetPropValue(&s, c.Name, c.In);
        Variant got = GetPropValue(&s, c.Name);
        EXPECT_EQ(got.VType(), c.Out.VType());
        EXPECT_TRUE(got == c.Out || (got.IsNull() && c.Out.IsNull())) << got.ToString();
    }
    EXPECT_EQ(s.GetBig(), 1LL << 40);
    EXPECT_EQ(s.GetMode(), fmSafe);
    EXPECT_EQ(GetOrdProp(&s, "Options"), static_cast<Int64>(TOptions{opB, opC}.Bits()));
    EXPECT_EQ(GetPropValue(&s, "Mode", false).ToInteger(), 1);

    // The typed accessors convert between the two string kinds.
    SetStrProp(&s, "WideTitle", "Grüße");
    EXPECT_EQ(s.GetWideTitle(), u"Grüße");
    EXPECT_EQ(GetWideStrProp(&s, "Title"), u"héllo");

    TSample other(nullptr);
    SetObjectProp(&s, "Link", &other);
    EXPECT_EQ(s.GetLink(), &other);
    EXPECT_EQ(GetObjectProp(&s, "Lines"), s.GetLines());
    SetFloatProp(&s, "Single", 0.5);
    EXPECT_EQ(s.GetSingle(), 0.5f);
}

TEST(PropertyTable, MisuseIsRefusedWithTheProperty) {
    TSample s(nullptr);
    TComponent plain(nullptr);
    struct Case {
        const char* What;
        std::function<void()> Call;
        const char* Message;
    } cases[] = {
        {"unknown name", [&] { GetOrdProp(&s, "Nope"); }, "Property Nope does not exist"},
        {"read-only", [&] { SetOrdProp(&s, "ReadOnly", 1); }, "Property ReadOnly is read-only"},
        {"wrong kind", [&] { GetStrProp(&s, "Count"); }, "Invalid property type: Count is of type Integer"},
        {"Byte range", [&] { SetOrdProp(&s, "Small", 300); },
         "Invalid property value for Small: 300 is outside the range of Byte (0..255)"},
        {"enum ordinal", [&] { SetOrdProp(&s, "Mode", 3); },
         "Invalid property value for Mode: 3 is not a value of TFetchMode"},
        {"enum name", [&] { SetEnumProp(&s, "Mode", "fmSlow"); },
         "Invalid enumeration value 'fmSlow' for Mode (TFetchMode)"},
        {"set bits", [&] { SetOrdProp(&s, "Options", 8); },
         "Invalid property value for Options: set elements outside TOptions"},
        {"object class", [&] { SetObjectProp(&s, "Link", &plain); },
         "Invalid property value for Link: TComponent is not a TSample"},
        {"wrong instance", [&] { SetOrdProp(&plain, GetPropInfo(&s, "Count"), 1); },
         "Property Count does not exist in TComponent"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.What);
        try {
            c.Call();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
    EXPECT_EQ(s.GetSmall(), 0);
    EXPECT_EQ(s.GetMode(), fmFast);
}

TEST(PropertyTable, StoredRulesAndDefaults) {
    TSample s(nullptr);
    auto prop = [&](const char* n) { return GetPropInfo(&s, n); };
    EXPECT_TRUE(IsStoredProp(&s, prop("Count")));
    EXPECT_FALSE(IsStoredProp(&s, prop("Hidden")));
    EXPECT_FALSE(IsStoredProp(&s, prop("Name")));
    EXPECT_TRUE(IsStoredProp(&s, prop("Maybe")));
    s.SetMaybe(42);
    EXPECT_FALSE(IsStoredProp(&s, prop("Maybe")));

    EXPECT_TRUE(IsDefaultPropValue(&s, prop("Count")));  // default 7, the constructor's value
    s.SetCount(8);
    EXPECT_FALSE(IsDefaultPropValue(&s, prop("Count")));
    EXPECT_FALSE(IsDefaultPropValue(&s, prop("ComFlag")));  // no default: always written
    EXPECT_TRUE(IsDefaultPropValue(&s, prop("Options")));
    EXPECT_TRUE(IsDefaultPropValue(&s, prop("Ratio")));
    s.SetRatio(-0.0);
    EXPECT_FALSE(IsDefaultPropValue(&s, prop("Ratio")));  // the sign survives a round trip
    EXPECT_TRUE(IsDefaultPropValue(&s, prop("Value")));
    s.SetValue(Variant::Null());
    EXPECT_FALSE(IsDefaultPropValue(&s, prop("Value")));
    EXPECT_TRUE(IsDefaultPropValue(&s, prop("OnChange")));
}

TEST(PropertyTable, EventsCarryTheirHandlerNames) {
    TSample s(nullptr);
    int calls = 0;
    TNotifyEvent handler = [&](TObject*) { ++calls; };
    SetMethodProp(&s, "OnChange", TEventHandler{"SampleChange", std::any(handler)});
    s.GetOnChange()(&s);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(EventName(s.GetOnChange()), "SampleChange");
    EXPECT_EQ(GetMethodProp(&s, "OnChange").Name, "SampleChange");

    // A handler of another event type is refused and nothing changes.
    TValidateEvent validate = [](TObject*, bool&) {};
    EXPECT_THROW(SetMethodProp(&s, "OnChange", TEventHandler{"Check", std::any(validate)}), EPropertyConvertError);
    EXPECT_EQ(EventName(s.GetOnChange()), "SampleChange");

    // Assigned in code: no name; cleared: unassigned.
    s.SetOnChange([](TObject*) {});
    EXPECT_EQ(GetMethodProp(&s, "OnChange").Name, "");
    SetMethodProp(&s, "OnChange", TEventHandler{});
    EXPECT_FALSE(s.GetOnChange());

    // An event type name stands for one handler type.
    EXPECT_THROW(Vcl::Detail::EventInfo("TNotifyEvent", typeid(TValidateEvent)), EPropertyError);
}

TEST(PropertyTable, HandlerTablesFindByNameCaseInsensitively) {
    TEventHandlers handlers;
    int calls = 0;
    handlers.Add<TNotifyEvent>("DoChange", [&](TObject*) { ++calls; });
    handlers.Add<TValidateEvent>("DoValidate", [](TObject*, bool& ok) { ok = false; });
    EXPECT_EQ(handlers.Count(), 2);
    const std::any* h = handlers.Find("dochange");
    ASSERT_NE(h, nullptr);
    auto fn = std::any_cast<TNotifyEvent>(*h);
    fn(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(EventName(fn), "DoChange");
    EXPECT_EQ(handlers.Find("Missing"), nullptr);
    EXPECT_EQ(*handlers.HandlerType("DoValidate"), typeid(TValidateEvent));
}
