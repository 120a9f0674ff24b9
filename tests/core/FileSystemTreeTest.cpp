#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "MemoryStateStream.h"
#include "TestProperties.h"
#include "TreeHelpers.h"
#include "core/FileNode.h"
#include "core/FileSystemTree.h"
#include "core/IDIRBuildCallback.h"
#include "core/MyFileProperties.h"
#include "core/NTFSDataRunList.h"
#include "core/RSDataEx.h"
#include "core/StateIo.h"
#include "platform/Log.h"
#include "support/Fixtures.h"

using namespace corvale;
using namespace treetest;

namespace {

struct TreeGuard {
  CFileNode* root;
  ~TreeGuard() { FreeFileTree(root); }
};

class RecordingProgress : public IDIRBuildCallback {
 public:
  int32_t BeginStage(const char*, int32_t) override { return 0; }
  int32_t AddProgress(int32_t) override { return 0; }
  int32_t StepTo(int32_t position) override {
    steps.push_back(position);
    return 0;
  }
  int32_t EndStage() override { return 0; }
  int32_t Poll() override {
    ++polls;
    return 0;
  }
  std::vector<int32_t> steps;
  int polls = 0;
};

std::vector<uint8_t> SaveTree(CFileSystemNode* root, IDIRBuildCallback* progress = nullptr) {
  MemoryStateStream s;
  EXPECT_TRUE(WriteFileSystemTree(root, s, progress));
  return s.Section(kFileSystemTreeSection);
}

// Reads a tree section; the stream exception's code goes to *code (0 when none).
CFileSystemNode* LoadTree(const std::vector<uint8_t>& bytes, int32_t* code = nullptr,
                          IDIRBuildCallback* progress = nullptr) {
  MemoryStateStream s;
  s.Section(kFileSystemTreeSection) = bytes;
  s.StartReading();
  if (code != nullptr) *code = 0;
  try {
    return ReadFileSystemTree(s, progress);
  } catch (IRSException& e) {
    if (code != nullptr) *code = e.GetCode();
    return nullptr;
  }
}

std::unique_ptr<PackedRunList> Runs(std::initializer_list<DataRun> runs) {
  CNoneResidentNTFSDataRunList list;
  for (const DataRun& r : runs) list.AppendRun(r.start, r.length);
  return CreatePackedRunList(list);
}

// A tree with what a restored scan holds: partition nodes inside a synthetic root, folders, files
// with fragmented, sparse and resident runs, a made-up folder below a partition, a partition node
// inside a partition, a node without properties, empty folders.
CFileSystemNode* MixedTree() {
  CFileSystemNode* root = MakePartition("Root", 7, 0, 0);
  CFileSystemNode* c = MakePartition("Local Disk (C:)", 3, 2048, 8);
  root->AddChild(c);
  CFileNode* docs = AddFolder(c, "Documents");
  auto* a = new TestFileProperties("A.doc", 5000, 0x20, Runs({{100, 2}, {kSparseRunStart, 4}, {50, 1}}));
  docs->AddChild(CreateFileNode())->SetFileProperties(a);
  CResidentNTFSDataRunList resident;
  resident.SetRun(987654, 1, 0x98);
  docs->AddChild(CreateFileNode())
      ->SetFileProperties(new TestFileProperties("B.txt", 700, 0x20, CreatePackedRunList(resident)));
  AddFile(docs, "C.bin", 1ull << 40, 0x20 | kAttributeCompressed);
  AddFolder(docs, "empty");
  CFileNode* lost = AddFolder(c, "LostFiles1");
  AddFile(lost, "orphan", 3, kAttributeEncrypted);
  CFileSystemNode* raw = MakePartition("Raw Files", 6, 2048, 8);
  c->AddChild(raw);
  AddFile(raw, "File0001.jpg", 12345);
  c->AddChild(CreateFileNode());  // no properties at all
  CFileSystemNode* d = MakePartition("Data", 4, 1ull << 33, 2);
  root->AddChild(d);
  AddFile(AddFolder(AddFolder(d, "x"), "y"), "z", 1);
  MyFileInfo info;
  info.name = "Deleted Files";
  info.attributes = kAttributeFolder;
  info.text = "synthetic";
  info.typeWord = 3;
  CFileNode* synthetic = d->AddChild(CreateFileNode());
  synthetic->SetFileProperties(new CMyFileProperties(info));
  AddFile(synthetic, "gone.txt", 9);
  c->RecountSummary();
  d->RecountSummary();
  raw->RecountSummary();
  root->RecountSummary();
  return root;
}

}  // namespace

TEST(FileSystemTree, RootOnlyTreeIsKindRootPropertiesAndOneEnd) {
  CFileSystemNode* root = MakePartition("R", 3, 0, 8);
  TreeGuard guard{root};
  const auto bytes = SaveTree(root);
  const size_t rootForm = 40 + 12 + 4 + 4 + 1;
  const size_t properties = 4 + 4 + 1 + 8 + 2 + 24 + 2 + 4 + 4 + 4;
  ASSERT_EQ(bytes.size(), 4 + rootForm + properties + 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(bytes[4 + rootForm], kPropertiesInMemory);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(FileSystemTree, SavedTreeLoadsBackEqual) {
  TestPropertiesScope engine;
  CFileSystemNode* root = MixedTree();
  TreeGuard guard{root};
  CFileSystemNode* back = LoadTree(SaveTree(root));
  ASSERT_NE(back, nullptr);
  TreeGuard guard2{back};
  EXPECT_EQ(Describe(back), Describe(root));

  // The runs survive exactly, resident ones included.
  CFileNode* docs = back->GetFirstChild()
                        ->GetNextSibling()
                        ->GetFirstChild()
                        ->GetNextSibling()
                        ->GetNextSibling()
                        ->GetNextSibling();
  ASSERT_STREQ(docs->GetFileProperties()->GetName(), "Documents");
  std::vector<std::string> withRuns;
  for (CFileNode* f = docs->GetFirstChild(); f; f = f->GetNextSibling()) {
    auto list = f->GetFileProperties()->CreateDataRunList();
    if (!list) continue;
    std::string text = f->GetFileProperties()->GetName();
    for (const DataRun* r = list->GetFirst(); r; r = list->GetNext()) {
      text += " " + std::to_string(static_cast<int64_t>(r->start)) + "+" + std::to_string(r->length);
    }
    if (list->IsResident()) text += " @" + std::to_string(list->GetResidentValue());
    withRuns.push_back(text);
  }
  EXPECT_EQ(withRuns, (std::vector<std::string>{"B.txt 987654+1 @152", "A.doc 100+2 -1+4 50+1"}));
}

TEST(FileSystemTree, ChildOrderIsKept) {
  CFileSystemNode* root = MakePartition("R", 3, 0, 8);
  TreeGuard guard{root};
  AddFile(root, "C", 1);
  AddFile(root, "B", 1);
  AddFile(root, "A", 1);
  ASSERT_EQ(ChildNames(root), (std::vector<std::string>{"A", "B", "C"}));
  CFileSystemNode* back = LoadTree(SaveTree(root));
  ASSERT_NE(back, nullptr);
  TreeGuard guard2{back};
  EXPECT_EQ(ChildNames(back), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(FileSystemTree, MissingSectionGivesNoTreeAndNoException) {
  MemoryStateStream s;
  s.StartReading();
  EXPECT_EQ(ReadFileSystemTree(s, nullptr), nullptr);
  EXPECT_FALSE(WriteFileSystemTree(nullptr, s, nullptr));
}

// What no writer of ours produces is refused as bad data, never skipped: a skipped record would
// put every later child list under the wrong folder.
TEST(FileSystemTree, RecordsWeNeverWriteAreBadData) {
  CFileSystemNode* root = MakePartition("R", 3, 0, 8);
  TreeGuard guard{root};
  AddFile(AddFolder(root, "sub"), "f", 1);
  const auto good = SaveTree(root);
  CFileSystemNode* alone = MakePartition("R", 3, 0, 8);
  const size_t firstChild = SaveTree(alone).size() - 4;  // the root's own record comes first
  FreeFileTree(alone);

  const struct {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"root of kind 0", 0, {0, 0, 0, 0}},
      {"child of kind 2", firstChild, {2, 0, 0, 0}},
      {"child with properties code 9", firstChild + 4, {9, 0, 0, 0}},
      {"child with an unregistered engine's properties", firstChild + 4, {kPropertiesNtfs, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    log::ScopedCapture capture;
    std::vector<uint8_t> bytes = good;
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + c.offset);
    int32_t code;
    EXPECT_EQ(LoadTree(bytes, &code), nullptr) << c.name;
    EXPECT_EQ(code, RS_ERROR_BAD_DATA) << c.name;
    EXPECT_TRUE(capture.Has("RS Exception:2")) << c.name;
  }
}

// A cut anywhere ends in the stream's exception with everything freed (the leak checker watches);
// changed bytes either load or are refused, never crash.
TEST(FileSystemTree, DamagedSectionsAreRefusedCleanly) {
  TestPropertiesScope engine;
  CFileSystemNode* root = MixedTree();
  TreeGuard guard{root};
  const auto good = SaveTree(root);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    int32_t code;
    EXPECT_EQ(LoadTree(std::vector<uint8_t>(good.begin(), good.begin() + cut), &code), nullptr) << cut;
    EXPECT_EQ(code, RS_ERROR_SHORT_READ) << cut;
  }
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int k = 1 + rng() % 4; k > 0; --k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    int32_t code;
    CFileSystemNode* back = LoadTree(bytes, &code);
    if (back != nullptr)
      FreeFileTree(back);
    else
      EXPECT_TRUE(code == RS_ERROR_BAD_DATA || code == RS_ERROR_SHORT_READ) << code;
  }
}

TEST(FileSystemTree, ProgressClimbsFromFortyOneToNinetyAtMost) {
  CFileSystemNode* root = MakePartition("R", 3, 0, 8);
  TreeGuard guard{root};
  int nodes = 0;
  for (int i = 0; i < 30; ++i) {
    CFileNode* d = AddFolder(root, "d");
    ++nodes;
    for (int j = 0; j < 3; ++j, ++nodes) AddFile(d, "f", 1);
  }
  for (bool reading : {false, true}) {
    RecordingProgress progress;
    const auto bytes = SaveTree(root, reading ? nullptr : &progress);
    if (reading) {
      CFileSystemNode* back = LoadTree(bytes, nullptr, &progress);
      ASSERT_NE(back, nullptr);
      FreeFileTree(back);
    }
    ASSERT_FALSE(progress.steps.empty());
    EXPECT_EQ(progress.steps.front(), 41);
    for (size_t i = 1; i < progress.steps.size(); ++i) EXPECT_GT(progress.steps[i], progress.steps[i - 1]);
    EXPECT_LE(progress.steps.back(), 90);
    EXPECT_EQ(progress.polls, nodes);
    if (!reading) {
      EXPECT_EQ(progress.steps.back(), 90);  // the last folder empties the queue
    }
  }
}

TEST(FileSystemTree, DeepTreeIsSavedAndLoadedWithoutRecursion) {
  constexpr int kDepth = 100000;
  CFileSystemNode* root = MakePartition("deep", 3, 0, 8);
  TreeGuard guard{root};
  CFileNode* n = root;
  for (int i = 0; i < kDepth; ++i) n = AddFolder(n, "d");
  AddFile(n, "leaf", 1);
  CFileSystemNode* back = LoadTree(SaveTree(root));
  ASSERT_NE(back, nullptr);
  TreeGuard guard2{back};
  int depth = 0;
  CFileNode* m = back;
  while (m->GetFirstChild() != nullptr) {
    m = m->GetFirstChild();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth + 1);
  EXPECT_STREQ(m->GetFileProperties()->GetName(), "leaf");
}

TEST(FileSystemTree, SectionGuidIsTheTreeSection) {
  EXPECT_EQ(kFileSystemTreeSection, RSGuid::FromString("{D208F26C-078C-4E34-9D71-D91F535F7B57}"));
}

// The whole way a saved scan goes: a compressed state file on disk, written and read back.
TEST(FileSystemTree, TreeRoundTripsThroughAStateFile) {
  TestPropertiesScope engine;
  CFileSystemNode* root = MixedTree();
  TreeGuard guard{root};
  const std::string path = test::ScratchDir() + "/cstemp.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    uint8_t header[132] = {};
    std::memcpy(header, kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    ASSERT_TRUE(WriteFileSystemTree(root, writer, nullptr));
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx reader(RS_MODE_READ);
  ASSERT_TRUE(reader.Open(path, 0));
  ASSERT_TRUE(reader.IsValidFile());
  CFileSystemNode* back = ReadFileSystemTree(reader, nullptr);
  ASSERT_NE(back, nullptr);
  TreeGuard guard2{back};
  EXPECT_EQ(Describe(back), Describe(root));
  reader.Close();

  // A state file that holds no tree gives no tree.
  const std::string empty = test::ScratchDir() + "/empty.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(empty, 1));
    uint8_t header[132] = {};
    std::memcpy(header, kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    writer.SetStatus(1);
    writer.Close();
  }
  CRSDataEx emptyReader(RS_MODE_READ);
  ASSERT_TRUE(emptyReader.Open(empty, 0));
  EXPECT_EQ(ReadFileSystemTree(emptyReader, nullptr), nullptr);
}
