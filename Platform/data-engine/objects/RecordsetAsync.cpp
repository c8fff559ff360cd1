// Asynchronous work of the recordset.
//
// Recordset.Open with adAsyncExecute: the command runs on the connection's
// worker; the recordset opens on the owner's thread when the execution ends,
// just before ExecuteComplete. Meanwhile State reads adStateExecuting and
// Cancel stops the execution.
//
// adAsyncFetch / adAsyncFetchNonBlocking (client cursors): the recordset opens
// with the first "Initial Fetch Size" rows; a worker reads the rest of the
// result in batches of "Background Fetch Size" rows, each into a small row
// store of its own, and queues them. The owner's thread takes the batches in
// order when it processes messages (a notification is posted whenever the
// queue fills again), when it waits for rows or when the fetch ends: each
// batch is appended to the shared row store, joins every cursor's view and
// raises FetchProgress. FetchComplete comes after the last batch. The row
// store and the views are never touched by the worker.
#include <algorithm>
#include <deque>
#include <mutex>

#include "Platform/com/Apartment.h"
#include "Platform/data-engine/objects/Command.h"
#include "Platform/data-engine/objects/Recordset.h"

namespace DataEngine::Ado {

namespace {
constexpr int CommandTypeMask = adCmdText | adCmdTable | adCmdStoredProc | adCmdUnknown | adCmdFile | adCmdTableDirect;

int ClampCount(Int64 n) { return static_cast<int>(std::clamp<Int64>(n, 0, INT32_MAX)); }

// Copies every row of from to the end of to.
void AppendRows(TRowStore& to, const TRowStore& from) {
    TRowBuffer row;
    for (TRowId r : from.GetRows()) {
        from.GetRow(r, row);
        to.Append(row);
    }
}
}  // namespace

// Batches the worker has read and the owner has not taken yet.
struct TRecordsetObject::TFetchQueue {
    std::mutex Lock;
    std::deque<std::unique_ptr<TRowStore>> Batches;
    bool Posted = false;                // a notification is on its way to the owner
    std::atomic<bool> HitMax{false};    // the worker stopped at MaxRecords
    TRecordsetObject* Owner = nullptr;  // owner's thread only; null once the fetch is over
};

// ---- Asynchronous execution ----------------------------------------------------------------------

void TRecordsetObject::OpenAsync(const ComPtr<TConnectionObject>& connection, const ComPtr<TCommandObject>& command,
                                 const String& text, CursorLocationEnum location, int options,
                                 std::function<void(Error*)> finished) {
    // The connection holds itself, the command and this recordset until it
    // delivers the outcome; raw pointers are enough here.
    TConnectionObject* conn = connection.Get();
    TCommandObject* cmd = command.Get();
    auto open = [this, conn, cmd, location, options, finished](TExecResult& run) {
        Build(ComPtr<TConnectionObject>(conn), run, location, run.CursorType, run.LockType);
        FCursorLocation = location;
        FCommand = cmd;
        FOpenOptions = options;
        if (!cmd) FSourceCommand = nullptr;
        conn->FireExecuteComplete(run.RecordsAffected, nullptr, cmd, this);
        AfterOpen();
        if (finished) finished(nullptr);
    };
    // A failed execution has been reported (Errors, ExecuteComplete): finished gets the same Error.
    std::function<void()> failed;
    if (finished)
        failed = [conn, finished] {
            ComPtr<Error> error;
            if (TErrorsCollection* errors = conn->GetErrorTarget(); errors && errors->GetCount() > 0)
                error = errors->GetItem(Variant(0));
            finished(error.Get());
        };
    // With an asynchronous fetch as well, the initial rows are read on the
    // execution's worker too.
    if (AsksAsyncFetch(options, location)) {
        const Int64 limit = FMaxRecords > 0 ? std::min<Int64>(FInitialFetchSize, FMaxRecords) : FInitialFetchSize;
        FWorkerPrefetch = [limit](TExecResult& run) {
            if (!run.Result) return;
            auto rows = std::make_shared<TRowStore>(run.Result->GetColumns());
            const std::size_t loaded = limit > 0 ? rows->Load(*run.Result, static_cast<std::size_t>(limit)) : 0;
            run.Prefetched = std::move(rows);
            run.PrefetchEnded = static_cast<Int64>(loaded) < limit;
        };
    }
    struct TClear {
        std::function<void(TExecResult&)>& Hook;
        ~TClear() { Hook = nullptr; }
    } clear{FWorkerPrefetch};
    if (command) {
        command->Run(options, Com::EmptyParam, FCursorType, FLockType, this, std::move(open), std::move(failed));
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
    request.OnWorker = TakeWorkerPrefetch();
    connection->StartCommand(std::move(request), std::move(open), std::move(failed));
}

void TRecordsetObject::RequeryAsync(int options, bool cancelled) {
    try {
        if (cancelled) RaiseCancelled("WillChangeRecordset");
        if (!FConnection) AdoFail(adErrInvalidConnection, "Recordset.Requery: the recordset has no connection");
        FConnection->CheckUsable("Recordset.Requery");
        const ComPtr<TConnectionObject> connection = FConnection;
        const ComPtr<TCommandObject> command = FCommand;
        const String text = FSource;
        const CursorLocationEnum location = FOpenLocation;
        const Variant filter = FFilterValue;
        const String sort = FSortText;
        // The text that ran is run again as it is.
        const int runOptions = command ? options : (options & ~CommandTypeMask) | adCmdText;
        ResetOpenState();
        OpenAsync(connection, command, text, location, runOptions, [this, filter, sort](Error* error) {
            if (!error && FStore) {
                RestoreView(filter, sort);
                FStore->MoveFirst();
                Landed();
            }
            FireRecordsetChangeComplete(adRsnRequery, error);
        });
    } catch (...) {
        RaiseWithComplete([&](Error* e) { FireRecordsetChangeComplete(adRsnRequery, e); });
    }
}

// ---- Asynchronous fetching ---------------------------------------------------------------------------

bool TRecordsetObject::AsksAsyncFetch(int options, CursorLocationEnum location) noexcept {
    return location == adUseClient && options != adOptionUnspecified &&
           (options & (adAsyncFetch | adAsyncFetchNonBlocking)) != 0;
}

bool TRecordsetObject::LoadInitialRows(TExecResult& run, TRowStore& rows) {
    const Int64 limit = FMaxRecords > 0 ? std::min<Int64>(FInitialFetchSize, FMaxRecords) : FInitialFetchSize;
    bool ended;
    if (run.Prefetched) {
        AppendRows(rows, *run.Prefetched);
        run.Prefetched.reset();
        ended = run.PrefetchEnded;
    } else {
        const std::size_t loaded = limit > 0 ? rows.Load(*run.Result, static_cast<std::size_t>(limit)) : 0;
        ended = static_cast<Int64>(loaded) < limit;
    }
    FFetched = static_cast<Int64>(rows.GetRowCount());
    if (!ended && FMaxRecords > 0 && FFetched >= FMaxRecords) {
        run.Statement->Close();
        ended = true;
    }
    return !ended;
}

void TRecordsetObject::StartFetch(const std::shared_ptr<TStatement>& statement, TResultStream& result, bool blocking) {
    auto queue = std::make_shared<TFetchQueue>();
    queue->Owner = this;
    const Int64 remaining = FMaxRecords > 0 ? FMaxRecords - FFetched : -1;
    const std::size_t batchSize = static_cast<std::size_t>(std::max(1, FBackgroundFetchSize));
    const std::vector<TColumnInfo> columns = FStore->Store().GetColumns();
    TSession* session = &FConnection->GetSession();
    const std::thread::id owner = std::this_thread::get_id();
    TResultStream* source = &result;
    ComPtr<TConnectionObject> connection = FConnection;

    FFetchQueue = queue;
    FFetchBlocking = blocking;
    connection->SetFetching(this);
    FFetch.Start(
        [statement, source, columns, batchSize, remaining, queue, owner](const TAsyncWork::TCancelFlag& cancelled) {
            // Hands a batch to the owner; a notification goes out when the
            // queue was empty (the owner takes every queued batch at once).
            auto hand = [&](std::unique_ptr<TRowStore> batch) {
                bool post;
                {
                    std::lock_guard lock(queue->Lock);
                    queue->Batches.push_back(std::move(batch));
                    post = !queue->Posted;
                    queue->Posted = true;
                }
                if (post)
                    Com::PostToThread(owner, [queue] {
                        if (!queue->Owner) return;
                        try {
                            queue->Owner->DrainFetched();
                        } catch (...) {
                            // A batch that cannot be appended is dropped: the
                            // owner's message loop is no place to raise it.
                        }
                    });
            };
            TRowBuffer row(columns.size());
            Int64 left = remaining;
            for (bool ended = false; !ended;) {
                auto batch = std::make_unique<TRowStore>(columns);
                try {
                    while (batch->GetRowCount() < batchSize) {
                        if (cancelled.load()) AdoFail(adErrOperationCancelled, "fetching the rows was cancelled");
                        if (left == 0) {
                            queue->HitMax = true;
                            ended = true;
                            break;
                        }
                        if (!source->Fetch(row)) {
                            ended = true;
                            break;
                        }
                        batch->Append(row);
                        if (left > 0) --left;
                    }
                } catch (...) {
                    // The rows read before the failure (or the cancel) stay.
                    if (batch->GetRowCount() > 0) hand(std::move(batch));
                    throw;
                }
                if (batch->GetRowCount() == 0) break;
                hand(std::move(batch));
            }
        },
        [this, statement, connection](std::exception_ptr failure, bool cancelled) {
            connection->SetFetching(nullptr);
            FetchEnded(failure, cancelled, statement);
        },
        [session] { session->Cancel(); });
}

void TRecordsetObject::DrainFetched() {
    const std::shared_ptr<TFetchQueue> queue = FFetchQueue;
    if (!queue) return;
    ComPtr<_Recordset> keep = Self();
    TRowBuffer row;
    // One batch at a time: a handler that waits for rows takes the next ones
    // in their order.
    for (;;) {
        if (FFetchQueue != queue || !FStore) return;
        std::unique_ptr<TRowStore> batch;
        {
            std::lock_guard lock(queue->Lock);
            if (queue->Batches.empty()) {
                queue->Posted = false;
                return;
            }
            batch = std::move(queue->Batches.front());
            queue->Batches.pop_front();
        }
        TRowStore& store = FStore->Store();
        TRowId first = NoRow;
        for (TRowId r : batch->GetRows()) {
            batch->GetRow(r, row);
            const TRowId id = store.Append(row);
            if (first == NoRow) first = id;
        }
        FStore->RowsArrived(first);
        FFetched += static_cast<Int64>(batch->GetRowCount());
        // How many rows the result holds is not known before its end.
        FireFetchProgress(ClampCount(FFetched), ClampCount(FFetched));
    }
}

void TRecordsetObject::FetchEnded(std::exception_ptr failure, bool cancelled,
                                  const std::shared_ptr<TStatement>& statement) {
    ComPtr<_Recordset> keep = Self();
    // Rows the worker read before it ended stay.
    try {
        DrainFetched();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    std::shared_ptr<TFetchQueue> queue = std::move(FFetchQueue);
    FFetchQueue.reset();
    if (queue) queue->Owner = nullptr;
    FFetchBlocking = false;
    if (failure || (queue && queue->HitMax)) {
        try {
            statement->Close();
        } catch (...) {
        }
    }
    if (!failure) {
        FireFetchComplete(nullptr);
        return;
    }
    TFailure f;
    try {
        if (cancelled) AdoFail(adErrOperationCancelled, "fetching the rows was cancelled; the rows fetched before stay");
        std::rethrow_exception(failure);
    } catch (...) {
        f = DescribeCurrentException(GetSourceName());
    }
    TErrorsCollection* target = GetErrorTarget();
    ComPtr<Error> error = target ? target->Report(f) : MakeError(f);
    FireFetchComplete(error.Get());
}

bool TRecordsetObject::IsFetching() {
    if (!FFetch.IsRunning()) return false;
    if (std::this_thread::get_id() == FFetch.GetOwnerThread()) return FFetch.Poll();
    return true;
}

void TRecordsetObject::StopFetch(bool deliver) noexcept {
    if (!FFetch.IsRunning()) return;
    if (deliver) {
        try {
            FFetch.Cancel();
            return;
        } catch (...) {
        }
    }
    FFetch.Abandon();
    if (FFetchQueue) FFetchQueue->Owner = nullptr;
    FFetchQueue.reset();
    FFetchBlocking = false;
    if (FConnection) FConnection->SetFetching(nullptr);
}

void TRecordsetObject::AwaitRows(Int64 count) {
    if (!FFetchBlocking || !FStore || FStore->GetCount() >= count) return;
    ComPtr<_Recordset> keep = Self();
    auto arrived = [&] {
        if (!FFetchBlocking || !FStore) return true;
        DrainFetched();
        if (!FStore || FStore->GetCount() >= count) return true;
        return !IsFetching();
    };
    while (!Com::PumpUntil(arrived, std::chrono::seconds(1))) {
    }
    if (FState != adStateOpen || !FStore)
        AdoFail(adErrObjectClosed, "the recordset was closed while it waited for rows being fetched");
}

void TRecordsetObject::FireFetchProgress(int progress, int maxProgress) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reFetchProgress, 0, adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->FetchProgress(progress, maxProgress, st, Self().Get());
                                 });
}

void TRecordsetObject::FireFetchComplete(Error* error) {
    FireEvent<RecordsetEventsVt>(FEvents, FGate, reFetchComplete, 0, error ? adStatusErrorsOccurred : adStatusOK,
                                 [&](RecordsetEventsVt* s, EventStatusEnum& st) {
                                     return s->FetchComplete(error, st, Self().Get());
                                 });
}

}  // namespace DataEngine::Ado
