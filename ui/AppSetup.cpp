// Application-wide set-up of the windows: translations, titles and the style.
#include "ui/AppSetup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTranslator>

namespace norvex::ui {

namespace {

// Some styles (Fusion among them) size a group box's title by the ink of its glyphs rather than by
// how far the text advances. A title that starts or ends with a full-width bracket, 「セキュリティ」
// for one, then loses its last character. The title's rectangle is widened to the text's advance.
class TFullTitleStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        QRect r = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control != CC_GroupBox || sub != SC_GroupBoxLabel) return r;
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (!box || box->text.isEmpty()) return r;
        const int needed = box->fontMetrics.size(Qt::TextShowMnemonic, box->text).width() + 2;
        const int missing = needed - r.width();
        if (missing <= 0) return r;
        if (box->textAlignment & Qt::AlignRight)
            r.setLeft(r.left() - missing);
        else if (box->textAlignment & Qt::AlignHCenter)
            r.adjust(-missing / 2, 0, missing - missing / 2, 0);
        else
            r.setRight(r.right() + missing);
        return r.intersected(option->rect);
    }
};

bool LoadQtJapanese(QApplication& app) {
    // The windows speak Japanese whatever the desktop's language is, so Qt's own parts (file
    // dialogs, the edit fields' context menus, standard buttons) do too.
    auto* translator = new QTranslator(&app);
    if (!translator->load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace

bool PrepareApplication(QApplication& app) {
    // On X11, Qt appends " — <display name>" to every window title once a display name is set; the
    // titles are left exactly as each window gives them (an empty display name ends every title).
    QGuiApplication::setApplicationDisplayName(QString());
    QApplication::setStyle(new TFullTitleStyle(QApplication::style()->name()));
    return LoadQtJapanese(app);
}

}  // namespace norvex::ui
