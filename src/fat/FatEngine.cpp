#include "fat/FatEngine.h"

#include "fat/FATFileProperties.h"
#include "fat/FATSearchedPartitionInfo.h"
#include "fat/FatFileSystemEngine.h"

bool RegisterFATEngine() {
  RegisterFATFileProperties();
  const bool partitions = RegisterFATSearchedPartitionInfo();
  const bool engine = RegisterFATFileSystemEngine();
  return partitions && engine;
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterFATEngine();

}  // namespace
