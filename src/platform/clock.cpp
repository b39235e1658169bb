// The real clock: steady_clock for ticks and counter, localtime_r for wall time.
#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <new>
#include <thread>

namespace tarvik {
namespace {

class TSystemClock final : public IClock {
public:
    std::uint64_t TickMs() const override {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    std::int64_t Counter() const override {
        using namespace std::chrono;
        return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    }
    std::int64_t CounterFrequency() const override { return 1'000'000'000; }
    TLocalTime LocalNow() const override {
        using namespace std::chrono;
        const auto now = system_clock::now();
        const std::time_t secs = system_clock::to_time_t(now);
        std::tm tm{};
        localtime_r(&secs, &tm);
        TLocalTime t;
        t.Year = tm.tm_year + 1900;
        t.Month = tm.tm_mon + 1;
        t.Day = tm.tm_mday;
        t.Hour = tm.tm_hour;
        t.Minute = tm.tm_min;
        t.Second = tm.tm_sec;
        t.Millisecond = static_cast<int>(
            duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
        return t;
    }
    void SleepMs(std::uint32_t ms) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

IClock& SystemClock() {
    // Constructed in static storage and never destroyed (see the header).
    alignas(TSystemClock) static unsigned char storage[sizeof(TSystemClock)];
    static TSystemClock* const clock = new (storage) TSystemClock;
    return *clock;
}

std::shared_ptr<const IClock> SharedSystemClock() {
    return std::shared_ptr<const IClock>(std::shared_ptr<const IClock>(), &SystemClock());
}

}  // namespace tarvik
