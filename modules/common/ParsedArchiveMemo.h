// What a module's listings parsed of the last archives, kept for the next open of the same unchanged
// file: the engine lists an archive (to count its top level) and then extracts it, and the second
// open need not read and check every header again.
//
// A file is the same version when its device, inode, size, modification time and change time are:
// any write, rename over it or chmod moves the change time, which no process can set back. (The
// host's TFileIdentity, device and inode, tells which file a name is, not whether it changed.) A
// parse is taken only in the time zone it was made in (DOS times are local times).
#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace norvex::modules {

struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileVersion Of(const struct stat& st);
    bool operator==(const FileVersion& other) const;
};

// The process's TZ setting ("" when unset).
std::string TimeZoneSetting();

// Thread-safe; holds the parses of the last two archives (an archive read ahead must not push out
// the one being extracted). Parse is the module's own description of an archive.
template <typename Parse>
class ParsedArchiveMemo {
public:
    // A parse of more entries than this is not kept (a few hundred bytes each).
    static constexpr std::size_t kMaxEntries = 50000;

    std::shared_ptr<const Parse> find(const FileVersion& version) {
        const std::string zone = TimeZoneSetting();
        std::lock_guard lock(mutex_);
        for (Slot& slot : slots_) {
            if (slot.parse && slot.version == version && slot.zone == zone) {
                slot.used = ++clock_;
                return slot.parse;
            }
        }
        return nullptr;
    }

    void keep(const FileVersion& version, std::shared_ptr<const Parse> parse) {
        std::string zone = TimeZoneSetting();
        std::lock_guard lock(mutex_);
        Slot* target = &slots_[0];
        for (Slot& slot : slots_) {
            if (slot.parse && slot.version == version) {
                target = &slot;
                break;
            }
            if (!slot.parse || slot.used < target->used) target = &slot;
        }
        target->version = version;
        target->zone = std::move(zone);
        target->parse = std::move(parse);
        target->used = ++clock_;
    }

private:
    struct Slot {
        FileVersion version;
        std::string zone;
        std::shared_ptr<const Parse> parse;
        uint64_t used = 0;
    };
    std::mutex mutex_;
    std::array<Slot, 2> slots_{};
    uint64_t clock_ = 0;
};

}  // namespace norvex::modules
