#include "tests/hidparse/DescriptorFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace quorvel::hidparse::test {

std::filesystem::path FixtureDir(const std::string& group) {
  return std::filesystem::path(QUORVEL_HIDPARSE_FIXTURES) / group;
}

std::vector<uint8_t> LoadDescriptor(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) {
    ADD_FAILURE() << "fixture missing: " << file;
    return {};
  }
  std::stringstream whole;
  whole << in.rdbuf();
  std::string text = whole.str();

  // Blank out the comments, then every remaining token must be a byte.
  for (std::size_t at = text.find("/*"); at != std::string::npos; at = text.find("/*", at)) {
    const std::size_t end = text.find("*/", at + 2);
    if (end == std::string::npos) {
      ADD_FAILURE() << file << ": unterminated comment";
      return {};
    }
    std::fill(text.begin() + static_cast<std::ptrdiff_t>(at),
              text.begin() + static_cast<std::ptrdiff_t>(end + 2), ' ');
  }
  std::vector<uint8_t> bytes;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find("//"));
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream tokens(line);
    std::string token;
    while (tokens >> token) {
      const bool hex = token.size() == 4 && token[0] == '0' &&
                       (token[1] == 'x' || token[1] == 'X') &&
                       std::isxdigit(static_cast<unsigned char>(token[2])) &&
                       std::isxdigit(static_cast<unsigned char>(token[3]));
      if (!hex) {
        ADD_FAILURE() << file << ": not a byte: " << token;
        return {};
      }
      bytes.push_back(static_cast<uint8_t>(std::stoul(token.substr(2), nullptr, 16)));
    }
  }
  return bytes;
}

std::vector<std::string> FixtureNames(const std::string& group) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FixtureDir(group))) {
    if (entry.path().extension() == ".desc") {
      names.push_back(entry.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quorvel::hidparse::test
