// A test-only archiver module that records every call and command line and answers from the content of
// the archive file: a file is "of this module's format" when it contains the tag "[<prefix>]".
//
// Built several times with different names (see CMakeLists.txt):
//   NVX_PREFIX      the prefix of the listing entries ("Unlha" gives UnlhaOpenArchive, ...)
//   NVX_COMMAND     the command function's name; NVX_COMMAND2 a second one (LMZIP32 has UnZip and Zip)
//   NVX_NO_LISTING  no listing entries at all (only the command functions)
//   NVX_MINIMAL     no optional entry, and no ExtractMem and GetArchiveType
//   NVX_PASSWORD    the password entries of the YZ1 family
// The tests read the record with NvxTestLog and steer the module with NvxTestSet / NvxTestSetText.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "archivers/ArchiverAbi.h"

#define NVX_CAT2(a, b) a##b
#define NVX_CAT(a, b) NVX_CAT2(a, b)
#define NVX_STR2(a) #a
#define NVX_STR(a) NVX_STR2(a)
#define ENTRY(suffix) NVX_CAT(NVX_PREFIX, suffix)

namespace {

std::string g_log;
std::map<std::string, long long> g_numbers;
std::map<std::string, std::string> g_texts;
NvxWindow* g_owner = nullptr;
ARC_ENUM_MEMBERS_PROC g_memberProc = nullptr;
std::string g_password;
int g_dialogs = 0;
[[maybe_unused]] int g_index = 0;
[[maybe_unused]] char g_handle;  // the address is the handle

long long Number(const std::string& key, long long fallback) {
    auto it = g_numbers.find(key);
    return it == g_numbers.end() ? fallback : it->second;
}

void Log(const std::string& line) { g_log += line + "\n"; }

std::string Content(const char* path) {
    std::ifstream in(path ? path : "", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kTag = "[" NVX_STR(NVX_PREFIX) "]";

[[maybe_unused]] bool IsOurs(const char* path) { return Content(path).find(kTag) != std::string::npos; }

[[maybe_unused]] void FillEntry(ArcEntryRecord* e, int i) {
    std::memset(e, 0, sizeof *e);
    e->originalSize = static_cast<uint32_t>(100 + i);
    e->compressedSize = static_cast<uint32_t>(50 + i);
    e->dosDate = static_cast<uint16_t>(Number("dosdate", ((2003 - 1980) << 9) | (1 << 5) | 15));
    e->dosTime = static_cast<uint16_t>(Number("dostime", (12 << 11) | (34 << 5) | (56 / 2)));
    std::snprintf(e->fileName, sizeof e->fileName, "dir\\file%d.txt", i);
}

int32_t RunCommand(const char* name, NvxWindow* window, const char* cmdLine, char* output, uint32_t size) {
    Log(std::string(name) + "|" + (cmdLine ? cmdLine : "") + "|" + std::to_string(size) + "|" +
        (window ? "window" : "nowindow"));
    const int progress = static_cast<int>(Number("progress", 0));
    for (int i = 0; i < progress; ++i) {
        ArcProgressRecord rec{};
        rec.structSize = sizeof rec;
        rec.info.fileSize = 1000;
        rec.info.writeSize = static_cast<uint32_t>(i * 10);
        const std::string source = g_texts.count("source" + std::to_string(i)) ? g_texts["source" + std::to_string(i)]
                                                                                : "entry" + std::to_string(i);
        std::snprintf(rec.info.sourceFileName, sizeof rec.info.sourceFileName, "%s", source.c_str());
        const std::string dest = g_texts.count("dest" + std::to_string(i)) ? g_texts["dest" + std::to_string(i)]
                                                                          : "/dest/" + source;
        std::snprintf(rec.info.destFileName, sizeof rec.info.destFileName, "%s", dest.c_str());
        if (g_memberProc) {
            const ARC_BOOL goOn = g_memberProc(&rec);
            Log("member|" + std::to_string(i) + "|" + std::to_string(goOn));
            if (!goOn) return ARC_ERROR_USER_CANCEL;
        }
        if (g_owner && g_owner->sendArcExtract) {
            const int32_t answer = g_owner->sendArcExtract(g_owner, ARCEXTRACT_INPROCESS, &rec);
            Log("progress|" + std::to_string(i) + "|" + std::to_string(answer));
            if (answer != 0) return ARC_ERROR_USER_CANCEL;
        }
    }
    if (Number("ask", 0) && g_owner && g_owner->ask) {
        char answer[64] = {};
        const int32_t r = g_owner->ask(g_owner, ARC_ASK_OVERWRITE, "caption", "/dest/x", answer, sizeof answer);
        Log("ask|" + std::to_string(r));
    }
    if (output && size > 0) std::snprintf(output, size, "%s", "done");
    if (const char* file = nullptr; Number("touch", 0) && (file = std::strstr(cmdLine, "\""))) {
        // Writes the quoted archive name as a new file, like a packing module would.
        std::string path(file + 1);
        path = path.substr(0, path.find('"'));
        std::ofstream(path, std::ios::binary) << "[" NVX_STR(NVX_COMMAND) "] new archive";
    }
    return static_cast<int32_t>(Number("result", 0));
}

}  // namespace

extern "C" {

ARC_EXPORT const char* NvxTestLog() { return g_log.c_str(); }
ARC_EXPORT void NvxTestReset() {
    g_log.clear();
    g_numbers.clear();
    g_texts.clear();
    g_owner = nullptr;
    g_memberProc = nullptr;
    g_password.clear();
    g_dialogs = 0;
}
ARC_EXPORT void NvxTestSet(const char* key, long long value) { g_numbers[key] = value; }
ARC_EXPORT void NvxTestSetText(const char* key, const char* value) { g_texts[key] = value; }

ARC_EXPORT int32_t NVX_COMMAND(NvxWindow* window, const char* cmdLine, char* output, uint32_t size) {
    return RunCommand(NVX_STR(NVX_COMMAND), window, cmdLine, output, size);
}

#ifdef NVX_COMMAND2
ARC_EXPORT int32_t NVX_COMMAND2(NvxWindow* window, const char* cmdLine, char* output, uint32_t size) {
    return RunCommand(NVX_STR(NVX_COMMAND2), window, cmdLine, output, size);
}
#endif

#ifndef NVX_NO_LISTING
ARC_EXPORT HARC ENTRY(OpenArchive)(NvxWindow* window, const char* path, uint32_t mode) {
    Log(std::string(NVX_STR(ENTRY(OpenArchive))) + "|" + path + "|" + std::to_string(mode) + "|" +
        (window ? "window" : "nowindow"));
    return IsOurs(path) ? &g_handle : nullptr;
}

ARC_EXPORT int32_t ENTRY(CloseArchive)(HARC) {
    Log(NVX_STR(ENTRY(CloseArchive)));
    return 0;
}

ARC_EXPORT int32_t ENTRY(FindFirst)(HARC, const char* wildName, ArcEntryRecord* entry) {
    Log(std::string(NVX_STR(ENTRY(FindFirst))) + "|" + wildName);
    if (Number("need_password", 0) && g_password != "secret") return ARC_PASSWORD_FILE;
    g_index = 0;
    if (Number("entries", 2) <= 0) return ARC_FIND_END;
    FillEntry(entry, 0);
    return 0;
}

ARC_EXPORT int32_t ENTRY(FindNext)(HARC, ArcEntryRecord* entry) {
    Log(NVX_STR(ENTRY(FindNext)));
    if (++g_index >= Number("entries", 2)) return ARC_FIND_END;
    FillEntry(entry, g_index);
    return 0;
}

ARC_EXPORT int32_t ENTRY(GetArcOriginalSize)(HARC) { return 12345; }
ARC_EXPORT ARC_BOOL ENTRY(SetBackGroundMode)(ARC_BOOL background) {
    Log(std::string(NVX_STR(ENTRY(SetBackGroundMode))) + "|" + std::to_string(background));
    return 1;
}
ARC_EXPORT ARC_BOOL ENTRY(GetBackGroundMode)() { return 1; }

ARC_EXPORT ARC_BOOL ENTRY(CheckArchive)(const char* path, int32_t mode) {
    Log(std::string(NVX_STR(ENTRY(CheckArchive))) + "|" + path + "|" + std::to_string(mode));
    if (g_numbers.count("check")) return static_cast<ARC_BOOL>(g_numbers["check"]);
    return IsOurs(path) ? 1 : 0;
}

#ifndef NVX_MINIMAL
ARC_EXPORT int32_t ENTRY(ExtractMem)(NvxWindow*, const char* cmdLine, void*, uint32_t, int64_t*, uint16_t*,
                                     uint32_t* written) {
    Log(std::string(NVX_STR(ENTRY(ExtractMem))) + "|" + cmdLine);
    if (written) *written = 0;
    return 0;
}

ARC_EXPORT int32_t ENTRY(GetArchiveType)(const char* path) {
    Log(std::string(NVX_STR(ENTRY(GetArchiveType))) + "|" + path);
    const std::string content = Content(path);
    const std::size_t at = content.find("[" NVX_STR(NVX_PREFIX));
    if (at == std::string::npos) return 0;
    return std::atoi(content.c_str() + at + kTag.size() - 1);  // "[Tar3]" answers 3
}

ARC_EXPORT ARC_BOOL ENTRY(SetOwnerWindowEx)(NvxWindow* window, ARCHIVERPROC) {
    Log(NVX_STR(ENTRY(SetOwnerWindowEx)));
    g_owner = window;
    return 1;
}

ARC_EXPORT ARC_BOOL ENTRY(KillOwnerWindowEx)(NvxWindow*) {
    Log(NVX_STR(ENTRY(KillOwnerWindowEx)));
    g_owner = nullptr;
    return 1;
}

// 2020-06-01 00:00:00 UTC and two later seconds, as FILETIME.
ARC_EXPORT ARC_BOOL ENTRY(GetWriteTimeEx)(HARC, uint64_t* ft) { *ft = 132354720000000000ULL; return 1; }
ARC_EXPORT ARC_BOOL ENTRY(GetAccessTimeEx)(HARC, uint64_t* ft) { *ft = 132354720010000000ULL; return 1; }
ARC_EXPORT ARC_BOOL ENTRY(GetCreateTimeEx)(HARC, uint64_t* ft) { *ft = 132354720020000000ULL; return 1; }
ARC_EXPORT ARC_BOOL ENTRY(GetOriginalSizeEx)(HARC, int64_t* size) { *size = 5000000000LL + g_index; return 1; }
ARC_EXPORT ARC_BOOL ENTRY(GetCompressedSizeEx)(HARC, int64_t* size) { *size = 4000000000LL + g_index; return 1; }

ARC_EXPORT ARC_BOOL ENTRY(SetEnumMembersProc64)(ARC_ENUM_MEMBERS_PROC proc, uint32_t structSize) {
    Log(std::string(NVX_STR(ENTRY(SetEnumMembersProc64))) + "|" + std::to_string(structSize));
    g_memberProc = proc;
    return 1;
}

ARC_EXPORT ARC_BOOL ENTRY(ClearEnumMembersProc64)() {
    Log(NVX_STR(ENTRY(ClearEnumMembersProc64)));
    g_memberProc = nullptr;
    return 1;
}
#endif  // NVX_MINIMAL
#endif  // NVX_NO_LISTING

#ifdef NVX_PASSWORD
// The k-th dialog offers "secret" when k == correct_at, "wrong" before; it is cancelled when k == cancel_at.
ARC_EXPORT int32_t ENTRY(PasswordDialog)(NvxWindow*, char* buffer, uint32_t size) {
    ++g_dialogs;
    Log(std::string(NVX_STR(ENTRY(PasswordDialog))) + "|" + std::to_string(g_dialogs));
    if (g_dialogs == Number("cancel_at", 0)) return -1;
    std::snprintf(buffer, size, "%s", g_dialogs == Number("correct_at", 0) ? "secret" : "wrong");
    return 0;
}

ARC_EXPORT int32_t ENTRY(SetDefaultPassword)(HARC, const char* password) {
    Log(std::string(NVX_STR(ENTRY(SetDefaultPassword))) + "|" + password);
    g_password = password;
    return 0;
}
#endif

}  // extern "C"
