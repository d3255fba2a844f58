// The worker's folder naming after an extraction: moving an existing folder aside ("_old1"), the
// rename of a single extracted folder by the tail cut, and the deletion of the folder it replaced.
// Each acts on the very folder it means (device and inode, checked right before acting), and never
// on a folder of another run.
#include <chrono>
#include <thread>

#include "engine/ArchiveFolders.h"
#include "engine/UUnPackThread.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/TreeRemoval.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

AnsiString Quoted(const AnsiString& s) { return "\"" + s + "\""; }

AnsiString WithoutTrailingSeparator(const AnsiString& path) { return WithoutHostDelim(path); }

bool PathExists(const AnsiString& path) { return FileGetAttr(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

AnsiString TUnPackThread::MoveAsideAsOld(const AnsiString& path) {
    const AnsiString from = WithoutTrailingSeparator(path);
    const TFileIdentity identity = IdentityOf(from);
    int n = 1;
    AnsiString candidate = from + "_old" + std::to_string(n);
    // Any existing name is passed over, a file as well as a folder: the rename never replaces.
    while (PathExists(candidate)) candidate = from + "_old" + std::to_string(++n);
    return RenameFolder(from, candidate, &identity) ? candidate : AnsiString();
}

bool TUnPackThread::RenameFolder(const AnsiString& from, const AnsiString& to, const TFileIdentity* identity) {
    const AnsiString source = WithoutTrailingSeparator(from), target = WithoutTrailingSeparator(to);
    const bool ok = identity ? RenameIfSame(source, target, *identity) : RenameFile(source, target);
    FHost.AppendLog((ok ? "> [ リネーム成功 ] "_ansi : "> [ リネーム失敗 ]"_ansi) + Quoted(from) + "->" + Quoted(to));
    return ok;
}

bool TUnPackThread::DeleteFolder(const AnsiString& path, const TFileIdentity* identity) {
    const bool ok = RemoveTree(WithoutTrailingSeparator(path), identity) == TRemoval::Removed;
    FHost.AppendLog((ok ? "> [ 削除成功 ] "_ansi : "> [ 削除失敗 ] "_ansi) + Quoted(path));
    return ok;
}

void TUnPackThread::RenameSingleFolder(const AnsiString& folder) {
    if (!FSettings.DelFolderNum) return;
    const AnsiString path = WithoutTrailingSeparator(folder);
    const AnsiString parent = ExtractHostFolder(path);
    const AnsiString last = ExtractHostName(path);
    const AnsiString cut = CutNameTail(last, true);
    if (cut == last || !DirectoryExists(path)) return;
    const AnsiString target = parent + cut;
    const std::vector<AnsiString> needed = PathsStillNeeded();
    if ((DirectoryExists(target) && FolderHoldsAny(target, needed)) || FolderHoldsAny(path, needed)) {
        FHost.AppendLog("> [ リネーム中止 ] 書庫を含むフォルダは動かしません: "_ansi + Quoted(path) + "->" + Quoted(target));
        return;
    }
    // The folder this archive was extracted into, as it was claimed before the extraction.
    const TFileIdentity* claimed = FJob.Claims().ClaimOf(FSettings.TopElementPath);
    const TFileIdentity extracted = claimed ? *claimed : IdentityOf(path);
    if (DirectoryExists(target)) {
        // Another run's folder keeps its name; the extracted one keeps its own.
        if (FJob.Claims().IsOthers(target)) {
            FHost.AppendLog("> [ リネーム失敗 ]"_ansi + Quoted(path) + "->" + Quoted(target));
            return;
        }
        const TFileIdentity existing = IdentityOf(target);
        const AnsiString old = MoveAsideAsOld(target);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const bool renamed = !old.empty() && RenameFolder(path, target, &extracted);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (renamed && FSettings.SameFolderProc == TSameFolderProc::Replace) {
            FHost.ProcessMessages();
            if (!DeleteFolder(old, &existing)) FHost.AppendLog("> 既存フォルダの削除に失敗"_ansi);
        }
        return;
    }
    RenameFolder(path, target, &extracted);
}

}  // namespace norvex
