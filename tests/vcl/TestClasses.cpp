#include "TestClasses.h"

#include <algorithm>

namespace VclTest {

std::vector<String>& Log() {
    static std::vector<String> log;
    return log;
}

// ---- TSampleItem / TSampleItems ----------------------------------------------------------

VCL_ITEM_IMPL(TSampleItem, TCollectionItem) {
    Prop("Name", &TSampleItem::GetName, &TSampleItem::SetName);
    Prop("Weight", &TSampleItem::GetWeight, &TSampleItem::SetWeight).Default(0);
    Prop("Target", &TSampleItem::GetTarget, &TSampleItem::SetTarget);
}

void TSampleItem::SetTarget(TSample* v) {
    FTarget = v;
    TCollection* c = GetCollection();
    if (auto* owner = dynamic_cast<TComponent*>(c ? c->GetOwner() : nullptr); owner && v) v->FreeNotification(owner);
}

void TSampleItem::Assign(TPersistent* Source) {
    if (auto* s = dynamic_cast<TSampleItem*>(Source)) {
        FName = s->FName;
        FWeight = s->FWeight;
        FTarget = s->FTarget;
        return;
    }
    TCollectionItem::Assign(Source);
}

VCL_CLASS_IMPL(TSampleItems, TOwnedCollection) {}

void TSampleItems::Update(TCollectionItem* Item) {
    Updates.push_back(Item ? static_cast<TSampleItem*>(Item)->GetName() : String("nil"));
}

void TSampleItems::Notify(TCollectionItem* Item, TCollectionNotification Action) {
    static const char* names[] = {"added", "extracting", "deleting"};
    Notes.push_back(String(names[Action]) + ":" + static_cast<TSampleItem*>(Item)->GetName());
}

// ---- TSample ---------------------------------------------------------------------------------

int TSample::Alive = 0;

VCL_COMPONENT_IMPL(TSample, TComponent) {
    Prop("Count", &TSample::GetCount, &TSample::SetCount).Default(7);
    Prop("Small", &TSample::GetSmall, &TSample::SetSmall).Default(0);
    Prop("Wide16", &TSample::GetWide16, &TSample::SetWide16).Default(0);
    Prop("Big", &TSample::GetBig, &TSample::SetBig).Default(0);
    Prop("Flag", &TSample::GetFlag, &TSample::SetFlag).Default(false);
    Prop("ComFlag", &TSample::GetComFlag, &TSample::SetComFlag);
    Prop("Ratio", &TSample::GetRatio, &TSample::SetRatio);
    Prop("Single", &TSample::GetSingle, &TSample::SetSingle);
    Prop("When", &TSample::GetWhen, &TSample::SetWhen);
    Prop("Title", &TSample::GetTitle, [](TSample* s, const String& v) {
        s->StateAtTitle = s->GetComponentState();
        s->SetTitle(v);
    });
    Prop("WideTitle", &TSample::GetWideTitle, &TSample::SetWideTitle);
    Prop("Value", &TSample::GetValue, &TSample::SetValue);
    Prop("Mode", &TSample::GetMode, &TSample::SetMode).Default(fmFast);
    Prop("Options", &TSample::GetOptions, &TSample::SetOptions).Default(TOptions{opA});
    Prop("Lines", &TSample::GetLines, &TSample::SetLines);
    Prop("Link", &TSample::GetLink, &TSample::SetLink);
    Prop("Items", &TSample::GetItems, &TSample::SetItems);
    Prop("Hidden", &TSample::GetHidden, &TSample::SetHidden).Stored(false);
    Prop("Maybe", &TSample::GetMaybe, &TSample::SetMaybe).Stored(&TSample::IsMaybeStored);
    Prop("ReadOnly", &TSample::GetReadOnly);
    Prop("FailLoad", &TSample::GetFailLoad, &TSample::SetFailLoad).Default(false);
    Event("OnChange", &TSample::GetOnChange, &TSample::SetOnChange, "TNotifyEvent");
    Event("OnValidate", &TSample::GetOnValidate, &TSample::SetOnValidate, "TValidateEvent");
}

TSample::TSample(TComponent* AOwner)
    : TComponent(AOwner), FLines(new Rtl::TStringList), FItems(new TSampleItems(this)) {
    ++Alive;
}

TSample::~TSample() {
    DestroyingInDestructor = GetComponentState().Contains(csDestroying);
    delete FItems;
    delete FLines;
    --Alive;
}

void TSample::SetLink(TSample* v) {
    if (v) v->FreeNotification(this);
    FLink = v;
}

void TSample::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == FLink) FLink = nullptr;
    for (int i = 0; i < FItems->GetCount(); ++i)
        if (FItems->Item(i)->GetTarget() == AComponent) FItems->Item(i)->SetTarget(nullptr);
}

void TSample::Loaded() {
    TComponent::Loaded();
    Log().push_back("Loaded:" + GetName() + (FLink ? "->" + FLink->GetName() : String()));
    if (FFailLoad) throw Rtl::EInvalidOperation("cannot open " + GetName());
}

void TSample::DefineProperties(TFiler* Filer) {
    TComponent::DefineProperties(Filer);
    StateWhenWritten = GetComponentState();
    Filer->DefineBinaryProperty(
        "Blob",
        [this](Rtl::TStream* s) {
            Blob.resize(static_cast<std::size_t>(s->GetSize()));
            if (!Blob.empty()) s->ReadBuffer(Blob.data(), static_cast<Int64>(Blob.size()));
        },
        [this](Rtl::TStream* s) { s->WriteBuffer(Blob.data(), static_cast<Int64>(Blob.size())); }, !Blob.empty());
    // Read from old files, never written again.
    Filer->DefineProperty("Legacy", [this](TReader* r) { Legacy = r->ReadString(); }, nullptr, false);
    Filer->DefineProperty(
        "Pairs",
        [this](TReader* r) {
            Pairs.clear();
            r->ReadListBegin();
            while (!r->EndOfList()) {
                String name = r->ReadString();
                int n = r->ReadInteger();
                Pairs.emplace_back(name, n);
            }
            r->ReadListEnd();
        },
        [this](TWriter* w) {
            w->WriteListBegin();
            for (auto& [name, n] : Pairs) {
                w->WriteString(name);
                w->WriteInteger(n);
            }
            w->WriteListEnd();
        },
        !Pairs.empty());
}

// ---- TContainer --------------------------------------------------------------------------------

VCL_COMPONENT_IMPL(TContainer, TComponent) {}

void TContainer::GetChildren(const TGetChildProc& Proc, TComponent* Root) {
    for (int i = 0; i < GetComponentCount(); ++i) Proc(GetComponent(i));
}

void TContainer::Loaded() {
    TComponent::Loaded();
    Log().push_back("Loaded:" + GetName());
}

// ---- TPart / THolder -----------------------------------------------------------------------------

VCL_COMPONENT_IMPL(TPart, TComponent) {
    Prop("Size", &TPart::GetSize, &TPart::SetSize).Default(0);
}

TComponent* TPart::GetParentComponent() const { return FHolder; }

void TPart::SetParentComponent(TComponent* Value) {
    if (auto* holder = dynamic_cast<THolder*>(Value)) {
        FHolder = holder;
        holder->Parts.push_back(this);
    }
}

void TPart::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FHolder) FHolder = nullptr;
}

VCL_COMPONENT_IMPL(THolder, TComponent) {}

void THolder::GetChildren(const TGetChildProc& Proc, TComponent* Root) {
    for (TPart* p : Parts) Proc(p);
}

void THolder::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) Parts.erase(std::remove(Parts.begin(), Parts.end(), AComponent), Parts.end());
}

void RegisterTestClasses() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterClasses({&TSample::StaticClass(), &TContainer::StaticClass(), &TPart::StaticClass(),
                     &THolder::StaticClass(), &TDataModule::StaticClass()});
}

}  // namespace VclTest
