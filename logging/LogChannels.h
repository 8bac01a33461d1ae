// The fourteen log channels, written once: what the recorder reads, what the chart draws, what
// the check boxes toggle and how the readout row shows a logged value again. Channel k is
// series k of the log chart, column k of gridLog, field k of a log file line and the Tag of the
// check box that toggles it.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace logging {

inline constexpr int kLogChannelCount = 14;

struct LogChannel {
    const char* seriesName;        // objectName of the chart series
    const char* seriesTitle;       // legend text
    const char* heading;           // gridLog row 0
    const char* sourceEdit;        // the live edit sampled into the log
    long double chartFactor;       // live value x factor = value held by the chart and the file
    uint32_t colour;               // 0xAARRGGBB, as QColor::fromRgb takes it
    int penWidth;
    bool initiallyVisible;
    const char* checkBoxName;      // the box numbers do not follow the channel order
    const char* checkBoxCaption;
    int checkBoxLeft;
    long double readoutFactor;     // chart value x factor = what the readout row shows
    int readoutDecimals;
    int readoutPrecision;          // significant digits before the exponent form takes over
    const char* unit;              // of the readout value; empty where the ECU's unit is not known
};

extern const std::array<LogChannel, kLogChannelCount> kLogChannels;

// One sample from the fourteen live texts (display locale), scaled into chart values: the
// product is formed in extended precision and stored as a double. nullopt unless every text
// converts to a value a log file can hold (finite, within a float's range), so that a sample is
// appended to all fourteen series or to none, and a saved log always loads back whole.
std::optional<std::array<double, kLogChannelCount>> SampleFromTexts(
    const std::array<QString, kLogChannelCount>& texts);

// A chart value of channel k as the readout row shows it (display locale's separator).
// An empty text for a channel outside 0..13.
QString ReadoutText(int channel, double y);

// The unit of channel k's readout as the screen writes it ("rpm", "°C", "kPa"); empty where the
// ECU's unit is not known (TPS, POT, Acc, oil) and for lambda, a ratio.
QString DisplayUnit(int channel);

// A channel's name with its unit for an axis or a caption: "EGT (°C)", "Lambda".
QString NameWithUnit(int channel);

// Powers of ten between a chart value and its readout value (2 for RPM: 65.43 is 6543 rpm).
int ReadoutShift(int channel);

}  // namespace logging
