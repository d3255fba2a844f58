// The texts of the refusal causes.
#include "engine/RefusalCauses.h"

#include <cerrno>

#include "archivers/ArchiverAbi.h"
#include "platform/AnsiCodec.h"

namespace norvex {

namespace {
constexpr const char* kReadOnly = "読み取り専用のファイルシステムです";
constexpr const char* kIoError = "ディスクの入出力エラーです";
constexpr const char* kTooManyOpen = "同時に開けるファイルの数の上限に達しています";
}  // namespace

AnsiString FileSystemFailureText(int err) {
    switch (err) {
        case EROFS: return ToAnsi(kReadOnly);
        case EIO: return ToAnsi(kIoError);
        case EMFILE:
        case ENFILE: return ToAnsi(kTooManyOpen);
        case EBUSY: return ToAnsi("使用中です");
        default: return {};
    }
}

AnsiString RefusalLine(int32_t cause, const AnsiString& name) {
    const char* text = nullptr;
    switch (cause) {
        case ARC_CAUSE_NAME_TOO_LONG: text = "名前がファイルシステムの上限より長いため作れません"; break;
        case ARC_CAUSE_DISK_FULL: text = "ディスクの空きが足りません"; break;
        case ARC_CAUSE_QUOTA: text = "ディスク使用量の割り当てを超えました"; break;
        case ARC_CAUSE_FILE_TOO_LARGE: text = "ファイルシステムが扱える大きさを超えています"; break;
        case ARC_CAUSE_READ_ONLY: text = kReadOnly; break;
        case ARC_CAUSE_PERMISSION: text = "書き込む権限がありません"; break;
        case ARC_CAUSE_NOT_A_FOLDER: text = "フォルダの位置に同名のファイルがあります"; break;
        case ARC_CAUSE_INVALID_NAME: text = "ファイルシステムがこの名前を受け付けません"; break;
        case ARC_CAUSE_IO_ERROR: text = kIoError; break;
        case ARC_CAUSE_TOO_MANY_OPEN: text = kTooManyOpen; break;
        default: return {};
    }
    return ToAnsi("> [ 展開できません ] ") + ToAnsi(text) + ": " + name;
}

}  // namespace norvex
