#include "tests/bridge/BrokerFixture.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace quorvel::bridge::test {
namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no free loopback port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

pid_t Spawn(const std::vector<std::string>& arguments, const std::string& errorFile,
            const std::map<std::string, std::string>& environment) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : environment) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    if (!errorFile.empty()) {
      FILE* error = std::freopen(errorFile.c_str(), "w", stderr);
      (void)error;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

#ifdef __linux__
TKernelNotices::TKernelNotices() {
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, FFds) != 0) {
    throw std::runtime_error("no socket pair for the stand-in uevents");
  }
}

TKernelNotices::~TKernelNotices() {
  ::close(FFds[0]);
  ::close(FFds[1]);
}

platform::TUeventChannel::TReceive TKernelNotices::Receive(std::vector<char>& Message) {
  Message.resize(8192);
  const ssize_t got = ::recv(FFds[0], Message.data(), Message.size(), 0);
  if (got < 0) {
    return TReceive::kEmpty;
  }
  Message.resize(static_cast<std::size_t>(got));
  return TReceive::kMessage;
}

void TKernelNotices::Send(const std::string& Action, const std::string& Node) {
  std::string datagram = Action + "@/devices/virtual/hidraw/" + Node;
  for (const std::string& field : {"ACTION=" + Action, std::string("SUBSYSTEM=hidraw")}) {
    datagram += '\0';
    datagram += field;
  }
  datagram += '\0';
  if (::send(FFds[1], datagram.data(), datagram.size(), 0) !=
      static_cast<ssize_t>(datagram.size())) {
    throw std::runtime_error("the stand-in uevent could not be sent");
  }
}
#endif

int FreeLoopbackPort() {
  return FreePort();
}

TBroker::TBroker(const std::string& User, const std::string& Password,
                 const std::string& ExtraConfig) {
  FDir = std::filesystem::temp_directory_path() /
         ("quorvel-broker-" + std::to_string(getpid()) + "-" + std::to_string(FreePort()));
  std::filesystem::create_directories(FDir);
  FPort = FreePort();
  std::ofstream config(FDir / "mosquitto.conf");
  config << "listener " << FPort << " 127.0.0.1\n"
         << "persistence false\n"
         << "set_tcp_nodelay true\n";
  if (User.empty()) {
    config << "allow_anonymous true\n";
  } else {
    const auto passwords = FDir / "passwords";
    std::ofstream(passwords).close();
    const TRunResult made =
        RunToEnd({"/usr/bin/mosquitto_passwd", "-b", passwords.string(), User, Password});
    if (made.ExitStatus != 0) {
      throw std::runtime_error("mosquitto_passwd failed: " + made.Error);
    }
    config << "allow_anonymous false\npassword_file " << passwords.string() << "\n";
  }
  config << ExtraConfig;
  config.close();
  Start();
}

TBroker::~TBroker() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(FDir, ignored);
}

void TBroker::Start() {
  FPid = Spawn({QUORVEL_MOSQUITTO_BROKER, "-c", (FDir / "mosquitto.conf").string()},
               (FDir / "broker.log").string(), {});
  for (int attempt = 0; attempt < 500; ++attempt) {
    if (Accepts(FPort)) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("the broker did not come up on port " + std::to_string(FPort));
}

void TBroker::Stop() {
  if (FPid > 0) {
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
}

TMqttClient::TMqttClient(int Port, const std::string& Subscription, const std::string& User,
                         const std::string& Password) {
  mosquitto_lib_init();
  FMosq = mosquitto_new(nullptr, true, this);
  mosquitto_message_callback_set(FMosq, &OnMessage);
  mosquitto_subscribe_callback_set(FMosq, &OnSubscribe);
  mosquitto_int_option(FMosq, MOSQ_OPT_TCP_NODELAY, 1);
  if (!User.empty()) {
    mosquitto_username_pw_set(FMosq, User.c_str(), Password.c_str());
  }
  if (mosquitto_connect(FMosq, "127.0.0.1", Port, 30) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("the test client cannot connect");
  }
  mosquitto_subscribe(FMosq, nullptr, Subscription.c_str(), 1);
  for (int i = 0; i < 500 && !FSubscribed; ++i) {
    Loop(10);
  }
  if (!FSubscribed) {
    throw std::runtime_error("the test client got no subscription");
  }
}

TMqttClient::~TMqttClient() {
  mosquitto_disconnect(FMosq);
  mosquitto_destroy(FMosq);
}

void TMqttClient::Loop(int Ms) {
  mosquitto_loop(FMosq, Ms, 1);
}

void TMqttClient::Publish(const std::string& Topic, const std::string& Payload, bool Retain) {
  mosquitto_publish(FMosq, nullptr, Topic.c_str(), static_cast<int>(Payload.size()), Payload.data(),
                    1, Retain);
  Loop(0);
}

void TMqttClient::OnMessage(mosquitto*, void* Self, const mosquitto_message* Message) {
  static_cast<TMqttClient*>(Self)->FReceived.push_back(
      {Message->topic,
       std::string(static_cast<const char*>(Message->payload),
                   static_cast<std::size_t>(Message->payloadlen)),
       Message->retain});
}

void TMqttClient::OnSubscribe(mosquitto*, void* Self, int, int, const int*) {
  static_cast<TMqttClient*>(Self)->FSubscribed = true;
}

std::string TMqttClient::Last(const std::string& Topic) const {
  for (auto it = FReceived.rbegin(); it != FReceived.rend(); ++it) {
    if (it->Topic == Topic) {
      return it->Payload;
    }
  }
  return {};
}

bool TMqttClient::Has(const std::string& Topic, const std::string& Payload) const {
  for (const TReceived& received : FReceived) {
    if (received.Topic == Topic && received.Payload == Payload) {
      return true;
    }
  }
  return false;
}

std::size_t TMqttClient::Count(const std::string& Topic) const {
  std::size_t count = 0;
  for (const TReceived& received : FReceived) {
    count += received.Topic == Topic ? 1U : 0U;
  }
  return count;
}

bool PumpUntil(const std::function<void()>& Pump, const std::function<bool()>& Done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    Pump();
    if (Done()) {
      return true;
    }
  }
  return Done();
}

TProcess::TProcess(const std::vector<std::string>& Arguments,
                   const std::map<std::string, std::string>& Environment) {
  static int count = 0;
  FErrorFile =
      std::filesystem::temp_directory_path() /
      ("quorvel-bridge-" + std::to_string(getpid()) + "-" + std::to_string(++count) + ".err");
  FPid = Spawn(Arguments, FErrorFile.string(), Environment);
}

TProcess::~TProcess() {
  if (FPid > 0) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove(FErrorFile, ignored);
}

void TProcess::Signal(int Number) {
  kill(FPid, Number);
}

int TProcess::Wait() {
  int status = 0;
  waitpid(FPid, &status, 0);
  FPid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TProcess::Error() const {
  return ReadWhole(FErrorFile);
}

TRunResult RunToEnd(const std::vector<std::string>& Arguments,
                    const std::map<std::string, std::string>& Environment) {
  const auto errorFile = std::filesystem::temp_directory_path() /
                         ("quorvel-bridge-run-" + std::to_string(getpid()) + ".err");
  const pid_t pid = Spawn(Arguments, errorFile.string(), Environment);
  int status = 0;
  waitpid(pid, &status, 0);
  TRunResult result;
  result.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.Error = ReadWhole(errorFile);
  std::filesystem::remove(errorFile);
  return result;
}

}  // namespace quorvel::bridge::test
