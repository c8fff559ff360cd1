// The Fields collection of a recordset and its Field objects. Both live as
// long as their recordset (which their references keep alive); a field
// stands for a column by index, so it follows the recordset through closing
// and reopening, and reports adErrObjectNotSet when its column is gone.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"

namespace DataEngine::Ado {

// ---- Field -----------------------------------------------------------------------------------

TFieldObject::TFieldObject(Rtl::IUnknown* controller, TRecordsetObject* owner, std::size_t index)
    : TDispatchImpl(controller), FOwner(owner), FIndex(index) {
    FProperties = std::make_unique<TPropertiesCollection>(controller, owner,
                                                          [this] { return FOwner->FieldProperties(FIndex); },
        [this](const String& name, const Variant& value) { FOwner->SetFieldProperty(FIndex, name, value); });
}

TFieldObject::~TFieldObject() = default;

ComPtr<Properties> TFieldObject::GetProperties() { return ComPtr<Properties>(FProperties.get()); }

int TFieldObject::GetActualSize() {
    return FOwner->Guard([&] { return FOwner->FieldActualSize(FIndex); });
}

int TFieldObject::GetAttributes() {
    return FOwner->Guard([&] { return FOwner->ColumnAt(FIndex).Attributes; });
}

int TFieldObject::GetDefinedSize() {
    return FOwner->Guard([&] { return FOwner->ColumnAt(FIndex).DefinedSize; });
}

WideString TFieldObject::GetName() {
    return FOwner->Guard([&] { return Wide(FOwner->ColumnAt(FIndex).Name); });
}

DataTypeEnum TFieldObject::GetType() {
    return FOwner->Guard([&] { return FOwner->ColumnAt(FIndex).Type; });
}

Variant TFieldObject::GetValue() {
    return FOwner->Guard([&] { return FOwner->FieldValue(FIndex, vvCurrent); });
}

void TFieldObject::SetValue(const Variant& Value) {
    FOwner->Guard([&] { FOwner->SetFieldValue(FIndex, Value); });
}

Byte TFieldObject::GetPrecision() {
    return FOwner->Guard([&] { return FOwner->ColumnAt(FIndex).Precision; });
}

Byte TFieldObject::GetNumericScale() {
    return FOwner->Guard([&] { return FOwner->ColumnAt(FIndex).NumericScale; });
}

void TFieldObject::AppendChunk(const Variant& Data) {
    FOwner->Guard([&] { FOwner->FieldAppendChunk(FIndex, Data); });
}

Variant TFieldObject::GetChunk(int Length) {
    return FOwner->Guard([&] { return FOwner->FieldChunk(FIndex, Length); });
}

Variant TFieldObject::GetOriginalValue() {
    return FOwner->Guard([&] { return FOwner->FieldValue(FIndex, vvOriginal); });
}

Variant TFieldObject::GetUnderlyingValue() {
    return FOwner->Guard([&] { return FOwner->FieldValue(FIndex, vvUnderlying); });
}

ComPtr<Rtl::IUnknown> TFieldObject::GetDataFormat() {
    return FOwner->Guard([&]() -> ComPtr<Rtl::IUnknown> { NotImplementedYet("Field.DataFormat"); });
}

void TFieldObject::SetDataFormatRef(Rtl::IUnknown*) {
    FOwner->Guard([&] { NotImplementedYet("Field.DataFormat"); });
}

void TFieldObject::SetPrecision(Byte Value) {
    FOwner->Guard([&] { FOwner->FieldDefForChange(FIndex, "Field.Precision").Precision = Value; });
}

void TFieldObject::SetNumericScale(Byte Value) {
    FOwner->Guard([&] { FOwner->FieldDefForChange(FIndex, "Field.NumericScale").NumericScale = Value; });
}

void TFieldObject::SetType(DataTypeEnum Value) {
    FOwner->Guard([&] {
        TColumnInfo& c = FOwner->FieldDefForChange(FIndex, "Field.Type");
        try {
            StorageKindOf(Value);
        } catch (const EEngineError&) {
            AdoFail(adErrFeatureNotAvailable, "field \"" + c.Name + "\" cannot have type " + DataTypeName(Value) +
                                                  " in this engine");
        }
        c.Type = Value;
    });
}

void TFieldObject::SetDefinedSize(int Value) {
    FOwner->Guard([&] {
        TColumnInfo& c = FOwner->FieldDefForChange(FIndex, "Field.DefinedSize");
        if (Value < 0) AdoFail(adErrInvalidArgument, "DefinedSize " + std::to_string(Value) + " is negative");
        c.DefinedSize = Value;
    });
}

void TFieldObject::SetAttributes(int Value) {
    FOwner->Guard([&] {
        TColumnInfo& c = FOwner->FieldDefForChange(FIndex, "Field.Attributes");
        c.Attributes = (Value == adFldUnspecified ? 0 : Value) | adFldUpdatable | (c.Attributes & (adFldFixed | adFldLong));
        if (c.HasAttribute(adFldIsNullable)) c.Attributes |= adFldMayBeNull;
    });
}

int TFieldObject::GetStatus() {
    return FOwner->Guard([&] { return FOwner->FieldStatus(FIndex); });
}

const Com::TDispatchTable<TFieldObject>& TFieldObject::GetDispatchTable() {
    using T = TFieldObject;
    static const auto table = Com::TDispatchTable<T>("ADODB.Field")
                                  .Property("Properties", 500, &T::GetProperties)
                                  .Property("ActualSize", 1109, &T::GetActualSize)
                                  .Property("Attributes", 1114, &T::GetAttributes, &T::SetAttributes)
                                  .Property("DefinedSize", 1115, &T::GetDefinedSize, &T::SetDefinedSize)
                                  .Property("Name", 1100, &T::GetName)
                                  .Property("Type", 1102, &T::GetType, &T::SetType)
                                  .Property("Value", 0, &T::GetValue, &T::SetValue)
                                  .Property("Precision", 1111, &T::GetPrecision, &T::SetPrecision)
                                  .Property("NumericScale", 1112, &T::GetNumericScale, &T::SetNumericScale)
                                  .Method("AppendChunk", 1107, &T::AppendChunk)
                                  .Method("GetChunk", 1108, &T::GetChunk)
                                  .Property("OriginalValue", 1104, &T::GetOriginalValue)
                                  .Property("UnderlyingValue", 1105, &T::GetUnderlyingValue)
                                  .Property("Status", 1116, &T::GetStatus);
    return table;
}

// ---- Fields --------------------------------------------------------------------------------------

TFieldsCollection::TFieldsCollection(Rtl::IUnknown* controller, TRecordsetObject* owner)
    : TDispatchImpl(controller), FController(controller), FOwner(owner) {}

TFieldsCollection::~TFieldsCollection() = default;

TFieldObject* TFieldsCollection::FieldAt(std::size_t index) {
    while (FFields.size() <= index) FFields.push_back(std::make_unique<TFieldObject>(FController, FOwner, FFields.size()));
    return FFields[index].get();
}

int TFieldsCollection::GetCount() {
    return FOwner->Guard([&] { return static_cast<int>(FOwner->ColumnCount()); });
}

ComPtr<Rtl::IUnknown> TFieldsCollection::_NewEnum() {
    return FOwner->Guard([&]() -> ComPtr<Rtl::IUnknown> { NoEnumerator("Fields"); });
}

void TFieldsCollection::Refresh() {}

ComPtr<Field> TFieldsCollection::GetItem(const Variant& Index) {
    return FOwner->Guard([&] {
        const int i = ResolveIndex(Index, static_cast<int>(FOwner->ColumnCount()),
                                   [&](const String& n) { return FOwner->FindColumn(n); }, "Fields");
        if (i < 0) AdoFail(adErrItemNotFound, "Fields has no item " + DescribeValue(Index));
        return ComPtr<Field>(FieldAt(static_cast<std::size_t>(i)));
    });
}

void TFieldsCollection::_Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib) {
    FOwner->Guard([&] { FOwner->AppendFieldDef(Narrow(Name), Type, DefinedSize, Attrib); });
}

void TFieldsCollection::Append(const WideString& Name, DataTypeEnum Type, int DefinedSize, FieldAttributeEnum Attrib,
                               const Variant& FieldValue) {
    FOwner->Guard([&] {
        if (!IsMissing(FieldValue))
            AdoFail(adErrInvalidArgument, "Fields.Append: a FieldValue is given only for the fields of a Record");
        FOwner->AppendFieldDef(Narrow(Name), Type, DefinedSize, Attrib);
    });
}

void TFieldsCollection::Delete(const Variant& Index) {
    FOwner->Guard([&] { FOwner->DeleteFieldDef(Index); });
}

void TFieldsCollection::Update() {
    FOwner->Guard([&] { AdoFail(adErrIllegalOperation, "Fields.Update applies to the fields of a Record"); });
}

void TFieldsCollection::Resync(ResyncEnum) {
    FOwner->Guard([&] { AdoFail(adErrIllegalOperation, "Fields.Resync applies to the fields of a Record"); });
}

void TFieldsCollection::CancelUpdate() {
    FOwner->Guard([&] { AdoFail(adErrIllegalOperation, "Fields.CancelUpdate applies to the fields of a Record"); });
}

const Com::TDispatchTable<TFieldsCollection>& TFieldsCollection::GetDispatchTable() {
    using T = TFieldsCollection;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Fields")
            .Property("Count", 1, &T::GetCount)
            .Method("Refresh", 2, &T::Refresh)
            .Property("Item", 0, &T::GetItem)
            .Method(
                "Append", 3,
                [](T& self, TDispCall& call) {
                    self.Append(call.ArgAs<WideString>(0), call.ArgAs<DataTypeEnum>(1), call.ArgOr<int>(2, 0),
                                call.ArgOr<FieldAttributeEnum>(3, adFldUnspecified),
                                call.IsOmitted(4) ? Com::EmptyParam : call.Arg(4));
                },
                2, 5)
            .Method("Delete", 4, &T::Delete)
            .Method("Update", 5, &T::Update)
            .Method(
                "Resync", 6,
                [](T& self, TDispCall& call) { self.Resync(call.ArgOr<ResyncEnum>(0, adResyncAllValues)); }, 0, 1)
            .Method("CancelUpdate", 7, &T::CancelUpdate);
    return table;
}

ComPtr<Velora::Fields> TRecordsetObject::GetFields() { return ComPtr<Velora::Fields>(FFields.get()); }

}  // namespace DataEngine::Ado
