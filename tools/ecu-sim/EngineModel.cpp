#include "tools/ecu-sim/EngineModel.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr double kIdleRpm = 900;
constexpr double kTopRpm = 7000;
constexpr double kStep = 0.01;   // seconds per integration step

// Moves `value` toward `target` with time constant `tau`.
void Follow(double& value, double target, double tau, double dt) { value += (target - value) * std::min(1.0, dt / tau); }

uint16_t Field16(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }
uint8_t Field8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

EngineModel::EngineModel(uint64_t seed) : rng_(seed) {}

double EngineModel::Noise(double sigma) { return std::normal_distribution<double>(0.0, sigma)(rng_); }

double EngineModel::Load() const { return std::clamp((map_ - 30.0) / 150.0, 0.0, 1.0); }

double EngineModel::InjectionMs() const
{
    const double warmUp = 1.0 + std::max(0.0, 70.0 - water_) * 0.004;
    const double ms = (1.6 + 5.6 * Load()) * warmUp + acc_ * 0.03;
    return std::min(ms, 95.0 * 600.0 / rpm_);   // duty (ms * rpm / 600, in percent) stays below 95
}

void EngineModel::Advance(double seconds)
{
    seconds = std::clamp(seconds, 0.0, 2.0);
    while (seconds > 0) {
        const double dt = std::min(seconds, kStep);
        Step(dt);
        seconds -= dt;
    }
}

void EngineModel::Step(double dt)
{
    // The driver: mostly idle, now a blip, now a stretch of cruising.
    eventLeft_ -= dt;
    if (eventLeft_ <= 0) {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        if (throttleTarget_ > 0) {
            throttleTarget_ = 0;
            eventLeft_ = 1.5 + 4.0 * u(rng_);
        } else if (u(rng_) < 0.7) {
            throttleTarget_ = 0.2 + 0.8 * u(rng_);
            eventLeft_ = 0.3 + 2.2 * u(rng_);
        } else {
            throttleTarget_ = 0.15 + 0.2 * u(rng_);
            eventLeft_ = 2.0 + 4.0 * u(rng_);
        }
    }
    previousThrottle_ = throttle_;
    Follow(throttle_, throttleTarget_, 0.08, dt);
    const double opening = (throttle_ - previousThrottle_) / dt;   // per second

    const double rpmTarget = kIdleRpm + (kTopRpm - kIdleRpm) * std::pow(throttle_, 0.8);
    Follow(rpm_, rpmTarget, rpmTarget > rpm_ ? 0.5 : 0.9, dt);

    const double boost = std::max(0.0, (rpm_ - 2800.0) / 3000.0) * throttle_ * 80.0;
    Follow(map_, 32.0 + 68.0 * std::sqrt(throttle_) + boost, 0.1, dt);

    Follow(water_, 88.0, 150.0 / (1.0 + rpm_ / 3000.0), dt);
    Follow(air_, 32.0 + boost * 0.1, 200.0, dt);

    acc_ = std::max(0.0, acc_ * (1.0 - dt / 0.3) + std::max(0.0, opening) * 6.0 * dt * 10.0);
    acc_ = std::min(acc_, 60.0);

    if (opening < -1.5) closingFor_ = 0;
    closingFor_ += dt;
    double lambdaTarget = 1.0;
    if (throttle_ > 0.7) lambdaTarget = 0.86;
    else if (closingFor_ < 0.8) lambdaTarget = 1.12;   // fuel cut on the overrun
    Follow(lambda_, lambdaTarget, 0.15, dt);
    lambda_ += Noise(0.002);

    Follow(egt_, 360.0 + 480.0 * Load() + 60.0 * rpm_ / kTopRpm, 3.0, dt);
}

LiveFields EngineModel::Reply(char letter)
{
    const double throttleSite = throttle_ * 15.0;   // the throttle maps' 0..15 scale
    switch (letter) {
    case 'A': {
        const double advance = 10.0 + 22.0 * std::min(1.0, rpm_ / 4000.0) - 8.0 * Load();
        return {Field16(rpm_ + Noise(6.0)), Field8(advance + 100.0)};
    }
    case 'B':
        return {Field16(map_ + Noise(0.5)), Field8(throttleSite * 16.0)};
    case 'C': {
        const double duty = rpm_ > 3000 && throttle_ > 0.5 ? 25.0 + 35.0 * throttle_ : 0.0;
        return {Field16(InjectionMs() * 32.0), Field8(duty * 255.0 / 100.0)};
    }
    case 'D':
        return {Field16(air_ + 30.0), Field8(water_ + 30.0)};
    case 'E': {
        const double volts = (rpm_ < 1000 ? 13.6 : 13.8) + Noise(0.05);
        return {Field16(volts * 10.0), Field8(acc_)};
    }
    case 'F': {
        const double pot = 25.0 + 205.0 * throttle_ + Noise(0.4);
        return {Field16(pot), Field8(std::clamp(lambda_ * 100.0, 85.0, 115.0))};
    }
    case 'G': {
        const double fuelCorrection = std::max(0.0, 70.0 - water_) * 0.4;
        const double ignitionCorrection = -std::max(0.0, (air_ - 30.0) / 5.0);
        return {Field16(fuelCorrection + 100.0), Field8(ignitionCorrection + 100.0)};
    }
    case 'H': {
        const double warm = std::clamp((water_ - 20.0) / 60.0, 0.0, 1.0);
        const double oil = 1.2 + 4.0 * (rpm_ - kIdleRpm) / (kTopRpm - kIdleRpm) + 1.0 * (1.0 - warm);
        return {Field16(egt_ + Noise(2.0)), Field8(oil * 10.0)};
    }
    default:
        return {0, 0};
    }
}

}  // namespace sim
