#include "core/SearchedPartitionInfo.h"

#include <array>
#include <atomic>
#include <bit>
#include <cmath>

#include "core/StateIo.h"
#include "storage/ByteReader.h"

using namespace corvale;

namespace {

// Offsets in the saved form.
constexpr size_t kTypeOffset = 0;
constexpr size_t kSectorsPerClusterOffset = 4;
constexpr size_t kStartSectorOffset = 5;
constexpr size_t kPartitionStartOffset = 13;
constexpr size_t kFilesMatchOffset = 21;
constexpr size_t kFoldersMatchOffset = 29;
constexpr size_t kWholeDeviceMarkOffset = 37;
constexpr size_t kSectorCountOffset = 41;
constexpr size_t kScoreOffset = 49;
constexpr size_t kWeightOffset = 57;
constexpr size_t kChosenMarkOffset = 65;
constexpr size_t kSectorSizeOffset = 69;
static_assert(kSectorSizeOffset + 4 == CSearchedPartitionInfo::kSavedSize);

bool IsFileSystemTypeCode(int32_t code) {
  return code >= 0 && code <= CSearchedPartitionInfo::kFileSystemNotRecognised;
}

CSearchedPartitionInfo* CreateBaseInfo() {
  return new CSearchedPartitionInfo(CSearchedPartitionInfo::kDefaultSectorSize);
}

// Indexed by kind. Engines register while the program starts and restores may run on any worker
// later, hence atomics rather than a lock.
std::array<std::atomic<SearchedPartitionInfoFactory>, 4>& Factories() {
  static std::array<std::atomic<SearchedPartitionInfoFactory>, 4> factories{nullptr, nullptr, nullptr,
                                                                            &CreateBaseInfo};
  return factories;
}

}  // namespace

CSearchedPartitionInfo::CSearchedPartitionInfo(uint32_t sectorSize)
    : m_sectorSize(NormaliseSectorSize(sectorSize)) {}

uint32_t CSearchedPartitionInfo::NormaliseSectorSize(uint32_t sectorSize) {
  if (sectorSize == 0 || sectorSize % kDefaultSectorSize != 0 || sectorSize > kMaxSectorSize)
    return kDefaultSectorSize;
  return sectorSize;
}

bool CSearchedPartitionInfo::Save(IRSData& writer) const {
  StateRecordWriter record(writer);
  record.I32(m_fileSystemType)
      .U8(m_sectorsPerCluster)
      .U64(static_cast<uint64_t>(m_startSector))
      .U64(static_cast<uint64_t>(m_partitionStart))
      .U64(static_cast<uint64_t>(m_filesMatch))
      .U64(static_cast<uint64_t>(m_foldersMatch))
      .I32(m_wholeDeviceMark)
      .U64(static_cast<uint64_t>(m_sectorCount))
      .U64(static_cast<uint64_t>(m_score))
      .U64(std::bit_cast<uint64_t>(m_weight))
      .I32(m_chosenMark)
      .U32(m_sectorSize);
  record.Flush();
  return true;
}

bool CSearchedPartitionInfo::Load(IRSData& reader) {
  uint8_t bytes[kSavedSize];
  ReadExact(reader, bytes, sizeof(bytes));
  const ByteReader in(bytes, sizeof(bytes));
  const int32_t type = static_cast<int32_t>(in.u32(kTypeOffset));
  const double weight = std::bit_cast<double>(in.u64(kWeightOffset));
  // Every other field is kept as it comes; these two would mislead whatever reads them next: a
  // type with no name and no engine, or a weight that breaks the ordering of the candidates.
  if (!IsFileSystemTypeCode(type) || !std::isfinite(weight)) ThrowStateError(RS_ERROR_BAD_DATA);
  m_fileSystemType = type;
  m_sectorsPerCluster = in.u8(kSectorsPerClusterOffset);
  m_startSector = static_cast<int64_t>(in.u64(kStartSectorOffset));
  m_partitionStart = static_cast<int64_t>(in.u64(kPartitionStartOffset));
  m_filesMatch = static_cast<int64_t>(in.u64(kFilesMatchOffset));
  m_foldersMatch = static_cast<int64_t>(in.u64(kFoldersMatchOffset));
  m_wholeDeviceMark = static_cast<int32_t>(in.u32(kWholeDeviceMarkOffset));
  m_sectorCount = static_cast<int64_t>(in.u64(kSectorCountOffset));
  m_score = static_cast<int64_t>(in.u64(kScoreOffset));
  m_weight = weight;
  m_chosenMark = static_cast<int32_t>(in.u32(kChosenMarkOffset));
  // The same rule as for a new object: later reads size their buffers by this value.
  m_sectorSize = NormaliseSectorSize(in.u32(kSectorSizeOffset));
  return true;
}

bool RegisterSearchedPartitionInfoFactory(int32_t type, SearchedPartitionInfoFactory factory) {
  if (type < kPartitionInfoNtfs || type > kPartitionInfoExt2) return false;
  Factories()[type].store(factory);
  return true;
}

std::unique_ptr<CSearchedPartitionInfo> CreateSearchedPartitionInfo(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(Factories().size())) return nullptr;
  const SearchedPartitionInfoFactory factory = Factories()[type].load();
  return std::unique_ptr<CSearchedPartitionInfo>(factory != nullptr ? factory() : nullptr);
}

void SaveSearchedPartitionInfoRecord(IRSData& writer, const CSearchedPartitionInfo& info) {
  WriteI32(writer, info.GetInfoType());
  info.Save(writer);
}

std::unique_ptr<CSearchedPartitionInfo> LoadSearchedPartitionInfoRecord(IRSData& reader) {
  const int32_t type = ReadI32(reader);
  std::unique_ptr<CSearchedPartitionInfo> info = CreateSearchedPartitionInfo(type);
  if (!info) ThrowStateError(RS_ERROR_BAD_DATA);
  info->Load(reader);
  return info;
}
