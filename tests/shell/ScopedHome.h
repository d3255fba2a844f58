// A temporary home for one test: HOME and the XDG_DATA_* and XDG_CONFIG_* folders point into a
// scratch folder while the object lives, and the desktop is unknown (no XDG_CURRENT_DESKTOP), so that
// nothing a test registers reaches the real user's folders. Also snapshots of the folder's files.
#pragma once
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "tests/support/TempDir.h"

namespace norvex::test {

class ScopedHome {
public:
    ScopedHome() {
        for (const char* name : kVariables) {
            const char* v = std::getenv(name);
            saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
        }
        setenv("HOME", (dir_ / "home").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "home/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir_ / "home/.config").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (dir_ / "etc/xdg").c_str(), 1);
        setenv("XDG_DATA_DIRS", (dir_ / "usr/share").c_str(), 1);
        unsetenv("XDG_CURRENT_DESKTOP");
        unsetenv("KDE_FULL_SESSION");
        unsetenv("DESKTOP_SESSION");
        unsetenv("GNOME_DESKTOP_SESSION_ID");
        std::filesystem::create_directories(dir_ / "home/.local/share");
        std::filesystem::create_directories(dir_ / "home/.config");
    }
    ~ScopedHome() {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    std::string root() const { return dir_.path(); }
    std::string data(const std::string& rel) const { return dir_ / ("home/.local/share/" + rel); }
    std::string config(const std::string& rel) const { return dir_ / ("home/.config/" + rel); }
    // The system's data folder ($XDG_DATA_DIRS), where an installed program's entries live.
    std::string system(const std::string& rel) const { return dir_ / ("usr/share/" + rel); }

    // Every file below the scratch folder with its content and modification time.
    struct FileState {
        std::string content;
        long long mtimeNs = 0;
        unsigned mode = 0;
        bool operator==(const FileState&) const = default;
    };
    std::map<std::string, FileState> Snapshot() const {
        std::map<std::string, FileState> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
            if (!e.is_regular_file()) continue;
            struct stat st {};
            stat(e.path().c_str(), &st);
            files[e.path().string()] = {ReadFile(e.path().string()),
                                        st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                                        static_cast<unsigned>(st.st_mode)};
        }
        return files;
    }

private:
    static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS",
                                                 "XDG_CURRENT_DESKTOP", "KDE_FULL_SESSION", "DESKTOP_SESSION",
                                                 "GNOME_DESKTOP_SESSION_ID"};
    TempDir dir_;
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace norvex::test
