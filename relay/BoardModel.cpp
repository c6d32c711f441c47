#include "relay/BoardModel.h"

#include <array>

#include "relay/RelayProtocol.h"

namespace quorvel::relay {
namespace {

// Recognised by the product name alone: the vendor and product pair is shared with many
// other hobby devices, and boards have been seen on others.
constexpr std::array kModels = {
    TBoardModel{.Family = kProductPrefix16,
                .ProductPrefix = kProductPrefix16,
                .MaxRelays = kMaxRelays,
                .DefaultRelays = kMaxRelays,
                .ReportLength = kReportLength,
                .StateReadable = true,
                .IdReadable = true,
                .IdSettable = true},
};

}  // namespace

std::span<const TBoardModel> BoardModels() {
  return kModels;
}

const TBoardModel* FindBoardModel(std::u16string_view ProductName, std::uint16_t VendorId,
                                  std::uint16_t ProductId) {
  for (const TBoardModel& model : kModels) {
    if (ProductName.starts_with(model.ProductPrefix) &&
        (model.VendorId == 0 || model.VendorId == VendorId) &&
        (model.ProductId == 0 || model.ProductId == ProductId)) {
      return &model;
    }
  }
  return nullptr;
}

int RelayCount(const TBoardModel& Model, std::u16string_view ProductName) {
  if (!ProductName.starts_with(Model.ProductPrefix)) {
    return Model.DefaultRelays;
  }
  // Every digit counts: "USBRelay16" is not a board of one relay.
  long count = 0;
  bool any = false;
  for (std::size_t i = Model.ProductPrefix.size();
       i < ProductName.size() && ProductName[i] >= u'0' && ProductName[i] <= u'9'; ++i) {
    any = true;
    count = count * 10 + (ProductName[i] - u'0');
    if (count > Model.MaxRelays) {
      return Model.DefaultRelays;
    }
  }
  return any && count >= 1 ? static_cast<int>(count) : Model.DefaultRelays;
}

}  // namespace quorvel::relay
