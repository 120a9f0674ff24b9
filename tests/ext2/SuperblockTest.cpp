// A real superblock with one field changed per row: what normalisation repairs, what the validity
// test refuses (nothing shifts or divides by a refused value), and the arithmetic of copies.
// Normalisation never repairs the inode count: a count that disagrees with the groups is damage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"

using namespace ext2test;

namespace {

std::vector<uint8_t> RealSuperblock(const Image& image) {
  std::string why;
  std::string path = corvale::test::FixtureImage(image.script, image.name, &why);
  if (path.empty()) return {};
  PaddedImageDevice device(path);
  std::vector<uint8_t> bytes(1024);
  if (!device.ReadSectors(bytes.data(), 2, 2)) return {};
  return bytes;
}

struct FieldRow {
  const char* what;
  uint32_t offset;
  unsigned width;
  uint64_t value;
  bool valid;
  // After normalisation: the field at `checkOffset` reads `checkValue` (unchecked when width 0).
  uint32_t checkOffset = 0;
  unsigned checkWidth = 0;
  uint64_t checkValue = 0;
};

class SuperblockField1k : public ::testing::TestWithParam<FieldRow> {};

TEST_P(SuperblockField1k, NormaliseThenValidate) {
  std::vector<uint8_t> bytes = RealSuperblock(kTree1k);
  if (bytes.empty()) GTEST_SKIP() << "ext2 image unavailable";
  const FieldRow& row = GetParam();
  corvale::putLE(bytes.data() + row.offset, row.value, row.width);
  CExt2SuperBlock sb(bytes.data());
  sb.Normalise();
  EXPECT_EQ(row.valid, sb.IsValid()) << sb.Check().describe();
  // A refusal names the field that was changed, where it lies and what it held.
  if (!row.valid) {
    const corvale::ParseResult check = sb.Check();
    EXPECT_EQ(check.outcome, row.offset == ext2sb::kMagic ? corvale::ParseOutcome::NotThisStructure
                                                          : corvale::ParseOutcome::Damaged);
    EXPECT_EQ(check.error.offset, row.offset) << check.describe();
    EXPECT_NE(std::string(check.error.field), "") << check.describe();
  }
  if (row.checkWidth != 0) {
    corvale::ByteReader r(sb.Bytes(), 1024);
    EXPECT_EQ(row.checkValue, row.checkWidth == 2 ? r.u16(row.checkOffset) : r.u32(row.checkOffset));
  }
}

// The 1 KiB image: 65536 blocks, 8192 per group (8 groups), 2048 inodes per group, 256-byte inodes.
INSTANTIATE_TEST_SUITE_P(
    Ext2, SuperblockField1k,
    ::testing::Values(
        FieldRow{"unchanged", 0, 0, 0, true, ext2sb::kInodeCount, 4, 16384},
        FieldRow{"magic", ext2sb::kMagic, 2, 0xEF54, false},
        FieldRow{"first data block 0 with 1 KiB blocks", ext2sb::kFirstDataBlock, 4, 0, true,
                 ext2sb::kFirstDataBlock, 4, 1},
        FieldRow{"first data block 7", ext2sb::kFirstDataBlock, 4, 7, true, ext2sb::kFirstDataBlock, 4, 1},
        FieldRow{"16 KiB blocks", ext2sb::kLogBlockSize, 4, 4, false},
        FieldRow{"log block size 22 (a 32-bit shift)", ext2sb::kLogBlockSize, 4, 22, false},
        FieldRow{"log block size 0xFFFFFFFF", ext2sb::kLogBlockSize, 4, 0xFFFFFFFF, false},
        FieldRow{"no blocks", ext2sb::kBlockCount, 4, 0, false},
        FieldRow{"no blocks per group", ext2sb::kBlocksPerGroup, 4, 0, false},
        FieldRow{"no inodes per group", ext2sb::kInodesPerGroup, 4, 0, false},
        // The inode count is every group's inodes: any other count is damage, not repaired.
        FieldRow{"inode count 0", ext2sb::kInodeCount, 4, 0, false},
        FieldRow{"inode count past the groups", ext2sb::kInodeCount, 4, 99999, false},
        FieldRow{"inode count a group short", ext2sb::kInodeCount, 4, 7 * 2048, false},
        FieldRow{"inode count one short of the groups", ext2sb::kInodeCount, 4, 8 * 2048 - 1, false},
        FieldRow{"inodes per group past one bitmap block", ext2sb::kInodesPerGroup, 4, 8193, false},
        FieldRow{"inodes per group 0x7FFFFFFF", ext2sb::kInodesPerGroup, 4, 0x7FFFFFFF, false},
        FieldRow{"inode size 100", ext2sb::kInodeSize, 2, 100, false},
        FieldRow{"inode size 384 is not a power of two", ext2sb::kInodeSize, 2, 384, false},
        FieldRow{"inode size 2048 is larger than a block", ext2sb::kInodeSize, 2, 2048, false},
        FieldRow{"inode size 1024", ext2sb::kInodeSize, 2, 1024, true},
        FieldRow{"inode size 0", ext2sb::kInodeSize, 2, 0, false},
        FieldRow{"revision 0 forces 128-byte inodes", ext2sb::kRevisionLevel, 4, 0, true, ext2sb::kInodeSize,
                 2, 128},
        FieldRow{"group number equal to the group count", ext2sb::kBlockGroupNumber, 2, 8, true},
        FieldRow{"group number past the group count", ext2sb::kBlockGroupNumber, 2, 9, false},
        FieldRow{"more groups than bitmap blocks allow", ext2sb::kBlocksPerGroup, 4, 1024, false},
        FieldRow{"first inode at the inode count", ext2sb::kFirstInode, 4, 16384, false},
        FieldRow{"first inode just below the inode count", ext2sb::kFirstInode, 4, 16383, true},
        FieldRow{"first inode past the inode count", ext2sb::kFirstInode, 4, 20000, false}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// Every group holds the same number of inodes, so the count is groups x inodes per group. One byte
// of either field changed (or of the block count, which decides the groups) breaks that, and the
// copy is refused naming the inode count: whichever field is wrong, inodes would be looked for in
// the wrong places. The table is the changes a damaged sector makes.
TEST(Ext2Superblock, InodeCountThatIsNotGroupsTimesInodesPerGroupIsDamage) {
  const std::vector<uint8_t> real = RealSuperblock(kTree1k);
  if (real.empty()) GTEST_SKIP() << "ext2 image unavailable";
  struct Row {
    const char* what;
    uint32_t offset;  // the byte changed
    uint8_t value;
  };
  // 16384 inodes = 8 groups x 2048 (0x0800); 65536 blocks (0x00010000).
  for (const Row& row : {Row{"inodes per group 2049", ext2sb::kInodesPerGroup, 0x01},
                         Row{"inodes per group 0x0900", ext2sb::kInodesPerGroup + 1, 0x09},
                         Row{"inodes per group 0x0400", ext2sb::kInodesPerGroup + 1, 0x04},
                         Row{"inode count 0x4001", ext2sb::kInodeCount, 0x01},
                         Row{"inode count 0x6000", ext2sb::kInodeCount + 1, 0x60},
                         Row{"block count 65538 makes nine groups", ext2sb::kBlockCount, 0x02}}) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> bytes = real;
    bytes[row.offset] = row.value;
    CExt2SuperBlock sb(bytes.data());
    sb.Normalise();
    const corvale::ParseResult check = sb.Check();
    EXPECT_TRUE(check.IsDamaged()) << check.describe();
    EXPECT_STREQ(check.error.field, "inode count") << check.describe();
  }
}

TEST(Ext2Superblock, FourKilobyteBlocksTakeFirstDataBlockZero) {
  std::vector<uint8_t> bytes = RealSuperblock(kTree4k);
  if (bytes.empty()) GTEST_SKIP() << "ext3 image unavailable";
  corvale::putLE(bytes.data() + ext2sb::kFirstDataBlock, 1, 4);
  CExt2SuperBlock sb(bytes.data());
  sb.Normalise();
  EXPECT_TRUE(sb.IsValid());
  EXPECT_EQ(0u, sb.GetFirstDataBlock());
  EXPECT_EQ(8u, sb.GetSectorsPerBlock());
}

// Distances of copies from the primary, in 64 bits: a copy in group 16807 with 4 KiB blocks lies past
// 2 TiB, beyond what a 32-bit product holds.
TEST(Ext2Superblock, CopyOffsetsAreSixtyFourBit) {
  struct Row {
    uint32_t logBlockSize;
    uint32_t blocksPerGroup;
    uint16_t group;
    int64_t offset;
  } rows[] = {
      {2, 32768, 25, 25ll * 32768 * 8 - 2},
      {2, 32768, 3, 3ll * 32768 * 8 - 2},
      {2, 32768, 16807, 16807ll * 32768 * 8 - 2},
      {0, 8192, 1, 8192ll * 2},
      {0, 8192, 0, 0},
      {3, 65536, 65535, 65535ll * 65536 * 16 - 2},
  };
  for (const Row& row : rows) {
    CExt2SuperBlock sb;
    std::vector<uint8_t> bytes(sb.Bytes(), sb.Bytes() + 1024);
    corvale::putLE(bytes.data() + ext2sb::kLogBlockSize, row.logBlockSize, 4);
    corvale::putLE(bytes.data() + ext2sb::kBlocksPerGroup, row.blocksPerGroup, 4);
    corvale::putLE(bytes.data() + ext2sb::kBlockGroupNumber, row.group, 2);
    corvale::putLE(bytes.data() + ext2sb::kBlockCount, 100, 4);
    sb.Assign(bytes.data());
    sb.Normalise();
    EXPECT_EQ(row.offset, sb.GetSuperBlockSectorOffset()) << row.group;
  }
}

TEST(Ext2Superblock, GroupCountAndInodePlaces) {
  CExt2SuperBlock sb;
  std::vector<uint8_t> bytes(1024, 0);
  corvale::putLE(bytes.data() + ext2sb::kBlockCount, 65536, 4);
  corvale::putLE(bytes.data() + ext2sb::kFirstDataBlock, 1, 4);
  corvale::putLE(bytes.data() + ext2sb::kBlocksPerGroup, 8192, 4);
  corvale::putLE(bytes.data() + ext2sb::kInodesPerGroup, 2048, 4);
  sb.Assign(bytes.data());
  EXPECT_EQ(8u, sb.GetGroupCount());
  uint64_t group, index;
  sb.GetInodeGroupAndIndex(1, &group, &index);
  EXPECT_EQ(0u, group);
  EXPECT_EQ(0u, index);
  sb.GetInodeGroupAndIndex(2049, &group, &index);
  EXPECT_EQ(1u, group);
  EXPECT_EQ(0u, index);
  sb.GetInodeGroupAndIndex(0, &group, &index);
  EXPECT_EQ(UINT64_MAX, group);
  // Fewer blocks than the first data block, and no blocks per group: no groups, no division.
  corvale::putLE(bytes.data() + ext2sb::kBlockCount, 0, 4);
  sb.Assign(bytes.data());
  EXPECT_EQ(0u, sb.GetGroupCount());
  corvale::putLE(bytes.data() + ext2sb::kBlocksPerGroup, 0, 4);
  sb.Assign(bytes.data());
  EXPECT_EQ(0u, sb.GetGroupCount());
  sb.Normalise();
  EXPECT_FALSE(sb.IsValid());
}

TEST(Ext2Superblock, SameFileSystemComparesIdentityFieldsOnly) {
  std::vector<uint8_t> bytes = RealSuperblock(kTree1k);
  if (bytes.empty()) GTEST_SKIP() << "ext2 image unavailable";
  const CExt2SuperBlock original(bytes.data());
  struct Row {
    uint32_t offset;
    bool same;
  } rows[] = {
      {ext2sb::kMagic, false},      {ext2sb::kLogBlockSize, false},    {ext2sb::kBlockCount, false},
      {ext2sb::kInodeCount, false}, {ext2sb::kBlocksPerGroup, false},  {ext2sb::kInodesPerGroup, false},
      {ext2sb::kInodeSize, false},  {ext2sb::kFirstDataBlock, false},  {ext2sb::kUuid + 15, false},
      {ext2sb::kMountTime, true},   {ext2sb::kBlockGroupNumber, true}, {ext2sb::kVolumeName, true},
      {ext2sb::kJournalInode, true}};
  for (const Row& row : rows) {
    std::vector<uint8_t> changed = bytes;
    changed[row.offset] ^= 0x01;
    EXPECT_EQ(row.same, original.IsSameSuperBlock(CExt2SuperBlock(changed.data()))) << row.offset;
  }
}

}  // namespace
