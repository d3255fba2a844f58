// Always-on-top without re-creating the native window.
#include "ui/TopMost.h"

#include <QWidget>
#include <QWindow>

namespace norvex::ui {

void SetStaysOnTop(QWidget* window, bool on) {
    if (!window || StaysOnTop(window) == on) return;
    Qt::WindowFlags flags = window->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, on);
    // QWidget::setWindowFlags destroys the native window and makes a new one: the window flickers,
    // gets a new id, and a box that was owned by the old one can end up behind the new one. The
    // widget's record of its flags is updated on its own instead, and the live native window is told
    // of the change (on X11 this is the _NET_WM_STATE_ABOVE request to the window manager).
    window->overrideWindowFlags(flags);
    if (QWindow* handle = window->windowHandle()) handle->setFlags(flags);
}

bool StaysOnTop(const QWidget* window) {
    return window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

}  // namespace norvex::ui
