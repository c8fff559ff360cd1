// Command texts, stored routines and their results over PostgreSQL.
//
// A result streams: the server sends rows one at a time (libpq's single-row
// mode) and the result holds only the row handed out last, however many rows
// the command returns. Only when the connection is needed for something else
// while rows are still coming (another command, a transaction, a catalog
// query) does the result read the rest into its own memory; it then goes on
// from there, nothing is lost.
#pragma once

#include <deque>

#include "Platform/data-engine/providers/postgres/PgCommon.h"
#include "Platform/data-engine/providers/postgres/PgSqlText.h"

namespace DataEngine::Postgres {

// What the row description of a statement says, with what the catalog adds.
struct TPgDescription {
    std::vector<TColumnInfo> Columns;
    std::vector<TStorageKind> Kinds;
    std::vector<TPgDecoder> Decoders;
    std::vector<Oid> Types;        // as the server reports them
    std::vector<Oid> Tables;       // base table of each column, 0 when none
    std::vector<int> TableColumns;
    bool Matches(const PGresult* r) const noexcept;
};
// Reads a row description and looks base tables and user types up in the
// catalog (the connection must be free).
TPgDescription DescribeResult(TCore& core, const PGresult* description);

class TPgResult : public TResultStream {
public:
    ~TPgResult() override;
    const std::vector<TColumnInfo>& GetColumns() const override { return FDesc.Columns; }
    const std::vector<TStorageKind>& GetKinds() const override { return FDesc.Kinds; }
    bool Fetch(TRowBuffer& row) override;
    Int64 GetRecordsAffected() const override { return FAffected; }

    // Reads the rows still coming from the connection into memory.
    void BufferRest();
    // Drops the rest of the result (reading what the connection still sends).
    void Discard() noexcept;
    // The connection went away: nothing more can be read.
    void Abandon() noexcept;

private:
    friend class TPgStatement;
    void Reset() noexcept;
    void EndStream() noexcept;
    void Decode(TRowBuffer& row);

    TCore* FCore = nullptr;
    String FStatement;                   // for messages
    TPgDescription FDesc;
    std::deque<TPgResultPtr> FPending;   // results read but not handed out (each with one or more rows)
    TPgResultPtr FCurrent;               // the result the last row came from
    int FRowIndex = 0;                   // the next row of FCurrent
    TPgResultPtr FError;                 // a failure met while buffering, raised in order
    bool FLive = false;                  // rows still come from the connection
    bool FAbandoned = false;
    Int64 FAffected = -1;
};

class TPgStatement : public TStatement {
public:
    explicit TPgStatement(std::shared_ptr<TCore> core);
    ~TPgStatement() override;

    void Prepare(const String& text) override;
    void PrepareProcedure(const String& name) override;
    const String& GetText() const override { return FText; }
    std::vector<TParamInfo> DescribeParameters() override;
    void SetParameter(int ordinal, const Variant& value, Velora::DataTypeEnum type) override;
    void SetParameter(std::string_view name, const Variant& value, Velora::DataTypeEnum type) override;
    void ClearParameters() override;
    Variant GetParameterValue(int ordinal) const override;
    TResultStream& Execute() override;
    TResultStream* NextResult() override;
    void Close() override;

    // The session is closing.
    void Detach() noexcept;

private:
    struct TPart {
        TPgStatementText Text;
        bool Described = false;
        TPgDescription Desc;
        std::vector<Oid> ParamTypes;  // per local parameter, as the server inferred them
    };
    struct TParam {
        String Name;
        Variant Value;
        Velora::DataTypeEnum Type = Velora::adEmpty;
        bool Bound = false;
        Variant Output;
        TParamInfo Info;
        Oid ServerType = 0;    // a routine's argument type
        Oid InferredType = 0;  // the type the server infers for a text's parameter
        char Mode = 'i';     // i, o, b (in/out), v (variadic), r (return value)
        bool HasDefault = false;
    };
    enum TRoutineShape { rsNone, rsScalar, rsOutputs, rsRows, rsVoid };
    struct TRoutine {
        TRoutineShape Shape = rsNone;
        bool IsProcedure = false;
        String QualifiedName;  // quoted schema.name
        String DisplayName;
    };

    void CheckAttached() const;
    void Reset() noexcept;
    void DescribePart(TPart& part, const std::vector<TPgParamValue>& values);
    std::vector<TPgParamValue> BindPart(const TPart& part);
    TResultStream& RunPart(TPart& part, const std::vector<TPgParamValue>& values);
    TResultStream& RunRoutine();
    int FindParam(std::string_view name) const;
    String ParamLabel(int ordinal) const;

    std::shared_ptr<TCore> FCore;
    bool FAttached = true;
    String FText;
    std::vector<TPart> FParts;
    std::vector<TParam> FParams;
    std::size_t FCurrent;
    TRoutine FRoutine;
    TPart FCall;  // the routine's call, rebuilt when the arguments given change
    TPgResult FResult;
};

}  // namespace DataEngine::Postgres
