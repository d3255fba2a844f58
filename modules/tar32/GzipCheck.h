// The whole-stream check of a gzip-compressed tar: the decoder that reads the tar never compares the
// gzip trailer (CRC-32 and length), so damage that still inflates would pass unnoticed.
#pragma once
#include <string>

namespace norvex::modules {

enum class GzipCheck { NotGzip, Whole, Damaged };

// Reads hostPath (UTF-8) to its end when it starts with the gzip signature, checking every member's
// CRC-32 and length. Only regular files are opened; one that cannot be opened is NotGzip (the reader
// reports it).
GzipCheck CheckGzipStream(const std::string& hostPath);

}  // namespace norvex::modules
