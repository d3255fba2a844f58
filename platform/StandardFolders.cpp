// The program's own path from /proc, and the XDG base and user folders.
#include "platform/StandardFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/AnsiCodec.h"

namespace norvex {
namespace {

std::string HostHome() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

bool IsHostFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads XDG_<key>_DIR from the user-dirs file: a line such as XDG_DOCUMENTS_DIR="$HOME/Documents".
std::string UserDir(const char* key, const char* fallbackName) {
    const std::string home = HostHome();
    std::string file = FromAnsi(ConfigHomeFolder()) + "/user-dirs.dirs";
    std::ifstream in(file);
    const std::string wanted = std::string("XDG_") + key + "_DIR=";
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(wanted, 0) != 0) continue;
        std::string value = line.substr(wanted.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
        if (!value.empty() && value[0] == '/' && IsHostFolder(value)) return value;
    }
    const std::string fallback = home + "/" + fallbackName;
    return IsHostFolder(fallback) ? fallback : home;
}

std::string BaseDir(const char* variable, const char* fallbackUnderHome) {
    if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
    return HostHome() + "/" + fallbackUnderHome;
}

}  // namespace

AnsiString ProgramPath() {
    // Read once: the program does not move while it runs (and a program file replaced by an update
    // would read as "... (deleted)" afterwards), while the module loader asks on every load.
    static const AnsiString path = [] {
        char buf[4096];
        const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        return n <= 0 ? AnsiString() : ToAnsi(std::string(buf, static_cast<size_t>(n)));
    }();
    return path;
}

AnsiString ProgramFolder() {
    static const AnsiString folder = [] {
        const AnsiString path = ProgramPath();
        const size_t pos = AnsiLastDelimiter(path, "/");
        return pos == AnsiString::npos ? AnsiString(".") : path.substr(0, pos);
    }();
    return folder;
}

AnsiString HomeFolder() { return ToAnsi(HostHome()); }
AnsiString DocumentsFolder() { return ToAnsi(UserDir("DOCUMENTS", "Documents")); }
AnsiString DesktopFolder() { return ToAnsi(UserDir("DESKTOP", "Desktop")); }
AnsiString ConfigHomeFolder() { return ToAnsi(BaseDir("XDG_CONFIG_HOME", ".config")); }
AnsiString DataHomeFolder() { return ToAnsi(BaseDir("XDG_DATA_HOME", ".local/share")); }

}  // namespace norvex
