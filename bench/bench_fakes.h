// Fakes shared by the benchmarks: a clock that stands still and speed event
// actions that do nothing, so that only the measured code costs time.
#pragma once

#include <string>

#include "monitor/speed_event.h"
#include "platform/clock.h"

namespace tarvik::bench {

class TStillClock final : public IClock {
public:
    std::uint64_t TickMs() const override { return Ms; }
    std::int64_t Counter() const override { return static_cast<std::int64_t>(Ms) * 1000000; }
    std::int64_t CounterFrequency() const override { return 1000000000; }
    TLocalTime LocalNow() const override { return {2026, 12, 10, 12, 0, 0, 0}; }
    void SleepMs(std::uint32_t ms) const override { Ms += ms; }
    mutable std::uint64_t Ms = 1000000;
};

class TNoActions final : public ISpeedEventActions {
public:
    void PlaySound(const std::string&) override {}
    void RunProgram(const std::string&, const std::string&) override {}
    void CloseProgramByFile(const std::string&) override {}
    void CloseWindowsByTitle(const std::string&) override {}
};

}  // namespace tarvik::bench
