#include "platform/SourceDisk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <set>
#include <sstream>

namespace platform {
namespace {

// Stacks deeper or wider than this are not real; the walks stop there and the answer is unknown.
constexpr size_t kMaxDevices = 4096;
constexpr int kMaxBackingDepth = 8;

const char kSysDevBlock[] = "/sys/dev/block/";
const char kSysClassBlock[] = "/sys/class/block/";

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// "8:1" into a device number.
std::optional<uint64_t> ParseDev(const std::string& text) {
  unsigned maj = 0;
  unsigned min = 0;
  char colon = 0;
  std::istringstream in(text);
  if (!(in >> maj >> colon >> min) || colon != ':') return std::nullopt;
  return static_cast<uint64_t>(makedev(maj, min));
}

// The sysfs folder of block device `dev`, links resolved, or empty.
std::string SysFolderOf(uint64_t dev) {
  std::string link = kSysDevBlock + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  char resolved[PATH_MAX];
  if (!realpath(link.c_str(), resolved)) return {};
  return resolved;
}

std::optional<uint64_t> DevOfName(const std::string& name) {
  return ParseDev(ReadLine(kSysClassBlock + name + "/dev"));
}

struct Walk {
  std::set<uint64_t> devices;
  bool failed = false;

  bool Add(uint64_t dev) {
    if (devices.size() >= kMaxDevices) {
      failed = true;
      return false;
    }
    return devices.insert(dev).second;
  }
};

// Every device stacked over those already in the walk, at any depth.
void AddHolders(Walk& walk) {
  std::deque<uint64_t> queue(walk.devices.begin(), walk.devices.end());
  while (!queue.empty() && !walk.failed) {
    uint64_t dev = queue.front();
    queue.pop_front();
    std::string folder = SysFolderOf(dev);
    if (folder.empty()) continue;
    for (const std::string& holder : Entries(folder + "/holders")) {
      std::optional<uint64_t> h = DevOfName(holder);
      if (h && walk.Add(*h)) queue.push_back(*h);
    }
  }
}

// The disk whose sysfs folder is `disk`, and all its partitions.
bool AddDiskAndPartitions(const std::string& disk, Walk& walk) {
  std::optional<uint64_t> diskDev = ParseDev(ReadLine(disk + "/dev"));
  if (!diskDev) return false;
  walk.Add(*diskDev);
  for (const std::string& name : Entries(disk)) {
    if (!Exists(disk + "/" + name + "/partition")) continue;
    if (std::optional<uint64_t> part = ParseDev(ReadLine(disk + "/" + name + "/dev"))) walk.Add(*part);
  }
  return true;
}

// The loop devices (with their partitions) whose backing file is the file `st` describes.
void AddLoopsOver(const struct stat& file, Walk& walk) {
  for (const std::string& name : Entries(kSysClassBlock)) {
    if (name.rfind("loop", 0) != 0) continue;
    std::string backing = ReadLine(kSysClassBlock + name + "/loop/backing_file");
    struct stat st {};
    if (backing.empty() || stat(backing.c_str(), &st) != 0) continue;
    if (st.st_dev == file.st_dev && st.st_ino == file.st_ino) {
      char resolved[PATH_MAX];
      std::string link = kSysClassBlock + name;
      if (realpath(link.c_str(), resolved)) AddDiskAndPartitions(resolved, walk);
    }
  }
}

void AddFileSource(const struct stat& file, Walk& walk, int depth);

// The disks at the bottom of block device `dev`, with their partitions. A loop device at the bottom
// leads to the file behind it.
void AddBlockSource(uint64_t dev, Walk& walk, int depth) {
  std::string folder = SysFolderOf(dev);
  if (folder.empty() || depth > kMaxBackingDepth) {
    walk.failed = true;
    return;
  }
  std::set<std::string> visited;
  std::deque<std::string> queue{folder};
  while (!queue.empty() && !walk.failed) {
    std::string at = queue.front();
    queue.pop_front();
    if (!visited.insert(at).second || visited.size() > kMaxDevices) continue;
    std::vector<std::string> slaves = Entries(at + "/slaves");
    for (const std::string& slave : slaves) {
      std::optional<uint64_t> s = DevOfName(slave);
      std::string below = s ? SysFolderOf(*s) : std::string();
      if (below.empty()) {
        walk.failed = true;
        return;
      }
      queue.push_back(below);
    }
    if (!slaves.empty()) continue;
    // A partition of a loop device has the loop device's folder above it.
    std::string disk = Exists(at + "/partition") ? at.substr(0, at.rfind('/')) : at;
    std::string backing = ReadLine(disk + "/loop/backing_file");
    if (!backing.empty()) {
      struct stat st {};
      if (stat(backing.c_str(), &st) != 0) {
        walk.failed = true;
        return;
      }
      AddFileSource(st, walk, depth + 1);
      AddDiskAndPartitions(disk, walk);
      continue;
    }
    // A partition's disk is the folder above it; the disk brings all its partitions along.
    if (!AddDiskAndPartitions(disk, walk)) {
      walk.failed = true;
      return;
    }
  }
}

// An image file: the file system that holds it, and the loop devices attached to it.
void AddFileSource(const struct stat& file, Walk& walk, int depth) {
  if (depth > kMaxBackingDepth) {
    walk.failed = true;
    return;
  }
  walk.Add(static_cast<uint64_t>(file.st_dev));
  AddLoopsOver(file, walk);
}

struct MountLine {
  uint64_t dev;
  std::string source;
};

// Field 3 of /proc/self/mountinfo is the st_dev of the mount's files; the mount source follows the
// " - " separator and the file-system type.
std::vector<MountLine> Mounts() {
  std::vector<MountLine> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    if (!(fields >> id >> parent >> majmin)) continue;
    std::optional<uint64_t> dev = ParseDev(majmin);
    size_t dash = line.find(" - ");
    if (!dev || dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    mounts.push_back({*dev, source});
  }
  return mounts;
}

// File systems mounted from a device of the walk, under the device number their files report.
void AddMountedFrom(Walk& walk) {
  for (const MountLine& mount : Mounts()) {
    if (mount.source.empty() || mount.source[0] != '/') continue;
    struct stat st {};
    if (stat(mount.source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    if (walk.devices.count(static_cast<uint64_t>(st.st_rdev))) walk.Add(mount.dev);
  }
}

}  // namespace

std::optional<std::vector<uint64_t>> SourceDeviceNumbers(const std::string& source) {
  struct stat st {};
  if (source.empty() || stat(source.c_str(), &st) != 0) return std::nullopt;
  Walk walk;
  if (S_ISBLK(st.st_mode)) {
    AddBlockSource(static_cast<uint64_t>(st.st_rdev), walk, 0);
  } else if (S_ISREG(st.st_mode)) {
    AddFileSource(st, walk, 0);
  } else {
    return std::nullopt;
  }
  if (!walk.failed) AddHolders(walk);
  if (!walk.failed) AddMountedFrom(walk);
  if (walk.failed || walk.devices.empty()) return std::nullopt;
  return std::vector<uint64_t>(walk.devices.begin(), walk.devices.end());
}

std::vector<uint64_t> AllMountedDeviceNumbers() {
  std::vector<uint64_t> devices;
  for (const MountLine& mount : Mounts()) devices.push_back(mount.dev);
  return devices;
}

TargetPlace WhereIsTarget(const std::string& source, const std::string& target) {
  if (target.empty()) return TargetPlace::Unknown;
  // A target folder that does not exist yet will be made inside its nearest existing folder.
  std::string at = target;
  struct stat st {};
  while (stat(at.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) return TargetPlace::Unknown;
    while (at.size() > 1 && at.back() == '/') at.pop_back();
    size_t slash = at.rfind('/');
    if (slash == std::string::npos) {
      at = ".";
    } else {
      at = slash == 0 ? "/" : at.substr(0, slash);
    }
    if (at == "/" && stat(at.c_str(), &st) != 0) return TargetPlace::Unknown;
  }
  std::optional<std::vector<uint64_t>> devices = SourceDeviceNumbers(source);
  if (!devices) return TargetPlace::Unknown;
  bool on = std::find(devices->begin(), devices->end(), static_cast<uint64_t>(st.st_dev)) != devices->end();
  return on ? TargetPlace::OnSource : TargetPlace::OffSource;
}

}  // namespace platform
