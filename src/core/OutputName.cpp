#include "core/OutputName.h"

#include <cstdint>

#include "core/NameConversion.h"

namespace corvale {

namespace {

// An extension longer than this is not worth keeping when a name is cut: it is part of the name.
constexpr size_t kMaxKeptExtension = 32;

bool IsUtf8Continuation(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }

// Cuts `text` to at most `limit` bytes without splitting a character.
std::string_view CutAtCharacter(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && IsUtf8Continuation(text[end])) --end;
  return text.substr(0, end);
}

}  // namespace

std::string MakeOutputName(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(name.size());
  size_t pos = 0;
  while (pos < name.size()) {
    char32_t c;
    const size_t used = DecodeUtf8(name, pos, &c);
    if (used == 0) {
      const uint8_t b = static_cast<uint8_t>(name[pos]);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
      ++pos;
      continue;
    }
    if (c == '/' || c < 0x20 || c == 0x7F) {
      out += '#';
    } else {
      out.append(name.substr(pos, used));
    }
    pos += used;
  }
  if (out.empty() || out == ".") return "#";
  if (out == "..") return "##";
  if (out.size() <= kMaxOutputNameBytes) return out;

  // Keep the extension (from the last dot, not a leading one) when it is short.
  const size_t dot = out.rfind('.');
  std::string_view extension;
  if (dot != std::string::npos && dot > 0 && out.size() - dot <= kMaxKeptExtension) {
    extension = std::string_view(out).substr(dot);
  }
  const std::string_view stem = CutAtCharacter(std::string_view(out).substr(0, out.size() - extension.size()),
                                               kMaxOutputNameBytes - extension.size());
  return std::string(stem) + std::string(extension);
}

std::string MakeTopFolderName(std::string_view name) {
  std::string replaced(name);
  for (char& c : replaced) {
    switch (c) {
      case ':':
      case '?':
      case '\\':
      case '/':
      case '|':
      case '*':
      case '>':
      case '<':
      case '"':
        c = '#';
        break;
      default:
        break;
    }
  }
  return MakeOutputName(replaced);
}

}  // namespace corvale
