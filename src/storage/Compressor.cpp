#include "storage/Compressor.h"

#include <cstring>

#include "storage/Bzip2Compressor.h"
#include "storage/LZMACompressor.h"
#include "storage/ZlibCompressor.h"

ICompressor* CreateCompressor(int type) {
  switch (type) {
    case COMPRESSION_BZIP2:
      return new CBzip2Compressor();
    case COMPRESSION_ZLIB:
      return new CZlibCompressor();
    case COMPRESSION_LZMA:
      return new CLZMACompressor();
    default:
      return nullptr;
  }
}

IDecompressor* CreateDecompressor(int type) {
  switch (type) {
    case COMPRESSION_BZIP2:
      return new cbzip2decompressor();
    case COMPRESSION_ZLIB:
      return new czlibdecompressor();
    case COMPRESSION_LZMA:
      return new clzmadecompressor();
    default:
      return nullptr;
  }
}

void ReleaseCompressor(ICompressor* compressor) { delete compressor; }
void ReleaseDecompressor(IDecompressor* decompressor) { delete decompressor; }

namespace corvale {

namespace {

// Runs the stream over the block; true only when it ended inside the capacity and came out shorter
// than the block. The libraries say "not done yet" with non-negative codes, so every step is
// checked for the end of the stream and for progress, never just for the absence of an error.
bool RunCompressor(ICompressor& c, int level, const void* block, uint32_t length, void* output,
                   uint32_t capacity, uint32_t* produced) {
  if (c.Init(level, kBlockDictionarySize) != 0) return false;
  c.SetInput(block, length);
  void* next = output;
  uint32_t space = capacity;
  while (c.GetAvailIn() != 0) {
    const uint32_t inBefore = c.GetAvailIn();
    const uint32_t spaceBefore = space;
    c.SetOutput(next, space);
    if (c.Compress(false) < 0) return false;
    next = c.GetNextOut();
    space = c.GetAvailOut();
    if (c.GetAvailIn() == inBefore && space == spaceBefore) return false;  // no progress: stuck
  }
  c.SetOutput(next, space);
  int result;
  for (;;) {
    const uint32_t spaceBefore = space;
    result = c.Compress(true);
    if (result < 0) return false;
    space = c.GetAvailOut();
    if (result == 1 || space == 0 || space == spaceBefore) break;
  }
  if (result != 1) return false;
  *produced = capacity - space;
  return *produced < length;
}

bool RunDecompressor(IDecompressor& d, const void* data, uint32_t length, void* output, uint32_t capacity,
                     uint32_t* produced) {
  if (d.Init() != 0) return false;
  d.SetInput(data, length);
  d.SetOutput(output, capacity);
  // A step may end the stream without producing output (a trailer after a full output), so a
  // step without progress gets one more try; every other step shrinks the output room.
  int result;
  for (int stalls = 0;;) {
    const uint32_t spaceBefore = d.GetAvailOut();
    result = d.Decompress();
    if (result != 0) break;
    if (d.GetAvailOut() != spaceBefore) {
      stalls = 0;
    } else if (++stalls == 2) {
      break;
    }
  }
  if (result != 1 || d.GetAvailIn() != 0) return false;
  *produced = capacity - d.GetAvailOut();
  return true;
}

}  // namespace

uint32_t CompressBlock(ICompressor* compressor, int level, const void* block, uint32_t length, void* output,
                       uint32_t capacity, bool* compressed) {
  uint32_t produced = 0;
  bool ok = compressor && RunCompressor(*compressor, level, block, length, output, capacity, &produced);
  if (compressor) compressor->End();
  if (compressed) *compressed = ok;
  if (ok) return produced;
  if (capacity < length) return 0;
  if (length) std::memmove(output, block, length);
  return length;
}

uint32_t DecompressBlock(IDecompressor* decompressor, const void* data, uint32_t length, void* output,
                         uint32_t capacity, bool* decompressed) {
  uint32_t produced = 0;
  bool ok = decompressor && RunDecompressor(*decompressor, data, length, output, capacity, &produced);
  if (decompressor) decompressor->End();
  if (decompressed) *decompressed = ok;
  if (ok) return produced;
  if (capacity < length) return 0;
  if (length) std::memmove(output, data, length);
  return length;
}

}  // namespace corvale
