// The check of folder settings before a run.
#include "engine/FolderSettings.h"

#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"

namespace norvex {

using namespace norvex::literals;

bool IsUsableFolderSetting(const AnsiString& path) { return !path.empty() && path[0] == PathDelim; }

AnsiString RefusedFolderNotice(const AnsiString& key, const AnsiString& value) {
    const bool windows = value.size() >= 2 && value[1] == ':';
    // The value comes from a settings file that may be anyone's (--ini): its control characters are
    // shown escaped, never sent to the terminal or laid out as lines of the notice.
    return "フォルダエラー: 設定 "_ansi + key + " = \"" + ShownName(value) + "\"\r" +
           (windows ? "Windows のフォルダは使えません。"_ansi : "相対パスは使えません。"_ansi) +
           "「/」で始まるフォルダを指定してください。"_ansi;
}

}  // namespace norvex
