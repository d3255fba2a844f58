// Icons from the icon theme through the MIME database; a generic icon when the theme has none.
#include "ui/vclIconCache.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeDatabase>
#include <QStyle>

namespace norvex::ui {

QString TCustomShellIconCache::UpperExtension(const QString& path) {
    const QString name = path.section('/', -1);
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

bool TCustomShellIconCache::OwnIcon(const QString& upperExt) {
    return upperExt == ".EXE" || upperExt == ".LNK" || upperExt == ".ICO";
}

int TCustomShellIconCache::find(const QString& key) const {
    for (int i = 0; i < keys_.size(); ++i)
        if (keys_[i].compare(key, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

int TCustomShellIconCache::IconIndex(const QString& path) {
    const QString ext = UpperExtension(path);
    if (int i = find(ext); i >= 0) return i;
    if (int i = find(path); i >= 0) return i;

    const QString key = OwnIcon(ext) ? path : ext;
    const QIcon icon = LookUpIcon(path);
    if (icon.isNull()) return -1;
    keys_.append(key);
    large_.append(QIcon(icon.pixmap(LargeSize, LargeSize)));
    small_.append(QIcon(icon.pixmap(SmallSize, SmallSize)));
    const int index = keys_.size() - 1;
    if (OnRegist) OnRegist(*this, path, index);
    return index;
}

QIcon TCustomShellIconCache::LookUpIcon(const QString& path) {
    const QFileInfo info(path);
    if (UpperExtension(path) == ".ICO" && info.isFile()) {
        QIcon own(path);
        if (!own.availableSizes().isEmpty()) return own;
    }
    static const QMimeDatabase mimes;
    const QMimeType type = info.exists() ? mimes.mimeTypeForFile(info) : mimes.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    QIcon fallback = QApplication::style()->standardIcon(info.isDir() ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
}

void KeepRowsInView(QTreeWidget* list, int rows) {
    const int row = std::max(list->fontMetrics().height(), list->iconSize().height()) + 6;
    const int header = list->isHeaderHidden() ? 0 : list->header()->sizeHint().height();
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    list->setMinimumHeight(2 * list->frameWidth() + header + rows * row + scrollBar);
}

}  // namespace norvex::ui
