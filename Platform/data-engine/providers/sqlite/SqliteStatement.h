// A command text over SQLite: its SQL statements compiled once and reused,
// parameters bound natively, one result per SQL statement.
#pragma once

#include "Platform/data-engine/providers/sqlite/SqliteCommon.h"

namespace DataEngine::Sqlite {

class TSqliteResult : public TResultStream {
public:
    const std::vector<TColumnInfo>& GetColumns() const override { return FColumns; }
    const std::vector<TStorageKind>& GetKinds() const override { return FKinds; }
    bool Fetch(TRowBuffer& row) override;
    Int64 GetRecordsAffected() const override { return FAffected; }

private:
    friend class TSqliteStatement;
    void Clear() noexcept {
        FStmt = nullptr;
        FSql = nullptr;
        FOnRow = false;
        FDone = true;
        FAffected = -1;
        FColumns.clear();
        FKinds.clear();
    }
    TCore* FCore = nullptr;
    sqlite3_stmt* FStmt = nullptr;
    const String* FSql = nullptr;
    std::vector<TColumnInfo> FColumns;
    std::vector<TStorageKind> FKinds;
    bool FOnRow = false;  // positioned on a row not yet handed out
    bool FDone = true;
    bool FDetached = false;  // the session closed under this result
    Int64 FAffected = -1;
};

class TSqliteStatement : public TStatement {
public:
    explicit TSqliteStatement(std::shared_ptr<TCore> core);
    ~TSqliteStatement() override;

    void Prepare(const String& text) override;
    const String& GetText() const override { return FText; }
    std::vector<TParamInfo> DescribeParameters() override;
    void SetParameter(int ordinal, const Variant& value, Velora::DataTypeEnum type) override;
    void SetParameter(std::string_view name, const Variant& value, Velora::DataTypeEnum type) override;
    void SetParameterCell(int ordinal, const TColumnInfo& column, TStorageKind kind, const TCell& cell,
                          Velora::DataTypeEnum type) override;
    void ClearParameters() override;
    TResultStream& Execute() override;
    TResultStream* NextResult() override;
    void Close() override;

    // The session is closing: give up the compiled statements.
    void Detach() noexcept;

private:
    struct TPart {
        sqlite3_stmt* Stmt = nullptr;
        String Sql;
        std::vector<int> ParamOrdinals;  // SQLite's parameter index - 1 -> our ordinal
        std::vector<TColumnInfo> Columns;  // as declared; adEmpty where the first value decides
        bool Described = false;
    };
    struct TParam {
        String Name;
        Variant Value;  // as given (Empty when bound from a cell)
        Velora::DataTypeEnum Type = Velora::adEmpty;
        bool Bound = false;
        // Ready: the value is converted for binding: Kind and Cell, text and
        // bytes in Data (Cell.Data is not used). Otherwise Value is converted
        // when bound, which reports its error with the statement.
        bool Ready = false;
        bool FromCell = false;
        TStorageKind Kind = skInt64;
        Velora::DataTypeEnum BindType = Velora::adEmpty;  // the type Kind stands for
        TCell Cell;
        String Data;
    };

    void CheckAttached() const;
    void FinalizeAll() noexcept;
    bool PrepareNextPart();
    void DescribeColumns(TPart& part);
    void BindPart(TPart& part);
    void CheckOrdinal(int ordinal) const;
    TResultStream& RunPart(std::size_t index);
    int FindParam(std::string_view name) const;
    String ParamName(int ordinal) const;   // the name as written, or "#n"
    String ParamLabel(int ordinal) const;  // the same, quoted for messages

    std::shared_ptr<TCore> FCore;
    bool FAttached = true;
    String FText;
    std::vector<TPart> FParts;
    std::size_t FTail = 0;  // start of the text not compiled yet
    std::vector<TParam> FParams;
    String FScratch;  // a conversion's text before it replaces a parameter's
    std::size_t FCurrent = static_cast<std::size_t>(-1);
    TSqliteResult FResult;
};

}  // namespace DataEngine::Sqlite
