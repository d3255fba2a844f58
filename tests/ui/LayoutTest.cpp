// Every window at its default size shows its texts whole (captions, group titles, combo box items,
// list headings), with the desktop's default font and again with a 12 pt font.
#include <QApplication>
#include <QInputDialog>
#include <QAbstractScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QTest>
#include <memory>

#include "settings/SettingsBlock.h"
#include "tests/shell/ScopedHome.h"
#include "tests/support/TempDir.h"
#include "tests/ui/ClippedText.h"
#include "ui/AppSetup.h"
#include "ui/DialogHooks.h"
#include "ui/UArcView.h"
#include "ui/UForm.h"
#include "ui/UfrmOption.h"
#include "ui/Uversion.h"
#include "ui/ufrmSearch.h"

using namespace norvex;
using namespace norvex::ui;
using norvex::test::ClippedTexts;

class LayoutTest : public QObject {
    Q_OBJECT

    QFont defaultFont;

    // Shows window at its own default size and lists what it cuts short.
    static QStringList Shown(QWidget& window, const QSet<QString>& userText = {}) {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) return {"window not shown"};
        QTest::qWait(20);
        return ClippedTexts(&window, userText);
    }

private slots:
    void initTestCase() { defaultFont = QApplication::font(); }

    void init() {
        Settings = SettingsBlock{};
        SetMessageAnswerer([](const TMessageRequest&) { return int(mrOk); });
    }

    void cleanup() {
        SetMessageAnswerer(nullptr);
        QApplication::setFont(defaultFont);
    }

    void windows_data() {
        QTest::addColumn<int>("pointSize");
        QTest::newRow("default font") << 0;
        QTest::newRow("12 pt") << 12;
    }

    void windows() {
        QFETCH(int, pointSize);
        if (pointSize > 0) {
            QFont font = defaultFont;
            font.setPointSize(pointSize);
            QApplication::setFont(font);
        }
        norvex::test::TempDir tmp;
        norvex::test::ScopedHome home;

        TMainWindowOptions options;
        options.iniPath = QString::fromStdString(tmp / "Norvex.ini");
        TfrmMain main(options);
        // The folder combos hold the user's own paths.
        QStringList clipped = Shown(main, {"cmbSpecialFolder", "cmbMoveFolder"});

        TfrmArcView preview;
        clipped += Shown(preview);

        TfrmSearch search;
        clipped += Shown(search);

        TfrmOption dialog(nullptr, Settings);
        dialog.show();
        for (int page = 0; page < TfrmOption::kPageCount; ++page) {
            dialog.SetActivePage(page);
            clipped += Shown(dialog);
        }

        TfrmVersion version;
        clipped += Shown(version);

        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("\n")));
    }

    // Made as small as it goes, each window still shows its captions whole, its status line and a few
    // rows of each list and of the log (a heading may scroll out of a narrow list: the list scrolls).
    void smallestWindows() {
        norvex::test::TempDir tmp;
        norvex::test::ScopedHome home;
        const auto smallest = [](QWidget& window, QStatusBar* status, const QString& message) {
            window.show();
            if (!QTest::qWaitForWindowExposed(&window)) return QStringList{"window not shown"};
            if (status) status->showMessage(message);
            window.resize(1, 1);
            QTest::qWait(20);
            QStringList out;
            for (const QString& clipped : ClippedTexts(&window, {"cmbSpecialFolder", "cmbMoveFolder"}))
                if (!clipped.contains(" column ")) out << clipped;
            const int row = window.fontMetrics().height();
            for (QAbstractScrollArea* area : window.findChildren<QAbstractScrollArea*>())
                if (!area->objectName().isEmpty() && area->isVisibleTo(&window) &&
                    area->viewport()->height() < 3 * row)
                    out << QString("%1: %2 px high, rows %3 px").arg(area->objectName()).arg(area->viewport()->height()).arg(row);
            if (status && status->fontMetrics().horizontalAdvance(message) > status->width())
                out << QString("status \"%1\": %2 px").arg(message).arg(status->width());
            return out;
        };
        TMainWindowOptions options;
        options.iniPath = QString::fromStdString(tmp / "Norvex.ini");
        TfrmMain main(options);
        QStringList clipped = smallest(main, nullptr, {});
        TfrmArcView preview;
        clipped += smallest(preview, preview.StatusBar1, "ファイル 1234 個、フォルダ 56 個");
        TfrmSearch search;
        clipped += smallest(search, search.StatusBar1, "123 個の書庫を検索しました");
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join("\n")));
    }

    // The password box is as wide as its title needs beside the frame's buttons, also for the longer
    // title after a wrong password: a box as narrow as a short entry name had it cut short.
    void passwordBoxShowsItsWholeTitle() {
        for (const QString& caption : {QString("パスワード入力"), QString("パスワードが違います")}) {
            int width = 0, title = 0;
            QTimer::singleShot(0, [&] {
                if (auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                    width = box->width();
                    title = box->fontMetrics().horizontalAdvance(caption);
                    box->reject();
                }
            });
            QVERIFY(!AskSecretText(nullptr, caption, "a.txt"));
            QVERIFY2(title > 0 && width >= title + 100, qPrintable(QString("%1 < %2 + 100").arg(width).arg(title)));
        }
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    PrepareApplication(app);
    LayoutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "LayoutTest.moc"
