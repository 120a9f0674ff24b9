#include "ext2/Ext2File.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "ext2/Ext2FileSystem.h"
#include "ext2/InodeIterator.h"

// ---------------------------------------------------------------------------------------------
// CExt2File

CExt2File::CExt2File(const CExt2FileSystem* fs, uint32_t inodeNumber) : m_fs(fs) { LoadInode(inodeNumber); }

CExt2File::CExt2File(const CExt2FileSystem* fs, const void* inodeBytes, uint32_t inodeNumber)
    : m_fs(fs), m_inode(inodeBytes), m_inodeNumber(inodeNumber) {}

void CExt2File::LoadInode(uint32_t inodeNumber) {
  m_inodeNumber = inodeNumber;
  m_inode = CExt2Inode();
  uint64_t block;
  uint32_t offset;
  if (!m_fs->LocateInode(inodeNumber, &block, &offset)) return;
  std::vector<uint8_t> buffer(m_fs->GetBlockSize());
  m_fs->ReadBlocks(buffer.data(), block, 1);
  // The inode size is a power of two no larger than the block, so the 128 bytes end inside it.
  if (offset + ext2ino::kSize <= buffer.size()) m_inode = CExt2Inode(buffer.data() + offset);
}

void CExt2File::SetName(const uint8_t* bytes, uint32_t length) {
  m_nameLength = std::min(length, kMaxNameBytes);
  if (m_nameLength != 0) std::memcpy(m_name, bytes, m_nameLength);
  m_name[m_nameLength] = '\0';
}

void CExt2File::GetGroupAndIndex(uint64_t* group, uint64_t* index) const {
  m_fs->GetSuperBlock().GetInodeGroupAndIndex(m_inodeNumber, group, index);
}

uint64_t CExt2File::GetDataSize() const {
  uint64_t size = GetFileSize();
  return size != 0 ? size : static_cast<uint64_t>(m_inode.GetAllocatedUnits()) * 512;
}

bool CExt2File::SizeExceedsAllocation() const { return GetFileSize() / 512 > m_inode.GetAllocatedUnits(); }

uint32_t CExt2File::GetBlockCount() const {
  const uint32_t blockSize = m_fs->GetBlockSize();
  uint64_t count;
  if (SizeExceedsAllocation()) {
    // Rounded up: the last, partly used block of a sparse file holds data too.
    count = GetFileSize() / blockSize + (GetFileSize() % blockSize != 0 ? 1 : 0);
  } else {
    count = m_inode.GetAllocatedUnits() / m_fs->GetSuperBlock().GetSectorsPerBlock();
  }
  return static_cast<uint32_t>(
      std::min<uint64_t>({count, CExt2BlockIterator::MappableBlocks(blockSize), UINT32_MAX}));
}

bool CExt2File::HasValidBlockPointers() const {
  if (m_inode.GetMode() == 0) return false;
  // An ext4 file's pointers are an extent tree's root: read as block numbers they would name blocks
  // of other files (or none), and the file would come out as someone else's data or as zeros.
  if (m_inode.UsesExtents()) return false;
  uint64_t needed = std::min<uint64_t>(GetFileSize() / m_fs->GetBlockSize(), 13);
  for (uint32_t i = 0; i < needed; ++i)
    if (!m_fs->IsValidBlock(m_inode.GetBlockPointer(i))) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------
// CExt2BlockIterator

CExt2BlockIterator::CExt2BlockIterator(const CExt2File* file, uint32_t index)
    : m_file(file), m_index(index) {}

CExt2BlockIterator::CExt2BlockIterator(const CExt2BlockIterator& other)
    : m_file(other.m_file), m_index(other.m_index), m_block(other.m_block) {}

CExt2BlockIterator& CExt2BlockIterator::operator=(const CExt2BlockIterator& other) {
  if (this != &other) {
    m_file = other.m_file;
    m_index = other.m_index;
    m_block = other.m_block;
    for (Slot& s : m_slots) s = Slot();
    m_mapUnreadable = false;
  }
  return *this;
}

uint64_t CExt2BlockIterator::MappableBlocks(uint32_t blockSize) {
  uint64_t p = blockSize / 4;
  return ext2ino::kDirectPointers + p + p * p + p * p * p;
}

bool CExt2BlockIterator::Load(int level, uint32_t block) {
  const CExt2FileSystem* fs = m_file->GetFileSystem();
  if (block == 0 || !fs->IsValidBlock(block)) return false;
  Slot& slot = m_slots[level];
  if (slot.block == block) {
    m_mapUnreadable = m_mapUnreadable || slot.unreadable;
    return true;
  }
  slot.block = block;
  slot.unreadable = false;
  // Zeroed first: a block that cannot be read maps everything below it to no block.
  slot.data.assign(fs->GetBlockSize() & ~3u, 0);
  try {
    fs->ReadBlocks(slot.data.data(), block, 1);
  } catch (const std::exception&) {
    std::fill(slot.data.begin(), slot.data.end(), 0);
    slot.unreadable = true;
  }
  m_mapUnreadable = m_mapUnreadable || slot.unreadable;
  return true;
}

uint32_t CExt2BlockIterator::Entry(int level, uint64_t i) const {
  const std::vector<uint8_t>& d = m_slots[level].data;
  if (i >= d.size() / 4) return 0;
  const uint8_t* p = d.data() + 4 * i;
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint32_t CExt2BlockIterator::GetPhysicalBlock() {
  const CExt2FileSystem* fs = m_file->GetFileSystem();
  const CExt2Inode& inode = m_file->GetInode();
  const uint64_t p = fs->GetBlockSize() / 4;
  const uint64_t i = m_index;
  uint32_t result = 0;
  m_mapUnreadable = false;
  if (i < ext2ino::kDirectPointers) {
    result = inode.GetBlockPointer(static_cast<uint32_t>(i));
  } else if (i < ext2ino::kDirectPointers + p) {
    if (Load(0, inode.GetBlockPointer(ext2ino::kSingleIndirect)))
      result = Entry(0, i - ext2ino::kDirectPointers);
  } else if (i < ext2ino::kDirectPointers + p + p * p) {
    uint64_t j = i - (ext2ino::kDirectPointers + p);
    if (Load(0, inode.GetBlockPointer(ext2ino::kDoubleIndirect)) && Load(1, Entry(0, j / p)))
      result = Entry(1, j % p);
  } else if (i < MappableBlocks(fs->GetBlockSize())) {
    uint64_t j = i - (ext2ino::kDirectPointers + p + p * p);
    if (Load(0, inode.GetBlockPointer(ext2ino::kTripleIndirect)) && Load(1, Entry(0, j / (p * p))) &&
        Load(2, Entry(1, (j % (p * p)) / p)))
      result = Entry(2, j % p);
  }
  // Past three levels of indirection there is no block: the index came from a damaged size.
  return fs->IsValidBlock(result) ? result : 0;
}

uint64_t CExt2BlockIterator::MissingSpan() {
  // The span walks the same slots; what GetPhysicalBlock found stays what it found.
  struct KeepFlag {
    bool& flag;
    bool saved;
    ~KeepFlag() { flag = saved; }
  } keep{m_mapUnreadable, m_mapUnreadable};
  const CExt2FileSystem* fs = m_file->GetFileSystem();
  const CExt2Inode& inode = m_file->GetInode();
  const uint64_t p = fs->GetBlockSize() / 4;
  const uint64_t i = m_index;
  const uint64_t singleEnd = ext2ino::kDirectPointers + p;
  const uint64_t doubleEnd = singleEnd + p * p;
  const uint64_t tripleEnd = MappableBlocks(fs->GetBlockSize());
  if (i < ext2ino::kDirectPointers) return 1;
  if (i < singleEnd) return Load(0, inode.GetBlockPointer(ext2ino::kSingleIndirect)) ? 1 : singleEnd - i;
  if (i < doubleEnd) {
    const uint64_t j = i - singleEnd;
    if (!Load(0, inode.GetBlockPointer(ext2ino::kDoubleIndirect))) return doubleEnd - i;
    if (!Load(1, Entry(0, j / p))) return p - j % p;
    return 1;
  }
  if (i < tripleEnd) {
    const uint64_t j = i - doubleEnd;
    if (!Load(0, inode.GetBlockPointer(ext2ino::kTripleIndirect))) return tripleEnd - i;
    if (!Load(1, Entry(0, j / (p * p)))) return p * p - j % (p * p);
    if (!Load(2, Entry(1, (j % (p * p)) / p))) return p - j % p;
    return 1;
  }
  return UINT64_MAX;
}

CExt2BlockIterator::BlockView CExt2BlockIterator::GetBlock() {
  BlockView view;
  const CExt2FileSystem* fs = m_file->GetFileSystem();
  view.block = GetPhysicalBlock();
  const uint64_t groupBlocks =
      static_cast<uint64_t>(fs->GetGroupCount()) * fs->GetSuperBlock().GetBlocksPerGroup();
  if (view.block == 0 || view.block > groupBlocks) return view;
  const uint32_t blockSize = fs->GetBlockSize();
  m_block.resize(blockSize);
  try {
    fs->ReadBlocks(m_block.data(), view.block, 1);
  } catch (const std::exception&) {
    return BlockView{nullptr, 0, view.block};
  }
  view.buffer = m_block.data();
  view.length = blockSize;
  if (m_file->GetDataSize() < static_cast<uint64_t>(blockSize) * (static_cast<uint64_t>(m_index) + 1)) {
    uint32_t tail = static_cast<uint32_t>(m_file->GetFileSize() % blockSize);
    if (tail != 0) view.length = tail;
  }
  return view;
}

// ---------------------------------------------------------------------------------------------
// CExt2InodeIterator

CExt2InodeIterator::CExt2InodeIterator(const CExt2FileSystem* fs, uint64_t inodeNumber)
    : m_fs(fs), m_number(inodeNumber) {}

CExt2InodeIterator::CExt2InodeIterator(const CExt2InodeIterator& other)
    : m_fs(other.m_fs), m_number(other.m_number) {}

CExt2InodeIterator& CExt2InodeIterator::operator=(const CExt2InodeIterator& other) {
  if (this != &other) {
    m_fs = other.m_fs;
    m_number = other.m_number;
    m_group = UINT64_MAX;
    m_table.clear();
  }
  return *this;
}

const uint8_t* CExt2InodeIterator::Get() {
  static const uint8_t kZeroInode[ext2ino::kSize] = {};
  const CExt2SuperBlock& sb = m_fs->GetSuperBlock();
  uint64_t group, index;
  sb.GetInodeGroupAndIndex(m_number, &group, &index);
  // No group (inode 0, or a number past the groups): nothing to read.
  if (group >= m_fs->GetGroupCount()) return kZeroInode;
  if (group != m_group) {
    const uint64_t blockSize = m_fs->GetBlockSize();
    // inode size <= block size and inodes per group <= 8 x block size, both checked by IsValid: the
    // table of one group is at most 8 x block size^2 bytes (512 MiB with 8 KiB blocks), and nothing is
    // allocated for it before its place on the device is checked.
    const uint64_t tableBytes = static_cast<uint64_t>(sb.GetInodeSize()) * sb.GetInodesPerGroup();
    const uint64_t tableBlocks = (tableBytes + blockSize - 1) / blockSize;
    const uint64_t first = m_fs->GetGroupDescriptor(group).inodeTable;
    m_table.clear();
    m_group = UINT64_MAX;
    // Checked before the buffer is made, so a table placed off the device costs no memory.
    if (!m_fs->IsBlockRequestInRange(first, tableBlocks))
      throw std::range_error("CExt2FileSystem::ReadBlocks");
    m_table.assign(tableBlocks * blockSize, 0);
    m_group = group;
    // On a device shorter than the file system the table may run past its end: the part on the device
    // is read, the inodes past the end stay zero (not in use).
    const uint64_t readable = m_fs->BlocksOnDevice(first, tableBlocks);
    if (readable > 0) m_fs->ReadBlocks(m_table.data(), first, readable);
  }
  return m_table.data() + index * sb.GetInodeSize();
}

CExt2File CExt2InodeIterator::MakeFile() { return CExt2File(m_fs, Get(), static_cast<uint32_t>(m_number)); }
