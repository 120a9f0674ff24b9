#pragma once
// What the recover and scan subcommands need of each file-system engine, registered by one file
// per engine (bench/*Engine*.cpp) with a static EngineRegistration, so that the subcommands work on
// every file system without naming any.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IStorageDevice;
class IDIRBuildCallback;
class CFileSystemNode;
class IFileSystemSearchController;

struct BenchEngine {
  std::string name;  // "NTFS", "FAT", "Ext2"
  // True when a volume of this file system starts at `startSector` of the device.
  std::function<bool(IStorageDevice& device, int64_t startSector)> recognises;
  // The directory tree of that volume (live and deleted files), or null.
  std::function<CFileSystemNode*(IStorageDevice& device, int64_t startSector, IDIRBuildCallback* callback)> buildTree;
  // A new search controller of this file system for the whole-device scan, or null when the engine
  // has none yet.
  std::function<IFileSystemSearchController*()> makeSearchController;
};

std::vector<BenchEngine>& BenchEngines();

struct EngineRegistration {
  explicit EngineRegistration(BenchEngine engine) { BenchEngines().push_back(std::move(engine)); }
};
