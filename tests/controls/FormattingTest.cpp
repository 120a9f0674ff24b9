// The one form of sizes, times and file-system names, and the two questions about paths and volumes.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "controls/Formatting.h"
#include "support/Fixtures.h"

TEST(FormatByteSize, StepsOf1024WithoutAByteUnit) {
  struct Case {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0.00 KB"},
      {1023, "1.00 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {1073741823, "1024.00 MB"},
      {1073741824, "1.00 GB"},
      {int64_t{1} << 40, "1.00 TB"},
      {int64_t{5} << 40 | (int64_t{1} << 39), "5.50 TB"},
      {-1, "-0.00 KB"},
      {-(int64_t{1} << 40), "-1073741824.00 KB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(FormatSectorSize, ASectorSizeThatNoDeviceHasCountsAs512) {
  EXPECT_EQ(FormatSectorSize(2048, 512), "1.00 MB");
  EXPECT_EQ(FormatSectorSize(256, 4096), "1.00 MB");
  EXPECT_EQ(FormatSectorSize(2048, 520), "1.00 MB");
  EXPECT_EQ(FormatSectorSize(2048, 0), "1.00 MB");
  // A count from a damaged record must not overflow into undefined behaviour.
  EXPECT_FALSE(FormatSectorSize(INT64_MAX, 4096).empty());
}

TEST(FileTimeToText, RecordedTimeUnpaddedAndNothingForStampsOutOfRange) {
  struct Case {
    uint64_t fileTime;
    const char* text;
  } cases[] = {
      {0, "1601-1-1 0:0:0"},
      {128808903000000000ULL, "2009-3-7 9:5:0"},
      {116444736000000000ULL, "1970-1-1 0:0:0"},
      {116444736000000000ULL + 10000000ULL * 86399, "1970-1-1 23:59:59"},
      {0x7FFFFFFFFFFFFFFFULL, "30828-9-14 2:48:5"},
      {0x8000000000000000ULL, ""},
      {0xFFFFFFFFFFFFFFFFULL, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FileTimeToText(c.fileTime), c.text) << c.fileTime;
}

TEST(GetFileSystemName, NamesForTheEightCodesAndNothingElse) {
  const char* names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown"};
  for (uint32_t code = 0; code < 8; ++code) EXPECT_STREQ(GetFileSystemName(code), names[code]);
  EXPECT_STREQ(GetFileSystemName(8), "");
  EXPECT_STREQ(GetFileSystemName(0xFFFFFFFFu), "");
}

TEST(GetRootPathOfPath, DriveAndShareRootsAsWindowsPathsHaveThem) {
  struct Case {
    const char* path;
    bool accepted;
    const char* root;
  } cases[] = {
      {"C:", true, "C:\\"},
      {"d:\\data\\x", true, "d:\\"},
      {"\\\\srv\\share", true, "\\\\srv\\share\\"},
      {"\\\\srv\\share\\dir\\file", true, "\\\\srv\\share\\"},
      {"\\\\srv", true, "\\\\srv\\"},
      {"data\\x", true, ""},
      {"x", false, "unchanged"},
      {"", false, "unchanged"},
  };
  for (const Case& c : cases) {
    std::string root = "unchanged";
    EXPECT_EQ(GetRootPathOfPath(c.path, &root), c.accepted) << c.path;
    EXPECT_EQ(root, c.root) << c.path;
  }
  std::string root = "unchanged";
  EXPECT_FALSE(GetRootPathOfPath(nullptr, &root));
  // 260 characters are accepted, 261 refused; the separator added to the longest one fits.
  EXPECT_TRUE(GetRootPathOfPath(("C:\\" + std::string(257, 'a')).c_str(), &root));
  EXPECT_EQ(root, "C:\\");
  root = "unchanged";
  EXPECT_FALSE(GetRootPathOfPath(("C:\\" + std::string(258, 'a')).c_str(), &root));
  EXPECT_EQ(root, "unchanged");
}

TEST(GetRootPathOfPath, AnAbsolutePathGivesTheMountPointHoldingItsNearestExistingFolder) {
  std::string root = "unchanged";
  EXPECT_FALSE(GetRootPathOfPath("/", &root)) << "one character is too short, as for any path";
  ASSERT_TRUE(GetRootPathOfPath("/tmp", &root));
  EXPECT_FALSE(root.empty());
  // /proc is a file system of its own on every Linux machine.
  ASSERT_TRUE(GetRootPathOfPath("/proc/self/status", &root));
  EXPECT_EQ(root, "/proc/");
  // A folder still to be made counts as the folder above it.
  std::string expected;
  const std::string scratch = corvale::test::ScratchDir();
  ASSERT_TRUE(GetRootPathOfPath(scratch.c_str(), &expected));
  ASSERT_TRUE(GetRootPathOfPath((scratch + "/not/yet/made").c_str(), &root));
  EXPECT_EQ(root, expected);
  EXPECT_EQ(root.back(), '/');
}

TEST(IsNTFSVolume, OnlyAFileSystemThatIsNtfs) {
  EXPECT_FALSE(IsNTFSVolume(nullptr));
  EXPECT_FALSE(IsNTFSVolume(""));
  EXPECT_FALSE(IsNTFSVolume("/"));
  EXPECT_FALSE(IsNTFSVolume("/proc"));
  EXPECT_FALSE(IsNTFSVolume(corvale::test::ScratchDir().c_str()));
  EXPECT_FALSE(IsNTFSVolume("/no/such/folder"));
}

TEST(IsNTFSVolume, AnNtfsVolumeMountedThroughNtfs3g) {
  CORVALE_REQUIRE_ROOT();
  if (!corvale::test::HaveTool("ntfs-3g")) GTEST_SKIP() << "ntfs-3g is not installed";
  struct stat fuse {};
  if (stat("/dev/fuse", &fuse) != 0) GTEST_SKIP() << "no /dev/fuse";
  CORVALE_FIXTURE(image, "ntfs_empty.sh", "ntfs_empty.img");
  // A copy: mounting writes to the volume, and the cached image stays as the script made it.
  const std::string folder = corvale::test::ScratchDir();
  const std::string copy = folder + "/volume.img";
  const std::string mountPoint = folder + "/mnt";
  ASSERT_EQ(corvale::test::RunCommand("cp '" + image + "' '" + copy + "' && mkdir '" + mountPoint + "'"), 0);
  std::string out;
  ASSERT_EQ(corvale::test::RunCommand("ntfs-3g '" + copy + "' '" + mountPoint + "' 2>&1", &out), 0) << out;
  ASSERT_EQ(corvale::test::RunCommand("mkdir '" + mountPoint + "/inner'"), 0);

  EXPECT_TRUE(IsNTFSVolume(mountPoint.c_str()));
  EXPECT_TRUE(IsNTFSVolume((mountPoint + "/inner").c_str()));
  std::string root;
  EXPECT_TRUE(GetRootPathOfPath((mountPoint + "/inner/to/be/made").c_str(), &root));
  EXPECT_EQ(root, mountPoint + "/");

  EXPECT_EQ(corvale::test::RunCommand("umount '" + mountPoint + "' || umount -l '" + mountPoint + "'"), 0);
  EXPECT_FALSE(IsNTFSVolume(mountPoint.c_str()));
}
