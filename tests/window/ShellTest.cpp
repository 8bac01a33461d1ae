// The window's shell against the simulated ECU: start-up state, page keys, the port box,
// closing, and the default handler that keeps the window alive after a handler throws.
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "app/Application.h"
#include "ecu/Threadedtimer.h"
#include "ecu/Zcomm.h"
#include "tests/window/WindowFixture.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"
#include "ui/MapChart.h"
#include <QLabel>
#include <QPushButton>

namespace {

class ShellTest : public WindowTest {};

TEST_F(ShellTest, ConstructionStateAndFirstFrame)
{
    ASSERT_TRUE(ecu->WaitForReceived(1, 5000));
    const sim::Command first = ecu->Received().front();
    EXPECT_EQ(first.letter, 'V');
    EXPECT_EQ(first.address, 0);
    EXPECT_EQ(first.data, 0);
    EXPECT_EQ(QString::fromLatin1(protocol::BuildFrame('V', 0, 0).data(), 10), QStringLiteral("*V00000056"));

    EXPECT_EQ(form->windowTitle(), QStringLiteral("Quenrix IO"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quenrix"));
    EXPECT_EQ(form->size(), QSize(798, 603));
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 3);
    const QStringList captions = {"Temp", "Fuel", "Ignition", "Gauges", "Logging", "Setup", "Boost"};
    ASSERT_EQ(form->PageControl1->count(), 7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(form->PageControl1->tabText(i), captions[i]);

    // Flags and counters right after construction (the read may already be under way).
    EXPECT_EQ(form->LoggingActive, 0);
    EXPECT_EQ(form->UploadActive, 0);
    EXPECT_EQ(form->BadReplyCount, 0);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(form->ThreadedTimer1->Interval(), 12);
    EXPECT_TRUE(form->ThreadedTimer2->Enabled());
    EXPECT_EQ(form->ThreadedTimer2->Interval(), 60000);
    EXPECT_TRUE(form->ThreadedTimer3->Enabled());
    EXPECT_EQ(form->ThreadedTimer3->Interval(), 1000);
    EXPECT_EQ(form->ZComm1->BaudRate(), 19200);
    EXPECT_EQ(form->ZComm1->Port(), QStringLiteral("COM1"));
    EXPECT_TRUE(form->ZComm1->Connected());

    // Status bar: fourteen panels with their widths and start texts.
    const std::vector<int> widths = {60, 80, 160, 60, 60, 50, 75, 40, 40, 50, 40, 40, 40, 30};
    ASSERT_EQ(form->StatusBar1->PanelCount(), 14);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(form->StatusBar1->Panel(i)->width(), widths[i]) << i;
    EXPECT_EQ(form->StatusBar1->PanelText(1), QStringLiteral("..."));
    EXPECT_FALSE(form->StatusBar1->PanelText(0).isEmpty());
    EXPECT_EQ(form->StatusBar1->PanelText(11), QString());
    EXPECT_EQ(form->StatusBar1->PanelText(12), QString());

    // Hidden buttons and the dialogs' filter.
    EXPECT_FALSE(form->Button9->isVisible());
    EXPECT_FALSE(form->Button10->isVisible());
    EXPECT_FALSE(form->Button11->isVisible());
    EXPECT_EQ(form->OpenDialog1.Filter, QStringLiteral("Quenrix eeprom|*.qxe|Quenrix Log|*.qxl"));

    // Port box: editable, COM1 to COM8 first, "COM1" shown.
    EXPECT_TRUE(form->ComboBox1->isEditable());
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("COM1"));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(form->ComboBox1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
}

TEST_F(ShellTest, NoPollingAtStartAlthoughGaugesShown)
{
    // Construction neither enables polling nor runs the page rule: until the read has
    // completed, the ECU sees only the probe and the read walk; polling follows the read.
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 3);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    ASSERT_TRUE(WaitForReadComplete());
    const std::vector<sim::Command> seen = Distinct(ecu->Received());
    ASSERT_GE(seen.size(), 501u);
    EXPECT_EQ(seen[0].letter, 'V');
    for (int address = 0; address <= 499; ++address) {
        EXPECT_EQ(seen[1 + address].letter, 'R');
        EXPECT_EQ(seen[1 + address].address, address);
    }
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
}

TEST_F(ShellTest, PageKeysSelectPagesAndRunThePollingRule)
{
    ASSERT_TRUE(WaitForReadComplete());
    QTest::keyClick(form.get(), Qt::Key_F6);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 5);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    QTest::keyClick(form.get(), Qt::Key_F7);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 6);
    QTest::keyClick(form.get(), Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 1);

    // Alt+F4 shows the Gauges page and is consumed: the window stays open, polling starts.
    QTest::keyClick(form.get(), Qt::Key_F4, Qt::AltModifier);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 3);
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());

    // F4 on the Gauges page runs the rule again: polling stays on. Switching it off by hand
    // first shows that the key really ran the rule.
    form->ThreadedTimer1->SetEnabled(false);
    QTest::keyClick(form.get(), Qt::Key_F4);
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());

    // A key reaches the focused control first only when it is not a page key.
    QTest::keyClick(form.get(), Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 4);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
}

TEST_F(ShellTest, PageKeysWinOverTheFocusedControl)
{
    form->activateWindow();
    form->ComboBox1->setFocus();
    QTest::keyClick(form->ComboBox1->lineEdit(), Qt::Key_F1);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 0);
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("COM1"));
}

TEST_F(ShellTest, ClosingTheWindowClosesThePort)
{
    ASSERT_TRUE(form->ZComm1->Connected());
    form->close();
    EXPECT_FALSE(form->ZComm1->Connected());
    // Closing again with the port closed does nothing more.
    form->FormClose();
    EXPECT_FALSE(form->ZComm1->Connected());
}

TEST_F(ShellTest, AnExceptionFromAHandlerIsShownAndTheWindowGoesOn)
{
    QStringList shown;
    ui::SetMessageHook([&](ui::MessageKind kind, const QString& text) {
        if (kind == ui::MessageKind::Error) shown << text;
    });
    auto* app = static_cast<QuenrixApplication*>(QCoreApplication::instance());
    ASSERT_NE(dynamic_cast<QuenrixApplication*>(app), nullptr);
    // A handler that throws, delivered the way Qt delivers every event.
    QTimer::singleShot(0, form.get(), [] { throw std::runtime_error("Conversion went wrong"); });
    ASSERT_TRUE(WaitFor([&] { return !shown.isEmpty(); }, 2000));
    EXPECT_EQ(shown.front(), QStringLiteral("Conversion went wrong"));
    // The window still works: a page key still switches pages.
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), 4);
}

}  // namespace

namespace {

// Before the ECU has answered, the pages show what construction put there.
class StartUpContentsTest : public WindowTest {
protected:
    StartUpContentsTest() { autoStart = false; }
};

TEST_F(StartUpContentsTest, GridsChartsAndSettingsBeforeAnyRead)
{
    StartSim();
    ecu->SetSilent(true);
    StartWindow();
    Pump(50);
    EXPECT_EQ(form->ReadPending, 1);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECO  NOT connected"));
    for (int k = 0; k < 16; ++k) {
        const QString t = QString::number(10 * k - 30);
        for (int map : {1, 2, 3, 13}) {
            EXPECT_EQ(form->MapGrid[map]->Cells(k, 0), t) << map;
            EXPECT_EQ(form->MapGrid[map]->Cells(k, 1), t) << map;
        }
        for (int map : {5, 8, 12}) EXPECT_EQ(form->MapGrid[map]->Cells(k, 1), QString::number(k)) << map;
        EXPECT_EQ(form->MapGrid[6]->Cells(k, 0), QString::number(20 * k + 40));
        EXPECT_EQ(form->MapGrid[6]->Cells(k, 1), QStringLiteral("100"));
        EXPECT_EQ(form->MapGrid[9]->Cells(k, 1), QStringLiteral("0"));
        EXPECT_EQ(form->MapGrid[11]->Cells(k, 1), QString::number(500 * k + 1500));
    }
    for (int k = 0; k < 36; ++k)
        for (int map : {4, 7}) EXPECT_EQ(form->MapGrid[map]->Cells(k, 1), QString::number(250 * k + 250)) << map;
    for (const calibration::MapLayout& map : calibration::Maps) EXPECT_EQ(form->MapChartOf[map.number]->Count(), 0);
    // The charts' axes follow the map table.
    const MapChart::AxisSetup value = form->MapChartOf[13]->ValueAxisSetup();
    EXPECT_TRUE(value.fixed);
    EXPECT_EQ(value.min, -15);
    EXPECT_EQ(value.max, 10);
    EXPECT_EQ(value.labelStep, 5);
    EXPECT_EQ(value.format, QString::fromUtf8("#,##0.###\u00BA"));
    EXPECT_EQ(form->MapChartOf[11]->ValueAxisSetup().title, QString("PWM Duty cycle %"));
    EXPECT_FALSE(form->MapChartOf[5]->ValueAxisSetup().fixed);
    EXPECT_EQ(form->MapChartOf[6]->XAxisSetup().format, QString("#,##0.###kPa"));
    // Settings keep their design values until the first decode.
    for (const calibration::SettingLayout& setting : calibration::Settings)
        EXPECT_EQ(form->SettingEdit.at(setting.address)->text(), QString::number(setting.startValue)) << setting.edit;
    // The only traffic is the probe.
    for (const sim::Command& c : ecu->Received()) EXPECT_EQ(c.letter, 'V');
}

}  // namespace
