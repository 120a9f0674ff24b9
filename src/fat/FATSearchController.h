#pragma once
// The FAT member of the whole-device search. Offered every block of the device in ascending order,
// it tests each sector for a FAT boot sector, the start of a FAT copy and directory sectors, and
// from that evidence proposes FAT partitions: a boot sector gives the whole geometry; the first
// sector of a directory, whose "." entry names its own cluster, fixes where cluster 2 lies for each
// cluster size, and further folders that agree with such a guess make it a candidate.
//
// When the pass is over, GetResults scores the candidates, drops those no second piece of evidence
// supports and hands the rest on. The directory sectors seen are kept (and saved with the scan's
// state): the complete directory build of a chosen partition reads them.
//
// Saved state: 4-byte record count, then per directory sector its sector 8, "." cluster 4 and ".."
// cluster 4 (both 0xFFFFFFFF for a sector that does not begin a directory).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/TypedFileExtent.h"
#include "fat/FATDirSectorRecord.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "storage/FileSystemCode.h"

class CFATDBR;

class CFATSearchController : public IFileSystemSearchController {
 public:
  // Candidates by (data-area start, sectors per cluster), in data-area order.
  using CandidateKey = std::pair<int64_t, uint32_t>;
  using CandidateMap = std::map<CandidateKey, std::unique_ptr<CFATSearchedPartitionInfo>>;
  // Folders that agree with no candidate each propose one per cluster size; past this many
  // candidates no new ones are made from folders, so that a disk full of stray directory sectors
  // cannot exhaust memory (agreeing folders still count).
  static constexpr size_t kMaxCandidates = 1 << 20;
  CFATSearchController();
  ~CFATSearchController() override;
  CFATSearchController(const CFATSearchController&) = delete;
  CFATSearchController& operator=(const CFATSearchController&) = delete;

  void SetStorageDevice(IStorageDevice* device) override;
  void SetSectorsPerRead(int32_t sectors) override { m_sectorsPerRead = sectors; }
  void BeginSearch() override;
  void EndSearch() override;
  int32_t AnalyzeBlock(int64_t firstSector, int64_t sectorCount, IntelligentSearchSummary* summary) override;
  // Scores, prunes and appends the candidates; afterwards only the directory sectors are kept.
  void GetResults(SearchedPartitionInfoList* list) override;
  void SetResultSink(CRawFileInfoList* sink) override { m_sink = sink; }
  void SaveState(IRSData& writer) override;
  // Reads what SaveState wrote, in place of the directory sectors held; on a stream error they are
  // left as they were.
  void LoadState(IRSData& reader) override;
  int32_t GetKind() override { return SEARCH_CONTROLLER_FAT; }
  // The complete directory build over a FAT partition (of any kind but this engine's, none).
  CFileSystemNode* BuildPartitionDirectory(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                           int32_t index, IDIRBuildCallback* callback) override;
  bool AcceptsPartitionType(int32_t type) override {
    return type == kFileSystemFat12 || type == kFileSystemFat16 || type == kFileSystemFat32;
  }

  // What the scan has gathered so far.
  const CandidateMap& GetCandidates() const { return m_candidates; }
  const CFATSearchedPartitionInfo* FindCandidate(int64_t dataStart, uint32_t sectorsPerCluster) const;
  const CFATDirSectorSet& GetDirectorySectors() const { return m_directorySectors; }
  const CTypedFileExtentList& GetTypedFileExtents() const { return m_extents; }

 private:
  // The evidence of one sector (m_sectorSize bytes).
  void AnalyzeSector(const uint8_t* sector, int64_t at, IntelligentSearchSummary* summary);
  bool HandleBootSector(const uint8_t* sector, int64_t at);
  std::unique_ptr<CFATSearchedPartitionInfo> FromBootSector(const CFATDBR& dbr, int64_t at,
                                                            bool backup) const;
  std::unique_ptr<CFATSearchedPartitionInfo> FromFolder(int64_t dataStart, uint32_t sectorsPerCluster) const;
  // Inserts a candidate made from a boot sector with its two FAT-copy keys; one with the key of an
  // existing candidate adds its evidence to that one instead.
  void InsertBootCandidate(std::unique_ptr<CFATSearchedPartitionInfo> candidate);
  void HandleFolder(int64_t sector, uint32_t dotCluster);
  void MarkFatCopy(int64_t sector);
  void AddNamedFiles(const uint8_t* sector, int64_t at);

  IStorageDevice* m_device = nullptr;
  int64_t m_deviceSectors = 0;
  uint32_t m_sectorSize = 512;
  int32_t m_sectorsPerRead = 0;
  CRawFileInfoList* m_sink = nullptr;
  std::vector<uint8_t> m_buffer;

  CandidateMap m_candidates;
  // FAT-copy start sector -> the candidates expecting a copy there (not owned).
  std::multimap<int64_t, CFATSearchedPartitionInfo*> m_fatStarts;
  CFATDirSectorSet m_directorySectors;
  CTypedFileExtentList m_extents;
};
