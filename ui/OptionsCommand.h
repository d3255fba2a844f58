// The main window's "動作・オプション設定..." command: the options dialog over the window, and the
// window's own controls brought in step with what the dialog applied.
#pragma once

namespace norvex::ui {

class TfrmMain;

// Creates the options dialog as a child of main and connects main's options command to it.
void InstallOptionsDialog(TfrmMain& main);

}  // namespace norvex::ui
