#include "core/FileRecoverer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "core/DataRunList.h"
#include "core/FileContentSource.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/IFileRecoverCallback.h"
#include "core/OutputName.h"
#include "core/WorkerPump.h"
#include "platform/HandleFile.h"
#include "platform/Log.h"
#include "storage/CheckedMath.h"
#include "storage/FileSystemCode.h"
#include "storage/IStorageDevice.h"

using namespace corvale;

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
// Writes a file's content through the descriptor of the exclusive create. Plain files get holes
// where the content is zeros (they read back as zeros and cost no space); the raw stream of an
// encrypted file is cut into blocks, each behind its header.
class OutputWriter {
 public:
  OutputWriter(CHandleFile& file, uint64_t fileSize) : m_file(file), m_fileBytesLeft(fileSize) {}

  // Switches to the raw encrypted form and writes its headers and key stream.
  bool BeginEncrypted(const uint8_t* efs, uint32_t efsBytes) {
    m_encrypted = true;
    m_block.assign(kEfsBlockHeaderBytes + kPieceBytes, 0);
    const auto header = EfsFileHeader(efsBytes);
    const auto stream = EfsStreamHeader();
    return Put(header.data(), header.size()) && Put(efs, efsBytes) && Put(stream.data(), stream.size());
  }

  bool Write(const uint8_t* data, size_t n) {
    if (!m_encrypted) {
      if (m_holeBytes > 0 && !m_file.Seek(m_position)) return Fail();
      m_holeBytes = 0;
      m_position += n;
      return Put(data, n);
    }
    while (n > 0) {
      const size_t take = std::min(n, kPieceBytes - m_blockFill);
      std::memcpy(m_block.data() + kEfsBlockHeaderBytes + m_blockFill, data, take);
      m_blockFill += take;
      data += take;
      n -= take;
      if (m_blockFill == kPieceBytes && !FlushBlock()) return false;
    }
    return true;
  }

  bool Zeros(uint64_t n) {
    if (!m_encrypted) {
      m_position += n;
      m_holeBytes += n;
      return true;
    }
    while (n > 0) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, kPieceBytes - m_blockFill));
      std::memset(m_block.data() + kEfsBlockHeaderBytes + m_blockFill, 0, take);
      m_blockFill += take;
      n -= take;
      if (m_blockFill == kPieceBytes && !FlushBlock()) return false;
    }
    return true;
  }

  // Writes what is still held; a plain file that ends in a hole is given its full length.
  bool Finish() {
    if (m_encrypted) return m_blockFill == 0 || FlushBlock();
    if (m_holeBytes > 0) {
      int rc;
      do {
        rc = ::ftruncate(m_file.GetDescriptor(), static_cast<off_t>(m_position));
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) {
        m_error = errno;
        return false;
      }
      m_holeBytes = 0;
    }
    return true;
  }

  int Error() const { return m_error; }

 private:
  bool Put(const uint8_t* data, size_t n) { return m_file.Write(data, n) || Fail(); }

  bool Fail() {
    m_error = m_file.LastError() != 0 ? m_file.LastError() : EIO;
    return false;
  }

  bool FlushBlock() {
    const uint32_t fileBytes = static_cast<uint32_t>(std::min<uint64_t>(m_fileBytesLeft, m_blockFill));
    m_fileBytesLeft -= fileBytes;
    EfsBlockHeader(m_block.data(), static_cast<uint32_t>(m_blockFill), m_blockNumber++, fileBytes);
    const size_t n = kEfsBlockHeaderBytes + m_blockFill;
    m_blockFill = 0;
    return Put(m_block.data(), n);
  }

  CHandleFile& m_file;
  bool m_encrypted = false;
  uint64_t m_position = 0;
  uint64_t m_holeBytes = 0;
  uint64_t m_fileBytesLeft;
  std::vector<uint8_t> m_block;
  size_t m_blockFill = 0;
  uint16_t m_blockNumber = 0;
  int m_error = 0;
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

// Removes a file this run created, unless the name meanwhile stands for another file.
void RemoveCreatedFile(CHandleFile& file, const std::string& path) {
  struct stat mine {};
  struct stat named {};
  const bool same = file.IsOpen() && ::fstat(file.GetDescriptor(), &mine) == 0 &&
                    ::lstat(path.c_str(), &named) == 0 && mine.st_dev == named.st_dev &&
                    mine.st_ino == named.st_ino;
  file.Close();
  if (same) ::unlink(path.c_str());
}

// ---------------------------------------------------------------------------------------------
// One job: the device, the callback, the buffers, and the counters of the files done.
class RecoveryJob {
 public:
  RecoveryJob(IStorageDevice* device, IFileRecoverCallback* callback, std::atomic<uint32_t>& recovered,
              std::atomic<uint32_t>& failed)
      : m_device(device), m_callback(callback), m_recovered(recovered), m_failed(failed) {}

  // The tree below `root` into `target`; the walk's result.
  int32_t RecoverTree(CFileNode* root, const std::string& targetFolder, std::string* outPath);

  // One file into a path that must not exist; the file's result.
  int32_t RecoverSingleFile(CFileNode* node, const std::string& path);

 private:
  // Creates `path` as a folder, or the first free "path_NNN"; the name made goes to *made.
  static bool CreateFolder(const std::string& path, std::string* made);
  // Creates the output file for `name` in `folder`, or in the target folder when `folder` cannot be
  // reached, with a counter when the name is taken. 0, or the error that stopped it.
  int CreateOutputFile(const std::string& folder, const std::string& name, CHandleFile& file,
                       std::string* path);
  static int CreateCounted(std::string* path, CHandleFile& file);

  // Writes the file's content into `file` and settles the outcome: a file that is not whole is
  // removed; the counters move.
  int32_t RecoverFile(CFileNode* node, CHandleFile& file, const std::string& path);
  int32_t WriteContent(CFileNode* node, const IFileProperties* properties, CHandleFile& file,
                       const std::string& path, bool* complete);
  int32_t CopyRuns(const IDataRunList& runs, bool zeroStartIsHole, OutputWriter& out, uint64_t* due,
                   const char* name);
  int32_t CopyCompressed(const IDataRunList& runs, IFileContentSource* source, OutputWriter& out,
                         uint64_t* due, const char* name);
  int32_t CopyCompressionUnit(const std::vector<DataRun>& unit, uint64_t clusters, IFileContentSource* source,
                              OutputWriter& out, uint64_t* due, const char* name);
  // Reads `sectors` sectors from the start of the file's cluster `cluster` into `buffer`.
  bool ReadClusters(uint64_t cluster, uint64_t sectors, uint8_t* buffer, const char* name);
  int32_t Progress(uint64_t bytes);
  int32_t WriteFailed(const OutputWriter& out, const std::string& path) const;

  IStorageDevice* m_device;
  IFileRecoverCallback* m_callback;
  std::atomic<uint32_t>& m_recovered;
  std::atomic<uint32_t>& m_failed;
  std::string m_target;  // ends in "/"
  // Position of the file being recovered.
  uint64_t m_partitionStart = 0;
  uint32_t m_sectorsPerCluster = 0;
  uint64_t m_sectorSize = 0;
  uint64_t m_clusterBytes = 0;
  std::vector<uint8_t> m_buffer;
  std::vector<uint8_t> m_unit;
};

int32_t RecoveryJob::Progress(uint64_t bytes) {
  return m_callback != nullptr && IsCancel(m_callback->AddBytes(bytes)) ? CFileRecoverer::kResultCancelled
                                                                        : CFileRecoverer::kResultOk;
}

int32_t RecoveryJob::WriteFailed(const OutputWriter& out, const std::string& path) const {
  LogError("Failed to write %s, error code:%d", path.c_str(), out.Error());
  return CFileRecoverer::kResultFailed;
}

bool RecoveryJob::CreateFolder(const std::string& path, std::string* made) {
  if (::mkdir(path.c_str(), 0777) == 0) {
    *made = path;
    return true;
  }
  if (errno != EEXIST) return false;
  for (int i = 0; i < kFolderNameTries; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%03d", i);
    const std::string candidate = path + suffix;
    if (::mkdir(candidate.c_str(), 0777) == 0) {
      *made = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

int RecoveryJob::CreateCounted(std::string* path, CHandleFile& file) {
  const size_t slash = path->rfind('/');
  if (slash == std::string::npos) return ENOENT;
  const size_t dot = path->rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > slash;
  const std::string stem = hasExtension ? path->substr(0, dot) : *path;
  const std::string extension = hasExtension ? path->substr(dot) : std::string();
  for (int i = 0; i < kFileNameTries; ++i) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%03d", i);
    std::string candidate = stem + suffix + extension;
    if (file.CreateNew(candidate)) {
      *path = std::move(candidate);
      return 0;
    }
    if (file.LastError() != EEXIST) return file.LastError();
  }
  return EEXIST;
}

int RecoveryJob::CreateOutputFile(const std::string& folder, const std::string& name, CHandleFile& file,
                                  std::string* path) {
  *path = folder + "/" + name;
  if (file.CreateNew(*path)) return 0;
  int error = file.LastError();
  if (error == EEXIST) error = CreateCounted(path, file);
  if (error == 0) return 0;
  if (IsMissingFolderError(error)) {
    // The folder is gone or the path too long: the file goes straight into the target folder.
    *path = m_target + name;
    if (file.CreateNew(*path)) return 0;
    error = file.LastError();
    if (error == EEXIST) error = CreateCounted(path, file);
  }
  return error;
}

bool RecoveryJob::ReadClusters(uint64_t cluster, uint64_t sectors, uint8_t* buffer, const char* name) {
  const auto offset = checkedMul(cluster, m_sectorsPerCluster);
  const auto sector = offset ? checkedAdd(m_partitionStart, *offset) : std::nullopt;
  if (sector && m_device->ReadSectors(buffer, *sector, sectors)) return true;
  LogError("Failed to read %" PRIu64 " sectors at cluster %" PRIu64 " of file %s", sectors, cluster, name);
  return false;
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
        const uint64_t bytes =
            std::min(checkedMul(units * kClustersPerCompressionUnit, m_clusterBytes).value_or(UINT64_MAX), *due);
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

int32_t RecoveryJob::WriteContent(CFileNode* node, const IFileProperties* properties, CHandleFile& file,
                                  const std::string& path, bool* complete) {
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
  OutputWriter out(file, size);
  uint64_t due = size;
  if ((attributes & kAttributeEncrypted) != 0 && source != nullptr) {
    std::vector<uint8_t> efs(kMaxEfsStreamBytes);
    uint32_t efsBytes = 0;
    if (source->ReadEfsStream(node, m_device, efs.data(), kMaxEfsStreamBytes, &efsBytes)) {
      efsBytes = std::min(efsBytes, kMaxEfsStreamBytes);
      if (!out.BeginEncrypted(efs.data(), efsBytes)) return WriteFailed(out, path);
      // Encrypted data is kept in whole sectors; all of them go into the stream.
      due = checkedAdd(size, m_sectorSize - 1).value_or(UINT64_MAX) / m_sectorSize * m_sectorSize;
    }
  }
  const uint64_t dataBytes = due;

  const std::unique_ptr<IDataRunList> runs = properties->CreateDataRunList();
  int32_t result = CFileRecoverer::kResultOk;
  if (!runs) {
    // A file without runs holds nothing; only an empty one is whole that way.
  } else if (runs->IsResident()) {
    std::vector<uint8_t> data(kMaxResidentBytes);
    uint32_t got = 0;
    if (source == nullptr ||
        !source->ReadResidentData(node, m_device, data.data(), kMaxResidentBytes, &got)) {
      LogError("Failed to read the data kept in the record of file %s", name);
      return CFileRecoverer::kResultFailed;
    }
    const uint64_t take = std::min<uint64_t>(std::min(got, kMaxResidentBytes), due);
    if (!out.Write(data.data(), static_cast<size_t>(take))) return WriteFailed(out, path);
    due -= take;
    result = Progress(take);
  } else if (compressed) {
    result = CopyCompressed(*runs, source, out, &due, name);
  } else {
    const bool ext2Holes =
        properties->GetPersistenceCode() == kPropertiesExt2 && (attributes & kAttributeSparse) != 0;
    result = CopyRuns(*runs, ext2Holes, out, &due, name);
  }
  if (result == kWriteError) return WriteFailed(out, path);
  if (result != CFileRecoverer::kResultOk) return result;
  if (due > 0) {
    LogError("The data runs of file %s end after %" PRIu64 " of its %" PRIu64 " bytes", name, dataBytes - due,
             dataBytes);
    return CFileRecoverer::kResultFailed;
  }
  if (!out.Finish()) return WriteFailed(out, path);

  // The creation time cannot be set here; access and modification times can.
  const timespec times[2] = {ToTimespec(properties->GetTime3()), ToTimespec(properties->GetTime2())};
  if ((times[0].tv_nsec != UTIME_OMIT || times[1].tv_nsec != UTIME_OMIT) &&
      ::futimens(file.GetDescriptor(), times) != 0) {
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

int32_t RecoveryJob::RecoverFile(CFileNode* node, CHandleFile& file, const std::string& path) {
  const IFileProperties* properties = node->GetFileProperties();
  bool complete = false;
  const int32_t result = properties != nullptr ? WriteContent(node, properties, file, path, &complete)
                                               : CFileRecoverer::kResultFailed;
  if (complete) {
    file.Close();
    ++m_recovered;
  } else {
    RemoveCreatedFile(file, path);
    if (result == CFileRecoverer::kResultFailed) ++m_failed;
  }
  return result;
}

int32_t RecoveryJob::RecoverSingleFile(CFileNode* node, const std::string& path) {
  if (m_device == nullptr || node == nullptr) {
    ++m_failed;
    return CFileRecoverer::kResultFailed;
  }
  // Ext2/3 positions count 512-byte sectors whatever the device's sector size.
  if (node->GetFileSystemType() == kFileSystemExt2 || node->GetFileSystemType() == kFileSystemExt3) {
    m_device = m_device->GetDeviceWith512ByteSectors();
  }
  CHandleFile file;
  if (!file.CreateNew(path)) {
    LogError("Error code:%d", file.LastError());
    ++m_failed;
    return CFileRecoverer::kResultFailed;
  }
  return RecoverFile(node, file, path);
}

int32_t RecoveryJob::RecoverTree(CFileNode* root, const std::string& targetFolder, std::string* outPath) {
  m_target = targetFolder;
  if (m_target.empty() || m_target.back() != '/') m_target += '/';
  std::error_code ec;
  std::filesystem::create_directories(m_target, ec);

  const IFileProperties* rootProperties = root != nullptr ? root->GetFileProperties() : nullptr;
  if (rootProperties == nullptr || rootProperties->GetCheckState() == kNotChecked)
    return CFileRecoverer::kResultOk;
  if (m_device == nullptr) return CFileRecoverer::kResultFailed;

  struct Level {
    CFileNode* next;
    std::string folder;  // empty: no folder of its own, files go into the target folder
  };
  std::string top;
  if (!CreateFolder(m_target + MakeTopFolderName(NameOf(rootProperties)), &top)) top.clear();
  if (outPath != nullptr) *outPath = top.empty() ? m_target : top;

  if (root->GetFileSystemType() == kFileSystemExt2 || root->GetFileSystemType() == kFileSystemExt3) {
    m_device = m_device->GetDeviceWith512ByteSectors();
  }

  // Depth first with a stack of its own: trees from damaged file systems can be deeper than any
  // thread's stack would allow.
  std::vector<Level> levels;
  levels.push_back(Level{root->GetFirstChild(), top});
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
      std::string made;
      const std::string& parent = levels.back().folder;
      if (!parent.empty() && !CreateFolder(parent + "/" + name, &made)) made.clear();
      levels.push_back(Level{node->GetFirstChild(), std::move(made)});
      continue;
    }
    const std::string& parent = levels.back().folder;
    CHandleFile file;
    std::string path;
    const int error = CreateOutputFile(parent.empty() ? m_target.substr(0, m_target.size() - 1) : parent,
                                       name, file, &path);
    int32_t result;
    if (error != 0) {
      if (error != EEXIST) LogError("Error code:%d", error);
      ++m_failed;
      result = CFileRecoverer::kResultFailed;
    } else {
      result = RecoverFile(node, file, path);
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

}  // namespace

CFileRecoverer::CFileRecoverer(MessagePump pump) : m_pump(std::move(pump)) {}

int32_t CFileRecoverer::RunOnWorker(const std::function<int32_t()>& job, int32_t startFailure) {
  const std::optional<int32_t> result = RunOnWorkerWithPump(job, m_pump);
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
  const int32_t result = RunOnWorker(
      [&] {
        RecoveryJob job(device, callback, m_recovered, m_failed);
        return job.RecoverTree(root, target, &path);
      },
      kResultFailed);
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

void CFileRecoverer::SetSourceDeviceQuery(SourceDeviceQuery query) {
  std::lock_guard<std::mutex> lock(SourceQueryMutex());
  SourceQuery() = std::move(query);
}

bool CFileRecoverer::IsPathOnSourceDrive(const char* path) {
  if (path == nullptr || *path == 0) return false;
  SourceDeviceQuery query;
  {
    std::lock_guard<std::mutex> lock(SourceQueryMutex());
    query = SourceQuery();
  }
  if (!query) return false;
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
