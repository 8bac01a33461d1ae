#include "app/Demo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

#include "calibration/RestorePoints.h"

namespace {

const QString SimulatorName = QStringLiteral("quenrix-ecu-sim");

std::unique_ptr<QTemporaryDir> MakeFolder()
{
    // The runtime folder is the user's alone, in memory, and emptied at logout: nothing of a
    // demo outlives the session even if this program is killed.
    QStringList bases;
    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty()) bases << runtime;
    bases << QDir::tempPath();
    for (const QString& base : bases) {
        const QFileInfo info(base);
        if (!info.isDir() || !info.isWritable()) continue;
        auto folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quenrix-demo-XXXXXX"));
        if (folder->isValid()) return folder;
    }
    return nullptr;
}

void KeepSettingsIn(const QString& folder)
{
    // Every QSettings made from here on, the window's and Qt's own (the file dialogs' history),
    // reads and writes inside the demo's folder; the system-wide scope is left out too, so that
    // no remembered port reaches the demo from anywhere.
    const QString path = folder + QStringLiteral("/settings");
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, path);
}

}  // namespace

DemoEcu::DemoEcu() = default;

DemoEcu::~DemoEcu()
{
    QString error;
    if (!Stop(&error)) std::fprintf(stderr, "quenrix: %s\n", qPrintable(error));
}

QString DemoEcu::Folder() const { return folder_ ? folder_->path() : QString(); }

qint64 DemoEcu::SimulatorProcess() const { return sim_ ? sim_->processId() : 0; }

QString DemoEcu::FindSimulator()
{
    // Installed, both programs are in /usr/bin; in a build folder, side by side as well.
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + SimulatorName;
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStandardPaths::findExecutable(SimulatorName);
}

bool DemoEcu::Start(const QStringList& simArgs, QString* error, int* exitStatus)
{
    *exitStatus = 1;
    const QString program = FindSimulator();
    if (program.isEmpty()) {
        *error = QStringLiteral("--demo needs the simulated ECU %1, which is neither beside this program (%2) nor on PATH")
                     .arg(SimulatorName, QCoreApplication::applicationDirPath());
        return false;
    }
    folder_ = MakeFolder();
    if (!folder_) {
        *error = QStringLiteral("--demo found no folder to work in (neither $XDG_RUNTIME_DIR nor %1 can be written)")
                     .arg(QDir::tempPath());
        return false;
    }
    KeepSettingsIn(folder_->path());
    // The simulator's calibrations are no engine's: their restore points go with the demo.
    calibration::SetRestorePointFolder(folder_->path() + QStringLiteral("/restore points"));
    const QString link = folder_->path() + QStringLiteral("/COM1");

    sim_ = std::make_unique<QProcess>();
    sim_->setProgram(program);
    // Its own options first, the link last: a name given with --link was refused before.
    sim_->setArguments(simArgs + QStringList{QStringLiteral("--link"), link});
    // Relative paths the user gives the simulator (--image) mean the folder they were typed in.
    sim_->setWorkingDirectory(QDir::currentPath());
    // The simulator's own messages (and its --trace) go where this program's go.
    sim_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim_->setChildProcessModifier([] {
        // A process group of its own: Ctrl+C in the terminal reaches this program, which closes
        // the window (letting a write in flight finish against the simulator) and then ends the
        // simulator. Should this program die without that, the simulator is told to stop.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    sim_->start();
    if (!sim_->waitForStarted(10000)) {
        *error = QStringLiteral("--demo could not start %1: %2").arg(program, sim_->errorString());
        return false;
    }
    // The simulator prints its terminal's path once its link is made.
    QDeadlineTimer deadline(15000);
    while (!sim_->canReadLine() && sim_->state() == QProcess::Running && !deadline.hasExpired())
        sim_->waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    // A line and the link mean it answers. Without the link, the line was its --help or
    // --version, or nothing came: it ends by itself, and what it printed is the answer.
    if (sim_->canReadLine() && QFileInfo(link).isSymLink()) {
        terminal_ = QString::fromLocal8Bit(sim_->readLine()).trimmed();
    } else if (sim_->state() == QProcess::Running && !sim_->waitForFinished(5000)) {
        *error = QStringLiteral("--demo: the simulated ECU made no link at %1 in 20 s").arg(link);
        return false;
    } else {
        const QByteArray said = sim_->readAllStandardOutput();
        std::fwrite(said.constData(), 1, static_cast<size_t>(said.size()), stdout);
        *exitStatus = sim_->exitStatus() == QProcess::NormalExit ? sim_->exitCode() : 1;
        if (*exitStatus != 0 || said.isEmpty())
            *error = QStringLiteral("--demo: the simulated ECU ended before it answered (status %1)").arg(*exitStatus);
        return false;
    }
    startDir_ = QDir::currentPath();
    if (!QDir::setCurrent(folder_->path())) {
        *error = QStringLiteral("--demo cannot work in %1").arg(folder_->path());
        return false;
    }
    return true;
}

bool DemoEcu::Stop(QString* error)
{
    if (sim_) {
        if (sim_->state() != QProcess::NotRunning) {
            sim_->terminate();   // it removes its link on the way out
            if (!sim_->waitForFinished(5000)) {
                sim_->kill();
                sim_->waitForFinished(5000);
            }
        }
        sim_.reset();
    }
    if (!startDir_.isEmpty()) {
        // The folder the program was started from may be gone by now; anywhere but the
        // folder about to be removed will do.
        if (!QDir::setCurrent(startDir_)) QDir::setCurrent(QDir::rootPath());
        startDir_.clear();
    }
    if (!folder_) return true;
    const QString path = folder_->path();
    const bool removed = folder_->remove();
    folder_.reset();
    if (!removed && error) *error = QStringLiteral("the demo's folder %1 could not be removed").arg(path);
    return removed;
}
