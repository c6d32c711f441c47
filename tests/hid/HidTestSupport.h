// Shared pieces of the layer's tests: a controller over a simulated world, event
// recorders, and the invariants every controller operation keeps.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hid/HidControllerClass.h"
#include "tests/hid/SimWorld.h"

namespace quorvel::hid::test {

// Records events as lines "Arrival 102", "Removal 101", "Unplug 101", "Change".
struct TRecorder {
  std::vector<std::string> events;

  static std::string Id(THidDevice* device) {
    return std::to_string(device->PnPInfo()->DeviceID());
  }
  void Arrival(THidDevice* HidDev) { events.push_back("Arrival " + Id(HidDev)); }
  void Removal(THidDevice* HidDev) { events.push_back("Removal " + Id(HidDev)); }
  void Unplug(THidDevice* HidDev) { events.push_back("Unplug " + Id(HidDev)); }
  void Change(TLayerComponent*) { events.push_back("Change"); }

  THidPlugEvent OnArrival() { return THidPlugEvent::Of<&TRecorder::Arrival>(this); }
  THidPlugEvent OnRemoval() { return THidPlugEvent::Of<&TRecorder::Removal>(this); }
  THidPlugEvent OnUnplug() { return THidPlugEvent::Of<&TRecorder::Unplug>(this); }
  TNotifyEvent OnChange() { return TNotifyEvent::Of<&TRecorder::Change>(this); }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
};

// The device-instance numbers of the list, in order.
inline std::vector<uint32_t> ListedIds(const THidDeviceController& controller) {
  std::vector<uint32_t> ids;
  for (int32_t i = 0; i < controller.DeviceCount(); ++i) {
    ids.push_back(controller.Devices(i)->PnPInfo()->DeviceID());
  }
  return ids;
}

// The controller's invariants: every free entry plugged in, no two plugged-in
// entries for one device, and the counters matching the list.
inline void ExpectInvariants(const THidDeviceController& controller) {
  int32_t in = 0;
  int32_t out = 0;
  int32_t unplugged = 0;
  std::vector<uint32_t> plugged;
  for (int32_t i = 0; i < controller.DeviceCount(); ++i) {
    THidDevice* device = controller.Devices(i);
    if (!device->IsCheckedOut()) {
      EXPECT_TRUE(device->IsPluggedIn()) << "free entry " << i << " is unplugged";
      ++in;
    } else if (device->IsPluggedIn()) {
      ++out;
    } else {
      ++unplugged;
    }
    if (device->IsPluggedIn()) {
      const uint32_t id = device->PnPInfo()->DeviceID();
      EXPECT_EQ(std::count(plugged.begin(), plugged.end(), id), 0) << "device " << id << " twice";
      plugged.push_back(id);
    }
  }
  EXPECT_EQ(controller.NumCheckedInDevices(), in);
  EXPECT_EQ(controller.NumCheckedOutDevices(), out);
  EXPECT_EQ(controller.NumUnpluggedDevices(), unplugged);
}

// A simulated world and a controller over it (created by Start).
class SimulatedTest : public ::testing::Test {
 protected:
  void Start(const TJson& worldJson) {
    world = std::make_unique<TSimWorld>(worldJson);
    controller = std::make_unique<THidDeviceController>();
  }
  void StartScanned(const TJson& worldJson) {
    Start(worldJson);
    controller->DeviceChange();
  }
  // The controller goes before the fixture's own handlers do.
  void TearDown() override { controller.reset(); }
  THidDevice* Take(int32_t index) {
    THidDevice* device = nullptr;
    EXPECT_TRUE(controller->CheckOutByIndex(device, index));
    return device;
  }

  // Destroyed in reverse order: the controller before the world gives up its bindings.
  std::unique_ptr<TSimWorld> world;
  std::unique_ptr<THidDeviceController> controller;
};

}  // namespace quorvel::hid::test
