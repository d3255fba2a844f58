// TfrmSearch: the search across the archives of the main window's file list, by wildcard or by
// regular expression. The walk runs on a worker thread, so the window answers, shows the hits as they
// come and can be stopped.
#pragma once
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/AnsiString.h"
#include "ui/ArchiveSearch.h"
#include "ui/vclIconCache.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTreeWidget;

namespace norvex::ui {

class TfrmArcView;
class TfrmMain;

class TfrmSearch : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSearch(QWidget* parent = nullptr);
    ~TfrmSearch() override;

    // The archives to search (cp932 paths, in list order), read when a search starts.
    std::function<std::vector<AnsiString>()> ArchiveList;
    // Shows the window modally over main's file list.
    void Execute(TfrmMain& main);

    // ---- Event handlers ----
    void btnStartSearchClick();
    void btnAbortClick();
    void pmDeleteListItemClick();

    bool Searching() const { return worker_ != nullptr; }
    int HitCount() const { return hitCount_; }
    // The preview of double-clicked rows: a window of its own, owned by this one, so that it can be
    // used while the search is shown modally.
    TfrmArcView* PreviewWindow();

    // Runs on the worker before each archive it opens (tests hold the walk there).
    std::function<void(int index, const AnsiString& archive)> BeforeArchive;

    // Data roles of lvFile's rows (cp932 bytes).
    static constexpr int kArchiveRole = Qt::UserRole + 1;
    static constexpr int kEntryPathRole = Qt::UserRole + 2;

    // ---- Controls (named as in the design) ----
    QGroupBox* RadioGroup1 = nullptr;
    QRadioButton* chkWildCard = nullptr;
    QComboBox* cmbWildCard = nullptr;
    QRadioButton* chkRegExp = nullptr;
    QComboBox* cmbRegExp = nullptr;
    QCheckBox* chkFuzzy = nullptr;  // "あいまい検索": the fuzzy character dictionary, off by default
    QPushButton* btnStartSearch = nullptr;
    QPushButton* btnAbort = nullptr;
    QPushButton* btnClose = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* lblMessage = nullptr;
    QLabel* lblcntFind = nullptr;
    QLabel* Label4 = nullptr;
    QTreeWidget* lvFile = nullptr;
    QMenu* pmSearchList = nullptr;
    QAction* pmDeleteListItem = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QPushButton* btnUnPack = nullptr;       // hidden, not wired
    QListWidget* CheckListBox1 = nullptr;   // hidden, not wired
    TFilerIconCache IconCache;

signals:
    // A batch of rows was added (count = rows in the list now).
    void HitsAdded(int count);
    // A search that was started has ended (finished, stopped or failed part-way).
    void SearchFinished();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void StartWalk(TArchiveSearch search);
    void AddHits(const std::vector<TSearchHit>& hits, int index, int total, const AnsiString& current);
    void WalkEnded(const TSearchSummary& summary);
    void StopAndWait();
    void SetSearching(bool on);

    std::unique_ptr<std::thread> worker_;
    std::atomic<bool> stop_{false};
    int hitCount_ = 0;
    unsigned generation_ = 0;  // of the running walk; calls posted by an older walk are dropped
    TfrmArcView* preview_ = nullptr;
};

// Creates the preview and search windows as children of main and connects main's preview and search
// commands to them.
void InstallBrowsingWindows(TfrmMain& main);

}  // namespace norvex::ui
