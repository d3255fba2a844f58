// Command-line runs: the first one, and the queue of those handed over by later starts.
#include "ui/CommandRuns.h"

#include <QApplication>

#include "platform/AnsiCodec.h"
#include "ui/FileCtrl.h"
#include "ui/UForm.h"

namespace norvex::ui {

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    TCommandLine line;
    std::size_t first = 0;
    if (!arguments.empty()) {
        const std::string& sw = arguments.front();
        line.afterMethod = sw == "-d" ? 1 : sw == "-t" ? 2 : sw == "-k" ? 0 : -1;
        if (line.afterMethod >= 0) first = 1;
    }
    for (std::size_t i = first; i < arguments.size(); ++i) {
        AnsiString path;
        TryToAnsi(arguments[i], path);  // bytes that are not UTF-8 travel in their carriers
        line.files.push_back(path);
    }
    return line;
}

TCommandRuns::TCommandRuns(TfrmMain& main) : QObject(&main), main_(main) {
    drainTimer_.setInterval(250);
    connect(&drainTimer_, &QTimer::timeout, this, &TCommandRuns::Drain);
}

void TCommandRuns::ApplyStartArguments(const std::vector<std::string>& arguments) {
    const TCommandLine line = ParseCommandLine(arguments);
    if (!arguments.empty()) {
        Settings.CommandLineMode = true;
        Settings.SavedAfterMethod = Settings.AfterMethod;
        Settings.SavedPutLocation = Settings.PutLocation;
        if (line.afterMethod >= 0) main_.SelectAfterMethod(TAfterMethod(line.afterMethod));
    }
    // The size column stays empty for these rows.
    for (const AnsiString& f : line.files) main_.AddFileToList(f);
    main_.RefreshModePanel();
}

void TCommandRuns::StartFirstRun() {
    if (Settings.CommandLineMode) StartRun(-1);
}

bool TCommandRuns::Receive(const THandOver& message) {
    if (main_.Closing()) return false;
    TRequest request;
    request.line = ParseCommandLine(AbsoluteArguments(message.arguments, message.workingFolder));
    request.run = !request.line.files.empty() && (request.line.afterMethod >= 0 || Settings.CommandLineMode);
    queue_.push_back(std::move(request));
    // Never from inside the socket's signal: a run may ask questions.
    QTimer::singleShot(0, this, &TCommandRuns::Drain);
    drainTimer_.start();
    return true;
}

bool TCommandRuns::RunEnded() {
    if (Settings.CommandLineMode) {
        Settings.PutLocation = Settings.SavedPutLocation;
        Settings.AfterMethod = Settings.SavedAfterMethod;
        main_.ShowRunChoices();
    } else if (restoreAfterMethod_) {
        restoreAfterMethod_ = false;
        Settings.AfterMethod = savedAfterMethod_;
        main_.ShowRunChoices();
    }
    if (!queue_.empty()) {
        drainTimer_.start();
        return false;
    }
    return Settings.CommandLineMode;
}

bool TCommandRuns::Busy() const {
    return starting_ || main_.WorkerAlive() || Settings.RunActive || main_.Closing() ||
           QApplication::activeModalWidget() != nullptr;
}

void TCommandRuns::Drain() {
    while (!queue_.empty() && !Busy()) {
        TRequest request = std::move(queue_.front());
        queue_.pop_front();
        if (request.line.files.empty()) {
            ShowWindow();  // a plain second start: the user wants the window
        } else if (request.run && main_.FileCount() == 0) {
            for (const AnsiString& f : request.line.files) main_.AddFileToList(f);
            StartRun(request.line.afterMethod);
        } else {
            // A run covers the whole list: rows already listed (left by a failed run, or put there by
            // the user) never get a switch they were not given. The user starts this one.
            main_.DropFiles(request.line.files);
            ShowWindow();
        }
    }
    if (queue_.empty()) drainTimer_.stop();
}

void TCommandRuns::StartRun(int afterMethod) {
    if (afterMethod >= 0) {
        // A switch handed to a window the user works in holds for this run only.
        if (!Settings.CommandLineMode && !restoreAfterMethod_) {
            savedAfterMethod_ = Settings.AfterMethod;
            restoreAfterMethod_ = true;
        }
        main_.SelectAfterMethod(TAfterMethod(afterMethod));
    }
    starting_ = true;
    main_.btnUnPackClick();
    starting_ = false;
    if (main_.WorkerAlive()) return;
    // The run did not begin: nothing may wait unseen.
    if (restoreAfterMethod_) {
        restoreAfterMethod_ = false;
        main_.SelectAfterMethod(savedAfterMethod_);
    }
    ShowWindow();
    if (!queue_.empty()) drainTimer_.start();
}

void TCommandRuns::ShowWindow() {
    if (!main_.isVisible()) main_.show();
    BringToFront(&main_);
}

}  // namespace norvex::ui
