// The worker of a run: the loop, the per-archive steps, the progress callback and the break protocol.
#include "engine/UUnPackThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "archivers/Archives.h"
#include "engine/ArchiveFolders.h"
#include "engine/FolderSettings.h"
#include "engine/FormatModules.h"
#include "engine/NaturalOrder.h"
#include "engine/ArchiveKinds.h"
#include "engine/EngineLog.h"
#include "engine/Patterns.h"
#include "engine/RefusalCauses.h"
#include "engine/SplitSets.h"
#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"
#include "platform/AnsiLiteral.h"
#include "platform/FileSystem.h"
#include "platform/ModuleLoader.h"
#include "platform/StandardFolders.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

AnsiString Quoted(const AnsiString& s) { return "\"" + s + "\""; }

AnsiString WithoutTrailingSeparator(const AnsiString& path) { return WithoutHostDelim(path); }

// The name without its last extension (the part from the last "." of the name on).
AnsiString RemoveExtension(const AnsiString& name) {
    const std::size_t dot = name.rfind('.');  // "." is never a cp932 trail byte
    return dot == AnsiString::npos ? name : name.substr(0, dot);
}

AnsiString ChangeExtension(const AnsiString& path, const AnsiString& ext) {
    const AnsiString folder = ExtractHostFolder(path);
    return folder + RemoveExtension(ExtractHostName(path)) + ext;
}

// Removes the progress-window hook of a test on every way out of it.
struct TTestingHookScope {
    TTestingHookScope() {
        // While testing, the archive object answers the module itself and calls no handler: breaks
        // during a test take effect before the extraction call.
        SetProgressTestingHook([](const EXTRACTINGINFOEX*) { return 0; });
    }
    ~TTestingHookScope() { SetProgressTestingHook({}); }
};

}  // namespace

// ---- Free pieces ------------------------------------------------------------------------------------

AnsiString CutNameTail(const AnsiString& name, bool delFolderNum) {
    if (!delFolderNum || name.empty()) return name;
    TPatternMatcher awk;
    awk.SetPattern("[_ \\.0-9]+[a-z]?$");
    const int start = awk.Match(name);
    if (start > 1) return name.substr(0, static_cast<std::size_t>(start - 1));
    return name;
}

AnsiString LowerExtension(const AnsiString& path) {
    const AnsiString name = ExtractHostName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == AnsiString::npos) return {};
    AnsiString ext = name.substr(dot);
    for (std::size_t i = 0; i < ext.size();) {
        const std::size_t n = AnsiCharLength(ext, i);
        if (n == 1 && ext[i] >= 'A' && ext[i] <= 'Z') ext[i] = static_cast<char>(ext[i] - 'A' + 'a');
        i += n;
    }
    return ext;
}

int FindFilesMatching(const AnsiString& folder, std::vector<AnsiString>& list, const AnsiString& pattern,
                      bool usePattern, const AnsiString& mask) {
    try {
        const AnsiString base = WithHostDelim(folder);
        TPatternMatcher awk;
        if (usePattern) awk.SetPattern(pattern);
        TSearchRec rec;
        int examined = 0;
        for (int r = FindFirstEntry(base + mask, faAnyFile, rec); r == 0; r = FindNext(rec)) {
            ++examined;
            if (rec.Attr == faDirectory) continue;
            if (!usePattern || awk.Found(rec.Name)) list.push_back(base + rec.Name);
        }
        FindClose(rec);
        return examined;
    } catch (...) {
        return -1;
    }
}

int ListFilesRecursive(const AnsiString& folder, std::vector<AnsiString>& list) {
    const AnsiString base = !folder.empty() && folder.back() == PathDelim ? folder : folder + PathDelim;
    struct TEntry {
        AnsiString name;
        bool descend;
    };
    std::vector<TEntry> entries;
    TSearchRec rec;
    for (int r = FindFirstEntry(base + "*", faAnyFile, rec); r == 0; r = FindNext(rec)) {
        // A symbolic link to a folder is listed like a file (and then dropped by the run loop): the
        // expansion never follows a link out of the folder the user gave.
        entries.push_back({rec.Name, (rec.Attr & faDirectory) && !(rec.Attr & faSymLink)});
    }
    FindClose(rec);
    // As a file manager shows the folder: files and folders in one natural order, each folder's
    // content in its place.
    std::sort(entries.begin(), entries.end(), [](const TEntry& x, const TEntry& y) { return NaturalLess(x.name, y.name); });
    for (const TEntry& e : entries) {
        if (e.descend)
            ListFilesRecursive(base + e.name, list);
        else
            list.push_back(base + e.name);
    }
    return static_cast<int>(entries.size());
}

TProgressFigures ComputeProgress(uint64_t size, uint64_t written, uint64_t doneSize, double totalSize) {
    TProgressFigures f;
    written = std::min(written, size);
    if (written != 0) f.filePercent = static_cast<int>(static_cast<unsigned __int128>(written) * 100 / size);
    if (totalSize > 0) {
        const double percent = (static_cast<double>(written) + static_cast<double>(doneSize)) / totalSize * 100.0;
        f.totalPercent = percent >= 100.0 ? 100 : static_cast<int>(percent);
    }
    f.filePercent = std::min(f.filePercent, 100);
    f.entryComplete = written == size;
    return f;
}

void TDoneSizeTally::Note(std::string_view name, bool complete, uint64_t size) {
    if (!complete) {
        FCounted = false;
        return;
    }
    if (FCounted && name == FCountedName) return;
    FTotal += size;
    FCountedName.assign(name);
    FCounted = true;
}

AnsiString ArchiverErrorName(int code) {
    static const char* const kNames[] = {
        "DISK_SPACE", "READ_ONLY", "USER_SKIP", "UNKNOWN_TYPE", "METHOD", "PASSWORD_FILE", "VERSION", "FILE_CRC",
        "FILE_OPEN", "MORE_FRESH", "NOT_EXIST", "ERROR_ALREADY_EXIST", "ERROR_TOO_MANY_FILES",
        "ERROR_MAKEDIRECTORY", "ERROR_CANNOT_WRITE", "ERROR_HUFFMAN_CODE", "ERROR_COMMENT_HEADER",
        "ERROR_HEADER_CRC", "ERROR_HEADER_BROKEN", "ERROR_ARC_FILE_OPEN", "ERROR_NOT_ARC_FILE",
        "ERROR_CANNOT_READ", "ERROR_FILE_STYLE", "ERROR_COMMAND_NAME", "ERROR_MORE_HEAP_MEMORY",
        "ERROR_ENOUGH_MEMORY", "ERROR_ALREADY_RUNNING", "ERROR_USER_CANCEL", "ERROR_HARC_ISNOT_OPENED",
        "ERROR_NOT_SEARCH_MODE", "ERROR_NOT_SUPPORT", "ERROR_TIME_STAMP", "ERROR_TMP_OPEN",
        "ERROR_LONG_FILE_NAME", "ERROR_ARC_READ_ONLY", "ERROR_SAME_NAME_FILE", "ERROR_NOT_FIND_ARC_FILE",
        "ERROR_RESPONSE_READ", "ERROR_NOT_FILENAME", "ERROR_TMP_COPY", "ERROR_EOF",
    };
    if (code < ARC_DISK_SPACE || code > ARC_ERROR_EOF) return {};
    return kNames[code - ARC_DISK_SPACE];
}

// ---- The worker -------------------------------------------------------------------------------------

TUnPackThread::TUnPackThread(TUnPack& job, SettingsBlock& settings, TEngineHost& host)
    : FJob(job), FSettings(settings), FHost(host) {
    FOwnerWindow.structSize = sizeof(NvxWindow);
    FOwnerWindow.context = this;
    FOwnerWindow.sendArcExtract = &TUnPackThread::SendFromModule;
    FOwnerWindow.ask = &TUnPackThread::AskFromModule;
    FOwnerWindow.isProtected = &TUnPackThread::ProtectedFromModule;
    FOwnerWindow.refused = &TUnPackThread::RefusedFromModule;
}

TUnPackThread::~TUnPackThread() {
    Resume();
    WaitFor();
}

void TUnPackThread::Start(std::function<void()> onTerminate) {
    FThread = std::thread([this, onTerminate = std::move(onTerminate)] {
        // One step below normal: the desktop stays responsive during long extractions.
        if (FHost.LowersWorkerPriority())
            setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 1);
        Execute();
        FFinished.store(true);
        if (onTerminate) onTerminate();
    });
}

void TUnPackThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TUnPackThread::Suspend() {
    std::lock_guard lock(FPauseMutex);
    FSuspended = true;
}

void TUnPackThread::Resume() {
    {
        std::lock_guard lock(FPauseMutex);
        FSuspended = false;
    }
    FPauseChanged.notify_all();
}

bool TUnPackThread::Suspended() const {
    std::lock_guard lock(FPauseMutex);
    return FSuspended;
}

void TUnPackThread::PausePoint() {
    // Every progress record passes here: a run that is not paused takes no lock.
    if (!FSuspended.load()) return;
    std::unique_lock lock(FPauseMutex);
    FPauseChanged.wait(lock, [this] { return !FSuspended.load(); });
}

void TUnPackThread::LogFromWorker(const AnsiString& text) {
    Main([&] { FHost.AppendLog(text); });
}

void TUnPackThread::Execute() {
    FVolumes.clear();
    FMissingVolume.clear();
    // A listing read ahead never outlives the run (nor, so, the modules it calls).
    struct TEndWarmUp {
        TListingWarmUp& warmUp;
        ~TEndWarmUp() { warmUp.Stop(); }
    } endWarmUp{FWarmUp};
    try {
        FJob.Claims().BeginRun();
        Main([&] { CheckRunFolders(); });
        if (FSettings.AbortRun) return;
        FIndex = 0;
        for (;;) {
            // A run that stops here does not wait for the listing read ahead to end.
            if (FSettings.CancelAll || FTerminated) FWarmUp.Stop();
            int count = 0;
            Main([&] { count = FHost.FileCount(); });
            if (FIndex >= count) break;

            // Checked before the reset below: the window's end of run still needs the top element
            // path of the broken archive to delete its residue.
            if (FSettings.CancelAll || FTerminated) break;
            FVolumes.clear();
            FMissingVolume.clear();
            FSettings.SkipArchive = false;
            FSettings.SameNameBindFolder = false;
            FSettings.SplitArchive = false;
            FSettings.ExtractionFailed = false;
            FSettings.BindFolderCreated = false;
            FSettings.TopElementPath.clear();
            FSettings.TopElementExisted = false;
            FJob.Claims().ReleaseArchive();
            FLastFilePercent = 999;
            FLastTotalPercent = 999;
            FLastShownName = "xxxxxx";
            FDone.Reset();
            PausePoint();
            // The bindings look into the module folder once for this archive: a module copied in
            // is found by the next one.
            const TModuleFolderGlance moduleFolderGlance;

            // One step on the main thread: the entry in hand (a folder expanded first) and its preparation.
            bool haveEntry = true;
            Main([&] {
                haveEntry = ExpandFolderEntry();
                if (!haveEntry) return;
                PrepareArchive();
                FNextArchive = FIndex + 1 < FHost.FileCount() ? FHost.FileAt(FIndex + 1) : AnsiString();
            });
            if (!haveEntry) break;

            if (!FSettings.SkipArchive) {
                FResult = 0;
                FBreakNotifications = 0;
                try {
                    FResult = ExtractArchive(FArchivePath, FSettings.DestFolder);
                } catch (...) {
                    LogFromWorker("> [ 実行エラー ]　解凍関数実行時に障害が発生しました"_ansi);
                    FSettings.SkipArchive = true;
                }
                Main([&] { FinishArchive(); });
            }
            ++FIndex;
        }
    } catch (...) {
        // Any other fault ends the run; the host's FinishRun follows.
    }
    FVolumes.clear();
}

// A folder entry is replaced by the files below it, appended at the end of the list; the entry that
// moves up takes its place in this same pass. Returns false when the list has no entry left here.
bool TUnPackThread::ExpandFolderEntry() {
    while (FIndex < FHost.FileCount()) {
        const AnsiString path = FHost.FileAt(FIndex);
        // One look answers this and PrepareArchive's question (is the archive there?).
        FEntryKind = KindOfPath(path);
        if (FEntryKind != TPathKind::Folder) return true;
        FHost.DeleteFileAt(FIndex);
        std::vector<AnsiString> files;
        ListFilesRecursive(path, files);
        for (const AnsiString& file : files)
            if (!DirectoryExists(file)) FHost.AppendFile(file);
    }
    return false;
}

// ---- Folders of the run -----------------------------------------------------------------------------

void TUnPackThread::CheckRunFolders() {
    bool ok = true;
    switch (FSettings.PutLocation) {
        case TPutLocation::SpecialFolder: ok = EnsureFolder(FSettings.SpecialFolder, "解凍先"_ansi, "SpecialFolder"); break;
        case TPutLocation::Favorite0: ok = EnsureFolder(FSettings.Favorite0, "お決まり1"_ansi, "Favorite0"); break;
        case TPutLocation::Favorite1: ok = EnsureFolder(FSettings.Favorite1, "お決まり2"_ansi, "Favorite1"); break;
        case TPutLocation::Favorite2: ok = EnsureFolder(FSettings.Favorite2, "お決まり3"_ansi, "Favorite2"); break;
        default: break;
    }
    if (!ok) {
        FHost.AppendLog("[ 全体キャンセル ] 解凍先フォルダ "_ansi);
        FSettings.AbortRun = true;
        return;
    }
    if (FSettings.AfterMethod == TAfterMethod::Move && !EnsureFolder(FSettings.MoveFolder, "移動先"_ansi, "MoveFolder")) {
        FHost.AppendLog("[ キャンセル ] 移動先フォルダ "_ansi);
        FSettings.AbortRun = true;
    }
}

bool TUnPackThread::EnsureFolder(const AnsiString& path, const AnsiString& kind, const char* key) {
    if (path.empty()) {
        FHost.Notice("フォルダ"_ansi, "フォルダ("_ansi + kind + ")が指定されていません"_ansi);
        return false;
    }
    if (!IsUsableFolderSetting(path)) {
        FHost.Notice("開始できません"_ansi, RefusedFolderNotice(key, path));
        FSettings.AbortRun = true;
        return false;
    }
    if (!DirectoryExists(path)) {
        FFolderCreated = CreateDir(WithoutTrailingSeparator(path));
        if (!FFolderCreated) {
            FHost.Notice("開始できません"_ansi, "フォルダエラー: 新規"_ansi + kind + "フォルダを作成できません。"_ansi + "\r" +
                                                 "不正なパスか、または読み取り専用領域か、ファイルシステムのエラーです。"_ansi);
            FSettings.AbortRun = true;
            return false;
        }
        FHost.RememberFolder(kind == "移動先"_ansi ? TFolderList::MoveFolder : TFolderList::SpecialFolder, path);
    }
    return true;
}

// ---- PrepareArchive ---------------------------------------------------------------------------------

void TUnPackThread::PrepareArchive() {
    FArchivePath = FHost.FileAt(FIndex);
    FSettings.CurrentArchiveName = FArchivePath;
    FHost.FocusFile(FIndex);
    FHost.AppendLog(" ");
    FHost.AppendLog(kArchiveHeading);

    // ExpandFolderEntry looked at the entry a moment ago, in this same step: it is no folder.
    if (FEntryKind != TPathKind::File) {
        FHost.AppendLog("> [ 前段階エラー]： ファイルが存在しません"_ansi);
        FSettings.SkipArchive = true;
        return;
    }
    FExtension = ArchiveExtension(FArchivePath);
    if (!IsAcceptedExtension(FExtension, FSettings.ExtraFormats) && !FSettings.CompressMode) {
        FSettings.SkipArchive = true;
        FHost.AppendLog("> [ 前段階エラー ]： 扱えない形式の拡張子"_ansi);
        return;
    }
    // A missing module is said as such before the archive is opened (which would fail as if the
    // archive were broken).
    if (!FSettings.CompressMode && !FormatModuleReady(FSettings, FExtension)) {
        FHost.AppendLog(ToAnsi(FormatModuleOf(FExtension)->NotReady));
        FSettings.SkipArchive = true;
        return;
    }
    SetDestination();
    // A part of a numbered 7z set cannot be read alone: those sets are looked for whatever CheckDiv says.
    if (((FSettings.CheckDiv && FExtension == ".rar") || (FExtension == ".7z" && !FSettings.CompressMode)) &&
        !DetectSplitSet())
        return;
    if (!FSettings.CompressMode) CountAndBind();
}

void TUnPackThread::SetDestination() {
    switch (FSettings.PutLocation) {
        case TPutLocation::BesideArchive:
            // From the absolute path: a bare name must not make the destination "" (and then "/").
            FSettings.DestFolder = ExtractHostFolder(ExpandFileName(FArchivePath));
            break;
        case TPutLocation::SpecialFolder:
            FSettings.DestFolder = FSettings.SpecialFolder;
            FSettings.DestFolder = WithHostDelim(FSettings.DestFolder);
            break;
        case TPutLocation::Favorite0: FSettings.DestFolder = FSettings.Favorite0; break;
        case TPutLocation::Favorite1: FSettings.DestFolder = FSettings.Favorite1; break;
        case TPutLocation::Favorite2: FSettings.DestFolder = FSettings.Favorite2; break;
        case TPutLocation::MyDocuments: FSettings.DestFolder = DocumentsFolder(); break;
        case TPutLocation::Desktop: FSettings.DestFolder = DesktopFolder(); break;
    }
}

// Split sets (SplitSets.h): only the first volume is taken, and every volume of its set is listed.
// Returns false when the archive is a later volume (skipped).
bool TUnPackThread::DetectSplitSet() {
    const TVolumeName volume = ClassifyVolumeName(ExtractHostName(FArchivePath), FExtension);
    if (volume.Kind == TVolumeKind::NotSplit) return true;
    if (volume.Kind == TVolumeKind::LaterVolume) {
        FSettings.SplitArchive = false;
        FHost.AppendLog("> [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。"_ansi);
        FSettings.SkipArchive = true;
        return false;
    }
    FVolumes = CollectSetVolumes(ExtractHostFolder(FArchivePath), volume, &FMissingVolume);
    if (volume.Kind == TVolumeKind::FirstVolume) {
        // The archive itself is the first volume, whatever the listing found.
        if (FVolumes.empty() || FVolumes.front() != FArchivePath) {
            std::erase(FVolumes, FArchivePath);
            FVolumes.insert(FVolumes.begin(), FArchivePath);
        }
        FSettings.SplitArchive = true;
        LogSplitSet();
        return true;
    }
    if (!FVolumes.empty()) {
        FSettings.SplitArchive = true;
        LogSplitSet();
        // The first volume is the archive itself: it is disposed of with the rest of its set.
        FVolumes.insert(FVolumes.begin(), FArchivePath);
    }
    return true;
}

void TUnPackThread::LogSplitSet() {
    FHost.AppendLog("> [ 分割圧縮ファイル検出 ]： "_ansi);
    FHost.AppendLog("> ************************** ");
    for (const AnsiString& volume : FVolumes) FHost.AppendLog("> " + volume);
    FHost.AppendLog("> ************************** ");
}

void TUnPackThread::CountAndBind() {
    // The listing read ahead (of this archive, as a rule) has ended before the count opens it.
    FWarmUp.Finish();
    int count = 0;
    try {
        count = FJob.CountTopLevelElements(FArchivePath);
    } catch (...) {
        FHost.AppendLog("> [ エラー ] ファイル数の取得に失敗しました。書庫でない可能性があります。"_ansi);
        LogMissingVolume();
        FSettings.SkipArchive = true;
        return;
    }
    FTopLevelCount = count;
    if (FSettings.SkipArchive) return;
    if (count == 1 && !FJob.SingleElementName().empty()) {
        FSettings.TopElementPath = JoinPath(FSettings.DestFolder, FJob.SingleElementName());
        // Not known to be this archive's own until the claim below makes the folder (the claim
        // looks at the name itself, in the destination it holds open).
        FSettings.TopElementExisted = true;
    }
    FHost.AppendLog("> [ 最上位要素カウント ]\t"_ansiOnce + std::to_string(count) + "コ"_ansiOnce);

    const bool bind = count >= FSettings.BindNum &&
                      (FSettings.BindFolder || (FSettings.IgnoreDirectory && FSettings.IgnoredSingleBind));
    if (!bind) return (void)FJob.ClaimTopFolder();

    AnsiString name = RemoveExtension(ExtractHostName(FArchivePath));
    while (name.find('.') != AnsiString::npos) name = RemoveExtension(name);
    name = CutNameTail(name, FSettings.DelFolderNum);
    // A name that cannot be a folder of its own (".zip" leaves nothing) gets no bind folder: the
    // destination itself must never be taken for one.
    if (!IsPlainName(name)) return (void)FJob.ClaimTopFolder();
    const AnsiString bindPath = JoinPath(FSettings.DestFolder, name);
    FSettings.TopElementPath = bindPath;
    FSettings.TopElementExisted = true;  // until this archive makes it

    if (!DirectoryExists(bindPath)) {
        FFolderCreated = FJob.Claims().CreateFolder(bindPath);
        if (FFolderCreated) {
            FSettings.TopElementExisted = false;
            FSettings.DestFolder = bindPath;
            FSettings.BindFolderCreated = true;
            FHost.AppendLog("> [ バインド起動 ] まとめフォルダ新規作成 "_ansi + Quoted(name));
        } else {
            FHost.AppendLog("> [ バインドエラー ] まとめフォルダを作成できませんでした。"_ansi + Quoted(bindPath));
            FSettings.SkipArchive = true;
        }
        return;
    }
    FSettings.SameNameBindFolder = true;
    FHost.AppendLog("> [ 同名のまとめフォルダが存在 ]"_ansi);
    if (FSettings.SameFolderProc != TSameFolderProc::Replace && FolderHoldsAny(bindPath, PathsStillNeeded())) {
        // The folder holds this archive or one still to come: it stays where it is, and the
        // archive goes into a fresh folder beside it.
        const AnsiString fresh = NextFreshFolderName(bindPath);
        FSettings.TopElementPath = fresh;
        FSettings.TopElementExisted = false;
        FFolderCreated = FJob.Claims().CreateFolder(fresh);
        if (!FFolderCreated) {
            FHost.AppendLog("> [ バインドエラー ] まとめフォルダを作成できませんでした。"_ansi + Quoted(fresh));
            FSettings.SkipArchive = true;
            return;
        }
        FSettings.DestFolder = fresh;
        FSettings.BindFolderCreated = true;
        FHost.AppendLog("> [ バインド起動 ] 書庫を含むフォルダ "_ansi + Quoted(bindPath) + " は動かさず、新しいまとめフォルダ "_ansi +
                        Quoted(ExtractHostName(fresh)) + " へ解凍します"_ansi);
        return;
    }
    if (!FJob.MayUseExistingFolder(bindPath, FSettings.SameFolderProc != TSameFolderProc::Replace)) return;
    if (FSettings.SameFolderProc != TSameFolderProc::Replace) {
        FSettings.OldFolderName = MoveAsideAsOld(bindPath);
        if (!FSettings.OldFolderName.empty()) {
            FFolderCreated = FJob.Claims().CreateFolder(bindPath);
            if (FFolderCreated) {
                FSettings.DestFolder = bindPath;
                FSettings.BindFolderCreated = true;
                FHost.AppendLog("> [ バインド起動 ]\tまとめフォルダ新規作成 "_ansi + Quoted(name));
            } else {
                FHost.AppendLog("> [ バインドエラー ] まとめフォルダを作成できませんでした。"_ansi + Quoted(bindPath));
                FSettings.SkipArchive = true;
            }
        }
    }
    FSettings.DestFolder = bindPath;
}

// ---- Folder naming ----------------------------------------------------------------------------------

// The archive in hand, its volumes and every entry of the list not yet done.
std::vector<AnsiString> TUnPackThread::PathsStillNeeded() {
    std::vector<AnsiString> paths = FVolumes;
    paths.push_back(FArchivePath);
    for (int i = std::max(FIndex, 0); i < FHost.FileCount(); ++i) paths.push_back(FHost.FileAt(i));
    return paths;
}

// ---- ExtractArchive (worker) ------------------------------------------------------------------------

int TUnPackThread::ExtractArchive(const AnsiString& archivePath, AnsiString destination) {
    destination = WithHostDelim(destination);
    const AnsiString ext = ArchiveExtension(archivePath);
    if (!FSettings.CompressMode && !IsAcceptedExtension(ext, FSettings.ExtraFormats)) {
        FSettings.SkipArchive = true;
        return 1;
    }
    FSettings.CurrentExt = ext;

    TArchiveFile arc;
    if (FSettings.CompressMode) {
        arc.SetFileName(ChangeExtension(archivePath, ".lzh"));
        arc.SetArchiverType(atLha);
    } else {
        arc.SetFileName(archivePath);
        // Names the detection by extension does not know (".lha", ".txz", "x.7z.001", ...).
        if (const TArchiverType forced = ForcedArchiverType(ext); forced != atNone) arc.SetArchiverType(forced);
    }
    const auto progress = [this](TArchiveFile*, int state, const EXTRACTINGINFOEX* eis, bool& abort) {
        OnArchiverProgress(state, eis, abort);
    };

    if (FSettings.PreTestArc && !FSettings.CompressMode) {
        arc.Options().x = 1;
        arc.OnProgress = progress;
        FSettings.RunState = TRunState::Testing;
        const std::function<void()> startTest = [&] {
            FHost.AppendLog("> [ 書庫テスト開始 ]"_ansiOnce);
            FHost.ShowStatus("書庫テスト中"_ansiOnce);
        };
        const int mode = static_cast<int>(FSettings.PreTestMode);
        TTestingHookScope testing;
        // The parts of a numbered 7z set are one archive to its module: it is tested as a whole.
        if (FSettings.SplitArchive && ext != ".7z") {
            Main(startTest);
            for (const AnsiString& volume : FVolumes) {
                arc.SetFileName(volume);
                const bool valid = arc.CheckArchive(mode, 0);
                if (!valid) {
                    LogFromWorker("> [ 分割書庫 テスト ]\t不正な書庫です - "_ansi + arc.FileName());
                    FSettings.SkipArchive = true;
                    return 1;
                }
                LogFromWorker("> [ 分割書庫 テスト ]\t テスト通過 - "_ansi + arc.FileName());
                arc.SetFileName(archivePath);
                if (const TArchiverType forced = ForcedArchiverType(ext); forced != atNone) arc.SetArchiverType(forced);
            }
        } else if (FJob.ListedWhole(archivePath)) {
            // Either test mode reads headers only, and the top-level count has just read every header
            // of this archive to its end: the archive is not read a second time for the same answer.
            Main([&] {
                startTest();
                FHost.AppendLog("> [ 書庫テスト ]\t テスト通過"_ansiOnce);
            });
        } else {
            Main(startTest);
            if (!arc.CheckArchive(mode, 0)) {
                LogFromWorker("> [ 書庫テスト ]\t 不正な書庫です。"_ansi);
                FSettings.SkipArchive = true;
                return 1;
            }
            LogFromWorker("> [ 書庫テスト ]\t テスト通過"_ansiOnce);
        }
    }

    if (FBreak) {
        FSettings.CancelAll = true;
        return 1000;
    }

    arc.OnProgress = progress;
    FSettings.RunState = TRunState::Extracting;
    FShowsProgress = FHost.ShowsProgress();
    Main([&] {
        FHost.ShowStatus("解凍開始"_ansiOnce);
        FHost.EnableBreakButton();
    });

    // Options and switches by extension; a format whose module was not found is refused here.
    if (const TFormatModule* f = FormatModuleOf(ext); f && !FSettings.DllPresent[f->Dll]) {
        LogFromWorker(ToAnsi(f->NotReady));
        FSettings.SkipArchive = true;
        return 1;
    }
    SetExtractOptions(arc);

    // A break that arrived after the check above is kept: clearing it here would let the run go on
    // as if nobody had asked.
    if (FBreak) {
        FSettings.CancelAll = true;
        return 1000;
    }
    FSettings.CancelAll = false;
    arc.SetOutputSize(FSettings.BuffMegaSize * 1024);

    if (FSettings.CompressMode) return PackFile(arc, archivePath, destination);
    RememberReadFiles(archivePath);
    const AnsiString wildcard = FSettings.SpecialExt ? FSettings.FileSpec : AnsiString();
    {
        std::lock_guard lock(FRefusalMutex);
        FRefusalLines.clear();
    }
    FExistingKept.store(false);
    FEndUnmarked.store(false);
    FLandingFolder = IdentityOfFolder(destination);
    ArmWarmUp();
    // An extraction that reported nothing (or failed) starts no read-ahead later.
    struct TDisarm {
        std::atomic<bool>& armed;
        ~TDisarm() { armed.store(false); }
    } disarm{FWarmUpArmed};
    const int result = arc.Extract(&FOwnerWindow, nullptr, destination, wildcard, TFileList{});
    FModuleReport = arc.Output();
    return result;
}

void TUnPackThread::ArmWarmUp() {
    FWarmUpArmed.store(false);
    if (FNextArchive.empty() || FSettings.CompressMode || FBreak || !ReadAheadPays()) return;
    const TArchiverType type = WarmUpType(FNextArchive);
    if (type == atNone) return;
    // Resolved here, on the thread that uses the bindings: the warm-up gets the addresses only.
    FWarmUpEntries = ResolveListingEntries(type);
    FWarmUpWalks = WarmUpWalks(type);
    FWarmUpArmed.store(FWarmUpEntries.Complete());
}

void TUnPackThread::SetExtractOptions(TArchiveFile& arc) {
    TArchiverOptions& o = arc.Options();
    const AnsiString& ext = FSettings.CurrentExt;
    const bool ignoreDir = FSettings.IgnoreDirectory;
    AnsiString sw;
    if (ext == ".lzh" || ext == ".lha") {
        o.n = o.jse = o.jso = o.a = 1;
        switch (FSettings.OverWrite) {
            case TOverWrite::Ask: o.u = 0; o.jyo = 0; o.jyc = 1; break;
            case TOverWrite::Overwrite: o.u = 0; sw = "-u0"; break;
            case TOverWrite::Skip: o.jn = 1; break;
            case TOverWrite::IfNewer: o.u = 1; break;
        }
        o.x = ignoreDir ? 0 : 1;
        o.UserOptions = sw;
    } else if (ext == ".zip") {
        o.x = o.a = o.n = 1;
        static const char* const kSwitch[] = {"", "-o", "-n", "-u"};
        sw = kSwitch[static_cast<int>(FSettings.OverWrite) & 3];
        if (ignoreDir) sw += " -j";
        o.UserOptions = "-q --i " + sw;
    } else if (ext == ".cab") {
        o.x = 1;
        static const char* const kSwitch[] = {"", "-o", "-o-", "-n"};  // -n is "if newer" here
        sw = kSwitch[static_cast<int>(FSettings.OverWrite) & 3];
        if (ignoreDir) o.UserOptions = "-j ";
        o.UserOptions = o.UserOptions + "-i " + sw;
    } else if (ext == ".rar") {
        o.x = ignoreDir ? 0 : 1;
        o.c = 1;
        switch (FSettings.OverWrite) {
            case TOverWrite::Ask: break;
            case TOverWrite::Overwrite: sw = "-o"; break;
            case TOverWrite::Skip: sw = "-o-"; break;
            case TOverWrite::IfNewer: o.c = 0; break;
        }
        o.UserOptions = sw;
    } else {
        SetExtraFormatOptions(o, ext, FSettings.OverWrite, ignoreDir);
    }
}

// ---- Progress ---------------------------------------------------------------------------------------

void TUnPackThread::OnArchiverProgress(int state, const EXTRACTINGINFOEX* eis, bool& abort) {
    PausePoint();
    if (state != ARCEXTRACT_INPROCESS || !eis) return;
    // The module has the archive open and parsed now: the next one may be read meanwhile.
    if (FWarmUpArmed.load(std::memory_order_relaxed) && FWarmUpArmed.exchange(false) && !FBreak)
        FWarmUp.Start(FWarmUpEntries, FNextArchive, FWarmUpWalks);
    ShowProgress(eis);
    if (!FBreak) return;
    abort = true;
    FSettings.CancelAll = true;
    FSettings.RunState = TRunState::Breaking;
    ++FBreakNotifications;
    if (FBreakNotifications > 2 && FSettings.CurrentExt == ".zip") {
        bool quit = false;
        Main([&] {
            quit = FHost.Ask("終了確認"_ansi, "1つのファイル処理中のZip強制中断は終了が必要です。\r終了しますか？"_ansi);
        });
        if (quit) {
            FWarmUp.Stop();  // the host leaves the program from here
            Main([&] { FHost.EndApplication(); });
            return;
        }
        FBreak = false;
        FSettings.RunState = TRunState::Extracting;
        FSettings.CancelAll = false;
        abort = false;  // "No" lets the extraction go on
        Main([&] { FHost.EnableBreakButton(); });
    }
}

// The figures are worked out here on the worker; the main thread is called only when the display
// would change, which keeps a notification cheap. A host that draws no progress is not called.
void TUnPackThread::ShowProgress(const EXTRACTINGINFOEX* eis) {
    // A host that draws no progress needs none of the figures (the tally of finished entries only
    // feeds them, and starts afresh with each archive).
    if (!FShowsProgress) return;
    uint64_t size = eis->fileSize, written = eis->writeSize;
    const auto* record = reinterpret_cast<const ArcProgressRecord*>(eis);
    if (record->structSize >= sizeof(ArcProgressRecord)) {
        size = record->fileSize64;
        written = record->writeSize64;
    }
    const TProgressFigures f = ComputeProgress(size, written, FDone.Total(), FSettings.TotalSize);
    const std::string_view name(eis->sourceFileName, strnlen(eis->sourceFileName, ARC_FNAME_MAX));
    FDone.Note(name, f.entryComplete, size);
    const bool perFile = FSettings.IndicatePerFile;
    const bool changed = f.totalPercent != FLastTotalPercent ||
                         (perFile && (name != FLastShownName || f.filePercent != FLastFilePercent));
    // Each display is a wait for the main thread; a busy desktop makes those waits long, so the
    // display follows at most every 50 ms (the end of the run is always shown).
    const auto now = std::chrono::steady_clock::now();
    const bool due = now - FLastShownAt >= std::chrono::milliseconds(50) || f.totalPercent >= 100;
    if (changed && due) {
        FLastShownAt = now;
        Main([&] {
            if (FHost.IsMinimized()) return;
            if (perFile) {
                if (name != FLastShownName) FHost.ShowEntryName(ShownName(AnsiString(name)));
                if (f.filePercent != FLastFilePercent) FHost.ShowFilePercent(f.filePercent);
            }
            FHost.ShowTotalPercent(f.totalPercent);
            FLastTotalPercent = f.totalPercent;
            FLastShownName.assign(name);
            FLastFilePercent = f.filePercent;
        });
    }
    if (f.entryComplete) FLastFilePercent = 999;
}

// A module may report progress to the window of the call rather than to the archive object's own
// progress window; both reach the same handler, and nothing is handled while testing.
int32_t TUnPackThread::SendFromModule(NvxWindow* self, uint32_t state, const ArcProgressRecord* record) {
    auto* thread = static_cast<TUnPackThread*>(self->context);
    if (thread->FSettings.RunState == TRunState::Testing) return 0;
    bool abort = false;
    try {
        thread->OnArchiverProgress(static_cast<int>(state), record ? &record->info : nullptr, abort);
    } catch (...) {
        return 1;  // never unwind through the module: stop instead
    }
    return abort ? 1 : 0;
}

// A refusal with its cause: the engine writes the line that says why (RefusalCauses.h).
int32_t TUnPackThread::RefusedFromModule(NvxWindow* self, int32_t cause, int32_t, const char* name, const char*) {
    auto* thread = static_cast<TUnPackThread*>(self->context);
    if (cause == ARC_CAUSE_KEPT_EXISTING) {
        // No line: "never overwrite" or "if newer" was the user's choice. The archive is kept (FinishArchive).
        thread->FExistingKept.store(true);
        return 1;
    }
    if (cause == ARC_CAUSE_END_UNMARKED) {
        // No line now: what landed is whole. The archive is kept (FinishArchive), which says why.
        thread->FEndUnmarked.store(true);
        return 1;
    }
    try {
        AnsiString line = RefusalLine(cause, name ? name : "");
        if (line.empty()) return 0;
        std::lock_guard lock(thread->FRefusalMutex);
        thread->FRefusalLines.push_back(std::move(line));
        return 1;
    } catch (...) {
        return 0;  // the module keeps its own line
    }
}

int32_t TUnPackThread::AskFromModule(NvxWindow* self, int32_t kind, const char* caption, const char* text,
                                     char* answerText, uint32_t answerSize) {
    auto* thread = static_cast<TUnPackThread*>(self->context);
    int answer = ARC_ANSWER_CANCEL;
    AnsiString reply;
    thread->Main([&] {
        const AnsiString shownCaption = ShownName(caption ? caption : "");
        for (;;) {
            answer = thread->FHost.AskArchiver(kind, shownCaption, ShownName(text ? text : ""), reply);
            // A password longer than the module takes is said so and asked again, never cut short.
            if (kind != ARC_ASK_PASSWORD || answer != ARC_ANSWER_YES || !answerText || reply.size() < answerSize)
                break;
            thread->FHost.Notice(shownCaption, ToAnsi("パスワードが長すぎます（" + std::to_string(answerSize - 1) +
                                                      " バイトまで）。"));
        }
    });
    if (kind == ARC_ASK_OVERWRITE && (answer == ARC_ANSWER_NO || answer == ARC_ANSWER_NO_ALL))
        thread->FExistingKept.store(true);
    if (answerText && answerSize > 0) {
        const std::size_t n = std::min<std::size_t>(reply.size(), answerSize - 1);
        std::memcpy(answerText, reply.data(), n);
        answerText[n] = '\0';
    }
    return answer;
}

// ---- FinishArchive ----------------------------------------------------------------------------------

// The module's own lines about the entries it left out ("> 危険なパスのため展開しません: ..."), so that
// the user sees which entries are missing and why. Bounded, so a hostile archive cannot flood the log.
void TUnPackThread::LogModuleReport() {
    constexpr int kMaxLines = 200;
    int shown = 0, more = 0;
    {
        std::lock_guard lock(FRefusalMutex);
        for (const AnsiString& line : FRefusalLines) {
            if (shown < kMaxLines) {
                FHost.AppendLog(line);
                ++shown;
            } else {
                ++more;
            }
        }
        FRefusalLines.clear();
    }
    std::size_t start = 0;
    while (start < FModuleReport.size()) {
        std::size_t end = FModuleReport.find('\n', start);
        if (end == AnsiString::npos) end = FModuleReport.size();
        AnsiString line = FModuleReport.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.rfind("> ", 0) != 0) continue;
        if (shown < kMaxLines) {
            FHost.AppendLog(line);
            ++shown;
        } else {
            ++more;
        }
    }
    if (more > 0) FHost.AppendLog("> ... ほか "_ansi + std::to_string(more) + " 件"_ansi);
    FModuleReport.clear();
}

// A set that could not be read, with a volume numbered past a gap: the volume at the gap is the
// likely cause, and the one the user has to fetch.
void TUnPackThread::LogMissingVolume() {
    if (!FMissingVolume.empty()) FHost.AppendLog("> 分割書庫が見つかりません: "_ansi + FMissingVolume);
}

void TUnPackThread::FinishArchive() {
    const bool success = !FSettings.SkipArchive && !FSettings.CancelAll && ArchiverSucceeded(FResult);
    if (!success && !FSettings.CancelAll) LogMissingVolume();
    if (FSettings.SkipArchive || FSettings.CancelAll) {
        FHost.AppendLog("> 後始末キャンセル"_ansi);
    } else if (!success) {
        LogModuleReport();
        FHost.AppendLog("> [ 解凍失敗 ]\t情報=「"_ansi + std::to_string(FResult) + ":" + Quoted(ArchiverErrorName(FResult)) +
                        "」"_ansi);
        FSettings.ExtractionFailed = true;
        FHost.ArchiveFailed(FArchivePath);
    } else {
        FHost.AppendLog("> [ 解凍 ]\t"_ansiOnce + Quoted(FSettings.DestFolder) + " へ解凍しました。"_ansiOnce);
        FHost.DeleteFileAt(FIndex);
        --FIndex;
        FHost.ArchiveExtracted(FArchivePath, FSettings.SplitArchive ? FVolumes : std::vector<AnsiString>{});
        const bool existingKept = FExistingKept.load();
        FDestinationSynced = false;
        if (FSettings.CompressMode) {
            DisposePackedFile();
        } else if (FSettings.AfterMethod != TAfterMethod::Nothing && existingKept) {
            KeepArchive(TKeptBecause::ExistingKept);
        } else if (FSettings.AfterMethod != TAfterMethod::Nothing && FEndUnmarked.load()) {
            KeepArchive(TKeptBecause::EndUnmarked);
        } else if (FSettings.AfterMethod != TAfterMethod::Nothing && FJob.FilterLeavesOut(FArchivePath)) {
            KeepArchive(TKeptBecause::FilterLeftOut);
        } else if (FSettings.AfterMethod != TAfterMethod::Nothing && FJob.FlattenedNamesCollide(FArchivePath)) {
            KeepArchive(TKeptBecause::NamesCollided);
        } else if (FSettings.AfterMethod != TAfterMethod::Nothing && !LandingStillThere()) {
            KeepArchive(TKeptBecause::LandingMoved);
        } else if (FSettings.SplitArchive) {
            for (const AnsiString& volume : FVolumes) Dispose(volume);
        } else {
            Dispose(FArchivePath);
        }
        // The single top folder (RenameSingleFolder looks whether it is one only when its name
        // would change).
        if (!FSettings.SameNameBindFolder && !FSettings.BindFolderCreated && !FSettings.TopElementPath.empty())
            RenameSingleFolder(FSettings.TopElementPath);
    }
    // Only what this archive made and claimed is removed (a single top folder made for a skipped
    // archive included); after a break the window's end of run does it.
    if (!FSettings.TopElementPath.empty() && (FSettings.ExtractionFailed || FSettings.SkipArchive))
        FJob.DeleteResidue();
    if (!FSettings.CancelAll) FJob.Claims().ReleaseArchive();
    // What a successful extraction made is no residue: a break asked for after this point must not
    // have FinishRun delete it.
    if (success) FSettings.TopElementPath.clear();
}

}  // namespace norvex
