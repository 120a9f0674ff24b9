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

bool IsGoodGroupDescriptorTable(const CExt2SuperBlock& sb, const uint8_t* table, size_t tableBytes,
                                uint64_t groups) {
  if (table == nullptr || groups > tableBytes / ext2gd::kSize) return false;
  for (uint64_t i = 0; i < groups; ++i)
    if (!IsGoodGroupDescriptor(sb, i, Ext2GroupDescriptor::parse(table, tableBytes, i))) return false;
  return true;
}

bool SameGroupDescriptors(const uint8_t* a, const uint8_t* b, uint64_t groups) {
  size_t bytes = static_cast<size_t>(groups) * ext2gd::kSize;
  for (uint64_t i = 0; i < groups; ++i)
    if (!(Ext2GroupDescriptor::parse(a, bytes, i) == Ext2GroupDescriptor::parse(b, bytes, i))) return false;
  return true;
}
