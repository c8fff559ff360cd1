// Field-type names, EDatabaseError raising and the field-list splitter.

#include "Platform/db/DBTypes.h"

#include "Platform/vcl/Components.h"

namespace Db {

namespace {
struct TypeNames {
    const char* Name;
    const char* Ident;
};
constexpr TypeNames kTypeNames[FieldTypeCount] = {
    {"Unknown", "ftUnknown"},       {"String", "ftString"},         {"SmallInt", "ftSmallint"},
    {"Integer", "ftInteger"},       {"Word", "ftWord"},             {"Boolean", "ftBoolean"},
    {"Float", "ftFloat"},           {"Currency", "ftCurrency"},     {"BCD", "ftBCD"},
    {"Date", "ftDate"},             {"Time", "ftTime"},             {"DateTime", "ftDateTime"},
    {"Bytes", "ftBytes"},           {"VarBytes", "ftVarBytes"},     {"AutoInc", "ftAutoInc"},
    {"Blob", "ftBlob"},             {"Memo", "ftMemo"},             {"Graphic", "ftGraphic"},
    {"FmtMemo", "ftFmtMemo"},       {"ParadoxOle", "ftParadoxOle"}, {"DBaseOle", "ftDBaseOle"},
    {"TypedBinary", "ftTypedBinary"}, {"Cursor", "ftCursor"},       {"FixedChar", "ftFixedChar"},
    {"WideString", "ftWideString"}, {"LargeInt", "ftLargeint"},     {"ADT", "ftADT"},
    {"Array", "ftArray"},           {"Reference", "ftReference"},   {"DataSet", "ftDataSet"},
    {"BLOB", "ftOraBlob"},          {"CLOB", "ftOraClob"},          {"Variant", "ftVariant"},
    {"Interface", "ftInterface"},   {"IDispatch", "ftIDispatch"},   {"Guid", "ftGuid"},
    {"TimeStamp", "ftTimeStamp"},   {"FMTBcd", "ftFMTBcd"},
};
}  // namespace

const char* FieldTypeName(TFieldType t) noexcept {
    return static_cast<int>(t) < FieldTypeCount ? kTypeNames[t].Name : "Unknown";
}

const char* FieldTypeIdent(TFieldType t) noexcept {
    return static_cast<int>(t) < FieldTypeCount ? kTypeNames[t].Ident : "ftUnknown";
}

bool IsBlobType(TFieldType t) noexcept {
    switch (t) {
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob:
        case ftOraClob: return true;
        default: return false;
    }
}

void DatabaseError(const String& Message, const Vcl::TComponent* Component) {
    if (Component && !Component->GetName().empty())
        throw EDatabaseError(Component->GetName() + ": " + Message);
    throw EDatabaseError(Message);
}

void DatabaseErrorFmt(const char* Message, std::initializer_list<Rtl::TVarRec> Args,
                      const Vcl::TComponent* Component) {
    DatabaseError(Rtl::Format(Message, Args), Component);
}

String ExtractFieldName(const String& Fields, int& Pos) {
    int n = static_cast<int>(Fields.size());
    int i = Pos < 1 ? 1 : (Pos > n + 1 ? n + 1 : Pos);
    int start = i;
    while (i <= n && Fields[i - 1] != ';') ++i;
    String result = Rtl::Trim(std::string_view(Fields).substr(start - 1, i - start));
    if (i <= n && Fields[i - 1] == ';') ++i;
    Pos = i;
    return result;
}

}  // namespace Db
