// The main window: controls, reactions, the run's start and end, and the engine host.
#include "ui/UForm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextStream>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "archivers/ArchiverAbi.h"
#include "engine/EngineLog.h"
#include "engine/UUnPack.h"
#include "engine/UUnPackThread.h"
#include "platform/FileSystem.h"
#include "platform/StandardFolders.h"
#include "settings/uIniControl.h"
#include "ui/CommandRuns.h"
#include "ui/DialogHooks.h"
#include "ui/FailedEntries.h"
#include "ui/FileCtrl.h"
#include "ui/FolderBrowser.h"
#include "ui/HostPaths.h"
#include "ui/QtAnsi.h"
#include "ui/TopMost.h"
#include "ui/UHelp.h"
#include "ui/UModuleCheck.h"
#include "ui/Uversion.h"

namespace norvex::ui {

using namespace norvex::literals;

namespace {

constexpr int kPathRole = Qt::UserRole;  // the row's path as cp932 bytes
const QString kCloseQuery = QStringLiteral("解凍中です。中止に移りますか？");

// Message texts carry "\r" as their line break.
QString MsgText(const QString& text) {
    QString out = text;
    out.replace("\r\n", "\n");
    out.replace('\r', '\n');
    return out;
}

QString MsgText(const AnsiString& text) { return MsgText(ToQ(text)); }

const char* const kDestinationKinds[] = {"書庫と同じ場所",       "指定フォルダ",
                                         "お決まりフォルダ１", "お決まりフォルダ２",
                                         "お決まりフォルダ３", "マイドキュメント",
                                         "デスクトップ"};
const char* const kAfterMethods[] = {"何もしない", "削除する", "ごみ箱へ移動", "フォルダへ移動"};
const char* const kFilePatterns[] = {"*.*",
                                     "*.txt",
                                     "*.jpg *.jpeg *.gif *.png",
                                     "*.html *.htm",
                                     "*.mp3 *.wav *.wmv",
                                     "*.avi *.mpg *.mpeg *.wmv *.rm",
                                     "Readme.txt *.hlp *.cnt *.gid",
                                     "*.exe"};

// The combo colours of the enabling rules: a window colour when enabled, button face when not.
void Colour(QComboBox* combo, bool enabled) {
    QPalette pal = combo->palette();
    const QPalette base = QApplication::palette();
    pal.setColor(QPalette::Base, enabled ? base.color(QPalette::Base) : base.color(QPalette::Button));
    combo->setPalette(pal);
}

}  // namespace

// ================================================================================================
// Creation
// ================================================================================================

TfrmMain::TfrmMain(const TMainWindowOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options) {
    setObjectName("frmMain");
    setWindowTitle("Norvex　- ウィンドウのどこでもドロップ");
    setWindowIcon(TfrmVersion::ProgramIcon());
    BuildControls();
    BuildMenus();
    resize(600, 680);

    // 1. The title; 2. the settings (the window's size is known now, for the centred default).
    Settings.Title = "Norvex";
    iniPath_ = options_.iniPath.isEmpty() ? ToQ(TIniControl::DefaultFileName()) : options_.iniPath;
    {
        TIniControl ini(FromQ(iniPath_));
        const QRect screen = QApplication::primaryScreen() ? QApplication::primaryScreen()->geometry()
                                                           : QRect(0, 0, 1024, 768);
        ini.Load(Settings, TWindowMetrics{screen.width(), screen.height(), width(), height()});
    }
    // 3. A fresh log and per-file name.
    Settings.CurrentArchiveName.clear();
    Settings.LogLineCount = 0;
    memoLog->clear();
    txtFileName->clear();
    // 4. The unpack job, kept for the life of the window; 5. the DLL check.
    unpack_ = std::make_unique<TUnPack>(Settings, *this);
    CheckDlls();
    // 6. Drops are taken anywhere on the window (see eventFilter).
    setAcceptDrops(true);
    for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
    // 7.-17. The controls from the settings.
    InitFromSettings();
    ConnectReactions();
    // 18.-21. The command line.
    commandRuns_ = new TCommandRuns(*this);
    commandRuns_->ApplyStartArguments(options_.arguments);
}

TfrmMain::~TfrmMain() {
    if (worker_) {
        // Never leave a worker running behind a destroyed host.
        worker_->SetBreak();
        Settings.BreakRequested = true;
        WaitForWorker();
    }
}

void TfrmMain::BuildControls() {
    auto* central = new QWidget(this);
    central->setObjectName("pnlMain");
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 2);
    layout->setSpacing(4);

    auto makeButton = [this](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(name);
        return b;
    };

    // Tool bar
    auto* tools = new QHBoxLayout;
    btnUnPack = makeButton("btnUnPack", "全て解凍　");
    btnUnPack->setIcon(TfrmVersion::ProgramIcon());
    btnClearList = makeButton("btnClearList", "リスト消去");
    btnSearch = makeButton("btnSearch", "書庫群内検索");
    btnCompress = makeButton("btnCompress", "圧縮　");
    btnSuspendAndResume = makeButton("btnSuspendAndResume", "一時停止");
    btnBreak = makeButton("btnBreak", "強制中断");
    for (QPushButton* b : {btnUnPack, btnClearList, btnSearch, btnCompress}) tools->addWidget(b);
    tools->addStretch(1);
    tools->addWidget(btnSuspendAndResume);
    tools->addWidget(btnBreak);
    layout->addLayout(tools);

    // File list
    lvFiles = new QTreeWidget(this);
    lvFiles->setObjectName("lvFiles");
    lvFiles->setColumnCount(2);
    lvFiles->setHeaderLabels({"ファイル", "サイズ        "});
    lvFiles->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    lvFiles->header()->setSectionsClickable(false);
    lvFiles->header()->setSectionsMovable(false);
    lvFiles->setColumnWidth(0, 280);
    lvFiles->setColumnWidth(1, 80);
    lvFiles->setRootIsDecorated(false);
    lvFiles->setUniformRowHeights(true);
    lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFiles->setAllColumnsShowFocus(true);
    lvFiles->setIconSize(QSize(TFilerIconCache::SmallSize, TFilerIconCache::SmallSize));
    // A style sheet on the items takes over their selection colours too, so those are given here
    // (else a selected row of an inactive window loses its text).
    lvFiles->setStyleSheet(
        "QTreeWidget::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
        "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }");
    lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
    iconCache_.SetListView(lvFiles);
    layout->addWidget(lvFiles, 3);

    // Progress
    auto* progress = new QGridLayout;
    txtFileName = new QLineEdit(this);
    txtFileName->setObjectName("txtFileName");
    txtFileName->setReadOnly(true);
    txtFileName->setFrame(false);
    txtFileName->setFocusPolicy(Qt::NoFocus);
    chkIndicatePerFile = new QCheckBox(this);
    chkIndicatePerFile->setObjectName("chkIndicatePerFile");
    chkIndicatePerFile->setToolTip("ファイルごとのプログレス表示 on/off");
    progExpand = new QProgressBar(this);
    progExpand->setObjectName("progExpand");
    lblIndicate = new QLabel("0%", this);
    lblIndicate->setObjectName("lblIndicate");
    progExpandGlobal = new QProgressBar(this);
    progExpandGlobal->setObjectName("progExpandGlobal");
    lblIndicateGlobal = new QLabel("0%", this);
    lblIndicateGlobal->setObjectName("lblIndicateGlobal");
    for (QProgressBar* bar : {progExpand, progExpandGlobal}) {
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setMaximumHeight(14);
    }
    for (QLabel* l : {lblIndicate, lblIndicateGlobal}) {
        l->setMinimumWidth(36);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    progress->addWidget(chkIndicatePerFile, 0, 0);
    progress->addWidget(txtFileName, 0, 1, 1, 2);
    progress->addWidget(progExpand, 1, 1);
    progress->addWidget(lblIndicate, 1, 2);
    progress->addWidget(progExpandGlobal, 2, 1);
    progress->addWidget(lblIndicateGlobal, 2, 2);
    progress->setColumnStretch(1, 1);
    layout->addLayout(progress);

    // Options
    auto* opts = new QHBoxLayout;
    btnIgnoreDirectory = new QToolButton(this);
    btnIgnoreDirectory->setObjectName("btnIgnoreDirectory");
    btnIgnoreDirectory->setCheckable(true);
    btnIgnoreDirectory->setToolTip("ディレクトリ構成を無視して解凍");
    btnIgnoreDirectory->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
    chkSpecialExt = new QCheckBox("ファイル抽出フィルター", this);
    chkSpecialExt->setObjectName("chkSpecialExt");
    txtExt = new QComboBox(this);
    txtExt->setObjectName("txtExt");
    txtExt->setEditable(true);
    txtExt->setInsertPolicy(QComboBox::NoInsert);
    for (const char* p : kFilePatterns) txtExt->addItem(QString::fromUtf8(p));
    txtExt->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    txtExt->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);  // room for the longest preset
    chkPretestArc = new QCheckBox("逐次書庫テスト(ヘッダ)", this);
    chkPretestArc->setObjectName("chkPretestArc");
    cmbPreTestMode = new QComboBox(this);
    cmbPreTestMode->setObjectName("cmbPreTestMode");
    opts->addWidget(btnIgnoreDirectory);
    opts->addWidget(chkSpecialExt);
    opts->addWidget(txtExt, 1);
    layout->addLayout(opts);
    auto* pretest = new QHBoxLayout;
    pretest->addWidget(chkPretestArc);
    pretest->addWidget(cmbPreTestMode);
    pretest->addStretch(1);
    layout->addLayout(pretest);

    // Destination and after-processing groups
    auto* groups = new QGridLayout;
    lblOpenDirectory = new QLabel("[解凍先]", this);
    lblOpenDirectory->setObjectName("lblOpenDirectory");
    cmbOpenDirectory = new QComboBox(this);
    cmbOpenDirectory->setObjectName("cmbOpenDirectory");
    const QStyle::StandardPixmap kindIcons[] = {QStyle::SP_DirLinkIcon,   QStyle::SP_DirIcon,
                                               QStyle::SP_DirOpenIcon,   QStyle::SP_DirOpenIcon,
                                               QStyle::SP_DirOpenIcon,   QStyle::SP_DirHomeIcon,
                                               QStyle::SP_DesktopIcon};
    for (int i = 0; i < 7; ++i)
        cmbOpenDirectory->addItem(style()->standardIcon(kindIcons[i]), QString::fromUtf8(kDestinationKinds[i]));
    cmbSpecialFolder = new QComboBox(this);
    cmbSpecialFolder->setObjectName("cmbSpecialFolder");
    cmbSpecialFolder->setEditable(true);
    cmbSpecialFolder->setInsertPolicy(QComboBox::NoInsert);
    btnSelectFolder = makeButton("btnSelectFolder", "...");
    btnSelectFolder->setToolTip("指定フォルダ選択");
    btnSpecialFolder = makeButton("btnSpecialFolder", "open");
    btnSpecialFolder->setToolTip("フォルダを開く");

    lblAfterProc = new QLabel("[後始末]", this);
    lblAfterProc->setObjectName("lblAfterProc");
    lblAfterProc->setToolTip("書庫の後始末を指定します");
    cmbAfterMethod = new QComboBox(this);
    cmbAfterMethod->setObjectName("cmbAfterMethod");
    const QStyle::StandardPixmap afterIcons[] = {QStyle::SP_DialogApplyButton, QStyle::SP_DialogDiscardButton,
                                                QStyle::SP_TrashIcon, QStyle::SP_FileDialogToParent};
    for (int i = 0; i < 4; ++i)
        cmbAfterMethod->addItem(style()->standardIcon(afterIcons[i]), QString::fromUtf8(kAfterMethods[i]));
    cmbMoveFolder = new QComboBox(this);
    cmbMoveFolder->setObjectName("cmbMoveFolder");
    cmbMoveFolder->setEditable(true);
    cmbMoveFolder->setInsertPolicy(QComboBox::NoInsert);
    btnSelectMoveFolder = makeButton("btnSelectMoveFolder", "...");
    btnSelectMoveFolder->setToolTip("移動先フォルダ選択");
    btnMoveFolder = makeButton("btnMoveFolder", "open");
    btnMoveFolder->setToolTip("フォルダを開く");
    for (QPushButton* b : {btnSelectFolder, btnSpecialFolder, btnSelectMoveFolder, btnMoveFolder})
        b->setMaximumWidth(48);
    // What is typed stays as typed: no inline completion from the presets or the remembered folders.
    for (QComboBox* c : {txtExt, cmbSpecialFolder, cmbMoveFolder}) c->setCompleter(nullptr);

    groups->addWidget(lblOpenDirectory, 0, 0);
    groups->addWidget(cmbOpenDirectory, 0, 1);
    groups->addWidget(cmbSpecialFolder, 0, 2);
    groups->addWidget(btnSelectFolder, 0, 3);
    groups->addWidget(btnSpecialFolder, 0, 4);
    groups->addWidget(lblAfterProc, 1, 0);
    groups->addWidget(cmbAfterMethod, 1, 1);
    groups->addWidget(cmbMoveFolder, 1, 2);
    groups->addWidget(btnSelectMoveFolder, 1, 3);
    groups->addWidget(btnMoveFolder, 1, 4);
    groups->setColumnStretch(2, 1);
    layout->addLayout(groups);

    // Log
    lblLog = new QLabel("ログ", this);
    lblLog->setObjectName("lblLog");
    memoLog = new QPlainTextEdit(this);
    memoLog->setObjectName("memoLog");
    memoLog->setReadOnly(true);
    memoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoLog->setAcceptDrops(false);
    layout->addWidget(lblLog);
    layout->addWidget(memoLog, 2);

    // Status bar: panel 0 the status word, panel 1 the mode summary.
    stbPanel0 = new QLabel(this);
    stbPanel0->setObjectName("stbPanel0");
    stbPanel0->setMinimumWidth(200);
    stbPanel1 = new QLabel(this);
    stbPanel1->setObjectName("stbPanel1");
    statusBar()->addWidget(stbPanel0);
    statusBar()->addWidget(stbPanel1, 1);
}

void TfrmMain::BuildMenus() {
    auto add = [this](QMenu* menu, const char* name, const char* caption) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(name);
        return a;
    };
    mnuFile = menuBar()->addMenu("ファイル");
    mnuFile->setObjectName("mnuFile");
    mmDllInstall = add(mnuFile, "mmDllInstall", "DLLの最新版補完 (caldix起動)");
    mmDllCheck = add(mnuFile, "mmDllCheck", "DLL再チェック");
    mnuFile->addSeparator();
    mmSearch = add(mnuFile, "mmSearch", "書庫群内検索");
    mnuFile->addSeparator();
    mmSaveList = add(mnuFile, "mmSaveList", "リストを保存");
    mmLoadList = add(mnuFile, "mmLoadList", "リストを読み込み");
    mmSaveList->setEnabled(false);  // the list is never kept in a file
    mmLoadList->setEnabled(false);
    mnuFile->addSeparator();
    mmExit = add(mnuFile, "mmExit", "終了");

    mnuOption = menuBar()->addMenu("動作・オプション設定");
    mnuOption->setObjectName("mnuOption");
    mmOptionDialog = add(mnuOption, "mmOptionDialog", "動作・オプション設定...");
    mnuOption->addSeparator();
    mmIgnoreDirectory = add(mnuOption, "mmIgnoreDirectory", "ディレクトリ構成を無視して解凍する");
    mmDelFolderNum = add(mnuOption, "mmDelFolderNum", "作成フォルダ名の末尾の数字記号等を除去する");
    mnuOption->addSeparator();
    mmClearAll = add(mnuOption, "mmClearAll", "解凍に失敗した要素もリストからクリアする");
    for (QAction* a : {mmIgnoreDirectory, mmDelFolderNum, mmClearAll}) a->setCheckable(true);

    mnuView = menuBar()->addMenu("表示");
    mnuView->setObjectName("mnuView");
    mmTopMost = add(mnuView, "mmTopMost", "最前面表示");
    mmTopMost->setCheckable(true);
    mnuView->addSeparator();
    mmOpenTrash = add(mnuView, "mmOpenTrash", "\"ごみ箱\"を開く");
    mmOpenSpecialFolder = add(mnuView, "mmOpenSpecialFolder", "\"解凍先フォルダ\"を開く");
    mmOpenMoveFolder = add(mnuView, "mmOpenMoveFolder", "\"移動先フォルダ\"を開く");

    mnuLog = menuBar()->addMenu("ログ");
    mnuLog->setObjectName("mnuLog");
    mmClearLog = add(mnuLog, "mmClearLog", "ログをクリア");
    mmSaveLog = add(mnuLog, "mmSaveLog", "ログを保存");

    mnuHelp = menuBar()->addMenu("ヘルプ");
    mnuHelp->setObjectName("mnuHelp");
    mmHelp = add(mnuHelp, "mmHelp", "ヘルプ");
    mmVersion = add(mnuHelp, "mmVersion", "バージョン情報");

    pmList_ = new QMenu(this);
    pmList_->setObjectName("pmList");
    pmPreviewArc = add(pmList_, "pmPreviewArc", "内容プレビュー");
    pmRemoveItem = add(pmList_, "pmRemoveItem", "リストから外す");
    pmRemoveItem->setShortcut(QKeySequence::Delete);
    pmRemoveItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lvFiles->addAction(pmRemoveItem);
    pmAddItem = add(pmList_, "pmAddItem", "アイテムを追加");
    pmAddItem->setEnabled(false);
}

void TfrmMain::InitFromSettings() {
    updatingControls_ = true;
    // 7. Header check.
    cmbPreTestMode->addItem("簡易ヘッダチェック");
    cmbPreTestMode->addItem("完全ヘッダチェック");
    if (int(Settings.PreTestMode) == 2) Settings.PreTestMode = TPreTestMode::Complete;
    const int mode = int(Settings.PreTestMode);
    cmbPreTestMode->setCurrentIndex(mode >= 0 && mode <= 1 ? mode : 1);
    chkPretestArc->setChecked(Settings.PreTestArc);
    cmbPreTestMode->setEnabled(Settings.PreTestArc);
    // 8. After-processing and destination kind.
    cmbAfterMethod->setCurrentIndex(std::min<int>(int(Settings.AfterMethod), 3));
    cmbOpenDirectory->setCurrentIndex(std::min<int>(int(Settings.PutLocation), 6));
    // 9. The remembered folders, empty lines included.
    for (const AnsiString& f : Settings.MRU_SpecialFolder) InsertPathItem(cmbSpecialFolder, cmbSpecialFolder->count(), f);
    for (const AnsiString& f : Settings.MRU_MoveFolder) InsertPathItem(cmbMoveFolder, cmbMoveFolder->count(), f);
    // 10. Window position.
    const QRect screen = QApplication::primaryScreen() ? QApplication::primaryScreen()->geometry()
                                                       : QRect(0, 0, 1024, 768);
    if (Settings.WindowX > 0 && Settings.WindowX < screen.width() && Settings.WindowY > 0 &&
        Settings.WindowY < screen.height())
        move(Settings.WindowX, Settings.WindowY);
    else
        move((screen.width() - width()) / 2, (screen.height() - height()) / 2);
    // 11. Move folder; 12. destination text.
    SetPathEditText(cmbMoveFolder, Settings.MoveFolder);
    switch (Settings.PutLocation) {
    case TPutLocation::BesideArchive: cmbSpecialFolder->setEditText("書庫と同じフォルダ"); break;
    case TPutLocation::SpecialFolder: {
        AnsiString f = Settings.SpecialFolder;
        if (!AnsiEndsWithSeparator(f)) f += PathDelim;
        SetPathEditText(cmbSpecialFolder, f);
        break;
    }
    case TPutLocation::Favorite0:
    case TPutLocation::Favorite1:
    case TPutLocation::Favorite2:
        SetPathEditText(cmbSpecialFolder, Settings.Favorite(int(Settings.PutLocation) - 2));
        break;
    case TPutLocation::MyDocuments: cmbSpecialFolder->setEditText(SpecialFolderPath("mydocument")); break;
    case TPutLocation::Desktop: cmbSpecialFolder->setEditText(SpecialFolderPath("desktop")); break;
    }
    // 13. Run buttons off; 14. filter and per-file progress.
    btnSuspendAndResume->setEnabled(false);
    btnBreak->setEnabled(false);
    chkSpecialExt->setChecked(Settings.SpecialExt);
    chkIndicatePerFile->setChecked(Settings.IndicatePerFile);
    ApplyIndicatePerFile();
    // 15. File pattern.
    txtExt->setEditText(ToQ(Settings.FileSpec));
    ApplySpecialExt();
    btnIgnoreDirectory->setChecked(Settings.IgnoreDirectory);
    mmIgnoreDirectory->setChecked(Settings.IgnoreDirectory);
    // 16. Group rules; 17. top-most.
    ApplyDestinationGroup();
    ApplyMoveFolderGroup();
    SetTopMost(true);
    updatingControls_ = false;
}

void TfrmMain::SelectAfterMethod(TAfterMethod method) {
    Settings.AfterMethod = method;
    ShowRunChoices();
}

void TfrmMain::ShowRunChoices() {
    updatingControls_ = true;
    cmbAfterMethod->setCurrentIndex(std::min<int>(int(Settings.AfterMethod), 3));
    cmbOpenDirectory->setCurrentIndex(std::min<int>(int(Settings.PutLocation), 6));
    updatingControls_ = false;
    ApplyDestinationGroup();
    ApplyMoveFolderGroup();
}

bool TfrmMain::HandOver(const THandOver& message) { return commandRuns_->Receive(message); }

bool TfrmMain::CommandLineRun() const { return Settings.CommandLineMode; }

void TfrmMain::FormShowStart() {
    // 22. A command-line start runs at once, with the start button's confirmations.
    commandRuns_->StartFirstRun();
}

void TfrmMain::ConnectReactions() {
    connect(btnUnPack, &QPushButton::clicked, this, &TfrmMain::btnUnPackClick);
    connect(btnClearList, &QPushButton::clicked, this, &TfrmMain::btnClearListClick);
    connect(btnSearch, &QPushButton::clicked, this, &TfrmMain::btnSearchClick);
    connect(btnCompress, &QPushButton::clicked, this, &TfrmMain::btnCompressClick);
    connect(btnSuspendAndResume, &QPushButton::clicked, this, &TfrmMain::btnSuspendAndResumeClick);
    connect(btnBreak, &QPushButton::clicked, this, &TfrmMain::btnBreakClick);
    connect(btnSelectFolder, &QPushButton::clicked, this, &TfrmMain::btnSelectFolderClick);
    connect(btnSelectMoveFolder, &QPushButton::clicked, this, &TfrmMain::btnSelectMoveFolderClick);
    connect(btnSpecialFolder, &QPushButton::clicked, this, &TfrmMain::OpenSpecialFolder);
    connect(btnMoveFolder, &QPushButton::clicked, this, &TfrmMain::OpenMoveFolder);

    connect(mmDllInstall, &QAction::triggered, this, &TfrmMain::mmDllInstallClick);
    connect(mmDllCheck, &QAction::triggered, this, &TfrmMain::CheckDlls);
    connect(mmSearch, &QAction::triggered, this, &TfrmMain::mmSearchClick);
    connect(mmExit, &QAction::triggered, this, &QWidget::close);
    connect(mmOptionDialog, &QAction::triggered, this, &TfrmMain::mmOptionDialogClick);
    connect(mnuOption, &QMenu::aboutToShow, this, [this] {
        mmIgnoreDirectory->setChecked(Settings.IgnoreDirectory);
        mmDelFolderNum->setChecked(Settings.DelFolderNum);
        mmClearAll->setChecked(Settings.ClearAll);
    });
    connect(mmIgnoreDirectory, &QAction::triggered, this, [this](bool on) {
        Settings.IgnoreDirectory = on;
        btnIgnoreDirectory->setChecked(on);
        RefreshModePanel();
    });
    connect(mmDelFolderNum, &QAction::triggered, this, [this](bool on) {
        Settings.DelFolderNum = on;
        RefreshModePanel();
    });
    connect(mmClearAll, &QAction::triggered, this, [](bool on) { Settings.ClearAll = on; });
    connect(mmTopMost, &QAction::triggered, this, [this](bool on) { SetTopMost(on); });
    connect(mmOpenTrash, &QAction::triggered, this, &TfrmMain::OpenTrash);
    connect(mmOpenSpecialFolder, &QAction::triggered, this, &TfrmMain::OpenSpecialFolder);
    connect(mmOpenMoveFolder, &QAction::triggered, this, &TfrmMain::OpenMoveFolder);
    connect(mmClearLog, &QAction::triggered, this, &TfrmMain::mmClearLogClick);
    connect(mmSaveLog, &QAction::triggered, this, &TfrmMain::mmSaveLogClick);
    connect(mmHelp, &QAction::triggered, this, &TfrmMain::mmHelpClick);
    connect(mmVersion, &QAction::triggered, this, &TfrmMain::mmVersionClick);
    connect(pmPreviewArc, &QAction::triggered, this, &TfrmMain::pmPreviewArcClick);
    connect(pmRemoveItem, &QAction::triggered, this, &TfrmMain::pmRemoveItemClick);

    // The popup opens over the list, the two group labels and the four combos of the groups.
    for (QWidget* w : std::initializer_list<QWidget*>{lvFiles, lblOpenDirectory, lblAfterProc, cmbOpenDirectory,
                                                      cmbSpecialFolder, cmbAfterMethod, cmbMoveFolder,
                                                      cmbSpecialFolder->lineEdit(), cmbMoveFolder->lineEdit()}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this, [this, w](const QPoint& pos) { ShowListPopup(w, pos); });
    }

    connect(cmbOpenDirectory, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        Settings.PutLocation = TPutLocation(index);
        ApplyDestinationGroup();
        ShowDestinationText();
    });
    const auto specialFolderEdited = [this](const QString& text) {
        if (updatingControls_) return;
        const int kind = int(Settings.PutLocation);
        if (kind == 1) Settings.SpecialFolder = ComboPath(cmbSpecialFolder, text);
        else if (kind >= 2 && kind <= 4) Settings.Favorite(kind - 2) = ComboPath(cmbSpecialFolder, text);
    };
    connect(cmbSpecialFolder, &QComboBox::editTextChanged, this, specialFolderEdited);
    // A line that shows as the field does changes no text, but it may hold other bytes.
    connect(cmbSpecialFolder, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this, specialFolderEdited] { specialFolderEdited(cmbSpecialFolder->currentText()); });
    connect(cmbAfterMethod, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        Settings.AfterMethod = TAfterMethod(index);
        ApplyMoveFolderGroup();
        static const char* const texts[] = {"そのまま", "削除", "ごみ箱"};
        updatingControls_ = true;
        if (index < 3) cmbMoveFolder->setEditText(QString::fromUtf8(texts[index]));
        else SetPathEditText(cmbMoveFolder, Settings.MoveFolder);
        updatingControls_ = false;
    });
    connect(cmbMoveFolder, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!updatingControls_) Settings.MoveFolder = ComboPath(cmbMoveFolder, text);
    });
    connect(cmbMoveFolder, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        if (!updatingControls_) Settings.MoveFolder = ComboPath(cmbMoveFolder, cmbMoveFolder->currentText());
    });
    connect(chkPretestArc, &QCheckBox::toggled, this, [this](bool on) {
        Settings.PreTestArc = on;
        cmbPreTestMode->setEnabled(on);
    });
    connect(cmbPreTestMode, qOverload<int>(&QComboBox::activated), this,
            [](int index) { Settings.PreTestMode = TPreTestMode(index); });
    connect(chkSpecialExt, &QCheckBox::toggled, this, [this](bool on) {
        Settings.SpecialExt = on;
        ApplySpecialExt();
    });
    connect(txtExt, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!updatingControls_) Settings.FileSpec = FromQ(text);
    });
    connect(chkIndicatePerFile, &QCheckBox::toggled, this, [this](bool on) {
        Settings.IndicatePerFile = on;
        ApplyIndicatePerFile();
    });
    connect(btnIgnoreDirectory, &QToolButton::clicked, this, [this](bool on) {
        mmIgnoreDirectory->setChecked(on);
        Settings.IgnoreDirectory = on;
        RefreshModePanel();
    });
}

// ================================================================================================
// Window operations
// ================================================================================================

void TfrmMain::ShowStatus(const AnsiString& word) {
    const QString w = ToQ(word);
    setWindowTitle(QString("Norvex (%1)").arg(w));
    stbPanel0->setText(w);
}

void TfrmMain::AppendLog(const AnsiString& text) {
    const int n = ++Settings.LogLineCount;
    try {
        memoLog->appendPlainText(ToDisplay(FormatLogLine(n, text, Settings.CurrentArchiveName)));
    } catch (...) {
        // A line that cannot be shaped is lost; the counter has advanced all the same.
    }
}

void TfrmMain::AddFileToList(const AnsiString& path) {
    auto* item = new QTreeWidgetItem(lvFiles);
    const QString q = ToShown(path);
    item->setText(0, q);
    item->setData(0, kPathRole, QByteArray::fromStdString(path));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    const int icon = iconCache_.IconIndex(q);
    if (icon >= 0) item->setIcon(0, iconCache_.SmallIcon(icon));
}

void TfrmMain::DropFiles(const QStringList& paths) {
    std::vector<AnsiString> ansi;
    for (const QString& p : paths) ansi.push_back(FromQ(p));
    DropFiles(ansi);
}

void TfrmMain::DropFiles(const std::vector<AnsiString>& paths) {
    if (Settings.RunState == TRunState::Extracting) return;
    for (const AnsiString& p : paths) {
        AddFileToList(p);
        QTreeWidgetItem* row = lvFiles->topLevelItem(lvFiles->topLevelItemCount() - 1);
        if (DirectoryExists(p)) row->setText(1, "0 KB");
        else if (const int64_t size = GetFileSize(p); size >= 0) row->setText(1, QString("%1 KB").arg(size / 1024));
    }
}

void TfrmMain::SetTopMost(bool on) {
    mmTopMost->setChecked(on);
    SetStaysOnTop(this, on);
}

bool TfrmMain::TopMost() const { return StaysOnTop(this); }

void TfrmMain::RefreshModePanel() {
    QStringList parts;
    if (Settings.IgnoreDirectory) parts << "ディレクトリ構成無視 ";
    if (Settings.DelFolderNum) parts << "末尾数字等除去";
    stbPanel1->setText(parts.join(", "));
    btnIgnoreDirectory->setChecked(Settings.IgnoreDirectory);  // also after the options dialog
}

void TfrmMain::ApplyIndicatePerFile() {
    if (Settings.IndicatePerFile) {
        txtFileName->clear();
        lblIndicate->setText("0%");
    } else {
        txtFileName->setText("-");
        lblIndicate->setText("-");
    }
}

void TfrmMain::ApplyDestinationGroup() {
    const int kind = int(Settings.PutLocation);
    const bool on = kind >= 1 && kind <= 4 && !RunActive();
    for (QWidget* w : std::initializer_list<QWidget*>{cmbSpecialFolder, btnSelectFolder, btnSpecialFolder})
        w->setEnabled(on);
    Colour(cmbSpecialFolder, on);
}

void TfrmMain::ApplyMoveFolderGroup() {
    const bool on = Settings.AfterMethod == TAfterMethod::Move && !RunActive();
    for (QWidget* w : std::initializer_list<QWidget*>{cmbMoveFolder, btnSelectMoveFolder, btnMoveFolder})
        w->setEnabled(on);
    Colour(cmbMoveFolder, on);
}

void TfrmMain::ApplySpecialExt() {
    txtExt->setEnabled(Settings.SpecialExt);
    Colour(txtExt, Settings.SpecialExt);
}

void TfrmMain::ShowDestinationText() {
    updatingControls_ = true;
    switch (Settings.PutLocation) {
    case TPutLocation::BesideArchive: cmbSpecialFolder->setEditText("書庫と同じフォルダ"); break;
    case TPutLocation::SpecialFolder: SetPathEditText(cmbSpecialFolder, Settings.SpecialFolder); break;
    case TPutLocation::Favorite0:
    case TPutLocation::Favorite1:
    case TPutLocation::Favorite2:
        SetPathEditText(cmbSpecialFolder, Settings.Favorite(int(Settings.PutLocation) - 2));
        break;
    case TPutLocation::MyDocuments: cmbSpecialFolder->setEditText("マイドキュメント"); break;
    case TPutLocation::Desktop: cmbSpecialFolder->setEditText("デスクトップ"); break;
    }
    updatingControls_ = false;
}

bool TfrmMain::RunActive() const { return Settings.RunActive; }

void TfrmMain::ControlsEnabled(bool on) {
    btnUnPack->setEnabled(on);
    mnuOption->menuAction()->setEnabled(on);
    for (QWidget* w : std::initializer_list<QWidget*>{btnSelectFolder, btnSelectMoveFolder, cmbOpenDirectory,
                                                      cmbSpecialFolder, cmbAfterMethod, cmbMoveFolder,
                                                      chkPretestArc, cmbPreTestMode, chkSpecialExt,
                                                      lblOpenDirectory, lblAfterProc})
        w->setEnabled(on);
    btnSuspendAndResume->setEnabled(!on);
    btnBreak->setEnabled(!on);
    if (on) {
        if (!Settings.PreTestArc) cmbPreTestMode->setEnabled(false);
        ApplyDestinationGroup();
        ApplyMoveFolderGroup();
    }
}

QStringList TfrmMain::LogLines() const {
    QStringList lines;
    for (QTextBlock b = memoLog->document()->begin(); b.isValid(); b = b.next()) lines << b.text();
    if (lines.size() == 1 && lines.first().isEmpty()) lines.clear();
    return lines;
}

void TfrmMain::CheckDlls() { norvex::CheckDlls(*unpack_, Settings, *this); }

// ================================================================================================
// The run
// ================================================================================================

void TfrmMain::WriteRunHeader(bool compress) {
    // Short date, then the long time, in the user's locale (the zone name left out).
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression("\\s*t+\\s*")).remove(QRegularExpression("\\(\\s*\\)"));
    const QString stamp = locale.toString(QDate::currentDate(), QLocale::ShortFormat) + " " +
                          locale.toString(QTime::currentTime(), timeFormat.trimmed());
    AppendLog(" ");
    AppendLog("-- \"処理開始\" -- [ "_ansi + FromQ(stamp) + "] --------------");
    AppendLog("> -- 設定確認 --"_ansi);
    if (compress) return;
    if (!Settings.FileSpec.empty() && Settings.FileSpec != "*.*")
        AppendLog(">  ファイル抽出パターン："_ansi + "\"" + Settings.FileSpec + "\" ");
    if (Settings.IgnoreDirectory) AppendLog(">  ディレクトリ構成：無視 "_ansi);
}

void TfrmMain::btnUnPackClick() {
    if (lvFiles->topLevelItemCount() == 0) {
        AppendLog("> 処理ファイルがありません。"_ansi);
        return;
    }
    SetTopMost(false);
    QCoreApplication::processEvents();
    Settings.CompressMode = false;
    if (Settings.CommandLineMode && Settings.ConfirmSendTo) {
        // The run goes on whether or not a folder was chosen.
        Settings.PutLocation = TPutLocation::SpecialFolder;
        cmbOpenDirectory->setCurrentIndex(1);
        ApplyDestinationGroup();
        ShowDestinationText();
        btnSelectFolderClick();
    }
    if (Settings.ConfirmIgnore && Settings.IgnoreDirectory &&
        ShowMessageBox(this, MsgText(QString("ディレクトリ構成を無視して展開します。\rよろしいですか？")), "確認",
                       TMsgButtons::YesNo, TMsgIcon::Question) != mrYes)
        return;
    if (Settings.ConfirmDelete && Settings.AfterMethod == TAfterMethod::Delete &&
        ShowMessageBox(this, MsgText(QString("後始末が\"削除\"になっています。\r続行しますか？")), "確認",
                       TMsgButtons::YesNo, TMsgIcon::Question) != mrYes)
        return;
    if (Settings.SpecialExt) Settings.FileSpec = FromQ(txtExt->currentText());
    lvFiles->clearSelection();
    lvFiles->setCurrentItem(nullptr);
    Settings.AbortRun = false;
    Settings.SkipArchive = false;
    WriteRunHeader(false);
    Settings.RunActive = true;
    ControlsEnabled(false);
    StartWorker();
}

void TfrmMain::btnCompressClick() {
    Settings.CompressMode = true;
    Settings.AbortRun = false;
    Settings.SkipArchive = false;
    WriteRunHeader(true);
    Settings.RunActive = true;
    ControlsEnabled(false);
    StartWorker();
}

void TfrmMain::StartWorker() {
    lastFilePercent_ = lastTotalPercent_ = -1;
    ForgetReachedRows(lvFiles);
    Settings.RunState = TRunState::Starting;
    ++runSerial_;
    // The caption follows this run from its start: a run whose every archive fails before the
    // worker's first word would otherwise go on under the last run's "処理終了".
    ShowStatus("処理開始"_ansi);
    worker_ = std::make_unique<TUnPackThread>(*unpack_, Settings, *this);
    // The end of the worker is announced on the main thread, after the worker's last step.
    worker_->Start([this] { QMetaObject::invokeMethod(this, [this] { WorkerEnded(); }, Qt::QueuedConnection); });
}

void TfrmMain::WorkerEnded() {
    if (!worker_) return;
    worker_->WaitFor();
    worker_.reset();
    FinishRun();
    emit RunFinished();
    // A signal's close, unless the end of a command-line run closed the window already (or the
    // program's end, just below, closes it).
    if (closeOnSignal_ && !closingAfterRun_ && !quitWhenWorkerEnds_) {
        closingAfterRun_ = true;
        if (!inClose_) close();
    }
    if (quitWhenWorkerEnds_) {
        closingAfterRun_ = true;
        if (!inClose_) close();
        QCoreApplication::quit();
    }
}

void TfrmMain::WaitForWorker() {
    // Keeps serving the worker's calls into the main thread until it has ended and FinishRun ran.
    if (!worker_) return;
    QEventLoop loop;
    connect(this, &TfrmMain::RunFinished, &loop, &QEventLoop::quit);
    loop.exec();
}

bool TfrmMain::Suspended() const { return worker_ && worker_->Suspended(); }

void TfrmMain::SetSuspended(bool suspended) {
    if (!worker_) return;
    if (suspended) {
        worker_->Suspend();
        btnSuspendAndResume->setText("再開");
        ShowStatus("一時停止中"_ansi);
    } else {
        worker_->Resume();
        btnSuspendAndResume->setText("一時停止");
        ShowStatus("再開"_ansi);
    }
}

void TfrmMain::btnSuspendAndResumeClick() {
    if (Settings.RunState != TRunState::Extracting) return;
    SetSuspended(!Suspended());
}

void TfrmMain::btnBreakClick() {
    switch (TRunState(Settings.RunState)) {
    case TRunState::Idle: AppendLog("[ お知らせ ]　解凍処理が開始されていません。"_ansi); return;
    case TRunState::Breaking: AppendLog("[ お知らせ ]　中断中です。"_ansi); return;
    case TRunState::Extracting:
        btnBreak->setEnabled(false);
        btnSuspendAndResume->setEnabled(false);
        if (worker_) worker_->SetBreak();
        if (Suspended()) SetSuspended(false);
        Settings.RunState = TRunState::Breaking;
        Settings.BreakRequested = true;
        ShowStatus("中断中...暫くお待ち下さい"_ansi);
        return;
    case TRunState::Starting:
    case TRunState::Testing:
        // The worker is asked to end and is waited for; it leaves at its next check, never in the
        // middle of a file.
        if (worker_) {
            worker_->SetBreak();
            worker_->Terminate();
        }
        Settings.RunState = TRunState::Breaking;
        Settings.BreakRequested = true;
        WaitForWorker();
        return;
    }
}

void TfrmMain::CloseOnSignal(const char* signalName) {
    if (closeOnSignal_) return;
    closeOnSignal_ = true;
    SetDialogsDismissed(true);
    if (!worker_) {
        if (!inClose_) close();
        return;
    }
    // A worker past its last step (Idle) ends on its own; WorkerEnded closes the window.
    if (Settings.RunState == TRunState::Idle) return;
    brokenBySignal_ = true;
    AppendLog("[ お知らせ ]　終了の指示（"_ansi + signalName + "）を受けました。"_ansi);
    // The break button's way: WorkerEnded closes the window once the run's end (FinishRun) took back
    // what the run made. A break already under way (the break button, a close) just goes on.
    if (Settings.RunState != TRunState::Breaking) btnBreakClick();
}

void TfrmMain::FinishRun() {
    // The close query asks about this run: once it is over the box goes. Left open, it outlived the
    // window that a command-line run closes here, and the program stayed on unseen once it was answered.
    WithdrawMessageBox(kCloseQuery);
    QCoreApplication::processEvents();
    if (Settings.ClearAll) RemoveFailedRows(lvFiles, Settings.BreakRequested);
    const bool hiddenCommandRun = Settings.CommandLineMode && Settings.CmdHideWnd;
    if (!hiddenCommandRun) SetTopMost(false);
    if (Settings.BreakRequested) {
        if (Settings.CancelAll) AppendLog("> [ 強制中断 ] 中断されました。"_ansi);
        unpack_->DeleteResidue();
        Settings.BreakRequested = false;
        Settings.CancelAll = false;
    }
    Settings.RunState = TRunState::Idle;
    Settings.RunActive = false;
    Settings.AbortRun = false;
    ControlsEnabled(true);
    btnSuspendAndResume->setText("一時停止");
    if (Settings.IndicatePerFile) lblIndicate->setText("0%");
    progExpand->setValue(0);
    lblIndicateGlobal->setText("0%");
    progExpandGlobal->setValue(0);
    ShowStatus("処理終了"_ansi);
    if (Settings.ShowEndDlg) {
        if (isMinimized()) showNormal();
        SetTopMost(true);
        BringToFront(this);
        ShowMessageBox(this,
                       Settings.CommandLineMode ? MsgText(QString("解凍処理が終了しました。\r（OKで終了）"))
                                                : QString("解凍処理が終了しました。"),
                       "Norvex お知らせ", TMsgButtons::Ok, TMsgIcon::Information);
    }
    if (commandRuns_->RunEnded()) {
        closingAfterRun_ = true;
        if (!inClose_) close();
    }
}

// ================================================================================================
// The engine host
// ================================================================================================

void TfrmMain::RunOnMainThread(const std::function<void()>& step) {
    if (QThread::currentThread() == thread()) {
        step();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        this,
        [&] {
            try {
                step();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) std::rethrow_exception(failure);
}

int TfrmMain::FileCount() { return lvFiles->topLevelItemCount(); }

AnsiString TfrmMain::FileAt(int index) {
    QTreeWidgetItem* item = lvFiles->topLevelItem(index);
    return item ? item->data(0, kPathRole).toByteArray().toStdString() : AnsiString();
}

void TfrmMain::DeleteFileAt(int index) { delete lvFiles->takeTopLevelItem(index); }

void TfrmMain::AppendFile(const AnsiString& path) { AddFileToList(path); }

void TfrmMain::FocusFile(int index) {
    if (QTreeWidgetItem* item = lvFiles->topLevelItem(index)) {
        MarkReached(item);
        lvFiles->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        lvFiles->scrollToItem(item);
    }
}

bool TfrmMain::IsMinimized() { return isMinimized(); }

void TfrmMain::ShowEntryName(const AnsiString& name) { txtFileName->setText(ToDisplay(name)); }

void TfrmMain::ShowFilePercent(int percent) {
    if (percent == lastFilePercent_) return;
    lastFilePercent_ = percent;
    progExpand->setValue(percent);
    lblIndicate->setText(QString("%1%").arg(percent));
}

void TfrmMain::ShowTotalPercent(int percent) {
    if (percent == lastTotalPercent_) return;
    lastTotalPercent_ = percent;
    progExpandGlobal->setValue(percent);
    lblIndicateGlobal->setText(QString("%1%").arg(percent));
}

void TfrmMain::EnableBreakButton() { btnBreak->setEnabled(true); }

void TfrmMain::RememberFolder(TFolderList list, const AnsiString& path) {
    RememberIn(list == TFolderList::SpecialFolder ? cmbSpecialFolder : cmbMoveFolder, path);
}

bool TfrmMain::Ask(const AnsiString& caption, const AnsiString& text) {
    return ShowMessageBox(this, MsgText(text), ToQ(caption), TMsgButtons::YesNo, TMsgIcon::Question) == mrYes;
}

void TfrmMain::Notice(const AnsiString& caption, const AnsiString& text) {
    ShowMessageBox(this, MsgText(text), ToQ(caption), TMsgButtons::Ok, TMsgIcon::Information);
}

int TfrmMain::AskArchiver(int kind, const AnsiString& caption, const AnsiString& text, AnsiString& answerText) {
    if (kind == ARC_ASK_PASSWORD) {
        auto password = AskSecretText(this, ToQ(caption), MsgText(text));
        if (!password) return ARC_ANSWER_CANCEL;
        answerText = FromQ(*password);
        return ARC_ANSWER_YES;
    }
    switch (ShowMessageBox(this, MsgText(text), ToQ(caption), TMsgButtons::YesNoAllCancel, TMsgIcon::Question)) {
    case mrYes: return ARC_ANSWER_YES;
    case mrNo: return ARC_ANSWER_NO;
    case mrYesToAll: return ARC_ANSWER_YES_ALL;
    case mrNoToAll: return ARC_ANSWER_NO_ALL;
    default: return ARC_ANSWER_CANCEL;
    }
}

void TfrmMain::ProcessMessages() { QCoreApplication::processEvents(); }

void TfrmMain::EndApplication() {
    // The module stops at the answer that follows this request; the program ends once the worker
    // is out of it, so that nothing is cut off halfway through a file.
    quitWhenWorkerEnds_ = true;
    if (!worker_) {
        FinishRun();
        closingAfterRun_ = true;
        close();
        QCoreApplication::quit();
    }
}

// ================================================================================================
// Commands
// ================================================================================================

void TfrmMain::btnClearListClick() { lvFiles->clear(); }

void TfrmMain::pmRemoveItemClick() {
    if (QTreeWidgetItem* item = lvFiles->currentItem(); item && item->isSelected())
        delete lvFiles->takeTopLevelItem(lvFiles->indexOfTopLevelItem(item));
}

void TfrmMain::btnSearchClick() {
    if (lvFiles->topLevelItemCount() == 0) {
        ShowMessageBox(this, "検索対象の書庫がありません。", "書庫群内検索", TMsgButtons::Ok);
        return;
    }
    if (ShowSearchWindow) ShowSearchWindow(*this);
}

void TfrmMain::mmSearchClick() {
    if (lvFiles->topLevelItemCount() == 0) {
        ShowMessageBox(this, "検索対象の書庫がありません", "書庫内検索", TMsgButtons::Ok);
        return;
    }
    if (ShowSearchWindow) ShowSearchWindow(*this);
}

void TfrmMain::pmPreviewArcClick() {
    SetTopMost(false);
    QTreeWidgetItem* item = lvFiles->currentItem();
    if (!item || !item->isSelected()) {
        ShowMessageBox(this, "プレビューする書庫がありません", "プレビュー", TMsgButtons::Ok);
        return;
    }
    const AnsiString path = item->data(0, kPathRole).toByteArray().toStdString();
    const QString ext = QFileInfo(ToDisplay(path)).suffix().toLower();
    if (ext != "lzh" && ext != "lha" && ext != "zip" && ext != "rar" && ext != "cab") {
        ShowMessageBox(this, "プレビューできない形式です", "プレビュー", TMsgButtons::Ok);
        return;
    }
    if (ShowPreviewWindow) ShowPreviewWindow(*this, path);
}

void TfrmMain::ShowListPopup(QWidget* from, const QPoint& pos) { pmList_->popup(from->mapToGlobal(pos)); }

void TfrmMain::RememberIn(QComboBox* combo, const AnsiString& path) {
    // Already remembered: the list stays as it is. Otherwise the path becomes line 0 and the last
    // of the six lines drops off.
    for (int i = 0; i < combo->count(); ++i)
        if (ComboItemPath(combo, i) == path) return;
    const QString text = combo->currentText();
    updatingControls_ = true;
    InsertPathItem(combo, 0, path);
    while (combo->count() > kMruCount) combo->removeItem(combo->count() - 1);
    combo->setEditText(text);
    updatingControls_ = false;
}

void TfrmMain::BrowseInto(QComboBox* combo, const QString& prompt, AnsiString& setting) {
    AnsiString path;
    if (!BrowseForHostFolder(this, prompt, ComboPath(combo, combo->currentText()), x() - 10, y() - 10, path)) return;
    RememberIn(combo, path);
    updatingControls_ = true;
    SetPathEditText(combo, path);
    updatingControls_ = false;
    setting = path;
}

void TfrmMain::btnSelectFolderClick() {
    BrowseInto(cmbSpecialFolder, "解凍先フォルダを選択してください", Settings.SpecialFolder);
}

void TfrmMain::btnSelectMoveFolderClick() {
    BrowseInto(cmbMoveFolder, "移動先フォルダを選択してください", Settings.MoveFolder);
}

void TfrmMain::OpenFolder(const QString& path) {
    if (path.isEmpty()) {
        ShowMessageBox(this, "開くフォルダがありません。", "フォルダを開く", TMsgButtons::Ok);
        return;
    }
    SetTopMost(false);
    if (!OpenInDesktop(path)) ShowMessageBox(this, "フォルダを開けませんでした。", "フォルダを開く", TMsgButtons::Ok);
}

void TfrmMain::OpenSpecialFolder() { OpenFolder(DesktopTarget(Settings.SpecialFolder)); }
void TfrmMain::OpenMoveFolder() { OpenFolder(DesktopTarget(Settings.MoveFolder)); }
void TfrmMain::OpenTrash() { OpenFolder("trash:///"); }

void TfrmMain::mmClearLogClick() {
    memoLog->clear();
    Settings.LogLineCount = 0;
}

QString TfrmMain::LogFileName(const QString& name) {
    return name.endsWith(".txt", Qt::CaseSensitive) ? name : name + ".txt";
}

QString TfrmMain::SaveLogTo(const QString& name, QString* error) {
    const QString target = LogFileName(name);
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (error) *error = file.errorString();
        return QString();
    }
    QByteArray data;
    for (const QString& line : LogLines()) data += line.toUtf8() + '\n';
    if (file.write(data) != data.size() || !file.flush()) {
        if (error) *error = file.errorString();
        return QString();
    }
    return target;
}

void TfrmMain::mmSaveLogClick() {
    auto name = AskSaveFileName(this, TSaveRequest{"ログを保存", "ログファイル (*.txt)"});
    if (!name) return;
    // The dialog asked about the name as typed; the file written may be another one ("log" is
    // written to "log.txt"), which is not replaced unasked.
    if (const QString target = LogFileName(*name); target != *name && QFileInfo::exists(target) &&
        ShowMessageBox(this, MsgText(QString("%1 は既にあります。\r上書きしますか？").arg(target)), "ログを保存",
                       TMsgButtons::YesNo, TMsgIcon::Question) != mrYes)
        return;
    QString error;
    if (SaveLogTo(*name, &error).isEmpty())
        ShowMessageBox(this, QString("ファイルに書き込めません: %1\n%2").arg(*name, error), "ログを保存",
                       TMsgButtons::Ok, TMsgIcon::Error);
}

QString TfrmMain::HelpPagePath() {
    return QDir::cleanPath(ToQ(ProgramFolder()) + "/../share/norvex/help/index.html");
}

void TfrmMain::mmHelpClick() {
    SetTopMost(false);
    ShowHelp(this, {HelpPagePath(), BuiltInHelpPage()});
}

void TfrmMain::mmVersionClick() {
    TfrmVersion dialog(this);
    dialog.exec();
}

void TfrmMain::mmDllInstallClick() {
    SetTopMost(false);
    TfrmModuleCheck dialog(this);
    dialog.exec();
}

void TfrmMain::mmOptionDialogClick() {
    if (ShowOptionsDialog) ShowOptionsDialog(*this);
}

// ================================================================================================
// Drops, closing, settings
// ================================================================================================

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
    const std::vector<AnsiString> paths = DroppedPaths(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    DropFiles(paths);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    // Children that take drops of their own (the edit fields) hand file drops to the window.
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData()->hasUrls()) {
            drag->acceptProposedAction();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::vector<AnsiString> paths = DroppedPaths(drop->mimeData());
        if (!paths.empty()) {
            drop->acceptProposedAction();
            DropFiles(paths);
            return true;
        }
        break;
    }
    default: break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (inClose_) {
        event->accept();
        return;
    }
    if (Settings.RunState == TRunState::Extracting && worker_) {
        const unsigned run = runSerial_;
        const bool stop = ShowMessageBox(this, kCloseQuery, "確認", TMsgButtons::YesNo, TMsgIcon::Information) == mrYes;
        // The run goes on while the box waits: a run that ended meanwhile is over, and its log must
        // not end in "解凍処理が開始されていません".
        if (stop && worker_ && run == runSerial_) btnBreakClick();
        // A command-line run that ended while the box was up closes its window now, as its end
        // does without the box (the close it asked for came while this one was under way).
        if (!closingAfterRun_) {
            event->ignore();
            return;
        }
    }
    inClose_ = true;
    if (worker_) {
        // Starting, testing or breaking: the worker is stopped in an orderly way and the close
        // follows once it has ended (never cut off in the middle of a file).
        if (Settings.RunState != TRunState::Breaking) btnBreakClick();
        WaitForWorker();
    }
    SaveSettings();
    inClose_ = false;
    event->accept();
    emit Closed();
}

void TfrmMain::SaveSettings() {
    Settings.WindowX = x();
    Settings.WindowY = y();
    for (int i = 0; i < kMruCount; ++i) {
        Settings.MRU_SpecialFolder[i] = i < cmbSpecialFolder->count() ? ComboItemPath(cmbSpecialFolder, i) : AnsiString();
        Settings.MRU_MoveFolder[i] = i < cmbMoveFolder->count() ? ComboItemPath(cmbMoveFolder, i) : AnsiString();
    }
    // Settings that cannot be written are lost silently, as any other ini error.
    TIniControl(FromQ(iniPath_)).Save(Settings);
}

}  // namespace norvex::ui
