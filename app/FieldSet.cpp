#include "app/FieldSet.h"

#include <cstddef>

namespace quorvel::app {
namespace {

std::u16string_view Trim(std::u16string_view text) {
  const auto isControlOrBlank = [](char16_t c) { return c <= u' '; };
  while (!text.empty() && isControlOrBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isControlOrBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

std::int32_t SplitFields(std::u16string_view Text, TFieldSet& FieldSet, char16_t Separator) {
  FieldSet.Fields.clear();
  std::size_t start = 0;
  while (start < Text.size()) {
    const std::size_t separator = Text.find(Separator, start);
    const std::size_t end = separator == std::u16string_view::npos ? Text.size() : separator;
    const std::u16string_view piece = Trim(Text.substr(start, end - start));
    if (!piece.empty()) {
      FieldSet.Fields.emplace_back(piece);
    }
    if (separator == std::u16string_view::npos) {
      break;
    }
    start = separator + 1;
  }
  FieldSet.Count = static_cast<std::int32_t>(FieldSet.Fields.size());
  return FieldSet.Count;
}

}  // namespace quorvel::app
