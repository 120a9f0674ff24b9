// corvale-bench carve-compare IMAGE [--scripts DIR] [--without SET] [--rounds N]: the whole-device
// scan of an image with the RAW search controller, side by side in one run for several analyser
// lists, so that they share the machine's state: every built-in file type ("all"); the same with
// the signature scripts of DIR loaded ("all+scripts"); the same without the analysers of SET
// ("without"). SET is "documents", "archives" or a comma-separated list of analyser class names
// (FileOLEAnalyser,...). The configurations take turns for N rounds (default 3); each figure is the
// median. The image is read once beforehand, so that every pass reads from the page cache when it
// fits there.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/IntelligentSearchController.h"
#include "raw/CustomFileAnalyser.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "storage/ImageFileDevice.h"

namespace {

using C = RawAnalyserClass;

std::set<C> ClassesOf(const std::string& set) {
  if (set == "documents")
    return {C::FileOLE, C::FileLowDoc, C::FilePDF, C::FileRTF, C::FileHTM, C::FileUnicodeHTM, C::FileWPD,
            C::FileMDB, C::FilePST,    C::FileONE, C::FileMNY, C::FileDBX, C::FileHLP};
  if (set == "archives")
    return {C::FileZIP, C::FileRAR, C::FileTAR, C::FileLZH, C::FileCAB, C::FileGZ, C::FileCHM};
  std::set<C> out;
  size_t at = 0;
  while (at <= set.size()) {
    size_t end = set.find(',', at);
    if (end == std::string::npos) end = set.size();
    const std::string name = set.substr(at, end - at);
    for (int32_t i = 0; i < kRawAnalyserClassCount; ++i)
      if (name == RawAnalyserClassName(static_cast<C>(i))) out.insert(static_cast<C>(i));
    at = end + 1;
  }
  return out;
}

// The analysers of every built-in type, less those of `without`.
void FillBuiltIn(CRawFileAnalyserList& list, const std::set<C>& without) {
  for (int id = 1; id <= kLastBuiltInRawFileType; ++id)
    for (C c : RawAnalyserClassesForType(id))
      if (!without.count(c)) list.push_back(MakeRawFileAnalyser(c));
}

struct Config {
  std::string name;
  std::unique_ptr<CRawFileAnalyserList> analysers;
  std::vector<double> seconds;
  uint64_t files = 0;
};

double Scan(IStorageDevice& device, CRawFileAnalyserList& analysers, uint64_t* files) {
  CRawFileInfoList found;
  CRAWSearchController controller(&analysers);
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&device);
  driver.AddFileSystemSearchController(&controller);
  const auto start = std::chrono::steady_clock::now();
  if (driver.Search(nullptr) != 1) return -1;
  const double seconds = SecondsSince(start);
  *files = static_cast<uint64_t>(found.GetCount());
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int RunCarveCompare(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr,
                 "usage: corvale-bench carve-compare IMAGE [--scripts DIR] [--without SET] [--rounds N]\n");
    return 2;
  }
  const std::string path = argv[0];
  std::string scripts, without;
  int rounds = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--scripts") {
      scripts = argv[i + 1];
    } else if (key == "--without") {
      without = argv[i + 1];
    } else if (key == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }

  CImageFileDevice device(path);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "the image device cannot open %s\n", path.c_str());
    return 1;
  }
  const uint64_t bytes = static_cast<uint64_t>(device.GetSectorCount()) * 512;
  {  // into the page cache
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8_t> buffer(4 << 20);
    if (fd >= 0) {
      while (::read(fd, buffer.data(), buffer.size()) > 0) {
      }
      ::close(fd);
    }
  }

  std::vector<Config> configs;
  configs.push_back({"all", std::make_unique<CRawFileAnalyserList>(), {}, 0});
  FillBuiltIn(*configs.back().analysers, {});
  if (!scripts.empty()) {
    configs.push_back({"all+scripts", std::make_unique<CRawFileAnalyserList>(), {}, 0});
    FillBuiltIn(*configs.back().analysers, {});
    auto custom = std::make_unique<CustomFileAnalyser>(scripts);
    std::printf("scripts of %s: %zu loaded, %zu refused\n", scripts.c_str(), custom->Scripts().size(),
                custom->Scripts().Errors().size());
    configs.back().analysers->push_back(std::move(custom));
  }
  if (!without.empty()) {
    const std::set<C> left = ClassesOf(without);
    if (left.empty()) {
      std::fprintf(stderr, "no analyser class in %s\n", without.c_str());
      return 2;
    }
    configs.push_back({"without " + without, std::make_unique<CRawFileAnalyserList>(), {}, 0});
    FillBuiltIn(*configs.back().analysers, left);
  }

  for (int r = 0; r < rounds; ++r) {
    for (Config& c : configs) {
      const double s = Scan(device, *c.analysers, &c.files);
      if (s < 0) {
        std::fprintf(stderr, "the search could not start\n");
        return 1;
      }
      c.seconds.push_back(s);
    }
  }

  const double mb = static_cast<double>(bytes) / 1e6;
  const double base = Median(configs.front().seconds);
  std::printf("image %s: %" PRIu64 " bytes, %d rounds, medians\n", path.c_str(), bytes, rounds);
  std::string json = "{\"bench\":\"carve-compare\",\"bytes\":" + std::to_string(bytes) + ",\"configs\":[";
  for (size_t i = 0; i < configs.size(); ++i) {
    const Config& c = configs[i];
    const double s = Median(c.seconds);
    const double mbps = s > 0 ? mb / s : 0;
    const double ratio = s > 0 ? base / s : 0;
    std::printf("  %-24s %8.1f MB/s  (%.3f s)  speed vs all %.2f  files %" PRIu64 "  analysers %zu\n",
                c.name.c_str(), mbps, s, ratio, c.files, c.analysers->size());
    char part[256];
    std::snprintf(
        part, sizeof part,
        "%s{\"name\":\"%s\",\"scan_seconds\":%.6f,\"scan_mbps\":%.1f,\"speed_vs_all\":%.3f,\"files\":%" PRIu64
        "}",
        i ? "," : "", c.name.c_str(), s, mbps, ratio, c.files);
    json += part;
  }
  std::printf("%s]}\n", json.c_str());
  return 0;
}

const BenchRegistration kCarveCompare("carve-compare", "IMAGE [--scripts DIR] [--without SET] [--rounds N]",
                                      RunCarveCompare);

}  // namespace
