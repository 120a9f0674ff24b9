#include "ext2/Ext2SearchedPartitionInfo.h"

#include <algorithm>

#include "core/RSData.h"
#include "core/StateIo.h"
#include "ext2/GroupDescriptor.h"
#include "storage/ByteReader.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

namespace {

constexpr uint32_t kDescriptorsPerSector = 512 / ext2gd::kSize;

CSearchedPartitionInfo* CreateExt2Info() {
  return new CExt2SearchedPartitionInfo(CSearchedPartitionInfo::kDefaultSectorSize);
}

}  // namespace

CExt2SearchedPartitionInfo::CExt2SearchedPartitionInfo(uint32_t sectorSize)
    : CSearchedPartitionInfo(sectorSize) {}

CExt2SearchedPartitionInfo::CExt2SearchedPartitionInfo(const void* superBlock, int64_t foundSector,
                                                       uint32_t sectorSize)
    : CSearchedPartitionInfo(sectorSize), CExt2SuperBlock(superBlock), m_normalised(superBlock) {
  m_normalised.Normalise();
  const int64_t base = m_normalised.GetBlockGroupNumber() != 0
                           ? foundSector - m_normalised.GetSuperBlockSectorOffset()
                           : foundSector;
  SetPartitionStart(base - 2);
  SetStartSector(foundSector);
  m_lowestSector = foundSector;
  m_copies = 1;
  m_descriptorsGathered = 0;
  SetGeometry();
  m_primaryValid = IsRawValid();
}

void CExt2SearchedPartitionInfo::SetGeometry() {
  SetFileSystemType(m_normalised.GetJournalInode() != 0 ? kFileSystemExt3 : kFileSystemExt2);
  SetSectorsPerCluster(static_cast<uint8_t>(m_normalised.GetSectorsPerBlock()));
  SetSectorCount(static_cast<int64_t>(static_cast<uint64_t>(m_normalised.GetBlockCount()) *
                                      m_normalised.GetSectorsPerBlock()));
}

bool CExt2SearchedPartitionInfo::IsRawValid() const { return CExt2SuperBlock::IsValid(); }

bool CExt2SearchedPartitionInfo::IsComplete() const {
  return m_normalised.GetGroupCount() == m_descriptorsGathered;
}

bool CExt2SearchedPartitionInfo::WantsDescriptorSector(int64_t sector) const {
  const int64_t perBlock = m_normalised.GetSectorsPerBlock();
  if (perBlock == 0) return false;
  const int64_t start = GetPartitionStart();
  return sector >= ((GetStartSector() - start) / perBlock + 1) * perBlock + start;
}

void CExt2SearchedPartitionInfo::AddDescriptorSector(const uint8_t* window, int64_t sector) {
  const uint32_t groups = m_normalised.GetGroupCount();
  if (m_descriptorsGathered >= groups) return;
  if (m_table.empty()) {
    m_table.assign(static_cast<size_t>(groups) * ext2gd::kSize, 0);
    m_descriptorTableSector = sector;
  }
  const uint32_t take = std::min(kDescriptorsPerSector, groups - m_descriptorsGathered);
  std::copy(window, window + take * ext2gd::kSize,
            m_table.begin() + static_cast<std::ptrdiff_t>(m_descriptorsGathered) * ext2gd::kSize);
  m_descriptorsGathered += take;
}

bool CExt2SearchedPartitionInfo::HasValidDescriptors() const {
  return m_normalised.IsValid() &&
         IsGoodGroupDescriptorTable(m_normalised, m_table.data(), m_table.size(), m_descriptorsGathered);
}

bool CExt2SearchedPartitionInfo::IsSamePartition(const CExt2SearchedPartitionInfo& other) const {
  if (m_table.empty() || other.m_table.empty()) return false;
  if ((GetBlockGroupNumber() != 0 || other.GetBlockGroupNumber() != 0) &&
      GetPartitionStart() != other.GetPartitionStart())
    return false;
  if (!m_normalised.IsSameSuperBlock(other.m_normalised)) return false;
  const uint64_t groups = m_normalised.GetGroupCount();
  if (m_table.size() < groups * ext2gd::kSize || other.m_table.size() < groups * ext2gd::kSize) return false;
  return SameGroupDescriptors(m_table.data(), other.m_table.data(), groups);
}

void CExt2SearchedPartitionInfo::MergeLowerCopy(const CExt2SearchedPartitionInfo& other) {
  if (other.GetStartSector() < m_lowestSector && GetBlockGroupNumber() == 0) {
    m_lowestSector = other.GetStartSector();
    SetPartitionStart(other.GetPartitionStart());
    m_primaryValid = other.IsRawValid();
  }
}

void CExt2SearchedPartitionInfo::Score() {
  if (m_copies == 0) return;
  const bool valid = IsRawValid();
  const bool primary = GetStartSector() - GetPartitionStart() == 2;
  int64_t score;
  if (m_copies == 1)
    score = valid ? (primary ? 60 : 45) : (primary ? 30 : 20);
  else
    score = valid ? (primary && m_primaryValid ? 100 : 90) : (primary && m_primaryValid ? 80 : 70);
  SetScore(score);
}

void CExt2SearchedPartitionInfo::LimitToDevice(int64_t deviceSectors) {
  const int64_t start = GetPartitionStart();
  if (deviceSectors <= 0 || start < 0 || start >= deviceSectors) return;
  if (GetSectorCount() > deviceSectors - start) SetSectorCount(deviceSectors - start);
}

bool CExt2SearchedPartitionInfo::ReloadFromDisk(IStorageDevice* device) {
  if (device == nullptr || GetStartSector() < 0 || GetDescriptorTableSector() < 0 || GetPartitionStart() < 0)
    return false;
  uint8_t bytes[ext2sb::kSize];
  if (!device->ReadSectors(bytes, static_cast<uint64_t>(GetStartSector()), 2)) return false;
  CExt2SuperBlock normalised(bytes);
  normalised.Normalise();
  if (!normalised.IsValid()) return false;
  const uint64_t groups = normalised.GetGroupCount();
  const uint64_t sectors = (groups * ext2gd::kSize + 511) / 512;
  std::vector<uint8_t> table(sectors * 512);
  if (!device->ReadSectors(table.data(), static_cast<uint64_t>(GetDescriptorTableSector()), sectors))
    return false;
  if (!IsGoodGroupDescriptorTable(normalised, table.data(), table.size(), groups)) return false;
  Assign(bytes);
  m_normalised = normalised;
  table.resize(groups * ext2gd::kSize);
  m_table = std::move(table);
  SetGeometry();
  m_descriptorsGathered = static_cast<uint32_t>(groups);
  m_copies = 1;
  return true;
}

bool CExt2SearchedPartitionInfo::Save(IRSData& writer) const {
  CSearchedPartitionInfo::Save(writer);
  StateRecordWriter record(writer);
  record.U64(static_cast<uint64_t>(m_descriptorTableSector)).U32(m_primaryValid ? 1 : 0);
  record.Flush();
  return true;
}

bool CExt2SearchedPartitionInfo::Load(IRSData& reader) {
  // The base reads its part whole before it changes anything; if the own part then fails, the
  // base part is put back so that a failed load leaves the object as it was.
  const CSearchedPartitionInfo before = *this;
  try {
    CSearchedPartitionInfo::Load(reader);
    uint8_t bytes[kOwnSavedSize];
    ReadExact(reader, bytes, sizeof(bytes));
    const ByteReader in(bytes, sizeof(bytes));
    const int64_t tableSector = static_cast<int64_t>(in.u64(0));
    const uint32_t flag = in.u32(8);
    // The reload reads at the found sector and the table sector, and the build places blocks from
    // the partition start: nothing of ours writes a negative one.
    if (flag > 1 || tableSector < -1 || GetPartitionStart() < 0 || GetStartSector() < 0)
      ThrowStateError(RS_ERROR_BAD_DATA);
    m_descriptorTableSector = tableSector;
    m_primaryValid = flag != 0;
    m_table.clear();
    m_descriptorsGathered = 0;
  } catch (...) {
    static_cast<CSearchedPartitionInfo&>(*this) = before;
    throw;
  }
  return true;
}

bool RegisterExt2SearchedPartitionInfo() {
  return RegisterSearchedPartitionInfoFactory(kPartitionInfoExt2, &CreateExt2Info);
}
