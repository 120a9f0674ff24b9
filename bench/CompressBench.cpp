// compress [FILE] [MIB]: block compression as disk images use it (128 KiB blocks, output of the
// block plus 0.2 %) for each library, and the state stream's 4 KiB zlib chunks. Each library is
// timed with one compressor kept for every block (its state reset between blocks) and with a new
// compressor per block, which is what starting every block from scratch costs.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/RSDataEx.h"
#include "storage/Compressor.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kBlock = 128 * 1024;

// Without a file: a mix like a used disk, a quarter each of zeros, text, structured records and
// random bytes.
Bytes MixedSample(size_t n) {
  Bytes b(n);
  std::mt19937 rng(1);
  for (size_t at = 0; at < n; at += kBlock) {
    const size_t end = std::min(n, at + kBlock);
    switch ((at / kBlock) % 4) {
      case 0:
        break;
      case 1:
        for (size_t i = at; i < end; ++i)
          b[i] = static_cast<uint8_t>("the quick brown fox jumps "[rng() % 26]);
        break;
      case 2:
        for (size_t i = at; i < end; ++i) b[i] = static_cast<uint8_t>(i % 64 < 8 ? rng() % 4 : i % 64);
        break;
      default:
        for (size_t i = at; i < end; ++i) b[i] = static_cast<uint8_t>(rng());
    }
  }
  return b;
}

struct Figures {
  double compressSeconds = 0;
  double decompressSeconds = 0;
  uint64_t storedBytes = 0;
};

Figures RunBlocks(int type, int level, const Bytes& sample, bool freshPerBlock) {
  Figures f;
  std::vector<Bytes> stored;
  ICompressor* kept = freshPerBlock ? nullptr : CreateCompressor(type);
  Bytes out(kBlock + kBlock / 500);
  auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < sample.size(); at += kBlock) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlock, sample.size() - at));
    ICompressor* c = freshPerBlock ? CreateCompressor(type) : kept;
    const uint32_t produced = corvale::CompressBlock(c, level, sample.data() + at, n, out.data(),
                                                     static_cast<uint32_t>(out.size()));
    if (freshPerBlock) ReleaseCompressor(c);
    stored.emplace_back(out.begin(), out.begin() + produced);
    f.storedBytes += produced;
  }
  f.compressSeconds = SecondsSince(start);
  ReleaseCompressor(kept);

  IDecompressor* d = CreateDecompressor(type);
  Bytes back(kBlock);
  start = std::chrono::steady_clock::now();
  size_t at = 0;
  for (const Bytes& s : stored) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlock, sample.size() - at));
    // A block as long as the original was stored as it is.
    if (s.size() != n) {
      corvale::DecompressBlock(d, s.data(), static_cast<uint32_t>(s.size()), back.data(), n);
    }
    at += n;
  }
  f.decompressSeconds = SecondsSince(start);
  ReleaseDecompressor(d);
  return f;
}

int Run(int argc, char** argv) {
  size_t mib = argc >= 2 ? std::stoul(argv[1]) : 32;
  Bytes sample;
  if (argc >= 1 && std::strcmp(argv[0], "-") != 0) {
    std::ifstream in(argv[0], std::ios::binary);
    sample.resize(mib << 20);
    in.read(reinterpret_cast<char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
    sample.resize(static_cast<size_t>(in.gcount()));
    if (sample.empty()) {
      std::fprintf(stderr, "cannot read %s\n", argv[0]);
      return 1;
    }
  } else {
    sample = MixedSample(mib << 20);
  }
  const double megabytes = static_cast<double>(sample.size()) / (1 << 20);
  std::printf("sample: %.1f MiB in %u-byte blocks\n", megabytes, kBlock);

  std::string json = "{\"sample_mib\":" + std::to_string(megabytes);
  struct Case {
    const char* name;
    int type;
    int level;
  };
  const Case cases[] = {{"zlib", 2, 5}, {"bzip2", 1, 9}, {"lzma", 3, 0}};
  for (const Case& c : cases) {
    for (bool fresh : {false, true}) {
      // LZMA with a fresh 8 MiB-dictionary encoder per block is slow; a quarter of the sample shows it.
      Bytes part = sample;
      if (fresh && c.type == 3) part.resize(std::max<size_t>(kBlock, sample.size() / 4));
      const double mb = static_cast<double>(part.size()) / (1 << 20);
      const Figures f = RunBlocks(c.type, c.level, part, fresh);
      const char* how = fresh ? "new per block" : "kept";
      std::printf("%-5s %-13s compress %8.1f MB/s  decompress %8.1f MB/s  stored %.1f%%\n", c.name, how,
                  mb / f.compressSeconds, mb / f.decompressSeconds,
                  100.0 * static_cast<double>(f.storedBytes) / static_cast<double>(part.size()));
      const std::string key = std::string(c.name) + (fresh ? "_new_per_block" : "_kept");
      json += ",\"" + key + "_compress_mbs\":" + std::to_string(mb / f.compressSeconds);
      json += ",\"" + key + "_decompress_mbs\":" + std::to_string(mb / f.decompressSeconds);
      json += ",\"" + key + "_ratio\":" +
              std::to_string(static_cast<double>(f.storedBytes) / static_cast<double>(part.size()));
    }
  }

  // The state stream: write the sample as one section and read it back in 4-byte fields.
  char path[] = "/tmp/corvale-bench-stateXXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 1;
  close(fd);
  CRSDataEx writer(RS_MODE_WRITE), reader(RS_MODE_READ);
  const RSGuid guid = RSGuid::FromString("{D208F26C-078C-4E34-9D71-D91F535F7B57}");
  auto start = std::chrono::steady_clock::now();
  writer.Open(path, 1);
  writer.BeginSection(guid);
  writer.Write(sample.data(), sample.size());
  writer.EndSection();
  writer.Close();
  const double writeSeconds = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  reader.Open(path, 0);
  reader.BeginSection(guid);
  uint32_t field;
  uint64_t sum = 0;
  while (reader.Read(&field, sizeof field) == sizeof field) sum += field;
  reader.Close();
  const double readSeconds = SecondsSince(start);
  unlink(path);
  std::printf("state stream: write %.1f MB/s, read in 4-byte fields %.1f MB/s (checksum %llu)\n",
              megabytes / writeSeconds, megabytes / readSeconds, static_cast<unsigned long long>(sum));
  json += ",\"state_write_mbs\":" + std::to_string(megabytes / writeSeconds);
  json += ",\"state_read_mbs\":" + std::to_string(megabytes / readSeconds) + "}";
  std::printf("%s\n", json.c_str());
  return 0;
}

BenchRegistration reg("compress", "[FILE|-] [MIB]", Run);

}  // namespace
