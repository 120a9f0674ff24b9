// The NTFS volume analyser on real mkntfs volumes and on sectors that are no NTFS boot sector, and
// the root entry of an NTFS partition's tree.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NtfsTestVolume.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NTFSRootEntries.h"
#include "ntfs/NtfsVolumeAnalyze.h"
#include "platform/RecoveryContext.h"
#include "storage/MemoryDevice.h"

namespace {

struct Case {
  const char* kind;
  int32_t deviceSectorSize;  // 0: the volume's own
  const char* label;
};

class NtfsVolumeAnalyze : public ::testing::TestWithParam<Case> {};

TEST_P(NtfsVolumeAnalyze, RecognisesTheVolumeWithItsSizeAndLabel) {
  CORVALE_NTFS_VOLUME(volume, GetParam().kind);
  const int32_t sectorSize =
      GetParam().deviceSectorSize ? GetParam().deviceSectorSize : int32_t(volume->geometry.bytesPerSector);
  // The volume behind 3 sectors of something else, as a partition lies on a disk.
  std::vector<uint8_t> disk(size_t(3 * sectorSize), 0x11);
  disk.insert(disk.end(), volume->image.begin(), volume->image.end());
  MemoryDevice device(disk, sectorSize);

  CNtfsVolumeAnalyze found(&device, 3);
  EXPECT_EQ(found.GetFileSystemType(), 3);
  // The boot sector counts the volume's own sectors, all but the backup boot sector at its end.
  EXPECT_EQ(found.GetSectorCount(), (volume->image.size() - volume->geometry.bytesPerSector) / sectorSize);
  EXPECT_EQ(found.GetLabel(), GetParam().label);

  CNtfsVolumeAnalyze nothing(&device, 0);
  EXPECT_EQ(nothing.GetFileSystemType(), 7);
  EXPECT_EQ(nothing.GetSectorCount(), 0u);
  EXPECT_EQ(nothing.GetLabel(), "");
  // Past the device's end: nothing to read, nothing recognised.
  CNtfsVolumeAnalyze beyond(&device, uint64_t(device.GetSectorCount()) + 5);
  EXPECT_EQ(beyond.GetFileSystemType(), 7);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsVolumeAnalyze,
                         ::testing::Values(Case{"files-c4096", 0, "CorvaleFiles"},
                                           Case{"c512", 0, "CorvaleRec"},
                                           Case{"files-s4096", 0, "CorvaleFiles"},
                                           Case{"files-s4096", 512, "CorvaleFiles"}));

TEST(NtfsVolumeAnalyzeSector, ADamagedBootSectorIsNotAVolume) {
  CORVALE_NTFS_VOLUME(volume, "files-c4096");
  std::vector<uint8_t> image(volume->image.begin(), volume->image.begin() + 64 * 1024);
  image[0x0D] = 3;  // sectors per cluster not a power of two
  MemoryDevice device(image, 512);
  CNtfsVolumeAnalyze found(&device, 0);
  EXPECT_EQ(found.GetFileSystemType(), 7);
  EXPECT_EQ(found.GetSectorCount(), 0u);
}

// Sets the recovery's source for the life of the scope.
class SourceScope {
 public:
  SourceScope(const std::string& name, uint8_t letter) {
    CRecoveryContext& c = GetRecoveryContext();
    m_name = c.SourceVolumeName;
    m_letter = c.SourceDriveLetter;
    c.SourceVolumeName = name;
    c.SourceDriveLetter = letter;
  }
  ~SourceScope() {
    GetRecoveryContext().SourceVolumeName = m_name;
    GetRecoveryContext().SourceDriveLetter = m_letter;
  }

 private:
  std::string m_name;
  uint8_t m_letter;
};

TEST(NtfsRootEntries, NamedAfterTheSourceAndNumberedFromOne) {
  struct Row {
    std::string volume;
    uint8_t letter;
    int32_t index;
    std::string name;
  };
  const Row rows[] = {
      {"", 255, 0, "NTFS 1"},
      {"", 0, 1, "NTFS 2"},
      {"Data", 'D', 0, "D:(Data - NTFS 1)"},
      {"Data", 255, 2, "Data(NTFS 3)"},
      {"", 'E', 0, "E:(NTFS 1)"},
      {std::string(120, 'v'), 255, 0, std::string(99, 'v')},
  };
  for (const Row& row : rows) {
    SourceScope source(row.volume, row.letter);
    std::unique_ptr<CNTFSFileProperties> p(CreateNTFSRootProperties(row.index, "label"));
    EXPECT_EQ(p->GetName(), row.name);
    EXPECT_EQ(p->GetAttributes(), kAttributeFolder);
    EXPECT_EQ(p->CreateDataRunList(), nullptr);
    // The context is read, not changed.
    EXPECT_EQ(GetRecoveryContext().SourceDriveLetter, row.letter);
  }
}

TEST(NtfsRootEntries, ThePartitionNodeCarriesPositionTypeAndALabelThatFits) {
  SourceScope source("", 255);
  struct Row {
    std::string label;
    std::string nodeName;
  };
  const std::string sixtyFour(64, 'L');
  const Row rows[] = {
      {"Backup", "Backup"},
      {"", ""},
      {sixtyFour.substr(0, 40), sixtyFour.substr(0, 40)},
      // 64 characters are taken (the node keeps its first 40 bytes); 65 are not.
      {sixtyFour, sixtyFour.substr(0, 40)},
      {sixtyFour + "L", ""},
  };
  for (const Row& row : rows) {
    CFileSystemNode* node = CreateNTFSRootNode(2048, 8, 1, row.label.c_str());
    std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(node, FreeFileTree);
    uint64_t start = 0;
    uint32_t sectorsPerCluster = 0;
    ASSERT_TRUE(node->GetPosition(start, sectorsPerCluster));
    EXPECT_EQ(start, 2048u);
    EXPECT_EQ(sectorsPerCluster, 8u);
    EXPECT_EQ(node->GetFileSystemType(), 3);
    EXPECT_STREQ(node->GetName(), row.nodeName.c_str()) << row.label;
    EXPECT_STREQ(node->GetFileProperties()->GetName(), "NTFS 2");
  }
  // Characters, not bytes: 30 three-byte characters are a label of 30.
  std::string japanese;
  for (int i = 0; i < 30; ++i) japanese += "日";
  CFileSystemNode* node = CreateNTFSRootNode(0, 1, 0, japanese.c_str());
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(node, FreeFileTree);
  EXPECT_STRNE(node->GetName(), "");
}

}  // namespace
