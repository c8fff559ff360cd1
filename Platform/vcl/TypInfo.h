// Run-time type information and published properties.
//
// Every framework class lists its published properties once, in its source
// file, one line per property:
//
//     // Foo.h                                // Foo.cpp
//     class TFoo : public Vcl::TComponent {   VCL_COMPONENT_IMPL(TFoo, Vcl::TComponent) {
//         VCL_CLASS(TFoo, Vcl::TComponent)        Prop("Count", &TFoo::GetCount, &TFoo::SetCount).Default(0);
//     ...                                         Prop("Mode", &TFoo::GetMode, &TFoo::SetMode).Default(fmFast);
//                                                 Prop("Lines", &TFoo::GetLines, &TFoo::SetLines);
//                                                 Event("OnChange", &TFoo::GetOnChange, &TFoo::SetOnChange,
//                                                       "TNotifyEvent");
//                                             }
//
// Getters and setters may be member functions, data members or lambdas taking
// the object. The property's type information follows from the getter's type:
// Integer, Byte, Word, ShortInt, SmallInt, Cardinal, Int64, Boolean, WordBool,
// Double, Single, TDateTime, String, WideString, OleVariant, an enumeration or a
// set declared with VCL_ENUM / VCL_SET, a pointer to a framework class, or (for
// Event) a std::function with the event type's name. Each type has exactly one
// TTypeInfo object, so type information compares by address; property editors
// are registered against these objects.
//
// VCL_CLASS goes in the class body; the matching VCL_..._IMPL (VCL_CLASS_IMPL
// here, VCL_COMPONENT_IMPL in Components.h, VCL_ITEM_IMPL in Collections.h)
// goes in one source file, in the class's namespace, so that the table may
// name the class's private accessors.
//
// This table is the one description of a class's configuration surface: form
// files, the designer's property editors and the stored/default rules all read
// it through the functions at the end of this header.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "Platform/rtl/DateTime.h"
#include "Platform/rtl/Set.h"
#include "Platform/rtl/System.h"
#include "Platform/rtl/Variant.h"

namespace Vcl {

using Rtl::Byte;
using Rtl::Exception;
using Rtl::Int64;
using Rtl::String;
using Rtl::TClass;
using Rtl::TDateTime;
using Rtl::TObject;
using Rtl::TPersistent;
using Rtl::UInt64;
using Rtl::Variant;
using Rtl::WideString;
using Rtl::Word;
using NativeInt = std::intptr_t;

// Unknown property names, read-only properties and misuse of the accessors.
RTL_DECLARE_EXCEPTION(EPropertyError, Exception)
// A value that does not fit the property's type.
RTL_DECLARE_EXCEPTION(EPropertyConvertError, Exception)

enum TTypeKind : Byte {
    tkUnknown, tkInteger, tkChar, tkEnumeration, tkFloat, tkString, tkSet, tkClass, tkMethod,
    tkWChar, tkLString, tkWString, tkVariant, tkArray, tkRecord, tkInterface, tkInt64, tkDynArray
};
enum TOrdType : Byte { otSByte, otUByte, otSWord, otUWord, otSLong, otULong, otSQWord };
enum TFloatType : Byte { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

// COM's boolean as a property type of its own, so that editors can tell it from
// Boolean. Converts to and from bool freely.
struct WordBool {
    bool Value = false;
    constexpr WordBool() noexcept = default;
    constexpr WordBool(bool v) noexcept : Value(v) {}
    constexpr operator bool() const noexcept { return Value; }
};

// The type information of one type. Instances are created once per type and
// never destroyed; compare them by address.
struct TTypeInfo {
    TTypeKind Kind = tkUnknown;
    String Name;
    // Ordinal kinds (tkInteger, tkEnumeration, tkInt64).
    TOrdType OrdType = otSLong;
    Int64 MinValue = 0;
    Int64 MaxValue = 0;
    // Enumerations: the names and their ordinals, in declaration order.
    std::vector<String> Names;
    std::vector<Int64> Values;
    // Sets: the enumeration of the elements.
    const TTypeInfo* CompType = nullptr;
    // Classes.
    TClass ClassType = nullptr;
    // Floating types.
    TFloatType FloatType = ftDouble;
    // Events: the std::function type of a handler.
    const std::type_info* HandlerType = nullptr;

    bool IsOrdinal() const noexcept { return Kind == tkInteger || Kind == tkEnumeration || Kind == tkInt64; }
};

// ---- Enumerations and sets ----------------------------------------------------------

// Name of an enumeration value; empty when the value has no name.
String GetEnumName(const TTypeInfo* EnumType, Int64 Value);
// Ordinal of a name (case-insensitive); false when the name is unknown.
bool TryGetEnumValue(const TTypeInfo* EnumType, std::string_view Name, Int64& Value);
// Ordinal of a name, or -1 when unknown (the framework's GetEnumValue).
Int64 GetEnumValue(const TTypeInfo* EnumType, std::string_view Name);
// Set text "a,b" (or "[a,b]"), members in ordinal order. EPropertyConvertError
// for a member without a name.
String SetToString(const TTypeInfo* SetType, UInt64 Bits, bool Brackets = false);
// Parses "a, b" or "[a,b]"; EPropertyConvertError "Invalid property element: %s".
UInt64 StringToSet(const TTypeInfo* SetType, std::string_view Text);

// ---- Events ----------------------------------------------------------------------------

// A handler that remembers the name it was given, so that a form file can write
// the name of the handler an event property holds.
template <class Sig>
struct TNamedHandler;
template <class R, class... A>
struct TNamedHandler<R(A...)> {
    String Name;
    std::function<R(A...)> Fn;
    R operator()(A... args) const { return Fn(std::forward<A>(args)...); }
};

template <class F>
struct IsStdFunction : std::false_type {};
template <class Sig>
struct IsStdFunction<std::function<Sig>> : std::true_type {
    using Signature = Sig;
};

// Wraps fn so that EventName() answers name. Wrapping an already named handler
// renames it; an empty fn stays empty.
template <class Sig>
std::function<Sig> NamedEvent(String Name, std::function<Sig> Fn) {
    if (!Fn) return Fn;
    if (auto* named = Fn.template target<TNamedHandler<Sig>>()) Fn = named->Fn;
    return TNamedHandler<Sig>{std::move(Name), std::move(Fn)};
}

// The name a handler was given through NamedEvent or a handler table; empty
// for handlers assigned in code.
template <class Sig>
String EventName(const std::function<Sig>& Fn) {
    if (auto* named = Fn.template target<TNamedHandler<Sig>>()) return named->Name;
    return {};
}

// The value of an event property seen from outside its class: the handler
// (a std::function of the event's type, or nothing) and its name.
struct TEventHandler {
    String Name;
    std::any Handler;
    bool Assigned() const noexcept { return Handler.has_value(); }
};

// Handlers by name, as the application supplies them when it reads a form
// file: the form names a handler, the table provides it.
class TEventHandlers {
public:
    // handlers.Add<TNotifyEvent>("DataModuleCreate", [&](TObject* Sender) { ... });
    template <class Event, class F>
    void Add(const String& Name, F&& Fn) {
        static_assert(IsStdFunction<Event>::value, "the event type is a std::function");
        AddAny(Name, std::any(NamedEvent(Name, Event(std::forward<F>(Fn)))), &typeid(Event));
    }
    template <class Sig>
    void Add(const String& Name, std::function<Sig> Fn) {
        Add<std::function<Sig>>(Name, std::move(Fn));
    }
    // The handler (a std::function) under Name, compared case-insensitively; null when absent.
    const std::any* Find(std::string_view Name) const;
    // Handler names in the order they were added.
    std::vector<String> Names() const;
    // The handler type of an entry, or null.
    const std::type_info* HandlerType(std::string_view Name) const;
    int Count() const noexcept { return static_cast<int>(FItems.size()); }

private:
    struct Item {
        String Name;
        std::any Handler;
        const std::type_info* Type;
    };
    void AddAny(const String& Name, std::any Handler, const std::type_info* Type);
    std::vector<Item> FItems;
};

// ---- Type information of the built-in types ------------------------------------------

namespace Detail {
const TTypeInfo* IntegerInfo();
const TTypeInfo* ByteInfo();
const TTypeInfo* ShortIntInfo();
const TTypeInfo* SmallIntInfo();
const TTypeInfo* WordInfo();
const TTypeInfo* CardinalInfo();
const TTypeInfo* Int64Info();
const TTypeInfo* BooleanInfo();
const TTypeInfo* WordBoolInfo();
const TTypeInfo* DoubleInfo();
const TTypeInfo* SingleInfo();
const TTypeInfo* DateTimeInfo();
const TTypeInfo* StringInfo();
const TTypeInfo* WideStringInfo();
const TTypeInfo* VariantInfo();
// One object per class, created on first use.
const TTypeInfo* ClassInfo(TClass Class);
// One object per event type name; EPropertyError when the name was used before
// with another handler type.
const TTypeInfo* EventInfo(const String& Name, const std::type_info& HandlerType);
// Builds an enumeration's information from the stringised list of its names
// ("a, b, c") and their values.
TTypeInfo MakeEnumInfo(const char* TypeName, const char* NameList, const Int64* Values, std::size_t Count,
                       bool IsSigned, std::size_t Size);
TTypeInfo MakeSetInfo(const char* TypeName, const TTypeInfo* CompType);
// The information of an undeclared set over a declared enumeration.
const TTypeInfo* AutoSetInfo(const TTypeInfo* CompType);

template <class T>
struct IsTSet : std::false_type {};
template <class E>
struct IsTSet<Rtl::TSet<E>> : std::true_type {
    using Element = E;
};

template <class T>
inline constexpr bool AlwaysFalse = false;

template <class E>
TTypeInfo MakeEnum(const char* TypeName, const char* NameList, std::initializer_list<E> Values) {
    std::vector<Int64> ordinals;
    for (E e : Values) ordinals.push_back(static_cast<Int64>(e));
    using U = std::underlying_type_t<E>;
    return MakeEnumInfo(TypeName, NameList, ordinals.data(), ordinals.size(), std::is_signed_v<U>, sizeof(U));
}
}  // namespace Detail

// Declares the type information of an enumeration from its names; write it in
// the enumeration's namespace, after the enumeration:
//     enum TFetchMode : Byte { fmFast, fmSafe };
//     VCL_ENUM(TFetchMode, fmFast, fmSafe)
// Explicit ordinals are taken from the enumerators themselves.
#define VCL_ENUM(E, ...)                                                                   \
    [[maybe_unused]] inline const ::Vcl::TTypeInfo* VclTypeInfo(E*) {                      \
        static const ::Vcl::TTypeInfo* info =                                              \
            new ::Vcl::TTypeInfo(::Vcl::Detail::MakeEnum<E>(#E, #__VA_ARGS__, {__VA_ARGS__})); \
        return info;                                                                       \
    }

// Declares an enumeration with consecutive ordinals and its type information at once.
#define VCL_DECLARE_ENUM(E, Underlying, ...) \
    enum E : Underlying { __VA_ARGS__ };     \
    VCL_ENUM(E, __VA_ARGS__)

// Declares the named type information of a set type (an alias of TSet<E>);
// write it in the namespace of the element enumeration.
#define VCL_SET(S)                                                                              \
    [[maybe_unused]] inline const ::Vcl::TTypeInfo* VclTypeInfo(S*) {                           \
        static const ::Vcl::TTypeInfo* info = new ::Vcl::TTypeInfo(::Vcl::Detail::MakeSetInfo(   \
            #S, ::Vcl::TypeInfo<typename ::Vcl::Detail::IsTSet<S>::Element>()));               \
        return info;                                                                            \
    }

// The type information of T (the framework's TypeInfo()).
template <class T>
const TTypeInfo* TypeInfo() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, bool>) return Detail::BooleanInfo();
    else if constexpr (std::is_same_v<U, WordBool>) return Detail::WordBoolInfo();
    else if constexpr (std::is_same_v<U, int>) return Detail::IntegerInfo();
    else if constexpr (std::is_same_v<U, unsigned char>) return Detail::ByteInfo();
    else if constexpr (std::is_same_v<U, signed char>) return Detail::ShortIntInfo();
    else if constexpr (std::is_same_v<U, short>) return Detail::SmallIntInfo();
    else if constexpr (std::is_same_v<U, unsigned short>) return Detail::WordInfo();
    else if constexpr (std::is_same_v<U, unsigned>) return Detail::CardinalInfo();
    else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, long long>) return Detail::Int64Info();
    else if constexpr (std::is_same_v<U, double>) return Detail::DoubleInfo();
    else if constexpr (std::is_same_v<U, float>) return Detail::SingleInfo();
    else if constexpr (std::is_same_v<U, TDateTime>) return Detail::DateTimeInfo();
    else if constexpr (std::is_same_v<U, String>) return Detail::StringInfo();
    else if constexpr (std::is_same_v<U, WideString>) return Detail::WideStringInfo();
    else if constexpr (std::is_same_v<U, Variant>) return Detail::VariantInfo();
    else if constexpr (std::is_pointer_v<U> && std::is_base_of_v<TObject, std::remove_cv_t<std::remove_pointer_t<U>>>)
        return Detail::ClassInfo(&std::remove_cv_t<std::remove_pointer_t<U>>::StaticClass());
    else if constexpr (requires { VclTypeInfo(static_cast<U*>(nullptr)); })
        return VclTypeInfo(static_cast<U*>(nullptr));
    else if constexpr (Detail::IsTSet<U>::value)
        return Detail::AutoSetInfo(TypeInfo<typename Detail::IsTSet<U>::Element>());
    else
        static_assert(Detail::AlwaysFalse<U>,
                      "no type information for this type: declare enumerations with VCL_ENUM");
}

// ---- Published properties ----------------------------------------------------------------

// How one property is read and written; each kind of value has its pair.
// Calls of the wrong kind raise EPropertyConvertError.
class TPropAccess {
public:
    virtual ~TPropAccess() = default;
    virtual bool CanWrite() const noexcept = 0;
    virtual Int64 GetOrd(TObject* Instance) const;  // ordinals, enumerations, booleans, sets (bits)
    virtual void SetOrd(TObject* Instance, Int64 Value) const;
    virtual double GetFloat(TObject* Instance) const;
    virtual void SetFloat(TObject* Instance, double Value) const;
    virtual String GetStr(TObject* Instance) const;
    virtual void SetStr(TObject* Instance, const String& Value) const;
    virtual WideString GetWideStr(TObject* Instance) const;
    virtual void SetWideStr(TObject* Instance, const WideString& Value) const;
    virtual Variant GetVariant(TObject* Instance) const;
    virtual void SetVariant(TObject* Instance, const Variant& Value) const;
    virtual TObject* GetObject(TObject* Instance) const;
    virtual void SetObject(TObject* Instance, TObject* Value) const;
    virtual TEventHandler GetMethod(TObject* Instance) const;
    virtual void SetMethod(TObject* Instance, const TEventHandler& Value) const;
};

enum TStoredKind : Byte { skAlways, skNever, skPredicate };

class TPropInfo {
public:
    const String& Name() const noexcept { return FName; }
    const TTypeInfo* PropType() const noexcept { return FType; }
    TTypeKind Kind() const noexcept { return FType->Kind; }
    // The class whose table declares the property.
    TClass DeclaringClass() const noexcept { return FClass; }
    // Position in the declaring class's table.
    int Index() const noexcept { return FIndex; }
    bool IsWritable() const noexcept { return FAccess->CanWrite(); }
    // Ordinal and set properties may carry a default: a value equal to it is not
    // written to form files. Without one ("nodefault") the value is always written.
    bool HasDefault() const noexcept { return FDefault.has_value(); }
    Int64 Default() const noexcept { return FDefault.value_or(0); }
    TStoredKind StoredKind() const noexcept { return FStoredKind; }
    // The stored rule: always, never, or the class's predicate for this instance.
    bool IsStored(TObject* Instance) const;
    const TPropAccess& Access() const noexcept { return *FAccess; }

    // Building (used while a class's table is declared).
    TPropInfo(String Name, const TTypeInfo* Type, TClass Class, int Index, std::unique_ptr<TPropAccess> Access);
    void SetDefault(std::optional<Int64> Value);
    void SetStored(TStoredKind Kind, std::function<bool(TObject*)> Predicate = {});
    void SetType(const TTypeInfo* Type);

private:
    String FName;
    const TTypeInfo* FType;
    TClass FClass;
    int FIndex;
    std::unique_ptr<TPropAccess> FAccess;
    std::optional<Int64> FDefault;
    TStoredKind FStoredKind = skAlways;
    std::function<bool(TObject*)> FStored;
};

// The properties one class declares itself, in declaration order.
struct TPublishedTable {
    std::vector<std::unique_ptr<TPropInfo>> Props;
};

namespace Detail {

// Lives in a class's metaclass (its Published slot): the table is built on
// first use, so that property types may refer to classes whose metaclasses are
// still being set up.
struct TPublishedHolder {
    void (*Build)(TPublishedTable& Table, TClass Class);
    std::once_flag Once{};
    const TPublishedTable* Table = nullptr;
};
const TPublishedTable* PublishedOf(TClass Class);

template <class T>
Int64 ToOrd(const T& v) {
    if constexpr (std::is_same_v<T, bool>) return v ? 1 : 0;
    else if constexpr (std::is_same_v<T, WordBool>) return v.Value ? 1 : 0;
    else if constexpr (std::is_enum_v<T>) return static_cast<Int64>(v);
    else if constexpr (IsTSet<T>::value) return static_cast<Int64>(v.Bits());
    else return static_cast<Int64>(v);
}
template <class T>
T FromOrd(Int64 v) {
    if constexpr (std::is_same_v<T, bool>) return v != 0;
    else if constexpr (std::is_same_v<T, WordBool>) return WordBool(v != 0);
    else if constexpr (std::is_enum_v<T>) return static_cast<T>(v);
    else if constexpr (IsTSet<T>::value) return T::FromBits(static_cast<UInt64>(v));
    else return static_cast<T>(v);
}
template <class T>
inline constexpr bool IsOrdinalType = std::is_integral_v<T> || std::is_enum_v<T> || std::is_same_v<T, WordBool> ||
                                      IsTSet<T>::value;

[[noreturn]] void ThrowBadObject(TObject* Value, TClass Expected);
[[noreturn]] void ThrowBadHandler(const TEventHandler& Value, const std::type_info& Expected);

template <class C, class T, class G, class S>
class TPropAccessImpl final : public TPropAccess {
public:
    TPropAccessImpl(G Get, S Set) : FGet(std::move(Get)), FSet(std::move(Set)) {}
    bool CanWrite() const noexcept override { return !std::is_same_v<S, std::nullptr_t>; }

    Int64 GetOrd(TObject* o) const override {
        if constexpr (IsOrdinalType<T>) return ToOrd(Get(o));
        else return TPropAccess::GetOrd(o);
    }
    void SetOrd(TObject* o, Int64 v) const override {
        if constexpr (IsOrdinalType<T>) Set(o, FromOrd<T>(v));
        else TPropAccess::SetOrd(o, v);
    }
    double GetFloat(TObject* o) const override {
        if constexpr (std::is_floating_point_v<T>) return static_cast<double>(Get(o));
        else if constexpr (std::is_same_v<T, TDateTime>) return Get(o).Value;
        else return TPropAccess::GetFloat(o);
    }
    void SetFloat(TObject* o, double v) const override {
        if constexpr (std::is_floating_point_v<T>) Set(o, static_cast<T>(v));
        else if constexpr (std::is_same_v<T, TDateTime>) Set(o, TDateTime(v));
        else TPropAccess::SetFloat(o, v);
    }
    String GetStr(TObject* o) const override {
        if constexpr (std::is_same_v<T, String>) return Get(o);
        else if constexpr (std::is_same_v<T, WideString>) return Rtl::WideToUtf8(Get(o));
        else return TPropAccess::GetStr(o);
    }
    void SetStr(TObject* o, const String& v) const override {
        if constexpr (std::is_same_v<T, String>) Set(o, v);
        else if constexpr (std::is_same_v<T, WideString>) Set(o, Rtl::Utf8ToWide(v));
        else TPropAccess::SetStr(o, v);
    }
    WideString GetWideStr(TObject* o) const override {
        if constexpr (std::is_same_v<T, WideString>) return Get(o);
        else if constexpr (std::is_same_v<T, String>) return Rtl::Utf8ToWide(Get(o));
        else return TPropAccess::GetWideStr(o);
    }
    void SetWideStr(TObject* o, const WideString& v) const override {
        if constexpr (std::is_same_v<T, WideString>) Set(o, v);
        else if constexpr (std::is_same_v<T, String>) Set(o, Rtl::WideToUtf8(v));
        else TPropAccess::SetWideStr(o, v);
    }
    Variant GetVariant(TObject* o) const override {
        if constexpr (std::is_same_v<T, Variant>) return Get(o);
        else return TPropAccess::GetVariant(o);
    }
    void SetVariant(TObject* o, const Variant& v) const override {
        if constexpr (std::is_same_v<T, Variant>) Set(o, v);
        else TPropAccess::SetVariant(o, v);
    }
    TObject* GetObject(TObject* o) const override {
        if constexpr (std::is_pointer_v<T>) return const_cast<TObject*>(static_cast<const TObject*>(Get(o)));
        else return TPropAccess::GetObject(o);
    }
    void SetObject(TObject* o, TObject* v) const override {
        if constexpr (std::is_pointer_v<T>) {
            using P = std::remove_cv_t<std::remove_pointer_t<T>>;
            P* typed = v ? dynamic_cast<P*>(v) : nullptr;
            if (v && !typed) ThrowBadObject(v, &P::StaticClass());
            Set(o, typed);
        } else {
            TPropAccess::SetObject(o, v);
        }
    }
    TEventHandler GetMethod(TObject* o) const override {
        if constexpr (IsStdFunction<T>::value) {
            T fn = Get(o);
            if (!fn) return {};
            String name = EventName(fn);
            return {std::move(name), std::any(std::move(fn))};
        } else {
            return TPropAccess::GetMethod(o);
        }
    }
    void SetMethod(TObject* o, const TEventHandler& v) const override {
        if constexpr (IsStdFunction<T>::value) {
            if (!v.Handler.has_value()) { Set(o, T()); return; }
            const T* fn = std::any_cast<T>(&v.Handler);
            if (!fn) ThrowBadHandler(v, typeid(T));
            Set(o, v.Name.empty() ? *fn : NamedEvent(v.Name, *fn));
        } else {
            TPropAccess::SetMethod(o, v);
        }
    }

private:
    T Get(TObject* o) const {
        C* c = static_cast<C*>(o);
        if constexpr (std::is_member_object_pointer_v<G>) return c->*FGet;
        else return std::invoke(FGet, c);
    }
    void Set(TObject* o, T v) const {
        if constexpr (std::is_same_v<S, std::nullptr_t>) {
            TPropAccess::SetOrd(o, 0);  // not reached: callers test CanWrite first
        } else {
            C* c = static_cast<C*>(o);
            if constexpr (std::is_member_object_pointer_v<S>) c->*FSet = std::move(v);
            else std::invoke(FSet, c, std::move(v));
        }
    }
    G FGet;
    S FSet;
};

}  // namespace Detail

// Options of one property line: .Default(v), .NoDefault(), .Stored(false),
// .Stored(&TFoo::IsXStored), .Type(TypeInfo<WordBool>()).
template <class C>
class TPropBuilder {
public:
    explicit TPropBuilder(TPropInfo& Info) : FInfo(Info) {}
    template <class V>
    TPropBuilder& Default(V Value) {
        static_assert(Detail::IsOrdinalType<V>, "defaults exist for ordinal and set properties");
        FInfo.SetDefault(Detail::ToOrd(Value));
        return *this;
    }
    TPropBuilder& NoDefault() { FInfo.SetDefault(std::nullopt); return *this; }
    TPropBuilder& Stored(bool Value) { FInfo.SetStored(Value ? skAlways : skNever); return *this; }
    template <class F>
        requires std::is_invocable_r_v<bool, F, C*>
    TPropBuilder& Stored(F Predicate) {
        FInfo.SetStored(skPredicate, [p = std::move(Predicate)](TObject* o) { return std::invoke(p, static_cast<C*>(o)); });
        return *this;
    }
    // Gives the property another type of the same value kind (a bool accessor
    // published as WordBool, an int accessor as Byte, ...).
    TPropBuilder& Type(const TTypeInfo* T) { FInfo.SetType(T); return *this; }

private:
    TPropInfo& FInfo;
};

// The publishing side of a class's table; the VCL_..._IMPL macros derive a
// small struct from it whose body lists the properties.
template <class C>
class TPublisher {
public:
    TPublisher(TPublishedTable& Table, TClass Class) : FTable(Table), FClass(Class) {}

    template <class G, class S = std::nullptr_t>
    TPropBuilder<C> Prop(const char* Name, G Getter, S Setter = nullptr) {
        using T = ValueType<G>;
        static_assert(!IsStdFunction<T>::value, "event properties are published with Event(name, get, set, type)");
        return Add<T>(Name, TypeInfo<T>(), std::move(Getter), std::move(Setter));
    }
    template <class G, class S>
    TPropBuilder<C> Event(const char* Name, G Getter, S Setter, const char* EventType) {
        using T = ValueType<G>;
        static_assert(IsStdFunction<T>::value, "an event property holds a std::function");
        return Add<T>(Name, Detail::EventInfo(EventType, typeid(T)), std::move(Getter), std::move(Setter));
    }

private:
    template <class G>
    using ValueType = std::remove_cvref_t<std::invoke_result_t<G, C*>>;

    template <class T, class G, class S>
    TPropBuilder<C> Add(const char* Name, const TTypeInfo* Type, G Getter, S Setter) {
        auto access = std::make_unique<Detail::TPropAccessImpl<C, T, G, S>>(std::move(Getter), std::move(Setter));
        FTable.Props.push_back(std::make_unique<TPropInfo>(Name, Type, FClass, static_cast<int>(FTable.Props.size()),
                                                           std::move(access)));
        return TPropBuilder<C>(*FTable.Props.back());
    }
    TPublishedTable& FTable;
    TClass FClass;
};

namespace Detail {
template <class P>
void RunPublisher(TPublishedTable& Table, TClass Class) {
    P publisher(Table, Class);
    publisher.Publish();
}
}  // namespace Detail

// In a class body: the metaclass accessors, and access for the class's table.
#define VCL_CLASS(Cls, Base) \
    RTL_CLASS(Cls, Base)     \
    friend struct Cls##_Publisher;

#define VCL_CLASS_IMPL_WITH_FACTORY_(Cls, Base, Factory)                                                \
    struct Cls##_Publisher : ::Vcl::TPublisher<Cls> {                                                  \
        using ::Vcl::TPublisher<Cls>::TPublisher;                                                      \
        void Publish();                                                                                \
    };                                                                                                 \
    const ::Rtl::TMetaClass& Cls::StaticClass() {                                                      \
        static ::Vcl::Detail::TPublishedHolder holder{&::Vcl::Detail::RunPublisher<Cls##_Publisher>}; \
        static ::Rtl::TMetaClass mc{#Cls, &Base::StaticClass(), Factory, &holder};                     \
        return mc;                                                                                     \
    }                                                                                                  \
    void Cls##_Publisher::Publish()

// In one source file, followed by the body listing the published properties
// (which may be empty: {}). A class that cannot be created by name:
#define VCL_CLASS_IMPL(Cls, Base) VCL_CLASS_IMPL_WITH_FACTORY_(Cls, Base, nullptr)

// ---- Look-up, get and set ---------------------------------------------------------------

// The published property Name (case-insensitive) of Class or its nearest
// ancestor that declares it; null when there is none.
const TPropInfo* GetPropInfo(TClass Class, std::string_view Name);
const TPropInfo* GetPropInfo(const TObject* Instance, std::string_view Name);
// All published properties, ancestors' first, each in declaration order; a
// property a descendant declares again keeps its ancestor's place.
std::vector<const TPropInfo*> GetPropList(TClass Class);
std::vector<const TPropInfo*> GetPropList(const TObject* Instance);
bool IsPublishedProp(const TObject* Instance, std::string_view Name);
// The stored rule of Prop for Instance.
bool IsStoredProp(TObject* Instance, const TPropInfo* Prop);
// True when the value equals the property's default: the default of an ordinal
// or set, zero, the empty string, Unassigned, no object, no handler.
bool IsDefaultPropValue(TObject* Instance, const TPropInfo* Prop);

// Typed access. Each checks that Instance has the property and that the kind
// fits, and raises EPropertyError / EPropertyConvertError naming the property
// otherwise. Ordinal setters check the value against the type's range.
Int64 GetOrdProp(TObject* Instance, const TPropInfo* Prop);
void SetOrdProp(TObject* Instance, const TPropInfo* Prop, Int64 Value);
String GetEnumProp(TObject* Instance, const TPropInfo* Prop);
void SetEnumProp(TObject* Instance, const TPropInfo* Prop, std::string_view Value);
String GetSetProp(TObject* Instance, const TPropInfo* Prop, bool Brackets = false);
void SetSetProp(TObject* Instance, const TPropInfo* Prop, std::string_view Value);
double GetFloatProp(TObject* Instance, const TPropInfo* Prop);
void SetFloatProp(TObject* Instance, const TPropInfo* Prop, double Value);
String GetStrProp(TObject* Instance, const TPropInfo* Prop);
void SetStrProp(TObject* Instance, const TPropInfo* Prop, const String& Value);
WideString GetWideStrProp(TObject* Instance, const TPropInfo* Prop);
void SetWideStrProp(TObject* Instance, const TPropInfo* Prop, const WideString& Value);
Variant GetVariantProp(TObject* Instance, const TPropInfo* Prop);
void SetVariantProp(TObject* Instance, const TPropInfo* Prop, const Variant& Value);
TObject* GetObjectProp(TObject* Instance, const TPropInfo* Prop);
void SetObjectProp(TObject* Instance, const TPropInfo* Prop, TObject* Value);
TEventHandler GetMethodProp(TObject* Instance, const TPropInfo* Prop);
void SetMethodProp(TObject* Instance, const TPropInfo* Prop, const TEventHandler& Value);

// By name; EPropertyError "Property %s does not exist" when unknown.
const TPropInfo* FindPropInfo(const TObject* Instance, std::string_view Name);
inline Int64 GetOrdProp(TObject* I, std::string_view N) { return GetOrdProp(I, FindPropInfo(I, N)); }
inline void SetOrdProp(TObject* I, std::string_view N, Int64 V) { SetOrdProp(I, FindPropInfo(I, N), V); }
inline String GetEnumProp(TObject* I, std::string_view N) { return GetEnumProp(I, FindPropInfo(I, N)); }
inline void SetEnumProp(TObject* I, std::string_view N, std::string_view V) { SetEnumProp(I, FindPropInfo(I, N), V); }
inline String GetSetProp(TObject* I, std::string_view N, bool B = false) { return GetSetProp(I, FindPropInfo(I, N), B); }
inline void SetSetProp(TObject* I, std::string_view N, std::string_view V) { SetSetProp(I, FindPropInfo(I, N), V); }
inline double GetFloatProp(TObject* I, std::string_view N) { return GetFloatProp(I, FindPropInfo(I, N)); }
inline void SetFloatProp(TObject* I, std::string_view N, double V) { SetFloatProp(I, FindPropInfo(I, N), V); }
inline String GetStrProp(TObject* I, std::string_view N) { return GetStrProp(I, FindPropInfo(I, N)); }
inline void SetStrProp(TObject* I, std::string_view N, const String& V) { SetStrProp(I, FindPropInfo(I, N), V); }
inline WideString GetWideStrProp(TObject* I, std::string_view N) { return GetWideStrProp(I, FindPropInfo(I, N)); }
inline void SetWideStrProp(TObject* I, std::string_view N, const WideString& V) {
    SetWideStrProp(I, FindPropInfo(I, N), V);
}
inline Variant GetVariantProp(TObject* I, std::string_view N) { return GetVariantProp(I, FindPropInfo(I, N)); }
inline void SetVariantProp(TObject* I, std::string_view N, const Variant& V) { SetVariantProp(I, FindPropInfo(I, N), V); }
inline TObject* GetObjectProp(TObject* I, std::string_view N) { return GetObjectProp(I, FindPropInfo(I, N)); }
inline void SetObjectProp(TObject* I, std::string_view N, TObject* V) { SetObjectProp(I, FindPropInfo(I, N), V); }
inline TEventHandler GetMethodProp(TObject* I, std::string_view N) { return GetMethodProp(I, FindPropInfo(I, N)); }
inline void SetMethodProp(TObject* I, std::string_view N, const TEventHandler& V) {
    SetMethodProp(I, FindPropInfo(I, N), V);
}

// Any property as a variant: ordinals as integers (enumerations and sets as
// their names when PreferStrings), floats as doubles (TDateTime as a date),
// strings, variants as they are. Object and event properties are not
// representable and raise EPropertyConvertError.
Variant GetPropValue(TObject* Instance, std::string_view Name, bool PreferStrings = true);
// The reverse: converts Value to the property's type (enumeration and set
// names accepted as strings).
void SetPropValue(TObject* Instance, std::string_view Name, const Variant& Value);

}  // namespace Vcl
