#pragma once
// The file-system engines as the rest of the program sees them: one entry per engine, registered by
// the engine itself while the program starts (beside its properties and partition-record
// factories), so that the core, the user interface, the benchmarks and the tests reach every engine
// through this one table and never include an engine header.
//
// An entry says: does a volume of mine start here (with its type, size and label), build its tree,
// make my search controller for the whole-device scan, make my tester for the lost-partition search.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/IVolume.h"
#include "storage/PartitionTableAnalyze.h"

class IStorageDevice;
class IDIRBuildCallback;
class CFileSystemNode;
class IFileSystemSearchController;
class IPartitionFileSystemSearchController;

// Engine kinds, numbered as the search controllers are.
constexpr int32_t kEngineNtfs = 0;
constexpr int32_t kEngineFat = 1;
constexpr int32_t kEngineExt2 = 3;

struct FileSystemEngine {
  int32_t kind = -1;  // kEngineNtfs, kEngineFat or kEngineExt2
  std::string name;   // "NTFS", "FAT", "Ext2"
  // The engine's volume analyser over the volume starting at `startSector` (device sectors); it
  // answers type 7 when the volume is not this engine's.
  std::function<std::unique_ptr<IVolume>(IStorageDevice& device, uint64_t startSector)> analyseVolume;
  // The directory tree of that volume (live and deleted files), or null.
  std::function<CFileSystemNode*(IStorageDevice& device, int64_t startSector, IDIRBuildCallback* callback)>
      buildTree;
  // A new search controller for the whole-device scan, or null.
  std::function<IFileSystemSearchController*()> makeSearchController;
  // A new tester of partition starts for the lost-partition search, or null.
  std::function<IPartitionFileSystemSearchController*()> makePartitionTester;
  // What the user must be told about the volume at `startSector` before looking at its tree: the
  // id of a text saying which of its files the engine cannot read, or 0. May be left empty.
  std::function<uint32_t(IStorageDevice& device, int64_t startSector)> volumeNotice;

  // True when a volume of this engine starts at `startSector`.
  bool Recognises(IStorageDevice& device, int64_t startSector) const;
};

// Adds the engine, or replaces the entry of the same kind (registering twice does no harm). False
// when the kind is not one of the three.
bool RegisterFileSystemEngine(FileSystemEngine engine);

// The registered engines in the order of the file-system detector: NTFS, FAT, Ext2 (whatever order
// they registered in). Missing engines are left out.
std::vector<FileSystemEngine> FileSystemEngines();
// The registered engine of `kind`, or nothing.
std::optional<FileSystemEngine> FileSystemEngineOfKind(int32_t kind);

// The file-system detector: each registered engine's analyser is asked in the order NTFS, FAT, Ext2.
class CFileSystemDetector {
 public:
  // Builds the analysers over the volume that starts at `startSector` of `device`.
  void CreateDetector(IStorageDevice* device, uint64_t startSector);
  // The first analyser that recognised its file system, or else the last one (type 7); null when
  // no engine is registered.
  const IVolume* GetFileSystem() const;

 private:
  std::vector<std::unique_ptr<IVolume>> m_analysers;
};

// What the detector finds at `startSector`: type 7, size 0 and no label when nothing fits.
DetectedFileSystem DetectFileSystem(IStorageDevice& device, uint64_t startSector);

// The partition-table reader that detects file systems through the registered engines.
CPartitionTableAnalyze MakePartitionTableAnalyze();
