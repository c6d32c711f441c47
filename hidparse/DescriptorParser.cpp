// Report-descriptor parsing: the item state machine of HID 1.11 and the way the platform's
// parser turns main items into capability records, data indices and link collections.
#include <algorithm>
#include <bitset>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "hidparse/HidParse.h"
#include "hidparse/ItemReader.h"

namespace quorvel::hidparse {

namespace {

// Main item tags.
constexpr uint8_t kInput = 0x8, kOutput = 0x9, kCollection = 0xA, kFeature = 0xB,
                  kEndCollection = 0xC;
// Global item tags.
constexpr uint8_t kUsagePage = 0x0, kLogicalMin = 0x1, kLogicalMax = 0x2, kPhysicalMin = 0x3,
                  kPhysicalMax = 0x4, kUnitExponent = 0x5, kUnit = 0x6, kReportSize = 0x7,
                  kReportId = 0x8, kReportCount = 0x9, kPush = 0xA, kPop = 0xB;
// Local item tags.
constexpr uint8_t kUsage = 0x0, kUsageMin = 0x1, kUsageMax = 0x2, kDesignatorIndex = 0x3,
                  kDesignatorMin = 0x4, kDesignatorMax = 0x5, kStringIndex = 0x7, kStringMin = 0x8,
                  kStringMax = 0x9, kDelimiter = 0xA;

// Data bits of Input, Output and Feature items.
constexpr uint32_t kVariable = 1u << 1, kRelative = 1u << 2, kNullState = 1u << 6;

constexpr uint32_t kMaxDataIndices = 0xFFFF;  // NumberXxxDataIndices is 16 bits
constexpr uint32_t kMaxCaps = 0xFFFF;

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

struct TGlobals {
  uint16_t UsagePage = 0;
  int32_t LogicalMin = 0, LogicalMax = 0, PhysicalMin = 0, PhysicalMax = 0;
  uint32_t UnitExponent = 0, Unit = 0;
  uint32_t ReportSize = 0, ReportCount = 0;
  uint8_t ReportId = 0;
  std::vector<TUnknownGlobal> Unknowns;
};

// One Usage item or one Usage Minimum/Maximum pair. A usage given with a 4-byte item
// carries its own page; the others take the Usage Page in force at the main item.
struct TUsage {
  uint16_t Min = 0, Max = 0;
  uint16_t Page = 0;
  bool HasPage = false;
  bool IsRange = false;
  uint32_t Set = 0;  // aliases of one delimited set share it; every other usage has its own

  uint32_t Count() const { return uint32_t{Max} - Min + 1; }
};

struct TLocals {
  std::vector<TUsage> Usages;
  std::optional<TItem> PendingMin, PendingMax;
  bool InDelimiter = false;
  uint32_t NextSet = 0;
  std::optional<uint32_t> StringIndex, StringMin, StringMax;
  std::optional<uint32_t> DesignatorIndex, DesignatorMin, DesignatorMax;
};

const char* MainName(uint8_t tag) {
  switch (tag) {
    case kInput:
      return "Input";
    case kOutput:
      return "Output";
    case kFeature:
      return "Feature";
    case kCollection:
      return "Collection";
    default:
      return "End Collection";
  }
}

class TParser {
 public:
  TParseResult Run(std::span<const uint8_t> bytes);

 private:
  bool Fail(const TItem& item, std::string message);
  bool OnMain(const TItem& item);
  bool OnGlobal(const TItem& item);
  bool OnLocal(const TItem& item);
  bool OnReportItem(const TItem& item, TReportKind kind);
  bool OnCollection(const TItem& item);
  bool LocalsComplete(const TItem& item);
  bool AddRange(const TItem& min, const TItem& max);
  bool AddCaps(const TItem& item, TReportKind kind, uint32_t bitOffset);
  // The caps of an array or a variable item, appended to `caps` in the model's order;
  // `nextIndex` moves past the data indices they take.
  bool ArrayCaps(const TItem& item, const TCap& base, uint32_t bitOffset, uint32_t& nextIndex,
                 std::vector<TCap>& caps);
  bool VariableCaps(const TItem& item, const TCap& base, uint32_t bitOffset, uint32_t& nextIndex,
                    std::vector<TCap>& caps);
  TCap UsageCap(const TCap& base, const TUsage& usage) const;
  bool FailOnDataIndices(const TItem& item);
  TCap BaseCap(uint32_t data);
  bool CheckCapCount(const TItem& item, TReportKind kind, std::size_t adding);
  void Finish();

  TReportDescriptor out_;
  TParseError error_;
  TGlobals globals_;
  std::vector<TGlobals> pushed_;
  TLocals locals_;
  std::vector<uint16_t> open_;  // node indices of the open collections of the current TLC
  // Bits of every report so far, device-wide, and which reports each TLC uses.
  std::array<std::array<uint32_t, 256>, kReportKinds> reportBits_{};
  std::vector<std::array<std::bitset<256>, kReportKinds>> used_;

  TCollectionModel& Current() { return out_.Collections.back(); }
};

bool TParser::Fail(const TItem& item, std::string message) {
  error_.Offset = item.Offset;
  error_.Prefix = item.Prefix;
  error_.Message = "offset " + std::to_string(item.Offset) + ", item " + Hex(item.Prefix) + ": " +
                   std::move(message);
  return false;
}

TParseResult TParser::Run(std::span<const uint8_t> bytes) {
  TItemReader reader(bytes);
  TItem item;
  while (!reader.AtEnd()) {
    std::string fetchError;
    if (!reader.Next(item, fetchError)) {
      Fail(item, std::move(fetchError));
      return {std::nullopt, error_};
    }
    bool ok = true;
    switch (item.Type) {
      case TItemType::Main:
        ok = OnMain(item);
        break;
      case TItemType::Global:
        ok = OnGlobal(item);
        break;
      case TItemType::Local:
        ok = OnLocal(item);
        break;
      case TItemType::Reserved:
      case TItemType::Long:
        break;  // no meaning defined; skipped like the kernel does
    }
    if (!ok) {
      return {std::nullopt, error_};
    }
  }
  TItem end;
  end.Offset = bytes.size();
  if (!open_.empty()) {
    Fail(end, std::to_string(open_.size()) + " collection(s) not closed at the end");
    return {std::nullopt, error_};
  }
  if (out_.Collections.empty()) {
    Fail(end, "no top-level collection");
    return {std::nullopt, error_};
  }
  Finish();
  return {std::move(out_), {}};
}

void TParser::Finish() {
  for (std::size_t c = 0; c < out_.Collections.size(); ++c) {
    auto& collection = out_.Collections[c];
    for (std::size_t kind = 0; kind < kReportKinds; ++kind) {
      if (used_[c][kind].none()) {
        continue;  // most collections use one or two of the three kinds
      }
      for (uint32_t id = 0; id < 256; ++id) {
        if (used_[c][kind].test(id)) {
          const uint32_t bytes = (8 + reportBits_[kind][id] + 7) / 8;
          collection.Reports.push_back({static_cast<TReportKind>(kind), static_cast<uint8_t>(id),
                                        static_cast<uint16_t>(bytes)});
        }
      }
    }
  }
}

bool TParser::OnMain(const TItem& item) {
  switch (item.Tag) {
    case kInput:
      return OnReportItem(item, TReportKind::Input);
    case kOutput:
      return OnReportItem(item, TReportKind::Output);
    case kFeature:
      return OnReportItem(item, TReportKind::Feature);
    case kCollection:
      return OnCollection(item);
    case kEndCollection:
      if (open_.empty()) {
        return Fail(item, "End Collection without an open collection");
      }
      open_.pop_back();
      locals_ = TLocals{};
      return true;
    default:
      locals_ = TLocals{};  // reserved main item: no fields, but it still ends the locals
      return true;
  }
}

bool TParser::LocalsComplete(const TItem& item) {
  if (locals_.InDelimiter) {
    return Fail(item, std::string(MainName(item.Tag)) + " inside an open Delimiter set");
  }
  if (locals_.PendingMin) {
    return Fail(item,
                "Usage Minimum without Usage Maximum before " + std::string(MainName(item.Tag)));
  }
  if (locals_.PendingMax) {
    return Fail(item,
                "Usage Maximum without Usage Minimum before " + std::string(MainName(item.Tag)));
  }
  return true;
}

bool TParser::OnCollection(const TItem& item) {
  if (!LocalsComplete(item)) {
    return false;
  }
  if (open_.size() >= kMaxCollectionDepth) {
    return Fail(item, "collections nested deeper than " + std::to_string(kMaxCollectionDepth));
  }
  TLinkNode node{};
  if (!locals_.Usages.empty()) {
    // Aliased collection usages: the first one declared is the preferred one.
    const TUsage& usage = locals_.Usages.front();
    node.LinkUsage = usage.Min;
    node.LinkUsagePage = usage.HasPage ? usage.Page : globals_.UsagePage;
  }
  node.CollectionType = static_cast<uint8_t>(item.Data & 0xFFu);
  if (open_.empty()) {
    out_.Collections.emplace_back();
    used_.emplace_back();
    Current().Usage = node.LinkUsage;
    Current().UsagePage = node.LinkUsagePage;
    Current().Nodes.push_back(node);
    open_.push_back(0);
  } else {
    auto& nodes = Current().Nodes;
    if (nodes.size() >= kMaxLinkCollections) {
      return Fail(item, "more than " + std::to_string(kMaxLinkCollections) +
                            " collections in one top-level collection");
    }
    const auto index = static_cast<uint16_t>(nodes.size());
    TLinkNode& parent = nodes[open_.back()];
    node.Parent = open_.back();
    // The newest child becomes the parent's first; the sibling chain runs backwards.
    node.NextSibling = parent.FirstChild;
    parent.FirstChild = index;
    ++parent.NumberOfChildren;
    nodes.push_back(node);
    open_.push_back(index);
  }
  locals_ = TLocals{};
  return true;
}

bool TParser::OnReportItem(const TItem& item, TReportKind kind) {
  if (open_.empty()) {
    return Fail(item, std::string(MainName(item.Tag)) + " item outside any collection");
  }
  if (!LocalsComplete(item)) {
    return false;
  }
  const uint32_t bits = globals_.ReportSize * globals_.ReportCount;  // both limited, no overflow
  bool ok = true;
  if (bits > 0) {
    const std::size_t k = IndexOf(kind);
    uint32_t& reportBits = reportBits_[k][globals_.ReportId];
    const uint32_t offset = 8 + reportBits;
    reportBits += bits;
    const uint32_t bytes = (8 + reportBits + 7) / 8;
    if (bytes > kMaxReportBytes) {
      return Fail(item, std::string(MainName(item.Tag)) + " report " +
                            std::to_string(globals_.ReportId) + " grows to " +
                            std::to_string(bytes) + " bytes, more than " +
                            std::to_string(kMaxReportBytes));
    }
    used_.back()[k].set(globals_.ReportId);
    if (!locals_.Usages.empty()) {
      ok = AddCaps(item, kind, offset);
    }
  }
  locals_ = TLocals{};
  return ok;
}

TCap TParser::BaseCap(uint32_t data) {
  TCap cap{};
  cap.ReportId = globals_.ReportId;
  cap.BitField = static_cast<uint16_t>(data & 0xFFFFu);
  cap.LinkCollection = open_.back();
  const TLinkNode& node = Current().Nodes[open_.back()];
  cap.LinkUsage = node.LinkUsage;
  cap.LinkUsagePage = node.LinkUsagePage;
  cap.IsAbsolute = (data & kRelative) == 0;
  cap.HasNull = (data & kNullState) != 0;
  cap.BitSize = static_cast<uint16_t>(globals_.ReportSize);
  cap.LogicalMin = globals_.LogicalMin;
  cap.LogicalMax = globals_.LogicalMax;
  cap.PhysicalMin = globals_.PhysicalMin;
  cap.PhysicalMax = globals_.PhysicalMax;
  cap.UnitsExp = globals_.UnitExponent;
  cap.Units = globals_.Unit;
  if (locals_.StringMin && locals_.StringMax) {
    cap.IsStringRange = true;
    cap.StringMin = static_cast<uint16_t>(*locals_.StringMin);
    cap.StringMax = static_cast<uint16_t>(*locals_.StringMax);
  } else if (locals_.StringIndex) {
    cap.StringMin = cap.StringMax = static_cast<uint16_t>(*locals_.StringIndex);
  }
  if (locals_.DesignatorMin && locals_.DesignatorMax) {
    cap.IsDesignatorRange = true;
    cap.DesignatorMin = static_cast<uint16_t>(*locals_.DesignatorMin);
    cap.DesignatorMax = static_cast<uint16_t>(*locals_.DesignatorMax);
  } else if (locals_.DesignatorIndex) {
    cap.DesignatorMin = cap.DesignatorMax = static_cast<uint16_t>(*locals_.DesignatorIndex);
  }
  auto& unknowns = Current().Unknowns;
  cap.FirstToken = static_cast<uint16_t>(unknowns.size());
  cap.TokenCount = static_cast<uint16_t>(globals_.Unknowns.size());
  return cap;
}

bool TParser::CheckCapCount(const TItem& item, TReportKind kind, std::size_t adding) {
  const auto& caps = Current().Caps[IndexOf(kind)];
  if (caps.size() + adding > kMaxCaps) {
    return Fail(
        item, "more than " + std::to_string(kMaxCaps) + " " + MainName(item.Tag) + " capabilities");
  }
  if (Current().Unknowns.size() + globals_.Unknowns.size() > 0xFFFF) {
    return Fail(item, "too many reserved global items");
  }
  return true;
}

bool TParser::AddCaps(const TItem& item, TReportKind kind, uint32_t bitOffset) {
  if (!CheckCapCount(item, kind, locals_.Usages.size())) {
    return false;
  }
  const TCap base = BaseCap(item.Data);
  auto& model = Current();
  const std::size_t k = IndexOf(kind);
  uint32_t nextIndex = model.DataIndices[k];
  std::vector<TCap> caps;
  const bool added = (item.Data & kVariable) != 0
                         ? VariableCaps(item, base, bitOffset, nextIndex, caps)
                         : ArrayCaps(item, base, bitOffset, nextIndex, caps);
  if (!added) {
    return false;
  }
  model.DataIndices[k] = static_cast<uint16_t>(nextIndex);
  model.Unknowns.insert(model.Unknowns.end(), globals_.Unknowns.begin(), globals_.Unknowns.end());
  model.Caps[k].insert(model.Caps[k].end(), caps.begin(), caps.end());
  return true;
}

TCap TParser::UsageCap(const TCap& base, const TUsage& usage) const {
  TCap cap = base;
  cap.UsagePage = usage.HasPage ? usage.Page : globals_.UsagePage;
  cap.UsageMin = usage.Min;
  cap.UsageMax = usage.Max;
  cap.IsRange = usage.IsRange;
  return cap;
}

bool TParser::FailOnDataIndices(const TItem& item) {
  return Fail(item, "more than " + std::to_string(kMaxDataIndices) + " data indices");
}

// Array: each field holds an index into the concatenated usages of the item.
bool TParser::ArrayCaps(const TItem& item, const TCap& base, uint32_t bitOffset,
                        uint32_t& nextIndex, std::vector<TCap>& caps) {
  uint32_t position = 0;
  for (std::size_t i = 0; i < locals_.Usages.size(); ++i) {
    const TUsage& usage = locals_.Usages[i];
    if (i > 0 && locals_.Usages[i - 1].Set == usage.Set) {
      return Fail(item, "aliased usages in an array item");
    }
    TCap cap = UsageCap(base, usage);
    cap.IsButton = true;
    cap.IsArray = true;
    cap.Fields = static_cast<uint16_t>(globals_.ReportCount);
    cap.BitOffset = bitOffset;
    cap.ArrayFirst = position;
    position += usage.Count();
    cap.DataIndexMin = static_cast<uint16_t>(nextIndex);
    nextIndex += usage.Count();
    if (nextIndex > kMaxDataIndices) {
      return FailOnDataIndices(item);
    }
    cap.DataIndexMax = static_cast<uint16_t>(nextIndex - 1);
    caps.push_back(cap);
  }
  std::reverse(caps.begin(), caps.end());
  return true;
}

// Variable: usages take fields in order; the last one takes every field left over, and
// usages beyond the fields are dropped.
bool TParser::VariableCaps(const TItem& item, const TCap& base, uint32_t bitOffset,
                           uint32_t& nextIndex, std::vector<TCap>& caps) {
  const uint32_t size = globals_.ReportSize;
  std::vector<uint32_t> sets;  // the delimited set of each cap, in descriptor order
  uint32_t remaining = globals_.ReportCount;
  uint32_t field = 0;
  for (std::size_t i = 0; i < locals_.Usages.size() && remaining > 0;) {
    std::size_t end = i + 1;  // [i, end): one delimited set of aliases
    while (end < locals_.Usages.size() && locals_.Usages[end].Set == locals_.Usages[i].Set) {
      ++end;
    }
    const bool last = end == locals_.Usages.size();
    uint32_t fields = 1;
    if (locals_.Usages[i].IsRange) {
      fields = std::min(locals_.Usages[i].Count(), remaining);
    } else if (last) {
      fields = remaining;
    }
    for (std::size_t a = i; a < end; ++a) {
      TCap cap = UsageCap(base, locals_.Usages[a]);
      if (cap.IsRange) {
        cap.UsageMax = static_cast<uint16_t>(cap.UsageMin + fields - 1);
      }
      cap.IsButton = size == 1;
      cap.Fields = static_cast<uint16_t>(fields);
      cap.BitOffset = bitOffset + field * size;
      caps.push_back(cap);
      sets.push_back(static_cast<uint32_t>(i));
    }
    field += fields;
    remaining -= fields;
    i = end;
  }
  // Caps of the item appear last usage first; aliases of one set end with the preferred
  // one, and data indices rise along the list.
  std::reverse(caps.begin(), caps.end());
  std::reverse(sets.begin(), sets.end());
  for (std::size_t i = 0; i < caps.size();) {
    std::size_t end = i + 1;
    while (end < caps.size() && sets[end] == sets[i]) {
      ++end;
    }
    const uint32_t count = caps[i].IsRange ? caps[i].UsageCount() : 1;
    if (nextIndex + count > kMaxDataIndices) {
      return FailOnDataIndices(item);
    }
    for (std::size_t a = i; a < end; ++a) {
      caps[a].IsAlias = a + 1 < end;
      caps[a].DataIndexMin = static_cast<uint16_t>(nextIndex);
      caps[a].DataIndexMax = static_cast<uint16_t>(nextIndex + count - 1);
    }
    nextIndex += count;
    i = end;
  }
  return true;
}

bool TParser::OnGlobal(const TItem& item) {
  switch (item.Tag) {
    case kUsagePage:
      if (item.Data > 0xFFFF) {
        return Fail(item, "Usage Page " + Hex(item.Data) + " wider than 16 bits");
      }
      globals_.UsagePage = static_cast<uint16_t>(item.Data);
      return true;
    case kLogicalMin:
      globals_.LogicalMin = item.Signed();
      return true;
    case kLogicalMax:
      globals_.LogicalMax = item.Signed();
      return true;
    case kPhysicalMin:
      globals_.PhysicalMin = item.Signed();
      return true;
    case kPhysicalMax:
      globals_.PhysicalMax = item.Signed();
      return true;
    case kUnitExponent:
      globals_.UnitExponent = static_cast<uint32_t>(item.Signed());
      return true;
    case kUnit:
      globals_.Unit = item.Unsigned();
      return true;
    case kReportSize:
      if (item.Data > kMaxReportSize) {
        return Fail(item, "Report Size " + std::to_string(item.Data) + " above " +
                              std::to_string(kMaxReportSize));
      }
      globals_.ReportSize = item.Data;
      return true;
    case kReportId:
      if (item.Data == 0 || item.Data > 0xFF) {
        return Fail(item, "Report ID " + std::to_string(item.Data) + " outside 1..255");
      }
      globals_.ReportId = static_cast<uint8_t>(item.Data);
      out_.UsesReportIds = true;
      return true;
    case kReportCount:
      if (item.Data > kMaxReportCount) {
        return Fail(item, "Report Count " + std::to_string(item.Data) + " above " +
                              std::to_string(kMaxReportCount));
      }
      globals_.ReportCount = item.Data;
      return true;
    case kPush:
      if (pushed_.size() >= kMaxPushDepth) {
        return Fail(item, "Push deeper than " + std::to_string(kMaxPushDepth));
      }
      pushed_.push_back(globals_);
      return true;
    case kPop:
      if (pushed_.empty()) {
        return Fail(item, "Pop without Push");
      }
      globals_ = std::move(pushed_.back());
      pushed_.pop_back();
      return true;
    default: {
      // Reserved global tag: kept for the extended attributes; a later one of the same
      // prefix replaces the earlier, as any global item does.
      auto& unknowns = globals_.Unknowns;
      auto same = std::find_if(unknowns.begin(), unknowns.end(),
                               [&](const TUnknownGlobal& u) { return u.Prefix == item.Prefix; });
      if (same != unknowns.end()) {
        same->Data = item.Data;
      } else if (unknowns.size() >= kMaxUnknownGlobals) {
        return Fail(item, "more than " + std::to_string(kMaxUnknownGlobals) +
                              " reserved global items in force");
      } else {
        unknowns.push_back({item.Prefix, item.Data});
      }
      return true;
    }
  }
}

bool TParser::AddRange(const TItem& min, const TItem& max) {
  TUsage usage;
  usage.IsRange = true;
  usage.Min = static_cast<uint16_t>(min.Data & 0xFFFFu);
  usage.Max = static_cast<uint16_t>(max.Data & 0xFFFFu);
  const bool minPage = min.Size == 4, maxPage = max.Size == 4;
  if (minPage && maxPage && (min.Data >> 16) != (max.Data >> 16)) {
    return Fail(max, "Usage Minimum and Maximum on different usage pages");
  }
  if (minPage || maxPage) {
    usage.HasPage = true;
    usage.Page = static_cast<uint16_t>((minPage ? min.Data : max.Data) >> 16);
  }
  if (usage.Max < usage.Min) {
    return Fail(max, "Usage Maximum " + Hex(usage.Max) + " below Usage Minimum " + Hex(usage.Min));
  }
  usage.Set = locals_.NextSet++;
  locals_.Usages.push_back(usage);
  return true;
}

bool TParser::OnLocal(const TItem& item) {
  const bool addsUsage = item.Tag == kUsage || item.Tag == kUsageMin || item.Tag == kUsageMax;
  if (addsUsage && locals_.Usages.size() >= kMaxUsages) {
    return Fail(item, "more than " + std::to_string(kMaxUsages) + " usages for one main item");
  }
  if ((item.Tag == kUsageMin || item.Tag == kUsageMax) && locals_.InDelimiter) {
    return Fail(item, "usage range inside a Delimiter set");
  }
  switch (item.Tag) {
    case kUsage: {
      TUsage usage;
      usage.Min = usage.Max = static_cast<uint16_t>(item.Data & 0xFFFFu);
      if (item.Size == 4) {
        usage.HasPage = true;
        usage.Page = static_cast<uint16_t>(item.Data >> 16);
      }
      usage.Set = locals_.InDelimiter ? locals_.NextSet - 1 : locals_.NextSet++;
      locals_.Usages.push_back(usage);
      return true;
    }
    case kUsageMin:
      if (locals_.PendingMin) {
        return Fail(item, "second Usage Minimum without Usage Maximum");
      }
      if (locals_.PendingMax) {
        const TItem max = *locals_.PendingMax;
        locals_.PendingMax.reset();
        return AddRange(item, max);
      }
      locals_.PendingMin = item;
      return true;
    case kUsageMax:
      if (locals_.PendingMax) {
        return Fail(item, "second Usage Maximum without Usage Minimum");
      }
      if (locals_.PendingMin) {
        const TItem min = *locals_.PendingMin;
        locals_.PendingMin.reset();
        return AddRange(min, item);
      }
      locals_.PendingMax = item;
      return true;
    case kDesignatorIndex:
      locals_.DesignatorIndex = item.Data;
      return true;
    case kDesignatorMin:
      locals_.DesignatorMin = item.Data;
      return true;
    case kDesignatorMax:
      locals_.DesignatorMax = item.Data;
      return true;
    case kStringIndex:
      locals_.StringIndex = item.Data;
      return true;
    case kStringMin:
      locals_.StringMin = item.Data;
      return true;
    case kStringMax:
      locals_.StringMax = item.Data;
      return true;
    case kDelimiter:
      if (item.Data == 1) {
        if (locals_.InDelimiter) {
          return Fail(item, "nested Delimiter set");
        }
        locals_.InDelimiter = true;
        ++locals_.NextSet;
        return true;
      }
      if (item.Data == 0) {
        if (!locals_.InDelimiter) {
          return Fail(item, "Delimiter close without open");
        }
        locals_.InDelimiter = false;
        return true;
      }
      return Fail(item, "Delimiter value " + std::to_string(item.Data) + " is neither 0 nor 1");
    default:
      return true;  // reserved local tag: ignored
  }
}

}  // namespace

TParseResult ParseReportDescriptor(std::span<const uint8_t> descriptor) {
  return TParser{}.Run(descriptor);
}

uint16_t TCollectionModel::ByteLength(TReportKind kind) const {
  uint16_t longest = 0;
  for (const auto& report : Reports) {
    if (report.Kind == kind) {
      longest = std::max(longest, report.ByteLength);
    }
  }
  return longest;
}

const TReportSpec* TCollectionModel::FindReport(TReportKind kind, uint8_t reportId) const {
  for (const auto& report : Reports) {
    if (report.Kind == kind && report.ReportId == reportId) {
      return &report;
    }
  }
  return nullptr;
}

}  // namespace quorvel::hidparse
