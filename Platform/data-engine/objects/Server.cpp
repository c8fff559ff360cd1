// The data engine's server module: registers the ADO classes with the class
// registry, so programs create them by class id or ProgID ("ADODB.Connection")
// and a machine without this module behaves as one without the engine.
#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Record.h"
#include "Platform/data-engine/objects/Recordset.h"
#include "Platform/data-engine/objects/Stream.h"
#include "Velora/com/AdoClasses.h"

namespace {

using namespace DataEngine::Ado;

template <class T>
Com::HRESULT Register(const Rtl::CLSID& clsid, const char* progId, const char* description) {
    int cookie = 0;
    const Rtl::String name(progId);
    return Com::RegisterClassObject({clsid, {name + ".2.8", name}, description}, Com::MakeClassFactory<T>(name),
                                    &cookie);
}

}  // namespace

VELORA_COM_SERVER_ENTRY {
    Com::HRESULT hr;
    if (Com::Failed(hr = Register<TConnectionObject>(Velora::CLSID_Connection, Velora::ProgID_Connection,
                                                     "ADO Connection")))
        return hr;
    if (Com::Failed(hr = Register<TCommandObject>(Velora::CLSID_Command, Velora::ProgID_Command, "ADO Command")))
        return hr;
    if (Com::Failed(hr = Register<TRecordsetObject>(Velora::CLSID_Recordset, Velora::ProgID_Recordset,
                                                    "ADO Recordset")))
        return hr;
    if (Com::Failed(hr = Register<TParameterObject>(Velora::CLSID_Parameter, Velora::ProgID_Parameter,
                                                    "ADO Parameter")))
        return hr;
    if (Com::Failed(hr = Register<TRecordObject>(Velora::CLSID_Record, Velora::ProgID_Record, "ADO Record"))) return hr;
    if (Com::Failed(hr = Register<TStreamObject>(Velora::CLSID_Stream, Velora::ProgID_Stream, "ADO Stream"))) return hr;
    // Connections open on a folder tree ("URL=file:///folder") for records and streams.
    RegisterDocumentSourceProvider();
    return hr;
}
