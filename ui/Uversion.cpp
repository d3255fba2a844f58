// The version dialog.
#include "ui/Uversion.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#ifndef NORVEX_VERSION
#define NORVEX_VERSION "0.0.0"
#endif

// Outside every namespace, as the resource initialiser's name is global.
static void InitNorvexResources() { Q_INIT_RESOURCE(norvex); }

namespace norvex::ui {

void EnsureBuiltInResources() {
    static const bool done = (InitNorvexResources(), true);
    (void)done;
}

QString TfrmVersion::FileVersion() { return QStringLiteral(NORVEX_VERSION); }

QIcon TfrmVersion::ProgramIcon() {
    EnsureBuiltInResources();
    static const QIcon icon(":/icons/norvex.svg");
    return icon;
}

TfrmVersion::TfrmVersion(QWidget* parent) : QDialog(parent) {
    setObjectName("frmVersion");
    setWindowTitle("バージョン情報");
    setWindowIcon(ProgramIcon());

    imgLogo = new QLabel(this);
    imgLogo->setObjectName("imgLogo");
    imgLogo->setPixmap(ProgramIcon().pixmap(64, 64));

    auto* title = new QLabel("<b>Norvex</b>", this);
    title->setObjectName("lblTitle");
    lblVersion = new QLabel("Version " + FileVersion(), this);
    lblVersion->setObjectName("lblVersion");
    auto* about = new QLabel("書庫の一括解凍ツール", this);
    about->setObjectName("lblComment");

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(lblVersion);
    text->addWidget(about);
    text->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(imgLogo, 0, Qt::AlignTop);
    row->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(300, 140)));
}

}  // namespace norvex::ui
