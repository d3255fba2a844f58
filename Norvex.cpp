// Norvex: the desktop program. One instance per user; the main window takes the command line.
#include <QApplication>
#include <QStringList>

#include "platform/InstanceLock.h"
#include "ui/UForm.h"
#include "ui/UfrmOption.h"
#include "ui/ufrmSearch.h"

int main(int argc, char* argv[]) {
    // A second start ends at once, silently; its arguments are dropped.
    norvex::TInstanceLock lock("Norvex");
    if (!lock.Acquired()) return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName("Norvex");
    QApplication::setApplicationDisplayName("Norvex");
    QApplication::setApplicationVersion(NORVEX_VERSION);
    // A window hidden for a command-line run never counts as the last one closed: the program ends
    // when the main window's close has gone through.
    QApplication::setQuitOnLastWindowClosed(false);

    norvex::ui::TMainWindowOptions options;
    options.arguments = app.arguments().mid(1);
    norvex::ui::TfrmMain main(options);
    QObject::connect(&main, &norvex::ui::TfrmMain::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // The other windows, in their creation order after the main window (the version dialog is made
    // when it is asked for).
    norvex::ui::InstallBrowsingWindows(main);  // the preview and search windows
    norvex::ui::TfrmOption option(&main);
    main.ShowOptionsDialog = [&option](norvex::ui::TfrmMain& w) {
        option.exec();
        w.RefreshModePanel();
    };

    if (!(main.CommandLineRun() && norvex::Settings.CmdHideWnd)) main.show();
    main.FormShowStart();
    return app.exec();
}
