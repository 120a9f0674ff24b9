// Cut, corrupted and lying archives and documents never crash their analysers, never make one loop for long
// and never give a file more bytes than the device holds after its start. A seeded loop of mutations
// over the fixture's archives and the hand-made headers, run under the sanitizers; a watchdog ends
// the process with the case's number when one case runs too long.
#include <gtest/gtest.h>

#include "ArchiveHeaders.h"
#include "DocumentHeaders.h"
#include "MutationLoop.h"

namespace {

using namespace rawtest;

constexpr uint32_t kSeed = 0xA2C41E;
constexpr int kCases = 1500;
constexpr size_t kMaxSeedBytes = 256 * 1024;

constexpr RawAnalyserClass kArchiveClasses[] = {
    RawAnalyserClass::FileCAB,        RawAnalyserClass::FileCHM,    RawAnalyserClass::FileGZ,
    RawAnalyserClass::FileLZH,        RawAnalyserClass::FileRAR,    RawAnalyserClass::FileTAR,
    RawAnalyserClass::FileZIP,        RawAnalyserClass::FileDBX,    RawAnalyserClass::FileHLP,
    RawAnalyserClass::FileHTM,        RawAnalyserClass::FileLowDoc, RawAnalyserClass::FileMDB,
    RawAnalyserClass::FileMNY,        RawAnalyserClass::FileOLE,    RawAnalyserClass::FileONE,
    RawAnalyserClass::FilePDF,        RawAnalyserClass::FilePST,    RawAnalyserClass::FileRTF,
    RawAnalyserClass::FileUnicodeHTM, RawAnalyserClass::FileWPD,
};

TEST(ArchiveMutation, NoAnalyserCrashesHangsOrClaimsMoreThanTheDevice) {
  std::vector<Bytes> seeds = ArchiveHeaders();
  for (Bytes& d : DocumentHeaders()) seeds.push_back(std::move(d));
  AddFixtureSeeds(seeds, "raw_archives.sh", "raw_archives", "archives", kMaxSeedBytes);
  std::vector<std::unique_ptr<IRawFileAnalyser>> owned;
  std::vector<IRawFileAnalyser*> analysers;
  for (RawAnalyserClass c : kArchiveClasses) analysers.push_back(owned.emplace_back(Make(c)).get());
  MutationCounts counts;
  RunMutationLoop(seeds, analysers, kSeed, kCases, counts);
  EXPECT_GT(counts.accepted, static_cast<size_t>(kCases / 4));
  EXPECT_GT(counts.computed, static_cast<size_t>(kCases / 8));
}

}  // namespace
