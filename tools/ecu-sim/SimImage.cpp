#include "tools/ecu-sim/SimImage.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

uint8_t Clamp(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

void Fill(Image& image, int base, int count, const auto& shownByColumn, int offset = 0, int divisor = 1)
{
    for (int k = 0; k < count; ++k) image[base + k] = Clamp((shownByColumn(k) + offset) / divisor);
}

void SetError(std::string* error, const std::string& text)
{
    if (error) *error = text;
}

}  // namespace

Image DefaultImage()
{
    Image image;
    for (int a = 0; a < kEepromSize; ++a) image[a] = static_cast<uint8_t>(a * 7 % 256);

    auto rpm36 = [](int k) { return 250.0 + 250.0 * k; };     // 250 .. 9000
    auto temp16 = [](int k) { return -30.0 + 10.0 * k; };     // -30 .. 120 degrees
    auto kpa16 = [](int k) { return 40.0 + 20.0 * k; };       // 40 .. 340 kPa

    // Full load advance (20..55): 10 degrees at cranking rising to a 34 degree plateau.
    Fill(image, 20, 36, [&](int k) { return 10.0 + 24.0 * std::min(1.0, rpm36(k) / 4500.0); });
    // TPS ignition add-on (56..71): a few degrees at light throttle, none at full.
    Fill(image, 56, 16, [](int k) { return 6.0 - 0.4 * k; });
    // MAP ignition (72..87), offset: no change in vacuum, retard under boost.
    Fill(image, 72, 16, [&](int k) { return -std::max(0.0, (kpa16(k) - 100.0) / 20.0); }, 100);
    // Water temperature advance (88..103), offset: more when cold, less when hot.
    Fill(image, 88, 16, [&](int k) { return std::clamp((60.0 - temp16(k)) / 15.0, -3.0, 6.0); }, 100);
    // RPM fuel (104..139): rising with rpm.
    Fill(image, 104, 36, [](int k) { return 60.0 + 3.2 * k; });
    // TPS fuel compensation (140..155), percent.
    Fill(image, 140, 16, [](int k) { return 40.0 + 4.0 * k; });
    // MAP fuel compensation (156..171), doubled: fuel in proportion to pressure.
    Fill(image, 156, 16, [&](int k) { return kpa16(k); }, 0, 2);
    // Water fuel add-on (172..187), percent: rich when cold, none when warm.
    Fill(image, 172, 16, [&](int k) { return std::max(0.0, 70.0 - 0.9 * (temp16(k) + 30.0)); });
    // Start fuel add-on (188..203), percent.
    Fill(image, 188, 16, [&](int k) { return std::max(20.0, 180.0 - 1.4 * (temp16(k) + 30.0)); });
    // Wastegate PWM vs RPM (204..219): closed off boost, rising duty with rpm.
    Fill(image, 204, 16, [](int k) { return k < 3 ? 0.0 : 25.0 + 3.0 * (k - 3); });
    // TPS boost (220..235), percent.
    Fill(image, 220, 16, [](int k) { return 6.0 * k; });
    // Air temperature advance (236..251), offset.
    Fill(image, 236, 16, [&](int k) { return std::clamp((30.0 - temp16(k)) / 10.0, -8.0, 2.0); }, 100);

    // Settings (431..455), each within its editor's range; the offset ones store value + 100.
    const uint8_t settings[25] = {
        10,    // 431 injector dead time 1.0 ms
        100,   // 432 PWM trim 0
        90,    // 433 anti-lag advance -10
        20,    // 434 anti-lag ignition cut %
        10,    // 435 anti-lag extra fuel %
        12,    // 436 anti-lag TPS position
        30,    // 437 anti-lag rpm low limit x100
        40,    // 438 launch rpm x100
        30,    // 439 priming ms
        65,    // 440 shift light rpm x100
        95,    // 441 fan on temperature
        100,   // 442 base fuel
        40,    // 443 idle fuel
        12,    // 444 idle advance
        90,    // 445 idle speed
        30,    // 446 acceleration fuel
        12,    // 447 boost limit 1.2 bar
        10,    // 448 acceleration decay
        60,    // 449 acceleration limit
        25,    // 450 TPS zero (the engine model's closed-throttle reading)
        230,   // 451 TPS max (its open-throttle reading)
        100,   // 452 ignition trim 0
        70,    // 453 rpm limit x100
        0,     // 454 ignition lock off
        60,    // 455 trigger position
    };
    std::copy(std::begin(settings), std::end(settings), image.begin() + 431);
    return image;
}

bool LoadImageFile(const std::string& path, Image& image, std::string* error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, "cannot open image " + path + ": " + std::strerror(errno));
        return false;
    }
    // Read one byte more than an image holds, to tell "exactly 500" from "longer".
    uint8_t buffer[kEepromSize + 1];
    size_t total = 0;
    int readError = 0;
    while (total < sizeof buffer) {
        const ssize_t n = ::read(fd, buffer + total, sizeof buffer - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) readError = errno;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    ::close(fd);
    if (readError) {
        SetError(error, "cannot read image " + path + ": " + std::strerror(readError));
        return false;
    }
    if (total != kEepromSize) {
        SetError(error, "image " + path + (total > kEepromSize ? " is longer than 500 bytes"
                                                               : " holds " + std::to_string(total) + " bytes") +
                            "; an image is exactly 500");
        return false;
    }
    std::copy(buffer, buffer + kEepromSize, image.begin());
    return true;
}

bool SaveImageFile(const std::string& path, const Image& image, std::string* error)
{
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetError(error, "cannot write " + temp + ": " + std::strerror(errno));
        return false;
    }
    size_t total = 0;
    while (total < image.size()) {
        const ssize_t n = ::write(fd, image.data() + total, image.size() - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    const bool written = total == image.size();
    const int saved = errno;
    if (::close(fd) != 0 || !written) {
        SetError(error, "cannot write " + temp + ": " + std::strerror(written ? errno : saved));
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        SetError(error, "cannot replace " + path + ": " + std::strerror(errno));
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace sim
