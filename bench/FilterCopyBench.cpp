// corvale-bench filter-copy [FILES]: the copy of a found-file tree that keeps only the deleted
// files and their folders, as the deleted-file step makes it, over a synthetic tree of FILES files
// (1,000,000 by default) in about FILES / 5 folders, with one chain of folders 200 deep. Prints the
// time of the copy, of handing the shared properties over and of freeing, the files kept and the
// growth of the peak resident size, and ends with a JSON line.

#include <sys/resource.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "find/FileFilter.h"
#include "find/FilterTreeBuilder.h"
#include "storage/FileSystemCode.h"

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

CMyFileProperties* Properties(const char* name, uint16_t attributes, uint16_t state) {
  MyFileInfo info;
  info.name = name;
  info.attributes = attributes;
  info.typeWord = state;
  info.validMask = 255;
  return new CMyFileProperties(info);
}

// Folders of 20 files each, filled breadth-first with up to 4 subfolders per folder; one in five
// files deleted. A chain 200 folders deep holds a deleted file at its end.
CFileSystemNode* BuildTree(uint64_t files, uint64_t* deleted, uint64_t* folders) {
  std::mt19937_64 rng(7);
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("NTFS 1");
  root->SetFileSystemType(kFileSystemNtfs);
  root->SetFileProperties(Properties("NTFS 1", kAttributeFolder, 0));
  CFileNode* chain = root;
  for (int i = 0; i < 200; ++i, ++*folders)
    chain = chain->AddChild(CreateFileNode()),
    chain->SetFileProperties(Properties("deep", kAttributeFolder, 0));
  chain->AddChild(CreateFileNode())->SetFileProperties(Properties("bottom.txt", 0x20, 1));
  uint64_t made = 1;
  *deleted = 1;
  std::deque<CFileNode*> queue{root};
  char name[64];
  while (made < files) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    for (int i = 0; i < 4; ++i, ++*folders) {
      CFileNode* sub = folder->AddChild(CreateFileNode());
      sub->SetFileProperties(Properties("folder", kAttributeFolder, 0));
      queue.push_back(sub);
    }
    for (int i = 0; i < 20 && made < files; ++i, ++made) {
      const bool gone = rng() % 5 == 0;
      *deleted += gone;
      std::snprintf(name, sizeof name, "file_%07" PRIu64 ".dat", made);
      folder->AddChild(CreateFileNode())->SetFileProperties(Properties(name, 0x20, gone ? 1 : 0));
    }
  }
  return root;
}

int RunFilterCopy(int argc, char** argv) {
  const uint64_t files = argc > 0 ? std::strtoull(argv[0], nullptr, 10) : 1000000;
  uint64_t deleted = 0, folders = 0;
  auto start = std::chrono::steady_clock::now();
  CFileSystemNode* source = BuildTree(files, &deleted, &folders);
  const double buildSeconds = SecondsSince(start);
  const long before = PeakKilobytes();

  start = std::chrono::steady_clock::now();
  CFileStateFilter filter(7);
  CFilterTreeBuilder builder(&filter);
  CFileSystemNode* copy = builder.CopyRoot(source);
  const double copySeconds = SecondsSince(start);
  const long after = PeakKilobytes();

  uint64_t kept = 0;
  WalkSubtree(
      copy, [&kept](CFileNode* n) { kept += n->GetFileProperties() && !n->GetFileProperties()->IsFolder(); });

  start = std::chrono::steady_clock::now();
  CFilterTreeBuilder::ReleaseSource(source, copy);
  const double releaseSeconds = SecondsSince(start);
  start = std::chrono::steady_clock::now();
  FreeFileTree(copy);
  const double freeSeconds = SecondsSince(start);

  std::printf("tree of %" PRIu64 " files (%" PRIu64 " deleted) in %" PRIu64 " folders, built in %.3f s\n",
              files, deleted, folders, buildSeconds);
  std::printf("  filtered copy: %.3f s (%.0f files/s), %" PRIu64 " files kept, peak grew %ld KiB\n",
              copySeconds, copySeconds > 0 ? files / copySeconds : 0, kept, after - before);
  std::printf("  source released in %.3f s, copy freed in %.3f s\n", releaseSeconds, freeSeconds);
  std::printf("{\"bench\":\"filter-copy\",\"files\":%" PRIu64 ",\"deleted\":%" PRIu64 ",\"folders\":%" PRIu64
              ",\"kept\":%" PRIu64
              ",\"copy_seconds\":%.6f,\"release_seconds\":%.6f,\"free_seconds\":%.6f,"
              "\"peak_growth_kib\":%ld}\n",
              files, deleted, folders, kept, copySeconds, releaseSeconds, freeSeconds, after - before);
  return kept == deleted ? 0 : 1;
}

const BenchRegistration kFilterCopy("filter-copy", "[FILES]", RunFilterCopy);

}  // namespace
