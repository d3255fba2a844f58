// The options dialog: five button-style tabs over a page stack, filled from the settings on each show and
// applied on "OK" in a fixed order, the shell entries included.
#include "ui/UfrmOption.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/ShellRegistration.h"

namespace norvex::ui {

namespace {

// The bind box sits in the gap of this caption.
const QString kBindPrefix = QStringLiteral("最上層の要素が");
const QString kBindGap = QStringLiteral("　  　　 ");
const QString kBindCaption = kBindPrefix + kBindGap + QStringLiteral("つ以上ならフォルダで括る");

constexpr int kBuffMin = 5, kBuffMax = 100, kBindMax = 100;

}  // namespace

// ---- TUpDown ------------------------------------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    btnUp = new QToolButton(this);
    btnUp->setObjectName("btnUp");
    btnUp->setArrowType(Qt::UpArrow);
    btnDown = new QToolButton(this);
    btnDown->setObjectName("btnDown");
    btnDown->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {btnUp, btnDown}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        b->setFixedWidth(16);
        layout->addWidget(b);
    }
    connect(btnUp, &QToolButton::clicked, this, [this] { StepBy(1); });
    connect(btnDown, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

void TUpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = max;
    SetPosition(position_);
}

void TUpDown::SetPosition(int position) { position_ = std::clamp(position, min_, max_); }

void TUpDown::StepBy(int steps) {
    int base = position_;
    if (buddy_) {
        bool ok = false;
        int typed = buddy_->text().trimmed().toInt(&ok);
        if (ok) base = typed;
    }
    SetPosition(base + steps);
    if (buddy_) buddy_->setText(QString::number(position_));
    emit PositionChanged(position_);
}

// ---- TfrmOption: construction ---------------------------------------------------------------------------

TfrmOption::TfrmOption(QWidget* parent, SettingsBlock& settings)
    : QDialog(parent), AssociationName(QString::fromUtf8(kAssociationName)), settings_(settings) {
    setObjectName("frmOption");
    setWindowTitle("動作・オプション設定");
    setModal(true);

    static const char* const kTabNames[kPageCount] = {"tabExtract", "tabAuxiliary", "tabNotify", "tabEnvironment",
                                                      "tabOther"};
    static const char* const kTabCaptions[kPageCount] = {"   解 凍   ", " 補助動作", " 通知 ", "環境設定", " その他 "};

    pcOption = new QStackedWidget(this);
    pcOption->setObjectName("pcOption");
    pages = {BuildExtractPage(), BuildAuxiliaryPage(), BuildNotifyPage(), BuildEnvironmentPage(), BuildOtherPage()};
    for (QWidget* page : pages) pcOption->addWidget(page);

    bgTabs = new QButtonGroup(this);
    bgTabs->setExclusive(true);
    auto* tabRow = new QHBoxLayout;
    tabRow->setSpacing(2);
    for (int i = 0; i < kPageCount; ++i) {
        auto* b = new QPushButton(QString::fromUtf8(kTabCaptions[i]), this);
        b->setObjectName(kTabNames[i]);
        b->setCheckable(true);
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
        bgTabs->addButton(b, i);
        tabRow->addWidget(b);
        tabButtons[static_cast<size_t>(i)] = b;
    }
    tabRow->addStretch();
    connect(bgTabs, &QButtonGroup::idClicked, this, &TfrmOption::SetActivePage);

    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    btnCancel = new QPushButton("キャンセル", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAutoDefault(false);
    connect(btnOK, &QPushButton::clicked, this, &TfrmOption::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(btnOK);
    buttonRow->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tabRow);
    layout->addWidget(pcOption, 1);
    layout->addLayout(buttonRow);

    SetActivePage(kPageCount - 1);
    setFixedSize(sizeHint().expandedTo(QSize(440, 0)));
}

QGroupBox* TfrmOption::Group(QWidget* parent, const char* name, const QString& caption) {
    auto* g = new QGroupBox(caption, parent);
    g->setObjectName(name);
    return g;
}

QCheckBox* TfrmOption::Check(QWidget* parent, const char* name, const QString& caption) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QLabel* TfrmOption::Label(QWidget* parent, const char* name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

QWidget* TfrmOption::BuildExtractPage() {
    auto* page = new QWidget;
    page->setObjectName("tsExtract");
    auto* layout = new QVBoxLayout(page);

    auto* grpOverWrite = Group(page, "grpOverWrite", "「同名のファイルの上書き」");
    auto* overWrite = new QGridLayout(grpOverWrite);
    bgOverWrite = new QButtonGroup(this);
    static const char* const kCaptions[4] = {"確認する", "上書きする", "スキップする", "新しければ上書き"};
    for (int i = 0; i < 4; ++i) {
        auto* rb = new QRadioButton(QString::fromUtf8(kCaptions[i]), grpOverWrite);
        rb->setObjectName(QStringLiteral("rbOverWrite%1").arg(i));
        bgOverWrite->addButton(rb, i);
        overWrite->addWidget(rb, i / 2, i % 2);
        rbOverWrite[static_cast<size_t>(i)] = rb;
    }
    layout->addWidget(grpOverWrite);

    auto* grpIgnore = Group(page, "grpIgnoreDirectory", "「ディレクトリ構成無視解凍」");
    auto* ignore = new QVBoxLayout(grpIgnore);
    chkIgnoreDirectory = Check(grpIgnore, "chkIgnoreDirectory", "ディレクトリ構成を無視して解凍する");
    chkIgnoredSingleBind = Check(grpIgnore, "chkIgnoredSingleBind", "要素が2つ以上なら１つのフォルダへ）");
    ignore->addWidget(chkIgnoreDirectory);
    auto* indented = new QHBoxLayout;
    indented->addSpacing(20);
    indented->addWidget(chkIgnoredSingleBind);
    ignore->addLayout(indented);
    connect(chkIgnoreDirectory, &QCheckBox::toggled, chkIgnoredSingleBind, &QWidget::setEnabled);
    layout->addWidget(grpIgnore);

    auto* grpBuff = Group(page, "grpBuffSize", "「解凍時バッファサイズ」");
    auto* buff = new QHBoxLayout(grpBuff);
    tbBuffSize = new QSlider(Qt::Horizontal, grpBuff);
    tbBuffSize->setObjectName("tbBuffSize");
    tbBuffSize->setRange(kBuffMin, kBuffMax);
    tbBuffSize->setTickInterval(10);
    tbBuffSize->setTickPosition(QSlider::TicksBelow);
    tbBuffSize->setPageStep(10);
    lblBuffSize = Label(grpBuff, "lblBuffSize", "");
    lblBuffSize->setMinimumWidth(lblBuffSize->fontMetrics().horizontalAdvance("100MB") + 8);
    lblBuffSize->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    chkBuffAuto = Check(grpBuff, "chkBuffAuto", "自動");
    chkBuffAuto->setVisible(false);
    buff->addWidget(tbBuffSize, 1);
    buff->addWidget(lblBuffSize);
    buff->addWidget(chkBuffAuto);
    connect(tbBuffSize, &QSlider::valueChanged, this, &TfrmOption::ShowBuffSize);
    layout->addWidget(grpBuff);

    layout->addStretch();
    return page;
}

QWidget* TfrmOption::BuildAuxiliaryPage() {
    auto* page = new QWidget;
    page->setObjectName("tsAuxiliary");
    auto* layout = new QVBoxLayout(page);

    auto* grpBind = Group(page, "grpBindFolder", "「フォルダによるバインド」");
    auto* bind = new QVBoxLayout(grpBind);
    chkBindFolder = Check(grpBind, "chkBindFolder", kBindCaption);
    // The number box and its arrows live inside the caption's gap; they are children of the box so that
    // they move with it, and they take their own clicks.
    txtBindNum = new QLineEdit(chkBindFolder);
    txtBindNum->setObjectName("txtBindNum");
    txtBindNum->setAlignment(Qt::AlignRight);
    txtBindNum->setMaxLength(4);
    udBindNum = new TUpDown(chkBindFolder);
    udBindNum->setObjectName("udBindNum");
    udBindNum->SetRange(0, kBindMax);
    udBindNum->SetBuddy(txtBindNum);
    chkBindFolder->setMinimumHeight(txtBindNum->sizeHint().height() + 2);
    chkBindFolder->installEventFilter(this);
    chkPreventOverlapping = Check(grpBind, "chkPreventOverlapping", "二重フォルダ作成の抑制（実装中）");
    chkPreventOverlapping->setVisible(false);
    bind->addWidget(chkBindFolder);
    bind->addWidget(chkPreventOverlapping);
    layout->addWidget(grpBind);

    auto* grpTail = Group(page, "grpTailCut", "「作成フォルダの末尾数字記号の除去」");
    auto* tail = new QVBoxLayout(grpTail);
    tail->setSpacing(2);
    chkDelFolderNum = Check(grpTail, "chkDelFolderNum", "フォルダを作成するとき、名前の末尾についた");
    tail->addWidget(chkDelFolderNum);
    const char* const kTailLabels[3][2] = {{"lblTailCut1", "数字,記号などを除去する"},
                                          {"lblTailCut2", "（数字, アンダーバー , ピリオド, 空白, "},
                                          {"lblTailCut3", "+ それに続く１文字のアルファベット）"}};
    for (const auto& [name, caption] : kTailLabels) {
        auto* row = new QHBoxLayout;
        row->addSpacing(22);
        row->addWidget(Label(grpTail, name, QString::fromUtf8(caption)));
        row->addStretch();
        tail->addLayout(row);
    }
    layout->addWidget(grpTail);

    auto* grpSame = Group(page, "grpSameFolderProc", "「フォルダ操作時に同名のフォルダが存在した場合」");
    auto* same = new QVBoxLayout(grpSame);
    lstSameFolderProc = new QListWidget(grpSame);
    lstSameFolderProc->setObjectName("lstSameFolderProc");
    lstSameFolderProc->addItem("古い方は \"_old数字\" を付けて退避");
    lstSameFolderProc->addItem("古い方は削除/上書き");
    const int rowHeight = lstSameFolderProc->sizeHintForRow(0);
    lstSameFolderProc->setFixedHeight(rowHeight * 2 + 2 * lstSameFolderProc->frameWidth() + 4);
    lstSameFolderProc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    same->addWidget(lstSameFolderProc);
    layout->addWidget(grpSame);

    layout->addStretch();
    return page;
}

QWidget* TfrmOption::BuildNotifyPage() {
    auto* page = new QWidget;
    page->setObjectName("tsNotify");
    auto* layout = new QVBoxLayout(page);
    auto* grp = Group(page, "grpConfirm", "「確認・通知ダイアログの表示」");
    auto* confirm = new QVBoxLayout(grp);
    chkShowEndDlg = Check(grp, "chkShowEndDlg", "処理が終了した時に通知");
    chkConfirmDelete = Check(grp, "chkConfirmDelete", "\"削除\"が選択されていた時に通知");
    chkConfirmIgnore = Check(grp, "chkConfirmIgnore", "ディレクトリ構成を無視するときに通知");
    for (QCheckBox* c : {chkShowEndDlg, chkConfirmDelete, chkConfirmIgnore}) confirm->addWidget(c);
    layout->addWidget(grp);
    layout->addStretch();
    return page;
}

QWidget* TfrmOption::BuildEnvironmentPage() {
    auto* page = new QWidget;
    page->setObjectName("tsEnvironment");
    auto* layout = new QVBoxLayout(page);

    auto* grpShortcut = Group(page, "grpShortcut", "「ショートカット登録」");
    auto* shortcut = new QHBoxLayout(grpShortcut);
    chkSendTo = Check(grpShortcut, "chkSendTo", "「送る」 メニュー");
    chkProgramMenu = Check(grpShortcut, "chkProgramMenu", "プログラムメニュー");
    shortcut->addWidget(chkSendTo);
    shortcut->addWidget(chkProgramMenu);
    shortcut->addStretch();
    layout->addWidget(grpShortcut);

    auto* grpAssoc = Group(page, "grpAssociation", "「関連付け」");
    auto* assoc = new QGridLayout(grpAssoc);
    chkAssocZip = Check(grpAssoc, "chkAssocZip", ".zip");
    chkAssocRar = Check(grpAssoc, "chkAssocRar", ".rar");
    chkAssocLzh = Check(grpAssoc, "chkAssocLzh", ".ｌｚｈ");
    chkAssocCab = Check(grpAssoc, "chkAssocCab", ".cab");
    chkAssocTar = Check(grpAssoc, "chkAssocTar", ".tar");
    chkAssocGca = Check(grpAssoc, "chkAssocGca", ".gca");
    chkAssocTar->setVisible(false);
    chkAssocGca->setVisible(false);
    assoc->addWidget(chkAssocZip, 0, 0);
    assoc->addWidget(chkAssocRar, 0, 1);
    assoc->addWidget(chkAssocLzh, 1, 0);
    assoc->addWidget(chkAssocCab, 1, 1);
    assoc->addWidget(chkAssocTar, 2, 0);
    assoc->addWidget(chkAssocGca, 2, 1);
    // The legend: what the context menu of an associated file offers.
    auto* legend = new QVBoxLayout;
    legend->setSpacing(0);
    auto* legendTitle = new QHBoxLayout;
    legendTitle->addWidget(Label(grpAssoc, "lblAssocClick", "「クリック"));
    legendTitle->addWidget(Label(grpAssoc, "lblAssocMenu", "メニュー」"));
    legendTitle->addStretch();
    legend->addLayout(legendTitle);
    const char* const kVerbLabels[3][2] = {
        {"lblVerbDelete", "解凍+削除"}, {"lblVerbTrash", "解凍+ゴミ箱へ"}, {"lblVerbOnly", "解凍+そのまま"}};
    for (const auto& [name, caption] : kVerbLabels) {
        auto* row = new QHBoxLayout;
        row->addSpacing(14);
        row->addWidget(Label(grpAssoc, name, QString::fromUtf8(caption)));
        row->addStretch();
        legend->addLayout(row);
    }
    assoc->addLayout(legend, 0, 2, 3, 1);
    assoc->setColumnStretch(2, 1);
    assoc->setHorizontalSpacing(16);
    layout->addWidget(grpAssoc);

    auto* grpAsk = Group(page, "grpConfirmSendTo", "「解凍先の問い合わせ」");
    auto* ask = new QVBoxLayout(grpAsk);
    ask->setSpacing(2);
    chkConfirmSendTo = Check(grpAsk, "chkConfirmSendTo", "「送る」 「関連付け」 「アイコンへドラッグ」で");
    ask->addWidget(chkConfirmSendTo);
    auto* note = new QHBoxLayout;
    note->addSpacing(22);
    note->addWidget(Label(grpAsk, "lblConfirmSendTo", "起動したときは毎回解凍先問い合わせる"));
    note->addStretch();
    ask->addLayout(note);
    connect(chkSendTo, &QCheckBox::toggled, chkConfirmSendTo, &QWidget::setEnabled);
    layout->addWidget(grpAsk);

    layout->addStretch();
    return page;
}

QWidget* TfrmOption::BuildOtherPage() {
    auto* page = new QWidget;
    page->setObjectName("tsOther");
    auto* layout = new QVBoxLayout(page);
    auto* grpSecurity = Group(page, "grpSecurity", "「セキュリティ」");
    auto* security = new QVBoxLayout(grpSecurity);
    chkAlertAbsExpand = Check(grpSecurity, "chkAlertAbsExpand", "パスにドライブ文字（絶対パス）があれば警告");
    chkCheckDangerPath = Check(grpSecurity, "chkCheckDangerPath", "スタートアップなどの文字を警告");
    security->addWidget(chkAlertAbsExpand);
    security->addWidget(chkCheckDangerPath);
    layout->addWidget(grpSecurity);

    auto* grpDiv = Group(page, "grpCheckDiv", "「rar分割圧縮ファイル」");
    auto* div = new QVBoxLayout(grpDiv);
    chkCheckDiv = Check(grpDiv, "chkCheckDiv", "rar分割ファイルを検索処理（同一フォルダ内）");
    div->addWidget(chkCheckDiv);
    layout->addWidget(grpDiv);

    auto* grpFormats = Group(page, "grpExtraFormats", "「7z・tar 書庫」");
    auto* formats = new QVBoxLayout(grpFormats);
    chkExtraFormats = Check(grpFormats, "chkExtraFormats", "7z と tar（.tar.gz .tar.bz2 .tar.xz .tar.zst など）も解凍する");
    formats->addWidget(chkExtraFormats);
    layout->addWidget(grpFormats);

    layout->addStretch();
    return page;
}

// ---- tabs and small behaviours --------------------------------------------------------------------------

int TfrmOption::ActivePage() const { return pcOption->currentIndex(); }

void TfrmOption::SetActivePage(int index) {
    if (index < 0 || index >= kPageCount) return;
    pcOption->setCurrentIndex(index);
    tabButtons[static_cast<size_t>(index)]->setChecked(true);
    if (index == 1) PlaceBindNumBox();
}

void TfrmOption::ShowBuffSize(int megabytes) { lblBuffSize->setText(QString::asprintf("%dMB", megabytes)); }

// Puts the number box and its arrows over the gap of the bind caption.
void TfrmOption::PlaceBindNumBox() {
    QStyleOptionButton option;
    option.initFrom(chkBindFolder);
    option.text = chkBindFolder->text();
    const QRect contents = chkBindFolder->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, chkBindFolder);
    const QFontMetrics fm = chkBindFolder->fontMetrics();
    const int left = contents.left() + fm.horizontalAdvance(kBindPrefix) + 2;
    const int width = std::max(fm.horizontalAdvance(kBindGap) - 4, fm.horizontalAdvance("000") + 24);
    const int height = std::min(chkBindFolder->height(), txtBindNum->sizeHint().height());
    const int top = (chkBindFolder->height() - height) / 2;
    const int arrows = 16;
    txtBindNum->setGeometry(left, top, width - arrows, height);
    udBindNum->setGeometry(left + width - arrows, top, arrows, height);
}

bool TfrmOption::eventFilter(QObject* watched, QEvent* event) {
    if (watched == chkBindFolder && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        PlaceBindNumBox();
    return QDialog::eventFilter(watched, event);
}

void TfrmOption::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

// ---- fill and apply -------------------------------------------------------------------------------------

void TfrmOption::FormShow() {
    SettingsBlock& s = settings_;
    try {
        chkCheckDangerPath->setChecked(s.CheckDangerPath);
        chkProgramMenu->setChecked(ProgramMenuLinkExists());

        // An exclusive group never lets the last checked button go; values outside 0-3 check none.
        bgOverWrite->setExclusive(false);
        for (QRadioButton* rb : rbOverWrite) rb->setChecked(false);
        const int overWrite = static_cast<int>(s.OverWrite);
        if (overWrite >= 0 && overWrite < 4) rbOverWrite[static_cast<size_t>(overWrite)]->setChecked(true);
        bgOverWrite->setExclusive(true);

        chkShowEndDlg->setChecked(s.ShowEndDlg);
        chkBindFolder->setChecked(s.BindFolder);
        chkConfirmSendTo->setChecked(s.ConfirmSendTo);
        chkConfirmDelete->setChecked(s.ConfirmDelete);

        chkSendTo->setChecked(SendToLinkExists());
        chkConfirmSendTo->setEnabled(chkSendTo->isChecked());

        chkCheckDiv->setChecked(s.CheckDiv);
        chkExtraFormats->setChecked(s.ExtraFormats);
        chkIgnoreDirectory->setChecked(s.IgnoreDirectory);
        chkIgnoredSingleBind->setEnabled(chkIgnoreDirectory->isChecked());
        chkDelFolderNum->setChecked(s.DelFolderNum);
        tbBuffSize->setValue(s.BuffMegaSize);
        ShowBuffSize(tbBuffSize->value());
        chkIgnoredSingleBind->setChecked(s.IgnoredSingleBind);
        const int same = static_cast<int>(s.SameFolderProc);
        lstSameFolderProc->setCurrentRow(same < lstSameFolderProc->count() ? same : -1);
        chkAlertAbsExpand->setChecked(s.AlertAbsExpand);
        chkConfirmIgnore->setChecked(s.ConfirmIgnore);

        txtBindNum->setText(QString::number(s.BindNum));
        udBindNum->SetPosition(s.BindNum);

        chkAssocZip->setChecked(VerbsRegistered("zip"));
        chkAssocLzh->setChecked(VerbsRegistered("lzh"));
        chkAssocCab->setChecked(VerbsRegistered("cab"));
        chkAssocRar->setChecked(VerbsRegistered("rar"));

        chkPreventOverlapping->setChecked(s.PreventOverlapping);
    } catch (...) {
        // The dialog still opens with what was filled.
    }
}

void TfrmOption::btnOKClick() {
    SettingsBlock& s = settings_;
    s.BindFolder = chkBindFolder->isChecked();
    s.ShowEndDlg = chkShowEndDlg->isChecked();
    if (int id = bgOverWrite->checkedId(); id >= 0) s.OverWrite = static_cast<TOverWrite>(id);
    s.CheckDangerPath = chkCheckDangerPath->isChecked();
    s.ConfirmSendTo = chkConfirmSendTo->isChecked();
    s.ConfirmDelete = chkConfirmDelete->isChecked();
    s.CheckDiv = chkCheckDiv->isChecked();
    s.ExtraFormats = chkExtraFormats->isChecked();
    s.DelFolderNum = chkDelFolderNum->isChecked();
    s.BuffMegaSize = tbBuffSize->value();

    // The shell operations swallow their own errors; a failed one leaves its flag alone.
    if (chkSendTo->isChecked()) {
        if (CreateSendToLink() == TShellChange::Done) s.ResistSendTo = true;
    } else {
        if (RemoveSendToLink() == TShellChange::Done) s.ResistSendTo = false;
    }
    if (chkProgramMenu->isChecked()) {
        CreateProgramMenuLink();
        s.ProgramMenuCreated = true;  // a failed save still counts as done
    } else {
        // An unchecked box takes the entry away again, so that the box always tells the truth.
        if (RemoveProgramMenuLink()) s.ProgramMenuCreated = false;
    }

    s.IgnoreDirectory = chkIgnoreDirectory->isChecked();
    s.IgnoredSingleBind = chkIgnoredSingleBind->isChecked();
    if (int row = lstSameFolderProc->currentRow(); row >= 0) s.SameFolderProc = static_cast<TSameFolderProc>(row);
    s.AlertAbsExpand = chkAlertAbsExpand->isChecked();
    s.ConfirmIgnore = chkConfirmIgnore->isChecked();

    s.AssocZip = chkAssocZip->isChecked();
    s.AssocRar = chkAssocRar->isChecked();
    s.AssocLzh = chkAssocLzh->isChecked();
    s.AssocCab = chkAssocCab->isChecked();
    s.AssocTar = chkAssocTar->isChecked();
    s.AssocGca = chkAssocGca->isChecked();
    s.PreventOverlapping = chkPreventOverlapping->isChecked();

    const std::pair<const char*, bool> verbs[] = {
        {"zip", s.AssocZip}, {"rar", s.AssocRar}, {"cab", s.AssocCab}, {"lzh", s.AssocLzh}};
    for (const auto& [extension, on] : verbs) {
        if (on) RegisterVerbs(extension);
        else RemoveVerbs(extension);
    }

    bool ok = false;
    const int bindNum = txtBindNum->text().trimmed().toInt(&ok);
    if (ok) s.BindNum = bindNum;

    accept();
}

}  // namespace norvex::ui
