// Whole-file reads and writes for saved recordsets and streams.
//
// Writes go to a temporary file beside the target, are flushed to disk and
// then renamed over the target (or linked into place when the target must not
// exist), so a failed write leaves an existing file as it was and a reader
// never sees half a file. Errors are EEngineErrors naming the file, with
// adErrWriteFile, adErrOpeningFile or adErrReadFile.
#pragma once

#include <string>
#include <string_view>

#include "Platform/data-engine/EngineError.h"

namespace DataEngine {

// Writes data to path. A replaced file keeps its permissions. With
// mustNotExist an existing file is an error, checked atomically: a file made
// by someone else meanwhile is never replaced.
void WriteFileBeside(const String& path, std::string_view data, bool mustNotExist = false);
// The whole content of a file; a folder is refused by name.
std::string ReadWholeFile(const String& path);

}  // namespace DataEngine
