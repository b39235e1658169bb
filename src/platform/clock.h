// Time as the core sees it: a monotonic millisecond tick, the high-resolution
// counter, and local wall time. Tests substitute a fake clock.
#pragma once

#include <cstdint>

namespace tarvik {

// Local wall time broken into fields (month 1..12, day 1..31).
struct TLocalTime {
    int Year = 1899;
    int Month = 12;
    int Day = 30;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic milliseconds since an arbitrary origin (never wraps in practice).
    virtual std::uint64_t TickMs() const = 0;
    // High-resolution counter and its frequency in counts per second; a
    // frequency of 0 means "no counter" and makes every measured time 0.
    virtual std::int64_t Counter() const = 0;
    virtual std::int64_t CounterFrequency() const = 0;
    virtual TLocalTime LocalNow() const = 0;
    // Sleeps the calling thread; a fake clock advances its own time instead.
    virtual void SleepMs(std::uint32_t ms) const = 0;
};

// The process-wide real clock (steady_clock, localtime_r).
IClock& SystemClock();

}  // namespace tarvik
