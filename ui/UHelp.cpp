// The help window: the bundled HTML page in a text browser.
#include "ui/UHelp.h"

#include <QFile>
#include <QFileInfo>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/DialogHooks.h"
#include "ui/Uversion.h"

namespace norvex::ui {

TfrmHelp::TfrmHelp(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("frmHelp");
    setWindowTitle("Norvex ヘルプ");
    setWindowIcon(TfrmVersion::ProgramIcon());
    resize(640, 560);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    txtHelp = new QTextBrowser(this);
    txtHelp->setObjectName("txtHelp");
    // Links that leave the page go to the desktop's browser when there is one.
    txtHelp->setOpenExternalLinks(true);
    layout->addWidget(txtHelp);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

bool TfrmHelp::Open(const QString& page, QString* error) {
    QFile file(page);
    if (!QFileInfo(page).isFile() || !file.open(QIODevice::ReadOnly)) {
        if (error) *error = QString("ヘルプのページを開けません: %1").arg(page);
        return false;
    }
    const QByteArray html = file.readAll();
    if (html.trimmed().isEmpty()) {
        if (error) *error = QString("ヘルプのページが空です: %1").arg(page);
        return false;
    }
    // The page is set from its own folder, so that relative links and pictures beside it resolve.
    const QUrl url = page.startsWith(":/") ? QUrl("qrc" + page) : QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath());
    txtHelp->setSource(url, QTextDocument::HtmlResource);
    if (txtHelp->document()->isEmpty()) {
        if (error) *error = QString("ヘルプのページを表示できません: %1").arg(page);
        return false;
    }
    const QString title = txtHelp->documentTitle();
    setWindowTitle(title.isEmpty() ? QString("Norvex ヘルプ") : title);
    return true;
}

QString BuiltInHelpPage() {
    EnsureBuiltInResources();
    return QStringLiteral(":/help/index.html");
}

bool ShowHelp(QWidget* owner, const QStringList& pages) {
    auto* help = owner ? owner->findChild<TfrmHelp*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    const bool made = !help;
    if (made) help = new TfrmHelp(owner);
    QStringList errors;
    bool shown = false;
    for (const QString& page : pages) {
        QString error;
        if ((shown = help->Open(page, &error))) break;
        errors << error;
    }
    if (!shown) {
        if (made) delete help;
        ShowMessageBox(owner, "ヘルプを開けませんでした。\n" + errors.join("\n"), "ヘルプ", TMsgButtons::Ok,
                       TMsgIcon::Warning);
        return false;
    }
    help->show();
    help->raise();
    help->activateWindow();
    return true;
}

}  // namespace norvex::ui
