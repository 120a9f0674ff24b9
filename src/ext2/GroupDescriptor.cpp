#include "ext2/GroupDescriptor.h"

#include "ext2/Superblock.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"

Ext2GroupDescriptor Ext2GroupDescriptor::parse(const uint8_t* table, size_t tableBytes, uint64_t index) {
  Ext2GroupDescriptor d;
  auto offset = corvale::checkedMul(index, ext2gd::kSize);
  if (!offset) return d;
  corvale::ByteReader r = corvale::ByteReader(table, tableBytes).sub(*offset, ext2gd::kSize);
  d.blockBitmap = r.u32(ext2gd::kBlockBitmap);
  d.inodeBitmap = r.u32(ext2gd::kInodeBitmap);
  d.inodeTable = r.u32(ext2gd::kInodeTable);
  return d;
}

bool IsGoodGroupDescriptor(const CExt2SuperBlock& sb, uint64_t group, const Ext2GroupDescriptor& d) {
  // Group numbers below 2^32 and group sizes below 2^32: the bounds fit in 64 bits.
  uint64_t perGroup = sb.GetBlocksPerGroup();
  uint64_t low = sb.GetFirstDataBlock() + group * perGroup;
  uint64_t high = low + perGroup;
  auto inside = [&](uint64_t b) { return b >= low && b < high; };
  return inside(d.blockBitmap) && inside(d.inodeBitmap) && inside(d.inodeTable);
}

corvale::ParseResult CheckGroupDescriptorTable(const CExt2SuperBlock& sb, const uint8_t* table,
                                               size_t tableBytes, uint64_t groups) {
  using corvale::ParseResult;
  if (table == nullptr) return ParseResult::NotThis("descriptor table", "is absent");
  if (groups > tableBytes / ext2gd::kSize)
    return ParseResult::Damaged("descriptor table", "holds fewer descriptors than groups",
                                tableBytes / ext2gd::kSize, 0, groups);
  const uint64_t perGroup = sb.GetBlocksPerGroup();
  for (uint64_t i = 0; i < groups; ++i) {
    const Ext2GroupDescriptor d = Ext2GroupDescriptor::parse(table, tableBytes, i);
    if (IsGoodGroupDescriptor(sb, i, d)) continue;
    // The first of the three words that lies outside the group; the limit is the group's end.
    const uint64_t low = sb.GetFirstDataBlock() + i * perGroup;
    const uint64_t high = low + perGroup;
    const uint64_t at = i * ext2gd::kSize;
    auto outside = [&](uint64_t b) { return b < low || b >= high; };
    if (outside(d.blockBitmap))
      return ParseResult::Damaged("block bitmap", "lies outside its group", d.blockBitmap,
                                  at + ext2gd::kBlockBitmap, high);
    if (outside(d.inodeBitmap))
      return ParseResult::Damaged("inode bitmap", "lies outside its group", d.inodeBitmap,
                                  at + ext2gd::kInodeBitmap, high);
    return ParseResult::Damaged("inode table", "lies outside its group", d.inodeTable,
                                at + ext2gd::kInodeTable, high);
  }
  return ParseResult::Valid();
}

bool IsGoodGroupDescriptorTable(const CExt2SuperBlock& sb, const uint8_t* table, size_t tableBytes,
                                uint64_t groups) {
  return CheckGroupDescriptorTable(sb, table, tableBytes, groups).IsValid();
}

bool SameGroupDescriptors(const uint8_t* a, const uint8_t* b, uint64_t groups) {
  size_t bytes = static_cast<size_t>(groups) * ext2gd::kSize;
  for (uint64_t i = 0; i < groups; ++i)
    if (!(Ext2GroupDescriptor::parse(a, bytes, i) == Ext2GroupDescriptor::parse(b, bytes, i))) return false;
  return true;
}
