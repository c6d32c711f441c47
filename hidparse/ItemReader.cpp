#include "hidparse/ItemReader.h"

namespace quorvel::hidparse {

namespace {
constexpr uint8_t kLongItemPrefix = 0xFE;
}

int32_t TItem::Signed() const {
  switch (Size) {
    case 1:
      return static_cast<int8_t>(Data & 0xFFu);
    case 2:
      return static_cast<int16_t>(Data & 0xFFFFu);
    case 4:
      return static_cast<int32_t>(Data);
    default:
      return 0;
  }
}

bool TItemReader::Next(TItem& item, std::string& error) {
  item = TItem{};
  item.Offset = pos_;
  item.Prefix = bytes_[pos_];
  const std::size_t left = bytes_.size() - pos_ - 1;
  if (item.Prefix == kLongItemPrefix) {
    // Long items carry no meaning in HID 1.11; their length is all we need to skip them.
    if (left < 2) {
      error = "long item header truncated";
      return false;
    }
    const std::size_t dataSize = bytes_[pos_ + 1];
    if (left - 2 < dataSize) {
      error = "long item of " + std::to_string(dataSize) + " data bytes truncated";
      return false;
    }
    item.Type = TItemType::Long;
    item.Tag = bytes_[pos_ + 2];
    item.Size = static_cast<uint8_t>(dataSize);
    pos_ += 3 + dataSize;
    return true;
  }
  static constexpr uint8_t kSizes[4] = {0, 1, 2, 4};
  item.Size = kSizes[item.Prefix & 0x03u];
  item.Type = static_cast<TItemType>((item.Prefix >> 2) & 0x03u);
  item.Tag = static_cast<uint8_t>(item.Prefix >> 4);
  if (left < item.Size) {
    error = "item needs " + std::to_string(item.Size) + " data bytes, " + std::to_string(left) +
            " left";
    return false;
  }
  for (uint8_t i = 0; i < item.Size; ++i) {
    item.Data |= uint32_t{bytes_[pos_ + 1 + i]} << (8 * i);
  }
  pos_ += 1u + item.Size;
  return true;
}

}  // namespace quorvel::hidparse
