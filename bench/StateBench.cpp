// corvale-bench state N [FOLDER]: saving and restoring a scan of N found files as the program keeps
// it, and packing the state file into a result bundle and unpacking it again. The scan has N files
// found by signature (the list of found files) and a result tree of the same N files in folders by
// type below one partition node, plus a handful of found partitions. Prints MB/s and files/s of the
// save and the load, MB/s of the export and the import, and a final JSON line. FOLDER (default: a
// new folder under /tmp) receives the state file and the bundle.

#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/Bench.h"
#include "core/FileNode.h"
#include "core/FileSystemTree.h"
#include "core/MyFileProperties.h"
#include "core/RSData.h"
#include "core/RSDataEx.h"
#include "core/SearchedPartitionInfo.h"
#include "core/StateBundle.h"
#include "core/StateSections.h"
#include "raw/RawFileInfoList.h"
#include "raw/RawFileListState.h"

namespace {

using Clock = std::chrono::steady_clock;
using TreePtr = std::unique_ptr<CFileNode, void (*)(CFileNode*)>;

CMyFileProperties* Properties(const std::string& name, uint64_t size, uint16_t attributes) {
  MyFileInfo info;
  info.name = name;
  info.size = size;
  info.attributes = attributes;
  info.validMask = 255;
  return new CMyFileProperties(info);
}

struct Scan {
  std::unique_ptr<CRawFileInfoList> found = std::make_unique<CRawFileInfoList>();
  SearchedPartitionInfoList partitions;
  TreePtr tree{nullptr, FreeFileTree};
};

// N files of 40 types, one folder per type, every file also in the list of found files.
void BuildScan(uint64_t count, Scan& scan) {
  constexpr int kTypes = 40;
  CFileSystemNode* root = CreateFileSystemNode();
  root->SetName("Raw Files");
  root->SetFileSystemType(6);
  root->SetPosition(0, 1);
  root->SetFileProperties(Properties("Raw Files", 0, kAttributeFolder));
  scan.tree.reset(root);
  CFileNode* folders[kTypes];
  for (int t = 0; t < kTypes; ++t) {
    folders[t] = root->AddChild(CreateFileNode());
    folders[t]->SetFileProperties(Properties("Type " + std::to_string(t), 0, kAttributeFolder));
  }
  char name[64];
  for (uint64_t i = 0; i < count; ++i) {
    const int type = static_cast<int>(i % kTypes);
    const uint64_t size = 4096 + (i * 7919) % (4u << 20);
    auto* file = new CRawFileInfo;
    file->SetStartSector(2048 + i * 64);
    file->SetFileSize(size);
    file->SetFileType(type + 1);
    file->SetAnalyserTypeId(type + 1);
    scan.found->Add(file);
    std::snprintf(name, sizeof name, "FILE%08" PRIu64 ".dat", i);
    folders[type]->AddChild(CreateFileNode())->SetFileProperties(Properties(name, size, 0x20));
  }
  for (int p = 0; p < 4; ++p) {
    auto info = CreateSearchedPartitionInfo(kPartitionInfoBase);
    info->SetFileSystemType(p);
    info->SetStartSector(2048 + p * 1000000);
    info->SetSectorCount(1000000);
    scan.partitions.push_back(std::move(info));
  }
}

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

int RunState(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: corvale-bench state N [FOLDER]\n");
    return 2;
  }
  const uint64_t count = std::strtoull(argv[0], nullptr, 10);
  std::string folder = argc >= 2 ? argv[1] : "";
  if (folder.empty()) {
    char pattern[] = "/tmp/corvale-state-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    folder = pattern;
  }
  folder += "/";
  std::filesystem::create_directories(folder + "import");
  const std::string statePath = folder + "cslast.rdf";
  const std::string bundlePath = folder + "scan.rsf";

  Scan scan;
  const auto buildStart = Clock::now();
  BuildScan(count, scan);
  const double buildSeconds = SecondsSince(buildStart);

  const auto saveStart = Clock::now();
  {
    CRSDataEx writer(RS_MODE_WRITE);
    if (!writer.Open(statePath, 1)) return 1;
    uint8_t header[corvale::kRSHeaderSize] = {};
    std::copy(corvale::kRSMarker.bytes.begin(), corvale::kRSMarker.bytes.end(), header);
    writer.WriteHeader(header);
    SaveRawFileList(writer, *scan.found);
    SaveSearchedPartitionInfoList(writer, scan.partitions);
    WriteFileSystemTree(static_cast<CFileSystemNode*>(scan.tree.get()), writer, nullptr);
    writer.SetStatus(1);
    writer.Close();
  }
  const double saveSeconds = SecondsSince(saveStart);
  const uint64_t stateBytes = FileSize(statePath);

  Scan back;
  const auto loadStart = Clock::now();
  {
    CRSDataEx reader(RS_MODE_READ);
    if (!reader.Open(statePath, 0) || !reader.IsValidFile()) return 1;
    back.found = LoadRawFileList(reader);
    LoadSearchedPartitionInfoList(reader, &back.partitions);
    back.tree.reset(ReadFileSystemTree(reader, nullptr));
    reader.Close();
  }
  const double loadSeconds = SecondsSince(loadStart);
  if (!back.found || back.found->GetCount() != count || !back.tree) {
    std::fprintf(stderr, "the state file did not load back whole\n");
    return 1;
  }

  const auto exportStart = Clock::now();
  CStateBundle out(true, folder);
  const bool exported = out.Save(bundlePath);
  const double exportSeconds = SecondsSince(exportStart);
  const uint64_t bundleBytes = FileSize(bundlePath);
  const auto importStart = Clock::now();
  CStateBundle in(false, folder + "import");
  const bool imported = exported && in.Load(bundlePath);
  const double importSeconds = SecondsSince(importStart);

  auto rate = [](double amount, double seconds) { return seconds > 0 ? amount / seconds : 0.0; };
  const double saveMBps = rate(stateBytes / 1e6, saveSeconds), loadMBps = rate(stateBytes / 1e6, loadSeconds);
  const double saveFps = rate(double(count), saveSeconds), loadFps = rate(double(count), loadSeconds);
  const double exportMBps = rate(bundleBytes / 1e6, exportSeconds),
               importMBps = rate(bundleBytes / 1e6, importSeconds);
  std::printf("scan of %" PRIu64 " found files (built in %.3f s), state file %s: %" PRIu64 " bytes\n", count,
              buildSeconds, statePath.c_str(), stateBytes);
  std::printf("  save   %10.1f MB/s %12.0f files/s  (%.3f s)\n", saveMBps, saveFps, saveSeconds);
  std::printf("  load   %10.1f MB/s %12.0f files/s  (%.3f s)\n", loadMBps, loadFps, loadSeconds);
  std::printf("  export %10.1f MB/s  (%.3f s)%s\n", exportMBps, exportSeconds, exported ? "" : "  FAILED");
  std::printf("  import %10.1f MB/s  (%.3f s)%s\n", importMBps, importSeconds, imported ? "" : "  FAILED");
  std::printf("{\"bench\":\"state\",\"files\":%" PRIu64 ",\"state_bytes\":%" PRIu64
              ",\"save_seconds\":%.6f,\"save_mbps\":%.1f,\"save_files_per_s\":%.0f"
              ",\"load_seconds\":%.6f,\"load_mbps\":%.1f,\"load_files_per_s\":%.0f"
              ",\"bundle_bytes\":%" PRIu64 ",\"export_mbps\":%.1f,\"import_mbps\":%.1f}\n",
              count, stateBytes, saveSeconds, saveMBps, saveFps, loadSeconds, loadMBps, loadFps, bundleBytes,
              exportMBps, importMBps);
  return exported && imported ? 0 : 1;
}

const BenchRegistration kState("state", "N [FOLDER]", RunState);

}  // namespace
