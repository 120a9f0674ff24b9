#include "ntfs/UpdateSequence.h"

#include "storage/ByteReader.h"
#include "storage/CheckedMath.h"

using corvale::ByteReader;

namespace corvale::ntfs {

namespace {

constexpr size_t kStride = kUpdateSequenceStride;

size_t StrideEnd(size_t stride) { return (stride + 1) * kStride - 2; }

void PutWord(uint8_t* b, size_t o, uint16_t v) {
  b[o] = static_cast<uint8_t>(v);
  b[o + 1] = static_cast<uint8_t>(v >> 8);
}

// Whether the accepted layout still fits the buffer it is used on: a caller could pass a shorter
// length than the one ReadUpdateSequence saw.
bool Fits(size_t length, const UpdateSequence& s) {
  return s.strides <= length / kStride && rangeFits(s.arrayOffset, 2 * (uint64_t(s.strides) + 1), length);
}

}  // namespace

ParseResult ReadUpdateSequence(const uint8_t* buffer, size_t length, uint64_t arrayOffset, uint64_t count,
                               StrideFit fit, UpdateSequence& out) {
  if (buffer == nullptr) return ParseResult::Damaged("buffer", "is missing", 0, 0);
  if (count == 0)
    return ParseResult::Damaged("update-sequence count", "is 0: the sequence number has no place", count, 0,
                                1);
  // Counted in 64 bits: offset and count come from the disk.
  if (count > UINT64_MAX / 2 || !rangeFits(arrayOffset, 2 * count, length))
    return ParseResult::Damaged("update-sequence array", "runs past the buffer", arrayOffset, arrayOffset,
                                length);
  const uint64_t whole = length / kStride;
  uint64_t strides = count - 1;
  if (strides > whole) {
    if (fit == StrideFit::Required)
      return ParseResult::Damaged("update-sequence count", "names more strides than the buffer holds", count,
                                  0, whole + 1);
    strides = whole;
  }
  out.arrayOffset = static_cast<size_t>(arrayOffset);
  out.strides = static_cast<size_t>(strides);
  out.sequenceNumber = ByteReader(buffer, length).u16(arrayOffset);
  return ParseResult::Valid();
}

ParseResult VerifyUpdateSequence(const uint8_t* buffer, size_t length, const UpdateSequence& sequence) {
  if (buffer == nullptr || !Fits(length, sequence))
    return ParseResult::Damaged("update-sequence array", "does not fit the buffer", sequence.arrayOffset,
                                sequence.arrayOffset, length);
  const ByteReader r(buffer, length);
  for (size_t i = 0; i < sequence.strides; ++i) {
    const size_t end = StrideEnd(i);
    if (r.u16(end) != sequence.sequenceNumber)
      return ParseResult::Damaged("stride end", "does not carry the update sequence number", r.u16(end), end,
                                  sequence.sequenceNumber);
  }
  return ParseResult::Valid();
}

ParseResult ApplyUpdateSequence(uint8_t* buffer, size_t length, const UpdateSequence& sequence) {
  ParseResult verified = VerifyUpdateSequence(buffer, length, sequence);
  if (!verified.IsValid()) return verified;
  const ByteReader r(buffer, length);
  for (size_t i = 0; i < sequence.strides; ++i)
    PutWord(buffer, StrideEnd(i), r.u16(sequence.arrayOffset + 2 * (i + 1)));
  return verified;
}

void RestoreUpdateSequence(uint8_t* buffer, size_t length, const UpdateSequence& sequence) {
  if (buffer == nullptr || !Fits(length, sequence)) return;
  const ByteReader r(buffer, length);
  const uint16_t usn = r.u16(sequence.arrayOffset);
  for (size_t i = 0; i < sequence.strides; ++i) {
    const size_t end = StrideEnd(i);
    PutWord(buffer, sequence.arrayOffset + 2 * (i + 1), r.u16(end));
    PutWord(buffer, end, usn);
  }
}

}  // namespace corvale::ntfs
