#include "engine/measuring_control.h"

#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/sync_caller.h"
#include "platform/clock.h"

namespace tarvik {

TMeasuringControl::TMeasuringControl(TResourceTable& table, std::shared_ptr<TSyncCaller> sync,
                                     const IClock& clock, TMeasuringDelays delays)
    : Table_(table), Sync_(std::move(sync)), Clock_(clock), Delays_(delays) {}

template <class F>
void TMeasuringControl::ForEachThread(F&& f) {
    for (int r = 1; r < Table_.RowCount(); ++r)
        if (const auto& t = Table_.Thread(r)) f(*t);
}

void TMeasuringControl::WaitReleased(std::uint32_t ms) {
    // Threads blocked in a call onto the window return at once; the window
    // does not process its own events during the wait.
    if (Sync_) Sync_->Release();
    Clock_.SleepMs(ms);
}

void TMeasuringControl::Start() {
    ForEachThread([](TPingThread& t) {
        t.ClearStop();
        t.LoadSettings();
        // A thread can carry two suspensions: its own and one from Stop.
        t.Resume();
        t.Resume();
    });
}

void TMeasuringControl::Stop() {
    ForEachThread([](TPingThread& t) { t.RequestStop(); });
    WaitReleased(Delays_.StopWaitMs);
    ForEachThread([](TPingThread& t) { t.Suspend(); });
    if (Sync_) Sync_->Reopen();
}

void TMeasuringControl::Activate() {
    ForEachThread([](TPingThread& t) { t.ActivateIfDue(); });
}

void TMeasuringControl::Close() {
    ForEachThread([](TPingThread& t) { t.RequestTerminate(); });
    WaitReleased(Delays_.CloseWaitMs);
    // Every thread is told to end first and all share one grace period, so
    // any number of threads stuck in kernel calls adds at most one grace.
    ForEachThread([](TPingThread& t) { t.BeginDestroy(); });
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Delays_.DestroyGraceMs);
    for (int r = 1; r < Table_.RowCount(); ++r) {
        if (const auto t = Table_.Thread(r)) {
            t->FinishDestroy(deadline);
            Table_.SetThread(r, nullptr);
        }
    }
}

void TMeasuringControl::DestroyRow(int row) {
    const auto victim = Table_.Thread(row);
    if (!victim) return;
    victim->RequestStop();
    WaitReleased(Delays_.StopWaitMs);
    ForEachThread([](TPingThread& t) { t.Suspend(); });
    Clock_.SleepMs(Delays_.DeleteWaitMs);
    victim->Destroy(Delays_.DestroyGraceMs);
    Table_.SetThread(row, nullptr);
    if (Sync_) Sync_->Reopen();
}

}  // namespace tarvik
