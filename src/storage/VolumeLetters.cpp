#include "storage/VolumeLetters.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace corvale {

namespace {

struct Table {
  std::mutex mutex;
  std::vector<LetteredVolume> volumes;
};

Table& Letters() {
  static Table table;
  return table;
}

std::optional<uint64_t> ReadNumber(const std::filesystem::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

std::optional<std::pair<unsigned, unsigned>> ReadDevNumber(const std::filesystem::path& file) {
  std::ifstream in(file);
  unsigned major = 0, minor = 0;
  char colon = 0;
  if (!(in >> major >> colon >> minor) || colon != ':') return std::nullopt;
  return std::make_pair(major, minor);
}

// Undoes the octal escapes (\040 for a space ...) of a path in mountinfo.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    auto octal = [&](size_t k) { return text[k] >= '0' && text[k] <= '7'; };
    if (text[i] == '\\' && i + 3 < text.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::optional<PartitionNode> FindPartitionNode(const std::string& diskDir, uint64_t startSector,
                                               int32_t sectorSize) {
  namespace fs = std::filesystem;
  if (sectorSize < 512 || diskDir.empty()) return std::nullopt;
  std::error_code ec;
  const fs::path disk = diskDir;
  std::vector<fs::path> parts;
  for (const auto& entry : fs::directory_iterator(disk, ec))
    if (fs::exists(entry.path() / "partition", ec)) parts.push_back(entry.path());
  std::sort(parts.begin(), parts.end());
  for (const fs::path& part : parts) {
    const std::optional<uint64_t> start = ReadNumber(part / "start");
    if (!start || *start * 512 / uint64_t(sectorSize) != startSector) continue;
    const auto number = ReadDevNumber(part / "dev");
    if (!number) continue;
    PartitionNode node;
    node.name = part.filename().string();
    node.devicePath = "/dev/" + node.name;
    node.major = number->first;
    node.minor = number->second;
    return node;
  }
  return std::nullopt;
}

std::optional<std::pair<unsigned, unsigned>> BlockDeviceNumber(const std::string& dir) {
  if (dir.empty()) return std::nullopt;
  return ReadDevNumber(std::filesystem::path(dir) / "dev");
}

std::string MountPointOf(const std::string& mountinfoPath, unsigned major, unsigned minor) {
  std::ifstream in(mountinfoPath);
  const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    if (device == wanted) return Unescape(mountPoint);
  }
  return {};
}

std::optional<PartitionNode> FindDynamicVolumeNode(const std::string& sysfsRoot, const std::string& groupName,
                                                   const std::string& volumeName) {
  namespace fs = std::filesystem;
  if (groupName.empty() || volumeName.empty()) return std::nullopt;
  const std::string wanted = "ldm_vol_" + groupName + "_" + volumeName;
  std::error_code ec;
  std::vector<fs::path> devices;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "block", ec))
    if (fs::exists(entry.path() / "dm" / "name", ec)) devices.push_back(entry.path());
  std::sort(devices.begin(), devices.end());
  for (const fs::path& device : devices) {
    std::ifstream in(device / "dm" / "name");
    std::string name;
    if (!std::getline(in, name) || name != wanted) continue;
    const auto number = ReadDevNumber(device / "dev");
    if (!number) continue;
    PartitionNode node;
    node.name = device.filename().string();
    node.devicePath = "/dev/mapper/" + name;
    node.major = number->first;
    node.minor = number->second;
    return node;
  }
  return std::nullopt;
}

void SetLetteredVolumes(std::vector<LetteredVolume> volumes) {
  Table& table = Letters();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.volumes = std::move(volumes);
}

std::vector<LetteredVolume> LetteredVolumes() {
  Table& table = Letters();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.volumes;
}

std::optional<LetteredVolume> VolumeOfLetter(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  Table& table = Letters();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const LetteredVolume& v : table.volumes)
    if (v.letter == upper) return v;
  return std::nullopt;
}

}  // namespace corvale

namespace {

// The first letter, from A to Z, whose volume `matches`; 0 when none does.
template <typename Match>
char FirstLetterWhere(Match matches) {
  const std::vector<corvale::LetteredVolume> volumes = corvale::LetteredVolumes();
  char best = 0;
  for (const corvale::LetteredVolume& v : volumes)
    if (v.letter != 0 && matches(v) && (best == 0 || v.letter < best)) best = v.letter;
  return best;
}

}  // namespace

char FindDriveLetterOfDynamicVolume(const std::string& volumeName, const std::string& groupName) {
  if (volumeName.empty()) return 0;
  return FirstLetterWhere([&](const corvale::LetteredVolume& v) {
    return v.dynamic && v.dynamicName == volumeName && v.dynamicGroup == groupName;
  });
}

char GetDriveLetterOfVolumeGuid(const std::array<uint8_t, 16>& guid) {
  if (guid == std::array<uint8_t, 16>{}) return 0;
  return FirstLetterWhere([&](const corvale::LetteredVolume& v) { return v.volumeGuid == guid; });
}
