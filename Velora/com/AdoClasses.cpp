#include "Velora/com/AdoClasses.h"

#include "Platform/com/ClassRegistry.h"

namespace Velora {

ComPtr<_Connection> CoConnection::Create() { return Com::CreateComObject<_Connection>(CLSID_Connection); }
ComPtr<_Command> CoCommand::Create() { return Com::CreateComObject<_Command>(CLSID_Command); }
ComPtr<_Recordset> CoRecordset::Create() { return Com::CreateComObject<_Recordset>(CLSID_Recordset); }
ComPtr<_Parameter> CoParameter::Create() { return Com::CreateComObject<_Parameter>(CLSID_Parameter); }
ComPtr<_Record> CoRecord::Create() { return Com::CreateComObject<_Record>(CLSID_Record); }
ComPtr<_Stream> CoStream::Create() { return Com::CreateComObject<_Stream>(CLSID_Stream); }

}  // namespace Velora
