// The search window. The patterns are read and checked on the main thread; the archives are listed on
// a worker thread that hands its hits over in batches through queued calls.
#include "ui/ufrmSearch.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "regexp/RECommon.h"
#include "ui/HostPaths.h"
#include "ui/QtAnsi.h"
#include "ui/UArcView.h"
#include "ui/UForm.h"

namespace norvex::ui {

namespace {

// Grid lines between the cells. A style sheet on the items also takes over their selection colours,
// so those are given here too (else a selected row of an inactive window loses its text).
constexpr const char* kGridLines =
    "QTreeWidget::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
    "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }";

// Hits travel to the window in batches: one queued call per archive, or per this many hits.
constexpr std::size_t kBatchSize = 256;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    // Enter belongs to the pattern boxes: no button takes it as the dialog's default.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
    auto* l = new QLabel(QString::fromUtf8(caption), parent);
    l->setObjectName(name);
    return l;
}

QComboBox* MakePatternBox(QWidget* parent, const char* name, const QStringList& presets) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion from the presets: "*.jpg" typed stays "*.jpg" and is what Enter searches.
    c->setCompleter(nullptr);
    c->addItems(presets);
    c->setMinimumWidth(300);
    return c;
}

}  // namespace

TfrmSearch::TfrmSearch(QWidget* parent) : QDialog(parent) {
    setObjectName("frmSearch");
    setWindowTitle("書庫内検索");
    setWindowIcon(QIcon::fromTheme("edit-find", style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    resize(557, 441);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 0);

    // Patterns and buttons
    auto* top = new QHBoxLayout;
    RadioGroup1 = new QGroupBox("検索するパターンを指定して下さい", this);
    RadioGroup1->setObjectName("RadioGroup1");
    auto* group = new QGridLayout(RadioGroup1);
    chkWildCard = new QRadioButton("通常検索(ワイルドカード)", RadioGroup1);
    chkWildCard->setObjectName("chkWildCard");
    cmbWildCard = MakePatternBox(RadioGroup1, "cmbWildCard",
                                 {"*.*", "*.jpg;*.png;*.gif;*.bmp", "*.mp3;*.wav;*.mid;",
                                  "*.avi;*.wmv;*.mpg;*.mpeg;*.rm", "*.htm;*.html;", "*.exe", "*.jpg", "*.png"});
    chkRegExp = new QRadioButton("正規表現検索", RadioGroup1);
    chkRegExp->setObjectName("chkRegExp");
    cmbRegExp = MakePatternBox(RadioGroup1, "cmbRegExp", {"[0-9]"});
    chkFuzzy = new QCheckBox("あいまい検索", RadioGroup1);
    chkFuzzy->setObjectName("chkFuzzy");
    chkFuzzy->setToolTip("正規表現検索で、全角・半角、ひらがな・カタカナ、濁点の書き方などの違いを区別せずに検索します");
    chkFuzzy->setChecked(false);
    group->addWidget(chkWildCard, 0, 0, 1, 2);
    group->addWidget(cmbWildCard, 1, 0, 1, 2);
    group->addWidget(chkRegExp, 2, 0);
    group->addWidget(chkFuzzy, 2, 1, Qt::AlignRight);
    group->addWidget(cmbRegExp, 3, 0, 1, 2);
    top->addWidget(RadioGroup1, 1);

    auto* buttons = new QVBoxLayout;
    btnStartSearch = MakeButton(this, "btnStartSearch", "検索");
    btnAbort = MakeButton(this, "btnAbort", "停止");
    btnAbort->setEnabled(false);
    btnClose = MakeButton(this, "btnClose", "閉じる");
    buttons->addWidget(btnStartSearch);
    buttons->addWidget(btnAbort);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);
    top->addLayout(buttons);
    layout->addLayout(top);

    // Hidden, as designed: extraction of the results only is not offered.
    btnUnPack = MakeButton(this, "btnUnPack", "検索結果のみ抽出解凍");
    btnUnPack->hide();
    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName("CheckListBox1");
    for (const char* text : {"併せて１つのフォルダに格納", "書庫ごとにフォルダを作成"}) {
        auto* item = new QListWidgetItem(QString::fromUtf8(text), CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    CheckListBox1->hide();

    // Result count
    auto* counts = new QHBoxLayout;
    Label3 = MakeLabel(this, "Label3", "検索結果");
    lblMessage = MakeLabel(this, "lblMessage", "ヒット数");
    lblcntFind = MakeLabel(this, "lblcntFind", "0");
    lblcntFind->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblcntFind->setMinimumWidth(48);
    Label4 = MakeLabel(this, "Label4", "件");
    counts->addWidget(Label3);
    counts->addStretch(1);
    counts->addWidget(lblMessage);
    counts->addWidget(lblcntFind);
    counts->addWidget(Label4);
    layout->addLayout(counts);

    // Result list
    lvFile = new QTreeWidget(this);
    lvFile->setObjectName("lvFile");
    lvFile->setColumnCount(3);
    lvFile->setHeaderLabels({"書庫内ファイル名", "展開後サイズ", "該当書庫"});
    lvFile->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    // The designed widths, each at least as wide as its heading in the desktop's font.
    const int widths[] = {210, 80, 250};
    for (int c = 0; c < 3; ++c) lvFile->setColumnWidth(c, std::max(widths[c], lvFile->header()->sectionSizeHint(c)));
    lvFile->setRootIsDecorated(false);
    lvFile->setUniformRowHeights(true);
    lvFile->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvFile->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvFile->setAllColumnsShowFocus(true);
    lvFile->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvFile->setIconSize(QSize(TFilerIconCache::SmallSize, TFilerIconCache::SmallSize));
    lvFile->setStyleSheet(kGridLines);
    KeepRowsInView(lvFile, 3);
    lvFile->setContextMenuPolicy(Qt::CustomContextMenu);
    IconCache.SetListView(lvFile);
    layout->addWidget(lvFile, 1);

    pmSearchList = new QMenu(this);
    pmSearchList->setObjectName("pmSearchList");
    pmDeleteListItem = pmSearchList->addAction("リストから外す");
    pmDeleteListItem->setObjectName("pmDeleteListItem");
    pmDeleteListItem->setShortcut(QKeySequence::Delete);
    pmDeleteListItem->setShortcutContext(Qt::WidgetShortcut);
    lvFile->addAction(pmDeleteListItem);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(true);
    layout->addWidget(StatusBar1);

    connect(btnStartSearch, &QPushButton::clicked, this, &TfrmSearch::btnStartSearchClick);
    connect(btnAbort, &QPushButton::clicked, this, &TfrmSearch::btnAbortClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmSearch::reject);
    connect(pmDeleteListItem, &QAction::triggered, this, &TfrmSearch::pmDeleteListItemClick);
    connect(lvFile, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { pmSearchList->popup(lvFile->viewport()->mapToGlobal(pos)); });
    connect(lvFile, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        PreviewWindow()->Preview(item->data(0, kArchiveRole).toByteArray().toStdString());
    });
    // Enter in a pattern box searches with that box's kind of pattern, and typing in a box selects its
    // kind: the radio choice, which returns to the wildcard after every search, never sends the text
    // of one box to the other kind of search.
    for (auto [box, radio] : {std::pair{cmbWildCard, chkWildCard}, std::pair{cmbRegExp, chkRegExp}}) {
        QRadioButton* r = radio;
        connect(box->lineEdit(), &QLineEdit::returnPressed, this, [this, r] {
            // The combo box hands the same key to its line edit once more; a running search keeps
            // its controls as they are.
            if (Searching()) return;
            r->setChecked(true);
            btnStartSearchClick();
        });
        connect(box->lineEdit(), &QLineEdit::textEdited, r, [r] { r->setChecked(true); });
    }
}

TfrmSearch::~TfrmSearch() { StopAndWait(); }

void TfrmSearch::Execute(TfrmMain& main) {
    ArchiveList = [&main] {
        std::vector<AnsiString> list;
        for (int i = 0; i < main.FileCount(); ++i) list.push_back(main.FileAt(i));
        return list;
    };
    exec();
}

void TfrmSearch::showEvent(QShowEvent* event) {
    chkWildCard->setChecked(true);
    QDialog::showEvent(event);
    // Typing goes straight into the wildcard box, replacing its text, and Enter searches.
    cmbWildCard->setFocus(Qt::OtherFocusReason);
    cmbWildCard->lineEdit()->selectAll();
}

void TfrmSearch::reject() {
    StopAndWait();
    QDialog::reject();
}

TfrmArcView* TfrmSearch::PreviewWindow() {
    if (!preview_) preview_ = new TfrmArcView(this);
    return preview_;
}

void TfrmSearch::btnStartSearchClick() {
    if (Searching()) return;
    hitCount_ = 0;
    const bool wildMode = chkWildCard->isChecked() && !cmbWildCard->currentText().isEmpty();
    const bool regexMode = chkRegExp->isChecked() && !cmbRegExp->currentText().isEmpty();
    if (!wildMode && !regexMode) return;

    if (wildMode) {
        StartWalk(TArchiveSearch::Wildcard(FromQ(cmbWildCard->currentText())));
        return;
    }
    try {
        StartWalk(TArchiveSearch::RegExp(FromQ(cmbRegExp->currentText()), chkFuzzy->isChecked()));
    } catch (const ERegExpParser&) {
        // The previous results stay; the count shows that this search found nothing.
        lblMessage->setText("正規表現に誤りがあります");
        lblcntFind->setText("0");
    }
}

void TfrmSearch::btnAbortClick() { stop_ = true; }

void TfrmSearch::pmDeleteListItemClick() {
    // The list is rebuilt in one pass: deleted one by one, each selected row shifted every row after
    // it, and tens of thousands of hits held the window for minutes.
    const QList<QTreeWidgetItem*> selectedRows = lvFile->selectedItems();
    if (selectedRows.isEmpty()) return;
    const QSet<QTreeWidgetItem*> gone(selectedRows.begin(), selectedRows.end());
    QTreeWidgetItem* root = lvFile->invisibleRootItem();
    int firstGone = -1;
    QList<QTreeWidgetItem*> kept;
    kept.reserve(root->childCount());
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem* row = root->child(i);
        if (!gone.contains(row)) kept << row;
        else if (firstGone < 0) firstGone = i;
    }
    const QList<QTreeWidgetItem*> taken = root->takeChildren();
    lvFile->addTopLevelItems(kept);
    for (QTreeWidgetItem* row : taken)
        if (gone.contains(row)) delete row;
    // The row that followed the first one taken off is where the user was.
    if (!kept.isEmpty()) {
        QTreeWidgetItem* here = kept[std::min<qsizetype>(firstGone, kept.size() - 1)];
        lvFile->setCurrentItem(here, 0, QItemSelectionModel::NoUpdate);
        lvFile->scrollToItem(here);
    }
}

void TfrmSearch::SetSearching(bool on) {
    btnStartSearch->setEnabled(!on);
    btnAbort->setEnabled(on);
    if (on)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TfrmSearch::StartWalk(TArchiveSearch search) {
    // A pattern that compiled: the label names the count again.
    lblMessage->setText("ヒット数");
    lblcntFind->setText("0");
    lvFile->clear();
    // The radio choice returns to the wildcard after every search, as designed.
    chkWildCard->setChecked(true);

    std::vector<AnsiString> archives = ArchiveList ? ArchiveList() : std::vector<AnsiString>();
    // The module bindings are made here, on the main thread, not by the walk on its own thread.
    PrepareArchiverBindings();

    stop_ = false;
    SetSearching(true);
    StatusBar1->showMessage("検索中...");
    const int total = static_cast<int>(archives.size());
    auto hook = BeforeArchive;
    const unsigned gen = ++generation_;
    worker_ = std::make_unique<std::thread>([this, search = std::move(search), archives = std::move(archives), total,
                                             hook, gen]() mutable {
        std::vector<TSearchHit> batch;
        int current = -1;
        AnsiString currentName;
        auto flush = [&] {
            QMetaObject::invokeMethod(
                this,
                [this, hits = std::move(batch), current, total, currentName, gen] {
                    if (gen == generation_) AddHits(hits, current, total, currentName);
                },
                Qt::QueuedConnection);
            batch.clear();
        };
        const TSearchSummary summary = search.Run(
            archives,
            [&](const TSearchHit& hit) {
                batch.push_back(hit);
                if (batch.size() >= kBatchSize) flush();
            },
            &stop_,
            [&](int index, const AnsiString& archive) {
                if (current >= 0) flush();
                current = index;
                currentName = ArchiveBaseName(archive);
                if (hook) hook(index, archive);
            });
        flush();
        QMetaObject::invokeMethod(
            this, [this, summary, gen] {
                if (gen == generation_) WalkEnded(summary);
            },
            Qt::QueuedConnection);
    });
}

void TfrmSearch::AddHits(const std::vector<TSearchHit>& hits, int index, int total, const AnsiString& current) {
    if (!hits.empty()) {
        QList<QTreeWidgetItem*> rows;
        rows.reserve(static_cast<qsizetype>(hits.size()));
        for (const TSearchHit& hit : hits) {
            auto* item = new QTreeWidgetItem;
            const QString name = ToShown(hit.name);
            item->setText(0, name);
            item->setText(1, ToQ(KiloBytes(hit.originalSize)));
            item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
            item->setText(2, ToShown(ArchiveBaseName(hit.archive)) + " (" + ToShown(hit.archive) + ")");
            item->setToolTip(0, ToShown(hit.entryPath));
            item->setData(0, kArchiveRole, QByteArray::fromStdString(hit.archive));
            item->setData(0, kEntryPathRole, QByteArray::fromStdString(hit.entryPath));
            const int icon = IconCache.IconIndex(name);
            if (icon >= 0) item->setIcon(0, IconCache.SmallIcon(icon));
            rows.append(item);
        }
        lvFile->addTopLevelItems(rows);
        hitCount_ += static_cast<int>(hits.size());
        lblcntFind->setText(QString::number(hitCount_));
    }
    if (index >= 0 && Searching())
        StatusBar1->showMessage(QString("検索中 (%1/%2) %3").arg(index + 1).arg(total).arg(ToShown(current)));
    emit HitsAdded(lvFile->topLevelItemCount());
}

void TfrmSearch::WalkEnded(const TSearchSummary& summary) {
    if (worker_) {
        worker_->join();
        worker_.reset();
    }
    SetSearching(false);
    lblcntFind->setText(QString::number(hitCount_));
    QString message = summary.stopped ? QString("検索を中止しました（%1 個の書庫を検索）").arg(summary.searched)
                                      : QString("%1 個の書庫を検索しました").arg(summary.searched);
    if (!summary.failures.empty()) {
        QStringList names;
        for (const TSearchFailure& f : summary.failures) names << ToShown(ArchiveBaseName(f.archive));
        message += QString("　読めなかった書庫 %1 個: %2").arg(summary.failures.size()).arg(names.join(", "));
        QStringList details;
        for (const TSearchFailure& f : summary.failures)
            details << ToShown(f.archive) + (f.message.empty() ? QString(": 書庫を開けませんでした") : ": " + ToQ(f.message));
        StatusBar1->setToolTip(details.join("\n"));
    } else {
        StatusBar1->setToolTip(QString());
    }
    StatusBar1->showMessage(message);
    emit SearchFinished();
}

void TfrmSearch::StopAndWait() {
    if (!worker_) return;
    stop_ = true;
    worker_->join();
    worker_.reset();
    ++generation_;
    // The hits and the end the worker posted are dropped with the search; the controls come back now.
    SetSearching(false);
    lblcntFind->setText(QString::number(hitCount_));
    StatusBar1->showMessage("検索を中止しました");
}

void InstallBrowsingWindows(TfrmMain& main) {
    auto* preview = new TfrmArcView(&main);
    auto* search = new TfrmSearch(&main);
    main.ShowPreviewWindow = [preview](TfrmMain&, const AnsiString& archive) { preview->Preview(archive); };
    main.ShowSearchWindow = [search](TfrmMain& w) { search->Execute(w); };
}

}  // namespace norvex::ui
