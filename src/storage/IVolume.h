#pragma once
// A file system recognised at a start sector of a device: its type code, its size and its label.
// Each engine's volume analyser implements it; the partition-table walk asks the analysers in turn
// what lies at a partition's start, without knowing any engine.

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/FileSystemCode.h"

class IVolume {
 public:
  // A label fits the 100-byte label field of the partition and volume records, NUL included.
  static constexpr size_t kMaxLabelBytes = 99;

  virtual ~IVolume() = default;
  // A FileSystemCode: FAT12 to EXT3, or kFileSystemUnknown when nothing was recognised.
  virtual int32_t GetFileSystemType() const = 0;
  // The file system's own size in device sectors; 0 when nothing was recognised.
  virtual uint64_t GetSectorCount() const = 0;
  // The volume label, at most kMaxLabelBytes bytes; empty when there is none.
  virtual std::string GetLabel() const = 0;
};
