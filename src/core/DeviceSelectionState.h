#pragma once
// The source device of a saved scan: the chosen partition or volume, or the chosen disk, kept so
// that restoring the scan finds the same device again among the devices of the later run.
//
// Chosen partition or volume section: the 1277-byte volume record; for a volume of a physical disk
// (kind 0) one 5400-byte disk fingerprint follows for each of its extents. Chosen disk section: the
// 548-byte disk record; for a physical disk (kind 0) one fingerprint of the disk follows. A record
// of an opened disk image (kind 1) is found again by its image path.
//
// A physical device is found again only when its fields, its extents and the fingerprints of its
// disks all equal the saved ones: a disk with the same size but other contents or another
// description is not taken for it, and a disk whose partitions were rewritten since still is.
//
// Loading reads the whole section before it looks for anything; a damaged section (cut short,
// bytes left over, a kind no writer produces, a record announcing more fingerprints than follow)
// ends in the stream's exception, logged as "RS Exception:%d" and rethrown, and leaves the caller's
// lists as they were.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/IRSData.h"
#include "core/SourceRecords.h"

class IStorageDevice;

// {94F5F416-4317-4567-AE44-15B3214ED998}
extern const RSGuid kChosenVolumeSection;
// {B072A676-0548-468B-BA9E-91093A63B517}
extern const RSGuid kChosenDiskSection;

// Opens the disk image at a saved path as a device, or null when it cannot be used.
using ImageDeviceOpener = std::function<std::shared_ptr<IStorageDevice>(const std::string& path)>;

class CDeviceSelectionState {
 public:
  explicit CDeviceSelectionState(IRSData& stream, ImageDeviceOpener openImage = nullptr);

  // Each returns true, or false when the section cannot be begun.
  bool SavePartitionDevice(const VolumeRecord& record);
  bool SaveDiskDevice(const DiskRecord& record);

  // The record of `current` that is the saved volume; for a saved image volume, the opened image
  // of that path, or one opened now and appended to `openedImages`. Null when the file has no such
  // section or nothing matches.
  VolumeRecord* LoadPartitionDevice(const std::vector<VolumeRecord*>& current,
                                    std::vector<std::shared_ptr<VolumeRecord>>& openedImages);
  DiskRecord* LoadDiskDevice(const std::vector<DiskRecord*>& current,
                             std::vector<std::shared_ptr<DiskRecord>>& openedImages);

 private:
  IRSData& m_stream;
  ImageDeviceOpener m_openImage;
};
