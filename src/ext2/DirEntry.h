#pragma once
// Directories of an Ext2/Ext3 file system (FORMAT.md, "Directory entry").
//
// CExt2DirEntry walks the linked list of entries of one directory in the order of its data. It keeps
// two consecutive directory blocks in a window, so an entry is read in place. It stops at the end of
// the data, at the first entry whose lengths are wrong or that does not lie wholly inside the bytes
// read, and at an entry with inode 0 and no name that ends inside a block.
//
// An entry with inode 0 and no name whose record reaches the end of its block only says that the
// rest of the block is unused: the walk goes on with the next block. Hashed (dir_index) directories
// depend on this: each of their interior index blocks is one such entry spanning the whole block, and
// the index's leaves, which hold the names, are ordinary directory blocks placed before and after
// those index blocks. (The index root, block 0, is covered by "." and "..", so it needs nothing
// special.) An emptied block in a plain directory is passed over the same way. A block that cannot
// be had (a hole, a failed read, or a block the walk has read before, which only a damaged block map
// names) ends the walk once the entries before it, already in the window, are read.
//
// Removing a file from a directory leaves its entry's bytes behind, inside the record length of the
// entry before it; FindDeletedExt2DirRecords finds such entries (isPlausibleExt2DirRecord decides
// which bytes are one).

#include <cstdint>
#include <exception>
#include <set>
#include <string>
#include <vector>

#include "ext2/BlockIterator.h"

class CExt2File;

namespace ext2de {
constexpr uint32_t kInode = 0;         // u32, 0 = unused entry
constexpr uint32_t kRecordLength = 4;  // u16, bytes to the next entry
constexpr uint32_t kNameLength = 6;    // u8
constexpr uint32_t kFileType = 7;      // u8, low 3 bits: 2 = directory
constexpr uint32_t kName = 8;          // name-length bytes, not NUL-terminated
constexpr uint32_t kHeaderSize = 8;
// An entry's header and the longest name: the window keeps this much of the next block in view.
constexpr uint32_t kMaxEntrySpan = 264;
constexpr uint8_t kMaxFileType = 7;

// The least record length an entry with `nameLength` bytes of name needs: 8 + name, rounded up to 4.
constexpr uint32_t MinimumRecordLength(uint32_t nameLength) { return (nameLength + 11) & ~3u; }
}  // namespace ext2de

// The entry at `offset` of `bytes` (`length` valid bytes) is well formed: its header and name lie
// inside the bytes, and its record length is a multiple of 4 and at least the minimum for its name.
bool IsValidExt2DirEntry(const uint8_t* bytes, uint64_t length, uint64_t offset);

// Bytes at `offset` that look like an entry removed from the directory, inside [offset, limit) of a
// block of `length` bytes: a valid entry whose inode lies in [1, inodeCount], with a name of 1 to 255
// bytes that holds no NUL or '/' and is not "." or "..", a file type of at most 7, and a record
// length that does not run past `limit` nor the block.
bool isPlausibleExt2DirRecord(const uint8_t* bytes, uint64_t length, uint64_t offset, uint64_t limit,
                              uint32_t inodeCount);

class CExt2DirEntry {
 public:
  // The current entry was asked for while the directory's first block could not be read.
  class CBadDir : public std::exception {};

  // An iterator at byte `position` of the directory's data. Below the data size the directory's first
  // block is loaded; when that fails the iterator is the end iterator.
  CExt2DirEntry(const CExt2File* directory, uint64_t position);
  // A copy keeps the position, the window and the block position (not the indirect blocks).
  CExt2DirEntry(const CExt2DirEntry& other) = default;
  CExt2DirEntry& operator=(const CExt2DirEntry& other) = default;
  CExt2DirEntry(CExt2DirEntry&&) = default;
  CExt2DirEntry& operator=(CExt2DirEntry&&) = default;

  // The current on-disk entry. Throws CBadDir when there is no window, or when the position lies
  // outside the bytes read.
  const uint8_t* GetCurrentEntry() const;
  // Valid bytes from the current entry to the end of the window (0 when there is none).
  uint64_t GetCurrentEntryBytes() const;
  bool IsCurrentEntryValid() const;
  uint32_t GetInodeNumber() const;
  uint32_t GetNameLength() const;
  uint8_t GetFileType() const;
  uint64_t GetPosition() const { return m_position; }
  const CExt2File* GetDirectory() const { return m_directory; }

  CExt2DirEntry& operator++();
  // Against an end iterator: equal once this one has stopped (no window, past the data, an invalid
  // entry, or an entry with inode 0 and no name that ends inside its block or at the end of the
  // data). Otherwise: same directory, same position.
  bool operator==(const CExt2DirEntry& other) const;

  // The file the current entry names (CExt2File's constructor from an entry).
  CExt2File MakeFile() const;

 private:
  void BecomeEnd();
  // The current entry has inode 0, no name, and a record that reaches the end of its block before the
  // end of the data: an unused block, or an index block of a hashed directory.
  bool IsUnusedToBlockEnd() const;
  bool LoadNextBlock();
  // Offset of the current entry in the window, or -1 when the position is not inside the bytes read
  // (a directory size that disagrees with its blocks moves the position past them).
  int64_t WindowOffset() const;

  const CExt2File* m_directory;
  uint64_t m_position;
  uint64_t m_dataSize;
  uint32_t m_blockSize;
  CExt2BlockIterator m_blocks;
  std::vector<uint8_t> m_window;  // 2 x block size once the first block was read
  uint64_t m_windowEnd = 0;       // bytes of the window holding directory data; the rest is zero
  uint64_t m_windowBase = 0;      // position in the directory's data of the window's first byte
  std::set<uint32_t> m_loaded;    // physical blocks loaded so far
  bool m_noMoreBlocks = false;    // the next block could not be had: only the window is left
};

// An entry found in the slack of a live entry.
struct Ext2DeletedDirRecord {
  uint32_t inode = 0;
  uint8_t fileType = 0;
  uint32_t blockIndex = 0;  // logical block of the directory
  uint32_t offset = 0;      // byte offset in that block
  std::string name;         // as on disk
};

// The removed entries whose bytes survive in block `bytes` (`length` valid bytes) of a directory,
// in block order. Walks the live entries of the block, and in the bytes each one holds past its own
// name tries every 4-byte boundary with isPlausibleExt2DirRecord. A block whose live chain breaks is
// searched no further than the break.
void FindDeletedExt2DirRecordsInBlock(const uint8_t* bytes, uint32_t length, uint32_t inodeCount,
                                      uint32_t blockIndex, std::vector<Ext2DeletedDirRecord>* out);

// The removed entries of every block of the directory's data, each physical block read once (a damaged
// block map may name one block many times).
std::vector<Ext2DeletedDirRecord> FindDeletedExt2DirRecords(const CExt2File& directory);
