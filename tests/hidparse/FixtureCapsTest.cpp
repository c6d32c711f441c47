// One test per recorded descriptor: what HidP_GetCaps, the caps queries and the link
// collection array report for it.
#include <gtest/gtest.h>

#include "tests/hidparse/DescriptorFile.h"
#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

using Caps = std::vector<TCapRow>;
using Nodes = std::vector<TNodeRow>;

TEST(DescriptorFixtures, EveryFixtureHasItsTest) {
  // A fixture added without a test below, or a test whose fixture went missing, fails here.
  const std::vector<std::string> tested = {
      "aliased-usages.desc", "boot-keyboard.desc",     "consumer-and-system.desc", "gamepad.desc",
      "relay-board.desc",    "vendor-report-ids.desc", "wheel-mouse.desc"};
  EXPECT_EQ(FixtureNames("descriptors"), tested);
}

TEST(DescriptorFixtures, RelayBoard) {
  const auto bytes = LoadDescriptor(FixtureDir("descriptors") / "relay-board.desc");
  EXPECT_EQ(bytes.size(), 22u);
  const TPreparsed pp = FixturePreparsed("relay-board.desc");
  // Feature only: eight data bytes behind the report-ID byte that the device does not send.
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{1, 0xFF00, 0, 0, 9, 1, 0, 0, 0, 0, 0, 0, 0, 1, 1}));
  // Usage 0 over eight fields: one usage value array.
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Feature),
            (Caps{{0xFF00, 0, 0, 0, 0, 0, 0, false, 8, 8, 0, 255}}));
  EXPECT_EQ(LinkNodes(pp.get()), (Nodes{{1, 0xFF00, 0, 0, 0, 0, 1, false}}));

  HIDP_VALUE_CAPS cap{};
  USHORT length = 1;
  ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Feature, 0, 0, 0, &cap, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(cap.BitField, 0x0102);  // Buffered Bytes kept in the low 16 bits
  EXPECT_TRUE(cap.IsAbsolute);
  EXPECT_FALSE(cap.HasNull);
  EXPECT_FALSE(cap.IsRange);
}

TEST(DescriptorFixtures, BootKeyboard) {
  const TPreparsed pp = FixturePreparsed("boot-keyboard.desc");
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{6, 1, 9, 2, 0, 1, 2, 0, 110, 1, 0, 5, 0, 0, 0}));
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Input), (Caps{
                                                  {7, 0xE0, 0xE7, 0, 0, 0, 7, false},
                                                  {7, 0x00, 0x65, 0, 0, 8, 109, false},
                                              }));
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Output), (Caps{{8, 1, 5, 0, 0, 0, 4, false}}));
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Input), Caps{});
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Feature), Caps{});
}

TEST(DescriptorFixtures, WheelMouse) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{2, 1, 5, 0, 0, 2, 1, 3, 6, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Input), (Caps{{9, 1, 3, 0, 1, 0, 2, false}}));
  // Several usages of one item: last declared first, data indices rising along the list.
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Input), (Caps{
                                                 {1, 0x38, 0, 0, 1, 3, 0, false, 8, 1, -127, 127},
                                                 {1, 0x31, 0, 0, 1, 4, 0, false, 8, 1, -127, 127},
                                                 {1, 0x30, 0, 0, 1, 5, 0, false, 8, 1, -127, 127},
                                             }));
  EXPECT_EQ(LinkNodes(pp.get()), (Nodes{
                                     {2, 1, 0, 1, 0, 1, 1, false},
                                     {1, 1, 0, 0, 0, 0, 0, false},
                                 }));
  HIDP_VALUE_CAPS wheel{};
  USHORT length = 1;
  ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 0, 0x38, &wheel, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_FALSE(wheel.IsAbsolute);
  EXPECT_EQ(wheel.LinkUsage, 1);
  EXPECT_EQ(wheel.LinkUsagePage, 1);
}

TEST(DescriptorFixtures, VendorReportIds) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{1, 0xFF00, 4, 2, 10, 2, 0, 2, 2, 1, 0, 4, 0, 2, 2}));
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Input), (Caps{
                                                 {0xFF00, 3, 0, 1, 0, 0, 0, false, 12, 1, 0, 4095},
                                                 {0xFF00, 2, 0, 1, 0, 1, 0, false, 12, 1, 0, 4095},
                                             }));
  // Pop restores the globals pushed before the value array.
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Feature),
            (Caps{
                {0xFF00, 5, 0, 2, 1, 0, 0, false, 8, 1, -100, 100},
                {0xFF00, 6, 0, 2, 1, 1, 0, false, 16, 4, 0, 65535},
            }));
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Output), (Caps{{9, 1, 4, 3, 0, 0, 3, false}}));
  EXPECT_EQ(LinkNodes(pp.get()), (Nodes{
                                     {1, 0xFF00, 0, 1, 0, 1, 1, false},
                                     {4, 0xFF00, 0, 0, 0, 0, 2, false},
                                 }));

  HIDP_VALUE_CAPS temperature{};
  USHORT length = 1;
  ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Feature, 0xFF00, 1, 5, &temperature, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_TRUE(temperature.HasNull);
  EXPECT_EQ(temperature.PhysicalMin, -1000);
  EXPECT_EQ(temperature.PhysicalMax, 1000);
  EXPECT_EQ(temperature.UnitsExp, 0x0Fu);  // the nibble form, as given
  EXPECT_EQ(temperature.Units, 0x10001u);
  EXPECT_EQ(temperature.LinkUsage, 4);
}

TEST(DescriptorFixtures, ConsumerAndSystem) {
  // One preparsed block per top-level collection, each with its own reports.
  const TPreparsed consumer = FixturePreparsed("consumer-and-system.desc", 0);
  EXPECT_EQ(CapsOf(consumer.get()), (TCapsRow{1, 0x0C, 3, 0, 0, 1, 1, 0, 668, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ButtonCaps(consumer.get(), HidP_Input), (Caps{{0x0C, 1, 0x29C, 1, 0, 0, 667, false}}));

  const TPreparsed system = FixturePreparsed("consumer-and-system.desc", 1);
  EXPECT_EQ(CapsOf(system.get()), (TCapsRow{0x80, 1, 2, 0, 0, 1, 1, 0, 3, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ButtonCaps(system.get(), HidP_Input), (Caps{{1, 0x81, 0x83, 2, 0, 0, 2, false}}));

  const auto bytes = LoadDescriptor(FixtureDir("descriptors") / "consumer-and-system.desc");
  EXPECT_EQ(MakePreparsedData(bytes, 2), nullptr);
}

TEST(DescriptorFixtures, Gamepad) {
  const TPreparsed pp = FixturePreparsed("gamepad.desc");
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{5, 1, 9, 0, 0, 1, 1, 2, 19, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ButtonCaps(pp.get(), HidP_Input), (Caps{{9, 1, 12, 0, 0, 0, 11, false}}));
  // A value range: one cap, one data index per usage, ReportCount 1.
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Input), (Caps{
                                                 {1, 0x39, 0, 0, 0, 12, 0, false, 4, 1, 0, 7},
                                                 {1, 0x30, 0x35, 0, 0, 13, 18, false, 8, 1, 0, 255},
                                             }));
  HIDP_VALUE_CAPS hat{};
  USHORT length = 1;
  ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 0, 0x39, &hat, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_TRUE(hat.HasNull);
  EXPECT_EQ(hat.Units, 0x14u);
  EXPECT_EQ(hat.PhysicalMax, 315);
  HIDP_VALUE_CAPS axes{};
  length = 1;
  ASSERT_EQ(HidP_GetSpecificValueCaps(HidP_Input, 1, 0, 0x33, &axes, &length, pp.get()),
            HIDP_STATUS_SUCCESS);
  EXPECT_TRUE(axes.IsRange);
  EXPECT_EQ(axes.Units, 0u);
}

TEST(DescriptorFixtures, AliasedUsages) {
  const TPreparsed pp = FixturePreparsed("aliased-usages.desc");
  EXPECT_EQ(CapsOf(pp.get()), (TCapsRow{4, 1, 3, 0, 0, 1, 0, 3, 2, 0, 0, 0, 0, 0, 0}));
  // The delimited set lists the alias first and the preferred usage last; both share the
  // field and its data index.
  EXPECT_EQ(ValueCaps(pp.get(), HidP_Input), (Caps{
                                                 {1, 0x31, 0, 0, 0, 0, 0, false, 8, 1, 0, 255},
                                                 {1, 0x32, 0, 0, 0, 1, 0, true, 8, 1, 0, 255},
                                                 {1, 0x30, 0, 0, 0, 1, 0, false, 8, 1, 0, 255},
                                             }));
}

}  // namespace
}  // namespace quorvel::hidparse::test
