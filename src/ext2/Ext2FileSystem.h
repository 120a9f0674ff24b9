#pragma once
// An Ext2/Ext3 file system on a sector device, opened from one of its superblock copies.
//
// Everything is counted in 512-byte sectors: the file system always reads through the 512-byte view
// of the device it is given. Once constructed it is complete (a valid superblock and a group
// descriptor table that passed the group test) and has no further state; it is used by one thread at
// a time. Files and iterators refer to it and must not outlive it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ext2/GroupDescriptor.h"
#include "ext2/Superblock.h"

class IStorageDevice;
class CExt2InodeIterator;

class CExt2FileSystem {
 public:
  // Reads the superblock copy at `superBlockSector` (512-byte sectors from the device start; the
  // primary's place, 2 sectors into the volume) and opens from it. Throws CExt2ReadSectorError when
  // it cannot be read, else as the next constructor; but a superblock that is damaged (it has the
  // magic, a field fails) gives way to a backup copy in group 1, 3, 5, 7 or 9 that opens the same
  // volume, when one does.
  CExt2FileSystem(IStorageDevice* device, int64_t superBlockSector);
  // Opens from the 1024 superblock bytes read at `superBlockSector`: the superblock is normalised and
  // must be valid and imply a partition start on the device (else CExt2BadSuperBlock), and a group
  // descriptor table must pass the group test in one of its places (else CExt2BadGroupDescriptor).
  // Both exceptions name the refused field (CExt2ParseException). A file system longer than the
  // device is opened: its blocks past the device end are unreadable.
  CExt2FileSystem(IStorageDevice* device, int64_t superBlockSector, const void* superBlock);
  // For a partition found by the scan: the partition starts at `partitionStart` and its descriptor
  // table (`tableBytes` bytes, at least group count x 32) was gathered already. The file-system size
  // is not compared with the device, which may be shorter than the partition.
  CExt2FileSystem(IStorageDevice* device, int64_t partitionStart, const void* superBlock,
                  const uint8_t* table, size_t tableBytes);
  virtual ~CExt2FileSystem();

  const CExt2SuperBlock& GetSuperBlock() const { return m_sb; }
  IStorageDevice* GetDevice() const { return m_device; }
  // 5 (Ext3) when the superblock names a journal inode, else 4 (Ext2).
  int32_t GetFileSystemType() const;
  int64_t GetSuperBlockSector() const { return m_superBlockSector; }
  // Where the primary superblock is (or was): this copy's sector less its distance from the primary.
  int64_t GetPrimarySuperBlockSector() const;
  // The sector of block 0 (primary superblock sector - 2); never negative once constructed.
  int64_t GetPartitionStart() const { return GetPrimarySuperBlockSector() - 2; }
  // Partition start + b x sectors per block. Blocks are below 2^32 and sectors per block at most 16,
  // so this does not overflow for a constructed file system.
  int64_t GetBlockSector(uint64_t block) const;
  // Block count x block size, in bytes.
  uint64_t GetSize() const;
  // The 16-byte volume-name field up to its first NUL.
  std::string GetVolumeName() const;
  bool IsValidBlock(uint64_t block) const { return block < m_sb.GetBlockCount(); }
  uint32_t GetBlockSize() const { return m_sb.GetBlockSize(); }
  uint32_t GetGroupCount() const { return m_sb.GetGroupCount(); }

  const uint8_t* GetGroupDescriptorTable() const { return m_groupTable.data(); }
  size_t GetGroupDescriptorTableBytes() const { return m_groupTable.size(); }
  Ext2GroupDescriptor GetGroupDescriptor(uint64_t group) const;

  // Where inode n lies: the block holding it and its byte offset in that block. False when n is 0 or
  // its group is past the group count.
  bool LocateInode(uint64_t n, uint64_t* block, uint32_t* offset) const;

  // True when a request for `count` blocks from `firstBlock` starts on the device and asks for no more
  // sectors than the device has (the test ReadBlocks makes before reading).
  bool IsBlockRequestInRange(uint64_t firstBlock, uint64_t count) const;
  // How many of the `count` blocks from `firstBlock` lie wholly on the device (fewer than `count` on a
  // device shorter than the file system; 0 when the first does not).
  uint64_t BlocksOnDevice(uint64_t firstBlock, uint64_t count) const;
  // Reads `count` blocks from `firstBlock` into `buffer`, which holds count x block size bytes.
  // A request outside the device throws std::range_error "CExt2FileSystem::ReadBlocks"; one that
  // starts inside but runs past the device end, or a failed read, zeroes the buffer and throws
  // CExt2ReadSectorError.
  bool ReadBlocks(void* buffer, uint64_t firstBlock, uint64_t count) const;

  // Inode iterators from the first non-reserved inode to one past the inode count.
  CExt2InodeIterator InodesBegin() const;
  CExt2InodeIterator InodesEnd() const;

 private:
  void UseDevice(IStorageDevice* device);
  void OpenFromSuperBlock(const void* superBlock);
  // Opens from a backup copy of the damaged primary superblock read at `primarySector`; false when
  // no copy opens a file system that starts where the primary says.
  bool OpenFromBackupCopy(const uint8_t* damagedBytes, int64_t primarySector);
  // Searches the places a descriptor table is kept; when none is found, `firstFailure` names what
  // failed in the first place tried.
  bool ReadGroupDescriptorTable(corvale::ParseResult* firstFailure);
  bool ReadDeviceSectors(void* buffer, int64_t sector, uint64_t count) const;

  CExt2SuperBlock m_sb;
  std::vector<uint8_t> m_groupTable;
  IStorageDevice* m_device = nullptr;
  int64_t m_deviceSectors = 0;
  int64_t m_superBlockSector = 0;
};
