// Handlers that call back into the controller: nested scans and pumps, check-out,
// check-in and freeing from inside events and callbacks, and the destructor's
// handlers reading the controller.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

using Events = std::vector<std::string>;

// Handlers whose bodies the test supplies; each event is also recorded.
struct THooks {
  TRecorder recorder;
  std::function<void(THidDevice*)> arrival, removal, unplug;
  std::function<void()> change;
  std::function<bool(THidDevice*, int32_t)> enumerate;

  void Arrival(THidDevice* HidDev) {
    recorder.Arrival(HidDev);
    if (arrival) {
      arrival(HidDev);
    }
  }
  void Removal(THidDevice* HidDev) {
    recorder.Removal(HidDev);
    if (removal) {
      removal(HidDev);
    }
  }
  void Unplug(THidDevice* HidDev) {
    recorder.Unplug(HidDev);
    if (unplug) {
      unplug(HidDev);
    }
  }
  void Change(TLayerComponent* Sender) {
    recorder.Change(Sender);
    if (change) {
      change();
    }
  }
  bool Enumerate(THidDevice* HidDev, int32_t Idx) { return !enumerate || enumerate(HidDev, Idx); }

  THidPlugEvent OnArrival() { return THidPlugEvent::Of<&THooks::Arrival>(this); }
  THidPlugEvent OnRemoval() { return THidPlugEvent::Of<&THooks::Removal>(this); }
  THidPlugEvent OnUnplug() { return THidPlugEvent::Of<&THooks::Unplug>(this); }
  TNotifyEvent OnChange() { return TNotifyEvent::Of<&THooks::Change>(this); }
  THidEnumerateEvent OnEnumerate() { return THidEnumerateEvent::Of<&THooks::Enumerate>(this); }
};

class ReentryTest : public SimulatedTest {
 protected:
  void TearDown() override {
    controller.reset();  // before the hooks go
  }
  static uint32_t Id(const THidDevice* device) { return device->PnPInfo()->DeviceID(); }
  THooks hooks;
};

// The change message posted at creation waits; the first scan's arrival handler
// pumps, which runs that message's scan in the middle of the first one.
TEST_F(ReentryTest, ScanInsideAScanListsEachDeviceOnce) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  hooks.arrival = [&](THidDevice*) { controller->ProcessMessages(); };
  controller->SetOnArrival(hooks.OnArrival());
  controller->SetOnDeviceChange(hooks.OnChange());
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103}));
  ExpectInvariants(*controller);
  // Each device arrived once, and the same holds for a direct nested scan.
  hooks.recorder.Take();
  hooks.arrival = [&](THidDevice*) { controller->DeviceChange(); };
  world->Add({{"id", 4},
              {"instance", 104},
              {"reportDescriptor", "06 00 FF 09 01 A1 01 75 08 95 01 09 01 B1 02 C0"},
              {"generic", TJson::object()}});
  world->Add({{"id", 5},
              {"instance", 105},
              {"reportDescriptor", "06 00 FF 09 01 A1 01 75 08 95 01 09 01 B1 02 C0"},
              {"generic", TJson::object()}});
  controller->DeviceChange();
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 102, 103, 104, 105}));
  const Events events = hooks.recorder.Take();
  EXPECT_EQ(std::count(events.begin(), events.end(), "Arrival 104"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "Arrival 105"), 1);
  ExpectInvariants(*controller);
}

// Inside OnUnplug and OnRemoval the vanished free device is still listed; no
// check-out may hand it out.
TEST_F(ReentryTest, CheckOutInsideUnplugOrRemovalNeverHandsOutTheVanishedDevice) {
  for (const bool inUnplug : {true, false}) {
    SCOPED_TRACE(inUnplug ? "OnUnplug" : "OnRemoval");
    StartScanned(TSimWorld::LoadWorld("three-devices.json"));
    std::vector<bool> results;
    auto tryAll = [&](THidDevice* vanished) {
      const int32_t index = [&] {
        for (int32_t i = 0; i < controller->DeviceCount(); ++i) {
          if (controller->Devices(i) == vanished) {
            return i;
          }
        }
        return -1;
      }();
      THidDevice* taken = nullptr;
      results.push_back(controller->CheckOutByID(taken, 0x1234, 0x0002));
      results.push_back(controller->CheckOutByIndex(taken, index));
      results.push_back(vanished->CheckOut());
    };
    if (inUnplug) {
      hooks.unplug = tryAll;
      controller->SetOnDeviceUnplug(hooks.OnUnplug());
    } else {
      hooks.removal = tryAll;
      controller->SetOnRemoval(hooks.OnRemoval());
    }
    world->Remove(2);
    controller->DeviceChange();
    EXPECT_EQ(results, (std::vector<bool>{false, false, false}));
    EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
    ExpectInvariants(*controller);
    hooks = {};
  }
}

// The natural reaction to an unplug: check the device in, which frees it. The
// scan then neither touches the freed object nor reports its removal.
TEST_F(ReentryTest, UnplugHandlerMayCheckItsDeviceIn) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  THidDevice* held = Take(1);
  hooks.unplug = [&](THidDevice* HidDev) {
    EXPECT_EQ(HidDev, held);
    controller->CheckIn(held);
  };
  controller->SetOnDeviceUnplug(hooks.OnUnplug());
  controller->SetOnRemoval(hooks.OnRemoval());
  controller->SetOnDeviceChange(hooks.OnChange());
  hooks.recorder.Take();
  world->Remove(2);
  controller->DeviceChange();
  EXPECT_EQ(held, nullptr);
  EXPECT_EQ(hooks.recorder.Take(), (Events{"Unplug 102", "Change"}));
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{101, 103}));
  ExpectInvariants(*controller);
  // A handler that gives its device a new OnUnplug does not keep it either.
  THidDevice* other = Take(0);
  other->SetOnUnplug(hooks.OnUnplug());
  hooks.unplug = [&](THidDevice* HidDev) { HidDev->SetOnUnplug(hooks.OnUnplug()); };
  world->Remove(1);
  controller->DeviceChange();
  EXPECT_FALSE(other->OnUnplug().Assigned());
  controller->CheckIn(other);
  ExpectInvariants(*controller);
}

// A check or enumerate handler that checks an earlier entry in shortens the list
// under the walk: every entry listed at the start is still visited once.
TEST_F(ReentryTest, WalksVisitEveryEntryWhenAHandlerChecksAnEarlierOneIn) {
  static THidDeviceController* gController;
  static THidDevice* gHeld;
  static std::vector<uint32_t> gSeen;
  static auto checkInHeld = [](THidDevice* HidDev) {
    gSeen.push_back(Id(HidDev));
    gController->CheckIn(gHeld);  // no-op once null
    return Id(HidDev) == 103;
  };
  struct TCase {
    const char* name;
    std::function<void(THidDeviceController&)> walk;
    std::vector<uint32_t> seen;
  };
  const std::vector<TCase> cases = {
      {"CheckOutByCallback",
       [](THidDeviceController& c) {
         THidDevice* taken = nullptr;
         EXPECT_TRUE(c.CheckOutByCallback(taken, [](THidDevice* d) { return checkInHeld(d); }));
         EXPECT_EQ(taken != nullptr ? Id(taken) : 0u, 103u);
       },
       {102, 103}},
      {"CountByCallback",
       [](THidDeviceController& c) {
         EXPECT_EQ(c.CountByCallback([](THidDevice* d) { return checkInHeld(d); }), 1);
       },
       {102, 103, 104}},
      {"Enumerate",
       [this](THidDeviceController& c) {
         hooks.enumerate = [](THidDevice* d, int32_t Idx) {
           EXPECT_EQ(gController->Devices(Idx), d);
           checkInHeld(d);
           return true;
         };
         c.SetOnEnumerate(hooks.OnEnumerate());
         EXPECT_EQ(c.Enumerate(), 3);
       },
       {102, 103, 104}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    StartScanned(TSimWorld::LoadWorld("checkout.json"));
    gController = controller.get();
    gHeld = Take(0);
    world->Remove(1);
    controller->DeviceChange();  // 101 stays listed, unplugged, until checked in
    gSeen.clear();
    c.walk(*controller);
    EXPECT_EQ(gSeen, c.seen);
    EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{102, 103, 104}));
    ExpectInvariants(*controller);
  }
}

// Handles a handler opened on a free device are closed again after arrival.
TEST_F(ReentryTest, HandlesOpenedInArrivalAreClosedAfterwards) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  std::vector<uint32_t> opened;
  hooks.arrival = [&](THidDevice* HidDev) {
    if (HidDev->OpenFile()) {
      opened.push_back(Id(HidDev));
    }
    if (Id(HidDev) == 102) {
      THidDevice* kept = nullptr;
      EXPECT_TRUE(controller->CheckOutByIndex(kept, controller->DeviceCount() - 1));
    }
  };
  controller->SetOnArrival(hooks.OnArrival());
  controller->DeviceChange();
  EXPECT_EQ(opened, (std::vector<uint32_t>{101, 102, 103}));
  EXPECT_EQ(world->OpenHandles(1), 0);
  EXPECT_EQ(world->OpenHandles(2), 1);  // checked out in its handler: kept
  EXPECT_EQ(world->OpenHandles(3), 0);
  EXPECT_FALSE(controller->Devices(0)->IsUsable());
}

// A Check that throws: the walk stops, the device is closed and not usable, and
// nothing was taken.
TEST_F(ReentryTest, CheckThatThrowsLeavesTheDeviceClosedAndTheCountersAlone) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  auto throwing = [](THidDevice* HidDev) -> bool {
    EXPECT_TRUE(HidDev->OpenFile());
    throw std::runtime_error("check failed");
  };
  THidDevice* taken = controller->Devices(1);
  EXPECT_THROW(controller->CheckOutByCallback(taken, throwing), std::runtime_error);
  EXPECT_EQ(taken, nullptr);
  EXPECT_THROW(controller->CountByCallback(throwing), std::runtime_error);
  EXPECT_EQ(world->OpenHandles(1), 0);
  EXPECT_FALSE(controller->Devices(0)->IsUsable());
  EXPECT_FALSE(controller->Devices(0)->OpenFile());
  EXPECT_EQ(controller->NumCheckedInDevices(), 3);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 0);
  ExpectInvariants(*controller);
}

// The destructor marks checked-out devices unplugged while others are still
// listed: their handlers may read and use the controller, and check their own
// device in.
TEST_F(ReentryTest, DestructorHandlersMayUseTheController) {
  StartScanned(TSimWorld::LoadWorld("three-devices.json"));
  THidDevice* first = Take(0);
  THidDevice* last = Take(2);
  // The unique pointer is null while the controller goes.
  THidDeviceController* going = controller.get();
  std::vector<int32_t> counts;
  hooks.unplug = [&](THidDevice* HidDev) {
    for (int32_t i = 0; i < going->DeviceCount(); ++i) {
      ASSERT_NE(going->Devices(i), nullptr) << "entry " << i;
      (void)going->Devices(i)->IsPluggedIn();
    }
    counts.push_back(going->DeviceCount());
    (void)going->CountByID(0x1234, -1);
    (void)going->Enumerate();
    THidDevice* another = nullptr;
    (void)going->CheckOut(another);
    if (HidDev == last) {
      going->CheckIn(last);
    }
  };
  first->SetOnUnplug(hooks.OnUnplug());
  last->SetOnUnplug(hooks.OnUnplug());
  controller.reset();
  EXPECT_EQ(hooks.recorder.Take(), (Events{"Unplug 101", "Unplug 103"}));
  EXPECT_EQ(counts.size(), 2u);
  EXPECT_EQ(last, nullptr);
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(world->OpenHandles(id), 0);
  }
}

// The destructor's last scan (with a change handler installed) reports arrivals
// and removals, but no change.
TEST_F(ReentryTest, DestructorsLastScanRaisesArrivalAndRemovalButNoChange) {
  Start(TSimWorld::LoadWorld("three-devices.json"));
  controller->SetOnArrival(hooks.OnArrival());
  controller->SetOnRemoval(hooks.OnRemoval());
  controller->SetOnDeviceChange(hooks.OnChange());
  hooks.recorder.Take();
  world->Remove(3);
  world->Add({{"id", 4},
              {"instance", 104},
              {"reportDescriptor", "06 00 FF 09 01 A1 01 75 08 95 01 09 01 B1 02 C0"},
              {"generic", TJson::object()}});
  controller.reset();
  EXPECT_EQ(hooks.recorder.Take(), (Events{"Removal 103", "Arrival 104"}));
}

}  // namespace
}  // namespace quorvel::hid::test
