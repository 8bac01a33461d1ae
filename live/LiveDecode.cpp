#include "live/LiveDecode.h"

#include "base/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace live {

namespace {

QString Int(long long v) { return base::FormatInt(v); }

// Single precision, as the duty calculation has always read its inputs back.
float ReadBackFloat(const char* box, const QString& text)
{
    double v = 0;
    if (!base::ParseFloat(text, &v) || std::fabs(v) > std::numeric_limits<float>::max()) {
        throw LiveConversionError(std::string(box) + ": \"" + text.toStdString()
                                  + "\" is not a valid number");
    }
    return static_cast<float>(v);
}

}  // namespace

std::vector<BoxWrite> DecodeLive(char letter, uint16_t address, uint8_t data)
{
    const int A = address;
    const int D = data;
    switch (letter) {
    case 'a':
        return {{"txtAdvance", Int(D - 100)}, {"txtRPM", Int(A)}};
    case 'b':
        return {{"txtVacuum", Int(A)}, {"txtTPS", base::FormatFixed(D * 0.0625, 2)}};
    case 'c':
        // 100/255 so that a full byte shows exactly 100 per cent.
        return {{"txtPWM", base::FormatFixed(D * 100.0 / 255.0, 0, 4)},
                {"txtFuel", base::FormatFixed(A * 0.03125, 2)}};
    case 'd':
        return {{"txtWaterTemp", Int(D - 30)}, {"txtAirTemp", Int(A - 30)}};
    case 'e':
        return {{"txtVolt", base::FormatFixed(A * 0.1, 2)}, {"txtAcc", Int(D)}};
    case 'f':
        return {{"txtLambda", Int(D)}, {"txtPOT", Int(A)}};
    case 'g':
        return {{"txtAdvCorrection", Int(D - 100)}, {"txtFuelCorrection", Int(A - 100)}};
    case 'h':
        return {{"txtOil", base::FormatGeneral(D * 0.1)}, {"txtEGT", Int(A)}};
    default:
        return {};
    }
}

Duty ComputeDuty(const QString& fuelText, const QString& rpmText)
{
    const float fuel = ReadBackFloat("txtFuel", fuelText);
    const float rpm = ReadBackFloat("txtRPM", rpmText);
    // The product of two floats is exact in double, so the only rounding is the division.
    const double duty = double(fuel) * double(rpm) / 600.0;
    // The gauge clamps to 0..100; clamping here first keeps the truncation defined for any typed rpm.
    const double bounded = std::clamp(duty, -1e9, 1e9);
    return Duty{static_cast<int>(bounded), duty > 90.0};
}

StatusPanels DecodeStatus(uint16_t address)
{
    struct Flag {
        int mask;
        int panel;
        const char* text;
    };
    static constexpr Flag kFlags[] = {
        {0x01, 5, "Trigged"}, {0x02, 6, "Synced"}, {0x08, 7, "Pump"},
        {0x04, 8, "Fan"},     {0x10, 9, "Launch"}, {0x20, 10, "Als"},
    };
    const int S = address >> 8;
    StatusPanels p;
    p.panel13 = Int(S);
    for (const Flag& f : kFlags) {
        p.flags[f.panel - kFirstFlagPanel] =
            (S & f.mask) ? QString::fromLatin1(f.text) : QStringLiteral("       ");
    }
    if (S & 0x40) p.flags[6 - kFirstFlagPanel] = QStringLiteral("SYNC ERROR");
    return p;
}

QString VersionText(uint16_t address)
{
    const int V = address & 0xFF;
    return QStringLiteral("Version: ") + Int(V / 10) + u'.' + Int(V % 10);
}

}  // namespace live
