// The window program told to stop by a signal (a logout, a shutdown, `kill`, Ctrl+C in its
// terminal): a run is broken off as the break button does it, the folder it claimed and what it
// wrote are taken back, the archive stays, no box waits for a person, and the window closes; without
// a run the window just closes, settings saved. A signal ignored at the start stays ignored.
//
// The run is held without timing at a known point: the archive holds a.txt twice, so the second
// asks whether to write over the first, after the run made its folder and before the archive is
// through.
#include <signal.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <memory>

#include "platform/ModuleLoader.h"
#include "settings/SettingsBlock.h"
#include "tests/support/LzhEntries.h"
#include "tests/support/TempDir.h"
#include "ui/DialogHooks.h"
#include "ui/QtAnsi.h"
#include "ui/SignalBreak.h"
#include "ui/UForm.h"

using namespace norvex;
using namespace norvex::ui;
using norvex::test::TempDir;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool HaveLzhModule() { return QFileInfo::exists(ToQ(ModuleFolder() + PathDelim + ModuleFileName("UNLHA32.DLL"))); }

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What a signal does in this process now: its handler, SIG_DFL or SIG_IGN.
void (*Disposition(int sig))(int) {
    struct sigaction now {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

// Whether the process pid has a handler for sig, or ignores it (read from /proc).
bool ProcessSignalBit(qint64 pid, const char* field, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return (std::stoull(line.substr(std::string(field).size()), nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

}  // namespace

class SignalBreakTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> tmp;
    QString dir, ini, archive, out;
    QStringList asked;  // the captions of the boxes, in order
    struct sigaction before[3] = {};  // the test runner's own handlers
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    const std::string bytes = norvex::test::StoredLzhEntry("a.txt", "first") +
                              norvex::test::StoredLzhEntry("a.txt", "second") +
                              norvex::test::StoredLzhEntry("b.txt", std::string(200000, 'b')) + '\0';

    std::unique_ptr<TfrmMain> makeWindow(const QStringList& args = {}) {
        TMainWindowOptions o;
        for (const QString& a : args) o.arguments.push_back(a.toStdString());
        o.iniPath = ini;
        return std::make_unique<TfrmMain>(o);
    }

    // Neither the folder the run claimed (under its own or a temporary name) nor a file is left.
    bool outIsEmpty() const {
        return QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty();
    }

private slots:
    void initTestCase() {
        for (int i = 0; i < 3; ++i) sigaction(kSignals[i], nullptr, &before[i]);
    }
    void init() {
        Settings = SettingsBlock{};
        SetModuleFolder("");
        SetDialogsDismissed(false);
        tmp = std::make_unique<TempDir>();
        dir = Q(tmp->path());
        ini = dir + "/Norvex.ini";
        archive = dir + "/in/arc.lzh";
        out = dir + "/out";
        QDir().mkpath(dir + "/in");
        QDir().mkpath(out);
        norvex::test::WriteFile(archive.toStdString(), bytes);
        // Delete afterwards (a break must keep the archive), the end box on (it must not wait).
        norvex::test::WriteFile(ini.toStdString(), "[Main]\nAfterMethod=1\nPutLocation=1\nSpecialFolder=" +
                                                       out.toStdString() +
                                                       "\n[Sub_Confirm]\nConfirmDelete=0\nShowEndDlg=1\n");
        asked.clear();
        SetMessageAnswerer([this](const TMessageRequest& r) {
            asked << r.caption;
            return int(r.buttons == TMsgButtons::Ok ? mrOk : mrNo);
        });
    }
    void cleanup() {
        SetMessageAnswerer(nullptr);
        SetDialogsDismissed(false);
        for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &before[i], nullptr);
    }

    void eachSignalBreaksTheRunOffAndClosesTheWindow() {
        if (!HaveLzhModule()) QSKIP("the LZH module is not built");
        for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
            init();
            auto w = makeWindow();
            const auto runners = Disposition(sig);
            const TSignalBreak* breaks = InstallSignalBreak(*w);
            QVERIFY(Disposition(sig) != runners && Disposition(sig) != SIG_IGN);
            w->DropFiles({archive});
            w->mmClearLogClick();
            SetMessageAnswerer([&](const TMessageRequest& r) {
                asked << r.caption;
                if (r.caption == "上書き確認") [&] {
                    QVERIFY(QFile::exists(out + "/arc/a.txt"));
                    raise(sig);
                    QTRY_VERIFY(Settings.BreakRequested);
                    // A second signal would end the process at once.
                    QVERIFY(Disposition(SIGTERM) == SIG_DFL && Disposition(SIGINT) == SIG_DFL &&
                            Disposition(SIGHUP) == SIG_DFL);
                }();
                return int(mrYes);
            });
            QSignalSpy closed(w.get(), &TfrmMain::Closed);
            w->btnUnPack->click();
            QVERIFY(closed.count() == 1 || closed.wait(60000));
            QCOMPARE(closed.count(), 1);

            const QString log = w->LogLines().join('\n');
            QVERIFY2(log.contains(QString("[ お知らせ ]　終了の指示（%1）を受けました。").arg(SignalName(sig))), qPrintable(log));
            QVERIFY2(log.contains("> [ 強制中断 ] 中断されました。"), qPrintable(log));
            QVERIFY2(log.contains(QString("> [ 残骸の削除 ] \"%1/arc\"").arg(out)), qPrintable(log));
            QVERIFY2(!log.contains("b.txt"), qPrintable(log));  // the run ended in the archive
            QVERIFY(outIsEmpty());
            QCOMPARE(ReadAll(archive), QByteArray::fromStdString(bytes));
            // The end box did not wait for an answer; the settings were written as on any close.
            QCOMPARE(asked, QStringList({"上書き確認"}));
            QVERIFY(QFile::exists(ini));
            QVERIFY(w->BrokenOffBySignal());
            QCOMPARE(ExitStatusAfterSignals(*w, *breaks, 0), 128 + sig);
            // The window gone, the signals do what they did before.
            w.reset();
            QVERIFY(Disposition(sig) == runners);
            cleanup();
        }
    }

    void withoutARunTheWindowClosesAndAnIgnoredSignalStaysIgnored() {
        QFile::remove(ini);
        signal(SIGHUP, SIG_IGN);
        auto w = makeWindow();
        const TSignalBreak* breaks = InstallSignalBreak(*w);
        QVERIFY(Disposition(SIGHUP) == SIG_IGN);
        QSignalSpy closed(w.get(), &TfrmMain::Closed);
        raise(SIGHUP);
        QCoreApplication::processEvents();
        QCOMPARE(closed.count(), 0);
        raise(SIGTERM);
        QVERIFY(closed.count() == 1 || closed.wait(10000));
        QVERIFY(QFile::exists(ini));  // written as by the close box
        QVERIFY(!w->BrokenOffBySignal());
        QCOMPARE(ExitStatusAfterSignals(*w, *breaks, 0), 0);
        w.reset();
        QVERIFY(Disposition(SIGHUP) == SIG_IGN);
    }

    // The program itself, its question box open on the offscreen screen when SIGTERM comes.
    void theProgramEndsItsRunAtSigtermWithAQuestionOpen() {
        if (!HaveLzhModule()) QSKIP("the LZH module is not built");
        // A copy of the program with its ini beside it, and a private runtime folder.
        const QString root = dir + "/prog";
        QDir().mkpath(root + "/bin");
        QVERIFY(QFile::copy(NORVEX_PROGRAM, root + "/bin/norvex"));
        QFile::setPermissions(root + "/bin/norvex", QFile::permissions(NORVEX_PROGRAM));
        QVERIFY(QFile::link(QFileInfo(QString(NORVEX_PROGRAM)).absolutePath() + "/../lib", root + "/lib"));
        QVERIFY(QFile::copy(ini, root + "/bin/Norvex.ini"));
        QDir().mkpath(dir + "/run");
        QFile::setPermissions(dir + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", dir + "/run");

        QProcess program;
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        // Started from nohup: SIGHUP stays ignored, the others are taken.
        program.setChildProcessModifier([] {
            signal(SIGHUP, SIG_IGN);
            signal(SIGTERM, SIG_DFL);
            signal(SIGINT, SIG_DFL);
        });
        program.start(root + "/bin/norvex", {"-k", archive});
        QVERIFY(program.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out + "/arc/a.txt"), 60000);
        QVERIFY(ProcessSignalBit(program.processId(), "SigCgt:", SIGTERM));
        QVERIFY(ProcessSignalBit(program.processId(), "SigIgn:", SIGHUP));
        program.terminate();  // SIGTERM
        QVERIFY(program.waitForFinished(60000));
        const QString output = QString::fromUtf8(program.readAll());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == 128 + SIGTERM, qPrintable(output));
        QVERIFY(outIsEmpty());
        QCOMPARE(ReadAll(archive), QByteArray::fromStdString(bytes));
    }
};

QTEST_MAIN(SignalBreakTest)
#include "SignalBreakTest.moc"
