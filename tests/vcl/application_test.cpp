#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <thread>

#include "TestClasses.h"

using namespace VclTest;

namespace {

class ApplicationObject : public ::testing::Test {
protected:
    void TearDown() override {
        Application->SetOnException(nullptr);
        Application->SetProcessMessagesHook(nullptr);
    }
};

}  // namespace

TEST_F(ApplicationObject, HandleExceptionWritesToStandardErrorByDefault) {
    TComponent sender(nullptr);
    testing::internal::CaptureStderr();
    try {
        throw Rtl::EConvertError("'x' is not a valid integer value");
    } catch (...) {
        Application->HandleException(&sender);
    }
    try {
        throw Rtl::EAbort("silent");
    } catch (...) {
        Application->HandleException(&sender);
    }
    try {
        throw 42;
    } catch (...) {
        Application->HandleException(&sender);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "'x' is not a valid integer value\nUnknown exception\n");
}

TEST_F(ApplicationObject, AnInstalledHandlerGetsSenderAndException) {
    std::vector<String> seen;
    Application->SetOnException([&](TObject* sender, const std::exception& e) {
        seen.push_back(static_cast<TComponent*>(sender)->GetName() + ": " + e.what());
    });
    TComponent sender(nullptr);
    sender.SetName("Sender1");
    testing::internal::CaptureStderr();
    try {
        throw Rtl::EInvalidOperation("broken");
    } catch (...) {
        Application->HandleException(&sender);
    }
    try {
        Rtl::Abort();
    } catch (...) {
        Application->HandleException(&sender);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(seen, (std::vector<String>{"Sender1: broken"}));
}

TEST_F(ApplicationObject, ProcessMessagesDeliversThroughTheInstalledHook) {
    Application->ProcessMessages();  // nothing installed: nothing happens

    // A worker thread posts; the owner's thread delivers when it pumps.
    std::mutex lock;
    std::deque<std::function<void()>> queue;
    const auto owner = std::this_thread::get_id();
    std::vector<bool> onOwnerThread;
    Application->SetProcessMessagesHook([&] {
        std::deque<std::function<void()>> pending;
        {
            std::lock_guard g(lock);
            pending.swap(queue);
        }
        for (auto& f : pending) f();
    });
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            std::lock_guard g(lock);
            queue.push_back([&] { onOwnerThread.push_back(std::this_thread::get_id() == owner); });
        }
    });
    worker.join();
    Application->ProcessMessages();
    EXPECT_EQ(onOwnerThread, (std::vector<bool>{true, true, true}));

    auto previous = Application->SetProcessMessagesHook(nullptr);
    EXPECT_TRUE(static_cast<bool>(previous));
}

TEST_F(ApplicationObject, TerminateSetsTerminated) {
    TApplication app(nullptr);
    EXPECT_FALSE(app.GetTerminated());
    app.Terminate();
    EXPECT_TRUE(app.GetTerminated());
}

TEST_F(ApplicationObject, DataModuleEventsAndCreateFailures) {
    std::vector<String> seen;
    Application->SetOnException([&](TObject*, const std::exception& e) { seen.push_back(e.what()); });
    auto* module = new TDataModule(nullptr);
    module->SetOnCreate([](TObject*) { throw Rtl::EInvalidOperation("create failed"); });
    module->SetOnDestroy([&](TObject* s) { seen.push_back("destroy " + static_cast<TComponent*>(s)->ClassName()); });
    module->DoCreate();  // the failure is shown, not raised
    delete module;       // OnDestroy sees the whole module
    EXPECT_EQ(seen, (std::vector<String>{"create failed", "destroy TDataModule"}));
}
