#pragma once
// The FAT test images (tests/fixtures/fat_*.sh), opened as devices, and what the tests compare them
// with: the content every fixture file holds, and what mtools itself says about the image.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fat/BootSector.h"
#include "fat/FATFileProperties.h"
#include "fat/FATTable.h"
#include "storage/IStorageDevice.h"

namespace fattest {

struct FatFixture {
  const char* script;
  const char* image;
  int fatBits;
  uint32_t sectorsPerCluster;
  uint32_t sectorSize;
  const char* label;
  int32_t typeCode;  // what the boot-sector classifier answers
};

// Every image fat_filled.sh makes, with the arguments its script gives.
const std::vector<FatFixture>& FatImages();
void PrintTo(const FatFixture& fixture, std::ostream* os);

struct OpenedImage {
  std::string path;
  std::unique_ptr<IStorageDevice> device;
  std::vector<uint8_t> bootSector;  // the first 512 bytes
  corvale::fat::FatBootSector boot;
  corvale::fat::FatVolumeGeometry geometry;
  std::unique_ptr<IFATTable> fat;  // the first FAT copy, read whatever the classifier says
};

// Makes (or finds) the image and opens it; false with *why set when it cannot be made.
bool OpenFatImage(const FatFixture& fixture, OpenedImage* out, std::string* why);

// The bytes of a file fat_filled.sh made with TAG and SIZE.
std::string Pattern(const std::string& tag, size_t size);

struct FoundEntry {
  std::string name;
  std::unique_ptr<CFATFileProperties> properties;
};

// The bytes of a directory: the fixed root (cluster 0 on FAT12/16), or the chain from
// `firstCluster`; a deleted folder's chain is freed, so one cluster is read for it.
std::vector<uint8_t> ReadDirectoryBytes(OpenedImage& image, uint32_t firstCluster, bool deleted);
// The files of a directory's bytes, each from its entries, as a directory build groups them.
std::vector<FoundEntry> ParseDirectory(const std::vector<uint8_t>& bytes, uint32_t clusterCount,
                                       uint32_t selfCluster);
// The entries of the folder at `path` ("" for the root, names joined by "/"; deleted folders are
// followed too). False when a name on the way is not a folder of its parent.
bool ListFolder(OpenedImage& image, const std::string& path, std::vector<FoundEntry>* out);
// The entry `name` of the folder at `folder`, live ones first; null when there is none.
std::unique_ptr<CFATFileProperties> FindEntry(OpenedImage& image, const std::string& folder,
                                              const std::string& name, bool deleted);

struct MdirLine {
  std::string shortName;  // name and extension joined by "." as mdir shows them
  std::string longName;   // empty when the file has none
  bool directory = false;
  uint64_t size = 0;
  std::string minute;  // "YYYY-MM-DD hh:mm"
};
// What `mdir -a` lists for `folder` ("." and ".." left out).
std::vector<MdirLine> Mdir(const std::string& image, const std::string& folder);
// The clusters mshowfat gives for a path, in chain order.
std::vector<uint32_t> MshowfatClusters(const std::string& image, const std::string& path);

// "YYYY-MM-DD hh:mm" of a FILETIME whose fields count as UTC.
std::string FormatMinute(uint64_t filetime);

}  // namespace fattest

// Opens fixture image `fixture` as `var`, or skips the test saying why it is missing.
#define FAT_IMAGE(var, fixture)                                                       \
  ::fattest::OpenedImage var;                                                         \
  {                                                                                   \
    std::string var##_why;                                                            \
    if (!::fattest::OpenFatImage(fixture, &var, &var##_why))                          \
      GTEST_SKIP() << "fixture " << (fixture).image << " unavailable: " << var##_why; \
  }
