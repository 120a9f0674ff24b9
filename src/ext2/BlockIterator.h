#pragma once
// Position in one file's list of blocks: maps a logical block to its physical block through the
// inode's direct pointers and its single-, double- and triple-indirect blocks, and reads the block.
//
// The walk down the indirect blocks has a fixed depth of three, so blocks that point at each other or
// at themselves give wrong block numbers at worst, never a loop. Each level keeps the indirect block
// it read last, so walking a file in order reads every indirect block once.

#include <cstdint>
#include <vector>

class CExt2File;

class CExt2BlockIterator {
 public:
  struct BlockView {
    const uint8_t* buffer = nullptr;  // null when the block could not be had
    uint32_t length = 0;              // valid bytes in the buffer
    uint32_t block = 0;               // physical block number (0: none)
  };

  CExt2BlockIterator(const CExt2File* file, uint32_t index);
  // A copy keeps the position and the current block, not the indirect blocks (they start empty).
  CExt2BlockIterator(const CExt2BlockIterator& other);
  CExt2BlockIterator& operator=(const CExt2BlockIterator& other);
  CExt2BlockIterator(CExt2BlockIterator&&) = default;
  CExt2BlockIterator& operator=(CExt2BlockIterator&&) = default;

  uint32_t GetIndex() const { return m_index; }
  const CExt2File* GetFile() const { return m_file; }

  // The physical block of the current logical block; 0 when there is none (a hole, a pointer that is
  // 0 or not below the block count, an unreadable indirect block, or an index past what three levels
  // of indirection reach).
  uint32_t GetPhysicalBlock();
  // The current block read into the iterator's buffer. The valid length is the block size, except for
  // a last block that the file's size ends inside. An empty view when there is no block, it lies past
  // the groups, or its read failed.
  BlockView GetBlock();

  // The last GetPhysicalBlock went through an indirect block that could not be read (past the end of
  // a device shorter than the file system, or a failed read): its 0 means "unknown", not a hole.
  bool MapUnreadable() const { return m_mapUnreadable; }

  // How many logical blocks, from the current one on, have no block because an indirect block above
  // them is missing (0, or not a block of the file system): a hole in a huge sparse or damaged file
  // is passed in one step instead of block by block. At least 1; past what three levels reach, all
  // the rest.
  uint64_t MissingSpan();
  // Moves on by `n` logical blocks (held at the last index a 32-bit position can name).
  void Advance(uint64_t n) {
    m_index = n >= UINT32_MAX - m_index ? UINT32_MAX : m_index + static_cast<uint32_t>(n);
  }

  CExt2BlockIterator& operator++() {
    ++m_index;
    return *this;
  }
  // Same file, same index.
  bool operator==(const CExt2BlockIterator& other) const {
    return m_file == other.m_file && m_index == other.m_index;
  }

  // Logical blocks reachable with `blockSize`: 12 direct, then p, p^2 and p^3 with p = block size / 4.
  static uint64_t MappableBlocks(uint32_t blockSize);

 private:
  struct Slot {
    uint32_t block = 0;       // 0: nothing loaded
    bool unreadable = false;  // the block's read failed; data is zeros
    std::vector<uint8_t> data;
  };
  // Loads indirect block `block` into slot `level` unless it is there already. False when the block is
  // 0 or not below the block count.
  bool Load(int level, uint32_t block);
  uint32_t Entry(int level, uint64_t i) const;

  const CExt2File* m_file;
  uint32_t m_index;
  std::vector<uint8_t> m_block;
  Slot m_slots[3];
  bool m_mapUnreadable = false;
};
