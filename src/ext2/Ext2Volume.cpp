#include "ext2/Ext2Volume.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "ext2/Ext2FileSystem.h"
#include "ext2/GcAlloc.h"
#include "storage/CheckedMath.h"
#include "storage/IStorageDevice.h"

CExt2Volume::CExt2Volume(IStorageDevice* device, int64_t partitionStart) {
  if (device == nullptr || partitionStart < 0) return;
  const int32_t sectorSize = device->GetSectorSize();
  if (sectorSize < 512 || sectorSize % 512 != 0) return;
  const uint64_t factor = static_cast<uint64_t>(sectorSize) / 512;
  auto start = corvale::checkedMul(static_cast<uint64_t>(partitionStart), factor);
  if (!start || *start > static_cast<uint64_t>(INT64_MAX) - 2) return;
  // Device enumeration runs on threads of its own; the descriptor search allocates from the collector.
  corvale::ext2gc::Ext2GcThreadScope gcThread;
  try {
    CExt2FileSystem fs(device->GetDeviceWith512ByteSectors(), static_cast<int64_t>(*start) + 2);
    m_label = fs.GetVolumeName();
    m_sectors = fs.GetSize() / 512 / factor;
    m_type = fs.GetFileSystemType();
  } catch (const std::exception&) {
    m_type = kFileSystemUnknown;
    m_label.clear();
    m_sectors = 0;
  }
}

void CExt2Volume::CopyLabel(char* buffer, int32_t length) const {
  if (buffer == nullptr || length < 1) return;
  size_t n = std::min<size_t>(m_label.size() + 1, static_cast<size_t>(length));
  std::memcpy(buffer, m_label.c_str(), n);
  buffer[length - 1] = '\0';
}
