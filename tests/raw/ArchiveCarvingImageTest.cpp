// An image of archives written by the archivers (and the two no Debian package writes, by hand), back
// to back from sector boundaries with pseudo-random slack: every archive is found at its start,
// typed (Office documents told apart inside ZIP), given the length its analyser's rule gives, and
// its bytes on the image are the original's.
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

struct Archive {
  std::string name;
  Bytes bytes;
  int32_t type;
  uint64_t length;  // by the analyser's rule
};

// A tar archive's length by the rule, read independently of the analyser: its headers and their
// members, up to and with the first zero block.
uint64_t TarRuleLength(const Bytes& f) {
  uint64_t pos = 0;
  while (pos + 512 <= f.size()) {
    const auto block = f.begin() + static_cast<long>(pos);
    if (std::all_of(block, block + 512, [](uint8_t b) { return b == 0; })) return pos + 512;
    const uint64_t size = std::stoull(std::string(block + 124, block + 135), nullptr, 8);
    pos += 512 + (size + 511) / 512 * 512;
  }
  return pos;
}

Archive Expect(const std::string& dir, const std::string& name, uint64_t bytesToDeviceEnd) {
  Archive a{name, ReadFile(dir + "/archives/" + name), 0, 0};
  const std::string ext = name.substr(name.rfind('.') + 1);
  static const std::map<std::string, int32_t> types = {
      {"zip", kRawTypeZIP}, {"docx", kRawTypeDOCX}, {"xlsx", kRawTypeXLSX}, {"pptx", kRawTypePPTX},
      {"gz", kRawTypeGZ},   {"tar", kRawTypeTAR},   {"cab", kRawTypeCAB},   {"lzh", kRawTypeLZH},
      {"rar", kRawTypeRAR}, {"chm", kRawTypeCHM}};
  a.type = types.at(ext);
  a.length = a.bytes.size();
  // A GZIP stream tells no length: it runs to the maximum size or the device's end.
  if (ext == "gz") a.length = corvale::CapRawFileSize(UINT64_MAX, bytesToDeviceEnd);
  if (ext == "tar") a.length = TarRuleLength(a.bytes);
  // The walk stops at the header that is not one: the archive's end byte is left out.
  if (ext == "lzh") a.length -= 1;
  return a;
}

TEST(RawCarving, FindsEveryArchiveBackToBackWithItsLengthAndBytes) {
  CORVALE_FIXTURE(dir, "raw_archives.sh", "raw_archives");
  CImageFileDevice disk(dir + "/archives.img");
  ASSERT_TRUE(disk.IsOpened());
  const uint64_t sectors = static_cast<uint64_t>(disk.GetSectorCount());

  std::map<uint64_t, Archive> truth;
  std::ifstream manifest(dir + "/manifest.txt");
  uint64_t start;
  std::string name;
  while (manifest >> start >> name) truth.emplace(start, Expect(dir, name, (sectors - start) * 512));
  ASSERT_GE(truth.size(), 12u);

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

  for (const auto& [at, archive] : truth) {
    SCOPED_TRACE(archive.name + " at sector " + std::to_string(at));
    ASSERT_EQ(byStart.count(at), 1u);
    CRawFileInfo* f = byStart[at];
    // The image lies wholly in the scan's look-ahead: the result tree measures what the header did
    // not; measure as it does.
    if (f->GetFileSize() == 0) {
      ASSERT_TRUE(f->GetAnalyser()->ComputeFileSize(f, &disk));
      f->SetFileSize(corvale::CapRawFileSize(f->GetFileSize(), (sectors - at) * 512));
    }
    EXPECT_EQ(f->GetFileType(), archive.type);
    EXPECT_EQ(f->GetFileSize(), archive.length);
    const uint64_t compare = std::min<uint64_t>(f->GetFileSize(), archive.bytes.size());
    Bytes onDisk((compare + 511) / 512 * 512);
    ASSERT_TRUE(disk.ReadSectors(onDisk.data(), at, onDisk.size() / 512));
    EXPECT_TRUE(std::equal(archive.bytes.begin(), archive.bytes.begin() + static_cast<long>(compare),
                           onDisk.begin()));
  }

  // Carving goes on inside found files: the only other finds are the member headers of the tar
  // archives, each itself a tar header.
  for (const auto& [at, f] : byStart) {
    if (truth.count(at)) continue;
    SCOPED_TRACE("extra find at sector " + std::to_string(at));
    auto owner = truth.upper_bound(at);
    ASSERT_NE(owner, truth.begin());
    --owner;
    EXPECT_EQ(owner->second.type, kRawTypeTAR);
    EXPECT_LT((at - owner->first) * 512, owner->second.bytes.size());
    EXPECT_EQ(f->GetFileType(), kRawTypeTAR);
  }
}

}  // namespace
