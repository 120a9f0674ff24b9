#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "FatTestSupport.h"
#include "fat/FATDBR.h"
#include "fat/FatVolumeAnalyze.h"
#include "storage/MemoryDevice.h"

using namespace fattest;

namespace {

class VolumeOfImage : public ::testing::TestWithParam<FatFixture> {};

}  // namespace

TEST_P(VolumeOfImage, TypeSizeAndLabel) {
  const FatFixture& fixture = GetParam();
  FAT_IMAGE(image, fixture);
  const CFatVolumeAnalyze volume(image.device.get(), 0);
  EXPECT_EQ(volume.GetFileSystemType(), fixture.typeCode);
  if (fixture.typeCode == kFatTypeNone) {
    EXPECT_EQ(volume.GetSectorCount(), 0u);
    EXPECT_EQ(volume.GetLabel(), "");
  } else {
    EXPECT_EQ(volume.GetSectorCount(), image.geometry.totalSectors);
    EXPECT_EQ(volume.GetLabel(), fixture.label);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, VolumeOfImage, ::testing::ValuesIn(FatImages()), [](const auto& info) {
  std::string name = info.param.image;
  return name.substr(0, name.find('.'));
});

// The volume found where a partition starts, not only at sector 0.
TEST(FatVolume, AtAPartitionStart) {
  FAT_IMAGE(image, FatImages()[2]);
  const uint64_t start = 2048;
  const uint64_t sectors = image.geometry.totalSectors;
  std::vector<uint8_t> disk((start + sectors) * 512, 0);
  ASSERT_TRUE(image.device->ReadSectors(disk.data() + start * 512, 0, sectors));
  MemoryDevice device(disk);
  const CFatVolumeAnalyze volume(&device, start);
  EXPECT_EQ(volume.GetFileSystemType(), kFatType16);
  EXPECT_EQ(volume.GetLabel(), "SMALL16");
  EXPECT_EQ(CFatVolumeAnalyze(&device, 0).GetFileSystemType(), kFatTypeNone);
  EXPECT_EQ(CFatVolumeAnalyze(&device, start + sectors - 2).GetFileSystemType(), kFatTypeNone);
  EXPECT_EQ(CFatVolumeAnalyze(nullptr, 0).GetFileSystemType(), kFatTypeNone);
}

TEST(FatVolume, ZerosAndNoiseAreNoVolume) {
  MemoryDevice zeros(std::vector<uint8_t>(64 * 512, 0));
  EXPECT_EQ(CFatVolumeAnalyze(&zeros, 0).GetFileSystemType(), kFatTypeNone);
  std::mt19937 random(7);
  std::vector<uint8_t> noise(64 * 512);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  MemoryDevice device(noise);
  for (uint64_t s = 0; s < 60; ++s)
    EXPECT_EQ(CFatVolumeAnalyze(&device, s).GetFileSystemType(), kFatTypeNone);
}
