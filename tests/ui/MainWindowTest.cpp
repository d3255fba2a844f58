// The main window driven as a user would: drops, runs with the real engine and modules, the questions
// answered both ways, breaks, pauses, command-line starts and the log pane.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "platform/AnsiCodec.h"
#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"
#include "settings/uIniControl.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/shell/ScopedHome.h"
#include "ui/DialogHooks.h"
#include "ui/FailedEntries.h"
#include "ui/FileCtrl.h"
#include "ui/FolderBrowser.h"
#include "ui/HandOverServer.h"
#include "ui/QtAnsi.h"
#include "ui/UModuleCheck.h"
#include "ui/OptionsCommand.h"
#include "ui/UForm.h"
#include "ui/UHelp.h"
#include "ui/UfrmOption.h"
#include "ui/Uversion.h"
#include "ui/vclIconCache.h"

using namespace norvex;
using namespace norvex::ui;
using norvex::test::TempDir;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool HaveModule(const char* dll) {
    return QFileInfo::exists(ToQ(ModuleFolder() + PathDelim + ModuleFileName(dll)));
}

// A ZIP archive made by Info-ZIP zip from files written in a scratch folder.
QString MakeZip(const TempDir& dir, const QString& name, const QStringList& files) {
    const QString src = Q(dir.path()) + "/src-" + name;
    QDir().mkpath(src);
    QStringList args{"zip", "-q", "-r", Q(dir.path()) + "/" + name};
    for (const QString& f : files) {
        norvex::test::WriteFile((src + "/" + f).toStdString(), "content of " + f.toStdString() + "\n");
        args << f;
    }
    std::vector<std::string> argv;
    for (const QString& a : args) argv.push_back(a.toStdString());
    auto r = norvex::test::RunTool(argv, src.toStdString());
    if (r.exitCode != 0) qWarning() << "zip failed:" << Q(r.output);
    return Q(dir.path()) + "/" + name;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> tmp;
    QString ini;
    QList<TMessageRequest> asked;            // every box, in order
    std::function<int(const TMessageRequest&)> answer;  // the test's answers (default: Yes / OK)
    QStringList opened;                      // what went to the desktop

    std::unique_ptr<TfrmMain> makeWindow(const QStringList& args = {}) {
        TMainWindowOptions o;
        for (const QString& a : args) o.arguments.push_back(a.toStdString());
        o.iniPath = ini;
        return std::make_unique<TfrmMain>(o);
    }

    QStringList rows(TfrmMain& w) {
        QStringList out;
        for (int i = 0; i < w.lvFiles->topLevelItemCount(); ++i) out << w.lvFiles->topLevelItem(i)->text(0);
        return out;
    }

    // Runs the start button and waits for the end of the run.
    bool runToEnd(TfrmMain& w, const std::function<void()>& start) {
        QSignalSpy finished(&w, &TfrmMain::RunFinished);
        start();
        if (!w.WorkerAlive()) return finished.count() > 0 || true;
        return finished.wait(60000);
    }

    void writeIni(const std::string& body) { norvex::test::WriteFile(ini.toStdString(), body); }

    SettingsBlock readIni() {
        SettingsBlock s;
        TIniControl(FromQ(ini)).Load(s);
        return s;
    }

private slots:
    void init() {
        Settings = SettingsBlock{};
        SetModuleFolder("");
        tmp = std::make_unique<TempDir>();
        ini = Q(tmp->path()) + "/Norvex.ini";
        asked.clear();
        opened.clear();
        answer = nullptr;
        SetMessageAnswerer([this](const TMessageRequest& r) {
            asked << r;
            if (answer) return answer(r);
            return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes);
        });
        SetOpenRecorder([this](const QString& what) {
            opened << what;
            return true;
        });
        SetBrowseAnswerer([](const TBrowseRequest&) { return std::optional<QString>(); });
        SetSaveAnswerer([](const TSaveRequest&) { return std::optional<QString>(); });
    }

    void cleanup() {
        SetMessageAnswerer(nullptr);
        SetOpenRecorder(nullptr);
        SetBrowseAnswerer(nullptr);
        SetSaveAnswerer(nullptr);
        SetModuleFolder("");
        tmp.reset();
    }

    // ---- The log pane -----------------------------------------------------------------------------

    void logNumberingAcrossClearStarsAndSource() {
        auto w = makeWindow();
        w->mmClearLogClick();
        Settings.CurrentArchiveName = FromQ(Q(tmp->path()) + "/表ソ.zip");
        w->AppendLog("first");
        w->AppendLog("***");
        w->AppendLog(">>>> [ %SRC ]  --");
        w->AppendLog("---");
        w->AppendLog("> \"/d/%src\"");
        const QStringList lines = w->LogLines();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QString(" 1| first"));
        QCOMPARE(lines[1], QString(" ") + QString(44, '*'));
        // The stars took number 2; the heading's placeholder, in upper case, takes the archive's name.
        QCOMPARE(lines[2], QString(" 3| >>>> [ \"%1/表ソ.zip\" ]  --").arg(Q(tmp->path())));
        QCOMPARE(lines[3], QString(" 4|  ") + QString(22, QChar(0x2500)));
        // A name in any other line is text.
        QCOMPARE(lines[4], QString(" 5| > \"/d/%src\""));
    }

    void dllCheckBlockWithoutModules() {
        TempDir empty;
        SetModuleFolder(empty.path());
        auto w = makeWindow();
        const QStringList lines = w->LogLines();
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QString(" 1| ─── Checking DLL ... ──"));
        // The remedy names the package, the module file and the folder searched.
        const auto missing = [&](const char* module) {
            return QString("\t「なし　パッケージ norvex を入れ直すか、%1 を \"%2\" に置いてください」").arg(module, Q(empty.path()));
        };
        QCOMPARE(lines[1], " 2| [ DLL ] \"LHA\"" + missing("unlha32.so"));
        QCOMPARE(lines[2], " 3| [ DLL ] \"ZIP\"" + missing("unzip32.so"));
        QCOMPARE(lines[3], " 4| [ DLL ] \"CAB\"" + missing("cab32.so"));
        QCOMPARE(lines[4], " 5| [ DLL ] \"RAR\"" + missing("unrar32.so"));
        QCOMPARE(lines[5], " 6| [ DLL ] \"TAR\"" + missing("tar32.so"));
        QCOMPARE(lines[6], " 7| [ DLL ] \"7Z\"" + missing("7-zip32.so"));
        QVERIFY(lines[7].startsWith(" 8|  ─"));
        for (bool present : Settings.DllPresent) QVERIFY(!present);
        // Checking again continues the numbering.
        w->mmDllCheck->trigger();
        QCOMPARE(w->LogLines().size(), 16);
        QVERIFY(w->LogLines()[8].startsWith(" 9| ─── Checking DLL"));
    }

    void saveLogAsUtf8WithTxtExtension() {
        auto w = makeWindow();
        w->mmClearLogClick();
        w->AppendLog(FromQ("解凍ログ ソ表"));
        const QString dir = Q(tmp->path());
        QCOMPARE(w->SaveLogTo(dir + "/a.log"), dir + "/a.log.txt");
        QCOMPARE(w->SaveLogTo(dir + "/b.TXT"), dir + "/b.TXT.txt");
        QCOMPARE(w->SaveLogTo(dir + "/c.txt"), dir + "/c.txt");
        QFile f(dir + "/c.txt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), QString(" 1| 解凍ログ ソ表\n"));
        // A folder that does not exist: nothing written, the pane unchanged, an error box.
        SetSaveAnswerer([&](const TSaveRequest& r) {
            [&] { QCOMPARE(r.title, QString("ログを保存")); }();
            return std::optional<QString>(dir + "/missing/x");
        });
        w->mmSaveLog->trigger();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].caption, QString("ログを保存"));
        QCOMPARE(w->LogLines().size(), 1);

        // "report" is written to "report.txt": the dialog asked nothing about that file, so an existing
        // one is replaced only when the user says yes.
        norvex::test::WriteFile((dir + "/report.txt").toStdString(), "kept\n");
        SetSaveAnswerer([&](const TSaveRequest&) { return std::optional<QString>(dir + "/report"); });
        asked.clear();
        answer = [](const TMessageRequest&) { return int(mrNo); };
        w->mmSaveLog->trigger();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].text, dir + "/report.txt は既にあります。\n上書きしますか？");
        QCOMPARE(norvex::test::ReadFile((dir + "/report.txt").toStdString()), std::string("kept\n"));
        answer = nullptr;
        w->mmSaveLog->trigger();
        QCOMPARE(norvex::test::ReadFile((dir + "/report.txt").toStdString()), std::string(" 1| 解凍ログ ソ表\n"));
        // A new file is written without a question.
        asked.clear();
        SetSaveAnswerer([&](const TSaveRequest&) { return std::optional<QString>(dir + "/fresh"); });
        w->mmSaveLog->trigger();
        QVERIFY(asked.isEmpty());
        QVERIFY(QFileInfo::exists(dir + "/fresh.txt"));
    }

    // ---- Drops and the list -------------------------------------------------------------------------

    void dropTwoArchivesAndAFolderAnywhere() {
        auto w = makeWindow();
        const QString d = Q(tmp->path());
        norvex::test::WriteFile((d + "/one.zip").toStdString(), std::string(1536, 'x'));
        norvex::test::WriteFile((d + "/two.LZH").toStdString(), std::string(1023, 'y'));
        QDir().mkpath(d + "/folder");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(d + "/one.zip"), QUrl::fromLocalFile(d + "/two.LZH"),
                      QUrl::fromLocalFile(d + "/folder"), QUrl::fromLocalFile(d + "/one.zip")});
        // Dropped on the log pane, which would take text drops of its own.
        QWidget* target = w->memoLog->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(rows(*w), QStringList({d + "/one.zip", d + "/two.LZH", d + "/folder", d + "/one.zip"}));
        auto size = [&](int i) { return w->lvFiles->topLevelItem(i)->text(1); };
        QCOMPARE(size(0), QString("1 KB"));
        QCOMPARE(size(1), QString("0 KB"));
        QCOMPARE(size(2), QString("0 KB"));
        QVERIFY(w->FileAt(1) == FromQ(d + "/two.LZH"));

        // While extracting a drop adds nothing; while testing it does.
        Settings.RunState = TRunState::Extracting;
        w->DropFiles({d + "/one.zip"});
        QCOMPARE(w->lvFiles->topLevelItemCount(), 4);
        Settings.RunState = TRunState::Testing;
        w->DropFiles({d + "/gone.zip"});
        QCOMPARE(w->lvFiles->topLevelItemCount(), 5);
        QCOMPARE(size(4), QString());  // not found: no size
        Settings.RunState = TRunState::Idle;

        // Delete removes the selected row only; the clear button empties the list.
        w->lvFiles->setCurrentItem(w->lvFiles->topLevelItem(1));
        w->pmRemoveItem->trigger();
        QCOMPARE(w->lvFiles->topLevelItemCount(), 4);
        QCOMPARE(w->lvFiles->topLevelItem(1)->text(0), d + "/folder");
        w->lvFiles->clearSelection();
        w->pmRemoveItem->trigger();
        QCOMPARE(w->lvFiles->topLevelItemCount(), 4);
        w->btnClearList->click();
        QCOMPARE(w->lvFiles->topLevelItemCount(), 0);
    }

    void iconCacheSharesIconsByExtension() {
        TFilerIconCache cache;
        const QString d = Q(tmp->path());
        QDir().mkpath(d + "/dir");
        const int zip = cache.IconIndex(d + "/a.zip");
        QVERIFY(zip >= 0);
        QCOMPARE(cache.IconIndex(d + "/B.ZIP"), zip);
        const int exe1 = cache.IconIndex(d + "/one.exe");
        const int exe2 = cache.IconIndex(d + "/two.exe");
        QVERIFY(exe1 != exe2);
        QCOMPARE(cache.IconIndex(d + "/one.exe"), exe1);
        QCOMPARE(cache.IconIndex(d + "/README"), cache.IconIndex(d + "/dir"));
        QCOMPARE(cache.LargeIcons().size(), cache.Count());
        QCOMPARE(cache.SmallIcons().size(), cache.Count());
    }

    void moduleCheckTellsWhereAndWhy() {
        TempDir folder;
        SetModuleFolder(folder.path());
        norvex::test::WriteFile(folder / "unzip32.so", "not a shared object");
        const auto statuses = CheckModules();
        QCOMPARE(statuses.size(), size_t(11));
        QCOMPARE(statuses[0].dllName, QString("UNLHA32.DLL"));
        QCOMPARE(statuses[0].path, Q(folder / "unlha32.so"));
        QCOMPARE(statuses[0].StatusText(), QString("見つかりません"));
        QCOMPARE(statuses[1].StatusText(), QString("読み込めません"));
        SetModuleFolder("");
        if (HaveModule("UNZIP32.DLL")) QCOMPARE(CheckModules()[1].StatusText(), QString("OK"));
    }

    void folderDialogPlacement() {
        // Far beyond the right edge: flush with it; a 0 centres; negative space never goes off-screen.
        TDialogPlace p = PlaceDialog(5000, 100, 400, 300, 1280, 900);
        QCOMPARE(p.x, 880);
        QCOMPARE(p.y, 100);
        p = PlaceDialog(0, 100, 400, 300, 1280, 900);
        QCOMPARE(p.x, 440);
        QCOMPARE(p.y, 300);
        p = PlaceDialog(-50, 2000, 400, 300, 1280, 900);
        QCOMPARE(p.x, 0);
        QCOMPARE(p.y, 600);
    }

    // ---- Settings shown in the controls --------------------------------------------------------------

    // Remembered folders whose names hold a CR: the folder boxes show it ("\x0d"), so that "a", CR,
    // "b" and "ab" differ on screen, while the paths used and saved keep their bytes, whichever way
    // the line comes into the field (the window, the typing, the list).
    void foldersWithAControlCharacterShowItAndKeepTheirBytes() {
        writeIni("[Main]\nPutLocation=1\nSpecialFolder=\"/d/a\\rb\"\nAfterMethod=3\nMoveFolder=\"/m/a\\rb\"\n"
                 "[MRU_MoveFolder]\nMoveFolder0=/m/ab\nMoveFolder1=\"/m/a\\rb\"\nMoveFolder2=\"/m/a\\\\x0db\"\n"
                 "[MRU_SpecialFolder]\nSpeciaFolder0=\"/d/a\\rb\"\nSpeciaFolder1=/d/ab\n");
        auto w = makeWindow();
        const AnsiString crMove = "/m/a\rb", crDest = "/d/a\rb";
        QCOMPARE(w->cmbMoveFolder->currentText(), QString("/m/a\\x0db"));
        QCOMPARE(w->cmbMoveFolder->itemText(0), QString("/m/ab"));
        QCOMPARE(w->cmbMoveFolder->itemText(1), QString("/m/a\\x0db"));
        QCOMPARE(w->cmbSpecialFolder->currentText(), QString("/d/a\\x0db/"));
        QCOMPARE(w->cmbSpecialFolder->itemText(0), QString("/d/a\\x0db"));
        QCOMPARE(Settings.MoveFolder, crMove);
        QCOMPARE(Settings.SpecialFolder, crDest);

        // Typed away and back: the field shows the window's path again, and that path is used.
        w->cmbMoveFolder->setEditText("/m/a\\x0dbc");
        QCOMPARE(Settings.MoveFolder, AnsiString("/m/a\\x0dbc"));
        w->cmbMoveFolder->setEditText("/m/a\\x0db");
        QCOMPARE(Settings.MoveFolder, crMove);
        w->cmbSpecialFolder->setEditText("/d/a\\x0db");
        QCOMPARE(Settings.SpecialFolder, crDest);  // the line of the list
        // Chosen from the list: each line its own bytes, also the two that show alike.
        w->cmbMoveFolder->setCurrentIndex(0);
        QCOMPARE(Settings.MoveFolder, AnsiString("/m/ab"));
        w->cmbMoveFolder->setCurrentIndex(2);
        QCOMPARE(Settings.MoveFolder, AnsiString("/m/a\\x0db"));
        w->cmbMoveFolder->setCurrentIndex(1);
        QCOMPARE(Settings.MoveFolder, crMove);

        QVERIFY(w->close());
        const SettingsBlock saved = readIni();
        QCOMPARE(saved.MoveFolder, crMove);
        QCOMPARE(saved.SpecialFolder, crDest);
        QCOMPARE(saved.MRU_MoveFolder[1], crMove);
        QCOMPARE(saved.MRU_MoveFolder[2], AnsiString("/m/a\\x0db"));
        QCOMPARE(saved.MRU_SpecialFolder[0], crDest);
    }

    void controlsFollowTheSettings() {
        writeIni("[App]\nWindowX=-5\nWindowY=40\n[Main]\nPutLocation=5\nAfterMethod=3\nPreTestMode=2\n"
                 "MoveFolder=/tmp/moved\nPreTestArc=0\n[Sub_Other]\nIndicatePerFile=0\n");
        auto w = makeWindow();
        QCOMPARE(w->cmbPreTestMode->currentIndex(), 1);
        QCOMPARE(int(Settings.PreTestMode), 1);
        QVERIFY(!w->cmbPreTestMode->isEnabled());
        QCOMPARE(w->cmbSpecialFolder->currentText(), SpecialFolderPath("mydocument"));
        QVERIFY(!w->cmbSpecialFolder->isEnabled());
        QVERIFY(w->cmbMoveFolder->isEnabled());
        QCOMPARE(w->cmbMoveFolder->currentText(), QString("/tmp/moved"));
        QCOMPARE(w->cmbSpecialFolder->count(), 6);  // six remembered lines, empty ones included
        QCOMPARE(w->txtFileName->text(), QString("-"));
        QCOMPARE(w->lblIndicate->text(), QString("-"));
        QVERIFY(w->TopMost() && w->mmTopMost->isChecked());
        QVERIFY(!w->btnBreak->isEnabled() && !w->btnSuspendAndResume->isEnabled());
        QVERIFY(!w->mmSaveList->isEnabled() && !w->mmLoadList->isEnabled() && !w->pmAddItem->isEnabled());

        // Choosing kinds: the documents folder shows its name now, a favourite its folder.
        w->cmbOpenDirectory->setCurrentIndex(5);
        emit w->cmbOpenDirectory->activated(5);
        QCOMPARE(w->cmbSpecialFolder->currentText(), QString("マイドキュメント"));
        Settings.Favorite1 = "/fav/1";
        emit w->cmbOpenDirectory->activated(3);
        QCOMPARE(w->cmbSpecialFolder->currentText(), QString("/fav/1"));
        QVERIFY(w->cmbSpecialFolder->isEnabled());
        w->cmbSpecialFolder->setEditText("/fav/typed");
        QCOMPARE(Settings.Favorite1, AnsiString("/fav/typed"));
        emit w->cmbAfterMethod->activated(2);
        QCOMPARE(w->cmbMoveFolder->currentText(), QString("ごみ箱"));
        QVERIFY(!w->cmbMoveFolder->isEnabled());
        QCOMPARE(Settings.MoveFolder, AnsiString("/tmp/moved"));

        // The mode panel and the per-file switch.
        w->btnIgnoreDirectory->click();
        QVERIFY(Settings.IgnoreDirectory && w->mmIgnoreDirectory->isChecked());
        w->mmDelFolderNum->trigger();
        QCOMPARE(w->stbPanel1->text(), QString("ディレクトリ構成無視 , 末尾数字等除去"));
        w->chkIndicatePerFile->setChecked(true);
        QCOMPARE(w->lblIndicate->text(), QString("0%"));
        QCOMPARE(w->txtFileName->text(), QString());

        // The choices are written on close (no run ended, so nothing is restored).
        QVERIFY(w->close());
        const SettingsBlock s = readIni();
        QCOMPARE(int(s.PutLocation), 3);
        QCOMPARE(int(s.AfterMethod), 2);
        QVERIFY(s.IgnoreDirectory && s.DelFolderNum && s.IndicatePerFile);
        QCOMPARE(s.Favorite1, AnsiString("/fav/typed"));
    }

    // A pattern typed into the file filter stays as typed (a preset starts with "*.jpg "), in the box and
    // in the setting the run reads.
    void filePatternStaysAsTyped() {
        auto w = makeWindow();
        w->chkSpecialExt->setChecked(true);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->txtExt->lineEdit()->setFocus();
        w->txtExt->lineEdit()->clear();
        QTest::keyClicks(w->txtExt->lineEdit(), "*.jpg");
        QCOMPARE(w->txtExt->currentText(), QString("*.jpg"));
        QCOMPARE(Settings.FileSpec, AnsiString("*.jpg"));
    }

    // After "OK" in the options dialog, the tool bar's toggle and the mode panel show the mode in force.
    void optionsDialogBringsTheToolBarInStep() {
        norvex::test::ScopedHome home;  // "OK" rewrites the shell entries: never the real user's
        auto w = makeWindow();
        InstallOptionsDialog(*w);
        auto* dialog = w->findChild<TfrmOption*>();
        QVERIFY(dialog);
        for (bool on : {true, false}) {
            QTimer::singleShot(0, dialog, [dialog, on] {
                dialog->chkIgnoreDirectory->setChecked(on);
                dialog->btnOK->click();
            });
            w->mmOptionDialog->trigger();  // modal until "OK"
            QCOMPARE(Settings.IgnoreDirectory, on);
            QCOMPARE(w->btnIgnoreDirectory->isChecked(), on);
            QCOMPARE(w->stbPanel1->text(), on ? QString("ディレクトリ構成無視 ") : QString());
        }
    }

    // Help opens in the program's own window, from the installed page or the copy built in; when no
    // page can be shown a box says so. Nothing is handed to a browser.
    void helpInItsOwnWindow() {
        auto w = makeWindow();
        w->mmHelp->trigger();
        auto* help = w->findChild<TfrmHelp*>();
        QVERIFY(help && help->isVisible());
        QVERIFY(help->txtHelp->toPlainText().contains("使い方"));
        QCOMPARE(help->windowTitle(), QString("Norvex ヘルプ"));
        QVERIFY(!w->TopMost());
        QVERIFY(opened.isEmpty() && asked.isEmpty());
        w->mmHelp->trigger();
        QCOMPARE(w->findChildren<TfrmHelp*>().size(), 1);  // the same window again

        const QString empty = Q(tmp->path()) + "/empty.html";
        norvex::test::WriteFile(empty.toStdString(), "  \n");
        QVERIFY(!ShowHelp(w.get(), {Q(tmp->path()) + "/missing/index.html", empty}));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].caption, QString("ヘルプ"));
        QVERIFY(asked[0].text.contains("missing/index.html") && asked[0].text.contains("empty.html"));
        QVERIFY(help->txtHelp->toPlainText().contains("使い方"));  // the page shown before stays

        // The files built into the program are linked in: the copy of the help page and the icon.
        QVERIFY(ShowHelp(w.get(), {BuiltInHelpPage()}));
        QVERIFY(!TfrmVersion::ProgramIcon().pixmap(32, 32).isNull());
    }

    void openingFoldersAndTheTrash() {
        auto w = makeWindow();
        w->OpenSpecialFolder();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].text, QString("開くフォルダがありません。"));
        QCOMPARE(asked[0].caption, QString("フォルダを開く"));
        Settings.MoveFolder = "/tmp";
        w->mmOpenMoveFolder->trigger();
        w->mmOpenTrash->trigger();
        QCOMPARE(opened, QStringList({"/tmp", "trash:///"}));
        QVERIFY(!w->TopMost());
        SetOpenRecorder([](const QString&) { return false; });
        w->OpenMoveFolder();
        QCOMPARE(asked.last().text, QString("フォルダを開けませんでした。"));
    }

    void browseRemembersChosenFolders() {
        auto w = makeWindow();
        emit w->cmbOpenDirectory->activated(1);
        QList<TBrowseRequest> requests;
        QString next = "/chosen/a";
        SetBrowseAnswerer([&](const TBrowseRequest& r) {
            requests << r;
            return std::optional<QString>(next);
        });
        w->btnSelectFolder->click();
        w->btnSelectFolder->click();  // the same folder again: the list stays
        next = "/chosen/b";
        w->btnSelectFolder->click();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests[0].prompt, QString("解凍先フォルダを選択してください"));
        QCOMPARE(requests[0].left, w->x() - 10);
        QCOMPARE(w->cmbSpecialFolder->itemText(0), QString("/chosen/b"));
        QCOMPARE(w->cmbSpecialFolder->itemText(1), QString("/chosen/a"));
        QCOMPARE(w->cmbSpecialFolder->count(), 6);
        QCOMPARE(Settings.SpecialFolder, AnsiString("/chosen/b"));
        QVERIFY(w->close());
        QCOMPARE(readIni().MRU_SpecialFolder[0], AnsiString("/chosen/b"));
    }

    // ---- Runs ---------------------------------------------------------------------------------------

    void startWithAnEmptyList() {
        auto w = makeWindow();
        w->mmClearLogClick();
        w->btnUnPack->click();
        QCOMPARE(w->LogLines(), QStringList({" 1| > 処理ファイルがありません。"}));
        QVERIFY(!w->WorkerAlive());
        // Break and pause while idle: a notice line, nothing else.
        w->btnBreakClick();
        w->btnSuspendAndResumeClick();
        QCOMPARE(w->LogLines().last(), QString(" 2| [ お知らせ ]　解凍処理が開始されていません。"));
        QCOMPARE(w->btnSuspendAndResume->text(), QString("一時停止"));

        // Search and preview need listed archives; the preview only the five formats.
        w->btnSearch->click();
        w->mmSearch->trigger();
        w->pmPreviewArc->trigger();
        w->AddFileToList("/x/a.7z");
        w->lvFiles->setCurrentItem(w->lvFiles->topLevelItem(0));
        w->pmPreviewArc->trigger();
        QCOMPARE(asked.size(), 4);
        QCOMPARE(asked[0].text + "|" + asked[0].caption, QString("検索対象の書庫がありません。|書庫群内検索"));
        QCOMPARE(asked[1].text + "|" + asked[1].caption, QString("検索対象の書庫がありません|書庫内検索"));
        QCOMPARE(asked[2].text + "|" + asked[2].caption, QString("プレビューする書庫がありません|プレビュー"));
        QCOMPARE(asked[3].text + "|" + asked[3].caption, QString("プレビューできない形式です|プレビュー"));
    }

    void confirmationsAnsweredBothWays() {
        auto w = makeWindow();
        const QString d = Q(tmp->path());
        w->DropFiles({d + "/missing.zip"});
        Settings.ClearAll = false;
        Settings.AfterMethod = TAfterMethod::Delete;
        Settings.IgnoreDirectory = true;
        Settings.FileSpec = "*.jpg *.png";
        w->mmClearLogClick();

        // No to the first question: nothing starts, nothing is logged, the controls stay enabled.
        answer = [](const TMessageRequest&) { return int(mrNo); };
        w->btnUnPack->click();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].text, QString("ディレクトリ構成を無視して展開します。\nよろしいですか？"));
        QCOMPARE(asked[0].caption, QString("確認"));
        QVERIFY(!w->WorkerAlive());
        QVERIFY(w->btnUnPack->isEnabled());
        QVERIFY(w->LogLines().isEmpty());

        // Yes, then No to the delete question.
        answer = [](const TMessageRequest& r) { return r.text.contains("削除") ? int(mrNo) : int(mrYes); };
        w->btnUnPack->click();
        QCOMPARE(asked.size(), 3);
        QCOMPARE(asked[2].text, QString("後始末が\"削除\"になっています。\n続行しますか？"));
        QVERIFY(!w->WorkerAlive() && w->btnUnPack->isEnabled() && w->LogLines().isEmpty());

        // Yes to both: the run starts with its header, and the missing file is a logged failure.
        answer = nullptr;
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));
        const QStringList log = w->LogLines();
        QCOMPARE(log[0], QString(" 1|  "));
        QVERIFY(log[1].startsWith(" 2| -- \"処理開始\" -- [ ") && log[1].endsWith("] --------------"));
        QCOMPARE(log[2], QString(" 3| > -- 設定確認 --"));
        QCOMPARE(log[3], QString(" 4| >  ファイル抽出パターン：\"*.jpg *.png\" "));
        QCOMPARE(log[4], QString(" 5| >  ディレクトリ構成：無視 "));
        QVERIFY(log.join('\n').contains("> [ 前段階エラー]： ファイルが存在しません"));
        QCOMPARE(rows(*w), QStringList({d + "/missing.zip"}));  // failures stay listed
        QCOMPARE(w->windowTitle(), QString("Norvex (処理終了)"));
        QCOMPARE(w->stbPanel0->text(), QString("処理終了"));
        QVERIFY(w->btnUnPack->isEnabled() && !w->btnBreak->isEnabled());
        QCOMPARE(int(Settings.RunState.load()), int(TRunState::Idle));

        // A second run of the same missing archive never reaches the worker's first word: its
        // caption is its own from the start, not the last run's end.
        QSignalSpy finished(w.get(), &TfrmMain::RunFinished);
        w->btnUnPack->click();
        QVERIFY(w->WorkerAlive());
        QCOMPARE(w->windowTitle(), QString("Norvex (処理開始)"));
        QCOMPARE(w->stbPanel0->text(), QString("処理開始"));
        QVERIFY(finished.wait(60000));
        QCOMPARE(w->windowTitle(), QString("Norvex (処理終了)"));
    }

    // 「解凍に失敗した要素もリストからクリアする」: what the run reached and could not extract leaves
    // the list at its end; what it never reached, and the archive a break stopped at, stay.
    void clearAllTakesFailedRowsOffTheList() {
        auto w = makeWindow();
        const QString d = Q(tmp->path());
        norvex::test::WriteFile((d + "/notes.txt").toStdString(), "not an archive");
        norvex::test::WriteFile((d + "/broken.zip").toStdString(), "not a zip either");
        const QStringList failing{d + "/missing.zip", d + "/notes.txt", d + "/broken.zip"};
        Settings.ClearAll = true;
        w->DropFiles(failing);
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));
        QCOMPARE(rows(*w), QStringList());
        QVERIFY(QFile::exists(d + "/broken.zip"));  // off the list, never off the disk
        Settings.ClearAll = false;
        w->DropFiles(failing);
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));
        QCOMPARE(rows(*w), failing);

        // Which rows go, by the order the run reached them.
        QTreeWidget list;
        for (const char* name : {"a", "b", "c", "d"}) new QTreeWidgetItem(&list, QStringList{name});
        auto names = [&] {
            QStringList out;
            for (int i = 0; i < list.topLevelItemCount(); ++i) out << list.topLevelItem(i)->text(0);
            return out;
        };
        ForgetReachedRows(&list);
        for (int i : {0, 1, 2}) MarkReached(list.topLevelItem(i));
        QCOMPARE(RemoveFailedRows(&list, true), 2);  // broken at c: c and the unreached d stay
        QCOMPARE(names(), QStringList({"c", "d"}));
        ForgetReachedRows(&list);
        MarkReached(list.topLevelItem(1));
        QCOMPARE(RemoveFailedRows(&list, false), 1);
        QCOMPARE(names(), QStringList({"c"}));
    }

    // Names from a Windows disk (cp932 bytes, not UTF-8) reach the engine byte for byte from the
    // command line, a drop and the folder dialog, and show readably in the list, the log and the combo.
    void namesThatAreNotUtf8ArriveByteForByte() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        const std::string d = tmp->path();
        const std::string folder = d + "/\x8E\x91\x97\xBF";            // 資料
        const std::string archive = folder + "/\x95\x5C\x83\x5C.zip";  // 表ソ.zip (trail bytes 0x5C)
        std::filesystem::create_directories(folder);
        std::filesystem::rename(MakeZip(*tmp, "made.zip", {"one.txt"}).toStdString(), archive);
        const QString shownFolder = Q(d) + "/資料";
        const QString shown = shownFolder + "/表ソ.zip";

        {  // the command line
            TMainWindowOptions o;
            o.arguments = {"-k", archive};
            o.iniPath = ini;
            TfrmMain cl(o);
            QCOMPARE(FromAnsi(cl.FileAt(0)), archive);
            QCOMPARE(rows(cl), QStringList{shown});
        }
        Settings = SettingsBlock{};
        auto w = makeWindow();
        // A drop: the file manager sends the bytes percent-encoded in text/uri-list.
        QMimeData mime;
        mime.setData("text/uri-list", "file://" + QByteArray::fromStdString(archive).toPercentEncoding("/") + "\r\n");
        QWidget* target = w->lvFiles->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QCOMPARE(rows(*w), QStringList{shown});
        QCOMPARE(FromAnsi(w->FileAt(0)), archive);
        QCOMPARE(w->lvFiles->topLevelItem(0)->text(1), QString("0 KB"));
        // The run finds the archive and extracts it beside itself.
        w->mmClearLogClick();
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));
        QVERIFY(std::filesystem::exists(folder + "/one.txt"));
        QVERIFY(w->LogLines().join('\n').contains(">>>> [ \"" + shown + "\" ]"));
        QCOMPARE(rows(*w), QStringList());

        // The folder dialog shows the name as Qt decodes it (with U+FFFD); the real folder is taken.
        emit w->cmbOpenDirectory->activated(1);
        SetBrowseAnswerer([&](const TBrowseRequest&) {
            return std::optional<QString>(QFile::decodeName(QByteArray::fromStdString(folder)));
        });
        w->btnSelectFolder->click();
        QCOMPARE(FromAnsi(Settings.SpecialFolder), folder);
        QCOMPARE(w->cmbSpecialFolder->currentText(), shownFolder);
        QCOMPARE(w->cmbSpecialFolder->itemText(0), shownFolder);
        QVERIFY(w->close());
        const SettingsBlock saved = readIni();
        QCOMPARE(FromAnsi(saved.SpecialFolder), folder);
        QCOMPARE(FromAnsi(saved.MRU_SpecialFolder[0]), folder);

        // The "..." buttons' own browser lists the folder that Qt's file dialog cannot show, under
        // its readable name, and returns its bytes.
        TFolderBrowser browser(nullptr, "解凍先フォルダを選択してください", d);
        QCOMPARE(browser.SelectedPath(), d);
        QTreeWidgetItem* here = browser.tvFolders->currentItem();
        browser.tvFolders->expandItem(here);
        QTreeWidgetItem* row = nullptr;
        for (int i = 0; i < here->childCount(); ++i)
            if (here->child(i)->text(0) == "資料") row = here->child(i);
        QVERIFY(row);
        browser.tvFolders->setCurrentItem(row);
        QCOMPARE(browser.SelectedPath(), folder);
        QCOMPARE(browser.txtPath->text(), shownFolder);
        QVERIFY(!browser.SelectPath(archive));  // a file is not a folder
        QVERIFY(browser.SelectPath(folder + "/"));
        QCOMPARE(browser.SelectedPath(), folder);
    }

    // Compress mode end to end: dropped files become LZH archives beside them that lhasa, bsdtar and
    // 7z open, with the Japanese names and the contents that went in.
    void compressDroppedFilesIntoArchivesOtherToolsRead() {
        if (!HaveModule("UNLHA32.DLL")) QSKIP("the LHA module is not built");
        for (const char* tool : {"lhasa", "bsdtar", "7z"})
            if (!norvex::test::HaveTool(tool)) QSKIP("a reader is missing");
        const std::string d = tmp->path() + "/in";
        struct Input {
            std::string name, stem, content;
        };
        std::string text, noise;
        for (int i = 0; i < 4000; ++i) text += "能力ソ表 line " + std::to_string(i) + "\n";
        for (int i = 0; i < 5000; ++i) noise += char((i * 7919 + i / 13) & 0xFF);
        const Input inputs[] = {{"資料ソ表.txt", "資料ソ表", text}, {"画像 (1).bin", "画像 (1)", noise}, {"empty", "empty", ""}};
        QStringList dropped;
        for (const Input& in : inputs) {
            norvex::test::WriteFile(d + "/" + in.name, in.content);
            dropped << Q(d + "/" + in.name);
        }
        auto w = makeWindow();
        w->DropFiles(dropped);
        w->mmClearLogClick();
        QVERIFY(runToEnd(*w, [&] { w->btnCompress->click(); }));
        QCOMPARE(rows(*w), QStringList());
        QCOMPARE(w->LogLines()[2], QString(" 3| > -- 設定確認 --"));

        for (const Input& in : inputs) {
            const std::string archive = d + "/" + in.stem + ".lzh";
            QVERIFY2(std::filesystem::exists(archive), archive.c_str());
            QVERIFY(norvex::test::ReadFile(d + "/" + in.name) == in.content);  // the source stays
            const std::string out = tmp->path() + "/out-" + in.stem;
            for (const char* sub : {"/lhasa", "/bsdtar", "/7z"}) std::filesystem::create_directories(out + sub);
            // lhasa writes the name's bytes as stored: cp932.
            auto r = norvex::test::RunTool({"lhasa", "xq", archive}, out + "/lhasa");
            QVERIFY2(r.exitCode == 0, r.output.c_str());
            QVERIFY(norvex::test::ReadFile(out + "/lhasa/" + FromQ(Q(in.name))) == in.content);
            // bsdtar, told the names are cp932, writes them in UTF-8.
            r = norvex::test::RunTool({"env", "LC_ALL=C.UTF-8", "bsdtar", "--options", "hdrcharset=CP932", "-xf", archive},
                                      out + "/bsdtar");
            QVERIFY2(r.exitCode == 0, r.output.c_str());
            QVERIFY(norvex::test::ReadFile(out + "/bsdtar/" + in.name) == in.content);
            // 7z finds the archive sound, lists the name's cp932 bytes and gives the content back. (It
            // reads a trail byte 0x5C, as in "ソ" and "表", as a folder separator outside a cp932 locale,
            // so such a name is not compared.)
            r = norvex::test::RunTool({"7z", "t", archive}, out + "/7z");
            QVERIFY2(r.exitCode == 0 && r.output.find("Everything is Ok") != std::string::npos, r.output.c_str());
            const AnsiString cp932 = FromQ(Q(in.name));
            if (cp932.find('\\') == std::string::npos) {
                r = norvex::test::RunTool({"7z", "l", "-slt", archive});
                QVERIFY2(r.output.find("\n----------\nPath = " + cp932 + "\n") != std::string::npos, r.output.c_str());
            }
            r = norvex::test::RunTool({"sh", "-c", "7z x -so \"$0\" 2>/dev/null", archive});
            QVERIFY(r.output == in.content);
        }
    }

    void fullRunExtractsAndLogs() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        auto w = makeWindow();
        const QString d = Q(tmp->path());
        const QString a = MakeZip(*tmp, "alpha.zip", {"one.txt"});
        const QString b = MakeZip(*tmp, "beta.zip", {"x.txt", "y.txt"});
        QDir().mkpath(d + "/nested/deeper");
        QVERIFY(QFile::copy(a, d + "/nested/deeper/gamma.zip"));
        w->DropFiles({a, d + "/nested", b});
        w->mmClearLogClick();
        Settings.ShowEndDlg = true;
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));

        QVERIFY(QFile::exists(d + "/one.txt"));            // one top-level file: beside the archive
        QVERIFY(QFile::exists(d + "/beta/x.txt"));         // two: a bind folder named after the archive
        QVERIFY(QFile::exists(d + "/nested/deeper/one.txt"));  // the folder was expanded into its files
        QCOMPARE(w->lvFiles->topLevelItemCount(), 0);
        const QString log = w->LogLines().join('\n');
        QVERIFY(log.contains(QString(">>>> [ \"%1\" ]  --").arg(a)));
        QVERIFY(log.contains("> [ 書庫テスト ]\t テスト通過"));
        QVERIFY(log.contains(QString("> [ 解凍 ]\t\"%1/beta\" へ解凍しました。").arg(d)) ||
                log.contains(QString("> [ 解凍 ]\t\"%1/beta/\" へ解凍しました。").arg(d)));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].caption, QString("Norvex お知らせ"));
        QCOMPARE(asked[0].text, QString("解凍処理が終了しました。"));
        QCOMPARE(w->lblIndicateGlobal->text(), QString("0%"));
        QVERIFY(w->TopMost());
    }

    void breakAndSuspendInEachState() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        const QString d = Q(tmp->path());
        // One top-level folder, so the entries land in d/pics beside the archive.
        const QString a = MakeZip(*tmp, "alpha.zip", {"pics/one.txt", "pics/two.txt"});
        const QString b = MakeZip(*tmp, "beta.zip", {"three.txt"});
        auto w = makeWindow();

        // Starting: the worker has not reached any archive when the button is pressed.
        w->DropFiles({a, b});
        QVERIFY(runToEnd(*w, [&] {
            w->btnUnPack->click();
            QCOMPARE(int(Settings.RunState.load()), int(TRunState::Starting));
            w->btnBreakClick();
        }));
        QVERIFY(!w->WorkerAlive());
        QCOMPARE(rows(*w), QStringList({a, b}));
        QVERIFY(!QFileInfo::exists(d + "/pics"));
        QVERIFY(QFile::exists(a));

        // Extracting: the overwrite question arrives in the middle of the extraction. There the
        // pause is tried, then the break; the run ends after that archive, which is kept.
        norvex::test::WriteFile((d + "/pics/one.txt").toStdString(), "old");
        QStringList seen;
        answer = [&](const TMessageRequest& r) {
            seen << r.caption;
            if (r.caption == "上書き確認") {
                [&] {
                    QCOMPARE(int(Settings.RunState.load()), int(TRunState::Extracting));
                    QVERIFY(w->btnBreak->isEnabled());
                    w->btnSuspendAndResume->click();
                    QCOMPARE(w->btnSuspendAndResume->text(), QString("再開"));
                    QCOMPARE(w->stbPanel0->text(), QString("一時停止中"));
                    w->btnSuspendAndResume->click();
                    QCOMPARE(w->btnSuspendAndResume->text(), QString("一時停止"));
                    QCOMPARE(w->stbPanel0->text(), QString("再開"));
                    // The close query refuses a close while extracting (answer No here).
                    QVERIFY(!w->close());
                    w->btnBreak->click();
                    QCOMPARE(int(Settings.RunState.load()), int(TRunState::Breaking));
                    QVERIFY(!w->btnBreak->isEnabled() && !w->btnSuspendAndResume->isEnabled());
                    w->btnBreakClick();
                }();
                return int(mrYes);
            }
            return int(mrNo);
        };
        w->mmClearLogClick();
        QVERIFY(runToEnd(*w, [&] { w->btnUnPack->click(); }));
        QCOMPARE(seen, QStringList({"上書き確認", "確認"}));
        QCOMPARE(asked[asked.size() - 1].text, QString("解凍中です。中止に移りますか？"));
        const QString log = w->LogLines().join('\n');
        QVERIFY(log.contains("[ お知らせ ]　中断中です。"));
        QVERIFY(log.contains("> 後始末キャンセル"));
        QVERIFY(log.contains("> [ 強制中断 ] 中断されました。"));
        if (log.contains(QString(">>>> [ \"%1\" ]").arg(b))) qWarning().noquote() << log;
        QVERIFY(!log.contains(QString(">>>> [ \"%1\" ]").arg(b)));  // the run ended before beta
        QCOMPARE(rows(*w), QStringList({a, b}));
        QVERIFY(!Settings.BreakRequested && !Settings.CancelAll);
        QVERIFY(w->btnUnPack->isEnabled());
        QVERIFY(QFileInfo::exists(d + "/pics"));  // it existed before: never removed as residue
        QVERIFY(!QFile::exists(d + "/three.txt"));
    }

    // The close query waits for its answer while the run goes on. A Yes given after that run has
    // ended breaks nothing and leaves no notice that no run was started.
    void closeQueryAnsweredAfterTheRunEnded() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        const QString d = Q(tmp->path());
        const QString a = MakeZip(*tmp, "alpha.zip", {"pics/one.txt", "pics/two.txt"});
        const QString b = MakeZip(*tmp, "beta.zip", {"three.txt"});
        norvex::test::WriteFile((d + "/pics/one.txt").toStdString(), "old");
        auto w = makeWindow();
        w->DropFiles({a, b});
        bool ended = false;
        answer = [&](const TMessageRequest& r) {
            if (r.caption == "上書き確認") {
                // Paused in the middle of alpha, the close is asked for from the event loop.
                w->btnSuspendAndResume->click();
                QTimer::singleShot(0, w.get(), [&] { w->close(); });
                return int(mrYes);
            }
            if (r.text == "解凍中です。中止に移りますか？") {
                QSignalSpy finished(w.get(), &TfrmMain::RunFinished);
                w->btnSuspendAndResume->click();
                ended = finished.wait(60000);
                return int(mrYes);
            }
            return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes);
        };
        w->mmClearLogClick();
        QSignalSpy closed(w.get(), &TfrmMain::Closed);
        w->btnUnPack->click();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        QVERIFY(!w->WorkerAlive());
        const QString log = w->LogLines().join('\n');
        QVERIFY(!log.contains("解凍処理が開始されていません"));
        QVERIFY(!log.contains("強制中断"));
        QVERIFY(QFile::exists(d + "/three.txt"));  // beta too: the run was not broken
        QVERIFY(closed.isEmpty());  // the window stays, as after any answer to the query
        QVERIFY(w->btnUnPack->isEnabled());
    }

    // A real close query on screen when its run ends is taken back: it no longer applies. After a
    // command-line run the window then closes as that run's end closes it (the query used to stand
    // alone, and once answered the program stayed on with no window).
    void closeQueryGoesWhenItsRunEnds() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        for (const bool commandLine : {false, true}) {
            init();
            const QString d = Q(tmp->path());
            const QString a = MakeZip(*tmp, "alpha.zip", {"pics/one.txt", "pics/two.txt"});
            const QString b = MakeZip(*tmp, "beta.zip", {"three.txt"});
            norvex::test::WriteFile((d + "/pics/one.txt").toStdString(), "old");
            writeIni("[Main]\nPutLocation=0\nAfterMethod=0\n[Sub_Other]\nCmdHideWnd=0\n");
            auto w = commandLine ? makeWindow({"-k", a, b}) : makeWindow();
            if (!commandLine) w->DropFiles({a, b});
            bool stuck = false, queried = false;
            QTimer rescue;  // a box nobody takes back would wait for a person: the test fails instead
            rescue.setSingleShot(true);
            connect(&rescue, &QTimer::timeout, this, [&] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                        stuck = true;
                        box->reject();
                    }
            });
            answer = [&](const TMessageRequest& r) {
                if (r.caption == "上書き確認") {
                    // Paused in the middle of alpha; the close query is a real box, and the run
                    // resumes while it is up.
                    w->btnSuspendAndResume->click();
                    SetMessageAnswerer(nullptr);
                    QTimer::singleShot(0, w.get(), [&] {
                        QTimer::singleShot(200, w.get(), [&] {
                            queried = QApplication::activeModalWidget() != nullptr;
                            w->btnSuspendAndResume->click();
                        });
                        rescue.start(30000);
                        w->close();
                    });
                    return int(mrYes);
                }
                return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes);
            };
            w->mmClearLogClick();
            QSignalSpy finished(w.get(), &TfrmMain::RunFinished);
            QSignalSpy closed(w.get(), &TfrmMain::Closed);
            if (commandLine) w->FormShowStart();
            else w->btnUnPack->click();
            QVERIFY(finished.count() == 1 || finished.wait(60000));
            QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 40000);
            QVERIFY(queried);
            QVERIFY(!stuck);
            const QString log = w->LogLines().join('\n');
            QVERIFY(!log.contains("解凍処理が開始されていません") && !log.contains("強制中断"));
            QVERIFY(QFile::exists(d + "/three.txt"));
            QCOMPARE(closed.count(), commandLine ? 1 : 0);
            w.reset();
            cleanup();
        }
    }

    void closeDuringStartBreaksFirst() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        const QString a = MakeZip(*tmp, "alpha.zip", {"one.txt", "two.txt"});
        auto w = makeWindow();
        w->DropFiles({a});
        w->btnUnPack->click();
        QVERIFY(w->WorkerAlive());
        QVERIFY(w->close());  // the run is broken off in order, then the window closes
        QVERIFY(!w->WorkerAlive());
        QVERIFY(QFile::exists(a));
        QVERIFY(!QFileInfo::exists(Q(tmp->path()) + "/alpha"));
        QVERIFY(QFile::exists(ini));
    }

    // ---- Command lines ------------------------------------------------------------------------------

    void commandLineRunClosesAndKeepsTheIni() {
        if (!HaveModule("UNZIP32.DLL")) QSKIP("the ZIP module is not built");
        writeIni("[Main]\nAfterMethod=3\nPutLocation=0\nMoveFolder=/nowhere\n[Sub_Confirm]\nConfirmDelete=0\n");
        const QString a = MakeZip(*tmp, "alpha.zip", {"one.txt"});
        const QString b = MakeZip(*tmp, "beta.zip", {"two.txt"});
        auto w = makeWindow({"-d", a, b});
        QVERIFY(w->CommandLineRun());
        QCOMPARE(rows(*w), QStringList({a, b}));
        QCOMPARE(w->lvFiles->topLevelItem(0)->text(1), QString());  // no size for these rows
        QCOMPARE(w->cmbAfterMethod->currentIndex(), 1);
        QSignalSpy closed(w.get(), &TfrmMain::Closed);
        w->FormShowStart();
        QVERIFY(closed.count() == 1 || closed.wait(60000));
        QVERIFY(!QFile::exists(a) && !QFile::exists(b));  // "-d": extracted, then deleted
        QVERIFY(QFile::exists(Q(tmp->path()) + "/one.txt"));
        const SettingsBlock s = readIni();
        QCOMPARE(int(s.AfterMethod), 3);
        QCOMPARE(int(s.PutLocation), 0);
        QCOMPARE(s.MoveFolder, AnsiString("/nowhere"));
    }

    void commandLineSwitchAloneAndUpperCase() {
        {
            auto w = makeWindow({"-d"});
            w->mmClearLogClick();
            w->FormShowStart();
            QCOMPARE(w->LogLines(), QStringList({" 1| > 処理ファイルがありません。"}));
            QVERIFY(w->lvFiles->topLevelItemCount() == 0);
            QCOMPARE(w->cmbAfterMethod->currentIndex(), 1);
            QVERIFY(w->close());  // no run ended: the switch's choice is what gets saved
            QCOMPARE(int(readIni().AfterMethod), 1);
        }
        Settings = SettingsBlock{};
        QFile::remove(ini);
        auto w = makeWindow({"-D", "/nowhere/x.zip"});
        QCOMPARE(rows(*w), QStringList({"-D", "/nowhere/x.zip"}));
        QCOMPARE(int(Settings.AfterMethod), 0);
    }

    void secondInstanceHandsOverAndEndsSilently() {
        // The lock and the socket live in the runtime folder; a private one keeps a user's Norvex out.
        TempDir runtime;
        QVERIFY(qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.path())));
        {
            TInstanceLock held("Norvex");
            QVERIFY(held.Acquired());
            THandOverServer server(Q(InstanceSocketPath("Norvex")));
            QVERIFY(server.Listen());
            QList<THandOver> got;
            server.Receiver = [&](const THandOver& m) {
                got << m;
                return true;
            };
            QProcess second;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            second.setProcessEnvironment(env);
            second.setWorkingDirectory(Q(tmp->path()));
            second.start(NORVEX_PROGRAM, {"-k", "a.zip"});
            QVERIFY(second.waitForStarted(10000));
            QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 30000);  // serving the socket meanwhile
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
            QVERIFY(second.readAll().isEmpty());
            QCOMPARE(got.size(), 1);
            QCOMPARE(Q(got[0].workingFolder), QDir(Q(tmp->path())).canonicalPath());
            QVERIFY(got[0].arguments == std::vector<std::string>({"-k", "a.zip"}));
        }
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
