#pragma once
// Block-group descriptors (FORMAT.md, "Group descriptor table"): 32 bytes per group, of which the
// engine reads the first three words.

#include <cstddef>
#include <cstdint>

#include "storage/ParseResult.h"

class CExt2SuperBlock;

namespace ext2gd {
constexpr uint32_t kSize = 32;
constexpr uint32_t kBlockBitmap = 0;  // u32
constexpr uint32_t kInodeBitmap = 4;  // u32
constexpr uint32_t kInodeTable = 8;   // u32, first block of the group's inode table
}  // namespace ext2gd

struct Ext2GroupDescriptor {
  uint32_t blockBitmap = 0;
  uint32_t inodeBitmap = 0;
  uint32_t inodeTable = 0;

  // Descriptor `index` of a table of `tableBytes` bytes; all zero when it lies outside the table.
  static Ext2GroupDescriptor parse(const uint8_t* table, size_t tableBytes, uint64_t index);
  bool operator==(const Ext2GroupDescriptor&) const = default;
};

// The group test: the two bitmaps and the first inode-table block of descriptor `group` lie inside
// that group, [first data block + group x blocks per group, + blocks per group).
bool IsGoodGroupDescriptor(const CExt2SuperBlock& sb, uint64_t group, const Ext2GroupDescriptor& d);

// Every one of `groups` descriptors of the table passes the group test: Valid; otherwise Damaged,
// naming the first word that lies outside its group (offset from the table start, the group's end as
// the limit), or the table holding fewer descriptors than that; NotThisStructure for no table.
corvale::ParseResult CheckGroupDescriptorTable(const CExt2SuperBlock& sb, const uint8_t* table,
                                               size_t tableBytes, uint64_t groups);
// CheckGroupDescriptorTable(...).IsValid().
bool IsGoodGroupDescriptorTable(const CExt2SuperBlock& sb, const uint8_t* table, size_t tableBytes,
                                uint64_t groups);

// The first three words of each of the first `groups` descriptors are equal (both tables must hold
// them).
bool SameGroupDescriptors(const uint8_t* a, const uint8_t* b, uint64_t groups);
