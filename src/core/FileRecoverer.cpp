#include "core/FileRecoverer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/DataRunList.h"
#include "core/FileContentSource.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IFileRecoverCallback.h"
#include "core/OutputName.h"
#include "core/TargetSpace.h"
#include "core/WorkerThread.h"
#include "platform/FolderWalk.h"
#include "platform/HandleFile.h"
#include "platform/Log.h"
#include "platform/OutputOwner.h"
#include "platform/StringTable.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using namespace corvale;
using platform::OutputOwner;

namespace {

// Data is read and written in pieces of this size (whole sectors).
constexpr size_t kPieceBytes = 65536;
// Data kept inside a file record, and the key stream of an encrypted file, are at most these sizes.
constexpr uint32_t kMaxResidentBytes = 4096;
constexpr uint32_t kMaxEfsStreamBytes = 65536;
// Compression works on units of 16 clusters of at most 4096 bytes.
constexpr uint64_t kMaxCompressedClusterBytes = 4096;
constexpr uint32_t kMaxCompressedSectorsPerCluster = 8;
constexpr uint64_t kClustersPerCompressionUnit = 16;
// How many counted names are tried for a taken file name, and for a taken folder name.
constexpr int kFileNameTries = 1000;
constexpr int kFolderNameTries = 100000;
// 100-nanosecond intervals from 1601 to 1970.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

bool IsCancel(int32_t poll) { return poll == -1; }

// Result of a copy step whose write failed: the file fails, and the write error is logged.
constexpr int32_t kWriteError = -1;

// Holes at least this large, and eight times the data a file holds, are worth a line in the log: a
// damaged size can claim far more than the file ever held.
constexpr uint64_t kLargeHoleBytes = 64ull << 20;

const char* NameOf(const IFileProperties* properties) {
  const char* name = properties != nullptr ? properties->GetName() : nullptr;
  return name != nullptr ? name : "";
}

bool IsMissingFolderError(int error) { return error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG; }

// ---------------------------------------------------------------------------------------------
// The raw backup stream of an encrypted file: the form in which Windows imports an encrypted file
// together with its keys. It is written as the recovered file's content.

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// An ASCII tag as UTF-16LE, without terminator.
void PutTag(uint8_t* p, const char* tag) {
  for (size_t i = 0; tag[i] != 0; ++i) PutU16(p + 2 * i, static_cast<uint8_t>(tag[i]));
}

constexpr size_t kEfsFileHeaderBytes = 66;
constexpr size_t kEfsStreamHeaderBytes = 42;
constexpr size_t kEfsBlockHeaderBytes = 512;

std::array<uint8_t, kEfsFileHeaderBytes> EfsFileHeader(uint32_t efsStreamBytes) {
  std::array<uint8_t, kEfsFileHeaderBytes> h{};
  PutU32(&h[0], 0x100);
  PutTag(&h[4], "ROBS");
  PutU32(&h[20], 0x1E);
  PutTag(&h[24], "NTFS");
  PutU32(&h[44], 2);
  PutU16(&h[48], 0x1910);
  PutU32(&h[50], efsStreamBytes + 16);
  PutTag(&h[54], "GURE");
  return h;
}

std::array<uint8_t, kEfsStreamHeaderBytes> EfsStreamHeader() {
  std::array<uint8_t, kEfsStreamHeaderBytes> h{};
  PutU32(&h[0], 0x2A);
  PutTag(&h[4], "NTFS");
  PutU32(&h[24], 14);
  PutTag(&h[28], "::$DATA");
  return h;
}

void EfsBlockHeader(uint8_t* h, uint32_t blockBytes, uint16_t blockNumber, uint32_t fileBytes) {
  std::memset(h, 0, kEfsBlockHeaderBytes);
  PutU32(h + 0, blockBytes + static_cast<uint32_t>(kEfsBlockHeaderBytes));
  PutTag(h + 4, "GURE");
  PutU16(h + 18, blockNumber);
  PutU32(h + 24, 496);
  PutU32(h + 28, fileBytes);
  PutU32(h + 32, fileBytes);
  PutU32(h + 36, 0x10100000);
  PutU32(h + 40, 0x1010B);
  PutU32(h + 44, blockBytes);
}

// ---------------------------------------------------------------------------------------------
using platform::UniqueFd;

int OpenFolderAt(int parent, const char* name, bool followLinks) {
  int fd;
  do {
    fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// ---------------------------------------------------------------------------------------------
// Writes a file's content through the descriptor of the exclusive create, at positions it keeps
// itself. Zeros become holes (they read back as zeros and cost no space): in a plain file wherever
// the content is zeros, in the raw stream of an encrypted file the data of every block that holds
// only zeros (its header is still written). Each piece is first checked against the free space of
// the target disk.
class OutputWriter {
 public:
  OutputWriter(int fd, uint64_t fileSize, CTargetSpace& space)
      : m_fd(fd), m_fileBytesLeft(fileSize), m_space(space) {}

  // Switches to the raw encrypted form and writes its headers and key stream.
  bool BeginEncrypted(const uint8_t* efs, uint32_t efsBytes) {
    m_encrypted = true;
    m_block.assign(kEfsBlockHeaderBytes + kPieceBytes, 0);
    const auto header = EfsFileHeader(efsBytes);
    const auto stream = EfsStreamHeader();
    return Put(header.data(), header.size()) && Put(efs, efsBytes) && Put(stream.data(), stream.size());
  }

  bool Write(const uint8_t* data, size_t n) {
    if (!m_encrypted) return Put(data, n);
    while (n > 0) {
      const size_t take = std::min(n, kPieceBytes - m_blockFill);
      std::memcpy(m_block.data() + kEfsBlockHeaderBytes + m_blockFill, data, take);
      m_blockFill += take;
      m_blockHasData = true;
      data += take;
      n -= take;
      if (m_blockFill == kPieceBytes && !FlushBlock()) return false;
    }
    return true;
  }

  bool Zeros(uint64_t n) {
    if (!m_encrypted) return Hole(n);
    while (n > 0) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, kPieceBytes - m_blockFill));
      std::memset(m_block.data() + kEfsBlockHeaderBytes + m_blockFill, 0, take);
      m_blockFill += take;
      n -= take;
      if (m_blockFill == kPieceBytes && !FlushBlock()) return false;
    }
    return true;
  }

  // Writes what is still held; a file that ends in a hole is given its full length.
  bool Finish() {
    if (m_encrypted && m_blockFill > 0 && !FlushBlock()) return false;
    if (m_position > m_end) {
      int rc;
      do {
        rc = ::ftruncate(m_fd, static_cast<off_t>(m_position));
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) {
        m_error = errno;
        return false;
      }
      m_end = m_position;
    }
    return true;
  }

  int Error() const { return m_error; }
  // True when the write stopped because the target disk had no room left for it.
  bool OutOfSpace() const { return m_outOfSpace; }
  // The piece that did not fit.
  uint64_t RefusedBytes() const { return m_refusedBytes; }
  uint64_t Position() const { return m_position; }

 private:
  bool Put(const uint8_t* data, size_t n) {
    if (n == 0) return true;
    if (m_position > static_cast<uint64_t>(INT64_MAX) - n) {
      m_error = EFBIG;
      return false;
    }
    if (!m_space.Fits(n, true)) {
      m_outOfSpace = true;
      m_refusedBytes = n;
      m_error = ENOSPC;
      return false;
    }
    while (n > 0) {
      const ssize_t put = ::pwrite(m_fd, data, n, static_cast<off_t>(m_position));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        m_error = put < 0 ? errno : EIO;
        return false;
      }
      data += put;
      n -= static_cast<size_t>(put);
      m_position += static_cast<uint64_t>(put);
    }
    m_end = m_position;
    return true;
  }

  // Leaves `n` bytes of zeros unwritten. A target that cannot keep holes (FAT) fills them on its
  // disk when the file grows past them, so there they take space like data.
  bool Hole(uint64_t n) {
    if (!m_space.KeepsHoles() && !m_space.Fits(n, true)) {
      m_outOfSpace = true;
      m_refusedBytes = n;
      m_error = ENOSPC;
      return false;
    }
    m_position += n;
    return true;
  }

  bool FlushBlock() {
    const uint32_t fileBytes = static_cast<uint32_t>(std::min<uint64_t>(m_fileBytesLeft, m_blockFill));
    m_fileBytesLeft -= fileBytes;
    EfsBlockHeader(m_block.data(), static_cast<uint32_t>(m_blockFill), m_blockNumber++, fileBytes);
    const size_t fill = m_blockFill;
    const bool hasData = m_blockHasData;
    m_blockFill = 0;
    m_blockHasData = false;
    if (hasData) return Put(m_block.data(), kEfsBlockHeaderBytes + fill);
    if (!Put(m_block.data(), kEfsBlockHeaderBytes)) return false;
    return Hole(fill);
  }

  int m_fd;
  bool m_encrypted = false;
  uint64_t m_position = 0;  // where the next byte goes
  uint64_t m_end = 0;       // end of the last bytes written
  uint64_t m_fileBytesLeft;
  CTargetSpace& m_space;
  std::vector<uint8_t> m_block;
  size_t m_blockFill = 0;
  bool m_blockHasData = false;
  uint16_t m_blockNumber = 0;
  int m_error = 0;
  bool m_outOfSpace = false;
  uint64_t m_refusedBytes = 0;
};

// FILETIME to the time futimens takes; 0 (no time kept) leaves the file's time as it is.
timespec ToTimespec(uint64_t fileTime) {
  timespec ts{};
  if (fileTime == 0) {
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  const int64_t seconds =
      static_cast<int64_t>(fileTime / 10000000ULL) - static_cast<int64_t>(kFileTimeUnixEpoch / 10000000ULL);
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>((fileTime % 10000000ULL) * 100);
  return ts;
}

// A file being recovered: its descriptor, the folder it was created in and its name there, and its
// path for the log.
struct OutputFile {
  UniqueFd fd;
  int folder = -1;
  std::string name;
  std::string path;
};

// Removes a file this run created, unless the name meanwhile stands for another file.
void RemoveCreatedFile(OutputFile& file) {
  struct stat mine {};
  struct stat named {};
  const bool same = file.fd.Get() >= 0 && ::fstat(file.fd.Get(), &mine) == 0 &&
                    ::fstatat(file.folder, file.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                    mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
  file.fd.Reset();
  if (same) ::unlinkat(file.folder, file.name.c_str(), 0);
}

// Folders below the top folder that get a folder of their own; deeper ones put their files into
// the top folder. It bounds the descriptors a job holds open (one per folder level).
constexpr size_t kMaxFolderDepth = 128;

// ---------------------------------------------------------------------------------------------
// One job: the device, the callback, the buffers, and the counters of the files done.
class RecoveryJob {
 public:
  RecoveryJob(IStorageDevice* device, IFileRecoverCallback* callback, std::atomic<uint32_t>& recovered,
              std::atomic<uint32_t>& failed)
      : m_device(device), m_callback(callback), m_recovered(recovered), m_failed(failed) {}

  // The tree below `root` into the target folder `targetFolder`, opened as `targetFd` (not taken
  // over); the walk's result.
  int32_t RecoverTree(CFileNode* root, const std::string& targetFolder, int targetFd, std::string* outPath);

  // One file into a path that must not exist; the file's result.
  int32_t RecoverSingleFile(CFileNode* node, const std::string& path);

 private:
  // Makes the folder `name` in `parent`, or the first free "name_NNN", and opens it; the name made
  // goes to *made. -1 when it cannot be made or opened.
  int CreateFolder(int parent, const std::string& parentPath, const std::string& name, std::string* made);
  // Creates the output file for `name` in `folder`, or in the target folder when `folder` is gone,
  // with a counter when the name is taken. 0, or the error that stopped it.
  int CreateOutputFile(int folder, const std::string& folderPath, const std::string& name, OutputFile& file);
  int CreateCounted(int folder, const std::string& name, OutputFile& file);
  // Creates `name` in `folder` only when nothing of that name is there, without following links.
  int CreateExclusive(int folder, const std::string& name, OutputFile& file);
  void GiveToOwner(int fd, bool folder, const std::string& path);

  // True (with the reason logged and the file counted as failed) when the engine says that nothing
  // of the file is left to recover. Asked before the output file is made, so that no empty file
  // stands for it.
  bool Refuses(const IFileProperties* properties);
  // Writes the file's content into `file` and settles the outcome: a file that is not whole is
  // removed; the counters move.
  int32_t RecoverFile(CFileNode* node, OutputFile& file);
  int32_t WriteContent(CFileNode* node, const IFileProperties* properties, OutputFile& file, bool* complete);
  // Checks before writing that the runs hold the bytes due and lie on the device; the bytes they
  // store go to *stored. Logs the reason when they do not.
  bool CheckRuns(const IDataRunList& runs, bool zeroStartIsHole, uint64_t due, uint64_t* stored,
                 const char* name);
  int32_t CopyRuns(const IDataRunList& runs, bool zeroStartIsHole, OutputWriter& out, uint64_t* due,
                   const char* name);
  int32_t CopyCompressed(const IDataRunList& runs, IFileContentSource* source, OutputWriter& out,
                         uint64_t* due, const char* name);
  int32_t CopyCompressionUnit(const std::vector<DataRun>& unit, uint64_t clusters, IFileContentSource* source,
                              OutputWriter& out, uint64_t* due, const char* name);
  // Reads `sectors` sectors from the start of the file's cluster `cluster` into `buffer`.
  bool ReadClusters(uint64_t cluster, uint64_t sectors, uint8_t* buffer, const char* name);
  int32_t Progress(uint64_t bytes);
  int32_t WriteFailed(const OutputWriter& out, const std::string& path);
  void UseDeviceOf(const CFileNode* node);

  IStorageDevice* m_device;
  IFileRecoverCallback* m_callback;
  std::atomic<uint32_t>& m_recovered;
  std::atomic<uint32_t>& m_failed;
  UniqueFd m_targetFd;
  std::string m_target;  // ends in "/"
  // Where a file goes whose folder is missing or too deep: the volume's folder (else the target).
  UniqueFd m_fallbackFd;
  std::string m_fallbackPath;
  bool m_removeOnCancel = false;
  OutputOwner m_owner;
  bool m_ownerWarned = false;
  CTargetSpace m_space;
  uint64_t m_deviceSectors = 0;  // 0: not known
  // Position of the file being recovered.
  uint64_t m_partitionStart = 0;
  uint32_t m_sectorsPerCluster = 0;
  uint64_t m_sectorSize = 0;
  uint64_t m_clusterBytes = 0;
  std::vector<uint8_t> m_buffer;
  std::vector<uint8_t> m_unit;
  std::vector<uint8_t> m_resident;
};

void RecoveryJob::UseDeviceOf(const CFileNode* node) {
  if (node->GetFileSystemType() == kFileSystemExt2 || node->GetFileSystemType() == kFileSystemExt3) {
    m_device = m_device->GetDeviceWith512ByteSectors();
  }
  const int64_t sectors = m_device->GetSectorCount();
  m_deviceSectors = sectors > 0 ? static_cast<uint64_t>(sectors) : 0;
}

void RecoveryJob::GiveToOwner(int fd, bool folder, const std::string& path) {
  const int error = m_owner.Apply(fd, folder);
  // A target file system without owners (FAT, for one) refuses every change: said once per job.
  if (error != 0 && !m_ownerWarned) {
    m_ownerWarned = true;
    LogError("Failed to give %s to user %u, error code:%d", path.c_str(), static_cast<unsigned>(m_owner.uid),
             error);
  }
}

bool RecoveryJob::Refuses(const IFileProperties* properties) {
  if (properties->IsFolder()) return false;
  const char* name = NameOf(properties);
  if (const uint32_t reason = properties->GetUnrecoverableReason(); reason != 0) {
    LogError("Nothing of file %s can be recovered: %s", name, EnglishStrings().Get(reason).c_str());
    ++m_failed;
    return true;
  }
  return false;
}

int32_t RecoveryJob::Progress(uint64_t bytes) {
  return m_callback != nullptr && IsCancel(m_callback->AddBytes(bytes)) ? CFileRecoverer::kResultCancelled
                                                                        : CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::WriteFailed(const OutputWriter& out, const std::string& path) {
  if (out.OutOfSpace()) LogError("%s", m_space.Describe(path.c_str(), out.RefusedBytes()).c_str());
  LogError("Failed to write %s, error code:%d", path.c_str(), out.Error());
  return CFileRecoverer::kResultFailed;
}

int RecoveryJob::CreateFolder(int parent, const std::string& parentPath, const std::string& name,
                              std::string* made) {
  for (int i = -1; i < kFolderNameTries; ++i) {
    std::string candidate = name;
    if (i >= 0) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "_%03d", i);
      candidate += suffix;
    }
    if (::mkdirat(parent, candidate.c_str(), m_owner.folderMode) != 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    const int fd = OpenFolderAt(parent, candidate.c_str(), false);
    if (fd < 0) {
      // Someone replaced the folder just made, by a link or anything else: nothing goes there.
      LogError("The folder %s/%s was replaced while it was made, error code:%d; its files are not written",
               parentPath.c_str(), candidate.c_str(), errno);
      return -1;
    }
    *made = std::move(candidate);
    GiveToOwner(fd, true, parentPath + "/" + *made);
    return fd;
  }
  return -1;
}

int RecoveryJob::CreateExclusive(int folder, const std::string& name, OutputFile& file) {
  int fd;
  // O_EXCL refuses any entry of that name, a link (even one pointing nowhere) included.
  do {
    fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, m_owner.fileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  file.fd.Reset(fd);
  file.folder = folder;
  file.name = name;
  return 0;
}

int RecoveryJob::CreateCounted(int folder, const std::string& name, OutputFile& file) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot != std::string::npos ? name.substr(0, dot) : name;
  const std::string extension = dot != std::string::npos ? name.substr(dot) : std::string();
  for (int i = 0; i < kFileNameTries; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%03d", i);
    const int error = CreateExclusive(folder, stem + suffix + extension, file);
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int RecoveryJob::CreateOutputFile(int folder, const std::string& folderPath, const std::string& name,
                                  OutputFile& file) {
  int error = CreateExclusive(folder, name, file);
  if (error == EEXIST) error = CreateCounted(folder, name, file);
  if (IsMissingFolderError(error) && folder != m_fallbackFd.Get() && m_fallbackFd.Get() >= 0) {
    // The folder is gone: the file goes into the volume's folder.
    error = CreateExclusive(m_fallbackFd.Get(), name, file);
    if (error == EEXIST) error = CreateCounted(m_fallbackFd.Get(), name, file);
    if (error == 0) file.path = m_fallbackPath + "/" + file.name;
  } else if (error == 0) {
    file.path = folderPath + "/" + file.name;
  }
  if (error == 0) GiveToOwner(file.fd.Get(), false, file.path);
  return error;
}

bool RecoveryJob::ReadClusters(uint64_t cluster, uint64_t sectors, uint8_t* buffer, const char* name) {
  const auto offset = checkedMul(cluster, m_sectorsPerCluster);
  const auto sector = offset ? checkedAdd(m_partitionStart, *offset) : std::nullopt;
  if (sector && m_device->ReadSectors(buffer, *sector, sectors)) return true;
  LogError("Failed to read %" PRIu64 " sectors at cluster %" PRIu64 " of file %s", sectors, cluster, name);
  return false;
}

bool RecoveryJob::CheckRuns(const IDataRunList& runs, bool zeroStartIsHole, uint64_t due, uint64_t* stored,
                            const char* name) {
  uint64_t covered = 0;
  *stored = 0;
  for (const DataRun& run : runs.Runs()) {
    if (covered >= due) break;
    const uint64_t runBytes = checkedMul(run.length, m_clusterBytes).value_or(UINT64_MAX);
    const uint64_t used = std::min(runBytes, due - covered);
    covered += used;
    if (run.IsSparse() || (zeroStartIsHole && run.start == 0) || used == 0) continue;
    *stored += used;
    // The sectors this run is read from must exist: a damaged run would otherwise have its file
    // written up to the claimed size before the first read past the end fails it.
    const uint64_t sectors = (used + m_sectorSize - 1) / m_sectorSize;
    const auto offset = checkedMul(run.start, m_sectorsPerCluster);
    const auto first = offset ? checkedAdd(m_partitionStart, *offset) : std::nullopt;
    const auto end = first ? checkedAdd(*first, sectors) : std::nullopt;
    if (!end || (m_deviceSectors != 0 && *end > m_deviceSectors)) {
      LogError("File %s has a data run at cluster %" PRIu64 " of %" PRIu64
               " clusters that lies past the end of the device (%" PRIu64 " sectors)",
               name, run.start, run.length, m_deviceSectors);
      return false;
    }
  }
  if (covered < due) {
    LogError("The data runs of file %s end after %" PRIu64 " of its %" PRIu64 " bytes", name, covered, due);
    return false;
  }
  return true;
}

int32_t RecoveryJob::CopyRuns(const IDataRunList& runs, bool zeroStartIsHole, OutputWriter& out,
                              uint64_t* due, const char* name) {
  const uint64_t pieceSectors = std::max<uint64_t>(1, kPieceBytes / m_sectorSize);
  const uint64_t pieceBytes = pieceSectors * m_sectorSize;
  if (m_buffer.size() < pieceBytes) m_buffer.resize(pieceBytes);
  for (const DataRun& run : runs.Runs()) {
    if (*due == 0) break;
    const uint64_t runBytes = checkedMul(run.length, m_clusterBytes).value_or(UINT64_MAX);
    uint64_t left = std::min(runBytes, *due);
    if (left == 0) continue;
    // A run that holds no data (sparse, or an Ext2 block number 0 in a file with holes) reads as zeros.
    if (run.IsSparse() || (zeroStartIsHole && run.start == 0)) {
      if (!out.Zeros(left)) return kWriteError;
      *due -= left;
      if (Progress(left) != CFileRecoverer::kResultOk) return CFileRecoverer::kResultCancelled;
      continue;
    }
    const auto offset = checkedMul(run.start, m_sectorsPerCluster);
    const auto runSector = offset ? checkedAdd(m_partitionStart, *offset) : std::nullopt;
    if (!runSector) {
      LogError("File %s has a data run at cluster %" PRIu64 ", beyond any device", name, run.start);
      return CFileRecoverer::kResultFailed;
    }
    uint64_t sector = *runSector;
    while (left > 0) {
      const uint64_t piece = std::min(left, pieceBytes);
      const uint64_t sectors = (piece + m_sectorSize - 1) / m_sectorSize;
      if (!m_device->ReadSectors(m_buffer.data(), sector, sectors)) {
        LogError("Failed to read %" PRIu64 " sectors at sector %" PRIu64 " of file %s", sectors, sector,
                 name);
        return CFileRecoverer::kResultFailed;
      }
      if (!out.Write(m_buffer.data(), static_cast<size_t>(piece))) return kWriteError;
      left -= piece;
      *due -= piece;
      sector += sectors;
      if (Progress(piece) != CFileRecoverer::kResultOk) return CFileRecoverer::kResultCancelled;
    }
  }
  return CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::CopyCompressionUnit(const std::vector<DataRun>& unit, uint64_t clusters,
                                         IFileContentSource* source, OutputWriter& out, uint64_t* due,
                                         const char* name) {
  const uint64_t unitBytes = clusters * m_clusterBytes;
  const size_t outBytes = static_cast<size_t>(std::min(unitBytes, *due));
  bool anySparse = false;
  bool anyStored = false;
  bool storedAfterSparse = false;
  for (const DataRun& part : unit) {
    if (part.IsSparse()) {
      anySparse = true;
    } else {
      storedAfterSparse = storedAfterSparse || anySparse;
      anyStored = true;
    }
  }
  if (!anyStored) {
    // Nothing stored: the unit is zeros.
    if (!out.Zeros(outBytes)) return kWriteError;
  } else {
    // The unit's clusters as they lie on the disk, sparse ones as zeros.
    m_unit.assign(static_cast<size_t>(unitBytes), 0);
    uint64_t at = 0;
    for (const DataRun& part : unit) {
      const uint64_t bytes = part.length * m_clusterBytes;
      if (!part.IsSparse() &&
          !ReadClusters(part.start, part.length * m_sectorsPerCluster, m_unit.data() + at, name)) {
        return CFileRecoverer::kResultFailed;
      }
      at += bytes;
    }
    const bool compressed = anySparse && !storedAfterSparse;
    // A compressed unit that begins with a zero chunk header holds its data as it is.
    const bool storedAsIs = compressed && m_unit.size() >= 2 && m_unit[0] == 0 && m_unit[1] == 0;
    if (!compressed || storedAsIs) {
      if (!out.Write(m_unit.data(), outBytes)) return kWriteError;
    } else {
      if (source == nullptr) {
        LogError("No decompressor for the compressed file %s", name);
        return CFileRecoverer::kResultFailed;
      }
      uint64_t storedBytes = 0;
      for (const DataRun& part : unit) {
        if (!part.IsSparse()) storedBytes += part.length * m_clusterBytes;
      }
      std::vector<uint8_t>& expanded = m_buffer;
      if (expanded.size() < outBytes) expanded.resize(outBytes);
      std::fill(expanded.begin(), expanded.begin() + static_cast<std::ptrdiff_t>(outBytes), 0);
      if (!source->DecompressUnit(m_unit.data(), static_cast<size_t>(storedBytes), expanded.data(),
                                  outBytes)) {
        LogError("Failed to decompress a unit of file %s", name);
        return CFileRecoverer::kResultFailed;
      }
      if (!out.Write(expanded.data(), outBytes)) return kWriteError;
    }
  }
  *due -= outBytes;
  return Progress(outBytes) != CFileRecoverer::kResultOk ? CFileRecoverer::kResultCancelled
                                                         : CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::CopyCompressed(const IDataRunList& runs, IFileContentSource* source, OutputWriter& out,
                                    uint64_t* due, const char* name) {
  std::vector<DataRun> unit;
  uint64_t clusters = 0;
  for (const DataRun& run : runs.Runs()) {
    DataRun rest = run;
    while (rest.length > 0 && *due > 0) {
      if (clusters == 0 && rest.IsSparse() && rest.length >= kClustersPerCompressionUnit) {
        // Whole units that hold nothing are zeros: one hole for all of them, however many a
        // (perhaps damaged) run claims.
        const uint64_t units = rest.length / kClustersPerCompressionUnit;
        const uint64_t bytes = std::min(
            checkedMul(units * kClustersPerCompressionUnit, m_clusterBytes).value_or(UINT64_MAX), *due);
        if (!out.Zeros(bytes)) return kWriteError;
        *due -= bytes;
        rest.length -= units * kClustersPerCompressionUnit;
        if (Progress(bytes) != CFileRecoverer::kResultOk) return CFileRecoverer::kResultCancelled;
        continue;
      }
      const uint64_t take = std::min(rest.length, kClustersPerCompressionUnit - clusters);
      unit.push_back(DataRun{rest.start, take});
      clusters += take;
      rest.length -= take;
      if (!rest.IsSparse()) rest.start += take;
      if (clusters == kClustersPerCompressionUnit) {
        const int32_t r = CopyCompressionUnit(unit, clusters, source, out, due, name);
        if (r != CFileRecoverer::kResultOk) return r;
        unit.clear();
        clusters = 0;
      }
    }
    if (*due == 0) break;
  }
  if (clusters > 0 && *due > 0) return CopyCompressionUnit(unit, clusters, source, out, due, name);
  return CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::WriteContent(CFileNode* node, const IFileProperties* properties, OutputFile& file,
                                  bool* complete) {
  *complete = false;
  const char* name = NameOf(properties);
  if (!node->GetPosition(m_partitionStart, m_sectorsPerCluster)) {
    LogError("Failed to get file system info.");
    return CFileRecoverer::kResultFailed;
  }
  if (properties->IsFolder()) {
    LogError("It is a directory.Not valid!");
    return CFileRecoverer::kResultFailed;
  }
  if (m_callback != nullptr && IsCancel(m_callback->SetCurrentFile(name)))
    return CFileRecoverer::kResultCancelled;

  const uint16_t attributes = properties->GetAttributes();
  const bool compressed = (attributes & kAttributeCompressed) != 0;
  const int32_t sectorSize = m_device->GetSectorSize();
  if (sectorSize <= 0 || m_sectorsPerCluster == 0) {
    LogError("Failed to get file system info.");
    return CFileRecoverer::kResultFailed;
  }
  m_sectorSize = static_cast<uint64_t>(sectorSize);
  m_clusterBytes = m_sectorSize * m_sectorsPerCluster;
  if (compressed && (m_clusterBytes > kMaxCompressedClusterBytes ||
                     m_sectorsPerCluster > kMaxCompressedSectorsPerCluster)) {
    LogError("Compressed file %s lies in clusters of %" PRIu64 " bytes, which cannot be compressed", name,
             m_clusterBytes);
    return CFileRecoverer::kResultFailed;
  }

  const uint64_t size = properties->GetSize();
  auto* source = dynamic_cast<IFileContentSource*>(node->GetFileProperties());
  const std::unique_ptr<IDataRunList> runs = properties->CreateDataRunList();
  const bool ext2Holes = !compressed && properties->GetPersistenceCode() == kPropertiesExt2 &&
                         (attributes & kAttributeSparse) != 0;
  // Encrypted data is kept in whole sectors; all of them go into the stream.
  const bool encrypted = (attributes & kAttributeEncrypted) != 0 && source != nullptr;
  const uint64_t encryptedBytes =
      checkedAdd(size, m_sectorSize - 1).value_or(UINT64_MAX) / m_sectorSize * m_sectorSize;
  if (runs && !runs->IsResident()) {
    // Nothing is written for a file whose runs cannot hold it, or that would not fit on the target.
    uint64_t stored = 0;
    const uint64_t due = encrypted ? encryptedBytes : size;
    if (!CheckRuns(*runs, ext2Holes, due, &stored, name)) return CFileRecoverer::kResultFailed;
    // A sparse file may be larger than its volume, but not one that keeps none of its bytes there:
    // such a size is damage (an inode or record read from the wrong place), and the file would be
    // nothing but zeros far larger than the source.
    const uint64_t volumeBytes =
        m_deviceSectors > m_partitionStart
            ? checkedMul(m_deviceSectors - m_partitionStart, m_sectorSize).value_or(UINT64_MAX)
            : 0;
    if (stored == 0 && m_deviceSectors != 0 && due > volumeBytes) {
      LogError("File %s claims %" PRIu64 " bytes, more than its volume can hold (%" PRIu64
               " bytes), and none of them are stored there",
               name, due, volumeBytes);
      return CFileRecoverer::kResultFailed;
    }
    // Holes cost nothing where the target keeps them; elsewhere the whole size is written.
    const uint64_t needed = m_space.KeepsHoles() ? stored : due;
    if (!m_space.Fits(needed, false)) {
      LogError("%s", m_space.Describe(file.path.c_str(), needed).c_str());
      return CFileRecoverer::kResultFailed;
    }
    const uint64_t holes = due - stored;
    if (holes >= kLargeHoleBytes && holes / 8 > stored) {
      LogInfo("File %s holds %" PRIu64 " bytes of data for its %" PRIu64
              " bytes; the rest is zeros, written as holes",
              name, stored, due);
    }
  }

  OutputWriter out(file.fd.Get(), size, m_space);
  uint64_t due = size;
  if (encrypted) {
    std::vector<uint8_t> efs(kMaxEfsStreamBytes);
    uint32_t efsBytes = 0;
    if (source->ReadEfsStream(node, m_device, efs.data(), kMaxEfsStreamBytes, &efsBytes)) {
      efsBytes = std::min(efsBytes, kMaxEfsStreamBytes);
      if (!out.BeginEncrypted(efs.data(), efsBytes)) return WriteFailed(out, file.path);
      due = encryptedBytes;
    }
  }
  const uint64_t dataBytes = due;

  int32_t result = CFileRecoverer::kResultOk;
  if (!runs) {
    // A file without runs holds nothing; only an empty one is whole that way.
  } else if (runs->IsResident()) {
    std::vector<uint8_t>& data = m_resident;
    if (data.size() < kMaxResidentBytes) data.resize(kMaxResidentBytes);
    uint32_t got = 0;
    if (source == nullptr ||
        !source->ReadResidentData(node, m_device, data.data(), kMaxResidentBytes, &got)) {
      LogError("Failed to read the data kept in the record of file %s", name);
      return CFileRecoverer::kResultFailed;
    }
    const uint64_t take = std::min<uint64_t>(std::min(got, kMaxResidentBytes), due);
    if (!out.Write(data.data(), static_cast<size_t>(take))) return WriteFailed(out, file.path);
    due -= take;
    result = Progress(take);
  } else if (compressed) {
    result = CopyCompressed(*runs, source, out, &due, name);
  } else {
    result = CopyRuns(*runs, ext2Holes, out, &due, name);
  }
  if (result == kWriteError) return WriteFailed(out, file.path);
  if (result != CFileRecoverer::kResultOk) return result;
  if (due > 0) {
    LogError("The data runs of file %s end after %" PRIu64 " of its %" PRIu64 " bytes", name, dataBytes - due,
             dataBytes);
    return CFileRecoverer::kResultFailed;
  }
  if (!out.Finish()) return WriteFailed(out, file.path);

  // The creation time cannot be set here; access and modification times can.
  const timespec times[2] = {ToTimespec(properties->GetTime3()), ToTimespec(properties->GetTime2())};
  if ((times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) &&
      ::futimens(file.fd.Get(), times) != 0) {
    LogError("Failed to set file time");
  }
  *complete = true;

  if (m_callback != nullptr) {
    const uint64_t surplus = dataBytes > size ? dataBytes - size : 0;
    m_callback->SubtractBytes(static_cast<uint32_t>(std::min<uint64_t>(surplus, UINT32_MAX)));
    if (IsCancel(m_callback->AddFiles(1))) return CFileRecoverer::kResultCancelled;
  }
  return CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::RecoverFile(CFileNode* node, OutputFile& file) {
  const IFileProperties* properties = node->GetFileProperties();
  bool complete = false;
  const int32_t result =
      properties != nullptr ? WriteContent(node, properties, file, &complete) : CFileRecoverer::kResultFailed;
  // A one-file recovery the user cancelled leaves nothing, even when its data was all written.
  if (complete && !(m_removeOnCancel && result == CFileRecoverer::kResultCancelled)) {
    file.fd.Reset();
    ++m_recovered;
  } else {
    RemoveCreatedFile(file);
    if (result == CFileRecoverer::kResultFailed) ++m_failed;
  }
  return result;
}

int32_t RecoveryJob::RecoverSingleFile(CFileNode* node, const std::string& path) {
  if (m_device == nullptr || node == nullptr) {
    ++m_failed;
    return CFileRecoverer::kResultFailed;
  }
  UseDeviceOf(node);
  const IFileProperties* properties = node->GetFileProperties();
  if (properties != nullptr && Refuses(properties)) return CFileRecoverer::kResultFailed;
  m_removeOnCancel = true;
  // The folder is opened as the user named it, through no link but root's or the user's own; the
  // file itself is made inside it without following anything.
  std::string name;
  platform::FolderWalk folder = platform::WalkToFolderOf(path, &name);
  struct stat st {};
  if (!folder.ok() || name.empty() || ::fstat(folder.fd.Get(), &st) != 0) {
    if (folder.RefusedALink())
      LogError("The folder of %s is refused: %s", path.c_str(), folder.Describe().c_str());
    else
      LogError("Error code:%d", name.empty() ? ENOENT : folder.ok() ? errno : folder.error);
    ++m_failed;
    return CFileRecoverer::kResultFailed;
  }
  m_targetFd.Reset(folder.fd.Release());
  m_owner = OutputOwner::ForFolder(st);
  m_space.Attach(m_targetFd.Get());
  OutputFile file;
  const int error = CreateExclusive(m_targetFd.Get(), name, file);
  if (error != 0) {
    LogError("Error code:%d", error);
    ++m_failed;
    return CFileRecoverer::kResultFailed;
  }
  file.path = path;
  GiveToOwner(file.fd.Get(), false, path);
  return RecoverFile(node, file);
}

int32_t RecoveryJob::RecoverTree(CFileNode* root, const std::string& targetFolder, int targetFd,
                                 std::string* outPath) {
  m_target = targetFolder;
  if (m_target.empty() || m_target.back() != '/') m_target += '/';
  m_targetFd.Reset(targetFd >= 0 ? ::fcntl(targetFd, F_DUPFD_CLOEXEC, 0) : -1);
  struct stat st {};
  if (m_targetFd.Get() < 0 || ::fstat(m_targetFd.Get(), &st) != 0) {
    LogError("Failed to open the target folder %s, error code:%d", targetFolder.c_str(), errno);
    return CFileRecoverer::kResultFailed;
  }
  m_owner = OutputOwner::ForFolder(st);
  m_space.Attach(m_targetFd.Get());

  const IFileProperties* rootProperties = root != nullptr ? root->GetFileProperties() : nullptr;
  if (rootProperties == nullptr || rootProperties->GetCheckState() == kNotChecked)
    return CFileRecoverer::kResultOk;
  if (m_device == nullptr) return CFileRecoverer::kResultFailed;

  // A folder level of the walk. Without a descriptor its files go into the target folder.
  struct Level {
    CFileNode* next;
    UniqueFd fd;
    std::string path;
  };
  const std::string targetPath = m_target.size() > 1 ? m_target.substr(0, m_target.size() - 1) : m_target;
  std::string topName;
  UniqueFd topFd(
      CreateFolder(m_targetFd.Get(), targetPath, MakeTopFolderName(NameOf(rootProperties)), &topName));
  const std::string top = topFd.Get() >= 0 ? m_target + topName : std::string();
  if (outPath != nullptr) *outPath = top.empty() ? m_target : top;
  // Files whose own folder cannot be made, or lies deeper than the folder limit, stay inside the
  // volume's folder: a volume never puts a file of its choosing into the target folder itself.
  if (topFd.Get() >= 0) {
    m_fallbackFd.Reset(::fcntl(topFd.Get(), F_DUPFD_CLOEXEC, 0));
    m_fallbackPath = top;
  }
  if (m_fallbackFd.Get() < 0) {
    m_fallbackFd.Reset(::fcntl(m_targetFd.Get(), F_DUPFD_CLOEXEC, 0));
    m_fallbackPath = targetPath;
  }

  UseDeviceOf(root);

  // Depth first with a stack of its own: trees from damaged file systems can be deeper than any
  // thread's stack would allow.
  std::vector<Level> levels;
  levels.push_back(Level{root->GetFirstChild(), std::move(topFd), top});
  while (!levels.empty()) {
    CFileNode* node = levels.back().next;
    if (node == nullptr) {
      levels.pop_back();
      continue;
    }
    levels.back().next = node->GetNextSibling();
    const IFileProperties* properties = node->GetFileProperties();
    if (properties == nullptr || properties->GetCheckState() == kNotChecked) continue;
    const std::string name = MakeOutputName(NameOf(properties));
    if (properties->IsFolder()) {
      Level level{node->GetFirstChild(), UniqueFd(), std::string()};
      const Level& parent = levels.back();
      std::string madeName;
      if (parent.fd.Get() >= 0 && levels.size() <= kMaxFolderDepth) {
        level.fd.Reset(CreateFolder(parent.fd.Get(), parent.path, name, &madeName));
        if (level.fd.Get() >= 0) level.path = parent.path + "/" + madeName;
      }
      levels.push_back(std::move(level));
      continue;
    }
    if (Refuses(properties)) {
      LogError("Failed to recover file: %s", name.c_str());
      continue;
    }
    const Level& parent = levels.back();
    OutputFile file;
    const int error = parent.fd.Get() >= 0 ? CreateOutputFile(parent.fd.Get(), parent.path, name, file)
                                           : CreateOutputFile(m_fallbackFd.Get(), m_fallbackPath, name, file);
    int32_t result;
    if (error != 0) {
      if (error != EEXIST) LogError("Error code:%d", error);
      ++m_failed;
      result = CFileRecoverer::kResultFailed;
    } else {
      result = RecoverFile(node, file);
    }
    if (result == CFileRecoverer::kResultCancelled) return result;
    if (result == CFileRecoverer::kResultFailed) LogError("Failed to recover file: %s", name.c_str());
  }
  return CFileRecoverer::kResultOk;
}

// ---------------------------------------------------------------------------------------------
// One-file recoveries of the same node wait for each other, whichever thread starts them.
class NodeLocks {
 public:
  class Hold {
   public:
    Hold(NodeLocks& locks, const CFileNode* node) : m_locks(locks), m_node(node) {
      std::shared_ptr<std::mutex> mutex;
      {
        std::lock_guard<std::mutex> lock(m_locks.m_mutex);
        auto& entry = m_locks.m_entries[node];
        if (!entry.mutex) entry.mutex = std::make_shared<std::mutex>();
        ++entry.users;
        mutex = entry.mutex;
      }
      m_held = std::unique_lock<std::mutex>(*mutex);
      m_mutex = std::move(mutex);
    }
    ~Hold() {
      m_held.unlock();
      std::lock_guard<std::mutex> lock(m_locks.m_mutex);
      auto it = m_locks.m_entries.find(m_node);
      if (it != m_locks.m_entries.end() && --it->second.users == 0) m_locks.m_entries.erase(it);
    }

   private:
    NodeLocks& m_locks;
    const CFileNode* m_node;
    std::shared_ptr<std::mutex> m_mutex;
    std::unique_lock<std::mutex> m_held;
  };

 private:
  struct Entry {
    std::shared_ptr<std::mutex> mutex;
    int users = 0;
  };
  std::mutex m_mutex;
  std::map<const CFileNode*, Entry> m_entries;
};

NodeLocks& GetNodeLocks() {
  static NodeLocks locks;
  return locks;
}

std::mutex& SourceQueryMutex() {
  static std::mutex mutex;
  return mutex;
}

CFileRecoverer::SourceDeviceQuery& SourceQuery() {
  static CFileRecoverer::SourceDeviceQuery query;
  return query;
}

CFileRecoverer::DeviceNumbersQuery& DeviceQuery() {
  static CFileRecoverer::DeviceNumbersQuery query;
  return query;
}

}  // namespace

int32_t CFileRecoverer::RunOnWorker(const std::function<int32_t()>& job, int32_t startFailure) {
  const std::optional<int32_t> result = ::RunOnWorker(job);
  if (!result) {
    LogError("Failed to start the recovery thread");
    return startFailure;
  }
  return *result;
}

int32_t CFileRecoverer::RecoverFilesInThread(IStorageDevice* device, IFileRecoverCallback* callback,
                                             CFileNode* root, const char* targetFolder,
                                             std::string* outPath) {
  m_recovered = 0;
  m_failed = 0;
  const std::string target = targetFolder != nullptr ? targetFolder : "";
  std::string path;
  int32_t result = kResultFailed;
  if (OpenTarget(target)) {
    RecoveryJob job(device, callback, m_recovered, m_failed);
    result = job.RecoverTree(root, target, m_target.Get(), &path);
  }
  if (outPath != nullptr) *outPath = path;
  m_resultCode = result;
  return result;
}

int32_t CFileRecoverer::RecoverFileInThread(IStorageDevice* device, IFileRecoverCallback* callback,
                                            CFileNode* node, const char* targetFilePath, bool onWorker) {
  m_recovered = 0;
  m_failed = 0;
  const std::string path = targetFilePath != nullptr ? targetFilePath : "";
  int32_t recoveryResult = kResultFailed;
  const auto work = [&]() -> int32_t {
    NodeLocks::Hold hold(GetNodeLocks(), node);
    RecoveryJob job(device, callback, m_recovered, m_failed);
    recoveryResult = job.RecoverSingleFile(node, path);
    if (recoveryResult == kResultFailed) LogError("Failed to recover file :%s", path.c_str());
    return recoveryResult == kResultOk ? 1 : 0;
  };
  const int32_t result = onWorker ? RunOnWorker(work, 0) : work();
  m_resultCode = recoveryResult;
  return result;
}

bool CFileRecoverer::OpenTarget(const std::string& target) {
  // Every top-level item of one recovery goes into the same folder, opened once; only a folder that
  // was removed meanwhile is looked for (and made) again.
  struct stat st {};
  if (m_target.Get() >= 0 && target == m_targetPath && ::fstat(m_target.Get(), &st) == 0 && st.st_nlink > 0)
    return true;
  m_target.Reset();
  m_targetPath.clear();
  // What is missing of the target is made, for the person who asked; nothing of it is reached
  // through a link of another user.
  const OutputOwner madeHere = OutputOwner::ForFolderMadeHere();
  platform::FolderWalk walk = platform::WalkToFolder(
      target, platform::MissingFolders::kMake, madeHere.folderMode, [&](int fd, const std::string& made) {
        if (const int error = madeHere.Apply(fd, true); error != 0)
          LogError("Failed to give the folder %s to user %u, error code:%d", made.c_str(),
                   static_cast<unsigned>(madeHere.uid), error);
      });
  if (!walk.ok()) {
    if (walk.RefusedALink())
      LogError("The target folder %s is refused: %s", target.c_str(), walk.Describe().c_str());
    else
      LogError("Failed to open the target folder %s, error code:%d (%s)", target.c_str(), walk.error,
               walk.Describe().c_str());
    return false;
  }
  m_target = std::move(walk.fd);
  m_targetPath = target;
  return true;
}

void CFileRecoverer::SetSourceDeviceQuery(SourceDeviceQuery query) {
  std::lock_guard<std::mutex> lock(SourceQueryMutex());
  SourceQuery() = std::move(query);
}

bool CFileRecoverer::IsPathOnSourceDrive(const char* path) {
  SourceDeviceQuery query;
  {
    std::lock_guard<std::mutex> lock(SourceQueryMutex());
    query = SourceQuery();
  }
  return IsPathOnDevices(path, query);
}

void CFileRecoverer::SetDeviceNumbersQuery(DeviceNumbersQuery query) {
  std::lock_guard<std::mutex> lock(SourceQueryMutex());
  DeviceQuery() = std::move(query);
}

bool CFileRecoverer::IsPathOnDevice(const char* path, IStorageDevice* device) {
  DeviceNumbersQuery query;
  {
    std::lock_guard<std::mutex> lock(SourceQueryMutex());
    query = DeviceQuery();
  }
  if (!query) return false;
  return IsPathOnDevices(path, [&] { return query(device); });
}

bool CFileRecoverer::IsPathOnDevices(const char* path, const SourceDeviceQuery& query) {
  if (path == nullptr || *path == 0 || !query) return false;
  try {
    // A target folder that does not exist yet will be made inside its nearest existing folder.
    std::error_code ec;
    std::filesystem::path at = std::filesystem::absolute(path, ec);
    if (ec) return false;
    struct stat st {};
    while (::stat(at.c_str(), &st) != 0) {
      if (errno != ENOENT && errno != ENOTDIR) return false;
      if (!at.has_relative_path()) return false;
      at = at.parent_path();
    }
    const std::vector<uint64_t> devices = query();
    return std::find(devices.begin(), devices.end(), static_cast<uint64_t>(st.st_dev)) != devices.end();
  } catch (...) {
    return false;
  }
}
