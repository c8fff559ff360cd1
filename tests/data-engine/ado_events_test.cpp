// Connection and recordset events through connection points: order,
// arguments, cancelling in Will... events, and unwanted events.
#include <map>

#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::HRESULT;
using Com::S_OK;

// What one event call looked like.
struct TCall {
    std::string Name;
    int Reason = 0;
    EventStatusEnum Status = adStatusOK;
    std::string Error;  // the Error object's description, if one was passed
};

// Records calls, and answers them with the status the test asks for.
class TRecorder {
public:
    std::vector<TCall> Calls;
    std::map<std::string, EventStatusEnum> Reply;  // by "Name" or "Name:reason"

    void Record(const std::string& name, int reason, EventStatusEnum& status, Error* error) {
        TCall c{name, reason, status, error ? N(error->GetDescription()) : std::string()};
        Calls.push_back(c);
        auto it = Reply.find(name + ":" + std::to_string(reason));
        if (it == Reply.end()) it = Reply.find(name);
        if (it != Reply.end()) status = it->second;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& c : Calls) out.push_back(c.Name);
        return out;
    }
    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& c : Calls) n += c.Name == name;
        return n;
    }
    const TCall& Last(const std::string& name) const {
        for (auto it = Calls.rbegin(); it != Calls.rend(); ++it)
            if (it->Name == name) return *it;
        throw std::runtime_error("no " + name + " call");
    }
};

class TConnectionSink : public Com::TImplements<Com::TInterfacedObject, ConnectionEventsVt>, public TRecorder {
public:
    std::function<void(WideString& source)> EditSource;
    int LastLevel = -1;
    int LastAffected = -2;
    bool LastHadRecordset = false;
    std::string LastConnectionString;

    HRESULT InfoMessage(Error* e, EventStatusEnum& st, _Connection*) override {
        Record("InfoMessage", 0, st, e);
        return S_OK;
    }
    HRESULT BeginTransComplete(int level, Error* e, EventStatusEnum& st, _Connection*) override {
        LastLevel = level;
        Record("BeginTransComplete", 0, st, e);
        return S_OK;
    }
    HRESULT CommitTransComplete(Error* e, EventStatusEnum& st, _Connection*) override {
        Record("CommitTransComplete", 0, st, e);
        return S_OK;
    }
    HRESULT RollbackTransComplete(Error* e, EventStatusEnum& st, _Connection*) override {
        Record("RollbackTransComplete", 0, st, e);
        return S_OK;
    }
    HRESULT WillExecute(WideString& source, CursorTypeEnum&, LockTypeEnum&, int&, EventStatusEnum& st, _Command*,
                        _Recordset* rs, _Connection*) override {
        LastHadRecordset = rs != nullptr;
        if (EditSource) EditSource(source);
        Record("WillExecute", 0, st, nullptr);
        return S_OK;
    }
    HRESULT ExecuteComplete(int affected, Error* e, EventStatusEnum& st, _Command*, _Recordset*, _Connection*) override {
        LastAffected = affected;
        Record("ExecuteComplete", 0, st, e);
        return S_OK;
    }
    HRESULT WillConnect(WideString& cs, WideString&, WideString&, int&, EventStatusEnum& st, _Connection*) override {
        LastConnectionString = N(cs);
        Record("WillConnect", 0, st, nullptr);
        return S_OK;
    }
    HRESULT ConnectComplete(Error* e, EventStatusEnum& st, _Connection*) override {
        Record("ConnectComplete", 0, st, e);
        return S_OK;
    }
    HRESULT Disconnect(EventStatusEnum& st, _Connection*) override {
        Record("Disconnect", 0, st, nullptr);
        return S_OK;
    }
};

class TRecordsetSink : public Com::TImplements<Com::TInterfacedObject, RecordsetEventsVt>, public TRecorder {
public:
    std::vector<std::string> ChangedFields;
    std::function<void(_Recordset*)> OnEnd;

    HRESULT WillChangeField(int n, const Variant& fields, EventStatusEnum& st, _Recordset*) override {
        ChangedFields.clear();
        for (int i = 0; i < n; ++i)
            ChangedFields.push_back(N(Com::VarToInterface<Field>(fields.GetElement(i))->GetName()));
        Record("WillChangeField", 0, st, nullptr);
        return S_OK;
    }
    HRESULT FieldChangeComplete(int, const Variant&, Error* e, EventStatusEnum& st, _Recordset*) override {
        Record("FieldChangeComplete", 0, st, e);
        return S_OK;
    }
    HRESULT WillChangeRecord(EventReasonEnum r, int, EventStatusEnum& st, _Recordset*) override {
        Record("WillChangeRecord", r, st, nullptr);
        return S_OK;
    }
    HRESULT RecordChangeComplete(EventReasonEnum r, int, Error* e, EventStatusEnum& st, _Recordset*) override {
        Record("RecordChangeComplete", r, st, e);
        return S_OK;
    }
    HRESULT WillChangeRecordset(EventReasonEnum r, EventStatusEnum& st, _Recordset*) override {
        Record("WillChangeRecordset", r, st, nullptr);
        return S_OK;
    }
    HRESULT RecordsetChangeComplete(EventReasonEnum r, Error* e, EventStatusEnum& st, _Recordset*) override {
        Record("RecordsetChangeComplete", r, st, e);
        return S_OK;
    }
    HRESULT WillMove(EventReasonEnum r, EventStatusEnum& st, _Recordset*) override {
        Record("WillMove", r, st, nullptr);
        return S_OK;
    }
    HRESULT MoveComplete(EventReasonEnum r, Error* e, EventStatusEnum& st, _Recordset*) override {
        Record("MoveComplete", r, st, e);
        return S_OK;
    }
    HRESULT EndOfRecordset(bool& more, EventStatusEnum& st, _Recordset* rs) override {
        Record("EndOfRecordset", 0, st, nullptr);
        if (OnEnd) {
            OnEnd(rs);
            more = true;
        }
        return S_OK;
    }
    HRESULT FetchProgress(int, int, EventStatusEnum& st, _Recordset*) override {
        Record("FetchProgress", 0, st, nullptr);
        return S_OK;
    }
    HRESULT FetchComplete(Error* e, EventStatusEnum& st, _Recordset*) override {
        Record("FetchComplete", 0, st, e);
        return S_OK;
    }
};

class EventsTest : public TAdoProviderTest {
protected:
    ComPtr<TConnectionSink> Advise(const ComPtr<_Connection>& c, const Rtl::IID& iid = DIID_ConnectionEvents) {
        auto sink = Com::MakeComObject<TConnectionSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(c.Get(), iid, static_cast<ConnectionEventsVt*>(sink.Get()), cookie), S_OK);
        EXPECT_NE(cookie, 0);
        return sink;
    }
    ComPtr<TRecordsetSink> Advise(const ComPtr<_Recordset>& rs, int* cookieOut = nullptr) {
        auto sink = Com::MakeComObject<TRecordsetSink>();
        int cookie = 0;
        EXPECT_EQ(Com::InterfaceConnect(rs.Get(), DIID_RecordsetEvents, static_cast<RecordsetEventsVt*>(sink.Get()),
                                        cookie),
                  S_OK);
        if (cookieOut) *cookieOut = cookie;
        return sink;
    }
    // A client recordset with a sink advised before it opens.
    ComPtr<_Recordset> OpenWithSink(const ComPtr<_Connection>& c, ComPtr<TRecordsetSink>& sink,
                                    LockTypeEnum lock = adLockOptimistic) {
        auto rs = CoRecordset::Create();
        sink = Advise(rs);
        rs->SetCursorLocation(adUseClient);
        rs->Open(Variant(u"SELECT * FROM items ORDER BY id"), Com::VarFromInterface(c), adOpenStatic, lock, adCmdText);
        return rs;
    }
};

TEST_P(EventsTest, ConnectionEventsSurroundTheirOperations) {
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    c->Open(W(ConnectionString()));
    EXPECT_NE(sink->LastConnectionString.find(IsPostgres() ? Target().Schema() : "target.db"), std::string::npos)
        << sink->LastConnectionString;
    Variant affected;
    c->Execute(u"UPDATE items SET qty = 0 WHERE id < 3", &affected, adExecuteNoRecords);
    EXPECT_EQ(sink->LastAffected, 2);
    EXPECT_FALSE(sink->LastHadRecordset);
    c->Execute(u"SELECT * FROM items", nullptr, adCmdText);
    EXPECT_TRUE(sink->LastHadRecordset);
    c->BeginTrans();
    c->BeginTrans();
    EXPECT_EQ(sink->LastLevel, 2);
    c->RollbackTrans();
    c->CommitTrans();
    c->Close();
    EXPECT_EQ(sink->Names(),
              (std::vector<std::string>{"WillConnect", "ConnectComplete", "WillExecute", "ExecuteComplete",
                                        "WillExecute", "ExecuteComplete", "BeginTransComplete", "BeginTransComplete",
                                        "RollbackTransComplete", "CommitTransComplete", "Disconnect"}));
    for (const auto& call : sink->Calls) EXPECT_EQ(call.Status, adStatusOK) << call.Name;
}

TEST_P(EventsTest, FailuresReachTheCompleteEvents) {
    auto c = Connect();
    auto sink = Advise(c);
    EXPECT_FALSE(OleError([&] { c->Execute(u"SELECT nothing FROM nowhere", nullptr, adCmdText); }).empty());
    const TCall& done = sink->Last("ExecuteComplete");
    EXPECT_EQ(done.Status, adStatusErrorsOccurred);
    EXPECT_NE(done.Error.find("nowhere"), std::string::npos);
    OleError([&] { c->CommitTrans(); });
    EXPECT_EQ(sink->Last("CommitTransComplete").Status, adStatusErrorsOccurred);
    // A failed connect reports to ConnectComplete and leaves the connection closed.
    auto fresh = CoConnection::Create();
    auto freshSink = Advise(fresh);
    const std::string missing = IsPostgres() ? "velora_no_such_database" : "/no/such/dir/x.db";
    OleError([&] {
        fresh->Open(W(IsPostgres() ? EngineTest::PgConnectionString(missing)
                                   : "Provider=SQLite;Mode=Read;Data Source=" + missing));
    });
    EXPECT_EQ(freshSink->Last("ConnectComplete").Status, adStatusErrorsOccurred);
    EXPECT_NE(freshSink->Last("ConnectComplete").Error.find(missing), std::string::npos)
        << freshSink->Last("ConnectComplete").Error;
    EXPECT_EQ(fresh->GetState(), adStateClosed);
}

TEST_P(EventsTest, CancelInAWillEventCancelsTheOperation) {
    auto c = CoConnection::Create();
    auto sink = Advise(c);
    sink->Reply["WillConnect"] = adStatusCancel;
    const std::string message = OleError([&] { c->Open(W(ConnectionString())); });
    EXPECT_NE(message.find("Operation was cancelled"), std::string::npos) << message;
    EXPECT_EQ(c->GetState(), adStateClosed);
    EXPECT_EQ(c->GetErrors()->GetItem(Variant(0))->GetNumber(), AdoCode(adErrOperationCancelled));
    EXPECT_EQ(sink->Last("ConnectComplete").Status, adStatusErrorsOccurred);
    sink->Reply.clear();
    c->Open(W(ConnectionString()));
    sink->Reply["WillExecute"] = adStatusCancel;
    EXPECT_EQ(OleCode([&] { Exec(c, "DELETE FROM items"); }), AdoCode(adErrOperationCancelled));
    sink->Reply.clear();
    EXPECT_EQ(FieldValue(c->Execute(u"SELECT COUNT(*) AS n FROM items", nullptr, adCmdText), "n").ToInteger(), 4);
}

TEST_P(EventsTest, WillExecuteMayChangeTheText) {
    auto c = Connect();
    auto sink = Advise(c);
    sink->EditSource = [](WideString& source) { source = u"SELECT 'rewritten' AS t"; };
    auto rs = c->Execute(u"SELECT name AS t FROM items", nullptr, adCmdText);
    EXPECT_EQ(N(FieldValue(rs, "t").ToWideString()), "rewritten");
}

TEST_P(EventsTest, UnwantedEventIsNotRaisedAgainForThatObject) {
    auto c = Connect();
    auto sink = Advise(c);
    sink->Reply["ExecuteComplete"] = adStatusUnwantedEvent;
    for (int i = 0; i < 3; ++i) Exec(c, "UPDATE items SET qty = qty");
    EXPECT_EQ(sink->Count("ExecuteComplete"), 1);
    EXPECT_EQ(sink->Count("WillExecute"), 3);
    // Another connection still raises it.
    auto other = Connect();
    auto otherSink = Advise(other);
    Exec(other, "UPDATE items SET qty = qty");
    EXPECT_EQ(otherSink->Count("ExecuteComplete"), 1);
}

TEST_P(EventsTest, RecordsetEventsAroundFieldChangesUpdatesAndMoves) {
    auto c = Connect();
    ComPtr<TRecordsetSink> sink;
    auto rs = OpenWithSink(c, sink);
    EXPECT_EQ(sink->Names(), (std::vector<std::string>{"WillMove", "MoveComplete"}));  // opening lands on a row
    EXPECT_EQ(sink->Calls[0].Status, adStatusCantDeny);
    sink->Calls.clear();
    rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(3));
    EXPECT_EQ(sink->ChangedFields, std::vector<std::string>{"qty"});
    rs->GetFields()->GetItem(Variant("note"))->SetValue(Variant("n"));
    rs->Update(Com::EmptyParam, Com::EmptyParam);
    rs->MoveNext();
    std::vector<std::string> expected = {"WillChangeField", "WillChangeRecord", "FieldChangeComplete",
                                         "RecordChangeComplete", "WillChangeField", "FieldChangeComplete",
                                         "WillChangeRecord", "RecordChangeComplete", "WillMove", "MoveComplete"};
    EXPECT_EQ(sink->Names(), expected);
    EXPECT_EQ(sink->Calls[1].Reason, adRsnFirstChange);
    EXPECT_EQ(sink->Calls[6].Reason, adRsnUpdate);
    EXPECT_EQ(sink->Calls[8].Reason, adRsnMoveNext);
    sink->Calls.clear();
    rs->AddNew(Com::EmptyParam, Com::EmptyParam);
    rs->CancelUpdate();
    rs->Delete(adAffectCurrent);
    rs->Close();
    EXPECT_EQ(sink->Names(),
              (std::vector<std::string>{"WillMove", "WillChangeRecord", "RecordChangeComplete", "MoveComplete",
                                        "WillChangeRecord", "RecordChangeComplete", "WillChangeRecord",
                                        "RecordChangeComplete", "WillChangeRecordset", "RecordsetChangeComplete"}));
    EXPECT_EQ(sink->Calls[1].Reason, adRsnAddNew);
    EXPECT_EQ(sink->Calls[4].Reason, adRsnUndoAddNew);
    EXPECT_EQ(sink->Calls[6].Reason, adRsnDelete);
    EXPECT_EQ(sink->Calls[8].Reason, adRsnClose);
}

TEST_P(EventsTest, CancellingRecordsetOperationsChangesNothing) {
    auto c = Connect();
    ComPtr<TRecordsetSink> sink;
    auto rs = OpenWithSink(c, sink);
    sink->Reply["WillMove"] = adStatusCancel;
    EXPECT_NE(OleError([&] { rs->MoveNext(); }).find("Operation was cancelled"), std::string::npos);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "apple");
    EXPECT_EQ(sink->Last("MoveComplete").Status, adStatusErrorsOccurred);
    sink->Reply.clear();
    sink->Reply["WillChangeField"] = adStatusCancel;
    EXPECT_EQ(OleCode([&] { rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(0)); }),
              AdoCode(adErrOperationCancelled));
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 10);
    EXPECT_EQ(rs->GetEditMode(), adEditNone);
    sink->Reply.clear();
    sink->Reply["WillChangeRecord:" + std::to_string(adRsnUpdate)] = adStatusCancel;
    rs->GetFields()->GetItem(Variant("qty"))->SetValue(Variant(0));
    EXPECT_EQ(OleCode([&] { rs->Update(Com::EmptyParam, Com::EmptyParam); }), AdoCode(adErrOperationCancelled));
    EXPECT_EQ(rs->GetEditMode(), adEditInProgress);  // the change is still pending, not written
    rs->CancelUpdate();
    auto check = c->Execute(u"SELECT qty FROM items WHERE id = 1", nullptr, adCmdText);
    EXPECT_EQ(FieldValue(check, "qty").ToInteger(), 10);
}

TEST_P(EventsTest, UnwantedIsPerReasonForEventsWithReasons) {
    auto c = Connect();
    ComPtr<TRecordsetSink> sink;
    auto rs = OpenWithSink(c, sink);
    sink->Reply["WillMove:" + std::to_string(adRsnMoveNext)] = adStatusUnwantedEvent;
    rs->MoveNext();
    rs->MoveNext();
    rs->MoveFirst();
    int moveNext = 0, moveFirst = 0;
    for (const auto& call : sink->Calls) {
        if (call.Name != "WillMove") continue;
        if (call.Reason == adRsnMoveNext) ++moveNext;
        if (call.Reason == adRsnMoveFirst) ++moveFirst;
    }
    EXPECT_EQ(moveNext, 1);
    EXPECT_EQ(moveFirst, 1);
    EXPECT_EQ(sink->Count("MoveComplete"), 4);  // the open, two MoveNext, MoveFirst
}

TEST_P(EventsTest, EndOfRecordsetLetsTheHandlerAddRows) {
    auto c = Connect();
    ComPtr<TRecordsetSink> sink;
    auto rs = OpenWithSink(c, sink, adLockBatchOptimistic);
    rs->MoveLast();
    sink->OnEnd = [&](_Recordset* r) {
        sink->OnEnd = nullptr;
        r->AddNew(Variant("name"), Variant("more"));
    };
    rs->MoveNext();
    EXPECT_EQ(sink->Count("EndOfRecordset"), 1);
    EXPECT_FALSE(rs->GetEOF());
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "more");
    rs->MoveNext();
    EXPECT_TRUE(rs->GetEOF());
    EXPECT_EQ(sink->Count("EndOfRecordset"), 2);
}

TEST_P(EventsTest, InfoMessageReportsAChangedCursorType) {
    auto c = Connect();
    auto sink = Advise(c, IID_ConnectionEventsVt);
    OpenRecordset(c, "SELECT * FROM items", adUseClient, adOpenDynamic, adLockOptimistic);
    ASSERT_EQ(sink->Count("InfoMessage"), 1);
    EXPECT_NE(sink->Last("InfoMessage").Error.find("adOpenStatic"), std::string::npos);
}

TEST_P(EventsTest, ConnectionPointsAcceptOnlyTheirSinksAndUnadviseStopsEvents) {
    auto c = Connect();
    auto rsSink = Com::MakeComObject<TRecordsetSink>();
    int cookie = 0;
    EXPECT_EQ(Com::InterfaceConnect(c.Get(), DIID_ConnectionEvents, static_cast<RecordsetEventsVt*>(rsSink.Get()), cookie),
              Com::CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0);
    auto rs = CoRecordset::Create();
    int rsCookie = 0;
    auto sink = Advise(rs, &rsCookie);
    EXPECT_EQ(Com::InterfaceDisconnect(rs.Get(), DIID_RecordsetEvents, rsCookie), S_OK);
    rs->Open(Variant(u"SELECT * FROM items"), Com::VarFromInterface(c), adOpenStatic, adLockReadOnly, adCmdText);
    rs->MoveNext();
    EXPECT_TRUE(sink->Calls.empty());
}

VELORA_PROVIDER_SUITE(EventsTest);

}  // namespace
}  // namespace AdoTest
