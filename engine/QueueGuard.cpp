// The run's list as identities, for the question "may this file be replaced?".
#include "engine/QueueGuard.h"

#include <algorithm>
#include <cctype>

#include <sys/stat.h>

#include "platform/AnsiCodec.h"
#include "engine/ArchiveKinds.h"
#include "engine/UUnPackThread.h"
#include "platform/FileSystem.h"

namespace norvex {

void TQueueGuard::Add(const AnsiString& path) {
    // The name itself and, for a symbolic link, the file it leads to: either may be what a module
    // finds under its own path.
    const std::string host = FromAnsi(path);
    struct stat st {};
    if (lstat(host.c_str(), &st) == 0) files_.push_back({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    if (stat(host.c_str(), &st) != 0) return;
    files_.push_back({static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    if (S_ISDIR(st.st_mode)) {
        AnsiString folder = ExpandFileName(path);
        if (!AnsiEndsWithSeparator(folder)) folder += PathDelim;
        folders_.push_back(folder);
    }
}

void TQueueGuard::Snapshot(TEngineHost& host, const std::vector<AnsiString>& reading) {
    files_.clear();
    folders_.clear();
    for (const AnsiString& path : reading) Add(path);
    const int count = host.FileCount();
    for (int i = 0; i < count; ++i) Add(host.FileAt(i));
    ready_ = true;
}

namespace {

// A name the run would take from a folder as an archive or a volume of one (".zip", ".7z.002",
// ".r00", ...), whatever formats the run is set to take.
bool LooksLikeArchive(const AnsiString& path) {
    if (IsAcceptedExtension(ArchiveExtension(path), true)) return true;
    const AnsiString ext = LowerExtension(path);
    return ext.size() > 2 && (ext[1] == 'r' || std::isdigit(static_cast<unsigned char>(ext[1]))) &&
           std::all_of(ext.begin() + 2, ext.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool TQueueGuard::Protects(const AnsiString& path, const TFileIdentity& identity) const {
    if (identity.Known() && std::find(files_.begin(), files_.end(), identity) != files_.end()) return true;
    if (folders_.empty() || !LooksLikeArchive(path)) return false;
    const AnsiString full = ExpandFileName(path);
    for (const AnsiString& folder : folders_)
        if (full.compare(0, folder.size(), folder) == 0) return true;
    return false;
}

}  // namespace norvex
