// TDataSource joins a dataset to its data links; TDataLink is what a
// data-aware control or a detail dataset holds to hear about the dataset.
#pragma once

#include <vector>

#include "Platform/db/DBTypes.h"
#include "Platform/vcl/Components.h"

namespace Db {

class TDataSource : public Vcl::TComponent {
    VCL_CLASS(TDataSource, Vcl::TComponent)
    friend class TDataSet;
    friend class TDataLink;

public:
    explicit TDataSource(Vcl::TComponent* AOwner);
    ~TDataSource() override;

    // Puts the dataset in edit mode when AutoEdit is set and it is browsing.
    void Edit();
    // True when DataSet leads back to this data source through the datasets'
    // own data sources (linking it would make a circle).
    bool IsLinkedTo(TDataSet* DataSet) const;

    TDataSet* GetDataSet() const noexcept { return FDataSet; }
    // EDatabaseError "Circular datalinks are not allowed" when linking would
    // make a dataset depend on itself.
    void SetDataSet(TDataSet* Value);
    bool GetAutoEdit() const noexcept { return FAutoEdit; }
    void SetAutoEdit(bool Value) noexcept { FAutoEdit = Value; }
    bool GetEnabled() const noexcept { return FEnabled; }
    void SetEnabled(bool Value);
    // The dataset's state while enabled, else dsInactive.
    TDataSetState GetState() const noexcept { return FState; }
    int GetDataLinkCount() const noexcept { return static_cast<int>(FDataLinks.size()); }
    TDataLink* GetDataLink(int Index) const { return FDataLinks.at(Index); }

    TDataChangeEvent OnDataChange;
    Rtl::TNotifyEvent OnStateChange;
    Rtl::TNotifyEvent OnUpdateData;

protected:
    void Notification(Vcl::TComponent* AComponent, Vcl::TOperation Operation) override;

private:
    void AddDataLink(TDataLink* DataLink);
    void RemoveDataLink(TDataLink* DataLink);
    void DataEvent(TDataEvent Event, std::intptr_t Info);
    void NotifyDataLinks(TDataEvent Event, std::intptr_t Info);
    void NotifyLinkTypes(TDataEvent Event, std::intptr_t Info, bool LinkType);
    void SetState(TDataSetState Value);
    void UpdateState();

    TDataSet* FDataSet = nullptr;
    std::vector<TDataLink*> FDataLinks;
    TDataSetState FState = dsInactive;
    bool FEnabled = true;
    bool FAutoEdit = true;
};

// The receiving end. A link shows BufferCount records of the dataset's ring
// (a grid several, a single-field control one); FirstRecord tracks where its
// window starts inside the ring so that ActiveRecord is relative to it.
class TDataLink : public Rtl::TPersistent {
    RTL_CLASS(TDataLink, Rtl::TPersistent)
    friend class TDataSet;
    friend class TDataSource;

public:
    TDataLink() = default;
    ~TDataLink() override;

    // Asks the data source to edit; true when the link is then editing.
    bool Edit();
    // Collects pending control values into the record (UpdateData).
    void UpdateRecord();

    bool GetActive() const noexcept { return FActive; }
    int GetActiveRecord() const;
    void SetActiveRecord(int Value);
    int GetBufferCount() const noexcept { return FBufferCount; }
    void SetBufferCount(int Value);
    TDataSet* GetDataSet() const;
    TDataSource* GetDataSource() const noexcept { return FDataSource; }
    void SetDataSource(TDataSource* Value);
    bool GetDataSourceFixed() const noexcept { return FDataSourceFixed; }
    void SetDataSourceFixed(bool Value) noexcept { FDataSourceFixed = Value; }
    bool GetEditing() const noexcept { return FEditing; }
    bool GetReadOnly() const noexcept { return FReadOnly; }
    void SetReadOnly(bool Value);
    // Records of the ring visible to this link.
    int GetRecordCount() const;
    // Visual controls hear about changes after the non-visual links (details).
    bool GetVisualControl() const noexcept { return FVisualControl; }
    void SetVisualControl(bool Value) noexcept { FVisualControl = Value; }
    int GetFirstRecord() const noexcept { return FFirstRecord; }

protected:
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataEvent(TDataEvent Event, std::intptr_t Info);
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int Distance) { DataSetChanged(); }
    virtual void EditingChanged() {}
    virtual void FocusControl(TField** Field) {}
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField* Field) {}
    virtual void UpdateData() {}

private:
    void SetActive(bool Value);
    void SetEditing(bool Value);
    void UpdateState();
    void UpdateRange();

    TDataSource* FDataSource = nullptr;
    int FFirstRecord = 0;
    int FBufferCount = 1;
    bool FActive = false;
    bool FEditing = false;
    bool FReadOnly = false;
    bool FUpdating = false;
    bool FDataSourceFixed = false;
    bool FVisualControl = false;
};

// A link through which one dataset follows another (master/detail,
// parameters from a data source).
class TDetailDataLink : public TDataLink {
    RTL_CLASS(TDetailDataLink, TDataLink)
public:
    virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

}  // namespace Db
