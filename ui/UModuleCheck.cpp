// The module check dialog.
#include "ui/UModuleCheck.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/ModuleLoader.h"
#include "util/Paths.h"
#include "ui/QtAnsi.h"

namespace norvex::ui {
namespace {

struct KnownModule {
    const char* format;
    const char* dll;
    const char* prefix;
};

// The family as the drivers use it: the four formats the start-up check reports first.
constexpr KnownModule kModules[] = {
    {"LHA", "UNLHA32.DLL", "Unlha"},   {"ZIP", "UNZIP32.DLL", "UnZip"},
    {"CAB", "CAB32.DLL", "Cab"},       {"RAR", "UNRAR32.DLL", "Unrar"},
    {"TAR", "TAR32.DLL", "Tar"},       {"ZIP (圧縮)", "ZIP32J.DLL", "Zip"},
    {"7z", "7-zip32.dll", "SevenZip"}, {"ARJ", "UNARJ32J.DLL", "Unarj"},
    {"YZ1", "YZ1.DLL", "Yz1"},         {"GZA/BGA", "BGA32.DLL", "Bga"},
    {"GCA", "UnGCA32.DLL", "UnGCA"},
};

}  // namespace

QString TModuleStatus::StatusText() const {
    switch (kind) {
    case Ok: return "OK";
    case Missing: return "見つかりません";
    case NotLoadable: return "読み込めません";
    case NoEntry: return "関数 " + prefix + " がありません";
    }
    return QString();
}

std::vector<TModuleStatus> CheckModules() {
    std::vector<TModuleStatus> result;
    const AnsiString folder = NormalizeHostPath(ModuleFolder());
    for (const KnownModule& m : kModules) {
        TModuleStatus s;
        s.format = m.format;
        s.dllName = m.dll;
        s.prefix = m.prefix;
        s.path = ToQ(folder + PathDelim + ModuleFileName(m.dll));
        if (!QFileInfo::exists(s.path)) {
            s.kind = TModuleStatus::Missing;
        } else if (ModuleHandle h = LoadModule(m.dll)) {
            s.kind = ModuleSymbol(h, m.prefix) ? TModuleStatus::Ok : TModuleStatus::NoEntry;
            FreeModule(h);
        } else {
            s.kind = TModuleStatus::NotLoadable;
        }
        result.push_back(s);
    }
    return result;
}

TfrmModuleCheck::TfrmModuleCheck(QWidget* parent) : QDialog(parent) {
    setObjectName("frmModuleCheck");
    setWindowTitle("書庫モジュールの確認");

    auto* folder = new QLabel(this);
    folder->setObjectName("lblModuleFolder");
    folder->setText("モジュールの場所: " + ToQ(NormalizeHostPath(ModuleFolder())));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel(this);
    hint->setObjectName("lblModuleHint");
    hint->setText("見つからないモジュールは、パッケージ norvex を入れ直す（apt-get install --reinstall norvex）か、"
                  "モジュールファイルをこの場所に置いてください。");
    hint->setWordWrap(true);

    lvModules = new QTableWidget(0, 4, this);
    lvModules->setObjectName("lvModules");
    lvModules->setHorizontalHeaderLabels({"形式", "DLL名", "状態", "モジュールファイル"});
    lvModules->verticalHeader()->hide();
    lvModules->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvModules->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvModules->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* again = buttons->addButton("再チェック", QDialogButtonBox::ActionRole);
    connect(again, &QPushButton::clicked, this, &TfrmModuleCheck::Refresh);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(folder);
    layout->addWidget(hint);
    layout->addWidget(lvModules, 1);
    layout->addWidget(buttons);
    resize(720, 360);
    Refresh();
}

void TfrmModuleCheck::Refresh() {
    const auto statuses = CheckModules();
    lvModules->setRowCount(int(statuses.size()));
    for (int row = 0; row < int(statuses.size()); ++row) {
        const TModuleStatus& s = statuses[row];
        const QString cells[] = {s.format, s.dllName, s.StatusText(), s.path};
        for (int col = 0; col < 4; ++col) lvModules->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    lvModules->resizeColumnsToContents();
}

}  // namespace norvex::ui
