// Echo layers for probe tests: a scripted fake whose exchanges take fake
// counter time, and a recorder that wraps a real socket. Both log every
// exchange in a shared, locked log the test thread can read.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/icmp_socket.h"
#include "support/fake_clock.h"

namespace tarvik::test {

struct TEchoLog {
    struct TEntry {
        std::uint32_t Address;
        std::size_t Size;
        std::uint32_t TimeoutMs;
        std::int32_t Status;
    };
    mutable std::mutex M;
    std::vector<TEntry> Entries;
    int Opened = 0;

    void Add(const TEntry& e) {
        std::lock_guard lock(M);
        Entries.push_back(e);
    }
    std::vector<TEntry> Copy() const {
        std::lock_guard lock(M);
        return Entries;
    }
    std::size_t Count() const {
        std::lock_guard lock(M);
        return Entries.size();
    }
};

// What one fake exchange does.
struct TEchoStep {
    std::int32_t Status = 0;
    std::uint32_t RoundTripMs = 1;
    std::int64_t RoundTripNs = 0;  // the socket's unrounded round trip; 0: none
    std::int64_t TakesUs = 1000;  // counter time the exchange takes
    bool Mangle = false;          // the echoed data loses the marker
    bool BlockUntilWake = false;  // waits for the wake descriptor (no reply)
};

struct TFakeEchoScript {
    // The step of the call-th exchange (from 0) carrying size bytes.
    std::function<TEchoStep(std::size_t call, std::size_t size)> Next =
        [](std::size_t, std::size_t) { return TEchoStep{}; };
    TFakeClock* Clock = nullptr;
    std::atomic<int> Entered{0};      // exchanges begun
    std::atomic<int> Discards{0};     // DiscardQueued calls
    std::int64_t DiscardTakesUs = 0;  // counter time each discard takes
    std::shared_ptr<TEchoLog> Log = std::make_shared<TEchoLog>();
};

class TFakeEchoSocket final : public IEchoSocket {
  public:
    explicit TFakeEchoSocket(std::shared_ptr<TFakeEchoScript> script) : S_(std::move(script)) {}

    int DiscardQueued() override {
        ++S_->Discards;
        if (S_->Clock) S_->Clock->AdvanceNs(S_->DiscardTakesUs * 1000);
        return 0;
    }

    TEchoResult SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                         std::uint32_t timeoutMs, int wakeFd) override {
        const TEchoStep step = S_->Next(S_->Log->Count(), data.size());
        ++S_->Entered;
        if (step.BlockUntilWake) {
            pollfd p{wakeFd, POLLIN, 0};
            while (::poll(&p, 1, -1) < 0) {
            }
        }
        if (S_->Clock) S_->Clock->AdvanceNs(step.TakesUs * 1000);
        S_->Log->Add({address, data.size(), timeoutMs, step.Status});
        Echo_.assign(data.begin(), data.end());
        if (step.Mangle && Echo_.size() > 1) Echo_[1] ^= 0x55;
        TEchoResult r;
        r.Status = step.Status;
        r.RoundTripMs = step.RoundTripMs;
        r.RoundTripNs = step.RoundTripNs;
        if (step.Status == 0) r.Data = Echo_;
        return r;
    }

  private:
    std::shared_ptr<TFakeEchoScript> S_;
    std::vector<std::uint8_t> Echo_;
};

inline TEchoSocketOpener FakeEchoOpener(std::shared_ptr<TFakeEchoScript> script) {
    return [script]() -> std::unique_ptr<IEchoSocket> {
        {
            std::lock_guard lock(script->Log->M);
            ++script->Log->Opened;
        }
        return std::make_unique<TFakeEchoSocket>(script);
    };
}

// Wraps a real socket and logs its exchanges.
class TRecordingEchoSocket final : public IEchoSocket {
  public:
    TRecordingEchoSocket(std::unique_ptr<IEchoSocket> inner, std::shared_ptr<TEchoLog> log)
        : Inner_(std::move(inner)), Log_(std::move(log)) {}

    int DiscardQueued() override { return Inner_->DiscardQueued(); }

    TEchoResult SendEcho(std::uint32_t address, std::span<const std::uint8_t> data,
                         std::uint32_t timeoutMs, int wakeFd) override {
        const TEchoResult r = Inner_->SendEcho(address, data, timeoutMs, wakeFd);
        Log_->Add({address, data.size(), timeoutMs, r.Status});
        return r;
    }

  private:
    std::unique_ptr<IEchoSocket> Inner_;
    std::shared_ptr<TEchoLog> Log_;
};

inline TEchoSocketOpener RecordingOpener(TEchoSocketOpener open, std::shared_ptr<TEchoLog> log) {
    return [open = std::move(open), log]() -> std::unique_ptr<IEchoSocket> {
        auto inner = open();
        if (!inner) return nullptr;
        {
            std::lock_guard lock(log->M);
            ++log->Opened;
        }
        return std::make_unique<TRecordingEchoSocket>(std::move(inner), log);
    };
}

}  // namespace tarvik::test
