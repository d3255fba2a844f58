// TIniControl: loads the ini-backed fields of the SettingsBlock from the settings file and saves them
// back. Where the file lives: DefaultFileName(); the caller may name another (norvex-cli --ini FILE).
//
// Load fills every ini-backed field; a missing file, section or key gives the default, and so does
// a value that cannot be read or lies outside what the setting can hold. Save writes every written
// key in a fixed order, atomically, in UTF-8; keys and lines it does not know are kept.
#pragma once
#include <string>
#include <string_view>

#include "platform/AnsiString.h"
#include "settings/SettingsBlock.h"

namespace norvex {

// What the default window position is computed from: the window is centred on the screen.
struct TWindowMetrics {
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    int WindowWidth = 0;
    int WindowHeight = 0;
};

class TIniControl {
public:
    // The settings file at its default place.
    TIniControl();
    // The settings file at fileName (cp932).
    explicit TIniControl(AnsiString fileName);

    const AnsiString& FileName() const { return fileName_; }

    // The default place of the settings file: "Norvex.ini" beside the program when the program's
    // folder is writable (portable use; for the superuser only when the file is already there),
    // else $XDG_CONFIG_HOME/norvex/Norvex.ini.
    static AnsiString DefaultFileName();

    // Fills the ini-backed fields of s from the file. Returns true when the file existed and was
    // read; false when it was missing or unreadable (s then holds the defaults). Never throws.
    bool Load(SettingsBlock& s, const TWindowMetrics& metrics = {}) const;
    bool Load() const { return Load(Settings); }

    // Writes the ini-backed fields of s. The caller first takes the window position into WindowX
    // and WindowY and the drop-down lists into the MRU arrays. Creates the file (and, for the XDG
    // place, its folder) when missing. Returns false when the file could not be written; the old
    // file is then left whole. Never throws.
    bool Save(const SettingsBlock& s) const;
    bool Save() const { return Save(Settings); }

    // Why the last Save or Load failed (UTF-8), empty after a success.
    const std::string& LastError() const { return lastError_; }

    // The same operations on file bytes instead of a file: Load from the bytes of a file, and the
    // bytes Save would write over a file that held existing (empty for a new file).
    static void LoadFromBytes(std::string_view bytes, SettingsBlock& s, const TWindowMetrics& metrics = {});
    static std::string SaveToBytes(const SettingsBlock& s, std::string_view existing = {});

private:
    AnsiString fileName_;
    mutable std::string lastError_;
};

}  // namespace norvex
