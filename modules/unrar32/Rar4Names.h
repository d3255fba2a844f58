// Our own walk over the file headers of a RAR 4 set, for the names libarchive spoils: it turns every
// byte 0x5C of a name without the Unicode flag into "/", the trail byte of "ソ" or "表" included.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>

#include "modules/common/LibarchiveSource.h"

namespace norvex::modules::rar {

// One override per entry libarchive will report (a file split over volumes counts once), in order.
// A name with the Unicode flag is left empty so that libarchive's decoding of it stays. False when the set is not RAR 4 or its headers cannot be walked (encrypted
// headers, damage): then libarchive's names are used throughout.
bool ReadRar4Names(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out);

// What the walk learns about how a volume sits in its set.
struct VolumeLayout {
    bool firstVolume = false;     // the main header marks it the first volume of a set
    bool volume = false;          // the main header marks it a volume of a set
    bool continues = false;       // its first file header goes on with an entry of the volume before
    bool goesOn = false;          // its last file header goes on in the next volume
    bool endBlock = false;        // it ends with an end block
    bool endSaysMore = false;     // and that end block announces a next volume
    bool cut = false;             // it ends inside a header or an entry's data (RAR 5: before its end header)
};

// True when the size bytes from the stream's position on run past the end of its file.
bool DataRunsPastEnd(std::FILE* f, uint64_t size);

// As ReadRar4Names, also giving one layout per volume (left empty when the walk fails).
bool ReadRar4Names(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out,
                   std::vector<VolumeLayout>& layouts);

}  // namespace norvex::modules::rar
