// Types shared by the whole dataset framework: the field-type, state, event
// and option enumerations with the framework's ordinals, record buffers,
// bookmarks, EDatabaseError and the field-list helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Platform/rtl/Set.h"
#include "Platform/rtl/SysUtils.h"
#include "Platform/rtl/Variant.h"
#include "Platform/vcl/TypInfo.h"

namespace Vcl {
class TComponent;
}

namespace Db {

using Rtl::Byte;
using Rtl::Int64;
using Rtl::String;
using Rtl::Variant;
using Rtl::WideString;
using Rtl::Word;
using Rtl::TSet;

class TDataSet;
class TField;
class TFields;
class TFieldDef;
class TFieldDefs;
class TDataSource;
class TDataLink;

// ---- Field types -----------------------------------------------------------------

enum TFieldType : Byte {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
    ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
    ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
    ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
    ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd
};
inline constexpr int FieldTypeCount = ftFMTBcd + 1;
VCL_ENUM(TFieldType, ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
         ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo,
         ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
         ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid,
         ftTimeStamp, ftFMTBcd)

// The framework's type names ("String", "Integer", ...), used in messages.
const char* FieldTypeName(TFieldType t) noexcept;
// The identifiers ("ftString", ...), used by form files and editors.
const char* FieldTypeIdent(TFieldType t) noexcept;
// Blob kinds: ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle,
// ftTypedBinary, ftOraBlob, ftOraClob.
bool IsBlobType(TFieldType t) noexcept;

VCL_DECLARE_ENUM(TParamType, Byte, ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult)
VCL_DECLARE_ENUM(TUpdateKind, Byte, ukModify, ukInsert, ukDelete)
VCL_DECLARE_ENUM(TUpdateAction, Byte, uaFail, uaAbort, uaSkip, uaRetry, uaApplied)
VCL_DECLARE_ENUM(TDataAction, Byte, daFail, daAbort, daRetry)

VCL_DECLARE_ENUM(TFieldKind, Byte, fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate)

VCL_DECLARE_ENUM(TDataSetState, Byte, dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter,
                 dsNewValue, dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening)
inline bool IsEditMode(TDataSetState s) noexcept { return s == dsEdit || s == dsInsert || s == dsSetKey; }

enum TDataEvent : Byte {
    deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
    deUpdateRecord, deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange,
    deFocusControl, deParentScroll, deConnectChange, deReconcileError, deDisabledStateChange
};

enum TGetMode : Byte { gmCurrent, gmNext, gmPrior };
enum TGetResult : Byte { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : Byte { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeItem : Byte { rmExact, rmCenter };
using TResyncMode = TSet<TResyncModeItem>;

VCL_DECLARE_ENUM(TLocateOption, Byte, loCaseInsensitive, loPartialKey)
using TLocateOptions = TSet<TLocateOption>;
VCL_SET(TLocateOptions)

VCL_DECLARE_ENUM(TFilterOption, Byte, foCaseInsensitive, foNoPartialCompare)
using TFilterOptions = TSet<TFilterOption>;
VCL_SET(TFilterOptions)

enum TBlobStreamMode : Byte { bmRead, bmWrite, bmReadWrite };

VCL_DECLARE_ENUM(TFieldAttribute, Byte, faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed)
using TFieldAttributes = TSet<TFieldAttribute>;
VCL_SET(TFieldAttributes)

VCL_DECLARE_ENUM(TAlignment, Byte, taLeftJustify, taRightJustify, taCenter)

// ---- Record buffers and bookmarks --------------------------------------------------

// A record buffer is raw memory that the dataset descendant allocates
// (AllocRecordBuffer) and lays out; the framework only moves the pointers.
using TRecordBuffer = Byte*;
// A bookmark handed out by GetBookmark: BookmarkSize bytes, freed by FreeBookmark.
using TBookmark = Byte*;
// The Bookmark property: the same bytes as a string; empty when unavailable.
using TBookmarkStr = std::string;

// ---- Errors ----------------------------------------------------------------------

using Rtl::Exception;
RTL_DECLARE_EXCEPTION(EDatabaseError, Exception)

// Raises EDatabaseError with Message, prefixed by "<Name>: " when Component
// has a name.
[[noreturn]] void DatabaseError(const String& Message, const Vcl::TComponent* Component = nullptr);
[[noreturn]] void DatabaseErrorFmt(const char* Message, std::initializer_list<Rtl::TVarRec> Args,
                                   const Vcl::TComponent* Component = nullptr);

// ---- Field lists -----------------------------------------------------------------

// Takes the next name from a ';'-separated list starting at the 1-based Pos,
// trimmed of blanks and control characters, and moves Pos past the separator.
String ExtractFieldName(const String& Fields, int& Pos);

// ---- Events ----------------------------------------------------------------------

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* DataSet, EDatabaseError& E, TDataAction& Action)>;
using TFilterRecordEvent = std::function<void(TDataSet* DataSet, bool& Accept)>;
using TFieldNotifyEvent = std::function<void(TField* Sender)>;
using TFieldGetTextEvent = std::function<void(TField* Sender, String& Text, bool DisplayText)>;
using TFieldSetTextEvent = std::function<void(TField* Sender, const String& Text)>;
using TDataChangeEvent = std::function<void(Rtl::TObject* Sender, TField* Field)>;

}  // namespace Db
