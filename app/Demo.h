// quenrix --demo: the simulated ECU started for this run alone, so that someone who installed
// the program can try it with one command, from a menu as well as from a terminal.
//
// The simulator runs in a folder of its own ($XDG_RUNTIME_DIR/quenrix-demo-XXXXXX, else the
// temporary folder), and the program works from that folder, where the simulator's link COM1
// is: the window finds the ECU at start-up as it finds one anywhere, by the port it opens
// first. Remembered settings are kept inside the folder too, so a demo neither reads the port
// the user chose for a real ECU (a probe must not go to real hardware) nor changes it.
// Stop() (and the destructor) ends the simulator and removes the folder with all it holds.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

class DemoEcu {
public:
    DemoEcu();
    ~DemoEcu();
    DemoEcu(const DemoEcu&) = delete;
    DemoEcu& operator=(const DemoEcu&) = delete;

    // Makes the folder, moves the remembered settings and the working folder into it, starts
    // the simulator with simArgs and waits for its link. On failure *error says why for one line
    // on stderr, and *exitStatus is the simulator's own when it ended by itself (its --help or
    // --version, or an option it refused, whose output has reached this program's), else 1.
    bool Start(const QStringList& simArgs, QString* error, int* exitStatus);
    // Ends the simulator (it removes its link), goes back to the working folder of the start
    // and removes the demo's folder. False, with *error, when something could not be removed.
    bool Stop(QString* error = nullptr);

    QString Folder() const;          // empty before Start
    QString Terminal() const { return terminal_; }   // the simulator's pseudo-terminal
    qint64 SimulatorProcess() const;

    // The installed simulator beside this program, else the one on PATH; empty when neither.
    static QString FindSimulator();

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<QProcess> sim_;
    QString startDir_;
    QString terminal_;
};
