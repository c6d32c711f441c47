// The device's read thread over the simulated game pad: reports reach OnData on
// the main thread, handlers can be replaced, stopping cancels the read, and an
// unplugged device reports read errors until it is checked in.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "hid/HidDeviceReadThread.h"
#include "hid/MainThread.h"
#include "platform/PlatformKernel.h"
#include "sim/SimControl.h"
#include "tests/hid/HidTestSupport.h"
#include "tests/hid/ThreadNameProbe.h"

namespace quorvel::hid::test {
namespace {

struct TReceived {
  uint8_t reportId;
  std::vector<uint8_t> data;
  bool operator==(const TReceived&) const = default;
};

// Records deliveries with the thread they arrived on.
struct TDataSink {
  std::vector<TReceived> reports;
  std::vector<uint32_t> errors;
  bool offMainThread = false;
  bool throwOnData = false;
  std::thread::id main = std::this_thread::get_id();

  void Data(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size) {
    offMainThread |= std::this_thread::get_id() != main;
    reports.push_back({ReportID, std::vector<uint8_t>(Data, Data + Size)});
    if (throwOnData) {
      throw std::runtime_error("handler failed");
    }
  }
  void Error(THidDevice*, uint32_t Error) {
    offMainThread |= std::this_thread::get_id() != main;
    errors.push_back(Error);
  }
  THidDataEvent OnData() { return THidDataEvent::Of<&TDataSink::Data>(this); }
  THidDataErrorEvent OnDataError() { return THidDataErrorEvent::Of<&TDataSink::Error>(this); }
};

void WINAPI Ignore(DWORD, DWORD, LPOVERLAPPED) {}

class ReadThreadTest : public SimulatedTest {
 protected:
  void SetUp() override { StartScanned(TSimWorld::LoadWorld("gamepad.json")); }
  // Pumps until `done` holds; about ten seconds at most, so a fault fails
  // instead of hanging, and no bound is close to the expected time.
  template <typename Done>
  bool PumpUntil(Done done) {
    for (int i = 0; i < 10000 && !done(); ++i) {
      controller->ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  }
  sim::TSimControl sim;
};

// `count` game pads, ids 1.., instances 201...
TJson Pads(int count) {
  TJson world = TSimWorld::LoadWorld("gamepad.json");
  const TJson pad = world["devices"][0];
  world["devices"] = TJson::array();
  for (int k = 1; k <= count; ++k) {
    TJson device = pad;
    device["id"] = k;
    device["instance"] = 200 + k;
    world["devices"].push_back(device);
  }
  return world;
}

// Waits, without serving, until `count` deliveries wait for the main thread.
bool AwaitWaitingDeliveries(std::size_t count) {
  for (int i = 0; i < 10000 && TMainThreadQueue::Instance().Waiting() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return TMainThreadQueue::Instance().Waiting() >= count;
}

TEST_F(ReadThreadTest, DirectCreationIsRefused) {
  try {
    THidDeviceReadThread thread;
    FAIL() << "created";
  } catch (const EControllerError& e) {
    EXPECT_STREQ(e.what(), "Direct creation of a TDeviceReadThread object is not allowed");
  }
}

TEST_F(ReadThreadTest, InputReportsReachOnDataOnTheMainThread) {
  TDataSink sink;
  THidDevice* device = Take(0);
  ASSERT_TRUE(device->HasReadWriteAccess());
  device->SetOnData(sink.OnData());
  ASSERT_NE(device->ReadThread(), nullptr);

  const std::vector<std::pair<const char*, TReceived>> cases = {
      {"01 05 40", {1, {0x05, 0x40}}},
      {"01 FF 00", {1, {0xFF, 0x00}}},
      {"01 00 7F", {1, {0x00, 0x7F}}},
  };
  for (const auto& [hex, expected] : cases) {
    sim.PushInput(1, hex);
  }
  ASSERT_TRUE(PumpUntil([&] { return sink.reports.size() >= cases.size(); }));
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(sink.reports[i], cases[i].second) << cases[i].first;
  }
  EXPECT_FALSE(sink.offMainThread);
  device->SetOnData({});
  EXPECT_EQ(device->ReadThread(), nullptr);
}

TEST_F(ReadThreadTest, ThreadIsNamedAfterItsClass) {
  TDataSink sink;
  THidDevice* device = Take(0);
  device->SetOnData(sink.OnData());
  ASSERT_NE(device->ReadThread(), nullptr);
  EXPECT_EQ(device->ReadThread()->ThreadName(), u"THidDeviceReadThread");
  const uint32_t id = device->ReadThread()->ThreadID();
  if (!ShownThreadName(id)) {
    GTEST_SKIP() << "this system shows no thread names";
  }
  const std::string shown = ShownForm("THidDeviceReadThread");
  EXPECT_EQ(AwaitShownThreadName(id, shown), shown);
  device->SetOnData({});
}

TEST_F(ReadThreadTest, ReplacingOnDataKeepsTheThreadAndSwitchesHandler) {
  TDataSink first, second;
  THidDevice* device = Take(0);
  device->SetOnData(first.OnData());
  const THidDeviceReadThread* thread = device->ReadThread();
  sim.PushInput(1, "01 01 01");
  ASSERT_TRUE(PumpUntil([&] { return first.reports.size() == 1; }));

  device->SetOnData(second.OnData());
  EXPECT_EQ(device->ReadThread(), thread);
  sim.PushInput(1, "01 02 02");
  ASSERT_TRUE(PumpUntil([&] { return second.reports.size() == 1; }));
  EXPECT_EQ(first.reports.size(), 1u);
  EXPECT_EQ(second.reports[0], (TReceived{1, {0x02, 0x02}}));
}

TEST_F(ReadThreadTest, UnsettingOnDataEndsTheThreadAndItsRead) {
  TDataSink sink;
  THidDevice* device = Take(0);
  device->SetThreadSleepTime(10);
  device->SetOnData(sink.OnData());
  ASSERT_NE(device->ReadThread(), nullptr);
  device->SetOnData({});
  EXPECT_EQ(device->ReadThread(), nullptr);
  // No read is left waiting: a report pushed now stays queued for the next reader.
  sim.PushInput(1, "01 03 03");
  controller->ProcessMessages();
  EXPECT_TRUE(sink.reports.empty());
  EXPECT_EQ(world->Device(1)["generic"]["input"], TJson::array({"01 03 03"}));
  // The device's own overlapped read works afterwards.
  char buffer[3]{};
  ASSERT_TRUE(device->ReadFileEx(buffer, sizeof buffer, &Ignore));
  DWORD wait = 0;
  for (int i = 0; i < 1000 && wait != WAIT_IO_COMPLETION; ++i) {
    wait = ::SleepEx(10, TRUE);
  }
  EXPECT_EQ(device->HidOverlappedReadResult(), 3u);
  EXPECT_EQ(buffer[1], 3);
}

TEST_F(ReadThreadTest, StoppingServesAPendingDelivery) {
  TDataSink sink;
  THidDevice* device = Take(0);
  device->SetOnData(sink.OnData());
  sim.PushInput(1, "01 06 06");
  // Without pumping: once the thread's read took the report, its delivery is due.
  for (int i = 0; i < 10000 && !world->Device(1)["generic"]["input"].empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(world->Device(1)["generic"]["input"].empty());
  ASSERT_TRUE(sink.reports.empty());
  device->SetOnData({});  // would hang if the stop did not serve the delivery
  EXPECT_EQ(device->ReadThread(), nullptr);
  ASSERT_EQ(sink.reports.size(), 1u);
  EXPECT_EQ(sink.reports[0], (TReceived{1, {0x06, 0x06}}));
}

TEST_F(ReadThreadTest, UnpluggedDeviceReportsReadErrorsUntilCheckedIn) {
  TDataSink sink;
  THidDevice* device = Take(0);
  device->SetThreadSleepTime(10);
  device->SetOnDataError(sink.OnDataError());
  device->SetOnData(sink.OnData());
  world->Remove(1);
  controller->DeviceChange();
  ASSERT_FALSE(device->IsPluggedIn());
  // One request may have failed between the removal and the rescan, with the
  // platform's own error; every later one fails as not connected.
  sink.errors.clear();
  ASSERT_TRUE(PumpUntil([&] { return sink.errors.size() >= 4; }));
  EXPECT_NE(sink.errors[0], 0u);
  for (size_t i = 1; i < sink.errors.size(); ++i) {
    EXPECT_EQ(sink.errors[i], ERROR_DEVICE_NOT_CONNECTED) << i;
  }
  EXPECT_TRUE(sink.reports.empty());
  controller->CheckIn(device);  // stops the thread and frees the device
  const size_t seen = sink.errors.size();
  controller->ProcessMessages();
  EXPECT_EQ(sink.errors.size(), seen);
  EXPECT_FALSE(sink.offMainThread);
}

TEST_F(ReadThreadTest, NoThreadWithoutReadWriteAccess) {
  TJson pad = TSimWorld::LoadWorld("gamepad.json");
  pad["devices"][0]["faults"] = {{"open", "metadataOnly"}};
  StartScanned(pad);
  TDataSink sink;
  THidDevice* device = Take(0);
  ASSERT_EQ(device->Attributes().ProductID, 0x0042);
  EXPECT_FALSE(device->HasReadWriteAccess());
  device->SetOnData(sink.OnData());
  EXPECT_EQ(device->ReadThread(), nullptr);
  EXPECT_FALSE(device->OpenFile() && device->HasReadWriteAccess());
  device->CheckOut();
  EXPECT_EQ(device->ReadThread(), nullptr);
}

TEST_F(ReadThreadTest, AHandlerErrorEndsTheThreadUntilItIsStopped) {
  TDataSink sink;
  sink.throwOnData = true;
  THidDevice* device = Take(0);
  device->SetOnData(sink.OnData());
  sim.PushInput(1, "01 04 04");
  sim.PushInput(1, "01 05 05");
  ASSERT_TRUE(PumpUntil([&] { return device->ReadThread()->Finished(); }));
  EXPECT_EQ(sink.reports.size(), 1u);
  // It stays the device's thread, and no other starts beside it.
  device->CheckOut();
  EXPECT_TRUE(device->ReadThread()->Finished());
  device->SetOnData({});
  EXPECT_EQ(device->ReadThread(), nullptr);
}

// Two deliveries wait; the first handler stops the other device's thread. The
// stop serves the other delivery, which waits in the same queue (it would wait
// for itself if the pump had taken both out of the queue at once).
TEST_F(ReadThreadTest, AHandlerMayStopAnotherDevicesThreadWhileItsDeliveryWaits) {
  StartScanned(Pads(2));
  struct TStopper {
    THidDevice* pads[2];
    std::vector<uint32_t> got;
    void Data(THidDevice* HidDev, uint8_t, const uint8_t*, uint16_t) {
      got.push_back(HidDev->PnPInfo()->DeviceID());
      if (got.size() == 1) {
        (HidDev == pads[0] ? pads[1] : pads[0])->SetOnData({});
      }
    }
  } stopper{{Take(0), Take(1)}, {}};
  for (THidDevice* pad : stopper.pads) {
    pad->SetOnData(THidDataEvent::Of<&TStopper::Data>(&stopper));
  }
  sim.PushInput(1, "01 01 01");
  sim.PushInput(2, "01 02 02");
  ASSERT_TRUE(AwaitWaitingDeliveries(2));
  controller->ProcessMessages();
  EXPECT_EQ(stopper.got.size(), 2u);
  const int stopped = stopper.pads[0]->ReadThread() == nullptr ? 0 : 1;
  EXPECT_EQ(stopper.pads[stopped]->ReadThread(), nullptr);
  EXPECT_NE(stopper.pads[1 - stopped]->ReadThread(), nullptr);
  stopper.pads[1 - stopped]->SetOnData({});
}

// Unsetting the controller's data handler stops the threads of the devices that
// carry it; a delivery served meanwhile may rescan and so grow the list. Devices
// that arrive then take the new (unset) handler.
TEST_F(ReadThreadTest, ControllerDataHandlerChangeSurvivesARescanInADelivery) {
  StartScanned(Pads(2));
  struct TRescanner {
    THidDeviceController* controller;
    TSimWorld* world;
    int deliveries = 0;
    void Data(THidDevice*, uint8_t, const uint8_t*, uint16_t) {
      if (++deliveries == 1) {
        for (int k = 3; k <= 6; ++k) {
          TJson pad = Pads(1)["devices"][0];
          pad["id"] = k;
          pad["instance"] = 200 + k;
          world->Add(pad);
        }
        controller->DeviceChange();
      }
    }
  } rescanner{controller.get(), world.get()};
  controller->SetOnDeviceData(THidDataEvent::Of<&TRescanner::Data>(&rescanner));
  Take(0);
  Take(1);
  sim.PushInput(1, "01 01 01");
  ASSERT_TRUE(AwaitWaitingDeliveries(1));
  controller->SetOnDeviceData({});
  EXPECT_EQ(rescanner.deliveries, 1);
  ASSERT_EQ(controller->DeviceCount(), 6);
  for (int32_t i = 0; i < controller->DeviceCount(); ++i) {
    EXPECT_FALSE(controller->Devices(i)->OnData().Assigned()) << "entry " << i;
    EXPECT_EQ(controller->Devices(i)->ReadThread(), nullptr) << "entry " << i;
  }
  ExpectInvariants(*controller);
}

// A check that checks its device out itself with a data handler set starts the
// read thread inside the callback; the device keeps its handles, which that
// thread may be using, and its reports arrive.
TEST_F(ReadThreadTest, CheckCallbackThatChecksOutWithOnDataSetKeepsTheDeviceOpen) {
  TDataSink sink;
  controller->SetOnDeviceData(sink.OnData());
  THidDevice* taken = nullptr;
  EXPECT_FALSE(controller->CheckOutByCallback(taken, [](THidDevice* HidDev) {
    EXPECT_TRUE(HidDev->CheckOut());
    EXPECT_NE(HidDev->ReadThread(), nullptr);
    EXPECT_TRUE(HidDev->OpenFile());
    return true;  // the controller's own check-out fails: taken already
  }));
  EXPECT_EQ(taken, nullptr);
  THidDevice* device = controller->Devices(0);
  ASSERT_TRUE(device->IsCheckedOut());
  ASSERT_NE(device->ReadThread(), nullptr);
  EXPECT_NE(device->HidFileHandle(), INVALID_HANDLE_VALUE);
  sim.PushInput(1, "01 07 07");
  ASSERT_TRUE(PumpUntil([&] { return !sink.reports.empty(); }));
  EXPECT_EQ(sink.reports[0], (TReceived{1, {0x07, 0x07}}));
  controller->CheckIn(device);
  EXPECT_EQ(world->OpenHandles(1), 0);
  ExpectInvariants(*controller);
  controller.reset();  // before the sink goes
}

}  // namespace
}  // namespace quorvel::hid::test
