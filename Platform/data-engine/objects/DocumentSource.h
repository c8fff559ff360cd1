// A document source over the local file system: the folder tree under one
// root folder, named by file URLs ("file:///srv/docs/reports/q1.txt"), whose
// folders are collection records and whose files are simple records with a
// default stream.
//
// The root is the "URL" item of the connection string ("URL=file:///srv/docs",
// optionally with "Provider=MSDAIPP.DSO"). Every URL is resolved against it
// and must stay inside it: a ".." or "." segment (also written %2E), an
// encoded separator or NUL, an absolute path or URL outside the root, and a
// symbolic link that leads outside it are refused with an error naming the
// URL, before anything is touched.
#pragma once

#include <memory>

#include "Platform/data-engine/Files.h"
#include "Platform/data-engine/objects/AdoSupport.h"

namespace DataEngine::Ado {

// The provider name a connection string gives for a document source; a
// connection string with a "URL" item and no provider means it too.
inline constexpr const char* DocumentSourceProvider = "MSDAIPP.DSO";

// The path a "file:" URL names ("file:///a/b%20c" -> "/a/b c"); "URL=" in
// front is allowed. Refuses other schemes, hosts other than "localhost", and
// the segments named above (adErrInvalidURL naming the URL).
String FileUrlToPath(std::string_view url);
// The file URL of an absolute path, with the characters a URL cannot carry
// percent-encoded.
String PathToFileUrl(std::string_view path);

class TDocumentRoot {
public:
    // The root folder named by a file URL; it must exist and be a folder.
    explicit TDocumentRoot(std::string_view url);
    const String& GetPath() const noexcept { return FPath; }  // canonical, no trailing '/'
    String GetUrl() const { return PathToFileUrl(FPath); }

    // The path a URL names: absolute ("file:///...", or a path starting with
    // '/') or relative to the root. Refused when it leaves the root (through
    // "..", a symbolic link, or by naming a place outside); what does not
    // exist yet is checked through its nearest existing ancestor.
    String Resolve(std::string_view url) const;
    bool IsRoot(const String& path) const { return path == FPath; }
    String UrlOf(const String& path) const { return PathToFileUrl(path); }

private:
    void CheckInside(const String& path, std::string_view url) const;
    String FPath;
};

// The root a connection string names ("URL=file:///..."), or null when it
// names none.
std::shared_ptr<TDocumentRoot> RootFromConnectionString(std::string_view text);

// Registers the document source provider, so that a Connection opens with
// "URL=file:///folder" (it answers only to records and streams).
void RegisterDocumentSourceProvider();

}  // namespace DataEngine::Ado
