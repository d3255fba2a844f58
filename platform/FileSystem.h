// The file system over AnsiString paths: existence, attributes, enumeration with wildcard patterns and
// attribute masks, file times (FILETIME and the calendar value), folders, deletion, rename and move.
//
// Paths are cp932 inside and converted to the host's bytes (FromAnsi) at each system call; names read
// back from the host are converted with ToAnsi, which throws ECodecTableFull in the rare case that the
// carrier table is full. Relative paths are relative to the process's current folder.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// ---- Attributes -----------------------------------------------------------------------------------
// Windows-style bit values, derived from the host's file modes.
inline constexpr uint32_t faReadOnly = 0x01;   // the user has no write permission (by the mode bits)
inline constexpr uint32_t faHidden = 0x02;     // the name starts with "."
inline constexpr uint32_t faSysFile = 0x04;    // never set on Linux
inline constexpr uint32_t faVolumeID = 0x08;   // never set
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20;    // a regular file (or anything that is not a folder)
inline constexpr uint32_t faSymLink = 0x400;   // a symbolic link (the other bits describe its target)
inline constexpr uint32_t faAnyFile = 0x3F;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// True when path names a file that is not a folder (symbolic links are followed).
bool FileExists(const AnsiString& path);
// True when path names a folder (symbolic links are followed).
bool DirectoryExists(const AnsiString& path);
// What FileExists and DirectoryExists tell, from one look at path (symbolic links are followed).
enum class TPathKind { Missing, File, Folder };
TPathKind KindOfPath(const AnsiString& path);
// The attribute bits of path, or INVALID_FILE_ATTRIBUTES when it cannot be read. A symbolic link
// reports its target's bits plus faSymLink; a dangling link reports faArchive | faSymLink.
uint32_t FileGetAttr(const AnsiString& path);

// ---- Times ----------------------------------------------------------------------------------------
// FILETIME: 100 ns units since 1601-01-01 00:00 UTC (or local time, where a function says so).
using FILETIME = uint64_t;
// The calendar value: days since 1899-12-30 00:00, the time of day as the fraction.
using TDateTime = double;

inline constexpr uint64_t FileTimeTicksPerSecond = 10'000'000;
inline constexpr uint64_t FileTimeTicksPerDay = 864'000'000'000;
// 1601-01-01 to 1970-01-01, in seconds; 1601-01-01 to 1899-12-30, in days.
inline constexpr int64_t UnixEpochInFileTimeSeconds = 11'644'473'600;
inline constexpr int64_t CalendarEpochInFileTimeDays = 109'205;

FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds = 0);
// Seconds since 1970 and the nanoseconds within the second.
void FileTimeToUnix(FILETIME ft, int64_t& seconds, int64_t& nanoseconds);
// UTC to local time and back, with the zone offset in effect at that instant (summer time included).
FILETIME FileTimeToLocalFileTime(FILETIME utc);
FILETIME LocalFileTimeToFileTime(FILETIME local);
// FILETIME <-> calendar value, without any zone change.
TDateTime FileTimeToDateTime(FILETIME ft);
FILETIME DateTimeToFileTime(TDateTime dt);
// Calendar values from fields; false (and dt untouched) for fields out of range.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms, TDateTime& dt);
// Fields of a calendar value (dt >= 0).
void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute, int& second, int& ms);
// The current local time as a calendar value, and the current local year.
TDateTime Now();
int CurrentYear();

// The times of path (symbolic links followed). Linux reports a birth time only on some file systems;
// without one, creation is the last-write time. Any pointer may be null.
bool GetFileTimes(const AnsiString& path, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
// Sets the access and last-write times; a null pointer or a zero time leaves that time alone. The
// creation time cannot be set on Linux and is ignored.
bool SetFileTimes(const AnsiString& path, const FILETIME* creation, const FILETIME* lastAccess,
                  const FILETIME* lastWrite);
// Size in bytes of a file, or -1.
int64_t GetFileSize(const AnsiString& path);

// ---- Enumeration ----------------------------------------------------------------------------------
struct TFindState;  // the open enumeration (opaque)

struct TSearchRec {
    AnsiString Name;            // the name only, without the folder
    uint32_t Attr = 0;
    uint64_t Size = 0;
    FILETIME LastWriteTime = 0;
    FILETIME LastAccessTime = 0;
    FILETIME CreationTime = 0;
    TFindState* FindHandle = nullptr;  // nullptr: no enumeration open (closing it is harmless)

    TSearchRec() = default;
    TSearchRec(const TSearchRec&) = delete;             // the handle has one owner
    TSearchRec& operator=(const TSearchRec&) = delete;
    TSearchRec(TSearchRec&& other) noexcept;           // moves the handle along
    TSearchRec& operator=(TSearchRec&& other) noexcept;
    ~TSearchRec();                                      // closes a handle left open
};

// Starts an enumeration of pattern ("folder/*.*", "a?.txt", ...): the folder is what precedes the last
// "/", the rest is matched against each name. "*" and "?" stand for whole cp932 characters, ASCII
// letters match without regard to case, and a trailing ".*" also matches names without a dot (so "*.*"
// matches every name). "." and ".." are never reported.
// Entries are filtered by attr as Windows does: normal files always; hidden, system and directory
// entries only when their bits are in attr.
// Returns 0 and fills rec with the first entry, or an errno value (ENOENT when nothing matches); on
// failure rec.FindHandle is nullptr.
int FindFirst(const AnsiString& pattern, uint32_t attr, TSearchRec& rec);
// The next entry: 0, or ENOENT at the end.
int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);
// The matching rule of FindFirst, on one name (exposed for tests and for callers with their own lists).
bool MatchesMask(const AnsiString& name, const AnsiString& mask);

// ---- Folders and files ----------------------------------------------------------------------------
// Creates one folder (its parent must exist). False when it exists already or cannot be made.
bool CreateDir(const AnsiString& path);
// Creates the folder and every missing parent. True when the folder exists afterwards.
bool ForceDirectories(const AnsiString& path);
// Removes an empty folder.
bool RemoveDir(const AnsiString& path);
// Deletes a file (or a symbolic link itself); never a folder.
bool DeleteFile(const AnsiString& path);
// Deletes a folder with everything in it, read-only folders included, at any depth (RemoveTree in
// platform/TreeRemoval.h, which also tells what was left). Symbolic links inside are
// removed as links and never followed; when path itself is a symbolic link, only the link is removed.
bool DeleteTree(const AnsiString& path);
// Renames within one file system. Never replaces an existing target.
bool RenameFile(const AnsiString& from, const AnsiString& to);
// Moves a file or folder, across file systems too (copying contents, modes and times, writing the
// copy to its device, then removing the source). Never replaces an existing target; a failed copy
// removes what it made and keeps the source. A file's copy takes the target's name only when it is
// complete, and its source is removed only while it is still the file that was copied.
bool MoveFile(const AnsiString& from, const AnsiString& to);
// MoveFile for host (UTF-8) paths.
bool MoveHostPath(const std::string& hostFrom, const std::string& hostTo);
// Writes what the file system holding hostFolder has in memory to its device; false when the
// folder cannot be opened or the device reports an error. A source removed after a copy, or an
// archive deleted after its extraction, must not be on the disk only as the removal.
bool SyncFileSystemOf(const std::string& hostFolder);
// Copies one file with its mode and times. With failIfExists, an existing target is left alone and
// the copy fails. A file is never copied onto itself.
bool CopyFile(const AnsiString& from, const AnsiString& to, bool failIfExists);

// Creates a new file holding data. Returns 0, EEXIST when the name exists (which is left alone), or
// another errno value; a failed write removes the partial file.
int WriteNewFile(const AnsiString& path, std::string_view data);

// The process's current folder, and changing it.
AnsiString GetCurrentDir();
bool SetCurrentDir(const AnsiString& path);
// An absolute form of path: relative paths are taken from the current folder, and "." and ".."
// components are resolved by name (symbolic links are not resolved).
AnsiString ExpandFileName(const AnsiString& path);

// ---- Named streams --------------------------------------------------------------------------------
// A named stream of a file, as a volume that has them would report it.
struct TNamedStream {
    AnsiString Name;          // as the volume names it, e.g. ":name:$DATA"
    std::string Data;
    FILETIME CreationTime = 0;
    FILETIME LastAccessTime = 0;
    FILETIME LastWriteTime = 0;
};
// No Linux volume reports named streams: false for every path.
bool VolumeSupportsNamedStreams(const AnsiString& path);
// The named streams of a file: always empty on Linux.
std::vector<TNamedStream> ReadNamedStreams(const AnsiString& path);

}  // namespace norvex
