// Choosing one board by what a user gives: its number, its own ID or its device path.
// The decision only; each front words its refusals itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::relay {

// The boards to choose from, numbered from 1 in discovery order.
class TBoardList {
 public:
  virtual ~TBoardList() = default;
  virtual std::int32_t BoardCount() const = 0;
  virtual std::u16string BoardPath(std::int32_t Number) const = 0;
  // The board's own ID, read from the board (nothing sent); no value when it cannot be read.
  virtual std::optional<std::string> ReadBoardId(std::int32_t Number) = 0;
};

// How the system names files: the front passes its platform's rules in.
struct TPathRules {
  bool (*Exists)(std::u16string_view Path) = nullptr;
  // Whether two paths lead to the same file or device node once resolved.
  bool (*SameFile)(std::u16string_view A, std::u16string_view B) = nullptr;
  bool CaseInsensitive = false;  // device paths are named in any case (Windows)
};

struct TBoardChoice {
  enum class TKind {
    Number,           // a board number: Number, which the front checks against the count
    Chosen,           // by ID or path: board Number
    AmbiguousNumber,  // reads as board Number while the boards in Boards hold it as their ID
    SharedId,         // the boards in Boards share the ID
    NoSuchId,
    NoSuchPath,
    NotAName,  // neither a number, an ID's form nor a path
  };
  TKind Kind = TKind::NotAName;
  std::int32_t Number = 0;
  std::vector<std::int32_t> Boards;
};

// The board number "ID=" reads Value as, if it reads as one.
std::optional<std::int32_t> BoardNumberOf(std::u16string_view Value);

// Whether Value has the form of a board's own ID: five printable ASCII characters.
bool HasBoardIdForm(std::u16string_view Value);

// Chooses by Value. A number is a board number, unless another board holds it as its ID
// (then neither); a path is matched as the system resolves it (links, relative paths);
// an ID must belong to one board alone. Boards are read only when Value has the form of
// an ID, so the usual numbers read nothing. IDs holds what was read, for further choices.
class TBoardChooser {
 public:
  TBoardChooser(TBoardList& Boards, TPathRules Rules) : boards_(Boards), rules_(Rules) {}

  TBoardChoice Choose(std::u16string_view Value);

 private:
  TBoardChoice Decide(std::u16string_view Value);
  std::vector<std::int32_t> Holding(std::u16string_view Id);
  std::vector<std::int32_t> AtPath(std::u16string_view Value) const;

  TBoardList& boards_;
  TPathRules rules_;
  std::optional<std::vector<std::optional<std::string>>> ids_;  // read on first need
};

}  // namespace quorvel::relay
