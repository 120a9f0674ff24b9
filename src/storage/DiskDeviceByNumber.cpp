// The catalogue-backed constructor lives apart from the rest of the disk device, so that a program
// (or test) that only opens disks by path does not need the disk catalogue linked in.
#include "platform/DiskCatalogue.h"
#include "storage/DiskDevice.h"

CDiskDevice::CDiskDevice(int diskNumber) : m_diskNumber(diskNumber), m_byNumber(true) {
  if (diskNumber >= 0 && diskNumber <= kMaxDiskNumber) {
    if (std::optional<platform::DiskEntry> entry = platform::DiskByNumber(diskNumber))
      m_path = entry->devicePath;
  }
  Open();
}
