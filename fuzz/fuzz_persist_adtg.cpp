// Saved recordsets arrive from files and streams: the TableGram reader must
// never read out of bounds nor allocate from a length it has not checked
// against the bytes that remain, and what it loads must, once saved, load
// and save again to the same bytes.
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
    String first;
    try {
        first = SaveAdtg(*store);
    } catch (const EPersistError&) {
        return 0;  // refused by name (a description beyond 64 KB once rewritten); nothing is half written
    }
    try {
        const String second = SaveAdtg(*LoadAdtg(first));
        if (first != second) std::abort();
    } catch (const EEngineError&) {
        std::abort();  // what this engine wrote must load and save again
    }
    return 0;
}
