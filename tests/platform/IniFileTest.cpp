#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>

#include "platform/IniFile.h"
#include "support/Fixtures.h"

using corvale::IniFile;

namespace {

struct ReadCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

class IniFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniFileRead, FindsValueAsPrivateProfileRulesSay) {
  const ReadCase& c = GetParam();
  IniFile file;
  file.Parse(c.text);
  EXPECT_EQ(file.Get(c.section, c.key), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniFileRead,
    ::testing::Values(ReadCase{"plain", "[main]\npos=42\n", "main", "pos", "42"},
                      ReadCase{"namesIgnoreCase", "[Main]\nPOS=42\n", "MAIN", "pos", "42"},
                      ReadCase{"blanksDropped", "  [ main ]  \n  pos  =  42  \n", "main", "pos", "42"},
                      ReadCase{"crlfLines", "[main]\r\npos=42\r\n", "main", "pos", "42"},
                      ReadCase{"quotesDropped", "[k]\nv=\" padded \"\n", "k", "v", " padded "},
                      ReadCase{"equalsInValue", "[k]\nurl=http://x/?a=b\n", "k", "url", "http://x/?a=b"},
                      ReadCase{"emptyValue", "[k]\nv=\n", "k", "v", ""},
                      ReadCase{"commentIgnored", "[k]\n;v=1\n#v=2\nv=3\n", "k", "v", "3"},
                      ReadCase{"firstOfTwo", "[k]\nv=1\nv=2\n", "k", "v", "1"},
                      ReadCase{"otherSectionNotSeen", "[a]\nv=1\n[b]\nw=2\n", "b", "v", std::nullopt},
                      ReadCase{"laterSectionOfSameName", "[a]\nx=1\n[b]\n[a]\nv=2\n", "a", "v", "2"},
                      ReadCase{"noSection", "v=1\n", "main", "v", std::nullopt},
                      ReadCase{"unnamedSection", "v=1\n[a]\n", "", "v", "1"},
                      ReadCase{"noFinalLineBreak", "[main]\npos=7", "main", "pos", "7"},
                      ReadCase{"nulEndsText", std::string("[main]\npos=7\0pos=8\n", 19), "main", "pos", "7"},
                      ReadCase{"lineWithoutEquals", "[main]\ngarbage\npos=1\n", "main", "pos", "1"},
                      ReadCase{"unclosedHeaderIsNotASection", "[main\npos=1\n", "main", "pos", std::nullopt}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(IniFileWrite, ReplacesInPlaceAndKeepsOtherLines) {
  IniFile file;
  file.Parse("; settings\n[a]\nLanguage=Deutsch\nother=1\n\n[b]\nx=2\n");
  ASSERT_TRUE(file.Set("A", "language", "English"));
  EXPECT_EQ(file.Text(), "; settings\n[a]\nLanguage=English\nother=1\n\n[b]\nx=2\n");
}

TEST(IniFileWrite, AddsToSectionAfterItsLastLine) {
  IniFile file;
  file.Parse("[a]\nx=1\n\n[b]\ny=2\n");
  ASSERT_TRUE(file.Set("a", "z", "3"));
  EXPECT_EQ(file.Text(), "[a]\nx=1\nz=3\n\n[b]\ny=2\n");
}

TEST(IniFileWrite, AppendsMissingSection) {
  IniFile file;
  file.Parse("[a]\nx=1\n");
  ASSERT_TRUE(file.Set("SOFTWARE\\Corvale\\TarnRecovery", "UpdateUrl", "http://u"));
  EXPECT_EQ(file.Text(), "[a]\nx=1\n\n[SOFTWARE\\Corvale\\TarnRecovery]\nUpdateUrl=http://u\n");
  IniFile empty;
  ASSERT_TRUE(empty.Set("k", "v", "1"));
  EXPECT_EQ(empty.Text(), "[k]\nv=1\n");
}

TEST(IniFileWrite, ValuesSurviveTheRoundTrip) {
  for (std::string value : {" lead", "trail ", "\"quoted\"", "", "a=b;c#d", "\""}) {
    IniFile file;
    ASSERT_TRUE(file.Set("k", "v", value));
    IniFile back;
    back.Parse(file.Text());
    EXPECT_EQ(back.Get("k", "v"), value) << file.Text();
  }
}

TEST(IniFileWrite, RefusesWhatTheLineFormatCannotHold) {
  IniFile file;
  EXPECT_FALSE(file.Set("k", "v", "two\nlines"));
  EXPECT_FALSE(file.Set("k", "v", "cr\r"));
  EXPECT_FALSE(file.Set("k", "v", std::string("nul\0", 4)));
  EXPECT_FALSE(file.Set("k]", "v", "1"));
  EXPECT_FALSE(file.Set("k", "a=b", "1"));
  EXPECT_FALSE(file.Set("k", "", "1"));
  EXPECT_FALSE(file.Set("k", " v", "1"));
  EXPECT_FALSE(file.Set("k", ";v", "1"));
  EXPECT_EQ(file.Text(), "");
}

TEST(IniFileLoad, TellsMissingUnreadableAndTooLargeApart) {
  std::string dir = corvale::test::ScratchDir();
  IniFile file;
  int error = 0;
  EXPECT_EQ(file.Load(dir + "/none.ini", &error), IniFile::LoadResult::Missing);
  EXPECT_EQ(file.Load(dir, &error), IniFile::LoadResult::Unreadable);
  EXPECT_EQ(error, EISDIR);
  std::string big = dir + "/big.ini";
  FILE* f = fopen(big.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(ftruncate(fileno(f), IniFile::kMaxBytes + 1), 0);
  fclose(f);
  EXPECT_EQ(file.Load(big, &error), IniFile::LoadResult::TooLarge);
  EXPECT_FALSE(file.HasSection(""));
}

TEST(IniFileSave, ReplacesTheFileAndKeepsItsMode) {
  std::string path = corvale::test::ScratchDir() + "/r.ini";
  IniFile file;
  file.Set("k", "v", "1");
  ASSERT_TRUE(file.Save(path, 0600));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  file.Set("k", "v", "2");
  ASSERT_TRUE(file.Save(path, 0600));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  IniFile back;
  ASSERT_EQ(back.Load(path), IniFile::LoadResult::Ok);
  EXPECT_EQ(back.Get("k", "v"), "2");
}

}  // namespace
