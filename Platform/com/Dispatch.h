// IDispatch: late binding by name.
//
// A caller looks a member up by name (case-insensitive) and invokes it by its
// DISPID as a method, a property get, a property put or a property put by
// reference. Arguments are positional, in declaration order, with the value of a
// property put last. A var (by-reference) parameter receives a by-reference
// variant (Variant::ByRef(&x)) and the callee writes through it; an omitted
// optional parameter receives EmptyParam.
//
// Objects declare their late-bound surface once, in a TDispatchTable built from
// member functions (arguments are converted from variants by the parameter types,
// results to variants by the return type) or from handlers taking a TDispCall,
// and get IDispatch from TDispatchImpl:
//
//     class TGreeter : public Com::TDispatchImpl<TGreeter, Com::TImplements<Com::TInterfacedObject, IGreeter>> {
//     public:
//         static const Com::TDispatchTable<TGreeter>& GetDispatchTable() {
//             static const auto table = Com::TDispatchTable<TGreeter>("Sample.Greeter")
//                 .Property("Name", 1, &TGreeter::GetName, &TGreeter::SetName)
//                 .Method("Greet", 2, &TGreeter::Greet, 1);  // the last parameter is optional
//             return table;
//         }
//         ...
//     };
//
// The helpers OleGet, OlePut, OlePutRef and OleCall do the client side and raise
// EOleException (the object described the failure) or EOleSysError (the result
// code alone: DISP_E_UNKNOWNNAME, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH,
// DISP_E_PARAMNOTFOUND ...), naming the member and argument that failed.
#pragma once

#include <functional>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/com/Unknown.h"
#include "Platform/rtl/Variant.h"

namespace Com {

using Rtl::OleVariant;
using Rtl::Variant;
using Rtl::WideString;
using Rtl::Word;

using DISPID = std::int32_t;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

enum : Word {
    DISPATCH_METHOD = 0x1,
    DISPATCH_PROPERTYGET = 0x2,
    DISPATCH_PROPERTYPUT = 0x4,
    DISPATCH_PROPERTYPUTREF = 0x8,
};

// What an object reports with DISP_E_EXCEPTION.
struct TExcepInfo {
    String Source;
    String Description;
    String HelpFile;
    int HelpContext = 0;
    HRESULT SCode = 0;  // the failure's own result code
};

struct IDispatch : IUnknown {
    COM_INTERFACE(IDispatch, IUnknown, "{00020400-0000-0000-C000-000000000046}")
    // DISP_E_UNKNOWNNAME when the object has no member of that name.
    virtual HRESULT GetIDsOfNames(std::string_view name, DISPID* dispId) = 0;
    // DISP_E_MEMBERNOTFOUND for an unknown DISPID or a kind the member lacks,
    // DISP_E_BADPARAMCOUNT for too few or too many arguments, DISP_E_PARAMNOTFOUND
    // for EmptyParam in a required position and DISP_E_TYPEMISMATCH or
    // DISP_E_OVERFLOW for a value that does not convert (*argErr: the argument's
    // index), DISP_E_EXCEPTION with *excepInfo when the member failed.
    virtual HRESULT Invoke(DISPID dispId, Word flags, std::span<Variant> args, Variant* result,
                           TExcepInfo* excepInfo, int* argErr) = 0;
};

// The variant that marks an omitted optional argument (varError DISP_E_PARAMNOTFOUND).
extern const Variant EmptyParam;
bool IsEmptyParam(const Variant& v) noexcept;

// ---- Variants holding interfaces ----------------------------------------------------

Variant VarFromInterface(IDispatch* disp) noexcept;  // varDispatch (null gives an Empty-like null dispatch)
Variant VarFromInterface(IUnknown* unk) noexcept;    // varUnknown
template <class I>
Variant VarFromInterface(const ComPtr<I>& p) noexcept {
    if constexpr (std::is_convertible_v<I*, IDispatch*>)
        return VarFromInterface(static_cast<IDispatch*>(p.Get()));
    else
        return VarFromInterface(static_cast<IUnknown*>(p.Get()));
}
// Empty, Null and null references give null; varUnknown is queried for IDispatch
// (EIntfCastError when unsupported); other kinds raise EVariantTypeCastError.
ComPtr<IDispatch> VarToDispatch(const Variant& v);
ComPtr<IUnknown> VarToUnknown(const Variant& v);
template <class I>
ComPtr<I> VarToInterface(const Variant& v) {
    if constexpr (std::is_same_v<I, IUnknown>)
        return VarToUnknown(v);
    else
        return VarToUnknown(v).template As<I>();
}

// ---- Server side: one call of a member ----------------------------------------------

// An argument error a member reports: the code (DISP_E_TYPEMISMATCH,
// DISP_E_PARAMNOTFOUND, DISP_E_OVERFLOW ...) and the argument's index.
class EDispArgError : public EOleSysError {
public:
    EDispArgError(HRESULT code, int index) : EOleSysError(code), FIndex(index) {}
    int ArgIndex() const noexcept { return FIndex; }
    const char* ClassName() const noexcept override { return "EDispArgError"; }

private:
    int FIndex;
};

template <class T>
struct TIsComPtr : std::false_type {};
template <class I>
struct TIsComPtr<ComPtr<I>> : std::true_type {};

// Converts a variant to a parameter type; the framework's conversion rules,
// EVariantTypeCastError / EVariantOverflowError when it does not fit.
template <class V>
V FromVariant(const Variant& v) {
    using Rtl::Int64;
    using Rtl::UInt64;
    if constexpr (std::is_same_v<V, Variant>)
        return v.IsByRef() ? v.Deref() : v;
    else if constexpr (std::is_same_v<V, bool>)
        return v.ToBoolean();
    else if constexpr (std::is_same_v<V, String>)
        return v.ToString();
    else if constexpr (std::is_same_v<V, WideString>)
        return v.ToWideString();
    else if constexpr (std::is_same_v<V, double>)
        return v.ToDouble();
    else if constexpr (std::is_same_v<V, float>)
        return static_cast<float>(v.ToDouble());
    else if constexpr (std::is_same_v<V, Rtl::Currency>)
        return v.ToCurrency();
    else if constexpr (std::is_same_v<V, Rtl::TDateTime>)
        return v.ToDateTime();
    else if constexpr (std::is_same_v<V, Rtl::TDecimal>)
        return v.ToDecimal();
    else if constexpr (TIsComPtr<V>::value)
        return VarToInterface<typename V::Interface>(v);
    else if constexpr (std::is_enum_v<V>)
        return static_cast<V>(v.ToInteger());
    else if constexpr (std::is_integral_v<V> && std::is_signed_v<V>) {
        const Int64 x = v.ToInt64();
        if (x < static_cast<Int64>(std::numeric_limits<V>::min()) ||
            x > static_cast<Int64>(std::numeric_limits<V>::max()))
            throw Rtl::EVariantOverflowError("Variant value " + std::to_string(x) + " out of range");
        return static_cast<V>(x);
    } else if constexpr (std::is_integral_v<V>) {
        const UInt64 x = v.ToUInt64();
        if (x > static_cast<UInt64>(std::numeric_limits<V>::max()))
            throw Rtl::EVariantOverflowError("Variant value " + std::to_string(x) + " out of range");
        return static_cast<V>(x);
    } else
        static_assert(sizeof(V) == 0, "no conversion from Variant to this parameter type");
}

// Converts a result to a variant.
template <class R>
Variant ToVariant(R&& r) {
    using V = std::remove_cvref_t<R>;
    if constexpr (std::is_same_v<V, Variant>)
        return std::forward<R>(r);
    else if constexpr (TIsComPtr<V>::value)
        return VarFromInterface(r);
    else if constexpr (std::is_enum_v<V>)
        return Variant(static_cast<int>(r));
    else
        return Variant(std::forward<R>(r));
}

class TDispCall {
public:
    TDispCall(std::string_view member, Word kind, std::span<Variant> args) noexcept
        : FMember(member), FKind(kind), FArgs(args) {}

    std::string_view Member() const noexcept { return FMember; }
    // DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT or DISPATCH_PROPERTYPUTREF.
    Word Kind() const noexcept { return FKind; }
    // Arguments as passed, the value of a put included (it is the last one).
    int Count() const noexcept { return static_cast<int>(FArgs.size()); }
    // The argument's value (by-reference arguments dereferenced); EmptyParam past the end.
    Variant Arg(int i) const;
    bool IsOmitted(int i) const noexcept;
    bool IsByRef(int i) const noexcept;
    // The value of a property put.
    Variant Value() const { return Arg(Count() - 1); }
    // Converted argument; a conversion failure becomes EDispArgError for argument i.
    template <class V>
    V ArgAs(int i) const {
        try {
            return FromVariant<V>(Arg(i));
        } catch (const Rtl::EVariantOverflowError&) {
            throw EDispArgError(DISP_E_OVERFLOW, i);
        } catch (const Rtl::EVariantError&) {
            throw EDispArgError(DISP_E_TYPEMISMATCH, i);
        } catch (const EIntfCastError&) {
            throw EDispArgError(DISP_E_TYPEMISMATCH, i);
        }
    }
    template <class V>
    V ArgOr(int i, V def) const {
        return IsOmitted(i) ? std::move(def) : ArgAs<V>(i);
    }
    // Writes a var parameter back through its by-reference argument (converted to
    // the referenced kind; EDispArgError when it does not convert). A by-value
    // argument is left alone: the caller asked for no result there.
    void SetArg(int i, const Variant& v);

    Variant Result;

private:
    std::string_view FMember;
    Word FKind;
    std::span<Variant> FArgs;
};

namespace Detail {

template <class F>
struct TMemberFnTraits;
template <class R, class C, class... A>
struct TMemberFnTraits<R (C::*)(A...)> {
    using Result = R;
    using Class = C;
    using Args = std::tuple<A...>;
    static constexpr int Arity = sizeof...(A);
};
template <class R, class C, class... A>
struct TMemberFnTraits<R (C::*)(A...) const> : TMemberFnTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct TMemberFnTraits<R (C::*)(A...) noexcept> : TMemberFnTraits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct TMemberFnTraits<R (C::*)(A...) const noexcept> : TMemberFnTraits<R (C::*)(A...)> {};

template <class F>
concept MemberFunction = std::is_member_function_pointer_v<F>;

// One argument of a typed member: converted on entry, written back on exit when
// the parameter is a non-const reference (a var parameter).
template <class A>
struct TArgSlot {
    using V = std::remove_cvref_t<A>;
    static constexpr bool ByRef = std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;
    V Value;
    TArgSlot(const TDispCall& call, int i) : Value(call.ArgAs<V>(i)) {}
    decltype(auto) Get() {
        if constexpr (std::is_reference_v<A>)
            return static_cast<A>(Value);
        else
            return std::move(Value);
    }
    void WriteBack(TDispCall& call, int i) {
        if constexpr (ByRef) call.SetArg(i, ToVariant(Value));
    }
};

template <class A>
constexpr bool IsVariantParam = std::is_same_v<std::remove_cvref_t<A>, Variant>;

template <class T, class F, std::size_t... I, class... A>
void CallTyped(F fn, T& self, TDispCall& call, std::index_sequence<I...>, std::tuple<A...>*) {
    std::tuple<TArgSlot<A>...> slots{TArgSlot<A>(call, static_cast<int>(I))...};
    using R = typename TMemberFnTraits<F>::Result;
    if constexpr (std::is_void_v<R>)
        (self.*fn)(std::get<I>(slots).Get()...);
    else
        call.Result = ToVariant((self.*fn)(std::get<I>(slots).Get()...));
    (std::get<I>(slots).WriteBack(call, static_cast<int>(I)), ...);
}

// How many trailing parameters of F are variants (the only ones that may be optional).
template <class F, class... A>
constexpr int TrailingVariantParams(std::tuple<A...>*) {
    constexpr bool flags[] = {IsVariantParam<A>..., false};
    int n = 0;
    for (int i = static_cast<int>(sizeof...(A)) - 1; i >= 0 && flags[i]; --i) ++n;
    return n;
}

[[noreturn]] void DispatchTableError(const String& message);
String LowerAscii(std::string_view s);
HRESULT ReportException(std::string_view source, TExcepInfo* excepInfo) noexcept;

}  // namespace Detail

// ---- Dispatch tables -----------------------------------------------------------------

template <class T>
class TDispatchTable {
public:
    using THandler = std::function<void(T& self, TDispCall& call)>;

    struct TMember {
        String Name;
        DISPID Id = DISPID_UNKNOWN;
        bool IsMethod = false;
        int MinArgs = 0;  // of the method, or the property's index arguments
        int MaxArgs = 0;
        THandler Call;    // the method, or the property get
        THandler Put;
        THandler PutRef;
    };

    // source names the objects in failures they report (a ProgID or class name).
    explicit TDispatchTable(String source = {}) : FSource(std::move(source)) {}

    // A typed method; its last `optional` parameters (which must be Variant) may be
    // omitted or EmptyParam.
    template <Detail::MemberFunction F>
    TDispatchTable& Method(std::string_view name, DISPID id, F fn, int optional = 0) {
        using Tr = Detail::TMemberFnTraits<F>;
        static_assert(std::is_base_of_v<typename Tr::Class, T>, "member of another class");
        constexpr int variants = Detail::TrailingVariantParams<F>(static_cast<typename Tr::Args*>(nullptr));
        if (optional < 0 || optional > variants)
            Detail::DispatchTableError("Optional parameters of " + String(name) + " must be trailing Variant parameters");
        TMember m;
        m.Name = String(name);
        m.Id = id;
        m.IsMethod = true;
        m.MaxArgs = Tr::Arity;
        m.MinArgs = Tr::Arity - optional;
        m.Call = Typed(fn);
        return Add(std::move(m));
    }
    // A method handled by hand, taking min..max arguments.
    TDispatchTable& Method(std::string_view name, DISPID id, THandler handler, int minArgs, int maxArgs) {
        TMember m;
        m.Name = String(name);
        m.Id = id;
        m.IsMethod = true;
        m.MinArgs = minArgs;
        m.MaxArgs = maxArgs;
        m.Call = std::move(handler);
        return Add(std::move(m));
    }
    // A typed property: the getter's parameters are the index arguments; the setters
    // take the same index arguments followed by the value.
    template <Detail::MemberFunction G>
    TDispatchTable& Property(std::string_view name, DISPID id, G getter) {
        return TypedProperty(name, id, getter, nullptr, nullptr);
    }
    template <Detail::MemberFunction G, Detail::MemberFunction S>
    TDispatchTable& Property(std::string_view name, DISPID id, G getter, S setter) {
        return TypedProperty(name, id, getter, setter, nullptr);
    }
    template <Detail::MemberFunction G, Detail::MemberFunction S, Detail::MemberFunction P>
    TDispatchTable& Property(std::string_view name, DISPID id, G getter, S setter, P putRefSetter) {
        return TypedProperty(name, id, getter, setter, putRefSetter);
    }
    // A property handled by hand; empty handlers are kinds the property lacks.
    TDispatchTable& Property(std::string_view name, DISPID id, THandler get, THandler put, THandler putRef = {},
                             int minIndexArgs = 0, int maxIndexArgs = 0) {
        TMember m;
        m.Name = String(name);
        m.Id = id;
        m.MinArgs = minIndexArgs;
        m.MaxArgs = maxIndexArgs;
        m.Call = std::move(get);
        m.Put = std::move(put);
        m.PutRef = std::move(putRef);
        return Add(std::move(m));
    }
    // Takes over the members of a base class's table; members added afterwards with
    // the same name and DISPID replace inherited ones.
    template <class B>
    TDispatchTable& Inherit(const TDispatchTable<B>& base) {
        static_assert(std::is_base_of_v<B, T>, "inherit only from a base class's table");
        for (const auto& bm : base.Members()) {
            TMember m;
            m.Name = bm.Name;
            m.Id = bm.Id;
            m.IsMethod = bm.IsMethod;
            m.MinArgs = bm.MinArgs;
            m.MaxArgs = bm.MaxArgs;
            m.Call = Upcast<B>(bm.Call);
            m.Put = Upcast<B>(bm.Put);
            m.PutRef = Upcast<B>(bm.PutRef);
            Add(std::move(m));
        }
        return *this;
    }

    const std::vector<TMember>& Members() const noexcept { return FMembers; }
    const String& Source() const noexcept { return FSource; }

    HRESULT GetIDsOfNames(std::string_view name, DISPID* dispId) const {
        if (!dispId) return E_POINTER;
        *dispId = DISPID_UNKNOWN;
        auto it = FByName.find(Detail::LowerAscii(name));
        if (it == FByName.end()) return DISP_E_UNKNOWNNAME;
        *dispId = FMembers[it->second].Id;
        return S_OK;
    }

    HRESULT Invoke(T& self, DISPID dispId, Word flags, std::span<Variant> args, Variant* result,
                   TExcepInfo* excepInfo, int* argErr) const noexcept {
        auto it = FById.find(dispId);
        if (it == FById.end()) return DISP_E_MEMBERNOTFOUND;
        const TMember& m = FMembers[it->second];
        const THandler* handler = nullptr;
        Word kind = 0;
        int extra = 0;  // the value of a put
        if ((flags & DISPATCH_METHOD) && m.IsMethod) {
            handler = &m.Call;
            kind = DISPATCH_METHOD;
        } else if ((flags & DISPATCH_PROPERTYGET) && !m.IsMethod && m.Call) {
            handler = &m.Call;
            kind = DISPATCH_PROPERTYGET;
        } else if ((flags & DISPATCH_PROPERTYPUTREF) && m.PutRef) {
            handler = &m.PutRef;
            kind = DISPATCH_PROPERTYPUTREF;
            extra = 1;
        } else if ((flags & DISPATCH_PROPERTYPUT) && m.Put) {
            handler = &m.Put;
            kind = DISPATCH_PROPERTYPUT;
            extra = 1;
        }
        if (!handler) return DISP_E_MEMBERNOTFOUND;
        const int count = static_cast<int>(args.size());
        if (count < m.MinArgs + extra || count > m.MaxArgs + extra) return DISP_E_BADPARAMCOUNT;
        for (int i = 0; i < count; ++i) {
            const bool required = i < m.MinArgs || (extra && i == count - 1);
            if (required && IsEmptyParam(args[i])) {
                if (argErr) *argErr = i;
                return DISP_E_PARAMNOTFOUND;
            }
        }
        try {
            TDispCall call(m.Name, kind, args);
            (*handler)(self, call);
            if (result) *result = std::move(call.Result);
            return S_OK;
        } catch (const EDispArgError& e) {
            if (argErr) *argErr = e.ArgIndex();
            return e.ErrorCode();
        } catch (...) {
            return Detail::ReportException(FSource, excepInfo);
        }
    }

private:
    template <class F>
    static THandler Typed(F fn) {
        using Tr = Detail::TMemberFnTraits<F>;
        return [fn](T& self, TDispCall& call) {
            Detail::CallTyped(fn, self, call, std::make_index_sequence<Tr::Arity>{},
                              static_cast<typename Tr::Args*>(nullptr));
        };
    }
    template <class B>
    static THandler Upcast(const typename TDispatchTable<B>::THandler& h) {
        if (!h) return {};
        return [h](T& self, TDispCall& call) { h(static_cast<B&>(self), call); };
    }
    template <class G, class S, class P>
    TDispatchTable& TypedProperty(std::string_view name, DISPID id, G getter, S setter, P putRef) {
        TMember m;
        m.Name = String(name);
        m.Id = id;
        const int index = Detail::TMemberFnTraits<G>::Arity;
        m.MinArgs = m.MaxArgs = index;
        m.Call = Typed(getter);
        if constexpr (!std::is_null_pointer_v<S>) {
            if (Detail::TMemberFnTraits<S>::Arity != index + 1)
                Detail::DispatchTableError("The setter of " + String(name) + " must take the getter's arguments and the value");
            m.Put = Typed(setter);
        }
        if constexpr (!std::is_null_pointer_v<P>) {
            if (Detail::TMemberFnTraits<P>::Arity != index + 1)
                Detail::DispatchTableError("The put-by-reference setter of " + String(name) +
                                           " must take the getter's arguments and the value");
            m.PutRef = Typed(putRef);
        }
        return Add(std::move(m));
    }
    TDispatchTable& Add(TMember m) {
        String key = Detail::LowerAscii(m.Name);
        auto byName = FByName.find(key);
        auto byId = FById.find(m.Id);
        if (byName != FByName.end() || byId != FById.end()) {
            // Only a member with the same name and DISPID may be replaced (an override).
            if (byName == FByName.end() || byId == FById.end() || byName->second != byId->second)
                Detail::DispatchTableError("Dispatch member " + m.Name + " (DISPID " + std::to_string(m.Id) +
                                           ") clashes with another member's name or DISPID");
            FMembers[byName->second] = std::move(m);
            return *this;
        }
        FByName.emplace(std::move(key), FMembers.size());
        FById.emplace(m.Id, FMembers.size());
        FMembers.push_back(std::move(m));
        return *this;
    }

    String FSource;
    std::vector<TMember> FMembers;
    std::unordered_map<String, std::size_t> FByName;  // lower-case name
    std::unordered_map<DISPID, std::size_t> FById;
};

// Implements IDispatch for T from T::GetDispatchTable(). Base lists the dispatch
// interface (TImplements<TInterfacedObject, IMyDispatchInterface>, or a base
// class that does). A subclass with more members derives TDispatchImpl<TSub,
// TBaseClass> again and Inherits the base table.
template <class T, class Base>
class TDispatchImpl : public Base {
public:
    using Base::Base;
    HRESULT GetIDsOfNames(std::string_view name, DISPID* dispId) override {
        return T::GetDispatchTable().GetIDsOfNames(name, dispId);
    }
    HRESULT Invoke(DISPID dispId, Word flags, std::span<Variant> args, Variant* result, TExcepInfo* excepInfo,
                   int* argErr) override {
        return T::GetDispatchTable().Invoke(static_cast<T&>(*this), dispId, flags, args, result, excepInfo, argErr);
    }
};

// ---- Client side: late-bound calls ------------------------------------------------------

// The object of a late-bound call: an IDispatch pointer, a ComPtr to a dispatch
// interface, or a variant holding one (varDispatch, or varUnknown that supports
// IDispatch). Raises EVariantInvalidOpError for a variant of another kind.
class TDispTarget {
public:
    TDispTarget(IDispatch* disp) noexcept : FDisp(disp) {}
    template <class I, class = std::enable_if_t<std::is_convertible_v<I*, IDispatch*>>>
    TDispTarget(const ComPtr<I>& p) noexcept : FDisp(static_cast<IDispatch*>(p.Get())) {}
    TDispTarget(const Variant& v);
    IDispatch* Get() const noexcept { return FDisp.Get(); }

private:
    ComPtr<IDispatch> FDisp;
};

// Invokes name with the given flags; the result of a get or call, Empty otherwise.
Variant OleInvoke(const TDispTarget& obj, std::string_view name, Word flags, std::span<Variant> args);
// Property get, with optional index arguments.
Variant OleGet(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> index = {});
// Property put (by value) and put by reference, with optional index arguments.
void OlePut(const TDispTarget& obj, std::string_view name, const Variant& value);
void OlePut(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> index, const Variant& value);
void OlePutRef(const TDispTarget& obj, std::string_view name, const Variant& value);
// Method call; by-reference variants in args receive the var parameters' results.
Variant OleCall(const TDispTarget& obj, std::string_view name, std::initializer_list<Variant> args = {});
Variant OleCall(const TDispTarget& obj, std::string_view name, std::span<Variant> args);

}  // namespace Com
