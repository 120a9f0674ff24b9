#pragma once
// The first 128 bytes of an Ext2/Ext3 inode (FORMAT.md, "Inode"), kept verbatim whatever the file
// system's inode size; accessors give host-order values.

#include <cstdint>
#include <cstring>

#include "storage/ByteReader.h"

namespace ext2ino {
constexpr uint32_t kSize = 128;
constexpr uint32_t kMode = 0;               // u16, type in bits 12-15
constexpr uint32_t kSizeLow = 4;            // u32
constexpr uint32_t kAccessTime = 8;         // u32
constexpr uint32_t kChangeTime = 12;        // u32
constexpr uint32_t kModificationTime = 16;  // u32
constexpr uint32_t kDeletionTime = 20;      // u32, non-zero on a deleted inode
constexpr uint32_t kAllocatedUnits = 28;    // u32, 512-byte units, indirect blocks included
constexpr uint32_t kFlags = 32;             // u32
constexpr uint32_t kBlockPointers = 40;     // 15 x u32
constexpr uint32_t kSizeHigh = 108;         // u32, regular files only

constexpr uint32_t kPointerCount = 15;
constexpr uint32_t kDirectPointers = 12;
constexpr uint32_t kSingleIndirect = 12;
constexpr uint32_t kDoubleIndirect = 13;
constexpr uint32_t kTripleIndirect = 14;

// The block pointers hold the root of an extent tree (ext4), not block numbers.
constexpr uint32_t kFlagExtents = 0x80000;

constexpr uint16_t kTypeMask = 0xF000;
constexpr uint16_t kTypeDirectory = 0x4000;
constexpr uint16_t kTypeRegular = 0x8000;
}  // namespace ext2ino

struct CExt2Inode {
  uint8_t bytes[ext2ino::kSize];

  CExt2Inode() { std::memset(bytes, 0, sizeof bytes); }
  explicit CExt2Inode(const void* from) { std::memcpy(bytes, from, sizeof bytes); }

  uint16_t GetMode() const { return R().u16(ext2ino::kMode); }
  uint32_t GetSizeLow() const { return R().u32(ext2ino::kSizeLow); }
  uint32_t GetSizeHigh() const { return R().u32(ext2ino::kSizeHigh); }
  uint32_t GetAccessTime() const { return R().u32(ext2ino::kAccessTime); }
  uint32_t GetChangeTime() const { return R().u32(ext2ino::kChangeTime); }
  uint32_t GetModificationTime() const { return R().u32(ext2ino::kModificationTime); }
  uint32_t GetDeletionTime() const { return R().u32(ext2ino::kDeletionTime); }
  uint32_t GetAllocatedUnits() const { return R().u32(ext2ino::kAllocatedUnits); }
  uint32_t GetFlags() const { return R().u32(ext2ino::kFlags); }
  bool UsesExtents() const { return (GetFlags() & ext2ino::kFlagExtents) != 0; }
  // Pointer i (0-14); 0 for any other i.
  uint32_t GetBlockPointer(uint32_t i) const {
    return i < ext2ino::kPointerCount ? R().u32(ext2ino::kBlockPointers + 4 * i) : 0;
  }
  bool IsRegularFile() const { return (GetMode() & ext2ino::kTypeMask) == ext2ino::kTypeRegular; }
  // The 64-bit size for a regular file; directories and the rest keep the high word for other uses.
  uint64_t GetFileSize() const {
    return IsRegularFile() ? (static_cast<uint64_t>(GetSizeHigh()) << 32) | GetSizeLow() : GetSizeLow();
  }

 private:
  corvale::ByteReader R() const { return corvale::ByteReader(bytes, sizeof bytes); }
};
