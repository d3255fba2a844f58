// The options dialog: every control fills from and writes back to the settings, "キャンセル" changes
// nothing, the enabling rules, and the shell entries that "OK" creates and removes in a temporary home.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "platform/ShellRegistration.h"
#include "tests/shell/ScopedHome.h"
#include "ui/AppSetup.h"
#include "ui/UfrmOption.h"

using norvex::SettingsBlock;
using norvex::ui::TfrmOption;

namespace {

struct BoolControl {
    const char* objectName;
    bool SettingsBlock::*setting;
};

// Every check box that edits a boolean setting.
const BoolControl kBoolControls[] = {
    {"chkCheckDangerPath", &SettingsBlock::CheckDangerPath},
    {"chkShowEndDlg", &SettingsBlock::ShowEndDlg},
    {"chkBindFolder", &SettingsBlock::BindFolder},
    {"chkConfirmSendTo", &SettingsBlock::ConfirmSendTo},
    {"chkConfirmDelete", &SettingsBlock::ConfirmDelete},
    {"chkCheckDiv", &SettingsBlock::CheckDiv},
    {"chkIgnoreDirectory", &SettingsBlock::IgnoreDirectory},
    {"chkDelFolderNum", &SettingsBlock::DelFolderNum},
    {"chkIgnoredSingleBind", &SettingsBlock::IgnoredSingleBind},
    {"chkAlertAbsExpand", &SettingsBlock::AlertAbsExpand},
    {"chkConfirmIgnore", &SettingsBlock::ConfirmIgnore},
    {"chkPreventOverlapping", &SettingsBlock::PreventOverlapping},
};

// The stored settings the dialog may touch, for comparing a whole record.
bool SameEdits(const SettingsBlock& a, const SettingsBlock& b) {
    for (const auto& c : kBoolControls)
        if (a.*c.setting != b.*c.setting) return false;
    return a.OverWrite == b.OverWrite && a.BuffMegaSize == b.BuffMegaSize && a.BindNum == b.BindNum &&
           a.SameFolderProc == b.SameFolderProc && a.ResistSendTo == b.ResistSendTo &&
           a.ProgramMenuCreated == b.ProgramMenuCreated && a.AssocZip == b.AssocZip && a.AssocRar == b.AssocRar &&
           a.AssocLzh == b.AssocLzh && a.AssocCab == b.AssocCab && a.FileSpec == b.FileSpec;
}

}  // namespace

class OptionsDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<norvex::test::ScopedHome> home;
    SettingsBlock settings;
    std::unique_ptr<TfrmOption> dlg;

    template <class T>
    T* Find(const char* name) {
        T* w = dlg->findChild<T*>(name);
        if (!w) qFatal("no control %s", name);
        return w;
    }
    // Shows the dialog (which fills it) as the main window would, without running a modal loop.
    void Show() {
        dlg->hide();
        dlg->show();
    }
    void Ok() { dlg->btnOK->click(); }

private slots:
    // The dialog as the program shows it: its style and Qt's Japanese texts.
    void initTestCase() { norvex::ui::PrepareApplication(*qApp); }

    void init() {
        home = std::make_unique<norvex::test::ScopedHome>();
        settings = SettingsBlock{};
        dlg = std::make_unique<TfrmOption>(nullptr, settings);
    }
    void cleanup() {
        dlg.reset();
        home.reset();
    }

    void everyBoxFillsFromAndWritesToItsSetting() {
        for (const auto& c : kBoolControls) {
            for (bool value : {true, false}) {
                settings.*c.setting = value;
                Show();
                auto* box = Find<QCheckBox>(c.objectName);
                QVERIFY2(box->isChecked() == value, c.objectName);
                box->setChecked(!value);
                Ok();
                QVERIFY2(settings.*c.setting == !value, c.objectName);
                QVERIFY(!dlg->isVisible());
            }
        }
    }

    void overwriteRadioButtons() {
        for (int v = 0; v < 4; ++v) {
            settings.OverWrite = static_cast<norvex::TOverWrite>(v);
            Show();
            for (int r = 0; r < 4; ++r)
                QCOMPARE(Find<QRadioButton>(qPrintable(QStringLiteral("rbOverWrite%1").arg(r)))->isChecked(), r == v);
        }
        Find<QRadioButton>("rbOverWrite1")->click();
        Ok();
        QCOMPARE(settings.OverWrite, norvex::TOverWrite::Overwrite);

        // A stored value outside 0-3 checks none and survives "OK".
        settings.OverWrite = static_cast<norvex::TOverWrite>(7);
        Show();
        for (auto* rb : dlg->rbOverWrite) QVERIFY(!rb->isChecked());
        Ok();
        QCOMPARE(static_cast<int>(settings.OverWrite), 7);
    }

    void bufferTrackBarAndItsLabel() {
        settings.BuffMegaSize = 35;
        Show();
        auto* bar = Find<QSlider>("tbBuffSize");
        auto* label = Find<QLabel>("lblBuffSize");
        QCOMPARE(bar->value(), 35);
        QCOMPARE(label->text(), QStringLiteral("35MB"));
        QCOMPARE(bar->minimum(), 5);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->tickInterval(), 10);
        bar->setValue(60);
        QCOMPARE(label->text(), QStringLiteral("60MB"));
        Ok();
        QCOMPARE(settings.BuffMegaSize, 60);
    }

    void sameFolderList() {
        for (int v : {1, 0}) {
            settings.SameFolderProc = static_cast<norvex::TSameFolderProc>(v);
            Show();
            auto* list = Find<QListWidget>("lstSameFolderProc");
            QCOMPARE(list->currentRow(), v);
            list->setCurrentRow(1 - v);
            Ok();
            QCOMPARE(static_cast<int>(settings.SameFolderProc), 1 - v);
        }
    }

    void bindNumberBoxAndArrows() {
        settings.BindNum = 7;
        Show();
        auto* box = Find<QLineEdit>("txtBindNum");
        auto* up = dlg->udBindNum->btnUp;
        QCOMPARE(box->text(), QStringLiteral("7"));
        up->click();
        QCOMPARE(box->text(), QStringLiteral("8"));
        // The arrows start from what was typed, and stop at their range.
        box->setText("99");
        up->click();
        up->click();
        QCOMPARE(box->text(), QStringLiteral("100"));
        box->setText("0");
        dlg->udBindNum->btnDown->click();
        QCOMPARE(box->text(), QStringLiteral("0"));
        box->setText("13");
        Ok();
        QCOMPARE(settings.BindNum, 13);

        // Text that is not a number keeps the previous value.
        Show();
        box->setText("abc");
        Ok();
        QCOMPARE(settings.BindNum, 13);
    }

    void enablingRules() {
        settings.IgnoreDirectory = false;
        settings.ConfirmSendTo = true;
        Show();
        QVERIFY(!dlg->chkIgnoredSingleBind->isEnabled());
        dlg->chkIgnoreDirectory->setChecked(true);
        QVERIFY(dlg->chkIgnoredSingleBind->isEnabled());

        // No SendTo entry yet: the question box is disabled, and follows the SendTo box at once.
        QVERIFY(!dlg->chkSendTo->isChecked());
        QVERIFY(!dlg->chkConfirmSendTo->isEnabled());
        dlg->chkSendTo->setChecked(true);
        QVERIFY(dlg->chkConfirmSendTo->isEnabled());
        dlg->chkSendTo->setChecked(false);
        QVERIFY(!dlg->chkConfirmSendTo->isEnabled());
        // Its checked state is still saved.
        dlg->chkConfirmSendTo->setChecked(false);
        Ok();
        QVERIFY(!settings.ConfirmSendTo);
    }

    void cancelChangesNothing() {
        settings.BindNum = 4;
        settings.BuffMegaSize = 20;
        settings.FileSpec = "*.jpg";
        const SettingsBlock before = settings;
        const auto files = home->Snapshot();
        Show();
        for (const auto& c : kBoolControls) Find<QCheckBox>(c.objectName)->toggle();
        dlg->rbOverWrite[3]->click();
        dlg->tbBuffSize->setValue(90);
        dlg->txtBindNum->setText("9");
        dlg->lstSameFolderProc->setCurrentRow(1);
        for (QCheckBox* c : {dlg->chkSendTo, dlg->chkProgramMenu, dlg->chkAssocZip, dlg->chkAssocRar,
                             dlg->chkAssocLzh, dlg->chkAssocCab})
            c->setChecked(true);
        dlg->btnCancel->click();
        QVERIFY(!dlg->isVisible());
        QVERIFY(SameEdits(settings, before));
        QVERIFY(home->Snapshot() == files);

        // The next show forgets the cancelled edit.
        Show();
        QVERIFY(!dlg->chkSendTo->isChecked());
        QCOMPARE(dlg->tbBuffSize->value(), 20);
        QCOMPARE(dlg->txtBindNum->text(), QStringLiteral("4"));
    }

    void okCreatesAndRemovesTheShellEntries() {
        Show();
        QVERIFY(!dlg->chkProgramMenu->isChecked());
        dlg->chkSendTo->setChecked(true);
        dlg->chkProgramMenu->setChecked(true);
        dlg->chkAssocZip->setChecked(true);
        dlg->chkAssocLzh->setChecked(true);
        Ok();
        QVERIFY(norvex::SendToLinkExists());
        QVERIFY(settings.ResistSendTo);
        QVERIFY(norvex::ProgramMenuLinkExists());
        QVERIFY(settings.ProgramMenuCreated);
        QVERIFY(norvex::VerbsRegistered("zip"));
        QVERIFY(norvex::VerbsRegistered("lzh"));
        QVERIFY(!norvex::VerbsRegistered("rar"));
        QVERIFY(settings.AssocZip && settings.AssocLzh && !settings.AssocRar && !settings.AssocCab);

        // The next show reads the entries back from the desktop's files.
        Show();
        QVERIFY(dlg->chkSendTo->isChecked());
        QVERIFY(dlg->chkProgramMenu->isChecked());
        QVERIFY(dlg->chkAssocZip->isChecked());
        QVERIFY(dlg->chkAssocLzh->isChecked());
        QVERIFY(!dlg->chkAssocCab->isChecked());

        dlg->chkSendTo->setChecked(false);
        dlg->chkProgramMenu->setChecked(false);
        dlg->chkAssocLzh->setChecked(false);
        Ok();
        QVERIFY(!norvex::SendToLinkExists());
        QVERIFY(!settings.ResistSendTo);
        QVERIFY(!norvex::ProgramMenuLinkExists());
        QVERIFY(!settings.ProgramMenuCreated);
        QVERIFY(!norvex::VerbsRegistered("lzh"));
        QCOMPARE(norvex::RegisteredVerbTypes(), std::vector<std::string>{"application/zip"});
    }

    void existingSendToFileKeepsTheFlag() {
        norvex::test::WriteFile(home->data("applications/NorvexSendTo.desktop"), "someone else's\n");
        settings.ResistSendTo = false;
        Show();
        QVERIFY(dlg->chkSendTo->isChecked());
        Ok();
        QVERIFY(!settings.ResistSendTo);  // nothing was created
        QCOMPARE(norvex::test::ReadFile(home->data("applications/NorvexSendTo.desktop")), std::string("someone else's\n"));
    }

    void opensOnTheLastTabFirstAndThenKeepsTheChoice() {
        Show();
        QCOMPARE(dlg->ActivePage(), TfrmOption::kPageCount - 1);
        QVERIFY(dlg->tabButtons[4]->isChecked());
        dlg->tabButtons[1]->click();
        QCOMPARE(dlg->ActivePage(), 1);
        dlg->btnCancel->click();
        Show();
        QCOMPARE(dlg->ActivePage(), 1);
        // Hidden controls stay hidden on their page.
        dlg->SetActivePage(0);
        QVERIFY(!dlg->chkBuffAuto->isVisible());
        dlg->SetActivePage(3);
        QVERIFY(!dlg->chkAssocTar->isVisible() && !dlg->chkAssocGca->isVisible());
        QVERIFY(dlg->chkAssocZip->isVisible());
    }

    // With NORVEX_OPTIONS_SCREENSHOTS set to a folder, saves each tab as options-<n>.png there.
    void screenshots() {
        const QString folder = qEnvironmentVariable("NORVEX_OPTIONS_SCREENSHOTS");
        if (folder.isEmpty()) QSKIP("NORVEX_OPTIONS_SCREENSHOTS is not set");
        settings.IgnoreDirectory = true;
        Show();
        QDir().mkpath(folder);
        static const char* const kNames[] = {"extract", "auxiliary", "notify", "environment", "other"};
        for (int i = 0; i < TfrmOption::kPageCount; ++i) {
            dlg->SetActivePage(i);
            QTest::qWait(50);
            QVERIFY(dlg->grab().save(folder + QStringLiteral("/options-%1-%2.png").arg(i + 1).arg(kNames[i])));
        }
    }
};

QTEST_MAIN(OptionsDialogTest)
#include "OptionsDialogTest.moc"
