// The shell entries that hand archives to Norvex, as freedesktop.org files in the user's own XDG
// folders (never system-wide): the "SendTo" entry, the program-menu entry and the context-menu verbs
// of the association "NorvexPlus". The options dialog is the only caller.
//
// What is written, all under $XDG_DATA_HOME (D) and $XDG_CONFIG_HOME (C):
//   D/applications/NorvexSendTo.desktop   "Norvex" for the archive types, offered under "Open With"
//   D/applications/NorvexMenu.desktop     the program-menu entry, under its own id so that it never hides
//                                         the installed entry (norvex.desktop) and its actions and types;
//                                         when an installed entry exists it is not written at all
//   D/applications/NorvexPlus.desktop     the association: default action "-k", and the desktop actions
//                                         NorvexDelete ("-d"), NorvexTrash ("-t"), NorvexOnly ("-k");
//                                         its MimeType lists the types whose verbs are registered
//   C/mimeapps.list                       [Default Applications] <type>=NorvexPlus.desktop;
//   C/norvex/former-defaults              what the user's default for a type was before we took it over
//   the context menus of the common file managers, for the same types:
//   D/kio/servicemenus/NorvexPlus.desktop, D/nemo/actions/norvex-<verb>.nemo_action,
//   D/nautilus/scripts/Norvex/<menu text>, C/Thunar/uca.xml (our <action> elements only).
// A file manager's files are written only when that file manager has a folder of its own in the
// user's XDG folders or its program is on PATH; ours are removed wherever they are found.
//
// Every operation swallows its errors: a failure ends that operation with a false (or Failed) result
// and leaves the files it had not reached as they were.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "platform/AnsiString.h"

namespace norvex {

// The title, used as the entries' name, and the association name of the verbs.
inline constexpr const char* kShellTitle = "Norvex";
inline constexpr const char* kAssociationName = "NorvexPlus";

struct TShellVerb {
    const char* key;       // desktop action name
    const char* menuText;  // UTF-8
    const char* option;    // the command-line switch
};
// In registration order: NorvexDelete, NorvexTrash, NorvexOnly.
extern const std::array<TShellVerb, 3> kShellVerbs;

// The extensions the options dialog offers ("zip", "rar", "cab", "lzh"; a leading dot and the case are
// ignored) mapped to this system's MIME type names; an empty string for any other extension.
std::string ArchiveMimeType(const AnsiString& extension);

// Where the entries live (cp932 paths, derived from the XDG variables at each call).
AnsiString SendToLinkPath();
AnsiString ProgramMenuLinkPath();
AnsiString AssociationEntryPath();
AnsiString MimeAppsListPath();
AnsiString FormerDefaultsPath();

// The Exec value that starts the program with switch (empty: none) and the field code (empty: none),
// quoted as the desktop-entry format asks: only arguments with reserved characters are quoted.
std::string DesktopExecLine(const AnsiString& program, const std::string& option, const std::string& fieldCode);

enum class TShellChange {
    Failed,     // an error ended the operation
    Done,       // the entry was created or removed
    Unchanged,  // it already was as asked: nothing was written
};

// SendTo. Create writes the entry only when it does not exist yet (an existing file is left alone);
// the caller sets `ResistSendTo` on Done. Remove deletes an existing entry; `ResistSendTo` is
// cleared on Done.
bool SendToLinkExists();
TShellChange CreateSendToLink();
TShellChange RemoveSendToLink();

// The program-menu entry. Exists is true when the menu has Norvex: our entry or the installed one (in
// $XDG_DATA_HOME or $XDG_DATA_DIRS). Create replaces our file, or writes nothing (and removes ours)
// when the installed entry exists. Both Create and Remove take away the entry that earlier versions
// wrote under the installed entry's id.
bool InstalledMenuEntryExists();
bool ProgramMenuLinkExists();
bool CreateProgramMenuLink();
bool RemoveProgramMenuLink();

// The context-menu verbs of one extension. "Registered" means the user's mimeapps.list names
// NorvexPlus.desktop as the type's default application.
//
// Register: a type that is already ours is left exactly as it is (nothing is written). Otherwise the
// user's former default (or its absence) is recorded, the verbs are added for the type and the type's
// default becomes NorvexPlus.desktop.
// Remove: a type that another application owns keeps its association; only stale verbs of ours for it
// are dropped. A type that is ours loses its verbs; its former default is restored when we recorded
// it, otherwise the association to NorvexPlus stays.
bool VerbsRegistered(const AnsiString& extension);
bool RegisterVerbs(const AnsiString& extension);
bool RemoveVerbs(const AnsiString& extension);

// The MIME types whose verbs are registered now (read from NorvexPlus.desktop), and every context-menu
// file of the file managers that currently exists.
std::vector<std::string> RegisteredVerbTypes();
std::vector<AnsiString> ContextMenuFiles();

}  // namespace norvex
