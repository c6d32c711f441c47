// Byte strings as the world file and the log write them: two hexadecimal digits per
// byte, separated by blanks ("00 ff 01").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::sim {

using TBytes = std::vector<std::uint8_t>;

std::string ToHex(std::span<const std::uint8_t> bytes);

// Blanks, commas and an optional "0x" per byte are accepted; anything else (an odd
// digit count, a stray character) gives nullopt.
std::optional<TBytes> ParseHex(std::string_view text);

}  // namespace quorvel::sim
