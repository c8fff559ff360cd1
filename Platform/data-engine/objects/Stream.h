// The Stream object ("ADODB.Stream"): bytes or text in memory, from a file
// URL, or the default stream of a record (a file of a document source).
//
// The bytes are held in memory. A stream opened on a file reads the whole
// file at Open; what is written reaches the file at Flush and Close, written
// beside it and renamed over it, so a failed write leaves the file as it was.
// Position and Size count bytes; text goes in and out through the Charset
// (Unicode by default, with its byte order mark written before text written
// at position 0 and skipped when text is read from position 0).
#pragma once

#include "Platform/data-engine/objects/AdoSupport.h"
#include "Platform/data-engine/objects/StreamText.h"

namespace DataEngine::Ado {

class TStreamObject : public Com::TDispatchImpl<TStreamObject, Com::TImplements<Com::TInterfacedObject, _Stream>>,
                      public TFailureReporter {
public:
    TStreamObject() = default;
    ~TStreamObject() override;

    // ---- _Stream ----------------------------------------------------------------
    Int64 GetSize() override;
    bool GetEOS() override;
    Int64 GetPosition() override;
    void SetPosition(Int64 Value) override;
    StreamTypeEnum GetType() override;
    void SetType(StreamTypeEnum Value) override;
    LineSeparatorEnum GetLineSeparator() override;
    void SetLineSeparator(LineSeparatorEnum Value) override;
    ObjectStateEnum GetState() override;
    ConnectModeEnum GetMode() override;
    void SetMode(ConnectModeEnum Value) override;
    WideString GetCharset() override;
    void SetCharset(const WideString& Value) override;
    Variant Read(int NumBytes) override;
    void Open(const Variant& Source, ConnectModeEnum Mode, StreamOpenOptionsEnum Options, const WideString& UserName,
              const WideString& Password) override;
    void Close() override;
    void SkipLine() override;
    void Write(const Variant& Buffer) override;
    void SetEOS() override;
    void CopyTo(_Stream* DestStream, Int64 CharNumber) override;
    void Flush() override;
    void SaveToFile(const WideString& FileName, SaveOptionsEnum Options) override;
    void LoadFromFile(const WideString& FileName) override;
    WideString ReadText(int NumChars) override;
    void WriteText(const WideString& Data, StreamWriteEnum Options) override;
    void Cancel() override;

    // ---- TFailureReporter ----------------------------------------------------------
    TErrorsCollection* GetErrorTarget() override { return nullptr; }
    const char* GetSourceName() const override { return "ADODB.Stream"; }

    static const Com::TDispatchTable<TStreamObject>& GetDispatchTable();

    // ---- Engine side ------------------------------------------------------------------
    // Opens on a file (a file URL or a record's default stream): reads it
    // whole; writes go back to it at Flush and Close when the mode allows.
    void OpenOnFile(const String& path, ConnectModeEnum mode);
    bool IsOpen() const noexcept { return FState == adStateOpen; }
    // The bytes from the position to the end, as text when the stream is a
    // text stream (converted to UTF-8) or as they are; the position moves to the end.
    String TakeRest(std::string_view operation);
    // The whole content as UTF-8 text (a text stream through its character
    // set, a binary one as it is); the position stays.
    String ContentText(std::string_view operation) const;
    // Writes data at the position (a text stream takes it as UTF-8 text and
    // stores it in its character set), cuts what followed, and sets the
    // position back to where the data starts. A binary format into an empty
    // text stream makes it binary.
    void PutForSave(std::string_view data, bool isText, std::string_view operation);

private:
    void CheckOpen(std::string_view operation) const;
    void CheckText(std::string_view operation) const;
    void CheckBinary(std::string_view operation) const;
    void CheckWritable(std::string_view operation) const;
    void CheckReadable(std::string_view operation) const;
    // Writes bytes at the position, overwriting and growing; the position moves past them.
    void PutBytes(std::string_view bytes);
    void PutText(std::u16string_view text);
    std::size_t TextStart() const noexcept;  // the position, after a byte order mark at 0
    void WriteBack();                        // the bytes to the file, when changed

    ObjectStateEnum FState = adStateClosed;
    StreamTypeEnum FType = adTypeText;
    LineSeparatorEnum FLineSeparator = adCRLF;
    ConnectModeEnum FMode = adModeUnknown;
    const TCharset* FCharset = &DefaultCharset();
    String FCharsetName = "Unicode";
    std::string FData;
    std::size_t FPosition = 0;
    String FFile;        // the file behind the stream; empty for a stream in memory
    bool FDirty = false;  // changed since opened or last written back
};

TStreamObject* StreamOf(Rtl::IUnknown* unk) noexcept;

}  // namespace DataEngine::Ado
