// corvale-bench recover IMAGE OUTDIR [--deleted-only]: the directory tree of the volume at the start
// of IMAGE, built by the first registered engine that recognises it, recovered into OUTDIR with its
// folders and names; all files, or only the deleted ones. Prints the engine's notice about the volume
// when it has one, the files written, their bytes, the failures (and how many of them the engine
// found with nothing left to recover) and the recovery's MB/s (the build's time beside it), and ends
// with one JSON line.
//
// A first, unmeasured pass brings the image into the page cache when it fits, so that the figures
// measure the work, not the disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/FileProperties.h"
#include "core/FileRecoverer.h"
#include "core/FileSystemEngine.h"
#include "platform/FolderWalk.h"
#include "platform/StringTable.h"
#include "storage/ImageFileDevice.h"

namespace {

// Deleted in the engine's own terms: the low bit of the type word is the deleted state of every
// engine's properties.
bool IsDeletedFile(const IFileProperties* p) {
  return p != nullptr && !p->IsFolder() && (p->GetTypeWord() & 1) != 0;
}

int RunRecover(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: corvale-bench recover IMAGE OUTDIR [--deleted-only]\n");
    return 2;
  }
  const std::string image = argv[0];
  const std::string outdir = argv[1];
  const bool deletedOnly = argc > 2 && std::strcmp(argv[2], "--deleted-only") == 0;
  WarmPageCache(image);
  CImageFileDevice device(image);
  if (!device.IsOpened()) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 1;
  }
  const std::vector<FileSystemEngine> engines = FileSystemEngines();
  const FileSystemEngine* engine = nullptr;
  for (const FileSystemEngine& e : engines)
    if (e.buildTree && e.Recognises(device, 0)) {
      engine = &e;
      break;
    }
  if (engine == nullptr) {
    std::fprintf(stderr, "%s: no engine recognises a volume at sector 0\n", image.c_str());
    return 1;
  }

  if (engine->volumeNotice) {
    if (const uint32_t notice = engine->volumeNotice(device, 0); notice != 0)
      std::printf("%s: %s\n", image.c_str(), corvale::EnglishStrings().Get(notice).c_str());
  }

  auto start = std::chrono::steady_clock::now();
  std::unique_ptr<CFileNode, void (*)(CFileNode*)> tree(engine->buildTree(device, 0, nullptr), FreeFileTree);
  const double buildSeconds = SecondsSince(start);
  if (!tree) {
    std::fprintf(stderr, "%s: the %s engine built no tree\n", image.c_str(), engine->name.c_str());
    return 1;
  }

  uint64_t files = 0, bytes = 0, nothingLeft = 0;
  WalkSubtree(tree.get(), [&](CFileNode* n) {
    IFileProperties* p = n->GetFileProperties();
    if (p == nullptr) return;
    const bool wanted = !deletedOnly || IsDeletedFile(p);
    if (deletedOnly)
      p->SetCheckState(wanted ? kChecked : kNotChecked);
    else
      p->SetCheckState(kChecked);
    if (wanted && !p->IsFolder()) {
      ++files;
      bytes += p->GetSize();
      if (p->GetUnrecoverableReason() != 0) ++nothingLeft;
    }
  });
  // Folders show whether anything below them is ticked.
  if (deletedOnly) UpdateFolderStates(tree.get());

  // The recovery makes what is missing of OUTDIR itself, through no link of another user; a target
  // it refuses is said here, with the reason.
  if (const platform::FolderWalk walk = platform::WalkToFolder(outdir, platform::MissingFolders::kStop);
      walk.RefusedALink()) {
    std::fprintf(stderr, "recover: the target %s is refused: %s\n", outdir.c_str(), walk.Describe().c_str());
    return 1;
  }
  CFileRecoverer recoverer;
  std::string top;
  start = std::chrono::steady_clock::now();
  const int32_t result = recoverer.RecoverFilesInThread(&device, nullptr, tree.get(), outdir.c_str(), &top);
  const double seconds = SecondsSince(start);
  const double mbps = seconds > 0 ? double(bytes) / seconds / 1e6 : 0;

  std::printf("%s (%s%s): %" PRIu64 " files ticked, %" PRIu64 " bytes; tree built in %.3f s\n", image.c_str(),
              engine->name.c_str(), deletedOnly ? ", deleted files only" : "", files, bytes, buildSeconds);
  std::printf("  recovered %u files, %u failures (%" PRIu64
              " with nothing left to recover), %.3f s, %.1f MB/s (%.3f s with the build), into %s\n",
              recoverer.GetRecoveredFileCount(), recoverer.GetFailedFileCount(), nothingLeft, seconds, mbps,
              seconds + buildSeconds, top.c_str());
  std::printf("{\"bench\":\"recover\",\"engine\":\"%s\",\"deleted_only\":%s,\"files\":%" PRIu64
              ",\"bytes\":%" PRIu64 ",\"recovered\":%u,\"failures\":%u,\"nothing_left\":%" PRIu64
              ",\"build_seconds\":%.6f,\"recover_seconds\":%.6f,"
              "\"total_seconds\":%.6f,\"MBps\":%.1f,\"result\":%d}\n",
              engine->name.c_str(), deletedOnly ? "true" : "false", files, bytes,
              recoverer.GetRecoveredFileCount(), recoverer.GetFailedFileCount(), nothingLeft, buildSeconds,
              seconds, seconds + buildSeconds, mbps, result);
  return result == CFileRecoverer::kResultOk && recoverer.GetFailedFileCount() == 0 ? 0 : 1;
}

const BenchRegistration kRecover("recover", "IMAGE OUTDIR [--deleted-only]", RunRecover);

}  // namespace
