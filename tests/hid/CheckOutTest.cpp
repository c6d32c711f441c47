// Check-out, check-in and counting: each operation's selection rule, and the
// counters after any sequence of operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>

#include "tests/hid/HidTestSupport.h"

namespace quorvel::hid::test {
namespace {

class CheckOutTest : public SimulatedTest {
 protected:
  void SetUp() override { StartScanned(TSimWorld::LoadWorld("checkout.json")); }

  // Reads every device's names inside an enumeration, as the relay tool does.
  void ReadNames() {
    struct TReader {
      bool Read(THidDevice* HidDev, int32_t) {
        (void)HidDev->ProductName();
        (void)HidDev->VendorName();
        return true;
      }
    } reader;
    controller->SetOnEnumerate(THidEnumerateEvent::Of<&TReader::Read>(&reader));
    controller->Enumerate();
    controller->SetOnEnumerate({});
  }

  static uint32_t Id(THidDevice* device) {
    return device == nullptr ? 0 : device->PnPInfo()->DeviceID();
  }
};

struct TSelectCase {
  const char* name;
  bool namesRead;
  std::function<bool(THidDeviceController&, THidDevice*&)> checkOut;
  uint32_t expected;  // 0: nothing taken
};

class SelectionTest : public CheckOutTest, public ::testing::WithParamInterface<TSelectCase> {};

TEST_P(SelectionTest, TakesTheFirstFreeEntryThatFits) {
  if (GetParam().namesRead) {
    ReadNames();
  }
  THidDevice* device = controller->Devices(0);  // a stale value the call must clear
  const bool taken = GetParam().checkOut(*controller, device);
  EXPECT_EQ(taken, GetParam().expected != 0);
  EXPECT_EQ(Id(device), GetParam().expected);
  if (device != nullptr) {
    EXPECT_TRUE(device->IsCheckedOut());
  }
  ExpectInvariants(*controller);
}

using C = THidDeviceController;
using D = THidDevice*&;

INSTANTIATE_TEST_SUITE_P(
    Rules, SelectionTest,
    ::testing::Values(
        TSelectCase{"First", false, [](C& c, D d) { return c.CheckOut(d); }, 101},
        TSelectCase{"IndexInRange", false, [](C& c, D d) { return c.CheckOutByIndex(d, 2); }, 103},
        TSelectCase{"IndexNegative", false, [](C& c, D d) { return c.CheckOutByIndex(d, -1); }, 0},
        TSelectCase{"IndexAtCount", false, [](C& c, D d) { return c.CheckOutByIndex(d, 4); }, 0},
        TSelectCase{"VendorAnyProduct", false,
                    [](C& c, D d) { return c.CheckOutByID(d, 0x1234, -1); }, 102},
        TSelectCase{"VendorAndProduct", false,
                    [](C& c, D d) { return c.CheckOutByID(d, 0x1234, 3); }, 103},
        TSelectCase{"AnyVendorNeverMatches", false,
                    [](C& c, D d) { return c.CheckOutByID(d, -1, 2); }, 0},
        TSelectCase{"VendorAbove16Bits", false,
                    [](C& c, D d) { return c.CheckOutByID(d, 0x11234, 2); }, 0},
        // A device whose path did not open at creation has vendor and product 0.
        TSelectCase{"UnopenedDeviceIsZeroZero", false,
                    [](C& c, D d) { return c.CheckOutByID(d, 0, 0); }, 104},
        TSelectCase{"ProductNameNeverRead", false,
                    [](C& c, D d) { return c.CheckOutByProductName(d, u"Sensor Pad"); }, 0},
        TSelectCase{"ProductNameRead", true,
                    [](C& c, D d) { return c.CheckOutByProductName(d, u"Sensor Pad"); }, 102},
        TSelectCase{"ProductNameEmpty", true,
                    [](C& c, D d) { return c.CheckOutByProductName(d, u""); }, 0},
        TSelectCase{"ProductNameLonger", true,
                    [](C& c, D d) { return c.CheckOutByProductName(d, u"Sensor Pad "); }, 0},
        TSelectCase{"ProductNameOtherCase", true,
                    [](C& c, D d) { return c.CheckOutByProductName(d, u"sensor pad"); }, 0},
        TSelectCase{"VendorNameRead", true,
                    [](C& c, D d) { return c.CheckOutByVendorName(d, u"Acme"); }, 102},
        TSelectCase{"VendorNameEmpty", true,
                    [](C& c, D d) { return c.CheckOutByVendorName(d, u""); }, 0},
        TSelectCase{"Class", false,
                    [](C& c, D d) { return c.CheckOutByClass(d, u"Keyboard"); }, 103},
        TSelectCase{"ClassEmpty", false, [](C& c, D d) { return c.CheckOutByClass(d, u""); }, 0},
        TSelectCase{"Callback", false,
                    [](C& c, D d) {
                      return c.CheckOutByCallback(d, [](THidDevice* HidDev) {
                        return HidDev->Attributes().ProductID == 3;
                      });
                    },
                    103}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(CheckOutTest, CheckedOutAndUnpluggedEntriesAreNotHandedOutAgain) {
  THidDevice* held = Take(1);
  THidDevice* device = nullptr;
  EXPECT_FALSE(controller->CheckOutByIndex(device, 1));
  EXPECT_EQ(device, nullptr);
  world->Remove(2);
  controller->DeviceChange();
  EXPECT_FALSE(controller->CheckOutByIndex(device, 1));
  EXPECT_FALSE(controller->CheckOutByID(device, 0x1234, 2));
  EXPECT_EQ(held->IsPluggedIn(), false);
  ExpectInvariants(*controller);
}

TEST_F(CheckOutTest, CheckOutReturnsEveryFreeEntryInListOrderOnce) {
  std::vector<uint32_t> taken;
  for (THidDevice* device = nullptr; controller->CheckOut(device);) {
    taken.push_back(Id(device));
  }
  EXPECT_EQ(taken, (std::vector<uint32_t>{101, 102, 103, 104}));
  EXPECT_EQ(controller->NumCheckedInDevices(), 0);
  EXPECT_EQ(controller->NumCheckedOutDevices(), 4);
  EXPECT_EQ(controller->NumUnpluggedDevices(), 0);
}

TEST_F(CheckOutTest, ByNameWalksOnPastCheckedOutMatches) {
  ReadNames();
  THidDevice* first = nullptr;
  THidDevice* second = nullptr;
  THidDevice* third = nullptr;
  EXPECT_TRUE(controller->CheckOutByProductName(first, u"Sensor Pad"));
  EXPECT_TRUE(controller->CheckOutByProductName(second, u"Sensor Pad"));
  EXPECT_FALSE(controller->CheckOutByProductName(third, u"Sensor Pad"));
  EXPECT_EQ(Id(first), 102u);
  EXPECT_EQ(Id(second), 103u);
}

TEST_F(CheckOutTest, CountsIncludeCheckedOutButNeverUnpluggedEntries) {
  Take(1);
  EXPECT_EQ(controller->CountByID(0x1234, -1), 2);
  EXPECT_EQ(controller->CountByClass(u"HIDClass"), 3);
  EXPECT_EQ(controller->CountByClass(u""), 0);
  world->Remove(2);
  controller->DeviceChange();
  EXPECT_EQ(controller->CountByID(0x1234, -1), 1);
  EXPECT_EQ(controller->CountByCallback([](THidDevice*) { return true; }), 3);
}

TEST_F(CheckOutTest, EmptyNameCountsDevicesWhoseNameReadsEmpty) {
  // Never read: every free device's name reads empty outside callbacks.
  EXPECT_EQ(controller->CountByProductName(u""), 4);
  ReadNames();
  // Read in the enumeration: only the device that did not open stays empty.
  EXPECT_EQ(controller->CountByProductName(u""), 1);
  EXPECT_EQ(controller->CountByProductName(u"Sensor Pad"), 2);
  EXPECT_EQ(controller->CountByVendorName(u"Acme"), 2);
}

TEST_F(CheckOutTest, CallbackSkipsCheckedOutEntriesAndClosesWhatItOpened) {
  Take(0);
  static std::vector<uint32_t> seen;
  seen.clear();
  THidDevice* device = nullptr;
  const bool taken = controller->CheckOutByCallback(device, [](THidDevice* HidDev) {
    seen.push_back(HidDev->PnPInfo()->DeviceID());
    EXPECT_TRUE(HidDev->OpenFile() || HidDev->Attributes().VendorID == 0);
    return HidDev->PnPInfo()->DeviceID() == 103;
  });
  ASSERT_TRUE(taken);
  EXPECT_EQ(seen, (std::vector<uint32_t>{102, 103}));
  EXPECT_EQ(world->OpenHandles(2), 0);
  // The device taken keeps the handle its check opened.
  EXPECT_EQ(world->OpenHandles(3), 1);
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);
}

// A check that checks another device in shortens the list under the walk.
THidDeviceController* gController = nullptr;
THidDevice* gHeld = nullptr;

TEST_F(CheckOutTest, CallbackThatChecksAnotherDeviceInTakesTheDeviceItApproved) {
  gController = controller.get();
  gHeld = Take(0);
  world->Remove(1);
  controller->DeviceChange();  // 101 stays listed, unplugged, until checked in
  THidDevice* device = nullptr;
  ASSERT_TRUE(controller->CheckOutByCallback(device, [](THidDevice* HidDev) {
    if (HidDev->PnPInfo()->DeviceID() != 103) {
      return false;
    }
    gController->CheckIn(gHeld);
    return true;
  }));
  EXPECT_EQ(Id(device), 103u);
  EXPECT_EQ(ListedIds(*controller), (std::vector<uint32_t>{102, 103, 104}));
  EXPECT_FALSE(controller->Devices(2)->IsCheckedOut());
  ExpectInvariants(*controller);
}

// A check that checks its device out itself makes the controller's check-out
// fail, but the device is checked out and keeps its handles (its read thread
// may be using them already); every other device shown is closed again.
TEST_F(CheckOutTest, CallbackThatChecksTheDeviceOutItselfLeavesItOpen) {
  THidDevice* device = nullptr;
  EXPECT_FALSE(controller->CheckOutByCallback(device, [](THidDevice* HidDev) {
    EXPECT_TRUE(HidDev->OpenFile() || HidDev->Attributes().VendorID == 0);
    if (HidDev->PnPInfo()->DeviceID() == 102) {
      return false;
    }
    return HidDev->CheckOut();  // taken already: the controller's check-out fails
  }));
  EXPECT_EQ(device, nullptr);
  for (int id = 1; id <= 4; ++id) {
    SCOPED_TRACE("device " + std::to_string(id));
    THidDevice* entry = controller->Devices(id - 1);
    EXPECT_EQ(entry->IsCheckedOut(), id != 2);
    const bool opened = entry->Attributes().VendorID != 0;
    EXPECT_EQ(world->OpenHandles(id), id != 2 && opened ? 1 : 0);
  }
  ExpectInvariants(*controller);
}

TEST_F(CheckOutTest, NoCallbackFitsNoDevice) {
  THidDevice* device = controller->Devices(0);
  EXPECT_FALSE(controller->CheckOutByCallback(device, nullptr));
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(controller->CountByCallback(nullptr), 0);
  ExpectInvariants(*controller);
}

TEST_F(CheckOutTest, CountByCallbackClosesHandlesOfFreeDevicesOnly) {
  THidDevice* held = Take(0);
  ASSERT_TRUE(held->OpenFile());
  EXPECT_EQ(controller->CountByCallback([](THidDevice* HidDev) { return HidDev->OpenFile(); }), 3);
  EXPECT_EQ(world->OpenHandles(1), 1);
  EXPECT_EQ(world->OpenHandles(2), 0);
  EXPECT_EQ(world->OpenHandles(3), 0);
}

TEST_F(CheckOutTest, CheckInReturnsAPluggedDeviceAndFreesAnUnpluggedOne) {
  THidDevice* device = Take(1);
  ASSERT_TRUE(device->OpenFile());
  THidDevice* kept = device;
  controller->CheckIn(device);
  EXPECT_EQ(device, nullptr);
  EXPECT_FALSE(kept->IsCheckedOut());
  EXPECT_EQ(world->OpenHandles(2), 0);
  THidDevice* again = nullptr;
  ASSERT_TRUE(controller->CheckOutByIndex(again, 1));
  EXPECT_EQ(again, kept);
  world->Remove(2);
  controller->DeviceChange();
  controller->CheckIn(again);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(controller->DeviceCount(), 3);
  EXPECT_EQ(controller->NumUnpluggedDevices(), 0);
  THidDevice* none = nullptr;
  controller->CheckIn(none);
  ExpectInvariants(*controller);
}

// A random sequence of scans with devices coming and going, check-outs by
// several criteria, check-ins and frees, against a model of the list.
struct TEntryModel {
  uint32_t instance;
  bool checkedOut;
  bool plugged;
  bool operator==(const TEntryModel&) const = default;
};

int gWantedParity = 0;

TEST(CheckOutSequenceTest, CountersAndListFollowTheModel) {
  // QUORVEL_TEST_SEED repeats a failed run.
  const char* given = std::getenv("QUORVEL_TEST_SEED");
  const unsigned seed =
      given != nullptr ? static_cast<unsigned>(std::stoul(given)) : std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

  auto deviceJson = [](int k) {
    return TJson{
        {"id", k},
        {"instance", 100 + k},
        {"vendorId", 0x1000 + k % 2},
        {"productId", k},
        {"product", "Unit " + std::to_string(k)},
        {"reportDescriptor", "06 00 FF 09 01 A1 01 15 00 26 FF 00 75 08 95 08 09 01 B1 02 C0"},
        {"generic", TJson::object()}};
  };
  constexpr int kDevices = 5;
  TSimWorld world;
  std::vector<int> present;  // world order
  for (int k = 1; k <= kDevices; ++k) {
    world.Add(deviceJson(k));
    present.push_back(k);
  }
  THidDeviceController controller;
  std::vector<TEntryModel> model;
  std::vector<THidDevice*> held;

  auto scan = [&] {
    controller.DeviceChange();
    for (std::size_t i = model.size(); i-- > 0;) {
      const int k = static_cast<int>(model[i].instance) - 100;
      const bool found = std::find(present.begin(), present.end(), k) != present.end();
      if (!model[i].plugged || !found) {
        model[i].plugged = false;
        if (!model[i].checkedOut) {
          model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
    for (int k : present) {
      const auto instance = static_cast<uint32_t>(100 + k);
      if (std::none_of(model.begin(), model.end(),
                       [&](const TEntryModel& e) { return e.plugged && e.instance == instance; })) {
        model.push_back({instance, false, true});
      }
    }
  };
  auto takeAt = [&](int index, bool result, THidDevice* device) {
    const bool expected = index >= 0 && index < static_cast<int>(model.size()) &&
                          !model[static_cast<std::size_t>(index)].checkedOut;
    EXPECT_EQ(result, expected) << "index " << index;
    if (result) {
      model[static_cast<std::size_t>(index)].checkedOut = true;
      held.push_back(device);
    }
  };
  auto firstFree = [&](auto fits) {
    for (std::size_t i = 0; i < model.size(); ++i) {
      if (!model[i].checkedOut && fits(model[i].instance)) {
        return static_cast<int>(i);
      }
    }
    return -1;
  };
  auto indexOf = [&](THidDevice* device) {
    for (int32_t i = 0; i < controller.DeviceCount(); ++i) {
      if (controller.Devices(i) == device) {
        return static_cast<std::size_t>(i);
      }
    }
    ADD_FAILURE() << "a held device is not listed";
    return std::size_t{0};
  };

  scan();
  for (int step = 0; step < 400 && !::testing::Test::HasFailure(); ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    THidDevice* device = nullptr;
    switch (pick(8)) {
      case 0: {  // a device comes or goes, then a scan
        const int k = 1 + pick(kDevices);
        const auto at = std::find(present.begin(), present.end(), k);
        if (at != present.end()) {
          world.Remove(k);
          present.erase(at);
        } else {
          world.Add(deviceJson(k));
          present.push_back(k);
        }
        scan();
        break;
      }
      case 1: {
        const int expected = firstFree([](uint32_t) { return true; });
        const bool result = controller.CheckOut(device);
        takeAt(expected, result, device);
        EXPECT_EQ(result, expected >= 0);
        break;
      }
      case 2: {
        const int index = pick(static_cast<int>(model.size()) + 2) - 1;
        const bool result = controller.CheckOutByIndex(device, index);
        takeAt(index, result, device);
        break;
      }
      case 3: {
        const int vendor = 0x1000 + pick(2);
        const int product = pick(2) == 0 ? -1 : 1 + pick(kDevices);
        const int expected = firstFree([&](uint32_t instance) {
          const int k = static_cast<int>(instance) - 100;
          return 0x1000 + k % 2 == vendor && (product == -1 || product == k);
        });
        const bool result = controller.CheckOutByID(device, vendor, product);
        EXPECT_EQ(result, expected >= 0);
        takeAt(expected, result, device);
        break;
      }
      case 4: {
        gWantedParity = pick(2);
        const int expected = firstFree(
            [](uint32_t instance) { return static_cast<int>(instance % 2) == gWantedParity; });
        const bool result = controller.CheckOutByCallback(device, [](THidDevice* HidDev) {
          return static_cast<int>(HidDev->PnPInfo()->DeviceID() % 2) == gWantedParity;
        });
        EXPECT_EQ(result, expected >= 0);
        takeAt(expected, result, device);
        break;
      }
      case 5:
      case 6: {  // check in, or free, a held device
        if (held.empty()) {
          break;
        }
        const auto which = static_cast<std::size_t>(pick(static_cast<int>(held.size())));
        THidDevice* giving = held[which];
        held.erase(held.begin() + static_cast<std::ptrdiff_t>(which));
        const std::size_t index = indexOf(giving);
        if (model[index].plugged) {
          model[index].checkedOut = false;  // checked in, or replaced by a free entry
        } else {
          model.erase(model.begin() + static_cast<std::ptrdiff_t>(index));
        }
        if (pick(2) == 0) {
          controller.CheckIn(giving);
          EXPECT_EQ(giving, nullptr);
        } else {
          delete giving;  // the application frees a device it holds
        }
        break;
      }
      default:
        scan();
        break;
    }
    std::vector<TEntryModel> actual;
    for (int32_t i = 0; i < controller.DeviceCount(); ++i) {
      THidDevice* entry = controller.Devices(i);
      actual.push_back({entry->PnPInfo()->DeviceID(), entry->IsCheckedOut(), entry->IsPluggedIn()});
    }
    ASSERT_EQ(actual, model);
    ExpectInvariants(controller);
  }
}

// A check may give the device it is shown back by deleting it: that entry is not
// taken, its replacement stays free, and the search goes on.
TEST_F(CheckOutTest, CheckThatFreesItsDeviceLeavesTheReplacementFree) {
  const std::vector<uint32_t> before = ListedIds(*controller);
  static int calls;
  calls = 0;
  THidDevice* device = nullptr;
  ASSERT_TRUE(controller->CheckOutByCallback(device, [](THidDevice* HidDev) {
    if (++calls == 1) {
      delete HidDev;
    }
    return true;
  }));
  EXPECT_EQ(device, controller->Devices(1));
  EXPECT_FALSE(controller->Devices(0)->IsCheckedOut());
  EXPECT_EQ(ListedIds(*controller), before);
  ExpectInvariants(*controller);

  calls = 0;
  const int32_t plugged = controller->NumCheckedInDevices() + controller->NumCheckedOutDevices();
  EXPECT_EQ(controller->CountByCallback([](THidDevice* HidDev) {
    ++calls;
    if (!HidDev->IsCheckedOut()) {
      delete HidDev;
    }
    return true;
  }),
            plugged);
  EXPECT_EQ(calls, plugged);
  EXPECT_EQ(ListedIds(*controller), before);
  ExpectInvariants(*controller);
}

}  // namespace
}  // namespace quorvel::hid::test
