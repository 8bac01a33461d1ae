// The serial ports of this machine as the port box offers them, kept up to date while devices
// come and go: COM1 to COM8 (a COMn that names no file in the start folder means
// /dev/ttyS(n-1)), further COMn links of the start folder, the stable /dev/serial/by-id names,
// then the USB adapters' own names (/dev/ttyUSBn, /dev/ttyACMn).
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QFileSystemWatcher;

namespace serial {

// Where the list is built from. Tests point these at folders of their own.
struct PortFolders {
    QString dev = QStringLiteral("/dev");
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString start;   // the folder COMn links are looked for in; empty: the current folder
};

QStringList OfferedPortNames(const PortFolders& folders = {});

// The devices that are there now (by-id names, USB adapters, COMn links that lead somewhere):
// what a user who named a missing one may have meant.
QStringList PresentPorts(const PortFolders& folders = {});

// The /dev/serial/by-id name that leads to the same device as `path`, or "" when there is none.
// Such a name stays the same when the adapter comes back as /dev/ttyUSB1 instead of ttyUSB0.
QString StableName(const QString& path, const PortFolders& folders = {});

// Watches the folders the list is built from and rebuilds it when an entry comes or goes
// (inotify, no polling). A burst of changes (udev makes the node, then its links) is told once.
class PortWatch : public QObject {
    Q_OBJECT
public:
    explicit PortWatch(PortFolders folders = {}, QObject* parent = nullptr);

    const QStringList& Names() const { return names_; }
    // Builds the list now and tells OnChanged.
    void Rebuild();

    // The list, after a change in the folders or a Rebuild, and the names in it that were not in
    // the last one.
    std::function<void(const QStringList& names, const QStringList& appeared)> OnChanged;

private:
    void Watch();   // (re)arms the watches: /dev/serial/by-id may appear after start

    PortFolders folders_;
    QFileSystemWatcher* watcher_;
    QTimer settle_;
    QStringList names_;
};

}  // namespace serial
