#include "ntfs/NtfsEngine.h"

#include "core/FileProperties.h"
#include "ntfs/NTFSFileProperties.h"

namespace {

IFileProperties* MakeNTFSFileProperties() { return CreateNTFSFileProperties(); }

}  // namespace

bool RegisterNTFSEngine() { return RegisterFilePropertiesFactory(kPropertiesNtfs, &MakeNTFSFileProperties); }

namespace {

// Runs while the program starts, in every program that links the engine.
[[maybe_unused]] const bool kRegistered = RegisterNTFSEngine();

}  // namespace
