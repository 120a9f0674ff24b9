// The RAW search controller fed block by block, with scripted analysers that say which sectors
// start a file and record how and when they are measured.
#include <gtest/gtest.h>

#include <cstring>

#include "RawTestSupport.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawSectorReader.h"

namespace {

using namespace rawtest;

constexpr uint32_t kBlock = 16;  // sectors per block: 21 blocks make a small device

// Accepts sectors that begin with its four-byte tag. Its length pass reads the file's first sector
// back through the device it is given, checks the tag is there and sets `size`.
class Stub : public IRawFileAnalyser {
 public:
  struct Measured {
    uint64_t start;
    bool sawTag;
    int64_t deviceSectors;
    uint64_t ringStart;
  };

  Stub(const char* tag, int32_t type, uint64_t headerSize = 0, uint64_t size = 1000)
      : m_headerSize(headerSize), m_size(size) {
    std::memcpy(m_tag, tag, 4);
    m_typeId = type;
  }
  bool IsFileHeader(const uint8_t* s, CRawFileInfo* file) override {
    if (throwInHeader) throw std::runtime_error("header");
    if (std::memcmp(s, m_tag, 4) != 0) return false;
    file->SetFileType(m_typeId);
    if (m_headerSize) file->SetFileSize(m_headerSize);
    return true;
  }
  bool ComputeFileSize(CRawFileInfo* file, IStorageDevice* device) override {
    CRawSectorReader reader(device, file->GetStartSector());
    const corvale::ByteReader head = reader.Read(0, 4);
    measured.push_back({file->GetStartSector(), head.size() == 4 && std::memcmp(head.data(), m_tag, 4) == 0,
                        device->GetSectorCount(), ringStart ? *ringStart : 0});
    if (throwInCompute) throw std::runtime_error("compute");
    file->SetFileSize(m_size);
    return !failCompute;
  }

  std::vector<Measured> measured;
  bool throwInHeader = false;
  bool throwInCompute = false;
  bool failCompute = false;
  const uint64_t* ringStart = nullptr;

 private:
  char m_tag[4];
  uint64_t m_headerSize;
  uint64_t m_size;
};

// A device of `blocks` blocks of random bytes, with each tag written at its sector and every
// sector's first word left non-zero.
MemoryDevice TaggedDevice(uint64_t blocks, const std::vector<std::pair<uint64_t, const char*>>& tags,
                          uint64_t extraSectors = 0) {
  Bytes bytes = RandomBytes((blocks * kBlock + extraSectors) * 512, 3);
  for (const auto& [sector, tag] : tags) std::memcpy(bytes.data() + sector * 512, tag, 4);
  return MemoryDevice(bytes);
}

struct Scan {
  CRawFileAnalyserList analysers;
  CRawFileInfoList found;
  IntelligentSearchSummary summary;
  std::unique_ptr<CRAWSearchController> controller;

  Stub* Add(std::unique_ptr<Stub> s) {
    Stub* raw = s.get();
    analysers.push_back(std::move(s));
    return raw;
  }
  void Begin(IStorageDevice& device) {
    controller = std::make_unique<CRAWSearchController>(&analysers);
    controller->SetResultSink(&found);
    controller->SetStorageDevice(&device);
    controller->SetSectorsPerRead(kBlock);
    controller->BeginSearch();
  }
  void Block(IStorageDevice& device, uint64_t index) {
    const uint64_t n = static_cast<uint64_t>(device.GetSectorCount());
    const uint64_t first = index * kBlock;
    EXPECT_EQ(controller->AnalyzeBlock(static_cast<int64_t>(first),
                                       static_cast<int64_t>(std::min<uint64_t>(kBlock, n - first)), &summary),
              1);
  }
  // Offers the blocks in order, from `fromBlock` to the device's end, then ends the search.
  void Run(IStorageDevice& device, uint64_t fromBlock = 0) {
    Begin(device);
    const uint64_t n = static_cast<uint64_t>(device.GetSectorCount());
    for (uint64_t b = fromBlock; b * kBlock < n; ++b) Block(device, b);
    controller->EndSearch();
  }
  std::vector<uint64_t> Starts() {
    std::vector<uint64_t> out;
    IIterator<CRawFileInfo*>* it = found.GetIterator();
    for (; !it->IsEnd(); it->Next()) out.push_back(it->Current()->GetStartSector());
    return out;
  }
};

TEST(RAWSearchController, SectorsWithAZeroFirstWordAreNeverOffered) {
  Bytes bytes = RandomBytes(30 * kBlock * 512, 1);
  std::memcpy(&bytes[5 * 512], "\0\0\0\0TAGS", 8);  // the tag lies past a zero first word
  std::memcpy(&bytes[6 * 512], "TAGS", 4);
  MemoryDevice device(bytes);

  class FourIn : public IRawFileAnalyser {
   public:
    bool IsFileHeader(const uint8_t* s, CRawFileInfo* f) override {
      if (std::memcmp(s + 4, "TAGS", 4) != 0 && std::memcmp(s, "TAGS", 4) != 0) return false;
      f->SetFileType(1);
      f->SetFileSize(10);
      return true;
    }
  };
  Scan scan;
  scan.analysers.push_back(std::make_unique<FourIn>());
  scan.Run(device);
  EXPECT_EQ(scan.Starts(), (std::vector<uint64_t>{6}));
  EXPECT_EQ(scan.summary.FilesIdentified, 1);
  EXPECT_EQ(scan.summary.TotalFilesFound, 1);
}

TEST(RAWSearchController, TheAnalyserEarlierInTheListWins) {
  MemoryDevice device = TaggedDevice(3, {{17, "BOTH"}});
  Scan scan;
  scan.Add(std::make_unique<Stub>("BOTH", 21, 500));
  scan.Add(std::make_unique<Stub>("BOTH", 44, 600));
  scan.Run(device);
  CRawFileInfo* f = scan.found.FindByStartSector(17);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->GetAnalyserTypeId(), 21);
  EXPECT_EQ(f->GetAnalyser(), *scan.analysers.begin());
  EXPECT_EQ(f->GetFileSize(), 500u);
}

TEST(RAWSearchController, FileOfBlockZeroIsMeasuredWhileBlockTwentyIsAnalysed) {
  MemoryDevice device = TaggedDevice(22, {{3, "LATE"}, {kBlock + 2, "LATE"}});
  Scan scan;
  Stub* stub = scan.Add(std::make_unique<Stub>("LATE", 7));
  scan.Begin(device);
  for (uint64_t b = 0; b < 20; ++b) scan.Block(device, b);
  EXPECT_TRUE(stub->measured.empty());
  EXPECT_EQ(scan.controller->PendingCount(), 2u);

  const uint64_t readsBefore = device.ReadCount();
  scan.Block(device, 20);
  ASSERT_EQ(stub->measured.size(), 1u);
  EXPECT_EQ(stub->measured[0].start, 3u);
  EXPECT_TRUE(stub->measured[0].sawTag);
  // The analyser sees the whole device's size, and reads block 0 from the ring, not the disk: the
  // only device read of this step is block 20 itself.
  EXPECT_EQ(stub->measured[0].deviceSectors, device.GetSectorCount());
  EXPECT_EQ(device.ReadCount() - readsBefore, 1u);
  EXPECT_EQ(scan.found.FindByStartSector(3)->GetFileSize(), 1000u);

  scan.Block(device, 21);
  EXPECT_EQ(stub->measured.size(), 2u);
  scan.controller->EndSearch();
}

// A header in every sector: every sector is found, but a file inside the files measured before it is
// measured only while their room lasts. Each measured file of 10 sectors leaves room for one copy
// inside it, so about two files in ten are measured, not every one.
TEST(RAWSearchController, HeaderInEverySectorIsFoundEverywhereAndMeasuredInProportion) {
  constexpr uint64_t kBlocks = 30;
  std::vector<std::pair<uint64_t, const char*>> tags;
  for (uint64_t s = 0; s < kBlocks * kBlock; ++s) tags.push_back({s, "EVRY"});
  MemoryDevice device = TaggedDevice(kBlocks, tags);
  Scan scan;
  Stub* stub = scan.Add(std::make_unique<Stub>("EVRY", 7, 0, 10 * 512));
  scan.Run(device);
  EXPECT_EQ(scan.found.GetCount(), kBlocks * kBlock);
  EXPECT_EQ(scan.summary.FilesIdentified, static_cast<int64_t>(kBlocks * kBlock));
  // The files of the first 10 blocks are measured in the scan (the others wait in the ring): 0, 1,
  // 11, 12, 22, 23, ...
  std::vector<uint64_t> starts;
  for (const Stub::Measured& m : stub->measured) starts.push_back(m.start);
  ASSERT_GE(starts.size(), 4u);
  EXPECT_EQ(std::vector<uint64_t>(starts.begin(), starts.begin() + 4), (std::vector<uint64_t>{0, 1, 11, 12}));
  EXPECT_LE(starts.size(), 2 * (10 * kBlock / 11 + 1));
  // The files passed over keep size 0 for the result tree, which takes them by the same rule.
  EXPECT_EQ(scan.found.FindByStartSector(2)->GetFileSize(), 0u);
  EXPECT_EQ(scan.found.FindByStartSector(11)->GetFileSize(), 10u * 512);
}

TEST(RAWSearchController, ScanOfTwentyBlocksOrFewerLeavesEveryPendingFileAtSizeZero) {
  MemoryDevice device = TaggedDevice(20, {{1, "WAIT"}, {100, "WAIT"}, {300, "WAIT"}});
  Scan scan;
  Stub* stub = scan.Add(std::make_unique<Stub>("WAIT", 7));
  scan.Run(device);
  EXPECT_TRUE(stub->measured.empty());
  EXPECT_EQ(scan.Starts(), (std::vector<uint64_t>{1, 100, 300}));
  for (uint64_t s : {1, 100, 300}) EXPECT_EQ(scan.found.FindByStartSector(s)->GetFileSize(), 0u);
  EXPECT_EQ(scan.controller->PendingCount(), 0u);
}

TEST(RAWSearchController, NoChosenTypesReadsNothing) {
  MemoryDevice device = TaggedDevice(4, {{1, "NONE"}});
  Scan scan;
  scan.Run(device);
  EXPECT_EQ(device.ReadCount(), 0u);
  EXPECT_EQ(scan.found.GetCount(), 0u);

  // The same through the process-wide list and an empty choice of types.
  std::vector<int32_t> saved = GetRecoveryContext().RawFileTypes;
  GetRecoveryContext().RawFileTypes.clear();
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  controller.SetStorageDevice(&device);
  controller.SetSectorsPerRead(kBlock);
  controller.BeginSearch();
  IntelligentSearchSummary summary;
  EXPECT_EQ(controller.AnalyzeBlock(0, kBlock, &summary), 1);
  controller.EndSearch();
  EXPECT_EQ(device.ReadCount(), 0u);
  GetRecoveryContext().RawFileTypes = saved;
}

TEST(RAWSearchController, ExceptionsOfAnalysersAreRefusalsAndUnmeasuredSizes) {
  MemoryDevice device = TaggedDevice(23, {{2, "THRO"}, {5, "FAIL"}, {9, "OKAY"}});
  Scan scan;
  Stub* throwing = scan.Add(std::make_unique<Stub>("THRO", 1));
  throwing->throwInHeader = true;
  Stub* failing = scan.Add(std::make_unique<Stub>("FAIL", 2, 0, 4444));
  failing->failCompute = true;
  Stub* computeThrows = scan.Add(std::make_unique<Stub>("OKAY", 3));
  computeThrows->throwInCompute = true;
  scan.Run(device);
  EXPECT_EQ(scan.found.FindByStartSector(2), nullptr);
  // A failed or interrupted length pass leaves size 0 for the result tree to measure again.
  ASSERT_NE(scan.found.FindByStartSector(5), nullptr);
  EXPECT_EQ(scan.found.FindByStartSector(5)->GetFileSize(), 0u);
  EXPECT_EQ(failing->measured.size(), 1u);
  ASSERT_NE(scan.found.FindByStartSector(9), nullptr);
  EXPECT_EQ(scan.found.FindByStartSector(9)->GetFileSize(), 0u);
}

TEST(RAWSearchController, ScanThatSkipsABlockOrStartsLaterMeasuresTheRightBytes) {
  // Block 2 cannot be read; files after it must still be measured against their own sectors.
  MemoryDevice device = TaggedDevice(50, {{3 * kBlock + 1, "SKIP"}, {25 * kBlock + 4, "SKIP"}});
  device.SetBadSector(2 * kBlock + 5);
  Scan scan;
  Stub* stub = scan.Add(std::make_unique<Stub>("SKIP", 7));
  scan.Run(device);
  ASSERT_EQ(stub->measured.size(), 2u);
  for (const auto& m : stub->measured) EXPECT_TRUE(m.sawTag) << m.start;

  // A scan beginning at block 5: the first file lies in block 5 and is measured 20 blocks later.
  MemoryDevice later = TaggedDevice(40, {{5 * kBlock + 3, "LATE"}});
  Scan from5;
  Stub* s5 = from5.Add(std::make_unique<Stub>("LATE", 7));
  from5.Begin(later);
  for (uint64_t b = 5; b < 25; ++b) from5.Block(later, b);
  EXPECT_TRUE(s5->measured.empty());
  from5.Block(later, 25);
  ASSERT_EQ(s5->measured.size(), 1u);
  EXPECT_TRUE(s5->measured[0].sawTag);
  from5.controller->EndSearch();
}

TEST(RAWSearchController, SizesNeverPassTheLimitOrTheDeviceEnd) {
  ScopedMaxRawFileSize limit(30000);
  MemoryDevice device = TaggedDevice(22, {{1, "HUGE"}, {2, "LONG"}, {22 * kBlock - 2, "TAIL"}});
  Scan scan;
  scan.Add(std::make_unique<Stub>("HUGE", 1, 0xFFFFFFFFFFull));
  scan.Add(std::make_unique<Stub>("LONG", 2, 0, 0xFFFFFFFFFFull));
  scan.Add(std::make_unique<Stub>("TAIL", 3, 20000));
  scan.Run(device);
  EXPECT_EQ(scan.found.FindByStartSector(1)->GetFileSize(), 30000u);
  EXPECT_EQ(scan.found.FindByStartSector(2)->GetFileSize(), 30000u);
  EXPECT_EQ(scan.found.FindByStartSector(22 * kBlock - 2)->GetFileSize(), 1024u);
}

TEST(RAWSearchController, ARefusingAnalysersLeftoversNeverReachTheWinner) {
  // The first analyser writes a size and refuses; the second accepts and leaves the size to its
  // length pass, so the file must wait for measuring with size 0.
  class SizeThenRefuse : public IRawFileAnalyser {
   public:
    bool IsFileHeader(const uint8_t*, CRawFileInfo* f) override {
      f->SetFileType(9);
      f->SetFileSize(70000);
      return false;
    }
  };
  MemoryDevice device = TaggedDevice(22, {{4, "TYPE"}});
  Scan scan;
  scan.analysers.push_back(std::make_unique<SizeThenRefuse>());
  Stub* stub = scan.Add(std::make_unique<Stub>("TYPE", 33, 0, 1234));
  scan.Run(device);
  ASSERT_EQ(stub->measured.size(), 1u);
  EXPECT_EQ(scan.found.FindByStartSector(4)->GetFileSize(), 1234u);
}

TEST(RAWSearchController, ShortLastBlockAndFourKilobyteSectors) {
  Bytes bytes = RandomBytes((21 * kBlock + 5) * 4096, 9);
  std::memcpy(&bytes[4096 * 3], "QUAD", 4);
  std::memcpy(&bytes[4096 * (21 * kBlock + 2)], "QUAD", 4);
  MemoryDevice device(bytes, 4096);
  Scan scan;
  Stub* stub = scan.Add(std::make_unique<Stub>("QUAD", 5));
  scan.Run(device);
  EXPECT_EQ(scan.Starts(), (std::vector<uint64_t>{3, 21 * kBlock + 2}));
  ASSERT_EQ(stub->measured.size(), 1u);
  EXPECT_TRUE(stub->measured[0].sawTag);
}

TEST(RAWSearchControllerInTheSearch, StartPositionShiftsNothing) {
  // The whole-device search over 26 blocks of 4 MiB, told to start at sector 3 x 8192 + 5: it starts
  // at block 3, reading through its read-ahead cache. The file in block 1 is never offered; the
  // file in block 3 is measured against its own bytes when block 23 comes, the one in block 6 is
  // left to the result tree.
  constexpr uint64_t kDriverBlock = 8192;
  Bytes bytes(26 * kDriverBlock * 512, 0);
  for (uint64_t s : {kDriverBlock + 7, 3 * kDriverBlock + 9, 6 * kDriverBlock + 1})
    std::memcpy(&bytes[s * 512], "DRVR", 4);
  MemoryDevice device(bytes);

  CRawFileAnalyserList analysers;
  auto stub = std::make_unique<Stub>("DRVR", 12);
  Stub* s = stub.get();
  analysers.push_back(std::move(stub));
  CRawFileInfoList found;
  CRAWSearchController controller(&analysers);
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return 3 * kDriverBlock + 5; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);

  EXPECT_EQ(found.FindByStartSector(kDriverBlock + 7), nullptr);
  ASSERT_EQ(s->measured.size(), 1u);
  EXPECT_EQ(s->measured[0].start, 3 * kDriverBlock + 9);
  EXPECT_TRUE(s->measured[0].sawTag);
  EXPECT_EQ(s->measured[0].deviceSectors, device.GetSectorCount());
  EXPECT_EQ(found.FindByStartSector(3 * kDriverBlock + 9)->GetFileSize(), 1000u);
  ASSERT_NE(found.FindByStartSector(6 * kDriverBlock + 1), nullptr);
  EXPECT_EQ(found.FindByStartSector(6 * kDriverBlock + 1)->GetFileSize(), 0u);
  EXPECT_EQ(driver.GetSummary().FilesIdentified, 2);
}

}  // namespace
