// The Command and Parameter objects: connections, native parameter binding,
// Refresh from the provider, Prepared, command types.
#include "Platform/data-engine/objects/Command.h"
#include "tests/data-engine/ado_support.h"

namespace AdoTest {
namespace {

using Com::OleCall;
using Com::OleGet;

ComPtr<_Command> MakeCommand(const ComPtr<_Connection>& c, const std::string& text, CommandTypeEnum type) {
    auto cmd = CoCommand::Create();
    cmd->SetActiveConnectionRef(c.Get());
    cmd->SetCommandText(W(text));
    cmd->SetCommandType(type);
    return cmd;
}

// Over each provider.
class CommandTest : public TAdoProviderTest {
protected:
    ComPtr<_Command> MakeCommand(const std::string& text, CommandTypeEnum type = adCmdText) {
        return AdoTest::MakeCommand(FConn, text, type);
    }
    void SetUp() override {
        TAdoProviderTest::SetUp();
        if (IsSkipped()) return;
        FConn = Connect();
    }
    ComPtr<_Connection> FConn;
};

// What needs no data source, and what only SQLite refuses.
class CommandSqliteTest : public TAdoFixture {
protected:
    ComPtr<_Command> MakeCommand(const std::string& text, CommandTypeEnum type = adCmdText) {
        return AdoTest::MakeCommand(FConn, text, type);
    }
    void SetUp() override {
        TAdoFixture::SetUp();
        FConn = OpenConnection(FFile);
    }
    ComPtr<_Connection> FConn;
};

TEST_F(CommandSqliteTest, Defaults) {
    auto cmd = CoCommand::Create();
    EXPECT_EQ(cmd->GetCommandTimeout(), 30);
    EXPECT_EQ(cmd->GetCommandType(), adCmdUnknown);
    EXPECT_FALSE(cmd->GetPrepared());
    EXPECT_FALSE(cmd->GetNamedParameters());
    EXPECT_EQ(cmd->GetState(), adStateClosed);
    EXPECT_FALSE(cmd->GetActiveConnection());
    EXPECT_EQ(cmd->GetParameters()->GetCount(), 0);
    auto p = cmd->CreateParameter({}, adEmpty, adParamInput, 0, Com::EmptyParam);
    EXPECT_EQ(p->GetDirection(), adParamInput);
    EXPECT_EQ(p->GetType(), adEmpty);
    EXPECT_EQ(p->GetSize(), 0);
    EXPECT_TRUE(p->GetValue().IsEmpty());
    EXPECT_EQ(cmd->GetParameters()->GetCount(), 0);  // created, not appended
}

TEST_P(CommandTest, ValuesAreBoundNativelyNeverSplicedIntoTheText) {
    auto cmd = MakeCommand("INSERT INTO items (name, qty) VALUES (?, ?)");
    auto params = cmd->GetParameters();
    params->Append(cmd->CreateParameter(u"name", adVarWChar, adParamInput, 40, Variant(u"');DROP TABLE items")).Get());
    params->Append(cmd->CreateParameter(u"qty", adInteger, adParamInput, 0, Variant(3)).Get());
    Variant affected;
    cmd->Execute(&affected, Com::EmptyParam, adExecuteNoRecords);
    EXPECT_EQ(affected.ToInteger(), 1);
    auto rs = FConn->Execute(u"SELECT name, qty FROM items WHERE qty = 3", nullptr, adCmdText);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "');DROP TABLE items");
    // Values given to Execute stand in for the collection's.
    cmd->Execute(&affected, Rtl::VarArrayOf({Variant("kiwi"), Variant(9)}), adExecuteNoRecords);
    rs = FConn->Execute(u"SELECT name FROM items WHERE qty = 9", nullptr, adCmdText);
    EXPECT_EQ(N(FieldValue(rs, "name").ToWideString()), "kiwi");
}

TEST_P(CommandTest, ParametersOfTheWrongSizeOrTypeAreRefusedNamingThem) {
    struct TCase {
        DataTypeEnum Type;
        int Size;
        Variant Value;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {adVarWChar, 3, Variant("toolong"), "longer than its Size 3"},
        {adVarWChar, 0, Variant("x"), "has no Size"},
        {adInteger, 0, Variant("not a number"), "not a number"},
        {adInteger, 0, Variant(static_cast<long long>(1) << 40), "1099511627776"},
    };
    for (const auto& tc : cases) {
        auto cmd = MakeCommand("SELECT ? AS v");
        cmd->GetParameters()->Append(cmd->CreateParameter(u"p", tc.Type, adParamInput, tc.Size, tc.Value).Get());
        const std::string message = OleError([&] { cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified); });
        EXPECT_NE(message.find(tc.Expected), std::string::npos) << message;
        EXPECT_NE(message.find("p"), std::string::npos) << message;
    }
    // A NULL value needs no size; Empty binds as Null too.
    auto cmd = MakeCommand("SELECT ? IS NULL AS n");
    cmd->GetParameters()->Append(cmd->CreateParameter(u"p", adVarWChar, adParamInput, 0, Variant::Null()).Get());
    auto rs = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_TRUE(FieldValue(rs, "n").ToBoolean());
}

TEST_P(CommandTest, RefreshAsksTheProviderForTheParameters) {
    auto cmd = MakeCommand("SELECT * FROM items WHERE name = :name AND qty > ? AND (note IS NULL OR note <> :name)");
    auto params = cmd->GetParameters();
    params->Refresh();
    ASSERT_EQ(params->GetCount(), 2);  // :name used twice is one parameter
    EXPECT_EQ(N(params->GetItem(Variant(0))->GetName()), ":name");
    EXPECT_EQ(N(params->GetItem(Variant(1))->GetName()), "Param2");
    EXPECT_EQ(params->GetItem(Variant(1))->GetDirection(), adParamInput);
    // By name, with or without the marker; unknown names are an error naming them.
    EXPECT_EQ(params->GetItem(Variant("name")).Get(), params->GetItem(Variant(":NAME")).Get());
    EXPECT_NE(OleError([&] { params->GetItem(Variant("nope")); }).find("nope"), std::string::npos);
    params->GetItem(Variant(":name"))->SetValue(Variant("pear"));
    params->GetItem(Variant(1))->SetValue(Variant(1));
    auto rs = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(FieldValue(rs, "qty").ToInteger(), 5);
    // An untouched collection refreshes itself when it is first used, as ADO's does.
    auto other = MakeCommand("SELECT * FROM items WHERE id = ?");
    EXPECT_EQ(other->GetParameters()->GetCount(), 1);
    params->Delete(Variant(0));
    EXPECT_EQ(params->GetCount(), 1);
    EXPECT_EQ(OleCode([&] { params->Delete(Variant(5)); }), AdoCode(adErrItemNotFound));
}

TEST_P(CommandTest, NamedParametersBindByName) {
    auto cmd = MakeCommand("SELECT :a - :b AS d");
    cmd->SetNamedParameters(true);
    auto params = cmd->GetParameters();
    params->Append(cmd->CreateParameter(u"b", adInteger, adParamInput, 0, Variant(1)).Get());
    params->Append(cmd->CreateParameter(u"a", adInteger, adParamInput, 0, Variant(10)).Get());
    auto rs = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(FieldValue(rs, "d").ToInteger(), 9);
    cmd->SetNamedParameters(false);  // by position: a = 1, b = 10
    rs = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(FieldValue(rs, "d").ToInteger(), -9);
}

TEST_P(CommandTest, PreparedReusesTheCompiledStatement) {
    auto cmd = MakeCommand("SELECT qty FROM items WHERE id = ?");
    auto* impl = DataEngine::Ado::CommandOf(cmd.Get());
    ASSERT_TRUE(impl);
    cmd->GetParameters()->Append(cmd->CreateParameter(u"id", adInteger, adParamInput, 0, Variant(1)).Get());
    for (int i = 0; i < 3; ++i) cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(impl->GetPrepareCount(), 3);  // not prepared: compiled each time
    cmd->SetPrepared(true);
    for (int id = 1; id <= 4; ++id) {
        cmd->GetParameters()->GetItem(Variant(0))->SetValue(Variant(id));
        // Each recordset is released before the next run, so the statement is free again.
        auto rs = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
        EXPECT_FALSE(rs->GetEOF());
    }
    EXPECT_EQ(impl->GetPrepareCount(), 4);  // one more, then reused
    // While a recordset still streams from it, a second run gets a statement of its own.
    auto first = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    auto second = cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(FieldValue(first, "qty").ToInteger(), FieldValue(second, "qty").ToInteger());
    EXPECT_EQ(impl->GetPrepareCount(), 5);
    // A changed text is compiled anew.
    cmd->SetCommandText(u"SELECT name FROM items WHERE id = ?");
    first = nullptr;
    second = nullptr;
    EXPECT_EQ(N(FieldValue(cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified), "name").ToWideString()),
              "fig");
}

TEST_P(CommandTest, CommandTypes) {
    auto table = MakeCommand("items", adCmdTable);
    auto rs = table->Execute(nullptr, Com::EmptyParam, adOptionUnspecified);
    EXPECT_EQ(rs->GetFields()->GetCount(), 6);
    auto unknown = MakeCommand("items", adCmdUnknown);  // a bare name reads as a table
    EXPECT_EQ(unknown->Execute(nullptr, Com::EmptyParam, adOptionUnspecified)->GetFields()->GetCount(), 6);
    auto empty = MakeCommand("");
    EXPECT_NE(OleError([&] { empty->Execute(nullptr, Com::EmptyParam, adOptionUnspecified); }).find("Command text"),
              std::string::npos);
    EXPECT_EQ(OleCode([&] { empty->SetCommandType(static_cast<CommandTypeEnum>(3)); }), AdoCode(adErrInvalidArgument));
}

TEST_F(CommandSqliteTest, StoredProceduresAreRefusedByAProviderWithout) {
    auto proc = MakeCommand("sp_items", adCmdStoredProc);
    EXPECT_NE(OleError([&] { proc->Execute(nullptr, Com::EmptyParam, adOptionUnspecified); })
                  .find("not supported by this provider"),
              std::string::npos);
    EXPECT_NE(OleError([&] { proc->GetParameters()->Refresh(); }).find("not supported by this provider"),
              std::string::npos);
}

TEST_P(CommandTest, StoredProceduresTakeAndGiveBackValuesThroughParameters) {
    if (!IsPostgres()) GTEST_SKIP() << "SQLite has no stored procedures (refused: see CommandSqliteTest)";
    Exec(FConn,
         "CREATE FUNCTION add_tax(amount numeric, rate numeric) RETURNS numeric LANGUAGE sql "
         "AS 'SELECT amount * (1 + rate)';"
         "CREATE PROCEDURE bump(INOUT counter int, step int, OUT note text) LANGUAGE plpgsql "
         "AS $$ BEGIN counter := counter + step; note := 'bumped by ' || step; END $$;"
         "CREATE FUNCTION cheap(limit_price numeric) RETURNS TABLE(name varchar, price numeric) LANGUAGE sql "
         "AS 'SELECT name, price FROM items WHERE price < limit_price ORDER BY price';");
    // A function: the return value comes first, then the arguments, all described by Refresh.
    auto tax = MakeCommand("add_tax", adCmdStoredProc);
    auto params = tax->GetParameters();
    params->Refresh();
    ASSERT_EQ(params->GetCount(), 3);
    EXPECT_EQ(params->GetItem(Variant(0))->GetDirection(), adParamReturnValue);
    EXPECT_EQ(N(params->GetItem(Variant(1))->GetName()), "amount");
    EXPECT_EQ(params->GetItem(Variant(1))->GetDirection(), adParamInput);
    params->GetItem(Variant("amount"))->SetValue(Variant(100));
    params->GetItem(Variant("rate"))->SetValue(Variant(0.25));
    tax->Execute(nullptr, Com::EmptyParam, adExecuteNoRecords);
    EXPECT_DOUBLE_EQ(params->GetItem(Variant(0))->GetValue().ToDouble(), 125.0);

    // A procedure: an in/out and an output argument are written back.
    auto bump = MakeCommand("bump", adCmdStoredProc);
    params = bump->GetParameters();
    params->Refresh();
    ASSERT_EQ(params->GetCount(), 3);
    EXPECT_EQ(params->GetItem(Variant(0))->GetDirection(), adParamInputOutput);
    EXPECT_EQ(params->GetItem(Variant(2))->GetDirection(), adParamOutput);
    params->GetItem(Variant("counter"))->SetValue(Variant(40));
    params->GetItem(Variant("step"))->SetValue(Variant(2));
    bump->Execute(nullptr, Com::EmptyParam, adExecuteNoRecords);
    EXPECT_EQ(params->GetItem(Variant("counter"))->GetValue().ToInteger(), 42);
    EXPECT_EQ(N(params->GetItem(Variant("note"))->GetValue().ToWideString()), "bumped by 2");

    // A function returning rows gives a recordset.
    auto cheap = MakeCommand("cheap", adCmdStoredProc);
    auto rs = cheap->Execute(nullptr, Rtl::VarArrayOf({Variant(2)}), adOptionUnspecified);
    std::vector<std::string> names;
    for (; !rs->GetEOF(); rs->MoveNext()) names.push_back(N(FieldValue(rs, "name").ToWideString()));
    EXPECT_EQ(names, (std::vector<std::string>{"plum", "apple"}));
}

TEST_P(CommandTest, ActiveConnectionTakesAnObjectOrAConnectionString) {
    auto cmd = CoCommand::Create();
    cmd->SetCommandText(u"SELECT COUNT(*) AS n FROM items");
    EXPECT_EQ(OleCode([&] { cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified); }),
              AdoCode(adErrInvalidConnection));
    // A connection string makes a connection of the command's own.
    cmd->SetActiveConnection(Variant(W(ConnectionString())));
    auto own = cmd->GetActiveConnection();
    ASSERT_TRUE(own);
    EXPECT_FALSE(Com::IsSameObject(own, FConn));
    EXPECT_EQ(own->GetState(), adStateOpen);
    EXPECT_EQ(FieldValue(cmd->Execute(nullptr, Com::EmptyParam, adOptionUnspecified), "n").ToInteger(), 4);
    cmd->SetActiveConnection(Com::VarFromInterface(FConn));
    EXPECT_TRUE(Com::IsSameObject(cmd->GetActiveConnection(), FConn));
    cmd->SetActiveConnection(Variant(u""));
    EXPECT_FALSE(cmd->GetActiveConnection());
    // A bad string fails as opening fails, naming the fault.
    EXPECT_NE(OleError([&] { cmd->SetActiveConnection(Variant("Provider=Nope")); }).find("Nope"), std::string::npos);
}

TEST_P(CommandTest, LateBoundExecuteWithRecordsAffectedAndParameters) {
    auto cmd = MakeCommand("UPDATE items SET qty = ? WHERE price > ?");
    Variant affected;
    OleCall(cmd, "Execute", {Variant::ByRef(&affected), Rtl::VarArrayOf({Variant(0), Variant(1)}),
                             Variant(adExecuteNoRecords)});
    EXPECT_EQ(affected.ToInteger(), 3);
    auto p = OleCall(cmd, "CreateParameter", {Variant("x"), Variant(static_cast<int>(adInteger))});
    EXPECT_EQ(OleGet(p, "Type").ToInteger(), adInteger);
    EXPECT_EQ(OleGet(p, "Direction").ToInteger(), adParamInput);
    OleCall(OleGet(cmd, "Parameters"), "Append", {p});
    EXPECT_EQ(OleGet(OleGet(cmd, "Parameters"), "Count").ToInteger(), 1);
    EXPECT_EQ(OleCode([&] { OleCall(OleGet(cmd, "Parameters"), "Append", {p}); }), AdoCode(adErrObjectInCollection));
}

TEST_F(CommandSqliteTest, ParameterSettersCheckTheirValues) {
    auto p = CoParameter::Create();
    EXPECT_EQ(OleCode([&] { p->SetDirection(static_cast<ParameterDirectionEnum>(9)); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { p->SetSize(-1); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { p->SetType(static_cast<DataTypeEnum>(999)); }), AdoCode(adErrInvalidArgument));
    EXPECT_EQ(OleCode([&] { p->AppendChunk(Variant("x")); }), AdoCode(adErrIllegalOperation));
    p->SetAttributes(adParamLong);
    p->AppendChunk(Variant("ab"));
    p->AppendChunk(Variant("cd"));
    EXPECT_EQ(N(p->GetValue().ToWideString()), "abcd");
    p->SetValue(Variant("new"));
    p->AppendChunk(Variant("!"));  // a value set directly starts over
    EXPECT_EQ(N(p->GetValue().ToWideString()), "!");
}

VELORA_PROVIDER_SUITE(CommandTest);

}  // namespace
}  // namespace AdoTest
