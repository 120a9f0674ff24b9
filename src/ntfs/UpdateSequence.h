#pragma once
// The multi-sector update sequence that FILE records, index buffers and $LogFile pages share
// (FORMAT.md, "Update sequence"). NTFS writes the structure in strides of 512 bytes and, before each
// write, moves the last word of every stride into an array and puts the update sequence number in
// its place; a stride end without the number is a torn write. The array holds the sequence number
// first, then one saved word per stride.
//
// Every structure reads its array here: ReadUpdateSequence checks that the array and the strides it
// names lie in the buffer before anything is read or written, and the other three work only on what
// it accepted. Failures name the field, the value and the limit it broke.

#include <cstddef>
#include <cstdint>

#include "ntfs/NtfsParse.h"

namespace corvale::ntfs {

// Whatever the device's sector size, the update sequence protects 512-byte strides.
constexpr uint32_t kUpdateSequenceStride = 512;

// Where the array is and how many strides it protects, as ReadUpdateSequence accepted them.
struct UpdateSequence {
  size_t arrayOffset = 0;  // the sequence number, then `strides` saved words
  size_t strides = 0;      // strides of kUpdateSequenceStride bytes from the buffer's start
  uint16_t sequenceNumber = 0;
};

// How strides that the count names but the buffer does not hold whole are taken.
enum class StrideFit {
  Required,       // they break the structure
  WholeInBuffer,  // only the strides that lie whole in the buffer are handled
};

// The array of `count` words at `arrayOffset` of a `length`-byte buffer, protecting count - 1
// strides. Damaged (naming the field) when the buffer is missing, the count is 0, the array runs
// past the buffer, or, with StrideFit::Required, a named stride does not lie whole in the buffer: a
// buffer whose length is not a multiple of the stride holds only its whole strides.
ParseResult ReadUpdateSequence(const uint8_t* buffer, size_t length, uint64_t arrayOffset, uint64_t count,
                               StrideFit fit, UpdateSequence& out);

// Whether the last word of every stride carries the sequence number; Damaged naming the first stride
// end that does not. `sequence` must come from ReadUpdateSequence over the same buffer and length.
ParseResult VerifyUpdateSequence(const uint8_t* buffer, size_t length, const UpdateSequence& sequence);

// Verify, then put saved word i + 1 back at the end of stride i. The buffer is unchanged on failure.
ParseResult ApplyUpdateSequence(uint8_t* buffer, size_t length, const UpdateSequence& sequence);

// The reverse of Apply: the last word of stride i goes into saved word i + 1 and the sequence number
// takes its place, so the buffer is as it was read from the disk.
void RestoreUpdateSequence(uint8_t* buffer, size_t length, const UpdateSequence& sequence);

}  // namespace corvale::ntfs
