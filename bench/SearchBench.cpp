// corvale-bench search [FILES]: the search over found files as the search dialog runs it, over a
// synthetic tree of FILES files (1,000,000 by default) in folders of 20 files with up to 4 subfolders
// each, plus one folder that holds 100,000 files. Measures, each over the whole tree: a search that
// takes every name ("*"), a name search without case that matches few files, a search by type,
// date and size together, and a search with auto select that ticks the 100,000 files of the one
// folder. Prints the time per file and ends with a JSON line.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/MyFileProperties.h"
#include "find/SearchMatcher.h"

namespace {

CMyFileProperties* Properties(const char* name, uint16_t attributes, uint64_t size, uint64_t time) {
  MyFileInfo info;
  info.name = name;
  info.attributes = attributes;
  info.size = size;
  info.creationTime = info.time2 = info.time3 = time;
  info.validMask = 255;
  return new CMyFileProperties(info);
}

constexpr uint64_t kBigFolderFiles = 100000;
const char* const kExtensions[] = {".jpg", ".txt", ".docx", ".png", ".dat"};

CFileSystemNode* BuildTree(uint64_t files, uint64_t* folders) {
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("NTFS 1");
  root->SetFileProperties(Properties("NTFS 1", kAttributeFolder, 0, 0));
  char name[64];
  CFileNode* big = root->AddChild(CreateFileNode());
  big->SetFileProperties(Properties("camera", kAttributeFolder, 0, 0));
  ++*folders;
  for (uint64_t i = 0; i < kBigFolderFiles; ++i) {
    std::snprintf(name, sizeof name, "IMG_%06" PRIu64 ".JPG", i);
    big->AddChild(CreateFileNode())->SetFileProperties(Properties(name, 0x20, 4096 + i, i));
  }
  uint64_t made = kBigFolderFiles;
  std::deque<CFileNode*> queue{root};
  while (made < files) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    for (int i = 0; i < 4; ++i, ++*folders) {
      CFileNode* sub = folder->AddChild(CreateFileNode());
      sub->SetFileProperties(Properties("folder", kAttributeFolder, 0, 0));
      queue.push_back(sub);
    }
    for (int i = 0; i < 20 && made < files; ++i, ++made) {
      std::snprintf(name, sizeof name, "file_%07" PRIu64 "%s", made, kExtensions[made % 5]);
      folder->AddChild(CreateFileNode())->SetFileProperties(Properties(name, 0x20, made % 100000, made));
    }
  }
  root->RecountSummary();
  return root;
}

struct Measured {
  double seconds = 0;
  uint64_t found = 0;
};

Measured Run(CFileSystemNode* root, SearchCriteria criteria) {
  criteria.location = root;
  CSearchResult result;
  const auto start = std::chrono::steady_clock::now();
  SearchFiles(root, criteria, result);
  return {SecondsSince(start), result.GetCount()};
}

int RunSearch(int argc, char** argv) {
  uint64_t files = argc > 0 ? std::strtoull(argv[0], nullptr, 10) : 1000000;
  if (files < kBigFolderFiles) files = kBigFolderFiles;
  uint64_t folders = 0;
  auto start = std::chrono::steady_clock::now();
  CFileSystemNode* root = BuildTree(files, &folders);
  const double buildSeconds = SecondsSince(start);

  SearchCriteria every;
  every.namePattern = "*";
  SearchCriteria name;
  name.namePattern = "*FILE_01234*";
  SearchCriteria combined;
  combined.namePattern = "*";
  combined.flags = SearchCriteria::kTypeUsed | SearchCriteria::kDateUsed | SearchCriteria::kSizeUsed;
  combined.type.extensions = ".jpg;.jpeg";
  combined.date = {SearchCriteria::kModified, 1000, 900000};
  combined.size = {SearchCriteria::kMoreThan, 50000};
  SearchCriteria tick;
  tick.namePattern = "*IMG_*";
  tick.autoSelect = 1;

  const Measured a = Run(root, every);
  const Measured b = Run(root, name);
  const Measured c = Run(root, combined);
  const Measured d = Run(root, tick);
  SelectionSummary summary;
  root->GetSummary(summary);
  start = std::chrono::steady_clock::now();
  FreeFileTree(root);
  const double freeSeconds = SecondsSince(start);

  const double nodes = static_cast<double>(files + folders);
  std::printf("tree of %" PRIu64 " files in %" PRIu64 " folders, built in %.3f s\n", files, folders,
              buildSeconds);
  const auto line = [&](const char* what, const Measured& m) {
    std::printf("  %-34s %.3f s, %.0f ns per node, %" PRIu64 " found\n", what, m.seconds,
                m.seconds * 1e9 / nodes, m.found);
  };
  line("every name (\"*\"):", a);
  line("name, any case (\"*FILE_01234*\"):", b);
  line("type + date + size:", c);
  line("auto select of one 100,000 folder:", d);
  std::printf("  ticked after auto select: %u files; tree freed in %.3f s\n", summary.checkedFiles,
              freeSeconds);
  std::printf("{\"bench\":\"search\",\"files\":%" PRIu64 ",\"folders\":%" PRIu64
              ",\"every_seconds\":%.6f,\"every_found\":%" PRIu64
              ",\"name_seconds\":%.6f,\"name_found\":%" PRIu64
              ",\"combined_seconds\":%.6f,\"combined_found\":%" PRIu64
              ",\"autoselect_seconds\":%.6f,\"autoselect_found\":%" PRIu64 ",\"ticked\":%u}\n",
              files, folders, a.seconds, a.found, b.seconds, b.found, c.seconds, c.found, d.seconds, d.found,
              summary.checkedFiles);
  return a.found == files && b.found == 100 && d.found == kBigFolderFiles &&
                 summary.checkedFiles == kBigFolderFiles
             ? 0
             : 1;
}

const BenchRegistration kSearch("search", "[FILES]", RunSearch);

}  // namespace
