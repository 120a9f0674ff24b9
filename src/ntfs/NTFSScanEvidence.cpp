#include "ntfs/NTFSScanEvidence.h"

#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "storage/CheckedMath.h"

namespace attr = corvale::ntfs::attr;

namespace {

// A record whose data runs may be used: a FILE record whose fix-up verified.
bool IsSoundRecord(const CNTFSFileRecordView& view) {
  return view.IsValid() && view.GetParseResult().IsValid();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CNTFSFoundFileRecord

bool CNTFSFoundFileRecord::ParseRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize) {
  if (!IsSoundRecord(view)) return false;
  uint32_t sectorsPerCluster = 0;
  if (!InferSectorsPerCluster(view.GetBuffer(), view.GetLength(), sectorSize, sectorsPerCluster) ||
      sectorsPerCluster == 0)
    return false;
  CNTFSRunList runs;
  if (!GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, false, nullptr) || runs.IsEmpty())
    return false;
  m_sector = sector;
  m_runs = std::move(runs);
  m_logSequenceNumber = view.GetLogSequenceNumber();
  m_sectorsPerCluster = static_cast<uint8_t>(sectorsPerCluster);
  return true;
}

bool CNTFSFoundFileRecord::ParseRecord(const uint8_t* buffer, size_t length, int64_t sector,
                                       uint32_t sectorSize) {
  if (buffer == nullptr) return false;
  const CNTFSFileRecordView view(buffer, length);
  return ParseRecord(view, sector, sectorSize);
}

std::unique_ptr<CNTFSFoundFileRecord> CreateNTFSFoundFileRecord(const CNTFSFileRecordView& view,
                                                                int64_t sector, uint32_t sectorSize) {
  auto record = std::make_unique<CNTFSFoundFileRecord>();
  if (!record->ParseRecord(view, sector, sectorSize)) return nullptr;
  return record;
}

bool CNTFSFoundFileRecordMap::Add(std::unique_ptr<CNTFSFoundFileRecord> record) {
  if (!record) return false;
  const int64_t sector = record->GetSector();
  return m_records.try_emplace(sector, std::move(record)).second;
}

const CNTFSFoundFileRecord* CNTFSFoundFileRecordMap::Find(int64_t sector) const {
  auto it = m_records.find(sector);
  return it == m_records.end() ? nullptr : it->second.get();
}

const CNTFSFoundFileRecord* CNTFSFoundFileRecordMap::FindFirstInRange(int64_t first, int64_t count) const {
  if (count <= 0) return nullptr;
  auto it = m_records.lower_bound(first);
  if (it == m_records.end()) return nullptr;
  // it->first >= first, so the difference does not overflow.
  const uint64_t distance = static_cast<uint64_t>(it->first) - static_cast<uint64_t>(first);
  return distance < static_cast<uint64_t>(count) ? it->second.get() : nullptr;
}

// ---------------------------------------------------------------------------------------------
// CNTFSFolderIndexRecord

bool CNTFSFolderIndexRecord::ParseRecord(const CNTFSFileRecordView& view, int64_t sector,
                                         uint32_t sectorSize) {
  if (!IsSoundRecord(view) || view.IsExtensionRecord()) return false;
  if (sectorSize == 0 || sectorSize % 512 != 0) sectorSize = 512;

  int64_t directoryNumber = -1;
  const CNTFSFileRecordAttribute root = view.FindAttribute(attr::kIndexRoot);
  if (root) directoryNumber = GetIndexRootParentReference(root);

  const CNTFSFileRecordAttribute allocation = view.FindAttribute(attr::kIndexAllocation);
  CNTFSRunList runs;
  if (!allocation || allocation.GetLength() == 0 || !ParseAttributeRuns(allocation, runs)) return false;

  // The index blocks fill the allocation, so its initialized bytes over its clusters give the
  // cluster size; a size or run total of 0 gives none.
  const int64_t initialized = allocation.GetInitializedSize();
  const int64_t clusters = runs.GetTotalClusters();
  if (initialized <= 0 || clusters <= 0) return false;
  const auto sectorBytesOfRuns = corvale::checkedMul(static_cast<uint64_t>(clusters), sectorSize);
  if (!sectorBytesOfRuns) return false;
  const uint64_t n = static_cast<uint64_t>(initialized) / *sectorBytesOfRuns +
                     (static_cast<uint64_t>(initialized) % *sectorBytesOfRuns != 0);
  const uint32_t sectorsPerCluster = RoundUpToClusterSize(n);
  if (sectorsPerCluster == 0) return false;

  const bool hasOwn = view.HasOwnRecordNumber();
  const int64_t own = hasOwn ? view.GetOwnRecordNumber() : -1;
  if (directoryNumber == -1) directoryNumber = own;
  if (directoryNumber == -1 || directoryNumber == kRootDirectory) return false;

  m_sector = sector;
  m_runs = std::move(runs);
  m_logSequenceNumber = view.GetLogSequenceNumber();
  m_directoryNumber = directoryNumber;
  m_ownRecordNumber = hasOwn ? static_cast<uint32_t>(own) : 0;
  m_hasOwnRecordNumber = hasOwn;
  m_sectorsPerCluster = sectorsPerCluster;
  return true;
}

bool CNTFSFolderIndexRecord::ParseRecord(const uint8_t* buffer, size_t length, int64_t sector,
                                         uint32_t sectorSize) {
  if (buffer == nullptr) return false;
  const CNTFSFileRecordView view(buffer, length);
  return ParseRecord(view, sector, sectorSize);
}

bool CNTFSFolderIndexRecordMap::Add(std::unique_ptr<CNTFSFolderIndexRecord> record) {
  if (!record || record->GetDirectoryNumber() < 0) return false;
  const int64_t number = record->GetDirectoryNumber();
  // Equal keys go after the ones there, so a directory's records stay in the order they came.
  m_records.emplace(number, std::move(record));
  return true;
}

// ---------------------------------------------------------------------------------------------
// CNTFSRecordDataSize

bool CNTFSRecordDataSize::ReadFromRecord(const CNTFSFileRecordView& view, int64_t sector) {
  if (!IsSoundRecord(view)) return false;
  CNTFSRunList runs;
  int64_t dataSize = -1;
  if (!GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, true, &dataSize)) return false;
  if (dataSize <= 0 || runs.GetTotalClusters() <= 0) return false;
  m_sector = sector;
  m_dataSize = dataSize;
  return true;
}

bool CNTFSRecordDataSize::ReadFromRecord(const uint8_t* buffer, size_t length, int64_t sector) {
  if (buffer == nullptr) return false;
  const CNTFSFileRecordView view(buffer, length);
  return ReadFromRecord(view, sector);
}
