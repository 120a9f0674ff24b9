// The system's side of the volume letters over a made-up sysfs tree and mountinfo text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "storage/VolumeLetters.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

fs::path FakeDisk(const std::string& name) {
  const fs::path root = fs::temp_directory_path() / ("corvale-sysfs-" + std::to_string(::getpid()) + name);
  fs::remove_all(root);
  const fs::path disk = root / "block" / name;
  Write(disk / "dev", "8:16\n");
  for (int i = 1; i <= 3; ++i) {
    const fs::path part = disk / (name + std::to_string(i));
    Write(part / "partition", std::to_string(i) + "\n");
    Write(part / "start", std::to_string(2048 * i * 8) + "\n");
    Write(part / "dev", "8:" + std::to_string(16 + i) + "\n");
  }
  Write(disk / "queue" / "rotational", "0\n");  // a folder that is not a partition
  return disk;
}

TEST(PartitionNode, FoundByStartInTheDisksSectors) {
  const fs::path disk = FakeDisk("sdb");
  auto node = corvale::FindPartitionNode(disk.string(), 2048 * 2 * 8, 512);
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->name, "sdb2");
  EXPECT_EQ(node->devicePath, "/dev/sdb2");
  EXPECT_EQ(node->major, 8u);
  EXPECT_EQ(node->minor, 18u);
  // A 4096-byte-sector disk: sysfs still counts 512-byte units.
  node = corvale::FindPartitionNode(disk.string(), 2048 * 3, 4096);
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->name, "sdb3");
  EXPECT_FALSE(corvale::FindPartitionNode(disk.string(), 12345, 512).has_value());
  EXPECT_FALSE(corvale::FindPartitionNode((disk / "missing").string(), 2048 * 8, 512).has_value());
  auto number = corvale::BlockDeviceNumber(disk.string());
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->second, 16u);
  fs::remove_all(disk.parent_path().parent_path());
}

TEST(MountInfo, FirstMountPointOfTheDeviceWithEscapesUndone) {
  const fs::path file = fs::temp_directory_path() / ("corvale-mountinfo-" + std::to_string(::getpid()));
  Write(file,
        "22 1 0:21 / /proc rw - proc proc rw\n"
        "30 1 8:17 / /media/my\\040disk rw,relatime shared:1 - ext4 /dev/sdb1 rw\n"
        "31 1 8:17 /sub /bind rw - ext4 /dev/sdb1 rw\n"
        "32 1 0:45 / /btrfs rw - btrfs /dev/sdc rw\n");
  EXPECT_EQ(corvale::MountPointOf(file.string(), 8, 17), "/media/my disk");
  EXPECT_EQ(corvale::MountPointOf(file.string(), 8, 18), "");
  EXPECT_EQ(corvale::MountPointOf("/nonexistent/mountinfo", 8, 17), "");
  fs::remove(file);
}

TEST(LetterTable, LettersAreLookedUpInEitherCase) {
  corvale::LetteredVolume v;
  v.letter = 'D';
  v.devicePath = "/dev/sdb1";
  corvale::SetLetteredVolumes({v});
  EXPECT_EQ(corvale::VolumeOfLetter('d')->devicePath, "/dev/sdb1");
  EXPECT_FALSE(corvale::VolumeOfLetter('E').has_value());
  corvale::SetLetteredVolumes({});
  EXPECT_FALSE(corvale::VolumeOfLetter('D').has_value());
}

}  // namespace
