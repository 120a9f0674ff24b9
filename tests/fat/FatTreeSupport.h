#pragma once
// What the directory-build tests share: trees that free themselves, nodes by path, and the files
// fat_filled.sh writes with where they end up.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/IDIRBuildCallback.h"
#include "fat/FATFileProperties.h"

namespace fattest {

struct TreeDeleter {
  void operator()(CFileSystemNode* root) const { FreeFileTree(root); }
};
using Tree = std::unique_ptr<CFileSystemNode, TreeDeleter>;

// The FAT properties of a node, or null for a node that carries another engine's.
inline const CFATFileProperties* FatProps(const CFileNode* node) {
  return dynamic_cast<const CFATFileProperties*>(node->GetFileProperties());
}
inline const CFATFileProperties& Props(const CFileNode* node) { return *FatProps(node); }

// Every node below `folder` by its path ("a/b/c"), folders included.
inline void Collect(const CFileNode* folder, const std::string& prefix,
                    std::map<std::string, const CFileNode*>* out) {
  for (const CFileNode* c = folder->GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    const std::string path = prefix + c->GetFileProperties()->GetName();
    (*out)[path] = c;
    Collect(c, path + "/", out);
  }
}

inline std::string Describe(const std::map<std::string, const CFileNode*>& nodes) {
  std::string text;
  for (const auto& [path, node] : nodes) {
    const CFATFileProperties* p = FatProps(node);
    text += path + (p != nullptr && p->IsDeleted() ? " (deleted)\n" : "\n");
  }
  return text;
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file the fixture script wrote: its path, the tag of its lines, its size and whether it is
// deleted.
struct Expected {
  std::string path;
  std::string tag;
  uint64_t size;
  bool deleted;
};

// The files of fat_filled.sh whose clusters no later write took, for clusters of `cb` bytes.
inline std::vector<Expected> ExpectedFiles(uint32_t cb) {
  std::vector<Expected> files = {
      {"hello.txt", "hello", 100, false},
      {"Long File Name Example.dat", "longname", cb * 5 / 2, false},
      {"Ünïcødé 名前.txt", "unicode", 300, false},
      {"õx.txt", "otilde", 10, false},
      {"empty.txt", "", 0, false},
      {"frag/A.bin", "A", cb * 2, false},
      {"frag/C.bin", "C", cb, false},
      {"frag/D.bin", "D", cb * 6 + 100, false},
      {"deep/level1/level2/level3/level4/level5/leaf file.txt", "leaf", cb + 1, false},
      {"Deleted Long Name Document.txt", "deldoc", cb * 3, true},
      {"#one.bin", "gone", cb / 2, true},
      {"deep/level1/#emoved.txt", "removed", 200, true},
      {"Old Folder/#nner1.txt", "inner1", 150, true},
      {"Old Folder/Inner/Some long inner name.txt", "inner2", cb + 10, true},
  };
  for (int i = 1; i <= 40; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", i);
    files.push_back({std::string("many/Many file number ") + number + " with a long name.txt",
                     std::string("many") + number, 64, false});
  }
  return files;
}

// A build callback that answers -1 from its k-th call on (never with k < 0) and counts the calls.
struct CancelAt : IDIRBuildCallback {
  int k;
  int calls = 0;
  explicit CancelAt(int at) : k(at) {}
  int32_t Answer() { return k >= 0 && calls++ >= k ? -1 : (k < 0 ? (++calls, 0) : 0); }
  int32_t BeginStage(const char*, int32_t) override { return Answer(); }
  int32_t AddProgress(int32_t) override { return Answer(); }
  int32_t StepTo(int32_t) override { return Answer(); }
  int32_t EndStage() override { return Answer(); }
  int32_t Poll() override { return Answer(); }
};

// The last part of a path.
inline std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace fattest
