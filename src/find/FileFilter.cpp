#include "find/FileFilter.h"

#include "core/FileProperties.h"

namespace {

constexpr uint32_t kAttributeBits = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x400 | 0x800;
constexpr uint32_t kStateBits = 0x1 | 0x2 | 0x4;

}  // namespace

bool CFileAttributeFilter::Accept(const IFileProperties* properties) const {
  if (!properties || (properties->GetValidMask() & kValidAttributes) == 0) return false;
  if (m_mask == -1) return true;
  return (static_cast<uint32_t>(m_mask) & properties->GetAttributes() & kAttributeBits) != 0;
}

bool CFileStateFilter::Accept(const IFileProperties* properties) const {
  if (!properties || (properties->GetValidMask() & kValidState) == 0) return false;
  if (m_mask == -1) return true;
  return (static_cast<uint32_t>(m_mask) & properties->GetTypeWord() & kStateBits) != 0;
}
