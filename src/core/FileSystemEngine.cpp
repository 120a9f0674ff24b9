#include "core/FileSystemEngine.h"

#include <algorithm>
#include <mutex>

namespace {

// The detector's order of the engines.
constexpr int32_t kDetectionOrder[] = {kEngineNtfs, kEngineFat, kEngineExt2};

struct EngineTable {
  std::mutex mutex;
  std::vector<FileSystemEngine> engines;
};

EngineTable& Table() {
  static EngineTable table;
  return table;
}

int DetectionRank(int32_t kind) {
  for (size_t i = 0; i < std::size(kDetectionOrder); ++i)
    if (kDetectionOrder[i] == kind) return static_cast<int>(i);
  return -1;
}

}  // namespace

bool FileSystemEngine::Recognises(IStorageDevice& device, int64_t startSector) const {
  if (!analyseVolume || startSector < 0) return false;
  std::unique_ptr<IVolume> volume = analyseVolume(device, static_cast<uint64_t>(startSector));
  return volume != nullptr && volume->GetFileSystemType() != PARTITION_RECORD::kFileSystemNotRecognised;
}

bool RegisterFileSystemEngine(FileSystemEngine engine) {
  if (DetectionRank(engine.kind) < 0) return false;
  EngineTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto same = std::find_if(table.engines.begin(), table.engines.end(),
                           [&](const FileSystemEngine& e) { return e.kind == engine.kind; });
  if (same != table.engines.end())
    *same = std::move(engine);
  else
    table.engines.push_back(std::move(engine));
  std::sort(table.engines.begin(), table.engines.end(),
            [](const FileSystemEngine& a, const FileSystemEngine& b) {
              return DetectionRank(a.kind) < DetectionRank(b.kind);
            });
  return true;
}

std::vector<FileSystemEngine> FileSystemEngines() {
  EngineTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  return table.engines;
}

std::optional<FileSystemEngine> FileSystemEngineOfKind(int32_t kind) {
  EngineTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const FileSystemEngine& e : table.engines)
    if (e.kind == kind) return e;
  return std::nullopt;
}

void CFileSystemDetector::CreateDetector(IStorageDevice* device, uint64_t startSector) {
  m_analysers.clear();
  if (device == nullptr) return;
  for (const FileSystemEngine& engine : FileSystemEngines())
    if (engine.analyseVolume)
      if (std::unique_ptr<IVolume> volume = engine.analyseVolume(*device, startSector))
        m_analysers.push_back(std::move(volume));
}

const IVolume* CFileSystemDetector::GetFileSystem() const {
  for (const auto& analyser : m_analysers)
    if (analyser->GetFileSystemType() != PARTITION_RECORD::kFileSystemNotRecognised) return analyser.get();
  return m_analysers.empty() ? nullptr : m_analysers.back().get();
}

DetectedFileSystem DetectFileSystem(IStorageDevice& device, uint64_t startSector) {
  CFileSystemDetector detector;
  detector.CreateDetector(&device, startSector);
  DetectedFileSystem found;
  const IVolume* volume = detector.GetFileSystem();
  if (volume == nullptr || volume->GetFileSystemType() == PARTITION_RECORD::kFileSystemNotRecognised)
    return found;
  found.type = volume->GetFileSystemType();
  found.sectorCount = volume->GetSectorCount();
  found.label = volume->GetLabel().substr(0, IVolume::kMaxLabelBytes);
  return found;
}

CPartitionTableAnalyze MakePartitionTableAnalyze() { return CPartitionTableAnalyze(&DetectFileSystem); }
