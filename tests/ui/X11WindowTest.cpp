// The windows on a real X server (Xvfb), with a window manager when one is installed: top-most that
// keeps the native window, boxes that stay above their owner, window titles exactly as given, and a
// user typing a pattern and pressing Enter (xdotool). Run through tests/ui/on-x-server.sh.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"
#include "tests/shell/ScopedHome.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/AppSetup.h"
#include "ui/DialogHooks.h"
#include "ui/QtAnsi.h"
#include "ui/UArcView.h"
#include "ui/UForm.h"
#include "ui/UHelp.h"
#include "ui/UfrmOption.h"
#include "ui/Uversion.h"
#include "ui/ufrmSearch.h"

using namespace norvex;
using namespace norvex::ui;
using norvex::test::TempDir;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString Property(WId window, const char* name) { return Run("xprop", {"-id", QString::number(window), name}); }

QList<WId> WindowIds(const QString& text) {
    QList<WId> ids;
    static const QRegularExpression hex("0x[0-9a-fA-F]+");
    for (auto it = hex.globalMatch(text.section('#', 1)); it.hasNext();) ids << it.next().captured().toULongLong(nullptr, 16);
    return ids;
}

// Bottom to top, as the window manager stacks its clients.
QList<WId> Stacking() { return WindowIds(Run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"})); }

WId TransientFor(WId window) {
    const QList<WId> ids = WindowIds(Property(window, "WM_TRANSIENT_FOR"));
    return ids.isEmpty() ? 0 : ids.first();
}

bool Above(WId window) { return Property(window, "_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"); }

QString WmName(WId window) {
    const QString line = Property(window, "_NET_WM_NAME").trimmed();
    const int quote = line.indexOf('"');
    return quote < 0 ? QString() : line.mid(quote + 1).chopped(1);
}

bool Eventually(const std::function<bool()>& condition, int ms = 5000) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (condition()) return true;
        QTest::qWait(50);
    }
    return condition();
}

// A box shown by open(), looked at while it is up and then closed.
struct TBoxSeen {
    WId box = 0, transientFor = 0;
    bool aboveOwner = false;
};

TBoxSeen WhileBoxShown(QWidget* owner, const std::function<void()>& open, bool haveWm) {
    TBoxSeen seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll.stop();
        seen.box = box->winId();
        Eventually([&] { return TransientFor(seen.box) != 0; }, 2000);
        seen.transientFor = TransientFor(seen.box);
        if (haveWm) {
            Eventually([&] {
                const QList<WId> order = Stacking();
                return order.indexOf(seen.box) > order.indexOf(owner->winId());
            }, 2000);
            const QList<WId> order = Stacking();
            seen.aboveOwner = order.contains(seen.box) && order.indexOf(seen.box) > order.indexOf(owner->winId());
        }
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->buttons().first()->click();
    });
    poll.start(50);
    open();
    return seen;
}

}  // namespace

class X11WindowTest : public QObject {
    Q_OBJECT

    bool haveWm = false;
    std::unique_ptr<TempDir> tmp;
    std::unique_ptr<norvex::test::ScopedHome> home;

    std::unique_ptr<TfrmMain> makeMain() {
        TMainWindowOptions o;
        o.iniPath = Q(*tmp / "Norvex.ini");
        auto w = std::make_unique<TfrmMain>(o);
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowExposed(w.get())) return nullptr;
        return w;
    }

    bool haveZip() { return norvex::test::HaveTool("zip") && QFile::exists(ToQ(ModuleFolder() + "/unzip32.so")); }

    QString makeZip(const QString& name, const QStringList& files) {
        const std::string src = *tmp / ("src-" + name.toStdString());
        std::vector<std::string> argv{"zip", "-q", *tmp / name.toStdString()};
        for (const QString& f : files) {
            norvex::test::WriteFile(src + "/" + f.toStdString(), "x");
            argv.push_back(f.toStdString());
        }
        norvex::test::RunTool(argv, src);
        return Q(*tmp / name.toStdString());
    }

private slots:
    void initTestCase() {
        if (QGuiApplication::platformName() != "xcb") QSKIP("needs an X server (run through on-x-server.sh)");
        if (!norvex::test::HaveTool("xprop")) QSKIP("xprop is missing");
        // The window manager, when there is one, has announced itself by the time it manages windows.
        haveWm = Eventually([] { return Run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); },
                            norvex::test::HaveTool("openbox") ? 10000 : 0);
        qInfo() << (haveWm ? "with a window manager" : "without a window manager");
    }

    void init() {
        Settings = SettingsBlock{};
        tmp = std::make_unique<TempDir>();
        home = std::make_unique<norvex::test::ScopedHome>();
    }

    void cleanup() {
        SetMessageAnswerer(nullptr);
        home.reset();
        tmp.reset();
    }

    void topMostKeepsTheNativeWindow() {
        auto w = makeMain();
        QVERIFY(w);
        const WId id = w->winId();
        const QRect frame = w->geometry();
        QVERIFY(w->TopMost());  // on at start
        if (haveWm) QVERIFY(Eventually([&] { return Above(id); }));
        for (bool on : {false, true, false}) {
            w->mmTopMost->trigger();
            QCOMPARE(w->TopMost(), on);
            QCOMPARE(w->mmTopMost->isChecked(), on);
            QCOMPARE(w->winId(), id);
            QVERIFY(w->isVisible());
            if (haveWm) QVERIFY2(Eventually([&] { return Above(id) == on; }), on ? "not above" : "still above");
            QCOMPARE(w->geometry(), frame);
        }
    }

    void questionsAndTheEndNoticeStayAboveTheLiveWindow() {
        auto w = makeMain();
        QVERIFY(w);
        const WId id = w->winId();
        // The end of a run: top-most on again, then the notice.
        Settings.ShowEndDlg = true;
        w->SetTopMost(false);
        TBoxSeen notice = WhileBoxShown(w.get(), [&] { w->FinishRun(); }, haveWm);
        QVERIFY(notice.box);
        QCOMPARE(w->winId(), id);
        QCOMPARE(notice.transientFor, id);
        if (haveWm) {
            QVERIFY(notice.aboveOwner);
            QVERIFY(Above(id));
        }
        // A question of the run while the window is top-most.
        TBoxSeen question = WhileBoxShown(w.get(), [&] { w->Ask("確認", "続行しますか？"); }, haveWm);
        QCOMPARE(question.transientFor, id);
        if (haveWm) QVERIFY(question.aboveOwner);
    }

    void previewAndHelpOpenAboveTheMainWindow() {
        if (!haveZip()) QSKIP("zip or the modules are missing");
        auto w = makeMain();
        QVERIFY(w);
        InstallBrowsingWindows(*w);
        const WId id = w->winId();
        w->DropFiles({makeZip("a.zip", {"x.txt"})});
        w->lvFiles->setCurrentItem(w->lvFiles->topLevelItem(0));
        w->pmPreviewArc->trigger();
        auto* preview = w->findChild<TfrmArcView*>();
        QVERIFY(preview && QTest::qWaitForWindowExposed(preview));
        w->mmHelp->trigger();
        auto* help = w->findChild<TfrmHelp*>();
        QVERIFY(help && QTest::qWaitForWindowExposed(help));
        QVERIFY(!help->txtHelp->toPlainText().isEmpty());
        QCOMPARE(w->winId(), id);
        QVERIFY(!w->TopMost());
        if (haveWm) {
            QVERIFY(Eventually([&] {
                const QList<WId> order = Stacking();
                return order.indexOf(preview->winId()) > order.indexOf(id) && order.indexOf(help->winId()) > order.indexOf(id);
            }));
        }
    }

    void titlesExactlyAsGiven() {
        auto w = makeMain();
        QVERIFY(w);
        TfrmSearch search(w.get());
        TfrmArcView preview(w.get());
        TfrmOption options(w.get());
        TfrmVersion version(w.get());
        QVERIFY(ShowHelp(w.get(), {BuiltInHelpPage()}));
        QList<QWidget*> windows{w.get(), &search, &preview, &options, &version, w->findChild<TfrmHelp*>()};
        for (QWidget* window : windows) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QVERIFY(Eventually([&] { return WmName(window->winId()) == window->windowTitle(); }, 2000));
        }
        QCOMPARE(WmName(w->winId()), QString("Norvex　- ウィンドウのどこでもドロップ"));
        QCOMPARE(WmName(search.winId()), QString("書庫内検索"));
        QCOMPARE(WmName(options.winId()), QString("動作・オプション設定"));
    }

    void theProgramsOwnTitle() {
        if (!norvex::test::HaveTool("xdotool")) QSKIP("xdotool is missing");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", Q(*tmp / ""));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(Q(tmp->path()));
        program.start(NORVEX_PROGRAM, {});
        QVERIFY(program.waitForStarted());
        const QString pid = QString::number(program.processId());
        QString found;
        Eventually([&] { return !(found = Run("xdotool", {"search", "--onlyvisible", "--pid", pid}).trimmed()).isEmpty(); },
                   20000);
        const QString name = Run("xdotool", {"getwindowname", found.section('\n', 0, 0)}).trimmed();
        program.terminate();
        program.waitForFinished(10000);
        QCOMPARE(name, QString("Norvex　- ウィンドウのどこでもドロップ"));
    }

    void typingAPatternAndEnter() {
        if (!norvex::test::HaveTool("xdotool")) QSKIP("xdotool is missing");
        if (!haveZip()) QSKIP("zip or the modules are missing");
        const QString zip = makeZip("p.zip", {"a.jpg", "b.png", "c.txt", "d.jpeg"});
        // The search window: the pattern box has the focus; what is typed is what is searched.
        TfrmSearch search;
        search.ArchiveList = [&] { return std::vector<AnsiString>{FromQ(zip)}; };
        search.show();
        QVERIFY(QTest::qWaitForWindowActive(&search));
        QSignalSpy finished(&search, &TfrmSearch::SearchFinished);
        Run("xdotool", {"type", "--delay", "40", "*.jpg"});
        Run("xdotool", {"key", "Return"});
        QVERIFY(finished.wait(20000));
        QCOMPARE(search.cmbWildCard->currentText(), QString("*.jpg"));
        QCOMPARE(search.lvFile->topLevelItemCount(), 1);
        QCOMPARE(search.lvFile->topLevelItem(0)->text(0), QString("a.jpg"));
        search.close();

        // The main window's file filter keeps the typed pattern, and so does the setting.
        auto w = makeMain();
        QVERIFY(w);
        w->chkSpecialExt->setChecked(true);
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->txtExt->lineEdit()->setFocus();
        w->txtExt->lineEdit()->clear();
        Run("xdotool", {"type", "--delay", "40", "*.jpg"});
        QVERIFY(Eventually([&] { return w->txtExt->currentText().size() >= 5; }, 5000));
        QCOMPARE(w->txtExt->currentText(), QString("*.jpg"));
        QCOMPARE(Settings.FileSpec, AnsiString("*.jpg"));
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Norvex");
    // Set as an older start-up did; the set-up of the program clears it again.
    QApplication::setApplicationDisplayName("Norvex");
    PrepareApplication(app);
    X11WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "X11WindowTest.moc"
