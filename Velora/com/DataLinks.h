// The OLE DB Data Links object: the connection dialog of the platform.
//
// PromptEdit shows the dialog pre-filled from an ADO connection's
// ConnectionString and, when the user confirms, writes the edited string back
// into that connection; the answer says whether the user confirmed.
// PromptNew does the same for a new ADO connection it creates. hWnd is the
// window the dialog belongs to (0: none).
#pragma once

#include "Platform/com/ClassRegistry.h"
#include "Platform/com/Dispatch.h"

namespace Velora {

using Com::ComPtr;

struct IDataSourceLocator : Com::IDispatch {
    COM_INTERFACE(IDataSourceLocator, Com::IDispatch, "{2206CCB2-19C1-11D1-89E0-00C04FD7A829}")
    virtual int GetHWnd() = 0;
    virtual void SetHWnd(int Value) = 0;
    // A new ADO connection carrying the confirmed string, or null when cancelled.
    virtual ComPtr<Com::IDispatch> PromptNew() = 0;
    virtual bool PromptEdit(ComPtr<Com::IDispatch>& ADOConnection) = 0;
};

constexpr Rtl::CLSID CLSID_DataLinks = Com::GUIDLiteral("{2206CDB2-19C1-11D1-89E0-00C04FD7A829}");
inline constexpr const char* ProgID_DataLinks = "DataLinks";

struct CoDataLinks {
    static ComPtr<IDataSourceLocator> Create() { return Com::CreateComObject<IDataSourceLocator>(CLSID_DataLinks); }
};

}  // namespace Velora
