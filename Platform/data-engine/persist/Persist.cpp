#include "Platform/data-engine/persist/Persist.h"

#include "Platform/data-engine/Files.h"

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

String SavePersisted(const TRowStore& store, PersistFormatEnum format) {
    if (format == adPersistXML) return SaveXml(store);
    if (format == adPersistADTG) return SaveAdtg(store);
    throw EEngineError("The persist format " + std::to_string(static_cast<int>(format)) +
                           " is neither adPersistADTG (0) nor adPersistXML (1)",
                       AdoErrorHResult(adErrInvalidArgument));
}

void SaveToFile(const TRowStore& store, const String& path, PersistFormatEnum format) {
    // Everything that can fail before the file system does fails here, before any file exists.
    WriteFileBeside(path, SavePersisted(store, format));
}

std::unique_ptr<TRowStore> LoadFromFile(const String& path) {
    const std::string data = ReadWholeFile(path);
    try {
        return LoadPersisted(data);
    } catch (const EPersistError& e) {
        throw EPersistError("\"" + path + "\": " + e.Message(), e.GetNumber());
    }
}

}  // namespace DataEngine
