// Bindings of the archiver modules: one object per module of the family, which loads the module on
// first need, resolves each entry the first time it is called, keeps what it found, and turns the
// module's entry records into the extended record TArchiveEntryInfo.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "archivers/ArchiverAbi.h"
#include "archivers/ArchiverErrors.h"
#include "platform/AnsiString.h"
#include "platform/ModuleLoader.h"

namespace norvex {

#pragma pack(push, 1)
// The entry record of the module followed by the times and the 64-bit sizes (598 bytes). Times are
// FILETIME values (100 ns since 1601, UTC).
struct TArchiveEntryInfo {
    ArcEntryRecord entry;     //   0
    uint64_t lastWriteTime;   // 558
    uint64_t lastAccessTime;  // 566
    uint64_t creationTime;    // 574
    uint64_t originalSize;    // 582
    uint64_t compressedSize;  // 590
};
#pragma pack(pop)
static_assert(sizeof(TArchiveEntryInfo) == 598, "extended entry record is 598 bytes");
static_assert(offsetof(TArchiveEntryInfo, lastWriteTime) == 558);
static_assert(offsetof(TArchiveEntryInfo, lastAccessTime) == 566);
static_assert(offsetof(TArchiveEntryInfo, creationTime) == 574);
static_assert(offsetof(TArchiveEntryInfo, originalSize) == 582);
static_assert(offsetof(TArchiveEntryInfo, compressedSize) == 590);

// The twenty entries of a binding, in the order of its fields.
enum TArcEntry {
    aeCommand,
    aeOpenArchive,
    aeCloseArchive,
    aeFindFirst,
    aeFindNext,
    aeGetArcOriginalSize,
    aeSetBackGroundMode,
    aeGetBackGroundMode,
    aeExtractMem,
    aeCheckArchive,
    aeSetOwnerWindowEx,
    aeKillOwnerWindowEx,
    aeGetWriteTimeEx,
    aeGetCreateTimeEx,
    aeGetAccessTimeEx,
    aeGetOriginalSizeEx,
    aeGetCompressedSizeEx,
    aeGetArchiveType,
    aeSetEnumMembersProc64,
    aeClearEnumMembersProc64,
    aeEntryCount
};

// The suffix of an entry ("" for the command function, which is the prefix alone).
const char* ArcEntrySuffix(TArcEntry entry);

// While one lives, the listings of its thread fill no times into the extended records (the three
// times keep what the caller put there): a walk that reads names and sizes only, such as the
// top-level count, spares the modules' time entries and the conversion of each DOS stamp.
class TListingWithoutTimes {
public:
    TListingWithoutTimes();
    ~TListingWithoutTimes();
    TListingWithoutTimes(const TListingWithoutTimes&) = delete;
    TListingWithoutTimes& operator=(const TListingWithoutTimes&) = delete;

private:
    bool FWanted;
};

// The four entries that read a listing, as the module's own addresses. A thread of its own may call
// them while the binding stays as it is (a binding itself is for one thread at a time).
struct TListingEntryPoints {
    ARC_OPEN_ARCHIVE OpenArchive = nullptr;
    ARC_FIND_FIRST FindFirst = nullptr;
    ARC_FIND_NEXT FindNext = nullptr;
    ARC_CLOSE_ARCHIVE CloseArchive = nullptr;
    bool Complete() const { return OpenArchive && FindFirst && FindNext && CloseArchive; }
};

// Entry points and the calling wrappers. An empty entry field means "not resolved yet"; this base
// calls what the fields hold, and the derived bindings fill them.
class TCustomArchiverDll {
public:
    TCustomArchiverDll() = default;
    TCustomArchiverDll(const TCustomArchiverDll&) = delete;
    TCustomArchiverDll& operator=(const TCustomArchiverDll&) = delete;
    virtual ~TCustomArchiverDll() = default;

    virtual void Load() = 0;
    // Forgets every resolved entry.
    virtual void Unload();

    // Runs a command line. The archive name is for the bindings that need it, never passed on. A
    // size of 0 passes no buffer; a negative size is refused with std::out_of_range.
    virtual int Command(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine,
                        char* output, int size);
    virtual int PackCommand(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine,
                            char* output, int size);
    // The module's raw BOOL (the ZIP check tells positive answers from negative ones).
    virtual int CheckArchive(const AnsiString& path, int mode);
    virtual int CloseArchive(HARC harc);
    virtual int ExtractMem(NvxWindow* window, const AnsiString& cmdLine, void* buffer, uint32_t size,
                           int64_t* time, uint16_t* attribute, uint32_t* written);
    virtual int FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info);
    virtual int FindNext(HARC harc, TArchiveEntryInfo* info);
    virtual int GetArcOriginalSize(HARC harc);
    virtual bool SetBackGroundMode(bool background);
    virtual bool GetBackGroundMode();
    virtual bool KillOwnerWindowEx(NvxWindow* window);
    virtual HARC OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode);
    virtual bool SetOwnerWindowEx(NvxWindow* window, ARCHIVERPROC callback);
    virtual bool GetWriteTimeEx(HARC harc, uint64_t* fileTime);
    virtual bool GetCreateTimeEx(HARC harc, uint64_t* fileTime);
    virtual bool GetAccessTimeEx(HARC harc, uint64_t* fileTime);
    virtual bool GetOriginalSizeEx(HARC harc, int64_t* size);
    virtual bool GetCompressedSizeEx(HARC harc, int64_t* size);
    virtual int GetArchiveType(const AnsiString& path);
    virtual bool SetEnumMembersProc64(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize);
    virtual bool ClearEnumMembersProc64();
    // The whole name of the entry last found (GetFileNameEx); false when the module cannot tell.
    virtual bool GetFileNameEx(HARC harc, AnsiString& name);
    // The walk of FindFirst(wildName) and FindNext in one call of the module (ListNames), for a host
    // that wants each entry's whole name and 64-bit size only: visit gets them in turn and ends the
    // walk by answering false. Returns what ended the walk (as FindFirst/FindNext would: -1 after the
    // last entry, a failure code, or 0 when visit ended it); nothing when the module has no such
    // entry, and the caller walks with FindFirst/FindNext.
    using TNameVisitor = std::function<bool(std::string_view name, uint64_t size)>;
    std::optional<int> ListNames(HARC harc, const AnsiString& wildName, const TNameVisitor& visit);

    void* Entry(TArcEntry e) const { return FEntries[e]; }
    // Loads and resolves what the binding's own OpenArchive, FindFirst, FindNext and CloseArchive
    // would call, in the same order of modules; raises nothing (a missing entry stays empty).
    virtual TListingEntryPoints ListingEntries();

protected:
    // Calls a required entry; an empty field here means a derived binding let it through unresolved.
    template <typename F>
    F Required(TArcEntry e) const;
    // After a successful find: times and 64-bit sizes from the optional entries, else from the record.
    void FillExtendedRecord(HARC harc, TArchiveEntryInfo* info);
    void FillSizes(HARC harc, TArchiveEntryInfo* info);
    // Calls a GetFileNameEx entry (nullptr: none).
    static bool CallFileNameEx(void* entry, HARC harc, AnsiString& name);
    // The ListNames entry of the module the listing handles come from (nullptr: none).
    virtual void* ListNamesEntry();

    void* FEntries[aeEntryCount] = {};
};

// A binding of one module of the family: the module handle, the description used in messages, the
// DLL name and the entry prefix.
class TArchiverDll : public TCustomArchiverDll {
public:
    // Loads nothing.
    TArchiverDll(AnsiString description, AnsiString dllName, AnsiString prefix);
    ~TArchiverDll() override;

    // Loads the module when it is not loaded; ENoArchiverDLL when it cannot be.
    void Load() override;
    // Forgets every entry, then frees the module.
    void Unload() override;

    int Command(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine, char* output,
                int size) override;
    int CheckArchive(const AnsiString& path, int mode) override;
    int CloseArchive(HARC harc) override;
    int ExtractMem(NvxWindow* window, const AnsiString& cmdLine, void* buffer, uint32_t size, int64_t* time,
                   uint16_t* attribute, uint32_t* written) override;
    int FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) override;
    int FindNext(HARC harc, TArchiveEntryInfo* info) override;
    int GetArcOriginalSize(HARC harc) override;
    bool SetBackGroundMode(bool background) override;
    bool GetBackGroundMode() override;
    bool KillOwnerWindowEx(NvxWindow* window) override;
    HARC OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) override;
    bool SetOwnerWindowEx(NvxWindow* window, ARCHIVERPROC callback) override;
    bool GetWriteTimeEx(HARC harc, uint64_t* fileTime) override;
    bool GetCreateTimeEx(HARC harc, uint64_t* fileTime) override;
    bool GetAccessTimeEx(HARC harc, uint64_t* fileTime) override;
    bool GetOriginalSizeEx(HARC harc, int64_t* size) override;
    bool GetCompressedSizeEx(HARC harc, int64_t* size) override;
    int GetArchiveType(const AnsiString& path) override;
    bool SetEnumMembersProc64(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize) override;
    bool ClearEnumMembersProc64() override;
    bool GetFileNameEx(HARC harc, AnsiString& name) override;
    TListingEntryPoints ListingEntries() override;

    ModuleHandle Handle() const { return FHandle; }
    const AnsiString& Description() const { return FDescription; }
    const AnsiString& DllName() const { return FDllName; }
    const AnsiString& Prefix() const { return FPrefix; }

protected:
    // Resolves an entry into its field once: prefix + suffix. A missing entry raises EEntryNotFound
    // when raise is set, else reports false.
    bool Resolve(TArcEntry e, bool raise);
    // Looks an entry of any name up in the loaded module, raising like Resolve when asked; the result
    // is not kept (for entries outside the twenty fields).
    void* ResolveExtra(const AnsiString& name, bool raise);
    // The one place that asks the module for a name (the tests count the calls).
    virtual void* LookupEntry(ModuleHandle module, const char* name);
    void* ListNamesEntry() override;

private:
    [[noreturn]] void RaiseEntryNotFound(const AnsiString& name);

    ModuleHandle FHandle = nullptr;
    void* FFileNameEx = nullptr;  // looked up once per load
    bool FFileNameExResolved = false;
    void* FListNames = nullptr;  // the same
    bool FListNamesResolved = false;
    AnsiString FDescription;
    AnsiString FDllName;
    AnsiString FPrefix;
};

}  // namespace norvex
