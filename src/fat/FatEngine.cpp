#include "fat/FatEngine.h"

#include "fat/FATFileProperties.h"

bool RegisterFATEngine() {
  RegisterFATFileProperties();
  return true;
}

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterFATEngine();

}  // namespace
