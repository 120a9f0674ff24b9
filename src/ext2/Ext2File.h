#pragma once
// One inode of an Ext2/Ext3 file system, reached by number or through a directory entry, with the
// name the entry gave it.

#include <cstdint>

#include "ext2/BlockIterator.h"
#include "ext2/Inode.h"

class CExt2FileSystem;
class CExt2DirEntry;

class CExt2File {
 public:
  static constexpr uint32_t kMaxNameBytes = 255;

  // Loads inode n (zeros when it has no place in the file system).
  CExt2File(const CExt2FileSystem* fs, uint32_t inodeNumber);
  // Takes the 128 inode bytes as given; the name is empty.
  CExt2File(const CExt2FileSystem* fs, const void* inodeBytes, uint32_t inodeNumber);
  // The file a directory entry names: its inode number, its name (kept as on disk, NUL-terminated) and,
  // when the entry is valid, its inode. Defined with the directory reader (DirEntry.cpp).
  CExt2File(const CExt2File& directory, const CExt2DirEntry& entry);

  // Sets the number and reads the inode's 128 bytes; they stay zero when the inode cannot be located.
  // A failed read throws as CExt2FileSystem::ReadBlocks does.
  void LoadInode(uint32_t inodeNumber);

  const CExt2FileSystem* GetFileSystem() const { return m_fs; }
  const CExt2Inode& GetInode() const { return m_inode; }
  bool IsDirectory() const {
    return static_cast<uint16_t>(m_inode.GetMode() - ext2ino::kTypeDirectory) < 0x1000;
  }
  bool IsDeleted() const { return m_inode.GetDeletionTime() != 0; }
  bool IsInUse() const { return m_inode.GetMode() != 0; }
  const char* GetName() const { return m_name; }
  uint32_t GetNameLength() const { return m_nameLength; }
  uint32_t GetInodeNumber() const { return m_inodeNumber; }
  void GetGroupAndIndex(uint64_t* group, uint64_t* index) const;

  uint64_t GetFileSize() const { return m_inode.GetFileSize(); }
  // The size, or the allocated bytes when the size is 0.
  uint64_t GetDataSize() const;
  // The size needs more 512-byte units than are allocated: a sparse file (or a damaged size).
  bool SizeExceedsAllocation() const;
  // Logical blocks to walk: for a sparse file the blocks its size covers, otherwise the allocated
  // blocks (indirect blocks included, so the walk may run past the data into holes). Never more than
  // three levels of indirection reach.
  uint32_t GetBlockCount() const;
  // The inode is in use, maps its blocks by pointers (not by extents), and the direct pointers and
  // the single-indirect pointer that its size needs are below the block count.
  bool HasValidBlockPointers() const;

  CExt2BlockIterator BlocksBegin() const { return CExt2BlockIterator(this, 0); }
  CExt2BlockIterator BlocksEnd() const { return CExt2BlockIterator(this, GetBlockCount()); }
  // Directory entries from byte 0 of the data to its end (DirEntry.h).
  CExt2DirEntry EntriesBegin() const;
  CExt2DirEntry EntriesEnd() const;

 private:
  void SetName(const uint8_t* bytes, uint32_t length);

  const CExt2FileSystem* m_fs;
  CExt2Inode m_inode;
  char m_name[kMaxNameBytes + 1] = {};
  uint32_t m_inodeNumber = 0;
  uint32_t m_nameLength = 0;
};
