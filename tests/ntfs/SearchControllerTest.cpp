// The NTFS search controller driven by the real search driver over disk images that hold an
// mkntfs volume at some offset: the evidence it gathers and the partitions it proposes.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "NtfsTestVolume.h"
#include "core/IntelligentSearchController.h"
#include "ntfs/FileRecordHeader.h"
#include "ntfs/NTFSSearchController.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace {

constexpr int64_t kBlockSectors = 8192;

struct ScanResult {
  std::unique_ptr<CNTFSSearchController> controller = std::make_unique<CNTFSSearchController>();
  IntelligentSearchSummary summary;
  // The pairing evidence as it stood when the pass ended (EndSearch consumes it).
  std::multimap<int64_t, NTFSIndexRecordInfo> indexRecords;
  std::set<int64_t> folderDirectories;
};

// Forwards every call to the NTFS controller, and notes its pairing evidence just before the
// pass's end consumes it.
class EvidenceSnapshot : public IFileSystemSearchController {
 public:
  explicit EvidenceSnapshot(ScanResult& result) : m_result(result), m_c(*result.controller) {}
  void SetStorageDevice(IStorageDevice* device) override { m_c.SetStorageDevice(device); }
  void SetSectorsPerRead(int32_t sectors) override { m_c.SetSectorsPerRead(sectors); }
  void BeginSearch() override { m_c.BeginSearch(); }
  void EndSearch() override {
    m_result.indexRecords = m_c.GetIndexRecords();
    for (const auto& [number, record] : m_c.GetFolderRecords().Records())
      m_result.folderDirectories.insert(number);
    m_c.EndSearch();
  }
  int32_t AnalyzeBlock(int64_t first, int64_t count, IntelligentSearchSummary* summary) override {
    return m_c.AnalyzeBlock(first, count, summary);
  }
  void GetResults(SearchedPartitionInfoList* list) override { m_c.GetResults(list); }
  void SetResultSink(CRawFileInfoList* sink) override { m_c.SetResultSink(sink); }
  void SaveState(IRSData& writer) override { m_c.SaveState(writer); }
  void LoadState(IRSData& reader) override { m_c.LoadState(reader); }
  int32_t GetKind() override { return m_c.GetKind(); }

 private:
  ScanResult& m_result;
  CNTFSSearchController& m_c;
};

void Scan(IStorageDevice& device, ScanResult& result) {
  EvidenceSnapshot snapshot(result);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&snapshot);
  ASSERT_EQ(driver.Search(nullptr), 1);
  result.summary = driver.GetSummary();
}

// The volume placed at sector `offset` of a disk with `tail` free sectors after it; the volume's
// boot sectors (first and last sector) zeroed when asked.
std::string WriteDisk(const NtfsTestVolume& volume, int64_t offset, int64_t tail, bool zeroBootSectors,
                      const std::string& name) {
  std::vector<uint8_t> bytes = volume.image;
  if (zeroBootSectors) {
    std::memset(bytes.data(), 0, 512);
    std::memset(bytes.data() + bytes.size() - 512, 0, 512);
  }
  const std::string path = corvale::test::ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint8_t> zeros(static_cast<size_t>(offset) * 512, 0);
  out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  zeros.assign(static_cast<size_t>(tail) * 512, 0);
  out.write(reinterpret_cast<const char*>(zeros.data()), static_cast<std::streamsize>(zeros.size()));
  return path;
}

void ScanDisk(const std::string& path, ScanResult& result) {
  CImageFileDevice image(path);
  ASSERT_TRUE(image.IsOpened());
  Scan(image, result);
}

TEST(NTFSSearchController, IntactVolumeAtAnOffsetIsFoundByBothBootSectorsAndItsMft) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const int64_t offset = 2048;
  const int64_t total = static_cast<int64_t>(volume->geometry.totalSectors);
  ScanResult scan;
  ScanDisk(WriteDisk(*volume, offset, 2048, false, "search_intact.img"), scan);
  const CNTFSSearchController& c = *scan.controller;

  EXPECT_EQ(scan.summary.NTFSBootRecords, 2);
  const CSearchedNTFSPartitionInfo* partition = c.FindCandidate(offset, 8);
  ASSERT_NE(partition, nullptr);
  EXPECT_EQ(partition->GetFoundByFlags() & (kFoundByFirstBootRecord | kFoundByLastBootRecord),
            kFoundByFirstBootRecord | kFoundByLastBootRecord);
  EXPECT_TRUE(partition->GetFoundByFlags() & kFoundByMftFilesPair) << partition->GetFoundByFlags();
  EXPECT_TRUE(partition->GetFoundByFlags() & kFoundByIndexFolderComparison) << partition->GetFoundByFlags();
  EXPECT_GT(partition->GetFoldersMatch(), 0);
  EXPECT_EQ(partition->GetSectorCount(), total / 8 * 8);
  EXPECT_EQ(partition->GetMftSector(), offset + volume->RecordSector(0));
  // The backup boot sector's own primary reading leaves a candidate only where the disk goes on.
  ASSERT_NE(c.FindCandidate(offset + total, 8), nullptr);
  EXPECT_EQ(c.FindCandidate(offset + total, 8)->GetFoundByFlags(), kFoundByFirstBootRecord);

  // Every record of the MFT that is in use, once (the mirror's four records as well).
  int64_t inUse = 0;
  for (const auto& record : volume->records)
    if (IsValidNTFSFileRecord(record.data(), record.size())) ++inUse;
  EXPECT_GE(scan.summary.NTFSFileRecords, inUse);
  EXPECT_LE(scan.summary.NTFSFileRecords, inUse + 4);
  EXPECT_EQ(scan.summary.TotalFilesFound, scan.summary.NTFSFileRecords);
  EXPECT_EQ(c.GetMftRecordCount(), 2u);  // $MFT and its mirror copy

  // The big folder's index buffers are paired with its record by its number.
  EXPECT_NE(scan.indexRecords.count(volume->manifest.bigDirectory), 0u);
  EXPECT_NE(scan.folderDirectories.count(volume->manifest.bigDirectory), 0u);
  // Consumed by the end of the pass.
  EXPECT_TRUE(c.GetIndexRecords().empty());
  EXPECT_EQ(c.GetFolderRecords().GetCount(), 0u);
  // Ordinary records are kept by sector.
  for (const auto& [number, paths] : volume->manifest.live) {
    if (number < 64) continue;
    EXPECT_TRUE(c.GetFileRecordSectors().Contains(offset + volume->RecordSector(number))) << paths[0];
    break;
  }
}

TEST(NTFSSearchController, VolumeWithoutBootSectorsIsPlacedByItsMftAndFolders) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const int64_t offset = 4096 + 63;
  ScanResult scan;
  ScanDisk(WriteDisk(*volume, offset, 0, true, "search_noboot.img"), scan);
  const CNTFSSearchController& c = *scan.controller;

  EXPECT_EQ(scan.summary.NTFSBootRecords, 0);
  for (const auto& [key, candidate] : c.GetCandidates())
    EXPECT_EQ(candidate->GetFoundByFlags() & (kFoundByFirstBootRecord | kFoundByLastBootRecord), 0u);
  const CSearchedNTFSPartitionInfo* partition = c.FindCandidate(offset, 8);
  ASSERT_NE(partition, nullptr);
  EXPECT_TRUE(partition->GetFoundByFlags() & kFoundByMftFilesPair) << partition->GetFoundByFlags();
  EXPECT_TRUE(partition->GetFoundByFlags() & kFoundByIndexFolderComparison) << partition->GetFoundByFlags();
  EXPECT_FALSE(partition->GetFoundByFlags() & kFoundBySingleMft);
}

TEST(NTFSSearchController, RecordCutByTheBlockEndIsStillSeen) {
  CORVALE_NTFS_VOLUME(volume, "c4096");
  const int64_t mftRecord = volume->RecordSector(0);
  ScanResult aligned;
  ScanDisk(WriteDisk(*volume, 2048, 0, false, "search_aligned.img"), aligned);
  // Records 0 to 40 around the first block end: each of them starts in the block's last sector once.
  for (int64_t n : {0, 1, 40}) {
    SCOPED_TRACE(n);
    const int64_t offset = kBlockSectors - 1 - mftRecord - 2 * n;
    ASSERT_GT(offset, 0);
    ScanResult cut;
    ScanDisk(WriteDisk(*volume, offset, 0, false, "search_cut.img"), cut);
    EXPECT_EQ(cut.summary.NTFSFileRecords, aligned.summary.NTFSFileRecords);
    EXPECT_EQ(cut.controller->GetMftRecordCount(), aligned.controller->GetMftRecordCount());
    EXPECT_EQ(cut.indexRecords.size(), aligned.indexRecords.size());
    ASSERT_NE(cut.controller->FindCandidate(offset, 8), nullptr);
    EXPECT_EQ(cut.controller->FindCandidate(offset, 8)->GetFoundByFlags(),
              aligned.controller->FindCandidate(2048, 8)->GetFoundByFlags());
  }
}

TEST(NTFSSearchController, GarbageBlocksGiveNoEvidence) {
  std::mt19937 random(20261210);
  std::vector<uint8_t> bytes(3 * kBlockSectors * 512 + 7 * 512);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  // Magic at many sectors (and at the very end) invites every test to read on.
  static const char* kMagic[] = {"FILE", "INDX", "RSTR", "RCRD"};
  for (size_t s = 0; s < bytes.size() / 512; s += 1 + random() % 5)
    std::memcpy(&bytes[s * 512], kMagic[s % 4], 4);
  std::memcpy(&bytes[bytes.size() - 512], "FILE", 4);
  for (size_t s = 5; s < bytes.size() / 512; s += 97) std::memcpy(&bytes[s * 512 + 3], "NTFS    ", 8);
  MemoryDevice device(bytes);
  ScanResult scan;
  Scan(device, scan);
  EXPECT_EQ(scan.summary, IntelligentSearchSummary{});
  EXPECT_TRUE(scan.controller->GetCandidates().empty());
  EXPECT_TRUE(scan.indexRecords.empty());
  EXPECT_EQ(scan.controller->GetFileRecordSectors().GetRecordCount(), 0u);
}

}  // namespace
