// TfrmArcView: the preview window. It shows what lies at the top level of one archive before it is
// extracted (the files with their stored and extracted sizes, the folders as a tree), without
// blocking the window that opened it.
#pragma once
#include <QByteArray>
#include <QHash>
#include <QWidget>

#include "platform/AnsiString.h"
#include "ui/vclIconCache.h"

class QFrame;
class QLineEdit;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace norvex::ui {

class TfrmArcView : public QWidget {
    Q_OBJECT
public:
    explicit TfrmArcView(QWidget* parent = nullptr);

    // Fills and shows the window for archive (cp932 path). The caller has already checked that its
    // extension is one the preview takes. A failure of the access layer (no module, a type that
    // cannot be determined) is shown in a message box; the window keeps what was filled so far.
    void Preview(const AnsiString& archive);

    // The data roles of lvArc's rows: the entry's whole path in the archive (cp932 bytes).
    static constexpr int kEntryPathRole = Qt::UserRole + 1;

    QFrame* Panel1 = nullptr;
    QLineEdit* memoBasicInfo = nullptr;
    QTreeWidget* tvFolder = nullptr;
    QTreeWidget* lvArc = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    TFilerIconCache IconCache;

signals:
    // Emitted when a preview has been filled (also after a failure).
    void PreviewFilled();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Walk(const AnsiString& archive, int& files, int& folders);
    QTreeWidgetItem* FolderNode(const AnsiString& folderPart, int& folders);

    QHash<QByteArray, QTreeWidgetItem*> folderNodes_;  // folder names joined by "/"
    bool placed_ = false;
};

}  // namespace norvex::ui
