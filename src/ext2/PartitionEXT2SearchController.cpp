#include "ext2/PartitionEXT2SearchController.h"

#include "core/LostPartitionRecord.h"
#include "core/LostPartitionSearcher.h"
#include "ext2/Ext2Volume.h"
#include "storage/IStorageDevice.h"

int CPartitionEXT2SearchController::TestSector(const void* /*sector*/, int64_t position,
                                               CLostPartitionRecord* out) {
  if (m_device == nullptr || out == nullptr || position < 0) return 0;
  const CExt2Volume volume(m_device, position);
  const int32_t type = volume.GetFileSystemType();
  if (type == CLostPartitionRecord::kFileSystemNotRecognised) return 0;
  const std::string label = volume.GetLabel();
  // The window covers the size as cut to the device.
  FillLostPartitionRecord(out, m_device, uint64_t(position), volume.GetSectorCount(), type, label.data(),
                          label.size(), 0);
  return 1;
}
