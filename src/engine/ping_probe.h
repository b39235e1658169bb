// The ping-speed probe of host resources: looks the host up, sends one echo
// request per cycle, turns the exchange time into a speed and adapts the
// echo data size.
#pragma once

#include <memory>

#include "engine/ping_thread.h"
#include "platform/host_lookup.h"
#include "platform/icmp_socket.h"

namespace tarvik {

// What the probe needs from the system; tests put fakes in.
struct TPingProbeServices {
    TEchoSocketOpener OpenSocket = OpenEchoSocket;
    THostResolver Resolve = LookUpHostName;
};

// The largest echo data size the probe sends.
constexpr std::int32_t MaxPingBlock = 64512;

// Makes the probe for one host resource's thread. Its echo socket is opened
// when a cycle loop begins and released by Close.
std::unique_ptr<TProbe> MakePingProbe(TPingProbeServices services = {});

}  // namespace tarvik
