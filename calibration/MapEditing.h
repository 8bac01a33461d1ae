// Editing a map like a spreadsheet: several cells set at once, stepped, interpolated, copied
// and pasted as tab-separated text, and each whole edit undone and redone. All of it decides
// bytes only: the window hands in the texts its grid shows and sends what comes out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/ImageLayout.h"
#include "ecu/Exchanges.h"

namespace calibration {

// The map cell an image address feeds, if any.
struct MapCell {
    const MapLayout* map;
    int column;
};
std::optional<MapCell> MapCellAt(int address);

// One step of a map's display unit: what the shown value moves by when its byte moves by one.
int ShownStep(Encoding encoding);

// The new byte of one column of a map.
struct CellByte {
    int column;
    uint8_t byte;
};
using CellBytes = std::vector<CellByte>;
// Row 1 of a column as the grid shows it.
using ColumnText = std::function<std::string(int column)>;

// Every listed column gets the typed value. nullopt (refused, nothing changes) when the text is
// not a whole number the map's byte can hold, or a column lies outside the map.
std::optional<CellBytes> SetColumns(const MapLayout& map, const std::vector<int>& columns, std::string_view text);

// Every listed column moves by `steps` steps of the display unit. Refused as a whole when any
// cell is not a number the map can hold or would leave the byte's range.
std::optional<CellBytes> StepColumns(const MapLayout& map, const std::vector<int>& columns,
                                     const ColumnText& text, int steps);

// The columns between the first and the last listed one (in column order) are filled on the
// straight line between those two, rounded to the nearest value the map can hold (halves away
// from the first cell). Refused when fewer than three columns are listed or an end is not a
// number the map can hold.
std::optional<CellBytes> InterpolateColumns(const MapLayout& map, const std::vector<int>& columns,
                                            const ColumnText& text);

// The listed columns' texts as one row of tab-separated text, as spreadsheets copy a row.
std::string CopyColumns(const std::vector<int>& columns, const ColumnText& text);

// Pasted text: one row of tab-separated values, or one value a line (a column copied from a
// spreadsheet). A single value fills every selected column; several fill the columns from the
// first selected one on. Refused as a whole when a value is not a number the map can hold, when
// the values run past the map's last column, or when the text holds a table of several rows.
std::optional<CellBytes> PasteColumns(const MapLayout& map, const std::vector<int>& selected,
                                      std::string_view text);

// ---- Undo and redo --------------------------------------------------------------------------

struct ByteChange {
    uint16_t address;
    uint8_t before;
    uint8_t after;
};
// One whole edit of a map: what it changed in the ECU, address by address.
using MapEdit = std::vector<ByteChange>;

// What an edit sends and how it is undone. A cell is written unless the ECU is known to hold
// its new byte already (known: nullopt when nobody knows what it holds); `writeAll` writes
// every cell, as a confirmed single cell is. The undo step holds the cells that change; it is
// nullopt when the ECU's byte before the edit is unknown for one of them (the edit cannot be
// undone, and an undo past it would write bytes into an ECU in an unknown state).
struct EditPlan {
    std::vector<exchange::Step> writes;
    std::optional<MapEdit> undo;
};
using KnownByte = std::function<std::optional<uint8_t>(uint16_t address)>;
EditPlan PlanEdit(const MapLayout& map, const CellBytes& cells, const KnownByte& known, bool writeAll);

// The cells an undo (the `before` bytes) or a redo (the `after` bytes) puts back.
CellBytes CellsOf(const MapEdit& edit, bool before);

// The whole edits of one map, newest last. A new edit drops what was undone before it.
class EditHistory {
public:
    static constexpr std::size_t Depth = 200;

    void Record(MapEdit edit);
    std::optional<MapEdit> Undo();   // the edit to take back; it moves to the redo side
    std::optional<MapEdit> Redo();
    void Clear();
    std::size_t UndoCount() const { return done_.size(); }
    std::size_t RedoCount() const { return undone_.size(); }

private:
    std::deque<MapEdit> done_;
    std::vector<MapEdit> undone_;
};

}  // namespace calibration
