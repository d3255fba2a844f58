// Named streams as separate files: the name rules of their export (packing) and import (extraction).
//
// A stream ":name:$DATA" of "a.txt" is exported as the file "a.txt;name;$DATA" with the default
// separator ";#": every ":" becomes s0, and every ":" followed by the character 0x05 becomes s0 s1.
// Importing reverses it. No Linux volume reports named streams, so the export itself never runs here;
// the rules are kept for archives made elsewhere and for volumes that may have streams one day.
#pragma once
#include <stdexcept>

#include "platform/AnsiString.h"
#include "platform/FileSystem.h"

namespace norvex {

// The separator pair: the two whole characters of separator, or (":", "\x05") when it is not exactly
// two characters long.
struct TStreamSeparator {
    AnsiString s0;
    AnsiString s1;
};
TStreamSeparator StreamSeparatorPair(const AnsiString& separator);

// filePath + streamName with the export rule applied to the stream name.
AnsiString StreamExportName(const AnsiString& filePath, const AnsiString& streamName, const AnsiString& separator);
// The import rule on an extracted name: s0 s1 becomes ":" 0x05, then s0 becomes ":".
AnsiString StreamImportName(const AnsiString& name, const AnsiString& separator);

// Raised when writing an exported stream fails; what() is UTF-8.
class EStreamExport : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes one stream of filePath as a new file with the export name and the stream's times.
// Returns true when the file was made (exportedPath holds its name). A file of that name that already
// exists is not overwritten: false, with exportedPath set. Throws EStreamExport on a write failure.
bool ExportStream(const AnsiString& filePath, const TNamedStream& stream, const AnsiString& separator,
                  AnsiString& exportedPath);

}  // namespace norvex
