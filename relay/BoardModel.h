// The board families the service knows, one row each: how a board is recognised, how many
// relays it has, and what it can do. Adding a family is a row here, its exchanges
// (RelaySwitching) and its simulation.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quorvel::relay {

struct TBoardModel {
  std::u16string_view Family;  // as lists and discovery name it
  // Recognition: a device of this family has a product name beginning with the prefix,
  // and the vendor and product pair unless they are 0.
  std::u16string_view ProductPrefix;
  std::uint16_t VendorId = 0;
  std::uint16_t ProductId = 0;
  // Relays: the number written behind the prefix when it lies from 1 to MaxRelays,
  // otherwise DefaultRelays.
  int MaxRelays = 0;
  int DefaultRelays = 0;
  std::size_t ReportLength = 0;  // of its feature report, report ID included
  bool StateReadable = false;
  bool IdReadable = false;
  bool IdSettable = false;
};

// Every family, in the order a device is tried against them.
std::span<const TBoardModel> BoardModels();

// The family of a device, or null when it is no relay board.
const TBoardModel* FindBoardModel(std::u16string_view ProductName, std::uint16_t VendorId,
                                  std::uint16_t ProductId);

// The relay count a board of Model announces in its product name.
int RelayCount(const TBoardModel& Model, std::u16string_view ProductName);

}  // namespace quorvel::relay
