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

}  // namespace norvex::ui
