// The options command of the main window.
#include "ui/OptionsCommand.h"

#include "ui/UForm.h"
#include "ui/UfrmOption.h"

namespace norvex::ui {

void InstallOptionsDialog(TfrmMain& main) {
    auto* dialog = new TfrmOption(&main);
    main.ShowOptionsDialog = [dialog](TfrmMain& w) {
        dialog->exec();
        // The mode panel and the ignore-folders button show the mode now in force.
        w.RefreshModePanel();
    };
}

}  // namespace norvex::ui
