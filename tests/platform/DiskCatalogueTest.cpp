#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/DiskCatalogue.h"
#include "support/Fixtures.h"

namespace fs = std::filesystem;
using platform::DiskEntry;
using platform::ReadDiskCatalogue;

namespace {

// A made-up /sys with just the block entries a test needs.
class FakeSysfs {
 public:
  FakeSysfs() : m_root(corvale::test::ScratchDir() + "/sys") { fs::create_directories(m_root + "/block"); }
  const std::string& root() const { return m_root; }

  void Add(const std::string& name, const std::map<std::string, std::string>& attributes = {}) {
    std::string dir = m_root + "/block/" + name;
    fs::create_directories(dir);
    for (const auto& [file, text] : attributes) {
      fs::create_directories(fs::path(dir + "/" + file).parent_path());
      std::ofstream(dir + "/" + file) << text;
    }
  }
  void AddLoop(const std::string& name, const std::string& backing, const std::string& size) {
    Add(name, {{"loop/backing_file", backing + "\n"}, {"size", size + "\n"}});
  }

 private:
  std::string m_root;
};

std::vector<std::string> Names(const std::vector<DiskEntry>& disks) {
  std::vector<std::string> names;
  for (const DiskEntry& d : disks) names.push_back(d.name);
  return names;
}

TEST(DiskCatalogue, WholeDisksByKindThenNameThenLoopDevices) {
  FakeSysfs sys;
  for (const char* name : {"nvme10n1", "loop10", "sdaa", "mmcblk1", "hda", "sdb", "vda", "nvme2n1", "xvda",
                           "sda", "sdz", "mmcblk0", "loop2", "vdb"})
    sys.Add(name);
  sys.AddLoop("loop10", "/images/b.img", "2048");
  sys.AddLoop("loop2", "/images/a.img", "2048");

  std::vector<DiskEntry> disks = ReadDiskCatalogue(sys.root(), nullptr);
  EXPECT_EQ(Names(disks),
            (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "vda", "vdb", "xvda", "hda", "nvme2n1",
                                      "nvme10n1", "mmcblk0", "mmcblk1", "loop2", "loop10"}));
  for (size_t i = 0; i < disks.size(); ++i) EXPECT_EQ(disks[i].number, static_cast<int>(i));
  EXPECT_EQ(disks[0].devicePath, "/dev/sda");
  EXPECT_EQ(disks[0].sysfsPath, sys.root() + "/block/sda");
  EXPECT_EQ(disks[0].backingFile, "");
  EXPECT_FALSE(disks[0].isImageFile);
  EXPECT_EQ(disks[12].backingFile, "/images/a.img");
  EXPECT_EQ(disks[12].devicePath, "/dev/loop2");
}

TEST(DiskCatalogue, LeavesOutWhatIsNotADisk) {
  FakeSysfs sys;
  sys.Add("sda");
  for (const char* name :
       {"ram0", "zram0", "dm-0", "md127", "sr0", "fd0", "nbd0", "mmcblk0boot0", "mmcblk0rpmb"})
    sys.Add(name);
  sys.Add("nvme0c0n1", {{"hidden", "1\n"}});
  sys.Add("nvme0n1", {{"hidden", "0\n"}});
  EXPECT_EQ(Names(ReadDiskCatalogue(sys.root(), nullptr)), (std::vector<std::string>{"sda", "nvme0n1"}));
}

struct LoopCase {
  const char* name;
  const char* backing;  // null: no backing_file (an unbound loop device)
  const char* size;
  bool listed;
};

class DiskCatalogueLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(DiskCatalogueLoop, OnlyBoundLoopDevicesWithASize) {
  const LoopCase& c = GetParam();
  FakeSysfs sys;
  if (c.backing)
    sys.AddLoop("loop0", c.backing, c.size);
  else
    sys.Add("loop0", {{"size", std::string(c.size) + "\n"}});
  EXPECT_EQ(ReadDiskCatalogue(sys.root(), nullptr).size(), c.listed ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, DiskCatalogueLoop,
                         ::testing::Values(LoopCase{"bound", "/a.img", "8", true},
                                           LoopCase{"unbound", nullptr, "0", false},
                                           LoopCase{"emptyBackingName", "", "8", false},
                                           LoopCase{"emptyFile", "/a.img", "0", false},
                                           LoopCase{"sizeUnreadable", "/a.img", "x", false}),
                         [](const ::testing::TestParamInfo<LoopCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(DiskCatalogue, NamedListReplacesTheCatalogue) {
  FakeSysfs sys;
  sys.Add("sda");
  std::string dir = fs::path(sys.root()).parent_path().string();
  std::ofstream(dir + "/one.img") << "x";
  std::string list = dir + "/one.img::" + dir + "/missing.img:";
  std::vector<DiskEntry> disks = ReadDiskCatalogue(sys.root(), list.c_str());
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].name, "one.img");
  EXPECT_EQ(disks[0].devicePath, dir + "/one.img");
  EXPECT_TRUE(disks[0].isImageFile);
  EXPECT_EQ(disks[0].sysfsPath, "");
  // A name that does not exist keeps its place: opening it fails later, like a missing disk.
  EXPECT_EQ(disks[1].name, "missing.img");
  EXPECT_EQ(disks[1].number, 1);

  // An empty variable is no list.
  EXPECT_EQ(Names(ReadDiskCatalogue(sys.root(), "")), (std::vector<std::string>{"sda"}));
}

TEST(DiskCatalogue, ListDisksFollowsTheEnvironment) {
  std::string dir = corvale::test::ScratchDir();
  std::string list = dir + "/a.img:" + dir + "/b.img";
  const char* old = std::getenv("CORVALE_DISKS");
  std::string saved = old ? old : "";
  setenv("CORVALE_DISKS", list.c_str(), 1);
  std::vector<DiskEntry> disks = platform::ListDisks();
  std::optional<DiskEntry> second = platform::DiskByNumber(1);
  std::optional<DiskEntry> third = platform::DiskByNumber(2);
  if (old)
    setenv("CORVALE_DISKS", saved.c_str(), 1);
  else
    unsetenv("CORVALE_DISKS");
  EXPECT_EQ(Names(disks), (std::vector<std::string>{"a.img", "b.img"}));
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->devicePath, dir + "/b.img");
  EXPECT_FALSE(third.has_value());
}

// Real loop devices over image files, seen through the real /sys.
class DiskCatalogueReal : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("CORVALE_DISKS");
    m_had = old != nullptr;
    if (old) m_old = old;
    unsetenv("CORVALE_DISKS");
    m_dir = corvale::test::ScratchDir();
  }
  void TearDown() override {
    if (m_had) setenv("CORVALE_DISKS", m_old.c_str(), 1);
  }
  std::string MakeImage(const std::string& name) {
    std::string path = fs::canonical(m_dir).string() + "/" + name;
    std::ofstream(path).close();
    fs::resize_file(path, 1 << 20);
    return path;
  }
  // The entry of a loop device bound to `backing` (another test may reuse the device meanwhile).
  static const DiskEntry* Find(const std::vector<DiskEntry>& disks, const std::string& devicePath,
                               const std::string& backing) {
    for (const DiskEntry& d : disks)
      if (d.devicePath == devicePath && d.backingFile == backing) return &d;
    return nullptr;
  }
  std::string m_dir, m_old;
  bool m_had = false;
};

TEST_F(DiskCatalogueReal, LoopDeviceOverAnImageIsListedWithItsBackingFile) {
  CORVALE_REQUIRE_ROOT();
  std::string image = MakeImage("disk.img");
  corvale::test::LoopDevice loop(image);
  if (!loop.ok()) GTEST_SKIP() << "no loop device: " << loop.error();

  const DiskEntry* entry = nullptr;
  std::vector<DiskEntry> disks = platform::ListDisks();
  entry = Find(disks, loop.path(), image);
  ASSERT_NE(entry, nullptr) << loop.path() << " over " << image;
  EXPECT_EQ(entry->name, fs::path(loop.path()).filename().string());
  EXPECT_EQ(entry->sysfsPath, "/sys/block/" + entry->name);

  // Named through CORVALE_DISKS, the block device is still known as one, with its backing file.
  std::string named = loop.path();
  std::vector<DiskEntry> listed = ReadDiskCatalogue("/sys", named.c_str());
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_FALSE(listed[0].isImageFile);
  EXPECT_EQ(listed[0].backingFile, image);
  EXPECT_NE(listed[0].sysfsPath.find("/" + entry->name), std::string::npos) << listed[0].sysfsPath;
}

TEST_F(DiskCatalogueReal, NumbersHoldWhileDisksComeAndGo) {
  CORVALE_REQUIRE_ROOT();
  std::string first = MakeImage("first.img");
  std::string second = MakeImage("second.img");
  auto loopA = std::make_unique<corvale::test::LoopDevice>(first);
  if (!loopA->ok()) GTEST_SKIP() << "no loop device: " << loopA->error();
  std::string pathA = loopA->path();

  std::vector<DiskEntry> withA = platform::ListDisks();
  ASSERT_NE(Find(withA, pathA, first), nullptr);
  int numberA = Find(withA, pathA, first)->number;

  corvale::test::LoopDevice loopB(second);
  ASSERT_TRUE(loopB.ok()) << loopB.error();
  std::vector<DiskEntry> withBoth = platform::ListDisks();
  ASSERT_NE(Find(withBoth, pathA, first), nullptr);
  EXPECT_EQ(Find(withBoth, pathA, first)->number, numberA);
  ASSERT_NE(Find(withBoth, loopB.path(), second), nullptr);
  int numberB = Find(withBoth, loopB.path(), second)->number;

  loopA.reset();  // detached: its number is not given to anything else
  // A detach waits for the last opener (udev's probe, say) to let go.
  std::vector<DiskEntry> withB = platform::ListDisks();
  for (int i = 0; i < 50 && Find(withB, pathA, first); ++i) {
    usleep(100000);
    withB = platform::ListDisks();
  }
  EXPECT_EQ(Find(withB, pathA, first), nullptr);
  ASSERT_NE(Find(withB, loopB.path(), second), nullptr);
  EXPECT_EQ(Find(withB, loopB.path(), second)->number, numberB);
  EXPECT_FALSE(platform::DiskByNumber(numberA).has_value());
}

}  // namespace
