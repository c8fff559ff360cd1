#include "Platform/data-engine/persist/Persist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace DataEngine {

using namespace Velora;

int DetectPersistFormat(std::string_view data) noexcept {
    std::size_t i = 0;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
    if (i < data.size() && data[i] == '<') return adPersistXML;
    // adtgTokenHeader, the header's size, then the signature "TG!"
    if (data.size() >= 5 && data[0] == 0x01 && data.substr(2, 3) == "TG!") return adPersistADTG;
    return -1;
}

std::unique_ptr<TRowStore> LoadPersisted(std::string_view data) {
    switch (DetectPersistFormat(data)) {
        case adPersistXML: return LoadXml(data);
        case adPersistADTG: return LoadAdtg(data);
        default:
            throw EPersistError("The data is neither an XML rowset nor an ADTG TableGram (it begins with byte " +
                                    std::to_string(data.empty() ? -1 : static_cast<unsigned char>(data[0])) + ")",
                                hrFail);
    }
}

namespace {

[[noreturn]] void FileError(const String& what, const String& path, int err, ErrorValueEnum code) {
    throw EEngineError(what + " \"" + path + "\": " + std::strerror(err), AdoErrorHResult(code));
}

}  // namespace

String SavePersisted(const TRowStore& store, PersistFormatEnum format) {
    if (format == adPersistXML) return SaveXml(store);
    if (format == adPersistADTG) return SaveAdtg(store);
    throw EEngineError("The persist format " + std::to_string(static_cast<int>(format)) +
                           " is neither adPersistADTG (0) nor adPersistXML (1)",
                       AdoErrorHResult(adErrInvalidArgument));
}

void SaveToFile(const TRowStore& store, const String& path, PersistFormatEnum format) {
    // Everything that can fail before the file system does fails here, before any file exists.
    const String data = SavePersisted(store, format);
    String temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
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
    ::chmod(temp.c_str(), 0644);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        FileError("Cannot replace", path, err, adErrWriteFile);
    }
}

std::unique_ptr<TRowStore> LoadFromFile(const String& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) FileError("Cannot open", path, errno, adErrOpeningFile);
    String data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) FileError("Cannot read", path, errno, adErrReadFile);
    try {
        return LoadPersisted(data);
    } catch (const EPersistError& e) {
        throw EPersistError("\"" + path + "\": " + e.Message(), e.GetNumber());
    }
}

}  // namespace DataEngine
