// A ZIP archive walked by its central directory alone, for archives of plain entries (files and
// folders, stored or deflate, not encrypted, no links): every local header is read once, up front,
// and must agree with its central entry; each entry is described as the libarchive walk describes
// it (times, permission bits, folder or file), and its data is decoded by the module (EntryInflater).
// Any archive that is not plain in this sense is walked by libarchive as before (FastZipSource).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "modules/common/ArchiveSource.h"
#include "modules/unzip32/ZipCentralDirectory.h"
#include "modules/unzip32/ZipFastInflate.h"

namespace norvex::modules::zip {

struct DirectEntry {
    EntryInfo info;
    uint64_t dataOffset = 0;  // where the data starts, after the local header
};

// The walk of one archive: planned once, shared by every walk of the same unchanged file.
struct DirectWalk {
    std::vector<CentralEntry> entries;
    std::vector<DirectEntry> plan;
    uint64_t directoryStart = 0, directoryEnd = 0;
};

// Plans the walk over entries (ordered by local header offset; names as EntryName gives them).
// False when some entry is not plain, or its local header is missing, disagrees with its central
// entry (name, flags, method, time, CRC, sizes) or has unknown extra fields, or its data runs into
// the next entry or the central directory.
bool PlanDirectWalk(const ArchiveFile& file, const CentralDirectory& directory, const std::vector<AnsiString>& names,
                    std::vector<DirectEntry>& plan);

class DirectZipSource : public ArchiveSource {
public:
    DirectZipSource(std::shared_ptr<const DirectWalk> walk, std::shared_ptr<ArchiveFile> file);
    int32_t nextEntry(EntryInfo& entry) override;
    int32_t viewNextEntry(const EntryInfo*& entry) override;
    int32_t readBlock(const void*& data, std::size_t& size) override;
    AnsiString lastMessage() const override {
        if (!message_.empty()) return message_;
        return state_ == State::Reading ? inflater_->lastMessage() : AnsiString();
    }
    std::unique_ptr<EntryDataReader> takeDataReader() override;

private:
    // Moves to the next entry of the plan: ARC_OK with its index, or the walk's end code.
    int32_t advance(std::size_t& at);

    std::shared_ptr<const DirectWalk> walk_;
    std::shared_ptr<ArchiveFile> file_;
    std::unique_ptr<EntryInflater> inflater_;
    std::size_t index_ = 0;   // the next entry's index
    AnsiString message_;      // why the walk ended early
    bool gapsChecked_ = false;
    // The current entry's data: none (a folder, or its reader was taken), not read yet, being read
    // through readBlock().
    enum class State { NoData, Unread, Reading } state_ = State::NoData;
};

}  // namespace norvex::modules::zip
