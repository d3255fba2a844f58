// Every modal question and every outside program the window starts goes through these functions, so
// that the tests can answer the boxes and record what would have been opened, without a person.
#pragma once
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace norvex::ui {

// Results in the numbering of the message boxes of the design.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrYes = 6,
    mrNo = 7,
    mrYesToAll = 10,
    mrNoToAll = 9,
};

enum class TMsgButtons { Ok, YesNo, YesNoCancel, YesNoAllCancel };
enum class TMsgIcon { None, Information, Question, Warning, Error };

struct TMessageRequest {
    QString caption;
    QString text;
    TMsgButtons buttons = TMsgButtons::Ok;
    TMsgIcon icon = TMsgIcon::None;
};

// Shows a message box owned by owner and returns the button pressed (mrCancel when it was closed).
int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, TMsgButtons buttons,
                   TMsgIcon icon = TMsgIcon::None);

struct TBrowseRequest {
    QString prompt;
    QString initialFolder;  // empty: no preselection
    int left = 0, top = 0;
};

struct TSaveRequest {
    QString title;
    QString filter;
};

// Test hooks. An answerer that is set replaces the dialog; it is called on the main thread.
using MessageAnswerer = std::function<int(const TMessageRequest&)>;
using BrowseAnswerer = std::function<std::optional<QString>(const TBrowseRequest&)>;
using SaveAnswerer = std::function<std::optional<QString>(const TSaveRequest&)>;
// Receives what would be handed to xdg-open or the browser; returns whether the start succeeded.
using OpenRecorder = std::function<bool(const QString& what)>;
// Answers a text question (a password): nullopt when the user gave none.
using TextAnswerer = std::function<std::optional<QString>(const QString& caption, const QString& prompt)>;

void SetMessageAnswerer(MessageAnswerer answerer);
void SetBrowseAnswerer(BrowseAnswerer answerer);
void SetSaveAnswerer(SaveAnswerer answerer);
void SetOpenRecorder(OpenRecorder recorder);
void SetTextAnswerer(TextAnswerer answerer);

// While the program ends on a signal, no box waits for a person: set, it closes the modal dialogs
// that are open (a box counts as closed: Cancel, No, or OK for a notice) and answers every later box
// and question so at once, without showing it.
void SetDialogsDismissed(bool dismissed);
bool DialogsDismissed();

// Takes back an open message box whose question no longer applies (its ShowMessageBox returns as
// for a closed box). A box replaced by the test answerer is not open: nothing to take back.
void WithdrawMessageBox(const QString& text);

// A password-style question owned by owner; nullopt when cancelled.
std::optional<QString> AskSecretText(QWidget* owner, const QString& caption, const QString& prompt);
// The width a window needs to show title whole in its frame.
int TitleWidth(const QWidget& window, const QString& title);

// The save dialog ("ログを保存"); nullopt when cancelled.
std::optional<QString> AskSaveFileName(QWidget* owner, const TSaveRequest& request);
// Hands a folder or URL to the desktop (xdg-open); false when it could not be started.
bool OpenInDesktop(const QString& what);
// Opens a local file or URL in the user's browser.
bool OpenInBrowser(const QString& url);

namespace detail {
const BrowseAnswerer& CurrentBrowseAnswerer();
}

}  // namespace norvex::ui
