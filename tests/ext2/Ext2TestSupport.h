#pragma once
// Shared pieces of the Ext2 tests: the fixture images, what e2fsprogs says about them (the reference
// every reading is compared with), and whole-file reads through the block maps.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ext2/DirEntry.h"
#include "ext2/Ext2File.h"
#include "ext2/Ext2FileSystem.h"
#include "storage/MemoryDevice.h"
#include "support/Fixtures.h"

namespace ext2test {

struct Image {
  const char* script;
  const char* name;
};
inline constexpr Image kTree1k{"ext2_1k_tree.sh", "ext2_1k_tree.img"};
inline constexpr Image kTree4k{"ext3_4k_tree.sh", "ext3_4k_tree.img"};
inline constexpr Image kRev0{"ext2_rev0.sh", "ext2_rev0.img"};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  std::fseek(f, 0, SEEK_END);
  out.resize(static_cast<size_t>(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
  std::fclose(f);
  return out;
}

inline uint64_t FileBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// A debugfs request on `image` (read-only); its standard output.
inline std::string Debugfs(const std::string& image, const std::string& request) {
  std::string out;
  corvale::test::RunCommand("debugfs -R '" + request + "' '" + image + "' 2>/dev/null", &out);
  return out;
}

// Several debugfs requests in one run; the output of each, in order.
inline std::vector<std::string> DebugfsBatch(const std::string& image,
                                             const std::vector<std::string>& requests) {
  std::string file = corvale::test::ScratchDir() + "/requests";
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    for (const std::string& r : requests) std::fprintf(f, "%s\n", r.c_str());
    std::fclose(f);
  }
  std::string out;
  corvale::test::RunCommand("debugfs -f '" + file + "' '" + image + "' 2>/dev/null", &out);
  // Each request's output follows the line that echoes it ("debugfs: <request>").
  std::vector<std::string> outputs;
  size_t at = 0;
  for (const std::string& r : requests) {
    std::string echo = "debugfs: " + r + "\n";
    size_t begin = out.find(echo, at);
    if (begin == std::string::npos) {
      outputs.emplace_back();
      continue;
    }
    begin += echo.size();
    size_t end = out.find("debugfs: ", begin);
    outputs.push_back(out.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    at = begin;
  }
  return outputs;
}

// One line of `debugfs ls -p`.
struct LsEntry {
  uint32_t inode = 0;
  uint32_t mode = 0;
  std::string name;
  uint64_t size = 0;
};

// `ls -p` lines: /inode/mode/uid/gid/name/size/ ("." and ".." included).
inline std::vector<LsEntry> DebugfsLs(const std::string& image, const std::string& path) {
  std::vector<LsEntry> out;
  std::istringstream lines(Debugfs(image, "ls -p \"" + path + "\""));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() < 2 || line[0] != '/') continue;
    std::vector<std::string> parts;
    size_t start = 1;
    for (size_t slash; (slash = line.find('/', start)) != std::string::npos; start = slash + 1)
      parts.push_back(line.substr(start, slash - start));
    if (parts.size() < 6) continue;
    LsEntry e;
    e.inode = static_cast<uint32_t>(std::stoul(parts[0]));
    e.mode = static_cast<uint32_t>(std::stoul(parts[1], nullptr, 8));
    e.name = parts[4];
    e.size = parts[5].empty() ? 0 : std::stoull(parts[5]);
    out.push_back(e);
  }
  return out;
}

// The inode number debugfs gives `name` in folder `dir`; 0 when it lists no such name.
inline uint32_t DebugfsInode(const std::string& image, const std::string& dir, const std::string& name) {
  for (const LsEntry& e : DebugfsLs(image, dir))
    if (e.name == name) return e.inode;
  return 0;
}

// A field of `dumpe2fs -h` ("Block count:" ...), as text; empty when absent.
inline std::string DumpField(const std::string& dump, const std::string& field) {
  std::istringstream lines(dump);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind(field + ":", 0) == 0) {
      std::string v = line.substr(field.size() + 1);
      size_t b = v.find_first_not_of(' ');
      return b == std::string::npos ? std::string() : v.substr(b);
    }
  return {};
}

// The decimal (or, with base 16, hexadecimal) number after each occurrence of `key` in `text`.
inline std::vector<uint64_t> NumbersAfter(const std::string& text, const std::string& key, int base = 10) {
  std::vector<uint64_t> out;
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    size_t p = at + key.size();
    size_t len = 0;
    while (p + len < text.size() && std::isxdigit(static_cast<unsigned char>(text[p + len])) &&
           (base == 16 || std::isdigit(static_cast<unsigned char>(text[p + len]))))
      ++len;
    if (len != 0) out.push_back(std::stoull(text.substr(p, len), nullptr, base));
  }
  return out;
}

// Data blocks of a file as `debugfs stat` lists them ("(0-11):1505-1516, (IND):1517, (12):1518"):
// logical block -> physical block.
inline std::map<uint64_t, uint64_t> DebugfsDataBlocks(const std::string& image, const std::string& path) {
  std::map<uint64_t, uint64_t> out;
  std::string stat = Debugfs(image, "stat \"" + path + "\"");
  size_t at = stat.find("BLOCKS:");
  if (at == std::string::npos) return out;
  std::istringstream runs(stat.substr(at + 7));
  std::string run;
  while (std::getline(runs, run, ',')) {
    unsigned long long first, last, physical;
    if (std::sscanf(run.c_str(), " (%llu-%llu):%llu", &first, &last, &physical) == 3 ||
        (std::sscanf(run.c_str(), " (%llu):%llu", &first, &physical) == 2 && (last = first, true)))
      for (uint64_t l = first; l <= last; ++l) out[l] = physical + (l - first);
  }
  return out;
}

// An image file as a device in memory, so tests can change bytes and count reads.
inline std::unique_ptr<MemoryDevice> LoadImage(const std::string& path, int32_t sectorSize = 512) {
  return std::make_unique<MemoryDevice>(ReadFileBytes(path), sectorSize);
}

// An image file seen as a device with sectors of `sectorSize` bytes, after `padBytes` bytes of 0xA5
// (so the file system starts there, as a partition would); read positionally, nothing loaded. Bytes
// can be changed on the way out (Patch), which is how the corruption tests damage an image without
// copying it, and reads are counted.
class PaddedImageDevice : public IStorageDevice {
 public:
  PaddedImageDevice(const std::string& path, int32_t sectorSize = 512, uint64_t padBytes = 0)
      : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), m_pad(padBytes), m_size(sectorSize) {
    struct stat st {};
    if (m_fd >= 0 && ::fstat(m_fd, &st) == 0) m_fileBytes = static_cast<uint64_t>(st.st_size);
  }
  ~PaddedImageDevice() override {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ReadSectors(void* buffer, uint64_t first, uint64_t count) override {
    m_log.emplace_back(first, count);
    if (first > static_cast<uint64_t>(GetSectorCount()) || count > GetSectorCount() - first) return false;
    uint8_t* out = static_cast<uint8_t*>(buffer);
    const uint64_t start = first * m_size;
    uint64_t at = start;
    uint64_t left = count * m_size;
    while (left > 0 && at < m_pad) {
      *out++ = 0xA5;
      ++at;
      --left;
    }
    if (left != 0 && ::pread(m_fd, out, left, static_cast<off_t>(at - m_pad)) != static_cast<ssize_t>(left))
      return false;
    for (auto it = m_patches.lower_bound(start); it != m_patches.end() && it->first < start + count * m_size;
         ++it)
      static_cast<uint8_t*>(buffer)[it->first - start] = it->second;
    return true;
  }
  int64_t GetSectorCount() override { return static_cast<int64_t>((m_pad + m_fileBytes) / m_size); }
  int32_t GetSectorSize() override { return m_size; }
  bool Open() override { return m_fd >= 0; }
  bool Close() override { return true; }

  // Device byte `offset` reads as `value` from now on.
  void Patch(uint64_t offset, uint8_t value) { m_patches[offset] = value; }
  // A little-endian value of `width` bytes at device byte `offset`.
  void PatchLE(uint64_t offset, uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i) Patch(offset + i, static_cast<uint8_t>(value >> (8 * i)));
  }
  void ClearPatches() { m_patches.clear(); }
  const std::vector<std::pair<uint64_t, uint64_t>>& ReadLog() const { return m_log; }
  uint64_t ReadCount() const { return m_log.size(); }

 private:
  int m_fd;
  uint64_t m_pad;
  int32_t m_size;
  uint64_t m_fileBytes = 0;
  std::map<uint64_t, uint8_t> m_patches;
  std::vector<std::pair<uint64_t, uint64_t>> m_log;
};

// A file's bytes read through its block list: holes as zeros, cut at the file size.
inline std::vector<uint8_t> ReadThroughBlocks(const CExt2File& file) {
  const uint64_t size = file.GetFileSize();
  const uint32_t blockSize = file.GetFileSystem()->GetBlockSize();
  std::vector<uint8_t> out(size, 0);
  CExt2BlockIterator it = file.BlocksBegin();
  const CExt2BlockIterator end = file.BlocksEnd();
  for (; !(it == end); ++it) {
    uint64_t at = static_cast<uint64_t>(it.GetIndex()) * blockSize;
    if (at >= size) break;
    if (it.GetPhysicalBlock() == 0) continue;
    CExt2BlockIterator::BlockView view = it.GetBlock();
    if (view.buffer == nullptr) continue;
    uint64_t n = std::min<uint64_t>(view.length, size - at);
    std::copy(view.buffer, view.buffer + n, out.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return out;
}

// The file at `path` ("/docs/readme.md"), walked from the root through the directory entries.
inline bool FindPath(const CExt2FileSystem& fs, const std::string& path, std::unique_ptr<CExt2File>* out) {
  auto current = std::make_unique<CExt2File>(&fs, 2u);
  size_t start = 1;
  while (start <= path.size() && start != 0) {
    size_t slash = path.find('/', start);
    std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    start = slash == std::string::npos ? path.size() + 1 : slash + 1;
    if (part.empty()) continue;
    std::unique_ptr<CExt2File> next;
    for (CExt2DirEntry e = current->EntriesBegin(), end = current->EntriesEnd(); !(e == end); ++e) {
      if (e.GetInodeNumber() == 0) continue;
      CExt2File f = e.MakeFile();
      if (std::string(f.GetName(), f.GetNameLength()) == part) {
        next = std::make_unique<CExt2File>(f);
        break;
      }
    }
    if (!next) return false;
    current = std::move(next);
  }
  *out = std::move(current);
  return true;
}

// The names a directory's walk gives, with their inode numbers.
inline std::map<std::string, uint32_t> ListDirectory(const CExt2File& dir) {
  std::map<std::string, uint32_t> out;
  for (CExt2DirEntry e = dir.EntriesBegin(), end = dir.EntriesEnd(); !(e == end); ++e) {
    if (e.GetInodeNumber() == 0) continue;
    CExt2File f = e.MakeFile();
    out[std::string(f.GetName(), f.GetNameLength())] = f.GetInodeNumber();
  }
  return out;
}

}  // namespace ext2test

// Declares `var` as the path of one of the images above, or skips the test.
#define EXT2_IMAGE(var, image) CORVALE_FIXTURE(var, (image).script, (image).name)
