// The rows a run has reached. With 「解凍に失敗した要素もリストからクリアする」 (ClearAll) checked, the
// rows that the run reached and that are still listed when it ends (failed or skipped: the engine
// removes the extracted ones itself) leave the list. Rows the run never reached stay, and so does the
// row a break stopped at, so that a broken run loses nothing of the queue.
#pragma once

class QTreeWidget;
class QTreeWidgetItem;

namespace norvex::ui {

// A new run: no row is reached yet.
void ForgetReachedRows(QTreeWidget* list);
// The engine has come to row (in its order).
void MarkReached(QTreeWidgetItem* row);
// Removes the reached rows; with broken, the last one reached stays. Returns how many left.
int RemoveFailedRows(QTreeWidget* list, bool broken);

}  // namespace norvex::ui
