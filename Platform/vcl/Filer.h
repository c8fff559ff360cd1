// Form files: TFiler, TReader, TWriter and the helpers that read and write a
// root component from and to a stream or file.
//
// Reading creates the components a file names (their classes registered with
// RegisterClass), gives them their names, sets their published properties in
// the order the file holds them, hands unknown names to DefineProperties, and
// keeps component references aside until the whole file has been read. During
// reading every component read is in csReading and csLoading. Then the
// references are resolved, csReading ends, and Loaded runs once per component,
// the root first, then in file order. An exception from Loaded goes to
// Application->HandleException when that component is designing (and loading
// goes on); otherwise it propagates.
//
// Bad input (a syntax error, an unknown class or property, a value of the wrong
// kind, an unresolved reference) raises EReadError (EClassNotFound for unknown
// classes) with "Line n: ..." and what was expected. Whenever reading fails,
// every component the reader created is freed again, so the root is left with
// what it had before (a root the reader created itself is freed too).
//
// Writing lists the root, its published properties that are stored and not at
// their default, its defined properties, then the components its GetChildren
// names, recursively. Each component is in csWriting while it is written.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <unordered_set>

#include "Platform/rtl/Classes.h"
#include "Platform/vcl/Collections.h"
#include "Platform/vcl/Components.h"
#include "Platform/vcl/FormText.h"

namespace Vcl {

using Rtl::TStream;

using TReaderProc = std::function<void(TReader* Reader)>;
using TWriterProc = std::function<void(TWriter* Writer)>;
using TStreamProc = std::function<void(TStream* Stream)>;
// Finds a component outside the root by its (possibly dotted) name, or null.
using TFindComponentProc = std::function<TComponent*(const String& Name)>;

// The kinds of value a defined property can find next.
enum TValueType : Byte {
    vaNull, vaList, vaInt32, vaInt64, vaExtended, vaSingle, vaCurrency, vaDate, vaString, vaIdent,
    vaFalse, vaTrue, vaNil, vaSet, vaCollection, vaBinary, vaEndOfList
};

class TFiler : public TObject {
    RTL_CLASS(TFiler, TObject)
public:
    // A property the class reads and writes itself. ReadData runs when the
    // file holds the name; WriteData runs on writing when HasData is true (a
    // definition without WriteData writes nothing).
    virtual void DefineProperty(const String& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) = 0;
    // The same for raw bytes, written as {hex}.
    virtual void DefineBinaryProperty(const String& Name, TStreamProc ReadData, TStreamProc WriteData,
                                      bool HasData) = 0;
    TComponent* GetRoot() const noexcept { return FRoot; }
    TComponent* GetLookupRoot() const noexcept { return FRoot; }
    // Inherited forms are not supported: there is never an ancestor.
    TPersistent* GetAncestor() const noexcept { return nullptr; }

protected:
    TComponent* FRoot = nullptr;
};

class TReaderWatch;

class TReader : public TFiler {
    RTL_CLASS(TReader, TFiler)
public:
    // Reads the stream from its current position to its end.
    explicit TReader(TStream* Stream);
    ~TReader() override;

    // The handlers event properties name; without a table an event name in
    // the file is an error.
    void SetHandlers(const TEventHandlers* Handlers) noexcept { FHandlers = Handlers; }
    // Consulted for references the root does not hold.
    void SetFindComponent(TFindComponentProc Proc) { FFindComponent = std::move(Proc); }

    // Reads the file's component into Root, or creates the root from the class
    // the file names when Root is null. Returns the root.
    TComponent* ReadRootComponent(TComponent* Root);

    // ---- For DefineProperties read procedures ----
    TValueType NextValue();
    bool EndOfList();
    void ReadListBegin();
    void ReadListEnd();
    int ReadInteger();
    Int64 ReadInt64();
    bool ReadBoolean();
    double ReadFloat();
    Rtl::TDateTime ReadDate();
    Rtl::Currency ReadCurrency();
    String ReadString();
    WideString ReadWideString();
    String ReadIdent();
    Variant ReadVariant();
    void ReadCollection(TCollection* Collection);
    void SkipValue();
    // The line of the value being read, for messages.
    int GetLine() const noexcept;

    void DefineProperty(const String& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) override;
    void DefineBinaryProperty(const String& Name, TStreamProc ReadData, TStreamProc WriteData, bool HasData) override;

private:
    friend class TReaderWatch;
    struct Fixup {
        TPersistent* Instance;
        const TPropInfo* Prop;
        String Reference;
        String Path;
        int Line;
        TComponent* Component;
        std::vector<TPersistent*> Chain;
    };
    struct Cursor {
        const TFormValue* Single = nullptr;
        const std::vector<TFormValue>* List = nullptr;
        std::size_t Pos = 0;
        bool Done = false;
        int Line = 0;
    };

    TComponent* ReadObject(const TFormObject& Node, TComponent* Owner, TComponent* Parent);
    void ReadBody(TComponent* Instance, const TFormObject& Node);
    void ReadProperties(TPersistent* Instance, const std::vector<TFormProperty>& Props, const String& Path);
    void ReadProperty(TPersistent* Instance, const TFormProperty& Prop, const String& Path);
    void ReadPropValue(TPersistent* Instance, const TPropInfo* Prop, const TFormValue& Value, const String& Path);
    void ReadCollectionValue(TCollection* Collection, const TFormValue& Value, const String& Path);
    void DoFixups();
    void ComponentFreed(TComponent* Component);
    void DropFixupsUnder(const std::vector<TPersistent*>& Gone);
    TComponent* ResolveReference(const String& Name) const;
    void FreeCreated(TComponent* Root, bool RootCreated);
    const TFormValue& Current(const char* Expected);
    [[noreturn]] void ValueError(const TFormValue& Value, const String& Expected) const;
    void Consume();
    [[noreturn]] void Error(int Line, const String& Message) const;

    TStream* FStream;
    const TEventHandlers* FHandlers = nullptr;
    TFindComponentProc FFindComponent;
    std::unique_ptr<TReaderWatch> FWatch;
    // The components created, in file order (the order of Loaded after the
    // root), and those of them still alive.
    std::vector<TComponent*> FCreated;
    std::unordered_set<TComponent*> FAlive;
    std::deque<Fixup> FFixups;
    std::vector<TPersistent*> FChain;  // objects between the component being read and the property
    TComponent* FComponent = nullptr;  // the component being read
    // The defined property being looked for, and the cursors over the value of
    // the one whose read procedure is running.
    String FPropName;
    String FPropPath;
    const TFormValue* FPropValue = nullptr;
    bool FPropFound = false;
    std::vector<Cursor>* FCursors = nullptr;
    TComponent* FLoadingNow = nullptr;
};

class TWriter : public TFiler {
    RTL_CLASS(TWriter, TFiler)
public:
    explicit TWriter(TStream* Stream);

    void WriteRootComponent(TComponent* Root);

    // ---- For DefineProperties write procedures ----
    void WriteListBegin();
    void WriteListEnd();
    void WriteInteger(Int64 Value);
    void WriteBoolean(bool Value);
    void WriteFloat(double Value);
    void WriteSingle(float Value);
    void WriteDate(Rtl::TDateTime Value);
    void WriteCurrency(Rtl::Currency Value);
    void WriteString(std::string_view Value);
    void WriteWideString(std::u16string_view Value);
    void WriteIdent(const String& Value);
    // EWriteError "Unsupported variant type: %s" for arrays, interfaces and the like.
    void WriteVariant(const Variant& Value);
    void WriteCollection(TCollection* Collection);

    void DefineProperty(const String& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) override;
    void DefineBinaryProperty(const String& Name, TStreamProc ReadData, TStreamProc WriteData, bool HasData) override;

private:
    TFormObject WriteComponentNode(TComponent* Component);
    void WriteProperties(TPersistent* Instance, const String& Prefix, std::vector<TFormProperty>& Out);
    void WriteProperty(TPersistent* Instance, const TPropInfo* Prop, const String& Prefix,
                       std::vector<TFormProperty>& Out);
    TFormValue CollectionValue(TCollection* Collection);
    String ReferenceName(TComponent* Component, const String& Path) const;
    void Emit(TFormValue Value);

    struct DefineState;

    TStream* FStream;
    int FDepth = 0;
    // Where defined properties of the object being written go.
    String FPrefix;
    std::vector<TFormProperty>* FOut = nullptr;
    // The defined property whose write procedure is running.
    DefineState* FDefine = nullptr;
};

// ---- Helpers ---------------------------------------------------------------------------

// Reads a root component from a stream or file (Instance null: create the root
// from the class the file names). A TDataModule root fires OnCreate afterwards.
TComponent* ReadComponent(TStream* Stream, TComponent* Instance, const TEventHandlers* Handlers = nullptr);
TComponent* ReadComponentResFile(const String& FileName, TComponent* Instance,
                                 const TEventHandlers* Handlers = nullptr);
TComponent* ReadComponentFromText(std::string_view Text, TComponent* Instance,
                                  const TEventHandlers* Handlers = nullptr);
void WriteComponent(TStream* Stream, TComponent* Instance);
// Written beside the target and renamed over it, so a failure keeps the old file.
void WriteComponentResFile(const String& FileName, TComponent* Instance);
String ComponentToText(TComponent* Instance);

}  // namespace Vcl
