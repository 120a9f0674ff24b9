#include "ext2/Ext2Engine.h"

#include "ext2/Ext2FileProperties.h"

bool RegisterExt2Engine() { return RegisterExt2FileProperties(); }

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterExt2Engine();

}  // namespace
