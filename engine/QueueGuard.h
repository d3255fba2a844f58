// The archives of a run's list, known by device and inode while one of them is extracted, so that
// no entry replaces the archive being read, a volume of its set, or an archive still waiting.
#pragma once
#include <vector>

#include "engine/EngineHost.h"
#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"

namespace norvex {

class TQueueGuard {
public:
    // Forgets the list (a new archive is about to be extracted).
    void Reset() { ready_ = false; }
    bool Ready() const { return ready_; }
    // Reads the host's list (main thread) and the files of the current archive (its volumes).
    void Snapshot(TEngineHost& host, const std::vector<AnsiString>& reading);
    // True when path, the file of that identity, is one of them, or lies in a folder on the list
    // (whose files are still to be queued).
    bool Protects(const AnsiString& path, const TFileIdentity& identity) const;

private:
    void Add(const AnsiString& path);

    bool ready_ = false;
    std::vector<TFileIdentity> files_;
    std::vector<AnsiString> folders_;  // absolute, ending with the separator
};

}  // namespace norvex
