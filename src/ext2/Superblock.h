#pragma once
// The Ext2/Ext3 superblock (FORMAT.md, "Superblock"). The 1024 bytes are kept as read, so that a copy
// can be saved, compared and re-tested byte for byte; the accessors give host-order values of the
// fields the engine uses. Normalise() writes its repairs back into the bytes.
//
// Nothing divides or shifts by a field of a superblock that IsValid() has not accepted: the accessors
// that would (GetBlockSize, GetGroupCount) answer 0 for values they cannot compute. Check() says why
// a superblock is refused, as the shared parse result (field, value, offset, limit).

#include <cstdint>
#include <string>

#include "storage/ParseResult.h"

namespace ext2sb {
constexpr uint32_t kSize = 1024;
constexpr uint32_t kInodeCount = 0;         // u32
constexpr uint32_t kBlockCount = 4;         // u32
constexpr uint32_t kFirstDataBlock = 20;    // u32
constexpr uint32_t kLogBlockSize = 24;      // u32
constexpr uint32_t kBlocksPerGroup = 32;    // u32
constexpr uint32_t kInodesPerGroup = 40;    // u32
constexpr uint32_t kMountTime = 44;         // u32
constexpr uint32_t kWriteTime = 48;         // u32
constexpr uint32_t kMagic = 56;             // u16
constexpr uint32_t kLastCheckTime = 64;     // u32
constexpr uint32_t kRevisionLevel = 76;     // u32
constexpr uint32_t kFirstInode = 84;        // u32, revision 1 and later
constexpr uint32_t kInodeSize = 88;         // u16, revision 1 and later
constexpr uint32_t kBlockGroupNumber = 90;  // u16, the group holding this copy
constexpr uint32_t kFeatureIncompat = 96;   // u32, features a reader must know to read the files
constexpr uint32_t kUuid = 104;             // 16 bytes
constexpr uint32_t kVolumeName = 120;       // 16 bytes, not necessarily NUL-terminated
constexpr uint32_t kJournalInode = 224;     // u32, non-zero on Ext3

constexpr uint16_t kMagicValue = 0xEF53;
// Files map their blocks by extent trees (ext4) in place of block pointers.
constexpr uint32_t kIncompatExtents = 0x0040;
constexpr uint32_t kMaxLogBlockSize = 3;  // 8192-byte blocks
constexpr uint32_t kRevision0InodeSize = 128;
constexpr uint32_t kRevision0FirstInode = 11;
}  // namespace ext2sb

// The on-disk superblock, verbatim.
struct ext2_super_block {
  uint8_t bytes[ext2sb::kSize];
};

class CExt2SuperBlock {
 public:
  CExt2SuperBlock();
  // Takes the first 1024 bytes at `bytes`.
  explicit CExt2SuperBlock(const void* bytes);

  void Assign(const void* bytes);
  const ext2_super_block& Raw() const { return m_sb; }
  const uint8_t* Bytes() const { return m_sb.bytes; }

  uint32_t GetInodeCount() const { return U32(ext2sb::kInodeCount); }
  uint32_t GetBlockCount() const { return U32(ext2sb::kBlockCount); }
  uint32_t GetFirstDataBlock() const { return U32(ext2sb::kFirstDataBlock); }
  uint32_t GetLogBlockSize() const { return U32(ext2sb::kLogBlockSize); }
  uint32_t GetBlocksPerGroup() const { return U32(ext2sb::kBlocksPerGroup); }
  uint32_t GetInodesPerGroup() const { return U32(ext2sb::kInodesPerGroup); }
  uint32_t GetMountTime() const { return U32(ext2sb::kMountTime); }
  uint32_t GetWriteTime() const { return U32(ext2sb::kWriteTime); }
  uint16_t GetMagic() const { return U16(ext2sb::kMagic); }
  uint32_t GetLastCheckTime() const { return U32(ext2sb::kLastCheckTime); }
  uint32_t GetRevisionLevel() const { return U32(ext2sb::kRevisionLevel); }
  uint32_t GetFirstInodeField() const { return U32(ext2sb::kFirstInode); }
  uint16_t GetInodeSizeField() const { return U16(ext2sb::kInodeSize); }
  uint16_t GetBlockGroupNumber() const { return U16(ext2sb::kBlockGroupNumber); }
  uint32_t GetJournalInode() const { return U32(ext2sb::kJournalInode); }
  uint32_t GetFeatureIncompat() const { return U32(ext2sb::kFeatureIncompat); }
  // True when the volume's files may map their data by extents, which this engine does not read:
  // such a file's block pointers are an extent header, and it is found without its data.
  bool UsesExtents() const { return (GetFeatureIncompat() & ext2sb::kIncompatExtents) != 0; }
  const uint8_t* GetUuid() const { return m_sb.bytes + ext2sb::kUuid; }
  const uint8_t* GetVolumeNameField() const { return m_sb.bytes + ext2sb::kVolumeName; }

  void SetInodeCount(uint32_t v) { Put32(ext2sb::kInodeCount, v); }
  void SetFirstDataBlock(uint32_t v) { Put32(ext2sb::kFirstDataBlock, v); }
  void SetInodeSizeField(uint16_t v) { Put16(ext2sb::kInodeSize, v); }
  void SetBlockGroupNumber(uint16_t v) { Put16(ext2sb::kBlockGroupNumber, v); }

  // 1 << (log block size + 10); 0 when the log block size is above 3 (blocks over 8 KiB are refused,
  // and a larger shift would be undefined).
  uint32_t GetBlockSize() const;
  // Block size / 512; 0 with GetBlockSize.
  uint32_t GetSectorsPerBlock() const { return GetBlockSize() / 512; }
  // ceil((block count - first data block) / blocks per group); 0 when blocks per group is 0.
  uint32_t GetGroupCount() const;
  // Sector distance of this copy from the primary superblock: group number x blocks per group x
  // sectors per block, less 2 when the first data block is 0 (the primary then sits 2 sectors into
  // block 0, a backup at the start of its block). For a group-0 copy with a first data block of 0 this
  // gives -2, which callers use only together with the group number.
  int64_t GetSuperBlockSectorOffset() const;
  // Group and index within the group of inode n (n >= 1). Inode 0 does not exist: group UINT64_MAX.
  void GetInodeGroupAndIndex(uint64_t n, uint64_t* group, uint64_t* index) const;
  uint32_t GetFirstInode() const;
  uint32_t GetInodeSize() const;

  // Repairs the values a damaged or half-written superblock gets wrong and the engine can derive
  // (FORMAT.md, "Normalisation"). Done on every copy before it is tested.
  void Normalise();
  bool IsValid() const { return Check().IsValid(); }
  // Valid; NotThisStructure when the magic is missing; otherwise Damaged, naming the first field that
  // failed, its value, its offset in the superblock and the limit it broke (FORMAT.md, "Validity").
  corvale::ParseResult Check() const;
  // The same file system: magic, block size, block and inode counts, group sizes, inode size, first
  // data block and UUID all equal.
  bool IsSameSuperBlock(const CExt2SuperBlock& other) const;
  // Every field the engine reads, on one line (trace logging only).
  std::string describe() const;

 private:
  uint32_t U32(uint32_t o) const;
  uint16_t U16(uint32_t o) const;
  void Put32(uint32_t o, uint32_t v);
  void Put16(uint32_t o, uint16_t v);

  ext2_super_block m_sb;
};
