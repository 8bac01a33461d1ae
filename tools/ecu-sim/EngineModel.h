// A small engine that moves: the throttle blips now and then, rpm follows it between idle
// and about 7000, the engine warms up. Enough for someone watching the gauges to see a
// living engine, and every value stays inside what its reply field can carry.
#pragma once

#include <cstdint>
#include <random>

namespace sim {

struct LiveFields {
    uint16_t address;
    uint8_t data;
};

class EngineModel {
public:
    explicit EngineModel(uint64_t seed);

    // Moves the engine on by this much time (long pauses are cut short).
    void Advance(double seconds);

    // The fields of the reply to a live command 'A' to 'H'.
    LiveFields Reply(char letter);

    double Rpm() const { return rpm_; }
    double Throttle() const { return throttle_; }
    double WaterTemp() const { return water_; }

private:
    void Step(double dt);
    double Noise(double sigma);
    double Load() const;
    double InjectionMs() const;

    std::mt19937_64 rng_;

    double throttle_ = 0;        // 0..1
    double throttleTarget_ = 0;
    double eventLeft_ = 2.0;     // seconds until the driver does something else
    double rpm_ = 900;
    double map_ = 35;            // kPa
    double water_ = 20;          // degrees C
    double air_ = 22;
    double lambda_ = 1.0;
    double egt_ = 350;
    double acc_ = 0;             // acceleration enrichment
    double previousThrottle_ = 0;
    double closingFor_ = 0;      // seconds since the throttle was last shut quickly
};

}  // namespace sim
