// TZComm against real pseudo-terminal pairs: the component opens the slave side as its
// device, the test plays the far end on the master side.
#include <gtest/gtest.h>

#include "ecu/Zcomm.h"
#include "tests/support/Terminals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QEvent>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// A pseudo-terminal pair. The test also holds the slave open, before any component does, to
// look at its line settings.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        char name[128] = {};
        EXPECT_EQ(::ptsname_r(master, name, sizeof name), 0);
        path = name;
        slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(slave, 0);
    }
    ~Pty()
    {
        closeMaster();
        if (slave >= 0) ::close(slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void closeMaster()
    {
        if (master >= 0) ::close(master);
        master = -1;
    }

    // Writes everything, giving up after the time limit (a stuck reader must not hang us).
    bool send(const Bytes& data, int limitMs = 10000) const
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t r = ::write(master, data.data() + done, data.size() - done);
            if (r > 0) { done += static_cast<std::size_t>(r); continue; }
            if (Clock::now() > deadline) return false;
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    }

    // What the component wrote, up to n bytes or until the time limit.
    Bytes receive(std::size_t n, int limitMs = 5000) const
    {
        Bytes out;
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (out.size() < n && Clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[512];
            const ssize_t r = ::read(master, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) out.insert(out.end(), buf, buf + r);
        }
        return out;
    }

    termios lineSettings() const
    {
        termios t{};
        EXPECT_EQ(::tcgetattr(slave, &t), 0);
        return t;
    }
};

// Waits for the watcher to have queued n bytes, without delivering any posted event.
bool waitQueued(const TZComm& comm, int32_t n)
{
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (comm.InQueue() < n) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return comm.InQueue() == n;
}

Bytes iota(std::size_t n, uint8_t first = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

// Counts the component notifications delivered on the window thread.
class NotificationCounter : public QObject {
public:
    NotificationCounter() { QCoreApplication::instance()->installEventFilter(this); }
    ~NotificationCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == TZComm::notificationEventType()) ++count;
        return QObject::eventFilter(o, e);
    }
};

// Runs the test body in a temporary working directory.
struct TempCwd {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    TempCwd() { EXPECT_TRUE(QDir::setCurrent(dir.path())); }
    ~TempCwd() { QDir::setCurrent(previous); }
};

}  // namespace

TEST(ZcommTest, MissingDeviceFailsAndALaterOpenWorks)
{
    Pty pty;
    TZComm comm;
    EXPECT_EQ(comm.State(), 2);
    comm.SetVersion("2.0");
    EXPECT_EQ(comm.Version(), "1.0.4");
    uint8_t buf[4];
    EXPECT_EQ(comm.ReadComm(buf, 4), 0);   // closed
    EXPECT_EQ(comm.WriteCommByte('x'), 0);

    EXPECT_EQ(comm.OpenConnection(), 0);   // empty name
    comm.SetPort("/nonexistent/qx-no-such-tty");
    EXPECT_EQ(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.Connected(), 0);

    comm.SetPort(QString::fromStdString(pty.path));
    EXPECT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.Connected(), 1);
    // A pseudo-terminal has no modem lines; switching DTR there is not a failure.
    EXPECT_EQ(comm.EscapeComm(6), 1);
    EXPECT_EQ(comm.EscapeComm(5), 1);
    EXPECT_EQ(comm.CloseConnection(), 1);
    EXPECT_EQ(comm.Connected(), 0);
}

TEST(ZcommTest, DeviceIsHeldExclusivelyUntilClosedOrDestroyed)
{
    Pty pty;
    const QString name = QString::fromStdString(pty.path);
    TZComm first, second;
    first.SetPort(name);
    second.SetPort(name);
    ASSERT_NE(first.OpenConnection(), 0);
    EXPECT_EQ(second.OpenConnection(), 0);
    EXPECT_EQ(second.Connected(), 0);
    EXPECT_EQ(first.Connected(), 1);

    first.CloseConnection();
    ASSERT_NE(second.OpenConnection(), 0);
    second.CloseConnection();

    // Destroying an open component lets the device go.
    auto* open = new TZComm;
    open->SetPort(name);
    ASSERT_NE(open->OpenConnection(), 0);
    delete open;
    ASSERT_NE(second.OpenConnection(), 0);

    // Opening over an open connection lets the first device go and uses the new one.
    Pty other;
    second.SetPort(QString::fromStdString(other.path));
    ASSERT_NE(second.OpenConnection(), 0);
    EXPECT_NE(first.OpenConnection(), 0);
    EXPECT_EQ(second.WriteCommByte('z'), 1);
    EXPECT_EQ(other.receive(1), Bytes{'z'});
}

TEST(ZcommTest, ReadTakesOnlyWhatHasArrived)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    ASSERT_NE(comm.OpenConnection(), 0);
    uint8_t buf[100] = {};
    EXPECT_EQ(comm.ReadComm(buf, 10), 0);

    const Bytes sent = iota(25, 0x40);
    ASSERT_TRUE(pty.send(sent));
    ASSERT_TRUE(waitQueued(comm, 25));
    ASSERT_EQ(comm.ReadComm(buf, 10), 10);
    EXPECT_EQ(Bytes(buf, buf + 10), Bytes(sent.begin(), sent.begin() + 10));
    EXPECT_EQ(comm.InQueue(), 15);
    // A negative length must not be taken as a huge one.
    EXPECT_EQ(comm.ReadComm(buf, -1), 0);
    ASSERT_EQ(comm.ReadComm(buf, 100), 15);
    EXPECT_EQ(Bytes(buf, buf + 15), Bytes(sent.begin() + 10, sent.end()));

    ASSERT_TRUE(pty.send({1, 2, 3, 4}));
    ASSERT_TRUE(waitQueued(comm, 4));
    EXPECT_EQ(comm.ReadComm(buf, 10), 4);
    EXPECT_EQ(comm.ReadComm(buf, 10), 0);

    // A purge of the receive side drops what was queued; later bytes come through.
    ASSERT_TRUE(pty.send({1, 2, 3, 4, 5}));
    ASSERT_TRUE(waitQueued(comm, 5));
    EXPECT_EQ(comm.PurgeCommPort(0x8), 1);
    EXPECT_EQ(comm.InQueue(), 0);
    ASSERT_TRUE(pty.send({6, 7}));
    ASSERT_TRUE(waitQueued(comm, 2));
    ASSERT_EQ(comm.ReadComm(buf, 8), 2);
    EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{6, 7}));
}

TEST(ZcommTest, TextEndsAtAZeroByteButConsumesEverythingRead)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    ASSERT_NE(comm.OpenConnection(), 0);

    ASSERT_TRUE(pty.send({0x41, 0x00, 0x42}));
    ASSERT_TRUE(waitQueued(comm, 3));
    EXPECT_EQ(comm.Text(), "A");
    EXPECT_EQ(comm.InQueue(), 0);
    EXPECT_EQ(comm.Text(), "");

    comm.SetMaxReadLength(2);
    ASSERT_TRUE(pty.send({'X', 'Y', 'Z'}));
    ASSERT_TRUE(waitQueued(comm, 3));
    EXPECT_EQ(comm.Text(), "XY");
    EXPECT_EQ(comm.Text(), "Z");
}

TEST(ZcommTest, DataAvailableIsRaisedWhileOpenAndNeverAfterClose)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    int raised = 0;
    Bytes got;
    comm.OnDataAvailable = [&](TZComm* sender) {
        ++raised;
        uint8_t buf[64];
        const int n = sender->ReadComm(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
    };
    ASSERT_NE(comm.OpenConnection(), 0);
    ASSERT_TRUE(pty.send({'*', 'v'}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return got.size() == 2; }, 5000));
    EXPECT_EQ(got, (Bytes{'*', 'v'}));
    QTest::qWait(20);   // deliver any notification still queued

    // Bytes queued and their notification posted, but not yet delivered, when the port closes.
    NotificationCounter notifications;
    const int before = raised;
    ASSERT_TRUE(pty.send({'x'}));
    ASSERT_TRUE(waitQueued(comm, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));   // the post follows the fill
    comm.CloseConnection();
    QTest::qWait(50);
    EXPECT_GE(notifications.count, 1);   // the notification did arrive...
    EXPECT_EQ(raised, before);           // ...and raised nothing
}

TEST(ZcommTest, WrittenBytesReachTheFarEndExactly)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    ASSERT_NE(comm.OpenConnection(), 0);

    const Bytes all = iota(256);
    EXPECT_EQ(comm.WriteComm(all.data(), 256), 1);
    EXPECT_EQ(pty.receive(256), all);

    EXPECT_EQ(comm.WriteComm(all.data(), 0), 0);
    EXPECT_EQ(comm.WriteCommByte('x'), 1);
    EXPECT_EQ(pty.receive(1), Bytes{'x'});   // nothing came before it

    comm.SetText("*V0000005C");
    const std::string frame = "*V0000005C";
    EXPECT_EQ(pty.receive(10), Bytes(frame.begin(), frame.end()));
}

// More than the receive queue holds, sent while nobody reads: the queue fills to its bound,
// the rest waits in the kernel, and reading later yields every byte in order.
TEST(ZcommTest, EveryReceivedByteSurvivesAFullQueue)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    comm.SetXOuputFlowCtl(false);   // let 0x11 and 0x13 through as data
    comm.SetXInputFlowCtl(false);
    ASSERT_NE(comm.OpenConnection(), 0);

    Bytes sent(200000);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 256);
    bool sentAll = false;
    std::thread writer([&] { sentAll = pty.send(sent, 20000); });

    ASSERT_TRUE(waitQueued(comm, static_cast<int32_t>(serial::ReceiveQueue::kCapacity)));
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (got.size() < sent.size() && Clock::now() < deadline) {
        uint8_t buf[4096];
        const int n = comm.ReadComm(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        if (n == 0) QTest::qWait(1);
    }
    writer.join();
    EXPECT_TRUE(sentAll);
    EXPECT_TRUE(got == sent) << "received " << got.size() << " of " << sent.size();
}

TEST(ZcommTest, SetFlowCtlSwitchesTheLineAndLeavesThePropertiesAlone)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    ASSERT_NE(comm.OpenConnection(), 0);
    auto soft = [&] { return pty.lineSettings().c_iflag & (IXON | IXOFF); };
    EXPECT_EQ(soft(), tcflag_t(IXON | IXOFF));

    EXPECT_EQ(comm.SetFlowCtl(0), 1);
    EXPECT_EQ(soft(), 0u);
    EXPECT_TRUE(comm.XOuputFlowCtl());
    EXPECT_TRUE(comm.XInputFlowCtl());
    EXPECT_EQ(comm.SetFlowCtl(3), 1);
    EXPECT_EQ(soft(), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(comm.SetFlowCtl(2), 1);
    EXPECT_EQ(soft(), 0u);
    EXPECT_EQ(comm.SetConnection(), 1);   // the properties come back
    EXPECT_EQ(soft(), tcflag_t(IXON | IXOFF));

    comm.SetXInputFlowCtl(false);
    EXPECT_EQ(comm.SetConnection(), 1);
    EXPECT_EQ(soft(), tcflag_t(IXON));
}

TEST(ZcommTest, LineSettingsReachTheTerminal)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    comm.SetBaudRate(19200);
    comm.SetParity(odd_parity);
    comm.SetStopBits(stop2);
    comm.SetCTSFlowCtl(true);
    comm.SetEnableParity(false);
    comm.SetXOnChar(0x05);
    comm.SetXOffChar(0x06);
    ASSERT_NE(comm.OpenConnection(), 0);

    // A pseudo-terminal forces 8 bits without parity; the rest of the settings stay visible.
    const termios t = pty.lineSettings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(t.c_cc[VSTART], 0x05);
    EXPECT_EQ(t.c_cc[VSTOP], 0x06);
    comm.CloseConnection();

    // Settings the terminal cannot take fail the open and leave the device free.
    comm.SetDataBits(databits4);
    EXPECT_EQ(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.Connected(), 0);
    comm.SetDataBits(databits8);
    comm.SetBaudRate(14400);
    EXPECT_EQ(comm.OpenConnection(), 0);
    comm.SetBaudRate(9600);
    EXPECT_NE(comm.OpenConnection(), 0);
}

TEST(ZcommTest, TermiosMappingOfSizeParityAndStopBits)
{
    termios base{};
    serial::LineSettings s;
    struct { int parity; tcflag_t want; } parities[] = {
        {0, 0}, {1, PARENB | PARODD}, {2, PARENB}, {3, PARENB | CMSPAR | PARODD}, {4, PARENB | CMSPAR},
    };
    for (const auto& p : parities) {
        s.parity = p.parity;
        const auto t = serial::makeTermios(base, s);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->c_cflag & (PARENB | PARODD | CMSPAR), p.want) << "parity " << p.parity;
    }
    s.parity = 0;
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int bits = 5; bits <= 8; ++bits) {
        s.dataBits = bits;
        const auto t = serial::makeTermios(base, s);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->c_cflag & CSIZE, sizes[bits - 5]);
    }
    s.dataBits = 4;
    EXPECT_FALSE(serial::makeTermios(base, s));
    s.dataBits = 8;
    s.stopBits = 1;   // one and a half: only with 5-bit characters
    EXPECT_FALSE(serial::makeTermios(base, s));
    s.dataBits = 5;
    ASSERT_TRUE(serial::makeTermios(base, s));
    EXPECT_TRUE(serial::makeTermios(base, s)->c_cflag & CSTOPB);
}

TEST(ZcommTest, ComNamesMeanStandardPortsUnlessAFileHasTheName)
{
    TempCwd cwd;
    EXPECT_EQ(serial::resolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serial::resolvePortName("com3"), "/dev/ttyS2");
    EXPECT_EQ(serial::resolvePortName("COM256"), "/dev/ttyS255");
    for (const char* plain : {"COM0", "COM257", "COM01", "COMX", "COM", "/dev/ttyUSB0", "XCOM1"})
        EXPECT_EQ(serial::resolvePortName(plain), plain);

    Pty pty;
    ASSERT_EQ(::symlink(pty.path.c_str(), "COM1"), 0);
    EXPECT_EQ(serial::resolvePortName("COM1"), "COM1");
    TZComm comm;
    comm.SetPort("COM1");
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_EQ(comm.WriteCommByte('k'), 1);
    EXPECT_EQ(pty.receive(1), Bytes{'k'});
}

TEST(ZcommTest, PortNamesUpTo255CharactersAreAccepted)
{
    TempCwd cwd;
    Pty pty;
    const QString dir = QDir::currentPath() + '/';
    const QString at255 = dir + QString(255 - dir.size(), 'p');
    const QString at256 = dir + QString(256 - dir.size(), 'p');
    ASSERT_EQ(at255.size(), 255);
    ASSERT_EQ(::symlink(pty.path.c_str(), at255.toLocal8Bit().constData()), 0);
    ASSERT_EQ(::symlink(pty.path.c_str(), at256.toLocal8Bit().constData()), 0);

    TZComm comm;
    comm.SetPort(at256);
    EXPECT_EQ(comm.OpenConnection(), 0);   // refused though it exists
    comm.SetPort(at255);
    EXPECT_NE(comm.OpenConnection(), 0);
}

TEST(ZcommTest, WatcherStaysIdleAfterTheFarEndHangsUp)
{
    Pty pty;
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    int raised = 0;
    comm.OnDataAvailable = [&](TZComm* sender) {
        ++raised;
        uint8_t buf[16];
        sender->ReadComm(buf, sizeof buf);
    };
    ASSERT_NE(comm.OpenConnection(), 0);
    ASSERT_TRUE(pty.send({'a'}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return raised > 0; }, 5000));

    pty.closeMaster();
    QTest::qWait(100);   // the watcher sees the hang-up; deliver what it posted before
    const int before = raised;

    timespec t0, t1;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
    const double cpuMs = (t1.tv_sec - t0.tv_sec) * 1e3 + (t1.tv_nsec - t0.tv_nsec) / 1e6;
    EXPECT_LT(cpuMs, 100.0) << "the watcher spins after the hang-up";

    QTest::qWait(20);
    EXPECT_EQ(raised, before);
    EXPECT_EQ(comm.WriteCommByte('b'), 0);
    EXPECT_EQ(comm.CloseConnection(), 1);   // and it still ends when told to
}

// Only serial lines and free pseudo-terminals are ports: never a terminal someone works in.
TEST(ZcommTest, TerminalsOfPeopleAndNonSerialDevicesAreRefusedUnopened)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("plain").toStdString();
    { QFile f(QString::fromStdString(file)); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); }
    for (const std::string& path : {std::string("/dev/tty"), std::string("/dev/console"), std::string("/dev/ptmx"),
                                   std::string("/dev/null"), std::string("/dev"), file,
                                   std::string("/nonexistent/qx")}) {
        EXPECT_TRUE(serial::deviceRefusal(path)) << path;
    }
    if (::access("/dev/tty1", F_OK) == 0) {
        EXPECT_TRUE(serial::deviceRefusal("/dev/tty1"));   // a virtual console
    }

    Pty free;   // a pseudo-terminal nobody has as their terminal: what the simulated ECU offers
    EXPECT_FALSE(serial::deviceRefusal(free.path));

    SomeonesTerminal shell;
    ASSERT_TRUE(shell.Ready());
    const auto refusal = serial::deviceRefusal(shell.Path());
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("in use"), std::string::npos) << *refusal;

    const termios before = shell.Settings();
    TZComm comm;
    comm.SetBaudRate(19200);
    comm.SetPort(QString::fromStdString(shell.Path()));
    EXPECT_EQ(comm.OpenConnection(), 0);
    EXPECT_FALSE(comm.OpenError().isEmpty());
    EXPECT_EQ(comm.WriteCommByte('*'), 0);
    const termios after = shell.Settings();
    EXPECT_EQ(before.c_lflag, after.c_lflag);   // still a person's terminal: echo, line editing
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
    EXPECT_EQ(shell.Unread(50), "");
}

// The device going away is said once, after the bytes that came before it.
TEST(ZcommTest, HangUpIsRaisedOnceAfterTheLastBytes)
{
    auto pty = std::make_unique<Pty>();
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty->path));
    std::string got;
    int hangUps = 0;
    comm.OnDataAvailable = [&](TZComm* c) {
        uint8_t buf[64];
        int n;
        while ((n = c->ReadComm(buf, sizeof buf)) > 0) got.append(reinterpret_cast<char*>(buf), std::size_t(n));
    };
    comm.OnHangUp = [&](TZComm*) {
        ++hangUps;
        EXPECT_EQ(got, "last words");
    };
    ASSERT_NE(comm.OpenConnection(), 0);
    ASSERT_TRUE(pty->send(Bytes{'l', 'a', 's', 't', ' ', 'w', 'o', 'r', 'd', 's'}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 10; }, 5000));
    pty.reset();   // both ends closed: the device is gone
    ASSERT_TRUE(QTest::qWaitFor([&] { return hangUps > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(hangUps, 1);
    EXPECT_EQ(comm.Connected(), 1);   // closing is the owner's decision
    uint8_t byte = '*';
    EXPECT_EQ(comm.WriteCommFrame(&byte, 1, 0), -1);   // writes say the device has gone
    comm.CloseConnection();
}

// What a failed open tells, for the user's sake; and a driver that cannot do low latency (a
// pseudo-terminal has no such request) leaves the port open all the same.
TEST(ZcommTest, AFailedOpenSaysWhatTheDeviceIsAndARefusedLowLatencyIsNoFailure)
{
    using K = serial::OpenFailure::Kind;
    QTemporaryDir dir;
    const QString file = dir.filePath("calibration.qxe");
    { QFile f(file); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); }
    struct Case {
        QString port;
        K kind;
        const char* what;
    };
    for (const Case& c : {Case{"/dev/null", K::NotSerial, "'mem'"}, Case{file, K::NotSerial, "ordinary file"},
                          Case{dir.path(), K::NotSerial, "folder"}, Case{dir.filePath("ttyUSB9"), K::Missing, ""}}) {
        TZComm comm;
        comm.SetPort(c.port);
        EXPECT_EQ(comm.OpenConnection(), 0) << c.port.toStdString();
        EXPECT_EQ(comm.OpenFailure().kind, c.kind) << c.port.toStdString();
        EXPECT_NE(comm.OpenFailure().what.find(c.what), std::string::npos) << comm.OpenFailure().what;
        EXPECT_EQ(comm.OpenFailure().device, c.port.toStdString());
    }

    Pty pty;
    serial::setLatencyDriver(nullptr);   // the kernel's, which a pseudo-terminal turns down
    TZComm comm;
    comm.SetPort(QString::fromStdString(pty.path));
    ASSERT_NE(comm.OpenConnection(), 0);
    EXPECT_FALSE(comm.LowLatency());
    EXPECT_EQ(comm.WriteCommByte('q'), 1);
    EXPECT_EQ(pty.receive(1), Bytes{'q'});
}
