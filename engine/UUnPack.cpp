// The unpack job: archiver DLL table, top-level count with the path safety checks, residue deletion.
#include "engine/UUnPack.h"

#include <cstring>
#include <ctime>
#include <string>
#include <unordered_set>

#include "archivers/Archives.h"
#include "archivers/ArchiverErrors.h"
#include "engine/EntryLanding.h"
#include "engine/ArchiveKinds.h"
#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "util/Paths.h"

namespace norvex {

using namespace norvex::literals;

namespace {

// The table in its fixed order; index 4 (ARJ) has no module. 7Z follows the classic seven.
struct TDllRow {
    const char* type;
    const char* dll;
    const char* prefix;
};
constexpr TDllRow kDllRows[kDllCount] = {
    {"LHA", "UNLHA32.DLL", "Unlha"}, {"ZIP", "UNZIP32.DLL", "UnZip"}, {"CAB", "cab32.DLL", "Cab"},
    {"RAR", "unrar32.DLL", "Unrar"}, {"ARJ", "", ""},                  {"TAR", "tar32.dll", "Tar"},
    {"GCA", "UnGCA32.DLL", "UnGCA"}, {"7Z", "7-zip32.dll", "SevenZip"},
};

// The order in which a type name is looked up, and the table index it maps to.
constexpr std::pair<const char*, int> kTypeLookup[] = {
    {"LHA", DllLHA}, {"ZIP", DllZIP}, {"CAB", DllCAB}, {"RAR", DllRAR},
    {"TAR", DllTAR}, {"GCA", DllGCA}, {"ARJ", DllARJ}, {"7Z", Dll7Z},
};

// Substring search that only matches at whole-character starts of text.
bool ContainsWholeChars(const AnsiString& text, const AnsiString& word) {
    if (word.empty()) return true;
    for (std::size_t i = 0; i + word.size() <= text.size(); i += AnsiCharLength(text, i))
        if (text.compare(i, word.size(), word) == 0) return true;
    return false;
}

AnsiString Quoted(const AnsiString& s) { return "\"" + s + "\""; }

}  // namespace

bool IsAbsoluteEntryPath(const AnsiString& path) {
    if (path.empty()) return false;
    if (path[0] == '/' || path[0] == '\\') return true;
    // ":" is an ordinary character of a Linux name ("会議 12:30.txt"); only a drive letter at the
    // start of a component ("C:/x", "a/c:x") points elsewhere.
    for (const AnsiString& part : SplitEntryPath(path))
        if (part == ".." || StartsWithDriveLetter(part)) return true;
    return false;
}

bool IsPlainName(const AnsiString& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find(PathDelim) == AnsiString::npos;  // "/" is never a cp932 trail byte
}

TUnPack::TUnPack(SettingsBlock& settings, TEngineHost& host) : FSettings(settings), FHost(host) {
    for (int i = 0; i < kDllCount; ++i) {
        FTable[i].TypeName = kDllRows[i].type;
        FTable[i].DllName = kDllRows[i].dll;
        FTable[i].Prefix = kDllRows[i].prefix;
    }
}

TUnPack::~TUnPack() { UnloadArchiverDlls(); }

bool TUnPack::LoadArchiverDll(const AnsiString& typeName) {
    int index = -1;
    for (const auto& [name, i] : kTypeLookup)
        if (typeName == name) {
            index = i;
            break;
        }
    if (index < 0) return false;
    TArchiverDllEntry& entry = FTable[index];
    if (entry.DllName.empty()) return false;  // the ARJ slot
    ModuleHandle handle = LoadModule(entry.DllName);
    if (!handle) return false;
    // A second load of the same type replaces the handle; release the earlier reference so that
    // every load stays balanced by one release.
    if (entry.Handle) FreeModule(entry.Handle);
    entry.Handle = handle;
    entry.Command = ModuleSymbol(handle, entry.Prefix.c_str());
    entry.Ready = entry.Command != nullptr;
    return entry.Ready;
}

void TUnPack::UnloadArchiverDlls() {
    for (TArchiverDllEntry& entry : FTable) {
        if (!entry.Handle) continue;
        FreeModule(entry.Handle);
        // Cleared so that a second unload does not release the module again.
        entry.Handle = nullptr;
        entry.Command = nullptr;
    }
}

AnsiString TUnPack::CheckPathDanger(const AnsiString& dirPart) {
    static const AnsiString kWords[] = {
        "スタートアップ"_ansi, "ｽﾀｰﾄｱｯﾌﾟ"_ansi, "startup", "system", "SYSTEM", "windows", "Windows", "WINDOWS",
    };
    for (const AnsiString& word : kWords)
        if (ContainsWholeChars(dirPart, word)) return "DANGER";
    return {};
}

// The two path questions for one file entry. False when the user said No (the archive is skipped).
// The texts are made only when a question is asked.
bool TUnPack::CheckEntryPath(std::string_view path, bool leaves, bool dangerous) {
    // The carriage returns are the message's own line breaks: those of the names are shown escaped.
    const auto head = [&] {
        AnsiString text = "\"";
        text += ShownName(FSettings.CurrentArchiveName);
        text += '\r';
        return text;
    };
    const auto entry = [&] {
        AnsiString text = "\r";
        text += Quoted(ShownName(AnsiString(path)));
        text += '\r';
        return text;
    };
    if (FSettings.AlertAbsExpand && leaves) {
        const AnsiString text = head() + "\"" + "には絶対パスによる展開が含まれています。"_ansi + entry() + "続行しますか？"_ansi;
        if (!FHost.Ask("確認"_ansi, text)) {
            FSettings.SkipArchive = true;
            FHost.AppendLog("> [ 中断 ] 絶対パス展開抑制による中断"_ansi);
            return false;
        }
    }
    if (FSettings.CheckDangerPath && dangerous) {
        const AnsiString text = head() + "内のファイルに(StartUp,System,スタートアップなど) のパス情報が含まれています。"_ansi +
                                entry() + " 続行しますか？"_ansi;
        if (!FHost.Ask("確認"_ansi, text)) {
            FSettings.SkipArchive = true;
            FHost.AppendLog("> [ 中断 ] 危険パスによる中断"_ansi);
            return false;
        }
    }
    return true;
}

// Counting compares each entry only with the previous top-level name, so entries must be grouped by
// top folder (as archivers store them) for the count to be exact. A top-level file whose name has a
// dot is remembered as "pending": when a later entry lies inside a folder of that name, the file was
// really the folder's own entry and is not counted twice.
//
// The walk reads each name once and keeps no list: a folder's danger check is reused by the entries
// that follow it in the same folder.
namespace {

// The file-extraction filter took entries of filtered bytes in all: true unless a walk of every entry
// finds no more than that (folders and empty files carry no data; a walk that fails cannot tell).
bool LeavesDataOut(TArchiveFile& arc, uint64_t filtered) {
    uint64_t all = 0;
    try {
        const int end = arc.WalkNames("*.*", [&](std::string_view, uint64_t size) {
            all += size;
            return true;
        });
        return end != ARC_FIND_END || all > filtered;
    } catch (...) {
        return true;
    }
}

}  // namespace

bool TUnPack::OpenListing(TArchiveFile& arc, const AnsiString& archivePath) {
    arc.SetFileName(archivePath);
    if (const TArchiverType forced = ForcedArchiverType(ArchiveExtension(archivePath)); forced != atNone)
        arc.SetArchiverType(forced);
    return arc.OpenArchive(nullptr, 0) == 0;
}

AnsiString TUnPack::ListingMask() const { return FSettings.SpecialExt ? FSettings.FileSpec : AnsiString("*.*"); }

int TUnPack::CountTopLevelElements(const AnsiString& archivePath) {
    FSingleName.clear();
    FListedPath = archivePath;
    FListedWhole = false;
    FFilterLeavesOut = false;
    FFlattenedCollide = false;
    FSingleIsFolder = false;
    TArchiveFile arc;
    if (!OpenListing(arc, archivePath)) throw EArchiver("書庫を開けませんでした。"_ansi);
    TListingCloser closer{arc};

    const AnsiString wild = ListingMask();
    int count = 0;
    AnsiString lastTop, pending = "<>", single;
    uint64_t listedSize = 0;
    bool complete = false;
    TEntryPath path;
    AnsiString dangerDir;
    const TListingWithoutTimes namesAndSizes;
    bool dangerKnown = false, danger = false;
    std::unordered_set<std::string> flattened;  // with folders ignored: the names the files land as
    // One entry: false ends the walk (the user stopped at a path question).
    const auto take = [&](std::string_view raw, uint64_t size) {
        listedSize += size;
        ReadEntryPath(raw, path);
        if (path.EndsWithSeparator) return true;
        const std::string_view rawDir(raw.data(), path.DirLength);
        if (FSettings.CheckDangerPath && (!dangerKnown || rawDir != dangerDir)) {
            dangerDir.assign(rawDir);
            danger = CheckPathDanger(dangerDir) == "DANGER";
            dangerKnown = true;
        }
        if (!CheckEntryPath(raw, path.LeavesDestination, FSettings.CheckDangerPath && danger)) return false;
        // Counted as it lands: "/etc/x.txt" is "etc/x.txt"; a name that lands nowhere is not counted
        // (the module refuses it). "/" is never a cp932 trail byte.
        const std::string_view p = path.Landing;
        const std::size_t last = p.rfind('/');
        const std::string_view dirPart = last == std::string_view::npos ? std::string_view() : p.substr(0, last + 1);
        const std::string_view filePart = last == std::string_view::npos ? p : p.substr(last + 1);
        if (p.empty()) {
            // nothing of it lands
        } else if (FSettings.IgnoreDirectory) {
            ++count;
            if (!flattened.emplace(filePart).second) FFlattenedCollide = true;
        } else if (dirPart.empty()) {
            ++count;
            single.assign(filePart);
            FSingleIsFolder = false;
            if (filePart.find('.') != std::string_view::npos) pending.assign(filePart);
        } else {
            if (dirPart.size() == pending.size() + 1 && dirPart.starts_with(pending)) {
                --count;
                pending = "<>";
            }
            const std::string_view top = dirPart.substr(0, dirPart.find('/'));
            if (top != lastTop) {
                ++count;
                lastTop.assign(top);
            }
            single.assign(top);
            FSingleIsFolder = true;
        }
        return true;
    };
    try {
        // The module walks the whole listing in one call when it can (names and sizes, no records).
        complete = arc.WalkNames(wild, take) == ARC_FIND_END;
        FListedWhole = complete;
    } catch (...) {
        // A fault during the walk ends it with the count so far.
    }

    if (wild != "*.*" && wild != "*" && !wild.empty() && !FSettings.SkipArchive)
        FFilterLeavesOut = !complete || LeavesDataOut(arc, listedSize);

    // The overall progress bar needs the 64-bit total: the listed sizes when the whole listing was
    // read, else the module's own (32-bit) total.
    if (complete) {
        FSettings.TotalSize = static_cast<double>(listedSize);
    } else {
        try {
            const int total = arc.GetArcOriginalSize();
            if (total != -1) FSettings.TotalSize = static_cast<double>(static_cast<uint32_t>(total));
        } catch (...) {
        }
    }
    if (count == 1 && IsPlainName(single)) FSingleName = single;
    return count;
}

AnsiString MissingModuleHint(const AnsiString& dllName) {
    return "「なし　パッケージ norvex を入れ直すか、"_ansi + ModuleFileName(dllName) + " を "_ansi +
           Quoted(NormalizeHostPath(ModuleFolder())) + " に置いてください」"_ansi;
}

void CheckDlls(TUnPack& job, SettingsBlock& settings, TEngineHost& host, bool keepLoaded) {
    host.AppendLog("─── Checking DLL ... ──"_ansi);
    struct TKind {
        const char* type;
        int index;
    };
    static const TKind kKinds[] = {{"LHA", DllLHA}, {"ZIP", DllZIP}, {"CAB", DllCAB},
                                   {"RAR", DllRAR}, {"TAR", DllTAR}, {"7Z", Dll7Z}};
    for (const TKind& kind : kKinds) {
        const bool ok = job.LoadArchiverDll(kind.type);
        settings.DllPresent[kind.index] = ok;
        host.AppendLog("[ DLL ] " + Quoted(kind.type) + "\t" +
                       (ok ? "「OK」"_ansi : MissingModuleHint(job.DllTable()[kind.index].DllName)));
    }
    host.AppendLog("---");
    if (!keepLoaded) job.UnloadArchiverDlls();
}

void WriteRunHeader(const SettingsBlock& settings, TEngineHost& host, bool compress) {
    char stamp[64];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y/%m/%d %H:%M:%S", &local);
    host.AppendLog(" ");
    host.AppendLog("-- \"処理開始\" -- [ "_ansi + stamp + "] --------------");
    host.AppendLog("> -- 設定確認 --"_ansi);
    if (compress) return;
    if (!settings.FileSpec.empty() && settings.FileSpec != "*.*")
        host.AppendLog(">  ファイル抽出パターン："_ansi + Quoted(settings.FileSpec) + " ");
    if (settings.IgnoreDirectory) host.AppendLog(">  ディレクトリ構成：無視 "_ansi);
}

}  // namespace norvex
