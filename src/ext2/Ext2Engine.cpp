#include "ext2/Ext2Engine.h"

#include "ext2/Ext2FileProperties.h"
#include "ext2/Ext2FileSystemEngine.h"
#include "ext2/Ext2SearchedPartitionInfo.h"

bool RegisterExt2Engine() {
  const bool properties = RegisterExt2FileProperties();
  const bool partitions = RegisterExt2SearchedPartitionInfo();
  const bool engine = RegisterExt2FileSystemEngine();
  return properties && partitions && engine;
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterExt2Engine();

}  // namespace
