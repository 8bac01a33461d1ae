// The link on a bad day, against the simulated ECU: uploads that must reach the ECU whole,
// an ECU that dies mid-upload, a line that loses, holds (XOFF) or reads slowly, a device that
// goes away and comes back, names in the port box that are not serial lines, and closing.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "calibration/ImageLayout.h"
#include "ecu/LineOwner.h"
#include "ecu/Threadedtimer.h"
#include "ecu/Zcomm.h"
#include "app/StopSignals.h"
#include "tests/support/Terminals.h"
#include "tests/window/WindowFixture.h"
#include "ui/StringGrid.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

bool WriteRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A calibration unlike the simulator's: every byte moved by 3, the lock byte still valid.
sim::Image OtherImage(const sim::Image& from)
{
    sim::Image other = from;
    for (std::size_t a = 0; a < other.size(); ++a) other[a] = static_cast<uint8_t>(other[a] + 3);
    other[calibration::LockAddress] = 20;
    return other;
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

class LinkTest : public WindowTest {
protected:
    LinkTest() { autoStart = false; }

    void Start(sim::SimOptions options = {})
    {
        StartSim(options);
        StartWindow();
        ASSERT_TRUE(WaitForReadComplete());
        ui::SetFileDialogHook([this](ui::FileDialog&) -> std::optional<QString> { return answer; });
        ui::SetMessageHook([this](ui::MessageKind kind, const QString& text) {
            (kind == ui::MessageKind::Error ? errors : notes) << text;
        });
    }
    void ShowPage(int page)
    {
        form->PageControl1->SetActivePageIndex(page);
        form->PageControl1Change(form->PageControl1);
    }
    // Writes a calibration file pair and loads it through the Setup page's Load.
    void LoadFile(const sim::Image& image)
    {
        ASSERT_TRUE(WriteRaw(Path("tune.qxe"), QByteArray(reinterpret_cast<const char*>(image.data()), 500)));
        ASSERT_TRUE(WriteRaw(Path("tune.qxc"), QByteArray("tune\r\n")));
        answer = Path("tune.qxe");
        // The tuner has seen what the file changes and uploads it.
        ui::SetQuestionHook([](const QString&, const QString& yes, const QString&) { return yes == "Upload"; });
        form->Button7Click(form->Button7);
    }
    bool Red() const { return form->StatusBar1->Color() == QColor(255, 0, 0); }

    QString answer;
    QStringList errors, notes;
};

TEST_F(LinkTest, LoadRightAfterTheReadOnTheSetupPagePutsTheWholeFileIntoTheEcu)
{
    Start();
    // The completed read has switched polling on, whatever the page; a tuner goes straight to
    // the Setup page (the program's own page change, which leaves polling on) and loads.
    ASSERT_TRUE(form->ThreadedTimer1->Enabled());
    form->PageControl1->SetActivePageIndex(calibration::PageSetup);
    const sim::Image file = OtherImage(ecu->Eeprom());
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 10000));
    EXPECT_EQ(ecu->Eeprom(), file);
    EXPECT_EQ(form->EepromImage, file);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- upload complete"));
    EXPECT_TRUE(errors.isEmpty());
    // Polling waited for the upload and goes on after it.
    const size_t mark = Mark();
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > mark + 20; }));
    EXPECT_EQ(ecu->RejectedCount(), 0u);   // no frame reached the ECU cut short
}

TEST_F(LinkTest, AnUploadOverALossyLineCompletesAndTheEcuHoldsTheFile)
{
    sim::SimOptions options;
    options.drop = 0.03;           // echoes lost
    options.dropCommands = 0.03;   // writes lost on their way
    options.corrupt = 0.02;        // echoes damaged
    options.seed = 7;
    Start(options);
    ShowPage(calibration::PageSetup);
    const sim::Image file = OtherImage(ecu->Eeprom());
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 20000));
    EXPECT_EQ(ecu->Eeprom(), file);
    EXPECT_EQ(form->EepromImage, file);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
    EXPECT_GT(ecu->CommandsLost(), 0u);   // the line really was bad
}

TEST_F(LinkTest, ADeadEcuMidUploadIsSaidPlainlyAndTheEditorsUnlock)
{
    Start();
    ShowPage(calibration::PageSetup);
    const sim::Image before = ecu->Eeprom();
    const sim::Image file = OtherImage(before);
    // The ECU stops answering once it has stored address 100.
    ecu->SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'W' && c.address == 100) ecu->SetSilent(true);
        return {reply};
    });
    QElapsedTimer clock;
    clock.start();
    LoadFile(file);
    // It waits out ten seconds of silence for the ECU, then gives up.
    ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, 15000));
    EXPECT_LT(clock.elapsed(), 14000);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("first 101 bytes of the file"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("old values after them")));
    EXPECT_EQ(form->UploadActive, 0);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- upload failed at 101"));
    // What the box says is what the ECU holds.
    const sim::Image held = ecu->Eeprom();
    for (std::size_t a = 0; a < 500; ++a) ASSERT_EQ(held[a], a <= 100 ? file[a] : before[a]) << a;

    // The setting editors are no longer locked: leaving one sends it.
    ecu->SetSilent(false);
    ecu->SetRawReplyHook({});
    const size_t mark = Mark();
    form->SettingEdit[443]->setText(QStringLiteral("77"));
    form->txtIdleFuelExit(form->SettingEdit[443]);
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[443] == 77; }));
    EXPECT_EQ(Distinct(ReceivedSince(mark)).front(), (sim::Command{'W', 443, 77}));
}

TEST_F(LinkTest, LoadWhileTheReadRunsIsRefusedAndSaysWhy)
{
    sim::SimOptions options;
    options.latencyMs = 5;   // a read of several seconds
    StartSim(options);
    StartWindow();
    ui::SetFileDialogHook([this](ui::FileDialog&) -> std::optional<QString> { return answer; });
    ui::SetMessageHook([this](ui::MessageKind, const QString& text) { notes << text; });
    ASSERT_TRUE(WaitFor([&] { return form->StatusBar1->PanelText(2).startsWith("Reading eeprom - 10"); }));
    const sim::Image file = OtherImage(ecu->Eeprom());
    LoadFile(file);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QStringLiteral("still being read")));
    ASSERT_TRUE(WaitForReadComplete(15000));
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());   // the read was not disturbed
    EXPECT_NE(ecu->Eeprom(), file);                // and nothing of the file went out
}

TEST_F(LinkTest, AVersionReplyDuringTheReadStartsNoSecondWalk)
{
    StartSim();
    StartWindow();
    // Start Logging switches polling on at once: its 'V' replies come while the read runs.
    form->Button1Click(form->Button12);
    ASSERT_TRUE(WaitForReadComplete());
    std::vector<int> reads;
    for (const sim::Command& c : Distinct(ecu->Received()))
        if (c.letter == 'R') reads.push_back(c.address);
    ASSERT_EQ(reads.size(), 500u);
    for (int a = 0; a < 500; ++a) ASSERT_EQ(reads[std::size_t(a)], a);
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());
}

TEST_F(LinkTest, AFarEndThatReadsSlowlyLosesNoFrame)
{
    Start();
    ecu->SetReadEvery(20);   // it looks at the line only every 20 ms; polls come every 12
    ShowPage(3);
    const size_t mark = Mark();
    Pump(3000);
    ShowPage(calibration::PageSetup);
    Pump(200);
    const std::vector<sim::Command> seen = ReceivedSince(mark);
    ASSERT_GT(seen.size(), 100u);
    EXPECT_EQ(ecu->RejectedCount(), 0u);   // none cut short
    EXPECT_EQ(form->Line->FramesDropped(), 0u);
    // The cycle without a gap: every frame that went out arrived, in order.
    const std::string cycle = "GABCDEVFH";
    std::size_t at = cycle.find(seen[0].letter);
    for (const sim::Command& c : seen) {
        ASSERT_EQ(c.letter, cycle[at]);
        at = (at + 1) % cycle.size();
    }
    EXPECT_FALSE(Red());
}

TEST_F(LinkTest, AnXoffFromTheLineNeverFreezesTheWindowAndPollingResumesAtXon)
{
    Start();
    ShowPage(3);
    Pump(100);
    ecu->SendFlowControl(true);
    Pump(50);
    // Events posted to the window are handled at once although the line takes nothing.
    QElapsedTimer clock;
    qint64 worst = 0;
    for (int i = 0; i < 20; ++i) {
        bool handled = false;
        clock.start();
        QTimer::singleShot(0, form.get(), [&] { handled = true; });
        ASSERT_TRUE(WaitFor([&] { return handled; }, 2000));
        worst = std::max(worst, clock.elapsed());
        Pump(30);
    }
    EXPECT_LT(worst, 200);   // a hang guard: a frozen window takes seconds
    EXPECT_GT(form->Line->FramesDropped(), 0u);
    EXPECT_TRUE(WaitFor([&] { return Red(); }, 2000));   // the silence is seen

    ecu->SendFlowControl(false);
    const size_t mark = Mark();
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > mark + 20; }, 3000));
    EXPECT_TRUE(WaitFor([&] { return !Red(); }, 2000));
}

TEST_F(LinkTest, ADeviceThatGoesAwayIsShownLostAndIsReadAgainWhenItComesBack)
{
    Start();
    ShowPage(calibration::PageSetup);   // far from the Gauges page and its watchdog
    ecu->Unplug();
    ASSERT_TRUE(WaitFor([&] { return Red(); }, 1000));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connection lost"));
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    EXPECT_EQ(form->ReadPending, 1);

    // Gone, the program looks for it once a second and spins on nothing meanwhile.
    const double cpuBefore = ProcessCpuSeconds();
    Pump(2000);
    EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.5);

    sim::Image changed = OtherImage(ecu->Eeprom());
    ecu->SetEeprom(changed);   // another calibration in the ECU that comes back
    const size_t mark = Mark();
    ASSERT_TRUE(ecu->Replug());
    ASSERT_TRUE(WaitFor([&] { return form->ReadPending == 0; }, 6000));
    EXPECT_EQ(form->ZComm1->Connected(), 1);
    EXPECT_EQ(form->EepromImage, changed);
    EXPECT_EQ(ReceivedSince(mark).front().letter, 'V');
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
    EXPECT_TRUE(WaitFor([&] { return !Red(); }, 2000));
}

TEST_F(LinkTest, TypingADevicePathNeverTakesOverAPersonsTerminal)
{
    Start();
    ShowPage(calibration::PageSetup);
    SomeonesTerminal shell;   // a shell's terminal, as /dev/tty is to the person who started us
    ASSERT_TRUE(shell.Ready());
    const termios before = shell.Settings();

    // Typed key by key: every prefix is tried as a port, /dev/tty among them.
    QLineEdit* box = form->ComboBox1->lineEdit();
    box->setFocus();
    box->clear();
    QTest::keyClicks(box, QString::fromStdString(shell.Path()));
    // A pause on a name that is a terminal device tries it, and says why it is refused.
    EXPECT_TRUE(WaitFor([&] { return form->ComboBox1->toolTip().contains(QStringLiteral("in use")); }, 2000))
        << form->ComboBox1->toolTip().toStdString();
    EXPECT_EQ(form->ComboBox1->currentText(), QString::fromStdString(shell.Path()));
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    const termios after = shell.Settings();
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(before.c_oflag, after.c_oflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
    EXPECT_EQ(shell.Unread(100), "");   // not one frame written into it

    // Back to the simulated ECU by its name: found and read again.
    box->clear();
    QTest::keyClicks(box, QStringLiteral("COM1"));
    ASSERT_TRUE(WaitForReadComplete()) << form->ZComm1->OpenError().toStdString();
    EXPECT_EQ(form->ZComm1->Connected(), 1);
    EXPECT_TRUE(form->ComboBox1->toolTip().isEmpty());
}

TEST_F(LinkTest, APortWhoseEcuAnswersOnlyLaterIsProbedUntilItDoes)
{
    Start();
    ShowPage(calibration::PageSetup);
    ecu->SetSilent(true);   // switched off while the tuner picks the port
    QLineEdit* box = form->ComboBox1->lineEdit();
    box->clear();
    QTest::keyClicks(box, QStringLiteral("COM1"));
    QTest::keyClick(box, Qt::Key_Return);   // the same port chosen again: opened afresh
    Pump(1500);   // the port change's 'V' and a probe or so go unanswered
    EXPECT_EQ(form->ReadPending, 1);
    ecu->SetSilent(false);   // switched on
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());
    EXPECT_FALSE(form->ThreadedTimer3->Enabled());   // found: the probe rests again
}

TEST_F(LinkTest, ClosingKeepsThePortClosed)
{
    Start();
    ShowPage(3);   // polling, so that a tick is often on its way when the window closes
    for (int i = 0; i < 5; ++i) {
        Pump(7 + 3 * i);
        form->close();
        const uint64_t sent = form->Line->FramesSent();
        Pump(30);   // a frame written just before the close is still let arrive
        const size_t mark = Mark();
        Pump(100);
        EXPECT_EQ(form->ZComm1->Connected(), 0) << "close " << i;
        EXPECT_EQ(form->Line->FramesSent(), sent) << "close " << i;
        EXPECT_EQ(ecu->ReceivedCount(), mark) << "close " << i;
        form.reset();
        StartWindow();
        ASSERT_TRUE(WaitForReadComplete());
        ShowPage(3);
    }
}

// The window ended with an upload half done, by the tuner or from outside (Ctrl+C, kill): the
// upload finishes before the port closes.
TEST_F(LinkTest, ClosingDuringAnUploadLetsItFinishFirst)
{
    const std::pair<const char*, std::function<void()>> ends[] = {
        {"closed", [&] { form->close(); }},
        {"ended by SIGTERM", [&] { EXPECT_TRUE(form->StopOnSignal(SIGTERM)); }},
    };
    for (const auto& [how, end] : ends) {
        SCOPED_TRACE(how);
        sim::SimOptions options;
        options.latencyMs = 2;   // an upload of a second or so, to end the window in the middle of
        Start(options);
        ShowPage(calibration::PageSetup);
        const sim::Image file = OtherImage(ecu->Eeprom());
        LoadFile(file);
        ASSERT_TRUE(WaitFor([&] {
            const auto frames = ecu->Received();
            return !frames.empty() && frames.back().letter == 'W' && frames.back().address >= 20;
        }));
        ASSERT_EQ(form->UploadActive, 1);
        end();
        EXPECT_EQ(form->ZComm1->Connected(), 0);
        EXPECT_EQ(ecu->Eeprom(), file);   // the ECU was not left with part of a calibration
        form.reset();
        ecu->Stop();
        ecu.reset();
    }
}

// `quenrix 2>&1 | tee run.txt`, an upload running, Ctrl+C: the terminal ends tee first, so the
// note where the unsaved log went is written into a pipe nobody reads. The upload still
// finishes whole and the program ends with status 0. A process of its own: SIGPIPE's default
// action would end it.
TEST_F(LinkTest, CtrlCWithTheTerminalOutputGoneStillFinishesTheUpload)
{
    if (ChildRole() == "sigint") {
        sim::SimOptions options;
        options.latencyMs = 2;
        Start(options);
        ShowPage(calibration::PageSetup);
        for (QLineEdit* edit : form->LogSourceEdit) edit->setText(QStringLiteral("12"));
        for (int i = 0; i < 3; ++i) form->AddLogSample();   // a run nobody saved: the note goes out
        ASSERT_TRUE(form->Log.Unsaved(3));
        StopSignals stop([this](int signal) { form->StopOnSignal(signal); });   // as the program installs it
        const sim::Image file = OtherImage(ecu->Eeprom());
        LoadFile(file);
        ASSERT_TRUE(WaitFor([&] {
            const auto frames = ecu->Received();
            return !frames.empty() && frames.back().letter == 'W' && frames.back().address >= 20;
        }));
        ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
        ASSERT_TRUE(WaitFor([&] { return !form->isVisible(); }, 20000));
        EXPECT_EQ(ecu->Eeprom(), file);
        int writes = 0;
        for (const sim::Command& c : Distinct(ecu->Received())) writes += c.letter == 'W';
        EXPECT_EQ(writes, 500);
        errno = 0;
        EXPECT_EQ(::write(2, "?", 1), -1);   // the output really went nowhere
        EXPECT_EQ(errno, EPIPE);
        return;
    }
    int terminal[2];
    ASSERT_EQ(::pipe(terminal), 0);
    ::close(terminal[0]);   // tee has gone
    const int out = ::open(QFile::encodeName(Path("child.txt")).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(out, 0);
    const pid_t child = SpawnSelf("sigint", -1, out, terminal[1]);
    ::close(out);
    ::close(terminal[1]);
    ASSERT_GT(child, 0);
    const int status = WaitChild(child, 60000);
    QFile report(Path("child.txt"));
    report.open(QIODevice::ReadOnly);
    const std::string said = report.readAll().toStdString();
    ASSERT_NE(status, -1) << "the child did not end\n" << said;
    ASSERT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << said;
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
    EXPECT_NE(said.find("[  PASSED  ] 1 test."), std::string::npos) << said;
}

// Every cell of a map shows what the ECU holds, or is marked as not known to.
::testing::AssertionResult CellsTrueOrMarked(TForm1& form, int mapNumber, const sim::Image& held)
{
    const calibration::MapLayout* map = calibration::MapByNumber(mapNumber);
    StringGrid* grid = form.MapGrid[std::size_t(mapNumber)];
    for (int col = 0; col < map->columns; ++col) {
        const std::size_t a = std::size_t(map->base + col);
        const QString ecuShows = QString::number(calibration::ShownValue(map->encoding, held[a]));
        if (grid->CellMarkAt(col, 1) == StringGrid::CellMark::None && grid->Cells(col, 1) != ecuShows)
            return ::testing::AssertionFailure() << "column " << col << " shows " << grid->Cells(col, 1).toStdString()
                                                 << " unmarked, the ECU holds " << ecuShows.toStdString();
    }
    return ::testing::AssertionSuccess();
}

// An ECU that needs 200 ms to store a byte and keeps one more command while it works: its late
// echoes must never pass for the echo of a later write. Quick steps on one cell, and values
// typed one after another into another (the same value twice among them).
TEST_F(LinkTest, QuickEditsOnASlowWritingEcuLeaveEveryCellAsTheEcuHoldsItOrMarked)
{
    sim::SimOptions options;
    options.writeMs = 200;
    options.trace = qEnvironmentVariableIsSet("QX_TRACE");
    Start(options);
    ShowPage(calibration::PageIgnition);
    StringGrid* grid = form->MapGrid[7];   // Full Load Advance: base 20, plain
    const int first = grid->Cells(5, 1).toInt();
    grid->SetCol(5);
    for (int i = 0; i < 4; ++i) {
        form->StringGrid1Command(grid, StringGrid::Command::StepUp);
        Pump(20);
    }
    for (const char* value : {"60", "90", "120", "60", "30"}) {
        grid->SetCol(8);   // Enter moved the cursor on
        grid->SetCells(8, 1, QString::fromLatin1(value));
        form->StringGrid1KeyUp(grid, Qt::Key_Return);
        Pump(60);
    }
    ASSERT_TRUE(WaitFor([&] {
        return !form->Line->Busy() && form->Marks.Count(calibration::WriteMark::Pending) == 0;
    }, 30000));
    Pump(1500);   // any echo still on its way
    const sim::Image held = ecu->Eeprom();
    EXPECT_EQ(held[25], first + 4);
    EXPECT_EQ(held[28], 30);
    EXPECT_TRUE(CellsTrueOrMarked(*form, 7, held));
    EXPECT_EQ(grid->Cells(5, 1), QString::number(first + 4));
    EXPECT_EQ(grid->Cells(8, 1), QStringLiteral("30"));
    EXPECT_EQ(form->EepromImage[25], held[25]);
    EXPECT_EQ(form->EepromImage[28], held[28]);
}

// Commands whose address loses or gains 0x100 on the way (the checksum does not cover it) write
// bytes nobody chose. Their echoes name those addresses: read back, shown as the ECU holds them,
// and the upload says "complete" only when the ECU holds the whole file.
TEST_F(LinkTest, ADamagedCommandAddressIsReadBackAndTheUploadSaysWhatTheEcuHolds)
{
    sim::SimOptions options;
    options.damageAddress = 0.02;
    options.seed = 7;
    Start(options);
    ShowPage(calibration::PageSetup);
    const sim::Image file = OtherImage(ecu->Eeprom());
    const size_t damagedBefore = ecu->AddressesDamaged();
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 60000));
    ASSERT_TRUE(WaitFor([&] { return !form->Line->Busy(); }, 10000));
    ASSERT_GT(ecu->AddressesDamaged(), damagedBefore) << "no command was damaged: the test proves nothing";
    const sim::Image held = ecu->Eeprom();
    for (std::size_t a = 0; a < 500; ++a) ASSERT_EQ(form->EepromImage[a], held[a]) << "the image lies at " << a;
    const QString panel = form->StatusBar1->PanelText(2);
    if (held == file) {
        EXPECT_EQ(panel, QStringLiteral("Status- upload complete"));
    } else {
        EXPECT_NE(panel, QStringLiteral("Status- upload complete"));
        ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty(); }, 2000));
        for (std::size_t a = 0; a < 500; ++a) {
            if (held[a] == file[a]) continue;
            EXPECT_TRUE(errors.back().contains(QStringLiteral("address %1: the ECU holds %2,").arg(a).arg(held[a])))
                << a << ": " << errors.back().toStdString();
        }
    }
}

// One noise byte that reads as XOFF stops our output; it is let go on, and the link is not lost.
TEST_F(LinkTest, ANoiseByteReadAsXoffInAReplyDoesNotLoseTheLink)
{
    Start();
    ShowPage(3);
    Pump(100);
    std::atomic<bool> done{false};
    ecu->SetRawReplyHook([&](const sim::Command&, const std::string& reply) -> std::vector<std::string> {
        if (done.exchange(true)) return {reply};
        std::string noisy = reply;
        noisy[4] = '\x13';
        return {noisy};
    });
    ASSERT_TRUE(WaitFor([&] { return form->Line->OutputHeld(); }, 2000));
    ASSERT_TRUE(WaitFor([&] { return form->Line->Resumes() == 1; }, 5000));
    const size_t mark = Mark();
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > mark + 50; }, 3000));
    EXPECT_TRUE(WaitFor([&] { return !Red(); }, 2000));
    EXPECT_NE(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connection lost"));
}

// A pause of the window thread (a large log loading) while an echo is on its way: the echo is
// timed where it arrived, so the wait for the next reply is not stretched by the pause.
TEST_F(LinkTest, AWindowPauseDoesNotTeachTheLineThatTheEcuIsSlow)
{
    Start();
    ShowPage(calibration::PageSetup);
    for (int i = 0; i < 3; ++i) {
        form->WriteByte(443, static_cast<uint8_t>(60 + i));
        QThread::msleep(1000);   // the echo arrives meanwhile
        ASSERT_TRUE(WaitFor([&] { return !form->Line->Busy(); }, 3000));
    }
    EXPECT_LT(form->Line->Allowance(), std::chrono::milliseconds(100));
    EXPECT_EQ(form->EepromImage[443], 62);
}

// An ECU that needs 45 ms a byte: an upload closed early takes far longer than any fixed
// limit (it used to be cut off after 15 s), and is let finish.
TEST_F(LinkTest, ClosingDuringASlowUploadWaitsForAllOfIt)
{
    sim::SimOptions options;
    options.writeMs = 45;
    Start(options);
    ShowPage(calibration::PageSetup);
    const sim::Image file = OtherImage(ecu->Eeprom());
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > 0 && ecu->Received().back().letter == 'W'; }));
    form->close();
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    EXPECT_EQ(ecu->Eeprom(), file);
}

// The ECU falls silent in the middle of an upload (a brown-out while cranking) and answers again
// a few seconds later, once while the bytes are written and once while they are read back: the
// upload waits for it, counting the silence in panel 2, and goes on from the first address it
// had not confirmed, to the end.
TEST_F(LinkTest, AnUploadWhoseEcuFallsSilentGoesOnWhereItStoppedWhenTheEcuAnswersAgain)
{
    Start();
    ShowPage(calibration::PageSetup);
    form->VerifyEveryUpload = true;
    const sim::Image file = OtherImage(ecu->Eeprom());
    std::atomic<bool> fell{false}, fellAgain{false};
    ecu->SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'W' && c.address == 100 && !fell.exchange(true)) ecu->SetSilent(true);
        if (c.letter == 'R' && c.address == 299 && fell && !fellAgain.exchange(true)) ecu->SetSilent(true);
        return {reply};
    });
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] {
        return form->StatusBar1->PanelText(2) == QStringLiteral("Status- upload waits at 101: ECU silent 2 s of 10");
    }, 8000)) << form->StatusBar1->PanelText(2).toStdString();
    EXPECT_EQ(form->UploadActive, 1);
    EXPECT_TRUE(errors.isEmpty());
    const size_t mark = Mark();
    ecu->SetSilent(false);
    ASSERT_TRUE(WaitFor([&] {
        return form->StatusBar1->PanelText(2) == QStringLiteral("Status- upload waits at 300: ECU silent 1 s of 10");
    }, 20000)) << form->StatusBar1->PanelText(2).toStdString();
    const size_t readBackMark = Mark();
    ecu->SetSilent(false);
    ASSERT_TRUE(WaitFor([&] { return form->UploadActive == 0; }, 20000));
    EXPECT_EQ(ecu->Eeprom(), file);
    EXPECT_EQ(form->EepromImage, file);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- upload complete"));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
    std::vector<uint16_t> written, read;
    for (const sim::Command& c : Distinct(ReceivedSince(mark)))
        if (c.letter == 'W') written.push_back(c.address);
    for (const sim::Command& c : Distinct(ReceivedSince(readBackMark)))
        if (c.letter == 'R') read.push_back(c.address);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), 101);   // nothing confirmed before it was sent again
    EXPECT_EQ(written.size(), 399u);   // and everything after it, once
    ASSERT_FALSE(read.empty());
    EXPECT_EQ(read.front(), 300);      // the read-back, too, goes on where it stopped
    EXPECT_EQ(read.size(), 200u);
}

// The addresses a sentence of the stopped upload's message names ("... at addresses 0 to 59,
// 61 (confirmed)."), or nothing when the message has no such sentence.
std::set<int> NamedAddresses(const QString& message, const QString& sentence)
{
    std::set<int> named;
    for (const QString& line : message.split('\n')) {
        if (!line.startsWith(sentence)) continue;
        QString list = line.mid(sentence.size());
        list = list.left(list.indexOf(QRegularExpression(QStringLiteral("[(.]")))).trimmed();
        list.remove(QRegularExpression(QStringLiteral("^addresse?s? ")));
        for (const QString& range : list.split(QStringLiteral(", "))) {
            const QStringList ends = range.split(QStringLiteral(" to "));
            const int from = ends.front().toInt(), to = ends.back().toInt();
            for (int a = from; a <= to; ++a) named.insert(a);
        }
    }
    return named;
}

// Closed during a slow upload, the window lets it finish; closed a second time, it stops the
// upload, and its box says what the ECU now holds, address by address, as the ECU really does.
TEST_F(LinkTest, ASecondCloseDuringASlowUploadStopsItAndSaysWhatTheEcuHolds)
{
    sim::SimOptions options;
    options.writeMs = 45;
    Start(options);
    ShowPage(calibration::PageSetup);
    const sim::Image before = ecu->Eeprom();
    const sim::Image file = OtherImage(before);
    LoadFile(file);
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > 0 && ecu->Received().back().letter == 'W'; }));
    QString titleWhileClosing;
    QTimer again;
    again.setInterval(20);
    QObject::connect(&again, &QTimer::timeout, [&] {
        if (ecu->Received().back().address < 60) return;
        again.stop();
        titleWhileClosing = form->windowTitle();
        QCloseEvent close;   // the window system's second close request
        QCoreApplication::sendEvent(form->windowHandle(), &close);
    });
    again.start();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->ZComm1->Connected(), 0);
    EXPECT_TRUE(titleWhileClosing.contains(QStringLiteral("close again to stop it")));
    ASSERT_EQ(errors.size(), 1);
    QThread::msleep(200);   // a write the ECU was still working on is stored meanwhile
    const sim::Image held = ecu->Eeprom();
    ASSERT_NE(held, file) << "the upload was not stopped";
    const QString said = errors.front();
    const std::set<int> equal = NamedAddresses(said, QStringLiteral("The ECU holds the file's bytes at "));
    const std::set<int> maybe = NamedAddresses(said, QStringLiteral("It may hold the file's bytes at "));
    const std::set<int> old = NamedAddresses(said, QStringLiteral("It still holds its old values at "));
    ASSERT_GE(equal.size(), 60u) << said.toStdString();
    ASSERT_FALSE(old.empty()) << said.toStdString();
    for (int a = 0; a < 500; ++a) {
        const std::size_t i = std::size_t(a);
        ASSERT_EQ(equal.count(a) + maybe.count(a) + old.count(a), 1u) << a << "\n" << said.toStdString();
        if (equal.count(a)) {
            ASSERT_EQ(held[i], file[i]) << a << "\n" << said.toStdString();
        }
        if (old.count(a) && file[i] != before[i]) {
            ASSERT_EQ(held[i], before[i]) << a << "\n" << said.toStdString();
        }
    }
}

TEST_F(LinkTest, AScreenReaderPressingATabChangesPagesLikeAClick)
{
    Start();
    ShowPage(3);
    ASSERT_TRUE(form->ThreadedTimer1->Enabled());
    QAccessible::setActive(true);
    auto* tabs = form->PageControl1->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabs);
    ASSERT_NE(bar, nullptr);
    auto press = [&](const QString& name) {
        for (int i = 0; i < bar->childCount(); ++i) {
            QAccessibleInterface* tab = bar->child(i);
            if (tab && tab->text(QAccessible::Name) == name && tab->actionInterface()) {
                tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(press(QStringLiteral("Setup")));
    Pump(20);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), calibration::PageSetup);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());   // the page rule ran
    ASSERT_TRUE(press(QStringLiteral("Gauges")));
    Pump(20);
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
}

}  // namespace
