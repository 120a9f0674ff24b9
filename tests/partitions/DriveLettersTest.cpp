// Letters, device paths, mount points and labels of the volumes of real disks: image files named by
// CORVALE_DISKS, and a loop device over an image with its partitions as block devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "DiskTools.h"
#include "core/DriveLetters.h"
#include "storage/DynamicVolumeDevice.h"
#include "storage/VolumeDevice.h"
#include "support/Fixtures.h"
#include "support/LdmImageBuilder.h"

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

std::vector<uint8_t> WholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Two dynamic disks after a basic one: an Ext2 volume spanned over both and a FAT16 simple volume
// take the letters after the basic volumes, in the database's order, and are found again by their
// names and by their GUIDs. Where the system has assembled a volume itself (a device-mapper device
// under its usual name), its letter keeps that device and where it is mounted.
TEST(DriveLetters, DynamicVolumesTakeTheNextFreeLetters) {
  for (const char* tool : {"sfdisk", "mke2fs", "mkfs.fat"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  namespace ldm = corvale::test::ldm;
  CORVALE_FIXTURE(primary, "parts_mbr_primary.sh", "parts_mbr_primary.img");
  const std::string dir = ScratchDir();
  ASSERT_EQ(RunCommand("truncate -s 4M '" + dir + "/span.fs' && mke2fs -q -F -t ext2 -b 1024 -L SpanLabel '" +
                       dir + "/span.fs' >/dev/null 2>&1"),
            0);
  ASSERT_EQ(RunCommand("truncate -s 4M '" + dir + "/simple.fs' && mkfs.fat -F 16 -S 512 -s 1 -n SIMPLEVOL '" +
                       dir + "/simple.fs' >/dev/null 2>&1"),
            0);
  ldm::PlacedVolume span{"Volume1", WholeFile(dir + "/span.fs"), {{0, 5000}, {1, 8192 - 5000}}, 0x83, {}};
  ldm::PlacedVolume simple{"Volume2", WholeFile(dir + "/simple.fs"), {{1, 8192}}, 0x06, {}};
  span.guid[0] = 0x51;
  simple.guid[0] = 0x52;
  simple.guid[15] = 0x07;
  const std::vector<std::string> disks = {dir + "/dynamic0.img", dir + "/dynamic1.img"};
  std::string why;
  ASSERT_TRUE(ldm::WriteDynamicDisks(disks, 16384, {span, simple}, &why)) << why;

  // A device-mapper device for the spanned volume, mounted at a path with a blank in it.
  const std::string sysfs = dir + "/sys";
  std::filesystem::create_directories(sysfs + "/block/dm-3/dm");
  std::ofstream(sysfs + "/block/dm-3/dm/name") << "ldm_vol_" << ldm::kDynamicGroup << "_Volume1\n";
  std::ofstream(sysfs + "/block/dm-3/dev") << "253:3\n";
  std::filesystem::create_directories(sysfs + "/block/dm-4/dm");
  std::ofstream(sysfs + "/block/dm-4/dm/name") << "vg0-home\n";
  std::ofstream(sysfs + "/block/dm-4/dev") << "253:4\n";
  const std::string mountinfo = dir + "/mountinfo";
  std::ofstream(mountinfo) << "36 25 253:4 / /home rw - ext4 /dev/mapper/vg0-home rw\n"
                           << "37 25 253:3 / /mnt/span\\040vol ro - ext2 /dev/mapper/ldm_vol rw\n";

  DisksVariable variable(primary + ":" + disks[0] + ":" + disks[1]);
  const std::vector<LetteredVolume> volumes = AssignVolumeLetters(sysfs, mountinfo);
  ASSERT_EQ(volumes.size(), 5u);
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(volumes[i].dynamic) << i;
  struct Expected {
    char letter;
    const char* name;
    int32_t type;
    const char* label;
    uint64_t sectors;
    const char* device;
    const char* mountPoint;
  };
  const Expected expected[] = {
      {'F', "Volume1", 4, "SpanLabel", 8192, "/dev/mapper/ldm_vol_CorvaleDg0_Volume1", "/mnt/span vol"},
      {'G', "Volume2", 1, "SIMPLEVOL", 8192, "", ""},
  };
  for (size_t i = 0; i < 2; ++i) {
    const LetteredVolume& v = volumes[3 + i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(v.dynamic);
    EXPECT_EQ(v.letter, e.letter);
    EXPECT_EQ(v.diskNumber, -1);
    EXPECT_EQ(v.dynamicGroup, ldm::kDynamicGroup);
    EXPECT_EQ(v.dynamicName, e.name);
    EXPECT_EQ(v.fileSystemType, e.type);
    EXPECT_EQ(v.label, e.label);
    EXPECT_EQ(uint64_t(v.sectorCount), e.sectors);
    EXPECT_EQ(v.devicePath, e.device);
    EXPECT_EQ(v.devicePathIsVolume, *e.device != 0);
    EXPECT_EQ(v.mountPoint, e.mountPoint);
    EXPECT_EQ(FindDriveLetterOfDynamicVolume(e.name, ldm::kDynamicGroup), e.letter);
  }
  EXPECT_EQ(GetDriveLetterOfVolumeGuid(span.guid), 'F');
  EXPECT_EQ(GetDriveLetterOfVolumeGuid(simple.guid), 'G');
  // What names no volume of this run has no letter; nor has a GUID of zeros (basic volumes have one).
  EXPECT_EQ(FindDriveLetterOfDynamicVolume("Volume1", "OtherDg0"), 0);
  EXPECT_EQ(FindDriveLetterOfDynamicVolume("Volume3", ldm::kDynamicGroup), 0);
  EXPECT_EQ(FindDriveLetterOfDynamicVolume("", ""), 0);
  std::array<uint8_t, 16> other{};
  other[0] = 0x53;
  EXPECT_EQ(GetDriveLetterOfVolumeGuid(other), 0);
  EXPECT_EQ(GetDriveLetterOfVolumeGuid(std::array<uint8_t, 16>{}), 0);

  // The collection's volume records carry the same letters, and the volume devices answer with them.
  LetteredSources sources;
  AssignVolumeLetters(sysfs, mountinfo, &sources);
  ASSERT_EQ(sources.dynamicVolumes.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const CollectedDynamicVolume& d = sources.dynamicVolumes[i];
    ASSERT_TRUE(d.Record);
    EXPECT_EQ(d.Record->DriveLetter, expected[i].letter);
    auto* device = dynamic_cast<IDynamicDevice*>(d.Record->Device);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetDriveLetter(), expected[i].letter);
  }
}

}  // namespace
