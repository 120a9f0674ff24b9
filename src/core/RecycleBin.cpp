#include "core/RecycleBin.h"

#include <string_view>

#include "core/FileNode.h"
#include "core/FileProperties.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// The node's name; empty for a node without properties or name.
std::string_view NameOf(const CFileNode* node) {
  if (node == nullptr) return {};
  const IFileProperties* properties = node->GetFileProperties();
  if (properties == nullptr || properties->GetName() == nullptr) return {};
  return properties->GetName();
}

}  // namespace

bool IsRecycleBinFolder(const CFileNode* node) {
  if (node == nullptr || node->GetFileProperties() == nullptr || !node->GetFileProperties()->IsFolder())
    return false;
  const std::string_view name = NameOf(node);
  return EqualNoCase(name, "Recycler") || EqualNoCase(name, "Recycled") || EqualNoCase(name, "$Recycle.Bin");
}

bool IsInRecycleBin(const CFileNode* node) {
  for (const CFileNode* n = node; n != nullptr; n = n->GetParent())
    if (IsRecycleBinFolder(n)) return true;
  return false;
}

bool IsRecycleBinIndexFile(const CFileNode* node) {
  const std::string_view name = NameOf(node);
  return name.size() > 1 && (name[0] == '$' || name[0] == '#') && name[1] == 'I';
}

CFileNode* FindRecycleBinPartner(std::list<CFileNode*>& waiting, CFileNode* node) {
  const std::string_view name = NameOf(node);
  const char second = IsRecycleBinIndexFile(node) ? 'I' : 'R';
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    const std::string_view other = NameOf(*it);
    // Equal apart from the second character, which must match the one this node's kind asks for.
    if (other.size() != name.size() || name.size() < 2) continue;
    if (Lower(second) != Lower(name[1])) continue;
    if (Lower(other[0]) != Lower(name[0]) || !EqualNoCase(other.substr(2), name.substr(2))) continue;
    CFileNode* partner = *it;
    waiting.erase(it);
    return partner;
  }
  waiting.push_back(node);
  return nullptr;
}
