#pragma once
// Searching found files by name, type (a list of extensions), date, size and encryption: the
// criteria as the search dialog gathers them, the test of one file against them, and the walk over
// a folder that collects (and may tick) every file that meets them.

#include <cstdint>
#include <string>
#include <vector>

#include "find/FileFilter.h"
#include "find/NamePattern.h"

class CFileNode;
class CFileSystemNode;

struct SearchCriteria {
  // Which parts of the criteria take part, besides the name.
  static constexpr uint32_t kTypeUsed = 1;
  static constexpr uint32_t kDateUsed = 2;
  static constexpr uint32_t kSizeUsed = 4;
  static constexpr uint32_t kOtherUsed = 8;
  // Which time the date part tests.
  static constexpr uint32_t kModified = 1;
  static constexpr uint32_t kCreated = 2;
  static constexpr uint32_t kAccessed = 4;
  // How the size part compares.
  static constexpr uint32_t kLessThan = 1;
  static constexpr uint32_t kMoreThan = 2;

  std::string namePattern = "*";
  uint32_t autoSelect = 0;
  CFileNode* location = nullptr;
  uint32_t flags = 0;
  struct {
    uint32_t kind = 0;  // recorded only
    std::string extensions = "*";
    std::string typeName = "*";  // recorded only
  } type;
  struct {
    uint32_t which = 0;
    uint64_t from = 0;  // FILETIME
    uint64_t to = 0;
  } date;
  struct {
    uint32_t comparison = 0;
    uint64_t limit = 0;  // bytes
  } size;
  uint32_t caseSensitive = 0;
  uint32_t includeEncrypted = 1;
};

class CSearchResult {
 public:
  const std::vector<CFileNode*>& GetItems() const { return m_items; }
  uint32_t GetCount() const { return static_cast<uint32_t>(m_items.size()); }
  void Add(CFileNode* node) { m_items.push_back(node); }
  void Clear() { m_items.clear(); }

 private:
  std::vector<CFileNode*> m_items;
};

class CSearchMatcher {
 public:
  // Takes its own copy; a date range given back to front is turned round.
  explicit CSearchMatcher(SearchCriteria criteria);

  bool Matches(const CFileNode* node) const;
  const SearchCriteria& Criteria() const { return m_criteria; }

 private:
  SearchCriteria m_criteria;
  CFileNamePattern m_name;
  CExtensionListPattern m_extensions;
  CFileAttributeFilter m_encrypted;
};

// Walks the tree below `criteria.location` (not the location itself), each folder before what it
// holds, and adds every file (never a folder) that meets the criteria to `result`, in walk order.
// With auto select on, the files found that are not fully ticked yet are ticked through `owner`, and
// the ticks of their folders are brought in step once for all of them.
void SearchFiles(CFileSystemNode* owner, const SearchCriteria& criteria, CSearchResult& result);
