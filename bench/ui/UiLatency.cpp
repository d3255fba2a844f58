// How long the main window takes to answer while a run extracts: a timer asks every 5 ms, and the
// longest wait between two of its ticks is what a user would feel as the window hanging.
// Usage: norvex_ui_latency ARCHIVE (extracted beside itself; the caller clears the result).
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "settings/SettingsBlock.h"
#include "tests/support/TempDir.h"
#include "ui/DialogHooks.h"
#include "ui/UForm.h"

using namespace norvex;
using namespace norvex::ui;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: norvex_ui_latency ARCHIVE\n");
        return 2;
    }
    norvex::test::TempDir tmp;
    TMainWindowOptions options;
    options.iniPath = QString::fromStdString(tmp.path()) + "/Norvex.ini";
    TfrmMain w(options);
    SetMessageAnswerer([](const TMessageRequest& r) { return r.buttons == TMsgButtons::Ok ? int(mrOk) : int(mrYes); });
    w.DropFiles({QString::fromLocal8Bit(argv[1])});
    w.show();

    std::vector<qint64> gaps;
    QElapsedTimer clock, run;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (Settings.RunActive) gaps.push_back(clock.restart());
    });
    QObject::connect(&w, &TfrmMain::RunFinished, &app, [&] {
        const qint64 total = run.elapsed();
        ticker.stop();
        std::sort(gaps.begin(), gaps.end());
        const auto at = [&](double q) { return gaps.empty() ? 0 : gaps[std::min(gaps.size() - 1, size_t(q * gaps.size()))]; };
        std::printf("window answering during a %lld ms run: %zu ticks, median %lld ms, 99%% %lld ms, longest %lld ms\n",
                    (long long)total, gaps.size(), (long long)at(0.5), (long long)at(0.99),
                    (long long)(gaps.empty() ? 0 : gaps.back()));
        app.quit();
    });
    QTimer::singleShot(100, &w, [&] {
        clock.start();
        run.start();
        ticker.start();
        w.btnUnPack->click();
    });
    return app.exec();
}
