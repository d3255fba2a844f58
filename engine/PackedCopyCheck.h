// Whether a file packed in compress mode may be disposed of: it is still the file it was when its
// packing began, and the archive holds an entry of its name whose data is the file's data. The
// packer's "u" keeps an archived copy that is at least as new as the file, so a successful packing
// alone does not say that the file's data went in. Tested by CompressRunTest.
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"

namespace norvex {

// What a file is at one moment: its identity, size, modification and status change times. A write
// changes the status change time even when the size and the modification time are put back.
struct TFileState {
    TFileIdentity identity;
    bool regular = false;
    uint64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    int64_t ctimeSec = 0;
    int64_t ctimeNsec = 0;
    bool Known() const { return identity.Known(); }
    bool operator==(const TFileState&) const = default;
};

// The state of path itself (a symbolic link is not followed); unknown when it cannot be read.
TFileState FileStateOf(const AnsiString& path);

enum class TPackedCopy {
    Held,           // the archive holds the file's data under the file's name
    SourceChanged,  // the file is not what it was when its packing began
    NotHeld,        // no entry of the file's name holds its data (an archived copy stayed as newer)
    Unreadable,     // the file or the archive could not be read to tell
};

// Reads the file again and the archive (an LZH; every entry's data is decoded and its CRC checked)
// and compares the entries of the file's name with the file: size, CRC and modification time, and
// then the data of one that matches, byte for byte. packed is the file's state from before its packing.
TPackedCopy CheckPackedCopy(const AnsiString& archive, const AnsiString& file, const TFileState& packed);

}  // namespace norvex
