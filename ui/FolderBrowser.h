// The folder browser of the "..." buttons. Qt's own file dialog cannot show a folder whose name is
// not UTF-8 (cp932 bytes from a Windows disk), let alone return it; this one lists the folders by
// their bytes, shows their names readably and hands the chosen path back byte for byte.
#pragma once
#include <QDialog>
#include <string>

#include "platform/AnsiString.h"

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace norvex::ui {

class TFolderBrowser : public QDialog {
    Q_OBJECT
public:
    // Opens at initial (a host path; the home folder when it does not name a folder).
    TFolderBrowser(QWidget* owner, const QString& prompt, const std::string& initial);

    // The selected folder as host bytes ("" when none).
    std::string SelectedPath() const;
    // Selects path, expanding the folders on the way; false when it is not a folder.
    bool SelectPath(const std::string& path);

    QTreeWidget* tvFolders = nullptr;
    QLineEdit* txtPath = nullptr;

private:
    void Fill(QTreeWidgetItem* item);
};

// The "..." buttons: a folder chosen by the user, as the core's text, or false when none was chosen.
// The dialog's top-left corner goes to (left, top), kept on the screen. Tests answer through the
// browse hook of ui/DialogHooks.h, whose answer is read as Qt would show the path.
bool BrowseForHostFolder(QWidget* owner, const QString& prompt, const AnsiString& initial, int left, int top,
                         AnsiString& chosen);

}  // namespace norvex::ui
