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

// UTF-16 little-endian text after a byte-order mark.
inline Bytes WideText(const std::string& s) {
  Bytes b = {0xFF, 0xFE};
  for (char c : s) {
    b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
  }
  return b;
}

inline Bytes Pages(const char* engine, int pages) {
  Builder b(4096 * static_cast<size_t>(pages));
  b.LE(0, 0x100, 4).Text(4, engine);
  for (int p = 1; p < pages; ++p) b.b[4096 * static_cast<size_t>(p)] = 1;
  return b.b;
}

inline const uint8_t kOneNoteId[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                       0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
inline const uint8_t kDbxId[16] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F,
                                   0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0};

inline std::vector<Bytes> DocumentHeaders() {
  std::vector<Bytes> out;
  CompoundFile doc;
  doc.names[1] = u"WordDocument";
  out.push_back(doc.Make());
  out.push_back(Builder(512).Text(0, "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n").b);
  out.push_back(Builder(512).Text(0, "{\\rtf1\\ansi {\\b bold} \\{ literal\\} }").b);
  out.push_back(Builder(512).Text(0, "<!DOCTYPE html>\n<html><body>page</body></html>\n").b);
  out.push_back(WideText("<html><body>page</body></html>"));
  out.push_back(Pages("Standard Jet DB", 3));
  out.push_back(Builder(512).Put(0, "\x94\xA6\x2E\x00", 4).LE(292, 5000, 4).LE(296, 100, 2).b);
  out.push_back(Builder(512).Text(0, "\xFFWPC").LE(8, 0x01020A01, 4).LE(14, 0x00050200, 4).LE(20, 7000, 4).b);
  out.push_back(Builder(512).Text(0, "!BDN").LE(10, 14, 1).LE(168, 9000, 4).b);
  out.push_back(Builder(512).Put(0, kOneNoteId, 16).LE(196, 70000, 4).b);
  out.push_back(Builder(512).Text(4, "MSISAM Database").b);
  out.push_back(Builder(512).Put(0, kDbxId, 16).LE(124, 20000, 4).b);
  out.push_back(Builder(512).Put(0, "\x3F\x5F\x03\x00", 4).LE(4, 16, 4).LE(12, 10000, 4).b);
  // Whole first sectors.
  for (Bytes& b : out) b.resize(std::max<size_t>(b.size(), 512), 0);
  return out;
}

}  // namespace rawtest
