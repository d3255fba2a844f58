// Runs asked for on a command line: the one the program was started with, and those that later
// starts hand over while this instance runs (ui/HandOverServer). It makes sure that a command-line
// start never leaves a hidden window behind, and that a handed-over run waits for the current one.
#pragma once
#include <QObject>
#include <QTimer>
#include <deque>
#include <string>
#include <vector>

#include "platform/AnsiString.h"
#include "platform/InstanceChannel.h"
#include "settings/SettingsBlock.h"

namespace norvex::ui {

class TfrmMain;

// A command line: an optional first switch ("-d", "-t", "-k", compared exactly) and the paths, as
// the host's bytes. afterMethod is -1 without a switch.
struct TCommandLine {
    int afterMethod = -1;
    std::vector<AnsiString> files;
};
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

class TCommandRuns : public QObject {
    Q_OBJECT
public:
    explicit TCommandRuns(TfrmMain& main);

    // The program's own command line (main-window creation, steps 18 to 20).
    void ApplyStartArguments(const std::vector<std::string>& arguments);
    // Step 22: a command-line start runs at once. When its run does not begin (an empty list, a No
    // to a confirmation), a hidden window is shown: the process never lingers unseen.
    void StartFirstRun();

    // A later start's hand-over. Files that came with a switch, or any files while this instance is
    // a command-line run, are extracted after the current run, provided the list is empty by then;
    // otherwise (and for files without a switch) they are listed and the window is shown. False when
    // the window is closing (the sender tries again, and finds the next instance).
    bool Receive(const THandOver& message);
    // The end of a run (last step of FinishRun): the values a command-line switch forced are put
    // back. True when the window should close now: a command-line run with nothing more queued.
    bool RunEnded();

    int Pending() const { return int(queue_.size()); }

private:
    struct TRequest {
        TCommandLine line;
        bool run = false;
    };
    bool Busy() const;
    void Drain();
    void StartRun(int afterMethod);
    void ShowWindow();

    TfrmMain& main_;
    std::deque<TRequest> queue_;
    QTimer drainTimer_;
    bool starting_ = false;
    bool restoreAfterMethod_ = false;  // a handed-over switch in a window that was not a command-line run
    TAfterMethod savedAfterMethod_ = TAfterMethod::Nothing;
};

}  // namespace norvex::ui
