#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecoveryHelpers.h"
#include "core/FileDataReader.h"
#include "core/NameConversion.h"
#include "storage/MemoryDevice.h"

using namespace recoverytest;

namespace {

// A partition at sector 8 with clusters of two 512-byte sectors, over pattern bytes.
class FileDataReading : public ::testing::Test {
 protected:
  static constexpr uint64_t kFirst = 8;
  static constexpr uint64_t kCluster = 1024;

  FileDataReading() : device(PatternBytes(256 * 1024)) {
    tree.root = treetest::MakePartition("P", 3, kFirst, 2);
  }

  uint8_t DiskByteOfCluster(uint64_t cluster, uint64_t within) const {
    return PatternByte(kFirst * 512 + cluster * kCluster + within);
  }

  MemoryDevice device;
  TreeOwner tree;
};

TEST_F(FileDataReading, ReadsAcrossRunsWithSparseClustersAsZerosAndStopsAtTheSize) {
  // Clusters: 10, a sparse one, then 40 and 41; 3500 bytes in all.
  CFileNode* file = AddFile(tree.root, "f", 3500, {{10, 1}, {kSparseRunStart, 1}, {40, 2}});
  FileDataReader reader;
  ASSERT_TRUE(reader.Open(&device, file));

  std::vector<uint8_t> got(5000, 0xEE);
  ASSERT_EQ(reader.ReadAt(1000, got.data(), got.size()), 2500u);
  for (uint64_t i = 0; i < 2500; ++i) {
    const uint64_t at = 1000 + i;
    const uint8_t expected = at < 1024   ? DiskByteOfCluster(10, at)
                             : at < 2048 ? 0
                                         : DiskByteOfCluster(40, at - 2048);
    ASSERT_EQ(got[i], expected) << "byte " << at;
  }
  EXPECT_EQ(reader.ReadAt(3500, got.data(), 10), 0u);
}

TEST_F(FileDataReading, AFailedReadEndsTheCopyThere) {
  CFileNode* file = AddFile(tree.root, "f", 3072, {{10, 3}});
  device.SetBadSector(kFirst + 11 * 2);  // the second cluster
  FileDataReader reader;
  ASSERT_TRUE(reader.Open(&device, file));
  std::vector<uint8_t> got(3072);
  EXPECT_EQ(reader.ReadAt(0, got.data(), got.size()), 1024u);
}

TEST_F(FileDataReading, OpenRefusesWhatCannotBeRead) {
  CFileNode* empty = AddFile(tree.root, "empty", 0, {{10, 1}});
  CFileNode* noRuns = AddFile(tree.root, "none", 100, {});
  CFileNode* lone = CreateFileNode();
  lone->SetFileProperties(new RecoveryProperties("lone", 100, 0x20, {{1, 1}}));
  TreeOwner loneOwner{lone};
  TreeOwner huge;
  huge.root = treetest::MakePartition("H", 3, 0, 0x80000);  // 256 MiB clusters
  CFileNode* inHuge = AddFile(huge.root, "f", 100, {{1, 1}});

  FileDataReader reader;
  EXPECT_FALSE(reader.Open(&device, empty));
  EXPECT_FALSE(reader.Open(&device, noRuns));
  EXPECT_FALSE(reader.Open(&device, lone));
  EXPECT_FALSE(reader.Open(&device, inHuge));
  EXPECT_FALSE(reader.Open(nullptr, empty));
}

// The index file of a recycled file: version 2 layout (8-byte version, size, deletion time, 4-byte
// character count, then the UTF-16 path with its terminator).
std::vector<uint8_t> IndexFile(const std::u16string& path) {
  std::vector<uint8_t> bytes(28, 0);
  bytes[0] = 2;
  const uint32_t count = static_cast<uint32_t>(path.size() + 1);
  std::memcpy(&bytes[24], &count, 4);
  for (char16_t u : path) {
    bytes.push_back(static_cast<uint8_t>(u));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

class RecycledName : public FileDataReading {
 protected:
  // Puts the index file at cluster 20 and returns the data file's name after the restore.
  std::string Restore(const std::u16string& path, bool* restored) {
    const std::vector<uint8_t> index = IndexFile(path);
    std::memcpy(device.Bytes().data() + kFirst * 512 + 20 * kCluster, index.data(), index.size());
    CFileNode* indexNode = AddFile(tree.root, "$IABC123.txt", index.size(), {{20, 1}});
    CFileNode* dataNode = AddFile(tree.root, "$RABC123.txt", 10, {{30, 1}});
    *restored = RestoreRecycledFileName(&device, indexNode, dataNode);
    return dataNode->GetFileProperties()->GetName();
  }
};

TEST_F(RecycledName, TakesTheNameBehindTheLastBackslashOfADrivePath) {
  bool restored = false;
  // U+5C0F holds the byte of "\" in its high half: a byte-wise search would cut the name there.
  EXPECT_EQ(Restore(u"C:\\Users\\Bob\\\u5C0F\u8BF4.txt", &restored), WideStringToString(u"\u5C0F\u8BF4.txt"));
  EXPECT_TRUE(restored);
}

TEST_F(RecycledName, AFileAtTheRootOfTheDriveIsNamedToo) {
  bool restored = false;
  EXPECT_EQ(Restore(u"D:\\plan.xls", &restored), "plan.xls");
  EXPECT_TRUE(restored);
}

TEST_F(RecycledName, APathWithoutADriveLeavesTheNameAlone) {
  bool restored = true;
  EXPECT_EQ(Restore(u"\\\\server\\share\\plan.xls", &restored), "$RABC123.txt");
  EXPECT_FALSE(restored);
}

TEST_F(RecycledName, AnEmptyNameLeavesTheNameAlone) {
  bool restored = true;
  EXPECT_EQ(Restore(u"C:\\folder\\", &restored), "$RABC123.txt");
  EXPECT_FALSE(restored);
}

}  // namespace
