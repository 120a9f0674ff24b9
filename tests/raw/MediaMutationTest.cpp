// Cut, corrupted and lying sound, video, font and drawing files never crash their analysers, never
// make one loop for long and never give a file more bytes than the device holds after its start. A
// seeded loop of mutations over the files the tools wrote and the hand-made ones, run under the
// sanitizers; a watchdog ends the process with the case's number when one case runs too long.
#include <gtest/gtest.h>

#include "MediaHeaders.h"
#include "MutationLoop.h"

namespace {

using namespace rawtest;

constexpr uint32_t kSeed = 0x3D5A11;
constexpr int kCases = 1500;
constexpr size_t kMaxSeedBytes = 128 * 1024;

constexpr RawAnalyserClass kMediaClasses[] = {
    RawAnalyserClass::FileMP3,  RawAnalyserClass::FileMP4,  RawAnalyserClass::File3GP,
    RawAnalyserClass::FileMOV,  RawAnalyserClass::FileRIFF, RawAnalyserClass::FileASF,
    RawAnalyserClass::FileMID,  RawAnalyserClass::FileAU,   RawAnalyserClass::FileSWF,
    RawAnalyserClass::FileDWG,  RawAnalyserClass::FileTTF,  RawAnalyserClass::FileDXF,
    RawAnalyserClass::FileFH11, RawAnalyserClass::FileEPS,  RawAnalyserClass::File3DS,
};

TEST(MediaMutation, NoAnalyserCrashesHangsOrClaimsMoreThanTheDevice) {
  std::vector<Bytes> seeds = MediaHeaders();
  AddFixtureSeeds(seeds, "raw_media.sh", "raw_media", "media", kMaxSeedBytes);
  std::vector<std::unique_ptr<IRawFileAnalyser>> owned;
  std::vector<IRawFileAnalyser*> analysers;
  for (RawAnalyserClass c : kMediaClasses) analysers.push_back(owned.emplace_back(Make(c)).get());
  MutationCounts counts;
  RunMutationLoop(seeds, analysers, kSeed, kCases, counts);
  EXPECT_GT(counts.accepted, static_cast<size_t>(kCases / 4));
  EXPECT_GT(counts.computed, static_cast<size_t>(kCases / 8));
}

}  // namespace
