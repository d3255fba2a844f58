// Crossing between the cp932 text of the core and Qt's QString (UTF-8 on the Linux side).
#pragma once
#include <QString>

#include "platform/AnsiCodec.h"
#include "platform/AnsiString.h"

namespace norvex::ui {

inline QString ToQ(const AnsiString& ansi) { return QString::fromStdString(FromAnsi(ansi)); }
// Names the codec cannot carry any more (a full table) come back as far as they could be converted.
inline AnsiString FromQ(const QString& text) {
    AnsiString out;
    TryToAnsi(text.toStdString(), out);
    return out;
}

}  // namespace norvex::ui
