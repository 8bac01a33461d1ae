// What the live replies 'a'..'h' and the status part of 'v' show: which box gets which text.
// Pure mapping, no widgets: the window applies the writes in the order returned, through a
// text setter that ignores a text equal to the one shown.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>

#include "ecu/Protocol.h"
#include <vector>

namespace live {

// A live text that does not read back as a number (the user typed into txtRPM or txtFuel).
// The reply that needed it counts as a bad reply.
// It is the protocol's conversion error, which the reply reception counts as rejected.
class LiveConversionError : public protocol::ConversionError {
public:
    using protocol::ConversionError::ConversionError;
};

struct BoxWrite {
    const char* box;   // objectName of the edit, e.g. "txtRPM"
    QString text;
};

// The writes of one reply, first write first. Letters other than 'a'..'h' give none.
std::vector<BoxWrite> DecodeLive(char letter, uint16_t address, uint8_t data);

// Injector duty from the texts of txtFuel and txtRPM, read back in single precision:
// duty = fuel * rpm / 600; the bar turns red above 90; progress is the duty truncated toward
// zero (the gauge clamps it to its range). Throws LiveConversionError when a text is not a
// number or lies beyond the range of a float.
struct Duty {
    int progress;
    bool red;
};
Duty ComputeDuty(const QString& fuelText, const QString& rpmText);

// Status flags from the high byte of a 'v' reply's address.
struct StatusPanels {
    QString panel13;                // the status byte as an integer
    std::array<QString, 6> flags;   // panels 5..10: the flag's text, or seven spaces when clear
};
StatusPanels DecodeStatus(uint16_t address);
inline constexpr int kFirstFlagPanel = 5;

// Firmware version from the low byte of a 'v' reply's address, in tenths: "Version: 2.3".
QString VersionText(uint16_t address);

}  // namespace live
