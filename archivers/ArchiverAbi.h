/* The contract between Norvex and its archiver modules: the records, the result codes, the types of
 * every exported entry and the window ABI through which a module reports progress and asks the user.
 *
 * Each module is a shared object named after a DLL of the family (UNLHA32.DLL is unlha32.so) that
 * exports plain C functions named by the module's prefix ("Unlha") plus a fixed suffix ("OpenArchive").
 * Strings are NUL-terminated cp932 bytes. BOOL is a 32-bit int, false = 0.
 * This header is plain C so that a module never depends on the host's C++ types. */
#ifndef NORVEX_ARCHIVERS_ARCHIVERABI_H
#define NORVEX_ARCHIVERS_ARCHIVERABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ARC_BOOL;
typedef void* HARC;                 /* an open archive of a module; NULL = failure */
typedef struct NvxWindow NvxWindow; /* the window handle: see the window ABI below */

#define ARC_FNAME_MAX 513

/* ---- Records ------------------------------------------------------------------------------ */
#pragma pack(push, 1)

/* One entry of an archive, filled by FindFirst / FindNext (558 bytes). */
typedef struct ArcEntryRecord {
    uint32_t originalSize;       /*   0: 32-bit, saturated at 0xFFFFFFFF for larger entries */
    uint32_t compressedSize;     /*   4 */
    uint32_t crc;                /*   8 */
    uint32_t flag;               /*  12 */
    uint32_t osType;             /*  16 */
    uint16_t ratio;              /*  20: per mille */
    uint16_t dosDate;            /*  22 */
    uint16_t dosTime;            /*  24 */
    char fileName[ARC_FNAME_MAX];/*  26: "/" or "\\" separated path, cp932 */
    char reserved1[3];           /* 539 */
    char attribute[8];           /* 542: text such as "-----a-" */
    char method[8];              /* 550: text such as "-lh5-" */
} ArcEntryRecord;

/* Progress of one entry, sent with "wm_arcextract" (1074 bytes). */
typedef struct EXTRACTINGINFOEX {
    uint32_t fileSize;                   /*    0: 32-bit, saturated */
    uint32_t writeSize;                  /*    4: bytes written so far, saturated */
    char sourceFileName[ARC_FNAME_MAX];  /*    8: the entry's path in the archive */
    char reserved1[3];                   /*  521 */
    char destFileName[ARC_FNAME_MAX];    /*  524: the path written to */
    char reserved2[3];                   /* 1037 */
    uint32_t compressedSize;             /* 1040 */
    uint32_t crc;                        /* 1044 */
    uint32_t osType;                     /* 1048 */
    uint16_t ratio;                      /* 1052 */
    uint16_t dosDate;                    /* 1054 */
    uint16_t dosTime;                    /* 1056 */
    char attribute[8];                   /* 1058 */
    char method[8];                      /* 1066 */
} EXTRACTINGINFOEX;

/* What our modules actually send: the 32-bit record followed by the true 64-bit sizes. A host that
 * knows only EXTRACTINGINFOEX reads the first 1074 bytes; structSize tells the rest is there. */
typedef struct ArcProgressRecord {
    EXTRACTINGINFOEX info;               /*    0 */
    uint32_t structSize;                 /* 1074: sizeof(ArcProgressRecord) */
    uint64_t fileSize64;                 /* 1078 */
    uint64_t writeSize64;                /* 1086 */
} ArcProgressRecord;

#pragma pack(pop)

/* ---- Result codes --------------------------------------------------------------------------- */
/* 0 and everything below 0x8000 succeed (below 0x8000 non-zero = a warning); 0x8000 and up fail. */
#define ARC_OK                       0
#define ARC_ERROR_FIRST              0x8000
#define ARC_DISK_SPACE               0x8005
#define ARC_READ_ONLY                0x8006
#define ARC_USER_SKIP                0x8007
#define ARC_UNKNOWN_TYPE             0x8008
#define ARC_METHOD                   0x8009
#define ARC_PASSWORD_FILE            0x800A
#define ARC_VERSION                  0x800B
#define ARC_FILE_CRC                 0x800C
#define ARC_FILE_OPEN                0x800D
#define ARC_MORE_FRESH               0x800E
#define ARC_NOT_EXIST                0x800F
#define ARC_ERROR_ALREADY_EXIST      0x8010
#define ARC_ERROR_TOO_MANY_FILES     0x8011
#define ARC_ERROR_MAKEDIRECTORY      0x8012
#define ARC_ERROR_CANNOT_WRITE       0x8013
#define ARC_ERROR_HUFFMAN_CODE       0x8014
#define ARC_ERROR_COMMENT_HEADER     0x8015
#define ARC_ERROR_HEADER_CRC         0x8016
#define ARC_ERROR_HEADER_BROKEN      0x8017
#define ARC_ERROR_ARC_FILE_OPEN      0x8018
#define ARC_ERROR_NOT_ARC_FILE       0x8019
#define ARC_ERROR_CANNOT_READ        0x801A
#define ARC_ERROR_FILE_STYLE         0x801B
#define ARC_ERROR_COMMAND_NAME       0x801C
#define ARC_ERROR_MORE_HEAP_MEMORY   0x801D
#define ARC_ERROR_ENOUGH_MEMORY      0x801E
#define ARC_ERROR_ALREADY_RUNNING    0x801F
#define ARC_ERROR_USER_CANCEL        0x8020
#define ARC_ERROR_HARC_ISNOT_OPENED  0x8021
#define ARC_ERROR_NOT_SEARCH_MODE    0x8022
#define ARC_ERROR_NOT_SUPPORT        0x8023
#define ARC_ERROR_TIME_STAMP         0x8024
#define ARC_ERROR_TMP_OPEN           0x8025
#define ARC_ERROR_LONG_FILE_NAME     0x8026
#define ARC_ERROR_ARC_READ_ONLY      0x8027
#define ARC_ERROR_SAME_NAME_FILE     0x8028
#define ARC_ERROR_NOT_FIND_ARC_FILE  0x8029
#define ARC_ERROR_RESPONSE_READ      0x802A
#define ARC_ERROR_NOT_FILENAME       0x802B
#define ARC_ERROR_TMP_COPY           0x802C
#define ARC_ERROR_EOF                0x802D

/* FindFirst / FindNext: 0 = the record is filled, -1 = no more entries, else an error code. */
#define ARC_FIND_END                 (-1)

/* OpenArchive modes (flag bits; other bits are accepted and ignored). */
#define ARC_M_CHECK_FILENAME_ONLY    0x00000200L
#define ARC_M_ERROR_MESSAGE_OFF      0x00800000L

/* CheckArchive modes: 0 signature and first header, 1 every header, 3 every CRC too. */
#define ARC_CHECKARCHIVE_RAPID       0
#define ARC_CHECKARCHIVE_BASIC       1
#define ARC_CHECKARCHIVE_FULLCRC     3

/* ---- Window ABI ----------------------------------------------------------------------------- */
/* The host's window, as a module sees it: an opaque, host-owned struct of function pointers. A
 * module that is given a NULL window reports nothing and asks nothing (it takes the safe answer). */

#define ARC_WM_ARCEXTRACT_NAME "wm_arcextract"

/* States sent with "wm_arcextract". */
#define ARCEXTRACT_BEGIN      0  /* an entry starts */
#define ARCEXTRACT_INPROCESS  1  /* an entry is being written */
#define ARCEXTRACT_END        2  /* an entry is complete */
#define ARCEXTRACT_OPEN       3  /* the archive is opened */
#define ARCEXTRACT_COPY       4  /* the work file is copied */

/* Questions a module may ask. */
#define ARC_ASK_OVERWRITE     1  /* "上書き確認": text is the path that exists; answer is ARC_ANSWER_* */
#define ARC_ASK_PASSWORD      2  /* text is the entry name; the host writes the password into answerText */

#define ARC_ANSWER_YES        1
#define ARC_ANSWER_NO         2
#define ARC_ANSWER_YES_ALL    3
#define ARC_ANSWER_NO_ALL     4
#define ARC_ANSWER_CANCEL     5

/* Why the file system refused an entry, as told through NvxWindow.refused. */
#define ARC_CAUSE_UNKNOWN         0
#define ARC_CAUSE_NAME_TOO_LONG   1  /* a name longer than the file system takes */
#define ARC_CAUSE_DISK_FULL       2
#define ARC_CAUSE_QUOTA           3  /* the user's disk quota is used up */
#define ARC_CAUSE_FILE_TOO_LARGE  4  /* larger than the file system (or the process limit) allows */
#define ARC_CAUSE_READ_ONLY       5  /* a read-only file system */
#define ARC_CAUSE_PERMISSION      6  /* no right to write there */
#define ARC_CAUSE_NOT_A_FOLDER    7  /* a file stands where a folder of the path must be */
#define ARC_CAUSE_INVALID_NAME    8  /* the file system does not take a character of the name */
#define ARC_CAUSE_IO_ERROR        9  /* the device reported an error */
/* Not a refusal of the file system: the switch "never overwrite" kept an existing file of the entry's
 * name (found before the entry was written, or made by another process meanwhile), or "overwrite if
 * newer" kept one at least as new as the entry, so the entry was not written. The extraction still
 * succeeds; code is ARC_OK. The module writes no line of its own for it, whatever the answer: a host
 * that knows this cause learns that not every entry landed. */
#define ARC_CAUSE_KEPT_EXISTING  10
#define ARC_CAUSE_TOO_MANY_OPEN  11  /* the process or the system has as many files open as it may */
/* Not a refusal either: the archive ends where an entry ends, without the mark that closes it (a
 * tar without its end blocks), so it may have been cut there. Every entry read landed; code is
 * ARC_OK and name the archive. The module writes no line of its own for it. */
#define ARC_CAUSE_END_UNMARKED   12

/* A host zero-initialises its window (NvxWindow w{};) so that members it does not use are NULL. */
struct NvxWindow {
    uint32_t structSize; /* sizeof(NvxWindow) */
    void* context;       /* the host's own data */
    /* Sends "wm_arcextract" and waits for the answer: state, record (an ArcProgressRecord).
     * A non-zero answer asks the module to stop at once. */
    int32_t (*sendArcExtract)(NvxWindow* self, uint32_t state, const ArcProgressRecord* record);
    /* Asks the user and waits. kind is ARC_ASK_*; caption and text are cp932. For a password, the
     * host fills answerText (cp932, NUL-terminated, at most answerSize bytes) and answers
     * ARC_ANSWER_YES, or ARC_ANSWER_CANCEL when the user gave none. */
    int32_t (*ask)(NvxWindow* self, int32_t kind, const char* caption, const char* text,
                   char* answerText, uint32_t answerSize);
    /* Asked before an entry would replace the existing file at path (cp932; device and inode as
     * lstat gives them). Non-zero: the file is an archive the host is reading or has still to read,
     * and must stay; the entry is left out as a failure. Absent from a smaller structSize. */
    int32_t (*isProtected)(NvxWindow* self, const char* path, uint64_t device, uint64_t inode);
    /* Added later; a module calls it only when structSize covers it and it is not NULL. An entry was
     * left out because the file system refused it: cause is ARC_CAUSE_*, code the failure code,
     * name the entry as the module shows it and line the module's own log line (both cp932). A
     * non-zero answer means the host logs the refusal itself: the module then leaves line out of
     * its output. Also told of an entry left out by choice (ARC_CAUSE_KEPT_EXISTING). May be called
     * from any thread of the module. */
    int32_t (*refused)(NvxWindow* self, int32_t cause, int32_t code, const char* name, const char* line);
};
/* The size of the window before refused was added; a module compares structSize with it. */
#define NVX_WINDOW_SIZE_WITH_REFUSED (offsetof(NvxWindow, refused) + sizeof(void*))

/* The callback of SetOwnerWindowEx (the host passes NULL) and of SetEnumMembersProc64. */
typedef ARC_BOOL (*ARCHIVERPROC)(NvxWindow* window, uint32_t msg, uint32_t state, void* record);
typedef ARC_BOOL (*ARC_ENUM_MEMBERS_PROC)(void* member);

/* ---- Exported entries ----------------------------------------------------------------------- */
/* Name = prefix + suffix; the command function is the prefix alone. */
typedef int32_t  (*ARC_COMMAND)(NvxWindow* window, const char* cmdLine, char* output, uint32_t outputSize);
typedef HARC     (*ARC_OPEN_ARCHIVE)(NvxWindow* window, const char* path, uint32_t mode);
typedef int32_t  (*ARC_CLOSE_ARCHIVE)(HARC harc);
typedef int32_t  (*ARC_FIND_FIRST)(HARC harc, const char* wildName, ArcEntryRecord* entry);
typedef int32_t  (*ARC_FIND_NEXT)(HARC harc, ArcEntryRecord* entry);
typedef int32_t  (*ARC_GET_ARC_ORIGINAL_SIZE)(HARC harc);
typedef ARC_BOOL (*ARC_SET_BACKGROUND_MODE)(ARC_BOOL background);
typedef ARC_BOOL (*ARC_GET_BACKGROUND_MODE)(void);
typedef int32_t  (*ARC_EXTRACT_MEM)(NvxWindow* window, const char* cmdLine, void* buffer, uint32_t size,
                                    int64_t* time, uint16_t* attribute, uint32_t* written);
typedef ARC_BOOL (*ARC_CHECK_ARCHIVE)(const char* path, int32_t mode);
typedef ARC_BOOL (*ARC_SET_OWNER_WINDOW_EX)(NvxWindow* window, ARCHIVERPROC callback);
typedef ARC_BOOL (*ARC_KILL_OWNER_WINDOW_EX)(NvxWindow* window);
typedef ARC_BOOL (*ARC_GET_TIME_EX)(HARC harc, uint64_t* fileTime); /* FILETIME, UTC */
typedef ARC_BOOL (*ARC_GET_SIZE_EX)(HARC harc, int64_t* size);
// <Prefix>GetFileNameEx (optional, beyond the family's twenty): the whole cp932 name of the entry the
// last FindFirst/FindNext gave, which the record's 513-byte field may have cut. Copies it with a NUL
// when it fits in size bytes (nothing otherwise) and returns its length, -1 when there is no entry.
typedef int32_t (*ARC_GET_FILE_NAME_EX)(HARC harc, char* buffer, uint32_t size);
// <Prefix>ListNames (optional): the walk of FindFirst(wildName) and FindNext to the end in one call, for
// a host that wants nothing of each entry but its name and size (no record is filled). proc gets each
// entry in turn: its whole cp932 name as GetFileNameEx gives it (length bytes, not NUL-terminated) and
// its size (-1 when unknown); a non-zero answer ends the walk there. Returns what ended the walk: the
// code the last FindFirst/FindNext would have returned (-1 after the last entry, else the failure),
// or 0 when proc ended it.
typedef int32_t (*ARC_NAME_AND_SIZE_PROC)(void* context, const char* name, uint32_t length, int64_t size);
typedef int32_t (*ARC_LIST_NAMES)(HARC harc, const char* wildName, ARC_NAME_AND_SIZE_PROC proc, void* context);
typedef int32_t  (*ARC_GET_ARCHIVE_TYPE)(const char* path);
typedef ARC_BOOL (*ARC_SET_ENUM_MEMBERS_PROC64)(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize);
typedef ARC_BOOL (*ARC_CLEAR_ENUM_MEMBERS_PROC64)(void);

/* The YZ1 family's password entries, prefix + "PasswordDialog" and prefix + "SetDefaultPassword":
 * the dialog writes a NUL-terminated password into buffer and answers 0 or more, or a negative value
 * when the user gave none. */
typedef int32_t  (*ARC_PASSWORD_DIALOG)(NvxWindow* window, char* buffer, uint32_t size);
typedef int32_t  (*ARC_SET_DEFAULT_PASSWORD)(HARC harc, const char* password);
#define ARC_SUFFIX_PASSWORD_DIALOG         "PasswordDialog"
#define ARC_SUFFIX_SET_DEFAULT_PASSWORD    "SetDefaultPassword"

/* The member record handed to the SetEnumMembersProc64 callback is an ArcProgressRecord (its size,
 * 1094, is the value the host passes as structSize). */
#define ARC_ENUM_MEMBER_RECORD_SIZE        1094

/* Suffixes, in the order of the binding's entry fields. */
#define ARC_SUFFIX_OPEN_ARCHIVE            "OpenArchive"
#define ARC_SUFFIX_CLOSE_ARCHIVE           "CloseArchive"
#define ARC_SUFFIX_FIND_FIRST              "FindFirst"
#define ARC_SUFFIX_FIND_NEXT               "FindNext"
#define ARC_SUFFIX_GET_ARC_ORIGINAL_SIZE   "GetArcOriginalSize"
#define ARC_SUFFIX_SET_BACKGROUND_MODE     "SetBackGroundMode"
#define ARC_SUFFIX_GET_BACKGROUND_MODE     "GetBackGroundMode"
#define ARC_SUFFIX_EXTRACT_MEM             "ExtractMem"
#define ARC_SUFFIX_CHECK_ARCHIVE           "CheckArchive"
#define ARC_SUFFIX_SET_OWNER_WINDOW_EX     "SetOwnerWindowEx"
#define ARC_SUFFIX_KILL_OWNER_WINDOW_EX    "KillOwnerWindowEx"
#define ARC_SUFFIX_GET_WRITE_TIME_EX       "GetWriteTimeEx"
#define ARC_SUFFIX_GET_CREATE_TIME_EX      "GetCreateTimeEx"
#define ARC_SUFFIX_GET_ACCESS_TIME_EX      "GetAccessTimeEx"
#define ARC_SUFFIX_GET_ORIGINAL_SIZE_EX    "GetOriginalSizeEx"
#define ARC_SUFFIX_GET_COMPRESSED_SIZE_EX  "GetCompressedSizeEx"
#define ARC_SUFFIX_GET_ARCHIVE_TYPE        "GetArchiveType"
#define ARC_SUFFIX_SET_ENUM_MEMBERS_PROC64 "SetEnumMembersProc64"
#define ARC_SUFFIX_CLEAR_ENUM_MEMBERS_PROC64 "ClearEnumMembersProc64"

/* Modules export their entries with default visibility and C linkage. */
#if defined(__GNUC__)
#define ARC_EXPORT __attribute__((visibility("default")))
#else
#define ARC_EXPORT
#endif

/* ---- Layout checks --------------------------------------------------------------------------- */
#ifdef __cplusplus
#define ARC_STATIC_ASSERT static_assert
#else
#define ARC_STATIC_ASSERT _Static_assert
#endif
ARC_STATIC_ASSERT(sizeof(ArcEntryRecord) == 558, "entry record is 558 bytes");
ARC_STATIC_ASSERT(offsetof(ArcEntryRecord, compressedSize) == 4, "compressed size at 4");
ARC_STATIC_ASSERT(offsetof(ArcEntryRecord, dosDate) == 22, "DOS date at 22");
ARC_STATIC_ASSERT(offsetof(ArcEntryRecord, dosTime) == 24, "DOS time at 24");
ARC_STATIC_ASSERT(offsetof(ArcEntryRecord, fileName) == 26, "path at 26");
ARC_STATIC_ASSERT(offsetof(ArcEntryRecord, attribute) == 542, "attribute at 542");
ARC_STATIC_ASSERT(sizeof(EXTRACTINGINFOEX) == 1074, "progress record is 1074 bytes");
ARC_STATIC_ASSERT(offsetof(EXTRACTINGINFOEX, writeSize) == 4, "bytes written at 4");
ARC_STATIC_ASSERT(offsetof(EXTRACTINGINFOEX, sourceFileName) == 8, "source name at 8");
ARC_STATIC_ASSERT(offsetof(EXTRACTINGINFOEX, destFileName) == 524, "destination at 524");
ARC_STATIC_ASSERT(offsetof(ArcProgressRecord, fileSize64) == 1078, "64-bit size at 1078");
ARC_STATIC_ASSERT(sizeof(ArcProgressRecord) == 1094, "progress record with 64-bit sizes is 1094 bytes");

#ifdef __cplusplus
}
#endif

#endif /* NORVEX_ARCHIVERS_ARCHIVERABI_H */
