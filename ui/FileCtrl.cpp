// The folder-browse dialog, special folders and bringing a window forward.
#include "ui/FileCtrl.h"

#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "platform/StandardFolders.h"
#include "ui/DialogHooks.h"
#include "ui/QtAnsi.h"

namespace norvex::ui {

TDialogPlace PlaceDialog(int left, int top, int w, int h, int sw, int sh) {
    if (left == 0 || top == 0) return {std::max(0, (sw - w) / 2), std::max(0, (sh - h) / 2)};
    // Right and bottom edges first, then the left and top edges win for a dialog larger than the screen.
    return {std::max(0, std::min(left, sw - w)), std::max(0, std::min(top, sh - h))};
}

bool TFileCtrl::BrowseForFolder(QWidget* owner, const QString& prompt, const QString& initialFolder,
                                int left, int top, QString& chosen) {
    chosen.clear();
    if (const auto& answerer = detail::CurrentBrowseAnswerer()) {
        auto answer = answerer(TBrowseRequest{prompt, initialFolder.size() > 1 ? initialFolder : QString(),
                                              left, top});
        if (!answer) return false;
        chosen = *answer;
        return true;
    }

    // Application-modal: every other window of the program is disabled while it is open. The
    // desktop's own folder dialog is used where the platform offers one (a portal or a platform
    // theme); elsewhere Qt's dialog, in Japanese, with the prompt over the folder list.
    QFileDialog dialog(owner, prompt);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setLabelText(QFileDialog::LookIn, prompt);
    if (initialFolder.size() > 1) dialog.setDirectory(initialFolder);
    // The selected folder's path shows in the dialog's own name field, which serves as its status line.
    dialog.adjustSize();
    QScreen* screen = owner && owner->screen() ? owner->screen() : QApplication::primaryScreen();
    if (screen) {
        QRect avail = screen->geometry();
        TDialogPlace place = PlaceDialog(left, top, dialog.width(), dialog.height(), avail.width(), avail.height());
        dialog.move(avail.x() + place.x, avail.y() + place.y);
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    chosen = files.first();
    return true;
}

QString SpecialFolderPath(const QString& name) {
    if (name == "desktop") return ToQ(DesktopFolder());
    if (name == "mydocument") return ToQ(DocumentsFolder());
    return QString();
}

void BringToFront(QWidget* window) {
    if (!window) return;
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
}

}  // namespace norvex::ui
