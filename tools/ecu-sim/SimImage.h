// The simulated ECU's 500-byte EEPROM: a built-in calibration and image file load/save.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sim {

inline constexpr int kEepromSize = 500;
using Image = std::array<uint8_t, kEepromSize>;

// A plausible calibration: fuel rising with rpm, an advance curve, sensible settings.
// Bytes the tool does not show hold (address * 7) mod 256 so that tests can tell they
// came through a read, save, load or upload unchanged.
Image DefaultImage();

// Reads exactly 500 bytes; a file of any other size is refused.
bool LoadImageFile(const std::string& path, Image& image, std::string* error);

// Writes a temporary file beside `path` and renames it over `path`, so a reader (or a
// crash) never sees half an image.
bool SaveImageFile(const std::string& path, const Image& image, std::string* error);

}  // namespace sim
