#pragma once
// Text as FAT stores it, turned into the UTF-8 the engine's narrow strings hold: long names are
// UTF-16, 8.3 names and labels are bytes of the DOS code page the volume was written with.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvale::fat {

// The character every unpaired surrogate of a long name becomes.
inline constexpr char kDefaultNameChar = '_';

// UTF-16 to UTF-8; each unpaired surrogate becomes kDefaultNameChar.
std::string Utf16ToUtf8(std::u16string_view text);

// Bytes of code page 850 (the DOS code page mkfs.fat and mtools write by default, and the one
// western Windows installations use) to UTF-8. Bytes below 0x80 stay as they are. With `lowerCase`
// the capital letters of the code page become small ones, as the case flags of a short name ask.
std::string OemToUtf8(std::string_view bytes, bool lowerCase = false);

}  // namespace corvale::fat
