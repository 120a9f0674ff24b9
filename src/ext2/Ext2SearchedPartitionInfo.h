#pragma once
// An Ext2/Ext3 partition the whole-device search found from a superblock copy (the primary or a
// backup) and the group descriptor table that follows it: where the copy was seen, where the
// partition it implies starts, how many sightings agree, and the descriptors gathered so far.
//
// The Ext2 values are in 512-byte sectors, as everything the Ext2 engine counts.
//
// Saved form (little-endian), after the base's 73 bytes: descriptor-table sector 8, primary-valid
// flag 4. The superblock copy and the descriptor table are not saved: a directory build over a
// restored record reads them again (ReloadFromDisk). Saved under kind 2.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/SearchedPartitionInfo.h"
#include "ext2/Superblock.h"

class IStorageDevice;

class CExt2SearchedPartitionInfo : public CSearchedPartitionInfo, public CExt2SuperBlock {
 public:
  static constexpr size_t kOwnSavedSize = 12;
  static constexpr size_t kSavedSize = CSearchedPartitionInfo::kSavedSize + kOwnSavedSize;

  explicit CExt2SearchedPartitionInfo(uint32_t sectorSize);
  // A first sighting: the 1024 superblock bytes read at 512-byte sector `foundSector`.
  CExt2SearchedPartitionInfo(const void* superBlock, int64_t foundSector, uint32_t sectorSize);

  int32_t GetInfoType() const override { return kPartitionInfoExt2; }
  bool Save(IRSData& writer) const override;
  // Reads what Save wrote. Beyond the base's rules: a flag other than 0 or 1, a table sector below
  // -1 or a partition start below 0 is bad data; on any error the object is left as it was.
  bool Load(IRSData& reader) override;

  // The stored superblock copy, normalised (the copy itself stays as read).
  const CExt2SuperBlock& GetNormalisedSuperBlock() const { return m_normalised; }
  uint32_t GetGroupCount() const { return m_normalised.GetGroupCount(); }

  // All the group count's descriptors are gathered.
  bool IsComplete() const;
  // The sector belongs to the descriptor table: it lies at or after the block that follows the
  // block holding the superblock copy.
  bool WantsDescriptorSector(int64_t sector) const;
  // Takes up to 16 descriptors from the first 512 bytes of `window`, read at `sector`.
  void AddDescriptorSector(const uint8_t* window, int64_t sector);
  // The normalised superblock is valid and every gathered descriptor passes the group test.
  bool HasValidDescriptors() const;
  // The same file system seen again: both have tables, the same partition start when either copy
  // is a backup, equal superblocks and equal descriptors.
  bool IsSamePartition(const CExt2SearchedPartitionInfo& other) const;
  // Takes over a lower sighting's start, when this record is from the primary copy.
  void MergeLowerCopy(const CExt2SearchedPartitionInfo& other);
  // Reads the superblock copy at the found sector and the descriptor table again (a record restored
  // from a state file has neither); false when they no longer read back sound.
  bool ReloadFromDisk(IStorageDevice* device512);
  // Sets the score from the copies seen, the copy's validity and whether it is the primary.
  void Score();
  // A file system longer than the device it was found on (an image cut short) is offered as the part
  // the device holds, so that the layout can choose it; its blocks past the end are unreadable.
  void LimitToDevice(int64_t deviceSectors);

  uint32_t GetCopies() const { return m_copies; }
  void SetCopies(uint32_t copies) { m_copies = copies; }
  uint32_t GetDescriptorsGathered() const { return m_descriptorsGathered; }
  int64_t GetDescriptorTableSector() const { return m_descriptorTableSector; }
  int64_t GetLowestSector() const { return m_lowestSector; }
  bool IsPrimaryValid() const { return m_primaryValid; }
  bool HasDescriptorTable() const { return !m_table.empty(); }
  const std::vector<uint8_t>& GetDescriptorTable() const { return m_table; }

 private:
  // Type, sectors per cluster and size from the normalised superblock.
  void SetGeometry();
  // The stored copy passes the validity test as read.
  bool IsRawValid() const;

  CExt2SuperBlock m_normalised;
  uint32_t m_copies = 0;
  uint32_t m_descriptorsGathered = 0;
  int64_t m_descriptorTableSector = -1;
  int64_t m_lowestSector = 0;
  bool m_primaryValid = false;
  std::vector<uint8_t> m_table;
};

// Registers the Ext2 kind (2) with the recovery core, so that saved partition lists holding Ext2
// partitions can be restored.
bool RegisterExt2SearchedPartitionInfo();
