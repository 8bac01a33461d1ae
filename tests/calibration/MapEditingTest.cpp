// Editing maps like a spreadsheet, as bytes: what a multi-cell edit, a step, an interpolation
// or a paste asks the ECU to store, and what undo takes back.
#include <gtest/gtest.h>

#include <map>

#include "calibration/MapEditing.h"

using namespace calibration;

namespace {

const MapLayout& Map(int number) { return *MapByNumber(number); }

// Row 1 of a grid as texts, by column.
struct Row {
    std::map<int, std::string> cells;
    ColumnText Text() const
    {
        return [this](int col) {
            const auto it = cells.find(col);
            return it == cells.end() ? std::string() : it->second;
        };
    }
};

std::vector<int> Bytes(const std::optional<CellBytes>& cells)
{
    std::vector<int> bytes;
    if (cells)
        for (const CellByte& c : *cells) bytes.push_back(c.byte);
    return bytes;
}

std::vector<int> Columns(const std::optional<CellBytes>& cells)
{
    std::vector<int> columns;
    if (cells)
        for (const CellByte& c : *cells) columns.push_back(c.column);
    return columns;
}

}  // namespace

TEST(MapEditing, EveryCellOfAnAddressIsFoundAndNothingElse)
{
    for (const MapLayout& map : Maps)
        for (int col = 0; col < map.columns; ++col) {
            const std::optional<MapCell> cell = MapCellAt(map.base + col);
            ASSERT_TRUE(cell) << map.title << " " << col;
            EXPECT_EQ(cell->map, &map);
            EXPECT_EQ(cell->column, col);
        }
    for (int address : {0, 19, 252, 431, 455, 499}) EXPECT_FALSE(MapCellAt(address)) << address;
}

TEST(MapEditing, ATypedValueGoesToEveryColumnOrToNone)
{
    EXPECT_EQ(Bytes(SetColumns(Map(3), {6, 4, 5}, "-5")), (std::vector<int>{95, 95, 95}));
    EXPECT_EQ(Columns(SetColumns(Map(3), {6, 4, 5}, "-5")), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(Bytes(SetColumns(Map(6), {0, 1}, "101")), (std::vector<int>{50, 50}));
    EXPECT_FALSE(SetColumns(Map(1), {1, 2}, "256"));
    EXPECT_FALSE(SetColumns(Map(3), {1, 2}, "156"));
    EXPECT_FALSE(SetColumns(Map(1), {1, 2}, "7x"));
    EXPECT_FALSE(SetColumns(Map(1), {15, 16}, "7"));   // past the last column
}

TEST(MapEditing, StepsMoveByTheDisplayUnitAndRefuseAsAWhole)
{
    EXPECT_EQ(ShownStep(Encoding::Plain), 1);
    EXPECT_EQ(ShownStep(Encoding::Offset), 1);
    EXPECT_EQ(ShownStep(Encoding::Doubled), 2);

    // Map 6 shows twice its byte: one step is 2 on screen, one byte in the ECU; an odd number
    // typed but not confirmed steps from the byte it stands for.
    Row row{{{0, "100"}, {1, "103"}}};
    EXPECT_EQ(Bytes(StepColumns(Map(6), {0, 1}, row.Text(), -10)), (std::vector<int>{40, 41}));

    Row offset{{{0, "-100"}, {1, "0"}}};
    EXPECT_FALSE(StepColumns(Map(3), {0, 1}, offset.Text(), -1));
    EXPECT_EQ(Bytes(StepColumns(Map(3), {1}, offset.Text(), -1)), (std::vector<int>{99}));
    Row bad{{{0, "5"}, {1, "five"}}};
    EXPECT_FALSE(StepColumns(Map(1), {0, 1}, bad.Text(), 1));
}

TEST(MapEditing, InterpolationFillsTheInnerCellsOnTheLineRoundedToWhatTheMapHolds)
{
    Row row{{{2, "10"}, {3, "99"}, {4, "99"}, {5, "40"}}};
    std::optional<CellBytes> filled = InterpolateColumns(Map(1), {2, 3, 4, 5}, row.Text());
    EXPECT_EQ(Columns(filled), (std::vector<int>{3, 4}));
    EXPECT_EQ(Bytes(filled), (std::vector<int>{20, 30}));

    // 0 to 5 over five columns: 1.25, 2.5, 3.75 -> 1, 3, 4 (a half goes away from the first cell).
    Row ramp{{{0, "0"}, {4, "5"}}};
    EXPECT_EQ(Bytes(InterpolateColumns(Map(1), {0, 1, 2, 3, 4}, ramp.Text())), (std::vector<int>{1, 3, 4}));
    Row down{{{0, "5"}, {4, "0"}}};
    EXPECT_EQ(Bytes(InterpolateColumns(Map(1), {0, 1, 2, 3, 4}, down.Text())), (std::vector<int>{4, 2, 1}));

    // Offset map: the line between -10 and 10 (bytes 90 and 110) over six columns.
    Row advance{{{10, "-10"}, {15, "10"}}};
    EXPECT_EQ(Bytes(InterpolateColumns(Map(3), {10, 11, 12, 13, 14, 15}, advance.Text())),
              (std::vector<int>{94, 98, 102, 106}));
    // Doubled map: 100 to 110 (bytes 50 and 55) over three columns: 105 cannot be held, 106 can.
    Row doubled{{{0, "100"}, {2, "110"}}};
    EXPECT_EQ(Bytes(InterpolateColumns(Map(6), {0, 1, 2}, doubled.Text())), (std::vector<int>{53}));

    // Only selected cells between the ends change.
    Row gaps{{{0, "0"}, {10, "100"}}};
    filled = InterpolateColumns(Map(1), {0, 3, 10}, gaps.Text());
    EXPECT_EQ(Columns(filled), (std::vector<int>{3}));
    EXPECT_EQ(Bytes(filled), (std::vector<int>{30}));

    EXPECT_FALSE(InterpolateColumns(Map(1), {0, 4}, ramp.Text()));   // nothing between
    Row badEnd{{{0, "x"}, {2, "5"}}};
    EXPECT_FALSE(InterpolateColumns(Map(1), {0, 1, 2}, badEnd.Text()));
}

TEST(MapEditing, CopyGivesOneTabSeparatedRowAndPasteTakesARowOrAColumn)
{
    Row row{{{1, "-5"}, {2, "0"}, {3, "12"}}};
    EXPECT_EQ(CopyColumns({3, 1, 2}, row.Text()), "-5\t0\t12\n");

    EXPECT_EQ(Bytes(PasteColumns(Map(3), {4}, "-5\t0\t12\n")), (std::vector<int>{95, 100, 112}));
    EXPECT_EQ(Columns(PasteColumns(Map(3), {4}, "-5\t0\t12\n")), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(Bytes(PasteColumns(Map(1), {0}, "1\t2\t\r\n")), (std::vector<int>{1, 2}));   // a spreadsheet's row
    EXPECT_EQ(Bytes(PasteColumns(Map(1), {7, 8}, "1\r\n2\r\n3\r\n")), (std::vector<int>{1, 2, 3}));   // a column
    EXPECT_EQ(Columns(PasteColumns(Map(1), {7, 9, 8}, "4\n")), (std::vector<int>{7, 8, 9}));   // one fills them all

    EXPECT_FALSE(PasteColumns(Map(1), {14}, "1\t2\t3"));        // runs past the last column
    EXPECT_FALSE(PasteColumns(Map(1), {0}, "1\t2\n3\t4\n"));    // a table
    EXPECT_FALSE(PasteColumns(Map(1), {0}, "1\t300\t2"));       // one value the map cannot hold
    EXPECT_FALSE(PasteColumns(Map(1), {0}, "1\t\t2"));
    EXPECT_FALSE(PasteColumns(Map(1), {0}, "1.5"));
    EXPECT_FALSE(PasteColumns(Map(1), {0}, ""));
}

TEST(MapEditing, AnEditWritesWhatTheEcuDoesNotHoldAndKnowsHowToTakeItBack)
{
    const MapLayout& map = Map(1);   // base 188
    std::map<uint16_t, uint8_t> ecu = {{188, 5}, {189, 6}, {190, 7}};
    const KnownByte known = [&](uint16_t a) -> std::optional<uint8_t> {
        const auto it = ecu.find(a);
        if (it == ecu.end()) return std::nullopt;
        return it->second;
    };
    EditPlan plan = PlanEdit(map, {{0, 6}, {1, 6}, {2, 6}}, known, false);
    ASSERT_EQ(plan.writes.size(), 2u);   // 189 holds 6 already
    EXPECT_EQ(plan.writes[0], (exchange::Step{'W', 188, 6}));
    EXPECT_EQ(plan.writes[1], (exchange::Step{'W', 190, 6}));
    ASSERT_TRUE(plan.undo);
    ASSERT_EQ(plan.undo->size(), 2u);
    EXPECT_EQ((*plan.undo)[0].before, 5);
    EXPECT_EQ((*plan.undo)[1].before, 7);
    EXPECT_EQ(Bytes(CellsOf(*plan.undo, true)), (std::vector<int>{5, 7}));
    EXPECT_EQ(Columns(CellsOf(*plan.undo, false)), (std::vector<int>{0, 2}));

    EXPECT_EQ(PlanEdit(map, {{1, 6}}, known, true).writes.size(), 1u);   // a confirmed cell goes anyway
    // Nobody knows what 191 holds: it is written, and the edit cannot be undone.
    plan = PlanEdit(map, {{2, 9}, {3, 9}}, known, false);
    EXPECT_EQ(plan.writes.size(), 2u);
    EXPECT_FALSE(plan.undo);
}

TEST(MapEditing, UndoAndRedoGoThroughWholeEditsAndANewEditDropsTheRedo)
{
    EditHistory history;
    EXPECT_FALSE(history.Undo());
    history.Record({{188, 1, 2}, {189, 1, 2}});
    history.Record({{190, 3, 4}});
    history.Record({});   // nothing changed: no step
    EXPECT_EQ(history.UndoCount(), 2u);
    EXPECT_EQ(history.Undo()->front().address, 190);
    EXPECT_EQ(history.Undo()->size(), 2u);
    EXPECT_FALSE(history.Undo());
    EXPECT_EQ(history.Redo()->size(), 2u);
    EXPECT_EQ(history.RedoCount(), 1u);
    history.Record({{191, 0, 1}});
    EXPECT_FALSE(history.Redo());
    for (std::size_t i = 0; i < EditHistory::Depth + 5; ++i) history.Record({{192, 0, 1}});
    EXPECT_EQ(history.UndoCount(), EditHistory::Depth);
    history.Clear();
    EXPECT_FALSE(history.Undo());
}
