// The whole picture disk carved: a FAT disk full of ImageMagick pictures whose boot sector, FATs and
// root folder were wiped. Every picture is found at its true start, typed, given the length its
// analyser's rule gives, and its bytes on the disk are the original's.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "RawTestSupport.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace rawtest;

constexpr uint64_t kBlockSectors = 8192;  // the whole-device scan's 4 MiB blocks

struct Picture {
  std::string name;
  Bytes bytes;
  int32_t type;
  uint64_t length;  // by the analyser's rule
};

int32_t TypeOf(const std::string& name) {
  const std::string ext = name.substr(name.rfind('.') + 1);
  static const std::map<std::string, int32_t> types = {
      {"jpg", kRawTypeJPG}, {"png", kRawTypePNG}, {"gif", kRawTypeGIF}, {"bmp", kRawTypeBMP},
      {"tif", kRawTypeTIF}, {"nef", kRawTypeNEF}, {"psd", kRawTypePSD}, {"ico", kRawTypeICO}};
  return types.at(ext);
}

// Where each picture lies on the disk: the sectors whose bytes are a picture's first sector.
std::map<uint64_t, const Picture*> TrueStarts(IStorageDevice& disk, const std::vector<Picture>& pictures) {
  std::map<std::string, const Picture*> byHead;
  for (const Picture& p : pictures) byHead[std::string(p.bytes.begin(), p.bytes.begin() + 512)] = &p;
  std::map<uint64_t, const Picture*> starts;
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());
  Bytes block(kBlockSectors * 512);
  for (uint64_t first = 0; first < sectors; first += kBlockSectors) {
    const uint64_t n = std::min(kBlockSectors, sectors - first);
    EXPECT_TRUE(disk.ReadSectors(block.data(), first, n));
    for (uint64_t i = 0; i < n; ++i) {
      auto it = byHead.find(std::string(block.begin() + static_cast<long>(i * 512),
                                        block.begin() + static_cast<long>(i * 512 + 512)));
      if (it != byHead.end()) starts[first + i] = it->second;
    }
  }
  return starts;
}

TEST(RawCarving, FindsEveryPictureOfAWipedFatDiskWithItsBytes) {
  CORVALE_FIXTURE(dir, "raw_pictures.sh", "raw_pictures");
  std::vector<Picture> pictures;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/pictures")) {
    const std::string name = e.path().filename().string();
    if (name == "progressive_exif.jpg" || name == "exif_placeholder.jpg") continue;  // not on the disk
    Bytes bytes = ReadFile(e.path().string());
    const int32_t type = TypeOf(name);
    const uint64_t length = type == kRawTypeTIF || type == kRawTypeNEF ? TiffRuleLength(bytes) : bytes.size();
    pictures.push_back({name, std::move(bytes), type, length});
  }
  CImageFileDevice disk(dir + "/fat_wiped.img");
  ASSERT_TRUE(disk.IsOpened());
  const std::map<uint64_t, const Picture*> truth = TrueStarts(disk, pictures);
  ASSERT_EQ(truth.size(), 23u);  // group A's 19 pictures and group B's 4 behind the filler

  // The scan as the program runs it: every built-in type chosen, the RAW controller alone in the
  // whole-device search, its blocks read through the read-ahead cache.
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);
  const IntelligentSearchSummary summary = driver.GetSummary();
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());

  EXPECT_EQ(summary.FilesIdentified, static_cast<int64_t>(truth.size()));
  EXPECT_EQ(summary.TotalFilesFound, static_cast<int64_t>(truth.size()));
  const uint64_t blocks = (sectors + kBlockSectors - 1) / kBlockSectors;
  const uint64_t lookAheadFrom = (blocks - CRAWSearchController::kLookAheadBlocks) * kBlockSectors;
  std::map<uint64_t, CRawFileInfo*> byStart;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) byStart[it->Current()->GetStartSector()] = it->Current();
  ASSERT_EQ(byStart.size(), truth.size());

  size_t measuredLater = 0;
  for (const auto& [start, picture] : truth) {
    SCOPED_TRACE(picture->name + " at sector " + std::to_string(start));
    ASSERT_EQ(byStart.count(start), 1u);
    CRawFileInfo* f = byStart[start];
    if (f->GetFileSize() == 0 && picture->length != 0) {
      ++measuredLater;
      // Only files in the last 20 blocks wait for the result tree; measure them as it does.
      EXPECT_GE(start, lookAheadFrom);
      ASSERT_TRUE(f->GetAnalyser()->ComputeFileSize(f, &disk));
    }
    EXPECT_EQ(f->GetFileType(), picture->type);
    EXPECT_EQ(f->GetFileSize(), picture->length);
    const uint64_t compare = std::min<uint64_t>(f->GetFileSize(), picture->bytes.size());
    Bytes onDisk(((compare + 511) / 512) * 512);
    ASSERT_TRUE(disk.ReadSectors(onDisk.data(), start, onDisk.size() / 512));
    EXPECT_TRUE(std::equal(picture->bytes.begin(), picture->bytes.begin() + static_cast<long>(compare),
                           onDisk.begin()));
    if (picture->name == "exif_thumb.jpg" && start < lookAheadFrom) {
      EXPECT_EQ(f->GetFirstInfoText(), "Canon EOS 5D");
    }
  }
  // Group B lies in the last 20 blocks; the pictures before the filler were measured in the scan.
  EXPECT_EQ(measuredLater, 4u);
}

}  // namespace
