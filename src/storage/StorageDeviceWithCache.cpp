#include "storage/StorageDeviceWithCache.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/Log.h"

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* inner) : m_inner(inner) {
  SetCacheBlockSize(1000);
}

// The prefetch thread reads the inner device and this object's queue: it must be gone before either.
CStorageDeviceWithCache::~CStorageDeviceWithCache() { StopCacheThread(); }

int64_t CStorageDeviceWithCache::GetSectorCount() { return m_inner ? m_inner->GetSectorCount() : 0; }

int32_t CStorageDeviceWithCache::GetSectorSize() { return m_inner ? m_inner->GetSectorSize() : 512; }

uint64_t CStorageDeviceWithCache::InnerSectorCount() {
  int64_t n = GetSectorCount();
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

size_t CStorageDeviceWithCache::BlockBytes() const {
  return m_blockSectorSize > 0 ? static_cast<size_t>(m_blockSize) * static_cast<size_t>(m_blockSectorSize)
                               : 0;
}

CStorageDeviceWithCache::Buffer CStorageDeviceWithCache::AllocateBuffer(size_t bytes) {
  // Block buffers are large and touched once per block by the kernel's copy and the scan's: on huge
  // pages they fault in two steps instead of a thousand, which is most of what a fresh scan's first
  // blocks would otherwise cost.
  return std::make_unique<corvale::HugePageBuffer>(bytes);
}

void CStorageDeviceWithCache::SetCacheBlockSize(uint32_t sectors) {
  StopCacheThread();
  m_blockSize = sectors;
  m_blockSectorSize = GetSectorSize();
  // The cache buffer is made when first needed: usually the first queued block becomes it.
  m_cache.reset();
  m_curBlock = -1;
  m_curFirst = 0;
  m_curCount = 0;
}

bool CStorageDeviceWithCache::IsBlockInRange(uint32_t index) {
  // index < ceil(count / block size), without the rounding.
  return m_blockSize != 0 && static_cast<uint64_t>(index) * m_blockSize < InnerSectorCount();
}

CStorageDeviceWithCache::Buffer CStorageDeviceWithCache::TakeBuffer() {
  if (!m_pool.empty()) {
    Buffer b = std::move(m_pool.back());
    m_pool.pop_back();
    return b;
  }
  // Not zeroed: a block is served only after its read succeeded, and then only its valid sectors.
  return AllocateBuffer(BlockBytes());
}

bool CStorageDeviceWithCache::ReadAheadOne(std::unique_lock<std::mutex>& lock) {
  // Nothing is read past the device end: the last block is cut to what is left, and production ends
  // there.
  if (m_nextSector >= m_endSector) return false;
  const uint64_t first = m_nextSector;
  const uint64_t count = std::min<uint64_t>(m_blockSize, m_endSector - first);
  Buffer data = TakeBuffer();

  lock.unlock();
  auto start = std::chrono::steady_clock::now();
  bool ok = m_inner->ReadSectors(data->data(), first, count);
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  OutputDebugText("Read %d sector time = %.3f ms", static_cast<int>(count), ms);
  lock.lock();

  m_queue.push_back(Block{std::move(data), first, count, ok});
  m_nextSector = first + count;
  const bool full = m_queue.size() > static_cast<size_t>(kQueueLimit);
  m_dataReady.notify_all();
  if (full) OutputDebugText("cache have been filled and wait for");
  return true;
}

void CStorageDeviceWithCache::CacheThread() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (m_running) {
    // One block more than the limit may be queued: the producer stops once the queue exceeds it.
    m_spaceFree.wait(lock,
                     [this] { return !m_running || m_queue.size() <= static_cast<size_t>(kQueueLimit); });
    if (!m_running) break;
    if (!ReadAheadOne(lock)) break;
  }
  // A consumer waiting for a block that will never come must wake and read it itself.
  m_producerDone = true;
  m_dataReady.notify_all();
}

void CStorageDeviceWithCache::StartCacheThread(uint64_t startSector) {
  StopCacheThread();
  if (!m_inner || m_blockSize == 0) return;
  if (GetSectorSize() != m_blockSectorSize) SetCacheBlockSize(m_blockSize);
  if (BlockBytes() == 0) return;

  const uint64_t total = InnerSectorCount();
  uint64_t start = startSector - startSector % m_blockSize;
  if (start > total) start = total;

  std::unique_lock<std::mutex> lock(m_mutex);
  m_nextSector = start;
  m_endSector = total;
  m_running = true;
  m_producerDone = start >= total;
  if (m_producerDone) return;
  lock.unlock();
  // The first blocks are read by the thread too: the scan takes each as soon as it is in, and a scan
  // that keeps up never makes the queue (and its memory) grow to the limit.
  try {
    m_thread = std::thread(&CStorageDeviceWithCache::CacheThread, this);
  } catch (const std::system_error&) {
    // Without the thread every block is read when the scan asks for it.
    lock.lock();
    m_producerDone = true;
  }
}

void CStorageDeviceWithCache::StopCacheThread() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
  }
  m_spaceFree.notify_all();
  m_dataReady.notify_all();
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_queue.clear();
  m_pool.clear();
  m_producerDone = true;
}

bool CStorageDeviceWithCache::LoadDirect(uint64_t first, uint64_t count) {
  if (!m_cache) m_cache = AllocateBuffer(BlockBytes());
  return m_inner->ReadSectors(m_cache->data(), first, count);
}

bool CStorageDeviceWithCache::SetCurCacheBlock(uint32_t index) {
  if (!m_inner || !IsBlockInRange(index)) return false;
  if (GetSectorSize() != m_blockSectorSize) SetCacheBlockSize(m_blockSize);
  if (BlockBytes() == 0) return false;

  const uint64_t first = static_cast<uint64_t>(index) * m_blockSize;
  const uint64_t count = std::min<uint64_t>(m_blockSize, InnerSectorCount() - first);
  if (m_curBlock == static_cast<int64_t>(index)) return true;
  m_curBlock = -1;

  // Take the queued block that starts at `first`. Blocks before it were skipped by the scan and are
  // dropped; a block that is not queued and will not be (before the start, already dropped, or the
  // producer ended) is read here instead, so the scan never waits for nothing.
  bool taken = false;
  bool ok = false;
  uint64_t valid = count;
  bool emptied = false;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_dataReady.wait(lock, [this] { return !m_queue.empty() || m_producerDone || !m_running; });
      while (!m_queue.empty() && m_queue.front().first < first) {
        m_pool.push_back(std::move(m_queue.front().data));
        m_queue.pop_front();
        m_spaceFree.notify_all();
      }
      if (!m_queue.empty() || m_producerDone || !m_running || m_nextSector > first) break;
    }
    if (!m_queue.empty() && m_queue.front().first == first) {
      Block& front = m_queue.front();
      // The queued buffer becomes the cache buffer; the old one goes back to the pool.
      std::swap(m_cache, front.data);
      if (front.data) m_pool.push_back(std::move(front.data));
      ok = front.ok;
      valid = std::min(valid, front.count);
      m_queue.pop_front();
      m_spaceFree.notify_all();
      taken = true;
      emptied = m_queue.empty();
    }
  }
  OutputDebugText("------wait for is over -----------------");
  if (taken) {
    OutputDebugText("------set event to read data to buffer-----------------");
    if (emptied) OutputDebugText("------set event to wait-----------------");
  } else {
    ok = LoadDirect(first, count);
  }
  // A block whose read failed is not served: its sectors go to the inner device, which answers for
  // them as it would without the cache.
  if (!ok) return false;
  m_curBlock = index;
  m_curFirst = first;
  m_curCount = valid;
  return true;
}

bool CStorageDeviceWithCache::ReadSectors(void* buffer, uint64_t firstSector, uint64_t count) {
  if (!m_inner) return false;
  if (m_curBlock < 0) return m_inner->ReadSectors(buffer, firstSector, count);

  uint8_t* out = static_cast<uint8_t*>(buffer);
  const size_t sectorSize = static_cast<size_t>(m_blockSectorSize);
  const uint64_t blockFirst = m_curFirst;
  // Only the sectors the block really holds are served from it; past the device end the inner
  // device answers.
  const uint64_t blockEnd = m_curFirst + m_curCount;
  uint64_t done = 0;
  bool result = true;

  if (firstSector < blockFirst) {
    // A request that starts before the block goes to the inner device up to the block, and its
    // remainder below too.
    done = std::min(count, blockFirst - firstSector);
    result = m_inner->ReadSectors(out, firstSector, done);
    if (done == count) return result;
  } else if (firstSector < blockEnd) {
    done = std::min(count, blockEnd - firstSector);
    std::memcpy(out, m_cache->data() + (firstSector - blockFirst) * sectorSize, done * sectorSize);
    if (done == count) return result;
  }
  bool rest = m_inner->ReadSectors(out + done * sectorSize, firstSector + done, count - done);
  return result && rest;
}
