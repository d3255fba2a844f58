// TUnPack: the unpack job. It owns the archiver DLL table (which module serves which archive type,
// and the load check behind the DLL check block), and the job operations on the current archive that
// run on the main thread: the top-level element count with its path safety checks, the danger-word
// test and the deletion of the residue of a failed extraction. The per-run and per-archive job state
// lives in the SettingsBlock.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/RunClaims.h"
#include "platform/AnsiString.h"
#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"

namespace norvex {

class TArchiveFile;

// One row of the archiver DLL table.
struct TArchiverDllEntry {
    AnsiString TypeName;  // "LHA", "ZIP", ...
    AnsiString DllName;   // "UNLHA32.DLL"; empty for the ARJ slot
    AnsiString Prefix;    // name of the command function, "Unlha"
    bool Ready = false;
    ModuleHandle Handle = nullptr;
    void* Command = nullptr;
};

class TUnPack {
public:
    TUnPack(SettingsBlock& settings, TEngineHost& host);
    ~TUnPack();
    TUnPack(const TUnPack&) = delete;
    TUnPack& operator=(const TUnPack&) = delete;

    // Loads the module of a type ("LHA", "ZIP", "CAB", "RAR", "TAR", "GCA", "ARJ", "7Z"; case-sensitive)
    // and reports whether it exports its command function. Unknown names and "ARJ" answer false.
    bool LoadArchiverDll(const AnsiString& typeName);
    // Releases every module the table holds (each once; calling it again is harmless).
    void UnloadArchiverDlls();
    const std::array<TArchiverDllEntry, kDllCount>& DllTable() const { return FTable; }

    // Opens the archive, walks its entries with the path safety checks and counts the top-level
    // elements. A "No" to a path question sets SkipArchive and ends the walk. Sets TotalSize. Throws
    // when the archive cannot be opened or listed at all (the caller logs the count-failed line).
    int CountTopLevelElements(const AnsiString& archivePath);
    // The name of the single top-level element after a count of 1 (empty when none was recorded,
    // or when the name is not a plain name that may be joined to the destination).
    const AnsiString& SingleElementName() const { return FSingleName; }
    // True when the last count of archivePath read every header to the end of the archive without a
    // fault: a test of its headers could only pass.
    bool ListedWhole(const AnsiString& archivePath) const { return FListedWhole && FListedPath == archivePath; }
    // True when the last count of archivePath ran with the file-extraction filter and the filter
    // leaves out some of the archive's data (or the listings could not tell): the extraction then
    // does not hold all of the archive.
    bool FilterLeavesOut(const AnsiString& archivePath) const { return FFilterLeavesOut && FListedPath == archivePath; }
    // True when the last count of archivePath ran with folders ignored and two of its files land
    // under one name: the later overwrote the earlier, and the extraction does not hold all of it.
    bool FlattenedNamesCollide(const AnsiString& archivePath) const {
        return FFlattenedCollide && FListedPath == archivePath;
    }

    // "DANGER" when the directory part of an entry path contains a start-up or system folder word,
    // else empty. Words are compared case-sensitively, by whole cp932 characters.
    static AnsiString CheckPathDanger(const AnsiString& dirPart);

    // True when the single top-level element of the last count is a folder.
    bool SingleElementIsFolder() const { return FSingleIsFolder; }

    // Deletes the top element path left by a failed or abandoned extraction, unless it existed
    // before the extraction: only the very folder this run made (same device and inode), and in it
    // only what the archive's entries make; the log says when something was kept or could not be
    // removed. Ends the archive's claims.
    void DeleteResidue();
    // The host paths the entries of the last counted archive make under folder, relative to it
    // (a folder entry's with a trailing "/"), as the extraction lands them in DestFolder. False when
    // the archive could not be listed to its end (paths then holds what was listed).
    bool ListedPathsUnder(const AnsiString& folder, std::vector<std::string>& paths);

    // What the run made and the folders it holds (engine/RunClaims.h).
    TRunClaims& Claims() { return FClaims; }
    // The single top folder of the archive, before the extraction: made here and claimed, or, when
    // it exists, claimed as it is (top element existed). False, with the log line and the archive
    // skipped, when another run is working in it.
    bool ClaimTopFolder();
    // An existing folder that the run would move aside or extract into: false, with the log line and
    // the archive skipped, when it belongs to another run.
    bool MayUseExistingFolder(const AnsiString& path, bool moveAside);

private:
    // Opens archivePath for a listing (a type its extension forces included); false when the module
    // gives no handle.
    static bool OpenListing(TArchiveFile& arc, const AnsiString& archivePath);
    // What the count and the extraction list: the file-extraction filter, or every entry.
    AnsiString ListingMask() const;
    // leaves: the path leaves the destination; dangerous: its folder part has a danger word.
    bool CheckEntryPath(std::string_view path, bool leaves, bool dangerous);

    SettingsBlock& FSettings;
    TEngineHost& FHost;
    std::array<TArchiverDllEntry, kDllCount> FTable;
    AnsiString FSingleName;
    AnsiString FListedPath;
    bool FListedWhole = false;
    bool FFilterLeavesOut = false;
    bool FFlattenedCollide = false;
    bool FSingleIsFolder = false;
    TRunClaims FClaims;
};

// An entry path that would leave the destination: a leading "/" or "\\", a drive letter and ":" at
// the start of a component, or a ".." component. Any other ":" is part of a name.
bool IsAbsoluteEntryPath(const AnsiString& path);
// A host name that may be joined to a folder as one component: not empty, not "." or "..", and free
// of "/" ("\\" and ":" are ordinary characters of a Linux name).
bool IsPlainName(const AnsiString& name);

// The remedy named when a module is missing: the package to reinstall, or the module file and the
// folder searched for it (written plainly, no "bin/../lib").
AnsiString MissingModuleHint(const AnsiString& dllName);
// The DLL check block of the log pane: checks LHA, ZIP, CAB, RAR, TAR and 7Z in this order, records the
// presence flags, and releases the modules again, unless keepLoaded: a run that follows at once then
// finds its module (and the libraries it needs) loaded; the job releases them when it ends.
void CheckDlls(TUnPack& job, SettingsBlock& settings, TEngineHost& host, bool keepLoaded = false);
// The header that opens a run in the log (compress: the first three lines only).
void WriteRunHeader(const SettingsBlock& settings, TEngineHost& host, bool compress);

}  // namespace norvex
