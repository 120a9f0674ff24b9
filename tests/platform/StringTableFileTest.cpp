#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/Language.h"
#include "platform/Log.h"
#include "platform/StringTable.h"
#include "platform/StringTableFile.h"
#include "support/Fixtures.h"

using corvale::StringTableFile;

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(StringTableFile, ReadsIdsTabsAndEscapes) {
  StringTableFile table;
  table.Parse(
      "\xEF\xBB\xBF# comment\n"
      "346\tCorvale Hard Drive Data Recovery\r\n"
      "\n"
      "307\t%s has encountered a problem.\\nWe are sorry.\n"
      "9\tquote \\\" backslash \\\\ tab \\t\n"
      "4294967295\tlargest id\n"
      "12\t\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(table.Get(346), "Corvale Hard Drive Data Recovery");
  EXPECT_EQ(table.Get(307), "%s has encountered a problem.\nWe are sorry.");
  EXPECT_EQ(table.Get(9), "quote \" backslash \\ tab \t");
  EXPECT_EQ(table.Get(4294967295u), "largest id");
  EXPECT_EQ(table.Get(12), "\xE6\x97\xA5\xE6\x9C\xAC") << "UTF-8 text stays as it is";
  EXPECT_EQ(table.Get(1), "");
  EXPECT_EQ(table.SkippedLines(), 0u);
}

TEST(StringTableFile, SkipsEveryLineThatIsNotAText) {
  const std::string bad[] = {
      "no tab here",
      "x12\tletters in the id",
      "\tno id",
      "4294967296\tid too large",
      "99999999999999999999\tid far too large",
      "5\tbad escape \\q",
      "5\tescape at the end \\",
      std::string("5\tNUL \0 inside", 14),
      "-3\tnegative",
  };
  for (const std::string& line : bad) {
    StringTableFile table;
    table.Parse(line + "\n7\tkept\n");
    EXPECT_EQ(table.SkippedLines(), 1u) << line;
    EXPECT_EQ(table.Get(7), "kept");
    EXPECT_EQ(table.Size(), 1u) << line;
  }
  StringTableFile twice;
  twice.Parse("7\tfirst\n7\tsecond\n");
  EXPECT_EQ(twice.Get(7), "first");
  EXPECT_EQ(twice.SkippedLines(), 1u);
}

TEST(StringTableFile, LoadRefusesWhatIsNotASmallFile) {
  std::string dir = corvale::test::ScratchDir();
  StringTableFile table;
  EXPECT_EQ(table.Load(dir + "/missing.txt"), StringTableFile::LoadResult::Missing);
  EXPECT_EQ(table.Load(dir), StringTableFile::LoadResult::Unreadable);
  std::string big = dir + "/big.txt";
  {
    std::ofstream out(big);
    out << std::string(StringTableFile::kMaxBytes + 1, '#');
  }
  EXPECT_EQ(table.Load(big), StringTableFile::LoadResult::TooLarge);
  WriteFile(dir + "/ok.txt", "1\tone\n");
  EXPECT_EQ(table.Load(dir + "/ok.txt"), StringTableFile::LoadResult::Ok);
  EXPECT_EQ(table.Get(1), "one");
}

TEST(StringTableFile, BuiltInEnglishIsWellFormedAndHoldsTheProgramsTexts) {
  corvale::EnglishStringTable english;
  EXPECT_EQ(english.MalformedLines(), 0u);
  EXPECT_EQ(english.Get(346), "Corvale Hard Drive Data Recovery");
  EXPECT_EQ(english.Get(434), "Corvale Hard Drive Data Recovery has been running!");
}

TEST(Language, StoredNamesMatchExactly) {
  struct Case {
    const char* name;
    int32_t id;
  };
  const Case cases[] = {{"Chinese", 1}, {"English", 2}, {"Deutsch", 3}, {"Japanese", 4},
                        {"deutsch", 2}, {"", 2},        {"German", 2},  {"Japanese ", 2}};
  for (const Case& c : cases) EXPECT_EQ(corvale::LanguageIdFromName(c.name), c.id) << c.name;
  EXPECT_STREQ(corvale::LanguageName(3), "Deutsch");
  EXPECT_STREQ(corvale::LanguageName(99), "English");
}

TEST(Language, ReadFromTheSettingsFileAndWrittenBack) {
  std::string dir = corvale::test::ScratchDir();
  std::string registry = dir + "/registry.ini";
  setenv("CORVALE_REGISTRY", registry.c_str(), 1);
  int32_t id = 0;
  EXPECT_EQ(corvale::ReadLanguageUncached(&id), 0) << "no file: the key cannot be opened";
  EXPECT_EQ(id, corvale::kLanguageEnglish);
  EXPECT_EQ(WriteLanguageToReg("Japanese"), 1);
  EXPECT_EQ(corvale::ReadLanguageUncached(&id), 1);
  EXPECT_EQ(id, corvale::kLanguageJapanese);
  WriteFile(registry, "[SOFTWARE\\Corvale\\TarnRecovery\\Language]\nLanguage=deutsch\n");
  EXPECT_EQ(corvale::ReadLanguageUncached(&id), 1);
  EXPECT_EQ(id, corvale::kLanguageEnglish);

  corvale::log::ScopedCapture capture;
  setenv("CORVALE_REGISTRY", (dir + "/registry.ini/inside-a-file.ini").c_str(), 1);
  EXPECT_EQ(WriteLanguageToReg("English"), 0);
  EXPECT_TRUE(capture.HasPart("Tev : WriteLanguageToReg RegSetValueEx2 failed with "))
      << "the key did not exist";
  unsetenv("CORVALE_REGISTRY");
}

TEST(Language, TranslationComesOnlyFromTheGivenFolder) {
  std::string dir = corvale::test::ScratchDir() + "/";
  EXPECT_EQ(corvale::LoadLanguageTable(corvale::kLanguageDeutsch, dir), nullptr) << "missing file: English";
  WriteFile(dir + "Deutsch.txt", "346\tCorvale Festplatten-Datenrettung\n");
  auto german = corvale::LoadLanguageTable(corvale::kLanguageDeutsch, dir);
  ASSERT_NE(german, nullptr);
  EXPECT_EQ(german->Get(346), "Corvale Festplatten-Datenrettung");
  EXPECT_EQ(corvale::LoadLanguageTable(corvale::kLanguageEnglish, dir), nullptr);
  EXPECT_EQ(corvale::LoadLanguageTable(7, dir), nullptr);
}
