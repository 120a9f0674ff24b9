// Directories: the names a walk gives against debugfs, removed entries found in the slack of their
// neighbours, the rules that end a walk, and the names' conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Ext2TestSupport.h"
#include "ext2/Ext2Name.h"

using namespace ext2test;

namespace {

std::map<std::string, uint32_t> AsMap(const std::vector<LsEntry>& entries) {
  std::map<std::string, uint32_t> out;
  for (const LsEntry& e : entries)
    if (e.inode != 0) out[e.name] = e.inode;
  return out;
}

// Every folder of the images lists the names and inodes debugfs lists, in UTF-8 as written, the
// folder of 600 entries (more than 12 blocks, so partly through its single-indirect block) included.
TEST(Ext2Directories, ListTheNamesDebugfsLists) {
  struct Row {
    Image image;
    std::vector<std::string> folders;
  } rows[] = {
      {kTree1k, {"/", "/docs", "/many", "/utf8", "/deep/a/b/c/d/e", "/dir07", "/dir39", "/lost+found"}},
      {kTree4k, {"/", "/docs", "/utf8", "/folder", "/folder/inner"}},
      {kRev0, {"/", "/sub"}},
  };
  for (const Row& row : rows) {
    EXT2_IMAGE(path, row.image);
    PaddedImageDevice device(path);
    CExt2FileSystem fs(&device, 2);
    for (const std::string& folder : row.folders) {
      SCOPED_TRACE(path + ":" + folder);
      std::unique_ptr<CExt2File> dir;
      ASSERT_TRUE(FindPath(fs, folder, &dir));
      ASSERT_TRUE(dir->IsDirectory());
      std::map<std::string, uint32_t> expected = AsMap(DebugfsLs(path, folder));
      ASSERT_GE(expected.size(), 2u);
      EXPECT_EQ(expected, ListDirectory(*dir));
    }
  }
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  std::unique_ptr<CExt2File> many;
  ASSERT_TRUE(FindPath(fs, "/many", &many));
  EXPECT_GT(many->GetBlockCount(), 12u);
  EXPECT_EQ(602u, ListDirectory(*many).size());
  std::unique_ptr<CExt2File> cafe;
  ASSERT_TRUE(FindPath(fs, "/utf8/caf\xC3\xA9.txt", &cafe));
  EXPECT_EQ(9u, cafe->GetNameLength());
}

// A file removed with rm leaves its entry in the slack of the entry before it: found there, with its
// inode, which is deleted and still holds the file's blocks. A file freed with kill_file keeps its
// entry; the walk lists it and its inode is deleted.
TEST(Ext2Directories, RemovedEntriesAreFoundInTheSlack) {
  for (const Image& image : {kTree1k, kTree4k}) {
    EXT2_IMAGE(path, image);
    PaddedImageDevice device(path);
    CExt2FileSystem fs(&device, 2);
    std::unique_ptr<CExt2File> docs;
    ASSERT_TRUE(FindPath(fs, "/docs", &docs));
    std::map<std::string, uint32_t> live = ListDirectory(*docs);
    EXPECT_EQ(0u, live.count("removed.txt"));
    ASSERT_EQ(1u, live.count("killed.txt"));
    ASSERT_EQ(1u, live.count("zkeep.txt"));

    std::vector<Ext2DeletedDirRecord> removed = FindDeletedExt2DirRecords(*docs);
    ASSERT_EQ(1u, removed.size());
    EXPECT_EQ("removed.txt", removed[0].name);
    EXPECT_EQ(1, removed[0].fileType);
    CExt2File gone(&fs, removed[0].inode);
    EXPECT_TRUE(gone.IsDeleted());
    std::vector<uint8_t> text = ReadThroughBlocks(gone);
    EXPECT_EQ("this file was removed\n", std::string(text.begin(), text.end()));

    CExt2File killed(&fs, live["killed.txt"]);
    EXPECT_TRUE(killed.IsDeleted());
    text = ReadThroughBlocks(killed);
    EXPECT_EQ("this file was killed\n", std::string(text.begin(), text.end()));
    EXPECT_FALSE(CExt2File(&fs, live["zkeep.txt"]).IsDeleted());
  }
  // Folders nothing was removed from have nothing in their slack.
  EXT2_IMAGE(path, kTree1k);
  PaddedImageDevice device(path);
  CExt2FileSystem fs(&device, 2);
  for (const char* folder : {"/", "/many", "/utf8"}) {
    std::unique_ptr<CExt2File> dir;
    ASSERT_TRUE(FindPath(fs, folder, &dir));
    EXPECT_TRUE(FindDeletedExt2DirRecords(*dir).empty()) << folder;
  }
}

// One directory entry written at `offset` of a block.
void PutEntry(std::vector<uint8_t>& block, size_t offset, uint32_t inode, uint16_t recordLength,
              const std::string& name, uint8_t type = 1) {
  corvale::putLE(block.data() + offset, inode, 4);
  corvale::putLE(block.data() + offset + 4, recordLength, 2);
  block[offset + 6] = static_cast<uint8_t>(name.size());
  block[offset + 7] = type;
  std::memcpy(block.data() + offset + 8, name.data(), name.size());
}

TEST(Ext2DirEntryRules, ValidityTable) {
  struct Row {
    const char* what;
    uint16_t recordLength;
    uint8_t nameLength;
    size_t bytes;  // bytes available from the entry
    bool valid;
  } rows[] = {
      {"record 12, name 4", 12, 4, 64, true},
      {"record 12, name 5 needs 16", 12, 5, 64, false},
      {"record 16, name 5", 16, 5, 64, true},
      {"record 10 is not a multiple of 4", 10, 1, 64, false},
      {"record 0", 0, 0, 64, false},
      {"record 8, no name", 8, 0, 64, true},
      {"header cut off", 12, 4, 7, false},
      {"name runs past the bytes read", 268, 255, 200, false},
      {"record longer than the bytes read is still valid", 1024, 3, 64, true},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> block(row.bytes + 300, 'x');
    corvale::putLE(block.data(), 5, 4);
    corvale::putLE(block.data() + 4, row.recordLength, 2);
    block[6] = row.nameLength;
    EXPECT_EQ(row.valid, IsValidExt2DirEntry(block.data(), row.bytes, 0)) << row.what;
  }
}

TEST(Ext2DirEntryRules, PlausibleRecordTable) {
  struct Row {
    const char* what;
    uint32_t inode;
    uint16_t recordLength;
    std::string name;
    uint8_t type;
    uint64_t offset;
    uint64_t limit;
    bool plausible;
  } rows[] = {
      {"removed file", 14, 16, "b.txt", 1, 12, 40, true},
      {"removed folder", 30, 24, "folder_name", 2, 12, 40, true},
      {"inode 0", 0, 16, "b.txt", 1, 12, 40, false},
      {"inode past the inode count", 5000, 16, "b.txt", 1, 12, 40, false},
      {"no name", 14, 8, "", 1, 12, 40, false},
      {"name with a slash", 14, 16, "a/b", 1, 12, 40, false},
      {"name with a NUL", 14, 16, std::string("a\0b", 3), 1, 12, 40, false},
      {"dot", 14, 12, ".", 2, 12, 40, false},
      {"dot dot", 14, 12, "..", 2, 12, 40, false},
      {"file type 9", 14, 16, "b.txt", 9, 12, 40, false},
      {"record runs past the slack", 14, 32, "b.txt", 1, 12, 40, false},
      {"record too short for the name", 14, 12, "b.txt", 1, 12, 40, false},
      {"not on a 4-byte boundary", 14, 16, "b.txt", 1, 14, 40, false},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> block(64, 0);
    PutEntry(block, row.offset, row.inode, row.recordLength, row.name, row.type);
    EXPECT_EQ(row.plausible,
              isPlausibleExt2DirRecord(block.data(), block.size(), row.offset, row.limit, 1000))
        << row.what;
  }
}

// A directory of the real image whose first block is replaced by hand-made entries.
class HandMadeDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVALE_FIXTURE(path, kTree1k.script, kTree1k.name);
    m_device = std::make_unique<PaddedImageDevice>(path);
    m_fs = std::make_unique<CExt2FileSystem>(m_device.get(), 2);
    ASSERT_TRUE(FindPath(*m_fs, "/docs", &m_docs));
    m_inodes = ListDirectory(*m_docs);
    m_block = CExt2BlockIterator(m_docs.get(), 0).GetPhysicalBlock();
    ASSERT_NE(0u, m_block);
  }
  // Writes `block` over the first block of /docs and lists the folder again.
  std::vector<std::string> List(const std::vector<uint8_t>& block) {
    for (size_t i = 0; i < block.size(); ++i)
      m_device->Patch(static_cast<uint64_t>(m_block) * 1024 + i, block[i]);
    CExt2File docs(m_fs.get(), m_docs->GetInodeNumber());
    std::vector<std::string> names;
    for (CExt2DirEntry e = docs.EntriesBegin(), end = docs.EntriesEnd(); !(e == end); ++e) {
      CExt2File f = e.MakeFile();
      names.emplace_back(f.GetName(), f.GetNameLength());
    }
    return names;
  }
  std::vector<uint8_t> Start() {
    std::vector<uint8_t> block(1024, 0);
    PutEntry(block, 0, m_docs->GetInodeNumber(), 12, ".", 2);
    PutEntry(block, 12, 2, 12, "..", 2);
    return block;
  }

  std::unique_ptr<PaddedImageDevice> m_device;
  std::unique_ptr<CExt2FileSystem> m_fs;
  std::unique_ptr<CExt2File> m_docs;
  std::map<std::string, uint32_t> m_inodes;
  uint32_t m_block = 0;
};

TEST_F(HandMadeDirectory, EntryWithInodeZeroAndNoNameEndsTheWalk) {
  std::vector<uint8_t> block = Start();
  PutEntry(block, 24, 0, 12, "");
  PutEntry(block, 36, m_inodes["readme.md"], 1024 - 36, "readme.md");
  EXPECT_EQ((std::vector<std::string>{".", ".."}), List(block));
}

TEST_F(HandMadeDirectory, EntryWithInodeZeroAndANameDoesNotEndTheWalk) {
  std::vector<uint8_t> block = Start();
  PutEntry(block, 24, 0, 16, "gone1");
  PutEntry(block, 40, m_inodes["readme.md"], 1024 - 40, "readme.md");
  std::vector<std::string> names = List(block);
  EXPECT_EQ((std::vector<std::string>{".", "..", "gone1", "readme.md"}), names);
}

// A record length that is not a multiple of 4, or too short for the name, makes the entry invalid: the
// walk ends before it. One longer than a block leaves the entry itself valid and ends the walk after it.
TEST_F(HandMadeDirectory, BadRecordLengthsEndTheWalk) {
  const std::vector<std::string> before = {".", "..", "notes.txt"};
  const std::vector<std::string> through = {".", "..", "notes.txt", "readme.md"};
  struct Row {
    uint16_t recordLength;
    const std::vector<std::string>* names;
  } rows[] = {{10, &before}, {0, &before}, {12, &before}, {2048, &through}};
  for (const Row& row : rows) {
    std::vector<uint8_t> block = Start();
    PutEntry(block, 24, m_inodes["notes.txt"], 20, "notes.txt");
    PutEntry(block, 44, m_inodes["readme.md"], row.recordLength, "readme.md");
    PutEntry(block, 64, m_inodes["zkeep.txt"], 1024 - 64, "zkeep.txt");
    EXPECT_EQ(*row.names, List(block)) << row.recordLength;
  }
}

TEST_F(HandMadeDirectory, FirstBlockPointerZeroGivesNoEntriesAndTheBeginThrows) {
  uint64_t block;
  uint32_t offset;
  ASSERT_TRUE(m_fs->LocateInode(m_docs->GetInodeNumber(), &block, &offset));
  m_device->PatchLE(block * 1024 + offset + 40, 0, 4);
  CExt2File docs(m_fs.get(), m_docs->GetInodeNumber());
  CExt2DirEntry begin = docs.EntriesBegin();
  EXPECT_TRUE(begin == docs.EntriesEnd());
  EXPECT_THROW(begin.GetCurrentEntry(), CExt2DirEntry::CBadDir);
  EXPECT_THROW(begin.MakeFile(), CExt2DirEntry::CBadDir);
  EXPECT_TRUE(FindDeletedExt2DirRecords(docs).empty());
}

// A directory's second block missing (a hole), or a block map that names the first block for every
// block: the walk gives every entry of the first block, the last ones included, and ends there,
// however large the directory says it is.
TEST_F(HandMadeDirectory, AMissingOrRepeatedBlockEndsTheWalkAfterTheEntriesBefore) {
  std::unique_ptr<CExt2File> many;
  ASSERT_TRUE(FindPath(*m_fs, "/many", &many));
  std::map<std::string, uint32_t> firstBlock;
  for (CExt2DirEntry e = many->EntriesBegin(), end = many->EntriesEnd();
       !(e == end) && e.GetPosition() < 1024; ++e) {
    CExt2File f = e.MakeFile();
    firstBlock[std::string(f.GetName(), f.GetNameLength())] = f.GetInodeNumber();
  }
  ASSERT_GT(firstBlock.size(), 20u);
  uint64_t block;
  uint32_t offset;
  ASSERT_TRUE(m_fs->LocateInode(many->GetInodeNumber(), &block, &offset));
  const uint64_t at = block * 1024 + offset;
  for (bool repeated : {false, true}) {
    m_device->ClearPatches();
    if (repeated) {
      m_device->PatchLE(at + 4, 0xFFFFFFFF, 4);
      for (uint32_t i = 1; i < 15; ++i)
        m_device->PatchLE(at + 40 + 4 * i, many->GetInode().GetBlockPointer(0), 4);
    } else {
      m_device->PatchLE(at + 40 + 4, 0, 4);
    }
    CExt2File damaged(m_fs.get(), many->GetInodeNumber());
    const uint64_t reads = m_device->ReadCount();
    EXPECT_EQ(firstBlock, ListDirectory(damaged)) << repeated;
    EXPECT_LT(m_device->ReadCount() - reads, 200u);
  }
}

// The entries' inodes load with the file made from the entry; an invalid entry gives a zero inode.
TEST_F(HandMadeDirectory, FilesFromEntriesCarryTheirInodes) {
  CExt2DirEntry e = m_docs->EntriesBegin();
  ++e;
  ++e;
  CExt2File f = e.MakeFile();
  ASSERT_EQ(m_inodes[std::string(f.GetName(), f.GetNameLength())], f.GetInodeNumber());
  EXPECT_TRUE(f.IsInUse());
  EXPECT_EQ(CExt2File(m_fs.get(), f.GetInodeNumber()).GetInode().GetModificationTime(),
            f.GetInode().GetModificationTime());
}

TEST(Ext2Names, ConversionTable) {
  struct Row {
    const char* what;
    std::string bytes;
    size_t result;
  } rows[] = {
      {"plain", "abc", 3},
      {"e acute", "\xC3\xA9", 2},
      {"Japanese", "\xE6\x97\xA5\xE6\x9C\xAC", 6},
      {"four-byte character", "\xF0\x9F\x98\x80.txt", 8},
      {"broken sequence", "\xC3\x41", 0},
      {"over-long slash", "\xC0\xAF", 0},
      {"over-long dot", "a\xC0\xAE", 0},
      {"encoded surrogate", "\xED\xA0\x80", 0},
      {"past U+10FFFF", "\xF4\x90\x80\x80", 0},
      {"five-byte form", "\xF8\x88\x80\x80\x80", 0},
      {"cut at the end", "ab\xE6\x97", 0},
      {"stray continuation byte",
       "\x80"
       "abc",
       0},
      {"empty", "", 0},
  };
  for (const Row& row : rows) {
    char out[256];
    size_t n = ConvertExt2Name(reinterpret_cast<const uint8_t*>(row.bytes.data()), row.bytes.size(), out,
                               sizeof out);
    EXPECT_EQ(row.result, n) << row.what;
    if (n != 0) {
      EXPECT_EQ(row.bytes, std::string(out, n)) << row.what;
    }
  }
}

// A name that is not well-formed UTF-8 is kept as its raw bytes.
TEST_F(HandMadeDirectory, NamesThatAreNotUtf8KeepTheirBytes) {
  std::vector<uint8_t> block = Start();
  PutEntry(block, 24, m_inodes["notes.txt"], 12, "\xC3\x41");
  PutEntry(block, 36, m_inodes["readme.md"], 16,
           "\xC0\xAF"
           "x");
  PutEntry(block, 52, m_inodes["zkeep.txt"], 1024 - 52, "ok\xC3\xA9");
  EXPECT_EQ((std::vector<std::string>{".", "..", "\xC3\x41",
                                      "\xC0\xAF"
                                      "x",
                                      "ok\xC3\xA9"}),
            List(block));
}

}  // namespace
