// The name rules of exported streams, and writing one exported stream.
#include "util/Streams.h"

#include <cstring>

#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

const AnsiString kColon(1, ':');
const AnsiString kColonMark = AnsiString(1, ':') + '\x05';

// Replaces, at whole-character boundaries, each occurrence of first by firstTo and then (elsewhere)
// each occurrence of second by secondTo. first is tried before second at every position.
AnsiString ReplacePair(const AnsiString& s, const AnsiString& first, const AnsiString& firstTo,
                       const AnsiString& second, const AnsiString& secondTo) {
    AnsiString out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        if (!first.empty() && s.compare(i, first.size(), first) == 0) {
            out += firstTo;
            i += first.size();
        } else if (!second.empty() && s.compare(i, second.size(), second) == 0) {
            out += secondTo;
            i += second.size();
        } else {
            const std::size_t n = AnsiCharLength(s, i);
            out.append(s, i, n);
            i += n;
        }
    }
    return out;
}

}  // namespace

TStreamSeparator StreamSeparatorPair(const AnsiString& separator) {
    if (!separator.empty()) {
        const std::size_t first = AnsiCharLength(separator, 0);
        if (first < separator.size() && first + AnsiCharLength(separator, first) == separator.size())
            return {separator.substr(0, first), separator.substr(first)};
    }
    return {kColon, AnsiString(1, '\x05')};
}

AnsiString StreamExportName(const AnsiString& filePath, const AnsiString& streamName, const AnsiString& separator) {
    const TStreamSeparator pair = StreamSeparatorPair(separator);
    return filePath + ReplacePair(streamName, kColonMark, pair.s0 + pair.s1, kColon, pair.s0);
}

AnsiString StreamImportName(const AnsiString& name, const AnsiString& separator) {
    const TStreamSeparator pair = StreamSeparatorPair(separator);
    return ReplacePair(name, pair.s0 + pair.s1, kColonMark, pair.s0, kColon);
}

bool ExportStream(const AnsiString& filePath, const TNamedStream& stream, const AnsiString& separator,
                  AnsiString& exportedPath) {
    exportedPath = StreamExportName(filePath, stream.Name, separator);
    const int error = WriteNewFile(exportedPath, stream.Data);
    if (error == EEXIST) return false;
    if (error != 0)
        throw EStreamExport("ストリームを書き出せません: " + FromAnsi(exportedPath) + ": " + std::strerror(error));
    SetFileTimes(exportedPath, &stream.CreationTime, &stream.LastAccessTime, &stream.LastWriteTime);
    return true;
}

}  // namespace norvex
