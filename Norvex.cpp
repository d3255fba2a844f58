// Norvex: the desktop program. One instance per user: a later start hands its files to the running
// instance over a local socket; the main window takes the command line.
#include <unistd.h>

#include <cerrno>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "platform/LocalTimeZone.h"
#include "ui/AppSetup.h"
#include "ui/HandOverServer.h"
#include "ui/OptionsCommand.h"
#include "ui/SignalBreak.h"
#include "ui/UForm.h"
#include "ui/ufrmSearch.h"

namespace {
// How long a start waits for an instance that holds the lock but does not answer (one that is
// still starting or already ending) before it takes over.
constexpr int kHandOverWaitMs = 3000;

std::string WorkingFolder() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}
}  // namespace

int main(int argc, char* argv[]) {
    norvex::PinLocalTimeZone();
    // The arguments as the host's bytes: names that are not UTF-8 must reach the engine unchanged.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::unique_ptr<norvex::TInstanceLock> lock;
    const norvex::THandOver handOver{WorkingFolder(), arguments};
    if (norvex::TakeInstanceOrHandOver("Norvex", handOver, kHandOverWaitMs, lock) == norvex::TStartRole::HandedOver)
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName("Norvex");
    QApplication::setApplicationVersion(NORVEX_VERSION);
    norvex::ui::PrepareApplication(app);
    // A window hidden for a command-line run never counts as the last one closed: the program ends
    // when the main window's close has gone through.
    QApplication::setQuitOnLastWindowClosed(false);
    norvex::ui::THandOverServer server(QString::fromStdString(norvex::InstanceSocketPath("Norvex")));
    server.Listen();

    norvex::ui::TMainWindowOptions options;
    options.arguments = arguments;
    norvex::ui::TfrmMain main(options);
    server.Receiver = [&main](const norvex::THandOver& m) { return main.HandOver(m); };
    QObject::connect(&main, &norvex::ui::TfrmMain::Closed, &server, &norvex::ui::THandOverServer::Close);
    QObject::connect(&main, &norvex::ui::TfrmMain::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // The other windows, in their creation order after the main window (the version dialog is made
    // when it is asked for).
    norvex::ui::InstallBrowsingWindows(main);  // the preview and search windows
    norvex::ui::InstallOptionsDialog(main);
    // SIGINT, SIGTERM and SIGHUP break a run off in order and close the window (before the
    // command line's run starts).
    const norvex::ui::TSignalBreak* breaks = norvex::ui::InstallSignalBreak(main);

    if (!(main.CommandLineRun() && norvex::Settings.CmdHideWnd)) main.show();
    main.FormShowStart();
    const int status = app.exec();
    return norvex::ui::ExitStatusAfterSignals(main, *breaks, status);
}
