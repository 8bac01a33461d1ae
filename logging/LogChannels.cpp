#include "logging/LogChannels.h"

#include <cmath>
#include <limits>

#include "base/NumberFormat.h"

namespace logging {

namespace {
// An opaque colour as QColor::fromRgb takes it; the channel table needs no Qt GUI for it.
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return 0xff000000u | r << 16 | g << 8 | b; }
}  // namespace

// The colours stand out from the chart's dark ground (a contrast of at least 3:1), and the nine
// channels shown at first stay apart for the many tuners with red-green colour blindness: the
// lines are told apart by lightness and by the blue-yellow axis, not by red against green.
//
// The factors are decimal constants held in extended precision, so that 6543 x 0.01 lands on
// the double nearest 65.43 and 65.43 x 100 reads back as 6543.
const std::array<LogChannel, kLogChannelCount> kLogChannels = {{
    {"LineSeries10", "RPM/100", "RPM", "txtRPM", 0.01L, Rgb(238, 68, 136), 2, true,
     "CheckBox1", "RPM", 0, 100.0L, 0, 5, "rpm"},
    {"Series1", "TPS", "TPS", "txtTPS", 1.0L, Rgb(34, 136, 0), 2, true,
     "CheckBox2", "TPS", 52, 1.0L, 2, 7, ""},
    {"Series2", "Fuel (ms)", "Fuel (ms)", "txtFuel", 1.0L, Rgb(221, 255, 51), 2, true,
     "CheckBox3", "Fuel", 103, 1.0L, 2, 7, "ms"},
    {"Series3", "Advance", "Advance", "txtAdvance", 1.0L, Rgb(51, 170, 255), 2, true,
     "CheckBox4", "Advance", 155, 1.0L, 0, 5, "deg"},
    {"Series4", "Water", "Water", "txtWaterTemp", 1.0L, Rgb(255, 0, 255), 2, false,
     "CheckBox8", "Water", 223, 1.0L, 0, 5, "degC"},
    {"Series5", "Air", "Air", "txtAirTemp", 1.0L, Rgb(160, 160, 160), 2, false,
     "CheckBox5", "Air", 283, 1.0L, 0, 5, "degC"},
    // Lambda is logged as raw/10 and read out as the ratio raw/100, like txtLambdaFloat.
    {"Series6", "Lambda", "Lambda", "txtLambda", 0.1L, Rgb(255, 204, 187), 2, true,
     "CheckBox6", "Lambda", 326, 0.1L, 2, 7, ""},
    {"Series7", "POT", "POT", "txtPOT", 1.0L, Rgb(200, 120, 255), 2, false,
     "CheckBox7", "POT", 394, 1.0L, 0, 5, ""},
    {"Series8", "Volt", "Volt", "txtVolt", 1.0L, Rgb(255, 255, 255), 1, false,
     "CheckBox9", "Volt", 446, 1.0L, 2, 7, "V"},
    {"Series9", "Acc", "Acc", "txtAcc", 1.0L, Rgb(140, 140, 255), 2, false,
     "CheckBox10", "Acc", 497, 1.0L, 0, 5, ""},
    {"Series10", "Map", "Map", "txtVacuum", 0.1L, Rgb(0, 255, 238), 2, true,
     "CheckBox11", "Map", 549, 10.0L, 0, 5, "kPa"},
    {"Series11", "EGT", "EGT", "txtEGT", 0.1L, Rgb(204, 153, 0), 2, true,
     "CheckBox12", "EGT", 597, 10.0L, 0, 5, "degC"},
    // The live oil text carries one decimal; the readout shows it rounded to a whole number.
    {"Series12", "Oil Pressure", "Oil Press", "txtOil", 1.0L, Rgb(85, 102, 204), 2, true,
     "CheckBox13", "Oil Pressure", 645, 1.0L, 0, 5, ""},
    {"Series13", "PWM", "PWM", "txtPWM", 0.1L, Rgb(68, 119, 119), 2, true,
     "CheckBox14", "PWM", 725, 10.0L, 0, 5, "%"},
}};

std::optional<std::array<double, kLogChannelCount>> SampleFromTexts(
    const std::array<QString, kLogChannelCount>& texts)
{
    std::array<double, kLogChannelCount> sample{};
    for (int k = 0; k < kLogChannelCount; ++k) {
        double v = 0;
        if (!base::ParseFloat(texts[k], &v)) return std::nullopt;
        sample[k] = static_cast<double>(static_cast<long double>(v) * kLogChannels[k].chartFactor);
        // The file holds each value as text read back into a float: one beyond a float's range
        // would end every later load of the log at this sample.
        if (!(std::fabs(sample[k]) <= std::numeric_limits<float>::max())) return std::nullopt;
    }
    return sample;
}

QString DisplayUnit(int channel)
{
    if (channel < 0 || channel >= kLogChannelCount) return {};
    const QString unit = QLatin1String(kLogChannels[channel].unit);
    if (unit == QLatin1String("degC")) return QStringLiteral("\u00b0C");
    if (unit == QLatin1String("deg")) return QStringLiteral("\u00b0");
    return unit;
}

QString NameWithUnit(int channel)
{
    if (channel < 0 || channel >= kLogChannelCount) return {};
    const QString name = QLatin1String(kLogChannels[channel].heading);
    const QString unit = DisplayUnit(channel);
    const QString suffix = QStringLiteral(" (%1)").arg(unit);
    // A heading may carry its unit already ("Fuel (ms)"): once is enough.
    return unit.isEmpty() || name.endsWith(suffix) ? name : name + suffix;
}

int ReadoutShift(int channel)
{
    if (channel < 0 || channel >= kLogChannelCount) return 0;
    return int(std::lround(std::log10(double(kLogChannels[channel].readoutFactor))));
}

QString ReadoutText(int channel, double y)
{
    if (channel < 0 || channel >= kLogChannelCount) return {};
    const LogChannel& c = kLogChannels[channel];
    return base::FormatFixedExtended(static_cast<long double>(y) * c.readoutFactor,
                                   c.readoutDecimals, c.readoutPrecision);
}

}  // namespace logging
