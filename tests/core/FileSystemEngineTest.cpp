// The engine table: registration in any order, the detector's order NTFS, FAT, Ext2, and the first
// engine that recognises a volume wins.
#include <gtest/gtest.h>

#include "core/FileSystemEngine.h"
#include "storage/MemoryDevice.h"

namespace {

class StubVolume : public IVolume {
 public:
  StubVolume(int32_t type, uint64_t sectors, std::string label)
      : m_type(type), m_sectors(sectors), m_label(label) {}
  int32_t GetFileSystemType() const override { return m_type; }
  uint64_t GetSectorCount() const override { return m_sectors; }
  std::string GetLabel() const override { return m_label; }

 private:
  int32_t m_type;
  uint64_t m_sectors;
  std::string m_label;
};

// An engine that recognises volumes starting at `at` as `type`.
FileSystemEngine Stub(int32_t kind, const char* name, uint64_t at, int32_t type) {
  FileSystemEngine e;
  e.kind = kind;
  e.name = name;
  e.analyseVolume = [=](IStorageDevice&, uint64_t start) -> std::unique_ptr<IVolume> {
    return std::make_unique<StubVolume>(start == at ? type : 7, start == at ? 100 : 0, name);
  };
  return e;
}

TEST(FileSystemEngineTable, DetectorAsksNtfsThenFatThenExt2) {
  ASSERT_TRUE(RegisterFileSystemEngine(Stub(kEngineExt2, "Ext2", 10, 4)));
  ASSERT_TRUE(RegisterFileSystemEngine(Stub(kEngineFat, "FAT", 10, 2)));
  ASSERT_TRUE(RegisterFileSystemEngine(Stub(kEngineNtfs, "NTFS", 20, 3)));
  EXPECT_FALSE(RegisterFileSystemEngine(Stub(2, "RAW", 0, 6)));

  const std::vector<FileSystemEngine> engines = FileSystemEngines();
  ASSERT_EQ(engines.size(), 3u);
  EXPECT_EQ(engines[0].name, "NTFS");
  EXPECT_EQ(engines[1].name, "FAT");
  EXPECT_EQ(engines[2].name, "Ext2");

  MemoryDevice device(std::vector<uint8_t>(64 * 512));
  // FAT and Ext2 both claim sector 10: FAT is asked first.
  DetectedFileSystem found = DetectFileSystem(device, 10);
  EXPECT_EQ(found.type, 2);
  EXPECT_EQ(found.label, "FAT");
  EXPECT_EQ(DetectFileSystem(device, 20).type, 3);
  found = DetectFileSystem(device, 30);
  EXPECT_EQ(found.type, 7);
  EXPECT_EQ(found.sectorCount, 0u);
  EXPECT_TRUE(found.label.empty());

  // Registering a kind again replaces its entry.
  ASSERT_TRUE(RegisterFileSystemEngine(Stub(kEngineFat, "FAT", 30, 1)));
  EXPECT_EQ(FileSystemEngines().size(), 3u);
  EXPECT_EQ(DetectFileSystem(device, 30).type, 1);
  EXPECT_TRUE(FileSystemEngineOfKind(kEngineFat)->Recognises(device, 30));
  EXPECT_FALSE(FileSystemEngineOfKind(kEngineFat)->Recognises(device, -1));
}

}  // namespace
