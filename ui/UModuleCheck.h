// The module check: which archiver modules are installed, where each was looked for and whether it
// loads and exports its command function. Offered from the File menu in place of an installer.
#pragma once
#include <QDialog>
#include <QString>
#include <vector>

class QTableWidget;

namespace norvex::ui {

struct TModuleStatus {
    QString format;    // "LHA"
    QString dllName;   // "UNLHA32.DLL"
    QString prefix;    // "Unlha"
    QString path;      // the module file looked for
    enum Kind { Ok, Missing, NotLoadable, NoEntry } kind = Missing;
    QString StatusText() const;
};

// Checks every module of the family, in the order of the list the dialog shows.
std::vector<TModuleStatus> CheckModules();

class TfrmModuleCheck : public QDialog {
    Q_OBJECT
public:
    explicit TfrmModuleCheck(QWidget* parent = nullptr);
    // Checks again and fills the table.
    void Refresh();

    QTableWidget* lvModules = nullptr;
};

}  // namespace norvex::ui
