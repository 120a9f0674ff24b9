#pragma once
// Small documents made by hand from the formats' layouts, and first sectors that the document
// analysers' header tests accept, for the tests that need a sample of every analyser's header.

#include <string>

#include "RawTestSupport.h"

namespace rawtest {

constexpr uint32_t kCfbFree = 0xFFFFFFFF;
constexpr uint32_t kCfbEndOfChain = 0xFFFFFFFE;

// A compound file: the 512-byte header, then sector 0 (the allocation table), sector 1 (the
// directory, whose first four entries carry `names`) and `dataSectors` sectors of stream data
// chained in the table. `rootClassByte` goes into the root entry's class id. The allocation table's
// last used entry is that of the last data sector, so the file is (dataSectors + 3) x 512 bytes.
struct CompoundFile {
  std::u16string names[4] = {u"Root Entry", u"", u"", u""};
  uint32_t dataSectors = 3;
  uint8_t rootClassByte = 0;
  uint32_t directorySector = 1;
  uint32_t firstDifat = kCfbEndOfChain;
  bool fatInHeader = true;

  Bytes Make() const {
    const uint32_t sectors = 2 + dataSectors;
    Builder b(512 + 512 * sectors);
    const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    b.Put(0, sig, 8).LE(24, 0x3E, 2).LE(26, 3, 2).LE(28, 0xFFFE, 2).LE(30, 9, 2).LE(32, 6, 2);
    b.LE(44, 1, 4).LE(48, directorySector, 4).LE(56, 4096, 4).LE(60, kCfbEndOfChain, 4);
    b.LE(68, firstDifat, 4);
    for (int i = 0; i < 109; ++i) b.LE(76 + 4 * i, kCfbFree, 4);
    if (fatInHeader) b.LE(76, 0, 4);
    // The allocation table: itself, the directory's one-sector chain, then the data chain.
    const size_t fat = 512;
    for (int i = 0; i < 128; ++i) b.LE(fat + 4 * i, kCfbFree, 4);
    b.LE(fat, 0xFFFFFFFD, 4).LE(fat + 4, kCfbEndOfChain, 4);
    for (uint32_t s = 2; s < sectors; ++s) b.LE(fat + 4 * s, s + 1 < sectors ? s + 1 : kCfbEndOfChain, 4);
    const size_t dir = 512 + 512;
    for (int e = 0; e < 4; ++e) {
      const std::u16string& n = names[e];
      for (size_t i = 0; i < n.size(); ++i) b.LE(dir + 128 * e + 2 * i, n[i], 2);
      b.LE(dir + 128 * e + 64, n.empty() ? 0 : 2 * (n.size() + 1), 2);
      b.LE(dir + 128 * e + 66, e == 0 ? 5 : 2, 1);
    }
    b.LE(dir + 80, rootClassByte, 1);
    for (size_t i = 3 * 512; i < b.b.size(); ++i) b.b[i] = static_cast<uint8_t>(i * 7);
    return b.b;
  }
};

inline std::vector<Bytes> DocumentHeaders() {
  std::vector<Bytes> out;
  CompoundFile doc;
  doc.names[1] = u"WordDocument";
  out.push_back(doc.Make());
  out.push_back(Builder(512).Text(0, "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n").b);
  out.push_back(Builder(512).Text(0, "{\\rtf1\\ansi {\\b bold} \\{ literal\\} }").b);
  out.push_back(Builder(512).Text(0, "<!DOCTYPE html>\n<html><body>page</body></html>\n").b);
  return out;
}

}  // namespace rawtest
