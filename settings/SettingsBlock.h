// The one process-wide record of Norvex: every ini-backed setting (named by its ini key), the run
// flags and per-archive job state, and the shell's run state. Everyone reads and writes it directly.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "platform/AnsiString.h"

namespace norvex {

// Destination kind (`PutLocation`); the numbers are stored in the ini file.
enum class TPutLocation : std::uint8_t {
    BesideArchive = 0,  // "書庫と同じ場所"
    SpecialFolder = 1,  // "指定フォルダ"
    Favorite0 = 2,      // "お決まりフォルダ１"
    Favorite1 = 3,
    Favorite2 = 4,
    MyDocuments = 5,  // "マイドキュメント"
    Desktop = 6,      // "デスクトップ"
};

// After-processing of an extracted archive (`AfterMethod`).
enum class TAfterMethod : std::uint8_t {
    Nothing = 0,  // "何もしない"
    Delete = 1,   // "削除する"
    Trash = 2,    // "ごみ箱へ移動"
    Move = 3,     // "フォルダへ移動" (into `MoveFolder`)
};

// Existing files of the same name (`OverWrite`).
enum class TOverWrite : std::uint8_t {
    Ask = 0,        // "確認する"
    Overwrite = 1,  // "上書きする"
    Skip = 2,       // "スキップする"
    IfNewer = 3,    // "新しければ上書き"
};

// A folder to be created already exists (`SameFolderProc`).
enum class TSameFolderProc : std::uint8_t {
    MoveAside = 0,  // keep the old one as name + "_old" + number
    Replace = 1,    // delete or overwrite the old one
};

// Header check before extraction (`PreTestMode`).
enum class TPreTestMode : std::int32_t {
    Simple = 0,    // "簡易ヘッダチェック"
    Complete = 1,  // "完全ヘッダチェック"
};

// `RunState`: one byte. The window sets Starting, Breaking and Idle; the worker sets Testing and
// Extracting, and Breaking when its progress callback finds the break flag set.
enum class TRunState : std::uint8_t {
    Idle = 0,
    Starting = 1,
    Testing = 2,
    Extracting = 3,
    Breaking = 4,
};

// An atomic that the record can still be copied with (copying is for tests and resets, never
// concurrent with a run). Reads and writes are sequentially consistent.
template <class T>
struct SharedValue : std::atomic<T> {
    SharedValue() noexcept : std::atomic<T>(T{}) {}
    constexpr SharedValue(T v) noexcept : std::atomic<T>(v) {}
    SharedValue(const SharedValue& o) noexcept : std::atomic<T>(o.load()) {}
    SharedValue& operator=(const SharedValue& o) noexcept {
        this->store(o.load());
        return *this;
    }
    SharedValue& operator=(T v) noexcept {
        this->store(v);
        return *this;
    }
};

// Indices of the archiver DLL table, in its fixed order.
// Dll7Z follows the seven of the classic table.
enum TDllIndex : int { DllLHA = 0, DllZIP = 1, DllCAB = 2, DllRAR = 3, DllARJ = 4, DllTAR = 5, DllGCA = 6, Dll7Z = 7 };
inline constexpr int kDllCount = 8;
inline constexpr int kMruCount = 6;

struct SettingsBlock {
    // ---- ini-backed settings, named by their keys; the initialisers are the defaults ----

    // [App]. The defaults depend on the screen and window size; the loader computes them.
    int WindowX = 0;
    int WindowY = 0;

    // [Main]
    TPutLocation PutLocation = TPutLocation::BesideArchive;
    TAfterMethod AfterMethod = TAfterMethod::Nothing;
    TOverWrite OverWrite = TOverWrite::Ask;
    bool IgnoreDirectory = false;
    bool PreTestArc = true;
    TPreTestMode PreTestMode = TPreTestMode::Complete;
    AnsiString SpecialFolder;
    AnsiString MoveFolder;
    AnsiString FileSpec;
    int BuffMegaSize = 15;

    // [Sub_Bind]
    bool BindFolder = true;
    int BindNum = 2;
    bool PreventOverlapping = false;  // written only; never read back
    TSameFolderProc SameFolderProc = TSameFolderProc::MoveAside;

    // [Sub_Confirm]
    bool ConfirmIgnore = true;
    bool ConfirmSendTo = false;
    bool ConfirmDelete = true;
    bool ShowEndDlg = false;

    // [Sub_Environment]
    bool ResistSendTo = false;
    bool ResistShell = false;

    // [Sub_Security]
    bool AlertAbsExpand = true;
    bool CheckDangerPath = true;

    // [Sub_TailCut]
    bool DelFolderNum = false;

    // [Sub_Other]
    bool IndicatePerFile = true;
    bool CmdHideWnd = true;
    bool CheckDiv = true;
    bool IgnoredSingleBind = true;
    bool ClearAll = true;
    bool ExtraFormats = true;  // 7z and the tar family are extracted too

    // [Sub]
    bool SpecialExt = false;

    // [MRU_SpecialFolder] "SpeciaFolder0".."SpeciaFolder5" and [MRU_MoveFolder] "MoveFolder0"..
    // "MoveFolder5": index 0 is the most recent.
    std::array<AnsiString, kMruCount> MRU_SpecialFolder;
    std::array<AnsiString, kMruCount> MRU_MoveFolder;

    // [Favorite]
    AnsiString Favorite0;
    AnsiString Favorite1;
    AnsiString Favorite2;

    // ---- not stored: the shell's state ----

    AnsiString Title;               // "Norvex", set first in main-window creation
    bool CommandLineMode = false;   // started with at least one argument
    TAfterMethod SavedAfterMethod = TAfterMethod::Nothing;  // before a command-line switch
    TPutLocation SavedPutLocation = TPutLocation::BesideArchive;
    SharedValue<TRunState> RunState{TRunState::Idle};
    bool RunActive = false;         // a run is under way (cleared by FinishRun)
    int LogLineCount = 0;           // lines appended to the log since start or the last clear
    // Association choices of the options dialog, and whether the program-menu link was made.
    bool AssocZip = false, AssocRar = false, AssocLzh = false, AssocCab = false;
    bool AssocTar = false, AssocGca = false;
    bool ProgramMenuCreated = false;

    // ---- not stored: the run flags and per-archive job state ----

    bool CompressMode = false;      // the run packs instead of extracting
    AnsiString DestFolder;          // destination of the current archive
    AnsiString CurrentArchiveName;  // full path of the current archive; replaces "%src" in the log
    AnsiString OldFolderName;       // new name of a same-name bind folder moved aside; never cleared
    AnsiString CurrentExt;          // lower-case extension of the current archive, with its dot
    double TotalSize = 0;           // sum of the uncompressed sizes of the current archive
    bool SameNameBindFolder = false;
    SharedValue<bool> CancelAll{false};       // a break reached the archiver
    bool SplitArchive = false;
    SharedValue<bool> BreakRequested{false};  // written by the window while the worker runs
    bool AbortRun = false;
    bool SkipArchive = false;
    bool BindFolderCreated = false;
    AnsiString TopElementPath;
    bool TopElementExisted = false;
    bool ExtractionFailed = false;
    // Result of the DLL check per table index (TDllIndex); LHA, ZIP, CAB, RAR, TAR and 7Z are filled.
    std::array<bool, kDllCount> DllPresent{};

    // The favourite folder of a destination kind 2..4 (index 0..2).
    const AnsiString& Favorite(int index) const {
        return index <= 0 ? Favorite0 : index == 1 ? Favorite1 : Favorite2;
    }
    AnsiString& Favorite(int index) { return index <= 0 ? Favorite0 : index == 1 ? Favorite1 : Favorite2; }
};

// The process-wide instance.
extern SettingsBlock Settings;

}  // namespace norvex
