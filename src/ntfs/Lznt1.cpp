#include "ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace corvale::ntfs {

namespace {

// Chunk header: bits 0-11 the stored bytes after the header less one, bit 15 set when the chunk is
// compressed (bits 12-14 hold a signature that readers do not depend on).
constexpr uint16_t kChunkSizeMask = 0x0FFF;
constexpr uint16_t kChunkCompressed = 0x8000;

// A back-reference token is 16 bits split between a displacement (high bits) and a length (low
// bits). The split moves with the position in the block: the displacement gets as many bits as it
// needs to reach the block's start, at least 4, and the length keeps the rest.
struct TokenSplit {
  unsigned lengthBits;
};

inline TokenSplit SplitAt(size_t position) {
  unsigned displacementBits = 4;
  // Positions 1..16 need 4 bits, 17..32 need 5, and so on up to 12 bits for 2049..4096.
  for (size_t reach = 16; reach < position; reach <<= 1) ++displacementBits;
  return TokenSplit{16 - displacementBits};
}

// Expands one compressed chunk (`data`, `size` bytes) into the block at `block`, of which only
// `writable` bytes (at most the block size) may be written. Returns false on damage; *produced gets
// the bytes of the block the chunk accounts for (up to `writable`).
bool ExpandChunk(const uint8_t* data, size_t size, uint8_t* block, size_t writable, size_t* produced) {
  size_t in = 0;
  size_t out = 0;
  while (in < size) {
    const uint8_t flags = data[in++];
    for (int bit = 0; bit < 8 && in < size; ++bit) {
      if (out >= writable) {
        // The output is full: what the chunk holds beyond it is not wanted.
        *produced = out;
        return true;
      }
      if ((flags & (1u << bit)) == 0) {
        block[out++] = data[in++];
        continue;
      }
      if (size - in < 2) return false;
      const uint16_t token = static_cast<uint16_t>(data[in] | (data[in + 1] << 8));
      in += 2;
      if (out == 0) return false;  // nothing before it to copy from
      const TokenSplit split = SplitAt(out);
      const size_t length = (token & ((1u << split.lengthBits) - 1)) + 3;
      const size_t displacement = (token >> split.lengthBits) + 1;
      if (displacement > out) return false;              // reaches before the block
      if (length > kLznt1BlockSize - out) return false;  // runs past the block
      const size_t copy = std::min(length, writable - out);
      const uint8_t* from = block + out - displacement;
      if (displacement >= copy) {
        std::memcpy(block + out, from, copy);
      } else {
        // The source overlaps what is being written: a run of a repeated pattern.
        for (size_t i = 0; i < copy; ++i) block[out + i] = from[i];
      }
      out += copy;
    }
  }
  *produced = out;
  return true;
}

}  // namespace

Lznt1Result DecompressLznt1(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize) {
  Lznt1Result result;
  if (output == nullptr || outputSize == 0) return result;
  if (input == nullptr) inputSize = 0;
  size_t in = 0;
  size_t blockStart = 0;
  size_t filled = 0;  // bytes of the output written so far, zeros included
  while (blockStart < outputSize && inputSize - in >= 2) {
    const uint16_t header = static_cast<uint16_t>(input[in] | (input[in + 1] << 8));
    if (header == 0) break;
    const size_t stored = static_cast<size_t>(header & kChunkSizeMask) + 1;
    if (stored > inputSize - in - 2) {
      result = {Lznt1Outcome::Damaged, in, blockStart};
      break;
    }
    const uint8_t* data = input + in + 2;
    uint8_t* block = output + blockStart;
    const size_t writable = std::min(kLznt1BlockSize, outputSize - blockStart);
    size_t produced = 0;
    if (header & kChunkCompressed) {
      if (!ExpandChunk(data, stored, block, writable, &produced)) {
        result = {Lznt1Outcome::Damaged, in, blockStart};
        filled = blockStart;
        break;
      }
    } else {
      // A chunk kept as it is: at most one block of plain bytes.
      produced = std::min(stored, writable);
      std::memcpy(block, data, produced);
    }
    // A chunk shorter than its block leaves the rest of the block zero.
    std::memset(block + produced, 0, writable - produced);
    filled = blockStart + writable;
    in += 2 + stored;
    blockStart += kLznt1BlockSize;
  }
  if (filled < outputSize) std::memset(output + filled, 0, outputSize - filled);
  return result;
}

}  // namespace corvale::ntfs
