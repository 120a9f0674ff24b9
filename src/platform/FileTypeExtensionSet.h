#pragma once
// The program-wide set of file extensions the user chose, which the file-system engines ask whether a
// found file is wanted. It sits in the platform library so that the engines (below the user
// interface) can ask it and the user interface can fill it from its file-type catalogue.
//
// Modes: 0 all types (the set is empty), 1 include list (the set holds the chosen types'
// extensions), 2 exclude list (the set holds extensions no chosen type uses). Extensions are kept
// with their leading dot and compared without regard to ASCII case.
//
// Worker threads query while the user-interface thread may rebuild: a rebuild takes the lock
// exclusively, queries share it.

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class CFileTypeExtensionSet {
 public:
  static constexpr int32_t kAllTypes = 0;
  static constexpr int32_t kIncludeList = 1;
  static constexpr int32_t kExcludeList = 2;

  // Replaces mode and extensions in one step; mode 0 leaves the set empty whatever is passed.
  // Returns false, changing nothing, for a mode other than 0, 1 or 2.
  bool Rebuild(int32_t mode, const std::vector<std::string>& extensions);
  // Back to mode 0 with no extensions.
  void Clear();

  int32_t GetMode() const;
  // The number of extensions held; 0 means every type is wanted.
  size_t GetSize() const;
  // Whether a file with `extension` (".jpg") is wanted: true for an empty set in every mode;
  // otherwise whether the set holds it, inverted in mode 2. A null extension is not wanted.
  bool IsFileTypeInList(const char* extension) const;
  bool IsFileTypeInList(std::string_view extension) const;

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  mutable std::shared_mutex m_lock;
  int32_t m_mode = kAllTypes;
  std::unordered_set<std::string, Hash, std::equal_to<>> m_extensions;  // lower case
};

// The one set of the process, made on first use.
CFileTypeExtensionSet& GetFileTypeExtensionSet();
