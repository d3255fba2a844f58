// Where things are: the program itself, the user's documents and desktop folders (XDG user dirs).
#pragma once
#include "platform/AnsiString.h"

namespace norvex {

// Full path of the running program, and its folder (cp932, no trailing separator); read once.
AnsiString ProgramPath();
AnsiString ProgramFolder();
// The user's home, documents and desktop folders. Documents and desktop follow the XDG user-dirs
// file (~/.config/user-dirs.dirs), falling back to ~/Documents and ~/Desktop, and to home when
// those do not exist.
AnsiString HomeFolder();
AnsiString DocumentsFolder();
AnsiString DesktopFolder();
// XDG base folders: $XDG_CONFIG_HOME or ~/.config, $XDG_DATA_HOME or ~/.local/share.
AnsiString ConfigHomeFolder();
AnsiString DataHomeFolder();

}  // namespace norvex
