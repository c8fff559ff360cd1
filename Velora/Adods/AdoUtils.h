// What the connection component and the datasets share: creating the ADO
// objects in the interface generation a component asks for, the version
// probe, the provider list, the placeholder for optional arguments, and the
// error rule of the datasets.
#pragma once

#include "Platform/db/DB.h"
#include "Platform/rtl/Classes.h"
#include "Velora/com/Ado.h"

namespace Velora {

using Rtl::String;

// The ADO interface generation a component asks for when it creates an ADO
// object. It selects only the interface requested; the object is always
// ADO's Connection, Command or Recordset class.
VCL_DECLARE_ENUM(TADOVersion, Byte, avADO15, avADO20, avADO21, avADO25, avADO26, avADO27, avADO28, avADO)

// Raised by the datasets' error rule; carries only its message.
class EADOError : public Db::EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
    const char* ClassName() const noexcept override { return "EADOError"; }
};

// Create ADO's Connection, Command or Recordset class through the class
// registry and query it for the interface of the generation:
//
//     version                        connection     command     recordset
//     avADO15                        Connection15   Command15   Recordset15
//     avADO20                        _Connection    Command25   Recordset20
//     avADO21                        _Connection    Command25   Recordset21
//     avADO25                        _Connection    Command25   _Recordset
//     avADO26, 27, 28, avADO         _Connection    _Command    _Recordset
//
// The reference answered is that interface, typed as the oldest generation
// (whose members every generation shares in the same order); a caller that
// needs a newer member queries for it. Nothing is caught: a missing engine or
// an interface it lacks raises the platform's COM error.
ComPtr<Connection15> CreateADOConnection(TADOVersion Version);
ComPtr<Command15> CreateADOCommand(TADOVersion Version);
ComPtr<Recordset15> CreateADORecordset(TADOVersion Version);

// The Version of "ADODB.Connection", read late-bound; "0.0" when the engine is
// not installed or anything else fails. Never raises.
String GetADOVersion();

// Fills List (cleared first) with the names of the tabular data-source
// providers the OLE DB root enumerator lists, reading at most the first 256
// sources. Any failure ends the listing quietly with what was gathered.
void EnumerateOleDbProviders(Rtl::TStrings* List);

// The placeholder passed for optional ADO arguments (the parameter-not-supplied
// variant).
Variant NotUsed();

// ---- The datasets' error rule ---------------------------------------------------------------

// The message of a failed dataset operation: the descriptions of the Errors
// of Recordset's active connection, last to first, each preceded by a
// carriage return; Msg when there are none (or the recordset has no
// connection); "Unknown error" when Msg is empty too. Recordset (any ADO
// recordset; null for none) is read late-bound, its connection through
// _Connection.
String ADOErrorMessage(Com::IDispatch* Recordset, const String& Msg);

// Raises EADOError with ADOErrorMessage(Recordset, Msg), offered first to
// OnADOError (when assigned) with the action daFail: daAbort turns it into the
// silent EAbort, daFail and daRetry raise the EADOError (there is no retry).
// This is the body of a dataset's CheckADOError.
[[noreturn]] void RaiseADOError(Db::TDataSet* DataSet, Com::IDispatch* Recordset, const String& Msg,
                                const Db::TDataSetErrorEvent& OnADOError);

}  // namespace Velora
