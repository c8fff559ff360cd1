// Saved recordsets arrive from files and streams: the TableGram reader must
// never read out of bounds, and what it loads must save and load again to
// the same bytes.
#include <cstdint>
#include <cstdlib>

#include "Platform/data-engine/persist/Persist.h"

using namespace DataEngine;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<TRowStore> store;
    try {
        store = LoadAdtg(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const EEngineError&) {
        return 0;
    }
    try {
        const String first = SaveAdtg(*store);
        const String second = SaveAdtg(*LoadAdtg(first));
        if (first != second) std::abort();
    } catch (const EEngineError&) {
        std::abort();
    }
    return 0;
}
