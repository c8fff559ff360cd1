// The recordset's late-bound surface.
#include "Platform/data-engine/objects/Recordset.h"

#include "Platform/data-engine/objects/Command.h"

namespace DataEngine::Ado {

namespace {

Variant ArgOrEmpty(const Com::TDispCall& call, int i) { return call.IsOmitted(i) ? Com::EmptyParam : call.Arg(i); }

}  // namespace

const Com::TDispatchTable<TRecordsetObject>& TRecordsetObject::GetDispatchTable() {
    using T = TRecordsetObject;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Recordset")
            .Property("Properties", 500, &T::GetProperties)
            .Property("AbsolutePosition", 1000, &T::GetAbsolutePosition, &T::SetAbsolutePosition)
            .Property(
                "ActiveConnection", 1001, [](T& self, TDispCall& call) { call.Result = self.GetActiveConnection(); },
                [](T& self, TDispCall& call) { self.SetActiveConnection(call.Value()); },
                [](T& self, TDispCall& call) { self.SetActiveConnection(call.Value()); })
            .Property("BOF", 1002, &T::GetBOF)
            .Property("Bookmark", 1003, &T::GetBookmark, &T::SetBookmark)
            .Property("CacheSize", 1004, &T::GetCacheSize, &T::SetCacheSize)
            .Property("CursorType", 1005, &T::GetCursorType, &T::SetCursorType)
            .Property("EOF", 1006, &T::GetEOF)
            .Property("Fields", 0, &T::GetFields)
            .Property("LockType", 1008, &T::GetLockType, &T::SetLockType)
            .Property("MaxRecords", 1009, &T::GetMaxRecords, &T::SetMaxRecords)
            .Property("RecordCount", 1010, &T::GetRecordCount)
            .Property(
                "Source", 1011, [](T& self, TDispCall& call) { call.Result = self.GetSource(); },
                [](T& self, TDispCall& call) {
                    const Variant v = call.Value();
                    if (v.BaseType() == Rtl::varDispatch || v.BaseType() == Rtl::varUnknown)
                        self.SetSourceRef(Com::VarToDispatch(v).Get());
                    else
                        self.SetSource(v.ToWideString());
                },
                [](T& self, TDispCall& call) { self.SetSourceRef(Com::VarToDispatch(call.Value()).Get()); })
            .Method(
                "AddNew", 1012, [](T& self, TDispCall& call) { self.AddNew(ArgOrEmpty(call, 0), ArgOrEmpty(call, 1)); },
                0, 2)
            .Method("CancelUpdate", 1013, &T::CancelUpdate)
            .Method("Close", 1014, &T::Close)
            .Method(
                "Delete", 1015, [](T& self, TDispCall& call) { self.Delete(call.ArgOr<AffectEnum>(0, adAffectCurrent)); },
                0, 1)
            .Method(
                "GetRows", 1016,
                [](T& self, TDispCall& call) {
                    call.Result =
                        self.GetRows(call.ArgOr<int>(0, adGetRowsRest), ArgOrEmpty(call, 1), ArgOrEmpty(call, 2));
                },
                0, 3)
            .Method(
                "Move", 1017, [](T& self, TDispCall& call) { self.Move(call.ArgAs<int>(0), ArgOrEmpty(call, 1)); }, 1, 2)
            .Method("MoveNext", 1018, &T::MoveNext)
            .Method("MovePrevious", 1019, &T::MovePrevious)
            .Method("MoveFirst", 1020, &T::MoveFirst)
            .Method("MoveLast", 1021, &T::MoveLast)
            .Method(
                "Open", 1022,
                [](T& self, TDispCall& call) {
                    self.Open(ArgOrEmpty(call, 0), ArgOrEmpty(call, 1),
                              call.ArgOr<CursorTypeEnum>(2, adOpenUnspecified),
                              call.ArgOr<LockTypeEnum>(3, adLockUnspecified), call.ArgOr<int>(4, adCmdUnspecified));
                },
                0, 5)
            .Method(
                "Requery", 1023, [](T& self, TDispCall& call) { self.Requery(call.ArgOr<int>(0, adOptionUnspecified)); },
                0, 1)
            .Method(
                "Resync", 1024,
                [](T& self, TDispCall& call) {
                    self.Resync(call.ArgOr<AffectEnum>(0, adAffectAll), call.ArgOr<ResyncEnum>(1, adResyncAllValues));
                },
                0, 2)
            .Method(
                "Update", 1025, [](T& self, TDispCall& call) { self.Update(ArgOrEmpty(call, 0), ArgOrEmpty(call, 1)); },
                0, 2)
            .Property("EditMode", 1026, &T::GetEditMode)
            .Property("Status", 1029, &T::GetStatus)
            .Property("Filter", 1030, &T::GetFilter, &T::SetFilter)
            .Property("Sort", 1031, &T::GetSort, &T::SetSort)
            .Method(
                "Clone", 1034,
                [](T& self, TDispCall& call) {
                    call.Result = Com::VarFromInterface(self.Clone(call.ArgOr<LockTypeEnum>(0, adLockUnspecified)));
                },
                0, 1)
            .Method(
                "UpdateBatch", 1035,
                [](T& self, TDispCall& call) { self.UpdateBatch(call.ArgOr<AffectEnum>(0, adAffectAll)); }, 0, 1)
            .Method("Supports", 1036, &T::Supports)
            .Property("AbsolutePage", 1047, &T::GetAbsolutePage, &T::SetAbsolutePage)
            .Property("PageSize", 1048, &T::GetPageSize, &T::SetPageSize)
            .Method(
                "CancelBatch", 1049,
                [](T& self, TDispCall& call) { self.CancelBatch(call.ArgOr<AffectEnum>(0, adAffectAll)); }, 0, 1)
            .Property("PageCount", 1050, &T::GetPageCount)
            .Property("CursorLocation", 1051, &T::GetCursorLocation, &T::SetCursorLocation)
            .Method(
                "NextRecordset", 1052,
                [](T& self, TDispCall& call) {
                    Variant affected;
                    auto rs = self.NextRecordset(&affected);
                    if (call.IsByRef(0)) call.SetArg(0, affected);
                    call.Result = Com::VarFromInterface(rs);
                },
                0, 1)
            .Property("MarshalOptions", 1053, &T::GetMarshalOptions, &T::SetMarshalOptions)
            .Property("State", 1054, &T::GetState)
            .Method("Cancel", 1055, &T::Cancel)
            .Method(
                "Save", 1057,
                [](T& self, TDispCall& call) {
                    self.Save(ArgOrEmpty(call, 0), call.ArgOr<PersistFormatEnum>(1, adPersistADTG));
                },
                0, 2)
            .Method(
                "Find", 1058,
                [](T& self, TDispCall& call) {
                    self.Find(call.ArgAs<WideString>(0), call.ArgOr<int>(1, 0),
                              call.ArgOr<SearchDirectionEnum>(2, adSearchForward), ArgOrEmpty(call, 3));
                },
                1, 4)
            .Property("ActiveCommand", 1061, &T::GetActiveCommand)
            .Method(
                "GetString", 1062,
                [](T& self, TDispCall& call) {
                    call.Result = Variant(self.GetString(
                        call.ArgOr<StringFormatEnum>(0, adClipString), call.ArgOr<int>(1, -1),
                        call.ArgOr<WideString>(2, {}), call.ArgOr<WideString>(3, {}), call.ArgOr<WideString>(4, {})));
                },
                0, 5)
            .Property("StayInSync", 1063, &T::GetStayInSync, &T::SetStayInSync)
            .Property("DataMember", 1064, &T::GetDataMember, &T::SetDataMember)
            .Method("CompareBookmarks", 1065, &T::CompareBookmarks)
            .Method(
                "Seek", 1066,
                [](T& self, TDispCall& call) { self.Seek(call.Arg(0), call.ArgOr<SeekEnum>(1, adSeekFirstEQ)); }, 1, 2)
            .Property("Index", 1067, &T::GetIndex, &T::SetIndex)
            .Property("Collect", -8, &T::GetCollect, &T::SetCollect);
    return table;
}

}  // namespace DataEngine::Ado
