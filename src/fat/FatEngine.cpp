#include "fat/FatEngine.h"

#include "fat/FATFileProperties.h"
#include "fat/FATSearchedPartitionInfo.h"

bool RegisterFATEngine() {
  RegisterFATFileProperties();
  return RegisterFATSearchedPartitionInfo();
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterFATEngine();

}  // namespace
