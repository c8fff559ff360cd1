// Apartments: COM initialisation per thread and a message queue per thread.
//
// A thread joins COM with CoInitialize (counted: the first call answers S_OK,
// later ones S_FALSE, and the apartment ends when CoUninitialize balances the
// first call). The process's main thread is initialised from the start, as an
// application's main thread is; other threads must call CoInitialize before they
// create objects (CoCreateInstance answers CO_E_NOTINITIALIZED otherwise).
//
// Each apartment owns a FIFO queue. Any thread may post work to it (Post,
// PostToThread, TInterfacedObject::PostToOwner); the work runs only on the
// apartment's own thread, when that thread calls ProcessMessages or PumpUntil.
// This is how notifications of work finished on worker threads reach event
// handlers on the owner's thread, in the order they were posted. Work still
// queued when the apartment ends is discarded, and later posts are refused.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "Platform/com/Errors.h"

namespace Com {

class TApartment {
public:
    explicit TApartment(std::thread::id thread) : FThread(thread) {}
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;

    std::thread::id GetThreadId() const noexcept { return FThread; }
    // Thread-safe; false when the apartment has ended.
    bool Post(std::function<void()> work);
    // Runs queued work until the queue is empty (work posted meanwhile included)
    // and answers how many items ran. An exception from an item propagates; the
    // items after it stay queued. Only the apartment's thread may call it
    // (EOleSysError RPC_E_WRONG_THREAD otherwise).
    int ProcessMessages();
    // Processes messages as they arrive until condition() holds (true) or the
    // timeout passes (false). The condition is tested on this thread after each
    // round of processing and at short intervals while nothing arrives.
    bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    std::size_t GetPendingCount() const;
    bool IsClosed() const;

    // Ends the apartment: drops queued work and refuses further posts.
    void Close();

private:
    void CheckThread() const;

    const std::thread::id FThread;
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<std::function<void()>> FQueue;
    bool FClosed = false;
};

// Joins the calling thread to COM (reserved must be null: E_INVALIDARG otherwise).
HRESULT CoInitialize(void* reserved = nullptr);
// Balances one CoInitialize; extra calls are ignored.
void CoUninitialize();
bool IsComInitialized();
bool IsMainThread() noexcept;

// The calling thread's apartment; null when the thread is not initialised.
std::shared_ptr<TApartment> CurrentApartment();
// The apartment of another thread; null when it has none.
std::shared_ptr<TApartment> FindApartment(std::thread::id thread);
// Posts work to a thread's apartment; false when the thread has none.
bool PostToThread(std::thread::id thread, std::function<void()> work);
// The calling thread's queue: process what is there, or pump until a condition
// holds. Without an apartment there is nothing to process (0 / condition only).
int ProcessMessages();
bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace Com
