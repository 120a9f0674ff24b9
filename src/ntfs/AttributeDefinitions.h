#pragma once
// The standard NTFS attribute-definition table ($AttrDef): what the engine knows of each attribute
// type, and the table's on-disk form, which the scan compares with $AttrDef contents it meets.

#include <cstddef>
#include <cstdint>
#include <vector>

struct NTFSAttributeDefinition {
  const char* name;  // ASCII; stored as UTF-16 on disk
  uint32_t type;
  uint32_t flags;
  int64_t minimumSize;
  int64_t maximumSize;  // -1: no limit
};

// 15 entries, in type order.
extern const NTFSAttributeDefinition kNTFSAttributeDefinitions[15];

namespace corvale::ntfs::attrdef {
constexpr size_t kEntrySize = 160;
constexpr size_t kName = 0x00;  // 128 bytes, UTF-16, zero-padded
constexpr size_t kType = 0x80;
constexpr size_t kDisplayRule = 0x84;
constexpr size_t kCollationRule = 0x88;
constexpr size_t kFlags = 0x8C;
constexpr size_t kMinimumSize = 0x90;
constexpr size_t kMaximumSize = 0x98;
constexpr size_t kTableSize = 16 * kEntrySize;  // 15 entries and an all-zero terminator
}  // namespace corvale::ntfs::attrdef

// The table's on-disk bytes (2560: 15 entries of 160 bytes and a zero entry).
std::vector<uint8_t> BuildAttributeDefinitionTable();
