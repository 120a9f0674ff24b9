#pragma once
// Expansion of NTFS-compressed data (FORMAT.md, "Compressed data"). A compressed attribute is
// stored in compression units of 16 clusters; a unit whose stored clusters are followed by holes
// holds LZNT1 data: a sequence of chunks, each expanding to one 4096-byte block of the unit.
//
// Every length, displacement and header comes from the disk, so the decoder checks each one against
// the bytes it was given and the room left in the block and in the output: a damaged unit is
// reported, never read or written past.

#include <cstddef>
#include <cstdint>

namespace corvale::ntfs {

// Each chunk expands to at most this many bytes.
constexpr size_t kLznt1BlockSize = 4096;

enum class Lznt1Outcome {
  Complete,  // the data ended (a 0 chunk header, or too few bytes left for one) or the output is full
  Damaged,   // a chunk runs past the input, a copy reaches before its block or past its end
};

struct Lznt1Result {
  Lznt1Outcome outcome = Lznt1Outcome::Complete;
  // Where the damage was found: the input offset of the chunk header, and the output offset of the
  // block it expands into.
  size_t chunkOffset = 0;
  size_t blockOffset = 0;
  bool IsComplete() const { return outcome == Lznt1Outcome::Complete; }
};

// Expands `input` into exactly `outputSize` bytes of `output`: block by block, each chunk's content
// followed by zeros up to the block's end, and zeros wherever the data does not reach. The output is
// written only inside [output, output + outputSize) and the input read only inside
// [input, input + inputSize). On damage the rest of the output is zeros.
Lznt1Result DecompressLznt1(const uint8_t* input, size_t inputSize, uint8_t* output, size_t outputSize);

}  // namespace corvale::ntfs
