// The order in which a file manager lists names: runs of digits compare by their value ("x2" before
// "x10"), letters without regard to ASCII case, and names that still tie by their bytes, so that the
// order is total and the same on every file system.
#pragma once
#include "platform/AnsiString.h"

namespace norvex {

bool NaturalLess(const AnsiString& a, const AnsiString& b);

}  // namespace norvex
