// The archive object TArchiveFile, through which the rest of Norvex touches an archive (format
// detection, listing, checking, extraction, packing, progress), and TArchiver, the base of the format
// drivers that turn the options into module command lines.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "archivers/ArchiverAbi.h"
#include "archivers/ArchiverDll.h"
#include "archivers/ArchiverOptions.h"
#include "platform/AnsiString.h"

namespace norvex {

enum TArchiverType : uint8_t {
    atLha,
    atZip,
    atCab,
    atArj,
    atTar,
    atTgz,
    atBZ2,
    atRar,
    atBga,
    atYz1,
    atGCA,
    atBel,
    at7z,
    atNone,
    atAutoDetect
};

// The member record of the member callback (the progress record with 64-bit sizes).
using TEnumMemberInfo64 = ArcProgressRecord;
static_assert(sizeof(TEnumMemberInfo64) == ARC_ENUM_MEMBER_RECORD_SIZE);

class TArchiveFile;
using TArchiverProgressEvent =
    std::function<void(TArchiveFile* sender, int state, const EXTRACTINGINFOEX* lpEis, bool& abort)>;
using TArchiverEnumMemberEvent = std::function<void(TArchiveFile* sender, TEnumMemberInfo64& info, bool& abort)>;

// The base of the format drivers. A driver owns nothing per instance: its module binding is shared by
// every driver of its format for the whole process (created by the first LoadDLL). Constructing a
// driver loads nothing; CreateArchiver constructs and loads.
class TArchiver {
public:
    TArchiver() = default;
    TArchiver(const TArchiver&) = delete;
    TArchiver& operator=(const TArchiver&) = delete;
    virtual ~TArchiver() = default;

    // The class-level operations of the base raise "Abstract method ..."; every driver hides them with
    // its own static LoadDLL and FreeDLL.
    static void LoadDLL();
    static void FreeDLL();

    // The driver's shared binding (loaded again if it was freed meanwhile).
    virtual TCustomArchiverDll* Dll() = 0;

    virtual HARC OpenArchive(NvxWindow* window, const AnsiString& name, uint32_t mode);
    virtual int FindFirst(HARC harc, TArchiveEntryInfo* info, const AnsiString& wildName);
    virtual int FindNext(HARC harc, TArchiveEntryInfo* info);
    virtual int CloseArchive(HARC harc);
    virtual int GetArcOriginalSize(HARC harc);
    virtual bool SetBackGroundMode(bool background);
    virtual bool GetBackGroundMode();
    // A driver may filter members; the base does nothing.
    virtual void EnumMember(TEnumMemberInfo64& info, const TArchiverOptions& options, bool& abort);

    // Extraction: builds the command, appends extra unchanged, runs it with the binding's Command.
    virtual int Extract(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                        const AnsiString& destination, const AnsiString& extra, const TFileList& files,
                        bool useResponseFile, AnsiString& cmdLine, AnsiString& output);
    virtual int Pack(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                     const AnsiString& folder, const TFileList& files, bool useResponseFile, AnsiString& cmdLine,
                     AnsiString& output);
    virtual int Delete(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                       const TFileList& files, bool useResponseFile, AnsiString& cmdLine, AnsiString& output);
    virtual int Update(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                       const AnsiString& folder, const TFileList& files, bool useResponseFile, AnsiString& cmdLine,
                       AnsiString& output);
    virtual int MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                        const AnsiString& folder, const TArchiverOptions& options);
    virtual int ExtractToMemory(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options,
                                const AnsiString& entryName, void* buffer, uint32_t size, int64_t* time,
                                uint16_t* attribute, uint32_t* written, AnsiString& cmdLine);
    // The binding's CheckArchive with mode + flags (std::overflow_error when the sum overflows).
    virtual bool CheckArchive(const AnsiString& name, int mode, int flags);

    // The command builders. Extraction is abstract; the others raise the unsupported-operation
    // messages unless a driver supports them.
    virtual AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                           const AnsiString& folder, const TFileList& files,
                                           bool useResponseFile) = 0;
    virtual AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options,
                                        const AnsiString& folder, const TFileList& files, bool useResponseFile);
    virtual AnsiString BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& options,
                                          const TFileList& files, bool useResponseFile);
    virtual AnsiString BuildUpdateCommand(const AnsiString& name, const TArchiverOptions& options,
                                          const AnsiString& folder, const TFileList& files, bool useResponseFile);
    virtual AnsiString BuildSfxCommand(const AnsiString& name, const TArchiverOptions& options,
                                       const AnsiString& folder);
    virtual AnsiString BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                              const AnsiString& entryName);

    virtual bool SetOwnerWindow(NvxWindow* window, ARCHIVERPROC callback);
    virtual bool KillOwnerWindow(NvxWindow* window);
    virtual bool SetEnumMembersProc(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize);
    virtual bool ClearEnumMembersProc();
    // Makes sure the format's module is loaded (the class's LoadDLL).
    virtual void EnsureDLL() = 0;

    bool IsOwnerWindowSet() const { return FOwnerWindow != nullptr; }

    // Items every driver shares: the archive in quotes, then the folder.
    static void AddArchiveAndFolder(TCmdOpt& cmd, const AnsiString& archive, const AnsiString& folder);
    // The files (through the response file when asked and ResFileName is given), then UserFileList.
    static int AddFileList(TCmdOpt& cmd, const TArchiverOptions& options, bool useResponseFile,
                           const TFileList& files);

protected:
    // Runs a command line through the binding's Command / PackCommand with the output buffer.
    int RunCommand(NvxWindow* window, const AnsiString& name, const AnsiString& cmdLine, AnsiString& output);
    int RunPackCommand(NvxWindow* window, const AnsiString& name, const AnsiString& cmdLine, AnsiString& output);

private:
    NvxWindow* FOwnerWindow = nullptr;
};

// Creates the driver of a type and loads its module; nullptr for a type without a driver.
// ENoArchiverDLL (and the like) propagate.
std::unique_ptr<TArchiver> CreateArchiver(TArchiverType type);
// Loads the module of a type (as CreateArchiver does) and resolves its listing entries; empty
// entries when the type has no driver, its module cannot be loaded or an entry is missing.
TListingEntryPoints ResolveListingEntries(TArchiverType type);
// The type a file name gives by its extension; ".exe" answers atAutoDetect (ask the contents).
TArchiverType ArchiverTypeFromExtension(const AnsiString& fileName);
// Asks each format's own check, the later accepting check winning: TAR family, RAR, ARJ, ZIP, BGA,
// YZ1, CAB, LHA. atNone when none accepts.
TArchiverType DetectArchiverTypeByContent(const AnsiString& fileName);
// Frees every driver's shared binding (the engine at the end, and the tests between module folders).
void FreeArchiverDlls();

// The engine's hook for the progress window while it tests an archive: when set and it answers 0 or
// more, the message is taken as handled with that answer and no handler runs; -1 lets the message
// through to the handlers.
using TProgressTestingHook = std::function<int(const EXTRACTINGINFOEX* lpEis)>;
void SetProgressTestingHook(TProgressTestingHook hook);

class TArchiveFile {
public:
    TArchiveFile();
    ~TArchiveFile();
    TArchiveFile(const TArchiveFile&) = delete;
    TArchiveFile& operator=(const TArchiveFile&) = delete;

    // Setting the name sets the type from its extension first (exceptions leave the name unchanged).
    const AnsiString& FileName() const { return FFileName; }
    void SetFileName(const AnsiString& name);
    TArchiverType ArchiverType() const { return FArchiverType; }
    void SetArchiverType(TArchiverType type);
    TArchiverOptions& Options() { return FOptions; }
    TArchiver* Driver() const { return FDriver.get(); }

    // 0 when a handle was obtained (kept in the object), 1 when the module gave none.
    int OpenArchive(NvxWindow* window, uint32_t mode);
    int FindFirst(const AnsiString& wildName, TArchiveEntryInfo* info);
    int FindNext(TArchiveEntryInfo* info);
    // The whole name of the entry the last FindFirst/FindNext filled in: the record's name field is
    // cut to 513 bytes, this is not (when the module can tell, else the record's name).
    const AnsiString& EntryName() const { return FEntryName; }
    // The whole walk in one call of the module, names and sizes only (TCustomArchiverDll::ListNames):
    // what ended it, or nothing when the module cannot (then FindFirst/FindNext walk it).
    std::optional<int> ListNames(const AnsiString& wildName, const TCustomArchiverDll::TNameVisitor& visit);
    // The same walk with FindFirst/FindNext when the module cannot list in one call: what ended it
    // (ARC_FIND_END after the last entry, 0 when visit ended it, else the module's failure).
    int WalkNames(const AnsiString& wildName, const TCustomArchiverDll::TNameVisitor& visit);
    int CloseArchive();
    int GetArcOriginalSize();
    bool SetBackGroundMode(bool background);
    bool GetBackGroundMode();
    bool CheckArchive(int mode, int flags);
    // options may be null: the object's own Options. An empty files list means every entry.
    int Extract(NvxWindow* window, const TArchiverOptions* options, const AnsiString& destination,
                const AnsiString& extra, const TFileList& files);
    // The module's result, or ARC_ERROR_USER_CANCEL when the collection of the files was cancelled.
    int PackFiles(NvxWindow* window, const TArchiverOptions* options, const AnsiString& baseFolder,
                  const TFileList& files);

    int OutputSize() const { return static_cast<int>(FOutput.size()); }
    void SetOutputSize(int n);
    // The module's text output of the last command (up to the first NUL), and the last command line.
    AnsiString Output() const;
    const AnsiString& LastCommandLine() const { return FCommandLine; }

    TArchiverProgressEvent OnProgress;
    TArchiverEnumMemberEvent OnEnumMember;

    // The progress window of this object (created on first need; null before).
    NvxWindow* ProgressWindow() const;

private:
    struct TProgressWindow;
    struct Bracket;

    void RequireDriver();
    void DetectIfNeeded();
    int TakeEntryName(int found, const TArchiveEntryInfo* info);
    void BeginOperation(const TArchiverOptions& options, NvxWindow* callerWindow, Bracket& b);
    void EndOperation(Bracket& b);
    int DispatchArcExtract(uint32_t state, const ArcProgressRecord* record);
    int32_t Ask(int32_t kind, const char* caption, const char* text, char* answer, uint32_t answerSize);
    void MergeStreams(const AnsiString& destination, const TArchiverOptions& options);
    static ARC_BOOL EnumMembersCallback(void* member);
    int PackCollected(NvxWindow* window, const TArchiverOptions& options, const AnsiString& baseFolder,
                      const TFileList& files);

    TArchiverType FArchiverType = atAutoDetect;
    std::unique_ptr<TArchiver> FDriver;
    TArchiverOptions FOptions;
    AnsiString FFileName = AnsiString(1, '\0');
    AnsiString FCommandLine;
    AnsiString FOutput;
    std::unique_ptr<TProgressWindow> FProgressWindow;
    TArchiverProgressEvent FInternalProgress;
    const TArchiverOptions* FExtractOptions = nullptr;
    const TArchiverOptions* FOpOptions = nullptr;        // the options of the running operation
    std::unique_ptr<std::vector<AnsiString>> FStreams;  // sorted, no duplicates
    NvxWindow* FCallerWindow = nullptr;                  // the window of the running operation
    HARC FHandle = nullptr;
    AnsiString FEntryName;
};

// Closes the listing an archive object opened (OpenArchive) on every way out of a scope; a fault
// while closing is dropped, since the listing's own result is already known.
struct TListingCloser {
    TArchiveFile& arc;
    ~TListingCloser();
};

}  // namespace norvex
