#include "ntfs/NTFSSearchController.h"

#include <algorithm>
#include <cstring>

#include "core/RSData.h"
#include "core/RawFilesFolder.h"
#include "core/StateIo.h"
#include "core/TimingScope.h"
#include "ntfs/AttributeDefinitions.h"
#include "ntfs/FileRecordAttribute.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/FileRecordView.h"
#include "ntfs/IndexBuffer.h"
#include "ntfs/LogRecord.h"
#include "ntfs/NTFSDBR.h"
#include "ntfs/NTFSDirectoryBuilder.h"
#include "ntfs/UpCaseTable.h"
#include "platform/RecoveryContext.h"
#include "storage/ByteReader.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

namespace {

constexpr size_t kFileRecordBytes = 1024;
constexpr size_t kIndexBufferBytes = 4096;
constexpr int64_t kMftGroupSectors = 16;
constexpr size_t kLogPageBytes = 4096;
constexpr size_t kContentBytes = 512;  // the system-file contents are compared 512 bytes at a time
constexpr size_t kAttrDefContentSectors = 5;

bool HasMagic(const uint8_t* p, const char* magic) { return std::memcmp(p, magic, 4) == 0; }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

CNTFSSearchController::CNTFSSearchController()
    : m_upCaseTable(GetNTFSUpCaseTableBytes()), m_attrDefTable(BuildAttributeDefinitionTable()) {
  m_attrDefTable.resize(kAttrDefContentSectors * kContentBytes, 0);
  for (size_t i = 0; i < kAttrDefContentSectors; ++i)
    std::memcpy(&m_attrDefHeads[i], m_attrDefTable.data() + i * kContentBytes, sizeof(uint64_t));
  for (size_t block = 0; block < kNTFSUpCaseUnits / 256; ++block) {
    const uint16_t first = U16(m_upCaseTable + block * kContentBytes);
    if ((first >> 8) != block) m_upCaseMovedBlocks.emplace_back(first, block);
  }
  std::memset(m_carry, 0, sizeof(m_carry));
  std::memset(m_pageCarry, 0, sizeof(m_pageCarry));
}
CNTFSSearchController::~CNTFSSearchController() = default;

void CNTFSSearchController::SetStorageDevice(IStorageDevice* device) {
  m_device = device;
  m_deviceSectors = device ? device->GetSectorCount() : 0;
  const int32_t size = device ? device->GetSectorSize() : 0;
  m_sectorSize = size >= 512 && size <= 4096 ? static_cast<uint32_t>(size) : 512;
}

void CNTFSSearchController::SetSectorsPerRead(int32_t sectors) { m_sectorsPerRead = sectors; }

void CNTFSSearchController::BeginSearch() {
  m_buffer.assign(static_cast<size_t>(std::max(m_sectorsPerRead, 1)) * m_sectorSize, 0);
  // Nothing carried over from an earlier (perhaps cancelled) pass may complete a record of this one.
  m_carrySector = -1;
  m_carryHave = 0;
  m_pageCarrySector = -1;
  m_pageCarryHave = 0;
  m_nextLogPageSector = 0;
  m_groupOpen = false;
}

int64_t CNTFSSearchController::ScoreCandidate(const CSearchedNTFSPartitionInfo& candidate) {
  const uint32_t flags = candidate.GetFoundByFlags();
  int64_t score = 0;
  for (uint32_t flag : {kFoundByFirstBootRecord, kFoundByLastBootRecord, kFoundBySingleMft, kFoundByMftMirr,
                        kFoundByFirstRstr, kFoundBySecondRstr})
    if (flags & flag) score += 10;
  if (flags & kFoundByMftFilesPair) score += 30;
  auto part = [](int64_t match, int64_t unit) { return match >= unit ? int64_t{10} : int64_t{0}; };
  score += part(candidate.GetUpCaseMatch(), 256);
  score += part(candidate.GetLogFileMatch(), 10000);
  score += part(candidate.GetAttrDefMatch(), 5);
  return score;
}

void CNTFSSearchController::EndSearch() {
  CTimingScope timing("EndSearch");
  if (m_groupOpen) CloseMftGroup();
  const auto& context = GetRecoveryContext();
  const ISignatureResults* signatures = GetSignatureResults(m_sink);
  const size_t initial = m_candidates.size();
  size_t index = 0;
  for (auto it = m_candidates.begin(); it != m_candidates.end(); ++index) {
    CSearchedNTFSPartitionInfo& candidate = *it->second;
    const auto logFile = m_logFile.Examine(candidate);
    candidate.SetLogFileSector(logFile.sector);
    candidate.SetLogFileMatch(logFile.match);
    const auto attrDef = m_attrDef.Examine(candidate);
    candidate.SetAttrDefSector(attrDef.sector);
    candidate.SetAttrDefMatch(attrDef.match);
    const auto upCase = m_upCase.Examine(candidate);
    candidate.SetUpCaseSector(upCase.sector);
    candidate.SetUpCaseMatch(upCase.match);
    if (candidate.GetMftSector() != -1) {
      candidate.SetUseMft(context.UseMftFile != 0);
      candidate.SetFilesOfMftOnly(context.ShowMftFilesOnly != 0);
    }
    const int64_t score = ScoreCandidate(candidate);
    candidate.SetScore(score);
    if (initial <= kKeptUnscored || index < kKeptUnscored || score > 10) {
      candidate.SetPartitionStart(candidate.GetStartSector());
      if (signatures) m_typedExtents.CountSignatureMatches(*signatures, candidate);
      ++it;
    } else {
      m_bootMftCluster.erase(it->first);
      it = m_candidates.erase(it);
    }
  }
  // Many candidates: those that rest on a single index/folder pairing and nothing else go.
  if (m_candidates.size() > kFewCandidates) {
    for (auto it = m_candidates.begin(); it != m_candidates.end();) {
      const CSearchedNTFSPartitionInfo& candidate = *it->second;
      if (candidate.GetFoundByFlags() == kFoundByIndexFolderComparison && candidate.GetFoldersMatch() == 0 &&
          candidate.GetFilesMatch() == 0) {
        m_bootMftCluster.erase(it->first);
        it = m_candidates.erase(it);
      } else {
        ++it;
      }
    }
  }

  // The pass's working evidence goes; the MFT locations and record sectors stay for the build.
  std::vector<uint8_t>().swap(m_buffer);
  m_carrySector = -1;
  m_carryHave = 0;
  m_pageCarrySector = -1;
  m_pageCarryHave = 0;
  m_logFile.Clear();
  m_attrDef.Clear();
  m_upCase.Clear();
  std::vector<int64_t>().swap(m_restartPages);
  std::vector<int64_t>().swap(m_closedGroupSectors);
  m_indexRecords.clear();
  m_folders.Clear();
  m_typedExtents.Clear();
}

const CSearchedNTFSPartitionInfo* CNTFSSearchController::FindCandidate(int64_t start,
                                                                       uint32_t sectorsPerCluster) const {
  auto it = m_candidates.find({start, sectorsPerCluster});
  return it == m_candidates.end() ? nullptr : it->second.get();
}

void CNTFSSearchController::GetResults(SearchedPartitionInfoList* list) {
  if (!list) return;
  for (auto& [key, candidate] : m_candidates) list->push_back(std::move(candidate));
  m_candidates.clear();
  m_bootMftCluster.clear();
}

// ---------------------------------------------------------------------------------------------
// Candidates

std::unique_ptr<CSearchedNTFSPartitionInfo> CNTFSSearchController::FromBootSector(int64_t start,
                                                                                  uint64_t totalSectors,
                                                                                  uint32_t sectorsPerCluster,
                                                                                  uint32_t flag) const {
  if (start < 0 || start >= m_deviceSectors || sectorsPerCluster == 0) return nullptr;
  uint64_t count = std::min<uint64_t>(totalSectors, static_cast<uint64_t>(m_deviceSectors - start));
  if (count <= 7) return nullptr;
  const uint64_t clusters = count / sectorsPerCluster;
  count = clusters * sectorsPerCluster;
  auto candidate = std::make_unique<CSearchedNTFSPartitionInfo>(m_sectorSize);
  candidate->SetFileSystemType(kFileSystemNtfs);
  candidate->SetSectorsPerCluster(static_cast<uint8_t>(sectorsPerCluster));
  candidate->SetStartSector(start);
  candidate->SetSectorCount(static_cast<int64_t>(count));
  candidate->SetTotalClusters(static_cast<int64_t>(clusters));
  candidate->SetFoundByFlags(flag);
  return candidate;
}

std::unique_ptr<CSearchedNTFSPartitionInfo> CNTFSSearchController::FromCluster(int64_t sector,
                                                                               int64_t cluster,
                                                                               uint32_t sectorsPerCluster,
                                                                               uint32_t flag) const {
  if (sector < 8 || cluster < 0 || sectorsPerCluster == 0 || sectorsPerCluster > 128) return nullptr;
  // start = sector - cluster x c, refused when below 0 (checked before multiplying).
  if (cluster > sector / static_cast<int64_t>(sectorsPerCluster)) return nullptr;
  const int64_t start = sector - cluster * static_cast<int64_t>(sectorsPerCluster);
  if (start > sector - 8 || start >= m_deviceSectors) return nullptr;
  const int64_t clusters = (m_deviceSectors - start) / sectorsPerCluster;
  auto candidate = std::make_unique<CSearchedNTFSPartitionInfo>(m_sectorSize);
  candidate->SetFileSystemType(kFileSystemNtfs);
  candidate->SetSectorsPerCluster(static_cast<uint8_t>(sectorsPerCluster));
  candidate->SetStartSector(start);
  candidate->SetSectorCount(clusters * sectorsPerCluster);
  candidate->SetTotalClusters(clusters);
  candidate->SetFoundByFlags(flag);
  return candidate;
}

CSearchedNTFSPartitionInfo* CNTFSSearchController::Merge(
    std::unique_ptr<CSearchedNTFSPartitionInfo> candidate, uint32_t set, uint32_t clear, bool countFolder) {
  if (!candidate) return nullptr;
  const CandidateKey key{candidate->GetStartSector(), candidate->GetSectorsPerCluster()};
  auto it = m_candidates.find(key);
  if (it != m_candidates.end()) {
    CSearchedNTFSPartitionInfo* existing = it->second.get();
    existing->SetFoundByFlags((existing->GetFoundByFlags() & ~clear) | set);
    if (countFolder) existing->SetFoldersMatch(std::max<int64_t>(existing->GetFoldersMatch(), 0) + 1);
    if (existing->GetFoundByFlags() == 0) {
      m_candidates.erase(it);
      m_bootMftCluster.erase(key);
      return nullptr;
    }
    return existing;
  }
  candidate->SetFoundByFlags((candidate->GetFoundByFlags() & ~clear) | set);
  if (candidate->GetFoundByFlags() == 0) return nullptr;
  if (countFolder) candidate->SetFoldersMatch(0);
  CSearchedNTFSPartitionInfo* kept = candidate.get();
  m_candidates.emplace(key, std::move(candidate));
  return kept;
}

// ---------------------------------------------------------------------------------------------
// The block

int32_t CNTFSSearchController::AnalyzeBlock(int64_t firstSector, int64_t sectorCount,
                                            IntelligentSearchSummary* summary) {
  if (!m_device || firstSector < 0 || sectorCount <= 0) return 1;
  const size_t bytes = static_cast<size_t>(sectorCount) * m_sectorSize;
  if (m_buffer.size() < bytes) m_buffer.assign(bytes, 0);
  uint8_t* block = m_buffer.data();
  int64_t bootRecords = 0;
  int64_t fileRecords = 0;
  if (!m_device->ReadSectors(block, static_cast<uint64_t>(firstSector), static_cast<uint64_t>(sectorCount))) {
    m_carrySector = -1;
    m_carryHave = 0;
    return 1;
  }
  FinishCarry(block, firstSector, sectorCount, fileRecords);
  if (m_pageCarrySector >= 0) {
    const int64_t carried = m_pageCarrySector;
    const size_t have = m_pageCarryHave;
    m_pageCarrySector = -1;
    m_pageCarryHave = 0;
    if (carried + static_cast<int64_t>(have / m_sectorSize) == firstSector) {
      const size_t more = std::min(kLogPageBytes - have, static_cast<size_t>(sectorCount) * m_sectorSize);
      std::memcpy(m_pageCarry + have, block, more);
      AnalyzeLogRecordPage(m_pageCarry, have + more, carried);
    }
  }
  for (int64_t k = 0; k < sectorCount; ++k) {
    const int64_t windowSectors = std::min<int64_t>(kWindowSectors, sectorCount - k);
    AnalyzeSector(block + static_cast<size_t>(k) * m_sectorSize,
                  static_cast<size_t>(windowSectors) * m_sectorSize, firstSector + k, bootRecords,
                  fileRecords);
  }
  KeepCarry(block, firstSector, sectorCount);
  if (summary) {
    summary->NTFSBootRecords += bootRecords;
    summary->NTFSFileRecords += fileRecords;
    summary->TotalFilesFound += fileRecords;
  }
  return 1;
}

void CNTFSSearchController::AnalyzeSector(const uint8_t* window, size_t windowBytes, int64_t sector,
                                          int64_t& bootRecords, int64_t& fileRecords) {
  if (IsValidNTFSDBR(window, windowBytes)) {
    if (GetRecoveryContext().UseBootRecords) {
      AnalyzeNTFSDBRSector(window, sector);
      ++bootRecords;
    }
  } else if (HasMagic(window, "RSTR")) {
    if (IsRestartPage(window, windowBytes)) AnalyzeRSTRRecord(sector);
  } else if (HasMagic(window, "INDX")) {
    AnalyzeIndexBuffer(window, windowBytes, sector);
  } else if (HasMagic(window, "RCRD")) {
    if (sector >= m_nextLogPageSector) AnalyzeLogRecordPage(window, windowBytes, sector);
  } else {
    MatchSystemFileContents(window, sector);
  }
  // The MFT collector sees every sector while a group of records is open, valid record or not.
  if (HasMagic(window, "FILE")) {
    if (AnalyzeNTFSFileRecordSector(const_cast<uint8_t*>(window), windowBytes, sector)) ++fileRecords;
  } else if (m_groupOpen) {
    CollectMftRecord(nullptr, sector);
  }
}

// A record or buffer whose magic lies in the block's last sectors and that the block end cuts is
// copied aside, to be completed by the next block and tested then.
void CNTFSSearchController::KeepCarry(const uint8_t* block, int64_t firstSector, int64_t sectorCount) {
  m_carrySector = -1;
  m_carryHave = 0;
  const int64_t tailSectors = static_cast<int64_t>(kCarryBytes / m_sectorSize);
  for (int64_t k = std::max<int64_t>(0, sectorCount - tailSectors + 1); k < sectorCount; ++k) {
    const uint8_t* p = block + static_cast<size_t>(k) * m_sectorSize;
    const size_t have = static_cast<size_t>(sectorCount - k) * m_sectorSize;
    const bool file = HasMagic(p, "FILE") && have < std::max<size_t>(kFileRecordBytes, m_sectorSize);
    const bool index = HasMagic(p, "INDX") && have < kIndexBufferBytes;
    if (!file && !index) continue;
    std::memcpy(m_carry, p, have);
    m_carrySector = firstSector + k;
    m_carryHave = have;
    break;
  }
  m_pageCarrySector = -1;
  m_pageCarryHave = 0;
  const int64_t pageSectors = static_cast<int64_t>(kLogPageBytes / m_sectorSize);
  for (int64_t k = std::max<int64_t>(0, sectorCount - pageSectors + 1); k < sectorCount; ++k) {
    const uint8_t* p = block + static_cast<size_t>(k) * m_sectorSize;
    if (firstSector + k < m_nextLogPageSector || !HasMagic(p, "RCRD")) continue;
    const size_t have = static_cast<size_t>(sectorCount - k) * m_sectorSize;
    std::memcpy(m_pageCarry, p, have);
    m_pageCarrySector = firstSector + k;
    m_pageCarryHave = have;
    return;
  }
}

void CNTFSSearchController::FinishCarry(const uint8_t* block, int64_t firstSector, int64_t sectorCount,
                                        int64_t& fileRecords) {
  if (m_carrySector < 0 || m_carryHave == 0) return;
  const int64_t carried = m_carrySector;
  const size_t have = m_carryHave;
  m_carrySector = -1;
  m_carryHave = 0;
  // Only the block that directly follows can complete it.
  if (carried + static_cast<int64_t>(have / m_sectorSize) != firstSector) return;
  const size_t more = std::min(kCarryBytes - have, static_cast<size_t>(sectorCount) * m_sectorSize);
  std::memcpy(m_carry + have, block, more);
  const size_t length = have + more;
  if (HasMagic(m_carry, "INDX")) {
    AnalyzeIndexBuffer(m_carry, length, carried);
  } else if (AnalyzeNTFSFileRecordSector(m_carry, length, carried)) {
    ++fileRecords;
  }
}

// ---------------------------------------------------------------------------------------------
// Boot sectors

void CNTFSSearchController::AnalyzeNTFSDBRSector(const uint8_t* sector, int64_t at) {
  CTimingScope timing("AnalyzeNTFSDBRSector", at);
  CNTFSDBR dbr;
  if (!dbr.SetDBR(sector)) return;
  const uint64_t total = dbr.GetTotalSectors();
  const uint32_t c = dbr.GetSectorsPerCluster();
  // A count this large or empty places nothing, and would overflow the subtractions below.
  if (total == 0 || total >= (uint64_t{1} << 62) || c == 0) return;
  const int64_t t = static_cast<int64_t>(total);
  const uint64_t mftCluster = dbr.GetMFTCluster();

  // Backup reading: this sector closes a partition of t sectors that starts t sectors before it.
  if (at >= t) {
    auto backup = FromBootSector(at - t, total, c, kFoundByLastBootRecord);
    if (backup) {
      CTimingScope backupTiming("IsBackupDBR(__int64 i64CurSector, CNTFSDBR *pDBR)", at);
      const CandidateKey key{backup->GetStartSector(), c};
      auto it = m_candidates.find(key);
      bool isBackup = false;
      if (it != m_candidates.end()) {
        CSearchedNTFSPartitionInfo* existing = it->second.get();
        existing->AddFoundByFlags(kFoundByLastBootRecord);
        auto mft = m_bootMftCluster.find(key);
        const bool sameMft = mft != m_bootMftCluster.end() && mft->second == mftCluster;
        isBackup = (existing->GetSectorCount() == backup->GetSectorCount() && sameMft) ||
                   (existing->GetFoundByFlags() & kFoundByFirstBootRecord);
      }
      if (isBackup) {
        // The primary at at - t read itself as a backup too; that reading is now known false.
        if (at - t >= t) Merge(FromBootSector(at - 2 * t, total, c, 0), 0, kFoundByLastBootRecord);
      } else {
        CTimingScope adjustTiming("AdjustPartitionSizeAccordingtoDBR", at);
        if (it != m_candidates.end()) {
          if (it->second->GetSectorCount() == 0) {
            it->second->SetSectorCount(backup->GetSectorCount());
            it->second->SetTotalClusters(backup->GetTotalClusters());
          }
        } else {
          m_bootMftCluster[key] = mftCluster;
          m_candidates.emplace(key, std::move(backup));
        }
      }
    }
  }

  // Primary reading: the partition starts here.
  auto primary = FromBootSector(at, total, c, kFoundByFirstBootRecord);
  if (primary) {
    const CandidateKey key{at, c};
    auto it = m_candidates.find(key);
    if (it != m_candidates.end()) {
      it->second->AddFoundByFlags(kFoundByFirstBootRecord);
    } else {
      m_bootMftCluster[key] = mftCluster;
      m_candidates.emplace(key, std::move(primary));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// $LogFile restart pages

bool CNTFSSearchController::IsRestartPage(const uint8_t* window, size_t length) const {
  // The page test of the $LogFile reader: magic, client name and the eight stride ends.
  return IsValidRestartPage(window, length);
}

void CNTFSSearchController::AnalyzeRSTRRecord(int64_t at) {
  CTimingScope timing("AnalyzeRSTRRecord", at);
  if (m_restartPages.size() >= kMaxRestartPages) return;
  const bool paired = !m_restartPages.empty() && at == m_restartPages.back() + 8;
  m_logFile.AddContentSector(at);
  for (const auto& [recordSector, record] : m_logFile.Records().Records()) {
    const int64_t lcn = record->GetFirstLcn();
    const uint32_t c = record->GetSectorsPerCluster();
    if (c == 0 || lcn < 0) continue;
    if (paired) {
      Merge(FromCluster(at - 8, lcn, c, 0), kFoundBySecondRstr, 0);
    } else {
      Merge(FromCluster(at, lcn, c, 0), kFoundByFirstRstr, 0);
      if (at > 8) Merge(FromCluster(at - 8, lcn, c, 0), kFoundBySecondRstr, 0);
    }
  }
  m_restartPages.push_back(at);
}

void CNTFSSearchController::OnLogFileRecord(const CNTFSFoundFileRecord& record) {
  const int64_t lcn = record.GetFirstLcn();
  const uint32_t c = record.GetSectorsPerCluster();
  if (c == 0 || lcn < 0) return;
  for (size_t i = 0; i < m_restartPages.size(); ++i) {
    const int64_t r = m_restartPages[i];
    // The second page of a pair was read with the first.
    if (i > 0 && m_restartPages[i - 1] + 8 == r) continue;
    if (i + 1 < m_restartPages.size() && m_restartPages[i + 1] == r + 8) {
      Merge(FromCluster(r, lcn, c, 0), kFoundByFirstRstr | kFoundBySecondRstr, 0);
    } else {
      Merge(FromCluster(r, lcn, c, 0), kFoundByFirstRstr, 0);
      if (r != 8) Merge(FromCluster(r - 8, lcn, c, 0), kFoundBySecondRstr, 0);
    }
  }
}

// $LogFile record pages and the contents of $AttrDef and $UpCase: each counts for the candidate
// whose geometry puts that file's data exactly there.
void CNTFSSearchController::AnalyzeLogRecordPage(const uint8_t* window, size_t length, int64_t at) {
  // A page the block end cuts is completed by the next block (KeepCarry).
  if (length < kLogPageBytes || !IsValidLogRecordPage(window, kLogPageBytes)) return;
  m_logFile.AddContentSector(at);
  m_nextLogPageSector = at + static_cast<int64_t>(std::max<size_t>(kLogPageBytes / m_sectorSize, 1));
}

void CNTFSSearchController::MatchSystemFileContents(const uint8_t* sector, int64_t at) {
  // Block n of the upcase table holds the units 256 n to 256 n + 255, so a sector of it names its
  // block by its second byte, the high byte of its first unit. One block does not: its first unit
  // upper-cases into another block, and it is found by its first unit instead.
  const uint16_t first = U16(sector);
  const uint8_t* block = m_upCaseTable + static_cast<size_t>(sector[1]) * kContentBytes;
  if (U16(block) != first) {
    block = nullptr;
    for (const auto& [unit, other] : m_upCaseMovedBlocks)
      if (unit == first) block = m_upCaseTable + other * kContentBytes;
  }
  if (block && std::memcmp(sector, block, kContentBytes) == 0) {
    m_upCase.AddContentSector(at);
    return;
  }
  uint64_t head;
  std::memcpy(&head, sector, sizeof(head));
  for (size_t i = 0; i < kAttrDefContentSectors; ++i) {
    if (head == m_attrDefHeads[i] &&
        std::memcmp(sector, m_attrDefTable.data() + i * kContentBytes, kContentBytes) == 0) {
      m_attrDef.AddContentSector(at);
      return;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Index buffers and folders

void CNTFSSearchController::AnalyzeIndexBuffer(const uint8_t* window, size_t length, int64_t at) {
  if (length < kIndexBufferBytes && length < m_sectorSize) return;
  if (!IsValidIndexBuffer(window, length)) return;
  const int64_t directory = GetIndexBufferParent(window, length);
  const uint64_t vcn = GetIndexBufferVcn(window, length);
  // The root's number is the same in every partition and so places none.
  if (directory < 0 || directory == CNTFSFolderIndexRecord::kRootDirectory || vcn > uint64_t{INT64_MAX})
    return;
  const NTFSIndexRecordInfo info{at, static_cast<int64_t>(vcn), directory};
  m_indexRecords.emplace(directory, info);
  auto range = m_folders.FindByDirectory(directory);
  for (auto it = range.first; it != range.second; ++it) {
    const int64_t lcn = it->second->GetClusterOfVcn(info.vcn);
    if (lcn >= 0)
      Merge(FromCluster(at, lcn, it->second->GetSectorsPerCluster(), 0), kFoundByIndexFolderComparison, 0,
            true);
  }
}

void CNTFSSearchController::PairFolderWithIndexRecords(const CNTFSFolderIndexRecord& folder) {
  CTimingScope timing("BuildPartitionInfoAccordingtoFolderFileRecordHavingIndexAllocation",
                      folder.GetSector());
  auto range = m_indexRecords.equal_range(folder.GetDirectoryNumber());
  for (auto it = range.first; it != range.second; ++it) {
    const int64_t lcn = folder.GetClusterOfVcn(it->second.vcn);
    if (lcn >= 0)
      Merge(FromCluster(it->second.sector, lcn, folder.GetSectorsPerCluster(), 0),
            kFoundByIndexFolderComparison, 0, true);
  }
}

// ---------------------------------------------------------------------------------------------
// FILE records

bool CNTFSSearchController::AnalyzeNTFSFileRecordSector(uint8_t* window, size_t length, int64_t at) {
  const size_t recordBytes = std::min(length, std::max<size_t>(kFileRecordBytes, m_sectorSize));
  // A record the block end cuts is tested, and shown to the MFT collector, once it is completed.
  if (recordBytes < kFileRecordBytes) return false;
  if (!IsValidNTFSFileRecord(window, recordBytes)) {
    if (m_groupOpen) CollectMftRecord(nullptr, at);
    return false;
  }
  CTimingScope timing("AnalyzeNTFSFileRecordSector begin", at);
  // Fix-up applied in place and undone when the view goes.
  CNTFSFileRecordView view(window, recordBytes, false);
  if (!view.IsValid()) {
    if (m_groupOpen) CollectMftRecord(nullptr, at);
    return false;
  }
  CollectMftRecord(&view, at);

  if (view.HasNonResidentIndexAllocation()) {
    CTimingScope folderTiming("AnalyzeFolderFileRecordHavingIndexAllocation", at);
    auto folder = std::make_unique<CNTFSFolderIndexRecord>();
    if (folder->ParseRecord(view, at, m_sectorSize)) {
      const CNTFSFolderIndexRecord& kept = *folder;
      if (m_folders.Add(std::move(folder))) PairFolderWithIndexRecords(kept);
    }
    m_fileRecordSectors.Add(at);
    return true;
  }
  const int64_t metadata = GetMetadataFileNumber(view);
  if (metadata == 2 && IsLogFileFileRecord(view)) {
    if (const CNTFSFoundFileRecord* record = m_logFile.AddRecord(view, at, m_sectorSize))
      OnLogFileRecord(*record);
    return true;
  }
  if (metadata == 4 && IsAttrDefFileRecord(view)) {
    m_attrDef.AddRecord(view, at, m_sectorSize);
    return true;
  }
  if (metadata == 10 && IsUpCaseFileRecord(view)) {
    m_upCase.AddRecord(view, at, m_sectorSize);
    return true;
  }
  if (metadata >= 0 && IsMetadataFileRecord(view)) return true;
  if (m_fileRecordSectors.Add(at)) AddTypedFileExtent(view, at);
  return true;
}

// The record's first name, typed by its extension, with the cluster its data starts at: a file the
// signature search may have found at the same place, which then confirms the partition's geometry.
void CNTFSSearchController::AddTypedFileExtent(const CNTFSFileRecordView& view, int64_t at) {
  namespace attr = corvale::ntfs::attr;
  const CNTFSFileRecordFileNameAttribute name(view.FindAttribute(attr::kFileName, 0));
  if (!name.IsUsable() || name.GetFileName().name == nullptr) return;
  const NTFSFileName& fileName = name.GetFileName();
  char16_t units[256];
  for (size_t i = 0; i < fileName.nameLength; ++i)
    units[i] = static_cast<char16_t>(fileName.name[2 * i] | (fileName.name[2 * i + 1] << 8));
  CTypedFileExtent extent;
  // The type first: most names give none, and then no runs are decoded.
  if (!extent.SetFromUnicodeName(units, fileName.nameLength, 0, at)) return;
  // Without a verified fix-up two bytes of each stride are not the record's own.
  if (!view.IsFixupApplied()) return;
  for (int n = 0;; ++n) {
    const CNTFSFileRecordAttribute data = view.FindAttribute(attr::kData, n);
    if (!data) return;
    if (data.IsNamed() || !data.IsNonResident() || data.GetLowestVcn() != 0) continue;
    const CNTFSFileRecordDataRunsAttribute runs(data);
    if (!runs.HasRuns()) return;
    const int64_t lcn = runs.GetRunList().VcnToLcn(0);
    if (lcn >= 0) m_typedExtents.Add(CTypedFileExtent(extent.GetFileType(), lcn, at));
    return;
  }
}

// Records of one MFT follow its $MFT record two sectors apart; the first few name where the
// partition lies: $MFT and $MFTMirr give their own first clusters, $Bitmap the cluster count.
void CNTFSSearchController::CollectMftRecord(const CNTFSFileRecordView* view, int64_t at) {
  if (m_groupOpen) {
    const int64_t distance = at - m_group.mftSector;
    if (distance > kMftGroupSectors) {
      CloseMftGroup();
    } else if (distance > 0) {
      if (!view) {
        if (distance % 2 == 0) CloseMftGroup();
      } else {
        const int64_t number =
            view->HasOwnRecordNumber() ? view->GetOwnRecordNumber() : GetMetadataFileNumber(*view);
        if (distance % 2 != 0 || number != distance / 2) {
          CloseMftGroup();
        } else if (number == 1 && IsMFTMirrFileRecord(*view)) {
          auto mirr = CreateNTFSMFTLocation(*view, at, m_sectorSize);
          if (mirr) m_group.mirrFirstLcn = mirr->GetFirstLcn();
          ++m_mftMirrCount;
        } else if (number == 6 && GetRecoveryContext().UseNtfsFilesForVolumeSize &&
                   IsBitmapFileRecord(*view)) {
          CNTFSRecordDataSize size;
          if (size.ReadFromRecord(*view, at) && size.GetDataSize() <= INT64_MAX / 8)
            m_group.bitmapClusters = size.GetDataSize() * 8;
        }
        return;
      }
    }
  }
  if (!view || !IsMFTFileRecord(*view)) return;
  if (m_mftLocations.size() >= kMaxKeptRecords) return;
  auto location = CreateNTFSMFTLocation(*view, at, m_sectorSize);
  if (!location) return;
  if (m_groupOpen) CloseMftGroup();
  m_group = MftGroup{};
  m_group.mftSector = at;
  m_group.mftFirstLcn = location->GetFirstLcn();
  m_group.sectorsPerCluster = location->GetSectorsPerCluster();
  m_groupOpen = true;
  m_mftLocations.push_back(std::move(location));
}

void CNTFSSearchController::CloseMftGroup() {
  m_groupOpen = false;
  const MftGroup group = m_group;
  std::vector<CSearchedNTFSPartitionInfo*> touched;
  auto singles = [&] {
    static const uint32_t kGuesses[] = {1, 2, 4, 8, 16, 32, 64, 128};
    for (uint32_t c : kGuesses) {
      if (group.sectorsPerCluster != 0 && c != group.sectorsPerCluster) continue;
      if (auto* kept = Merge(FromCluster(group.mftSector, group.mftFirstLcn, c, 0), kFoundBySingleMft, 0))
        touched.push_back(kept);
    }
  };
  if (group.mirrFirstLcn < 0 || group.sectorsPerCluster == 0) {
    singles();
  } else {
    // Read as the mirror's copy: this record then lies at the $MFTMirr's first cluster.
    auto candidate =
        FromCluster(group.mftSector, group.mirrFirstLcn, group.sectorsPerCluster, kFoundByMftMirr);
    if (candidate) {
      const int64_t start = candidate->GetStartSector();
      const int64_t c = group.sectorsPerCluster;
      const bool pairComplete = group.mftFirstLcn >= 0 && group.mftFirstLcn <= (INT64_MAX - start) / c &&
                                std::binary_search(m_closedGroupSectors.begin(), m_closedGroupSectors.end(),
                                                   start + group.mftFirstLcn * c);
      if (pairComplete) {
        for (auto it = m_candidates.lower_bound({start, 0});
             it != m_candidates.end() && it->first.first == start; ++it) {
          it->second->SetFoundByFlags((it->second->GetFoundByFlags() & ~kFoundBySingleMft) |
                                      kFoundByMftFilesPair);
          touched.push_back(it->second.get());
        }
      } else {
        const bool existed = m_candidates.count({start, group.sectorsPerCluster}) != 0;
        if (auto* kept = Merge(std::move(candidate), kFoundByMftMirr, 0)) touched.push_back(kept);
        if (!existed) singles();
      }
    } else {
      singles();
    }
  }
  m_closedGroupSectors.insert(
      std::upper_bound(m_closedGroupSectors.begin(), m_closedGroupSectors.end(), group.mftSector),
      group.mftSector);
  for (CSearchedNTFSPartitionInfo* candidate : touched) {
    if (candidate->GetMftSector() < 0) candidate->SetMftSector(group.mftSector);
    // Without a known cluster count the size stays as the evidence gave it.
    if (group.bitmapClusters > 0) {
      const int64_t c = candidate->GetSectorsPerCluster();
      if (!(candidate->GetFoundByFlags() & kFoundByFirstBootRecord) &&
          group.bitmapClusters < candidate->GetTotalClusters()) {
        candidate->SetTotalClusters(group.bitmapClusters);
        candidate->SetSectorCount(group.bitmapClusters * c);
      }
      if (group.bitmapClusters <= INT64_MAX / std::max<int64_t>(c, 1))
        candidate->SetSectorsFromSystemFiles(group.bitmapClusters * c);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// State

void CNTFSSearchController::SaveState(IRSData& writer) {
  StateRecordWriter record(writer);
  record.U64(m_indexRecords.size());
  for (const auto& [directory, info] : m_indexRecords)
    record.U64(static_cast<uint64_t>(info.sector))
        .U64(static_cast<uint64_t>(info.vcn))
        .U64(static_cast<uint64_t>(directory));
  record.Flush();
  m_fileRecordSectors.Save(writer);
  SaveNTFSMFTLocations(writer, m_mftLocations);
}

void CNTFSSearchController::LoadState(IRSData& reader) {
  const uint64_t count = ReadU64(reader);
  std::multimap<int64_t, NTFSIndexRecordInfo> records;
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t bytes[24];
    ReadExact(reader, bytes, sizeof(bytes));
    const corvale::ByteReader in(bytes, sizeof(bytes));
    const NTFSIndexRecordInfo info{static_cast<int64_t>(in.u64(0)), static_cast<int64_t>(in.u64(8)),
                                   static_cast<int64_t>(in.u64(16))};
    if (info.sector < 0 || info.vcn < 0 || info.directory < 0) ThrowStateError(RS_ERROR_BAD_DATA);
    records.emplace(info.directory, info);
  }
  CNTFSRecordSectorRunList sectors;
  sectors.Load(reader);
  std::vector<std::unique_ptr<CNTFSMFTLocation>> locations;
  LoadNTFSMFTLocations(reader, locations);
  m_indexRecords = std::move(records);
  m_fileRecordSectors = std::move(sectors);
  m_mftLocations = std::move(locations);
}

CFileSystemNode* CNTFSSearchController::BuildPartitionDirectory(CSearchedPartitionInfo* partition,
                                                                IStorageDevice* device, int32_t index,
                                                                IDIRBuildCallback* callback) {
  NTFSFoundRecordLists found;
  found.mftLocations = &m_mftLocations;
  found.recordSectors = &m_fileRecordSectors;
  found.signatureFiles = m_sink;
  return BuildNTFSTreeOfSearchedPartitionInThread(found, partition, device, 0, index, callback);
}
