// The port as a user with a real cable meets it: a device they may not open, one another
// program holds, one that is not plugged in yet, a name typed key by key, a name relinked under
// the program's feet, the port remembered for the next start, and the adapter's latency.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTest>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "base/UserSettings.h"
#include "ecu/SerialPlatform.h"
#include "ecu/Zcomm.h"
#include "tests/support/Terminals.h"
#include "tests/window/WindowFixture.h"
#include "ui/StatusBar.h"

namespace {

class PortTest : public WindowTest {
protected:
    void TearDown() override
    {
        serial::setBeforeOpenHook({});
        WindowTest::TearDown();
    }

    // A second simulated ECU, on a link of its own in the test's folder.
    std::unique_ptr<sim::EcuSim> SecondEcu(sim::SimOptions options = {})
    {
        options.link = Path(QStringLiteral("ecu-b")).toStdString();
        auto other = std::make_unique<sim::EcuSim>(options);
        std::string error;
        EXPECT_TRUE(other->Start(&error)) << error;
        return other;
    }

    // What a user does on the Setup page: types the name into the port box and presses Enter.
    void TypeAndEnter(const QString& name)
    {
        QLineEdit* box = form->ComboBox1->lineEdit();
        box->setFocus();
        box->clear();
        QTest::keyClicks(box, name);
        QTest::keyClick(box, Qt::Key_Return);
    }

    void Link(const QString& link, const std::string& target)
    {
        QDir().mkpath(QFileInfo(link).path());
        ::unlink(link.toLocal8Bit().constData());
        ASSERT_EQ(::symlink(target.c_str(), link.toLocal8Bit().constData()), 0) << link.toStdString();
    }

    QString Reason() const { return form->lblPortReason->isHidden() ? QString() : form->lblPortReason->text(); }
    QString Panel() const { return form->StatusBar1->PanelText(TForm1::PortPanel); }

    QStringList boxes;
    void CollectBoxes()
    {
        ui::SetMessageHook([this](ui::MessageKind, const QString& text) { boxes << text; });
    }
};

// Another program holding a device the way terminal programs do (an exclusive lock), under a
// name of its own.
class Holder {
public:
    Holder(const std::string& device, const char* name)
    {
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_NAME, name);
            const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
            const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
            if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        ready_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
    }
    ~Holder() { Stop(); }
    void Stop()
    {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    bool Ready() const { return ready_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

// A user outside the device's group. Root passes every file mode, so as root the window thread
// takes the file-system identity of "nobody" (setfsuid, which also drops the capability to
// override modes) while the device is given Debian's root:dialout 0660; the kernel itself then
// refuses the open. As an ordinary user the device is made unreadable to its owner instead.
class OutsideTheGroup {
public:
    explicit OutsideTheGroup(const std::string& device) : device_(device)
    {
        struct stat st;
        if (::stat(device.c_str(), &st) != 0) return;
        mode_ = st.st_mode & 07777;
        if (::geteuid() == 0) {
            const group* dialout = ::getgrnam("dialout");
            gid_ = dialout ? dialout->gr_gid : 20;
            if (::chown(device.c_str(), 0, gid_) != 0 || ::chmod(device.c_str(), 0660) != 0) return;
            ::setfsgid(65534);
            ::setfsuid(65534);
            asNobody_ = true;
        } else {
            gid_ = st.st_gid;
            if (::chmod(device.c_str(), 0) != 0) return;
        }
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        refused_ = fd < 0 && errno == EACCES;
        if (fd >= 0) ::close(fd);
    }
    ~OutsideTheGroup() { Leave(); }
    void Leave()
    {
        if (asNobody_) {
            ::setfsuid(0);
            ::setfsgid(0);
            asNobody_ = false;
        }
        ::chmod(device_.c_str(), mode_);
    }
    bool Refused() const { return refused_; }
    QString Group() const
    {
        const group* g = ::getgrgid(gid_);
        return g ? QString::fromLocal8Bit(g->gr_name) : QString();
    }

private:
    std::string device_;
    mode_t mode_ = 0620;
    gid_t gid_ = 0;
    bool asNobody_ = false;
    bool refused_ = false;
};

TEST_F(PortTest, APortTheUserMayNotOpenNamesTheGroupAndTheFixAndOnlyTheChoiceGetsABox)
{
    ASSERT_TRUE(WaitForReadComplete());
    auto other = SecondEcu();
    const QString device = QString::fromStdString(other->SlavePath());
    CollectBoxes();
    OutsideTheGroup user(other->SlavePath());
    ASSERT_TRUE(user.Refused()) << "the kernel let the open through";
    const QString group = user.Group();
    ASSERT_FALSE(group.isEmpty());

    TypeAndEnter(device);
    ASSERT_TRUE(WaitFor([&] { return !boxes.isEmpty(); }, 2000));
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    const QString line = Reason();
    for (const QString& part : {device, QStringLiteral("permission denied"), QStringLiteral("'%1'").arg(group),
                                QStringLiteral("sudo adduser $USER %1").arg(group), QStringLiteral("new login")})
        EXPECT_TRUE(line.contains(part)) << part.toStdString() << " not in: " << line.toStdString();
    EXPECT_EQ(boxes.front(), line);
    EXPECT_TRUE(Panel().contains(group)) << Panel().toStdString();

    // The probe tries again every second, quietly; the panel stays on every page.
    QTest::keyClick(form.get(), Qt::Key_F4);
    Pump(2500);
    EXPECT_EQ(boxes.size(), 1) << boxes.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(other->ReceivedCount(), 0u);
    EXPECT_TRUE(Panel().contains(group));

    // Let in (a new login): found by the probe, read, and nothing is said any more.
    user.Leave();
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_EQ(form->ZComm1->Port(), device);
    EXPECT_EQ(Reason(), QString());
    EXPECT_EQ(Panel(), QString());
    EXPECT_EQ(boxes.size(), 1);
}

TEST_F(PortTest, APortAnotherProgramHoldsNamesThatProgramAndIsTakenOnceFree)
{
    ASSERT_TRUE(WaitForReadComplete());
    auto other = SecondEcu();
    Holder minicom(other->SlavePath(), "minicom");
    ASSERT_TRUE(minicom.Ready());
    CollectBoxes();

    TypeAndEnter(QString::fromStdString(other->SlavePath()));
    ASSERT_TRUE(WaitFor([&] { return !boxes.isEmpty(); }, 2000));
    const QString line = Reason();
    EXPECT_TRUE(line.contains(QStringLiteral("in use by minicom (process %1)").arg(minicom.Pid()))) << line.toStdString();
    EXPECT_TRUE(Panel().contains(QStringLiteral("minicom"))) << Panel().toStdString();
    // The old port's ECU no longer counts: nothing is connected until the new one answers.
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECO  NOT connected"));

    minicom.Stop();
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_EQ(form->EepromImage, other->Eeprom());
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
    EXPECT_EQ(Reason(), QString());
    EXPECT_EQ(boxes.size(), 1);
}

TEST_F(PortTest, TheChosenPortIsRememberedByItsStableNameAndOpenedAtTheNextStart)
{
    // First start: COM1, as always.
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("COM1"));
    ASSERT_TRUE(WaitForReadComplete());

    TForm1::PortPlaces.byId = Path(QStringLiteral("by-id"));
    const QString stable = Path(QStringLiteral("by-id/usb-FTDI_FT232R_USB_UART_A10KQX7Z-if00-port0"));
    Link(stable, ecu->SlavePath());
    Link(Path(QStringLiteral("dev/ttyUSB0")), ecu->SlavePath());
    TypeAndEnter(Path(QStringLiteral("dev/ttyUSB0")));
    ASSERT_TRUE(WaitForReadComplete());
    EXPECT_EQ(base::UserSettings().value(QStringLiteral("port")).toString(),
              stable);

    form.reset();
    const size_t mark = Mark();
    StartWindow();
    EXPECT_EQ(form->ComboBox1->currentText(), stable);
    EXPECT_EQ(form->ZComm1->Port(), stable);
    ASSERT_TRUE(WaitForReadComplete());
    EXPECT_EQ(ReceivedSince(mark).front().letter, 'V');
}

TEST_F(PortTest, TypingANameKeyByKeyOpensNothingUntilItIsFinished)
{
    ASSERT_TRUE(WaitForReadComplete());
    auto other = SecondEcu();   // what /dev/ttyUSB1 would be on the way to /dev/ttyUSB10
    const QString shorter = Path(QStringLiteral("dev/ttyUSB1"));
    const QString wanted = Path(QStringLiteral("dev/ttyUSB10"));
    Link(shorter, other->SlavePath());
    Link(wanted, ecu->SlavePath());
    const size_t requests = ecu->LowLatencyRequests();   // one per open of the ECU's device

    QLineEdit* box = form->ComboBox1->lineEdit();
    box->setFocus();
    box->clear();
    QTest::keyClicks(box, wanted);
    EXPECT_EQ(form->ZComm1->Port(), QStringLiteral("COM1"));   // the port is what it was
    EXPECT_EQ(form->ZComm1->Connected(), 1);

    // A pause on the finished name opens it; nothing of the way there was opened or sent to.
    ASSERT_TRUE(WaitFor([&] { return form->ZComm1->Port() == wanted; }, 2000));
    ASSERT_TRUE(WaitForReadComplete());
    EXPECT_EQ(other->LowLatencyRequests(), 0u);
    EXPECT_EQ(other->ReceivedCount(), 0u);
    EXPECT_EQ(ecu->LowLatencyRequests(), requests + 1);

    // A pause on a name that is no device (yet) opens nothing either; Enter says why, naming
    // the ports that are there.
    TForm1::PortPlaces.dev = Path(QStringLiteral("dev"));
    CollectBoxes();
    box->clear();
    QTest::keyClicks(box, Path(QStringLiteral("dev/ttyUSB")));
    Pump(1000);
    EXPECT_EQ(form->ZComm1->Port(), wanted);
    EXPECT_EQ(form->ZComm1->Connected(), 1);
    EXPECT_TRUE(boxes.isEmpty());
    QTest::keyClick(box, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return !boxes.isEmpty(); }, 2000));
    EXPECT_TRUE(Reason().contains(QStringLiteral("not plugged in?"))) << Reason().toStdString();
    EXPECT_TRUE(Reason().contains(shorter)) << Reason().toStdString();   // the ports that are there
}

TEST_F(PortTest, ANameRelinkedToAPersonsTerminalBetweenCheckAndOpenIsRefusedUntouched)
{
    ASSERT_TRUE(WaitForReadComplete());
    SomeonesTerminal shell;
    ASSERT_TRUE(shell.Ready());
    const termios before = shell.Settings();
    const QString name = Path(QStringLiteral("dev/ttyUSB0"));
    Link(name, ecu->SlavePath());   // a serial device when it is looked at ...
    int relinked = 0;
    serial::setBeforeOpenHook([&](const std::string& path) {
        if (path == name.toStdString() && relinked++ == 0) Link(name, shell.Path());   // ... a shell's when opened
    });
    CollectBoxes();

    TypeAndEnter(name);
    ASSERT_TRUE(WaitFor([&] { return !boxes.isEmpty(); }, 2000));
    EXPECT_EQ(relinked, 1);
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    EXPECT_TRUE(Reason().contains(QStringLiteral("terminal in use"))) << Reason().toStdString();
    const termios after = shell.Settings();
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
    EXPECT_EQ(shell.Unread(100), "");
}

// The list is built from folders of the test's own, and the remembered port is not there yet.
class PortListTest : public PortTest {
protected:
    PortListTest() { autoStart = false; }
};

TEST_F(PortListTest, AnAdapterPluggedInAfterStartIsListedAndTheRememberedOneIsConnected)
{
    TForm1::PortPlaces.dev = Path(QStringLiteral("dev"));
    TForm1::PortPlaces.byId = Path(QStringLiteral("dev/serial/by-id"));
    ASSERT_TRUE(QDir().mkpath(TForm1::PortPlaces.dev));
    const QString adapter = Path(QStringLiteral("dev/ttyUSB3"));
    base::UserSettings().setValue(QStringLiteral("port"), adapter);
    StartSim();
    CollectBoxes();
    StartWindow();

    EXPECT_EQ(form->ZComm1->Port(), adapter);
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    EXPECT_TRUE(Reason().contains(QStringLiteral("not plugged in?"))) << Reason().toStdString();
    EXPECT_TRUE(Reason().contains(QStringLiteral("COM1"))) << Reason().toStdString();   // what is there
    EXPECT_TRUE(Panel().contains(QStringLiteral("not plugged in?")));
    EXPECT_EQ(form->ComboBox1->findText(adapter), -1);

    Link(adapter, ecu->SlavePath());   // plugged in
    EXPECT_TRUE(WaitFor([&] { return form->ComboBox1->findText(adapter) >= 0; }, 3000));
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
    EXPECT_EQ(Reason(), QString());
    EXPECT_EQ(Panel(), QString());
    EXPECT_TRUE(boxes.isEmpty());   // nobody chose anything: nothing popped up
    EXPECT_EQ(form->ComboBox1->currentText(), adapter);
}

TEST_F(PortListTest, AnAdapterBackUnderAnotherNameIsFoundByItsStableName)
{
    TForm1::PortPlaces.dev = Path(QStringLiteral("dev"));
    TForm1::PortPlaces.byId = Path(QStringLiteral("dev/serial/by-id"));
    const QString stable = Path(QStringLiteral("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KQX7Z-if00-port0"));
    StartSim();
    Link(Path(QStringLiteral("dev/ttyUSB0")), ecu->SlavePath());
    Link(stable, ecu->SlavePath());
    StartWindow();
    ASSERT_TRUE(WaitForReadComplete());
    TypeAndEnter(Path(QStringLiteral("dev/ttyUSB0")));   // chosen by its plain name
    ASSERT_TRUE(WaitForReadComplete());

    // Pulled out: udev removes its names; plugged in again, it comes back as ttyUSB1.
    ecu->Unplug();
    ::unlink(Path(QStringLiteral("dev/ttyUSB0")).toLocal8Bit().constData());
    ::unlink(stable.toLocal8Bit().constData());
    ASSERT_TRUE(WaitFor([&] { return form->ReadPending == 1 && form->ZComm1->Connected() == 0; }, 2000));
    Pump(300);
    ASSERT_TRUE(ecu->Replug());
    Link(Path(QStringLiteral("dev/ttyUSB1")), ecu->SlavePath());
    Link(stable, ecu->SlavePath());
    ASSERT_TRUE(WaitForReadComplete(3000)) << form->ZComm1->Port().toStdString() << " " << form->ZComm1->Connected()
                                           << " " << Reason().toStdString() << " " << TForm1::RememberedPort().toStdString();
    EXPECT_EQ(form->ZComm1->Port(), stable);
    EXPECT_EQ(form->ComboBox1->currentText(), stable);
}

TEST_F(PortListTest, TheSimulatedAdapterHearsTheLowLatencyRequestAndAnswersSooner)
{
    sim::SimOptions options;
    options.latencyMs = 16;   // an FTDI adapter's latency timer ...
    options.lowLatencyMs = 1; // ... and what it is once low latency is asked for
    StartSim(options);
    StartWindow();
    // 500 exchanges at 16 ms would need 8 s; granted, they need half a second or so.
    ASSERT_TRUE(WaitForReadComplete(4000));
    EXPECT_EQ(ecu->LowLatencyRequests(), 1u);
    EXPECT_TRUE(form->ZComm1->LowLatency());
}

}  // namespace
