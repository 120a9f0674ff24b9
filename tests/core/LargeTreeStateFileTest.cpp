// A found-file tree of a million nodes, the size of a real volume's, survives a state file: built,
// partly ticked, saved through the compressed state stream into a real file, loaded back equal.
// The user's ticks are not part of a saved scan: the loaded tree starts with nothing checked.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemTree.h"
#include "core/MyFileProperties.h"
#include "core/RSDataEx.h"
#include "support/Fixtures.h"

namespace {

constexpr uint64_t kNodes = 1000000;

CMyFileProperties* Properties(const std::string& name, uint64_t size, uint16_t attributes, uint64_t time) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  info.creationTime = info.time2 = info.time3 = time;
  info.validMask = 255;
  return new CMyFileProperties(info);
}

// Folders of a few subfolders and a few dozen files, filled breadth-first.
CFileSystemNode* BuildTree(std::vector<CFileNode*>* folders) {
  std::mt19937_64 rng(77);
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("Volume");
  root->SetFileSystemType(3);
  root->SetPosition(2048, 8);
  root->SetFileProperties(Properties("Volume", 0, kAttributeFolder, 0));
  std::deque<CFileNode*> queue{root};
  uint64_t made = 1;
  while (made < kNodes) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    const uint64_t files = 4 + rng() % 37, subfolders = rng() % 7;
    for (uint64_t i = 0; i < files && made < kNodes; ++i, ++made)
      folder->AddChild(CreateFileNode())
          ->SetFileProperties(Properties("f" + std::to_string(made), rng() % (1u << 24), 0x20, 1000 + made));
    for (uint64_t i = 0; i < subfolders && made < kNodes; ++i, ++made) {
      CFileNode* sub = folder->AddChild(CreateFileNode());
      sub->SetFileProperties(Properties("d" + std::to_string(made), 0, kAttributeFolder, 1000 + made));
      queue.push_back(sub);
      folders->push_back(sub);
    }
    if (queue.empty()) queue.push_back(folder);
  }
  root->RecountSummary();
  return root;
}

// Walks both trees in step; returns the number of nodes compared, or -1 at the first difference.
int64_t CompareTrees(CFileNode* a, CFileNode* b, std::string* where) {
  std::vector<std::pair<CFileNode*, CFileNode*>> stack{{a, b}};
  int64_t compared = 0;
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    ++compared;
    IFileProperties* px = x->GetFileProperties();
    IFileProperties* py = y->GetFileProperties();
    if ((px == nullptr) != (py == nullptr)) return *where = "properties presence", -1;
    if (px) {
      if (std::strcmp(px->GetName(), py->GetName()) != 0 || px->GetSize() != py->GetSize() ||
          px->GetAttributes() != py->GetAttributes()) {
        *where = px->GetName();
        return -1;
      }
    }
    CFileNode* cx = x->GetFirstChild();
    CFileNode* cy = y->GetFirstChild();
    for (; cx && cy; cx = cx->GetNextSibling(), cy = cy->GetNextSibling()) stack.emplace_back(cx, cy);
    if (cx || cy) return *where = std::string("child count under ") + (px ? px->GetName() : "?"), -1;
  }
  return compared;
}

}  // namespace

TEST(LargeTree, MillionNodesTickSaveAndLoadBackEqual) {
  std::vector<CFileNode*> folders;
  CFileSystemNode* root = BuildTree(&folders);
  // Tick every third folder: their subtrees become checked, their parents partly checked.
  for (size_t i = 0; i < folders.size(); i += 3) root->ToggleCheck(folders[i], false);
  SelectionSummary before;
  root->GetSummary(before);
  ASSERT_GT(before.checkedFiles, 0u);
  ASSERT_LT(before.checkedFiles, before.files);

  const std::string path = corvale::test::ScratchDir() + "/tree.rdf";
  {
    CRSDataEx writer(RS_MODE_WRITE);
    ASSERT_TRUE(writer.Open(path, 1));
    uint8_t header[132] = {};
    std::memcpy(header, corvale::kRSMarker.bytes.data(), 16);
    writer.WriteHeader(header);
    ASSERT_TRUE(WriteFileSystemTree(root, writer, nullptr));
    writer.SetStatus(1);
    writer.Close();
  }
  CFileSystemNode* loaded = nullptr;
  {
    CRSDataEx reader(RS_MODE_READ);
    ASSERT_TRUE(reader.Open(path, 0));
    ASSERT_TRUE(reader.IsValidFile());
    loaded = ReadFileSystemTree(reader, nullptr);
    reader.Close();
  }
  ASSERT_NE(loaded, nullptr);
  std::string where;
  EXPECT_EQ(CompareTrees(root, loaded, &where), static_cast<int64_t>(kNodes))
      << "first difference: " << where;
  SelectionSummary after;
  loaded->GetSummary(after);
  SelectionSummary expected = before;
  expected.checkedFiles = 0;
  expected.checkedBytes = 0;
  expected.checkedCompressedFiles = 0;
  expected.checkedEncryptedFiles = 0;
  EXPECT_EQ(after, expected);
  EXPECT_EQ(after.files, before.files);
  EXPECT_EQ(after.bytes, before.bytes);
  FreeFileTree(root);
  FreeFileTree(loaded);
}
