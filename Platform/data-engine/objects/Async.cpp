#include "Platform/data-engine/objects/Async.h"

#include <chrono>

#include "Platform/com/Apartment.h"

namespace DataEngine::Ado {

TAsyncWork::~TAsyncWork() { Abandon(); }

void TAsyncWork::Start(TWork work, TFinish finish, std::function<void()> interrupt) {
    auto shared = std::make_shared<TShared>();
    const std::thread::id owner = std::this_thread::get_id();
    FOwner = owner;
    FFinish = std::move(finish);
    FThread = std::thread([this, shared, owner, work = std::move(work)] {
        std::exception_ptr failure;
        try {
            work(shared->CancelRequested);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(shared->Lock);
            shared->Failure = failure;
            shared->Done = true;
        }
        shared->Ended.notify_all();
        // The notification only reaches this object while it still runs this
        // work: Abandon marks the work abandoned on the owner's thread, where
        // the notification runs too.
        Com::PostToThread(owner, [this, shared] {
            if (!shared->Abandoned && FShared == shared) Deliver();
        });
    });
    std::lock_guard guard(FGuard);
    FShared = std::move(shared);
    FInterrupt = std::move(interrupt);
    FRunning = true;
}

void TAsyncWork::Interrupt() {
    std::shared_ptr<TShared> shared;
    std::function<void()> interrupt;
    {
        std::lock_guard guard(FGuard);
        shared = FShared;
        interrupt = FInterrupt;
    }
    if (!shared) return;
    shared->CancelRequested.store(true);
    // As in Stop: repeat the interrupt until the worker has ended, so one that
    // came before the statement started is not lost.
    for (;;) {
        if (interrupt) {
            try {
                interrupt();
            } catch (...) {
            }
        }
        std::unique_lock lock(shared->Lock);
        if (shared->Ended.wait_for(lock, std::chrono::milliseconds(20), [&] { return shared->Done; })) break;
    }
}

bool TAsyncWork::IsDone() const {
    std::lock_guard lock(FShared->Lock);
    return FShared->Done;
}

bool TAsyncWork::Poll() {
    if (FShared && IsDone()) Deliver();
    return IsRunning();
}

void TAsyncWork::Wait() {
    if (!FShared) return;
    {
        std::unique_lock lock(FShared->Lock);
        FShared->Ended.wait(lock, [&] { return FShared->Done; });
    }
    Deliver();
}

void TAsyncWork::Stop() {
    if (!FShared) return;
    FShared->CancelRequested.store(true);
    for (;;) {
        if (FInterrupt) {
            try {
                FInterrupt();
            } catch (...) {
            }
        }
        // A statement that had not started when the interrupt came would run
        // to its end: interrupt again until the worker is done.
        std::unique_lock lock(FShared->Lock);
        if (FShared->Ended.wait_for(lock, std::chrono::milliseconds(20), [&] { return FShared->Done; })) break;
    }
    if (FThread.joinable()) FThread.join();
}

void TAsyncWork::Cancel() {
    if (!FShared) return;
    Stop();
    Deliver();
}

void TAsyncWork::Abandon() noexcept {
    if (!FShared) return;
    Stop();
    std::lock_guard guard(FGuard);
    FShared->Abandoned = true;
    FShared.reset();
    FFinish = nullptr;
    FInterrupt = nullptr;
    FRunning = false;
}

void TAsyncWork::Deliver() {
    if (FThread.joinable()) FThread.join();
    // Reset first: finish may start new work or release the owner.
    std::shared_ptr<TShared> shared;
    {
        std::lock_guard guard(FGuard);
        shared = std::move(FShared);
        FShared.reset();
        FInterrupt = nullptr;
        FRunning = false;
    }
    TFinish finish = std::move(FFinish);
    FFinish = nullptr;
    shared->Abandoned = true;
    if (finish) finish(shared->Failure, shared->CancelRequested.load());
}

}  // namespace DataEngine::Ado
