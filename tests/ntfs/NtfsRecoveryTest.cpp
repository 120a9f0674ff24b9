// NTFS files recovered end to end: the volumes of tests/fixtures/ntfs_records.sh walked record by
// record into a tree of NTFS file properties, every live and deleted file recovered through the
// recovery output, and the result compared with the files as ntfs-3g read them before and after the
// deletions.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "NtfsRecordWalk.h"
#include "NtfsTestVolume.h"
#include "RecoveredFiles.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/OutputName.h"
#include "platform/Log.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;

namespace {

using namespace recovered;

struct Case {
  const char* kind;
  int32_t deviceSectorSize;  // 0: the volume's own
};

class NtfsRecovery : public ::testing::TestWithParam<Case> {};

TEST_P(NtfsRecovery, EveryLiveAndDeletedFileComesBackByteForByte) {
  CORVALE_NTFS_VOLUME(volume, GetParam().kind);
  const int32_t sectorSize = GetParam().deviceSectorSize != 0 ? GetParam().deviceSectorSize
                                                              : int32_t(volume->geometry.bytesPerSector);
  MemoryDevice device(volume->image, sectorSize);

  ntfswalk::WalkResult walk;
  std::string why;
  ASSERT_TRUE(ntfswalk::WalkMftRecords(&device, 0, walk, &why)) << why;
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  EXPECT_EQ(walk.orphans, 0u);
  WalkSubtree(walk.root, [](CFileNode* n) { n->GetFileProperties()->SetCheckState(kChecked); });

  // What ntfs-3g showed: every file with its content, live ones and those deleted afterwards.
  std::multiset<std::pair<std::string, std::string>> expected;
  std::set<std::string> known;
  std::map<std::pair<std::string, std::string>, uint64_t> times;
  size_t compressed = 0, deleted = 0;
  for (const NtfsEntry& e : volume->manifest.entries) {
    const std::string path = OutputPath(e.path);
    known.insert(path);
    if (e.directory) continue;
    const fs::path copy =
        fs::path(volume->folder) / (e.deleted ? "content.deleted" : "content.live") / e.path;
    const std::string content = ReadWhole(copy);
    expected.emplace(path, content);
    if (e.hasTimes) times[{path, content}] = e.modificationTime;
    if (e.attributes & 0x800) ++compressed;
    if (e.deleted) ++deleted;
  }
  ASSERT_GT(compressed, 5u);
  ASSERT_GT(deleted, 5u);

  const std::string target = corvale::test::ScratchDir();
  CFileRecoverer recoverer;
  std::string top;
  corvale::log::ScopedCapture log;
  ASSERT_EQ(recoverer.RecoverFilesInThread(&device, nullptr, walk.root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(fs::path(top).filename(), "NTFS 1");
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  for (const std::string& line : log.Texts()) ADD_FAILURE() << line;

  std::multiset<std::pair<std::string, std::string>> recovered;
  for (const Output& o : ListOutputs(top)) {
    const std::string plain = PlainPath(o.path, known);
    recovered.emplace(plain, o.content);
    auto time = times.find({plain, o.content});
    if (time != times.end()) {
      EXPECT_EQ(o.mtime, time->second) << o.path;
    }
  }
  EXPECT_EQ(recovered.size(), expected.size());
  for (const auto& item : expected) {
    EXPECT_EQ(recovered.count(item), expected.count(item))
        << item.first << " (" << item.second.size() << " bytes) is not among the recovered files";
  }
  // One folder for each of the two folders named "again", one file for each "dup.txt".
  EXPECT_TRUE(fs::is_regular_file(fs::path(top) / "dups/dup.txt"));
  EXPECT_TRUE(fs::is_regular_file(fs::path(top) / "dups/dup_000.txt"));
  EXPECT_TRUE(fs::is_regular_file(fs::path(top) / "dups/again/inner.txt"));
  EXPECT_TRUE(fs::is_regular_file(fs::path(top) / "dups/again_000/inner.txt"));
  // Empty folders come back too.
  EXPECT_TRUE(fs::is_directory(fs::path(top) / "gone/sub"));
  fs::remove_all(target);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsRecovery,
                         ::testing::Values(Case{"files-c4096", 0}, Case{"files-c512", 0},
                                           Case{"files-s4096", 0}, Case{"files-s4096", 512}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name = info.param.kind;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name + (info.param.deviceSectorSize ? "_on_512_byte_sectors" : "");
                         });

}  // namespace
