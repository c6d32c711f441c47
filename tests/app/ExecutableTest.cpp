// The built tool run as a user runs it: roads, messages, line ends, exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tests/app/Fixture.h"
#include "tests/app/ProcessRunner.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace quorvel::app {
namespace {

using test::Native;
using test::ReadFixture;
using test::RunProcess;

test::ProcessResult RunTool(const std::vector<std::string>& arguments,
                            const std::string& argument0 = "/opt/relays/Quorvel") {
  // An empty simulated world, whatever world an earlier test of this process named.
  return RunProcess(test::BesideThisTest(QUORVEL_EXE_FILE), argument0, arguments,
                    {{"QUORVEL_SIM_WORLD", ""}});
}

std::string Joined(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& arg : arguments) {
    joined += "[" + arg + "] ";
  }
  return joined;
}

TEST(Executable, ShowsTheHelpAndTheEmptyListing) {
  const std::string expected =
      Native(ReadFixture("help-Quorvel.txt") + ReadFixture("listing-none.txt"));
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {}, {"-h"}, {"/?"}, {"x/?y", "ON=1"}, {"-help", "ID=2"}}) {
    SCOPED_TRACE(Joined(arguments));
    const test::ProcessResult result = RunTool(arguments);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(result.errors, "");
  }
}

#ifndef _WIN32
TEST(Executable, NamesItselfAfterArgumentZero) {
  const test::ProcessResult result = RunTool({}, "./my.relays.exe");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, ReadFixture("help-my.relays.txt") + ReadFixture("listing-none.txt"));
}
#endif

struct RelayRoadCase {
  std::vector<std::string> arguments;
  int exitStatus;
  std::string output;
};

TEST(Executable, EndsTheRelayRoadInTheRightMessageAndStatus) {
  const std::string boardCount =
      "\nERROR: ID supplied is greater than the number of relay boards currently available!\n";
  const std::string lone = "\n    ERROR: The argument \"ID=x\" cannot be used on its own!\n";
  const std::string belowOne = "\nERROR: ID supplied must be 1 or greater!\n";
  const auto invalid = [](const std::string& arg) {
    return "\n    ERROR: The argument \"" + arg + "\" is not valid!\n";
  };
  const RelayRoadCase cases[] = {
      {{"-H"}, 1, invalid("-H")},
      {{"ON=1"}, 2, boardCount},
      {{"id=1", "on=1,2"}, 2, boardCount},
      {{"ON=1, 3"}, 2, boardCount},
      {{"ON=1", "-h"}, 1, invalid("-h")},
      {{"ID=2"}, 1, lone},
      {{"ID=0", "ON=1"}, 1, belowOne},
      {{"ID=-2", "ON=1"}, 1, belowOne},
      {{"ID=X", "ON=1"}, 1, invalid("ID=X")},
      {{"N=300"}, 1, invalid("N=300")},
      {{"B=2"}, 1, invalid("B=2")},
      // Text beyond ASCII and characters a command line must quote arrive intact.
      {{"N=\xC3\xA9"}, 1, invalid("N=\xC3\xA9")},
      {{"ID=\xF0\x9F\x94\x8C", "ON=1"}, 1, invalid("ID=\xF0\x9F\x94\x8C")},
      {{"B=\"1\""}, 1, invalid("B=\"1\"")},
      {{"N=1 \\"}, 1, invalid("N=1 \\")},
      {{"ON=1", "N="}, 1, invalid("N=")},
  };
  for (const RelayRoadCase& c : cases) {
    SCOPED_TRACE(Joined(c.arguments));
    const test::ProcessResult result = RunTool(c.arguments);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.output, Native(c.output));
    EXPECT_EQ(result.errors, "");
  }
}

#ifndef _WIN32
// A copy of the tool in a folder without the platform's modules (only the kernel functions
// it needs to start): it says which module could not be loaded and why, and each road ends
// as it does without a board.
TEST(Executable, SaysWhyThePlatformModulesCannotBeLoaded) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("quorvel-lone-tool-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::copy_file(test::BesideThisTest(QUORVEL_EXE_FILE), folder / QUORVEL_EXE_FILE);
  fs::create_symlink(test::BesideThisTest("libquorvel-posix.so"), folder / "libquorvel-posix.so");
  const std::string boardCount =
      "\nERROR: ID supplied is greater than the number of relay boards currently available!\n";
  const std::string help = ReadFixture("help-Quorvel.txt") + ReadFixture("listing-none.txt");
  const std::string said = "ERROR: Cannot load the platform module libquorvel-setupapi.so: ";
  for (const auto& [arguments, status, output] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
           {{"ON=1"}, 2, boardCount}, {{"-h"}, 0, help}}) {
    SCOPED_TRACE(Joined(arguments));
    const test::ProcessResult result = RunProcess(folder / QUORVEL_EXE_FILE, "/opt/relays/Quorvel",
                                                  arguments, {{"LD_LIBRARY_PATH", ""}});
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.output, output);
    // One line: the module and the loader's reason.
    EXPECT_EQ(result.errors.rfind(said, 0), 0U) << result.errors;
    EXPECT_NE(result.errors.find("libquorvel-setupapi.so: cannot open shared object file"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(result.errors.find('\n'), result.errors.size() - 1) << result.errors;
  }
  fs::remove_all(folder);
}
#endif

}  // namespace
}  // namespace quorvel::app
