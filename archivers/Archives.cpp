// The archive object (detection, the operation bracket, the progress window, the member callback) and
// the shared behaviour of the format drivers.
#include "archivers/Archives.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <stdexcept>

#include "archivers/ARJ32.h"
#include "archivers/BGA32.h"
#include "archivers/CAB32.h"
#include "archivers/DriverSupport.h"
#include "archivers/LHA32.h"
#include "archivers/RAR32.h"
#include "archivers/SZIP32.h"
#include "archivers/TAR32.h"
#include "archivers/YZ132.h"
#include "archivers/ZIP32.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "util/PackList.h"

namespace norvex {
using namespace norvex::literals;

namespace {

// The archive object whose member callback is installed (one at a time in the process).
TArchiveFile* g_memberTarget = nullptr;
TProgressTestingHook g_testingHook;

AnsiString LowerAscii(AnsiString s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// True when text holds part, matched at whole-character positions of text.
bool AnsiContains(std::string_view text, std::string_view part) {
    if (part.empty()) return true;
    for (std::size_t i = 0; i + part.size() <= text.size(); i += AnsiCharLength(text, i))
        if (text.compare(i, part.size(), part) == 0) return true;
    return false;
}

std::string_view FixedText(const char* field, std::size_t size) {
    return std::string_view(field, strnlen(field, size));
}

}  // namespace

// ---- TArchiver -------------------------------------------------------------------------------

void TArchiver::LoadDLL() { throw EArchiver("Abstract method 'TArchiver.LoadDLL' was called"); }
void TArchiver::FreeDLL() { throw EArchiver("Abstract method 'TArchiver.FreeDLL' was called"); }

HARC TArchiver::OpenArchive(NvxWindow* window, const AnsiString& name, uint32_t mode) {
    return Dll()->OpenArchive(window, ExpandFileName(name), mode);
}

int TArchiver::FindFirst(HARC harc, TArchiveEntryInfo* info, const AnsiString& wildName) {
    return Dll()->FindFirst(harc, wildName, info);
}

int TArchiver::FindNext(HARC harc, TArchiveEntryInfo* info) { return Dll()->FindNext(harc, info); }
int TArchiver::CloseArchive(HARC harc) { return Dll()->CloseArchive(harc); }
int TArchiver::GetArcOriginalSize(HARC harc) { return Dll()->GetArcOriginalSize(harc); }
bool TArchiver::SetBackGroundMode(bool background) { return Dll()->SetBackGroundMode(background); }
bool TArchiver::GetBackGroundMode() { return Dll()->GetBackGroundMode(); }
void TArchiver::EnumMember(TEnumMemberInfo64&, const TArchiverOptions&, bool&) {}

int TArchiver::RunCommand(NvxWindow* window, const AnsiString& name, const AnsiString& cmdLine,
                          AnsiString& output) {
    return Dll()->Command(window, name, cmdLine, output.data(), static_cast<int>(output.size()));
}

int TArchiver::RunPackCommand(NvxWindow* window, const AnsiString& name, const AnsiString& cmdLine,
                              AnsiString& output) {
    return Dll()->PackCommand(window, name, cmdLine, output.data(), static_cast<int>(output.size()));
}

int TArchiver::Extract(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                       const AnsiString& destination, const AnsiString& extra, const TFileList& files,
                       bool useResponseFile, AnsiString& cmdLine, AnsiString& output) {
    cmdLine = BuildExtractCommand(name, options, destination, files, useResponseFile) + extra;
    return RunCommand(window, name, cmdLine, output);
}

int TArchiver::Pack(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                    const AnsiString& folder, const TFileList& files, bool useResponseFile, AnsiString& cmdLine,
                    AnsiString& output) {
    cmdLine = BuildPackCommand(name, options, folder, files, useResponseFile);
    return RunPackCommand(window, name, cmdLine, output);
}

int TArchiver::Delete(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                      const TFileList& files, bool useResponseFile, AnsiString& cmdLine, AnsiString& output) {
    cmdLine = BuildDeleteCommand(name, options, files, useResponseFile);
    return RunPackCommand(window, name, cmdLine, output);
}

int TArchiver::Update(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                      const AnsiString& folder, const TFileList& files, bool useResponseFile, AnsiString& cmdLine,
                      AnsiString& output) {
    cmdLine = BuildUpdateCommand(name, options, folder, files, useResponseFile);
    return RunPackCommand(window, name, cmdLine, output);
}

int TArchiver::MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                       const AnsiString& folder, const TArchiverOptions& options) {
    cmdLine = BuildSfxCommand(name, options, folder);
    return RunPackCommand(window, name, cmdLine, output);
}

int TArchiver::ExtractToMemory(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& entryName, void* buffer, uint32_t size, int64_t* time,
                               uint16_t* attribute, uint32_t* written, AnsiString& cmdLine) {
    cmdLine = BuildMemExtractCommand(name, options, entryName);
    return Dll()->ExtractMem(window, cmdLine, buffer, size, time, attribute, written);
}

bool TArchiver::CheckArchive(const AnsiString& name, int mode, int flags) {
    int sum = 0;
    if (__builtin_add_overflow(mode, flags, &sum)) throw std::overflow_error("check mode + flags overflows");
    return Dll()->CheckArchive(name, sum) != 0;
}

AnsiString TArchiver::BuildPackCommand(const AnsiString&, const TArchiverOptions&, const AnsiString&,
                                       const TFileList&, bool) {
    throw EArchiver("この形式では書庫ファイルの作成をサポートしておりません。"_ansi);
}

AnsiString TArchiver::BuildDeleteCommand(const AnsiString&, const TArchiverOptions&, const TFileList&, bool) {
    throw EArchiver("この形式の書庫ではファイルの削除をサポートしておりません。"_ansi);
}

AnsiString TArchiver::BuildUpdateCommand(const AnsiString&, const TArchiverOptions&, const AnsiString&,
                                         const TFileList&, bool) {
    throw EArchiver("この形式の書庫では書庫の更新をサポートしておりません。"_ansi);
}

AnsiString TArchiver::BuildSfxCommand(const AnsiString&, const TArchiverOptions&, const AnsiString&) {
    throw EArchiver("この形式では自己解凍書庫の作成をサポートしておりません。"_ansi);
}

AnsiString TArchiver::BuildMemExtractCommand(const AnsiString&, const TArchiverOptions&, const AnsiString&) {
    throw EArchiver("この形式ではメモリ展開をサポートしておりません。"_ansi);
}

bool TArchiver::SetOwnerWindow(NvxWindow* window, ARCHIVERPROC callback) {
    FOwnerWindow = window;
    return Dll()->SetOwnerWindowEx(window, callback);
}

bool TArchiver::KillOwnerWindow(NvxWindow* window) {
    FOwnerWindow = nullptr;
    return Dll()->KillOwnerWindowEx(window);
}

bool TArchiver::SetEnumMembersProc(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize) {
    return Dll()->SetEnumMembersProc64(proc, structSize);
}

bool TArchiver::ClearEnumMembersProc() { return Dll()->ClearEnumMembersProc64(); }

void TArchiver::AddArchiveAndFolder(TCmdOpt& cmd, const AnsiString& archive, const AnsiString& folder) {
    cmd.AddQuoted("", archive);
    cmd.AddFolder("", folder);
}

int TArchiver::AddFileList(TCmdOpt& cmd, const TArchiverOptions& options, bool useResponseFile,
                           const TFileList& files) {
    int n;
    if (useResponseFile && !options.ResFileName.empty() && !IsNotGiven(options.ResFileName))
        n = cmd.AddResponseFile(files, options.ResFileName);
    else
        n = cmd.AddFiles("", files);
    cmd.Add(options.UserFileList);
    return n;
}

// ---- Drivers by type and detection ---------------------------------------------------------------

std::unique_ptr<TArchiver> CreateArchiver(TArchiverType type) {
    std::unique_ptr<TArchiver> d;
    switch (type) {
        case atLha: d = std::make_unique<TLha32>(); break;
        case atZip: d = std::make_unique<TZip32>(); break;
        case atCab: d = std::make_unique<TCab32>(); break;
        case atArj: d = std::make_unique<TArj32>(); break;
        case atTar: d = std::make_unique<TTar32>(); break;
        case atTgz: d = std::make_unique<TTgz32>(); break;
        case atBZ2: d = std::make_unique<TBZ232>(); break;
        case atRar: d = std::make_unique<TRar32>(); break;
        case atBga: d = std::make_unique<TBGA32>(); break;
        case atYz1: d = std::make_unique<TYZ1>(); break;
        case at7z: d = std::make_unique<TSevenZip32>(); break;
        default: return nullptr;
    }
    d->EnsureDLL();
    return d;
}

TListingEntryPoints ResolveListingEntries(TArchiverType type) {
    try {
        const std::unique_ptr<TArchiver> driver = CreateArchiver(type);
        if (!driver) return {};
        const TListingEntryPoints entries = driver->Dll()->ListingEntries();
        return entries.Complete() ? entries : TListingEntryPoints{};
    } catch (...) {
        return {};
    }
}

TArchiverType ArchiverTypeFromExtension(const AnsiString& fileName) {
    struct Row {
        const char* ext;
        TArchiverType type;
    };
    // ".lha" is an extension the engine accepts; it is LHA like ".lzh".
    static const Row kTable[] = {
        {".lzh", atLha}, {".lha", atLha}, {".zip", atZip}, {".jar", atZip}, {".ear", atZip},  {".war", atZip},
        {".cab", atCab}, {".arj", atArj}, {".tar", atTar}, {".a", atTar},   {".lib", atTar},  {".deb", atTar},
        {".rpm", atTar}, {".cpio", atTar}, {".gz", atTgz}, {".z", atTgz},   {".tgz", atTgz},  {".taz", atTgz},
        {".bz2", atBZ2}, {".rar", atRar}, {".gza", atBga}, {".bza", atBga}, {".yz1", atYz1}, {".gca", atGCA},
        {".7z", at7z},   {".exe", atAutoDetect},
    };
    const AnsiString ext = LowerAscii(ExtractFileExt(fileName));
    for (const Row& row : kTable)
        if (ext == row.ext) return row.type;
    return atNone;
}

TArchiverType DetectArchiverTypeByContent(const AnsiString& fileName) {
    // Only a regular file is read: a fifo or a device would make a module's read wait forever, and
    // a folder is no archive. (stat opens nothing.)
    struct stat st {};
    if (::stat(FromAnsi(fileName).c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return atNone;
    // Every check runs; a later one that accepts overrides the earlier answer, so LHA wins over all.
    TArchiverType type = TTar32::CheckType(fileName);
    if (TRar32::CheckFile(fileName)) type = atRar;
    if (TArj32::CheckFile(fileName)) type = atArj;
    if (TZip32::CheckFile(fileName)) type = atZip;
    if (TBGA32::CheckFile(fileName)) type = atBga;
    if (TYZ1::CheckFile(fileName)) type = atYz1;
    if (TCab32::CheckFile(fileName)) type = atCab;
    if (TLha32::CheckFile(fileName)) type = atLha;
    return type;
}

void FreeArchiverDlls() {
    TLha32::FreeDLL();
    TZip32::FreeDLL();
    TCab32::FreeDLL();
    TArj32::FreeDLL();
    TTar32::FreeDLL();
    TRar32::FreeDLL();
    TBGA32::FreeDLL();
    TYZ1::FreeDLL();
    TSevenZip32::FreeDLL();
}

void SetProgressTestingHook(TProgressTestingHook hook) { g_testingHook = std::move(hook); }

// ---- TArchiveFile ----------------------------------------------------------------------------

// The hidden window of an archive object: the module sends "wm_arcextract" to it synchronously, and
// its answer (1 = stop) goes back to the module. Questions are passed on to the window of the running
// operation.
struct TArchiveFile::TProgressWindow {
    NvxWindow window{};
    TArchiveFile* owner;

    explicit TProgressWindow(TArchiveFile* o) : owner(o) {
        window.structSize = sizeof(NvxWindow);
        window.context = this;
        window.sendArcExtract = &SendArcExtract;
        window.ask = &AskUser;
    }

    static int32_t SendArcExtract(NvxWindow* self, uint32_t state, const ArcProgressRecord* record) {
        auto* pw = static_cast<TProgressWindow*>(self->context);
        try {
            return pw->owner->DispatchArcExtract(state, record);
        } catch (...) {
            return 1;  // a failing handler must not unwind through the module: stop instead
        }
    }

    static int32_t AskUser(NvxWindow* self, int32_t kind, const char* caption, const char* text, char* answer,
                           uint32_t answerSize) {
        auto* pw = static_cast<TProgressWindow*>(self->context);
        try {
            return pw->owner->Ask(kind, caption, text, answer, answerSize);
        } catch (...) {
            return ARC_ANSWER_CANCEL;
        }
    }
};

struct TArchiveFile::Bracket {
    bool members = false;
    bool progress = false;
};

TArchiveFile::TArchiveFile() = default;

TArchiveFile::~TArchiveFile() {
    if (g_memberTarget == this) g_memberTarget = nullptr;
    if (FHandle && FDriver) {
        try {
            FDriver->CloseArchive(FHandle);
        } catch (...) {
        }
    }
}

NvxWindow* TArchiveFile::ProgressWindow() const { return FProgressWindow ? &FProgressWindow->window : nullptr; }

void TArchiveFile::SetFileName(const AnsiString& name) {
    TArchiverType type = ArchiverTypeFromExtension(name);
    if (type == atAutoDetect) type = DetectArchiverTypeByContent(name);  // ".exe": ask the contents
    SetArchiverType(type);
    FFileName = name;
}

void TArchiveFile::SetArchiverType(TArchiverType type) {
    switch (type) {
        case atNone: return;  // keep the current type and driver
        case atAutoDetect: FArchiverType = type; return;
        case atGCA:
        case atBel: throw EArchiver("書庫の形式を特定できませんでした。"_ansi);
        default: {
            std::unique_ptr<TArchiver> driver = CreateArchiver(type);
            if (FHandle && FDriver) {  // a listing of the old driver cannot go on with the new one
                try {
                    FDriver->CloseArchive(FHandle);
                } catch (...) {
                }
                FHandle = nullptr;
            }
            FDriver = std::move(driver);
            FArchiverType = type;
        }
    }
}

void TArchiveFile::DetectIfNeeded() {
    if (FArchiverType == atAutoDetect) SetArchiverType(DetectArchiverTypeByContent(FFileName));
}

void TArchiveFile::RequireDriver() {
    if (!FDriver) throw EArchiver("書庫の形式を判別できません。"_ansi);
}

void TArchiveFile::SetOutputSize(int n) { FOutput.assign(static_cast<std::size_t>(std::max(n, 0)), '\0'); }

AnsiString TArchiveFile::Output() const { return AnsiString(FixedText(FOutput.data(), FOutput.size())); }

int TArchiveFile::OpenArchive(NvxWindow* window, uint32_t mode) {
    DetectIfNeeded();
    RequireDriver();
    FHandle = FDriver->OpenArchive(window, FFileName, mode);
    return FHandle ? 0 : 1;
}

int TArchiveFile::FindFirst(const AnsiString& wildName, TArchiveEntryInfo* info) {
    RequireDriver();
    return TakeEntryName(FDriver->FindFirst(FHandle, info, wildName), info);
}

int TArchiveFile::FindNext(TArchiveEntryInfo* info) {
    RequireDriver();
    return TakeEntryName(FDriver->FindNext(FHandle, info), info);
}

std::optional<int> TArchiveFile::ListNames(const AnsiString& wildName, const TCustomArchiverDll::TNameVisitor& visit) {
    RequireDriver();
    FEntryName.clear();
    return FDriver->Dll()->ListNames(FHandle, wildName, visit);
}

int TArchiveFile::WalkNames(const AnsiString& wildName, const TCustomArchiverDll::TNameVisitor& visit) {
    if (const std::optional<int> end = ListNames(wildName, visit)) return *end;
    TArchiveEntryInfo info{};
    int found = FindFirst(wildName, &info);
    // The whole name: the record's field is cut to 513 bytes.
    while (found == 0 && visit(FEntryName, info.originalSize)) {
        info = TArchiveEntryInfo{};
        found = FindNext(&info);
    }
    return found;
}

int TArchiveFile::TakeEntryName(int found, const TArchiveEntryInfo* info) {
    FEntryName.clear();
    if (found != 0 || !info) return found;
    if (!FDriver->Dll()->GetFileNameEx(FHandle, FEntryName))
        FEntryName.assign(info->entry.fileName, strnlen(info->entry.fileName, sizeof info->entry.fileName));
    return found;
}

int TArchiveFile::CloseArchive() {
    RequireDriver();
    const int r = FDriver->CloseArchive(FHandle);
    FHandle = nullptr;
    return r;
}

TListingCloser::~TListingCloser() {
    try {
        arc.CloseArchive();
    } catch (...) {
    }
}

int TArchiveFile::GetArcOriginalSize() {
    RequireDriver();
    return FDriver->GetArcOriginalSize(FHandle);
}

bool TArchiveFile::SetBackGroundMode(bool background) {
    RequireDriver();
    return FDriver->SetBackGroundMode(background);
}

bool TArchiveFile::GetBackGroundMode() {
    RequireDriver();
    return FDriver->GetBackGroundMode();
}

void TArchiveFile::BeginOperation(const TArchiverOptions& options, NvxWindow* callerWindow, Bracket& b) {
    FCallerWindow = callerWindow;
    FOpOptions = &options;
    if (OnEnumMember || options.IncludeExtraStreams) {
        g_memberTarget = this;
        b.members = true;
        FDriver->SetEnumMembersProc(&EnumMembersCallback, ARC_ENUM_MEMBER_RECORD_SIZE);
    }
    if (OnProgress || FInternalProgress) {
        if (!FProgressWindow) FProgressWindow = std::make_unique<TProgressWindow>(this);
        b.progress = true;
        try {
            FDriver->SetOwnerWindow(&FProgressWindow->window, nullptr);
        } catch (...) {
        }
    }
}

void TArchiveFile::EndOperation(Bracket& b) {
    if (b.members) {
        if (g_memberTarget == this) g_memberTarget = nullptr;
        try {
            FDriver->ClearEnumMembersProc();
        } catch (...) {
        }
    }
    if (b.progress) {
        try {
            FDriver->KillOwnerWindow(&FProgressWindow->window);
        } catch (...) {
        }
    }
    FCallerWindow = nullptr;
    FOpOptions = nullptr;
}

int TArchiveFile::DispatchArcExtract(uint32_t state, const ArcProgressRecord* record) {
    const EXTRACTINGINFOEX* info = record ? &record->info : nullptr;
    if (g_testingHook) {
        const int answer = g_testingHook(info);
        if (answer >= 0) return answer;
    }
    bool abort = false;
    if (FInternalProgress) FInternalProgress(this, static_cast<int>(state), info, abort);
    if (OnProgress) OnProgress(this, static_cast<int>(state), info, abort);
    return abort ? 1 : 0;
}

int32_t TArchiveFile::Ask(int32_t kind, const char* caption, const char* text, char* answer, uint32_t answerSize) {
    NvxWindow* caller = FCallerWindow;
    if (caller && caller != ProgressWindow() && caller->ask)
        return caller->ask(caller, kind, caption, text, answer, answerSize);
    // Nobody to ask: the safe answer (keep existing files, give no password).
    return kind == ARC_ASK_OVERWRITE ? ARC_ANSWER_NO : ARC_ANSWER_CANCEL;
}

ARC_BOOL TArchiveFile::EnumMembersCallback(void* member) {
    TArchiveFile* target = g_memberTarget;
    if (!target || !member) return 1;
    try {
        auto& info = *static_cast<TEnumMemberInfo64*>(member);
        bool abort = false;
        const TArchiverOptions& options = target->FOpOptions ? *target->FOpOptions : target->FOptions;
        target->FDriver->EnumMember(info, options, abort);
        if (!abort && target->OnEnumMember) target->OnEnumMember(target, info, abort);
        return abort ? 0 : 1;
    } catch (...) {
        return 0;
    }
}

bool TArchiveFile::CheckArchive(int mode, int flags) {
    RequireDriver();
    Bracket b;
    BeginOperation(FOptions, nullptr, b);
    try {
        const bool ok = FDriver->CheckArchive(FFileName, mode, flags);
        EndOperation(b);
        return ok;
    } catch (...) {
        EndOperation(b);
        throw;
    }
}

int TArchiveFile::Extract(NvxWindow* window, const TArchiverOptions* options, const AnsiString& destination,
                          const AnsiString& extra, const TFileList& files) {
    FCommandLine.clear();
    RequireDriver();
    const TArchiverOptions& o = options ? *options : FOptions;
    Bracket b;
    BeginOperation(o, window, b);
    auto finish = [&] {
        try {
            MergeStreams(destination, o);
        } catch (...) {
        }
        FStreams.reset();
        FInternalProgress = nullptr;
        FExtractOptions = nullptr;
        EndOperation(b);
    };
    try {
        FStreams.reset();
        if (o.IncludeExtraStreams && !o.StreamSeparator.empty()) {
            FStreams = std::make_unique<std::vector<AnsiString>>();
            const AnsiString separator = o.StreamSeparator;
            FInternalProgress = [this, separator](TArchiveFile*, int state, const EXTRACTINGINFOEX* e, bool&) {
                if (state != ARCEXTRACT_INPROCESS || !e || !FStreams) return;
                if (!AnsiContains(FixedText(e->sourceFileName, sizeof e->sourceFileName), separator)) return;
                AnsiString dest(FixedText(e->destFileName, sizeof e->destFileName));
                auto it = std::lower_bound(FStreams->begin(), FStreams->end(), dest);
                if (it == FStreams->end() || *it != dest) FStreams->insert(it, std::move(dest));
            };
        }
        FExtractOptions = &o;
        const int result = FDriver->Extract(window, FFileName, o, destination, extra, files, o.Uses(ruOnUnpack),
                                            FCommandLine, FOutput);
        finish();
        return result;
    } catch (...) {
        finish();
        throw;
    }
}

void TArchiveFile::MergeStreams(const AnsiString& destination, const TArchiverOptions&) {
    // Collected stream files become named streams again only on a volume that has them; no Linux
    // volume does, so they stay ordinary files.
    if (!FStreams || FStreams->empty() || !VolumeSupportsNamedStreams(destination)) return;
}

int TArchiveFile::PackFiles(NvxWindow* window, const TArchiverOptions* options, const AnsiString& baseFolder,
                            const TFileList& files) {
    DetectIfNeeded();
    RequireDriver();
    const TArchiverOptions& o = options ? *options : FOptions;
    FDriver->EnsureDLL();
    if (o.PackFilter == TPackFilter::pfComponent) return PackCollected(window, o, baseFolder, files);
    Bracket b;
    BeginOperation(o, window, b);
    try {
        const int result =
            FDriver->Pack(window, FFileName, o, baseFolder, files, o.Uses(ruOnPack), FCommandLine, FOutput);
        EndOperation(b);
        return result;
    } catch (...) {
        EndOperation(b);
        throw;
    }
}

int TArchiveFile::PackCollected(NvxWindow* window, const TArchiverOptions& options, const AnsiString& baseFolder,
                                const TFileList& files) {
    TArchiverOptions copy = options;
    TPackListOptions listOptions;
    listOptions.r = copy.r;
    listOptions.p = copy.p;
    listOptions.a = copy.a;
    listOptions.ji = copy.ji;
    listOptions.jf = copy.jf;
    listOptions.jo = copy.jo;
    listOptions.job = copy.job;
    listOptions.jx = copy.jx;
    listOptions.StreamSeparator = copy.StreamSeparator;
    listOptions.IncludeExtraStreams = copy.IncludeExtraStreams;

    TPackContext context;
    // Each collected path goes through the progress dispatch as a progress record whose source and
    // destination names hold the path, so that a handler reads a whole record.
    context.OnProgress = [this](int state, const char* path, bool& abort) {
        ArcProgressRecord record{};
        record.structSize = sizeof record;
        std::strncpy(record.info.sourceFileName, path, sizeof record.info.sourceFileName - 1);
        std::strncpy(record.info.destFileName, path, sizeof record.info.destFileName - 1);
        if (DispatchArcExtract(static_cast<uint32_t>(state), &record) != 0) abort = true;
    };
    auto deleteStreamFiles = [&context] {
        for (const AnsiString& f : context.StreamFiles) DeleteFile(f);
    };

    int result = 0;
    try {
        std::vector<AnsiString> list = BuildPackList(ExpandFileList(files), listOptions, baseFolder, context);
        // The list is expanded already: the archiver gets the reset values of the builder.
        copy.r = listOptions.r;
        copy.p = listOptions.p;
        copy.jo = listOptions.jo;
        copy.job = listOptions.job;
        if (context.Cancel) {
            result = ARC_ERROR_USER_CANCEL;
        } else if (!list.empty()) {
            copy.jx.clear();
            copy.PackFilter = TPackFilter::pfArchiver;
            result = PackFiles(window, &copy, baseFolder, {std::move(list)});
        } else {
            if (!FOutput.empty()) FOutput[0] = '\0';
            result = 0;
        }
    } catch (...) {
        deleteStreamFiles();
        throw;
    }
    deleteStreamFiles();
    return result;
}

}  // namespace norvex
