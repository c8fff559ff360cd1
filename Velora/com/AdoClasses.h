// The ADO classes: class ids, ProgIDs and one creation function per class.
//
// Objects are created through the class registry, so a program reaches the
// data engine only when its server module is installed (and not hidden):
// without it, creation raises EOleException "Class not registered". Each
// creation function answers the class's newest interface; callers that want
// an older generation query the result for it (Connection15, Command25,
// Recordset20, ...).
#pragma once

#include "Velora/com/AdoInt.h"

namespace Velora {

constexpr Rtl::CLSID CLSID_Connection = Com::GUIDLiteral("{00000514-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::CLSID CLSID_Command = Com::GUIDLiteral("{00000507-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::CLSID CLSID_Recordset = Com::GUIDLiteral("{00000535-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::CLSID CLSID_Parameter = Com::GUIDLiteral("{0000050B-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::CLSID CLSID_Record = Com::GUIDLiteral("{00000560-0000-0010-8000-00AA006D2EA4}");
constexpr Rtl::CLSID CLSID_Stream = Com::GUIDLiteral("{00000566-0000-0010-8000-00AA006D2EA4}");

// Version-independent ProgIDs; the versioned ones add ".2.8".
inline constexpr const char* ProgID_Connection = "ADODB.Connection";
inline constexpr const char* ProgID_Command = "ADODB.Command";
inline constexpr const char* ProgID_Recordset = "ADODB.Recordset";
inline constexpr const char* ProgID_Parameter = "ADODB.Parameter";
inline constexpr const char* ProgID_Record = "ADODB.Record";
inline constexpr const char* ProgID_Stream = "ADODB.Stream";

struct CoConnection {
    static ComPtr<_Connection> Create();
};
struct CoCommand {
    static ComPtr<_Command> Create();
};
struct CoRecordset {
    static ComPtr<_Recordset> Create();
};
struct CoParameter {
    static ComPtr<_Parameter> Create();
};
struct CoRecord {
    static ComPtr<_Record> Create();
};
struct CoStream {
    static ComPtr<_Stream> Create();
};

}  // namespace Velora
