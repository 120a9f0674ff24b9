#pragma once
// The seeded mutation the NTFS parser tests apply to real records, index buffers, boot sectors and
// run strings: a few edits per mutant, each a bit flip, a random byte, a boundary value written into
// a field, a stretch shifted by a few bytes, or a random byte in the first 0x60, where the headers'
// checks live.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

inline void Mutate(std::vector<uint8_t>& b, std::mt19937_64& rng) {
  static const uint64_t kValues[] = {
      0,           1,    0x7F, 0x80,  0xFF,  0x7FFF,     0x8000,     0xFFFF,
      0x10,        0x18, 0x40, 0x3F8, 0x400, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFFFFFFFFFFull,
      ~uint64_t{0}};
  if (b.empty()) return;
  int edits = 1 + int(rng() % 4);
  for (int i = 0; i < edits; ++i) {
    size_t at = rng() % b.size();
    switch (rng() % 5) {
      case 0:
        b[at] ^= uint8_t(1u << (rng() % 8));
        break;
      case 1:
        b[at] = uint8_t(rng());
        break;
      case 2: {
        // A boundary value into a 2-, 4- or 8-byte field.
        unsigned width = 2u << (rng() % 3);
        uint64_t v = kValues[rng() % (sizeof kValues / sizeof kValues[0])];
        for (unsigned k = 0; k < width && at + k < b.size(); ++k) b[at + k] = uint8_t(v >> (8 * k));
        break;
      }
      case 3: {
        // Shift a stretch by a few bytes, as a lost or doubled byte would.
        size_t n = std::min<size_t>(b.size() - at, 1 + rng() % 64);
        size_t by = 1 + rng() % 8;
        if (at + by < b.size())
          std::memmove(b.data() + at, b.data() + at + by, std::min(n, b.size() - at - by));
        break;
      }
      default:
        // A small field of the headers, where most checks live.
        b[rng() % std::min<size_t>(b.size(), 0x60)] = uint8_t(rng());
        break;
    }
  }
}
