// Runs a program to its end and keeps what it wrote to standard output.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::app::test {

struct ProcessResult {
  int exitStatus = -1;
  std::string output;  // standard output, byte for byte
  std::string errors;  // standard error, byte for byte
};

// Variables set for the program on top of this process's environment; an empty value
// removes the variable.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Arguments are UTF-8. On POSIX argument0 is what the program sees as its own
// name; on Windows the program finds its own path, so argument0 is not passed.
// Throws std::runtime_error when the program cannot be started.
ProcessResult RunProcess(const std::filesystem::path& program, const std::string& argument0,
                         const std::vector<std::string>& arguments,
                         const Environment& environment = {});

// A program built into the same folder as the running test.
std::filesystem::path BesideThisTest(const std::string& fileName);

}  // namespace quorvel::app::test
