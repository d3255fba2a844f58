// TfrmMain: the main window. It holds the file list (the queue of archives), the destination and
// after-processing choices, the run controls, the progress display and the numbered log, starts the
// worker of a run and is the engine's host while the run lasts.
#pragma once
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "settings/SettingsBlock.h"
#include "ui/vclIconCache.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeWidget;

namespace norvex {
class TUnPack;
class TUnPackThread;
struct THandOver;
}

namespace norvex::ui {

class TfrmVersion;
class TCommandRuns;

// What the window is started with.
struct TMainWindowOptions {
    // The command-line arguments after the program path, as typed (already unquoted): the host's
    // bytes, so that names which are not UTF-8 reach the engine unchanged.
    std::vector<std::string> arguments;
    // The ini file; empty: the usual place (beside the program when writable, else the user's
    // configuration folder).
    QString iniPath;
};

class TfrmMain : public QMainWindow, public TEngineHost {
    Q_OBJECT
public:
    explicit TfrmMain(const TMainWindowOptions& options, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Runs the part of the creation that may start a run (the command line): called once the
    // window exists, before the event loop.
    void FormShowStart();

    // ---- Operations of the window ----
    void ShowStatus(const AnsiString& word) override;
    void AppendLog(const AnsiString& text) override;
    void AddFileToList(const AnsiString& path);
    void SetTopMost(bool on);
    bool TopMost() const;
    void RefreshModePanel();
    void FinishRun();
    void ControlsEnabled(bool on);
    void CheckDlls();
    // Adds dropped paths as the drop does (ignored while extracting); sizes in KB.
    void DropFiles(const QStringList& paths);
    void DropFiles(const std::vector<AnsiString>& paths);
    // The log pane's lines, for saving.
    QStringList LogLines() const;
    // Saves the log as UTF-8 text to name, ".txt" appended unless the name ends in exactly ".txt".
    // Returns the file written, or "" on failure (with the error in error).
    QString SaveLogTo(const QString& name, QString* error = nullptr);
    // The file SaveLogTo writes for name.
    static QString LogFileName(const QString& name);

    bool RunActive() const;
    // True while a worker exists (a run that has not ended yet).
    bool WorkerAlive() const { return worker_ != nullptr; }
    // Whether a run was started from the command line and has to close the window when it ends.
    bool CommandLineRun() const;
    // A later start's files (see TCommandRuns); false while the window is closing.
    bool HandOver(const THandOver& message);
    TCommandRuns& CommandRuns() { return *commandRuns_; }
    // True once a close has begun (no more hand-overs are taken).
    bool Closing() const { return inClose_ || closingAfterRun_ || closeOnSignal_; }
    // A break signal (ui/SignalBreak): the run is broken off as by the break button, no box waits for
    // an answer any more, and the window closes once the run has ended (at once without a run).
    void CloseOnSignal(const char* signalName);
    // Whether a signal broke a run off.
    bool BrokenOffBySignal() const { return brokenBySignal_; }
    // Sets the after-processing and shows it; ShowRunChoices shows AfterMethod and PutLocation as set.
    void SelectAfterMethod(TAfterMethod method);
    void ShowRunChoices();
    QString IniPath() const { return iniPath_; }

    // Where the next popup of the list opens (tests read the menu instead of opening it).
    QMenu* ListPopup() const { return pmList_; }

    // ---- TEngineHost ----
    void RunOnMainThread(const std::function<void()>& step) override;
    int FileCount() override;
    AnsiString FileAt(int index) override;
    void DeleteFileAt(int index) override;
    void AppendFile(const AnsiString& path) override;
    void FocusFile(int index) override;
    bool IsMinimized() override;
    void ShowEntryName(const AnsiString& name) override;
    void ShowFilePercent(int percent) override;
    void ShowTotalPercent(int percent) override;
    void EnableBreakButton() override;
    void RememberFolder(TFolderList list, const AnsiString& path) override;
    bool Ask(const AnsiString& caption, const AnsiString& text) override;
    void Notice(const AnsiString& caption, const AnsiString& text) override;
    int AskArchiver(int kind, const AnsiString& caption, const AnsiString& text,
                    AnsiString& answerText) override;
    void ProcessMessages() override;
    void EndApplication() override;

    // ---- Controls (named as in the design) ----
    QPushButton* btnUnPack = nullptr;
    QPushButton* btnClearList = nullptr;
    QPushButton* btnSearch = nullptr;
    QPushButton* btnCompress = nullptr;
    QPushButton* btnSuspendAndResume = nullptr;
    QPushButton* btnBreak = nullptr;
    QTreeWidget* lvFiles = nullptr;
    QLineEdit* txtFileName = nullptr;
    QProgressBar* progExpand = nullptr;
    QLabel* lblIndicate = nullptr;
    QProgressBar* progExpandGlobal = nullptr;
    QLabel* lblIndicateGlobal = nullptr;
    QCheckBox* chkIndicatePerFile = nullptr;
    QToolButton* btnIgnoreDirectory = nullptr;
    QCheckBox* chkSpecialExt = nullptr;
    QComboBox* txtExt = nullptr;
    QCheckBox* chkPretestArc = nullptr;
    QComboBox* cmbPreTestMode = nullptr;
    QLabel* lblOpenDirectory = nullptr;
    QComboBox* cmbOpenDirectory = nullptr;
    QComboBox* cmbSpecialFolder = nullptr;
    QPushButton* btnSelectFolder = nullptr;
    QPushButton* btnSpecialFolder = nullptr;
    QLabel* lblAfterProc = nullptr;
    QComboBox* cmbAfterMethod = nullptr;
    QComboBox* cmbMoveFolder = nullptr;
    QPushButton* btnSelectMoveFolder = nullptr;
    QPushButton* btnMoveFolder = nullptr;
    QLabel* lblLog = nullptr;
    QPlainTextEdit* memoLog = nullptr;
    QLabel* stbPanel0 = nullptr;
    QLabel* stbPanel1 = nullptr;

    // Menus: "ファイル"
    QMenu* mnuFile = nullptr;
    QAction* mmDllInstall = nullptr;
    QAction* mmDllCheck = nullptr;
    QAction* mmSearch = nullptr;
    QAction* mmSaveList = nullptr;
    QAction* mmLoadList = nullptr;
    QAction* mmExit = nullptr;
    // "動作・オプション設定"
    QMenu* mnuOption = nullptr;
    QAction* mmOptionDialog = nullptr;
    QAction* mmIgnoreDirectory = nullptr;
    QAction* mmDelFolderNum = nullptr;
    QAction* mmClearAll = nullptr;
    // "表示"
    QMenu* mnuView = nullptr;
    QAction* mmTopMost = nullptr;
    QAction* mmOpenTrash = nullptr;
    QAction* mmOpenSpecialFolder = nullptr;
    QAction* mmOpenMoveFolder = nullptr;
    // "ログ"
    QMenu* mnuLog = nullptr;
    QAction* mmClearLog = nullptr;
    QAction* mmSaveLog = nullptr;
    // "ヘルプ"
    QMenu* mnuHelp = nullptr;
    QAction* mmHelp = nullptr;
    QAction* mmVersion = nullptr;
    // The list popup
    QAction* pmPreviewArc = nullptr;
    QAction* pmRemoveItem = nullptr;
    QAction* pmAddItem = nullptr;

    // Windows that other parts of the program provide; the window shows them when asked. Unset, the
    // command says the window is not available.
    std::function<void(TfrmMain&)> ShowSearchWindow;                   // modal, over the file list
    std::function<void(TfrmMain&, const AnsiString&)> ShowPreviewWindow;  // one archive
    std::function<void(TfrmMain&)> ShowOptionsDialog;                  // modal

    // ---- Event handlers ----
    void btnUnPackClick();
    void btnCompressClick();
    void btnClearListClick();
    void btnSearchClick();
    void mmSearchClick();
    void btnSuspendAndResumeClick();
    void btnBreakClick();
    void btnSelectFolderClick();
    void btnSelectMoveFolderClick();
    void OpenSpecialFolder();
    void OpenMoveFolder();
    void OpenTrash();
    void pmPreviewArcClick();
    void pmRemoveItemClick();
    void mmClearLogClick();
    void mmSaveLogClick();
    void mmHelpClick();
    void mmVersionClick();
    void mmDllInstallClick();
    void mmOptionDialogClick();

    // The help page installed with the program.
    static QString HelpPagePath();

signals:
    // Emitted after FinishRun has run (tests wait on it).
    void RunFinished();
    // Emitted when a close went through (the settings are written by then).
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void ConnectReactions();
    void InitFromSettings();
    void SaveSettings();

    void ApplyIndicatePerFile();
    void ApplyDestinationGroup();
    void ApplyMoveFolderGroup();
    void ApplySpecialExt();
    void ShowDestinationText();
    void OpenFolder(const QString& path);
    void BrowseInto(QComboBox* combo, const QString& prompt, AnsiString& setting);
    void RememberIn(QComboBox* combo, const AnsiString& path);
    void StartWorker();
    void WaitForWorker();
    void WorkerEnded();
    void SetSuspended(bool suspended);
    bool Suspended() const;
    void ShowListPopup(QWidget* from, const QPoint& pos);
    void WriteRunHeader(bool compress);

    TMainWindowOptions options_;
    QString iniPath_;
    std::unique_ptr<TUnPack> unpack_;
    std::unique_ptr<TUnPackThread> worker_;
    TCommandRuns* commandRuns_ = nullptr;  // a child object
    TFilerIconCache iconCache_;
    QMenu* pmList_ = nullptr;
    bool closingAfterRun_ = false;   // a command-line run ended: the close goes through
    bool quitWhenWorkerEnds_ = false;  // EndApplication was asked for during a run
    bool closeOnSignal_ = false;       // a break signal came: the window closes after the run
    bool brokenBySignal_ = false;
    bool inClose_ = false;
    unsigned runSerial_ = 0;  // counts the runs started: a question answered late knows its run
    bool updatingControls_ = false;  // filling controls from the settings: no reactions
    int lastFilePercent_ = -1;
    int lastTotalPercent_ = -1;
};

}  // namespace norvex::ui
