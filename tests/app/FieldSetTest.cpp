#include "app/FieldSet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel::app {
namespace {

struct SplitCase {
  std::u16string text;
  char16_t separator;
  std::vector<std::u16string> pieces;
};

TEST(SplitFields, KeepsTrimmedNonEmptyPiecesInOrder) {
  const SplitCase cases[] = {
      {u"", u',', {}},
      {u"1", u',', {u"1"}},
      {u"1,2,3", u',', {u"1", u"2", u"3"}},
      {u"1,,3", u',', {u"1", u"3"}},
      {u" 1 , 3 ", u',', {u"1", u"3"}},
      {u",,,", u',', {}},
      {u" , ", u',', {}},
      {u"1,", u',', {u"1"}},
      {u",1", u',', {u"1"}},
      {u"\t1\x01,\r\n2\x1F", u',', {u"1", u"2"}},
      {u"a b,c", u',', {u"a b", u"c"}},
      {u"\u00A01", u',', {u"\u00A01"}},  // only codes 0 to 32 are trimmed
      {u"1;2,3", u';', {u"1", u"2,3"}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    TFieldSet set;
    EXPECT_EQ(SplitFields(c.text, set, c.separator), static_cast<std::int32_t>(c.pieces.size()));
    EXPECT_EQ(set.Count, static_cast<std::int32_t>(c.pieces.size()));
    EXPECT_EQ(set.Fields, c.pieces);
  }
}

TEST(SplitFields, ReplacesWhatTheSetHeldBefore) {
  TFieldSet set;
  SplitFields(u"1,2,3", set, u',');
  EXPECT_EQ(SplitFields(u"4", set, u','), 1);
  EXPECT_EQ(set.Fields, std::vector<std::u16string>{u"4"});
  EXPECT_EQ(SplitFields(u"", set, u','), 0);
  EXPECT_TRUE(set.Fields.empty());
  EXPECT_EQ(set.Count, 0);
}

}  // namespace
}  // namespace quorvel::app
