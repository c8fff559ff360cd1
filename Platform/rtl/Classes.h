// Streams and lists: TStream and its memory, file and string streams; TList;
// TStrings and TStringList with change events.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "Platform/rtl/System.h"

namespace Rtl {

// ---- Streams ------------------------------------------------------------------

enum TSeekOrigin : Byte { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
    RTL_CLASS(TStream, TObject)
public:
    // Transfer up to count bytes; return the number moved.
    virtual Int64 Read(void* buffer, Int64 count) = 0;
    virtual Int64 Write(const void* buffer, Int64 count) = 0;
    // Returns the new position; seeking before 0 is an EStreamError.
    virtual Int64 Seek(Int64 offset, TSeekOrigin origin) = 0;

    Int64 GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(Int64 pos) { Seek(pos, soBeginning); }
    virtual Int64 GetSize();
    virtual void SetSize(Int64 newSize);

    // Exact transfers: EReadError "Stream read error" / EWriteError "Stream write error".
    void ReadBuffer(void* buffer, Int64 count);
    void WriteBuffer(const void* buffer, Int64 count);
    // Copies count bytes from source (count 0: the whole source from its start);
    // returns the number copied.
    Int64 CopyFrom(TStream* source, Int64 count);
};

class TCustomMemoryStream : public TStream {
    RTL_CLASS(TCustomMemoryStream, TStream)
public:
    Int64 Read(void* buffer, Int64 count) override;
    Int64 Seek(Int64 offset, TSeekOrigin origin) override;
    void* Memory() noexcept { return FData.data(); }
    const void* Memory() const noexcept { return FData.data(); }
    void SaveToStream(TStream* stream);
    void SaveToFile(const String& fileName);  // written beside the target, then renamed

protected:
    std::vector<Byte> FData;
    Int64 FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
    RTL_CLASS(TMemoryStream, TCustomMemoryStream)
public:
    Int64 Write(const void* buffer, Int64 count) override;
    Int64 GetSize() override { return static_cast<Int64>(FData.size()); }
    void SetSize(Int64 newSize) override;
    void Clear();
    void LoadFromStream(TStream* stream);
    void LoadFromFile(const String& fileName);
};

// File open modes.
enum : Word {
    fmCreate = 0xFF00,
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyNone = 0x0040,
};

class TFileStream : public TStream {
    RTL_CLASS(TFileStream, TStream)
public:
    // EFCreateError "Cannot create file \"%s\". %s" / EFOpenError "Cannot open file \"%s\". %s".
    TFileStream(const String& fileName, Word mode);
    ~TFileStream() override;
    Int64 Read(void* buffer, Int64 count) override;
    Int64 Write(const void* buffer, Int64 count) override;
    Int64 Seek(Int64 offset, TSeekOrigin origin) override;
    void SetSize(Int64 newSize) override;
    const String& FileName() const noexcept { return FFileName; }

private:
    String FFileName;
    int FHandle = -1;
};

class TStringStream : public TStream {
    RTL_CLASS(TStringStream, TStream)
public:
    explicit TStringStream(String s = {}) : FData(std::move(s)) {}
    Int64 Read(void* buffer, Int64 count) override;
    Int64 Write(const void* buffer, Int64 count) override;
    Int64 Seek(Int64 offset, TSeekOrigin origin) override;
    Int64 GetSize() override { return static_cast<Int64>(FData.size()); }
    void SetSize(Int64 newSize) override;
    const String& DataString() const noexcept { return FData; }
    String ReadString(Int64 count);
    void WriteString(std::string_view s);

private:
    String FData;
    Int64 FPosition = 0;
};

// ---- TList -----------------------------------------------------------------------

// Untyped pointer list with the framework's index checks: EListError
// "List index out of bounds (%d)".
class TList : public TObject {
    RTL_CLASS(TList, TObject)
public:
    int Add(void* item);
    void Insert(int index, void* item);
    void Delete(int index);
    int Remove(void* item);  // returns the former index, -1 when absent
    int IndexOf(void* item) const noexcept;
    void* Get(int index) const;
    void Put(int index, void* item);
    void* First() const;
    void* Last() const;
    void* Extract(void* item);
    void Exchange(int a, int b);
    void Move(int from, int to);
    void Clear() noexcept { FItems.clear(); }
    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    void Sort(int (*compare)(void*, void*));

private:
    std::vector<void*> FItems;
};

// ---- TStrings ----------------------------------------------------------------------

class TStrings : public TPersistent {
    RTL_CLASS(TStrings, TPersistent)
public:
    // Abstract storage.
    virtual String Get(int index) const = 0;
    virtual int GetCount() const = 0;
    virtual TObject* GetObject(int index) const { return nullptr; }
    virtual void Put(int index, const String& s);
    virtual void PutObject(int index, TObject* obj) {}
    virtual void Clear() = 0;
    virtual void Delete(int index) = 0;
    virtual void Insert(int index, const String& s) = 0;
    virtual void InsertObject(int index, const String& s, TObject* obj);

    virtual int Add(const String& s);
    virtual int AddObject(const String& s, TObject* obj);
    void Append(const String& s) { Add(s); }
    virtual void AddStrings(const TStrings* strings);
    virtual int IndexOf(const String& s) const;   // case-insensitive unless CaseSensitive
    int IndexOfName(const String& name) const;
    int IndexOfObject(TObject* obj) const;
    virtual void Move(int from, int to);
    virtual void Exchange(int a, int b);
    bool Equals(const TStrings* other) const;
    void Assign(TPersistent* Source) override;

    int Count() const { return GetCount(); }
    String operator[](int index) const { return Get(index); }
    String Strings(int index) const { return Get(index); }

    // Lines joined with CR LF (each line terminated); the setter splits on CR LF,
    // LF or a lone CR.
    virtual String GetText() const;
    virtual void SetText(std::string_view text);
    // Items separated by ',' with quoting of items containing blanks, commas or quotes.
    String GetCommaText() const;
    void SetCommaText(std::string_view text);
    String GetDelimitedText() const;
    void SetDelimitedText(std::string_view text);
    char Delimiter = ',';
    char QuoteChar = '"';
    char NameValueSeparator = '=';

    String Names(int index) const;
    String ValueFromIndex(int index) const;
    String GetValue(const String& name) const;
    void SetValue(const String& name, const String& value);  // empty value deletes the line

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const noexcept { return FUpdateCount; }

    void LoadFromStream(TStream* stream);
    void SaveToStream(TStream* stream) const;
    void LoadFromFile(const String& fileName);
    void SaveToFile(const String& fileName) const;

    bool GetCaseSensitive() const noexcept { return FCaseSensitive; }
    virtual void SetCaseSensitive(bool v) { FCaseSensitive = v; }

protected:
    // Called with true when the first BeginUpdate starts a block and false when the last EndUpdate closes it.
    virtual void SetUpdateState(bool updating) {}
    virtual int CompareStrings(const String& a, const String& b) const;
    bool FCaseSensitive = false;

private:
    int FUpdateCount = 0;
};

enum TDuplicates : Byte { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
    RTL_CLASS(TStringList, TStrings)
public:
    TStringList() = default;
    ~TStringList() override;

    String Get(int index) const override;
    int GetCount() const override { return static_cast<int>(FList.size()); }
    TObject* GetObject(int index) const override;
    void Put(int index, const String& s) override;
    void PutObject(int index, TObject* obj) override;
    void Clear() override;
    void Delete(int index) override;
    void Insert(int index, const String& s) override;
    void InsertObject(int index, const String& s, TObject* obj) override;
    int Add(const String& s) override;
    int AddObject(const String& s, TObject* obj) override;
    int IndexOf(const String& s) const override;
    // Move raises on a sorted list before changing anything; Exchange swaps in place.
    void Move(int from, int to) override;
    void Exchange(int a, int b) override;
    // Binary search on a sorted list; true with the index when found, else the insertion point.
    virtual bool Find(const String& s, int& index) const;
    virtual void Sort();
    void CustomSort(int (*compare)(TStringList* list, int a, int b));
    void SetCaseSensitive(bool v) override;

    bool GetSorted() const noexcept { return FSorted; }
    void SetSorted(bool v);
    TDuplicates GetDuplicates() const noexcept { return FDuplicates; }
    void SetDuplicates(TDuplicates v) noexcept { FDuplicates = v; }
    // Objects are freed with the list when OwnsObjects is set.
    bool OwnsObjects = false;

    // Fired once per update block (or once per change outside a block):
    // OnChanging before the first change, OnChange after the last.
    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

protected:
    void SetUpdateState(bool updating) override;
    virtual void Changing();
    virtual void Changed();

private:
    struct Item {
        String S;
        TObject* Obj = nullptr;
    };
    void InsertItem(int index, const String& s, TObject* obj);
    void CheckIndex(int index) const;
    std::vector<Item> FList;
    bool FSorted = false;
    TDuplicates FDuplicates = dupIgnore;
    bool FChangePending = false;
};

}  // namespace Rtl
