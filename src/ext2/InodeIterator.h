#pragma once
// Walks the inodes of a file system by number, reading each group's whole inode table in one request
// and keeping it until the walk reaches the next group.

#include <cstdint>
#include <vector>

class CExt2FileSystem;
class CExt2File;

class CExt2InodeIterator {
 public:
  CExt2InodeIterator(const CExt2FileSystem* fs, uint64_t inodeNumber);
  // A copy keeps the position, not the cached table.
  CExt2InodeIterator(const CExt2InodeIterator& other);
  CExt2InodeIterator& operator=(const CExt2InodeIterator& other);
  CExt2InodeIterator(CExt2InodeIterator&&) = default;
  CExt2InodeIterator& operator=(CExt2InodeIterator&&) = default;

  uint64_t GetInodeNumber() const { return m_number; }

  // The 128 bytes of the current inode, inside the cached table of its group. When the group changes
  // the group's whole table is read. An inode number with no group (0, or past the groups) reads as
  // zeros. Throws std::range_error when the table lies outside the device, and CExt2ReadSectorError
  // when its read fails; the table then stays cached as zeros, so the group's other inodes read as
  // unused.
  const uint8_t* Get();
  // A file for the current inode, with an empty name.
  CExt2File MakeFile();

  CExt2InodeIterator& operator++() {
    ++m_number;
    return *this;
  }
  bool operator==(const CExt2InodeIterator& other) const {
    return m_fs == other.m_fs && m_number == other.m_number;
  }

 private:
  const CExt2FileSystem* m_fs;
  uint64_t m_number;
  uint64_t m_group = UINT64_MAX;  // group whose table is cached; UINT64_MAX: none
  std::vector<uint8_t> m_table;
};
