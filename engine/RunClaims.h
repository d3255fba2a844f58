// What one run has made in its destinations, known by device and inode, and the folders it is
// working in right now (claimed, so that another run leaves them alone). Another run's folders are
// never moved aside, deleted or filled: those it is working in (claimed by it) and those that
// appeared or changed since this run began without being made by this run.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/AnsiString.h"
#include "platform/FileIdentity.h"

namespace norvex {

class TRunClaims {
public:
    // A new run: the time mark for "appeared since" and an empty record.
    void BeginRun();

    // Creates the folder path, claimed for the current archive and recorded as made by this run.
    bool CreateFolder(const AnsiString& path);
    // Claims an existing folder for the current archive (made by this run, or there before it);
    // false when another run holds it.
    bool TakeFolder(const AnsiString& path);
    // The identity under which the current archive claimed path, or null when it claimed nothing there.
    const TFileIdentity* ClaimOf(const AnsiString& path) const;
    // Forgets the current archive's claims (the record of what the run made stays).
    void ReleaseArchive();

    // True when the existing path belongs to another run (see the file comment).
    bool IsOthers(const AnsiString& path) const;
    bool MadeByThisRun(const TFileIdentity& identity) const;

private:
    int64_t startSeconds_ = 0;
    int64_t startNanoseconds_ = 0;
    std::vector<TFileIdentity> made_;
    std::vector<std::pair<AnsiString, TFolderClaim>> claims_;
};

}  // namespace norvex
