// Every device-installation export the layer never calls fails cleanly: the failure value
// of its return type and ERROR_CALL_NOT_IMPLEMENTED.
#include <gtest/gtest.h>

#include <string>

#include "platform/SetupApiStubs.h"

#define QUORVEL_SETUPAPI_STUB(name, failure) extern "C" LONG_PTR name();
#include "platform/SetupApiStubs.def"
#undef QUORVEL_SETUPAPI_STUB

namespace quorvel::hidraw::test {
namespace {

using namespace platform::stubs;

struct TStub {
  const char* Name;
  LONG_PTR (*Call)();
  LONG_PTR Failure;
};

#define QUORVEL_SETUPAPI_STUB(name, failure) TStub{#name, &name, failure},
constexpr TStub kStubs[] = {
#include "platform/SetupApiStubs.def"
};
#undef QUORVEL_SETUPAPI_STUB

TEST(SetupApiStubs, EachFailsWithItsTypesFailureValue) {
  // With the five the layer calls, the module has the platform's 271 exports.
  EXPECT_EQ(std::size(kStubs) + 5, 271u);
  for (const TStub& stub : kStubs) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(stub.Call(), stub.Failure) << stub.Name;
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED) << stub.Name;
  }
}

TEST(SetupApiStubs, HandleMakersGiveTheInvalidHandle) {
  // Callers of these test the result against INVALID_HANDLE_VALUE, not against 0.
  for (const std::string name :
       {"SetupOpenInfFileW", "SetupDiGetClassDevsA", "SetupDiGetClassDevsExW",
        "SetupDiCreateDeviceInfoList", "SetupDiOpenDevRegKey", "SetupOpenFileQueue"}) {
    bool found = false;
    for (const TStub& stub : kStubs) {
      if (name == stub.Name) {
        found = true;
        EXPECT_EQ(reinterpret_cast<HANDLE>(stub.Call()), INVALID_HANDLE_VALUE) << name;
      }
    }
    EXPECT_TRUE(found) << name;
  }
}

}  // namespace
}  // namespace quorvel::hidraw::test
