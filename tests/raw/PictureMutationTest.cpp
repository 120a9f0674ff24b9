// Cut, corrupted and lying pictures never crash an analyser, never make it loop for long and never
// give a file more bytes than the device holds after its start. A seeded loop of mutations over the
// real pictures and the hand-made headers, run under the sanitizers; a watchdog ends the process
// with the case's number when one case runs too long. Beside it, every picture cut at each KiB of
// its last 64 KiB, and every picture's first sector repeated in every sector of a disk that is
// scanned and turned into a tree as the program does.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "HandMadeHeaders.h"
#include "MutationLoop.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFilesFolderBuilder.h"

namespace {

using namespace rawtest;

constexpr uint32_t kSeed = 0xC0A1E;
constexpr int kCases = 1500;
constexpr size_t kMaxSeedBytes = 256 * 1024;

// Picture structures also hold offsets that point back, so stretches are copied too.
Bytes MutatePicture(Bytes b, std::mt19937& gen) {
  auto at = [&](size_t room) { return b.size() > room ? gen() % (b.size() - room) : 0; };
  const int kinds = 1 + static_cast<int>(gen() % 3);
  for (int k = 0; k < kinds && !b.empty(); ++k) {
    switch (gen() % 6) {
      case 0:  // cut short
        b.resize(1 + gen() % b.size());
        break;
      case 1:  // flip a few bytes, mostly near the start where the structure lies
        for (int i = 0, n = 1 + static_cast<int>(gen() % 8); i < n; ++i) {
          const size_t span = std::min<size_t>(b.size(), gen() % 2 ? 1024 : b.size());
          b[gen() % span] ^= static_cast<uint8_t>(1 + gen() % 255);
        }
        break;
      case 2: {  // a length field that lies: 0, all ones, a large value, either byte order
        static const uint32_t values[] = {0,          1,          0xFFFF,     0xFFFFFFFF,
                                          0x7FFFFFFF, 0x80000000, 0xFFFFFFF6, 0x10000};
        const uint32_t v = values[gen() % std::size(values)];
        const size_t span = std::min<size_t>(b.size(), gen() % 2 ? 2048 : b.size());
        if (span < 4) break;
        const size_t p = gen() % (span - 3);
        const bool big = gen() % 2;
        const int width = gen() % 2 ? 2 : 4;
        for (int i = 0; i < width; ++i) b[p + i] = static_cast<uint8_t>(v >> (8 * (big ? width - 1 - i : i)));
        break;
      }
      case 3: {  // a stretch copied from elsewhere, making offsets point back
        const size_t from = at(64), to = at(64);
        const size_t n = std::min<size_t>({64, b.size() - from, b.size() - to});
        std::copy_n(b.begin() + static_cast<long>(from), n, b.begin() + static_cast<long>(to));
        break;
      }
      case 4: {  // zeros
        const size_t p = at(0);
        std::fill(b.begin() + static_cast<long>(p),
                  b.begin() + static_cast<long>(std::min(b.size(), p + 1 + gen() % 4096)), 0);
        break;
      }
      default:  // random bytes over a stretch
        for (size_t p = at(0), e = std::min(b.size(), p + 1 + gen() % 512); p < e; ++p)
          b[p] = static_cast<uint8_t>(gen());
        break;
    }
  }
  return b;
}

// The hand-made headers and, when ImageMagick made them, the real pictures (cut to kMaxSeedBytes).
std::vector<Bytes> Seeds() {
  std::vector<Bytes> seeds = HandMadeHeaders();
  AddFixtureSeeds(seeds, "raw_pictures.sh", "raw_pictures", "pictures", kMaxSeedBytes);
  return seeds;
}

TEST(PictureMutation, NoAnalyserCrashesHangsOrClaimsMoreThanTheDevice) {
  const std::vector<Bytes> seeds = Seeds();
  CRawFileAnalyserList list;
  CreateAllRawFileAnalysers(list);
  const std::vector<IRawFileAnalyser*> analysers(list.begin(), list.end());
  MutationCounts counts;
  RunMutationLoop(seeds, analysers, kSeed, kCases, counts, MutatePicture);
  EXPECT_GT(counts.accepted, static_cast<size_t>(kCases / 4));
  EXPECT_GT(counts.computed + counts.refused, static_cast<size_t>(kCases / 8));
}

// A copy that stopped part way: the device ends at each KiB of the picture's last 64 KiB. No
// analyser reads past the end or gives the file more bytes than are left.
TEST(PictureMutation, PicturesCutAtEveryKibNearTheEndStayWithinTheDevice) {
  const std::vector<Bytes> seeds = Seeds();
  CRawFileAnalyserList analysers;
  CreateAllRawFileAnalysers(analysers);
  size_t measured = 0;
  for (size_t i = 0; i < seeds.size(); ++i) {
    const Bytes& seed = seeds[i];
    for (size_t cut = 1024; cut <= 64 * 1024 && cut < seed.size(); cut += 1024) {
      const Bytes file(seed.begin(), seed.end() - static_cast<long>(cut));
      MemoryDevice device(Planted(file, 1, 0, true));
      const uint64_t room = device.Bytes().size() - 512;
      for (IRawFileAnalyser* a : analysers) {
        const Outcome out = Measure(*a, device, 1);
        if (!out.header || !out.computed) continue;
        ++measured;
        ASSERT_LE(out.file.GetFileSize(), room)
            << "seed " << i << " cut by " << cut << " analyser type " << a->GetTypeId();
      }
    }
  }
  EXPECT_GT(measured, 0u);
}

// A picture's first sector in every sector of a disk: every sector is found, and the tree keeps at
// most twice the disk.
TEST(PictureMutation, HeaderInEverySectorIsFoundEverywhereAndKeptInProportion) {
  constexpr uint64_t kSectors = 512;
  const std::vector<Bytes> seeds = Seeds();
  CRawFileAnalyserList analysers;
  CreateAllRawFileAnalysers(analysers);
  size_t disksWithFiles = 0;
  for (size_t i = 0; i < seeds.size(); ++i) {
    SCOPED_TRACE("seed " + std::to_string(i));
    Bytes head(seeds[i].begin(),
               seeds[i].begin() + static_cast<long>(std::min<size_t>(512, seeds[i].size())));
    head.resize(512, 0);
    // Whether one sector of it is taken by some analyser: then every sector is.
    CRawFileInfo probe;
    bool header = false;
    uint32_t first;
    std::memcpy(&first, head.data(), 4);
    for (IRawFileAnalyser* a : analysers)
      header = header || (first != 0 && a->IsFileHeader(head.data(), &probe));

    Bytes disk;
    for (uint64_t s = 0; s < kSectors; ++s) disk.insert(disk.end(), head.begin(), head.end());
    MemoryDevice device(disk);
    CRawFileInfoList found;
    CRAWSearchController controller;
    controller.SetResultSink(&found);
    CIntelligentSearchController driver;
    driver.SetStartSectorSource([] { return uint64_t{0}; });
    driver.SetStorageDevice(&device);
    driver.AddFileSystemSearchController(&controller);
    ASSERT_EQ(driver.Search(nullptr), 1);
    ASSERT_EQ(found.GetCount(), header ? kSectors : 0u);
    EXPECT_EQ(driver.GetSummary().FilesIdentified, static_cast<int64_t>(found.GetCount()));

    CRawFilesFolderBuilder builder;
    CFileSystemNode* root = builder.BuildRawFilesFolder(&device, found.GetIterator(), nullptr, nullptr, 0);
    ASSERT_NE(root, nullptr);
    uint64_t files = 0, bytes = 0;
    WalkSubtree(root, [&](CFileNode* n) {
      if (n->GetFileProperties()->IsFolder()) return;
      ++files;
      bytes += n->GetFileProperties()->GetSize();
    });
    FreeFileTree(root);
    EXPECT_LE(bytes, 2 * kSectors * 512);
    if (files > 0) ++disksWithFiles;
  }
  EXPECT_GT(disksWithFiles, 0u);
}

}  // namespace
