// Reading the kernel's tree: uevents, numbers, and the description of a hidraw node.
#include <gtest/gtest.h>

#include "platform/linux/modules/HidrawNode.h"
#include "platform/linux/modules/Sysfs.h"
#include "tests/linux/SysfsFixture.h"

namespace quorvel::hidraw::test {
namespace {

TEST(Uevent, KeysInOrderAndValuesWithEqualsAndSpaces) {
  const TUevent uevent =
      ParseUevent("DRIVER=hid-generic\nHID_NAME=A=B C\nno equals here\n=empty\nHID_UNIQ=\n");
  ASSERT_EQ(uevent.size(), 3u);
  EXPECT_EQ(UeventValue(uevent, "HID_NAME"), "A=B C");
  EXPECT_EQ(UeventValue(uevent, "HID_UNIQ"), "");
  EXPECT_FALSE(UeventValue(uevent, "HID_PHYS").has_value());
}

TEST(Numbers, HexAndDecimalWithinTheirLimits) {
  EXPECT_EQ(ParseHex("05df", 0xFFFF), 0x05DFu);
  EXPECT_EQ(ParseHex("000016C0"), 0x16C0u);
  EXPECT_FALSE(ParseHex("10000", 0xFFFF).has_value());
  EXPECT_FALSE(ParseHex("", 0xFFFF).has_value());
  EXPECT_FALSE(ParseHex("0x10").has_value());
  EXPECT_FALSE(ParseHex("-1").has_value());
  EXPECT_EQ(ParseDecimal("10"), 10u);
  EXPECT_FALSE(ParseDecimal("1a").has_value());
  EXPECT_FALSE(ParseDecimal("99999999999").has_value());
}

TEST(Paths, ParentAndBaseName) {
  EXPECT_EQ(ParentOf("/sys/class/hidraw/"), "/sys/class");
  EXPECT_EQ(ParentOf("/sys"), "/");
  EXPECT_EQ(BaseName("/dev/hidraw10"), "hidraw10");
  EXPECT_EQ(BaseName("hidraw1"), "hidraw1");
}

TEST(HidrawNode, DescribesAUsbBoardWithItsUsbParents) {
  TSysfsFixture fixture({"usb-relay-board.tree"});
  const TSysfs sysfs(fixture.Root());
  const auto node = DescribeNode(sysfs, "hidraw2");
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->Minor, 2u);
  EXPECT_EQ(node->Instance, 3u);
  EXPECT_EQ(node->Bus, kBusUsb);
  EXPECT_EQ(node->DevNode, fixture.Path("/dev/hidraw2"));
  EXPECT_EQ(node->Driver, "hid-generic");
  EXPECT_EQ(node->HidName, "www.dcttech.com USBRelay8");
  ASSERT_TRUE(node->IsUsb());
  EXPECT_EQ(*node->UsbDeviceDir, fixture.Path("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"));
  EXPECT_EQ(VersionNumber(*node), 0x0100);
  const auto descriptor = ReportDescriptorFromSysfs(*node);
  ASSERT_TRUE(descriptor.has_value());
  EXPECT_EQ(descriptor->size(), 22u);
}

TEST(HidrawNode, UhidClaimingUsbHasNoUsbParents) {
  TSysfsFixture fixture({"uhid-relay-board.tree"});
  const auto node = DescribeNode(TSysfs(fixture.Root()), "hidraw0");
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->Bus, kBusUsb);
  EXPECT_FALSE(node->IsUsb());
  EXPECT_EQ(node->Instance, 7u);
  EXPECT_EQ(VersionNumber(*node), 0);
}

TEST(HidrawNode, NamesThatAreNotNodesAreRefused) {
  TSysfsFixture fixture({"usb-relay-board.tree"});
  const TSysfs sysfs(fixture.Root());
  for (const char* name : {"", ".", "..", "../hidraw2", "hidraw9"}) {
    EXPECT_FALSE(DescribeNode(sysfs, name).has_value()) << name;
  }
}

TEST(HidrawNode, DeviceNumbersLeadToTheirNode) {
  TSysfsFixture fixture({"usb-relay-board.tree", "bluetooth-keyboard.tree"});
  const TSysfs sysfs(fixture.Root());
  EXPECT_EQ(NodeNameFromDevice(sysfs, 241, 2), "hidraw2");
  EXPECT_EQ(NodeNameFromDevice(sysfs, 241, 10), "hidraw10");
  EXPECT_FALSE(NodeNameFromDevice(sysfs, 241, 3).has_value());
}

TEST(HidrawNode, ListIsOrderedByMinorAndSkipsBrokenEntries) {
  TSysfsFixture fixture({"bluetooth-keyboard.tree", "usb-composite-keyboard.tree",
                         "usb-relay-board.tree", "uhid-relay-board.tree"});
  // A node whose device link is broken (a device half gone) is left out.
  fixture.Remove("/sys/devices/virtual/misc/uhid/0003:16C0:05DF.0007/uevent");
  fixture.Remove("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.1/0003:045E:07A5.0005");
  const auto nodes = ListNodes(TSysfs(fixture.Root()));
  std::vector<std::string> names;
  for (const auto& node : nodes) {
    names.push_back(node.Name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"hidraw0", "hidraw2", "hidraw10"}));
}

}  // namespace
}  // namespace quorvel::hidraw::test
