// Takes the picture of the main window in the middle of a run: norvex_screenshot OUTPUT.png
// Run it on an X server (xvfb-run). It lists three archives with Japanese names, starts the run and
// photographs the window while the first archive is half extracted (at its overwrite question).
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "platform/StandardFolders.h"
#include "settings/SettingsBlock.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/AppSetup.h"
#include "ui/DialogHooks.h"
#include "ui/UForm.h"

using namespace norvex;
using namespace norvex::ui;

namespace {

QString MakeZip(const QString& dir, const QString& name, const QStringList& files, int size) {
    const QString src = dir + "/src-" + name;
    QDir().mkpath(src);
    std::vector<std::string> argv{"zip", "-q", "-0", (dir + "/" + name).toStdString()};
    for (const QString& f : files) {
        std::string body;
        for (int i = 0; i < size; ++i) body += char('a' + (i * 7 + f.size()) % 26);
        norvex::test::WriteFile((src + "/" + f).toStdString(), body);
        argv.push_back(f.toStdString());
    }
    norvex::test::RunTool(argv, src.toStdString());
    return dir + "/" + name;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    PrepareApplication(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: norvex_screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    norvex::test::TempDir tmp;
    const QString d = QString::fromStdString(tmp.path());
    QDir().mkpath(d + "/ダウンロード");
    const QString dl = d + "/ダウンロード";

    QStringList photos;
    for (int i = 1; i <= 10; ++i) photos << QString("旅行写真2005/写真_%1.jpg").arg(i, 2, 10, QChar('0'));
    const QString first = MakeZip(dl, "旅行写真2005.zip", photos, 300000);
    const QString second = MakeZip(dl, "議事録_第3回.zip", {"議事録.txt", "資料.txt"}, 1000);
    const QString third = MakeZip(dl, "ソフト表示テスト.zip", {"説明書.txt"}, 1000);
    // The archive holds one folder, which exists already with one of the photos: the run stops at
    // that photo's overwrite question, in the middle of the archive.
    norvex::test::WriteFile((dl + "/旅行写真2005/写真_07.jpg").toStdString(), "old");

    TMainWindowOptions options;
    options.iniPath = d + "/Norvex.ini";
    TfrmMain w(options);
    w.DropFiles({first, second, third});
    Settings.PutLocation = TPutLocation::BesideArchive;
    Settings.AfterMethod = TAfterMethod::Trash;
    w.cmbAfterMethod->setCurrentIndex(2);
    w.show();
    w.resize(640, 720);
    w.move(20, 20);

    bool shot = false;
    SetMessageAnswerer([&](const TMessageRequest& r) {
        if (r.caption == "上書き確認" && !shot) {
            for (int i = 0; i < 20; ++i) QApplication::processEvents();
            QPixmap picture;
            if (QScreen* screen = w.screen()) picture = screen->grabWindow(0, w.x(), w.y(), w.width(), w.height());
            if (picture.isNull()) picture = w.grab();
            shot = picture.save(output);
            std::fprintf(stderr, "screenshot %s: %s\n", shot ? "saved" : "FAILED", qPrintable(output));
            return int(mrNo);
        }
        return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes);
    });
    QObject::connect(&w, &TfrmMain::RunFinished, &app, [&] { QTimer::singleShot(200, &app, &QCoreApplication::quit); });
    QTimer::singleShot(300, &w, [&] { w.btnUnPack->click(); });
    app.exec();
    SetMessageAnswerer(nullptr);
    return shot ? 0 : 1;
}
