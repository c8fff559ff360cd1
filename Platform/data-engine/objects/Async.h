// Work run on a worker thread for an object of the thread that started it
// (asynchronous connect, execute and fetch).
//
// The owner thread starts the work; the worker runs it and, when it ends,
// posts a notification to the owner's apartment. The outcome (the work's
// failure, if any) is handed to the finish callback on the owner's thread only:
// when the owner processes its messages, or earlier when it polls (Poll),
// waits (Wait) or cancels (Cancel). Finish runs once per Start. So every event
// handler the finish callback raises runs on the owner's thread.
//
// Cancel asks the work to stop: it sets the flag the work may test and calls
// the interrupt callback (a provider's cancel, safe from any thread) until the
// worker has ended, so an interrupt that came too early to catch a statement
// is repeated. Abandon (and the destructor) cancels and joins without running
// finish: nothing is left running when the owner goes away.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace DataEngine::Ado {

class TAsyncWork {
public:
    // The work's view of a cancel request.
    using TCancelFlag = std::atomic<bool>;
    using TWork = std::function<void(const TCancelFlag& cancelled)>;
    // failure: what the work raised (null when it ended normally);
    // cancelled: Cancel was asked before the work ended.
    using TFinish = std::function<void(std::exception_ptr failure, bool cancelled)>;

    TAsyncWork() = default;
    TAsyncWork(const TAsyncWork&) = delete;
    TAsyncWork& operator=(const TAsyncWork&) = delete;
    ~TAsyncWork();

    // Starts work on a new thread. Only one work at a time: the caller checks
    // IsRunning first. interrupt may be empty.
    void Start(TWork work, TFinish finish, std::function<void()> interrupt);
    // Started and its outcome not delivered yet (any thread).
    bool IsRunning() const noexcept { return FRunning.load(); }
    // From any thread: asks the work to stop and interrupts it until the
    // worker has ended, without delivering; the outcome reaches the owner as
    // usual. The owner must not end the work meanwhile.
    void Interrupt();
    // Delivers the outcome when the worker has ended; answers IsRunning() afterwards.
    bool Poll();
    // Waits for the worker to end and delivers the outcome.
    void Wait();
    // Asks the work to stop, waits for the worker and delivers the outcome.
    void Cancel();
    // Cancels and joins without delivering anything.
    void Abandon() noexcept;
    // The owner's thread (of the last Start).
    std::thread::id GetOwnerThread() const noexcept { return FOwner.load(); }

private:
    struct TShared {
        std::mutex Lock;
        std::condition_variable Ended;
        bool Done = false;
        std::exception_ptr Failure;
        TCancelFlag CancelRequested{false};
        bool Abandoned = false;  // touched on the owner's thread only
    };

    bool IsDone() const;
    void Deliver();
    void Stop();  // cancel request and interrupts until the worker ends; joins

    std::shared_ptr<TShared> FShared;
    std::atomic<bool> FRunning{false};
    std::mutex FGuard;  // FShared and FInterrupt against Interrupt from other threads
    std::thread FThread;
    TFinish FFinish;
    std::function<void()> FInterrupt;
    std::atomic<std::thread::id> FOwner;
};

}  // namespace DataEngine::Ado
