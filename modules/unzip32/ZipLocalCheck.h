// Whether an entry's local header (and its data descriptor, when it has one) gives the sizes its
// central entry lists. An archive whose two disagree cannot say which is true: such an entry is never
// extracted, since data of the other size than the one listed could pass its CRC and land.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "modules/unzip32/ZipCentralDirectory.h"
#include "modules/unzip32/ZipFastInflate.h"

namespace norvex::modules::zip {

// p: the n bytes where the data descriptor starts (right after the entry's data). True when one of
// its layouts (with or without the signature, 32- or 64-bit sizes) holds the central CRC and sizes.
bool DescriptorAgrees(const unsigned char* p, std::size_t n, const CentralEntry& central);
// The length of that descriptor (12 to 24 bytes), 0 when none of its layouts agrees.
std::size_t DescriptorLength(const unsigned char* p, std::size_t n, const CentralEntry& central);

// Reads the local header (and the descriptor when its flag says there is one). True when the sizes
// agree or the local header cannot be read (others then tell that failure).
bool LocalSizesAgree(const ArchiveFile& file, const CentralEntry& central);

// The local headers that no central entry refers to (entries left behind when an archive was
// updated, or entries its directory lost), where they can lie without being an entry's data: at the
// start of a file with nothing in front, and in the gaps between an entry's data (and descriptor) and
// the next entry or the central directory. entries: ordered by local header offset; dataOffsets:
// where each one's data starts, or empty to read that from each local header.
std::size_t UnlistedLocalHeaders(const ArchiveFile& file, const std::vector<CentralEntry>& entries,
                                 const std::vector<uint64_t>& dataOffsets);

// The message for the walk's end when UnlistedLocalHeaders found some (cp932).
AnsiString UnlistedMessage(std::size_t count);

}  // namespace norvex::modules::zip
