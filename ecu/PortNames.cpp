#include "ecu/PortNames.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QRegularExpression>

#include "ecu/SerialPlatform.h"

#include <algorithm>

namespace serial {

namespace {

QDir StartFolder(const PortFolders& folders)
{
    return folders.start.isEmpty() ? QDir::current() : QDir(folders.start);
}

// COMn links in the start folder beyond the eight always offered (the simulated ECU makes such
// links; so may a user who likes Windows names).
QStringList ComLinks(const PortFolders& folders)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"));
    QStringList names;
    const QDir start = StartFolder(folders);
    for (const QString& entry : start.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const auto match = com.match(entry);
        if (match.hasMatch() && match.captured(1).toInt() > 8 && match.captured(1).toInt() <= 256) names << entry;
    }
    return names;
}

QStringList ByIdNames(const PortFolders& folders)
{
    QStringList names;
    const QDir byId(folders.byId);
    for (const QString& entry : byId.entryList(QDir::System | QDir::Files, QDir::Name)) names << byId.filePath(entry);
    return names;
}

QStringList AdapterNames(const PortFolders& folders)
{
    QStringList names;
    const QDir dev(folders.dev);
    for (const QString& entry :
         dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System, QDir::Name))
        names << dev.filePath(entry);
    // ttyUSB10 after ttyUSB9, not after ttyUSB1.
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(names.begin(), names.end(), natural);
    return names;
}

}  // namespace

QStringList OfferedPortNames(const PortFolders& folders)
{
    QStringList names;
    for (int n = 1; n <= 8; ++n) names << QStringLiteral("COM%1").arg(n);
    names << ComLinks(folders);
    // /dev/serial/by-id names survive replugging and reboots, so they come first.
    names << ByIdNames(folders) << AdapterNames(folders);
    return names;
}

QStringList PresentPorts(const PortFolders& folders)
{
    QStringList present;
    const QDir start = StartFolder(folders);
    for (int n = 1; n <= 256; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        const QFileInfo link(start.filePath(name));
        if (link.isSymLink() && looksLikeSerialDevice(start.filePath(name).toStdString())) present << name;
    }
    for (const QString& name : ByIdNames(folders) + AdapterNames(folders))
        if (looksLikeSerialDevice(name.toStdString())) present << name;
    return present;
}

QString StableName(const QString& path, const PortFolders& folders)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) return {};
    if (QFileInfo(path).absolutePath() == QDir(folders.byId).absolutePath()) return QFileInfo(path).absoluteFilePath();
    for (const QString& name : ByIdNames(folders))
        if (QFileInfo(name).canonicalFilePath() == target) return name;
    return {};
}

PortWatch::PortWatch(PortFolders folders, QObject* parent)
    : QObject(parent), folders_(std::move(folders)), watcher_(new QFileSystemWatcher(this))
{
    settle_.setSingleShot(true);
    settle_.setInterval(25);   // udev makes the node first and its by-id link a moment later
    connect(&settle_, &QTimer::timeout, this, [this] {
        Watch();
        Rebuild();
    });
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
    Watch();
    names_ = OfferedPortNames(folders_);
}

void PortWatch::Watch()
{
    QStringList wanted{folders_.dev, StartFolder(folders_).absolutePath()};
    // /dev/serial/by-id exists only while some adapter is plugged in; until then its parent
    // (or the parent's parent) is watched for it to appear.
    QString byId = QDir::cleanPath(folders_.byId);
    while (!byId.isEmpty() && !QFileInfo(byId).isDir()) {
        const QString parent = QFileInfo(byId).path();
        if (parent == byId) break;
        byId = parent;
    }
    wanted << byId;
    const QStringList watched = watcher_->directories();
    for (const QString& folder : watched)
        if (!wanted.contains(folder)) watcher_->removePath(folder);
    for (const QString& folder : wanted)
        if (!folder.isEmpty() && !watched.contains(folder) && QFileInfo(folder).isDir()) watcher_->addPath(folder);
}

void PortWatch::Rebuild()
{
    // Told even when the names are the same: a name may now lead to another device (a by-id
    // link made again for an adapter plugged back in).
    const QStringList names = OfferedPortNames(folders_);
    QStringList appeared;
    for (const QString& name : names)
        if (!names_.contains(name)) appeared << name;
    names_ = names;
    if (OnChanged) OnChanged(names_, appeared);
}

}  // namespace serial
