#include "bridge/BridgeOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace quorvel::bridge {
namespace {

TOptionsParse Parse(std::vector<std::string> arguments) {
  return ParseOptions(arguments);
}

TEST(BridgeOptions, DefaultsAndValues) {
  const TOptionsParse defaults = Parse({});
  ASSERT_TRUE(defaults.Options);
  EXPECT_EQ(defaults.Options->Host, "localhost");
  EXPECT_EQ(defaults.Options->Port, 1883);
  EXPECT_EQ(defaults.Options->Prefix, "quorvel");
  EXPECT_EQ(defaults.Options->IntervalMs, 5000);
  EXPECT_FALSE(defaults.Options->Discovery);

  const TOptionsParse given =
      Parse({"--host", "broker.lan", "--port=8883", "--client-id", "bench-1", "--prefix",
             "lab/relays", "--user", "ha", "--password-file", "/etc/pw", "--cafile=/etc/ca.pem",
             "--interval", "0.25", "--discovery"});
  ASSERT_TRUE(given.Options) << given.Error;
  EXPECT_EQ(given.Options->Host, "broker.lan");
  EXPECT_EQ(given.Options->Port, 8883);
  EXPECT_EQ(given.Options->ClientId, "bench-1");
  EXPECT_EQ(given.Options->Prefix, "lab/relays");
  EXPECT_EQ(given.Options->User, "ha");
  EXPECT_EQ(given.Options->PasswordFile, "/etc/pw");
  EXPECT_EQ(given.Options->CaFile, "/etc/ca.pem");
  EXPECT_EQ(given.Options->IntervalMs, 250);
  EXPECT_TRUE(given.Options->Discovery);
}

TEST(BridgeOptions, BadConfigurationsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "0"},
      {"--port", "65536"},
      {"--port", "12x"},
      {"--port"},
      {"--host="},
      {"--prefix", "a/+/b"},
      {"--prefix", ""},
      {"--prefix", "a/"},
      {"--prefix", "a//b"},
      {"--interval", "0"},
      {"--interval", "-1"},
      {"--interval", "soon"},
      {"--interval", "nan"},
      {"--password", "secret"},
      {"--password=secret"},
      {"-P", "secret"},
      {"--bogus"},
      {"--password-file", "/etc/pw"},
      {"extra"},
  };
  for (const auto& arguments : cases) {
    const TOptionsParse parse = Parse(arguments);
    EXPECT_FALSE(parse.Options) << arguments[0];
    EXPECT_FALSE(parse.Error.empty()) << arguments[0];
  }
  // The refusal of a password names the way that works, and never echoes it.
  const TOptionsParse password = Parse({"--password=secret"});
  EXPECT_NE(password.Error.find("--password-file"), std::string::npos);
  EXPECT_EQ(password.Error.find("secret"), std::string::npos);
}

TEST(BridgeOptions, PasswordFile) {
  const auto dir = std::filesystem::temp_directory_path() / "quorvel-bridge-options";
  std::filesystem::create_directories(dir);
  std::string password;
  std::string error;
  { std::ofstream(dir / "pw") << "s3cret word\r\nsecond line\n"; }
  EXPECT_TRUE(ReadPasswordFile((dir / "pw").string(), password, error));
  EXPECT_EQ(password, "s3cret word");
  { std::ofstream(dir / "empty") << "\n"; }
  EXPECT_FALSE(ReadPasswordFile((dir / "empty").string(), password, error));
  EXPECT_NE(error.find("no password"), std::string::npos);
  EXPECT_FALSE(ReadPasswordFile((dir / "missing").string(), password, error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quorvel::bridge
