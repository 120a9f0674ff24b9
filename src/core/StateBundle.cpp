#include "core/StateBundle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>

#include "platform/FolderWalk.h"
#include "platform/Log.h"
#include "platform/OutputOwner.h"
#include "platform/ProgramFolder.h"

namespace {

constexpr uint32_t kCrcPolynomial = 0x1770;

const std::array<uint32_t, 256>& CrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t v = i << 24;
      for (int step = 0; step < 8; ++step) v = (v & 0x80000000u) ? (v << 1) ^ kCrcPolynomial : v << 1;
      t[i] = v;
    }
    return t;
  }();
  return table;
}

void PutLE(uint8_t* p, uint64_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t GetLE(const uint8_t* p, unsigned n) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

// A descriptor closed when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool PreadAll(int fd, uint8_t* data, size_t n, uint64_t at) {
  while (n > 0) {
    const ssize_t r = ::pread(fd, data, n, static_cast<off_t>(at));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    data += r;
    n -= static_cast<size_t>(r);
    at += static_cast<uint64_t>(r);
  }
  return true;
}

// A file beside `target` with a name of its own, created exclusively; its path in `tempPath`.
// The name does not end in ".rdf", so an interrupted import never looks like a state file.
int CreateTempBeside(const std::string& target, std::string& tempPath) {
  const std::filesystem::path p(target);
  std::string pattern = (p.parent_path() / ("." + p.filename().string() + ".partial-XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) tempPath = pattern;
  return fd;
}

// A file beside `name` in `folder`, made exclusively under a name of its own (in `tempName`), which
// does not end in ".rdf" either.
int CreateTempIn(int folder, const std::string& name, std::string& tempName) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    tempName = "." + name + ".partial-" + suffix;
    const int fd = platform::CreateFileIn(folder, tempName, O_RDWR, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

// A name a bundle may carry: a plain ".rdf" file name with no folder part and no way out of the
// program folder.
bool IsPlainStateFileName(const std::string& name) {
  if (name.size() <= 4 || name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
      name.find("..") != std::string::npos || name[0] == '.')
    return false;
  return name.compare(name.size() - 4, 4, ".rdf") == 0;
}

// The bytes [offset, offset + size) of `fd` in pieces of 4096, each piece's CRC added to `sum` and,
// with `out` >= 0, written there.
bool CopyPieces(int fd, uint64_t offset, uint64_t size, int out, uint32_t& sum) {
  uint8_t piece[CStateBundle::kPieceSize];
  while (size > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, sizeof(piece)));
    if (!PreadAll(fd, piece, n, offset)) return false;
    sum += BundleCrc32(0, piece, n);
    if (out >= 0 && !WriteAll(out, piece, n)) return false;
    offset += n;
    size -= n;
  }
  return true;
}

}  // namespace

uint32_t BundleCrc32(uint32_t crc, const void* data, size_t n) {
  const auto& table = CrcTable();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

CStateBundle::CStateBundle(bool gather, std::string folder, MessageSink messages)
    : m_folder(folder.empty() ? platform::ProgramFolder() : std::move(folder)),
      m_messages(std::move(messages)) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
  if (gather) Gather();
}

void CStateBundle::Show(int32_t id) const {
  if (m_messages) m_messages(id);
}

bool CStateBundle::Refuse(const char* why) const {
  LogError("Result bundle refused: %s", why);
  Show(kWrongBundleMessage);
  return false;
}

void CStateBundle::Gather() {
  std::vector<Entry> found;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(m_folder, ec)) {
    const std::string name = item.path().filename().string();
    std::error_code statError;
    if (!item.is_regular_file(statError) || !IsPlainStateFileName(name) || name.size() >= kNameSize) continue;
    const uint64_t size = item.file_size(statError);
    if (statError) continue;
    found.push_back({name, size, 0});
  }
  // The directory's own order changes from run to run; a bundle's order should not.
  std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.Name < b.Name; });
  m_entries = std::move(found);
  m_headerSize = kFixedHeaderSize + kEntrySize * (m_entries.size() + 1);
  m_totalSize = m_headerSize;
  for (Entry& e : m_entries) {
    e.Offset = m_totalSize;
    m_totalSize += e.Size;
  }
}

bool CStateBundle::Save(const std::string& path) {
  if (m_entries.size() > kMaxEntries) {
    LogError("Result bundle: %zu state files, at most %llu fit", m_entries.size(),
             static_cast<unsigned long long>(kMaxEntries));
    return false;
  }
  m_headerSize = kFixedHeaderSize + kEntrySize * (m_entries.size() + 1);
  std::vector<uint8_t> header(m_headerSize, 0);
  PutLE(&header[0], kMagic, 4);
  PutLE(&header[8], kVersion, 4);
  PutLE(&header[16], m_totalSize, 8);
  PutLE(&header[24], m_entries.size(), 8);
  for (size_t i = 0; i < m_entries.size(); ++i) {
    uint8_t* e = &header[kFixedHeaderSize + i * kEntrySize];
    std::memcpy(e, m_entries[i].Name.data(), std::min(m_entries[i].Name.size(), kNameSize - 1));
    PutLE(e + 264, m_entries[i].Size, 8);
    PutLE(e + 272, m_entries[i].Offset, 8);
  }

  // The bundle is written beside its place under a name of its own, in the folder opened through
  // no link of another user, given to the person it is for, and then renamed into place: what
  // stood under the name is replaced, never written through.
  std::string name;
  platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  struct stat folderStat {};
  if (!folder.ok() || name.empty() || ::fstat(folder.fd.Get(), &folderStat) != 0) {
    LogError("Result bundle: cannot open the folder of %s: %s", path.c_str(),
             folder.ok() ? std::strerror(name.empty() ? EISDIR : errno) : folder.Describe().c_str());
    return false;
  }
  const platform::OutputOwner owner = platform::OutputOwner::ForFolder(folderStat);
  std::string tempName;
  Fd out(CreateTempIn(folder.fd.Get(), name, tempName));
  if (out.fd < 0) {
    LogError("Result bundle: cannot create a file beside %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  if (const int error = owner.Apply(out.fd, false); error != 0)
    LogError("Result bundle: cannot give %s to user %u: %s", path.c_str(), static_cast<unsigned>(owner.uid),
             std::strerror(error));
  bool ok = WriteAll(out.fd, header.data(), header.size());
  m_checksum = BundleCrc32(0, header.data(), header.size());
  for (size_t i = 0; ok && i < m_entries.size(); ++i) {
    const Entry& e = m_entries[i];
    Fd in(::open((m_folder + e.Name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    // The header already gives this size and the offsets after it: a state file that changed since
    // it was gathered would make every later entry point at the wrong bytes.
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || static_cast<uint64_t>(st.st_size) != e.Size ||
        !CopyPieces(in.fd, 0, e.Size, out.fd, m_checksum)) {
      LogError("Result bundle: state file %s could not be copied whole", e.Name.c_str());
      ok = false;
    }
  }
  if (ok) {
    uint8_t sum[4];
    PutLE(sum, m_checksum, 4);
    ok = ::pwrite(out.fd, sum, 4, 4) == 4 && ::fsync(out.fd) == 0;
  }
  if (ok) ok = ::renameat(folder.fd.Get(), tempName.c_str(), folder.fd.Get(), name.c_str()) == 0;
  if (!ok) {
    // Only the file this call created is removed; a bundle already at `path` stays as it was.
    ::unlinkat(folder.fd.Get(), tempName.c_str(), 0);
    LogError("Result bundle: export to %s failed", path.c_str());
  }
  return ok;
}

bool CStateBundle::Load(const std::string& path) {
  // Without a program folder there is nowhere the state files may go (never the current folder).
  if (m_folder.empty()) {
    LogError("Result bundle: no program folder to unpack %s into", path.c_str());
    return false;
  }
  Fd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    LogError("Result bundle: cannot open %s", path.c_str());
    return false;
  }
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  uint8_t fixed[kFixedHeaderSize + kEntrySize];
  if (fileSize < sizeof(fixed) || !PreadAll(in.fd, fixed, sizeof(fixed), 0))
    return Refuse("shorter than a header");
  if (GetLE(fixed, 4) != kMagic) return Refuse("no CMBK magic");
  const uint64_t count = GetLE(fixed + 24, 8);
  if (count > kMaxEntries) return Refuse("entry count above 10");
  const uint64_t headerSize = kFixedHeaderSize + kEntrySize * (count + 1);
  const uint64_t totalSize = GetLE(fixed + 16, 8);
  std::vector<uint8_t> header(headerSize);
  if (fileSize < headerSize || !PreadAll(in.fd, header.data(), header.size(), 0))
    return Refuse("header cut short");
  m_storedChecksum = static_cast<uint32_t>(GetLE(&header[4], 4));
  PutLE(&header[4], 0, 4);
  m_checksum = BundleCrc32(0, header.data(), header.size());

  // Every entry is checked before anything is written: a plain state-file name, once only, and its
  // bytes inside both the file and the size the header claims.
  std::vector<Entry> entries;
  std::set<std::string> names;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* e = &header[kFixedHeaderSize + i * kEntrySize];
    const void* end = std::memchr(e, 0, kNameSize);
    if (end == nullptr) return Refuse("entry name without terminator");
    Entry entry{std::string(reinterpret_cast<const char*>(e), static_cast<const uint8_t*>(end) - e),
                GetLE(e + 264, 8), GetLE(e + 272, 8)};
    if (!IsPlainStateFileName(entry.Name)) return Refuse("entry name is not a plain state-file name");
    if (!names.insert(entry.Name).second) return Refuse("entry name given twice");
    const uint64_t limit = std::min(fileSize, totalSize);
    if (entry.Offset < headerSize || entry.Offset > limit || entry.Size > limit - entry.Offset)
      return Refuse("entry lies outside the bundle");
    entries.push_back(std::move(entry));
  }
  for (const Entry& e : entries) {
    if (!CopyPieces(in.fd, e.Offset, e.Size, -1, m_checksum)) return Refuse("entry cannot be read");
  }
  if (m_checksum != m_storedChecksum) return Refuse("checksum does not match");

  // Unpack under temporary names, checking the sum again on the way (the bundle could change
  // between the two passes), and replace the state files only when all are written.
  std::vector<std::string> temps;
  auto discard = [&temps] {
    for (const std::string& t : temps) ::unlink(t.c_str());
  };
  uint32_t again = BundleCrc32(0, header.data(), header.size());
  for (const Entry& e : entries) {
    std::string temp;
    Fd out(CreateTempBeside(m_folder + e.Name, temp));
    if (out.fd < 0) {
      LogError("Result bundle: cannot write into %s: %s", m_folder.c_str(), std::strerror(errno));
      discard();
      return false;
    }
    temps.push_back(temp);
    if (!CopyPieces(in.fd, e.Offset, e.Size, out.fd, again) || ::fsync(out.fd) != 0) {
      LogError("Result bundle: unpacking %s failed", e.Name.c_str());
      discard();
      return false;
    }
  }
  if (again != m_storedChecksum) {
    discard();
    return Refuse("bundle changed while it was imported");
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (::rename(temps[i].c_str(), (m_folder + entries[i].Name).c_str()) != 0) {
      LogError("Result bundle: cannot replace %s: %s", entries[i].Name.c_str(), std::strerror(errno));
      for (size_t j = i; j < temps.size(); ++j) ::unlink(temps[j].c_str());
      return false;
    }
  }
  m_entries = std::move(entries);
  m_headerSize = headerSize;
  m_totalSize = totalSize;
  return true;
}
