// One echo exchange per cycle. The exchange is timed with the high-resolution
// counter; exchanges over 100 ms use the reply's round-trip time instead. The
// speed counts the data twice (there and back) in whole kilobytes.
#include "engine/ping_probe.h"

#include "engine/xorshift.h"

#include <algorithm>
#include <cstring>

#include "engine/icmp_status.h"

namespace tarvik {
namespace {

// Byte 8 and "IP speed": the request's first bytes, which a reply must carry
// back to count.
constexpr std::uint8_t Marker[9] = {8, 'I', 'P', ' ', 's', 'p', 'e', 'e', 'd'};
// Step of the wait between two look-up attempts.
constexpr std::uint32_t LookupWaitStepMs = 50;

bool CarriesMarker(std::span<const std::uint8_t> data) {
    return data.size() >= sizeof Marker && std::memcmp(data.data(), Marker, sizeof Marker) == 0;
}

class TPingProbe final : public TProbe {
  public:
    explicit TPingProbe(TPingProbeServices services) : S_(std::move(services)) {}

    void RunLoop(TPingThread& t) override;
    void Close(TPingThread&) override { Socket_.reset(); }

  private:
    bool LookUpHost(TPingThread& t);
    void WaitOutInterval(TPingThread& t);
    void FillRequest(TPingThread& t, std::size_t n);
    void Cycle(TPingThread& t);

    TPingProbeServices S_;
    std::unique_ptr<IEchoSocket> Socket_;
    // Round-trip time of the last valid reply, in ms.
    std::uint32_t RoundTripMs_ = 0;
    std::uint64_t Random_ = 0x9E3779B97F4A7C15ULL;
};

bool TPingProbe::LookUpHost(TPingThread& t) {
    t.StatusText = "Get address...";
    t.ShowResults();
    t.SocketError = 0;
    if (const auto dotted = ParseDottedAddress(t.Address)) {
        t.IPAddress = *dotted;  // IPText keeps what it had
    } else {
        const THostAddress r =
            S_.Resolve ? S_.Resolve(t.Address) : THostAddress{lookup_error::NoRecovery, 0};
        if (r.Error == 0) {
            t.IPAddress = r.Address;
            t.IPText = DottedText(r.Address);
            t.StatusText.clear();
        } else {
            t.SocketError = r.Error;
            t.StatusText = SocketErrorText(r.Error);
        }
    }
    // 255.255.255.255 is also the "not resolved" mark and cannot be pinged;
    // say so instead of retrying silently for ever.
    if (t.SocketError == 0 && t.IPAddress == TPingThread::Unresolved) {
        constexpr std::int32_t AddressNotAvailable = 10049;
        t.SocketError = AddressNotAvailable;
        t.StatusText = SocketErrorText(AddressNotAvailable);
    }
    return t.SocketError == 0;
}

void TPingProbe::WaitOutInterval(TPingThread& t) {
    // Until more than Interval ms have passed since LastRunTick; new settings
    // or the end of the thread cut the wait short, a suspension parks it.
    while (!t.Ending() && !t.Restart) {
        const auto elapsed = static_cast<std::int64_t>(t.Clock().TickMs() - t.LastRunTick.load());
        if (elapsed > t.Interval.load()) return;
        t.SafePoint();
        t.WaitFor(LookupWaitStepMs);
    }
}

void TPingProbe::FillRequest(TPingThread& t, std::size_t n) {
    std::uint8_t* p = t.DataBuffer.get();
    for (std::size_t i = 0; i < n; i += 8) {
        const std::uint64_t v = NextXorShift64Star(Random_);
        for (std::size_t k = 0; k < 8 && i + k < n; ++k)
            p[i + k] = static_cast<std::uint8_t>(((v >> (8 * k)) & 0xFF) % 255);
    }
    std::memcpy(p, Marker, sizeof Marker);  // the buffer always has room for it
}

void TPingProbe::Cycle(TPingThread& t) {
    // A size carried over from another kind, or grown past the limit from an
    // odd start, is brought into range before it is sent.
    t.ReadBlock = std::clamp(t.ReadBlock, 0, MaxPingBlock);
    const auto n = static_cast<std::size_t>(t.ReadBlock);
    FillRequest(t, n);
    const std::int32_t timeoutMs = std::max(t.Timeout, 0);

    TEchoResult reply;
    reply.Status = echo_status::SocketUnusable;
    // Stale packets are thrown away before the counter starts: the timed
    // section holds the echo exchange alone.
    if (Socket_) Socket_->DiscardQueued();
    std::int64_t us = t.TimedTransfer([&] {
        if (Socket_)
            reply = Socket_->SendEcho(t.IPAddress, {t.DataBuffer.get(), n},
                                      static_cast<std::uint32_t>(timeoutMs), t.WakeFd());
    });
    std::int32_t status = reply.Status;
    if (status == echo_status::Success && !CarriesMarker(reply.Data))
        status = echo_status::HardwareError;
    if (status == echo_status::Success) RoundTripMs_ = reply.RoundTripMs;
    // Link quality: the socket's own round trip (µs resolution), else the
    // exchange time; any failure is a lost echo.
    if (status == echo_status::Success) {
        const double rttUs = reply.RoundTripNs > 0 ? static_cast<double>(reply.RoundTripNs) / 1000.0
                             : us > 0              ? static_cast<double>(us)
                                                   : static_cast<double>(reply.RoundTripMs) * 1000.0;
        t.AddEcho(rttUs);
    } else {
        t.AddEcho(std::nullopt);
    }
    t.EchoStatus = status;
    if (status == echo_status::SocketUnusable) {
        // The restarted loop opens a fresh socket.
        t.Restart = true;
        Socket_.reset();
    }
    if (status != echo_status::Success) t.StatusText = IcmpStatusText(status);

    const std::int64_t roundTripUs = static_cast<std::int64_t>(RoundTripMs_) * 1000;
    if (us == 0 || status != echo_status::Success) {
        t.PingSpeed = 0;
        us = static_cast<std::int64_t>(timeoutMs) * 1000;
    } else {
        if (us > 100000) us = roundTripUs;
        const std::int64_t kilobytes = t.ReadBlock / 1024;
        t.PingSpeed =
            us != 0 ? static_cast<double>(kilobytes * 2000000) / static_cast<double>(us) : 0;
    }
    t.AddSample(t.PingHistory, t.PingSpeed);
    t.UpdateLevelReference(t.PingSpeed);
    t.ShowResults();

    if (t.AutoSize) {
        if (us < 10000 && t.ReadBlock < MaxPingBlock) t.ReadBlock += 1024;
        if (us > 40000 && t.ReadBlock > 1024) t.ReadBlock -= 1024;
    }
    t.ApplyPriorityRule(us < 10000 ? us : roundTripUs);
}

void TPingProbe::RunLoop(TPingThread& t) {
    t.SetPriority(TPriority::Lowest);
    if (t.IPAddress == TPingThread::Unresolved) {
        LookUpHost(t);
        t.CyclePriority = TPriority::Lowest;
    }
    if (!t.AutoSize) t.ReadBlock = t.TestSize;
    if (t.IPAddress == TPingThread::Unresolved) {
        // No samples until the host is found; the next pass tries again.
        t.ShowResults();
        t.LastRunTick = t.Clock().TickMs();
        WaitOutInterval(t);
        return;
    }
    if (!Socket_ && S_.OpenSocket) Socket_ = S_.OpenSocket();
    do {
        if (!t.BeginCycle()) break;
        Cycle(t);
        t.EndCycle();
    } while (!t.Restart);
}

}  // namespace

std::unique_ptr<TProbe> MakePingProbe(TPingProbeServices services) {
    return std::make_unique<TPingProbe>(std::move(services));
}

}  // namespace tarvik
