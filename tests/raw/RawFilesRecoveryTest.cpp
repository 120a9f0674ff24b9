// From carving to files on disk: the wiped FAT disk of ImageMagick pictures is scanned with the RAW
// controller, its "Raw Files" folder is built, ticked and recovered into a scratch folder, and every
// file written there is the original picture, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "RawTestSupport.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace rawtest;

struct Picture {
  std::string name;
  Bytes bytes;
  uint64_t length;  // what carving makes of it: TIFF files end where their first IFD's rule says
};

std::vector<Picture> LoadPictures(const std::string& dir) {
  std::vector<Picture> pictures;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/pictures")) {
    Picture p{e.path().filename().string(), ReadFile(e.path().string()), 0};
    if (p.name == "progressive_exif.jpg" || p.name == "exif_placeholder.jpg") continue;  // not on the disk
    const std::string ext = p.name.substr(p.name.rfind('.') + 1);
    p.length = ext == "tif" || ext == "nef" ? TiffRuleLength(p.bytes) : p.bytes.size();
    pictures.push_back(std::move(p));
  }
  return pictures;
}

// The path below the recovered top folder: the names of the node's folders down from the root.
std::string RelativePath(const CFileNode* node, const CFileNode* root) {
  std::string path = node->GetFileProperties()->GetName();
  for (const CFileNode* up = node->GetParent(); up != nullptr && up != root; up = up->GetParent()) {
    path = std::string(up->GetFileProperties()->GetName()) + "/" + path;
  }
  return path;
}

TEST(RawFilesRecovery, CarvedPicturesComeBackByteForByte) {
  CORVALE_FIXTURE(dir, "raw_pictures.sh", "raw_pictures");
  const std::vector<Picture> pictures = LoadPictures(dir);
  CImageFileDevice disk(dir + "/fat_wiped.img");
  ASSERT_TRUE(disk.IsOpened());

  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  ASSERT_EQ(found.GetCount(), 23u);

  CRawFilesFolderBuilder builder;
  CFileSystemNode* root = builder.BuildRawFilesFolder(&disk, found.GetIterator(), nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  struct Owner {
    CFileSystemNode* root;
    ~Owner() { FreeFileTree(root); }
  } owner{root};

  // Each file of the tree, with the picture whose first sector lies where its run starts.
  std::vector<std::pair<CFileNode*, const Picture*>> files;
  Bytes sector(512);
  WalkSubtree(root, [&](CFileNode* n) {
    if (n->GetFileProperties()->IsFolder()) return;
    auto runs = n->GetFileProperties()->CreateDataRunList();
    ASSERT_NE(runs, nullptr);
    ASSERT_TRUE(disk.ReadSectors(sector.data(), runs->Runs().front().start, 1));
    const Picture* match = nullptr;
    for (const Picture& p : pictures) {
      if (std::equal(sector.begin(), sector.end(), p.bytes.begin())) match = &p;
    }
    ASSERT_NE(match, nullptr) << n->GetFileProperties()->GetName();
    files.emplace_back(n, match);
  });
  ASSERT_EQ(files.size(), 23u);
  // A camera's model names its pictures; the count goes on across the type's files.
  for (const auto& [node, picture] : files) {
    const std::string name = node->GetFileProperties()->GetName();
    if (picture->name == "exif_thumb.jpg") {
      EXPECT_EQ(name.rfind("Canon EOS 5D", 0), 0u) << name;
    } else if (picture->name == "camera.nef") {
      EXPECT_EQ(name, "NIKON D70001.NEF");
    } else if (picture->name == "jfif.jpg") {
      EXPECT_EQ(name.rfind("FILE", 0), 0u) << name;
    }
  }

  root->ToggleCheck(root, false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&disk, nullptr, root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 23u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  EXPECT_EQ(std::filesystem::path(top).filename(), "Raw Files");

  for (const auto& [node, picture] : files) {
    const std::string path = top + "/" + RelativePath(node, root);
    SCOPED_TRACE(path + " from " + picture->name);
    const Bytes written = ReadFile(path);
    ASSERT_EQ(written.size(), picture->length);
    const size_t same = std::min<size_t>(written.size(), picture->bytes.size());
    EXPECT_TRUE(
        std::equal(written.begin(), written.begin() + static_cast<long>(same), picture->bytes.begin()));
    if (picture->length == picture->bytes.size()) {
      EXPECT_EQ(written, picture->bytes);
    }
  }
}

}  // namespace
