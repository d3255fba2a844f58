// The version dialog: the program's icon, its name and the version it was built as.
#pragma once
#include <QDialog>

class QLabel;

namespace norvex::ui {

class TfrmVersion : public QDialog {
    Q_OBJECT
public:
    explicit TfrmVersion(QWidget* parent = nullptr);
    // The version string of this build ("0.1.0").
    static QString FileVersion();
    // The program's own icon.
    static QIcon ProgramIcon();

    QLabel* lblVersion = nullptr;
    QLabel* imgLogo = nullptr;
};

// Makes the files built into the program (its icon, the help page) available. They live in a static
// library, whose resources are linked in only when their initialiser is called; safe to call often.
void EnsureBuiltInResources();

}  // namespace norvex::ui
