// UTF-8 helpers for texts that files store with a byte limit.
#pragma once

#include <string>

namespace tarvik {

// The longest prefix of text that is at most maxBytes long and does not end
// inside a UTF-8 character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

}  // namespace tarvik
