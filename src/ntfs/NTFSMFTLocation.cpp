#include "ntfs/NTFSMFTLocation.h"

#include <algorithm>

#include "core/RSData.h"
#include "core/StateIo.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordView.h"
#include "storage/ByteReader.h"

using namespace corvale;

namespace {

constexpr size_t kFixedSavedSize = 8 + 1 + 1;
// Set in the saved sectors-per-record byte when the initialized size follows.
constexpr uint8_t kHasInitializedSize = 0x80;

bool IsClusterSizeInSectors(uint8_t count) {
  return count != 0 && count <= 128 && (count & (count - 1)) == 0;
}

bool IsSectorsPerRecord(uint8_t count) { return count == 1 || count == 2 || count == 4 || count == 8; }

}  // namespace

bool CNTFSMFTLocation::ReadFromRecord(const CNTFSFileRecordView& view, int64_t sector, uint32_t sectorSize) {
  if (!view.IsValid() || !view.GetParseResult().IsValid()) return false;
  uint32_t sectorsPerCluster = 0;
  if (!InferSectorsPerCluster(view.GetBuffer(), view.GetLength(), sectorSize, sectorsPerCluster) ||
      sectorsPerCluster == 0)
    return false;
  CNTFSRunList runs;
  if (!GetDataRunListOfRecord(view.GetBuffer(), view.GetLength(), runs, false, nullptr) || runs.IsEmpty())
    return false;
  m_runs = std::move(runs);
  m_sectorsPerCluster = static_cast<uint8_t>(sectorsPerCluster);
  m_sector = sector;
  m_initializedSize = GetMftInitializedSize(view);
  return true;
}

bool CNTFSMFTLocation::IsPastInitializedSize(int64_t number, uint32_t recordBytes) const {
  if (m_initializedSize < 0 || number < 0 || recordBytes == 0) return false;
  return number >= m_initializedSize / recordBytes + (m_initializedSize % recordBytes != 0 ? 1 : 0);
}

int64_t GetMftInitializedSize(const CNTFSFileRecordView& view) {
  if (!view.IsValid()) return -1;
  for (int n = 0; n < 16; ++n) {
    const CNTFSFileRecordAttribute data = view.FindAttribute(corvale::ntfs::attr::kData, n);
    if (!data) break;
    if (!data.IsNonResident() || data.IsNamed() || data.GetLowestVcn() != 0) continue;
    const int64_t initialized = data.GetInitializedSize();
    const int64_t size = data.GetDataSize();
    if (initialized < 0 || size < 0) return -1;
    return std::min(initialized, size);
  }
  return -1;
}

bool CNTFSMFTLocation::ReadFromRecord(const uint8_t* buffer, size_t length, int64_t sector,
                                      uint32_t sectorSize) {
  if (buffer == nullptr) return false;
  const CNTFSFileRecordView view(buffer, length);
  return ReadFromRecord(view, sector, sectorSize);
}

void CNTFSMFTLocation::Save(IRSData& writer) const {
  StateRecordWriter record(writer);
  const bool known = m_initializedSize >= 0;
  record.U64(static_cast<uint64_t>(m_sector))
      .U8(static_cast<uint8_t>(m_sectorsPerRecord | (known ? kHasInitializedSize : 0)))
      .U8(m_sectorsPerCluster);
  if (known) record.U64(static_cast<uint64_t>(m_initializedSize));
  record.Flush();
  m_runs.Save(writer);
}

void CNTFSMFTLocation::Load(IRSData& reader) {
  uint8_t bytes[kFixedSavedSize];
  ReadExact(reader, bytes, sizeof(bytes));
  const ByteReader in(bytes, sizeof(bytes));
  const int64_t sector = static_cast<int64_t>(in.u64(0));
  const uint8_t sectorsPerRecord = in.u8(8) & ~kHasInitializedSize;
  const uint8_t sectorsPerCluster = in.u8(9);
  // Locations saved before the initialized size was kept leave the flag clear: the size is unknown.
  int64_t initializedSize = -1;
  if (in.u8(8) & kHasInitializedSize) {
    initializedSize = static_cast<int64_t>(ReadU64(reader));
    if (initializedSize < 0) ThrowStateError(RS_ERROR_BAD_DATA);
  }
  // A location whose record sector or cluster size was never learnt keeps -1 and 0; anything else
  // outside the geometry of a volume was not written by us.
  if (sector < -1 || !IsSectorsPerRecord(sectorsPerRecord) ||
      (sectorsPerCluster != 0 && !IsClusterSizeInSectors(sectorsPerCluster)))
    ThrowStateError(RS_ERROR_BAD_DATA);
  CNTFSRunList runs;
  if (!runs.Load(reader)) ThrowStateError(RS_ERROR_SHORT_READ);
  if (!IsSoundNTFSRunList(runs)) ThrowStateError(RS_ERROR_BAD_DATA);
  m_sector = sector;
  m_sectorsPerRecord = sectorsPerRecord;
  m_sectorsPerCluster = sectorsPerCluster;
  m_initializedSize = initializedSize;
  m_runs = std::move(runs);
}

std::unique_ptr<CNTFSMFTLocation> CreateNTFSMFTLocation(const CNTFSFileRecordView& view, int64_t sector,
                                                        uint32_t sectorSize) {
  auto location = std::make_unique<CNTFSMFTLocation>();
  // An MFT whose first cluster is a hole or missing cannot be placed: its record 0 is nowhere.
  if (!location->ReadFromRecord(view, sector, sectorSize) || location->GetFirstLcn() == -1) return nullptr;
  return location;
}

bool IsSoundNTFSRunList(const CNTFSRunList& runs) {
  for (const NTFSRun& run : runs.Runs()) {
    int64_t end;
    if (run.vcn < 0 || run.length < 0 || run.lcn < -1 || __builtin_add_overflow(run.vcn, run.length, &end))
      return false;
    if (run.lcn >= 0 && __builtin_add_overflow(run.lcn, run.length, &end)) return false;
  }
  return true;
}

void SaveNTFSMFTLocations(IRSData& writer, const std::vector<std::unique_ptr<CNTFSMFTLocation>>& locations) {
  WriteU64(writer, locations.size());
  for (const auto& location : locations) location->Save(writer);
}

void LoadNTFSMFTLocations(IRSData& reader, std::vector<std::unique_ptr<CNTFSMFTLocation>>& out) {
  const uint64_t count = ReadU64(reader);
  std::vector<std::unique_ptr<CNTFSMFTLocation>> loaded;
  for (uint64_t i = 0; i < count; ++i) {
    auto location = std::make_unique<CNTFSMFTLocation>();
    location->Load(reader);
    loaded.push_back(std::move(location));
  }
  for (auto& location : loaded) out.push_back(std::move(location));
}
