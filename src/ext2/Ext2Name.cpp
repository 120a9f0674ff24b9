#include "ext2/Ext2Name.h"

#include <cstring>
#include <string_view>

#include "core/NameConversion.h"

size_t ConvertExt2Name(const uint8_t* name, size_t length, char* out, size_t capacity) {
  if (name == nullptr || length == 0 || length > capacity) return 0;
  std::string_view text(reinterpret_cast<const char*>(name), length);
  for (size_t pos = 0; pos < length;) {
    char32_t c;
    size_t used = corvale::DecodeUtf8(text, pos, &c);
    if (used == 0) return 0;
    pos += used;
  }
  std::memcpy(out, name, length);
  return length;
}
