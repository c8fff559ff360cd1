#include "Platform/vcl/Forms.h"

#include <cstdio>

namespace Vcl {

VCL_CLASS_IMPL(TApplication, TComponent) {}

TApplication* Application = new TApplication(nullptr);

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

void TApplication::HandleException(TObject* Sender) {
    std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
        std::rethrow_exception(current);
    } catch (const Rtl::EAbort&) {
        return;
    } catch (const std::exception& e) {
        TExceptionEvent handler = GetOnException();
        if (handler) handler(Sender, e);
        else ShowException(e);
    } catch (...) {
        Rtl::Exception unknown("Unknown exception");
        TExceptionEvent handler = GetOnException();
        if (handler) handler(Sender, unknown);
        else ShowException(unknown);
    }
}

void TApplication::ShowException(const std::exception& E) {
    String message = E.what();
    if (message.empty())
        if (auto* e = dynamic_cast<const Rtl::Exception*>(&E)) message = e->ClassName();
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

TExceptionEvent TApplication::GetOnException() const {
    std::lock_guard lock(FLock);
    return FOnException;
}

void TApplication::SetOnException(TExceptionEvent Value) {
    std::lock_guard lock(FLock);
    FOnException = std::move(Value);
}

void TApplication::ProcessMessages() {
    std::function<void()> hook;
    {
        std::lock_guard lock(FLock);
        hook = FProcessMessages;
    }
    if (hook) hook();
}

std::function<void()> TApplication::SetProcessMessagesHook(std::function<void()> Hook) {
    std::lock_guard lock(FLock);
    std::swap(FProcessMessages, Hook);
    return Hook;
}

}  // namespace Vcl
