#include "controls/Formatting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::string Printf(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  *month = shifted < 10 ? shifted + 3 : shifted - 9;
  *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

// One line of /proc/self/mountinfo, the fields this file needs.
struct MountEntry {
  dev_t device = 0;
  std::string mountPoint;
  std::string type;
  std::string source;
};

// Mount points in mountinfo escape blanks and a few other characters as \ooo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
      out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<MountEntry> ReadMounts() {
  std::vector<MountEntry> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    if (!(fields >> id >> parent >> majorMinor >> root >> mountPoint)) continue;
    // Optional fields up to the separator "-", then type and source.
    std::string word;
    while (fields >> word && word != "-") {
    }
    MountEntry entry;
    if (!(fields >> entry.type >> entry.source)) continue;
    unsigned major = 0;
    unsigned minor = 0;
    if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2) continue;
    entry.device = makedev(major, minor);
    entry.mountPoint = Unescape(mountPoint);
    entry.source = Unescape(entry.source);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

// The mount that holds `path`: the last mount of the path's device whose mount point is a prefix of
// the path (the last one hides earlier mounts at the same place).
const MountEntry* MountOf(const std::vector<MountEntry>& mounts, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return nullptr;
  const MountEntry* best = nullptr;
  for (const MountEntry& mount : mounts) {
    if (mount.device != st.st_dev) continue;
    const std::string& point = mount.mountPoint;
    bool under = path == point || point == "/" ||
                 (path.compare(0, point.size(), point) == 0 && path.size() > point.size() &&
                  path[point.size()] == '/');
    if (under && (!best || point.size() >= best->mountPoint.size())) best = &mount;
  }
  return best;
}

// True when the device's (or image file's) first sector carries the NTFS name at offset 3.
bool BootSectorSaysNtfs(const std::string& device) {
  if (device.empty() || device[0] != '/') return false;
  int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
    close(fd);
    return false;
  }
  char name[4] = {};
  ssize_t got = pread(fd, name, sizeof name, 3);
  close(fd);
  return got == static_cast<ssize_t>(sizeof name) && std::memcmp(name, "NTFS", 4) == 0;
}

}  // namespace

std::string FormatByteSize(int64_t bytes) {
  const double value = static_cast<double>(bytes);
  if (bytes >= (int64_t{1} << 40)) return Printf("%.2f TB", value / 1099511627776.0);
  if (bytes >= (int64_t{1} << 30)) return Printf("%.2f GB", value / 1073741824.0);
  if (bytes >= (int64_t{1} << 20)) return Printf("%.2f MB", value / 1048576.0);
  return Printf("%.2f KB", value / 1024.0);
}

std::string FormatSectorSize(int64_t sectors, uint32_t bytesPerSector) {
  if (bytesPerSector == 0 || bytesPerSector % 512 != 0) bytesPerSector = 512;
  // Sector counts come from disks and state files; the product is taken modulo 2^64 rather than
  // overflowing a signed number.
  const uint64_t product = static_cast<uint64_t>(sectors) * bytesPerSector;
  return FormatByteSize(static_cast<int64_t>(product));
}

std::string FileTimeToText(uint64_t fileTime) {
  if (fileTime > static_cast<uint64_t>(INT64_MAX)) return std::string();
  constexpr uint64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSecondsPerDay = 86400;
  constexpr int64_t kDaysFrom1601To1970 = 134774;
  const uint64_t seconds = fileTime / kTicksPerSecond;
  const int64_t days = static_cast<int64_t>(seconds / kSecondsPerDay) - kDaysFrom1601To1970;
  const int64_t secondOfDay = static_cast<int64_t>(seconds % kSecondsPerDay);
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, &year, &month, &day);
  char text[80];
  std::snprintf(text, sizeof text, "%lld-%u-%u %d:%d:%d", static_cast<long long>(year), month, day,
                static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60),
                static_cast<int>(secondOfDay % 60));
  return text;
}

const char* GetFileSystemName(uint32_t fileSystemType) {
  static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown"};
  return fileSystemType < sizeof kNames / sizeof kNames[0] ? kNames[fileSystemType] : "";
}

bool IsNTFSVolume(const char* rootPath) {
  if (!rootPath || !rootPath[0]) return false;
  std::vector<MountEntry> mounts = ReadMounts();
  const MountEntry* mount = MountOf(mounts, rootPath);
  if (!mount) return false;
  if (mount->type == "ntfs" || mount->type == "ntfs3") return true;
  // ntfs-3g mounts a device as "fuseblk" and an image file as "fuse"; any FUSE file system can have
  // those types, so the source's own boot sector decides.
  const std::string& type = mount->type;
  if (type == "fuse" || type == "fuseblk" || type.rfind("fuse.", 0) == 0 || type.rfind("fuseblk.", 0) == 0)
    return BootSectorSaysNtfs(mount->source);
  return false;
}

bool GetRootPathOfPath(const char* path, std::string* root) {
  if (!path || !root) return false;
  const size_t length = std::strlen(path);
  if (length < 2 || length > 260) return false;
  // The work copy is sized from the input, so the separator added below always fits.
  std::string work(path);
  const bool posix = work[0] == '/';
  const char separator = posix ? '/' : '\\';
  if (work.back() != separator) work += separator;

  const char first = static_cast<char>(std::toupper(static_cast<unsigned char>(work[0])));
  if (first >= 'A' && first <= 'Z' && work[1] == ':') {
    *root = work.substr(0, 3);
    return true;
  }
  if (work[0] == '\\' && work[1] == '\\') {
    size_t second = work.find('\\', 2);
    size_t third = second == std::string::npos ? std::string::npos : work.find('\\', second + 1);
    *root = third == std::string::npos ? work.substr(0, second + 1) : work.substr(0, third + 1);
    return true;
  }
  if (posix) {
    // The path may name a folder still to be made: the nearest existing folder above it decides.
    std::string existing = work;
    struct stat st {};
    while (existing.size() > 1 && stat(existing.c_str(), &st) != 0) {
      existing.pop_back();
      existing.erase(existing.rfind('/') + 1);
    }
    std::vector<MountEntry> mounts = ReadMounts();
    const MountEntry* mount = MountOf(mounts, existing);
    std::string point = mount ? mount->mountPoint : "/";
    if (point.back() != '/') point += '/';
    *root = point;
    return true;
  }
  root->clear();
  return true;
}

int CompareNamesNaturally(const char* a, const char* b) {
  const unsigned char* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
  const unsigned char* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
  auto isDigit = [](unsigned char c) { return c >= '0' && c <= '9'; };
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
  int tieBreak = 0;  // decided by case or leading zeros when nothing else differs
  while (*x != 0 && *y != 0) {
    if (isDigit(*x) && isDigit(*y)) {
      const unsigned char* xs = x;
      const unsigned char* ys = y;
      while (*xs == '0') ++xs;
      while (*ys == '0') ++ys;
      const unsigned char* xe = xs;
      const unsigned char* ye = ys;
      while (isDigit(*xe)) ++xe;
      while (isDigit(*ye)) ++ye;
      // Without their leading zeros, a longer run of digits is the larger number.
      if (xe - xs != ye - ys) return xe - xs < ye - ys ? -1 : 1;
      for (; xs < xe; ++xs, ++ys)
        if (*xs != *ys) return *xs < *ys ? -1 : 1;
      if (tieBreak == 0 && (xs - x) != (ys - y)) tieBreak = (xs - x) < (ys - y) ? -1 : 1;
      x = xe;
      y = ye;
      continue;
    }
    if (lower(*x) != lower(*y)) return lower(*x) < lower(*y) ? -1 : 1;
    if (tieBreak == 0 && *x != *y) tieBreak = *x < *y ? -1 : 1;
    ++x;
    ++y;
  }
  if (*x != 0 || *y != 0) return *x == 0 ? -1 : 1;
  return tieBreak;
}
