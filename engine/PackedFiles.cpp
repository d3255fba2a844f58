// Compress mode: the worker packs each listed file into an LZH, and the file is disposed of as the
// after-processing setting says only when the new archive is found to hold it (PackedCopyCheck.h).
// The file is known by its state from before its packing; it is checked against the archive on the
// worker, and its state once more on the main thread right before the disposal.
#include "archivers/Archives.h"
#include "engine/UUnPackThread.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

int TUnPackThread::PackFile(TArchiveFile& arc, const AnsiString& file, const AnsiString& baseFolder) {
    arc.SetArchiverType(atLha);
    arc.Options().jso = 1;
    // The listed file goes to the module as it is named: the archive object's own pack list would
    // take a "*" or "?" in a Linux name for a wildcard (and pack the files it matches as well), and
    // would leave out a file whose name starts with "." (a hidden file) and report success.
    arc.Options().PackFilter = TPackFilter::pfArchiver;
    FPackedArchive = arc.FileName();
    FPackedVerdict = TPackedCopy::Unreadable;
    FPackedState = FileStateOf(file);
    // The disposal acts only on this very file (ArchiveDisposal.cpp).
    FReadFiles.clear();
    FReadFiles.emplace_back(file, FPackedState.identity);
    // An LZH listed for packing is its own archive: the packer leaves it out, and nothing of it goes in.
    const bool intoItself = FPackedState.Known() && IdentityOf(FPackedArchive) == FPackedState.identity;
    const int packed = arc.PackFiles(&FOwnerWindow, nullptr, baseFolder, TFileList{file});
    FModuleReport = arc.Output();  // why a file was not packed, for the failure lines
    if (intoItself)
        FPackedVerdict = TPackedCopy::NotHeld;
    else if (ArchiverSucceeded(packed) && FSettings.AfterMethod != TAfterMethod::Nothing)
        FPackedVerdict = CheckPackedCopy(FPackedArchive, file, FPackedState);
    return packed;
}

void TUnPackThread::DisposePackedFile() {
    if (FSettings.AfterMethod == TAfterMethod::Nothing) return;
    TPackedCopy verdict = FPackedVerdict;
    // A file is deleted only once its archive is on the device (ArchiveDisposal.cpp); that wait
    // comes before the last look at the file, so that nothing written meanwhile goes unseen.
    if (verdict == TPackedCopy::Held && FSettings.AfterMethod == TAfterMethod::Delete)
        FDestinationSynced = SyncFileSystemOf(FromAnsi(ExtractHostFolder(FPackedArchive)));
    if (verdict == TPackedCopy::Held && FileStateOf(FArchivePath) != FPackedState) verdict = TPackedCopy::SourceChanged;
    if (verdict == TPackedCopy::Held) {
        // Only the listed file: a split set found by its name was not packed with it.
        Dispose(FArchivePath);
        return;
    }
    AnsiString line;
    switch (verdict) {
        case TPackedCopy::SourceChanged: line = "> [ 後始末エラー ] 圧縮を始めてからファイルが変更されたため、"_ansi; break;
        case TPackedCopy::NotHeld: line = "> [ 後始末エラー ] 書庫にこのファイルと同じ内容が格納されていないため、"_ansi; break;
        default: line = "> [ 後始末エラー ] 書庫に格納した内容を確認できないため、"_ansi; break;
    }
    switch (FSettings.AfterMethod) {
        case TAfterMethod::Nothing: return;
        case TAfterMethod::Delete: line += "ファイルを削除しませんでした。"_ansi; break;
        case TAfterMethod::Trash: line += "ファイルをごみ箱へ移しませんでした。"_ansi; break;
        case TAfterMethod::Move: line += "ファイルを移動しませんでした。"_ansi; break;
    }
    FHost.AppendLog(line);
    FHost.ArchiveDisposed(FArchivePath, false);
}

}  // namespace norvex
