// The file filters and the filtered copy of a found-file tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "find/FileFilter.h"
#include "find/FilterTreeBuilder.h"

namespace {

constexpr uint32_t kAllValid = 0xFF;

CMyFileProperties Props(uint16_t attributes, uint16_t state, uint32_t valid = kAllValid) {
  MyFileInfo info;
  info.attributes = attributes;
  info.typeWord = state;
  info.validMask = valid;
  return CMyFileProperties(info);
}

TEST(FileFilters, AcceptByMaskAndOnlyWhatIsMarkedValid) {
  struct Case {
    const char* name;
    bool stateFilter;
    int32_t mask;
    uint16_t attributes;
    uint16_t state;
    uint32_t valid;
    bool accepted;
  } cases[] = {
      {"attributes not valid, any mask", false, -1, 0x20, 0, kAllValid & ~kValidAttributes, false},
      {"any attribute", false, -1, 0, 0, kAllValid, true},
      {"encrypted wanted, encrypted", false, 0x40, 0x41, 0, kAllValid, true},
      {"encrypted wanted, plain", false, 0x40, 0x01, 0, kAllValid, false},
      {"compressed bit counts", false, 0x800, 0x800, 0, kAllValid, true},
      {"bits outside the list take no part", false, 0x200, 0x200, 0, kAllValid, false},
      {"mask 0", false, 0, 0xFFFF, 0, kAllValid, false},
      {"state not valid", true, -1, 0, 1, kAllValid & ~kValidState, false},
      {"state 8 alone", true, 7, 0, 0x8, kAllValid, false},
      {"state 2", true, 7, 0, 0x2, kAllValid, true},
      {"state 1 with 8", true, 7, 0, 0x9, kAllValid, true},
      {"live file", true, 7, 0, 0, kAllValid, false},
      {"state mask 0", true, 0, 0, 0x7, kAllValid, false},
  };
  for (const Case& c : cases) {
    const CMyFileProperties p = Props(c.attributes, c.state, c.valid);
    if (c.stateFilter) {
      EXPECT_EQ(CFileStateFilter(c.mask).Accept(&p), c.accepted) << c.name;
    } else {
      EXPECT_EQ(CFileAttributeFilter(c.mask).Accept(&p), c.accepted) << c.name;
    }
  }
  EXPECT_FALSE(CFileStateFilter(-1).Accept(nullptr));
}

// A tree built by hand: nodes are added in the order given (AddChild puts each at the head, so
// children are linked from the last).
class Tree {
 public:
  Tree() {
    root = CreateFileSystemNode();
    root->SetName("FAT32 1");
    root->SetPosition(2048, 8);
    root->SetFileSystemType(kFileSystemFat32);
    root->SetFileProperties(new CMyFileProperties(Info("volume", 0x10, 0)));
  }
  ~Tree() { FreeFileTree(root); }

  static MyFileInfo Info(const char* name, uint16_t attributes, uint16_t state) {
    MyFileInfo info;
    info.name = name;
    info.attributes = attributes;
    info.typeWord = state;
    info.validMask = kAllValid;
    return info;
  }
  CFileNode* Add(CFileNode* parent, const char* name, uint16_t attributes, uint16_t state) {
    CFileNode* node = CreateFileNode();
    node->SetFileProperties(new CMyFileProperties(Info(name, attributes, state)));
    // Appended at the tail, so the source keeps the order of the calls.
    CFileNode* last = parent->GetFirstChild();
    if (!last) return parent->AddChild(node);
    std::vector<CFileNode*> children;
    for (CFileNode* c = parent->GetFirstChild(); c; c = c->GetNextSibling()) children.push_back(c);
    for (CFileNode* c : children) parent->RemoveChild(c);
    children.push_back(node);
    for (auto it = children.rbegin(); it != children.rend(); ++it) parent->AddChild(*it);
    return node;
  }
  CFileSystemNode* root;
};

// "name(child,child)" of a subtree, children in list order.
std::string Shape(CFileNode* node) {
  std::string text = node->GetFileProperties() ? node->GetFileProperties()->GetName() : "?";
  if (!node->GetFirstChild()) return text;
  text += "(";
  for (CFileNode* c = node->GetFirstChild(); c; c = c->GetNextSibling())
    text += Shape(c) + (c->GetNextSibling() ? "," : "");
  return text + ")";
}

TEST(FilterTree, KeepsAcceptedFilesWithTheFoldersLeadingToThemInSourceOrder) {
  Tree t;
  CFileNode* docs = t.Add(t.root, "docs", 0x10, 0);
  t.Add(docs, "a.txt", 0, 1);
  t.Add(docs, "live.txt", 0, 0);
  t.Add(docs, "b.txt", 0, 2);
  t.Add(t.root, "empty", 0x10, 1);
  CFileNode* onlyLive = t.Add(t.root, "onlylive", 0x10, 0);
  t.Add(onlyLive, "c.txt", 0, 0);
  t.Add(onlyLive, "odd.txt", 0, 8);
  CFileNode* deep = t.root;
  for (int i = 0; i < 5; ++i) deep = t.Add(deep, ("d" + std::to_string(i)).c_str(), 0x10, 0);
  t.Add(deep, "x.bin", 0, 4);
  t.Add(t.root, "top.txt", 0, 1);

  CFileStateFilter filter(7);
  CFilterTreeBuilder builder(&filter);
  EXPECT_STREQ(builder.GetRoot()->GetFileProperties()->GetName(), CFilterTreeBuilder::kRootName);
  CFileSystemNode* copy = builder.CopyRoot(t.root);
  ASSERT_EQ(copy, builder.GetRoot());
  EXPECT_EQ(Shape(copy), "volume(docs(a.txt,b.txt),d0(d1(d2(d3(d4(x.bin))))),top.txt)");
  EXPECT_STREQ(copy->GetName(), "FAT32 1");
  uint64_t first = 0;
  uint32_t perCluster = 0;
  EXPECT_TRUE(copy->GetPosition(first, perCluster));
  EXPECT_EQ(first, 2048u);
  EXPECT_EQ(perCluster, 8u);
  EXPECT_EQ(copy->GetFileSystemType(), kFileSystemFat32);
  EXPECT_TRUE(copy->GetFileProperties()->IsFolder());
  FileSystemNodeInfo record;
  copy->GetNodeInfo(record);
  int32_t second = 0;
  std::memcpy(&second, record.data, sizeof second);
  EXPECT_EQ(second, 2);
  // The copy's nodes share the source's properties.
  EXPECT_EQ(copy->GetFirstChild()->GetFileProperties(), docs->GetFileProperties());

  // Once the source is released the copy owns what it shares; freeing it frees each object once
  // (the sanitizers see a double free or a leak).
  CFilterTreeBuilder::ReleaseSource(t.root, copy);
  t.root = nullptr;
  EXPECT_STREQ(copy->GetFirstChild()->GetFirstChild()->GetFileProperties()->GetName(), "a.txt");
  FreeFileTree(copy);
}

TEST(FilterTree, CopiesFolderChainsFarDeeperThanAStackWouldAllowAndEmptySourcesGiveAnEmptyRoot) {
  Tree t;
  CFileNode* node = t.root;
  constexpr int kDepth = 200000;
  for (int i = 0; i < kDepth; ++i) {
    CFileNode* child = CreateFileNode();
    child->SetFileProperties(new CMyFileProperties(Tree::Info("d", 0x10, 0)));
    node = node->AddChild(child);
  }
  node->AddChild(CreateFileNode())->SetFileProperties(new CMyFileProperties(Tree::Info("gone", 0, 1)));

  CFileStateFilter filter(7);
  CFilterTreeBuilder builder(&filter);
  CFileSystemNode* copy = builder.CopyRoot(t.root);
  int depth = 0;
  CFileNode* walk = copy;
  while (walk->GetFirstChild()) {
    walk = walk->GetFirstChild();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth + 1);
  EXPECT_STREQ(walk->GetFileProperties()->GetName(), "gone");
  CFilterTreeBuilder::ReleaseSource(t.root, copy);
  t.root = nullptr;
  FreeFileTree(copy);

  Tree live;
  live.Add(live.root, "kept.txt", 0, 0);
  CFilterTreeBuilder empty(&filter);
  CFileSystemNode* none = empty.CopyRoot(live.root);
  EXPECT_EQ(none->GetFirstChild(), nullptr);
  FreeFileTree(none);
}

}  // namespace
