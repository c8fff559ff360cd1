// Saving a row store with its columns and pending changes, and loading it
// back, in ADO's XML rowset format (adPersistXML) and in the Advanced Data
// TableGram of the RDS transport protocol (adPersistADTG).
//
// What travels: every column's name, type, DefinedSize, precision, scale,
// attributes (updatable, nullable, fixed, long, key column, row id, ...),
// base catalog, schema, table and column and auto-increment; every live row
// in arrival order with its state: unchanged, changed (original values and
// current values), new, or deleted (original values). A loaded store holds
// the same rows in the same order with the same states, so a recordset saved,
// reopened, edited and saved again keeps every change, and saving what was
// loaded gives the same bytes. Underlying values and status flags of the
// last batch update are not saved (Windows ADO does not save them either).
//
// Readers take hostile input: they never read outside the data, they refuse
// what they cannot understand with an EPersistError naming the byte offset
// (and for XML the line and the element), and they build a new store, so a
// failed load changes nothing. Writers to files write a temporary file beside
// the target and rename it over the target, so a failed save leaves the
// previous file as it was.
#pragma once

#include <memory>

#include "Platform/data-engine/cursor/RowStore.h"

namespace DataEngine {

class EPersistError : public EEngineError {
public:
    using EEngineError::EEngineError;
    const char* ClassName() const noexcept override { return "EPersistError"; }
};

// ADO's XML rowset format (UTF-8).
String SaveXml(const TRowStore& store);
std::unique_ptr<TRowStore> LoadXml(std::string_view data);

// The Advanced Data TableGram (binary, little-endian, version 0.0 as Windows
// writes it). Hierarchical recordsets (chapters, child rows) are refused.
String SaveAdtg(const TRowStore& store);
std::unique_ptr<TRowStore> LoadAdtg(std::string_view data);

// The bytes of a saved rowset in a format; EEngineError (adErrInvalidArgument)
// for a format that is neither adPersistADTG nor adPersistXML.
String SavePersisted(const TRowStore& store, Velora::PersistFormatEnum format);

// Which format data is in: adPersistXML for text starting with '<' (after a
// byte order mark and blanks), adPersistADTG for a TableGram header, -1 otherwise.
int DetectPersistFormat(std::string_view data) noexcept;
// Loads a saved rowset in either format; EPersistError when the data is neither.
std::unique_ptr<TRowStore> LoadPersisted(std::string_view data);

// Files. Saving writes beside the target and renames; errors name the file
// (adErrWriteFile); a rowset that cannot be saved in the format fails before
// any file is touched. Loading reads the whole file (adErrOpeningFile when it
// cannot be opened) and detects its format.
void SaveToFile(const TRowStore& store, const String& path, Velora::PersistFormatEnum format);
std::unique_ptr<TRowStore> LoadFromFile(const String& path);

}  // namespace DataEngine
