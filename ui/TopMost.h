// Always-on-top for a window that may already be on screen, without re-creating its native window.
#pragma once

class QWidget;

namespace norvex::ui {

// Sets or clears the stays-on-top hint of window. The widget's flags and its native window's flags
// change together, so the native window is kept (same id, never hidden and shown again, message
// boxes keep their owner); a window manager is asked to move it into or out of its top layer.
void SetStaysOnTop(QWidget* window, bool on);
bool StaysOnTop(const QWidget* window);

}  // namespace norvex::ui
