#include "hidparse/PreparsedData.h"

#include <cstddef>
#include <cstring>
#include <memory>

#include "hidparse/HidParse.h"

namespace quorvel::hidparse {

namespace {

constexpr uint64_t kMagic = 0x51564C4850415253ull;  // "QVLHPARS"
constexpr uint64_t kFreedMagic = 0x51564C4846524545ull;
constexpr std::size_t kAlign = alignof(uint64_t);

struct TBlockHeader {
  uint64_t Magic;
  uint64_t Size;   // of the whole block, in bytes
  uint64_t Check;  // hash of the header with Check = 0
  uint16_t Usage, UsagePage;
  uint16_t DataIndices[kReportKinds];
  uint16_t ByteLengths[kReportKinds];
  uint32_t CapOffset[kReportKinds], CapCount[kReportKinds];
  uint32_t NodeOffset, NodeCount;
  uint32_t UnknownOffset, UnknownCount;
  uint32_t ReportOffset, ReportCount;
};
static_assert(std::is_trivially_copyable_v<TBlockHeader> && offsetof(TBlockHeader, Check) % 8 == 0);

uint64_t HeaderHash(const TBlockHeader& header) {
  // FNV-1a over whole words: every call of every HidP_ function checks it.
  uint64_t words[(sizeof(TBlockHeader) + 7) / 8] = {};
  std::memcpy(words, &header, sizeof header);
  words[offsetof(TBlockHeader, Check) / 8] = 0;
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const uint64_t word : words) {
    hash = (hash ^ word) * 0x100000001B3ull;
    hash ^= hash >> 29;
  }
  return hash;
}

std::size_t AlignUp(std::size_t n) {
  return (n + kAlign - 1) / kAlign * kAlign;
}

bool InBlock(uint64_t size, uint32_t offset, uint32_t count, std::size_t element) {
  return offset % kAlign == 0 && offset >= sizeof(TBlockHeader) && offset <= size &&
         uint64_t{count} * element <= size - offset;
}

template <typename T>
std::span<const T> ArrayAt(const unsigned char* base, uint32_t offset, uint32_t count) {
  return {reinterpret_cast<const T*>(base + offset), count};
}

}  // namespace

bool TPreparsedView::HasReport(TReportKind kind, uint8_t reportId) const {
  for (const auto& report : Reports) {
    if (report.Kind == kind && report.ReportId == reportId) {
      return true;
    }
  }
  return false;
}

PHIDP_PREPARSED_DATA MakePreparsedData(const TCollectionModel& collection) {
  TBlockHeader header{};
  header.Magic = kMagic;
  header.Usage = collection.Usage;
  header.UsagePage = collection.UsagePage;
  std::size_t size = AlignUp(sizeof header);
  auto place = [&size](uint32_t& offset, uint32_t& count, std::size_t n, std::size_t element) {
    offset = static_cast<uint32_t>(size);
    count = static_cast<uint32_t>(n);
    size = AlignUp(size + n * element);
  };
  for (std::size_t k = 0; k < kReportKinds; ++k) {
    header.DataIndices[k] = collection.DataIndices[k];
    header.ByteLengths[k] = collection.ByteLength(static_cast<TReportKind>(k));
    place(header.CapOffset[k], header.CapCount[k], collection.Caps[k].size(), sizeof(TCap));
  }
  place(header.NodeOffset, header.NodeCount, collection.Nodes.size(), sizeof(TLinkNode));
  place(header.UnknownOffset, header.UnknownCount, collection.Unknowns.size(),
        sizeof(TUnknownGlobal));
  place(header.ReportOffset, header.ReportCount, collection.Reports.size(), sizeof(TReportSpec));
  header.Size = size;
  header.Check = HeaderHash(header);

  // Owned by the caller across the C interface until FreePreparsedData.
  auto block = std::make_unique<uint64_t[]>(size / sizeof(uint64_t));
  auto* bytes = reinterpret_cast<unsigned char*>(block.get());
  auto copy = [bytes](uint32_t offset, const auto& items) {
    if (!items.empty()) {
      std::memcpy(bytes + offset, items.data(), items.size() * sizeof(items[0]));
    }
  };
  std::memcpy(bytes, &header, sizeof header);
  for (std::size_t k = 0; k < kReportKinds; ++k) {
    copy(header.CapOffset[k], collection.Caps[k]);
  }
  copy(header.NodeOffset, collection.Nodes);
  copy(header.UnknownOffset, collection.Unknowns);
  copy(header.ReportOffset, collection.Reports);
  return reinterpret_cast<PHIDP_PREPARSED_DATA>(block.release());
}

PHIDP_PREPARSED_DATA MakePreparsedData(std::span<const uint8_t> descriptor,
                                       std::size_t collection) {
  const TParseResult parsed = ParseReportDescriptor(descriptor);
  if (!parsed || collection >= parsed.Descriptor->Collections.size()) {
    return nullptr;
  }
  return MakePreparsedData(parsed.Descriptor->Collections[collection]);
}

bool ViewPreparsedData(PHIDP_PREPARSED_DATA data, TPreparsedView& view) {
  // A stale or foreign pointer is caught here as far as reading its first bytes allows;
  // a pointer to unmapped memory cannot be told apart without touching it.
  const auto address = reinterpret_cast<std::uintptr_t>(data);
  if (data == nullptr || address % kAlign != 0) {
    return false;
  }
  const auto* base = reinterpret_cast<const unsigned char*>(data);
  // The magic alone first, so that a foreign pointer to a small object is read no further.
  uint64_t magic = 0;
  std::memcpy(&magic, base, sizeof magic);
  if (magic != kMagic) {
    return false;
  }
  TBlockHeader header;
  std::memcpy(&header, base, sizeof header);
  if (header.Size < sizeof header || header.Check != HeaderHash(header)) {
    return false;
  }
  for (std::size_t k = 0; k < kReportKinds; ++k) {
    if (!InBlock(header.Size, header.CapOffset[k], header.CapCount[k], sizeof(TCap))) {
      return false;
    }
  }
  if (!InBlock(header.Size, header.NodeOffset, header.NodeCount, sizeof(TLinkNode)) ||
      header.NodeCount == 0 ||
      !InBlock(header.Size, header.UnknownOffset, header.UnknownCount, sizeof(TUnknownGlobal)) ||
      !InBlock(header.Size, header.ReportOffset, header.ReportCount, sizeof(TReportSpec))) {
    return false;
  }
  view.Usage = header.Usage;
  view.UsagePage = header.UsagePage;
  for (std::size_t k = 0; k < kReportKinds; ++k) {
    view.Caps[k] = ArrayAt<TCap>(base, header.CapOffset[k], header.CapCount[k]);
    view.DataIndices[k] = header.DataIndices[k];
    view.ByteLengths[k] = header.ByteLengths[k];
  }
  view.Nodes = ArrayAt<TLinkNode>(base, header.NodeOffset, header.NodeCount);
  view.Unknowns = ArrayAt<TUnknownGlobal>(base, header.UnknownOffset, header.UnknownCount);
  view.Reports = ArrayAt<TReportSpec>(base, header.ReportOffset, header.ReportCount);
  return true;
}

bool FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  TPreparsedView view;
  if (!ViewPreparsedData(data, view)) {
    return false;
  }
  auto* block = reinterpret_cast<uint64_t*>(data);
  // Spoil the magic so that a second free or a later use of the pointer is refused while
  // the memory has not been reused.
  std::memcpy(block, &kFreedMagic, sizeof kFreedMagic);
  delete[] block;  // allocated as uint64_t[] by MakePreparsedData
  return true;
}

}  // namespace quorvel::hidparse
