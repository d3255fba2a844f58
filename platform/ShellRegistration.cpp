// The shell entries as freedesktop.org desktop entries, mimeapps.list associations and the context-menu
// files of the common file managers, all in the user's XDG folders.
#include "platform/ShellRegistration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "platform/AnsiCodec.h"
#include "platform/StandardFolders.h"

extern char** environ;

namespace norvex {

const std::array<TShellVerb, 3> kShellVerbs = {{
    {"NorvexDelete", "解凍 + 削除", "-d"},
    {"NorvexTrash", "解凍 + ごみ箱", "-t"},
    {"NorvexOnly", "解凍 + そのまま", "-k"},
}};

namespace {

namespace fs = std::filesystem;

constexpr const char* kAssociationEntry = "NorvexPlus.desktop";
// The program's own entry, installed with it; the user's menu entry never takes this id.
constexpr const char* kInstalledEntry = "norvex.desktop";
constexpr const char* kMenuEntry = "NorvexMenu.desktop";
constexpr const char* kMenuComment = "書庫をまとめて解凍します";
constexpr const char* kDefaultGroup = "Default Applications";
constexpr const char* kFormerGroup = "Former Defaults";
constexpr const char* kThunarIdPrefix = "norvex-";

struct TArchiveType {
    const char* extension;
    const char* mimeType;
    const char* patterns;  // for file managers that match names instead of types
};
// The type names of this system's shared-mime-info (lzh is "application/x-lha", with
// "application/x-lzh-compressed" as its alias).
constexpr TArchiveType kArchiveTypes[] = {
    {"zip", "application/zip", "*.zip"},
    {"rar", "application/vnd.rar", "*.rar"},
    {"cab", "application/vnd.ms-cab-compressed", "*.cab"},
    {"lzh", "application/x-lha", "*.lzh;*.lha"},
};

// ---- files ----------------------------------------------------------------------------------------

std::string DataHome() { return FromAnsi(DataHomeFolder()); }
std::string ConfigHome() { return FromAnsi(ConfigHomeFolder()); }
std::string ApplicationsFolder() { return DataHome() + "/applications"; }

enum class TRead { Ok, Missing, Error };

TRead ReadText(const std::string& path, std::string& out) {
    out.clear();
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (st.type() == fs::file_type::not_found) return TRead::Missing;  // a dangling link holds nothing either
    if (ec || st.type() != fs::file_type::regular) return TRead::Error;
    std::ifstream in(path, std::ios::binary);
    if (!in) return TRead::Error;
    std::ostringstream buf;
    buf << in.rdbuf();
    if (in.bad()) return TRead::Error;
    out = buf.str();
    return TRead::Ok;
}

// Replaces path's content atomically (a temporary file in the same folder, then a rename). A symbolic
// link is kept: its target is replaced. mode < 0 keeps an existing file's permissions (0644 for new).
bool WriteTextAtomic(const std::string& path, const std::string& content, int mode = -1) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec) return false;
        target = resolved;
    }
    fs::create_directories(target.parent_path(), ec);
    if (ec) return false;
    if (mode < 0) {
        struct stat st {};
        mode = stat(target.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0644;
    }
    std::string temp = target.string() + ".norvex-XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && fchmod(fd, static_cast<mode_t>(mode)) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

// Writes only when the content differs, so that an unchanged state touches no file.
bool WriteIfChanged(const std::string& path, const std::string& content, int mode = -1) {
    std::string old;
    TRead r = ReadText(path, old);
    if (r == TRead::Error) return false;
    if (r == TRead::Ok && old == content) {
        if (mode >= 0) {
            struct stat st {};
            if (stat(path.c_str(), &st) == 0 && static_cast<int>(st.st_mode & 07777) != mode)
                return chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
        }
        return true;
    }
    return WriteTextAtomic(path, content, mode);
}

// Removes a file; one that is already gone is no error.
bool RemoveFileIfAny(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
    return !ec;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Runs a helper tool quietly and waits for it; a missing tool is no error.
void RunQuietly(std::vector<std::string> argv) {
    if (!OnPath(argv[0].c_str())) return;
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

// Tells the desktop that applications and associations changed: rebuilds the user's mimeinfo.cache.
void NotifyAssociationsChanged() {
    std::string apps = ApplicationsFolder();
    if (IsFolder(apps)) RunQuietly({"update-desktop-database", "-q", apps});
}

// ---- key files (desktop entries, mimeapps.list) -----------------------------------------------------

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> SplitList(const std::string& value) {
    std::vector<std::string> items;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ';')) {
        item = Trim(item);
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

// A key file edited line by line, so that comments, order and everything we do not touch stay as the
// user had them.
class TKeyFile {
public:
    explicit TKeyFile(const std::string& text) {
        std::stringstream in(text);
        std::string line;
        while (std::getline(in, line)) lines_.push_back(line);
    }

    std::optional<std::string> Get(const std::string& group, const std::string& key) const {
        auto [begin, end] = GroupRange(group);
        for (size_t i = begin; i < end; ++i)
            if (KeyOf(lines_[i]) == key) return Trim(lines_[i].substr(lines_[i].find('=') + 1));
        return std::nullopt;
    }

    void Set(const std::string& group, const std::string& key, const std::string& value) {
        auto [begin, end] = GroupRange(group);
        if (begin == npos) {
            if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
            lines_.push_back("[" + group + "]");
            lines_.push_back(key + "=" + value);
            return;
        }
        for (size_t i = begin; i < end; ++i) {
            if (KeyOf(lines_[i]) == key) {
                lines_[i] = key + "=" + value;
                return;
            }
        }
        size_t at = end;
        while (at > begin && Trim(lines_[at - 1]).empty()) --at;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), key + "=" + value);
    }

    bool Remove(const std::string& group, const std::string& key) {
        auto [begin, end] = GroupRange(group);
        for (size_t i = begin; i < end; ++i) {
            if (KeyOf(lines_[i]) == key) {
                lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
                return true;
            }
        }
        return false;
    }

    // Every key of a group whose first listed value is id.
    bool AnyValueStartsWith(const std::string& group, const std::string& id) const {
        auto [begin, end] = GroupRange(group);
        for (size_t i = begin; i < end; ++i) {
            if (KeyOf(lines_[i]).empty()) continue;
            auto items = SplitList(lines_[i].substr(lines_[i].find('=') + 1));
            if (!items.empty() && items.front() == id) return true;
        }
        return false;
    }

    bool HasKeys() const {
        for (const auto& l : lines_)
            if (!KeyOf(l).empty()) return true;
        return false;
    }

    std::string Text() const {
        std::string out;
        for (const auto& l : lines_) out += l + "\n";
        return out;
    }

private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    static bool IsGroupLine(const std::string& line) {
        std::string t = Trim(line);
        return t.size() >= 2 && t.front() == '[' && t.back() == ']';
    }

    static std::string KeyOf(const std::string& line) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == '[') return {};
        size_t eq = line.find('=');
        return eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    }

    // [first line after the header, start of the next group); npos when the group is missing.
    std::pair<size_t, size_t> GroupRange(const std::string& group) const {
        for (size_t i = 0; i < lines_.size(); ++i) {
            if (!IsGroupLine(lines_[i]) || Trim(lines_[i]) != "[" + group + "]") continue;
            size_t end = i + 1;
            while (end < lines_.size() && !IsGroupLine(lines_[end])) ++end;
            return {i + 1, end};
        }
        return {npos, npos};
    }

    std::vector<std::string> lines_;
};

std::optional<std::string> FirstId(const std::optional<std::string>& value) {
    if (!value) return std::nullopt;
    auto items = SplitList(*value);
    if (items.empty()) return std::nullopt;
    return items.front();
}

// ---- text of the entries ------------------------------------------------------------------------------

// A string value of a desktop entry: backslash, newline, tab and carriage return are escaped.
std::string DesktopString(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

// One argument of an Exec value, before the string-level escaping: quoted when it holds a reserved
// character, with '"', '`', '$' and '\' escaped inside the quotes; '%' is always doubled.
std::string ExecArgument(const std::string& arg) {
    static const char kReserved[] = " \t\n\r\"'\\><~|&;$*?#()`";
    bool quote = arg.empty() || arg.find_first_of(kReserved, 0, sizeof kReserved - 1) != std::string::npos;
    std::string out;
    if (quote) out += '"';
    for (char c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
        if (c == '%') out += '%';
    }
    if (quote) out += '"';
    return out;
}

// A POSIX shell word: single quotes, with an embedded quote as '\''.
std::string ShellWord(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

std::string XmlText(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& i : items) out += i + ";";
    return out;
}

std::vector<std::string> AllArchiveTypes() {
    std::vector<std::string> out;
    for (const auto& t : kArchiveTypes) out.push_back(t.mimeType);
    return out;
}

// Sorted in the order of the archive table, so that the files do not change with the order of calls.
std::vector<std::string> Ordered(const std::set<std::string>& types) {
    std::vector<std::string> out;
    for (const auto& t : kArchiveTypes)
        if (types.count(t.mimeType)) out.push_back(t.mimeType);
    for (const auto& t : types)
        if (std::find(out.begin(), out.end(), t) == out.end()) out.push_back(t);
    return out;
}

std::string ProgramHostPath() { return FromAnsi(ProgramPath()); }

// The entries offered under "Open With" carry names that tell them apart and say what they do.
std::string SendToEntryText() {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Extract with Norvex (after-processing as set)\n"
           "Name[ja]=" + DesktopString("Norvex で解凍（後始末は設定どおり）") + "\n"
           "GenericName=" + DesktopString("書庫の一括解凍") + "\n"
           "Comment=" + DesktopString("選んだ書庫を Norvex で解凍します") + "\n"
           "Exec=" + DesktopExecLine(ProgramPath(), "", "%F") + "\n"
           "Path=" + DesktopString(FromAnsi(ProgramFolder())) + "\n"
           "Icon=norvex\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" + JoinList(AllArchiveTypes()) + "\n";
}

std::string ProgramMenuEntryText() {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Norvex\n"
           "GenericName=" + DesktopString("書庫の一括解凍") + "\n"
           "Comment=" + DesktopString(kMenuComment) + "\n"
           "Exec=" + DesktopExecLine(ProgramPath(), "", "") + "\n"
           "Path=" + DesktopString(FromAnsi(ProgramFolder())) + "\n"
           "Icon=norvex\n"
           "Terminal=false\n"
           "Categories=Utility;Archiving;Compression;\n";
}

// The association entry. Its own Exec, what a double click runs, is the gentlest verb: extract and
// keep the archive.
std::string AssociationEntryText(const std::vector<std::string>& types) {
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Extract with Norvex and keep the archive\n"
                       "Name[ja]=" + DesktopString("Norvex で解凍（書庫はそのまま）") + "\n"
                       "GenericName=" + DesktopString("書庫の一括解凍") + "\n"
                       "Comment=" + DesktopString("解凍 + そのまま") + "\n"
                       "Exec=" + DesktopExecLine(ProgramPath(), "-k", "%F") + "\n"
                       "Icon=norvex\n"
                       "Terminal=false\n"
                       "NoDisplay=true\n";
    if (!types.empty()) text += "MimeType=" + JoinList(types) + "\n";
    text += "Actions=";
    for (const auto& v : kShellVerbs) text += std::string(v.key) + ";";
    text += "\n";
    for (const auto& v : kShellVerbs) {
        text += std::string("\n[Desktop Action ") + v.key + "]\n";
        text += "Name=" + DesktopString(v.menuText) + "\n";
        text += "Icon=norvex\n";
        text += "Exec=" + DesktopExecLine(ProgramPath(), v.option, "%F") + "\n";
    }
    return text;
}

// The XDG data folders, the user's first: where an installed entry may live.
std::vector<std::string> DataFolders() {
    std::vector<std::string> folders{DataHome()};
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::stringstream list(dirs && *dirs ? dirs : "/usr/local/share:/usr/share");
    std::string dir;
    while (std::getline(list, dir, ':'))
        if (!dir.empty() && dir[0] == '/') folders.push_back(dir);
    return folders;
}

// The menu entry that earlier versions wrote into the user's folder under the installed entry's id,
// where it hid the installed entry's actions and types. Recognised by its comment and its lack of
// actions (the installed entry has both a different comment and actions).
bool IsLegacyMenuEntry(const std::string& path) {
    std::string text;
    if (ReadText(path, text) != TRead::Ok) return false;
    return text.find("\nComment=" + DesktopString(kMenuComment) + "\n") != std::string::npos &&
           text.find("\nActions=") == std::string::npos;
}

bool RemoveLegacyMenuEntry() {
    const std::string path = ApplicationsFolder() + "/" + kInstalledEntry;
    return !IsLegacyMenuEntry(path) || RemoveFileIfAny(path);
}

// ---- context menus of the file managers ---------------------------------------------------------------

struct TFileManager {
    std::vector<std::string> folders;  // any of them existing means the user has this file manager
    std::vector<const char*> programs;
};

bool Present(const TFileManager& fm) {
    for (const auto& f : fm.folders)
        if (IsFolder(f)) return true;
    for (const auto* p : fm.programs)
        if (OnPath(p)) return true;
    return false;
}

std::string KdeServiceMenuPath() { return DataHome() + "/kio/servicemenus/NorvexPlus.desktop"; }
std::string NemoActionPath(const TShellVerb& v) { return DataHome() + "/nemo/actions/norvex-" + v.key + ".nemo_action"; }
std::string NautilusScriptPath(const TShellVerb& v) { return DataHome() + "/nautilus/scripts/Norvex/" + v.menuText; }
std::string ThunarActionsPath() { return ConfigHome() + "/Thunar/uca.xml"; }

std::string KdeServiceMenuText(const std::vector<std::string>& types) {
    std::string text = "[Desktop Entry]\n"
                       "Type=Service\n"
                       "Name=Norvex\n"
                       "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                       "MimeType=" + JoinList(types) + "\n"
                       "Actions=";
    for (const auto& v : kShellVerbs) text += std::string(v.key) + ";";
    text += "\nX-KDE-Submenu=Norvex\n";
    for (const auto& v : kShellVerbs) {
        text += std::string("\n[Desktop Action ") + v.key + "]\n";
        text += "Name=" + DesktopString(v.menuText) + "\n";
        text += "Icon=norvex\n";
        text += "Exec=" + DesktopExecLine(ProgramPath(), v.option, "%F") + "\n";
    }
    return text;
}

std::string NemoActionText(const TShellVerb& v, const std::vector<std::string>& types) {
    return "[Nemo Action]\n"
           "Name=" + std::string(v.menuText) + "\n"
           "Comment=Norvex\n"
           "Exec=" + ShellWord(ProgramHostPath()) + " " + v.option + " %F\n"
           "Icon-Name=norvex\n"
           "Selection=notnone\n"
           "Mimetypes=" + JoinList(types) + "\n"
           "Quote=double\n";
}

std::string NautilusScriptText(const TShellVerb& v) {
    return "#!/bin/sh\n"
           "# Norvex: " + std::string(v.menuText) + "\n"
           "exec " + ShellWord(ProgramHostPath()) + " " + v.option + " \"$@\"\n";
}

std::string ThunarPatterns(const std::vector<std::string>& types) {
    std::string out;
    for (const auto& t : kArchiveTypes) {
        if (std::find(types.begin(), types.end(), t.mimeType) == types.end()) continue;
        if (!out.empty()) out += ";";
        out += t.patterns;
    }
    return out;
}

// Drops our <action> elements (those whose unique-id starts with "norvex-") from a uca.xml text.
std::string WithoutOurThunarActions(const std::string& xml) {
    std::string out = xml;
    size_t from = 0;
    for (;;) {
        size_t begin = out.find("<action>", from);
        if (begin == std::string::npos) break;
        size_t end = out.find("</action>", begin);
        if (end == std::string::npos) break;
        end += std::strlen("</action>");
        std::string block = out.substr(begin, end - begin);
        if (block.find(std::string("<unique-id>") + kThunarIdPrefix) == std::string::npos) {
            from = end;
            continue;
        }
        size_t lineStart = begin;
        while (lineStart > 0 && (out[lineStart - 1] == ' ' || out[lineStart - 1] == '\t')) --lineStart;
        if (end < out.size() && out[end] == '\n') ++end;
        out.erase(lineStart, end - lineStart);
        from = lineStart;
    }
    return out;
}

std::string ThunarActionsText(const std::vector<std::string>& types) {
    std::string out;
    for (const auto& v : kShellVerbs) {
        out += "<action>\n";
        out += "\t<icon>norvex</icon>\n";
        out += "\t<name>" + XmlText(v.menuText) + "</name>\n";
        out += "\t<unique-id>" + std::string(kThunarIdPrefix) + v.key + "</unique-id>\n";
        out += "\t<command>" + XmlText(ShellWord(ProgramHostPath()) + " " + v.option + " %F") + "</command>\n";
        out += "\t<description>Norvex</description>\n";
        out += "\t<patterns>" + XmlText(ThunarPatterns(types)) + "</patterns>\n";
        out += "\t<other-files/>\n";
        out += "</action>\n";
    }
    return out;
}

// The user's uca.xml with our actions for types (none: ours removed). A missing user file starts from
// the system's default actions, so that creating it does not hide them.
bool UpdateThunarActions(const std::vector<std::string>& types, bool present) {
    const std::string path = ThunarActionsPath();
    std::string xml;
    TRead r = ReadText(path, xml);
    if (r == TRead::Error) return false;
    if (r == TRead::Missing) {
        if (types.empty() || !present) return true;
        const char* dirs = std::getenv("XDG_CONFIG_DIRS");
        std::stringstream list(dirs && *dirs ? dirs : "/etc/xdg");
        std::string dir;
        while (xml.empty() && std::getline(list, dir, ':'))
            if (!dir.empty()) ReadText(dir + "/Thunar/uca.xml", xml);
        if (xml.find("</actions>") == std::string::npos)
            xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";
    }
    std::string updated = WithoutOurThunarActions(xml);
    if (!types.empty() && present) {
        size_t close = updated.rfind("</actions>");
        if (close == std::string::npos) return false;  // not a file we understand: leave it alone
        updated.insert(close, ThunarActionsText(types));
    }
    return updated == xml || WriteTextAtomic(path, updated);
}

// Brings every file manager's context menu to the verbs of types (empty: removes ours).
bool UpdateContextMenus(const std::vector<std::string>& types) {
    const std::string data = DataHome(), config = ConfigHome();
    bool ok = true;

    const TFileManager kde{{data + "/kio", data + "/dolphin", data + "/kservices5"}, {"dolphin", "konqueror"}};
    if (!types.empty() && Present(kde)) ok = WriteIfChanged(KdeServiceMenuPath(), KdeServiceMenuText(types), 0755) && ok;
    else ok = RemoveFileIfAny(KdeServiceMenuPath()) && ok;

    const TFileManager nemo{{data + "/nemo"}, {"nemo"}};
    bool withNemo = !types.empty() && Present(nemo);
    for (const auto& v : kShellVerbs) {
        if (withNemo) ok = WriteIfChanged(NemoActionPath(v), NemoActionText(v, types), 0644) && ok;
        else ok = RemoveFileIfAny(NemoActionPath(v)) && ok;
    }

    // Nautilus scripts cannot be limited to types: they are there while any type has our verbs.
    const TFileManager nautilus{{data + "/nautilus"}, {"nautilus"}};
    bool withNautilus = !types.empty() && Present(nautilus);
    for (const auto& v : kShellVerbs) {
        if (withNautilus) ok = WriteIfChanged(NautilusScriptPath(v), NautilusScriptText(v), 0755) && ok;
        else ok = RemoveFileIfAny(NautilusScriptPath(v)) && ok;
    }
    if (!withNautilus) {
        std::error_code ec;
        fs::remove(data + "/nautilus/scripts/Norvex", ec);  // only when empty
    }

    const TFileManager thunar{{config + "/Thunar"}, {"thunar"}};
    ok = UpdateThunarActions(types, Present(thunar)) && ok;
    return ok;
}

// The association entry and the context menus for types. The entry stays (without types) while a
// default in mimeapps still names it, so that the association the user keeps still resolves.
bool WriteVerbFiles(const std::vector<std::string>& types, const TKeyFile& mimeapps) {
    bool ok;
    if (types.empty() && !mimeapps.AnyValueStartsWith(kDefaultGroup, kAssociationEntry))
        ok = RemoveFileIfAny(FromAnsi(AssociationEntryPath()));
    else
        ok = WriteIfChanged(FromAnsi(AssociationEntryPath()), AssociationEntryText(types), 0644);
    return UpdateContextMenus(types) && ok;
}

bool ReadKeyFile(const std::string& path, std::optional<TKeyFile>& out) {
    std::string text;
    if (ReadText(path, text) == TRead::Error) return false;  // never rewrite what we could not read
    out.emplace(text);
    return true;
}

bool WriteKeyFile(const std::string& path, const TKeyFile& file) { return WriteIfChanged(path, file.Text()); }

}  // namespace

// ---- public operations ---------------------------------------------------------------------------------

std::string ArchiveMimeType(const AnsiString& extension) {
    std::string ext = extension;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& t : kArchiveTypes)
        if (ext == t.extension) return t.mimeType;
    return {};
}

AnsiString SendToLinkPath() { return ToAnsi(ApplicationsFolder() + "/NorvexSendTo.desktop"); }
AnsiString ProgramMenuLinkPath() { return ToAnsi(ApplicationsFolder() + "/" + kMenuEntry); }
AnsiString AssociationEntryPath() { return ToAnsi(ApplicationsFolder() + "/" + kAssociationEntry); }
AnsiString MimeAppsListPath() { return ToAnsi(ConfigHome() + "/mimeapps.list"); }
AnsiString FormerDefaultsPath() { return ToAnsi(ConfigHome() + "/norvex/former-defaults"); }

std::string DesktopExecLine(const AnsiString& program, const std::string& option, const std::string& fieldCode) {
    std::string line = ExecArgument(FromAnsi(program));
    if (!option.empty()) line += " " + option;
    if (!fieldCode.empty()) line += " " + fieldCode;
    return DesktopString(line);
}

bool SendToLinkExists() {
    try {
        return Exists(FromAnsi(SendToLinkPath()));
    } catch (...) {
        return false;
    }
}

TShellChange CreateSendToLink() {
    try {
        const std::string path = FromAnsi(SendToLinkPath());
        if (Exists(path)) return TShellChange::Unchanged;
        if (!WriteTextAtomic(path, SendToEntryText(), 0644)) return TShellChange::Failed;
        NotifyAssociationsChanged();
        return TShellChange::Done;
    } catch (...) {
        return TShellChange::Failed;
    }
}

TShellChange RemoveSendToLink() {
    try {
        const std::string path = FromAnsi(SendToLinkPath());
        if (!Exists(path)) return TShellChange::Unchanged;
        if (!RemoveFileIfAny(path)) return TShellChange::Failed;
        NotifyAssociationsChanged();
        return TShellChange::Done;
    } catch (...) {
        return TShellChange::Failed;
    }
}

bool InstalledMenuEntryExists() {
    try {
        for (const std::string& folder : DataFolders()) {
            const std::string path = folder + "/applications/" + kInstalledEntry;
            if (Exists(path) && !IsLegacyMenuEntry(path)) return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

bool ProgramMenuLinkExists() {
    try {
        return Exists(FromAnsi(ProgramMenuLinkPath())) || InstalledMenuEntryExists();
    } catch (...) {
        return false;
    }
}

bool CreateProgramMenuLink() {
    try {
        bool ok = RemoveLegacyMenuEntry();
        // The installed entry is the menu's Norvex, with its actions and types: a second entry
        // would only double it.
        if (InstalledMenuEntryExists()) return RemoveFileIfAny(FromAnsi(ProgramMenuLinkPath())) && ok;
        return WriteTextAtomic(FromAnsi(ProgramMenuLinkPath()), ProgramMenuEntryText(), 0644) && ok;
    } catch (...) {
        return false;
    }
}

bool RemoveProgramMenuLink() {
    try {
        const bool legacy = RemoveLegacyMenuEntry();
        return RemoveFileIfAny(FromAnsi(ProgramMenuLinkPath())) && legacy;
    } catch (...) {
        return false;
    }
}

std::vector<std::string> RegisteredVerbTypes() {
    try {
        std::string text;
        if (ReadText(FromAnsi(AssociationEntryPath()), text) != TRead::Ok) return {};
        auto value = TKeyFile(text).Get("Desktop Entry", "MimeType");
        return value ? SplitList(*value) : std::vector<std::string>{};
    } catch (...) {
        return {};
    }
}

std::vector<AnsiString> ContextMenuFiles() {
    std::vector<std::string> candidates = {KdeServiceMenuPath()};
    for (const auto& v : kShellVerbs) candidates.push_back(NemoActionPath(v));
    for (const auto& v : kShellVerbs) candidates.push_back(NautilusScriptPath(v));
    std::vector<AnsiString> out;
    for (const auto& c : candidates)
        if (Exists(c)) out.push_back(ToAnsi(c));
    std::string xml;
    if (ReadText(ThunarActionsPath(), xml) == TRead::Ok &&
        xml.find(std::string("<unique-id>") + kThunarIdPrefix) != std::string::npos)
        out.push_back(ToAnsi(ThunarActionsPath()));
    return out;
}

bool VerbsRegistered(const AnsiString& extension) {
    try {
        const std::string mime = ArchiveMimeType(extension);
        if (mime.empty()) return false;
        std::string text;
        if (ReadText(FromAnsi(MimeAppsListPath()), text) != TRead::Ok) return false;
        return FirstId(TKeyFile(text).Get(kDefaultGroup, mime)) == kAssociationEntry;
    } catch (...) {
        return false;
    }
}

bool RegisterVerbs(const AnsiString& extension) {
    try {
        const std::string mime = ArchiveMimeType(extension);
        if (mime.empty()) return false;
        const std::string mimeappsPath = FromAnsi(MimeAppsListPath());
        std::optional<TKeyFile> mimeapps;
        if (!ReadKeyFile(mimeappsPath, mimeapps)) return false;
        const auto current = mimeapps->Get(kDefaultGroup, mime);
        if (FirstId(current) == kAssociationEntry) return true;  // ours already: nothing is rewritten

        auto types = RegisteredVerbTypes();
        std::set<std::string> wanted(types.begin(), types.end());
        wanted.insert(mime);
        if (!WriteVerbFiles(Ordered(wanted), *mimeapps)) return false;

        // Record the former default before taking the type over; an empty value records its absence.
        const std::string recordPath = FromAnsi(FormerDefaultsPath());
        std::optional<TKeyFile> record;
        if (!ReadKeyFile(recordPath, record)) return false;
        record->Set(kFormerGroup, mime, FirstId(current) ? *current : std::string());
        if (!WriteKeyFile(recordPath, *record)) return false;

        mimeapps->Set(kDefaultGroup, mime, std::string(kAssociationEntry) + ";");
        if (!WriteKeyFile(mimeappsPath, *mimeapps)) return false;
        NotifyAssociationsChanged();
        return true;
    } catch (...) {
        return false;
    }
}

bool RemoveVerbs(const AnsiString& extension) {
    try {
        const std::string mime = ArchiveMimeType(extension);
        if (mime.empty()) return false;
        const std::string mimeappsPath = FromAnsi(MimeAppsListPath());
        std::optional<TKeyFile> mimeapps;
        if (!ReadKeyFile(mimeappsPath, mimeapps)) return false;

        auto types = RegisteredVerbTypes();
        const bool hadVerbs = std::find(types.begin(), types.end(), mime) != types.end();
        std::set<std::string> remaining(types.begin(), types.end());
        remaining.erase(mime);

        if (FirstId(mimeapps->Get(kDefaultGroup, mime)) != kAssociationEntry) {
            // Another application owns the type: its association is not ours to change. Verbs of ours
            // that were left for it (the user chose another default elsewhere) still go.
            if (!hadVerbs) return true;
            bool ok = WriteVerbFiles(Ordered(remaining), *mimeapps);
            NotifyAssociationsChanged();
            return ok;
        }

        const std::string recordPath = FromAnsi(FormerDefaultsPath());
        std::optional<TKeyFile> record;
        if (!ReadKeyFile(recordPath, record)) return false;
        if (auto former = record->Get(kFormerGroup, mime)) {
            if (former->empty()) mimeapps->Remove(kDefaultGroup, mime);
            else mimeapps->Set(kDefaultGroup, mime, *former);
            if (!WriteKeyFile(mimeappsPath, *mimeapps)) return false;
            record->Remove(kFormerGroup, mime);
            bool recorded = record->HasKeys() ? WriteKeyFile(recordPath, *record) : RemoveFileIfAny(recordPath);
            if (!recorded) return false;
        }
        bool ok = WriteVerbFiles(Ordered(remaining), *mimeapps);
        NotifyAssociationsChanged();
        return ok;
    } catch (...) {
        return false;
    }
}

}  // namespace norvex
