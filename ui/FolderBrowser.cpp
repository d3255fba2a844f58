// A lazily filled tree of folders over readdir: each row keeps its path's bytes.
#include "ui/FolderBrowser.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "platform/AnsiCodec.h"
#include "ui/DialogHooks.h"
#include "ui/FileCtrl.h"
#include "ui/HostPaths.h"

namespace norvex::ui {
namespace {

constexpr int kHostPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The sub-folders of folder, hidden ones left out, in the order of their readable names.
std::vector<std::string> SubFolders(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.empty() || name[0] == '.') continue;
            if (IsFolder(Join(folder, name))) names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return HostBytesToDisplay(a).localeAwareCompare(HostBytesToDisplay(b)) < 0;
    });
    return names;
}

QTreeWidgetItem* MakeRow(const std::string& path, const QString& text) {
    auto* row = new QTreeWidgetItem(QStringList{text});
    row->setData(0, kHostPathRole, QByteArray::fromStdString(path));
    row->setIcon(0, QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    row->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return row;
}

std::string PathOf(const QTreeWidgetItem* row) { return row->data(0, kHostPathRole).toByteArray().toStdString(); }

}  // namespace

TFolderBrowser::TFolderBrowser(QWidget* owner, const QString& prompt, const std::string& initial)
    : QDialog(owner) {
    setObjectName("frmFolderBrowser");
    setWindowTitle(prompt);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(prompt, this);
    layout->addWidget(label);
    tvFolders = new QTreeWidget(this);
    tvFolders->setObjectName("tvFolders");
    tvFolders->setHeaderHidden(true);
    tvFolders->setColumnCount(1);
    layout->addWidget(tvFolders, 1);
    txtPath = new QLineEdit(this);
    txtPath->setObjectName("txtPath");
    txtPath->setReadOnly(true);
    layout->addWidget(txtPath);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    buttons->addButton("キャンセル", QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tvFolders, &QTreeWidget::itemExpanded, this, &TFolderBrowser::Fill);
    connect(tvFolders, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
        txtPath->setText(row ? HostBytesToShown(PathOf(row)) : QString());
        for (QAbstractButton* b : findChild<QDialogButtonBox*>()->buttons())
            if (findChild<QDialogButtonBox*>()->buttonRole(b) == QDialogButtonBox::AcceptRole) b->setEnabled(row);
    });
    tvFolders->addTopLevelItem(MakeRow("/", "/"));
    resize(420, 460);
    if (!SelectPath(initial)) SelectPath(QDir::homePath().toStdString());
}

void TFolderBrowser::Fill(QTreeWidgetItem* item) {
    if (item->data(0, kFilledRole).toBool()) return;
    item->setData(0, kFilledRole, true);
    const std::string folder = PathOf(item);
    for (const std::string& name : SubFolders(folder)) item->addChild(MakeRow(Join(folder, name), HostBytesToShown(name)));
    if (item->childCount() == 0) item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

bool TFolderBrowser::SelectPath(const std::string& path) {
    if (path.empty() || path[0] != '/' || !IsFolder(path)) return false;
    QTreeWidgetItem* row = tvFolders->topLevelItem(0);
    std::size_t at = 1;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(at, end - at);
        at = end + 1;
        if (name.empty()) continue;
        Fill(row);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < row->childCount() && !next; ++i)
            if (PathOf(row->child(i)) == Join(PathOf(row), name)) next = row->child(i);
        if (!next) {  // a hidden folder on the way: it is shown as well
            next = MakeRow(Join(PathOf(row), name), HostBytesToShown(name));
            row->addChild(next);
        }
        row->setExpanded(true);
        row = next;
    }
    tvFolders->setCurrentItem(row);
    tvFolders->scrollToItem(row);
    return true;
}

std::string TFolderBrowser::SelectedPath() const {
    const QTreeWidgetItem* row = tvFolders->currentItem();
    return row ? PathOf(row) : std::string();
}

bool BrowseForHostFolder(QWidget* owner, const QString& prompt, const AnsiString& initial, int left, int top,
                         AnsiString& chosen) {
    chosen.clear();
    const std::string host = FromAnsi(initial);
    if (const auto& answerer = detail::CurrentBrowseAnswerer()) {
        auto answer = answerer(TBrowseRequest{prompt, IsFolder(host) ? HostBytesToDisplay(host) : QString(), left, top});
        if (!answer) return false;
        chosen = ChosenPath(*answer);
        return true;
    }
    TFolderBrowser dialog(owner, prompt, host);
    dialog.setWindowModality(Qt::ApplicationModal);
    QScreen* screen = owner && owner->screen() ? owner->screen() : QApplication::primaryScreen();
    if (screen) {
        const QRect area = screen->geometry();
        const TDialogPlace place = PlaceDialog(left, top, dialog.width(), dialog.height(), area.width(), area.height());
        dialog.move(area.x() + place.x, area.y() + place.y);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.SelectedPath().empty()) return false;
    AnsiString path;
    TryToAnsi(dialog.SelectedPath(), path);
    chosen = path;
    return true;
}

}  // namespace norvex::ui
