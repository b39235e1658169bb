// Time as the core sees it: a monotonic millisecond tick, the high-resolution
// counter, and local wall time. Tests substitute a fake clock.
#pragma once

#include <cstdint>
#include <memory>

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

// The process-wide real clock (steady_clock, localtime_r). It is never
// destroyed: a measuring thread left behind in a hung call may still read it
// while the process exits.
IClock& SystemClock();
// The same clock as a shared pointer (owning nothing).
std::shared_ptr<const IClock> SharedSystemClock();

// A clock as the measuring threads hold it. Given a shared pointer it shares
// ownership, so that a thread left behind at close can still read the clock
// after its other owners are gone; a plain pointer is borrowed and must
// outlive every thread that uses it (the system clock always does).
class TClockRef {
public:
    TClockRef() : P_(SharedSystemClock()) {}
    TClockRef(const IClock* borrowed) : P_(std::shared_ptr<const IClock>(), borrowed) {}
    TClockRef(std::shared_ptr<const IClock> shared) : P_(std::move(shared)) {}
    const IClock* operator->() const { return P_.get(); }
    const IClock& operator*() const { return *P_; }

private:
    std::shared_ptr<const IClock> P_;
};

}  // namespace tarvik
