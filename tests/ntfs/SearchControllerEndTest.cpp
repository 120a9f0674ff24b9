// The end of the NTFS search on its own: how candidates are scored from their evidence, which are
// kept when there are many, and what is left of the scan's evidence afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/RawFilesFolder.h"
#include "core/TypedFileExtent.h"
#include "ntfs/NTFSSearchController.h"
#include "platform/RecoveryContext.h"

class NTFSSearchControllerTestAccess {
 public:
  static CSearchedNTFSPartitionInfo& Insert(CNTFSSearchController& c, int64_t start, uint32_t flags,
                                            int64_t foldersMatch = 0, int64_t mftSector = -1) {
    auto candidate = std::make_unique<CSearchedNTFSPartitionInfo>(512);
    candidate->SetFileSystemType(3);
    candidate->SetSectorsPerCluster(8);
    candidate->SetStartSector(start);
    candidate->SetSectorCount(8);
    candidate->SetFoundByFlags(flags);
    candidate->SetFoldersMatch(foldersMatch);
    candidate->SetMftSector(mftSector);
    CSearchedNTFSPartitionInfo& kept = *candidate;
    c.m_candidates.emplace(CNTFSSearchController::CandidateKey{start, 8}, std::move(candidate));
    return kept;
  }
  static void AddExtent(CNTFSSearchController& c, const CTypedFileExtent& extent) {
    c.m_typedExtents.Add(extent);
  }
};

namespace {

using Access = NTFSSearchControllerTestAccess;

TEST(NTFSSearchEnd, ScoreCountsTheEvidence) {
  struct Case {
    uint32_t flags;
    int64_t upCase, logFile, attrDef;
    int64_t score;
  };
  const Case cases[] = {
      // Both boot records and a complete $MFT/$MFTMirr pair.
      {kFoundByFirstBootRecord | kFoundByLastBootRecord | kFoundByMftFilesPair | kFoundByMftMirr, 0, 0, 0,
       60},
      {kFoundBySingleMft, 0, 0, 0, 10},
      {kFoundByFirstRstr | kFoundBySecondRstr, 0, 0, 0, 20},
      // Folder pairings and file analysis weigh nothing here (the folders count elsewhere).
      {kFoundByIndexFolderComparison | kFoundByFilesAnalysis, 0, 0, 0, 0},
      {0x1FF, 0, 0, 0, 90},
      // Each system file adds 10 once enough of it matched, never more.
      {0, 255, 9999, 4, 0},
      {0, 256, 10000, 5, 30},
      {0, 100000, 1000000, 5000, 30},
      {0, -1, -1, -1, 0},
      {0x1FF, 256, 10000, 5, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.flags << std::dec << " " << c.upCase << " " << c.logFile
                                    << " " << c.attrDef);
    CSearchedNTFSPartitionInfo candidate(512);
    candidate.SetFoundByFlags(c.flags);
    candidate.SetUpCaseMatch(c.upCase);
    candidate.SetLogFileMatch(c.logFile);
    candidate.SetAttrDefMatch(c.attrDef);
    EXPECT_EQ(CNTFSSearchController::ScoreCandidate(candidate), c.score);
  }
}

// Candidates 8 sectors apart from sector 1000 on: their order in the map is their order here.
std::vector<CSearchedNTFSPartitionInfo*> InsertMany(CNTFSSearchController& c, size_t count, uint32_t flags) {
  std::vector<CSearchedNTFSPartitionInfo*> out;
  for (size_t i = 0; i < count; ++i) out.push_back(&Access::Insert(c, 1000 + 8 * int64_t(i), flags));
  return out;
}

TEST(NTFSSearchEnd, AThousandCandidatesAreKeptWhateverTheirScore) {
  struct Case {
    size_t count;
    uint32_t lastFlags;  // of the last candidate in map order
    size_t kept;
  };
  const Case cases[] = {
      {1000, kFoundByFilesAnalysis, 1000},
      {1001, kFoundByFilesAnalysis, 1000},                             // the 1001st scores 0
      {1001, kFoundBySingleMft, 1000},                                 // 10 is not enough
      {1001, kFoundBySingleMft | kFoundByMftMirr, 1001},               // 20 is
      {1200, kFoundByFirstBootRecord | kFoundByLastBootRecord, 1001},  // only the strong one past 1000
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " candidates");
    CNTFSSearchController controller;
    InsertMany(controller, c.count - 1, kFoundByFilesAnalysis);
    Access::Insert(controller, 1000 + 8 * int64_t(c.count - 1), c.lastFlags);
    controller.EndSearch();
    EXPECT_EQ(controller.GetCandidates().size(), c.kept);
    // The first thousand in map order stay.
    EXPECT_NE(controller.FindCandidate(1000 + 8 * 999, 8), nullptr);
    SearchedPartitionInfoList results;
    controller.GetResults(&results);
    ASSERT_EQ(results.size(), c.kept);
    for (const auto& r : results) EXPECT_EQ(r->GetPartitionStart(), r->GetStartSector());
  }
}

TEST(NTFSSearchEnd, LoneFolderPairingsGoOnlyAmongMany) {
  struct Case {
    size_t others;
    size_t lone;
    size_t kept;
  };
  // Ten candidates resting on one index/folder pairing alone, among others.
  const Case cases[] = {{40, 10, 40}, {39, 10, 49}, {60, 10, 60}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.others << " + " << c.lone);
    CNTFSSearchController controller;
    InsertMany(controller, c.others, kFoundByFilesAnalysis);
    for (size_t i = 0; i < c.lone; ++i)
      Access::Insert(controller, 100000 + 8 * int64_t(i), kFoundByIndexFolderComparison);
    controller.EndSearch();
    EXPECT_EQ(controller.GetCandidates().size(), c.kept);
  }
  // A pairing confirmed once more, or with other evidence, stays.
  CNTFSSearchController controller;
  InsertMany(controller, 60, kFoundByFilesAnalysis);
  Access::Insert(controller, 200000, kFoundByIndexFolderComparison, 1);
  Access::Insert(controller, 200008, kFoundByIndexFolderComparison | kFoundByFilesAnalysis);
  Access::Insert(controller, 200016, kFoundByIndexFolderComparison);
  controller.EndSearch();
  EXPECT_NE(controller.FindCandidate(200000, 8), nullptr);
  EXPECT_NE(controller.FindCandidate(200008, 8), nullptr);
  EXPECT_EQ(controller.FindCandidate(200016, 8), nullptr);
}

TEST(NTFSSearchEnd, OptionsOfTheMftAreTakenWhereAnMftWasFound) {
  CRecoveryContext& context = GetRecoveryContext();
  const int32_t savedUse = context.UseMftFile, savedOnly = context.ShowMftFilesOnly;
  context.UseMftFile = 1;
  context.ShowMftFilesOnly = 1;
  CNTFSSearchController controller;
  Access::Insert(controller, 2048, kFoundBySingleMft, 0, 2048 + 32);
  Access::Insert(controller, 4096, kFoundByFirstBootRecord);
  controller.EndSearch();
  context.UseMftFile = savedUse;
  context.ShowMftFilesOnly = savedOnly;
  const CSearchedNTFSPartitionInfo* withMft = controller.FindCandidate(2048, 8);
  const CSearchedNTFSPartitionInfo* without = controller.FindCandidate(4096, 8);
  ASSERT_TRUE(withMft && without);
  EXPECT_TRUE(withMft->GetUseMft());
  EXPECT_TRUE(withMft->GetFilesOfMftOnly());
  EXPECT_FALSE(without->GetUseMft());
  EXPECT_FALSE(without->GetFilesOfMftOnly());
  // Nothing of the system files was seen: no record, no match.
  for (const CSearchedNTFSPartitionInfo* c : {withMft, without}) {
    EXPECT_EQ(c->GetAttrDefSector(), -1);
    EXPECT_EQ(c->GetAttrDefMatch(), 0);
    EXPECT_EQ(c->GetUpCaseMatch(), 0);
    EXPECT_EQ(c->GetLogFileMatch(), 0);
  }
  EXPECT_EQ(withMft->GetScore(), 10);
  EXPECT_EQ(without->GetScore(), 10);
}

// Found files at fixed sectors, all of one type.
class FakeSignatures : public ISignatureResults {
 public:
  bool FindFileType(uint64_t startSector, int32_t& typeId) const override {
    for (uint64_t s : sectors)
      if (s == startSector) {
        typeId = type;
        return true;
      }
    return false;
  }
  std::vector<uint64_t> sectors;
  int32_t type = 0;
};

FakeSignatures g_signatures;

TEST(NTFSSearchEnd, FilesFoundBySignatureWhereTheCandidatePutsNamedFilesCount) {
  CTypedFileExtent jpg;
  static const char16_t kName[] = u"photo.jpg";
  ASSERT_TRUE(jpg.SetFromUnicodeName(kName, 9, 100, 2100));
  g_signatures.type = jpg.GetFileType();
  // The file's data at candidate start + cluster 100 x 8: right for the candidate at 2048 only.
  g_signatures.sectors = {2048 + 800};
  RawFilesFolderHooks hooks;
  // The sink stands for the scan's list of found files, which only the registered engine reads: any
  // address will do, as long as the one given to the controller is the one the engine is asked about.
  hooks.signatureResults = [](const CRawFileInfoList* files) -> const ISignatureResults* {
    return files == reinterpret_cast<const CRawFileInfoList*>(&g_signatures) ? &g_signatures : nullptr;
  };
  RegisterRawFilesFolderHooks(hooks);
  for (bool sink : {true, false}) {
    SCOPED_TRACE(sink ? "with a sink" : "without");
    CNTFSSearchController controller;
    controller.SetResultSink(sink ? reinterpret_cast<CRawFileInfoList*>(&g_signatures) : nullptr);
    Access::Insert(controller, 2048, kFoundBySingleMft).SetSectorCount(4096);
    Access::Insert(controller, 2056, kFoundBySingleMft).SetSectorCount(4096);
    Access::AddExtent(controller, jpg);
    controller.EndSearch();
    EXPECT_EQ(controller.FindCandidate(2048, 8)->GetFilesMatch(), sink ? 1 : 0);
    EXPECT_EQ(controller.FindCandidate(2056, 8)->GetFilesMatch(), 0);
    EXPECT_EQ(controller.GetTypedFileExtents().GetCount(), 0u);
  }
  RegisterRawFilesFolderHooks(RawFilesFolderHooks{});
}

}  // namespace
