#include <gtest/gtest.h>

#include <list>

#include "TreeHelpers.h"
#include "core/RecycleBin.h"

using namespace treetest;

namespace {

struct TreeGuard {
  CFileNode* root;
  ~TreeGuard() { FreeFileTree(root); }
};

}  // namespace

TEST(RecycleBin, BinFoldersAreFoldersWithTheBinNames) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  const struct {
    const char* name;
    bool folder;
    bool bin;
  } cases[] = {
      {"$RECYCLE.BIN", true, true},   {"$Recycle.Bin", true, true},
      {"recycler", true, true},       {"RECYCLED", true, true},
      {"Recycled", false, false},     {"Recycle", true, false},
      {"$Recycle.Bin2", true, false}, {"", true, false},
  };
  for (const auto& c : cases) {
    CFileNode* n = c.folder ? AddFolder(root, c.name) : AddFile(root, c.name, 1);
    EXPECT_EQ(IsRecycleBinFolder(n), c.bin) << c.name;
  }
  EXPECT_FALSE(IsRecycleBinFolder(root->AddChild(CreateFileNode())));  // no properties
  EXPECT_FALSE(IsRecycleBinFolder(nullptr));
}

TEST(RecycleBin, AnythingBelowABinIsInIt) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  CFileNode* bin = AddFolder(root, "$Recycle.Bin");
  CFileNode* deep = AddFile(AddFolder(AddFolder(bin, "S-1-5-21"), "$R0AB12C"), "report.doc", 10);
  CFileNode* outside = AddFile(AddFolder(root, "Documents"), "report.doc", 10);
  EXPECT_TRUE(IsInRecycleBin(bin));
  EXPECT_TRUE(IsInRecycleBin(deep));
  EXPECT_FALSE(IsInRecycleBin(outside));
  EXPECT_FALSE(IsInRecycleBin(root));
}

TEST(RecycleBin, IndexFilesStartWithDollarOrHashThenI) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  const struct {
    const char* name;
    bool index;
  } cases[] = {{"$I12345.doc", true},  {"#I12345.doc", true}, {"$I", true}, {"$R12345.doc", false},
               {"$i12345.doc", false}, {"I12345.doc", false}, {"$", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(IsRecycleBinIndexFile(AddFile(root, c.name, 1)), c.index) << c.name;
}

// $I and $R files pair up whichever arrives first; a match leaves the waiting list, a node without
// a partner joins it.
TEST(RecycleBin, PartnersPairUpInEitherOrder) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  CFileNode* index = AddFile(root, "$I12345.doc", 544);
  CFileNode* data = AddFile(root, "$r12345.DOC", 9000);
  CFileNode* other = AddFile(root, "$RABCDEF.txt", 10);

  for (bool indexFirst : {true, false}) {
    std::list<CFileNode*> waiting;
    EXPECT_EQ(FindRecycleBinPartner(waiting, other), nullptr);
    CFileNode* first = indexFirst ? index : data;
    CFileNode* second = indexFirst ? data : index;
    EXPECT_EQ(FindRecycleBinPartner(waiting, first), nullptr);
    EXPECT_EQ(waiting, (std::list<CFileNode*>{other, first}));
    EXPECT_EQ(FindRecycleBinPartner(waiting, second), first);
    EXPECT_EQ(waiting, (std::list<CFileNode*>{other}));
  }
}

TEST(RecycleBin, FirstWaitingPartnerIsTaken) {
  CFileNode* root = AddFolder(nullptr, "root");
  TreeGuard guard{root};
  CFileNode* r1 = AddFile(root, "$R1.jpg", 1);
  CFileNode* r2 = AddFile(root, "$R1.JPG", 2);
  CFileNode* longer = AddFile(root, "$R1.jpeg", 3);
  CFileNode* i1 = AddFile(root, "$I1.jpg", 4);
  std::list<CFileNode*> waiting{longer, r1, r2};
  EXPECT_EQ(FindRecycleBinPartner(waiting, i1), r1);
  EXPECT_EQ(waiting, (std::list<CFileNode*>{longer, r2}));
}
