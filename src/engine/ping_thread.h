// TPingThread: the measuring thread of one test resource and, at the same
// time, its run-time record (settings copy, latest speeds, histories, level
// reference, trend sums). The window drives it through a few atomic flags,
// LoadSettings and a cooperative suspend count; results reach the window
// through ShowResults and FlushTrend, which run on the window thread by the
// synchronous call, and through a published copy of the histories.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "trend/link_quality.h"
#include "trend/trend_record.h"

namespace tarvik {

class TPingThread;
class TResourceTable;
class TSyncCaller;

constexpr int HistorySize = 100;
// Samples at indices 1..100 (0 unused), the oldest at 1, the newest at 100.
using THistory = std::array<double, HistorySize + 1>;
// Quarter-hour values of the day the trend chart shows, indices 1..96.
using TDayValues = std::array<double, 97>;

// Thread priority levels: 1 lowest .. 5 highest.
enum class TPriority : int { Lowest = 1, BelowNormal = 2, Normal = 3, AboveNormal = 4, Highest = 5 };

// The transfer steps of one resource kind. A probe runs the whole cycle loop
// of its kind using the skeleton helpers of TPingThread.
class TProbe {
public:
    virtual ~TProbe() = default;
    // Runs cycles until the thread's Restart is set (or the pass ends early).
    virtual void RunLoop(TPingThread& thread) = 0;
    // Releases what the loop holds open; called after every loop and when
    // the thread ends. Must be safe to call more than once.
    virtual void Close(TPingThread& thread) = 0;
};

// Makes the probe for a kind, or null when the kind cannot be measured
// (unknown kind, or a host while ICMP is unavailable).
using TProbeFactory = std::function<std::unique_ptr<TProbe>(char kind, TPingThread& thread)>;

// What the threads share with the window. Fields marked "window thread" are
// only touched there (inside the synchronous call or by window code).
// A thread left behind at close (stuck in a kernel call) keeps the context,
// and through it the clock, alive until it has left.
struct TEngineContext {
    TClockRef Clock;  // the system clock unless set
    std::shared_ptr<TSyncCaller> Sync;
    TProbeFactory Probes;
    TResourceTable* Table = nullptr;  // window thread
    // Repaints cells firstCol..lastCol of a row of the visible table (window thread).
    std::function<void(int row, int firstCol, int lastCol)> RepaintCells;
    ITrendWriter* TrendWriter = nullptr;  // window thread
    bool TrendEnabled = true;             // window thread
    bool ApplyOsPriority = true;          // setpriority() best effort
};

// A consistent copy of what the window reads on every sampling tick.
struct TResultsSnapshot {
    THistory WriteHistory{};
    THistory ReadHistory{};
    THistory PingHistory{};
    double WriteSpeed = 0;
    double ReadSpeed = 0;
    double PingSpeed = 0;
    double LevelReference = 0;
    // Hosts: every echo since the thread started (sent, lost, round-trip
    // histogram) and the round trip of the last valid reply, in µs
    // (negative before the first).
    TLinkQuality Echoes;
    double LastRoundTripUs = -1;
};

// Thrown at a safe point when the thread is being destroyed; unwinds the
// run routine so that RAII closes what the probe holds.
struct TThreadExit {};

class TPingThread : public std::enable_shared_from_this<TPingThread> {
public:
    static constexpr std::size_t TransferBufferSize = 650000;
    static constexpr std::size_t DataBufferSize = 64515;
    static constexpr std::uint32_t Unresolved = 0xFFFFFFFF;

    // Creates the thread in the suspended state (window thread).
    static std::shared_ptr<TPingThread> Create(int row, std::shared_ptr<TEngineContext> context);
    ~TPingThread();
    TPingThread(const TPingThread&) = delete;
    TPingThread& operator=(const TPingThread&) = delete;

    // ---- window thread -------------------------------------------------
    // Copies the thread's row of the settings grid; takes effect at the end
    // of the current cycle (sets Restart, clears Halted).
    void LoadSettings();
    // Resumes the thread when its interval has passed and it is not halted.
    void ActivateIfDue();
    // Raises / lowers the suspend count (never below zero). The thread parks
    // at its next safe point while the count is above zero.
    void Suspend();
    void Resume();
    void RequestStop();       // sets StopRequested
    void ClearStop();         // clears StopRequested and wakes a held thread
    void RequestTerminate();  // sets TerminateRequested and interrupts waits
    // Ends the thread: it leaves its next safe point or wait at once. Waits up
    // to graceMs for it to finish; a thread stuck in a kernel call is left
    // behind (it keeps this object alive) and finishes on its own.
    // Returns whether the thread finished within the grace period.
    bool Destroy(std::uint32_t graceMs = 300);
    // Destroy in two steps, so that many threads share one grace period:
    // BeginDestroy tells the thread to end; FinishDestroy waits for it
    // until the deadline and then joins it or leaves it behind.
    void BeginDestroy();
    bool FinishDestroy(std::chrono::steady_clock::time_point deadline);
    TResultsSnapshot Results() const;
    // True while the thread sits at a safe point because it is suspended.
    bool IsParked() const;
    bool WaitUntilParked(std::uint32_t ms) const;
    bool Finished() const;

    // Row of the resource in the grids (window thread; renumbered on delete).
    int Row;
    TDayValues DayWrite{}, DayRead{}, DayPing{};  // window thread (trend chart)
    TDayQuality DayQuality{};                     // window thread: hosts' tooltip line

    // ---- control flags (both threads) ---------------------------------
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> TerminateRequested{false};
    std::atomic<bool> Restart{false};
    std::atomic<bool> Halted{false};
    std::atomic<std::uint64_t> LastRunTick{0};
    std::atomic<std::int32_t> Interval{0};

    // ---- measuring thread ---------------------------------------------
    // Settings in force for the current pass.
    std::string Address;
    char Kind = 0;
    bool AutoSize = false;
    std::int32_t TestSize = 0;
    std::int32_t Timeout = 2500;

    double WriteSpeed = 0, ReadSpeed = 0, PingSpeed = 0;
    THistory WriteHistory{}, ReadHistory{}, PingHistory{};
    double LevelReference = 0;
    double UpperSum = 0;
    std::int32_t UpperCount = 1;
    double UpperBase = 0;
    std::string StatusText;

    TPriority CyclePriority = TPriority::Lowest;
    // 64-bit so that twenty long transfers cannot overflow the sum.
    std::int64_t TimeSum = 0;
    std::int32_t TimeCount = 0;

    // Name and running sums (Read/Write/Ping) until the next flush.
    TTrendRecord TrendRecord;
    std::int32_t TrendCount = 0;
    std::int32_t LastQuarter = 0;
    // Hosts: link quality of the running quarter hour, flushed with the
    // trend record.
    TLinkQuality QuarterQuality;

    // Probe state kept across restarts.
    std::int32_t WriteBlock = 1024, ReadBlock = 1024;
    // Echo request data, DataBufferSize bytes, made when a host pass
    // begins (the transfer probes keep buffers of their own).
    std::unique_ptr<std::uint8_t[]> DataBuffer;
    std::uint32_t IPAddress = Unresolved;            // network byte order
    std::string IPText;
    std::int32_t EchoStatus = 0;
    std::int32_t SocketError = 0;

    // ---- cycle skeleton helpers for the probes (measuring thread) -----
    const IClock& Clock() const { return *Ctx_->Clock; }
    // Priority lowest, LastRunTick := now; parks first when suspended.
    // False when new settings arrived meanwhile: the loop ends at once
    // instead of running one more cycle with the old ones.
    [[nodiscard]] bool BeginCycle();
    // Runs one timed transfer at CyclePriority, bracketed by the counter;
    // returns the time in microseconds (0 without a counter).
    template <class F>
    std::int64_t TimedTransfer(F&& transfer) {
        SetPriority(CyclePriority);
        const std::int64_t start = Clock().Counter();
        transfer();
        const std::int64_t end = Clock().Counter();
        SetPriority(TPriority::Lowest);
        return MeasuredMicroseconds(start, end);
    }
    std::int64_t MeasuredMicroseconds(std::int64_t start, std::int64_t end) const;
    // Shifts a sample into a history (published under the results lock).
    void AddSample(THistory& history, double sample);
    void UpdateLevelReference(double sample);
    // Hosts: one echo cycle, a valid reply's round trip in µs or nullopt
    // for a lost echo; counted for the quarter hour and the running totals.
    void AddEcho(std::optional<double> roundTripUs);
    // Display update through the synchronous call; false when it did not run.
    bool ShowResults();
    // Feeds one cycle's time into the priority rule of the current kind.
    void ApplyPriorityRule(std::int64_t timeUs);
    // Terminate handling and the quarter-hour trend flush.
    void QuarterHourCheck();
    // Suspends the thread until its next interval when the cycle was early.
    void Pace();
    // Adds the cycle's samples to the trend sums of the kind.
    void AddTrendSample();
    // The common end of every cycle: trend sums, quarter-hour check, pacing
    // and, for kinds "2" and "3", holding while stopped.
    void EndCycle();
    // Kinds "2" and "3": do not begin another cycle while StopRequested.
    void HoldWhileStopped();
    // Transfer failure: "I/O error.", Halted, and the thread suspends itself.
    void FailIo();
    // Parks while the suspend count is above zero; throws TThreadExit when
    // the thread is being destroyed.
    void SafePoint();
    void SuspendSelf();
    // Waits up to ms of real time, returning early when the thread is ended,
    // suspended or its settings change.
    void WaitFor(std::uint32_t ms);
    // Blocks until LoadSettings gives new settings (or the thread ends).
    void WaitForSettingsChange();
    // True when the run routine should leave: terminate or destroy.
    bool Ending() const { return TerminateRequested || Dying_; }
    // eventfd that becomes readable when the thread must stop waiting.
    int WakeFd() const { return WakeFd_; }
    void SetPriority(TPriority level);
    TPriority PriorityLevel() const { return Priority_.load(); }
    // Counts finished cycles (for tests and benchmarks).
    std::uint64_t CycleCount() const { return Cycles_.load(); }
    // Waits the thread has begun (parking, pacing, holding, waiting for new
    // settings), and whether it sits in one now: tests wait for these instead
    // of sleeping before they check that nothing else happened.
    std::uint64_t WaitCount() const { return Waits_.load(); }
    bool IsWaiting() const { return Waiting_.load(); }
    void CountCycle() { ++Cycles_; }

private:
    TPingThread(int row, std::shared_ptr<TEngineContext> context);
    void Start();
    void Run();
    void RunPass();
    void TakeSettings();
    void FlushTrend();  // window thread
    void Wake();

    struct TSettings {
        std::string Address;
        char Kind = 0;
        std::int32_t Interval = 0;
        bool AutoSize = false;
        std::int32_t TestSize = 0;
        std::int32_t Timeout = 2500;
        bool ResetAddress = false;
    };

    std::shared_ptr<TEngineContext> Ctx_;
    std::thread Thread_;

    mutable std::mutex M_;
    mutable std::condition_variable Cv_;
    int SuspendCount_ = 1;  // created suspended
    bool Parked_ = false;
    bool Finished_ = false;
    std::uint64_t SettingsGeneration_ = 0;
    TSettings Pending_;           // written by LoadSettings
    std::string LoadedAddress_;   // window side: address of the last LoadSettings
    std::atomic<bool> Dying_{false};

    mutable std::mutex ResultsM_;
    TLinkQuality EchoTotals_;  // under ResultsM_
    std::atomic<TPriority> Priority_{TPriority::Lowest};
    std::atomic<std::uint64_t> Cycles_{0};
    std::atomic<std::uint64_t> Waits_{0};
    std::atomic<bool> Waiting_{false};
    // Marks one wait of the thread (under M_) for WaitCount and IsWaiting.
    template <class Wait>
    void CountedWait(Wait&& wait) {
        ++Waits_;
        Waiting_ = true;
        wait();
        Waiting_ = false;
    }
    int WakeFd_ = -1;
    std::uint64_t SeenGeneration_ = 0;
    std::unique_ptr<TProbe> Probe_;
    char ProbeKind_ = 0;
};

// Parses a decimal integer as the settings grid stores it: leading blanks,
// an optional sign, the digits before the first other character; empty or
// no digits give 0. Saturates at the 32-bit range.
std::int32_t ParseCellInt(const std::string& text);

}  // namespace tarvik
