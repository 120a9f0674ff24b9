// Cut, corrupted and lying sound, video, font and drawing files never crash their analysers, never
// make one loop for long and never give a file more bytes than the device holds after its start. A
// seeded loop of mutations over the files the tools wrote and the hand-made ones, run under the
// sanitizers; a watchdog ends the process with the case's number when one case runs too long.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "MediaHeaders.h"
#include "RawTestSupport.h"

namespace {

using namespace rawtest;

constexpr uint32_t kSeed = 0x3D5A11;
constexpr int kCases = 1500;
constexpr size_t kMaxSeedBytes = 128 * 1024;
constexpr int kWatchdogSeconds = 60;

constexpr RawAnalyserClass kMediaClasses[] = {
    RawAnalyserClass::FileMP3,  RawAnalyserClass::FileMP4,  RawAnalyserClass::File3GP,
    RawAnalyserClass::FileMOV,  RawAnalyserClass::FileRIFF, RawAnalyserClass::FileASF,
    RawAnalyserClass::FileMID,  RawAnalyserClass::FileAU,   RawAnalyserClass::FileSWF,
    RawAnalyserClass::FileDWG,  RawAnalyserClass::FileTTF,  RawAnalyserClass::FileDXF,
    RawAnalyserClass::FileFH11, RawAnalyserClass::FileEPS,  RawAnalyserClass::File3DS,
};

// A position anywhere in the file or, half of the time, in its first 2 KiB where headers lie.
size_t Somewhere(const Bytes& b, std::mt19937& gen, size_t room) {
  const size_t span = std::min(b.size(), gen() % 2 ? size_t{2048} : b.size());
  return span > room ? gen() % (span - room) : 0;
}

Bytes Mutate(Bytes b, std::mt19937& gen) {
  const int kinds = 1 + static_cast<int>(gen() % 3);
  for (int k = 0; k < kinds && !b.empty(); ++k) {
    switch (gen() % 5) {
      case 0:  // cut short
        b.resize(1 + gen() % b.size());
        break;
      case 1:  // flip a few bytes
        for (int i = 0, n = 1 + static_cast<int>(gen() % 8); i < n; ++i)
          b[Somewhere(b, gen, 0)] ^= static_cast<uint8_t>(1 + gen() % 255);
        break;
      case 2: {  // a length or count that lies, little- or big-endian, in 2, 4 or 8 bytes
        static const uint64_t values[] = {0,          1,          7,          8,          0xFFFF,
                                          0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF6, ~uint64_t{0}};
        const int width = 2 << (gen() % 3);
        if (b.size() < static_cast<size_t>(width)) break;
        const uint64_t v = values[gen() % std::size(values)];
        const size_t p = Somewhere(b, gen, static_cast<size_t>(width) - 1);
        const bool big = gen() % 2;
        for (int i = 0; i < width; ++i) b[p + (big ? width - 1 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
        break;
      }
      case 3: {  // zeros
        const size_t p = Somewhere(b, gen, 0);
        std::fill(b.begin() + static_cast<long>(p),
                  b.begin() + static_cast<long>(std::min(b.size(), p + 1 + gen() % 4096)), 0);
        break;
      }
      default:  // random bytes over a stretch
        for (size_t p = Somewhere(b, gen, 0), e = std::min(b.size(), p + 1 + gen() % 512); p < e; ++p)
          b[p] = static_cast<uint8_t>(gen());
        break;
    }
  }
  return b;
}

TEST(MediaMutation, NoAnalyserCrashesHangsOrClaimsMoreThanTheDevice) {
  std::vector<Bytes> seeds = MediaHeaders();
  std::string why;
  const std::string dir = corvale::test::FixtureImage("raw_media.sh", "raw_media", &why);
  if (!dir.empty()) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir + "/media")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
      Bytes b = ReadFile(f.string());
      if (b.size() > kMaxSeedBytes) b.resize(kMaxSeedBytes);
      seeds.push_back(std::move(b));
    }
  } else {
    std::printf("(media fixture missing: %s; hand-made files only)\n", why.c_str());
  }

  std::vector<std::unique_ptr<IRawFileAnalyser>> analysers;
  for (RawAnalyserClass c : kMediaClasses) analysers.push_back(Make(c));

  std::atomic<int> current{-1};
  std::mutex m;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    int last = -2;
    while (!finished) {
      if (done.wait_for(lock, std::chrono::seconds(kWatchdogSeconds), [&] { return finished; })) break;
      const int now = current.load();
      if (now == last) {
        std::fprintf(stderr, "mutation case %d (seed %u) runs longer than %d s\n", now, kSeed,
                     kWatchdogSeconds);
        std::abort();
      }
      last = now;
    }
  });

  std::mt19937 gen(kSeed);
  size_t accepted = 0, measured = 0;
  for (int c = 0; c < kCases; ++c) {
    current = c;
    const Bytes& seed = seeds[gen() % seeds.size()];
    const Bytes file = Mutate(seed, gen);
    const uint32_t sectorSize = gen() % 4 ? 512 : 4096;
    const uint64_t at = gen() % 3;
    // Zeros or random bytes after the file, or nothing at all: the device may end inside it.
    const size_t tail = gen() % 3 == 0 ? 0 : gen() % 65536;
    MemoryDevice device(Planted(file, at, tail, gen() % 2, sectorSize, gen()),
                        static_cast<int32_t>(sectorSize));
    const uint64_t room = device.Bytes().size() - at * sectorSize;
    for (auto& a : analysers) {
      Outcome out = Measure(*a, device, at);
      if (!out.header) continue;
      ++accepted;
      if (!out.computed) continue;  // refused, or a header-only size (capped by the search)
      ++measured;
      ASSERT_LE(out.file.GetFileSize(), room) << "case " << c << " analyser type " << a->GetTypeId();
    }
  }
  {
    std::lock_guard<std::mutex> lock(m);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  EXPECT_GT(accepted, static_cast<size_t>(kCases / 4));
  EXPECT_GT(measured, static_cast<size_t>(kCases / 8));
}

}  // namespace
