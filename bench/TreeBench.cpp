// corvale-bench tree N [STATEFILE]: builds a found-file tree of N nodes with the fan-out of an
// ordinary volume, ticks it whole, saves it into a state file as a saved scan does, loads it back
// and frees both trees. Prints nodes per second for each step and a final JSON line.

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/FileSystemTree.h"
#include "core/MyFileProperties.h"
#include "core/RSDataEx.h"
#include "storage/FileSystemCode.h"

namespace {

using Clock = std::chrono::steady_clock;

CMyFileProperties* Properties(const char* name, uint64_t size, uint16_t attributes, uint64_t time) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  info.creationTime = info.time2 = info.time3 = time;
  info.validMask = 255;
  return new CMyFileProperties(info);
}

// A volume as users have them: a root partition node, folders holding 0 to 6 subfolders and 4 to
// 40 files of a few kilobytes to megabytes, filled breadth-first until `count` nodes exist.
CFileSystemNode* BuildTree(uint64_t count, uint64_t* folders) {
  std::mt19937_64 rng(2024);
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("Local Disk");
  root->SetFileSystemType(kFileSystemNtfs);
  root->SetPosition(2048, 8);
  root->SetFileProperties(Properties("Local Disk", 0, kAttributeFolder, 0));
  uint64_t made = 1;
  *folders = 1;
  std::deque<CFileNode*> queue{root};
  char name[64];
  while (made < count) {
    CFileNode* folder = queue.front();
    queue.pop_front();
    const uint64_t subfolders = rng() % 7;
    const uint64_t files = 4 + rng() % 37;
    for (uint64_t i = 0; i < files && made < count; ++i, ++made) {
      std::snprintf(name, sizeof name, "IMG_%06" PRIu64 ".jpg", made);
      const uint16_t attributes = 0x20 | (rng() % 50 == 0 ? kAttributeCompressed : 0);
      CFileNode* file = folder->AddChild(CreateFileNode());
      file->SetFileProperties(
          Properties(name, 1024 + rng() % (8u << 20), attributes, 130000000000000000ull + made));
    }
    for (uint64_t i = 0; i < subfolders && made < count; ++i, ++made) {
      std::snprintf(name, sizeof name, "Folder %" PRIu64, made);
      CFileNode* sub = folder->AddChild(CreateFileNode());
      sub->SetFileProperties(Properties(name, 0, kAttributeFolder, 130000000000000000ull + made));
      queue.push_back(sub);
      ++*folders;
    }
    // A folder without subfolders must not end the walk while nodes are still wanted.
    if (queue.empty()) queue.push_back(folder);
  }
  root->RecountSummary();
  return root;
}

uint64_t CountNodes(CFileNode* root) {
  uint64_t n = 0;
  WalkSubtree(root, [&](CFileNode*) { ++n; });
  return n;
}

double PerSecond(uint64_t count, double seconds) { return seconds > 0 ? count / seconds : 0; }

int RunTreeBench(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench tree N [STATEFILE]\n");
    return 2;
  }
  char* end = nullptr;
  const uint64_t count = std::strtoull(argv[0], &end, 10);
  if (end == argv[0] || *end != 0 || count == 0) {
    std::fprintf(stderr, "N must be a positive number of nodes\n");
    return 2;
  }
  std::string path;
  bool removeAfter = false;
  if (argc >= 2) {
    path = argv[1];
  } else {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/corvale-tree-bench-" +
           std::to_string(getpid()) + ".rdf";
    removeAfter = true;
  }

  auto t = Clock::now();
  uint64_t folders = 0;
  CFileSystemNode* root = BuildTree(count, &folders);
  const double buildSeconds = SecondsSince(t);
  SelectionSummary summary;
  root->GetSummary(summary);
  std::printf("build: %" PRIu64 " nodes (%" PRIu64 " folders, %u files, %.2f GB) in %.3f s, %.0f nodes/s\n",
              count, folders, summary.files, summary.bytes / 1e9, buildSeconds,
              PerSecond(count, buildSeconds));

  t = Clock::now();
  root->ToggleCheck(root, false);
  const double tickSeconds = SecondsSince(t);
  root->GetSummary(summary);
  std::printf("tick:  whole tree checked in %.3f s, %.0f nodes/s (%u files checked)\n", tickSeconds,
              PerSecond(count, tickSeconds), summary.checkedFiles);

  t = Clock::now();
  {
    CRSDataEx writer(RS_MODE_WRITE);
    if (!writer.Open(path, 1)) {
      std::fprintf(stderr, "cannot create %s\n", path.c_str());
      FreeFileTree(root);
      return 1;
    }
    uint8_t header[132] = {};
    std::memcpy(header, corvale::kRSMarker.bytes.data(), 16);
    try {
      writer.WriteHeader(header);
      if (!WriteFileSystemTree(root, writer, nullptr)) throw CRSException(RS_ERROR_WRITE_FAILED);
      writer.SetStatus(1);
    } catch (IRSException& e) {
      std::fprintf(stderr, "saving failed: state stream error %d\n", e.GetCode());
      writer.Close();
      FreeFileTree(root);
      return 1;
    }
    writer.Close();
  }
  const double saveSeconds = SecondsSince(t);
  struct stat st {};
  const uint64_t fileBytes = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  std::printf("save:  %" PRIu64 " bytes of state file in %.3f s, %.0f nodes/s, %.1f bytes/node\n", fileBytes,
              saveSeconds, PerSecond(count, saveSeconds), static_cast<double>(fileBytes) / count);

  t = Clock::now();
  CFileSystemNode* loaded = nullptr;
  {
    CRSDataEx reader(RS_MODE_READ);
    try {
      if (reader.Open(path, 0) && reader.IsValidFile()) loaded = ReadFileSystemTree(reader, nullptr);
    } catch (IRSException& e) {
      std::fprintf(stderr, "loading failed: state stream error %d\n", e.GetCode());
    }
    reader.Close();
  }
  const double loadSeconds = SecondsSince(t);
  if (removeAfter) ::unlink(path.c_str());
  if (loaded == nullptr) {
    std::fprintf(stderr, "the state file gave no tree back\n");
    FreeFileTree(root);
    return 1;
  }
  const uint64_t loadedNodes = CountNodes(loaded);
  std::printf("load:  %" PRIu64 " nodes in %.3f s, %.0f nodes/s\n", loadedNodes, loadSeconds,
              PerSecond(loadedNodes, loadSeconds));

  t = Clock::now();
  FreeFileTree(loaded);
  FreeFileTree(root);
  const double freeSeconds = SecondsSince(t);
  std::printf("free:  both trees in %.3f s, %.0f nodes/s\n", freeSeconds, PerSecond(2 * count, freeSeconds));

  if (loadedNodes != count) {
    std::fprintf(stderr, "loaded %" PRIu64 " nodes of %" PRIu64 "\n", loadedNodes, count);
    return 1;
  }
  std::printf("{\"bench\":\"tree\",\"nodes\":%" PRIu64 ",\"folders\":%" PRIu64
              ",\"build_s\":%.3f,\"build_nodes_per_s\":%.0f,"
              "\"tick_s\":%.3f,\"tick_nodes_per_s\":%.0f,\"save_s\":%.3f,\"save_nodes_per_s\":%.0f,\"state_"
              "file_bytes\":%" PRIu64 ",\"load_s\":%.3f,\"load_nodes_per_s\":%.0f,\"free_s\":%.3f}\n",
              count, folders, buildSeconds, PerSecond(count, buildSeconds), tickSeconds,
              PerSecond(count, tickSeconds), saveSeconds, PerSecond(count, saveSeconds), fileBytes,
              loadSeconds, PerSecond(loadedNodes, loadSeconds), freeSeconds);
  return 0;
}

BenchRegistration registration("tree", "N [STATEFILE]", RunTreeBench);

}  // namespace
