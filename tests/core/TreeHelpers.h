#pragma once
// Small trees for the tests: folders and files carrying in-memory properties, and a text form of a
// tree that two trees can be compared by.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/FileNode.h"
#include "core/MyFileProperties.h"

namespace treetest {

inline CMyFileProperties* Props(const char* name, uint64_t size, uint16_t attributes) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  return new CMyFileProperties(info);
}

inline CFileNode* AddFolder(CFileNode* parent, const char* name) {
  CFileNode* n = CreateFileNode();
  n->SetFileProperties(Props(name, 0, kAttributeFolder));
  return parent != nullptr ? parent->AddChild(n) : n;
}

inline CFileNode* AddFile(CFileNode* parent, const char* name, uint64_t size, uint16_t attributes = 0x20) {
  CFileNode* n = CreateFileNode();
  n->SetFileProperties(Props(name, size, attributes));
  return parent->AddChild(n);
}

inline CFileSystemNode* MakePartition(const char* name, int32_t type, uint64_t first, uint32_t spc) {
  CFileSystemNode* n = CreateFileSystemNode();
  n->SetName(name);
  n->SetFileSystemType(type);
  n->SetPosition(first, spc);
  n->SetFileProperties(Props(name, 0, kAttributeFolder));
  return n;
}

inline uint8_t StateOf(const CFileNode* n) { return n->GetFileProperties()->GetCheckState(); }

// One line per node in depth-first order (children in list order): depth, kind, the properties'
// values and, for partition nodes, their own fields. Iterative, so deep trees can be described.
inline std::string Describe(CFileNode* root) {
  std::string out;
  std::vector<std::pair<CFileNode*, int>> stack{{root, 0}};
  while (!stack.empty()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    char line[512];
    const IFileProperties* p = n->GetFileProperties();
    if (p != nullptr) {
      std::snprintf(
          line, sizeof line, "%d %s name=%s size=%llu attr=%x t=%llu/%llu/%llu type=%u code=%d text=%s",
          depth, n->IsFileSystemNode() ? "FS" : "N", p->GetName(),
          static_cast<unsigned long long>(p->GetSize()), p->GetAttributes(),
          static_cast<unsigned long long>(p->GetCreationTime()),
          static_cast<unsigned long long>(p->GetTime2()), static_cast<unsigned long long>(p->GetTime3()),
          p->GetTypeWord(), p->GetPersistenceCode(), p->GetExtraText().c_str());
    } else {
      std::snprintf(line, sizeof line, "%d %s no-properties", depth, n->IsFileSystemNode() ? "FS" : "N");
    }
    out += line;
    if (n->IsFileSystemNode()) {
      auto* fs = static_cast<CFileSystemNode*>(n);
      uint64_t first;
      uint32_t spc;
      fs->GetPosition(first, spc);
      SelectionSummary s;
      fs->GetSummary(s);
      std::snprintf(line, sizeof line, " fs=%s type=%d pos=%llu/%u files=%u bytes=%llu", fs->GetName(),
                    fs->GetFileSystemType(), static_cast<unsigned long long>(first), spc, s.files,
                    static_cast<unsigned long long>(s.bytes));
      out += line;
    }
    out += '\n';
    std::vector<CFileNode*> children;
    for (CFileNode* c = n->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) children.push_back(c);
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return out;
}

// Names of the children of a node, in list order.
inline std::vector<std::string> ChildNames(const CFileNode* n) {
  std::vector<std::string> names;
  for (const CFileNode* c = n->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    names.push_back(c->GetFileProperties() ? c->GetFileProperties()->GetName() : "?");
  }
  return names;
}

}  // namespace treetest
