#include "core/PartitionDisplayName.h"

#include <cstdio>

#include "core/StateIo.h"

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::string FormatPartitionDisplayName(const std::string& label, uint8_t& driveLetter,
                                       const char* fileSystemName, int32_t number) {
  if (driveLetter == 0) driveLetter = kNoDriveLetter;
  const char* fs = fileSystemName != nullptr ? fileSystemName : "";
  const bool hasLetter = driveLetter != kNoDriveLetter;
  const bool hasLabel = !label.empty();
  std::string name;
  if (hasLetter && hasLabel)
    name = Format("%c:(%s - %s %d)", driveLetter, label.c_str(), fs, number);
  else if (hasLabel)
    name = Format("%s(%s %d)", label.c_str(), fs, number);
  else if (hasLetter)
    name = Format("%c:(%s %d)", driveLetter, fs, number);
  else
    name = Format("%s %d", fs, number);
  return corvale::CutUtf8(name.c_str(), kMaxPartitionDisplayName);
}
