// The one place the program keeps what a user chose between runs (the port, the dialogs' folders,
// the switches): ~/.config/Quenrix/Quenrix.conf. Tests and the demo point QSettings' user scope
// at a folder of their own with QSettings::setPath, which this follows.
#pragma once

#include <QSettings>

namespace base {

inline QSettings UserSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quenrix"), QStringLiteral("Quenrix"));
}

}  // namespace base
