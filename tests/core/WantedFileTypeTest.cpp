#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/WantedFileType.h"
#include "platform/FileTypeExtensionSet.h"

TEST(WantedFileType, FollowsTheModeOfTheExtensionSet) {
  const std::vector<std::string> chosen{".jpg", ".doc"};
  const struct {
    int32_t mode;
    const char* name;
    bool all;
    bool wanted;
  } cases[] = {
      // Mode 0: every type, with or without an extension.
      {0, "photo.jpg", false, true},
      {0, "README", false, true},
      // Mode 1: only the chosen types.
      {1, "photo.jpg", false, true},
      {1, "PHOTO.JPG", false, true},
      {1, "archive.tar.doc", false, true},
      {1, "song.mp3", false, false},
      {1, "photo.jpg.bak", false, false},
      {1, "README", false, false},
      {1, "trailing.", false, false},
      {1, "song.mp3", true, true},
      {1, nullptr, false, true},
      // Mode 2: the set holds the types not chosen, and those are the ones left out.
      {2, "photo.jpg", false, false},
      {2, "song.mp3", false, true},
      {2, "README", false, false},
      {2, "photo.jpg", true, true},
  };
  for (const auto& c : cases) {
    CFileTypeExtensionSet set;
    ASSERT_TRUE(set.Rebuild(c.mode, chosen));
    EXPECT_EQ(IsWantedFileType(set, c.name, c.all), c.wanted)
        << "mode " << c.mode << " " << (c.name ? c.name : "(null)") << " all " << c.all;
  }
}

TEST(WantedFileType, EmptyListWantsEverything) {
  for (int32_t mode : {1, 2}) {
    CFileTypeExtensionSet set;
    ASSERT_TRUE(set.Rebuild(mode, {}));
    for (const char* name : {"a.jpg", "README", "x."})
      EXPECT_TRUE(IsWantedFileType(set, name, false)) << name;
  }
}

TEST(WantedFileType, AsksTheProgramWideSet) {
  CFileTypeExtensionSet& set = GetFileTypeExtensionSet();
  ASSERT_TRUE(set.Rebuild(1, {".pdf"}));
  EXPECT_TRUE(IsWantedFileType("a.pdf", false));
  EXPECT_FALSE(IsWantedFileType("a.txt", false));
  set.Clear();
  EXPECT_TRUE(IsWantedFileType("a.txt", false));
}
