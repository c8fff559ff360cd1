#include "Platform/vcl/Components.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "Platform/vcl/Filer.h"
#include "Platform/vcl/Forms.h"

namespace Vcl {

bool IsValidIdent(std::string_view Ident) noexcept {
    if (Ident.empty()) return false;
    auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!alpha(Ident[0])) return false;
    for (char c : Ident.substr(1))
        if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
    return true;
}

namespace Detail {
TComponent* AsOwner(TObject* Owner) {
    if (!Owner) return nullptr;
    auto* c = dynamic_cast<TComponent*>(Owner);
    if (!c) throw EComponentError("A " + Owner->ClassName() + " cannot own a component");
    return c;
}
}  // namespace Detail

// ---- TComponent ---------------------------------------------------------------------------

VCL_CLASS_IMPL(TComponent, TPersistent) {
    Prop("Name", &TComponent::GetName, &TComponent::SetName).Stored(false);
    Prop("Tag", &TComponent::GetTag, &TComponent::SetTag).Default(0);
}

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    RemoveFreeNotifications();
    DestroyComponents();
    if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::operator delete(TComponent* p, std::destroying_delete_t) {
    p->BeforeDestruction();
    void* memory = dynamic_cast<void*>(p);
    p->~TComponent();
    ::operator delete(memory);
}

void TComponent::BeforeDestruction() { Destroying(); }

void TComponent::Destroying() {
    if (FComponentState.Contains(csDestroying)) return;
    FComponentState.Include(csDestroying);
    for (TComponent* c : FComponents) c->Destroying();
}

void TComponent::SetName(const String& NewName) {
    if (FName == NewName) return;
    if (!NewName.empty() && !IsValidIdent(NewName))
        throw EComponentError("'" + NewName + "' is not a valid component name");
    if (FOwner) FOwner->ValidateRename(this, FName, NewName);
    else ValidateRename(nullptr, FName, NewName);
    FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const String& CurName, const String& NewName) {
    // Also for a component about to be inserted, which has no owner yet.
    if (!AComponent || Rtl::SameText(CurName, NewName)) return;
    TComponent* existing = FindComponent(NewName);
    if (existing && existing != AComponent)
        throw EComponentError("A component named " + NewName + " already exists");
}

TComponent* TComponent::GetComponent(int Index) const {
    if (Index < 0 || Index >= GetComponentCount())
        throw Rtl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
    return FComponents[static_cast<std::size_t>(Index)];
}

int TComponent::GetComponentIndex() const {
    if (!FOwner) return -1;
    auto& list = FOwner->FComponents;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetComponentIndex(int Value) {
    if (!FOwner) return;
    int current = GetComponentIndex();
    if (current < 0) return;
    auto& list = FOwner->FComponents;
    Value = std::clamp(Value, 0, static_cast<int>(list.size()) - 1);
    if (Value == current) return;
    list.erase(list.begin() + current);
    list.insert(list.begin() + Value, this);
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* c : FComponents)
        if (Rtl::SameText(c->FName, AName)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->FOwner == this) return;
    for (const TComponent* o = this; o; o = o->FOwner)
        if (o == AComponent) throw EComponentError("A component cannot own itself or one of its owners");
    AComponent->ValidateContainer(this);
    ValidateRename(AComponent, "", AComponent->FName);
    if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
    if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
    Notification(AComponent, opInsert);
}

namespace {
// Components mostly go last first: search from the end.
bool EraseFromBack(std::vector<TComponent*>& list, TComponent* c) {
    auto it = std::find(list.rbegin(), list.rend(), c);
    if (it == list.rend()) return false;
    list.erase(std::next(it).base());
    return true;
}
}  // namespace

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (!AComponent || AComponent->FOwner != this) return;
    ValidateRename(AComponent, AComponent->FName, "");
    Notification(AComponent, opRemove);
    EraseFromBack(FComponents, AComponent);
    AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* instance = FComponents.back();
        // Announce the removal while the component is still whole, so that its
        // siblings drop their references before it goes.
        RemoveComponent(instance);
        if (!FComponents.empty() && FComponents.back() == instance) FComponents.pop_back();
        instance->FOwner = nullptr;
        delete instance;
    }
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent) RemoveFreeNotification(AComponent);
    // A notified component may free others: walk from the end and stay in range.
    int i = GetComponentCount() - 1;
    while (i >= 0) {
        FComponents[static_cast<std::size_t>(i)]->Notification(AComponent, Operation);
        --i;
        if (i >= GetComponentCount()) i = GetComponentCount() - 1;
    }
}

void TComponent::FreeNotification(TComponent* AComponent) {
    // Unlike the classic framework this registers also between components with
    // the same owner: a component that later changes owner stays watched.
    if (!AComponent || AComponent == this) return;
    // The two lists hold each other, so the shorter one answers whether the link exists.
    const auto& shorter = FFreeNotifies.size() <= AComponent->FFreeNotifies.size() ? FFreeNotifies
                                                                                  : AComponent->FFreeNotifies;
    TComponent* other = &shorter == &FFreeNotifies ? AComponent : this;
    if (std::find(shorter.begin(), shorter.end(), other) == shorter.end()) {
        FFreeNotifies.push_back(AComponent);
        AComponent->FFreeNotifies.push_back(this);
        AComponent->FComponentState.Include(csFreeNotification);
    }
    FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveNotification(TComponent* AComponent) { EraseFromBack(FFreeNotifies, AComponent); }

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    // The lists hold each other: an empty one means there is no link.
    if (!AComponent || FFreeNotifies.empty() || AComponent->FFreeNotifies.empty()) return;
    RemoveNotification(AComponent);
    AComponent->RemoveNotification(this);
}

void TComponent::RemoveFreeNotifications() {
    while (!FFreeNotifies.empty()) {
        TComponent* other = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        other->RemoveNotification(this);
        other->Notification(this, opRemove);
    }
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
    if (Value) FComponentState.Include(csDesigning);
    else FComponentState.Exclude(csDesigning);
    if (SetChildren)
        for (TComponent* c : FComponents) c->SetDesigning(Value, true);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

// ---- TDataModule ----------------------------------------------------------------------------

VCL_COMPONENT_IMPL(TDataModule, TComponent) {
    Event("OnCreate", &TDataModule::GetOnCreate, &TDataModule::SetOnCreate, "TNotifyEvent");
    Event("OnDestroy", &TDataModule::GetOnDestroy, &TDataModule::SetOnDestroy, "TNotifyEvent");
}

TDataModule::TDataModule(TComponent* AOwner) : TComponent(AOwner) {}

void TDataModule::BeforeDestruction() {
    TComponent::BeforeDestruction();
    DoDestroy();
}

void TDataModule::GetChildren(const TGetChildProc& Proc, TComponent* Root) {
    for (int i = 0; i < GetComponentCount(); ++i) {
        TComponent* c = GetComponent(i);
        if (!c->HasParent()) Proc(c);
    }
}

void TDataModule::DoCreate() {
    if (!FOnCreate || GetComponentState().Contains(csDesigning)) return;
    try {
        FOnCreate(this);
    } catch (...) {
        Application->HandleException(this);
    }
}

void TDataModule::DoDestroy() {
    if (!FOnDestroy) return;
    try {
        FOnDestroy(this);
    } catch (...) {
        Application->HandleException(this);
    }
}

void TDataModule::DefineProperties(TFiler* Filer) {
    TComponent::DefineProperties(Filer);
    auto define = [Filer](const char* name, int& field) {
        Filer->DefineProperty(
            name, [&field](TReader* r) { field = r->ReadInteger(); },
            [&field](TWriter* w) { w->WriteInteger(field); }, field != 0);
    };
    define("Left", FDesignLeft);
    define("Top", FDesignTop);
    define("Width", FDesignWidth);
    define("Height", FDesignHeight);
}

// ---- Class registry ----------------------------------------------------------------------------

namespace {
struct Registry {
    std::mutex Lock;
    std::map<String, TClass> Classes;  // by upper-case name
};
Registry& Classes() {
    static auto* r = new Registry;
    return *r;
}
}  // namespace

void RegisterClass(TClass AClass) {
    auto& r = Classes();
    std::lock_guard lock(r.Lock);
    for (TClass c = AClass; c && c != &TPersistent::StaticClass() && c != &TObject::StaticClass(); c = c->Parent) {
        auto& slot = r.Classes[Rtl::UpperCase(c->Name)];
        if (slot && slot != c) throw Rtl::EFilerError(String("A class named ") + c->Name + " already exists");
        slot = c;
    }
}

void RegisterClasses(std::initializer_list<TClass> Classes) {
    for (TClass c : Classes) RegisterClass(c);
}

void UnRegisterClass(TClass AClass) {
    auto& r = Classes();
    std::lock_guard lock(r.Lock);
    auto it = r.Classes.find(Rtl::UpperCase(AClass->Name));
    if (it != r.Classes.end() && it->second == AClass) r.Classes.erase(it);
}

TClass GetClass(std::string_view ClassName) {
    auto& r = Classes();
    std::lock_guard lock(r.Lock);
    auto it = r.Classes.find(Rtl::UpperCase(ClassName));
    return it == r.Classes.end() ? nullptr : it->second;
}

TClass FindClass(std::string_view ClassName) {
    TClass c = GetClass(ClassName);
    if (!c) throw Rtl::EClassNotFound("Class " + String(ClassName) + " not found");
    return c;
}

}  // namespace Vcl
