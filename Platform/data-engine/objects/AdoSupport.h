// What the engine's COM objects share: how failures become Error items and
// EOleException, the Error and Errors objects, dynamic property collections,
// and the bookkeeping of unwanted events.
//
// Failure rule. Inside the objects, code raises EEngineError (the provider's
// errors, and ADO's own through AdoFail) or lets other exceptions escape. Every
// interface member runs its body through Guard(): the first guard a failure
// meets turns it into one Error item of the connection's Errors collection
// (cleared first) and raises EAdoError, an EOleException carrying the same
// number, description and source. Guards further out pass EAdoError on
// untouched, so a failure is recorded once.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "Platform/com/Com.h"
#include "Platform/data-engine/providers/Provider.h"
#include "Velora/com/AdoInt.h"

namespace DataEngine::Ado {

using Com::ComPtr;
using Com::HRESULT;
using Rtl::WideString;
using namespace Velora;

// ---- Failures ----------------------------------------------------------------------------------

// One failure as ADO's Error object reports it.
struct TFailure {
    HRESULT Number = hrFail;
    String Description;
    String Source;
    String SQLState;
    int NativeError = 0;
    String HelpFile;
    int HelpContext = 0;
};

// ADO's own text for one of its error numbers ("Operation is not allowed when
// the object is closed.").
String AdoErrorText(ErrorValueEnum code);
// Raises EEngineError with ADO's number and text; detail (when given) says
// what failed and follows the text.
[[noreturn]] void AdoFail(ErrorValueEnum code, std::string_view detail = {});
// Raises E_NOTIMPL for an interface member this engine does not provide yet.
[[noreturn]] void NotImplementedYet(std::string_view member);

// A failure already reported through an object's Errors collection.
class EAdoError : public Com::EOleException {
public:
    explicit EAdoError(const TFailure& f);
    const String& GetSQLState() const noexcept { return FSQLState; }
    int GetNativeError() const noexcept { return FNativeError; }
    const char* ClassName() const noexcept override { return "EAdoError"; }

private:
    String FSQLState;
    int FNativeError;
};

// Inside a catch block: the current exception as a failure (an EAdoError is
// not expected here: callers rethrow it first). defaultSource names the
// object when the exception does not.
TFailure DescribeCurrentException(std::string_view defaultSource) noexcept;

WideString Wide(std::string_view s);
String Narrow(const WideString& s);

// ---- Error and Errors ------------------------------------------------------------------------------

class TErrorObject : public Com::TDispatchImpl<TErrorObject, Com::TImplements<Com::TInterfacedObject, Error>> {
public:
    explicit TErrorObject(TFailure failure) : FFailure(std::move(failure)) {}
    int GetNumber() override { return FFailure.Number; }
    WideString GetSource() override { return Wide(FFailure.Source); }
    WideString GetDescription() override { return Wide(FFailure.Description); }
    WideString GetHelpFile() override { return Wide(FFailure.HelpFile); }
    int GetHelpContext() override { return FFailure.HelpContext; }
    WideString GetSQLState() override { return Wide(FFailure.SQLState); }
    int GetNativeError() override { return FFailure.NativeError; }
    const TFailure& GetFailure() const noexcept { return FFailure; }

    static const Com::TDispatchTable<TErrorObject>& GetDispatchTable();

private:
    TFailure FFailure;
};

ComPtr<Error> MakeError(const TFailure& failure);

// The Errors collection of a connection; its lifetime is the connection's.
class TErrorsCollection : public Com::TDispatchImpl<TErrorsCollection, Com::TImplements<Com::TContainedObject, Errors>> {
public:
    explicit TErrorsCollection(Rtl::IUnknown* controller) : TDispatchImpl(controller) {}
    int GetCount() override { return static_cast<int>(FItems.size()); }
    ComPtr<Rtl::IUnknown> _NewEnum() override;
    void Refresh() override {}
    ComPtr<Error> GetItem(const Variant& Index) override;
    void Clear() override { FItems.clear(); }

    // A new failure replaces what the collection held; answers its Error object.
    ComPtr<Error> Report(const TFailure& failure);
    // A warning joins the collection without clearing it.
    ComPtr<Error> AddWarning(const TFailure& failure);

    static const Com::TDispatchTable<TErrorsCollection>& GetDispatchTable();

private:
    std::vector<ComPtr<Error>> FItems;
};

// ---- Guarded members ---------------------------------------------------------------------------------

// What an object knows about reporting its failures.
class TFailureReporter {
public:
    virtual ~TFailureReporter() = default;
    // The Errors collection failures go to; null when the object has none
    // (no connection).
    virtual TErrorsCollection* GetErrorTarget() = 0;
    // The source named in failures ("ADODB.Recordset").
    virtual const char* GetSourceName() const = 0;

    // Runs body; a failure is reported once and raised as EAdoError.
    template <class F>
    decltype(auto) Guard(F&& body) {
        try {
            return body();
        } catch (const EAdoError&) {
            throw;
        } catch (...) {
            RaiseReported(DescribeCurrentException(GetSourceName()));
        }
    }
    // Reports a failure through the Errors collection and raises it.
    [[noreturn]] void RaiseReported(const TFailure& failure);
    // Inside a catch block: reports the current exception (unless it was
    // reported already), calls complete with its Error object (for the
    // Complete event of the failed operation) and raises it as EAdoError.
    [[noreturn]] void RaiseWithComplete(const std::function<void(Error*)>& complete);
};

// ---- Dynamic properties -----------------------------------------------------------------------------

class TPropertiesCollection;

class TPropertyObject : public Com::TDispatchImpl<TPropertyObject, Com::TImplements<Com::TContainedObject, Property>> {
public:
    TPropertyObject(Rtl::IUnknown* controller, TPropertiesCollection* owner, String name)
        : TDispatchImpl(controller), FOwner(owner), FName(std::move(name)) {}
    Variant GetValue() override;
    void SetValue(const Variant& Value) override;
    WideString GetName() override { return Wide(FName); }
    DataTypeEnum GetType() override;
    int GetAttributes() override;
    void SetAttributes(int Attributes) override;

    static const Com::TDispatchTable<TPropertyObject>& GetDispatchTable();

private:
    TPropertiesCollection* FOwner;
    String FName;
};

// A Properties collection over a list the owner computes when asked (so it is
// always current) and a setter for the writable ones.
class TPropertiesCollection
    : public Com::TDispatchImpl<TPropertiesCollection, Com::TImplements<Com::TContainedObject, Properties>> {
public:
    using TLister = std::function<std::vector<TPropertyInfo>()>;
    using TSetter = std::function<void(const String& name, const Variant& value)>;

    TPropertiesCollection(Rtl::IUnknown* controller, TFailureReporter* reporter, TLister lister, TSetter setter = {});
    ~TPropertiesCollection() override;

    int GetCount() override;
    ComPtr<Rtl::IUnknown> _NewEnum() override;
    void Refresh() override {}
    ComPtr<Property> GetItem(const Variant& Index) override;

    // Internal access for the property objects.
    TPropertyInfo Find(const String& name);
    void Set(const String& name, const Variant& value);
    TFailureReporter* GetReporter() const noexcept { return FReporter; }

    static const Com::TDispatchTable<TPropertiesCollection>& GetDispatchTable();

private:
    TPropertyObject* ObjectFor(const String& name);

    Rtl::IUnknown* FController;
    TFailureReporter* FReporter;
    TLister FLister;
    TSetter FSetter;
    std::map<String, std::unique_ptr<TPropertyObject>> FObjects;  // by lower-case name
};

// The ADO type of a property value.
DataTypeEnum VariantDataType(const Variant& v) noexcept;

// ---- Events -------------------------------------------------------------------------------------------

// Which events a sink declined with adStatusUnwantedEvent. Events with a
// reason are switched off per reason, as ADO does.
class TEventGate {
public:
    bool Wanted(int event, int reason = 0) const { return !FUnwanted.count({event, reason}); }
    void Note(int event, int reason, EventStatusEnum status) {
        if (status == adStatusUnwantedEvent) FUnwanted.insert({event, reason});
    }

private:
    std::set<std::pair<int, int>> FUnwanted;
};

// The combined outcome of one event delivered to every sink.
struct TEventOutcome {
    bool Cancelled = false;
};

// Calls fire(sink, status) for each sink of point, each with its own copy of
// the initial status; notes unwanted events and cancellations (a cancel only
// counts when the status allowed one). Sinks' failures are ignored: an event
// sink cannot fail the operation that raised it.
template <class ISink, class F>
TEventOutcome FireEvent(Com::TConnectionPoint* point, TEventGate& gate, int event, int reason,
                        EventStatusEnum status, F&& fire) {
    TEventOutcome outcome;
    if (!point || !gate.Wanted(event, reason) || !point->HasConnections()) return outcome;
    for (auto& sink : point->GetSinks<ISink>()) {
        EventStatusEnum s = status;
        try {
            fire(sink.Get(), s);
        } catch (...) {
            continue;
        }
        gate.Note(event, reason, s);
        if (s == adStatusCancel && status != adStatusCantDeny) outcome.Cancelled = true;
    }
    return outcome;
}

// ---- Small helpers -------------------------------------------------------------------------------------

// True for Empty, EmptyParam (a missing optional argument) and Null.
bool IsMissing(const Variant& v) noexcept;
// The value a by-reference argument points to; other values as they are.
inline Variant Deref(const Variant& v) { return v.IsByRef() ? v.Deref() : v; }
// True for the integer variant types, signed or unsigned, of any width.
bool IsIntegerKind(const Variant& v) noexcept;
// A collection index: a number (0-based) or a name; -1 when the name is not
// found. A number out of range raises adErrItemNotFound naming it.
int ResolveIndex(const Variant& index, int count, const std::function<int(const String&)>& byName,
                 std::string_view collection);
// An enumerator object is not part of this engine yet.
[[noreturn]] void NoEnumerator(std::string_view collection);

}  // namespace DataEngine::Ado
