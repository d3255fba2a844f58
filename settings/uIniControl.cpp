// The settings store: every key, its section, its default, the order of reading and of writing.
#include "settings/uIniControl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>

#include "platform/AnsiCodec.h"
#include "platform/StandardFolders.h"
#include "settings/AtomicFile.h"
#include "settings/IniDocument.h"

namespace norvex {
namespace {

constexpr const char* kFileName = "Norvex.ini";
// A settings file is a few kilobytes; anything far larger is not ours and is not read.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// The three sections that the Windows design read and wrote differently; load and save agree here.
// They are the sections the Windows design wrote, so values carried over from Windows are kept.
constexpr const char* kSameFolderProcSection = "Sub_Bind";
constexpr const char* kClearAllSection = "Sub_Other";
constexpr const char* kSpecialExtSection = "Sub";

// The MRU key prefixes, as the file has always spelt them.
constexpr const char* kMruSpecialPrefix = "SpeciaFolder";
constexpr const char* kMruMovePrefix = "MoveFolder";

std::optional<int> ParseInteger(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Reading side: each helper gives the default for a missing key or a value it cannot take.
class Reader {
public:
    explicit Reader(const TIniDocument& doc) : doc_(doc) {}

    int Integer(const char* section, const char* key, int def) const {
        auto text = doc_.Get(section, key);
        if (!text) return def;
        return ParseInteger(*text).value_or(def);
    }
    int Integer(const char* section, const char* key, int def, int lo, int hi) const {
        int v = Integer(section, key, def);
        return (v < lo || v > hi) ? def : v;
    }
    bool Boolean(const char* section, const char* key, bool def) const { return Integer(section, key, def ? 1 : 0) != 0; }
    // A setting kept in a byte: the low 8 bits of the number, then it must name one of its values.
    template <class Enum>
    Enum Byte(const char* section, const char* key, Enum def, int highest) const {
        int v = Integer(section, key, static_cast<int>(def)) & 0xFF;
        return v > highest ? def : static_cast<Enum>(v);
    }
    AnsiString String(const char* section, const char* key) const {
        auto text = doc_.Get(section, key);
        if (!text) return {};
        std::string_view utf8 = *text;
        utf8 = utf8.substr(0, utf8.find('\0'));  // no path or pattern holds a NUL
        AnsiString value;
        if (!TryToAnsi(utf8, value)) return {};
        return value;
    }

private:
    const TIniDocument& doc_;
};

// Writing side.
class Writer {
public:
    explicit Writer(TIniDocument& doc) : doc_(doc) {}
    void Integer(const char* section, const char* key, int v) { doc_.Set(section, key, std::to_string(v)); }
    void Boolean(const char* section, const char* key, bool v) { doc_.Set(section, key, v ? "1" : "0"); }
    template <class Enum>
    void Byte(const char* section, const char* key, Enum v) { Integer(section, key, static_cast<int>(v)); }
    void String(const char* section, const char* key, const AnsiString& v) { doc_.Set(section, key, FromAnsi(v)); }

private:
    TIniDocument& doc_;
};

std::string MruKey(const char* prefix, int index) { return prefix + std::to_string(index); }

bool IsHostFolderWritable(const std::string& folder) { return access(folder.c_str(), W_OK) == 0; }

bool HostFileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// Creates the missing folders of path's parent chain.
void MakeParentFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0777);
}

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadHostFile(const std::string& path, std::string& bytes, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        error = std::string("cannot open: ") + std::strerror(errno);
        return ReadResult::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        error = "not a settings file (a folder, a device or far too large)";
        close(fd);
        return ReadResult::Failed;
    }
    bytes.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read: ") + std::strerror(errno);
            close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxFileSize) {
            error = "far too large for a settings file";
            close(fd);
            return ReadResult::Failed;
        }
    }
    close(fd);
    return ReadResult::Ok;
}

}  // namespace

TIniControl::TIniControl() : fileName_(DefaultFileName()) {}
TIniControl::TIniControl(AnsiString fileName) : fileName_(std::move(fileName)) {}

AnsiString TIniControl::DefaultFileName() {
    const AnsiString programFolder = ProgramFolder();
    if (!programFolder.empty()) {
        const std::string folder = FromAnsi(programFolder);
        const std::string beside = folder + "/" + kFileName;
        // Every folder is writable for the superuser; a system-wide install must not gain a
        // settings file in /usr/bin just because the program once ran as root.
        if (IsHostFolderWritable(folder) && (geteuid() != 0 || HostFileExists(beside)))
            return programFolder + "/" + kFileName;
    }
    return ConfigHomeFolder() + "/norvex/" + kFileName;
}

void TIniControl::LoadFromBytes(std::string_view bytes, SettingsBlock& s, const TWindowMetrics& m) {
    const TIniDocument doc = TIniDocument::Parse(bytes);
    const Reader r(doc);

    s.WindowX = r.Integer("App", "WindowX", m.ScreenWidth / 2 - m.WindowWidth / 2);
    s.WindowY = r.Integer("App", "WindowY", m.ScreenHeight / 2 - m.WindowHeight / 2);

    s.PutLocation = r.Byte("Main", "PutLocation", TPutLocation::BesideArchive, 6);
    s.AfterMethod = r.Byte("Main", "AfterMethod", TAfterMethod::Nothing, 3);
    s.OverWrite = r.Byte("Main", "OverWrite", TOverWrite::Ask, 3);
    s.IgnoreDirectory = r.Boolean("Main", "IgnoreDirectory", false);
    s.PreTestArc = r.Boolean("Main", "PreTestArc", true);
    s.SpecialFolder = r.String("Main", "SpecialFolder");
    s.MoveFolder = r.String("Main", "MoveFolder");
    s.FileSpec = r.String("Main", "FileSpec");
    s.BuffMegaSize = r.Integer("Main", "BuffMegaSize", 15, 5, 100);
    // Only the simple (0) and complete (1) checks exist; a stored 2 has always meant complete.
    s.PreTestMode = r.Integer("Main", "PreTestMode", 1) == 0 ? TPreTestMode::Simple : TPreTestMode::Complete;

    s.BindFolder = r.Boolean("Sub_Bind", "BindFolder", true);
    s.BindNum = r.Integer("Sub_Bind", "BindNum", 2, 0, 100);
    s.SameFolderProc = r.Byte(kSameFolderProcSection, "SameFolderProc", TSameFolderProc::MoveAside, 1);

    s.ConfirmIgnore = r.Boolean("Sub_Confirm", "ConfirmIgnore", true);
    s.ConfirmSendTo = r.Boolean("Sub_Confirm", "ConfirmSendTo", false);
    s.ConfirmDelete = r.Boolean("Sub_Confirm", "ConfirmDelete", true);
    s.ShowEndDlg = r.Boolean("Sub_Confirm", "ShowEndDlg", false);

    s.ResistSendTo = r.Boolean("Sub_Environment", "ResistSendTo", false);
    s.ResistShell = r.Boolean("Sub_Environment", "ResistShell", false);

    s.AlertAbsExpand = r.Boolean("Sub_Security", "AlertAbsExpand", true);
    s.CheckDangerPath = r.Boolean("Sub_Security", "CheckDangerPath", true);

    s.DelFolderNum = r.Boolean("Sub_TailCut", "DelFolderNum", false);

    s.IndicatePerFile = r.Boolean("Sub_Other", "IndicatePerFile", true);
    s.CmdHideWnd = r.Boolean("Sub_Other", "CmdHideWnd", true);
    s.CheckDiv = r.Boolean("Sub_Other", "CheckDiv", true);
    s.IgnoredSingleBind = r.Boolean("Sub_Other", "IgnoredSingleBind", true);
    s.ExtraFormats = r.Boolean("Sub_Other", "ExtraFormats", true);
    s.ClearAll = r.Boolean(kClearAllSection, "ClearAll", true);
    s.SpecialExt = r.Boolean(kSpecialExtSection, "SpecialExt", false);

    for (int i = 0; i < kMruCount; ++i) {
        s.MRU_SpecialFolder[i] = r.String("MRU_SpecialFolder", MruKey(kMruSpecialPrefix, i).c_str());
        s.MRU_MoveFolder[i] = r.String("MRU_MoveFolder", MruKey(kMruMovePrefix, i).c_str());
    }
    s.Favorite0 = r.String("Favorite", "Favorite0");
    s.Favorite1 = r.String("Favorite", "Favorite1");
    s.Favorite2 = r.String("Favorite", "Favorite2");
}

std::string TIniControl::SaveToBytes(const SettingsBlock& s, std::string_view existing) {
    TIniDocument doc = TIniDocument::Parse(existing);
    Writer w(doc);

    w.Integer("App", "WindowX", s.WindowX);
    w.Integer("App", "WindowY", s.WindowY);

    w.Byte("Main", "PutLocation", s.PutLocation);
    w.Byte("Main", "AfterMethod", s.AfterMethod);
    w.Boolean("Main", "PreTestArc", s.PreTestArc);
    w.Integer("Main", "PreTestMode", static_cast<int>(s.PreTestMode));
    w.String("Main", "SpecialFolder", s.SpecialFolder);
    w.String("Main", "MoveFolder", s.MoveFolder);
    w.Byte("Main", "OverWrite", s.OverWrite);
    w.String("Main", "FileSpec", s.FileSpec);
    w.Integer("Main", "BuffMegaSize", s.BuffMegaSize);
    w.Boolean("Main", "IgnoreDirectory", s.IgnoreDirectory);

    w.Boolean("Sub_Confirm", "ConfirmSendTo", s.ConfirmSendTo);
    w.Boolean("Sub_Confirm", "ShowEndDlg", s.ShowEndDlg);
    w.Boolean("Sub_Confirm", "ConfirmDelete", s.ConfirmDelete);
    w.Boolean("Sub_Confirm", "ConfirmIgnore", s.ConfirmIgnore);

    w.Boolean("Sub_Bind", "BindFolder", s.BindFolder);
    w.Boolean("Sub_Bind", "PreventOverlapping", s.PreventOverlapping);
    w.Integer("Sub_Bind", "BindNum", s.BindNum);
    w.Byte(kSameFolderProcSection, "SameFolderProc", s.SameFolderProc);

    w.Boolean("Sub_Environment", "ResistSendTo", s.ResistSendTo);
    w.Boolean("Sub_Environment", "ResistShell", s.ResistShell);

    w.Boolean("Sub_Security", "CheckDangerPath", s.CheckDangerPath);
    w.Boolean("Sub_Security", "AlertAbsExpand", s.AlertAbsExpand);

    w.Boolean("Sub_TailCut", "DelFolderNum", s.DelFolderNum);

    w.Boolean("Sub_Other", "CheckDiv", s.CheckDiv);
    w.Boolean("Sub_Other", "IndicatePerFile", s.IndicatePerFile);
    w.Boolean("Sub_Other", "CmdHideWnd", s.CmdHideWnd);
    w.Boolean("Sub_Other", "IgnoredSingleBind", s.IgnoredSingleBind);
    w.Boolean("Sub_Other", "ExtraFormats", s.ExtraFormats);
    w.Boolean(kClearAllSection, "ClearAll", s.ClearAll);
    w.Boolean(kSpecialExtSection, "SpecialExt", s.SpecialExt);

    for (int i = 0; i < kMruCount; ++i) {
        w.String("MRU_SpecialFolder", MruKey(kMruSpecialPrefix, i).c_str(), s.MRU_SpecialFolder[i]);
        w.String("MRU_MoveFolder", MruKey(kMruMovePrefix, i).c_str(), s.MRU_MoveFolder[i]);
    }
    w.String("Favorite", "Favorite0", s.Favorite0);
    w.String("Favorite", "Favorite1", s.Favorite1);
    w.String("Favorite", "Favorite2", s.Favorite2);
    return doc.Serialize();
}

bool TIniControl::Load(SettingsBlock& s, const TWindowMetrics& metrics) const {
    lastError_.clear();
    std::string bytes;
    ReadResult result = ReadHostFile(FromAnsi(fileName_), bytes, lastError_);
    if (result != ReadResult::Ok) bytes.clear();
    try {
        LoadFromBytes(bytes, s, metrics);
    } catch (const std::exception& e) {  // nothing in the reading throws but a full carrier table
        lastError_ = e.what();
        LoadFromBytes({}, s, metrics);
        return false;
    }
    return result == ReadResult::Ok;
}

bool TIniControl::Save(const SettingsBlock& s) const {
    lastError_.clear();
    try {
        const std::string path = FromAnsi(fileName_);
        std::string existing, ignored;
        // A file that cannot be read is replaced by a fresh one; it could not have been loaded either.
        if (ReadHostFile(path, existing, ignored) != ReadResult::Ok) existing.clear();
        const std::string bytes = SaveToBytes(s, existing);
        MakeParentFolders(path);
        return WriteFileAtomically(path, bytes, &lastError_);
    } catch (const std::exception& e) {
        lastError_ = e.what();
        return false;
    }
}

}  // namespace norvex
