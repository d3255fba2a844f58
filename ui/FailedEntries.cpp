// Reached rows carry the order in which the run came to them.
#include "ui/FailedEntries.h"

#include <QTreeWidget>

namespace norvex::ui {
namespace {
constexpr int kReachedRole = Qt::UserRole + 2;  // 1, 2, ... in the order reached; unset: not reached
constexpr const char* kCountProperty = "norvexReachedCount";
}  // namespace

void ForgetReachedRows(QTreeWidget* list) {
    list->setProperty(kCountProperty, 0);
    for (int i = 0; i < list->topLevelItemCount(); ++i) list->topLevelItem(i)->setData(0, kReachedRole, QVariant());
}

void MarkReached(QTreeWidgetItem* row) {
    if (!row || !row->treeWidget()) return;
    QTreeWidget* list = row->treeWidget();
    const int order = list->property(kCountProperty).toInt() + 1;
    list->setProperty(kCountProperty, order);
    row->setData(0, kReachedRole, order);
}

int RemoveFailedRows(QTreeWidget* list, bool broken) {
    int last = -1, lastOrder = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const int order = list->topLevelItem(i)->data(0, kReachedRole).toInt();
        if (order > lastOrder) {
            lastOrder = order;
            last = i;
        }
    }
    int removed = 0;
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        if (row->data(0, kReachedRole).toInt() == 0 || (broken && i == last)) continue;
        delete list->takeTopLevelItem(i);
        ++removed;
    }
    return removed;
}

}  // namespace norvex::ui
