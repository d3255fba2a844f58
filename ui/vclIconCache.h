// The icon cache of the file lists: one icon per extension, one per program file, from the desktop's
// icon theme. The position of a key in the cache is the image index of its icon.
#pragma once
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

#include <QTreeWidget>

namespace norvex::ui {

class TCustomShellIconCache {
public:
    static constexpr int LargeSize = 32;
    static constexpr int SmallSize = 16;

    TCustomShellIconCache() = default;
    virtual ~TCustomShellIconCache() = default;

    // The image index of path's icon, adding it on first sight; -1 when no icon could be had.
    int IconIndex(const QString& path);

    int Count() const { return keys_.size(); }
    const QList<QIcon>& LargeIcons() const { return large_; }
    const QList<QIcon>& SmallIcons() const { return small_; }
    QIcon SmallIcon(int index) const { return index >= 0 && index < small_.size() ? small_[index] : QIcon(); }

    // Raised after a new icon was added: (cache, path, index).
    std::function<void(TCustomShellIconCache&, const QString&, int)> OnRegist;

    // The key a path is filed under: the upper-cased extension with its dot, or the path itself for
    // files that carry their own icon (".EXE", ".LNK", ".ICO").
    static QString UpperExtension(const QString& path);
    static bool OwnIcon(const QString& upperExt);

protected:
    // The theme's icon for path (overridable so that a failing look-up can be tested).
    virtual QIcon LookUpIcon(const QString& path);

private:
    int find(const QString& key) const;

    QStringList keys_;
    QList<QIcon> large_;
    QList<QIcon> small_;
};

// The cache as the window's file list uses it: rows take their icon from it.
class TFilerIconCache : public TCustomShellIconCache {
public:
    void SetListView(QTreeWidget* list) { listView_ = list; }
    QTreeWidget* ListView() const { return listView_; }

private:
    QPointer<QTreeWidget> listView_;  // forgets the list when it is destroyed
};

// A file list never shrinks below its heading and rows rows of icon and name, however small its
// window is made.
void KeepRowsInView(QTreeWidget* list, int rows);

}  // namespace norvex::ui
