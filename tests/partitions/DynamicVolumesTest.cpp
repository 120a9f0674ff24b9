// Dynamic volumes holding real file systems: member disks partitioned by sfdisk as dynamic disks,
// their LDM database written by the test builder, and file systems made by mkntfs, mke2fs and
// mkfs.fat laid over the members the way each volume kind lays out its sectors. Read back through
// the volume devices, the file systems must be recognised and an NTFS tree must be the tree of the
// same NTFS on a plain image.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "core/IDIRBuildCallback.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "storage/ImageFileDevice.h"
#include "storage/LdmDatabase.h"
#include "support/Fixtures.h"
#include "support/LdmImageBuilder.h"

namespace ldm = corvale::test::ldm;
using corvale::test::HaveTool;
using corvale::test::RunCommand;

namespace {

constexpr uint64_t kDiskSectors = 24576;  // 12 MiB
constexpr uint64_t kLogical = 63;
constexpr uint64_t kSector = 512;

std::string GuidOf(size_t i) { return "7d0f2e21-91c4-11e0-8a3b-00155d01020" + std::to_string(i); }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes(std::filesystem::file_size(path));
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_EQ(::pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
  return bytes;
}

void WriteSectors(const std::string& path, uint64_t sector, const uint8_t* data, uint64_t count) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, data, count * kSector, static_cast<off_t>(sector * kSector)),
            static_cast<ssize_t>(count * kSector));
  ::close(fd);
}

// A flat file-system image laid over the member disks: `place(volumeSector)` gives (member,
// sector in the member's extent) of each volume sector; RAID-5 parity is written separately.
template <typename Place>
void Lay(const std::vector<std::string>& disks, const std::vector<uint64_t>& extentStarts,
         const std::vector<uint8_t>& flat, Place place) {
  for (uint64_t s = 0; s < flat.size() / kSector; ++s) {
    const auto [member, at] = place(s);
    if (member < 0) continue;
    WriteSectors(disks[member], kLogical + extentStarts[member] + at, flat.data() + s * kSector, 1);
  }
}

class QuietCallback : public IDIRBuildCallback {
 public:
  int32_t BeginStage(const char*, int32_t) override { return 0; }
  int32_t AddProgress(int32_t) override { return 0; }
  int32_t StepTo(int32_t) override { return 0; }
  int32_t EndStage() override { return 0; }
  int32_t Poll() override { return 0; }
};

// Every node of the tree by path: its size, attributes and times.
std::map<std::string, std::vector<uint64_t>> TreeOf(IStorageDevice& device) {
  CNTFSDirectoryBuilder builder;
  QuietCallback quiet;
  std::unique_ptr<CFileSystemNode, void (*)(CFileNode*)> root(builder.Build(0, &device, &quiet),
                                                              FreeFileTree);
  std::map<std::string, std::vector<uint64_t>> nodes;
  if (!root) return nodes;
  WalkSubtree(root.get(), [&](CFileNode* n) {
    const IFileProperties* p = n->GetFileProperties();
    if (p == nullptr) return;
    std::string path = p->GetName();
    for (CFileNode* up = n->GetParent(); up && up->GetFileProperties(); up = up->GetParent())
      path = std::string(up->GetFileProperties()->GetName()) + "/" + path;
    nodes[path] = {p->GetSize(), p->GetAttributes(), p->GetCreationTime(), p->GetTime2(), p->GetTime3()};
  });
  return nodes;
}

TEST(DynamicVolumes, FileSystemsInsideEveryKindOfVolumeAreReadThroughTheirDevices) {
  for (const char* tool : {"sfdisk", "mke2fs", "mkfs.fat"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  CORVALE_FIXTURE(ntfs, "ntfs_one_file.sh", "ntfs_one_file.img");
  const std::string dir = corvale::test::ScratchDir();

  // Three dynamic disks: one MBR partition of type 0x42 over the whole disk.
  std::vector<std::string> disks;
  for (size_t i = 0; i < 3; ++i) {
    const std::string path = dir + "/dynamic" + std::to_string(i) + ".img";
    std::filesystem::resize_file((std::ofstream(path), path), kDiskSectors * kSector);
    ASSERT_EQ(
        RunCommand(
            "printf 'label: dos\\nstart=63, type=42\\n' | sfdisk --quiet --no-reread --no-tell-kernel '" +
            path + "' >/dev/null 2>&1"),
        0);
    disks.push_back(path);
  }

  // Striped NTFS: three columns, stripes of 24 sectors, each column 10,944 sectors from 0.
  const std::vector<uint8_t> ntfsImage = ReadFile(ntfs);
  constexpr uint64_t kStripe = 24;
  const uint64_t rows = (ntfsImage.size() / kSector + 3 * kStripe - 1) / (3 * kStripe);
  const uint64_t column = rows * kStripe;
  Lay(disks, {0, 0, 0}, ntfsImage, [&](uint64_t s) {
    const uint64_t unit = s / kStripe;
    return std::pair<int, uint64_t>(static_cast<int>(unit % 3), (unit / 3) * kStripe + s % kStripe);
  });

  // Spanned Ext2 of 4 MiB over the three disks: 3,000, 3,000 and 2,192 sectors.
  const uint64_t spanStart = column;
  const std::string ext2 = dir + "/ext2.img";
  ASSERT_EQ(RunCommand("truncate -s 4M '" + ext2 + "' && mke2fs -q -F -t ext2 -b 1024 -L SpanLabel '" + ext2 +
                       "' >/dev/null 2>&1"),
            0);
  const std::vector<uint8_t> ext2Image = ReadFile(ext2);
  const uint64_t spans[3] = {3000, 3000, 2192};
  Lay(disks, {spanStart, spanStart, spanStart}, ext2Image, [&](uint64_t s) {
    int member = 0;
    while (member < 2 && s >= spans[member]) s -= spans[member++];
    return std::pair<int, uint64_t>(member, s);
  });

  // RAID-5 FAT16 of 4 MiB, the usual 128-sector stripes; the third disk will be left out.
  const uint64_t raidStart = spanStart + 3000;
  const std::string fat = dir + "/fat.img";
  ASSERT_EQ(RunCommand("truncate -s 4M '" + fat + "' && mkfs.fat -F 16 -S 512 -s 1 -n PARITYVOL '" + fat +
                       "' >/dev/null 2>&1"),
            0);
  const std::vector<uint8_t> fatImage = ReadFile(fat);
  constexpr uint64_t kRaidStripe = 128;
  const uint64_t raidRows = fatImage.size() / kSector / (2 * kRaidStripe);
  std::vector<std::vector<uint8_t>> raidMembers(3, std::vector<uint8_t>(raidRows * kRaidStripe * kSector));
  for (uint64_t row = 0; row < raidRows; ++row) {
    const uint64_t parity = 2 - row % 3;
    for (uint64_t k = 0; k < 2; ++k) {
      const uint64_t member = (parity + 1 + k) % 3;
      std::memcpy(raidMembers[member].data() + row * kRaidStripe * kSector,
                  fatImage.data() + (row * 2 + k) * kRaidStripe * kSector, kRaidStripe * kSector);
    }
    for (uint64_t b = row * kRaidStripe * kSector; b < (row + 1) * kRaidStripe * kSector; ++b)
      raidMembers[parity][b] = raidMembers[(parity + 1) % 3][b] ^ raidMembers[(parity + 2) % 3][b];
  }
  for (size_t m = 0; m < 3; ++m)
    WriteSectors(disks[m], kLogical + raidStart, raidMembers[m].data(), raidMembers[m].size() / kSector);

  // The database, the same on every disk.
  ldm::Description d;
  for (uint64_t i = 0; i < 3; ++i) d.disks.push_back({0x10 + i, "Disk" + std::to_string(i + 1), GuidOf(i)});
  d.volumes.push_back({0x20, "Volume1", 3, 0x07, 3 * column, {}, 1, ""});
  d.components.push_back({0x21, "Volume1-01", 1, 0x20, 3, kStripe, 3});
  for (uint64_t i = 0; i < 3; ++i)
    d.partitions.push_back({0x22 + i, "Disk1-01", 0, 0, column, 0x21, 0x10 + i, int32_t(i)});
  d.volumes.push_back({0x30, "Volume2", 3, 0x83, ext2Image.size() / kSector, {}, 1, ""});
  d.components.push_back({0x31, "Volume2-01", 2, 0x30, 3});
  uint64_t offset = 0;
  for (uint64_t i = 0; i < 3; ++i) {
    d.partitions.push_back({0x32 + i, "Disk1-02", spanStart, offset, spans[i], 0x31, 0x10 + i});
    offset += spans[i];
  }
  d.volumes.push_back({0x40, "Volume3", 4, 0x06, fatImage.size() / kSector, {}, 1, ""});
  d.components.push_back({0x41, "Volume3-01", 3, 0x40, 3});
  for (uint64_t i = 0; i < 3; ++i)
    d.partitions.push_back(
        {0x42 + i, "Disk1-03", raidStart, 0, raidRows * kRaidStripe, 0x41, 0x10 + i, int32_t(i)});
  const auto slots = ldm::VblkSlots(d);
  for (size_t i = 0; i < 3; ++i) {
    ldm::Header h;
    h.diskGuid = GuidOf(i);
    h.logicalStart = kLogical;
    h.configStart = kDiskSectors - 2048;
    h.logicalSize = h.configStart - kLogical;
    ASSERT_TRUE(ldm::WriteDatabase(disks[i], h, slots, true));
  }

  // The third disk is missing: the RAID-5 volume rebuilds its share, and the spanned and striped
  // volumes are read with all three first.
  CImageFileDevice disk0(disks[0]), disk1(disks[1]), disk2(disks[2]);
  DynamicVolumeList all;
  ASSERT_EQ(LoadDynamicVolumes({&disk0, &disk1, &disk2}, all, DetectFileSystem), 3);
  std::map<std::string, DynamicVolumeRecord*> byName;
  for (auto& r : all) byName[r->VolumeName] = r.get();
  ASSERT_EQ(byName.size(), 3u);

  DynamicVolumeRecord& striped = *byName["Volume1"];
  EXPECT_EQ(striped.KindName, "STRIPPED");
  EXPECT_EQ(striped.FileSystemType, kFileSystemNtfs);
  EXPECT_EQ(striped.Label, "OneFile");
  std::vector<uint8_t> whole(ntfsImage.size());
  ASSERT_TRUE(striped.Device->ReadSectors(whole.data(), 0, whole.size() / kSector));
  EXPECT_TRUE(whole == ntfsImage) << "the striped volume does not read as the NTFS image";
  CImageFileDevice plain(ntfs);
  const auto expectedTree = TreeOf(plain);
  const bool hasVictim = std::any_of(expectedTree.begin(), expectedTree.end(), [](const auto& node) {
    return node.first.size() >= 10 && node.first.compare(node.first.size() - 10, 10, "victim.bin") == 0;
  });
  EXPECT_TRUE(hasVictim);
  EXPECT_EQ(TreeOf(*striped.Device), expectedTree);

  DynamicVolumeRecord& spanned = *byName["Volume2"];
  EXPECT_EQ(spanned.KindName, "SPANNED");
  EXPECT_EQ(spanned.SectorCount, static_cast<int64_t>(ext2Image.size() / kSector));
  EXPECT_EQ(spanned.FileSystemType, kFileSystemExt2);
  EXPECT_EQ(spanned.Label, "SpanLabel");

  DynamicVolumeList degraded;
  ASSERT_EQ(LoadDynamicVolumes({&disk0, &disk1}, degraded, DetectFileSystem), 3);
  for (auto& r : degraded) {
    if (r->VolumeName != "Volume3") continue;
    EXPECT_EQ(r->KindName, "RAID5");
    EXPECT_EQ(r->SectorCount, static_cast<int64_t>(fatImage.size() / kSector));
    EXPECT_EQ(r->FileSystemType, kFileSystemFat16);
    EXPECT_EQ(r->Label, "PARITYVOL");
    std::vector<uint8_t> rebuilt(fatImage.size());
    ASSERT_TRUE(r->Device->ReadSectors(rebuilt.data(), 0, rebuilt.size() / kSector));
    EXPECT_TRUE(rebuilt == fatImage)
        << "the RAID-5 volume without its third disk does not read as the FAT image";
  }
}

}  // namespace
