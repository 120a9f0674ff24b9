#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "RecoveryHelpers.h"
#include "core/FileRecoverer.h"
#include "core/TargetSpace.h"
#include "core/TempPathName.h"
#include "platform/Log.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace recoverytest;
namespace fs = std::filesystem;

namespace {

constexpr int32_t kNtfs = 3;
constexpr int32_t kExt2 = 4;

// FILETIME of 2020-01-02 03:04:05.1234567 UTC, and its Unix seconds.
constexpr uint64_t kFileTime2020 = 132224078451234567ULL;
constexpr time_t kUnix2020 = 1577934245;

// A tree over a device of pattern bytes, recovered into a scratch folder.
class Recovery : public ::testing::Test {
 protected:
  static constexpr size_t kDeviceBytes = 2 * 1024 * 1024;

  void SetUp() override { Build(512, kNtfs, 64, 2); }

  void Build(int32_t sectorSize, int32_t type, uint64_t first, uint32_t spc) {
    device = std::make_unique<MemoryDevice>(PatternBytes(kDeviceBytes), sectorSize);
    FreeFileTree(tree.root);
    tree.root = treetest::MakePartition("D:", type, first, spc);
    // Positions of Ext2 trees count 512-byte sectors, whatever the device's sectors are.
    unit = type == kExt2 ? 512 : static_cast<uint64_t>(sectorSize);
    firstSector = first;
    clusterBytes = unit * spc;
    target = corvale::test::ScratchDir() + "/target";
  }

  // The bytes a file with these runs holds, `size` bytes of them.
  std::vector<uint8_t> Expected(const std::vector<DataRun>& runs, uint64_t size) const {
    std::vector<uint8_t> bytes;
    for (const DataRun& r : runs) {
      for (uint64_t i = 0; i < r.length * clusterBytes && bytes.size() < size; ++i) {
        bytes.push_back(r.IsSparse() ? 0 : PatternByte(firstSector * unit + r.start * clusterBytes + i));
      }
    }
    return bytes;
  }

  int32_t Recover(IFileRecoverCallback* callback = nullptr, bool checkAll = true) {
    if (checkAll) CheckAll(tree.root);
    return recoverer.RecoverFilesInThread(device.get(), callback, tree.root, target.c_str(), &top);
  }

  std::unique_ptr<MemoryDevice> device;
  TreeOwner tree;
  uint64_t unit = 512;
  uint64_t firstSector = 0;
  uint64_t clusterBytes = 0;
  std::string target;
  std::string top;
  CFileRecoverer recoverer;
};

std::string Text(const std::string& path) {
  const auto bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A volume of `sectors` sectors of which only the first bytes are held (the rest cannot be read):
// room for files larger than the test's bytes, as sparse files of a large volume are.
class LargeVolumeDevice : public MemoryDevice {
 public:
  LargeVolumeDevice(std::vector<uint8_t> bytes, int64_t sectors)
      : MemoryDevice(std::move(bytes)), m_sectors(sectors) {}
  int64_t GetSectorCount() override { return m_sectors; }

 private:
  int64_t m_sectors;
};

// Adds children so that they end up in the list in the order given (AddChild puts each at the head).
template <typename... Makers>
void InOrder(Makers... makers) {
  std::vector<std::function<void()>> list{makers...};
  for (auto it = list.rbegin(); it != list.rend(); ++it) (*it)();
}

TEST_F(Recovery, WritesFoldersAndFilesByteForByte) {
  const std::vector<DataRun> fragmented{{300, 2}, {12, 1}, {500, 3}};
  const std::vector<DataRun> contiguous{{600, 200}};
  CFileNode* docs = AddFolder(tree.root, "Docs");
  CFileNode* sub = AddFolder(docs, "Sub");
  AddFile(docs, "report.txt", 5000, fragmented);
  AddFile(sub, "deep.txt", 700, {{40, 1}});
  AddFile(tree.root, "big.bin", 200 * 1024 - 100, contiguous);
  AddFile(tree.root, "empty", 0, {});
  CheckAll(tree.root);
  AddFile(tree.root, "unticked.txt", 100, {{1, 1}});

  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(nullptr, false), CFileRecoverer::kResultOk);
  EXPECT_EQ(top, target + "/D#");
  EXPECT_EQ(ListFiles(top),
            (std::vector<std::string>{"Docs/Sub/deep.txt", "Docs/report.txt", "big.bin", "empty"}));
  EXPECT_EQ(ReadWholeFile(top + "/Docs/report.txt"), Expected(fragmented, 5000));
  EXPECT_EQ(ReadWholeFile(top + "/Docs/Sub/deep.txt"), Expected({{40, 1}}, 700));
  EXPECT_EQ(ReadWholeFile(top + "/big.bin"), Expected(contiguous, 200 * 1024 - 100));
  EXPECT_TRUE(ReadWholeFile(top + "/empty").empty());
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 4u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  EXPECT_TRUE(log.Texts().empty()) << log.Texts().front();
  // Large files are read in large pieces, not sector by sector.
  EXPECT_LT(device->ReadCount(), 20u);
}

struct Geometry {
  const char* label;
  int32_t sectorSize;
  int32_t type;
  uint32_t sectorsPerCluster;
  uint64_t firstSector;
};

class RecoveryGeometry : public Recovery, public ::testing::WithParamInterface<Geometry> {};

TEST_P(RecoveryGeometry, ReadsClustersWhereThePartitionPutsThem) {
  const Geometry& g = GetParam();
  Build(g.sectorSize, g.type, g.firstSector, g.sectorsPerCluster);
  const std::vector<DataRun> runs{{6, 3}, {1, 4}};
  const uint64_t size = 7 * clusterBytes - 17;
  AddFile(tree.root, "f.bin", size, runs);
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ReadWholeFile(top + "/f.bin"), Expected(runs, size));
}

INSTANTIATE_TEST_SUITE_P(Devices, RecoveryGeometry,
                         ::testing::Values(Geometry{"sectors512", 512, kNtfs, 8, 16},
                                           Geometry{"sectors4096", 4096, kNtfs, 1, 16},
                                           Geometry{"ext2_over_4096", 4096, kExt2, 2, 16},
                                           Geometry{"sectors_larger_than_a_piece", 131072, kNtfs, 1, 1}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(Recovery, DuplicateNamesGetACounterAndExistingEntriesStayUntouched) {
  // The user's folder already holds a folder of the top folder's name, with a file in it.
  fs::create_directories(target + "/D#");
  WriteWholeFile(target + "/D#/keep.txt", "mine");

  InOrder(
      [&] {
        AddFile(tree.root, "a.txt", 10, {{1, 1}});
      },
      [&] {
        AddFile(tree.root, "a.txt", 20, {{2, 1}});
      },
      [&] {
        AddFile(tree.root, "a.txt", 30, {{3, 1}});
      },
      [&] {
        AddFile(tree.root, "a", 40, {{4, 1}});
      },
      [&] {
        AddFile(tree.root, "a", 50, {{5, 1}});
      },
      [&] {
        AddFile(AddFolder(tree.root, "Docs"), "x", 1, {{6, 1}});
      },
      [&] {
        AddFile(AddFolder(tree.root, "Docs"), "y", 1, {{7, 1}});
      },
      [&] {
        AddFile(AddFolder(tree.root, "Docs"), "z", 1, {{8, 1}});
      });
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);

  EXPECT_EQ(top, target + "/D#_000");
  EXPECT_EQ(ListFiles(target + "/D#"), (std::vector<std::string>{"keep.txt"}));
  EXPECT_EQ(Text(target + "/D#/keep.txt"), "mine");
  EXPECT_EQ(ListFiles(top), (std::vector<std::string>{"Docs/x", "Docs_000/y", "Docs_001/z", "a", "a.txt",
                                                      "a_000", "a_000.txt", "a_001.txt"}));
  EXPECT_EQ(ReadWholeFile(top + "/a_001.txt").size(), 30u);
  EXPECT_EQ(ReadWholeFile(top + "/a_000").size(), 50u);
}

// Creates files in the folder being recovered into, as another program might, when the recovery
// announces a given file.
class MeddlingCallback : public RecordingCallback {
 public:
  int32_t SetCurrentFile(const char* name) override {
    if (std::string(name) == trigger) meddle();
    return RecordingCallback::SetCurrentFile(name);
  }
  std::string trigger;
  std::function<void()> meddle;
};

TEST_F(Recovery, FilesThatAppearedMeanwhileAreNeitherReplacedNorFollowed) {
  const std::string outside = corvale::test::ScratchDir() + "/outside.txt";
  WriteWholeFile(outside, "outside");
  MeddlingCallback callback;
  callback.trigger = "first.txt";
  callback.meddle = [&] {
    WriteWholeFile(top + "/a.txt", "user a");
    WriteWholeFile(top + "/a_000.txt", "user a_000");
    fs::create_symlink(outside, top + "/link.txt");
  };
  InOrder(
      [&] {
        AddFile(tree.root, "first.txt", 5, {{1, 1}});
      },
      [&] {
        AddFile(tree.root, "a.txt", 600, {{2, 1}});
      },
      [&] {
        AddFile(tree.root, "link.txt", 700, {{3, 1}});
      });
  // The top folder's name is known before the run: it is "D#" in a fresh target.
  top = target + "/D#";
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);

  EXPECT_EQ(Text(top + "/a.txt"), "user a");
  EXPECT_EQ(Text(top + "/a_000.txt"), "user a_000");
  EXPECT_EQ(ReadWholeFile(top + "/a_001.txt"), Expected({{2, 1}}, 600));
  EXPECT_EQ(Text(outside), "outside");
  EXPECT_TRUE(fs::is_symlink(top + "/link.txt"));
  EXPECT_EQ(ReadWholeFile(top + "/link_000.txt"), Expected({{3, 1}}, 700));
}

TEST_F(Recovery, AFileWhoseThousandCountedNamesAreTakenIsNotWritten) {
  MeddlingCallback callback;
  callback.trigger = "first.txt";
  callback.meddle = [&] {
    WriteWholeFile(top + "/x.txt", "user");
    for (int i = 0; i < 1000; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/x_%03d.txt", i);
      WriteWholeFile(top + name, "user");
    }
  };
  InOrder(
      [&] {
        AddFile(tree.root, "first.txt", 5, {{1, 1}});
      },
      [&] {
        AddFile(tree.root, "x.txt", 600, {{2, 1}});
      });
  top = target + "/D#";
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 1u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_TRUE(log.Has("Failed to recover file: x.txt"));
  EXPECT_EQ(ListFiles(top).size(), 1002u);
  EXPECT_EQ(ReadWholeFile(top + "/x_999.txt").size(), 4u);
}

TEST_F(Recovery, NamesFromTheDiskStayInsideTheTargetFolder) {
  const std::string scratch = fs::path(target).parent_path().string();
  const std::vector<std::string> hostile{"..",           ".",    "",          "a/b",
                                         "../../escape", "/abs", "ctl\x01\n", std::string(300, 'n') + ".txt",
                                         "\xFF\xFE.bin"};
  uint64_t cluster = 1;
  for (const std::string& name : hostile) AddFile(tree.root, name, 10, {{cluster++, 1}});
  CFileNode* dotdot = AddFolder(tree.root, "..");
  AddFile(dotdot, "inner", 10, {{cluster++, 1}});
  AddFile(AddFolder(dotdot, "../.."), "deeper", 10, {{cluster++, 1}});

  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), hostile.size() + 2);
  // Nothing beside the target folder, and every file inside the top folder.
  std::vector<std::string> besides;
  for (const auto& e : fs::directory_iterator(scratch)) besides.push_back(e.path().filename().string());
  EXPECT_EQ(besides, (std::vector<std::string>{"target"}));
  const std::vector<std::string> files = ListFiles(top);
  EXPECT_EQ(files.size(), hostile.size() + 2);
  for (const char* expected : {"##_000", "#", "#_000", "##/inner", "a#b", "..#..#escape", "#abs", "ctl##",
                               "%FF%FE.bin", "##/..#../deeper"}) {
    EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end()) << expected;
  }
  const auto longName =
      std::find_if(files.begin(), files.end(), [](const std::string& f) { return f[0] == 'n'; });
  ASSERT_NE(longName, files.end());
  EXPECT_LE(longName->size(), 247u);
  EXPECT_EQ(longName->substr(longName->size() - 4), ".txt");
}

TEST_F(Recovery, SparseRunsGiveZerosAndTheFullSize) {
  const std::vector<DataRun> runs{{kSparseRunStart, 2}, {50, 1}, {kSparseRunStart, 100}};
  const uint64_t size = 103 * clusterBytes - 5;
  AddFile(tree.root, "sparse.bin", size, runs);
  // An Ext2 file with holes marks them with block 0.
  const std::vector<DataRun> ext2Runs{{0, 1}, {60, 1}, {0, 1}};
  AddFile(tree.root, "holes.bin", 3 * clusterBytes, ext2Runs, kAttributeSparse, kPropertiesExt2);
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);

  EXPECT_EQ(ReadWholeFile(top + "/sparse.bin"), Expected(runs, size));
  std::vector<uint8_t> holes =
      Expected({{kSparseRunStart, 1}, {60, 1}, {kSparseRunStart, 1}}, 3 * clusterBytes);
  EXPECT_EQ(ReadWholeFile(top + "/holes.bin"), holes);
  // Nothing was read for the sparse runs: no read before the partition, none of block 0.
  for (const auto& [sector, count] : device->ReadLog()) EXPECT_GT(sector, firstSector) << count;
}

TEST_F(Recovery, AFailedReadFailsThatFileOnlyAndLeavesNothingOfIt) {
  InOrder(
      [&] {
        AddFile(tree.root, "A.bin", 3000, {{10, 3}});
      },
      [&] {
        AddFile(tree.root, "B.bin", 150000, {{100, 200}});
      },
      [&] {
        AddFile(tree.root, "C.bin", 3000, {{20, 3}});
      });
  device->SetBadSector(firstSector + 180 * 2);  // inside B, after its first piece
  corvale::log::ScopedCapture log;
  RecordingCallback callback;
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);

  EXPECT_EQ(ListFiles(top), (std::vector<std::string>{"A.bin", "C.bin"}));
  EXPECT_EQ(ReadWholeFile(top + "/C.bin"), Expected({{20, 3}}, 3000));
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 2u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_EQ(callback.files, 2);
  EXPECT_TRUE(log.Has("Failed to recover file: B.bin"));
}

TEST_F(Recovery, RunsThatEndBeforeTheSizeFailTheFile) {
  AddFile(tree.root, "short.bin", 10 * clusterBytes, {{10, 4}});
  AddFile(tree.root, "nothing.bin", 100, {});
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_TRUE(ListFiles(top).empty());
  EXPECT_EQ(recoverer.GetFailedFileCount(), 2u);
  EXPECT_TRUE(log.Has("The data runs of file short.bin end after 4096 of its 10240 bytes"));
  EXPECT_TRUE(log.Has("Failed to recover file: short.bin"));
  EXPECT_TRUE(log.Has("Failed to recover file: nothing.bin"));
}

TEST_F(Recovery, CancelStopsPromptlyAndRemovesTheUnfinishedFile) {
  InOrder(
      [&] {
        AddFile(tree.root, "before.bin", 4000, {{10, 4}});
      },
      [&] {
        AddFile(tree.root, "large.bin", 900 * 1024, {{100, 900}});
      },
      [&] {
        AddFile(tree.root, "after.bin", 4000, {{20, 4}});
      });
  RecordingCallback callback;
  callback.cancelAfterBytes = 4000 + 128 * 1024;
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultCancelled);
  EXPECT_EQ(recoverer.GetResultCode(), CFileRecoverer::kResultCancelled);
  EXPECT_EQ(ListFiles(top), (std::vector<std::string>{"before.bin"}));
  EXPECT_LE(callback.bytes, callback.cancelAfterBytes + 64 * 1024);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 1u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
}

TEST_F(Recovery, ProgressCountsEveryByteAndFile) {
  InOrder(
      [&] {
        AddFile(tree.root, "one", 5000, {{10, 5}});
      },
      [&] {
        AddFile(tree.root, "two", 70000, {{100, 70}});
      },
      [&] { AddFile(tree.root, "three", 0, {}); });
  RecordingCallback callback;
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);
  EXPECT_EQ(callback.bytes, 75000u);
  EXPECT_EQ(callback.subtracted, 0u);
  EXPECT_EQ(callback.files, 3);
  EXPECT_EQ(callback.names, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(Recovery, ModificationAndAccessTimesAreSet) {
  auto* dated = new RecoveryProperties("dated.txt", 10, 0x20, {{1, 1}});
  dated->SetTimes(Times{kFileTime2020, kFileTime2020, kFileTime2020 + 10000000ULL * 86400});
  AddNode(tree.root, dated);
  AddFile(tree.root, "undated.txt", 10, {{2, 1}});
  const time_t before = time(nullptr);
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);

  struct stat st {};
  ASSERT_EQ(stat((top + "/dated.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, kUnix2020);
  EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
  EXPECT_EQ(st.st_atim.tv_sec, kUnix2020 + 86400);
  ASSERT_EQ(stat((top + "/undated.txt").c_str(), &st), 0);
  EXPECT_GE(st.st_mtim.tv_sec, before);
}

TEST_F(Recovery, AFullDiskFailsTheFileThatDoesNotFitAndKeepsTheOthers) {
  CORVALE_REQUIRE_ROOT();
  fs::create_directories(target);
  if (mount("tmpfs", target.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount tmpfs";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{target};

  InOrder(
      [&] {
        AddFile(tree.root, "small1.bin", 10000, {{10, 10}});
      },
      [&] {
        AddFile(tree.root, "big.bin", 600 * 1024, {{100, 600}});
      },
      [&] {
        AddFile(tree.root, "small2.bin", 10000, {{30, 10}});
      });
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ListFiles(top), (std::vector<std::string>{"small1.bin", "small2.bin"}));
  EXPECT_EQ(ReadWholeFile(top + "/small1.bin"), Expected({{10, 10}}, 10000));
  EXPECT_EQ(ReadWholeFile(top + "/small2.bin"), Expected({{30, 10}}, 10000));
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 2u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_TRUE(
      log.HasPart("Not enough free space on the target disk for " + top + "/big.bin: 614400 bytes needed"));
  EXPECT_TRUE(log.Has("Failed to recover file: big.bin"));
}

// A target file system that cannot keep holes (FAT) writes zeros in their place: a file's holes
// count against its free space like data, and a file they do not fit is refused before anything of
// it is written. Where holes are kept (tmpfs), the same file takes only its data's space.
struct HoleTarget {
  const char* label;
  // "vfat": a FAT image mounted through a loop device (where the kernel has FAT); "tmpfs"; "tmpfs as
  // FAT": a tmpfs the recovery is told is FAT, for machines whose kernel has no FAT driver.
  const char* type;
  bool fits;
};

long AsFat(int) { return CTargetSpace::kMsdosFileSystemType; }

class RecoveryHoles : public Recovery, public ::testing::WithParamInterface<HoleTarget> {};

TEST_P(RecoveryHoles, HolesCountAsDataWhereTheTargetCannotKeepThem) {
  CORVALE_REQUIRE_ROOT();
  const HoleTarget& t = GetParam();
  fs::create_directories(target);
  const std::string image = target + ".img";
  std::string mount = std::string("mount -t tmpfs -o size=4m tmpfs '") + target + "'";
  if (std::string(t.type) == "vfat") {
    if (!corvale::test::HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat not installed";
    ASSERT_EQ(corvale::test::RunCommand("truncate -s 4M '" + image + "' && mkfs.fat -F 16 -s 1 '" + image +
                                        "' >/dev/null"),
              0);
    mount = "mount -o loop -t vfat '" + image + "' '" + target + "'";
  }
  std::string said;
  if (corvale::test::RunCommand(mount + " 2>&1", &said) != 0)
    GTEST_SKIP() << "cannot mount " << t.type << ": " << said;
  struct Unmount {
    std::string path;
    ~Unmount() {
      umount2(path.c_str(), MNT_DETACH);
      CTargetSpace::SetFileSystemTypeProbe(nullptr);
    }
  } unmount{target};
  if (std::string(t.type) == "tmpfs as FAT") CTargetSpace::SetFileSystemTypeProbe(&AsFat);

  // 8 MiB of which 2 KiB are data, on a volume large enough for it; and a small file.
  device = std::make_unique<LargeVolumeDevice>(PatternBytes(kDeviceBytes), (64 << 20) / 512);
  InOrder(
      [&] {
        AddFile(tree.root, "holes.bin", 8 << 20, {{20, 2}, {kSparseRunStart, 8190}});
      },
      [&] {
        AddFile(tree.root, "small.bin", 3000, {{40, 3}});
      });
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ReadWholeFile(top + "/small.bin"), Expected({{40, 3}}, 3000));
  if (t.fits) {
    EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
    EXPECT_EQ(fs::file_size(top + "/holes.bin"), 8u << 20);
  } else {
    EXPECT_EQ(ListFiles(top), std::vector<std::string>{"small.bin"});
    EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
    EXPECT_TRUE(log.HasPart("Not enough free space on the target disk for " + top +
                            "/holes.bin: 8388608 bytes needed"));
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, RecoveryHoles,
                         ::testing::Values(HoleTarget{"fat_writes_zeros", "vfat", false},
                                           HoleTarget{"a_target_said_to_be_fat", "tmpfs as FAT", false},
                                           HoleTarget{"tmpfs_keeps_holes", "tmpfs", true}),
                         [](const auto& info) { return std::string(info.param.label); });

// A file the engine found with nothing of its data left (a deleted inode whose size and blocks the
// file system cleared) is counted as failed, with the reason in the log, and no file stands for it,
// not even an empty one; in a tree and on its own.
TEST_F(Recovery, AFileWithNothingLeftIsNeitherWrittenNorCountedAsRecovered) {
  auto* gone = new RecoveryProperties("gone.bin", 0, 0x20, {});
  gone->unrecoverable = kStringNoDataLeft;
  AddNode(tree.root, gone);
  AddFile(tree.root, "fine.bin", 3000, {{10, 3}});
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ListFiles(top), std::vector<std::string>{"fine.bin"});
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 1u);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_TRUE(
      log.Has("Nothing of file gone.bin can be recovered: Nothing of this file is left to recover: the "
              "file system cleared its size and data blocks when it was deleted."));
  EXPECT_TRUE(log.Has("Failed to recover file: gone.bin"));

  const std::string single = target + "/single.bin";
  CFileNode* node = tree.root->GetFirstChild();
  while (node != nullptr && std::string(node->GetFileProperties()->GetName()) != "gone.bin")
    node = node->GetNextSibling();
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(recoverer.RecoverFileInThread(device.get(), nullptr, node, single.c_str(), false), 0);
  EXPECT_FALSE(fs::exists(single));
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
}

// A volume never puts a file of its choosing into the target folder itself: files deeper than the
// folder limit go into the volume's own folder.
TEST_F(Recovery, FoldersTooDeepForAPathPutTheirFilesIntoTheVolumesFolder) {
  CFileNode* node = tree.root;
  for (int i = 0; i < 1500; ++i) node = AddFolder(node, "level");
  AddFile(node, "bottom.txt", 10, {{1, 1}});
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ReadWholeFile(top + "/bottom.txt"), Expected({{1, 1}}, 10));
  EXPECT_FALSE(fs::exists(target + "/bottom.txt"));
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 1u);
}

TEST_F(Recovery, AnUncheckedRootWritesNothing) {
  AddFile(tree.root, "f", 10, {{1, 1}});
  ASSERT_EQ(Recover(nullptr, false), CFileRecoverer::kResultOk);
  EXPECT_TRUE(fs::is_empty(target));
}

TEST_F(Recovery, DataFromTheFilesEngine) {
  auto* resident = new SourceProperties("resident.txt", 5, 0x20, {});
  resident->MakeResident(40, 0x98);
  resident->resident = {'h', 'e', 'l', 'l', 'o'};
  AddNode(tree.root, resident);
  // The same without an engine that can read the record: it cannot be recovered.
  auto* orphan = new RecoveryProperties("orphan.txt", 5, 0x20, {});
  orphan->MakeResident(40, 0x98);
  AddNode(tree.root, orphan);
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ReadWholeFile(top + "/resident.txt"), (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'}));
  EXPECT_FALSE(fs::exists(top + "/orphan.txt"));
  EXPECT_TRUE(log.Has("Failed to recover file: orphan.txt"));
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<uint8_t> Utf16Tag(const char* ascii) {
  std::vector<uint8_t> out;
  for (; *ascii != 0; ++ascii) {
    out.push_back(static_cast<uint8_t>(*ascii));
    out.push_back(0);
  }
  return out;
}

TEST_F(Recovery, AnEncryptedFileIsWrittenAsItsRawBackupStream) {
  const std::vector<DataRun> runs{{100, 70}};
  const uint64_t size = 70000;  // 70144 in whole sectors
  auto* encrypted = new SourceProperties("secret.doc", size, 0x20 | kAttributeEncrypted, runs);
  encrypted->hasEfs = true;
  for (int i = 0; i < 100; ++i) encrypted->efs.push_back(static_cast<uint8_t>(0xA0 + i));
  AddNode(tree.root, encrypted);
  RecordingCallback callback;
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);

  const std::vector<uint8_t> out = ReadWholeFile(top + "/secret.doc");
  const std::vector<uint8_t> data = Expected(runs, 70144);
  ASSERT_EQ(out.size(), 66u + 100 + 42 + 512 + 65536 + 512 + 4608);
  // File header.
  EXPECT_EQ(U32At(out, 0), 0x100u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4, out.begin() + 12), Utf16Tag("ROBS"));
  EXPECT_EQ(U32At(out, 20), 0x1Eu);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 24, out.begin() + 32), Utf16Tag("NTFS"));
  EXPECT_EQ(U32At(out, 44), 2u);
  EXPECT_EQ(out[48] | out[49] << 8, 0x1910);
  EXPECT_EQ(U32At(out, 50), 116u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 54, out.begin() + 62), Utf16Tag("GURE"));
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 66, out.begin() + 166), encrypted->efs);
  // Data-stream header.
  size_t at = 166;
  EXPECT_EQ(U32At(out, at), 0x2Au);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + at + 4, out.begin() + at + 12), Utf16Tag("NTFS"));
  EXPECT_EQ(U32At(out, at + 24), 14u);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + at + 28, out.begin() + at + 42), Utf16Tag("::$DATA"));
  // Two blocks, each behind its header.
  at += 42;
  const struct {
    uint32_t bytes;
    uint32_t fileBytes;
  } blocks[] = {{65536, 65536}, {4608, 70000 - 65536}};
  size_t dataAt = 0;
  for (int b = 0; b < 2; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(U32At(out, at), blocks[b].bytes + 512);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + at + 4, out.begin() + at + 12), Utf16Tag("GURE"));
    EXPECT_EQ(out[at + 18] | out[at + 19] << 8, b);
    EXPECT_EQ(U32At(out, at + 24), 496u);
    EXPECT_EQ(U32At(out, at + 28), blocks[b].fileBytes);
    EXPECT_EQ(U32At(out, at + 32), blocks[b].fileBytes);
    EXPECT_EQ(U32At(out, at + 36), 0x10100000u);
    EXPECT_EQ(U32At(out, at + 40), 0x1010Bu);
    EXPECT_EQ(U32At(out, at + 44), blocks[b].bytes);
    EXPECT_TRUE(
        std::equal(out.begin() + at + 512, out.begin() + at + 512 + blocks[b].bytes, data.begin() + dataAt));
    at += 512 + blocks[b].bytes;
    dataAt += blocks[b].bytes;
  }
  EXPECT_EQ(callback.bytes - callback.subtracted, size);
}

TEST_F(Recovery, CompressedUnitsAreStoredExpandedOrZeros) {
  // Units of 16 clusters of 1024 bytes: stored, compressed (5 clusters and a sparse tail), compressed
  // but kept as is (its first chunk header is 0), and sparse.
  const std::vector<DataRun> runs{
      {100, 16}, {200, 5}, {kSparseRunStart, 11}, {300, 4}, {kSparseRunStart, 12}, {kSparseRunStart, 8}};
  const uint64_t size = 56 * 1024 - 10;
  uint8_t* asIs = device->Bytes().data() + (firstSector * 512 + 300 * 1024);
  asIs[0] = 0;
  asIs[1] = 0;
  auto* compressed = new SourceProperties("packed.bin", size, 0x20 | kAttributeCompressed, runs);
  compressed->decompress = [](const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    for (size_t i = 0; i < outSize; ++i) out[i] = in[i % inSize] ^ 0xFF;
    return true;
  };
  AddNode(tree.root, compressed);
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);

  std::vector<uint8_t> expected = Expected({{100, 16}}, 16 * 1024);
  const std::vector<uint8_t> stored = Expected({{200, 5}}, 5 * 1024);
  for (size_t i = 0; i < 16 * 1024; ++i) expected.push_back(stored[i % stored.size()] ^ 0xFF);
  std::vector<uint8_t> kept = Expected({{300, 4}, {kSparseRunStart, 12}}, 16 * 1024);
  kept[0] = 0;
  kept[1] = 0;
  expected.insert(expected.end(), kept.begin(), kept.end());
  expected.resize(size, 0);
  const std::vector<uint8_t> out = ReadWholeFile(top + "/packed.bin");
  ASSERT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
  EXPECT_EQ(compressed->unitInputSizes, (std::vector<size_t>{5 * 1024}));
}

TEST_F(Recovery, AHugeSparseStretchOfACompressedFileCostsNoTimePerUnit) {
  // A damaged run list can claim terabytes of unallocated clusters: the zeros of those units are
  // one hole, not 2^29 units handled one by one.
  const uint64_t sparseClusters = uint64_t{1} << 33;
  const std::vector<DataRun> runs{
      {100, 2}, {kSparseRunStart, 14}, {kSparseRunStart, sparseClusters}, {200, 1}};
  const uint64_t size = (16 + sparseClusters) * clusterBytes + 100;
  auto* file = new SourceProperties("holes.bin", size, 0x20 | kAttributeCompressed, runs);
  AddNode(tree.root, file);
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  ASSERT_EQ(recoverer.GetRecoveredFileCount(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((top + "/holes.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), size);
  // The first unit was expanded from its two stored clusters; the last, stored unit is read as is.
  EXPECT_EQ(file->unitInputSizes, (std::vector<size_t>{2 * clusterBytes}));
  std::ifstream in(top + "/holes.bin", std::ios::binary);
  in.seekg(static_cast<std::streamoff>(size - 100));
  std::vector<uint8_t> tail(100);
  in.read(reinterpret_cast<char*>(tail.data()), 100);
  EXPECT_EQ(tail, Expected({{200, 1}}, 100));
}

TEST_F(Recovery, CompressedFilesNeedSmallClustersAndTheirEngine) {
  AddNode(tree.root, new RecoveryProperties("no_engine.bin", 2048, 0x20 | kAttributeCompressed,
                                            {{10, 1}, {kSparseRunStart, 15}}));
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_TRUE(log.Has("Failed to recover file: no_engine.bin"));

  // 8 KiB clusters cannot hold compressed data.
  Build(512, kNtfs, 64, 16);
  AddNode(tree.root, new SourceProperties("big_clusters.bin", 2048, 0x20 | kAttributeCompressed, {{10, 1}}));
  const uint64_t readsBefore = device->ReadCount();
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_EQ(device->ReadCount(), readsBefore);
  EXPECT_TRUE(ListFiles(top).empty());
}

class SingleFile : public Recovery, public ::testing::WithParamInterface<bool> {};

TEST_P(SingleFile, RecoversIntoANewPathAndNeverOverAnExistingOne) {
  CFileNode* file = AddFile(tree.root, "one.bin", 3000, {{10, 3}});
  fs::create_directories(target);
  const std::string path = target + "/one.bin";
  EXPECT_EQ(recoverer.RecoverFileInThread(device.get(), nullptr, file, path.c_str(), GetParam()), 1);
  EXPECT_EQ(recoverer.GetResultCode(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ReadWholeFile(path), Expected({{10, 3}}, 3000));

  const std::string taken = target + "/taken.bin";
  WriteWholeFile(taken, "user");
  corvale::log::ScopedCapture log;
  EXPECT_EQ(recoverer.RecoverFileInThread(device.get(), nullptr, file, taken.c_str(), GetParam()), 0);
  EXPECT_EQ(recoverer.GetResultCode(), CFileRecoverer::kResultFailed);
  EXPECT_EQ(ReadWholeFile(taken).size(), 4u);
  EXPECT_TRUE(log.Has("Failed to recover file :" + taken));
}

INSTANTIATE_TEST_SUITE_P(Threads, SingleFile, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "on_worker" : "inline"; });

TEST_F(Recovery, OneFileRecoveriesOfTheSameNodeWaitForEachOther) {
  CFileNode* file = AddFile(tree.root, "one.bin", 3000, {{10, 3}});
  fs::create_directories(target);
  std::vector<std::thread> threads;
  std::atomic<int> recovered{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      CFileRecoverer own;
      const std::string path = target + "/copy" + std::to_string(i);
      recovered += own.RecoverFileInThread(device.get(), nullptr, file, path.c_str(), false);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(recovered, 4);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(ReadWholeFile(target + "/copy" + std::to_string(i)), Expected({{10, 3}}, 3000));
}

struct SourceQueryReset {
  ~SourceQueryReset() { CFileRecoverer::SetSourceDeviceQuery({}); }
};

TEST(SourceDrive, ComparesTheTargetsDeviceNumberWithTheSources) {
  SourceQueryReset reset;
  const std::string folder = corvale::test::ScratchDir();
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  const uint64_t here = st.st_dev;

  EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive(folder.c_str()));  // no question installed
  CFileRecoverer::SetSourceDeviceQuery([&] { return std::vector<uint64_t>{here + 1, here}; });
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive(folder.c_str()));
  EXPECT_TRUE(CFileRecoverer::IsPathOnSourceDrive((folder + "/not/made/yet").c_str()));
  struct stat proc {};
  if (stat("/proc/self", &proc) == 0 && proc.st_dev != here) {
    EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive("/proc/self"));
  }
  EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive(""));

  CFileRecoverer::SetSourceDeviceQuery([&] { return std::vector<uint64_t>{here + 1}; });
  EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive(folder.c_str()));
  CFileRecoverer::SetSourceDeviceQuery([]() -> std::vector<uint64_t> { throw std::runtime_error("gone"); });
  EXPECT_FALSE(CFileRecoverer::IsPathOnSourceDrive(folder.c_str()));
}

// ---------------------------------------------------------------------------------------------
// Bounds: a file whose runs cannot hold it, or lie past the device, is refused before anything of
// it is written or read.

struct BoundsCase {
  const char* label;
  uint64_t size;
  std::vector<DataRun> runs;
  const char* reason;
};

class RecoveryBounds : public Recovery, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(RecoveryBounds, AClaimPastWhatTheRunsHoldFailsTheFileWithItsReason) {
  const BoundsCase& c = GetParam();
  AddFile(tree.root, "claim.bin", c.size, c.runs);
  AddFile(tree.root, "fine.bin", 3000, {{10, 3}});
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(ListFiles(top), std::vector<std::string>{"fine.bin"});
  EXPECT_EQ(recoverer.GetFailedFileCount(), 1u);
  EXPECT_TRUE(log.HasPart(c.reason)) << c.reason;
  EXPECT_TRUE(log.Has("Failed to recover file: claim.bin"));
  // Refused before reading: only fine.bin's clusters were read.
  for (const auto& [sector, count] : device->ReadLog()) EXPECT_EQ(sector, firstSector + 20) << count;
}

INSTANTIATE_TEST_SUITE_P(
    Claims, RecoveryBounds,
    ::testing::Values(
        // The device holds 2048 clusters of 1024 bytes after the partition's 64 sectors.
        BoundsCase{"run_past_the_device_end", 200 * 1024, {{1950, 200}}, "lies past the end of the device"},
        BoundsCase{
            "run_start_that_overflows", 1024, {{UINT64_MAX / 4, 1}}, "lies past the end of the device"},
        BoundsCase{"sparse_then_past_the_end",
                   5 * 1024,
                   {{kSparseRunStart, 4}, {4000, 1}},
                   "lies past the end of the device"},
        BoundsCase{"size_beyond_the_runs",
                   1ull << 40,
                   {{10, 4}, {kSparseRunStart, 100}},
                   "end after 106496 of its 1099511627776 bytes"},
        // Nothing of it on a volume of 2 MiB, and 4 GiB of holes: a size read from the wrong place.
        BoundsCase{"all_holes_past_the_volume",
                   4ull << 30,
                   {{kSparseRunStart, 4ull << 20}},
                   "claims 4294967296 bytes, more than its volume can hold (2064384 bytes), and none of them "
                   "are stored there"}),
    [](const auto& info) { return std::string(info.param.label); });

// A damaged size (or a sparse run that claims far more than the file ever held) costs no space:
// the zeros become holes, in plain files and in the raw stream of encrypted ones, and the log says
// so. What reads back is the same as if every zero had been written.
TEST_F(Recovery, ZerosOfHugeSparseClaimsAreHolesAndTheLogSaysSo) {
  // A volume large enough for the files' sizes: an all-hole file larger than its volume is refused.
  device = std::make_unique<LargeVolumeDevice>(PatternBytes(kDeviceBytes), (32ll << 30) / 512);
  constexpr uint64_t kHuge = 16ull << 30;
  AddFile(tree.root, "huge.bin", kHuge, {{20, 2}, {kSparseRunStart, kHuge / 1024}});
  constexpr uint64_t kEncrypted = 96ull << 20;
  auto* encrypted = new SourceProperties("big.efs", kEncrypted, 0x20 | kAttributeEncrypted,
                                         {{kSparseRunStart, kEncrypted / 1024}});
  encrypted->hasEfs = true;
  encrypted->efs.assign(16, 0xEF);
  AddNode(tree.root, encrypted);
  corvale::log::ScopedCapture log;
  ASSERT_EQ(Recover(), CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetRecoveredFileCount(), 2u);
  EXPECT_TRUE(
      log.Has("File huge.bin holds 2048 bytes of data for its 17179869184 bytes; the rest is zeros, "
              "written as holes"));
  EXPECT_TRUE(
      log.Has("File big.efs holds 0 bytes of data for its 100663296 bytes; the rest is zeros, "
              "written as holes"));

  struct stat st {};
  ASSERT_EQ(stat((top + "/huge.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kHuge);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1u << 20);
  {
    std::ifstream in(top + "/huge.bin", std::ios::binary);
    std::vector<char> head(4096);
    in.read(head.data(), 4096);
    const std::vector<uint8_t> expected = Expected({{20, 2}, {kSparseRunStart, 2}}, 4096);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reinterpret_cast<const uint8_t*>(head.data())));
    in.seekg(static_cast<std::streamoff>(kHuge - 4096));
    in.read(head.data(), 4096);
    EXPECT_EQ(in.gcount(), 4096);
    EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](char c) { return c == 0; }));
  }

  // The raw stream: every block header in its place, every block's data zeros, the data unwritten.
  std::vector<uint8_t> out(static_cast<size_t>(fs::file_size(top + "/big.efs")));
  std::ifstream(top + "/big.efs", std::ios::binary).read(reinterpret_cast<char*>(out.data()), out.size());
  constexpr size_t kBlocks = kEncrypted / 65536;
  ASSERT_EQ(out.size(), 66u + 16 + 42 + kBlocks * (512 + 65536));
  ASSERT_EQ(stat((top + "/big.efs").c_str(), &st), 0);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, out.size() / 8);
  size_t at = 66 + 16 + 42;
  for (size_t b = 0; b < kBlocks; ++b) {
    ASSERT_EQ(U32At(out, at), 65536u + 512) << b;
    ASSERT_EQ(out[at + 18] | out[at + 19] << 8, static_cast<int>(b & 0xFFFF));
    ASSERT_EQ(U32At(out, at + 44), 65536u);
    ASSERT_TRUE(std::all_of(out.begin() + at + 512, out.begin() + at + 512 + 65536, [](uint8_t c) {
      return c == 0;
    })) << b;
    at += 512 + 65536;
  }
}

// ---------------------------------------------------------------------------------------------
// Recovering as root into a folder that a user owns.

constexpr uid_t kNobody = 65534;

// Runs `work` in a child process as user nobody; true when it succeeded there.
bool AsNobody(const std::function<bool()>& work) {
  const pid_t pid = fork();
  if (pid == 0) {
    const gid_t gid = kNobody;
    if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(kNobody) != 0) _exit(126);
    _exit(work() ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class RecoveryAsRoot : public Recovery {
 protected:
  void SetUp() override {
    CORVALE_REQUIRE_ROOT();
    Recovery::SetUp();
    // A place every user can reach, as a home folder is, wherever the build folder lies.
    char pattern[] = "/tmp/corvale-owner-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base = pattern;
    ASSERT_EQ(chmod(base.c_str(), 0755), 0);
    target = base + "/target";
    outside = base + "/outside";
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    savedUmask = umask(022);
  }
  void TearDown() override {
    if (base.empty()) return;
    umask(savedUmask);
    std::error_code ec;
    fs::remove_all(base, ec);
  }

  void MakeTarget(mode_t mode) {
    ASSERT_EQ(mkdir(target.c_str(), mode), 0);
    ASSERT_EQ(chmod(target.c_str(), mode), 0);
    ASSERT_EQ(chown(target.c_str(), kNobody, kNobody), 0);
  }

  std::string base;
  std::string outside;
  mode_t savedUmask = 022;
};

// The owner of the target folder swaps folders of the recovery for links to a folder of root's
// (think /etc/cron.d), before the run and while it runs: nothing is written there, and what would
// have gone through a link goes into the folder itself or under a new name.
TEST_F(RecoveryAsRoot, FoldersSwappedForLinksNeverLeadOutsideTheTarget) {
  MakeTarget(0755);
  ASSERT_TRUE(AsNobody([&] { return symlink(outside.c_str(), (target + "/D#").c_str()) == 0; }));
  CFileNode* sub = nullptr;
  InOrder([&] { sub = AddFolder(tree.root, "Sub"); },
          [&] {
            AddFile(AddFolder(tree.root, "Later"), "d.txt", 40, {{4, 1}});
          },
          [&] {
            AddFile(tree.root, "e.txt", 50, {{5, 1}});
          });
  InOrder(
      [&] {
        AddFile(sub, "a.txt", 10, {{1, 1}});
      },
      [&] {
        AddFile(sub, "b.txt", 20, {{2, 1}});
      },
      [&] {
        AddFile(AddFolder(sub, "Deeper"), "c.txt", 30, {{3, 1}});
      });
  MeddlingCallback callback;
  callback.trigger = "a.txt";
  bool swapped = false;
  const std::string top0 = target + "/D#_000";
  callback.meddle = [&] {
    swapped = AsNobody([&] {
      return rename((top0 + "/Sub").c_str(), (top0 + "/Sub.old").c_str()) == 0 &&
             symlink(outside.c_str(), (top0 + "/Sub").c_str()) == 0 &&
             symlink(outside.c_str(), (top0 + "/Later").c_str()) == 0 &&
             symlink((outside + "/e.txt").c_str(), (top0 + "/e.txt").c_str()) == 0;
    });
  };
  ASSERT_EQ(Recover(&callback), CFileRecoverer::kResultOk);
  ASSERT_TRUE(swapped) << "the attacker could not meddle";

  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(top, top0);
  EXPECT_EQ(ListFiles(top), (std::vector<std::string>{"Later_000/d.txt", "Sub.old/Deeper/c.txt",
                                                      "Sub.old/a.txt", "Sub.old/b.txt", "e_000.txt"}));
  EXPECT_EQ(ReadWholeFile(top + "/Sub.old/b.txt"), Expected({{2, 1}}, 20));
  EXPECT_EQ(ReadWholeFile(top + "/Sub.old/Deeper/c.txt"), Expected({{3, 1}}, 30));
  EXPECT_EQ(ReadWholeFile(top + "/Later_000/d.txt"), Expected({{4, 1}}, 40));
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
}

// The owner of H plants "H/out -> V" (V a folder of root's, think /etc/cron.d) and a volume holds
// a file 131 folders deep named evilcron; root is asked to recover into H/out. The target is
// refused, with the link named in the log, and nothing is written anywhere. A link of root's, or of
// the user who asked for the run, is the user's own way to a folder, and is followed.
TEST_F(RecoveryAsRoot, ATargetReachedThroughAnotherUsersLinkIsRefused) {
  MakeTarget(0755);
  ASSERT_TRUE(AsNobody([&] { return symlink(outside.c_str(), (target + "/out").c_str()) == 0; }));
  CFileNode* node = tree.root;
  for (int i = 0; i < 131; ++i) node = AddFolder(node, "d");
  AddFile(node, "evilcron", 30, {{3, 1}});
  AddFile(tree.root, "a.txt", 10, {{1, 1}});
  CheckAll(tree.root);
  const std::string linked = target + "/out";
  const struct {
    const char* what;
    const char* sudoUid;
    bool followed;
  } cases[] = {{"started by root itself", nullptr, false},
               {"for another user", "1", false},
               {"for the link's owner", "65534", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    corvale::test::ScopedEnv env({{"PKEXEC_UID", nullptr}, {"SUDO_UID", c.sudoUid}, {"SUDO_GID", nullptr}});
    corvale::log::ScopedCapture log;
    CFileRecoverer own;
    std::string into;
    const int32_t result = own.RecoverFilesInThread(device.get(), nullptr, tree.root, linked.c_str(), &into);
    if (!c.followed) {
      EXPECT_EQ(result, CFileRecoverer::kResultFailed);
      EXPECT_TRUE(fs::is_empty(outside));
      EXPECT_TRUE(log.HasPart(linked + " is a link of user 65534, which is not followed"));
      // One file into a path through the link is refused the same way.
      EXPECT_EQ(own.RecoverFileInThread(device.get(), nullptr, node->GetFirstChild(),
                                        (linked + "/evilcron").c_str(), false),
                0);
      EXPECT_TRUE(fs::is_empty(outside));
    } else {
      EXPECT_EQ(result, CFileRecoverer::kResultOk);
      EXPECT_EQ(into, linked + "/D#");
      EXPECT_EQ(ListFiles(outside), (std::vector<std::string>{"D#/a.txt", "D#/evilcron"}))
          << "the deep file stays in the volume's folder";
      fs::remove_all(outside + "/D#");
    }
  }
  EXPECT_FALSE(fs::exists(outside + "/evilcron"));
}

struct OwnerCase {
  const char* label;
  mode_t targetMode;  // 0: the target folder is made by the recovery
  const char* sudoUid;
  mode_t fileMode;
  mode_t folderMode;
  bool rootsTarget = false;  // the target folder is root's, not the user's
};

class RecoveryOwner : public RecoveryAsRoot, public ::testing::WithParamInterface<OwnerCase> {};

TEST_P(RecoveryOwner, RecoveredFilesBelongToTheUserWhoAskedWithPrivateModes) {
  const OwnerCase& c = GetParam();
  const char* oldSudo = getenv("SUDO_UID");
  const char* oldSudoGid = getenv("SUDO_GID");
  const std::string savedSudo = oldSudo ? oldSudo : "", savedSudoGid = oldSudoGid ? oldSudoGid : "";
  if (c.targetMode != 0) {
    MakeTarget(c.targetMode);
    if (c.rootsTarget) {
      ASSERT_EQ(chown(target.c_str(), 0, 0), 0);
    }
    ASSERT_EQ(chmod(target.c_str(), c.targetMode), 0);
  } else {
    target = base + "/made/here";
  }
  if (c.sudoUid != nullptr) {
    setenv("SUDO_UID", c.sudoUid, 1);
    setenv("SUDO_GID", c.sudoUid, 1);
  } else {
    unsetenv("SUDO_UID");
    unsetenv("SUDO_GID");
  }
  AddFile(AddFolder(tree.root, "Docs"), "inner.txt", 20, {{2, 1}});
  AddFile(tree.root, "a.txt", 10, {{1, 1}});
  const int32_t result = Recover();
  if (oldSudo)
    setenv("SUDO_UID", savedSudo.c_str(), 1);
  else
    unsetenv("SUDO_UID");
  if (oldSudoGid)
    setenv("SUDO_GID", savedSudoGid.c_str(), 1);
  else
    unsetenv("SUDO_GID");
  ASSERT_EQ(result, CFileRecoverer::kResultOk);

  std::vector<std::pair<std::string, mode_t>> made{{top, c.folderMode},
                                                   {top + "/Docs", c.folderMode},
                                                   {top + "/Docs/inner.txt", c.fileMode},
                                                   {top + "/a.txt", c.fileMode}};
  if (c.targetMode == 0) {
    made.emplace_back(base + "/made", c.folderMode);
    made.emplace_back(target, c.folderMode);
  }
  for (const auto& [path, mode] : made) {
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(st.st_uid, kNobody) << path;
    EXPECT_EQ(st.st_gid, kNobody) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
  // The user can read and remove what was recovered for them.
  EXPECT_TRUE(AsNobody([&] {
    return access((top + "/Docs/inner.txt").c_str(), R_OK | W_OK) == 0 &&
           unlink((top + "/Docs/inner.txt").c_str()) == 0 && rmdir((top + "/Docs").c_str()) == 0;
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RecoveryOwner,
    ::testing::Values(OwnerCase{"private_target", 0700, nullptr, 0600, 0700},
                      // Only a folder shared with its group passes its group bits on.
                      OwnerCase{"readable_target_gives_no_group_bits", 0755, nullptr, 0600, 0700},
                      OwnerCase{"group_readable_target_gives_no_group_bits", 0750, nullptr, 0600, 0700},
                      OwnerCase{"group_shared_target", 0770, nullptr, 0660, 0770},
                      OwnerCase{"group_writable_readable_target", 0775, nullptr, 0660, 0770},
                      OwnerCase{"setgid_target", 02750, nullptr, 0640, 02750},
                      OwnerCase{"world_writable_target_is_not_shared", 01777, nullptr, 0600, 0700},
                      OwnerCase{"target_made_for_the_sudo_user", 0, "65534", 0600, 0700},
                      OwnerCase{"roots_target_gives_to_the_sudo_user", 0755, "65534", 0600, 0700, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TempPathName, GivesAFreeNameInAPrivateFolderAndRemovesBoth) {
  const std::string folder = corvale::test::ScratchDir();
  const char* old = getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("TMPDIR", (folder + "/").c_str(), 1);
  CTempPathNameSignle& provider = CTempPathNameSignle::GetInstance();
  const std::string name = provider.GetTempFileName();
  if (old != nullptr) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  ASSERT_FALSE(name.empty());
  const fs::path privateFolder = fs::path(name).parent_path();
  EXPECT_EQ(privateFolder.parent_path(), fs::path(folder));
  struct stat st {};
  ASSERT_EQ(lstat(privateFolder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u) << "nobody else may look at a preview copy";
  EXPECT_EQ(fs::path(name).filename().string().substr(0, 3), "~@!");
  EXPECT_EQ(fs::path(name).extension(), ".tmp");
  EXPECT_FALSE(fs::exists(name));
  const std::string stem = name.substr(0, name.size() - 4);
  for (const char* ext : {".tmp", ".doc", ".xls"}) WriteWholeFile(stem + ext, "x");
  provider.DeleteTempFiles();
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
