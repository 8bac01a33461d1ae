// The map grids send what the user sees in a cell the moment Enter is released, so these tests
// pin when the cell editor's text reaches the cell and where the cursor is at that moment.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include <cstdlib>
#include <vector>

#include "ui/StringGrid.h"

namespace {

struct KeyUp {
    int key;
    int col;
    QString cell;   // row 1 of the current column when the key came up
    bool editing;
};

class StringGridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int col = 0; col < grid.ColCount(); ++col) {
            grid.SetCells(col, 0, QString::number(10 * col - 30));
            grid.SetCells(col, 1, QString::number(col));
        }
        grid.SetDefaultColWidth(40);
        grid.resize(700, 80);
        grid.OnKeyUp = [this](QObject* sender, int key) {
            EXPECT_EQ(sender, &grid);
            seen.push_back({key, grid.Col(), grid.Cells(grid.Col(), 1), grid.EditorMode()});
        };
        grid.show();
        grid.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&grid));
        grid.setFocus();
    }

    // Keys go where a person's keys go: to the widget that has the focus at that moment.
    static QWidget* focused() { return QApplication::focusWidget(); }
    static void type(const QString& text)
    {
        for (QChar c : text) QTest::keyClick(focused(), c.toLatin1());
    }
    QPoint cellCentre(int col, int row)
    {
        return grid.visualItemRect(grid.item(row, col)).center();
    }

    StringGrid grid{16};
    std::vector<KeyUp> seen;
};

TEST_F(StringGridTest, EnterReleaseSeesTheTypedTextAlreadyInTheCell)
{
    grid.SetCol(3);
    type("-5");   // the first key opens the editor with itself, replacing the old "3"
    ASSERT_TRUE(grid.EditorMode());
    ASSERT_NE(grid.InplaceEditor(), nullptr);
    EXPECT_EQ(grid.InplaceEditor()->text(), "-5");
    EXPECT_EQ(grid.Cells(3, 1), "3");   // not yet confirmed

    seen.clear();
    QTest::keyClick(focused(), Qt::Key_Return);   // press and release both reach the editor
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].key, Qt::Key_Return);
    EXPECT_EQ(seen[0].cell, "-5");
    EXPECT_EQ(seen[0].col, 3);
    EXPECT_FALSE(seen[0].editing);
    EXPECT_EQ(grid.Col(), 3);   // the grid leaves moving the cursor to the handler
    EXPECT_EQ(grid.Row(), 1);

    // The same when the release reaches the grid after the editor has gone (keypad Enter).
    grid.SetCol(7);
    type("12");
    seen.clear();
    QTest::keyPress(focused(), Qt::Key_Enter);
    EXPECT_FALSE(grid.EditorMode());
    EXPECT_EQ(focused(), &grid);
    QTest::keyRelease(focused(), Qt::Key_Enter);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].key, Qt::Key_Return);
    EXPECT_EQ(seen[0].cell, "12");
    EXPECT_EQ(grid.Col(), 7);
}

TEST_F(StringGridTest, EnterOnACellNotBeingEditedLeavesCellAndCursorAlone)
{
    grid.SetCol(5);
    QTest::keyClick(&grid, Qt::Key_Return);
    QTest::keyClick(&grid, Qt::Key_Enter);
    ASSERT_EQ(seen.size(), 2u);
    for (const KeyUp& k : seen) {
        EXPECT_EQ(k.key, Qt::Key_Return);
        EXPECT_EQ(k.col, 5);
        EXPECT_EQ(k.cell, "5");
        EXPECT_FALSE(k.editing);
    }
    EXPECT_EQ(grid.Col(), 5);
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_FALSE(grid.EditorMode());
}

TEST_F(StringGridTest, OtherKeysArriveWithTheirCodesOnRelease)
{
    grid.SetCol(2);
    QTest::keyClick(focused(), Qt::Key_Right);
    EXPECT_EQ(grid.Col(), 3);
    QTest::keyClick(focused(), Qt::Key_Left);
    QTest::keyClick(focused(), Qt::Key_Tab);
    type("4");
    std::vector<int> keys;
    for (const KeyUp& k : seen) keys.push_back(k.key);
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Right, Qt::Key_Left, Qt::Key_Tab, Qt::Key_4}));
    EXPECT_TRUE(grid.EditorMode());   // the digit opened the editor of the current cell

    // A key pressed down long enough to repeat is one key-up, not one per repeat.
    seen.clear();
    QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_5, Qt::NoModifier, "5", true);
    QApplication::sendEvent(focused(), &repeatRelease);
    EXPECT_TRUE(seen.empty());
}

TEST_F(StringGridTest, HeaderRowIsNeverEditedSelectedOrCurrent)
{
    grid.SetCol(2);
    QTest::keyClick(focused(), Qt::Key_Up);
    EXPECT_EQ(grid.Row(), 1);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(4, 0));
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_EQ(grid.Col(), 2);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(4, 0));
    EXPECT_FALSE(grid.EditorMode());
    grid.setCurrentCell(0, 4);
    EXPECT_EQ(grid.Row(), 1);
    EXPECT_FALSE(grid.item(0, 4)->isSelected());

    type("9");   // edits the current cell of row 1, never the header
    QTest::keyClick(focused(), Qt::Key_Return);
    EXPECT_EQ(grid.Cells(2, 1), "9");
    EXPECT_EQ(grid.Cells(2, 0), "-10");
    EXPECT_EQ(grid.item(0, 2)->flags() & Qt::ItemIsEditable, Qt::ItemFlags{});

    // Drawn like a header: the button face behind it, the button text on it.
    EXPECT_EQ(grid.item(0, 0)->background().color(), grid.palette().color(QPalette::Button));
    EXPECT_EQ(grid.item(0, 0)->foreground().color(), grid.palette().color(QPalette::ButtonText));
    EXPECT_TRUE(grid.horizontalHeader()->isHidden());
    EXPECT_TRUE(grid.verticalHeader()->isHidden());
}

TEST_F(StringGridTest, WithARangeSelectedTheFocusedCellIsCurrent)
{
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(2, 1));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ShiftModifier, cellCentre(5, 1));
    EXPECT_EQ(grid.selectedItems().size(), 4);
    EXPECT_EQ(grid.Col(), 5);
    QTest::keyClick(focused(), Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(grid.selectedItems().size(), 3);
    seen.clear();
    QTest::keyClick(focused(), Qt::Key_Return);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].col, 4);
    EXPECT_EQ(seen[0].cell, "4");
}

TEST_F(StringGridTest, TextTypedAndLeftByMouseStaysInTheCell)
{
    grid.SetCol(2);
    type("42");
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cellCentre(6, 1));
    EXPECT_FALSE(grid.EditorMode());
    EXPECT_EQ(grid.Cells(2, 1), "42");
    EXPECT_EQ(grid.Col(), 6);
}

TEST_F(StringGridTest, FocusedCellIsDrawnSelectedOnlyWhenAskedTo)
{
    grid.SetCol(4);
    ASSERT_TRUE(grid.item(1, 4)->isSelected());
    const QColor highlight = grid.palette().color(QPalette::Active, QPalette::Highlight);
    const QPoint corner = grid.visualItemRect(grid.item(1, 4)).topLeft() + QPoint(3, 3);
    // The style shades the highlight a little, so compare by closeness.
    auto nearHighlight = [&] {
        const QColor c = grid.viewport()->grab().toImage().pixelColor(corner);
        return std::abs(c.red() - highlight.red()) + std::abs(c.green() - highlight.green())
                   + std::abs(c.blue() - highlight.blue())
               < 30;
    };
    EXPECT_FALSE(nearHighlight());
    grid.SetDrawFocusSelected(true);
    EXPECT_TRUE(nearHighlight());
}

TEST_F(StringGridTest, EditingCommandsNeverTakeTheKeysOfACellBeingTyped)
{
    std::vector<StringGrid::Command> commands;
    grid.OnCommand = [&](QObject*, StringGrid::Command command) { commands.push_back(command); };
    grid.SetCol(4);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(commands, (std::vector<StringGrid::Command>{StringGrid::Command::TenStepsDown}));
    EXPECT_FALSE(grid.EditorMode());

    // While a number is being typed the keys belong to the cell's editor.
    commands.clear();
    type("7");
    QTest::keyClick(focused(), Qt::Key_Up, Qt::ControlModifier);
    QTest::keyClick(focused(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(StringGrid::CommandKeys(StringGrid::Command::TenStepsUp), "Ctrl+Shift+Up");
    EXPECT_EQ(StringGrid::CommandKeys(StringGrid::Command::Redo), "Ctrl+Y");
}

TEST_F(StringGridTest, AMarkedCellKeepsItsColoursInsideASelectionAndSaysWhy)
{
    grid.SelectCols(5, 2);
    EXPECT_EQ(grid.SelectedCols(), (std::vector<int>{2, 3, 4, 5}));
    grid.SetCellMark(3, 1, StringGrid::CellMark::Pending, "waiting");
    grid.SetCellMark(4, 1, StringGrid::CellMark::Failed, "not confirmed");
    EXPECT_EQ(grid.CellMarkAt(3, 1), StringGrid::CellMark::Pending);
    EXPECT_EQ(grid.CellToolTip(4, 1), "not confirmed");
    EXPECT_TRUE(grid.item(1, 3)->font().italic());
    EXPECT_FALSE(grid.item(1, 4)->font().italic());

    const QImage shot = grid.viewport()->grab().toImage();
    // Inside the cell, clear of its text on the left and of the selection frame at its edge.
    const auto inside = [&](int col) {
        const QRect r = grid.visualItemRect(grid.item(1, col));
        return shot.pixelColor(r.right() - 4, r.top() + 4);
    };
    EXPECT_EQ(inside(3), StringGrid::MarkBackground(StringGrid::CellMark::Pending));
    EXPECT_EQ(inside(4), StringGrid::MarkBackground(StringGrid::CellMark::Failed));
    EXPECT_NE(inside(2), StringGrid::MarkBackground(StringGrid::CellMark::Pending));   // drawn selected

    grid.SetCellMark(3, 1, StringGrid::CellMark::None);
    EXPECT_EQ(grid.CellMarkAt(3, 1), StringGrid::CellMark::None);
    EXPECT_TRUE(grid.CellToolTip(3, 1).isEmpty());
    EXPECT_FALSE(grid.item(1, 3)->font().italic());
    EXPECT_FALSE(grid.item(1, 3)->data(Qt::BackgroundRole).isValid());
    grid.SetCellMark(3, 0, StringGrid::CellMark::Failed);   // the header is never marked
    EXPECT_EQ(grid.CellMarkAt(3, 0), StringGrid::CellMark::None);
}

TEST(StringGrid, StartsOnTheFirstEditableCellAndKeepsTheCursorInside)
{
    StringGrid grid(3, 2);
    EXPECT_EQ(grid.ColCount(), 3);
    EXPECT_EQ(grid.RowCount(), 2);
    EXPECT_EQ(grid.Col(), 0);
    EXPECT_EQ(grid.Row(), 1);
    grid.SetCol(3);
    EXPECT_EQ(grid.Col(), 0);
    grid.SetCol(2);
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_EQ(grid.Row(), 1);
}

}  // namespace
