#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/RawIo.h"
#include "support/Fixtures.h"

namespace {

std::string WriteFile(size_t size) {
  const std::string path = corvale::test::ScratchDir() + "/source.bin";
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + 5);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace

TEST(LinuxRawIo, ReadsPositionallyUpToTheEnd) {
  const std::string path = WriteFile(10000);
  int error = -1;
  auto device = platform::LinuxRawIo().OpenReadOnly(path, &error);
  ASSERT_TRUE(device) << error;
  EXPECT_EQ(error, 0);
  EXPECT_EQ(device->Path(), path);
  EXPECT_GE(device->Handle(), 0);

  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(device->ReadAt(buffer.data(), 4096, 1000), 4096);
  EXPECT_EQ(buffer[0], static_cast<uint8_t>(1000 * 13 + 5));
  EXPECT_EQ(device->ReadAt(buffer.data(), 4096, 8000), 2000);  // the file ends first
  EXPECT_EQ(device->ReadAt(buffer.data(), 4096, 10000), 0);
  EXPECT_EQ(device->ReadAt(buffer.data(), 4096, 50000), 0);
  EXPECT_EQ(device->ReadAt(buffer.data(), 0, 0), 0);
  EXPECT_EQ(device->ReadAt(buffer.data(), 16, UINT64_MAX - 8), -EINVAL);
}

TEST(LinuxRawIo, FileQueriesDescribeA512ByteSectorDisk) {
  const std::string path = WriteFile(32768 * 512 + 100);
  int error = 0;
  auto device = platform::LinuxRawIo().OpenReadOnly(path, &error);
  ASSERT_TRUE(device);
  platform::DriveGeometry g;
  ASSERT_TRUE(device->QueryGeometry(&g));
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(g.tracksPerCylinder, 255u);
  EXPECT_EQ(g.sectorsPerTrack, 63u);
  EXPECT_EQ(g.cylinders, 2);
  EXPECT_EQ(g.mediaType, platform::kMediaFixed);
  uint64_t length = 0;
  ASSERT_TRUE(device->QueryLengthBytes(&length));
  EXPECT_EQ(length, 32768u * 512 + 100);
  EXPECT_EQ(device->ReadCapacity(0), 0u);
  platform::StorageDescriptor d;
  EXPECT_FALSE(device->QueryStorageDescriptor(&d));
  EXPECT_TRUE(platform::ListKernelPartitions(path).empty());
}

TEST(LinuxRawIo, FailedOpensGiveTheReason) {
  int error = 0;
  EXPECT_FALSE(platform::LinuxRawIo().OpenReadOnly("/nonexistent/corvale", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(platform::LinuxRawIo().OpenReadOnly(corvale::test::ScratchDir(), &error));
  EXPECT_EQ(error, EISDIR);
}

TEST(LinuxRawIo, LoopDeviceQueriesComeFromTheKernel) {
  CORVALE_REQUIRE_ROOT();
  const std::string path = WriteFile(8 << 20);
  corvale::test::LoopDevice loop(path);
  ASSERT_TRUE(loop.ok()) << loop.error();
  int error = 0;
  auto device = platform::LinuxRawIo().OpenReadOnly(loop.path(), &error);
  ASSERT_TRUE(device) << error;
  uint64_t length = 0;
  ASSERT_TRUE(device->QueryLengthBytes(&length));
  EXPECT_EQ(length, uint64_t{8} << 20);
  platform::DriveGeometry g;
  ASSERT_TRUE(device->QueryGeometry(&g));
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(static_cast<uint64_t>(g.cylinders),
            (uint64_t{8} << 20) / 512 / (g.tracksPerCylinder * g.sectorsPerTrack));
  EXPECT_EQ(device->ReadCapacity(0), 0u);  // not a SCSI device
  platform::StorageDescriptor d;
  d.vendor = "stale";
  ASSERT_TRUE(device->QueryStorageDescriptor(&d));
  EXPECT_EQ(d.busType, 0u);
  EXPECT_EQ(d.vendor, "");
  EXPECT_FALSE(d.hasSerial);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(device->ReadAt(buffer.data(), buffer.size(), 4096), 4096);
  EXPECT_EQ(buffer[1], static_cast<uint8_t>(4097 * 13 + 5));
}

TEST(RawIoErrors, KindsOfFailure) {
  for (int e : {ENOMEDIUM, ENODEV, ENXIO}) EXPECT_TRUE(platform::IsNotReadyError(e)) << e;
  for (int e : {EIO, ENODATA, EILSEQ}) EXPECT_TRUE(platform::IsMediumError(e)) << e;
  for (int e : {EACCES, EPERM}) EXPECT_TRUE(platform::IsPermissionError(e)) << e;
  for (int e : {0, EINVAL, EBADF, EFAULT}) {
    EXPECT_FALSE(platform::IsNotReadyError(e)) << e;
    EXPECT_FALSE(platform::IsMediumError(e)) << e;
    EXPECT_FALSE(platform::IsPermissionError(e)) << e;
  }
  EXPECT_FALSE(platform::IsMediumError(ENOMEDIUM));
}

TEST(RawIoBusType, FromTheDevicesPlaceInSysfs) {
  struct Case {
    const char* path;
    const char* mmcType;
    uint32_t bus;
  };
  for (const Case& c : {
           Case{"/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "", 7},
           Case{"/sys/devices/pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0", "", 11},
           Case{"/sys/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "", 17},
           Case{"/sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/host0/port-0:0/end_device-0:0/target0:0:0/"
                "0:0:0:0",
                "", 10},
           Case{"/sys/devices/pci0000:00/0000:00:1e.6/mmc_host/mmc0/mmc0:aaaa", "SD", 12},
           Case{"/sys/devices/platform/soc/mmc_host/mmc1/mmc1:0001", "MMC", 13},
           Case{"/sys/devices/pci0000:00/0000:00:02.0/virtio1", "", 0},
           Case{"/sys/devices/pci0000:00/0000:00:10.0/host32/target32:0:0/32:0:0:0", "", 1},
           Case{"/sys/devices/platform/something", "", 0},
       })
    EXPECT_EQ(platform::BusTypeFromDevicePath(c.path, c.mmcType), c.bus) << c.path;
}

TEST(RawIoSelection, TestsSwapTheImplementation) {
  struct Null : platform::IRawIo {
    std::unique_ptr<platform::IRawDevice> OpenReadOnly(const std::string&, int* error) override {
      *error = EROFS;
      return nullptr;
    }
  } null;
  platform::IRawIo* previous = platform::SetRawIo(&null);
  EXPECT_EQ(previous, &platform::LinuxRawIo());
  int error = 0;
  EXPECT_FALSE(platform::CurrentRawIo().OpenReadOnly("/dev/null", &error));
  EXPECT_EQ(error, EROFS);
  EXPECT_EQ(platform::SetRawIo(previous), &null);
  EXPECT_EQ(&platform::CurrentRawIo(), &platform::LinuxRawIo());
}
