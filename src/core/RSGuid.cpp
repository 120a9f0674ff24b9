#include <cstring>

#include "core/IRSData.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

RSGuid RSGuid::FromString(const char* text) {
  RSGuid guid;
  if (!text) return guid;
  size_t length = std::strlen(text);
  if (length == 38 && text[0] == '{' && text[37] == '}') {
    ++text;
    length = 36;
  }
  if (length != 36) return guid;
  // The text's digits in order, as 16 bytes; hyphens only between the five groups.
  uint8_t raw[16];
  size_t byte = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return RSGuid{};
      ++i;
      continue;
    }
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return RSGuid{};
    raw[byte++] = static_cast<uint8_t>(high << 4 | low);
    i += 2;
  }
  // The first three groups are numbers stored little-endian; the last two are bytes in order.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) guid.bytes[i] = raw[order[i]];
  return guid;
}
