// Wildcard name patterns and extension lists.
#include <gtest/gtest.h>

#include <string>

#include "core/MyFileProperties.h"
#include "find/NamePattern.h"

namespace {

using Mode = NamePatternMode;

TEST(NamePattern, WildcardRules) {
  struct Case {
    const char* text;
    Mode mode;
    bool wholeName;
    const char* wildcard;
  } cases[] = {
      {"report", Mode::kFind, false, "*report*"},
      {"report", Mode::kFind, true, "report"},
      {"?eport", Mode::kFind, false, "?eport*"},
      {"re*rt", Mode::kFind, false, "re*rt"},
      {"a**?***b", Mode::kPlain, false, "a*b"},
      {"a*?b", Mode::kPlain, false, "a*b"},
      {"a?*b", Mode::kPlain, false, "a*b"},
      {"a??b", Mode::kPlain, false, "a??b"},
      {"a?", Mode::kPlain, false, "a?"},
      {"a?", Mode::kFind, true, "a*"},
      {"name?", Mode::kSearch, false, "name*"},
      {"name.tx?", Mode::kSearch, false, "name.tx?"},
      {"", Mode::kFind, false, "*"},
  };
  for (const Case& c : cases) {
    NamePatternRequest request{c.text, false, c.wholeName, c.mode};
    EXPECT_EQ(CFileNamePattern::Normalize(request), c.wildcard) << c.text;
    EXPECT_EQ(CFileNamePattern(request).Wildcard(), c.wildcard) << c.text;
  }
}

TEST(NamePattern, MatchesWholeNames) {
  struct Case {
    const char* pattern;
    Mode mode;
    bool caseSensitive;
    bool wholeName;
    const char* name;
    bool match;
  } cases[] = {
      // Find mode: a word anywhere, or the exact name.
      {"port", Mode::kFind, false, false, "Report.doc", true},
      {"port", Mode::kFind, false, true, "Report.doc", false},
      {"report.doc", Mode::kFind, false, true, "Report.doc", true},
      // "*" and "?".
      {"*.txt", Mode::kPlain, false, false, "notes.txt", true},
      {"*.txt", Mode::kPlain, false, false, "notes.txt.bak", false},
      {"a?c", Mode::kPlain, false, false, "abc", true},
      {"a?c", Mode::kPlain, false, false, "ac", false},
      {"a?c", Mode::kPlain, false, false, "abbc", false},
      {"name.tx?", Mode::kSearch, false, false, "name.txt", true},
      {"name.tx?", Mode::kSearch, false, false, "name.tx", false},
      {"name?", Mode::kSearch, false, false, "name_and_more", true},
      // Characters that are expression syntax elsewhere stand for themselves.
      {"(1)+[2]{3}.^$|-", Mode::kPlain, false, false, "(1)+[2]{3}.^$|-", true},
      {"a.c", Mode::kPlain, false, false, "abc", false},
      {"a+", Mode::kPlain, false, false, "aa", false},
      {"\\d", Mode::kPlain, false, false, "\\d", true},
      {"\\d", Mode::kPlain, false, false, "5", false},
      // Case.
      {"README", Mode::kPlain, false, false, "readme", true},
      {"README", Mode::kPlain, true, false, "readme", false},
      // Characters some file systems allow in names are still matched by the wildcards.
      {"*", Mode::kPlain, false, false, "a:b|c<d>\"e?*", true},
      {"a?b", Mode::kPlain, false, false, "a:b", true},
      // Unicode: "?" is one character, and case folds beyond ASCII.
      {"f?r", Mode::kPlain, false, false, "f\xC3\xBCr", true},
      {"\xC3\x9C"
       "BER*",
       Mode::kPlain, false, false,
       "\xC3\xBC"
       "ber.txt",
       true},
      {"\xC3\x9C"
       "BER*",
       Mode::kPlain, true, false,
       "\xC3\xBC"
       "ber.txt",
       false},
      {"\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2", Mode::kFind, false, false,
       "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt", true},
      {"??.txt", Mode::kPlain, false, false, "\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
      {"?.txt", Mode::kPlain, false, false, "\xF0\x9F\x98\x80.txt", true},
      // A name that is not UTF-8 matches only "*".
      {"a*", Mode::kPlain, false, false, "a\xFF", false},
      {"*", Mode::kPlain, false, false, "a\xFF", true},
  };
  for (const Case& c : cases) {
    const CFileNamePattern pattern(NamePatternRequest{c.pattern, c.caseSensitive, c.wholeName, c.mode});
    EXPECT_EQ(pattern.Matches(c.name), c.match) << c.pattern << " / " << c.name;
  }
}

TEST(NamePattern, BrokenPatternTextAcceptsEveryName) {
  const CFileNamePattern pattern(NamePatternRequest{"ab\xC3", false, false, Mode::kPlain});
  EXPECT_EQ(pattern.Wildcard(), "*");
  EXPECT_TRUE(pattern.Matches("anything"));
}

TEST(NamePattern, OnlyNamesMarkedValidAreMatched) {
  MyFileInfo info;
  info.name = "photo.jpg";
  info.validMask = 0xFF;
  const CMyFileProperties valid(info);
  info.validMask = 0xFE;
  const CMyFileProperties invalid(info);
  const CFileNamePattern pattern(NamePatternRequest{"*.jpg", false, false, Mode::kPlain});
  EXPECT_TRUE(MatchFileNamePattern(pattern, &valid));
  EXPECT_FALSE(MatchFileNamePattern(pattern, &invalid));
  EXPECT_FALSE(MatchFileNamePattern(pattern, nullptr));
  const CExtensionListPattern list(".jpg");
  EXPECT_TRUE(MatchExtensionList(list, &valid));
  EXPECT_FALSE(MatchExtensionList(list, &invalid));
}

TEST(ExtensionListPattern, AcceptsNamesEndingInAnyItem) {
  struct Case {
    const char* list;
    const char* name;
    bool match;
  } cases[] = {
      {".jpg;.jpeg", "a.JPG", true},      {".jpg;.jpeg", "b.jpeg", true},  {".jpg;.jpeg", "c.png", false},
      {".jpg;.jpeg", "d.jpg.txt", false}, {".jpg;.jpeg", "ejpg", false},   {"", "anything", true},
      {";;", "anything", true},           {".c++;.[x]", "main.c++", true}, {".c++;.[x]", "main.cc", false},
      {".c++;.[x]", "f.[x]", true},       {"*", "whatever.bin", true},     {".tar.gz", "a.TAR.GZ", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CExtensionListPattern(c.list).Matches(c.name), c.match) << c.list << " / " << c.name;
}

}  // namespace
