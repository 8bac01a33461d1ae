// Tuning on a running engine, against the simulated ECU: the switch that polls on the map
// pages (and is remembered), the strip of live values, the operating point on the grids and
// charts, and the workbench's commands found by menu and key, edits made while polling.
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <memory>

#include "calibration/ImageLayout.h"
#include "ecu/Threadedtimer.h"
#include "tests/window/CalibrationFixture.h"
#include "ui/Beep.h"
#include "ui/LiveStrip.h"
#include "ui/MapChart.h"
#include "ui/StringGrid.h"
#include "ui/TextPrompt.h"
#include "ui/UpDown.h"

namespace {

using calibration::PageFuel;

class LiveMapTest : public CalibrationWindowTest {
protected:
    ~LiveMapTest() override { ui::SetTextPromptHook({}); }

    LiveStrip* Strip(int page) const { return form->LiveStripOf[std::size_t(page)]; }
    QString StripValue(int page, const char* name) const
    {
        LiveStrip* strip = Strip(page);
        for (int i = 0; i < strip->Count(); ++i)
            if (strip->ValueLabel(i)->accessibleName() == QLatin1String(name)) return strip->Value(i);
        return QStringLiteral("(none)");
    }
    // The polling letters the ECU got since the mark.
    std::string PollsSince(size_t mark) const
    {
        std::string letters;
        for (const sim::Command& c : ReceivedSince(mark))
            if (c.letter != 'W' && c.letter != 'R') letters += c.letter;
        return letters;
    }
    static void Chord(StringGrid* grid, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(grid, key, modifiers);
        QTest::keyRelease(grid, Qt::Key_Control, Qt::NoModifier);
    }
    static std::vector<std::pair<int, int>> Pairs(const std::vector<sim::Command>& writes)
    {
        std::vector<std::pair<int, int>> pairs;
        for (const sim::Command& c : writes) pairs.emplace_back(c.address, c.data);
        return pairs;
    }
};

TEST_F(LiveMapTest, OffAMapPageIsSilentOnItPollsShowsTheEngineAndMarksItsColumnAndTheSwitchIsRemembered)
{
    // Fixed live replies: 3250 rpm and 20° advance, 100 kPa and throttle byte 120 (7.50),
    // water 85 °C and air 30 °C, lambda 1.00, fuel 2.00 ms.
    ecu->SetLiveReply('A', 3250, 120);
    ecu->SetLiveReply('B', 100, 120);
    ecu->SetLiveReply('C', 64, 0);
    ecu->SetLiveReply('D', 60, 115);
    ecu->SetLiveReply('F', 0, 100);
    ReadThenShow(PageFuel);

    // First start: off. The Fuel page says so, with its button, and not one frame goes out.
    EXPECT_FALSE(form->CheckBoxLiveOnMaps->isChecked());
    LiveStrip* strip = Strip(PageFuel);
    ASSERT_NE(strip, nullptr);
    EXPECT_FALSE(strip->On());
    EXPECT_TRUE(strip->OffLine()->isVisible());
    EXPECT_EQ(strip->OffLine()->text(), QStringLiteral("Live values on map pages are off."));
    EXPECT_TRUE(strip->SwitchOnButton()->isVisible());
    Pump(200);   // a poll of the Gauges page still on its way to the ECU arrives first
    size_t mark = Mark();
    Pump(300);
    EXPECT_EQ(Mark(), mark) << "polled on the Fuel page with the switch off";
    // What the Gauges page polled before is soon no longer the engine's: no mark stays.
    EXPECT_TRUE(WaitFor([&] { return !form->MapGrid[4]->OperatingPoint(); }, 1500));
    EXPECT_EQ(Mark(), mark);

    // The button switches it on: the product's cycle goes out on the Fuel page.
    QTest::mouseClick(strip->SwitchOnButton(), Qt::LeftButton);
    EXPECT_TRUE(form->CheckBoxLiveOnMaps->isChecked());
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
    mark = Mark();
    ASSERT_TRUE(WaitFor([&] { return PollsSince(mark).size() >= 20; }, 3000));
    const std::string polls = PollsSince(mark);
    const std::string cycle = "ABCDEVFHGABCDEVFHGABCDEVFHG";
    EXPECT_NE(cycle.find(polls.substr(0, 18)), std::string::npos) << polls;

    // The strip: the Gauges page's texts with their units.
    ASSERT_TRUE(WaitFor([&] { return StripValue(PageFuel, "Lambda") != LiveStrip::NoValue(); }, 2000));
    EXPECT_EQ(StripValue(PageFuel, "RPM"), QStringLiteral("3250 rpm"));
    EXPECT_EQ(StripValue(PageFuel, "TPS"), form->txtTPS->text());
    EXPECT_EQ(StripValue(PageFuel, "TPS"), QStringLiteral("7.50"));
    EXPECT_EQ(StripValue(PageFuel, "MAP"), QStringLiteral("100 kPa"));
    EXPECT_EQ(StripValue(PageFuel, "Water"), QStringLiteral("85 \u00b0C"));
    EXPECT_EQ(StripValue(PageFuel, "Air"), QStringLiteral("30 \u00b0C"));
    EXPECT_EQ(StripValue(PageFuel, "Lambda"), form->txtLambdaFloat->text());
    EXPECT_EQ(StripValue(PageFuel, "Advance"), QStringLiteral("20 \u00b0"));
    EXPECT_EQ(StripValue(PageFuel, "Fuel"), QStringLiteral("2.00 ms"));

    // The operating point: 3250 rpm is column 12 of "RPM Fuel" (250 + 12 × 250); 100 kPa lies
    // on column 3 of the pressure map; throttle 7.50 half-way between sites 7 and 8.
    StringGrid* rpmFuel = form->MapGrid[4];
    ASSERT_TRUE(WaitFor([&] { return rpmFuel->OperatingPoint().has_value(); }, 2000));
    EXPECT_DOUBLE_EQ(*rpmFuel->OperatingPoint(), 12.0);
    EXPECT_EQ(rpmFuel->OperatingColumn(), 12);
    EXPECT_TRUE(rpmFuel->accessibleDescription().startsWith(QStringLiteral("engine at 3250 rpm, at column 13\n")))
        << rpmFuel->accessibleDescription().toStdString();
    EXPECT_DOUBLE_EQ(*form->MapGrid[6]->OperatingPoint(), 3.0);
    EXPECT_DOUBLE_EQ(*form->MapGrid[5]->OperatingPoint(), 7.5);
    EXPECT_TRUE(form->MapGrid[5]->accessibleDescription().startsWith(
        QStringLiteral("throttle at site 7.5, between columns 8 and 9")));
    // The chart: the line at 3250 rpm and the dot on the map's value there.
    MapChart* chart = form->MapChartOf[4];
    ASSERT_TRUE(chart->OperatingPoint());
    EXPECT_DOUBLE_EQ(*chart->OperatingPoint(), 3250.0);
    const std::optional<QPointF> dot = chart->OperatingDot();
    ASSERT_TRUE(dot);
    EXPECT_DOUBLE_EQ(dot->y(), rpmFuel->Cells(12, 1).toDouble());

    // The engine speeds up: the mark moves with the next polling cycles, between columns.
    const quint64 paintsStill = rpmFuel->PaintCount();
    Pump(300);   // nearly three cycles with the engine still: the grid is not painted again
    EXPECT_EQ(rpmFuel->PaintCount(), paintsStill);
    ecu->SetLiveReply('A', 5100, 120);
    ASSERT_TRUE(WaitFor([&] { return rpmFuel->OperatingColumn() == 19; }, 2000));
    EXPECT_NEAR(*rpmFuel->OperatingPoint(), 19.4, 1e-9);
    EXPECT_TRUE(rpmFuel->accessibleDescription().startsWith(
        QStringLiteral("engine at 5100 rpm, between columns 20 and 21")));
    EXPECT_TRUE(WaitFor([&] { return rpmFuel->PaintCount() > paintsStill; }, 1000));

    // The link falls silent: the values turn into "—" and the marks go.
    ecu->SetSilent(true);
    ASSERT_TRUE(WaitFor([&] { return StripValue(PageFuel, "RPM") == LiveStrip::NoValue(); }, 4000));
    EXPECT_FALSE(rpmFuel->OperatingPoint());
    EXPECT_FALSE(chart->OperatingPoint());
    ecu->SetSilent(false);

    // Logging and Setup keep the rule they had: no polling on the Setup page.
    QTest::keyClick(form.get(), Qt::Key_F6);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());

    // Remembered: the next run starts with it on, and the Fuel page polls at once.
    form.reset();
    StartWindow();
    EXPECT_TRUE(form->CheckBoxLiveOnMaps->isChecked());
    EXPECT_TRUE(Strip(PageFuel)->On());
    ASSERT_TRUE(WaitForReadComplete());
    QTest::keyClick(form.get(), Qt::Key_F2);
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
    // And off again from the Setup page: the map page stops polling.
    form->CheckBoxLiveOnMaps->setChecked(false);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    EXPECT_FALSE(Strip(PageFuel)->On());
}

sim::Image ScaleImage()
{
    sim::Image image = sim::EcuSim::DefaultImage();
    for (int col = 0; col < 36; ++col) image[std::size_t(104 + col)] = uint8_t(50);
    image[104 + 4] = 44;    // 44 × 1.1 = 48.4 -> 48
    image[104 + 5] = 45;    // 49.5 -> 50 (halves away from zero)
    image[104 + 6] = 250;   // 275: beyond the byte
    image[104 + 7] = 200;   // 220
    return image;
}

TEST_F(LiveMapTest, WhilePollingAnEditIsEchoedScaleIsOneUndoableEditAndRefusedWholeTheMenuListsEveryCommand)
{
    autoStart = false;
    StartSim();
    ecu->SetEeprom(ScaleImage());
    StartWindow();
    ReadThenShow(PageFuel);
    form->SetLiveOnMapPages(true);
    ASSERT_TRUE(form->ThreadedTimer1->Enabled());
    StringGrid* grid = form->MapGrid[4];
    ASSERT_TRUE(WaitFor([&] { return grid->OperatingPoint().has_value(); }, 2000));

    // A value typed while polling runs: written, marked until its echo, then plain.
    grid->setFocus();
    grid->SetCol(2);
    size_t mark = Mark();
    Type("61");
    Enter();
    EXPECT_EQ(grid->CellMarkAt(2, 1), StringGrid::CellMark::Pending);
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[106] == 61 && grid->CellMarkAt(2, 1) == StringGrid::CellMark::None; }, 3000));
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{106, 61}}));
    EXPECT_TRUE(grid->OperatingPoint().has_value());   // the marks live side by side

    // Scale by 10 % on columns 3..5 (49.5 rounds away from zero), one edit.
    std::vector<QString> asked;
    ui::SetTextPromptHook([&](const QString& label, const QString&) -> std::optional<QString> {
        asked.push_back(label);
        return QStringLiteral("10");
    });
    grid->SetCol(3);
    QTest::keyClick(grid, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(grid, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_EQ(grid->SelectedCols(), (std::vector<int>{3, 4, 5}));
    mark = Mark();
    Chord(grid, Qt::Key_P);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(WaitForWrites(mark, 3).size(), 3u);
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{107, 55}, {108, 48}, {109, 50}}));
    ASSERT_TRUE(WaitFor([&] { return ecu->Eeprom()[109] == 50; }, 3000));
    EXPECT_EQ(grid->Cells(4, 1), QStringLiteral("48"));
    mark = Mark();
    Chord(grid, Qt::Key_Z);
    EXPECT_EQ(WaitForWrites(mark, 3).size(), 3u);
    ASSERT_TRUE(WaitFor([&] { const auto e = ecu->Eeprom(); return e[107] == 50 && e[108] == 44 && e[109] == 45; }, 3000));
    EXPECT_EQ(grid->Cells(5, 1), QStringLiteral("45"));

    // Columns 5..7 hold 45, 250, 200: 250 × 1.1 leaves the byte, so nothing at all is sent.
    grid->SetCol(5);
    QTest::keyClick(grid, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(grid, Qt::Key_Right, Qt::ShiftModifier);
    const int beeps = ui::BeepCount();
    mark = Mark();
    Chord(grid, Qt::Key_P);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
    EXPECT_EQ(ui::BeepCount(), beeps + 1);
    EXPECT_EQ(grid->Cells(6, 1), QStringLiteral("250"));
    // A cancelled prompt sends nothing and does not beep.
    ui::SetTextPromptHook([](const QString&, const QString&) -> std::optional<QString> { return std::nullopt; });
    Chord(grid, Qt::Key_P);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
    EXPECT_EQ(ui::BeepCount(), beeps + 1);

    // The menu: every command with its key; choosing one runs it.
    std::unique_ptr<QMenu> menu(grid->CreateCommandMenu(nullptr));
    QStringList texts;
    QAction* stepUp = nullptr;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) {
            texts << action->text();
            if (action->text().startsWith(QStringLiteral("Step up"))) stepUp = action;
        }
    EXPECT_EQ(texts, (QStringList{"Set value\tEnter", "Step up\tCtrl+Up", "Step down\tCtrl+Down",
                                  "Ten steps up\tCtrl+Shift+Up", "Ten steps down\tCtrl+Shift+Down",
                                  QStringLiteral("Scale by a percentage\u2026\tCtrl+P"), "Interpolate\tCtrl+I",
                                  "Copy\tCtrl+C", "Paste\tCtrl+V", "Undo\tCtrl+Z", "Redo\tCtrl+Y"}));
    ASSERT_NE(stepUp, nullptr);
    grid->SetCol(0);
    mark = Mark();
    stepUp->trigger();
    EXPECT_EQ(Pairs(WaitForWrites(mark, 1)), (std::vector<std::pair<int, int>>{{104, 51}}));

    // A setting's menu: the edit's own commands and the spin control's steps, which write.
    UpDown* spin = form->SettingSpin.at(443);
    std::unique_ptr<QMenu> settingMenu(spin->CreateCommandMenu());
    QAction* settingUp = nullptr;
    for (QAction* action : settingMenu->actions())
        if (action->text() == QStringLiteral("Step up\tUp")) settingUp = action;
    ASSERT_NE(settingUp, nullptr);
    EXPECT_GT(settingMenu->actions().size(), 3) << "the edit's own commands come first";
    const QString before = form->SettingEdit.at(443)->text();
    mark = Mark();
    settingUp->trigger();
    const std::vector<sim::Command> settingWrites = WaitForWrites(mark, 1);
    ASSERT_EQ(settingWrites.size(), 1u);
    EXPECT_EQ(settingWrites[0].address, 443);
    EXPECT_EQ(form->SettingEdit.at(443)->text(), QString::number(before.toInt() + spin->Increment()));

    // Home, End, Ctrl+Home and Ctrl+End: first and last column.
    grid->SetCol(9);
    QTest::keyClick(grid, Qt::Key_Home);
    EXPECT_EQ(grid->Col(), 0);
    QTest::keyClick(grid, Qt::Key_End);
    EXPECT_EQ(grid->Col(), 35);
    Chord(grid, Qt::Key_Home);
    EXPECT_EQ(grid->Col(), 0);
    EXPECT_EQ(grid->Row(), 1);
    Chord(grid, Qt::Key_End);
    EXPECT_EQ(grid->Col(), 35);
}

}  // namespace
