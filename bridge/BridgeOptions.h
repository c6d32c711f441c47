// The bridge's command line.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace quorvel::bridge {

struct TBridgeOptions {
  std::string Host = "localhost";
  int Port = 1883;
  std::string ClientId;  // empty: quorvel-mqtt-HOSTNAME
  std::string Prefix = "quorvel";
  std::string User;
  std::string PasswordFile;  // the password itself never travels on the command line
  std::string CaFile;        // TLS when set
  int IntervalMs = 5000;     // state re-read and rescan
  bool Discovery = false;    // Home Assistant MQTT discovery
  std::string DiscoveryPrefix = "homeassistant";
  bool Help = false;
  bool Version = false;
};

struct TOptionsParse {
  std::optional<TBridgeOptions> Options;
  std::string Error;  // set when Options is empty
};

// Arguments without the program name; "--name VALUE" and "--name=VALUE".
TOptionsParse ParseOptions(std::span<const std::string> Arguments);

std::string UsageText();

// The password: the file's first line without its line end. False with Error
// set when the file cannot be read or holds no password.
bool ReadPasswordFile(const std::string& Path, std::string& Password, std::string& Error);

}  // namespace quorvel::bridge
