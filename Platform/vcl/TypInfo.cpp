#include "Platform/vcl/TypInfo.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <map>

namespace Vcl {

namespace {

// Type information lives as long as the process: it is reached from metaclasses
// and tables that may be used during static destruction.
TTypeInfo* Ordinal(TTypeKind kind, const char* name, TOrdType ord, Int64 min, Int64 max) {
    auto* t = new TTypeInfo;
    t->Kind = kind;
    t->Name = name;
    t->OrdType = ord;
    t->MinValue = min;
    t->MaxValue = max;
    return t;
}

TTypeInfo* BoolType(const char* name, TOrdType ord) {
    auto* t = Ordinal(tkEnumeration, name, ord, 0, 1);
    t->Names = {"False", "True"};
    t->Values = {0, 1};
    return t;
}

TTypeInfo* Simple(TTypeKind kind, const char* name, TFloatType ft = ftDouble) {
    auto* t = new TTypeInfo;
    t->Kind = kind;
    t->Name = name;
    t->FloatType = ft;
    return t;
}

String Trimmed(std::string_view s) { return Rtl::Trim(s); }

[[noreturn]] void ConvertError(const String& msg) { throw EPropertyConvertError(msg); }

}  // namespace

namespace Detail {

const TTypeInfo* IntegerInfo() { static auto* t = Ordinal(tkInteger, "Integer", otSLong, INT_MIN, INT_MAX); return t; }
const TTypeInfo* ByteInfo() { static auto* t = Ordinal(tkInteger, "Byte", otUByte, 0, 255); return t; }
const TTypeInfo* ShortIntInfo() { static auto* t = Ordinal(tkInteger, "ShortInt", otSByte, -128, 127); return t; }
const TTypeInfo* SmallIntInfo() { static auto* t = Ordinal(tkInteger, "SmallInt", otSWord, -32768, 32767); return t; }
const TTypeInfo* WordInfo() { static auto* t = Ordinal(tkInteger, "Word", otUWord, 0, 65535); return t; }
const TTypeInfo* CardinalInfo() { static auto* t = Ordinal(tkInteger, "Cardinal", otULong, 0, UINT_MAX); return t; }
const TTypeInfo* Int64Info() { static auto* t = Ordinal(tkInt64, "Int64", otSQWord, INT64_MIN, INT64_MAX); return t; }
const TTypeInfo* BooleanInfo() { static auto* t = BoolType("Boolean", otUByte); return t; }
const TTypeInfo* WordBoolInfo() { static auto* t = BoolType("WordBool", otSWord); return t; }
const TTypeInfo* DoubleInfo() { static auto* t = Simple(tkFloat, "Double", ftDouble); return t; }
const TTypeInfo* SingleInfo() { static auto* t = Simple(tkFloat, "Single", ftSingle); return t; }
const TTypeInfo* DateTimeInfo() { static auto* t = Simple(tkFloat, "TDateTime", ftDouble); return t; }
const TTypeInfo* StringInfo() { static auto* t = Simple(tkLString, "String"); return t; }
const TTypeInfo* WideStringInfo() { static auto* t = Simple(tkWString, "WideString"); return t; }
const TTypeInfo* VariantInfo() { static auto* t = Simple(tkVariant, "OleVariant"); return t; }

namespace {
std::mutex& RegistryLock() {
    static auto* m = new std::mutex;
    return *m;
}
}  // namespace

const TTypeInfo* ClassInfo(TClass Class) {
    static auto* infos = new std::map<TClass, TTypeInfo*>;
    std::lock_guard lock(RegistryLock());
    auto& slot = (*infos)[Class];
    if (!slot) {
        slot = Simple(tkClass, Class->Name);
        slot->ClassType = Class;
    }
    return slot;
}

const TTypeInfo* EventInfo(const String& Name, const std::type_info& HandlerType) {
    static auto* infos = new std::map<String, TTypeInfo*>;
    std::lock_guard lock(RegistryLock());
    auto& slot = (*infos)[Rtl::UpperCase(Name)];
    if (!slot) {
        slot = Simple(tkMethod, Name.c_str());
        slot->HandlerType = &HandlerType;
    } else if (*slot->HandlerType != HandlerType) {
        throw EPropertyError("Event type " + Name + " is declared with two different handler types");
    }
    return slot;
}

TTypeInfo MakeEnumInfo(const char* TypeName, const char* NameList, const Int64* Values, std::size_t Count,
                       bool IsSigned, std::size_t Size) {
    TTypeInfo t;
    t.Kind = tkEnumeration;
    t.Name = TypeName;
    t.OrdType = Size == 1 ? (IsSigned ? otSByte : otUByte)
              : Size == 2 ? (IsSigned ? otSWord : otUWord)
              : Size == 4 ? (IsSigned ? otSLong : otULong)
                          : otSQWord;
    std::string_view list(NameList);
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) comma = list.size();
        String item = Trimmed(list.substr(start, comma - start));
        // "cmRead = 1" style items keep only the name.
        if (auto eq = item.find('='); eq != String::npos) item = Trimmed(std::string_view(item).substr(0, eq));
        if (!item.empty()) t.Names.push_back(item);
        start = comma + 1;
    }
    if (t.Names.size() != Count) throw EPropertyError(String("Enumeration ") + TypeName + ": names and values differ");
    t.Values.assign(Values, Values + Count);
    if (Count) {
        t.MinValue = t.MaxValue = Values[0];
        for (std::size_t i = 1; i < Count; ++i) {
            t.MinValue = std::min(t.MinValue, Values[i]);
            t.MaxValue = std::max(t.MaxValue, Values[i]);
        }
    }
    return t;
}

TTypeInfo MakeSetInfo(const char* TypeName, const TTypeInfo* CompType) {
    TTypeInfo t;
    t.Kind = tkSet;
    t.Name = TypeName;
    t.CompType = CompType;
    return t;
}

const TTypeInfo* AutoSetInfo(const TTypeInfo* CompType) {
    static auto* infos = new std::map<const TTypeInfo*, TTypeInfo*>;
    std::lock_guard lock(RegistryLock());
    auto& slot = (*infos)[CompType];
    if (!slot) slot = new TTypeInfo(MakeSetInfo(("set of " + CompType->Name).c_str(), CompType));
    return slot;
}

const TPublishedTable* PublishedOf(TClass Class) {
    if (!Class || !Class->Published) return nullptr;
    auto* holder = const_cast<TPublishedHolder*>(static_cast<const TPublishedHolder*>(Class->Published));
    std::call_once(holder->Once, [&] {
        auto* table = new TPublishedTable;
        holder->Build(*table, Class);
        holder->Table = table;
    });
    return holder->Table;
}

void ThrowBadObject(TObject* Value, TClass Expected) {
    ConvertError("Invalid property value: " + Value->ClassName() + " is not a " + Expected->Name);
}

void ThrowBadHandler(const TEventHandler& Value, const std::type_info&) {
    ConvertError("Invalid property value: handler " + (Value.Name.empty() ? String("(unnamed)") : Value.Name) +
                 " has the wrong type for this event");
}

}  // namespace Detail

// ---- Enumerations and sets -------------------------------------------------------------

String GetEnumName(const TTypeInfo* EnumType, Int64 Value) {
    if (!EnumType) return {};
    for (std::size_t i = 0; i < EnumType->Values.size(); ++i)
        if (EnumType->Values[i] == Value) return EnumType->Names[i];
    return {};
}

bool TryGetEnumValue(const TTypeInfo* EnumType, std::string_view Name, Int64& Value) {
    if (!EnumType) return false;
    for (std::size_t i = 0; i < EnumType->Names.size(); ++i)
        if (Rtl::SameText(EnumType->Names[i], Name)) {
            Value = EnumType->Values[i];
            return true;
        }
    return false;
}

Int64 GetEnumValue(const TTypeInfo* EnumType, std::string_view Name) {
    Int64 v;
    return TryGetEnumValue(EnumType, Name, v) ? v : -1;
}

String SetToString(const TTypeInfo* SetType, UInt64 Bits, bool Brackets) {
    const TTypeInfo* comp = SetType->CompType;
    String out;
    for (int bit = 0; bit < 64; ++bit) {
        if (!(Bits & (UInt64{1} << bit))) continue;
        String name = GetEnumName(comp, bit);
        if (name.empty())
            ConvertError("Set " + SetType->Name + " holds element " + std::to_string(bit) + ", which has no name");
        if (!out.empty()) out += ',';
        out += name;
    }
    return Brackets ? "[" + out + "]" : out;
}

UInt64 StringToSet(const TTypeInfo* SetType, std::string_view Text) {
    String s = Trimmed(Text);
    std::string_view v(s);
    if (!v.empty() && v.front() == '[') {
        if (v.back() != ']') ConvertError("Invalid property element: " + s);
        v = v.substr(1, v.size() - 2);
    }
    UInt64 bits = 0;
    if (Trimmed(v).empty()) return bits;
    std::size_t start = 0;
    while (start <= v.size()) {
        std::size_t comma = v.find(',', start);
        if (comma == std::string_view::npos) comma = v.size();
        String item = Trimmed(v.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) ConvertError("Invalid property element: " + s);
        Int64 ord;
        if (!TryGetEnumValue(SetType->CompType, item, ord) || ord < 0 || ord > 63)
            ConvertError("Invalid property element: " + item);
        bits |= UInt64{1} << ord;
    }
    return bits;
}

// ---- Event handler tables ----------------------------------------------------------------

void TEventHandlers::AddAny(const String& Name, std::any Handler, const std::type_info* Type) {
    for (auto& item : FItems)
        if (Rtl::SameText(item.Name, Name)) {
            item = {Name, std::move(Handler), Type};
            return;
        }
    FItems.push_back({Name, std::move(Handler), Type});
}

const std::any* TEventHandlers::Find(std::string_view Name) const {
    for (auto& item : FItems)
        if (Rtl::SameText(item.Name, Name)) return &item.Handler;
    return nullptr;
}

const std::type_info* TEventHandlers::HandlerType(std::string_view Name) const {
    for (auto& item : FItems)
        if (Rtl::SameText(item.Name, Name)) return item.Type;
    return nullptr;
}

std::vector<String> TEventHandlers::Names() const {
    std::vector<String> names;
    for (auto& item : FItems) names.push_back(item.Name);
    return names;
}

// ---- TPropAccess: calls of the wrong kind ------------------------------------------------

namespace {
[[noreturn]] void WrongKind() { ConvertError("Invalid property type"); }
}  // namespace

Int64 TPropAccess::GetOrd(TObject*) const { WrongKind(); }
void TPropAccess::SetOrd(TObject*, Int64) const { WrongKind(); }
double TPropAccess::GetFloat(TObject*) const { WrongKind(); }
void TPropAccess::SetFloat(TObject*, double) const { WrongKind(); }
String TPropAccess::GetStr(TObject*) const { WrongKind(); }
void TPropAccess::SetStr(TObject*, const String&) const { WrongKind(); }
WideString TPropAccess::GetWideStr(TObject*) const { WrongKind(); }
void TPropAccess::SetWideStr(TObject*, const WideString&) const { WrongKind(); }
Variant TPropAccess::GetVariant(TObject*) const { WrongKind(); }
void TPropAccess::SetVariant(TObject*, const Variant&) const { WrongKind(); }
TObject* TPropAccess::GetObject(TObject*) const { WrongKind(); }
void TPropAccess::SetObject(TObject*, TObject*) const { WrongKind(); }
TEventHandler TPropAccess::GetMethod(TObject*) const { WrongKind(); }
void TPropAccess::SetMethod(TObject*, const TEventHandler&) const { WrongKind(); }

// ---- TPropInfo ------------------------------------------------------------------------------

TPropInfo::TPropInfo(String Name, const TTypeInfo* Type, TClass Class, int Index, std::unique_ptr<TPropAccess> Access)
    : FName(std::move(Name)), FType(Type), FClass(Class), FIndex(Index), FAccess(std::move(Access)) {}

void TPropInfo::SetDefault(std::optional<Int64> Value) {
    if (Value && !FType->IsOrdinal() && FType->Kind != tkSet)
        throw EPropertyError("Property " + FName + ": only ordinal and set properties have defaults");
    FDefault = Value;
}

void TPropInfo::SetStored(TStoredKind Kind, std::function<bool(TObject*)> Predicate) {
    FStoredKind = Kind;
    FStored = std::move(Predicate);
}

void TPropInfo::SetType(const TTypeInfo* Type) {
    const bool bothOrdinal = Type->IsOrdinal() && FType->IsOrdinal();
    const bool sameFloat = Type->Kind == tkFloat && FType->Kind == tkFloat;
    if (!bothOrdinal && !sameFloat && Type->Kind != FType->Kind)
        throw EPropertyError("Property " + FName + ": type " + Type->Name + " does not fit its accessors");
    FType = Type;
}

bool TPropInfo::IsStored(TObject* Instance) const {
    switch (FStoredKind) {
        case skAlways: return true;
        case skNever: return false;
        case skPredicate: return FStored(Instance);
    }
    return true;
}

// ---- Look-up -------------------------------------------------------------------------------

const TPropInfo* GetPropInfo(TClass Class, std::string_view Name) {
    for (TClass c = Class; c; c = c->Parent)
        if (auto* table = Detail::PublishedOf(c))
            for (auto& p : table->Props)
                if (Rtl::SameText(p->Name(), Name)) return p.get();
    return nullptr;
}

const TPropInfo* GetPropInfo(const TObject* Instance, std::string_view Name) {
    return Instance ? GetPropInfo(Instance->ClassType(), Name) : nullptr;
}

std::vector<const TPropInfo*> GetPropList(TClass Class) {
    std::vector<TClass> chain;
    for (TClass c = Class; c; c = c->Parent) chain.push_back(c);
    std::vector<const TPropInfo*> list;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        auto* table = Detail::PublishedOf(*it);
        if (!table) continue;
        for (auto& p : table->Props) {
            bool replaced = false;
            for (auto& existing : list)
                if (Rtl::SameText(existing->Name(), p->Name())) {
                    existing = p.get();
                    replaced = true;
                    break;
                }
            if (!replaced) list.push_back(p.get());
        }
    }
    return list;
}

std::vector<const TPropInfo*> GetPropList(const TObject* Instance) {
    return Instance ? GetPropList(Instance->ClassType()) : std::vector<const TPropInfo*>{};
}

bool IsPublishedProp(const TObject* Instance, std::string_view Name) { return GetPropInfo(Instance, Name) != nullptr; }

const TPropInfo* FindPropInfo(const TObject* Instance, std::string_view Name) {
    if (!Instance) throw EPropertyError("Property " + String(Name) + " does not exist");
    auto* p = GetPropInfo(Instance, Name);
    if (!p) throw EPropertyError("Property " + String(Name) + " does not exist");
    return p;
}

// ---- Typed access ------------------------------------------------------------------------------

namespace {

void Check(TObject* Instance, const TPropInfo* Prop) {
    if (!Prop) throw EPropertyError("Property does not exist");
    if (!Instance) throw EPropertyError("Property " + Prop->Name() + ": no instance");
    if (!Instance->InheritsFrom(Prop->DeclaringClass()))
        throw EPropertyError("Property " + Prop->Name() + " does not exist in " + Instance->ClassName());
}

void CheckKind(const TPropInfo* Prop, bool ok) {
    if (!ok) ConvertError("Invalid property type: " + Prop->Name() + " is of type " + Prop->PropType()->Name);
}

void CheckWritable(const TPropInfo* Prop) {
    if (!Prop->IsWritable()) throw EPropertyError("Property " + Prop->Name() + " is read-only");
}

bool IsOrdinalKind(const TPropInfo* p) { return p->PropType()->IsOrdinal() || p->Kind() == tkSet; }
bool IsStringKind(const TPropInfo* p) { return p->Kind() == tkLString || p->Kind() == tkWString; }

void CheckOrdinalValue(const TPropInfo* Prop, Int64 Value) {
    const TTypeInfo* t = Prop->PropType();
    if (t->Kind == tkSet) {
        UInt64 allowed = 0;
        for (Int64 v : t->CompType->Values)
            if (v >= 0 && v < 64) allowed |= UInt64{1} << v;
        if (static_cast<UInt64>(Value) & ~allowed)
            ConvertError("Invalid property value for " + Prop->Name() + ": set elements outside " + t->Name);
        return;
    }
    if (t->Kind == tkEnumeration) {
        for (Int64 v : t->Values)
            if (v == Value) return;
        ConvertError("Invalid property value for " + Prop->Name() + ": " + std::to_string(Value) +
                     " is not a value of " + t->Name);
    }
    if (Value < t->MinValue || Value > t->MaxValue)
        ConvertError("Invalid property value for " + Prop->Name() + ": " + std::to_string(Value) +
                     " is outside the range of " + t->Name + " (" + std::to_string(t->MinValue) + ".." +
                     std::to_string(t->MaxValue) + ")");
}

}  // namespace

bool IsStoredProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    return Prop->IsStored(Instance);
}

bool IsDefaultPropValue(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    const auto& a = Prop->Access();
    switch (Prop->Kind()) {
        case tkInteger:
        case tkEnumeration:
        case tkInt64:
        case tkSet:
            return Prop->HasDefault() && a.GetOrd(Instance) == Prop->Default();
        case tkFloat: {
            double v = a.GetFloat(Instance);
            return v == 0 && !std::signbit(v);
        }
        case tkLString: return a.GetStr(Instance).empty();
        case tkWString: return a.GetWideStr(Instance).empty();
        case tkVariant: return a.GetVariant(Instance).IsEmpty();
        case tkClass: return a.GetObject(Instance) == nullptr;
        case tkMethod: return !a.GetMethod(Instance).Assigned();
        default: return false;
    }
}

Int64 GetOrdProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, IsOrdinalKind(Prop));
    return Prop->Access().GetOrd(Instance);
}

void SetOrdProp(TObject* Instance, const TPropInfo* Prop, Int64 Value) {
    Check(Instance, Prop);
    CheckKind(Prop, IsOrdinalKind(Prop));
    CheckWritable(Prop);
    CheckOrdinalValue(Prop, Value);
    Prop->Access().SetOrd(Instance, Value);
}

String GetEnumProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkEnumeration);
    return GetEnumName(Prop->PropType(), Prop->Access().GetOrd(Instance));
}

void SetEnumProp(TObject* Instance, const TPropInfo* Prop, std::string_view Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkEnumeration);
    Int64 v;
    if (!TryGetEnumValue(Prop->PropType(), Trimmed(Value), v))
        ConvertError("Invalid enumeration value '" + String(Value) + "' for " + Prop->Name() + " (" +
                     Prop->PropType()->Name + ")");
    SetOrdProp(Instance, Prop, v);
}

String GetSetProp(TObject* Instance, const TPropInfo* Prop, bool Brackets) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkSet);
    return SetToString(Prop->PropType(), static_cast<UInt64>(Prop->Access().GetOrd(Instance)), Brackets);
}

void SetSetProp(TObject* Instance, const TPropInfo* Prop, std::string_view Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkSet);
    SetOrdProp(Instance, Prop, static_cast<Int64>(StringToSet(Prop->PropType(), Value)));
}

double GetFloatProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkFloat);
    return Prop->Access().GetFloat(Instance);
}

void SetFloatProp(TObject* Instance, const TPropInfo* Prop, double Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkFloat);
    CheckWritable(Prop);
    if (Prop->PropType()->FloatType == ftSingle && std::isfinite(Value) && std::fabs(Value) > FLT_MAX)
        ConvertError("Invalid property value for " + Prop->Name() + ": " + std::to_string(Value) +
                     " is outside the range of Single");
    Prop->Access().SetFloat(Instance, Value);
}

String GetStrProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, IsStringKind(Prop));
    return Prop->Access().GetStr(Instance);
}

void SetStrProp(TObject* Instance, const TPropInfo* Prop, const String& Value) {
    Check(Instance, Prop);
    CheckKind(Prop, IsStringKind(Prop));
    CheckWritable(Prop);
    Prop->Access().SetStr(Instance, Value);
}

WideString GetWideStrProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, IsStringKind(Prop));
    return Prop->Access().GetWideStr(Instance);
}

void SetWideStrProp(TObject* Instance, const TPropInfo* Prop, const WideString& Value) {
    Check(Instance, Prop);
    CheckKind(Prop, IsStringKind(Prop));
    CheckWritable(Prop);
    Prop->Access().SetWideStr(Instance, Value);
}

Variant GetVariantProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkVariant);
    return Prop->Access().GetVariant(Instance);
}

void SetVariantProp(TObject* Instance, const TPropInfo* Prop, const Variant& Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkVariant);
    CheckWritable(Prop);
    Prop->Access().SetVariant(Instance, Value);
}

TObject* GetObjectProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkClass);
    return Prop->Access().GetObject(Instance);
}

void SetObjectProp(TObject* Instance, const TPropInfo* Prop, TObject* Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkClass);
    CheckWritable(Prop);
    if (Value && !Value->InheritsFrom(Prop->PropType()->ClassType))
        ConvertError("Invalid property value for " + Prop->Name() + ": " + Value->ClassName() + " is not a " +
                     Prop->PropType()->Name);
    Prop->Access().SetObject(Instance, Value);
}

TEventHandler GetMethodProp(TObject* Instance, const TPropInfo* Prop) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkMethod);
    return Prop->Access().GetMethod(Instance);
}

void SetMethodProp(TObject* Instance, const TPropInfo* Prop, const TEventHandler& Value) {
    Check(Instance, Prop);
    CheckKind(Prop, Prop->Kind() == tkMethod);
    CheckWritable(Prop);
    if (Value.Handler.has_value() && Value.Handler.type() != *Prop->PropType()->HandlerType)
        ConvertError("Invalid property value for " + Prop->Name() + ": handler " +
                     (Value.Name.empty() ? String("(unnamed)") : Value.Name) + " is not a " +
                     Prop->PropType()->Name);
    Prop->Access().SetMethod(Instance, Value);
}

// ---- Variants --------------------------------------------------------------------------------

Variant GetPropValue(TObject* Instance, std::string_view Name, bool PreferStrings) {
    const TPropInfo* p = FindPropInfo(Instance, Name);
    const auto& a = p->Access();
    switch (p->Kind()) {
        case tkInteger: {
            Int64 v = a.GetOrd(Instance);
            if (v >= INT_MIN && v <= INT_MAX) return Variant(static_cast<int>(v));
            return Variant(static_cast<long long>(v));
        }
        case tkInt64: return Variant(static_cast<long long>(a.GetOrd(Instance)));
        case tkEnumeration: {
            Int64 v = a.GetOrd(Instance);
            if (p->PropType() == TypeInfo<bool>() || p->PropType() == TypeInfo<WordBool>()) return Variant(v != 0);
            if (PreferStrings) return Variant(GetEnumName(p->PropType(), v));
            return Variant(static_cast<int>(v));
        }
        case tkSet: {
            UInt64 bits = static_cast<UInt64>(a.GetOrd(Instance));
            if (PreferStrings) return Variant(SetToString(p->PropType(), bits));
            return Variant(static_cast<long long>(bits));
        }
        case tkFloat: {
            double v = a.GetFloat(Instance);
            if (p->PropType() == TypeInfo<TDateTime>()) return Variant(TDateTime(v));
            return Variant(v);
        }
        case tkLString: return Variant(a.GetStr(Instance));
        case tkWString: return Variant(a.GetWideStr(Instance));
        case tkVariant: return a.GetVariant(Instance);
        default: CheckKind(p, false); return {};
    }
}

void SetPropValue(TObject* Instance, std::string_view Name, const Variant& Value) {
    const TPropInfo* p = FindPropInfo(Instance, Name);
    switch (p->Kind()) {
        case tkInteger:
        case tkInt64: SetOrdProp(Instance, p, Value.ToInt64()); break;
        case tkEnumeration:
            if (Rtl::VarIsStr(Value)) {
                SetEnumProp(Instance, p, Value.ToString());
            } else if (p->PropType() == TypeInfo<bool>() || p->PropType() == TypeInfo<WordBool>()) {
                SetOrdProp(Instance, p, Value.ToBoolean() ? 1 : 0);
            } else {
                SetOrdProp(Instance, p, Value.ToInt64());
            }
            break;
        case tkSet:
            if (Rtl::VarIsStr(Value)) SetSetProp(Instance, p, Value.ToString());
            else SetOrdProp(Instance, p, Value.ToInt64());
            break;
        case tkFloat: SetFloatProp(Instance, p, Value.ToDouble()); break;
        case tkLString: SetStrProp(Instance, p, Value.ToString()); break;
        case tkWString: SetWideStrProp(Instance, p, Value.ToWideString()); break;
        case tkVariant: SetVariantProp(Instance, p, Value); break;
        default: CheckKind(p, false);
    }
}

}  // namespace Vcl
