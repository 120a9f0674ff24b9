#pragma once
// The EXIF block of a JPEG's APP1 segment: camera make and model and the recording time.
//
// The block is a TIFF structure ("Exif", two zero bytes, then a TIFF header and IFDs whose offsets
// count from that header). The reader follows IFD0, the EXIF and interoperability sub-IFDs and the
// next-IFD links, every offset checked against the block; a structure that points back at an IFD
// already read, nests too deep or links too many IFDs is refused.

#include <cstdint>

struct ExifInfo {
  char Make[32];   // at most 31 characters
  char Model[40];  // at most 39
  char Date[20];   // at most 19: "YYYY:MM:DD HH:MM:SS"
};

// Clears `info`, then fills it from `block` (`length` bytes from the "Exif" signature). False when
// the block is not a well-formed EXIF block; `info` then holds what was read before the fault.
bool ReadExifBlock(const uint8_t* block, uint32_t length, ExifInfo* info);

namespace corvale {
// Limits of the IFD walk: IFDs read in all, and sub-IFD nesting.
constexpr int kExifMaxIfds = 32;
constexpr int kExifMaxDepth = 4;
}  // namespace corvale
