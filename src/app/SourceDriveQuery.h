#pragma once
// The program's answer to "does this target lie on the source?" (CFileRecoverer::IsPathOnSourceDrive):
// the file systems that live on the disks and image files the recovery's source device reads
// (platform/SourceDisk.h), found through the views over them (partition windows, dynamic volumes).
// When the source is not known or cannot be examined, every mounted file system counts as on it, so
// that the user is warned rather than left to write where it could overwrite what is being recovered.

#include <cstdint>
#include <vector>

class IStorageDevice;

// The device numbers the question compares a target with, for the source `device` (null: none).
std::vector<uint64_t> SourceDriveDeviceNumbers(IStorageDevice* device);

// Installs the question for the source of the recovery context (SourceRootDevice), and for a
// given source device (CFileRecoverer::IsPathOnDevice).
void InstallSourceDriveQuery();
