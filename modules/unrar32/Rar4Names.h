// Our own walk over the file headers of a RAR 4 set, for the names libarchive spoils: it turns every
// byte 0x5C of a name without the Unicode flag into "/", the trail byte of "ソ" or "表" included.
#pragma once
#include <vector>

#include "modules/common/LibarchiveSource.h"

namespace norvex::modules::rar {

// One override per entry libarchive will report (a file split over volumes counts once), in order.
// A name with the Unicode flag is left empty so that libarchive's decoding of it stays. False when the set is not RAR 4 or its headers cannot be walked (encrypted
// headers, damage): then libarchive's names are used throughout.
bool ReadRar4Names(const std::vector<AnsiString>& volumes, std::vector<LibarchiveOptions::NameOverride>& out);

}  // namespace norvex::modules::rar
