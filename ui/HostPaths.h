// Paths as the window meets them. Names that are not UTF-8 (cp932 bytes from disks written on
// Windows, say) enter from the command line, from drops and from the folder dialogs and reach the
// engine byte for byte; the list, the log and the folder combos show them readably.
#pragma once
#include <QString>
#include <string>
#include <vector>

#include "platform/AnsiString.h"

class QComboBox;
class QMimeData;

namespace norvex::ui {

// Text of the core for the eye. Runs of the host's bytes that are not UTF-8 are read as cp932, so a
// name from a Windows disk shows its Japanese; what is neither shows as U+FFFD.
QString ToDisplay(const AnsiString& text);
QString HostBytesToDisplay(const std::string& host);
// A name in a list, a title or a label: as ToDisplay, with the control characters a name may carry
// (CR, ESC, bidirectional overrides, ...) escaped as the log shows them ("\x0d", engine/ShownText.h),
// so that "a\rb.zip" never passes for "ab.zip". Not for the edit fields, whose text is the path.
QString ToShown(const AnsiString& name);
QString HostBytesToShown(const std::string& host);

// The local paths of a drop, taken from the raw text/uri-list so that percent-encoded bytes which are
// not UTF-8 survive (QUrl::toLocalFile would turn them into U+FFFD). Remote URLs are left out.
std::vector<AnsiString> DroppedPaths(const QMimeData* mime);

// A path chosen in a Qt file dialog. Qt shows a name that is not UTF-8 with U+FFFD in it, so a
// component that does not exist as written is looked up among the folder's real names by the way Qt
// shows them; one match is taken, otherwise the text stays as it is.
AnsiString ChosenPath(const QString& chosen);

// The folder combos keep each remembered path's bytes beside its shown text (ToShown: a CR in a
// folder's name is seen, so two lines that differ by one never look alike).
void SetPathItem(QComboBox* combo, int index, const AnsiString& path);
void InsertPathItem(QComboBox* combo, int index, const AnsiString& path);
// Puts path in the edit field as shown, keeping its bytes for as long as the field shows that text.
void SetPathEditText(QComboBox* combo, const AnsiString& path);
// The path behind text: the bytes of the chosen line, of the path put in the field or of the
// remembered line that shows exactly text, else the text as typed.
AnsiString ComboPath(const QComboBox* combo, const QString& text);
// The path of line index (its bytes when known).
AnsiString ComboItemPath(const QComboBox* combo, int index);

// What the desktop is asked to open for a folder: the path itself, or a file URL with the bytes
// percent-encoded when the path is not UTF-8.
QString DesktopTarget(const AnsiString& path);

}  // namespace norvex::ui
