#include "calibration/ImageLayout.h"

#include <charconv>
#include <limits>

namespace calibration {

namespace {

// Label formats of the chart axes. "\xC2\xBA" is U+00BA, the degree mark (see the header).
constexpr const char* Percent = "#,##0.###%";
constexpr const char* Degrees = "#,##0.###\xC2\xBA";
constexpr const char* SignedDegrees = "+#,##0.###\xC2\xBA";
constexpr const char* Kilopascal = "#,##0.###kPa";

constexpr ChartAxis Automatic(const char* format = nullptr)
{
    return {false, 0, 0, 0, format, nullptr};
}

constexpr ChartAxis Fixed(int min, int max, int labelStep = 0, const char* format = nullptr,
                          const char* title = nullptr)
{
    return {true, min, max, labelStep, format, title};
}

constexpr Axis Temperature{-30, 10};      // -30 .. 120 degrees
constexpr Axis ThrottleSite{0, 1};        // 0 .. 15
constexpr Axis Pressure{40, 20};          // 40 .. 340 kPa
constexpr Axis EngineSpeed{250, 250};     // 250 .. 9000 rpm, 36 sites
constexpr Axis WastegateSpeed{1500, 500}; // 1500 .. 9000 rpm

constexpr std::optional<ChartAxis> NoRightAxis = std::nullopt;

}  // namespace

// clang-format off
const std::array<MapLayout, MapCount> Maps = {{
    {1, "StringGrid1", "Chart1", PageTemp, "Start Fuel add on", 188, 16, Temperature,
     Encoding::Plain, std::nullopt, Fixed(0, 200, 0, Percent), Automatic(), NoRightAxis},
    {2, "StringGrid2", "Chart2", PageTemp, "Water Fuel add on", 172, 16, Temperature,
     Encoding::Plain, std::nullopt, Fixed(0, 100, 0, Percent), Automatic(), NoRightAxis},
    {3, "StringGrid3", "Chart3", PageTemp, "Water Temp Advance", 88, 16, Temperature,
     Encoding::Offset, std::nullopt, Fixed(-10, 10, 0, Degrees), Automatic(), Fixed(-10, 10)},
    {4, "StringGrid4", "Chart4", PageFuel, "RPM Fuel", 104, 36, EngineSpeed,
     Encoding::Plain, std::nullopt, Fixed(0, 220), Fixed(250, 9000, 250), NoRightAxis},
    {5, "StringGrid5", "Chart5", PageFuel, "TPS Fuel Compensation", 140, 16, ThrottleSite,
     Encoding::Plain, std::nullopt, Automatic(Percent), Automatic(), NoRightAxis},
    {6, "StringGrid6", "Chart6", PageFuel, "MAP Fuel Compensation", 156, 16, Pressure,
     Encoding::Doubled, 100, Automatic(Percent), Fixed(40, 340, 20, Kilopascal), NoRightAxis},
    {7, "StringGrid7", "Chart7", PageIgnition, "Full Load Advance", 20, 36, EngineSpeed,
     Encoding::Plain, std::nullopt, Fixed(0, 50, 0, Degrees), Fixed(250, 9000), NoRightAxis},
    {8, "StringGrid8", "Chart8", PageIgnition, "TPS Ignition Add On", 56, 16, ThrottleSite,
     Encoding::Plain, std::nullopt, Fixed(0, 20, 0, SignedDegrees), Automatic(), NoRightAxis},
    {9, "StringGrid9", "Chart9", PageIgnition, "MAP Ignition", 72, 16, Pressure,
     Encoding::Offset, 0, Fixed(-30, 10, 0, Degrees), Fixed(40, 340, 20, Kilopascal), NoRightAxis},
    {11, "StringGrid11", "Chart11", PageBoost, "Wastegate PWM vs RPM", 204, 16, WastegateSpeed,
     Encoding::Plain, std::nullopt, Fixed(0, 100, 0, nullptr, "PWM Duty cycle %"),
     Fixed(1500, 9000, 500), NoRightAxis},
    {12, "StringGrid12", "Chart12", PageBoost, "TPS Boost", 220, 16, ThrottleSite,
     Encoding::Plain, std::nullopt, Fixed(0, 100, 0, Percent), Automatic(), NoRightAxis},
    {13, "StringGrid13", "Chart13", PageTemp, "Air Temp Advance", 236, 16, Temperature,
     Encoding::Offset, std::nullopt, Fixed(-15, 10, 5, Degrees), Automatic(), Fixed(-10, 10)},
}};

namespace {
constexpr const char* TpsLower = "GroupBoxTpsLower";   // the row of eight engine settings
constexpr const char* TpsUpper = "GroupBoxTpsUpper";   // throttle end points
constexpr const char* AntiLag = "Anti Lag System";
constexpr Encoding Plain = Encoding::Plain;
constexpr Encoding Offset = Encoding::Offset;
}  // namespace

const std::array<SettingLayout, SettingCount> Settings = {{
    // address edit spin page group groupBox label unitLabel encoding min max step start readOnly spinTag
    {431, "txtDeadTime", "updownDeadTime", PageSetup, "TPS", TpsLower, "Inj Dead Time", "(x0.1ms @14v)", Plain, 0, 255, 1, 0, false, 0},
    {432, "txtPwmTrim", "updownPwmTrim", PageBoost, "PWM Trim %", "GroupBoxPwmTrim", nullptr, nullptr, Offset, -25, 25, 1, 25, false, 0},
    {433, "txtAlsAdvance", "updownAlsAdvance", PageBoost, AntiLag, "GroupBoxAntiLag", "Ignition Advance", nullptr, Offset, -30, 0, -1, 0, false, 0},
    {434, "txtAlsCut", "updownAlsCut", PageBoost, AntiLag, "GroupBoxAntiLag", "Igntition Cut %", nullptr, Plain, 0, 35, 1, 35, false, 0},
    {435, "txtAlsFuel", "updownAlsFuel", PageBoost, AntiLag, "GroupBoxAntiLag", "Extra Fuel %", nullptr, Plain, 0, 20, 1, 20, false, 0},
    {436, "txtAlsTps", "updownAlsTps", PageBoost, AntiLag, "GroupBoxAntiLag", "TPS Position", nullptr, Plain, 0, 16, 1, 16, false, 0},
    {437, "txtAlsRpm", "updownAlsRpm", PageBoost, AntiLag, "GroupBoxAntiLag", "RPM low limit", "(x100)", Plain, 0, 30, 1, 30, false, 0},
    {438, "txtLaunchRpm", "updownLaunchRpm", PageSetup, "TPS", TpsLower, "Launch Rpm", "(x100)", Plain, 0, 255, 1, 0, false, 0},
    {439, "txtPriming", "UpDown7", PageSetup, nullptr, nullptr, "Priming", "(ms)", Plain, 0, 255, 1, 0, false, 0},
    {440, "txtShiftRpm", "updownShiftLightRpm", PageSetup, "TPS", TpsLower, "Shift Light Rpm", "(x100)", Plain, 0, 255, 1, 0, false, 0},
    {441, "txtFanOn", "updownFanTemp", PageSetup, "TPS", TpsLower, "Fan on", "Temp", Plain, 0, 255, 1, 0, false, 0},
    {442, "txtBaseFuel", "updownBaseFuel", PageFuel, "Base fuel", "GroupBoxBaseFuel", nullptr, nullptr, Plain, 0, 255, 1, 255, false, 0},
    {443, "txtIdleFuel", "updownIdleFuel", PageSetup, "IDLE", "GroupBoxIdle", "Fuel:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {444, "txtIdleAdvance", "updownIdleAdvance", PageSetup, "IDLE", "GroupBoxIdle", "Advance:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {445, "txtIdleSpeed", "updownIdleSpeed", PageSetup, "IDLE", "GroupBoxIdle", "Speed:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {446, "txtAccFuel", "updownAccFuel", PageSetup, "Acceleration", "GroupBoxAcceleration", "Acc fuel:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {447, "txtBoostLimit", "updownBoostLimit", PageSetup, "TPS", TpsLower, "Boost Limit", "(Bar/10)", Plain, 0, 255, 1, 0, false, 0},
    {448, "txtAccDecay", "updownAccDecay", PageSetup, "Acceleration", "GroupBoxAcceleration", "Decay:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {449, "txtAccLimit", "updownAccLimit", PageSetup, "Acceleration", "GroupBoxAcceleration", "Limit:", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {450, "txtTPSZero", "updownTPSZero", PageSetup, "TPS", TpsUpper, "Zero", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {451, "txtTPSMax", "updownTPSMax", PageSetup, "TPS", TpsUpper, "Max", nullptr, Plain, 0, 255, 1, 0, false, 0},
    {452, "txtIgnTrim", "updownIgnTrim", PageIgnition, "Ignition Trim \xC2\xBA", "GroupBoxIgnitionTrim", nullptr, nullptr, Offset, -9, 9, 1, 0, false, 0},
    {453, "txtRpmLimit", "updownRpmLimit", PageSetup, "TPS", TpsLower, "RPM Limit", "(x100)", Plain, 0, 255, 1, 0, false, 0},
    {454, "txtTPSDwell", "updownLockAdvance", PageSetup, "TPS", TpsLower, "Ignition", "Lock", Plain, 0, 20, 20, 0, true, LockSpinTag},
    {455, "txtTPSTrigger", "updownTrigger", PageSetup, "TPS", TpsLower, "Trigger", "Position", Plain, 0, 255, 1, 0, false, 0},
}};
// clang-format on

int ShownValue(Encoding encoding, uint8_t byte)
{
    switch (encoding) {
    case Encoding::Offset: return int(byte) - 100;
    case Encoding::Doubled: return 2 * int(byte);
    case Encoding::Plain: break;
    }
    return byte;
}

std::optional<int> ParseWholeNumber(std::string_view text)
{
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // from_chars would take a second sign; only digits may follow ours.
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;

    long long magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;

    const long long value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(value);
}

std::optional<uint8_t> ShownToByte(Encoding encoding, std::string_view text)
{
    const std::optional<int> shown = ParseWholeNumber(text);
    if (!shown) return std::nullopt;
    int stored = *shown;
    switch (encoding) {
    case Encoding::Offset: stored += 100; break;
    case Encoding::Doubled:
        if (stored < 0) return std::nullopt;
        stored /= 2;
        break;
    case Encoding::Plain: break;
    }
    if (stored < 0 || stored > 255) return std::nullopt;
    return uint8_t(stored);
}

std::optional<uint8_t> SettingTextToByte(Encoding encoding, std::string_view text)
{
    // Settings are plain or offset, whose accepted ranges are exactly those of the map cells.
    return ShownToByte(encoding, text);
}

std::string RefusalText(std::string_view name, Encoding encoding, std::string_view typed)
{
    int low = 0, high = 255;
    switch (encoding) {
    case Encoding::Offset: low = -100; high = 155; break;
    case Encoding::Doubled: high = 510; break;
    case Encoding::Plain: break;
    }
    const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
    while (!typed.empty() && isSpace(typed.front())) typed.remove_prefix(1);
    while (!typed.empty() && isSpace(typed.back())) typed.remove_suffix(1);
    std::string_view digits = typed;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    const bool number = !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    // A pasted page of text would stretch the status bar past the window.
    constexpr std::size_t shownChars = 12;
    std::string shown(typed.substr(0, shownChars));
    if (typed.size() > shownChars) shown += "...";
    std::string why;
    if (typed.empty()) why = "no value";
    else if (number) why = shown + " is out of range";
    else why = "\"" + shown + "\" is not a whole number";
    return "not sent: " + why + "; " + std::string(name) + " takes " + std::to_string(low) + " to "
           + std::to_string(high);
}

const MapLayout* MapByNumber(int number)
{
    for (const MapLayout& map : Maps)
        if (map.number == number) return &map;
    return nullptr;
}

std::string StartupText(const MapLayout& map, int row, int column)
{
    if (row == 1 && map.startupRow1) return std::to_string(*map.startupRow1);
    return std::to_string(Breakpoint(map, column));
}

const SettingLayout* SettingByAddress(int address)
{
    const int index = address - FirstSettingAddress;
    if (index < 0 || index >= SettingCount) return nullptr;
    return &Settings[std::size_t(index)];
}

const char* AccessibleName(const SettingLayout& setting)
{
    return setting.label ? setting.label : setting.group;
}

}  // namespace calibration
