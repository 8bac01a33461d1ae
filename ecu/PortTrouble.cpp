#include "ecu/PortTrouble.h"

#include <QFileInfo>

namespace serial {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

PortTrouble DescribeOpenFailure(const QString& port, const OpenFailure& f, const QString& reason,
                                const QStringList& present)
{
    using K = OpenFailure::Kind;
    const QString device = Q(f.device);
    // "COM1 (/dev/ttyS0)" when the name stands for another path, else the path alone.
    const QString named = device.isEmpty() || QFileInfo(port).absoluteFilePath() == QFileInfo(device).absoluteFilePath()
                              ? port
                              : port + QStringLiteral(" (") + device + QLatin1Char(')');
    const QString shortName = QFileInfo(port).fileName().isEmpty() ? port : QFileInfo(port).fileName();
    PortTrouble t;
    switch (f.kind) {
    case K::NoPermission:
        if (f.group.empty()) {
            t.line = QStringLiteral("Cannot open %1: permission denied. This user may not read and write it; "
                                    "ls -l %2 shows who may, ask whoever runs this computer for access.")
                         .arg(named, device.isEmpty() ? port : device);
            t.panel = QStringLiteral("Status- %1: no permission").arg(shortName);
        } else if (f.groupNeedsLogin) {
            t.line = QStringLiteral("Cannot open %1: permission denied. You were added to the group '%2' that may "
                                    "use it, but this login started before that: log out and log in again "
                                    "(a new login is needed).")
                         .arg(named, Q(f.group));
            t.panel = QStringLiteral("Status- %1: log in again (group %2)").arg(shortName, Q(f.group));
        } else {
            t.line = QStringLiteral("Cannot open %1: permission denied. You are not in the group '%2' that may use "
                                    "it. Join it with: sudo adduser $USER %2 and then log out and log in again "
                                    "(a new login is needed).")
                         .arg(named, Q(f.group));
            t.panel = QStringLiteral("Status- %1: no permission (group %2)").arg(shortName, Q(f.group));
        }
        break;
    case K::Busy:
        if (!f.holder.empty()) {
            t.line = QStringLiteral("Cannot open %1: it is in use by %2 (process %3). Close that program; "
                                    "the port is opened as soon as it is free.")
                         .arg(named, Q(f.holder))
                         .arg(f.holderPid);
            t.panel = QStringLiteral("Status- %1: in use by %2 (%3)").arg(shortName, Q(f.holder)).arg(f.holderPid);
        } else {
            t.line = QStringLiteral("Cannot open %1: it is in use by another program. Close that program "
                                    "(a terminal program, ModemManager); the port is opened as soon as it is free.")
                         .arg(named);
            t.panel = QStringLiteral("Status- %1: in use").arg(shortName);
        }
        break;
    case K::Missing:
        t.line = QStringLiteral("Cannot open %1: there is no such device (not plugged in?). ").arg(named)
                 + (present.isEmpty() ? QStringLiteral("No serial ports are there now.")
                                      : QStringLiteral("Ports there now: %1.").arg(present.join(QStringLiteral(", "))));
        t.panel = QStringLiteral("Status- %1 not plugged in?").arg(shortName);
        break;
    case K::NotSerial:
    case K::PeoplesTerminal:
        t.line = QStringLiteral("Cannot open %1: it is %2. Pick the ECU's serial port from the list.")
                     .arg(named, Q(f.what));
        t.panel = QStringLiteral("Status- %1: not a serial port").arg(shortName);
        break;
    case K::None:
    case K::Other:
        t.line = QStringLiteral("Cannot open %1: %2.").arg(named, reason.isEmpty() ? Q(f.reason) : reason);
        t.panel = QStringLiteral("Status- %1: cannot open").arg(shortName);
        break;
    }
    return t;
}

}  // namespace serial
