#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/com/Apartment.h"
#include "Platform/com/Unknown.h"

using namespace Com;
using namespace std::chrono_literals;

// Generous: a pump that gives up this late means the work never arrived. No test
// measures time.
constexpr auto Patience = 60s;

TEST(Apartment, InitialisationIsCountedPerThread) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_TRUE(IsComInitialized());  // the main thread starts initialised
    EXPECT_EQ(CoInitialize(), S_FALSE);
    CoUninitialize();
    EXPECT_TRUE(IsComInitialized());
    EXPECT_EQ(CoInitialize(reinterpret_cast<void*>(1)), E_INVALIDARG);

    std::vector<HRESULT> results;
    std::vector<bool> states;
    std::thread([&] {
        states.push_back(IsMainThread());
        states.push_back(IsComInitialized());
        results.push_back(CoInitialize());
        results.push_back(CoInitialize());
        CoUninitialize();
        states.push_back(IsComInitialized());
        CoUninitialize();
        states.push_back(IsComInitialized());
        CoUninitialize();  // unbalanced: ignored
        results.push_back(CoInitialize());  // a fresh start
        CoUninitialize();
    }).join();
    EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, S_FALSE, S_OK}));
    EXPECT_EQ(states, (std::vector<bool>{false, false, true, false}));
}

namespace {

// Notifications record the thread they ran on and their order.
struct TLog {
    std::mutex Lock;
    std::vector<int> Order;
    std::vector<std::thread::id> Threads;
    void Add(int n) {
        std::lock_guard g(Lock);
        Order.push_back(n);
        Threads.push_back(std::this_thread::get_id());
    }
    std::size_t Size() {
        std::lock_guard g(Lock);
        return Order.size();
    }
};

}  // namespace

TEST(Apartment, WorkerNotificationsRunOnTheOwnerThreadInOrder) {
    const auto owner = std::this_thread::get_id();
    TLog log;
    static constexpr int Workers = 3, PerWorker = 200;
    std::vector<std::thread> workers;
    for (int w = 0; w < Workers; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < PerWorker; ++i)
                EXPECT_TRUE(PostToThread(owner, [&log, w, i] { log.Add(w * PerWorker + i); }));
        });
    const bool all = PumpUntil([&] { return log.Size() == Workers * PerWorker; }, Patience);
    for (auto& t : workers) t.join();
    ASSERT_TRUE(all);
    for (const auto& id : log.Threads) EXPECT_EQ(id, owner);
    // Each worker's notifications arrive in the order it posted them.
    std::vector<int> next(Workers, 0);
    for (int n : log.Order) {
        const int w = n / PerWorker;
        EXPECT_EQ(n % PerWorker, next[w]++);
    }
    EXPECT_EQ(ProcessMessages(), 0);
}

namespace {

struct IJob : IUnknown {
    COM_INTERFACE(IJob, IUnknown, "{E7A1D3C5-2B4F-4A6E-9C8D-0F1E2D3C4B01}")
};

// An object whose work runs on a worker thread and whose completion is delivered
// on the thread that created it.
class TJob : public TImplements<TInterfacedObject, IJob> {
public:
    std::thread::id WorkedOn, CompletedOn;
    bool Completed = false;

    void StartAsync() {
        ComPtr<TJob> self(this);  // the worker and the notification keep the object alive
        std::thread([self] {
            self->WorkedOn = std::this_thread::get_id();
            self->PostToOwner([self] {
                self->CompletedOn = std::this_thread::get_id();
                self->Completed = true;
            });
        }).detach();
    }
};

}  // namespace

TEST(Apartment, ObjectsGetCompletionOnTheirOwnersThread) {
    auto job = MakeComObject<TJob>();
    job->StartAsync();
    ASSERT_TRUE(PumpUntil([&] { return job->Completed; }, Patience));
    EXPECT_EQ(job->CompletedOn, std::this_thread::get_id());
    EXPECT_NE(job->WorkedOn, std::this_thread::get_id());
    // The same for an object owned by another thread: its completion never runs here.
    std::thread::id ownerThread, completedOn;
    std::thread([&] {
        CoInitialize();
        ownerThread = std::this_thread::get_id();
        auto other = MakeComObject<TJob>();
        other->StartAsync();
        PumpUntil([&] { return other->Completed; }, Patience);
        completedOn = other->CompletedOn;
        other.Reset();
        CoUninitialize();
    }).join();
    EXPECT_EQ(completedOn, ownerThread);
    EXPECT_EQ(ProcessMessages(), 0);
}

TEST(Apartment, MessagesPostedWhileProcessingRunInTheSameRound) {
    std::vector<int> order;
    auto apartment = CurrentApartment();
    apartment->Post([&] {
        order.push_back(1);
        apartment->Post([&] { order.push_back(3); });
    });
    apartment->Post([&] { order.push_back(2); });
    EXPECT_EQ(ProcessMessages(), 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Apartment, AnExceptionLeavesTheRestQueued) {
    std::vector<int> order;
    PostToThread(std::this_thread::get_id(), [&] { order.push_back(1); });
    PostToThread(std::this_thread::get_id(), [] { throw Rtl::EConvertError("bad value"); });
    PostToThread(std::this_thread::get_id(), [&] { order.push_back(3); });
    EXPECT_THROW(ProcessMessages(), Rtl::EConvertError);
    EXPECT_EQ(order, std::vector<int>{1});
    EXPECT_EQ(ProcessMessages(), 1);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
}

TEST(Apartment, OnlyTheOwnerProcessesItsQueue) {
    auto mainApartment = CurrentApartment();
    HRESULT code = S_OK;
    std::thread([&] {
        try {
            mainApartment->ProcessMessages();
        } catch (const EOleSysError& e) {
            code = e.ErrorCode();
        }
    }).join();
    EXPECT_EQ(code, RPC_E_WRONG_THREAD);
}

TEST(Apartment, EndedApartmentsRefuseAndDropWork) {
    std::thread::id workerId;
    std::shared_ptr<TApartment> apartment;
    ComPtr<IJob> orphan = MakeComObject<TJob>();
    std::thread([&] {
        EXPECT_FALSE(CurrentApartment());  // not initialised: no queue
        CoInitialize();
        workerId = std::this_thread::get_id();
        apartment = CurrentApartment();
        // Queued work holds a reference that must be released when it is dropped.
        apartment->Post([keep = orphan] {});
        CoUninitialize();
    }).join();
    EXPECT_TRUE(apartment->IsClosed());
    EXPECT_EQ(apartment->GetPendingCount(), 0u);
    EXPECT_EQ(static_cast<TJob*>(orphan.Get())->GetRefCount(), 1);
    EXPECT_FALSE(apartment->Post([] {}));
    EXPECT_FALSE(PostToThread(workerId, [] {}));
    EXPECT_FALSE(FindApartment(workerId));
}

TEST(Apartment, PumpUntilGivesUpWhenNothingArrives) {
    EXPECT_FALSE(PumpUntil([] { return false; }, 0ms));
    EXPECT_FALSE(PumpUntil([] { return false; }, 20ms));
    EXPECT_TRUE(PumpUntil([] { return true; }, 0ms));
}
