// What each byte of the ECU's 500-byte calibration memory means to this program: the twelve
// maps and the twenty-five scalar settings, written once as two tables, and the conversions
// between a stored byte and the number a tuner sees and types.
//
// The tables drive the page builder, the decode onto the pages and both editors alike, so an
// address, a caption or an encoding is changed in one place only.
//
// Texts are UTF-8. The degree mark in the chart label formats and in the "Ignition Trim º"
// caption is U+00BA (MASCULINE ORDINAL INDICATOR, bytes C2 BA), not U+00B0: the axis labels
// and the caption use the same mark.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace calibration {

constexpr int ImageSize = 500;
using EepromImage = std::array<uint8_t, ImageSize>;

// Tab indices of the window's pages.
constexpr int PageTemp = 0;
constexpr int PageFuel = 1;
constexpr int PageIgnition = 2;
constexpr int PageGauges = 3;
constexpr int PageLogging = 4;
constexpr int PageSetup = 5;
constexpr int PageBoost = 6;

// How a stored byte b becomes the shown value:
//   Plain   b           (0..255)
//   Offset  b - 100     (-100..155)
//   Doubled 2 * b       (0..510, even)
enum class Encoding { Plain, Offset, Doubled };

int ShownValue(Encoding encoding, uint8_t byte);

// A signed whole number as a tuner types it: optional spaces around, an optional sign, then
// decimal digits only. nullopt for anything else, and for numbers beyond 32 bits.
std::optional<int> ParseWholeNumber(std::string_view text);

// Map cell text -> byte. nullopt when the text is not a whole number or when the number does
// not fit the map's byte: Plain 0..255, Offset -100..155, Doubled 0..511 (halved, the
// remainder dropped). Never the low 8 bits of a larger number: a byte the tuner did not type
// must not reach the ECU.
std::optional<uint8_t> ShownToByte(Encoding encoding, std::string_view text);

// Why a typed value was not sent, for the status bar: "not sent: 300 is out of range; RPM Fuel
// takes 0 to 255". `name` names the map or setting; the range is the shown values its
// encoding's byte covers.
std::string RefusalText(std::string_view name, Encoding encoding, std::string_view typed);

// ---- Maps ---------------------------------------------------------------------------------

// Row 0 of a map grid: the breakpoint of column k is first + step * k.
struct Axis {
    int first;
    int step;
};

// One axis of a map's chart.
struct ChartAxis {
    bool fixed;           // false: the chart scales the axis to its data (min, max unused)
    int min;
    int max;
    int labelStep;        // 0: the chart chooses
    const char* format;   // number format of the labels ("#,##0.###%"), nullptr: plain numbers
    const char* title;    // axis title, nullptr: none
};

struct MapLayout {
    int number;              // the grid's Tag
    const char* grid;        // object name of the grid
    const char* chart;       // object name of the chart
    int page;                // tab index of the page holding grid and chart
    const char* title;       // chart title, as the tuner sees it
    int base;                // image address of column 0
    int columns;
    Axis breakpoints;        // row 0, never stored
    Encoding encoding;
    std::optional<int> startupRow1;        // row 1 before the first decode; nullopt: the breakpoint
    ChartAxis valueAxis;                   // left axis
    ChartAxis xAxis;                       // bottom axis
    std::optional<ChartAxis> rightAxis;    // only the two temperature advance charts have one
};

constexpr int MapCount = 12;

// All twelve maps, in map number order (1..9, 11, 12, 13): also the order in which the decode
// clears the charts.
extern const std::array<MapLayout, MapCount> Maps;

// nullptr for 10 (there is no map 10) and for any other number that is not a map.
const MapLayout* MapByNumber(int number);

inline int Breakpoint(const MapLayout& map, int column)
{
    return map.breakpoints.first + map.breakpoints.step * column;
}

// The order in which the decode fills the grids: column by column over the sixteen-column
// maps, then column by column over the two wide maps.
inline constexpr std::array<int, 10> NarrowMapDecodeOrder = {1, 2, 3, 5, 6, 8, 9, 11, 12, 13};
inline constexpr std::array<int, 2> WideMapDecodeOrder = {4, 7};

// The text a grid cell holds from the window's construction until the first decode
// (row 0: the breakpoint; row 1: the breakpoint or the map's fixed start value).
std::string StartupText(const MapLayout& map, int row, int column);

// ---- Scalar settings -----------------------------------------------------------------------

struct SettingLayout {
    int address;             // the edit's Tag
    const char* edit;        // object name of the edit
    const char* spin;        // object name of its spin control
    int page;                // tab index
    const char* group;       // caption of the group box, nullptr: placed on the page itself
    const char* groupBox;    // object name of that group box (the Setup page has two "TPS")
    const char* label;       // label beside the edit, nullptr: the group caption names it
    const char* unitLabel;   // second label, nullptr: none
    Encoding encoding;       // Plain or Offset
    int spinMin, spinMax, spinStep;
    int startValue;          // shown in the edit until the first decode
    bool readOnly;           // only the ignition lock: changed through its spin control alone
    int spinTag;             // 3 for the ignition lock's spin control, 0 for all others
};

constexpr int SettingCount = 25;
constexpr int FirstSettingAddress = 431;
constexpr int LockAddress = 454;      // ignition lock: 0 (off) or 20 (on), nothing else
constexpr int LockSpinTag = 3;
constexpr int PrimingAddress = 439;   // its spin control is set last by the decode

// All twenty-five settings, in address order 431..455.
extern const std::array<SettingLayout, SettingCount> Settings;

// nullptr for addresses outside 431..455.
const SettingLayout* SettingByAddress(int address);

// What names the edit for a screen reader: its label, else its group's caption.
const char* AccessibleName(const SettingLayout& setting);

// The order in which the decode sets the spin positions; the priming control follows after
// the ignition lock check.
inline constexpr std::array<int, 24> SettingDecodeOrder = {
    443, 444, 445, 446, 448, 449, 450, 451, 447, 442, 433, 434,
    435, 436, 437, 452, 432, 453, 440, 438, 455, 441, 431, 454};

// Setting edit text -> byte: a whole number, +100 for the offset settings, refused (nullopt)
// outside 0..255. The spin range limits the arrows only, not what may be typed.
std::optional<uint8_t> SettingTextToByte(Encoding encoding, std::string_view text);

}  // namespace calibration
