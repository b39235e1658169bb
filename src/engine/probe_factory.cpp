#include "engine/probe_factory.h"

#include "engine/ping_probe.h"
#include "engine/transfer_probe.h"

namespace tarvik {

TProbeFactory MakeProgramProbes(bool icmpAvailable) {
    return [icmpAvailable](char kind, TPingThread&) -> std::unique_ptr<TProbe> {
        switch (kind) {
            case '1':
            case '2':
                return MakeTransferProbe(kind);
            case '3':
                // Without ICMP a host keeps showing "Testing...".
                return icmpAvailable ? MakePingProbe() : nullptr;
            default:
                return nullptr;
        }
    };
}

}  // namespace tarvik
