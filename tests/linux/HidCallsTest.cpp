// The HidD_ calls over fixture trees, on descriptors opened as the default file provider
// opens them: identity with access 0 (O_PATH), from sysfs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "hidparse/HidPExports.h"
#include "hidparse/HidParse.h"
#include "platform/Utf.h"
#include "platform/linux/modules/HidCalls.h"
#include "platform/linux/modules/ModuleRoot.h"
#include "tests/linux/SysfsFixture.h"
#include "tests/linux/TestRoot.h"

namespace quorvel::hidraw::test {
namespace {

// A device node opened as CreateFileW opens it, closed at the end.
class TOpenNode {
 public:
  TOpenNode(const TSysfsFixture& fixture, const char* node, int flags)
      : path_(fixture.Path(node)), fd_(::open(path_.c_str(), flags | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0) << path_;
  }
  ~TOpenNode() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  TOpenNode(const TOpenNode&) = delete;
  TOpenNode& operator=(const TOpenNode&) = delete;

  THidrawHandle Handle() const {
    return THidrawHandle::FromDescriptor(fd_, platform::Utf8ToUtf16(path_));
  }

 private:
  std::string path_;
  int fd_;
};

struct TIdentityCase {
  const char* Tree;
  const char* Node;
  USHORT Vendor, Product, Version;
  // nullptr: the call fails as for a device without that string.
  const char16_t* Manufacturer;
  const char16_t* Product_;
  const char16_t* Serial;
};

class IdentityTest : public ::testing::TestWithParam<TIdentityCase> {};

std::u16string TextOf(const std::array<char16_t, 254>& buffer) {
  return std::u16string(buffer.data());
}

TEST_P(IdentityTest, AttributesAndStringsWithAccessZero) {
  const TIdentityCase& c = GetParam();
  TSysfsFixture fixture({c.Tree});
  const TSysfs sysfs(fixture.Root());
  TOpenNode node(fixture, c.Node, O_PATH);
  const THidrawHandle hid = node.Handle();

  HIDD_ATTRIBUTES attributes{};
  ASSERT_EQ(GetAttributes(hid, sysfs, attributes), ERROR_SUCCESS);
  EXPECT_EQ(attributes.Size, sizeof(HIDD_ATTRIBUTES));
  EXPECT_EQ(attributes.VendorID, c.Vendor);
  EXPECT_EQ(attributes.ProductID, c.Product);
  EXPECT_EQ(attributes.VersionNumber, c.Version);

  const struct {
    TStringKind Kind;
    const char16_t* Expected;
  } strings[] = {{TStringKind::Manufacturer, c.Manufacturer},
                 {TStringKind::Product, c.Product_},
                 {TStringKind::Serial, c.Serial}};
  for (const auto& s : strings) {
    std::array<char16_t, 254> buffer{};
    const DWORD error = GetString(hid, sysfs, s.Kind, buffer.data(), sizeof buffer);
    if (s.Expected == nullptr) {
      EXPECT_EQ(error, kNoSuchString) << static_cast<int>(s.Kind);
      EXPECT_EQ(buffer[0], 0);
    } else {
      EXPECT_EQ(error, ERROR_SUCCESS) << static_cast<int>(s.Kind);
      EXPECT_EQ(TextOf(buffer), s.Expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Devices, IdentityTest,
    ::testing::Values(
        // HID_NAME is "www.dcttech.com USBRelay8" but the product is the USB product string.
        TIdentityCase{"usb-relay-board.tree", "/dev/hidraw2", 0x16C0, 0x05DF, 0x0100,
                      u"www.dcttech.com", u"USBRelay8", nullptr},
        // Without a USB device, the HID core's name is the product.
        TIdentityCase{"uhid-relay-board.tree", "/dev/hidraw0", 0x16C0, 0x05DF, 0x0000, nullptr,
                      u"USBRelay2", nullptr},
        TIdentityCase{"bluetooth-keyboard.tree", "/dev/hidraw10", 0x046D, 0xB33C, 0x0000, nullptr,
                      u"Keyboard K380", u"34:88:5d:aa:bb:cc"},
        // One interface of a composite device is named by its interface string.
        TIdentityCase{"usb-composite-keyboard.tree", "/dev/hidraw5", 0x045E, 0x07A5, 0x0320,
                      u"Microsoft", u"Media Keys", u"7A5-0001"}));

class HidCallsTest : public ::testing::Test {
 protected:
  HidCallsTest() : Fixture({"usb-relay-board.tree"}), Sysfs(Fixture.Root()) {}
  TSysfsFixture Fixture;
  TSysfs Sysfs;
};

TEST_F(HidCallsTest, StringMustFitWithItsTerminator) {
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  const THidrawHandle hid = node.Handle();
  const std::u16string product = u"USBRelay8";
  const ULONG exact = static_cast<ULONG>((product.size() + 1) * 2);
  std::vector<char16_t> buffer(32, u'\xFFFF');
  EXPECT_EQ(GetString(hid, Sysfs, TStringKind::Product, buffer.data(), exact - 1),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[0], u'\xFFFF');
  EXPECT_EQ(GetString(hid, Sysfs, TStringKind::Product, buffer.data(), exact), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buffer.data()), product);
  EXPECT_EQ(buffer[product.size() + 1], u'\xFFFF');  // past the terminator: untouched
}

TEST_F(HidCallsTest, IndexedStringsFollowTheUsbDescriptors) {
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  const THidrawHandle hid = node.Handle();
  const struct {
    ULONG Index;
    DWORD Error;
    std::u16string Text;
  } cases[] = {
      // Languages: the device cannot be asked here (no usbfs), so the documented fallback.
      {0, ERROR_SUCCESS, std::u16string(1, char16_t{0x0409})},
      {1, ERROR_SUCCESS, u"www.dcttech.com"},  // iManufacturer
      {2, ERROR_SUCCESS, u"USBRelay8"},        // iProduct
      {3, kNoSuchString, u""},                 // no serial, and nothing else names 3
      {256, ERROR_INVALID_PARAMETER, u""},
  };
  for (const auto& c : cases) {
    std::array<char16_t, 254> buffer;
    buffer.fill(u'\xFFFF');
    EXPECT_EQ(GetIndexedString(hid, Sysfs, c.Index, buffer.data(), sizeof buffer), c.Error)
        << c.Index;
    if (c.Error == ERROR_SUCCESS) {
      EXPECT_EQ(std::u16string(buffer.data(), c.Text.size()), c.Text) << c.Index;
      EXPECT_EQ(buffer[c.Text.size()], 0) << c.Index;
      EXPECT_EQ(buffer[c.Text.size() + 1], u'\xFFFF') << c.Index;
    } else {
      EXPECT_EQ(buffer[0], u'\xFFFF') << c.Index;
    }
  }
}

TEST(IndexedStrings, ConfigurationAndInterfaceStringsOfACompositeDevice) {
  TSysfsFixture fixture({"usb-composite-keyboard.tree"});
  const TSysfs sysfs(fixture.Root());
  TOpenNode node(fixture, "/dev/hidraw5", O_PATH);
  const struct {
    ULONG Index;
    std::u16string Text;
  } cases[] = {{3, u"7A5-0001"}, {4, u"Default Configuration"}, {5, u"Media Keys"}};
  for (const auto& c : cases) {
    std::array<char16_t, 254> buffer{};
    EXPECT_EQ(GetIndexedString(node.Handle(), sysfs, c.Index, buffer.data(), sizeof buffer),
              ERROR_SUCCESS)
        << c.Index;
    EXPECT_EQ(std::u16string(buffer.data()), c.Text) << c.Index;
  }
}

TEST(IndexedStrings, DevicesWithoutUsbHaveOnlyTheirLanguage) {
  TSysfsFixture fixture({"uhid-relay-board.tree"});
  const TSysfs sysfs(fixture.Root());
  TOpenNode node(fixture, "/dev/hidraw0", O_PATH);
  std::array<char16_t, 254> buffer{};
  EXPECT_EQ(GetIndexedString(node.Handle(), sysfs, 0, buffer.data(), sizeof buffer), ERROR_SUCCESS);
  EXPECT_EQ(buffer[0], 0x0409);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(GetIndexedString(node.Handle(), sysfs, 1, buffer.data(), sizeof buffer), kNoSuchString);
}

TEST_F(HidCallsTest, ReportsNeedAHandleThatCanTransfer) {
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  const THidrawHandle hid = node.Handle();
  EXPECT_FALSE(hid.CanTransfer());
  for (TReportCall call : {TReportCall::GetFeature, TReportCall::SetFeature, TReportCall::GetInput,
                           TReportCall::SetOutput}) {
    std::array<unsigned char, 9> report{0, 0xFF, 1};
    EXPECT_EQ(TransferReport(hid, Sysfs, call, report.data(), report.size()), ERROR_ACCESS_DENIED);
    EXPECT_EQ(report[1], 0xFF);
    EXPECT_EQ(TransferReport(hid, Sysfs, call, nullptr, 9), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(TransferReport(hid, Sysfs, call, report.data(), 0), ERROR_INVALID_PARAMETER);
  }
  // No queue of its own, so nothing to drop.
  EXPECT_EQ(FlushQueue(hid), ERROR_SUCCESS);
}

TEST_F(HidCallsTest, PreparsedDataFromSysfsDescriptor) {
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  PHIDP_PREPARSED_DATA data = nullptr;
  ASSERT_EQ(GetPreparsedData(node.Handle(), Sysfs, data), ERROR_SUCCESS);
  ASSERT_NE(data, nullptr);
  HIDP_CAPS caps{};
  EXPECT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  EXPECT_EQ(caps.Usage, 0x0001);
  EXPECT_EQ(caps.FeatureReportByteLength, 9);
  EXPECT_EQ(caps.InputReportByteLength, 0);
  EXPECT_TRUE(hidparse::FreePreparsedData(data));
}

// The platform holds every buffer of a kind to the longest report of that kind in the
// collection (HIDP_CAPS), not to the report's own length; a report goes out at its own.
TEST(ReportLengths, TheCollectionsLongestReportOfTheKindIsRequired) {
  TSysfsFixture fixture({"uhid-feature-lengths.tree"});
  const TSysfs sysfs(fixture.Root());
  TOpenNode node(fixture, "/dev/hidraw3", O_PATH);
  DWORD error = ERROR_SUCCESS;
  const auto descriptor = node.Handle().ReportDescriptor(sysfs, error);
  ASSERT_TRUE(descriptor) << error;
  const struct {
    hidparse::TReportKind Kind;
    uint8_t ReportId;
    ULONG Required, Own;
  } cases[] = {
      {hidparse::TReportKind::Feature, 1, 9, 3},  // shorter than its collection's longest
      {hidparse::TReportKind::Feature, 2, 9, 9},
      {hidparse::TReportKind::Feature, 4, 2, 2},  // the second collection has its own
      {hidparse::TReportKind::Input, 3, 5, 5},
      {hidparse::TReportKind::Feature, 3, 0, 0},  // an input report's ID
      {hidparse::TReportKind::Feature, 0, 0, 0},  // the device numbers its reports
      {hidparse::TReportKind::Output, 6, 4, 2},
      {hidparse::TReportKind::Output, 1, 0, 0},
  };
  for (const auto& c : cases) {
    const TReportLengths lengths = ReportLengths(*descriptor, c.Kind, c.ReportId);
    EXPECT_EQ(lengths.Required, c.Required) << static_cast<int>(c.Kind) << " " << +c.ReportId;
    EXPECT_EQ(lengths.Own, c.Own) << static_cast<int>(c.Kind) << " " << +c.ReportId;
  }
  const std::vector<uint8_t> broken(descriptor->begin(), descriptor->begin() + 5);
  const TReportLengths none = ReportLengths(broken, hidparse::TReportKind::Feature, 1);
  EXPECT_EQ(none.Required, 0u);
  EXPECT_EQ(none.Own, 0u);
}

TEST_F(HidCallsTest, BrokenDescriptorGivesNoPreparsedData) {
  const std::string file = Fixture.Path(
      "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:16C0:05DF.0003/"
      "report_descriptor");
  ASSERT_EQ(::truncate(file.c_str(), 5), 0);  // cut inside the Logical Maximum item
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  PHIDP_PREPARSED_DATA data = nullptr;
  EXPECT_EQ(GetPreparsedData(node.Handle(), Sysfs, data), ERROR_INVALID_DATA);
  EXPECT_EQ(data, nullptr);
}

TEST_F(HidCallsTest, VanishedDeviceIsNotConnected) {
  TOpenNode node(Fixture, "/dev/hidraw2", O_PATH);
  Fixture.Remove("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2");
  const THidrawHandle hid = node.Handle();
  HIDD_ATTRIBUTES attributes{};
  EXPECT_EQ(GetAttributes(hid, Sysfs, attributes), ERROR_DEVICE_NOT_CONNECTED);
  std::array<char16_t, 254> buffer{};
  EXPECT_EQ(GetString(hid, Sysfs, TStringKind::Product, buffer.data(), sizeof buffer),
            ERROR_DEVICE_NOT_CONNECTED);
  PHIDP_PREPARSED_DATA data = nullptr;
  EXPECT_EQ(GetPreparsedData(hid, Sysfs, data), ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(HidCallsTest, NodeFoundByItsLinkName) {
  // udev rules often add a link such as /dev/usbrelay; the node is the one it points to.
  ASSERT_EQ(::symlink("hidraw2", Fixture.Path("/dev/usbrelay").c_str()), 0);
  TOpenNode node(Fixture, "/dev/usbrelay", O_PATH);
  HIDD_ATTRIBUTES attributes{};
  ASSERT_EQ(GetAttributes(node.Handle(), Sysfs, attributes), ERROR_SUCCESS);
  EXPECT_EQ(attributes.VersionNumber, 0x0100);
}

TEST_F(HidCallsTest, FileOutsideDevIsNoDevice) {
  // A file that merely carries a node's name is not that node.
  const std::string stranger = Fixture.Path("/hidraw2");
  ASSERT_EQ(::close(::open(stranger.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600)), 0);
  const int fd = ::open(stranger.c_str(), O_PATH | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  HIDD_ATTRIBUTES attributes{};
  EXPECT_EQ(GetAttributes(THidrawHandle::FromDescriptor(fd, platform::Utf8ToUtf16(stranger)), Sysfs,
                          attributes),
            ERROR_DEVICE_NOT_CONNECTED);
  ::close(fd);
}

}  // namespace
}  // namespace quorvel::hidraw::test
