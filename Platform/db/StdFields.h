// The field classes, one per family of field types. Native buffer formats
// and data sizes: see Field.h.
#pragma once

#include "Platform/db/Field.h"
#include "Platform/rtl/Interfaces.h"

namespace Db {

// ---- Text ------------------------------------------------------------------------------

class TStringField : public TField {
    VCL_CLASS(TStringField, TField)
public:
    explicit TStringField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return GetSize() + 1; }
    bool GetAsBoolean() override;
    void SetAsBoolean(bool Value) override;
    TDateTime GetAsDateTime() override;
    void SetAsDateTime(TDateTime Value) override;
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    Currency GetAsCurrency() override;
    void SetAsCurrency(Currency Value) override;
    String GetAsString() override;
    // Text longer than Size bytes is cut at the last whole character that fits.
    void SetAsString(const String& Value) override;
    WideString GetAsWideString() override;
    void SetAsWideString(const WideString& Value) override;
    Variant GetAsVariant() override;
    // Trailing blanks are dropped when reading a fixed-length field.
    bool GetFixedChar() const noexcept { return FFixedChar; }
    void SetFixedChar(bool Value) noexcept { FFixedChar = Value; }

protected:
    void SetVarValue(const Variant& Value) override;
    void CheckTypeSize(int Value) const override;
    int GetDefaultWidth() const override { return GetSize(); }
    // The stored text; false when the field is null.
    bool GetValue(String& Value);

private:
    bool FFixedChar = false;
};

class TGuidField : public TStringField {
    VCL_CLASS(TGuidField, TStringField)
public:
    explicit TGuidField(Vcl::TComponent* AOwner);
    Rtl::GUID GetAsGuid();
    void SetAsGuid(const Rtl::GUID& Value);
    // Only a GUID in its 38-character form is accepted.
    void SetAsString(const String& Value) override;

protected:
    void CheckTypeSize(int Value) const override;
};

class TWideStringField : public TField {
    VCL_CLASS(TWideStringField, TField)
public:
    explicit TWideStringField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return (GetSize() + 1) * 2; }
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    WideString GetAsWideString() override;
    // Text longer than Size units is cut, never inside a surrogate pair.
    void SetAsWideString(const WideString& Value) override;
    Variant GetAsVariant() override;

protected:
    void SetVarValue(const Variant& Value) override;
    void CheckTypeSize(int Value) const override;
    int GetDefaultWidth() const override { return GetSize(); }
};

// ---- Numbers ---------------------------------------------------------------------------

class TNumericField : public TField {
    VCL_CLASS(TNumericField, TField)
public:
    explicit TNumericField(Vcl::TComponent* AOwner);
};

// ftInteger, and the base of the other integer fields. MinValue and MaxValue
// both 0 mean the full range of the type.
class TIntegerField : public TNumericField {
    VCL_CLASS(TIntegerField, TNumericField)
public:
    explicit TIntegerField(Vcl::TComponent* AOwner);
    int GetDataSize() const override;
    bool GetAsBoolean() override;
    void SetAsBoolean(bool Value) override;
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    Currency GetAsCurrency() override;
    void SetAsCurrency(Currency Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;
    int GetMinValue() const noexcept { return FMinValue; }
    void SetMinValue(int Value) noexcept { FMinValue = Value; }
    int GetMaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(int Value) noexcept { FMaxValue = Value; }

protected:
    void SetVarValue(const Variant& Value) override;
    bool GetValue(Int64& Value);
    void SetRange(Int64 MinRange, Int64 MaxRange) noexcept { FMinRange = MinRange; FMaxRange = MaxRange; }
    void CheckRange(Int64 Value) const;

private:
    Int64 FMinRange;
    Int64 FMaxRange;
    int FMinValue = 0;
    int FMaxValue = 0;
};

class TSmallintField : public TIntegerField {
    VCL_CLASS(TSmallintField, TIntegerField)
public:
    explicit TSmallintField(Vcl::TComponent* AOwner);
};

class TWordField : public TIntegerField {
    VCL_CLASS(TWordField, TIntegerField)
public:
    explicit TWordField(Vcl::TComponent* AOwner);
};

class TAutoIncField : public TIntegerField {
    VCL_CLASS(TAutoIncField, TIntegerField)
public:
    explicit TAutoIncField(Vcl::TComponent* AOwner);
};

class TLargeintField : public TNumericField {
    VCL_CLASS(TLargeintField, TNumericField)
public:
    explicit TLargeintField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return 8; }
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;
    Int64 GetMinValue() const noexcept { return FMinValue; }
    void SetMinValue(Int64 Value) noexcept { FMinValue = Value; }
    Int64 GetMaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(Int64 Value) noexcept { FMaxValue = Value; }

protected:
    void SetVarValue(const Variant& Value) override;

private:
    Int64 FMinValue = 0;
    Int64 FMaxValue = 0;
};

// ftFloat; with Currency set the display text is formatted as money.
class TFloatField : public TNumericField {
    VCL_CLASS(TFloatField, TNumericField)
public:
    explicit TFloatField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return 8; }
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    Currency GetAsCurrency() override;
    void SetAsCurrency(Currency Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;
    bool GetCurrency() const noexcept { return FCurrency; }
    void SetCurrency(bool Value) noexcept { FCurrency = Value; }
    int GetPrecision() const noexcept { return FPrecision; }
    void SetPrecision(int Value) noexcept;
    double GetMinValue() const noexcept { return FMinValue; }
    void SetMinValue(double Value) noexcept { FMinValue = Value; }
    double GetMaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(double Value) noexcept { FMaxValue = Value; }

protected:
    void SetVarValue(const Variant& Value) override;
    void ValueToText(String& Text, bool DisplayText) override;

private:
    double FMinValue = 0;
    double FMaxValue = 0;
    int FPrecision = 15;
    bool FCurrency = false;
};

class TCurrencyField : public TFloatField {
    VCL_CLASS(TCurrencyField, TFloatField)
public:
    explicit TCurrencyField(Vcl::TComponent* AOwner);
};

// ftBCD: stored as TBcd, worked with as Currency. Size is the number of
// decimal places (0..4), Precision the number of digits.
class TBCDField : public TNumericField {
    VCL_CLASS(TBCDField, TNumericField)
public:
    explicit TBCDField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return static_cast<int>(sizeof(TBcd)); }
    Currency GetAsCurrency() override;
    void SetAsCurrency(Currency Value) override;
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    TBcd GetAsBCD() override;
    void SetAsBCD(const TBcd& Value) override;
    Variant GetAsVariant() override;
    bool GetCurrency() const noexcept { return FCurrency; }
    void SetCurrency(bool Value) noexcept { FCurrency = Value; }
    int GetPrecision() const noexcept { return FPrecision; }
    void SetPrecision(int Value);
    Currency GetMinValue() const noexcept { return FMinValue; }
    void SetMinValue(Currency Value) noexcept { FMinValue = Value; }
    Currency GetMaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(Currency Value) noexcept { FMaxValue = Value; }

protected:
    void SetVarValue(const Variant& Value) override;
    void CheckTypeSize(int Value) const override;
    void ValueToText(String& Text, bool DisplayText) override;

private:
    Currency FMinValue;
    Currency FMaxValue;
    int FPrecision = 0;
    bool FCurrency = false;
};

// ---- Booleans ------------------------------------------------------------------------------

class TBooleanField : public TField {
    VCL_CLASS(TBooleanField, TField)
public:
    explicit TBooleanField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return 2; }
    bool GetAsBoolean() override;
    void SetAsBoolean(bool Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    String GetAsString() override;
    // Accepts a leading part of either display value, case-insensitively.
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;
    // "True;False" by default: the texts for true and for false.
    const String& GetDisplayValues() const noexcept { return FDisplayValues; }
    void SetDisplayValues(const String& Value);

protected:
    void SetVarValue(const Variant& Value) override;

private:
    String FDisplayValues;
    String FTextValues[2];  // [0] false, [1] true
};

// ---- Dates and times -------------------------------------------------------------------------

class TDateTimeField : public TField {
    VCL_CLASS(TDateTimeField, TField)
public:
    explicit TDateTimeField(Vcl::TComponent* AOwner);
    int GetDataSize() const override;
    TDateTime GetAsDateTime() override;
    void SetAsDateTime(TDateTime Value) override;
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;
    // A FormatDateTime pattern for the display text; empty: the default format.
    const String& GetDisplayFormat() const noexcept { return FDisplayFormat; }
    void SetDisplayFormat(const String& Value);

protected:
    void SetVarValue(const Variant& Value) override;
    void ValueToText(String& Text, bool DisplayText) override;
    int GetDefaultWidth() const override { return 19; }

private:
    String FDisplayFormat;
};

class TDateField : public TDateTimeField {
    VCL_CLASS(TDateField, TDateTimeField)
public:
    explicit TDateField(Vcl::TComponent* AOwner);
};

class TTimeField : public TDateTimeField {
    VCL_CLASS(TTimeField, TDateTimeField)
public:
    explicit TTimeField(Vcl::TComponent* AOwner);
};

// ---- Binary ------------------------------------------------------------------------------------

// The value is a byte array variant (lower bound 0); as a string, the raw bytes.
class TBinaryField : public TField {
    VCL_CLASS(TBinaryField, TField)
public:
    explicit TBinaryField(Vcl::TComponent* AOwner);
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    Variant GetAsVariant() override;

protected:
    void SetVarValue(const Variant& Value) override;
    void CheckTypeSize(int Value) const override;
    // The stored bytes; false when null.
    virtual bool GetBytes(std::vector<Byte>& Bytes) = 0;
    virtual void SetBytes(const Byte* Data, std::size_t Size) = 0;
};

class TBytesField : public TBinaryField {
    VCL_CLASS(TBytesField, TBinaryField)
public:
    explicit TBytesField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return GetSize(); }

protected:
    bool GetBytes(std::vector<Byte>& Bytes) override;
    // Shorter values are padded with zero bytes; longer ones raise.
    void SetBytes(const Byte* Data, std::size_t Size) override;
};

class TVarBytesField : public TBinaryField {
    VCL_CLASS(TVarBytesField, TBinaryField)
public:
    explicit TVarBytesField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return GetSize() + 2; }

protected:
    bool GetBytes(std::vector<Byte>& Bytes) override;
    void SetBytes(const Byte* Data, std::size_t Size) override;
};

// ---- Blobs -----------------------------------------------------------------------------------

class TBlobField : public TField {
    VCL_CLASS(TBlobField, TField)
public:
    explicit TBlobField(Vcl::TComponent* AOwner);
    bool IsBlob() const override { return true; }
    bool GetIsNull() override;
    void Clear() override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    WideString GetAsWideString() override;
    void SetAsWideString(const WideString& Value) override;
    Variant GetAsVariant() override;
    // The length of the contents in bytes.
    int GetBlobSize();
    TFieldType GetBlobType() const noexcept { return GetDataType(); }
    void SetBlobType(TFieldType Value);
    // Set when the contents were written since the record was read; cleared
    // when the record is posted or cancelled.
    bool GetModified() const noexcept { return FModified; }
    void SetModified(bool Value);
    void LoadFromStream(Rtl::TStream* Stream);
    void SaveToStream(Rtl::TStream* Stream);
    void LoadFromFile(const String& FileName);
    void SaveToFile(const String& FileName);

protected:
    void SetVarValue(const Variant& Value) override;
    void FreeBuffers() override;
    void CheckTypeSize(int Value) const override;
    void ValueToText(String& Text, bool DisplayText) override;

private:
    bool FModified = false;
};

class TMemoField : public TBlobField {
    VCL_CLASS(TMemoField, TBlobField)
public:
    explicit TMemoField(Vcl::TComponent* AOwner);

protected:
    void ValueToText(String& Text, bool DisplayText) override;
};

class TGraphicField : public TBlobField {
    VCL_CLASS(TGraphicField, TBlobField)
public:
    explicit TGraphicField(Vcl::TComponent* AOwner);
};

// ---- Variants and interfaces -----------------------------------------------------------------

class TVariantField : public TField {
    VCL_CLASS(TVariantField, TField)
public:
    explicit TVariantField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return static_cast<int>(sizeof(Variant)); }
    bool GetAsBoolean() override;
    void SetAsBoolean(bool Value) override;
    Currency GetAsCurrency() override;
    void SetAsCurrency(Currency Value) override;
    TDateTime GetAsDateTime() override;
    void SetAsDateTime(TDateTime Value) override;
    double GetAsFloat() override;
    void SetAsFloat(double Value) override;
    int GetAsInteger() override;
    void SetAsInteger(int Value) override;
    Int64 GetAsLargeInt() override;
    void SetAsLargeInt(Int64 Value) override;
    String GetAsString() override;
    void SetAsString(const String& Value) override;
    WideString GetAsWideString() override;
    void SetAsWideString(const WideString& Value) override;
    Variant GetAsVariant() override;

protected:
    void SetVarValue(const Variant& Value) override;
};

class TInterfaceField : public TField {
    VCL_CLASS(TInterfaceField, TField)
public:
    explicit TInterfaceField(Vcl::TComponent* AOwner);
    int GetDataSize() const override { return static_cast<int>(sizeof(Rtl::IUnknown*)); }
    // A borrowed pointer, valid while the record keeps it; null when null.
    Rtl::IUnknown* GetAsInterface();
    void SetAsInterface(Rtl::IUnknown* Value);
    Variant GetAsVariant() override;

protected:
    void SetVarValue(const Variant& Value) override;
};

class TIDispatchField : public TInterfaceField {
    VCL_CLASS(TIDispatchField, TInterfaceField)
public:
    explicit TIDispatchField(Vcl::TComponent* AOwner);
    Variant GetAsVariant() override;
};

// Makes the field classes and TDataSource known to form files by name. Runs
// when the library is loaded; calling it again does no harm.
void RegisterDbClasses();

}  // namespace Db
