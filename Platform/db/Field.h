// TField, the base of every field, and TFields, a dataset's field list.
//
// A field reads and writes its value through its dataset (GetData / SetData
// call the dataset's GetFieldData / SetFieldData). The native formats a
// descendant dataset stores, and DataSize() of each field class:
//
//   ftString, ftFixedChar  Size bytes of UTF-8 text and a zero byte (Size + 1)
//   ftGuid                 38 characters "{xxxxxxxx-...}" and a zero byte (39)
//   ftWideString           Size UTF-16 units and a zero unit ((Size + 1) * 2)
//   ftSmallint             16-bit signed (2)       ftWord      16-bit unsigned (2)
//   ftInteger, ftAutoInc   32-bit signed (4)       ftLargeint  64-bit signed (8)
//   ftBoolean              16-bit, 0 false, anything else true (2)
//   ftFloat, ftCurrency    IEEE double (8)
//   ftBCD                  Rtl::TBcd (34)
//   ftDate                 32-bit day number: days since 1 January 0001 plus one (4)
//   ftTime                 32-bit milliseconds since midnight (4)
//   ftDateTime             IEEE double: time-stamp milliseconds (8)
//   ftBytes                Size bytes (Size)
//   ftVarBytes             16-bit length, then Size bytes (Size + 2)
//   ftVariant              a constructed Rtl::Variant object (16): the
//                          descendant copies it by assignment, never bytewise
//   ftInterface, ftIDispatch  an IUnknown* (pointer size); reading hands out a
//                          borrowed pointer, writing asks the descendant to keep
//                          its own reference
//   blob kinds             no buffer (0): contents travel through CreateBlobStream
//
// The fields themselves work with TDateTime for the three date and time types
// and with Currency for ftBCD; TDataSet::DataConvert translates.
#pragma once

#include <vector>

#include "Platform/db/DBTypes.h"
#include "Platform/rtl/Classes.h"
#include "Platform/rtl/Currency.h"
#include "Platform/rtl/DateTime.h"
#include "Platform/vcl/Components.h"

namespace Db {

using Rtl::Currency;
using Rtl::TDateTime;
using Rtl::TBcd;

class TField : public Vcl::TComponent {
    VCL_CLASS(TField, Vcl::TComponent)
    friend class TDataSet;
    friend class TFields;
    friend class TFieldDef;

public:
    explicit TField(Vcl::TComponent* AOwner);
    ~TField() override;

    // ---- Value access --------------------------------------------------------------------
    // Conversions a descendant does not support raise "Cannot access field '%s'
    // as type %s".
    virtual bool GetAsBoolean();
    virtual void SetAsBoolean(bool Value);
    virtual Currency GetAsCurrency();
    virtual void SetAsCurrency(Currency Value);
    virtual TDateTime GetAsDateTime();
    virtual void SetAsDateTime(TDateTime Value);
    virtual double GetAsFloat();
    virtual void SetAsFloat(double Value);
    virtual int GetAsInteger();
    virtual void SetAsInteger(int Value);
    virtual Int64 GetAsLargeInt();
    virtual void SetAsLargeInt(Int64 Value);
    virtual String GetAsString();
    virtual void SetAsString(const String& Value);
    virtual WideString GetAsWideString();
    virtual void SetAsWideString(const WideString& Value);
    virtual TBcd GetAsBCD();
    virtual void SetAsBCD(const TBcd& Value);
    // Null when the field has no value.
    virtual Variant GetAsVariant();
    // Null or Unassigned clears the field.
    void SetAsVariant(const Variant& Value);
    Variant GetValue() { return GetAsVariant(); }
    void SetValue(const Variant& Value) { SetAsVariant(Value); }
    // The value before the current edit, as written now by others, and as edited.
    Variant GetOldValue();
    Variant GetCurValue();
    Variant GetNewValue();
    void SetNewValue(const Variant& Value);
    // Through OnGetText / OnSetText when assigned.
    String GetText();
    void SetText(const String& Value);
    String GetDisplayText();
    virtual bool GetIsNull();
    virtual void Clear() { SetData(nullptr); }
    void AssignValue(const Variant& Value) { SetAsVariant(Value); }
    void FocusControl();

    // Raw access through the dataset: native format by default. Buffer null asks
    // only whether there is a value, or (SetData) clears it.
    bool GetData(void* Buffer, bool NativeFormat = true);
    void SetData(const void* Buffer, bool NativeFormat = true);
    // Runs OnValidate for the value in Buffer (null: the field is being cleared);
    // while it runs, reading the field gives that new value.
    virtual void Validate(const void* Buffer);
    bool GetValidating() const noexcept { return FValidating; }

    // ---- Description --------------------------------------------------------------------
    TDataSet* GetDataSet() const noexcept { return FDataSet; }
    void SetDataSet(TDataSet* Value);
    const String& GetFieldName() const noexcept { return FFieldName; }
    void SetFieldName(const String& Value);
    TFieldType GetDataType() const noexcept { return FDataType; }
    virtual int GetDataSize() const { return 0; }
    // Bytes of one value in the native form (DataSize) or in the form the
    // field works with (TDateTime for dates and times, Currency for BCD).
    int GetFormSize(bool NativeFormat) const;
    int GetSize() const noexcept { return FSize; }
    void SetSize(int Value);
    int GetFieldNo() const noexcept { return FFieldNo; }
    int GetOffset() const noexcept { return FOffset; }
    TFieldKind GetFieldKind() const noexcept { return FFieldKind; }
    void SetFieldKind(TFieldKind Value);
    bool GetCalculated() const noexcept { return FFieldKind == fkCalculated; }
    bool GetLookup() const noexcept { return FFieldKind == fkLookup; }
    virtual bool IsBlob() const { return false; }
    int GetIndex() const;
    void SetIndex(int Value);
    String GetDisplayLabel() const { return GetDisplayName(); }
    void SetDisplayLabel(const String& Value);
    String GetDisplayName() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
    bool IsDisplayLabelStored() const noexcept { return !FDisplayLabel.empty(); }
    int GetDisplayWidth() const;
    void SetDisplayWidth(int Value);
    bool IsDisplayWidthStored() const noexcept { return FDisplayWidth > 0; }
    TAlignment GetAlignment() const noexcept { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool GetRequired() const noexcept { return FRequired; }
    void SetRequired(bool Value) noexcept { FRequired = Value; }
    bool GetReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    bool GetVisible() const noexcept { return FVisible; }
    void SetVisible(bool Value);
    // True when the field can take a value now: not read-only, a data field of
    // an active dataset that can be modified.
    bool GetCanModify();
    const String& GetDefaultExpression() const noexcept { return FDefaultExpression; }
    void SetDefaultExpression(const String& Value) { FDefaultExpression = Value; }
    const String& GetOrigin() const noexcept { return FOrigin; }
    void SetOrigin(const String& Value) { FOrigin = Value; }

    // ---- Lookup fields ---------------------------------------------------------------------
    TDataSet* GetLookupDataSet() const noexcept { return FLookupDataSet; }
    void SetLookupDataSet(TDataSet* Value);
    const String& GetKeyFields() const noexcept { return FKeyFields; }
    void SetKeyFields(const String& Value);
    const String& GetLookupKeyFields() const noexcept { return FLookupKeyFields; }
    void SetLookupKeyFields(const String& Value);
    const String& GetLookupResultField() const noexcept { return FLookupResultField; }
    void SetLookupResultField(const String& Value);

    // ---- Events --------------------------------------------------------------------------------
    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;
    TFieldGetTextEvent OnGetText;
    TFieldSetTextEvent OnSetText;

    // Runs OnChange; the dataset calls it after the value changed.
    virtual void Change();

protected:
    virtual void SetVarValue(const Variant& Value);
    // The text shown (DisplayText) or edited.
    virtual void ValueToText(String& Text, bool DisplayText);
    virtual void TextToValue(const String& Value) { SetAsString(Value); }
    virtual int GetDefaultWidth() const { return 10; }
    virtual void CheckTypeSize(int Value) const;
    virtual void FreeBuffers() {}
    virtual void Bind(bool Binding);
    void SetDataType(TFieldType Value) noexcept { FDataType = Value; }
    void SetSizeInternal(int Value) noexcept { FSize = Value; }
    [[noreturn]] void AccessError(const char* TypeName) const;
    [[noreturn]] void RangeError(const String& Value, const String& Min, const String& Max) const;
    // Raises when the field may not be written now.
    void CheckReadOnly() const;
    void Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) override;
    void PropertyChanged(bool LayoutAffected);
    void CalcLookupValue();
    void ValidateLookupInfo(bool All);
    void CheckInactive();

public:
    // Form files: a persistent field is written inside its dataset.
    bool HasParent() const override { return true; }
    Vcl::TComponent* GetParentComponent() const override;
    void SetParentComponent(Vcl::TComponent* Value) override;

protected:
    void Loaded() override;

private:
    TDataSet* FDataSet = nullptr;
    // Read from a form file before its name: joins the dataset once named.
    TDataSet* FPendingDataSet = nullptr;
    TDataSet* FLookupDataSet = nullptr;
    String FFieldName;
    String FDisplayLabel;
    String FDefaultExpression;
    String FOrigin;
    String FKeyFields;
    String FLookupKeyFields;
    String FLookupResultField;
    const void* FValueBuffer = nullptr;
    int FSize = 0;
    int FFieldNo = 0;
    int FOffset = 0;
    int FDisplayWidth = 0;
    TFieldType FDataType = ftUnknown;
    TFieldKind FFieldKind = fkData;
    TAlignment FAlignment = taLeftJustify;
    bool FValueBufferNative = true;
    bool FValidating = false;
    bool FRequired = false;
    bool FReadOnly = false;
    bool FVisible = true;
};

// A dataset's fields in order. The list does not own the fields: they belong
// to their owner component (the dataset for default fields, usually a form
// for persistent ones).
class TFields {
    friend class TDataSet;
    friend class TField;

public:
    explicit TFields(TDataSet* DataSet) : FDataSet(DataSet) {}
    TFields(const TFields&) = delete;
    TFields& operator=(const TFields&) = delete;

    int Count() const noexcept { return static_cast<int>(FList.size()); }
    TField* operator[](int Index) const { return GetField(Index); }
    // EDatabaseError "Field index out of range".
    TField* GetField(int Index) const;
    TField* FindField(const String& FieldName) const;
    // EDatabaseError "Field '%s' not found".
    TField* FieldByName(const String& FieldName) const;
    TField* FieldByNumber(int FieldNo) const;
    int IndexOf(const TField* Field) const noexcept;
    // Raises unless every name of the ';'-separated list is a field.
    void CheckFieldNames(const String& FieldNames) const;
    void GetFieldNames(Rtl::TStrings* List) const;
    TDataSet* GetDataSet() const noexcept { return FDataSet; }
    auto begin() const noexcept { return FList.begin(); }
    auto end() const noexcept { return FList.end(); }

private:
    void Add(TField* Field);
    void Remove(TField* Field);
    // Frees every field; used for the default fields a dataset created.
    void Clear();
    void SetFieldIndex(TField* Field, int Value);
    void Changed();

    TDataSet* FDataSet;
    std::vector<TField*> FList;
};

}  // namespace Db
