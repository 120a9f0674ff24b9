#include "ntfs/NtfsEngine.h"

#include "core/FileProperties.h"
#include "ntfs/NTFSFileProperties.h"
#include "ntfs/NtfsFileSystemEngine.h"
#include "ntfs/SearchedNTFSPartitionInfo.h"

namespace {

IFileProperties* MakeNTFSFileProperties() { return CreateNTFSFileProperties(); }

}  // namespace

bool RegisterNTFSEngine() {
  const bool properties = RegisterFilePropertiesFactory(kPropertiesNtfs, &MakeNTFSFileProperties);
  const bool partitions = RegisterSearchedNTFSPartitionInfo();
  const bool engine = RegisterNTFSFileSystemEngine();
  return properties && partitions && engine;
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterNTFSEngine();

}  // namespace
