// The server module of the OLE DB services beside the engine: the root
// enumerator and the Data Links object.
#include "Platform/com/Com.h"
#include "Platform/data-engine/datalinks/DataLinks.h"
#include "Platform/data-engine/oledb/RootEnumerator.h"

VELORA_COM_SERVER_ENTRY {
    int cookie = 0;
    const Com::HRESULT hr = Com::RegisterClassObject(
        {Velora::CLSID_OLEDB_ENUMERATOR, {}, "OLE DB root enumerator"},
        Com::MakeClassFactory<DataEngine::OleDb::TRootEnumerator>("MSDAENUM"), &cookie);
    if (Com::Failed(hr)) return hr;
    return Com::RegisterClassObject({Velora::CLSID_DataLinks, {Velora::ProgID_DataLinks}, "OLE DB Data Links"},
                                    Com::MakeClassFactory<DataEngine::TDataLinks>("DataLinks"), &cookie);
}
