// Opening real Ext2/Ext3 images: superblock, group descriptors and inodes against what dumpe2fs and
// debugfs report, the partition start from any superblock copy, the backup descriptor tables, and the
// volume record of the device lists.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "ext2/Ext2Exceptions.h"
#include "ext2/Ext2Volume.h"
#include "ext2/InodeIterator.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/ImageFileDevice.h"

using namespace ext2test;

namespace {

struct ImageCase {
  Image image;
  int32_t type;
  const char* label;
};

class RealImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(RealImage, SuperblockAndGroupsMatchDumpe2fs) {
  EXT2_IMAGE(path, GetParam().image);
  CImageFileDevice device(path);
  CExt2FileSystem fs(&device, 2);
  const CExt2SuperBlock& sb = fs.GetSuperBlock();
  std::string dump;
  ASSERT_EQ(0, corvale::test::RunCommand("dumpe2fs '" + path + "' 2>/dev/null", &dump));

  EXPECT_EQ(std::stoul(DumpField(dump, "Inode count")), sb.GetInodeCount());
  EXPECT_EQ(std::stoul(DumpField(dump, "Block count")), sb.GetBlockCount());
  EXPECT_EQ(std::stoul(DumpField(dump, "First block")), sb.GetFirstDataBlock());
  EXPECT_EQ(std::stoul(DumpField(dump, "Block size")), fs.GetBlockSize());
  EXPECT_EQ(std::stoul(DumpField(dump, "Blocks per group")), sb.GetBlocksPerGroup());
  EXPECT_EQ(std::stoul(DumpField(dump, "Inodes per group")), sb.GetInodesPerGroup());
  std::string inodeSize = DumpField(dump, "Inode size");
  EXPECT_EQ(inodeSize.empty() ? 128u : std::stoul(inodeSize), sb.GetInodeSize());
  std::string firstInode = DumpField(dump, "First inode");
  EXPECT_EQ(firstInode.empty() ? 11u : std::stoul(firstInode), sb.GetFirstInode());
  EXPECT_EQ(GetParam().label, DumpField(dump, "Filesystem volume name"));
  EXPECT_EQ(GetParam().label, fs.GetVolumeName());
  EXPECT_EQ(GetParam().type, fs.GetFileSystemType());
  EXPECT_EQ(0, fs.GetPartitionStart());
  EXPECT_EQ(static_cast<uint64_t>(sb.GetBlockCount()) * fs.GetBlockSize(), fs.GetSize());

  char uuid[40];
  const uint8_t* u = sb.GetUuid();
  std::snprintf(uuid, sizeof uuid, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                u[0], u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8], u[9], u[10], u[11], u[12], u[13], u[14],
                u[15]);
  EXPECT_EQ(DumpField(dump, "Filesystem UUID"), uuid);

  // Every group's bitmaps and inode table, as dumpe2fs lists them.
  std::vector<uint64_t> bb = NumbersAfter(dump, "Block bitmap at ");
  std::vector<uint64_t> ib = NumbersAfter(dump, "Inode bitmap at ");
  std::vector<uint64_t> it = NumbersAfter(dump, "Inode table at ");
  ASSERT_EQ(fs.GetGroupCount(), it.size());
  for (uint32_t g = 0; g < fs.GetGroupCount(); ++g) {
    Ext2GroupDescriptor d = fs.GetGroupDescriptor(g);
    EXPECT_EQ(bb[g], d.blockBitmap) << "group " << g;
    EXPECT_EQ(ib[g], d.inodeBitmap) << "group " << g;
    EXPECT_EQ(it[g], d.inodeTable) << "group " << g;
  }
}

TEST_P(RealImage, InodesMatchDebugfsStat) {
  EXT2_IMAGE(path, GetParam().image);
  CImageFileDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::vector<LsEntry> entries = DebugfsLs(path, "/");
  std::vector<std::string> requests;
  for (const LsEntry& e : entries) requests.push_back("stat <" + std::to_string(e.inode) + ">");
  std::vector<std::string> stats = DebugfsBatch(path, requests);
  ASSERT_GE(entries.size(), 5u);
  for (size_t i = 0; i < entries.size(); ++i) {
    const LsEntry& e = entries[i];
    CExt2File f(&fs, e.inode);
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.mode, f.GetInode().GetMode());
    EXPECT_EQ(e.mode >> 12 == 4, f.IsDirectory());
    if (e.mode >> 12 == 8) {
      EXPECT_EQ(e.size, f.GetFileSize());
    }
    ASSERT_EQ(1u, NumbersAfter(stats[i], "Blockcount: ").size());
    EXPECT_EQ(NumbersAfter(stats[i], "Blockcount: ")[0], f.GetInode().GetAllocatedUnits());
    ASSERT_EQ(1u, NumbersAfter(stats[i], "mtime: 0x", 16).size());
    EXPECT_EQ(NumbersAfter(stats[i], "mtime: 0x", 16)[0], f.GetInode().GetModificationTime());
    EXPECT_TRUE(f.HasValidBlockPointers());
    EXPECT_FALSE(f.IsDeleted());
  }
}

// The inode iterator reads each group's table once and gives the same inodes as reading them one by
// one.
TEST_P(RealImage, InodeScanReadsEachGroupTableOnce) {
  EXT2_IMAGE(path, GetParam().image);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  const uint64_t readsBefore = device.ReadCount();
  uint64_t inUse = 0;
  uint64_t visited = 0;
  for (CExt2InodeIterator it = fs.InodesBegin(), end = fs.InodesEnd(); !(it == end); ++it) {
    CExt2File f = it.MakeFile();
    ++visited;
    if (f.IsInUse()) ++inUse;
    if (it.GetInodeNumber() % 97 == 0) {
      CExt2File one(&fs, static_cast<uint32_t>(it.GetInodeNumber()));
      EXPECT_EQ(0, std::memcmp(one.GetInode().bytes, f.GetInode().bytes, 128)) << it.GetInodeNumber();
    }
  }
  const CExt2SuperBlock& sb = fs.GetSuperBlock();
  EXPECT_EQ(sb.GetInodeCount() - sb.GetFirstInode() + 1, visited);
  EXPECT_GE(inUse, 4u);
  // One table read per group, plus one single-block read per inode checked one by one.
  uint64_t singles = 0;
  for (uint64_t n = sb.GetFirstInode(); n <= sb.GetInodeCount(); ++n) singles += n % 97 == 0;
  EXPECT_EQ(fs.GetGroupCount() + singles, device.ReadCount() - readsBefore);
}

INSTANTIATE_TEST_SUITE_P(Ext2, RealImage,
                         ::testing::Values(ImageCase{kTree1k, 4, "corvale1k"},
                                           ImageCase{kTree4k, 5, "corvale4k"}, ImageCase{kRev0, 4, "rev0"}),
                         [](const auto& info) { return std::string(info.param.image.name).substr(0, 9); });

// A copy read from a backup group gives the same file system and the partition start of the primary.
TEST(Ext2Open, FromBackupSuperblockFindsThePartitionStart) {
  EXT2_IMAGE(path, kTree1k);
  // The image placed 1 MiB into a larger device, as a partition would be.
  PaddedImageDevice device(path, 512, 2048 * 512);
  CExt2FileSystem primary(&device, 2048 + 2);
  const CExt2SuperBlock& sb = primary.GetSuperBlock();
  for (uint32_t group : {1u, 3u, 5u, 7u}) {
    // 1 KiB blocks: the copy of group g is block g x blocks per group + 1.
    int64_t sector = 2048 + (static_cast<int64_t>(group) * sb.GetBlocksPerGroup() + 1) * 2;
    CExt2FileSystem backup(&device, sector);
    SCOPED_TRACE(group);
    EXPECT_EQ(group, backup.GetSuperBlock().GetBlockGroupNumber());
    EXPECT_EQ(2048, backup.GetPartitionStart());
    EXPECT_EQ(2048 + 2, backup.GetPrimarySuperBlockSector());
    EXPECT_TRUE(backup.GetSuperBlock().IsSameSuperBlock(sb));
    EXPECT_EQ(primary.GetGroupDescriptorTableBytes(), backup.GetGroupDescriptorTableBytes());
    EXPECT_EQ(0, std::memcmp(primary.GetGroupDescriptorTable(), backup.GetGroupDescriptorTable(),
                             primary.GetGroupDescriptorTableBytes()));
  }
  // With 4 KiB blocks the copy sits at the start of its block, 2 sectors less than a primary would.
  EXT2_IMAGE(path4k, kTree4k);
  CImageFileDevice device4k(path4k);
  CExt2FileSystem fs4k(&device4k, 32768 * 8);
  EXPECT_EQ(1, fs4k.GetSuperBlock().GetBlockGroupNumber());
  EXPECT_EQ(0, fs4k.GetPartitionStart());
  EXPECT_EQ(32768 * 8 - 2, fs4k.GetSuperBlock().GetSuperBlockSectorOffset());
}

// The primary descriptor table fails the group test: the copies decide. Group 1's copy is kept and,
// as group 3's agrees with it, used.
TEST(Ext2Open, DamagedPrimaryDescriptorTableIsReplacedByAgreeingBackups) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem reference(&device, 2);
  // The primary table is block 2 (1 KiB blocks); its group 4 points its inode table at block 1.
  device.PatchLE(2 * 1024 + 4 * 32 + 8, 1, 4);
  const size_t readsBefore = device.ReadLog().size();
  CExt2FileSystem fs(&device, 2);
  ASSERT_EQ(reference.GetGroupDescriptorTableBytes(), fs.GetGroupDescriptorTableBytes());
  EXPECT_TRUE(SameGroupDescriptors(reference.GetGroupDescriptorTable(), fs.GetGroupDescriptorTable(),
                                   fs.GetGroupCount()));
  // The copy in use is group 1's or group 3's (they agree), not the damaged primary.
  EXPECT_EQ(reference.GetGroupDescriptor(4).inodeTable, fs.GetGroupDescriptor(4).inodeTable);
  // Read: the superblock, the primary table, then superblock and table of group 1 and of group 3, and
  // no further copy.
  const uint64_t perGroup = fs.GetSuperBlock().GetBlocksPerGroup();
  std::vector<uint64_t> expected = {2, 4};
  for (uint64_t g : {1, 3}) {
    expected.push_back((g * perGroup + 1) * 2);
    expected.push_back((g * perGroup + 2) * 2);
  }
  std::vector<uint64_t> read;
  const std::vector<std::pair<uint64_t, uint64_t>>& log = device.ReadLog();
  for (size_t i = readsBefore; i < log.size(); ++i) read.push_back(log[i].first);
  EXPECT_EQ(expected, read);

  // Every copy damaged the same way: no table passes, the file system does not open.
  for (uint64_t g = 0; g < fs.GetGroupCount(); ++g)
    device.PatchLE((g * perGroup + 2) * 1024 + 4 * 32 + 8, 1, 4);
  EXPECT_THROW(CExt2FileSystem(&device, 2), CExt2BadGroupDescriptor);
}

// A device with 4096-byte sectors is read through its 512-byte view; sizes come back in its own
// sectors.
TEST(Ext2Volume, ReportsTypeLabelAndSizeInTheDevicesSectors) {
  EXT2_IMAGE(path1k, kTree1k);
  EXT2_IMAGE(path4k, kTree4k);
  struct Row {
    std::string path;
    int64_t startSectors;  // in 4096-byte sectors
    int32_t type;
    const char* label;
  } rows[] = {{path1k, 0, 4, "corvale1k"}, {path4k, 0, 5, "corvale4k"}, {path1k, 256, 4, "corvale1k"}};
  for (const Row& row : rows) {
    PaddedImageDevice device(row.path, 4096, static_cast<uint64_t>(row.startSectors) * 4096);
    const uint64_t imageBytes = FileBytes(row.path);
    CExt2Volume volume(&device, row.startSectors);
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.type, volume.GetFileSystemType());
    EXPECT_EQ(row.label, volume.GetLabel());
    EXPECT_EQ(imageBytes / 4096, volume.GetSectorCount());
    char small[5];
    volume.CopyLabel(small, sizeof small);
    EXPECT_STREQ(std::string(row.label).substr(0, 4).c_str(), small);
  }
  // Nothing there, or a start past the end: type 7, no label, no size.
  MemoryDevice zeros(std::vector<uint8_t>(1 << 20, 0));
  for (int64_t start : {0, 100, 4096, -1}) {
    CExt2Volume none(&zeros, start);
    EXPECT_EQ(7, none.GetFileSystemType());
    EXPECT_EQ("", none.GetLabel());
    EXPECT_EQ(0u, none.GetSectorCount());
  }
}

// A file system longer than what the device holds after its start (an image cut short) is opened:
// blocks before the cut read, blocks past it throw, as any request outside the device does. A backup
// copy read where its own distance from the primary would put the partition before the device start
// is refused (found at the primary's place, it is damage there, and the real copy opens the volume).
TEST(Ext2Open, OpensAFileSystemLongerThanItsDeviceButNoneStartingBeforeIt) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice original(path);
  for (int64_t cut : {original.GetSectorCount() - 2, original.GetSectorCount() / 2}) {
    CBasicPartitionDevice truncated(&original, 0, cut);
    CExt2FileSystem cutFs(&truncated, 2);
    EXPECT_EQ(cutFs.GetSize(), static_cast<uint64_t>(original.GetSectorCount()) * 512) << cut;
    std::vector<uint8_t> block(1024);
    EXPECT_TRUE(cutFs.ReadBlocks(block.data(), static_cast<uint64_t>(cut / 2 - 1), 1)) << cut;
    EXPECT_THROW(cutFs.ReadBlocks(block.data(), static_cast<uint64_t>(cut / 2), 1), std::range_error) << cut;
    EXPECT_EQ(CExt2Volume(&truncated, 0).GetFileSystemType(), 4) << cut;
  }

  // Group 1's copy read at the primary's place: it says it lies blocks-per-group blocks further on.
  CExt2FileSystem fs(&original, 2);
  const uint64_t copy = (static_cast<uint64_t>(fs.GetSuperBlock().GetBlocksPerGroup()) + 1) * 1024;
  std::vector<uint8_t> copyBytes(1024);
  ASSERT_TRUE(original.ReadSectors(copyBytes.data(), copy / 512, 2));
  PaddedImageDevice moved(path);
  for (uint64_t i = 0; i < 1024; ++i) moved.Patch(1024 + i, copyBytes[i]);
  EXPECT_THROW(CExt2FileSystem(&moved, 2, copyBytes.data()), CExt2BadSuperBlock);
  // Opening the volume takes that for a damaged primary and opens from the copy at its own place.
  CExt2FileSystem fromBackup(&moved, 2);
  EXPECT_EQ(fromBackup.GetPartitionStart(), 0);
  EXPECT_EQ(fromBackup.GetSuperBlockSector(), static_cast<int64_t>(copy / 512));
  // A superblock that cannot be read.
  MemoryDevice tiny(std::vector<uint8_t>(512, 0));
  EXPECT_THROW(CExt2FileSystem(&tiny, 2), CExt2ReadSectorError);
}

// The scan's way in: a partition start and the descriptor table it gathered.
TEST(Ext2Open, FromScanRecordTakesTheGivenStartAndTable) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path, 512, 100 * 512);
  CExt2FileSystem reference(&device, 102);
  const uint8_t* sb = reference.GetSuperBlock().Bytes();
  std::vector<uint8_t> table(reference.GetGroupDescriptorTable(),
                             reference.GetGroupDescriptorTable() + reference.GetGroupDescriptorTableBytes());
  CExt2FileSystem fs(&device, 100, sb, table.data(), table.size());
  EXPECT_EQ(100, fs.GetPartitionStart());
  EXPECT_EQ(102, fs.GetSuperBlockSector());
  CExt2File hello(&fs, DebugfsInode(path, "/", "hello.txt"));
  std::vector<uint8_t> text = ReadThroughBlocks(hello);
  EXPECT_EQ("Hello, ext2!\n", std::string(text.begin(), text.end()));

  // A short table, or one that fails the group test, is refused.
  EXPECT_THROW(CExt2FileSystem(&device, 100, sb, table.data(), table.size() - 32), CExt2BadGroupDescriptor);
  corvale::putLE(table.data() + 8, 0, 4);
  EXPECT_THROW(CExt2FileSystem(&device, 100, sb, table.data(), table.size()), CExt2BadGroupDescriptor);
  EXPECT_THROW(CExt2FileSystem(&device, -4, sb, table.data(), table.size()), CExt2BadSuperBlock);
}

}  // namespace
