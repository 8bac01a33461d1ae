// Names offered in the port box: COM1 to COM8 (a COMn that names no file here means
// /dev/ttyS(n-1)), then the serial devices this machine has, stable names first.
#pragma once

#include <QStringList>

namespace serial {
QStringList OfferedPortNames();
}
