// The layer's foundations: delegates, exceptions, components, and the
// language-ID count of a string buffer.
#include <gtest/gtest.h>

#include "hid/LanguageIds.h"
#include "hid/LayerTypes.h"

namespace quorvel::hid {
namespace {

struct TTarget {
  int sum = 0;
  int Add(int value) { return sum += value; }
  int Twice(int value) { return sum += 2 * value; }
};

using TAdd = TDelegate<int(int)>;

TEST(DelegateTest, AssignedWhenItsFunctionIsSetAndEqualWhenBothPartsAre) {
  TTarget a;
  TTarget b;
  const TAdd empty;
  EXPECT_FALSE(empty.Assigned());
  const auto addA = TAdd::Of<&TTarget::Add>(&a);
  EXPECT_TRUE(addA.Assigned());
  EXPECT_EQ(addA, TAdd::Of<&TTarget::Add>(&a));
  EXPECT_NE(addA, TAdd::Of<&TTarget::Add>(&b));
  EXPECT_NE(addA, TAdd::Of<&TTarget::Twice>(&a));
  EXPECT_NE(addA, empty);
  // An object without a function is still unassigned.
  EXPECT_FALSE(TAdd(&a, nullptr).Assigned());
  EXPECT_EQ(addA(3), 3);
  EXPECT_EQ(TAdd::Of<&TTarget::Twice>(&a)(2), 7);
}

TEST(DelegateTest, PlainFunctionWithContext) {
  int calls = 0;
  const TAdd counter(&calls,
                     [](void* target, int value) { return *static_cast<int*>(target) += value; });
  EXPECT_EQ(counter(5), 5);
  EXPECT_EQ(calls, 5);
}

TEST(ExceptionTest, ClassesNameThemselves) {
  const EControllerError error("Device cannot be identified");
  const ELayerException& base = error;
  EXPECT_STREQ(base.ClassName(), "EControllerError");
  EXPECT_STREQ(base.what(), "Device cannot be identified");
  EXPECT_STREQ(ELayerException("x").ClassName(), "ELayerException");
  EXPECT_NE(dynamic_cast<const std::exception*>(&base), nullptr);
}

struct TTracked : TLayerComponent {
  TTracked(TLayerComponent* owner, std::vector<std::string>& log, std::string name)
      : TLayerComponent(owner), log_(log), name_(std::move(name)) {}
  ~TTracked() override { log_.push_back(name_); }
  std::vector<std::string>& log_;
  std::string name_;
};

TEST(ComponentTest, OwnerFreesWhatItOwnsAndChildrenLeaveTheirOwner) {
  std::vector<std::string> freed;
  {
    TTracked owner(nullptr, freed, "owner");
    new TTracked(&owner, freed, "first");  // owned: the owner frees it
    auto* second = new TTracked(&owner, freed, "second");
    EXPECT_EQ(second->Owner(), &owner);
    delete second;  // leaves its owner, which must not free it again
    EXPECT_EQ(freed, (std::vector<std::string>{"second"}));
    EXPECT_FALSE(owner.Loading());
    owner.BeginLoading();
    EXPECT_TRUE(owner.Loading());
    owner.EndLoading();
    EXPECT_FALSE(owner.Destroying());
  }
  EXPECT_EQ(freed, (std::vector<std::string>{"second", "owner", "first"}));
}

struct TLanguageCase {
  std::vector<char16_t> written;  // the words the platform wrote
  std::size_t count;
};

class LanguageCountTest : public ::testing::TestWithParam<TLanguageCase> {};

TEST_P(LanguageCountTest, CountsTheWordsWrittenLessTheTerminator) {
  TStringBuffer buffer;
  buffer.fill(kUnwrittenWord);
  std::copy(GetParam().written.begin(), GetParam().written.end(), buffer.begin());
  EXPECT_EQ(LanguageCount(buffer), GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(Buffers, LanguageCountTest,
                         ::testing::Values(TLanguageCase{{}, 0}, TLanguageCase{{0}, 0},
                                           TLanguageCase{{0x0409, 0}, 1},
                                           TLanguageCase{{0x0409, 0x0407, 0}, 2},
                                           TLanguageCase{{0x0409, 0x0407}, 2},
                                           TLanguageCase{std::vector<char16_t>(254, 0x0409), 254},
                                           TLanguageCase{std::vector<char16_t>(253, 0x0409), 253}));

}  // namespace
}  // namespace quorvel::hid
