// The job's side of the folders an archive works in: claiming the single top folder before the
// extraction, refusing folders of another run, and removing the residue of a failed extraction by
// identity (never by name alone).
#include <cerrno>

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

}  // namespace

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
                switch (RemoveTree(path, &identity)) {
                    case TRemoval::Removed: FHost.AppendLog("> [ 残骸の削除 ] "_ansi + Quoted(path)); break;
                    case TRemoval::NotThere: break;
                    case TRemoval::NotSame:
                        FHost.AppendLog("> [ 後始末エラー ] 残骸のあった名前は別のものに替わっていたため削除しません。"_ansi +
                                        Quoted(path));
                        break;
                    case TRemoval::Partial:
                        FHost.AppendLog("> [ 後始末エラー ] 残骸を削除しきれませんでした。"_ansi + Quoted(path));
                        break;
                }
            } catch (...) {
            }
        }
    }
    FClaims.ReleaseArchive();
}

}  // namespace norvex
