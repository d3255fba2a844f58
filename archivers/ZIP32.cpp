// The ZIP binding over three modules and the ZIP driver with its two creation switch languages.
#include "archivers/ZIP32.h"

#include <sys/stat.h>

#include <stdexcept>

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TZipDll> g_zip;

constexpr auto U = TZipDll::zmUnzip32;
constexpr auto Z = TZipDll::zmZip32j;
constexpr auto L = TZipDll::zmLmzip32;
}  // namespace

// ---- TZipDll ---------------------------------------------------------------------------------

TZipDll::~TZipDll() { TZipDll::Unload(); }

const char* TZipDll::ModuleName(TZipModule m) {
    static const char* const kNames[zmCount] = {"UNZIP32.DLL", "ZIP32J.DLL", "LMZIP32.DLL"};
    return kNames[m];
}

TZipDll::TFolderStamp TZipDll::StampOfModuleFolder() {
    struct stat st {};
    TFolderStamp stamp;
    if (::stat(FromAnsi(ModuleFolder()).c_str(), &st) != 0) return stamp;
    stamp.known = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.seconds = st.st_mtim.tv_sec;
    stamp.nanoseconds = st.st_mtim.tv_nsec;
    return stamp;
}

TZipDll::TFolderStamp TZipDll::FolderStampNow() {
    const uint64_t glance = ModuleFolderGlance();
    if (glance == 0 || glance != FStampGlance) {
        FStamp = StampOfModuleFolder();
        FStampGlance = glance;
    }
    return FStamp;
}

void TZipDll::Load() {
    bool missing = false;
    for (ModuleHandle h : FModules) missing = missing || !h;
    if (!missing) return;
    // Every call of the binding loads first: a module that is not there is searched for again only
    // when a file may have come into the folder since, not on every call (and the folder is looked
    // at once per glance, see ModuleFolderGlance).
    const TFolderStamp now = FolderStampNow();
    bool loaded = false;
    for (int m = 0; m < zmCount; ++m) {
        if (FModules[m] || (now.known && FMissingIn[m] == now)) continue;
        FModules[m] = LoadModule(ModuleName(static_cast<TZipModule>(m)));
        FMissingIn[m] = FModules[m] ? TFolderStamp{} : now;
        loaded = loaded || FModules[m];
    }
    if (loaded) ForgetLookups();
}

void TZipDll::Unload() {
    for (ModuleHandle& h : FModules) {
        if (h) FreeModule(h);
        h = nullptr;
    }
    for (TFolderStamp& s : FMissingIn) s = TFolderStamp{};
    FStamp = TFolderStamp{};
    FStampGlance = 0;
    ForgetLookups();
    TCustomArchiverDll::Unload();
}

void TZipDll::ForgetLookups() {
    for (bool& b : FLookedUp) b = false;
    for (int e = 0; e < aeEntryCount; ++e) FEntries[e] = nullptr;
    FUnZipCommand = FZipCommand = FFileNameEx = FListNames = nullptr;
    FListNamesLookedUp = false;
    FUnZipCommandLookedUp = FZipCommandLookedUp = FFileNameExLookedUp = false;
}

void* TZipDll::LookupEntry(ModuleHandle module, const char* name) { return ModuleSymbol(module, name); }

void* TZipDll::Find(TArcEntry field, const char* name, std::initializer_list<TZipModule> order, bool raise) {
    return Find(&FEntries[field], &FLookedUp[field], name, order, raise);
}

void* TZipDll::Find(void** slot, bool* lookedUp, const char* name, std::initializer_list<TZipModule> order,
                    bool raise) {
    // A name looked up once is kept, found or not, until the loaded modules change.
    if (!*lookedUp) {
        void* found = nullptr;
        for (TZipModule m : order) {
            if (!FModules[m]) continue;
            AnsiString asked(name);
            if (m == zmLmzip32 && asked.size() >= 3 && asked[2] == 'Z') asked[2] = 'z';
            found = LookupEntry(FModules[m], asked.c_str());
            if (found) break;
        }
        *slot = found;
        *lookedUp = true;
    }
    if (!*slot && raise)
        throw EEntryNotFound(FormatMessage2("%0:s のエントリが DLL に見つかりませんでした。"_ansi, name));
    return *slot;
}

int TZipDll::Command(NvxWindow* window, const AnsiString&, const AnsiString& cmdLine, char* output, int size) {
    if (size < 0) throw std::out_of_range("negative output buffer size");
    Load();
    Find(&FUnZipCommand, &FUnZipCommandLookedUp, "UnZip", {U, L}, true);
    return reinterpret_cast<ARC_COMMAND>(FUnZipCommand)(window, cmdLine.c_str(), size == 0 ? nullptr : output,
                                                        static_cast<uint32_t>(size));
}

int TZipDll::PackCommand(NvxWindow* window, const AnsiString&, const AnsiString& cmdLine, char* output,
                         int size) {
    if (size < 0) throw std::out_of_range("negative output buffer size");
    Load();
    Find(&FZipCommand, &FZipCommandLookedUp, "Zip", {Z, L}, true);
    return reinterpret_cast<ARC_COMMAND>(FZipCommand)(window, cmdLine.c_str(), size == 0 ? nullptr : output,
                                                      static_cast<uint32_t>(size));
}

int TZipDll::CheckArchive(const AnsiString& path, int mode) {
    Load();
    Find(aeCheckArchive, "UnZipCheckArchive", {U, L, Z}, true);
    return TCustomArchiverDll::CheckArchive(path, mode);
}

int TZipDll::CloseArchive(HARC harc) {
    Load();
    Find(aeCloseArchive, "UnZipCloseArchive", {L, Z, U}, true);
    return TCustomArchiverDll::CloseArchive(harc);
}

int TZipDll::ExtractMem(NvxWindow* window, const AnsiString& cmdLine, void* buffer, uint32_t size, int64_t* time,
                        uint16_t* attribute, uint32_t* written) {
    Find(aeExtractMem, "UnZipExtractMem", {U, L, Z}, true);
    return TCustomArchiverDll::ExtractMem(window, cmdLine, buffer, size, time, attribute, written);
}

int TZipDll::FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) {
    Load();
    Find(aeFindFirst, "UnZipFindFirst", {L, Z, U}, true);
    return TCustomArchiverDll::FindFirst(harc, wildName, info);
}

int TZipDll::FindNext(HARC harc, TArchiveEntryInfo* info) {
    Find(aeFindNext, "UnZipFindNext", {L, Z, U}, true);
    return TCustomArchiverDll::FindNext(harc, info);
}

int TZipDll::GetArcOriginalSize(HARC harc) {
    Find(aeGetArcOriginalSize, "UnZipGetOriginalSize", {L, Z, U}, true);
    return TCustomArchiverDll::GetArcOriginalSize(harc);
}

bool TZipDll::SetBackGroundMode(bool background) {
    Find(aeSetBackGroundMode, "UnZipSetBackGroundMode", {L, Z, U}, true);
    return TCustomArchiverDll::SetBackGroundMode(background);
}

bool TZipDll::GetBackGroundMode() {
    Find(aeGetBackGroundMode, "UnZipGetBackGroundMode", {L, Z, U}, true);
    return TCustomArchiverDll::GetBackGroundMode();
}

bool TZipDll::KillOwnerWindowEx(NvxWindow* window) {
    Find(aeKillOwnerWindowEx, "UnZipKillOwnerWindowEx", {U}, false);
    return TCustomArchiverDll::KillOwnerWindowEx(window);
}

HARC TZipDll::OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) {
    Load();
    Find(aeOpenArchive, "UnZipOpenArchive", {L, Z, U}, true);
    return TCustomArchiverDll::OpenArchive(window, path, mode);
}

bool TZipDll::SetOwnerWindowEx(NvxWindow* window, ARCHIVERPROC callback) {
    Find(aeSetOwnerWindowEx, "UnZipSetOwnerWindowEx", {U}, false);
    return TCustomArchiverDll::SetOwnerWindowEx(window, callback);
}

bool TZipDll::GetWriteTimeEx(HARC harc, uint64_t* fileTime) {
    Find(aeGetWriteTimeEx, "UnzipGetWriteTimeEx", {L, Z, U}, false);
    return TCustomArchiverDll::GetWriteTimeEx(harc, fileTime);
}

bool TZipDll::GetCreateTimeEx(HARC harc, uint64_t* fileTime) {
    Find(aeGetCreateTimeEx, "UnZipGetCreateTimeEx", {L, Z, U}, false);
    return TCustomArchiverDll::GetCreateTimeEx(harc, fileTime);
}

bool TZipDll::GetFileNameEx(HARC harc, AnsiString& name) {
    return CallFileNameEx(Find(&FFileNameEx, &FFileNameExLookedUp, "UnZipGetFileNameEx", {L, Z, U}, false), harc, name);
}

void* TZipDll::ListNamesEntry() {
    if (!FListNamesLookedUp) {
        // Only the module whose OpenArchive gives the handles can walk them.
        FListNames = nullptr;
        for (TZipModule m : {L, Z, U}) {
            if (!FModules[m]) continue;
            const bool lower = m == zmLmzip32;
            if (!LookupEntry(FModules[m], lower ? "UnzipOpenArchive" : "UnZipOpenArchive")) continue;
            FListNames = LookupEntry(FModules[m], lower ? "UnzipListNames" : "UnZipListNames");
            break;
        }
        FListNamesLookedUp = true;
    }
    return FListNames;
}

TListingEntryPoints TZipDll::ListingEntries() {
    Load();
    Find(aeOpenArchive, "UnZipOpenArchive", {L, Z, U}, false);
    Find(aeFindFirst, "UnZipFindFirst", {L, Z, U}, false);
    Find(aeFindNext, "UnZipFindNext", {L, Z, U}, false);
    Find(aeCloseArchive, "UnZipCloseArchive", {L, Z, U}, false);
    return TCustomArchiverDll::ListingEntries();
}

bool TZipDll::GetAccessTimeEx(HARC harc, uint64_t* fileTime) {
    Find(aeGetAccessTimeEx, "UnZipGetAccessTimeEx", {L, Z, U}, false);
    return TCustomArchiverDll::GetAccessTimeEx(harc, fileTime);
}

// ---- TZip32 ----------------------------------------------------------------------------------

void TZip32::LoadDLL() {
    if (!g_zip.dll) g_zip.dll = std::make_unique<TZipDll>();
    g_zip.dll->Load();
}

void TZip32::FreeDLL() { g_zip.dll.reset(); }

TZipDll* TZip32::ZipDll() {
    if (!g_zip.dll) LoadDLL();
    return g_zip.dll.get();
}

TCustomArchiverDll* TZip32::Dll() { return ZipDll(); }

bool TZip32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        const AnsiString full = ExpandFileName(name);
        if (g_zip.dll->CheckArchive(full, 24) <= 0) return false;
        if (!FileExists(full)) return false;
        return CheckByOpening(*g_zip.dll, full);
    } catch (...) {
        return false;
    }
}

AnsiString TZip32::ConvertZipName(const AnsiString& name) {
    AnsiString out;
    std::size_t i = 0;
    if (!name.empty() && name[0] == '-') {
        out = "[-]";
        i = 1;
    }
    while (i < name.size()) {
        const std::size_t n = AnsiCharLength(name, i);
        if (n == 1 && name[i] == '\\')
            out += '/';
        else if (n == 1 && name[i] == '[')
            out += "[[]";
        else
            out.append(name, i, n);
        i += n;
    }
    return out;
}

AnsiString TZip32::ExtractionForm(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                  const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.ConvertNameFunc = &ConvertZipName;
    cmd.CommandLine = word;
    if (o.c == 1) cmd.Add("-o");
    if (o.n > 0 || IsOwnerWindowSet()) cmd.Add("--i");
    if (o.x == 0) cmd.Add("-j");
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TZip32::CreationFormA(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                 const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.ConvertNameFunc = &ConvertZipName;
    cmd.CommandLine = word;
    if (o.a > 0) cmd.Add("-S");
    if (o.a < 2) cmd.Add("-D");
    if (o.l > 0) cmd.Add("-v");
    if (o.n > 0) cmd.Add("-q");
    if (o.r > 0) cmd.Add("-r");
    if (o.n > 0) cmd.Add("-o");
    if (o.u > 0) cmd.Add("-u");
    if (o.x == 0) cmd.Add("-j");
    if (o.jc > 0) cmd.Add("-FF");
    if (o.ji > 0) cmd.Add("-k");
    cmd.AddNumber("", o.jm);  // the compression level, "-9"
    if (o.gd > 0) cmd.Add("-J");
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TZip32::CreationFormB(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                                 bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = "-ru";
    if (o.c == 1) cmd.Add("-o");
    if (o.x == 0) cmd.Add("-j");
    cmd.Add(o.UserOptions);
    cmd.AddQuoted("", name);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TZip32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool useResponseFile) {
    TZipDll* dll = ZipDll();
    if (!dll->IsLoaded(TZipDll::zmUnzip32) && !dll->IsLoaded(TZipDll::zmLmzip32))
        throw EArchiver("ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。"_ansi);
    return ExtractionForm("-x", name, o, folder, files, useResponseFile);
}

AnsiString TZip32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                    const TFileList& files, bool useResponseFile) {
    TZipDll* dll = ZipDll();
    if (dll->IsLoaded(TZipDll::zmZip32j)) return CreationFormA("", name, o, folder, files, useResponseFile);
    if (dll->IsLoaded(TZipDll::zmLmzip32)) return CreationFormB(name, o, files, useResponseFile);
    throw EArchiver("ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。"_ansi);
}

AnsiString TZip32::BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                                      bool useResponseFile) {
    return CreationFormA("-d", name, o, {}, files, useResponseFile);
}

AnsiString TZip32::BuildUpdateCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                      const TFileList& files, bool useResponseFile) {
    return CreationFormA("-f", name, o, folder, files, useResponseFile);
}

AnsiString TZip32::BuildSfxCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder) {
    if (!ZipDll()->IsLoaded(TZipDll::zmZip32j)) throw ESfxNoRequiredFile("zip", "", "ZIP32J.DLL");
    const bool win32 = o.gw > 0;
    const AnsiString stubName = win32 ? "sfx32gui.dat" : "sfx16.dat";
    const AnsiString stub = FindStubFile(stubName);
    if (stub.empty()) throw ESfxNoRequiredFile("zip", win32 ? "Win32" : "DOS", stubName);
    const AnsiString target = SfxTargetName(name, ".EXE", folder);
    WriteSfxFile(target, stub, name);
    return "-A " + target;
}

AnsiString TZip32::BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                          const AnsiString& entryName) {
    return ExtractionForm("", name, o, {}, {entryName}, false);
}

namespace {

// Runs a command that writes a new archive over name: the old archive is moved aside first and put
// back unless the command succeeded, so that a failed packing never loses it.
template <typename Run>
int ReplaceArchive(const AnsiString& name, Run run) {
    if (!FileExists(name)) return run();
    AnsiString backup;
    for (int k = 0;; ++k) {
        backup = name + ".nvxold" + (k ? std::to_string(k) : AnsiString());
        if (FileGetAttr(backup) == INVALID_FILE_ATTRIBUTES) break;
    }
    if (!RenameFile(name, backup)) return run();  // cannot move it aside: the module works on it as it is
    auto restore = [&] {
        if (FileGetAttr(name) != INVALID_FILE_ATTRIBUTES) DeleteFile(name);
        RenameFile(backup, name);
    };
    int result;
    try {
        result = run();
    } catch (...) {
        restore();
        throw;
    }
    if (result >= ARC_ERROR_FIRST || !FileExists(name))
        restore();
    else
        DeleteFile(backup);
    return result;
}

}  // namespace

int TZip32::Pack(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                 const AnsiString& folder, const TFileList& files, bool useResponseFile, AnsiString& cmdLine,
                 AnsiString& output) {
    cmdLine = BuildPackCommand(name, options, folder, files, useResponseFile);
    return ReplaceArchive(name, [&] { return RunPackCommand(window, name, cmdLine, output); });
}

int TZip32::MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                    const AnsiString& folder, const TArchiverOptions& options) {
    const int result = TArchiver::MakeSfx(window, name, cmdLine, output, folder, options);
    if (result < ARC_ERROR_FIRST) DeleteFile(name);
    return result;
}

}  // namespace norvex
