// The link's timers against the simulated ECU: the polling cycle, the watchdog that turns the
// status bar red, the page rule, the probe and its restart of a stalled read, the clock, and
// what the window does when a tick handler throws.
#include <QDateTime>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "ecu/Exchanges.h"
#include "ecu/Polling.h"
#include "ecu/Threadedtimer.h"
#include "tests/window/WindowFixture.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

class PollingWindowTest : public WindowTest {
protected:
    // What one polling tick saw and left behind.
    struct Tick {
        uint32_t silentBefore;
        bool redBefore;
        bool redAfter;
        QString panel2;
        QColor color;
    };

    // Wraps the polling handler so that every tick is recorded; the window's own handler runs.
    void RecordTicks()
    {
        form->ThreadedTimer1->SetOnTimer([this](TThreadedTimer* sender) {
            Tick t{form->SilentTicks, Red(), false, {}, {}};
            form->ThreadedTimer1Timer(sender);
            t.redAfter = Red();
            t.panel2 = form->StatusBar1->PanelText(2);
            t.color = form->StatusBar1->Color();
            ticks.push_back(t);
        });
    }
    bool Red() const { return form->StatusBar1->Color() == QColor(255, 0, 0); }

    std::vector<Tick> ticks;
};

TEST_F(PollingWindowTest, FirstPollIsAThenTheNineStepCycle)
{
    PollStep = 0;   // as at program start; the step belongs to the run, not to the window
    ASSERT_TRUE(WaitForReadComplete());
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());   // the completed read starts polling
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() > 501 + 19; }));
    const std::string all = ReceivedLetters();
    const size_t lastRead = all.rfind('R');
    ASSERT_NE(lastRead, std::string::npos);
    EXPECT_EQ(all.substr(lastRead + 1, 19), "ABCDEVFHGABCDEVFHGA");
    // Every polling frame carries address 0 and data 0.
    const auto frames = ReceivedSince(lastRead + 1);
    for (const sim::Command& c : frames) {
        EXPECT_EQ(c.address, 0);
        EXPECT_EQ(c.data, 0);
    }
}

TEST_F(PollingWindowTest, SilentEcuTurnsTheBarRedOnTheEleventhTickAndAReplyTurnsItBack)
{
    ASSERT_TRUE(WaitForReadComplete());
    RecordTicks();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= 30; }));
    for (const Tick& t : ticks) EXPECT_FALSE(t.redAfter);   // answering every poll: never red

    const size_t quietFrom = ticks.size();
    ecu->SetSilent(true);
    ASSERT_TRUE(WaitFor([&] { return Red(); }));
    const size_t redAt = ticks.size();
    ASSERT_TRUE(WaitFor([&] { return ticks.size() >= redAt + 5; }));
    ecu->SetSilent(false);
    ASSERT_TRUE(WaitFor([&] { return !Red(); }));
    const size_t backAt = ticks.size();

    // The first red tick is the eleventh since the last accepted reply, and it is pure red.
    const Tick& firstRed = ticks[redAt - 1];
    EXPECT_EQ(firstRed.silentBefore, 10u);
    EXPECT_FALSE(firstRed.redBefore);
    EXPECT_EQ(firstRed.panel2, QStringLiteral("Status- ECU connection lost"));
    EXPECT_EQ(firstRed.color, QColor(255, 0, 0));
    for (size_t i = quietFrom; i + 1 < redAt; ++i) EXPECT_FALSE(ticks[i].redAfter) << i;
    // Red stays while nothing answers; polling goes on meanwhile.
    for (size_t i = redAt; i + 1 < backAt; ++i) {
        EXPECT_TRUE(ticks[i].redAfter) << i;
        EXPECT_EQ(ticks[i].panel2, QStringLiteral("Status- ECU connection lost"));
    }
    // The first tick after a reply brings it back.
    const Tick& back = ticks[backAt - 1];
    EXPECT_EQ(back.silentBefore, 0u);
    EXPECT_TRUE(back.redBefore);
    EXPECT_EQ(back.panel2, QStringLiteral("Status- ECU connected"));
    EXPECT_EQ(back.color, StatusBar::ButtonFace());
}

TEST_F(PollingWindowTest, LeavingTheGaugesPageStopsFramesAndFreezesTheWatchdogF4Resumes)
{
    ASSERT_TRUE(WaitForReadComplete());
    ASSERT_TRUE(WaitFor([&] { return ReceivedLetters().back() != 'R'; }));

    // Make the bar red, then leave the page: no more frames, and the bar stays red even
    // though the ECU answers again, since nothing is asked.
    ecu->SetSilent(true);
    ASSERT_TRUE(WaitFor([&] { return form->StatusBar1->Color() == QColor(255, 0, 0); }));
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    ecu->SetSilent(false);
    Pump(150);   // a tick already handed over when polling stopped may still run once
    const size_t stoppedAt = Mark();
    Pump(200);
    EXPECT_EQ(Mark(), stoppedAt) << "frames went out with the Gauges page hidden";
    EXPECT_EQ(form->StatusBar1->Color(), QColor(255, 0, 0));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connection lost"));

    // F4 shows the page and runs the rule: polling resumes where the cycle stopped.
    const char last = ReceivedLetters().back();
    QTest::keyClick(form.get(), Qt::Key_F4);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 3);
    ASSERT_TRUE(WaitFor([&] { return Mark() >= stoppedAt + 3; }));
    const auto resumed = ReceivedSince(stoppedAt);
    size_t lastIndex = 0;
    while (polling::Cycle[lastIndex] != last) ++lastIndex;
    EXPECT_EQ(resumed[0].letter, polling::Cycle[(lastIndex + 1) % 9]);
    ASSERT_TRUE(WaitFor([&] { return form->StatusBar1->Color() == StatusBar::ButtonFace(); }));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
}

TEST_F(PollingWindowTest, ClockShowsTheLocalTimeWithoutTheZone)
{
    const QString text = form->StatusBar1->PanelText(0);
    ASSERT_FALSE(text.isEmpty());   // the time of day from the start, not a sample text
    const QString zone = QTimeZone::systemTimeZone().abbreviation(QDateTime::currentDateTime());
    if (!zone.isEmpty() && zone.front().isLetter()) {
        EXPECT_FALSE(text.contains(zone)) << text.toStdString();
    }
    // Hours, minutes and seconds.
    EXPECT_GE(text.count(QRegularExpression(QStringLiteral("\\d+"))), 3) << text.toStdString();
    form->ThreadedTimer2Timer(form->ThreadedTimer2);
    EXPECT_FALSE(form->StatusBar1->PanelText(0).isEmpty());
}

TEST_F(PollingWindowTest, ATickHandlerThatThrowsIsShownAndItsTimerStaysStopped)
{
    QStringList shown;
    ui::SetMessageHook([&](ui::MessageKind kind, const QString& text) {
        if (kind == ui::MessageKind::Error) shown << text;
    });
    ASSERT_TRUE(WaitForReadComplete());
    TThreadedTimer* polling = form->ThreadedTimer1;
    int runs = 0;
    polling->SetOnTimer([&](TThreadedTimer*) {
        ++runs;
        throw std::runtime_error("Poll step failed");
    });
    polling->SetEnabled(true);
    ASSERT_TRUE(WaitFor([&] { return !shown.isEmpty(); }, 5000));
    EXPECT_TRUE(shown.front().startsWith(QStringLiteral("Poll step failed"))) << shown.front().toStdString();
    EXPECT_TRUE(shown.front().contains(QStringLiteral("Live value polling has stopped"))) << shown.front().toStdString();
    ASSERT_TRUE(WaitFor([&] { return polling->WorkerEnded(); }, 2000));
    Pump(60);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(shown.size(), 1);
    // The other timers go on: the clock's tick still writes its panel.
    form->StatusBar1->SetPanelText(0, QString());
    form->ThreadedTimer2->Timer();
    EXPECT_FALSE(form->StatusBar1->PanelText(0).isEmpty());
}

class ProbeTest : public WindowTest {
protected:
    ProbeTest() { autoStart = false; }
};

TEST_F(ProbeTest, WithNoAnswerTheProbeSendsVAboutOnceASecond)
{
    StartSim();
    ecu->SetSilent(true);
    StartWindow();
    ASSERT_TRUE(WaitFor([&] { return ecu->ReceivedCount() >= 3; }, 6000));
    EXPECT_EQ(ReceivedLetters().substr(0, 3), "VVV");
    const auto times = ecu->ReceivedTimes();
    // Not a spin: two probes keep the one-second pace (wide margin below it). The first 'V' is
    // construction's own, sent however long building the window took after the timer began.
    EXPECT_GT(times[2] - times[1], std::chrono::milliseconds(500));
    EXPECT_EQ(form->EcuAnswered, 0);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECO  NOT connected"));

    // The first answer ends the probing: version shown, the read starts at address 0.
    ecu->SetSilent(false);
    ASSERT_TRUE(WaitForReadComplete());
    EXPECT_EQ(form->StatusBar1->PanelText(1), QStringLiteral("Version: 2.3"));
    EXPECT_FALSE(form->ThreadedTimer3->Enabled());
}

TEST_F(ProbeTest, AWalkGivesUpOnASilentEcuAndTheProbeResumesIt)
{
    StartSim();
    // The ECU answers 'V' but no read past address 9 until it has been asked for 'V' again.
    std::atomic<bool> stalled{true};
    std::atomic<int> resends{0};
    std::atomic<size_t> resumedAt{0};   // the frames up to the 'V' that resumes the read
    ecu->SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'R' && c.address == 10 && stalled) ++resends;
        if (c.letter == 'V' && resends > 0 && stalled) {
            resumedAt = ecu->ReceivedCount();
            stalled = false;
        }
        if (stalled && c.letter == 'R' && c.address >= 10) return {};
        return {reply};
    });
    StartWindow();
    ASSERT_TRUE(WaitFor([&] { return !stalled; }, 5000));
    ASSERT_TRUE(WaitForReadComplete(5000));
    // Sent a few times, never for ever, then given up; resumed at 10, not 0.
    EXPECT_EQ(resends, exchange::MaxSends);
    const auto after = Distinct(ReceivedSince(resumedAt));
    ASSERT_EQ(after.size(), 490u);
    EXPECT_EQ(after.front().letter, 'R');
    EXPECT_EQ(after.front().address, 10);
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());
}

}  // namespace
