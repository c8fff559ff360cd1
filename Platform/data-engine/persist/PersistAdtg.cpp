#include "Platform/data-engine/persist/Persist.h"

namespace DataEngine {
String SaveAdtg(const TRowStore&) { throw EPersistError("ADTG is not written yet", hrNotSupported); }
std::unique_ptr<TRowStore> LoadAdtg(std::string_view) { throw EPersistError("ADTG is not read yet", hrNotSupported); }
}  // namespace DataEngine
