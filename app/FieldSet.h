// Splitting a separated list into trimmed, non-empty pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::app {

struct TFieldSet {
  std::int32_t Count = 0;  // always Fields.size()
  std::vector<std::u16string> Fields;
};

// Replaces FieldSet with the pieces of Text between separators, each trimmed
// of characters 0 to 32 at both ends; empty pieces are dropped. Returns Count.
std::int32_t SplitFields(std::u16string_view Text, TFieldSet& FieldSet, char16_t Separator);

}  // namespace quorvel::app
