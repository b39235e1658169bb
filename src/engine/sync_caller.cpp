#include "engine/sync_caller.h"

namespace tarvik {

TSyncCaller::TSyncCaller(std::function<void()> notify)
    : Notify_(std::move(notify)), Window_(std::this_thread::get_id()) {}

TSyncCaller::~TSyncCaller() { Release(); }

void TSyncCaller::SetWindowThread(std::thread::id id) {
    std::lock_guard lock(M_);
    Window_ = id;
}

bool TSyncCaller::Synchronize(const std::function<void()>& fn) {
    std::unique_lock lock(M_);
    if (std::this_thread::get_id() == Window_) {
        lock.unlock();
        fn();
        return true;
    }
    if (Released_) return false;
    auto call = std::make_shared<TCall>();
    call->Fn = &fn;
    Queue_.push_back(call);
    lock.unlock();
    if (Notify_) Notify_();
    lock.lock();
    call->Cv.wait(lock, [&] { return call->Done || call->Cancelled; });
    return call->Done;
}

void TSyncCaller::RunPending() {
    std::size_t budget;
    {
        std::lock_guard lock(M_);
        budget = Queue_.size();
    }
    for (; budget > 0; --budget) {
        std::shared_ptr<TCall> call;
        {
            std::lock_guard lock(M_);
            if (Queue_.empty() || Released_) return;
            call = Queue_.front();
            Queue_.pop_front();
        }
        // The caller is blocked in Synchronize until Done, so Fn stays valid.
        (*call->Fn)();
        std::lock_guard lock(M_);
        call->Done = true;
        call->Cv.notify_one();
    }
}

void TSyncCaller::Release() {
    std::lock_guard lock(M_);
    Released_ = true;
    for (auto& c : Queue_) {
        c->Cancelled = true;
        c->Cv.notify_one();
    }
    Queue_.clear();
}

void TSyncCaller::Reopen() {
    std::lock_guard lock(M_);
    Released_ = false;
}

bool TSyncCaller::Released() const {
    std::lock_guard lock(M_);
    return Released_;
}

}  // namespace tarvik
