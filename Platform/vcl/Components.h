// TComponent, TDataModule and the class registry.
//
// A component belongs to its owner, which frees it; it has a name that is
// unique (case-insensitively) among the components of its owner, a tag and a
// state. Components tell each other about insertions and removals through
// Notification: the owner's components always hear about each other, other
// components only when they asked with FreeNotification.
//
// Destruction follows the framework's order. `delete component` first marks
// the component and everything it owns csDestroying (BeforeDestruction, while
// the object is still whole), then runs the destructors; the last one,
// ~TComponent, tells the components that asked for a free notification, frees
// the owned components (last first, each announced to its siblings with
// opRemove before it goes) and finally leaves its owner, which announces the
// removal to the owner's components. A Notification override may therefore be
// told about a component whose own destructors have already run: compare the
// pointer, do not call into it.
#pragma once

#include <functional>
#include <initializer_list>
#include <new>
#include <vector>

#include "Platform/vcl/TypInfo.h"

namespace Vcl {

using Rtl::TNotifyEvent;

class TComponent;
class TFiler;
class TReader;
class TWriter;

RTL_DECLARE_EXCEPTION(EComponentError, Exception)

enum TOperation : Byte { opInsert, opRemove };

enum TComponentStateFlag : Byte {
    csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor, csUpdating, csFixups,
    csFreeNotification, csInline, csDesignInstance
};
using TComponentState = Rtl::TSet<TComponentStateFlag>;

using TGetChildProc = std::function<void(TComponent* Child)>;

// True for a framework identifier: a letter or '_' followed by letters, digits or '_'.
bool IsValidIdent(std::string_view Ident) noexcept;

class TComponent : public TPersistent {
    VCL_CLASS(TComponent, TPersistent)
    friend class TReader;
    friend class TWriter;

public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    // `delete` runs BeforeDestruction on the whole object before any destructor.
    void operator delete(TComponent* p, std::destroying_delete_t);
    virtual void BeforeDestruction();

    TComponent* GetOwner() const override { return FOwner; }
    const String& GetName() const noexcept { return FName; }
    // EComponentError "'%s' is not a valid component name" or "A component
    // named %s already exists"; the empty name is always allowed.
    virtual void SetName(const String& NewName);
    NativeInt GetTag() const noexcept { return FTag; }
    void SetTag(NativeInt Value) noexcept { FTag = Value; }
    TComponentState GetComponentState() const noexcept { return FComponentState; }

    int GetComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
    // EListError "List index out of bounds (%d)".
    TComponent* GetComponent(int Index) const;
    int GetComponentIndex() const;
    void SetComponentIndex(int Value);
    // The owned component with this name (case-insensitive), or null.
    TComponent* FindComponent(std::string_view AName) const;

    // Takes AComponent from its current owner, if any.
    void InsertComponent(TComponent* AComponent);
    void RemoveComponent(TComponent* AComponent);
    // Frees every owned component, last first.
    void DestroyComponents();
    // Marks this component and everything it owns csDestroying.
    void Destroying();

    // Asks for a Notification(this, opRemove) when AComponent is freed (and tells
    // AComponent when this one is freed).
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    void SetDesigning(bool Value, bool SetChildren = true);
    void Updating() { FComponentState.Include(csUpdating); }
    void Updated() { FComponentState.Exclude(csUpdating); }

    String GetNamePath() const override { return FName; }

    // Form files. GetChildren lists the components written inside this one;
    // components read inside this one are owned by GetChildOwner (null: the
    // root) and get GetChildParent as their parent component.
    virtual void GetChildren(const TGetChildProc& Proc, TComponent* Root) {}
    virtual TComponent* GetChildOwner() { return nullptr; }
    virtual TComponent* GetChildParent() { return this; }
    virtual bool HasParent() const { return false; }
    virtual TComponent* GetParentComponent() const { return nullptr; }
    virtual void SetParentComponent(TComponent* Value) {}

protected:
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Called once after a form file has been read completely; clears csLoading.
    virtual void Loaded();
    virtual void ValidateRename(TComponent* AComponent, const String& CurName, const String& NewName);
    virtual void ValidateInsert(TComponent* AComponent) {}
    virtual void ValidateContainer(TComponent* AComponent) { AComponent->ValidateInsert(this); }

private:
    void RemoveNotification(TComponent* AComponent);
    void RemoveFreeNotifications();

    TComponent* FOwner = nullptr;
    String FName;
    NativeInt FTag = 0;
    TComponentState FComponentState;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
};

// The usual root of a form file: writes every component it owns (those without
// a parent component) and fires OnCreate once its form file has been read and
// OnDestroy when it is freed.
class TDataModule : public TComponent {
    VCL_CLASS(TDataModule, TComponent)
public:
    explicit TDataModule(TComponent* AOwner);
    void BeforeDestruction() override;
    void GetChildren(const TGetChildProc& Proc, TComponent* Root) override;

    // Fires OnCreate (not while designing); an exception goes to
    // Application->HandleException.
    virtual void DoCreate();
    virtual void DoDestroy();

    const TNotifyEvent& GetOnCreate() const noexcept { return FOnCreate; }
    void SetOnCreate(TNotifyEvent Value) { FOnCreate = std::move(Value); }
    const TNotifyEvent& GetOnDestroy() const noexcept { return FOnDestroy; }
    void SetOnDestroy(TNotifyEvent Value) { FOnDestroy = std::move(Value); }

    // Where the designer shows the module (form-file Left, Top, Width, Height).
    int GetDesignLeft() const noexcept { return FDesignLeft; }
    void SetDesignLeft(int Value) noexcept { FDesignLeft = Value; }
    int GetDesignTop() const noexcept { return FDesignTop; }
    void SetDesignTop(int Value) noexcept { FDesignTop = Value; }
    int GetDesignWidth() const noexcept { return FDesignWidth; }
    void SetDesignWidth(int Value) noexcept { FDesignWidth = Value; }
    int GetDesignHeight() const noexcept { return FDesignHeight; }
    void SetDesignHeight(int Value) noexcept { FDesignHeight = Value; }

protected:
    void DefineProperties(TFiler* Filer) override;

private:
    TNotifyEvent FOnCreate;
    TNotifyEvent FOnDestroy;
    int FDesignLeft = 0;
    int FDesignTop = 0;
    int FDesignWidth = 0;
    int FDesignHeight = 0;
};

namespace Detail {
// The owner argument of a component factory; EComponentError when it is not a component.
TComponent* AsOwner(TObject* Owner);
}  // namespace Detail

// In one source file, followed by the published-property body: a component
// class that form files can create by name (it needs a constructor taking the owner).
#define VCL_COMPONENT_IMPL(Cls, Base)         \
    VCL_CLASS_IMPL_WITH_FACTORY_(Cls, Base,   \
        (+[](::Rtl::TObject* o) -> ::Rtl::TObject* { return new Cls(::Vcl::Detail::AsOwner(o)); }))

// ---- Class registry ---------------------------------------------------------------------

// Registers a class and its ancestors up to TPersistent so that form files can
// name them. EFilerError "A class named %s already exists" when another class
// has the name.
void RegisterClass(TClass AClass);
void RegisterClasses(std::initializer_list<TClass> Classes);
void UnRegisterClass(TClass AClass);
template <class T>
void RegisterClass() { RegisterClass(&T::StaticClass()); }
// The registered class of that name (case-insensitive): EClassNotFound
// "Class %s not found" / null.
TClass FindClass(std::string_view ClassName);
TClass GetClass(std::string_view ClassName);

}  // namespace Vcl
