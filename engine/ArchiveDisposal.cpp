// The worker's disposal of an extracted archive (delete, trash, move) and the guard of the run's
// archives during an extraction. Disposal acts only on the very files that were read: each file of
// the archive is known by device and inode from the moment its extraction began, and checked again
// right before it is deleted, trashed or moved. In compress mode the same disposal, with the same
// lines, acts on the packed file (PackedFiles.cpp).
#include "engine/UUnPackThread.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "engine/RefusalCauses.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/Trash.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

AnsiString Quoted(const AnsiString& s) { return "\"" + s + "\""; }

bool PathExists(const AnsiString& path) { return FileGetAttr(path) != INVALID_FILE_ATTRIBUTES; }

// A volume of a split set that could not be trashed or moved is named on the line after the
// failure (the line itself reads the same for every volume); an archive of its own is not.
void LogFailure(TEngineHost& host, const AnsiString& line, const AnsiString& volume) {
    host.AppendLog(line);
    if (!volume.empty()) host.AppendLog("> " + volume);
}

// Why an archive (in compress mode, the packed file) could not be deleted, from DeleteFileIfSameWhy;
// also why it could not be trashed or moved when its name no longer holds it.
AnsiString DeleteFailureReason(int why, bool packed) {
    switch (why) {
        case ENOENT:
        case ENOTDIR:
            return packed ? "圧縮中にファイルが移動または削除されました"_ansi : "解凍中に書庫が移動または削除されました"_ansi;
        case EEXIST:
            return packed ? "圧縮中にファイルが別のファイルに置き換えられました"_ansi
                          : "解凍中に書庫が別のファイルに置き換えられました"_ansi;
        case EACCES:
        case EPERM: return packed ? "ファイルのあるフォルダを変更する権限がありません"_ansi : "書庫のあるフォルダを変更する権限がありません"_ansi;
        default: {
            const AnsiString text = FileSystemFailureText(why);
            return text.empty() ? ToAnsi(std::strerror(why)) : text;
        }
    }
}

// Whether path still holds the file that was read: 0 when it does, else ENOENT (nothing has the name)
// or EEXIST (another file or a folder has it), as DeleteFileIfSameWhy tells. A folder is never the
// archive, even under its inode number: a folder made right after the archive went may be given it.
int ChangedSinceRead(const AnsiString& path, const TFileIdentity* read) {
    struct stat st {};
    if (lstat(FromAnsi(path).c_str(), &st) != 0) return ENOENT;
    if (!read || S_ISDIR(st.st_mode)) return EEXIST;
    return IsSameFile(path, *read) ? 0 : EEXIST;
}

// " (why)" after a failure line, or nothing when why is not known.
AnsiString Because(const AnsiString& why) { return why.empty() ? AnsiString() : " (" + why + ")"; }

}  // namespace

void TUnPackThread::RememberReadFiles(const AnsiString& archivePath) {
    FReadFiles.clear();
    // The identities serve the disposal only: an archive that is left where it is needs none.
    const bool disposes = FSettings.AfterMethod != TAfterMethod::Nothing;
    const auto identity = [&](const AnsiString& path) { return disposes ? IdentityOf(path) : TFileIdentity{}; };
    FReadFiles.emplace_back(archivePath, identity(archivePath));
    for (const AnsiString& volume : FVolumes) FReadFiles.emplace_back(volume, identity(volume));
    FQueueGuard.Reset();
}

const TFileIdentity* TUnPackThread::ReadIdentity(const AnsiString& path) const {
    for (const auto& [read, identity] : FReadFiles)
        if (read == path && identity.Known()) return &identity;
    return nullptr;
}

// Asked by the module (on the worker) before an entry replaces an existing file. The run's list is
// read once per archive, on the main thread, when the first such question comes.
int32_t TUnPackThread::ProtectedFromModule(NvxWindow* self, const char* path, uint64_t device, uint64_t inode) {
    auto* thread = static_cast<TUnPackThread*>(self->context);
    try {
        if (!thread->FQueueGuard.Ready()) {
            std::vector<AnsiString> reading;
            for (const auto& entry : thread->FReadFiles) reading.push_back(entry.first);
            thread->Main([&] { thread->FQueueGuard.Snapshot(thread->FHost, reading); });
        }
        return thread->FQueueGuard.Protects(path ? path : "", {device, inode}) ? 1 : 0;
    } catch (...) {
        return 1;  // in doubt, the existing file stays
    }
}

void TUnPackThread::Dispose(const AnsiString& source) {
    switch (FSettings.AfterMethod) {
        case TAfterMethod::Nothing: break;
        case TAfterMethod::Delete: DeleteArchive(source); break;
        case TAfterMethod::Trash: TrashArchive(source); break;
        case TAfterMethod::Move: MoveArchive(source); break;
    }
}

void TUnPackThread::DeleteArchive(const AnsiString& source) {
    try {
        const AnsiString tail = FSettings.SplitArchive && !FSettings.CompressMode ? source : AnsiString();
        // A deleted archive must not outlive its extracted files only in memory: after a power cut
        // the deletion may have reached the disk while their data had not. A packed file waits
        // for its archive in the same way.
        const AnsiString written = FSettings.CompressMode ? ExtractHostFolder(FPackedArchive) : FSettings.DestFolder;
        if (!FDestinationSynced) FDestinationSynced = SyncFileSystemOf(FromAnsi(written));
        if (!FDestinationSynced) {
            FHost.AppendLog(FSettings.CompressMode
                                ? "> [ 後始末エラー ] 作成した書庫をディスクへ書き出せなかったため、ファイルを削除しませんでした。"_ansi
                                : "> [ 後始末エラー ] 解凍したファイルをディスクへ書き出せなかったため、書庫を削除しませんでした。"_ansi + tail);
            FHost.ArchiveDisposed(source, false);
            return;
        }
        const TFileIdentity* read = ReadIdentity(source);
        const int why = read ? DeleteFileIfSameWhy(source, *read) : EEXIST;
        const bool done = why == 0;
        if (done)
            FHost.AppendLog("> [ 削除 ] 書庫を削除しました。"_ansi + tail);
        else
            FHost.AppendLog("> [ 後始末エラー ] 書庫を削除できませんでした。"_ansi + tail + Because(DeleteFailureReason(why, FSettings.CompressMode)));
        FHost.ArchiveDisposed(source, done);
    } catch (...) {
        FHost.ArchiveDisposed(source, false);
    }
}

void TUnPackThread::TrashArchive(const AnsiString& source) {
    bool ok = false;
    AnsiString why;
    try {
        const int changed = ChangedSinceRead(source, ReadIdentity(source));
        if (changed != 0) why = DeleteFailureReason(changed, FSettings.CompressMode);
        else ok = MoveToTrash(source).ok;
    } catch (...) {
    }
    if (ok)
        FHost.AppendLog("> [ ごみ箱 ] 書庫をごみ箱へ移しました。"_ansi);
    else
        LogFailure(FHost, "> [ 後始末エラー ] 書庫をごみ箱へ移せませんでした。"_ansi + Because(why),
                   FSettings.SplitArchive && !FSettings.CompressMode ? source : AnsiString());
    FHost.ArchiveDisposed(source, ok);
}

// The archive holds the only copy of an entry that was not written over an existing file, or of
// entries that are no longer where they were written: it is neither deleted nor trashed nor moved
// (a split set stays whole), and the disposal counts as failed.
void TUnPackThread::KeepArchive(TKeptBecause reason) {
    AnsiString why;
    switch (reason) {
        case TKeptBecause::ExistingKept: why = "> [ 後始末エラー ] 上書きしなかったファイルがあるため、"_ansi; break;
        case TKeptBecause::FilterLeftOut: why = "> [ 後始末エラー ] ファイル抽出パターンで解凍しなかったファイルがあるため、"_ansi; break;
        case TKeptBecause::NamesCollided:
            why = "> [ 後始末エラー ] ディレクトリ構成の無視で同じ名前になったファイルがあるため、"_ansi;
            break;
        case TKeptBecause::LandingMoved:
            why = "> [ 後始末エラー ] 解凍先のフォルダが解凍中に移動または削除されたため、"_ansi;
            break;
        case TKeptBecause::EndUnmarked:
            why = "> [ 後始末エラー ] 書庫の終わりを示す印がなく、途中で切れているおそれがあるため、"_ansi;
            break;
    }
    switch (FSettings.AfterMethod) {
        case TAfterMethod::Nothing: return;
        case TAfterMethod::Delete: FHost.AppendLog(why + "書庫を削除しませんでした。"_ansi); break;
        case TAfterMethod::Trash: FHost.AppendLog(why + "書庫をごみ箱へ移しませんでした。"_ansi); break;
        case TAfterMethod::Move: FHost.AppendLog(why + "書庫を移動しませんでした。"_ansi); break;
    }
    FHost.ArchiveDisposed(FArchivePath, false);
}

// The module writes through the folders it opened, so entries written into a folder that was then
// renamed are no longer under the destination's name, and those of a removed folder are gone; a
// folder made again under the old name holds only what came after.
bool TUnPackThread::LandingStillThere() const {
    if (FLandingFolder.Known() && IdentityOfFolder(FSettings.DestFolder) != FLandingFolder) return false;
    const TFileIdentity* claimed = FSettings.TopElementPath.empty() ? nullptr : FJob.Claims().ClaimOf(FSettings.TopElementPath);
    return !claimed || IdentityOf(FSettings.TopElementPath) == *claimed;
}

// A file of the same name in the move folder is never replaced: the archive then stays where it is
// and the failure is logged.
void TUnPackThread::MoveArchive(const AnsiString& source) {
    bool ok = false;
    AnsiString why;
    try {
        const AnsiString target = JoinPath(FSettings.MoveFolder, ExtractHostName(source));
        const int changed = ChangedSinceRead(source, ReadIdentity(source));
        if (changed != 0) why = DeleteFailureReason(changed, FSettings.CompressMode);
        else if (PathExists(target)) why = "移動先に同じ名前のものがあります"_ansi;
        else ok = MoveFile(source, target);
    } catch (...) {
    }
    if (ok)
        FHost.AppendLog("> [ 移動 ] 書庫を移動しました。=>移動先:"_ansi + Quoted(FSettings.MoveFolder));
    else
        LogFailure(FHost, "> [ 後始末エラー ] 書庫を移動できませんでした。"_ansi + Because(why),
                   FSettings.SplitArchive && !FSettings.CompressMode ? source : AnsiString());
    FHost.ArchiveDisposed(source, ok);
}

}  // namespace norvex
