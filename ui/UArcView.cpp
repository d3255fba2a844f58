// The preview window: the top level of one archive, listed with the same archive object the
// extraction uses.
#include "ui/UArcView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QShortcut>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "settings/SettingsBlock.h"
#include "ui/ArchiveSearch.h"
#include "ui/DialogHooks.h"
#include "ui/HostPaths.h"
#include "ui/QtAnsi.h"

namespace norvex::ui {

namespace {

// Grid lines between the cells. A style sheet on the items also takes over their selection colours,
// so those are given here too (else a selected row of an inactive window loses its text).
constexpr const char* kGridLines =
    "QTreeWidget::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
    "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }";

constexpr int kTreeWidth = 105;
constexpr int kColumnWidths[] = {200, 80, 85};

// The key of a folder in the tree: its names joined by "/", so "a\\b/" and "a/b/" are one folder.
QByteArray FolderKey(const std::vector<AnsiString>& parts, std::size_t count) {
    QByteArray key;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) key += '/';
        key += QByteArray::fromStdString(parts[i]);
    }
    return key;
}

}  // namespace

TfrmArcView::TfrmArcView(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmArcView");
    setWindowTitle("書庫プレビュー");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::StyledPanel);
    auto* top = new QHBoxLayout(Panel1);
    top->setContentsMargins(2, 2, 2, 2);
    memoBasicInfo = new QLineEdit(Panel1);
    memoBasicInfo->setObjectName("memoBasicInfo");
    memoBasicInfo->setReadOnly(true);
    top->addWidget(memoBasicInfo);
    layout->addWidget(Panel1);

    auto* split = new QSplitter(Qt::Horizontal, this);
    tvFolder = new QTreeWidget(split);
    tvFolder->setObjectName("tvFolder");
    tvFolder->setHeaderHidden(true);
    tvFolder->setColumnCount(1);
    tvFolder->setIconSize(QSize(TFilerIconCache::SmallSize, TFilerIconCache::SmallSize));

    lvArc = new QTreeWidget(split);
    lvArc->setObjectName("lvArc");
    lvArc->setColumnCount(3);
    lvArc->setHeaderLabels({"ファイル名", "格納サイズ", "解凍後サイズ"});
    lvArc->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    lvArc->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    // Each column at least as wide as its heading in the desktop's font.
    int listWidth = 2 * lvArc->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int c = 0; c < 3; ++c) {
        lvArc->setColumnWidth(c, std::max(kColumnWidths[c], lvArc->header()->sectionSizeHint(c)));
        listWidth += lvArc->columnWidth(c);
    }
    lvArc->setRootIsDecorated(false);
    lvArc->setUniformRowHeights(true);
    lvArc->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvArc->setAllColumnsShowFocus(true);
    lvArc->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvArc->setIconSize(QSize(TFilerIconCache::SmallSize, TFilerIconCache::SmallSize));
    lvArc->setStyleSheet(kGridLines);
    IconCache.SetListView(lvArc);

    split->addWidget(tvFolder);
    split->addWidget(lvArc);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 1);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    layout->addWidget(StatusBar1);

    // Wide enough for the tree and every column of the list, never narrower than designed (412 x 319).
    split->setSizes({kTreeWidth, listWidth});
    resize(std::max(412, kTreeWidth + split->handleWidth() + listWidth), std::max(319, sizeHint().height()));
    // Made small, it keeps the tree, the names of a few rows and the status line in view.
    KeepRowsInView(lvArc, 3);
    setMinimumWidth(kTreeWidth + split->handleWidth() + lvArc->columnWidth(0) + 2 * lvArc->frameWidth() +
                    style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    // A look before extracting: Escape puts the window away again.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

void TfrmArcView::showEvent(QShowEvent* event) {
    // Centred on the window that owns it, the first time it appears.
    if (!placed_ && parentWidget()) {
        const QRect owner = parentWidget()->window()->frameGeometry();
        move(owner.center() - rect().center());
        placed_ = true;
    }
    QWidget::showEvent(event);
}

void TfrmArcView::Preview(const AnsiString& archive) {
    show();
    raise();
    activateWindow();
    tvFolder->clear();
    folderNodes_.clear();
    const AnsiString name = ArchiveBaseName(archive);
    setWindowTitle("プレビュー -" + ToShown(name) + "-(" + ToShown(archive) + ")");
    memoBasicInfo->setText(ToShown(name));
    lvArc->clear();
    StatusBar1->clearMessage();

    int files = 0, folders = 0;
    try {
        Walk(archive, files, folders);
    } catch (const std::exception& e) {
        StatusBar1->showMessage(ToQ(e.what()));
        ShowMessageBox(this, ToQ(e.what()), "プレビュー", TMsgButtons::Ok, TMsgIcon::Error);
    }
    emit PreviewFilled();
}

// Every entry is listed once. Files at the top level become rows (every file, by its name, when the
// directory structure is ignored: that is what the extraction would then put side by side). The tree
// shows the archive's folders as they nest, each folder once, in the order they first appear. The
// status line counts as the list does: the top level (files and folders alike), or everything when
// the directory structure is ignored.
void TfrmArcView::Walk(const AnsiString& archive, int& files, int& folders) {
    const bool flat = Settings.IgnoreDirectory;
    AnsiString folder, name;
    const bool opened = ListArchive(archive, [&](const TListedEntry& e) {
        if (IsFolderEntry(e.path)) {
            FolderNode(e.path, folders);
            return true;
        }
        SplitEntryPath(e.path, folder, name);
        if (!folder.empty()) FolderNode(folder, folders);
        if (!folder.empty() && !flat) return true;
        ++files;
        auto* item = new QTreeWidgetItem(lvArc);
        item->setText(0, ToShown(name));
        item->setText(1, ToQ(KiloBytes(e.compressedSize)));
        item->setText(2, ToQ(KiloBytes(e.originalSize)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, ToShown(e.path));
        item->setData(0, kEntryPathRole, QByteArray::fromStdString(e.path));
        const int icon = IconCache.IconIndex(ToQ(name));
        if (icon >= 0) item->setIcon(0, IconCache.SmallIcon(icon));
        return true;
    });
    if (!flat) folders = tvFolder->topLevelItemCount();
    if (!opened)
        StatusBar1->showMessage("書庫を開けませんでした");
    else
        StatusBar1->showMessage(QString("ファイル %1 個、フォルダ %2 個").arg(files).arg(folders));
}

// The node of a folder part, made (with its parents) on first sight.
QTreeWidgetItem* TfrmArcView::FolderNode(const AnsiString& folderPart, int& folders) {
    const std::vector<AnsiString> parts = FolderComponents(folderPart);
    QTreeWidgetItem* parent = nullptr;
    for (std::size_t depth = 1; depth <= parts.size(); ++depth) {
        const QByteArray key = FolderKey(parts, depth);
        QTreeWidgetItem* found = folderNodes_.value(key);
        if (!found) {
            found = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvFolder);
            found->setText(0, ToShown(parts[depth - 1]));
            found->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
            folderNodes_.insert(key, found);
            ++folders;
        }
        parent = found;
    }
    return parent;
}

}  // namespace norvex::ui
