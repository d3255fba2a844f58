// The run's record of what it made and the folders it holds.
#include "engine/RunClaims.h"

#include <algorithm>
#include <ctime>

#include <sys/stat.h>

#include "platform/AnsiCodec.h"

namespace norvex {

void TRunClaims::BeginRun() {
    // The fine clock: a folder changed before this instant never looks newer (file stamps come
    // from the coarse clock or, once read, from the fine one, both at or behind it).
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    startSeconds_ = now.tv_sec;
    startNanoseconds_ = now.tv_nsec;
    made_.clear();
    claims_.clear();
}

bool TRunClaims::CreateFolder(const AnsiString& path) {
    TFolderClaim claim;
    if (!claim.Create(path)) return false;
    made_.push_back(claim.Identity());
    claims_.emplace_back(path, std::move(claim));
    return true;
}

bool TRunClaims::TakeFolder(const AnsiString& path) {
    TFolderClaim claim;
    if (!claim.Take(path)) return false;
    claims_.emplace_back(path, std::move(claim));
    return true;
}

const TFileIdentity* TRunClaims::ClaimOf(const AnsiString& path) const {
    for (const auto& [claimed, claim] : claims_)
        if (claimed == path) return &claim.Identity();
    return nullptr;
}

void TRunClaims::ReleaseArchive() { claims_.clear(); }

bool TRunClaims::MadeByThisRun(const TFileIdentity& identity) const {
    return identity.Known() && std::find(made_.begin(), made_.end(), identity) != made_.end();
}

bool TRunClaims::IsOthers(const AnsiString& path) const {
    const TFileIdentity identity = IdentityOf(path);
    if (!identity.Known() || MadeByThisRun(identity)) return false;
    for (const auto& entry : claims_)
        if (entry.second.Identity() == identity) return false;
    if (IsClaimedElsewhere(path)) return true;
    struct stat st {};
    if (lstat(FromAnsi(path).c_str(), &st) != 0) return false;
    return st.st_ctim.tv_sec > startSeconds_ ||
           (st.st_ctim.tv_sec == startSeconds_ && st.st_ctim.tv_nsec > startNanoseconds_);
}

}  // namespace norvex
