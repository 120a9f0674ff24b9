#include "DiskTools.h"

#include <cstdio>
#include <sstream>

#include "support/Fixtures.h"

namespace corvale::test {

std::vector<ToolPartition> SfdiskPartitions(const std::string& image) {
  std::string out;
  RunCommand("sfdisk --dump '" + image + "' 2>/dev/null", &out);
  std::vector<ToolPartition> parts;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    // "disk.img1 : start=        2048, size=       12288, type=6"
    long long start = 0, size = 0;
    char type[40] = {};
    const size_t at = l.find("start=");
    if (at == std::string::npos ||
        std::sscanf(l.c_str() + at, "start= %lld, size= %lld, type=%39[0-9a-fA-F]", &start, &size, type) != 3)
      continue;
    const std::string t = type;
    if (t == "5" || t == "f" || t == "85") continue;
    parts.push_back({start, size, t});
  }
  return parts;
}

std::vector<ToolPartition> SgdiskPartitions(const std::string& image) {
  std::string out;
  RunCommand("sgdisk -p '" + image + "' 2>/dev/null", &out);
  std::vector<ToolPartition> parts;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    // "   1            2048           14335   6.0 MiB     EF00  EFI"
    std::istringstream fields(l);
    long long number = 0, first = 0, last = 0;
    std::string size, unit, code;
    if (!(fields >> number >> first >> last >> size >> unit >> code) || code.size() != 4) continue;
    parts.push_back({first, last - first + 1, code});
  }
  return parts;
}

ToolFileSystem BlkidAt(const std::string& image, int64_t start) {
  std::string out;
  RunCommand("blkid -p -O " + std::to_string(start * 512) + " -o export '" + image + "' 2>/dev/null", &out);
  std::string type, version;
  ToolFileSystem found;
  std::istringstream lines(out);
  for (std::string l; std::getline(lines, l);) {
    if (l.rfind("TYPE=", 0) == 0) type = l.substr(5);
    if (l.rfind("VERSION=", 0) == 0) version = l.substr(8);
    if (l.rfind("LABEL=", 0) == 0) found.label = l.substr(6);
  }
  if (type == "ntfs") found.type = 3;
  if (type == "vfat") found.type = version == "FAT32" ? 2 : version == "FAT16" ? 1 : 0;
  if (type == "ext2") found.type = 4;
  if (type == "ext3") found.type = 5;
  return found;
}

}  // namespace corvale::test
