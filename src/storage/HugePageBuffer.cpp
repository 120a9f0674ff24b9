#include "storage/HugePageBuffer.h"

#include <sys/mman.h>

#include <cstdlib>

#include "platform/Allocation.h"

namespace corvale {

void HugePageBuffer::Reset(size_t bytes) {
  std::free(m_data);
  m_data = nullptr;
  m_size = 0;
  if (bytes == 0) return;
  constexpr size_t kHugePage = size_t{2} << 20;
  void* p;
  if (bytes >= kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    p = std::aligned_alloc(kHugePage, rounded);
    if (p) ::madvise(p, rounded, MADV_HUGEPAGE);
  } else {
    p = std::malloc(bytes);
  }
  if (!p) platform::ReportOutOfMemory(bytes);
  m_data = static_cast<uint8_t*>(p);
  m_size = bytes;
}

}  // namespace corvale
