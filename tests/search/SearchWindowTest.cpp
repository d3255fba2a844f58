// The preview and search windows driven as a user would, with real archives and the real modules, on
// the offscreen platform. With NORVEX_SCREENSHOT_DIR set (and a real X server) the screenshots test
// also saves pictures of both windows there.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>

#include "archivers/Archives.h"
#include "platform/AnsiCodec.h"
#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/AppSetup.h"
#include "ui/DialogHooks.h"
#include "ui/FolderBrowser.h"
#include "ui/QtAnsi.h"
#include "ui/UArcView.h"
#include "ui/UForm.h"
#include "ui/ufrmSearch.h"

using namespace norvex;
using namespace norvex::ui;
using namespace norvex::literals;
using norvex::test::TempDir;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Body(std::size_t size) {
    std::string s(size, 'x');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// A stored ZIP (so that stored and extracted sizes are the file sizes) of files with their sizes.
QString MakeZip(const TempDir& dir, const QString& name, const QList<QPair<QString, int>>& files) {
    const std::string src = dir / ("src-" + name.toStdString());
    std::filesystem::create_directories(src);
    std::vector<std::string> argv{"zip", "-q", "-0", "-r", dir / name.toStdString()};
    for (const auto& [file, size] : files) {
        norvex::test::WriteFile(src + "/" + file.toStdString(), Body(static_cast<std::size_t>(size)));
        argv.push_back(file.toStdString());
    }
    const auto r = norvex::test::RunTool(argv, src);
    if (r.exitCode != 0) qWarning() << "zip failed:" << Q(r.output);
    return Q(dir / name.toStdString());
}

QString MakeZipOf(const TempDir& dir, const QString& name, const QStringList& files) {
    QList<QPair<QString, int>> sized;
    for (const QString& f : files) sized.append({f, 10});
    return MakeZip(dir, name, sized);
}

QStringList Column(QTreeWidget* list, int column) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(column);
    return out;
}

QStringList TreeLines(QTreeWidgetItem* item, const QString& indent) {
    QStringList out{indent + item->text(0)};
    for (int i = 0; i < item->childCount(); ++i) out += TreeLines(item->child(i), indent + "  ");
    return out;
}

QStringList Tree(QTreeWidget* tree) {
    QStringList out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) out += TreeLines(tree->topLevelItem(i), "");
    return out;
}

std::vector<AnsiString> Ansi(const QStringList& paths) {
    std::vector<AnsiString> out;
    for (const QString& p : paths) out.push_back(FromQ(p));
    return out;
}

}  // namespace

class SearchWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> tmp;
    QList<TMessageRequest> asked;

    bool haveTools() {
        return QFileInfo::exists(ToQ(ModuleFolder() + "/unzip32.so")) && norvex::test::HaveTool("zip");
    }

    // Runs a search from the button and waits for its end.
    void search(TfrmSearch& w) {
        QSignalSpy finished(&w, &TfrmSearch::SearchFinished);
        w.btnStartSearch->click();
        if (w.Searching()) QVERIFY(finished.wait(60000));
    }

private slots:
    // The windows as the program shows them: its style and Qt's Japanese texts.
    void initTestCase() { PrepareApplication(*qApp); }

    void init() {
        Settings = SettingsBlock{};
        SetModuleFolder("");
        tmp = std::make_unique<TempDir>();
        asked.clear();
        SetMessageAnswerer([this](const TMessageRequest& r) {
            asked << r;
            return int(mrOk);
        });
    }

    void cleanup() {
        SetMessageAnswerer(nullptr);
        SetModuleFolder("");
        tmp.reset();
    }

    // ---- The preview ------------------------------------------------------------------------------

    void previewListsTopLevelFilesAndTheFolderTree() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString zip = MakeZip(*tmp, "プレビュー.zip",
                                    {{"readme.txt", 1023}, {"a/x.txt", 5}, {"b/z.txt", 5}, {"a/w.txt", 5},
                                     {"a/sub/y.txt", 5}, {"ソース.txt", 2048}, {"表/データ.bin", 3000}});
        TfrmArcView w;
        w.Preview(FromQ(zip));
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), "プレビュー -プレビュー.zip-(" + zip + ")");
        QCOMPARE(w.memoBasicInfo->text(), QString("プレビュー.zip"));
        QCOMPARE(Column(w.lvArc, 0), QStringList({"readme.txt", "ソース.txt"}));
        QCOMPARE(Column(w.lvArc, 1), QStringList({"0 KB", "2 KB"}));
        QCOMPARE(Column(w.lvArc, 2), QStringList({"0 KB", "2 KB"}));
        QCOMPARE(w.lvArc->topLevelItem(0)->textAlignment(2) & Qt::AlignRight, int(Qt::AlignRight));
        // Every folder once, nested as in the archive; "表" ends in the byte 0x5C and stays whole.
        QCOMPARE(Tree(w.tvFolder), QStringList({"a", "  sub", "b", "表"}));
        QVERIFY(!w.lvArc->topLevelItem(0)->icon(0).isNull());
        // The status line counts what the window shows: the top level, files and folders alike.
        QCOMPARE(w.StatusBar1->currentMessage(), QString("ファイル 2 個、フォルダ 3 個"));

        // With the directory structure ignored every file is listed by its name, side by side.
        Settings.IgnoreDirectory = true;
        w.Preview(FromQ(zip));
        QCOMPARE(Column(w.lvArc, 0), QStringList({"readme.txt", "x.txt", "z.txt", "w.txt", "y.txt", "ソース.txt", "データ.bin"}));
        QCOMPARE(w.lvArc->topLevelItem(6)->data(0, TfrmArcView::kEntryPathRole).toByteArray().toStdString(), "表/データ.bin"_ansi);
        QCOMPARE(Tree(w.tvFolder), QStringList({"a", "  sub", "b", "表"}));
        QCOMPARE(w.StatusBar1->currentMessage(), QString("ファイル 7 個、フォルダ 4 個"));
        QVERIFY(asked.isEmpty());
    }

    void previewOfAnArchiveThatCannotBeRead() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        TfrmArcView w;
        // Something from before must not stay.
        w.Preview(FromQ(MakeZipOf(*tmp, "old.zip", {"old.txt", "f/old.txt"})));
        QCOMPARE(w.lvArc->topLevelItemCount(), 1);

        norvex::test::WriteFile(*tmp / "broken.zip", "not an archive");
        w.Preview(ToAnsi(*tmp / "broken.zip"));
        QCOMPARE(w.memoBasicInfo->text(), QString("broken.zip"));
        QCOMPARE(w.lvArc->topLevelItemCount(), 0);
        QCOMPARE(w.tvFolder->topLevelItemCount(), 0);
        QCOMPARE(w.StatusBar1->currentMessage(), QString("書庫を開けませんでした"));
        QVERIFY(asked.isEmpty());

        // No module for the format: the access layer's message, the window stays with its caption.
        const QString zip = MakeZipOf(*tmp, "a.zip", {"a.txt"});
        SetModuleFolder(ToAnsi(*tmp / "no-modules"));
        FreeArchiverDlls();
        w.Preview(FromQ(zip));
        SetModuleFolder("");
        FreeArchiverDlls();
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowTitle(), "プレビュー -a.zip-(" + zip + ")");
        QCOMPARE(asked.size(), 1);
        QVERIFY(!asked[0].text.isEmpty());
        QCOMPARE(w.StatusBar1->currentMessage(), asked[0].text);
        QCOMPARE(asked[0].icon, TMsgIcon::Error);
    }

    // ---- The search window ------------------------------------------------------------------------

    void searchWindowAsDesigned() {
        TfrmSearch w;
        w.show();
        QCOMPARE(w.windowTitle(), QString("書庫内検索"));
        QVERIFY(w.chkWildCard->isChecked());
        QCOMPARE(w.RadioGroup1->title(), QString("検索するパターンを指定して下さい"));
        QCOMPARE(w.cmbWildCard->count(), 8);
        QCOMPARE(w.cmbWildCard->itemText(2), QString("*.mp3;*.wav;*.mid;"));
        QCOMPARE(w.cmbRegExp->itemText(0), QString("[0-9]"));
        QVERIFY(!w.chkFuzzy->isChecked());
        QCOMPARE(w.chkFuzzy->text(), QString("あいまい検索"));
        QCOMPARE(w.btnAbort->text(), QString("停止"));
        QCOMPARE(w.lblMessage->text() + w.lblcntFind->text() + w.Label4->text(), QString("ヒット数0件"));
        const QTreeWidgetItem* header = w.lvFile->headerItem();
        QCOMPARE(QStringList({header->text(0), header->text(1), header->text(2)}),
                 QStringList({"書庫内ファイル名", "展開後サイズ", "該当書庫"}));
        QCOMPARE(w.pmDeleteListItem->text(), QString("リストから外す"));
        QVERIFY(w.btnUnPack->isHidden());
        QVERIFY(w.CheckListBox1->isHidden());

        // Nothing to search with: nothing changes, not even the count.
        w.lblcntFind->setText("7");
        w.cmbWildCard->setEditText("");
        w.btnStartSearch->click();
        QVERIFY(!w.Searching());
        QCOMPARE(w.lblcntFind->text(), QString("7"));
    }

    void wildcardSearchOverTheList() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString one = MakeZip(*tmp, "one.zip", QList<QPair<QString, int>>{{"same.txt", 3000}, {"d/photo.JPG", 10}, {"note.png.txt", 10}});
        const QString two = MakeZipOf(*tmp, "two.zip", {"same.txt", "same/inner.dat"});

        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi({one, two}); };
        w.show();
        w.cmbWildCard->setEditText("same");
        search(w);
        QCOMPARE(Column(w.lvFile, 0), QStringList({"same.txt", "same.txt"}));
        QCOMPARE(Column(w.lvFile, 1), QStringList({"2 KB", "0 KB"}));
        QCOMPARE(Column(w.lvFile, 2), QStringList({"one.zip (" + one + ")", "two.zip (" + two + ")"}));
        QCOMPARE(w.lblcntFind->text(), QString("2"));
        QVERIFY(w.StatusBar1->currentMessage().startsWith("2 個の書庫を検索しました"));
        QVERIFY(w.btnStartSearch->isEnabled());
        QVERIFY(!w.btnAbort->isEnabled());

        w.cmbWildCard->setEditText("*.jpg;*.png");
        search(w);
        QCOMPARE(Column(w.lvFile, 0), QStringList({"photo.JPG", "note.png.txt"}));

        // Removing rows leaves the others.
        w.lvFile->topLevelItem(0)->setSelected(true);
        w.pmDeleteListItem->trigger();
        QCOMPARE(Column(w.lvFile, 0), QStringList({"note.png.txt"}));
    }

    // Taking rows off the list: the selected ones go and the others stay in their order, and a
    // selection of tens of thousands of hits goes at once (one by one, each removal shifted every row
    // after it and the window stood still for minutes).
    void selectedHitsLeaveTheListAtOnce() {
        TfrmSearch w;
        w.show();
        constexpr int kRows = 40000;
        QList<QTreeWidgetItem*> rows;
        for (int i = 0; i < kRows; ++i) rows << new QTreeWidgetItem(QStringList{QString::number(i)});
        w.lvFile->addTopLevelItems(rows);
        // Every row but each third one, chosen at once (row by row, choosing alone takes a minute).
        QItemSelection chosen;
        QAbstractItemModel* model = w.lvFile->model();
        for (int i = 0; i < kRows; i += 3) chosen.select(model->index(i, 0), model->index(i, 0));
        for (int i = 2; i < kRows; i += 3) chosen.select(model->index(i, 0), model->index(i, 0));
        w.lvFile->selectionModel()->select(chosen, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QElapsedTimer clock;
        clock.start();
        w.pmDeleteListItem->trigger();
        QStringList kept;
        for (int i = 1; i < kRows; i += 3) kept << QString::number(i);
        QCOMPARE(Column(w.lvFile, 0), kept);
        QVERIFY(w.lvFile->selectedItems().isEmpty());

        w.lvFile->selectAll();
        w.pmDeleteListItem->trigger();
        QCOMPARE(w.lvFile->topLevelItemCount(), 0);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString("%1 ms").arg(clock.elapsed())));
        w.pmDeleteListItem->trigger();  // nothing selected, nothing listed: nothing happens
        QCOMPARE(w.lvFile->topLevelItemCount(), 0);
    }

    void regularExpressionsTheEnterKeyAndBadPatterns() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString zip = MakeZipOf(*tmp, "n.zip", {"1.txt", "a1.txt", "ab.txt", "がっこう.txt", "ガイド.txt", "ｶﾞｲﾄﾞ.txt", "かいだん.txt"});
        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi({zip}); };
        w.show();

        // Enter in the regular-expression box searches with it (and selects its kind).
        QSignalSpy finished(&w, &TfrmSearch::SearchFinished);
        w.cmbRegExp->setEditText("[0-9]");
        QTest::keyClick(w.cmbRegExp->lineEdit(), Qt::Key_Return);
        QVERIFY(w.isVisible());
        if (w.Searching()) QVERIFY(finished.wait(60000));
        QCOMPARE(Column(w.lvFile, 0), QStringList({"1.txt", "a1.txt"}));
        QVERIFY(w.chkWildCard->isChecked());  // the choice returns to the wildcard after a search

        // A bad pattern: the message, the count 0, the rows of the last search kept.
        w.chkRegExp->setChecked(true);
        w.cmbRegExp->setEditText("a(b");
        w.btnStartSearch->click();
        QVERIFY(!w.Searching());
        QCOMPARE(w.lblMessage->text(), QString("正規表現に誤りがあります"));
        QCOMPARE(w.lblcntFind->text(), QString("0"));
        QCOMPARE(w.lvFile->topLevelItemCount(), 2);

        // The fuzzy dictionary, off by default, finds the other widths and kana.
        w.chkRegExp->setChecked(true);
        w.cmbRegExp->setEditText("ｶﾞ");
        search(w);
        QCOMPARE(w.lblMessage->text(), QString("ヒット数"));
        QCOMPARE(Column(w.lvFile, 0), QStringList({"ｶﾞｲﾄﾞ.txt"}));
        w.chkFuzzy->setChecked(true);
        w.chkRegExp->setChecked(true);
        search(w);
        QCOMPARE(Column(w.lvFile, 0), QStringList({"がっこう.txt", "ガイド.txt", "ｶﾞｲﾄﾞ.txt"}));
        QCOMPARE(w.lblcntFind->text(), QString("3"));

        // Enter in the wildcard box after a regular-expression search searches by wildcard.
        w.cmbWildCard->setEditText("かい");
        QTest::keyClick(w.cmbWildCard->lineEdit(), Qt::Key_Return);
        if (w.Searching()) QVERIFY(finished.wait(60000));
        QCOMPARE(Column(w.lvFile, 0), QStringList({"かいだん.txt"}));
    }

    // The window opens with the wildcard box focused and its text selected: typing replaces it, nothing
    // completes inline from the presets, and Enter searches what was typed. The same in the other box.
    void typedPatternsStayAsTyped() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString zip = MakeZipOf(*tmp, "t.zip", {"a.jpg", "b.png", "c1.txt", "d.jpeg"});
        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi({zip}); };
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus == w.cmbWildCard->lineEdit() || focus == w.cmbWildCard);
        QSignalSpy finished(&w, &TfrmSearch::SearchFinished);
        QTest::keyClicks(focus, "*.jpg");
        QCOMPARE(w.cmbWildCard->currentText(), QString("*.jpg"));  // a preset starts with "*.jpg;"
        QTest::keyClick(focus, Qt::Key_Return);
        if (w.Searching()) QVERIFY(finished.wait(60000));
        QCOMPARE(Column(w.lvFile, 0), QStringList({"a.jpg"}));

        // "[0" would complete to the preset "[0-9]"; typed as it is, it is a bad pattern.
        w.cmbRegExp->lineEdit()->setFocus();
        w.cmbRegExp->lineEdit()->clear();
        QTest::keyClicks(w.cmbRegExp->lineEdit(), "[0");
        QCOMPARE(w.cmbRegExp->currentText(), QString("[0"));
        QTest::keyClick(w.cmbRegExp->lineEdit(), Qt::Key_Return);
        QCOMPARE(w.lblMessage->text(), QString("正規表現に誤りがあります"));
    }

    void stopAndCloseDuringASearch() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        QStringList archives;
        for (int i = 0; i < 4; ++i) archives << MakeZipOf(*tmp, QString("z%1.zip").arg(i), {QString("f%1.txt").arg(i)});
        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi(archives); };
        QSemaphore reached, go;
        w.BeforeArchive = [&](int index, const AnsiString&) {
            if (index == 1) {
                reached.release();
                go.acquire();
            }
        };
        w.show();
        w.cmbWildCard->setEditText("*.txt");
        QSignalSpy finished(&w, &TfrmSearch::SearchFinished);
        w.btnStartSearch->click();
        QVERIFY(w.Searching());
        QVERIFY(reached.tryAcquire(1, 60000));
        // The window answers while the walk waits; the first archive's hit arrives.
        QTRY_COMPARE(w.lvFile->topLevelItemCount(), 1);
        QVERIFY(w.btnAbort->isEnabled());
        QVERIFY(!w.btnStartSearch->isEnabled());
        w.btnAbort->click();
        go.release();
        QVERIFY(finished.wait(60000));
        QVERIFY(w.lvFile->topLevelItemCount() < 4);
        QVERIFY(w.StatusBar1->currentMessage().startsWith("検索を中止しました"));
        QVERIFY(w.btnStartSearch->isEnabled());

        // Closing during a search stops it; nothing it found later arrives after the close.
        w.show();
        w.btnStartSearch->click();
        QVERIFY(reached.tryAcquire(1, 60000));
        go.release();
        w.btnClose->click();
        QVERIFY(!w.isVisible());
        QVERIFY(!w.Searching());
        const int rows = w.lvFile->topLevelItemCount();
        QTest::qWait(50);
        QCOMPARE(w.lvFile->topLevelItemCount(), rows);
        QCOMPARE(finished.count(), 1);
    }

    void doubleClickOpensThePreview() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString zip = MakeZipOf(*tmp, "p.zip", {"hit.txt", "other.txt"});
        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi({zip}); };
        w.show();
        w.cmbWildCard->setEditText("hit");
        search(w);
        QCOMPARE(w.lvFile->topLevelItemCount(), 1);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect rect = w.lvFile->visualItemRect(w.lvFile->topLevelItem(0));
        QTest::mouseClick(w.lvFile->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(w.lvFile->viewport(), Qt::LeftButton, {}, rect.center());
        TfrmArcView* preview = w.PreviewWindow();
        QVERIFY(preview->isVisible());
        QCOMPARE(preview->windowTitle(), "プレビュー -p.zip-(" + zip + ")");
        QCOMPARE(Column(preview->lvArc, 0), QStringList({"hit.txt", "other.txt"}));
    }

    // The main window's commands reach both windows; the search reads the main window's list.
    void openedFromTheMainWindow() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString a = MakeZipOf(*tmp, "a.zip", {"x.txt"});
        const QString b = MakeZipOf(*tmp, "b.zip", {"x.txt", "y.txt"});
        TMainWindowOptions o;
        o.iniPath = Q(*tmp / "Norvex.ini");
        TfrmMain main(o);
        InstallBrowsingWindows(main);
        main.AddFileToList(FromQ(a));
        main.AddFileToList(FromQ(b));

        auto* search = main.findChild<TfrmSearch*>();
        QVERIFY(search);
        QStringList found;
        QTimer::singleShot(0, search, [&] {
            search->cmbWildCard->setEditText("x.");
            QSignalSpy finished(search, &TfrmSearch::SearchFinished);
            search->btnStartSearch->click();
            if (search->Searching()) finished.wait(60000);
            found = Column(search->lvFile, 2);
            search->btnClose->click();
        });
        main.btnSearch->click();  // modal until the search window closes
        QCOMPARE(found, QStringList({"a.zip (" + a + ")", "b.zip (" + b + ")"}));

        main.lvFiles->setCurrentItem(main.lvFiles->topLevelItem(1));
        main.pmPreviewArc->trigger();
        auto* preview = main.findChild<TfrmArcView*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(preview);
        QVERIFY(preview->isVisible());
        QCOMPARE(Column(preview->lvArc, 0), QStringList({"x.txt", "y.txt"}));
    }

    // Names that carry control characters (CR, ESC, a right-to-left override) show escaped as the log
    // shows them, in the main window's list, the preview, the search and the folder browser: "a\rb"
    // never passes for "ab", nor a reversed name for a harmless one. The bytes behind stay whole.
    void namesWithControlCharactersShowEscaped() {
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const std::string folder = *tmp / "d\x1b[31m";
        std::filesystem::create_directories(folder);
        const std::string archive = folder + "/a\rb.zip";
        std::filesystem::rename(MakeZipOf(*tmp, "made.zip", {"cr\rx.txt", "evil\u202Etxt.exe", "e\x1b" "d/in.txt"})
                                    .toStdString(),
                                archive);
        const QString shownFolder = Q(*tmp / "d\\x1b[31m");
        const QString shown = shownFolder + "/a\\x0db.zip";

        TMainWindowOptions o;
        o.iniPath = Q(*tmp / "Norvex.ini");
        TfrmMain main(o);
        InstallBrowsingWindows(main);
        main.DropFiles(std::vector<AnsiString>{FromQ(Q(archive))});
        QCOMPARE(main.lvFiles->topLevelItem(0)->text(0), shown);
        QCOMPARE(FromAnsi(main.FileAt(0)), archive);

        main.lvFiles->setCurrentItem(main.lvFiles->topLevelItem(0));
        main.pmPreviewArc->trigger();
        auto* preview = main.findChild<TfrmArcView*>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(preview && preview->isVisible());
        QCOMPARE(preview->windowTitle(), "プレビュー -a\\x0db.zip-(" + shown + ")");
        QCOMPARE(preview->memoBasicInfo->text(), QString("a\\x0db.zip"));
        QCOMPARE(Column(preview->lvArc, 0), QStringList({"cr\\x0dx.txt", "evil\\u202etxt.exe"}));
        QCOMPARE(Tree(preview->tvFolder), QStringList({"e\\x1bd"}));

        TfrmSearch search;
        search.ArchiveList = [&] { return std::vector<AnsiString>{FromQ(Q(archive))}; };
        search.show();
        search.cmbWildCard->setEditText("*");
        this->search(search);
        QCOMPARE(Column(search.lvFile, 0), QStringList({"cr\\x0dx.txt", "evil\\u202etxt.exe", "in.txt"}));
        QCOMPARE(Column(search.lvFile, 2).value(0), "a\\x0db.zip (" + shown + ")");
        QCOMPARE(search.lvFile->topLevelItem(2)->toolTip(0), QString("e\\x1bd/in.txt"));

        TFolderBrowser browser(nullptr, "解凍先フォルダを選択してください", folder);
        QCOMPARE(browser.SelectedPath(), folder);
        QCOMPARE(browser.tvFolders->currentItem()->text(0), QString("d\\x1b[31m"));
        QCOMPARE(browser.txtPath->text(), shownFolder);
    }

    // Pictures of both windows for the documentation (only when asked for, on a real X server).
    void screenshots() {
        const QString out = qEnvironmentVariable("NORVEX_SCREENSHOT_DIR");
        if (out.isEmpty()) QSKIP("NORVEX_SCREENSHOT_DIR is not set");
        if (!haveTools()) QSKIP("zip or the modules are missing");
        const QString photos = MakeZip(*tmp, "旅行写真_2024.zip",
                                       QList<QPair<QString, int>>{{"表紙.jpg", 182000}, {"はじめに.txt", 2300},
                                                                  {"京都/金閣寺.jpg", 254000}, {"京都/清水寺.jpg", 231000},
                                                                  {"奈良/鹿.png", 98000}, {"地図.pdf", 410000},
                                                                  {"ソース/メモ.txt", 1200}, {"動画/散歩.mp4", 900000}});
        const QString music = MakeZip(*tmp, "音楽素材集.zip",
                                      QList<QPair<QString, int>>{{"ジャケット.jpg", 64000}, {"曲/01_序曲.mp3", 520000},
                                                                 {"曲/02_ワルツ.mp3", 480000}, {"歌詞.txt", 3000}});
        const QString docs = MakeZip(*tmp, "資料_第3版.zip",
                                     QList<QPair<QString, int>>{{"表紙画像.png", 45000}, {"本文.html", 23000}, {"図/図1.png", 12000}});

        TfrmArcView view;
        view.Preview(FromQ(photos));
        view.tvFolder->expandAll();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::qWait(200);
        QVERIFY(view.grab().save(out + "/preview-window.png"));

        TfrmSearch w;
        w.ArchiveList = [&] { return Ansi({photos, music, docs}); };
        w.show();
        w.cmbWildCard->setEditText("*.jpg;*.png");
        search(w);
        w.lvFile->topLevelItem(1)->setSelected(true);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(200);
        QVERIFY(w.grab().save(out + "/search-window.png"));
    }
};

QTEST_MAIN(SearchWindowTest)
#include "SearchWindowTest.moc"
