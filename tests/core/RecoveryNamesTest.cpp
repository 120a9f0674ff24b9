#include <gtest/gtest.h>

#include <string>

#include "core/NameConversion.h"
#include "core/OutputName.h"

using namespace corvale;

namespace {

struct WideCase {
  const char* label;
  std::u16string wide;
  std::string narrow;
};

class WideToNarrow : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideToNarrow, ConvertsToUtf8WithUnpairedSurrogatesReplaced) {
  EXPECT_EQ(WideStringToString(GetParam().wide), GetParam().narrow);
}

INSTANTIATE_TEST_SUITE_P(
    Names, WideToNarrow,
    ::testing::Values(WideCase{"empty", u"", ""}, WideCase{"ascii", u"report.doc", "report.doc"},
                      WideCase{"latin", u"Gr\u00FC\u00DFe",
                               "Gr\xC3\xBC\xC3\x9F"
                               "e"},
                      WideCase{"cjk", u"\u5C0F\u8BF4", "\xE5\xB0\x8F\xE8\xAF\xB4"},
                      WideCase{"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
                      WideCase{"lone_high", std::u16string(u"a") + char16_t(0xD83D) + u"b",
                               "a\xEF\xBF\xBD"
                               "b"},
                      WideCase{"lone_low", std::u16string(1, char16_t(0xDE00)), "\xEF\xBF\xBD"},
                      WideCase{"high_at_end", std::u16string(u"x") + char16_t(0xD800), "x\xEF\xBF\xBD"},
                      WideCase{"two_highs",
                               std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
                               "\xEF\xBF\xBD\xF0\x90\x80\x80"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(NarrowToWide, RoundTripsWellFormedText) {
  for (const std::u16string& text : {std::u16string(u"plain.txt"), std::u16string(u"\u5C0F\u8BF4.txt"),
                                     std::u16string(u"\U0001F600\u00E9")}) {
    EXPECT_EQ(StringToWideString(WideStringToString(text)), text);
  }
}

TEST(NarrowToWide, EachMalformedByteBecomesOneReplacement) {
  const std::u16string r(1, char16_t(0xFFFD));
  EXPECT_EQ(StringToWideString("a\xFF"
                               "b"),
            u"a" + r + u"b");
  EXPECT_EQ(StringToWideString("\xC0\xAF"), r + r);                  // overlong "/"
  EXPECT_EQ(StringToWideString("\xED\xA0\x80"), r + r + r);          // an encoded surrogate
  EXPECT_EQ(StringToWideString("\xE5\xB0"), r + r);                  // cut short
  EXPECT_EQ(StringToWideString("\xF4\x90\x80\x80"), r + r + r + r);  // past U+10FFFF
}

struct NameCase {
  const char* label;
  std::string in;
  std::string out;
};

class OutputNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputNames, BecomeOneReadableEntry) { EXPECT_EQ(MakeOutputName(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Hostile, OutputNames,
    ::testing::Values(NameCase{"plain", "report.doc", "report.doc"}, NameCase{"empty", "", "#"},
                      NameCase{"dot", ".", "#"}, NameCase{"dotdot", "..", "##"},
                      NameCase{"three_dots", "...", "..."}, NameCase{"slash", "a/b", "a#b"},
                      NameCase{"climb", "../../etc", "..#..#etc"}, NameCase{"absolute", "/abs", "#abs"},
                      NameCase{"nul", std::string("a\0b", 3), "a#b"},
                      NameCase{"controls", "x\x01y\nz\x7F", "x#y#z#"},
                      NameCase{"backslash_kept", "a\\b", "a\\b"},
                      NameCase{"utf8_kept", "\xE5\xB0\x8F.txt", "\xE5\xB0\x8F.txt"},
                      NameCase{"invalid_bytes", "\xFF\xFE.bin", "%FF%FE.bin"},
                      NameCase{"cut_sequence", "a\xE5\xB0", "a%E5%B0"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OutputNames, LongNamesAreCutKeepingExtensionAndWholeCharacters) {
  const std::string longAscii = std::string(300, 'n') + ".txt";
  const std::string cut = MakeOutputName(longAscii);
  EXPECT_EQ(cut.size(), kMaxOutputNameBytes);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");

  // Three-byte characters: the cut must not leave a partial one.
  std::string cjk;
  for (int i = 0; i < 100; ++i) cjk += "\xE5\xB0\x8F";
  const std::string cutCjk = MakeOutputName(cjk + ".doc");
  EXPECT_LE(cutCjk.size(), kMaxOutputNameBytes);
  EXPECT_EQ(cutCjk.substr(cutCjk.size() - 4), ".doc");
  EXPECT_EQ((cutCjk.size() - 4) % 3, 0u);
  EXPECT_EQ(StringToWideString(cutCjk).find(char16_t(0xFFFD)), std::u16string::npos);

  // A long "extension" is part of the name and is cut with it.
  const std::string noExtension = MakeOutputName("a." + std::string(300, 'e'));
  EXPECT_EQ(noExtension.size(), kMaxOutputNameBytes);
  EXPECT_EQ(noExtension.substr(0, 2), "a.");
}

TEST(OutputNames, TopFolderReplacesWhatWindowsRefuses) {
  EXPECT_EQ(MakeTopFolderName("D:"), "D#");
  EXPECT_EQ(MakeTopFolderName("D:(Data - NTFS 1)"), "D#(Data - NTFS 1)");
  EXPECT_EQ(MakeTopFolderName("a?b\\c/d|e*f>g<h\"i"), "a#b#c#d#e#f#g#h#i");
  EXPECT_EQ(MakeTopFolderName(".."), "##");
}

}  // namespace
