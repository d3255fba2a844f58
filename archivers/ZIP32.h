// The ZIP driver over up to three modules: UNZIP32.DLL (listing and extraction), ZIP32J.DLL
// (creation) and LMZIP32.DLL (either job).
#pragma once
#include <cstdint>
#include <initializer_list>

#include "archivers/Archives.h"

namespace norvex {

// One binding over the three ZIP modules; each entry is looked up in a fixed order of modules and
// kept until the set of loaded modules changes. LMZIP32 spells the entries with a lower-case third
// letter ("UnzipOpenArchive").
class TZipDll : public TCustomArchiverDll {
public:
    enum TZipModule { zmUnzip32, zmZip32j, zmLmzip32, zmCount };

    TZipDll() = default;
    ~TZipDll() override;

    // Loads each module that is not loaded yet; a missing one stays absent without an error. A module
    // that was missing is looked for again only once the module folder has changed.
    void Load() override;
    void Unload() override;
    bool IsLoaded(TZipModule m) const { return FModules[m] != nullptr; }

    int Command(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine, char* output,
                int size) override;
    int PackCommand(NvxWindow* window, const AnsiString& archiveName, const AnsiString& cmdLine, char* output,
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
    bool GetFileNameEx(HARC harc, AnsiString& name) override;
    TListingEntryPoints ListingEntries() override;

    static const char* ModuleName(TZipModule m);

protected:
    // The one place that asks a module for a name (the tests count the calls).
    virtual void* LookupEntry(ModuleHandle module, const char* name);
    void* ListNamesEntry() override;

private:
    // Looks name up in the modules in order, skipping absent ones; stores the result in the field.
    void* Find(TArcEntry field, const char* name, std::initializer_list<TZipModule> order, bool raise);
    // The same for a name outside the twenty fields (the commands, the long file name): its result
    // is kept in slot, and lookedUp tells that it was looked up.
    void* Find(void** slot, bool* lookedUp, const char* name, std::initializer_list<TZipModule> order, bool raise);
    // Forgets every name looked up (a module came or went).
    void ForgetLookups();

    // What tells that the module folder changed: its identity and its change time.
    struct TFolderStamp {
        bool known = false;
        uint64_t device = 0, inode = 0;
        int64_t seconds = 0, nanoseconds = 0;
        bool operator==(const TFolderStamp&) const = default;
    };
    static TFolderStamp StampOfModuleFolder();
    // The folder's state for this call: read once per glance at the folder (ModuleFolderGlance),
    // on every call when no glance lives.
    TFolderStamp FolderStampNow();

    ModuleHandle FModules[zmCount] = {};
    // The state of the module folder when each missing module was last looked for.
    TFolderStamp FMissingIn[zmCount] = {};
    // The state last read, and the glance it was read in (0: none, read again).
    TFolderStamp FStamp;
    uint64_t FStampGlance = 0;
    bool FLookedUp[aeEntryCount] = {};
    void* FUnZipCommand = nullptr;
    void* FZipCommand = nullptr;
    void* FFileNameEx = nullptr;
    void* FListNames = nullptr;
    bool FListNamesLookedUp = false;
    bool FUnZipCommandLookedUp = false;
    bool FZipCommandLookedUp = false;
    bool FFileNameExLookedUp = false;
};

class TZip32 : public TArchiver {
public:
    static void LoadDLL();
    static void FreeDLL();
    static bool CheckFile(const AnsiString& name);
    // The file-name rewriting of the UNZIP32 and ZIP32J switch languages: a leading "-" becomes "[-]",
    // each "\" becomes "/" and each "[" becomes "[[]".
    static AnsiString ConvertZipName(const AnsiString& name);

    TCustomArchiverDll* Dll() override;
    TZipDll* ZipDll();
    void EnsureDLL() override { LoadDLL(); }

    // Packing replaces an existing archive only when the module succeeded; on failure the old archive
    // is put back.
    int Pack(NvxWindow* window, const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
             const TFileList& files, bool useResponseFile, AnsiString& cmdLine, AnsiString& output) override;
    // The archive, copied into the .EXE, is removed only after the module finished the .EXE.
    int MakeSfx(NvxWindow* window, const AnsiString& name, AnsiString& cmdLine, AnsiString& output,
                const AnsiString& folder, const TArchiverOptions& options) override;

    AnsiString BuildExtractCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                   const TFileList& files, bool useResponseFile) override;
    AnsiString BuildPackCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                const TFileList& files, bool useResponseFile) override;
    AnsiString BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& options, const TFileList& files,
                                  bool useResponseFile) override;
    AnsiString BuildUpdateCommand(const AnsiString& name, const TArchiverOptions& options, const AnsiString& folder,
                                  const TFileList& files, bool useResponseFile) override;
    AnsiString BuildSfxCommand(const AnsiString& name, const TArchiverOptions& options,
                               const AnsiString& folder) override;
    AnsiString BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& options,
                                      const AnsiString& entryName) override;

private:
    AnsiString ExtractionForm(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                              const AnsiString& folder, const TFileList& files, bool useResponseFile);
    AnsiString CreationFormA(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                             const AnsiString& folder, const TFileList& files, bool useResponseFile);
    AnsiString CreationFormB(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                             bool useResponseFile);
};

}  // namespace norvex
