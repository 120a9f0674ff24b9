#include "core/TargetSpace.h"

#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "storage/CheckedMath.h"

using namespace corvale;

namespace {

long StatfsType(int fd) {
  struct statfs st {};
  int rc;
  do {
    rc = ::fstatfs(fd, &st);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? static_cast<long>(st.f_type) : -1;
}

std::atomic<CTargetSpace::FileSystemTypeProbe> g_typeProbe{&StatfsType};

}  // namespace

void CTargetSpace::SetFileSystemTypeProbe(FileSystemTypeProbe probe) {
  g_typeProbe.store(probe != nullptr ? probe : &StatfsType);
}

bool CTargetSpace::KeepsHoles() {
  if (m_fd < 0) return true;
  if (!m_known) Look();
  return m_keepsHoles;
}

bool CTargetSpace::Look() {
  m_known = true;
  m_taken = 0;
  const long type = g_typeProbe.load()(m_fd);
  m_keepsHoles = type != kMsdosFileSystemType && type != kExfatFileSystemType;
  struct statvfs st {};
  int rc;
  do {
    rc = ::fstatvfs(m_fd, &st);
  } while (rc != 0 && errno == EINTR);
  // A file system that cannot say (or says it has no blocks at all, as some pseudo file systems
  // do) is not second-guessed: the writes themselves report a full disk.
  m_unlimited = rc != 0 || st.f_blocks == 0;
  if (m_unlimited) return true;
  const uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
  m_blockBytes = unit != 0 ? unit : 1;
  m_free = checkedMul(static_cast<uint64_t>(st.f_bavail), m_blockBytes).value_or(UINT64_MAX);
  return true;
}

uint64_t CTargetSpace::Blocks(uint64_t bytes) const {
  // Files take whole blocks.
  const uint64_t blocks = bytes / m_blockBytes + (bytes % m_blockBytes != 0 ? 1 : 0);
  return checkedMul(blocks, m_blockBytes).value_or(UINT64_MAX);
}

bool CTargetSpace::Fits(uint64_t bytes, bool take) {
  if (m_fd < 0) return true;
  bool fresh = false;
  if (!m_known || m_taken >= kRecheckBytes) fresh = Look();
  if (m_unlimited) return true;
  if (Blocks(bytes) > Free() && !fresh) {
    // Files removed meanwhile (a failed one of ours, or by the user) may have made room.
    Look();
    if (m_unlimited) return true;
  }
  const uint64_t need = Blocks(bytes);
  if (need > Free()) return false;
  if (take) m_taken += need;
  return true;
}

std::string CTargetSpace::Describe(const char* what, uint64_t needed) const {
  char text[512];
  std::snprintf(text, sizeof text,
                "Not enough free space on the target disk for %s: %" PRIu64 " bytes needed, %" PRIu64 " free",
                what != nullptr ? what : "", needed, Free());
  return text;
}
