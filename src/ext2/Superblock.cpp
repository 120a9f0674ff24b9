#include "ext2/Superblock.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "storage/ByteReader.h"

using namespace ext2sb;

CExt2SuperBlock::CExt2SuperBlock() { std::memset(m_sb.bytes, 0, kSize); }

CExt2SuperBlock::CExt2SuperBlock(const void* bytes) { Assign(bytes); }

void CExt2SuperBlock::Assign(const void* bytes) { std::memcpy(m_sb.bytes, bytes, kSize); }

uint32_t CExt2SuperBlock::U32(uint32_t o) const { return corvale::ByteReader(m_sb.bytes, kSize).u32(o); }
uint16_t CExt2SuperBlock::U16(uint32_t o) const { return corvale::ByteReader(m_sb.bytes, kSize).u16(o); }
void CExt2SuperBlock::Put32(uint32_t o, uint32_t v) { corvale::putLE(m_sb.bytes + o, v, 4); }
void CExt2SuperBlock::Put16(uint32_t o, uint16_t v) { corvale::putLE(m_sb.bytes + o, v, 2); }

uint32_t CExt2SuperBlock::GetBlockSize() const {
  uint32_t log = GetLogBlockSize();
  return log <= kMaxLogBlockSize ? (1u << (log + 10)) : 0;
}

uint32_t CExt2SuperBlock::GetGroupCount() const {
  uint64_t perGroup = GetBlocksPerGroup();
  if (perGroup == 0) return 0;
  uint64_t blocks = GetBlockCount();
  uint64_t first = GetFirstDataBlock();
  uint64_t used = blocks > first ? blocks - first : 0;
  // At most 2^32 - 1 (one block per group), so the quotient fits.
  return static_cast<uint32_t>((used + perGroup - 1) / perGroup);
}

int64_t CExt2SuperBlock::GetSuperBlockSectorOffset() const {
  // Products of 16-, 32- and 5-bit values: below 2^53, no overflow in 64 bits.
  int64_t offset = static_cast<int64_t>(GetBlockGroupNumber()) * GetBlocksPerGroup() * GetSectorsPerBlock();
  if (GetFirstDataBlock() == 0) offset -= 2;
  return offset;
}

void CExt2SuperBlock::GetInodeGroupAndIndex(uint64_t n, uint64_t* group, uint64_t* index) const {
  uint64_t perGroup = GetInodesPerGroup();
  if (n == 0 || perGroup == 0) {
    *group = UINT64_MAX;
    *index = 0;
    return;
  }
  *group = (n - 1) / perGroup;
  *index = (n - 1) % perGroup;
}

uint32_t CExt2SuperBlock::GetFirstInode() const {
  return GetRevisionLevel() >= 1 ? GetFirstInodeField() : kRevision0FirstInode;
}

uint32_t CExt2SuperBlock::GetInodeSize() const {
  return GetRevisionLevel() >= 1 ? GetInodeSizeField() : kRevision0InodeSize;
}

void CExt2SuperBlock::Normalise() {
  if (GetRevisionLevel() == 0) SetInodeSizeField(kRevision0InodeSize);
  // The field is often left wrong by tools that resize or copy file systems; the block size decides it.
  SetFirstDataBlock(GetBlockSize() == 1024 ? 1 : 0);
  // The inode count is not repaired from the group sizes: every group holds the same number of
  // inodes, so a count that disagrees with them means that one of the two fields is damaged, and
  // which one cannot be told from this copy. Check() refuses it, and another copy is used.
}

corvale::ParseResult CExt2SuperBlock::Check() const {
  using corvale::ParseResult;
  if (GetMagic() != kMagicValue) return ParseResult::NotThis("magic", "is not 0xEF53", GetMagic(), kMagic);
  // The group sizes first: normalisation derives the inode count from them, so a count of 0 is
  // mostly what a group size of 0 left behind.
  if (GetBlockCount() == 0) return ParseResult::Damaged("block count", "is 0", 0, kBlockCount);
  if (GetBlocksPerGroup() == 0) return ParseResult::Damaged("blocks per group", "is 0", 0, kBlocksPerGroup);
  if (GetInodesPerGroup() == 0) return ParseResult::Damaged("inodes per group", "is 0", 0, kInodesPerGroup);
  if (GetInodeCount() == 0) return ParseResult::Damaged("inode count", "is 0", 0, kInodeCount);
  const uint32_t groups = GetGroupCount();
  if (GetBlockGroupNumber() > groups)
    return ParseResult::Damaged("block group number", "is past the group count", GetBlockGroupNumber(),
                                kBlockGroupNumber, groups);
  // Blocks of 1, 2, 4 or 8 KiB; checked before anything is divided by the block size.
  const uint64_t blockSize = GetBlockSize();
  if (blockSize < 1024)
    return ParseResult::Damaged("log block size", "gives blocks over 8 KiB", GetLogBlockSize(), kLogBlockSize,
                                kMaxLogBlockSize);
  const uint32_t inodeSize = GetInodeSize();
  if (GetRevisionLevel() == 0 && inodeSize != kRevision0InodeSize)
    return ParseResult::Damaged("inode size", "is not 128 in revision 0", inodeSize, kInodeSize,
                                kRevision0InodeSize);
  if (inodeSize < kRevision0InodeSize)
    return ParseResult::Damaged("inode size", "is below 128", inodeSize, kInodeSize, kRevision0InodeSize);
  // An inode that is not a power of two, or larger than a block, could straddle a block end: the
  // 128 bytes read of it would run past the block.
  if ((inodeSize & (inodeSize - 1)) != 0)
    return ParseResult::Damaged("inode size", "is not a power of two", inodeSize, kInodeSize);
  if (inodeSize > blockSize)
    return ParseResult::Damaged("inode size", "is larger than a block", inodeSize, kInodeSize, blockSize);
  // A group may not hold fewer blocks than one bitmap block describes.
  const uint64_t bitsPerBitmap = 8 * blockSize;
  const uint64_t maxGroups = (GetBlockCount() + bitsPerBitmap - 1) / bitsPerBitmap;
  if (groups > maxGroups)
    return ParseResult::Damaged("blocks per group", "make more groups than bitmap blocks allow",
                                GetBlocksPerGroup(), kBlocksPerGroup, maxGroups);
  // One inode-bitmap block describes a group's inodes; more would also make the inode table of one
  // group (read whole) arbitrarily large.
  if (GetInodesPerGroup() > bitsPerBitmap)
    return ParseResult::Damaged("inodes per group", "is past what one bitmap block describes",
                                GetInodesPerGroup(), kInodesPerGroup, bitsPerBitmap);
  if (GetInodeCount() <= GetFirstInode())
    return ParseResult::Damaged("first inode", "is not below the inode count", GetFirstInode(), kFirstInode,
                                GetInodeCount());
  // Every group holds inodes per group inodes, so the count is their product. A copy where they
  // disagree would map inodes through the wrong group size: every inode read from the wrong place.
  const uint64_t groupInodes = static_cast<uint64_t>(groups) * GetInodesPerGroup();
  if (GetInodeCount() != groupInodes)
    return ParseResult::Damaged("inode count", "is not groups x inodes per group", GetInodeCount(),
                                kInodeCount, groupInodes);
  return ParseResult::Valid();
}

bool CExt2SuperBlock::IsSameSuperBlock(const CExt2SuperBlock& o) const {
  return GetMagic() == o.GetMagic() && GetLogBlockSize() == o.GetLogBlockSize() &&
         GetBlockCount() == o.GetBlockCount() && GetInodeCount() == o.GetInodeCount() &&
         GetBlocksPerGroup() == o.GetBlocksPerGroup() && GetInodesPerGroup() == o.GetInodesPerGroup() &&
         GetInodeSizeField() == o.GetInodeSizeField() && GetFirstDataBlock() == o.GetFirstDataBlock() &&
         std::memcmp(GetUuid(), o.GetUuid(), 16) == 0;
}

std::string CExt2SuperBlock::describe() const {
  char uuid[33];
  for (int i = 0; i < 16; ++i) std::snprintf(uuid + 2 * i, 3, "%02x", GetUuid()[i]);
  char text[512];
  std::snprintf(
      text, sizeof text,
      "ext2 superblock: magic 0x%04x, inodes %u, blocks %u, first data block %u, log block size %u, "
      "blocks/group %u, inodes/group %u, revision %u, first inode %u, inode size %u, group %u, "
      "journal inode %u, mount %u, write %u, check %u, uuid %s",
      GetMagic(), GetInodeCount(), GetBlockCount(), GetFirstDataBlock(), GetLogBlockSize(),
      GetBlocksPerGroup(), GetInodesPerGroup(), GetRevisionLevel(), GetFirstInodeField(), GetInodeSizeField(),
      GetBlockGroupNumber(), GetJournalInode(), GetMountTime(), GetWriteTime(), GetLastCheckTime(), uuid);
  return text;
}
