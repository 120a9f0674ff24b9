#pragma once
// A read-ahead cache in front of a device that is read once from start to end in large blocks (the
// whole-device search). A prefetch thread keeps reading the following blocks into a queue while the
// scan works on the current one; SetCurCacheBlock makes the next block current, and reads of sectors
// inside it are served from memory. Everything else goes to the inner device.
//
// Threads: the scan thread calls everything here; the prefetch thread only reads the inner device
// and fills the queue. The inner device must therefore allow two readers at once.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/HugePageBuffer.h"
#include "storage/IStorageDevice.h"

class CStorageDeviceWithCache : public IStorageDevice {
 public:
  // `inner` is not owned and must outlive this device.
  explicit CStorageDeviceWithCache(IStorageDevice* inner);
  ~CStorageDeviceWithCache() override;
  CStorageDeviceWithCache(const CStorageDeviceWithCache&) = delete;
  CStorageDeviceWithCache& operator=(const CStorageDeviceWithCache&) = delete;

  bool ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) override;
  int64_t GetSectorCount() override;
  int32_t GetSectorSize() override;
  bool Open() override { return m_inner != nullptr; }
  bool Close() override { return m_inner != nullptr; }

  // Block length in sectors (1000 until told otherwise). Forgets the current block and its buffer; a
  // running prefetch is stopped first, since its queued blocks have the old length.
  void SetCacheBlockSize(uint32_t sectors);
  uint32_t GetCacheBlockSize() const { return m_blockSize; }
  // True when block `index` holds at least one sector of the inner device.
  bool IsBlockInRange(uint32_t index);

  // Starts the prefetch thread, which reads ahead from `startSector` (where the scan begins; taken
  // down to its block's first sector, so that every queued block is a whole block of the scan).
  void StartCacheThread(uint64_t startSector = 0);
  // Stops the prefetch thread and frees every queued block. Safe to call when nothing runs.
  void StopCacheThread();
  // Makes block `index` current. False when the block is past the end, or when it could not be read
  // (then no block is current and reads go to the inner device, which reports its own result).
  bool SetCurCacheBlock(uint32_t index);

  // Blocks read ahead at most, besides the one being read.
  static constexpr int32_t kQueueLimit = 10;

 private:
  // Block buffers are moved between the queue, the pool and the cache by pointer, never copied.
  using Buffer = std::unique_ptr<corvale::HugePageBuffer>;
  struct Block {
    Buffer data;
    uint64_t first = 0;  // first sector
    uint64_t count = 0;  // sectors that hold data (short for the device's last block)
    bool ok = false;     // the inner read succeeded
  };

  size_t BlockBytes() const;
  static Buffer AllocateBuffer(size_t bytes);
  uint64_t InnerSectorCount();
  // A buffer of one block's bytes from the pool, or a new one. Caller holds m_mutex.
  Buffer TakeBuffer();
  // Reads the block that starts at the next prefetch sector and queues it; false once the end is
  // reached. Called by the prefetch thread with m_mutex held; releases it during the read.
  bool ReadAheadOne(std::unique_lock<std::mutex>& lock);
  void CacheThread();
  // Reads block `first` straight from the inner device into the cache buffer.
  bool LoadDirect(uint64_t first, uint64_t count);

  IStorageDevice* m_inner;
  uint32_t m_blockSize = 0;
  int32_t m_blockSectorSize = 0;  // sector size the buffers were sized for

  // The scan thread's own: the current block and its buffer.
  Buffer m_cache;
  int64_t m_curBlock = -1;
  uint64_t m_curFirst = 0;
  uint64_t m_curCount = 0;

  // Shared with the prefetch thread, under m_mutex.
  std::mutex m_mutex;
  std::condition_variable m_dataReady;  // a block was queued, or the producer finished
  std::condition_variable m_spaceFree;  // a block was taken, or stop was asked
  std::deque<Block> m_queue;
  std::vector<Buffer> m_pool;
  uint64_t m_nextSector = 0;
  uint64_t m_endSector = 0;
  bool m_running = false;
  bool m_producerDone = true;
  std::thread m_thread;
};
