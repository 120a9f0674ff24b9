#include "find/SearchMatcher.h"

#include <utility>

#include "core/FileNode.h"
#include "core/FileProperties.h"

namespace {

constexpr uint32_t kValidName = 0x01;
constexpr uint32_t kValidSize = 0x02;
constexpr uint32_t kValidCreation = 0x08;
constexpr uint32_t kValidModification = 0x10;
constexpr uint32_t kValidAccess = 0x20;

NamePatternRequest NameRequest(const SearchCriteria& criteria) {
  NamePatternRequest request;
  request.text = criteria.namePattern;
  request.caseSensitive = criteria.caseSensitive != 0;
  request.mode = NamePatternMode::kSearch;
  return request;
}

SearchCriteria Ordered(SearchCriteria criteria) {
  if (criteria.date.from > criteria.date.to) std::swap(criteria.date.from, criteria.date.to);
  return criteria;
}

}  // namespace

CSearchMatcher::CSearchMatcher(SearchCriteria criteria)
    : m_criteria(Ordered(std::move(criteria))),
      m_name(NameRequest(m_criteria)),
      m_extensions(m_criteria.type.extensions),
      m_encrypted(m_criteria.includeEncrypted != 0 ? -1 : kAttributeEncrypted) {}

bool CSearchMatcher::Matches(const CFileNode* node) const {
  const IFileProperties* p = node != nullptr ? node->GetFileProperties() : nullptr;
  if (p == nullptr) return false;
  const uint32_t valid = p->GetValidMask();
  const uint32_t flags = m_criteria.flags;
  if ((flags & SearchCriteria::kOtherUsed) && m_criteria.includeEncrypted == 0 && m_encrypted.Accept(p))
    return false;
  if ((valid & kValidName) == 0 || !m_name.Matches(p->GetName())) return false;
  if ((flags & SearchCriteria::kTypeUsed) && !m_extensions.Matches(p->GetName())) return false;
  if (flags & SearchCriteria::kDateUsed) {
    uint64_t time = 0;
    switch (m_criteria.date.which) {
      case SearchCriteria::kModified:
        if ((valid & kValidModification) == 0) return false;
        time = p->GetTime2();
        break;
      case SearchCriteria::kCreated:
        if ((valid & kValidCreation) == 0) return false;
        time = p->GetCreationTime();
        break;
      case SearchCriteria::kAccessed:
        if ((valid & kValidAccess) == 0) return false;
        time = p->GetTime3();
        break;
      default:
        return false;
    }
    if (time < m_criteria.date.from || time > m_criteria.date.to) return false;
  }
  if (flags & SearchCriteria::kSizeUsed) {
    if ((valid & kValidSize) == 0) return false;
    const uint64_t size = p->GetSize();
    switch (m_criteria.size.comparison) {
      case SearchCriteria::kLessThan:
        if (size > m_criteria.size.limit) return false;
        break;
      case SearchCriteria::kMoreThan:
        if (size < m_criteria.size.limit) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

void SearchFiles(CFileSystemNode* owner, const SearchCriteria& criteria, CSearchResult& result) {
  if (criteria.location == nullptr) return;
  const CSearchMatcher matcher(criteria);
  std::vector<CFileNode*> toTick;
  // A file ticked with its subtree ticks whatever lies below it; nothing below it is listed again.
  const CFileNode* tickedSubtree = nullptr;
  // Pre-order without recursion: a damaged file system can nest folders thousands deep.
  CFileNode* node = criteria.location->GetFirstChild();
  while (node != nullptr) {
    const IFileProperties* p = node->GetFileProperties();
    const bool folder = p == nullptr || ((p->GetValidMask() & kValidAttributes) && p->IsFolder());
    if (!folder && matcher.Matches(node)) {
      if (criteria.autoSelect && p->GetCheckState() != kChecked && tickedSubtree == nullptr) {
        toTick.push_back(node);
        if (node->GetFirstChild() != nullptr) tickedSubtree = node;
      }
      result.Add(node);
    }
    if (node->GetFirstChild() != nullptr) {
      node = node->GetFirstChild();
      continue;
    }
    while (node != nullptr && node != criteria.location && node->GetNextSibling() == nullptr) {
      if (node == tickedSubtree) tickedSubtree = nullptr;
      node = node->GetParent();
    }
    if (node == tickedSubtree) tickedSubtree = nullptr;
    node = node == nullptr || node == criteria.location ? nullptr : node->GetNextSibling();
  }
  if (owner != nullptr && !toTick.empty()) owner->SetCheckOfNodes(toTick, true);
}
