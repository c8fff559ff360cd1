// The application object: the exception display every layer reports to, the
// message pump hook and the terminate flag.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>

#include "Platform/vcl/Components.h"

namespace Vcl {

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
    VCL_CLASS(TApplication, TComponent)
public:
    explicit TApplication(TComponent* AOwner);

    // Call inside a catch block. The exception goes to OnException when one is
    // installed, else to ShowException; EAbort is swallowed silently.
    void HandleException(TObject* Sender);
    // Writes the exception's message to standard error.
    void ShowException(const std::exception& E);
    TExceptionEvent GetOnException() const;
    void SetOnException(TExceptionEvent Value);

    // Delivers the calling thread's pending notifications through the hook the
    // COM runtime installs (SetProcessMessagesHook); does nothing without one.
    void ProcessMessages();
    // Installs the hook and returns the one it replaces.
    std::function<void()> SetProcessMessagesHook(std::function<void()> Hook);

    bool GetTerminated() const noexcept { return FTerminated.load(); }
    void Terminate() noexcept { FTerminated.store(true); }

private:
    mutable std::mutex FLock;
    TExceptionEvent FOnException;
    std::function<void()> FProcessMessages;
    std::atomic<bool> FTerminated{false};
};

// The process's application object. It lives as long as the process: the
// components it owns are not freed at exit unless the program frees them.
extern TApplication* Application;

}  // namespace Vcl
