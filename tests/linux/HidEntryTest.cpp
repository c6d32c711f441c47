// The HidD_ entry points as the layer calls them: handles from CreateFileW, results in
// BOOLEAN and the per-thread last error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/Utf.h"
#include "platform/linux/modules/Guids.h"
#include "platform/posix/Kernel.h"
#include "tests/linux/ModuleEntries.h"
#include "tests/linux/SysfsFixture.h"
#include "tests/linux/TestRoot.h"

namespace quorvel::hidraw::test {
namespace {

TEST(HidEntries, EveryHandleCallRefusesAHandleThatIsNotOpen) {
  const HANDLE bogus = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(0x7FFF1234));
  std::array<unsigned char, 16> buffer{};
  ULONG count = 0;
  HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
  HIDD_CONFIGURATION configuration{};
  PHIDP_PREPARSED_DATA data = nullptr;
  const std::pair<const char*, std::function<BOOLEAN(HANDLE)>> calls[] = {
      {"GetAttributes", [&](HANDLE h) { return HidD_GetAttributes(h, &attributes); }},
      {"GetManufacturerString",
       [&](HANDLE h) { return HidD_GetManufacturerString(h, buffer.data(), 16); }},
      {"GetProductString", [&](HANDLE h) { return HidD_GetProductString(h, buffer.data(), 16); }},
      {"GetSerialNumberString",
       [&](HANDLE h) { return HidD_GetSerialNumberString(h, buffer.data(), 16); }},
      {"GetIndexedString",
       [&](HANDLE h) { return HidD_GetIndexedString(h, 1, buffer.data(), 16); }},
      {"GetFeature", [&](HANDLE h) { return HidD_GetFeature(h, buffer.data(), 9); }},
      {"SetFeature", [&](HANDLE h) { return HidD_SetFeature(h, buffer.data(), 9); }},
      {"GetInputReport", [&](HANDLE h) { return HidD_GetInputReport(h, buffer.data(), 9); }},
      {"SetOutputReport", [&](HANDLE h) { return HidD_SetOutputReport(h, buffer.data(), 9); }},
      {"GetPreparsedData", [&](HANDLE h) { return HidD_GetPreparsedData(h, &data); }},
      {"GetNumInputBuffers", [&](HANDLE h) { return HidD_GetNumInputBuffers(h, &count); }},
      {"SetNumInputBuffers", [&](HANDLE h) { return HidD_SetNumInputBuffers(h, 32); }},
      {"FlushQueue", [&](HANDLE h) { return HidD_FlushQueue(h); }},
      {"GetPhysicalDescriptor",
       [&](HANDLE h) { return HidD_GetPhysicalDescriptor(h, buffer.data(), 16); }},
      {"GetConfiguration",
       [&](HANDLE h) { return HidD_GetConfiguration(h, &configuration, sizeof configuration); }},
      {"SetConfiguration",
       [&](HANDLE h) { return HidD_SetConfiguration(h, &configuration, sizeof configuration); }},
  };
  for (const auto& [name, call] : calls) {
    for (HANDLE handle : {bogus, INVALID_HANDLE_VALUE, HANDLE{nullptr}}) {
      SetLastError(ERROR_SUCCESS);
      EXPECT_EQ(call(handle), FALSE) << name;
      EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << name;
    }
  }
  EXPECT_EQ(data, nullptr);
}

TEST(HidEntries, GuidHelloAndForeignPreparsedData) {
  GUID guid{};
  HidD_GetHidGuid(&guid);
  EXPECT_EQ(guid, kHidInterfaceGuid);
  HidD_GetHidGuid(nullptr);  // nothing to write, nothing written

  char greeting[16];
  std::memset(greeting, 'x', sizeof greeting);
  EXPECT_EQ(HidD_Hello(greeting, sizeof greeting), 7u);
  EXPECT_STREQ(greeting, "Hello\n");
  EXPECT_EQ(HidD_Hello(greeting, 3), 7u);
  EXPECT_STREQ(greeting, "He");
  EXPECT_EQ(HidD_Hello(nullptr, 0), 7u);

  alignas(16) std::array<unsigned char, 256> notPreparsed{};
  EXPECT_EQ(HidD_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(notPreparsed.data())),
            FALSE);
  EXPECT_EQ(HidD_FreePreparsedData(nullptr), FALSE);
}

// Handles from the process's handle table, on a fixture node.
class HidEntryTest : public ::testing::Test {
 protected:
  HidEntryTest() : Fixture({"usb-relay-board.tree"}) { SetModuleRoot(Fixture.Root()); }
  ~HidEntryTest() override {
    if (Handle != INVALID_HANDLE_VALUE) {
      CloseHandle(Handle);
    }
    SetModuleRoot("");
  }

  // Access 0, as the layer opens a device it may not read or write.
  void OpenForIdentity() {
    const std::u16string path = platform::Utf8ToUtf16(Fixture.Path("/dev/hidraw2"));
    Handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (Handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) {
      GTEST_SKIP() << "the POSIX handle table is not built yet";
    }
    ASSERT_NE(Handle, INVALID_HANDLE_VALUE);
  }

  TSysfsFixture Fixture;
  HANDLE Handle = INVALID_HANDLE_VALUE;
};

TEST_F(HidEntryTest, IdentityThroughAnAccessZeroHandle) {
  OpenForIdentity();
  if (IsSkipped()) {
    return;
  }
  HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0, 0, 0};
  ASSERT_TRUE(HidD_GetAttributes(Handle, &attributes));
  EXPECT_EQ(attributes.VendorID, 0x16C0);
  EXPECT_EQ(attributes.ProductID, 0x05DF);
  EXPECT_EQ(attributes.VersionNumber, 0x0100);

  std::array<char16_t, 254> text{};
  ASSERT_TRUE(HidD_GetProductString(Handle, text.data(), sizeof text));
  EXPECT_EQ(std::u16string(text.data()), u"USBRelay8");
  text.fill(0);
  EXPECT_FALSE(HidD_GetSerialNumberString(Handle, text.data(), sizeof text));
  EXPECT_EQ(text[0], 0);

  PHIDP_PREPARSED_DATA data = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(Handle, &data));
  EXPECT_TRUE(HidD_FreePreparsedData(data));

  std::array<unsigned char, 9> report{};
  EXPECT_FALSE(HidD_GetFeature(Handle, report.data(), report.size()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(HidEntryTest, InputBuffersConfigurationAndPhysicalDescriptor) {
  OpenForIdentity();
  if (IsSkipped()) {
    return;
  }
  ULONG count = 0;
  ASSERT_TRUE(HidD_GetNumInputBuffers(Handle, &count));
  EXPECT_EQ(count, 64u);
  const struct {
    ULONG Count;
    BOOLEAN Accepted;
  } sets[] = {{1, FALSE}, {2, TRUE}, {200, TRUE}, {512, TRUE}, {513, FALSE}};
  for (const auto& set : sets) {
    EXPECT_EQ(HidD_SetNumInputBuffers(Handle, set.Count), set.Accepted) << set.Count;
    if (!set.Accepted) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    ASSERT_TRUE(HidD_GetNumInputBuffers(Handle, &count));
    EXPECT_EQ(count, 64u);  // hidraw's queue has one size
  }

  HIDD_CONFIGURATION configuration{};
  EXPECT_FALSE(HidD_GetConfiguration(Handle, &configuration, 12));
  ASSERT_TRUE(HidD_GetConfiguration(Handle, &configuration, sizeof configuration));
  EXPECT_EQ(configuration.RingBufferSize, 64u);
  EXPECT_TRUE(HidD_SetConfiguration(Handle, &configuration, sizeof configuration));
  configuration.cookie = nullptr;
  EXPECT_FALSE(HidD_SetConfiguration(Handle, &configuration, sizeof configuration));

  // The layer probes 0, 2, 4, ... bytes while the error is ERROR_INSUFFICIENT_BUFFER.
  std::array<unsigned char, 8> physical{};
  EXPECT_FALSE(HidD_GetPhysicalDescriptor(Handle, physical.data(), 0));
  EXPECT_NE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

// Input reports as the platform's ReadFile gives them, from a node that is a FIFO standing
// in for hidraw: what is written to it is what hidraw would return from read().
struct TInputCase {
  const char* Tree;
  const char* Node;
  std::vector<unsigned char> Raw;       // as hidraw delivers it
  std::vector<unsigned char> Expected;  // as ReadFile must deliver it
};

class InputReportTest : public ::testing::TestWithParam<TInputCase> {
 protected:
  void TearDown() override { SetModuleRoot(""); }
};

TEST_P(InputReportTest, ReadFileGivesIdByteAndFullLength) {
  const TInputCase& c = GetParam();
  TSysfsFixture fixture({c.Tree});
  SetModuleRoot(fixture.Root());
  const std::string node = fixture.Path(c.Node);
  ASSERT_EQ(::unlink(node.c_str()), 0);
  ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
  const int device = ::open(node.c_str(), O_RDWR | O_CLOEXEC);  // the kernel's side
  ASSERT_GE(device, 0);
  const std::u16string path = platform::Utf8ToUtf16(node);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);

  ASSERT_EQ(::write(device, c.Raw.data(), c.Raw.size()), static_cast<ssize_t>(c.Raw.size()));
  std::vector<unsigned char> buffer(c.Expected.size() + 4, 0xEE);
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &done, nullptr));
  ASSERT_EQ(done, c.Expected.size());
  buffer.resize(done);
  EXPECT_EQ(buffer, c.Expected);

  // A buffer shorter than the input report length is refused, as on the platform.
  std::vector<unsigned char> tooShort(c.Expected.size() - 1);
  EXPECT_FALSE(
      ReadFile(handle, tooShort.data(), static_cast<DWORD>(tooShort.size()), &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  EXPECT_TRUE(CloseHandle(handle));
  ::close(device);
}

// Output reports as the platform's WriteFile takes them: exactly the collection's output
// report length (the longest output report, ID byte included), whatever the report.
TEST(OutputReports, WriteFileTakesOnlyTheOutputReportLength) {
  TSysfsFixture fixture({"uhid-feature-lengths.tree"});
  SetModuleRoot(fixture.Root());
  const std::string node = fixture.Path("/dev/hidraw3");
  ASSERT_EQ(::unlink(node.c_str()), 0);
  ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
  const int device = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);  // the kernel's side
  ASSERT_GE(device, 0);
  const std::u16string path = platform::Utf8ToUtf16(node);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const struct {
    std::vector<unsigned char> Report;
    bool Written;
  } cases[] = {
      {{0x06, 0x01}, false},             // report 6's own length is too short
      {{0x06, 0x01, 0x00, 0x00}, true},  // padded to the output report length
      {{0x05, 0x01, 0x02, 0x03}, true},
      {{0x05, 0x01, 0x02, 0x03, 0x04}, false},  // longer
  };
  for (const auto& c : cases) {
    DWORD done = 77;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WriteFile(handle, c.Report.data(), static_cast<DWORD>(c.Report.size()), &done,
                        nullptr) != FALSE,
              c.Written)
        << c.Report.size();
    std::array<unsigned char, 16> wire{};
    const ssize_t got = ::read(device, wire.data(), wire.size());
    if (c.Written) {
      EXPECT_EQ(done, c.Report.size());
      ASSERT_EQ(got, static_cast<ssize_t>(c.Report.size()));
      EXPECT_EQ(std::vector<unsigned char>(wire.begin(), wire.begin() + got), c.Report);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
      EXPECT_EQ(done, 0u);
      EXPECT_EQ(got, -1);  // nothing reached the device
    }
  }
  EXPECT_TRUE(CloseHandle(handle));
  ::close(device);
  SetModuleRoot("");
}

INSTANTIATE_TEST_SUITE_P(
    Devices, InputReportTest,
    ::testing::Values(
        // No report IDs: hidraw gives the data alone; the platform puts a 0 in front.
        TInputCase{"usb-composite-keyboard.tree", "/dev/hidraw5", {0x02}, {0x00, 0x02}},
        // Report ID 1, a short report: padded to the input report length of 8.
        TInputCase{"bluetooth-keyboard.tree",
                   "/dev/hidraw10",
                   {0x01, 0x02, 0x04},
                   {0x01, 0x02, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}}));

}  // namespace
}  // namespace quorvel::hidraw::test
