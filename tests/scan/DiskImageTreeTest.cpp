// A disk with NTFS, FAT and ext2 partitions imaged with each compressor and several part sizes: the
// image reads back byte for byte, and the directory tree each engine builds from the image is the
// tree it builds from the disk itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileSystemEngine.h"
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "support/Fixtures.h"

namespace {

// Every node of a tree as one line: its path, and what the engine found about it.
std::vector<std::string> Describe(CFileNode* root) {
  std::vector<std::string> lines;
  WalkSubtree(root, [&](CFileNode* n) {
    std::string path;
    for (CFileNode* at = n; at != nullptr; at = at->GetParent()) {
      const IFileProperties* p = at->GetFileProperties();
      path = std::string("/") + (p ? p->GetName() : "") + path;
    }
    const IFileProperties* p = n->GetFileProperties();
    char facts[160] = "";
    if (p)
      std::snprintf(facts, sizeof facts, " size=%llu attr=%u type=%u times=%llu,%llu,%llu",
                    static_cast<unsigned long long>(p->GetSize()), p->GetAttributes(), p->GetTypeWord(),
                    static_cast<unsigned long long>(p->GetCreationTime()),
                    static_cast<unsigned long long>(p->GetTime2()),
                    static_cast<unsigned long long>(p->GetTime3()));
    lines.push_back(path + facts);
  });
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> TreeOf(const FileSystemEngine& engine, IStorageDevice& device, int64_t start) {
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(engine.buildTree(device, start, nullptr),
                                                        FreeFileTree);
  if (!tree) return {};
  return Describe(tree.get());
}

}  // namespace

TEST(DiskImageTree, EachPartitionsTreeFromTheImageIsTheTreeFromTheDisk) {
  CORVALE_FIXTURE(dir, "three_fs_disk.sh", "three_fs_disk");
  CImageFileDevice disk(dir + "/disk.img");
  ASSERT_TRUE(disk.IsOpened());
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());
  std::vector<uint8_t> original(sectors * 512);
  ASSERT_TRUE(disk.ReadSectors(original.data(), 0, sectors));

  struct Partition {
    int64_t start;
    const char* engine;
    std::vector<std::string> tree;
  };
  std::vector<Partition> partitions = {{2048, "NTFS", {}}, {36864, "FAT", {}}, {71680, "Ext2", {}}};
  const std::vector<FileSystemEngine> engines = FileSystemEngines();
  const auto engineOf = [&](const std::string& name) -> const FileSystemEngine* {
    for (const FileSystemEngine& e : engines)
      if (e.name == name) return &e;
    return nullptr;
  };
  for (Partition& p : partitions) {
    const FileSystemEngine* e = engineOf(p.engine);
    ASSERT_NE(e, nullptr) << p.engine;
    ASSERT_TRUE(e->Recognises(disk, p.start)) << p.engine;
    p.tree = TreeOf(*e, disk, p.start);
    ASSERT_GT(p.tree.size(), 8u) << p.engine << " built too small a tree from the disk";
  }

  struct Case {
    int type;
    int partUnits;
  } cases[] = {
      {COMPRESSION_ZLIB, 0}, {COMPRESSION_ZLIB, 600}, {COMPRESSION_BZIP2, 1000}, {COMPRESSION_LZMA, 1400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << ", part size " << c.partUnits);
    const std::string out =
        corvale::test::ScratchDir() + "/t" + std::to_string(c.type) + "_" + std::to_string(c.partUnits);
    std::filesystem::create_directories(out);
    CCompressController controller;
    controller.SetSource(&disk, (dir + "/disk.img").c_str(), 0, sectors, 0);
    controller.SetCompressParam(c.type, 1, c.partUnits);
    controller.SetImageFilePath(out + "/disk.kbi");
    ASSERT_TRUE(controller.Compress(nullptr)) << controller.GetErrorText();
    if (c.partUnits) {
      EXPECT_GT(controller.GetPartsCreated(), 1u);
    }

    CImageFileDeviceWithDecompress image(out + "/disk.kbi");
    ASSERT_TRUE(image.CheckImageParts()) << image.GetProblem();
    ASSERT_EQ(static_cast<uint64_t>(image.GetSectorCount()), (sectors + 255) / 256 * 256);
    std::vector<uint8_t> back(sectors * 512);
    ASSERT_TRUE(image.ReadSectors(back.data(), 0, sectors));
    EXPECT_TRUE(back == original) << "the image does not read back as the disk";
    for (const Partition& p : partitions)
      EXPECT_EQ(TreeOf(*engineOf(p.engine), image, p.start), p.tree) << p.engine;
  }
}
