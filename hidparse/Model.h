// The parsed form of a report descriptor: per top-level collection, the capability
// records, link collections and report sizes that the report-parser functions answer from.
// Every record is trivially copyable, so a collection can be laid into one flat block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace quorvel::hidparse {

// Values equal the platform's HIDP_REPORT_TYPE.
enum class TReportKind : uint8_t { Input = 0, Output = 1, Feature = 2 };
inline constexpr std::size_t kReportKinds = 3;
inline constexpr std::size_t IndexOf(TReportKind kind) {
  return static_cast<std::size_t>(kind);
}

// One capability: a usage (or usage range) of one Input, Output or Feature item, and where
// the fields it describes lie in the report.
struct TCap {
  uint16_t UsagePage;
  uint16_t UsageMin;  // the usage itself when !IsRange
  uint16_t UsageMax;  // == UsageMin when !IsRange
  uint16_t StringMin, StringMax;
  uint16_t DesignatorMin, DesignatorMax;
  uint16_t DataIndexMin, DataIndexMax;
  uint16_t BitField;  // the main item's data bits, low 16
  uint16_t LinkCollection, LinkUsage, LinkUsagePage;
  uint8_t ReportId;
  bool IsButton;  // 1-bit variable or array; otherwise a value
  bool IsArray;
  bool IsRange, IsStringRange, IsDesignatorRange;
  bool IsAbsolute, HasNull, IsAlias;
  uint16_t BitSize;     // Report Size
  uint16_t Fields;      // fields this cap covers; for an array: the item's fields
  uint32_t BitOffset;   // bit of the first field, counted from bit 0 of byte 0 (the ID byte)
  uint32_t ArrayFirst;  // array: position of UsageMin in the item's list of usages
  int32_t LogicalMin, LogicalMax, PhysicalMin, PhysicalMax;
  uint32_t UnitsExp, Units;
  uint16_t FirstToken, TokenCount;  // unknown global items in force, see TCollectionModel

  // A value cap with one usage over several fields, readable whole only as an array.
  bool IsValueArray() const { return !IsButton && !IsRange && Fields > 1; }
  uint32_t UsageCount() const { return uint32_t{UsageMax} - UsageMin + 1; }
};
static_assert(std::is_trivially_copyable_v<TCap>);

struct TLinkNode {
  uint16_t LinkUsage, LinkUsagePage;
  uint16_t Parent, NumberOfChildren, NextSibling, FirstChild;
  uint8_t CollectionType;
  bool IsAlias;
};
static_assert(std::is_trivially_copyable_v<TLinkNode>);

// A global item of a reserved tag, kept for the extended attributes of the caps it precedes.
struct TUnknownGlobal {
  uint8_t Prefix;
  uint32_t Data;
};

// A report the collection sends or receives; ByteLength counts the report-ID byte, which
// the platform's buffers always carry (0 for a device without report IDs).
struct TReportSpec {
  TReportKind Kind;
  uint8_t ReportId;
  uint16_t ByteLength;
};

struct TCollectionModel {
  uint16_t Usage = 0, UsagePage = 0;
  std::array<std::vector<TCap>, kReportKinds> Caps;  // in the platform's caps order
  std::array<uint16_t, kReportKinds> DataIndices{};
  std::vector<TLinkNode> Nodes;  // [0] is the top-level collection
  std::vector<TUnknownGlobal> Unknowns;
  std::vector<TReportSpec> Reports;  // sorted by kind, then report ID

  // The longest report of that kind, 0 when there is none.
  uint16_t ByteLength(TReportKind kind) const;
  const TReportSpec* FindReport(TReportKind kind, uint8_t reportId) const;
};

struct TReportDescriptor {
  std::vector<TCollectionModel> Collections;  // one per top-level collection, in order
  bool UsesReportIds = false;
};

}  // namespace quorvel::hidparse
