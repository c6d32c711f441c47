// Kernel uevents: parsing, the netlink channel's sender check, and the
// notifier's queue of posted messages.
#include <gtest/gtest.h>

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "hid/DeviceChangeNotifier.h"
#include "platform/linux/services/Uevent.h"

namespace quorvel::hid {
namespace {

using namespace std::string_view_literals;
using namespace quorvel::platform;

struct TParseCase {
  const char* name;
  std::string_view bytes;
  bool valid;
  bool nodeChange;
};

class UeventParseTest : public ::testing::TestWithParam<TParseCase> {};

TEST_P(UeventParseTest, ReadsActionAndSubsystemWithinTheMessage) {
  TUevent event;
  const auto& c = GetParam();
  // An exact-size copy, so that a read past the end is caught by the sanitizers.
  const std::vector<char> bytes(c.bytes.begin(), c.bytes.end());
  EXPECT_EQ(ParseUevent(bytes, event), c.valid);
  EXPECT_EQ(IsHidrawNodeChange(event), c.nodeChange);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, UeventParseTest,
    ::testing::Values(
        TParseCase{"Add", "add@/devices/h/hidraw/hidraw0\0ACTION=add\0SUBSYSTEM=hidraw\0"sv, true,
                   true},
        TParseCase{"Remove", "remove@/d/hidraw0\0SUBSYSTEM=hidraw\0ACTION=remove\0"sv, true, true},
        TParseCase{"Change", "change@/d/hidraw0\0ACTION=change\0SUBSYSTEM=hidraw\0"sv, true, false},
        TParseCase{"OtherSubsystem", "add@/d/input9\0ACTION=add\0SUBSYSTEM=input\0"sv, true, false},
        TParseCase{"SubsystemPrefix", "add@/d/x\0ACTION=add\0SUBSYSTEM=hidrawx\0"sv, true, false},
        TParseCase{"NoFinalNul", "add@/d/x\0ACTION=add\0SUBSYSTEM=hidraw"sv, true, true},
        TParseCase{"CutInsideKey", "add@/d/x\0ACTION=add\0SUBSYS"sv, true, false},
        TParseCase{"UdevMessage", "libudev\0\xfe\xca\xed\xfe"sv, false, false},
        TParseCase{"Empty", ""sv, false, false},
        TParseCase{"HeaderOnly", "add@/d/x"sv, true, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(KernelUeventChannelTest, IgnoresMessagesFromUserProcesses) {
  auto channel = OpenKernelUeventChannel();
  if (!channel) {
    GTEST_SKIP() << "no netlink uevent socket on this machine";
  }
  sockaddr_nl own{};
  socklen_t length = sizeof own;
  ASSERT_EQ(::getsockname(channel->Fd(), reinterpret_cast<sockaddr*>(&own), &length), 0);
  const int sender = ::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
  ASSERT_GE(sender, 0);
  sockaddr_nl to{};
  to.nl_family = AF_NETLINK;
  to.nl_pid = own.nl_pid;
  const auto forged = "add@/d/hidraw9\0ACTION=add\0SUBSYSTEM=hidraw\0"sv;
  const ssize_t sent = ::sendto(sender, forged.data(), forged.size(), 0,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
  ::close(sender);
  if (sent < 0) {
    GTEST_SKIP() << "netlink does not deliver between user sockets here";
  }
  std::vector<char> message;
  pollfd entry{channel->Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 1000), 1);
  TUeventChannel::TReceive result;
  do {
    result = channel->Receive(message);
  } while (result == TUeventChannel::TReceive::kMessage);  // genuine kernel traffic
  EXPECT_EQ(result, TUeventChannel::TReceive::kRejected);
}

struct TMessages {
  std::vector<std::intptr_t> lParams;
  bool fail = false;
  void WndProc(UINT, std::uintptr_t, std::intptr_t LParam) {
    lParams.push_back(LParam);
    if (fail) {
      fail = false;
      throw std::runtime_error("handler failed");
    }
  }
};

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1;
}

TEST(NotifierTest, PostedMessagesWaitForThePumpInOrder) {
  TMessages messages;
  TDeviceChangeNotifier notifier(
      TDeviceChangeNotifier::TWndProc::Of<&TMessages::WndProc>(&messages));
  notifier.SetChangeSource(nullptr);
  EXPECT_FALSE(Readable(notifier.Fd()));
  notifier.Post(0x0219, 7, -1);
  notifier.Post(0x0219, 7, 5);
  EXPECT_TRUE(messages.lParams.empty());
  EXPECT_TRUE(Readable(notifier.Fd()));
  notifier.ProcessMessages();
  EXPECT_EQ(messages.lParams, (std::vector<std::intptr_t>{-1, 5}));
  EXPECT_FALSE(Readable(notifier.Fd()));
}

TEST(NotifierTest, HandlerErrorReachesThePumpAndKeepsTheRest) {
  TMessages messages;
  TDeviceChangeNotifier notifier(
      TDeviceChangeNotifier::TWndProc::Of<&TMessages::WndProc>(&messages));
  notifier.SetChangeSource(nullptr);
  messages.fail = true;
  notifier.Post(0x0219, 7, 1);
  notifier.Post(0x0219, 7, 2);
  EXPECT_THROW(notifier.ProcessMessages(), std::runtime_error);
  EXPECT_TRUE(Readable(notifier.Fd()));
  notifier.ProcessMessages();
  EXPECT_EQ(messages.lParams, (std::vector<std::intptr_t>{1, 2}));
}

// Answers with a fixed script of receive results, each message a hidraw add.
class TScriptedChannel final : public TUeventChannel {
 public:
  explicit TScriptedChannel(std::vector<TReceive> script) : script_(std::move(script)) {}
  int Fd() const override { return -1; }
  TReceive Receive(std::vector<char>& message) override {
    if (next_ >= script_.size()) {
      return TReceive::kEmpty;
    }
    const auto add = "add@/d/hidraw1\0ACTION=add\0SUBSYSTEM=hidraw\0"sv;
    message.assign(add.begin(), add.end());
    return script_[next_++];
  }

 private:
  std::vector<TReceive> script_;
  std::size_t next_ = 0;
};

struct TChannelCase {
  const char* name;
  std::vector<TUeventChannel::TReceive> script;
  std::size_t scans;
};

class NotifierChannelTest : public ::testing::TestWithParam<TChannelCase> {};

TEST_P(NotifierChannelTest, KernelNoticesBecomeOneChangeMessagePerPump) {
  TMessages messages;
  TDeviceChangeNotifier notifier(
      TDeviceChangeNotifier::TWndProc::Of<&TMessages::WndProc>(&messages));
  notifier.SetChangeSource(std::make_unique<TScriptedChannel>(GetParam().script));
  notifier.ProcessMessages();
  EXPECT_EQ(messages.lParams, std::vector<std::intptr_t>(GetParam().scans, 0));
}

using R = TUeventChannel::TReceive;
INSTANTIATE_TEST_SUITE_P(
    Scripts, NotifierChannelTest,
    ::testing::Values(TChannelCase{"Nothing", {}, 0}, TChannelCase{"OneNotice", {R::kMessage}, 1},
                      TChannelCase{"SeveralNotices", {R::kMessage, R::kMessage, R::kMessage}, 1},
                      // A sender other than the kernel is never acted on.
                      TChannelCase{"Forged", {R::kRejected, R::kRejected}, 0},
                      // Dropped messages may have told of a change: rescan.
                      TChannelCase{"Overrun", {R::kLost}, 1}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
}  // namespace quorvel::hid
