// The job's side of the folders an archive works in: claiming the single top folder before the
// extraction, refusing folders of another run, and removing the residue of a failed extraction by
// identity (never by name alone), and of nothing in it that the archive would not have made.
#include <algorithm>
#include <cerrno>

#include "archivers/Archives.h"
#include "engine/EntryLanding.h"
#include "engine/RefusalCauses.h"
#include "engine/ShownText.h"
#include "engine/UUnPack.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/TreeRemoval.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

AnsiString Quoted(const AnsiString& s) { return "\"" + s + "\""; }

// " (why)" after the line of a residue that could not all be removed, from RemoveTree's errno;
// nothing when it is not known.
AnsiString ResidueFailureReason(int why) {
    AnsiString text;
    switch (why) {
        case EACCES:
        case EPERM: text = "フォルダを変更する権限がありません"_ansi; break;
        case ESTALE: text = "削除中にフォルダが移動されました"_ansi; break;
        default: text = FileSystemFailureText(why); break;
    }
    return text.empty() ? AnsiString() : " (" + text + ")";
}

// The module's writer puts an entry's bytes in ".nvx" + 16 hex digits + ".tmp" beside its name
// until they are whole; one left by a broken extraction is this archive's as well.
bool IsWriterTemporary(std::string_view name) {
    constexpr std::string_view head = ".nvx", tail = ".tmp";
    if (name.size() != head.size() + 16 + tail.size() || !name.starts_with(head) || !name.ends_with(tail))
        return false;
    return std::all_of(name.begin() + head.size(), name.end() - tail.size(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The paths an archive's entries make under its residue folder (sorted): a file goes when the
// archive has it, a folder when the archive has it or something under it, a writer's temporary in
// such a folder as well. Anything else in the folder came from elsewhere.
class TResidueNames {
public:
    explicit TResidueNames(std::vector<std::string> paths) : FPaths(std::move(paths)) {
        std::sort(FPaths.begin(), FPaths.end());
    }

    bool operator()(std::string_view relative) const {
        if (relative.ends_with('/')) return HasUnder(relative);
        const std::size_t slash = relative.rfind('/');
        const std::string_view folder = slash == std::string_view::npos ? "" : relative.substr(0, slash + 1);
        if (IsWriterTemporary(relative.substr(folder.size())) && (folder.empty() || HasUnder(folder))) return true;
        return std::binary_search(FPaths.begin(), FPaths.end(), relative);
    }

private:
    // The folder itself (a folder entry may come without its "/") or anything under it.
    bool HasUnder(std::string_view folder) const {
        if (std::binary_search(FPaths.begin(), FPaths.end(), folder.substr(0, folder.size() - 1))) return true;
        const auto it = std::lower_bound(FPaths.begin(), FPaths.end(), folder);
        return it != FPaths.end() && std::string_view(*it).starts_with(folder);
    }

    std::vector<std::string> FPaths;
};

}  // namespace

bool TUnPack::ListedPathsUnder(const AnsiString& folder, std::vector<std::string>& paths) {
    paths.clear();
    if (FListedPath.empty()) return false;
    const std::string top = FromAnsi(WithoutHostDelim(folder)) + "/";
    try {
        TArchiveFile arc;
        if (!OpenListing(arc, FListedPath)) return false;
        TListingCloser closer{arc};
        const AnsiString destination = WithHostDelim(FSettings.DestFolder);
        TEntryPath path;
        const int end = arc.WalkNames(ListingMask(), [&](std::string_view raw, uint64_t) {
            ReadEntryPath(raw, path);
            AnsiString landing = path.Landing;
            if (FSettings.IgnoreDirectory) {
                // Every file lands in the destination itself; folders make nothing.
                if (path.EndsWithSeparator) return true;
                landing.erase(0, landing.rfind('/') + 1);
            }
            if (landing.empty()) return true;
            std::string host = FromAnsi(destination + landing);
            if (path.EndsWithSeparator) host += '/';
            if (host.starts_with(top)) paths.push_back(host.substr(top.size()));
            return true;
        });
        return end == ARC_FIND_END;
    } catch (...) {
        return false;
    }
}

bool TUnPack::ClaimTopFolder() {
    AnsiString& path = FSettings.TopElementPath;
    if (path.empty() || !FSingleIsFolder) return true;
    for (int tries = 0; tries < 2; ++tries) {
        if (FClaims.CreateFolder(path)) {
            FSettings.TopElementExisted = false;
            return true;
        }
        if (errno != EEXIST) return true;  // the module reports what it cannot make
        if (!DirectoryExists(path) || FileGetAttr(path) & faSymLink) return true;  // the module refuses it
        if (FClaims.TakeFolder(path)) {
            FSettings.TopElementExisted = true;
            return true;
        }
        if (IsClaimedElsewhere(path)) break;
    }
    FHost.AppendLog("> [ 前段階エラー ] 展開先の同名フォルダは別の解凍が使用中です。"_ansi + Quoted(path));
    FSettings.SkipArchive = true;
    return false;
}

bool TUnPack::MayUseExistingFolder(const AnsiString& path, bool moveAside) {
    // Extracting into a folder only needs it free of other runs now; moving it aside also needs it
    // to be older than this run (a folder another run finished meanwhile is that run's result).
    const bool others = moveAside ? FClaims.IsOthers(path) : IsClaimedElsewhere(path) && !FClaims.ClaimOf(path);
    if (!others && (moveAside || FClaims.ClaimOf(path) || FClaims.TakeFolder(path))) return true;
    FHost.AppendLog("> [ バインドエラー ] 同名のフォルダは別の解凍が使用中か作成したものです。"_ansi + Quoted(path));
    FSettings.SkipArchive = true;
    return false;
}

void TUnPack::DeleteResidue() {
    AnsiString& path = FSettings.TopElementPath;
    if (!path.empty() && !FSettings.TopElementExisted) {
        path = WithoutHostDelim(path);
        // Only what this archive made and still holds is residue; a name taken over by something
        // else in the meantime is left alone.
        if (const TFileIdentity* made = FClaims.ClaimOf(path)) {
            const TFileIdentity identity = *made;
            FClaims.ReleaseArchive();
            try {
                // Only what the archive's entries make goes: files another program put in the folder
                // meanwhile stay. Of an archive that cannot be read again to its end, only the
                // entries it still lists go, and the rest cannot be told from another's.
                std::vector<std::string> listed;
                const bool whole = ListedPathsUnder(path, listed);
                const TResidueNames names(std::move(listed));
                int why = 0;
                TRemoval removal = RemoveTree(path, &identity, std::cref(names), &why);
                if (removal == TRemoval::Refused && !whole) removal = TRemoval::Partial;
                switch (removal) {
                    case TRemoval::Removed: FHost.AppendLog("> [ 残骸の削除 ] "_ansi + Quoted(path)); break;
                    case TRemoval::NotThere: break;
                    case TRemoval::NotSame:
                        FHost.AppendLog("> [ 後始末エラー ] 残骸のあった名前は別のものに替わっていたため削除しません。"_ansi +
                                        Quoted(path));
                        break;
                    case TRemoval::Partial:
                        FHost.AppendLog("> [ 後始末エラー ] 残骸を削除しきれませんでした。"_ansi + Quoted(path) + ResidueFailureReason(why));
                        break;
                    case TRemoval::Refused:
                        FHost.AppendLog("> [ 後始末エラー ] 残骸のフォルダに書庫にないファイルがあるため、それらを残しました。"_ansi +
                                        Quoted(path));
                        break;
                }
            } catch (...) {
            }
        }
    }
    FClaims.ReleaseArchive();
}

}  // namespace norvex
