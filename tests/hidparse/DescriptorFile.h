// Report descriptors kept as text fixtures: one item per line, bytes as 0x.. numbers,
// comments in /* */ or after //.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::hidparse::test {

std::filesystem::path FixtureDir(const std::string& group);  // "descriptors", "malformed"

// The bytes of a fixture; fails the calling test (and returns empty) when the file is
// missing or holds anything but bytes and comments.
std::vector<uint8_t> LoadDescriptor(const std::filesystem::path& file);

// The .desc files of a fixture folder, sorted by name.
std::vector<std::string> FixtureNames(const std::string& group);

}  // namespace quorvel::hidparse::test
