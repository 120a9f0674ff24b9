#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/IntelligentSearchController.h"
#include "core/TimingScope.h"
#include "platform/Allocation.h"
#include "platform/Log.h"
#include "platform/ProgramFolder.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "storage/StorageDeviceWithCache.h"
#include "support/Fixtures.h"

namespace {

using corvale::log::ScopedCapture;

constexpr uint64_t kB512 = 8192;  // block length in 512-byte sectors

// Every sector starts with its own number (8 bytes, little-endian), so a controller can tell
// whether the sectors it was handed are the ones it asked for.
std::vector<uint8_t> StampedBytes(uint64_t sectors, int32_t sectorSize) {
  std::vector<uint8_t> bytes(sectors * static_cast<size_t>(sectorSize), 0xA5);
  for (uint64_t s = 0; s < sectors; ++s) {
    for (int b = 0; b < 8; ++b) bytes[s * sectorSize + b] = static_cast<uint8_t>(s >> (8 * b));
  }
  return bytes;
}

uint64_t StampOf(const uint8_t* sector) {
  uint64_t v = 0;
  for (int b = 0; b < 8; ++b) v |= static_cast<uint64_t>(sector[b]) << (8 * b);
  return v;
}

struct Offer {
  int64_t first;
  int64_t count;
  bool readOk;       // the block read through the search's device succeeded
  bool stampsRight;  // every sector of it held its own number
  bool operator==(const Offer&) const = default;
};

// Everything the controllers and the callback were told, in the order it happened.
struct Journal {
  std::vector<std::string> events;
  void Add(std::string e) { events.push_back(std::move(e)); }
};

class FakeController : public IFileSystemSearchController {
 public:
  FakeController(Journal* journal, std::string name, int32_t kind)
      : m_journal(journal), m_name(std::move(name)), m_kind(kind) {}

  void SetStorageDevice(IStorageDevice* device) override {
    m_device = device;
    gotCachedDevice = dynamic_cast<CStorageDeviceWithCache*>(device) != nullptr;
    m_journal->Add(m_name + ".SetStorageDevice");
  }
  void SetSectorsPerRead(int32_t sectors) override {
    m_sectorsPerRead = sectors;
    m_journal->Add(m_name + ".SetSectorsPerRead");
  }
  void BeginSearch() override {
    m_journal->Add(m_name + ".BeginSearch");
    if (m_device && m_sectorsPerRead > 0)
      m_buffer.assign(static_cast<size_t>(m_sectorsPerRead) * m_device->GetSectorSize(), 0);
  }
  void EndSearch() override {
    m_journal->Add(m_name + ".EndSearch");
    ++endSearchCalls;
    if (throwInEndSearch) throw std::runtime_error("end failed");
  }
  int32_t AnalyzeBlock(int64_t first, int64_t count, IntelligentSearchSummary* summary) override {
    m_journal->Add(m_name + ".AnalyzeBlock " + std::to_string(first));
    analyzeThread = std::this_thread::get_id();
    const int32_t sectorSize = m_device->GetSectorSize();
    Offer offer{first, count, false, false};
    if (count > 0 && count <= m_sectorsPerRead) {
      offer.readOk =
          m_device->ReadSectors(m_buffer.data(), static_cast<uint64_t>(first), static_cast<uint64_t>(count));
      offer.stampsRight = true;
      for (int64_t s = 0; s < count; ++s)
        offer.stampsRight &= StampOf(&m_buffer[s * sectorSize]) == static_cast<uint64_t>(first + s);
    }
    offers.push_back(offer);
    if (countInSummary) {
      for (size_t i = 0; i < IntelligentSearchSummary::kCounterCount; ++i) summary->At(i) += 1;
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    if (throwAtBlock >= 0 && offers.size() == static_cast<size_t>(throwAtBlock) + 1) {
      if (throwNonStandard) throw 42;
      throw std::runtime_error("bad structure");
    }
    return 1;
  }
  void GetResults(SearchedPartitionInfoList*) override {}
  void SetResultSink(CRawFileInfoList*) override {}
  void SaveState(IRSData&) override {}
  void LoadState(IRSData&) override {}
  int32_t GetKind() override { return m_kind; }

  IStorageDevice* device() const { return m_device; }
  int32_t sectorsPerRead() const { return m_sectorsPerRead; }

  std::vector<Offer> offers;
  int endSearchCalls = 0;
  bool gotCachedDevice = false;
  bool countInSummary = false;
  bool throwInEndSearch = false;
  int throwAtBlock = -1;  // index among the offers this controller got
  bool throwNonStandard = false;
  std::chrono::milliseconds delay{0};
  std::thread::id analyzeThread;

 private:
  Journal* m_journal;
  std::string m_name;
  int32_t m_kind;
  IStorageDevice* m_device = nullptr;
  int32_t m_sectorsPerRead = 0;
  std::vector<uint8_t> m_buffer;
};

class FakeCallback : public IIntelligentSearchCallback {
 public:
  explicit FakeCallback(Journal* journal) : m_journal(journal) {}
  void SetProgress(int64_t block) override {
    m_journal->Add("SetProgress " + std::to_string(block));
    progress.push_back(block);
    callbackThread = std::this_thread::get_id();
  }
  void SetRange(int64_t first, int64_t end) override {
    m_journal->Add("SetRange " + std::to_string(first) + " " + std::to_string(end));
  }
  bool IsCancelled() override {
    ++cancelQueries;
    return cancelAfterQueries >= 0 && cancelQueries > cancelAfterQueries;
  }
  void OnBlockDone() override { m_journal->Add("OnBlockDone"); }
  void GetSummary(IntelligentSearchSummary* out) override {
    *out = summaries.empty() ? IntelligentSearchSummary{} : summaries.back();
  }
  void SetSummary(const IntelligentSearchSummary* summary) override {
    m_journal->Add("SetSummary");
    summaries.push_back(*summary);
  }
  void OnSearchFinished() override {
    ++finishedCalls;
    finishedThread = std::this_thread::get_id();
  }

  std::vector<int64_t> progress;
  std::vector<IntelligentSearchSummary> summaries;
  int cancelQueries = 0;
  int cancelAfterQueries = -1;  // answer "cancelled" once this many queries were answered "no"
  int finishedCalls = 0;
  std::thread::id callbackThread;
  std::thread::id finishedThread;

 private:
  Journal* m_journal;
};

std::vector<Offer> WholeBlocks(uint64_t firstBlock, uint64_t sectors, uint64_t blockSectors) {
  std::vector<Offer> out;
  for (uint64_t s = firstBlock * blockSectors; s < sectors; s += blockSectors)
    out.push_back(
        {static_cast<int64_t>(s), static_cast<int64_t>(std::min(blockSectors, sectors - s)), true, true});
  return out;
}

std::vector<std::string> Matching(const std::vector<std::string>& events, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : events)
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  return out;
}

CIntelligentSearchController::StartSectorSource StartAt(uint64_t sector) {
  return [sector] { return sector; };
}

// ---------------------------------------------------------------------------------------------
// Every block, in order, with the right sectors.

struct DeviceCase {
  const char* name;
  int32_t sectorSize;
  uint64_t sectors;
  uint64_t blockSectors;
};

class SearchOffersEveryBlock : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(SearchOffersEveryBlock, InOrderWithTheirOwnSectorsAndAShortLastBlock) {
  const DeviceCase& c = GetParam();
  MemoryDevice device(StampedBytes(c.sectors, c.sectorSize), c.sectorSize);
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  FakeController ntfs(&journal, "NTFS", SEARCH_CONTROLLER_NTFS);
  FakeCallback callback(&journal);

  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  driver.AddFileSystemSearchController(&ntfs);
  ASSERT_EQ(driver.Search(&callback), 1);
  EXPECT_EQ(driver.IsFinished(), 1);

  const std::vector<Offer> expected = WholeBlocks(0, c.sectors, c.blockSectors);
  EXPECT_EQ(fat.offers, expected);
  EXPECT_EQ(ntfs.offers, expected);
  EXPECT_EQ(fat.sectorsPerRead(), static_cast<int32_t>(c.blockSectors));
  // The controllers read through the search's read-ahead cache, not the device itself.
  EXPECT_TRUE(fat.gotCachedDevice);
  EXPECT_EQ(fat.device(), ntfs.device());

  // The device was read once, in ascending order, with no sector twice.
  uint64_t next = 0;
  for (const auto& [first, count] : device.ReadLog()) {
    EXPECT_EQ(first, next);
    next = first + count;
  }
  EXPECT_EQ(next, c.sectors);

  // Set-up in three rounds, then each block to every controller in the order they were added,
  // then the callback, then EndSearch in order.
  std::vector<std::string> want = {"FAT.SetStorageDevice",
                                   "NTFS.SetStorageDevice",
                                   "FAT.SetSectorsPerRead",
                                   "NTFS.SetSectorsPerRead",
                                   "FAT.BeginSearch",
                                   "NTFS.BeginSearch",
                                   "SetRange 0 " + std::to_string(expected.size())};
  for (size_t i = 0; i < expected.size(); ++i) {
    want.push_back("FAT.AnalyzeBlock " + std::to_string(expected[i].first));
    want.push_back("NTFS.AnalyzeBlock " + std::to_string(expected[i].first));
    want.push_back("SetSummary");
    want.push_back("SetProgress " + std::to_string(i));
    want.push_back("OnBlockDone");
  }
  want.push_back("FAT.EndSearch");
  want.push_back("NTFS.EndSearch");
  EXPECT_EQ(journal.events, want);
  EXPECT_EQ(callback.cancelQueries, static_cast<int>(expected.size()));
}

INSTANTIATE_TEST_SUITE_P(Devices, SearchOffersEveryBlock,
                         ::testing::Values(DeviceCase{"FiveAndAHalfBlocksOf512", 512, 5 * kB512 + kB512 / 2,
                                                      kB512},
                                           DeviceCase{"ExactlyTwoBlocksOf512", 512, 2 * kB512, kB512},
                                           DeviceCase{"LastBlockOfOneSector", 512, 2 * kB512 + 1, kB512},
                                           DeviceCase{"SectorsOf4096", 4096, 3 * 1024 + 7, 1024},
                                           DeviceCase{"SmallerThanABlock", 512, 100, kB512}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IntelligentSearch, ImageFileIsOfferedBlockByBlock) {
  const uint64_t sectors = 2 * kB512 + 300;
  const std::string path = corvale::test::ScratchDir() + "/stamped.img";
  {
    std::vector<uint8_t> bytes = StampedBytes(sectors, 512);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  CImageFileDevice image(path);
  ASSERT_TRUE(image.IsOpened());
  Journal journal;
  FakeController raw(&journal, "RAW", SEARCH_CONTROLLER_RAW);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&image);
  driver.AddFileSystemSearchController(&raw);
  ASSERT_EQ(driver.Search(nullptr), 1);
  EXPECT_EQ(raw.offers, WholeBlocks(0, sectors, kB512));
}

TEST(IntelligentSearch, EmptyControllerListStillWalksAndReportsEveryBlock) {
  MemoryDevice device(StampedBytes(3 * kB512, 512));
  Journal journal;
  FakeCallback callback(&journal);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  ASSERT_EQ(driver.Search(&callback), 1);
  EXPECT_EQ(callback.progress, (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(driver.GetSummary(), IntelligentSearchSummary{});
  EXPECT_EQ(driver.IsFinished(), 1);
}

TEST(IntelligentSearch, BlockThatCannotBeReadIsStillOfferedAndTheRestIsRight) {
  MemoryDevice device(StampedBytes(3 * kB512, 512));
  device.SetBadSector(kB512 + 10);
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  ASSERT_EQ(driver.Search(nullptr), 1);
  ASSERT_EQ(fat.offers.size(), 3u);
  EXPECT_EQ(fat.offers[0], (Offer{0, static_cast<int64_t>(kB512), true, true}));
  // The bad block's read reaches the device, which reports the failure to the controller.
  EXPECT_EQ(fat.offers[1].first, static_cast<int64_t>(kB512));
  EXPECT_FALSE(fat.offers[1].readOk);
  EXPECT_EQ(fat.offers[2], (Offer{static_cast<int64_t>(2 * kB512), static_cast<int64_t>(kB512), true, true}));
}

// ---------------------------------------------------------------------------------------------
// Where the pass starts.

struct StartCase {
  const char* name;
  uint64_t pos;
  uint64_t firstBlock;
};

class SearchStartPosition : public ::testing::TestWithParam<StartCase> {};

TEST_P(SearchStartPosition, StartsAtTheBlockHoldingPosWithThatBlocksOwnData) {
  const StartCase& c = GetParam();
  const uint64_t sectors = 5 * kB512 + 77;
  MemoryDevice device(StampedBytes(sectors, 512));
  Journal journal;
  FakeController ext2(&journal, "EXT2", SEARCH_CONTROLLER_EXT2);
  FakeCallback callback(&journal);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(c.pos));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&ext2);
  ASSERT_EQ(driver.Search(&callback), 1);

  EXPECT_EQ(ext2.offers, WholeBlocks(c.firstBlock, sectors, kB512));
  // Nothing before the start block is read; the range still counts every block of the device.
  for (const auto& [first, count] : device.ReadLog()) EXPECT_GE(first, c.firstBlock * kB512);
  EXPECT_EQ(Matching(journal.events, "SetRange"), std::vector<std::string>{"SetRange 0 6"});
  ASSERT_FALSE(callback.progress.empty());
  EXPECT_EQ(callback.progress.front(), static_cast<int64_t>(c.firstBlock));
}

INSTANTIATE_TEST_SUITE_P(Positions, SearchStartPosition,
                         ::testing::Values(StartCase{"Zero", 0, 0},
                                           StartCase{"LastSectorOfBlock0", kB512 - 1, 0},
                                           StartCase{"InsideBlock3", 3 * kB512 + 5, 3},
                                           StartCase{"InTheShortLastBlock", 5 * kB512 + 3, 5},
                                           StartCase{"PastTheDeviceEnd", 1000 * kB512, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

// The default start comes from config.ini in the program folder. The file is only written when
// there is none, and removed again at once.
TEST(IntelligentSearch, StartPositionComesFromConfigIniByDefault) {
  const std::string folder = platform::ProgramFolder();
  if (folder.empty()) GTEST_SKIP() << "no program folder";
  const std::string path = folder + "config.ini";
  if (::access(path.c_str(), F_OK) == 0) GTEST_SKIP() << path << " exists already; not touching it";
  {
    std::ofstream ini(path);
    ini << "[main]\npos=" << 3 * kB512 + 5 << "\n";
  }
  struct Remove {
    std::string path;
    ~Remove() { std::remove(path.c_str()); }
  } remove{path};

  const uint64_t sectors = 4 * kB512 + 9;
  MemoryDevice device(StampedBytes(sectors, 512));
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  CIntelligentSearchController driver;
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  ASSERT_EQ(driver.Search(nullptr), 1);
  EXPECT_EQ(fat.offers, WholeBlocks(3, sectors, kB512));
}

// ---------------------------------------------------------------------------------------------
// Progress, summary and the log.

std::vector<std::string> SummaryLines(const ScopedCapture& capture) {
  std::vector<std::string> out;
  bool in = false;
  for (const auto& line : capture.Lines()) {
    if (line.channel != corvale::log::Channel::Info) continue;
    if (line.text == "Intelligent search result summary:") in = true;
    if (in) out.push_back(line.text);
  }
  return out;
}

TEST(IntelligentSearch, SummaryCountersRunOverThePassExceptThePerBlockOnes) {
  MemoryDevice device(StampedBytes(3 * kB512, 512));
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  FakeController ntfs(&journal, "NTFS", SEARCH_CONTROLLER_NTFS);
  fat.countInSummary = true;
  ntfs.countInSummary = true;
  FakeCallback callback(&journal);
  ScopedCapture capture;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  driver.AddFileSystemSearchController(&ntfs);
  ASSERT_EQ(driver.Search(&callback), 1);

  // Each controller adds 1 to every counter per block: the window sees 2 per block on the counters
  // cleared at each block, and the running total on the others.
  ASSERT_EQ(callback.summaries.size(), 3u);
  for (size_t block = 0; block < 3; ++block) {
    const IntelligentSearchSummary& s = callback.summaries[block];
    for (size_t i = 0; i < IntelligentSearchSummary::kCounterCount; ++i) {
      const bool perBlock = i == 8 || i == 9 || i == 11 || i == 14 || i == 15;
      EXPECT_EQ(s.At(i), perBlock ? 2 : 2 * static_cast<int64_t>(block + 1))
          << "block " << block << " counter " << i;
    }
  }
  EXPECT_EQ(driver.GetSummary(), callback.summaries.back());

  EXPECT_EQ(SummaryLines(capture), (std::vector<std::string>{
                                       "Intelligent search result summary:",
                                       "FATBootRecords = 6",
                                       "FATFolderParts = 6",
                                       "FATFolders = 6",
                                       "FilesIdentified = 6",
                                       "NTFSBootRecords = 6",
                                       "NTFSFileRecords = 6",
                                       "TotalFilesFound = 6",
                                       "---------------------------------\r\n",
                                   }));
  EXPECT_EQ(capture.Count("---------------------------------"), 1u);
}

TEST(IntelligentSearch, SummaryRecordNumbersItsCountersAsTheWindowShowsThem) {
  IntelligentSearchSummary s;
  s.PartitionTables = 100;
  s.FATBootRecords = 101;
  s.FATFolders = 102;
  s.FATFolderParts = 103;
  s.NTFSBootRecords = 104;
  s.NTFSFileRecords = 105;
  s.FilesIdentified = 106;
  s.TotalFilesFound = 107;
  for (int i = 0; i < 8; ++i) s.WorkCounters[i] = 108 + i;
  int64_t raw[16];
  std::memcpy(raw, &s, sizeof raw);
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(s.At(i), static_cast<int64_t>(100 + i));
    EXPECT_EQ(raw[i], static_cast<int64_t>(100 + i));
  }
}

TEST(IntelligentSearch, EveryAnalyzeBlockCallIsTimedUnderTheControllersKindName) {
  MemoryDevice device(StampedBytes(2 * kB512, 512));
  Journal journal;
  FakeController c0(&journal, "a", SEARCH_CONTROLLER_NTFS);
  FakeController c1(&journal, "b", SEARCH_CONTROLLER_FAT);
  FakeController c2(&journal, "c", SEARCH_CONTROLLER_RAW);
  FakeController c3(&journal, "d", SEARCH_CONTROLLER_EXT2);
  ScopedCapture capture;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  for (FakeController* c : {&c0, &c1, &c2, &c3}) driver.AddFileSystemSearchController(c);
  ASSERT_EQ(driver.Search(nullptr), 1);

  std::vector<std::string> kinds;
  for (const auto& line : capture.Lines()) {
    if (line.channel != corvale::log::Channel::DebugOutput) continue;
    char name[16];
    double ms = -1;
    if (std::sscanf(line.text.c_str(), "Call File system %15s AnalyzeBlock time = %lfms", name, &ms) == 2) {
      kinds.push_back(name);
      EXPECT_GE(ms, 0.0);
      EXPECT_NE(line.text.find('.'), std::string::npos);
    }
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"NTFS", "FAT", "RAW", "EXT2", "NTFS", "FAT", "RAW", "EXT2"}));
}

// ---------------------------------------------------------------------------------------------
// Cancel.

struct CancelCase {
  const char* name;
  int answeredNo;  // blocks started before the cancel
};

class SearchCancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(SearchCancel, StopsBeforeTheNextBlockAndStillEndsThePass) {
  const CancelCase& c = GetParam();
  MemoryDevice device(StampedBytes(4 * kB512, 512));
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  FakeController raw(&journal, "RAW", SEARCH_CONTROLLER_RAW);
  FakeCallback callback(&journal);
  callback.cancelAfterQueries = c.answeredNo;
  ScopedCapture capture;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  driver.AddFileSystemSearchController(&raw);
  ASSERT_EQ(driver.Search(&callback), 1);

  EXPECT_EQ(fat.offers, WholeBlocks(0, c.answeredNo * kB512, kB512));
  EXPECT_EQ(raw.offers.size(), static_cast<size_t>(c.answeredNo));
  EXPECT_EQ(callback.progress.size(), static_cast<size_t>(c.answeredNo));
  EXPECT_EQ(fat.endSearchCalls, 1);
  EXPECT_EQ(raw.endSearchCalls, 1);
  EXPECT_EQ(journal.events.back(), "RAW.EndSearch");
  EXPECT_TRUE(capture.Has("Intelligent search was cancelled by user!"));
  EXPECT_TRUE(capture.Has("Intelligent search result summary:"));
  EXPECT_TRUE(capture.Has("TotalFilesFound = 0"));
  EXPECT_EQ(driver.IsFinished(), 1);
}

INSTANTIATE_TEST_SUITE_P(When, SearchCancel,
                         ::testing::Values(CancelCase{"BeforeTheFirstBlock", 0},
                                           CancelCase{"AfterTwoBlocks", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A controller that throws.

struct ThrowCase {
  const char* name;
  bool nonStandard;
  const char* logged;
};

class SearchControllerThrows : public ::testing::TestWithParam<ThrowCase> {};

TEST_P(SearchControllerThrows, OnlyItsOwnCallIsLostAndThePassGoesOn) {
  const ThrowCase& c = GetParam();
  MemoryDevice device(StampedBytes(3 * kB512, 512));
  Journal journal;
  FakeController ntfs(&journal, "NTFS", SEARCH_CONTROLLER_NTFS);
  FakeController raw(&journal, "RAW", SEARCH_CONTROLLER_RAW);
  ntfs.throwAtBlock = 1;
  ntfs.throwNonStandard = c.nonStandard;
  ScopedCapture capture;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&ntfs);
  driver.AddFileSystemSearchController(&raw);
  ASSERT_EQ(driver.Search(nullptr), 1);

  // The controller after the thrower still gets the block, and the thrower gets the next ones.
  EXPECT_EQ(raw.offers, WholeBlocks(0, 3 * kB512, kB512));
  EXPECT_EQ(ntfs.offers, WholeBlocks(0, 3 * kB512, kB512));
  EXPECT_EQ(ntfs.endSearchCalls, 1);
  EXPECT_EQ(raw.endSearchCalls, 1);
  EXPECT_TRUE(capture.Has(
      std::string("NTFS search controller: AnalyzeBlock of the block at sector 8192 failed: ") + c.logged));
  EXPECT_EQ(driver.IsFinished(), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SearchControllerThrows,
                         ::testing::Values(ThrowCase{"StandardException", false, "bad structure"},
                                           ThrowCase{"AnythingElse", true, "unknown exception"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IntelligentSearch, ControllerThatThrowsInEndSearchLeavesTheOthersTheirs) {
  MemoryDevice device(StampedBytes(kB512, 512));
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  FakeController ntfs(&journal, "NTFS", SEARCH_CONTROLLER_NTFS);
  fat.throwInEndSearch = true;
  ScopedCapture capture;
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);
  driver.AddFileSystemSearchController(&ntfs);
  ASSERT_EQ(driver.Search(nullptr), 1);
  EXPECT_EQ(ntfs.endSearchCalls, 1);
  EXPECT_TRUE(capture.Has("FAT search controller: EndSearch failed: end failed"));
  EXPECT_TRUE(capture.Has("TotalFilesFound = 0"));
}

// Running out of memory inside a controller is not a controller failure to log and pass over: the
// process ends on the out-of-memory path.
class BadAllocController : public FakeController {
 public:
  using FakeController::FakeController;
  int32_t AnalyzeBlock(int64_t, int64_t, IntelligentSearchSummary*) override { throw std::bad_alloc(); }
};

TEST(IntelligentSearchDeathTest, OutOfMemoryInAControllerIsNotSwallowed) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        MemoryDevice device(StampedBytes(2 * kB512, 512));
        Journal journal;
        BadAllocController bad(&journal, "FAT", SEARCH_CONTROLLER_FAT);
        CIntelligentSearchController driver;
        driver.SetStartSectorSource(StartAt(0));
        driver.SetStorageDevice(&device);
        driver.AddFileSystemSearchController(&bad);
        driver.Search(nullptr);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(platform::kOutOfMemoryExitCode), "");
}

// ---------------------------------------------------------------------------------------------
// The starter thread.

TEST(IntelligentSearch, TheStarterRunsTheSearchAndTheWindowHearsTheEndOnce) {
  MemoryDevice device(StampedBytes(3 * kB512, 512));
  Journal journal;
  FakeController fat(&journal, "FAT", SEARCH_CONTROLLER_FAT);
  fat.delay = std::chrono::milliseconds(20);
  FakeCallback callback(&journal);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource(StartAt(0));
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&fat);

  int32_t result = 0;
  std::thread::id starter;
  std::thread starterThread([&] {
    starter = std::this_thread::get_id();
    result = RunIntelligentSearch(driver, &callback);
  });
  starterThread.join();

  EXPECT_EQ(result, 1);
  EXPECT_EQ(fat.offers.size(), 3u);
  EXPECT_EQ(callback.finishedCalls, 1);
  // Two threads below the window's: the starter runs the search and hears the end, the worker runs
  // the block loop and the progress calls.
  EXPECT_NE(fat.analyzeThread, starter);
  EXPECT_EQ(callback.callbackThread, fat.analyzeThread);
  EXPECT_EQ(callback.finishedThread, starter);
  EXPECT_EQ(driver.IsFinished(), 1);
}

// ---------------------------------------------------------------------------------------------
// The controllers' step timer.

TEST(TimingScope, WritesOnlySlowStepsWithNameSectorAndMilliseconds) {
  ScopedCapture capture;
  { CTimingScope quick("AnalyzeNTFSDBRSector", 77); }
  EXPECT_TRUE(capture.Lines().empty());
  {
    CTimingScope slow("EndSearch", 123456789012);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  ASSERT_EQ(capture.Lines().size(), 1u);
  const auto line = capture.Lines()[0];
  EXPECT_EQ(line.channel, corvale::log::Channel::DebugOutput);
  unsigned ms = 0;
  ASSERT_EQ(std::sscanf(line.text.c_str(), "EndSearch curSector 123456789012 dwElapsedTime %u \n", &ms), 1);
  EXPECT_GE(ms, 31u);
  EXPECT_EQ(line.text.back(), '\n');
}

TEST(TimingScope, LongNameIsCutTo259Characters) {
  ScopedCapture capture;
  const std::string name(400, 'n');
  {
    CTimingScope scope(name.c_str(), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(35));
  }
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0].text.rfind(std::string(259, 'n') + " curSector 1 ", 0), 0u);
}

}  // namespace
