#include "platform/FileTypeExtensionSet.h"

#include <mutex>

namespace {

// Longer extensions are cut to this many characters before the lookup, as the set's users always
// have; no extension in the catalogue comes near it.
constexpr size_t kMaxExtension = 259;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

}  // namespace

bool CFileTypeExtensionSet::Rebuild(int32_t mode, const std::vector<std::string>& extensions) {
  if (mode != kAllTypes && mode != kIncludeList && mode != kExcludeList) return false;
  std::unordered_set<std::string, Hash, std::equal_to<>> fresh;
  if (mode != kAllTypes)
    for (const std::string& e : extensions)
      fresh.insert(LowerCopy(std::string_view(e).substr(0, kMaxExtension)));
  std::unique_lock<std::shared_mutex> lock(m_lock);
  m_mode = mode;
  m_extensions.swap(fresh);
  return true;
}

void CFileTypeExtensionSet::Clear() { Rebuild(kAllTypes, {}); }

int32_t CFileTypeExtensionSet::GetMode() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_mode;
}

size_t CFileTypeExtensionSet::GetSize() const {
  std::shared_lock<std::shared_mutex> lock(m_lock);
  return m_extensions.size();
}

bool CFileTypeExtensionSet::IsFileTypeInList(const char* extension) const {
  if (!extension) return false;
  return IsFileTypeInList(std::string_view(extension));
}

bool CFileTypeExtensionSet::IsFileTypeInList(std::string_view extension) const {
  // Lower-cased on the stack: this is asked for every file a directory build finds.
  char key[kMaxExtension];
  size_t length = extension.size() < kMaxExtension ? extension.size() : kMaxExtension;
  for (size_t i = 0; i < length; ++i) key[i] = Lower(extension[i]);
  std::shared_lock<std::shared_mutex> lock(m_lock);
  if (m_extensions.empty()) return true;
  bool found = m_extensions.find(std::string_view(key, length)) != m_extensions.end();
  return m_mode == kExcludeList ? !found : found;
}

CFileTypeExtensionSet& GetFileTypeExtensionSet() {
  static CFileTypeExtensionSet set;
  return set;
}
