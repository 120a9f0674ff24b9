// Letters, device paths, mount points and labels of the volumes of real disks: image files named by
// CORVALE_DISKS, and a loop device over an image with its partitions as block devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "DiskTools.h"
#include "core/DriveLetters.h"
#include "storage/VolumeDevice.h"
#include "support/Fixtures.h"

using namespace corvale::test;
using corvale::LetteredVolume;

namespace {

class DisksVariable {
 public:
  explicit DisksVariable(const std::string& value) { setenv("CORVALE_DISKS", value.c_str(), 1); }
  ~DisksVariable() {
    unsetenv("CORVALE_DISKS");
    corvale::SetLetteredVolumes({});
  }
};

TEST(DriveLetters, VolumesOfNamedImagesGetLettersFromCInDiskOrder) {
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  CORVALE_FIXTURE(extended, "parts_mbr_extended.sh", "parts_mbr_extended.img");
  DisksVariable disks(primary + ":" + extended);
  const std::vector<LetteredVolume> volumes = AssignVolumeLetters();

  // Every partition with a file system blkid recognises, in disk and table order.
  std::vector<std::pair<std::string, ToolPartition>> expected;
  for (const std::string& image : {primary, extended})
    for (const ToolPartition& p : SfdiskPartitions(image))
      if (BlkidAt(image, p.start).type != 7) expected.push_back({image, p});
  ASSERT_EQ(volumes.size(), expected.size());
  for (size_t i = 0; i < volumes.size(); ++i) {
    SCOPED_TRACE(i);
    const ToolFileSystem fs = BlkidAt(expected[i].first, expected[i].second.start);
    EXPECT_EQ(volumes[i].letter, char('C' + i));
    EXPECT_EQ(volumes[i].diskNumber, expected[i].first == primary ? 0 : 1);
    EXPECT_EQ(volumes[i].startSector, expected[i].second.start);
    EXPECT_EQ(volumes[i].fileSystemType, fs.type);
    EXPECT_EQ(volumes[i].label, fs.label);
    EXPECT_EQ(volumes[i].devicePath, expected[i].first);
    EXPECT_FALSE(volumes[i].devicePathIsVolume);
    EXPECT_TRUE(volumes[i].mountPoint.empty());
  }
  // A partition inside an image file has no device of its own to open by letter.
  EXPECT_FALSE(corvale::VolumePathForLetter('C').has_value());
  EXPECT_FALSE(corvale::VolumePathForLetter('Z').has_value());
}

TEST(DriveLetters, RecordsOfADiskTakeTheirLetters) {
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  DisksVariable disks(primary);
  AssignVolumeLetters();
  PartitionRecordList records;
  records.push_back(std::make_unique<PARTITION_RECORD>());
  records.back()->StartSector = 32130;
  records.push_back(std::make_unique<PARTITION_RECORD>());
  records.back()->StartSector = 12345;
  AssignDriveLetters(0, records);
  EXPECT_EQ(records[0]->DriveLetter, 'D');
  EXPECT_EQ(records[0]->DevicePath, primary);
  EXPECT_EQ(records[1]->DriveLetter, 0);
}

TEST(DriveLetters, LoopDevicePartitionsHaveTheirDevicesAndMountPoints) {
  CORVALE_REQUIRE_ROOT();
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  std::string loop;
  if (RunCommand("losetup -P -r -f --show '" + primary + "'", &loop) != 0)
    GTEST_SKIP() << "losetup -P failed";
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  RunCommand("udevadm settle 2>/dev/null; sleep 0.2");
  const std::string name = loop.substr(loop.rfind('/') + 1);
  if (!std::filesystem::exists("/sys/block/" + name + "/" + name + "p1")) {
    RunCommand("losetup -d '" + loop + "'");
    GTEST_SKIP() << "the kernel made no partition devices for " << loop;
  }
  const std::string mountDir = ScratchDir() + "/ext";
  RunCommand("mkdir -p '" + mountDir + "'");
  const bool mounted = RunCommand("mount -r -t ext2 '" + loop + "p3' '" + mountDir + "' 2>/dev/null") == 0;
  std::vector<LetteredVolume> volumes;
  {
    DisksVariable disks(loop);
    volumes = AssignVolumeLetters();
    if (volumes.size() == 3) {
      EXPECT_EQ(corvale::VolumePathForLetter('E').value_or(""), loop + "p3");
    }
  }
  if (mounted) RunCommand("umount '" + mountDir + "'");
  RunCommand("losetup -d '" + loop + "'");

  ASSERT_EQ(volumes.size(), 3u);
  const char* labels[] = {"NTFSVOL", "FATVOL", "extvol"};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(volumes[i].letter, char('C' + i));
    EXPECT_EQ(volumes[i].devicePath, loop + "p" + std::to_string(i + 1));
    EXPECT_TRUE(volumes[i].devicePathIsVolume);
    EXPECT_EQ(volumes[i].label, labels[i]);
  }
  if (mounted) {
    EXPECT_EQ(volumes[2].mountPoint, mountDir);
  }
  EXPECT_TRUE(volumes[0].mountPoint.empty());
}

// A file system on a whole loop device, mounted: the disk itself is the volume.
TEST(DriveLetters, AMountedWholeDiskVolumeHasItsDeviceAndMountPoint) {
  CORVALE_REQUIRE_ROOT();
  if (!HaveTool("mke2fs")) GTEST_SKIP() << "mke2fs is not installed";
  const std::string dir = ScratchDir();
  const std::string image = dir + "/whole.img";
  ASSERT_EQ(RunCommand("truncate -s 8M '" + image + "' && mke2fs -q -F -t ext2 -L wholevol '" + image + "'"),
            0);
  LoopDevice loop(image);
  if (!loop.ok()) GTEST_SKIP() << loop.error();
  const std::string mountDir = dir + "/mnt";
  RunCommand("mkdir -p '" + mountDir + "'");
  if (RunCommand("mount -r -t ext2 '" + loop.path() + "' '" + mountDir + "' 2>/dev/null") != 0)
    GTEST_SKIP() << "cannot mount " << loop.path();
  std::vector<LetteredVolume> volumes;
  std::string byLetter;
  {
    DisksVariable disks(loop.path());
    volumes = AssignVolumeLetters();
    byLetter = corvale::VolumePathForLetter('C').value_or("");
  }
  RunCommand("umount '" + mountDir + "'");
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0].letter, 'C');
  EXPECT_EQ(volumes[0].fileSystemType, 4);
  EXPECT_EQ(volumes[0].label, "wholevol");
  EXPECT_EQ(volumes[0].devicePath, loop.path());
  EXPECT_TRUE(volumes[0].devicePathIsVolume);
  EXPECT_EQ(volumes[0].mountPoint, mountDir);
  EXPECT_EQ(byLetter, loop.path());
}

}  // namespace
