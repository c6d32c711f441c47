// Expected outputs kept as data files beside the tests.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvel::app::test {

// The files are written with LF line ends; a Windows run expects CR LF. "@VERSION@"
// stands for the project's version, which the help prints.
inline std::string ReadFixture(std::string_view name) {
  const std::string path = std::string(QUORVEL_APP_TEST_DATA) + "/" + std::string(name);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) {
    throw std::runtime_error("missing fixture " + path);
  }
  std::string text;
  char buffer[4096];
  while (const std::size_t got = std::fread(buffer, 1, sizeof(buffer), file.get())) {
    text.append(buffer, got);
  }
  constexpr std::string_view kVersionMark = "@VERSION@";
  for (auto at = text.find(kVersionMark); at != std::string::npos;
       at = text.find(kVersionMark, at)) {
    text.replace(at, kVersionMark.size(), QUORVEL_VERSION);
  }
  return text;
}

inline std::string WithCrLf(std::string_view lfText) {
  std::string out;
  for (const char c : lfText) {
    if (c == '\n') {
      out += '\r';
    }
    out += c;
  }
  return out;
}

// Expectations are written with LF; the tool ends lines in CR LF on Windows.
inline std::string Native(const std::string& lfText) {
#ifdef _WIN32
  return WithCrLf(lfText);
#else
  return lfText;
#endif
}

}  // namespace quorvel::app::test
