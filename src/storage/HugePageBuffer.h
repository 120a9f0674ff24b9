#pragma once
// A large buffer that is not zeroed and lies on huge pages where the kernel grants them. The scan's
// buffers (a block, the look-back ring) are tens of megabytes touched block by block: on 4 KiB pages
// their first use costs one page fault per 4 KiB, which on a fresh scan can outweigh the scan itself.

#include <cstddef>
#include <cstdint>

namespace corvale {

class HugePageBuffer {
 public:
  HugePageBuffer() = default;
  explicit HugePageBuffer(size_t bytes) { Reset(bytes); }
  ~HugePageBuffer() { Reset(0); }
  HugePageBuffer(const HugePageBuffer&) = delete;
  HugePageBuffer& operator=(const HugePageBuffer&) = delete;

  // Frees the buffer and, for a non-zero size, allocates one of `bytes` bytes (contents undefined).
  // Out of memory takes the program's out-of-memory path.
  void Reset(size_t bytes);
  uint8_t* data() { return m_data; }
  const uint8_t* data() const { return m_data; }
  size_t size() const { return m_size; }

 private:
  uint8_t* m_data = nullptr;
  size_t m_size = 0;
};

}  // namespace corvale
