#include "ntfs/NtfsText.h"

#include <cstring>

#include "core/NameConversion.h"

namespace corvale::ntfs {

namespace {

uint16_t Unit(const uint8_t* bytes, size_t i) {
  return static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

// Calls sink(bytes, n) for each character of the name, in order; stops when sink returns false.
template <typename Sink>
void ForEachCharacter(const uint8_t* bytes, size_t units, Sink sink) {
  char encoded[4];
  for (size_t i = 0; i < units; ++i) {
    uint32_t cp = Unit(bytes, i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
      uint32_t low = Unit(bytes, i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        cp = '_';
      }
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = '_';
    }
    if (!sink(encoded, EncodeUtf8(cp, encoded))) return;
  }
}

}  // namespace

std::string Utf16LeToUtf8(const uint8_t* bytes, size_t units) {
  std::string text;
  if (!bytes) return text;
  text.reserve(units);
  ForEachCharacter(bytes, units, [&](const char* c, size_t n) {
    text.append(c, n);
    return true;
  });
  return text;
}

size_t Utf16LeToUtf8(const uint8_t* bytes, size_t units, char* out, size_t capacity) {
  size_t written = 0;
  if (!bytes || !out) return 0;
  ForEachCharacter(bytes, units, [&](const char* c, size_t n) {
    if (n > capacity - written) return false;
    std::memcpy(out + written, c, n);
    written += n;
    return true;
  });
  return written;
}

bool Utf16LeEqualsAscii(const uint8_t* bytes, size_t units, const char* ascii) {
  if (!bytes || !ascii || std::strlen(ascii) != units) return false;
  for (size_t i = 0; i < units; ++i) {
    if (Unit(bytes, i) != static_cast<uint8_t>(ascii[i])) return false;
  }
  return true;
}

}  // namespace corvale::ntfs
