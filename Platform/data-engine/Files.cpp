#include "Platform/data-engine/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace DataEngine {

using namespace Velora;

namespace {

[[noreturn]] void FileError(const String& what, const String& path, int err, ErrorValueEnum code) {
    throw EEngineError(what + " \"" + path + "\": " + std::strerror(err), AdoErrorHResult(code));
}

[[noreturn]] void AlreadyExists(const String& path) {
    throw EEngineError("The file \"" + path + "\" already exists (use adSaveCreateOverWrite to replace it)",
                       AdoErrorHResult(adErrWriteFile));
}

}  // namespace

void WriteFileBeside(const String& path, std::string_view data, bool mustNotExist) {
    if (mustNotExist && ::access(path.c_str(), F_OK) == 0) AlreadyExists(path);
    String temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) FileError("Cannot create a file beside", path, errno, adErrWriteFile);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            FileError("Cannot write", path, err, adErrWriteFile);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        FileError("Cannot write", path, err, adErrWriteFile);
    }
    // Keep the permissions of the file replaced; a new file gets the usual ones.
    struct stat st {};
    ::chmod(temp.c_str(), ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (mustNotExist) {
        // link() fails when the name exists, so a file made meanwhile is never replaced.
        const int rc = ::link(temp.c_str(), path.c_str());
        const int err = errno;
        ::unlink(temp.c_str());
        if (rc != 0) {
            if (err == EEXIST) AlreadyExists(path);
            FileError("Cannot create", path, err, adErrWriteFile);
        }
        return;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        FileError("Cannot replace", path, err, adErrWriteFile);
    }
}

std::string ReadWholeFile(const String& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw EEngineError("\"" + path + "\" is a folder, not a file", AdoErrorHResult(adErrOpeningFile));
    std::ifstream in(path, std::ios::binary);
    if (!in) FileError("Cannot open", path, errno, adErrOpeningFile);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) FileError("Cannot read", path, errno, adErrReadFile);
    return data;
}

}  // namespace DataEngine
