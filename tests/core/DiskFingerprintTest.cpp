// The disk fingerprint of saved scans: its layout, that a disk whose partition table was rewritten
// is still found, and that another disk of the same size (other serial, other boot code) is not.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/DiskFingerprint.h"
#include "storage/DiskDevice.h"
#include "storage/MemoryDevice.h"

namespace {

std::vector<uint8_t> DiskBytes(int32_t sectorSize, uint8_t boot) {
  std::vector<uint8_t> bytes(static_cast<size_t>(sectorSize) * 64, 0);
  for (size_t i = 0; i < 446; ++i) bytes[i] = static_cast<uint8_t>(boot + i);
  bytes[446] = 0x80;
  bytes[450] = 0x07;
  bytes[454] = 0x00;
  bytes[455] = 0x08;
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  for (size_t i = 512; i < static_cast<size_t>(sectorSize); ++i) bytes[i] = static_cast<uint8_t>(i * 3);
  return bytes;
}

DISK_INFO_RECORD Info(const char* serial) {
  DISK_INFO_RECORD info;
  info.busType = 7;
  std::strcpy(info.vendor, "ATA");
  std::strcpy(info.product, "Corvale Test Disk");
  std::strcpy(info.revision, "1.0");
  std::strcpy(info.serialNumber, serial);
  std::strcpy(info.busTypeText, "USB Disk Device");
  return info;
}

}  // namespace

TEST(DiskFingerprint, HoldsDescriptionAndSectorZeroWithoutPartitionTable) {
  MemoryDevice disk(DiskBytes(512, 1));
  const DISK_INFO_RECORD info = Info("S1");
  DiskFingerprint f;
  ASSERT_TRUE(MakeDiskFingerprint(info, disk, &f));
  uint8_t description[DISK_INFO_RECORD::kSize];
  info.Write(description);
  EXPECT_EQ(0, std::memcmp(f.data(), description, sizeof description));
  EXPECT_EQ(f[1304], 1);
  EXPECT_EQ(f[1304 + 445], static_cast<uint8_t>(1 + 445));
  for (size_t i = 1750; i < 1814; ++i) EXPECT_EQ(f[i], 0) << i;
  EXPECT_EQ(f[1304 + 510], 0x55);
  for (size_t i = 1304 + 512; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << i;
}

TEST(DiskFingerprint, LargeSectorsFillOnlyTheRoomOfTheRecord) {
  // An 8192-byte sector: only its first 4096 bytes fit the record.
  MemoryDevice disk(DiskBytes(8192, 5), 8192);
  DiskFingerprint f;
  ASSERT_TRUE(MakeDiskFingerprint(Info("S1"), disk, &f));
  EXPECT_EQ(f[1304 + 4095], static_cast<uint8_t>(4095 * 3));
}

TEST(DiskFingerprint, SameDiskIsFoundAgainAndAnotherOfTheSameSizeIsNot) {
  MemoryDevice original(DiskBytes(512, 1));
  const DISK_INFO_RECORD info = Info("S1");
  DiskFingerprint saved;
  ASSERT_TRUE(MakeDiskFingerprint(info, original, &saved));

  std::vector<uint8_t> repartitioned = DiskBytes(512, 1);
  repartitioned[450] = 0x83;
  repartitioned[455] = 0x10;
  MemoryDevice samePartitionedAgain(repartitioned);
  MemoryDevice otherBootCode(DiskBytes(512, 2));
  MemoryDevice sameBytes(DiskBytes(512, 1));
  const DISK_INFO_RECORD otherSerial = Info("S2");

  EXPECT_EQ(FindDiskByFingerprint({{&samePartitionedAgain, &info}}, saved), &samePartitionedAgain);
  EXPECT_EQ(FindDiskByFingerprint({{&otherBootCode, &info}, {&sameBytes, &otherSerial}}, saved), nullptr);
  EXPECT_EQ(
      FindDiskByFingerprint({{&sameBytes, &otherSerial}, {&otherBootCode, &info}, {&original, &info}}, saved),
      &original);
  MemoryDevice empty(std::vector<uint8_t>{});
  EXPECT_EQ(FindDiskByFingerprint({{&empty, &info}}, saved), nullptr);
}
