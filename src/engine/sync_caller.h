// The synchronous call from a measuring thread onto the window thread: the
// caller blocks until the window thread has run the routine. The window
// releases the gate whenever it waits for measuring threads (Stop, delete,
// close): pending and later calls then return without running, so such a
// wait can never deadlock with a thread that waits for the window.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvik {

class TSyncCaller {
public:
    // notify is called (from the measuring thread) after a call was queued;
    // the window side uses it to schedule RunPending on the window thread.
    explicit TSyncCaller(std::function<void()> notify = nullptr);
    ~TSyncCaller();
    TSyncCaller(const TSyncCaller&) = delete;
    TSyncCaller& operator=(const TSyncCaller&) = delete;

    // Runs fn on the window thread and waits for it. Returns false when the
    // gate is released (fn did not run). On the window thread itself fn runs
    // at once.
    bool Synchronize(const std::function<void()>& fn);

    // Window thread: runs the calls queued so far (not ones queued meanwhile,
    // so that busy threads cannot keep the window here).
    void RunPending();

    // Window thread: turns pending and later calls away / lets them in again.
    void Release();
    void Reopen();
    bool Released() const;

    // The thread that counts as the window thread (the constructing one).
    void SetWindowThread(std::thread::id id);

private:
    struct TCall {
        const std::function<void()>* Fn;
        bool Done = false;
        bool Cancelled = false;
        std::condition_variable Cv;  // one per call: no herd of waiters
    };
    std::function<void()> Notify_;
    mutable std::mutex M_;
    std::deque<std::shared_ptr<TCall>> Queue_;
    bool Released_ = false;
    std::thread::id Window_;
};

}  // namespace tarvik
