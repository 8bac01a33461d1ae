#include "ecu/PortNames.h"

#include <QDir>

namespace serial {

QStringList OfferedPortNames()
{
    QStringList names;
    for (int n = 1; n <= 8; ++n) names << QStringLiteral("COM%1").arg(n);
    // /dev/serial/by-id names survive replugging and reboots, so they come first.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QString& entry : byId.entryList(QDir::System | QDir::Files, QDir::Name))
        names << byId.filePath(entry);
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& entry :
         dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System, QDir::Name))
        names << dev.filePath(entry);
    return names;
}

}  // namespace serial
