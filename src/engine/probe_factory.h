// The program's probes by resource kind: the transfer probes for drive
// directories ("1") and read-only files ("2"), the ping probe for hosts
// ("3") while ICMP is available.
#pragma once

#include "engine/ping_thread.h"

namespace tarvik {

TProbeFactory MakeProgramProbes(bool icmpAvailable);

}  // namespace tarvik
