// TDataSource, TDataLink and TDetailDataLink.

#include "Platform/db/DataSource.h"

#include <algorithm>

#include "Platform/db/DBConsts.h"
#include "Platform/db/DataSet.h"

namespace Db {

VCL_COMPONENT_IMPL(TDataSource, Vcl::TComponent) {
    Prop("AutoEdit", &TDataSource::GetAutoEdit, &TDataSource::SetAutoEdit).Default(true);
    Prop("DataSet", &TDataSource::GetDataSet, &TDataSource::SetDataSet);
    Prop("Enabled", &TDataSource::GetEnabled, &TDataSource::SetEnabled).Default(true);
    Event("OnStateChange", &TDataSource::OnStateChange, &TDataSource::OnStateChange, "TNotifyEvent");
    Event("OnDataChange", &TDataSource::OnDataChange, &TDataSource::OnDataChange, "TDataChangeEvent");
    Event("OnUpdateData", &TDataSource::OnUpdateData, &TDataSource::OnUpdateData, "TNotifyEvent");
}
RTL_CLASS_IMPL(TDataLink, Rtl::TPersistent)
RTL_CLASS_IMPL(TDetailDataLink, TDataLink)

// ---- TDataSource ----------------------------------------------------------------------

TDataSource::TDataSource(Vcl::TComponent* AOwner) : Vcl::TComponent(AOwner) {}

TDataSource::~TDataSource() {
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    if (FDataSet) FDataSet->RemoveDataSource(this);
    while (!FDataLinks.empty()) RemoveDataLink(FDataLinks.back());
}

void TDataSource::Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) {
    Vcl::TComponent::Notification(AComponent, Operation);
    if (Operation == Vcl::opRemove && AComponent == FDataSet) SetDataSet(nullptr);
}

void TDataSource::Edit() {
    if (FAutoEdit && FState == dsBrowse) FDataSet->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* DataSet) const {
    for (int guard = 0; DataSet && guard < 100000; ++guard) {
        TDataSource* source = DataSet->GetDataSource();
        if (!source) break;
        if (source == this) return true;
        DataSet = source->FDataSet;
    }
    return false;
}

void TDataSource::SetDataSet(TDataSet* Value) {
    if (Value == FDataSet) return;
    if (IsLinkedTo(Value)) DatabaseError(SCircularDataLink, this);
    if (FDataSet) FDataSet->RemoveDataSource(this);
    if (Value) Value->AddDataSource(this);
}

void TDataSource::SetEnabled(bool Value) {
    FEnabled = Value;
    UpdateState();
}

void TDataSource::UpdateState() { SetState(FEnabled && FDataSet ? FDataSet->GetState() : dsInactive); }

void TDataSource::SetState(TDataSetState Value) {
    if (FState == Value) return;
    TDataSetState prior = FState;
    FState = Value;
    NotifyDataLinks(deUpdateState, 0);
    if (!GetComponentState().Contains(Vcl::csDestroying)) {
        if (OnStateChange) OnStateChange(this);
        if (prior == dsInactive && OnDataChange) OnDataChange(this, nullptr);
    }
}

void TDataSource::AddDataLink(TDataLink* DataLink) {
    FDataLinks.push_back(DataLink);
    DataLink->FDataSource = this;
    if (FDataSet) FDataSet->UpdateBufferCount();
    DataLink->UpdateState();
}

void TDataSource::RemoveDataLink(TDataLink* DataLink) {
    DataLink->FDataSource = nullptr;
    std::erase(FDataLinks, DataLink);
    DataLink->UpdateState();
    if (FDataSet) FDataSet->UpdateBufferCount();
}

void TDataSource::NotifyLinkTypes(TDataEvent Event, std::intptr_t Info, bool LinkType) {
    // From the last link to the first; a link may leave while it is told.
    for (int i = static_cast<int>(FDataLinks.size()) - 1; i >= 0; --i) {
        if (i >= static_cast<int>(FDataLinks.size())) continue;
        TDataLink* link = FDataLinks[i];
        if (link->FVisualControl == LinkType) link->DataEvent(Event, Info);
    }
}

void TDataSource::NotifyDataLinks(TDataEvent Event, std::intptr_t Info) {
    // Details first, so that they follow their master before controls repaint.
    NotifyLinkTypes(Event, Info, false);
    NotifyLinkTypes(Event, Info, true);
}

void TDataSource::DataEvent(TDataEvent Event, std::intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (FState == dsInactive) return;
    NotifyDataLinks(Event, Info);
    switch (Event) {
        case deFieldChange:
            if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(Info));
            break;
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            if (OnDataChange) OnDataChange(this, nullptr);
            break;
        case deUpdateRecord:
            if (OnUpdateData) OnUpdateData(this);
            break;
        default: break;
    }
}

// ---- TDataLink ----------------------------------------------------------------------------

TDataLink::~TDataLink() {
    FDataSourceFixed = false;
    if (FDataSource) FDataSource->RemoveDataLink(this);
}

TDataSet* TDataLink::GetDataSet() const { return FDataSource ? FDataSource->GetDataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* Value) {
    if (Value == FDataSource) return;
    if (FDataSourceFixed) DatabaseError(SDataSourceChange, FDataSource);
    if (FDataSource) FDataSource->RemoveDataLink(this);
    if (Value) Value->AddDataLink(this);
}

void TDataLink::SetReadOnly(bool Value) {
    if (FReadOnly == Value) return;
    FReadOnly = Value;
    UpdateState();
}

bool TDataLink::Edit() {
    if (!FReadOnly && FDataSource) FDataSource->Edit();
    return FEditing;
}

void TDataLink::UpdateRecord() {
    FUpdating = true;
    try {
        UpdateData();
    } catch (...) {
        FUpdating = false;
        throw;
    }
    FUpdating = false;
}

int TDataLink::GetActiveRecord() const {
    if (!FDataSource || FDataSource->GetState() == dsSetKey) return 0;
    TDataSet* ds = FDataSource->GetDataSet();
    return ds ? ds->FActiveRecord - FFirstRecord : 0;
}

void TDataLink::SetActiveRecord(int Value) {
    if (!FDataSource || FDataSource->GetState() == dsSetKey) return;
    TDataSet* ds = FDataSource->GetDataSet();
    if (!ds) return;
    // Only records the ring holds can be made active.
    int target = Value + FFirstRecord;
    if (target >= 0 && target < ds->FRecordCount) ds->FActiveRecord = target;
}

int TDataLink::GetRecordCount() const {
    if (!FDataSource) return 0;
    if (FDataSource->GetState() == dsSetKey) return 1;
    TDataSet* ds = FDataSource->GetDataSet();
    if (!ds) return 0;
    return std::min(ds->FRecordCount, FBufferCount);
}

void TDataLink::SetBufferCount(int Value) {
    if (Value < 1) Value = 1;
    if (FBufferCount == Value) return;
    FBufferCount = Value;
    if (FActive) {
        TDataSet* ds = GetDataSet();
        ds->UpdateBufferCount();
        UpdateRange();
    }
}

void TDataLink::UpdateRange() {
    TDataSet* ds = GetDataSet();
    if (!ds) return;
    int min = std::max(ds->FActiveRecord - FBufferCount + 1, 0);
    int max = std::max(ds->FBufferCount - FBufferCount, 0);
    if (max > ds->FActiveRecord) max = ds->FActiveRecord;
    if (FFirstRecord < min) FFirstRecord = min;
    if (FFirstRecord > max) FFirstRecord = max;
    if (FFirstRecord != 0 && ds->FActiveRecord - FFirstRecord < FBufferCount - 1) --FFirstRecord;
}

void TDataLink::SetActive(bool Value) {
    if (FActive == Value) return;
    FActive = Value;
    if (Value)
        UpdateRange();
    else
        FFirstRecord = 0;
    ActiveChanged();
}

void TDataLink::SetEditing(bool Value) {
    if (FEditing == Value) return;
    FEditing = Value;
    EditingChanged();
}

void TDataLink::UpdateState() {
    SetActive(FDataSource && FDataSource->GetState() != dsInactive);
    SetEditing(FDataSource && IsEditMode(FDataSource->GetState()) && !FReadOnly);
}

void TDataLink::DataEvent(TDataEvent Event, std::intptr_t Info) {
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!FActive) return;
    switch (Event) {
        case deFieldChange:
        case deRecordChange:
            if (!FUpdating) RecordChanged(reinterpret_cast<TField*>(Info));
            break;
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange: {
            int count = 0;
            if (FDataSource->GetState() != dsSetKey) {
                TDataSet* ds = FDataSource->GetDataSet();
                int active = ds->FActiveRecord;
                int first = FFirstRecord + static_cast<int>(Info);
                int last = first + FBufferCount - 1;
                if (active > last)
                    count = active - last;
                else if (active < first)
                    count = active - first;
                FFirstRecord = first + count;
            }
            if (Event == deDataSetChange)
                DataSetChanged();
            else if (Event == deDataSetScroll)
                DataSetScrolled(count);
            else
                LayoutChanged();
            break;
        }
        case deUpdateRecord: UpdateRecord(); break;
        case deCheckBrowseMode: CheckBrowseMode(); break;
        case deFocusControl: FocusControl(reinterpret_cast<TField**>(Info)); break;
        default: break;
    }
}

}  // namespace Db
