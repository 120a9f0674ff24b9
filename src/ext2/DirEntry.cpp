#include "ext2/DirEntry.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "ext2/Ext2File.h"
#include "ext2/Ext2FileSystem.h"
#include "ext2/Ext2Name.h"
#include "storage/ByteReader.h"

using corvale::ByteReader;

bool IsValidExt2DirEntry(const uint8_t* bytes, uint64_t length, uint64_t offset) {
  ByteReader r(bytes, static_cast<size_t>(length));
  if (!r.has(offset, ext2de::kHeaderSize)) return false;
  uint32_t recordLength = r.u16(offset + ext2de::kRecordLength);
  uint32_t nameLength = r.u8(offset + ext2de::kNameLength);
  if (recordLength % 4 != 0 || recordLength < ext2de::MinimumRecordLength(nameLength)) return false;
  // The name must be in the bytes read: past them lies either nothing or an earlier block's bytes.
  return r.has(offset + ext2de::kName, nameLength);
}

bool isPlausibleExt2DirRecord(const uint8_t* bytes, uint64_t length, uint64_t offset, uint64_t limit,
                              uint32_t inodeCount) {
  if (offset % 4 != 0 || limit > length || !IsValidExt2DirEntry(bytes, length, offset)) return false;
  ByteReader r(bytes, static_cast<size_t>(length));
  uint32_t inode = r.u32(offset + ext2de::kInode);
  uint32_t recordLength = r.u16(offset + ext2de::kRecordLength);
  uint32_t nameLength = r.u8(offset + ext2de::kNameLength);
  if (inode == 0 || inode > inodeCount) return false;
  if (nameLength == 0 || r.u8(offset + ext2de::kFileType) > ext2de::kMaxFileType) return false;
  // A removed entry kept its record length, which ended where the next entry began: inside the slack.
  if (!corvale::rangeFits(offset, recordLength, limit)) return false;
  const uint8_t* name = bytes + offset + ext2de::kName;
  if (std::memchr(name, 0, nameLength) != nullptr || std::memchr(name, '/', nameLength) != nullptr)
    return false;
  if ((nameLength == 1 && name[0] == '.') || (nameLength == 2 && name[0] == '.' && name[1] == '.'))
    return false;
  return true;
}

// ---------------------------------------------------------------------------------------------
// CExt2DirEntry

CExt2DirEntry::CExt2DirEntry(const CExt2File* directory, uint64_t position)
    : m_directory(directory),
      m_position(position),
      m_dataSize(directory->GetDataSize()),
      m_blockSize(directory->GetFileSystem()->GetBlockSize()),
      m_blocks(directory->BlocksBegin()) {
  if (m_position < m_dataSize && !LoadNextBlock()) BecomeEnd();
}

void CExt2DirEntry::BecomeEnd() { m_position = m_dataSize; }

bool CExt2DirEntry::LoadNextBlock() {
  if (m_position >= m_dataSize) return false;
  const uint32_t physical = m_blocks.GetPhysicalBlock();
  if (physical == 0) return false;
  // No directory holds one block twice; a damaged map that names a block again would make the walk
  // read that block over and over, up to the whole size of the directory.
  if (!m_loaded.insert(physical).second) return false;
  CExt2BlockIterator::BlockView view = m_blocks.GetBlock();
  if (view.buffer == nullptr) return false;
  if (m_window.empty()) m_window.assign(2 * static_cast<size_t>(m_blockSize), 0);
  const uint32_t index = m_blocks.GetIndex();
  const uint32_t length = std::min(view.length, m_blockSize);
  // Block 0 goes to the first half, block 1 to the second; from block 2 on, the second half moves down
  // first. Bytes of a half past its block's valid length are zeroed, so nothing stale is read as an
  // entry.
  uint8_t* half = m_window.data();
  if (index >= 1) {
    if (index >= 2) std::memmove(m_window.data(), m_window.data() + m_blockSize, m_blockSize);
    half += m_blockSize;
  }
  std::memcpy(half, view.buffer, length);
  std::memset(half + length, 0, m_blockSize - length);
  m_windowEnd = (index >= 1 ? m_blockSize : 0) + static_cast<uint64_t>(length);
  m_windowBase = index >= 2 ? static_cast<uint64_t>(index - 1) * m_blockSize : 0;
  return true;
}

int64_t CExt2DirEntry::WindowOffset() const {
  if (m_window.empty()) return -1;
  if (m_position < m_windowBase || m_position - m_windowBase >= m_windowEnd) return -1;
  return static_cast<int64_t>(m_position - m_windowBase);
}

const uint8_t* CExt2DirEntry::GetCurrentEntry() const {
  int64_t offset = WindowOffset();
  if (offset < 0 || static_cast<uint64_t>(offset) + ext2de::kHeaderSize > m_windowEnd) throw CBadDir();
  return m_window.data() + offset;
}

uint64_t CExt2DirEntry::GetCurrentEntryBytes() const {
  int64_t offset = WindowOffset();
  return offset < 0 ? 0 : m_windowEnd - static_cast<uint64_t>(offset);
}

bool CExt2DirEntry::IsCurrentEntryValid() const {
  int64_t offset = WindowOffset();
  return offset >= 0 && IsValidExt2DirEntry(m_window.data(), m_windowEnd, static_cast<uint64_t>(offset));
}

uint32_t CExt2DirEntry::GetInodeNumber() const {
  int64_t offset = WindowOffset();
  return offset < 0 ? 0 : ByteReader(m_window.data(), m_windowEnd).u32(offset + ext2de::kInode);
}

uint32_t CExt2DirEntry::GetNameLength() const {
  int64_t offset = WindowOffset();
  return offset < 0 ? 0 : ByteReader(m_window.data(), m_windowEnd).u8(offset + ext2de::kNameLength);
}

uint8_t CExt2DirEntry::GetFileType() const {
  int64_t offset = WindowOffset();
  return offset < 0 ? 0 : ByteReader(m_window.data(), m_windowEnd).u8(offset + ext2de::kFileType);
}

CExt2DirEntry& CExt2DirEntry::operator++() {
  if (!IsCurrentEntryValid()) {
    BecomeEnd();
    return *this;
  }
  const uint32_t recordLength = ByteReader(GetCurrentEntry(), ext2de::kHeaderSize).u16(ext2de::kRecordLength);
  if (recordLength > m_blockSize) {
    BecomeEnd();
    return *this;
  }
  m_position += recordLength;
  if (m_position >= m_dataSize) {
    BecomeEnd();
    return *this;
  }
  // Keep the block that holds the whole next entry (header and longest name) in the window.
  uint64_t target = m_blocks.GetIndex();
  if (m_position + ext2de::kMaxEntrySpan < m_dataSize)
    target = (m_position + ext2de::kMaxEntrySpan) / m_blockSize;
  if (!m_window.empty() && m_blocks.GetIndex() == target) return *this;
  // Once no further block can be had, the entries still inside the window are read; the walk ends at
  // the first one that is not.
  if (m_noMoreBlocks) return *this;
  const CExt2BlockIterator end = m_directory->BlocksEnd();
  if (m_blocks == end) {
    m_noMoreBlocks = true;
    return *this;
  }
  ++m_blocks;
  if (!(m_blocks == end) && !LoadNextBlock()) m_noMoreBlocks = true;
  return *this;
}

bool CExt2DirEntry::IsUnusedToBlockEnd() const {
  if (GetInodeNumber() != 0 || GetNameLength() != 0) return false;
  const uint32_t recordLength = ByteReader(GetCurrentEntry(), ext2de::kHeaderSize).u16(ext2de::kRecordLength);
  const uint64_t next = m_position + recordLength;
  return recordLength != 0 && next % m_blockSize == 0 && next < m_dataSize;
}

bool CExt2DirEntry::operator==(const CExt2DirEntry& other) const {
  if (other.m_position == m_dataSize) {
    if (m_window.empty()) return true;
    if (m_position < other.m_position && IsCurrentEntryValid() &&
        (GetInodeNumber() != 0 || GetNameLength() != 0 || IsUnusedToBlockEnd()))
      return false;
    return true;
  }
  return m_directory == other.m_directory && m_position == other.m_position;
}

CExt2File CExt2DirEntry::MakeFile() const { return CExt2File(*m_directory, *this); }

// The constructor of a file from a directory entry lives here, beside the entry's layout.
CExt2File::CExt2File(const CExt2File& directory, const CExt2DirEntry& entry) : m_fs(directory.m_fs) {
  const uint8_t* e = entry.GetCurrentEntry();
  const uint64_t available = entry.GetCurrentEntryBytes();
  ByteReader r(e, static_cast<size_t>(available));
  const uint32_t inodeNumber = r.u32(ext2de::kInode);
  const uint32_t nameLength = r.u8(ext2de::kNameLength);
  const bool valid = entry.IsCurrentEntryValid();
  if (nameLength != 0) {
    // Only the bytes read are taken: an invalid entry's name may run past them.
    uint32_t have = static_cast<uint32_t>(std::min<uint64_t>(nameLength, available - ext2de::kHeaderSize));
    const uint8_t* name = e + ext2de::kName;
    char converted[kMaxNameBytes + 1];
    size_t n = ConvertExt2Name(name, have, converted, kMaxNameBytes);
    if (n != 0)
      SetName(reinterpret_cast<const uint8_t*>(converted), static_cast<uint32_t>(n));
    else
      SetName(name, have);
  }
  if (valid)
    LoadInode(inodeNumber);
  else
    m_inodeNumber = inodeNumber;
}

CExt2DirEntry CExt2File::EntriesBegin() const { return CExt2DirEntry(this, 0); }
CExt2DirEntry CExt2File::EntriesEnd() const { return CExt2DirEntry(this, GetDataSize()); }

// ---------------------------------------------------------------------------------------------
// Removed entries

void FindDeletedExt2DirRecordsInBlock(const uint8_t* bytes, uint32_t length, uint32_t inodeCount,
                                      uint32_t blockIndex, std::vector<Ext2DeletedDirRecord>* out) {
  ByteReader r(bytes, length);
  uint64_t offset = 0;
  // Each live entry advances by its record length (at least 8); each try in the slack by 4 or more.
  while (IsValidExt2DirEntry(bytes, length, offset)) {
    const uint64_t recordLength = r.u16(offset + ext2de::kRecordLength);
    const uint64_t end = std::min<uint64_t>(offset + recordLength, length);
    uint64_t slot = offset + ext2de::MinimumRecordLength(r.u8(offset + ext2de::kNameLength));
    while (slot + ext2de::kHeaderSize <= end) {
      if (!isPlausibleExt2DirRecord(bytes, length, slot, end, inodeCount)) {
        slot += 4;
        continue;
      }
      Ext2DeletedDirRecord record;
      record.inode = r.u32(slot + ext2de::kInode);
      record.fileType = r.u8(slot + ext2de::kFileType);
      record.blockIndex = blockIndex;
      record.offset = static_cast<uint32_t>(slot);
      const uint32_t nameLength = r.u8(slot + ext2de::kNameLength);
      record.name.assign(reinterpret_cast<const char*>(bytes + slot + ext2de::kName), nameLength);
      out->push_back(std::move(record));
      slot += ext2de::MinimumRecordLength(nameLength);
    }
    offset += recordLength;
  }
}

std::vector<Ext2DeletedDirRecord> FindDeletedExt2DirRecords(const CExt2File& directory) {
  std::vector<Ext2DeletedDirRecord> out;
  const CExt2FileSystem* fs = directory.GetFileSystem();
  const uint32_t blockSize = fs->GetBlockSize();
  const uint64_t dataBlocks = (directory.GetDataSize() + blockSize - 1) / blockSize;
  const uint64_t blocks = std::min<uint64_t>(directory.GetBlockCount(), dataBlocks);
  // A damaged map can name one block for many logical blocks; each is searched once.
  std::set<uint32_t> searched;
  CExt2BlockIterator it = directory.BlocksBegin();
  for (uint64_t i = 0; i < blocks; ++i, ++it) {
    const uint32_t physical = it.GetPhysicalBlock();
    if (physical == 0 || !searched.insert(physical).second) continue;
    CExt2BlockIterator::BlockView view = it.GetBlock();
    if (view.buffer != nullptr)
      FindDeletedExt2DirRecordsInBlock(view.buffer, view.length, fs->GetSuperBlock().GetInodeCount(),
                                       static_cast<uint32_t>(i), &out);
  }
  return out;
}
