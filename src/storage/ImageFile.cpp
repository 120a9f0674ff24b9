#include "storage/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/Log.h"
#include "platform/OutputOwner.h"
#include "platform/RequestingUser.h"

namespace corvale::image {

namespace {

// The descriptor path with `extension` put after the last '.' of its file name, or after an added
// '.' when the file name has none.
std::string WithExtension(const std::string& path, const std::string& extension) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "." + extension;
  return path.substr(0, dot + 1) + extension;
}

}  // namespace

std::string PartListPath(const std::string& descriptorPath) { return WithExtension(descriptorPath, "kbp"); }

std::string PartFilePath(const std::string& descriptorPath, uint32_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "part%u.kbf", index);
  return WithExtension(descriptorPath, name);
}

bool IsOwnPartPath(const std::string& descriptorPath, uint32_t index, const std::string& path) {
  if (descriptorPath.empty() || index >= kMaxParts) return false;
  std::string ownName;
  std::string name;
  const platform::FolderWalk own = platform::WalkToFolderOf(PartFilePath(descriptorPath, index), &ownName);
  const platform::FolderWalk listed = platform::WalkToFolderOf(path, &name);
  struct stat a {};
  struct stat b {};
  return own.ok() && listed.ok() && !name.empty() && name == ownName && ::fstat(own.fd.Get(), &a) == 0 &&
         ::fstat(listed.fd.Get(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int OpenPartFile(const std::string& descriptorPath, uint32_t index, const std::string& path, int flags,
                 std::string* why) {
  auto refuse = [&](const std::string& text) {
    if (why) *why = text;
    return -1;
  };
  std::string name;
  const platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  if (!folder.ok()) return refuse(folder.Describe());
  if (name.empty()) return refuse(path + " names no file");
  int fd;
  do {
    fd = ::openat(folder.fd.Get(), name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return refuse(path + ": " + std::strerror(errno));
  struct stat st {};
  uint8_t head[kHeaderSize];
  ssize_t got = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    do {
      got = ::pread(fd, head, sizeof head, 0);
    } while (got < 0 && errno == EINTR);
  }
  if (got != static_cast<ssize_t>(sizeof head) ||
      std::any_of(head, head + sizeof head, [](uint8_t b) { return b != 0; })) {
    ::close(fd);
    return refuse(path + " is not a part file of an image (no 512 empty bytes at its start)");
  }
  if (!platform::RequestingUserMayRead(st) && !IsOwnPartPath(descriptorPath, index, path)) {
    ::close(fd);
    return refuse(path + " is not this image's own part file, and the user who asked could not read it");
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

std::vector<std::string> MemberFileNames(const std::string& descriptorPath, bool partsOnly) {
  auto nameOf = [](const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  std::vector<std::string> names;
  if (!partsOnly) {
    names.push_back(nameOf(descriptorPath));
    names.push_back(nameOf(PartListPath(descriptorPath)));
  }
  for (uint32_t part = 0; part < kMaxParts; ++part)
    names.push_back(nameOf(PartFilePath(descriptorPath, part)));
  return names;
}

}  // namespace corvale::image

using namespace corvale::image;

namespace {

void PutU32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The part list's lines without their line ends; a path may be written with '\' by another system.
std::vector<std::string> ReadLines(int fd, size_t limitLines) {
  std::vector<std::string> lines;
  std::string text;
  char buf[4096];
  uint64_t at = 0;
  for (;;) {
    ssize_t got = ::pread(fd, buf, sizeof buf, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buf, static_cast<size_t>(got));
    at += static_cast<uint64_t>(got);
    // A list of 58 paths is small; a huge file is not a part list.
    if (text.size() > (1u << 20)) break;
  }
  size_t start = 0;
  while (start < text.size() && lines.size() < limitLines) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

CImageFile::CImageFile(const char* path, int length) {
  if (path != nullptr && length > 0) m_path.assign(path, strnlen(path, static_cast<size_t>(length)));
}

CImageFile::~CImageFile() = default;

bool CImageFile::CreateMember(const std::string& path, CHandleFile& file) {
  file.Close();
  m_problem.clear();
  std::string name;
  platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  struct stat folderStat {};
  if (!folder.ok()) {
    m_errno = folder.error;
    m_problem = folder.Describe();
    return false;
  }
  if (name.empty() || ::fstat(folder.fd.Get(), &folderStat) != 0) {
    m_errno = name.empty() ? EISDIR : errno;
    return false;
  }
  if (m_replace && !platform::RemoveEntryIn(folder.fd.Get(), name)) {
    m_errno = errno;
    m_problem = path + " cannot be replaced: " + std::strerror(m_errno);
    return false;
  }
  const int fd = platform::CreateFileIn(folder.fd.Get(), name, O_RDWR, 0600);
  if (fd < 0) {
    m_errno = errno;
    if (m_errno == EEXIST) m_problem = path + " exists already and is not replaced";
    return false;
  }
  const platform::OutputOwner owner = platform::OutputOwner::ForFolder(folderStat);
  if (const int error = owner.Apply(fd, false); error != 0 && !m_ownerWarned) {
    // A target file system without owners (FAT, for one) refuses every change: said once.
    m_ownerWarned = true;
    LogError("Failed to give %s to user %u, error code:%d", path.c_str(), static_cast<unsigned>(owner.uid),
             error);
  }
  struct stat made {};
  ::fstat(fd, &made);
  m_created.push_back(Created{std::move(folder.fd), name, made.st_dev, made.st_ino});
  return file.Adopt(fd);
}

void CImageFile::CloseFiles() {
  m_data.Close();
  m_descriptor.Close();
  m_partList.Close();
  m_openPart = -1;
}

namespace {

// Removes `c` only when its name still stands for the file made here: nothing else is removed.
template <typename CreatedFile>
void RemoveIfStillMade(const CreatedFile& c) {
  struct stat named {};
  if (::fstatat(c.folder.Get(), c.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      named.st_dev == c.device && named.st_ino == c.inode)
    ::unlinkat(c.folder.Get(), c.name.c_str(), 0);
}

}  // namespace

void CImageFile::RemoveCreatedFiles() {
  CloseFiles();
  for (const Created& c : m_created) RemoveIfStillMade(c);
  m_created.clear();
}

void CImageFile::RemoveLastCreatedFile() {
  if (m_created.empty()) return;
  if (m_openPart >= 0) CloseDataFile();
  RemoveIfStillMade(m_created.back());
  m_created.pop_back();
}

std::string CImageFile::LastErrorText() const {
  if (!m_problem.empty()) return m_problem;
  return m_errno != 0 ? std::strerror(m_errno) : "unknown error";
}

bool CImageFile::OpenDescriptor(int mode) {
  m_sectorSize = -1;
  m_partStarts.clear();
  if (mode == 3 ? !CreateMember(m_path, m_descriptor) : !m_descriptor.Open(m_path, mode)) {
    if (mode != 3) m_errno = m_descriptor.LastError();
    return false;
  }
  if (mode == 3) {
    uint8_t zeros[kHeaderSize] = {};
    return WriteAt(zeros, 0, kHeaderSize, kDescriptor);
  }
  return true;
}

bool CImageFile::WriteHeader(const char* name, int32_t diskNumber, int32_t compressionType,
                             int32_t sectorSize) {
  uint8_t head[kHeaderSize] = {};
  if (!ReadAt(head, 0, kHeaderSize, kDescriptor)) return false;
  std::memset(head + kOffSourceName, 0, kSourceNameSize);
  if (name != nullptr) std::memcpy(head + kOffSourceName, name, strnlen(name, kSourceNameSize - 1));
  PutU32(head + kOffSectorSize, static_cast<uint32_t>(sectorSize));
  PutU32(head + kOffCompressionType, static_cast<uint32_t>(compressionType));
  PutU32(head + kOffDiskNumber, static_cast<uint32_t>(diskNumber));
  m_sectorSize = -1;
  return WriteAt(head, 0, kHeaderSize, kDescriptor);
}

bool CImageFile::WriteTotals(uint32_t parts, uint32_t chunksInPart) {
  uint8_t head[kHeaderSize];
  if (!ReadAt(head, 0, kHeaderSize, kDescriptor)) return false;
  const uint32_t old = GetU32(head + kOffPartCount);
  // Beyond the 58th count the header would run into the chunk table.
  if (old >= kMaxParts) return false;
  PutU32(head + kOffPartCount, parts);
  PutU32(head + kOffTotalChunks, GetU32(head + kOffTotalChunks) + chunksInPart);
  PutU32(head + kOffPartChunkCounts + 4 * old, chunksInPart);
  m_partStarts.clear();
  return WriteAt(head, 0, kHeaderSize, kDescriptor);
}

bool CImageFile::OpenPartList(int mode) {
  if (mode == 3) return CreateMember(PartListPath(m_path), m_partList);
  if (!m_partList.Open(PartListPath(m_path), mode)) {
    m_errno = m_partList.LastError();
    return false;
  }
  return true;
}

bool CImageFile::AddToPartList(const std::string& partPath) {
  if (!m_partList.IsOpen() || !m_partList.SeekToEnd() ||
      !m_partList.WriteLine(partPath.data(), partPath.size())) {
    m_errno = m_partList.IsOpen() ? m_partList.LastError() : EBADF;
    return false;
  }
  return true;
}

bool CImageFile::FlushPartList() {
  if (!m_partList.IsOpen() || ::fdatasync(m_partList.GetDescriptor()) != 0) {
    m_errno = m_partList.IsOpen() ? errno : EBADF;
    return false;
  }
  return true;
}

std::string CImageFile::FindPartPath(int32_t index, bool byNameToo) {
  if (index < 0) return {};
  CHandleFile list(PartListPath(m_path), 0);
  std::vector<std::string> lines;
  if (list.IsOpen()) lines = ReadLines(list.GetDescriptor(), static_cast<size_t>(index) + 1);
  if (lines.size() <= static_cast<size_t>(index) || lines[index].empty()) {
    // Without its line the part can still be the file named after the descriptor.
    const std::string named = PartFilePath(m_path, static_cast<uint32_t>(index));
    std::error_code ec;
    if (byNameToo && std::filesystem::is_regular_file(named, ec)) return named;
    m_errno = list.IsOpen() ? ENOENT : list.LastError();
    return {};
  }
  const std::string& listed = lines[index];
  std::error_code ec;
  if (std::filesystem::is_regular_file(listed, ec)) return listed;
  // Moved with its descriptor: the part's file name beside the descriptor.
  const size_t cut = listed.find_last_of("/\\");
  const std::string name = cut == std::string::npos ? listed : listed.substr(cut + 1);
  const std::string folder = std::filesystem::path(m_path).parent_path().string();
  const std::string beside = folder.empty() ? name : folder + "/" + name;
  if (!name.empty() && std::filesystem::is_regular_file(beside, ec)) return beside;
  m_errno = ENOENT;
  return listed;
}

bool CImageFile::OpenPart(int32_t index, int mode, const std::string& createPath) {
  if (index < 0) return false;
  if (mode == 0) {
    if (m_openPart == index && m_data.IsOpen()) return true;
    CloseDataFile();
    const std::string path = FindPartPath(index);
    if (path.empty()) return false;
    if (!m_data.Adopt(OpenPartFile(m_path, static_cast<uint32_t>(index), path, O_RDONLY, &m_problem))) {
      m_errno = EINVAL;
      return false;
    }
    m_openPart = index;
    return true;
  }
  CloseDataFile();
  const std::string path =
      createPath.empty() ? PartFilePath(m_path, static_cast<uint32_t>(index)) : createPath;
  if (mode == 3 ? !CreateMember(path, m_data) : !m_data.Open(path, mode)) {
    if (mode != 3) m_errno = m_data.LastError();
    return false;
  }
  m_openPart = index;
  if (mode == 3) {
    uint8_t zeros[kHeaderSize] = {};
    return WriteAt(zeros, 0, kHeaderSize, kDataFile);
  }
  return true;
}

void CImageFile::CloseDataFile() {
  m_data.Close();
  m_openPart = -1;
}

int64_t CImageFile::GetChunkLocation(uint32_t chunk, uint32_t* length) {
  if (length) *length = 0;
  if (!m_descriptor.IsOpen()) return -1;
  if (m_partStarts.empty()) {
    const uint32_t parts = GetPartCount();
    if (parts > kMaxParts) return -1;
    uint32_t counts[kMaxParts] = {};
    if (!GetPartChunkCounts(counts, parts * 4)) return -1;
    uint64_t start = 0;
    for (uint32_t p = 0; p < parts; ++p) {
      m_partStarts.push_back(start);
      start += counts[p];
    }
    m_partStarts.push_back(start);  // one past the last chunk
  }
  if (chunk >= m_partStarts.back()) return -1;
  bool first = false;
  for (uint64_t s : m_partStarts) first = first || s == chunk;
  uint8_t entries[8] = {};
  // Entry c - 1 and entry c; for chunk 0 the 0 at offset 508 stands for entry -1.
  const uint64_t at = kHeaderSize + 4ull * chunk - 4;
  if (!ReadAt(entries, at, 8, kDescriptor)) return -1;
  const uint32_t start = first ? 0 : GetU32(entries);
  const uint32_t end = GetU32(entries + 4);
  if (end < start) return -1;
  if (length) *length = end - start;
  return static_cast<int64_t>(kHeaderSize) + start;
}

bool CImageFile::ReadAt(void* buffer, uint64_t offset, uint32_t length, Which which) {
  CHandleFile& f = File(which);
  if (!f.IsOpen()) {
    m_errno = EBADF;
    return false;
  }
  uint32_t done = 0;
  while (done < length) {
    ssize_t got = ::pread(f.GetDescriptor(), static_cast<uint8_t*>(buffer) + done, length - done,
                          static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      m_errno = got < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<uint32_t>(got);
  }
  return true;
}

bool CImageFile::WriteAt(const void* buffer, uint64_t offset, uint32_t length, Which which) {
  CHandleFile& f = File(which);
  if (!f.IsOpen()) {
    m_errno = EBADF;
    return false;
  }
  uint32_t done = 0;
  while (done < length) {
    ssize_t put = ::pwrite(f.GetDescriptor(), static_cast<const uint8_t*>(buffer) + done, length - done,
                           static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      m_errno = put < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<uint32_t>(put);
  }
  return true;
}

bool CImageFile::Flush(Which which) {
  CHandleFile& f = File(which);
  if (!f.IsOpen() || ::fdatasync(f.GetDescriptor()) != 0) {
    m_errno = f.IsOpen() ? errno : EBADF;
    return false;
  }
  return true;
}

bool CImageFile::ReadHeaderU32(uint32_t offset, uint32_t* value) {
  uint8_t b[4];
  if (!ReadAt(b, offset, 4, kDescriptor)) return false;
  *value = GetU32(b);
  return true;
}

int32_t CImageFile::GetSectorSize() {
  if (m_sectorSize != -1) return m_sectorSize;
  uint32_t v = 0;
  if (!ReadHeaderU32(kOffSectorSize, &v)) return 512;
  m_sectorSize = IsValidImageSectorSize(v) ? static_cast<int32_t>(v) : 512;
  return m_sectorSize;
}

int32_t CImageFile::GetCompressionType() {
  uint32_t v = 0;
  return ReadHeaderU32(kOffCompressionType, &v) ? static_cast<int32_t>(v) : 0;
}

int32_t CImageFile::GetSourceDiskNumber() {
  uint32_t v = 0;
  return ReadHeaderU32(kOffDiskNumber, &v) ? static_cast<int32_t>(v) : kNotAWholeDisk;
}

bool CImageFile::GetSourceName(char* buffer260) {
  std::memset(buffer260, 0, 260);
  if (!ReadAt(buffer260, kOffSourceName, kSourceNameSize, kDescriptor)) return false;
  buffer260[kSourceNameSize - 1] = '\0';
  return true;
}

uint32_t CImageFile::GetPartCount() {
  uint32_t v = 0;
  return ReadHeaderU32(kOffPartCount, &v) ? v : 0;
}

uint32_t CImageFile::GetTotalChunks() {
  uint32_t v = 0;
  return ReadHeaderU32(kOffTotalChunks, &v) ? v : 0;
}

bool CImageFile::GetPartChunkCounts(uint32_t* buffer, uint32_t bytes) {
  // Only the header's room for counts can be read as counts.
  if (bytes > kMaxParts * 4) return false;
  uint8_t raw[kMaxParts * 4];
  if (!ReadAt(raw, kOffPartChunkCounts, bytes, kDescriptor)) return false;
  for (uint32_t i = 0; i < bytes / 4; ++i) buffer[i] = GetU32(raw + 4 * i);
  return true;
}

uint64_t CImageFile::GetDescriptorSize() const {
  uint64_t size = 0;
  return m_descriptor.GetSize(&size) ? size : 0;
}

uint64_t CImageFile::GetDataFileSize() const {
  uint64_t size = 0;
  return m_data.GetSize(&size) ? size : 0;
}
