#pragma once
// What the partitioning and identification tools say about a disk image, to hold the program's
// reading against: the partitions of `sfdisk --dump` (MBR) or `sgdisk -p` (GPT), and the file
// system `blkid` finds at a partition's start.

#include <cstdint>
#include <string>
#include <vector>

namespace corvale::test {

struct ToolPartition {
  int64_t start = 0;
  int64_t sectors = 0;
  std::string type;  // the MBR type byte in hex, or the GPT type code
};

// The data partitions of the image's MBR (extended containers left out), in table order.
std::vector<ToolPartition> SfdiskPartitions(const std::string& image);
// The partitions of the image's GPT, in entry order.
std::vector<ToolPartition> SgdiskPartitions(const std::string& image);

struct ToolFileSystem {
  int32_t type = 7;  // the program's type code: 0 FAT12 ... 5 EXT3, 7 none
  std::string label;
};
// What blkid finds at sector `start` of the image.
ToolFileSystem BlkidAt(const std::string& image, int64_t start);

}  // namespace corvale::test
