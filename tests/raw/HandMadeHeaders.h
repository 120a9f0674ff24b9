#pragma once
// First sectors of the picture formats no tool here writes, and of every archive, document, media
// and drawing format, for the tests that need a sample of every analyser's header.

#include "ArchiveHeaders.h"
#include "DocumentHeaders.h"
#include "MediaHeaders.h"
#include "RawTestSupport.h"

namespace rawtest {

inline std::vector<Bytes> HandMadeHeaders() {
  std::vector<Bytes> out;
  out.push_back(Builder(512).Text(0, "BM").LE(2, 70000, 4).LE(14, 40, 4).b);
  out.push_back(Builder(512).LE(2, 1, 2).LE(4, 1, 2).LE(12, 32, 2).LE(14, 1000, 4).LE(18, 22, 4).b);
  out.push_back(Builder(512).LE(2, 2, 2).LE(4, 1, 2).LE(14, 300, 4).LE(18, 22, 4).b);
  out.push_back(Builder(512).LE(0, 1, 4).Text(40, " EMF").LE(48, 5000, 4).b);
  out.push_back(Builder(512).LE(0, 0x00090001, 4).LE(6, 700, 4).b);
  {
    Builder w(512);
    w.LE(0, 0x9AC6CDD7, 4).LE(10, 1000, 2).LE(12, 800, 2).LE(14, 1440, 2);
    uint16_t check = 0;
    for (int i = 0; i < 10; ++i) check ^= static_cast<uint16_t>(w.b[2 * i] | (w.b[2 * i + 1] << 8));
    w.LE(20, check, 2).LE(22, 0x00090001, 4).LE(28, 700, 4);
    out.push_back(w.b);
  }
  out.push_back(Builder(512).Text(0, "CPT9FILE").LE(40, 2, 4).LE(52, 316, 4).b);
  out.push_back(Builder(512).Put(0, "II\x1a\0\0\0HEAPCCDR\x02\0", 16).b);
  out.push_back(Builder(512).Text(0, std::string("Paint Shop Pro Image File\n\x1a\0\0\0\0\0", 32)).b);
  out.push_back(Builder(512).Text(0, std::string("MM\0\x2A\0\0\0\x08", 8)).b);
  out.push_back(Builder(512).Text(0, "8BPS").BE(4, 1, 2).b);
  for (Bytes& h : ArchiveHeaders()) out.push_back(std::move(h));
  for (Bytes& h : DocumentHeaders()) out.push_back(std::move(h));
  for (Bytes& h : MediaHeaders()) out.push_back(std::move(h));
  return out;
}

}  // namespace rawtest
