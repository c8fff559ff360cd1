// Recordset.Open with adAsyncExecute: the command runs on the connection's
// worker; the recordset opens on the owner's thread when the execution ends,
// just before ExecuteComplete. Meanwhile State reads adStateExecuting and
// Cancel stops the execution.
#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Recordset.h"

namespace DataEngine::Ado {

namespace {
constexpr int CommandTypeMask = adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect;
}  // namespace

void TRecordsetObject::OpenAsync(const ComPtr<TConnectionObject>& connection, const ComPtr<TCommandObject>& command,
                                 const String& text, CursorLocationEnum location, int options) {
    // The connection holds itself, the command and this recordset until it
    // delivers the outcome; raw pointers are enough here.
    TConnectionObject* conn = connection.Get();
    TCommandObject* cmd = command.Get();
    auto open = [this, conn, cmd, location, options](TExecResult& run) {
        Build(ComPtr<TConnectionObject>(conn), run, location, run.CursorType, run.LockType);
        FCursorLocation = location;
        FCommand = cmd;
        FOpenOptions = options;
        if (!cmd) FSourceCommand = nullptr;
        conn->FireExecuteComplete(run.RecordsAffected, nullptr, cmd, this);
        AfterOpen();
    };
    if (command) {
        command->Run(options, Com::EmptyParam, FCursorType, FLockType, this, std::move(open));
        return;
    }
    TExecRequest request;
    request.Source = text;
    request.CommandType = options == adCmdUnspecified || !(options & CommandTypeMask)
                              ? adCmdUnknown
                              : static_cast<CommandTypeEnum>(options & CommandTypeMask);
    request.CursorType = FCursorType;
    request.LockType = FLockType;
    request.Options = options;
    request.Recordset = this;
    connection->StartCommand(std::move(request), std::move(open), nullptr);
}

}  // namespace DataEngine::Ado
