#pragma once
// First sectors of the archive formats, each one that its analyser's header test accepts, for the
// tests that need a sample of every analyser's header.

#include "RawTestSupport.h"

namespace rawtest {

inline Bytes ChmHeader(uint64_t size) {
  static const uint8_t classA[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                     0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
  Builder b(512);
  b.Text(0, "ITSF").LE(4, 3, 4).LE(8, 96, 4).Put(24, classA, 16).Put(40, classA, 16);
  b.b[40] = 0x11;
  b.LE(96, 0x1FE, 4).LE(104, size, 8);
  return b.b;
}

inline Bytes CabHeader(uint32_t size) {
  return Builder(512).Text(0, "MSCF").LE(8, size, 4).LE(16, 44, 4).LE(24, 0x0103, 2).LE(26, 1, 2).b;
}

inline std::vector<Bytes> ArchiveHeaders() {
  std::vector<Bytes> out;
  out.push_back(
      Builder(512).Text(0, "PK\x03\x04").LE(8, 8, 2).LE(18, 100, 4).LE(26, 5, 2).Text(30, "a.txt").b);
  out.push_back(Builder(512).Put(0, "Rar!\x1a\x07\x00", 7).LE(9, 0x73, 1).LE(12, 13, 2).b);
  out.push_back(Builder(512).Text(0, "a.txt").Text(124, "00000000144").Text(257, "ustar").b);
  out.push_back(Builder(512).LE(0, 30, 1).Text(2, "-lh5-").LE(7, 100, 4).b);
  out.push_back(CabHeader(4000));
  out.push_back(ChmHeader(9000));
  out.push_back(Builder(512).LE(0, 0x088B1F, 3).b);
  return out;
}

}  // namespace rawtest
