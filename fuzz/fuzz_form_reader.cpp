// Form files read from outside: reading either succeeds or raises a filer
// error and leaves nothing behind; what was read writes out to a text that
// reads back into components writing the very same text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Platform/vcl/Classes.h"

using namespace Vcl;

namespace {

enum TFuzzMode : Byte { fzOff, fzOn, fzAuto = 7 };
VCL_ENUM(TFuzzMode, fzOff, fzOn, fzAuto)
enum TFuzzFlag : Byte { ffA, ffB, ffC };
VCL_ENUM(TFuzzFlag, ffA, ffB, ffC)
using TFuzzFlags = Rtl::TSet<TFuzzFlag>;
VCL_SET(TFuzzFlags)

class TFuzzPart;

class TFuzzItem : public TCollectionItem {
    VCL_CLASS(TFuzzItem, TCollectionItem)
public:
    String Name;
    int Size = 0;
    TComponent* Target = nullptr;
    Variant Value;
    void Assign(TPersistent* Source) override {
        auto* s = dynamic_cast<TFuzzItem*>(Source);
        if (!s) return TCollectionItem::Assign(Source);
        Name = s->Name;
        Size = s->Size;
        Target = s->Target;
        Value = s->Value;
    }
};
VCL_ITEM_IMPL(TFuzzItem, TCollectionItem) {
    Prop("Name", &TFuzzItem::Name, &TFuzzItem::Name);
    Prop("Size", &TFuzzItem::Size, &TFuzzItem::Size).Default(0);
    Prop("Target", &TFuzzItem::Target, &TFuzzItem::Target);
    Prop("Value", &TFuzzItem::Value, &TFuzzItem::Value);
}

class TFuzzThing : public TComponent {
    VCL_CLASS(TFuzzThing, TComponent)
public:
    explicit TFuzzThing(TComponent* AOwner)
        : TComponent(AOwner), Lines(new Rtl::TStringList), Items(new TOwnedCollection(this, &TFuzzItem::StaticClass())) {}
    ~TFuzzThing() override {
        delete Items;
        delete Lines;
    }
    int Count = 0;
    Byte Small = 0;
    Word Medium = 0;
    Int64 Big = 0;
    bool Flag = false;
    WordBool ComFlag;
    double Ratio = 0;
    float Single = 0;
    TDateTime When;
    String Title;
    WideString WideTitle;
    Variant Value;
    TFuzzMode Mode = fzOff;
    TFuzzFlags Flags;
    Rtl::TStringList* Lines;
    TOwnedCollection* Items;
    TFuzzThing* Link = nullptr;
    TComponent* Any = nullptr;
    TNotifyEvent OnChange;
    std::vector<Byte> Blob;
    std::vector<String> Words;

    Rtl::TStrings* GetLines() const { return Lines; }
    TOwnedCollection* GetItems() const { return Items; }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        if (Operation != opRemove) return;
        if (AComponent == Link) Link = nullptr;
        if (AComponent == Any) Any = nullptr;
        for (int i = 0; i < Items->GetCount(); ++i) {
            auto* item = static_cast<TFuzzItem*>(Items->GetItem(i));
            if (item->Target == AComponent) item->Target = nullptr;
        }
    }
    void DefineProperties(TFiler* Filer) override {
        Filer->DefineBinaryProperty(
            "Blob",
            [this](Rtl::TStream* s) {
                Blob.resize(static_cast<std::size_t>(s->GetSize()));
                if (!Blob.empty()) s->ReadBuffer(Blob.data(), static_cast<Int64>(Blob.size()));
            },
            [this](Rtl::TStream* s) { s->WriteBuffer(Blob.data(), static_cast<Int64>(Blob.size())); }, !Blob.empty());
        Filer->DefineProperty(
            "Words",
            [this](TReader* r) {
                Words.clear();
                r->ReadListBegin();
                while (!r->EndOfList()) Words.push_back(r->NextValue() == vaIdent ? r->ReadIdent() : r->ReadString());
                r->ReadListEnd();
            },
            [this](TWriter* w) {
                w->WriteListBegin();
                for (auto& word : Words) w->WriteString(word);
                w->WriteListEnd();
            },
            !Words.empty());
        Filer->DefineProperty("Old", [this](TReader* r) { Value = r->ReadVariant(); }, nullptr, false);
    }
};
VCL_COMPONENT_IMPL(TFuzzThing, TComponent) {
    Prop("Count", &TFuzzThing::Count, &TFuzzThing::Count).Default(0);
    Prop("Small", &TFuzzThing::Small, &TFuzzThing::Small);
    Prop("Medium", &TFuzzThing::Medium, &TFuzzThing::Medium).Default(0);
    Prop("Big", &TFuzzThing::Big, &TFuzzThing::Big).Default(0);
    Prop("Flag", &TFuzzThing::Flag, &TFuzzThing::Flag).Default(false);
    Prop("ComFlag", &TFuzzThing::ComFlag, &TFuzzThing::ComFlag).Default(false);
    Prop("Ratio", &TFuzzThing::Ratio, &TFuzzThing::Ratio);
    Prop("Single", &TFuzzThing::Single, &TFuzzThing::Single);
    Prop("When", &TFuzzThing::When, &TFuzzThing::When);
    Prop("Title", &TFuzzThing::Title, &TFuzzThing::Title);
    Prop("WideTitle", &TFuzzThing::WideTitle, &TFuzzThing::WideTitle);
    Prop("Value", &TFuzzThing::Value, &TFuzzThing::Value);
    Prop("Mode", &TFuzzThing::Mode, &TFuzzThing::Mode).Default(fzOff);
    Prop("Flags", &TFuzzThing::Flags, &TFuzzThing::Flags).Default(TFuzzFlags{});
    Prop("Lines", &TFuzzThing::GetLines);
    Prop("Items", &TFuzzThing::GetItems);
    Prop("Link", &TFuzzThing::Link, [](TFuzzThing* t, TFuzzThing* v) {
        if (v) v->FreeNotification(t);
        t->Link = v;
    });
    Prop("Any", &TFuzzThing::Any, [](TFuzzThing* t, TComponent* v) {
        if (v) v->FreeNotification(t);
        t->Any = v;
    });
    Event("OnChange", &TFuzzThing::OnChange, &TFuzzThing::OnChange, "TNotifyEvent");
}

// Owns and writes the components read inside it.
class TFuzzBox : public TComponent {
    VCL_CLASS(TFuzzBox, TComponent)
public:
    explicit TFuzzBox(TComponent* AOwner) : TComponent(AOwner) {}
    void GetChildren(const TGetChildProc& Proc, TComponent* Root) override {
        for (int i = 0; i < GetComponentCount(); ++i) Proc(GetComponent(i));
    }
    TComponent* GetChildOwner() override { return this; }
};
VCL_COMPONENT_IMPL(TFuzzBox, TComponent) {}

const TEventHandlers& Handlers() {
    static TEventHandlers* handlers = [] {
        auto* h = new TEventHandlers;
        h->Add<TNotifyEvent>("DoChange", [](TObject*) {});
        h->Add<TNotifyEvent>("DoCreate", [](TObject*) {});
        return h;
    }();
    return *handlers;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

// Reads text into a fresh module; false when the reader refused it, in which
// case nothing may be left behind.
bool Read(std::string_view text, TDataModule& root) {
    try {
        ReadComponentFromText(text, &root, &Handlers());
        return true;
    } catch (const Rtl::EStreamError&) {
    } catch (const EComponentError&) {
    }
    Check(root.GetComponentCount() == 0);
    Check(!root.GetComponentState().Contains(csLoading) && !root.GetComponentState().Contains(csReading));
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool registered = [] {
        RegisterClasses({&TFuzzThing::StaticClass(), &TFuzzBox::StaticClass(), &TDataModule::StaticClass()});
        Application->SetOnException([](TObject*, const std::exception&) {});
        return true;
    }();
    (void)registered;

    std::string_view text(reinterpret_cast<const char*>(data), size);
    TDataModule first(nullptr);
    if (!Read(text, first)) return 0;
    const String once = ComponentToText(&first);
    TDataModule second(nullptr);
    Check(Read(once, second));
    Check(ComponentToText(&second) == once);
    return 0;
}
