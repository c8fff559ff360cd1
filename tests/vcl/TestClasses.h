// Components used by the framework's tests: one property of every kind, a
// collection, references, defined properties, nested children and a Loaded
// that can fail on request.
#pragma once

#include <string>
#include <vector>

#include "Platform/vcl/Classes.h"

namespace VclTest {

using namespace Vcl;
using Rtl::String;
using Rtl::TDateTime;
using Rtl::Variant;
using Rtl::WideString;

enum TFetchMode : Byte { fmFast, fmSafe, fmLazy = 5 };
VCL_ENUM(TFetchMode, fmFast, fmSafe, fmLazy)

enum TOption : Byte { opA, opB, opC };
VCL_ENUM(TOption, opA, opB, opC)
using TOptions = Rtl::TSet<TOption>;
VCL_SET(TOptions)

using TValidateEvent = std::function<void(TObject* Sender, bool& Accept)>;

// What happened, in order: "Loaded:Name", "Update:Items[1]", "Notify:X:remove:Y" ...
std::vector<String>& Log();

class TSample;

class TSampleItem : public TCollectionItem {
    VCL_CLASS(TSampleItem, TCollectionItem)
public:
    const String& GetName() const { return FName; }
    void SetName(const String& v) { FName = v; Changed(false); }
    int GetWeight() const { return FWeight; }
    void SetWeight(int v) { FWeight = v; Changed(false); }
    TSample* GetTarget() const { return FTarget; }
    // The owning component hears when the target goes.
    void SetTarget(TSample* v);
    String GetDisplayName() const override { return FName.empty() ? TCollectionItem::GetDisplayName() : FName; }
    void Assign(TPersistent* Source) override;

private:
    String FName;
    int FWeight = 0;
    TSample* FTarget = nullptr;
};

class TSampleItems : public TOwnedCollection {
    VCL_CLASS(TSampleItems, TOwnedCollection)
public:
    explicit TSampleItems(TPersistent* Owner) : TOwnedCollection(Owner, &TSampleItem::StaticClass()) {}
    TSampleItem* Item(int i) const { return static_cast<TSampleItem*>(GetItem(i)); }
    std::vector<String> Updates;  // "nil" or the item's name, one per Update call
    std::vector<String> Notes;    // "added:Name", "extracting:Name", "deleting:Name"

protected:
    void Update(TCollectionItem* Item) override;
    void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
};

class TSample : public TComponent {
    VCL_CLASS(TSample, TComponent)
public:
    explicit TSample(TComponent* AOwner);
    ~TSample() override;

    int GetCount() const { return FCount; }
    void SetCount(int v) { FCount = v; }
    Byte GetSmall() const { return FSmall; }
    void SetSmall(Byte v) { FSmall = v; }
    Word GetWide16() const { return FWide16; }
    void SetWide16(Word v) { FWide16 = v; }
    Int64 GetBig() const { return FBig; }
    void SetBig(Int64 v) { FBig = v; }
    bool GetFlag() const { return FFlag; }
    void SetFlag(bool v) { FFlag = v; }
    WordBool GetComFlag() const { return FComFlag; }
    void SetComFlag(WordBool v) { FComFlag = v; }
    double GetRatio() const { return FRatio; }
    void SetRatio(double v) { FRatio = v; }
    float GetSingle() const { return FSingle; }
    void SetSingle(float v) { FSingle = v; }
    TDateTime GetWhen() const { return FWhen; }
    void SetWhen(TDateTime v) { FWhen = v; }
    const String& GetTitle() const { return FTitle; }
    void SetTitle(const String& v) { FTitle = v; }
    const WideString& GetWideTitle() const { return FWideTitle; }
    void SetWideTitle(const WideString& v) { FWideTitle = v; }
    const Variant& GetValue() const { return FValue; }
    void SetValue(const Variant& v) { FValue = v; }
    TFetchMode GetMode() const { return FMode; }
    void SetMode(TFetchMode v) { FMode = v; }
    TOptions GetOptions() const { return FOptions; }
    void SetOptions(TOptions v) { FOptions = v; }
    Rtl::TStrings* GetLines() const { return FLines; }
    void SetLines(Rtl::TStrings* v) { FLines->Assign(v); }
    TSample* GetLink() const { return FLink; }
    void SetLink(TSample* v);
    TSampleItems* GetItems() const { return FItems; }
    void SetItems(TSampleItems* v) { FItems->Assign(v); }
    const String& GetHidden() const { return FHidden; }
    void SetHidden(const String& v) { FHidden = v; }
    int GetMaybe() const { return FMaybe; }
    void SetMaybe(int v) { FMaybe = v; }
    bool IsMaybeStored() const { return FMaybe != 42; }
    int GetReadOnly() const { return 99; }
    bool GetFailLoad() const { return FFailLoad; }
    void SetFailLoad(bool v) { FFailLoad = v; }
    const TNotifyEvent& GetOnChange() const { return FOnChange; }
    void SetOnChange(TNotifyEvent v) { FOnChange = std::move(v); }
    const TValidateEvent& GetOnValidate() const { return FOnValidate; }
    void SetOnValidate(TValidateEvent v) { FOnValidate = std::move(v); }

    // Defined properties: binary "Blob", the read-only "Legacy" and "Pairs",
    // a list of (name, number) written by the class itself.
    std::vector<Byte> Blob;
    String Legacy;
    std::vector<std::pair<String, int>> Pairs;
    // The states seen while a property was set or the component written.
    TComponentState StateAtTitle;
    TComponentState StateWhenWritten;
    bool DestroyingInDestructor = false;
    static int Alive;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void Loaded() override;
    void DefineProperties(TFiler* Filer) override;

private:
    int FCount = 7;
    Byte FSmall = 0;
    Word FWide16 = 0;
    Int64 FBig = 0;
    bool FFlag = false;
    WordBool FComFlag;
    double FRatio = 0;
    float FSingle = 0;
    TDateTime FWhen;
    String FTitle;
    WideString FWideTitle;
    Variant FValue;
    TFetchMode FMode = fmFast;
    TOptions FOptions{opA};
    Rtl::TStringList* FLines;
    TSample* FLink = nullptr;
    TSampleItems* FItems;
    String FHidden;
    int FMaybe = 0;
    bool FFailLoad = false;
    TNotifyEvent FOnChange;
    TValidateEvent FOnValidate;
};

// A component whose children are written inside it and owned by it.
class TContainer : public TComponent {
    VCL_CLASS(TContainer, TComponent)
public:
    explicit TContainer(TComponent* AOwner) : TComponent(AOwner) {}
    void GetChildren(const TGetChildProc& Proc, TComponent* Root) override;
    TComponent* GetChildOwner() override { return this; }

protected:
    void Loaded() override;
};

// A component written inside its parent (like a persistent field in its
// dataset) but owned by the root.
class TPart : public TComponent {
    VCL_CLASS(TPart, TComponent)
public:
    explicit TPart(TComponent* AOwner) : TComponent(AOwner) {}
    bool HasParent() const override { return true; }
    TComponent* GetParentComponent() const override;
    void SetParentComponent(TComponent* Value) override;
    int GetSize() const { return FSize; }
    void SetSize(int v) { FSize = v; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class THolder;
    class THolder* FHolder = nullptr;
    int FSize = 0;
};

class THolder : public TComponent {
    VCL_CLASS(THolder, TComponent)
public:
    explicit THolder(TComponent* AOwner) : TComponent(AOwner) {}
    void GetChildren(const TGetChildProc& Proc, TComponent* Root) override;
    std::vector<TPart*> Parts;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;
};

// Registers the classes above (once).
void RegisterTestClasses();

}  // namespace VclTest
