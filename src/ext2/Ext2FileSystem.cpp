#include "ext2/Ext2FileSystem.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ext2/Ext2Exceptions.h"
#include "ext2/GcAlloc.h"
#include "ext2/InodeIterator.h"
#include "platform/Log.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using corvale::checkedAdd;
using corvale::checkedMul;

namespace {

// The groups that hold superblock and descriptor-table copies in a sparse layout (0, 1 and the powers
// of 3, 5 and 7 below 128), in the order they are tried.
constexpr uint32_t kDescriptorCandidateGroups[] = {0, 1, 3, 5, 7, 9, 25, 27, 49, 81, 125};
constexpr size_t kCandidateCount = sizeof kDescriptorCandidateGroups / sizeof kDescriptorCandidateGroups[0];

}  // namespace

CExt2FileSystem::CExt2FileSystem(IStorageDevice* device, int64_t superBlockSector)
    : m_superBlockSector(superBlockSector) {
  UseDevice(device);
  uint8_t bytes[ext2sb::kSize] = {};
  if (!ReadDeviceSectors(bytes, superBlockSector, ext2sb::kSize / 512)) throw CExt2ReadSectorError();
  try {
    OpenFromSuperBlock(bytes);
  } catch (const CExt2BadSuperBlock& damaged) {
    // A superblock that is one but does not hold together: the copies kept in other groups describe
    // the same file system.
    if (!damaged.GetParseResult().IsDamaged() || !OpenFromBackupCopy(bytes, superBlockSector)) throw;
  }
}

bool CExt2FileSystem::OpenFromBackupCopy(const uint8_t* damagedBytes, int64_t primarySector) {
  // Where the copies lie depends on the block size and the blocks per group. The damaged copy's own
  // values are tried first when they are possible at all, then the layouts mke2fs makes (a group of
  // 8 x block size blocks, one block bitmap's worth) for each block size.
  struct Layout {
    uint32_t blockSize;
    uint32_t blocksPerGroup;
  };
  std::vector<Layout> layouts;
  const CExt2SuperBlock damaged(damagedBytes);
  const uint32_t ownBlockSize = damaged.GetBlockSize();
  const uint32_t ownPerGroup = damaged.GetBlocksPerGroup();
  if (ownBlockSize != 0 && ownPerGroup != 0 && ownPerGroup % 8 == 0 && ownPerGroup <= 8 * ownBlockSize)
    layouts.push_back({ownBlockSize, ownPerGroup});
  for (uint32_t blockSize = 1024; blockSize <= 8192; blockSize *= 2) {
    if (blockSize != ownBlockSize || ownPerGroup != 8 * blockSize)
      layouts.push_back({blockSize, 8 * blockSize});
  }
  const int64_t partitionStart = primarySector - 2;
  for (const Layout& layout : layouts) {
    const uint64_t firstData = layout.blockSize == 1024 ? 1 : 0;
    for (uint32_t group : {1u, 3u, 5u, 7u, 9u}) {
      const uint64_t block = static_cast<uint64_t>(group) * layout.blocksPerGroup + firstData;
      const uint64_t sector = static_cast<uint64_t>(partitionStart) + block * (layout.blockSize / 512);
      uint8_t copyBytes[ext2sb::kSize] = {};
      if (sector > static_cast<uint64_t>(INT64_MAX) ||
          !ReadDeviceSectors(copyBytes, static_cast<int64_t>(sector), ext2sb::kSize / 512))
        break;
      CExt2SuperBlock copy(copyBytes);
      copy.Normalise();
      // Only a copy that says it is the one of this group, in this layout, sits where it was looked for.
      if (!copy.IsValid() || copy.GetBlockGroupNumber() != group || copy.GetBlockSize() != layout.blockSize ||
          copy.GetBlocksPerGroup() != layout.blocksPerGroup)
        continue;
      try {
        CExt2FileSystem opened(m_device, static_cast<int64_t>(sector), copyBytes);
        if (opened.GetPartitionStart() != partitionStart) continue;
        LogInfo(
            "Ext2: the superblock at sector %lld is damaged; opened from its copy in group %u at sector %llu",
            static_cast<long long>(primarySector), group, static_cast<unsigned long long>(sector));
        m_sb = opened.m_sb;
        m_groupTable = std::move(opened.m_groupTable);
        m_superBlockSector = opened.m_superBlockSector;
        return true;
      } catch (const std::exception&) {
        continue;
      }
    }
  }
  return false;
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* device, int64_t superBlockSector, const void* superBlock)
    : m_superBlockSector(superBlockSector) {
  UseDevice(device);
  OpenFromSuperBlock(superBlock);
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* device, int64_t partitionStart, const void* superBlock,
                                 const uint8_t* table, size_t tableBytes) {
  UseDevice(device);
  m_sb.Assign(superBlock);
  m_sb.Normalise();
  const corvale::ParseResult check = m_sb.Check();
  if (!check.IsValid()) {
    DebugTrace("Ext2: superblock of the partition at sector %lld refused (%s): %s",
               static_cast<long long>(partitionStart), check.describe().c_str(), m_sb.describe().c_str());
    throw CExt2BadSuperBlock(check);
  }
  // The given start is the partition start: the copy is treated as the primary.
  if (partitionStart < 0 || partitionStart > INT64_MAX - 2)
    throw CExt2BadSuperBlock(corvale::ParseResult::Damaged("partition start", "lies outside the device",
                                                           static_cast<uint64_t>(partitionStart), 0));
  m_superBlockSector = partitionStart + 2;
  m_sb.SetBlockGroupNumber(0);
  uint64_t groups = m_sb.GetGroupCount();
  const corvale::ParseResult tableCheck = CheckGroupDescriptorTable(m_sb, table, tableBytes, groups);
  if (!tableCheck.IsValid()) throw CExt2BadGroupDescriptor(tableCheck);
  m_groupTable.assign(table, table + groups * ext2gd::kSize);
}

CExt2FileSystem::~CExt2FileSystem() = default;

void CExt2FileSystem::UseDevice(IStorageDevice* device) {
  m_device = device != nullptr ? device->GetDeviceWith512ByteSectors() : nullptr;
  // Every sector number here counts 512 bytes; a device of another size cannot be read.
  if (m_device == nullptr || m_device->GetSectorSize() != 512) throw CExt2ReadSectorError();
  m_deviceSectors = m_device->GetSectorCount();
  if (m_deviceSectors < 0) m_deviceSectors = 0;
}

bool CExt2FileSystem::ReadDeviceSectors(void* buffer, int64_t sector, uint64_t count) const {
  if (sector < 0 ||
      !corvale::rangeFits(static_cast<uint64_t>(sector), count, static_cast<uint64_t>(m_deviceSectors)))
    return false;
  return m_device->ReadSectors(buffer, static_cast<uint64_t>(sector), count);
}

void CExt2FileSystem::OpenFromSuperBlock(const void* superBlock) {
  m_sb.Assign(superBlock);
  m_sb.Normalise();
  const corvale::ParseResult check = m_sb.Check();
  if (!check.IsValid()) {
    DebugTrace("Ext2: superblock at sector %lld refused (%s): %s", static_cast<long long>(m_superBlockSector),
               check.describe().c_str(), m_sb.describe().c_str());
    throw CExt2BadSuperBlock(check);
  }
  // A copy read closer to the device start than its own distance from the primary cannot belong to a
  // file system on this device.
  int64_t start = GetPartitionStart();
  if (start < 0 || start > m_deviceSectors) {
    DebugTrace("Ext2: superblock at sector %lld implies a partition start %lld outside the device",
               static_cast<long long>(m_superBlockSector), static_cast<long long>(start));
    // The copy's group number places it; the value is the start it implies, as a 64-bit pattern.
    throw CExt2BadSuperBlock(corvale::ParseResult::Damaged(
        "block group number", "places the start outside the device", static_cast<uint64_t>(start),
        ext2sb::kBlockGroupNumber, static_cast<uint64_t>(m_deviceSectors)));
  }
  // A file system longer than the device is still opened: an image cut short, or a disk that lost its
  // last sectors, keeps everything before the cut. Blocks past the end cannot be read (ReadBlocks
  // refuses them), so only the files that need them are lost.
  uint64_t room = static_cast<uint64_t>(m_deviceSectors - start) * 512;
  if (GetSize() > room)
    DebugTrace(
        "Ext2: file system of %llu bytes at sector %lld is longer than the %llu bytes left on the device; "
        "blocks past the end are unreadable",
        static_cast<unsigned long long>(GetSize()), static_cast<long long>(start),
        static_cast<unsigned long long>(room));
  corvale::ParseResult tableCheck;
  if (!ReadGroupDescriptorTable(&tableCheck)) throw CExt2BadGroupDescriptor(tableCheck);
}

bool CExt2FileSystem::ReadGroupDescriptorTable(corvale::ParseResult* firstFailure) {
  const uint64_t groups = m_sb.GetGroupCount();
  const uint64_t tableBytes = groups * ext2gd::kSize;
  const uint64_t tableSectors = (tableBytes + 511) / 512;
  const uint64_t perGroup = m_sb.GetBlocksPerGroup();
  const uint64_t firstData = m_sb.GetFirstDataBlock();

  // The candidate tables live in collectable memory; their addresses are kept in an uncollectable
  // block, which the collector scans, so that none is reclaimed while the search still holds it.
  corvale::ext2gc::Ext2GcThreadScope gcThread;
  auto** kept =
      static_cast<uint8_t**>(corvale::ext2gc::GcAllocUncollectable(kCandidateCount * sizeof(uint8_t*)));
  size_t keptCount = 0;
  const uint8_t* result = nullptr;

  for (uint32_t group : kDescriptorCandidateGroups) {
    // A group the file system does not have holds no copy.
    if (group >= groups) break;
    uint64_t superBlockBlock = perGroup * group + firstData;
    if (group != 0) {
      uint8_t copyBytes[ext2sb::kSize] = {};
      if (!ReadDeviceSectors(copyBytes, GetBlockSector(superBlockBlock), 2)) break;
      CExt2SuperBlock copy(copyBytes);
      copy.Normalise();
      if (!copy.IsSameSuperBlock(m_sb)) continue;
    }
    // A table that does not lie on the device cannot be read, nor can any copy after it; nothing is
    // allocated for it (a damaged block count can ask for a table of megabytes).
    const int64_t tableSector = GetBlockSector(superBlockBlock + 1);
    if (tableSector < 0 || !corvale::rangeFits(static_cast<uint64_t>(tableSector), tableSectors,
                                               static_cast<uint64_t>(m_deviceSectors))) {
      if (firstFailure->IsValid())
        *firstFailure = corvale::ParseResult::Damaged("descriptor table", "runs past the device end",
                                                      tableSector + tableSectors, 0, m_deviceSectors);
      break;
    }
    // The new table's address goes straight into the scanned block, so it is never held only where
    // the collector might not look.
    kept[keptCount] = static_cast<uint8_t*>(corvale::ext2gc::GcAllocAtomic(tableSectors * 512));
    const uint8_t* table = kept[keptCount];
    bool read = ReadDeviceSectors(kept[keptCount], tableSector, tableSectors);
    const corvale::ParseResult check =
        read ? CheckGroupDescriptorTable(m_sb, table, tableBytes, groups)
             : corvale::ParseResult::NotThis("descriptor table", "could not be read", tableSector);
    if (firstFailure->IsValid() && !check.IsValid()) *firstFailure = check;
    if (!check.IsValid()) {
      if (read)
        DebugTrace("Ext2: descriptor table of group %u fails the group test: %s", group,
                   check.describe().c_str());
      corvale::ext2gc::GcFree(kept[keptCount]);
      kept[keptCount] = nullptr;
      if (!read) break;
      continue;
    }
    for (size_t i = 0; i < keptCount && result == nullptr; ++i)
      if (SameGroupDescriptors(kept[i], table, groups)) result = kept[i];
    ++keptCount;
    if (result != nullptr) break;
  }
  // Two copies that agree settle it; otherwise the first good one (the primary when it is good).
  if (result == nullptr && keptCount > 0) result = kept[0];
  if (result != nullptr) m_groupTable.assign(result, result + tableBytes);
  for (size_t i = 0; i < keptCount; ++i) corvale::ext2gc::GcFree(kept[i]);
  corvale::ext2gc::GcFree(kept);
  return result != nullptr;
}

int32_t CExt2FileSystem::GetFileSystemType() const {
  return m_sb.GetJournalInode() != 0 ? kFileSystemExt3 : kFileSystemExt2;
}

int64_t CExt2FileSystem::GetPrimarySuperBlockSector() const {
  if (m_sb.GetBlockGroupNumber() == 0) return m_superBlockSector;
  return m_superBlockSector - m_sb.GetSuperBlockSectorOffset();
}

int64_t CExt2FileSystem::GetBlockSector(uint64_t block) const {
  auto offset = checkedMul(block, m_sb.GetSectorsPerBlock());
  if (!offset) return -1;
  auto sector = checkedAdd(static_cast<uint64_t>(GetPartitionStart()), *offset);
  if (!sector || *sector > static_cast<uint64_t>(INT64_MAX)) return -1;
  return static_cast<int64_t>(*sector);
}

uint64_t CExt2FileSystem::GetSize() const {
  return static_cast<uint64_t>(m_sb.GetBlockCount()) * m_sb.GetBlockSize();
}

std::string CExt2FileSystem::GetVolumeName() const {
  const char* name = reinterpret_cast<const char*>(m_sb.GetVolumeNameField());
  return std::string(name, strnlen(name, 16));
}

Ext2GroupDescriptor CExt2FileSystem::GetGroupDescriptor(uint64_t group) const {
  return Ext2GroupDescriptor::parse(m_groupTable.data(), m_groupTable.size(), group);
}

bool CExt2FileSystem::LocateInode(uint64_t n, uint64_t* block, uint32_t* offset) const {
  uint64_t group, index;
  m_sb.GetInodeGroupAndIndex(n, &group, &index);
  if (group >= m_sb.GetGroupCount()) return false;
  // index < inodes per group <= 8 x block size and inode size <= block size: the product is far
  // below 2^64.
  uint64_t byteOffset = index * m_sb.GetInodeSize();
  uint32_t blockSize = m_sb.GetBlockSize();
  *block = GetGroupDescriptor(group).inodeTable + byteOffset / blockSize;
  *offset = static_cast<uint32_t>(byteOffset % blockSize);
  return true;
}

bool CExt2FileSystem::IsBlockRequestInRange(uint64_t firstBlock, uint64_t count) const {
  int64_t sector = GetBlockSector(firstBlock);
  auto sectors = checkedMul(count, m_sb.GetSectorsPerBlock());
  return sector >= 0 && sector < m_deviceSectors && sectors &&
         *sectors <= static_cast<uint64_t>(m_deviceSectors);
}

uint64_t CExt2FileSystem::BlocksOnDevice(uint64_t firstBlock, uint64_t count) const {
  const int64_t sector = GetBlockSector(firstBlock);
  const uint64_t perBlock = m_sb.GetSectorsPerBlock();
  if (sector < 0 || sector >= m_deviceSectors || perBlock == 0) return 0;
  return std::min<uint64_t>(count, static_cast<uint64_t>(m_deviceSectors - sector) / perBlock);
}

bool CExt2FileSystem::ReadBlocks(void* buffer, uint64_t firstBlock, uint64_t count) const {
  if (!IsBlockRequestInRange(firstBlock, count)) throw std::range_error("CExt2FileSystem::ReadBlocks");
  const uint64_t sector = static_cast<uint64_t>(GetBlockSector(firstBlock));
  const uint64_t sectors = count * m_sb.GetSectorsPerBlock();
  // A request that starts on the device but ends past it is a failed read, not one outside the
  // device: the caller skips what it was reading and goes on.
  if (!corvale::rangeFits(sector, sectors, static_cast<uint64_t>(m_deviceSectors)) ||
      !m_device->ReadSectors(buffer, sector, sectors)) {
    std::memset(buffer, 0, sectors * 512);
    throw CExt2ReadSectorError();
  }
  return true;
}

CExt2InodeIterator CExt2FileSystem::InodesBegin() const {
  return CExt2InodeIterator(this, m_sb.GetFirstInode());
}

CExt2InodeIterator CExt2FileSystem::InodesEnd() const {
  return CExt2InodeIterator(this, static_cast<uint64_t>(m_sb.GetInodeCount()) + 1);
}
