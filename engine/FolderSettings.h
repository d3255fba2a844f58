// Folder settings a run may use. A folder that came over from Windows ("C:\Users\me\展開") or that
// is relative ("展開", "~/out") would be made inside whatever folder the program was started in;
// the run refuses it instead and names the setting.
#pragma once
#include "platform/AnsiString.h"

namespace norvex {

// True for an absolute host path ("/..."): the only kind a folder setting may hold. "\\" and ":" are
// ordinary characters after the leading "/".
bool IsUsableFolderSetting(const AnsiString& path);

// The notice for a refused folder setting: its ini key and its value.
AnsiString RefusedFolderNotice(const AnsiString& key, const AnsiString& value);

}  // namespace norvex
