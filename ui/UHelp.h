// TfrmHelp: the help window. It shows the help page that comes with the program in a text browser of
// its own, so that help opens on a machine without a web browser.
#pragma once
#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace norvex::ui {

class TfrmHelp : public QWidget {
    Q_OBJECT
public:
    explicit TfrmHelp(QWidget* parent = nullptr);

    // Loads page (a local HTML file or a resource path); false, with the reason in error, when it
    // cannot be shown. The window keeps the page it showed before a failed load.
    bool Open(const QString& page, QString* error = nullptr);

    QTextBrowser* txtHelp = nullptr;
};

// The copy of the help page compiled into the program.
QString BuiltInHelpPage();

// Shows owner's help window (made on first use, then reused) on the first of pages that can be shown.
// When none can, a box owned by owner says why. Returns whether the help is on screen.
bool ShowHelp(QWidget* owner, const QStringList& pages);

}  // namespace norvex::ui
