#include "bridge/BridgeOptions.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <string_view>

namespace quorvel::bridge {
namespace {

constexpr double kMinIntervalSeconds = 0.05;
constexpr double kMaxIntervalSeconds = 86400;

bool ParseInt(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseSeconds(std::string_view text, double& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
  return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value);
}

bool IsValidPrefix(std::string_view prefix) {
  return !prefix.empty() && prefix.find_first_of("+#") == std::string_view::npos &&
         !prefix.starts_with('/') && !prefix.ends_with('/') &&
         prefix.find("//") == std::string_view::npos;
}

TOptionsParse Fail(std::string error) {
  return {std::nullopt, std::move(error)};
}

}  // namespace

TOptionsParse ParseOptions(std::span<const std::string> Arguments) {
  TBridgeOptions options;
  for (std::size_t i = 0; i < Arguments.size(); ++i) {
    std::string_view argument = Arguments[i];
    if (argument == "-h" || argument == "--help") {
      options.Help = true;
      continue;
    }
    if (argument == "--version") {
      options.Version = true;
      continue;
    }
    if (argument == "--discovery") {
      options.Discovery = true;
      continue;
    }
    std::string_view name = argument;
    std::optional<std::string> value;
    if (const std::size_t equals = argument.find('='); equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = std::string(argument.substr(equals + 1));
    }
    if (name == "--password" || name == "-P") {
      return Fail(
          "the password is not taken on the command line (others could read it); "
          "put it in a file and give --password-file FILE");
    }
    static constexpr std::string_view kWithValue[] = {
        "--host",          "--port",   "--client-id", "--prefix",          "--user",
        "--password-file", "--cafile", "--interval",  "--discovery-prefix"};
    bool known = false;
    for (const std::string_view option : kWithValue) {
      known = known || name == option;
    }
    if (!known) {
      return Fail("unknown option \"" + std::string(argument) + "\" (see --help)");
    }
    if (!value) {
      if (i + 1 >= Arguments.size()) {
        return Fail("option " + std::string(name) + " needs a value");
      }
      value = Arguments[++i];
    }
    if (name == "--host") {
      if (value->empty()) {
        return Fail("--host needs a host name or address");
      }
      options.Host = *value;
    } else if (name == "--port") {
      if (!ParseInt(*value, options.Port) || options.Port < 1 || options.Port > 65535) {
        return Fail("--port \"" + *value + "\" is not a port number (1 to 65535)");
      }
    } else if (name == "--client-id") {
      if (value->empty() || value->size() > 65535) {
        return Fail("--client-id needs a non-empty client ID");
      }
      options.ClientId = *value;
    } else if (name == "--prefix") {
      if (!IsValidPrefix(*value)) {
        return Fail("--prefix \"" + *value +
                    "\" is not a topic prefix (not empty, no + or #, no empty level)");
      }
      options.Prefix = *value;
    } else if (name == "--user") {
      options.User = *value;
    } else if (name == "--password-file") {
      options.PasswordFile = *value;
    } else if (name == "--cafile") {
      options.CaFile = *value;
    } else if (name == "--interval") {
      double seconds = 0;
      if (!ParseSeconds(*value, seconds) || seconds < kMinIntervalSeconds ||
          seconds > kMaxIntervalSeconds) {
        return Fail("--interval \"" + *value + "\" is not a number of seconds (0.05 to 86400)");
      }
      options.IntervalMs = static_cast<int>(std::lround(seconds * 1000));
    } else if (name == "--discovery-prefix") {
      if (!IsValidPrefix(*value)) {
        return Fail("--discovery-prefix \"" + *value + "\" is not a topic prefix");
      }
      options.DiscoveryPrefix = *value;
    }
  }
  if (!options.PasswordFile.empty() && options.User.empty()) {
    return Fail("--password-file needs --user");
  }
  return {options, {}};
}

std::string UsageText() {
  return "Usage: quorvel-mqtt [OPTION]...\n"
         "Serves every USB HID relay board of this machine over MQTT.\n"
         "\n"
         "  --host HOST            broker host (localhost)\n"
         "  --port PORT            broker port (1883)\n"
         "  --client-id ID         MQTT client ID (quorvel-mqtt-HOSTNAME)\n"
         "  --prefix PREFIX        topic prefix (quorvel)\n"
         "  --user USER            user name at the broker\n"
         "  --password-file FILE   the password: the file's first line\n"
         "  --cafile FILE          connect with TLS, checking the broker against FILE\n"
         "  --interval SECONDS     re-read the boards and rescan this often (5)\n"
         "  --discovery            publish Home Assistant discovery\n"
         "  --discovery-prefix P   Home Assistant's discovery prefix (homeassistant)\n"
         "  --help, --version\n"
         "\n"
         "Runs in the foreground, logs to standard error, stops on SIGINT or SIGTERM;\n"
         "SIGHUP rescans and re-reads the boards at once. Topics: see quorvel-mqtt(1).\n";
}

bool ReadPasswordFile(const std::string& Path, std::string& Password, std::string& Error) {
  std::ifstream file(Path, std::ios::binary);
  if (!file) {
    Error = "password file \"" + Path + "\" cannot be read";
    return false;
  }
  std::string line;
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r') {
    line.pop_back();
  }
  if (line.empty()) {
    Error = "password file \"" + Path + "\" holds no password on its first line";
    return false;
  }
  Password = std::move(line);
  return true;
}

}  // namespace quorvel::bridge
