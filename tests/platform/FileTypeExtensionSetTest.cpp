#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileTypeExtensionSet.h"

namespace {

struct QueryCase {
  int32_t mode;
  bool empty;
  const char* extension;
  bool wanted;
};

class ExtensionSetQuery : public ::testing::TestWithParam<QueryCase> {};

TEST_P(ExtensionSetQuery, AnswersByModeAndContent) {
  const QueryCase& c = GetParam();
  CFileTypeExtensionSet set;
  ASSERT_TRUE(
      set.Rebuild(c.mode, c.empty ? std::vector<std::string>{} : std::vector<std::string>{".JPG", ".doc"}));
  EXPECT_EQ(set.IsFileTypeInList(c.extension), c.wanted)
      << "mode " << c.mode << (c.empty ? " empty " : " ") << c.extension;
}

// An empty set wants every type in every mode; otherwise the set's answer, inverted in mode 2.
INSTANTIATE_TEST_SUITE_P(
    Table, ExtensionSetQuery,
    ::testing::Values(QueryCase{0, true, ".jpg", true}, QueryCase{0, true, ".zip", true},
                      QueryCase{1, true, ".jpg", true}, QueryCase{1, true, ".zip", true},
                      QueryCase{2, true, ".jpg", true}, QueryCase{2, true, ".zip", true},
                      QueryCase{1, false, ".jpg", true}, QueryCase{1, false, ".Doc", true},
                      QueryCase{1, false, ".zip", false}, QueryCase{1, false, "jpg", false},
                      QueryCase{2, false, ".jpg", false}, QueryCase{2, false, ".DOC", false},
                      QueryCase{2, false, ".zip", true}, QueryCase{2, false, "", true},
                      // Mode 0 holds nothing, whatever it was given.
                      QueryCase{0, false, ".zip", true}));

TEST(ExtensionSet, SizeModeAndRebuild) {
  CFileTypeExtensionSet set;
  EXPECT_EQ(set.GetSize(), 0u);
  EXPECT_EQ(set.GetMode(), CFileTypeExtensionSet::kAllTypes);
  ASSERT_TRUE(set.Rebuild(CFileTypeExtensionSet::kIncludeList, {".jpg", ".JPG", ".Jpg", ".png"}));
  EXPECT_EQ(set.GetSize(), 2u);  // one entry whatever the case
  EXPECT_EQ(set.GetMode(), 1);
  EXPECT_FALSE(set.Rebuild(3, {".zip"}));
  EXPECT_FALSE(set.Rebuild(-1, {}));
  EXPECT_EQ(set.GetSize(), 2u);
  EXPECT_EQ(set.GetMode(), 1);
  ASSERT_TRUE(set.Rebuild(CFileTypeExtensionSet::kAllTypes, {".zip"}));
  EXPECT_EQ(set.GetSize(), 0u);
  set.Rebuild(2, {".a"});
  set.Clear();
  EXPECT_EQ(set.GetSize(), 0u);
  EXPECT_EQ(set.GetMode(), 0);
  EXPECT_TRUE(set.IsFileTypeInList(".anything"));
}

TEST(ExtensionSet, NullExtensionIsNotWantedAndLongOnesAreCut) {
  CFileTypeExtensionSet set;
  EXPECT_FALSE(set.IsFileTypeInList(static_cast<const char*>(nullptr)));
  std::string longExt = "." + std::string(300, 'a');
  ASSERT_TRUE(set.Rebuild(1, {longExt}));
  // Both sides are cut to the same length, so a text differing only past it matches.
  EXPECT_TRUE(set.IsFileTypeInList(longExt.c_str()));
  EXPECT_TRUE(set.IsFileTypeInList(("." + std::string(258, 'A') + "zzz").c_str()));
  EXPECT_FALSE(set.IsFileTypeInList(("." + std::string(257, 'a')).c_str()));
}

}  // namespace
