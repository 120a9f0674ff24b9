#include "ntfs/SearchedNTFSPartitionInfo.h"

#include "core/RSData.h"
#include "core/StateIo.h"
#include "storage/ByteReader.h"

using namespace corvale;

namespace {

// Offsets of the own fields, from the end of the base's saved form.
constexpr size_t kExtraValueOffset = 0;
constexpr size_t kSectorsPerRecordOffset = 8;
constexpr size_t kFoundByFlagsOffset = 12;
constexpr size_t kUseMftOffset = 16;
constexpr size_t kFilesOfMftOnlyOffset = 20;
constexpr size_t kEvidenceOffset = 24;  // nine 8-byte values follow
constexpr size_t kEvidenceCount = 9;
static_assert(kEvidenceOffset + kEvidenceCount * 8 == CSearchedNTFSPartitionInfo::kOwnSavedSize);

CSearchedPartitionInfo* CreateNtfsInfo() {
  return new CSearchedNTFSPartitionInfo(CSearchedPartitionInfo::kDefaultSectorSize);
}

bool ReadOption(const ByteReader& in, size_t offset) {
  const uint32_t value = in.u32(offset);
  if (value > 1) ThrowStateError(RS_ERROR_BAD_DATA);
  return value != 0;
}

}  // namespace

CSearchedNTFSPartitionInfo::CSearchedNTFSPartitionInfo(uint32_t sectorSize)
    : CSearchedPartitionInfo(sectorSize) {}

bool CSearchedNTFSPartitionInfo::IsSectorsPerFileRecord(uint32_t count) {
  return count == 1 || count == 2 || count == 4 || count == 8;
}

bool CSearchedNTFSPartitionInfo::SetSectorsPerFileRecord(uint32_t count) {
  if (!IsSectorsPerFileRecord(count)) return false;
  m_sectorsPerFileRecord = count;
  return true;
}

bool CSearchedNTFSPartitionInfo::Save(IRSData& writer) const {
  CSearchedPartitionInfo::Save(writer);
  StateRecordWriter record(writer);
  record.U64(static_cast<uint64_t>(m_extraValue))
      .U32(m_sectorsPerFileRecord)
      .U32(m_foundByFlags)
      .U32(m_useMft ? 1 : 0)
      .U32(m_filesOfMftOnly ? 1 : 0);
  for (int64_t value : {m_totalClusters, m_logFileMatch, m_attrDefMatch, m_upCaseMatch, m_mftSector,
                        m_logFileSector, m_attrDefSector, m_upCaseSector, m_sectorsFromSystemFiles})
    record.U64(static_cast<uint64_t>(value));
  record.Flush();
  return true;
}

bool CSearchedNTFSPartitionInfo::Load(IRSData& reader) {
  // The base reads its part whole before it changes anything; if the own part then fails, the
  // base part is put back so that a failed load leaves the object as it was.
  const CSearchedPartitionInfo before = *this;
  try {
    CSearchedPartitionInfo::Load(reader);
    uint8_t bytes[kOwnSavedSize];
    ReadExact(reader, bytes, sizeof(bytes));
    const ByteReader in(bytes, sizeof(bytes));

    const uint32_t sectorsPerRecord = in.u32(kSectorsPerRecordOffset);
    if (!IsSectorsPerFileRecord(sectorsPerRecord)) ThrowStateError(RS_ERROR_BAD_DATA);
    const bool useMft = ReadOption(in, kUseMftOffset);
    const bool filesOfMftOnly = ReadOption(in, kFilesOfMftOnlyOffset);
    int64_t evidence[kEvidenceCount];
    for (size_t i = 0; i < kEvidenceCount; ++i) {
      evidence[i] = static_cast<int64_t>(in.u64(kEvidenceOffset + 8 * i));
      // Each is a count or a sector, or -1 while not known; the readers add to sectors and
      // divide counts, and nothing of ours writes anything lower.
      if (evidence[i] < -1) ThrowStateError(RS_ERROR_BAD_DATA);
    }

    m_extraValue = static_cast<int64_t>(in.u64(kExtraValueOffset));
    m_sectorsPerFileRecord = sectorsPerRecord;
    m_foundByFlags = in.u32(kFoundByFlagsOffset);
    m_useMft = useMft;
    m_filesOfMftOnly = filesOfMftOnly;
    m_totalClusters = evidence[0];
    m_logFileMatch = evidence[1];
    m_attrDefMatch = evidence[2];
    m_upCaseMatch = evidence[3];
    m_mftSector = evidence[4];
    m_logFileSector = evidence[5];
    m_attrDefSector = evidence[6];
    m_upCaseSector = evidence[7];
    m_sectorsFromSystemFiles = evidence[8];
  } catch (...) {
    static_cast<CSearchedPartitionInfo&>(*this) = before;
    throw;
  }
  return true;
}

bool RegisterSearchedNTFSPartitionInfo() {
  return RegisterSearchedPartitionInfoFactory(kPartitionInfoNtfs, &CreateNtfsInfo);
}
