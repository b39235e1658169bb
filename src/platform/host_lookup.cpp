// getaddrinfo with AF_INET and SOCK_RAW gives one entry per address, so the
// first entry is the first address of the host.
#include "platform/host_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace tarvik {

std::optional<std::uint32_t> ParseDottedAddress(const std::string& text) {
    in_addr a{};
    if (::inet_aton(text.c_str(), &a) == 0) return std::nullopt;
    return a.s_addr;
}

std::string DottedText(std::uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

std::int32_t LookupErrorCode(int gaiError) {
    switch (gaiError) {
        case 0:
            return 0;
        case EAI_NONAME:
            return lookup_error::HostNotFound;
        case EAI_AGAIN:
            return lookup_error::TryAgain;
        case EAI_FAIL:
            return lookup_error::NoRecovery;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return lookup_error::NoData;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return lookup_error::NoData;
#endif
        case EAI_MEMORY:
            return lookup_error::NoBufferSpace;
        default:
            return lookup_error::NoRecovery;
    }
}

THostAddress LookUpHostName(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo* raw = nullptr;
    THostAddress r;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &raw);
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(raw, &::freeaddrinfo);
    if (rc != 0) {
        r.Error = LookupErrorCode(rc);
        return r;
    }
    for (const addrinfo* p = list.get(); p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr) {
            r.Address = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
            return r;
        }
    }
    r.Error = lookup_error::NoData;
    return r;
}

}  // namespace tarvik
