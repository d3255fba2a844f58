// Ctrl+C, SIGTERM and SIGHUP for the window program (a logout, a shutdown, `kill`): a run is broken
// off as the break button does it, what it made is taken back, and the window closes once the run
// has ended; without a run the window closes as by its close box. A second signal ends the process
// at once. A signal that was ignored when the program started (nohup, a background job) stays so.
//
// The handler only writes the signal's number to a socket pair; the rest happens on the main thread
// when the socket notifier sees it. Tested by tests/ui/SignalBreakTest.cpp.
#pragma once
#include <QObject>

class QSocketNotifier;

namespace norvex::ui {

class TfrmMain;

class TSignalBreak : public QObject {
    Q_OBJECT
public:
    // Takes the signals that are not ignored; one object at a time (a second one takes none).
    explicit TSignalBreak(QObject* parent = nullptr);
    // Puts back what the signals did before.
    ~TSignalBreak() override;

    // The first signal received, 0 before any.
    int First() const { return first_; }

signals:
    // On the main thread, once per signal that reached the handler.
    void Received(int sig);

private:
    void Drain();

    QSocketNotifier* notifier_ = nullptr;
    bool owner_ = false;
    int first_ = 0;
};

// "SIGTERM" and the others, for the log.
const char* SignalName(int sig);

// Makes a TSignalBreak, a child of main, whose signals break main's run off and close it.
TSignalBreak* InstallSignalBreak(TfrmMain& main);

// The program's exit status: 128 + the signal when a signal broke a run off, else status.
int ExitStatusAfterSignals(const TfrmMain& main, const TSignalBreak& breaks, int status);

}  // namespace norvex::ui
