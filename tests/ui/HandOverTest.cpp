// Command-line starts: a start whose run never begins shows its window instead of lingering hidden,
// and a later start's files are handed over to the running instance, in the window and between real
// processes over the socket.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <memory>
#include <thread>

#include "platform/AnsiCodec.h"
#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"
#include "settings/uIniControl.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/CommandRuns.h"
#include "ui/DialogHooks.h"
#include "ui/HandOverServer.h"
#include "ui/QtAnsi.h"
#include "ui/UForm.h"

using namespace norvex;
using namespace norvex::ui;
using norvex::test::TempDir;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool HaveZipModule() { return QFileInfo::exists(ToQ(ModuleFolder() + PathDelim + ModuleFileName("UNZIP32.DLL"))); }

// A ZIP holding one file, made by Info-ZIP zip.
QString MakeZip(const QString& folder, const QString& name, const QString& entry) {
    const QString src = folder + "/src-" + name;
    QDir().mkpath(src);
    norvex::test::WriteFile((src + "/" + entry).toStdString(), "content of " + entry.toStdString() + "\n");
    auto r = norvex::test::RunTool({"zip", "-q", (folder + "/" + name).toStdString(), entry.toStdString()},
                                   src.toStdString());
    if (r.exitCode != 0) qWarning() << "zip failed:" << Q(r.output);
    return folder + "/" + name;
}

THandOver Message(const QStringList& args, const QString& folder = "/") {
    THandOver m{folder.toStdString(), {}};
    for (const QString& a : args) m.arguments.push_back(a.toStdString());
    return m;
}

}  // namespace

class HandOverTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> tmp;
    QString dir, ini;
    QList<TMessageRequest> asked;
    std::function<int(const TMessageRequest&)> answer;

    std::unique_ptr<TfrmMain> makeWindow(const QStringList& args = {}) {
        TMainWindowOptions o;
        for (const QString& a : args) o.arguments.push_back(a.toStdString());
        o.iniPath = ini;
        return std::make_unique<TfrmMain>(o);
    }
    void writeIni(const std::string& body) { norvex::test::WriteFile(ini.toStdString(), body); }
    SettingsBlock readIni() {
        SettingsBlock s;
        TIniControl(FromQ(ini)).Load(s);
        return s;
    }
    QString log(TfrmMain& w) { return w.LogLines().join('\n'); }

private slots:
    void init() {
        Settings = SettingsBlock{};
        SetModuleFolder("");
        tmp = std::make_unique<TempDir>();
        dir = Q(tmp->path());
        ini = dir + "/Norvex.ini";
        asked.clear();
        answer = nullptr;
        SetMessageAnswerer([this](const TMessageRequest& r) {
            asked << r;
            if (answer) return answer(r);
            return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes);
        });
        SetBrowseAnswerer([](const TBrowseRequest&) { return std::optional<QString>(); });
    }

    void cleanup() {
        SetMessageAnswerer(nullptr);
        SetBrowseAnswerer(nullptr);
        tmp.reset();
    }

    // ---- A start whose run never begins ----------------------------------------------------------

    void hiddenStartThatNeverRunsShowsTheWindow() {
        const QString a = dir + "/a.zip";
        norvex::test::WriteFile(a.toStdString(), "not read");
        struct Case {
            QStringList args;
            bool answerNo;
        };
        // A lone switch (nothing to run), and "No" to the delete question.
        for (const Case& c : {Case{{"-d"}, false}, Case{{"-d", a}, true}}) {
            Settings = SettingsBlock{};
            writeIni("[Sub_Other]\nCmdHideWnd=1\n[Sub_Confirm]\nConfirmDelete=1\n");
            answer = [&](const TMessageRequest&) { return c.answerNo ? int(mrNo) : int(mrYes); };
            auto w = makeWindow(c.args);
            QVERIFY(w->CommandLineRun() && Settings.CmdHideWnd);
            QVERIFY(!w->isVisible());
            w->FormShowStart();
            QVERIFY2(w->isVisible(), qPrintable(c.args.join(' ')));
            QVERIFY(!w->WorkerAlive());
            QVERIFY(QFile::exists(a));
            QVERIFY(w->close());
        }
    }

    // ---- Hand-overs inside the window ------------------------------------------------------------

    void handedOverRunsFollowTheCommandLineRun() {
        if (!HaveZipModule()) QSKIP("the ZIP module is not built");
        writeIni("[Main]\nAfterMethod=0\n[Sub_Confirm]\nConfirmDelete=0\n[Sub_Other]\nCmdHideWnd=1\n");
        const QString a = MakeZip(dir, "alpha.zip", "one.txt");
        const QString b = MakeZip(dir, "beta.zip", "two.txt");
        const QString c = MakeZip(dir, "gamma.zip", "three.txt");
        auto w = makeWindow({"-k", a});
        QSignalSpy closed(w.get(), &TfrmMain::Closed);
        QSignalSpy finished(w.get(), &TfrmMain::RunFinished);
        w->FormShowStart();
        QVERIFY(w->WorkerAlive());
        // Two later starts while the first run goes on: one with "-d" from another folder (a
        // relative path), one without a switch. Both wait for the current run, then run in order.
        QVERIFY(w->HandOver(Message({"-d", "beta.zip"}, dir)));
        QVERIFY(w->HandOver(Message({c})));
        QCOMPARE(w->CommandRuns().Pending(), 2);
        QVERIFY(closed.wait(60000));
        QCOMPARE(finished.count(), 3);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w->isVisible());  // the runs stayed hidden
        QVERIFY(QFile::exists(dir + "/one.txt") && QFile::exists(dir + "/two.txt") && QFile::exists(dir + "/three.txt"));
        QVERIFY(QFile::exists(a));   // "-k"
        QVERIFY(!QFile::exists(b));  // "-d"
        QVERIFY(QFile::exists(c));   // no switch: the saved choice, "そのまま"
        QCOMPARE(int(readIni().AfterMethod), 0);
        // Once closing, nothing more is taken: the sender tries the next instance.
        QVERIFY(!w->HandOver(Message({"-k", a})));
    }

    void handOverToAWindowInUse() {
        if (!HaveZipModule()) QSKIP("the ZIP module is not built");
        writeIni("[Main]\nAfterMethod=0\n[Sub_Confirm]\nConfirmDelete=0\n");
        const QString a = MakeZip(dir, "alpha.zip", "one.txt");
        const QString b = MakeZip(dir, "beta.zip", "two.txt");
        auto w = makeWindow();
        QSignalSpy finished(w.get(), &TfrmMain::RunFinished);
        QSignalSpy closed(w.get(), &TfrmMain::Closed);
        // Without a switch the files are only listed (with their sizes), and the window comes up.
        QVERIFY(w->HandOver(Message({b})));
        QTRY_COMPARE(w->lvFiles->topLevelItemCount(), 1);
        QVERIFY(w->lvFiles->topLevelItem(0)->text(1).endsWith(" KB"));
        QVERIFY(w->isVisible());
        QVERIFY(!w->WorkerAlive());
        // A switch never reaches rows it was not given: with rows listed, the files are only added.
        QVERIFY(w->HandOver(Message({"-d", a})));
        QTRY_COMPARE(w->lvFiles->topLevelItemCount(), 2);
        QVERIFY(!w->WorkerAlive());
        QCOMPARE(int(Settings.AfterMethod), 0);
        w->lvFiles->clear();
        // On an empty list they run at once, the switch for this run only; the window stays.
        QVERIFY(w->HandOver(Message({"-d", a})));
        QVERIFY(finished.wait(60000));
        QVERIFY(QFile::exists(dir + "/one.txt"));
        QVERIFY(!QFile::exists(a));
        QCOMPARE(int(Settings.AfterMethod), 0);
        QCOMPARE(w->cmbAfterMethod->currentIndex(), 0);
        QCOMPARE(closed.count(), 0);
        QVERIFY(QFile::exists(b));
    }

    // ---- Between processes -------------------------------------------------------------------------

    void socketCarriesAHandOverToTheWindow() {
        const QString path = dir + "/hand.socket";
        THandOverServer server(path);
        QVERIFY(server.Listen());
        QList<THandOver> got;
        bool refuse = false;
        server.Receiver = [&](const THandOver& m) {
            got << m;
            return !refuse;
        };
        const THandOver sent{"/work dir", {"-d", std::string("/x/\x8E\x91\x97\xBF.zip")}};
        auto send = [&] {
            std::atomic<TSendResult> result = TSendResult::NoAnswer;
            std::atomic<bool> done = false;
            std::thread sender([&] {
                result = SendHandOver(path.toStdString(), sent, 5000);
                done = true;
            });
            for (int waited = 0; !done && waited < 6000; waited += 20) QTest::qWait(20);
            sender.join();
            return result.load();
        };
        QCOMPARE(int(send()), int(TSendResult::Taken));
        QCOMPARE(got.size(), 1);
        QVERIFY(got[0] == sent);
        refuse = true;
        QCOMPARE(int(send()), int(TSendResult::Refused));
        // A socket file left behind by an instance that ended is replaced.
        server.Close();
        QFile stale(path);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        THandOverServer next(path);
        QVERIFY(next.Listen());
    }

    void secondProgramHandsItsFilesToTheFirst() {
        if (!HaveZipModule()) QSKIP("the ZIP module is not built");
        // A copy of the program in a scratch tree, with its ini beside it, and a private runtime
        // folder for the lock and the socket.
        const QString root = dir + "/prog";
        QDir().mkpath(root + "/bin");
        QVERIFY(QFile::copy(NORVEX_PROGRAM, root + "/bin/norvex"));
        QFile::setPermissions(root + "/bin/norvex", QFile::permissions(NORVEX_PROGRAM));
        QVERIFY(QFile::link(QFileInfo(QString(NORVEX_PROGRAM)).absolutePath() + "/../lib", root + "/lib"));
        norvex::test::WriteFile((root + "/bin/Norvex.ini").toStdString(),
                                "[Sub_Confirm]\nConfirmDelete=0\nShowEndDlg=0\n[Sub_Other]\nCmdHideWnd=1\n");
        QDir().mkpath(dir + "/run");
        QDir().mkpath(dir + "/arc");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", dir + "/run");
        QFile::setPermissions(dir + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString a = MakeZip(dir + "/arc", "alpha.zip", "one.txt");
        const QString b = MakeZip(dir + "/arc", "beta.zip", "two.txt");
        auto start = [&](QProcess& p, const QStringList& args) {
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(dir + "/arc");
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(root + "/bin/norvex", args);
            QVERIFY(p.waitForStarted(10000));
        };

        // The first instance: the window, no files.
        QProcess first;
        start(first, {});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dir + "/run/Norvex.socket"), 20000);
        // The second start hands "-d alpha.zip" over (a relative path) and ends at once.
        QProcess second;
        QElapsedTimer clock;
        clock.start();
        start(second, {"-d", "alpha.zip"});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(clock.elapsed() < 2500, "the running instance answered at once");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/arc/one.txt") && !QFile::exists(a), 30000);
        QCOMPARE(first.state(), QProcess::Running);  // the window the user had stays
        first.terminate();
        QVERIFY(first.waitForFinished(20000));

        // A lock held by a process that does not answer: the next start takes over after a while.
        {
            qputenv("XDG_RUNTIME_DIR", (dir + "/run").toUtf8());
            TInstanceLock held("Norvex");
            qunsetenv("XDG_RUNTIME_DIR");
            QVERIFY(held.Acquired());
            QProcess third;
            clock.restart();
            start(third, {"-k", b});
            QVERIFY(third.waitForFinished(60000));
            QCOMPARE(third.exitCode(), 0);
            QVERIFY(clock.elapsed() >= 2500);
            QVERIFY(QFile::exists(dir + "/arc/two.txt"));
            QVERIFY(QFile::exists(b));
        }
    }
};

QTEST_MAIN(HandOverTest)
#include "HandOverTest.moc"
