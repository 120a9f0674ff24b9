#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestUtil.h"
#include "storage/ImageFileDevice.h"
#include "storage/VolumeDevice.h"
#include "support/FaultyRawIo.h"
#include "support/Fixtures.h"

using corvale::test::FaultyRawIo;
using corvale::test::FaultySource;
using corvale::test::ScopedRawIo;

namespace {

std::string WriteImage(const std::string& dir, size_t size, const std::string& name = "image.bin") {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 9));
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace

// ---- Image files ----

TEST(ImageFileDevice, ReadsWhole512ByteSectorsOnly) {
  const std::string path = WriteImage(corvale::test::ScratchDir(), 10 * 512 + 100);
  auto bytes = devtest::ReadFileBytes(path);
  CImageFileDevice image(path);
  ASSERT_TRUE(image.IsOpened());
  EXPECT_EQ(image.GetSectorSize(), 512);
  EXPECT_EQ(image.GetSectorCount(), 10);
  EXPECT_EQ(devtest::AccessModesOfDescriptorsOn(path), std::vector<int>{O_RDONLY});

  std::vector<uint8_t> buffer(10 * 512);
  ASSERT_TRUE(image.ReadSectors(buffer.data(), 0, 10));
  EXPECT_EQ(0, std::memcmp(buffer.data(), bytes.data(), buffer.size()));

  // Sectors 9 and 10: the image holds 512 + 100 of the 1024 bytes asked for.
  std::vector<uint8_t> tail(2 * 512, 0xAA);
  EXPECT_FALSE(image.ReadSectors(tail.data(), 9, 2));
  EXPECT_EQ(0, std::memcmp(tail.data(), bytes.data() + 9 * 512, 612));
  EXPECT_EQ(std::vector<uint8_t>(tail.begin() + 612, tail.end()), std::vector<uint8_t>(412, 0));
  EXPECT_FALSE(image.ReadSectors(tail.data(), 100, 1));
  EXPECT_FALSE(image.ReadSectors(tail.data(), UINT64_MAX / 256, 1));
  EXPECT_TRUE(image.ReadSectors(tail.data(), 3, 0));
}

TEST(ImageFileDevice, WithoutAPathOrFileNothingIsRead) {
  for (const char* path : {static_cast<const char*>(nullptr), "", "/nonexistent/corvale.img"}) {
    CImageFileDevice image(path);
    EXPECT_FALSE(image.IsOpened());
    EXPECT_FALSE(image.Open());
    EXPECT_EQ(image.GetSectorCount(), 0);
    uint8_t sector[512];
    EXPECT_FALSE(image.ReadSectors(sector, 0, 1));
  }
}

// A path longer than the old 259-character limit is kept whole and opened.
TEST(ImageFileDevice, LongPathIsKeptWhole) {
  std::string dir = corvale::test::ScratchDir();
  for (int i = 0; i < 6; ++i) dir += "/" + std::string(50, static_cast<char>('a' + i));
  std::filesystem::create_directories(dir);
  const std::string path = WriteImage(dir, 4 * 512);
  ASSERT_GT(path.size(), 300u);
  CImageFileDevice image(path.c_str());
  EXPECT_EQ(image.GetPath(), path);
  EXPECT_TRUE(image.IsOpened());
  EXPECT_EQ(image.GetSectorCount(), 4);
}

TEST(ImageFileDevice, TwoThreadsReadOneImageAtOnce) {
  CORVALE_FIXTURE(path, "mbr_random_data.sh", "mbr_random_data.img");
  auto bytes = devtest::ReadFileBytes(path);
  CImageFileDevice image(path);
  ASSERT_TRUE(image.IsOpened());
  const uint64_t blocks = bytes.size() / 512 / 32;
  std::atomic<int> mismatches{0};
  auto reader = [&](uint64_t stride) {
    std::vector<uint8_t> buffer(32 * 512);
    for (int round = 0; round < 4; ++round)
      for (uint64_t i = 0; i < blocks; ++i) {
        uint64_t b = (i * stride) % blocks;
        if (!image.ReadSectors(buffer.data(), b * 32, 32) ||
            std::memcmp(buffer.data(), bytes.data() + b * 32 * 512, buffer.size()) != 0)
          mismatches++;
      }
  };
  std::thread a(reader, 1), b(reader, 7);  // the block count is not a multiple of 7
  a.join();
  b.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// ---- Volumes ----

TEST(VolumeDevice, LettersNameNoVolumeBeforeTheVolumeListHandsThemOut) {
  for (char letter : {'C', 'c', 'Z', '1', '\0'}) {
    CVolumeDevice volume(letter);
    EXPECT_FALSE(volume.IsOpened()) << letter;
    EXPECT_EQ(volume.GetSectorCount(), 0);
    EXPECT_EQ(volume.GetSectorSize(), 0);
    EXPECT_EQ(volume.GetMediaType(), 0);
    EXPECT_FALSE(volume.QueryDiskFreeSpace());
    uint8_t sector[512];
    EXPECT_FALSE(volume.ReadSectors(sector, 0, 1));
  }
}

// The volume's last partial cylinder is part of it: the count is the length, not whole cylinders.
TEST(VolumeDevice, CountsEverySectorOfAnImage) {
  const std::string path = WriteImage(corvale::test::ScratchDir(), 32768 * 512);
  auto bytes = devtest::ReadFileBytes(path);
  CVolumeDevice volume(path);
  ASSERT_TRUE(volume.IsOpened());
  EXPECT_EQ(volume.GetSectorSize(), 512);
  EXPECT_EQ(volume.GetSectorCount(), 32768);  // two whole 255 × 63 cylinders would be 32130
  EXPECT_EQ(volume.GetMediaType(), 12);
  EXPECT_EQ(devtest::AccessModesOfDescriptorsOn(path), std::vector<int>{O_RDONLY});
  std::vector<uint8_t> last(512);
  ASSERT_TRUE(volume.ReadSectors(last.data(), 32767, 1));
  EXPECT_EQ(0, std::memcmp(last.data(), bytes.data() + 32767 * 512, 512));
  EXPECT_FALSE(volume.QueryDiskFreeSpace());  // a file is not a mounted volume
}

TEST(VolumeDevice, OverDouble) {
  FaultyRawIo io;
  ScopedRawIo scoped(&io);
  std::vector<uint8_t> bytes(16 * 4096);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 4096 + 1);
  FaultySource& s = io.Add("/dev/fake-volume", bytes);
  platform::DriveGeometry g;
  g.bytesPerSector = 4096;
  g.cylinders = 300000;  // 300000 × 255 × 63 is above 2^32
  g.tracksPerCylinder = 255;
  g.sectorsPerTrack = 63;
  g.mediaType = 11;
  s.geometry = g;
  s.lengthFails = true;
  s.badSectors = {8 * 8};  // 512-byte unit of the double: volume sector 8
  CVolumeDevice volume(std::string("/dev/fake-volume"));
  ASSERT_TRUE(volume.IsOpened());
  EXPECT_EQ(volume.GetSectorSize(), 4096);
  EXPECT_EQ(volume.Reader().GetSectorSize(), 4096);
  EXPECT_EQ(volume.GetSectorCount(), int64_t{300000} * 255 * 63);
  EXPECT_EQ(volume.GetMediaType(), 11);

  std::vector<uint8_t> buffer(2 * 4096);
  ASSERT_TRUE(volume.ReadSectors(buffer.data(), 3, 2));
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(buffer[4096], 5);
  {
    devtest::ScopedIgnoreBadSectors on(true);
    ASSERT_TRUE(volume.ReadSectors(buffer.data(), 7, 2));
    EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), 0));
    ASSERT_EQ(volume.Reader().GetBadRanges().size(), 1u);
  }
  {
    devtest::ScopedIgnoreBadSectors off(false);
    volume.Reader().ClearBadRanges();
    EXPECT_FALSE(volume.ReadSectors(buffer.data(), 7, 2));
  }
}

TEST(VolumeDevice, MountedLoopVolumeAnswersFreeSpace) {
  CORVALE_REQUIRE_ROOT();
  if (!corvale::test::HaveTool("mke2fs")) GTEST_SKIP() << "mke2fs missing (package e2fsprogs)";
  const std::string dir = corvale::test::ScratchDir();
  const std::string image = dir + "/volume.img";
  ASSERT_EQ(corvale::test::RunCommand("truncate -s 8M '" + image + "' && mke2fs -q -F '" + image + "' 2>&1"),
            0);
  corvale::test::LoopDevice loop(image, /*readOnly=*/true);
  ASSERT_TRUE(loop.ok()) << loop.error();
  CVolumeDevice volume(loop.path());
  ASSERT_TRUE(volume.IsOpened());
  EXPECT_EQ(volume.GetSectorCount(), 16384);
  EXPECT_FALSE(volume.QueryDiskFreeSpace());
  const std::string mountPoint = dir + "/mnt point";
  std::filesystem::create_directories(mountPoint);
  if (corvale::test::RunCommand("mount -o ro '" + loop.path() + "' '" + mountPoint + "' 2>&1") != 0)
    GTEST_SKIP() << "cannot mount here";
  EXPECT_TRUE(volume.QueryDiskFreeSpace());
  corvale::test::RunCommand("umount '" + mountPoint + "'");
}
