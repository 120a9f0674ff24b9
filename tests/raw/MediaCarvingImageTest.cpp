// The whole media disk carved: a FAT disk holding sound, video, font, drawing and PostScript files
// written by their tools, whose boot sector, FATs and root folder were wiped. Every file is found
// at its start, typed, given the length its analyser's rule gives, and its bytes on the disk are
// the original's.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "RawTestSupport.h"
#include "core/IntelligentSearchController.h"
#include "raw/RAWSearchController.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileTypeTable.h"
#include "raw/RawSectorReader.h"
#include "storage/ImageFileDevice.h"

namespace {

using namespace rawtest;

struct MediaFile {
  std::string name;
  Bytes bytes;
  int32_t type;
  uint64_t length;  // by the analyser's rule
};

// A TrueType font's length by the rule, read independently of the analyser: the table directory
// and every table, each rounded up to 4 bytes.
uint64_t TrueTypeRuleLength(const Bytes& f) {
  corvale::ByteReader r(f.data(), f.size());
  const uint64_t tables = r.be16(4);
  uint64_t size = 12 + 16 * tables;
  for (uint64_t i = 0; i < tables; ++i) size += (uint64_t{r.be32(12 + 16 * i + 12)} + 3) / 4 * 4;
  return size;
}

MediaFile Expect(const std::string& dir, const std::string& name) {
  std::string file = name.rfind("b_", 0) == 0 ? name.substr(2) : name;
  MediaFile m{name, ReadFile(dir + "/media/" + file), 0, 0};
  const std::string ext = file.substr(file.rfind('.') + 1);
  static const std::map<std::string, int32_t> types = {
      {"mp3", kRawTypeMP3}, {"mp4", kRawTypeMP4},  {"3gp", kRawType3GP}, {"3g2", kRawType3GP},
      {"mov", kRawTypeMOV}, {"avi", kRawTypeAVI},  {"wav", kRawTypeWAV}, {"wmv", kRawTypeASF},
      {"asf", kRawTypeASF}, {"au", kRawTypeAU},    {"swf", kRawTypeSWF}, {"mid", kRawTypeMID},
      {"ttf", kRawTypeTTF}, {"eps", kRawTypeEPS},  {"dxf", kRawTypeDXF}, {"3ds", kRawType3DS},
      {"dwg", kRawTypeDWG}, {"fh11", kRawTypeFH11}};
  m.type = types.at(ext);
  m.length = ext == "ttf" ? TrueTypeRuleLength(m.bytes) : m.bytes.size();
  return m;
}

TEST(RawCarving, FindsEveryMediaFileOfAWipedFatDiskWithItsLengthAndBytes) {
  CORVALE_FIXTURE(dir, "raw_media.sh", "raw_media");
  CImageFileDevice disk(dir + "/fat_wiped.img");
  ASSERT_TRUE(disk.IsOpened());
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());

  std::map<uint64_t, MediaFile> truth;
  std::ifstream manifest(dir + "/manifest.txt");
  uint64_t start;
  std::string name;
  while (manifest >> start >> name) truth.emplace(start, Expect(dir, name));
  ASSERT_EQ(truth.size(), 31u);

  // The scan as the program runs it: every built-in type chosen, the RAW controller alone in the
  // whole-device search.
  CRawFileInfoList found;
  CRAWSearchController controller;
  controller.SetResultSink(&found);
  CIntelligentSearchController driver;
  driver.SetStartSectorSource([] { return uint64_t{0}; });
  driver.SetStorageDevice(&disk);
  driver.AddFileSystemSearchController(&controller);
  ASSERT_EQ(driver.Search(nullptr), 1);

  std::map<uint64_t, CRawFileInfo*> byStart;
  IIterator<CRawFileInfo*>* it = found.GetIterator();
  for (; !it->IsEnd(); it->Next()) byStart[it->Current()->GetStartSector()] = it->Current();

  const uint64_t lookAheadFrom = sectors - CRAWSearchController::kLookAheadBlocks * 8192;
  size_t measuredLater = 0;
  for (const auto& [at, media] : truth) {
    SCOPED_TRACE(media.name + " at sector " + std::to_string(at));
    ASSERT_EQ(byStart.count(at), 1u);
    CRawFileInfo* f = byStart[at];
    // Files in the last 20 blocks wait for the result tree; measure them as it does.
    if (f->GetFileSize() == 0) {
      ++measuredLater;
      EXPECT_GE(at, lookAheadFrom);
      ASSERT_TRUE(f->GetAnalyser()->ComputeFileSize(f, &disk));
      f->SetFileSize(corvale::CapRawFileSize(f->GetFileSize(), (sectors - at) * 512));
    }
    EXPECT_EQ(f->GetFileType(), media.type);
    EXPECT_EQ(f->GetFileSize(), media.length);
    const uint64_t compare = std::min<uint64_t>(f->GetFileSize(), media.bytes.size());
    Bytes onDisk((compare + 511) / 512 * 512);
    ASSERT_TRUE(disk.ReadSectors(onDisk.data(), at, onDisk.size() / 512));
    EXPECT_TRUE(
        std::equal(media.bytes.begin(), media.bytes.begin() + static_cast<long>(compare), onDisk.begin()));
    // The tag's title (UTF-16 in an ID3v2.3 tag, UTF-8 in a v2.4 one) and year name the file.
    if (media.name == "tagged.mp3") {
      EXPECT_EQ(f->GetFirstInfoText(), "Quiet Tone \xC3\xA9");
      EXPECT_EQ(f->GetSecondInfoText(), "2009");
    }
    if (media.name == "v24.mp3") {
      EXPECT_EQ(f->GetFirstInfoText(),
                "Gr\xC3\xBC\xC3\x9F"
                "e");
    }
  }
  // Group B lies in the last 20 blocks; the files before the filler were measured in the scan.
  EXPECT_EQ(measuredLater, 6u);

  // Carving goes on inside found files, and nothing else is found: every other find lies inside one
  // of the files.
  for (const auto& [at, f] : byStart) {
    if (truth.count(at)) continue;
    SCOPED_TRACE("extra find at sector " + std::to_string(at) + " type " + std::to_string(f->GetFileType()));
    auto owner = truth.upper_bound(at);
    ASSERT_NE(owner, truth.begin());
    --owner;
    EXPECT_LT((at - owner->first) * 512, owner->second.bytes.size());
  }
}

}  // namespace
