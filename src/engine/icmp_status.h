// Texts shown in a host resource's speed cell for echo failures and for host
// look-up failures. A code without a text gives an empty text, which shows
// nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvik {

std::string_view IcmpStatusText(std::int32_t code);
std::string_view SocketErrorText(std::int32_t code);

}  // namespace tarvik
