// The window-side operations on all measuring threads: Start, Stop, the 50 ms
// activation, close, and the removal of one thread. Every wait for the
// threads releases the synchronous call first, so no wait can deadlock with
// a thread that is blocked in a call onto the window thread.
#pragma once

#include <cstdint>
#include <memory>

namespace tarvik {

class IClock;
class TPingThread;
class TResourceTable;
class TSyncCaller;

struct TMeasuringDelays {
    std::uint32_t StopWaitMs = 1000;     // Stop: time the threads get before suspension
    std::uint32_t CloseWaitMs = 1000;    // close: time after TerminateRequested
    std::uint32_t DestroyGraceMs = 300;  // before a stuck thread is left behind (shared at close)
    std::uint32_t DeleteWaitMs = 500;    // delete: after suspending all threads
};

class TMeasuringControl {
public:
    TMeasuringControl(TResourceTable& table, std::shared_ptr<TSyncCaller> sync, const IClock& clock,
                      TMeasuringDelays delays = {});

    // Clear StopRequested, LoadSettings, resume twice, for every row with a thread.
    void Start();
    // StopRequested on every thread, wait, suspend every thread.
    void Stop();
    // The activation tick: ActivateIfDue on every thread.
    void Activate();
    // Program close: TerminateRequested, wait, destroy and detach every thread.
    // The synchronous call stays released afterwards.
    void Close();
    // Removes one resource's thread (row deletion): StopRequested on it, wait,
    // suspend all, wait, destroy it and detach it from its row.
    void DestroyRow(int row);

    const TMeasuringDelays& Delays() const { return Delays_; }

private:
    template <class F>
    void ForEachThread(F&& f);
    void WaitReleased(std::uint32_t ms);

    TResourceTable& Table_;
    std::shared_ptr<TSyncCaller> Sync_;
    const IClock& Clock_;
    TMeasuringDelays Delays_;
};

}  // namespace tarvik
