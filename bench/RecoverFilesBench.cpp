// corvale-bench recover-files IMAGE OUTDIR: every live and deleted file of the NTFS volume at the
// start of IMAGE recovered into OUTDIR, from a tree made by a plain walk over the MFT's records (the
// tests' stand-in for the directory build). Prints the walk's records per second and the recovery's
// MB/s, and beside them two plain copies of the same amount: as many bytes of the image copied into
// one file, and the recovered files copied one by one into a folder beside them (the same files and
// bytes, with the same cost of making each file).
//
// A first, unmeasured pass brings the image into the page cache when it fits, so that the figures
// compare the recovery's own cost with copying, not the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "storage/ImageFileDevice.h"
#include "tests/ntfs/NtfsRecordWalk.h"

namespace {

constexpr size_t kPieceBytes = 1 << 16;

bool ReadAll(int fd, uint64_t bytes, std::vector<uint8_t>& buffer) {
  for (uint64_t at = 0; at < bytes;) {
    const ssize_t n = ::pread(fd, buffer.data(), std::min<uint64_t>(buffer.size(), bytes - at), off_t(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += uint64_t(n);
  }
  return true;
}

// Copies the first `bytes` bytes of the image into `to` in pieces of 64 KiB, as the recovery writes.
bool PlainCopy(int fd, const std::string& to, uint64_t bytes) {
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0) return false;
  std::vector<uint8_t> buffer(kPieceBytes);
  bool ok = true;
  for (uint64_t at = 0; ok && at < bytes;) {
    const ssize_t n = ::pread(fd, buffer.data(), std::min<uint64_t>(kPieceBytes, bytes - at), off_t(at));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0 && ::write(out, buffer.data(), size_t(n)) == n;
    at += ok ? uint64_t(n) : 0;
  }
  return ::close(out) == 0 && ok;
}

// Copies every regular file below `from` into the same place below `to`, 64 KiB at a time.
bool CopyTree(const std::string& from, const std::string& to, uint64_t* bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<uint8_t> buffer(kPieceBytes);
  for (const auto& e : fs::recursive_directory_iterator(from, ec)) {
    const fs::path target = fs::path(to) / fs::relative(e.path(), from);
    if (e.is_directory()) {
      fs::create_directories(target, ec);
      continue;
    }
    if (!e.is_regular_file()) continue;
    const int in = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t n; ok && (n = ::read(in, buffer.data(), buffer.size())) != 0;) {
      ok = n > 0 && ::write(out, buffer.data(), size_t(n)) == n;
      if (ok) *bytes += uint64_t(n);
    }
    if (in >= 0) ::close(in);
    if (out >= 0 && ::close(out) != 0) ok = false;
    if (!ok) return false;
  }
  return !ec;
}

double MBps(uint64_t bytes, double seconds) { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }

int RunRecoverFiles(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvale-bench recover-files IMAGE OUTDIR\n");
    return 2;
  }
  const std::string image = argv[0];
  const std::string outdir = argv[1];
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", image.c_str(), std::strerror(errno));
    return 1;
  }
  std::vector<uint8_t> warm(4 << 20);
  ReadAll(fd, uint64_t(st.st_size), warm);

  CImageFileDevice device(image);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "cannot open %s as a device\n", image.c_str());
    return 1;
  }
  ntfswalk::WalkResult walk;
  std::string why;
  auto start = std::chrono::steady_clock::now();
  if (!ntfswalk::WalkMftRecords(&device, 0, walk, &why)) {
    std::fprintf(stderr, "%s: %s\n", image.c_str(), why.c_str());
    return 1;
  }
  const double walkSeconds = SecondsSince(start);
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(walk.root, FreeFileTree);
  WalkSubtree(walk.root, [](CFileNode* n) { n->GetFileProperties()->SetCheckState(kChecked); });

  std::error_code ec;
  std::filesystem::create_directories(outdir, ec);
  CFileRecoverer recoverer;
  std::string top;
  start = std::chrono::steady_clock::now();
  const int32_t result = recoverer.RecoverFilesInThread(&device, nullptr, walk.root, outdir.c_str(), &top);
  const double recoverSeconds = SecondsSince(start);

  const std::string copyPath = outdir + "/plain-copy.bin";
  std::filesystem::remove(copyPath, ec);
  const uint64_t copyBytes = std::min<uint64_t>(walk.fileBytes, uint64_t(st.st_size));
  start = std::chrono::steady_clock::now();
  const bool copied = PlainCopy(fd, copyPath, copyBytes);
  const double copySeconds = SecondsSince(start);
  std::filesystem::remove(copyPath, ec);
  ::close(fd);

  const std::string treeCopy = outdir + "/plain-copy-of-files";
  std::filesystem::remove_all(treeCopy, ec);
  uint64_t treeBytes = 0;
  start = std::chrono::steady_clock::now();
  const bool treeCopied = !top.empty() && CopyTree(top, treeCopy, &treeBytes);
  const double treeSeconds = SecondsSince(start);
  std::filesystem::remove_all(treeCopy, ec);

  std::printf("image %s: %" PRIu64 " MFT records, %" PRIu64 " files (%" PRIu64 " deleted), %" PRIu64
              " folders, %" PRIu64 " bytes in files, label \"%s\"\n",
              image.c_str(), walk.records, walk.files, walk.deleted, walk.folders, walk.fileBytes,
              walk.label.c_str());
  std::printf("  walk of the MFT   %10.0f records/s  (%.3f s)\n", walk.records / std::max(walkSeconds, 1e-9),
              walkSeconds);
  std::printf(
      "  recovery          %10.1f MB/s       (%.3f s, %u files written, %u failed, result %d) into %s\n",
      MBps(walk.fileBytes, recoverSeconds), recoverSeconds, recoverer.GetRecoveredFileCount(),
      recoverer.GetFailedFileCount(), result, top.c_str());
  std::printf("  plain copy        %10.1f MB/s       (%.3f s, %" PRIu64
              " bytes of the image in 64 KiB pieces)%s\n",
              MBps(copyBytes, copySeconds), copySeconds, copyBytes, copied ? "" : " FAILED");
  std::printf("  copy of the files %10.1f MB/s       (%.3f s, %" PRIu64 " bytes, file by file)%s\n",
              MBps(treeBytes, treeSeconds), treeSeconds, treeBytes, treeCopied ? "" : " FAILED");
  std::printf("{\"bench\":\"recover-files\",\"records\":%" PRIu64 ",\"files\":%" PRIu64
              ",\"deleted\":%" PRIu64 ",\"folders\":%" PRIu64 ",\"bytes\":%" PRIu64
              ",\"walk_seconds\":%.6f,\"walk_records_per_second\":%.0f,\"recover_seconds\":%.6f,"
              "\"recover_MBps\":%.1f,\"recovered\":%u,\"failed\":%u,\"copy_seconds\":%.6f,\"copy_MBps\":%.1f,"
              "\"file_copy_seconds\":%.6f,\"file_copy_MBps\":%.1f}\n",
              walk.records, walk.files, walk.deleted, walk.folders, walk.fileBytes, walkSeconds,
              walk.records / std::max(walkSeconds, 1e-9), recoverSeconds,
              MBps(walk.fileBytes, recoverSeconds), recoverer.GetRecoveredFileCount(),
              recoverer.GetFailedFileCount(), copySeconds, MBps(copyBytes, copySeconds), treeSeconds,
              MBps(treeBytes, treeSeconds));
  return result == CFileRecoverer::kResultOk && recoverer.GetFailedFileCount() == 0 ? 0 : 1;
}

const BenchRegistration kRecoverFiles("recover-files", "IMAGE OUTDIR", RunRecoverFiles);

}  // namespace
