#include <gtest/gtest.h>

#include <string>

#include "core/PartitionDisplayName.h"

TEST(PartitionDisplayName, LetterAndLabelShapeTheName) {
  const struct {
    uint8_t letter;
    const char* label;
    const char* fs;
    int32_t number;
    const char* expected;
  } cases[] = {
      {'D', "Data", "NTFS", 2, "D:(Data - NTFS 2)"},
      {255, "Data", "NTFS", 2, "Data(NTFS 2)"},
      {255, "", "NTFS", 2, "NTFS 2"},
      {'E', "", "FAT32", 1, "E:(FAT32 1)"},
      {0, "", "Ext3", 3, "Ext3 3"},
      {0, "home", "Ext2", 12, "home(Ext2 12)"},
  };
  for (const auto& c : cases) {
    uint8_t letter = c.letter;
    EXPECT_EQ(FormatPartitionDisplayName(c.label, letter, c.fs, c.number), c.expected) << c.expected;
    EXPECT_EQ(letter, c.letter == 0 ? kNoDriveLetter : c.letter) << "a 0 letter becomes 255 in place";
  }
}

// A label from the user's volume can be anything: the name stays within its field and ends on a
// whole character.
TEST(PartitionDisplayName, LongLabelIsCutOnACharacterBoundary) {
  std::string label;
  for (int i = 0; i < 200; ++i) label += "\xC3\xA9";  // é, two bytes each
  uint8_t letter = 'F';
  const std::string name = FormatPartitionDisplayName(label, letter, "NTFS", 1);
  EXPECT_LE(name.size(), kMaxPartitionDisplayName);
  EXPECT_GE(name.size(), kMaxPartitionDisplayName - 1);
  EXPECT_EQ(name.substr(0, 3), "F:(");
  EXPECT_EQ(static_cast<uint8_t>(name.back()), 0xA9);
}
