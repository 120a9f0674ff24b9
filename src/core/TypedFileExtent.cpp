#include "core/TypedFileExtent.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>
#include <unordered_map>

#include "core/BuiltInFileTypes.h"
#include "core/SearchedPartitionInfo.h"

namespace {

constexpr size_t kMaxExtensionChars = 4;

// An extension of 1 to 4 ASCII characters packed upper-cased into one word, 0 when it cannot be
// one of ours (too long, or holding a character outside ASCII or a NUL).
template <typename Char>
uint32_t ExtensionKey(const Char* text, size_t length) {
  if (length == 0 || length > kMaxExtensionChars) return 0;
  uint32_t key = 0;
  for (size_t i = 0; i < length; ++i) {
    const auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(text[i]));
    if (c == 0 || c > 0x7F) return 0;
    const uint32_t upper = (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    key = (key << 8) | upper;
  }
  return key;
}

// Built on first use from the built-in types. An extension of 5 characters can never be asked
// for (at most 4 follow the dot) and is left out.
const std::unordered_map<uint32_t, uint16_t>& ExtensionDictionary() {
  static const std::unordered_map<uint32_t, uint16_t> dictionary = [] {
    std::unordered_map<uint32_t, uint16_t> d;
    for (int32_t id = kFirstBuiltInFileType; id <= kLastBuiltInFileType; ++id) {
      const char* extension = GetBuiltInFileTypeExtension(id);
      const uint32_t key = ExtensionKey(extension, std::strlen(extension));
      if (key != 0) d.emplace(key, static_cast<uint16_t>(id));
    }
    return d;
  }();
  return dictionary;
}

uint16_t TypeOfKey(uint32_t key) {
  if (key == 0) return CTypedFileExtent::kUnknownType;
  const auto& dictionary = ExtensionDictionary();
  const auto it = dictionary.find(key);
  return it != dictionary.end() ? it->second : CTypedFileExtent::kUnknownType;
}

template <typename Char>
uint16_t TypeOfName(const Char* name, size_t length) {
  if (name == nullptr || length <= 2) return CTypedFileExtent::kUnknownType;
  // The last "." that is not the first character: a leading dot alone names no type.
  size_t dot = 0;
  for (size_t i = length - 1; i >= 1; --i) {
    if (name[i] == Char('.')) {
      dot = i;
      break;
    }
  }
  if (dot == 0) return CTypedFileExtent::kUnknownType;
  return TypeOfKey(ExtensionKey(name + dot + 1, length - dot - 1));
}

}  // namespace

bool CTypedFileExtent::SetFromUnicodeName(const char16_t* name, uint8_t length, int64_t firstCluster,
                                          int64_t entrySector) {
  return Assign(TypeOfName(name, length), firstCluster, entrySector);
}

bool CTypedFileExtent::SetFromAnsiName(const char* name, uint8_t length, int64_t firstCluster,
                                       int64_t entrySector) {
  return Assign(TypeOfName(name, length), firstCluster, entrySector);
}

bool CTypedFileExtent::Assign(uint16_t type, int64_t firstCluster, int64_t entrySector) {
  if (type == kUnknownType || firstCluster < 0 || entrySector < 0) return false;
  *this = CTypedFileExtent(type, firstCluster, entrySector);
  return true;
}

void CTypedFileExtentList::Clear() {
  m_extents.clear();
  m_ascending = true;
}

void CTypedFileExtentList::Add(const CTypedFileExtent& extent) {
  if (!m_extents.empty() && extent.GetEntrySector() < m_extents.back().GetEntrySector()) m_ascending = false;
  m_extents.push_back(extent);
}

bool CTypedFileExtentList::AddFromAnsiName(const char* name, uint8_t length, int64_t firstCluster,
                                           int64_t entrySector) {
  CTypedFileExtent extent;
  if (!extent.SetFromAnsiName(name, length, firstCluster, entrySector)) return false;
  Add(extent);
  return true;
}

int64_t CTypedFileExtentList::CountSignatureMatches(const ISignatureResults& results,
                                                    CSearchedPartitionInfo& partition) const {
  const int64_t start = partition.GetStartSector();
  const uint64_t spc = partition.GetSectorsPerCluster();
  // Start and count come from a scan of a damaged disk or from a state file: the end is computed
  // without overflow, and an empty or negative count makes an empty partition.
  int64_t end = start;
  if (partition.GetSectorCount() > 0 && __builtin_add_overflow(start, partition.GetSectorCount(), &end))
    end = std::numeric_limits<int64_t>::max();

  auto first = m_extents.begin();
  if (m_ascending) {
    // Every extent before the first one at or after the start would be skipped anyway.
    first = std::lower_bound(m_extents.begin(), m_extents.end(), start,
                             [](const CTypedFileExtent& e, int64_t s) { return e.GetEntrySector() < s; });
  }
  int64_t added = 0;
  for (auto it = first; it != m_extents.end(); ++it) {
    const int64_t entry = it->GetEntrySector();
    if (entry < start) continue;
    if (entry >= end) break;
    if (it->GetFirstCluster() < 0) continue;
    int64_t offset;
    int64_t data;
    if (__builtin_mul_overflow(it->GetFirstCluster(), static_cast<int64_t>(spc), &offset) ||
        __builtin_add_overflow(offset, start, &data))
      continue;
    if (data < start || data >= end || data < 0) continue;
    int32_t type;
    if (results.FindFileType(static_cast<uint64_t>(data), type) && type == it->GetFileType()) ++added;
  }
  int64_t total;
  if (__builtin_add_overflow(partition.GetFilesMatch(), added, &total))
    total = std::numeric_limits<int64_t>::max();
  partition.SetFilesMatch(total);
  return added;
}
