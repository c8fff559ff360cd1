// Streams (memory, file, string) and lists (TList, TStrings, TStringList).
#include "Platform/rtl/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace Rtl {

RTL_CLASS_IMPL(TStream, TObject)
RTL_CLASS_IMPL(TCustomMemoryStream, TStream)
RTL_CLASS_IMPL(TMemoryStream, TCustomMemoryStream)
RTL_CLASS_IMPL(TFileStream, TStream)
RTL_CLASS_IMPL(TStringStream, TStream)
RTL_CLASS_IMPL(TList, TObject)
RTL_CLASS_IMPL(TStrings, TPersistent)
RTL_CLASS_IMPL(TStringList, TStrings)

namespace {

// Largest transfer handed to one read(2) or write(2) call.
constexpr std::size_t MaxIoChunk = std::size_t{1} << 30;

String SysError() { return SysErrorMessage(errno); }

// New position for a seek within [0, Int64 max]; EStreamError before the start.
Int64 SeekTarget(Int64 base, Int64 offset) {
    Int64 pos;
    if (__builtin_add_overflow(base, offset, &pos))
        throw EStreamError(Format("Invalid stream position: %d + %d overflows", {base, offset}));
    if (pos < 0) throw EStreamError(Format("Invalid stream position %d: before the start of the stream", {pos}));
    return pos;
}

Int64 Base(TSeekOrigin origin, Int64 position, Int64 size) {
    switch (origin) {
        case soBeginning: return 0;
        case soCurrent: return position;
        case soEnd: return size;
    }
    throw EStreamError(Format("Invalid seek origin %d", {static_cast<int>(origin)}));
}

std::size_t CheckedSize(Int64 size) {
    if (size < 0) throw EStreamError(Format("Invalid stream size %d", {size}));
    if (static_cast<UInt64>(size) > PTRDIFF_MAX)
        throw EStreamError(Format("Out of memory while expanding memory stream to %d bytes", {size}));
    return static_cast<std::size_t>(size);
}

// Resizes a memory buffer, turning allocation failures into stream errors.
template <class Buffer>
void Resize(Buffer& buffer, std::size_t size) {
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        throw EStreamError(Format("Out of memory while expanding memory stream to %u bytes", {static_cast<UInt64>(size)}));
    } catch (const std::length_error&) {
        throw EStreamError(Format("Out of memory while expanding memory stream to %u bytes", {static_cast<UInt64>(size)}));
    }
}

// Writes a file by creating it beside the target and renaming it over the
// target once complete: a failure leaves the previous file as it was.
void SaveFileAtomically(const String& fileName, const void* data, std::size_t size) {
    // Replace what a symbolic link points to, not the link.
    String target = fileName;
    if (char* real = ::realpath(fileName.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, SysErrorMessage(EISDIR)}));

    static std::atomic<unsigned> counter{0};
    String temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".~" + IntToStr(::getpid()) + "-" + IntToStr(counter.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, SysError()}));

    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw EWriteError(Format("Cannot write file \"%s\". %s", {fileName, SysErrorMessage(err)}));
    };
    if (exists) ::fchmod(fd, old.st_mode & 07777);
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::min(left, MaxIoChunk));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw EWriteError(Format("Cannot write file \"%s\". %s", {fileName, SysErrorMessage(err)}));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, SysErrorMessage(err)}));
    }
    // Make the rename itself durable.
    const String dir = ExtractFilePath(target);
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

// Stable merge sort that stays within bounds whatever the comparison answers.
template <class T, class Less>
void MergeSort(std::vector<T>& items, Less less) {
    const std::size_t n = items.size();
    std::vector<T> tmp(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            std::size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) tmp[k++] = less(items[j], items[i]) ? items[j++] : items[i++];
            while (i < mid) tmp[k++] = items[i++];
            while (j < hi) tmp[k++] = items[j++];
        }
        items.swap(tmp);
    }
}

}  // namespace

// ---- TStream ------------------------------------------------------------------------

Int64 TStream::GetSize() {
    const Int64 pos = Seek(0, soCurrent);
    const Int64 size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(Int64 newSize) {
    throw EStreamError(Format("%s cannot change its size", {ClassName()}));
}

void TStream::ReadBuffer(void* buffer, Int64 count) {
    if (count < 0) throw EReadError("Stream read error");
    auto* p = static_cast<Byte*>(buffer);
    while (count > 0) {
        const Int64 n = Read(p, count);
        if (n <= 0 || n > count) throw EReadError("Stream read error");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, Int64 count) {
    if (count < 0) throw EWriteError("Stream write error");
    auto* p = static_cast<const Byte*>(buffer);
    while (count > 0) {
        const Int64 n = Write(p, count);
        if (n <= 0 || n > count) throw EWriteError("Stream write error");
        p += n;
        count -= n;
    }
}

Int64 TStream::CopyFrom(TStream* source, Int64 count) {
    if (!source) throw EStreamError("No source stream to copy from");
    if (count < 0) throw EStreamError(Format("Invalid byte count %d to copy", {count}));
    if (count == 0) {
        source->SetPosition(0);
        count = source->GetSize();
    }
    constexpr Int64 BufferSize = 64 * 1024;
    std::vector<Byte> buffer(static_cast<std::size_t>(std::min(count, BufferSize)));
    for (Int64 left = count; left > 0;) {
        const Int64 n = std::min(left, BufferSize);
        source->ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

// ---- Memory streams ---------------------------------------------------------------------

Int64 TCustomMemoryStream::Read(void* buffer, Int64 count) {
    const Int64 size = static_cast<Int64>(FData.size());
    if (count <= 0 || FPosition >= size) return 0;
    const Int64 n = std::min(count, size - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

Int64 TCustomMemoryStream::Seek(Int64 offset, TSeekOrigin origin) {
    FPosition = SeekTarget(Base(origin, FPosition, static_cast<Int64>(FData.size())), offset);
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream* stream) {
    stream->WriteBuffer(FData.data(), static_cast<Int64>(FData.size()));
}

void TCustomMemoryStream::SaveToFile(const String& fileName) {
    SaveFileAtomically(fileName, FData.data(), FData.size());
}

Int64 TMemoryStream::Write(const void* buffer, Int64 count) {
    if (count <= 0) return 0;
    Int64 end;
    if (__builtin_add_overflow(FPosition, count, &end)) throw EStreamError("Stream write error: size overflow");
    if (end > static_cast<Int64>(FData.size())) Resize(FData, CheckedSize(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::SetSize(Int64 newSize) {
    Resize(FData, CheckedSize(newSize));
    if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* stream) {
    stream->SetPosition(0);
    const Int64 size = stream->GetSize();
    // Read into a new buffer: a failed read leaves this stream as it was.
    std::vector<Byte> data;
    Resize(data, CheckedSize(size));
    stream->ReadBuffer(data.data(), size);
    FData.swap(data);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const String& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(&file);
}

// ---- TFileStream ----------------------------------------------------------------------------

TFileStream::TFileStream(const String& fileName, Word mode) : FFileName(fileName) {
    const bool create = (mode & 0xFF00) == fmCreate;
    int flags = O_CLOEXEC;
    if (create) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 3) {
            case fmOpenRead: flags |= O_RDONLY; break;
            case fmOpenWrite: flags |= O_WRONLY; break;
            case fmOpenReadWrite: flags |= O_RDWR; break;
            default:
                throw EFOpenError(Format("Cannot open file \"%s\". Invalid open mode $%s",
                                         {fileName, IntToHex(mode, 4)}));
        }
    }
    FHandle = ::open(fileName.c_str(), flags, 0666);
    int err = errno;
    if (FHandle >= 0) {
        struct stat st {};
        if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(FHandle);
            FHandle = -1;
            err = EISDIR;
        }
    }
    if (FHandle < 0) {
        if (create) throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, SysErrorMessage(err)}));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", {fileName, SysErrorMessage(err)}));
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

Int64 TFileStream::Read(void* buffer, Int64 count) {
    auto* p = static_cast<char*>(buffer);
    Int64 done = 0;
    while (done < count) {
        const ssize_t n = ::read(FHandle, p + done, static_cast<std::size_t>(std::min<Int64>(count - done, MaxIoChunk)));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EReadError(Format("Cannot read file \"%s\". %s", {FFileName, SysError()}));
        }
        if (n == 0) break;  // end of file
        done += n;
    }
    return done;
}

Int64 TFileStream::Write(const void* buffer, Int64 count) {
    auto* p = static_cast<const char*>(buffer);
    Int64 done = 0;
    while (done < count) {
        const ssize_t n = ::write(FHandle, p + done, static_cast<std::size_t>(std::min<Int64>(count - done, MaxIoChunk)));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EWriteError(Format("Cannot write file \"%s\". %s", {FFileName, SysError()}));
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

Int64 TFileStream::Seek(Int64 offset, TSeekOrigin origin) {
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (pos < 0)
        throw EStreamError(Format("Cannot seek to offset %d in file \"%s\". %s", {offset, FFileName, SysError()}));
    return static_cast<Int64>(pos);
}

void TFileStream::SetSize(Int64 newSize) {
    if (newSize < 0) throw EStreamError(Format("Invalid stream size %d", {newSize}));
    const Int64 pos = GetPosition();
    if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
        throw EStreamError(Format("Cannot change the size of file \"%s\" to %d bytes. %s",
                                  {FFileName, newSize, SysError()}));
    if (pos > newSize) SetPosition(newSize);
}

// ---- TStringStream ---------------------------------------------------------------------------

Int64 TStringStream::Read(void* buffer, Int64 count) {
    const Int64 size = static_cast<Int64>(FData.size());
    if (count <= 0 || FPosition >= size) return 0;
    const Int64 n = std::min(count, size - FPosition);
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

Int64 TStringStream::Write(const void* buffer, Int64 count) {
    if (count <= 0) return 0;
    Int64 end;
    if (__builtin_add_overflow(FPosition, count, &end)) throw EStreamError("Stream write error: size overflow");
    if (end > static_cast<Int64>(FData.size())) Resize(FData, CheckedSize(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

Int64 TStringStream::Seek(Int64 offset, TSeekOrigin origin) {
    FPosition = SeekTarget(Base(origin, FPosition, static_cast<Int64>(FData.size())), offset);
    return FPosition;
}

void TStringStream::SetSize(Int64 newSize) {
    Resize(FData, CheckedSize(newSize));
    if (FPosition > newSize) FPosition = newSize;
}

String TStringStream::ReadString(Int64 count) {
    const Int64 size = static_cast<Int64>(FData.size());
    if (count <= 0 || FPosition >= size) return String();
    const Int64 n = std::min(count, size - FPosition);
    String r = FData.substr(static_cast<std::size_t>(FPosition), static_cast<std::size_t>(n));
    FPosition += n;
    return r;
}

void TStringStream::WriteString(std::string_view s) { WriteBuffer(s.data(), static_cast<Int64>(s.size())); }

// ---- TList ------------------------------------------------------------------------------------

namespace {
[[noreturn]] void ListError(int index) { throw EListError(Format("List index out of bounds (%d)", {index})); }
}  // namespace

int TList::Add(void* item) {
    FItems.push_back(item);
    return Count() - 1;
}

void TList::Insert(int index, void* item) {
    if (index < 0 || index > Count()) ListError(index);
    FItems.insert(FItems.begin() + index, item);
}

void TList::Delete(int index) {
    if (index < 0 || index >= Count()) ListError(index);
    FItems.erase(FItems.begin() + index);
}

int TList::Remove(void* item) {
    const int i = IndexOf(item);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    return i;
}

int TList::IndexOf(void* item) const noexcept {
    const auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void* TList::Get(int index) const {
    if (index < 0 || index >= Count()) ListError(index);
    return FItems[static_cast<std::size_t>(index)];
}

void TList::Put(int index, void* item) {
    if (index < 0 || index >= Count()) ListError(index);
    FItems[static_cast<std::size_t>(index)] = item;
}

void* TList::First() const { return Get(0); }

void* TList::Last() const { return Get(Count() - 1); }

void* TList::Extract(void* item) {
    const int i = IndexOf(item);
    if (i < 0) return nullptr;
    FItems.erase(FItems.begin() + i);
    return item;
}

void TList::Exchange(int a, int b) {
    if (a < 0 || a >= Count()) ListError(a);
    if (b < 0 || b >= Count()) ListError(b);
    std::swap(FItems[static_cast<std::size_t>(a)], FItems[static_cast<std::size_t>(b)]);
}

void TList::Move(int from, int to) {
    if (from == to) return;
    if (from < 0 || from >= Count()) ListError(from);
    if (to < 0 || to >= Count()) ListError(to);
    void* item = FItems[static_cast<std::size_t>(from)];
    FItems.erase(FItems.begin() + from);
    FItems.insert(FItems.begin() + to, item);
}

void TList::Sort(int (*compare)(void*, void*)) {
    if (!compare || FItems.size() < 2) return;
    std::vector<void*> items = FItems;  // the list stays as it was if compare raises
    MergeSort(items, [compare](void* a, void* b) { return compare(a, b) < 0; });
    FItems.swap(items);
}

// ---- TStrings ----------------------------------------------------------------------------------

namespace {

// BeginUpdate/EndUpdate around a block, also when the block raises.
class TUpdateGuard {
public:
    explicit TUpdateGuard(TStrings* s) : FStrings(s), FExceptions(std::uncaught_exceptions()) { s->BeginUpdate(); }
    TUpdateGuard(const TUpdateGuard&) = delete;
    TUpdateGuard& operator=(const TUpdateGuard&) = delete;
    ~TUpdateGuard() noexcept(false) {
        if (std::uncaught_exceptions() > FExceptions) {
            try {
                FStrings->EndUpdate();
            } catch (...) {  // the first error is the one to report
            }
        } else {
            FStrings->EndUpdate();
        }
    }

private:
    TStrings* FStrings;
    int FExceptions;
};

bool IsBlankChar(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }

String Quoted(const String& s, char quote) {
    String r;
    r.reserve(s.size() + 2);
    r += quote;
    for (char c : s) {
        if (c == quote) r += quote;
        r += c;
    }
    r += quote;
    return r;
}

}  // namespace

void TStrings::Put(int index, const String& s) {
    TObject* obj = GetObject(index);
    TUpdateGuard guard(this);
    Delete(index);
    InsertObject(index, s, obj);
}

void TStrings::InsertObject(int index, const String& s, TObject* obj) {
    Insert(index, s);
    PutObject(index, obj);
}

int TStrings::Add(const String& s) {
    const int index = GetCount();
    Insert(index, s);
    return index;
}

int TStrings::AddObject(const String& s, TObject* obj) {
    const int index = Add(s);
    PutObject(index, obj);
    return index;
}

void TStrings::AddStrings(const TStrings* strings) {
    if (!strings) return;
    TUpdateGuard guard(this);
    if (strings == this) {
        // Adding to itself: take the items as they are before the first one is added.
        std::vector<std::pair<String, TObject*>> items;
        for (int i = 0; i < strings->GetCount(); ++i) items.emplace_back(strings->Get(i), strings->GetObject(i));
        for (auto& [s, obj] : items) AddObject(s, obj);
        return;
    }
    for (int i = 0; i < strings->GetCount(); ++i) AddObject(strings->Get(i), strings->GetObject(i));
}

int TStrings::IndexOf(const String& s) const {
    for (int i = 0; i < GetCount(); ++i)
        if (CompareStrings(Get(i), s) == 0) return i;
    return -1;
}

int TStrings::IndexOfName(const String& name) const {
    for (int i = 0; i < GetCount(); ++i) {
        const String s = Get(i);
        const auto p = s.find(NameValueSeparator);
        if (p != String::npos && CompareStrings(s.substr(0, p), name) == 0) return i;
    }
    return -1;
}

int TStrings::IndexOfObject(TObject* obj) const {
    for (int i = 0; i < GetCount(); ++i)
        if (GetObject(i) == obj) return i;
    return -1;
}

void TStrings::Move(int from, int to) {
    if (from == to) return;
    const String s = Get(from);
    TObject* obj = GetObject(from);
    TUpdateGuard guard(this);
    PutObject(from, nullptr);  // so that a list owning its objects does not free this one
    Delete(from);
    InsertObject(to, s, obj);
}

void TStrings::Exchange(int a, int b) {
    const String sa = Get(a), sb = Get(b);
    TObject* oa = GetObject(a);
    TObject* ob = GetObject(b);
    TUpdateGuard guard(this);
    Put(a, sb);
    PutObject(a, ob);
    Put(b, sa);
    PutObject(b, oa);
}

bool TStrings::Equals(const TStrings* other) const {
    if (!other) return false;
    if (other == this) return true;
    const int n = GetCount();
    if (n != other->GetCount()) return false;
    for (int i = 0; i < n; ++i)
        if (Get(i) != other->Get(i)) return false;
    return true;
}

void TStrings::Assign(TPersistent* Source) {
    if (auto* src = dynamic_cast<TStrings*>(Source)) {
        if (src == this) return;
        TUpdateGuard guard(this);
        Clear();
        Delimiter = src->Delimiter;
        QuoteChar = src->QuoteChar;
        NameValueSeparator = src->NameValueSeparator;
        AddStrings(src);
        return;
    }
    TPersistent::Assign(Source);
}

String TStrings::GetText() const {
    String r;
    for (int i = 0; i < GetCount(); ++i) {
        r += Get(i);
        r += "\r\n";
    }
    return r;
}

void TStrings::SetText(std::string_view text) {
    TUpdateGuard guard(this);
    Clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t j = text.find_first_of("\r\n", i);
        if (j == std::string_view::npos) {
            Add(String(text.substr(i)));
            break;
        }
        Add(String(text.substr(i, j - i)));
        i = (text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') ? j + 2 : j + 1;
    }
}

namespace {

// Items joined by delimiter; items holding blanks, the quote or the delimiter are quoted.
String JoinDelimited(const TStrings& list, char delimiter, char quote) {
    const int n = list.GetCount();
    if (n == 1 && list.Get(0).empty()) return String(2, quote);
    String r;
    for (int i = 0; i < n; ++i) {
        const String s = list.Get(i);
        const bool quoted = std::any_of(s.begin(), s.end(), [&](char c) {
            return IsBlankChar(c) || c == quote || c == delimiter;
        });
        if (i > 0) r += delimiter;
        r += quoted ? Quoted(s, quote) : s;
    }
    return r;
}

// Replaces the items of list by those of text. Blanks (every character up to
// the space, NUL included) separate items like the delimiter does unless they
// are quoted; in a quoted item a doubled quote stands for one.
void SplitDelimited(TStrings& list, std::string_view text, char delimiter, char quote) {
    TUpdateGuard guard(&list);
    list.Clear();
    const std::size_t n = text.size();
    std::size_t p = 0;
    auto skipBlanks = [&] {
        while (p < n && IsBlankChar(text[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        String s;
        if (text[p] == quote) {
            // A quoted item ends at a single quote or at the end of the text.
            ++p;
            while (p < n) {
                if (text[p] == quote) {
                    if (p + 1 < n && text[p + 1] == quote) {
                        s += quote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                s += text[p++];
            }
        } else {
            const std::size_t start = p;
            while (p < n && !IsBlankChar(text[p]) && text[p] != delimiter) ++p;
            s.assign(text.substr(start, p - start));
        }
        list.Add(s);
        skipBlanks();
        if (p < n && text[p] == delimiter) {
            if (p + 1 == n) list.Add(String());  // a trailing delimiter ends with an empty item
            ++p;
            skipBlanks();
        }
    }
}

}  // namespace

String TStrings::GetDelimitedText() const { return JoinDelimited(*this, Delimiter, QuoteChar); }

void TStrings::SetDelimitedText(std::string_view text) { SplitDelimited(*this, text, Delimiter, QuoteChar); }

// Comma text always uses ',' and '"', whatever Delimiter and QuoteChar say.
String TStrings::GetCommaText() const { return JoinDelimited(*this, ',', '"'); }

void TStrings::SetCommaText(std::string_view text) { SplitDelimited(*this, text, ',', '"'); }

String TStrings::Names(int index) const {
    const String s = Get(index);
    const auto p = s.find(NameValueSeparator);
    return p == String::npos ? String() : s.substr(0, p);
}

String TStrings::ValueFromIndex(int index) const {
    const String s = Get(index);
    const auto p = s.find(NameValueSeparator);
    return p == String::npos ? String() : s.substr(p + 1);
}

String TStrings::GetValue(const String& name) const {
    const int i = IndexOfName(name);
    return i < 0 ? String() : ValueFromIndex(i);
}

void TStrings::SetValue(const String& name, const String& value) {
    int i = IndexOfName(name);
    if (!value.empty()) {
        const String line = name + NameValueSeparator + value;
        if (i < 0)
            Add(line);
        else
            Put(i, line);
    } else if (i >= 0) {
        Delete(i);
    }
}

void TStrings::BeginUpdate() {
    if (FUpdateCount == 0) SetUpdateState(true);
    ++FUpdateCount;
}

void TStrings::EndUpdate() {
    if (FUpdateCount == 0) return;  // unbalanced call
    if (--FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::LoadFromStream(TStream* stream) {
    const Int64 size = std::max<Int64>(0, stream->GetSize() - stream->GetPosition());
    String text;
    Resize(text, CheckedSize(size));
    stream->ReadBuffer(text.data(), size);
    std::string_view view = text;
    if (view.substr(0, 3) == "\xEF\xBB\xBF") view.remove_prefix(3);  // UTF-8 byte order mark
    SetText(view);
}

void TStrings::SaveToStream(TStream* stream) const {
    const String text = GetText();
    stream->WriteBuffer(text.data(), static_cast<Int64>(text.size()));
}

void TStrings::LoadFromFile(const String& fileName) {
    TFileStream file(fileName, fmOpenRead);
    LoadFromStream(&file);
}

void TStrings::SaveToFile(const String& fileName) const {
    const String text = GetText();
    SaveFileAtomically(fileName, text.data(), text.size());
}

int TStrings::CompareStrings(const String& a, const String& b) const {
    return FCaseSensitive ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

// ---- TStringList --------------------------------------------------------------------------------

namespace {
[[noreturn]] void StringListIndexError(int index) {
    throw EStringListError(Format("List index out of bounds (%d)", {index}));
}
[[noreturn]] void SortedListError() { throw EStringListError("Operation not allowed on sorted list"); }
}  // namespace

TStringList::~TStringList() {
    OnChanging = nullptr;
    OnChange = nullptr;
    if (OwnsObjects)
        for (auto& item : FList) delete item.Obj;
}

void TStringList::CheckIndex(int index) const {
    if (index < 0 || index >= GetCount()) StringListIndexError(index);
}

String TStringList::Get(int index) const {
    CheckIndex(index);
    return FList[static_cast<std::size_t>(index)].S;
}

TObject* TStringList::GetObject(int index) const {
    CheckIndex(index);
    return FList[static_cast<std::size_t>(index)].Obj;
}

void TStringList::Put(int index, const String& s) {
    if (FSorted) SortedListError();
    CheckIndex(index);
    Changing();
    FList[static_cast<std::size_t>(index)].S = s;
    Changed();
}

// Replacing an object does not free the previous one, also with OwnsObjects:
// Move and Exchange hand objects around through this.
void TStringList::PutObject(int index, TObject* obj) {
    CheckIndex(index);
    Changing();
    FList[static_cast<std::size_t>(index)].Obj = obj;
    Changed();
}

void TStringList::Clear() {
    if (FList.empty()) return;
    Changing();
    std::vector<Item> old;
    old.swap(FList);
    if (OwnsObjects)
        for (auto& item : old) delete item.Obj;
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index);
    Changing();
    TObject* obj = FList[static_cast<std::size_t>(index)].Obj;
    FList.erase(FList.begin() + index);
    if (OwnsObjects) delete obj;
    Changed();
}

void TStringList::Insert(int index, const String& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int index, const String& s, TObject* obj) {
    if (FSorted) SortedListError();
    if (index < 0 || index > GetCount()) StringListIndexError(index);
    InsertItem(index, s, obj);
}

void TStringList::InsertItem(int index, const String& s, TObject* obj) {
    Changing();
    FList.insert(FList.begin() + index, Item{s, obj});
    Changed();
}

int TStringList::Add(const String& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const String& s, TObject* obj) {
    int index = GetCount();
    if (FSorted && Find(s, index)) {
        switch (FDuplicates) {
            case dupIgnore: return index;
            case dupError: throw EStringListError("String list does not allow duplicates");
            case dupAccept: break;
        }
    }
    InsertItem(index, s, obj);
    return index;
}

int TStringList::IndexOf(const String& s) const {
    if (!FSorted) return TStrings::IndexOf(s);
    int index;
    return Find(s, index) ? index : -1;
}

void TStringList::Move(int from, int to) {
    if (FSorted) SortedListError();
    CheckIndex(from);
    CheckIndex(to);
    if (from == to) return;
    Changing();
    Item item = std::move(FList[static_cast<std::size_t>(from)]);
    FList.erase(FList.begin() + from);
    FList.insert(FList.begin() + to, std::move(item));
    Changed();
}

void TStringList::Exchange(int a, int b) {
    CheckIndex(a);
    CheckIndex(b);
    Changing();
    std::swap(FList[static_cast<std::size_t>(a)], FList[static_cast<std::size_t>(b)]);
    Changed();
}

bool TStringList::Find(const String& s, int& index) const {
    bool found = false;
    int lo = 0, hi = GetCount() - 1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const int c = CompareStrings(FList[static_cast<std::size_t>(mid)].S, s);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (FDuplicates != dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

void TStringList::Sort() {
    CustomSort([](TStringList* list, int a, int b) {
        return list->CompareStrings(list->FList[static_cast<std::size_t>(a)].S,
                                    list->FList[static_cast<std::size_t>(b)].S);
    });
}

void TStringList::CustomSort(int (*compare)(TStringList* list, int a, int b)) {
    if (FSorted || !compare || FList.size() < 2) return;
    // Order the positions first (compare sees the list unchanged), then apply.
    std::vector<int> order(FList.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    MergeSort(order, [this, compare](int a, int b) { return compare(this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(FList.size());
    for (int i : order) sorted.push_back(FList[static_cast<std::size_t>(i)]);
    Changing();
    FList.swap(sorted);
    Changed();
}

void TStringList::SetSorted(bool v) {
    if (v == FSorted) return;
    if (v) Sort();
    FSorted = v;
}

void TStringList::SetCaseSensitive(bool v) {
    if (v == FCaseSensitive) return;
    FCaseSensitive = v;
    if (FSorted) {
        // The order depends on the comparison: sort again so that Find stays right.
        FSorted = false;
        try {
            Sort();
        } catch (...) {
            FSorted = true;
            throw;
        }
        FSorted = true;
    }
}

void TStringList::SetUpdateState(bool updating) {
    if (!updating && FChangePending) {
        FChangePending = false;
        if (OnChange) OnChange(this);
    }
}

void TStringList::Changing() {
    if (UpdateCount() == 0) {
        if (OnChanging) OnChanging(this);
    } else if (!FChangePending) {
        FChangePending = true;
        if (OnChanging) OnChanging(this);
    }
}

void TStringList::Changed() {
    if (UpdateCount() == 0 && OnChange) OnChange(this);
}

}  // namespace Rtl
