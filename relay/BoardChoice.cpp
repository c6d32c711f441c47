#include "relay/BoardChoice.h"

#include <algorithm>

#include "relay/RelayBoard.h"
#include "relay/RelayProtocol.h"
#include "relay/ValueReaders.h"
#include "trace/Trace.h"

namespace quorvel::relay {
namespace {

bool HasPathSeparator(std::u16string_view value) {
  return value.find_first_of(u"/\\") != std::u16string_view::npos;
}

}  // namespace

std::optional<std::int32_t> BoardNumberOf(std::u16string_view Value) {
  std::int32_t number = 0;
  if (!TryStrToInt(Value, number)) {
    return std::nullopt;
  }
  return number;
}

bool HasBoardIdForm(std::u16string_view Value) {
  return Value.size() == kBoardIdLength &&
         std::all_of(Value.begin(), Value.end(), [](char16_t c) { return IsBoardIdCharacter(c); });
}

std::vector<std::int32_t> TBoardChooser::Holding(std::u16string_view id) {
  if (!ids_) {
    ids_.emplace();
    for (std::int32_t number = 1; number <= boards_.BoardCount(); ++number) {
      ids_->push_back(boards_.ReadBoardId(number));
    }
  }
  // An ID has the form of one: printable ASCII, which ShownText keeps as it is.
  const std::string wanted = ShownText(id);
  std::vector<std::int32_t> holders;
  for (std::size_t i = 0; i < ids_->size(); ++i) {
    if ((*ids_)[i] == wanted) {
      holders.push_back(static_cast<std::int32_t>(i + 1));
    }
  }
  return holders;
}

std::vector<std::int32_t> TBoardChooser::AtPath(std::u16string_view value) const {
  std::vector<std::int32_t> matches;
  for (std::int32_t number = 1; number <= boards_.BoardCount(); ++number) {
    const std::u16string path = boards_.BoardPath(number);
    if (rules_.CaseInsensitive ? EqualsIgnoringAsciiCase(path, value) : path == value) {
      matches.push_back(number);
    }
  }
  if (matches.empty() && rules_.SameFile != nullptr &&
      (HasPathSeparator(value) || (rules_.Exists != nullptr && rules_.Exists(value)))) {
    for (std::int32_t number = 1; number <= boards_.BoardCount(); ++number) {
      if (rules_.SameFile(boards_.BoardPath(number), value)) {
        matches.push_back(number);
      }
    }
  }
  return matches;
}

namespace {

// "ID=HURTM: boards 1 and 3 share the ID", for the trace.
void TraceChoice(std::u16string_view value, const TBoardChoice& choice) {
  static constexpr const char* kKinds[] = {"a board number",
                                           "chosen",
                                           "a board number and another board's ID",
                                           "an ID that boards share",
                                           "no board has the ID",
                                           "no board has the path",
                                           "neither a number, an ID nor a path"};
  std::string line =
      "choice \"" + ShownText(value) + "\": " + std::string(kKinds[static_cast<int>(choice.Kind)]);
  if (choice.Kind == TBoardChoice::TKind::Number || choice.Kind == TBoardChoice::TKind::Chosen) {
    line += ", board " + std::to_string(choice.Number);
  }
  for (const std::int32_t board : choice.Boards) {
    line += ", board " + std::to_string(board);
  }
  trace::TraceLine(line);
}

}  // namespace

TBoardChoice TBoardChooser::Choose(std::u16string_view Value) {
  TBoardChoice choice = Decide(Value);
  if (trace::TraceOn(trace::kDecisions)) {
    TraceChoice(Value, choice);
  }
  return choice;
}

TBoardChoice TBoardChooser::Decide(std::u16string_view Value) {
  using TKind = TBoardChoice::TKind;
  const bool idForm = HasBoardIdForm(Value);
  if (const std::optional<std::int32_t> number = BoardNumberOf(Value)) {
    if (idForm) {
      std::vector<std::int32_t> holders = Holding(Value);
      // A board whose number and ID agree is the one board either reading means.
      if (std::any_of(holders.begin(), holders.end(),
                      [&](std::int32_t n) { return n != *number; })) {
        return {TKind::AmbiguousNumber, *number, std::move(holders)};
      }
    }
    return {TKind::Number, *number, {}};
  }
  std::vector<std::int32_t> matches = AtPath(Value);
  if (matches.empty() && idForm) {
    matches = Holding(Value);
  }
  if (matches.size() > 1) {
    return {TKind::SharedId, 0, std::move(matches)};
  }
  if (matches.size() == 1) {
    return {TKind::Chosen, matches.front(), {}};
  }
  if (HasPathSeparator(Value) || (!idForm && rules_.Exists != nullptr && rules_.Exists(Value))) {
    return {TKind::NoSuchPath, 0, {}};
  }
  return {idForm ? TKind::NoSuchId : TKind::NotAName, 0, {}};
}

}  // namespace quorvel::relay
