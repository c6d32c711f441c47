// Values in reports: raw and scaled values, value arrays and report initialisation.
#include <gtest/gtest.h>

#include <vector>

#include "tests/hidparse/Preparsed.h"

namespace quorvel::hidparse::test {
namespace {

using Bytes = std::vector<uint8_t>;

PCHAR Chars(Bytes& report) {
  return reinterpret_cast<PCHAR>(report.data());
}
ULONG Length(const Bytes& report) {
  return static_cast<ULONG>(report.size());
}

TEST(ValueReport, RawValuesAreUnsignedBits) {
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  Bytes report = {0, 0x05, 0x10, 0xF0, 0x01};
  const std::pair<USAGE, ULONG> cases[] = {{0x30, 0x10}, {0x31, 0xF0}, {0x38, 0x01}};
  for (const auto& [usage, raw] : cases) {
    ULONG value = 0;
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, usage, &value, pp.get(), Chars(report),
                                 Length(report)),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(value, raw);
  }
  LONG scaled = 0;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &scaled, pp.get(), Chars(report),
                                     Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(scaled, -16);  // no physical range: the logical value, sign-extended
  ULONG value = 0;
  EXPECT_EQ(
      HidP_GetUsageValue(HidP_Input, 9, 0, 1, &value, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_USAGE_NOT_FOUND);  // a button is not a value
}

TEST(ValueReport, SetUsageValuePacksFieldsAcrossBytes) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  Bytes report(4, 0);
  ASSERT_EQ(
      HidP_SetUsageValue(HidP_Input, 0xFF00, 0, 2, 0xABC, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_SUCCESS);
  ASSERT_EQ(
      HidP_SetUsageValue(HidP_Input, 0xFF00, 0, 3, 0xF123, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_SUCCESS);
  // Report 1 claimed; usage 2 in bits 8..19, usage 3 in bits 20..31, cut to 12 bits.
  EXPECT_EQ(report, (Bytes{0x01, 0xBC, 0x3A, 0x12}));
  ULONG value = 0;
  EXPECT_EQ(
      HidP_GetUsageValue(HidP_Input, 0xFF00, 0, 3, &value, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_SUCCESS);
  EXPECT_EQ(value, 0x123u);

  struct TCase {
    const char* Name;
    uint8_t Id;
    USAGE Usage;
    NTSTATUS Status;
  };
  const TCase cases[] = {
      {"usage of another report type", 1, 5, HIDP_STATUS_USAGE_NOT_FOUND},
      {"report 2 has no such input", 2, 2, HIDP_STATUS_INCOMPATIBLE_REPORT_ID},
      {"zeroed report: a getter does not claim", 0, 2, HIDP_STATUS_INCOMPATIBLE_REPORT_ID},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes other = {c.Id, 0, 0, 0};
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 0xFF00, 0, c.Usage, &value, pp.get(), Chars(other),
                                 Length(other)),
              c.Status);
  }
}

TEST(ValueReport, ScaledValues) {
  // Temperature: logical -100..100, physical -1000..1000, null state; feature report 2.
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  struct TGet {
    uint8_t Raw;
    NTSTATUS Status;
    LONG Value;
  };
  const TGet gets[] = {
      {25, HIDP_STATUS_SUCCESS, 250},   {0x9C, HIDP_STATUS_SUCCESS, -1000},
      {100, HIDP_STATUS_SUCCESS, 1000}, {0, HIDP_STATUS_SUCCESS, 0},
      {0x80, HIDP_STATUS_NULL, 0},      {101, HIDP_STATUS_NULL, 0},
  };
  for (const TGet& g : gets) {
    SCOPED_TRACE(int{g.Raw});
    Bytes report(10, 0);
    report[0] = 2;
    report[1] = g.Raw;
    LONG value = 12345;
    EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Feature, 0xFF00, 0, 5, &value, pp.get(), Chars(report),
                                       Length(report)),
              g.Status);
    EXPECT_EQ(value, g.Value);
  }
  struct TSet {
    LONG Value;
    NTSTATUS Status;
    uint8_t Raw;
  };
  const TSet sets[] = {
      {250, HIDP_STATUS_SUCCESS, 25},   {-1000, HIDP_STATUS_SUCCESS, 0x9C},
      {1000, HIDP_STATUS_SUCCESS, 100}, {5, HIDP_STATUS_SUCCESS, 1},  // rounded to nearest
      {1001, HIDP_STATUS_NULL, 0x80},   {-5000, HIDP_STATUS_NULL, 0x80},
  };
  for (const TSet& s : sets) {
    SCOPED_TRACE(s.Value);
    Bytes report(10, 0);
    EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Feature, 0xFF00, 0, 5, s.Value, pp.get(), Chars(report),
                                       Length(report)),
              s.Status);
    EXPECT_EQ(report[0], 2);
    EXPECT_EQ(report[1], s.Raw);
  }
}

TEST(ValueReport, UsageRangesAndUnsignedNulls) {
  // Buttons 1 and 3, hat 2 (90 degrees), axes X..Rz = 10..60.
  const TPreparsed pp = FixturePreparsed("gamepad.desc");
  Bytes report = {0, 0x05, 0x20, 10, 20, 30, 40, 50, 60};
  ULONG raw = 0;
  EXPECT_EQ(
      HidP_GetUsageValue(HidP_Input, 1, 0, 0x32, &raw, pp.get(), Chars(report), Length(report)),
      HIDP_STATUS_SUCCESS);
  EXPECT_EQ(raw, 30u);  // Z: the third field of the range
  EXPECT_EQ(HidP_SetUsageValue(HidP_Input, 1, 0, 0x35, 99, pp.get(), Chars(report), Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report[8], 99);
  EXPECT_EQ(report[7], 50);

  struct TCase {
    uint8_t Byte2;  // hat in the high nibble
    NTSTATUS Status;
    LONG Degrees;
  };
  const TCase hats[] = {{0x20, HIDP_STATUS_SUCCESS, 90},
                        {0x75, HIDP_STATUS_SUCCESS, 315},  // button bits stay out of it
                        {0x80, HIDP_STATUS_NULL, 0},
                        {0xF0, HIDP_STATUS_NULL, 0}};
  for (const TCase& c : hats) {
    SCOPED_TRACE(int{c.Byte2});
    report[2] = c.Byte2;
    LONG degrees = -1;
    EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x39, &degrees, pp.get(), Chars(report),
                                       Length(report)),
              c.Status);
    EXPECT_EQ(degrees, c.Degrees);
  }

  // The null of a 0..7 field in 4 unsigned bits is 15, a value no reader takes for a
  // direction.
  report[2] = 0x0A;
  EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Input, 1, 0, 0x39, 400, pp.get(), Chars(report),
                                     Length(report)),
            HIDP_STATUS_NULL);
  EXPECT_EQ(report[2], 0xFA);
  EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Input, 1, 0, 0x39, 135, pp.get(), Chars(report),
                                     Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(report[2], 0x3A);

  Bytes fresh(9, 0xEE);
  ASSERT_EQ(HidP_InitializeReportForID(HidP_Input, 0, pp.get(), Chars(fresh), Length(fresh)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(fresh, (Bytes{0, 0, 0xF0, 0, 0, 0, 0, 0, 0}));
}

TEST(ValueReport, NullIsOnlyWrittenWhereTheFieldHasOne) {
  // Mouse X: -127..127 in 8 bits, no null state.
  const TPreparsed pp = FixturePreparsed("wheel-mouse.desc");
  Bytes report(5, 0);
  EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Input, 1, 0, 0x30, 128, pp.get(), Chars(report),
                                     Length(report)),
            HIDP_STATUS_VALUE_OUT_OF_RANGE);
  EXPECT_EQ(report, Bytes(5, 0));
  report[2] = 0x80;  // -128
  LONG value = 0;
  EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x30, &value, pp.get(), Chars(report),
                                     Length(report)),
            HIDP_STATUS_VALUE_OUT_OF_RANGE);
}

TEST(ValueReport, ScaledValuesTheFieldCannotHoldAreRefused) {
  // X: logical 0..100 in 4 bits; Y: logical -10..10 in 4 signed bits (-8..7); Z: logical
  // 0..100, physical 0..1000 in 4 bits.
  const Bytes narrow = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x75, 0x04, 0x95, 0x01, 0x15,
                        0x00, 0x25, 0x64, 0x09, 0x30, 0x81, 0x02, 0x15, 0xF6, 0x25, 0x0A,
                        0x09, 0x31, 0x81, 0x02, 0x15, 0x00, 0x25, 0x64, 0x35, 0x00, 0x46,
                        0xE8, 0x03, 0x09, 0x32, 0x81, 0x02, 0x81, 0x03, 0xC0};
  TPreparsed pp(MakePreparsedData(narrow));
  ASSERT_NE(pp, nullptr);
  struct TCase {
    USAGE Usage;
    LONG Value;
    NTSTATUS Status;
  };
  const TCase cases[] = {
      {0x30, 15, HIDP_STATUS_SUCCESS},
      {0x30, 16, HIDP_STATUS_VALUE_OUT_OF_RANGE},
      {0x30, 100, HIDP_STATUS_VALUE_OUT_OF_RANGE},
      {0x31, 7, HIDP_STATUS_SUCCESS},
      {0x31, -8, HIDP_STATUS_SUCCESS},
      {0x31, 8, HIDP_STATUS_VALUE_OUT_OF_RANGE},
      {0x31, -9, HIDP_STATUS_VALUE_OUT_OF_RANGE},
      {0x32, 150, HIDP_STATUS_SUCCESS},
      {0x32, 160, HIDP_STATUS_VALUE_OUT_OF_RANGE},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Usage << " = " << c.Value);
    Bytes report(3, 0);
    EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Input, 1, 0, c.Usage, c.Value, pp.get(), Chars(report),
                                       Length(report)),
              c.Status);
    LONG value = 12345;
    const NTSTATUS got = HidP_GetScaledUsageValue(HidP_Input, 1, 0, c.Usage, &value, pp.get(),
                                                  Chars(report), Length(report));
    if (c.Status == HIDP_STATUS_SUCCESS) {
      EXPECT_EQ(got, HIDP_STATUS_SUCCESS);
      EXPECT_EQ(value, c.Value);  // what was set reads back
    } else {
      EXPECT_EQ(report, Bytes(3, 0));
    }
  }
}

// Logical 10..5; physical 10..10; and a 12-bit value array of two.
const Bytes kOddValues = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                                      //
    0x09, 0x01, 0x15, 0x0A, 0x25, 0x05, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02,        //
    0x09, 0x02, 0x15, 0x00, 0x25, 0x64, 0x35, 0x0A, 0x45, 0x0A, 0x81, 0x02,        //
    0x09, 0x03, 0x15, 0x00, 0x26, 0xFF, 0x0F, 0x75, 0x0C, 0x95, 0x02, 0x81, 0x02,  //
    0xC0,
};

TEST(ValueReport, InconsistentRangesRefuseScaling) {
  TPreparsed pp(MakePreparsedData(kOddValues));
  ASSERT_NE(pp, nullptr);
  Bytes report = {0, 7, 7, 0, 0, 0};
  for (const USAGE usage : {USAGE{1}, USAGE{2}}) {
    SCOPED_TRACE(usage);
    LONG scaled = 0;
    EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 0xFF00, 0, usage, &scaled, pp.get(),
                                       Chars(report), Length(report)),
              HIDP_STATUS_BAD_LOG_PHY_VALUES);
    EXPECT_EQ(HidP_SetScaledUsageValue(HidP_Input, 0xFF00, 0, usage, 7, pp.get(), Chars(report),
                                       Length(report)),
              HIDP_STATUS_BAD_LOG_PHY_VALUES);
    ULONG raw = 0;  // the raw value stays readable
    EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 0xFF00, 0, usage, &raw, pp.get(), Chars(report),
                                 Length(report)),
              HIDP_STATUS_SUCCESS);
    EXPECT_EQ(raw, 7u);
  }
}

TEST(ValueReport, ValueArrays) {
  const TPreparsed relay = FixturePreparsed("relay-board.desc");
  Bytes report = {0, 'A', 'B', 'C', 'D', 'E', 0, 0, 0x81};
  struct TCase {
    const char* Name;
    USHORT Capacity;
    NTSTATUS Status;
  };
  const TCase cases[] = {
      {"exact", 8, HIDP_STATUS_SUCCESS},
      {"larger", 12, HIDP_STATUS_SUCCESS},
      {"one short", 7, HIDP_STATUS_BUFFER_TOO_SMALL},
      {"none", 0, HIDP_STATUS_BUFFER_TOO_SMALL},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes out(12, 0xEE);
    EXPECT_EQ(HidP_GetUsageValueArray(HidP_Feature, 0xFF00, 0, 0, Chars(out), c.Capacity,
                                      relay.get(), Chars(report), Length(report)),
              c.Status);
    if (c.Status == HIDP_STATUS_SUCCESS) {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), Bytes(report.begin() + 1, report.end()));
      EXPECT_EQ(out[8], 0xEE);
    } else {
      EXPECT_EQ(out, Bytes(12, 0xEE));
    }
  }
  ULONG first = 0;  // the plain getter sees the first element only
  EXPECT_EQ(HidP_GetUsageValue(HidP_Feature, 0xFF00, 0, 0, &first, relay.get(), Chars(report),
                               Length(report)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(first, ULONG{'A'});

  // Four 16-bit elements after the temperature byte of feature report 2.
  const TPreparsed vendor = FixturePreparsed("vendor-report-ids.desc");
  Bytes feature(10, 0);
  Bytes values = {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFF, 0xFF};
  ASSERT_EQ(HidP_SetUsageValueArray(HidP_Feature, 0xFF00, 0, 6, Chars(values), 8, vendor.get(),
                                    Chars(feature), Length(feature)),
            HIDP_STATUS_SUCCESS);
  EXPECT_EQ(feature, (Bytes{2, 0, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(HidP_GetUsageValueArray(HidP_Feature, 0xFF00, 0, 5, Chars(values), 8, vendor.get(),
                                    Chars(feature), Length(feature)),
            HIDP_STATUS_NOT_VALUE_ARRAY);

  TPreparsed odd(MakePreparsedData(kOddValues));
  ASSERT_NE(odd, nullptr);
  Bytes input(6, 0);
  EXPECT_EQ(HidP_GetUsageValueArray(HidP_Input, 0xFF00, 0, 3, Chars(values), 8, odd.get(),
                                    Chars(input), Length(input)),
            HIDP_STATUS_NOT_IMPLEMENTED);  // 12-bit elements
}

TEST(ValueReport, InitializeReportForId) {
  const TPreparsed pp = FixturePreparsed("vendor-report-ids.desc");
  struct TCase {
    const char* Name;
    HIDP_REPORT_TYPE Type;
    UCHAR Id;
    std::size_t Length;
    NTSTATUS Status;
    Bytes After;
  };
  const TCase cases[] = {
      {"feature 2: the temperature starts null",
       HidP_Feature,
       2,
       10,
       HIDP_STATUS_SUCCESS,
       {2, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"input 1", HidP_Input, 1, 4, HIDP_STATUS_SUCCESS, {1, 0, 0, 0}},
      {"no feature 1", HidP_Feature, 1, 10, HIDP_STATUS_REPORT_DOES_NOT_EXIST, Bytes(10, 0xEE)},
      {"ID 0 on a device with IDs", HidP_Input, 0, 4, HIDP_STATUS_REPORT_DOES_NOT_EXIST,
       Bytes(4, 0xEE)},
      {"wrong length", HidP_Input, 1, 5, HIDP_STATUS_INVALID_REPORT_LENGTH, Bytes(5, 0xEE)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes report(c.Length, 0xEE);
    EXPECT_EQ(HidP_InitializeReportForID(c.Type, c.Id, pp.get(), Chars(report), Length(report)),
              c.Status);
    EXPECT_EQ(report, c.After);
  }
}

}  // namespace
}  // namespace quorvel::hidparse::test
