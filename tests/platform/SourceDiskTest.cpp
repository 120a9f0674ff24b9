// Which file systems live on a recovery's source: image files in the build folder, and as root a
// partitioned loop device with a mounted partition.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/SourceDisk.h"
#include "support/Fixtures.h"

using platform::SourceDeviceNumbers;
using platform::TargetPlace;
using platform::WhereIsTarget;

namespace {

std::string MakeImage(const std::string& dir, size_t mib) {
  std::string path = dir + "/disk.img";
  std::ofstream(path).close();
  EXPECT_EQ(truncate(path.c_str(), static_cast<off_t>(mib) << 20), 0);
  return path;
}

uint64_t RdevOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_rdev) : 0;
}

bool Holds(const std::vector<uint64_t>& devices, uint64_t dev) {
  return std::find(devices.begin(), devices.end(), dev) != devices.end();
}

// A loop device over an image with a partition table, its partitions scanned; detached at the end.
class PartitionedLoop {
 public:
  explicit PartitionedLoop(const std::string& image) {
    std::string out;
    if (corvale::test::RunCommand("losetup -P -f --show '" + image + "' 2>&1", &out) != 0) {
      m_error = out;
      return;
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    m_path = out;
    corvale::test::RunCommand("udevadm settle >/dev/null 2>&1");
  }
  ~PartitionedLoop() {
    if (!m_path.empty()) corvale::test::RunCommand("losetup -d " + m_path + " 2>/dev/null");
  }
  const std::string& path() const { return m_path; }
  const std::string& error() const { return m_error; }

 private:
  std::string m_path;
  std::string m_error;
};

}  // namespace

TEST(SourceDisk, ImageFileCountsItsOwnFileSystem) {
  std::string dir = corvale::test::ScratchDir();
  std::string image = MakeImage(dir, 1);
  mkdir((dir + "/out").c_str(), 0755);
  struct Case {
    const char* name;
    std::string source;
    std::string target;
    TargetPlace expected;
  };
  const Case cases[] = {
      {"beside the image", image, dir + "/out", TargetPlace::OnSource},
      {"a folder still to be made beside it", image, dir + "/out/not/made/yet", TargetPlace::OnSource},
      {"a missing source cannot be examined", dir + "/missing.img", dir + "/out", TargetPlace::Unknown},
      {"a source that is neither disk nor file", "/proc/self", dir + "/out", TargetPlace::Unknown},
      {"no target", image, "", TargetPlace::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WhereIsTarget(c.source, c.target), c.expected);
  }
  // /proc is a file system of its own, never the one holding the image.
  EXPECT_EQ(WhereIsTarget(image, "/proc/self"), TargetPlace::OffSource);
  EXPECT_FALSE(SourceDeviceNumbers(dir + "/missing.img"));
  EXPECT_FALSE(platform::AllMountedDeviceNumbers().empty());
}

TEST(SourceDisk, PartitionedLoopDeviceAndItsMountedPartition) {
  CORVALE_REQUIRE_ROOT();
  if (!corvale::test::HaveTool("sfdisk") || !corvale::test::HaveTool("mke2fs"))
    GTEST_SKIP() << "needs sfdisk and mke2fs";
  std::string dir = corvale::test::ScratchDir();
  std::string image = MakeImage(dir, 16);
  ASSERT_EQ(corvale::test::RunCommand("printf 'start=2048, size=8192\\nstart=10240\\n' | sfdisk -q '" +
                                      image + "' >/dev/null 2>&1"),
            0);
  PartitionedLoop loop(image);
  if (loop.path().empty()) GTEST_SKIP() << "no loop device: " << loop.error();
  const std::string part1 = loop.path() + "p1";
  const std::string part2 = loop.path() + "p2";
  struct stat st {};
  if (stat(part2.c_str(), &st) != 0) GTEST_SKIP() << "the loop device's partitions did not appear";

  ASSERT_EQ(corvale::test::RunCommand("mke2fs -q -F " + part1 + " >/dev/null 2>&1"), 0);
  std::string mountPoint = dir + "/mnt";
  mkdir(mountPoint.c_str(), 0755);
  if (mount(part1.c_str(), mountPoint.c_str(), "ext2", 0, nullptr) != 0) GTEST_SKIP() << "cannot mount ext2";
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};

  for (const std::string& source : {loop.path(), part2}) {
    SCOPED_TRACE(source);
    auto devices = SourceDeviceNumbers(source);
    ASSERT_TRUE(devices);
    EXPECT_TRUE(Holds(*devices, RdevOf(loop.path()))) << "the whole disk";
    EXPECT_TRUE(Holds(*devices, RdevOf(part1))) << "every partition of it";
    EXPECT_TRUE(Holds(*devices, RdevOf(part2)));
    EXPECT_EQ(WhereIsTarget(source, mountPoint + "/recovered"), TargetPlace::OnSource);
    EXPECT_EQ(WhereIsTarget(source, "/proc/self"), TargetPlace::OffSource);
  }
  // The image behind the loop device: writing into the mounted partition would change it too.
  auto devices = SourceDeviceNumbers(image);
  ASSERT_TRUE(devices);
  EXPECT_TRUE(Holds(*devices, RdevOf(part1)));
  EXPECT_EQ(WhereIsTarget(image, mountPoint), TargetPlace::OnSource);
}

TEST(SourceDisk, LoopDeviceOverAnImageAndTheFileSystemMountedFromIt) {
  CORVALE_REQUIRE_ROOT();
  if (!corvale::test::HaveTool("mke2fs")) GTEST_SKIP() << "needs mke2fs";
  std::string dir = corvale::test::ScratchDir();
  std::string image = MakeImage(dir, 8);
  ASSERT_EQ(corvale::test::RunCommand("mke2fs -q -F '" + image + "' >/dev/null 2>&1"), 0);
  corvale::test::LoopDevice loop(image, false);
  if (!loop.ok()) GTEST_SKIP() << "no loop device: " << loop.error();
  std::string mountPoint = dir + "/mnt";
  mkdir(mountPoint.c_str(), 0755);
  if (mount(loop.path().c_str(), mountPoint.c_str(), "ext2", 0, nullptr) != 0)
    GTEST_SKIP() << "cannot mount ext2";
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};

  struct Case {
    const char* name;
    std::string source;
    std::string target;
    TargetPlace expected;
  };
  const Case cases[] = {
      {"loop device, target in its mounted file system", loop.path(), mountPoint + "/out",
       TargetPlace::OnSource},
      {"loop device, target beside the image behind it", loop.path(), dir + "/out", TargetPlace::OnSource},
      {"loop device, target on another file system", loop.path(), "/proc/self", TargetPlace::OffSource},
      {"the image, target in the file system mounted from it", image, mountPoint, TargetPlace::OnSource},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WhereIsTarget(c.source, c.target), c.expected);
  }
}
