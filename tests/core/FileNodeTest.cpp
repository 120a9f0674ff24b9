#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "MemoryStateStream.h"
#include "TreeHelpers.h"
#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "core/StateIo.h"

using namespace corvale;
using namespace treetest;

namespace {

// Frees a test tree at the end of the test, whatever happens in between.
struct TreeGuard {
  CFileNode* root;
  ~TreeGuard() { FreeFileTree(root); }
};

SelectionSummary SummaryOf(const CFileSystemNode* n) {
  SelectionSummary s;
  n->GetSummary(s);
  return s;
}

// Replaces the node's running summary by a fresh count and returns it.
SelectionSummary FreshSummary(CFileSystemNode* n) {
  n->RecountSummary();
  return SummaryOf(n);
}

}  // namespace

TEST(FileNode, TypeAndPositionComeFromTheNearestPartitionNode) {
  CFileSystemNode* part = MakePartition("C", 3, 2048, 8);
  TreeGuard guard{part};
  CFileNode* deep = AddFile(AddFolder(AddFolder(part, "a"), "b"), "f.txt", 10);
  EXPECT_EQ(deep->GetFileSystemType(), 3);
  uint64_t first = 1;
  uint32_t spc = 1;
  EXPECT_TRUE(deep->GetPosition(first, spc));
  EXPECT_EQ(first, 2048u);
  EXPECT_EQ(spc, 8u);

  CFileNode lone;
  EXPECT_EQ(lone.GetFileSystemType(), CFileNode::kFileSystemNotRecognised);
  EXPECT_FALSE(lone.GetPosition(first, spc));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(spc, 0u);

  CFileSystemNode fresh;
  EXPECT_EQ(fresh.GetFileSystemType(), CFileNode::kFileSystemNotRecognised);
  EXPECT_TRUE(fresh.GetPosition(first, spc));
}

TEST(FileNode, PartitionNameIsCutToFortyBytes) {
  CFileSystemNode n;
  n.SetName(std::string(41, 'n').c_str());
  EXPECT_EQ(std::string(n.GetName()), std::string(40, 'n'));
  EXPECT_EQ(n.GetNameLength(), 40);
  n.SetName((std::string(39, 'n') + "\xE2\x82\xAC").c_str());  // a euro sign across byte 40
  EXPECT_EQ(n.GetNameLength(), 39);
  n.SetName("Local Disk");
  EXPECT_STREQ(n.GetName(), "Local Disk");
}

TEST(FileNode, ChildrenAreAddedAtTheHeadAndRemovedCleanly) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  AddFile(root, "A", 1);
  CFileNode* b = AddFile(root, "B", 1);
  AddFile(root, "C", 1);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"C", "B", "A"}));

  CFileNode* stranger = AddFolder(nullptr, "stranger");
  EXPECT_FALSE(root->RemoveChild(stranger));
  EXPECT_FALSE(root->RemoveChild(nullptr));
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"C", "B", "A"}));

  EXPECT_TRUE(root->RemoveChild(b));
  EXPECT_EQ(b->GetParent(), nullptr);
  EXPECT_EQ(b->GetNextSibling(), nullptr);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"C", "A"}));
  EXPECT_FALSE(root->RemoveChild(b));

  // A node moved to another parent leaves its old list whole.
  stranger->AddChild(b);
  CFileNode* c = root->GetFirstChild();
  stranger->AddChild(c);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"A"}));
  EXPECT_EQ(ChildNames(stranger), (std::vector<std::string>{"C", "B"}));
  FreeFileTree(stranger);
}

TEST(FileNode, MoveChildNodesReversesTheirOrder) {
  CFileNode* from = AddFolder(nullptr, "from");
  CFileNode* to = AddFolder(nullptr, "to");
  TreeGuard g1{from}, g2{to};
  AddFile(from, "A", 1);
  AddFile(from, "B", 1);
  AddFile(from, "C", 1);
  AddFile(to, "X", 1);
  MoveChildNodes(from, to);
  EXPECT_EQ(from->GetFirstChild(), nullptr);
  EXPECT_EQ(ChildNames(to), (std::vector<std::string>{"A", "B", "C", "X"}));
  for (CFileNode* c = to->GetFirstChild(); c; c = c->GetNextSibling()) EXPECT_EQ(c->GetParent(), to);
}

TEST(FileNode, FolderStateFollowsItsChildren) {
  const struct {
    std::vector<uint8_t> children;
    uint8_t folder;
  } cases[] = {
      {{2, 0, 0}, 1}, {{0, 0, 0}, 0}, {{2, 2, 2}, 2}, {{}, 0}, {{1, 0}, 1}, {{1, 1}, 1}, {{2, 1}, 1},
  };
  for (const auto& c : cases) {
    CFileNode* folder = AddFolder(nullptr, "f");
    folder->GetFileProperties()->SetCheckState(2);
    for (uint8_t s : c.children) AddFile(folder, "x", 1)->GetFileProperties()->SetCheckState(s);
    UpdateFolderStates(folder);
    EXPECT_EQ(StateOf(folder), c.folder) << ::testing::PrintToString(c.children);
    FreeFileTree(folder);
  }
}

TEST(FileNode, UpdateFolderStatesWorksBottomUpThroughFolders) {
  CFileSystemNode* part = MakePartition("C", 3, 0, 8);
  TreeGuard guard{part};
  CFileNode* a = AddFolder(part, "a");
  CFileNode* b = AddFolder(a, "b");
  CFileNode* c = AddFolder(b, "c");
  CFileNode* f1 = AddFile(c, "f1", 100);
  AddFile(c, "f2", 50);
  CFileNode* g = AddFile(a, "g", 7);
  f1->GetFileProperties()->SetCheckState(2);
  UpdateFolderStates(part);
  EXPECT_EQ(StateOf(c), 1);
  EXPECT_EQ(StateOf(b), 1);
  EXPECT_EQ(StateOf(a), 1);
  EXPECT_EQ(StateOf(part), 1);
  SelectionSummary s = SummaryOf(part);
  EXPECT_EQ(s.files, 3u);
  EXPECT_EQ(s.bytes, 157u);
  EXPECT_EQ(s.checkedFiles, 1u);
  EXPECT_EQ(s.checkedBytes, 100u);

  for (CFileNode* n = c->GetFirstChild(); n; n = n->GetNextSibling())
    n->GetFileProperties()->SetCheckState(2);
  g->GetFileProperties()->SetCheckState(2);
  UpdateFolderStates(part);
  EXPECT_EQ(StateOf(c), 2);
  EXPECT_EQ(StateOf(b), 2);
  EXPECT_EQ(StateOf(a), 2);
  EXPECT_EQ(StateOf(part), 2);
}

TEST(FileNode, ToggleCheckSetsTheSubtreeAndTheAncestorsTriState) {
  CFileSystemNode* part = MakePartition("C", 3, 0, 8);
  TreeGuard guard{part};
  CFileNode* docs = AddFolder(part, "docs");
  CFileNode* pics = AddFolder(part, "pics");
  CFileNode* inner = AddFolder(docs, "inner");
  AddFile(inner, "a", 10, 0x20 | kAttributeCompressed);
  AddFile(inner, "b", 20, 0x20 | kAttributeEncrypted);
  CFileNode* c = AddFile(docs, "c", 30);
  AddFile(pics, "d", 40);
  part->RecountSummary();

  part->ToggleCheck(inner, false);  // down: the folder and its files
  for (CFileNode* n = inner->GetFirstChild(); n; n = n->GetNextSibling()) EXPECT_EQ(StateOf(n), 2);
  EXPECT_EQ(StateOf(inner), 2);
  EXPECT_EQ(StateOf(docs), 1);  // up: partly
  EXPECT_EQ(StateOf(part), 1);
  SelectionSummary s = SummaryOf(part);
  EXPECT_EQ(s.checkedFiles, 2u);
  EXPECT_EQ(s.checkedBytes, 30u);
  EXPECT_EQ(s.checkedCompressedFiles, 1u);
  EXPECT_EQ(s.checkedEncryptedFiles, 1u);
  EXPECT_EQ(s.files, 4u);

  part->ToggleCheck(c, false);
  part->ToggleCheck(pics, false);
  EXPECT_EQ(StateOf(docs), 2);
  EXPECT_EQ(StateOf(part), 2);
  EXPECT_EQ(SummaryOf(part).checkedBytes, 100u);

  part->ToggleCheck(part, false);  // everything off again
  s = SummaryOf(part);
  EXPECT_EQ(s.checkedFiles, 0u);
  EXPECT_EQ(s.checkedBytes, 0u);
  EXPECT_EQ(StateOf(inner), 0);
  EXPECT_EQ(StateOf(part), 0);
}

TEST(FileNode, ToggleCheckOfOnlyTheNodeLeavesTheRestAlone) {
  CFileSystemNode* part = MakePartition("C", 3, 0, 8);
  TreeGuard guard{part};
  CFileNode* folder = AddFolder(part, "f");
  CFileNode* file = AddFile(folder, "x", 5);
  part->RecountSummary();
  part->ToggleCheck(folder, true);
  EXPECT_EQ(StateOf(folder), 2);
  EXPECT_EQ(StateOf(file), 0);
  EXPECT_EQ(StateOf(part), 0);
  EXPECT_EQ(SummaryOf(part).checkedFiles, 0u);
}

// Whatever is toggled, every partition node's running summary equals a fresh count of its subtree,
// and every folder carries the tri-state of its children.
TEST(FileNode, RunningSummariesMatchARecountOverRandomToggles) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    CFileSystemNode* root = MakePartition("root", 3, 0, 8);
    std::vector<CFileNode*> all{root};
    std::vector<CFileNode*> folders{root};
    std::vector<CFileSystemNode*> partitions{root};
    for (int i = 0; i < 300; ++i) {
      CFileNode* parent = folders[rng() % folders.size()];
      const unsigned kind = rng() % 10;
      CFileNode* n;
      if (kind == 0) {
        CFileSystemNode* p = MakePartition("p", 0, 0, 1);
        parent->AddChild(p);
        partitions.push_back(p);
        n = p;
      } else if (kind < 4) {
        n = AddFolder(parent, "d");
      } else {
        n = AddFile(parent, "f", rng() % 100000,
                    static_cast<uint16_t>((rng() % 3 == 0 ? kAttributeCompressed : 0) |
                                          (rng() % 4 == 0 ? kAttributeEncrypted : 0)));
      }
      if (n->GetFileProperties()->IsFolder()) folders.push_back(n);
      all.push_back(n);
    }
    for (CFileSystemNode* p : partitions) p->RecountSummary();
    for (int t = 0; t < 60; ++t) root->ToggleCheck(all[rng() % all.size()], false);

    for (CFileSystemNode* p : partitions) {
      const SelectionSummary running = SummaryOf(p);
      EXPECT_EQ(running, FreshSummary(p)) << "seed " << seed;
    }
    for (CFileNode* f : folders) {
      if (f->GetFirstChild() != nullptr) {
        EXPECT_EQ(StateOf(f), ComputeFolderState(f)) << "seed " << seed;
      }
    }
    FreeFileTree(root);
  }
}

TEST(FileNode, CheckingASetOfNodesMatchesTogglingThemOneByOne) {
  // Two copies of one random tree: one gets a set of nodes (the files of a folder, or nodes from
  // anywhere that do not lie below one another) checked or unchecked in one call, the other the same
  // nodes toggled one by one; states and summaries must agree.
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::vector<CFileSystemNode*> roots;
    std::vector<std::vector<CFileNode*>> alls;
    for (int copy = 0; copy < 2; ++copy) {
      std::mt19937 rng(seed);
      CFileSystemNode* root = MakePartition("root", 3, 0, 8);
      std::vector<CFileNode*> all{root};
      std::vector<CFileNode*> folders{root};
      for (int i = 0; i < 200; ++i) {
        CFileNode* parent = folders[rng() % folders.size()];
        const unsigned kind = rng() % 10;
        CFileNode* n;
        if (kind == 0) {
          n = parent->AddChild(MakePartition("p", 0, 0, 1));
        } else if (kind < 4) {
          n = AddFolder(parent, "d");
        } else {
          n = AddFile(parent, "f", rng() % 100000, rng() % 3 == 0 ? kAttributeCompressed : 0);
        }
        if (n->GetFileProperties()->IsFolder()) folders.push_back(n);
        all.push_back(n);
      }
      WalkSubtree(root, [](CFileNode* n) {
        if (n->IsFileSystemNode()) static_cast<CFileSystemNode*>(n)->RecountSummary();
      });
      roots.push_back(root);
      alls.push_back(all);
    }
    TreeGuard g0{roots[0]}, g1{roots[1]};
    std::mt19937 rng(seed * 7);
    for (int round = 0; round < 30; ++round) {
      const bool checked = rng() % 2 == 0;
      // The children of one node, or a few nodes with no ancestor among the others.
      std::vector<size_t> picks;
      const size_t anchor = rng() % alls[0].size();
      if (rng() % 2 == 0) {
        for (size_t i = 0; i < alls[0].size(); ++i)
          if (alls[0][i]->GetParent() == alls[0][anchor]) picks.push_back(i);
      } else {
        for (int k = 0; k < 5; ++k) {
          const size_t i = rng() % alls[0].size();
          bool related = false;
          for (size_t j : picks) {
            for (CFileNode* a = alls[0][i]; a; a = a->GetParent()) related |= a == alls[0][j];
            for (CFileNode* a = alls[0][j]; a; a = a->GetParent()) related |= a == alls[0][i];
          }
          if (!related) picks.push_back(i);
        }
      }
      std::vector<CFileNode*> set;
      for (size_t i : picks) set.push_back(alls[0][i]);
      roots[0]->SetCheckOfNodes(set, checked);
      for (size_t i : picks) {
        CFileNode* n = alls[1][i];
        // A partly checked node toggles to checked first.
        if (!checked && StateOf(n) == kPartlyChecked) roots[1]->ToggleCheck(n, false);
        if ((StateOf(n) == kChecked) != checked) roots[1]->ToggleCheck(n, false);
      }
      for (size_t i = 0; i < alls[0].size(); ++i) {
        ASSERT_EQ(StateOf(alls[0][i]), StateOf(alls[1][i])) << "seed " << seed << " node " << i;
        if (alls[0][i]->IsFileSystemNode()) {
          ASSERT_EQ(SummaryOf(static_cast<CFileSystemNode*>(alls[0][i])),
                    SummaryOf(static_cast<CFileSystemNode*>(alls[1][i])))
              << "seed " << seed << " node " << i;
        }
      }
    }
    EXPECT_EQ(SummaryOf(roots[0]), FreshSummary(roots[0])) << "seed " << seed;
  }
}

TEST(FileNode, SavedPartitionNodeComesBackWithoutCheckedCounters) {
  CFileSystemNode* part = MakePartition("Data", 4, 123456789012ull, 8);
  TreeGuard guard{part};
  AddFile(part, "a", 10, kAttributeCompressed);
  AddFile(part, "b", 20, kAttributeEncrypted);
  part->RecountSummary();
  part->ToggleCheck(part, false);
  ASSERT_EQ(SummaryOf(part).checkedFiles, 2u);

  MemoryStateStream s;
  s.BeginSection(TestSection(1));
  part->Save(s);
  s.EndSection();
  EXPECT_EQ(s.Section(TestSection(1)).size(), 40u + 12 + 4 + 4 + 4);
  s.StartReading();
  s.BeginSection(TestSection(1));
  CFileSystemNode back;
  ASSERT_TRUE(back.Load(s));
  SelectionSummary loaded = SummaryOf(&back);
  EXPECT_EQ(loaded.files, 2u);
  EXPECT_EQ(loaded.bytes, 30u);
  EXPECT_EQ(loaded.compressedFiles, 1u);
  EXPECT_EQ(loaded.encryptedFiles, 1u);
  EXPECT_EQ(loaded.checkedFiles, 0u);
  EXPECT_EQ(loaded.checkedBytes, 0u);
  EXPECT_EQ(loaded.checkedCompressedFiles, 0u);
  EXPECT_EQ(loaded.checkedEncryptedFiles, 0u);
  EXPECT_STREQ(back.GetName(), "Data");
  EXPECT_EQ(back.GetFileSystemType(), 4);
  uint64_t first;
  uint32_t spc;
  back.GetPosition(first, spc);
  EXPECT_EQ(first, 123456789012ull);
  EXPECT_EQ(spc, 8u);
}

// The name length of a saved partition node is bounded by the 40-byte name; a forged length must
// not size an allocation or a read.
TEST(FileNode, LoadRefusesForgedNameLengthsAndTypes) {
  auto saved = [](uint32_t nameLength, int32_t type, size_t nameBytes) {
    std::vector<uint8_t> b(40 + 12, 0);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(type) >> (8 * i)));
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(nameLength >> (8 * i)));
    b.resize(b.size() + nameBytes, 'n');
    return b;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t code;
  } cases[] = {
      {"40 bytes", saved(40, 3, 40), 0},
      {"41 bytes", saved(41, 3, 41), RS_ERROR_BAD_DATA},
      {"length all ones", saved(0xFFFFFFFF, 3, 8), RS_ERROR_BAD_DATA},
      {"name cut short", saved(10, 3, 4), RS_ERROR_SHORT_READ},
      {"type 8", saved(0, 8, 0), RS_ERROR_BAD_DATA},
      {"type -1", saved(0, -1, 0), RS_ERROR_BAD_DATA},
  };
  for (const auto& c : cases) {
    MemoryStateStream s;
    s.Section(TestSection(1)) = c.bytes;
    s.StartReading();
    s.BeginSection(TestSection(1));
    CFileSystemNode n;
    int32_t code = 0;
    try {
      n.Load(s);
    } catch (IRSException& e) {
      code = e.GetCode();
    }
    EXPECT_EQ(code, c.code) << c.name;
  }
}

// Trees rebuilt from damaged file systems can be very deep; nothing may recurse per level.
TEST(FileNode, DeepTreeIsWalkedTickedAndFreedWithoutRecursion) {
  constexpr int kDepth = 100000;
  CFileSystemNode* part = MakePartition("deep", 3, 0, 8);
  CFileNode* n = part;
  for (int i = 0; i < kDepth; ++i) n = AddFolder(n, "d");
  CFileNode* leaf = AddFile(n, "leaf", 1);
  EXPECT_EQ(leaf->GetFileSystemType(), 3);

  part->RecountSummary();
  part->ToggleCheck(leaf, false);
  EXPECT_EQ(StateOf(part), 2);
  EXPECT_EQ(SummaryOf(part).checkedFiles, 1u);
  leaf->GetFileProperties()->SetCheckState(0);
  UpdateFolderStates(part);
  EXPECT_EQ(StateOf(part), 0);
  EXPECT_EQ(StateOf(n), 0);
  part->ToggleCheck(part, false);
  EXPECT_EQ(StateOf(leaf), 2);
  FreeFileTree(part);
}

TEST(FileNode, NodeFlagAndNodeRecordBelongToTheirOwners) {
  CFileSystemNode* part = MakePartition("C", 3, 0, 8);
  TreeGuard guard{part};
  CFileNode* file = AddFile(part, "x", 1);
  EXPECT_EQ(part->SetNodeFlag(file, 5), 0);
  EXPECT_EQ(part->SetNodeFlag(file, 6), 5);
  EXPECT_EQ(file->GetFileProperties()->GetFlagByte(), 6);
  CFileNode bare;
  EXPECT_EQ(part->SetNodeFlag(&bare, 1), 0);
  EXPECT_EQ(part->SetNodeFlag(nullptr, 1), 0);

  FileSystemNodeInfo info;
  part->GetNodeInfo(info);
  EXPECT_EQ(info.kind, 0);
  info.kind = 2;
  info.data[259] = 0x7E;
  part->SetNodeInfo(info);
  FileSystemNodeInfo back;
  part->GetNodeInfo(back);
  EXPECT_EQ(back.kind, 2);
  EXPECT_EQ(back.data[259], 0x7E);
}
