#pragma once
// The Ext2/Ext3 member of the whole-device search. It slides an eight-sector window over every
// 512-byte sector offered, recognises superblock copies (the primary or a backup), gathers the group
// descriptor table that follows each, merges sightings of one file system, and when asked hands one
// scored record per file system to the candidate selection. It also builds the directory tree of a
// chosen Ext2/Ext3 partition.
//
// Everything is counted in 512-byte sectors: the controller reads through the device's 512-byte view.
// A block is read in one request and tested in place; only the last seven sectors of a block are
// carried to the next, so a superblock that straddles two blocks is still seen.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/IFileSystemSearchController.h"
#include "ext2/Ext2SearchedPartitionInfo.h"
#include "storage/FileSystemCode.h"

class CEXT2SearchController : public IFileSystemSearchController {
 public:
  static constexpr int64_t kWindowSectors = 8;

  CEXT2SearchController();
  ~CEXT2SearchController() override;
  CEXT2SearchController(const CEXT2SearchController&) = delete;
  CEXT2SearchController& operator=(const CEXT2SearchController&) = delete;

  void SetStorageDevice(IStorageDevice* device) override;
  // Each block is read whole as offered; the read size needs no keeping.
  void SetSectorsPerRead(int32_t) override {}
  void BeginSearch() override;
  void EndSearch() override;
  // Tests every window of eight 512-byte sectors whose last sector lies in the block; the summary is
  // not touched. Always 1.
  int32_t AnalyzeBlock(int64_t firstSector, int64_t sectorCount, IntelligentSearchSummary* summary) override;
  void GetResults(SearchedPartitionInfoList* list) override;
  void SetResultSink(CRawFileInfoList* sink) override { m_sink = sink; }
  // The controller keeps nothing across a saved state; the records travel with the partition list.
  void SaveState(IRSData&) override {}
  void LoadState(IRSData&) override {}
  int32_t GetKind() override { return SEARCH_CONTROLLER_EXT2; }
  CFileSystemNode* BuildPartitionDirectory(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                           int32_t index, IDIRBuildCallback* callback) override;
  bool AcceptsPartitionType(int32_t type) override {
    return type == kFileSystemExt2 || type == kFileSystemExt3;
  }

  // The records filed and not yet handed out, in order of completion.
  const std::vector<std::unique_ptr<CExt2SearchedPartitionInfo>>& GetCompletedRecords() const {
    return m_completed;
  }
  const CExt2SearchedPartitionInfo* GetPendingRecord() const { return m_pending.get(); }

 private:
  void TestWindow(const uint8_t* window, int64_t sector);
  void File(std::unique_ptr<CExt2SearchedPartitionInfo> record);
  void EmptyWindow();

  IStorageDevice* m_device = nullptr;  // the 512-byte view
  uint32_t m_ratio = 0;
  CRawFileInfoList* m_sink = nullptr;
  int64_t m_deviceSectors = 0;  // its length, kept for GetResults (after EndSearch)
  std::vector<std::unique_ptr<CExt2SearchedPartitionInfo>> m_completed;
  std::unique_ptr<CExt2SearchedPartitionInfo> m_pending;
  // Valid superblocks seen in this pass, shown in the search's summary.
  int64_t m_superblocksSeen = 0;
  // The sectors carried from the previous block (at most seven) followed by the current block.
  std::vector<uint8_t> m_area;
  int64_t m_carrySectors = 0;
  int64_t m_nextSector = -1;  // the sector the carried ones lead up to
};
