#include "FatTestSupport.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fat/FATDBR.h"
#include "fat/FATDirEntry.h"
#include "fat/FatChain.h"
#include "storage/ImageFileDevice.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

using namespace corvale::fat;

namespace fattest {

const std::vector<FatFixture>& FatImages() {
  static const std::vector<FatFixture> images = {
      {"fat12_floppy.sh", "fat12_floppy.img", 12, 1, 512, "FLOPPY12", kFatTypeNone},
      {"fat16_4k_clusters.sh", "fat16_4k_clusters.img", 16, 4, 512, "FAT16VOL", kFatType16},
      {"fat16_small_clusters.sh", "fat16_small_clusters.img", 16, 1, 512, "SMALL16", kFatType16},
      {"fat16_4k_sectors.sh", "fat16_4k_sectors.img", 16, 1, 4096, "BIGSECTORS", kFatType16},
      {"fat32_small_clusters.sh", "fat32_small_clusters.img", 32, 1, 512, "FAT32VOL", kFatType32},
      {"fat32_4k_clusters.sh", "fat32_4k_clusters.img", 32, 8, 512, "FAT32BIG", kFatType32},
  };
  return images;
}

void PrintTo(const FatFixture& fixture, std::ostream* os) { *os << fixture.image; }

namespace {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::error_code ec;
  std::vector<uint8_t> bytes(static_cast<size_t>(std::filesystem::file_size(path, ec)));
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

bool OpenFatImage(const FatFixture& fixture, OpenedImage* out, std::string* why) {
  out->path = corvale::test::FixtureImage(fixture.script, fixture.image, why);
  if (out->path.empty()) return false;
  if (fixture.sectorSize == 512) {
    auto device = std::make_unique<CImageFileDevice>(out->path);
    if (!device->IsOpened()) {
      *why = "cannot open " + out->path;
      return false;
    }
    out->device = std::move(device);
  } else {
    out->device =
        std::make_unique<MemoryDevice>(ReadFileBytes(out->path), static_cast<int32_t>(fixture.sectorSize));
  }
  std::vector<uint8_t> first(fixture.sectorSize);
  if (!out->device->ReadSectors(first.data(), 0, 1)) {
    *why = "cannot read the boot sector";
    return false;
  }
  out->bootSector.assign(first.begin(), first.begin() + 512);
  if (!FatBootSector::Parse(out->bootSector.data(), 512, out->boot).IsValid() ||
      !out->boot.GetGeometry(out->geometry).IsValid()) {
    *why = "the boot sector does not parse";
    return false;
  }
  const int32_t type = fixture.fatBits == 12 ? kFatType12 : fixture.fatBits == 16 ? kFatType16 : kFatType32;
  out->fat = CreateFATTable(out->device.get(), type, out->geometry.fatStart, out->geometry.sectorsPerFat);
  if (!out->fat) {
    *why = "the first FAT copy is not valid";
    return false;
  }
  return true;
}

std::string Pattern(const std::string& tag, size_t size) {
  std::string text;
  text.reserve(size + 32);
  char line[64];
  for (unsigned i = 1; text.size() < size; ++i) {
    std::snprintf(line, sizeof line, "%s %07u\n", tag.c_str(), i);
    text += line;
  }
  text.resize(size);
  return text;
}

std::vector<uint8_t> ReadDirectoryBytes(OpenedImage& image, uint32_t firstCluster, bool deleted) {
  const FatVolumeGeometry& g = image.geometry;
  const uint32_t ss = g.bytesPerSector;
  std::vector<uint8_t> bytes;
  if (firstCluster == 0 && g.variant != FatVariant::Fat32) {
    bytes.resize(static_cast<size_t>(g.rootDirSectors) * ss);
    if (!image.device->ReadSectors(bytes.data(), g.rootDirStart, g.rootDirSectors)) bytes.clear();
    return bytes;
  }
  if (firstCluster == 0) firstCluster = g.rootCluster;
  std::vector<uint32_t> clusters;
  if (deleted) {
    clusters.push_back(firstCluster);
  } else {
    FollowFATChain(*image.fat, firstCluster, g.clusterCount, 1 << 16, &clusters);
  }
  for (uint32_t c : clusters) {
    const auto sector = g.ClusterToSector(0, c);
    if (!sector) break;
    const size_t at = bytes.size();
    bytes.resize(at + g.clusterBytes);
    if (!image.device->ReadSectors(bytes.data() + at, *sector, g.sectorsPerCluster)) {
      bytes.resize(at);
      break;
    }
  }
  return bytes;
}

std::vector<FoundEntry> ParseDirectory(const std::vector<uint8_t>& bytes, uint32_t clusterCount,
                                       uint32_t selfCluster) {
  std::vector<FoundEntry> found;
  const FatDirEntryLimits limits{clusterCount, selfCluster};
  size_t sequence = SIZE_MAX;
  for (size_t offset = 0; offset + 32 <= bytes.size(); offset += 32) {
    const CFATDirEntry entry(bytes.data(), bytes.size(), offset);
    if (entry.IsEnd()) break;
    if (!isPlausibleFatDirEntry(bytes.data(), bytes.size(), offset, limits)) {
      sequence = SIZE_MAX;
      continue;
    }
    if (entry.IsLongNamePiece()) {
      if (sequence == SIZE_MAX) sequence = offset;
      continue;
    }
    const size_t start = sequence == SIZE_MAX ? offset : sequence;
    sequence = SIZE_MAX;
    if (entry.IsVolumeLabel() || entry.IsDotEntry() || entry.IsDotDotEntry()) continue;
    FoundEntry item;
    item.properties = CreateFATFileFromEntries(bytes.data() + start, offset + 32 - start);
    if (!item.properties) continue;
    item.name = item.properties->GetName();
    found.push_back(std::move(item));
  }
  return found;
}

bool ListFolder(OpenedImage& image, const std::string& path, std::vector<FoundEntry>* out) {
  uint32_t cluster = 0;
  bool deleted = false;
  std::vector<FoundEntry> entries =
      ParseDirectory(ReadDirectoryBytes(image, 0, false), image.geometry.clusterCount, 0);
  std::stringstream parts(path);
  std::string name;
  while (std::getline(parts, name, '/')) {
    if (name.empty()) continue;
    const FoundEntry* next = nullptr;
    for (const FoundEntry& e : entries) {
      if (e.name == name && e.properties->IsFolder() && (next == nullptr || !e.properties->IsDeleted()))
        next = &e;
    }
    if (next == nullptr) return false;
    cluster = next->properties->GetFirstCluster();
    deleted = deleted || next->properties->IsDeleted();
    entries =
        ParseDirectory(ReadDirectoryBytes(image, cluster, deleted), image.geometry.clusterCount, cluster);
  }
  *out = std::move(entries);
  return true;
}

std::unique_ptr<CFATFileProperties> FindEntry(OpenedImage& image, const std::string& folder,
                                              const std::string& name, bool deleted) {
  std::vector<FoundEntry> entries;
  if (!ListFolder(image, folder, &entries)) return nullptr;
  for (FoundEntry& e : entries) {
    if (e.name == name && e.properties->IsDeleted() == deleted) return std::move(e.properties);
  }
  return nullptr;
}

namespace {

bool IsDate(const std::string& text, size_t at) {
  static const char kShape[] = "dddd-dd-dd";
  if (at + 10 > text.size()) return false;
  for (size_t i = 0; i < 10; ++i) {
    const char c = text[at + i];
    if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != '-') return false;
  }
  return true;
}

}  // namespace

std::vector<MdirLine> Mdir(const std::string& image, const std::string& folder) {
  std::string text;
  corvale::test::RunCommand("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mdir -a -i " + Quote(image) + " " +
                                Quote("::/" + folder) + " 2>/dev/null",
                            &text);
  std::vector<MdirLine> lines;
  // "NAME     EXT      SIZE 2026-12-10  13:26  Long name", with <DIR> in place of a folder's size.
  std::stringstream in(text);
  std::string row;
  while (std::getline(in, row)) {
    size_t date = row.find(' ');
    while (date != std::string::npos && !IsDate(row, date + 1)) date = row.find(' ', date + 1);
    if (date == std::string::npos) continue;
    std::stringstream before(row.substr(0, date));
    std::vector<std::string> words;
    for (std::string w; before >> w;) words.push_back(w);
    if (words.size() < 2) continue;
    MdirLine l;
    l.directory = words.back() == "<DIR>";
    l.size = l.directory ? 0 : std::stoull(words.back());
    words.pop_back();
    if (words[0] == "." || words[0] == "..") continue;
    l.shortName = words.size() > 1 ? words[0] + "." + words[1] : words[0];
    std::stringstream after(row.substr(date + 1));
    std::string day, time;
    after >> day >> time;
    // mdir writes hours before ten without their leading zero (" 0:12"): the same minute as "00:12".
    l.minute = day + " " + (time.size() == 4 ? "0" + time : time);
    const size_t longStart = row.find("  ", row.find(time, date + 11) + time.size());
    if (longStart != std::string::npos) {
      l.longName = row.substr(longStart + 2);
      while (!l.longName.empty() && l.longName.back() == ' ') l.longName.pop_back();
    }
    lines.push_back(l);
  }
  return lines;
}

std::vector<uint32_t> MshowfatClusters(const std::string& image, const std::string& path) {
  std::string text;
  corvale::test::RunCommand("MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mshowfat -i " + Quote(image) + " " +
                                Quote("::/" + path) + " 2>/dev/null",
                            &text);
  std::vector<uint32_t> clusters;
  // "::/path <5-7> <9>"
  for (size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
    const size_t close = text.find('>', open);
    if (close == std::string::npos) break;
    const std::string range = text.substr(open + 1, close - open - 1);
    const size_t dash = range.find('-');
    const uint32_t first = static_cast<uint32_t>(std::stoul(range.substr(0, dash)));
    const uint32_t last =
        dash == std::string::npos ? first : static_cast<uint32_t>(std::stoul(range.substr(dash + 1)));
    for (uint32_t c = first; c <= last; ++c) clusters.push_back(c);
  }
  return clusters;
}

std::string FormatMinute(uint64_t filetime) {
  uint64_t seconds = filetime / 10000000;
  uint64_t days = seconds / 86400;
  seconds %= 86400;
  unsigned year = 1601;
  const auto leap = [](unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  while (days >= (leap(year) ? 366u : 365u)) days -= leap(year++) ? 366 : 365;
  static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  unsigned month = 0;
  for (;;) {
    const unsigned inMonth = kDays[month] + (month == 1 && leap(year) ? 1 : 0);
    if (days < inMonth) break;
    days -= inMonth;
    ++month;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", year, month + 1,
                static_cast<unsigned>(days + 1), static_cast<unsigned>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60));
  return text;
}

}  // namespace fattest
