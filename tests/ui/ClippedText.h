// Finds the texts a window shows cut short: captions of labels, buttons and check boxes, group
// titles, the items of combo boxes and the headings of lists, each measured against the room the
// layout gave it at the window's current font.
#pragma once
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QTreeView>

namespace norvex::test {

namespace clipped_detail {

inline QString Name(const QWidget* w) {
    return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

inline int TextWidth(const QWidget* w, const QString& text) {
    return w->fontMetrics().size(Qt::TextShowMnemonic, text).width();
}

inline void CheckButton(const QAbstractButton* b, QStringList& out) {
    if (b->text().isEmpty()) return;
    int need = 0;
    if (qobject_cast<const QPushButton*>(b)) {
        // A push button's size hint has a minimum width of its own; the caption needs its text, its
        // icon, the button margin and the frame.
        const QStyle* s = b->style();
        need = TextWidth(b, b->text()) + s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
               2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        if (!b->icon().isNull()) need += b->iconSize().width() + 4;
    } else {
        need = b->sizeHint().width();
    }
    if (b->width() < need)
        out << QString("%1 \"%2\": %3 px for %4").arg(Name(b), b->text()).arg(b->width()).arg(need);
}

inline void CheckLabel(const QLabel* l, QStringList& out) {
    if (l->text().isEmpty() || l->wordWrap()) return;
    const QSize hint = l->sizeHint();
    if (l->width() < hint.width() || l->height() < hint.height())
        out << QString("%1 \"%2\": %3x%4 for %5x%6")
                   .arg(Name(l), l->text())
                   .arg(l->width())
                   .arg(l->height())
                   .arg(hint.width())
                   .arg(hint.height());
}

inline void CheckGroup(const QGroupBox* g, QStringList& out) {
    if (g->title().isEmpty()) return;
    QStyleOptionGroupBox option;
    option.initFrom(g);
    option.text = g->title();
    option.lineWidth = 1;
    option.textAlignment = g->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable()) option.subControls |= QStyle::SC_GroupBoxCheckBox;
    if (g->isFlat()) option.features |= QStyleOptionFrame::Flat;
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, g);
    const int need = TextWidth(g, g->title());
    if (label.width() < need || label.right() >= g->width())
        out << QString("%1 \"%2\": title room %3 px for %4").arg(Name(g), g->title()).arg(label.width()).arg(need);
}

inline void CheckCombo(const QComboBox* c, QStringList& out) {
    QStyleOptionComboBox option;
    option.initFrom(c);
    option.editable = c->isEditable();
    option.frame = c->hasFrame();
    option.subControls = QStyle::SC_All;
    int room = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c).width();
    if (c->isEditable() && c->lineEdit()) room = c->lineEdit()->width() - 4;  // the edit's own margins
    for (int i = 0; i < c->count(); ++i) {
        const QString text = c->itemText(i);
        int need = TextWidth(c, text);
        if (!c->isEditable() && !c->itemIcon(i).isNull()) need += c->iconSize().width() + 4;
        if (need > room) out << QString("%1 item \"%2\": %3 px for %4").arg(Name(c), text).arg(room).arg(need);
    }
}

// Every heading's text lies inside the list's visible width and inside its own column.
inline void CheckHeadings(const QTreeView* view, QStringList& out) {
    const QHeaderView* header = view->header();
    if (header->isHidden() || !view->model()) return;
    const int visible = view->viewport()->width();
    for (int i = 0; i < header->count(); ++i) {
        if (header->isSectionHidden(i)) continue;
        const QString text = view->model()->headerData(i, Qt::Horizontal).toString().trimmed();
        if (text.isEmpty()) continue;
        const int need = header->sectionSizeHint(i);
        const int left = header->sectionViewportPosition(i);
        const int size = header->sectionSize(i);
        const bool right = view->model()->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
        const int textWidth = TextWidth(header, text);
        const int textLeft = right ? left + size - textWidth : left;
        if (size < need || textLeft < 0 || textLeft + textWidth > visible)
            out << QString("%1 column \"%2\": at %3, %4 px wide, list %5 px, heading needs %6")
                       .arg(Name(view), text)
                       .arg(left)
                       .arg(size)
                       .arg(visible)
                       .arg(need);
    }
}

}  // namespace clipped_detail

// Describes every visible text of window that does not fit; empty when everything fits. Combo boxes
// named in userText hold the user's own entries (folder paths), whose length no layout can promise.
inline QStringList ClippedTexts(QWidget* window, const QSet<QString>& userText = {}) {
    using namespace clipped_detail;
    QStringList out;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(window) || w->window() != window) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) CheckButton(b, out);
        else if (auto* l = qobject_cast<QLabel*>(w)) CheckLabel(l, out);
        else if (auto* g = qobject_cast<QGroupBox*>(w)) CheckGroup(g, out);
        else if (auto* c = qobject_cast<QComboBox*>(w); c && !userText.contains(c->objectName())) CheckCombo(c, out);
        else if (auto* v = qobject_cast<QTreeView*>(w)) CheckHeadings(v, out);
    }
    return out;
}

}  // namespace norvex::test
