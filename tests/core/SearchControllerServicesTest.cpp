// The services every user of a whole-device search shares: one list of carved files for all
// controllers, the found partitions of all controllers gathered and chosen, and a found partition's
// tree built by the kind of controller that handles its file system.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/FileNode.h"
#include "core/IFileSystemSearchController.h"
#include "core/SearchedPartitionInfo.h"
#include "storage/FileSystemCode.h"

namespace {

class FakeSearchController : public IFileSystemSearchController {
 public:
  FakeSearchController(int32_t kind, std::vector<int32_t> accepted, std::vector<int64_t> starts)
      : m_kind(kind), m_accepted(std::move(accepted)), m_starts(std::move(starts)) {}
  void SetStorageDevice(IStorageDevice*) override {}
  void SetSectorsPerRead(int32_t) override {}
  void BeginSearch() override {}
  int32_t AnalyzeBlock(int64_t, int64_t, IntelligentSearchSummary*) override { return 0; }
  void GetResults(SearchedPartitionInfoList* list) override {
    for (int64_t start : m_starts) {
      auto info = std::make_unique<CSearchedPartitionInfo>(512);
      info->SetFileSystemType(m_accepted.empty() ? kFileSystemUnknown : m_accepted.front());
      info->SetStartSector(start);
      info->SetPartitionStart(start);
      info->SetSectorCount(1000);
      info->SetFilesMatch(10);
      list->push_back(std::move(info));
    }
  }
  void SetResultSink(CRawFileInfoList* sink) override { this->sink = sink; }
  void SaveState(IRSData&) override {}
  void LoadState(IRSData&) override {}
  int32_t GetKind() override { return m_kind; }
  CFileSystemNode* BuildPartitionDirectory(CSearchedPartitionInfo*, IStorageDevice*, int32_t index,
                                           IDIRBuildCallback*) override {
    ++builds;
    lastIndex = index;
    return nullptr;
  }
  bool AcceptsPartitionType(int32_t type) override {
    for (int32_t a : m_accepted)
      if (a == type) return true;
    return false;
  }

  CRawFileInfoList* sink = nullptr;
  int builds = 0;
  int32_t lastIndex = -1;

 private:
  int32_t m_kind;
  std::vector<int32_t> m_accepted;
  std::vector<int64_t> m_starts;
};

TEST(SearchControllerServices, EveryControllerGetsTheSameSink) {
  FakeSearchController a(SEARCH_CONTROLLER_FAT, {}, {}), b(SEARCH_CONTROLLER_RAW, {}, {});
  auto* sink = reinterpret_cast<CRawFileInfoList*>(&a);  // only compared, never used
  SetResultSinkForAllControllers({&a, nullptr, &b}, sink);
  EXPECT_EQ(a.sink, sink);
  EXPECT_EQ(b.sink, sink);
}

TEST(SearchControllerServices, GathersEveryControllersPartitionsAndChoosesALayout) {
  FakeSearchController fat(SEARCH_CONTROLLER_FAT, {kFileSystemFat32}, {2048});
  FakeSearchController ntfs(SEARCH_CONTROLLER_NTFS, {kFileSystemNtfs}, {8192, 20000});
  const SearchedPartitionInfoList found = CollectSearchedPartitions({&fat, &ntfs}, 40000);
  ASSERT_EQ(found.size(), 3u);
  int chosen = 0;
  for (const auto& info : found) chosen += info->GetChosenMark() == 1;
  EXPECT_GE(chosen, 1);
}

TEST(SearchControllerServices, BuildsWithTheControllerOfThePartitionsFileSystem) {
  FakeSearchController fat(SEARCH_CONTROLLER_FAT, {kFileSystemFat12, kFileSystemFat16, kFileSystemFat32}, {});
  FakeSearchController ntfs(SEARCH_CONTROLLER_NTFS, {kFileSystemNtfs}, {});
  FakeSearchController raw(SEARCH_CONTROLLER_RAW, {}, {});
  std::vector<IFileSystemSearchController*> all{&raw, &fat, &ntfs};
  CSearchedPartitionInfo partition(512);
  auto* device = reinterpret_cast<IStorageDevice*>(&partition);  // only passed on
  struct Case {
    int32_t type;
    FakeSearchController* builder;
  };
  for (const Case& c :
       {Case{kFileSystemNtfs, &ntfs}, Case{kFileSystemFat16, &fat}, Case{kFileSystemExt2, nullptr}}) {
    for (auto* f : {&fat, &ntfs, &raw}) f->builds = 0;
    partition.SetFileSystemType(c.type);
    EXPECT_EQ(BuildDirectoryWithMatchingController(all, &partition, device, 3, nullptr), nullptr);
    for (auto* f : {&fat, &ntfs, &raw}) EXPECT_EQ(f->builds, f == c.builder ? 1 : 0) << c.type;
    if (c.builder) {
      EXPECT_EQ(c.builder->lastIndex, 3);
    }
  }
  EXPECT_EQ(BuildDirectoryWithMatchingController(all, nullptr, device, 0, nullptr), nullptr);
  EXPECT_EQ(BuildDirectoryWithMatchingController(all, &partition, nullptr, 0, nullptr), nullptr);
}

}  // namespace
