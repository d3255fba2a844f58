// Whether an entry's local header (and its data descriptor, when it has one) gives the sizes its
// central entry lists. An archive whose two disagree cannot say which is true: such an entry is never
// extracted, since data of the other size than the one listed could pass its CRC and land.
#pragma once
#include <cstddef>

#include "modules/unzip32/ZipCentralDirectory.h"
#include "modules/unzip32/ZipFastInflate.h"

namespace norvex::modules::zip {

// p: the n bytes where the data descriptor starts (right after the entry's data). True when one of
// its layouts (with or without the signature, 32- or 64-bit sizes) holds the central CRC and sizes.
bool DescriptorAgrees(const unsigned char* p, std::size_t n, const CentralEntry& central);

// Reads the local header (and the descriptor when its flag says there is one). True when the sizes
// agree or the local header cannot be read (others then tell that failure).
bool LocalSizesAgree(const ArchiveFile& file, const CentralEntry& central);

}  // namespace norvex::modules::zip
