// The options dialog "動作・オプション設定": the settings the main window does not show, and the shell
// entries (SendTo, program menu, context-menu verbs per archive type). It edits the SettingsBlock in
// memory; the ini file is written when the main window closes.
#pragma once
#include <QDialog>
#include <QWidget>
#include <array>

#include "settings/SettingsBlock.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QStackedWidget;
class QToolButton;

namespace norvex::ui {

// Up/down arrows for a number box. Like the system's up-down control with a buddy, a click starts from
// the number in the box when it holds one, moves one step within the range and writes the new position
// back into the box.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);
    void SetRange(int min, int max);
    void SetBuddy(QLineEdit* buddy) { buddy_ = buddy; }
    int Position() const { return position_; }
    void SetPosition(int position);
    void StepBy(int steps);

    QToolButton* btnUp = nullptr;
    QToolButton* btnDown = nullptr;

signals:
    void PositionChanged(int position);

private:
    int min_ = 0, max_ = 100, position_ = 0;
    QLineEdit* buddy_ = nullptr;
};

class TfrmOption : public QDialog {
    Q_OBJECT
public:
    // Edits settings (the process-wide record unless a test passes its own).
    explicit TfrmOption(QWidget* parent = nullptr, SettingsBlock& settings = Settings);

    // The association name under which the context-menu verbs are registered.
    const QString AssociationName;

    // The five tabs, in order; the dialog opens on the last one the first time.
    static constexpr int kPageCount = 5;
    int ActivePage() const;
    void SetActivePage(int index);

    // Fills every control from the settings and the shell (runs on each show).
    void FormShow();
    // "OK": applies in the fixed order, then closes.
    void btnOKClick();

    // Tabs
    QStackedWidget* pcOption = nullptr;
    QButtonGroup* bgTabs = nullptr;
    std::array<QPushButton*, kPageCount> tabButtons{};
    std::array<QWidget*, kPageCount> pages{};

    // "   解 凍   "
    std::array<QRadioButton*, 4> rbOverWrite{};
    QButtonGroup* bgOverWrite = nullptr;
    QCheckBox* chkIgnoreDirectory = nullptr;
    QCheckBox* chkIgnoredSingleBind = nullptr;
    QSlider* tbBuffSize = nullptr;
    QLabel* lblBuffSize = nullptr;
    QCheckBox* chkBuffAuto = nullptr;  // hidden

    // " 補助動作"
    QCheckBox* chkBindFolder = nullptr;
    QLineEdit* txtBindNum = nullptr;
    TUpDown* udBindNum = nullptr;
    QCheckBox* chkPreventOverlapping = nullptr;  // hidden
    QCheckBox* chkDelFolderNum = nullptr;
    QListWidget* lstSameFolderProc = nullptr;

    // " 通知 "
    QCheckBox* chkShowEndDlg = nullptr;
    QCheckBox* chkConfirmDelete = nullptr;
    QCheckBox* chkConfirmIgnore = nullptr;

    // "環境設定"
    QCheckBox* chkSendTo = nullptr;
    QCheckBox* chkProgramMenu = nullptr;
    QCheckBox* chkAssocZip = nullptr;
    QCheckBox* chkAssocRar = nullptr;
    QCheckBox* chkAssocLzh = nullptr;
    QCheckBox* chkAssocCab = nullptr;
    QCheckBox* chkAssocTar = nullptr;  // hidden
    QCheckBox* chkAssocGca = nullptr;  // hidden
    QCheckBox* chkConfirmSendTo = nullptr;

    // " その他 "
    QCheckBox* chkAlertAbsExpand = nullptr;
    QCheckBox* chkCheckDangerPath = nullptr;
    QCheckBox* chkCheckDiv = nullptr;
    QCheckBox* chkExtraFormats = nullptr;  // 7z and the tar family

    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* BuildExtractPage();
    QWidget* BuildAuxiliaryPage();
    QWidget* BuildNotifyPage();
    QWidget* BuildEnvironmentPage();
    QWidget* BuildOtherPage();
    QGroupBox* Group(QWidget* parent, const char* name, const QString& caption);
    QCheckBox* Check(QWidget* parent, const char* name, const QString& caption);
    QLabel* Label(QWidget* parent, const char* name, const QString& caption);
    void PlaceBindNumBox();
    void ShowBuffSize(int megabytes);

    SettingsBlock& settings_;
};

}  // namespace norvex::ui
