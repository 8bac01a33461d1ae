// Drives the real window against the simulated ECU over a pseudo-terminal. Each test runs in
// a fresh temporary folder holding the simulator's link COM1, so the window finds the ECU at
// start-up exactly as it does for a user, and files the test writes stay inside that folder.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "app/Mainform.h"
#include "tools/ecu-sim/EcuSim.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulated ECU (link COM1 in the test's folder) and then the window.
    // Tests that need the ECU set up differently call StartSim/StartWindow themselves
    // after setting autoStart = false in their constructor.
    void StartSim(sim::SimOptions options = {});
    void StartWindow();

    // Waits (processing events) until cond holds; false after timeoutMs.
    static bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000);
    // Handles events for ms milliseconds at full speed (QTest::qWait sleeps in 10 ms steps).
    static void Pump(int ms);
    // Waits until the first EEPROM read has completed (ReadPending cleared).
    bool WaitForReadComplete(int timeoutMs = 10000);
    // The commands the simulator received, as letters ("VRRR...").
    std::string ReceivedLetters() const;
    // The commands received since the mark, and a mark for "from now on".
    std::vector<sim::Command> ReceivedSince(size_t mark) const;
    size_t Mark() const { return ecu->ReceivedCount(); }
    // The frames with each run of the same frame sent again (a step retried on a slow reply)
    // kept once: what the ECU was asked to do, in order.
    static std::vector<sim::Command> Distinct(const std::vector<sim::Command>& frames);
    // A path inside the test's folder.
    QString Path(const QString& name) const { return dir.filePath(name); }

    // For what needs a process of its own (to be signalled, to end, to race another): this test
    // program run again with only the running test selected and QX_CHILD set to `role`, the
    // test's folder as XDG_DATA_HOME. stdin, stdout and stderr are the given descriptors. The
    // test reads its role with ChildRole() and plays the child's part when it has one.
    pid_t SpawnSelf(const QString& role, int in, int out, int err) const;
    static QString ChildRole() { return qEnvironmentVariable("QX_CHILD"); }
    // The child's wait status; -1 when it did not end within timeoutMs (it is then killed).
    static int WaitChild(pid_t child, int timeoutMs);

    bool autoStart = true;
    QTemporaryDir dir;
    QString previousDir;
    QByteArray previousDataHome;
    bool hadDataHome = false;
    std::unique_ptr<sim::EcuSim> ecu;
    std::unique_ptr<TForm1> form;
};
