#include "Platform/data-engine/datalinks/DataLinks.h"

#include "Platform/data-engine/datalinks/ConnectionPrompt.h"
#include "Velora/com/AdoClasses.h"

namespace DataEngine {

using Com::ComPtr;

namespace {
constexpr const char* Source = "DataLinks";
}

bool TDataLinks::Prompt(Rtl::WideString& text) {
    ComPtr<IConnectionPrompt> prompt;
    const Com::HRESULT created = Com::CoCreateInstance(CLSID_ConnectionPrompt, nullptr, Com::CLSCTX_INPROC_SERVER,
                                                       Com::IIDOf<IConnectionPrompt>(), prompt.PutVoid());
    // No dialog is installed: nobody can confirm.
    if (created == Com::REGDB_E_CLASSNOTREG) {
        Com::ClearErrorInfo();
        return false;
    }
    Com::OleCheck(created);
    Rtl::WideString edited = text;
    const Com::HRESULT hr = prompt->PromptConnection(FHWnd, edited);
    Com::OleCheck(hr);
    if (hr != Com::S_OK) return false;
    text = std::move(edited);
    return true;
}

bool TDataLinks::PromptEdit(ComPtr<Com::IDispatch>& ADOConnection) {
    if (!ADOConnection)
        throw Com::EOleException("PromptEdit needs an ADO connection object; none was given", Com::E_INVALIDARG,
                                 Source);
    Rtl::WideString text = Com::OleGet(ADOConnection, "ConnectionString").ToWideString();
    if (!Prompt(text)) return false;
    Com::OlePut(ADOConnection, "ConnectionString", Rtl::Variant(text));
    return true;
}

ComPtr<Com::IDispatch> TDataLinks::PromptNew() {
    Rtl::WideString text;
    if (!Prompt(text)) return nullptr;
    auto connection = Com::CreateComObject<Com::IDispatch>(Velora::CLSID_Connection);
    Com::OlePut(connection, "ConnectionString", Rtl::Variant(text));
    return connection;
}

const Com::TDispatchTable<TDataLinks>& TDataLinks::GetDispatchTable() {
    static const auto table = Com::TDispatchTable<TDataLinks>(Source)
                                  .Property("hWnd", 0x60020000, &TDataLinks::GetHWnd, &TDataLinks::SetHWnd)
                                  .Method("PromptNew", 0x60020002, &TDataLinks::PromptNew)
                                  .Method("PromptEdit", 0x60020003, &TDataLinks::PromptEdit);
    return table;
}

}  // namespace DataEngine
