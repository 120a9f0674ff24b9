#pragma once
// Text as NTFS stores it: names are UTF-16LE code units. The engine's narrow strings are UTF-8, so
// names convert losslessly; an unpaired surrogate (possible in a damaged or hand-made name) becomes
// "_", the character used wherever a name has no representation.

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvale::ntfs {

// `units` UTF-16LE code units at `bytes` (2 * units bytes) as UTF-8.
std::string Utf16LeToUtf8(const uint8_t* bytes, size_t units);

// The same into `out`, at most `capacity` bytes, cut before a character that would not fit whole;
// returns the bytes written. No terminator is added.
size_t Utf16LeToUtf8(const uint8_t* bytes, size_t units, char* out, size_t capacity);

// True when the `units` code units at `bytes` are exactly the ASCII text `ascii` (case-sensitive).
bool Utf16LeEqualsAscii(const uint8_t* bytes, size_t units, const char* ascii);

}  // namespace corvale::ntfs
