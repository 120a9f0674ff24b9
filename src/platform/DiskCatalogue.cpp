#include "platform/DiskCatalogue.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/Log.h"
#include "platform/TrustedFile.h"

namespace platform {
namespace {

// The kinds of disk in catalogue order; loop devices come last.
constexpr std::string_view kDiskPrefixes[] = {"sd", "vd", "xvd", "hd", "nvme", "mmcblk"};
constexpr int kLoopGroup = static_cast<int>(std::size(kDiskPrefixes));

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() > prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The group of a /sys/block entry, or -1 for devices that are not disks of the catalogue.
int GroupOf(std::string_view name) {
  for (int i = 0; i < kLoopGroup; ++i)
    if (StartsWith(name, kDiskPrefixes[i])) return i;
  if (StartsWith(name, "loop") && IsDigit(name[4])) return kLoopGroup;
  return -1;
}

// Kernel name order: runs of digits compare as numbers and runs of letters by length first, so
// sdz < sdaa and nvme2n1 < nvme10n1, as the kernel hands the names out.
bool NameBefore(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    bool digitA = IsDigit(a[i]), digitB = IsDigit(b[j]);
    size_t endA = i, endB = j;
    while (endA < a.size() && IsDigit(a[endA]) == digitA) ++endA;
    while (endB < b.size() && IsDigit(b[endB]) == digitB) ++endB;
    std::string_view runA = a.substr(i, endA - i), runB = b.substr(j, endB - j);
    if (digitA != digitB) return digitA;  // a number sorts before letters at the same place
    if (digitA) {
      while (runA.size() > 1 && runA.front() == '0') runA.remove_prefix(1);
      while (runB.size() > 1 && runB.front() == '0') runB.remove_prefix(1);
    }
    if (runA.size() != runB.size()) return runA.size() < runB.size();
    if (runA != runB) return runA < runB;
    i = endA;
    j = endB;
  }
  return (a.size() - i) < (b.size() - j);
}

// The first line of a small sysfs attribute file, without its line break; nothing when unreadable.
std::optional<std::string> ReadAttribute(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[PATH_MAX + 64];
  size_t used = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer + used, sizeof buffer - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
    if (used == sizeof buffer) break;
  }
  ::close(fd);
  std::string text(buffer, used);
  size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  return text;
}

bool IsPositiveNumber(const std::optional<std::string>& text) {
  if (!text || text->empty()) return false;
  bool nonzero = false;
  for (char c : *text) {
    if (!IsDigit(c)) return false;
    if (c != '0') nonzero = true;
  }
  return nonzero;
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Whether a /sys/block entry is one of the catalogue's disks, and its backing file for a loop device.
bool AcceptBlockEntry(const std::string& name, const std::string& sysfsPath, int group,
                      std::string* backingFile) {
  if (group == kLoopGroup) {
    // An unbound loop device has no backing_file; a bound one over an empty file has size 0.
    std::optional<std::string> backing = ReadAttribute(sysfsPath + "/loop/backing_file");
    if (!backing || backing->empty()) return false;
    if (!IsPositiveNumber(ReadAttribute(sysfsPath + "/size"))) return false;
    *backingFile = *backing;
    return true;
  }
  if (kDiskPrefixes[group] == "nvme") {
    // The per-controller paths of a multipath namespace (nvme0c0n1) are hidden; the namespace
    // itself is listed.
    std::optional<std::string> hidden = ReadAttribute(sysfsPath + "/hidden");
    if (hidden && *hidden == "1") return false;
  }
  if (kDiskPrefixes[group] == "mmcblk") {
    // mmcblk0boot0 and mmcblk0rpmb are the card's firmware areas, not its user data.
    if (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos) return false;
  }
  return true;
}

// Running as root, whether a source named in CORVALE_DISKS may be read: a block device node of root's
// (device nodes are made by the system, and reading disks is what root is here for), or an image
// file of root's that nobody else may write. Anything a user could have put in place, or that is
// neither, is left out. Checked on the opened file; a source that cannot be opened is kept and
// fails when it is read, like a disk that is not there.
bool MayReadNamedSource(const std::string& item, std::string* why) {
  if (::geteuid() != 0) return true;
  const int fd = ::open(item.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return true;
  struct stat st {};
  const bool examined = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!examined) return true;
  if (S_ISBLK(st.st_mode)) {
    if (st.st_uid == 0) return true;
    *why = "the device node belongs to user " + std::to_string(st.st_uid);
    return false;
  }
  return IsTrustedFileStatus(st, why);
}

std::vector<DiskEntry> ReadNamedDisks(const std::string& sysfsRoot, std::string_view list) {
  std::vector<DiskEntry> disks;
  int position = 0;
  while (!list.empty()) {
    size_t colon = list.find(':');
    std::string item(list.substr(0, colon));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    if (item.empty()) continue;
    const int number = position++;
    std::string why;
    if (!MayReadNamedSource(item, &why)) {
      // Left out, its number unused, so that the others keep the numbers their order gives them.
      LogError("CORVALE_DISKS: %s is not read with root's rights: %s", item.c_str(), why.c_str());
      continue;
    }
    DiskEntry entry;
    entry.name = BaseName(item);
    entry.devicePath = item;
    struct stat st {};
    if (::stat(item.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      std::string link = sysfsRoot + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" +
                         std::to_string(minor(st.st_rdev));
      char resolved[PATH_MAX];
      if (::realpath(link.c_str(), resolved)) entry.sysfsPath = resolved;
      if (!entry.sysfsPath.empty()) {
        std::optional<std::string> backing = ReadAttribute(entry.sysfsPath + "/loop/backing_file");
        if (backing) entry.backingFile = *backing;
      }
    } else {
      // Anything else is taken as an image file; one that cannot be opened fails when its device
      // is opened, like a disk that is not there, and keeps its place in the numbering.
      entry.isImageFile = true;
    }
    entry.number = number;
    disks.push_back(std::move(entry));
  }
  return disks;
}

}  // namespace

std::vector<DiskEntry> ReadDiskCatalogue(const std::string& sysfsRoot, const char* disksVariable) {
  if (disksVariable && *disksVariable) return ReadNamedDisks(sysfsRoot, disksVariable);

  struct Found {
    int group;
    DiskEntry entry;
  };
  std::vector<Found> found;
  const std::string blockRoot = sysfsRoot + "/block";
  if (DIR* dir = ::opendir(blockRoot.c_str())) {
    while (dirent* d = ::readdir(dir)) {
      std::string name = d->d_name;
      if (name.empty() || name[0] == '.') continue;
      int group = GroupOf(name);
      if (group < 0) continue;
      DiskEntry entry;
      entry.name = name;
      entry.devicePath = "/dev/" + name;
      entry.sysfsPath = blockRoot + "/" + name;
      if (!AcceptBlockEntry(name, entry.sysfsPath, group, &entry.backingFile)) continue;
      found.push_back({group, std::move(entry)});
    }
    ::closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.group != b.group) return a.group < b.group;
    return NameBefore(a.entry.name, b.entry.name);
  });
  std::vector<DiskEntry> disks;
  for (Found& f : found) {
    f.entry.number = static_cast<int>(disks.size());
    disks.push_back(std::move(f.entry));
  }
  return disks;
}

std::vector<DiskEntry> ListDisks() {
  const char* named = std::getenv("CORVALE_DISKS");
  if (named && *named) return ReadDiskCatalogue("/sys", named);

  // The identities that have had a number in this run; a disk's number is its index here. A loop
  // device bound to another file is another disk.
  static std::mutex mutex;
  static std::vector<std::pair<std::string, std::string>>* numbered =
      new std::vector<std::pair<std::string, std::string>>;
  std::vector<DiskEntry> disks = ReadDiskCatalogue("/sys", nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  for (DiskEntry& disk : disks) {
    std::pair<std::string, std::string> identity{disk.devicePath, disk.backingFile};
    auto it = std::find(numbered->begin(), numbered->end(), identity);
    if (it == numbered->end()) it = numbered->insert(numbered->end(), identity);
    disk.number = static_cast<int>(it - numbered->begin());
  }
  std::sort(disks.begin(), disks.end(),
            [](const DiskEntry& a, const DiskEntry& b) { return a.number < b.number; });
  return disks;
}

std::optional<DiskEntry> DiskByNumber(int number) {
  for (DiskEntry& disk : ListDisks())
    if (disk.number == number) return disk;
  return std::nullopt;
}

}  // namespace platform
