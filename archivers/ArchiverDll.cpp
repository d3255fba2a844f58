// The binding of one archiver module: lazy loading, entries resolved once, extended entry records.
#include "archivers/ArchiverDll.h"

#include <stdexcept>

#include "platform/AnsiCodec.h"
#include "util/Times.h"

namespace norvex {
using namespace norvex::literals;

namespace {

const char* const kSuffixes[aeEntryCount] = {
    "",
    ARC_SUFFIX_OPEN_ARCHIVE,
    ARC_SUFFIX_CLOSE_ARCHIVE,
    ARC_SUFFIX_FIND_FIRST,
    ARC_SUFFIX_FIND_NEXT,
    ARC_SUFFIX_GET_ARC_ORIGINAL_SIZE,
    ARC_SUFFIX_SET_BACKGROUND_MODE,
    ARC_SUFFIX_GET_BACKGROUND_MODE,
    ARC_SUFFIX_EXTRACT_MEM,
    ARC_SUFFIX_CHECK_ARCHIVE,
    ARC_SUFFIX_SET_OWNER_WINDOW_EX,
    ARC_SUFFIX_KILL_OWNER_WINDOW_EX,
    ARC_SUFFIX_GET_WRITE_TIME_EX,
    ARC_SUFFIX_GET_CREATE_TIME_EX,
    ARC_SUFFIX_GET_ACCESS_TIME_EX,
    ARC_SUFFIX_GET_ORIGINAL_SIZE_EX,
    ARC_SUFFIX_GET_COMPRESSED_SIZE_EX,
    ARC_SUFFIX_GET_ARCHIVE_TYPE,
    ARC_SUFFIX_SET_ENUM_MEMBERS_PROC64,
    ARC_SUFFIX_CLEAR_ENUM_MEMBERS_PROC64,
};

// The DOS stamp of an entry as a file time, converted once for the three times of a record that
// fall back on it.
struct TDosStampTime {
    const ArcEntryRecord& entry;
    bool converted = false;
    bool valid = false;
    uint64_t time = 0;

    // Fills one time of the extended record: the module's answer, else the DOS stamp of the entry.
    void Fill(bool gotIt, uint64_t fromModule, uint64_t& field) {
        if (gotIt) {
            field = fromModule;
            return;
        }
        if (!converted) {
            valid = DosStampToFileTime(entry.dosDate, entry.dosTime, time);
            converted = true;
        }
        if (valid) field = time;  // a failed conversion keeps the field
    }
};

// False on a thread while a TListingWithoutTimes lives there.
thread_local bool t_timesWanted = true;

}  // namespace

TListingWithoutTimes::TListingWithoutTimes() : FWanted(t_timesWanted) { t_timesWanted = false; }
TListingWithoutTimes::~TListingWithoutTimes() { t_timesWanted = FWanted; }

const char* ArcEntrySuffix(TArcEntry entry) { return kSuffixes[entry]; }

// ---- TCustomArchiverDll ----------------------------------------------------------------------

template <typename F>
F TCustomArchiverDll::Required(TArcEntry e) const {
    if (!FEntries[e]) throw EEntryNotFound(FormatMessage2("%0:s のエントリが DLL に見つかりませんでした。"_ansi,
                                                          AnsiString(kSuffixes[e])));
    return reinterpret_cast<F>(FEntries[e]);
}

void TCustomArchiverDll::Unload() {
    for (void*& e : FEntries) e = nullptr;
}

int TCustomArchiverDll::Command(NvxWindow* window, const AnsiString&, const AnsiString& cmdLine, char* output,
                                int size) {
    if (size < 0) throw std::out_of_range("negative output buffer size");
    auto f = Required<ARC_COMMAND>(aeCommand);
    return f(window, cmdLine.c_str(), size == 0 ? nullptr : output, static_cast<uint32_t>(size));
}

int TCustomArchiverDll::PackCommand(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine,
                                    char* output, int size) {
    return Command(window, archiveName, cmdLine, output, size);
}

int TCustomArchiverDll::CheckArchive(const AnsiString& path, int mode) {
    return Required<ARC_CHECK_ARCHIVE>(aeCheckArchive)(path.c_str(), mode);
}

int TCustomArchiverDll::CloseArchive(HARC harc) { return Required<ARC_CLOSE_ARCHIVE>(aeCloseArchive)(harc); }

int TCustomArchiverDll::ExtractMem(NvxWindow* window, const AnsiString& cmdLine, void* buffer, uint32_t size,
                                   int64_t* time, uint16_t* attribute, uint32_t* written) {
    return Required<ARC_EXTRACT_MEM>(aeExtractMem)(window, cmdLine.c_str(), buffer, size, time, attribute, written);
}

int TCustomArchiverDll::FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) {
    const int r = Required<ARC_FIND_FIRST>(aeFindFirst)(harc, wildName.c_str(), &info->entry);
    if (r == 0) FillExtendedRecord(harc, info);
    return r;
}

int TCustomArchiverDll::FindNext(HARC harc, TArchiveEntryInfo* info) {
    const int r = Required<ARC_FIND_NEXT>(aeFindNext)(harc, &info->entry);
    if (r == 0) FillExtendedRecord(harc, info);
    return r;
}

void TCustomArchiverDll::FillExtendedRecord(HARC harc, TArchiveEntryInfo* info) {
    if (!t_timesWanted) {
        FillSizes(harc, info);
        return;
    }
    TDosStampTime stamp{info->entry};
    uint64_t ft = 0;
    uint64_t field = info->lastWriteTime;
    const bool w = GetWriteTimeEx(harc, &ft);
    stamp.Fill(w, ft, field);
    info->lastWriteTime = field;

    ft = 0;
    field = info->lastAccessTime;
    const bool a = GetAccessTimeEx(harc, &ft);
    stamp.Fill(a, ft, field);
    info->lastAccessTime = field;

    ft = 0;
    field = info->creationTime;
    const bool c = GetCreateTimeEx(harc, &ft);
    stamp.Fill(c, ft, field);
    info->creationTime = field;
    FillSizes(harc, info);
}

void TCustomArchiverDll::FillSizes(HARC harc, TArchiveEntryInfo* info) {
    int64_t size = 0;
    info->originalSize = GetOriginalSizeEx(harc, &size) ? static_cast<uint64_t>(size) : info->entry.originalSize;
    size = 0;
    info->compressedSize =
        GetCompressedSizeEx(harc, &size) ? static_cast<uint64_t>(size) : info->entry.compressedSize;
}

bool TCustomArchiverDll::GetFileNameEx(HARC, AnsiString&) { return false; }

void* TCustomArchiverDll::ListNamesEntry() { return nullptr; }

namespace {

int32_t VisitName(void* context, const char* name, uint32_t length, int64_t size) {
    const auto& visit = *static_cast<const TCustomArchiverDll::TNameVisitor*>(context);
    try {
        return visit(std::string_view(name, length), size < 0 ? 0 : static_cast<uint64_t>(size)) ? 0 : 1;
    } catch (...) {
        return 1;  // nothing may unwind through the module
    }
}

}  // namespace

std::optional<int> TCustomArchiverDll::ListNames(HARC harc, const AnsiString& wildName, const TNameVisitor& visit) {
    auto f = reinterpret_cast<ARC_LIST_NAMES>(ListNamesEntry());
    if (!f) return std::nullopt;
    return f(harc, wildName.c_str(), &VisitName, const_cast<TNameVisitor*>(&visit));
}

TListingEntryPoints TCustomArchiverDll::ListingEntries() {
    TListingEntryPoints p;
    p.OpenArchive = reinterpret_cast<ARC_OPEN_ARCHIVE>(FEntries[aeOpenArchive]);
    p.FindFirst = reinterpret_cast<ARC_FIND_FIRST>(FEntries[aeFindFirst]);
    p.FindNext = reinterpret_cast<ARC_FIND_NEXT>(FEntries[aeFindNext]);
    p.CloseArchive = reinterpret_cast<ARC_CLOSE_ARCHIVE>(FEntries[aeCloseArchive]);
    return p;
}

bool TCustomArchiverDll::CallFileNameEx(void* entry, HARC harc, AnsiString& name) {
    auto f = reinterpret_cast<ARC_GET_FILE_NAME_EX>(entry);
    if (!f) return false;
    // One buffer per thread for every entry of a listing; a longer name grows it.
    thread_local std::string buffer;
    if (buffer.size() < 1024) buffer.assign(1024, '\0');
    int32_t length = f(harc, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (length >= static_cast<int32_t>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
        length = f(harc, buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    if (length < 0 || length >= static_cast<int32_t>(buffer.size())) return false;
    name.assign(buffer.data(), static_cast<std::size_t>(length));
    return true;
}

int TCustomArchiverDll::GetArcOriginalSize(HARC harc) {
    return Required<ARC_GET_ARC_ORIGINAL_SIZE>(aeGetArcOriginalSize)(harc);
}

bool TCustomArchiverDll::SetBackGroundMode(bool background) {
    return Required<ARC_SET_BACKGROUND_MODE>(aeSetBackGroundMode)(background ? 1 : 0) != 0;
}

bool TCustomArchiverDll::GetBackGroundMode() {
    return Required<ARC_GET_BACKGROUND_MODE>(aeGetBackGroundMode)() != 0;
}

bool TCustomArchiverDll::KillOwnerWindowEx(NvxWindow* window) {
    auto f = reinterpret_cast<ARC_KILL_OWNER_WINDOW_EX>(FEntries[aeKillOwnerWindowEx]);
    return f && f(window) != 0;
}

HARC TCustomArchiverDll::OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) {
    return Required<ARC_OPEN_ARCHIVE>(aeOpenArchive)(window, path.c_str(), mode);
}

bool TCustomArchiverDll::SetOwnerWindowEx(NvxWindow* window, ARCHIVERPROC callback) {
    auto f = reinterpret_cast<ARC_SET_OWNER_WINDOW_EX>(FEntries[aeSetOwnerWindowEx]);
    return f && f(window, callback) != 0;
}

bool TCustomArchiverDll::GetWriteTimeEx(HARC harc, uint64_t* fileTime) {
    auto f = reinterpret_cast<ARC_GET_TIME_EX>(FEntries[aeGetWriteTimeEx]);
    return f && f(harc, fileTime) != 0;
}

bool TCustomArchiverDll::GetCreateTimeEx(HARC harc, uint64_t* fileTime) {
    auto f = reinterpret_cast<ARC_GET_TIME_EX>(FEntries[aeGetCreateTimeEx]);
    return f && f(harc, fileTime) != 0;
}

bool TCustomArchiverDll::GetAccessTimeEx(HARC harc, uint64_t* fileTime) {
    auto f = reinterpret_cast<ARC_GET_TIME_EX>(FEntries[aeGetAccessTimeEx]);
    return f && f(harc, fileTime) != 0;
}

bool TCustomArchiverDll::GetOriginalSizeEx(HARC harc, int64_t* size) {
    auto f = reinterpret_cast<ARC_GET_SIZE_EX>(FEntries[aeGetOriginalSizeEx]);
    return f && f(harc, size) != 0;
}

bool TCustomArchiverDll::GetCompressedSizeEx(HARC harc, int64_t* size) {
    auto f = reinterpret_cast<ARC_GET_SIZE_EX>(FEntries[aeGetCompressedSizeEx]);
    return f && f(harc, size) != 0;
}

int TCustomArchiverDll::GetArchiveType(const AnsiString& path) {
    return Required<ARC_GET_ARCHIVE_TYPE>(aeGetArchiveType)(path.c_str());
}

bool TCustomArchiverDll::SetEnumMembersProc64(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize) {
    auto f = reinterpret_cast<ARC_SET_ENUM_MEMBERS_PROC64>(FEntries[aeSetEnumMembersProc64]);
    return f && f(proc, structSize) != 0;
}

bool TCustomArchiverDll::ClearEnumMembersProc64() {
    auto f = reinterpret_cast<ARC_CLEAR_ENUM_MEMBERS_PROC64>(FEntries[aeClearEnumMembersProc64]);
    return f && f() != 0;
}

// ---- TArchiverDll ----------------------------------------------------------------------------

TArchiverDll::TArchiverDll(AnsiString description, AnsiString dllName, AnsiString prefix)
    : FDescription(std::move(description)), FDllName(std::move(dllName)), FPrefix(std::move(prefix)) {}

TArchiverDll::~TArchiverDll() { TArchiverDll::Unload(); }

void TArchiverDll::Load() {
    if (!FHandle) FHandle = LoadModule(FDllName);
    if (!FHandle)
        throw ENoArchiverDLL(FormatMessage2("%0:s を扱うには %1:s が 必要です。"_ansi, FDescription, FDllName));
}

void TArchiverDll::Unload() {
    TCustomArchiverDll::Unload();
    if (FHandle) FreeModule(FHandle);
    FHandle = nullptr;
    FFileNameEx = nullptr;
    FFileNameExResolved = false;
    FListNames = nullptr;
    FListNamesResolved = false;
}

void* TArchiverDll::LookupEntry(ModuleHandle module, const char* name) { return ModuleSymbol(module, name); }

void TArchiverDll::RaiseEntryNotFound(const AnsiString& name) {
    AnsiString path = ModulePath(FHandle);
    if (path.size() > 256) path.resize(256);
    throw EEntryNotFound(FormatMessage2("%0:s に %1:s のエントリが見つかりません。"_ansi, path, name));
}

bool TArchiverDll::Resolve(TArcEntry e, bool raise) {
    if (FEntries[e]) return true;
    const AnsiString name = FPrefix + kSuffixes[e];
    FEntries[e] = FHandle ? LookupEntry(FHandle, name.c_str()) : nullptr;
    if (FEntries[e]) return true;
    if (raise) RaiseEntryNotFound(name);
    return false;
}

void* TArchiverDll::ResolveExtra(const AnsiString& name, bool raise) {
    void* p = FHandle ? LookupEntry(FHandle, name.c_str()) : nullptr;
    if (!p && raise) RaiseEntryNotFound(name);
    return p;
}

int TArchiverDll::Command(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine,
                          char* output, int size) {
    Load();
    Resolve(aeCommand, true);
    return TCustomArchiverDll::Command(window, archiveName, cmdLine, output, size);
}

int TArchiverDll::CheckArchive(const AnsiString& path, int mode) {
    Load();
    Resolve(aeCheckArchive, true);
    return TCustomArchiverDll::CheckArchive(path, mode);
}

int TArchiverDll::CloseArchive(HARC harc) {
    Load();
    Resolve(aeCloseArchive, true);
    return TCustomArchiverDll::CloseArchive(harc);
}

int TArchiverDll::ExtractMem(NvxWindow* window, const AnsiString& cmdLine, void* buffer, uint32_t size,
                             int64_t* time, uint16_t* attribute, uint32_t* written) {
    Resolve(aeExtractMem, true);
    return TCustomArchiverDll::ExtractMem(window, cmdLine, buffer, size, time, attribute, written);
}

int TArchiverDll::FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) {
    Load();
    Resolve(aeFindFirst, true);
    return TCustomArchiverDll::FindFirst(harc, wildName, info);
}

int TArchiverDll::FindNext(HARC harc, TArchiveEntryInfo* info) {
    Resolve(aeFindNext, true);
    return TCustomArchiverDll::FindNext(harc, info);
}

int TArchiverDll::GetArcOriginalSize(HARC harc) {
    Resolve(aeGetArcOriginalSize, true);
    return TCustomArchiverDll::GetArcOriginalSize(harc);
}

bool TArchiverDll::SetBackGroundMode(bool background) {
    Resolve(aeSetBackGroundMode, true);
    return TCustomArchiverDll::SetBackGroundMode(background);
}

bool TArchiverDll::GetBackGroundMode() {
    Resolve(aeGetBackGroundMode, true);
    return TCustomArchiverDll::GetBackGroundMode();
}

bool TArchiverDll::KillOwnerWindowEx(NvxWindow* window) {
    Resolve(aeKillOwnerWindowEx, false);
    return TCustomArchiverDll::KillOwnerWindowEx(window);
}

HARC TArchiverDll::OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) {
    Load();
    Resolve(aeOpenArchive, true);
    return TCustomArchiverDll::OpenArchive(window, path, mode);
}

bool TArchiverDll::SetOwnerWindowEx(NvxWindow* window, ARCHIVERPROC callback) {
    Resolve(aeSetOwnerWindowEx, false);
    return TCustomArchiverDll::SetOwnerWindowEx(window, callback);
}

bool TArchiverDll::GetWriteTimeEx(HARC harc, uint64_t* fileTime) {
    Resolve(aeGetWriteTimeEx, false);
    return TCustomArchiverDll::GetWriteTimeEx(harc, fileTime);
}

bool TArchiverDll::GetCreateTimeEx(HARC harc, uint64_t* fileTime) {
    Resolve(aeGetCreateTimeEx, false);
    return TCustomArchiverDll::GetCreateTimeEx(harc, fileTime);
}

bool TArchiverDll::GetAccessTimeEx(HARC harc, uint64_t* fileTime) {
    Resolve(aeGetAccessTimeEx, false);
    return TCustomArchiverDll::GetAccessTimeEx(harc, fileTime);
}

bool TArchiverDll::GetFileNameEx(HARC harc, AnsiString& name) {
    if (!FFileNameExResolved) {
        FFileNameEx = ResolveExtra(FPrefix + "GetFileNameEx", false);
        FFileNameExResolved = FHandle != nullptr;
    }
    return CallFileNameEx(FFileNameEx, harc, name);
}

void* TArchiverDll::ListNamesEntry() {
    if (!FListNamesResolved) {
        FListNames = ResolveExtra(FPrefix + "ListNames", false);
        FListNamesResolved = FHandle != nullptr;
    }
    return FListNames;
}

TListingEntryPoints TArchiverDll::ListingEntries() {
    try {
        Load();
    } catch (...) {
        return {};
    }
    for (TArcEntry e : {aeOpenArchive, aeFindFirst, aeFindNext, aeCloseArchive}) Resolve(e, false);
    return TCustomArchiverDll::ListingEntries();
}

bool TArchiverDll::GetOriginalSizeEx(HARC harc, int64_t* size) {
    Resolve(aeGetOriginalSizeEx, false);
    return TCustomArchiverDll::GetOriginalSizeEx(harc, size);
}

bool TArchiverDll::GetCompressedSizeEx(HARC harc, int64_t* size) {
    Resolve(aeGetCompressedSizeEx, false);
    return TCustomArchiverDll::GetCompressedSizeEx(harc, size);
}

int TArchiverDll::GetArchiveType(const AnsiString& path) {
    Load();
    Resolve(aeGetArchiveType, true);
    return TCustomArchiverDll::GetArchiveType(path);
}

bool TArchiverDll::SetEnumMembersProc64(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize) {
    Load();
    Resolve(aeSetEnumMembersProc64, false);
    return TCustomArchiverDll::SetEnumMembersProc64(proc, structSize);
}

bool TArchiverDll::ClearEnumMembersProc64() {
    Load();
    Resolve(aeClearEnumMembersProc64, false);
    return TCustomArchiverDll::ClearEnumMembersProc64();
}

}  // namespace norvex
