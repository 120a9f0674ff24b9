// Offering sectors through the lead-byte table gives the same winner, with the same record, as
// offering them to every analyser in list order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "HandMadeHeaders.h"
#include "RawTestSupport.h"
#include "raw/RawHeaderDispatch.h"

namespace {

using namespace rawtest;

// First sectors of every picture of the fixture and of the hand-made formats.
std::vector<Bytes> SampleHeaders(const std::string& dir) {
  std::vector<Bytes> out = HandMadeHeaders();
  if (!dir.empty()) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir + "/pictures")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      Bytes b = ReadFile(f.string());
      b.resize(512, 0);
      out.push_back(b);
    }
  }
  return out;
}

// The samples, each with every first byte, with single bytes of its first 64 changed, and random
// sectors besides.
std::vector<Bytes> SectorCorpus(const std::vector<Bytes>& samples) {
  std::vector<Bytes> corpus;
  std::mt19937 gen(20240611);
  for (const Bytes& s : samples) {
    for (int lead = 0; lead < 256; ++lead) {
      Bytes b = s;
      b[0] = static_cast<uint8_t>(lead);
      corpus.push_back(b);
    }
    for (int i = 0; i < 200; ++i) {
      Bytes b = s;
      b[gen() % 64] = static_cast<uint8_t>(gen());
      corpus.push_back(b);
    }
  }
  for (int i = 0; i < 5000; ++i) corpus.push_back(RandomBytes(512, gen()));
  return corpus;
}

bool SameFindings(const CRawFileInfo& a, const CRawFileInfo& b) {
  return a.GetFileType() == b.GetFileType() && a.GetFileSize() == b.GetFileSize() &&
         a.GetFirstInfoText() == b.GetFirstInfoText() && a.GetSecondInfoText() == b.GetSecondInfoText();
}

std::string PicturesDir() {
  std::string why;
  return corvale::test::FixtureImage("raw_pictures.sh", "raw_pictures", &why);
}

TEST(RawHeaderDispatch, AgreesWithTheOrderedTrialOverEveryList) {
  const std::string dir = PicturesDir();
  if (dir.empty()) std::printf("(pictures fixture missing: hand-made headers only)\n");
  const std::vector<Bytes> corpus = SectorCorpus(SampleHeaders(dir));

  std::vector<int> byId = AllBuiltInRawFileTypes();
  std::vector<int> reversed(byId.rbegin(), byId.rend());
  std::vector<int> shuffled = byId;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  for (const std::vector<int>* ids : {&byId, &reversed, &shuffled}) {
    CRawFileAnalyserList list;
    list.Rebuild(ids);
    ASSERT_FALSE(list.empty());
    const corvale::RawHeaderDispatch dispatch(list);
    size_t winners = 0;
    for (const Bytes& s : corpus) {
      CRawFileInfo viaAll, viaTable;
      // Leftovers of an earlier sector must not matter either.
      viaTable.SetFileSize(12345);
      viaTable.SetFileType(99);
      IRawFileAnalyser* expected = corvale::OfferToEveryAnalyser(list, s.data(), &viaAll);
      IRawFileAnalyser* got = dispatch.Offer(s.data(), &viaTable);
      ASSERT_EQ(got, expected);
      if (expected) {
        ++winners;
        ASSERT_TRUE(SameFindings(viaAll, viaTable));
      }
    }
    EXPECT_GT(winners, 100u);  // the corpus exercises the winners, not just refusals
  }
}

TEST(RawHeaderDispatch, EveryAnalyserRefusesFirstBytesOutsideItsLeadSet) {
  const std::vector<Bytes> samples = SampleHeaders(PicturesDir());
  CRawFileAnalyserList all;
  CreateAllRawFileAnalysers(all);
  for (IRawFileAnalyser* a : all) {
    const RawLeadBytes lead = a->GetLeadBytes();
    // The script analyser without scripts takes no sector at all.
    if (lead.none()) {
      CRawFileInfo probe;
      for (const Bytes& s : samples) EXPECT_FALSE(a->IsFileHeader(s.data(), &probe));
      continue;
    }
    size_t accepted = 0;
    for (const Bytes& s : samples) {
      CRawFileInfo probe;
      if (!a->IsFileHeader(s.data(), &probe)) continue;
      ++accepted;
      for (int b = 0; b < 256; ++b) {
        if (lead.test(static_cast<size_t>(b))) continue;
        Bytes changed = s;
        changed[0] = static_cast<uint8_t>(b);
        CRawFileInfo file;
        EXPECT_FALSE(a->IsFileHeader(changed.data(), &file)) << a->GetTypeId() << " lead " << b;
      }
    }
    EXPECT_GT(accepted, 0u) << "no sample for analyser of type " << a->GetTypeId();
  }
}

class Throwing : public IRawFileAnalyser {
 public:
  bool IsFileHeader(const uint8_t*, CRawFileInfo* file) override {
    file->SetFileSize(777);
    throw std::runtime_error("bad");
  }
};

class Accepting : public IRawFileAnalyser {
 public:
  bool IsFileHeader(const uint8_t*, CRawFileInfo* file) override {
    file->SetFileType(5);
    return true;
  }
};

TEST(RawHeaderDispatch, AnExceptionIsARefusalAndLeavesNothingBehind) {
  CRawFileAnalyserList list;
  list.push_back(std::make_unique<Throwing>());
  list.push_back(std::make_unique<Accepting>());
  const corvale::RawHeaderDispatch dispatch(list);
  Bytes sector(512, 1);
  CRawFileInfo file;
  EXPECT_EQ(dispatch.Offer(sector.data(), &file), *std::next(list.begin()));
  EXPECT_EQ(file.GetFileType(), 5);
  EXPECT_EQ(file.GetFileSize(), 0u);
}

}  // namespace
