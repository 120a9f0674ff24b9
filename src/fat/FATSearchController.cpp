#include "fat/FATSearchController.h"

#include <algorithm>
#include <cstring>

#include "core/RSData.h"
#include "core/RawFilesFolder.h"
#include "core/StateIo.h"
#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FATDirSectorAnalyzer.h"
#include "fat/FATDirectoryBuilder.h"
#include "fat/FATTable.h"
#include "platform/Log.h"
#include "platform/RecoveryContext.h"
#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

using namespace corvale;
using corvale::fat::dirent::kSize;

namespace {

constexpr uint64_t kFat12MinClusters = 1;
constexpr uint64_t kFat16MinClusters = 4085;
constexpr uint64_t kFat32MinClusters = 0xFFF4;
constexpr uint64_t kFat32EndClusters = 0x0FFFFFF4;
constexpr size_t kRecordBytes = 16;

// Whether `clusters` can be numbered by a FAT of `type`.
bool ClusterCountFits(int32_t type, uint64_t clusters) {
  switch (type) {
    case kFatType12:
      return clusters >= kFat12MinClusters && clusters < kFat16MinClusters;
    case kFatType16:
      return clusters >= kFat16MinClusters && clusters < kFat32MinClusters;
    case kFatType32:
      return clusters >= kFat32MinClusters && clusters < kFat32EndClusters;
    default:
      return false;
  }
}

// Bytes per 2 FAT entries: a FAT of C clusters needs at least k x C / 2 bytes.
uint64_t EntryHalfBytes(int32_t type) { return type == kFatType12 ? 3 : type == kFatType16 ? 4 : 8; }

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

}  // namespace

CFATSearchController::CFATSearchController() = default;
CFATSearchController::~CFATSearchController() = default;

void CFATSearchController::SetStorageDevice(IStorageDevice* device) {
  m_device = device;
  m_deviceSectors = device ? std::max<int64_t>(device->GetSectorCount(), 0) : 0;
  const int32_t size = device ? device->GetSectorSize() : 0;
  m_sectorSize = size >= 512 && size <= 4096 && size % 512 == 0 ? static_cast<uint32_t>(size) : 512;
}

void CFATSearchController::BeginSearch() {
  m_buffer.assign(static_cast<size_t>(std::max(m_sectorsPerRead, 1)) * m_sectorSize, 0);
}

void CFATSearchController::EndSearch() { std::vector<uint8_t>().swap(m_buffer); }

const CFATSearchedPartitionInfo* CFATSearchController::FindCandidate(int64_t dataStart,
                                                                     uint32_t sectorsPerCluster) const {
  auto it = m_candidates.find({dataStart, sectorsPerCluster});
  return it == m_candidates.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------------------------------------
// The block

int32_t CFATSearchController::AnalyzeBlock(int64_t firstSector, int64_t sectorCount,
                                           IntelligentSearchSummary* summary) {
  if (!m_device || firstSector < 0 || sectorCount <= 0) return 1;
  const size_t bytes = static_cast<size_t>(sectorCount) * m_sectorSize;
  if (m_buffer.size() < bytes) m_buffer.assign(bytes, 0);
  IntelligentSearchSummary local;
  IntelligentSearchSummary* counters = summary ? summary : &local;
  if (m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(firstSector),
                            static_cast<uint64_t>(sectorCount))) {
    for (int64_t k = 0; k < sectorCount; ++k)
      AnalyzeSector(m_buffer.data() + static_cast<size_t>(k) * m_sectorSize, firstSector + k, counters);
    return 1;
  }
  // The block as a whole could not be read: each sector that can be read is still looked at.
  for (int64_t k = 0; k < sectorCount; ++k) {
    if (m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(firstSector + k), 1))
      AnalyzeSector(m_buffer.data(), firstSector + k, counters);
  }
  return 1;
}

void CFATSearchController::AnalyzeSector(const uint8_t* sector, int64_t at,
                                         IntelligentSearchSummary* summary) {
  if (sector[0] == 0) return;
  if (sector[510] == 0x55 && sector[511] == 0xAA && HandleBootSector(sector, at)) {
    LogInfo("Found a valid DBR at sector:%lld", static_cast<long long>(at));
    ++summary->FATBootRecords;
    return;
  }
  if (IsFATTableStartSector(sector, m_sectorSize)) {
    MarkFatCopy(at);
    return;
  }
  CFATDirSectorAnalyzer analyzer(m_sectorSize);
  if (!analyzer.Analyze(sector, m_sectorSize)) return;
  if (analyzer.GetKind() == CFATDirSectorAnalyzer::kFirstDirectorySector) {
    LogInfo("Found a valid first dir entry at sector:%lld", static_cast<long long>(at));
    HandleFolder(at, analyzer.GetDotCluster());
    ++summary->FATFolders;
    m_directorySectors.Add(
        {static_cast<uint64_t>(at), analyzer.GetDotCluster(), analyzer.GetDotDotCluster()});
  } else {
    ++summary->FATFolderParts;
    m_directorySectors.Add(
        {static_cast<uint64_t>(at), FATDirSectorRecord::kNoCluster, FATDirSectorRecord::kNoCluster});
    LogInfo("Found a valid part dir entry at sector:%lld", static_cast<long long>(at));
  }
  summary->TotalFilesFound += analyzer.GetEntryCount();
  AddNamedFiles(sector, at);
}

void CFATSearchController::AddNamedFiles(const uint8_t* sector, int64_t at) {
  for (size_t offset = 0; offset + kSize <= m_sectorSize; offset += kSize) {
    const CFATDirEntry entry(sector, m_sectorSize, offset);
    if (!entry.IsValid(false)) break;
    if (entry.IsLongNamePiece() || entry.IsDirectory() || entry.IsVolumeLabel()) continue;
    const std::string name = entry.GetShortName(true);
    const uint8_t length = static_cast<uint8_t>(std::min<size_t>(name.size(), 255));
    m_extents.AddFromAnsiName(name.c_str(), length, static_cast<int64_t>(entry.GetFirstCluster()) - 2, at);
  }
}

// ---------------------------------------------------------------------------------------------
// Candidates

bool CFATSearchController::HandleBootSector(const uint8_t* sector, int64_t at) {
  if (!GetRecoveryContext().UseBootRecords) return false;
  const CFATDBR dbr(sector, m_sectorSize, m_sectorSize);
  if (!dbr.IsValid()) return false;
  bool accepted = false;
  if (auto primary = FromBootSector(dbr, at, false)) {
    InsertBootCandidate(std::move(primary));
    accepted = true;
  }
  // A FAT32 volume keeps a copy of its boot sector 6 sectors in; read as that copy, this sector
  // places a volume 6 sectors earlier.
  if (dbr.GetFATType() == kFatType32 && at >= 6) {
    if (auto backup = FromBootSector(dbr, at - 6, true)) {
      auto existing = m_candidates.find({backup->GetStartSector(), backup->GetSectorsPerCluster()});
      if (existing != m_candidates.end()) {
        existing->second->AddEvidenceFlags(kFatFromFat32BackupBootSector);
      } else {
        InsertBootCandidate(std::move(backup));
      }
      accepted = true;
    }
  }
  return accepted;
}

std::unique_ptr<CFATSearchedPartitionInfo> CFATSearchController::FromBootSector(const CFATDBR& dbr,
                                                                                int64_t at,
                                                                                bool backup) const {
  const int32_t type = dbr.GetFATType();
  const uint64_t spc = dbr.GetSectorsPerCluster();
  if (at < 0 || at >= m_deviceSectors || spc == 0) return nullptr;
  const uint64_t start = static_cast<uint64_t>(at);
  // The volume as formatted: a copy cut short keeps the geometry its boot sector states, and its
  // files past the cut are there to be found and reported as unreadable, not a reason to drop
  // the boot sector for a guess from the folders.
  const uint64_t declared = dbr.GetTotalSectors();
  uint64_t total = declared;
  if (total > static_cast<uint64_t>(m_deviceSectors) - start)
    total = static_cast<uint64_t>(m_deviceSectors) - start;
  const uint64_t reserved = dbr.GetReservedSectors();
  const uint64_t perFat = dbr.GetSectorsPerFAT();
  uint64_t dataStart = start + reserved + static_cast<uint64_t>(dbr.GetNumberOfFATs()) * perFat;
  uint32_t root = 0;
  uint32_t flag = 0;
  if (type == kFatType32) {
    root = dbr.GetRootFirstCluster();
    flag = backup ? kFatFromFat32BackupBootSector : kFatFromFat32BootSector;
  } else {
    root = static_cast<uint32_t>(static_cast<uint64_t>(dbr.GetRootEntries()) * 32 / m_sectorSize);
    dataStart += root;
    flag = backup ? 0U : (type == kFatType12 ? kFatFromFat12BootSector : kFatFromFat16BootSector);
  }
  if (start + total <= dataStart) return nullptr;
  const uint64_t clusters = (start + declared - dataStart) / spc;
  if (!ClusterCountFits(type, clusters)) return nullptr;
  if (perFat < CeilDiv(EntryHalfBytes(type) * clusters, 2ULL * m_sectorSize)) return nullptr;
  if (type == kFatType32 && clusters < root) return nullptr;

  auto candidate = std::make_unique<CFATSearchedPartitionInfo>(m_sectorSize);
  candidate->SetFileSystemType(type);
  candidate->SetSectorsPerCluster(static_cast<uint8_t>(spc));
  candidate->SetStartSector(static_cast<int64_t>(dataStart));
  candidate->SetPartitionStart(static_cast<int64_t>(start));
  candidate->SetSectorCount(static_cast<int64_t>(total));
  candidate->SetSectorsPerFAT(static_cast<uint32_t>(perFat));
  candidate->SetClusterCount(static_cast<uint32_t>(clusters));
  candidate->SetReservedSectors(static_cast<uint16_t>(reserved));
  candidate->SetRoot(root);
  candidate->SetEvidenceFlags(flag);
  return candidate;
}

void CFATSearchController::InsertBootCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate) {
  const CandidateKey key{candidate->GetStartSector(), candidate->GetSectorsPerCluster()};
  CFATSearchedPartitionInfo* kept = nullptr;
  auto existing = m_candidates.find(key);
  if (existing != m_candidates.end()) {
    // The same volume seen again (or a folder guess a boot sector now confirms): one candidate
    // holds all the evidence, and the FAT copies it expects are the boot sector's.
    kept = existing->second.get();
    const bool hadBootSector = (kept->GetEvidenceFlags() & kFatBootSectorEvidence) != 0;
    kept->AddEvidenceFlags(candidate->GetEvidenceFlags());
    if (!hadBootSector) {
      // A guess from folders: the boot sector knows the geometry.
      kept->SetFileSystemType(candidate->GetFileSystemType());
      kept->SetPartitionStart(candidate->GetPartitionStart());
      kept->SetSectorCount(candidate->GetSectorCount());
      kept->SetSectorsPerFAT(candidate->GetSectorsPerFAT());
      kept->SetClusterCount(candidate->GetClusterCount());
      kept->SetReservedSectors(candidate->GetReservedSectors());
      kept->SetRoot(candidate->GetRoot());
    }
  } else {
    kept = candidate.get();
    m_candidates.emplace(key, std::move(candidate));
  }
  const int64_t first = kept->GetPartitionStart() + kept->GetReservedSectors();
  for (int64_t at : {first, first + static_cast<int64_t>(kept->GetSectorsPerFAT())}) {
    auto range = m_fatStarts.equal_range(at);
    const bool listed =
        std::any_of(range.first, range.second, [kept](const auto& e) { return e.second == kept; });
    if (!listed) m_fatStarts.emplace(at, kept);
  }
}

std::unique_ptr<CFATSearchedPartitionInfo> CFATSearchController::FromFolder(
    int64_t dataStart, uint32_t sectorsPerCluster) const {
  if (dataStart < 0 || dataStart >= m_deviceSectors) return nullptr;
  const uint64_t s = sectorsPerCluster;
  const uint64_t d = static_cast<uint64_t>(dataStart);
  uint64_t clusters = (static_cast<uint64_t>(m_deviceSectors) - d) / s;
  int32_t type = kFatTypeNone;
  if (ClusterCountFits(kFatType32, clusters)) {
    type = kFatType32;
  } else if (ClusterCountFits(kFatType16, clusters)) {
    type = kFatType16;
  } else {
    return nullptr;
  }
  const uint64_t k = EntryHalfBytes(type);
  uint64_t perFat = CeilDiv(k * clusters, 2ULL * m_sectorSize);
  if (d / 2 < perFat) {
    // Two FATs that large would not fit before the data area: as many clusters as FATs of the room
    // there can number.
    clusters = 2ULL * m_sectorSize * (d / 2) / k;
    if (!ClusterCountFits(type, clusters)) return nullptr;
    perFat = CeilDiv(k * clusters, 2ULL * m_sectorSize);
  }
  const uint64_t reserved = 1;
  if (d < 2 * perFat + 1) return nullptr;
  const uint64_t l = d - 2 * perFat - 1;
  uint64_t rootSectors = 0;
  uint64_t start = l;
  uint32_t root = 2;
  if (type == kFatType16) {
    rootSectors = std::min<uint64_t>(l, 16384 / m_sectorSize);
    start = l - rootSectors;
    root = static_cast<uint32_t>(rootSectors);
  }
  auto candidate = std::make_unique<CFATSearchedPartitionInfo>(m_sectorSize);
  candidate->SetFileSystemType(type);
  candidate->SetSectorsPerCluster(static_cast<uint8_t>(s));
  candidate->SetStartSector(dataStart);
  candidate->SetPartitionStart(static_cast<int64_t>(start));
  candidate->SetSectorCount(static_cast<int64_t>(s * clusters + rootSectors + reserved + 2 * perFat));
  candidate->SetSectorsPerFAT(static_cast<uint32_t>(perFat));
  candidate->SetClusterCount(static_cast<uint32_t>(clusters));
  candidate->SetReservedSectors(static_cast<uint16_t>(reserved));
  candidate->SetRoot(root);
  candidate->SetEvidenceFlags(kFatFromFolders);
  return candidate;
}

void CFATSearchController::HandleFolder(int64_t sector, uint32_t dotCluster) {
  // A "." below cluster 2 names no data cluster and places nothing.
  if (dotCluster < 2) return;
  const int64_t offset = static_cast<int64_t>(dotCluster) - 2;
  static constexpr uint32_t kClusterSizes[] = {1, 2, 4, 8, 16, 32, 64, 128};
  for (uint32_t s : kClusterSizes) {
    const int64_t dataStart = sector - static_cast<int64_t>(s) * offset;
    if (dataStart < 0) continue;
    auto it = m_candidates.find({dataStart, s});
    if (it != m_candidates.end()) {
      it->second->AddEvidenceFlags(kFatFromFolders);
      it->second->SetFoldersMatch(it->second->GetFoldersMatch() + 1);
      return;
    }
  }
  for (uint32_t s : kClusterSizes) {
    if (m_candidates.size() >= kMaxCandidates) return;
    const int64_t dataStart = sector - static_cast<int64_t>(s) * offset;
    if (dataStart < 0) continue;
    if (auto candidate = FromFolder(dataStart, s))
      m_candidates.emplace(CandidateKey{dataStart, s}, std::move(candidate));
  }
}

void CFATSearchController::MarkFatCopy(int64_t sector) {
  auto range = m_fatStarts.equal_range(sector);
  if (range.first == range.second) return;
  const CRecoveryContext& context = GetRecoveryContext();
  for (auto it = range.first; it != range.second; ++it) {
    CFATSearchedPartitionInfo* candidate = it->second;
    const int64_t first = candidate->GetPartitionStart() + candidate->GetReservedSectors();
    if (sector == first) {
      candidate->AddEvidenceFlags(kFatFoundFirstCopy | (context.UseFirstFatCopy ? kFatUseFirstCopy : 0U));
    } else if (sector == first + static_cast<int64_t>(candidate->GetSectorsPerFAT())) {
      candidate->AddEvidenceFlags(kFatFoundSecondCopy | (context.UseSecondFatCopy ? kFatUseSecondCopy : 0U));
    }
  }
  m_fatStarts.erase(range.first, range.second);
}

// ---------------------------------------------------------------------------------------------
// Results

void CFATSearchController::GetResults(SearchedPartitionInfoList* list) {
  const ISignatureResults* signatures = GetSignatureResults(m_sink);
  for (auto& [key, candidate] : m_candidates) {
    const uint32_t flags = candidate->GetEvidenceFlags();
    const bool fromBoot = (flags & kFatBootSectorEvidence) != 0;
    const bool fatFound = (flags & (kFatFoundFirstCopy | kFatFoundSecondCopy)) != 0;
    if (candidate->GetFoldersMatch() == 0 && (!fromBoot || !fatFound)) continue;

    const bool first = (flags & kFatFoundFirstCopy) != 0;
    const bool second = (flags & kFatFoundSecondCopy) != 0;
    const int64_t fatPart = first && second ? 50 : (first || second) ? 45 : 10;
    int64_t bootPart = 10;
    if (candidate->GetFileSystemType() == kFatType32) {
      const bool primary = (flags & kFatFromFat32BootSector) != 0;
      const bool backup = (flags & kFatFromFat32BackupBootSector) != 0;
      bootPart = primary && backup ? 50 : (primary || backup) ? 45 : 10;
    } else if ((flags & (kFatFromFat12BootSector | kFatFromFat16BootSector)) != 0) {
      bootPart = 50;
    }
    candidate->SetScore(fatPart + bootPart);
    if (signatures != nullptr) m_extents.CountSignatureMatches(*signatures, *candidate);
    if (list != nullptr) list->push_back(std::move(candidate));
  }
  m_extents.Clear();
  m_fatStarts.clear();
  m_candidates.clear();
}

// ---------------------------------------------------------------------------------------------
// State and the directory build

void CFATSearchController::SaveState(IRSData& writer) {
  const auto& records = m_directorySectors.Records();
  WriteU32(writer, static_cast<uint32_t>(records.size()));
  StateRecordWriter record(writer);
  for (const FATDirSectorRecord& r : records) record.U64(r.sector).U32(r.dotCluster).U32(r.dotDotCluster);
  record.Flush();
}

void CFATSearchController::LoadState(IRSData& reader) {
  const uint32_t count = ReadU32(reader);
  // The count comes from a file: the records grow as their bytes arrive, never by the count.
  std::vector<FATDirSectorRecord> records;
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t bytes[kRecordBytes];
    ReadExact(reader, bytes, sizeof(bytes));
    const ByteReader in(bytes, sizeof(bytes));
    records.push_back({in.u64(0), in.u32(8), in.u32(12)});
  }
  m_directorySectors.Assign(std::move(records));
}

CFileSystemNode* CFATSearchController::BuildPartitionDirectory(CSearchedPartitionInfo* partition,
                                                               IStorageDevice* device, int32_t index,
                                                               IDIRBuildCallback* callback) {
  // The device to read is the one handed in: the search's own was freed when the search ended.
  if (partition == nullptr || device == nullptr || partition->GetInfoType() != kPartitionInfoFat)
    return nullptr;
  const auto* fat = dynamic_cast<const CFATSearchedPartitionInfo*>(partition);
  if (fat == nullptr) return nullptr;
  CFATDirectoryBuilder builder;
  return builder.BuildComplete(callback, m_directorySectors, *fat, m_sink, device, index);
}
