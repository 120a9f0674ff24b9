#include "core/WantedFileType.h"

#include <string_view>

#include "platform/FileTypeExtensionSet.h"

bool IsWantedFileType(const CFileTypeExtensionSet& set, const char* name, bool all) {
  if (name == nullptr || all) return true;
  const std::string_view text(name);
  const size_t dot = text.rfind('.');
  // Asked for every file a build finds: one look at the set, under one lock. Its answer for an
  // empty set is "wanted" whatever the extension, which is the rule for an empty set here too.
  if (dot == std::string_view::npos) return set.GetSize() == 0;
  return set.IsFileTypeInList(text.substr(dot));
}

bool IsWantedFileType(const char* name, bool all) {
  return IsWantedFileType(GetFileTypeExtensionSet(), name, all);
}
