#pragma once
// The NTFS member of the whole-device search. Offered every block of the device in ascending order,
// it tests each sector for NTFS evidence (boot sectors, $LogFile restart pages, index buffers, FILE
// records) and proposes the partitions that evidence places: each piece says "this sector is cluster
// L of a partition with c sectors per cluster", which fixes the partition's start.
//
// Candidates with the same start and sectors per cluster are one candidate; evidence that agrees
// with an existing one adds its found-by flag to it.
//
// The per-sector path reads the block in place and allocates nothing; memory is taken only when a
// sector turns out to hold evidence worth keeping. Index buffers and folder records are paired by
// the directory number both carry, so pairing costs one lookup per piece of evidence.
//
// The system files $LogFile, $AttrDef and $UpCase are recognised by their contents as well: a
// sector equal to a piece of the standard attribute-definition or upcase table, a $LogFile page.
// At the end of the pass each candidate counts how many of those sectors lie where its geometry
// places the file's data (EndSearch), is scored, and the weakest are dropped.
//
// What the directory build of a rebuilt partition reads outlives EndSearch: the MFT locations and
// the FILE-record sector runs. The pairing evidence (index buffers, folders, restart pages) and the
// system-file evidence are consumed by EndSearch and freed.
//
// Saved state: 8-byte count of index records, each as sector 8, virtual cluster 8, directory
// number 8; then the FILE-record sector runs (CNTFSRecordSectorRunList's saved form); then the MFT
// locations (SaveNTFSMFTLocations).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "core/TypedFileExtent.h"
#include "ntfs/NTFSMFTLocation.h"
#include "ntfs/NTFSRecordSectorRuns.h"
#include "ntfs/NTFSScanEvidence.h"
#include "ntfs/NTFSSystemFileCollector.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"
#include "storage/FileSystemCode.h"

class CNTFSFileRecordView;

// An "INDX" buffer seen by the scan: where it lies, its virtual cluster in its directory's index
// allocation and the directory it belongs to.
struct NTFSIndexRecordInfo {
  int64_t sector = -1;
  int64_t vcn = -1;
  int64_t directory = -1;
  bool operator==(const NTFSIndexRecordInfo&) const = default;
};

class CNTFSSearchController : public IFileSystemSearchController {
 public:
  // Caps on the evidence kept of one kind, so that a disk full of copies cannot exhaust memory.
  static constexpr size_t kMaxKeptRecords = 500000;
  static constexpr size_t kMaxRestartPages = 500000;
  // Sectors looked at from one sector on: the longest structure tested (an index buffer) fits.
  static constexpr int64_t kWindowSectors = 16;
  static constexpr size_t kCarryBytes = 4096;
  // Candidates kept whatever their score, and the count above which candidates that rest on one
  // index/folder pairing alone are dropped.
  static constexpr size_t kKeptUnscored = 1000;
  static constexpr size_t kFewCandidates = 49;

  // Candidates by (start sector, sectors per cluster).
  using CandidateKey = std::pair<int64_t, uint32_t>;
  using CandidateMap = std::map<CandidateKey, std::unique_ptr<CSearchedNTFSPartitionInfo>>;

  CNTFSSearchController();
  ~CNTFSSearchController() override;
  CNTFSSearchController(const CNTFSSearchController&) = delete;
  CNTFSSearchController& operator=(const CNTFSSearchController&) = delete;

  void SetStorageDevice(IStorageDevice* device) override;
  void SetSectorsPerRead(int32_t sectors) override;
  void BeginSearch() override;
  void EndSearch() override;
  int32_t AnalyzeBlock(int64_t firstSector, int64_t sectorCount, IntelligentSearchSummary* summary) override;
  void GetResults(SearchedPartitionInfoList* list) override;
  void SetResultSink(CRawFileInfoList* sink) override { m_sink = sink; }
  void SaveState(IRSData& writer) override;
  void LoadState(IRSData& reader) override;
  int32_t GetKind() override { return SEARCH_CONTROLLER_NTFS; }
  bool AcceptsPartitionType(int32_t type) override { return type == kFileSystemNtfs; }
  // The tree of a partition this search found, read from `device` through the MFTs and FILE-record
  // sectors the search kept, with the signature-found files of the result sink beside it.
  CFileSystemNode* BuildPartitionDirectory(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                           int32_t index, IDIRBuildCallback* callback) override;

  // What the scan has gathered so far.
  const CandidateMap& GetCandidates() const { return m_candidates; }
  const CSearchedNTFSPartitionInfo* FindCandidate(int64_t start, uint32_t sectorsPerCluster) const;
  const std::multimap<int64_t, NTFSIndexRecordInfo>& GetIndexRecords() const { return m_indexRecords; }
  const CNTFSFolderIndexRecordMap& GetFolderRecords() const { return m_folders; }
  const CNTFSRecordSectorRunList& GetFileRecordSectors() const { return m_fileRecordSectors; }
  const std::vector<int64_t>& GetRestartPages() const { return m_restartPages; }
  size_t GetMftRecordCount() const { return m_mftLocations.size(); }
  // Every $MFT record kept, in the order met; these outlive EndSearch.
  const std::vector<std::unique_ptr<CNTFSMFTLocation>>& GetMftLocations() const { return m_mftLocations; }
  size_t GetLogFileRecordCount() const { return m_logFile.Records().GetCount(); }
  CNTFSSystemFileCollector& GetLogFileCollector() { return m_logFile; }
  CNTFSSystemFileCollector& GetAttrDefCollector() { return m_attrDef; }
  CNTFSSystemFileCollector& GetUpCaseCollector() { return m_upCase; }
  const CTypedFileExtentList& GetTypedFileExtents() const { return m_typedExtents; }

  // The score EndSearch gives a candidate: 10 for each boot record, single $MFT, $MFTMirr and
  // restart page found it by, 30 for a complete $MFT/$MFTMirr pair, and up to 10 each for its
  // $UpCase (256 sectors), $LogFile (10000 pages) and $AttrDef (5 sectors) matches.
  static int64_t ScoreCandidate(const CSearchedNTFSPartitionInfo& candidate);

 private:
  // Tests put hand-made candidates in the map to examine the end of the pass on its own.
  friend class NTFSSearchControllerTestAccess;

  struct MftGroup {
    int64_t mftSector = -1;
    int64_t mftFirstLcn = -1;
    uint32_t sectorsPerCluster = 0;
    int64_t mirrFirstLcn = -1;
    int64_t bitmapClusters = 0;
  };

  void AnalyzeSector(const uint8_t* window, size_t windowBytes, int64_t sector, int64_t& bootRecords,
                     int64_t& fileRecords);
  void AnalyzeNTFSDBRSector(const uint8_t* sector, int64_t at);
  bool IsRestartPage(const uint8_t* window, size_t length) const;
  void AnalyzeRSTRRecord(int64_t at);
  void AnalyzeIndexBuffer(const uint8_t* window, size_t length, int64_t at);
  // True for a valid FILE record.
  bool AnalyzeNTFSFileRecordSector(uint8_t* window, size_t length, int64_t at);
  void CollectMftRecord(const CNTFSFileRecordView* view, int64_t at);
  void CloseMftGroup();
  void PairFolderWithIndexRecords(const CNTFSFolderIndexRecord& folder);
  void OnLogFileRecord(const CNTFSFoundFileRecord& record);
  void MatchSystemFileContents(const uint8_t* sector, int64_t at);
  void AnalyzeLogRecordPage(const uint8_t* window, size_t length, int64_t at);
  void AddTypedFileExtent(const CNTFSFileRecordView& view, int64_t at);
  void KeepCarry(const uint8_t* block, int64_t firstSector, int64_t sectorCount);
  void FinishCarry(const uint8_t* block, int64_t firstSector, int64_t sectorCount, int64_t& fileRecords);

  // Candidate making. Null when the evidence places no partition on the device.
  std::unique_ptr<CSearchedNTFSPartitionInfo> FromBootSector(int64_t start, uint64_t totalSectors,
                                                             uint32_t sectorsPerCluster, uint32_t flag) const;
  std::unique_ptr<CSearchedNTFSPartitionInfo> FromCluster(int64_t sector, int64_t cluster,
                                                          uint32_t sectorsPerCluster, uint32_t flag) const;
  // Equal existing candidate: flags = (flags & ~clear) | set, removed when left without flags; the
  // new one is dropped. Else the new one is inserted (when it has flags). Returns the candidate
  // holding the evidence (null when none is left).
  CSearchedNTFSPartitionInfo* Merge(std::unique_ptr<CSearchedNTFSPartitionInfo> candidate, uint32_t set,
                                    uint32_t clear, bool countFolder = false);

  IStorageDevice* m_device = nullptr;
  int64_t m_deviceSectors = 0;
  uint32_t m_sectorSize = 512;
  int32_t m_sectorsPerRead = 0;
  CRawFileInfoList* m_sink = nullptr;
  std::vector<uint8_t> m_buffer;

  CandidateMap m_candidates;
  std::map<CandidateKey, uint64_t> m_bootMftCluster;  // the $MFT cluster a boot sector gave
  CNTFSFolderIndexRecordMap m_folders;
  std::multimap<int64_t, NTFSIndexRecordInfo> m_indexRecords;  // by directory number
  CNTFSRecordSectorRunList m_fileRecordSectors;
  std::vector<int64_t> m_restartPages;
  CNTFSSystemFileCollector m_logFile{2};
  CNTFSSystemFileCollector m_attrDef{4};
  CNTFSSystemFileCollector m_upCase{10};
  CTypedFileExtentList m_typedExtents;
  // The standard tables the system files' contents are compared with.
  const uint8_t* m_upCaseTable;
  std::vector<uint8_t> m_attrDefTable;
  uint64_t m_attrDefHeads[5] = {};  // the first 8 bytes of each of its sectors
  // Upcase blocks whose first unit lies in another block: (that unit, the block).
  std::vector<std::pair<uint16_t, size_t>> m_upCaseMovedBlocks;
  // The sector after the last $LogFile page counted: the pages are taken in 8-sector steps.
  int64_t m_nextLogPageSector = 0;
  std::vector<std::unique_ptr<CNTFSMFTLocation>> m_mftLocations;
  size_t m_mftMirrCount = 0;
  bool m_groupOpen = false;
  MftGroup m_group;
  std::vector<int64_t> m_closedGroupSectors;  // $MFT sectors of closed groups, ascending

  // A FILE record or index buffer cut by the end of the last block.
  uint8_t m_carry[kCarryBytes];
  int64_t m_carrySector = -1;
  size_t m_carryHave = 0;
  // A $LogFile page cut by the end of the last block.
  uint8_t m_pageCarry[kCarryBytes];
  int64_t m_pageCarrySector = -1;
  size_t m_pageCarryHave = 0;
};
