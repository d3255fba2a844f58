// Small desktop services of the shell: the folder-browse dialog, the two named special folders and
// bringing a window to the front.
#pragma once
#include <QString>

class QWidget;

namespace norvex::ui {

class TFileCtrl {
public:
    // Opens a folder dialog titled prompt. An initial folder longer than one character is preselected.
    // The dialog's top-left corner goes to (left, top), kept inside the screen; a 0 for either
    // centres it instead. True and the chosen path when the user confirmed; false and "" otherwise.
    bool BrowseForFolder(QWidget* owner, const QString& prompt, const QString& initialFolder, int left,
                         int top, QString& chosen);
};

// Where a dialog of size (w, h) goes on a screen of size (sw, sh) for a preferred (left, top).
struct TDialogPlace {
    int x = 0, y = 0;
};
TDialogPlace PlaceDialog(int left, int top, int w, int h, int sw, int sh);

// "desktop" or "mydocument": the folder's path (UTF-8); anything else gives "".
QString SpecialFolderPath(const QString& name);

// Restores a minimised window and makes it the active one.
void BringToFront(QWidget* window);

}  // namespace norvex::ui
