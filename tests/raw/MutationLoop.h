#pragma once
// The seeded mutation loop the analyser tests share: files cut short, with bytes flipped, lengths
// and counts that lie, zeros and random stretches, each planted on a small device at sector 0-2 with
// or without bytes after it, and measured by every analyser given. A watchdog ends the process with
// the case's number when one case runs too long, so a loop in an analyser shows as that case.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "RawTestSupport.h"

namespace rawtest {

// The files of a fixture's folder in name order, each cut to maxBytes, added to the seeds; without
// the fixture the loop runs on the hand-made seeds alone and says so.
inline void AddFixtureSeeds(std::vector<Bytes>& seeds, const std::string& script, const std::string& image,
                            const std::string& folder, size_t maxBytes) {
  std::string why;
  const std::string dir = corvale::test::FixtureImage(script, image, &why);
  if (dir.empty()) {
    std::printf("(%s fixture missing: %s; hand-made files only)\n", image.c_str(), why.c_str());
    return;
  }
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/" + folder)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    Bytes b = ReadFile(f.string());
    if (b.size() > maxBytes) b.resize(maxBytes);
    seeds.push_back(std::move(b));
  }
}

// A position anywhere in the file or, half of the time, in its first 2 KiB where headers lie.
inline size_t Somewhere(const Bytes& b, std::mt19937& gen, size_t room) {
  const size_t span = std::min(b.size(), gen() % 2 ? size_t{2048} : b.size());
  return span > room ? gen() % (span - room) : 0;
}

inline Bytes Mutate(Bytes b, std::mt19937& gen) {
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
        static const uint64_t values[] = {0,          1,          6,          7,          8,           0xFFFF,
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

struct MutationCounts {
  size_t accepted = 0;  // cases whose header an analyser took
  size_t computed = 0;  // of those, lengths the analyser worked out (each checked against the device)
  size_t refused = 0;   // of those, files refused with length 0
};

// Runs `cases` mutations of the seeds through every analyser; every worked-out length must stay
// within the device after the file's start.
inline void RunMutationLoop(const std::vector<Bytes>& seeds, const std::vector<IRawFileAnalyser*>& analysers,
                            uint32_t seed, int cases, MutationCounts& counts,
                            const std::function<Bytes(Bytes, std::mt19937&)>& mutate = Mutate,
                            int watchdogSeconds = 60) {
  ASSERT_FALSE(seeds.empty());
  std::atomic<int> current{-1};
  std::mutex m;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(m);
    int last = -2;
    while (!finished) {
      if (done.wait_for(lock, std::chrono::seconds(watchdogSeconds), [&] { return finished; })) break;
      const int now = current.load();
      if (now == last) {
        std::fprintf(stderr, "mutation case %d (seed %u) runs longer than %d s\n", now, seed,
                     watchdogSeconds);
        std::abort();
      }
      last = now;
    }
  });
  auto stopWatchdog = [&] {
    {
      std::lock_guard<std::mutex> lock(m);
      finished = true;
    }
    done.notify_all();
    watchdog.join();
  };

  std::mt19937 gen(seed);
  for (int c = 0; c < cases; ++c) {
    current = c;
    const Bytes& from = seeds[gen() % seeds.size()];
    const Bytes file = mutate(from, gen);
    const uint32_t sectorSize = gen() % 4 ? 512 : 4096;
    const uint64_t at = gen() % 3;
    // Zeros or random bytes after the file, or nothing at all: the device may end inside it.
    const size_t tail = gen() % 3 == 0 ? 0 : gen() % 65536;
    MemoryDevice device(Planted(file, at, tail, gen() % 2, sectorSize, gen()),
                        static_cast<int32_t>(sectorSize));
    const uint64_t room = device.Bytes().size() - at * sectorSize;
    for (IRawFileAnalyser* a : analysers) {
      Outcome out = Measure(*a, device, at);
      if (!out.header) continue;
      ++counts.accepted;
      if (!out.computed) {  // refused, or a header-only size (capped by the search)
        if (out.file.GetFileSize() == 0) ++counts.refused;
        continue;
      }
      ++counts.computed;
      if (out.file.GetFileSize() > room) {
        ADD_FAILURE() << "case " << c << " analyser type " << a->GetTypeId() << " claims "
                      << out.file.GetFileSize() << " bytes where " << room << " follow";
        stopWatchdog();
        return;
      }
    }
  }
  stopWatchdog();
}

}  // namespace rawtest
