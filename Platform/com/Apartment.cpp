#include "Platform/com/Apartment.h"

#include <unistd.h>

#include <algorithm>
#include <unordered_map>

namespace Com {

namespace {

// Apartments by thread, for PostToThread. Never destroyed: thread-exit cleanup
// may run after static destructors.
struct TApartmentDirectory {
    std::mutex Lock;
    std::unordered_map<std::thread::id, std::weak_ptr<TApartment>> Map;
};

TApartmentDirectory& Directory() {
    static auto* dir = new TApartmentDirectory;
    return *dir;
}

struct TThreadState {
    bool Started = false;
    int InitCount = 0;
    std::shared_ptr<TApartment> Apartment;

    void Start() {
        if (Started) return;
        Started = true;
        if (IsMainThread()) Open();
    }
    void Open() {
        ++InitCount;
        if (InitCount == 1) {
            Apartment = std::make_shared<TApartment>(std::this_thread::get_id());
            auto& dir = Directory();
            std::lock_guard g(dir.Lock);
            dir.Map[Apartment->GetThreadId()] = Apartment;
        }
    }
    void End() {
        if (!Apartment) return;
        {
            auto& dir = Directory();
            std::lock_guard g(dir.Lock);
            dir.Map.erase(Apartment->GetThreadId());
        }
        auto apartment = std::move(Apartment);
        InitCount = 0;
        apartment->Close();
    }
    ~TThreadState() { End(); }
};

TThreadState& ThreadState() {
    thread_local TThreadState state;
    state.Start();
    return state;
}

// The main thread's apartment exists from start-up, so that workers can post to
// it before the main thread made any COM call of its own.
const bool MainApartmentOpened = IsMainThread() && (ThreadState(), true);

}  // namespace

bool TApartment::Post(std::function<void()> work) {
    {
        std::lock_guard g(FLock);
        if (FClosed) return false;
        FQueue.push_back(std::move(work));
    }
    FArrived.notify_one();
    return true;
}

void TApartment::CheckThread() const {
    if (std::this_thread::get_id() != FThread)
        throw EOleSysError("Messages of an apartment can only be processed on its own thread", RPC_E_WRONG_THREAD);
}

int TApartment::ProcessMessages() {
    CheckThread();
    int count = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard g(FLock);
            if (FQueue.empty()) break;
            work = std::move(FQueue.front());
            FQueue.pop_front();
        }
        ++count;
        work();
    }
    return count;
}

bool TApartment::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    CheckThread();
    // The condition may also turn true without a message (a flag another thread
    // sets), so waiting wakes up now and then to test it again.
    constexpr auto Recheck = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        ProcessMessages();
        if (condition()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::unique_lock g(FLock);
        FArrived.wait_until(g, std::min(deadline, now + Recheck), [this] { return !FQueue.empty() || FClosed; });
    }
}

std::size_t TApartment::GetPendingCount() const {
    std::lock_guard g(FLock);
    return FQueue.size();
}

bool TApartment::IsClosed() const {
    std::lock_guard g(FLock);
    return FClosed;
}

void TApartment::Close() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard g(FLock);
        FClosed = true;
        dropped.swap(FQueue);
    }
    FArrived.notify_all();
    // dropped is destroyed here, outside the lock: its captures may release objects.
}

bool IsMainThread() noexcept { return gettid() == getpid(); }

HRESULT CoInitialize(void* reserved) {
    if (reserved) return E_INVALIDARG;
    auto& state = ThreadState();
    const bool first = state.InitCount == 0;
    state.Open();
    return first ? S_OK : S_FALSE;
}

void CoUninitialize() {
    auto& state = ThreadState();
    if (state.InitCount == 0) return;
    if (--state.InitCount == 0) state.End();
}

bool IsComInitialized() { return ThreadState().InitCount > 0; }

std::shared_ptr<TApartment> CurrentApartment() { return ThreadState().Apartment; }

std::shared_ptr<TApartment> FindApartment(std::thread::id thread) {
    if (thread == std::this_thread::get_id()) return CurrentApartment();
    auto& dir = Directory();
    std::lock_guard g(dir.Lock);
    auto it = dir.Map.find(thread);
    return it == dir.Map.end() ? nullptr : it->second.lock();
}

bool PostToThread(std::thread::id thread, std::function<void()> work) {
    auto apartment = FindApartment(thread);
    return apartment && apartment->Post(std::move(work));
}

int ProcessMessages() {
    auto apartment = CurrentApartment();
    return apartment ? apartment->ProcessMessages() : 0;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto apartment = CurrentApartment();
    if (!apartment) return condition();
    return apartment->PumpUntil(condition, timeout);
}

}  // namespace Com
