// The hook behind the Data Links dialog.
//
// The Data Links object does not draw a dialog itself: it asks the class
// registered as CLSID_ConnectionPrompt ("Velora.ConnectionPrompt"), which the
// user-interface layer provides (a window on a display, or whatever handler
// the application installed) and which a test registers to answer like a
// user. With no such class registered, nobody can confirm, and a prompt ends
// as if the user had cancelled.
#pragma once

#include "Platform/com/Unknown.h"
#include "Platform/rtl/SysUtils.h"

namespace DataEngine {

struct IConnectionPrompt : Rtl::IUnknown {
    COM_INTERFACE(IConnectionPrompt, Rtl::IUnknown, "{0DC64B98-E7DA-47DF-B53B-7B3B9424BF78}")
    // Shows the connection dialog pre-filled from ConnectionString, owned by
    // the window Owner (0: none). S_OK: the user confirmed, and
    // ConnectionString holds the edited text. S_FALSE: cancelled, nothing
    // changed. A failure code reports a dialog that could not be shown.
    virtual Rtl::HRESULT PromptConnection(int Owner, Rtl::WideString& ConnectionString) = 0;
};

constexpr Rtl::CLSID CLSID_ConnectionPrompt = Com::GUIDLiteral("{4FFCC01F-FC2D-429B-ADE6-9079063BF0C5}");
inline constexpr const char* ProgID_ConnectionPrompt = "Velora.ConnectionPrompt";

}  // namespace DataEngine
