// A connection event sink for the asynchronous tests: it records each event
// with its status, error text and the thread it ran on.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {

struct TEvent {
    std::string Name;
    std::thread::id Thread;
    EventStatusEnum Status = adStatusOK;
    std::string Error;
    int Affected = -2;
    bool HadCommand = false;
    bool HadRecordset = false;
};

// Records each connection event with the thread it ran on.
class TSink : public Com::TImplements<Com::TInterfacedObject, ConnectionEventsVt> {
public:
    std::vector<TEvent> Events;
    // Runs inside ExecuteComplete / ConnectComplete (to act from a handler).
    std::function<void()> OnComplete;

    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& e : Events) n += e.Name == name;
        return n;
    }
    const TEvent& Last(const std::string& name) const {
        for (auto it = Events.rbegin(); it != Events.rend(); ++it)
            if (it->Name == name) return *it;
        throw std::runtime_error("no " + name + " event");
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : Events) out.push_back(e.Name);
        return out;
    }

    Com::HRESULT InfoMessage(Error*, EventStatusEnum&, _Connection*) override { return Com::S_OK; }
    Com::HRESULT BeginTransComplete(int, Error*, EventStatusEnum&, _Connection*) override { return Com::S_OK; }
    Com::HRESULT CommitTransComplete(Error*, EventStatusEnum&, _Connection*) override { return Com::S_OK; }
    Com::HRESULT RollbackTransComplete(Error*, EventStatusEnum&, _Connection*) override { return Com::S_OK; }
    Com::HRESULT WillExecute(WideString&, CursorTypeEnum&, LockTypeEnum&, int&, EventStatusEnum& st, _Command* cmd,
                        _Recordset* rs, _Connection*) override {
        Add("WillExecute", st, nullptr).HadCommand = cmd != nullptr;
        Events.back().HadRecordset = rs != nullptr;
        return Com::S_OK;
    }
    Com::HRESULT ExecuteComplete(int affected, Error* e, EventStatusEnum& st, _Command* cmd, _Recordset* rs,
                            _Connection*) override {
        TEvent& ev = Add("ExecuteComplete", st, e);
        ev.Affected = affected;
        ev.HadCommand = cmd != nullptr;
        ev.HadRecordset = rs != nullptr;
        if (OnComplete) OnComplete();
        return Com::S_OK;
    }
    Com::HRESULT WillConnect(WideString&, WideString&, WideString&, int&, EventStatusEnum& st, _Connection*) override {
        Add("WillConnect", st, nullptr);
        return Com::S_OK;
    }
    Com::HRESULT ConnectComplete(Error* e, EventStatusEnum& st, _Connection*) override {
        Add("ConnectComplete", st, e);
        if (OnComplete) OnComplete();
        return Com::S_OK;
    }
    Com::HRESULT Disconnect(EventStatusEnum& st, _Connection*) override {
        Add("Disconnect", st, nullptr);
        return Com::S_OK;
    }

private:
    TEvent& Add(const std::string& name, EventStatusEnum st, Error* e) {
        Events.push_back({name, std::this_thread::get_id(), st, e ? N(e->GetDescription()) : std::string()});
        return Events.back();
    }
};

}  // namespace AdoTest
