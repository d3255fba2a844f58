// What every window of the program shares and that has to be set once for the whole application:
// Qt's own texts in Japanese, window titles exactly as the windows give them, and a style that never
// cuts a group title short.
#pragma once

class QApplication;

namespace norvex::ui {

// Call once, after the QApplication exists and before the first window is made. Returns whether
// Qt's Japanese translations were found (without them Qt's own dialogs stay in English).
bool PrepareApplication(QApplication& app);

}  // namespace norvex::ui
