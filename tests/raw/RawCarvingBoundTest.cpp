// Carving a disk on which a picture's first sector is repeated far more often than pictures are: a
// JPEG header in every sector, and PNG headers sprayed over random data around two whole pictures.
// The scan, the "Raw Files" tree and its recovery write at most twice the disk, the whole pictures
// still come back byte for byte, and the carve benchmark stops with a message, and leaves its
// target's reserve free, when the target is too small.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>

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
#include "raw/RawFilesFolderBuilder.h"
#include "storage/ImageFileDevice.h"
#include "support/Programs.h"

namespace {

using namespace rawtest;

struct Written {
  uint64_t files = 0;
  uint64_t bytes = 0;
  std::multimap<std::string, Bytes> contents;  // by the file's first 512 bytes
};

Written FilesBelow(const std::string& folder) {
  Written w;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    ++w.files;
    w.bytes += e.file_size();
    Bytes b = ReadFile(e.path().string());
    if (b.size() >= 512) w.contents.emplace(std::string(b.begin(), b.begin() + 512), std::move(b));
  }
  return w;
}

// The scan, the tree and the recovery into a scratch folder, as the program runs them.
Written CarveAndRecover(const std::string& image, uint64_t* found) {
  CImageFileDevice disk(image);
  EXPECT_TRUE(disk.IsOpened());
  CRawFileInfoList list;
  CRAWSearchController controller;
  controller.SetResultSink(&list);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  EXPECT_EQ(driver.Search(nullptr), 1);
  *found = list.GetCount();

  CRawFilesFolderBuilder builder;
  CFileSystemNode* root = builder.BuildRawFilesFolder(&disk, list.GetIterator(), nullptr, nullptr, 0);
  if (root == nullptr) {
    ADD_FAILURE() << "no tree";
    return {};
  }
  struct Owner {
    CFileSystemNode* root;
    ~Owner() { FreeFileTree(root); }
  } owner{root};
  root->ToggleCheck(root, false);
  const std::string target = corvale::test::ScratchDir() + "/recovered";
  std::string top;
  CFileRecoverer recoverer;
  EXPECT_EQ(recoverer.RecoverFilesInThread(&disk, nullptr, root, target.c_str(), &top),
            CFileRecoverer::kResultOk);
  EXPECT_EQ(recoverer.GetFailedFileCount(), 0u);
  Written w = FilesBelow(target);
  EXPECT_EQ(w.files, recoverer.GetRecoveredFileCount());
  return w;
}

TEST(RawCarvingBound, JpegHeaderInEverySectorWritesAtMostTwiceTheDisk) {
  CORVALE_FIXTURE(dir, "raw_header_repeated.sh", "raw_header_repeated");
  const std::string image = dir + "/jpeg_everywhere.img";
  const uint64_t size = std::filesystem::file_size(image);
  uint64_t found = 0;
  const Written w = CarveAndRecover(image, &found);
  // Every sector is a header, and every one is found ...
  EXPECT_EQ(found, size / 512);
  // ... but only the first of each run of copies, and a copy inside it, are written.
  EXPECT_GT(w.files, 0u);
  EXPECT_LE(w.bytes, 2 * size);
  EXPECT_LT(w.files, found / 10);
}

TEST(RawCarvingBound, SprayedPngHeadersLeaveTheWholePicturesAndAtMostTwiceTheDisk) {
  CORVALE_FIXTURE(dir, "raw_header_repeated.sh", "raw_header_repeated");
  const std::string image = dir + "/png_sprayed.img";
  const uint64_t size = std::filesystem::file_size(image);
  uint64_t found = 0;
  const Written w = CarveAndRecover(image, &found);
  EXPECT_GE(found, 1002u);
  EXPECT_LE(w.bytes, 2 * size);
  // The sprayed headers are copies of the PNG's first sector: one of the files that begin like a
  // picture is the picture, byte for byte.
  for (const char* name : {"whole.jpg", "whole.png"}) {
    SCOPED_TRACE(name);
    const Bytes picture = ReadFile(dir + "/pictures/" + name);
    const auto [from, to] = w.contents.equal_range(std::string(picture.begin(), picture.begin() + 512));
    EXPECT_TRUE(std::any_of(from, to, [&](const auto& e) { return e.second == picture; }));
  }
}

// The carve benchmark writes through its own path: on a target too small for what it found it
// stops with a message and a failing exit, the target's reserve still free.
TEST(RawCarvingBound, CarveBenchStopsBeforeItFillsTheTarget) {
  CORVALE_REQUIRE_ROOT();
  CORVALE_FIXTURE(dir, "raw_header_repeated.sh", "raw_header_repeated");
  const std::string mountPoint = corvale::test::ScratchDir() + "/small";
  std::filesystem::create_directories(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};

  corvale::test::RunningProgram bench(CORVALE_BENCH_PROGRAM,
                                      {"carve", dir + "/png_sprayed.img", mountPoint + "/out"}, {});
  ASSERT_TRUE(bench.Started());
  ASSERT_TRUE(bench.Wait(600000));
  EXPECT_EQ(bench.ExitCode(), 1);
  EXPECT_NE(bench.Stderr().find("carving stopped: " + mountPoint + "/out has "), std::string::npos)
      << bench.Stderr();

  struct statvfs s {};
  ASSERT_EQ(::statvfs(mountPoint.c_str(), &s), 0);
  const uint64_t total = uint64_t(s.f_blocks) * s.f_frsize;
  EXPECT_GE(uint64_t(s.f_bavail) * s.f_frsize, total / 20);
  // It wrote what fitted before it stopped.
  const Written w = FilesBelow(mountPoint + "/out");
  EXPECT_GT(w.files, 0u);
}

}  // namespace
