#pragma once
// Names between the UTF-16 that file systems store and the UTF-8 the engine's narrow strings hold.
// Nothing is lost for well-formed text; what cannot be represented becomes U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 to UTF-8. An unpaired surrogate becomes `unpaired` (U+FFFD unless the caller's names
// want another character); an empty input gives "".
std::string WideStringToString(std::u16string_view text, char32_t unpaired = 0xFFFD);
inline std::string WideStringToString(const char16_t* text, size_t length) {
  return text != nullptr ? WideStringToString(std::u16string_view(text, length)) : std::string();
}

// UTF-8 to UTF-16. Each byte that does not belong to a well-formed UTF-8 sequence (a stray
// continuation byte, a cut sequence, an overlong form, a surrogate or a value past U+10FFFF)
// becomes U+FFFD.
std::u16string StringToWideString(std::string_view text);

namespace corvale {

// Decodes the UTF-8 character that starts at `pos` (< text.size()) into *out and returns its length
// in bytes; 0 when the bytes there are not a well-formed character.
size_t DecodeUtf8(std::string_view text, size_t pos, char32_t* out);

// Encodes one character (at most U+10FFFF) into `out` and returns its length in bytes, 1 to 4.
size_t EncodeUtf8(char32_t c, char out[4]);
// Appends one character's UTF-8 bytes.
void AppendUtf8(std::string& out, char32_t c);

}  // namespace corvale
