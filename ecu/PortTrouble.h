// What to tell a user whose port cannot be opened: the device, the reason and what to do about
// it, as a line for under the port box and a short form for the status bar.
#pragma once

#include <QString>
#include <QStringList>

#include "ecu/SerialPlatform.h"

namespace serial {

struct PortTrouble {
    QString line;    // whole sentences: device, reason, fix
    QString panel;   // a few words for the status bar
};

// `port` is the name as the user gave it; `reason` the component's short reason, used when the
// failure carries no detail; `present` the ports that are there now (for a missing one).
PortTrouble DescribeOpenFailure(const QString& port, const OpenFailure& failure, const QString& reason,
                                const QStringList& present);

}  // namespace serial
