// Every ICMP packet of the machine reaches a raw echo socket: matching must
// never read outside the packet, whatever arrives.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/icmp_socket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> packet(data, size);
    const std::uint32_t address = 0x0100007F;  // 127.0.0.1
    for (const auto& m : {tarvik::MatchRawPacket(packet, address, 0x3412, 0x0100),
                          tarvik::MatchDatagramPacket(packet, address, address, 0x0100)}) {
        // The echoed data of a reply lies inside the packet.
        if (!m.Data.empty() &&
            (m.Data.data() < data || m.Data.data() + m.Data.size() > data + size))
            __builtin_trap();
    }
    return 0;
}
