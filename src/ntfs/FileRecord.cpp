#include "ntfs/FileRecord.h"

#include <algorithm>
#include <unordered_set>

#include "ntfs/FileRecordHeader.h"
#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

using corvale::ByteReader;
using corvale::checkedAdd;
using corvale::checkedMul;
namespace attr = corvale::ntfs::attr;
namespace rec = corvale::ntfs::rec;

namespace {

// Attribute-list entry fields.
constexpr size_t kEntryType = 0x00;
constexpr size_t kEntryLength = 0x04;
constexpr size_t kEntryReference = 0x10;
constexpr size_t kEntryMinLength = 0x1A;  // up to and including the reference

}  // namespace

uint32_t GetMftRecordSize(IStorageDevice* device) {
  if (!device || device->GetSectorSize() == 512 || device->GetSectorSize() <= 0) return 1024;
  return static_cast<uint32_t>(device->GetSectorSize());
}

int64_t MftRecordToSector(uint64_t recordNumber, const NTFSMftPlacement& p, uint32_t* byteInSector) {
  if (byteInSector) *byteInSector = 0;
  if (!p.mftRuns || p.sectorSize == 0 || p.bytesPerCluster == 0 || p.recordSize == 0 || p.partitionStart < 0)
    return -1;
  auto byte = checkedMul(recordNumber, p.recordSize);
  if (!byte) return -1;
  uint64_t vcn = *byte / p.bytesPerCluster;
  if (vcn > uint64_t(INT64_MAX)) return -1;
  int64_t lcn = p.mftRuns->VcnToLcn(static_cast<int64_t>(vcn));
  if (lcn < 0) return -1;
  auto start = checkedMul(uint64_t(p.partitionStart), p.sectorSize);
  auto cluster = checkedMul(uint64_t(lcn), p.bytesPerCluster);
  if (!start || !cluster) return -1;
  auto absolute = checkedAdd(*start, *cluster);
  if (!absolute) return -1;
  absolute = checkedAdd(*absolute, *byte % p.bytesPerCluster);
  if (!absolute || *absolute / p.sectorSize > uint64_t(INT64_MAX)) return -1;
  if (byteInSector) *byteInSector = static_cast<uint32_t>(*absolute % p.sectorSize);
  return static_cast<int64_t>(*absolute / p.sectorSize);
}

namespace {

// Reads the clusters of a non-resident attribute list into `storage` (zeros where nothing is read).
bool ReadNonResidentList(const CNTFSFileRecordAttribute& list, IStorageDevice* device,
                         const NTFSMftPlacement& p, std::vector<uint8_t>& storage) {
  int64_t initialized = list.GetInitializedSize();
  int64_t allocated = list.GetAllocatedSize();
  if (initialized <= 0 || initialized > allocated || allocated > kMaxAttributeListBytes) return false;
  if (!device || p.sectorSize == 0 || p.bytesPerCluster == 0 || p.bytesPerCluster % p.sectorSize != 0 ||
      p.partitionStart < 0 || device->GetSectorSize() != static_cast<int32_t>(p.sectorSize))
    return false;
  CNTFSRunList runs;
  if (!ParseAttributeRuns(list, runs)) return false;
  // Whole sectors, so that each read lands inside the buffer.
  uint64_t size = (uint64_t(allocated) + p.sectorSize - 1) / p.sectorSize * p.sectorSize;
  storage.assign(size, 0);
  for (const NTFSRun& run : runs.Runs()) {
    // A hole holds zeros, which the buffer already has.
    if (run.lcn < 0) continue;
    auto position = checkedMul(uint64_t(run.vcn), p.bytesPerCluster);
    if (!position || *position >= size) continue;
    auto runBytes = checkedMul(uint64_t(run.length), p.bytesPerCluster);
    uint64_t bytes = std::min<uint64_t>(runBytes ? *runBytes : UINT64_MAX, size - *position);
    auto clusterBytes = checkedMul(uint64_t(run.lcn), p.bytesPerCluster);
    if (!clusterBytes) return false;
    uint64_t firstSector = uint64_t(p.partitionStart) + *clusterBytes / p.sectorSize;
    if (firstSector < uint64_t(p.partitionStart)) return false;
    if (!device->ReadSectors(storage.data() + *position, firstSector, bytes / p.sectorSize)) return false;
  }
  storage.resize(static_cast<size_t>(initialized));
  return true;
}

}  // namespace

bool GetAttributeListReferences(const uint8_t* record, size_t length, IStorageDevice* device,
                                const NTFSMftPlacement& placement, std::vector<uint64_t>& out) {
  out.clear();
  CNTFSFileRecordAttribute list = FindAttribute(record, length, attr::kAttributeList);
  if (!list) return false;
  std::vector<uint8_t> storage;
  ByteReader entries;
  if (!list.IsNonResident()) {
    entries = list.GetValue();
  } else {
    if (!ReadNonResidentList(list, device, placement, storage)) return false;
    entries = ByteReader(storage.data(), storage.size());
  }
  std::unordered_set<uint64_t> seen;
  uint64_t offset = 0;
  while (entries.has(offset, 8)) {
    uint32_t type = entries.u32(offset + kEntryType);
    uint16_t entryLength = entries.u16(offset + kEntryLength);
    if (type == 0 || entryLength == 0) break;
    // An entry too short to hold its reference, or running past the list, ends the walk.
    if (entryLength < kEntryMinLength || !entries.has(offset, entryLength)) break;
    uint64_t reference = entries.u48(offset + kEntryReference);
    if (seen.insert(reference).second) out.push_back(reference);
    offset += entryLength;
  }
  return !out.empty();
}

std::unique_ptr<std::vector<NTFSExtensionRecordRef>> BuildAttributeListEntries(
    const uint8_t* record, size_t length, int64_t recordSector, int64_t ownRecordNumber,
    IStorageDevice* device, const NTFSMftPlacement& placement) {
  std::vector<uint64_t> references;
  if (!GetAttributeListReferences(record, length, device, placement, references)) return nullptr;
  if (ownRecordNumber < 0) ownRecordNumber = GetOwnRecordNumber(record, length);
  auto list = std::make_unique<std::vector<NTFSExtensionRecordRef>>();
  for (uint64_t reference : references) {
    if (ownRecordNumber >= 0 && reference == uint64_t(ownRecordNumber)) continue;
    int64_t sector = MftRecordToSector(reference, placement);
    if (sector < 0) continue;
    // Where records share sectors, the sector alone does not tell one record from another.
    if (placement.recordSize >= placement.sectorSize && sector == recordSector) continue;
    list->push_back({sector, reference});
  }
  if (list->empty()) return nullptr;
  return list;
}

bool CNTFSAttributeListEntry::Load(uint32_t recordSize, int64_t baseRecordNumber) {
  m_record.clear();
  if (!m_device || m_sector < 0 || recordSize < rec::kMinRecordSize || recordSize > rec::kMaxAllocated)
    return false;
  int32_t sectorSize = m_device->GetSectorSize();
  if (sectorSize <= 0) return false;
  uint64_t byteInSector = recordSize < uint32_t(sectorSize)
                              ? ((m_reference & rec::kRecordNumberMask) * recordSize) % sectorSize
                              : 0;
  uint64_t sectors = (byteInSector + recordSize + sectorSize - 1) / sectorSize;
  std::vector<uint8_t> buffer(sectors * sectorSize);
  if (!m_device->ReadSectors(buffer.data(), uint64_t(m_sector), sectors)) return false;
  const uint8_t* candidate = buffer.data() + byteInSector;
  if (!IsValidNTFSFileRecord(candidate, recordSize) || !IsExtensionRecord(candidate, recordSize))
    return false;
  if (baseRecordNumber >= 0 &&
      (GetBaseRecordReference(candidate, recordSize) & rec::kRecordNumberMask) != uint64_t(baseRecordNumber))
    return false;
  m_record.assign(candidate, candidate + FileRecordLength(candidate, recordSize));
  ApplyFileRecordFixup(m_record.data(), m_record.size());
  return true;
}

CNTFSFileRecord::CNTFSFileRecord(const uint8_t* buffer, size_t length, int64_t recordSector,
                                 IStorageDevice* device,
                                 const std::vector<NTFSExtensionRecordRef>* extensions, uint32_t recordSize,
                                 int64_t ownRecordNumber)
    : m_recordSector(recordSector), m_device(device) {
  m_result = CheckFileRecord(buffer, length);
  if (!IsValidNTFSFileRecord(buffer, length)) return;
  m_record.assign(buffer, buffer + FileRecordLength(buffer, length));
  ApplyFileRecordFixup(m_record.data(), m_record.size());
  if (!extensions) return;
  int64_t base =
      ownRecordNumber >= 0 ? ownRecordNumber : GetOwnRecordNumber(m_record.data(), m_record.size());
  m_entries.reserve(extensions->size());
  for (const NTFSExtensionRecordRef& ref : *extensions) {
    m_entries.emplace_back(m_device, ref.sector, ref.reference);
    m_entries.back().Load(recordSize, base);
  }
}

NTFSFoundAttribute CNTFSFileRecord::FindAttribute(uint32_t type, int n) const {
  NTFSFoundAttribute found;
  if (!IsValid() || n < 0) return found;
  int inBase = CountAttributes(m_record.data(), m_record.size(), type);
  if (n < inBase) {
    found.attribute = ::FindAttribute(m_record.data(), m_record.size(), type, n);
    found.offsetInRecord = found.attribute.GetOffset();
    found.recordSector = m_recordSector;
    return found;
  }
  n -= inBase;
  for (const CNTFSAttributeListEntry& entry : m_entries) {
    if (!entry.IsLoaded()) continue;
    int here = CountAttributes(entry.GetRecord(), entry.GetRecordLength(), type);
    if (n < here) {
      found.attribute = ::FindAttribute(entry.GetRecord(), entry.GetRecordLength(), type, n);
      found.offsetInRecord = found.attribute.GetOffset();
      found.recordSector = entry.GetSector();
      return found;
    }
    n -= here;
  }
  return found;
}
