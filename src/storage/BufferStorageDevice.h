#pragma once
// A copy of the most recent blocks a sequential scan has read, so that the carver can look back into
// them without reading the disk again. Sectors the ring does not hold are read from the underlying
// device, which the ring does not own.
//
// The ring fills block by block until it holds `blockCount` blocks, then slides forward one block per
// push, dropping its oldest block. It is never emptied again, except by a sector-addressed push that
// does not follow on from the sectors held (see PushBlock(firstSector, block)).

#include <cstdint>
#include <vector>

#include "storage/HugePageBuffer.h"
#include "storage/IStorageDevice.h"

class CBufferStorageDevice : public IStorageDevice {
 public:
  CBufferStorageDevice() = default;

  // Sets the ring up over `underlying` with its window starting at `windowStart`; the ring holds
  // sectorsPerBlock x blockCount sectors and starts empty. A ring with no room (a zero block length
  // or block count) or one too large to address is refused and the device stays uninitialised.
  bool Init(IStorageDevice* underlying, uint64_t windowStart, int32_t sectorSize, uint32_t sectorsPerBlock,
            uint32_t blockCount);
  bool IsFull() const { return m_initialised && m_buffered == m_capacity; }

  // Copies one block (sectors per block x sector size bytes) in after the sectors held. The window
  // position is implied by the count of pushes: the caller must push every block in order.
  void PushBlock(const void* block);
  // The same with the block's device address. A block that does not start right after the sectors
  // held (a skipped block, a jump of the scan) empties the ring first and starts the window at
  // `firstSector`, so the ring never answers for sectors it does not hold.
  void PushBlock(uint64_t firstSector, const void* block);

  // The same push for a caller that reads the block straight into the ring, saving the copy:
  // BeginBlock gives the storage the block will occupy (sectors per block x sector size bytes), and
  // CommitBlock(firstSector) then makes it part of the ring, with the same outcome as
  // PushBlock(firstSector, ·). The block that storage held (the oldest, when the ring is full) leaves
  // the ring at BeginBlock, so a block that is begun but never committed (its read failed) is never
  // answered for. Null when the ring is not initialised.
  uint8_t* BeginBlock(uint64_t firstSector);
  void CommitBlock(uint64_t firstSector);

  // Served from memory when the ring holds the whole range; any other read is passed unchanged to
  // the underlying device (false when there is none).
  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  // The number of sectors held, not the size of the underlying device.
  int64_t GetSectorCount() override { return static_cast<int64_t>(m_buffered); }
  int32_t GetSectorSize() override { return m_sectorSize > 0 ? m_sectorSize : 512; }
  bool Open() override { return true; }
  bool Close() override { return true; }

  // Device sector of the oldest sector held.
  uint64_t GetStartSector() const { return m_windowStart; }

 private:
  uint8_t* RingSector(uint64_t index) { return m_ring.data() + index * m_sectorBytes; }
  // True when a block at `firstSector` follows on from the sectors held.
  bool FollowsOn(uint64_t firstSector) const {
    // Compared in subtraction form: a window near the top of the sector range must not wrap round
    // and seem to follow on.
    return m_buffered > 0 && firstSector >= m_windowStart && firstSector - m_windowStart == m_buffered;
  }

  corvale::HugePageBuffer m_ring;
  uint64_t m_windowStart = 0;
  uint64_t m_buffered = 0;
  uint32_t m_writePosition = 0;
  uint32_t m_sectorsPerBlock = 0;
  uint32_t m_blockCount = 0;
  uint32_t m_capacity = 0;
  bool m_initialised = false;
  bool m_begun = false;  // a block was begun and not yet committed
  IStorageDevice* m_underlying = nullptr;
  // Bytes of one sector as the ring stores it (the reported sector size).
  uint64_t m_sectorBytes = 0;
};
