// The controller over the simulated platform: scans driven by changing the
// world between calls, events, enumeration, setters, notification, teardown.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "hid/DeviceChangeNotifier.h"
#include "platform/Hid.h"
#include "platform/ModuleLoader.h"
#include "platform/SetupApi.h"
#include "platform/linux/services/Uevent.h"
#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

using Events = std::vector<std::string>;
using platform::TUeventChannel;

class ControllerTest : public SimulatedTest {
 protected:
  // A controller over the three-device world with the recorder on every event.
  void StartRecorded() {
    Start(TSimWorld::LoadWorld("three-devices.json"));
    controller->SetOnArrival(recorder.OnArrival());
    controller->SetOnRemoval(recorder.OnRemoval());
    controller->SetOnDeviceUnplug(recorder.OnUnplug());
    controller->SetOnDeviceChange(recorder.OnChange());
  }
  TRecorder recorder;
};

// The create-error handler's answers, one per call.
struct TCreateErrorScript {
  std::vector<std::pair<bool, bool>> answers;  // Handled, RetryCreate
  int calls = 0;
  TSimWorld* world = nullptr;
  int healAfter = -1;  // the device is fixed after this many calls
  void Error(THidDeviceController*, THidPnPInfo*, bool& Handled, bool& RetryCreate) {
    const auto& answer =
        answers[std::min<std::size_t>(static_cast<std::size_t>(calls), answers.size() - 1)];
    ++calls;
    Handled = answer.first;
    RetryCreate = answer.second;
    if (calls == healAfter) {
      world->Change(2, {{"faults", {{"attributesError", nullptr}}}});
    }
  }
};

TEST_F(ControllerTest, FirstScanListsEveryInterfaceInMemberOrder) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  struct TArrivals {
    THidDeviceController* controller;
    std::vector<int32_t> lastIndex;
    void Arrival(THidDevice* HidDev) {
      // Raised after the device was appended.
      lastIndex.push_back(controller->Devices(controller->DeviceCount() - 1) == HidDev
                              ? controller->DeviceCount() - 1
                              : -1);
    }
  } arrivals{controller.get(), {}};
  controller->SetOnArrival(THidPlugEvent::Of<&TArrivals::Arrival>(&arrivals));
  controller->SetOnRemoval(recorder.OnRemoval());
  controller->SetOnDeviceChange(recorder.OnChange());
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103}));
  EXPECT_EQ(arrivals.lastIndex, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(recorder.Take(), Events{"Change"});
  EXPECT_EQ(controller->NumCheckedInDevices(), 3);
  ExpectInvariants(*controller);
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(world->OpenHandles(id), 0) << "device " << id;
  }
  controller.reset();  // before the handlers above go
}

TEST_F(ControllerTest, ConstructorWithHandlersScansBeforeItReturns) {
  world = std::make_unique<TSimWorld>(TSimWorld::LoadWorld("three-devices.json"));
  world->Change(2, {{"faults", {{"attributesError", 31}}}});
  TCreateErrorScript script{{{true, false}}};
  controller = std::make_unique<THidDeviceController>(
      nullptr, THidDeviceCreateError::Of<&TCreateErrorScript::Error>(&script), recorder.OnChange());
  EXPECT_EQ(script.calls, 1);
  EXPECT_EQ(recorder.Take(), Events{"Change"});
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
  controller.reset();  // before the handler above goes
}

TEST_F(ControllerTest, ConstructorPassesAScanErrorOnAndGivesItsBindingsBack) {
  world = std::make_unique<TSimWorld>(TSimWorld::LoadWorld("three-devices.json"));
  world->Change(3, {{"faults", {{"attributesError", 31}}}});
  const int32_t hidCount = platform::HidBindCount();
  const int32_t setupCount = platform::SetupApiBindCount();
  EXPECT_THROW(THidDeviceController(nullptr, {}, recorder.OnChange()), EControllerError);
  EXPECT_EQ(platform::HidBindCount(), hidCount);
  EXPECT_EQ(platform::SetupApiBindCount(), setupCount);
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(world->OpenHandles(id), 0) << "device " << id;
  }
}

TEST_F(ControllerTest, ConstructorErrorAfterArrivalsFreesTheDevicesFirst) {
  world = std::make_unique<TSimWorld>(TSimWorld::LoadWorld("three-devices.json"));
  // The change handler fails after every device was appended.
  struct TFailing {
    void Change(TLayerComponent*) { throw std::runtime_error("handler failed"); }
  } failing;
  const int32_t hidCount = platform::HidBindCount();
  EXPECT_THROW(THidDeviceController(nullptr, {}, TNotifyEvent::Of<&TFailing::Change>(&failing)),
               std::runtime_error);
  EXPECT_EQ(platform::HidBindCount(), hidCount);
}

TEST_F(ControllerTest, ScanWithNothingChangedRaisesNothing) {
  StartRecorded();
  recorder.Take();
  THidDevice* first = controller->Devices(0);
  controller->DeviceChange();
  EXPECT_TRUE(recorder.Take().empty());
  EXPECT_EQ(controller->Devices(0), first);
}

TEST_F(ControllerTest, OnDeviceChangeSetterScansOnlyOnADifferentValue) {
  StartRecorded();
  recorder.Take();
  world->ClearLog();
  controller->SetOnDeviceChange(recorder.OnChange());
  EXPECT_EQ(world->Calls("HidD_GetAttributes"), 0);
  TRecorder other;
  controller->SetOnDeviceChange(other.OnChange());
  EXPECT_EQ(world->Calls("HidD_GetAttributes"), 3);
  controller->BeginLoading();
  controller->SetOnDeviceChange({});
  controller->EndLoading();
  EXPECT_EQ(world->Calls("HidD_GetAttributes"), 3);
  controller->SetOnDeviceChange(recorder.OnChange());
  EXPECT_EQ(world->Calls("HidD_GetAttributes"), 6);
}

TEST_F(ControllerTest, RemovedFreeDeviceIsUnpluggedReportedAndFreed) {
  StartRecorded();
  recorder.Take();
  world->Remove(2);
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), (Events{"Unplug 102", "Removal 102", "Change"}));
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
  ExpectInvariants(*controller);
}

TEST_F(ControllerTest, RemovedCheckedOutDeviceStaysUntilCheckedIn) {
  StartRecorded();
  THidDevice* device = Take(1);
  recorder.Take();
  world->Remove(2);
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), (Events{"Unplug 102", "Removal 102", "Change"}));
  EXPECT_EQ(controller->DeviceCount(), 3);
  EXPECT_FALSE(device->IsPluggedIn());
  EXPECT_EQ(controller->NumUnpluggedDevices(), 1);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
  ExpectInvariants(*controller);
  // Every later scan reports it again, without another unplug notice.
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), (Events{"Removal 102", "Change"}));
  controller->CheckIn(device);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
  ExpectInvariants(*controller);
}

TEST_F(ControllerTest, DevicePluggedInAgainGetsASecondEntry) {
  StartRecorded();
  THidDevice* device = Take(0);
  world->Remove(1);
  controller->DeviceChange();
  TJson again = TSimWorld::LoadWorld("three-devices.json")["devices"][0];
  again["id"] = 4;  // the same device instance, back in the world
  world->Add(again);
  recorder.Take();
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), (Events{"Removal 101", "Arrival 101", "Change"}));
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103, 101}));
  EXPECT_FALSE(controller->Devices(0)->IsPluggedIn());
  EXPECT_TRUE(controller->Devices(3)->IsPluggedIn());
  ExpectInvariants(*controller);
  controller->CheckIn(device);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{102, 103, 101}));
  ExpectInvariants(*controller);
}

TEST_F(ControllerTest, CreateErrorHandledWithoutRetrySkipsTheInterface) {
  StartRecorded();
  recorder.Take();
  world->Change(2, {{"faults", {{"attributesError", 31}}}});
  world->Remove(1);
  TCreateErrorScript script{{{true, false}}};
  controller->SetOnDeviceCreateError(
      THidDeviceCreateError::Of<&TCreateErrorScript::Error>(&script));
  // Device 2 is listed already and is not found again: it counts as removed.
  controller->DeviceChange();
  EXPECT_EQ(script.calls, 1);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{103}));
  controller.reset();  // before the handlers above go
}

TEST_F(ControllerTest, CreateErrorWithoutHandlerOrUnhandledReachesTheCaller) {
  StartRecorded();
  recorder.Take();
  world->Remove(3);
  world->Change(2, {{"faults", {{"attributesError", 31}}}});
  const auto before = ListedIds(*controller);
  EXPECT_THROW(controller->DeviceChange(), EControllerError);
  TCreateErrorScript script{{{false, true}}};
  controller->SetOnDeviceCreateError(
      THidDeviceCreateError::Of<&TCreateErrorScript::Error>(&script));
  try {
    controller->DeviceChange();
    ADD_FAILURE() << "the error did not reach the caller";
  } catch (const EControllerError& error) {
    EXPECT_STREQ(error.what(), "Device cannot be identified");
  }
  EXPECT_EQ(script.calls, 1);
  // Nothing of the failed scans reached the list or the events.
  EXPECT_EQ(ListedIds(*controller), before);
  EXPECT_TRUE(recorder.Take().empty());
  ExpectInvariants(*controller);
  controller.reset();  // before the handlers above go
}

TEST_F(ControllerTest, RetryLoopEndsWhenCreationSucceeds) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  world->Change(2, {{"faults", {{"attributesError", 31}}}});
  TCreateErrorScript script{{{true, true}}, 0, world.get(), 3};
  controller->SetOnDeviceCreateError(
      THidDeviceCreateError::Of<&TCreateErrorScript::Error>(&script));
  controller->DeviceChange();
  EXPECT_EQ(script.calls, 3);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103}));
  controller.reset();  // before the handlers above go
}

struct TEnumerateLog {
  std::vector<std::pair<uint32_t, int32_t>> visits;
  bool stop = false;
  bool Visit(THidDevice* HidDev, int32_t Idx) {
    visits.emplace_back(HidDev->PnPInfo()->DeviceID(), Idx);
    return !stop;
  }
  THidEnumerateEvent Handler() { return THidEnumerateEvent::Of<&TEnumerateLog::Visit>(this); }
};

TEST_F(ControllerTest, EnumerateSkipsUnpluggedEntriesAndPassesListIndexes) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  EXPECT_EQ(controller->Enumerate(), 1);  // no handler: stops after the first
  Take(1);
  world->Remove(2);
  controller->DeviceChange();
  TEnumerateLog log;
  controller->SetOnEnumerate(log.Handler());
  EXPECT_EQ(controller->Enumerate(), 2);
  EXPECT_EQ(log.visits, (std::vector<std::pair<uint32_t, int32_t>>{{101, 0}, {103, 2}}));
  log.visits.clear();
  log.stop = true;
  EXPECT_EQ(controller->Enumerate(), 1);
  EXPECT_EQ(log.visits.size(), 1u);
  for (int id : {1, 3}) {
    EXPECT_EQ(world->OpenHandles(id), 0);
  }
}

// An application gives a device back by deleting it, also inside a handler; the
// controller then neither touches the freed object nor loses the entry.
struct TFreeing {
  std::vector<uint32_t> freed;
  bool onlyCheckedOut = false;
  void Free(THidDevice* HidDev) {
    if (onlyCheckedOut && !HidDev->IsCheckedOut()) {
      return;
    }
    freed.push_back(HidDev->PnPInfo()->DeviceID());
    delete HidDev;
  }
  bool FreeAndGoOn(THidDevice* HidDev, int32_t) {
    Free(HidDev);
    return true;
  }
  THidEnumerateEvent OnEnumerate() { return THidEnumerateEvent::Of<&TFreeing::FreeAndGoOn>(this); }
  THidPlugEvent OnPlug() { return THidPlugEvent::Of<&TFreeing::Free>(this); }
};

TEST_F(ControllerTest, HandlersMayFreeTheDeviceTheyAreGiven) {
  const std::vector<uint32_t> all{101, 102, 103};
  {
    SCOPED_TRACE("enumerate: each device freed is replaced in place");
    StartScanned(TSimWorld::LoadWorld("three-devices.json"));
    TFreeing freeing;
    controller->SetOnEnumerate(freeing.OnEnumerate());
    EXPECT_EQ(controller->Enumerate(), 3);
    EXPECT_EQ(freeing.freed, all);
    EXPECT_EQ(ListedIds(*controller), all);
    for (int32_t i = 0; i < 3; ++i) {
      EXPECT_FALSE(controller->Devices(i)->IsUsable());
      EXPECT_EQ(world->OpenHandles(i + 1), 0);
    }
    ExpectInvariants(*controller);
  }
  {
    SCOPED_TRACE("arrival: the new device freed is replaced in place");
    TFreeing freeing;
    Start(TSimWorld::LoadWorld("three-devices.json"));
    controller->SetOnArrival(freeing.OnPlug());
    controller->DeviceChange();
    EXPECT_EQ(freeing.freed, all);
    EXPECT_EQ(ListedIds(*controller), all);
    ExpectInvariants(*controller);
  }
  {
    SCOPED_TRACE("removal: a vanished checked-out device freed leaves the list");
    TFreeing freeing;
    freeing.onlyCheckedOut = true;
    StartScanned(TSimWorld::LoadWorld("three-devices.json"));
    Take(1);
    controller->SetOnRemoval(freeing.OnPlug());
    world->Remove(2);
    controller->DeviceChange();
    EXPECT_EQ(freeing.freed, (std::vector<uint32_t>{102}));
    EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
    EXPECT_EQ(controller->NumUnpluggedDevices(), 0);
    ExpectInvariants(*controller);
  }
}

TEST_F(ControllerTest, EnumerateWithoutPluggedEntriesVisitsNothing) {
  StartScanned({{"devices", TJson::array()}});
  EXPECT_EQ(controller->Enumerate(), 0);
}

TEST_F(ControllerTest, DeviceDefaultsPropagateToDevicesStillCarryingThem) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  TRecorder own;
  controller->Devices(1)->SetPollingDelayTime(20);
  controller->Devices(2)->SetOnUnplug(own.OnUnplug());
  controller->SetDevPollingDelayTime(50);
  controller->SetOnDeviceUnplug(recorder.OnUnplug());
  EXPECT_EQ(controller->Devices(0)->PollingDelayTime(), 50);
  EXPECT_EQ(controller->Devices(1)->PollingDelayTime(), 20);
  EXPECT_EQ(controller->Devices(0)->OnUnplug(), recorder.OnUnplug());
  EXPECT_EQ(controller->Devices(2)->OnUnplug(), own.OnUnplug());
  controller->SetDevThreadSleepTime(5);
  EXPECT_EQ(controller->DevThreadSleepTime(), 5);
  EXPECT_EQ(controller->Devices(0)->ThreadSleepTime(), 100);
  // The data handlers follow the same rule.
  struct TSink {
    void Data(THidDevice*, uint8_t, const uint8_t*, uint16_t) {}
    void Error(THidDevice*, uint32_t) {}
  } mine, theirs;
  controller->Devices(2)->SetOnData(THidDataEvent::Of<&TSink::Data>(&mine));
  controller->Devices(2)->SetOnDataError(THidDataErrorEvent::Of<&TSink::Error>(&mine));
  controller->SetOnDeviceData(THidDataEvent::Of<&TSink::Data>(&theirs));
  controller->SetOnDeviceDataError(THidDataErrorEvent::Of<&TSink::Error>(&theirs));
  EXPECT_EQ(controller->Devices(0)->OnData(), THidDataEvent::Of<&TSink::Data>(&theirs));
  EXPECT_EQ(controller->Devices(0)->OnDataError(), THidDataErrorEvent::Of<&TSink::Error>(&theirs));
  EXPECT_EQ(controller->Devices(2)->OnData(), THidDataEvent::Of<&TSink::Data>(&mine));
  EXPECT_EQ(controller->Devices(2)->OnDataError(), THidDataErrorEvent::Of<&TSink::Error>(&mine));
  controller.reset();  // before the handlers above go
}

TEST_F(ControllerTest, VersionIsFixed) {
  Start({{"devices", TJson::array()}});
  controller->SetVersion(u"9.9");
  EXPECT_EQ(controller->Version(), u"1.0.35");
}

TEST_F(ControllerTest, PostedMessageForcesTheChangeEventUntilAnotherMessage) {
  StartRecorded();
  recorder.Take();
  controller->DeviceChange();
  EXPECT_TRUE(recorder.Take().empty());
  controller->ProcessMessages();  // the message posted at creation, lParam -1
  EXPECT_EQ(recorder.Take(), Events{"Change"});
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), Events{"Change"});
  controller->DeviceChangeWndProc(0x0219, 0x0007, 0);
  EXPECT_TRUE(recorder.Take().empty());
  controller->DeviceChange();
  EXPECT_TRUE(recorder.Take().empty());
  controller->ProcessMessages();  // nothing waits
  EXPECT_TRUE(recorder.Take().empty());
}

TEST_F(ControllerTest, OtherDeviceChangeMessagesAreIgnored) {
  StartRecorded();
  recorder.Take();
  world->Remove(1);
  controller->DeviceChangeWndProc(0x0219, 0x8000, 0);  // DBT_DEVICEARRIVAL
  controller->DeviceChangeWndProc(0x0218, 0x0007, 0);
  EXPECT_TRUE(recorder.Take().empty());
  controller->DeviceChangeWndProc(0x0219, 0x0007, 0);
  EXPECT_EQ(recorder.Take(), (Events{"Unplug 101", "Removal 101", "Change"}));
}

TEST_F(ControllerTest, DestructionFreesCheckedOutDevicesAndReleasesItsBindings) {
  StartRecorded();
  const int32_t hidCount = platform::HidBindCount();
  const int32_t setupCount = platform::SetupApiBindCount();
  THidDevice* device = Take(0);
  TRecorder own;
  device->SetOnUnplug(own.OnUnplug());
  ASSERT_TRUE(device->OpenFile());
  recorder.Take();
  controller.reset();
  // The last scan raises no change event; the controller's unplug handler is
  // taken from the devices first, and a checked-out device's own one fires.
  EXPECT_TRUE(recorder.Take().empty());
  EXPECT_EQ(own.Take(), Events{"Unplug 101"});
  EXPECT_EQ(platform::HidBindCount(), hidCount - 1);
  EXPECT_EQ(platform::SetupApiBindCount(), setupCount - 1);
  EXPECT_EQ(world->OpenHandles(1), 0);
}

TEST_F(ControllerTest, HandlerErrorEndsTheScanWithCountersInStepAndNoDeviceLeftUsable) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  struct TFailing {
    int arrivals = 0;
    void Arrival(THidDevice*) {
      if (++arrivals == 2) {
        throw std::runtime_error("handler failed");
      }
    }
  } failing;
  controller->SetOnArrival(THidPlugEvent::Of<&TFailing::Arrival>(&failing));
  EXPECT_THROW(controller->DeviceChange(), std::runtime_error);
  controller->SetOnArrival({});
  // What was appended stays; the counters follow the list.
  EXPECT_EQ(controller->DeviceCount(), 2);
  ExpectInvariants(*controller);
  // The failed callback did not leave its device usable outside callbacks.
  EXPECT_TRUE(controller->Devices(1)->ProductName().empty());
  EXPECT_FALSE(controller->Devices(1)->OpenFileEx(THidOpenExMode::omhRead));
}

// A failing unplug or removal handler ends the scan where it stands, but the
// free device it was told about leaves the list: listed unplugged and free, it
// could be handed out and would be counted as both checked in and unplugged.
TEST_F(ControllerTest, RemovalHandlerErrorStillTakesTheFreeDeviceOffTheList) {
  struct TFailing {
    void Plug(THidDevice*) { throw std::runtime_error("handler failed"); }
  } failing;
  const THidPlugEvent fail = THidPlugEvent::Of<&TFailing::Plug>(&failing);
  for (const bool inUnplug : {true, false}) {
    SCOPED_TRACE(inUnplug ? "OnUnplug" : "OnRemoval");
    StartScanned(TSimWorld::LoadWorld("three-devices.json"));
    if (inUnplug) {
      controller->SetOnDeviceUnplug(fail);
    } else {
      controller->SetOnRemoval(fail);
    }
    world->Remove(2);
    world->Remove(3);
    EXPECT_THROW(controller->DeviceChange(), std::runtime_error);
    // The removal walks from the last entry: 103 went, the scan stopped before 102.
    EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102}));
    ExpectInvariants(*controller);
    EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
    controller->SetOnDeviceUnplug({});
    controller->SetOnRemoval({});
    controller->DeviceChange();
    EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101}));
    ExpectInvariants(*controller);
    controller.reset();  // before the handler above goes
  }
}

TEST_F(ControllerTest, EnumerateHandlerErrorStillClosesTheDevice) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  struct TFailing {
    bool Visit(THidDevice* HidDev, int32_t) {
      (void)HidDev->OpenFile();
      throw std::runtime_error("handler failed");
    }
  } failing;
  controller->SetOnEnumerate(THidEnumerateEvent::Of<&TFailing::Visit>(&failing));
  EXPECT_THROW(controller->Enumerate(), std::runtime_error);
  EXPECT_EQ(world->OpenHandles(1), 0);
  EXPECT_FALSE(controller->Devices(0)->OpenFile());
}

TEST_F(ControllerTest, ChangeMessageDuringAMessageScanIsDropped) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  struct TReentrant {
    THidDeviceController* controller;
    TSimWorld* world;
    bool armed = false;
    int changes = 0;
    void Change(TLayerComponent*) {
      ++changes;
      if (std::exchange(armed, false)) {
        world->Remove(3);
        controller->DeviceChangeWndProc(0x0219, 0x0007, 7);
      }
    }
  } reentrant{controller.get(), world.get()};
  controller->SetOnDeviceChange(TNotifyEvent::Of<&TReentrant::Change>(&reentrant));
  reentrant.armed = true;
  controller->DeviceChangeWndProc(0x0219, 0x0007, -1);  // forces the change event
  EXPECT_EQ(reentrant.changes, 1);
  // The message that came during the message's own scan was not acted on.
  EXPECT_EQ(controller->DeviceCount(), 3);
  controller->DeviceChange();
  EXPECT_EQ(controller->DeviceCount(), 2);
  controller.reset();  // before the handler above goes
}

// Without a device set the scan finds nothing: every listed device counts as
// removed, a checked-out one stays listed, unplugged.
TEST_F(ControllerTest, DeviceSetFailureTakesEveryListedDeviceAsRemoved) {
  StartRecorded();
  THidDevice* held = Take(0);
  recorder.Take();
  world->Change(2, {{"faults", {{"deviceSetError", 5}}}});
  controller->DeviceChange();
  EXPECT_EQ(recorder.Take(), (Events{"Unplug 103", "Removal 103", "Unplug 102", "Removal 102",
                                     "Unplug 101", "Removal 101", "Change"}));
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101}));
  EXPECT_FALSE(held->IsPluggedIn());
  ExpectInvariants(*controller);
  world->Change(2, {{"faults", {{"deviceSetError", nullptr}}}});
  controller->CheckIn(held);
  controller->DeviceChange();
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103}));
  ExpectInvariants(*controller);
}

TEST_F(ControllerTest, MemberWhoseDetailsCannotBeReadIsSkipped) {
  TJson three = TSimWorld::LoadWorld("three-devices.json");
  three["devices"][1]["faults"] = {{"interfaceDetailError", 13}};
  StartScanned(three);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
  world->Change(2, {{"faults", {{"interfaceDetailError", nullptr}}}});
  controller->DeviceChange();
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103, 102}));
  ExpectInvariants(*controller);
}

TEST_F(ControllerTest, HidVersionIsTheVersionOfTheHidModule) {
  Start({{"devices", TJson::array()}});
  EXPECT_EQ(THidDeviceController::HidVersion(), u"" QUORVEL_PROJECT_VERSION ".0");
}

// Stands in for the kernel's uevent socket: the test writes datagrams into one
// end of a socket pair; everything arriving counts as sent by the kernel.
class TPairChannel final : public TUeventChannel {
 public:
  TPairChannel() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0, fds_), 0); }
  ~TPairChannel() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  TPairChannel(const TPairChannel&) = delete;
  TPairChannel& operator=(const TPairChannel&) = delete;
  int Fd() const override { return fds_[0]; }
  TReceive Receive(std::vector<char>& message) override {
    message.resize(8192);
    const ssize_t got = ::recv(fds_[0], message.data(), message.size(), 0);
    if (got < 0) {
      return TReceive::kEmpty;
    }
    message.resize(static_cast<std::size_t>(got));
    return TReceive::kMessage;
  }
  void Send(std::string_view datagram) {
    ASSERT_EQ(::send(fds_[1], datagram.data(), datagram.size(), 0),
              static_cast<ssize_t>(datagram.size()));
  }

 private:
  int fds_[2] = {-1, -1};
};

bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1;
}

TEST_F(ControllerTest, HidrawUeventRescansWhenPumped) {
  StartRecorded();
  controller->ProcessMessages();  // the posted message
  controller->DeviceChangeWndProc(0x0219, 0x0007, 0);
  recorder.Take();
  auto owned = std::make_unique<TPairChannel>();
  TPairChannel* channel = owned.get();
  ASSERT_NE(controller->Notifier(), nullptr);
  controller->Notifier()->SetChangeSource(std::move(owned));
  world->Remove(3);
  using namespace std::string_view_literals;
  channel->Send("change@/devices/x/hidraw/hidraw2\0ACTION=change\0SUBSYSTEM=hidraw\0"sv);
  channel->Send("remove@/devices/x/input/input9\0ACTION=remove\0SUBSYSTEM=input\0"sv);
  ASSERT_TRUE(Readable(controller->MessageFd()));
  controller->ProcessMessages();
  EXPECT_TRUE(recorder.Take().empty()) << "no hidraw node came or went";
  // Two hidraw notices pumped together give one scan.
  channel->Send("remove@/devices/x/hidraw/hidraw2\0ACTION=remove\0SUBSYSTEM=hidraw\0"sv);
  channel->Send("add@/devices/x/hidraw/hidraw3\0ACTION=add\0SUBSYSTEM=hidraw\0"sv);
  // A program that does not pump gets nothing.
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103}));
  ASSERT_TRUE(Readable(controller->MessageFd()));
  controller->ProcessMessages();
  EXPECT_EQ(recorder.Take(), (Events{"Unplug 103", "Removal 103", "Change"}));
  EXPECT_FALSE(Readable(controller->MessageFd()));
}

// Platform modules looked for in an empty folder, so that none can be bound.
class ControllerWithoutLibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(::mkdtemp(folder), nullptr);
    platform::SetModuleDirectoryForTest(folder);
  }
  void TearDown() override {
    platform::SetModuleDirectoryForTest("");
    ::rmdir(folder);
  }
  char folder[32] = "/tmp/quorvel-no-modules-XXXXXX";
};

// Without the platform libraries: the fixed GUID, no channel, empty scans.
TEST_F(ControllerWithoutLibrariesTest, WorksWithNothingBound) {
  {
    TRecorder recorder;
    THidDeviceController controller(nullptr, {}, recorder.OnChange());
    const GUID& guid = controller.HidGuid();
    EXPECT_EQ(guid.Data1, 0x4D1E55B2u);
    EXPECT_EQ(guid.Data2, 0xF16F);
    EXPECT_EQ(guid.Data3, 0x11CF);
    EXPECT_EQ(guid.Data4[0], 0x88);
    EXPECT_EQ(guid.Data4[7], 0x30);
    EXPECT_EQ(controller.Notifier(), nullptr);
    EXPECT_EQ(controller.MessageFd(), -1);
    EXPECT_EQ(controller.DeviceCount(), 0);
    EXPECT_TRUE(recorder.Take().empty());
    controller.DeviceChange();
    EXPECT_EQ(controller.Enumerate(), 0);
    THidDevice* device = nullptr;
    EXPECT_FALSE(controller.CheckOut(device));
    EXPECT_EQ(platform::SetupApiBindCount(), 0);
    EXPECT_EQ(platform::HidBindCount(), 0);
  }
  EXPECT_EQ(platform::SetupApiBindCount(), 0);
}

// The HID library bound by another owner, the device-installation library
// missing: the controller has its channel but finds no device set to scan.
TEST_F(ControllerWithoutLibrariesTest, HidBoundElsewhereWithoutDeviceInstallationScansNothing) {
  platform::SetModuleDirectoryForTest("");
  ASSERT_TRUE(platform::BindHid());  // the other owner, from the simulated modules
  platform::SetModuleDirectoryForTest(folder);
  {
    TRecorder recorder;
    THidDeviceController controller(nullptr, {}, recorder.OnChange());
    EXPECT_EQ(platform::SetupApiBindCount(), 0);
    EXPECT_EQ(platform::HidBindCount(), 1) << "HID is bound only after the device installation";
    EXPECT_NE(controller.Notifier(), nullptr);
    EXPECT_EQ(controller.DeviceCount(), 0);
    EXPECT_TRUE(recorder.Take().empty());
    controller.ProcessMessages();  // the posted message forces the change event
    EXPECT_EQ(recorder.Take(), Events{"Change"});
    EXPECT_EQ(controller.Enumerate(), 0);
  }
  EXPECT_EQ(platform::HidBindCount(), 1);
  platform::UnbindHid();
}

}  // namespace
}  // namespace quorvel::hid::test
