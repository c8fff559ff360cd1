// Root of the class hierarchy: TObject, its metaclass and TPersistent.
//
// Every framework class carries a TMetaClass: its name, its parent's metaclass,
// an optional factory (components are created by the form reader through it)
// and a slot the component framework fills with the published-property table.
// A class declares itself once with RTL_CLASS in its body and RTL_CLASS_IMPL in
// one source file.
#pragma once

#include <functional>

#include "Platform/rtl/SysUtils.h"

namespace Vcl {
class TFiler;  // defined by the component framework (form files)
}

namespace Rtl {

class TObject;
class TPersistent;
using TFiler = Vcl::TFiler;

struct TMetaClass {
    const char* Name;
    const TMetaClass* Parent;
    // Creates an instance with the given owner (a component owner, or null); null
    // for classes that cannot be created by name.
    TObject* (*Factory)(TObject* owner);
    // Published-property table; owned and interpreted by the component framework.
    const void* Published = nullptr;

    bool InheritsFrom(const TMetaClass* other) const noexcept {
        for (auto* c = this; c; c = c->Parent)
            if (c == other) return true;
        return false;
    }
    const char* ClassName() const noexcept { return Name; }
};
using TClass = const TMetaClass*;

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    static const TMetaClass& StaticClass();
    virtual TClass ClassType() const { return &StaticClass(); }
    String ClassName() const { return ClassType()->Name; }
    bool InheritsFrom(TClass cls) const { return ClassType()->InheritsFrom(cls); }
    // The framework's "is" test: true for instances of cls and of its descendants.
    template <class T>
    bool Is() const { return InheritsFrom(&T::StaticClass()); }
};

// Declares the metaclass accessors inside a class body.
#define RTL_CLASS(Cls, Base)                                                       \
public:                                                                            \
    using inherited = Base;                                                        \
    static const ::Rtl::TMetaClass& StaticClass();                                 \
    ::Rtl::TClass ClassType() const override { return &StaticClass(); }            \
private:

// Defines the metaclass of a class that cannot be created by name.
#define RTL_CLASS_IMPL(Cls, Base)                                                  \
    const ::Rtl::TMetaClass& Cls::StaticClass() {                                  \
        static ::Rtl::TMetaClass mc{#Cls, &Base::StaticClass(), nullptr};          \
        return mc;                                                                 \
    }

// Event with a sender only.
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TPersistent : public TObject {
    RTL_CLASS(TPersistent, TObject)
public:
    // Copies Source into this object; falls back to Source->AssignTo(this), and
    // raises EConvertError "Cannot assign a %s to a %s" when neither side knows how.
    virtual void Assign(TPersistent* Source);
    virtual String GetNamePath() const;

protected:
    virtual void AssignTo(TPersistent* Dest) const;
    virtual void DefineProperties(TFiler* Filer) {}
    virtual TPersistent* GetOwner() const { return nullptr; }
    friend class Vcl::TFiler;

public:
    // Form files call DefineProperties through this.
    void CallDefineProperties(TFiler* Filer) { DefineProperties(Filer); }
    TPersistent* Owner() const { return GetOwner(); }
};

}  // namespace Rtl
