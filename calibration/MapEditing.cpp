#include "calibration/MapEditing.h"

#include <algorithm>
#include <cstdlib>

namespace calibration {

namespace {

bool Inside(const MapLayout& map, int column) { return column >= 0 && column < map.columns; }

bool AllInside(const MapLayout& map, const std::vector<int>& columns)
{
    return !columns.empty() && std::all_of(columns.begin(), columns.end(), [&](int c) { return Inside(map, c); });
}

std::vector<int> Sorted(std::vector<int> columns)
{
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    return columns;
}

// num / den rounded to the nearest whole number, halves away from zero; den > 0.
int RoundedQuotient(int num, int den)
{
    const int magnitude = (2 * std::abs(num) + den) / (2 * den);
    return num < 0 ? -magnitude : magnitude;
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
        if (at == std::string_view::npos) return parts;
        from = at + 1;
    }
}

void DropTrailingEmpty(std::vector<std::string_view>& parts)
{
    while (!parts.empty() && parts.back().find_first_not_of(" \r") == std::string_view::npos) parts.pop_back();
}

// The values of pasted text, row or column; nullopt for a table of several rows and columns.
std::optional<std::vector<std::string_view>> PastedValues(std::string_view text)
{
    std::vector<std::string_view> lines = Split(text, '\n');
    DropTrailingEmpty(lines);
    std::vector<std::string_view> values;
    for (std::string_view line : lines) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::vector<std::string_view> fields = Split(line, '\t');
        DropTrailingEmpty(fields);
        if (lines.size() > 1 && fields.size() > 1) return std::nullopt;
        if (fields.empty()) fields.push_back(line);   // an empty line inside a column: not a number
        values.insert(values.end(), fields.begin(), fields.end());
    }
    if (values.empty()) return std::nullopt;
    return values;
}

}  // namespace

std::optional<MapCell> MapCellAt(int address)
{
    for (const MapLayout& map : Maps)
        if (address >= map.base && address < map.base + map.columns) return MapCell{&map, address - map.base};
    return std::nullopt;
}

int ShownStep(Encoding encoding) { return encoding == Encoding::Doubled ? 2 : 1; }

std::optional<CellBytes> SetColumns(const MapLayout& map, const std::vector<int>& columns, std::string_view text)
{
    const std::optional<uint8_t> byte = ShownToByte(map.encoding, text);
    if (!byte || !AllInside(map, columns)) return std::nullopt;
    CellBytes cells;
    for (int column : Sorted(columns)) cells.push_back({column, *byte});
    return cells;
}

std::optional<CellBytes> StepColumns(const MapLayout& map, const std::vector<int>& columns, const ColumnText& text,
                                     int steps)
{
    if (!AllInside(map, columns)) return std::nullopt;
    CellBytes cells;
    for (int column : Sorted(columns)) {
        const std::optional<uint8_t> byte = ShownToByte(map.encoding, text(column));
        if (!byte) return std::nullopt;
        const int moved = *byte + steps;   // one step of the display unit is one step of the byte
        if (moved < 0 || moved > 255) return std::nullopt;
        cells.push_back({column, static_cast<uint8_t>(moved)});
    }
    return cells;
}

std::optional<CellBytes> InterpolateColumns(const MapLayout& map, const std::vector<int>& columns,
                                            const ColumnText& text)
{
    const std::vector<int> sorted = Sorted(columns);
    if (sorted.size() < 3 || !AllInside(map, sorted)) return std::nullopt;
    const int first = sorted.front();
    const int last = sorted.back();
    const std::optional<uint8_t> from = ShownToByte(map.encoding, text(first));
    const std::optional<uint8_t> to = ShownToByte(map.encoding, text(last));
    if (!from || !to) return std::nullopt;
    // Every encoding is a straight line of the byte, so the line between the shown values is
    // the line between the bytes, and the nearest byte is the nearest value the map can hold.
    const int rise = *to - *from;
    const int run = last - first;
    CellBytes cells;
    for (int column : sorted) {
        if (column == first || column == last) continue;
        cells.push_back({column, static_cast<uint8_t>(*from + RoundedQuotient(rise * (column - first), run))});
    }
    return cells;
}

std::string CopyColumns(const std::vector<int>& columns, const ColumnText& text)
{
    std::string row;
    for (int column : Sorted(columns)) {
        if (!row.empty()) row += '\t';
        row += text(column);
    }
    return row + '\n';
}

std::optional<CellBytes> PasteColumns(const MapLayout& map, const std::vector<int>& selected, std::string_view text)
{
    const std::optional<std::vector<std::string_view>> values = PastedValues(text);
    const std::vector<int> sorted = Sorted(selected);
    if (!values || sorted.empty()) return std::nullopt;
    if (values->size() == 1) return SetColumns(map, sorted, values->front());
    const int start = sorted.front();
    if (!Inside(map, start) || start + static_cast<int>(values->size()) > map.columns) return std::nullopt;
    CellBytes cells;
    for (std::size_t i = 0; i < values->size(); ++i) {
        const std::optional<uint8_t> byte = ShownToByte(map.encoding, (*values)[i]);
        if (!byte) return std::nullopt;
        cells.push_back({start + static_cast<int>(i), *byte});
    }
    return cells;
}

EditPlan PlanEdit(const MapLayout& map, const CellBytes& cells, const KnownByte& known, bool writeAll)
{
    EditPlan plan;
    plan.undo.emplace();
    for (const CellByte& cell : cells) {
        const auto address = static_cast<uint16_t>(map.base + cell.column);
        const std::optional<uint8_t> before = known(address);
        if (writeAll || !before || *before != cell.byte) plan.writes.push_back({'W', address, cell.byte});
        if (!before) plan.undo.reset();
        else if (plan.undo && *before != cell.byte) plan.undo->push_back({address, *before, cell.byte});
    }
    return plan;
}

CellBytes CellsOf(const MapEdit& edit, bool before)
{
    CellBytes cells;
    for (const ByteChange& change : edit)
        if (const std::optional<MapCell> cell = MapCellAt(change.address))
            cells.push_back({cell->column, before ? change.before : change.after});
    return cells;
}

void EditHistory::Record(MapEdit edit)
{
    if (edit.empty()) return;
    done_.push_back(std::move(edit));
    if (done_.size() > Depth) done_.pop_front();
    undone_.clear();
}

std::optional<MapEdit> EditHistory::Undo()
{
    if (done_.empty()) return std::nullopt;
    undone_.push_back(std::move(done_.back()));
    done_.pop_back();
    return undone_.back();
}

std::optional<MapEdit> EditHistory::Redo()
{
    if (undone_.empty()) return std::nullopt;
    done_.push_back(std::move(undone_.back()));
    undone_.pop_back();
    return done_.back();
}

void EditHistory::Clear()
{
    done_.clear();
    undone_.clear();
}

}  // namespace calibration
