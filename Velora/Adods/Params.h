// TParams and TParam: the named, ordered command parameters every ADO dataset
// owns, the scanner that turns ":name" markers of SQL text into "?" and
// parameters, value conversions, the native-buffer interface and the reader
// of the legacy binary "Data" property of stored forms.
//
// Shared values by name: one parameter exists per marker, so a name used
// twice in a statement gives two items. They share one value through the
// value owner (ParamRef): the first item of the collection with the same name
// (case-insensitively). DataType, ParamType, ParamAttributes, NumericScale,
// Precision, Size and the variant behind Value are read and written through
// the owner; IsNull, the typed getters (AsString, AsInteger, ...), the native
// buffer, Name and ValueBound use the item's own fields. Items(i) answers the
// value owner of the item at i. The cached owners are forgotten whenever the
// collection changes and whenever an item leaves it, so a cache never points
// at an item that is gone.
#pragma once

#include <cstddef>
#include <vector>

#include "Platform/db/DB.h"
#include "Platform/rtl/Classes.h"
#include "Platform/vcl/Classes.h"

namespace Velora {

using Db::TFieldType;
using Db::TParamType;
using Rtl::Byte;
using Rtl::Currency;
using Rtl::String;
using Rtl::TDateTime;
using Rtl::TPersistent;
using Rtl::TStream;
using Rtl::Variant;

VCL_DECLARE_ENUM(TParamAttribute, Byte, paSigned, paNullable, paLong)
using TParamAttributes = Rtl::TSet<TParamAttribute>;
VCL_SET(TParamAttributes)

class TParams;

class TParam : public Vcl::TCollectionItem {
    VCL_CLASS(TParam, Vcl::TCollectionItem)
    friend class TParams;

public:
    // A parameter of no collection: ptUnknown, ftUnknown, Unassigned, not bound, null.
    TParam() = default;
    // A new parameter at the end of Params (or of no collection when Params is
    // null) with the given direction.
    static TParam* Create(TParams* Params, TParamType ParamType = Db::ptUnknown);

    void Assign(TPersistent* Source) override;
    // Field of a dataset: its Value := this item's own value.
    void AssignTo(TPersistent* Dest) const override;
    void AssignParam(TParam* Source);
    void AssignField(Db::TField* Field);
    void AssignFieldValue(Db::TField* Field, const Variant& Value);
    // Compares own values, names (case-sensitively) and every property.
    bool IsEqual(TParam* Value);
    // The value owner (see the top of this file).
    TParam* ParamRef() const;

    void Clear();
    // S as a narrow string through SetAsVariant, without writing DataType first.
    void SetText(const String& S);
    void SetBlobData(const void* Buffer, std::size_t Size);
    // The whole stream from its start, as a byte string of type BlobType.
    void LoadFromStream(TStream* Stream, TFieldType BlobType);
    void LoadFromFile(const String& FileName, TFieldType BlobType);

    // The dataset of the collection's owner, or null.
    Db::TDataSet* GetDataSet() const;
    String GetDisplayName() const override;

    // ---- Native buffers ----
    // GetData writes GetDataSize() bytes in the native format of DataType.
    // SetData reads one native value; for text types Buffer must hold a NUL.
    // Types without a native form raise "Field '%s' is of an unknown type" or
    // "Field '%s' is of an unsupported type".
    int GetDataSize();
    void GetData(void* Buffer);
    void SetData(const void* Buffer);

    // ---- Value accessors ----
    bool IsNull() const { return GetIsNull(); }
    bool GetIsNull() const;
    bool GetAsBoolean() const;
    void SetAsBoolean(bool Value);
    double GetAsFloat() const;
    void SetAsFloat(double Value);
    Currency GetAsCurrency() const;
    void SetAsCurrency(Currency Value);
    Currency GetAsBCD() const;
    void SetAsBCD(Currency Value);
    int GetAsInteger() const;
    void SetAsInteger(int Value);
    int GetAsSmallInt() const { return GetAsInteger(); }
    void SetAsSmallInt(int Value);
    int GetAsWord() const { return GetAsInteger(); }
    void SetAsWord(int Value);
    String GetAsString() const;
    void SetAsString(const String& Value);
    String GetAsMemo() const;
    void SetAsMemo(const String& Value);
    String GetAsBlob() const { return GetAsString(); }
    void SetAsBlob(const String& Value);
    TDateTime GetAsDate() const { return GetAsDateTime(); }
    void SetAsDate(TDateTime Value);
    TDateTime GetAsTime() const { return GetAsDateTime(); }
    void SetAsTime(TDateTime Value);
    TDateTime GetAsDateTime() const;
    void SetAsDateTime(TDateTime Value);
    Variant GetAsVariant() const;
    void SetAsVariant(const Variant& Value);
    Variant GetValue() const { return GetAsVariant(); }
    void SetValue(const Variant& Value) { SetAsVariant(Value); }

    // ---- Published properties ----
    TFieldType GetDataType() const;
    void SetDataType(TFieldType Value);
    const String& GetName() const noexcept { return FName; }
    void SetName(const String& Value) { FName = Value; }
    TParamType GetParamType() const;
    void SetParamType(TParamType Value);
    TParamAttributes GetParamAttributes() const;
    void SetParamAttributes(TParamAttributes Value);
    Byte GetNumericScale() const;
    void SetNumericScale(Byte Value);
    Byte GetPrecision() const;
    void SetPrecision(Byte Value);
    int GetSize() const;
    void SetSize(int Value);
    bool GetBound() const noexcept { return FBound; }
    void SetBound(bool Value) noexcept { FBound = Value; }
    // Value is written to form files only once one was assigned.
    bool IsParamStored() const noexcept { return FBound; }

private:
    TParams* Params() const;
    // Reads one native value from Size bytes at Buffer (text stops at Size too).
    void SetDataFrom(const Byte* Buffer, std::size_t Size);
    [[noreturn]] void UnknownTypeError() const;
    [[noreturn]] void BadTypeError() const;

    // The cached value owner, valid while FRefGeneration is the collection's generation.
    mutable TParam* FParamRef = nullptr;
    mutable Rtl::UInt64 FRefGeneration = 0;
    Variant FData;
    bool FNull = true;
    String FName;
    TFieldType FDataType = Db::ftUnknown;
    bool FBound = false;
    TParamType FParamType = Db::ptUnknown;
    TParamAttributes FAttributes;
    Byte FNumericScale = 0;
    Byte FPrecision = 0;
    int FSize = 0;

};

class TParams : public Vcl::TCollection {
    VCL_CLASS(TParams, Vcl::TCollection)
    friend class TParam;

public:
    explicit TParams(TPersistent* Owner = nullptr);

    // The value owner of the item at Index (EListError outside the list).
    TParam* Items(int Index) const;
    TParam* GetItem(int Index) const { return Items(Index); }
    // Items(Index).Assign(Value) on the item itself.
    void SetItem(int Index, TParam* Value);
    TParam* Add() { return static_cast<TParam*>(TCollection::Add()); }

    void AddParam(TParam* Value);
    void RemoveParam(TParam* Value);
    TParam* CreateParam(TFieldType FieldType, const String& ParamName, TParamType ParamType);
    // The first item named ParamName (case-insensitively), or null.
    TParam* FindParam(const String& ParamName) const;
    // FindParam, or "Parameter '%s' not found".
    TParam* ParamByName(const String& ParamName) const;
    // Appends ParamByName of each name of the ';'-separated list, in order.
    void GetParamList(Rtl::TList* List, const String& ParamNames) const;
    void GetParamList(std::vector<TParam*>& List, const String& ParamNames) const;
    // With a ';' in ParamName: a variant array [0..n-1] of the listed values;
    // else the one parameter's Value.
    Variant GetParamValue(const String& ParamName) const;
    // With a ';': element i of the array Value goes to the i-th listed
    // parameter; every element is checked before any parameter changes.
    void SetParamValue(const String& ParamName, const Variant& Value);
    Variant GetParamValues(const String& ParamName) const { return GetParamValue(ParamName); }
    void SetParamValues(const String& ParamName, const Variant& Value) { SetParamValue(ParamName, Value); }
    // Items of Source whose names are found here are assigned to them.
    void AssignValues(TParams* Value);
    bool IsEqual(TParams* Value) const;

    // Replaces ":name" markers by "?" and returns the new text; with DoCreate
    // the collection is cleared and gets one item per marker, in text order.
    // The narrow text is UTF-8: a multi-byte character is always passed over
    // whole and never taken for a quote, a colon or a delimiter.
    String ParseSQL(const String& SQL, bool DoCreate);

    Db::TDataSet* GetDataSet() const;
    TPersistent* GetOwner() const override { return FOwner; }

    // Reads the legacy "Data" stream (see ParamData.cpp). Replaces the items;
    // on failure the items read so far stay.
    void ReadBinaryData(TStream* Stream);

protected:
    void AssignTo(TPersistent* Dest) const override;
    void DefineProperties(Vcl::TFiler* Filer) override;
    void Update(Vcl::TCollectionItem* Item) override;
    void Notify(Vcl::TCollectionItem* Item, Vcl::TCollectionNotification Action) override;

private:
    // Forgets every cached value owner at once: a cache is valid only for the
    // generation it was made in.
    void ForgetOwners() noexcept { ++FGeneration; }
    TParam* Raw(int Index) const { return static_cast<TParam*>(TCollection::GetItem(Index)); }

    TPersistent* FOwner;
    Rtl::UInt64 FGeneration = 1;
};

// True for the types whose values a parameter carries as byte strings:
// ftBlob, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary,
// ftOraBlob and ftOraClob (not ftMemo).
bool IsParamBlobType(TFieldType DataType) noexcept;

}  // namespace Velora
