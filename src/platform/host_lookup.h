// Host name look-up for the ping probe: dotted IPv4 text as inet_aton reads
// it, names through getaddrinfo with its errors mapped onto the program's
// socket error codes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarvik {

// Socket error codes of failed look-ups (the program's own codes).
namespace lookup_error {
constexpr std::int32_t NoBufferSpace = 10055;
constexpr std::int32_t HostNotFound = 11001;
constexpr std::int32_t TryAgain = 11002;
constexpr std::int32_t NoRecovery = 11003;
constexpr std::int32_t NoData = 11004;
}  // namespace lookup_error

struct THostAddress {
    std::int32_t Error = 0;     // 0 on success
    std::uint32_t Address = 0;  // IPv4, network byte order
};

// The address in text that inet_aton accepts ("10.1.2.3", "10.258", "0x7f.1").
std::optional<std::uint32_t> ParseDottedAddress(const std::string& text);
// Dotted text of an address in network byte order.
std::string DottedText(std::uint32_t address);
// Looks a host name up (blocking); the first IPv4 address of the result.
THostAddress LookUpHostName(const std::string& name);
// getaddrinfo's error to the program's code.
std::int32_t LookupErrorCode(int gaiError);

using THostResolver = std::function<THostAddress(const std::string& name)>;

}  // namespace tarvik
