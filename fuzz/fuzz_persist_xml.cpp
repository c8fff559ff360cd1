// Saved recordsets arrive from files and streams: the XML rowset reader must
// never read out of bounds, and what it loads must save and load again to
// the same rows (the second save equal to the first).
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/persist/Persist.h"

using namespace DataEngine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<TRowStore> store;
    try {
        store = LoadXml(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const EEngineError&) {
        return 0;
    }
    try {
        const String first = SaveXml(*store);
        const String second = SaveXml(*LoadXml(first));
        if (first != second) std::abort();
    } catch (const EEngineError&) {
        std::abort();  // what was loaded must save and load again
    }
    return 0;
}
