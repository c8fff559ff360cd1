#include "Platform/data-engine/objects/Stream.h"

#include <filesystem>

#include "Platform/com/SafeArray.h"
#include "Platform/data-engine/objects/DocumentSource.h"
#include "Platform/data-engine/objects/Record.h"

namespace DataEngine::Ado {

namespace {

bool ReadOnlyMode(int mode) noexcept { return (mode & adModeReadWrite) == adModeRead; }
bool WriteOnlyMode(int mode) noexcept { return (mode & adModeReadWrite) == adModeWrite; }

bool IsObject(const Variant& v) noexcept {
    return v.BaseType() == Rtl::varDispatch || v.BaseType() == Rtl::varUnknown;
}

}  // namespace

TStreamObject* StreamOf(Rtl::IUnknown* unk) noexcept {
    auto s = Com::QueryInterface<_Stream>(unk);
    return dynamic_cast<TStreamObject*>(s.Get());
}

TStreamObject::~TStreamObject() {
    // Released while open: what was written still reaches its file.
    if (FState == adStateOpen) try {
            WriteBack();
        } catch (...) {
        }
}

// ---- Checks ----------------------------------------------------------------------------------------

void TStreamObject::CheckOpen(std::string_view operation) const {
    if (FState != adStateOpen) AdoFail(adErrObjectClosed, String(operation) + ": the stream is closed");
}

void TStreamObject::CheckText(std::string_view operation) const {
    CheckOpen(operation);
    if (FType != adTypeText)
        AdoFail(adErrIllegalOperation, String(operation) + " needs a text stream; this one is binary (use Read and Write)");
}

void TStreamObject::CheckBinary(std::string_view operation) const {
    CheckOpen(operation);
    if (FType != adTypeBinary)
        AdoFail(adErrIllegalOperation,
                String(operation) + " needs a binary stream; this one is text (use ReadText and WriteText)");
}

void TStreamObject::CheckWritable(std::string_view operation) const {
    if (ReadOnlyMode(FMode)) AdoFail(adErrIllegalOperation, String(operation) + ": the stream is open read-only (adModeRead)");
}

void TStreamObject::CheckReadable(std::string_view operation) const {
    if (WriteOnlyMode(FMode)) AdoFail(adErrIllegalOperation, String(operation) + ": the stream is open write-only (adModeWrite)");
}

// ---- Properties -----------------------------------------------------------------------------------------

Int64 TStreamObject::GetSize() {
    return Guard([&] {
        CheckOpen("Stream.Size");
        return static_cast<Int64>(FData.size());
    });
}

bool TStreamObject::GetEOS() {
    return Guard([&] {
        CheckOpen("Stream.EOS");
        return FPosition >= FData.size();
    });
}

Int64 TStreamObject::GetPosition() {
    return Guard([&] {
        CheckOpen("Stream.Position");
        return static_cast<Int64>(FPosition);
    });
}

void TStreamObject::SetPosition(Int64 Value) {
    Guard([&] {
        CheckOpen("Stream.Position");
        if (Value < 0) AdoFail(adErrInvalidArgument, "Stream.Position " + std::to_string(Value) + " is negative");
        const auto pos = static_cast<std::size_t>(Value);
        // Past the end a writable stream grows with zero bytes; a read-only one keeps its bytes.
        if (pos > FData.size() && !ReadOnlyMode(FMode)) {
            FData.resize(pos, '\0');
            FDirty = true;
        }
        FPosition = pos;
    });
}

StreamTypeEnum TStreamObject::GetType() { return FType; }

void TStreamObject::SetType(StreamTypeEnum Value) {
    Guard([&] {
        if (Value != adTypeBinary && Value != adTypeText)
            AdoFail(adErrInvalidArgument, "Stream.Type " + std::to_string(Value) + " is neither adTypeBinary (1) nor adTypeText (2)");
        if (FState == adStateOpen && FPosition != 0 && Value != FType)
            AdoFail(adErrIllegalOperation, "Stream.Type can change only at Position 0; the position is " +
                                               std::to_string(FPosition));
        FType = Value;
    });
}

LineSeparatorEnum TStreamObject::GetLineSeparator() { return FLineSeparator; }

void TStreamObject::SetLineSeparator(LineSeparatorEnum Value) {
    Guard([&] {
        if (Value != adCR && Value != adLF && Value != adCRLF)
            AdoFail(adErrInvalidArgument, "Stream.LineSeparator " + std::to_string(Value) +
                                              " is none of adCR (13), adLF (10), adCRLF (-1)");
        FLineSeparator = Value;
    });
}

ObjectStateEnum TStreamObject::GetState() { return FState; }

ConnectModeEnum TStreamObject::GetMode() { return FMode; }

void TStreamObject::SetMode(ConnectModeEnum Value) {
    Guard([&] {
        if (FState == adStateOpen) AdoFail(adErrObjectOpen, "Stream.Mode can be set only while the stream is closed");
        if (Value < 0 || (Value & ~(0x1F | adModeRecursive)))
            AdoFail(adErrInvalidArgument, "Stream.Mode " + std::to_string(Value) + " is not a ConnectModeEnum value");
        FMode = Value;
    });
}

WideString TStreamObject::GetCharset() { return Wide(FCharsetName); }

void TStreamObject::SetCharset(const WideString& Value) {
    Guard([&] {
        const String name = Narrow(Value);
        // Empty asks for the default.
        const TCharset* cs = name.empty() ? &DefaultCharset() : FindCharset(name);
        if (!cs)
            AdoFail(adErrInvalidArgument, "Stream.Charset \"" + name.substr(0, 100) +
                                              "\" is not a character set this engine knows (" + KnownCharsetNames() + ")");
        if (FState == adStateOpen && FPosition != 0)
            AdoFail(adErrIllegalOperation, "Stream.Charset can change only at Position 0; the position is " +
                                               std::to_string(FPosition));
        FCharset = cs;
        FCharsetName = name.empty() ? String(cs->Name) : name;
    });
}

// ---- Open and close ----------------------------------------------------------------------------------

void TStreamObject::OpenOnFile(const String& path, ConnectModeEnum mode) {
    std::string data = ReadWholeFile(path);
    FData = std::move(data);
    FFile = path;
    FMode = mode == adModeUnknown ? adModeRead : mode;
    FPosition = 0;
    FDirty = false;
    FState = adStateOpen;
}

void TStreamObject::Open(const Variant& Source, ConnectModeEnum Mode, StreamOpenOptionsEnum Options,
                         const WideString& UserName, const WideString& Password) {
    Guard([&] {
        (void)UserName;  // local files need no credentials
        (void)Password;
        if (FState == adStateOpen) AdoFail(adErrObjectOpen, "Stream.Open: the stream is already open");
        if (Options != adOpenStreamUnspecified && (Options & ~(adOpenStreamAsync | adOpenStreamFromRecord)))
            AdoFail(adErrInvalidArgument, "Stream.Open: options " + std::to_string(Options) +
                                              " are not StreamOpenOptionsEnum values");
        if (Mode < 0 || (Mode & ~(0x1F | adModeRecursive)))
            AdoFail(adErrInvalidArgument, "Stream.Open: mode " + std::to_string(Mode) + " is not a ConnectModeEnum value");
        const bool fromRecord = Options != adOpenStreamUnspecified && (Options & adOpenStreamFromRecord);
        const Variant source = Deref(Source);
        ConnectModeEnum mode = Mode != adModeUnknown ? Mode : FMode;
        if (IsObject(source)) {
            TRecordObject* record = RecordOf(Com::VarToDispatch(source).Get());
            if (!record) AdoFail(adErrInvalidArgument, "Stream.Open: the source object is not a Record");
            ConnectModeEnum recordMode = adModeUnknown;
            const String path = record->DefaultStreamPath("Stream.Open", recordMode);
            // Without a mode of its own the stream takes the record's.
            OpenOnFile(path, mode != adModeUnknown ? mode : recordMode);
            return;
        }
        if (fromRecord) AdoFail(adErrInvalidArgument, "Stream.Open: adOpenStreamFromRecord needs a Record object as the source");
        if (IsMissing(source) || (Rtl::VarIsStr(source) && source.ToString().empty())) {
            FData.clear();
            FFile.clear();
            FPosition = 0;
            FDirty = false;
            FMode = mode;
            FState = adStateOpen;
            return;
        }
        if (!Rtl::VarIsStr(source))
            AdoFail(adErrInvalidArgument, "Stream.Open: the source is a URL or a Record, not " + DescribeValue(source));
        const String url = source.ToString();
        const String path = FileUrlToPath(url);
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) AdoFail(adErrURLDoesNotExist, "Stream.Open: \"" + url + "\" does not exist");
        if (std::filesystem::is_directory(path, ec))
            AdoFail(adErrInvalidURL, "Stream.Open: \"" + url + "\" is a folder, which has no stream of its own");
        OpenOnFile(path, mode);
    });
}

void TStreamObject::WriteBack() {
    if (!FDirty || FFile.empty() || ReadOnlyMode(FMode)) return;
    WriteFileBeside(FFile, FData, false);
    FDirty = false;
}

void TStreamObject::Close() {
    Guard([&] {
        CheckOpen("Stream.Close");
        WriteBack();
        FState = adStateClosed;
        FData.clear();
        FData.shrink_to_fit();
        FFile.clear();
        FPosition = 0;
    });
}

void TStreamObject::Flush() {
    Guard([&] {
        CheckOpen("Stream.Flush");
        WriteBack();
    });
}

void TStreamObject::Cancel() {
    // Opening is never asynchronous here, so there is nothing to stop.
}

// ---- Bytes -----------------------------------------------------------------------------------------

void TStreamObject::PutBytes(std::string_view bytes) {
    if (FPosition > FData.size()) FData.resize(FPosition, '\0');
    const std::size_t overlap = std::min(bytes.size(), FData.size() - FPosition);
    FData.replace(FPosition, overlap, bytes.data(), overlap);
    FData.append(bytes.data() + overlap, bytes.size() - overlap);
    FPosition += bytes.size();
    if (!bytes.empty()) FDirty = true;
}

Variant TStreamObject::Read(int NumBytes) {
    return Guard([&] {
        CheckBinary("Stream.Read");
        CheckReadable("Stream.Read");
        if (NumBytes < adReadAll)
            AdoFail(adErrInvalidArgument, "Stream.Read: the byte count " + std::to_string(NumBytes) +
                                              " is negative (adReadAll is -1)");
        if (FPosition >= FData.size()) return Variant::Null();
        std::size_t n = FData.size() - FPosition;
        if (NumBytes >= 0) n = std::min(n, static_cast<std::size_t>(NumBytes));
        Variant out = Rtl::BytesToVarArray(FData.data() + FPosition, n);
        FPosition += n;
        return out;
    });
}

void TStreamObject::Write(const Variant& Buffer) {
    Guard([&] {
        CheckOpen("Stream.Write");
        const Variant buffer = Deref(Buffer);
        if (!buffer.IsArray() || Rtl::VarArrayElementType(buffer) != Rtl::varByte || Rtl::VarArrayDimCount(buffer) != 1)
            AdoFail(adErrInvalidArgument, "Stream.Write takes a one-dimensional array of bytes, not " +
                                              Rtl::VarTypeAsText(buffer.VType()));
        CheckWritable("Stream.Write");
        // Binary data written into a new, empty text stream makes it binary.
        if (FType == adTypeText && FData.empty() && FPosition == 0) FType = adTypeBinary;
        CheckBinary("Stream.Write");
        const std::vector<Byte> bytes = Rtl::VarArrayToBytes(buffer);
        PutBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    });
}

void TStreamObject::SetEOS() {
    Guard([&] {
        CheckOpen("Stream.SetEOS");
        CheckWritable("Stream.SetEOS");
        if (FPosition < FData.size()) {
            FData.resize(FPosition);
            FDirty = true;
        }
    });
}

// ---- Text ----------------------------------------------------------------------------------------------

std::size_t TStreamObject::TextStart() const noexcept { return SkipBom(*FCharset, FData, FPosition); }

void TStreamObject::PutText(std::u16string_view text) {
    // Everything is encoded before a byte changes: a character the set cannot hold writes nothing.
    std::string bytes = EncodeText(*FCharset, text);
    if (FPosition == 0 && !FCharset->Bom.empty()) bytes.insert(0, FCharset->Bom);
    PutBytes(bytes);
}

WideString TStreamObject::ReadText(int NumChars) {
    return Guard([&] {
        CheckText("Stream.ReadText");
        CheckReadable("Stream.ReadText");
        if (NumChars < adReadLine)
            AdoFail(adErrInvalidArgument, "Stream.ReadText: the character count " + std::to_string(NumChars) +
                                              " is negative (adReadAll is -1, adReadLine -2)");
        if (FPosition >= FData.size()) return WideString();
        const std::size_t start = TextStart();
        TTextRead r = NumChars == adReadLine ? ReadLine(*FCharset, FData, start, FLineSeparator)
                                             : ReadChars(*FCharset, FData, start, NumChars);
        FPosition = r.End;
        return WideString(std::move(r.Text));
    });
}

void TStreamObject::WriteText(const WideString& Data, StreamWriteEnum Options) {
    Guard([&] {
        CheckText("Stream.WriteText");
        CheckWritable("Stream.WriteText");
        if (Options != adWriteChar && Options != adWriteLine)
            AdoFail(adErrInvalidArgument, "Stream.WriteText: options " + std::to_string(Options) +
                                              " are neither adWriteChar (0) nor adWriteLine (1)");
        if (Options == adWriteLine)
            PutText(Data + WideString(SeparatorText(FLineSeparator)));
        else
            PutText(Data);
    });
}

void TStreamObject::SkipLine() {
    Guard([&] {
        CheckText("Stream.SkipLine");
        CheckReadable("Stream.SkipLine");
        if (FPosition >= FData.size()) return;
        FPosition = ReadLine(*FCharset, FData, TextStart(), FLineSeparator).End;
    });
}

void TStreamObject::CopyTo(_Stream* DestStream, Int64 CharNumber) {
    Guard([&] {
        CheckOpen("Stream.CopyTo");
        CheckReadable("Stream.CopyTo");
        TStreamObject* dest = StreamOf(DestStream);
        if (!dest) AdoFail(adErrInvalidArgument, "Stream.CopyTo: the destination is not a Stream object");
        if (dest == this) AdoFail(adErrInvalidArgument, "Stream.CopyTo: a stream cannot be copied into itself");
        dest->CheckOpen("Stream.CopyTo (destination)");
        dest->CheckWritable("Stream.CopyTo (destination)");
        if (CharNumber < -1)
            AdoFail(adErrInvalidArgument, "Stream.CopyTo: the count " + std::to_string(CharNumber) + " is negative (all is -1)");
        if (FType == adTypeBinary) {
            std::size_t n = FPosition < FData.size() ? FData.size() - FPosition : 0;
            if (CharNumber >= 0) n = std::min(n, static_cast<std::size_t>(CharNumber));
            dest->PutBytes(std::string_view(FData).substr(std::min(FPosition, FData.size()), n));
            FPosition += n;
            return;
        }
        if (FPosition >= FData.size()) return;
        const std::size_t start = TextStart();
        TTextRead r = ReadChars(*FCharset, FData, start, CharNumber);
        if (dest->FType == adTypeText)
            dest->PutText(r.Text);  // converted into the destination's character set
        else
            dest->PutBytes(std::string_view(FData).substr(start, r.End - start));
        FPosition = r.End;
    });
}

// ---- Files ------------------------------------------------------------------------------------------

void TStreamObject::SaveToFile(const WideString& FileName, SaveOptionsEnum Options) {
    Guard([&] {
        CheckOpen("Stream.SaveToFile");
        if (Options != adSaveCreateNotExist && Options != adSaveCreateOverWrite)
            AdoFail(adErrInvalidArgument, "Stream.SaveToFile: options " + std::to_string(Options) +
                                              " are neither adSaveCreateNotExist (1) nor adSaveCreateOverWrite (2)");
        const String path = Narrow(FileName);
        if (path.empty()) AdoFail(adErrInvalidArgument, "Stream.SaveToFile: no file name was given");
        WriteFileBeside(path, FData, Options == adSaveCreateNotExist);
        FPosition = 0;
    });
}

void TStreamObject::LoadFromFile(const WideString& FileName) {
    Guard([&] {
        CheckOpen("Stream.LoadFromFile");
        CheckWritable("Stream.LoadFromFile");
        const String path = Narrow(FileName);
        if (path.empty()) AdoFail(adErrInvalidArgument, "Stream.LoadFromFile: no file name was given");
        std::string data = ReadWholeFile(path);  // the stream changes only once the file is read
        FData = std::move(data);
        FPosition = 0;
        FDirty = true;
    });
}

// ---- Recordsets saved into a stream ---------------------------------------------------------------------

String TStreamObject::TakeRest(std::string_view operation) {
    CheckOpen(operation);
    CheckReadable(operation);
    if (FPosition >= FData.size()) AdoFail(adErrInvalidArgument, String(operation) + ": the stream holds nothing from its position on");
    String out;
    if (FType == adTypeText) {
        out = Rtl::WideToUtf8(ReadChars(*FCharset, FData, TextStart(), -1).Text);
    } else {
        out = FData.substr(FPosition);
        // A rowset saved as Unicode text and read from a binary stream.
        if (out.size() >= 2 && out.compare(0, 2, "\xFF\xFE") == 0)
            out = Rtl::WideToUtf8(ReadChars(DefaultCharset(), out, 2, -1).Text);
    }
    FPosition = FData.size();
    return out;
}

String TStreamObject::ContentText(std::string_view operation) const {
    CheckOpen(operation);
    CheckReadable(operation);
    if (FType == adTypeText) return Rtl::WideToUtf8(ReadChars(*FCharset, FData, SkipBom(*FCharset, FData, 0), -1).Text);
    return FData;
}

void TStreamObject::PutForSave(std::string_view data, bool isText, std::string_view operation) {
    CheckOpen(operation);
    if (!isText && FType == adTypeText) {
        if (!FData.empty() || FPosition != 0)
            AdoFail(adErrIllegalOperation, String(operation) + ": a binary format needs a binary or empty stream; this "
                                                               "one holds text");
        FType = adTypeBinary;
    }
    CheckWritable(operation);
    const std::size_t start = FPosition;
    if (isText && FType == adTypeText)
        PutText(Rtl::Utf8ToWide(data));
    else
        PutBytes(data);
    if (FPosition < FData.size()) FData.resize(FPosition);
    FPosition = start;
}

// ---- Late binding ---------------------------------------------------------------------------------------

const Com::TDispatchTable<TStreamObject>& TStreamObject::GetDispatchTable() {
    using T = TStreamObject;
    using Com::TDispCall;
    static const auto table =
        Com::TDispatchTable<T>("ADODB.Stream")
            .Property("Size", 1, &T::GetSize)
            .Property("EOS", 2, &T::GetEOS)
            .Property("Position", 3, &T::GetPosition, &T::SetPosition)
            .Property("Type", 4, &T::GetType, &T::SetType)
            .Property("LineSeparator", 5, &T::GetLineSeparator, &T::SetLineSeparator)
            .Property("State", 6, &T::GetState)
            .Property("Mode", 7, &T::GetMode, &T::SetMode)
            .Property("Charset", 8, &T::GetCharset, &T::SetCharset)
            .Method(
                "Read", 9, [](T& self, TDispCall& call) { call.Result = self.Read(call.ArgOr<int>(0, adReadAll)); }, 0, 1)
            .Method(
                "Open", 10,
                [](T& self, TDispCall& call) {
                    self.Open(call.IsOmitted(0) ? Com::EmptyParam : call.Arg(0),
                              call.ArgOr<ConnectModeEnum>(1, adModeUnknown),
                              call.ArgOr<StreamOpenOptionsEnum>(2, adOpenStreamUnspecified),
                              call.ArgOr<WideString>(3, {}), call.ArgOr<WideString>(4, {}));
                },
                0, 5)
            .Method("Close", 11, &T::Close)
            .Method("SkipLine", 12, &T::SkipLine)
            .Method("Write", 13, &T::Write)
            .Method("SetEOS", 14, &T::SetEOS)
            .Method(
                "CopyTo", 15,
                [](T& self, TDispCall& call) {
                    auto dest = Com::QueryInterface<_Stream>(Com::VarToDispatch(call.Arg(0)).Get());
                    self.CopyTo(dest.Get(), call.ArgOr<Int64>(1, -1));
                },
                1, 2)
            .Method("Flush", 16, &T::Flush)
            .Method(
                "SaveToFile", 17,
                [](T& self, TDispCall& call) {
                    self.SaveToFile(call.ArgAs<WideString>(0), call.ArgOr<SaveOptionsEnum>(1, adSaveCreateNotExist));
                },
                1, 2)
            .Method("LoadFromFile", 18, &T::LoadFromFile)
            .Method(
                "ReadText", 19,
                [](T& self, TDispCall& call) {
                    // Nothing left to read is Null, as ADO answers.
                    const bool atEnd = self.IsOpen() && self.GetEOS() && self.GetType() == adTypeText;
                    const WideString text = self.ReadText(call.ArgOr<int>(0, adReadAll));
                    call.Result = atEnd ? Variant::Null() : Variant(text);
                },
                0, 1)
            .Method(
                "WriteText", 20,
                [](T& self, TDispCall& call) {
                    self.WriteText(call.ArgAs<WideString>(0), call.ArgOr<StreamWriteEnum>(1, adWriteChar));
                },
                1, 2)
            .Method("Cancel", 21, &T::Cancel);
    return table;
}

}  // namespace DataEngine::Ado
