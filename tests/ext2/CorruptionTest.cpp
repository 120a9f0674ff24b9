// Damaged file systems: a table of hand-made corruptions of a real image, indirect blocks that point at
// each other, and a seeded mutation loop over the image's metadata. Whatever the damage, opening,
// scanning inodes, walking block maps and directories end, and never read outside a buffer (the
// sanitizers of the test build stop the program on any such read).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "core/SearchedPartitionInfo.h"
#include "ext2/EXT2SearchController.h"
#include "ext2/Ext2Exceptions.h"
#include "ext2/Ext2Volume.h"
#include "ext2/InodeIterator.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/MemoryDevice.h"

using namespace ext2test;

namespace {

enum class Outcome { Opens, BadSuperBlock, BadGroupDescriptor };

// What a reader of the engine does with a file system, with the bounds a test needs to stay short:
// every inode through the inode iterator, the start and end of every block map, every directory's
// entries and removed entries, and the tree from the root.
struct Walk {
  uint64_t inodes = 0;
  uint64_t inUse = 0;
  uint64_t entries = 0;
  uint64_t blocks = 0;
  bool scanEndedByRange = false;
};

void WalkFile(const CExt2File& f, Walk* w) {
  f.GetDataSize();
  f.SizeExceedsAllocation();
  const uint32_t count = f.GetBlockCount();
  CExt2BlockIterator it = f.BlocksBegin();
  for (uint32_t i = 0; i < count && i < 300; ++i, ++it) {
    if (it.GetPhysicalBlock() != 0) ++w->blocks;
    it.GetBlock();
  }
  for (uint32_t i = count > 3 ? count - 3 : 0; i < count; ++i) CExt2BlockIterator(&f, i).GetBlock();
  if (!f.IsDirectory()) return;
  uint64_t n = 0;
  for (CExt2DirEntry e = f.EntriesBegin(), end = f.EntriesEnd(); !(e == end) && n < 3000; ++e, ++n) {
    try {
      CExt2File child = e.MakeFile();
      child.HasValidBlockPointers();
      ++w->entries;
    } catch (const std::range_error&) {
    } catch (const std::exception&) {
    }
  }
  if (count <= 2048) FindDeletedExt2DirRecords(f);
}

Walk WalkFileSystem(const CExt2FileSystem& fs) {
  Walk w;
  try {
    for (CExt2InodeIterator it = fs.InodesBegin(), end = fs.InodesEnd(); !(it == end); ++it) {
      ++w.inodes;
      try {
        CExt2File f = it.MakeFile();
        if (!f.IsInUse()) continue;
        ++w.inUse;
        if (f.HasValidBlockPointers()) WalkFile(f, &w);
      } catch (const std::range_error&) {
        throw;
      } catch (const std::exception&) {
      }
    }
  } catch (const std::range_error&) {
    w.scanEndedByRange = true;
  }
  try {
    CExt2File root(&fs, 2u);
    WalkFile(root, &w);
  } catch (const std::exception&) {
  }
  return w;
}

// A refusal also gives the field it names.
Outcome OpenAndWalk(IStorageDevice* device, Walk* walk, std::string* refusedField = nullptr) {
  try {
    CExt2FileSystem fs(device, 2);
    *walk = WalkFileSystem(fs);
    return Outcome::Opens;
  } catch (const CExt2BadSuperBlock& e) {
    if (refusedField != nullptr) *refusedField = e.GetParseResult().error.field;
    return Outcome::BadSuperBlock;
  } catch (const CExt2BadGroupDescriptor& e) {
    if (refusedField != nullptr) *refusedField = e.GetParseResult().error.field;
    return Outcome::BadGroupDescriptor;
  }
}

// Where things are in the 1 KiB image.
struct Layout {
  uint32_t blocksPerGroup = 0;
  uint32_t groups = 0;
  uint64_t inodeTable0 = 0;
  std::map<std::string, uint32_t> inodes;  // path -> inode
  uint32_t mediumInd = 0, mediumDind = 0, sparseTind = 0;
};

uint64_t InodeOffset(const CExt2FileSystem& fs, uint32_t inode) {
  uint64_t block;
  uint32_t offset;
  if (!fs.LocateInode(inode, &block, &offset)) return 0;
  return block * fs.GetBlockSize() + offset;
}

struct Corruption {
  const char* what;
  // Changes the device; `fs` is the intact file system.
  std::function<void(PaddedImageDevice&, const CExt2FileSystem&, const Layout&)> apply;
  Outcome outcome;
  const char* refusedField = "";  // the field a refusal names
};

void PatchAllDescriptorCopies(PaddedImageDevice& d, const Layout& l, uint32_t group, uint32_t field,
                              uint32_t value) {
  for (uint32_t g : {0u, 1u, 3u, 5u, 7u})
    d.PatchLE((static_cast<uint64_t>(g) * l.blocksPerGroup + 2) * 1024 + group * 32 + field, value, 4);
}

// A damaged primary superblock gives way to its backups: a superblock refusal needs every copy
// damaged alike (the primary at byte 1024, the copies at the start of groups 1, 3, 5 and 7).
void PatchAllSuperblockCopies(PaddedImageDevice& d, uint32_t field, uint64_t value, unsigned width) {
  for (uint32_t g : {0u, 1u, 3u, 5u, 7u})
    d.PatchLE((static_cast<uint64_t>(g) * 8192 + 1) * 1024 + field, value, width);
}

const std::vector<Corruption>& Corruptions() {
  static const std::vector<Corruption> rows = {
      {"log block size 40",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kLogBlockSize, 40, 4); },
       Outcome::BadSuperBlock, "log block size"},
      {"inode size 130",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kInodeSize, 130, 2); },
       Outcome::BadSuperBlock, "inode size"},
      {"inode size 4096",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kInodeSize, 4096, 2); },
       Outcome::BadSuperBlock, "inode size"},
      {"inodes per group 0xFFFFFFFF",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kInodesPerGroup, 0xFFFFFFFF, 4); },
       Outcome::BadSuperBlock, "inodes per group"},
      {"blocks per group 1",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kBlocksPerGroup, 1, 4); },
       Outcome::BadSuperBlock, "blocks per group"},
      {"inodes per group 2049 in every copy",
       [](auto& d, auto&, auto&) { PatchAllSuperblockCopies(d, ext2sb::kInodesPerGroup, 2049, 4); },
       Outcome::BadSuperBlock, "inode count"},
      // With the inode count to match, so that the superblocks hold together.
      {"block count far past the device: no descriptor table of that many groups is sound",
       [](auto& d, auto&, auto&) {
         PatchAllSuperblockCopies(d, ext2sb::kBlockCount, 0xFFFFFFFF, 4);
         PatchAllSuperblockCopies(d, ext2sb::kInodeCount, 524288ull * 2048, 4);
       },
       Outcome::BadGroupDescriptor, "block bitmap"},
      // The primary alone damaged: the copy in group 1 opens the file system.
      {"group count of the primary too small for the inode count",
       [](auto& d, auto&, auto&) { d.PatchLE(1024 + ext2sb::kBlockCount, 30000, 4); }, Outcome::Opens},
      {"log block size 40 in the primary only",
       [](auto& d, auto&, auto&) { d.PatchLE(1024 + ext2sb::kLogBlockSize, 40, 4); }, Outcome::Opens},
      {"inodes per group 0xFFFFFFFF in the primary only",
       [](auto& d, auto&, auto&) { d.PatchLE(1024 + ext2sb::kInodesPerGroup, 0xFFFFFFFF, 4); },
       Outcome::Opens},
      {"group 0 inode table far out in the primary table only",
       [](auto& d, auto&, auto&) { d.PatchLE(2 * 1024 + 8, 0xFFFFFFF0, 4); }, Outcome::Opens},
      {"group 2 inode table far out in every copy",
       [](auto& d, auto&, const Layout& l) { PatchAllDescriptorCopies(d, l, 2, 8, 0xFFFFFFF0); },
       Outcome::BadGroupDescriptor, "inode table"},
      {"last group's inode table at the group's last block, running off the device",
       [](auto& d, auto&, const Layout& l) {
         PatchAllDescriptorCopies(d, l, l.groups - 1, 8, l.groups * l.blocksPerGroup);
       },
       Outcome::Opens},
      {"root entry with record length 0",
       [](auto& d, const CExt2FileSystem& fs, auto&) {
         CExt2File root(&fs, 2u);
         d.PatchLE(static_cast<uint64_t>(CExt2BlockIterator(&root, 0).GetPhysicalBlock()) * 1024 + 4, 0, 2);
       },
       Outcome::Opens},
      {"root entry with record length 0xFFFC",
       [](auto& d, const CExt2FileSystem& fs, auto&) {
         CExt2File root(&fs, 2u);
         d.PatchLE(static_cast<uint64_t>(CExt2BlockIterator(&root, 0).GetPhysicalBlock()) * 1024 + 12 + 4,
                   0xFFFC, 2);
       },
       Outcome::Opens},
      {"directory of 600 entries sized 4 GiB - 1",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         d.PatchLE(InodeOffset(fs, l.inodes.at("/many")) + 4, 0xFFFFFFFF, 4);
       },
       Outcome::Opens},
      {"directory sized 2800 bytes over 25 blocks",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         d.PatchLE(InodeOffset(fs, l.inodes.at("/many")) + 4, 2800, 4);
       },
       Outcome::Opens},
      {"directory whose blocks are all one block",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         uint64_t at = InodeOffset(fs, l.inodes.at("/many"));
         CExt2File many(&fs, l.inodes.at("/many"));
         for (uint32_t i = 1; i < 12; ++i) d.PatchLE(at + 40 + 4 * i, many.GetInode().GetBlockPointer(0), 4);
       },
       Outcome::Opens},
      {"file sized 2^64 - 1",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         uint64_t at = InodeOffset(fs, l.inodes.at("/medium.bin"));
         d.PatchLE(at + 4, 0xFFFFFFFF, 4);
         d.PatchLE(at + 108, 0xFFFFFFFF, 4);
       },
       Outcome::Opens},
      {"allocated units 0xFFFFFFFF on an empty file",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         d.PatchLE(InodeOffset(fs, l.inodes.at("/empty.txt")) + 28, 0xFFFFFFFF, 4);
       },
       Outcome::Opens},
      {"block pointers 0xFFFFFFFF",
       [](auto& d, const CExt2FileSystem& fs, const Layout& l) {
         uint64_t at = InodeOffset(fs, l.inodes.at("/medium.bin"));
         for (uint32_t i = 0; i < 15; ++i) d.PatchLE(at + 40 + 4 * i, 0xFFFFFFFF, 4);
       },
       Outcome::Opens},
      {"single-indirect block full of its own number",
       [](auto& d, auto&, const Layout& l) {
         for (uint32_t i = 0; i < 256; ++i)
           d.PatchLE(static_cast<uint64_t>(l.mediumInd) * 1024 + 4 * i, l.mediumInd, 4);
       },
       Outcome::Opens},
      {"triple-indirect block full of its own number",
       [](auto& d, auto&, const Layout& l) {
         for (uint32_t i = 0; i < 256; ++i)
           d.PatchLE(static_cast<uint64_t>(l.sparseTind) * 1024 + 4 * i, l.sparseTind, 4);
       },
       Outcome::Opens},
      {"root inode zeroed",
       [](auto& d, const CExt2FileSystem& fs, auto&) {
         for (uint32_t i = 0; i < 128; ++i) d.Patch(InodeOffset(fs, 2) + i, 0);
       },
       Outcome::Opens},
      {"directory entry name length 255 at a block end",
       [](auto& d, const CExt2FileSystem& fs, auto&) {
         CExt2File root(&fs, 2u);
         uint64_t block = static_cast<uint64_t>(CExt2BlockIterator(&root, 0).GetPhysicalBlock()) * 1024;
         d.PatchLE(block + 12 + 4, 1012, 2);  // ".." now spans the block
         d.PatchLE(block + 1020, 0x00FF0004, 4);
       },
       Outcome::Opens},
  };
  return rows;
}

class Ext2Corruption : public ::testing::TestWithParam<size_t> {};

TEST_P(Ext2Corruption, EndsWithoutFaulting) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  Layout layout;
  layout.blocksPerGroup = fs.GetSuperBlock().GetBlocksPerGroup();
  layout.groups = fs.GetGroupCount();
  for (const char* p : {"/many", "/medium.bin", "/sparse.bin", "/empty.txt", "/docs"}) {
    std::unique_ptr<CExt2File> f;
    ASSERT_TRUE(FindPath(fs, p, &f));
    layout.inodes[p] = f->GetInodeNumber();
  }
  layout.mediumInd = CExt2File(&fs, layout.inodes["/medium.bin"]).GetInode().GetBlockPointer(12);
  layout.sparseTind = CExt2File(&fs, layout.inodes["/sparse.bin"]).GetInode().GetBlockPointer(14);

  const Corruption& row = Corruptions()[GetParam()];
  SCOPED_TRACE(row.what);
  PaddedImageDevice damaged(path);
  row.apply(damaged, fs, layout);
  Walk walk;
  std::string refused;
  EXPECT_EQ(static_cast<int>(row.outcome), static_cast<int>(OpenAndWalk(&damaged, &walk, &refused)));
  EXPECT_EQ(refused, row.refusedField);
  CExt2Volume volume(&damaged, 0);
  EXPECT_EQ(row.outcome == Outcome::Opens ? 4 : 7, volume.GetFileSystemType());
}

INSTANTIATE_TEST_SUITE_P(Ext2, Ext2Corruption, ::testing::Range<size_t>(0, Corruptions().size()),
                         [](const auto& info) {
                           std::string name = Corruptions()[info.param].what;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Two indirect blocks that point at each other: the walk down has three levels at most, so it ends,
// handing the blocks themselves out as data blocks.
TEST(Ext2IndirectLoops, TwoLinkCycleEnds) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> medium;
  ASSERT_TRUE(FindPath(fs, "/medium.bin", &medium));
  const uint32_t dind = medium->GetInode().GetBlockPointer(13);
  const uint32_t below = CExt2BlockIterator(medium.get(), 12 + 256).GetPhysicalBlock() != 0
                             ? [&] {
                                 std::vector<uint8_t> b(1024);
                                 fs.ReadBlocks(b.data(), dind, 1);
                                 return static_cast<uint32_t>(corvale::ByteReader(b.data(), 1024).u32(0));
                               }()
                             : 0;
  ASSERT_NE(0u, below);
  // The double-indirect block names `below` and `below` names the double-indirect block, everywhere.
  PaddedImageDevice looped(path);
  for (uint32_t i = 0; i < 256; ++i) {
    looped.PatchLE(static_cast<uint64_t>(dind) * 1024 + 4 * i, below, 4);
    looped.PatchLE(static_cast<uint64_t>(below) * 1024 + 4 * i, dind, 4);
  }
  // The inode's triple-indirect pointer joins the cycle too.
  uint64_t block;
  uint32_t offset;
  ASSERT_TRUE(fs.LocateInode(medium->GetInodeNumber(), &block, &offset));
  looped.PatchLE(block * 1024 + offset + 40 + 4 * 14, dind, 4);
  CExt2FileSystem loopedFs(&looped, 2);
  CExt2File file(&loopedFs, medium->GetInodeNumber());
  for (uint32_t i : {268u, 300u, 268u + 256 * 256 - 1, 268u + 256 * 256, 268u + 256 * 256 + 70000}) {
    CExt2BlockIterator it(&file, i);
    uint32_t physical = it.GetPhysicalBlock();
    EXPECT_TRUE(physical == dind || physical == below) << i;
  }
  // Past what three levels reach there is no block, whatever the blocks say.
  EXPECT_EQ(0u, CExt2BlockIterator(&file, static_cast<uint32_t>(CExt2BlockIterator::MappableBlocks(1024)))
                    .GetPhysicalBlock());
  EXPECT_EQ(0u, CExt2BlockIterator(&file, UINT32_MAX).GetPhysicalBlock());
}

// Random bytes written over the metadata of real images: superblock, descriptor tables, inode
// tables, directory and indirect blocks. Seeded, so a failure can be replayed; bounded in iterations
// and in time.
TEST(Ext2Mutation, SeededMutationsOfMetadataEndWithoutFaulting) {
  struct Target {
    Image image;
    uint64_t seed;
  };
  const auto start = std::chrono::steady_clock::now();
  uint64_t iterations = 0;
  uint64_t opened = 0;
  for (const Target& target : {Target{kRev0, 0xC0FFEE}, Target{kTree1k, 0xE2F5}}) {
    EXT2_IMAGE(path, target.image);
    PaddedImageDevice clean(path);
    CExt2FileSystem fs(&clean, 2);
    const uint64_t bs = fs.GetBlockSize();
    // Byte ranges worth damaging.
    std::vector<std::pair<uint64_t, uint64_t>> ranges = {{1024, 1024}};
    ranges.emplace_back((fs.GetSuperBlock().GetFirstDataBlock() + 1) * bs, bs);
    const uint64_t table0 = fs.GetGroupDescriptor(0).inodeTable;
    ranges.emplace_back(table0 * bs, 16 * bs);
    for (const char* dir : {"/", "/docs", "/many", "/sub", "/utf8"}) {
      std::unique_ptr<CExt2File> f;
      if (!FindPath(fs, dir, &f)) continue;
      for (uint32_t i = 0; i < f->GetBlockCount() && i < 4; ++i)
        if (uint32_t b = CExt2BlockIterator(f.get(), i).GetPhysicalBlock()) ranges.emplace_back(b * bs, bs);
    }
    for (const char* file : {"/medium.bin", "/sparse.bin", "/sub/data.bin"}) {
      std::unique_ptr<CExt2File> f;
      if (!FindPath(fs, file, &f)) continue;
      for (uint32_t p = 12; p < 15; ++p)
        if (uint32_t b = f->GetInode().GetBlockPointer(p)) ranges.emplace_back(b * bs, bs);
    }
    std::mt19937_64 random(target.seed);
    for (int round = 0; round < 150; ++round) {
      if (std::chrono::steady_clock::now() - start > std::chrono::seconds(12)) break;
      PaddedImageDevice damaged(path);
      const int edits = 1 + static_cast<int>(random() % 24);
      for (int e = 0; e < edits; ++e) {
        const auto& range = ranges[random() % ranges.size()];
        const uint64_t at = range.first + random() % range.second;
        switch (random() % 4) {
          case 0:  // one random byte
            damaged.Patch(at, static_cast<uint8_t>(random()));
            break;
          case 1:  // an aligned word, often an extreme value
            damaged.PatchLE(at & ~3ull, (random() % 2) ? 0xFFFFFFFFull : random() % 70000, 4);
            break;
          case 2:  // a bit flip
            damaged.Patch(at, static_cast<uint8_t>(1u << (random() % 8)));
            break;
          default:  // zeros
            for (int i = 0; i < 8; ++i) damaged.Patch(at + i, 0);
        }
      }
      SCOPED_TRACE("seed " + std::to_string(target.seed) + " round " + std::to_string(round));
      Walk walk;
      if (OpenAndWalk(&damaged, &walk) == Outcome::Opens) ++opened;
      CExt2Volume volume(&damaged, 0);
      ++iterations;
    }
  }
  EXPECT_GT(iterations, 20u);
  EXPECT_GT(opened, 5u);
}

// The image cut at every KiB of its last 64 KiB: the volume is still recognised at its full size,
// opens, and every inode, file in use and directory entry of the whole image is still found (the
// last blocks hold none of them); nothing past the cut is read as data.
TEST(Ext2Mutation, CutAtEveryKilobyteNearTheEndOpensWithTheSameCounts) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice original(path);
  Walk whole;
  ASSERT_EQ(static_cast<int>(OpenAndWalk(&original, &whole)), static_cast<int>(Outcome::Opens));
  const int64_t sectors = original.GetSectorCount();
  for (int64_t kib = 1; kib <= 64; ++kib) {
    SCOPED_TRACE("cut by " + std::to_string(kib) + " KiB");
    CBasicPartitionDevice cut(&original, 0, sectors - 2 * kib);
    Walk walk;
    ASSERT_EQ(static_cast<int>(OpenAndWalk(&cut, &walk)), static_cast<int>(Outcome::Opens));
    EXPECT_EQ(walk.inodes, whole.inodes);
    EXPECT_EQ(walk.inUse, whole.inUse);
    EXPECT_EQ(walk.entries, whole.entries);
    EXPECT_FALSE(walk.scanEndedByRange);
    CExt2Volume volume(&cut, 0);
    EXPECT_EQ(volume.GetFileSystemType(), 4);
    EXPECT_EQ(volume.GetSectorCount(), static_cast<uint64_t>(sectors));
  }
}

// One header sector of a real image (the superblock's, the descriptor table's, or the inode-table
// sector holding the root inode) written over every sector of a 9 MiB device, so that each structure
// is met where every other one is expected: opening refuses it (nothing there is a sound table, or
// there is no superblock at all), and the whole-device search ends proposing nothing.
TEST(Ext2Mutation, HeaderSectorRepeatedInEverySectorIsRefusedWithoutFaulting) {
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice original(path);
  CExt2FileSystem fs(&original, 2);
  uint64_t rootBlock;
  uint32_t rootOffset;
  ASSERT_TRUE(fs.LocateInode(2, &rootBlock, &rootOffset));
  struct Row {
    const char* what;
    uint64_t sector;
  } rows[] = {{"superblock", 2},
              {"superblock second half", 3},
              {"descriptor table", 2 * 2},
              {"inode table", (rootBlock * 1024 + rootOffset) / 512}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(original.ReadSectors(sector.data(), row.sector, 1));
    std::vector<uint8_t> bytes(9u << 20);
    for (size_t at = 0; at < bytes.size(); at += 512)
      std::copy(sector.begin(), sector.end(), bytes.begin() + at);
    MemoryDevice device(std::move(bytes));
    Walk walk;
    EXPECT_NE(static_cast<int>(OpenAndWalk(&device, &walk)), static_cast<int>(Outcome::Opens));
    EXPECT_EQ(CExt2Volume(&device, 0).GetFileSystemType(), 7);
    CEXT2SearchController controller;
    controller.SetStorageDevice(&device);
    controller.SetSectorsPerRead(8192);
    controller.BeginSearch();
    for (int64_t s = 0; s < device.GetSectorCount(); s += 4096)
      controller.AnalyzeBlock(s, std::min<int64_t>(4096, device.GetSectorCount() - s), nullptr);
    controller.EndSearch();
    SearchedPartitionInfoList results;
    controller.GetResults(&results);
    EXPECT_TRUE(results.empty());
  }
}

}  // namespace
