#pragma once
// Helpers of the carving tests: picture files made by the fixture script, devices that hold a
// file at a chosen sector, a byte builder for hand-made headers, and running one analyser over a
// planted file the way the search does.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/RecoveryContext.h"
#include "raw/IRawFileAnalyser.h"
#include "raw/RawFileAnalyserList.h"
#include "raw/RawFileInfo.h"
#include "storage/ByteReader.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace rawtest {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(gen());
  return b;
}

// `file` at sector `at` of a device of `sectorSize`-byte sectors; before it random bytes, after it
// `tail` bytes of random data (or zeros).
inline std::vector<uint8_t> Planted(const Bytes& file, uint64_t at, size_t tail, bool zeroTail = false,
                                    uint32_t sectorSize = 512, uint32_t seed = 7) {
  Bytes bytes = RandomBytes(at * sectorSize, seed);
  bytes.insert(bytes.end(), file.begin(), file.end());
  Bytes after = zeroTail ? Bytes(tail, 0) : RandomBytes(tail, seed + 1);
  bytes.insert(bytes.end(), after.begin(), after.end());
  bytes.resize((bytes.size() + sectorSize - 1) / sectorSize * sectorSize, 0);
  return bytes;
}

struct Outcome {
  bool header = false;
  bool computed = false;
  CRawFileInfo file;
};

// What the search and the later measuring make of the file at `start`: the header test on its first
// sector, then, when that left the size unknown, the length pass.
inline Outcome Measure(IRawFileAnalyser& analyser, IStorageDevice& device, uint64_t start) {
  Outcome out;
  std::vector<uint8_t> sector(static_cast<size_t>(device.GetSectorSize()));
  if (!device.ReadSectors(sector.data(), start, 1)) return out;
  out.file.SetStartSector(start);
  out.header = analyser.IsFileHeader(sector.data(), &out.file);
  if (out.header && out.file.GetFileSize() == 0) out.computed = analyser.ComputeFileSize(&out.file, &device);
  return out;
}

inline std::unique_ptr<IRawFileAnalyser> Make(RawAnalyserClass c) { return MakeRawFileAnalyser(c); }

// Little- and big-endian writers for hand-made headers.
struct Builder {
  Bytes b;
  explicit Builder(size_t n = 0) : b(n, 0) {}
  Builder& Put(size_t at, const void* data, size_t n) {
    if (b.size() < at + n) b.resize(at + n, 0);
    std::memcpy(b.data() + at, data, n);
    return *this;
  }
  Builder& Text(size_t at, const std::string& s) { return Put(at, s.data(), s.size()); }
  Builder& LE(size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
      const uint8_t x = static_cast<uint8_t>(v >> (8 * i));
      Put(at + i, &x, 1);
    }
    return *this;
  }
  Builder& BE(size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
      const uint8_t x = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
      Put(at + i, &x, 1);
    }
    return *this;
  }
  Builder& Size(size_t n) {
    b.resize(n, 0);
    return *this;
  }
};

// The length a TIFF's first IFD gives by the analyser's rule, read independently of the analyser:
// without a model the reckoned end of the IFD's values, with one the end of the last strip.
inline uint64_t TiffRuleLength(const Bytes& f) {
  corvale::ByteReader r(f.data(), f.size());
  const bool big = f[0] == 'M';
  auto u16 = [&](uint64_t o) -> uint64_t { return big ? r.be16(o) : r.u16(o); };
  auto u32 = [&](uint64_t o) -> uint64_t { return big ? r.be32(o) : r.u32(o); };
  const uint64_t ifd = u32(4);
  const uint64_t n = u16(ifd);
  static const uint64_t width[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  uint64_t sum = 0, offsetsAt = 0, countsAt = 0, strips = 0, stripType = 0;
  bool model = false;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t e = ifd + 2 + 12 * i;
    const uint64_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
    sum += 12 + (type <= 12 ? width[type] : 0) * count;
    if (tag == 272) model = true;
    if (tag == 273) offsetsAt = e + 8, strips = count, stripType = type;
    if (tag == 279) countsAt = e + 8;
  }
  if (!model) return ifd + 2 + sum - 18;
  uint64_t largest = 0;
  for (uint64_t s = 0; s < strips; ++s) {
    auto value = [&](uint64_t fieldAt) {
      const uint64_t w = stripType == 3 ? 2 : 4;
      const uint64_t at = strips * w <= 4 ? fieldAt + s * w : u32(fieldAt) + s * w;
      return w == 2 ? u16(at) : u32(at);
    };
    largest = std::max(largest, value(offsetsAt) + value(countsAt));
  }
  return largest;
}

// Sets the maximum RAW file size for one test and puts it back afterwards.
class ScopedMaxRawFileSize {
 public:
  explicit ScopedMaxRawFileSize(int64_t size) : m_previous(GetRecoveryContext().MaxRawFileSize) {
    GetRecoveryContext().MaxRawFileSize = size;
  }
  ~ScopedMaxRawFileSize() { GetRecoveryContext().MaxRawFileSize = m_previous; }

 private:
  int64_t m_previous;
};

}  // namespace rawtest
