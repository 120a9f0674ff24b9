#include "support/LdmImageBuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/Fixtures.h"

namespace corvale::test::ldm {

namespace {

void Put(std::vector<uint8_t>& out, uint64_t value, unsigned bytes) {
  for (unsigned i = bytes; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutBE(uint8_t* p, uint64_t value, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}
// A number: its length byte and its big-endian bytes without leading zeros (at least one).
void Number(std::vector<uint8_t>& out, uint64_t value) {
  unsigned n = 1;
  while (n < 8 && (value >> (8 * n)) != 0) ++n;
  out.push_back(static_cast<uint8_t>(n));
  Put(out, value, n);
}
void Text(std::vector<uint8_t>& out, const std::string& text) {
  out.push_back(static_cast<uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}
void Zeros(std::vector<uint8_t>& out, size_t n) { out.insert(out.end(), n, 0); }

std::vector<uint8_t> GuidBytes(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < text.size() && bytes.size() < 16;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  bytes.resize(16, 0);
  return bytes;
}

}  // namespace

std::vector<std::array<uint8_t, kSlot>> Slots(uint32_t group, uint32_t sequence, uint8_t type, uint8_t flags,
                                              const std::vector<uint8_t>& data) {
  const size_t rest = data.size() > 104 ? data.size() - 104 : 0;
  const size_t count = 1 + (rest + 111) / 112;
  std::vector<std::array<uint8_t, kSlot>> slots(count);
  for (size_t k = 0; k < count; ++k) {
    auto& s = slots[k];
    s.fill(0);
    std::memcpy(s.data(), "VBLK", 4);
    PutBE(s.data() + 4, sequence + k, 4);
    PutBE(s.data() + 8, group, 4);
    PutBE(s.data() + 12, k, 2);
    PutBE(s.data() + 14, count, 2);
    if (k == 0) {
      s[18] = flags;
      s[19] = type;
      PutBE(s.data() + 20, data.size(), 4);
      std::memcpy(s.data() + 24, data.data(), std::min<size_t>(data.size(), 104));
    } else {
      const size_t from = 104 + (k - 1) * 112;
      std::memcpy(s.data() + 16, data.data() + from, std::min<size_t>(data.size() - from, 112));
    }
  }
  return slots;
}

std::vector<uint8_t> VolumeData(const VolumeRecord& v) {
  std::vector<uint8_t> out;
  Number(out, v.id);
  Text(out, v.name);
  Text(out, "gen");
  Zeros(out, 1);
  Zeros(out, 14);
  out.push_back(v.volumeType);
  Zeros(out, 1);
  out.push_back(0);
  Zeros(out, 3);
  out.push_back(0);
  Number(out, v.components);
  Zeros(out, 16);
  Number(out, v.size);
  Zeros(out, 4);
  out.push_back(v.partitionType);
  out.insert(out.end(), v.guid.begin(), v.guid.end());
  if (!v.driveHint.empty()) Text(out, v.driveHint);
  return out;
}

std::vector<uint8_t> ComponentData(const ComponentRecord& c) {
  std::vector<uint8_t> out;
  Number(out, c.id);
  Text(out, c.name);
  Text(out, "ACTIVE");
  out.push_back(c.type);
  Zeros(out, 4);
  Number(out, c.partitions);
  Zeros(out, 16);
  Number(out, c.volume);
  if (c.stripe != 0) {
    Zeros(out, 1);
    Number(out, c.stripe);
    Number(out, c.columns);
  }
  return out;
}

std::vector<uint8_t> PartitionData(const PartitionRecord& p) {
  std::vector<uint8_t> out;
  Number(out, p.id);
  Text(out, p.name);
  Zeros(out, 12);
  Put(out, p.start, 8);
  Put(out, p.offset, 8);
  Number(out, p.size);
  Number(out, p.component);
  Number(out, p.disk);
  if (p.column >= 0) Number(out, static_cast<uint64_t>(p.column));
  return out;
}

std::vector<uint8_t> DiskData(const DiskRecord& d) {
  std::vector<uint8_t> out;
  Number(out, d.id);
  Text(out, d.name);
  if (d.secondRevision) {
    const auto guid = GuidBytes(d.guid);
    out.insert(out.end(), guid.begin(), guid.end());
  } else {
    Text(out, d.guid);
    Text(out, "");
  }
  return out;
}

std::vector<uint8_t> VblkSlots(const Description& d) {
  std::vector<uint8_t> out;
  uint32_t group = 1;
  uint32_t sequence = 5;
  auto add = [&](uint8_t type, uint8_t flags, const std::vector<uint8_t>& data) {
    for (const auto& slot : Slots(group, sequence, type, flags, data)) {
      out.insert(out.end(), slot.begin(), slot.end());
      ++sequence;
    }
    ++group;
  };
  for (const auto& disk : d.disks) add(disk.secondRevision ? 0x44 : 0x34, 0, DiskData(disk));
  for (const auto& v : d.volumes) add(0x51, v.driveHint.empty() ? 0 : 2, VolumeData(v));
  for (const auto& c : d.components) add(0x32, c.stripe ? 0x10 : 0, ComponentData(c));
  for (const auto& p : d.partitions) add(0x33, p.column >= 0 ? 0x08 : 0, PartitionData(p));
  return out;
}

std::vector<uint8_t> PrivHead(const Header& h) {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(b.data(), "PRIVHEAD", 8);
  PutBE(b.data() + 0x0C, 2, 2);
  PutBE(b.data() + 0x0E, 12, 2);
  std::memcpy(b.data() + 0x30, h.diskGuid.data(), std::min<size_t>(h.diskGuid.size(), 63));
  std::memcpy(b.data() + 0xF0, h.group.data(), std::min<size_t>(h.group.size(), 31));
  PutBE(b.data() + 0x11B, h.logicalStart, 8);
  PutBE(b.data() + 0x123, h.logicalSize, 8);
  PutBE(b.data() + 0x12B, h.configStart, 8);
  PutBE(b.data() + 0x133, h.configSize, 8);
  PutBE(b.data() + 0x13B, 2, 8);     // TOC blocks
  PutBE(b.data() + 0x143, 2046, 8);  // TOC size
  PutBE(b.data() + 0x14B, 1, 4);     // configurations
  PutBE(b.data() + 0x14F, 1, 4);     // logs
  PutBE(b.data() + 0x153, 1468, 8);  // configuration size
  PutBE(b.data() + 0x15B, 224, 8);   // log size
  return b;
}

namespace {

std::vector<std::pair<uint64_t, std::vector<uint8_t>>> Blocks(uint64_t diskSectors, const Header& h,
                                                              const std::vector<uint8_t>& slots,
                                                              bool copyAtSix, uint64_t headerSector) {
  std::vector<std::pair<uint64_t, std::vector<uint8_t>>> fragments;
  const auto head = PrivHead(h);
  fragments.emplace_back(headerSector == UINT64_MAX ? diskSectors - 1 : headerSector, head);
  if (copyAtSix) fragments.emplace_back(6, head);
  for (uint64_t toc : {1, 2}) {
    std::vector<uint8_t> b(512, 0);
    std::memcpy(b.data(), "TOCBLOCK", 8);
    std::memcpy(b.data() + 0x24, "config", 6);
    PutBE(b.data() + 0x2E, kFirstVblkSector - 1, 8);
    std::memcpy(b.data() + 0x46, "log", 3);
    fragments.emplace_back(h.configStart + toc, b);
  }
  std::vector<uint8_t> vmdb(512, 0);
  std::memcpy(vmdb.data(), "VMDB", 4);
  PutBE(vmdb.data() + 0x08, kSlot, 4);
  PutBE(vmdb.data() + 0x0C, 512, 4);
  fragments.emplace_back(h.configStart + kFirstVblkSector - 1, vmdb);
  fragments.emplace_back(h.configStart + kFirstVblkSector, slots);
  return fragments;
}

}  // namespace

void WriteDatabase(std::vector<uint8_t>& disk, const Header& h, const std::vector<uint8_t>& slots,
                   bool copyAtSix, uint64_t headerSector) {
  for (const auto& [sector, bytes] : Blocks(disk.size() / 512, h, slots, copyAtSix, headerSector)) {
    const size_t at = static_cast<size_t>(sector) * 512;
    if (at >= disk.size()) continue;
    std::memcpy(disk.data() + at, bytes.data(), std::min(bytes.size(), disk.size() - at));
  }
}

bool WriteDatabase(const std::string& path, const Header& h, const std::vector<uint8_t>& slots,
                   bool copyAtSix, uint64_t headerSector) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  for (const auto& [sector, bytes] :
       Blocks(static_cast<uint64_t>(st.st_size) / 512, h, slots, copyAtSix, headerSector)) {
    ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(sector * 512)) ==
                   static_cast<ssize_t>(bytes.size());
  }
  return ::close(fd) == 0 && ok;
}

std::string DynamicDiskGuid(size_t index) {
  char text[40];
  std::snprintf(text, sizeof text, "5c1a7e40-91c4-11e0-8a3b-00155d01%04zx", index);
  return text;
}

bool WriteDynamicDisks(const std::vector<std::string>& paths, uint64_t diskSectors,
                       const std::vector<PlacedVolume>& volumes, std::string* why) {
  std::string ignored;
  std::string& problem = why ? *why : ignored;
  constexpr uint64_t kLogical = 63, kConfigSectors = 2048;
  if (diskSectors <= kLogical + kConfigSectors) return problem = "disks too small", false;
  const uint64_t configStart = diskSectors - kConfigSectors;
  for (const std::string& path : paths) {
    std::string out;
    if (RunCommand("rm -f '" + path + "' && truncate -s " + std::to_string(diskSectors * 512) + " '" + path +
                       "' && printf 'label: dos\\nstart=63, type=42\\n' | sfdisk --quiet --no-reread "
                       "--no-tell-kernel '" +
                       path + "' 2>&1",
                   &out) != 0)
      return problem = "sfdisk: " + out, false;
  }
  Description d;
  for (size_t i = 0; i < paths.size(); ++i)
    d.disks.push_back({0x10 + i, "Disk" + std::to_string(i + 1), DynamicDiskGuid(i)});
  std::vector<uint64_t> used(paths.size(), 0);
  uint64_t id = 0x100;
  for (const PlacedVolume& v : volumes) {
    const uint64_t volumeId = id++, componentId = id++;
    uint64_t offset = 0;
    for (const auto& [disk, sectors] : v.pieces) {
      if (disk >= paths.size() || kLogical + used[disk] + sectors > configStart ||
          (offset + sectors) * 512 > v.bytes.size())
        return problem = "volume " + v.name + " does not fit", false;
      d.partitions.push_back(
          {id++, "Disk" + std::to_string(disk + 1) + "-0" + std::to_string(d.partitions.size() + 1),
           used[disk], offset, sectors, componentId, 0x10 + disk});
      const int fd = ::open(paths[disk].c_str(), O_WRONLY);
      const size_t bytes = static_cast<size_t>(sectors * 512);
      const bool written = fd >= 0 && ::pwrite(fd, v.bytes.data() + offset * 512, bytes,
                                               static_cast<off_t>((kLogical + used[disk]) * 512)) ==
                                          static_cast<ssize_t>(bytes);
      if (fd >= 0) ::close(fd);
      if (!written) return problem = "cannot write " + paths[disk], false;
      used[disk] += sectors;
      offset += sectors;
    }
    d.volumes.push_back({volumeId, v.name, 3, v.partitionType, offset, v.guid, 1, ""});
    d.components.push_back({componentId, v.name + "-01", 2, volumeId, v.pieces.size()});
  }
  const std::vector<uint8_t> slots = VblkSlots(d);
  for (size_t i = 0; i < paths.size(); ++i) {
    Header h;
    h.diskGuid = d.disks[i].guid;
    h.group = kDynamicGroup;
    h.logicalStart = kLogical;
    h.configStart = configStart;
    h.logicalSize = configStart - kLogical;
    if (!WriteDatabase(paths[i], h, slots, true)) return problem = "cannot write the database", false;
  }
  return true;
}

}  // namespace corvale::test::ldm
