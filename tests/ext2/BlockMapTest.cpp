// Reading files through their block maps: direct, single-, double- and triple-indirect blocks, holes,
// the last partial block, and the reads it takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "ext2/Ext2Exceptions.h"

using namespace ext2test;

namespace {

struct FileCase {
  Image image;
  const char* path;
  bool compareWithCat;  // false for files too large to have debugfs print
};

class FileThroughBlockMap : public ::testing::TestWithParam<FileCase> {};

// Every data block the file's map gives is the one debugfs lists for that logical block, and no other
// block is given; the bytes read are those debugfs prints for the file (holes read as zeros).
TEST_P(FileThroughBlockMap, GivesTheBlocksAndBytesDebugfsGives) {
  EXT2_IMAGE(path, GetParam().image);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> file;
  ASSERT_TRUE(FindPath(fs, GetParam().path, &file));

  std::map<uint64_t, uint64_t> expected = DebugfsDataBlocks(path, GetParam().path);
  ASSERT_FALSE(expected.empty());
  std::map<uint64_t, uint64_t> mapped;
  for (CExt2BlockIterator it = file->BlocksBegin(), end = file->BlocksEnd(); !(it == end); ++it)
    if (uint32_t block = it.GetPhysicalBlock()) mapped[it.GetIndex()] = block;
  EXPECT_EQ(expected, mapped);

  if (GetParam().compareWithCat) {
    std::string cat;
    ASSERT_EQ(
        0, corvale::test::RunCommand(
               "debugfs -R 'cat \"" + std::string(GetParam().path) + "\"' '" + path + "' 2>/dev/null", &cat));
    std::vector<uint8_t> bytes = ReadThroughBlocks(*file);
    ASSERT_EQ(cat.size(), bytes.size());
    EXPECT_TRUE(std::memcmp(cat.data(), bytes.data(), bytes.size()) == 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ext2, FileThroughBlockMap,
    ::testing::Values(FileCase{kTree1k, "/hello.txt", true}, FileCase{kTree1k, "/small.bin", true},
                      FileCase{kTree1k, "/medium.bin", true}, FileCase{kTree1k, "/sparse.bin", true},
                      FileCase{kTree1k, "/many", true}, FileCase{kTree4k, "/large.bin", true},
                      FileCase{kTree4k, "/sparse.bin", false}, FileCase{kRev0, "/sub/data.bin", true}),
    [](const auto& info) {
      std::string name = std::string(info.param.image.name).substr(0, 7) + info.param.path;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

// The sparse files reach the triple-indirect level; their size is not a whole number of blocks, so the
// last block counts partly, and they are walked although the size exceeds what is allocated.
TEST(Ext2BlockMap, SparseFilesReachTripleIndirectionAndTheirLastPartialBlock) {
  struct Row {
    Image image;
    uint64_t size;
    uint32_t tripleIndirectData;  // a logical block holding data in the triple-indirect range
  } rows[] = {{kTree1k, 70ull * 1024 * 1024 + 123, 68 * 1024},
              {kTree4k, 4ull * 1024 * 1024 * 1024 + 8 * 1024 * 1024 + 77, 1050624}};
  for (const Row& row : rows) {
    EXT2_IMAGE(path, row.image);
    PaddedImageDevice device(path);
    CExt2FileSystem fs(&device, 2);
    std::unique_ptr<CExt2File> file;
    ASSERT_TRUE(FindPath(fs, "/sparse.bin", &file));
    const uint64_t blockSize = fs.GetBlockSize();
    const uint64_t p = blockSize / 4;
    EXPECT_EQ(row.size, file->GetFileSize());
    EXPECT_TRUE(file->SizeExceedsAllocation());
    EXPECT_EQ((row.size + blockSize - 1) / blockSize, file->GetBlockCount());
    EXPECT_GE(row.tripleIndirectData, 12 + p + p * p);
    CExt2BlockIterator it(file.get(), row.tripleIndirectData);
    EXPECT_EQ(DebugfsDataBlocks(path, "/sparse.bin").at(row.tripleIndirectData), it.GetPhysicalBlock());
    // The block the size ends in holds size mod block size bytes (a hole in the 1 KiB image).
    CExt2BlockIterator last(file.get(), file->GetBlockCount() - 1);
    if (last.GetPhysicalBlock() != 0) {
      CExt2BlockIterator::BlockView view = last.GetBlock();
      ASSERT_NE(nullptr, view.buffer);
      EXPECT_EQ(row.size % blockSize, view.length);
    }
  }
}

// Walking a file in order reads each indirect block once: a file of 300,000 bytes with 1 KiB blocks
// has 293 data blocks, one single-indirect block, one double-indirect block and one block below it.
TEST(Ext2BlockMap, WalkingInOrderReadsEachIndirectBlockOnce) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> file;
  ASSERT_TRUE(FindPath(fs, "/medium.bin", &file));
  const uint64_t before = device.ReadCount();
  uint64_t blocks = 0;
  for (CExt2BlockIterator it = file->BlocksBegin(), end = file->BlocksEnd(); !(it == end); ++it)
    if (it.GetPhysicalBlock() != 0) ++blocks;
  EXPECT_EQ(293u, blocks);
  EXPECT_EQ(3u, device.ReadCount() - before);
  // A copy starts without the indirect blocks; the original keeps them.
  CExt2BlockIterator original(file.get(), 100);
  original.GetPhysicalBlock();
  CExt2BlockIterator copy = original;
  const uint64_t beforeCopy = device.ReadCount();
  original.GetPhysicalBlock();
  EXPECT_EQ(beforeCopy, device.ReadCount());
  copy.GetPhysicalBlock();
  EXPECT_EQ(beforeCopy + 1, device.ReadCount());
}

// The first double-indirect block with 4 KiB blocks is logical block 1036 (12 + 1024).
TEST(Ext2BlockMap, DoubleIndirectRangeStartsAfterTwelvePlusPointersPerBlock) {
  EXT2_IMAGE(path, kTree4k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> file;
  ASSERT_TRUE(FindPath(fs, "/large.bin", &file));
  std::map<uint64_t, uint64_t> blocks = DebugfsDataBlocks(path, "/large.bin");
  for (uint32_t i : {11u, 12u, 1035u, 1036u}) {
    CExt2BlockIterator it(file.get(), i);
    EXPECT_EQ(blocks.at(i), it.GetPhysicalBlock()) << i;
  }
  EXPECT_EQ(12 + 1024 + 1024ull * 1024 + 1024ull * 1024 * 1024, CExt2BlockIterator::MappableBlocks(4096));
}

// A read that fails, or a block past the groups, gives an empty view; the walk goes on.
TEST(Ext2BlockMap, UnreadableBlocksGiveEmptyViews) {
  EXT2_IMAGE(path, kTree1k);
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  MemoryDevice device(bytes);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> file;
  ASSERT_TRUE(FindPath(fs, "/small.bin", &file));
  CExt2BlockIterator it = file->BlocksBegin();
  const uint32_t block = it.GetPhysicalBlock();
  device.SetBadSector(block * 2);
  CExt2BlockIterator::BlockView view = it.GetBlock();
  EXPECT_EQ(nullptr, view.buffer);
  EXPECT_EQ(0u, view.length);
  EXPECT_EQ(block, view.block);
  ++it;
  EXPECT_NE(nullptr, it.GetBlock().buffer);
  // The failed read of ReadBlocks itself zeroes its buffer and throws.
  std::vector<uint8_t> buffer(1024, 0xEE);
  EXPECT_THROW(fs.ReadBlocks(buffer.data(), block, 1), CExt2ReadSectorError);
  EXPECT_EQ(std::vector<uint8_t>(1024, 0), buffer);
  // Requests that start off the device are range errors; one that starts on it and runs past the end
  // is a failed read.
  EXPECT_THROW(fs.ReadBlocks(buffer.data(), fs.GetSuperBlock().GetBlockCount() + 10, 1), std::range_error);
  std::vector<uint8_t> two(2048, 0xEE);
  EXPECT_THROW(fs.ReadBlocks(two.data(), bytes.size() / 1024 - 1, 2), CExt2ReadSectorError);
  EXPECT_EQ(std::vector<uint8_t>(2048, 0), two);
}

}  // namespace
