// Message boxes, the save dialog and the hand-over to the desktop, each with its test hook.
#include "ui/DialogHooks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace norvex::ui {
namespace {

MessageAnswerer& messageAnswerer() {
    static MessageAnswerer answerer;
    return answerer;
}
BrowseAnswerer& browseAnswerer() {
    static BrowseAnswerer answerer;
    return answerer;
}
SaveAnswerer& saveAnswerer() {
    static SaveAnswerer answerer;
    return answerer;
}
TextAnswerer& textAnswerer() {
    static TextAnswerer answerer;
    return answerer;
}
OpenRecorder& openRecorder() {
    static OpenRecorder recorder;
    return recorder;
}

bool& dialogsDismissed() {
    static bool dismissed = false;
    return dismissed;
}

QMessageBox::Icon qtIcon(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information: return QMessageBox::Information;
    case TMsgIcon::Question: return QMessageBox::Question;
    case TMsgIcon::Warning: return QMessageBox::Warning;
    case TMsgIcon::Error: return QMessageBox::Critical;
    case TMsgIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

int TitleWidth(const QWidget& window, const QString& title) {
    // Room for the frame's icon and its three buttons, which the window manager draws beside the title.
    constexpr int kFrameButtons = 140;
    return window.fontMetrics().horizontalAdvance(title) + kFrameButtons;
}

void SetMessageAnswerer(MessageAnswerer answerer) { messageAnswerer() = std::move(answerer); }
void SetBrowseAnswerer(BrowseAnswerer answerer) { browseAnswerer() = std::move(answerer); }
void SetSaveAnswerer(SaveAnswerer answerer) { saveAnswerer() = std::move(answerer); }
void SetOpenRecorder(OpenRecorder recorder) { openRecorder() = std::move(recorder); }
void SetTextAnswerer(TextAnswerer answerer) { textAnswerer() = std::move(answerer); }

void SetDialogsDismissed(bool dismissed) {
    dialogsDismissed() = dismissed;
    if (!dismissed) return;
    // Each one returns from its own exec as the event loops unwind.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
}

bool DialogsDismissed() { return dialogsDismissed(); }

void WithdrawMessageBox(const QString& text) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->text() == text) box->reject();
}

std::optional<QString> AskSecretText(QWidget* owner, const QString& caption, const QString& prompt) {
    if (dialogsDismissed()) return std::nullopt;
    if (textAnswerer()) return textAnswerer()(caption, prompt);
    QInputDialog box(owner);
    box.setObjectName("NorvexSecretBox");
    box.setWindowTitle(caption);
    box.setLabelText(prompt);
    box.setTextEchoMode(QLineEdit::Password);
    // The title says what is asked ("パスワードが違います" after a wrong password), and the box would
    // be only as wide as the entry name: wide enough for the whole title beside the frame's buttons.
    // (The box's layout sizes it from its contents: the field is made that wide.)
    if (auto* field = box.findChild<QLineEdit*>()) {
        const QMargins margins = box.layout() ? box.layout()->contentsMargins() : QMargins();
        field->setMinimumWidth(TitleWidth(box, caption) - margins.left() - margins.right());
    }
    if (box.exec() != QDialog::Accepted || box.textValue().isEmpty()) return std::nullopt;
    return box.textValue();
}

const BrowseAnswerer& detail::CurrentBrowseAnswerer() { return browseAnswerer(); }

int ShowMessageBox(QWidget* owner, const QString& text, const QString& caption, TMsgButtons buttons,
                   TMsgIcon icon) {
    if (dialogsDismissed()) return buttons == TMsgButtons::Ok ? mrOk : mrCancel;
    if (messageAnswerer()) return messageAnswerer()(TMessageRequest{caption, text, buttons, icon});

    QMessageBox box(qtIcon(icon), caption, text, QMessageBox::NoButton, owner);
    box.setObjectName("NorvexMessageBox");
    struct Choice {
        QString label;
        QMessageBox::ButtonRole role;
        int result;
    };
    std::vector<Choice> choices;
    switch (buttons) {
    case TMsgButtons::Ok: choices = {{"OK", QMessageBox::AcceptRole, mrOk}}; break;
    case TMsgButtons::YesNo:
        choices = {{"はい(&Y)", QMessageBox::YesRole, mrYes}, {"いいえ(&N)", QMessageBox::NoRole, mrNo}};
        break;
    case TMsgButtons::YesNoCancel:
        choices = {{"はい(&Y)", QMessageBox::YesRole, mrYes},
                   {"いいえ(&N)", QMessageBox::NoRole, mrNo},
                   {"キャンセル", QMessageBox::RejectRole, mrCancel}};
        break;
    case TMsgButtons::YesNoAllCancel:
        choices = {{"はい(&Y)", QMessageBox::YesRole, mrYes},
                   {"いいえ(&N)", QMessageBox::NoRole, mrNo},
                   {"全てはい(&A)", QMessageBox::YesRole, mrYesToAll},
                   {"全ていいえ(&O)", QMessageBox::NoRole, mrNoToAll},
                   {"キャンセル", QMessageBox::RejectRole, mrCancel}};
        break;
    }
    std::vector<QAbstractButton*> made;
    for (const Choice& c : choices) made.push_back(box.addButton(c.label, c.role));
    if (buttons != TMsgButtons::Ok) box.setEscapeButton(made.back());
    box.exec();
    for (size_t i = 0; i < made.size(); ++i)
        if (box.clickedButton() == made[i]) return choices[i].result;
    return buttons == TMsgButtons::Ok ? mrOk : mrCancel;
}

std::optional<QString> AskSaveFileName(QWidget* owner, const TSaveRequest& request) {
    if (dialogsDismissed()) return std::nullopt;
    if (saveAnswerer()) return saveAnswerer()(request);
    QString name = QFileDialog::getSaveFileName(owner, request.title, QString(), request.filter);
    if (name.isEmpty()) return std::nullopt;
    return name;
}

bool OpenInDesktop(const QString& what) {
    if (openRecorder()) return openRecorder()(what);
    return QProcess::startDetached("xdg-open", {what});
}

bool OpenInBrowser(const QString& url) {
    if (openRecorder()) return openRecorder()(url);
    return QDesktopServices::openUrl(QUrl(url));
}

}  // namespace norvex::ui
