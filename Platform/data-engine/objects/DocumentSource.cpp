#include "Platform/data-engine/objects/DocumentSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Platform/data-engine/ConnectionString.h"
#include "Platform/data-engine/providers/Provider.h"

namespace DataEngine::Ado {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void BadUrl(std::string_view url, std::string_view why) {
    AdoFail(adErrInvalidURL, "\"" + String(url.substr(0, 300)) + "\": " + String(why));
}

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One path segment, percent-decoded and checked.
String DecodeSegment(std::string_view seg, std::string_view url) {
    String out;
    for (std::size_t i = 0; i < seg.size(); ++i) {
        char c = seg[i];
        if (c == '%') {
            if (i + 2 >= seg.size()) BadUrl(url, "a '%' is not followed by two hex digits");
            const int h = HexValue(seg[i + 1]), l = HexValue(seg[i + 2]);
            if (h < 0 || l < 0) BadUrl(url, "a '%' is not followed by two hex digits");
            c = static_cast<char>(h * 16 + l);
            i += 2;
            if (c == '/' || c == '\\') BadUrl(url, "an encoded path separator is not allowed");
        }
        if (c == '\0') BadUrl(url, "a NUL character is not allowed");
        if (c == '\\') BadUrl(url, "a backslash is not allowed in a path");
        out += c;
    }
    if (out == "." || out == "..") BadUrl(url, "the segment \"" + out + "\" is not allowed: paths never leave the document root");
    return out;
}

// The decoded segments of a path ("a/b%20c/" -> {"a", "b c"}).
std::vector<String> Segments(std::string_view path, std::string_view url) {
    std::vector<String> out;
    std::size_t i = 0;
    while (i <= path.size()) {
        const std::size_t j = std::min(path.find('/', i), path.size());
        const std::string_view seg = path.substr(i, j - i);
        if (!seg.empty()) out.push_back(DecodeSegment(seg, url));
        i = j + 1;
    }
    return out;
}

std::string_view StripUrlKeyword(std::string_view url) {
    std::string_view s = url;
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    if (s.size() >= 4 && Rtl::SameText(s.substr(0, 4), "URL=")) s.remove_prefix(4);
    return s;
}

bool HasScheme(std::string_view s, std::string_view scheme) {
    return s.size() > scheme.size() && Rtl::SameText(s.substr(0, scheme.size()), scheme);
}

String Join(const std::vector<String>& segments) {
    String path;
    for (const auto& s : segments) path += "/" + s;
    return path.empty() ? String("/") : path;
}

bool IsInside(const String& path, const String& root) {
    if (path == root) return true;
    if (root == "/") return !path.empty() && path[0] == '/';
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/';
}

}  // namespace

String FileUrlToPath(std::string_view url) {
    const std::string_view s = StripUrlKeyword(url);
    if (!HasScheme(s, "file:")) BadUrl(url, "only file: URLs name resources of this data engine");
    std::string_view rest = s.substr(5);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !Rtl::SameText(host, "localhost"))
            BadUrl(url, "the host \"" + String(host) + "\" is not this machine");
        rest = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
    }
    if (rest.empty() || rest.front() != '/') BadUrl(url, "a file URL needs an absolute path");
    if (rest.find_first_of("?#") != std::string_view::npos) BadUrl(url, "a query or fragment is not allowed");
    return Join(Segments(rest, url));
}

String PathToFileUrl(std::string_view path) {
    static const char* hex = "0123456789ABCDEF";
    String out = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~' || c >= 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// ---- TDocumentRoot ----------------------------------------------------------------------------------

TDocumentRoot::TDocumentRoot(std::string_view url) {
    const String path = FileUrlToPath(url);
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    if (ec) AdoFail(adErrURLDoesNotExist, "the document root \"" + String(url) + "\" does not exist");
    if (!fs::is_directory(canonical, ec)) AdoFail(adErrInvalidURL, "the document root \"" + String(url) + "\" is not a folder");
    FPath = canonical.string();
    while (FPath.size() > 1 && FPath.back() == '/') FPath.pop_back();
}

void TDocumentRoot::CheckInside(const String& path, std::string_view url) const {
    if (!IsInside(path, FPath)) BadUrl(url, "it names a place outside the document root " + GetUrl());
    // Symbolic links: the nearest existing ancestor, with every link followed,
    // must still be inside the root.
    fs::path p(path);
    std::error_code ec;
    while (!p.empty() && !fs::exists(fs::symlink_status(p, ec)) && p != p.parent_path()) p = p.parent_path();
    const fs::path real = fs::canonical(p, ec);
    if (ec) {
        // A dangling link: where it points is unknown, so it is refused.
        if (fs::is_symlink(fs::symlink_status(p, ec))) BadUrl(url, "it goes through a symbolic link that leads nowhere");
        BadUrl(url, "it cannot be resolved: " + ec.message());
    }
    if (!IsInside(real.string(), FPath))
        BadUrl(url, "it goes through a symbolic link that leads outside the document root " + GetUrl());
}

String TDocumentRoot::Resolve(std::string_view url) const {
    const std::string_view s = StripUrlKeyword(url);
    String path;
    if (HasScheme(s, "file:")) {
        path = FileUrlToPath(s);
    } else {
        const std::size_t colon = s.find(':');
        if (colon != std::string_view::npos && colon < s.find('/'))
            BadUrl(url, "only file: URLs name resources of this data engine");
        if (s.find_first_of("?#") != std::string_view::npos) BadUrl(url, "a query or fragment is not allowed");
        const std::vector<String> segs = Segments(s, url);
        path = (!s.empty() && s.front() == '/') ? Join(segs) : FPath + (segs.empty() ? String() : Join(segs));
    }
    CheckInside(path, url);
    return path;
}

std::shared_ptr<TDocumentRoot> RootFromConnectionString(std::string_view text) {
    TConnectionString props = TConnectionString::Parse(text);
    String url = props.Get("URL");
    if (url.empty()) {
        const String provider = props.Get("Provider");
        if (Rtl::SameText(provider.substr(0, 7), "MSDAIPP")) url = props.Get("Data Source");
    }
    if (url.empty()) return nullptr;
    return std::make_shared<TDocumentRoot>(url);
}

// ---- The provider -------------------------------------------------------------------------------------

namespace {

[[noreturn]] void NotForDocuments(std::string_view what) {
    AdoFail(adErrFeatureNotAvailable, String(what) + ": a document source connection serves records and streams only");
}

class TDocumentSession : public TSession {
public:
    void Open(const TConnectionString& properties, const String&, const String&) override {
        String url = properties.Get("URL");
        if (url.empty()) url = properties.Get("Data Source");
        if (url.empty()) AdoFail(adErrInvalidURL, "a document source connection needs the item URL=file:///folder");
        FRoot = std::make_unique<TDocumentRoot>(url);
        FUrl = url;
    }
    void Close() override { FRoot.reset(); }
    bool GetConnected() const override { return FRoot != nullptr; }
    int BeginTrans() override { NotForDocuments("BeginTrans"); }
    void CommitTrans(bool) override { NotForDocuments("CommitTrans"); }
    void RollbackTrans(bool) override { NotForDocuments("RollbackTrans"); }
    int GetTransactionLevel() const override { return 0; }
    IsolationLevelEnum SetIsolationLevel(IsolationLevelEnum level) override { return level; }
    IsolationLevelEnum GetIsolationLevel() const override { return adXactUnspecified; }
    void SetCommandTimeout(int seconds) override { FTimeout = seconds; }
    int GetCommandTimeout() const override { return FTimeout; }
    void Cancel() override {}
    std::unique_ptr<TStatement> CreateStatement() override { NotForDocuments("A command text"); }
    String TableCommandText(const String&) const override { NotForDocuments("A table"); }
    std::unique_ptr<TResultStream> OpenSchema(SchemaEnum, const std::vector<Variant>&) override {
        NotForDocuments("OpenSchema");
    }
    std::vector<String> GetKeyColumns(const String&, const String&) override { return {}; }
    std::vector<TPropertyInfo> GetProperties() const override {
        return {{"Provider Name", Variant(String(DocumentSourceProvider))},
                {"Data Source", Variant(FRoot ? FRoot->GetUrl() : FUrl)},
                {"Datasource Type", Variant(String("Document source"))}};
    }
    void SetProperty(const String& name, const Variant&) override {
        AdoFail(adErrPropNotSettable, "the property \"" + name + "\" of a document source");
    }

private:
    std::unique_ptr<TDocumentRoot> FRoot;
    String FUrl;
    int FTimeout = 30;
};

class TDocumentProvider : public TProvider {
public:
    String GetName() const override { return DocumentSourceProvider; }
    String GetDescription() const override { return "Document source over local folders"; }
    std::unique_ptr<TSession> CreateSession() override { return std::make_unique<TDocumentSession>(); }
};

}  // namespace

void RegisterDocumentSourceProvider() { RegisterProvider(std::make_shared<TDocumentProvider>()); }

}  // namespace DataEngine::Ado
