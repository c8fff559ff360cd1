// The Data Links object ("DataLinks"): the connection dialog for ADO
// connections. PromptEdit takes the connection's ConnectionString to the
// connection prompt (ConnectionPrompt.h) and, when the user confirms, writes
// the edited string back through the connection's own ConnectionString
// property; PromptNew does the same for a new ADODB.Connection. The
// connection is reached late-bound, so any ADO connection object will do.
#pragma once

#include "Platform/com/Com.h"
#include "Velora/com/DataLinks.h"

namespace DataEngine {

class TDataLinks
    : public Com::TDispatchImpl<TDataLinks, Com::TImplements<Com::TInterfacedObject, Velora::IDataSourceLocator>> {
public:
    int GetHWnd() override { return FHWnd; }
    void SetHWnd(int Value) override { FHWnd = Value; }
    Com::ComPtr<Com::IDispatch> PromptNew() override;
    bool PromptEdit(Com::ComPtr<Com::IDispatch>& ADOConnection) override;

    static const Com::TDispatchTable<TDataLinks>& GetDispatchTable();

private:
    // Runs the prompt on text; false when cancelled or when no prompt exists.
    bool Prompt(Rtl::WideString& text);

    int FHWnd = 0;
};

}  // namespace DataEngine
