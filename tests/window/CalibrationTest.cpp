// The calibration against the simulated ECU: the read of the whole EEPROM and its decode onto
// the pages, map cells and settings written as the tuner confirms them, and the write echoes.
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <atomic>

#include "calibration/ImageLayout.h"
#include "ecu/Threadedtimer.h"
#include "tests/window/CalibrationFixture.h"
#include "ui/Beep.h"
#include "ui/MapChart.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"

namespace {

using calibration::MapLayout;

const QColor Red(255, 0, 0);

using CalibrationTest = CalibrationWindowTest;

TEST_F(CalibrationTest, AFullReadAsksForEveryAddressInOrderAndShowsTheEcusCalibration)
{
    ASSERT_TRUE(WaitForReadComplete());
    std::vector<int> asked;   // a step sent again on a slow reply counts once
    for (const sim::Command& c : Distinct(ecu->Received()))
        if (c.letter == 'R') asked.push_back(c.address);
    ASSERT_EQ(asked.size(), 500u);
    for (int a = 0; a < 500; ++a) ASSERT_EQ(asked[std::size_t(a)], a);
    EXPECT_EQ(ecu->Received().front().letter, 'V');

    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
    EXPECT_FALSE(form->ThreadedTimer3->Enabled());
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());

    // Every byte came through, the ones no page shows too.
    const sim::Image eeprom = ecu->Eeprom();
    for (int a = 0; a < 500; ++a) ASSERT_EQ(form->EepromImage[std::size_t(a)], eeprom[std::size_t(a)]) << a;

    for (const MapLayout& map : calibration::Maps) {
        const StringGrid* grid = form->MapGrid[map.number];
        const MapChart* chart = form->MapChartOf[map.number];
        ASSERT_EQ(chart->Count(), map.columns) << map.title;
        for (int col = 0; col < map.columns; ++col) {
            const int shown = calibration::ShownValue(map.encoding, eeprom[std::size_t(map.base + col)]);
            ASSERT_EQ(grid->Cells(col, 1), QString::number(shown)) << map.title << " column " << col;
            ASSERT_EQ(chart->Point(col), QPointF(calibration::Breakpoint(map, col), shown)) << map.title;
        }
    }
    for (const calibration::SettingLayout& s : calibration::Settings) {
        const int shown = calibration::ShownValue(s.encoding, eeprom[std::size_t(s.address)]);
        EXPECT_EQ(Shown(s.address), QString::number(shown)) << s.edit;
        EXPECT_EQ(form->SettingSpin.at(s.address)->Position(), shown) << s.spin;
    }
}

TEST_F(CalibrationTest, ALostOrDamagedReadReplyIsAskedAgainAndNeverStoredElsewhere)
{
    autoStart = false;
    StartSim();
    // The reply for address 251 is lost once; the one for 5 comes back with its address's high
    // byte damaged (the checksum does not cover it), as 0x0105.
    std::atomic<bool> dropped{false}, damaged{false};
    ecu->SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'R' && c.address == 251 && !dropped.exchange(true)) return {};
        if (c.letter == 'R' && c.address == 5 && !damaged.exchange(true)) return {"*r0105" + reply.substr(6)};
        return {reply};
    });
    StartWindow();
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_TRUE(dropped && damaged);
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());
    EXPECT_EQ(form->BadReplyCount, 1);   // the damaged reply; the lost one is simply asked again
    std::vector<int> asked;
    for (const sim::Command& c : ecu->Received())
        if (c.letter == 'R') asked.push_back(c.address);
    std::vector<int> once;
    for (int a : asked)
        if (once.empty() || once.back() != a) once.push_back(a);
    ASSERT_EQ(once.size(), 500u);
    for (int a = 0; a < 500; ++a) ASSERT_EQ(once[std::size_t(a)], a);
    EXPECT_GE(std::count(asked.begin(), asked.end(), 251), 2);
    EXPECT_GE(std::count(asked.begin(), asked.end(), 5), 2);
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- ECU connected"));
    EXPECT_EQ(form->MapChartOf[7]->Count(), 36);
}

TEST_F(CalibrationTest, AReadThatGivesUpSaysWhereAndResumesThereWhenTheEcuAnswers)
{
    autoStart = false;
    StartSim();
    // Reads from address 251 on go unanswered until the ECU is asked for its version again.
    std::atomic<bool> stalled{true}, versionAsked{false}, gaveUp{false};
    std::atomic<size_t> mark{0};   // the frames up to the 'V' that resumes the read
    ecu->SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'V' && stalled && gaveUp) {
            mark = ecu->ReceivedCount();
            stalled = false;
            versionAsked = true;
        }
        if (stalled && c.letter == 'R' && c.address >= 251) return {};
        return {reply};
    });
    StartWindow();
    ASSERT_TRUE(WaitFor([&] { return form->StatusBar1->PanelText(2) == QStringLiteral("Status- read stopped at 251"); },
                        5000));
    gaveUp = true;
    EXPECT_EQ(form->ReadPending, 1);
    // Nothing is decoded before the last byte: the grids still hold their start-up rows, and
    // the setting editors stay locked.
    EXPECT_EQ(form->MapGrid[7]->Cells(0, 1), QStringLiteral("250"));
    EXPECT_EQ(form->MapChartOf[7]->Count(), 0);

    // The next probe tick asks for the version; its reply resumes the read at 251.
    ASSERT_TRUE(WaitForReadComplete(5000));
    EXPECT_TRUE(versionAsked);
    const std::vector<sim::Command> after = Distinct(ReceivedSince(mark));
    std::vector<int> reads;
    for (const sim::Command& c : after)
        if (c.letter == 'R') reads.push_back(c.address);
    ASSERT_EQ(reads.size(), 249u);
    for (int a = 251; a < 500; ++a) ASSERT_EQ(reads[std::size_t(a - 251)], a);
    EXPECT_EQ(form->EepromImage, ecu->Eeprom());
    EXPECT_EQ(form->MapChartOf[7]->Count(), 36);
}

TEST_F(CalibrationTest, AConfirmedCellIsWrittenTheCursorMovesOnAndTheChartFollowsTheGrid)
{
    ReadThenShow(calibration::PageTemp);
    StringGrid* grid = form->MapGrid[3];
    grid->setFocus();
    grid->SetCol(4);
    size_t mark = Mark();
    Type("-5");
    Enter();
    std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 88 + 4);
    EXPECT_EQ(writes[0].data, 95);
    EXPECT_EQ(grid->Col(), 5);
    EXPECT_EQ(form->MapChartOf[3]->Point(4), QPointF(10, -5));
    // The echo puts the byte into the image.
    EXPECT_TRUE(WaitFor([&] { return form->EepromImage[92] == 95; }, 2000));
    EXPECT_EQ(ecu->Eeprom()[92], 95);

    // From the last column the cursor goes to column 1; an unchanged cell is sent again.
    grid->SetCol(15);
    mark = Mark();
    Enter();
    writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 88 + 15);
    EXPECT_EQ(grid->Col(), 1);

    // A cell typed but never confirmed is drawn at the next Enter in that grid.
    grid->SetCells(9, 1, QStringLiteral("7"));
    grid->SetCol(2);
    mark = Mark();
    Enter();
    EXPECT_EQ(WaitForWrites(mark, 1).size(), 1u);
    EXPECT_EQ(form->MapChartOf[3]->Point(9), QPointF(60, 7));
    EXPECT_EQ(form->MapChartOf[3]->Count(), 16);

    // Map 6 halves the number, dropping the remainder.
    form->PageControl1->SetActivePageIndex(calibration::PageFuel);
    StringGrid* doubled = form->MapGrid[6];
    doubled->setFocus();
    doubled->SetCol(3);
    mark = Mark();
    Type("101");
    Enter();
    writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 156 + 3);
    EXPECT_EQ(writes[0].data, 50);
}

TEST_F(CalibrationTest, ACellThatIsNotANumberOrDoesNotFitTheByteBeepsAndSendsNothing)
{
    ReadThenShow(calibration::PageTemp);
    for (auto [map, text] : {std::pair{3, "12a"}, {1, "300"}, {1, "-1"}, {3, "156"}}) {
        StringGrid* grid = form->MapGrid[map];
        grid->setFocus();
        grid->SetCol(6);
        const QPointF before = form->MapChartOf[map]->Point(6);
        const int beeps = ui::BeepCount();
        const size_t mark = Mark();
        Type(QString::fromLatin1(text));
        Enter();
        EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u) << text;
        EXPECT_EQ(ui::BeepCount(), beeps + 1) << text;
        EXPECT_EQ(grid->Col(), 6) << text;   // the cursor stays on the cell to be mended
        EXPECT_EQ(grid->Cells(6, 1), QString::number(before.y())) << text;   // the ECU's value again
        EXPECT_EQ(form->MapChartOf[map]->Point(6), before) << text;   // not redrawn
    }
}

TEST_F(CalibrationTest, OnlyEnterWritesAndOnlyTheFocusedCellOfASelection)
{
    ReadThenShow(calibration::PageTemp);
    StringGrid* grid = form->MapGrid[1];
    grid->setFocus();
    grid->SetCol(3);
    size_t mark = Mark();
    for (Qt::Key key : {Qt::Key_Right, Qt::Key_Left, Qt::Key_Tab, Qt::Key_Escape})
        QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u);

    // Cells 2 to 5 selected with the cursor on 3.
    grid->SetCol(3);
    grid->setRangeSelected(QTableWidgetSelectionRange(1, 2, 1, 5), true);
    ASSERT_EQ(grid->selectedItems().size(), 4);
    mark = Mark();
    Enter();
    const std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 188 + 3);

    // A cell left by the arrow key is not sent; the next Enter draws it on the chart.
    grid->SetCol(8);
    mark = Mark();
    Type("77");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u);
}

TEST_F(CalibrationTest, CellsAreWrittenWhileTheReadRunsToo)
{
    ReadThenShow(calibration::PageBoost);
    form->ReadPending = 1;   // as after a port change
    const size_t mark = Mark();
    form->MapGrid[12]->SetCol(2);
    form->MapGrid[12]->SetCells(2, 1, QStringLiteral("40"));
    form->StringGrid1KeyUp(form->MapGrid[12], Qt::Key_Return);
    const std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 222);
    EXPECT_EQ(writes[0].data, 40);
}

TEST_F(CalibrationTest, LeavingASettingEditSendsItsByte)
{
    ReadThenShow(calibration::PageIgnition);
    size_t mark = Mark();
    TypeAndLeave(form->SettingEdit.at(452), "-9");
    std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 452);
    EXPECT_EQ(writes[0].data, 91);
    EXPECT_TRUE(WaitFor([&] { return form->EepromImage[452] == 91; }, 2000));

    for (const char* text : {"-101", "156", "abc", ""}) {
        const int beeps = ui::BeepCount();
        mark = Mark();
        TypeAndLeave(form->SettingEdit.at(452), QString::fromLatin1(text));
        EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u) << text;
        EXPECT_EQ(ui::BeepCount(), beeps + 1) << text;
        EXPECT_EQ(Shown(452), QStringLiteral("-9")) << text;   // back to what the ECU holds
    }

    // Outside the spin range but a storable byte: sent.
    form->PageControl1->SetActivePageIndex(calibration::PageBoost);
    mark = Mark();
    TypeAndLeave(form->SettingEdit.at(434), "200");
    writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 434);
    EXPECT_EQ(writes[0].data, 200);

    // The POT box is a live reading, not a setting.
    form->PageControl1->SetActivePageIndex(calibration::PageSetup);
    mark = Mark();
    TypeAndLeave(form->txtPOT, "12");
    EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u);
}

TEST_F(CalibrationTest, SettingsSendNothingAndDoNotBeepWhileAReadOrUploadRuns)
{
    ReadThenShow(calibration::PageSetup);
    for (int flag = 0; flag < 2; ++flag) {
        form->ReadPending = flag == 0;
        form->UploadActive = flag == 1;
        const int beeps = ui::BeepCount();
        const size_t mark = Mark();
        TypeAndLeave(form->SettingEdit.at(443), "50");
        TypeAndLeave(form->SettingEdit.at(443), "bad");
        form->SettingSpin.at(444)->Click(UpDown::btNext);
        EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u);
        EXPECT_EQ(ui::BeepCount(), beeps);
    }
}

TEST_F(CalibrationTest, SpinArrowsSendTheNewPositionAndNothingAtTheEndOfTheirRange)
{
    ReadThenShow(calibration::PageFuel);
    UpDown* baseFuel = form->SettingSpin.at(442);
    form->SettingEdit.at(442)->setText(QStringLiteral("254"));
    size_t mark = Mark();
    ASSERT_TRUE(baseFuel->Click(UpDown::btNext));
    std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 442);
    EXPECT_EQ(writes[0].data, 255);
    EXPECT_EQ(Shown(442), QStringLiteral("255"));

    mark = Mark();
    EXPECT_FALSE(baseFuel->Click(UpDown::btNext));
    form->SettingEdit.at(452)->setText(QStringLiteral("9"));
    EXPECT_FALSE(form->SettingSpin.at(452)->Click(UpDown::btNext));
    EXPECT_EQ(WaitForWrites(mark, 0).size(), 0u);

    // The Up key in the edit steps like the arrow; the offset setting sends value + 100.
    form->PageControl1->SetActivePageIndex(calibration::PageIgnition);
    QLineEdit* trim = form->SettingEdit.at(452);
    trim->setFocus();
    mark = Mark();
    QTest::keyClick(trim, Qt::Key_Down);
    writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 452);
    EXPECT_EQ(writes[0].data, 108);
}

TEST_F(CalibrationTest, ALockByteThatIsNeitherOffNorOnTakesTheTunerToIt)
{
    ReadThenShow(calibration::PageTemp);
    QLineEdit* lock = form->txtTPSDwell;
    const QColor normal = lock->palette().color(QPalette::Base);
    EXPECT_NE(normal, Red);
    EXPECT_TRUE(lock->isReadOnly());

    form->EepromImage[454] = 20;
    form->Button10Click(nullptr);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), calibration::PageTemp);
    EXPECT_EQ(lock->palette().color(QPalette::Base), normal);

    form->EepromImage[454] = 7;
    form->Button10Click(nullptr);
    EXPECT_EQ(form->PageControl1->ActivePageIndex(), calibration::PageSetup);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());   // a page change by the program
    EXPECT_EQ(lock->text(), QStringLiteral("7"));
    EXPECT_EQ(lock->palette().color(QPalette::Base), Red);
    EXPECT_EQ(QApplication::focusWidget(), lock);
    EXPECT_EQ(form->UpDown7->Position(), form->EepromImage[439]);

    // Another decode does not clear the red, whatever it finds.
    form->EepromImage[454] = 0;
    form->Button10Click(nullptr);
    EXPECT_EQ(lock->palette().color(QPalette::Base), Red);

    // Its spin control moves between 0 and 20, sends, and clears the red.
    form->EepromImage[454] = 7;
    form->Button10Click(nullptr);
    const size_t mark = Mark();
    ASSERT_TRUE(form->updownLockAdvance->Click(UpDown::btNext));
    const std::vector<sim::Command> writes = WaitForWrites(mark, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].address, 454);
    EXPECT_EQ(writes[0].data, 20);
    EXPECT_EQ(lock->text(), QStringLiteral("20"));
    // Not red any more; plain once the ECU has echoed the write.
    EXPECT_NE(lock->palette().color(QPalette::Base), Red);
    ASSERT_TRUE(WaitFor([&] { return form->Marks.Mark(454) == calibration::WriteMark::None; }, 2000));
    EXPECT_EQ(lock->palette().color(QPalette::Base), normal);
    EXPECT_EQ(form->SettingEdit.at(443)->palette().color(QPalette::Base), normal);
}

TEST_F(CalibrationTest, DecodeShowsTheEncodingsAndFillsEachChartOnce)
{
    ASSERT_TRUE(WaitForReadComplete());
    form->EepromImage[88] = 0;     // map 3, offset
    form->EepromImage[103] = 255;
    form->EepromImage[156] = 255;  // map 6, doubled
    form->EepromImage[157] = 50;
    form->EepromImage[452] = 0;    // ignition trim, offset, outside its spin range
    form->EepromImage[431] = 255;
    form->Button10Click(nullptr);
    form->Button10Click(nullptr);
    EXPECT_EQ(form->MapGrid[3]->Cells(0, 1), QStringLiteral("-100"));
    EXPECT_EQ(form->MapGrid[3]->Cells(15, 1), QStringLiteral("155"));
    EXPECT_EQ(form->MapGrid[6]->Cells(0, 1), QStringLiteral("510"));
    EXPECT_EQ(form->MapGrid[6]->Cells(1, 1), QStringLiteral("100"));
    EXPECT_EQ(form->MapChartOf[6]->Point(0), QPointF(40, 510));
    // The true value, even outside the spin range: the tuner sees what the ECU holds.
    EXPECT_EQ(Shown(452), QStringLiteral("-100"));
    EXPECT_EQ(Shown(431), QStringLiteral("255"));
    for (const MapLayout& map : calibration::Maps)
        EXPECT_EQ(form->MapChartOf[map.number]->Count(), map.columns) << map.title;
}

TEST_F(CalibrationTest, RepliesNobodyAskedForChangeNothingAndCountAsBad)
{
    ASSERT_TRUE(WaitForReadComplete());
    form->PageControl1->SetActivePageIndex(calibration::PageTemp);
    form->PageControl1Change(form->PageControl1);
    Pump(40);
    const QString status = form->StatusBar1->PanelText(2);
    const calibration::EepromImage image = form->EepromImage;
    const int bad = form->BadReplyCount;

    form->ProcessReply('w', 190, 33);   // an echo of a write never sent
    form->ProcessReply('r', 0, 7);      // a read reply with no read running
    form->ProcessReply('w', 500, 1);    // beyond the image
    EXPECT_EQ(form->EepromImage, image);
    EXPECT_EQ(form->BadReplyCount, bad + 3);
    EXPECT_EQ(form->StatusBar1->PanelText(3), QString::number(bad + 3));
    EXPECT_EQ(form->StatusBar1->PanelText(2), status);
    EXPECT_EQ(form->UploadActive, 0);
    Pump(50);
    EXPECT_TRUE(Distinct(ReceivedSince(Mark())).empty());   // nothing asked for the next address
}

TEST_F(CalibrationTest, HiddenButtonsStartReadsAtZeroAndAtTwenty)
{
    ASSERT_TRUE(WaitForReadComplete());
    form->PageControl1->SetActivePageIndex(calibration::PageTemp);
    form->PageControl1Change(form->PageControl1);
    Pump(40);   // a polling tick already handed to the window still runs once: let it pass

    sim::Image changed = ecu->Eeprom();
    for (int a = 0; a < 500; ++a) changed[std::size_t(a)] = uint8_t(changed[std::size_t(a)] + 1);
    ecu->SetEeprom(changed);

    size_t mark = Mark();
    form->Button9Click(nullptr);
    ASSERT_TRUE(WaitFor([&] { return form->EepromImage[499] == changed[499]; }, 5000));
    const std::vector<sim::Command> after = ReceivedSince(mark);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after[0].letter, 'R');
    EXPECT_EQ(after[0].address, 20);
    EXPECT_EQ(after[0].data, 14);
    EXPECT_NE(form->EepromImage[19], changed[19]);   // below 20: not read
    EXPECT_EQ(form->EepromImage[20], changed[20]);
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(form->MapGrid[7]->Cells(0, 1), QString::number(changed[20]));

    form->PageControl1Change(form->PageControl1);
    Pump(40);
    mark = Mark();
    form->Button11Click(nullptr);
    ASSERT_TRUE(WaitFor([&] { return form->EepromImage[19] == changed[19]; }, 5000));
    ASSERT_TRUE(WaitFor([&] { return form->EepromImage[499] == changed[499]; }, 5000));
    EXPECT_EQ(ReceivedSince(mark).at(0).address, 0);
}

TEST_F(CalibrationTest, TakingTheWindowApartWithASettingFocusedSendsNothing)
{
    ReadThenShow(calibration::PageSetup);
    QLineEdit* edit = form->SettingEdit.at(443);
    edit->setFocus();
    edit->setText(QStringLiteral("bad"));
    const int beeps = ui::BeepCount();
    const size_t mark = Mark();
    form.reset();
    Pump(100);
    EXPECT_EQ(ui::BeepCount(), beeps);
    EXPECT_EQ(ReceivedSince(mark).size(), 0u);
}

}  // namespace
