#include "Platform/vcl/Filer.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

#include "Platform/vcl/Forms.h"

namespace Vcl {

RTL_CLASS_IMPL(TFiler, TObject)
RTL_CLASS_IMPL(TReader, TFiler)
RTL_CLASS_IMPL(TWriter, TFiler)

namespace {

String LineMessage(int line, const String& msg) { return "Line " + std::to_string(line) + ": " + msg; }

// Messages the reader raises itself already name their line.
bool HasLine(const String& msg) {
    if (msg.compare(0, 5, "Line ") != 0) return false;
    std::size_t i = 5;
    while (i < msg.size() && msg[i] >= '0' && msg[i] <= '9') ++i;
    return i > 5 && i < msg.size() && msg[i] == ':';
}

std::vector<String> SplitDots(const String& s) {
    std::vector<String> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = s.find('.', start);
        parts.push_back(s.substr(start, dot == String::npos ? String::npos : dot - start));
        if (dot == String::npos) break;
        start = dot + 1;
    }
    return parts;
}

String JoinNames(const TTypeInfo* t) {
    String s;
    for (std::size_t i = 0; i < t->Names.size(); ++i) {
        if (i) s += ", ";
        s += t->Names[i];
    }
    return s;
}

String DescribeValue(const TFormValue& v) {
    switch (v.Kind) {
        case fvInteger: return "integer " + std::to_string(v.Integer) + (v.Suffix ? String(1, v.Suffix) : String());
        case fvFloat: return "number " + FormatFormFloat(v.Float, v.Suffix);
        case fvString: return "a string";
        case fvIdent: return "'" + v.Ident + "'";
        case fvSet: return "a set";
        case fvList: return "a list";
        case fvCollection: return "a collection";
        case fvBinary: return "binary data";
    }
    return "a value";
}

bool FloatIdent(const String& ident, double& out) {
    if (Rtl::SameText(ident, "NaN")) out = std::nan("");
    else if (Rtl::SameText(ident, "Inf")) out = HUGE_VAL;
    else if (Rtl::SameText(ident, "-Inf")) out = -HUGE_VAL;
    else return false;
    return true;
}

// TStrings keep their lines under the name "Strings", as the framework's lists do.
void DefineBuiltins(TPersistent* Instance, TFiler* Filer) {
    auto* strings = dynamic_cast<Rtl::TStrings*>(Instance);
    if (!strings) return;
    Filer->DefineProperty(
        "Strings",
        [strings](TReader* r) {
            r->ReadListBegin();
            strings->BeginUpdate();
            try {
                strings->Clear();
                while (!r->EndOfList()) strings->Add(r->ReadString());
            } catch (...) {
                strings->EndUpdate();
                throw;
            }
            strings->EndUpdate();
            r->ReadListEnd();
        },
        [strings](TWriter* w) {
            w->WriteListBegin();
            for (int i = 0; i < strings->Count(); ++i) w->WriteString(strings->Get(i));
            w->WriteListEnd();
        },
        strings->Count() > 0);
}

}  // namespace

// ---- TReaderWatch: learns when a component the reader knows goes away ------------------------

class TReaderWatch : public TComponent {
public:
    explicit TReaderWatch(TReader* Reader) : TComponent(nullptr), FReader(Reader) {}

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        if (Operation == opRemove && AComponent != this) FReader->ComponentFreed(AComponent);
    }

private:
    TReader* FReader;
};

// ---- TReader ------------------------------------------------------------------------------------

TReader::TReader(TStream* Stream) : FStream(Stream) {}

TReader::~TReader() = default;

void TReader::Error(int Line, const String& Message) const { throw Rtl::EReadError(LineMessage(Line, Message)); }

TComponent* TReader::ReadRootComponent(TComponent* Root) {
    String text;
    char buffer[65536];
    for (;;) {
        Int64 n = FStream->Read(buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    // Syntax errors surface here, before anything is created.
    TFormObject tree = ParseFormText(text);

    FWatch = std::make_unique<TReaderWatch>(this);
    FCreated.clear();
    FAlive.clear();
    FFixups.clear();
    FChain.clear();

    bool rootCreated = false;
    if (!Root) {
        TClass cls = GetClass(tree.ClassName);
        if (!cls) throw Rtl::EClassNotFound(LineMessage(tree.Line, "Class " + tree.ClassName + " not found"));
        if (!cls->InheritsFrom(&TComponent::StaticClass()) || !cls->Factory)
            Error(tree.Line, tree.ClassName + " is not a component class that form files can create");
        TObject* created;
        try {
            created = cls->Factory(nullptr);
        } catch (const Rtl::Exception& e) {
            Error(tree.Line, "cannot create " + tree.ClassName + ": " + e.Message());
        }
        Root = static_cast<TComponent*>(created);
        rootCreated = true;
    }
    FRoot = Root;
    FComponent = Root;
    Root->FComponentState += TComponentState{csLoading, csReading};
    try {
        if (!tree.Name.empty()) {
            try {
                Root->SetName(tree.Name);
            } catch (const Rtl::Exception& e) {
                Error(tree.Line, e.Message());
            }
        }
        ReadBody(Root, tree);
        DoFixups();
    } catch (...) {
        FreeCreated(Root, rootCreated);
        throw;
    }
    Root->FComponentState -= TComponentState{csReading, csFixups};
    for (TComponent* c : FCreated)
        if (FAlive.count(c)) c->FComponentState -= TComponentState{csReading, csFixups};

    // Everything exists and every reference is set: Loaded, the root first,
    // then in file order.
    for (std::size_t i = 0; i <= FCreated.size(); ++i) {
        TComponent* c = i == 0 ? Root : FCreated[i - 1];
        if (c != Root && !FAlive.count(c)) continue;
        FLoadingNow = c;
        const bool designing = c->GetComponentState().Contains(csDesigning);
        try {
            c->Loaded();
        } catch (...) {
            if (designing) {
                if (FLoadingNow) c->FComponentState.Exclude(csLoading);
                const bool alive = FLoadingNow != nullptr;
                FLoadingNow = nullptr;
                Application->HandleException(alive ? c : Root);
                continue;
            }
            FLoadingNow = nullptr;
            FreeCreated(Root, rootCreated);
            throw;
        }
        if (FLoadingNow) c->FComponentState.Exclude(csLoading);
        FLoadingNow = nullptr;
    }
    FWatch.reset();
    FCreated.clear();
    FAlive.clear();
    return Root;
}

void TReader::FreeCreated(TComponent* Root, bool RootCreated) {
    FFixups.clear();
    // Last first; a component frees what it owns, and the watch takes those
    // out of FAlive before their turn comes.
    for (std::size_t i = FCreated.size(); i-- > 0;) {
        TComponent* c = FCreated[i];
        if (FAlive.erase(c)) delete c;
    }
    FCreated.clear();
    if (RootCreated) {
        delete Root;
    } else {
        Root->FComponentState -= TComponentState{csLoading, csReading, csFixups};
    }
    FWatch.reset();
}

void TReader::ComponentFreed(TComponent* Component) {
    FAlive.erase(Component);
    if (FLoadingNow == Component) FLoadingNow = nullptr;
    if (!FFixups.empty()) DropFixupsUnder({Component});
}

void TReader::DropFixupsUnder(const std::vector<TPersistent*>& Gone) {
    auto touches = [&Gone](const Fixup& f) {
        for (TPersistent* g : Gone) {
            if (f.Instance == g || f.Component == g) return true;
            if (std::find(f.Chain.begin(), f.Chain.end(), g) != f.Chain.end()) return true;
        }
        return false;
    };
    FFixups.erase(std::remove_if(FFixups.begin(), FFixups.end(), touches), FFixups.end());
}

TComponent* TReader::ReadObject(const TFormObject& Node, TComponent* Owner, TComponent* Parent) {
    TClass cls = GetClass(Node.ClassName);
    if (!cls) throw Rtl::EClassNotFound(LineMessage(Node.Line, "Class " + Node.ClassName + " not found"));
    if (!cls->InheritsFrom(&TComponent::StaticClass()) || !cls->Factory)
        Error(Node.Line, Node.ClassName + " is not a component class that form files can create");
    TObject* created;
    try {
        created = cls->Factory(Owner);
    } catch (const Rtl::EAbort&) {
        throw;
    } catch (const Rtl::Exception& e) {
        Error(Node.Line, "cannot create " + Node.ClassName + ": " + e.Message());
    }
    auto* c = static_cast<TComponent*>(created);
    FCreated.push_back(c);
    FAlive.insert(c);
    FWatch->FreeNotification(c);
    c->FComponentState += TComponentState{csLoading, csReading};

    TComponent* saved = FComponent;
    FComponent = c;
    try {
        if (!Node.Name.empty()) c->SetName(Node.Name);
        if (Parent) c->SetParentComponent(Parent);
    } catch (const Rtl::EAbort&) {
        throw;
    } catch (const Rtl::Exception& e) {
        Error(Node.Line, e.Message());
    }
    ReadBody(c, Node);
    FComponent = saved;
    return c;
}

void TReader::ReadBody(TComponent* Instance, const TFormObject& Node) {
    ReadProperties(Instance, Node.Props, Instance->GetName().empty() ? Instance->ClassName() : Instance->GetName());
    if (Node.Children.empty()) return;
    TComponent* owner = Instance->GetChildOwner();
    if (!owner) owner = FRoot;
    TComponent* parent = Instance->GetChildParent();
    for (auto& child : Node.Children) ReadObject(child, owner, parent);
}

void TReader::ReadProperties(TPersistent* Instance, const std::vector<TFormProperty>& Props, const String& Path) {
    for (auto& p : Props) ReadProperty(Instance, p, Path);
}

void TReader::ReadProperty(TPersistent* Instance, const TFormProperty& Prop, const String& Path) {
    const String propPath = Path.empty() ? Prop.Name : Path + "." + Prop.Name;
    const std::size_t chainMark = FChain.size();
    try {
        // "Font.Name", "SQL.Strings": walk through the persistent objects the
        // properties on the way hold.
        std::vector<String> parts = SplitDots(Prop.Name);
        TPersistent* target = Instance;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            const TPropInfo* p = GetPropInfo(target, parts[i]);
            if (!p) Error(Prop.Line, "Property " + parts[i] + " does not exist in " + target->ClassName());
            TObject* obj = p->Kind() == tkClass ? GetObjectProp(target, p) : nullptr;
            auto* sub = dynamic_cast<TPersistent*>(obj);
            if (!sub || dynamic_cast<TComponent*>(obj))
                Error(Prop.Line, "Property " + parts[i] + " of " + target->ClassName() +
                                     " holds no object whose properties a form file can set");
            FChain.push_back(sub);
            target = sub;
        }
        const String& last = parts.back();
        if (const TPropInfo* p = GetPropInfo(target, last)) {
            ReadPropValue(target, p, Prop.Value, propPath);
        } else {
            // Not published: one of the class's defined properties, or unknown.
            String savedName = std::move(FPropName);
            String savedPath = std::move(FPropPath);
            const TFormValue* savedValue = FPropValue;
            bool savedFound = FPropFound;
            auto restore = [&] {
                FPropName = std::move(savedName);
                FPropPath = std::move(savedPath);
                FPropValue = savedValue;
                FPropFound = savedFound;
            };
            FPropName = last;
            FPropPath = propPath;
            FPropValue = &Prop.Value;
            FPropFound = false;
            bool found;
            try {
                DefineBuiltins(target, this);
                if (!FPropFound) target->CallDefineProperties(this);
                found = FPropFound;
            } catch (...) {
                restore();
                throw;
            }
            restore();
            if (!found) Error(Prop.Line, "Property " + Prop.Name + " does not exist in " + target->ClassName());
        }
    } catch (const Rtl::EAbort&) {
        FChain.resize(chainMark);
        throw;
    } catch (const Rtl::Exception& e) {
        FChain.resize(chainMark);
        if (HasLine(e.Message())) throw;
        Error(Prop.Line, "error reading " + propPath + ": " + e.Message());
    } catch (const std::exception& e) {
        FChain.resize(chainMark);
        Error(Prop.Line, "error reading " + propPath + ": " + e.what());
    }
    FChain.resize(chainMark);
}

namespace {

Variant ValueToVariant(const TFormValue& v, String& error) {
    switch (v.Kind) {
        case fvInteger:
            if (v.Suffix == 'c') return Variant(Rtl::Currency::FromScaled(v.Integer));
            if (v.Integer >= INT_MIN && v.Integer <= INT_MAX) return Variant(static_cast<int>(v.Integer));
            return Variant(static_cast<long long>(v.Integer));
        case fvFloat:
            if (v.Suffix == 'd') return Variant(TDateTime(v.Float));
            if (v.Suffix == 's') {
                if (std::fabs(v.Float) > FLT_MAX) {
                    error = "value " + FormatFormFloat(v.Float) + " is out of range for Single";
                    return {};
                }
                return Variant(static_cast<float>(v.Float));
            }
            return Variant(v.Float);
        case fvString: {
            if (FormStringNeedsWide(v)) {
                WideString w;
                if (!FormStringToWide(v, w, error)) return {};
                return Variant(w);
            }
            String s;
            if (!FormStringToString(v, s, error)) return {};
            return Variant(s);
        }
        case fvIdent: {
            double d;
            if (Rtl::SameText(v.Ident, "True")) return Variant(true);
            if (Rtl::SameText(v.Ident, "False")) return Variant(false);
            if (Rtl::SameText(v.Ident, "Null")) return Variant::Null();
            if (Rtl::SameText(v.Ident, "nil")) return Variant();
            if (FloatIdent(v.Ident, d)) return Variant(d);
            break;
        }
        default: break;
    }
    error = "a number, string, True, False, Null or nil expected but " + DescribeValue(v) + " found";
    return {};
}

}  // namespace

void TReader::ReadPropValue(TPersistent* Instance, const TPropInfo* Prop, const TFormValue& Value,
                            const String& Path) {
    const TTypeInfo* t = Prop->PropType();
    auto expected = [&](const String& what) {
        Error(Value.Line, "invalid value for " + Path + ": " + what + " expected but " + DescribeValue(Value) + " found");
    };
    auto writable = [&] {
        if (!Prop->IsWritable()) Error(Value.Line, "property " + Path + " is read-only");
    };
    switch (Prop->Kind()) {
        case tkInteger:
        case tkInt64:
            if (Value.Kind != fvInteger || Value.Suffix) expected("integer (" + t->Name + ")");
            if (Value.Integer < t->MinValue || Value.Integer > t->MaxValue)
                Error(Value.Line, "value " + std::to_string(Value.Integer) + " is out of range for " + Path + " (" +
                                      t->Name + ", " + std::to_string(t->MinValue) + ".." +
                                      std::to_string(t->MaxValue) + ")");
            writable();
            SetOrdProp(Instance, Prop, Value.Integer);
            return;
        case tkEnumeration: {
            if (Value.Kind != fvIdent) expected("one of " + JoinNames(t));
            Int64 ord;
            if (!TryGetEnumValue(t, Value.Ident, ord))
                Error(Value.Line, "invalid value '" + Value.Ident + "' for " + Path + ": one of " + JoinNames(t) +
                                      " expected");
            writable();
            SetOrdProp(Instance, Prop, ord);
            return;
        }
        case tkSet: {
            if (Value.Kind != fvSet) expected("set [" + JoinNames(t->CompType) + "]");
            UInt64 bits = 0;
            for (auto& name : Value.SetItems) {
                Int64 ord;
                if (!TryGetEnumValue(t->CompType, name, ord) || ord < 0 || ord > 63)
                    Error(Value.Line, "invalid set element '" + name + "' for " + Path + ": one of " +
                                          JoinNames(t->CompType) + " expected");
                bits |= UInt64{1} << ord;
            }
            writable();
            SetOrdProp(Instance, Prop, static_cast<Int64>(bits));
            return;
        }
        case tkFloat: {
            double d;
            if (Value.Kind == fvInteger && !Value.Suffix) d = static_cast<double>(Value.Integer);
            else if (Value.Kind == fvFloat) d = Value.Float;
            else if (Value.Kind != fvIdent || !FloatIdent(Value.Ident, d)) expected("number (" + t->Name + ")");
            if (t->FloatType == ftSingle && std::isfinite(d) && std::fabs(d) > FLT_MAX)
                Error(Value.Line, "value " + FormatFormFloat(d) + " is out of range for " + Path + " (Single)");
            writable();
            SetFloatProp(Instance, Prop, d);
            return;
        }
        case tkLString: {
            if (Value.Kind != fvString) expected("string");
            String s, error;
            if (!FormStringToString(Value, s, error)) Error(Value.Line, "invalid value for " + Path + ": " + error);
            writable();
            SetStrProp(Instance, Prop, s);
            return;
        }
        case tkWString: {
            if (Value.Kind != fvString) expected("string");
            WideString s;
            String error;
            if (!FormStringToWide(Value, s, error)) Error(Value.Line, "invalid value for " + Path + ": " + error);
            writable();
            SetWideStrProp(Instance, Prop, s);
            return;
        }
        case tkVariant: {
            String error;
            Variant v = ValueToVariant(Value, error);
            if (!error.empty()) Error(Value.Line, "invalid value for " + Path + ": " + error);
            writable();
            SetVariantProp(Instance, Prop, v);
            return;
        }
        case tkClass:
            if (Value.Kind == fvIdent) {
                writable();
                if (Rtl::SameText(Value.Ident, "nil")) {
                    SetObjectProp(Instance, Prop, nullptr);
                    return;
                }
                // Resolved once the whole file has been read.
                Fixup f{Instance, Prop, Value.Ident, Path, Value.Line, FComponent, FChain};
                FFixups.push_back(std::move(f));
                if (FComponent) FComponent->FComponentState.Include(csFixups);
                return;
            }
            if (Value.Kind == fvCollection) {
                auto* collection = dynamic_cast<TCollection*>(GetObjectProp(Instance, Prop));
                if (!collection) Error(Value.Line, "property " + Path + " holds no collection");
                ReadCollectionValue(collection, Value, Path);
                return;
            }
            expected("component name or collection");
            return;
        case tkMethod: {
            if (Value.Kind != fvIdent || Value.Ident.find('.') != String::npos) expected("event handler name");
            writable();
            if (Rtl::SameText(Value.Ident, "nil")) {
                SetMethodProp(Instance, Prop, TEventHandler{});
                return;
            }
            const std::any* handler = FHandlers ? FHandlers->Find(Value.Ident) : nullptr;
            if (!handler) Error(Value.Line, "event handler '" + Value.Ident + "' for " + Path + " not found");
            if (handler->type() != *t->HandlerType)
                Error(Value.Line, "event handler '" + Value.Ident + "' does not fit " + Path + " (" + t->Name + ")");
            SetMethodProp(Instance, Prop, TEventHandler{Value.Ident, *handler});
            return;
        }
        default:
            Error(Value.Line, "property " + Path + " cannot be read from a form file");
    }
}

void TReader::ReadCollectionValue(TCollection* Collection, const TFormValue& Value, const String& Path) {
    // References waiting inside the items about to go would dangle: forget them.
    std::vector<TPersistent*> gone;
    for (int i = 0; i < Collection->GetCount(); ++i) gone.push_back(Collection->GetItem(i));
    DropFixupsUnder(gone);
    const std::size_t chainMark = FChain.size();
    Collection->BeginUpdate();
    try {
        Collection->Clear();
        for (std::size_t i = 0; i < Value.CollItems.size(); ++i) {
            const TFormItem& item = Value.CollItems[i];
            TCollectionItem* created;
            try {
                created = Collection->Add();
            } catch (const Rtl::EAbort&) {
                throw;
            } catch (const Rtl::Exception& e) {
                Error(item.Line, "cannot add an item to " + Path + ": " + e.Message());
            }
            FChain.push_back(created);
            ReadProperties(created, item.Props, Path + "[" + std::to_string(i) + "]");
            FChain.resize(chainMark);
        }
    } catch (...) {
        FChain.resize(chainMark);
        try {
            Collection->EndUpdate();
        } catch (...) {
        }
        throw;
    }
    Collection->EndUpdate();
}

TComponent* TReader::ResolveReference(const String& Name) const {
    std::vector<String> parts = SplitDots(Name);
    TComponent* c = FRoot->FindComponent(parts[0]);
    if (!c && Rtl::SameText(parts[0], "Owner")) c = FRoot;
    if (!c && !FRoot->GetName().empty() && Rtl::SameText(parts[0], FRoot->GetName())) c = FRoot;
    for (std::size_t i = 1; c && i < parts.size(); ++i) c = c->FindComponent(parts[i]);
    if (!c && FFindComponent) c = FFindComponent(Name);
    return c;
}

void TReader::DoFixups() {
    // Setters may free components (the watch then drops their fixups), so take
    // the fixups one at a time from the front.
    while (!FFixups.empty()) {
        Fixup f = std::move(FFixups.front());
        FFixups.pop_front();
        TComponent* target = ResolveReference(f.Reference);
        if (!target) Error(f.Line, "unresolved component reference '" + f.Reference + "' for " + f.Path);
        TClass wanted = f.Prop->PropType()->ClassType;
        if (!target->InheritsFrom(wanted))
            Error(f.Line, "'" + f.Reference + "' is a " + target->ClassName() + ", not the " + wanted->Name + " " +
                              f.Path + " needs");
        try {
            SetObjectProp(f.Instance, f.Prop, target);
        } catch (const Rtl::EAbort&) {
            throw;
        } catch (const Rtl::Exception& e) {
            Error(f.Line, "error reading " + f.Path + ": " + e.Message());
        }
    }
}

// ---- Reading values inside defined properties -------------------------------------------------

void TReader::DefineProperty(const String& Name, TReaderProc ReadData, TWriterProc, bool) {
    if (!FPropValue || FPropFound || !ReadData || !Rtl::SameText(Name, FPropName)) return;
    FPropFound = true;
    const TFormValue* value = FPropValue;
    std::vector<Cursor> cursors;
    cursors.push_back(Cursor{value, nullptr, 0, false, value->Line});
    std::vector<Cursor>* saved = FCursors;
    FCursors = &cursors;
    try {
        ReadData(this);
    } catch (...) {
        FCursors = saved;
        throw;
    }
    FCursors = saved;
    if (cursors.size() != 1 || !cursors[0].Done)
        Error(value->Line, "the value of " + FPropPath + " was not read completely");
}

void TReader::DefineBinaryProperty(const String& Name, TStreamProc ReadData, TStreamProc, bool) {
    if (!FPropValue || FPropFound || !ReadData || !Rtl::SameText(Name, FPropName)) return;
    FPropFound = true;
    const TFormValue* value = FPropValue;
    if (value->Kind != fvBinary) ValueError(*value, "binary data {...}");
    Rtl::TMemoryStream stream;
    if (!value->Bytes.empty()) stream.WriteBuffer(value->Bytes.data(), static_cast<Int64>(value->Bytes.size()));
    stream.SetPosition(0);
    ReadData(&stream);
}

void TReader::ValueError(const TFormValue& Value, const String& Expected) const {
    Error(Value.Line, Expected + " expected for " + FPropPath + " but " + DescribeValue(Value) + " found");
}

const TFormValue& TReader::Current(const char* Expected) {
    if (!FCursors || FCursors->empty()) throw Rtl::EReadError("No defined property is being read");
    Cursor& c = FCursors->back();
    if (c.Single) {
        if (c.Done) Error(c.Line, String(Expected) + " expected for " + FPropPath + " but its value has been read");
        return *c.Single;
    }
    if (c.Pos >= c.List->size()) Error(c.Line, String(Expected) + " expected for " + FPropPath + " but end of list found");
    return (*c.List)[c.Pos];
}

void TReader::Consume() {
    Cursor& c = FCursors->back();
    if (c.Single) c.Done = true;
    else ++c.Pos;
}

int TReader::GetLine() const noexcept {
    if (!FCursors || FCursors->empty()) return FPropValue ? FPropValue->Line : 0;
    const Cursor& c = FCursors->back();
    if (c.List && c.Pos < c.List->size()) return (*c.List)[c.Pos].Line;
    return c.Line;
}

TValueType TReader::NextValue() {
    if (!FCursors || FCursors->empty()) return vaEndOfList;
    const Cursor& c = FCursors->back();
    if ((c.Single && c.Done) || (c.List && c.Pos >= c.List->size())) return vaEndOfList;
    const TFormValue& v = c.Single ? *c.Single : (*c.List)[c.Pos];
    switch (v.Kind) {
        case fvInteger:
            if (v.Suffix == 'c') return vaCurrency;
            return v.Integer >= INT_MIN && v.Integer <= INT_MAX ? vaInt32 : vaInt64;
        case fvFloat: return v.Suffix == 's' ? vaSingle : v.Suffix == 'd' ? vaDate : vaExtended;
        case fvString: return vaString;
        case fvIdent:
            if (Rtl::SameText(v.Ident, "True")) return vaTrue;
            if (Rtl::SameText(v.Ident, "False")) return vaFalse;
            if (Rtl::SameText(v.Ident, "nil")) return vaNil;
            if (Rtl::SameText(v.Ident, "Null")) return vaNull;
            return vaIdent;
        case fvSet: return vaSet;
        case fvList: return vaList;
        case fvCollection: return vaCollection;
        case fvBinary: return vaBinary;
    }
    return vaEndOfList;
}

bool TReader::EndOfList() { return NextValue() == vaEndOfList; }

void TReader::ReadListBegin() {
    const TFormValue& v = Current("'('");
    if (v.Kind != fvList) ValueError(v, "list '('");
    Consume();
    FCursors->push_back(Cursor{nullptr, &v.Items, 0, false, v.Line});
}

void TReader::ReadListEnd() {
    if (!FCursors || FCursors->size() < 2 || !FCursors->back().List) throw Rtl::EReadError("No list is being read");
    const Cursor& c = FCursors->back();
    if (c.Pos < c.List->size())
        ValueError((*c.List)[c.Pos], "')'");
    FCursors->pop_back();
}

Int64 TReader::ReadInt64() {
    const TFormValue& v = Current("integer");
    if (v.Kind != fvInteger || v.Suffix) ValueError(v, "integer");
    Consume();
    return v.Integer;
}

int TReader::ReadInteger() {
    const TFormValue& v = Current("integer");
    if (v.Kind == fvInteger && !v.Suffix && (v.Integer < INT_MIN || v.Integer > INT_MAX))
        Error(v.Line, "integer " + std::to_string(v.Integer) + " is out of range (Integer) for " + FPropPath);
    return static_cast<int>(ReadInt64());
}

bool TReader::ReadBoolean() {
    const TFormValue& v = Current("True or False");
    if (v.Kind == fvIdent && Rtl::SameText(v.Ident, "True")) { Consume(); return true; }
    if (v.Kind == fvIdent && Rtl::SameText(v.Ident, "False")) { Consume(); return false; }
    ValueError(v, "True or False");
}

double TReader::ReadFloat() {
    const TFormValue& v = Current("number");
    double d;
    if (v.Kind == fvInteger && !v.Suffix) d = static_cast<double>(v.Integer);
    else if (v.Kind == fvFloat) d = v.Float;
    else if (v.Kind != fvIdent || !FloatIdent(v.Ident, d)) ValueError(v, "number");
    Consume();
    return d;
}

Rtl::TDateTime TReader::ReadDate() { return TDateTime(ReadFloat()); }

Rtl::Currency TReader::ReadCurrency() {
    const TFormValue& v = Current("currency value");
    if (v.Kind == fvInteger && v.Suffix == 'c') {
        Consume();
        return Rtl::Currency::FromScaled(v.Integer);
    }
    double d = ReadFloat();
    Rtl::Currency c;
    if (!Rtl::TryFloatToCurr(d, c)) Error(v.Line, "number out of the currency range for " + FPropPath);
    return c;
}

String TReader::ReadString() {
    const TFormValue& v = Current("string");
    if (v.Kind != fvString) ValueError(v, "string");
    String s, error;
    if (!FormStringToString(v, s, error)) Error(v.Line, "invalid value for " + FPropPath + ": " + error);
    Consume();
    return s;
}

WideString TReader::ReadWideString() {
    const TFormValue& v = Current("string");
    if (v.Kind != fvString) ValueError(v, "string");
    WideString s;
    String error;
    if (!FormStringToWide(v, s, error)) Error(v.Line, "invalid value for " + FPropPath + ": " + error);
    Consume();
    return s;
}

String TReader::ReadIdent() {
    const TFormValue& v = Current("identifier");
    if (v.Kind != fvIdent) ValueError(v, "identifier");
    Consume();
    return v.Ident;
}

Variant TReader::ReadVariant() {
    const TFormValue& v = Current("value");
    String error;
    Variant result = ValueToVariant(v, error);
    if (!error.empty()) Error(v.Line, "invalid value for " + FPropPath + ": " + error);
    Consume();
    return result;
}

void TReader::ReadCollection(TCollection* Collection) {
    const TFormValue& v = Current("collection");
    if (v.Kind != fvCollection) ValueError(v, "collection '<'");
    Consume();
    ReadCollectionValue(Collection, v, FPropPath);
}

void TReader::SkipValue() {
    Current("value");
    Consume();
}

// ---- TWriter ----------------------------------------------------------------------------------------

struct TWriter::DefineState {
    String Name;
    TFormValue Value;
    bool HasValue = false;
    std::vector<TFormValue*> OpenLists;
};

namespace {

[[noreturn]] void WriteError(const String& msg) { throw Rtl::EWriteError(msg); }

TFormValue VariantValue(const Variant& Value) {
    Variant v = Value.IsByRef() ? Value.Deref() : Value;
    switch (v.VType()) {
        case Rtl::varEmpty: return TFormValue::MakeIdent("nil");
        case Rtl::varNull: return TFormValue::MakeIdent("Null");
        case Rtl::varBoolean: return TFormValue::MakeIdent(v.ToBoolean() ? "True" : "False");
        case Rtl::varShortInt:
        case Rtl::varByte:
        case Rtl::varSmallint:
        case Rtl::varWord:
        case Rtl::varInteger:
        case Rtl::varLongWord:
        case Rtl::varInt64: return TFormValue::MakeInteger(v.ToInt64());
        case Rtl::varUInt64: {
            UInt64 u = v.ToUInt64();
            if (u > static_cast<UInt64>(INT64_MAX)) WriteError("Unsupported variant value: " + std::to_string(u) + " (UInt64)");
            return TFormValue::MakeInteger(static_cast<Int64>(u));
        }
        case Rtl::varSingle: return TFormValue::MakeFloat(v.ToDouble(), 's');
        case Rtl::varDouble: return TFormValue::MakeFloat(v.ToDouble());
        case Rtl::varCurrency: return TFormValue::MakeInteger(v.ToCurrency().Value, 'c');
        case Rtl::varDate: return TFormValue::MakeFloat(v.ToDateTime().Value, 'd');
        case Rtl::varString: return TFormValue::MakeString(v.ToString());
        case Rtl::varOleStr: return TFormValue::MakeWideString(v.ToWideString());
        default: break;
    }
    WriteError("Unsupported variant type: " + Rtl::VarTypeAsText(v.VType()));
}

}  // namespace

TWriter::TWriter(TStream* Stream) : FStream(Stream) {}

void TWriter::WriteRootComponent(TComponent* Root) {
    FRoot = Root;
    FDepth = 0;
    TFormObject node = WriteComponentNode(Root);
    String text = PrintFormText(node);
    FStream->WriteBuffer(text.data(), static_cast<Int64>(text.size()));
}

TFormObject TWriter::WriteComponentNode(TComponent* Component) {
    if (++FDepth > MaxFormNesting) {
        --FDepth;
        WriteError("Components nest deeper than " + std::to_string(MaxFormNesting) + " levels under " +
                   Component->GetName());
    }
    const bool wasWriting = Component->FComponentState.Contains(csWriting);
    Component->FComponentState.Include(csWriting);
    TFormObject node;
    try {
        node.Name = Component->GetName();
        node.ClassName = Component->ClassName();
        WriteProperties(Component, "", node.Props);
        Component->GetChildren([&](TComponent* child) { node.Children.push_back(WriteComponentNode(child)); }, FRoot);
    } catch (...) {
        if (!wasWriting) Component->FComponentState.Exclude(csWriting);
        --FDepth;
        throw;
    }
    if (!wasWriting) Component->FComponentState.Exclude(csWriting);
    --FDepth;
    return node;
}

void TWriter::WriteProperties(TPersistent* Instance, const String& Prefix, std::vector<TFormProperty>& Out) {
    for (const TPropInfo* p : GetPropList(Instance)) WriteProperty(Instance, p, Prefix, Out);
    String savedPrefix = std::move(FPrefix);
    std::vector<TFormProperty>* savedOut = FOut;
    FPrefix = Prefix;
    FOut = &Out;
    try {
        DefineBuiltins(Instance, this);
        Instance->CallDefineProperties(this);
    } catch (...) {
        FPrefix = std::move(savedPrefix);
        FOut = savedOut;
        throw;
    }
    FPrefix = std::move(savedPrefix);
    FOut = savedOut;
}

void TWriter::WriteProperty(TPersistent* Instance, const TPropInfo* Prop, const String& Prefix,
                            std::vector<TFormProperty>& Out) {
    if (!Prop->IsStored(Instance)) return;
    const String name = Prefix + Prop->Name();
    const TTypeInfo* t = Prop->PropType();
    if (Prop->Kind() == tkClass) {
        TObject* obj = GetObjectProp(Instance, Prop);
        if (!obj) return;
        if (auto* component = dynamic_cast<TComponent*>(obj)) {
            if (Prop->IsWritable()) Out.push_back({name, 0, TFormValue::MakeIdent(ReferenceName(component, name))});
        } else if (auto* collection = dynamic_cast<TCollection*>(obj)) {
            Out.push_back({name, 0, CollectionValue(collection)});
        } else if (auto* sub = dynamic_cast<TPersistent*>(obj)) {
            if (++FDepth > MaxFormNesting) {
                --FDepth;
                WriteError("Objects nest deeper than " + std::to_string(MaxFormNesting) + " levels at " + name);
            }
            try {
                WriteProperties(sub, name + ".", Out);
            } catch (...) {
                --FDepth;
                throw;
            }
            --FDepth;
        }
        return;
    }
    if (!Prop->IsWritable() || IsDefaultPropValue(Instance, Prop)) return;
    const auto& a = Prop->Access();
    TFormValue v;
    switch (Prop->Kind()) {
        case tkInteger:
        case tkInt64: v = TFormValue::MakeInteger(a.GetOrd(Instance)); break;
        case tkEnumeration: {
            Int64 ord = a.GetOrd(Instance);
            String ident = GetEnumName(t, ord);
            if (ident.empty())
                WriteError("Cannot write " + name + ": " + std::to_string(ord) + " is not a value of " + t->Name);
            v = TFormValue::MakeIdent(ident);
            break;
        }
        case tkSet: {
            UInt64 bits = static_cast<UInt64>(a.GetOrd(Instance));
            v.Kind = fvSet;
            for (int bit = 0; bit < 64; ++bit) {
                if (!(bits & (UInt64{1} << bit))) continue;
                String ident = GetEnumName(t->CompType, bit);
                if (ident.empty())
                    WriteError("Cannot write " + name + ": element " + std::to_string(bit) + " has no name in " +
                               t->CompType->Name);
                v.SetItems.push_back(ident);
            }
            break;
        }
        case tkFloat: {
            char suffix = t == TypeInfo<TDateTime>() ? 'd' : t->FloatType == ftSingle ? 's' : 0;
            v = TFormValue::MakeFloat(a.GetFloat(Instance), suffix);
            break;
        }
        case tkLString: v = TFormValue::MakeString(a.GetStr(Instance)); break;
        case tkWString: v = TFormValue::MakeWideString(a.GetWideStr(Instance)); break;
        case tkVariant:
            try {
                v = VariantValue(a.GetVariant(Instance));
            } catch (const Rtl::EWriteError& e) {
                WriteError("Cannot write " + name + ": " + e.Message());
            }
            break;
        case tkMethod: {
            TEventHandler h = a.GetMethod(Instance);
            // Handlers assigned in code have no name and stay out of the file.
            if (h.Name.empty()) return;
            if (!IsValidIdent(h.Name))
                WriteError("Cannot write " + name + ": handler name '" + h.Name + "' is not an identifier");
            v = TFormValue::MakeIdent(h.Name);
            break;
        }
        default: return;
    }
    Out.push_back({name, 0, std::move(v)});
}

TFormValue TWriter::CollectionValue(TCollection* Collection) {
    TFormValue v;
    v.Kind = fvCollection;
    if (++FDepth > MaxFormNesting) {
        --FDepth;
        WriteError("Collections nest deeper than " + std::to_string(MaxFormNesting) + " levels");
    }
    try {
        for (int i = 0; i < Collection->GetCount(); ++i) {
            TFormItem item;
            WriteProperties(Collection->GetItem(i), "", item.Props);
            v.CollItems.push_back(std::move(item));
        }
    } catch (...) {
        --FDepth;
        throw;
    }
    --FDepth;
    return v;
}

String TWriter::ReferenceName(TComponent* Component, const String& Path) const {
    // The root is "Owner", unless one of its components has that name.
    if (Component == FRoot)
        return FRoot->FindComponent("Owner") && !FRoot->GetName().empty() ? FRoot->GetName() : String("Owner");
    auto unnamed = [&](TComponent* c) {
        WriteError("Cannot write " + Path + ": it refers to a " + c->ClassName() + " that has no name");
    };
    if (Component->GetName().empty()) unnamed(Component);
    bool inside = false;
    for (TComponent* c = Component->GetOwner(); c; c = c->GetOwner())
        if (c == FRoot) inside = true;
    if (inside) {
        // The names from the root's child down: "Command1.Param1".
        String s = Component->GetName();
        for (TComponent* c = Component->GetOwner(); c != FRoot; c = c->GetOwner()) {
            if (c->GetName().empty()) unnamed(c);
            s = c->GetName() + "." + s;
        }
        return s;
    }
    // Outside the root: "OtherRoot.Name", as the framework writes global references.
    TComponent* owner = Component->GetOwner();
    if (owner && !owner->GetName().empty()) return owner->GetName() + "." + Component->GetName();
    return Component->GetName();
}

void TWriter::Emit(TFormValue Value) {
    if (!FDefine) WriteError("No defined property is being written");
    if (!FDefine->OpenLists.empty()) {
        FDefine->OpenLists.back()->Items.push_back(std::move(Value));
        return;
    }
    if (FDefine->HasValue) WriteError("Defined property " + FDefine->Name + " wrote more than one value");
    FDefine->Value = std::move(Value);
    FDefine->HasValue = true;
}

void TWriter::WriteListBegin() {
    TFormValue list;
    list.Kind = fvList;
    if (!FDefine) WriteError("No defined property is being written");
    TFormValue* slot;
    if (!FDefine->OpenLists.empty()) {
        auto& items = FDefine->OpenLists.back()->Items;
        items.push_back(std::move(list));
        slot = &items.back();
    } else {
        Emit(std::move(list));
        slot = &FDefine->Value;
    }
    FDefine->OpenLists.push_back(slot);
}

void TWriter::WriteListEnd() {
    if (!FDefine || FDefine->OpenLists.empty()) WriteError("No list is being written");
    FDefine->OpenLists.pop_back();
}

void TWriter::WriteInteger(Int64 Value) { Emit(TFormValue::MakeInteger(Value)); }
void TWriter::WriteBoolean(bool Value) { Emit(TFormValue::MakeIdent(Value ? "True" : "False")); }
void TWriter::WriteFloat(double Value) { Emit(TFormValue::MakeFloat(Value)); }
void TWriter::WriteSingle(float Value) { Emit(TFormValue::MakeFloat(Value, 's')); }
void TWriter::WriteDate(Rtl::TDateTime Value) { Emit(TFormValue::MakeFloat(Value.Value, 'd')); }
void TWriter::WriteCurrency(Rtl::Currency Value) { Emit(TFormValue::MakeInteger(Value.Value, 'c')); }
void TWriter::WriteString(std::string_view Value) { Emit(TFormValue::MakeString(Value)); }
void TWriter::WriteWideString(std::u16string_view Value) { Emit(TFormValue::MakeWideString(Value)); }
void TWriter::WriteVariant(const Variant& Value) { Emit(VariantValue(Value)); }
void TWriter::WriteCollection(TCollection* Collection) { Emit(CollectionValue(Collection)); }

void TWriter::WriteIdent(const String& Value) {
    std::vector<String> parts = SplitDots(Value);
    for (auto& part : parts)
        if (!IsValidIdent(part)) WriteError("'" + Value + "' is not an identifier");
    Emit(TFormValue::MakeIdent(Value));
}

void TWriter::DefineProperty(const String& Name, TReaderProc, TWriterProc WriteData, bool HasData) {
    if (!HasData || !WriteData || !FOut) return;
    std::vector<TFormProperty>* out = FOut;
    const String name = FPrefix + Name;
    DefineState state;
    state.Name = Name;
    DefineState* saved = FDefine;
    FDefine = &state;
    try {
        WriteData(this);
    } catch (...) {
        FDefine = saved;
        throw;
    }
    FDefine = saved;
    if (!state.OpenLists.empty()) WriteError("Defined property " + Name + " left a list open");
    if (!state.HasValue) WriteError("Defined property " + Name + " wrote no value");
    out->push_back({name, 0, std::move(state.Value)});
}

void TWriter::DefineBinaryProperty(const String& Name, TStreamProc, TStreamProc WriteData, bool HasData) {
    if (!HasData || !WriteData || !FOut) return;
    std::vector<TFormProperty>* out = FOut;
    const String name = FPrefix + Name;
    Rtl::TMemoryStream stream;
    WriteData(&stream);
    TFormValue v;
    v.Kind = fvBinary;
    const auto* data = static_cast<const Byte*>(stream.Memory());
    v.Bytes.assign(data, data + stream.GetSize());
    out->push_back({name, 0, std::move(v)});
}

// ---- Helpers --------------------------------------------------------------------------------------

TComponent* ReadComponent(TStream* Stream, TComponent* Instance, const TEventHandlers* Handlers) {
    TReader reader(Stream);
    reader.SetHandlers(Handlers);
    TComponent* root = reader.ReadRootComponent(Instance);
    if (auto* module = dynamic_cast<TDataModule*>(root)) module->DoCreate();
    return root;
}

TComponent* ReadComponentResFile(const String& FileName, TComponent* Instance, const TEventHandlers* Handlers) {
    Rtl::TFileStream stream(FileName, Rtl::fmOpenRead | Rtl::fmShareDenyNone);
    return ReadComponent(&stream, Instance, Handlers);
}

TComponent* ReadComponentFromText(std::string_view Text, TComponent* Instance, const TEventHandlers* Handlers) {
    Rtl::TStringStream stream{String(Text)};
    return ReadComponent(&stream, Instance, Handlers);
}

void WriteComponent(TStream* Stream, TComponent* Instance) {
    TWriter writer(Stream);
    writer.WriteRootComponent(Instance);
}

void WriteComponentResFile(const String& FileName, TComponent* Instance) {
    Rtl::TMemoryStream stream;
    WriteComponent(&stream, Instance);
    stream.SaveToFile(FileName);
}

String ComponentToText(TComponent* Instance) {
    Rtl::TStringStream stream;
    WriteComponent(&stream, Instance);
    return stream.DataString();
}

}  // namespace Vcl
