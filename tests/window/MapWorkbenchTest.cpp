// The map grids as a tuner's workbench, against the simulated ECU: ranges set, stepped,
// interpolated, pasted, undone and redone, each changed cell one 'W' on the wire; and the
// honest screen: what was sent and not echoed is marked, and stays marked when no echo comes.
#include <QClipboard>
#include <QGuiApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <atomic>
#include <set>

#include "calibration/ImageLayout.h"
#include "calibration/RestorePoints.h"
#include "tests/window/CalibrationFixture.h"
#include "ui/Beep.h"
#include "ui/Dialogs.h"
#include "ui/MapChart.h"
#include "ui/StatusBar.h"
#include "ui/StringGrid.h"

namespace {

using calibration::WriteMark;
using Mark = StringGrid::CellMark;

class MapWorkbenchTest : public CalibrationWindowTest {
protected:
    MapWorkbenchTest() { autoStart = false; }

    // The simulated ECU starts with `image`; the window reads it and shows `page`. Echoes of
    // writes to the addresses in `held` are swallowed (the writes themselves are stored).
    void Start(const sim::Image& image, int page)
    {
        StartSim();
        ecu->SetEeprom(image);
        ecu->SetRawReplyHook([this](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
            if (c.letter == 'W' && Held(c.address)) return {};
            return {reply};
        });
        StartWindow();
        ReadThenShow(page);
    }
    bool Held(uint16_t address) const
    {
        return address == held1.load() || address == held2.load();
    }
    // Selects columns first..last of a grid with Shift+Right, as a tuner does from the keyboard.
    static void SelectWithKeys(StringGrid* grid, int first, int last)
    {
        grid->setFocus();
        grid->SetCol(first);
        for (int col = first; col < last; ++col) QTest::keyClick(grid, Qt::Key_Right, Qt::ShiftModifier);
        LetGo(grid);
    }
    static void Chord(StringGrid* grid, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier)
    {
        QTest::keyClick(grid, key, modifiers);
        LetGo(grid);
    }
    // The modifier keys let go of, as a person's hand does: a simulated chord leaves the
    // application believing they are still held, and the next click would extend a selection.
    static void LetGo(QWidget* widget) { QTest::keyRelease(widget, Qt::Key_Control, Qt::NoModifier); }
    // Waits until the ECU holds each byte.
    bool EcuHolds(const std::vector<std::pair<int, int>>& bytes)
    {
        return WaitFor([&] {
            const sim::Image held = ecu->Eeprom();
            for (auto [address, byte] : bytes)
                if (held[std::size_t(address)] != byte) return false;
            return true;
        }, 3000);
    }
    size_t WritesTo(uint16_t address) const
    {
        size_t n = 0;
        for (const sim::Command& c : ecu->Received())
            if (c.letter == 'W' && c.address == address) ++n;
        return n;
    }
    static std::vector<std::pair<int, int>> Pairs(const std::vector<sim::Command>& writes)
    {
        std::vector<std::pair<int, int>> pairs;
        for (const sim::Command& c : writes) pairs.emplace_back(c.address, c.data);
        return pairs;
    }

    std::atomic<int> held1{-1}, held2{-1};
};

// The simulator's calibration with map 7 (Full Load Advance, base 20, plain) and map 1 (Start
// Fuel add on, base 188) holding known bytes.
sim::Image KnownImage()
{
    sim::Image image = sim::EcuSim::DefaultImage();
    for (int col = 0; col < 36; ++col) image[std::size_t(20 + col)] = uint8_t(10 + col);
    for (int col = 0; col < 16; ++col) image[std::size_t(188 + col)] = uint8_t(100 + col);
    for (int col = 0; col < 16; ++col) image[std::size_t(172 + col)] = uint8_t(col);
    image[156] = 50;   // map 6, doubled: shown 100, 102, 508
    image[157] = 51;
    image[158] = 254;
    return image;
}

TEST_F(MapWorkbenchTest, AValueTypedIntoThreeSelectedCellsIsThreeWritesAndTheEcuHoldsThem)
{
    Start(KnownImage(), calibration::PageIgnition);
    StringGrid* grid = form->MapGrid[7];
    SelectWithKeys(grid, 4, 6);
    ASSERT_EQ(grid->SelectedCols(), (std::vector<int>{4, 5, 6}));
    const size_t mark = Mark();
    Type("33");
    Enter();
    WaitForWrites(mark, 3);
    Pump(150);   // and nothing more comes
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{24, 33}, {25, 33}, {26, 33}}));
    ASSERT_TRUE(EcuHolds({{24, 33}, {25, 33}, {26, 33}}));
    ASSERT_TRUE(WaitFor([&] { return form->Marks.Count(WriteMark::Pending) == 0; }, 2000));
    for (int col : {4, 5, 6}) {
        EXPECT_EQ(grid->Cells(col, 1), QStringLiteral("33")) << col;
        EXPECT_EQ(grid->CellMarkAt(col, 1), Mark::None) << col;
        EXPECT_EQ(form->MapChartOf[7]->Point(col), QPointF(250 + 250 * col, 33)) << col;
        EXPECT_EQ(form->EepromImage[std::size_t(20 + col)], 33) << col;
    }
    EXPECT_EQ(grid->Cells(7, 1), QStringLiteral("17"));   // outside the selection: untouched
    EXPECT_EQ(grid->SelectedCols(), (std::vector<int>{4, 5, 6}));   // ready for the next edit

    // A cell that holds the value already is not written again; a value the map cannot hold
    // is refused for the whole range.
    SelectWithKeys(grid, 6, 8);
    size_t next = Mark();
    Type("33");
    Enter();
    WaitForWrites(next, 2);
    Pump(100);
    EXPECT_EQ(Pairs(WritesSince(next)), (std::vector<std::pair<int, int>>{{27, 33}, {28, 33}}));
    const int beeps = ui::BeepCount();
    next = Mark();
    Type("256");
    Enter();
    EXPECT_TRUE(WaitForWrites(next, 0).empty());
    EXPECT_EQ(ui::BeepCount(), beeps + 1);
}

TEST_F(MapWorkbenchTest, ARangeDraggedWithTheMouseTakesTheTypedValue)
{
    Start(KnownImage(), calibration::PageTemp);
    StringGrid* grid = form->MapGrid[1];
    const auto centre = [grid](int col) { return grid->visualItemRect(grid->item(1, col)).center(); };
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, centre(2));
    for (int col = 2; col <= 5; ++col) {
        QMouseEvent move(QEvent::MouseMove, centre(col), grid->viewport()->mapToGlobal(centre(col)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(grid->viewport(), &move);
    }
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, centre(5));
    ASSERT_EQ(grid->SelectedCols(), (std::vector<int>{2, 3, 4, 5}));
    const size_t mark = Mark();
    Type("7");
    Enter();
    WaitForWrites(mark, 4);
    Pump(100);
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{190, 7}, {191, 7}, {192, 7}, {193, 7}}));
    EXPECT_TRUE(EcuHolds({{190, 7}, {191, 7}, {192, 7}, {193, 7}}));
}

// A file held up against the ECU marks exactly the cells and settings that differ and sends
// nothing; "Take from file" on a selection is one edit: the ECU holds the file's bytes there,
// and one Ctrl+Z puts back what it held before. Esc ends the comparison.
TEST_F(MapWorkbenchTest, AComparedFileMarksWhatDiffersSendsNothingAndASelectionIsTakenAsOneEdit)
{
    const sim::Image image = KnownImage();
    Start(image, calibration::PageIgnition);
    sim::Image file = image;
    file[22] = 40;   // map 7, columns 2, 3 and 5
    file[23] = 41;
    file[25] = 43;
    file[190] = 7;   // map 1, column 2
    file[443] = uint8_t(image[443] + 5);   // two settings
    file[445] = uint8_t(image[445] + 1);
    QFile out(Path("other.qxe"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(reinterpret_cast<const char*>(file.data()), 500), 500);
    out.close();
    ui::SetFileDialogHook([this](ui::FileDialog&) -> std::optional<QString> { return Path("other.qxe"); });
    QStringList boxes;
    ui::SetMessageHook([&](ui::MessageKind, const QString& text) { boxes << text; });

    size_t mark = Mark();
    form->ButtonCompare->click();
    Pump(300);
    EXPECT_EQ(ecu->ReceivedCount(), mark) << "a comparison sends nothing";
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(' ').toStdString();
    for (const calibration::MapLayout& map : calibration::Maps) {
        StringGrid* grid = form->MapGrid[std::size_t(map.number)];
        if (!grid) continue;
        for (int col = 0; col < map.columns; ++col) {
            const std::size_t a = std::size_t(map.base + col);
            EXPECT_EQ(grid->CellCompared(col, 1), file[a] != image[a]) << map.title << " column " << col;
        }
    }
    for (const calibration::SettingLayout& setting : calibration::Settings) {
        const std::size_t a = std::size_t(setting.address);
        EXPECT_EQ(form->SettingEdit[setting.address]->toolTip().contains(QStringLiteral("Differs from other.qxe")),
                  file[a] != image[a])
            << setting.address;
    }
    StringGrid* grid = form->MapGrid[7];
    EXPECT_EQ(grid->CellToolTip(2, 1), QStringLiteral("Differs from other.qxe: the file holds 40, the ECU 12"));
    EXPECT_TRUE(form->SettingEdit[443]->toolTip().contains(
        QStringLiteral("the file holds %1, the ECU %2").arg(file[443]).arg(image[443])));

    // Columns 1 to 5 selected: the three that differ are taken, through the grid's menu.
    SelectWithKeys(grid, 1, 5);
    QMenu menu;
    ASSERT_TRUE(grid->OnMenu);
    grid->OnMenu(grid, &menu);
    auto* take = menu.findChild<QAction*>(QStringLiteral("ActionTakeFromFile"));
    ASSERT_NE(take, nullptr);
    take->trigger();
    const std::vector<std::pair<int, int>> taken = {{22, 40}, {23, 41}, {25, 43}};
    WaitForWrites(mark, 3);
    Pump(100);
    EXPECT_EQ(Pairs(WritesSince(mark)), taken);
    ASSERT_TRUE(EcuHolds(taken));
    ASSERT_TRUE(WaitFor([&] { return !grid->CellCompared(2, 1) && !grid->CellCompared(5, 1); }));
    EXPECT_TRUE(form->MapGrid[1]->CellCompared(2, 1));   // nothing else was taken
    EXPECT_EQ(ecu->Eeprom()[190], image[190]);
    const std::vector<calibration::RestorePoint> kept = calibration::RestorePoints().List().points;
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.front().cause, QStringLiteral("before taking cells from a compared file"));

    // One step back restores all three.
    mark = Mark();
    Chord(grid, Qt::Key_Z);
    WaitForWrites(mark, 3);
    ASSERT_TRUE(EcuHolds({{22, image[22]}, {23, image[23]}, {25, image[25]}}));
    ASSERT_TRUE(WaitFor([&] { return grid->CellCompared(2, 1) && grid->CellCompared(5, 1); }));

    // A differing setting is taken as if typed and left.
    form->TakeSettingFromFile(443);
    ASSERT_TRUE(EcuHolds({{443, file[443]}}));
    ASSERT_TRUE(WaitFor([&] { return !form->SettingEdit[443]->toolTip().contains(QStringLiteral("Differs")); }));
    EXPECT_TRUE(form->SettingEdit[445]->toolTip().contains(QStringLiteral("Differs")));

    // Esc ends the comparison: no mark of it is left.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_FALSE(form->Compared.Active());
    EXPECT_FALSE(grid->CellCompared(2, 1));
    EXPECT_FALSE(form->SettingEdit[445]->toolTip().contains(QStringLiteral("Differs")));
    EXPECT_FALSE(form->ButtonEndCompare->isEnabled());
}

TEST_F(MapWorkbenchTest, InterpolationSendsTheLineAndUndoAndRedoSendItsBytesBackAndForth)
{
    sim::Image image = KnownImage();
    image[30] = 12;   // map 7, columns 10 to 15: 12, 0, 0, 0, 0, 27
    for (int a = 31; a <= 34; ++a) image[std::size_t(a)] = 0;
    image[35] = 27;
    Start(image, calibration::PageIgnition);
    StringGrid* grid = form->MapGrid[7];
    SelectWithKeys(grid, 10, 15);
    size_t mark = Mark();
    Chord(grid, Qt::Key_I);
    WaitForWrites(mark, 4);
    Pump(100);
    const std::vector<std::pair<int, int>> line = {{31, 15}, {32, 18}, {33, 21}, {34, 24}};
    EXPECT_EQ(Pairs(WritesSince(mark)), line);
    ASSERT_TRUE(EcuHolds(line));
    EXPECT_EQ(grid->Cells(12, 1), QStringLiteral("18"));
    EXPECT_EQ(form->MapChartOf[7]->Point(13), QPointF(3500, 21));

    // The whole interpolation is one step back: the old bytes go out again.
    mark = Mark();
    Chord(grid, Qt::Key_Z);
    WaitForWrites(mark, 4);
    Pump(100);
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{31, 0}, {32, 0}, {33, 0}, {34, 0}}));
    ASSERT_TRUE(EcuHolds({{31, 0}, {32, 0}, {33, 0}, {34, 0}}));
    EXPECT_EQ(grid->Cells(12, 1), QStringLiteral("0"));
    EXPECT_EQ(form->MapChartOf[7]->Point(13), QPointF(3500, 0));

    mark = Mark();
    Chord(grid, Qt::Key_Y);
    WaitForWrites(mark, 4);
    Pump(100);
    EXPECT_EQ(Pairs(WritesSince(mark)), line);
    ASSERT_TRUE(EcuHolds(line));

    // Two edits back, one forward; nothing left to undo sends nothing.
    SelectWithKeys(grid, 0, 1);
    Type("40");
    Enter();
    ASSERT_TRUE(EcuHolds({{20, 40}, {21, 40}}));
    Chord(grid, Qt::Key_Z);
    Chord(grid, Qt::Key_Z, Qt::ControlModifier);
    ASSERT_TRUE(EcuHolds({{20, 10}, {21, 11}, {31, 0}, {34, 0}}));
    EXPECT_EQ(grid->Cells(0, 1), QStringLiteral("10"));
    mark = Mark();
    Chord(grid, Qt::Key_Z);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
    Chord(grid, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);   // the other redo key
    ASSERT_TRUE(EcuHolds(line));
}

TEST_F(MapWorkbenchTest, StepsMoveByTheMapsDisplayUnitAndAreRefusedWholeAtTheEdge)
{
    Start(KnownImage(), calibration::PageFuel);
    StringGrid* grid = form->MapGrid[6];   // doubled: one step is 2 on screen
    EXPECT_TRUE(grid->toolTip().contains(QStringLiteral("Ctrl+Up / Ctrl+Down: one step up / down (2)")))
        << grid->toolTip().toStdString();
    EXPECT_TRUE(form->MapGrid[7]->toolTip().contains(QStringLiteral("Ctrl+Shift+Up / Ctrl+Shift+Down: ten steps up / down (10)")));
    SelectWithKeys(grid, 0, 1);
    size_t mark = Mark();
    Chord(grid, Qt::Key_Up);
    WaitForWrites(mark, 2);
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{156, 51}, {157, 52}}));
    EXPECT_EQ(grid->Cells(0, 1), QStringLiteral("102"));
    EXPECT_EQ(grid->Cells(1, 1), QStringLiteral("104"));
    mark = Mark();
    Chord(grid, Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    WaitForWrites(mark, 2);
    EXPECT_EQ(Pairs(WritesSince(mark)), (std::vector<std::pair<int, int>>{{156, 41}, {157, 42}}));
    ASSERT_TRUE(EcuHolds({{156, 41}, {157, 42}}));

    // 508 is byte 254: one step up still fits, the next does not, and then no cell moves.
    SelectWithKeys(grid, 1, 2);
    mark = Mark();
    Chord(grid, Qt::Key_Up);
    ASSERT_TRUE(EcuHolds({{157, 43}, {158, 255}}));
    const int beeps = ui::BeepCount();
    mark = Mark();
    Chord(grid, Qt::Key_Up);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
    EXPECT_EQ(ui::BeepCount(), beeps + 1);
    EXPECT_EQ(grid->Cells(1, 1), QStringLiteral("86"));
    EXPECT_EQ(grid->Cells(2, 1), QStringLiteral("510"));

    // The keys of a step never open the cell editor, and a plain arrow still only moves.
    EXPECT_FALSE(grid->EditorMode());
    mark = Mark();
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
}

TEST_F(MapWorkbenchTest, ARowCopiedOutIsTabSeparatedAndARowPastedInIsWritten)
{
    Start(KnownImage(), calibration::PageTemp);
    StringGrid* from = form->MapGrid[1];
    SelectWithKeys(from, 0, 3);
    Chord(from, Qt::Key_C);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("100\t101\t102\t103\n"));

    StringGrid* to = form->MapGrid[2];   // bytes 0 to 15
    to->setFocus();
    to->SetCol(5);
    size_t mark = Mark();
    Chord(to, Qt::Key_V);
    WaitForWrites(mark, 4);
    EXPECT_EQ(Pairs(WritesSince(mark)),
              (std::vector<std::pair<int, int>>{{177, 100}, {178, 101}, {179, 102}, {180, 103}}));
    EXPECT_EQ(to->SelectedCols(), (std::vector<int>{5, 6, 7, 8}));   // what was pasted is shown
    ASSERT_TRUE(EcuHolds({{177, 100}, {180, 103}}));

    // A spreadsheet's row with a cell that is not a whole number: nothing at all.
    QGuiApplication::clipboard()->setText(QStringLiteral("1\t2.5\t3\r\n"));
    to->SetCol(0);
    const int beeps = ui::BeepCount();
    mark = Mark();
    Chord(to, Qt::Key_V);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());
    EXPECT_EQ(ui::BeepCount(), beeps + 1);
    EXPECT_EQ(to->Cells(0, 1), QStringLiteral("0"));
}

TEST_F(MapWorkbenchTest, ACellIsMarkedUntilItsEchoAndShowsWhatTheEcuStored)
{
    Start(KnownImage(), calibration::PageFuel);
    held1 = 159;   // map 6, column 3
    StringGrid* grid = form->MapGrid[6];
    grid->setFocus();
    grid->SetCol(3);
    Type("101");   // the doubled map stores 50, which it shows as 100

    Enter();
    EXPECT_EQ(grid->CellMarkAt(3, 1), Mark::Pending);
    EXPECT_EQ(grid->CellToolTip(3, 1), QStringLiteral("Sent to the ECU (100), waiting for its echo."));
    // Sent twice and still no echo: still marked, and a decode in between does not unmark it.
    ASSERT_TRUE(WaitFor([&] { return WritesTo(159) >= 2; }, 3000));
    EXPECT_EQ(grid->CellMarkAt(3, 1), Mark::Pending);
    EXPECT_EQ(grid->Cells(3, 1), QStringLiteral("101"));
    form->Button10Click(nullptr);
    EXPECT_EQ(grid->Cells(3, 1), QString::number(2 * KnownImage()[159]));
    EXPECT_EQ(grid->CellMarkAt(3, 1), Mark::Pending);

    held1 = -1;   // the next send is echoed
    ASSERT_TRUE(WaitFor([&] { return grid->CellMarkAt(3, 1) == Mark::None; }, 3000));
    EXPECT_EQ(grid->Cells(3, 1), QStringLiteral("100"));   // what the ECU holds
    EXPECT_EQ(form->MapChartOf[6]->Point(3), QPointF(100, 100));
    EXPECT_TRUE(grid->CellToolTip(3, 1).isEmpty());
    EXPECT_EQ(form->EepromImage[159], 50);
}

TEST_F(MapWorkbenchTest, ACellWhoseEchoNeverComesStaysMarkedAndSoDoesEverythingAfterIt)
{
    Start(KnownImage(), calibration::PageTemp);
    held1 = 192;   // map 1, column 4, the middle of three
    StringGrid* grid = form->MapGrid[1];
    SelectWithKeys(grid, 3, 5);
    const size_t mark = Mark();
    Type("9");
    Enter();
    ASSERT_TRUE(WaitFor([&] { return grid->CellMarkAt(4, 1) == Mark::Failed; }, 8000));
    EXPECT_EQ(grid->CellMarkAt(3, 1), Mark::None);     // echoed before it
    EXPECT_EQ(grid->CellMarkAt(5, 1), Mark::Failed);   // never sent after it
    EXPECT_EQ(grid->CellToolTip(4, 1),
              QStringLiteral("The ECU may not hold this value: the write of 9 was never confirmed."));
    EXPECT_EQ(form->StatusBar1->PanelText(2), QStringLiteral("Status- write to 192 failed"));
    std::set<int> sent;
    for (const sim::Command& c : WritesSince(mark)) sent.insert(c.address);
    EXPECT_EQ(sent, (std::set<int>{191, 192}));
    EXPECT_EQ(ecu->Eeprom()[193], KnownImage()[193]);

    // It stays marked: in time, and through a decode, which shows the byte last confirmed.
    Pump(300);
    EXPECT_EQ(grid->CellMarkAt(4, 1), Mark::Failed);
    form->Button10Click(nullptr);
    EXPECT_EQ(grid->Cells(5, 1), QString::number(KnownImage()[193]));
    EXPECT_EQ(grid->CellMarkAt(4, 1), Mark::Failed);
    EXPECT_EQ(grid->CellMarkAt(5, 1), Mark::Failed);

    // Written again once the ECU answers: confirmed and plain.
    held1 = -1;
    grid->setFocus();
    grid->SetCol(4);
    Type("9");
    Enter();
    ASSERT_TRUE(WaitFor([&] { return grid->CellMarkAt(4, 1) == Mark::None; }, 3000));
    EXPECT_EQ(grid->CellMarkAt(5, 1), Mark::Failed);
}

TEST_F(MapWorkbenchTest, ASettingIsMarkedLikeACell)
{
    Start(KnownImage(), calibration::PageSetup);
    QLineEdit* edit = form->SettingEdit.at(443);
    const QColor normal = edit->palette().color(QPalette::Base);
    held1 = 443;
    TypeAndLeave(edit, QStringLiteral("50"));
    EXPECT_EQ(edit->palette().color(QPalette::Base), StringGrid::MarkBackground(Mark::Pending));
    EXPECT_TRUE(edit->font().italic());
    EXPECT_EQ(edit->toolTip(), QStringLiteral("Sent to the ECU (50), waiting for its echo."));
    ASSERT_TRUE(WaitFor([&] { return form->Marks.Mark(443) == WriteMark::Failed; }, 8000));
    EXPECT_EQ(edit->palette().color(QPalette::Base), StringGrid::MarkBackground(Mark::Failed));
    EXPECT_FALSE(edit->font().italic());
    EXPECT_TRUE(edit->toolTip().startsWith(QStringLiteral("The ECU may not hold this value")));
    EXPECT_EQ(edit->accessibleDescription(), edit->toolTip());

    held1 = -1;
    TypeAndLeave(edit, QStringLiteral("51"));
    ASSERT_TRUE(WaitFor([&] { return form->Marks.Mark(443) == WriteMark::None; }, 3000));
    EXPECT_EQ(edit->palette().color(QPalette::Base), normal);
    EXPECT_TRUE(edit->toolTip().isEmpty());
    EXPECT_EQ(ecu->Eeprom()[443], 51);
}

TEST_F(MapWorkbenchTest, AValueRefusedOrLeftUnsentGivesWayToTheEcusAndTheStatusBarSaysWhy)
{
    Start(sim::EcuSim::DefaultImage(), calibration::PageFuel);
    const sim::Image held = ecu->Eeprom();
    StringGrid* grid = form->MapGrid[4];   // RPM Fuel, plain, base 104: 8500 rpm is column 33
    const auto ecuText = [&held](int address) { return QString::number(held[std::size_t(address)]); };
    const auto panel = [this] { return form->StatusBar1->PanelText(3); };
    const QString notSent = QStringLiteral("not sent: press Enter to write");
    const QPointF point = form->MapChartOf[4]->Point(33);
    const size_t mark = Mark();
    const int beeps = ui::BeepCount();

    // 300 cannot be the byte: refused, and the cell shows the ECU's value at once.
    grid->setFocus();
    grid->SetCol(33);
    Type("300");
    Enter();
    EXPECT_EQ(grid->Cells(33, 1), ecuText(137));
    EXPECT_EQ(panel(), QStringLiteral("not sent: 300 is out of range; RPM Fuel takes 0 to 255"));
    EXPECT_EQ(ui::BeepCount(), beeps + 1);
    EXPECT_EQ(form->MapChartOf[4]->Point(33), point);

    // 150 in the next cell, then a click on another grid: not sent, and said so.
    grid->SetCol(34);
    Type("150");
    ASSERT_TRUE(grid->EditorMode());
    StringGrid* other = form->MapGrid[5];
    QTest::mouseClick(other->viewport(), Qt::LeftButton, {}, other->visualItemRect(other->item(1, 2)).center());
    EXPECT_FALSE(grid->EditorMode());
    EXPECT_EQ(grid->Cells(34, 1), ecuText(138));
    EXPECT_EQ(panel(), notSent);

    // Escape goes back without a word; Tab and a page key leave the cell like a click.
    grid->setFocus();
    grid->SetCol(35);
    Type("77");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(grid->Cells(35, 1), ecuText(139));
    EXPECT_EQ(panel(), QString());
    grid->SetCol(34);
    Type("150");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(grid->Cells(34, 1), ecuText(138));
    EXPECT_EQ(panel(), notSent);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);   // the editor Tab opened

    // A setting refused on leaving goes back as well, with the same word of why.
    QLineEdit* baseFuel = form->SettingEdit.at(442);
    baseFuel->setFocus();
    baseFuel->clear();
    Type("300");
    grid->setFocus();
    EXPECT_EQ(baseFuel->text(), ecuText(442));
    EXPECT_EQ(panel(), QStringLiteral("not sent: 300 is out of range; Base fuel takes 0 to 255"));
    EXPECT_EQ(ui::BeepCount(), beeps + 2);
    EXPECT_TRUE(WaitForWrites(mark, 0).empty());   // nothing of it all reached the ECU
    EXPECT_EQ(ecu->Eeprom(), held);
    for (int col : {33, 34, 35}) EXPECT_EQ(form->MapChartOf[4]->Point(col).y(), held[std::size_t(104 + col)]) << col;

    // A cell whose write is on its way shows what was asked, not the byte before it.
    held1 = 137;
    grid->SetCol(33);
    Type("120");
    Enter();
    ASSERT_EQ(grid->CellMarkAt(33, 1), Mark::Pending);
    EXPECT_EQ(panel(), QString());   // a value sent ends the word about the last one
    grid->SetCol(33);
    Type("abc");
    Enter();
    EXPECT_EQ(grid->Cells(33, 1), QStringLiteral("120"));
    EXPECT_EQ(panel(), QStringLiteral("not sent: \"abc\" is not a whole number; RPM Fuel takes 0 to 255"));
    for (const sim::Command& c : WritesSince(mark)) EXPECT_EQ(std::pair(int(c.address), int(c.data)), std::pair(137, 120));

    // A page key leaves the cell like a click.
    grid->SetCol(32);
    Type("150");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F3);
    ASSERT_EQ(form->PageControl1->ActivePageIndex(), calibration::PageIgnition);
    EXPECT_FALSE(grid->EditorMode());
    EXPECT_EQ(grid->Cells(32, 1), ecuText(136));
    EXPECT_EQ(panel(), notSent);
}

}  // namespace
