// Native buffers of parameters and the reader of the legacy "Data" property.
//
// Native formats, by DataType (sizes in bytes):
//   ftString, ftFixedChar, ftMemo   the text and a NUL (length + 1)
//   ftSmallint 2 signed   ftWord 2 unsigned   ftInteger, ftAutoInc 4 signed
//   ftBoolean 2 (1 or 0; any non-zero value reads as true)
//   ftFloat 8 IEEE double   ftCurrency 8 IEEE double of the currency value
//   ftBCD 34, the TBcd record (precision 32, 4 decimals)
//   ftDate 4, time-stamp day number   ftTime 4, milliseconds since midnight
//   ftDateTime 8, IEEE double of time-stamp milliseconds
//   ftBytes, ftVarBytes   the bytes of a one-dimensional variant array
//                         (high bound + 1 of them); read-only
//   blob kinds            the text's bytes, no terminator; read-only
//   ftCursor 0 (SetData stores a one-byte 0)
//   ftADT, ftArray, ftReference, ftDataSet 0, read-only
//   ftLargeint 8, but neither read nor written
//   ftWideString and every later type: unsupported
//
// "Data" layout, little-endian (widths for version 2 / versions 0 and 1):
//   Version 2/2 (above 2 refused), Count 4 signed / 2 unsigned, then per
//   parameter: NameLength 4 signed / 1, Name, ParamType 1, DataType 1,
//   DataLength 4 signed / 2 unsigned and Data (both only when DataType is not
//   ftUnknown), IsNull 1, Bound 1.
// Every count and length is checked against the bytes the stream still holds
// before anything is allocated or read. A data block of any length is read in
// full (older readers used a fixed 2048-byte buffer; nothing is cut off here),
// and a block shorter than its type's native size reads as zeros. Negative
// counts and lengths, lengths beyond the end of the stream, a stream that ends
// inside a record, and parameter or field types outside their enumerations are
// refused with "Unable to load bind parameters". A record is added only once
// it has been read completely; the parameters read before a failure stay.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "Velora/Adods/Params.h"

namespace Velora {

using namespace Db;
using Rtl::Int64;

bool IsParamBlobType(TFieldType DataType) noexcept {
    switch (DataType) {
        case ftBlob: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle: case ftTypedBinary:
        case ftOraBlob: case ftOraClob:
            return true;
        default:
            return false;
    }
}

void TParam::UnknownTypeError() const { DatabaseErrorFmt(SUnknownFieldType, {FName}, GetDataSet()); }
void TParam::BadTypeError() const { DatabaseErrorFmt(SBadFieldType, {FName}, GetDataSet()); }

namespace {

// The bytes of a one-dimensional variant array as ftBytes carries them: the
// first Size elements (fewer when the array has fewer), each a byte; the rest
// of Size is zero.
void CopyArrayBytes(const Variant& Value, Byte* Dest, int Size) {
    std::memset(Dest, 0, static_cast<std::size_t>(Size));
    const int low = Rtl::VarArrayLowBound(Value, 1);
    const int high = Rtl::VarArrayHighBound(Value, 1);
    const Int64 count = std::min<Int64>(Size, static_cast<Int64>(high) - low + 1);
    if (count <= 0) return;
    if (Rtl::VarArrayElementType(Value) == Rtl::varByte) {
        std::memcpy(Dest, Rtl::VarArrayData(Value), static_cast<std::size_t>(count));
        return;
    }
    for (Int64 i = 0; i < count; ++i)
        Dest[i] = static_cast<Byte>(Rtl::VarAsType(Value.GetElement(static_cast<int>(low + i)), Rtl::varByte).ToInteger());
}

template <class T>
void Put(void* Buffer, T Value) noexcept {
    std::memcpy(Buffer, &Value, sizeof Value);
}

// A native value from at most Size bytes; missing bytes read as zero.
template <class T>
T Get(const Byte* Buffer, std::size_t Size) noexcept {
    T v{};
    std::memcpy(&v, Buffer, std::min(sizeof v, Size));
    return v;
}

}  // namespace

int TParam::GetDataSize() {
    switch (GetDataType()) {
        case ftUnknown: UnknownTypeError();
        case ftString: case ftFixedChar: case ftMemo: return static_cast<int>(GetAsString().size()) + 1;
        case ftBoolean: case ftSmallint: case ftWord: return 2;
        case ftDate: case ftTime: case ftInteger: case ftAutoInc: return 4;
        case ftDateTime: case ftCurrency: case ftFloat: case ftLargeint: return 8;
        case ftBCD: return static_cast<int>(sizeof(Rtl::TBcd));
        case ftBytes: case ftVarBytes: {
            if (!FData.IsArray() || Rtl::VarArrayDimCount(FData) != 1) return 0;
            const int high = Rtl::VarArrayHighBound(FData, 1);
            return high < 0 ? 0 : high + 1;
        }
        case ftCursor: case ftADT: case ftArray: case ftReference: case ftDataSet: return 0;
        default:
            if (IsParamBlobType(GetDataType())) return static_cast<int>(GetAsString().size());
            BadTypeError();
    }
}

void TParam::GetData(void* Buffer) {
    switch (GetDataType()) {
        case ftUnknown: UnknownTypeError();
        case ftString: case ftFixedChar: case ftMemo: {
            const String s = GetAsString();
            std::memcpy(Buffer, s.c_str(), s.size() + 1);
            return;
        }
        case ftSmallint: Put(Buffer, static_cast<std::int16_t>(GetAsInteger())); return;
        case ftWord: Put(Buffer, static_cast<std::uint16_t>(GetAsInteger())); return;
        case ftInteger: case ftAutoInc: Put(Buffer, static_cast<std::int32_t>(GetAsInteger())); return;
        case ftBoolean: Put(Buffer, static_cast<std::uint16_t>(GetAsBoolean() ? 1 : 0)); return;
        case ftFloat: Put(Buffer, GetAsFloat()); return;
        case ftCurrency: Put(Buffer, GetAsCurrency().ToDouble()); return;
        case ftBCD: {
            Rtl::TBcd bcd;
            Rtl::CurrToBCD(GetAsBCD(), bcd, 32, 4);
            Put(Buffer, bcd);
            return;
        }
        case ftDate: Put(Buffer, static_cast<std::int32_t>(Rtl::DateTimeToTimeStamp(GetAsDateTime()).Date)); return;
        case ftTime: Put(Buffer, static_cast<std::int32_t>(Rtl::DateTimeToTimeStamp(GetAsDateTime()).Time)); return;
        case ftDateTime: Put(Buffer, Rtl::TimeStampToMSecs(Rtl::DateTimeToTimeStamp(GetAsDateTime()))); return;
        case ftBytes: case ftVarBytes: {
            const int size = GetDataSize();
            if (size > 0) CopyArrayBytes(FData, static_cast<Byte*>(Buffer), size);
            return;
        }
        case ftCursor: case ftADT: case ftArray: case ftReference: case ftDataSet: return;
        default:
            if (IsParamBlobType(GetDataType())) {
                const String s = GetAsString();
                if (!s.empty()) std::memcpy(Buffer, s.data(), s.size());
                return;
            }
            BadTypeError();
    }
}

void TParam::SetData(const void* Buffer) {
    SetDataFrom(static_cast<const Byte*>(Buffer), std::numeric_limits<std::size_t>::max());
}

void TParam::SetDataFrom(const Byte* Buffer, std::size_t Size) {
    auto text = [&] { return String(reinterpret_cast<const char*>(Buffer), strnlen(reinterpret_cast<const char*>(Buffer), Size)); };
    switch (GetDataType()) {
        case ftUnknown: UnknownTypeError();
        case ftString: case ftFixedChar: SetAsString(text()); return;
        case ftMemo: SetAsMemo(text()); return;
        case ftSmallint: SetAsSmallInt(Get<std::int16_t>(Buffer, Size)); return;
        case ftWord: SetAsWord(Get<std::uint16_t>(Buffer, Size)); return;
        case ftInteger: case ftAutoInc: SetAsInteger(Get<std::int32_t>(Buffer, Size)); return;
        case ftBoolean: SetAsBoolean(Get<std::uint16_t>(Buffer, Size) != 0); return;
        case ftFloat: SetAsFloat(Get<double>(Buffer, Size)); return;
        case ftCurrency: SetAsCurrency(Currency(Get<double>(Buffer, Size))); return;
        case ftBCD: {
            Currency c;
            if (!Rtl::BCDToCurr(Get<Rtl::TBcd>(Buffer, Size), c)) c = Currency();
            SetAsBCD(c);
            return;
        }
        case ftDate: SetAsDate(Rtl::TimeStampToDateTime({0, Get<std::int32_t>(Buffer, Size)})); return;
        case ftTime: SetAsTime(Rtl::TimeStampToDateTime({Get<std::int32_t>(Buffer, Size), Rtl::DateDelta})); return;
        case ftDateTime: {
            const double ms = Get<double>(Buffer, Size);
            SetAsDateTime(Rtl::TimeStampToDateTime(Rtl::MSecsToTimeStamp(std::nearbyint(ms))));
            return;
        }
        case ftCursor: FData = Variant(static_cast<Byte>(0)); return;
        default: BadTypeError();
    }
}

// ---- The "Data" stream ------------------------------------------------------------------------

namespace {

[[noreturn]] void BadParamData() { throw EDatabaseError(SInvalidVersion); }

// Reads little-endian fields and refuses to go past the end of the stream.
class TDataReader {
public:
    explicit TDataReader(TStream* Stream) : FStream(Stream) {}

    Int64 Remaining() const { return FStream->GetSize() - FStream->GetPosition(); }
    void Bytes(void* Buffer, Int64 Count) {
        if (Count < 0 || Count > Remaining() || (Count > 0 && FStream->Read(Buffer, Count) != Count)) BadParamData();
    }
    std::uint64_t Unsigned(int Width) {
        Byte b[4];
        Bytes(b, Width);
        std::uint64_t v = 0;
        for (int i = Width - 1; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }
    // A count or length: Width 4 is signed (negative values are refused), 1 and 2 unsigned.
    Int64 Length(int Width) {
        const std::uint64_t v = Unsigned(Width);
        if (Width == 4 && v > 0x7FFFFFFFu) BadParamData();
        return static_cast<Int64>(v);
    }

private:
    TStream* FStream;
};

}  // namespace

void TParams::ReadBinaryData(TStream* Stream) {
    Clear();
    TDataReader in(Stream);
    const auto version = in.Unsigned(2);
    if (version > 2) BadParamData();
    const bool wide = version == 2;
    const Int64 count = in.Length(wide ? 4 : 2);
    for (Int64 i = 0; i < count; ++i) {
        const Int64 nameLength = in.Length(wide ? 4 : 1);
        if (nameLength > in.Remaining()) BadParamData();
        String name(static_cast<std::size_t>(nameLength), '\0');
        in.Bytes(name.data(), nameLength);
        const auto paramType = in.Unsigned(1);
        const auto dataType = in.Unsigned(1);
        if (paramType > ptResult || dataType >= static_cast<std::uint64_t>(FieldTypeCount)) BadParamData();
        std::vector<Byte> data;
        if (dataType != ftUnknown) {
            const Int64 dataLength = in.Length(wide ? 4 : 2);
            if (dataLength > in.Remaining()) BadParamData();
            const auto length = static_cast<std::size_t>(dataLength);
            if (IsParamBlobType(static_cast<TFieldType>(dataType))) {
                data.resize(length);
            } else {
                // One zero byte beyond the block, so text always finds its
                // terminator; a block shorter than its type reads as zeros.
                data.assign(length + 1, 0);
            }
            in.Bytes(data.data(), dataLength);
        }
        const auto isNull = in.Unsigned(1);
        const auto bound = in.Unsigned(1);

        TParam* p = Add();
        p->FName = std::move(name);
        p->FParamType = static_cast<TParamType>(paramType);
        p->FDataType = static_cast<TFieldType>(dataType);
        if (dataType != ftUnknown) {
            if (IsParamBlobType(p->FDataType)) p->SetBlobData(data.data(), data.size());
            else p->SetDataFrom(data.data(), data.size());
        }
        if (isNull) p->FData = Variant::Null();
        p->FBound = bound != 0;
    }
}

}  // namespace Velora
