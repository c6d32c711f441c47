// Bounds-checked reading of report-descriptor items, short and long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quorvel::hidparse {

enum class TItemType : uint8_t { Main = 0, Global = 1, Local = 2, Reserved = 3, Long = 4 };

struct TItem {
  std::size_t Offset = 0;  // of the prefix byte
  uint8_t Prefix = 0;
  TItemType Type = TItemType::Main;
  uint8_t Tag = 0;
  uint8_t Size = 0;   // data bytes: 0, 1, 2 or 4 (long items: up to 255)
  uint32_t Data = 0;  // little-endian data, zero-extended (long items: 0)

  uint32_t Unsigned() const { return Data; }
  // Two's complement of the item's own size.
  int32_t Signed() const;
};

class TItemReader {
 public:
  explicit TItemReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool AtEnd() const { return pos_ >= bytes_.size(); }
  // Reads the next item; false with a message when it runs past the end.
  bool Next(TItem& item, std::string& error);

 private:
  std::span<const uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace quorvel::hidparse
