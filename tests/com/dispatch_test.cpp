#include <gtest/gtest.h>

#include <map>

#include "Platform/com/Dispatch.h"

using namespace Com;
using Rtl::String;

namespace {

struct ICalc : IDispatch {
    COM_INTERFACE(ICalc, IDispatch, "{3C2F6B0A-7D41-4E8B-A1C0-55E2B7D90A01}")
};

enum TRounding : int { rdNone = 0, rdUp = 1, rdDown = 2 };

// An automation object declaring its late-bound surface in one table.
class TCalc : public TDispatchImpl<TCalc, TImplements<TInterfacedObject, ICalc>> {
public:
    String GetName() const { return FName; }
    void SetName(const String& v) { FName = v; }
    String GetVersion() const { return "2.8"; }
    int Add(int a, int b) { return a + b; }
    void Swap(Variant& a, Variant& b) { std::swap(a, b); }
    void Increment(int& counter, Variant step) { counter += IsEmptyParam(step) ? 1 : step.ToInteger(); }
    String Greet(const String& who, const Variant& greeting) {
        return (IsEmptyParam(greeting) ? String("Hello") : greeting.ToString()) + ", " + who;
    }
    short Narrow(short v) { return v; }
    TRounding Round(TRounding r) { return r; }
    Variant GetItem(int index) const {
        auto it = FItems.find(index);
        return it == FItems.end() ? Variant::Null() : it->second;
    }
    void SetItem(int index, const Variant& v) { FItems[index] = v; }
    Variant GetConnection() const { return FConnection; }
    void SetConnection(const Variant& v) { FConnection = Variant(v.ToString()); }
    void SetConnectionRef(const Variant& v) { FConnection = v; }
    ComPtr<IDispatch> Self() { return ComPtr<IDispatch>(static_cast<ICalc*>(this)); }
    void Fail(const String& how) {
        if (how == "ole") throw EOleException("Row cannot be located", MakeHResult(0x80040E38), "Engine.Recordset", "", 3);
        throw Rtl::EConvertError("'" + how + "' is not a valid integer value");
    }

    static const TDispatchTable<TCalc>& GetDispatchTable() {
        static const auto table =
            TDispatchTable<TCalc>("Test.Calc")
                .Property("Name", 1, &TCalc::GetName, &TCalc::SetName)
                .Property("Version", 2, &TCalc::GetVersion)
                .Method("Add", 3, &TCalc::Add)
                .Method("Swap", 4, &TCalc::Swap)
                .Method("Increment", 5, &TCalc::Increment, 1)
                .Method("Greet", 6, &TCalc::Greet, 1)
                .Method("Narrow", 7, &TCalc::Narrow)
                .Property("Item", DISPID_VALUE, &TCalc::GetItem, &TCalc::SetItem)
                .Property("Connection", 8, &TCalc::GetConnection, &TCalc::SetConnection, &TCalc::SetConnectionRef)
                .Method("Self", 9, &TCalc::Self)
                .Method("Fail", 10, &TCalc::Fail)
                .Method("Round", 11, &TCalc::Round)
                .Method(
                    "Sum", 12,
                    [](TCalc&, TDispCall& call) {
                        double sum = 0;
                        for (int i = 0; i < call.Count(); ++i) sum += call.ArgAs<double>(i);
                        call.Result = sum;
                    },
                    0, 8);
        return table;
    }

private:
    String FName;
    std::map<int, Variant> FItems;
    Variant FConnection;
};

// A subclass extending the surface and replacing one inherited member.
class TSciCalc : public TDispatchImpl<TSciCalc, TCalc> {
public:
    int Mul(int a, int b) { return a * b; }
    String GetVersion() const { return "3.0"; }
    static const TDispatchTable<TSciCalc>& GetDispatchTable() {
        static const auto table = TDispatchTable<TSciCalc>("Test.SciCalc")
                                      .Inherit(TCalc::GetDispatchTable())
                                      .Property("Version", 2, &TSciCalc::GetVersion)
                                      .Method("Mul", 20, &TSciCalc::Mul);
        return table;
    }
};

ComPtr<IDispatch> NewCalc() { return MakeComObject<TCalc>().As<IDispatch>(); }

// Raw invocation: the result code and the argument error index.
struct TRawResult {
    HRESULT Code;
    int ArgErr;
    Variant Result;
};
TRawResult RawInvoke(IDispatch* d, std::string_view name, Word flags, std::vector<Variant> args) {
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = d->GetIDsOfNames(name, &id);
    if (Failed(hr)) return {hr, -1, {}};
    TRawResult r{S_OK, -1, {}};
    TExcepInfo excep;
    r.Code = d->Invoke(id, flags, args, &r.Result, &excep, &r.ArgErr);
    return r;
}

}  // namespace

TEST(Dispatch, NamesAreCaseInsensitive) {
    auto calc = NewCalc();
    for (const char* name : {"Add", "add", "ADD", "aDd"}) {
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(calc->GetIDsOfNames(name, &id), S_OK) << name;
        EXPECT_EQ(id, 3);
    }
    DISPID id = 99;
    EXPECT_EQ(calc->GetIDsOfNames("Addd", &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(OleCall(calc, "ADD", {2, 3}).ToInteger(), 5);
}

TEST(Dispatch, PropertiesAndMethods) {
    auto calc = NewCalc();
    EXPECT_EQ(OleGet(calc, "Version").ToString(), "2.8");
    OlePut(calc, "Name", "adder");
    EXPECT_EQ(OleGet(calc, "name").ToString(), "adder");
    // Indexed property, also as the default member.
    OlePut(calc, "Item", {3}, "three");
    EXPECT_EQ(OleGet(calc, "Item", {3}).ToString(), "three");
    EXPECT_TRUE(OleGet(calc, "Item", {4}).IsNull());
    // Enumerations and numbers convert by the parameter types.
    EXPECT_EQ(OleCall(calc, "Round", {2}).ToInteger(), rdDown);
    EXPECT_EQ(OleCall(calc, "Add", {"40", 2.0}).ToInteger(), 42);
    EXPECT_EQ(OleCall(calc, "Sum", {1, 2.5, "3"}).ToDouble(), 6.5);
    EXPECT_EQ(OleCall(calc, "Sum").ToDouble(), 0.0);
}

TEST(Dispatch, ByReferenceArgumentsReceiveResults) {
    auto calc = NewCalc();
    Variant a = 1, b = "one";
    OleCall(calc, "Swap", {Variant::ByRef(&a), Variant::ByRef(&b)});
    EXPECT_EQ(a.ToString(), "one");
    EXPECT_EQ(b.ToInteger(), 1);
    // A typed var parameter writes through to typed storage.
    int counter = 10;
    OleCall(calc, "Increment", {Variant::ByRef(Rtl::varInteger, &counter)});
    EXPECT_EQ(counter, 11);
    OleCall(calc, "Increment", {Variant::ByRef(Rtl::varInteger, &counter), 5});
    EXPECT_EQ(counter, 16);
    // Passed by value, the argument stays the caller's.
    Variant byValue = 7;
    std::vector<Variant> args{byValue};
    OleCall(calc, "Increment", std::span<Variant>(args));
    EXPECT_EQ(args[0].ToInteger(), 7);
}

TEST(Dispatch, OmittedOptionalArguments) {
    auto calc = NewCalc();
    EXPECT_EQ(OleCall(calc, "Greet", {"Bob"}).ToString(), "Hello, Bob");
    EXPECT_EQ(OleCall(calc, "Greet", {"Bob", EmptyParam}).ToString(), "Hello, Bob");
    EXPECT_EQ(OleCall(calc, "Greet", {"Bob", "Hi"}).ToString(), "Hi, Bob");
    EXPECT_TRUE(IsEmptyParam(EmptyParam));
    EXPECT_FALSE(IsEmptyParam(Variant()));
    EXPECT_FALSE(IsEmptyParam(Variant::Error(E_FAIL)));
}

TEST(Dispatch, InvocationErrors) {
    auto calc = NewCalc();
    const Variant big = 100000;
    struct Case {
        const char* Name;
        Word Flags;
        std::vector<Variant> Args;
        HRESULT Code;
        int ArgErr;
    } cases[] = {
        {"Nope", DISPATCH_METHOD, {}, DISP_E_UNKNOWNNAME, -1},
        {"Add", DISPATCH_METHOD, {1}, DISP_E_BADPARAMCOUNT, -1},
        {"Add", DISPATCH_METHOD, {1, 2, 3}, DISP_E_BADPARAMCOUNT, -1},
        {"Greet", DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT, -1},
        {"Add", DISPATCH_METHOD, {EmptyParam, 2}, DISP_E_PARAMNOTFOUND, 0},
        {"Greet", DISPATCH_METHOD, {EmptyParam, "Hi"}, DISP_E_PARAMNOTFOUND, 0},
        {"Add", DISPATCH_METHOD, {1, "two"}, DISP_E_TYPEMISMATCH, 1},
        {"Add", DISPATCH_METHOD, {Variant::Null(), 2}, DISP_E_TYPEMISMATCH, 0},
        {"Narrow", DISPATCH_METHOD, {big}, DISP_E_OVERFLOW, 0},
        {"Name", DISPATCH_PROPERTYPUT, {}, DISP_E_BADPARAMCOUNT, -1},
        {"Name", DISPATCH_PROPERTYPUT, {EmptyParam}, DISP_E_PARAMNOTFOUND, 0},
        {"Version", DISPATCH_PROPERTYPUT, {"9.9"}, DISP_E_MEMBERNOTFOUND, -1},  // read-only
        {"Name", DISPATCH_PROPERTYPUTREF, {"x"}, DISP_E_MEMBERNOTFOUND, -1},   // no put by reference
        {"Add", DISPATCH_PROPERTYGET, {1, 2}, DISP_E_MEMBERNOTFOUND, -1},      // a method is no property
        {"Version", DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND, -1},          // nor a property a method
        {"Item", DISPATCH_PROPERTYGET, {}, DISP_E_BADPARAMCOUNT, -1},
        {"Item", DISPATCH_PROPERTYGET, {"x"}, DISP_E_TYPEMISMATCH, 0},
    };
    for (const auto& c : cases) {
        const auto r = RawInvoke(calc.Get(), c.Name, c.Flags, c.Args);
        EXPECT_EQ(r.Code, c.Code) << c.Name << " " << HResultMessage(r.Code);
        EXPECT_EQ(r.ArgErr, c.ArgErr) << c.Name;
    }
    Variant result;
    EXPECT_EQ(calc->Invoke(999, DISPATCH_METHOD, {}, &result, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, HelpersRaiseNamingMemberAndArgument) {
    auto calc = NewCalc();
    struct Case {
        std::function<void()> Call;
        HRESULT Code;
        const char* Message;
    } cases[] = {
        {[&] { OleGet(calc, "Versoin"); }, DISP_E_UNKNOWNNAME, "Unknown name (Versoin)"},
        {[&] { OleCall(calc, "Add", {1}); }, DISP_E_BADPARAMCOUNT, "Invalid number of parameters (Add)"},
        {[&] { OleCall(calc, "Add", {1, "x"}); }, DISP_E_TYPEMISMATCH, "Type mismatch (Add, argument 2)"},
        {[&] { OleCall(calc, "Add", {EmptyParam, 1}); }, DISP_E_PARAMNOTFOUND, "Parameter not found (Add, argument 1)"},
        {[&] { OlePut(calc, "Version", "1"); }, DISP_E_MEMBERNOTFOUND, "Member not found (Version)"},
        {[&] { OleGet(ComPtr<IDispatch>(), "Version"); }, E_POINTER,
         "Cannot invoke Version on an unassigned automation object"},
    };
    for (const auto& c : cases) {
        try {
            c.Call();
            ADD_FAILURE() << c.Message;
        } catch (const EOleSysError& e) {
            EXPECT_EQ(e.ErrorCode(), c.Code);
            EXPECT_EQ(e.Message(), c.Message);
        }
    }
}

TEST(Dispatch, FailuresInsideMembersBecomeOleExceptions) {
    auto calc = NewCalc();
    try {
        OleCall(calc, "Fail", {"ole"});
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), MakeHResult(0x80040E38));
        EXPECT_EQ(e.Message(), "Row cannot be located");
        EXPECT_EQ(e.Source(), "Engine.Recordset");
        EXPECT_EQ(e.HelpContext(), 3);
    }
    try {
        OleCall(calc, "Fail", {"abc"});
        FAIL();
    } catch (const EOleException& e) {
        EXPECT_EQ(e.ErrorCode(), E_FAIL);
        EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
        EXPECT_EQ(e.Source(), "Test.Calc");
    }
    // The raw result says DISP_E_EXCEPTION and fills the exception record.
    DISPID id;
    ASSERT_EQ(calc->GetIDsOfNames("Fail", &id), S_OK);
    Variant arg = "abc";
    TExcepInfo excep;
    EXPECT_EQ(calc->Invoke(id, DISPATCH_METHOD, std::span<Variant>(&arg, 1), nullptr, &excep, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(excep.SCode, E_FAIL);
    EXPECT_EQ(excep.Description, "'abc' is not a valid integer value");
}

TEST(Dispatch, PutAndPutByReferenceAreDistinct) {
    auto calc = NewCalc();
    auto other = NewCalc();
    OlePut(calc, "Connection", "Provider=SQLite");
    EXPECT_EQ(VarType(OleGet(calc, "Connection")), Rtl::varString);
    OlePutRef(calc, "Connection", VarFromInterface(other));
    const Variant held = OleGet(calc, "Connection");
    ASSERT_EQ(VarType(held), Rtl::varDispatch);
    EXPECT_TRUE(IsSameObject(VarToDispatch(held), other));
}

TEST(Dispatch, VariantsHoldCountedDispatchReferences) {
    Variant v;
    {
        auto obj = MakeComObject<TCalc>();
        v = VarFromInterface(obj.As<ICalc>());
        EXPECT_EQ(obj->GetRefCount(), 2);
    }
    // The variant keeps the object alive and is a late-binding target itself.
    EXPECT_EQ(OleGet(v, "Version").ToString(), "2.8");
    const Variant self = OleCall(v, "Self");
    EXPECT_EQ(VarType(self), Rtl::varDispatch);
    EXPECT_TRUE(IsSameObject(VarToDispatch(self), VarToDispatch(v)));
    // varUnknown that supports IDispatch works too; other kinds are no automation object.
    const Variant unk = VarFromInterface(VarToUnknown(v));
    EXPECT_EQ(VarType(unk), Rtl::varUnknown);
    EXPECT_EQ(OleGet(unk, "Version").ToString(), "2.8");
    EXPECT_THROW(OleGet(Variant(3), "Version"), Rtl::EVariantInvalidOpError);
    EXPECT_THROW(VarToDispatch(Variant("x")), Rtl::EVariantTypeCastError);
    EXPECT_FALSE(VarToDispatch(Variant()));
    EXPECT_FALSE(VarToDispatch(Variant::Null()));
    v.Clear();  // LeakSanitizer sees the object freed
}

TEST(Dispatch, SubclassTablesInheritAndReplaceMembers) {
    auto sci = MakeComObject<TSciCalc>().As<IDispatch>();
    EXPECT_EQ(OleCall(sci, "Add", {2, 3}).ToInteger(), 5);
    EXPECT_EQ(OleCall(sci, "Mul", {2, 3}).ToInteger(), 6);
    EXPECT_EQ(OleGet(sci, "Version").ToString(), "3.0");
    EXPECT_EQ(OleGet(NewCalc(), "Version").ToString(), "2.8");
    EXPECT_THROW(OleCall(NewCalc(), "Mul", {2, 3}), EOleSysError);
}

TEST(Dispatch, TableMistakesAreReportedWhenBuilt) {
    using Table = TDispatchTable<TCalc>;
    // A name or DISPID used twice for different members.
    EXPECT_THROW(Table().Method("Add", 1, &TCalc::Add).Method("Plus", 1, &TCalc::Add), Rtl::EInvalidOperation);
    EXPECT_THROW(Table().Method("Add", 1, &TCalc::Add).Method("ADD", 2, &TCalc::Add), Rtl::EInvalidOperation);
    // Only trailing Variant parameters can be optional.
    EXPECT_THROW(Table().Method("Add", 1, &TCalc::Add, 1), Rtl::EInvalidOperation);
    // A setter must take the getter's index arguments and the value.
    EXPECT_THROW(Table().Property("Item", 1, &TCalc::GetItem, &TCalc::SetName), Rtl::EInvalidOperation);
}
