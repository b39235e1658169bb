// A clock that moves only when the test says so. SleepMs advances it, so
// code that waits finishes at once with the waited time accounted for.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/clock.h"
#include "platform/date_time.h"

namespace tarvik::test {

class TFakeClock final : public IClock {
public:
    explicit TFakeClock(TLocalTime start = {2026, 12, 10, 12, 0, 0, 0})
        : Base_(EncodeDateTime(start)) {}

    std::uint64_t TickMs() const override { return Ms_.load(); }
    std::int64_t Counter() const override {
        return static_cast<std::int64_t>(Ms_.load()) * 1'000'000 + ExtraNs_.load();
    }
    std::int64_t CounterFrequency() const override { return Frequency_.load(); }
    TLocalTime LocalNow() const override {
        return DecodeDateTime(Base_ + static_cast<double>(Ms_.load() - kStartMs) / 86400000.0);
    }
    void SleepMs(std::uint32_t ms) const override { Ms_ += ms; }

    void Advance(std::uint64_t ms) { Ms_ += ms; }
    void AdvanceNs(std::int64_t ns) { ExtraNs_ += ns; }
    void SetFrequency(std::int64_t f) { Frequency_ = f; }
    // Moves wall time (and the tick with it) to the given local time.
    void SetLocal(const TLocalTime& t) {
        const double target = EncodeDateTime(t);
        const double delta = (target - Base_) * 86400000.0;
        Ms_ = kStartMs + static_cast<std::uint64_t>(delta + 0.5);
    }

private:
    // The tick starts away from 0 so that "tick - 0" differs from "never".
    static constexpr std::uint64_t kStartMs = 1'000'000;
    double Base_;
    mutable std::atomic<std::uint64_t> Ms_{kStartMs};
    std::atomic<std::int64_t> ExtraNs_{0};
    std::atomic<std::int64_t> Frequency_{1'000'000'000};
};

}  // namespace tarvik::test
